// Verbose reporting of GPU calls. The nesting depth is per thread, so that a
// call made inside another reported call (a sub-transform, for instance)
// prints nothing of its own.
#include <ovx_serv.h>

#include "gpu/ovx_gpu.hpp"
#include "gpu/ovx_gpu_device.hpp"

namespace korami {
namespace ovx {
namespace gpu {

namespace {

thread_local int depth = 0;
volatile int32_t verbose_lock = 0;  // keeps the lines of one call together

const char* backend_name(int backend) {
    switch (backend) {
        case 0: return "OpenCL";
        case 1: return "Level Zero";
        default: return "Unknown";
    }
}

}  // namespace

void verbose_depth_inc() { ++depth; }

void verbose_depth_dec() { --depth; }

int verbose_depth() { return depth; }

void print_verbose_gpu_info(sycl::queue* queue, const char* text, double seconds) {
    if (depth != 0) return;
    const int* mode = ovx_serv_verbose_mode();
    if (mode == nullptr || *mode == 0) return;
    device_record* r = queue != nullptr ? get_device_record(nullptr, queue) : nullptr;
    ovx_serv_lock(&verbose_lock);
    if (r != nullptr && r->is_gpu && !r->verbose_reported) {
        r->verbose_reported = true;
        ovx_serv_file_format_print(
            0, "OVX_VERBOSE Detected GPU%d %s Backend:%s VE:%d Stack:%d maxWGsize:%d\n", r->gpu_index,
            r->name.c_str(), backend_name(r->backend), r->eu_count, r->tile_count,
            static_cast<int>(r->max_work_group_size));
    }
    ovx_serv_print_verbose_info(0, text != nullptr ? text : "", seconds);
    ovx_serv_unlock(&verbose_lock);
}

}  // namespace gpu
}  // namespace ovx
}  // namespace korami
