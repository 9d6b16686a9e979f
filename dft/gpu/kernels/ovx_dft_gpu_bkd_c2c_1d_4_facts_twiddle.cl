#ifndef FOUR_FACT_COLBATCH
// Four-factor backend, pass 1: the inter-pass twiddles (scale folded in),
// then L interleaved S-point transforms (S = FACT0 x FACT1) of the scratch;
// output k2 of transform k1 is X[k1 + L k2] at k2 * NUM_FFTS + k1.
__attribute__((reqd_work_group_size(WORK_GROUP_SIZE, 1, 1)))
__attribute__((tarvo_reqd_sub_group_size(SUBGROUP_SIZE)))
__kernel void KERNEL_FUNC(__global const ftype* scratch, __global ftype* out, __global const ftype* ptab,
                          __global const ftype* itab, __local ftype* slm, int offset)
{
    FF_LANE_SETUP;
    const long g = (long)get_group_id(0);
    const long t = 8L * g + cx;
    const long b = (long)get_global_id(1) + offset;
    const int ok = t < NUM_FFTS;
    __global const ftype* src = scratch + 2L * (b - offset) * (long)ODIST;
    ptype reg[FACT0];
    for (int i = 0; i < FACT0; ++i) {
        const long n = s + (long)FACT1 * i;
        reg[i] = ok ? SG_LOAD(src, n * NUM_FFTS + t) : SG_ZERO;
    }
#ifdef MULTIFACTOR_TWIDDLE
    FF_CELLS(g);
#endif
    FF_FIRST_STEP;
    __global ftype* dst = out + 2L * b * (long)ODIST;
    FF_SECOND_STEP(ok, SG_STORE(dst, (long)(kk + FACT0 * j) * NUM_FFTS + t, reg2[j]));
}
#else
// Four-factor column-batched backend. Columns are adjacent (batch distance
// 1), the points of a column ISTRIDE / OSTRIDE apart. N = FFT_LEN x
// NUM_WORKGROUPS in both passes. Work-group g < NUM_WORKGROUPS of 8-column
// group `group` (launch middle index + inner_offset) of outer batch o.
// Scratch: per outer batch TEMP_OUTER_DIST complex values; per 8-column
// group N rows of FF_ROW columns; row k * M1 + n1.
#ifdef PADDED_TEMP
#define FF_ROW 8
#else
#define FF_ROW INNER_TAIL
#endif
#define FF_N ((long)FFT_LEN * NUM_WORKGROUPS)

#ifdef TRANSPOSE_KERNEL
__attribute__((reqd_work_group_size(WORK_GROUP_SIZE, 1, 1)))
__attribute__((tarvo_reqd_sub_group_size(SUBGROUP_SIZE)))
__kernel void KERNEL_FUNC(__global const ftype* in, __global ftype* scratch, __global const ftype* ptab,
                          __local ftype* slm, int inner_offset, int outer_offset)
{
    FF_LANE_SETUP;
    const long g = (long)get_group_id(0);
    const long group = (long)get_group_id(1) + inner_offset;
    const long o = (long)get_group_id(2);
    const int c = cx;
#ifdef INNER_TAIL
    const int ok = !(group == TAIL_CHUNK_IDX && c >= INNER_TAIL);
#else
    const int ok = c < FF_ROW;
#endif
    const long col = group * 8 + c;
    __global const ftype* src = in + 2L * ((o + outer_offset) * (long)OUTER_IDIST + col);
    ptype reg[FACT0];
    for (int i = 0; i < FACT0; ++i) {
        const long n = g + (long)NUM_WORKGROUPS * (s + (long)FACT1 * i);
        reg[i] = ok ? SG_LOAD(src, n * ISTRIDE) : SG_ZERO;
    }
    FF_FIRST_STEP;
    __global ftype* dst = scratch + 2L * (o * (long)TEMP_OUTER_DIST + (group - inner_offset) * 8L * FF_N);
    FF_SECOND_STEP(ok && c < FF_ROW, const long row = (long)(kk + FACT0 * j) * NUM_WORKGROUPS + g;
                                     SG_LANE_STORE(dst, row * 2 * FF_ROW, reg2[j]));
}
#else
__attribute__((reqd_work_group_size(WORK_GROUP_SIZE, 1, 1)))
__attribute__((tarvo_reqd_sub_group_size(SUBGROUP_SIZE)))
__kernel void KERNEL_FUNC(__global const ftype* scratch, __global ftype* out, __global const ftype* ptab,
                          __global const ftype* itab, __local ftype* slm, int inner_offset, int outer_offset)
{
    FF_LANE_SETUP;
    const long g = (long)get_group_id(0);
    const long group = (long)get_group_id(1) + inner_offset;
    const long o = (long)get_group_id(2);
    const int c = cx;
#ifdef INNER_TAIL
    const int ok = !(group == TAIL_CHUNK_IDX && c >= INNER_TAIL) && c < FF_ROW;
#else
    const int ok = c < FF_ROW;
#endif
    const long col = group * 8 + c;
    __global const ftype* src = scratch + 2L * (o * (long)TEMP_OUTER_DIST + (group - inner_offset) * 8L * FF_N);
    ptype reg[FACT0];
    for (int i = 0; i < FACT0; ++i) {
        const long row = g * FFT_LEN + s + (long)FACT1 * i;
        reg[i] = ok ? SG_LANE_LOAD(src, row * 2 * FF_ROW) : SG_ZERO;
    }
    FF_CELLS(g);
    FF_FIRST_STEP;
    __global ftype* dst = out + 2L * ((o + outer_offset) * (long)OUTER_ODIST + col);
    FF_SECOND_STEP(ok, const long idx = g + (long)NUM_WORKGROUPS * (kk + FACT0 * j);
                       SG_STORE(dst, idx * OSTRIDE, reg2[j]));
}
#endif
#endif
