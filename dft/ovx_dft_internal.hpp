// Internal helpers shared by the descriptor, commit and compute sources.
#ifndef OVX_DFT_OVX_DFT_INTERNAL_HPP
#define OVX_DFT_OVX_DFT_INTERNAL_HPP

#include "dft/node/ovx_dft_node.hpp"
#include "dft/contract/ovx_dft_node_ops.hpp"
#include "gpu/ovx_gpu.hpp"
#include "korami/ovx/dft.hpp"

namespace korami {
namespace ovx {
namespace dft {
namespace detail {

// Bits of the exported descriptor's node `flags` (bit 0 belongs to the
// backend layer).
constexpr std::uint32_t kDefaultStrides = 1u << 1;  // forward/backward strides are the defaults
constexpr std::uint32_t kCpuRoute = 1u << 2;        // committed through the CPU route
// Committed with a layout whose output of that direction is refused at compute.
constexpr std::uint32_t kForwardRefused = 1u << 3;
constexpr std::uint32_t kBackwardRefused = 1u << 4;

template <precision prec, domain dom>
DFTI_DESCRIPTOR* descriptor_node(const descriptor<prec, dom>& desc) {
    return desc.node_;
}

// Waits for the committed queue of a node bound to a GPU backend, so that no
// submitted work still uses what the backend is about to release.
inline void quiesce(DFTI_DESCRIPTOR* n) {
    if (n && n->bkd && n->queue) {
        try {
            n->queue->wait();
        } catch (...) {
        }
    }
}

// Throws korami::ovx::uninitialized for a moved-from descriptor.
void check_node(DFTI_DESCRIPTOR* node, const char* function);
// Writes the default forward and backward strides (and clears the input and
// output strides) of the current placement.
void apply_default_strides(DFTI_DESCRIPTOR* node);
// Frees the CPU handles held in the descriptor's slot after the host tasks
// that use them have finished; `final` also frees the pair.
void release_cpu_handles(sycl::buffer<void*, 1>& slot, bool final);
// WORKSPACE_EXTERNAL_BYTES: the committed GPU node's need, 0 on the CPU route,
// else the estimate of the GPU backends.
template <typename T>
std::int64_t workspace_bytes(DFTI_DESCRIPTOR* node);

}  // namespace detail
}  // namespace dft
}  // namespace ovx
}  // namespace korami

#endif
