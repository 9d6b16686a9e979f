// The profile named by OVXPLAT_GPU_PROFILE is in force from the first query.
#include <gtest/gtest.h>
#include <ovxplat/profile.h>
#include <ovxplat/sycl_standin.hpp>
#include <sycl/sycl.hpp>

#include <cstdlib>

TEST(SyclProfileEnv, EnvironmentSelectsTheProfile) {
    const char* env = std::getenv("OVXPLAT_GPU_PROFILE");
    if (!env) GTEST_SKIP() << "run through ctest, which sets OVXPLAT_GPU_PROFILE";
    sycl::device d{sycl::gpu_selector_v};
    EXPECT_EQ(ovxplat::current_gpu_profile(), env);
    EXPECT_EQ(d.get_info<sycl::info::device::name>(), ovxplat_gpu_profile_find(env)->device_name);
    EXPECT_FALSE(d.has(sycl::aspect::fp64));
    // The API still switches afterwards; the earlier device keeps its description.
    ovxplat::scoped_gpu_profile s("quen6");
    sycl::device d6{sycl::gpu_selector_v};
    EXPECT_TRUE(d6.has(sycl::aspect::fp64));
    EXPECT_FALSE(d.has(sycl::aspect::fp64));
}
