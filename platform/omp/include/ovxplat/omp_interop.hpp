// Interop objects for SYCL queues of the stand-in GPU, for tests.
#pragma once

#include <sycl/sycl.hpp>

#include "ovxplat/omp_interop.h"

namespace ovxplat {

// Native handles taken for an interop object; release() gives back the
// OpenCL references that get_native took.
struct omp_interop {
    void* handle = nullptr;
    ovxplat_omp_interop_desc desc{};
    omp_interop() = default;
    omp_interop(const omp_interop&) = delete;
    omp_interop& operator=(const omp_interop&) = delete;
    ~omp_interop() { release(); }
    void release() {
        if (handle) ovxplat_omp_interop_destroy(handle);
        if (desc.fr_id == 3) {
            if (desc.targetsync) clReleaseCommandQueue(static_cast<cl_command_queue>(desc.targetsync));
            if (desc.context) clReleaseContext(static_cast<cl_context>(desc.context));
        }
        handle = nullptr;
        desc = {};
    }
};

// Fills `out` for queue `q` and foreign runtime `fr`: 4 the sycl::queue
// itself, 3 its OpenCL queue, context and device, 6 its Level Zero handles.
inline void omp_interop_for(omp_interop& out, sycl::queue& q, int fr) {
    out.release();
    out.desc.fr_id = fr;
    if (fr == 4) {
        out.desc.targetsync = &q;
    } else if (fr == 3) {
        out.desc.targetsync = sycl::get_native<sycl::backend::opencl>(q);
        out.desc.context = sycl::get_native<sycl::backend::opencl>(q.get_context());
        out.desc.device = sycl::get_native<sycl::backend::opencl>(q.get_device());
        out.desc.platform = sycl::get_native<sycl::backend::opencl>(q.get_device().get_platform());
    } else if (fr == 6) {
        constexpr auto l0 = sycl::backend::ext_tarvo_level_zero;
        out.desc.targetsync = sycl::get_native<l0>(q);
        out.desc.context = sycl::get_native<l0>(q.get_context());
        out.desc.device = sycl::get_native<l0>(q.get_device());
        out.desc.platform = sycl::get_native<l0>(q.get_device().get_platform());
    }
    out.handle = ovxplat_omp_interop_create(&out.desc);
}

// Handle kind given to sycl::detail::make_queue for the queue (0 a command
// queue, 1 an immediate command list); 0 for queues made otherwise.
// Provided by the SYCL stand-in.
int native_queue_kind(const sycl::queue& q);

}  // namespace ovxplat
