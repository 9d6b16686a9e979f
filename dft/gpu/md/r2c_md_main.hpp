// Real 2D and 3D main GPU backends (one module template, R = 2 or 3, both
// precisions, through the frame). No kernels of their own: the forward
// transform is a real rank-(R-1) sub-transform from the input into the
// half-spectrum in the output, then a complex 1D sub-transform along the
// outermost dimension in place on the output; the backward transform is the
// complex 1D sub-transform from the input into an intermediate, then the real
// sub-transform from the intermediate into the output. The scales are applied
// by the complex sub-transform.
//
// The backward intermediate (scratch mode): 0 the input itself (in place, or
// the input may be destroyed); 2 a packed scratch, innermost first, when the
// layout is ordered; 3 a packed scratch with the batch innermost, when the
// layout is in reverse order; 4 a scratch in the input's own complex layout,
// sized by the largest offset that layout reaches.
//
// The real sub-transform takes one batch record: its batch (the outermost
// dimension and the transforms) must continue from one record to the next on
// both of its sides. Its real side is the caller's; its complex side is the
// caller's for the forward transform written straight into the output (and
// for backward mode 0), else a packed scratch. When the sub-transforms of a
// direction's preferred layout are not taken (the caller's complex side
// leaves gaps between planes or transforms), the direction goes through a
// packed scratch instead: forward, the real step writes the half-spectrum
// into the scratch and the complex step reads it from there into the output.
// A direction that no layout serves is left out; the other one still serves.
//
// Workspace: the persistent region holds the scratch (shared by the two
// directions, whose computes never overlap), then the sub-nodes' table areas;
// the scratch region is shared by the sub-nodes.
#ifndef OVX_DFT_GPU_MD_R2C_MD_MAIN_HPP
#define OVX_DFT_GPU_MD_R2C_MD_MAIN_HPP

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "dft/gpu/frame/frame.hpp"
#include "dft/gpu/frame/composite.hpp"

namespace korami {
namespace ovx {
namespace dft {
namespace gpumd {
using namespace gpufw;

// Layout of a real node and the plan of the two pairs of sub-transforms.
struct r2c_md_plan {
    int rank = 0;
    std::int64_t n[3] = {1, 1, 1};
    std::int64_t h = 0, T = 1;
    // r: real side backward (output), c: complex side backward (input),
    // rf: real side forward (input), cf: complex side forward (output).
    std::int64_t r[3] = {}, c[3] = {}, rf[3] = {}, cf[3] = {};
    std::int64_t dr = 0, dc = 0, drf = 0, dcf = 0;
    int mode = 0;                     // backward intermediate (scratch mode)
    int fwd_mode = 0;                 // forward half-spectrum: 0 the output, 2 or 3 a packed scratch
    std::uint64_t scratch_bytes = 0;  // unrounded bytes of the backward intermediate, 0 in mode 0
    std::int64_t s[3] = {}, D = 0;    // backward intermediate layout, complex elements
    std::vector<sub_pair> pairs;      // [0] real, [1] complex
};

inline int r2c_md_applicability(const DFTI_DESCRIPTOR* node, int rank) {
    if (node->colbatch_group_count >= 1) return DFTI_STATUS_NOT_APPLICABLE;
    if (node->forward_domain != DFTI_REAL || node->real_storage != DFTI_REAL_REAL ||
        node->conjugate_even_storage != DFTI_COMPLEX_COMPLEX || node->packed_format != DFTI_CCE_FORMAT)
        return DFTI_STATUS_NOT_APPLICABLE;
    if (node->working_dims.count != rank || node->working_batch.count != 1) return DFTI_STATUS_NOT_APPLICABLE;
    if (node->input_offset || node->output_offset || node->fwd_offset || node->bwd_offset)
        return DFTI_STATUS_NOT_APPLICABLE;
    return 0;
}

// True when each dimension's rows lie beyond the previous dimension's and the
// transforms beyond the outermost, on both sides.
inline bool r2c_ordered(const r2c_md_plan& p) {
    const int L = p.rank - 1;
    using u = std::uint64_t;
    if (u(p.r[1]) < u(p.n[0] * p.r[0]) || u(p.c[1]) < u(p.h * p.c[0])) return false;
    if (p.rank == 3 && (u(p.r[2]) < u(p.n[1] * p.r[1]) || u(p.c[2]) < u(p.n[1] * p.c[1]))) return false;
    if (p.T > 1 && (u(p.dr) < u(p.n[L] * p.r[L]) || u(p.dc) < u(p.n[L] * p.c[L]))) return false;
    return true;
}

inline bool r2c_reverse_ordered(const r2c_md_plan& p) {
    const int L = p.rank - 1;
    if (p.T > 1 && (p.r[L] < p.T * p.dc || p.r[L] < p.T * p.dr)) return false;
    for (int i = 0; i < L; ++i)
        if (p.r[i] < p.n[i + 1] * p.r[i + 1] || p.c[i] < p.n[i + 1] * p.c[i + 1]) return false;
    return true;
}

// Layout of an intermediate in complex elements: mode 0 and 4 the input's
// complex layout, 2 packed innermost first, 3 packed with the batch innermost
// and dimension 0 outermost. 0, or 100 for another mode.
inline int r2c_intermediate_layout(const r2c_md_plan& p, int mode, std::int64_t s[3], std::int64_t& D) {
    const int L = p.rank - 1;
    s[0] = s[1] = s[2] = 0;
    switch (mode) {
    case 0:
    case 4:
        for (int i = 0; i < p.rank; ++i) s[i] = p.c[i];
        D = p.dc;
        return 0;
    case 2:
        s[0] = 1;
        s[1] = p.h;
        if (p.rank == 3) s[2] = p.h * p.n[1];
        D = p.n[L] * s[L];
        return 0;
    case 3:
        s[L] = p.T;
        for (int i = L - 1; i >= 0; --i) s[i] = s[i + 1] * p.n[i + 1];
        D = 1;
        return 0;
    default:
        return DFTI_STATUS_NOT_APPLICABLE;
    }
}

// Unrounded scratch bytes of an intermediate: none in mode 0, the packed
// half-spectra in modes 2 and 3, up to the highest offset of the input's
// complex layout in mode 4.
inline std::uint64_t r2c_intermediate_bytes(const r2c_md_plan& p, int mode, std::uint64_t elem) {
    using u = std::uint64_t;
    if (mode == 0) return 0;
    if (mode == 4) {
        u last = u(p.T - 1) * u(p.dc) + u(p.h - 1) * u(p.c[0]);
        for (int i = 1; i < p.rank; ++i) last += u(p.n[i] - 1) * u(p.c[i]);
        return (last + 1) * elem;
    }
    u packed = u(p.h) * u(p.T) * elem;
    for (int i = 1; i < p.rank; ++i) packed *= u(p.n[i]);
    return packed;
}

// The two pairs of sub-transforms (real, complex) of a node whose forward
// half-spectrum goes through `fwd_mode` (0 the output itself, 2 or 3 a packed
// scratch) and whose backward intermediate is of scratch mode `bwd_mode`.
inline std::vector<sub_pair> r2c_md_pairs(const r2c_md_plan& p, const DFTI_DESCRIPTOR* node, int fwd_mode,
                                          int bwd_mode) {
    const int rank = p.rank, L = rank - 1;
    const bool in_place = node->placement == DFTI_INPLACE;
    // Complex side of the forward real step (the complex step's input): the
    // output itself, or the packed scratch.
    std::int64_t fs[3] = {}, fD = p.dcf;
    if (fwd_mode == 0) {
        for (int i = 0; i < rank; ++i) fs[i] = p.cf[i];
    } else {
        r2c_intermediate_layout(p, fwd_mode, fs, fD);
    }
    std::int64_t s[3] = {}, D = 0;
    r2c_intermediate_layout(p, bwd_mode, s, D);

    const std::string tag = rank == 3 ? "3" : "2";
    // Real sub-transforms: rank R-1 over the inner dimensions, batched over
    // the outermost dimension and the transforms.
    sub_pair real;
    real.f.real = real.b.real = true;
    real.f.rank = real.b.rank = rank - 1;
    for (int i = 0; i < L; ++i) {
        real.f.dim(i, p.n[i], p.rf[i], fs[i]);
        real.b.dim(i, p.n[i], p.r[i], s[i]);
    }
    real.f.add_batch(p.n[L], p.rf[L], fs[L]);
    real.f.add_batch(p.T, p.drf, fD);
    real.b.add_batch(p.n[L], p.r[L], s[L]);
    real.b.add_batch(p.T, p.dr, D);
    // In place only when the real step reads and writes the caller's array.
    real.f.placement = in_place && fwd_mode == 0 ? DFTI_INPLACE : DFTI_NOT_INPLACE;
    real.b.placement = in_place && bwd_mode == 0 ? DFTI_INPLACE : DFTI_NOT_INPLACE;
    // The 3D backward real step may overwrite its input, the intermediate,
    // when that is a scratch or when the caller allows it.
    if (rank == 3 && (bwd_mode != 0 || node->destroy_input == 16)) real.b.destroy_input = 16;
    real.shared_name = tag + "D_R2CC2R";
    real.fwd_name = tag + "D_R2C";
    real.bwd_name = tag + "D_C2R";

    // Complex sub-transforms along the outermost dimension, batched over the
    // half-spectrum's inner dimensions and the transforms; they carry the
    // scales. Forward: in place on the output, or from the scratch into it.
    sub_pair cx;
    cx.f.dim(0, p.n[L], fs[L], p.cf[L]);
    cx.b.dim(0, p.n[L], s[L], p.c[L]);
    cx.f.add_batch(p.h, fs[0], p.cf[0]);
    cx.b.add_batch(p.h, s[0], p.c[0]);
    if (rank == 3) {
        cx.f.add_batch(p.n[1], fs[1], p.cf[1]);
        cx.b.add_batch(p.n[1], s[1], p.c[1]);
    }
    cx.f.add_batch(p.T, fD, p.dcf);
    cx.b.add_batch(p.T, D, p.dc);
    cx.f.placement = fwd_mode == 0 ? DFTI_INPLACE : DFTI_NOT_INPLACE;
    cx.b.placement = bwd_mode == 0 ? DFTI_INPLACE : DFTI_NOT_INPLACE;
    cx.f.fwd_scale = cx.b.fwd_scale = node->forward_scale;
    cx.f.bwd_scale = cx.b.bwd_scale = node->backward_scale;
    cx.shared_name = tag + "D_R2C|" + tag + "d";
    cx.fwd_name = tag + "DR2C|f" + tag + "d";
    cx.bwd_name = tag + "DR2C|b" + tag + "d";
    return {real, cx};
}

// The layouts each direction may take, in order of preference. Forward: the
// output itself, then a packed scratch in natural order, then one with the
// batch innermost. Backward: the scratch decision's mode, then the packed
// scratches.
inline std::vector<int> r2c_fwd_modes() { return {0, 2, 3}; }
inline std::vector<int> r2c_bwd_modes(const r2c_md_plan& p) {
    std::vector<int> m{p.mode};
    for (int v : {2, 3})
        if (v != p.mode) m.push_back(v);
    return m;
}

// Fills the plan from a normalised node of rank `rank`, with the preferred
// layout of each direction. `elem` is the size of one complex value.
inline int make_r2c_md_plan(const DFTI_DESCRIPTOR* node, int rank, std::uint64_t elem, r2c_md_plan& p) {
    p = r2c_md_plan{};
    p.rank = rank;
    for (int i = 0; i < rank; ++i) {
        const dfti_dim& d = node->working_dims.records[i];
        p.n[i] = d.length;
        const side_pair f = governing_strides(d, 0), bk = governing_strides(d, 1);
        p.r[i] = bk.out;
        p.c[i] = bk.in;
        p.rf[i] = f.in;
        p.cf[i] = f.out;
        if (p.n[i] < 1) return DFTI_STATUS_NOT_APPLICABLE;
    }
    const dfti_dim& b = node->working_batch.records[0];
    p.T = b.length;
    const side_pair df = governing_distances(b, 0), db = governing_distances(b, 1);
    p.dr = db.out;
    p.dc = db.in;
    p.drf = df.in;
    p.dcf = df.out;
    p.h = p.n[0] / 2 + 1;

    // Scratch decision. A padded real output that could hold the
    // half-spectrum is not used as the intermediate: its last row holds only
    // n0 reals, so the h complex values of that row would end past the
    // caller's last element.
    if (node->placement == DFTI_INPLACE || node->destroy_input == 16)
        p.mode = 0;
    else if (r2c_ordered(p))
        p.mode = 2;
    else if (r2c_reverse_ordered(p))
        p.mode = 3;
    else
        p.mode = 4;
    p.scratch_bytes = r2c_intermediate_bytes(p, p.mode, elem);
    const int st = r2c_intermediate_layout(p, p.mode, p.s, p.D);
    if (st != 0) return st;
    p.fwd_mode = 0;
    p.pairs = r2c_md_pairs(p, node, p.fwd_mode, p.mode);
    return 0;
}

template <class Real>
struct r2c_md_block : gpufw::frame_block<Real, 1> {
    gpufw::sub_node_table<4> subs;
    r2c_md_plan pl;
    std::vector<DFTI_DESCRIPTOR*> fwd, bwd;  // [0] real, [1] complex; null when not built
    int scratch;                             // area slot of the scratch; -1 when no committed direction needs one
};

template <class Real, int R>
struct r2c_md_module : md_composite_hooks<r2c_md_block<Real>> {
    using real = Real;
    using block = r2c_md_block<Real>;
    static constexpr bool single = std::is_same<Real, float>::value;
    static constexpr bool composite = true;
    static constexpr std::uint64_t elem = 2 * sizeof(Real);

    static int test(const DFTI_DESCRIPTOR* node) { return r2c_md_applicability(node, R); }

    static int plan(DFTI_DESCRIPTOR* node, block* b) {
        r2c_md_plan& pl = b->pl;
        int st = make_r2c_md_plan(node, R, elem, pl);
        if (st != 0) return st;
        if (b->estimating) return plan_estimate(node, b);
        // A sub-node (the rank-2 real step of the 3D backend) keeps to its
        // preferred layouts, which need no scratch of its own: the scratch
        // it would take is a view of its parent's workspace, of the
        // parent's container kind, which may not be the data's. Its parent
        // tries its own scratch layouts instead.
        const bool sub = node->is_sub_node != 0;
        const std::vector<int> fm = sub ? std::vector<int>{0} : r2c_fwd_modes();
        const std::vector<int> bm = sub ? std::vector<int>{pl.mode} : r2c_bwd_modes(pl);
        int fv = -1, bv = -1;
        st = commit_variants(
            node, b->subs, static_cast<int>(fm.size()), static_cast<int>(bm.size()),
            [&](int f, int v) { return r2c_md_pairs(pl, node, fm[f], bm[v]); }, single, b->fwd, b->bwd, fv, bv);
        if (st != 0) return st;
        const bool have_f = set_complete(b->fwd), have_b = set_complete(b->bwd);
        // The layouts committed: the plan describes them from here on.
        pl.fwd_mode = have_f && fv >= 0 ? fm[fv] : 0;
        if (have_b && bv >= 0 && bm[bv] != pl.mode) {
            pl.mode = bm[bv];
            pl.scratch_bytes = r2c_intermediate_bytes(pl, pl.mode, elem);
            st = r2c_intermediate_layout(pl, pl.mode, pl.s, pl.D);
            if (st != 0) return st;
        }
        pl.pairs = r2c_md_pairs(pl, node, pl.fwd_mode, pl.mode);
        // One scratch serves whichever direction runs through one.
        const std::uint64_t fwd_scratch = have_f ? r2c_intermediate_bytes(pl, pl.fwd_mode, elem) : 0;
        const std::uint64_t bwd_scratch = have_b ? pl.scratch_bytes : 0;
        const std::uint64_t need = std::max(fwd_scratch, bwd_scratch);
        // The persistent region: the scratch (sub-nodes read and write it as
        // data of the compute's container kind), then the sub-nodes' tables.
        b->scratch = need ? b->areas.scratch("scratch", need, region::tables, true) : -1;
        b->areas.sub_node_tables();
        b->areas.round_scratch();
        return 0;
    }

    // The areas of an estimate, which covers every layout either direction
    // may take whatever directions the node builds and whether it is a
    // sub-node, so that it fits the layouts any commit takes: per direction
    // the sub-transforms of the layout of the largest need (each
    // configuration estimated on its own and placed at an aligned offset),
    // the largest scratch any of the layouts runs through, and two
    // alignments of margin.
    static int plan_estimate(DFTI_DESCRIPTOR* node, block* b) {
        const r2c_md_plan& pl = b->pl;
        const std::vector<int> fm = r2c_fwd_modes(), bm = r2c_bwd_modes(pl);
        std::uint64_t scratch = 0;
        for (int f : fm) scratch = std::max(scratch, r2c_intermediate_bytes(pl, f, elem));
        for (int m : bm) scratch = std::max(scratch, r2c_intermediate_bytes(pl, m, elem));
        // The forward configurations follow the forward layout only, the
        // backward ones the backward layout only.
        for (int dir = 0; dir < 2; ++dir) {
            const std::vector<int>& modes = dir == 0 ? fm : bm;
            auto rows_of = [&](int v) {
                const std::vector<sub_pair> pairs =
                    r2c_md_pairs(pl, node, dir == 0 ? modes[v] : pl.mode, dir == 0 ? pl.mode : modes[v]);
                std::vector<sub_node_row> rows;
                for (const sub_pair& p : pairs) rows.push_back(cfg_row(dir == 0 ? p.f : p.b, "R2C|est", single));
                return rows;
            };
            const int st = b->subs.largest_of_layouts(node, static_cast<int>(modes.size()), rows_of, frame_align(b, 1));
            if (st != 0) return st;
        }
        if (scratch && b->areas.scratch("scratch", scratch, region::tables) < 0) return DFTI_STATUS_INTERNAL;
        b->areas.sub_node_tables();
        b->areas.round_scratch();
        return list_alignment_margins(b, 2);
    }

    // The scratch of the data's container kind, or null when none is bound.
    static void* scratch_of(block* b, bool buffers) {
        return b->scratch < 0 ? nullptr : b->areas.data_of(b->scratch, buffers);
    }

    static int launch(DFTI_DESCRIPTOR* node, block* b, const gpufw::launch_args& a) {
        const dfti_data_kind kind{a.buffers ? static_cast<std::uint64_t>(DFTI_CONTAINER_BUFFER)
                                            : static_cast<std::uint64_t>(DFTI_CONTAINER_USM)};
        // The first step waits for the caller's dependencies and for the
        // previous compute, whose last step may still read the scratch.
        std::vector<sycl::event> deps = gpufw::frame_first_dependencies(a);
        order_buffer_compute_after_previous(a, node->scratch_workspace_bytes != 0);
        sycl::event e1, e2;
        int st;
        if (a.direction == 0) {
            // The half-spectrum: in the output, or in the scratch.
            void* mid = a.out;
            if (b->pl.fwd_mode != 0) {
                mid = scratch_of(b, a.buffers);
                if (!mid) return DFTI_STATUS_NO_WORKSPACE;
            }
            st = b->subs.run(b->fwd[0], 0, a.in, mid, deps, a.buffers, &kind, e1);
            if (st != 0) return st;
            st = b->subs.run(b->fwd[1], 0, mid, a.out, {e1}, a.buffers, &kind, e2);
        } else {
            void* mid = a.in;
            if (b->pl.mode != 0) {
                mid = scratch_of(b, a.buffers);
                if (!mid) return DFTI_STATUS_NO_WORKSPACE;
            }
            st = b->subs.run(b->bwd[1], 1, a.in, mid, deps, a.buffers, &kind, e1);
            if (st != 0) return st;
            st = b->subs.run(b->bwd[0], 1, mid, a.out, {e1}, a.buffers, &kind, e2);
        }
        if (st != 0) return st;
        if (a.result) *a.result = e2;
        return 0;
    }
};

// The 2D and 3D modules of the backend table.
template <class Real>
using r2c_2d_main_module = r2c_md_module<Real, 2>;
template <class Real>
using r2c_3d_main_module = r2c_md_module<Real, 3>;
}  // namespace gpumd

}  // namespace dft
}  // namespace ovx
}  // namespace korami

#endif
