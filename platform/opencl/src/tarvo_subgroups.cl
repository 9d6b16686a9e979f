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
} tarvo_sg_state;
typedef tarvo_sg_state* tarvo_sg_ctx;

#define TARVO_SG_KERNEL_SCRATCH(S)                                        \
    __local ulong8 _tsg_area[2 * TARVO_SG_MAX_WG];                         \
    tarvo_sg_state _tsg_state = {_tsg_area, (uint)(S), 0u};                \
    tarvo_sg_ctx _tsg = &_tsg_state
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
static inline __attribute__((always_inline)) uint _tsg_lane(tarvo_sg_ctx c) {
    return _tsg_lid() % c->size;
}
static inline __attribute__((always_inline)) uint _tsg_sgid(tarvo_sg_ctx c) {
    return _tsg_lid() / c->size;
}
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

/* 32-bit words */
#define tarvo_sub_group_block_read(p) _tsg_block_read1(_tsg, (p))
#define tarvo_sub_group_block_read2(p) _tsg_block_read2(_tsg, (p))
#define tarvo_sub_group_block_read4(p) _tsg_block_read4(_tsg, (p))
#define tarvo_sub_group_block_read8(p) _tsg_block_read8(_tsg, (p))
#define tarvo_sub_group_block_write(p, v) _tsg_block_write1(_tsg, (p), (uint)(v))
#define tarvo_sub_group_block_write2(p, v) _tsg_block_write2(_tsg, (p), (uint2)(v))
#define tarvo_sub_group_block_write4(p, v) _tsg_block_write4(_tsg, (p), (uint4)(v))
#define tarvo_sub_group_block_write8(p, v) _tsg_block_write8(_tsg, (p), (uint8)(v))
/* 64-bit words */
#define tarvo_sub_group_block_read_ul(p) _tsg_block_read1(_tsg, (p))
#define tarvo_sub_group_block_read_ul2(p) _tsg_block_read2(_tsg, (p))
#define tarvo_sub_group_block_read_ul4(p) _tsg_block_read4(_tsg, (p))
#define tarvo_sub_group_block_read_ul8(p) _tsg_block_read8(_tsg, (p))
#define tarvo_sub_group_block_write_ul(p, v) _tsg_block_write1(_tsg, (p), (ulong)(v))
#define tarvo_sub_group_block_write_ul2(p, v) _tsg_block_write2(_tsg, (p), (ulong2)(v))
#define tarvo_sub_group_block_write_ul4(p, v) _tsg_block_write4(_tsg, (p), (ulong4)(v))
#define tarvo_sub_group_block_write_ul8(p, v) _tsg_block_write8(_tsg, (p), (ulong8)(v))

/* Ids and sizes. */
#define get_sub_group_local_id() _tsg_lane(_tsg)
#define get_sub_group_id() _tsg_sgid(_tsg)
#define get_sub_group_size() _tsg_sg_size(_tsg)
#define get_max_sub_group_size() ((uint)_tsg->size)
#define get_num_sub_groups() _tsg_num_sg(_tsg)
#define get_enqueued_num_sub_groups() _tsg_num_sg(_tsg)

/* Sub-groups do not run in lock-step here: a sub-group barrier is a
 * work-group barrier (uniform control flow, as for shuffles). */
#define tarvo_sub_group_barrier(...) barrier(CLK_LOCAL_MEM_FENCE | CLK_GLOBAL_MEM_FENCE)
#define sub_group_barrier(...) barrier(CLK_LOCAL_MEM_FENCE | CLK_GLOBAL_MEM_FENCE)
