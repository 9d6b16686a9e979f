// Real 2D and 3D main GPU backends (one module template, R = 2 or 3, both
// precisions, through the frame). No kernels of their own: the forward
// transform is a real rank-(R-1) sub-transform from the input into the
// half-spectrum in the output, then a complex 1D sub-transform along the
// outermost dimension in place on the output; the backward transform is the
// complex 1D sub-transform from the input into an intermediate, then the real
// sub-transform from the intermediate into the output. The scales are applied
// by the complex sub-transform.
//
// The intermediate (scratch mode): 0 the input itself (in place, or the input
// may be destroyed); 2 a packed scratch, innermost first, when the layout is
// ordered; 3 a packed scratch with the batch innermost, when the layout is in
// reverse order; 4 a scratch in the input's own complex layout, sized by the
// largest offset that layout reaches.
//
// Workspace: the persistent region holds the scratch, then the sub-nodes'
// table areas; the scratch region is shared by the sub-nodes.
#ifndef OVX_DFT_GPU_MD_R2C_MD_MAIN_HPP
#define OVX_DFT_GPU_MD_R2C_MD_MAIN_HPP

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "dft/gpu/1d/frame.hpp"
#include "dft/gpu/md/md_composite.hpp"

namespace korami {
namespace ovx {
namespace dft {
namespace gpumd {

// Layout of a real node and the plan of the two pairs of sub-transforms.
struct r2c_md_plan {
    int rank = 0;
    std::int64_t n[3] = {1, 1, 1};
    std::int64_t h = 0, T = 1;
    // r: real side backward (output), c: complex side backward (input),
    // rf: real side forward (input), cf: complex side forward (output).
    std::int64_t r[3] = {}, c[3] = {}, rf[3] = {}, cf[3] = {};
    std::int64_t dr = 0, dc = 0, drf = 0, dcf = 0;
    int mode = 0;
    std::uint64_t scratch_bytes = 0;  // unrounded, 0 in mode 0
    std::int64_t s[3] = {}, D = 0;    // intermediate layout, complex elements
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

// Fills the plan from a normalised node of rank `rank`. `elem` is the size of
// one complex value.
inline int make_r2c_md_plan(const DFTI_DESCRIPTOR* node, int rank, std::uint64_t elem, r2c_md_plan& p) {
    p = r2c_md_plan{};
    p.rank = rank;
    for (int i = 0; i < rank; ++i) {
        const dfti_dim& d = node->working_dims.records[i];
        p.n[i] = d.length;
        p.r[i] = or_else(d.output_stride, d.fwd_stride);
        p.c[i] = or_else(d.input_stride, d.bwd_stride);
        p.rf[i] = or_else(d.input_stride, d.fwd_stride);
        p.cf[i] = or_else(d.output_stride, d.bwd_stride);
        if (p.n[i] < 1) return DFTI_STATUS_NOT_APPLICABLE;
    }
    const dfti_dim& b = node->working_batch.records[0];
    p.T = b.length;
    const bool io = b.fwd_stride == 0 && b.bwd_stride == 0 && b.input_stride != 0 && b.output_stride != 0;
    p.dr = io ? b.output_stride : b.fwd_stride;
    p.dc = io ? b.input_stride : b.bwd_stride;
    p.drf = io ? b.input_stride : b.fwd_stride;
    p.dcf = io ? b.output_stride : b.bwd_stride;
    p.h = p.n[0] / 2 + 1;
    const int L = rank - 1;
    std::uint64_t packed = static_cast<std::uint64_t>(p.h) * static_cast<std::uint64_t>(p.T) * elem;
    for (int i = 1; i < rank; ++i) packed *= static_cast<std::uint64_t>(p.n[i]);

    // Scratch decision. A padded real output that could hold the
    // half-spectrum is not used as the intermediate: its last row holds only
    // n0 reals, so the h complex values of that row would end past the
    // caller's last element.
    if (node->placement == DFTI_INPLACE || node->destroy_input == 16) {
        p.mode = 0;
    } else if (r2c_ordered(p)) {
        p.mode = 2;
        p.scratch_bytes = packed;
    } else if (r2c_reverse_ordered(p)) {
        p.mode = 3;
        p.scratch_bytes = packed;
    } else {
        // The input's own complex layout: up to its highest offset.
        std::uint64_t last = static_cast<std::uint64_t>(p.T - 1) * static_cast<std::uint64_t>(p.dc) +
                             static_cast<std::uint64_t>(p.h - 1) * static_cast<std::uint64_t>(p.c[0]);
        for (int i = 1; i < rank; ++i) last += static_cast<std::uint64_t>(p.n[i] - 1) * static_cast<std::uint64_t>(p.c[i]);
        p.mode = 4;
        p.scratch_bytes = (last + 1) * elem;
    }

    // Intermediate layout.
    switch (p.mode) {
    case 0:
    case 4:
        for (int i = 0; i < rank; ++i) p.s[i] = p.c[i];
        p.D = p.dc;
        break;
    case 2:
        p.s[0] = 1;
        p.s[1] = p.h;
        if (rank == 3) p.s[2] = p.h * p.n[1];
        p.D = p.n[L] * p.s[L];
        break;
    case 3:
        p.s[L] = p.T;
        for (int i = L - 1; i >= 0; --i) p.s[i] = p.s[i + 1] * p.n[i + 1];
        p.D = 1;
        break;
    default:
        return DFTI_STATUS_NOT_APPLICABLE;
    }

    const std::string tag = rank == 3 ? "3" : "2";
    // Real sub-transforms: rank R-1 over the inner dimensions, batched over
    // the outermost dimension and the transforms.
    sub_pair real;
    real.f.real = real.b.real = true;
    real.f.rank = real.b.rank = rank - 1;
    for (int i = 0; i < L; ++i) {
        real.f.dim(i, p.n[i], p.rf[i], p.cf[i]);
        real.b.dim(i, p.n[i], p.r[i], p.s[i]);
    }
    real.f.add_batch(p.n[L], p.rf[L], p.cf[L]);
    real.f.add_batch(p.T, p.drf, p.dcf);
    real.b.add_batch(p.n[L], p.r[L], p.s[L]);
    real.b.add_batch(p.T, p.dr, p.D);
    real.f.placement = node->placement;
    real.b.placement = node->placement == DFTI_INPLACE ? DFTI_INPLACE : DFTI_NOT_INPLACE;
    // The 3D backward real step may overwrite its input, the intermediate,
    // when that is a scratch or when the caller allows it.
    if (rank == 3 && (p.scratch_bytes > 0 || node->destroy_input == 16)) real.b.destroy_input = 16;
    real.shared_name = tag + "D_R2CC2R";
    real.fwd_name = tag + "D_R2C";
    real.bwd_name = tag + "D_C2R";

    // Complex sub-transforms along the outermost dimension, batched over the
    // half-spectrum's inner dimensions and the transforms; they carry the scales.
    sub_pair cx;
    cx.f.dim(0, p.n[L], p.cf[L], p.cf[L]);
    cx.b.dim(0, p.n[L], p.s[L], p.c[L]);
    cx.f.add_batch(p.h, p.cf[0], p.cf[0]);
    cx.b.add_batch(p.h, p.s[0], p.c[0]);
    if (rank == 3) {
        cx.f.add_batch(p.n[1], p.cf[1], p.cf[1]);
        cx.b.add_batch(p.n[1], p.s[1], p.c[1]);
    }
    cx.f.add_batch(p.T, p.dcf, p.dcf);
    cx.b.add_batch(p.T, p.D, p.dc);
    cx.f.placement = DFTI_INPLACE;
    cx.b.placement = p.mode == 0 ? DFTI_INPLACE : DFTI_NOT_INPLACE;
    cx.f.fwd_scale = cx.b.fwd_scale = node->forward_scale;
    cx.f.bwd_scale = cx.b.bwd_scale = node->backward_scale;
    cx.shared_name = tag + "D_R2C|" + tag + "d";
    cx.fwd_name = tag + "DR2C|f" + tag + "d";
    cx.bwd_name = tag + "DR2C|b" + tag + "d";

    p.pairs = {real, cx};
    return 0;
}

template <class Real>
struct r2c_md_block : gpu1d::frame_block<Real, 1> {
    std::unique_ptr<sycl::buffer<char, 1>> own_scratch;  // buffer-form scratch of a library-held workspace
    gpu1d::sub_node_table<4> subs;
    r2c_md_plan pl;
    std::vector<DFTI_DESCRIPTOR*> fwd, bwd;  // [0] real, [1] complex; null when not built
    std::uint64_t scratch_bytes;             // aligned; 0 when the backward set is not built
    void* scratch_usm;
    sycl::buffer<char, 1>* scratch_buf;
};

template <class Real, int R>
struct r2c_md_module : md_composite_hooks<r2c_md_block<Real>> {
    using real = Real;
    using block = r2c_md_block<Real>;
    static constexpr bool single = std::is_same<Real, float>::value;
    static constexpr bool own_tables = true;
    static constexpr bool composite = true;
    static constexpr std::uint64_t elem = 2 * sizeof(Real);

    static int test(const DFTI_DESCRIPTOR* node) { return r2c_md_applicability(node, R); }

    static int plan(DFTI_DESCRIPTOR* node, block* b) {
        int st = make_r2c_md_plan(node, R, elem, b->pl);
        if (st != 0) return st;
        st = commit_pairs(node, b->subs, b->pl.pairs, single, b->fwd, b->bwd);
        if (st != 0) return st;
        const bool have_b = set_complete(b->bwd);
        b->scratch_bytes = have_b && b->pl.scratch_bytes ? align_workspace_offset(b->pl.scratch_bytes, b->queue) : 0;
        const std::uint64_t persistent = b->scratch_bytes + b->subs.tables_bytes();
        const std::uint64_t scratch = b->subs.scratch_bytes();
        node->twiddle_workspace_bytes = persistent ? align_workspace_offset(persistent, b->queue) : 0;
        node->scratch_workspace_bytes = scratch ? align_workspace_offset(scratch, b->queue) : 0;
        // A library-held workspace is USM; buffer data then take a scratch
        // buffer of their own.
        if (node->internal_workspace == 1 && b->scratch_bytes != 0)
            b->own_scratch.reset(new sycl::buffer<char, 1>(sycl::range<1>(static_cast<std::size_t>(b->scratch_bytes))));
        return 0;
    }

    static int place_tables(block* b, void* base, int kind, std::uint64_t offset, std::vector<sycl::event>* events,
                            std::uint64_t* end) {
        std::uint64_t off = offset;
        if (b->scratch_bytes != 0) {
            if (!base) return DFTI_STATUS_NO_WORKSPACE;
            gpu1d::frame_carve(base, kind, off, b->scratch_bytes, b->scratch_usm, b->scratch_buf);
            off += b->scratch_bytes;
        }
        const int st = b->subs.place_tables(base, kind, off, events);
        if (st != 0) return st;
        if (end) *end = off;
        return 0;
    }

    static void free_tables(block* b) { gpu1d::frame_drop_area(b->scratch_usm, b->scratch_buf); }



    static int launch(DFTI_DESCRIPTOR* node, block* b, const gpu1d::launch_args& a) {
        const dfti_data_kind kind{a.buffers ? static_cast<std::uint64_t>(DFTI_CONTAINER_BUFFER)
                                            : static_cast<std::uint64_t>(DFTI_CONTAINER_USM)};
        // The first step waits for the caller's dependencies and for the
        // previous compute, whose last step may still read the scratch.
        std::vector<sycl::event> deps = gpu1d::frame_first_dependencies(a);
        sycl::event e1, e2;
        int st;
        if (a.direction == 0) {
            st = b->subs.run(b->fwd[0], 0, a.in, a.out, deps, a.buffers, &kind, e1);
            if (st != 0) return st;
            st = b->subs.run(b->fwd[1], 0, a.out, a.out, {e1}, a.buffers, &kind, e2);
        } else {
            void* mid = a.in;
            if (b->pl.mode != 0) {
                // The scratch of the data's container kind.
                if (a.buffers)
                    mid = b->scratch_buf ? b->scratch_buf
                          : node->internal_workspace != 0 ? b->own_scratch.get() : nullptr;
                else
                    mid = b->scratch_usm;
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

// Workspace estimate: the scratch plus every sub-transform's estimate.
template <class Real, int R>
std::int64_t estimate_r2c_md(const dft_workspace_problem& problem) {
    const DFTI_DESCRIPTOR* node = problem.node;
    if (!node || r2c_md_applicability(node, R) != 0) return -1;
    sycl::queue* q = nullptr;
    std::int32_t arch = 0;
    if (!gpu1d::frame_estimate_device(problem, q, arch)) return -1;
    r2c_md_plan p;
    if (make_r2c_md_plan(node, R, 2 * sizeof(Real), p) != 0) return -1;
    const std::uint64_t align = gpu1d::frame_estimate_align(q, 1);
    const std::int64_t subs = estimate_pairs<Real>(p.pairs, node, problem, align);
    if (subs < 0) return -1;
    return subs + static_cast<std::int64_t>(p.scratch_bytes ? gpu1d::frame_estimate_align(q, p.scratch_bytes) : 0) +
           static_cast<std::int64_t>(2 * align);
}

}  // namespace gpumd

namespace gpu1d {
template <class Real>
using r2c_2d_main_module = gpumd::r2c_md_module<Real, 2>;
template <class Real>
using r2c_3d_main_module = gpumd::r2c_md_module<Real, 3>;
template <class Real>
std::int64_t estimate_r2c_2d_main(const dft_workspace_problem& p) { return gpumd::estimate_r2c_md<Real, 2>(p); }
template <class Real>
std::int64_t estimate_r2c_3d_main(const dft_workspace_problem& p) { return gpumd::estimate_r2c_md<Real, 3>(p); }
}  // namespace gpu1d

}  // namespace dft
}  // namespace ovx
}  // namespace korami

#endif
