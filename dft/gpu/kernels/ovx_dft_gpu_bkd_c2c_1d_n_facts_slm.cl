// N-factor local-memory kernel: N = FACT0 x FACT1 x FACT2 x FACT3, one
// work-group per transform (global id 1), the whole transform held in local
// memory as Q = N / FACT3 rows of FACT3 complex values. A complex value lives
// in a lane pair (real part in the even lane); every per-lane notion goes
// through the lane-pair vocabulary, so the text also runs one work-item per
// lane pair.
// Input n = c + Q j: pass 1 runs the FACT3-point transforms over j for
// column c and stores row c. With c = c0 + FACT0 c1 + FACT0 FACT1 c2, passes
// 2, 3 and 4 run the FACT2-, FACT1- and FACT0-point transforms over c2, c1
// and c0 of each column k3; output k = k3 + FACT3 (k2 + FACT2 (k1 + FACT1 k0)).
// Pass 1 multiplies its outputs by the main table (the scale folded in);
// tables 2 and 1 are applied as passes 3 and 4 load their values.
// The row pass (USE_PRE_TWIDDLE) multiplies output k of transform r by
// e^(-+2 pi i r k / (N M)) before the store, from a table or computed.
// Each task of passes 2 to 4 reads and rewrites only its own values, so the
// passes need no barrier inside their loops; in groups of at most 256 lane
// pairs pass 3 instead stores its values after a barrier of its own, at
// places where pass 4 reads them linearly (NF_RELAYOUT).
// The loops over the values of one task and over the trips of a pass are
// unrolled, so that the values stay in registers between the loads, the
// transform and the stores, and the tasks' indices are linear in the
// work-item.
// Trip counts are work-group-uniform (the transforms shuffle); lane pairs
// without work compute on clamped indices and store nothing.

#define TARVO_SG_PAIR_VOCABULARY 1

#define NF_Q (FFT_LEN / FACT3)
#define NF_PAIRS (WORK_GROUP_SIZE / 2)
#define NF_TRIPS(tasks) (((tasks) + NF_PAIRS - 1) / NF_PAIRS)
// The trips of `tasks` tasks cover them exactly: every lane pair has work.
#define NF_COVERS(tasks) ((tasks) % NF_PAIRS == 0)
#define NF_SLM(row, col) ((row) * FACT3 + (col))
// Local memory keeps the real parts in one plane and the imaginary parts
// FFT_LEN values later, and stores to the interleaved output keep the two
// parts of a value apart (see SG_STORE_APART): with both parts at
// neighbouring addresses the device compiler packs the two stores of a value
// into one two-element store and then runs the work-items one by one instead
// of vectorising across them.
#define NF_SLM_LOAD(at) SG_LOAD_PARTS(slm, (at), FFT_LEN)
#define NF_SLM_STORE(at, v) SG_STORE_PARTS(slm, (at), FFT_LEN, (v))
#define NF_STORE_OUT(k, v) SG_STORE_APART(dst, (k), (v))
// The lane pair's index in the group and the transform's data, taken again
// in each pass (pass k) so that no index computed before a barrier is
// reused after it.
#define NF_IDS(k)                                                     \
    const int pair = SG_WG_CPLX_ID_AT(k);                             \
    const long tr = (long)get_group_id(1);                            \
    __global const ftype* src = in + 2L * (long)IDIST * tr;           \
    __global ftype* dst = out + 2L * (long)ODIST * tr;                \
    (void)src;                                                        \
    (void)dst
// Multiplies by c + i s forward, c - i s backward (c, s of a lane pair).
#define NF_TWIDDLE(reg, c, s) SG_TWIDDLE_PM(reg, c, s, pmOne)

#if defined(USE_PRECOMPUTED_PRE_TWIDDLE)
#define APPLY_LARGE_1D_TWIDDLE(reg, r, k)                                                        \
    {                                                                                            \
        const long e_ = 2L * ((long)(r) * FFT_LEN + (long)(k));                                  \
        NF_TWIDDLE(reg, preTwiddle[e_], preTwiddle[e_ + 1]);                                      \
    }
#elif defined(USE_RUNTIME_PRE_TWIDDLE)
// The angle of output k of transform r, in units of pi.
#define NF_PRE_TW_ANGLE(r, k) ((ftype)(-2) * (ftype)((uint)(r) * (uint)(k)) / (ftype)PRE_TW_NUM_PTS)
#define APPLY_LARGE_1D_TWIDDLE(reg, r, k)                                                        \
    {                                                                                            \
        const ftype t_ = NF_PRE_TW_ANGLE(r, k);                                                  \
        const ftype c_ = cospi(t_), s_ = sinpi(t_);                                              \
        NF_TWIDDLE(reg, c_, s_);                                                                 \
    }
// Pass 4 takes the cosines and sines of its FACT0 outputs NF_PRE_TW_V at a
// time, through the vector forms of cospi and sinpi: one call per vector
// instead of one per output, which the machine's device runs several times
// faster than the scalar calls.
#if FACT0 % 8 == 0
#define NF_PRE_TW_V 8
#elif FACT0 % 4 == 0
#define NF_PRE_TW_V 4
#elif FACT0 % 2 == 0
#define NF_PRE_TW_V 2
#else
#define NF_PRE_TW_V 1
#endif
#define NF_VCAT(a, b) a##b
#define NF_VTYPE(n) NF_VCAT(ftype, n)
#define NF_VLOAD(n) NF_VCAT(vload, n)
#define NF_VSTORE(n) NF_VCAT(vstore, n)
#else
#define APPLY_LARGE_1D_TWIDDLE(reg, r, k)
#endif
// A scalar computed pre-twiddle (FACT0 odd) is cheaper as a loop over the
// FACT0 outputs (its cosines and sines then vectorise over them) than
// unrolled.
#if defined(USE_RUNTIME_PRE_TWIDDLE)
#define NF_UNROLL_STORES
#else
#define NF_UNROLL_STORES _Pragma("unroll")
#endif
// Pass 3 keeps its values across a barrier and stores them where pass 4
// reads them linearly in groups of at most 256 lane pairs; in larger groups
// keeping the values of the whole transform across the extra barrier costs
// more than it saves, and pass 3 works in place while pass 4 gathers.
#if NF_PAIRS <= 256
#define NF_RELAYOUT 1
#else
#define NF_RELAYOUT 0
#endif

__attribute__((reqd_work_group_size(WORK_GROUP_SIZE, 1, 1)))
__attribute__((tarvo_reqd_sub_group_size(SUBGROUP_SIZE)))
__kernel void KERNEL_FUNC(__global const ftype* in, __global ftype* out, __global const ftype* twidl_max_fact,
                          __global const ftype* twidl_fact2, __global const ftype* twidl_fact1,
                          __local ftype* slmPtr
#if defined(USE_PRECOMPUTED_PRE_TWIDDLE)
                          , __global const ftype* preTwiddle
#endif
                          )
{
    TARVO_SG_KERNEL_SCRATCH(SUBGROUP_SIZE);
    const ftype pmOne = SG_PM_ONE(BWD_DIR);
    __local ftype* slm = slmPtr;

    /* pass 1: work-item c of the transform takes column c */
    {
        NF_IDS(1);
        #pragma unroll
        for (int i = 0; i < NF_TRIPS(NF_Q); ++i) {
            const int cc = pair + i * NF_PAIRS;
            const int act = NF_COVERS(NF_Q) || cc < NF_Q;
            const int c = act ? cc : 0;
            ptype reg[FACT3];
            #pragma unroll
            for (int j = 0; j < FACT3; ++j) reg[j] = SG_LOAD(src, (long)NF_Q * j + c);
            FACT3_FUNC(reg, pmOne TARVO_SG_ARG);
            /* main table block (c / 8, r), lane pair c mod 8: the even lane's
               entries of the two halves are the cosine and the sine, which is
               all a lane pair needs */
            #pragma unroll
            for (int r = 0; r < FACT3; ++r) {
                const int at = 32 * ((c / 8) * MAX_FACT + r) + 2 * (c % 8);
                NF_TWIDDLE(reg[r], twidl_max_fact[at], twidl_max_fact[at + 16]);
            }
            if (act) {
                #pragma unroll
                for (int r = 0; r < FACT3; ++r) NF_SLM_STORE(NF_SLM(c, r), reg[r]);
            }
        }
    }
    barrier(CLK_LOCAL_MEM_FENCE);

    /* pass 2: column k3, rows c' + FACT0 FACT1 j */
    {
        NF_IDS(2);
        #pragma unroll
        for (int i = 0; i < NF_TRIPS(FFT_LEN / FACT2); ++i) {
            const int t = pair + i * NF_PAIRS;
            const int act = NF_COVERS(FFT_LEN / FACT2) || t < FFT_LEN / FACT2;
            const int tt = act ? t : 0;
            ptype reg[FACT2];
            /* with k3 = tt mod FACT3 and cp = tt / FACT3, the values of column
               k3 at rows cp + FACT0 FACT1 j, that is at
               NF_SLM(cp + FACT0 FACT1 j, k3) = tt + j N / FACT2: spelt so, the
               local-memory accesses are linear in the work-item */
            #pragma unroll
            for (int j = 0; j < FACT2; ++j) reg[j] = NF_SLM_LOAD(tt + (FFT_LEN / FACT2) * j);
            FACT2_FUNC(reg, pmOne TARVO_SG_ARG);
            if (act) {
                #pragma unroll
                for (int j = 0; j < FACT2; ++j) NF_SLM_STORE(tt + (FFT_LEN / FACT2) * j, reg[j]);
            }
        }
    }
    barrier(CLK_LOCAL_MEM_FENCE);

#if NF_RELAYOUT
    /* pass 3: column k3, rows c0 + FACT0 j + FACT0 FACT1 k2. Task
       t = c0 + FACT0 (k3 + FACT3 k2) keeps its FACT1 outputs across a
       barrier and then stores output k1 at t + k1 N / FACT1, so that the
       stores are linear in the work-item and pass 4 finds the FACT0 values
       of its task next to one another. */
    {
        NF_IDS(3);
        ptype reg[NF_TRIPS(FFT_LEN / FACT1)][FACT1];
        #pragma unroll
        for (int i = 0; i < NF_TRIPS(FFT_LEN / FACT1); ++i) {
            const int t = pair + i * NF_PAIRS;
            const int act = NF_COVERS(FFT_LEN / FACT1) || t < FFT_LEN / FACT1;
            const int tt = act ? t : 0;
            const int c0 = tt % FACT0, u = tt / FACT0;
            const int k3 = u % FACT3, k2 = u / FACT3;
            const int base = c0 + FACT0 * FACT1 * k2;
            #pragma unroll
            for (int j = 0; j < FACT1; ++j) {
                /* table 2 entry (c0 + FACT0 j) FACT2 + k2 */
                const int e = (c0 + FACT0 * j) * FACT2 + k2;
                reg[i][j] = NF_SLM_LOAD(NF_SLM(base + FACT0 * j, k3));
                NF_TWIDDLE(reg[i][j], twidl_fact2[2 * e], twidl_fact2[2 * e + 1]);
            }
            FACT1_FUNC(reg[i], pmOne TARVO_SG_ARG);
        }
        barrier(CLK_LOCAL_MEM_FENCE);
        const int pair2 = SG_WG_CPLX_ID_AT(9);
        #pragma unroll
        for (int i = 0; i < NF_TRIPS(FFT_LEN / FACT1); ++i) {
            const int t = pair2 + i * NF_PAIRS;
            if (NF_COVERS(FFT_LEN / FACT1) || t < FFT_LEN / FACT1) {
                #pragma unroll
                for (int j = 0; j < FACT1; ++j) NF_SLM_STORE(t + (FFT_LEN / FACT1) * j, reg[i][j]);
            }
        }
    }
#else
    /* pass 3: column k3, rows c0 + FACT0 j + FACT0 FACT1 k2 */
    {
        NF_IDS(5);
        #pragma unroll
        for (int i = 0; i < NF_TRIPS(FFT_LEN / FACT1); ++i) {
            const int t = pair + i * NF_PAIRS;
            const int act = NF_COVERS(FFT_LEN / FACT1) || t < FFT_LEN / FACT1;
            const int tt = act ? t : 0;
            const int k3 = tt % FACT3, u = tt / FACT3;
            const int c0 = u % FACT0, k2 = u / FACT0;
            const int base = c0 + FACT0 * FACT1 * k2;
            ptype reg[FACT1];
            #pragma unroll
            for (int j = 0; j < FACT1; ++j) {
                /* table 2 entry (c0 + FACT0 j) FACT2 + k2 */
                const int row = base + FACT0 * j, e = (c0 + FACT0 * j) * FACT2 + k2;
                reg[j] = NF_SLM_LOAD(NF_SLM(row, k3));
                NF_TWIDDLE(reg[j], twidl_fact2[2 * e], twidl_fact2[2 * e + 1]);
            }
            FACT1_FUNC(reg, pmOne TARVO_SG_ARG);
            if (act) {
                #pragma unroll
                for (int j = 0; j < FACT1; ++j) NF_SLM_STORE(NF_SLM(base + FACT0 * j, k3), reg[j]);
            }
        }
    }
#endif
    barrier(CLK_LOCAL_MEM_FENCE);

#if NF_RELAYOUT
#define NF_PASS4_AT(tt, k1, j) (FACT0 * (tt) + (j))
#else
#define NF_PASS4_AT(tt, k1, j) \
    NF_SLM(FACT0 * (k1) + FACT0 * FACT1 * (((tt) / FACT3) % FACT2) + (j), (tt) % FACT3)
#endif
    /* pass 4: task t = k3 + FACT3 (k2 + FACT2 k1) takes column k3 at rows
       FACT0 k1 + FACT0 FACT1 k2 + j (the values FACT0 t + j where pass 3
       laid them out for it) and writes outputs t + j N / FACT0, so that
       neighbouring work-items write neighbouring outputs. */
    {
        NF_IDS(6);
        #pragma unroll
        for (int i = 0; i < NF_TRIPS(FFT_LEN / FACT0); ++i) {
            const int t = pair + i * NF_PAIRS;
            const int act = NF_COVERS(FFT_LEN / FACT0) || t < FFT_LEN / FACT0;
            const int tt = act ? t : 0;
            const int k1 = tt / (FACT3 * FACT2);
            ptype reg[FACT0];
            #pragma unroll
            for (int j = 0; j < FACT0; ++j) {
                /* table 1 entry j FACT1 + k1 */
                const int e = j * FACT1 + k1;
                reg[j] = NF_SLM_LOAD(NF_PASS4_AT(tt, k1, j));
                NF_TWIDDLE(reg[j], twidl_fact1[2 * e], twidl_fact1[2 * e + 1]);
            }
            FACT0_FUNC(reg, pmOne TARVO_SG_ARG);
#if defined(USE_RUNTIME_PRE_TWIDDLE) && NF_PRE_TW_V > 1
            ftype tw_c[FACT0], tw_s[FACT0];
            #pragma unroll
            for (int j0 = 0; j0 < FACT0; j0 += NF_PRE_TW_V) {
                ftype t_[NF_PRE_TW_V];
                #pragma unroll
                for (int q = 0; q < NF_PRE_TW_V; ++q) t_[q] = NF_PRE_TW_ANGLE(tr, tt + (j0 + q) * (FFT_LEN / FACT0));
                const NF_VTYPE(NF_PRE_TW_V) tv_ = NF_VLOAD(NF_PRE_TW_V)(0, t_);
                NF_VSTORE(NF_PRE_TW_V)(cospi(tv_), 0, tw_c + j0);
                NF_VSTORE(NF_PRE_TW_V)(sinpi(tv_), 0, tw_s + j0);
            }
            #pragma unroll
            for (int j = 0; j < FACT0; ++j) {
                const int k = tt + j * (FFT_LEN / FACT0);
                NF_TWIDDLE(reg[j], tw_c[j], tw_s[j]);
                if (act) NF_STORE_OUT((long)k, reg[j]);
            }
#else
            NF_UNROLL_STORES
            for (int j = 0; j < FACT0; ++j) {
                const int k = tt + j * (FFT_LEN / FACT0);
                APPLY_LARGE_1D_TWIDDLE(reg[j], tr, k);
                if (act) NF_STORE_OUT((long)k, reg[j]);
            }
#endif
        }
    }
}
