// Shared pieces of the four-factor kernel texts. A complex value lives in a
// lane pair of a 16-lane sub-group (even lane real, odd lane imaginary), so a
// sub-group carries 8 transforms (or 8 columns). Every shuffle (the small
// transforms, swapReIm) stands in control flow that is uniform across the
// work-group; lanes without a transform compute on zeros and store nothing.

#define TARVO_SG_PAIR_VOCABULARY 1

// z <- (c + i s) z forward, (c - i s) z backward, for a table entry (c, s).
#define FF_TWIDDLE(reg, c, s, pmOne) SG_TWIDDLE_PM(reg, c, s, pmOne)

// z <- C z + f T swap(z) for a per-lane inter-pass cell (C = sigma cos,
// T = +-sigma sin by lane parity), f = -1 forward, +1 backward.
#if FWD_DIR
#define FF_CELL_SIGN ((ftype)-1)
#else
#define FF_CELL_SIGN ((ftype)1)
#endif
#define FF_CELL(reg, C, T) SG_MUL_ADD_SWAP(reg, C, FF_CELL_SIGN, T)

#define FF_SECOND_ROUNDS ((FACT0 + FACT1 - 1) / FACT1)

// Lane pair (transform or column of the sub-group), sub-group and
// direction sign of the work-item.
#define FF_LANE_SETUP                               \
    TARVO_SG_KERNEL_SCRATCH(SUBGROUP_SIZE);         \
    const int cx = (int)SG_CPLX_INDEX();            \
    const int s = (int)get_sub_group_id();          \
    const ftype pmOne = SG_PM_ONE(BWD_DIR)

// The inter-pass cells of row group (g, s) applied to reg[FACT0].
#define FF_CELLS(g)                                                              \
    for (int i = 0; i < FACT0; ++i) {                                            \
        const long cell = ((g) * FACT1 + s) * FACT0 + i;                         \
        FF_CELL(reg[i], SG_LANE_LOAD(itab, cell * 32), SG_LANE_LOAD(itab, cell * 32 + 16)); \
    }

// First step of a pass on reg[FACT0]: the FACT0-point transforms, the pass
// table's twiddles, the results into local row e = s * FACT0 + k.
#define FF_FIRST_STEP                                              \
    FACT0_FUNC(reg, pmOne TARVO_SG_ARG);                           \
    for (int k = 0; k < FACT0; ++k) {                              \
        const int e = s * FACT0 + k;                               \
        FF_TWIDDLE(reg[k], ptab[2 * e], ptab[2 * e + 1], pmOne);   \
        SG_LANE_STORE(slm, e * 16, reg[k]);                        \
    }                                                              \
    barrier(CLK_LOCAL_MEM_FENCE)

// Second step: the FACT1-point transforms of the local rows in
// FF_SECOND_ROUNDS rounds; `store` (of reg2[j], result j of row kk) runs for
// the rows of a round that exist where `cond` holds.
#define FF_SECOND_STEP(cond, store)                                                  \
    for (int r = 0; r < FF_SECOND_ROUNDS; ++r) {                                     \
        const int k = s + FACT1 * r;                                                 \
        const int act = k < FACT0;                                                   \
        const int kk = act ? k : 0;                                                  \
        ptype reg2[FACT1];                                                           \
        for (int j = 0; j < FACT1; ++j) reg2[j] = SG_LANE_LOAD(slm, (j * FACT0 + kk) * 16); \
        FACT1_FUNC(reg2, pmOne TARVO_SG_ARG);                                        \
        if (act && (cond))                                                           \
            for (int j = 0; j < FACT1; ++j) { store; }                               \
    }
