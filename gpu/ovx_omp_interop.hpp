// Binding to the OpenMP offload runtime, loaded by name on first need, and
// the native device search of the offload entries. The exported context and
// queue caches over native handles are declared in
// <korami/ovx/dfti_omp_offload.h>.
#ifndef OVX_GPU_OVX_OMP_INTEROP_HPP
#define OVX_GPU_OVX_OMP_INTEROP_HPP

#include <cstdint>
#include <optional>

#include <sycl/sycl.hpp>

#include "korami/ovx/dfti_omp_offload.h"

namespace korami {
namespace ovx {
namespace gpu {

// OpenMP interop property numbers and foreign runtime ids.
enum omp_interop_property : int {
    omp_ipr_fr_id = -1,
    omp_ipr_device = -7,
    omp_ipr_device_context = -8,
    omp_ipr_targetsync = -9,
    omp_ipr_immediate_list = 10,
};
enum omp_foreign_runtime : int { omp_fr_opencl = 3, omp_fr_sycl = 4, omp_fr_level_zero = 6 };

// 0 when the runtime and its five entries are bound, -1 otherwise. Only the
// first call tries; a failed load is not retried.
int load_omptarget();

// Call-through wrappers. When the runtime or the entry is missing they print
// the service message naming the entry and report failure: the property call
// returns 1, the int/ptr/str calls set *rc to -1 and return 0/null, the
// completion call returns -1.
int omptarget_get_interop_property(void* interop, int prop, void** value);
std::int32_t omptarget_get_interop_int(void* interop, int prop, int* rc);
void* omptarget_get_interop_ptr(void* interop, int prop, int* rc);
const char* omptarget_get_interop_str(void* interop, int prop, int* rc);
int omptarget_add_completion_callback(void* interop, void (*callback)(void*, void*), void* data);

// The SYCL device (root or sub-device at any depth of the affinity tree)
// whose native Level Zero handle is `native`; throws sycl::exception (errc
// invalid, "Native device isn't exposed to SYCL.") when none is.
sycl::device find_sycl_device_for_native(void* native);
std::optional<sycl::device> find_sycl_subdevice_for_native(const sycl::device& root, void* native);

}  // namespace gpu
}  // namespace ovx
}  // namespace korami

#endif
