// Native OpenCL handles of a SYCL queue's device and context, for building
// programs through the loaded OpenCL entry points.
#ifndef OVX_GPU_OVX_GPU_NATIVE_HPP
#define OVX_GPU_OVX_GPU_NATIVE_HPP

#include <string>

#include <sycl/sycl.hpp>

#include "gpu/ovx_opencl.hpp"

namespace korami {
namespace ovx {
namespace gpu {

// get_native hands out the context retained for the caller (the root
// device's handle needs no reference); the context is released when the
// object goes.
struct native_handles {
    const ocl::entries* cl = nullptr;
    cl_device_id device = nullptr;
    cl_context context = nullptr;
    native_handles() = default;
    native_handles(const native_handles&) = delete;
    native_handles& operator=(const native_handles&) = delete;
    ~native_handles() {
        if (context != nullptr) cl->clReleaseContext(context);
    }
};

// Fills `h` from the queue; returns "" or the reason of the failure.
inline std::string get_natives(native_handles& h, const ocl::entries* cl, sycl::queue* queue) {
    h.cl = cl;
    try {
        h.device = sycl::get_native<sycl::backend::opencl>(queue->get_device());
        h.context = sycl::get_native<sycl::backend::opencl>(queue->get_context());
    } catch (const std::exception& ex) {
        return ex.what();
    }
    if (h.device == nullptr || h.context == nullptr) return "no native handle";
    return std::string();
}

}  // namespace gpu
}  // namespace ovx
}  // namespace korami

#endif
