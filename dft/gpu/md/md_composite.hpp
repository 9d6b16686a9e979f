// Shared pieces of the multi-dimensional composite modules (real 2D/3D main,
// 3D complex main): the configuration of one sub-transform as plain data,
// its creation as a node, and the commit of a module's sub-nodes in pairs
// (forward and backward), one shared node when the two configurations are
// equal, with a module accepted when at least one direction's set commits.
#ifndef OVX_DFT_GPU_MD_COMPOSITE_HPP
#define OVX_DFT_GPU_MD_COMPOSITE_HPP

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "dft/gpu/1d/composite.hpp"
#include "dft/node/ovx_dft_node.hpp"

namespace korami {
namespace ovx {
namespace dft {
namespace gpumd {

using gpu1d::sub_node_row;

// The strides of one side of a dimension record: the input (output) stride
// when given, else the domain stride of that side. Input and output strides
// are what a caller sets last, so they take precedence over the domain
// defaults that the descriptor always fills in.
inline std::int64_t or_else(std::int64_t a, std::int64_t b) { return a != 0 ? a : b; }

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

// Commits the pairs' sub-nodes into `subs` (one layout per direction): both
// directions when both are wanted, else each wanted direction alone, so that
// a module whose sub-transforms of one direction no backend takes still
// serves the other. fwd[p]/bwd[p] receive the nodes of each direction (null
// when the direction is not served). Returns 0, 1 when memory fails, else
// 100 (7 for more rows than the table holds).
template <class Table>
int commit_pairs(const DFTI_DESCRIPTOR* node, Table& subs, const std::vector<sub_pair>& pairs, bool single,
                 std::vector<DFTI_DESCRIPTOR*>& fwd, std::vector<DFTI_DESCRIPTOR*>& bwd) {
    int fv = -1, bv = -1;
    return commit_variants(node, subs, 1, 1, [&pairs](int, int) { return pairs; }, single, fwd, bwd, fv, bv);
}

// True when every node of a direction's set exists and is committed.
inline bool set_complete(const std::vector<DFTI_DESCRIPTOR*>& set) {
    if (set.empty()) return false;
    for (const DFTI_DESCRIPTOR* s : set)
        if (!s || s->commit_status != DFTI_COMMITTED) return false;
    return true;
}

// Estimated workspace of one sub-transform configuration (0 when no
// estimator applies), rounded up to the workspace alignment.
template <class Real>
std::int64_t estimate_cfg(const sub_cfg& c, const DFTI_DESCRIPTOR* node, const dft_workspace_problem& problem,
                          std::uint64_t align) {
    constexpr bool single = std::is_same<Real, float>::value;
    DFTI_DESCRIPTOR* s = nullptr;
    if (create_sub(c, single, &s) != 0 || !s) return -1;
    configure_sub(c, s);
    s->directions = node->directions;
    std::int64_t v = 0;
    if (dfti_normalize_node(s) == 0) v = dft_estimate_workspace_bytes<Real>(dft_workspace_problem{s, problem.queue});
    s->methods->destroy(s);
    return v > 0 ? v + static_cast<std::int64_t>(align) : 0;
}

// Estimated workspace of the pairs' sub-transforms: every configuration
// counted on its own (an upper bound of the committed figure, which counts a
// shared node once), each rounded up to the workspace alignment.
template <class Real>
std::int64_t estimate_pairs(const std::vector<sub_pair>& pairs, const DFTI_DESCRIPTOR* node,
                            const dft_workspace_problem& problem, std::uint64_t align) {
    std::int64_t sum = 0;
    for (const sub_pair& p : pairs) {
        for (const sub_cfg* c : {&p.f, &p.b}) {
            const std::int64_t v = estimate_cfg<Real>(*c, node, problem, align);
            if (v < 0) return -1;
            sum += v;
        }
    }
    return sum;
}

// The frame hooks every multi-dimensional composite shares: no kernels of
// its own, a direction is ready when its sub-node set is complete (a
// direction built without a complete set is one whose layout no backend
// took at commit), and the scratch is the sub-nodes' shared scratch.
template <class Block>
struct md_composite_hooks {
    static int build_kernels(DFTI_DESCRIPTOR*, Block*) { return 0; }
    static bool direction_ready(const Block* b, int dir) { return set_complete(dir == 0 ? b->fwd : b->bwd); }
    static bool direction_refused(const Block* b, int dir) { return !direction_ready(b, dir); }
    static int place_scratch(Block* b, void* base, int kind, std::uint64_t offset) {
        return b->subs.place_scratch(base, kind, offset, nullptr);
    }
    static void free_scratch(Block*) {}
};

}  // namespace gpumd
}  // namespace dft
}  // namespace ovx
}  // namespace korami

#endif
