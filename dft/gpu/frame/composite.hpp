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
// unbinds the sub-nodes together with the parent when a binding fails. For a
// workspace estimate the frame puts the table in estimate mode: the plan runs
// as at commit, but each row is asked for its need instead of being committed
// (sub_node_table::estimate_rows), and the needs stand in the area list where
// the sub-nodes' tables would lie.
//
// The multi-dimensional composites describe their sub-transforms as plain
// configurations (sub_cfg), in forward/backward pairs that become one shared
// sub-node when both directions' configurations are equal, and commit them
// with commit_variants.
#ifndef OVX_DFT_GPU_FRAME_COMPOSITE_HPP
#define OVX_DFT_GPU_FRAME_COMPOSITE_HPP

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <type_traits>
#include <vector>

#include <sycl/sycl.hpp>

#include "dft/gpu/frame/areas.hpp"
#include "dft/gpu/frame/block.hpp"
#include "dft/node/ovx_dft_cpu_library.h"
#include "dft/node/ovx_dft_node.hpp"
#include "gpu/ovx_gpu.hpp"

namespace korami {
namespace ovx {
namespace dft {
namespace gpufw {

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
    // Estimate mode (set by the frame for a workspace estimate): make() asks
    // each row's candidate list for its workspace need instead of committing
    // it; need[i] receives the answer (0 when no candidate takes the row),
    // refused[i] tells a row that cannot be planned or whose own list has no
    // record that takes it, and no sub-node is kept.
    bool estimating = false;
    const sycl::queue* estimate_queue = nullptr;
    std::uint64_t need[R] = {};
    bool refused[R] = {};
    int rows_estimated = 0;

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
        if (estimating) return estimate_rows(parent, rows, n);
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

    // Sum of the sub-nodes' table bytes, and the largest scratch need. In
    // estimate mode the rows' needs all count as tables (their tables and
    // scratch are not told apart by an estimate).
    std::uint64_t tables_bytes() const {
        std::uint64_t v = 0;
        if (estimating) {
            for (int i = 0; i < rows_estimated; ++i) v += need[i];
            return v;
        }
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
        rows_estimated = 0;
    }

    // Number of estimated rows that need a workspace, and whether one was
    // refused (estimate mode).
    int rows_needing_workspace() const {
        int k = 0;
        for (int i = 0; i < rows_estimated; ++i) k += need[i] > 0 ? 1 : 0;
        return k;
    }
    bool any_row_refused() const {
        for (int i = 0; i < rows_estimated; ++i)
            if (refused[i]) return true;
        return false;
    }

    // Estimate mode, for a part of a plan that a commit lays out in one of
    // several ways (the layouts a direction may take): `rows_of(v)` gives
    // the rows of layout v (0 .. n-1). Each layout's rows are estimated
    // after the rows already estimated, and those of the layout with the
    // largest need stay, each row weighed with `row_margin` more when it
    // needs a workspace (the alignment margin its place takes). 0, or the
    // status of a row that cannot be made (no row of the part stays then).
    template <class RowsOf>
    int largest_of_layouts(const DFTI_DESCRIPTOR* parent, int n, RowsOf rows_of, std::uint64_t row_margin) {
        if (!estimating) return DFTI_STATUS_INTERNAL;
        const int first = rows_estimated;
        std::uint64_t best_need[R] = {};
        bool best_refused[R] = {};
        int best_rows = 0;
        std::uint64_t best = 0;
        for (int v = 0; v < n; ++v) {
            const std::vector<sub_node_row> rows = rows_of(v);
            const int k = static_cast<int>(rows.size());
            if (k > R - first) return DFTI_STATUS_INTERNAL;
            const int st = estimate_rows(parent, rows.data(), k);
            const int made = rows_estimated - first;
            rows_estimated = first;
            if (st != 0) return st;
            std::uint64_t weight = 0;
            for (int i = first; i < first + made; ++i) weight += need[i] + (need[i] > 0 ? row_margin : 0);
            if (v == 0 || weight > best) {
                best = weight;
                best_rows = made;
                std::copy(need + first, need + first + made, best_need);
                std::copy(refused + first, refused + first + made, best_refused);
            }
        }
        std::copy(best_need, best_need + best_rows, need + first);
        std::copy(best_refused, best_refused + best_rows, refused + first);
        rows_estimated = first + best_rows;
        return 0;
    }

private:
    // Estimate mode of make(): each row's node is created and configured as
    // for a commit, normalised, asked for its workspace and destroyed; the
    // answers follow those already estimated (none after destroy()). A row
    // with a list of its own asks that list's records (the largest answer;
    // refused when none takes it), else the creator's candidate list answers
    // (dft_estimate_workspace_bytes: 0 when none takes it). The node is not
    // marked as a sub-node unless the row's fields do so: the candidates that
    // refuse sub-nodes then answer too, which keeps the figure an upper bound.
    int estimate_rows(const DFTI_DESCRIPTOR* parent, const sub_node_row* rows, int n) {
        for (int i = 0; i < n; ++i) {
            DFTI_DESCRIPTOR* s = nullptr;
            const int st = rows[i].create(&s);
            if (st != 0 || !s) return st != 0 ? st : static_cast<int>(DFTI_STATUS_ALLOCATION_FAILED);
            std::int64_t v = -1;
            try {
                s->directions = parent->directions;
                if (rows[i].set_fields) rows[i].set_fields(s);
                if (dfti_normalize_node(s) == 0) {
                    if (rows[i].list) {
                        for (bkdlist l = rows[i].list; *l; ++l)
                            if ((*l)->estimate) v = std::max(v, (*l)->estimate(*l, s, estimate_queue));
                    } else {
                        const dft_workspace_problem p{s, estimate_queue};
                        v = s->precision == DFTI_SINGLE ? dft_estimate_workspace_bytes<float>(p)
                                                        : dft_estimate_workspace_bytes<double>(p);
                    }
                }
            } catch (...) {
                s->methods->destroy(s);
                throw;
            }
            s->methods->destroy(s);
            refused[rows_estimated] = v < 0;
            need[rows_estimated++] = v > 0 ? static_cast<std::uint64_t>(v) : 0;
        }
        return 0;
    }

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
        if (!s->bkd || !s->bkd->add_workspace) return DFTI_STATUS_UNCOMMITTED_DESCRIPTOR;
        return s->bkd->add_workspace(base, kind, off, s, phase, events);
    }
};

// True for modules made of sub-nodes (see above).
template <class M, class = void>
struct frame_is_composite : std::false_type {};
template <class M>
struct frame_is_composite<M, std::void_t<decltype(M::composite)>> : std::integral_constant<bool, M::composite> {};

// ---- multi-dimensional sub-transforms ----------------------------------------------

// One sub-transform: a real or complex node of rank 1 or 2 with its domain
// strides, batch records (domain distances) and fields.
struct sub_cfg {
    bool real = false;
    int rank = 1;
    dfti_dim dims[2] = {};
    dfti_dim batch[3] = {};
    int batches = 0;
    std::int32_t placement = DFTI_INPLACE;
    std::int32_t destroy_input = 0;
    double fwd_scale = 1.0, bwd_scale = 1.0;

    void dim(int i, std::int64_t n, std::int64_t fwd, std::int64_t bwd) { dims[i] = dfti_dim{n, 0, 0, fwd, bwd}; }
    // A record of one transform has no distances that matter: it is kept
    // without them, so that it does not make two configurations differ.
    void add_batch(std::int64_t n, std::int64_t fwd, std::int64_t bwd) {
        batch[batches++] = n == 1 ? dfti_dim{1, 0, 0, 0, 0} : dfti_dim{n, 0, 0, fwd, bwd};
    }

};

// Creates the node of a configuration in the given precision (0 or a status).
inline int create_sub(const sub_cfg& c, bool single, DFTI_DESCRIPTOR** s) {
    std::int64_t lengths[2] = {c.dims[0].length, c.rank > 1 ? c.dims[1].length : 1};
    int st;
    if (c.real) {
        if (c.rank == 1)
            st = single ? gpu_dfti_create_sr1d(s, lengths[0], nullptr) : gpu_dfti_create_dr1d(s, lengths[0], nullptr);
        else
            st = single ? gpu_dfti_create_srmd(s, c.rank, lengths, nullptr) : gpu_dfti_create_drmd(s, c.rank, lengths, nullptr);
    } else {
        st = single ? gpu_dfti_create_sc1d(s, lengths[0], nullptr) : gpu_dfti_create_dc1d(s, lengths[0], nullptr);
    }
    return st;
}

// Writes the configuration's fields into a created node.
inline void configure_sub(const sub_cfg& c, DFTI_DESCRIPTOR* s) {
    for (int i = 0; i < c.rank; ++i) s->user_dims.records[i] = c.dims[i];
    for (int j = 0; j < c.batches; ++j) s->user_batch.records[j] = c.batch[j];
    s->placement = c.placement;
    s->destroy_input = c.destroy_input;
    s->forward_scale = c.fwd_scale;
    s->backward_scale = c.bwd_scale;
}

// True when the two configurations make nodes that one sub-node can serve:
// both nodes are made, configured alike and compared as nodes
// (dfti_nodes_same_layout), so that every composite shares by one rule.
inline bool same_sub_node(const sub_cfg& f, const sub_cfg& b, bool single) {
    DFTI_DESCRIPTOR *nf = nullptr, *nb = nullptr;
    bool same = false;
    if (create_sub(f, single, &nf) == 0 && nf && create_sub(b, single, &nb) == 0 && nb) {
        configure_sub(f, nf);
        configure_sub(b, nb);
        same = dfti_nodes_same_layout(nf, nb);
    }
    if (nf) nf->methods->destroy(nf);
    if (nb) nb->methods->destroy(nb);
    return same;
}

// A forward/backward pair of one sub-transform and its names.
struct sub_pair {
    sub_cfg f, b;
    std::string shared_name, fwd_name, bwd_name;
};

// The sub-node rows of the wanted directions: a pair whose configurations
// are equal becomes one row that serves both directions. `fi`/`bi` receive
// each pair's row index per direction (-1 when not built).
inline std::vector<sub_node_row> pair_rows(const std::vector<sub_pair>& pairs, bool want_f, bool want_b, bool single,
                                           std::vector<int>& fi, std::vector<int>& bi) {
    std::vector<sub_node_row> rows;
    fi.assign(pairs.size(), -1);
    bi.assign(pairs.size(), -1);
    auto row = [single](const sub_cfg& c, const std::string& name, std::uint32_t dir) {
        return sub_node_row{name.c_str(), [c, single](DFTI_DESCRIPTOR** s) { return create_sub(c, single, s); },
                            [c, dir](DFTI_DESCRIPTOR* s) {
                                configure_sub(c, s);
                                s->directions = static_cast<std::int32_t>(dir);
                            },
                            nullptr, dir};
    };
    for (std::size_t p = 0; p < pairs.size(); ++p) {
        const sub_pair& q = pairs[p];
        if (want_f && want_b && same_sub_node(q.f, q.b, single)) {
            fi[p] = bi[p] = static_cast<int>(rows.size());
            rows.push_back(row(q.f, q.shared_name, 2));
            continue;
        }
        if (want_f) {
            fi[p] = static_cast<int>(rows.size());
            rows.push_back(row(q.f, q.fwd_name, 0));
        }
        if (want_b) {
            bi[p] = static_cast<int>(rows.size());
            rows.push_back(row(q.b, q.bwd_name, 1));
        }
    }
    return rows;
}

// Commits the sub-nodes of a module whose directions can each be laid out in
// several ways (variants, in order of preference): `pairs_of(f, b)` gives the
// pairs with forward variant f (0 .. nf-1) and backward variant b
// (0 .. nb-1). The preferred variants of every wanted direction are tried
// together first, so that a pair whose two configurations are equal becomes
// one node. When that fails, each wanted direction alone goes through its
// variants until one commits, and the two found are committed together; a
// direction none of whose variants commits is left out, so that the module
// still serves the other one. A sub-node asked for both directions is only
// accepted with both: its parent runs it in either.
// fwd[p]/bwd[p] receive the nodes of each direction (null when the direction
// is not served) and fv/bv its variant (-1). Returns 0, 1 when memory fails,
// 7 for more rows than the table holds, else 100. A sub-node that fails for
// any other reason only rules out the variants it belongs to.
template <class Table, class PairsOf>
int commit_variants(const DFTI_DESCRIPTOR* node, Table& subs, int nf, int nb, PairsOf pairs_of, bool single,
                    std::vector<DFTI_DESCRIPTOR*>& fwd, std::vector<DFTI_DESCRIPTOR*>& bwd, int& fv, int& bv) {
    const std::uint32_t d = static_cast<std::uint32_t>(node->directions);
    const bool want_f = (d == 0 || d == 2) && nf > 0, want_b = (d == 1 || d == 2) && nb > 0;
    fv = bv = -1;
    fwd.clear();
    bwd.clear();
    // Makes the sub-nodes of forward variant f and backward variant b (-1:
    // that direction not built); 0, or the status of the first that failed
    // (the table is then empty), or `too_many`.
    constexpr int too_many = -1;
    auto attempt = [&](int f, int b) -> int {
        const std::vector<sub_pair> pairs = pairs_of(f < 0 ? 0 : f, b < 0 ? 0 : b);
        std::vector<int> fi, bi;
        const std::vector<sub_node_row> rows = pair_rows(pairs, f >= 0, b >= 0, single, fi, bi);
        fwd.assign(pairs.size(), nullptr);
        bwd.assign(pairs.size(), nullptr);
        fv = bv = -1;
        if (static_cast<int>(rows.size()) > Table::max_rows) {
            subs.destroy();
            return too_many;
        }
        const int st = subs.make(node, rows.data(), static_cast<int>(rows.size()));
        if (st != 0) return st;
        for (std::size_t p = 0; p < pairs.size(); ++p) {
            fwd[p] = fi[p] >= 0 ? subs[fi[p]] : nullptr;
            bwd[p] = bi[p] >= 0 ? subs[bi[p]] : nullptr;
        }
        fv = f;
        bv = b;
        return 0;
    };
    // A status that ends the search: memory, or a table too small.
    auto fatal = [](int st) { return st == DFTI_STATUS_ALLOCATION_FAILED || st == too_many; };
    auto result = [](int st) { return st == too_many ? static_cast<int>(DFTI_STATUS_INTERNAL) : st; };
    if (!want_f && !want_b) return DFTI_STATUS_NOT_APPLICABLE;
    int st = attempt(want_f ? 0 : -1, want_b ? 0 : -1);
    if (st == 0 || fatal(st)) return result(st);
    // Each wanted direction alone, through its variants.
    int found_f = -1, found_b = -1;
    for (int v = want_b ? 0 : 1; want_f && v < nf && found_f < 0; ++v) {
        st = attempt(v, -1);
        if (fatal(st)) return result(st);
        if (st == 0) found_f = v;
    }
    for (int v = want_f ? 0 : 1; want_b && v < nb && found_b < 0; ++v) {
        st = attempt(-1, v);
        if (fatal(st)) return result(st);
        if (st == 0) found_b = v;
    }
    if (found_f >= 0 && found_b >= 0 && (found_f != 0 || found_b != 0)) {
        st = attempt(found_f, found_b);
        if (st == 0 || fatal(st)) return result(st);
    }
    if (want_f && want_b && node->is_sub_node != 0) {
        subs.destroy();
        fwd.clear();
        bwd.clear();
        fv = bv = -1;
        return DFTI_STATUS_NOT_APPLICABLE;
    }
    // One direction: the forward one when both commit alone only.
    if (found_f >= 0) {
        if (fv == found_f && bv < 0) return 0;
        st = attempt(found_f, -1);
        return st == 0 || fatal(st) ? result(st) : static_cast<int>(DFTI_STATUS_NOT_APPLICABLE);
    }
    if (found_b >= 0) {
        if (bv == found_b && fv < 0) return 0;
        st = attempt(-1, found_b);
        return st == 0 || fatal(st) ? result(st) : static_cast<int>(DFTI_STATUS_NOT_APPLICABLE);
    }
    fwd.clear();
    bwd.clear();
    return DFTI_STATUS_NOT_APPLICABLE;
}

// The row that estimates one configuration as a sub-node serving both
// directions (estimate mode: the node keeps the parent's directions).
inline sub_node_row cfg_row(const sub_cfg& c, const char* name, bool single) {
    return sub_node_row{name, [c, single](DFTI_DESCRIPTOR** s) { return create_sub(c, single, s); },
                        [c](DFTI_DESCRIPTOR* s) { configure_sub(c, s); }, nullptr, 2};
}

// Commits the pairs' sub-nodes into `subs` (one layout per direction): both
// directions when both are wanted, else each wanted direction alone, so that
// a module whose sub-transforms of one direction no backend takes still
// serves the other. fwd[p]/bwd[p] receive the nodes of each direction (null
// when the direction is not served). Returns 0, 1 when memory fails, else
// 100 (7 for more rows than the table holds).
// In estimate mode every configuration of both directions is estimated as a
// row of its own (an upper bound of the committed figure, which counts a
// shared node once) and the direction sets stay empty.
template <class Table>
int commit_pairs(const DFTI_DESCRIPTOR* node, Table& subs, const std::vector<sub_pair>& pairs, bool single,
                 std::vector<DFTI_DESCRIPTOR*>& fwd, std::vector<DFTI_DESCRIPTOR*>& bwd) {
    if (subs.estimating) {
        fwd.clear();
        bwd.clear();
        std::vector<sub_node_row> rows;
        for (const sub_pair& p : pairs)
            for (const sub_cfg* c : {&p.f, &p.b}) rows.push_back(cfg_row(*c, p.shared_name.c_str(), single));
        return subs.make(node, rows.data(), static_cast<int>(rows.size()));
    }
    int fv = -1, bv = -1;
    return commit_variants(node, subs, 1, 1, [&pairs](int, int) { return pairs; }, single, fwd, bwd, fv, bv);
}

// For an estimate: `fixed` alignments of margin plus one for each estimated
// row that needs a workspace (each placed at an aligned offset), as areas of
// the first region. 0, or 7 when the area list is full.
template <class Block>
int list_alignment_margins(Block* b, int fixed) {
    const int pads = fixed + b->subs.rows_needing_workspace();
    for (int i = 0; i < pads; ++i)
        if (b->areas.scratch("alignment margin", frame_align(b, 1), region::tables) < 0)
            return DFTI_STATUS_INTERNAL;
    return 0;
}

// True when every node of a direction's set exists and is committed.
inline bool set_complete(const std::vector<DFTI_DESCRIPTOR*>& set) {
    if (set.empty()) return false;
    for (const DFTI_DESCRIPTOR* s : set)
        if (!s || s->commit_status != DFTI_COMMITTED) return false;
    return true;
}

// The frame hooks every multi-dimensional composite shares: no kernels of
// its own, and a direction is ready when its sub-node set is complete (a
// direction built without a complete set is one whose layout no backend
// took at commit).
template <class Block>
struct md_composite_hooks {
    static int build_kernels(DFTI_DESCRIPTOR*, Block*) { return 0; }
    static bool direction_ready(const Block* b, int dir) { return set_complete(dir == 0 ? b->fwd : b->bwd); }
    static bool direction_refused(const Block* b, int dir) { return !direction_ready(b, dir); }
};

// A compute's first sub-node must not start before the previous compute's
// last step, which may still read the scratch region they share. With USM
// data the dependency vector carries that order (frame_first_dependencies);
// with buffer data the sub-nodes take no dependency vector (their accessors
// order them on the data only), so the host waits for the previous compute
// when a shared scratch region exists.
inline void order_buffer_compute_after_previous(const launch_args& a, bool shared_scratch) {
    if (a.buffers && shared_scratch && a.after) frame_wait_quietly(const_cast<sycl::event*>(a.after));
}

}  // namespace gpufw
}  // namespace dft
}  // namespace ovx
}  // namespace korami

#endif
