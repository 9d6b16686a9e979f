// OpenCL kernels launched with a plain range: the stand-in picks the
// work-group size. Every work-item runs exactly once, the groups tile the
// range, and they stay within the kernel's and the device's limits.
#include <gtest/gtest.h>

#include "ovx_test_gpu.hpp"
#include <ovxplat/sycl_standin.hpp>
#include <sycl/sycl.hpp>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

const char* kSource = R"CLC(
/* Each work-item counts its visit and records its work-group's shape. */
__kernel void visit(__global int* hits, __global uint* shape) {
    size_t w = get_global_size(0), h = get_global_size(1);
    size_t i = (get_global_id(2) * h + get_global_id(1)) * w + get_global_id(0);
    atomic_inc(&hits[i]);
    shape[3 * i + 0] = (uint)get_local_size(0);
    shape[3 * i + 1] = (uint)get_local_size(1);
    shape[3 * i + 2] = (uint)get_local_size(2);
}
__kernel __attribute__((reqd_work_group_size(4, 2, 1))) void fixed(__global int* hits, __global uint* shape) {
    size_t i = get_global_id(1) * get_global_size(0) + get_global_id(0);
    atomic_inc(&hits[i]);
    shape[3 * i + 0] = (uint)get_local_size(0);
    shape[3 * i + 1] = (uint)get_local_size(1);
    shape[3 * i + 2] = (uint)get_local_size(2);
}
)CLC";

struct launch_case {
    const char* name;
    const char* kernel;
    std::size_t g[3];  // SYCL order: the last extent is OpenCL's dimension 0
};

std::ostream& operator<<(std::ostream& o, const launch_case& c) { return o << c.name; }

class PlainRangeLaunch : public ::testing::TestWithParam<launch_case> {
protected:
    void SetUp() override {
        OVX_REQUIRE_OPENCL();
    }
};

TEST_P(PlainRangeLaunch, EveryItemRunsOnceInGroupsThatTileTheRange) {
    const launch_case& c = GetParam();
    sycl::queue q{sycl::gpu_selector_v};
    cl_context ctx = sycl::get_native<sycl::backend::opencl>(q.get_context());
    cl_device_id dev = sycl::get_native<sycl::backend::opencl>(q.get_device());
    cl_int err = CL_SUCCESS;
    cl_program prog = clCreateProgramWithSource(ctx, 1, &kSource, nullptr, &err);
    ASSERT_EQ(err, CL_SUCCESS);
    ASSERT_EQ(clBuildProgram(prog, 1, &dev, "", nullptr, nullptr), CL_SUCCESS);
    cl_kernel ck = clCreateKernel(prog, c.kernel, &err);
    ASSERT_EQ(err, CL_SUCCESS);
    sycl::kernel k = sycl::make_kernel<sycl::backend::opencl>(ck, q.get_context());
    std::size_t max_wg = 0;
    ASSERT_EQ(clGetKernelWorkGroupInfo(ck, dev, CL_KERNEL_WORK_GROUP_SIZE, sizeof max_wg, &max_wg, nullptr),
              CL_SUCCESS);
    clReleaseKernel(ck);
    clReleaseProgram(prog);

    const std::size_t n = c.g[0] * c.g[1] * c.g[2];
    int* hits = sycl::malloc_shared<int>(n, q);
    unsigned* shape = sycl::malloc_shared<unsigned>(3 * n, q);
    std::fill(hits, hits + n, 0);
    q.submit([&](sycl::handler& h) {
         h.set_arg(0, hits);
         h.set_arg(1, shape);
         h.parallel_for(sycl::range<3>(c.g[0], c.g[1], c.g[2]), k);
     }).wait();

    // OpenCL's extents: dimension 0 is SYCL's last.
    const std::size_t cl_g[3] = {c.g[2], c.g[1], c.g[0]};
    std::size_t wrong_hits = 0;
    for (std::size_t i = 0; i < n; ++i) wrong_hits += hits[i] != 1;
    EXPECT_EQ(wrong_hits, 0u);
    std::size_t items = 1;
    for (int d = 0; d < 3; ++d) {
        EXPECT_EQ(shape[d], shape[3 * (n - 1) + d]) << "one shape for the whole launch";
        ASSERT_GT(shape[d], 0u);
        EXPECT_EQ(cl_g[d] % shape[d], 0u) << "dimension " << d;
        items *= shape[d];
    }
    EXPECT_LE(items, max_wg);
    EXPECT_LE(items, sycl::device(sycl::gpu_selector_v).get_info<sycl::info::device::max_work_group_size>());
    if (std::string(c.kernel) == "fixed") {
        EXPECT_EQ(shape[0], 4u);
        EXPECT_EQ(shape[1], 2u);
    } else {
        // Extents with power-of-two factors make groups of 64 items or more.
        std::size_t room = 1;
        for (int d = 0; d < 3; ++d) room *= cl_g[d] & (~cl_g[d] + 1);  // largest power of two dividing it
        if (room >= 256) EXPECT_GE(items, 64u);
    }
    sycl::free(hits, q);
    sycl::free(shape, q);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, PlainRangeLaunch,
    ::testing::Values(launch_case{"Flat4096", "visit", {1, 1, 4096}},
                      launch_case{"FlatPrime4099", "visit", {1, 1, 4099}},
                      launch_case{"TransformPassShape", "visit", {64, 256, 1}},
                      launch_case{"BatchOnlyAlongDimension0", "visit", {4, 1, 64}},
                      launch_case{"OddExtents", "visit", {3, 5, 7}},
                      launch_case{"SingleItem", "visit", {1, 1, 1}},
                      launch_case{"RequiredGroupSizeKept", "fixed", {1, 6, 8}}),
    [](const ::testing::TestParamInfo<launch_case>& i) { return std::string(i.param.name); });

}  // namespace
