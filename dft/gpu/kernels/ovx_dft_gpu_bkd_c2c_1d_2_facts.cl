// Two-factor kernel (also the unit-stride axis of the 2D/3D two-factor
// programs): one work-group transforms BATCH_PER_GROUP consecutive
// transforms of length N = FACT0 x FACT1 of the batch.
//
// Each complex value lives in a lane pair of a sub-group of 8 (even lane the
// real part, odd lane the imaginary part), so a sub-group carries four
// columns. Step 1: sub-group g takes the columns 4g..4g+3 of the FACT0 x FACT1
// view (element i*FACT1 + column), runs the FACT0-point transform down each
// column in registers, multiplies by its block of the twiddle table (scale
// included) and stores the result transposed into local memory. Step 2: each
// sub-group takes four rows k0, runs the FACT1-point transform along them and
// writes X[k0 + FACT0*k1]. Every sub-group runs every shuffle. Lanes without
// a column compute on values of the transform that exist and store into a
// padding column, which no row reads (or store nothing where FACT1 has no
// padding); lanes without a row compute on the clamped row and store nothing.
// No load goes past the end of the transform, of the table or of the local
// area.

#define TARVO_SG_PAIR_VOCABULARY 1

#ifndef BATCH_PER_GROUP
#define BATCH_PER_GROUP 1
#define BATCH_FOR_LAST_GROUP 1
#endif

#define TF2_COLS (FACT1 + PADFACT1)
#define TF2_COL_GROUPS (TF2_COLS / 4)
#define TF2_SUBGROUPS (WORK_GROUP_SIZE / SUBGROUP_SIZE)
// Complex slots of a work-group: slot 4g + p is lane pair p of sub-group g.
#define TF2_SLOTS (WORK_GROUP_SIZE / 2)
// The transposed columns are kept in local memory in two planes, the real
// parts first and the imaginary parts after them.
#define TF2_PLANE (FACT0 * TF2_COLS)
// Every slot has a column (step 1) and a row in every pass (step 2): the
// accesses then need neither a clamp nor a test.
#define TF2_EVERY_SLOT_HAS_COLUMN (TF2_SLOTS == FACT1)
#define TF2_EVERY_SLOT_HAS_ROW (TF2_SLOTS * FACT1_LOOP_BOUND == FACT0)
// Rows i of the column view that every slot may read at its own column,
// i*FACT1 + slot, without passing the end of the transform (a slot without a
// column reads values of the next row there); the rows below are read at the
// clamped column. Reading at the slot itself keeps the loads contiguous
// across work-items.
#if FACT0 * FACT1 >= TF2_SLOTS
#define TF2_ROWS_AT_OWN_COLUMN ((FACT0 * FACT1 - TF2_SLOTS) / FACT1 + 1)
#else
#define TF2_ROWS_AT_OWN_COLUMN 0
#endif

__attribute__((reqd_work_group_size(WORK_GROUP_SIZE, 1, 1)))
__attribute__((tarvo_reqd_sub_group_size(SUBGROUP_SIZE)))
__kernel void KERNEL_FUNC(__global const ftype* in, __global ftype* out, __global const ftype* twidl,
                          __local ftype* slm)
{
    TARVO_SG_KERNEL_SCRATCH(SUBGROUP_SIZE);
    const ftype pmOne = SG_PM_ONE(BWD_DIR);
    const ftype twSign = FWD_DIR ? (ftype)(-1) : (ftype)(1);
    const long group = (long)get_group_id(0);
    const int count = (group == (long)get_num_groups(0) - 1) ? BATCH_FOR_LAST_GROUP : BATCH_PER_GROUP;

    for (int b = 0; b < count; ++b) {
        const long t = group * BATCH_PER_GROUP + b;
        __global const ftype* src = in + 2 * t * (long)IDIST;
        __global ftype* dst = out + 2 * t * (long)ODIST;
        if (b > 0) barrier(CLK_LOCAL_MEM_FENCE);  // the previous transform's rows are read

        // Each stage keeps its values in an array of its own that lives
        // between two barriers only, and every loop over it is unrolled, so
        // that the values stay in registers and the device compiler
        // vectorises the stage across work-items. The slot is taken in each
        // stage from the local id (SG_WG_CPLX_ID), so that consecutive
        // work-items address consecutive columns and rows. Global addresses
        // are formed in 64 bits (the twiddle block as a pointer, output
        // indices as long): from 32-bit indices the compiler widens every
        // address of every work-item on its own, one or two instructions
        // per access, where a 64-bit index lets the constant part of the
        // address stand in the access itself.
        {
            const int col = SG_WG_CPLX_ID();
            const int colGroup = col / 4 < TF2_COL_GROUPS ? col / 4 : 0;
            ptype reg[FACT0];
#if TF2_EVERY_SLOT_HAS_COLUMN
#pragma unroll
            for (int i = 0; i < FACT0; ++i) reg[i] = SG_LOAD(src, i * FACT1 + col);
#else
            const int colc = col < FACT1 ? col : FACT1 - 1;
#pragma unroll
            for (int i = 0; i < FACT0; ++i) reg[i] = SG_LOAD(src, i * FACT1 + (i < TF2_ROWS_AT_OWN_COLUMN ? col : colc));
#endif
            FACT0_FUNC(reg, pmOne TARVO_SG_ARG);
            __global const ftype* twBlock = twidl + (long)colGroup * 16 * FACT0;
#pragma unroll
            for (int k = 0; k < FACT0; ++k) SG_TABLE_TWIDDLE(reg[k], twBlock, 16 * k, twSign);
            // A store under a per-lane test keeps the device compiler from
            // vectorising the stage: slots past the padded columns store
            // into the last padding column instead, which no row reads (the
            // values they leave there do not matter). Without padding they
            // store nothing.
#if TF2_EVERY_SLOT_HAS_COLUMN
            const int colStore = col;
#elif PADFACT1 > 0
            const int colStore = col < TF2_COLS ? col : TF2_COLS - 1;
#else
            const int colStore = col;
            if (col < TF2_COLS)
#endif
            {
#pragma unroll
                for (int k = 0; k < FACT0; ++k) SG_STORE_PARTS(slm, k * TF2_COLS + colStore, TF2_PLANE, reg[k]);
            }
        }
        barrier(CLK_LOCAL_MEM_FENCE);

        for (int pass = 0; pass < FACT1_LOOP_BOUND; ++pass) {
            // The row's slot is taken afresh after the barrier: spelt like the
            // column of step 1, it would be the value kept from before it.
            const int k0 = pass * TF2_SLOTS + SG_WG_CPLX_ID_AT(TF2_SLOTS);
            ptype reg[FACT1];
#if TF2_EVERY_SLOT_HAS_ROW
#pragma unroll
            for (int j = 0; j < FACT1; ++j) reg[j] = SG_LOAD_PARTS(slm, k0 * TF2_COLS + j, TF2_PLANE);
            FACT1_FUNC(reg, pmOne TARVO_SG_ARG);
#pragma unroll
            for (int k1 = 0; k1 < FACT1; ++k1) SG_STORE_APART(dst, (long)k0 + FACT0 * k1, reg[k1]);
#else
            const int rowOk = k0 < FACT0;
            const int k0c = rowOk ? k0 : FACT0 - 1;
#pragma unroll
            for (int j = 0; j < FACT1; ++j) reg[j] = SG_LOAD_PARTS(slm, k0c * TF2_COLS + j, TF2_PLANE);
            FACT1_FUNC(reg, pmOne TARVO_SG_ARG);
            if (rowOk) {
#pragma unroll
                for (int k1 = 0; k1 < FACT1; ++k1) SG_STORE_APART(dst, (long)k0 + FACT0 * k1, reg[k1]);
            }
#endif
        }
    }
}
