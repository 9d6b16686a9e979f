// The OpenCL loader: a missing library and a library that lacks an entry
// point are reported (message and error number), never called, and a later
// request loads the library once it is there.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <string>

#include <ovxplat/win32_map.h>

#include "gpu/ovx_gpu.hpp"
#include "gpu/ovx_opencl.hpp"

namespace {

namespace gpu = korami::ovx::gpu;


// The kernel request's failure message, or "" when it did not fail.
std::string failure_of_kernel_request(sycl::queue& q, int* status) {
    try {
        sycl::kernel* k = gpu::get_OCL_kernel_by_progname(status, &q, 2, "p.loader",
                                                          "__kernel void k(__global int* p) {}", "k", "");
        gpu::release_kernel_obj(nullptr, k);
    } catch (const sycl::exception& e) {
        return e.what();
    }
    return std::string();
}

void loader_child() {
    int failures = 0;
    auto check = [&](bool ok, const char* what) {
        if (!ok) {
            fprintf(stderr, "failed: %s\n", what);
            ++failures;
        }
    };
    sycl::queue q{sycl::gpu_selector_v};

    // 1. No OpenCL library at all.
    ovxplat_win32_map_set("OpenCL.dll", nullptr);
    int status = 0;
    std::string m = failure_of_kernel_request(q, &status);
    fprintf(stderr, "%s\n", m.c_str());
    check(m.rfind("OpenCL error -1001: the OpenCL library \"OpenCL.dll\" cannot be loaded", 0) == 0,
          "missing library message");
    check(status == -1001, "missing library status");
    static const uint8_t bytes[8] = {0};
    ovx_gpu_binary_kernel_t b{sizeof bytes, bytes, 0, nullptr};
    status = 0;
    check(gpu::get_binary_kernel(&status, &q, 2, &b, "k") == nullptr && status == -1001,
          "binary kernel without OpenCL");
    std::string error;
    check(gpu::ocl::load(&error) == nullptr && !error.empty(), "load reports");

    // 2. A library without clCreateProgramWithBinary (and the rest).
    ovxplat_win32_map_set("OpenCL.dll", OVX_TEST_PARTIAL_OPENCL);
    status = 0;
    m = failure_of_kernel_request(q, &status);
    fprintf(stderr, "%s\n", m.c_str());
    check(m == "OpenCL error -1001: the OpenCL entry point \"clCreateProgramWithBinary\" is "
               "missing in \"OpenCL.dll\"",
          "missing entry message");
    check(status == -1001, "missing entry status");
    check(gpu::ocl::load_count() == 0, "nothing loaded");

    // 3. The platform's OpenCL: loaded once, entries resolved.
    ovxplat_win32_map_reset();
    const gpu::ocl::entries* cl = gpu::ocl::load(&error);
    check(cl != nullptr, "loaded");
    check(cl != nullptr && cl->clBuildProgram != nullptr && cl->clCreateKernel != nullptr,
          "entries");
    check(gpu::ocl::load(nullptr) == cl && gpu::ocl::load_count() == 1, "loaded once");
    fprintf(stderr, "failures=%d\n", failures);
    exit(failures == 0 ? 0 : 1);
}

TEST(OpenCLLoaderDeathTest, MissingLibraryThenMissingEntryThenLoaded) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // fresh process
    EXPECT_EXIT(loader_child(), ::testing::ExitedWithCode(0), "failures=0");
}

}  // namespace
