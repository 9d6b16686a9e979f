// 3D complex main GPU backend (both precisions through the frame): the
// general backend for rank-3 complex transforms. At commit it takes the
// first route that serves the problem:
//   1. on a device of generation 6 with a packed layout, the explicit-SIMD
//      two-factor plan (md_esimd_route.hpp; a plan that refuses the shape
//      falls through);
//   2. for a packed double 135 x 135 x 135 transform on a device offering
//      sub-groups of 8, the one-kernel-per-axis two-factor program
//      (md_two_facts.hpp; a program that cannot be built falls through);
//   3. three complex 1D sub-transforms, one per axis, each committed through
//      the 1D complex candidate list: the first from the input to the
//      output, the second and third in place on the output; the third
//      carries the scales.
//
// Workspace (the route's areas): route 1 lists the plan's tables in the
// persistent region and needs no scratch; route 2's persistent region holds
// its six twiddle tables (two per axis) and it needs no scratch; route 3's
// persistent region holds the sub-nodes' table areas and its scratch region
// is shared by the sub-nodes, whose computes run one after the other.
#ifndef OVX_DFT_GPU_MD_C2C_3D_MAIN_HPP
#define OVX_DFT_GPU_MD_C2C_3D_MAIN_HPP

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "dft/gpu/frame/frame.hpp"
#include "dft/gpu/esimd/ovx_dft_esimd_2_facts.hpp"
#include "dft/gpu/frame/composite.hpp"
#include "dft/gpu/md/md_esimd_route.hpp"
#include "dft/gpu/md/md_sides.hpp"
#include "dft/gpu/md/md_two_facts.hpp"

namespace korami {
namespace ovx {
namespace dft {
namespace gpumd {
using namespace gpufw;

// The layout of a rank-3 complex node and its three stages.
struct c2c_3d_plan : complex_md_layout<3> {
    std::vector<sub_pair> stages;
};

inline int c2c_3d_applicability(const DFTI_DESCRIPTOR* node) { return complex_md_applicability(node, 3); }

inline void make_c2c_3d_plan(const DFTI_DESCRIPTOR* node, c2c_3d_plan& p) {
    p = c2c_3d_plan{};
    make_complex_md_layout<3>(node, p);

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

// Kernel slots: route 2's row kernels, direction * 3 + axis.
template <class Real>
struct c2c_3d_block : gpufw::frame_block<Real, 6> {
    gpufw::sub_node_table<6> subs;
    c2c_3d_plan pl;
    std::vector<DFTI_DESCRIPTOR*> fwd, bwd;  // per stage; null when not built
    int route;                               // the route taken: 1, 2 or 3 (sub-transforms)
    esimd_route<Real> esimd;                 // route 1
    two_facts_axis axes[3];                  // route 2
    two_facts_tables<3, Real> tables;        // route 2
};

// The program of route 2 (double only).
inline const char* c2c_3d_two_facts_program() {
    return gpu_programs::c2c_3d_main_d;
}

// True when the problem is route 2's: double, packed, 135 x 135 x 135, on a
// device offering sub-groups of 8 (`sg8`).
inline bool c2c_3d_two_facts_shape(const c2c_3d_plan& p, bool single, bool sg8) {
    return !single && p.packed && p.n[0] == 135 && p.n[1] == 135 && p.n[2] == 135 && sg8;
}

// Route 2: plans the three axes, builds the row kernels of the built
// directions and sizes the tables. 100 (nothing kept) when an axis does not
// fit the program or a kernel cannot be had.
template <class Real>
int opencl_route(DFTI_DESCRIPTOR* node, c2c_3d_block<Real>* b) {
    if constexpr (std::is_same<Real, float>::value) {
        (void)node;
        (void)b;
        return DFTI_STATUS_NOT_APPLICABLE;
    } else {
        const c2c_3d_plan& p = b->pl;
        two_facts_program prog;
        if (!plan_two_facts_axes<3>(p.n, 2 * sizeof(Real), align_bytes_of(b->dev), b->axes) ||
            !two_facts_names<3>(b->axes, "d", prog))
            return DFTI_STATUS_NOT_APPLICABLE;
        for (int dir = 0; dir < 2; ++dir) {
            if (!gpufw::direction_built(b->directions, dir)) continue;
            const std::string options = two_facts_options<3>(b->axes, prog, dir, p.T, true);
            if (!two_facts_build<3>(b->queue, c2c_3d_two_facts_program(), gpu_kernels::ovx_bkd_c2c_md_2_facts_text_d,
                                    prog, options, &b->kernels[3 * dir])) {
                for (int i = 0; i < 6; ++i) gpufw::frame_release_kernel(b->kernels[i]);
                return DFTI_STATUS_NOT_APPLICABLE;
            }
        }
        b->tables.list(b, b->axes);
        return 0;
    }
}

// Route 2's launches: axis 0 from the input to the output, then axes 1 and
// 2 in place on the output, each pass after the previous one and after the
// writers of the tables it reads.
template <class Real>
int opencl_launch(const DFTI_DESCRIPTOR* node, c2c_3d_block<Real>* b, const gpufw::launch_args& a) {
    const int dir = a.direction;
    const bool usm_ws = a.usm_ws;
    const int table_kind = usm_ws ? DFTI_CONTAINER_USM : DFTI_CONTAINER_BUFFER;
    void* t[3];
    for (int axis = 0; axis < 3; ++axis) {
        t[axis] = b->tables.area(b->areas, 2 * axis + dir, usm_ws);
        if (!t[axis]) return DFTI_STATUS_NO_WORKSPACE;
    }
    const c2c_3d_plan& p = b->pl;
    const two_facts_axis* x = b->axes;
    const std::int64_t B = x[0].batch_per_group, cols = (p.n[0] + 3) / 4, elem = 2 * sizeof(Real);
    const std::int64_t groups[3] = {(p.T * p.n[1] * p.n[2] + B - 1) / B, (p.T * p.n[2] * cols + B - 1) / B,
                                    (p.T * p.n[1] * cols + B - 1) / B};
    const std::int64_t slm[3] = {x[0].slm_bytes, 4 * p.n[1] * elem, 4 * p.n[2] * elem};
    std::vector<sycl::event> deps = gpufw::frame_first_dependencies(a, {b->tables.writer(b->areas, dir)});
    sycl::event e;
    for (int axis = 0; axis < 3; ++axis) {
        sycl::kernel* k = b->kernels[3 * dir + axis];
        if (!k) return DFTI_STATUS_BAD_DESCRIPTOR;
        if (axis > 0) {
            deps.assign(1, e);
            if (const sycl::event* w = b->tables.writer(b->areas, 2 * axis + dir)) deps.push_back(*w);
        }
        e = two_facts_pass(b->queue, k, axis == 0 ? a.in : a.out, a.out, a.buffers, t[axis], table_kind, slm[axis],
                           groups[axis], x[axis].work_group_size, deps);
    }
    if (a.result) *a.result = e;
    return 0;
}

template <class Real>
struct c2c_3d_module : md_composite_hooks<c2c_3d_block<Real>> {
    using real = Real;
    using block = c2c_3d_block<Real>;
    static constexpr bool single = std::is_same<Real, float>::value;
    static constexpr bool composite = true;

    // An estimate covers the three routes.
    static constexpr int estimate_routes = 3;

    static int test(const DFTI_DESCRIPTOR* node) { return c2c_3d_applicability(node); }

    static int plan(DFTI_DESCRIPTOR* node, block* b) {
        make_c2c_3d_plan(node, b->pl);
        const c2c_3d_plan& p = b->pl;
        if (b->estimating) return plan_estimate(node, b);
        if (p.packed && b->arch == OVX_GPU_ARCH_QUEN6 &&
            esimd_route_commit<Real>(node, b->queue, {p.n[0], p.n[1], p.n[2]}, p.T, b->esimd) == 0) {
            b->route = 1;
            esimd_route_list(b, b->esimd);
            return 0;
        }
        if (c2c_3d_two_facts_shape(p, single, gpufw::has_sub_group8(b->dev, false)) &&
            opencl_route<Real>(node, b) == 0) {
            b->route = 2;
            return 0;
        }
        b->route = 3;
        const int st = commit_pairs(node, b->subs, p.stages, single, b->fwd, b->bwd);
        if (st != 0) return st;
        b->areas.sub_node_tables();
        b->areas.round_scratch();
        return 0;
    }

    // The areas of route b->estimate_route for an estimate, where the device
    // (any device before it is known) may take it: route 1's and 2's tables
    // as their planners size them, held whole in one area that is not
    // rounded; route 3's sub-transforms, each configuration estimated on its
    // own and placed at an aligned offset, with two alignments of margin.
    static int plan_estimate(DFTI_DESCRIPTOR* node, block* b) {
        const c2c_3d_plan& p = b->pl;
        std::int64_t tables = -1;
        switch (b->estimate_route) {
        case 0:
            if (p.packed && (frame_device_assumed(b) || b->arch == OVX_GPU_ARCH_QUEN6))
                tables = esimd_route_estimate<Real>({p.n[0], p.n[1], p.n[2]}, p.T, b->dev);
            break;
        case 1:
            if (c2c_3d_two_facts_shape(p, single, has_sub_group8(b->dev, true)) &&
                plan_two_facts_axes<3>(p.n, 2 * sizeof(Real), align_bytes_of(b->dev), b->axes))
                tables = static_cast<std::int64_t>(two_facts_workspace_bytes<3>(b->axes));
            break;
        default: {
            const int st = commit_pairs(node, b->subs, p.stages, single, b->fwd, b->bwd);
            if (st != 0) return st;
            b->areas.sub_node_tables();
            b->areas.round_scratch();
            return list_alignment_margins(b, 2);
        }
        }
        if (tables < 0) return DFTI_STATUS_NOT_APPLICABLE;
        return b->areas.scratch("route tables", static_cast<std::uint64_t>(tables)) < 0 ? DFTI_STATUS_INTERNAL : 0;
    }

    static bool uses_sub_nodes(const block* b) { return b->route == 3; }
    static bool direction_ready(const block* b, int dir) {
        if (b->route == 1) return b->esimd.plan != nullptr;
        if (b->route == 2)
            return b->kernels[3 * dir] && b->kernels[3 * dir + 1] && b->kernels[3 * dir + 2];
        return md_composite_hooks<block>::direction_ready(b, dir);
    }
    static bool direction_refused(const block* b, int dir) { return !direction_ready(b, dir); }

    static int launch(DFTI_DESCRIPTOR* node, block* b, const gpufw::launch_args& a) {
        if (b->route == 1) return esimd_route_launch(b->esimd, node, b, a);
        if (b->route == 2) return opencl_launch(node, b, a);
        const dfti_data_kind kind{a.buffers ? static_cast<std::uint64_t>(DFTI_CONTAINER_BUFFER)
                                            : static_cast<std::uint64_t>(DFTI_CONTAINER_USM)};
        const std::vector<DFTI_DESCRIPTOR*>& set = a.direction == 0 ? b->fwd : b->bwd;
        // The first stage waits for the caller's dependencies and for the
        // previous compute, whose stages may still use the shared scratch.
        std::vector<sycl::event> deps = gpufw::frame_first_dependencies(a);
        order_buffer_compute_after_previous(a, node->scratch_workspace_bytes != 0);
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

}  // namespace dft
}  // namespace ovx
}  // namespace korami

#endif
