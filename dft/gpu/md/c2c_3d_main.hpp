// 3D complex main GPU backend (both precisions through the frame): the
// general backend for rank-3 complex transforms. At commit it takes the
// first route that serves the problem:
//   1. on a device of generation 6 with a packed layout, the explicit-SIMD
//      two-factor plan (`esimd_route`, below; a plan that refuses the shape
//      falls through);
//   2. for a packed double 135 x 135 x 135 transform on a device offering
//      sub-groups of 8, the one-kernel-per-axis program (`opencl_route`,
//      below; falls through while that program is not part of the library);
//   3. three complex 1D sub-transforms, one per axis, each committed through
//      the 1D complex candidate list: the first from the input to the
//      output, the second and third in place on the output; the third
//      carries the scales.
//
// Workspace: route 1 puts the plan's tables in the persistent region and
// needs no scratch; route 3's persistent region holds the sub-nodes' table
// areas and its scratch region is shared by the sub-nodes, whose computes
// run one after the other.
#ifndef OVX_DFT_GPU_MD_C2C_3D_MAIN_HPP
#define OVX_DFT_GPU_MD_C2C_3D_MAIN_HPP

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "dft/gpu/1d/frame.hpp"
#include "dft/gpu/esimd/ovx_dft_esimd_2_facts.hpp"
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
    std::unique_ptr<esimd_2_facts_plan<Real>> esimd;  // route 1
};

// Route 1: the explicit-SIMD two-factor plan over the packed layout. The plan
// builds its kernels at commit and writes its tables into whatever areas it
// is bound to; the frame binds it like any module's tables (the library's own
// areas at commit, a caller's workspace at set_workspace), so the plan holds
// no allocation of its own. A plan that refuses the shape, or whose kernels
// cannot be built, is dropped and the commit goes on with the next route. 0
// when the plan took the node.
template <class Real>
int esimd_route(DFTI_DESCRIPTOR* node, c2c_3d_block<Real>* b) {
    const c2c_3d_plan& p = b->pl;
    const std::int64_t vol = p.n[0] * p.n[1] * p.n[2];
    const std::int64_t strides[3] = {1, p.n[0], p.n[0] * p.n[1]};
    std::unique_ptr<esimd_2_facts_plan<Real>> plan;
    try {
        plan = std::make_unique<esimd_2_facts_plan<Real>>(std::vector<std::int64_t>{p.n[0], p.n[1], p.n[2]},
                                                          static_cast<Real>(node->backward_scale), p.T, vol, vol,
                                                          strides, strides, false);
        plan->set_fwd_scale(static_cast<Real>(node->forward_scale));
        plan->set_use_internal_workspaces(false);
        if (plan->commit(b->queue) != 0) return DFTI_STATUS_NOT_APPLICABLE;
    } catch (const sycl::exception&) {
        return DFTI_STATUS_NOT_APPLICABLE;
    }
    node->twiddle_workspace_bytes = static_cast<std::uint64_t>(plan->workspace_bytes(0));
    node->scratch_workspace_bytes = static_cast<std::uint64_t>(plan->workspace_bytes(1));
    b->esimd = std::move(plan);
    return 0;
}

// Route 1's launches: the plan's compute driver on USM pointers, or on the
// byte buffers viewed as buffers of Real. A plan bound to a workspace of the
// other container kind (a caller's USM workspace with buffer data, or the
// reverse) cannot run: 5.
template <class Real>
int esimd_launch(c2c_3d_block<Real>* b, const gpu1d::launch_args& a) {
    esimd_2_facts_plan<Real>& plan = *b->esimd;
    plan.set_queue(b->queue);
    if (plan.workspace_rebind_needed(a.buffers ? 1 : 0) != 0) return DFTI_STATUS_BAD_DESCRIPTOR;
    sycl::event e;
    if (a.buffers) {
        auto view = [](void* p) {
            auto* bytes = static_cast<sycl::buffer<char, 1>*>(p);
            return bytes->template reinterpret<Real, 1>(sycl::range<1>(bytes->size() / sizeof(Real)));
        };
        sycl::buffer<Real, 1> in = view(a.in);
        sycl::buffer<Real, 1> out = a.out == a.in ? in : view(a.out);
        e = a.direction == 0 ? ovx_dft_gpu_dft_esimd_2_facts_compute<0, Real>(plan, in, out)
                             : ovx_dft_gpu_dft_esimd_2_facts_compute<1, Real>(plan, in, out);
    } else {
        std::vector<sycl::event> deps = gpu1d::frame_first_dependencies(a);
        Real* in = static_cast<Real*>(a.in);
        Real* out = static_cast<Real*>(a.out);
        e = a.direction == 0 ? ovx_dft_gpu_dft_esimd_2_facts_compute<0, Real>(plan, in, out, deps)
                             : ovx_dft_gpu_dft_esimd_2_facts_compute<1, Real>(plan, in, out, deps);
    }
    if (a.result) *a.result = e;
    return 0;
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

    // Route 1 hands the region to the plan: the library's own area (phase 0,
    // which also gives the plan buffer views, so that both data containers
    // run) or a caller's workspace (phase 2: the plan then runs data of that
    // container kind only).
    static int place_tables(block* b, void* base, int kind, std::uint64_t offset, std::vector<sycl::event>* events,
                            std::uint64_t* end) {
        std::uint64_t off = offset;
        if (b->route == 1) {
            if (!base) return DFTI_STATUS_NO_WORKSPACE;
            const unsigned phase = b->binding_held_areas ? DFTI_WS_TABLES : DFTI_WS_BOTH;
            if (kind == DFTI_CONTAINER_BUFFER)
                b->esimd->set_workspace(*static_cast<sycl::buffer<char, 1>*>(base), phase, events,
                                        static_cast<std::int64_t>(offset));
            else
                b->esimd->set_workspace(base, phase, events, static_cast<std::int64_t>(offset));
            if (end) *end = off + static_cast<std::uint64_t>(b->esimd->workspace_bytes(0));
            return 0;
        }
        const int st = b->subs.place_tables(base, kind, off, events);
        if (st != 0) return st;
        if (end) *end = off;
        return 0;
    }
    static void free_tables(block* b) {
        if (b->esimd) b->esimd->delete_internal_allocations(2);
    }

    static bool uses_sub_nodes(const block* b) { return b->route == 3; }
    static bool direction_ready(const block* b, int dir) {
        return b->route == 1 ? b->esimd != nullptr : md_composite_hooks<block>::direction_ready(b, dir);
    }
    static bool direction_refused(const block* b, int dir) { return !direction_ready(b, dir); }
    static int place_scratch(block* b, void* base, int kind, std::uint64_t offset) {
        return b->route == 1 ? 0 : md_composite_hooks<block>::place_scratch(b, base, kind, offset);
    }


    static int launch(DFTI_DESCRIPTOR*, block* b, const gpu1d::launch_args& a) {
        if (b->route == 1) return esimd_launch(b, a);
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
    std::int64_t bytes = subs < 0 ? -1 : subs + static_cast<std::int64_t>(2 * align);
    // Route 1 on a generation-6 device (or on any device, without a queue):
    // the plan's tables, on the device's figures (without a queue, those of
    // the largest local memory and alignment the plan distinguishes).
    if (p.packed && (!q || arch == 6)) {
        const std::int64_t vol = p.n[0] * p.n[1] * p.n[2];
        const std::int64_t strides[3] = {1, p.n[0], p.n[0] * p.n[1]};
        const std::uint64_t local = q ? q->get_device().get_info<sycl::info::device::local_mem_size>() : 131072u;
        const std::uint32_t bits = q ? q->get_device().get_info<sycl::info::device::mem_base_addr_align>() : 1024u;
        const std::int64_t t = esimd_2_facts_table_bytes<Real>({p.n[0], p.n[1], p.n[2]}, p.T, vol, vol, strides,
                                                               strides, local, bits);
        if (t >= 0) bytes = std::max(bytes, t);
    }
    return bytes;
}
}  // namespace gpu1d

}  // namespace dft
}  // namespace ovx
}  // namespace korami

#endif
