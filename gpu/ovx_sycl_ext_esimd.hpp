// The one place where the library names the explicit-SIMD extension of the
// SYCL implementation: its header and the namespace the library uses for it.
#pragma once

#include <sycl/sycl.hpp>
#include <sycl/ext/tarvo/esimd.hpp>

namespace korami::ovx::gpu {
namespace esimd = sycl::ext::tarvo::esimd;
}  // namespace korami::ovx::gpu
