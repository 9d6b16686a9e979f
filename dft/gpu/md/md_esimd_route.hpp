// The explicit-SIMD route of the 2D and 3D complex main backends: the
// two-factor plan over a packed layout on a device of generation 6, bound,
// launched and estimated the same way by both modules.
//
// The plan builds its kernels at commit and writes its tables into whatever
// areas it is bound to; the frame binds it like any module's tables (the
// library's own areas at commit, a caller's workspace at set_workspace), so
// the plan holds no allocation of its own.
#ifndef OVX_DFT_GPU_MD_ESIMD_ROUTE_HPP
#define OVX_DFT_GPU_MD_ESIMD_ROUTE_HPP

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include <sycl/sycl.hpp>

#include "dft/gpu/frame/block.hpp"
#include "dft/gpu/frame/device.hpp"
#include "dft/gpu/esimd/ovx_dft_esimd_2_facts.hpp"
#include "dft/node/ovx_dft_node.hpp"

namespace korami {
namespace ovx {
namespace dft {
namespace gpumd {
using namespace gpufw;

// The packed strides of the lengths (innermost first).
inline std::vector<std::int64_t> esimd_packed_strides(const std::vector<std::int64_t>& n) {
    std::vector<std::int64_t> s(n.size(), 1);
    for (std::size_t i = 1; i < n.size(); ++i) s[i] = s[i - 1] * n[i - 1];
    return s;
}

// Commits a plan of the packed transform of `lengths` (innermost first) and
// `transforms` transforms with the node's scales. A plan that refuses the
// shape, or whose kernels cannot be built, is dropped: 100. On 0 the plan
// is in `out` and the node's region sizes are the plan's.
template <class Real>
int esimd_route_commit(DFTI_DESCRIPTOR* node, sycl::queue* q, const std::vector<std::int64_t>& lengths,
                       std::int64_t transforms, std::unique_ptr<esimd_2_facts_plan<Real>>& out) {
    std::int64_t vol = 1;
    for (std::int64_t v : lengths) vol *= v;
    const std::vector<std::int64_t> strides = esimd_packed_strides(lengths);
    std::unique_ptr<esimd_2_facts_plan<Real>> plan;
    try {
        plan = std::make_unique<esimd_2_facts_plan<Real>>(lengths, static_cast<Real>(node->backward_scale), transforms,
                                                          vol, vol, strides.data(), strides.data(), false);
        plan->set_fwd_scale(static_cast<Real>(node->forward_scale));
        plan->set_use_internal_workspaces(false);
        if (plan->commit(q) != 0) return DFTI_STATUS_NOT_APPLICABLE;
    } catch (const sycl::exception&) {
        return DFTI_STATUS_NOT_APPLICABLE;
    }
    node->twiddle_workspace_bytes = static_cast<std::uint64_t>(plan->workspace_bytes(0));
    node->scratch_workspace_bytes = static_cast<std::uint64_t>(plan->workspace_bytes(1));
    out = std::move(plan);
    return 0;
}

// Hands a region to the plan: the library's own area (`held`, phase 0, which
// also gives the plan buffer views, so that both data containers run) or a
// caller's workspace (phase 2: the plan then runs data of that container kind
// only).
template <class Real>
int esimd_route_place(esimd_2_facts_plan<Real>& plan, bool held, void* base, int kind, std::uint64_t offset,
                      std::vector<sycl::event>* events, std::uint64_t* end) {
    if (!base) return DFTI_STATUS_NO_WORKSPACE;
    const unsigned phase = held ? DFTI_WS_TABLES : DFTI_WS_BOTH;
    if (kind == DFTI_CONTAINER_BUFFER)
        plan.set_workspace(*static_cast<sycl::buffer<char, 1>*>(base), phase, events, static_cast<std::int64_t>(offset));
    else
        plan.set_workspace(base, phase, events, static_cast<std::int64_t>(offset));
    if (end) *end = offset + static_cast<std::uint64_t>(plan.workspace_bytes(0));
    return 0;
}

// The plan's launches on the queue: its compute driver on USM pointers, or on
// the byte buffers viewed as buffers of Real. A plan bound to a workspace of
// the other container kind (a caller's USM workspace with buffer data, or the
// reverse) cannot run: 5.
template <class Real>
int esimd_route_launch(esimd_2_facts_plan<Real>& plan, sycl::queue* q, const gpufw::launch_args& a) {
    plan.set_queue(q);
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
        std::vector<sycl::event> deps = gpufw::frame_first_dependencies(a);
        Real* in = static_cast<Real*>(a.in);
        Real* out = static_cast<Real*>(a.out);
        e = a.direction == 0 ? ovx_dft_gpu_dft_esimd_2_facts_compute<0, Real>(plan, in, out, deps)
                             : ovx_dft_gpu_dft_esimd_2_facts_compute<1, Real>(plan, in, out, deps);
    }
    if (a.result) *a.result = e;
    return 0;
}

// The plan's table bytes for the packed problem on the queue's device
// (without a queue, on the largest local memory and alignment the plan
// distinguishes); -1 when the plan would refuse it.
template <class Real>
std::int64_t esimd_route_estimate(const std::vector<std::int64_t>& lengths, std::int64_t transforms,
                                  const gpufw::device_facts& dev) {
    std::int64_t vol = 1;
    for (std::int64_t v : lengths) vol *= v;
    const std::vector<std::int64_t> strides = esimd_packed_strides(lengths);
    const std::uint64_t local = dev.known ? static_cast<std::uint64_t>(dev.local_mem) : 131072u;
    const std::uint32_t bits = dev.known ? dev.align_bytes * 8 : 1024u;
    return esimd_2_facts_table_bytes<Real>(lengths, transforms, vol, vol, strides.data(), strides.data(), local, bits);
}

}  // namespace gpumd
}  // namespace dft
}  // namespace ovx
}  // namespace korami

#endif
