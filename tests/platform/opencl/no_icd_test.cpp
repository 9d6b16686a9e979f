// The OpenCL layer when the library it forwards to is missing or lacks
// entry points: every entry point fails with a status, nothing crashes.
// Each case runs in a fresh process (the layer binds its library once).
#include <gtest/gtest.h>

#include <CL/cl.h>
#include <CL/cl_ext.h>

#include <cstdlib>

namespace {

int probe_layer() {
    cl_uint n = 99;
    cl_platform_id p = nullptr;
    if (clGetPlatformIDs(1, &p, &n) != CL_PLATFORM_NOT_FOUND_KHR) return 1;
    if (n != 0) return 2;
    cl_int err = CL_SUCCESS;
    if (clCreateContext(nullptr, 0, nullptr, nullptr, nullptr, &err) != nullptr || err != CL_INVALID_OPERATION)
        return 3;
    const char* text = "#pragma OPENCL EXTENSION cl_tarvo_subgroups : enable\n";
    err = CL_SUCCESS;
    if (clCreateProgramWithSource(nullptr, 1, &text, nullptr, &err) != nullptr || err != CL_INVALID_OPERATION)
        return 4;
    if (clBuildProgram(nullptr, 0, nullptr, "-cl-tarvo-256-GRF-per-thread", nullptr, nullptr) != CL_INVALID_OPERATION)
        return 5;
    size_t size = 0;
    if (clGetDeviceInfo(nullptr, CL_DEVICE_EXTENSIONS, 0, nullptr, &size) != CL_INVALID_OPERATION) return 6;
    if (clSVMAlloc(nullptr, 0, 64, 0) != nullptr) return 7;
    clSVMFree(nullptr, nullptr);  // nothing to call: must simply return
    if (clGetExtensionFunctionAddressForPlatform(nullptr, "clIcdGetPlatformIDsKHR") != nullptr) return 8;
    return 0;
}

TEST(LayerWithoutICD, StubLibraryWithOneEntryPoint) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            setenv("OVXPLAT_OPENCL_ICD", OVX_TEST_ICD_STUB, 1);
            std::_Exit(probe_layer());
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(LayerWithoutICD, MissingLibrary) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            setenv("OVXPLAT_OPENCL_ICD", "/nonexistent/libOpenCL.so.1", 1);
            std::_Exit(probe_layer());
        },
        ::testing::ExitedWithCode(0), "cannot load /nonexistent/libOpenCL.so.1");
}

}  // namespace
