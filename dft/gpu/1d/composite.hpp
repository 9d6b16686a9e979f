// Composite modules: a module made of a plan plus a table of sub-nodes. Each
// row of the table describes one sub-transform; the layer creates the
// sub-nodes (CPU library creators, blessed for threading), names them, lets
// the row write their fields and commits them through a candidate list, so
// that every sub-transform goes through the ordinary backend records. It then
// lays their workspaces out, hands them the parent's queue before a compute,
// orders their computes and destroys them once their work ended.
//
// A composite module's block holds a `sub_node_table<R>` named `subs` and the
// module declares `static constexpr bool composite = true;`: the frame then
// unbinds the sub-nodes together with the parent when a binding fails.
#ifndef OVX_DFT_GPU_1D_COMPOSITE_HPP
#define OVX_DFT_GPU_1D_COMPOSITE_HPP

#include <algorithm>
#include <cstdint>
#include <functional>
#include <type_traits>
#include <vector>

#include <sycl/sycl.hpp>

#include "dft/gpu/1d/frame_areas.hpp"
#include "dft/gpu/ovx_dft_gpu_common.hpp"
#include "dft/node/ovx_dft_cpu_library.h"
#include "dft/node/ovx_dft_node.hpp"
#include "gpu/ovx_gpu.hpp"

namespace korami {
namespace ovx {
namespace dft {
namespace gpu1d {

// One sub-transform of a composite module.
struct sub_node_row {
    const char* name;                                  // at most 9 characters
    std::function<int(DFTI_DESCRIPTOR**)> create;      // makes the node (0 or a status)
    std::function<void(DFTI_DESCRIPTOR*)> set_fields;  // plan fields of the sub-node; may be empty
    bkdlist list;                                      // candidates; null keeps the creator's list
    std::uint32_t directions;                          // computes that use it: 0 forward, 1 backward, 2 both
};

// The creator of a 1D complex sub-node of length `n` in the parent's precision.
inline std::function<int(DFTI_DESCRIPTOR**)> complex_1d_creator(bool single, std::int64_t n) {
    return [single, n](DFTI_DESCRIPTOR** s) {
        return single ? gpu_dfti_create_sc1d(s, n, nullptr) : gpu_dfti_create_dc1d(s, n, nullptr);
    };
}

// The sub-nodes of a composite, in table order. Lives in the module's block
// (value-initialised); its destructor waits for the sub-nodes' work and
// destroys them.
template <int R>
struct sub_node_table {
    static constexpr int max_rows = R;
    DFTI_DESCRIPTOR* node[R] = {};
    std::uint32_t dirs[R] = {};
    int count = 0;
    sycl::event* last = nullptr;  // last compute submitted to a sub-node, owned

    sub_node_table() = default;
    sub_node_table(const sub_node_table&) = delete;
    sub_node_table& operator=(const sub_node_table&) = delete;
    ~sub_node_table() { destroy(); }

    DFTI_DESCRIPTOR* operator[](int i) const { return i >= 0 && i < count ? node[i] : nullptr; }

    // Creates and commits one sub-node per row, in order. Returns 0 or the
    // first failing status; on a failure every sub-node made so far is
    // destroyed and the table is empty.
    int make(const DFTI_DESCRIPTOR* parent, const sub_node_row* rows, int n) {
        destroy();
        if (n > R) return DFTI_STATUS_INTERNAL;
        for (int i = 0; i < n; ++i) {
            int st;
            try {
                st = make_one(parent, rows[i]);
            } catch (...) {
                destroy();
                throw;
            }
            if (st != 0) {
                destroy();
                return st;
            }
        }
        return 0;
    }

    // Sum of the sub-nodes' table bytes, and the largest scratch need.
    std::uint64_t tables_bytes() const {
        std::uint64_t v = 0;
        for (int i = 0; i < count; ++i) v += node[i]->twiddle_workspace_bytes;
        return v;
    }
    std::uint64_t scratch_bytes() const {
        std::uint64_t v = 0;
        for (int i = 0; i < count; ++i) v = std::max<std::uint64_t>(v, node[i]->scratch_workspace_bytes);
        return v;
    }

    // Tables region: each sub-node's tables at running offsets from `off`
    // (advanced past them). The writers' events go to `events`.
    int place_tables(void* base, int kind, std::uint64_t& off, std::vector<sycl::event>* events) {
        for (int i = 0; i < count; ++i) {
            const int st = bind(node[i], base, kind, off, DFTI_WS_TABLES, events);
            if (st != 0) return st;
            off += node[i]->twiddle_workspace_bytes;
        }
        return 0;
    }

    // Scratch region: one start shared by every sub-node (their computes
    // run one after the other).
    int place_scratch(void* base, int kind, std::uint64_t off, std::vector<sycl::event>* events) {
        for (int i = 0; i < count; ++i) {
            const int st = bind(node[i], base, kind, off, DFTI_WS_SCRATCH, events);
            if (st != 0) return st;
        }
        return 0;
    }

    // Leaves every sub-node without workspace: each is handed an empty
    // binding, which drops its areas (a sub-node that needs a workspace then
    // answers 11 until it is bound again).
    void unbind() {
        for (int i = 0; i < count; ++i) {
            try {
                bind(node[i], nullptr, 0, 0, DFTI_WS_BOTH, nullptr);
            } catch (...) {
            }
        }
    }

    // True when every sub-node that a compute of `dir` uses is committed.
    bool committed(int dir) const {
        for (int i = 0; i < count; ++i) {
            if (dirs[i] != 2 && dirs[i] != static_cast<std::uint32_t>(dir)) continue;
            const DFTI_DESCRIPTOR* s = node[i];
            if (!s || s->commit_status != DFTI_COMMITTED) return false;
            if (!(dir == 0 ? s->compute_fwd : s->compute_bwd)) return false;
        }
        return count > 0;
    }

    // Hands the parent's queue and queue mode to every sub-node; done before
    // each compute, since queue mode 2 takes the queue of the compute.
    void adopt_queue(const DFTI_DESCRIPTOR* parent) {
        for (int i = 0; i < count; ++i) {
            node[i]->queue = parent->queue;
            node[i]->queue_mode = parent->queue_mode;
        }
    }

    // Computes sub-node `s` in direction `dir` after `deps` (USM data; buffer
    // data are ordered by their accessors). `e` receives its last event,
    // which the table keeps as the latest work of its sub-nodes.
    int run(DFTI_DESCRIPTOR* s, int dir, void* in, void* out, const std::vector<sycl::event>& deps, bool buffers,
            const dfti_data_kind* kind, sycl::event& e) {
        if (!s) return DFTI_STATUS_INTERNAL;
        const dfti_compute_fn f = dir == 0 ? s->compute_fwd : s->compute_bwd;
        if (!f || s->commit_status != DFTI_COMMITTED) return DFTI_STATUS_BAD_DESCRIPTOR;
        std::vector<sycl::event> d = deps;
        const int st = f(s, in, out, buffers ? nullptr : &d, kind, &e);
        if (st != 0) return st;
        delete last;
        last = new sycl::event(e);
        return 0;
    }

    // Waits for the sub-nodes' work, then destroys them.
    void destroy() {
        if (last) {
            frame_wait_quietly(last);
            delete last;
            last = nullptr;
        }
        for (int i = 0; i < count; ++i) {
            DFTI_DESCRIPTOR*& s = node[i];
            if (s && s->methods && s->methods->destroy) s->methods->destroy(s);
            s = nullptr;
            dirs[i] = 0;
        }
        count = 0;
    }

private:
    int make_one(const DFTI_DESCRIPTOR* parent, const sub_node_row& row) {
        DFTI_DESCRIPTOR* s = nullptr;
        const int st = row.create(&s);
        if (st != 0 || !s) return st != 0 ? st : static_cast<int>(DFTI_STATUS_ALLOCATION_FAILED);
        // Owned from here: a later failure destroys it with the others.
        node[count] = s;
        dirs[count] = row.directions;
        ++count;
        ovx_dft_bless_node_thr(s);
        s->queue = parent->queue;
        s->directions = parent->directions;
        s->queue_mode = parent->queue_mode;
        s->internal_workspace = 0;
        s->thread_limit = 1;
        s->is_sub_node = 1;
        if (row.set_fields) row.set_fields(s);
        if (row.list) s->bkdlist = row.list;
        char padded[10] = {0};
        if (bounded_snprintf(padded, sizeof padded, "%s", row.name) < 0) return DFTI_STATUS_INTERNAL;
        const int ns = s->methods->set_name(s, padded, 10, 0);
        if (ns != 0) return ns;
        return s->methods->commit(s);
    }

    static int bind(DFTI_DESCRIPTOR* s, void* base, int kind, std::uint64_t off, std::uint32_t phase,
                    std::vector<sycl::event>* events) {
        if (!s->bkd || !s->bkd->add_workspace) return DFTI_STATUS_INVALID;
        return s->bkd->add_workspace(base, kind, off, s, phase, events);
    }
};

// True for modules made of sub-nodes (see above).
template <class M, class = void>
struct frame_is_composite : std::false_type {};
template <class M>
struct frame_is_composite<M, std::void_t<decltype(M::composite)>> : std::integral_constant<bool, M::composite> {};

}  // namespace gpu1d
}  // namespace dft
}  // namespace ovx
}  // namespace korami

#endif
