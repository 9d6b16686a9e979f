// Internal helpers shared by the descriptor, commit and compute sources.
#ifndef OVX_DFT_OVX_DFT_INTERNAL_HPP
#define OVX_DFT_OVX_DFT_INTERNAL_HPP

#include <cstdint>
#include <string>

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
// The layout of one direction (0 forward, 1 backward) of the CPU route, in
// node order: the input strides when given, else the forward-domain strides
// (forward) or backward-domain strides (backward); the output strides when
// given, else the other domain's. Distances are chosen the same way per
// batch record. The input/output pair is the node layer's (io_layout_of), so
// both routes read one layout.
struct cpu_layout {
    std::int64_t in_offset = 0, out_offset = 0;
    dfti_dim dims[DFTI_MAX_RANK] = {};  // {length, input stride, output stride, 0, 0}
    dfti_dim batch[DFTI_USER_BATCH_RECORDS] = {};
    std::int64_t nbatch = 0;
};

void effective_layout(const DFTI_DESCRIPTOR* n, int which, cpu_layout& l);
// Bytes from the start of a data container to past the last element that the
// transform of direction `which` reads (output false) or writes (output true).
std::uint64_t layout_bytes(const DFTI_DESCRIPTOR* n, int which, bool output, std::int64_t real_bytes);
// What is wrong with the output that direction `which` writes, or an empty text.
std::string output_fault(const DFTI_DESCRIPTOR* n, int which, std::int64_t real_bytes);
// The layout checks of commit; the bits of the directions refused at compute.
std::uint32_t check_layout(const DFTI_DESCRIPTOR* n, std::int64_t real_bytes, const char* fn);
// The CPU route's handles of both directions, made and committed from the node.
int build_cpu_handles(const DFTI_DESCRIPTOR* n, SYCL_DFTI_DESCRIPTOR* pair);
// Raises the exception of a failed status (internal_error where the status
// mapping has none, so that no failure returns as success); a compute's
// failure of a direction commit did not prepare names that direction.
void raise_failure(int status, const std::string& function);
void raise_compute_failure(int status, int direction, const char* function);
[[noreturn]] void throw_unimplemented_configuration();

// WORKSPACE_EXTERNAL_BYTES: the committed GPU node's need, 0 on the CPU route,
// else the estimate of the GPU backends.
template <typename T>
std::int64_t workspace_bytes(DFTI_DESCRIPTOR* node);

}  // namespace detail
}  // namespace dft
}  // namespace ovx
}  // namespace korami

#endif
