// Two-factor kernels of the 2D and 3D complex main backends: every line of
// length N = FACT0 x FACT1 along one axis is transformed by one work-group in
// local memory. Element j = i*FACT1 + c of a line (i < FACT0, c < FACT1):
// FACT0-point transforms over i for each column c give k0; the value (k0, c)
// is multiplied by its twiddle from the table (exp(-2 pi i k0 c / N) forward,
// its conjugate backward; on axis 0 the table also carries the direction's
// scale); FACT1-point transforms over c for each k0 give k1; the result
// (k0, k1) is element k0 + FACT0*k1 of the line, in natural order.
//
//   KERNEL_FUNC0  axis 0 (unit stride): the one-dimensional two-factor
//                 kernel, whose text the program carries after this file:
//                 one line per work-group, WORK_GROUP_SIZE work-items,
//                 FACT1_LOOP_BOUND passes of the second step;
//   KERNEL_FUNC1  axis 1: four adjacent columns of one plane per
//                 work-group, WORK_GROUP_SIZE_Y = 8 * FACT0 work-items;
//   KERNEL_FUNC2  axis 2 (3D builds only): four adjacent columns of one row
//                 of one transform per work-group, walking the planes.
//
// A complex value lives in a lane pair of a sub-group of 8 (even lane the
// real part, odd lane the imaginary part), so a sub-group carries four
// columns. Every sub-group passes the same barriers in the same order. On
// the strided axes lane pairs without a column compute on zeros and store
// nothing. Every read of a work-group comes before its first barrier and
// every write after it, so each kernel may run in place. No lane reads or
// writes past its line, row or the end of the data.

#define TARVO_SG_PAIR_VOCABULARY 1

#ifndef BATCH_PER_GROUP
#define BATCH_PER_GROUP 1
#define BATCH_FOR_LAST_GROUP 1
#endif

#define MD2F_N (FACT0 * FACT1)
#define MD2F_COLS (FACT1 + PADFACT1)
// The local areas keep the real parts in one plane and the imaginary parts
// in the next: a store of both parts of a value to neighbouring addresses
// lets the device compiler pack a stage into two-element vectors, which
// keeps it from vectorising the stage across work-items.
#define MD2F_PLANE_S (4 * MD2F_N)

// Sub-groups without a column skip the first step where control flow may
// differ between sub-groups (native sub-groups, or one work-item per lane
// pair); a per-lane emulation, whose exchanges are work-group barriers,
// needs every work-item to make the same calls, so there they compute on
// zeros.
#if defined(TARVO_SG_EMULATION) && !defined(TARVO_SG_LANE_PAIR)
#define MD2F_ALL_SUBGROUPS_COMPUTE 1
#else
#define MD2F_ALL_SUBGROUPS_COMPUTE 0
#endif

// Axis 0 is the one-dimensional two-factor kernel (the next file of the
// program text) under this program's name for it.
#define KERNEL_FUNC KERNEL_FUNC0

// The strided axes: the lane pair's column starts at complex value `base`
// and its N values lie `step` complex values apart. Sub-group s takes the
// strided positions s, s + FACT1, ... (column c = s of the FACT0 x FACT1
// view; sub-groups s >= FACT1 hold zeros), then frequency k0 = s for the
// second step. The direction table holds one block of 16 values per (c, k0):
// eight copies of the cosine, then the sine with alternating signs.
// Local memory: four columns of N complex values, (c, k0) of lane pair p at
// p*N + c*FACT0 + k0.
static inline void md2f_strided_columns(__global const ftype* in, __global ftype* out,
                                        __global const ftype* twidlTable, __local ftype* slmPtr, long base,
                                        long step, int colOk TARVO_SG_PARAM)
{
    const int sg = (int)get_sub_group_id();
    const int pair = (int)SG_CPLX_INDEX();
    const ftype pmOne = SG_PM_ONE(BWD_DIR);
    const ftype twSign = FWD_DIR ? (ftype)(-1) : (ftype)(1);
    const int c = sg < FACT1 ? sg : FACT1 - 1;
    const int loadOk = colOk && sg < FACT1;
    // A lane pair without a column reads the first column of its group,
    // which always exists, and computes on zeros.
    const long baseOk = colOk ? base : base - pair;

    if (MD2F_ALL_SUBGROUPS_COMPUTE || sg < FACT1) {
        ptype reg[FACT0];
#pragma unroll
        for (int i = 0; i < FACT0; ++i) SG_LOAD_OR_ZERO(reg[i], in, baseOk + (long)(c + i * FACT1) * step, loadOk);
        FACT0_FUNC(reg, pmOne TARVO_SG_ARG);
#pragma unroll
        for (int k0 = 0; k0 < FACT0; ++k0) SG_TABLE_TWIDDLE(reg[k0], twidlTable, c * 16 * FACT0 + 16 * k0, twSign);
        if (sg < FACT1) {
#pragma unroll
            for (int k0 = 0; k0 < FACT0; ++k0)
                SG_STORE_PARTS(slmPtr, pair * MD2F_N + sg * FACT0 + k0, MD2F_PLANE_S, reg[k0]);
        }
    }
    barrier(CLK_LOCAL_MEM_FENCE);

    ptype reg[FACT1];
#pragma unroll
    for (int j = 0; j < FACT1; ++j) reg[j] = SG_LOAD_PARTS(slmPtr, pair * MD2F_N + j * FACT0 + sg, MD2F_PLANE_S);
    FACT1_FUNC(reg, pmOne TARVO_SG_ARG);
    if (colOk) {
#pragma unroll
        for (int k1 = 0; k1 < FACT1; ++k1)
            SG_STORE_APART(out, base + (long)(sg + FACT0 * k1) * step, reg[k1]);
    }
}

// True for the lane pairs that hold a column: in the last four-column group
// of a row only the first TAIL_READS_WRITES / 2 pairs do.
#define MD2F_COLUMN_OK(xg, pair) ((xg) != WORK_GROUPS_IN_X_DIR - 1 || TAIL_READS_WRITES == 0 || 2 * (pair) < TAIL_READS_WRITES)

// Axis 1: work-group g takes plane g / WORK_GROUPS_IN_X_DIR and its four
// columns 4*(g mod WORK_GROUPS_IN_X_DIR) + pair; rows DIST_IN_Y_DIR apart.
__attribute__((reqd_work_group_size(WORK_GROUP_SIZE_Y, 1, 1)))
__attribute__((tarvo_reqd_sub_group_size(8)))
__kernel void KERNEL_FUNC1(__global const ftype* in, __global ftype* out, __global const ftype* twidlTable,
                           __local ftype* slmPtr)
{
    TARVO_SG_KERNEL_SCRATCH(8);
    const long g = (long)get_group_id(0);
    const int pair = (int)SG_CPLX_INDEX();
    const long plane = g / WORK_GROUPS_IN_X_DIR;
    const int xg = (int)(g % WORK_GROUPS_IN_X_DIR);
    const long base = plane * (long)DIST_IN_XY_PLANE + 4 * xg + pair;
    md2f_strided_columns(in, out, twidlTable, slmPtr, base, (long)DIST_IN_Y_DIR, MD2F_COLUMN_OK(xg, pair) TARVO_SG_ARG);
}

#ifdef KERNEL_FUNC2
// Axis 2: work-group g takes transform g / WORK_GROUPS_IN_A_3D_BATCH, row
// (g mod WORK_GROUPS_IN_A_3D_BATCH) / WORK_GROUPS_IN_X_DIR and the four
// columns 4*(g mod WORK_GROUPS_IN_X_DIR) + pair; planes DIST_IN_Z_DIR apart.
__attribute__((reqd_work_group_size(WORK_GROUP_SIZE_Y, 1, 1)))
__attribute__((tarvo_reqd_sub_group_size(8)))
__kernel void KERNEL_FUNC2(__global const ftype* in, __global ftype* out, __global const ftype* twidlTable,
                           __local ftype* slmPtr)
{
    TARVO_SG_KERNEL_SCRATCH(8);
    const long g = (long)get_group_id(0);
    const int pair = (int)SG_CPLX_INDEX();
    const long t = g / WORK_GROUPS_IN_A_3D_BATCH;
    const long r = g % WORK_GROUPS_IN_A_3D_BATCH;
    const long y = r / WORK_GROUPS_IN_X_DIR;
    const int xg = (int)(r % WORK_GROUPS_IN_X_DIR);
    const long base = t * (long)BATCH_DIST + y * (long)DIST_IN_Y_DIR + 4 * xg + pair;
    md2f_strided_columns(in, out, twidlTable, slmPtr, base, (long)DIST_IN_Z_DIR, MD2F_COLUMN_OK(xg, pair) TARVO_SG_ARG);
}
#endif
