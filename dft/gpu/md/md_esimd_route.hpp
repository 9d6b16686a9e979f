// The explicit-SIMD route of the 2D and 3D complex main backends: the
// two-factor plan over a packed layout on a device of generation 6, listed,
// launched and estimated the same way by both modules.
//
// The plan builds its kernels at commit; its tables are areas of the
// module's workspace, which the frame binds like any module's (the library's
// own areas at commit, a caller's workspace at set_workspace) and which the
// plan's writers fill, so the plan holds no allocation of its own.
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

// The route's state in a module block: the plan, the area slots of its
// tables (stage s, direction d) and the buffer views of element type Real
// that the plan's buffer driver reads, each with the byte buffer it views.
template <class Real>
struct esimd_route {
    std::unique_ptr<esimd_2_facts_plan<Real>> plan;
    int slot[3][2] = {};
    std::unique_ptr<sycl::buffer<Real, 1>> view[3][2];
    sycl::buffer<char, 1>* view_of[3][2] = {};
};

// Commits a plan of the packed transform of `lengths` (innermost first) and
// `transforms` transforms with the node's scales. A plan that refuses the
// shape, or whose kernels cannot be built, is dropped: 100. On 0 the plan is
// in the route; its tables are the module's workspace areas (esimd_route_list).
template <class Real>
int esimd_route_commit(DFTI_DESCRIPTOR* node, sycl::queue* q, const std::vector<std::int64_t>& lengths,
                       std::int64_t transforms, esimd_route<Real>& route) {
    std::int64_t vol = 1;
    for (std::int64_t v : lengths) vol *= v;
    const std::vector<std::int64_t> strides = esimd_packed_strides(lengths);
    std::unique_ptr<esimd_2_facts_plan<Real>> plan;
    try {
        plan = std::make_unique<esimd_2_facts_plan<Real>>(lengths, static_cast<Real>(node->backward_scale), transforms,
                                                          vol, vol, strides.data(), strides.data(), false);
        plan->set_fwd_scale(static_cast<Real>(node->forward_scale));
        plan->set_use_internal_workspaces(false);
        plan->borrow_tables();
        if (plan->commit(q) != esimd_plan_ok) return DFTI_STATUS_NOT_APPLICABLE;
    } catch (const sycl::exception&) {
        return DFTI_STATUS_NOT_APPLICABLE;
    }
    route.plan = std::move(plan);
    return 0;
}

// Lists the plan's tables in the module's first region, stage by stage and
// in each stage forward then backward, as data areas (the buffer driver
// takes buffers of the data's container kind). Their writers also tell the
// plan where each table is.
template <class Real, class Block>
void esimd_route_list(Block* b, esimd_route<Real>& route) {
    esimd_2_facts_plan<Real>& p = *route.plan;
    for (int s = 0; s < p.rank; ++s)
        for (int d = 0; d < 2; ++d) {
            const std::uint64_t bytes = static_cast<std::uint64_t>(p.region_size[s][d]);
            route.slot[s][d] = b->areas.scratch("explicit-SIMD table", bytes, gpufw::region::tables, true);
            gpufw::area& x = b->areas.a[route.slot[s][d]];
            esimd_route<Real>* r = &route;
            x.writer = [r, s, d, bytes](const gpufw::area_target& t, std::vector<sycl::event>& done) {
                esimd_2_facts_plan<Real>& pl = *r->plan;
                if (t.kind == DFTI_CONTAINER_USM) {
                    pl.table_ptr[s][d] = static_cast<Real*>(t.usm);
                    const sycl::event e = pl.write_table(s, d, 0, t.usm);
                    pl.events[std::size_t(d * pl.rank + s)] = e;
                    done.push_back(e);
                    return 0;
                }
                r->view[s][d].reset(new sycl::buffer<Real, 1>(
                    t.buf->template reinterpret<Real, 1>(sycl::range<1>(static_cast<std::size_t>(bytes / sizeof(Real))))));
                r->view_of[s][d] = t.buf;
                pl.table_buf[s][d] = r->view[s][d].get();
                done.push_back(pl.write_table(s, d, 1, r->view[s][d].get()));
                return 0;
            };
        }
}

// The plan's launches on the queue: its compute driver on USM pointers, or on
// the byte buffers viewed as buffers of Real. The plan reads the tables
// where the areas are now: with the library's workspace both containers, with
// a caller's workspace that workspace's kind only; a compute whose data are
// of the other kind cannot run: 5.
template <class Real, class Block>
int esimd_route_launch(esimd_route<Real>& route, const DFTI_DESCRIPTOR* node, Block* b, const gpufw::launch_args& a) {
    esimd_2_facts_plan<Real>& plan = *route.plan;
    for (int s = 0; s < plan.rank; ++s)
        for (int d = 0; d < 2; ++d) {
            const int slot = route.slot[s][d];
            plan.table_ptr[s][d] = static_cast<Real*>(b->areas.a[slot].usm);
            sycl::buffer<char, 1>* bytes = static_cast<sycl::buffer<char, 1>*>(b->areas.data_of(slot, true));
            if (bytes != route.view_of[s][d]) {
                route.view[s][d].reset(bytes ? new sycl::buffer<Real, 1>(bytes->template reinterpret<Real, 1>(
                                                   sycl::range<1>(bytes->size() / sizeof(Real))))
                                             : nullptr);
                route.view_of[s][d] = bytes;
            }
            plan.table_buf[s][d] = route.view[s][d].get();
        }
    plan.container_kind = node->internal_workspace != 0 ? 2 : (b->ws_kind == DFTI_CONTAINER_USM ? 0 : 1);
    plan.set_queue(b->queue);
    if (plan.workspace_rebind_needed(a.buffers ? 1 : 0) != esimd_plan_ok) return DFTI_STATUS_BAD_DESCRIPTOR;
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
