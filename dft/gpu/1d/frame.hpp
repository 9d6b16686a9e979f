// The frame that every GPU 1D backend module follows.
//
// A module is one source file holding a module class template M (one
// instantiation per precision) and the two records made from the frame:
//
//   using frame_d = frame<M<double>>;
//   const bkd_ops bkd_<kind>_d_ops = {&frame_d::commit, &frame_d::free, &frame_d::add_workspace};
//   (and the same for M<float> with the _s record)
//
// The frame owns the record's calling conventions: the commit sequence
// (applicability test, detach of a previous owner, bkd_init, set_compute_fns
// or release_backend_data), free, the compute entries and the workspace
// checks of the compute worker, add_workspace with the table placement and
// the table command groups, create_and_initialize_internal_workspaces and
// bkd_free_buffers. The module supplies its block type and the hooks below.
//
// Module class requirements (all static):
//   using real = float | double;
//   using block = <block type>;            // derives from frame_block<real, K>; value-initialised
//                                          // in zeroed memory, destroyed with ~block()
//   int  test(const DFTI_DESCRIPTOR*);     // 0 applicable, 100 not
//   int  plan(DFTI_DESCRIPTOR*, block*);   // planning after the frame filled its fields; sets
//                                          // block->twiddle_table_bytes (one direction, unaligned)
//                                          // and node->scratch_workspace_bytes; 0 or a status
//   int  build_kernels(DFTI_DESCRIPTOR*, block*);  // kernels of the built directions; 0 or a status
//   bool direction_ready(const block*, int dir);   // every kernel the direction launches exists
//   sycl::event write_table(block*, int dir, int kind, void* usm, sycl::buffer<char,1>* buf);
//                                          // the direction's table command group (only called when
//                                          // twiddle_table_bytes != 0; not needed with own_tables)
//   int  place_scratch(block*, void* base, int kind, std::uint64_t offset);  // phase 1/2
//   void free_scratch(block*);             // drops the module's own scratch areas (not the
//                                          // library-held allocation, the frame frees that)
//   int  launch(DFTI_DESCRIPTOR*, block*, const launch_args&);  // submits the direction's kernels
// Modules with several tables per direction opt in with `own_tables` (see
// frame_has_own_tables below); class_tables.hpp and two_pass.hpp hold the
// area hooks that several such modules share. The helpers below (areas of a
// workspace, planner inputs, workspace estimates) and OVX_GPU1D_MODULE_RECORDS
// (frame_records.hpp: the records and estimators at the end of a module's
// source) serve every module.
//
// Ordering rules the frame adds (and modules follow through launch_args):
// - `after` holds the last event of the previous compute of the node, so that
//   a compute never overwrites a scratch area that an earlier compute still
//   reads, whatever the queue's order;
// - `table_ready` holds the event of the USM table's writer;
// - library-held areas are freed only after the work that used them ended;
// - a direction that was not built, or whose kernels are missing, is refused
//   with status 5 before anything is submitted.
#ifndef OVX_DFT_GPU_1D_FRAME_HPP
#define OVX_DFT_GPU_1D_FRAME_HPP

#include <cstdint>
#include <new>
#include <type_traits>
#include <vector>

#include <sycl/sycl.hpp>

#include "dft/gpu/ovx_dft_gpu_common.hpp"
#include "dft/node/ovx_dft_node.hpp"
#include "gpu/ovx_gpu.hpp"
#include "korami/ovx/gpu.hpp"

namespace korami {
namespace ovx {
namespace dft {
namespace gpu1d {

// Fields every module block starts with. K = number of kernel slots.
template <class Real, int K>
struct frame_block {
    static constexpr int kernel_slots = K;
    sycl::queue* queue;                      // where the module submits
    std::uint32_t in_order;                  // 1 when the queue is in order
    std::uint32_t directions;                // 0 forward, 1 backward, 2 both
    ovx_gpu_arch_t arch;                     // device generation
    std::int32_t ws_kind;                    // kind of the last bound workspace (0 none)
    void* ws_base;                           // base of the last bound workspace
    sycl::kernel* kernels[K];                // null for a kernel that is not built
    void* twiddle_usm[2];                    // table address per direction in a USM workspace
    sycl::buffer<char, 1>* twiddle_buf[2];   // table sub-buffer per direction, owned
    sycl::event* twiddle_event[2];           // last table-writing event per direction, owned
    void* internal_twiddle;                  // library-held table area (USM device)
    void* internal_scratch;                  // library-held scratch area (USM device)
    std::int64_t twiddle_table_bytes;        // one direction's table, aligned
    Real scale[2];                           // forward, backward scale
    sycl::event* last_event;                 // last submission of the latest compute, owned
};

// True when the direction (0 forward, 1 backward) is built for `directions`.
inline bool direction_built(std::uint32_t directions, int dir) {
    return directions == 2 || directions == static_cast<std::uint32_t>(dir);
}

// What the frame hands to a module's launch.
struct launch_args {
    void* in;
    void* out;
    bool buffers;                          // data are sycl::buffer<char,1>*, else USM
    int direction;                         // 0 forward, 1 backward
    std::vector<sycl::event>* deps;        // caller's dependencies (USM form), may be null
    const sycl::event* after;              // previous compute's last event, may be null
    const sycl::event* table_ready;        // event of the USM table's writer, may be null; a module
                                           // makes every launch that reads the table depend on it
    void* table;                           // the direction's table (USM address or sub-buffer*)
    std::int32_t table_kind;               // 2 USM, 1 buffer, 0 none
    sycl::event* result;                   // receives the last event, may be null
};

// Common applicability test of the 1D complex modules: 0 applicable, 100 not.
// `length_ok` is the module's own length test (item 8).
template <class LengthTest>
int common_1d_c2c_test(const DFTI_DESCRIPTOR* node, LengthTest length_ok) {
    if (node->colbatch_group_count > 0) return DFTI_STATUS_NOT_APPLICABLE;
    if (node->forward_domain != DFTI_COMPLEX) return DFTI_STATUS_NOT_APPLICABLE;
    if (node->complex_storage != DFTI_COMPLEX_COMPLEX) return DFTI_STATUS_NOT_APPLICABLE;
    if (node->working_dims.count != 1) return DFTI_STATUS_NOT_APPLICABLE;
    if (node->working_batch.count != 1) return DFTI_STATUS_NOT_APPLICABLE;
    const dfti_dim& d = node->working_dims.records[0];
    const std::int64_t is = d.input_stride != 0 ? d.input_stride : d.fwd_stride;
    const std::int64_t os = d.output_stride != 0 ? d.output_stride : d.bwd_stride;
    if (is != 1 || os != 1) return DFTI_STATUS_NOT_APPLICABLE;
    if (!length_ok(d.length)) return DFTI_STATUS_NOT_APPLICABLE;
    if (node->input_offset || node->output_offset || node->fwd_offset || node->bwd_offset)
        return DFTI_STATUS_NOT_APPLICABLE;
    return 0;
}

// data_array_count of a committed node.
inline std::int32_t frame_data_array_count(const DFTI_DESCRIPTOR* node) {
    if (node->forward_domain == DFTI_REAL) return node->placement == DFTI_INPLACE ? 1 : 2;
    std::int32_t n = node->placement == DFTI_INPLACE ? 1 : 2;
    return node->complex_storage == DFTI_REAL_REAL ? 2 * n : n;
}

// Waits for an event, ignoring the failures of work that already ended
// (those were reported to whoever waited on the work itself).
inline void frame_wait_quietly(sycl::event* e) {
    if (!e) return;
    try {
        e->wait();
    } catch (...) {
    }
}

// Builds one kernel through the kernel cache. Returns null when the cache
// reports a failure without throwing.
inline sycl::kernel* frame_get_kernel(sycl::queue* q, const char* program, const char* source,
                                      const char* kernel, const char* options) {
    int status = 0;
    sycl::kernel* k =
        korami::ovx::gpu::get_OCL_kernel_by_progname(&status, q, korami::ovx::gpu::domain_dft, program,
                                                      source, kernel, options);
    if (status != 0 && k) {
        int s2 = 0;
        korami::ovx::gpu::release_kernel_obj(&s2, k);
        return nullptr;
    }
    return k;
}

// ---- areas of a bound workspace (modules with their own tables) ---------

// The area of `bytes` at `off` of a workspace: a USM address, or a new
// sub-buffer that the module owns.
inline void frame_carve(void* base, int kind, std::uint64_t off, std::uint64_t bytes, void*& usm,
                        sycl::buffer<char, 1>*& buf) {
    if (kind == DFTI_CONTAINER_USM) {
        usm = static_cast<char*>(base) + off;
    } else {
        auto* whole = static_cast<sycl::buffer<char, 1>*>(base);
        buf = new sycl::buffer<char, 1>(*whole, sycl::id<1>(off), sycl::range<1>(static_cast<std::size_t>(bytes)));
    }
}

// Places a scratch area (nothing when `bytes` is 0).
inline int frame_place_area(void* base, int kind, std::uint64_t off, std::uint64_t bytes, void*& usm,
                            sycl::buffer<char, 1>*& buf) {
    if (bytes == 0) return 0;
    if (!base) return DFTI_STATUS_NO_WORKSPACE;
    frame_carve(base, kind, off, bytes, usm, buf);
    return 0;
}

// True when the area of the container kind was placed.
inline bool frame_area_placed(int kind, const void* usm, const sycl::buffer<char, 1>* buf) {
    return kind == DFTI_CONTAINER_USM ? usm != nullptr : buf != nullptr;
}

// The kernel argument of an area: its USM address or its sub-buffer.
inline void* frame_area_arg(bool usm_ws, void* usm, sycl::buffer<char, 1>* buf) {
    return usm_ws ? usm : static_cast<void*>(buf);
}

// Keeps a copy of `e` in the owned slot.
inline void frame_keep(sycl::event*& slot, const sycl::event& e) {
    delete slot;
    slot = new sycl::event(e);
}

// Waits for the owned event (quietly) and drops it.
inline void frame_drop(sycl::event*& e) {
    if (!e) return;
    frame_wait_quietly(e);
    delete e;
    e = nullptr;
}

// Drops an area: the event of its writer (waited for first), its sub-buffer
// and its address.
inline void frame_drop_area(void*& usm, sycl::buffer<char, 1>*& buf, sycl::event** writer = nullptr) {
    if (writer) frame_drop(*writer);
    delete buf;
    buf = nullptr;
    usm = nullptr;
}

// One table command group over a 2D range: body(table, i, j) on the USM
// area or on the sub-buffer.
template <class Real, class UsmName, class BufName, class Body>
sycl::event frame_table_group(sycl::queue* q, int kind, void* usm, sycl::buffer<char, 1>* buf, sycl::range<2> r,
                              Body body) {
    if (kind == DFTI_CONTAINER_USM) {
        Real* t = static_cast<Real*>(usm);
        return q->submit([&](sycl::handler& h) {
            h.parallel_for<UsmName>(r, [=](sycl::item<2> it) { body(t, it.get_id(0), it.get_id(1)); });
        });
    }
    return q->submit([&](sycl::handler& h) {
        sycl::accessor<char, 1, sycl::access_mode::read_write> acc(*buf, h);
        h.parallel_for<BufName>(r, [=](sycl::item<2> it) {
            body(reinterpret_cast<Real*>(acc.get_pointer().get()), it.get_id(0), it.get_id(1));
        });
    });
}

// ---- planner shapes ---------------------------------------------------------

// Copies the first working dimension (length and strides) and the offsets of
// the node into a planner's shape.
template <class Shape>
void frame_copy_dim(const DFTI_DESCRIPTOR* node, Shape& s) {
    s.dims = static_cast<int>(node->working_dims.count);
    if (s.dims >= 1) {
        const dfti_dim& d = node->working_dims.records[0];
        s.n = d.length;
        s.input_stride = d.input_stride;
        s.output_stride = d.output_stride;
        s.fwd_stride = d.fwd_stride;
        s.bwd_stride = d.bwd_stride;
    }
    s.input_offset = node->input_offset;
    s.output_offset = node->output_offset;
    s.fwd_offset = node->fwd_offset;
    s.bwd_offset = node->bwd_offset;
}

// The shape the column-batched planners take.
template <class Shape>
Shape frame_colbatch_shape(const DFTI_DESCRIPTOR* node) {
    Shape s;
    s.complex_domain = node->forward_domain == DFTI_COMPLEX;
    s.interleaved = node->complex_storage == DFTI_COMPLEX_COMPLEX;
    frame_copy_dim(node, s);
    s.in_place = node->placement == DFTI_INPLACE;
    s.batches = static_cast<int>(node->working_batch.count);
    for (int i = 0; i < s.batches && i < 2; ++i) {
        const dfti_dim& r = node->working_batch.records[i];
        s.batch[i] = {r.length, r.input_stride, r.output_stride, r.fwd_stride, r.bwd_stride};
    }
    s.colbatch_group_count = node->colbatch_group_count;
    s.directions = node->directions;
    return s;
}

// The fields every 1D planner input takes from the node: length, precision,
// device generation, directions and the batch record.
template <class In>
In frame_plan_input(const DFTI_DESCRIPTOR* node, std::int32_t arch, bool single) {
    const dfti_dim& d = node->working_dims.records[0];
    const dfti_dim& bt = node->working_batch.records[0];
    In in{};
    in.n = d.length;
    in.single = single;
    in.arch = arch;
    in.directions = node->directions;
    in.batch = {bt.length, bt.fwd_stride, bt.bwd_stride, bt.input_stride, bt.output_stride};
    return in;
}

// True when the queue's device has sub-groups of 8 (`otherwise` without a queue).
inline bool frame_has_subgroup8(sycl::queue* q, bool otherwise) {
    if (!q) return otherwise;
    const std::vector<std::size_t> sizes = q->get_device().get_info<sycl::info::device::sub_group_sizes>();
    for (std::size_t v : sizes)
        if (v == 8) return true;
    return false;
}

// ---- record steps shared with modules outside the frame -----------------------

// The commit sequence of a record once its applicability test passed: the
// previous owner is detached, `init` runs (`release` undoes it on a failure
// or an exception) and `finish` sets the compute entries.
template <class Init, class Release, class Finish>
int frame_commit_steps(const bkd_ops* self, DFTI_DESCRIPTOR* node, Init init, Release release, Finish finish) {
    if (!(node->bkd == self && node->bkd_data == nullptr)) {
        if (node->detach_backend)
            node->detach_backend(node);
        else
            ::detach_backend(node);
    }
    node->bkd = self;
    int st;
    try {
        st = init(node);
    } catch (...) {
        release(node);
        throw;
    }
    if (st != 0) {
        release(node);
        return st;
    }
    finish(node);
    return 0;
}

// The free slot of a record: 7 for a node it does not own.
template <class Release>
int frame_free_steps(const bkd_ops* self, DFTI_DESCRIPTOR* node, Release release) {
    if (node->bkd != self) return DFTI_STATUS_INTERNAL;
    node->compute_fwd = nullptr;
    node->compute_bwd = nullptr;
    node->commit_status = DFTI_UNCOMMITTED;
    release(node);
    return 0;
}

// Fields a module's sub-node takes from its parent (queue, directions, queue
// mode), the sub-node marks, then its name (at most 9 characters) and its commit.
inline int frame_commit_sub_node(const DFTI_DESCRIPTOR* parent, DFTI_DESCRIPTOR* s, const char* name) {
    s->queue = parent->queue;
    s->directions = parent->directions;
    s->queue_mode = parent->queue_mode;
    s->internal_workspace = 0;
    s->thread_limit = 1;
    s->is_sub_node = 1;
    char padded[10] = {0};
    if (bounded_snprintf(padded, sizeof padded, "%s", name) < 0) return DFTI_STATUS_INTERNAL;
    const int st = s->methods->set_name(s, padded, 10, 0);
    if (st != 0) return st;
    return s->methods->commit(s);
}

// ---- workspace estimates -----------------------------------------------------

// The queue of an estimate (may be null) and its device generation (left as
// it is without a queue). False when the generation cannot be had.
inline bool frame_estimate_device(const dft_workspace_problem& problem, sycl::queue*& q, std::int32_t& arch) {
    q = const_cast<sycl::queue*>(problem.queue);
    if (!q) return true;
    int st = 0;
    arch = korami::ovx::gpu::get_architecture(&st, q);
    return st == 0;
}

// `v` aligned as the workspace places it (16 bytes without a queue).
inline std::uint64_t frame_estimate_align(sycl::queue* q, std::uint64_t v) {
    return q ? align_workspace_offset(v, q) : align_workspace_bytes(v, 16);
}

// Modules that lay out their own tables (several per direction, sub-node
// areas) declare `static constexpr bool own_tables = true;` and supply
//   int  place_tables(block*, void* base, int kind, std::uint64_t offset,
//                     std::vector<sycl::event>* events, std::uint64_t* end);
//   void free_tables(block*);
// Their plan() sets node->twiddle_workspace_bytes itself; the frame makes no
// per-direction table of its own for them.
template <class M, class = void>
struct frame_has_own_tables : std::false_type {};
template <class M>
struct frame_has_own_tables<M, std::void_t<decltype(M::own_tables)>>
    : std::integral_constant<bool, M::own_tables> {};

template <class M>
struct frame {
    using real = typename M::real;
    using block = typename M::block;

    static block* get(DFTI_DESCRIPTOR* node) { return static_cast<block*>(node->bkd_data); }

    // ---- record slots ----------------------------------------------------

    static int commit(const bkd_ops* self, DFTI_DESCRIPTOR* node) {
        const int st = M::test(node);
        if (st != 0) return st;
        return frame_commit_steps(self, node, &bkd_init, &release_backend_data, &set_compute_fns);
    }

    static int free(const bkd_ops* self, DFTI_DESCRIPTOR* node) {
        return frame_free_steps(self, node, &release_backend_data);
    }

    static int add_workspace(void* base, int kind, std::uint64_t offset, DFTI_DESCRIPTOR* node,
                             std::uint32_t phase, std::vector<sycl::event>* events) {
        block* b = get(node);
        if (!b) return DFTI_STATUS_INVALID;
        b->ws_base = base;
        b->ws_kind = kind;
        bkd_free_buffers(b, static_cast<int>(phase));
        std::uint64_t off = offset;
        if constexpr (frame_has_own_tables<M>::value) {
            if (phase == DFTI_WS_TABLES || phase == DFTI_WS_BOTH) {
                const int st = M::place_tables(b, base, kind, offset, events, &off);
                if (st != 0) return st;
            }
        } else if (phase == DFTI_WS_TABLES || phase == DFTI_WS_BOTH) {
            for (int dir = 0; dir < 2; ++dir) {
                if (!direction_built(b->directions, dir) || b->twiddle_table_bytes == 0) continue;
                if (kind == DFTI_CONTAINER_USM) {
                    if (!base) return DFTI_STATUS_NO_WORKSPACE;
                    b->twiddle_usm[dir] = static_cast<char*>(base) + off;
                } else {
                    if (!base) return DFTI_STATUS_NO_WORKSPACE;
                    auto* whole = static_cast<sycl::buffer<char, 1>*>(base);
                    b->twiddle_buf[dir] = new sycl::buffer<char, 1>(
                        *whole, sycl::id<1>(off), sycl::range<1>(static_cast<std::size_t>(b->twiddle_table_bytes)));
                }
                off += static_cast<std::uint64_t>(b->twiddle_table_bytes);
                sycl::event e = M::write_table(b, dir, kind, b->twiddle_usm[dir], b->twiddle_buf[dir]);
                delete b->twiddle_event[dir];
                b->twiddle_event[dir] = new sycl::event(e);
                if (events) events->push_back(e);
            }
        }
        if (phase == DFTI_WS_SCRATCH || phase == DFTI_WS_BOTH) {
            const int st = M::place_scratch(b, base, kind, off);
            if (st != 0) return st;
        }
        return 0;
    }

    // ---- compute entries ---------------------------------------------------

    static int compute_forward(DFTI_DESCRIPTOR* node, void* in, void* out, std::vector<sycl::event>* deps,
                               const dfti_data_kind* kind, sycl::event* ev) {
        return compute(node, in, out, deps, kind, ev, 0);
    }
    static int compute_backward(DFTI_DESCRIPTOR* node, void* in, void* out, std::vector<sycl::event>* deps,
                                const dfti_data_kind* kind, sycl::event* ev) {
        return compute(node, in, out, deps, kind, ev, 1);
    }

    static int compute(DFTI_DESCRIPTOR* node, void* in, void* out, std::vector<sycl::event>* deps,
                       const dfti_data_kind* kind, sycl::event* ev, int dir) {
        block* b = get(node);
        if (!b) return DFTI_STATUS_INVALID;
        if (node->queue_mode == 2) {
            b->queue = node->queue;
            b->in_order = 0;
        }
        const bool buffers = kind && (kind->kind & 1u);
        return compute_1d_xwd(node, b, in, out, deps, ev, dir, buffers);
    }

    static int compute_1d_xwd(DFTI_DESCRIPTOR* node, block* b, void* in, void* out,
                              std::vector<sycl::event>* deps, sycl::event* ev, int dir, bool buffers) {
        const std::uint64_t need = node->twiddle_workspace_bytes + node->scratch_workspace_bytes;
        if (node->internal_workspace != 0) {
            if ((node->twiddle_workspace_bytes != 0 && !b->internal_twiddle) ||
                (node->scratch_workspace_bytes != 0 && !b->internal_scratch))
                return DFTI_STATUS_BAD_DESCRIPTOR;
        } else if (need != 0 && (b->ws_kind & 3) == 0) {
            return DFTI_STATUS_NO_WORKSPACE;
        }
        // A direction that was not built, or whose kernels failed to build,
        // is refused before anything is submitted.
        if (!direction_built(b->directions, dir) || !M::direction_ready(b, dir))
            return DFTI_STATUS_BAD_DESCRIPTOR;
        launch_args a{};
        a.in = in;
        a.out = out;
        a.buffers = buffers;
        a.direction = dir;
        a.deps = deps;
        a.after = b->last_event;
        if constexpr (frame_has_own_tables<M>::value) {
            // The module finds its own tables; it is told which container kind to use.
            a.table_kind = (node->internal_workspace != 0 || b->ws_kind == DFTI_CONTAINER_USM) ? DFTI_CONTAINER_USM
                                                                                              : b->ws_kind;
            a.table_ready = a.table_kind == DFTI_CONTAINER_USM ? b->twiddle_event[dir] : nullptr;
        } else if (b->twiddle_table_bytes != 0) {
            if (node->internal_workspace != 0 || b->ws_kind == DFTI_CONTAINER_USM) {
                a.table = b->twiddle_usm[dir];
                a.table_kind = DFTI_CONTAINER_USM;
                a.table_ready = b->twiddle_event[dir];
            } else {
                a.table = b->twiddle_buf[dir];
                a.table_kind = b->ws_kind;
            }
        }
        sycl::event last;
        a.result = &last;
        const int st = M::launch(node, b, a);
        if (st != 0) return st;
        if (!b->last_event)
            b->last_event = new sycl::event(last);
        else
            *b->last_event = last;
        if (ev) *ev = last;
        return 0;
    }

    // ---- file-local steps ----------------------------------------------------

    static int bkd_init(DFTI_DESCRIPTOR* node) {
        void* mem = bkd_memory_services.calloc(1, sizeof(block), 64, 0);
        if (!mem) return DFTI_STATUS_ALLOCATION_FAILED;
        block* b = new (mem) block();
        node->bkd_data = b;
        node->threads_in_use = 1;
        b->queue = node->queue;
        b->in_order = (node->queue_mode == 0 && node->queue) ? (node->queue->is_in_order() ? 1u : 0u) : 0u;
        b->directions = static_cast<std::uint32_t>(node->directions);
        b->scale[0] = static_cast<real>(node->forward_scale);
        b->scale[1] = static_cast<real>(node->backward_scale);
        int st = 0;
        b->arch = korami::ovx::gpu::get_architecture(&st, b->queue);
        if (st != 0) return DFTI_STATUS_NOT_APPLICABLE;
        node->twiddle_workspace_bytes = 0;
        node->scratch_workspace_bytes = 0;
        st = M::plan(node, b);
        if (st != 0) return st;
        if constexpr (!frame_has_own_tables<M>::value) {
            if (b->twiddle_table_bytes != 0)
                b->twiddle_table_bytes = static_cast<std::int64_t>(
                    align_workspace_offset(static_cast<std::uint64_t>(b->twiddle_table_bytes), b->queue));
            node->twiddle_workspace_bytes =
                static_cast<std::uint64_t>(b->twiddle_table_bytes) * (b->directions == 2 ? 2u : 1u);
        }
        if (node->internal_workspace == 1) {
            st = create_and_initialize_internal_workspaces(node);
            if (st != 0) return st;
        }
        return M::build_kernels(node, b);
    }

    static void set_compute_fns(DFTI_DESCRIPTOR* node) {
        node->compute_fwd = &compute_forward;
        node->compute_bwd = &compute_backward;
        node->commit_status = DFTI_COMMITTED;
        node->data_array_count = frame_data_array_count(node);
    }

    static void release_backend_data(DFTI_DESCRIPTOR* node) {
        block* b = get(node);
        if (!b) return;
        bkd_free_buffers(b, 2);
        for (int i = 0; i < block::kernel_slots; ++i) {
            if (!b->kernels[i]) continue;
            try {
                int st = 0;
                korami::ovx::gpu::release_kernel_obj(&st, b->kernels[i]);
            } catch (const sycl::exception&) {
            }
            b->kernels[i] = nullptr;
        }
        if (b->last_event) {
            frame_wait_quietly(b->last_event);
            delete b->last_event;
            b->last_event = nullptr;
        }
        b->~block();
        bkd_memory_services.free(b);
        node->bkd_data = nullptr;
    }

    // which: 0 tables, 1 scratch, 2 both. Work that may still use an area
    // (the latest compute, the table kernels) is waited for first.
    static void bkd_free_buffers(block* b, int which) {
        frame_wait_quietly(b->last_event);
        if (which == 0 || which == 2) {
            if constexpr (frame_has_own_tables<M>::value) M::free_tables(b);
            for (int dir = 0; dir < 2; ++dir) {
                if (b->twiddle_event[dir]) {
                    frame_wait_quietly(b->twiddle_event[dir]);
                    delete b->twiddle_event[dir];
                    b->twiddle_event[dir] = nullptr;
                }
                delete b->twiddle_buf[dir];
                b->twiddle_buf[dir] = nullptr;
                b->twiddle_usm[dir] = nullptr;
            }
            if (b->internal_twiddle) {
                sycl::free(b->internal_twiddle, *b->queue);
                b->internal_twiddle = nullptr;
            }
        }
        if (which == 1 || which == 2) {
            M::free_scratch(b);
            if (b->internal_scratch) {
                sycl::free(b->internal_scratch, *b->queue);
                b->internal_scratch = nullptr;
            }
        }
    }

    static int create_and_initialize_internal_workspaces(DFTI_DESCRIPTOR* node) {
        if (node->internal_workspace == 0) return DFTI_STATUS_BAD_DESCRIPTOR;
        block* b = get(node);
        if (!b) return DFTI_STATUS_INVALID;
        const std::uint64_t largest =
            b->queue->get_device().template get_info<sycl::info::device::max_mem_alloc_size>();
        std::vector<sycl::event> events;
        int st = 0;
        if (node->twiddle_workspace_bytes != 0) {
            if (node->twiddle_workspace_bytes > largest) return DFTI_STATUS_ALLOCATION_FAILED;
            void* area = sycl::malloc_device(node->twiddle_workspace_bytes, *b->queue);
            if (!area) return DFTI_STATUS_ALLOCATION_FAILED;
            st = add_workspace(area, DFTI_CONTAINER_USM, 0, node, DFTI_WS_TABLES, &events);
            b->internal_twiddle = area;
        }
        if (st == 0 && node->scratch_workspace_bytes != 0) {
            if (node->scratch_workspace_bytes > largest) {
                st = DFTI_STATUS_ALLOCATION_FAILED;
            } else {
                void* area = sycl::malloc_device(node->scratch_workspace_bytes, *b->queue);
                if (!area) {
                    st = DFTI_STATUS_ALLOCATION_FAILED;
                } else {
                    st = add_workspace(area, DFTI_CONTAINER_USM, 0, node, DFTI_WS_SCRATCH, &events);
                    b->internal_scratch = area;
                    b->ws_kind = 0;
                }
            }
        }
        for (auto& e : events) e.wait();
        return st;
    }
};

}  // namespace gpu1d
}  // namespace dft
}  // namespace ovx
}  // namespace korami

#endif
