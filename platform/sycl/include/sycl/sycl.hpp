// SYCL 2020 stand-in of the korami platform layer.
//
// The "GPU" device runs OpenCL programs (kernel objects made with
// make_kernel) on the machine's OpenCL device and host kernels (lambdas and
// function objects) on host threads; it describes itself through the current
// device profile (<ovxplat/profile.h>). The CPU device runs host kernels.
#pragma once

#include "detail/core.hpp"
#include "detail/runtime.hpp"
#include "detail/bundle.hpp"
#include "detail/buffer.hpp"
#include "detail/handler.hpp"
#include "detail/queue.hpp"
#include "detail/interop.hpp"
#include "detail/builtins.hpp"

namespace std {
#define OVXPLAT_SYCL_HASH(T)                                                        \
    template <>                                                                     \
    struct hash<sycl::T> {                                                          \
        size_t operator()(const sycl::T& x) const noexcept {                        \
            return hash<const void*>()(static_cast<const void*>(x.impl().get()));  \
        }                                                                           \
    };
OVXPLAT_SYCL_HASH(platform)
OVXPLAT_SYCL_HASH(device)
OVXPLAT_SYCL_HASH(context)
OVXPLAT_SYCL_HASH(queue)
OVXPLAT_SYCL_HASH(event)
OVXPLAT_SYCL_HASH(kernel)
#undef OVXPLAT_SYCL_HASH
template <>
struct hash<sycl::kernel_id> {
    size_t operator()(const sycl::kernel_id& k) const noexcept { return hash<std::string>()(k.name()); }
};
}  // namespace std
