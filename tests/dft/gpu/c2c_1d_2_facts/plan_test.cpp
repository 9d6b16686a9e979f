// Planning of the two-factor backend: factor choices, launch shapes, batch
// caps, refusals and the exact build options, checked without a device.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_2_facts_plan.hpp"
#include "ovx_test_env.hpp"

namespace tf = korami::ovx::dft::two_facts;

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
