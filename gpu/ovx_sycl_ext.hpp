// The vendor extensions of SYCL 2020 that the library uses, behind plain
// functions: a build against another SYCL implementation changes this header
// and nothing else. Everything outside it uses standard SYCL names only.
#ifndef OVX_GPU_OVX_SYCL_EXT_HPP
#define OVX_GPU_OVX_SYCL_EXT_HPP

#include <cstdint>

#include <sycl/sycl.hpp>
#include <sycl/ext/tarvo/esimd.hpp>

namespace korami {
namespace ovx {
namespace gpu {
namespace sycl_ext {

// ---- backends ----------------------------------------------------------------

// The Level Zero backend of the implementation.
constexpr sycl::backend level_zero = sycl::backend::ext_tarvo_level_zero;

// True when the device is reached through the Level Zero backend.
inline bool is_level_zero(const sycl::device& d) { return d.get_backend() == level_zero; }

// ---- GPU device information ---------------------------------------------------

// True when the device answers the GPU hardware queries below.
inline bool has_gpu_hw_info(const sycl::device& d) { return d.has(sycl::aspect::ext_tarvo_gpu_hw_info); }

// The number of execution units of a device with GPU hardware information.
inline std::uint32_t gpu_eu_count(const sycl::device& d) {
    return static_cast<std::uint32_t>(d.get_info<sycl::ext::tarvo::info::device::gpu_eu_count>());
}

// The EUs per subslice, hardware threads per EU, slices and subslices per
// slice of a device with GPU hardware information.
inline std::uint32_t gpu_eu_count_per_subslice(const sycl::device& d) {
    return static_cast<std::uint32_t>(d.get_info<sycl::ext::tarvo::info::device::gpu_eu_count_per_subslice>());
}
inline std::uint32_t gpu_hw_threads_per_eu(const sycl::device& d) {
    return static_cast<std::uint32_t>(d.get_info<sycl::ext::tarvo::info::device::gpu_hw_threads_per_eu>());
}
inline std::uint32_t gpu_slices(const sycl::device& d) {
    return static_cast<std::uint32_t>(d.get_info<sycl::ext::tarvo::info::device::gpu_slices>());
}
inline std::uint32_t gpu_subslices_per_slice(const sycl::device& d) {
    return static_cast<std::uint32_t>(d.get_info<sycl::ext::tarvo::info::device::gpu_subslices_per_slice>());
}

// The PCI device id of a GPU device.
inline std::uint32_t gpu_device_id(const sycl::device& d) {
    return static_cast<std::uint32_t>(d.get_info<sycl::ext::tarvo::info::device::device_id>());
}

// The free memory of a device, or UINT64_MAX when it does not tell.
inline std::uint64_t free_memory(const sycl::device& d) {
    return d.has(sycl::aspect::ext_tarvo_free_memory) ? d.get_info<sycl::ext::tarvo::info::device::free_memory>()
                                                      : UINT64_MAX;
}

// ---- explicit-SIMD kernels -------------------------------------------------------
// The explicit-SIMD extension (SYCL_ESIMD_KERNEL / SYCL_ESIMD_FUNCTION, SIMD
// vectors, block and gathered memory access, shared local memory), under the
// name the library's explicit-SIMD kernels use.
namespace esimd = sycl::ext::tarvo::esimd;

}  // namespace sycl_ext
}  // namespace gpu
}  // namespace ovx
}  // namespace korami

#endif
