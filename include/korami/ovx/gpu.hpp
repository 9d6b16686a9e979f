// GPU services of the korami ovx library: device information, the kernel
// cache (programs built at run time from OpenCL C text or taken from prebuilt
// device binaries), verbose reporting, the Level Zero wrappers and the unload
// hooks.
//
// Services that identify a device, build, look up or release kernels take an
// `int* status` first. The status word is written only on failure (non-zero);
// callers set it to 0 before the call. A null status pointer is allowed. The
// plain count queries and the verbose calls have no status.
#ifndef KORAMI_OVX_GPU_HPP
#define KORAMI_OVX_GPU_HPP

#include <stddef.h>
#include <stdint.h>

#include <sycl/sycl.hpp>

#include "korami/ovx/gpu_types.h"

// A kernel record held by the kernel cache. The kernel belongs to the cache
// (it lives until the library unloads): read it, do not release it.
typedef struct ovx_gpu_kernel_struct_t {
    struct ovx_gpu_kernel_struct_t* link;  // next record of the cache
    uint32_t state;                        // 1 when `kernel` is usable
    sycl::kernel* kernel;
} ovx_gpu_kernel_struct_t;

namespace korami {
namespace ovx {
namespace gpu {

// Library codes of get_OCL_kernel_by_progname / get_binary_kernel `domain`.
enum { domain_dft = 2 };

// Generation code of the queue's device, detected once per device; 0 when the
// generation is not recognised. When the device record cannot be had, *status
// is set non-zero and 0 is returned.
ovx_gpu_arch_t get_architecture(int* status, sycl::queue* queue);

// Number of tiles (sub-devices by partition) of the queue's device; a device
// without tiles counts as 1.
int get_tile_count(sycl::queue* queue);

// Execution-unit count of the queue's device (0 when unknown).
int get_eu_count(sycl::queue* queue);

// Largest work-group size of the queue's device (0 when unknown).
int64_t ovx_gpu_get_max_workgroup_size(sycl::queue* queue);

// The kernel `kernel_name` of the program built from the OpenCL C text
// `source` with the build options `options` for the queue's device and
// context. Each program is built once per device, context, program name and
// option text, then taken from the cache. The caller owns the returned kernel
// and gives it back with release_kernel_obj.
// Failures set *status non-zero and throw sycl::exception; the message begins
// "OpenCL error <number>" and carries the build log of a failed build.
sycl::kernel* get_OCL_kernel_by_progname(int* status, sycl::queue* queue, int domain,
                                         const char* program_name, const char* source,
                                         const char* kernel_name, const char* options);

// Destroys a kernel handed out by get_OCL_kernel_by_progname; null is allowed.
void release_kernel_obj(int* status, sycl::kernel* kernel);

// A cached kernel record for `kernel_name` of a prebuilt device binary. Never
// throws: a binary the driver refuses, a missing kernel or a device the
// binary cannot serve give a non-zero *status and null.
ovx_gpu_kernel_struct_t* get_binary_kernel(int* status, sycl::queue* queue, int domain,
                                           const ovx_gpu_binary_kernel_t* binary,
                                           const char* kernel_name);

// Whether the driver of the queue's device runs GPU binaries made by the
// library: checked once per device by generating, building and running a
// probe kernel; later calls answer from the device record. When the check
// cannot run (no device record, no OpenCL) *status is set non-zero, false is
// returned and the next call checks again.
bool have_binary_kernels(int* status, sycl::queue* queue);

// Verbose lines of one GPU call: once per device the line
// "OVX_VERBOSE Detected GPU<n> <name> Backend:<backend> VE:<EUs> Stack:<tiles> maxWGsize:<n>",
// then the call's text with its time. Prints only in verbose mode and only
// at nesting depth 0 of the calling thread.
void print_verbose_gpu_info(sycl::queue* queue, const char* text, double seconds);

// Nesting depth of verbose reporting of the calling thread.
void verbose_depth_inc();
void verbose_depth_dec();

}  // namespace gpu
}  // namespace ovx
}  // namespace korami

// Level Zero entry points, loaded at run time. Handles and descriptors are the
// driver's own types, passed through untouched. When no Level Zero driver is
// present every wrapper returns OVX_ZE_RESULT_ERROR_UNINITIALIZED.
typedef uint32_t ovx_ze_result_t;
#define OVX_ZE_RESULT_SUCCESS 0u
#define OVX_ZE_RESULT_ERROR_UNINITIALIZED 0x78000001u

extern "C" {
ovx_ze_result_t ovx_zeDeviceGetProperties(void* device, void* properties);
ovx_ze_result_t ovx_zeDeviceGetSubDevices(void* device, uint32_t* count, void** sub_devices);
ovx_ze_result_t ovx_zeModuleCreate(void* context, void* device, const void* desc,
                                   void** module, void** build_log);
ovx_ze_result_t ovx_zeKernelCreate(void* module, const void* desc, void** kernel);
ovx_ze_result_t ovx_zeModuleDestroy(void* module);
ovx_ze_result_t ovx_zeModuleGetNativeBinary(void* module, size_t* size, uint8_t* binary);

// Frees the library's global tables (kernel cache, device records, loaded
// driver libraries). ovx_sycl_destructor is registered with the vendor core
// library and runs at process exit; ovx_sycl_destructor_local runs when the
// library itself unloads. Either may run first; the second finds nothing to do.
void ovx_sycl_destructor(void);
void ovx_sycl_destructor_local(void);
}

#endif
