// The GPU queue of a test executable and the requirement of a working OpenCL
// device under it. The executable selects its device profile before the
// first use of gpu_queue().
#ifndef OVX_TESTS_OVX_TEST_GPU_HPP
#define OVX_TESTS_OVX_TEST_GPU_HPP

#include <ovxplat/sycl_standin.hpp>
#include <sycl/sycl.hpp>

#include "ovx_test_env.hpp"

namespace ovx_test {

inline sycl::queue& gpu_queue() {
    static sycl::queue q{sycl::gpu_selector_v};
    return q;
}

}  // namespace ovx_test

#define OVX_REQUIRE_OPENCL() OVX_REQUIRE(::ovxplat::opencl_available(), "no usable OpenCL device")

// The GPU with the device profile the executable selected (`profile_ok`).
#define OVX_REQUIRE_GPU(profile_ok)                                 \
    do {                                                            \
        OVX_REQUIRE(profile_ok, "the device profile is not known"); \
        OVX_REQUIRE_OPENCL();                                       \
    } while (0)

#endif
