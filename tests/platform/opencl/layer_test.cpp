// The OpenCL layer's additions: device queries, build options, texts with
// and without the extension, and the profile without double precision.
#include <gtest/gtest.h>

#include <ovxplat/cl_tarvo.h>
#include <ovxplat/profile.h>

#include <cstring>
#include <string>
#include <vector>

#include "cl_fixture.hpp"
#include "ovx_test_env.hpp"

namespace {

using ovxtest::env;

std::string device_string(cl_device_info what) {
    size_t n = 0;
    EXPECT_EQ(clGetDeviceInfo(env().device, what, 0, nullptr, &n), CL_SUCCESS);
    std::string s(n, '\0');
    EXPECT_EQ(clGetDeviceInfo(env().device, what, n, &s[0], nullptr), CL_SUCCESS);
    if (!s.empty() && s.back() == '\0') s.pop_back();
    return s;
}

bool has_word(const std::string& list, const char* word) {
    size_t n = std::strlen(word), pos = 0;
    while ((pos = list.find(word, pos)) != std::string::npos) {
        bool start = pos == 0 || list[pos - 1] == ' ';
        bool end = pos + n == list.size() || list[pos + n] == ' ';
        if (start && end) return true;
        pos += n;
    }
    return false;
}

std::string program_source(cl_program p) {
    size_t n = 0;
    EXPECT_EQ(clGetProgramInfo(p, CL_PROGRAM_SOURCE, 0, nullptr, &n), CL_SUCCESS);
    std::string s(n, '\0');
    EXPECT_EQ(clGetProgramInfo(p, CL_PROGRAM_SOURCE, n, &s[0], nullptr), CL_SUCCESS);
    if (!s.empty() && s.back() == '\0') s.pop_back();
    return s;
}

class Layer : public ::testing::Test {
protected:
    void SetUp() override {
        OVX_REQUIRE(env().device, "no usable OpenCL device");
    }
};

struct profile_case {
    const char* name;
    std::vector<size_t> sizes;
    bool fp64;
};

class LayerProfile : public ::testing::TestWithParam<profile_case> {
protected:
    void SetUp() override {
        OVX_REQUIRE(env().device, "no usable OpenCL device");
    }
};

TEST_P(LayerProfile, DeviceReportsTheProfile) {
    const profile_case& c = GetParam();
    ovxtest::profile_guard guard(c.name);
    const ovxplat_gpu_profile* prof = ovxplat_gpu_profile_current();

    std::string ext = device_string(CL_DEVICE_EXTENSIONS);
    EXPECT_TRUE(has_word(ext, "cl_tarvo_subgroups")) << ext;
    EXPECT_EQ(has_word(ext, "cl_khr_fp64"), c.fp64) << ext;

    size_t n = 0;
    ASSERT_EQ(clGetDeviceInfo(env().device, CL_DEVICE_SUB_GROUP_SIZES_TARVO, 0, nullptr, &n), CL_SUCCESS);
    ASSERT_EQ(n, c.sizes.size() * sizeof(size_t));
    std::vector<size_t> sizes(c.sizes.size());
    ASSERT_EQ(clGetDeviceInfo(env().device, CL_DEVICE_SUB_GROUP_SIZES_TARVO, n, sizes.data(), nullptr), CL_SUCCESS);
    EXPECT_EQ(sizes, c.sizes);
    // A buffer too small for the answer is refused.
    size_t one = 0;
    EXPECT_EQ(clGetDeviceInfo(env().device, CL_DEVICE_SUB_GROUP_SIZES_TARVO, sizeof one, &one, nullptr),
              CL_INVALID_VALUE);

    cl_device_fp_config dbl = 0;
    ASSERT_EQ(clGetDeviceInfo(env().device, CL_DEVICE_DOUBLE_FP_CONFIG, sizeof dbl, &dbl, nullptr), CL_SUCCESS);
    EXPECT_EQ(dbl != 0, c.fp64);

    EXPECT_EQ(device_string(CL_DEVICE_NAME), prof->device_name);
    size_t wg = 0;
    ASSERT_EQ(clGetDeviceInfo(env().device, CL_DEVICE_MAX_WORK_GROUP_SIZE, sizeof wg, &wg, nullptr), CL_SUCCESS);
    EXPECT_LE(wg, prof->max_work_group_size);

    // The versioned extension list agrees with the string.
    ASSERT_EQ(clGetDeviceInfo(env().device, CL_DEVICE_EXTENSIONS_WITH_VERSION, 0, nullptr, &n), CL_SUCCESS);
    std::vector<cl_name_version> v(n / sizeof(cl_name_version));
    ASSERT_EQ(clGetDeviceInfo(env().device, CL_DEVICE_EXTENSIONS_WITH_VERSION, n, v.data(), nullptr), CL_SUCCESS);
    bool sg = false, fp64 = false;
    for (const cl_name_version& x : v) {
        sg |= std::strcmp(x.name, "cl_tarvo_subgroups") == 0;
        fp64 |= std::strcmp(x.name, "cl_khr_fp64") == 0;
    }
    EXPECT_TRUE(sg);
    EXPECT_EQ(fp64, c.fp64);
}

INSTANTIATE_TEST_SUITE_P(Profiles, LayerProfile,
                         ::testing::Values(profile_case{"quen6", {16, 32}, true},
                                           profile_case{"quen5", {8, 16, 32}, true},
                                           profile_case{"quen5_nofp64", {8, 16, 32}, false}),
                         [](const ::testing::TestParamInfo<profile_case>& i) { return std::string(i.param.name); });

TEST_F(Layer, InvalidDeviceIsRefusedByTheDriver) {
    size_t n = 0;
    EXPECT_NE(clGetDeviceInfo(nullptr, CL_DEVICE_SUB_GROUP_SIZES_TARVO, 0, nullptr, &n), CL_SUCCESS);
    EXPECT_NE(clGetDeviceInfo(nullptr, CL_DEVICE_EXTENSIONS, 0, nullptr, &n), CL_SUCCESS);
}

TEST_F(Layer, TextWithoutTheExtensionBuildsUntouched) {
    const std::string text =
        "#ifdef TARVO_SG_EMULATION\n#error the prelude must not be here\n#endif\n"
        "__kernel void plain(__global int* x) { x[get_global_id(0)] += 1; }\n";
    ovxtest::build_result r = ovxtest::build(text, "");
    ASSERT_EQ(r.create_status, CL_SUCCESS);
    EXPECT_EQ(r.build_status, CL_SUCCESS) << r.log;
    EXPECT_EQ(program_source(r.program), text);
    EXPECT_EQ(clReleaseProgram(r.program), CL_SUCCESS);
}

TEST_F(Layer, EmulatedTextKeepsItsSourceAndOptionsAreAccepted) {
    const std::string text =
        "#pragma OPENCL EXTENSION cl_tarvo_subgroups : enable\n"
        "#ifndef TARVO_SG_EMULATION\n#error no emulation\n#endif\n"
        "#ifndef cl_tarvo_subgroups_long\n#error the macro option is lost\n#endif\n"
        "__attribute__((reqd_work_group_size(16, 1, 1))) __attribute__((tarvo_reqd_sub_group_size(8)))\n"
        "__kernel void k(__global float* x) { TARVO_SG_KERNEL_SCRATCH(8);\n"
        "  x[get_global_id(0)] = tarvo_sub_group_shuffle_xor(x[get_global_id(0)], 1); }\n";
    ovxtest::build_result r =
        ovxtest::build(text, "-cl-tarvo-256-GRF-per-thread -Dcl_tarvo_subgroups_long -DX=1");
    ASSERT_EQ(r.create_status, CL_SUCCESS);
    EXPECT_EQ(r.build_status, CL_SUCCESS) << r.log;
    EXPECT_EQ(r.log.find("cl_tarvo_subgroups' unknown"), std::string::npos) << r.log;
    EXPECT_EQ(program_source(r.program), text);
    // A kernel without the emulated one next to it: the same program runs.
    cl_int err;
    cl_kernel k = clCreateKernel(r.program, "k", &err);
    EXPECT_EQ(err, CL_SUCCESS);
    if (k) clReleaseKernel(k);
    EXPECT_EQ(clReleaseProgram(r.program), CL_SUCCESS);
}

TEST_F(Layer, RegisterOptionWithoutTheExtensionAndOtherOptionsStay) {
    // Dropping the register option must not disturb its neighbours.
    const std::string text =
        "#if A != 3 || B != 4\n#error options lost\n#endif\n"
        "__kernel void k(__global int* x) { x[0] = A + B; }\n";
    ovxtest::build_result r = ovxtest::build(text, "-DA=3 -cl-tarvo-256-GRF-per-thread -DB=4");
    EXPECT_EQ(r.build_status, CL_SUCCESS) << r.log;
    clReleaseProgram(r.program);
    // An option that merely starts with the same text is not removed.
    r = ovxtest::build(text, "-DA=3 -DB=4 -cl-tarvo-256-GRF-per-threadX");
    EXPECT_NE(r.build_status, CL_SUCCESS);
    clReleaseProgram(r.program);
}

TEST_F(Layer, BuildLogPointsAtTheCallersLines) {
    const std::string text =
        "#pragma OPENCL EXTENSION cl_tarvo_subgroups : enable\n"
        "__kernel void k(__global float* x) {\n"
        "  TARVO_SG_KERNEL_SCRATCH(8);\n"
        "  x[0] = undefined_name;\n"
        "}\n";
    ovxtest::build_result r = ovxtest::build(text, "");
    EXPECT_EQ(r.build_status, CL_BUILD_PROGRAM_FAILURE);
    EXPECT_NE(r.log.find(":4:"), std::string::npos) << r.log;
    EXPECT_NE(r.log.find("undefined_name"), std::string::npos) << r.log;
    clReleaseProgram(r.program);
}

TEST_F(Layer, HelperWithoutTheHiddenParameterDoesNotBuild) {
    const std::string text =
        "#pragma OPENCL EXTENSION cl_tarvo_subgroups : enable\n"
        "float h(float x) { return tarvo_sub_group_shuffle_xor(x, 1); }\n"
        "__kernel void k(__global float* x) { TARVO_SG_KERNEL_SCRATCH(8); x[0] = h(x[0]); }\n";
    ovxtest::build_result r = ovxtest::build(text, "");
    EXPECT_EQ(r.build_status, CL_BUILD_PROGRAM_FAILURE);
    EXPECT_NE(r.log.find("_tsg"), std::string::npos) << r.log;
    clReleaseProgram(r.program);
}

TEST_F(Layer, DoubleFailsToBuildOnAProfileWithoutIt) {
    ovxtest::profile_guard guard("quen5_nofp64");
    const std::string dbl =
        "__kernel void k(__global float* x) {\n"
        "  double y = x[0];\n"
        "  x[0] = (float)(y * 2);\n"
        "}\n";
    ovxtest::build_result r = ovxtest::build(dbl, "");
    ASSERT_EQ(r.create_status, CL_SUCCESS);
    EXPECT_EQ(r.build_status, CL_BUILD_PROGRAM_FAILURE);
    EXPECT_NE(r.log.find("double type is not supported on this device"), std::string::npos) << r.log;
    EXPECT_NE(r.log.find(":2:"), std::string::npos) << r.log;
    EXPECT_EQ(r.log.find("_tarvo_double_unsupported"), std::string::npos) << r.log;
    EXPECT_EQ(program_source(r.program), dbl);
    clReleaseProgram(r.program);

    // Vectors of double too, also in a text with the extension.
    const std::string vec =
        "#pragma OPENCL EXTENSION cl_tarvo_subgroups : enable\n"
        "__kernel void k(__global double2* x) { TARVO_SG_KERNEL_SCRATCH(8); x[0] = x[1]; }\n";
    r = ovxtest::build(vec, "");
    EXPECT_EQ(r.build_status, CL_BUILD_PROGRAM_FAILURE);
    EXPECT_NE(r.log.find("double type is not supported on this device"), std::string::npos) << r.log;
    clReleaseProgram(r.program);

    // Single precision texts build, with and without the extension.
    const std::string flt =
        "#pragma OPENCL EXTENSION cl_tarvo_subgroups : enable\n"
        "__kernel void k(__global float* x) { TARVO_SG_KERNEL_SCRATCH(8);\n"
        "  x[get_global_id(0)] = tarvo_sub_group_shuffle_xor(x[get_global_id(0)], 1); }\n";
    r = ovxtest::build(flt, "");
    EXPECT_EQ(r.build_status, CL_SUCCESS) << r.log;
    clReleaseProgram(r.program);
    r = ovxtest::build("__kernel void k(__global float* x) { x[0] *= 2.0f; }\n", "");
    EXPECT_EQ(r.build_status, CL_SUCCESS) << r.log;
    clReleaseProgram(r.program);
}

TEST_F(Layer, EveryDocumentedOverloadBuilds) {
    const std::string text = R"CLC(
#pragma OPENCL EXTENSION cl_tarvo_subgroups : enable
#pragma OPENCL EXTENSION cl_khr_fp64 : enable
#define ALL(T) \
    { T v = (T)(1); v = tarvo_sub_group_shuffle(v, 1); v = tarvo_sub_group_shuffle_xor(v, 1); *(__global T*)o = v; }
#define VEC(T) ALL(T) ALL(T##2) ALL(T##3) ALL(T##4) ALL(T##8)
uint lane_of(TARVO_SG_PARAM_ONLY) { return get_sub_group_local_id(); }
__attribute__((reqd_work_group_size(16, 1, 1))) __attribute__((tarvo_reqd_sub_group_size(16)))
__attribute__((tarvo_reqd_workgroup_walk_order(0, 1)))
__kernel void k(__global ulong8* o, __global uint* w, __global ulong* l) {
    TARVO_SG_KERNEL_SCRATCH(16);
    VEC(char) VEC(uchar) VEC(short) VEC(ushort) VEC(int) VEC(uint) VEC(long) VEC(ulong) VEC(float) VEC(double)
    uint8 a = tarvo_sub_group_block_read8(w);
    tarvo_sub_group_block_write8(w, a);
    ulong8 b = tarvo_sub_group_block_read_ul8(l);
    tarvo_sub_group_block_write_ul8(l, b);
    tarvo_sub_group_barrier();
    sub_group_barrier(CLK_LOCAL_MEM_FENCE);
    w[0] = get_sub_group_local_id() + get_sub_group_id() + get_sub_group_size() + get_max_sub_group_size() +
           get_num_sub_groups() + get_enqueued_num_sub_groups() + lane_of(TARVO_SG_ARG_ONLY);
}
)CLC";
    ovxtest::build_result r = ovxtest::build(text, "");
    EXPECT_EQ(r.build_status, CL_SUCCESS) << r.log;
    clReleaseProgram(r.program);
}

TEST_F(Layer, CreateProgramChecksItsArguments) {
    cl_int err = CL_SUCCESS;
    EXPECT_EQ(clCreateProgramWithSource(env().context, 0, nullptr, nullptr, &err), nullptr);
    EXPECT_EQ(err, CL_INVALID_VALUE);
    const char* none[1] = {nullptr};
    EXPECT_EQ(clCreateProgramWithSource(env().context, 1, none, nullptr, &err), nullptr);
    EXPECT_EQ(err, CL_INVALID_VALUE);
    // Several strings with explicit lengths form one text.
    const char* parts[2] = {"#pragma OPENCL EXTENSION cl_tarvo_subgroups : enable\n__kernel void k(__global int* x)XXXX",
                            " { x[0] = 1; }\n"};
    size_t lengths[2] = {std::strlen(parts[0]) - 4, 0};
    cl_program p = clCreateProgramWithSource(env().context, 2, parts, lengths, &err);
    ASSERT_EQ(err, CL_SUCCESS);
    EXPECT_EQ(clBuildProgram(p, 1, &env().device, nullptr, nullptr, nullptr), CL_SUCCESS);
    EXPECT_EQ(program_source(p), std::string(parts[0], lengths[0]) + parts[1]);
    clReleaseProgram(p);
}

// Runs `name` of `p` over `global` work-items (work-group `local`, or the
// driver's choice when 0) on an int buffer of `global` zeros; returns the
// launch status and the buffer.
cl_int launch_ints(cl_program p, const char* name, size_t global, size_t local, std::vector<int>* out) {
    cl_int err = CL_SUCCESS;
    cl_kernel k = clCreateKernel(p, name, &err);
    if (err != CL_SUCCESS) return err;
    out->assign(global, 0);
    cl_mem m = ovxtest::buffer(global * sizeof(int), out->data());
    clSetKernelArg(k, 0, sizeof m, &m);
    err = clEnqueueNDRangeKernel(env().queue, k, 1, nullptr, &global, local ? &local : nullptr, 0, nullptr, nullptr);
    if (err == CL_SUCCESS) ovxtest::read(m, global * sizeof(int), out->data());
    clReleaseMemObject(m);
    clReleaseKernel(k);
    return err;
}

int count_of(const std::vector<int>& v, int value) {
    int n = 0;
    for (int x : v) n += x == value;
    return n;
}

const char k_lane_pair_text[] =
    "#pragma OPENCL EXTENSION cl_tarvo_subgroups : enable\n"
    "#define TARVO_SG_PAIR_VOCABULARY 1\n"
    "__attribute__((reqd_work_group_size(16, 1, 1))) __attribute__((tarvo_reqd_sub_group_size(8)))\n"
    "__kernel void k(__global int* x) { TARVO_SG_KERNEL_SCRATCH(8); x[get_global_id(0)] = 2; }\n";

TEST_F(Layer, ProgramAtTheAddressOfAFreedLanePairProgramRunsPlain) {
    // The driver frees a program when its last kernel goes after the
    // program's own release; a plain program it then creates at the same
    // address must be built and launched as the plain text it is.
    const std::string plain = "__kernel void k(__global int* x) { x[get_global_id(0)] = 1; }\n";
    for (int round = 0; round < 6; ++round) {
        ovxtest::build_result pairs = ovxtest::build(k_lane_pair_text, "");
        ASSERT_EQ(pairs.build_status, CL_SUCCESS) << pairs.log;
        cl_int err = CL_SUCCESS;
        cl_kernel held = clCreateKernel(pairs.program, "k", &err);
        ASSERT_EQ(err, CL_SUCCESS);
        EXPECT_EQ(clReleaseProgram(pairs.program), CL_SUCCESS);
        EXPECT_EQ(clReleaseKernel(held), CL_SUCCESS);

        ovxtest::build_result r = ovxtest::build(plain, "");
        ASSERT_EQ(r.build_status, CL_SUCCESS) << r.log;
        EXPECT_EQ(program_source(r.program), plain) << "round " << round;
        std::vector<int> out;
        ASSERT_EQ(launch_ints(r.program, "k", 64, 8, &out), CL_SUCCESS);
        EXPECT_EQ(count_of(out, 1), 64) << "round " << round;
        EXPECT_EQ(clReleaseProgram(r.program), CL_SUCCESS);
    }
}

TEST_F(Layer, ExtensionNamesInCommentsOrAsPrefixesLeaveATextPlain) {
    const std::string text =
        "// also built for cl_tarvo_subgroups devices\n"
        "/* #pragma OPENCL EXTENSION cl_tarvo_subgroups : enable */\n"
        "#ifdef cl_tarvo_subgroups_long\n#endif\n"
        "#define TARVO_SG_PAIR_VOCABULARY_UNUSED 0\n"
        "#ifdef TARVO_SG_EMULATION\n#error the prelude must not be here\n#endif\n"
        "__kernel void k(__global int* x) { x[get_global_id(0)] = 1; }\n";
    ovxtest::build_result r = ovxtest::build(text, "");
    ASSERT_EQ(r.build_status, CL_SUCCESS) << r.log;
    std::vector<int> out;
    ASSERT_EQ(launch_ints(r.program, "k", 256, 64, &out), CL_SUCCESS);
    EXPECT_EQ(count_of(out, 1), 256);
    clReleaseProgram(r.program);

    // An emulated text whose lane-pair mark stands only in a comment runs per lane.
    const std::string commented =
        "#pragma OPENCL EXTENSION cl_tarvo_subgroups : enable\n"
        "/*\n#define TARVO_SG_PAIR_VOCABULARY 1\n*/\n"
        "#ifdef TARVO_SG_LANE_PAIR\n#error not a lane-pair text\n#endif\n"
        "__kernel void k(__global int* x) { TARVO_SG_KERNEL_SCRATCH(8); x[get_global_id(0)] = 1; }\n";
    r = ovxtest::build(commented, "");
    ASSERT_EQ(r.build_status, CL_SUCCESS) << r.log;
    ASSERT_EQ(launch_ints(r.program, "k", 256, 64, &out), CL_SUCCESS);
    EXPECT_EQ(count_of(out, 1), 256);
    clReleaseProgram(r.program);
}

TEST_F(Layer, EmulatedLaunchWithoutAWorkGroupSizeUsesTheDeclaredOneOrIsRefused) {
    const std::string text =
        "#pragma OPENCL EXTENSION cl_tarvo_subgroups : enable\n"
        "__attribute__((reqd_work_group_size(32, 1, 1))) __attribute__((tarvo_reqd_sub_group_size(8)))\n"
        "__kernel void declared(__global int* x) { TARVO_SG_KERNEL_SCRATCH(8);\n"
        "  x[get_global_id(0)] = tarvo_sub_group_shuffle_xor((int)get_global_id(0), 1); }\n"
        "__kernel void free_size(__global int* x) { TARVO_SG_KERNEL_SCRATCH(8);\n"
        "  x[get_global_id(0)] = tarvo_sub_group_shuffle_xor((int)get_global_id(0), 1); }\n";
    ovxtest::build_result r = ovxtest::build(text, "");
    ASSERT_EQ(r.build_status, CL_SUCCESS) << r.log;
    std::vector<int> out;
    ASSERT_EQ(launch_ints(r.program, "declared", 4096, 0, &out), CL_SUCCESS);
    int wrong = 0;
    for (int i = 0; i < 4096; ++i) wrong += out[i] != (i ^ 1);
    EXPECT_EQ(wrong, 0);
    // Without a declared size the driver's choice could pass the exchange area.
    EXPECT_EQ(launch_ints(r.program, "free_size", 65536, 0, &out), CL_INVALID_WORK_GROUP_SIZE);
    // The size reported for such a kernel is one the layer accepts.
    cl_int err = CL_SUCCESS;
    cl_kernel k = clCreateKernel(r.program, "free_size", &err);
    ASSERT_EQ(err, CL_SUCCESS);
    size_t wg = 0;
    EXPECT_EQ(clGetKernelWorkGroupInfo(k, env().device, CL_KERNEL_WORK_GROUP_SIZE, sizeof wg, &wg, nullptr),
              CL_SUCCESS);
    EXPECT_GT(wg, 0u);
    EXPECT_LE(wg, static_cast<size_t>(ovxplat_gpu_profile_current()->max_work_group_size));
    clReleaseKernel(k);
    clReleaseProgram(r.program);
}

struct width_case {
    const char* name;
    const char* body;
};

class LayerBlockWidth : public ::testing::TestWithParam<width_case> {
protected:
    void SetUp() override { OVX_REQUIRE(env().device, "no usable OpenCL device"); }
};

TEST_P(LayerBlockWidth, BlockAccessThroughAPointerOfTheOtherWidthDoesNotBuild) {
    const std::string text = std::string(
                                 "#pragma OPENCL EXTENSION cl_tarvo_subgroups : enable\n"
                                 "__attribute__((reqd_work_group_size(16, 1, 1)))\n"
                                 "__kernel void k(__global uint* w, __global ulong* l) {\n"
                                 "  TARVO_SG_KERNEL_SCRATCH(16);\n") +
                             GetParam().body + "\n}\n";
    ovxtest::build_result r = ovxtest::build(text, "");
    EXPECT_EQ(r.build_status, CL_BUILD_PROGRAM_FAILURE) << r.log;
    clReleaseProgram(r.program);
}

INSTANTIATE_TEST_SUITE_P(
    Misuses, LayerBlockWidth,
    ::testing::Values(width_case{"ThirtyTwoBitReadOfLongs", "w[0] = tarvo_sub_group_block_read((const __global ulong*)l);"},
                      width_case{"ThirtyTwoBitWriteToLongs", "tarvo_sub_group_block_write4(l, (uint4)(1));"},
                      width_case{"SixtyFourBitReadOfInts", "l[0] = tarvo_sub_group_block_read_ul2(w).s0;"},
                      width_case{"SixtyFourBitWriteToInts", "tarvo_sub_group_block_write_ul(w, 1ul);"}),
    [](const ::testing::TestParamInfo<width_case>& i) { return std::string(i.param.name); });

}  // namespace
