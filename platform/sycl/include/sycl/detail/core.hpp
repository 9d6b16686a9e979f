// Basic types of the SYCL stand-in: errors, code locations, index spaces,
// properties and the forward declarations shared by the other headers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <system_error>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <vector>

#define OVXPLAT_SYCL_EXPORT __attribute__((visibility("default")))

namespace sycl {
inline namespace _V1 {

// ---------------------------------------------------------------- errors
enum class errc : int {
    success = 0,
    runtime = 1,
    kernel = 2,
    accessor = 3,
    nd_range = 4,
    event = 5,
    kernel_argument = 6,
    build = 7,
    invalid = 8,
    memory_allocation = 9,
    platform = 10,
    profiling = 11,
    feature_not_supported = 12,
    kernel_not_supported = 13,
    backend_mismatch = 14,
};

OVXPLAT_SYCL_EXPORT const std::error_category& sycl_category() noexcept;
inline std::error_code make_error_code(errc e) noexcept { return {static_cast<int>(e), sycl_category()}; }

class context;

class OVXPLAT_SYCL_EXPORT exception : public std::exception {
public:
    exception(std::error_code ec, const std::string& what_arg);
    exception(std::error_code ec, const char* what_arg);
    exception(std::error_code ec);
    exception(int ev, const std::error_category& cat, const std::string& what_arg);
    exception(int ev, const std::error_category& cat, const char* what_arg);
    exception(int ev, const std::error_category& cat);
    exception(errc e, const std::string& what_arg) : exception(make_error_code(e), what_arg) {}
    exception(errc e, const char* what_arg) : exception(make_error_code(e), what_arg) {}
    exception(errc e) : exception(make_error_code(e)) {}
    ~exception() override;
    const std::error_code& code() const noexcept { return code_; }
    const std::error_category& category() const noexcept { return code_.category(); }
    const char* what() const noexcept override { return what_->c_str(); }
    bool has_context() const noexcept { return false; }

private:
    std::error_code code_;
    std::shared_ptr<std::string> what_;
};

class exception_list {
public:
    using value_type = std::exception_ptr;
    using reference = value_type&;
    using const_reference = const value_type&;
    using size_type = std::size_t;
    using iterator = std::vector<std::exception_ptr>::const_iterator;
    using const_iterator = iterator;
    size_type size() const { return list_.size(); }
    iterator begin() const { return list_.begin(); }
    iterator end() const { return list_.end(); }
    // Stand-in only: how the runtime fills the list.
    void push_back(std::exception_ptr p) { list_.push_back(std::move(p)); }

private:
    std::vector<std::exception_ptr> list_;
};

using async_handler = std::function<void(sycl::exception_list)>;

// ---------------------------------------------------------------- backends
enum class backend : int {
    opencl = 1,
    ext_tarvo_level_zero = 2,
    ext_tarvo_host = 3,
};

namespace detail {

// Where an API call came from; every call that can fail takes one as its
// last, defaulted argument, as SYCL runtimes do.
class code_location {
public:
    constexpr code_location(const char* file = nullptr, const char* func = nullptr,
                            unsigned long line = 0, unsigned long col = 0) noexcept
        : file_(file), func_(func), line_(line), col_(col) {}
    static constexpr code_location current(const char* file = __builtin_FILE(),
                                           const char* func = __builtin_FUNCTION(),
                                           unsigned long line = __builtin_LINE(),
                                           unsigned long col = 0) noexcept {
        return code_location(file, func, line, col);
    }
    constexpr const char* fileName() const noexcept { return file_; }
    constexpr const char* functionName() const noexcept { return func_; }
    constexpr unsigned long lineNumber() const noexcept { return line_; }
    constexpr unsigned long columnNumber() const noexcept { return col_; }

private:
    const char* file_;
    const char* func_;
    unsigned long line_;
    unsigned long col_;
};

using pi_native_handle = std::uintptr_t;

[[noreturn]] OVXPLAT_SYCL_EXPORT void throw_error(errc e, const std::string& msg);

struct platform_impl;
struct device_impl;
struct context_impl;
struct queue_impl;
struct event_impl;
struct buffer_impl;
struct kernel_impl;
struct bundle_impl;
class handler_impl;

}  // namespace detail

// ---------------------------------------------------------------- index space
namespace detail {
template <int D>
struct array_base {
    static_assert(D >= 1 && D <= 3, "1 to 3 dimensions");
    std::size_t v[D];
    constexpr std::size_t get(int d) const { return v[d]; }
    constexpr std::size_t& operator[](int d) { return v[d]; }
    constexpr std::size_t operator[](int d) const { return v[d]; }
};
}  // namespace detail

template <int D = 1>
class id;
template <int D = 1>
class range;
namespace detail {
struct no_conversion {};
}  // namespace detail

#define OVXPLAT_ARRAY_OPS(CLS)                                                              \
    friend constexpr bool operator==(const CLS& a, const CLS& b) {                          \
        for (int i = 0; i < D; ++i)                                                         \
            if (a.v[i] != b.v[i]) return false;                                             \
        return true;                                                                        \
    }                                                                                       \
    friend constexpr bool operator!=(const CLS& a, const CLS& b) { return !(a == b); }      \
    friend constexpr CLS operator+(const CLS& a, const CLS& b) {                            \
        CLS r(a);                                                                           \
        for (int i = 0; i < D; ++i) r.v[i] += b.v[i];                                       \
        return r;                                                                           \
    }                                                                                       \
    friend constexpr CLS operator-(const CLS& a, const CLS& b) {                            \
        CLS r(a);                                                                           \
        for (int i = 0; i < D; ++i) r.v[i] -= b.v[i];                                       \
        return r;                                                                           \
    }                                                                                       \
    friend constexpr CLS operator*(const CLS& a, const CLS& b) {                            \
        CLS r(a);                                                                           \
        for (int i = 0; i < D; ++i) r.v[i] *= b.v[i];                                       \
        return r;                                                                           \
    }                                                                                       \
    friend constexpr CLS operator/(const CLS& a, const CLS& b) {                            \
        CLS r(a);                                                                           \
        for (int i = 0; i < D; ++i) r.v[i] /= b.v[i];                                       \
        return r;                                                                           \
    }                                                                                       \
    friend constexpr CLS operator%(const CLS& a, const CLS& b) {                            \
        CLS r(a);                                                                           \
        for (int i = 0; i < D; ++i) r.v[i] %= b.v[i];                                       \
        return r;                                                                           \
    }                                                                                       \
    friend constexpr CLS operator+(const CLS& a, std::size_t s) {                           \
        CLS r(a);                                                                           \
        for (int i = 0; i < D; ++i) r.v[i] += s;                                            \
        return r;                                                                           \
    }                                                                                       \
    friend constexpr CLS operator*(const CLS& a, std::size_t s) {                           \
        CLS r(a);                                                                           \
        for (int i = 0; i < D; ++i) r.v[i] *= s;                                            \
        return r;                                                                           \
    }                                                                                       \
    constexpr CLS& operator+=(const CLS& b) {                                               \
        for (int i = 0; i < D; ++i) this->v[i] += b.v[i];                                   \
        return *this;                                                                       \
    }                                                                                       \
    constexpr CLS& operator-=(const CLS& b) {                                               \
        for (int i = 0; i < D; ++i) this->v[i] -= b.v[i];                                   \
        return *this;                                                                       \
    }

template <int D>
class range : public detail::array_base<D> {
public:
    static constexpr int dimensions = D;
    constexpr range() : detail::array_base<D>{} {}
    template <int DD = D, typename = std::enable_if_t<DD == 1>>
    constexpr range(std::size_t a) : detail::array_base<D>{{a}} {}
    template <int DD = D, typename = std::enable_if_t<DD == 2>>
    constexpr range(std::size_t a, std::size_t b) : detail::array_base<D>{{a, b}} {}
    template <int DD = D, typename = std::enable_if_t<DD == 3>>
    constexpr range(std::size_t a, std::size_t b, std::size_t c) : detail::array_base<D>{{a, b, c}} {}
    constexpr std::size_t size() const {
        std::size_t s = 1;
        for (int i = 0; i < D; ++i) s *= this->v[i];
        return s;
    }
    OVXPLAT_ARRAY_OPS(range)
};
range(std::size_t)->range<1>;
range(std::size_t, std::size_t)->range<2>;
range(std::size_t, std::size_t, std::size_t)->range<3>;

template <int D>
class id : public detail::array_base<D> {
public:
    static constexpr int dimensions = D;
    constexpr id() : detail::array_base<D>{} {}
    template <int DD = D, typename = std::enable_if_t<DD == 1>>
    constexpr id(std::size_t a) : detail::array_base<D>{{a}} {}
    template <int DD = D, typename = std::enable_if_t<DD == 2>>
    constexpr id(std::size_t a, std::size_t b) : detail::array_base<D>{{a, b}} {}
    template <int DD = D, typename = std::enable_if_t<DD == 3>>
    constexpr id(std::size_t a, std::size_t b, std::size_t c) : detail::array_base<D>{{a, b, c}} {}
    constexpr id(const range<D>& r) : detail::array_base<D>{} {
        for (int i = 0; i < D; ++i) this->v[i] = r[i];
    }
    // One-dimensional ids convert to their only component.
    constexpr operator std::conditional_t<D == 1, std::size_t, detail::no_conversion>() const {
        if constexpr (D == 1)
            return this->v[0];
        else
            return {};
    }
    OVXPLAT_ARRAY_OPS(id)
};
id(std::size_t)->id<1>;
id(std::size_t, std::size_t)->id<2>;
id(std::size_t, std::size_t, std::size_t)->id<3>;
#undef OVXPLAT_ARRAY_OPS

namespace detail {
// Row-major linear index: the last dimension varies fastest.
template <int D>
constexpr std::size_t linearize(const id<D>& i, const range<D>& r) {
    std::size_t l = 0;
    for (int d = 0; d < D; ++d) l = l * r[d] + i[d];
    return l;
}
template <int D>
constexpr id<D> delinearize(std::size_t l, const range<D>& r) {
    id<D> i;
    for (int d = D - 1; d >= 0; --d) {
        i[d] = l % r[d];
        l /= r[d];
    }
    return i;
}
}  // namespace detail

template <int D = 1, bool WithOffset = true>
class item {
public:
    static constexpr int dimensions = D;
    item() = delete;
    id<D> get_id() const { return id_; }
    std::size_t get_id(int d) const { return id_[d]; }
    std::size_t operator[](int d) const { return id_[d]; }
    range<D> get_range() const { return range_; }
    std::size_t get_range(int d) const { return range_[d]; }
    id<D> get_offset() const { return offset_; }
    std::size_t get_linear_id() const { return detail::linearize(id<D>(id_ - offset_), range_); }
    operator std::conditional_t<D == 1, std::size_t, detail::no_conversion>() const {
        if constexpr (D == 1)
            return id_[0];
        else
            return {};
    }
    operator id<D>() const { return id_; }
    // Stand-in construction by the runtime.
    item(const id<D>& i, const range<D>& r, const id<D>& o) : id_(i), range_(r), offset_(o) {}

private:
    id<D> id_;
    range<D> range_;
    id<D> offset_;
};

template <int D = 1>
class nd_range {
public:
    static constexpr int dimensions = D;
    nd_range(range<D> global, range<D> local, id<D> offset = id<D>())
        : global_(global), local_(local), offset_(offset) {}
    range<D> get_global_range() const { return global_; }
    range<D> get_local_range() const { return local_; }
    range<D> get_group_range() const { return global_ / local_; }
    id<D> get_offset() const { return offset_; }

private:
    range<D> global_;
    range<D> local_;
    id<D> offset_;
};

namespace access {
enum class mode { read = 1024, write, read_write, discard_write, discard_read_write, atomic };
enum class target { device = 2014, host_task, constant_buffer, local, host_buffer, global_buffer = device };
enum class placeholder { false_t, true_t };
enum class fence_space { local_space, global_space, global_and_local };
enum class address_space { global_space, local_space, constant_space, private_space, generic_space };
enum class decorated { no, yes, legacy };
}  // namespace access
using access_mode = access::mode;
using target = access::target;

enum class memory_order { relaxed, acquire, release, acq_rel, seq_cst };
enum class memory_scope { work_item, sub_group, work_group, device, system };

namespace detail {
// Work-group barrier of the host executor: every work-item of the group
// reaches it before any goes on. Outside a host nd_range kernel it does nothing.
OVXPLAT_SYCL_EXPORT void host_group_barrier();
}  // namespace detail

template <int D = 1>
class group {
public:
    static constexpr int dimensions = D;
    using id_type = id<D>;
    using range_type = range<D>;
    using linear_id_type = std::size_t;
    group() = delete;
    id<D> get_group_id() const { return gid_; }
    std::size_t get_group_id(int d) const { return gid_[d]; }
    id<D> get_local_id() const { return lid_; }
    std::size_t get_local_id(int d) const { return lid_[d]; }
    range<D> get_local_range() const { return local_; }
    std::size_t get_local_range(int d) const { return local_[d]; }
    range<D> get_group_range() const { return groups_; }
    std::size_t get_group_range(int d) const { return groups_[d]; }
    range<D> get_max_local_range() const { return local_; }
    std::size_t operator[](int d) const { return gid_[d]; }
    std::size_t get_group_linear_id() const { return detail::linearize(gid_, groups_); }
    std::size_t get_local_linear_id() const { return detail::linearize(lid_, local_); }
    std::size_t get_group_linear_range() const { return groups_.size(); }
    std::size_t get_local_linear_range() const { return local_.size(); }
    bool leader() const { return get_local_linear_id() == 0; }
    void barrier(access::fence_space = access::fence_space::global_and_local) const {
        detail::host_group_barrier();
    }
    group(const id<D>& g, const id<D>& l, const range<D>& lr, const range<D>& gr)
        : gid_(g), lid_(l), local_(lr), groups_(gr) {}

private:
    id<D> gid_, lid_;
    range<D> local_, groups_;
};

// Sub-groups of host kernels hold one work-item each.
class sub_group {
public:
    static constexpr int dimensions = 1;
    id<1> get_local_id() const { return id<1>(0); }
    range<1> get_local_range() const { return range<1>(1); }
    range<1> get_max_local_range() const { return range<1>(1); }
    id<1> get_group_id() const { return id<1>(group_); }
    range<1> get_group_range() const { return range<1>(groups_); }
    std::uint32_t get_local_linear_id() const { return 0; }
    std::uint32_t get_local_linear_range() const { return 1; }
    std::uint32_t get_group_linear_id() const { return static_cast<std::uint32_t>(group_); }
    std::uint32_t get_group_linear_range() const { return static_cast<std::uint32_t>(groups_); }
    bool leader() const { return true; }
    sub_group(std::size_t g, std::size_t n) : group_(g), groups_(n) {}

private:
    std::size_t group_, groups_;
};

template <int D = 1>
class nd_item {
public:
    static constexpr int dimensions = D;
    nd_item() = delete;
    id<D> get_global_id() const { return gid_ + offset_; }
    std::size_t get_global_id(int d) const { return gid_[d] + offset_[d]; }
    std::size_t get_global_linear_id() const { return detail::linearize(gid_, global_); }
    id<D> get_local_id() const { return lid_; }
    std::size_t get_local_id(int d) const { return lid_[d]; }
    std::size_t get_local_linear_id() const { return detail::linearize(lid_, local_); }
    group<D> get_group() const { return group<D>(grp_, lid_, local_, global_ / local_); }
    std::size_t get_group(int d) const { return grp_[d]; }
    std::size_t get_group_linear_id() const { return detail::linearize(grp_, range<D>(global_ / local_)); }
    range<D> get_group_range() const { return global_ / local_; }
    std::size_t get_group_range(int d) const { return global_[d] / local_[d]; }
    range<D> get_global_range() const { return global_; }
    std::size_t get_global_range(int d) const { return global_[d]; }
    range<D> get_local_range() const { return local_; }
    std::size_t get_local_range(int d) const { return local_[d]; }
    id<D> get_offset() const { return offset_; }
    nd_range<D> get_nd_range() const { return nd_range<D>(global_, local_, offset_); }
    sub_group get_sub_group() const { return sub_group(get_local_linear_id(), local_.size()); }
    void barrier(access::fence_space = access::fence_space::global_and_local) const {
        detail::host_group_barrier();
    }
    nd_item(const id<D>& gid, const id<D>& lid, const id<D>& grp, const range<D>& global,
            const range<D>& local, const id<D>& offset)
        : gid_(gid), lid_(lid), grp_(grp), global_(global), local_(local), offset_(offset) {}

private:
    id<D> gid_, lid_, grp_;
    range<D> global_, local_;
    id<D> offset_;
};

template <typename Group>
void group_barrier(Group, memory_scope = memory_scope::work_group) {
    if constexpr (!std::is_same_v<Group, sub_group>) detail::host_group_barrier();
}

template <typename T, access::address_space AS = access::address_space::global_space,
          access::decorated DE = access::decorated::legacy>
class multi_ptr {
public:
    using element_type = T;
    using value_type = std::remove_cv_t<T>;
    multi_ptr() = default;
    multi_ptr(T* p) : p_(p) {}
    multi_ptr(std::nullptr_t) {}
    T* get() const { return p_; }
    T* get_raw() const { return p_; }
    operator T*() const { return p_; }
    T& operator*() const { return *p_; }
    T* operator->() const { return p_; }
    T& operator[](std::ptrdiff_t i) const { return p_[i]; }

private:
    T* p_ = nullptr;
};
template <typename T>
using global_ptr = multi_ptr<T, access::address_space::global_space>;
template <typename T>
using local_ptr = multi_ptr<T, access::address_space::local_space>;

// ---------------------------------------------------------------- properties
namespace detail {
enum class prop_kind { in_order, enable_profiling, use_host_ptr, use_mutex, context_bound, no_init };
struct property_base {
    prop_kind kind;
};
}  // namespace detail

namespace property {
namespace queue {
struct in_order {
    static constexpr detail::prop_kind kind = detail::prop_kind::in_order;
};
struct enable_profiling {
    static constexpr detail::prop_kind kind = detail::prop_kind::enable_profiling;
};
}  // namespace queue
namespace buffer {
struct use_host_ptr {
    static constexpr detail::prop_kind kind = detail::prop_kind::use_host_ptr;
};
struct context_bound {
    static constexpr detail::prop_kind kind = detail::prop_kind::context_bound;
};
}  // namespace buffer
struct no_init {
    static constexpr detail::prop_kind kind = detail::prop_kind::no_init;
};
}  // namespace property
inline constexpr property::no_init no_init{};

class property_list {
public:
    template <typename... P, typename = std::void_t<decltype(P::kind)...>>
    property_list(P... props) {
        ((void)props, ...);
        (mask_.push_back(P::kind), ...);
    }
    template <typename P>
    bool has_property() const {
        for (auto k : mask_)
            if (k == P::kind) return true;
        return false;
    }
    template <typename P>
    P get_property() const {
        if (!has_property<P>()) detail::throw_error(errc::invalid, "The property is not found");
        return P{};
    }

private:
    std::vector<detail::prop_kind> mask_;
};

template <typename T>
struct is_property : std::false_type {};

// ---------------------------------------------------------------- enums
enum class aspect : int {
    cpu = 0,
    gpu = 1,
    accelerator = 2,
    custom = 3,
    emulated = 4,
    host_debuggable = 5,
    fp16 = 6,
    fp64 = 7,
    atomic64 = 8,
    image = 9,
    online_compiler = 10,
    online_linker = 11,
    queue_profiling = 12,
    usm_device_allocations = 13,
    usm_host_allocations = 14,
    usm_atomic_host_allocations = 15,
    usm_shared_allocations = 16,
    usm_atomic_shared_allocations = 17,
    usm_system_allocations = 18,
    // Vendor GPU information: free memory (36) and the EU / slice queries (37).
    ext_tarvo_free_memory = 36,
    ext_tarvo_gpu_hw_info = 37,
};

namespace usm {
enum class alloc { host = 0, device = 1, shared = 2, unknown = 3 };
}

enum class bundle_state { input, object, executable };

namespace info {
enum class device_type : unsigned { cpu = 1, gpu = 2, accelerator = 4, custom = 8, automatic = 16, host = 32, all = 0xffffffffu };
enum class partition_property { no_partition, partition_equally, partition_by_counts, partition_by_affinity_domain };
enum class partition_affinity_domain { not_applicable, numa, L4_cache, L3_cache, L2_cache, L1_cache, next_partitionable };
enum class local_mem_type { none, local, global };
enum class event_command_status { submitted, running, complete };
}  // namespace info

// Forward declarations of the runtime classes.
class platform;
class device;
class context;
class queue;
class event;
class handler;
class kernel;
class kernel_id;
class interop_handle;
template <bundle_state State>
class kernel_bundle;

}  // namespace _V1
}  // namespace sycl
