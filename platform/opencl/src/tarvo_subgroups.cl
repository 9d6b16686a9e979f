/* Emulation of the sub-group extension cl_tarvo_subgroups on a device
 * without sub-groups. Placed in front of every program text that enables
 * the extension; TARVO_SG_MAX_WG (the largest work-group of the device) is
 * defined before it.
 *
 * Lanes are numbered by the linear local id: lane = id mod S, sub-group =
 * id div S, S being the size the kernel declares with
 * TARVO_SG_KERNEL_SCRATCH(S). Shuffles go through an exchange area in local
 * memory that the kernel declares: each work-item stores its value in its
 * slot, the work-group meets at a barrier, and each work-item loads the slot
 * of the lane it asked for. Two halves of the area alternate, so that one
 * barrier per shuffle is enough: a work-item can only overwrite a half after
 * every work-item has passed the next barrier, that is after every load from
 * that half is done. Every shuffle must therefore be reached by the whole
 * work-group, in the same order.
 */
#define TARVO_SG_EMULATION 1

/* One slot holds the widest value that can be exchanged (8 x 64 bits). */
typedef struct {
    __local ulong8* area;   /* 2 * TARVO_SG_MAX_WG slots */
    uint size;              /* S */
    uint phase;             /* half used by the next shuffle */
    uint lane;              /* lane (lane pair in the lane-pair mode) in the sub-group */
    uint sgid;              /* sub-group in the work-group */
} tarvo_sg_state;
typedef tarvo_sg_state* tarvo_sg_ctx;

#ifndef TARVO_SG_LANE_PAIR
#define TARVO_SG_KERNEL_SCRATCH(S)                                        \
    __local ulong8 _tsg_area[2 * TARVO_SG_MAX_WG];                         \
    tarvo_sg_state _tsg_state = {_tsg_area, (uint)(S), 0u, _tsg_lid() % (uint)(S), \
                                 _tsg_lid() / (uint)(S)};                  \
    tarvo_sg_ctx _tsg = &_tsg_state
#else
/* One work-item per lane pair: no exchange area. S must be even. */
#define TARVO_SG_KERNEL_SCRATCH(S)                                        \
    typedef char _tsg_size_is_even[((S) >= 2 && (S) % 2 == 0) ? 1 : -1];  \
    tarvo_sg_state _tsg_state = {0, (uint)(S), 0u, _tsg_lid() % ((uint)(S) / 2u), \
                                 _tsg_lid() / ((uint)(S) / 2u)};           \
    tarvo_sg_ctx _tsg = &_tsg_state
#endif
#define TARVO_SG_PARAM , tarvo_sg_ctx _tsg
#define TARVO_SG_ARG , _tsg
/* For helpers without any other parameter. */
#define TARVO_SG_PARAM_ONLY tarvo_sg_ctx _tsg
#define TARVO_SG_ARG_ONLY _tsg

/* The required sub-group size is carried by TARVO_SG_KERNEL_SCRATCH; the
 * attributes of the native compiler expand to an empty attribute list. */
#define tarvo_reqd_sub_group_size(S)
#define tarvo_reqd_workgroup_walk_order(...)

#define _TSG_FN static inline __attribute__((overloadable, always_inline))

static inline __attribute__((always_inline)) uint _tsg_lid(void) {
    return (uint)(get_local_id(0) +
                  get_local_size(0) * (get_local_id(1) + get_local_size(1) * get_local_id(2)));
}
static inline __attribute__((always_inline)) uint _tsg_wg_items(void) {
    return (uint)(get_local_size(0) * get_local_size(1) * get_local_size(2));
}
/* Computed once per kernel (the size is a constant there). */
static inline __attribute__((always_inline)) uint _tsg_lane(tarvo_sg_ctx c) { return c->lane; }
static inline __attribute__((always_inline)) uint _tsg_sgid(tarvo_sg_ctx c) { return c->sgid; }
static inline __attribute__((always_inline)) uint _tsg_num_sg(tarvo_sg_ctx c) {
    return (_tsg_wg_items() + c->size - 1u) / c->size;
}
static inline __attribute__((always_inline)) uint _tsg_sg_size(tarvo_sg_ctx c) {
    uint first = _tsg_sgid(c) * c->size;
    uint left = _tsg_wg_items() - first;
    return left < c->size ? left : c->size;
}

/* Shuffle core: store own value, one barrier, load the value of lane `src`
 * of the same sub-group. */
#define _TSG_DEFINE_SHUFFLE(T)                                               \
    _TSG_FN T _tsg_shuffle(tarvo_sg_ctx c, T x, uint src) {                  \
        __local T* slot = (__local T*)(c->area + c->phase * TARVO_SG_MAX_WG); \
        c->phase ^= 1u;                                                      \
        uint lid = min(_tsg_lid(), (uint)(TARVO_SG_MAX_WG - 1));             \
        slot[lid] = x;                                                       \
        barrier(CLK_LOCAL_MEM_FENCE);                                        \
        return slot[lid - lid % c->size + src % c->size];                    \
    }                                                                        \
    _TSG_FN T _tsg_shuffle_xor(tarvo_sg_ctx c, T x, uint mask) {             \
        return _tsg_shuffle(c, x, _tsg_lane(c) ^ mask);                      \
    }

#define _TSG_DEFINE_SHUFFLE_VECTORS(T) \
    _TSG_DEFINE_SHUFFLE(T)             \
    _TSG_DEFINE_SHUFFLE(T##2)          \
    _TSG_DEFINE_SHUFFLE(T##3)          \
    _TSG_DEFINE_SHUFFLE(T##4)          \
    _TSG_DEFINE_SHUFFLE(T##8)

_TSG_DEFINE_SHUFFLE_VECTORS(char)
_TSG_DEFINE_SHUFFLE_VECTORS(uchar)
_TSG_DEFINE_SHUFFLE_VECTORS(short)
_TSG_DEFINE_SHUFFLE_VECTORS(ushort)
_TSG_DEFINE_SHUFFLE_VECTORS(int)
_TSG_DEFINE_SHUFFLE_VECTORS(uint)
_TSG_DEFINE_SHUFFLE_VECTORS(long)
_TSG_DEFINE_SHUFFLE_VECTORS(ulong)
_TSG_DEFINE_SHUFFLE_VECTORS(float)
#ifndef _TSG_NO_FP64
_TSG_DEFINE_SHUFFLE_VECTORS(double)
#endif

#ifndef TARVO_SG_LANE_PAIR
#define tarvo_sub_group_shuffle(x, lane) _tsg_shuffle(_tsg, (x), (uint)(lane))
#define tarvo_sub_group_shuffle_xor(x, mask) _tsg_shuffle_xor(_tsg, (x), (uint)(mask))

/* Block reads and writes: lane L moves element i of the block at
 * p[i*S + L]; no exchange between lanes. */
#define _TSG_V1(T, p, l, s) p[l]
#define _TSG_V2(T, p, l, s) (T##2)(p[l], p[(s) + l])
#define _TSG_V4(T, p, l, s) (T##4)(p[l], p[(s) + l], p[2 * (s) + l], p[3 * (s) + l])
#define _TSG_V8(T, p, l, s)                                                         \
    (T##8)(p[l], p[(s) + l], p[2 * (s) + l], p[3 * (s) + l], p[4 * (s) + l], p[5 * (s) + l], \
           p[6 * (s) + l], p[7 * (s) + l])

#define _TSG_DEFINE_BLOCK(T, AS)                                                     \
    _TSG_FN T _tsg_block_read1(tarvo_sg_ctx c, const AS T* p) {                      \
        uint l = _tsg_lane(c), s = c->size;                                          \
        return _TSG_V1(T, p, l, s);                                                  \
    }                                                                                \
    _TSG_FN T##2 _tsg_block_read2(tarvo_sg_ctx c, const AS T* p) {                   \
        uint l = _tsg_lane(c), s = c->size;                                          \
        return _TSG_V2(T, p, l, s);                                                  \
    }                                                                                \
    _TSG_FN T##4 _tsg_block_read4(tarvo_sg_ctx c, const AS T* p) {                   \
        uint l = _tsg_lane(c), s = c->size;                                          \
        return _TSG_V4(T, p, l, s);                                                  \
    }                                                                                \
    _TSG_FN T##8 _tsg_block_read8(tarvo_sg_ctx c, const AS T* p) {                   \
        uint l = _tsg_lane(c), s = c->size;                                          \
        return _TSG_V8(T, p, l, s);                                                  \
    }                                                                                \
    _TSG_FN void _tsg_block_write1(tarvo_sg_ctx c, AS T* p, T v) {                   \
        p[_tsg_lane(c)] = v;                                                         \
    }                                                                                \
    _TSG_FN void _tsg_block_write2(tarvo_sg_ctx c, AS T* p, T##2 v) {                \
        uint l = _tsg_lane(c), s = c->size;                                          \
        p[l] = v.s0; p[s + l] = v.s1;                                                \
    }                                                                                \
    _TSG_FN void _tsg_block_write4(tarvo_sg_ctx c, AS T* p, T##4 v) {                \
        uint l = _tsg_lane(c), s = c->size;                                          \
        p[l] = v.s0; p[s + l] = v.s1; p[2 * s + l] = v.s2; p[3 * s + l] = v.s3;      \
    }                                                                                \
    _TSG_FN void _tsg_block_write8(tarvo_sg_ctx c, AS T* p, T##8 v) {                \
        uint l = _tsg_lane(c), s = c->size;                                          \
        p[l] = v.s0; p[s + l] = v.s1; p[2 * s + l] = v.s2; p[3 * s + l] = v.s3;      \
        p[4 * s + l] = v.s4; p[5 * s + l] = v.s5; p[6 * s + l] = v.s6;               \
        p[7 * s + l] = v.s7;                                                         \
    }

_TSG_DEFINE_BLOCK(uint, __global)
_TSG_DEFINE_BLOCK(uint, __local)
_TSG_DEFINE_BLOCK(ulong, __global)
_TSG_DEFINE_BLOCK(ulong, __local)

/* The 32-bit and 64-bit names share the overloads above, which pick the
 * word by the pointer type; a pointer of the other width must not build (the
 * extension's functions take only their own word type). */
#define _TSG_WORDS(p, bytes) ((void)sizeof(char[sizeof(*(p)) == (bytes) ? 1 : -1]), (p))
/* 32-bit words */
#define tarvo_sub_group_block_read(p) _tsg_block_read1(_tsg, _TSG_WORDS(p, 4))
#define tarvo_sub_group_block_read2(p) _tsg_block_read2(_tsg, _TSG_WORDS(p, 4))
#define tarvo_sub_group_block_read4(p) _tsg_block_read4(_tsg, _TSG_WORDS(p, 4))
#define tarvo_sub_group_block_read8(p) _tsg_block_read8(_tsg, _TSG_WORDS(p, 4))
#define tarvo_sub_group_block_write(p, v) _tsg_block_write1(_tsg, _TSG_WORDS(p, 4), (uint)(v))
#define tarvo_sub_group_block_write2(p, v) _tsg_block_write2(_tsg, _TSG_WORDS(p, 4), (uint2)(v))
#define tarvo_sub_group_block_write4(p, v) _tsg_block_write4(_tsg, _TSG_WORDS(p, 4), (uint4)(v))
#define tarvo_sub_group_block_write8(p, v) _tsg_block_write8(_tsg, _TSG_WORDS(p, 4), (uint8)(v))
/* 64-bit words */
#define tarvo_sub_group_block_read_ul(p) _tsg_block_read1(_tsg, _TSG_WORDS(p, 8))
#define tarvo_sub_group_block_read_ul2(p) _tsg_block_read2(_tsg, _TSG_WORDS(p, 8))
#define tarvo_sub_group_block_read_ul4(p) _tsg_block_read4(_tsg, _TSG_WORDS(p, 8))
#define tarvo_sub_group_block_read_ul8(p) _tsg_block_read8(_tsg, _TSG_WORDS(p, 8))
#define tarvo_sub_group_block_write_ul(p, v) _tsg_block_write1(_tsg, _TSG_WORDS(p, 8), (ulong)(v))
#define tarvo_sub_group_block_write_ul2(p, v) _tsg_block_write2(_tsg, _TSG_WORDS(p, 8), (ulong2)(v))
#define tarvo_sub_group_block_write_ul4(p, v) _tsg_block_write4(_tsg, _TSG_WORDS(p, 8), (ulong4)(v))
#define tarvo_sub_group_block_write_ul8(p, v) _tsg_block_write8(_tsg, _TSG_WORDS(p, 8), (ulong8)(v))

/* Ids and sizes. */
#define get_sub_group_local_id() _tsg_lane(_tsg)
#define get_sub_group_id() _tsg_sgid(_tsg)
#define get_sub_group_size() _tsg_sg_size(_tsg)
#define get_max_sub_group_size() ((uint)_tsg->size)
#define get_num_sub_groups() _tsg_num_sg(_tsg)
#define get_enqueued_num_sub_groups() _tsg_num_sg(_tsg)
#endif /* !TARVO_SG_LANE_PAIR */

#ifdef TARVO_SG_LANE_PAIR
/* Lane-pair mode, for program texts that declare TARVO_SG_PAIR_VOCABULARY:
 * they name every per-lane notion through the lane-pair vocabulary (a
 * complex value in two neighbouring lanes, the even lane the real part), so
 * one work-item can hold both lanes of a pair. The OpenCL layer halves
 * dimension 0 of the work-group and of the global range of their launches
 * (and doubles it back in the kernel queries); lane 2c + part of sub-group g
 * is part `part` of work-item c of group g, a sub-group being S / 2
 * work-items. The parts are two scalars (re, im) of the text's ptype, the
 * swap of the parts is a private exchange and needs no barrier. The
 * extension's shuffles, block reads and writes and lane ids are not
 * provided: a text that uses them fails to build. */
#define reqd_work_group_size(X, Y, Z) reqd_work_group_size((X) / 2, Y, Z)

static inline __attribute__((always_inline)) uint _tsg_pairs(tarvo_sg_ctx c) { return c->size >> 1; }
static inline __attribute__((always_inline)) uint _tsg_pair_sg_size(tarvo_sg_ctx c) {
    uint first = c->sgid * _tsg_pairs(c);
    uint left = _tsg_wg_items() - first;
    return 2u * (left < _tsg_pairs(c) ? left : _tsg_pairs(c));
}

#define get_sub_group_id() _tsg_sgid(_tsg)
#define get_sub_group_size() _tsg_pair_sg_size(_tsg)
#define get_max_sub_group_size() ((uint)_tsg->size)
#define get_num_sub_groups() ((_tsg_wg_items() + _tsg_pairs(_tsg) - 1u) / _tsg_pairs(_tsg))
#define get_enqueued_num_sub_groups() get_num_sub_groups()

#define SG_CPLX_INDEX() _tsg_lane(_tsg)
#define SG_WG_CPLX_ID() ((int)get_local_id(0))
#define SG_WG_CPLX_ID_AT(k) ((int)(get_local_id(0) + (k) * get_local_id(1)))
#define SG_PM_ONE(bwd) (((((uint)(bwd)) & 1u) == 0u) ? (ftype)1 : (ftype)-1)
#define SG_SWAP_RE_IM(x) ((ptype){(x).im, (x).re})
#define SG_ZERO ((ptype){(ftype)0, (ftype)0})
#define SG_LOAD_PARTS(p, at, step) ((ptype){(p)[(at)], (p)[(at) + (step)]})
#define SG_STORE_PARTS(p, at, step, v)          \
    do {                                        \
        const ptype _tsg_v = (v);               \
        (p)[(at)] = _tsg_v.re;                  \
        (p)[(at) + (step)] = _tsg_v.im;         \
    } while (0)
#define SG_LOAD(p, k) SG_LOAD_PARTS((p), 2 * (k), 1)
#define SG_STORE(p, k, v) SG_STORE_PARTS((p), 2 * (k), 1, (v))
#define SG_LANE_LOAD(p, at) SG_LOAD_PARTS((p), (at) + 2 * (int)SG_CPLX_INDEX(), 1)
#define SG_LANE_STORE(p, at, v) SG_STORE_PARTS((p), (at) + 2 * (int)SG_CPLX_INDEX(), 1, (v))
#define SG_BLOCK_LOAD(p) SG_LANE_LOAD((p), 0)
#define SG_BLOCK_STORE(p, v) SG_LANE_STORE((p), 0, (v))
/* The same expressions as the per-lane forms, part by part; the odd lane's
 * SG_PM_ONE is the even lane's negated. */
#define SG_MUL_ADD_SWAP(reg, a, sgn, b)                                      \
    {                                                                        \
        const ptype _tsg_o = (reg), _tsg_a = (a), _tsg_b = (b);              \
        (reg).re = _tsg_a.re * _tsg_o.re + (sgn) * _tsg_b.re * _tsg_o.im;    \
        (reg).im = _tsg_a.im * _tsg_o.im + (sgn) * _tsg_b.im * _tsg_o.re;    \
    }
#define SG_TWIDDLE_PM(reg, c, s, pm)                                         \
    {                                                                        \
        const ptype _tsg_o = (reg);                                          \
        const ftype _tsg_c = (c), _tsg_s = (s), _tsg_p = (pm);               \
        (reg).re = _tsg_c * _tsg_o.re - _tsg_s * _tsg_p * _tsg_o.im;         \
        (reg).im = _tsg_c * _tsg_o.im - _tsg_s * (-_tsg_p) * _tsg_o.re;      \
    }
#endif

/* Sub-groups do not run in lock-step here: a sub-group barrier is a
 * work-group barrier (uniform control flow, as for shuffles). */
#define tarvo_sub_group_barrier(...) barrier(CLK_LOCAL_MEM_FENCE | CLK_GLOBAL_MEM_FENCE)
#define sub_group_barrier(...) barrier(CLK_LOCAL_MEM_FENCE | CLK_GLOBAL_MEM_FENCE)
