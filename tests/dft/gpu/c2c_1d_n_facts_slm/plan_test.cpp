// Planning of the n-factor local-memory backend, its row pass and the large
// backend: factors, geometry, options, refusals, splits. Host only.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_large_plan.hpp"
#include "dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_n_facts_slm_plan.hpp"

namespace nf = korami::ovx::dft::n_facts_slm;
namespace lg = korami::ovx::dft::large_1d;
using korami::ovx::dft::plan_not_applicable;

namespace {

nf::plan_input input(std::int64_t n, bool single, std::int64_t batch = 1, std::int64_t rows = 0) {
    nf::plan_input in;
    in.n = n;
    in.single = single;
    in.batch = {batch, n, n, 0, 0};
    in.row = rows > 0;
    in.pre_twiddle_rows = rows;
    return in;
}

bool ends_with(const std::string& s, const std::string& t) {
    return s.size() >= t.size() && s.compare(s.size() - t.size(), t.size(), t) == 0;
}

TEST(NFactsPlan, FactorsOfEveryLength) {
    const std::int64_t table[8][5] = {{512, 4, 4, 4, 8},     {1024, 4, 4, 8, 8},     {2048, 4, 8, 8, 8},
                                      {4096, 8, 8, 8, 8},    {8192, 8, 8, 8, 16},    {16384, 8, 8, 16, 16},
                                      {32768, 8, 16, 16, 16}, {65536, 16, 16, 16, 16}};
    for (const auto& r : table) {
        std::int64_t f[4];
        ASSERT_TRUE(nf::choose_factors(r[0], f)) << r[0];
        EXPECT_EQ(std::vector<std::int64_t>(f, f + 4), std::vector<std::int64_t>(r + 1, r + 5)) << r[0];
    }
    std::int64_t f[4];
    for (std::int64_t n : {256, 768, 3000, 131072}) EXPECT_FALSE(nf::choose_factors(n, f)) << n;
}

TEST(NFactsPlan, GeometryAndOptions) {
    nf::plan p;
    ASSERT_EQ(nf::make_plan(input(32768, true), {16, 1024, 1 << 20}, p), 0);
    EXPECT_EQ(p.work_group_size, 1024);
    const std::string o = nf::build_options(p, 0);
    EXPECT_TRUE(ends_with(o, "-DSUBGROUP_SIZE=16 -DLOAD_LOOP_BOUND=4 ")) << o;
    ASSERT_EQ(nf::make_plan(input(16384, true), {}, p), 0);
    EXPECT_EQ(p.work_group_size, 1024);
    EXPECT_EQ(p.load_loop_bound, 2);
    EXPECT_EQ(nf::build_options(p, 1).rfind("-DFFT_LEN=16384 ", 0), 0u);  // no leading macro in single
    ASSERT_EQ(nf::make_plan(input(4096, false), {}, p), 0);
    EXPECT_EQ(nf::build_options(p, 0),
              "-Dcl_tarvo_subgroups_long -DFFT_LEN=4096 -DFACT0=8 -DFACT1=8 -DFACT2=8 -DFACT3=8 -DMAX_FACT=8 "
              "-DKERNEL_FUNC=fft_4096_n_fact_slm_8_d -DFACT0_FUNC=fft_8_s -DFACT1_FUNC=fft_8_s -DFACT2_FUNC=fft_8_s "
              "-DFACT3_FUNC=fft_8_s -DFWD_DIR=1 -DBWD_DIR=0 -DIDIST=4096 -DODIST=4096 -DWORK_GROUP_SIZE=1024 "
              "-DSUBGROUP_SIZE=16 ");
}

TEST(NFactsPlan, RowPassModes) {
    nf::plan p;
    ASSERT_EQ(nf::make_plan(input(2048, false, 8, 8), {}, p), 0);
    EXPECT_EQ(p.pre_twiddle_bytes, 2048 * 8 * 16);
    EXPECT_TRUE(ends_with(nf::build_options(p, 0), "-DUSE_PRE_TWIDDLE -DUSE_PRECOMPUTED_PRE_TWIDDLE "));
    ASSERT_EQ(nf::make_plan(input(4096, false, 1024, 1024), {}, p), 0);
    EXPECT_EQ(p.pre_twiddle_bytes, 0);
    EXPECT_TRUE(ends_with(nf::build_options(p, 1), "-DUSE_RUNTIME_PRE_TWIDDLE -DPRE_TW_NUM_PTS=4194304 "));
}

TEST(NFactsPlan, Refusals) {
    nf::plan p;
    EXPECT_EQ(nf::make_plan(input(4096, false), {8, 1024, 131072}, p), plan_not_applicable);  // sub-group 8
    EXPECT_EQ(nf::make_plan(input(16384, false), {}, p), plan_not_applicable);                // local memory
    nf::plan_input odd = input(2048, true, 2);
    odd.batch.bwd_distance = 2049;
    EXPECT_EQ(nf::make_plan(odd, {}, p), plan_not_applicable);
    nf::plan_input ip = input(1024, false, 2);
    ip.in_place = true;
    ip.batch.bwd_distance = 1100;
    EXPECT_EQ(nf::make_plan(ip, {}, p), plan_not_applicable);
    EXPECT_EQ(nf::make_plan(input(1024, false, 8, 4), {}, p), plan_not_applicable);  // rows != transforms
    EXPECT_FALSE(nf::single_count_accepted(1024, 32768));
    EXPECT_TRUE(nf::single_count_accepted(1024, 32769));
    EXPECT_FALSE(nf::single_count_accepted(512, 65536));
}

TEST(NFactsPlan, PrebuiltOnlyOnLevelZero16AtDistanceNOrZero) {
    nf::plan p;
    ASSERT_EQ(nf::make_plan(input(4096, true), {}, p), 0);
    EXPECT_EQ(nf::prebuilt_name(p, 0, 1, "1.6.1002"), "fft4096_n_fact_slm_s_fwd");
    EXPECT_EQ(nf::prebuilt_name(p, 1, 1, "1.6.1002"), "fft4096_n_fact_slm_s_bwd");
    EXPECT_EQ(nf::prebuilt_name(p, 0, 0, "1.6.1002"), "");
    EXPECT_EQ(nf::prebuilt_name(p, 0, 1, "1.5"), "");
    nf::plan_input far = input(8192, true, 2);
    far.batch.fwd_distance = far.batch.bwd_distance = 8200;
    ASSERT_EQ(nf::make_plan(far, {}, p), 0);
    EXPECT_EQ(nf::prebuilt_name(p, 0, 1, "1.6.1002"), "");
}

TEST(LargePlan, SplitsAndPadding) {
    const std::int64_t table[6][4] = {{21, 2048, 1024, 0}, {22, 4096, 1024, 0},    {23, 8192, 1024, 0},
                                      {24, 8192, 2048, 256}, {25, 8192, 4096, 2048}, {26, 8192, 8192, 0}};
    for (const auto& r : table) {
        lg::plan p;
        ASSERT_EQ(lg::make_plan(std::int64_t(1) << r[0], false, {1, 0, 0, 0, 0}, 128, p), 0);
        EXPECT_EQ(p.n1, r[1]);
        EXPECT_EQ(p.n2, r[2]);
        EXPECT_EQ(p.row_elems, r[1] + r[3] / 16);
    }
    lg::plan p;
    ASSERT_EQ(lg::make_plan(std::int64_t(1) << 24, false, {2, 1 << 24, 1 << 24, 0, 0}, 128, p), 0);
    EXPECT_EQ(p.matrix_bytes, 513 * (std::int64_t(1) << 19));
}

TEST(LargePlan, Refusals) {
    const std::int64_t n = std::int64_t(1) << 21;
    lg::plan p;
    for (std::int64_t len : {n / 2, n * 64, 3 * n / 2})
        EXPECT_EQ(lg::make_plan(len, false, {1, 0, 0, 0, 0}, 128, p), plan_not_applicable) << len;
    EXPECT_EQ(lg::make_plan(n, false, {2, n + 1, n + 1, 0, 0}, 128, p), plan_not_applicable);
    EXPECT_EQ(lg::make_plan(n, true, {1, 0, 0, n, 2 * n}, 128, p), plan_not_applicable);
}

}  // namespace
