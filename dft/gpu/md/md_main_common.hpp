// Ordering rule shared by the complex main backends whose routes run
// sub-nodes one after the other over a shared scratch region.
#ifndef OVX_DFT_GPU_MD_MAIN_COMMON_HPP
#define OVX_DFT_GPU_MD_MAIN_COMMON_HPP

#include <sycl/sycl.hpp>

#include "dft/gpu/1d/frame_areas.hpp"
#include "dft/gpu/1d/frame_block.hpp"

namespace korami {
namespace ovx {
namespace dft {
namespace gpumd {

// A compute's first sub-node must not start before the previous compute's
// last step, which may still read the scratch region they share. With USM
// data the dependency vector carries that order (frame_first_dependencies);
// with buffer data the sub-nodes take no dependency vector (their accessors
// order them on the data only), so the host waits for the previous compute
// when a shared scratch region exists.
inline void order_buffer_compute_after_previous(const gpu1d::launch_args& a, bool shared_scratch) {
    if (a.buffers && shared_scratch && a.after) gpu1d::frame_wait_quietly(const_cast<sycl::event*>(a.after));
}

}  // namespace gpumd
}  // namespace dft
}  // namespace ovx
}  // namespace korami

#endif
