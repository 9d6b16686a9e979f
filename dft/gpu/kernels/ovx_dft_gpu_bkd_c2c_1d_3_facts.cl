// Three-factor kernels: N = FACT0 x FACT1 x FACT2, M = FACT1 x FACT2.
// Pass 0 runs the FACT0-point transforms of the columns m of the input
// (x[m + i*M]) and writes them contiguously to the scratch row (m*FACT0 + k0)
// through local memory. Pass 1 multiplies by the N-entry table (scale
// included) and runs the FACT1-point transforms in place in the scratch.
// Pass 2 multiplies by the M-entry table and runs the FACT2-point transforms,
// writing the output in natural order.
// A complex value lives in a lane pair; a work-group of 64 carries 32
// columns. The columns past the last one compute on zeros and neither load
// nor store, so no access leaves the data, the table or the scratch row.
// `offset` is the index of the chunk's first transform in the caller's batch.
// A scratch row keeps its values in two planes, the N real parts at the
// row's start and the N imaginary parts TDIST values later, and so does the
// group's local area in pass 0: a loop that stores both parts of a value to
// neighbouring addresses is packed by the device compiler into two-element
// vectors and then not vectorised across work-items.

#define TARVO_SG_PAIR_VOCABULARY 1

#define TF3_M (FACT1 * FACT2)

#define TF3_COLS_PER_GROUP (WORK_GROUP_SIZE / 2)
#define TF3_SLM_PLANE (TF3_COLS_PER_GROUP * FACT0)

// (c, s) of a table entry, multiplied unchanged forward and conjugated backward.
#define TF3_TWIDDLE(reg, tab, idx)                                                 \
    do {                                                                           \
        const ftype c_ = (tab)[2 * (idx)];                                         \
        const ftype s_ = (tab)[2 * (idx) + 1];                                     \
        SG_TWIDDLE_PM(reg, c_, s_, pmOne);                                         \
    } while (0)

// The work-item's column: its group's first column plus its complex slot in
// the group (sub-group s, pair p: slot 4s + p). The slot is taken as
// SG_WG_CPLX_ID(), a linear function of the local id, so that the device
// compiler sees consecutive work-items at consecutive columns and vectorises
// their loads and stores as contiguous accesses rather than gathers and
// scatters.
#define TF3_LANES                                                                  \
    const ftype pmOne = SG_PM_ONE(BWD_DIR);                                        \
    const int local_col = SG_WG_CPLX_ID();                                         \
    const long col = (long)get_group_id(0) * TF3_COLS_PER_GROUP + local_col;       \
    const long row = (long)get_group_id(1)

#if defined(KERNEL_FUNC0)
__attribute__((reqd_work_group_size(WORK_GROUP_SIZE, 1, 1)))
__attribute__((tarvo_reqd_sub_group_size(SUBGROUP_SIZE)))
__kernel void KERNEL_FUNC0(__global const ftype* in, __global ftype* scratch, __local ftype* slm, int offset)
{
    TARVO_SG_KERNEL_SCRATCH(SUBGROUP_SIZE);
    TF3_LANES;
    const long t = (long)get_global_id(1) + offset;
    __global const ftype* src = in + 2 * t * (long)IDIST;
    // The group's columns occupy one contiguous piece of the scratch row.
    {
        ptype reg[FACT0];
#if TF3_M % TF3_COLS_PER_GROUP == 0
        // Every work-item has a column: plain loads, which the device
        // compiler turns into contiguous vector loads.
#pragma unroll
        for (int i = 0; i < FACT0; ++i) reg[i] = SG_LOAD(src, col + (long)i * TF3_M);
#else
        const int ok = col < TF3_M;
        const long colc = ok ? col : TF3_M - 1;
#pragma unroll
        for (int i = 0; i < FACT0; ++i) SG_LOAD_OR_ZERO(reg[i], src, colc + (long)i * TF3_M, ok);
#endif
        FACT0_FUNC(reg, pmOne TARVO_SG_ARG);
#pragma unroll
        for (int k0 = 0; k0 < FACT0; ++k0) SG_STORE_PARTS(slm, local_col * FACT0 + k0, TF3_SLM_PLANE, reg[k0]);
    }
    barrier(CLK_LOCAL_MEM_FENCE);
    const long first = (long)get_group_id(0) * TF3_COLS_PER_GROUP;
    __global ftype* dst = scratch + 2 * row * (long)TDIST + first * FACT0;
    // FACT0 copies per work-item, the loop unrolled: a loop left here would
    // be the one the device compiler vectorises (with strided gathers and
    // scatters) instead of the loop over the work-items, whose accesses are
    // contiguous.
#if TF3_M % TF3_COLS_PER_GROUP != 0
    const long cols = (TF3_M - first) < TF3_COLS_PER_GROUP ? (TF3_M - first) : TF3_COLS_PER_GROUP;
#endif
#pragma unroll
    for (int j = 0; j < FACT0; ++j) {
        // the slot taken afresh after the barrier, not the one from before it
        const long r = (long)SG_WG_CPLX_ID_AT(1) + (long)j * TF3_COLS_PER_GROUP;
#if TF3_M % TF3_COLS_PER_GROUP != 0
        if (r < FACT0 * cols)
#endif
            SG_STORE_PARTS(dst, r, TDIST, SG_LOAD_PARTS(slm, r, TF3_SLM_PLANE));
    }
}
#endif

#if defined(KERNEL_FUNC1)
__attribute__((reqd_work_group_size(WORK_GROUP_SIZE, 1, 1)))
__attribute__((tarvo_reqd_sub_group_size(SUBGROUP_SIZE)))
__kernel void KERNEL_FUNC1(__global const ftype* in, __global ftype* scratch, __global const ftype* twidl,
                           __local ftype* slm)
{
    TARVO_SG_KERNEL_SCRATCH(SUBGROUP_SIZE);
    TF3_LANES;
    const long q_count = (long)FACT0 * FACT2;
    __global const ftype* src = in + 2 * row * (long)TDIST;
    __global ftype* dst = scratch + 2 * row * (long)TDIST;
    ptype reg[FACT1];
#if (FACT0 * FACT2) % TF3_COLS_PER_GROUP == 0
    // Every work-item has a column: plain loads at consecutive columns.
    const long qc = col;
#pragma unroll
    for (int i1 = 0; i1 < FACT1; ++i1) reg[i1] = SG_LOAD_PARTS(src, (long)i1 * q_count + qc, TDIST);
#else
    const int ok = col < q_count;
    const long qc = ok ? col : q_count - 1;
#pragma unroll
    for (int i1 = 0; i1 < FACT1; ++i1) {
        const ptype v = SG_LOAD_PARTS(src, (long)i1 * q_count + qc, TDIST);
        reg[i1] = ok ? v : SG_ZERO;
    }
#endif
#pragma unroll
    for (int i1 = 0; i1 < FACT1; ++i1) TF3_TWIDDLE(reg[i1], twidl, (long)i1 * q_count + qc);
    FACT1_FUNC(reg, pmOne TARVO_SG_ARG);
    // When the groups cover the columns exactly, every work-item has a column
    // and stores without a test (a conditional store keeps the device
    // compiler from vectorising the pass across work-items).
#if (FACT0 * FACT2) % TF3_COLS_PER_GROUP != 0
    if (ok)
#endif
    {
#pragma unroll
        for (int k1 = 0; k1 < FACT1; ++k1) SG_STORE_PARTS(dst, (long)k1 * q_count + col, TDIST, reg[k1]);
    }
}
#endif

#if defined(KERNEL_FUNC2)
__attribute__((reqd_work_group_size(WORK_GROUP_SIZE, 1, 1)))
__attribute__((tarvo_reqd_sub_group_size(SUBGROUP_SIZE)))
__kernel void KERNEL_FUNC2(__global const ftype* scratch, __global ftype* out, __global const ftype* twidl,
                           __local ftype* slm, int offset)
{
    TARVO_SG_KERNEL_SCRATCH(SUBGROUP_SIZE);
    TF3_LANES;
    const long r_count = (long)FACT0 * FACT1;
    const long t = (long)get_global_id(1) + offset;
    __global const ftype* src = scratch + 2 * row * (long)TDIST;
    ptype reg[FACT2];
#if FACT0 % TF3_COLS_PER_GROUP == 0
    // A group's columns share k1 and take consecutive k0: the table entries
    // are the same for the whole group and the loads are contiguous.
    const long first = (long)get_group_id(0) * TF3_COLS_PER_GROUP;
    const long k1 = first / FACT0;
    const long k0 = first % FACT0 + local_col;
#pragma unroll
    for (int c2 = 0; c2 < FACT2; ++c2)
        reg[c2] = SG_LOAD_PARTS(src, k1 * FACT0 * FACT2 + (long)c2 * FACT0 + k0, TDIST);
#else
    const int ok = col < r_count;
    const long k1 = ok ? col / FACT0 : 0;
    const long k0 = ok ? col % FACT0 : 0;
#pragma unroll
    for (int c2 = 0; c2 < FACT2; ++c2) {
        const ptype v = SG_LOAD_PARTS(src, k1 * FACT0 * FACT2 + (long)c2 * FACT0 + k0, TDIST);
        reg[c2] = ok ? v : SG_ZERO;
    }
#endif
#pragma unroll
    for (int c2 = 0; c2 < FACT2; ++c2) TF3_TWIDDLE(reg[c2], twidl, k1 * FACT2 + c2);
    FACT2_FUNC(reg, pmOne TARVO_SG_ARG);
    __global ftype* dst = out + 2 * t * (long)ODIST;
#if (FACT0 * FACT1) % TF3_COLS_PER_GROUP != 0
    if (ok)
#endif
    {
#pragma unroll
        for (int k2 = 0; k2 < FACT2; ++k2) SG_STORE_APART(dst, col + r_count * k2, reg[k2]);
    }
}
#endif
