// The emulation's lane-pair mode: a probe text written in the lane-pair
// vocabulary (declaring TARVO_SG_PAIR_VOCABULARY) gives the exact values
// computed on the host, the layer reports the text's work-group size and
// refuses launches it cannot halve; only a declared text runs in the mode.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "cl_fixture.hpp"

namespace {

using ovxtest::env;

const char* k_mark = "#define TARVO_SG_PAIR_VOCABULARY 1\n";

const char* k_text = R"CLC(
#pragma OPENCL EXTENSION cl_tarvo_subgroups : enable
typedef float ftype;
typedef struct { ftype re; ftype im; } ptype;

/* N complex values; out: [0, 2N) z, [2N, 4N) swap(z) as parts, [4N, 6N) a
   block copy of in; ids: 5 per value. */
__attribute__((reqd_work_group_size(WG, 1, 1))) __kernel void k_pairs(
    __global const ftype* in, __global const ftype* tab, __global ftype* out, __global uint* ids, int bwd) {
    TARVO_SG_KERNEL_SCRATCH(SG);
    const int s = (int)get_sub_group_id();
    const long first = (long)get_group_id(0) * (WG / 2) + s * (SG / 2);
    const long k = first + (long)SG_CPLX_INDEX();
    const long n = (long)get_num_groups(0) * (WG / 2);
    ptype z = SG_LOAD(in, k);
    SG_TWIDDLE_PM(z, 0.5f, 0.25f, SG_PM_ONE(bwd));
    const ptype t = SG_LANE_LOAD(tab, 2 * first);
    SG_MUL_ADD_SWAP(z, t, -2.0f, t);
    SG_STORE(out, k, z);
    SG_STORE_PARTS(out, 2 * n + k, n, SG_SWAP_RE_IM(z));
    SG_BLOCK_STORE(out + 4 * n + 2 * first, SG_BLOCK_LOAD(in + 2 * first));
    const uint v[5] = {SG_CPLX_INDEX(), get_sub_group_id(), get_sub_group_size(), get_max_sub_group_size(),
                       get_num_sub_groups()};
    for (int i = 0; i < 5; ++i) ids[5 * k + i] = v[i];
}
)CLC";

// Under CI=true a missing device is a failure.
void require_device() {
    if (env().device) return;
    const char* v = std::getenv("CI");
    if (v && std::string(v) == "true") FAIL() << "no OpenCL device";
    GTEST_SKIP() << "no OpenCL device";
}

struct pair_case {
    int sg;
};

struct releaser {
    std::vector<cl_mem> mems;
    cl_kernel k = nullptr;
    ~releaser() {
        for (cl_mem m : mems) clReleaseMemObject(m);
        if (k) clReleaseKernel(k);
    }
};

class LanePairs : public ::testing::TestWithParam<pair_case> {
protected:
    void SetUp() override { require_device(); }
    int sg() const { return GetParam().sg; }
    int wg() const { return 4 * sg(); }
    // Builds the probe (shared per case) and makes its kernel.
    cl_kernel kernel() {
        static std::vector<std::pair<std::string, cl_program>> built;
        const std::string options = "-DSG=" + std::to_string(sg()) + " -DWG=" + std::to_string(wg());
        const std::string text = std::string(k_mark) + k_text;
        cl_program p = nullptr;
        for (auto& b : built)
            if (b.first == options + text) p = b.second;
        if (!p) {
            ovxtest::build_result r = ovxtest::build(text, options.c_str());
            EXPECT_EQ(r.build_status, CL_SUCCESS) << r.log;
            if (!r.program || r.build_status != CL_SUCCESS) return nullptr;
            ovxtest::release_at_end(r.program);
            built.emplace_back(options + text, r.program);
            p = r.program;
        }
        cl_int err = CL_SUCCESS;
        cl_kernel k = clCreateKernel(p, "k_pairs", &err);
        EXPECT_EQ(err, CL_SUCCESS);
        return k;
    }
};

TEST_P(LanePairs, ValuesAndIdsMatchTheHost) {
    releaser r;
    ASSERT_NE(r.k = kernel(), nullptr);
    const int groups = 3, n = groups * wg() / 2;
    std::vector<float> in(2 * n), tab(2 * n);
    for (int i = 0; i < 2 * n; ++i) {
        in[i] = static_cast<float>((i * 37) % 61 - 30) / 4;
        tab[i] = static_cast<float>((i * 11) % 13 - 6) / 2;
    }
    for (int bwd = 0; bwd < 2; ++bwd) {
        r.mems = {ovxtest::buffer(in.size() * 4, in.data()), ovxtest::buffer(tab.size() * 4, tab.data()),
                  ovxtest::buffer(6 * n * 4, nullptr), ovxtest::buffer(5 * n * 4, nullptr)};
        for (cl_uint a = 0; a < 4; ++a) ASSERT_EQ(clSetKernelArg(r.k, a, sizeof(cl_mem), &r.mems[a]), CL_SUCCESS);
        ASSERT_EQ(clSetKernelArg(r.k, 4, sizeof(int), &bwd), CL_SUCCESS);
        const size_t global = size_t(groups) * wg(), local = wg();
        ASSERT_EQ(clEnqueueNDRangeKernel(env().queue, r.k, 1, nullptr, &global, &local, 0, nullptr, nullptr),
                  CL_SUCCESS);
        std::vector<float> out(6 * n);
        std::vector<uint32_t> ids(5 * n);
        ovxtest::read(r.mems[2], out.size() * 4, out.data());
        ovxtest::read(r.mems[3], ids.size() * 4, ids.data());
        for (cl_mem m : r.mems) clReleaseMemObject(m);
        r.mems.clear();
        // Every step is exact in single precision with these values.
        const float s = bwd ? -0.25f : 0.25f;
        for (int k = 0; k < n; ++k) {
            const float a = in[2 * k], b = in[2 * k + 1];
            const float zr = 0.5f * a - s * b, zi = 0.5f * b + s * a;
            const float wr = tab[2 * k] * zr - 2 * tab[2 * k] * zi, wi = tab[2 * k + 1] * zi - 2 * tab[2 * k + 1] * zr;
            EXPECT_EQ(out[2 * k], wr) << "value " << k;
            EXPECT_EQ(out[2 * k + 1], wi) << "value " << k;
            EXPECT_EQ(out[2 * n + k], wi) << "swap " << k;
            EXPECT_EQ(out[3 * n + k], wr) << "swap " << k;
            EXPECT_EQ(out[4 * n + 2 * k], a);
            EXPECT_EQ(out[4 * n + 2 * k + 1], b);
            const uint32_t local_k = k % (wg() / 2);
            const uint32_t want[5] = {local_k % (sg() / 2), local_k / (sg() / 2), uint32_t(sg()), uint32_t(sg()), 4};
            for (int i = 0; i < 5; ++i) EXPECT_EQ(ids[5 * k + i], want[i]) << "id " << i << " of value " << k;
        }
    }
}

TEST_P(LanePairs, KernelReportsTheTextsWorkGroupSize) {
    releaser r;
    ASSERT_NE(r.k = kernel(), nullptr);
    size_t w[3] = {0, 0, 0};
    ASSERT_EQ(clGetKernelWorkGroupInfo(r.k, env().device, CL_KERNEL_COMPILE_WORK_GROUP_SIZE, sizeof w, w, nullptr),
              CL_SUCCESS);
    EXPECT_EQ(w[0], size_t(wg()));
    EXPECT_EQ(w[1], 1u);
    size_t most = 0;
    ASSERT_EQ(clGetKernelWorkGroupInfo(r.k, env().device, CL_KERNEL_WORK_GROUP_SIZE, sizeof most, &most, nullptr),
              CL_SUCCESS);
    EXPECT_GE(most, size_t(wg()));
    EXPECT_EQ(clGetKernelWorkGroupInfo(r.k, env().device, CL_KERNEL_COMPILE_WORK_GROUP_SIZE, 1, w, nullptr),
              CL_INVALID_VALUE);
}

using LanePairLaunch = LanePairs;

TEST_P(LanePairLaunch, LaunchesThatCannotBeHalvedAreRefused) {
    releaser r;
    ASSERT_NE(r.k = kernel(), nullptr);
    r.mems = {ovxtest::buffer(4096, nullptr)};
    for (cl_uint a = 0; a < 4; ++a) ASSERT_EQ(clSetKernelArg(r.k, a, sizeof(cl_mem), &r.mems[0]), CL_SUCCESS);
    int bwd = 0;
    ASSERT_EQ(clSetKernelArg(r.k, 4, sizeof(int), &bwd), CL_SUCCESS);
    const size_t odd = wg() + 1, even = wg(), one = 1;
    EXPECT_EQ(clEnqueueNDRangeKernel(env().queue, r.k, 1, nullptr, &odd, &odd, 0, nullptr, nullptr),
              CL_INVALID_WORK_GROUP_SIZE);
    EXPECT_EQ(clEnqueueNDRangeKernel(env().queue, r.k, 1, nullptr, &odd, nullptr, 0, nullptr, nullptr),
              CL_INVALID_GLOBAL_WORK_SIZE);
    EXPECT_EQ(clEnqueueNDRangeKernel(env().queue, r.k, 1, &one, &even, &even, 0, nullptr, nullptr),
              CL_INVALID_GLOBAL_OFFSET);
    const size_t huge = 2048;
    EXPECT_EQ(clEnqueueNDRangeKernel(env().queue, r.k, 1, nullptr, &huge, &huge, 0, nullptr, nullptr),
              CL_INVALID_WORK_GROUP_SIZE);
    EXPECT_EQ(clFinish(env().queue), CL_SUCCESS);
}

std::string case_name(const ::testing::TestParamInfo<pair_case>& i) { return "SG" + std::to_string(i.param.sg); }
INSTANTIATE_TEST_SUITE_P(SubGroupSizes, LanePairs, ::testing::Values(pair_case{8}, pair_case{16}, pair_case{32}),
                         case_name);
INSTANTIATE_TEST_SUITE_P(SubGroupSizes, LanePairLaunch, ::testing::Values(pair_case{16}), case_name);

// A text that declares the vocabulary but still shuffles lanes has no
// per-lane values to exchange in the lane-pair mode: it builds only where
// the mode is off.
const char* k_shuffling = R"CLC(
#pragma OPENCL EXTENSION cl_tarvo_subgroups : enable
__kernel void k(__global uint* out) {
    TARVO_SG_KERNEL_SCRATCH(8);
    out[get_global_id(0)] = tarvo_sub_group_shuffle_xor((uint)get_global_id(0), 1u);
}
)CLC";

struct opt_in_case {
    const char* name;
    const char* head;  // put before the shuffling text
    bool switched_off;  // OVXPLAT_SG_LANE_PAIRS=0
    bool builds;
};

class LanePairOptIn : public ::testing::TestWithParam<opt_in_case> {
protected:
    void SetUp() override { require_device(); }
};

TEST_P(LanePairOptIn, ShufflingTextBuildsOnlyPerLane) {
    if (GetParam().switched_off) setenv("OVXPLAT_SG_LANE_PAIRS", "0", 1);
    ovxtest::build_result r = ovxtest::build(std::string(GetParam().head) + k_shuffling, "");
    unsetenv("OVXPLAT_SG_LANE_PAIRS");
    if (r.program) clReleaseProgram(r.program);
    if (GetParam().builds) {
        EXPECT_EQ(r.build_status, CL_SUCCESS) << r.log;
    } else {
        EXPECT_EQ(r.build_status, CL_BUILD_PROGRAM_FAILURE);
        EXPECT_NE(r.log.find("tarvo_sub_group_shuffle_xor"), std::string::npos) << r.log;
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, LanePairOptIn,
                         ::testing::Values(opt_in_case{"Declared", k_mark, false, false},
                                           opt_in_case{"OnlyMentionedInAComment", "/* TARVO_SG_PAIR_VOCABULARY */\n",
                                                       false, true},
                                           opt_in_case{"DeclaredButSwitchedOff", k_mark, true, true}),
                         [](const ::testing::TestParamInfo<opt_in_case>& i) { return i.param.name; });

}  // namespace
