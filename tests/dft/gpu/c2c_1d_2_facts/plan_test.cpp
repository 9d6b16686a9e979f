// Planning of the two-factor, 8192-point, three-factor and 1D real backends:
// factor choices, launch shapes, batch caps, chunking, refusals and the exact
// build options, checked without a device.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_2_facts_plan.hpp"
#include "dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_3_facts_plan.hpp"
#include "dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_8k_plan.hpp"
#include "dft/gpu/1d/ovx_dft_gpu_bkd_r2c_1d_main_plan.hpp"
#include "ovx_test_env.hpp"

namespace tf = korami::ovx::dft::two_facts;
namespace ek = korami::ovx::dft::eight_k;
namespace hf = korami::ovx::dft::three_facts;
namespace rc = korami::ovx::dft::r2c_1d;

// ---------------------------------------------------------------- two factors

static tf::plan_input two_in(int64_t n, bool single, int64_t batch = 1, int arch = 5) {
    tf::plan_input in;
    in.n = n;
    in.single = single;
    in.arch = arch;
    in.batch.transforms = batch;
    in.batch.fwd_distance = n;
    in.batch.bwd_distance = n;
    return in;
}

TEST(FactorsTwoFacts, LengthTest) {
    EXPECT_TRUE(tf::length_accepted(1002));   // 501 = 3 * 167
    EXPECT_FALSE(tf::length_accepted(1006));  // 503 is prime
    EXPECT_TRUE(tf::length_accepted(2048));
    EXPECT_TRUE(tf::length_accepted(4096));
    EXPECT_FALSE(tf::length_accepted(4098));
    EXPECT_FALSE(tf::length_accepted(63));
    EXPECT_TRUE(tf::length_accepted(1000));   // below the divisor test
    EXPECT_FALSE(tf::length_accepted(1018));  // 509 prime
    EXPECT_TRUE(tf::length_accepted(1004));   // 502 even
}

struct pair_case {
    int64_t n, f0, f1;
};

class FactorsTwoFactsPairs : public ::testing::TestWithParam<pair_case> {};

TEST_P(FactorsTwoFactsPairs, FactorPair) {
    const pair_case c = GetParam();
    int64_t f0 = 0, f1 = 0;
    ASSERT_TRUE(tf::factor_pair(c.n, f0, f1)) << c.n;
    EXPECT_EQ(f0, c.f0) << c.n;
    EXPECT_EQ(f1, c.f1) << c.n;
}

INSTANTIATE_TEST_SUITE_P(Table, FactorsTwoFactsPairs,
                         ::testing::Values(pair_case{128, 8, 16}, pair_case{64, 8, 8}, pair_case{4, 2, 2},
                                           pair_case{96, 12, 8}, pair_case{1024, 32, 32}, pair_case{48, 8, 6},
                                           pair_case{2048, 64, 32}, pair_case{4096, 64, 64},
                                           pair_case{6, 2, 3}, pair_case{30, 6, 5}, pair_case{70, 10, 7}, pair_case{74, 2, 37},
                                           pair_case{126, 14, 9}),
                         [](const auto& i) { return ovx_test::name("n", i.param.n); });

TEST(FactorsTwoFacts, NoPair) {
    int64_t f0, f1;
    EXPECT_FALSE(tf::factor_pair(2, f0, f1));
    EXPECT_FALSE(tf::factor_pair(1, f0, f1));
    EXPECT_FALSE(tf::factor_pair(1002, f0, f1));  // 2 * 3 * 167
    EXPECT_FALSE(tf::factor_pair(134, f0, f1));   // 2 * 67
    tf::plan p;
    EXPECT_EQ(tf::make_plan(two_in(1002, true), p), 100);
    EXPECT_EQ(tf::make_plan(two_in(2, true), p), 100);
}

TEST(FactorsTwoFacts, DoubleLengthCap) {
    tf::plan p;
    EXPECT_EQ(tf::make_plan(two_in(2048, false), p), 100);
    ASSERT_EQ(tf::make_plan(two_in(2048, true), p), 0);
    EXPECT_EQ(p.fact0, 64);
    EXPECT_EQ(p.fact1, 32);
    ASSERT_EQ(tf::make_plan(two_in(1024, false), p), 0);
}

TEST(FactorsTwoFacts, Shape48) {
    tf::plan p;
    ASSERT_EQ(tf::make_plan(two_in(48, false), p), 0);
    EXPECT_EQ(p.fact0, 8);
    EXPECT_EQ(p.fact1, 6);
    EXPECT_EQ(p.padfact0, 0);
    EXPECT_EQ(p.padfact1, 2);
    EXPECT_EQ(p.work_group_size, 16);
    EXPECT_EQ(p.fact1_loop_bound, 1);
    EXPECT_EQ(p.table_bytes, 8 * 8 * 32);
    EXPECT_EQ(p.local_bytes, std::max<int64_t>((0 + 2 * 48) * 8, 8 * 8 * 16));
}

TEST(FactorsTwoFacts, WorkGroupShapes) {
    struct c {
        int64_t n;
        bool single;
        int64_t wg, loops;
    };
    // 96: 12 x 8, m0 = 2, p = 3 -> m = 3; 128: 8 x 16 (F0 <= F1) -> 8 * 4; 4096: 64 x 64 -> 128.
    for (const c& x : {c{96, false, 24, 1}, c{128, false, 32, 1}, c{4096, true, 128, 1}, c{2048, true, 64, 2},
                       c{4, false, 8, 1}, c{64, true, 16, 1}}) {
        tf::plan p;
        ASSERT_EQ(tf::make_plan(two_in(x.n, x.single), p), 0) << x.n;
        EXPECT_EQ(p.work_group_size, x.wg) << x.n;
        EXPECT_EQ(p.fact1_loop_bound, x.loops) << x.n;
    }
}

TEST(FactorsTwoFacts, NeedsSubgroup8) {
    tf::plan p;
    tf::plan_input in = two_in(64, false);
    in.has_subgroup8 = false;
    EXPECT_EQ(tf::make_plan(in, p), 100);
}

TEST(FactorsTwoFacts, OddOutputDistanceSingle) {
    tf::plan_input in = two_in(64, true, 3);
    in.directions = 0;
    in.batch.bwd_distance = 65;  // forward output distance
    tf::plan p;
    EXPECT_EQ(tf::make_plan(in, p), 100);
    in.single = false;
    EXPECT_EQ(tf::make_plan(in, p), 0);
    // Backward only: the forward output distance does not matter, fwd_distance does.
    in.single = true;
    in.directions = 1;
    EXPECT_EQ(tf::make_plan(in, p), 0);
    in.batch.fwd_distance = 67;
    EXPECT_EQ(tf::make_plan(in, p), 100);
    // With input/output distances they serve both directions.
    in.batch = {3, 0, 0, 64, 65};
    in.directions = 1;
    EXPECT_EQ(tf::make_plan(in, p), 100);
}

TEST(FactorsTwoFacts, BatchPerGroup) {
    tf::plan p;
    ASSERT_EQ(tf::make_plan(two_in(64, false, 5, 3), p), 0);
    EXPECT_EQ(p.batch_per_group, 4);
    EXPECT_EQ(p.batch_for_last_group, 1);
    EXPECT_EQ(p.groups, 2);
    ASSERT_EQ(tf::make_plan(two_in(64, false, 8, 1), p), 0);
    EXPECT_EQ(p.batch_per_group, 4);
    EXPECT_EQ(p.batch_for_last_group, 4);
    ASSERT_EQ(tf::make_plan(two_in(64, false, 5, 5), p), 0);
    EXPECT_EQ(p.batch_per_group, 1);
    EXPECT_EQ(p.groups, 5);
    ASSERT_EQ(tf::make_plan(two_in(2048, true, 5, 3), p), 0);
    EXPECT_EQ(p.batch_per_group, 1);  // single above 1024
    ASSERT_EQ(tf::make_plan(two_in(1024, true, 5, 3), p), 0);
    EXPECT_EQ(p.batch_per_group, 4);
}

TEST(FactorsTwoFacts, OptionsExact) {
    tf::plan p;
    ASSERT_EQ(tf::make_plan(two_in(48, false, 5, 3), p), 0);
    EXPECT_EQ(tf::kernel_name(p), "fft_48_rowbatch_d");
    EXPECT_EQ(tf::build_options(p, 1),
              "-Dcl_tarvo_subgroups_long -DFACT0=8 -DPADFACT0=0 -DFACT1=6 -DPADFACT1=2 "
              "-DKERNEL_FUNC=fft_48_rowbatch_d -DFACT0_FUNC=fft_8_s -DFACT1_FUNC=fft_6_s -DFWD_DIR=0 -DBWD_DIR=1 "
              "-DIDIST=48 -DODIST=48 -DWORK_GROUP_SIZE=16 -DSUBGROUP_SIZE=8 -DFACT1_LOOP_BOUND=1 "
              "-DBATCH_PER_GROUP=4 -DBATCH_FOR_LAST_GROUP=1 ");
    tf::plan_input in = two_in(96, true, 1, 5);
    in.batch = {1, 96, 100, 0, 0};
    ASSERT_EQ(tf::make_plan(in, p), 0);
    EXPECT_EQ(tf::build_options(p, 0),
              "-DFACT0=12 -DPADFACT0=0 -DFACT1=8 -DPADFACT1=0 -DKERNEL_FUNC=fft_96_rowbatch_s "
              "-DFACT0_FUNC=fft_12_s -DFACT1_FUNC=fft_8_s -DFWD_DIR=1 -DBWD_DIR=0 -DIDIST=96 -DODIST=100 "
              "-DWORK_GROUP_SIZE=24 -DSUBGROUP_SIZE=8 -DFACT1_LOOP_BOUND=1 ");
}

TEST(FactorsTwoFacts, DefaultFunctions) {
    tf::plan p;
    ASSERT_EQ(tf::make_plan(two_in(1024, false), p), 0);  // 32 x 32: below 33
    EXPECT_EQ(tf::build_options(p, 0).find("DEFAULT"), std::string::npos);
    ASSERT_EQ(tf::make_plan(two_in(34 * 20, false), p), 0);  // 680 = 34 x 20
    EXPECT_EQ(p.fact0, 34);
    EXPECT_EQ(tf::fact0_func_name(p), "fft_34_default0_s");
    EXPECT_EQ(tf::fact1_func_name(p), "fft_20_s");
    EXPECT_NE(tf::build_options(p, 0).find("-DFACT0_DEFAULT_FUNC=fft_34_default0_s "), std::string::npos);
    ASSERT_EQ(tf::make_plan(two_in(74, false), p), 0);  // 2 x 37, big odd -> FACT1 = 37
    EXPECT_EQ(p.fact0, 2);
    EXPECT_EQ(p.fact1, 37);
    EXPECT_NE(tf::build_options(p, 0).find("-DFACT1_DEFAULT_FUNC=fft_37_default1_s "), std::string::npos);
    EXPECT_EQ(tf::build_options(p, 0).find("FACT0_DEFAULT"), std::string::npos);
    for (int64_t n : {680, 74, 4096, 2048, 3782 /* 61 x 62 */}) {
        ASSERT_EQ(tf::make_plan(two_in(n, true), p), 0) << n;
        EXPECT_EQ(tf::build_options(p, 0).find("DEFAULT"), std::string::npos) << n;
        EXPECT_LT(tf::build_options(p, 1).size(), 512u);
    }
}

// ---------------------------------------------------------------- 8192 points

static ek::plan_input k8_in(bool single, int64_t batch, int arch = 5) {
    ek::plan_input in;
    in.n = 8192;
    in.single = single;
    in.arch = arch;
    in.batch = {batch, 8192, 8192, 0, 0};
    return in;
}

TEST(FactorsEightK, BatchCap) {
    ek::plan p;
    EXPECT_EQ(ek::make_plan(k8_in(false, 336), p), 0);
    EXPECT_EQ(p.scratch_bytes, 336ull * 8192 * 16);
    EXPECT_EQ(ek::make_plan(k8_in(false, 337), p), 100);
    EXPECT_EQ(ek::make_plan(k8_in(true, 672), p), 0);
    EXPECT_EQ(ek::make_plan(k8_in(true, 673), p), 100);
    EXPECT_EQ(ek::make_plan(k8_in(false, 131072, 6), p), 0);
    EXPECT_EQ(ek::make_plan(k8_in(false, 131073, 6), p), 100);
    EXPECT_EQ(ek::make_plan(k8_in(true, 262144, 6), p), 0);
    EXPECT_EQ(ek::make_plan(k8_in(true, 262145, 6), p), 100);
}

TEST(FactorsEightK, Refusals) {
    ek::plan p;
    ek::plan_input in = k8_in(false, 2);
    in.n = 8191;
    EXPECT_EQ(ek::make_plan(in, p), 100);
    in.n = 16384;
    EXPECT_EQ(ek::make_plan(in, p), 100);
    in = k8_in(false, 2);
    in.batch.fwd_distance = 8200;
    EXPECT_EQ(ek::make_plan(in, p), 100);
    in.directions = 1;  // backward reads bwd_distance and writes fwd_distance
    EXPECT_EQ(ek::make_plan(in, p), 100);
    in = k8_in(false, 2);
    in.has_subgroup8 = false;
    EXPECT_EQ(ek::make_plan(in, p), 100);
    in = k8_in(true, 2);
    in.batch = {2, 0, 0, 8192, 8192};
    EXPECT_EQ(ek::make_plan(in, p), 0);
    in.batch = {2, 0, 0, 8192, 8200};
    EXPECT_EQ(ek::make_plan(in, p), 100);
}

TEST(FactorsEightK, Sizes) {
    ek::plan p;
    ASSERT_EQ(ek::make_plan(k8_in(false, 1), p), 0);
    EXPECT_EQ(p.pass1_local_bytes, 8192);
    EXPECT_EQ(p.pass2_local_bytes, 4096);
    EXPECT_EQ(p.class3_table_bytes, 262144u);
    EXPECT_EQ(p.class1_table_bytes, 4096u);
    EXPECT_EQ(p.class2_table_bytes, 2048u);
    ASSERT_EQ(ek::make_plan(k8_in(true, 1), p), 0);
    EXPECT_EQ(p.pass1_local_bytes, 4096);
    EXPECT_EQ(p.pass2_local_bytes, 2048);
    EXPECT_EQ(p.class3_table_bytes, 131072u);
    EXPECT_EQ(p.scratch_bytes, 8192u * 8);
}

TEST(FactorsEightK, OptionsExact) {
    ek::plan p;
    ASSERT_EQ(ek::make_plan(k8_in(true, 3), p), 0);
    EXPECT_EQ(ek::build_options(p, 1),
              "-DN0=128 -DN0_FACT0=16 -DN0_FACT1=8 -DN1=64 -DN1_FACT0=8 -DN1_FACT1=8 "
              "-DTRANSPOSE_OUTPUT_FUNC=fft_8192_fact_128_s -DN0_FACT0_FUNC=fft_16_s -DN0_FACT1_FUNC=fft_8_s "
              "-DSAME_ORIENTATION_OUTPUT_FUNC=fft_8192_fact_64_s -DN1_FACT0_FUNC=fft_8_s -DN1_FACT1_FUNC=fft_8_s "
              "-DFWD_DIR=0 -DBWD_DIR=1 -DIDIST=8192 -DODIST=8192 -DWORK_GROUP_SIZE=64 -DSUBGROUP_SIZE=8 "
              "-DCOLS_PER_WG=4 ");
    ASSERT_EQ(ek::make_plan(k8_in(false, 3), p), 0);
    EXPECT_EQ(ek::build_options(p, 0).rfind("-Dcl_tarvo_subgroups_long -DN0=128 ", 0), 0u);
    EXPECT_EQ(ek::pass1_kernel_name(false), "fft_8192_fact_128_d");
    EXPECT_EQ(ek::pass2_kernel_name(true), "fft_8192_fact_64_s");
}

TEST(FactorsEightK, TablePositionsCoverBlocks) {
    std::vector<int> seen(32768, 0);
    for (int n1 = 0; n1 < 64; ++n1)
        for (int t = 0; t < 128; ++t)
            for (int o : {0, 1, 8, 9}) seen[ek::class3_position(n1, t) + o]++;
    for (int v : seen) ASSERT_EQ(v, 1);
    std::vector<int> k0seen(128, 0);
    for (int t = 0; t < 128; ++t) k0seen[ek::class3_k0(t)]++;
    for (int v : k0seen) ASSERT_EQ(v, 1);
    std::vector<int> c1(512, 0);
    for (int i = 0; i < 16; ++i)
        for (int j = 0; j < 8; ++j)
            for (int o : {0, 1, 8, 9}) c1[ek::class1_position(i, j) + o]++;
    for (int v : c1) ASSERT_EQ(v, 1);
}

// ---------------------------------------------------------------- three factors

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

// ---------------------------------------------------------------- 1D real

static rc::plan_input real_in(int64_t n, bool single, int64_t batch, bool in_place) {
    rc::plan_input in;
    in.n = n;
    in.single = single;
    in.arch = 5;
    in.in_place = in_place;
    in.s = {0, 0, 1, 1};
    const int64_t c = n / 2 + 1;
    in.batch = {batch, in_place ? 2 * c : n, c, 0, 0};
    return in;
}

TEST(FactorsReal, ChunkingExample) {
    rc::plan p;
    ASSERT_EQ(rc::make_plan(real_in(1048576, false, 12, false), p), 0);
    EXPECT_EQ(p.sub_length, 524288);
    EXPECT_EQ(p.scratch_bytes, 44040192u);
    EXPECT_EQ(p.chunk_transforms, 5);
    EXPECT_EQ(p.last_chunk_transforms, 2);
    EXPECT_EQ(p.twiddle_bytes, 524288u * 16);
}

TEST(FactorsReal, EvenAndOddPlans) {
    rc::plan p;
    ASSERT_EQ(rc::make_plan(real_in(1000, false, 3, false), p), 0);
    EXPECT_EQ(p.sub_length, 500);
    EXPECT_EQ(p.chunk_transforms, 3);
    EXPECT_EQ(p.last_chunk_transforms, 0);
    EXPECT_EQ(p.scratch_bytes, 3u * 500 * 16);
    EXPECT_TRUE(p.built[rc::r2c_kernel] && p.built[rc::c2r_kernel] && p.built[rc::fwd_input_copy] &&
                p.built[rc::bwd_output_copy]);
    EXPECT_FALSE(p.built[rc::fwd_output_copy] || p.built[rc::bwd_input_copy]);
    ASSERT_EQ(rc::make_plan(real_in(999, true, 5, false), p), 0);
    EXPECT_EQ(p.sub_length, 999);
    EXPECT_EQ(p.chunk_transforms, 5);
    EXPECT_EQ(p.scratch_bytes, 3u * 999 * 8);  // 5 transforms -> 3 rows
    EXPECT_EQ(rc::sub_batch(p, 5), 3);
    EXPECT_EQ(p.twiddle_bytes, 0u);
    EXPECT_FALSE(p.built[rc::r2c_kernel] || p.built[rc::c2r_kernel]);
    EXPECT_TRUE(p.built[rc::fwd_output_copy] && p.built[rc::bwd_input_copy]);
}

TEST(FactorsReal, OddChunkCapped) {
    rc::plan_input in = real_in(999, false, 9, false);
    in.cap_override = 2 * 999 * 16;  // two rows: four transforms per chunk
    rc::plan p;
    ASSERT_EQ(rc::make_plan(in, p), 0);
    EXPECT_EQ(p.chunk_transforms, 4);
    EXPECT_EQ(p.last_chunk_transforms, 1);
    int64_t r[2];
    rc::launch_range(p, rc::fwd_output_copy, 1, r);
    EXPECT_EQ(r[0], 500);
    EXPECT_EQ(r[1], 1);
    rc::launch_range(p, rc::fwd_input_copy, 4, r);
    EXPECT_EQ(r[0], 999);
    EXPECT_EQ(r[1], 2);
}

TEST(FactorsReal, DirectionsSelectKernels) {
    rc::plan p;
    rc::plan_input in = real_in(1000, false, 1, false);
    in.directions = 0;
    ASSERT_EQ(rc::make_plan(in, p), 0);
    EXPECT_TRUE(p.built[rc::r2c_kernel] && p.built[rc::fwd_input_copy]);
    EXPECT_FALSE(p.built[rc::c2r_kernel] || p.built[rc::bwd_output_copy]);
    EXPECT_EQ(p.twiddle_bytes, 500u * 16);
    in.directions = 1;
    ASSERT_EQ(rc::make_plan(in, p), 0);
    EXPECT_FALSE(p.built[rc::r2c_kernel] || p.built[rc::fwd_input_copy]);
    EXPECT_TRUE(p.built[rc::c2r_kernel] && p.built[rc::bwd_output_copy]);
}

TEST(FactorsReal, LayoutRefusals) {
    rc::plan p;
    // In place: real distance must be twice the complex distance.
    rc::plan_input in = real_in(1000, false, 2, true);
    EXPECT_EQ(rc::make_plan(in, p), 0);
    in.batch.fwd_distance = 1004;
    EXPECT_EQ(rc::make_plan(in, p), 100);
    // A batch of one checks no distance.
    in.batch.transforms = 1;
    EXPECT_EQ(rc::make_plan(in, p), 0);
    // In place with different strides.
    in = real_in(1000, false, 1, true);
    in.s = {1, 2, 0, 0};
    EXPECT_EQ(rc::make_plan(in, p), 100);
    // Out of place: real distance at least N, complex at least M + 1.
    in = real_in(1000, false, 2, false);
    in.batch.bwd_distance = 500;
    EXPECT_EQ(rc::make_plan(in, p), 100);
    // Non-unit strides check no distance.
    in.s = {0, 0, 2, 2};
    EXPECT_EQ(rc::make_plan(in, p), 0);
    // Input/output distances: forward reads real input_distance, backward reads complex input.
    in = real_in(1000, false, 2, false);
    in.batch = {2, 0, 0, 1000, 501};
    in.directions = 0;
    EXPECT_EQ(rc::make_plan(in, p), 0);
    in.directions = 1;  // real = output 501 < N
    EXPECT_EQ(rc::make_plan(in, p), 100);
    in.directions = 2;  // the forward check passes, the backward one does not: refused
    EXPECT_EQ(rc::make_plan(in, p), 100);
    in.batch = {2, 0, 0, 1000, 1000};  // both directions fit
    EXPECT_EQ(rc::make_plan(in, p), 0);
}

TEST(FactorsReal, OptionsExact) {
    rc::plan p;
    rc::plan_input in = real_in(999, true, 5, false);
    ASSERT_EQ(rc::make_plan(in, p), 0);
    EXPECT_EQ(rc::kernel_name(p, rc::bwd_input_copy), "bwd_input_copy_s");
    EXPECT_EQ(rc::build_options(p, rc::fwd_input_copy),
              "-DFWD -DIS=1 -DOS=1 -DFWD_D=999 -DBWD_D=500 -DTD=999 -DNUM_PTS=999 -DN_IS_EVEN=0 -DODDBATCH_SZ=5 ");
    EXPECT_EQ(rc::build_options(p, rc::bwd_output_copy),
              "-DBWD -DIS=1 -DOS=1 -DFWD_D=999 -DBWD_D=500 -DTD=999 -DNUM_PTS=999 -DN_IS_EVEN=0 -DODDBATCH_SZ=5 ");
    in = real_in(1000, false, 2, true);
    in.s = {1, 1, 0, 0};
    in.batch = {2, 0, 0, 501, 1002};  // backward only: complex input, real output
    in.directions = 1;
    ASSERT_EQ(rc::make_plan(in, p), 0);
    EXPECT_EQ(rc::build_options(p, rc::c2r_kernel),
              "-DBWD -DIS=1 -DOS=1 -DFWD_D=1002 -DBWD_D=501 -DTD=500 -DNUM_PTS=1000 -DN_IS_EVEN=1 ");
    // No input/output strides and forward stride below 1: both strides 0.
    in.s = {0, 0, 0, 0};
    in.batch.transforms = 1;
    ASSERT_EQ(rc::make_plan(in, p), 0);
    EXPECT_EQ(rc::build_options(p, rc::r2c_kernel).find("-DIS=0 -DOS=0 "), 6u);
}
