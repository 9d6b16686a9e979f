// Workspace estimates of the GPU 1D modules: the device an estimate is made
// for and the alignment the workspace placement uses.
#ifndef OVX_DFT_GPU_FRAME_ESTIMATE_HPP
#define OVX_DFT_GPU_FRAME_ESTIMATE_HPP

#include <cstdint>

#include <sycl/sycl.hpp>

#include "dft/gpu/frame/areas.hpp"
#include "dft/gpu/frame/device.hpp"
#include "dft/node/ovx_dft_node.hpp"
#include "gpu/ovx_gpu.hpp"

namespace korami {
namespace ovx {
namespace dft {
namespace gpufw {

// The queue of an estimate (may be null), its device facts (marked unknown
// without a queue) and its device generation (left as it is without a
// queue). False when the generation cannot be had.
inline bool frame_estimate_device(const dft_workspace_problem& problem, sycl::queue*& q, std::int32_t& arch,
                                  device_facts* dev = nullptr) {
    q = const_cast<sycl::queue*>(problem.queue);
    const device_facts f = device_facts_of(q);
    if (dev) *dev = f;
    if (!q) return true;
    if (!f.known || !f.generation_known) return false;
    arch = f.generation;
    return true;
}

// `v` aligned as the workspace places it (as on the most demanding device
// without a queue).
inline std::uint64_t frame_estimate_align(sycl::queue* q, std::uint64_t v) {
    return q ? align_workspace_offset(v, q) : align_workspace_bytes(v, kEstimateAlignBytes);
}

}  // namespace gpufw
}  // namespace dft
}  // namespace ovx
}  // namespace korami

#endif
