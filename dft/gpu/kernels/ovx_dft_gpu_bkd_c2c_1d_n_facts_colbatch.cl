// N-factor column-batched kernels: N = FACT0 x FACT1 x FACT2 (absent passes
// are 1), transforms are columns (batch distance 1, points INPUT_STRIDE
// apart). A work-group holds INNER_BATCH_PER_GROUP adjacent columns of one
// outer batch in local memory (row r of the block: the columns' value r,
// 2 * INNER_BATCH_PER_GROUP reals). A complex value lives in a lane pair, so
// a sub-group carries H = SUBGROUP_SIZE / 2 columns; sub-group s works on
// column block s % NC_CB and is row worker s / NC_CB of SUBGRPS_PER_FFT.
// Input index n = m + M j (M = FACT1 FACT2): pass 1 runs the FACT0-point
// transforms over j and multiplies by table 1 (the scale folded in), block
// row k0 * M + m; with m = m2 + FACT2 j1 pass 2 runs the FACT1-point
// transforms over j1 (and table 2 with three factors), pass 3 the
// FACT2-point ones; output k0 + FACT0 (k1 + FACT1 k2).
// All loops have work-group-uniform trip counts (the transforms shuffle);
// lanes without a column or row compute on zeros and store nothing.

#define TARVO_SG_PAIR_VOCABULARY 1

#define NC_M (FACT1 * FACT2)
#define NC_H (SUBGROUP_SIZE / 2)
#define NC_CC INNER_BATCH_PER_GROUP
#define NC_CB ((NC_CC + NC_H - 1) / NC_H)
#define NC_P SUBGRPS_PER_FFT
#define NC_N ((long)FACT0 * FACT1 * FACT2)
#ifndef INPUT_OFFSET
#define INPUT_OFFSET 0
#endif
#ifndef OUTPUT_OFFSET
#define OUTPUT_OFFSET 0
#endif
#if OUTPUT_STRIDE == 1 && OUTPUT_OFFSET != 0
#error "row output takes no output offset"
#endif
#define NC_BLOCKS ((INNER_BATCH + NC_CC - 1) / NC_CC)

#define NC_TWIDDLE(reg, c, s, pmOne) SG_TWIDDLE_PM(reg, c, s, pmOne)

#if OUTPUT_STRIDE == 1
#define NC_OUT_INDEX(col, k) ((long)(col) * INNER_BATCH_OUTPUT_DISTANCE + (long)(k))
#else
#define NC_OUT_INDEX(col, k) ((long)OUTPUT_OFFSET + (long)(col) + (long)(k) * OUTPUT_STRIDE)
#endif

#ifdef POST_TWIDDLE_BATCH
// Twiddle of the larger transform: e^(-+2 pi i k p / (N P)) for output k of
// the column in group p.
#define NC_POST(reg, k, grp, pmOne)                                               \
    {                                                                             \
        const long np_ = NC_N * (long)POST_TWIDDLE_BATCH;                         \
        long r_ = ((long)(k) * (long)(grp)) % np_;                                \
        if (2 * r_ > np_) r_ -= np_;                                              \
        const ftype th_ = (ftype)(-2) * (ftype)r_ / (ftype)np_;                   \
        const ftype c_ = cospi(th_), s_ = sinpi(th_);                             \
        NC_TWIDDLE(reg, c_, s_, pmOne);                                           \
    }
#else
#define NC_POST(reg, k, grp, pmOne)
#endif
// The loops over the values of one task are unrolled, so that the values
// stay in registers; with the computed post-twiddle the loops that apply it
// stay loops, whose cosines and sines vectorise over the values.
#ifdef POST_TWIDDLE_BATCH
#define NC_UNROLL_POST
#else
#define NC_UNROLL_POST _Pragma("unroll")
#endif

__attribute__((reqd_work_group_size(WORKGROUP_SIZE, 1, 1)))
__attribute__((tarvo_reqd_sub_group_size(SUBGROUP_SIZE)))
__kernel void KERNEL_FUNC(__global const ftype* in, __global ftype* out, __global const ftype* tab1,
#if FACT2 > 1
                          __global const ftype* tab2,
#endif
                          __local ftype* slm)
{
    TARVO_SG_KERNEL_SCRATCH(SUBGROUP_SIZE);
    const int sg = (int)get_sub_group_id();
    const int cb = sg % NC_CB;
    const int w = sg / NC_CB;
    const ftype pmOne = SG_PM_ONE(BWD_DIR);
    const long block = (long)get_group_id(0);
    const long ob = (long)get_global_id(1);
    const int cols = block == NC_BLOCKS - 1 ? INNER_BATCH_FOR_LAST_GROUP : NC_CC;
    const int lc = cb * NC_H + (int)SG_CPLX_INDEX();
    const int ok = lc < cols;
    const long col = block * NC_CC + lc;
    __global const ftype* src = in + 2L * ((long)INPUT_OFFSET + ob * (long)OUTER_BATCH_INPUT_DISTANCE + col);
    __global ftype* dst = out + 2L * (ob * (long)OUTER_BATCH_OUTPUT_DISTANCE);
#ifdef POST_TWIDDLE_BATCH
    const long grp = (ob * INNER_BATCH + col) / (((long)OUTER_BATCH * INNER_BATCH) / POST_TWIDDLE_BATCH);
#endif

    /* pass 1 */
    for (int i = 0; i < (NC_M + NC_P - 1) / NC_P; ++i) {
        const int m = w + i * NC_P;
        const int act = ok && m < NC_M;
        const int mm = m < NC_M ? m : 0;
        ptype reg[FACT0];
        _Pragma("unroll") for (int j = 0; j < FACT0; ++j)
            reg[j] = act ? SG_LOAD(src, (long)(mm + NC_M * j) * INPUT_STRIDE) : SG_ZERO;
        FACT0_FUNC(reg, pmOne TARVO_SG_ARG);
        _Pragma("unroll") for (int j = 0; j < FACT0; ++j) {
            const int e = mm * FACT0 + j;
            NC_TWIDDLE(reg[j], tab1[2 * e], tab1[2 * e + 1], pmOne);
        }
#if FACT1 == 1
        NC_UNROLL_POST for (int j = 0; j < FACT0; ++j) NC_POST(reg[j], j, grp, pmOne);
        if (act)
            _Pragma("unroll") for (int j = 0; j < FACT0; ++j) SG_STORE(dst, NC_OUT_INDEX(col, j), reg[j]);
#else
        if (act)
            _Pragma("unroll") for (int j = 0; j < FACT0; ++j) SG_STORE(slm, (j * NC_M + mm) * NC_CC + lc, reg[j]);
#endif
    }
#if FACT1 > 1
    barrier(CLK_LOCAL_MEM_FENCE);
    /* pass 2 */
    for (int i = 0; i < (FACT0 * FACT2 + NC_P - 1) / NC_P; ++i) {
        const int t = w + i * NC_P;
        const int act = ok && t < FACT0 * FACT2;
        const int tt = t < FACT0 * FACT2 ? t : 0;
        const int k0 = tt / FACT2, m2 = tt % FACT2;
        ptype reg[FACT1];
        _Pragma("unroll") for (int j = 0; j < FACT1; ++j)
            reg[j] = ok ? SG_LOAD(slm, (k0 * NC_M + m2 + FACT2 * j) * NC_CC + lc) : SG_ZERO;
        FACT1_FUNC(reg, pmOne TARVO_SG_ARG);
#if FACT2 > 1
        _Pragma("unroll") for (int j = 0; j < FACT1; ++j) {
            const int e = m2 * FACT1 + j;
            NC_TWIDDLE(reg[j], tab2[2 * e], tab2[2 * e + 1], pmOne);
        }
        if (act)
            _Pragma("unroll") for (int j = 0; j < FACT1; ++j) SG_STORE(slm, (k0 * NC_M + m2 + FACT2 * j) * NC_CC + lc, reg[j]);
#else
        NC_UNROLL_POST for (int j = 0; j < FACT1; ++j) NC_POST(reg[j], k0 + FACT0 * j, grp, pmOne);
        if (act)
            _Pragma("unroll") for (int j = 0; j < FACT1; ++j) SG_STORE(dst, NC_OUT_INDEX(col, k0 + FACT0 * j), reg[j]);
#endif
    }
#endif
#if FACT2 > 1
    barrier(CLK_LOCAL_MEM_FENCE);
    /* pass 3 */
    for (int i = 0; i < (FACT0 * FACT1 + NC_P - 1) / NC_P; ++i) {
        const int t = w + i * NC_P;
        const int act = ok && t < FACT0 * FACT1;
        const int tt = t < FACT0 * FACT1 ? t : 0;
        const int k0 = tt / FACT1, k1 = tt % FACT1;
        ptype reg[FACT2];
        _Pragma("unroll") for (int j = 0; j < FACT2; ++j)
            reg[j] = ok ? SG_LOAD(slm, (k0 * NC_M + j + FACT2 * k1) * NC_CC + lc) : SG_ZERO;
        FACT2_FUNC(reg, pmOne TARVO_SG_ARG);
        NC_UNROLL_POST for (int j = 0; j < FACT2; ++j) NC_POST(reg[j], k0 + FACT0 * (k1 + FACT1 * j), grp, pmOne);
        if (act)
            _Pragma("unroll") for (int j = 0; j < FACT2; ++j)
                SG_STORE(dst, NC_OUT_INDEX(col, k0 + FACT0 * (k1 + FACT1 * j)), reg[j]);
    }
#endif
}
