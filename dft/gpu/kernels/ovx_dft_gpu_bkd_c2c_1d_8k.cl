// 8192-point kernels: a four-step transform 8192 = 128 x 64 in two launches.
// Pass 1 (TRANSPOSE_OUTPUT_FUNC) runs the 128-point column transforms (as
// 16 x 8) of the 128 x 64 input matrix, multiplies by the scaled inter-pass
// twiddles and writes each column as a row of the 64 x 128 scratch matrix.
// Pass 2 (SAME_ORIENTATION_OUTPUT_FUNC) runs the 64-point column transforms
// (as 8 x 8) of the scratch matrix and writes X[k0 + 128*k1].
// A complex value lives in a lane pair (even lane real, odd lane imaginary);
// table entries carry per-lane factors (c, c, s, -s), 16 reals per register.

#define TARVO_SG_PAIR_VOCABULARY 1

#define K8_TWIDDLE(reg, tab, at) SG_TABLE_TWIDDLE(reg, tab, at, twSign)

// Sub-group, lane pair p, direction signs, the
// batch entry's input (distance `idist`) and output, and the column pair c,
// half h and row j of the work-item.
#define K8_SETUP(idist)                                      \
    TARVO_SG_KERNEL_SCRATCH(SUBGROUP_SIZE);                  \
    const int s = (int)get_sub_group_id();                   \
    const int p = (int)SG_CPLX_INDEX();                      \
    const ftype pmOne = SG_PM_ONE(BWD_DIR);                  \
    const ftype twSign = FWD_DIR ? (ftype)(-1) : (ftype)(1); \
    const long g = (long)get_group_id(0);                    \
    const long b = (long)get_global_id(1);                   \
    __global const ftype* src = in + 2 * b * (long)(idist);  \
    __global ftype* dst = out + 2 * b * (long)ODIST;         \
    const int c = s >> 1, h = s & 1, j = 4 * h + p

__attribute__((reqd_work_group_size(WORK_GROUP_SIZE, 1, 1)))
__attribute__((tarvo_reqd_sub_group_size(SUBGROUP_SIZE)))
__kernel void TRANSPOSE_OUTPUT_FUNC(__global const ftype* in, __global ftype* out,
                                    __global const ftype* twidl_N0, __global const ftype* twidl,
                                    __local ftype* slmPtr)
{
    K8_SETUP(IDIST);
    ptype reg[N0_FACT0];

    // Rows 16s..16s+15 of the work-group's four columns, split by column.
    for (int r = 0; r < 16; ++r) {
        const int n0 = 16 * s + r;
        SG_STORE_PARTS(slmPtr, 256 * p + n0, 128, SG_BLOCK_LOAD(src + 2 * (64 * n0 + 4 * g)));
    }
    barrier(CLK_LOCAL_MEM_FENCE);
    for (int i = 0; i < N0_FACT0; ++i) reg[i] = SG_LOAD_PARTS(slmPtr, 256 * c + j + 8 * i, 128);
    barrier(CLK_LOCAL_MEM_FENCE);
    N0_FACT0_FUNC(reg, pmOne TARVO_SG_ARG);
    for (int k1 = 0; k1 < N0_FACT0; ++k1) K8_TWIDDLE(reg[k1], twidl_N0, 256 * h + 16 * k1);
    for (int k1 = 0; k1 < N0_FACT0; ++k1) SG_STORE_PARTS(slmPtr, 256 * c + 32 * j + k1, 16, reg[k1]);
    barrier(CLK_LOCAL_MEM_FENCE);
    const int k1a = 4 * h + p;
    for (int jj = 0; jj < N0_FACT1; ++jj) {
        reg[jj] = SG_LOAD_PARTS(slmPtr, 256 * c + 32 * jj + k1a, 16);
        reg[jj + 8] = SG_LOAD_PARTS(slmPtr, 256 * c + 32 * jj + k1a + 8, 16);
    }
    barrier(CLK_LOCAL_MEM_FENCE);
    N0_FACT1_FUNC(reg, pmOne TARVO_SG_ARG);
    N0_FACT1_FUNC(reg + 8, pmOne TARVO_SG_ARG);
    const int block = 256 * (8 * (int)g + s);
    for (int r = 0; r < 16; ++r) K8_TWIDDLE(reg[r], twidl, block + 16 * r);
    for (int r = 0; r < 16; ++r) {
        const int k0 = k1a + 8 * (r >> 3) + 16 * (r & 7);
        SG_STORE(slmPtr, 128 * c + k0, reg[r]);
    }
    barrier(CLK_LOCAL_MEM_FENCE);
    for (int i = 0; i < 16; ++i)
        SG_BLOCK_STORE(dst + 2 * (512 * g + 64 * s) + 8 * i, SG_LANE_LOAD(slmPtr, 128 * s + 8 * i));
}

__attribute__((reqd_work_group_size(WORK_GROUP_SIZE, 1, 1)))
__attribute__((tarvo_reqd_sub_group_size(SUBGROUP_SIZE)))
__kernel void SAME_ORIENTATION_OUTPUT_FUNC(__global const ftype* in, __global ftype* out,
                                           __global const ftype* twidl_N1, __local ftype* slmPtr)
{
    K8_SETUP(ODIST);
    ptype reg[N1_FACT0];

    for (int r = 0; r < 8; ++r) {
        const int n1 = 8 * s + r;
        SG_STORE_PARTS(slmPtr, 128 * p + n1, 64, SG_BLOCK_LOAD(src + 2 * (128 * n1 + 4 * g)));
    }
    barrier(CLK_LOCAL_MEM_FENCE);
    for (int i = 0; i < N1_FACT0; ++i) reg[i] = SG_LOAD_PARTS(slmPtr, 128 * c + j + 8 * i, 64);
    barrier(CLK_LOCAL_MEM_FENCE);
    N1_FACT0_FUNC(reg, pmOne TARVO_SG_ARG);
    for (int k = 0; k < N1_FACT0; ++k) K8_TWIDDLE(reg[k], twidl_N1, 128 * h + 16 * k);
    for (int k = 0; k < N1_FACT0; ++k) SG_STORE_PARTS(slmPtr, 128 * c + 16 * j + k, 8, reg[k]);
    barrier(CLK_LOCAL_MEM_FENCE);
    const int ka = 4 * h + p;
    for (int jj = 0; jj < N1_FACT1; ++jj) reg[jj] = SG_LOAD_PARTS(slmPtr, 128 * c + 16 * jj + ka, 8);
    barrier(CLK_LOCAL_MEM_FENCE);
    N1_FACT1_FUNC(reg, pmOne TARVO_SG_ARG);
    for (int k2 = 0; k2 < N1_FACT1; ++k2) SG_STORE(slmPtr, 4 * (ka + 8 * k2) + c, reg[k2]);
    barrier(CLK_LOCAL_MEM_FENCE);
    for (int r = 0; r < 8; ++r) {
        const int k1 = 8 * s + r;
        SG_BLOCK_STORE(dst + 2 * (128 * k1 + 4 * g), SG_LANE_LOAD(slmPtr, 8 * k1));
    }
}
