// Platforms, devices, contexts, events and kernels of the SYCL stand-in.
#pragma once

#include "core.hpp"

#include <optional>

namespace sycl {
inline namespace _V1 {

namespace detail {
// Information queries are answered by the runtime through one entry per
// object kind; `out` points to a value of the descriptor's return type.
OVXPLAT_SYCL_EXPORT void device_get_info(const device_impl*, int code, void* out);
OVXPLAT_SYCL_EXPORT void platform_get_info(const platform_impl*, int code, void* out);
OVXPLAT_SYCL_EXPORT void kernel_device_info(const kernel_impl*, const device_impl*, int code, void* out);
}  // namespace detail

#define OVXPLAT_INFO(NAME, CODE, ...)          \
    struct NAME {                              \
        using return_type = __VA_ARGS__;       \
        static constexpr int code = CODE;      \
    };

namespace info {
namespace device {
OVXPLAT_INFO(device_type, 1, sycl::info::device_type)
OVXPLAT_INFO(vendor_id, 2, std::uint32_t)
OVXPLAT_INFO(max_compute_units, 3, std::uint32_t)
OVXPLAT_INFO(max_work_item_dimensions, 4, std::uint32_t)
template <int D = 3>
struct max_work_item_sizes {
    using return_type = sycl::range<D>;
    static constexpr int code = 100 + D;
};
OVXPLAT_INFO(max_work_group_size, 6, std::size_t)
OVXPLAT_INFO(max_num_sub_groups, 7, std::uint32_t)
OVXPLAT_INFO(sub_group_sizes, 8, std::vector<std::size_t>)
OVXPLAT_INFO(max_clock_frequency, 9, std::uint32_t)
OVXPLAT_INFO(address_bits, 10, std::uint32_t)
OVXPLAT_INFO(max_mem_alloc_size, 11, std::uint64_t)
OVXPLAT_INFO(max_parameter_size, 12, std::size_t)
OVXPLAT_INFO(mem_base_addr_align, 13, std::uint32_t)
OVXPLAT_INFO(global_mem_cache_line_size, 14, std::uint32_t)
OVXPLAT_INFO(global_mem_cache_size, 15, std::uint64_t)
OVXPLAT_INFO(global_mem_size, 16, std::uint64_t)
OVXPLAT_INFO(local_mem_type, 17, sycl::info::local_mem_type)
OVXPLAT_INFO(local_mem_size, 18, std::uint64_t)
OVXPLAT_INFO(error_correction_support, 19, bool)
OVXPLAT_INFO(is_available, 20, bool)
OVXPLAT_INFO(name, 21, std::string)
OVXPLAT_INFO(vendor, 22, std::string)
OVXPLAT_INFO(driver_version, 23, std::string)
OVXPLAT_INFO(version, 24, std::string)
OVXPLAT_INFO(backend_version, 25, std::string)
OVXPLAT_INFO(aspects, 26, std::vector<sycl::aspect>)
OVXPLAT_INFO(extensions, 27, std::vector<std::string>)
OVXPLAT_INFO(platform, 28, sycl::platform)
OVXPLAT_INFO(parent_device, 29, sycl::device)
OVXPLAT_INFO(partition_max_sub_devices, 30, std::uint32_t)
OVXPLAT_INFO(partition_properties, 31, std::vector<sycl::info::partition_property>)
OVXPLAT_INFO(partition_affinity_domains, 32, std::vector<sycl::info::partition_affinity_domain>)
OVXPLAT_INFO(partition_type_property, 33, sycl::info::partition_property)
OVXPLAT_INFO(partition_type_affinity_domain, 34, sycl::info::partition_affinity_domain)
OVXPLAT_INFO(profiling_timer_resolution, 35, std::size_t)
OVXPLAT_INFO(opencl_c_version, 36, std::string)
}  // namespace device
namespace platform {
OVXPLAT_INFO(name, 1, std::string)
OVXPLAT_INFO(vendor, 2, std::string)
OVXPLAT_INFO(version, 3, std::string)
OVXPLAT_INFO(profile, 4, std::string)
OVXPLAT_INFO(extensions, 5, std::vector<std::string>)
}  // namespace platform
namespace context {
OVXPLAT_INFO(platform, 1, sycl::platform)
OVXPLAT_INFO(devices, 2, std::vector<sycl::device>)
}  // namespace context
namespace queue {
OVXPLAT_INFO(context, 1, sycl::context)
OVXPLAT_INFO(device, 2, sycl::device)
}  // namespace queue
namespace event {
OVXPLAT_INFO(command_execution_status, 1, sycl::info::event_command_status)
}  // namespace event
namespace event_profiling {
OVXPLAT_INFO(command_submit, 1, std::uint64_t)
OVXPLAT_INFO(command_start, 2, std::uint64_t)
OVXPLAT_INFO(command_end, 3, std::uint64_t)
}  // namespace event_profiling
namespace kernel {
OVXPLAT_INFO(num_args, 1, std::uint32_t)
OVXPLAT_INFO(function_name, 2, std::string)
OVXPLAT_INFO(attributes, 3, std::string)
OVXPLAT_INFO(context, 4, sycl::context)
}  // namespace kernel
namespace kernel_device_specific {
OVXPLAT_INFO(work_group_size, 1, std::size_t)
OVXPLAT_INFO(compile_work_group_size, 2, sycl::range<3>)
OVXPLAT_INFO(preferred_work_group_size_multiple, 3, std::size_t)
OVXPLAT_INFO(private_mem_size, 4, std::size_t)
OVXPLAT_INFO(max_sub_group_size, 5, std::uint32_t)
OVXPLAT_INFO(max_num_sub_groups, 6, std::uint32_t)
OVXPLAT_INFO(compile_num_sub_groups, 7, std::uint32_t)
OVXPLAT_INFO(compile_sub_group_size, 8, std::uint32_t)
}  // namespace kernel_device_specific
}  // namespace info

// Vendor GPU information (answered from the device profile).
namespace ext {
namespace tarvo {
namespace info {
namespace device {
OVXPLAT_INFO(device_id, 200, std::uint32_t)
OVXPLAT_INFO(gpu_eu_count, 201, std::uint32_t)
OVXPLAT_INFO(gpu_eu_count_per_subslice, 202, std::uint32_t)
OVXPLAT_INFO(gpu_hw_threads_per_eu, 203, std::uint32_t)
OVXPLAT_INFO(gpu_slices, 204, std::uint32_t)
OVXPLAT_INFO(gpu_subslices_per_slice, 205, std::uint32_t)
OVXPLAT_INFO(free_memory, 206, std::uint64_t)
}  // namespace device
}  // namespace info
}  // namespace tarvo
}  // namespace ext
#undef OVXPLAT_INFO

// ---------------------------------------------------------------- selectors
OVXPLAT_SYCL_EXPORT int default_selector_v(const device&);
OVXPLAT_SYCL_EXPORT int gpu_selector_v(const device&);
OVXPLAT_SYCL_EXPORT int cpu_selector_v(const device&);
OVXPLAT_SYCL_EXPORT int accelerator_selector_v(const device&);
inline std::function<int(const device&)> aspect_selector(std::vector<aspect> want, std::vector<aspect> deny = {});

// ---------------------------------------------------------------- platform
class OVXPLAT_SYCL_EXPORT platform {
public:
    platform();
    template <typename Selector, typename = std::enable_if_t<std::is_invocable_r_v<int, Selector, const device&>>>
    explicit platform(const Selector& s);
    backend get_backend() const noexcept;
    std::vector<device> get_devices(info::device_type t = info::device_type::all) const;
    template <typename P>
    typename P::return_type get_info() const {
        typename P::return_type r{};
        detail::platform_get_info(impl_.get(), P::code, &r);
        return r;
    }
    bool has(aspect a) const;
    bool has_extension(const std::string& e) const;
    static std::vector<platform> get_platforms();
    friend bool operator==(const platform& a, const platform& b) { return a.impl_ == b.impl_; }
    friend bool operator!=(const platform& a, const platform& b) { return a.impl_ != b.impl_; }

    explicit platform(std::shared_ptr<detail::platform_impl> i) : impl_(std::move(i)) {}
    const std::shared_ptr<detail::platform_impl>& impl() const { return impl_; }

private:
    std::shared_ptr<detail::platform_impl> impl_;
};

// ---------------------------------------------------------------- device
class OVXPLAT_SYCL_EXPORT device {
public:
    device();
    template <typename Selector, typename = std::enable_if_t<std::is_invocable_r_v<int, Selector, const device&>>>
    explicit device(const Selector& s) : device(select(std::function<int(const device&)>(s))) {}
    bool is_cpu() const;
    bool is_gpu() const;
    bool is_accelerator() const;
    platform get_platform() const;
    backend get_backend() const noexcept;
    bool has(aspect a) const;
    bool has_extension(const std::string& e) const;
    template <typename P>
    typename P::return_type get_info() const {
        typename P::return_type r{};
        detail::device_get_info(impl_.get(), P::code, &r);
        return r;
    }
    template <info::partition_property Prop>
    std::vector<device> create_sub_devices(info::partition_affinity_domain d) const {
        static_assert(Prop == info::partition_property::partition_by_affinity_domain,
                      "only partition_by_affinity_domain takes an affinity domain");
        return partition_by_affinity(d);
    }
    template <info::partition_property Prop>
    std::vector<device> create_sub_devices(std::size_t count) const {
        static_assert(Prop == info::partition_property::partition_equally, "partition_equally takes a count");
        return partition_equally(count);
    }
    static std::vector<device> get_devices(info::device_type t = info::device_type::all);
    friend bool operator==(const device& a, const device& b) { return a.impl_ == b.impl_; }
    friend bool operator!=(const device& a, const device& b) { return a.impl_ != b.impl_; }

    explicit device(std::shared_ptr<detail::device_impl> i) : impl_(std::move(i)) {}
    const std::shared_ptr<detail::device_impl>& impl() const { return impl_; }

private:
    static device select(const std::function<int(const device&)>& s);
    std::vector<device> partition_by_affinity(info::partition_affinity_domain d) const;
    std::vector<device> partition_equally(std::size_t count) const;
    std::shared_ptr<detail::device_impl> impl_;
};

template <typename Selector, typename>
platform::platform(const Selector& s) : platform(device(s).get_platform()) {}

inline std::function<int(const device&)> aspect_selector(std::vector<aspect> want, std::vector<aspect> deny) {
    return [want, deny](const device& d) {
        for (auto a : want)
            if (!d.has(a)) return -1;
        for (auto a : deny)
            if (d.has(a)) return -1;
        return default_selector_v(d);
    };
}

// ---------------------------------------------------------------- context
class OVXPLAT_SYCL_EXPORT context {
public:
    explicit context(const property_list& = {});
    explicit context(async_handler h, const property_list& = {});
    explicit context(const device& d, const property_list& = {});
    context(const device& d, async_handler h, const property_list& = {});
    explicit context(const std::vector<device>& ds, const property_list& = {});
    context(const std::vector<device>& ds, async_handler h, const property_list& = {});
    backend get_backend() const noexcept;
    platform get_platform() const;
    std::vector<device> get_devices() const;
    template <typename P>
    typename P::return_type get_info() const {
        if constexpr (std::is_same_v<P, info::context::platform>)
            return get_platform();
        else
            return get_devices();
    }
    friend bool operator==(const context& a, const context& b) { return a.impl_ == b.impl_; }
    friend bool operator!=(const context& a, const context& b) { return a.impl_ != b.impl_; }

    explicit context(std::shared_ptr<detail::context_impl> i) : impl_(std::move(i)) {}
    const std::shared_ptr<detail::context_impl>& impl() const { return impl_; }

private:
    std::shared_ptr<detail::context_impl> impl_;
};

// ---------------------------------------------------------------- event
class OVXPLAT_SYCL_EXPORT event {
public:
    // A default-constructed event is complete.
    event();
    backend get_backend() const noexcept;
    std::vector<event> get_wait_list();
    void wait();
    void wait_and_throw();
    static void wait(const std::vector<event>& events);
    static void wait_and_throw(const std::vector<event>& events);
    template <typename P>
    typename P::return_type get_info() const {
        static_assert(std::is_same_v<P, info::event::command_execution_status>, "unknown event query");
        return status();
    }
    template <typename P>
    std::uint64_t get_profiling_info() const {
        return profiling(P::code);
    }
    friend bool operator==(const event& a, const event& b) { return a.impl_ == b.impl_; }
    friend bool operator!=(const event& a, const event& b) { return a.impl_ != b.impl_; }

    explicit event(std::shared_ptr<detail::event_impl> i);
    const std::shared_ptr<detail::event_impl>& impl() const { return impl_; }

private:
    info::event_command_status status() const;
    std::uint64_t profiling(int code) const;
    std::shared_ptr<detail::event_impl> impl_;
};

// ---------------------------------------------------------------- kernels
class OVXPLAT_SYCL_EXPORT kernel_id {
public:
    kernel_id() = delete;
    const char* get_name() const noexcept;
    friend bool operator==(const kernel_id& a, const kernel_id& b) { return a.name_ == b.name_; }
    friend bool operator!=(const kernel_id& a, const kernel_id& b) { return !(a == b); }

    explicit kernel_id(std::shared_ptr<const std::string> n) : name_(std::move(n)) {}
    const std::string& name() const { return *name_; }

private:
    std::shared_ptr<const std::string> name_;
};

namespace detail {
OVXPLAT_SYCL_EXPORT kernel_id kernel_id_for(const std::type_info& t);
}  // namespace detail

template <typename KernelName>
kernel_id get_kernel_id() {
    // A pointer type names incomplete kernel name types too.
    return detail::kernel_id_for(typeid(KernelName*));
}
OVXPLAT_SYCL_EXPORT std::vector<kernel_id> get_kernel_ids();

// A kernel: an OpenCL kernel wrapped with make_kernel, or a host kernel of a bundle.
class OVXPLAT_SYCL_EXPORT kernel {
public:
    kernel() = delete;
    backend get_backend() const noexcept;
    context get_context() const;
    template <typename P>
    typename P::return_type get_info() const {
        if constexpr (std::is_same_v<P, info::kernel::num_args>)
            return num_args();
        else if constexpr (std::is_same_v<P, info::kernel::context>)
            return get_context();
        else if constexpr (std::is_same_v<P, info::kernel::function_name>)
            return function_name();
        else
            return std::string();
    }
    // Figures of the kernel on a device (kernel_device_specific queries).
    template <typename P>
    typename P::return_type get_info(const device& d) const {
        typename P::return_type r{};
        detail::kernel_device_info(impl_.get(), d.impl().get(), P::code, &r);
        return r;
    }
    friend bool operator==(const kernel& a, const kernel& b) { return a.impl_ == b.impl_; }
    friend bool operator!=(const kernel& a, const kernel& b) { return a.impl_ != b.impl_; }

    explicit kernel(std::shared_ptr<detail::kernel_impl> i) : impl_(std::move(i)) {}
    const std::shared_ptr<detail::kernel_impl>& impl() const { return impl_; }

private:
    std::uint32_t num_args() const;
    std::string function_name() const;
    std::shared_ptr<detail::kernel_impl> impl_;
};

}  // namespace _V1
}  // namespace sycl
