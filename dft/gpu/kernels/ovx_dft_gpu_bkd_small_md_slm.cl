// Small multi-dimensional local-memory kernel: one work-group computes
// BATCH_PER_GROUP whole transforms of rank 1 or 2 (get_group_id(1) numbers
// the blocks of transforms) in local memory, so that global memory is read
// once and written once.
//
// Rows: the dimension-0 transforms of C = DIM0FACT0 x ... x DIM0FACT3 complex
// points (a real transform of 2C points is a C-point complex transform and an
// even/odd split). Columns (RANK 2): the dimension-1 transforms of
// DIM1FACT0 x DIM1FACT1 points over the rows of one transform.
// Every row of the group sits in local memory at a pitch of 2 (C + REAL_FFT)
// real values; only the elements of each row are read from `in` and written
// to `out`, so padding between rows and transforms is never touched.
//
// Steps: (1) load the group's rows; (2) real backward: columns first, then
// the pre-processing that turns C + 1 conjugate-even values into the C-point
// complex input; (3) rows: one factor, or passes of factors in place
// (decimation in time: a pass of radix F over blocks of L points takes
// column c of a block, transforms its F values at stride L / F and
// multiplies output j by w_L^(c j)), the last pass storing the outputs in
// natural order; (4) real forward: the post-processing into C + 1 values;
// (5) columns (complex, real forward); (6) store the group's rows.
// The scale is folded into the main twiddle table of multi-factor rows and
// applied to the input of one-factor rows (SCALE). Multi-factor rows skip
// step (1) when the first pass can read `in` itself, and step (6) when the
// last pass or the real post-processing can write `out` itself
// (SMD_FIRST_FROM_GLOBAL, SMD_LAST_TO_GLOBAL, SMD_REAL_POST_TO_GLOBAL).
// The loops over the values of one task have fixed trip counts and are
// unrolled, so that the values stay in registers between the loads, the
// transform, the twiddles and the stores. The outputs of a transform are
// multiplied and stored one by one in the order the transform computes them
// (SMD_OUT_ORDER; the store alone masked for a lane pair without a task, the
// multiplication in uniform control flow), so that fewer values are live at
// once than when all are multiplied first and stored in natural order.
//
// A complex value lives in a lane pair; every per-lane notion goes through
// the lane-pair vocabulary, so the text also runs one work-item per lane
// pair. Loops that shuffle have work-group-uniform trip counts; lane pairs
// without a task compute on clamped indices and store nothing. Where a lane
// pair reads values that another lane pair (or the other lane of its pair)
// rewrites in the same step, all reads come before a barrier and all writes
// after it.

#define TARVO_SG_PAIR_VOCABULARY 1

#ifndef DIM0FACT1
#define DIM0FACT1 1
#endif
#ifndef DIM0FACT2
#define DIM0FACT2 1
#endif
#ifndef DIM0FACT3
#define DIM0FACT3 1
#endif
#ifndef DIM1FACT0
#define DIM1FACT0 1
#endif
#ifndef DIM1FACT1
#define DIM1FACT1 1
#endif
#ifndef DIM1ISTRIDE
#define DIM1ISTRIDE 0
#endif
#ifndef DIM1OSTRIDE
#define DIM1OSTRIDE 0
#endif
#ifndef OUTPUT_OFFSET_FP
#define OUTPUT_OFFSET_FP 0
#endif
#ifndef LOAD_ROW_BY_ROW
#define LOAD_ROW_BY_ROW 0
#endif

#define SMD_C (DIM0FACT0 * DIM0FACT1 * DIM0FACT2 * DIM0FACT3)
#define SMD_N1 (DIM1FACT0 * DIM1FACT1)
#define SMD_ROWS (BATCH_PER_GROUP * SMD_N1)
#define SMD_H (SUBGROUP_SIZE / 2)
#define SMD_SGS (WORKGROUP_SIZE / SUBGROUP_SIZE)
#define SMD_PAIRS (WORKGROUP_SIZE / 2)
#define SMD_PITCH (2 * (SMD_C + REAL_FFT))
#define SMD_TRIPS(tasks) (((tasks) + SMD_PAIRS - 1) / SMD_PAIRS)
// Whether task t of `tasks` exists (always, when the lane pairs divide the
// tasks), and the row of a task and its place in the row (row 0 when the
// group holds one row), written so that the compiler sees the constant cases.
#define SMD_TASK_OK(t, tasks) ((tasks) % SMD_PAIRS == 0 || (t) < (tasks))
#define SMD_TASK_ROW(t, per_row) (SMD_ROWS == 1 ? 0 : (t) / (per_row))
#define SMD_TASK_IN_ROW(t, per_row) (SMD_ROWS == 1 ? (t) : (t) % (per_row))
#define SMD_FP_BYTES (OVX_TEXT_IS_DOUBLE ? 8 : 4)
#define SMD_SLM_FP (SLM_BYTE_SIZE / SMD_FP_BYTES)
#define SMD_CDIV(a, b) (((a) + (b) - 1) / (b))
#define SMD_COLUMNS (RANK > 1 && SMD_N1 > 1)
#if FWD_DIR
#define SMD_DIR_G ((ftype)-1)
#else
#define SMD_DIR_G ((ftype)1)
#endif
#ifdef SCALE
#define SMD_SCALE SCALE
#else
#define SMD_SCALE ((ftype)1)
#endif

// Real values per element and elements per row on each side (a pair of
// reals counts as one element of a real side).
#if REAL_FFT && FWD_DIR
#define SMD_FP_IN 1
#define SMD_FP_OUT 2
#define SMD_IN_ELEMS SMD_C
#define SMD_OUT_ELEMS (SMD_C + 1)
#elif REAL_FFT
#define SMD_FP_IN 2
#define SMD_FP_OUT 1
#define SMD_IN_ELEMS (SMD_C + 1)
#define SMD_OUT_ELEMS SMD_C
#else
#define SMD_FP_IN 2
#define SMD_FP_OUT 2
#define SMD_IN_ELEMS SMD_C
#define SMD_OUT_ELEMS SMD_C
#endif
// Columns of the column pass: the C values of a row, and value C + 1 of a
// real row.
#define SMD_COLS (SMD_C + REAL_FFT)
// Tasks of the real pre- and post-processing per row: the pairs (k, C - k).
#define SMD_REAL_TASKS (SMD_ROWS * (SMD_C / 2 + 1))

// Multi-factor rows may skip the local-memory copies of the input and the
// output: the first pass reads `in` directly unless the input is staged
// (COPY_INPUT_IN_SLM), pre-processed (real backward) or scaled on the way
// (SCALE); the last pass writes `out` directly when nothing follows the rows
// (rank 1, complex).
#if DIM0FACT1 > 1 && !defined(COPY_INPUT_IN_SLM) && !(REAL_FFT && BWD_DIR) && !defined(SCALE)
#define SMD_FIRST_FROM_GLOBAL 1
#else
#define SMD_FIRST_FROM_GLOBAL 0
#endif
#if DIM0FACT1 > 1 && !SMD_COLUMNS && !REAL_FFT
#define SMD_LAST_TO_GLOBAL 1
#else
#define SMD_LAST_TO_GLOBAL 0
#endif
// The real forward post-processing writes `out` directly when nothing
// follows it (no columns).
#if REAL_FFT && FWD_DIR && !SMD_COLUMNS
#define SMD_REAL_POST_TO_GLOBAL 1
#else
#define SMD_REAL_POST_TO_GLOBAL 0
#endif

// ---- rules the build options must follow ---------------------------------------
#if FWD_DIR != 1 - BWD_DIR
#error "FWD_DIR must be 1 - BWD_DIR"
#endif
#if !(DIM0FACT0 >= DIM0FACT1 && DIM0FACT1 >= DIM0FACT2 && DIM0FACT2 >= DIM0FACT3)
#error "dimension-0 factors must not increase"
#endif
#if DIM1FACT0 < DIM1FACT1
#error "dimension-1 factors must not increase"
#endif
#if BATCH_FOR_LAST_GROUP < 1 || BATCH_FOR_LAST_GROUP > BATCH_PER_GROUP
#error "BATCH_FOR_LAST_GROUP must be 1 to BATCH_PER_GROUP"
#endif
#if LOAD_ROW_BY_ROW != 0 && LOAD_ROW_BY_ROW != 1
#error "LOAD_ROW_BY_ROW must be 0 or 1"
#endif
#if SUBGROUP_SIZE % 2 != 0 || WORKGROUP_SIZE % SUBGROUP_SIZE != 0
#error "the work-group must be whole sub-groups of lane pairs"
#endif
#if DIM0FACT1 > 1 && SMD_SGS < SMD_ROWS
#error "several row factors need a sub-group per row"
#endif
#if DIM0FACT1 == 1 && SMD_SGS < SMD_CDIV(SMD_ROWS, SMD_H)
#error "one row factor needs a lane pair per row"
#endif
#if SMD_COLUMNS && DIM1FACT1 > 1 && SMD_SGS < DIM1FACT0 * BATCH_PER_GROUP
#error "two column factors need DIM1FACT0 sub-groups per transform"
#endif
#if SMD_COLUMNS && SMD_SGS < BATCH_PER_GROUP
#error "columns need a sub-group per transform"
#endif
#if ROW_IDIST_FP < 2 * (SMD_C + REAL_FFT * BWD_DIR)
#error "ROW_IDIST_FP is shorter than an input row"
#endif
#if ROW_ODIST_SLM_FP < 2 * (SMD_C + REAL_FFT * FWD_DIR)
#error "ROW_ODIST_SLM_FP is shorter than an output row"
#endif
#if SMD_SLM_FP < SMD_ROWS * SMD_PITCH
#error "SLM_BYTE_SIZE does not hold the rows of a group"
#endif
#if SMD_SLM_FP < BATCH_PER_GROUP * FP_OUT_PER_FFT
#error "SLM_BYTE_SIZE does not hold the output of a group"
#endif
#if SMD_SLM_FP < (SMD_ROWS - 1) * ROW_ODIST_SLM_FP + 2 * SMD_C
#error "SLM_BYTE_SIZE does not hold the row pass output"
#endif
#if defined(COPY_INPUT_IN_SLM) && LOAD_ROW_BY_ROW && SMD_SLM_FP < (SMD_ROWS - 1) * ROW_IDIST_FP + INPUT_FP_PER_ROW_MIN
#error "SLM_BYTE_SIZE does not hold the staged input rows"
#endif
#if defined(COPY_INPUT_IN_SLM) && !LOAD_ROW_BY_ROW && SMD_ROWS > 1 && SMD_SLM_FP < SMD_ROWS * INPUT_FP_PER_ROW
#error "SLM_BYTE_SIZE does not hold the staged input"
#endif
#if SMD_COLUMNS && REAL_FFT && BWD_DIR && SMD_SLM_FP < ROW_IDIST_FP * (SMD_ROWS - 1) + 2 * SMD_CDIV(SMD_COLS, SMD_H) * SMD_H
#error "SLM_BYTE_SIZE does not hold the column pass"
#endif
#if SMD_COLUMNS && !(REAL_FFT && BWD_DIR) && SMD_SLM_FP < 2 * DIM1OSTRIDE * (SMD_ROWS - 1) + 2 * SMD_CDIV(SMD_COLS, SMD_H) * SMD_H
#error "SLM_BYTE_SIZE does not hold the column pass"
#endif

// ---- helpers ---------------------------------------------------------------------

// Stores the complex value (re_, im_) at real-value offset `at` of p.
#define SMD_PUT(p, at, re_, im_)                                   \
    {                                                              \
        const ftype smd_v_[2] = {(re_), (im_)};                    \
        SG_STORE_PARTS((p), (at), 1, SG_LOAD_PARTS(smd_v_, 0, 1)); \
    }

// Real-value offsets of row r of the group (transform r / N1, row r % N1) in
// the input and the output.
long smd_row_in(const int r) {
    return ((long)(r / SMD_N1) * (long)IDIST + (long)(r % SMD_N1) * (long)DIM1ISTRIDE) * SMD_FP_IN;
}
long smd_row_out(const int r) {
    return ((long)(r / SMD_N1) * (long)ODIST + (long)(r % SMD_N1) * (long)DIM1OSTRIDE) * SMD_FP_OUT;
}

// Multiplies by the main row twiddle of column c, output j (the scale of the
// direction folded in): blocks of h points, (cos, cos) pairs then
// (sin, -sin) pairs, so that each lane reads what it multiplies with.
// SMD_MAIN_TW_COLUMN is column c's entry for output 0; the entry for output
// j lies j 4h values further, so that a pass over the outputs of one column
// reads the table at constant offsets from one pointer.
#define SMD_MAIN_TW_COLUMN(tbl, c) ((tbl) + ((c) / SMD_H) * DIM0FACT0 * 4 * SMD_H + 2 * ((c) % SMD_H))
#define SMD_MAIN_TW_AT(reg, twc, j)                                                   \
    SG_MUL_ADD_SWAP(reg, SG_LOAD_PARTS((twc), (j) * 4 * SMD_H, 1), SMD_DIR_G, \
                    SG_LOAD_PARTS((twc), (j) * 4 * SMD_H + 2 * SMD_H, 1))
#define SMD_MAIN_TW(reg, tbl, R0, c, j)                              \
    {                                                                \
        __global const ftype* twc_ = SMD_MAIN_TW_COLUMN((tbl), (c)); \
        SMD_MAIN_TW_AT(reg, twc_, (j));                              \
    }
// Multiplies by w^(c j) of a factor-pair table, whose entry c R0 + j holds
// e^(+2 pi i c j / (R0 R1)); the direction picks the sign. The entries of
// one column lie at constant offsets from its first one, taken once with a
// 64-bit offset, so that each load addresses the table without index
// arithmetic of its own.
#define SMD_PAIR_TW_COLUMN(tbl, R0, c) ((tbl) + 2 * (long)((c) * (R0)))
#define SMD_PAIR_TW_AT(reg, twc, j) SG_TWIDDLE_PM(reg, (twc)[2 * (j)], -(twc)[2 * (j) + 1], pmOne)
#define SMD_PAIR_TW(reg, tbl, R0, c, j)                                 \
    {                                                                   \
        __global const ftype* twc_ = SMD_PAIR_TW_COLUMN((tbl), (R0), (c)); \
        SMD_PAIR_TW_AT(reg, twc_, (j));                                 \
    }

// Output q of an F-point transform in the order the straight-line transforms
// of the front compute their outputs: a size that 4 divides, radix 4 first,
// else its smallest prime first (the outputs k1 + r X_k2 of radix r come k1
// by k1, each group in the order of the remaining size), and a prime size
// 0, 1, F-1, 2, F-2, ... Any order gives the same results; storing (or
// multiplying and storing) the outputs in this order releases each one soon
// after it is computed, so that fewer values are live at once. The callers'
// loops are unrolled and F is a build constant, so every call folds to a
// constant.
#define SMD_SPF(n) ((n) % 2 == 0 ? 2 : (n) % 3 == 0 ? 3 : (n) % 5 == 0 ? 5 : (n) % 7 == 0 ? 7 : (n))
#define SMD_RADIX(n) ((n) % 4 == 0 ? 4 : SMD_SPF(n))
static inline __attribute__((always_inline)) int smd_out_order(int n, int q) {
    // order(n, q) = q / m + r order(m, q % m) for radix r and m = n / r,
    // accumulated level by level as at + scale order(n, q)
    int at = 0, scale = 1;
#pragma unroll
    for (int level = 0; level < 8; ++level) {
        if (n <= 4 && n != 3) break;
        if (SMD_SPF(n) == n) return at + scale * (q == 0 ? 0 : (q & 1) ? (q + 1) / 2 : n - q / 2);
        const int m = n / SMD_RADIX(n);
        at += scale * (q / m);
        scale *= SMD_RADIX(n);
        q %= m;
        n = m;
    }
    return at + scale * q;
}
#define SMD_OUT_ORDER(n, q) smd_out_order((n), (q))

// The natural index of the row output at position p after the in-place
// passes (mixed-radix digits reversed). The last digit is the most
// significant one of the natural index: natural(q F + j) = natural(q F) +
// (C / F) j for the last factor F, which the last pass uses.
int smd_natural(int p) {
    const int P0 = DIM0FACT1 * DIM0FACT2 * DIM0FACT3, P1 = DIM0FACT2 * DIM0FACT3, P2 = DIM0FACT3;
    const int j0 = p / P0;
    p -= j0 * P0;
    const int j1 = p / P1;
    p -= j1 * P1;
    const int j2 = p / P2;
    const int j3 = p - j2 * P2;
    return j0 + DIM0FACT0 * (j1 + DIM0FACT1 * (j2 + DIM0FACT2 * j3));
}

// An in-place row pass of radix F over blocks of L points (twiddle TW with
// table tbl of R0 columns).
#define SMD_DEFINE_ROW_PASS(NAME, F, FUNC, L, TW, R0)                                                          \
    void NAME(__local ftype* slm, const int pair, const ftype pmOne, __global const ftype* tbl TARVO_SG_PARAM) \
    {                                                                                                          \
        for (int i = 0; i < SMD_TRIPS(SMD_ROWS * (SMD_C / (F))); ++i) {                                        \
            const int t = pair + i * SMD_PAIRS;                                                                \
            const int act = t < SMD_ROWS * (SMD_C / (F));                                                      \
            const int tt = act ? t : 0;                                                                        \
            const int r = tt / (SMD_C / (F)), u = tt % (SMD_C / (F));                                          \
            const int c = u % ((L) / (F));                                                                     \
            const int base = (u / ((L) / (F))) * (L) + c;                                                      \
            __local ftype* bp = slm + (long)(r * SMD_PITCH + 2 * base);                                        \
            ptype reg[F];                                                                                      \
            _Pragma("unroll") for (int j = 0; j < (F); ++j) reg[j] = SG_LOAD(bp, ((L) / (F)) * j);             \
            FUNC(reg, pmOne TARVO_SG_ARG);                                                                     \
            _Pragma("unroll") for (int q = 0; q < (F); ++q) {                                                  \
                const int j = SMD_OUT_ORDER((F), q);                                                           \
                TW(reg[j], tbl, R0, c, j);                                                                     \
                if (act) SG_STORE(bp, ((L) / (F)) * j, reg[j]);                                                \
            }                                                                                                  \
        }                                                                                                      \
        barrier(CLK_LOCAL_MEM_FENCE);                                                                          \
    }

#if SMD_FIRST_FROM_GLOBAL
// The first row pass reading its values straight from `in` (rows of the
// group past `rows` read row 0 and store nothing useful): the input is read
// once and local memory is written once, with no staging copy.
void smd_rows_first_global(__local ftype* slm, const int pair, const ftype pmOne, __global const ftype* tbl,
                           __global const ftype* src, const int rows TARVO_SG_PARAM)
{
    for (int i = 0; i < SMD_TRIPS(SMD_ROWS * (SMD_C / DIM0FACT0)); ++i) {
        const int t = pair + i * SMD_PAIRS;
        const int act = SMD_TASK_OK(t, SMD_ROWS * (SMD_C / DIM0FACT0));
        const int tt = act ? t : 0;
        const int r = SMD_TASK_ROW(tt, SMD_C / DIM0FACT0), c = SMD_TASK_IN_ROW(tt, SMD_C / DIM0FACT0);
        __global const ftype* in_row = src + smd_row_in(r < rows ? r : 0);
        // The column's first twiddle: the twiddles of its outputs lie at
        // constant offsets from it.
        __global const ftype* tw_c = SMD_MAIN_TW_COLUMN(tbl, c);
        // The column's values lie at constant offsets from its first one.
        __global const ftype* col_in = in_row + 2 * c;
        __local ftype* col = slm + r * SMD_PITCH + 2 * c;
        ptype reg[DIM0FACT0];
        _Pragma("unroll") for (int j = 0; j < DIM0FACT0; ++j) reg[j] = SG_LOAD(col_in, (SMD_C / DIM0FACT0) * j);
        DIM0FACT0_FUNC(reg, pmOne TARVO_SG_ARG);
        _Pragma("unroll") for (int q = 0; q < DIM0FACT0; ++q) {
            const int j = SMD_OUT_ORDER(DIM0FACT0, q);
            SMD_MAIN_TW_AT(reg[j], tw_c, j);
            if (act) SG_STORE(col, (SMD_C / DIM0FACT0) * j, reg[j]);
        }
    }
    barrier(CLK_LOCAL_MEM_FENCE);
}
#endif

// The last row pass (radix F over blocks of F points): every lane pair
// transforms all its blocks, then the outputs go to their natural places.
#define SMD_DEFINE_ROW_LAST(NAME, F, FUNC)                                                                           \
    SMD_LAST_INLINE void NAME(__local ftype* slm, const int pair, const ftype pmOne TARVO_SG_PARAM)                                  \
    {                                                                                                                \
        ptype reg[SMD_TRIPS(SMD_ROWS * (SMD_C / (F)))][F];                                                           \
        for (int i = 0; i < SMD_TRIPS(SMD_ROWS * (SMD_C / (F))); ++i) {                                              \
            const int t = pair + i * SMD_PAIRS;                                                                      \
            const int tt = t < SMD_ROWS * (SMD_C / (F)) ? t : 0;                                                     \
            const int r = tt / (SMD_C / (F)), blk = tt % (SMD_C / (F));                                              \
            __local const ftype* bp = slm + (long)(r * SMD_PITCH + 2 * blk * (F));                                  \
            _Pragma("unroll") for (int j = 0; j < (F); ++j) reg[i][j] = SG_LOAD(bp, j);                              \
            FUNC(reg[i], pmOne TARVO_SG_ARG);                                                                        \
        }                                                                                                            \
        barrier(CLK_LOCAL_MEM_FENCE);                                                                                \
        for (int i = 0; i < SMD_TRIPS(SMD_ROWS * (SMD_C / (F))); ++i) {                                              \
            const int t = pair + i * SMD_PAIRS;                                                                      \
            if (t < SMD_ROWS * (SMD_C / (F))) {                                                                      \
                const int r = t / (SMD_C / (F)), blk = t % (SMD_C / (F));                                            \
                __local ftype* np = slm + (long)(r * SMD_PITCH + 2 * smd_natural(blk * (F)));                        \
                _Pragma("unroll") for (int j = 0; j < (F); ++j) SG_STORE(np, (SMD_C / (F)) * j, reg[i][j]);          \
            }                                                                                                        \
        }                                                                                                            \
        barrier(CLK_LOCAL_MEM_FENCE);                                                                                \
    }

// The last row pass writing its outputs straight to `out` in natural order
// (rank 1, complex): no local-memory round trip and no barrier; rows of the
// group past `rows` store nothing.
#define SMD_DEFINE_ROW_LAST_GLOBAL(NAME, F, FUNC)                                                                   \
    SMD_LAST_INLINE void NAME(__local const ftype* slm, const int pair, const ftype pmOne, __global ftype* dst,                     \
              const int rows TARVO_SG_PARAM)                                                                        \
    {                                                                                                               \
        for (int i = 0; i < SMD_TRIPS(SMD_ROWS * (SMD_C / (F))); ++i) {                                             \
            const int t = pair + i * SMD_PAIRS;                                                                     \
            const int tt = t < SMD_ROWS * (SMD_C / (F)) ? t : 0;                                                    \
            const int r = SMD_TASK_ROW(tt, SMD_C / (F)), blk = tt % (SMD_C / (F));                                  \
            ptype reg[F];                                                                                           \
            __local const ftype* bp = slm + (long)(r * SMD_PITCH + 2 * blk * (F));                                 \
            _Pragma("unroll") for (int j = 0; j < (F); ++j) reg[j] = SG_LOAD(bp, j);                                \
            FUNC(reg, pmOne TARVO_SG_ARG);                                                                          \
            if (t < SMD_ROWS * (SMD_C / (F)) && r < rows) {                                                         \
                __global ftype* nat_p = dst + smd_row_out(r) + 2 * smd_natural(blk * (F));                          \
                _Pragma("unroll") for (int q = 0; q < (F); ++q) {                                                   \
                    const int j = SMD_OUT_ORDER((F), q);                                                            \
                    SG_STORE(nat_p, (SMD_C / (F)) * j, reg[j]);                                                     \
                }                                                                                                   \
            }                                                                                                       \
        }                                                                                                           \
    }

// The last pass is inlined into the kernel for small last factors: a call per
// work-item then costs more than the larger kernel body; with larger last
// factors the inlined body grows the kernel more than the calls cost.
#define SMD_LAST_F (DIM0FACT3 > 1 ? DIM0FACT3 : DIM0FACT2 > 1 ? DIM0FACT2 : DIM0FACT1)
#if SMD_LAST_F <= 16
#define SMD_LAST_INLINE __attribute__((always_inline))
#else
#define SMD_LAST_INLINE
#endif
#if SMD_LAST_TO_GLOBAL
#define SMD_ROW_LAST SMD_DEFINE_ROW_LAST_GLOBAL
#else
#define SMD_ROW_LAST SMD_DEFINE_ROW_LAST
#endif
#if DIM0FACT1 > 1
#if !SMD_FIRST_FROM_GLOBAL
SMD_DEFINE_ROW_PASS(smd_rows_pass1, DIM0FACT0, DIM0FACT0_FUNC, SMD_C, SMD_MAIN_TW, 1)
#endif
#if DIM0FACT2 > 1
SMD_DEFINE_ROW_PASS(smd_rows_pass2, DIM0FACT1, DIM0FACT1_FUNC, SMD_C / DIM0FACT0, SMD_PAIR_TW, DIM0FACT1)
#if DIM0FACT3 > 1
SMD_DEFINE_ROW_PASS(smd_rows_pass3, DIM0FACT2, DIM0FACT2_FUNC, DIM0FACT2 * DIM0FACT3, SMD_PAIR_TW, DIM0FACT2)
SMD_ROW_LAST(smd_rows_last, DIM0FACT3, DIM0FACT3_FUNC)
#else
SMD_ROW_LAST(smd_rows_last, DIM0FACT2, DIM0FACT2_FUNC)
#endif
#else
SMD_ROW_LAST(smd_rows_last, DIM0FACT1, DIM0FACT1_FUNC)
#endif
#else
// One factor: a lane pair transforms a whole row.
void smd_rows_one(__local ftype* slm, const int pair, const ftype pmOne TARVO_SG_PARAM)
{
    for (int i = 0; i < SMD_TRIPS(SMD_ROWS); ++i) {
        const int r = pair + i * SMD_PAIRS;
        __local ftype* row = slm + (r < SMD_ROWS ? r : 0) * SMD_PITCH;
        ptype reg[DIM0FACT0];
        _Pragma("unroll") for (int k = 0; k < DIM0FACT0; ++k) reg[k] = SG_LOAD(row, k);
        DIM0FACT0_FUNC(reg, pmOne TARVO_SG_ARG);
        if (r < SMD_ROWS)
            _Pragma("unroll") for (int q = 0; q < DIM0FACT0; ++q) {
                const int k = SMD_OUT_ORDER(DIM0FACT0, q);
                SG_STORE(row, k, reg[k]);
            }
    }
    barrier(CLK_LOCAL_MEM_FENCE);
}
#endif

// ---- real rows ---------------------------------------------------------------------

#if REAL_FFT
// W^k = e^(-i pi k / C) of the even/odd split, as (cos, -sin).
void smd_real_factor(const int k, ftype* wc, ftype* ws
#if DIM0FACT1 > 1
                     , __global const ftype* realFactors
#endif
                     )
{
    if (2 * k == SMD_C) {
        *wc = (ftype)0;
        *ws = (ftype)-1;
        return;
    }
#if DIM0FACT1 > 1
    // Blocks of h points per sub-group of a row: sub-group j of R0 holds
    // points (q R0 + j) h + r at j 4 R1 + q 4 h (cos) and + 2h (sin).
    const uint R0 = SMD_SGS / SMD_ROWS;
    const uint R1 = SMD_CDIV((SMD_C + 1) / 2, R0 * SMD_H) * SMD_H;
    // k is never negative: unsigned division by the constants is cheapest.
    const uint blk = (uint)k / SMD_H, r = (uint)k % SMD_H;
    const int at = (int)((blk % R0) * 4 * R1 + (blk / R0) * 4 * SMD_H + 2 * r);
    *wc = realFactors[at];
    *ws = realFactors[at + 2 * SMD_H];
#elif SMD_REAL_TABLE
    *wc = smdCosValues[k - 1];
    *ws = -smdSinValues[k - 1];
#else
    *wc = (ftype)1;
    *ws = (ftype)0;
#endif
}
#if DIM0FACT1 > 1
#define SMD_REAL_FACTOR(k, wc, ws) smd_real_factor((k), (wc), (ws), realFactors)
#else
#define SMD_REAL_FACTOR(k, wc, ws) smd_real_factor((k), (wc), (ws))
#endif

// The operands of task t of a real step (a clamped task where t is past the
// last one): its row r and index k, the pair X_k (ar, ai) and X_(C-k)
// (mr, mi), and the factor e^(+i pi k / C) as (wc, ws).
#define SMD_REAL_STEP_OPERANDS(t)                                         \
    const int tt = (t) < SMD_REAL_TASKS ? (t) : 0;                        \
    const int r = SMD_TASK_ROW(tt, SMD_C / 2 + 1);                        \
    const int k = SMD_TASK_IN_ROW(tt, SMD_C / 2 + 1);                     \
    __local const ftype* row = slm + r * SMD_PITCH;                       \
    const ftype ar = row[2 * k], ai = row[2 * k + 1];                     \
    const ftype mr = row[2 * (SMD_C - k)], mi = row[2 * (SMD_C - k) + 1]; \
    ftype wc, ws;                                                         \
    if (k == 0) {                                                         \
        wc = (ftype)1;                                                    \
        ws = (ftype)0;                                                    \
    } else {                                                              \
        SMD_REAL_FACTOR(k, &wc, &ws);                                     \
    }

// Forward: Z = the C-point transform of z_n = x_2n + i x_2n+1 (natural
// order) becomes X_k = E_k + W^k O_k, X_(C-k) = conj(E_k - W^k O_k) for
// k = 0 .. C/2, with E_k = (Z_k + conj Z_(C-k)) / 2 and
// O_k = (Z_k - conj Z_(C-k)) / 2i; X_0 and X_C are real.
// Backward: from X_0 .. X_C, Z_k = E'_k + i O'_k and
// Z_(C-k) = conj(E'_k) + i conj(O'_k) with E'_k = X_k + conj X_(C-k) and
// O'_k = (X_k - conj X_(C-k)) e^(+i pi k / C); the imaginary parts of X_0
// and X_C do not enter.
#define SMD_DEFINE_REAL_STEP(NAME, ...)                                              \
    void NAME(__local ftype* slm, const int pair SMD_REAL_PARAM TARVO_SG_PARAM)      \
    {                                                                                \
        ftype v[SMD_TRIPS(SMD_REAL_TASKS)][4];                                       \
        for (int i = 0; i < SMD_TRIPS(SMD_REAL_TASKS); ++i) {                        \
            const int t = pair + i * SMD_PAIRS;                                      \
            SMD_REAL_STEP_OPERANDS(t)                                                \
            __VA_ARGS__                                                              \
        }                                                                            \
        barrier(CLK_LOCAL_MEM_FENCE);                                                \
        for (int i = 0; i < SMD_TRIPS(SMD_REAL_TASKS); ++i) {                        \
            const int t = pair + i * SMD_PAIRS;                                      \
            if (t < SMD_REAL_TASKS) {                                                \
                const int k = SMD_TASK_IN_ROW(t, SMD_C / 2 + 1);                     \
                __local ftype* row = slm + SMD_TASK_ROW(t, SMD_C / 2 + 1) * SMD_PITCH; \
                SMD_PUT(row, 2 * k, v[i][0], v[i][1]);                               \
                if (2 * k != SMD_C) SMD_PUT(row, 2 * (SMD_C - k), v[i][2], v[i][3]); \
            }                                                                        \
        }                                                                            \
        barrier(CLK_LOCAL_MEM_FENCE);                                                \
    }

// The same step writing its results straight to `out` (the forward
// post-processing when nothing follows it): no barrier, no local-memory
// round trip, no final copy; rows of the group past `rows` store nothing.
#define SMD_DEFINE_REAL_STEP_TO_GLOBAL(NAME, ...)                                                        \
    SMD_REAL_POST_INLINE void NAME(__local const ftype* slm, const int pair, __global ftype* dst,                             \
              const int rows SMD_REAL_PARAM TARVO_SG_PARAM)                                              \
    {                                                                                                    \
        ftype v[SMD_TRIPS(SMD_REAL_TASKS)][4];                                                           \
        for (int i = 0; i < SMD_TRIPS(SMD_REAL_TASKS); ++i) {                                            \
            const int t = pair + i * SMD_PAIRS;                                                          \
            SMD_REAL_STEP_OPERANDS(t)                                                                    \
            __VA_ARGS__                                                                                  \
            if (t < SMD_REAL_TASKS && r < rows) {                                                        \
                __global ftype* out_row = dst + smd_row_out(r);                                          \
                SMD_PUT(out_row, 2 * k, v[i][0], v[i][1]);                                               \
                if (2 * k != SMD_C) SMD_PUT(out_row, 2 * (SMD_C - k), v[i][2], v[i][3]);                 \
            }                                                                                            \
        }                                                                                                \
    }

#if DIM0FACT1 > 1
#define SMD_REAL_PARAM , __global const ftype* realFactors
#define SMD_REAL_ARG , realFactors
#else
#define SMD_REAL_PARAM
#define SMD_REAL_ARG
#endif

#if FWD_DIR
#define SMD_REAL_POST_BODY                                                            \
    if (k == 0) {                                                                     \
        v[i][0] = ar + ai;                                                            \
        v[i][1] = (ftype)0;                                                           \
        v[i][2] = ar - ai;                                                            \
        v[i][3] = (ftype)0;                                                           \
    } else {                                                                          \
        const ftype er = (ftype)0.5 * (ar + mr), ei = (ftype)0.5 * (ai - mi);         \
        const ftype orr = (ftype)0.5 * (ai + mi), oi = (ftype)-0.5 * (ar - mr);       \
        const ftype wr = wc * orr - ws * oi, wi = wc * oi + ws * orr;                 \
        v[i][0] = er + wr;                                                            \
        v[i][1] = ei + wi;                                                            \
        v[i][2] = er - wr;                                                            \
        v[i][3] = wi - ei;                                                            \
    }
// The post-processing writing `out` is inlined into the kernel when a lane
// pair has few tasks, which saves a call per work-item; with many tasks the
// inlined body grows the kernel more than the calls cost.
#if SMD_TRIPS(SMD_REAL_TASKS) <= 5
#define SMD_REAL_POST_INLINE __attribute__((always_inline))
#else
#define SMD_REAL_POST_INLINE
#endif
#if SMD_REAL_POST_TO_GLOBAL
SMD_DEFINE_REAL_STEP_TO_GLOBAL(smd_real_post, SMD_REAL_POST_BODY)
#else
SMD_DEFINE_REAL_STEP(smd_real_post, SMD_REAL_POST_BODY)
#endif
#else
SMD_DEFINE_REAL_STEP(smd_real_pre, {
    if (k == 0) {
        v[i][0] = ar + mr;
        v[i][1] = ar - mr;
        v[i][2] = v[i][0];
        v[i][3] = v[i][1];
    } else {
        const ftype er = ar + mr, ei = ai - mi;
        const ftype dr = ar - mr, di = ai + mi;
        const ftype orr = dr * wc + di * ws, oi = di * wc - dr * ws;
        v[i][0] = er - oi;
        v[i][1] = ei + orr;
        v[i][2] = er + oi;
        v[i][3] = orr - ei;
    }
})
#endif
#endif

// ---- the column transforms -------------------------------------------------------------

#if SMD_COLUMNS
// Column col of transform b: its value in row m lies m pitches after its
// first one, so that the rows of a column are reached at constant offsets
// from one pointer taken with a 64-bit offset.
#define SMD_COL_BASE(b, col) (slm + (long)((b) * SMD_N1 * SMD_PITCH + 2 * (col)))
#define SMD_COL_LOAD(cp, m) SG_LOAD_PARTS((cp), (m) * SMD_PITCH, 1)
#define SMD_COL_STORE(cp, m, v) SG_STORE_PARTS((cp), (m) * SMD_PITCH, 1, (v))
#if DIM1FACT1 == 1
// One factor: a lane pair transforms a whole column.
void smd_columns(__local ftype* slm, const int pair, const ftype pmOne TARVO_SG_PARAM)
{
    for (int i = 0; i < SMD_TRIPS(BATCH_PER_GROUP * SMD_COLS); ++i) {
        const int t = pair + i * SMD_PAIRS;
        const int act = t < BATCH_PER_GROUP * SMD_COLS;
        const int tt = act ? t : 0;
        const int b = tt / SMD_COLS, col = tt % SMD_COLS;
        __local ftype* cp = SMD_COL_BASE(b, col);
        ptype reg[DIM1FACT0];
        _Pragma("unroll") for (int m = 0; m < DIM1FACT0; ++m) reg[m] = SMD_COL_LOAD(cp, m);
        DIM1FACT0_FUNC(reg, pmOne TARVO_SG_ARG);
        if (act)
            _Pragma("unroll") for (int q = 0; q < DIM1FACT0; ++q) {
                const int m = SMD_OUT_ORDER(DIM1FACT0, q);
                SMD_COL_STORE(cp, m, reg[m]);
            }
    }
    barrier(CLK_LOCAL_MEM_FENCE);
}
#else
// Two factors G0 x G1: G0-point transforms over rows c + G1 j with the
// twiddles w^(c j), then G1-point transforms over rows G1 j0 + c, whose
// output k1 is row j0 + G0 k1.
void smd_columns(__local ftype* slm, const int pair, const ftype pmOne, __global const ftype* tbl TARVO_SG_PARAM)
{
    for (int i = 0; i < SMD_TRIPS(BATCH_PER_GROUP * SMD_COLS * DIM1FACT1); ++i) {
        const int t = pair + i * SMD_PAIRS;
        const int act = t < BATCH_PER_GROUP * SMD_COLS * DIM1FACT1;
        const int tt = act ? t : 0;
        const int b = tt / (SMD_COLS * DIM1FACT1), u = tt % (SMD_COLS * DIM1FACT1);
        const int col = u / DIM1FACT1, c = u % DIM1FACT1;
        __local ftype* cp = SMD_COL_BASE(b, col) + (long)(c * SMD_PITCH);
        __global const ftype* twc = SMD_PAIR_TW_COLUMN(tbl, DIM1FACT0, c);
        ptype reg[DIM1FACT0];
        _Pragma("unroll") for (int j = 0; j < DIM1FACT0; ++j) reg[j] = SMD_COL_LOAD(cp, DIM1FACT1 * j);
        DIM1FACT0_FUNC(reg, pmOne TARVO_SG_ARG);
        _Pragma("unroll") for (int q = 0; q < DIM1FACT0; ++q) {
            const int j = SMD_OUT_ORDER(DIM1FACT0, q);
            SMD_PAIR_TW_AT(reg[j], twc, j);
            if (act) SMD_COL_STORE(cp, DIM1FACT1 * j, reg[j]);
        }
    }
    barrier(CLK_LOCAL_MEM_FENCE);
    ptype reg[SMD_TRIPS(BATCH_PER_GROUP * SMD_COLS * DIM1FACT0)][DIM1FACT1];
    for (int i = 0; i < SMD_TRIPS(BATCH_PER_GROUP * SMD_COLS * DIM1FACT0); ++i) {
        const int t = pair + i * SMD_PAIRS;
        const int tt = t < BATCH_PER_GROUP * SMD_COLS * DIM1FACT0 ? t : 0;
        const int b = tt / (SMD_COLS * DIM1FACT0), u = tt % (SMD_COLS * DIM1FACT0);
        const int col = u / DIM1FACT0, j0 = u % DIM1FACT0;
        __local const ftype* cp = SMD_COL_BASE(b, col) + (long)(DIM1FACT1 * j0 * SMD_PITCH);
        _Pragma("unroll") for (int c = 0; c < DIM1FACT1; ++c) reg[i][c] = SMD_COL_LOAD(cp, c);
        DIM1FACT1_FUNC(reg[i], pmOne TARVO_SG_ARG);
    }
    barrier(CLK_LOCAL_MEM_FENCE);
    for (int i = 0; i < SMD_TRIPS(BATCH_PER_GROUP * SMD_COLS * DIM1FACT0); ++i) {
        const int t = pair + i * SMD_PAIRS;
        if (t < BATCH_PER_GROUP * SMD_COLS * DIM1FACT0) {
            const int b = t / (SMD_COLS * DIM1FACT0), u = t % (SMD_COLS * DIM1FACT0);
            const int col = u / DIM1FACT0, j0 = u % DIM1FACT0;
            __local ftype* cp = SMD_COL_BASE(b, col) + (long)(j0 * SMD_PITCH);
            _Pragma("unroll") for (int k1 = 0; k1 < DIM1FACT1; ++k1) SMD_COL_STORE(cp, DIM1FACT0 * k1, reg[i][k1]);
        }
    }
    barrier(CLK_LOCAL_MEM_FENCE);
}
#endif
#endif

// ---- the kernel ------------------------------------------------------------------------

__attribute__((reqd_work_group_size(WORKGROUP_SIZE, 1, 1)))
__attribute__((tarvo_reqd_sub_group_size(SUBGROUP_SIZE)))
__kernel void KERNEL_FUNC(__global const ftype* in, __global ftype* out, __local ftype* slmPtr
#if DIM0FACT1 > 1
                          , __global const ftype* mainTwidlRow
#if DIM0FACT2 > 1
                          , __global const ftype* secondFactTwidlRow
#if DIM0FACT3 > 1
                          , __global const ftype* thirdFactTwidlRow
#endif
#endif
#if REAL_FFT
                          , __global const ftype* realFactors
#endif
#endif
#if RANK > 1 && DIM1FACT1 > 1
                          , __global const ftype* twidlTableDim1
#endif
                          )
{
    TARVO_SG_KERNEL_SCRATCH(SUBGROUP_SIZE);
    const int pair = SG_WG_CPLX_ID();
    const ftype pmOne = SG_PM_ONE(BWD_DIR);
    const long g = (long)get_group_id(1);
    const int transforms = g == (long)get_num_groups(1) - 1 ? BATCH_FOR_LAST_GROUP : BATCH_PER_GROUP;
    const int rows = transforms * SMD_N1;
    __global const ftype* src = in + g * (long)BATCH_PER_GROUP * (long)IDIST * SMD_FP_IN;
    __global ftype* dst = out + OUTPUT_OFFSET_FP + g * (long)BATCH_PER_GROUP * (long)ODIST * SMD_FP_OUT;
    __local ftype* slm = slmPtr;

    // (1) the rows of the group's transforms (the one-factor scale on the way)
#if !SMD_FIRST_FROM_GLOBAL
    for (int r = 0; r < rows; ++r) {
        __global const ftype* in_row = src + smd_row_in(r);
        for (int k = pair; k < SMD_IN_ELEMS; k += SMD_PAIRS)
            SMD_PUT(slm, r * SMD_PITCH + 2 * k, in_row[2 * k] * SMD_SCALE, in_row[2 * k + 1] * SMD_SCALE);
    }
    barrier(CLK_LOCAL_MEM_FENCE);
#endif

    // (2) real backward: columns, then the pre-processing
#if REAL_FFT && BWD_DIR
#if SMD_COLUMNS
#if DIM1FACT1 > 1
    smd_columns(slm, pair, pmOne, twidlTableDim1 TARVO_SG_ARG);
#else
    smd_columns(slm, pair, pmOne TARVO_SG_ARG);
#endif
#endif
    smd_real_pre(slm, pair SMD_REAL_ARG TARVO_SG_ARG);
#endif

    // (3) the rows
#if DIM0FACT1 > 1
#if SMD_FIRST_FROM_GLOBAL
    smd_rows_first_global(slm, pair, pmOne, mainTwidlRow, src, rows TARVO_SG_ARG);
#else
    smd_rows_pass1(slm, pair, pmOne, mainTwidlRow TARVO_SG_ARG);
#endif
#if DIM0FACT2 > 1
    smd_rows_pass2(slm, pair, pmOne, secondFactTwidlRow TARVO_SG_ARG);
#if DIM0FACT3 > 1
    smd_rows_pass3(slm, pair, pmOne, thirdFactTwidlRow TARVO_SG_ARG);
#endif
#endif
#if SMD_LAST_TO_GLOBAL
    smd_rows_last(slm, pair, pmOne, dst, rows TARVO_SG_ARG);
#else
    smd_rows_last(slm, pair, pmOne TARVO_SG_ARG);
#endif
#else
    smd_rows_one(slm, pair, pmOne TARVO_SG_ARG);
#endif

    // (4) real forward: the post-processing; (5) the columns
#if REAL_FFT && FWD_DIR && SMD_REAL_POST_TO_GLOBAL
    smd_real_post(slm, pair, dst, rows SMD_REAL_ARG TARVO_SG_ARG);
#elif REAL_FFT && FWD_DIR
    smd_real_post(slm, pair SMD_REAL_ARG TARVO_SG_ARG);
#endif
#if SMD_COLUMNS && !(REAL_FFT && BWD_DIR)
#if DIM1FACT1 > 1
    smd_columns(slm, pair, pmOne, twidlTableDim1 TARVO_SG_ARG);
#else
    smd_columns(slm, pair, pmOne TARVO_SG_ARG);
#endif
#endif

    // (6) each row's elements, nothing between them
#if !SMD_LAST_TO_GLOBAL && !SMD_REAL_POST_TO_GLOBAL
    for (int r = 0; r < rows; ++r) {
        __global ftype* out_row = dst + smd_row_out(r);
        for (int k = pair; k < SMD_OUT_ELEMS; k += SMD_PAIRS)
            SG_STORE_PARTS(out_row, 2 * k, 1, SG_LOAD_PARTS(slm, r * SMD_PITCH + 2 * k, 1));
    }
#endif
}
