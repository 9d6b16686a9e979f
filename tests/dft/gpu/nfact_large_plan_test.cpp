// Planning of the n-factor local-memory backend and of its row pass: factor
// choice, work-group geometry, refusals and build options. Host only.
#include <gtest/gtest.h>

#include <string>

#include "dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_n_facts_slm_plan.hpp"

namespace nf = korami::ovx::dft::n_facts_slm;

namespace {

nf::plan_input input(std::int64_t n, bool single, std::int64_t batch = 1) {
    nf::plan_input in;
    in.n = n;
    in.single = single;
    in.batch = {batch, n, n, 0, 0};
    return in;
}

bool ends_with(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

struct factor_case {
    std::int64_t n, f0, f1, f2, f3;
};

class NFactsFactors : public ::testing::TestWithParam<factor_case> {};

TEST_P(NFactsFactors, AscendingFactorsOfLeastSpread) {
    const factor_case c = GetParam();
    std::int64_t f[4];
    ASSERT_TRUE(nf::choose_factors(c.n, f));
    EXPECT_EQ(f[0], c.f0);
    EXPECT_EQ(f[1], c.f1);
    EXPECT_EQ(f[2], c.f2);
    EXPECT_EQ(f[3], c.f3);
}

INSTANTIATE_TEST_SUITE_P(Lengths, NFactsFactors,
                         ::testing::Values(factor_case{512, 4, 4, 4, 8}, factor_case{1024, 4, 4, 8, 8},
                                           factor_case{2048, 4, 8, 8, 8}, factor_case{4096, 8, 8, 8, 8},
                                           factor_case{8192, 8, 8, 8, 16}, factor_case{16384, 8, 8, 16, 16},
                                           factor_case{32768, 8, 16, 16, 16}, factor_case{65536, 16, 16, 16, 16}),
                         [](const ::testing::TestParamInfo<factor_case>& i) { return "N" + std::to_string(i.param.n); });

TEST(NFactsPlan, LengthsWithoutFactorsAreRefused) {
    std::int64_t f[4];
    for (std::int64_t n : {256, 768, 3000, 131072}) EXPECT_FALSE(nf::choose_factors(n, f)) << n;
    nf::plan p;
    EXPECT_EQ(nf::make_plan(input(256, false), {}, p), korami::ovx::dft::plan_not_applicable);
}

TEST(NFactsPlan, GeometryWithLoadLoop) {
    nf::device_facts big{16, 1024, 1 << 20};
    nf::plan p;
    ASSERT_EQ(nf::make_plan(input(32768, true), big, p), 0);
    EXPECT_EQ(p.work_group_size, 1024);
    const std::string o = nf::build_options(p, 0);
    EXPECT_NE(o.find("-DLOAD_LOOP_BOUND=4 "), std::string::npos) << o;
    EXPECT_EQ(o.find("LOAD_STORE_TAIL"), std::string::npos) << o;
    EXPECT_EQ(o.find("LOAD_LOOP_TAIL"), std::string::npos) << o;
    ASSERT_EQ(nf::make_plan(input(16384, true), {}, p), 0);
    EXPECT_EQ(p.work_group_size, 1024);
    EXPECT_EQ(p.load_loop_bound, 2);
}

TEST(NFactsPlan, ExactOptionsOfDouble4096Forward) {
    nf::plan p;
    ASSERT_EQ(nf::make_plan(input(4096, false), {}, p), 0);
    EXPECT_EQ(nf::build_options(p, 0),
              "-Dcl_tarvo_subgroups_long -DFFT_LEN=4096 -DFACT0=8 -DFACT1=8 -DFACT2=8 -DFACT3=8 -DMAX_FACT=8 "
              "-DKERNEL_FUNC=fft_4096_n_fact_slm_8_d -DFACT0_FUNC=fft_8_s -DFACT1_FUNC=fft_8_s -DFACT2_FUNC=fft_8_s "
              "-DFACT3_FUNC=fft_8_s -DFWD_DIR=1 -DBWD_DIR=0 -DIDIST=4096 -DODIST=4096 -DWORK_GROUP_SIZE=1024 "
              "-DSUBGROUP_SIZE=16 ");
    ASSERT_EQ(nf::make_plan(input(4096, true), {}, p), 0);
    EXPECT_EQ(nf::build_options(p, 1).rfind("-DFFT_LEN=4096 ", 0), 0u);
}

TEST(NFactsPlan, RowPassOptionsByMode) {
    nf::plan_input in = input(2048, false, 8);
    in.row = true;
    in.pre_twiddle_rows = 8;
    nf::plan p;
    ASSERT_EQ(nf::make_plan(in, {}, p), 0);
    EXPECT_EQ(p.pre_twiddle_bytes, 2048 * 8 * 16);
    const std::string pre = nf::build_options(p, 0);
    EXPECT_NE(pre.find("-DUSE_PRE_TWIDDLE "), std::string::npos);
    EXPECT_TRUE(ends_with(pre, "-DUSE_PRECOMPUTED_PRE_TWIDDLE ")) << pre;
    in = input(4096, false, 1024);
    in.row = true;
    in.pre_twiddle_rows = 1024;
    ASSERT_EQ(nf::make_plan(in, {}, p), 0);
    EXPECT_EQ(p.pre_twiddle_bytes, 0);
    const std::string run = nf::build_options(p, 1);
    EXPECT_TRUE(ends_with(run, "-DUSE_RUNTIME_PRE_TWIDDLE -DPRE_TW_NUM_PTS=4194304 ")) << run;
}

struct refusal_case {
    const char* name;
    nf::plan_input in;
    nf::device_facts dev;
};

class NFactsRefusal : public ::testing::TestWithParam<refusal_case> {};

TEST_P(NFactsRefusal, NotApplicable) {
    nf::plan p;
    EXPECT_EQ(nf::make_plan(GetParam().in, GetParam().dev, p), korami::ovx::dft::plan_not_applicable);
}

nf::plan_input with(nf::plan_input in, void (*f)(nf::plan_input&)) {
    f(in);
    return in;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NFactsRefusal,
    ::testing::Values(
        refusal_case{"SubGroup8", input(4096, false), {8, 1024, 131072}},
        refusal_case{"Double16384OverLocalMemory", input(16384, false), {}},
        refusal_case{"Single2048OddOutputDistance",
                     with(input(2048, true, 2), [](nf::plan_input& i) { i.batch.bwd_distance = 2049; }), {}},
        refusal_case{"InPlaceUnequalDistances",
                     with(input(1024, false, 2),
                          [](nf::plan_input& i) {
                              i.in_place = true;
                              i.batch.bwd_distance = 1100;
                          }),
                     {}},
        refusal_case{"RowCountOtherThanTransforms",
                     with(input(1024, false, 8),
                          [](nf::plan_input& i) {
                              i.row = true;
                              i.pre_twiddle_rows = 4;
                          }),
                     {}}),
    [](const ::testing::TestParamInfo<refusal_case>& i) { return std::string(i.param.name); });

TEST(NFactsPlan, PrebuiltOnlyOnLevelZero16AtDistanceNOrZero) {
    nf::plan p;
    ASSERT_EQ(nf::make_plan(input(4096, true), {}, p), 0);
    EXPECT_EQ(nf::prebuilt_name(p, 0, 1, "1.6.1002"), "fft4096_n_fact_slm_s_fwd");
    EXPECT_EQ(nf::prebuilt_name(p, 1, 1, "1.6.1002"), "fft4096_n_fact_slm_s_bwd");
    EXPECT_EQ(nf::prebuilt_name(p, 0, 0, "1.6.1002"), "");
    EXPECT_EQ(nf::prebuilt_name(p, 0, 1, "1.5"), "");
    ASSERT_EQ(nf::make_plan(input(2048, true), {}, p), 0);
    EXPECT_EQ(nf::prebuilt_name(p, 0, 1, "1.6.1002"), "");
    nf::plan_input in = input(8192, true, 2);
    in.batch.fwd_distance = in.batch.bwd_distance = 8200;
    ASSERT_EQ(nf::make_plan(in, {}, p), 0);
    EXPECT_EQ(nf::prebuilt_name(p, 0, 1, "1.6.1002"), "");
}

}  // namespace

// ---- the large backend -------------------------------------------------------------

#include "dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_large_plan.hpp"

namespace {

namespace lg = korami::ovx::dft::large_1d;

struct split_case {
    int log2n;
    std::int64_t n1, n2, pad;
};

class LargeSplit : public ::testing::TestWithParam<split_case> {};

TEST_P(LargeSplit, FactorsAndRowPadding) {
    const split_case c = GetParam();
    const std::int64_t n = std::int64_t(1) << c.log2n;
    lg::plan p;
    ASSERT_EQ(lg::make_plan(n, false, {1, 0, 0, 0, 0}, 128, p), 0);
    EXPECT_EQ(p.n1, c.n1);
    EXPECT_EQ(p.n2, c.n2);
    EXPECT_EQ(p.row_pad_bytes, c.pad);
    EXPECT_EQ(p.row_elems, c.n1 + c.pad / 16);
    EXPECT_EQ(p.matrix_bytes, (c.n1 * 16 + c.pad) * c.n2);
}

INSTANTIATE_TEST_SUITE_P(Lengths, LargeSplit,
                         ::testing::Values(split_case{21, 2048, 1024, 0}, split_case{22, 4096, 1024, 0},
                                           split_case{23, 8192, 1024, 0}, split_case{24, 8192, 2048, 256},
                                           split_case{25, 8192, 4096, 2048}, split_case{26, 8192, 8192, 0}),
                         [](const ::testing::TestParamInfo<split_case>& i) {
                             return "N2e" + std::to_string(i.param.log2n);
                         });

TEST(LargePlan, Double2e24MatrixBytes) {
    lg::plan p;
    ASSERT_EQ(lg::make_plan(std::int64_t(1) << 24, false, {2, 1 << 24, 1 << 24, 0, 0}, 128, p), 0);
    EXPECT_EQ(p.matrix_bytes, 513 * (std::int64_t(1) << 19));
    EXPECT_EQ(p.row_elems, 8192 + 16);
}

TEST(LargePlan, Refusals) {
    const std::int64_t n = std::int64_t(1) << 21;
    lg::plan p;
    for (std::int64_t len : {std::int64_t(1) << 20, std::int64_t(1) << 27, 3 * (std::int64_t(1) << 20)})
        EXPECT_EQ(lg::make_plan(len, false, {1, 0, 0, 0, 0}, 128, p), korami::ovx::dft::plan_not_applicable) << len;
    EXPECT_EQ(lg::make_plan(n, false, {2, n + 1, n + 1, 0, 0}, 128, p), korami::ovx::dft::plan_not_applicable);
    EXPECT_EQ(lg::make_plan(n, true, {1, 0, 0, n, 2 * n}, 128, p), korami::ovx::dft::plan_not_applicable);
    EXPECT_EQ(lg::make_plan(n, true, {1, n, 0, 0, 0}, 128, p), korami::ovx::dft::plan_not_applicable);
    EXPECT_EQ(lg::make_plan(n, true, {1, 0, 0, 0, 0}, 128, p), 0);
    EXPECT_EQ(p.distance, n);
}

}  // namespace
