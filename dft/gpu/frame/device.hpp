// The device facts every planner reads: the device layer's record of the
// queue's device (gathered once per device, gpu/ovx_gpu.hpp) with the frame's
// scratch cap. A block holds the facts of its commit; a workspace estimate
// made before a queue is known works on a record marked unknown, on which
// each module keeps to its own assumptions (has_sub_group8 below and the
// modules' describe steps).
#ifndef OVX_DFT_GPU_FRAME_DEVICE_HPP
#define OVX_DFT_GPU_FRAME_DEVICE_HPP

#include <cstdint>

#include <sycl/sycl.hpp>

#include "dft/gpu/frame/align.hpp"
#include "dft/gpu/frame/plan_common.hpp"
#include "gpu/ovx_gpu.hpp"

namespace korami {
namespace ovx {
namespace dft {
namespace gpufw {

struct device_facts : korami::ovx::gpu::device_facts {
    bool known = false;  // the facts of a queue's device
    std::uint64_t scratch_cap = plan_common::scratch_cap_default;  // of the chunked planners
};

// The facts of the queue's device; `known` stays false without a queue or
// when the device's record cannot be made.
inline device_facts device_facts_of(sycl::queue* q) {
    device_facts f;
    int st = 0;
    if (q && korami::ovx::gpu::get_device_facts(&st, q, &f)) f.known = true;
    f.scratch_cap = plan_common::scratch_cap_of(f.generation);
    return f;
}

// Whether the device offers sub-groups of 8; `otherwise` for an unknown device.
inline bool has_sub_group8(const device_facts& d, bool otherwise) { return d.known ? d.sub_group8 : otherwise; }

// The device's base-address alignment in bytes; for a device not known yet
// (an estimate before the commit), that of the most demanding device, so
// that the areas an estimate sizes cover those of a commit on any device.
inline std::uint32_t align_bytes_of(const device_facts& d) {
    return d.known ? d.align_bytes : kEstimateAlignBytes;
}

}  // namespace gpufw
}  // namespace dft
}  // namespace ovx
}  // namespace korami

#endif
