// Batched matrix copy and transpose. The build options pick the element
// type (SINGLE, _DOUBLE, COMPLEX, COMPLEX16), the placement (OUT_OF_PLACE),
// the batching (BATCHED, BATCHED_STRIDED) and the operation (TRANSPOSE,
// NONTRANSPOSE, CONJ_TRANSPOSE, CONJ_NONTRANSPOSE); the kernel name follows
// from them: ovx_dft_<s|d|c|z><o|i><matcopy...>_<t|n|c|r>.
// Work-groups of 16 x 16 copy one 16 x 16 tile through local memory, so that
// reads and writes both run along rows; global id 2 is the matrix of the
// group's batch slice. b = alpha * op(a): element (x, y) of a is
// a[offseta + mat * stridea + x + y * lda]; transposed, it goes to
// b[offsetb + mat * strideb + y + x * ldb].
#if defined(COMPLEX16) || defined(_DOUBLE)
#pragma OPENCL EXTENSION cl_khr_fp64 : enable
typedef double real_t;
#else
typedef float real_t;
#endif
#if defined(COMPLEX16)
typedef double2 elem_t;
#elif defined(COMPLEX)
typedef float2 elem_t;
#endif
#if defined(COMPLEX) || defined(COMPLEX16)
#define BT_SCALE(v, ar, ai) ((elem_t)((ar) * (v).x - (ai) * (v).y, (ar) * (v).y + (ai) * (v).x))
#define BT_CONJ(v) ((elem_t)((v).x, -(v).y))
#else
typedef real_t elem_t;
#define BT_SCALE(v, ar, ai) ((ar) * (v))
#define BT_CONJ(v) (v)
#endif

#if defined(COMPLEX16)
#define BT_P z
#elif defined(COMPLEX)
#define BT_P c
#elif defined(_DOUBLE)
#define BT_P d
#else
#define BT_P s
#endif
#if defined(OUT_OF_PLACE)
#define BT_L o
#else
#define BT_L i
#endif
#if defined(BATCHED_STRIDED)
#define BT_N matcopy_batch_strided_kernel_
#elif defined(BATCHED)
#define BT_N matcopy_batch_kernel_
#else
#define BT_N matcopy_kernel_
#endif
#if defined(TRANSPOSE)
#define BT_S t
#define BT_T 1
#define BT_C 0
#elif defined(CONJ_TRANSPOSE)
#define BT_S c
#define BT_T 1
#define BT_C 1
#elif defined(CONJ_NONTRANSPOSE)
#define BT_S r
#define BT_T 0
#define BT_C 1
#else
#define BT_S n
#define BT_T 0
#define BT_C 0
#endif
#define BT_CAT5(a, b, c, d, e) a##b##c##d##e
#define BT_NAME(a, b, c, d, e) BT_CAT5(a, b, c, d, e)

__attribute__((reqd_work_group_size(16, 16, 1)))
__kernel void BT_NAME(ovx_dft_, BT_P, BT_L, BT_N, BT_S)(
    long m, long n, real_t alpha_r, real_t alpha_i, __global const elem_t* a, long offseta, long lda, long stridea,
    __global elem_t* b, long offsetb, long ldb, long strideb, long kernel_batchsize, long total_batchsize,
    long offset_batch)
{
    __local elem_t tile[16][17];
    const int lx = (int)get_local_id(0), ly = (int)get_local_id(1);
    const long gx = (long)get_group_id(0) * 16, gy = (long)get_group_id(1) * 16;
    const long first = offset_batch + (long)get_group_id(2) * kernel_batchsize;
    /* One matrix per group and a tile wholly inside it (every group of the
       usual launch but those on the edges): no bounds tests, one barrier and
       no loop. The test is uniform over the group. Loops around a barrier
       and tests around the accesses cost more than the copy itself where the
       work-items of a group run as loops of one thread. */
    if (kernel_batchsize == 1 && first < total_batchsize && gx + 16 <= m && gy + 16 <= n) {
        __global const elem_t* src = a + offseta + first * stridea + gx + gy * lda;
        elem_t v = BT_SCALE(src[lx + ly * lda], alpha_r, alpha_i);
#if BT_C
        v = BT_CONJ(v);
#endif
#if BT_T
        __global elem_t* dst = b + offsetb + first * strideb + gy + gx * ldb;
        tile[ly][lx] = v;
        barrier(CLK_LOCAL_MEM_FENCE);
        dst[lx + ly * ldb] = tile[lx][ly];
#else
        __global elem_t* dst = b + offsetb + first * strideb + gx + gy * ldb;
        dst[lx + ly * ldb] = v;
#endif
        return;
    }
    for (long k = 0; k < kernel_batchsize; ++k) {
        const long mat = first + k;
        if (mat >= total_batchsize) break;  /* uniform over the group */
        __global const elem_t* src = a + offseta + mat * stridea;
        __global elem_t* dst = b + offsetb + mat * strideb;
        const long x = gx + lx, y = gy + ly;
        elem_t v = (elem_t)(0);
        if (x < m && y < n) v = BT_SCALE(src[x + y * lda], alpha_r, alpha_i);
#if BT_C
        v = BT_CONJ(v);
#endif
#if BT_T
        tile[ly][lx] = v;
        barrier(CLK_LOCAL_MEM_FENCE);
        const long xo = gy + lx, yo = gx + ly;
        if (xo < n && yo < m) dst[xo + yo * ldb] = tile[lx][ly];
        barrier(CLK_LOCAL_MEM_FENCE);
#else
        if (x < m && y < n) dst[x + y * ldb] = v;
#endif
    }
}
