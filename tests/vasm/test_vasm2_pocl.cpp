// The carrier build and the probe driver on this machine's OpenCL driver
// (PoCL), reached as "OpenCL.dll" through the Windows layer. PoCL builds
// OpenCL C but takes no hand-made GPU binary: every probe ends with an empty
// record, without an exception and without leaks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <ovxplat/win32_map.h>
#include <windows.h>

#include "korami/ovx/gpu_types.h"
#include "vasm/vasm.hpp"
#include "vasm/vasm_carrier.hpp"
#include "ovx_test_env.hpp"
#include "vasm/vasm_probe_driver.hpp"

namespace {

using namespace korami::ovx::vasm;

class Vasm2Pocl : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ovxplat_win32_map_set("OpenCL.dll", VASM2_SYSTEM_OPENCL);
        module_ = LoadLibraryExA("OpenCL.dll", nullptr, 0);
        cl_platform_id platform = nullptr;
        cl_uint n = 0;
        if (clGetPlatformIDs(1, &platform, &n) != CL_SUCCESS || n == 0) return;
        if (clGetDeviceIDs(platform, CL_DEVICE_TYPE_ALL, 1, &device_, &n) != CL_SUCCESS || n == 0) return;
        cl_int err = 0;
        context_ = clCreateContext(nullptr, 1, &device_, nullptr, nullptr, &err);
        if (err != CL_SUCCESS) context_ = nullptr;
    }
    static void TearDownTestSuite() {
        if (context_) clReleaseContext(context_);
        if (module_) FreeLibrary(module_);
    }
    void SetUp() override {
        OVX_REQUIRE(module_ && context_, "no usable OpenCL device");
    }
    static HMODULE module_;
    static cl_device_id device_;
    static cl_context context_;
};
HMODULE Vasm2Pocl::module_ = nullptr;
cl_device_id Vasm2Pocl::device_ = nullptr;
cl_context Vasm2Pocl::context_ = nullptr;

TEST_F(Vasm2Pocl, ProgramBinaryOfAPlainKernel) {
    const char* source = "kernel void plain(global int *p) { p[get_global_id(0)] = 7; }\n";
    const std::vector<uint8_t> binary = get_opencl_c_program_binary(context_, device_, source, "-cl-std=CL2.0");
    ASSERT_FALSE(binary.empty());
    // The driver takes its own binary back and builds a kernel from it.
    const unsigned char* bytes = binary.data();
    const size_t size = binary.size();
    cl_int status = 0, err = 0;
    cl_program program = clCreateProgramWithBinary(context_, 1, &device_, &size, &bytes, &status, &err);
    ASSERT_EQ(err, CL_SUCCESS);
    EXPECT_EQ(clBuildProgram(program, 1, &device_, nullptr, nullptr, nullptr), CL_SUCCESS);
    cl_kernel kernel = clCreateKernel(program, "plain", &err);
    EXPECT_EQ(err, CL_SUCCESS);
    if (kernel) clReleaseKernel(kernel);
    clReleaseProgram(program);
    // A text that does not compile gives the driver's status.
    try {
        get_opencl_c_program_binary(context_, device_, "kernel void broken( {", "");
        FAIL() << "no exception";
    } catch (const opencl_error& e) {
        EXPECT_EQ(e.status, CL_BUILD_PROGRAM_FAILURE);
    }
}

TEST_F(Vasm2Pocl, EveryProbeEndsEmpty) {
    for (int round = 0; round < 2; ++round) {
        for (int arch = 0; arch <= 9; ++arch) {
            ovx_gpu_binary_kernel_t record{1, nullptr, 1, nullptr};
            std::vector<uint8_t>* owner = nullptr;
            int status = -7;
            build_binary_test_binary(&status, arch, context_, device_, &record, &owner);
            EXPECT_EQ(status, -7);
            EXPECT_EQ(record.bytes, nullptr) << arch;
            EXPECT_EQ(record.size, 0u) << arch;
            EXPECT_EQ(record.carrier_length, 0u);
            EXPECT_STREQ(record.carrier_source, "");
            if (owner) {
                EXPECT_TRUE(owner->empty());
            }
            delete owner;
        }
    }
    EXPECT_FALSE(probe_state::gpu_elf_verified(device_, 5));
    // Without a compat note PoCL's binaries name no generation.
    EXPECT_EQ(detect_arch_from_compat_note(context_, device_), 0);
}

}  // namespace
