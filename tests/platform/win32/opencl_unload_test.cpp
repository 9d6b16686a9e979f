// "OpenCL.dll" through the Windows layer: entry points resolved by name, an
// emulated program built, everything released, the module unloaded, and
// loaded again.
#include <gtest/gtest.h>

#include <windows.h>

#include <CL/cl.h>

#include <string>

#include "ovx_test_env.hpp"

namespace {

struct entries {
    decltype(&clGetPlatformIDs) get_platforms;
    decltype(&clGetDeviceIDs) get_devices;
    decltype(&clCreateContext) create_context;
    decltype(&clCreateProgramWithSource) create_program;
    decltype(&clBuildProgram) build_program;
    decltype(&clGetProgramInfo) program_info;
    decltype(&clReleaseProgram) release_program;
    decltype(&clReleaseContext) release_context;
};

template <class F>
bool bind(HMODULE h, const char* name, F* slot) {
    FARPROC p = GetProcAddress(h, name);
    *slot = reinterpret_cast<F>(p);
    return p != nullptr;
}

void use_layer_once() {
    HMODULE h = LoadLibraryExA("OpenCL.dll", nullptr, LOAD_LIBRARY_SAFE_CURRENT_DIRS);
    ASSERT_NE(h, nullptr);
    entries e{};
    ASSERT_TRUE(bind(h, "clGetPlatformIDs", &e.get_platforms));
    ASSERT_TRUE(bind(h, "clGetDeviceIDs", &e.get_devices));
    ASSERT_TRUE(bind(h, "clCreateContext", &e.create_context));
    ASSERT_TRUE(bind(h, "clCreateProgramWithSource", &e.create_program));
    ASSERT_TRUE(bind(h, "clBuildProgram", &e.build_program));
    ASSERT_TRUE(bind(h, "clGetProgramInfo", &e.program_info));
    ASSERT_TRUE(bind(h, "clReleaseProgram", &e.release_program));
    ASSERT_TRUE(bind(h, "clReleaseContext", &e.release_context));

    cl_platform_id platform = nullptr;
    cl_uint n = 0;
    if (e.get_platforms(1, &platform, &n) != CL_SUCCESS || n == 0) {
        FreeLibrary(h);
        OVX_REQUIRE(false, "no OpenCL platform");
    }
    cl_device_id device = nullptr;
    ASSERT_EQ(e.get_devices(platform, CL_DEVICE_TYPE_ALL, 1, &device, &n), CL_SUCCESS);
    cl_int err = CL_SUCCESS;
    cl_context ctx = e.create_context(nullptr, 1, &device, nullptr, nullptr, &err);
    ASSERT_EQ(err, CL_SUCCESS);
    const std::string text =
        "#pragma OPENCL EXTENSION cl_tarvo_subgroups : enable\n"
        "__kernel void k(__global float* x) { TARVO_SG_KERNEL_SCRATCH(8);\n"
        "  x[get_global_id(0)] = tarvo_sub_group_shuffle_xor(x[get_global_id(0)], 1); }\n";
    const char* s = text.c_str();
    cl_program p = e.create_program(ctx, 1, &s, nullptr, &err);
    ASSERT_EQ(err, CL_SUCCESS);
    EXPECT_EQ(e.build_program(p, 1, &device, "-cl-tarvo-256-GRF-per-thread", nullptr, nullptr), CL_SUCCESS);
    size_t len = 0;
    EXPECT_EQ(e.program_info(p, CL_PROGRAM_SOURCE, 0, nullptr, &len), CL_SUCCESS);
    EXPECT_EQ(len, text.size() + 1);
    EXPECT_EQ(e.release_program(p), CL_SUCCESS);
    EXPECT_EQ(e.release_context(ctx), CL_SUCCESS);
    EXPECT_TRUE(FreeLibrary(h));
}

TEST(Win32OpenCL, LoadUseUnloadTwice) {
    use_layer_once();
    if (HasFatalFailure() || IsSkipped()) return;
    use_layer_once();
}

TEST(Win32OpenCL, ProgramsLeftAtUnloadAreNotLost) {
    // A program still alive when the module goes away: the module's records
    // are freed with it, the program stays the driver's.
    HMODULE h = LoadLibraryExA("OpenCL.dll", nullptr, 0);
    ASSERT_NE(h, nullptr);
    decltype(&clGetPlatformIDs) get_platforms;
    ASSERT_TRUE(bind(h, "clGetPlatformIDs", &get_platforms));
    cl_platform_id platform = nullptr;
    cl_uint n = 0;
    if (get_platforms(1, &platform, &n) != CL_SUCCESS || n == 0) {
        FreeLibrary(h);
        OVX_REQUIRE(false, "no OpenCL platform");
    }
    decltype(&clGetDeviceIDs) get_devices;
    decltype(&clCreateContext) create_context;
    decltype(&clCreateProgramWithSource) create_program;
    ASSERT_TRUE(bind(h, "clGetDeviceIDs", &get_devices));
    ASSERT_TRUE(bind(h, "clCreateContext", &create_context));
    ASSERT_TRUE(bind(h, "clCreateProgramWithSource", &create_program));
    cl_device_id device = nullptr;
    ASSERT_EQ(get_devices(platform, CL_DEVICE_TYPE_ALL, 1, &device, &n), CL_SUCCESS);
    cl_int err = CL_SUCCESS;
    cl_context ctx = create_context(nullptr, 1, &device, nullptr, nullptr, &err);
    const char* s = "#pragma OPENCL EXTENSION cl_tarvo_subgroups : enable\n__kernel void k() {}\n";
    cl_program p = create_program(ctx, 1, &s, nullptr, &err);
    ASSERT_EQ(err, CL_SUCCESS);
    EXPECT_TRUE(FreeLibrary(h));
    // Released through the machine's own loader afterwards.
    HMODULE icd = LoadLibraryA("libOpenCL.so.1");
    ASSERT_NE(icd, nullptr);
    decltype(&clReleaseProgram) release_program;
    decltype(&clReleaseContext) release_context;
    ASSERT_TRUE(bind(icd, "clReleaseProgram", &release_program));
    ASSERT_TRUE(bind(icd, "clReleaseContext", &release_context));
    EXPECT_EQ(release_program(p), CL_SUCCESS);
    EXPECT_EQ(release_context(ctx), CL_SUCCESS);
    FreeLibrary(icd);
}

}  // namespace
