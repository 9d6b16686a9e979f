// Platforms, devices, contexts, device information, USM and interop.
#include "internal.hpp"

#include <ovxplat/sycl_standin.hpp>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace sycl {
inline namespace _V1 {

// ---------------------------------------------------------------- errors
namespace {
class sycl_error_category : public std::error_category {
public:
    const char* name() const noexcept override { return "sycl"; }
    std::string message(int c) const override {
        static const char* names[] = {"success",       "runtime",     "kernel",   "accessor",
                                      "nd_range",      "event",       "kernel_argument", "build",
                                      "invalid",       "memory_allocation", "platform", "profiling",
                                      "feature_not_supported", "kernel_not_supported", "backend_mismatch"};
        if (c >= 0 && c < static_cast<int>(sizeof(names) / sizeof(names[0]))) return names[c];
        return "unknown";
    }
};
}  // namespace

const std::error_category& sycl_category() noexcept {
    static const sycl_error_category cat;
    return cat;
}

exception::exception(std::error_code ec, const std::string& w) : code_(ec), what_(std::make_shared<std::string>(w)) {}
exception::exception(std::error_code ec, const char* w) : exception(ec, std::string(w ? w : "")) {}
exception::exception(std::error_code ec) : exception(ec, std::string()) {}
exception::exception(int ev, const std::error_category& cat, const std::string& w)
    : exception(std::error_code(ev, cat), w) {}
exception::exception(int ev, const std::error_category& cat, const char* w)
    : exception(std::error_code(ev, cat), w) {}
exception::exception(int ev, const std::error_category& cat) : exception(std::error_code(ev, cat)) {}
exception::~exception() = default;

namespace detail {

void throw_error(errc e, const std::string& msg) { throw sycl::exception(make_error_code(e), msg); }

std::uint64_t now_ns() {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

counters_t& counters() {
    static counters_t* c = new counters_t();
    return *c;
}

// ---------------------------------------------------------------- OpenCL
const cl_state& opencl() {
    static cl_state* st = [] {
        auto* s = new cl_state();
        cl_uint np = 0;
        if (clGetPlatformIDs(0, nullptr, &np) != CL_SUCCESS || np == 0) return s;
        std::vector<cl_platform_id> ps(np);
        clGetPlatformIDs(np, ps.data(), nullptr);
        for (auto p : ps) {
            cl_device_id d = nullptr;
            cl_uint nd = 0;
            if (clGetDeviceIDs(p, CL_DEVICE_TYPE_ALL, 1, &d, &nd) != CL_SUCCESS || nd == 0) continue;
            cl_int err = CL_SUCCESS;
            cl_context_properties props[] = {CL_CONTEXT_PLATFORM, reinterpret_cast<cl_context_properties>(p), 0};
            cl_context c = clCreateContext(props, 1, &d, nullptr, nullptr, &err);
            if (err != CL_SUCCESS || !c) continue;
            s->platform = p;
            s->device = d;
            s->context = c;
            break;
        }
        return s;
    }();
    return *st;
}

std::string cl_error_name(cl_int e) {
    switch (e) {
#define N(x) \
    case x:  \
        return #x;
        N(CL_SUCCESS) N(CL_DEVICE_NOT_FOUND) N(CL_OUT_OF_RESOURCES) N(CL_OUT_OF_HOST_MEMORY)
        N(CL_MEM_OBJECT_ALLOCATION_FAILURE) N(CL_BUILD_PROGRAM_FAILURE) N(CL_INVALID_VALUE)
        N(CL_INVALID_DEVICE) N(CL_INVALID_CONTEXT) N(CL_INVALID_COMMAND_QUEUE) N(CL_INVALID_MEM_OBJECT)
        N(CL_INVALID_PROGRAM_EXECUTABLE) N(CL_INVALID_KERNEL_NAME) N(CL_INVALID_KERNEL)
        N(CL_INVALID_ARG_INDEX) N(CL_INVALID_ARG_VALUE) N(CL_INVALID_ARG_SIZE) N(CL_INVALID_KERNEL_ARGS)
        N(CL_INVALID_WORK_DIMENSION) N(CL_INVALID_WORK_GROUP_SIZE) N(CL_INVALID_WORK_ITEM_SIZE)
        N(CL_INVALID_GLOBAL_OFFSET) N(CL_INVALID_EVENT) N(CL_INVALID_OPERATION) N(CL_INVALID_GLOBAL_WORK_SIZE)
#undef N
        default:
            return "OpenCL error";
    }
}

// ---------------------------------------------------------------- devices
backend device_impl::get_backend() const {
    if (!gpu) return backend::ext_tarvo_host;
    return profile()->backend == OVXPLAT_BACKEND_LEVEL_ZERO ? backend::ext_tarvo_level_zero : backend::opencl;
}

std::shared_ptr<platform_impl> gpu_platform() {
    static auto* p = new std::shared_ptr<platform_impl>(std::make_shared<platform_impl>(platform_impl{true}));
    return *p;
}
std::shared_ptr<platform_impl> cpu_platform() {
    static auto* p = new std::shared_ptr<platform_impl>(std::make_shared<platform_impl>(platform_impl{false}));
    return *p;
}
std::shared_ptr<device_impl> gpu_device() {
    static auto* m = new std::mutex();
    static auto* table = new std::map<const ovxplat_gpu_profile*, std::shared_ptr<device_impl>>();
    const ovxplat_gpu_profile* p = ovxplat_gpu_profile_current();
    std::lock_guard<std::mutex> lock(*m);
    auto& slot = (*table)[p];
    if (!slot) {
        slot = std::make_shared<device_impl>();
        slot->gpu = true;
        slot->prof = p;
    }
    return slot;
}
std::shared_ptr<device_impl> cpu_device() {
    static auto* d = new std::shared_ptr<device_impl>(std::make_shared<device_impl>());
    return *d;
}

namespace {
unsigned host_threads() {
    unsigned n = std::thread::hardware_concurrency();
    return n ? n : 1;
}
std::uint64_t host_memory() {
    long pages = sysconf(_SC_PHYS_PAGES), size = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || size <= 0) return 8ull << 30;
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(size);
}
std::uint32_t tiles_of(const device_impl* d) {
    if (!d->gpu || d->parent) return 1;
    std::uint32_t t = d->profile()->tile_count;
    return t ? t : 1;
}
// Share of the root device that a (sub-)device holds.
std::uint64_t share(const device_impl* d, std::uint64_t v) {
    if (!d->parent) return v;
    std::uint32_t t = d->parent->profile()->tile_count;
    return t > 1 ? v / t : v;
}
}  // namespace

std::size_t device_max_wg(const device_impl* d) { return d->gpu ? d->profile()->max_work_group_size : 4096; }
std::uint64_t device_local_mem(const device_impl* d) { return d->gpu ? d->profile()->local_mem_size : 1u << 20; }

bool device_has(const device_impl* d, aspect a) {
    if (!d->gpu) {
        switch (a) {
            case aspect::cpu: case aspect::fp64: case aspect::atomic64: case aspect::queue_profiling:
            case aspect::usm_device_allocations: case aspect::usm_host_allocations:
            case aspect::usm_shared_allocations:
                return true;
            default:
                return false;
        }
    }
    const ovxplat_gpu_profile* p = d->profile();
    switch (a) {
        case aspect::gpu: case aspect::atomic64: case aspect::queue_profiling: case aspect::online_compiler:
        case aspect::online_linker: case aspect::usm_device_allocations: case aspect::usm_host_allocations:
        case aspect::usm_shared_allocations:
            return true;
        case aspect::fp64:
            return p->fp64 != 0;
        case aspect::ext_tarvo_free_memory:
            return p->free_memory != 0;
        case aspect::ext_tarvo_gpu_hw_info:
            return p->eu_count_per_subslice != 0 && p->hw_threads_per_eu != 0 && p->slices != 0;
        default:
            return false;
    }
}

void device_get_info(const device_impl* d, int code, void* out) {
    const ovxplat_gpu_profile* p = d->profile();
    const bool g = d->gpu;
    auto set = [out](auto v) { *static_cast<decltype(v)*>(out) = v; };
    auto need = [d](aspect a) {
        if (!device_has(d, a))
            throw_error(errc::feature_not_supported, "The device does not support the requested information query");
    };
    switch (code) {
        case info::device::device_type::code:
            set(g ? info::device_type::gpu : info::device_type::cpu);
            return;
        case info::device::vendor_id::code:
            set(std::uint32_t(g ? 0x7a7fu : 0u));
            return;
        case info::device::max_compute_units::code:
            set(std::uint32_t(g ? share(d, p->max_compute_units) : host_threads()));
            return;
        case info::device::max_work_item_dimensions::code:
            set(std::uint32_t(3));
            return;
        case info::device::max_work_item_sizes<1>::code:
            set(range<1>(device_max_wg(d)));
            return;
        case info::device::max_work_item_sizes<2>::code:
            set(range<2>(device_max_wg(d), device_max_wg(d)));
            return;
        case info::device::max_work_item_sizes<3>::code:
            set(range<3>(device_max_wg(d), device_max_wg(d), device_max_wg(d)));
            return;
        case info::device::max_work_group_size::code:
            set(device_max_wg(d));
            return;
        case info::device::max_num_sub_groups::code: {
            std::size_t smallest = 1;
            if (g && p->subgroup_size_count > 0) smallest = static_cast<std::size_t>(p->subgroup_sizes[0]);
            set(std::uint32_t(device_max_wg(d) / smallest));
            return;
        }
        case info::device::sub_group_sizes::code: {
            std::vector<std::size_t> v;
            if (g)
                for (int i = 0; i < p->subgroup_size_count; ++i) v.push_back(static_cast<std::size_t>(p->subgroup_sizes[i]));
            else
                v.push_back(1);
            set(v);
            return;
        }
        case info::device::max_clock_frequency::code:
            set(std::uint32_t(g ? 1600 : 2000));
            return;
        case info::device::address_bits::code:
            set(std::uint32_t(64));
            return;
        case info::device::max_mem_alloc_size::code:
            set(std::uint64_t(g ? p->max_mem_alloc_size : host_memory() / 2));
            return;
        case info::device::max_parameter_size::code:
            set(std::size_t(2048));
            return;
        case info::device::mem_base_addr_align::code:
            set(std::uint32_t(g ? p->mem_base_addr_align : 1024));
            return;
        case info::device::global_mem_cache_line_size::code:
            set(std::uint32_t(64));
            return;
        case info::device::global_mem_cache_size::code:
            set(std::uint64_t(g ? 16u << 20 : 32u << 20));
            return;
        case info::device::global_mem_size::code:
            set(std::uint64_t(g ? share(d, p->global_mem_size) : host_memory()));
            return;
        case info::device::local_mem_type::code:
            set(g ? info::local_mem_type::local : info::local_mem_type::global);
            return;
        case info::device::local_mem_size::code:
            set(std::uint64_t(device_local_mem(d)));
            return;
        case info::device::error_correction_support::code:
            set(false);
            return;
        case info::device::is_available::code:
            set(true);
            return;
        case info::device::name::code:
            set(std::string(g ? p->device_name : "ovxplat host CPU"));
            return;
        case info::device::vendor::code:
            set(std::string(g ? p->vendor : "ovxplat"));
            return;
        case info::device::driver_version::code:
            set(std::string(g ? p->driver_version : "1.0"));
            return;
        case info::device::version::code:
            set(std::string(g && d->get_backend() == backend::ext_tarvo_level_zero ? "1.3" : "3.0"));
            return;
        case info::device::backend_version::code:
            set(std::string(g && d->get_backend() == backend::ext_tarvo_level_zero ? "1.3" : "3.0"));
            return;
        case info::device::opencl_c_version::code:
            set(std::string("OpenCL C 1.2"));
            return;
        case info::device::aspects::code: {
            std::vector<aspect> v;
            for (int a = 0; a <= 40; ++a)
                if (device_has(d, static_cast<aspect>(a))) v.push_back(static_cast<aspect>(a));
            set(v);
            return;
        }
        case info::device::extensions::code: {
            std::vector<std::string> v;
            if (g) {
                v.push_back("cl_tarvo_subgroups");
                v.push_back("cl_khr_subgroups");
                if (p->fp64) v.push_back("cl_khr_fp64");
            } else {
                v.push_back("cl_khr_fp64");
            }
            set(v);
            return;
        }
        case info::device::platform::code:
            set(platform(g ? gpu_platform() : cpu_platform()));
            return;
        case info::device::parent_device::code:
            if (!d->parent) throw_error(errc::invalid, "No parent for device because it is not a subdevice");
            set(device(d->parent));
            return;
        case info::device::partition_max_sub_devices::code: {
            std::uint32_t t = tiles_of(d);
            set(std::uint32_t(t > 1 ? t : 0));
            return;
        }
        case info::device::partition_properties::code: {
            std::vector<info::partition_property> v;
            if (tiles_of(d) > 1) v.push_back(info::partition_property::partition_by_affinity_domain);
            set(v);
            return;
        }
        case info::device::partition_affinity_domains::code: {
            std::vector<info::partition_affinity_domain> v;
            if (tiles_of(d) > 1) {
                v.push_back(info::partition_affinity_domain::numa);
                v.push_back(info::partition_affinity_domain::next_partitionable);
            }
            set(v);
            return;
        }
        case info::device::partition_type_property::code:
            set(d->parent ? info::partition_property::partition_by_affinity_domain
                          : info::partition_property::no_partition);
            return;
        case info::device::partition_type_affinity_domain::code:
            set(d->parent ? info::partition_affinity_domain::numa : info::partition_affinity_domain::not_applicable);
            return;
        case info::device::profiling_timer_resolution::code:
            set(std::size_t(1));
            return;
        case ext::tarvo::info::device::device_id::code:
            if (!g) throw_error(errc::feature_not_supported, "The device does not support the requested information query");
            set(std::uint32_t(p->device_id));
            return;
        case ext::tarvo::info::device::gpu_eu_count::code:
            need(aspect::ext_tarvo_gpu_hw_info);
            set(std::uint32_t(share(d, p->eu_count)));
            return;
        case ext::tarvo::info::device::gpu_eu_count_per_subslice::code:
            need(aspect::ext_tarvo_gpu_hw_info);
            set(std::uint32_t(p->eu_count_per_subslice));
            return;
        case ext::tarvo::info::device::gpu_hw_threads_per_eu::code:
            need(aspect::ext_tarvo_gpu_hw_info);
            set(std::uint32_t(p->hw_threads_per_eu));
            return;
        case ext::tarvo::info::device::gpu_slices::code:
            need(aspect::ext_tarvo_gpu_hw_info);
            set(std::uint32_t(share(d, p->slices) ? share(d, p->slices) : 1));
            return;
        case ext::tarvo::info::device::gpu_subslices_per_slice::code:
            need(aspect::ext_tarvo_gpu_hw_info);
            set(std::uint32_t(p->subslices_per_slice));
            return;
        case ext::tarvo::info::device::free_memory::code:
            need(aspect::ext_tarvo_free_memory);
            set(std::uint64_t(share(d, p->free_memory)));
            return;
        default:
            throw_error(errc::invalid, "Unsupported device information query");
    }
}

void platform_get_info(const platform_impl* p, int code, void* out) {
    auto set = [out](auto v) { *static_cast<decltype(v)*>(out) = v; };
    const bool l0 = p->gpu && ovxplat_gpu_profile_current()->backend == OVXPLAT_BACKEND_LEVEL_ZERO;
    switch (code) {
        case info::platform::name::code:
            set(std::string(!p->gpu ? "ovxplat Host Platform"
                            : l0    ? "Tarvo Level Zero"
                                    : "Tarvo OpenCL Graphics"));
            return;
        case info::platform::vendor::code:
            set(std::string(p->gpu ? ovxplat_gpu_profile_current()->vendor : "ovxplat"));
            return;
        case info::platform::version::code:
            set(std::string(l0 ? "1.3" : "OpenCL 3.0"));
            return;
        case info::platform::profile::code:
            set(std::string("FULL_PROFILE"));
            return;
        case info::platform::extensions::code:
            set(std::vector<std::string>());
            return;
        default:
            throw_error(errc::invalid, "Unsupported platform information query");
    }
}

context_impl::~context_impl() {
    if (native) clReleaseContext(native);
}

bool context_impl::has_device(const device_impl* d) const {
    for (auto& x : devices)
        if (x.get() == d) return true;
    // A context of a root device serves its sub-devices too.
    for (const device_impl* p = d->parent.get(); p; p = p->parent.get())
        for (auto& x : devices)
            if (x.get() == p) return true;
    return false;
}

std::shared_ptr<context_impl> default_context(const std::shared_ptr<device_impl>& d) {
    static auto* m = new std::mutex();
    static auto* table = new std::map<const device_impl*, std::shared_ptr<context_impl>>();
    std::shared_ptr<device_impl> root = d;
    while (root->parent) root = root->parent;
    std::lock_guard<std::mutex> lock(*m);
    auto& slot = (*table)[root.get()];
    if (!slot) {
        slot = std::make_shared<context_impl>();
        slot->devices.push_back(root);
        slot->platform = d->gpu ? gpu_platform() : cpu_platform();
    }
    return slot;
}

}  // namespace detail

using namespace detail;

// ---------------------------------------------------------------- selectors
int default_selector_v(const device& d) { return d.is_gpu() ? 1000 : 500; }
int gpu_selector_v(const device& d) { return d.is_gpu() ? 1000 : -1; }
int cpu_selector_v(const device& d) { return d.is_cpu() ? 1000 : -1; }
int accelerator_selector_v(const device&) { return -1; }

// ---------------------------------------------------------------- platform
platform::platform() : impl_(gpu_platform()) {}
backend platform::get_backend() const noexcept {
    if (!impl_->gpu) return backend::ext_tarvo_host;
    return gpu_device()->get_backend();
}
std::vector<device> platform::get_devices(info::device_type t) const {
    std::vector<device> r;
    auto d = impl_->gpu ? gpu_device() : cpu_device();
    bool want = t == info::device_type::all || t == info::device_type::automatic ||
                (impl_->gpu && t == info::device_type::gpu) || (!impl_->gpu && t == info::device_type::cpu);
    if (want) r.emplace_back(d);
    return r;
}
bool platform::has(aspect a) const {
    for (auto& d : get_devices())
        if (!d.has(a)) return false;
    return true;
}
bool platform::has_extension(const std::string&) const { return false; }
std::vector<platform> platform::get_platforms() { return {platform(gpu_platform()), platform(cpu_platform())}; }

// ---------------------------------------------------------------- device
device::device() : impl_(gpu_device()) {}
bool device::is_cpu() const { return !impl_->gpu; }
bool device::is_gpu() const { return impl_->gpu; }
bool device::is_accelerator() const { return false; }
platform device::get_platform() const { return platform(impl_->gpu ? gpu_platform() : cpu_platform()); }
backend device::get_backend() const noexcept { return impl_->get_backend(); }
bool device::has(aspect a) const { return device_has(impl_.get(), a); }
bool device::has_extension(const std::string& e) const {
    for (auto& x : get_info<info::device::extensions>())
        if (x == e) return true;
    return false;
}
std::vector<device> device::get_devices(info::device_type t) {
    std::vector<device> r;
    for (auto& p : platform::get_platforms())
        for (auto& d : p.get_devices(t)) r.push_back(d);
    return r;
}
device device::select(const std::function<int(const device&)>& s) {
    device best(gpu_device());
    int score = -1;
    for (auto& d : get_devices()) {
        int v = s(d);
        if (v > score) {
            score = v;
            best = d;
        }
    }
    if (score < 0) throw_error(errc::runtime, "No device of requested type available.");
    return best;
}
std::vector<device> device::partition_by_affinity(info::partition_affinity_domain dom) const {
    if (dom != info::partition_affinity_domain::numa && dom != info::partition_affinity_domain::next_partitionable)
        throw_error(errc::feature_not_supported, "Device does not support the requested affinity domain");
    std::uint32_t t = tiles_of(impl_.get());
    if (t < 2) throw_error(errc::feature_not_supported, "Device does not support partition_by_affinity_domain");
    std::lock_guard<std::mutex> lock(impl_->sub_mutex);
    if (impl_->subs_tiles != t) {
        impl_->subs.clear();
        for (std::uint32_t i = 0; i < t; ++i) {
            auto s = std::make_shared<device_impl>();
            s->gpu = true;
            s->prof = impl_->profile();
            s->parent = impl_;
            s->tile = static_cast<int>(i);
            impl_->subs.push_back(s);
        }
        impl_->subs_tiles = t;
    }
    std::vector<device> r;
    for (auto& s : impl_->subs) r.emplace_back(s);
    return r;
}
std::vector<device> device::partition_equally(std::size_t) const {
    throw_error(errc::feature_not_supported, "Device does not support partition_equally");
}

// ---------------------------------------------------------------- context
namespace {
std::shared_ptr<context_impl> new_context(const std::vector<device>& ds, async_handler h) {
    if (ds.empty()) throw_error(errc::invalid, "Cannot create a context without devices");
    auto c = std::make_shared<context_impl>();
    for (auto& d : ds) {
        if (d.impl()->gpu != ds[0].impl()->gpu)
            throw_error(errc::invalid, "Can't add devices across platforms to a single context.");
        c->devices.push_back(d.impl());
    }
    c->platform = ds[0].impl()->gpu ? gpu_platform() : cpu_platform();
    c->handler = std::move(h);
    return c;
}
}  // namespace

context::context(const property_list&) : impl_(default_context(gpu_device())) {}
context::context(async_handler h, const property_list&) : impl_(new_context({device()}, std::move(h))) {}
context::context(const device& d, const property_list&) : impl_(new_context({d}, {})) {}
context::context(const device& d, async_handler h, const property_list&) : impl_(new_context({d}, std::move(h))) {}
context::context(const std::vector<device>& ds, const property_list&) : impl_(new_context(ds, {})) {}
context::context(const std::vector<device>& ds, async_handler h, const property_list&)
    : impl_(new_context(ds, std::move(h))) {}
backend context::get_backend() const noexcept {
    return impl_->devices.empty() ? backend::opencl : impl_->devices[0]->get_backend();
}
platform context::get_platform() const { return platform(impl_->platform); }
std::vector<device> context::get_devices() const {
    std::vector<device> r;
    for (auto& d : impl_->devices) r.emplace_back(d);
    return r;
}

// ---------------------------------------------------------------- USM
namespace detail {
namespace {
struct usm_record {
    std::size_t bytes;
    usm::alloc kind;
    const context_impl* ctx;
    std::shared_ptr<device_impl> dev;
    bool svm;
    // Native identity of the allocating context, so that a context made from
    // the same native context by detail::make_context sees the allocation.
    std::uintptr_t native_id;
    backend native_backend;
    bool from_native;
};
std::mutex& usm_mutex() {
    static auto* m = new std::mutex();
    return *m;
}
std::map<std::uintptr_t, usm_record>& usm_table() {
    static auto* t = new std::map<std::uintptr_t, usm_record>();
    return *t;
}
}  // namespace

namespace {
// Blocks whose alignment exceeds what the OpenCL runtime offers are cut from
// a larger block; the table maps them back to the block to free.
std::mutex& overaligned_mutex() {
    static auto* m = new std::mutex();
    return *m;
}
std::map<void*, void*>& overaligned() {
    static auto* t = new std::map<void*, void*>();
    return *t;
}
constexpr std::size_t native_align = 128;
void* raw_alloc(std::size_t bytes, std::size_t align) {
    const cl_state& cl = opencl();
    if (cl.context)
        return clSVMAlloc(cl.context, CL_MEM_READ_WRITE | CL_MEM_SVM_FINE_GRAIN_BUFFER, bytes,
                          static_cast<cl_uint>(align));
    void* p = nullptr;
    if (posix_memalign(&p, align, bytes) != 0) return nullptr;
    return p;
}
void raw_free(void* p) {
    const cl_state& cl = opencl();
    if (cl.context)
        clSVMFree(cl.context, p);
    else
        std::free(p);
}
}  // namespace

void* svm_alloc(std::size_t bytes, std::size_t align) {
    if (bytes == 0) return nullptr;
    if (align <= native_align) return raw_alloc(bytes, native_align);
    if (bytes + align < bytes) return nullptr;
    void* base = raw_alloc(bytes + align, native_align);
    if (!base) return nullptr;
    auto a = (reinterpret_cast<std::uintptr_t>(base) + align - 1) / align * align;
    void* p = reinterpret_cast<void*>(a);
    std::lock_guard<std::mutex> lock(overaligned_mutex());
    overaligned()[p] = base;
    return p;
}

void svm_free(void* p) {
    if (!p) return;
    {
        std::lock_guard<std::mutex> lock(overaligned_mutex());
        auto it = overaligned().find(p);
        if (it != overaligned().end()) {
            p = it->second;
            overaligned().erase(it);
        }
    }
    raw_free(p);
}

namespace {
// The native context a context stands for: its own handle when it was made
// from one, else the process's OpenCL context (OpenCL) or its own address
// (Level Zero, as native_of reports it).
backend context_backend(const context_impl& c) {
    return c.devices.empty() ? backend::opencl : c.devices[0]->get_backend();
}
std::uintptr_t native_identity(const context_impl& c) {
    if (context_backend(c) == backend::ext_tarvo_level_zero)
        return c.l0_handle ? c.l0_handle : reinterpret_cast<std::uintptr_t>(&c);
    return reinterpret_cast<std::uintptr_t>(c.native ? c.native : opencl().context);
}
bool made_from_native(const context_impl& c) { return c.native != nullptr || c.l0_handle != 0; }

void* usm_alloc(std::size_t align, std::size_t bytes, const std::shared_ptr<device_impl>& dev,
                const std::shared_ptr<context_impl>& ctx, usm::alloc kind) {
    if (bytes == 0) return nullptr;
    if (align && (align & (align - 1))) return nullptr;
    if (dev && !ctx->has_device(dev.get()))
        throw_error(errc::invalid, "Specified device is not contained by specified context.");
    if (dev && kind != usm::alloc::host) {
        std::uint64_t limit = 0;
        device_get_info(dev.get(), info::device::max_mem_alloc_size::code, &limit);
        if (bytes > limit) return nullptr;
    }
    void* p = svm_alloc(bytes, align);
    if (!p) return nullptr;
    {
        std::lock_guard<std::mutex> lock(usm_mutex());
        usm_table()[reinterpret_cast<std::uintptr_t>(p)] =
            usm_record{bytes, kind, ctx.get(), dev, true, native_identity(*ctx), context_backend(*ctx),
                       made_from_native(*ctx)};
    }
    counters().usm_live++;
    counters().usm_bytes += bytes;
    return p;
}
const usm_record* find_usm(const void* ptr, std::uintptr_t* base) {
    auto& t = usm_table();
    auto a = reinterpret_cast<std::uintptr_t>(ptr);
    auto it = t.upper_bound(a);
    if (it == t.begin()) return nullptr;
    --it;
    if (a >= it->first + it->second.bytes) return nullptr;
    if (base) *base = it->first;
    return &it->second;
}
}  // namespace
}  // namespace detail

void* malloc_device(std::size_t bytes, const device& d, const context& c, const property_list&,
                    const detail::code_location&) {
    return usm_alloc(0, bytes, d.impl(), c.impl(), usm::alloc::device);
}
void* malloc_device(std::size_t bytes, const queue& q, const property_list& p, const detail::code_location& l) {
    return malloc_device(bytes, q.get_device(), q.get_context(), p, l);
}
void* malloc_shared(std::size_t bytes, const device& d, const context& c, const property_list&,
                    const detail::code_location&) {
    return usm_alloc(0, bytes, d.impl(), c.impl(), usm::alloc::shared);
}
void* malloc_shared(std::size_t bytes, const queue& q, const property_list& p, const detail::code_location& l) {
    return malloc_shared(bytes, q.get_device(), q.get_context(), p, l);
}
void* malloc_host(std::size_t bytes, const context& c, const property_list&, const detail::code_location&) {
    return usm_alloc(0, bytes, nullptr, c.impl(), usm::alloc::host);
}
void* malloc_host(std::size_t bytes, const queue& q, const property_list& p, const detail::code_location& l) {
    return malloc_host(bytes, q.get_context(), p, l);
}
void* malloc(std::size_t bytes, const device& d, const context& c, usm::alloc kind, const property_list& p,
             const detail::code_location& l) {
    switch (kind) {
        case usm::alloc::device:
            return malloc_device(bytes, d, c, p, l);
        case usm::alloc::shared:
            return malloc_shared(bytes, d, c, p, l);
        case usm::alloc::host:
            return malloc_host(bytes, c, p, l);
        default:
            return nullptr;
    }
}
void* malloc(std::size_t bytes, const queue& q, usm::alloc kind, const property_list& p,
             const detail::code_location& l) {
    return malloc(bytes, q.get_device(), q.get_context(), kind, p, l);
}
void* aligned_alloc_device(std::size_t a, std::size_t bytes, const device& d, const context& c,
                           const property_list&, const detail::code_location&) {
    return usm_alloc(a, bytes, d.impl(), c.impl(), usm::alloc::device);
}
void* aligned_alloc_device(std::size_t a, std::size_t bytes, const queue& q, const property_list& p,
                           const detail::code_location& l) {
    return aligned_alloc_device(a, bytes, q.get_device(), q.get_context(), p, l);
}
void* aligned_alloc_shared(std::size_t a, std::size_t bytes, const device& d, const context& c,
                           const property_list&, const detail::code_location&) {
    return usm_alloc(a, bytes, d.impl(), c.impl(), usm::alloc::shared);
}
void* aligned_alloc_shared(std::size_t a, std::size_t bytes, const queue& q, const property_list& p,
                           const detail::code_location& l) {
    return aligned_alloc_shared(a, bytes, q.get_device(), q.get_context(), p, l);
}
void* aligned_alloc_host(std::size_t a, std::size_t bytes, const context& c, const property_list&,
                         const detail::code_location&) {
    return usm_alloc(a, bytes, nullptr, c.impl(), usm::alloc::host);
}
void* aligned_alloc_host(std::size_t a, std::size_t bytes, const queue& q, const property_list& p,
                         const detail::code_location& l) {
    return aligned_alloc_host(a, bytes, q.get_context(), p, l);
}

void free(void* ptr, const context&, const detail::code_location&) {
    if (!ptr) return;
    std::size_t bytes = 0;
    {
        std::lock_guard<std::mutex> lock(usm_mutex());
        auto& t = usm_table();
        auto it = t.find(reinterpret_cast<std::uintptr_t>(ptr));
        if (it == t.end()) throw_error(errc::invalid, "sycl::free: the pointer was not allocated by a sycl::malloc function");
        bytes = it->second.bytes;
        t.erase(it);
    }
    counters().usm_live--;
    counters().usm_bytes -= bytes;
    svm_free(ptr);
}
void free(void* ptr, const queue& q, const detail::code_location& l) { free(ptr, q.get_context(), l); }

usm::alloc get_pointer_type(const void* ptr, const context& c) {
    if (!ptr) return usm::alloc::unknown;
    std::lock_guard<std::mutex> lock(usm_mutex());
    const usm_record* r = find_usm(ptr, nullptr);
    if (!r) return usm::alloc::unknown;
    if (r->ctx == c.impl().get()) return r->kind;
    const context_impl& other = *c.impl();
    if ((r->from_native || made_from_native(other)) && r->native_backend == context_backend(other) &&
        r->native_id == native_identity(other))
        return r->kind;
    return usm::alloc::unknown;
}

device get_pointer_device(const void* ptr, const context& c) {
    std::lock_guard<std::mutex> lock(usm_mutex());
    const usm_record* r = find_usm(ptr, nullptr);
    if (!r || r->ctx != c.impl().get())
        throw_error(errc::invalid, "The pointer was not allocated in the given context");
    if (r->kind == usm::alloc::host) return device(c.impl()->devices.front());
    return device(r->dev);
}

// ---------------------------------------------------------------- interop
namespace detail {

void* native_of(const void* impl, char kind, backend b) {
    const cl_state& cl = opencl();
    if (b == backend::ext_tarvo_level_zero) {
        switch (kind) {
            case 'c': {
                auto* c = static_cast<const context_impl*>(impl);
                return c->l0_handle ? reinterpret_cast<void*>(c->l0_handle) : const_cast<void*>(impl);
            }
            case 'q': {
                auto* q = static_cast<const queue_impl*>(impl);
                return q->l0_handle ? reinterpret_cast<void*>(q->l0_handle) : const_cast<void*>(impl);
            }
            case 'e': {
                auto* e = static_cast<const event_impl*>(impl);
                return e && e->l0_token ? reinterpret_cast<void*>(e->l0_token) : const_cast<void*>(impl);
            }
            default:
                // Devices and platforms: the object's own address, distinct per sub-device.
                return const_cast<void*>(impl);
        }
    }
    if (b != backend::opencl) throw_error(errc::backend_mismatch, "Backends mismatch");
    if (!cl.context) throw_error(errc::platform, "No OpenCL device is available");
    switch (kind) {
        case 'p':
            return cl.platform;
        case 'd':
            return cl.device;
        case 'c': {
            auto* c = static_cast<const context_impl*>(impl);
            cl_context n = c->native ? c->native : cl.context;
            clRetainContext(n);
            return n;
        }
        case 'q': {
            auto* q = const_cast<queue_impl*>(static_cast<const queue_impl*>(impl));
            std::lock_guard<std::mutex> lock(q->native_mutex);
            if (!q->native) {
                cl_int err = CL_SUCCESS;
                cl_queue_properties props[] = {
                    CL_QUEUE_PROPERTIES,
                    static_cast<cl_queue_properties>((q->in_order ? 0 : CL_QUEUE_OUT_OF_ORDER_EXEC_MODE_ENABLE) |
                                                     (q->profiling ? CL_QUEUE_PROFILING_ENABLE : 0)),
                    0};
                cl_context n = q->ctx->native ? q->ctx->native : cl.context;
                q->native = clCreateCommandQueueWithProperties(n, cl.device, props, &err);
                if (err != CL_SUCCESS)
                    throw_error(errc::runtime, "OpenCL error " + std::to_string(err) + " creating a command queue");
            }
            clRetainCommandQueue(q->native);
            return q->native;
        }
        case 'k': {
            auto* k = static_cast<const kernel_impl*>(impl);
            if (!k->k) throw_error(errc::invalid, "The kernel has no OpenCL handle");
            clRetainKernel(k->k);
            return k->k;
        }
        default:
            throw_error(errc::invalid, "No native handle for this object");
    }
}

device make_device_from(backend b, pi_native_handle h) {
    if (b == backend::ext_tarvo_level_zero) {
        auto root = gpu_device();
        if (h == reinterpret_cast<pi_native_handle>(root.get())) return device(root);
        std::lock_guard<std::mutex> lock(root->sub_mutex);
        for (auto& s : root->subs)
            if (h == reinterpret_cast<pi_native_handle>(s.get())) return device(s);
        throw_error(errc::invalid, "Native device isn't exposed to SYCL.");
    }
    if (b != backend::opencl) throw_error(errc::backend_mismatch, "Backends mismatch");
    if (!opencl().device || reinterpret_cast<cl_device_id>(h) != opencl().device)
        throw_error(errc::invalid, "Native device isn't exposed to SYCL.");
    return device(gpu_device());
}

platform make_platform_from(backend b, pi_native_handle h) {
    if (b == backend::opencl && opencl().platform && reinterpret_cast<cl_platform_id>(h) == opencl().platform)
        return platform(gpu_platform());
    if (b == backend::ext_tarvo_level_zero) return platform(gpu_platform());
    throw_error(errc::invalid, "Native platform isn't exposed to SYCL.");
}

context make_context(pi_native_handle handle, const async_handler& handler, backend b, bool,
                     const std::vector<device>& devices) {
    auto c = std::make_shared<context_impl>();
    c->handler = handler;
    c->platform = gpu_platform();
    if (b == backend::opencl) {
        auto n = reinterpret_cast<cl_context>(handle);
        if (!n) throw_error(errc::invalid, "Invalid native OpenCL context handle");
        cl_uint nd = 0;
        cl_int err = clGetContextInfo(n, CL_CONTEXT_NUM_DEVICES, sizeof(nd), &nd, nullptr);
        if (err != CL_SUCCESS) throw_error(errc::invalid, "OpenCL error " + std::to_string(err) + " reading the context");
        std::vector<cl_device_id> ids(nd);
        clGetContextInfo(n, CL_CONTEXT_DEVICES, nd * sizeof(cl_device_id), ids.data(), nullptr);
        bool ours = false;
        for (auto id : ids) ours = ours || id == opencl().device;
        if (!ours) throw_error(errc::invalid, "Native context's devices aren't exposed to SYCL.");
        clRetainContext(n);
        c->native = n;
        c->native_backend = backend::opencl;
        if (devices.empty())
            c->devices.push_back(gpu_device());
        else
            for (auto& d : devices) c->devices.push_back(d.impl());
        return context(c);
    }
    if (b == backend::ext_tarvo_level_zero) {
        if (devices.empty()) throw_error(errc::invalid, "A Level Zero context needs its devices");
        for (auto& d : devices) {
            if (!d.is_gpu()) throw_error(errc::invalid, "Level Zero contexts hold GPU devices only");
            c->devices.push_back(d.impl());
        }
        c->native_backend = b;
        c->l0_handle = handle;
        return context(c);
    }
    throw_error(errc::backend_mismatch, "Backends mismatch");
}

namespace {
// Handle kinds given to make_queue, by queue; weak so that a reused address
// of a destroyed queue is not taken for it.
std::mutex& queue_kind_mutex() {
    static auto* m = new std::mutex();
    return *m;
}
std::map<const queue_impl*, std::pair<std::weak_ptr<queue_impl>, int>>& queue_kinds() {
    static auto* t = new std::map<const queue_impl*, std::pair<std::weak_ptr<queue_impl>, int>>();
    return *t;
}
queue remember_kind(queue q, int32_t handle_type) {
    std::lock_guard<std::mutex> lock(queue_kind_mutex());
    auto& t = queue_kinds();
    for (auto it = t.begin(); it != t.end();) it = it->second.first.expired() ? t.erase(it) : std::next(it);
    t[q.impl().get()] = {q.impl(), handle_type};
    return q;
}
}  // namespace

static queue make_queue_impl(pi_native_handle handle, const context& ctx, const device* dev, bool,
                             const property_list& props, const async_handler& handler, backend b);

queue make_queue(pi_native_handle handle, int32_t handle_type, const context& ctx, const device* dev, bool keep,
                 const property_list& props, const async_handler& handler, backend b) {
    return remember_kind(make_queue_impl(handle, ctx, dev, keep, props, handler, b), handle_type);
}

static queue make_queue_impl(pi_native_handle handle, const context& ctx, const device* dev, bool,
                             const property_list& props, const async_handler& handler, backend b) {
    device d = dev ? *dev : ctx.get_devices().front();
    if (b == backend::opencl) {
        auto n = reinterpret_cast<cl_command_queue>(handle);
        cl_command_queue_properties qp = 0;
        cl_int err = clGetCommandQueueInfo(n, CL_QUEUE_PROPERTIES, sizeof(qp), &qp, nullptr);
        if (err != CL_SUCCESS) throw_error(errc::invalid, "OpenCL error " + std::to_string(err) + " reading the queue");
        const bool in_order = (qp & CL_QUEUE_OUT_OF_ORDER_EXEC_MODE_ENABLE) == 0;
        const bool prof = (qp & CL_QUEUE_PROFILING_ENABLE) != 0 || props.has_property<property::queue::enable_profiling>();
        property_list pl = in_order && prof ? property_list{property::queue::in_order{}, property::queue::enable_profiling{}}
                           : in_order       ? property_list{property::queue::in_order{}}
                           : prof           ? property_list{property::queue::enable_profiling{}}
                                            : property_list{};
        queue q(ctx, d, handler, pl);
        clRetainCommandQueue(n);
        std::lock_guard<std::mutex> lock(q.impl()->native_mutex);
        q.impl()->native = n;
        q.impl()->native_given = true;
        return q;
    }
    if (b == backend::ext_tarvo_level_zero) {
        queue q(ctx, d, handler, props);
        q.impl()->l0_handle = handle;
        return q;
    }
    throw_error(errc::backend_mismatch, "Backends mismatch");
}

kernel make_kernel_from(backend b, pi_native_handle h, const context& c) {
    if (b != backend::opencl) throw_error(errc::backend_mismatch, "Backends mismatch");
    auto k = reinterpret_cast<cl_kernel>(h);
    if (!k) throw_error(errc::invalid, "Invalid native OpenCL kernel handle");
    cl_int err = clRetainKernel(k);
    if (err != CL_SUCCESS) throw_error(errc::invalid, "OpenCL error " + std::to_string(err) + " retaining the kernel");
    auto ki = std::make_shared<kernel_impl>();
    ki->k = k;
    ki->ctx = c.impl();
    bind_opencl_entries(ki.get());
    return kernel(ki);
}

}  // namespace detail

}  // namespace _V1
}  // namespace sycl

namespace ovxplat {
int native_queue_kind(const sycl::queue& q) {
    using namespace sycl::detail;
    std::lock_guard<std::mutex> lock(queue_kind_mutex());
    auto it = queue_kinds().find(q.impl().get());
    if (it == queue_kinds().end() || it->second.first.lock() != q.impl()) return 0;
    return it->second.second;
}
}  // namespace ovxplat
