// Per-device records and the device queries of the runtime layer.
#include "gpu/ovx_gpu_device.hpp"

#include <new>
#include <vector>

#include <ovx_serv.h>

#include "gpu/ovx_gpu_native.hpp"
#include "gpu/ovx_sycl_ext.hpp"
#include "gpu/ovx_gpu_testing.hpp"
#include "vasm/vasm_probe_driver.hpp"

namespace korami {
namespace ovx {
namespace gpu {

namespace {

volatile int32_t table_lock = 0;
std::vector<device_record*>* records = nullptr;  // made on first use
bool cleanup_registered = false;

void free_device_records() {
    ovx_serv_lock(&table_lock);
    std::vector<device_record*>* t = records;
    records = nullptr;
    cleanup_registered = false;
    ovx_serv_unlock(&table_lock);
    if (t == nullptr) return;
    for (device_record* r : *t) delete r;
    delete t;
}

// Each query stands alone: a device that cannot answer one keeps the
// neutral value of that field.
template <typename F>
void query(F&& f) {
    try {
        f();
    } catch (const std::exception&) {
    }
}

int backend_code(const sycl::device& d) {
    if (d.get_backend() == sycl::backend::opencl) return 0;
    if (sycl_ext::is_level_zero(d)) return 1;
    return -1;
}

void read_device_facts(device_record& r) {
    const sycl::device& d = r.device;
    query([&] { r.name = d.get_info<sycl::info::device::name>(); });
    query([&] { r.backend = backend_code(d); });
    query([&] { r.is_gpu = d.is_gpu(); });
    query([&] { r.fp64 = d.has(sycl::aspect::fp64); });
    query([&] {
        auto n = d.get_info<sycl::info::device::partition_max_sub_devices>();
        r.tile_count = n > 0 ? static_cast<int>(n) : 1;
    });
    query([&] {
        r.max_work_group_size =
            static_cast<int64_t>(d.get_info<sycl::info::device::max_work_group_size>());
    });
    query([&] {
        if (sycl_ext::has_gpu_hw_info(d))
            r.eu_count = static_cast<int>(sycl_ext::gpu_eu_count(d));
        else
            r.eu_count = static_cast<int>(d.get_info<sycl::info::device::max_compute_units>());
    });
    query([&] {
        if (r.is_gpu) r.device_id = sycl_ext::gpu_device_id(d);
    });
    device_facts& f = r.facts;
    f.backend = r.backend;
    f.tiles = r.tile_count;
    f.max_work_group = r.max_work_group_size;
    f.eu_count = r.eu_count;
    query([&] {
        int64_t least = 0;
        for (size_t v : d.get_info<sycl::info::device::sub_group_sizes>()) {
            if (least == 0 || static_cast<int64_t>(v) < least) least = static_cast<int64_t>(v);
            if (v == 8) f.sub_group8 = true;
        }
        f.min_sub_group = least;
    });
    query([&] { f.local_mem = static_cast<int64_t>(d.get_info<sycl::info::device::local_mem_size>()); });
    query([&] { f.align_bytes = d.get_info<sycl::info::device::mem_base_addr_align>() / 8; });
    query([&] { f.compute_units = static_cast<int64_t>(d.get_info<sycl::info::device::max_compute_units>()); });
    query([&] { f.global_mem = d.get_info<sycl::info::device::global_mem_size>(); });
    query([&] { f.max_alloc = d.get_info<sycl::info::device::max_mem_alloc_size>(); });
    query([&] { f.driver = d.get_info<sycl::info::device::driver_version>(); });
    query([&] {
        if (!sycl_ext::has_gpu_hw_info(d)) return;
        f.eus_per_subslice = sycl_ext::gpu_eu_count_per_subslice(d);
        f.threads_per_eu = sycl_ext::gpu_hw_threads_per_eu(d);
        f.slices = sycl_ext::gpu_slices(d);
        f.subslices_per_slice = sycl_ext::gpu_subslices_per_slice(d);
        f.hw_info = true;
    });
}

// Second way to the generation when the device id is not recognised: the
// compatibility note of the GPU binary that the driver builds for a small
// kernel. Needs the device's OpenCL interface; 0 when there is none.
ovx_gpu_arch_t detect_generation_fallback(device_record* record, sycl::queue* queue) {
    if (queue == nullptr || record->backend != 0) return OVX_GPU_ARCH_UNKNOWN;
    const ocl::entries* cl = ocl::load(nullptr);
    if (cl == nullptr) return OVX_GPU_ARCH_UNKNOWN;
    native_handles h;
    if (!get_natives(h, cl, queue).empty()) return OVX_GPU_ARCH_UNKNOWN;
    ovx_gpu_arch_t arch = vasm::detect_arch_from_compat_note(h.context, h.device);
    return arch >= OVX_GPU_ARCH_QUEN1 && arch <= OVX_GPU_ARCH_QUEN8 ? arch : OVX_GPU_ARCH_UNKNOWN;
}

}  // namespace

ovx_gpu_arch_t architecture_from_device_id(uint32_t device_id) {
    // Device ids 0x7g00 to 0x7gff belong to generation Quen g.
    uint32_t family = device_id >> 8;
    if (family >= 0x71 && family <= 0x78) return static_cast<ovx_gpu_arch_t>(family - 0x70);
    return OVX_GPU_ARCH_UNKNOWN;
}

device_record* get_device_record(int* status, const sycl::device& device) {
    bool register_cleanup = false;
    device_record* found = nullptr;
    bool failed = false;
    ovx_serv_lock(&table_lock);
    try {
        if (records == nullptr) {
            records = new std::vector<device_record*>();
            if (!cleanup_registered) {
                cleanup_registered = true;
                register_cleanup = true;
            }
        }
        for (device_record* r : *records) {
            if (r->device == device) {
                found = r;
                break;
            }
        }
        if (found == nullptr) {
            records->reserve(records->size() + 1);
            device_record* r = new device_record(device);
            r->index = static_cast<int>(records->size());
            read_device_facts(*r);
            if (r->is_gpu) {
                r->gpu_index = 0;
                for (device_record* other : *records)
                    if (other->is_gpu) ++r->gpu_index;
            }
            records->push_back(r);  // cannot throw after reserve
            found = r;
        }
    } catch (const std::exception&) {
        failed = true;
    }
    ovx_serv_unlock(&table_lock);
    // Registered outside the table lock: a registry overflow ends the process,
    // which runs the cleanups, this table's included.
    if (register_cleanup) ovx_gpu_register_cleanup(free_device_records);
    if (failed || found == nullptr) {
        if (status != nullptr) *status = 1;
        return nullptr;
    }
    return found;
}

device_record* get_device_record(int* status, sycl::queue* queue) {
    if (queue == nullptr) {
        if (status != nullptr) *status = 1;
        return nullptr;
    }
    sycl::device d;
    try {
        d = queue->get_device();
    } catch (const std::exception&) {
        if (status != nullptr) *status = 1;
        return nullptr;
    }
    return get_device_record(status, d);
}

ovx_gpu_arch_t record_architecture(device_record* record, sycl::queue* queue) {
    if (record->arch_detected.load(std::memory_order_acquire)) return record->arch;
    lock_hold hold(&record->lock);
    if (!record->arch_detected.load(std::memory_order_relaxed)) {
        ovx_gpu_arch_t arch = architecture_from_device_id(record->device_id);
        if (arch == OVX_GPU_ARCH_UNKNOWN && record->is_gpu) arch = detect_generation_fallback(record, queue);
        record->arch = arch;
        record->arch_detected.store(true, std::memory_order_release);
    }
    return record->arch;
}

ovx_gpu_arch_t get_architecture(int* status, sycl::queue* queue) {
    device_record* r = get_device_record(status, queue);
    if (r == nullptr) return OVX_GPU_ARCH_UNKNOWN;
    return record_architecture(r, queue);
}

int get_tile_count(sycl::queue* queue) {
    device_record* r = get_device_record(nullptr, queue);
    return r == nullptr ? 1 : r->tile_count;
}

int get_eu_count(sycl::queue* queue) {
    device_record* r = get_device_record(nullptr, queue);
    return r == nullptr ? 0 : r->eu_count;
}

int64_t ovx_gpu_get_max_workgroup_size(sycl::queue* queue) {
    device_record* r = get_device_record(nullptr, queue);
    return r == nullptr ? 0 : r->max_work_group_size;
}

bool get_device_facts(int* status, sycl::queue* queue, device_facts* facts) {
    device_record* r = get_device_record(status, queue);
    if (r == nullptr || facts == nullptr) {
        if (r != nullptr && status != nullptr) *status = 1;
        return false;
    }
    int arch_status = 0;
    const ovx_gpu_arch_t arch = get_architecture(&arch_status, queue);
    *facts = r->facts;
    facts->generation = arch;
    facts->generation_known = arch_status == 0;
    return true;
}

int get_device_backend(sycl::queue* queue) {
    device_record* r = get_device_record(nullptr, queue);
    return r == nullptr ? -1 : r->backend;
}

int device_record_count() {
    ovx_serv_lock(&table_lock);
    int n = records == nullptr ? 0 : static_cast<int>(records->size());
    ovx_serv_unlock(&table_lock);
    return n;
}

}  // namespace gpu
}  // namespace ovx
}  // namespace korami
