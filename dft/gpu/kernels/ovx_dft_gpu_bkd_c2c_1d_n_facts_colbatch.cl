// N-factor column-batched kernels: N = FACT0 x FACT1 x FACT2 (absent passes
// are 1), transforms are columns (batch distance 1, points INPUT_STRIDE
// apart). A work-group holds INNER_BATCH_PER_GROUP adjacent columns of one
// outer batch in local memory (for each row r of the block, the columns'
// value r). A complex value lives in a lane pair, so a sub-group carries
// H = SUBGROUP_SIZE / 2 columns; sub-group s works on column block s % NC_CB
// and is row worker s / NC_CB of SUBGRPS_PER_FFT.
// Input index n = m + M j (M = FACT1 FACT2): pass 1 runs the FACT0-point
// transforms over j and multiplies by table 1 (the scale folded in), block
// row k0 * M + m; with m = m2 + FACT2 j1 pass 2 runs the FACT1-point
// transforms over j1 (and table 2 with three factors), pass 3 the
// FACT2-point ones; output k0 + FACT0 (k1 + FACT1 k2).
// Every loop has a work-group-uniform trip count and every work-item runs
// every transform (the transforms shuffle): a work-item without a column
// reads the block's first column, and one without a task of its own reads
// a task that exists.

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
// Stores to the interleaved output keep the two parts of a value apart (see
// SG_STORE_APART), so that the device compiler vectorises across work-items.
#define NC_STORE_OUT(dst, k, v) SG_STORE_APART((dst), (k), (v))

// Local memory keeps the real parts of the block in one plane and the
// imaginary parts NC_SLM_PLANE values later, for the same reason.
#define NC_SLM_PLANE ((int)(NC_N * NC_CC))
#define NC_SLM_LOAD(slm, at) SG_LOAD_PARTS((slm), (at), NC_SLM_PLANE)
#define NC_SLM_STORE(slm, at, v) SG_STORE_PARTS((slm), (at), NC_SLM_PLANE, (v))

// Every work-item has a column: stores to the output need no test.
#if INNER_BATCH % NC_CC == 0 && NC_CC % NC_H == 0
#define NC_ALL_COLS 1
#else
#define NC_ALL_COLS 0
#endif
// Every work-item's column lies in the block (lc < NC_CC): local-memory
// stores need no test. A work-item past the block's last column
// (INNER_BATCH_PER_GROUP not a multiple of H) stores nothing there.
#define NC_IN_BLOCK(lc) (NC_CC % NC_H == 0 || (lc) < NC_CC)

// Tasks of a pass (rows of its transforms) are dealt to the NC_P row workers
// in rounds: NC_P tasks a round, then the NC_REM(T) that are left. When that
// last round leaves workers without a task, a branch around the stores makes
// the device compiler put the whole transform under the branch, and a loop
// over work-items that holds such a branch is not vectorised. Where the left
// tasks divide the workers evenly (NC_SPLIT), each of them goes to NC_DUP(T)
// workers that all run its transform and store a share of its outputs each,
// so no work-item is idle and nothing is tested; the other cases test.
// Only passes whose stores go to another area than their loads take the
// shares (a worker's stores must not reach values that another worker of
// the same task still reads).
#define NC_REM(T) ((T) % NC_P)
#define NC_REM1(T) (NC_REM(T) ? NC_REM(T) : 1)
#define NC_DUP(T) (NC_P / NC_REM1(T))
#define NC_SPLIT(T, F) (NC_REM(T) != 0 && NC_P % NC_REM(T) == 0 && (F) % NC_DUP(T) == 0)

// Value j of a task's transform, for the share d of D (outputs d Q .. d Q + Q - 1,
// Q = F / D) that the work-item stores: out[d Q + jj].
#define NC_PICK(v, reg, d, D, Q, jj)                                              \
    {                                                                             \
        v = reg[jj];                                                              \
        _Pragma("unroll") for (int c_ = 1; c_ < (D); ++c_)                        \
            v = (d) == c_ ? reg[c_ * (Q) + (jj)] : v;                             \
    }

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
#define NC_GRP(ob, col) (((long)(ob) * INNER_BATCH + (col)) / (((long)OUTER_BATCH * INNER_BATCH) / POST_TWIDDLE_BATCH))
#else
#define NC_POST(reg, k, grp, pmOne)
#define NC_GRP(ob, col) 0L
#endif
// The loops over the values of one task are unrolled, so that the values
// stay in registers; with the computed post-twiddle the loops that apply it
// stay loops, whose cosines and sines vectorise over the values.
#ifdef POST_TWIDDLE_BATCH
#define NC_UNROLL_POST
#else
#define NC_UNROLL_POST _Pragma("unroll")
#endif

// The work-item's place in the group, from its linear complex index (sub-group
// s = id / H, lane id % H): row worker w, column lc of the block and whether
// that column exists (ok). A work-item without a column reads the block's
// first column and stores nothing to the output; in local memory it keeps to
// its own column (lc < NC_CC) or stores nothing (NC_IN_BLOCK).
// Each pass k takes the index afresh, so that no index computed before a
// barrier is reused after it.
#define NC_LANE(k)                                                                \
    const int wid_ = SG_WG_CPLX_ID_AT(k);                                         \
    const int w = wid_ / NC_H / NC_CB;                                            \
    const int lc = (wid_ / NC_H % NC_CB) * NC_H + wid_ % NC_H;                    \
    const long block = (long)get_group_id(0);                                     \
    const long ob = (long)get_global_id(1);                                       \
    const int cols = block == NC_BLOCKS - 1 ? INNER_BATCH_FOR_LAST_GROUP : NC_CC; \
    const int ok = NC_ALL_COLS || lc < cols;                                      \
    const long col = block * NC_CC + lc;                                          \
    __global ftype* dst = out + 2L * (ob * (long)OUTER_BATCH_OUTPUT_DISTANCE)

// The passes for one task t: the work-item stores outputs d Q .. d Q + Q - 1
// (Q = F / D) of the task's F-point transform, and only when st. D is a
// literal at each use, so that every index into the values is a constant.

// Pass 1, row m = t (< NC_M): twiddled by table 1, to local memory (or, with
// one factor, to the output).
#if FACT1 == 1
#define NC_PASS1_STORE(D, Q)                                                      \
    NC_UNROLL_POST for (int jj = 0; jj < Q; ++jj) NC_POST(res[jj], d_ * Q + jj, grp, pmOne); \
    if (st_ && ok)                                                                \
        _Pragma("unroll") for (int jj = 0; jj < Q; ++jj) NC_STORE_OUT(dst, NC_OUT_INDEX(col, d_ * Q + jj), res[jj]);
#else
#define NC_PASS1_STORE(D, Q)                                                      \
    if (st_ && NC_IN_BLOCK(lc))                                                   \
        _Pragma("unroll") for (int jj = 0; jj < Q; ++jj)                          \
            NC_SLM_STORE(slm, ((d_ * Q + jj) * NC_M + t_) * NC_CC + lc, res[jj]);
#endif
#define NC_PASS1(D)                                                               \
    {                                                                             \
        ptype reg[FACT0];                                                         \
        _Pragma("unroll") for (int j = 0; j < FACT0; ++j)                         \
            reg[j] = SG_LOAD(src, (long)(t_ + NC_M * j) * INPUT_STRIDE);          \
        FACT0_FUNC(reg, pmOne TARVO_SG_ARG);                                      \
        ptype res[FACT0 / (D)];                                                   \
        _Pragma("unroll") for (int jj = 0; jj < FACT0 / (D); ++jj) {              \
            const int e = t_ * FACT0 + d_ * (FACT0 / (D)) + jj;                   \
            NC_PICK(res[jj], reg, d_, D, FACT0 / (D), jj);                        \
            NC_TWIDDLE(res[jj], tab1[2 * e], tab1[2 * e + 1], pmOne);             \
        }                                                                         \
        NC_PASS1_STORE(D, FACT0 / (D))                                            \
    }

// Pass 2, task t = k0 FACT2 + m2 (< FACT0 FACT2): twiddled by table 2 back to
// local memory with three factors, to the output with two.
#if FACT2 > 1
#define NC_PASS2_STORE(D, Q)                                                      \
    _Pragma("unroll") for (int jj = 0; jj < Q; ++jj) {                            \
        const int e = m2 * FACT1 + d_ * Q + jj;                                   \
        NC_TWIDDLE(res[jj], tab2[2 * e], tab2[2 * e + 1], pmOne);                 \
    }                                                                             \
    if (st_ && NC_IN_BLOCK(lc))                                                   \
        _Pragma("unroll") for (int jj = 0; jj < Q; ++jj)                          \
            NC_SLM_STORE(slm, (k0 * NC_M + m2 + FACT2 * (d_ * Q + jj)) * NC_CC + lc, res[jj]);
#else
#define NC_PASS2_STORE(D, Q)                                                      \
    NC_UNROLL_POST for (int jj = 0; jj < Q; ++jj) NC_POST(res[jj], k0 + FACT0 * (d_ * Q + jj), grp, pmOne); \
    if (st_ && ok)                                                                \
        _Pragma("unroll") for (int jj = 0; jj < Q; ++jj)                          \
            NC_STORE_OUT(dst, NC_OUT_INDEX(col, k0 + FACT0 * (d_ * Q + jj)), res[jj]);
#endif
#define NC_PASS2(D)                                                               \
    {                                                                             \
        const int k0 = t_ / FACT2, m2 = t_ % FACT2;                               \
        ptype reg[FACT1];                                                         \
        _Pragma("unroll") for (int j = 0; j < FACT1; ++j)                         \
            reg[j] = NC_SLM_LOAD(slm, (k0 * NC_M + m2 + FACT2 * j) * NC_CC + lc); \
        FACT1_FUNC(reg, pmOne TARVO_SG_ARG);                                      \
        ptype res[FACT1 / (D)];                                                   \
        _Pragma("unroll") for (int jj = 0; jj < FACT1 / (D); ++jj)                \
            NC_PICK(res[jj], reg, d_, D, FACT1 / (D), jj);                        \
        NC_PASS2_STORE(D, FACT1 / (D))                                            \
    }

// Pass 3, task t = k0 FACT1 + k1 (< FACT0 FACT1): to the output.
#define NC_PASS3(D)                                                               \
    {                                                                             \
        const int k0 = t_ / FACT1, k1 = t_ % FACT1;                               \
        ptype reg[FACT2];                                                         \
        _Pragma("unroll") for (int j = 0; j < FACT2; ++j)                         \
            reg[j] = NC_SLM_LOAD(slm, (k0 * NC_M + j + FACT2 * k1) * NC_CC + lc); \
        FACT2_FUNC(reg, pmOne TARVO_SG_ARG);                                      \
        ptype res[FACT2 / (D)];                                                   \
        _Pragma("unroll") for (int jj = 0; jj < FACT2 / (D); ++jj)                \
            NC_PICK(res[jj], reg, d_, D, FACT2 / (D), jj);                        \
        NC_UNROLL_POST for (int jj = 0; jj < FACT2 / (D); ++jj)                   \
            NC_POST(res[jj], k0 + FACT0 * (k1 + FACT1 * (d_ * (FACT2 / (D)) + jj)), grp, pmOne); \
        if (st_ && ok)                                                            \
            _Pragma("unroll") for (int jj = 0; jj < FACT2 / (D); ++jj)            \
                NC_STORE_OUT(dst, NC_OUT_INDEX(col, k0 + FACT0 * (k1 + FACT1 * (d_ * (FACT2 / (D)) + jj))), res[jj]); \
    }

// The rounds of a pass over T tasks of F-point transforms: full rounds, then
// the tasks left, shared out (SPLIT) or tested. A task that does not exist is
// computed as task 0 and not stored.
#define NC_ROUNDS(T, F, SPLIT, PASS)                                              \
    {                                                                             \
        for (int i_ = 0; i_ < (T) / NC_P; ++i_) {                                 \
            const int tw_ = w + i_ * NC_P, d_ = 0, st_ = 1;                       \
            const int t_ = tw_ < (T) ? tw_ : 0;                                   \
            PASS(1)                                                               \
        }                                                                         \
        if (NC_REM(T) != 0) {                                                     \
            if (SPLIT) {                                                          \
                const int t_ = ((T) / NC_P) * NC_P + w % NC_REM1(T);              \
                const int d_ = w / NC_REM1(T), st_ = 1;                           \
                PASS((SPLIT) ? NC_DUP(T) : 1)                                     \
            } else {                                                              \
                const int tw_ = ((T) / NC_P) * NC_P + w;                          \
                const int st_ = tw_ < (T);                                        \
                const int t_ = st_ ? tw_ : 0, d_ = 0;                             \
                PASS(1)                                                           \
            }                                                                     \
        }                                                                         \
    }

__attribute__((reqd_work_group_size(WORKGROUP_SIZE, 1, 1)))
__attribute__((tarvo_reqd_sub_group_size(SUBGROUP_SIZE)))
__kernel void KERNEL_FUNC(__global const ftype* in, __global ftype* out, __global const ftype* tab1,
#if FACT2 > 1
                          __global const ftype* tab2,
#endif
                          __local ftype* slm)
{
    TARVO_SG_KERNEL_SCRATCH(SUBGROUP_SIZE);
    const ftype pmOne = SG_PM_ONE(BWD_DIR);

    /* pass 1: the split last round only when a second pass follows (with one
       factor a task's stores could reach the values that its other workers
       read, in place) */
    {
        NC_LANE(1);
        const long grp = NC_GRP(ob, col);
        __global const ftype* src =
            in + 2L * ((long)INPUT_OFFSET + ob * (long)OUTER_BATCH_INPUT_DISTANCE + block * NC_CC + (ok ? lc : 0));
        NC_ROUNDS(NC_M, FACT0, FACT1 > 1 && NC_SPLIT(NC_M, FACT0), NC_PASS1);
    }
#if FACT1 > 1
    barrier(CLK_LOCAL_MEM_FENCE);
    /* pass 2: in place in local memory with three factors (no split: the
       workers of a task read what the others store), else to the output */
    {
        NC_LANE(2);
        const long grp = NC_GRP(ob, col);
        NC_ROUNDS(FACT0 * FACT2, FACT1, FACT2 == 1 && NC_SPLIT(FACT0 * FACT2, FACT1), NC_PASS2);
    }
#endif
#if FACT2 > 1
    barrier(CLK_LOCAL_MEM_FENCE);
    /* pass 3: local memory to the output */
    {
        NC_LANE(3);
        const long grp = NC_GRP(ob, col);
        NC_ROUNDS(FACT0 * FACT1, FACT2, NC_SPLIT(FACT0 * FACT1, FACT2), NC_PASS3);
    }
#endif
}
