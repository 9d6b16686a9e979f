// Workspace estimates of the GPU 1D modules: the device an estimate is made
// for and the alignment the workspace placement uses.
#ifndef OVX_DFT_GPU_1D_FRAME_ESTIMATE_HPP
#define OVX_DFT_GPU_1D_FRAME_ESTIMATE_HPP

#include <cstdint>

#include <sycl/sycl.hpp>

#include "dft/gpu/ovx_dft_gpu_common.hpp"
#include "dft/node/ovx_dft_node.hpp"
#include "gpu/ovx_gpu.hpp"

namespace korami {
namespace ovx {
namespace dft {
namespace gpu1d {

// The queue of an estimate (may be null) and its device generation (left as
// it is without a queue). False when the generation cannot be had.
inline bool frame_estimate_device(const dft_workspace_problem& problem, sycl::queue*& q, std::int32_t& arch) {
    q = const_cast<sycl::queue*>(problem.queue);
    if (!q) return true;
    int st = 0;
    arch = korami::ovx::gpu::get_architecture(&st, q);
    return st == 0;
}

// `v` aligned as the workspace places it (as on the most demanding device
// without a queue).
inline std::uint64_t frame_estimate_align(sycl::queue* q, std::uint64_t v) {
    return q ? align_workspace_offset(v, q) : align_workspace_bytes(v, kEstimateAlignBytes);
}

}  // namespace gpu1d
}  // namespace dft
}  // namespace ovx
}  // namespace korami

#endif
