// Two-factor kernel: one work-group transforms BATCH_PER_GROUP consecutive
// transforms of length N = FACT0 x FACT1 of the batch.
//
// Each complex value lives in a lane pair of a sub-group of 8 (even lane the
// real part, odd lane the imaginary part), so a sub-group carries four
// columns. Step 1: sub-group g takes the columns 4g..4g+3 of the FACT0 x FACT1
// view (element i*FACT1 + column), runs the FACT0-point transform down each
// column in registers, multiplies by its block of the twiddle table (scale
// included) and stores the result transposed into local memory. Step 2: each
// sub-group takes four rows k0, runs the FACT1-point transform along them and
// writes X[k0 + FACT0*k1]. Every sub-group runs every shuffle; lanes without a
// column or a row compute on clamped data and store nothing, and no load goes
// past the end of the transform, of the table or of the local area.

#define TARVO_SG_PAIR_VOCABULARY 1

#ifndef BATCH_PER_GROUP
#define BATCH_PER_GROUP 1
#define BATCH_FOR_LAST_GROUP 1
#endif

#define TF2_COLS (FACT1 + PADFACT1)
#define TF2_COL_GROUPS (TF2_COLS / 4)
#define TF2_SUBGROUPS (WORK_GROUP_SIZE / SUBGROUP_SIZE)
// The transposed columns are kept in local memory in two planes, the real
// parts first and the imaginary parts after them.
#define TF2_PLANE (FACT0 * TF2_COLS)

__attribute__((reqd_work_group_size(WORK_GROUP_SIZE, 1, 1)))
__attribute__((tarvo_reqd_sub_group_size(SUBGROUP_SIZE)))
__kernel void KERNEL_FUNC(__global const ftype* in, __global ftype* out, __global const ftype* twidl,
                          __local ftype* slm)
{
    TARVO_SG_KERNEL_SCRATCH(SUBGROUP_SIZE);
    const int sg = (int)get_sub_group_id();
    const int pair = (int)SG_CPLX_INDEX();
    const ftype pmOne = SG_PM_ONE(BWD_DIR);
    const ftype twSign = FWD_DIR ? (ftype)(-1) : (ftype)(1);
    const long group = (long)get_group_id(0);
    const int count = (group == (long)get_num_groups(0) - 1) ? BATCH_FOR_LAST_GROUP : BATCH_PER_GROUP;

    const int col = 4 * sg + pair;
    const int colOk = col < FACT1;
    const int colc = colOk ? col : FACT1 - 1;
    const int colGroup = sg < TF2_COL_GROUPS ? sg : 0;
    // The output's imaginary parts lie one value after the real parts; the
    // distance is taken from the launch's dimension count (1), which the
    // device compiler cannot see, so that it does not pack the two stores
    // of a value into a two-element vector and keeps the row stage
    // vectorised across work-items.
    const int imStep = (int)get_work_dim();

    for (int b = 0; b < count; ++b) {
        const long t = group * BATCH_PER_GROUP + b;
        __global const ftype* src = in + 2 * t * (long)IDIST;
        __global ftype* dst = out + 2 * t * (long)ODIST;
        if (b > 0) barrier(CLK_LOCAL_MEM_FENCE);  // the previous transform's rows are read

        // Each stage keeps its values in an array of its own that lives
        // between two barriers only, and every loop over it is unrolled, so
        // that the values stay in registers and the device compiler
        // vectorises the stage across work-items. A lane without a column
        // reads a column that exists (clamped) and computes on zeros.
        {
            ptype reg[FACT0];
#pragma unroll
            for (int i = 0; i < FACT0; ++i) {
                const ptype v = SG_LOAD(src, i * FACT1 + colc);
                reg[i] = colOk ? v : SG_ZERO;
            }
            FACT0_FUNC(reg, pmOne TARVO_SG_ARG);
#pragma unroll
            for (int k = 0; k < FACT0; ++k) SG_TABLE_TWIDDLE(reg[k], twidl, colGroup * 16 * FACT0 + 16 * k, twSign);
            if (sg < TF2_COL_GROUPS) {
#pragma unroll
                for (int k = 0; k < FACT0; ++k) SG_STORE_PARTS(slm, k * TF2_COLS + col, TF2_PLANE, reg[k]);
            }
        }
        barrier(CLK_LOCAL_MEM_FENCE);

        for (int pass = 0; pass < FACT1_LOOP_BOUND; ++pass) {
            const int k0 = 4 * (pass * TF2_SUBGROUPS + sg) + pair;
            const int rowOk = k0 < FACT0;
            const int k0c = rowOk ? k0 : FACT0 - 1;
            ptype reg[FACT1];
#pragma unroll
            for (int j = 0; j < FACT1; ++j) reg[j] = SG_LOAD_PARTS(slm, k0c * TF2_COLS + j, TF2_PLANE);
            FACT1_FUNC(reg, pmOne TARVO_SG_ARG);
            if (rowOk) {
#pragma unroll
                for (int k1 = 0; k1 < FACT1; ++k1) SG_STORE_PARTS(dst, 2 * (k0 + FACT0 * k1), imStep, reg[k1]);
            }
        }
    }
}
