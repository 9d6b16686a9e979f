// Per-device records of the runtime layer.
//
// A record is made lazily for each SYCL device the library meets, under the
// table's lock, and lives until the library unloads. Its fixed facts (name,
// backend, tile and EU counts, work-group limit, fp64) are read once when the
// record is made; the GPU generation is detected once, on first demand, under
// the record's own lock. The record also holds the once-per-device verbose
// mark and the binary-kernel verdict of the device.
#ifndef OVX_GPU_OVX_GPU_DEVICE_HPP
#define OVX_GPU_OVX_GPU_DEVICE_HPP

#include <stdint.h>

#include <atomic>
#include <string>

#include "gpu/ovx_gpu.hpp"

namespace korami {
namespace ovx {
namespace gpu {

struct device_record {
    sycl::device device;
    int index = 0;                  // order in which the library met the device
    int gpu_index = -1;             // order among the GPUs, -1 for other devices
    std::string name;
    int backend = -1;               // 0 OpenCL, 1 Level Zero, -1 other
    bool is_gpu = false;
    bool fp64 = false;
    int tile_count = 1;             // sub-devices by partition, at least 1
    int eu_count = 0;
    int64_t max_work_group_size = 0;
    uint32_t device_id = 0;         // PCI device id, 0 when not reported
    // The planners' facts (get_device_facts); its generation fields are
    // filled from `arch` once that is detected.
    device_facts facts;

    // Taken while detecting the generation and while checking binary kernels.
    volatile int32_t lock = 0;

    std::atomic<bool> arch_detected{false};
    ovx_gpu_arch_t arch = OVX_GPU_ARCH_UNKNOWN;

    // Verdict on hand-made GPU binaries (have_binary_kernels): -1 not checked
// yet, 0 no, 1 yes.
    std::atomic<int> binary_kernels{-1};

    // Set once the "Detected GPU" verbose line was printed for the device.
    bool verbose_reported = false;

    explicit device_record(const sycl::device& d) : device(d) {}
};

// The record of `device`, made on first use. Null with *status non-zero (when
// status is not null) when the record cannot be made.
device_record* get_device_record(int* status, const sycl::device& device);

// The record of the queue's device; null with *status non-zero for a null
// queue or when the record cannot be made.
device_record* get_device_record(int* status, sycl::queue* queue);

// The generation of the record's device, detecting it on the first call
// (`queue`, on that device, serves the fallback detection through a built
// kernel; it may be null).
ovx_gpu_arch_t record_architecture(device_record* record, sycl::queue* queue);

// True when the Level Zero driver is present and initialised.
bool level_zero_available();

// Generation for a PCI device id, 0 when the id is not recognised.
ovx_gpu_arch_t architecture_from_device_id(uint32_t device_id);

}  // namespace gpu
}  // namespace ovx
}  // namespace korami

#endif
