// Planning of the 8192-point backend: batch caps, sizes, refusals, table
// positions and the exact build options, checked without a device.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_8k_plan.hpp"
#include "ovx_test_env.hpp"

namespace ek = korami::ovx::dft::eight_k;

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
