// Queues and USM of the SYCL stand-in.
#pragma once

#include "handler.hpp"

namespace sycl {
inline namespace _V1 {

class OVXPLAT_SYCL_EXPORT queue {
    template <typename S>
    using if_selector = std::enable_if_t<std::is_invocable_r_v<int, S, const device&> &&
                                         !std::is_same_v<std::decay_t<S>, device>>;

public:
    explicit queue(const property_list& props = {});
    explicit queue(const async_handler& h, const property_list& props = {});
    template <typename S, typename = if_selector<S>>
    explicit queue(const S& sel, const property_list& props = {}) : queue(device(sel), props) {}
    template <typename S, typename = if_selector<S>>
    queue(const S& sel, const async_handler& h, const property_list& props = {}) : queue(device(sel), h, props) {}
    explicit queue(const device& d, const property_list& props = {});
    queue(const device& d, const async_handler& h, const property_list& props = {});
    queue(const context& c, const device& d, const property_list& props = {});
    queue(const context& c, const device& d, const async_handler& h, const property_list& props = {});
    template <typename S, typename = if_selector<S>>
    queue(const context& c, const S& sel, const property_list& props = {}) : queue(c, pick(c, sel), props) {}

    backend get_backend() const noexcept;
    context get_context() const;
    device get_device() const;
    bool is_in_order() const;
    template <typename P>
    bool has_property() const noexcept {
        return props().template has_property<P>();
    }
    template <typename P>
    P get_property() const {
        return props().template get_property<P>();
    }
    template <typename P>
    typename P::return_type get_info() const {
        if constexpr (std::is_same_v<P, info::queue::context>)
            return get_context();
        else
            return get_device();
    }

    template <typename CGF>
    event submit(CGF&& cgf, const detail::code_location& loc = detail::code_location::current()) {
        return submit_impl(std::function<void(handler&)>(std::ref(cgf)), loc);
    }
    template <typename CGF>
    event submit(CGF&& cgf, queue& secondary, const detail::code_location& loc = detail::code_location::current()) {
        try {
            return submit_impl(std::function<void(handler&)>(std::ref(cgf)), loc);
        } catch (const sycl::exception&) {
            return secondary.submit_impl(std::function<void(handler&)>(std::ref(cgf)), loc);
        }
    }

    void wait(const detail::code_location& loc = detail::code_location::current());
    void wait_and_throw(const detail::code_location& loc = detail::code_location::current());
    void throw_asynchronous();

    // ---- shortcuts
    event memcpy(void* dst, const void* src, std::size_t bytes,
                 const detail::code_location& loc = detail::code_location::current());
    event memcpy(void* dst, const void* src, std::size_t bytes, event dep,
                 const detail::code_location& loc = detail::code_location::current());
    event memcpy(void* dst, const void* src, std::size_t bytes, const std::vector<event>& deps,
                 const detail::code_location& loc = detail::code_location::current());
    event memset(void* ptr, int value, std::size_t bytes,
                 const detail::code_location& loc = detail::code_location::current());
    event memset(void* ptr, int value, std::size_t bytes, event dep,
                 const detail::code_location& loc = detail::code_location::current());
    event memset(void* ptr, int value, std::size_t bytes, const std::vector<event>& deps,
                 const detail::code_location& loc = detail::code_location::current());
    template <typename T>
    event fill(void* ptr, const T& pattern, std::size_t count, const std::vector<event>& deps = {},
               const detail::code_location& loc = detail::code_location::current()) {
        return submit(
            [&](handler& h) {
                h.depends_on(deps);
                h.fill(ptr, pattern, count);
            },
            loc);
    }
    template <typename T>
    event fill(void* ptr, const T& pattern, std::size_t count, event dep,
               const detail::code_location& loc = detail::code_location::current()) {
        return fill(ptr, pattern, count, std::vector<event>{dep}, loc);
    }
    template <typename T>
    event copy(const T* src, T* dst, std::size_t count, const std::vector<event>& deps = {},
               const detail::code_location& loc = detail::code_location::current()) {
        return memcpy(dst, src, count * sizeof(T), deps, loc);
    }
    template <typename T>
    event copy(const T* src, T* dst, std::size_t count, event dep,
               const detail::code_location& loc = detail::code_location::current()) {
        return memcpy(dst, src, count * sizeof(T), dep, loc);
    }
    template <typename Name = detail::auto_name, typename F>
    event single_task(F&& f, const detail::code_location& loc = detail::code_location::current()) {
        return submit([&](handler& h) { h.single_task<Name>(std::forward<F>(f)); }, loc);
    }
    template <typename Name = detail::auto_name, typename F>
    event single_task(const std::vector<event>& deps, F&& f,
                      const detail::code_location& loc = detail::code_location::current()) {
        return submit(
            [&](handler& h) {
                h.depends_on(deps);
                h.single_task<Name>(std::forward<F>(f));
            },
            loc);
    }
    template <typename Name = detail::auto_name, typename R, typename F>
    event parallel_for(R r, F&& f) {
        return submit([&](handler& h) { h.parallel_for<Name>(r, std::forward<F>(f)); });
    }
    template <typename Name = detail::auto_name, typename R, typename F>
    event parallel_for(R r, event dep, F&& f) {
        return submit([&](handler& h) {
            h.depends_on(dep);
            h.parallel_for<Name>(r, std::forward<F>(f));
        });
    }
    template <typename Name = detail::auto_name, typename R, typename F>
    event parallel_for(R r, const std::vector<event>& deps, F&& f) {
        return submit([&](handler& h) {
            h.depends_on(deps);
            h.parallel_for<Name>(r, std::forward<F>(f));
        });
    }

    // A command that completes when the events (or, with none, everything
    // submitted before to this queue) are complete.
    event ext_tarvo_submit_barrier(const detail::code_location& loc = detail::code_location::current());
    event ext_tarvo_submit_barrier(const std::vector<event>& events,
                                   const detail::code_location& loc = detail::code_location::current());

    friend bool operator==(const queue& a, const queue& b) { return a.impl_ == b.impl_; }
    friend bool operator!=(const queue& a, const queue& b) { return a.impl_ != b.impl_; }

    // Stand-in internals.
    explicit queue(std::shared_ptr<detail::queue_impl> i) : impl_(std::move(i)) {}
    const std::shared_ptr<detail::queue_impl>& impl() const { return impl_; }

private:
    template <typename S>
    static device pick(const context& c, const S& sel) {
        device best;
        int score = -1;
        for (auto& d : c.get_devices()) {
            int s = sel(d);
            if (s > score) {
                score = s;
                best = d;
            }
        }
        if (score < 0) detail::throw_error(errc::runtime, "No device of requested type available.");
        return best;
    }
    const property_list& props() const;
    event submit_impl(const std::function<void(handler&)>& cgf, const detail::code_location& loc);
    std::shared_ptr<detail::queue_impl> impl_;
};

// ---------------------------------------------------------------- USM
OVXPLAT_SYCL_EXPORT void* malloc_device(std::size_t bytes, const device& d, const context& c,
                                        const property_list& = {},
                                        const detail::code_location& = detail::code_location::current());
OVXPLAT_SYCL_EXPORT void* malloc_device(std::size_t bytes, const queue& q, const property_list& = {},
                                        const detail::code_location& = detail::code_location::current());
OVXPLAT_SYCL_EXPORT void* malloc_shared(std::size_t bytes, const device& d, const context& c,
                                        const property_list& = {},
                                        const detail::code_location& = detail::code_location::current());
OVXPLAT_SYCL_EXPORT void* malloc_shared(std::size_t bytes, const queue& q, const property_list& = {},
                                        const detail::code_location& = detail::code_location::current());
OVXPLAT_SYCL_EXPORT void* malloc_host(std::size_t bytes, const context& c, const property_list& = {},
                                      const detail::code_location& = detail::code_location::current());
OVXPLAT_SYCL_EXPORT void* malloc_host(std::size_t bytes, const queue& q, const property_list& = {},
                                      const detail::code_location& = detail::code_location::current());
OVXPLAT_SYCL_EXPORT void* malloc(std::size_t bytes, const device& d, const context& c, usm::alloc kind,
                                 const property_list& = {},
                                 const detail::code_location& = detail::code_location::current());
OVXPLAT_SYCL_EXPORT void* malloc(std::size_t bytes, const queue& q, usm::alloc kind, const property_list& = {},
                                 const detail::code_location& = detail::code_location::current());
OVXPLAT_SYCL_EXPORT void* aligned_alloc_device(std::size_t align, std::size_t bytes, const device& d,
                                               const context& c, const property_list& = {},
                                               const detail::code_location& = detail::code_location::current());
OVXPLAT_SYCL_EXPORT void* aligned_alloc_device(std::size_t align, std::size_t bytes, const queue& q,
                                               const property_list& = {},
                                               const detail::code_location& = detail::code_location::current());
OVXPLAT_SYCL_EXPORT void* aligned_alloc_shared(std::size_t align, std::size_t bytes, const device& d,
                                               const context& c, const property_list& = {},
                                               const detail::code_location& = detail::code_location::current());
OVXPLAT_SYCL_EXPORT void* aligned_alloc_shared(std::size_t align, std::size_t bytes, const queue& q,
                                               const property_list& = {},
                                               const detail::code_location& = detail::code_location::current());
OVXPLAT_SYCL_EXPORT void* aligned_alloc_host(std::size_t align, std::size_t bytes, const context& c,
                                             const property_list& = {},
                                             const detail::code_location& = detail::code_location::current());
OVXPLAT_SYCL_EXPORT void* aligned_alloc_host(std::size_t align, std::size_t bytes, const queue& q,
                                             const property_list& = {},
                                             const detail::code_location& = detail::code_location::current());
OVXPLAT_SYCL_EXPORT void free(void* ptr, const context& c,
                              const detail::code_location& = detail::code_location::current());
OVXPLAT_SYCL_EXPORT void free(void* ptr, const queue& q,
                              const detail::code_location& = detail::code_location::current());
OVXPLAT_SYCL_EXPORT usm::alloc get_pointer_type(const void* ptr, const context& c);
OVXPLAT_SYCL_EXPORT device get_pointer_device(const void* ptr, const context& c);

#define OVXPLAT_TYPED_USM(NAME)                                                                            \
    template <typename T>                                                                                  \
    T* NAME(std::size_t count, const queue& q, const property_list& p = {},                                \
            const detail::code_location& loc = detail::code_location::current()) {                         \
        return static_cast<T*>(NAME(count * sizeof(T), q, p, loc));                                        \
    }                                                                                                      \
    template <typename T>                                                                                  \
    T* NAME(std::size_t count, const device& d, const context& c, const property_list& p = {},             \
            const detail::code_location& loc = detail::code_location::current()) {                         \
        return static_cast<T*>(NAME(count * sizeof(T), d, c, p, loc));                                     \
    }
OVXPLAT_TYPED_USM(malloc_device)
OVXPLAT_TYPED_USM(malloc_shared)
#undef OVXPLAT_TYPED_USM
template <typename T>
T* malloc_host(std::size_t count, const queue& q, const property_list& p = {},
               const detail::code_location& loc = detail::code_location::current()) {
    return static_cast<T*>(malloc_host(count * sizeof(T), q, p, loc));
}
template <typename T>
T* malloc_host(std::size_t count, const context& c, const property_list& p = {},
               const detail::code_location& loc = detail::code_location::current()) {
    return static_cast<T*>(malloc_host(count * sizeof(T), c, p, loc));
}
template <typename T>
T* aligned_alloc_device(std::size_t align, std::size_t count, const queue& q, const property_list& p = {},
                        const detail::code_location& loc = detail::code_location::current()) {
    return static_cast<T*>(aligned_alloc_device(align, count * sizeof(T), q, p, loc));
}
template <typename T>
T* aligned_alloc_shared(std::size_t align, std::size_t count, const queue& q, const property_list& p = {},
                        const detail::code_location& loc = detail::code_location::current()) {
    return static_cast<T*>(aligned_alloc_shared(align, count * sizeof(T), q, p, loc));
}
template <typename T>
T* aligned_alloc_host(std::size_t align, std::size_t count, const queue& q, const property_list& p = {},
                      const detail::code_location& loc = detail::code_location::current()) {
    return static_cast<T*>(aligned_alloc_host(align, count * sizeof(T), q, p, loc));
}

}  // namespace _V1
}  // namespace sycl
