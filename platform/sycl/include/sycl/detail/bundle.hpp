// Kernel bundles and specialization constants of host kernels.
#pragma once

#include "runtime.hpp"

#include <cstring>
#include <functional>

namespace sycl {
inline namespace _V1 {

// A specialization constant: its address identifies it, its initializer is
// the default value.
template <typename T>
class specialization_id {
public:
    using value_type = T;
    template <typename... Args>
    explicit constexpr specialization_id(Args&&... args) : default_(std::forward<Args>(args)...) {}
    specialization_id(const specialization_id&) = delete;
    specialization_id& operator=(const specialization_id&) = delete;
    const T& default_value() const { return default_; }

private:
    T default_;
};

namespace detail {
OVXPLAT_SYCL_EXPORT std::shared_ptr<bundle_impl> make_bundle(const context& ctx, const std::vector<device>& devs,
                                                             const std::vector<kernel_id>* ids, bundle_state st);
OVXPLAT_SYCL_EXPORT std::shared_ptr<bundle_impl> bundle_build(const std::shared_ptr<bundle_impl>& in);
OVXPLAT_SYCL_EXPORT void bundle_set_spec(bundle_impl*, const void* key, const void* value, std::size_t size);
// False when the bundle holds no value for the constant.
OVXPLAT_SYCL_EXPORT bool bundle_get_spec(const bundle_impl*, const void* key, void* out, std::size_t size);
OVXPLAT_SYCL_EXPORT bool bundle_has_kernel(const bundle_impl*, const kernel_id&);
OVXPLAT_SYCL_EXPORT std::vector<kernel_id> bundle_kernel_ids(const bundle_impl*);
OVXPLAT_SYCL_EXPORT context bundle_context(const bundle_impl*);
OVXPLAT_SYCL_EXPORT std::vector<device> bundle_devices(const bundle_impl*);
OVXPLAT_SYCL_EXPORT bundle_state bundle_get_state(const bundle_impl*);
// Value of a specialization constant for the host kernel running on this thread.
OVXPLAT_SYCL_EXPORT bool current_spec(const void* key, void* out, std::size_t size);
// The constants of a built bundle as a table sorted by key (the address of
// the specialization_id): entry i holds size bytes at bytes + at.
struct spec_entry {
    const void* key;
    std::size_t at, size;
};
struct spec_table {
    const spec_entry* entries;
    std::size_t n;
    const char* bytes;
    // Open-addressed index of the entries: slot spec_slot(key, mask) and the
    // slots after it (cyclically) up to an empty one (-1) hold the entry
    // numbers of the keys that hash there.
    const int* slots;
    std::size_t mask;
};
inline std::size_t spec_slot(const void* key, std::size_t mask) {
    const auto k = reinterpret_cast<std::uintptr_t>(key);
    return static_cast<std::size_t>((k >> 3) ^ (k >> 9)) & mask;
}
// The table of the bundle of the host kernel running on this thread, when
// that bundle is built (its constants fixed); null otherwise. A work-item's
// kernel_handler takes it once, so that the kernel's reads of its constants
// are searches in memory instead of calls.
OVXPLAT_SYCL_EXPORT const spec_table* current_spec_table();
}  // namespace detail

template <bundle_state State>
class kernel_bundle {
public:
    kernel_bundle() = delete;
    bool empty() const noexcept { return detail::bundle_kernel_ids(impl_.get()).empty(); }
    backend get_backend() const noexcept { return get_context().get_backend(); }
    context get_context() const noexcept { return detail::bundle_context(impl_.get()); }
    std::vector<device> get_devices() const noexcept { return detail::bundle_devices(impl_.get()); }
    bool has_kernel(const kernel_id& k) const noexcept { return detail::bundle_has_kernel(impl_.get(), k); }
    template <typename KernelName>
    bool has_kernel() const noexcept {
        return has_kernel(get_kernel_id<KernelName>());
    }
    std::vector<kernel_id> get_kernel_ids() const { return detail::bundle_kernel_ids(impl_.get()); }
    bool contains_specialization_constants() const noexcept { return true; }
    bool native_specialization_constant() const noexcept { return false; }
    template <auto& SpecName>
    bool has_specialization_constant() const noexcept {
        return true;
    }
    template <auto& SpecName, bundle_state S = State, typename = std::enable_if_t<S == bundle_state::input>>
    void set_specialization_constant(typename std::remove_reference_t<decltype(SpecName)>::value_type value) {
        using T = typename std::remove_reference_t<decltype(SpecName)>::value_type;
        static_assert(std::is_trivially_copyable_v<T>, "specialization constants are trivially copyable");
        detail::bundle_set_spec(impl_.get(), &SpecName, &value, sizeof(T));
    }
    template <auto& SpecName>
    typename std::remove_reference_t<decltype(SpecName)>::value_type get_specialization_constant() const {
        using T = typename std::remove_reference_t<decltype(SpecName)>::value_type;
        T v = SpecName.default_value();
        detail::bundle_get_spec(impl_.get(), &SpecName, &v, sizeof(T));
        return v;
    }
    friend bool operator==(const kernel_bundle& a, const kernel_bundle& b) { return a.impl_ == b.impl_; }
    friend bool operator!=(const kernel_bundle& a, const kernel_bundle& b) { return a.impl_ != b.impl_; }

    explicit kernel_bundle(std::shared_ptr<detail::bundle_impl> i) : impl_(std::move(i)) {}
    const std::shared_ptr<detail::bundle_impl>& impl() const { return impl_; }

private:
    std::shared_ptr<detail::bundle_impl> impl_;
};

template <bundle_state State>
kernel_bundle<State> get_kernel_bundle(const context& ctx, const std::vector<device>& devs,
                                       const std::vector<kernel_id>& ids) {
    return kernel_bundle<State>(detail::make_bundle(ctx, devs, &ids, State));
}
template <bundle_state State>
kernel_bundle<State> get_kernel_bundle(const context& ctx, const std::vector<device>& devs) {
    return kernel_bundle<State>(detail::make_bundle(ctx, devs, nullptr, State));
}
template <bundle_state State>
kernel_bundle<State> get_kernel_bundle(const context& ctx) {
    return get_kernel_bundle<State>(ctx, ctx.get_devices());
}
template <bundle_state State>
kernel_bundle<State> get_kernel_bundle(const context& ctx, const std::vector<kernel_id>& ids) {
    return get_kernel_bundle<State>(ctx, ctx.get_devices(), ids);
}
template <typename KernelName, bundle_state State>
kernel_bundle<State> get_kernel_bundle(const context& ctx, const std::vector<device>& devs) {
    return get_kernel_bundle<State>(ctx, devs, {get_kernel_id<KernelName>()});
}
template <typename KernelName, bundle_state State>
kernel_bundle<State> get_kernel_bundle(const context& ctx) {
    return get_kernel_bundle<State>(ctx, ctx.get_devices(), {get_kernel_id<KernelName>()});
}
template <bundle_state State>
bool has_kernel_bundle(const context&, const std::vector<device>&) {
    return true;
}

inline kernel_bundle<bundle_state::executable> build(const kernel_bundle<bundle_state::input>& in,
                                                    const property_list& = {}) {
    return kernel_bundle<bundle_state::executable>(detail::bundle_build(in.impl()));
}
inline kernel_bundle<bundle_state::object> compile(const kernel_bundle<bundle_state::input>& in,
                                                  const property_list& = {}) {
    auto b = detail::bundle_build(in.impl());
    return kernel_bundle<bundle_state::object>(b);
}
inline kernel_bundle<bundle_state::executable> link(const kernel_bundle<bundle_state::object>& in,
                                                   const property_list& = {}) {
    return kernel_bundle<bundle_state::executable>(detail::bundle_build(in.impl()));
}

// Second parameter of a host kernel that reads specialization constants.
class kernel_handler {
public:
    kernel_handler() = default;
    explicit kernel_handler(const detail::spec_table* t) : table_(t) {}

    template <auto& SpecName>
    typename std::remove_reference_t<decltype(SpecName)>::value_type get_specialization_constant() const {
        using T = typename std::remove_reference_t<decltype(SpecName)>::value_type;
        T v = SpecName.default_value();
        if (!table_) {
            detail::current_spec(&SpecName, &v, sizeof(T));
            return v;
        }
        const void* key = &SpecName;
        for (std::size_t i = detail::spec_slot(key, table_->mask);; i = (i + 1) & table_->mask) {
            const int e = table_->slots[i];
            if (e < 0) return v;
            const detail::spec_entry& x = table_->entries[e];
            if (x.key == key) {
                if (x.size == sizeof(T)) std::memcpy(&v, table_->bytes + x.at, sizeof(T));
                return v;
            }
        }
    }

private:
    const detail::spec_table* table_ = nullptr;
};

}  // namespace _V1
}  // namespace sycl
