// Planning of the three-factor backend: factor choices, launch shapes,
// chunking, refusals and the exact build options, checked without a device.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_3_facts_plan.hpp"
#include "ovx_test_env.hpp"

namespace hf = korami::ovx::dft::three_facts;

static hf::plan_input three_in(int64_t n, bool single, int64_t batch = 1, int arch = 5) {
    hf::plan_input in;
    in.n = n;
    in.single = single;
    in.arch = arch;
    in.batch = {batch, n, n, 0, 0};
    return in;
}

struct three_case {
    int64_t n;
    bool single;
    int arch;
    int64_t f0, f1, f2;
};

class FactorsThreeFactsPlans : public ::testing::TestWithParam<three_case> {};

TEST_P(FactorsThreeFactsPlans, Factors) {
    const three_case c = GetParam();
    hf::plan p;
    ASSERT_EQ(hf::make_plan(three_in(c.n, c.single, 1, c.arch), p), 0) << c.n;
    EXPECT_EQ(p.factors[0], c.f0) << c.n;
    EXPECT_EQ(p.factors[1], c.f1) << c.n;
    EXPECT_EQ(p.factors[2], c.f2) << c.n;
    EXPECT_EQ(p.factors[0] * p.factors[1] * p.factors[2], c.n);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FactorsThreeFactsPlans,
    ::testing::Values(three_case{128, false, 5, 32, 2, 2}, three_case{4096, false, 5, 32, 16, 8},
                      three_case{4096, true, 5, 64, 8, 8}, three_case{64000, false, 5, 40, 40, 40},
                      three_case{262144, true, 5, 64, 64, 64}, three_case{3440, true, 5, 40, 43, 2},
                      three_case{21000, false, 4, 28, 30, 25}, three_case{21000, false, 5, 40, 25, 21},
                      three_case{29400, false, 4, 28, 35, 30}, three_case{29400, false, 3, 40, 35, 21},
                      three_case{21000, true, 4, 60, 25, 14}, three_case{12000, false, 5, 40, 20, 15},
                      three_case{12000, true, 5, 60, 20, 10}),
    [](const auto& i) { return ovx_test::name(i.param.n, (i.param.single ? "s" : "d"), "arch", i.param.arch); });

TEST(FactorsThreeFacts, Refusals) {
    hf::plan p;
    for (int64_t n : {16, 32, 64}) EXPECT_EQ(hf::make_plan(three_in(n, false), p), 100) << n;
    for (int64_t n : {16, 32, 64, 128}) EXPECT_EQ(hf::make_plan(three_in(n, true), p), 100) << n;
    EXPECT_EQ(hf::make_plan(three_in(164, false), p), 100);
    EXPECT_EQ(hf::make_plan(three_in(3440, false), p), 100);
    EXPECT_FALSE(hf::length_accepted(64004, false));
    EXPECT_TRUE(hf::length_accepted(64000, false));
    EXPECT_FALSE(hf::length_accepted(262148, true));
    EXPECT_FALSE(hf::length_accepted(1002, true));
    hf::plan_input in = three_in(4096, false);
    in.has_subgroup8 = false;
    EXPECT_EQ(hf::make_plan(in, p), 100);
}

TEST(FactorsThreeFacts, OddOutputDistanceSingle) {
    hf::plan_input in = three_in(4096, true, 2);
    in.batch.bwd_distance = 4097;
    hf::plan p;
    EXPECT_EQ(hf::make_plan(in, p), 100);
    in.single = false;
    EXPECT_EQ(hf::make_plan(in, p), 0);
    in.single = true;
    in.directions = 1;  // backward writes with fwd_distance
    EXPECT_EQ(hf::make_plan(in, p), 0);
}

TEST(FactorsThreeFacts, SizesAndLaunch) {
    hf::plan p;
    ASSERT_EQ(hf::make_plan(three_in(12000, false, 3), p), 0);
    EXPECT_EQ(p.row_pitch, 12004);
    EXPECT_EQ(p.table1_bytes, 12000u * 16);
    EXPECT_EQ(p.table2_bytes, 300u * 16);
    EXPECT_EQ(p.global_x[0], (300 + 31) / 32 * 64);
    EXPECT_EQ(p.global_x[1], (600 + 31) / 32 * 64);
    EXPECT_EQ(p.global_x[2], (800 + 31) / 32 * 64);
    EXPECT_EQ(p.local_bytes[0], 40 * 512);
    EXPECT_EQ(p.local_bytes[2], 15 * 512);
    EXPECT_EQ(p.chunk_transforms, 3);
    EXPECT_EQ(p.scratch_bytes, 3u * 12004 * 16);
    EXPECT_EQ(hf::kernel_name(p, 1), "fft_20_rowbatch1_d");
    EXPECT_EQ(hf::butterfly_name(p, 2), "fft_15_s");
}

TEST(FactorsThreeFacts, Chunking) {
    hf::plan p;
    // 12000 double: pitch 192064 bytes; the 42 MiB cap holds 229 transforms.
    ASSERT_EQ(hf::make_plan(three_in(12000, false, 1000), p), 0);
    EXPECT_EQ(p.scratch_bytes, 44040192u);
    EXPECT_EQ(p.chunk_transforms, 44040192 / 192064);
    EXPECT_EQ(hf::chunk_count(p), (1000 + 228) / 229);
    ASSERT_EQ(hf::make_plan(three_in(12000, false, 1000, 6), p), 0);
    EXPECT_EQ(p.chunk_transforms, 1000);
    hf::plan_input in = three_in(12000, false, 7);
    in.cap_override = 3 * 192064 + 5;
    ASSERT_EQ(hf::make_plan(in, p), 0);
    EXPECT_EQ(p.chunk_transforms, 3);
    EXPECT_EQ(hf::chunk_count(p), 3);
}

TEST(FactorsThreeFacts, LargeGrfOption) {
    hf::plan p;
    ASSERT_EQ(hf::make_plan(three_in(12000, false, 1, 4), p), 0);  // 40, 20, 15
    EXPECT_TRUE(hf::wants_large_grf(p, 0));
    EXPECT_FALSE(hf::wants_large_grf(p, 1));
    EXPECT_FALSE(hf::wants_large_grf(p, 2));
    const std::string o = hf::build_options(p, 0, 0);
    EXPECT_EQ(o.size() - o.rfind("-cl-tarvo-256-GRF-per-thread "), 29u);
    ASSERT_EQ(hf::make_plan(three_in(12000, false, 1, 6), p), 0);
    for (int pass = 0; pass < 3; ++pass) EXPECT_FALSE(hf::wants_large_grf(p, pass));
    ASSERT_EQ(hf::make_plan(three_in(262144, true, 1, 4), p), 0);  // 64 >= 47
    EXPECT_TRUE(hf::wants_large_grf(p, 1));
    ASSERT_EQ(hf::make_plan(three_in(4096, true, 1, 4), p), 0);  // 64, 8, 8
    EXPECT_TRUE(hf::wants_large_grf(p, 0));
    EXPECT_FALSE(hf::wants_large_grf(p, 1));
}

TEST(FactorsThreeFacts, OptionsExact) {
    hf::plan_input in = three_in(128, false, 2);
    in.batch = {2, 0, 0, 130, 140};
    hf::plan p;
    ASSERT_EQ(hf::make_plan(in, p), 0);
    EXPECT_EQ(hf::build_options(p, 0, 1),
              "-Dcl_tarvo_subgroups_long -DFACT0=32 -DFACT1=2 -DFACT2=2 -DKERNEL_FUNC0=fft_32_rowbatch0_d "
              "-DKERNEL_FUNC1=fft_2_rowbatch1_d -DKERNEL_FUNC2=fft_2_rowbatch2_d -DFACT0_FUNC=fft_32_s "
              "-DFACT1_FUNC=fft_2_s -DFACT2_FUNC=fft_2_s -DFWD_DIR=1 -DBWD_DIR=0 -DIDIST=130 -DODIST=140 "
              "-DTDIST=132 -DWORK_GROUP_SIZE=64 -DSUBGROUP_SIZE=8 -DSUBGRPS_IN_GROUP=8 ");
}
