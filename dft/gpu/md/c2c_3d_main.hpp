// 3D complex main GPU backend (both precisions through the frame): the
// general backend for rank-3 complex transforms. At commit it takes the
// first route that serves the problem:
//   1. on a device of generation 6 with a packed layout, the explicit-SIMD
//      two-factor plan (`esimd_route`, below; a plan that refuses falls
//      through);
//   2. for a packed double 135 x 135 x 135 transform on a device offering
//      sub-groups of 8, the one-kernel-per-axis program (`opencl_route`,
//      below; falls through while that program is not part of the library);
//   3. three complex 1D sub-transforms, one per axis, each committed through
//      the 1D complex candidate list: the first from the input to the
//      output, the second and third in place on the output; the third
//      carries the scales.
//
// Workspace (route 3): the persistent region holds the sub-nodes' table
// areas; the scratch region is shared by the sub-nodes, whose computes run
// one after the other.
#ifndef OVX_DFT_GPU_MD_C2C_3D_MAIN_HPP
#define OVX_DFT_GPU_MD_C2C_3D_MAIN_HPP

#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "dft/gpu/1d/frame.hpp"
#include "dft/gpu/md/md_composite.hpp"

namespace korami {
namespace ovx {
namespace dft {
namespace gpumd {

// The layout of a rank-3 complex node and its three stages.
struct c2c_3d_plan {
    std::int64_t n[3] = {};
    // Per axis: forward input/output, backward input/output strides.
    std::int64_t fin[3] = {}, fout[3] = {}, bin[3] = {}, bout[3] = {};
    std::int64_t T = 1, dfin = 0, dfout = 0, dbin = 0, dbout = 0;
    bool packed = false;
    std::vector<sub_pair> stages;
};

inline int c2c_3d_applicability(const DFTI_DESCRIPTOR* node) {
    if (node->colbatch_group_count >= 1) return DFTI_STATUS_NOT_APPLICABLE;
    if (node->forward_domain != DFTI_COMPLEX || node->complex_storage != DFTI_COMPLEX_COMPLEX)
        return DFTI_STATUS_NOT_APPLICABLE;
    if (node->working_dims.count != 3 || node->working_batch.count != 1) return DFTI_STATUS_NOT_APPLICABLE;
    if (node->input_offset || node->output_offset || node->fwd_offset || node->bwd_offset)
        return DFTI_STATUS_NOT_APPLICABLE;
    return 0;
}

inline void make_c2c_3d_plan(const DFTI_DESCRIPTOR* node, c2c_3d_plan& p) {
    p = c2c_3d_plan{};
    for (int i = 0; i < 3; ++i) {
        const dfti_dim& d = node->working_dims.records[i];
        p.n[i] = d.length;
        p.fin[i] = or_else(d.input_stride, d.fwd_stride);
        p.bin[i] = or_else(d.input_stride, d.bwd_stride);
        p.fout[i] = or_else(d.output_stride, d.bwd_stride);
        p.bout[i] = or_else(d.output_stride, d.fwd_stride);
    }
    const dfti_dim& b = node->working_batch.records[0];
    p.T = b.length;
    const bool io = b.fwd_stride == 0 && b.bwd_stride == 0 && b.input_stride != 0 && b.output_stride != 0;
    p.dfin = io ? b.input_stride : b.fwd_stride;
    p.dfout = io ? b.output_stride : b.bwd_stride;
    p.dbin = io ? b.input_stride : b.bwd_stride;
    p.dbout = io ? b.output_stride : b.fwd_stride;
    const std::int64_t want[3] = {1, p.n[0], p.n[0] * p.n[1]};
    p.packed = true;
    for (int i = 0; i < 3; ++i)
        if (p.fin[i] != want[i] || p.fout[i] != want[i] || p.bin[i] != want[i] || p.bout[i] != want[i]) p.packed = false;
    const std::int64_t vol = p.n[0] * p.n[1] * p.n[2];
    if (p.T > 1 && (p.dfin != vol || p.dfout != vol)) p.packed = false;

    // Stage k transforms axis k-1. A backward sub-node computes backward, so
    // its backward-domain side is the node's backward input.
    for (int k = 0; k < 3; ++k) {
        sub_pair s;
        const std::string tag = std::to_string(k + 1);
        const std::int64_t* fi = k == 0 ? p.fin : p.fout;
        const std::int64_t* bo = p.bout;
        const std::int64_t* bi = k == 0 ? p.bin : p.bout;
        s.f.dim(0, p.n[k], fi[k], p.fout[k]);
        s.b.dim(0, p.n[k], bo[k], bi[k]);
        for (int j = 0; j < 3; ++j) {
            if (j == k) continue;
            s.f.add_batch(p.n[j], fi[j], p.fout[j]);
            s.b.add_batch(p.n[j], bo[j], bi[j]);
        }
        s.f.add_batch(p.T, k == 0 ? p.dfin : p.dfout, p.dfout);
        s.b.add_batch(p.T, p.dbout, k == 0 ? p.dbin : p.dbout);
        s.f.placement = s.b.placement = k == 0 ? node->placement : DFTI_INPLACE;
        if (k == 2) {
            s.f.fwd_scale = s.b.fwd_scale = node->forward_scale;
            s.f.bwd_scale = s.b.bwd_scale = node->backward_scale;
        }
        s.shared_name = "3D_C2C|" + tag + "d";
        s.fwd_name = "3DC2C|f" + tag + "d";
        s.bwd_name = "3DC2C|b" + tag + "d";
        p.stages.push_back(s);
    }
}

template <class Real>
struct c2c_3d_block : gpu1d::frame_block<Real, 1> {
    gpu1d::sub_node_table<6> subs;
    c2c_3d_plan pl;
    std::vector<DFTI_DESCRIPTOR*> fwd, bwd;  // per stage; null when not built
    int route;                               // the route taken: 1, 2 or 3 (sub-transforms)
};

// Route 1: the explicit-SIMD two-factor plan. The plan is not part of this
// library yet, so it refuses every problem and the commit goes on with the
// next route, as for any refusing plan. 0 when the plan took the node.
template <class Real>
int esimd_route(DFTI_DESCRIPTOR*, c2c_3d_block<Real>*) {
    return DFTI_STATUS_NOT_APPLICABLE;
}

// Route 2: the 135-point two-factor program, one kernel per axis. Its kernel
// text and table writers are not part of this library yet, so the route
// cannot build its kernels and the commit goes on with route 3.
template <class Real>
int opencl_route(DFTI_DESCRIPTOR*, c2c_3d_block<Real>*) {
    return DFTI_STATUS_NOT_APPLICABLE;
}

template <class Real>
struct c2c_3d_module : md_composite_hooks<c2c_3d_block<Real>> {
    using real = Real;
    using block = c2c_3d_block<Real>;
    static constexpr bool single = std::is_same<Real, float>::value;
    static constexpr bool own_tables = true;
    static constexpr bool composite = true;

    static int test(const DFTI_DESCRIPTOR* node) { return c2c_3d_applicability(node); }

    static int plan(DFTI_DESCRIPTOR* node, block* b) {
        make_c2c_3d_plan(node, b->pl);
        const c2c_3d_plan& p = b->pl;
        if (p.packed && b->arch == 6 && esimd_route<Real>(node, b) == 0) {
            b->route = 1;
            return 0;
        }
        if (!single && p.packed && p.n[0] == 135 && p.n[1] == 135 && p.n[2] == 135 && gpu1d::frame_has_subgroup8(b->queue, false) &&
            opencl_route<Real>(node, b) == 0) {
            b->route = 2;
            return 0;
        }
        b->route = 3;
        const int st = commit_pairs(node, b->subs, p.stages, single, b->fwd, b->bwd);
        if (st != 0) return st;
        const std::uint64_t tables = b->subs.tables_bytes(), scratch = b->subs.scratch_bytes();
        node->twiddle_workspace_bytes = tables ? align_workspace_offset(tables, b->queue) : 0;
        node->scratch_workspace_bytes = scratch ? align_workspace_offset(scratch, b->queue) : 0;
        return 0;
    }

    static int place_tables(block* b, void* base, int kind, std::uint64_t offset, std::vector<sycl::event>* events,
                            std::uint64_t* end) {
        std::uint64_t off = offset;
        const int st = b->subs.place_tables(base, kind, off, events);
        if (st != 0) return st;
        if (end) *end = off;
        return 0;
    }
    static void free_tables(block*) {}


    static int launch(DFTI_DESCRIPTOR*, block* b, const gpu1d::launch_args& a) {
        const dfti_data_kind kind{a.buffers ? static_cast<std::uint64_t>(DFTI_CONTAINER_BUFFER)
                                            : static_cast<std::uint64_t>(DFTI_CONTAINER_USM)};
        const std::vector<DFTI_DESCRIPTOR*>& set = a.direction == 0 ? b->fwd : b->bwd;
        // The first stage waits for the caller's dependencies and for the
        // previous compute, whose stages may still use the shared scratch.
        std::vector<sycl::event> deps = gpu1d::frame_first_dependencies(a);
        sycl::event e;
        for (int k = 0; k < 3; ++k) {
            const int st = b->subs.run(set[k], a.direction, k == 0 ? a.in : a.out, a.out, deps, a.buffers, &kind, e);
            if (st != 0) return st;
            deps.assign(1, e);
        }
        if (a.result) *a.result = e;
        return 0;
    }
};

}  // namespace gpumd

namespace gpu1d {
template <class Real>
using c2c_3d_main_module = gpumd::c2c_3d_module<Real>;

// Workspace estimate: every stage's sub-transforms.
template <class Real>
std::int64_t estimate_c2c_3d_main(const dft_workspace_problem& problem) {
    const DFTI_DESCRIPTOR* node = problem.node;
    if (!node || gpumd::c2c_3d_applicability(node) != 0) return -1;
    sycl::queue* q = nullptr;
    std::int32_t arch = 0;
    if (!frame_estimate_device(problem, q, arch)) return -1;
    gpumd::c2c_3d_plan p;
    gpumd::make_c2c_3d_plan(node, p);
    const std::uint64_t align = frame_estimate_align(q, 1);
    const std::int64_t subs = gpumd::estimate_pairs<Real>(p.stages, node, problem, align);
    return subs < 0 ? -1 : subs + static_cast<std::int64_t>(2 * align);
}
}  // namespace gpu1d

}  // namespace dft
}  // namespace ovx
}  // namespace korami

#endif
