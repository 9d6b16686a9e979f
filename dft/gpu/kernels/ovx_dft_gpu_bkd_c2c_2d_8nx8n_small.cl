// Small square 2D kernel: one work-group transforms one N x N row-major
// transform (N = FACT0, a multiple of 8 and at most 64) held whole in local
// memory, so that both dimensions are done in one launch.
//
// A complex value lives in a lane pair (even lane the real part, odd lane the
// imaginary part); the work-group has 2N lanes, N lane pairs, and lane pair c
// (c = 0 .. N-1) owns column c in the first step and row frequency c in the
// second. Every per-lane notion goes through the lane-pair vocabulary, so the
// text also runs one work-item per lane pair.
//   1. Column c is loaded (row i from word g 2N^2 + 2(iN + c)) and transformed
//      over the row index; value k (row frequency k) goes to local memory,
//      block c of 2N reals: its N real parts, then its N imaginary parts.
//   2. Lane pair c gathers row frequency c of every column i (real i 2N + c,
//      imaginary i 2N + N + c) and transforms over the column index.
//   3. The result (row frequency c, column frequency k) is stored in
//      row-major interleaved order, every word is scaled (a loop over the
//      words, whatever the work-group's shape), and each sub-group copies its
//      columns of every row out with contiguous stores.
// The work-group reads its whole input before its first barrier and writes
// only after its last one, and touches no other transform: the kernel runs
// in place as well as out of place. Every work-item runs every step (no
// branch depends on the lane), as the sub-group exchanges require.

#define TARVO_SG_PAIR_VOCABULARY 1

#define SM_N FACT0
#define SM_BLOCK (2 * SM_N)

__attribute__((reqd_work_group_size(WORK_GROUP_SIZE, 1, 1)))
__attribute__((tarvo_reqd_sub_group_size(SUBGROUP_SIZE)))
__kernel void KERNEL_FUNC(__global const ftype* in, __global ftype* out, __local ftype* slmPtr, const ftype scale)
{
    TARVO_SG_KERNEL_SCRATCH(SUBGROUP_SIZE);
    const int c = SG_WG_CPLX_ID();
    /* first complex value of the sub-group's four lane pairs */
    const int sgFirst = 4 * (int)get_sub_group_id();
    const ftype pmOne = SG_PM_ONE(BWD_DIR);
    const long base = 2L * SM_N * SM_N * (long)get_group_id(0);
    __global const ftype* src = in + base;
    __global ftype* dst = out + base;
    __local ftype* slm = slmPtr;
    ptype reg[SM_N];

    /* 1: column c over the rows */
    for (int i = 0; i < SM_N; ++i) reg[i] = SG_BLOCK_LOAD(src + 2 * (i * SM_N + sgFirst));
    FACT0_FUNC(reg, pmOne TARVO_SG_ARG);
    for (int k = 0; k < SM_N; ++k) SG_STORE_PARTS(slm, c * SM_BLOCK + k, SM_N, reg[k]);
    barrier(CLK_LOCAL_MEM_FENCE);

    /* 2: row frequency c over the columns */
    for (int i = 0; i < SM_N; ++i) reg[i] = SG_LOAD_PARTS(slm, i * SM_BLOCK + c, SM_N);
    FACT0_FUNC(reg, pmOne TARVO_SG_ARG);
    barrier(CLK_LOCAL_MEM_FENCE);

    /* 3: row-major interleaved order, scaled word by word, then out row by row */
    for (int k = 0; k < SM_N; ++k) SG_STORE(slm, c * SM_N + k, reg[k]);
    barrier(CLK_LOCAL_MEM_FENCE);
    for (int w = (int)get_local_id(0); w < 2 * SM_N * SM_N; w += (int)get_local_size(0)) slm[w] *= scale;
    barrier(CLK_LOCAL_MEM_FENCE);
    for (int i = 0; i < SM_N; ++i) {
        const ptype v = SG_LOAD(slm, i * SM_N + c);
        SG_BLOCK_STORE(dst + 2 * (i * SM_N + sgFirst), v);
    }
}
