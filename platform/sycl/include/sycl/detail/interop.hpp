// Interoperation with native handles: OpenCL (the GPU device runs on the
// machine's OpenCL device) and opaque Level Zero handles (reported by the
// Level Zero device profiles, which have no driver behind them).
#pragma once

#include "queue.hpp"

#ifndef CL_TARGET_OPENCL_VERSION
#define CL_TARGET_OPENCL_VERSION 300
#endif
#include <CL/cl.h>

namespace sycl {
inline namespace _V1 {

namespace detail {
template <backend B, typename T>
struct interop;
#define OVXPLAT_INTEROP(B, T, RET, IN)  \
    template <>                         \
    struct interop<B, T> {              \
        using return_type = RET;        \
        using input_type = IN;          \
    };
OVXPLAT_INTEROP(backend::opencl, platform, cl_platform_id, cl_platform_id)
OVXPLAT_INTEROP(backend::opencl, device, cl_device_id, cl_device_id)
OVXPLAT_INTEROP(backend::opencl, context, cl_context, cl_context)
OVXPLAT_INTEROP(backend::opencl, queue, cl_command_queue, cl_command_queue)
OVXPLAT_INTEROP(backend::opencl, event, std::vector<cl_event>, cl_event)
OVXPLAT_INTEROP(backend::opencl, kernel, cl_kernel, cl_kernel)
OVXPLAT_INTEROP(backend::ext_tarvo_level_zero, platform, void*, void*)
OVXPLAT_INTEROP(backend::ext_tarvo_level_zero, device, void*, void*)
OVXPLAT_INTEROP(backend::ext_tarvo_level_zero, context, void*, void*)
OVXPLAT_INTEROP(backend::ext_tarvo_level_zero, queue, void*, void*)
OVXPLAT_INTEROP(backend::ext_tarvo_level_zero, event, void*, void*)
#undef OVXPLAT_INTEROP

// Native handle of an object for a backend; the object kind is one of
// 'p' platform, 'd' device, 'c' context, 'q' queue, 'e' event, 'k' kernel.
// OpenCL handles of contexts, queues and kernels are retained for the caller.
OVXPLAT_SYCL_EXPORT void* native_of(const void* impl, char kind, backend b);
OVXPLAT_SYCL_EXPORT std::vector<cl_event> native_events_of(const event_impl* e);

OVXPLAT_SYCL_EXPORT device make_device_from(backend b, pi_native_handle h);
OVXPLAT_SYCL_EXPORT platform make_platform_from(backend b, pi_native_handle h);
OVXPLAT_SYCL_EXPORT kernel make_kernel_from(backend b, pi_native_handle h, const context& c);
OVXPLAT_SYCL_EXPORT event make_event_from(backend b, pi_native_handle h, const context& c);

// Context and queue from native handles, with the runtime's own argument
// order (handle, handler, backend, ownership, devices).
OVXPLAT_SYCL_EXPORT context make_context(pi_native_handle handle, const async_handler& handler, backend b,
                                         bool keep_ownership = false, const std::vector<device>& devices = {});
// handle_type: 0 a command queue, 1 an immediate command list (Level Zero).
OVXPLAT_SYCL_EXPORT queue make_queue(pi_native_handle handle, int32_t handle_type, const context& ctx,
                                     const device* dev, bool keep_ownership, const property_list& props,
                                     const async_handler& handler, backend b);
}  // namespace detail

template <backend B, typename T>
using backend_return_t = typename detail::interop<B, T>::return_type;
template <backend B, typename T>
using backend_input_t = typename detail::interop<B, T>::input_type;

template <backend B, typename T>
backend_return_t<B, T> get_native(const T& obj) {
    if (obj.get_backend() != B) detail::throw_error(errc::backend_mismatch, "Backends mismatch");
    if constexpr (std::is_same_v<T, event>) {
        if constexpr (B == backend::opencl)
            return detail::native_events_of(obj.impl().get());
        else
            return detail::native_of(obj.impl().get(), 'e', B);
    } else {
        char k = std::is_same_v<T, platform> ? 'p'
                 : std::is_same_v<T, device> ? 'd'
                 : std::is_same_v<T, context> ? 'c'
                 : std::is_same_v<T, queue> ? 'q'
                                            : 'k';
        return reinterpret_cast<backend_return_t<B, T>>(detail::native_of(obj.impl().get(), k, B));
    }
}

template <backend B>
platform make_platform(const backend_input_t<B, platform>& h) {
    return detail::make_platform_from(B, reinterpret_cast<detail::pi_native_handle>(h));
}
template <backend B>
device make_device(const backend_input_t<B, device>& h) {
    return detail::make_device_from(B, reinterpret_cast<detail::pi_native_handle>(h));
}
template <backend B>
context make_context(const backend_input_t<B, context>& h, const async_handler& ah = {}) {
    return detail::make_context(reinterpret_cast<detail::pi_native_handle>(h), ah, B, false, {});
}
template <backend B>
queue make_queue(const backend_input_t<B, queue>& h, const context& c, const async_handler& ah = {}) {
    return detail::make_queue(reinterpret_cast<detail::pi_native_handle>(h), 0, c, nullptr, false, {}, ah, B);
}
template <backend B>
event make_event(const backend_input_t<B, event>& h, const context& c) {
    return detail::make_event_from(B, reinterpret_cast<detail::pi_native_handle>(h), c);
}
template <backend B>
kernel make_kernel(const backend_input_t<B, kernel>& h, const context& c) {
    return detail::make_kernel_from(B, reinterpret_cast<detail::pi_native_handle>(h), c);
}

// Handle given to host tasks that take one.
class interop_handle {
public:
    interop_handle() = delete;
    backend get_backend() const noexcept { return q_.get_backend(); }
    template <backend B>
    backend_return_t<B, queue> get_native_queue() const {
        return get_native<B>(q_);
    }
    template <backend B>
    backend_return_t<B, device> get_native_device() const {
        return get_native<B>(q_.get_device());
    }
    template <backend B>
    backend_return_t<B, context> get_native_context() const {
        return get_native<B>(q_.get_context());
    }
    explicit interop_handle(queue q) : q_(std::move(q)) {}

private:
    queue q_;
};

}  // namespace _V1
}  // namespace sycl
