// The frame that every GPU backend module follows (1D and multi-dimensional).
//
// A module is one source file holding a module class template M (one
// instantiation per precision) and the two records made from the frame
// (OVX_GPU_BACKEND_RECORDS, records.hpp):
//
//   using frame_d = frame<M<double>>;
//   const bkd_ops bkd_<stem>_d_ops = {&frame_d::commit, &frame_d::free, &frame_d::add_workspace,
//                                     &frame_d::estimate};
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
//   int  plan(DFTI_DESCRIPTOR*, block*);   // planning after the frame filled its fields: the plan
//                                          // and the block's area list (below); 0 or a status.
//                                          // With b->estimating set (a workspace estimate,
//                                          // frame::estimate) it only plans and lists its
//                                          // areas: no device objects, no allocation
//   int  build_kernels(DFTI_DESCRIPTOR*, block*);  // kernels of the built directions; 0 or a status
//   bool direction_ready(const block*, int dir);   // every kernel (and sub-node) the direction uses exists
//   int  launch(DFTI_DESCRIPTOR*, block*, const launch_args&);  // submits the direction's work
//
// The area list (areas.hpp): plan() lists every area of the module's
// workspace in b->areas, in workspace order: per-direction and shared
// tables with the writers that fill them, scratch areas of either region,
// and, for a composite, the place of its sub-nodes' tables. The frame sizes
// the two regions from the list (the first region's areas and total rounded
// to the workspace alignment; the second region the larger of the module's
// own scratch areas, one after the other, and the sub-nodes' scratch, which
// starts at the region's start), carves and binds the areas at commit or at
// set_workspace, runs the writers and keeps their events, gives data areas a
// buffer of the library's own when the library's (USM) workspace must serve
// buffer data, waits for the writers before it drops the areas, and hands the
// areas to the launch through the block (b->areas, by the slots plan()
// received). A module whose workspace binding reports a missing base or
// container kind with another status than 11 declares it as
// `static constexpr int missing_area_status`.
//
// Modules made of sub-nodes opt in with `composite` (composite.hpp).
// OVX_GPU_BACKEND_RECORDS (records.hpp) writes the records at
// the end of a module's source.
//
// The helpers live in one file per concern: block.hpp (block layout, launch
// arguments, launch ordering), areas.hpp (area carving and library-held
// areas), align.hpp (the workspace alignment rule), shapes.hpp (planner
// shapes), plan_common.hpp (planning helpers), steps.hpp (commit steps),
// composite.hpp (sub-node tables and the multi-dimensional sub-transforms).
//
// Rules the frame adds:
// - a compute's first launch waits for the caller's dependencies, the
//   previous compute's last event and the table writers it reads
//   (frame_order_first, with `after` holding the previous compute's last
//   event);
// - a workspace binding is published (the block's ws_kind) only once every
//   area is placed and its table written; a binding that fails leaves the
//   node, and its sub-nodes, without workspace;
// - library-held areas are freed only after the work that used them ended,
//   in the context they were allocated in;
// - a direction that was not built, or whose kernels or sub-nodes are
//   missing, is refused with status 5 before anything is submitted; a
//   direction that a composite built but whose layout no backend took at
//   commit (see frame_refuses_directions) is refused with status 12.
#ifndef OVX_DFT_GPU_FRAME_FRAME_HPP
#define OVX_DFT_GPU_FRAME_FRAME_HPP

#include <algorithm>
#include <cstdint>
#include <new>
#include <type_traits>
#include <vector>

#include <sycl/sycl.hpp>

#include "dft/gpu/frame/composite.hpp"
#include "dft/gpu/frame/areas.hpp"
#include "dft/gpu/frame/block.hpp"
#include "dft/gpu/frame/shapes.hpp"
#include "dft/gpu/frame/steps.hpp"
#include "dft/node/ovx_dft_node.hpp"
#include "gpu/ovx_gpu.hpp"

namespace korami {
namespace ovx {
namespace dft {
namespace gpufw {

// The status of a binding without a workspace base (or with a container
// kind other than 1 and 2): 11 unless the module declares its own.
template <class M, class = void>
struct frame_missing_area_status : std::integral_constant<int, DFTI_STATUS_NO_WORKSPACE> {};
template <class M>
struct frame_missing_area_status<M, std::void_t<decltype(M::missing_area_status)>>
    : std::integral_constant<int, M::missing_area_status> {};

// A composite module whose commit may take a route without sub-nodes says
// per block whether its computes run sub-nodes (`uses_sub_nodes`); the
// others always do.
template <class M, class = void>
struct frame_has_sub_node_routes : std::false_type {};
template <class M>
struct frame_has_sub_node_routes<M, std::void_t<decltype(&M::uses_sub_nodes)>> : std::true_type {};
template <class M>
bool frame_uses_sub_nodes(const typename M::block* b) {
    if constexpr (frame_has_sub_node_routes<M>::value) return M::uses_sub_nodes(b);
    else return true;
}

// Composites that may be committed with one direction only (its other
// direction's sub-transforms taken by no backend) declare
//   static bool direction_refused(const block*, int dir);
// A compute of such a direction answers 12 before anything is submitted.
template <class M, class = void>
struct frame_refuses_directions : std::false_type {};
template <class M>
struct frame_refuses_directions<M, std::void_t<decltype(&M::direction_refused)>> : std::true_type {};

// Modules that answer their own statuses when the device's generation
// cannot be had declare `static constexpr bool own_device_checks = true;`:
// the frame then does not require the generation before plan() (the block's
// arch stays 0; its device facts are filled all the same).
template <class M, class = void>
struct frame_has_own_device_checks : std::false_type {};
template <class M>
struct frame_has_own_device_checks<M, std::void_t<decltype(M::own_device_checks)>>
    : std::integral_constant<bool, M::own_device_checks> {};

// The device generation a module plans an estimate for when the device is
// not known yet (no queue): `static constexpr std::int32_t estimate_generation`,
// else none (0).
template <class M, class = void>
struct frame_estimate_generation : std::integral_constant<std::int32_t, 0> {};
template <class M>
struct frame_estimate_generation<M, std::void_t<decltype(M::estimate_generation)>>
    : std::integral_constant<std::int32_t, M::estimate_generation> {};

// The routes an estimate covers: a module whose plan takes one of several
// routes by what the device accepts declares
// `static constexpr int estimate_routes`; an estimate then plans each route
// alone (b->estimate_route 0 .. n-1) and answers the largest need among the
// routes the plan takes, so that it fits whichever route a commit takes.
template <class M, class = void>
struct frame_estimate_routes : std::integral_constant<int, 1> {};
template <class M>
struct frame_estimate_routes<M, std::void_t<decltype(M::estimate_routes)>>
    : std::integral_constant<int, M::estimate_routes> {};

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

    // The record's workspace estimate: the module's applicability test and
    // its plan in estimate mode on a block of its own (no device objects, no
    // kernel build, no allocation, sub-nodes planned in estimate mode too),
    // then the two regions sized from the area list exactly as at commit. The
    // queue's device must be known (its generation too); without a queue the
    // device is not known and each module plans for the device it assumes
    // (frame_device_assumed, estimate_generation). -1 when the module does
    // not take the node.
    static std::int64_t estimate(const bkd_ops*, const DFTI_DESCRIPTOR* node, const sycl::queue* queue) {
        if (!node || M::test(node) != 0) return -1;
        std::int64_t bytes = -1;
        for (int r = 0; r < frame_estimate_routes<M>::value; ++r) bytes = std::max(bytes, estimate_route(node, queue, r));
        return bytes;
    }
    static std::int64_t estimate_route(const DFTI_DESCRIPTOR* node, const sycl::queue* queue, int route) {
        void* mem = bkd_memory_services.calloc(1, sizeof(block), 64, 0);
        if (!mem) return -1;
        block* b = new (mem) block();
        b->estimating = true;
        b->estimate_route = route;
        b->queue = const_cast<sycl::queue*>(queue);
        b->directions = static_cast<std::uint32_t>(node->directions);
        b->scale[0] = static_cast<real>(node->forward_scale);
        b->scale[1] = static_cast<real>(node->backward_scale);
        b->dev = device_facts_of(b->queue);
        if constexpr (frame_is_composite<M>::value) {
            b->subs.estimating = true;
            b->subs.estimate_queue = queue;
        }
        std::int64_t bytes = -1;
        bool device_ok = true;
        if (b->queue) {
            // As at commit: the generation is required unless the module
            // answers its own statuses for the device.
            if constexpr (!frame_has_own_device_checks<M>::value) {
                device_ok = b->dev.known && b->dev.generation_known;
                if (device_ok) b->arch = b->dev.generation;
            }
        } else {
            b->arch = static_cast<ovx_gpu_arch_t>(frame_estimate_generation<M>::value);
            b->dev.align_bytes = align_bytes_of(b->dev);  // before the device is known
        }
        try {
            // The plan reads the node; in estimate mode it writes nothing to it.
            if (device_ok && M::plan(const_cast<DFTI_DESCRIPTOR*>(node), b) == 0) {
                std::uint64_t tables = 0, scratch = 0;
                if (region_sizes(b, tables, scratch) == 0) bytes = static_cast<std::int64_t>(tables + scratch);
            }
        } catch (...) {
            b->~block();
            bkd_memory_services.free(b);
            throw;
        }
        b->~block();
        bkd_memory_services.free(b);
        return bytes;
    }

    // Binds a workspace region (phase 0 tables, 1 scratch, 2 both). The node
    // is unbound while its areas change; the kind is published only once
    // every area is placed and written. A failure (a status, or an exception
    // such as a sub-buffer that does not fit a short buffer workspace) drops
    // every area of the node and of its sub-nodes, so that a later compute
    // answers 11 (no workspace).
    static int add_workspace(void* base, int kind, std::uint64_t offset, DFTI_DESCRIPTOR* node,
                             std::uint32_t phase, std::vector<sycl::event>* events) {
        block* b = get(node);
        if (!b) return DFTI_STATUS_UNCOMMITTED_DESCRIPTOR;
        b->ws_kind = 0;
        bkd_free_buffers(b, static_cast<int>(phase));
        int st;
        try {
            st = place_areas(b, base, kind, offset, phase, events);
        } catch (...) {
            unbind(b);
            throw;
        }
        if (st != 0) {
            unbind(b);
            return st;
        }
        b->ws_kind = kind;
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
        if (!b) return DFTI_STATUS_UNCOMMITTED_DESCRIPTOR;
        if (node->queue_mode == 2) b->queue = node->queue;
        const bool buffers = kind && (kind->kind & 1u);
        return compute_1d_xwd(node, b, in, out, deps, ev, dir, buffers);
    }

    static int compute_1d_xwd(DFTI_DESCRIPTOR* node, block* b, void* in, void* out,
                              std::vector<sycl::event>* deps, sycl::event* ev, int dir, bool buffers) {
        if constexpr (frame_refuses_directions<M>::value) {
            if (direction_built(b->directions, dir) && M::direction_refused(b, dir))
                return DFTI_STATUS_DIRECTION_REFUSED;
        }
        const std::uint64_t need = node->twiddle_workspace_bytes + node->scratch_workspace_bytes;
        if (node->internal_workspace != 0) {
            if ((node->twiddle_workspace_bytes != 0 && !b->internal_twiddle) ||
                (node->scratch_workspace_bytes != 0 && !b->internal_scratch))
                return DFTI_STATUS_BAD_DESCRIPTOR;
        } else if (need != 0 && (b->ws_kind & 3) == 0) {
            return DFTI_STATUS_NO_WORKSPACE;
        }
        // A direction that was not built, or whose kernels or sub-nodes are
        // missing, is refused before anything is submitted.
        if (!direction_built(b->directions, dir) || !M::direction_ready(b, dir))
            return DFTI_STATUS_BAD_DESCRIPTOR;
        if constexpr (frame_is_composite<M>::value) {
            if (frame_uses_sub_nodes<M>(b)) {
                if (!b->subs.committed(dir)) return DFTI_STATUS_BAD_DESCRIPTOR;
                b->subs.adopt_queue(node);
            }
        }
        launch_args a{};
        a.in = in;
        a.out = out;
        a.buffers = buffers;
        a.direction = dir;
        a.deps = deps;
        a.after = b->last_event;
        // The areas are USM with the library's workspace or a caller's USM
        // workspace, else sub-buffers of the caller's buffer workspace.
        a.usm_ws = node->internal_workspace != 0 || b->ws_kind == DFTI_CONTAINER_USM;
        a.ws_kind = a.usm_ws ? DFTI_CONTAINER_USM : DFTI_CONTAINER_BUFFER;
        a.table_kind = a.usm_ws ? DFTI_CONTAINER_USM : b->ws_kind;
        sycl::event last;
        a.result = &last;
        const int st = M::launch(node, b, a);
        if (st != 0) return st;
        frame_keep(b->last_event, last);
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
        b->directions = static_cast<std::uint32_t>(node->directions);
        b->scale[0] = static_cast<real>(node->forward_scale);
        b->scale[1] = static_cast<real>(node->backward_scale);
        int st = 0;
        b->dev = device_facts_of(b->queue);
        if constexpr (!frame_has_own_device_checks<M>::value) {
            if (!b->dev.known || !b->dev.generation_known) return DFTI_STATUS_NOT_APPLICABLE;
            b->arch = b->dev.generation;
        }
        node->twiddle_workspace_bytes = 0;
        node->scratch_workspace_bytes = 0;
        st = M::plan(node, b);
        if (st != 0) return st;
        st = size_regions(node, b);
        if (st != 0) return st;
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

    // Waits for the latest compute, frees every area, releases the kernels
    // and destroys the block (with it the sub-nodes of a composite).
    static void release_backend_data(DFTI_DESCRIPTOR* node) {
        block* b = get(node);
        if (!b) return;
        frame_drop(b->last_event);
        bkd_free_buffers(b, 2);
        for (int i = 0; i < block::kernel_slots; ++i) frame_release_kernel(b->kernels[i]);
        b->~block();
        bkd_memory_services.free(b);
        node->bkd_data = nullptr;
    }

    // The workspace alignment of the block's device.
    static std::uint64_t aligned(const block* b, std::uint64_t v) {
        return align_workspace_bytes(v, b->dev.align_bytes);
    }

    // The node's two region sizes from the area list (and the sub-nodes of a
    // composite): the first region its areas laid one after another, each
    // and the whole rounded to the workspace alignment; the second the larger
    // of the module's own scratch areas (as the plan sized them: a plan
    // rounds a scratch area that another one follows) and the sub-nodes'
    // shared scratch, rounded when the plan asked for it (round_scratch).
    // For an estimate the sub-nodes' needs (composite.hpp, estimate mode)
    // follow the rounded first region as they are. 7 when the plan's list
    // overflowed.
    static int size_regions(DFTI_DESCRIPTOR* node, block* b) {
        std::uint64_t tables = 0, scratch = 0;
        const int st = region_sizes(b, tables, scratch);
        node->twiddle_workspace_bytes = tables;
        node->scratch_workspace_bytes = scratch;
        return st;
    }
    static int region_sizes(block* b, std::uint64_t& tables_out, std::uint64_t& scratch_out) {
        area_list& l = b->areas;
        std::uint64_t tables = 0, scratch = 0, sub_tables = 0, sub_scratch = 0, sub_estimates = 0;
        bool estimated_subs = false;
        if constexpr (frame_is_composite<M>::value) {
            sub_tables = b->subs.tables_bytes();
            sub_scratch = b->subs.scratch_bytes();
            estimated_subs = b->subs.estimating;
        }
        for (int i = 0; i < l.count; ++i) {
            area& x = l.a[i];
            if (!l.present(i, b->directions)) continue;
            if (x.sub_nodes) {
                // The sub-nodes' estimated needs are whole workspaces, each
                // sized by its own record: added as they are, after the
                // first region's rounding.
                if (estimated_subs)
                    sub_estimates += sub_tables;
                else
                    tables += sub_tables;
                continue;
            }
            if (x.where == region::tables) {
                x.bytes = aligned(b, x.bytes);
                tables += x.bytes;
            } else {
                scratch += x.bytes;
            }
        }
        tables_out = aligned(b, tables) + sub_estimates;
        scratch = std::max(scratch, sub_scratch);
        scratch_out = l.scratch_rounded ? aligned(b, scratch) : scratch;
        return l.count < area_list::capacity ? 0 : static_cast<int>(DFTI_STATUS_INTERNAL);
    }

    // Places the areas of the phase. 0 or a status; may throw.
    static int place_areas(block* b, void* base, int kind, std::uint64_t offset, std::uint32_t phase,
                           std::vector<sycl::event>* events) {
        const bool tables = phase == DFTI_WS_TABLES || phase == DFTI_WS_BOTH;
        const bool scratch = phase == DFTI_WS_SCRATCH || phase == DFTI_WS_BOTH;
        std::uint64_t off = offset;
        if (tables) {
            const int st = place_region(b, region::tables, base, kind, off, events);
            if (st != 0) return st;
        }
        // After the first region of a whole workspace, the second starts
        // where the first region's rounded size ends.
        if (scratch) {
            off = offset + aligned(b, off - offset);
            return place_region(b, region::scratch, base, kind, off, events);
        }
        return 0;
    }

    // Carves the areas of region `r` one after another from `off` (advanced
    // past them), binds the sub-nodes' part of it, then runs the writers.
    static int place_region(block* b, region r, void* base, int kind, std::uint64_t& off,
                            std::vector<sycl::event>* events) {
        area_list& l = b->areas;
        const std::uint64_t start = off;
        const bool usm = kind == DFTI_CONTAINER_USM;
        for (int i = 0; i < l.count; ++i) {
            area& x = l.a[i];
            if (x.where != r || !l.present(i, b->directions)) continue;
            if (x.sub_nodes) {
                if constexpr (frame_is_composite<M>::value) {
                    const int st = b->subs.place_tables(base, kind, off, events);
                    if (st != 0) return st;
                }
                continue;
            }
            if (x.bytes == 0) continue;
            if (!base || (kind != DFTI_CONTAINER_USM && kind != DFTI_CONTAINER_BUFFER))
                return frame_missing_area_status<M>::value;
            frame_carve(base, kind, off, x.bytes, x.usm, x.buf);
            // The library's own workspace is USM: a data area takes a buffer
            // of the library's own too, for computes on buffer data.
            if (usm && x.data && b->binding_held_areas)
                x.own = new sycl::buffer<char, 1>(sycl::range<1>(static_cast<std::size_t>(x.bytes)));
            off += x.bytes;
        }
        if (r == region::scratch) {
            if constexpr (frame_is_composite<M>::value) {
                // The sub-nodes' scratch starts with the region: their computes
                // and the module's own uses of its scratch follow one another.
                const int st = b->subs.place_scratch(base, kind, start, nullptr);
                if (st != 0) return st;
            }
            return 0;
        }
        for (int i = 0; i < l.count; ++i) {
            area& x = l.a[i];
            if (x.where != r || !x.writer || x.bytes == 0 || !l.present(i, b->directions)) continue;
            if (usm ? !x.usm : !x.buf) return frame_missing_area_status<M>::value;
            int st = write_area(x, area_target{kind, x.usm, x.buf}, true, events);
            if (st == 0 && x.own) st = write_area(x, area_target{DFTI_CONTAINER_BUFFER, nullptr, x.own}, false, events);
            if (st != 0) return st;
        }
        return 0;
    }

    // Runs an area's writer on one target; the last event of the workspace's
    // own target is kept for the computes that read the area.
    static int write_area(area& x, const area_target& t, bool keep, std::vector<sycl::event>* events) {
        std::vector<sycl::event> submitted;
        const int st = x.writer(t, submitted);
        if (keep && !submitted.empty()) frame_keep(x.event, submitted.back());
        if (events) events->insert(events->end(), submitted.begin(), submitted.end());
        return st;
    }

    // Drops every placed area (both regions) of the node and its sub-nodes;
    // the library-held allocations stay with the block.
    static void unbind(block* b) {
        b->ws_kind = 0;
        drop_areas(b, 2);
        if constexpr (frame_is_composite<M>::value) b->subs.unbind();
    }

    // which: 0 tables, 1 scratch, 2 both. Work that may still use an area
    // (the latest compute and its sub-node computes, the table kernels) is
    // waited for first.
    static void drop_areas(block* b, int which) {
        frame_wait_quietly(b->last_event);
        if constexpr (frame_is_composite<M>::value) frame_wait_quietly(b->subs.last);
        if (which == 0 || which == 2) b->areas.drop(region::tables);
        if (which == 1 || which == 2) b->areas.drop(region::scratch);
    }

    // Drops the areas of the regions and frees the library-held allocations
    // that back them (in the context they were allocated in).
    static void bkd_free_buffers(block* b, int which) {
        drop_areas(b, which);
        if (which == 0 || which == 2) b->internal_twiddle.release();
        if (which == 1 || which == 2) b->internal_scratch.release();
    }

    // The library's own workspace: one device area per region, allocated on
    // the commit queue and bound like a caller's USM workspace. The node
    // then reads as bound through the held areas, not through ws_kind.
    static int create_and_initialize_internal_workspaces(DFTI_DESCRIPTOR* node) {
        if (node->internal_workspace == 0) return DFTI_STATUS_BAD_DESCRIPTOR;
        block* b = get(node);
        if (!b) return DFTI_STATUS_UNCOMMITTED_DESCRIPTOR;
        std::vector<sycl::event> events;
        int st = 0;
        b->binding_held_areas = true;
        frame_held_area area;
        try {
            if (node->twiddle_workspace_bytes != 0) {
                st = area.allocate(*b->queue, node->twiddle_workspace_bytes);
                if (st == 0) st = add_workspace(area.ptr, DFTI_CONTAINER_USM, 0, node, DFTI_WS_TABLES, &events);
                area.move_to(b->internal_twiddle);
            }
            if (st == 0 && node->scratch_workspace_bytes != 0) {
                st = area.allocate(*b->queue, node->scratch_workspace_bytes);
                if (st == 0) st = add_workspace(area.ptr, DFTI_CONTAINER_USM, 0, node, DFTI_WS_SCRATCH, &events);
                area.move_to(b->internal_scratch);
            }
        } catch (...) {
            // A binding that throws (a table writer's submit, say) has
            // unbound the node: the allocation being bound is freed here,
            // once the writers already submitted into it have ended.
            b->binding_held_areas = false;
            for (auto& e : events) frame_wait_quietly(&e);
            area.release();
            throw;
        }
        b->binding_held_areas = false;
        b->ws_kind = 0;
        for (auto& e : events) e.wait();
        return st;
    }
};

}  // namespace gpufw
}  // namespace dft
}  // namespace ovx
}  // namespace korami

#endif
