// Host-side rules of the general 1D backend's planning and of the workspace
// alignment: factors, chunking under the scratch cap, the grouped launch,
// names, build options, program keys and the launches of a chunk.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_nonsubgrp_plan.hpp"
#include "dft/gpu/frame/align.hpp"
#include "ovx_test_env.hpp"

using namespace korami::ovx::dft::nsg;

namespace {

struct factor_row {
    long long n, f0, f1, f2, f3;
};

class Factors : public ::testing::TestWithParam<factor_row> {};

TEST_P(Factors, Table) {
    const factor_row r = GetParam();
    const factors f = choose_factors(r.n);
    EXPECT_EQ(f.f[0], r.f0);
    EXPECT_EQ(f.f[1], r.f1);
    EXPECT_EQ(f.f[2], r.f2);
    EXPECT_EQ(f.f[3], r.f3);
    EXPECT_EQ(f.f[0] * f.f[1] * f.f[2] * f.f[3], r.n);
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, Factors,
    ::testing::Values(factor_row{1, 1, 1, 1, 1}, factor_row{7, 7, 1, 1, 1}, factor_row{53, 53, 1, 1, 1},
                      factor_row{67, 67, 1, 1, 1}, factor_row{4099, 4099, 1, 1, 1}, factor_row{75, 15, 5, 1, 1},
                      factor_row{135, 15, 9, 1, 1}, factor_row{128, 8, 16, 1, 1}, factor_row{1000, 50, 20, 1, 1},
                      factor_row{4757, 71, 67, 1, 1}, factor_row{1 << 20, 64, 64, 64, 4},
                      factor_row{1 << 25, 256, 256, 256, 2}, factor_row{64, 64, 1, 1, 1},
                      factor_row{130, 26, 5, 1, 1}),
    [](const auto& i) { return ovx_test::name("n", i.param.n); });

TEST(Factors, LargerCofactorOfSmallestDivisorAboveLimit) {
    // 67 * 67 * 3: 3 divides, then 67 * 67 has no divisor up to 64.
    const factors f = choose_factors(67 * 67 * 3);
    EXPECT_EQ(f.f[0], 3);
    EXPECT_EQ(f.f[1], 67);
    EXPECT_EQ(f.f[2], 67);
}

TEST(DefaultFactors, Classification) {
    for (int f = 2; f <= 64; ++f) EXPECT_EQ(is_default_factor(f), f == 53 || f == 59 || f == 61) << f;
    EXPECT_TRUE(is_default_factor(65));
    EXPECT_EQ(function_name(67), "ODD_DEFAULT_FUNC");
    EXPECT_EQ(function_name(66), "EVEN_DEFAULT_FUNC");
    EXPECT_EQ(function_name(53), "ODD_DEFAULT_FUNC");
    EXPECT_EQ(function_name(16), "fft_16_s");
    EXPECT_EQ(kernel_name(1000, 0, true), "fft_1000_fact0_d");
    EXPECT_EQ(kernel_name(7, 2, false), "fft_7_fact2_s");
}

problem simple(long long n, long long batch, bool in_place, bool dbl = true, int arch = 5) {
    problem p;
    p.n = n;
    p.batch[0] = batch;
    for (int d = 0; d < 2; ++d) {
        p.dir[d].istride = p.dir[d].ostride = 1;
        p.dir[d].idist[0] = p.dir[d].odist[0] = n;
    }
    p.in_place = in_place;
    p.dbl = dbl;
    p.arch = arch;
    p.align_bytes = 16;
    return p;
}

TEST(Chunking, BatchThatFitsIsOneChunk) {
    plan pl;
    ASSERT_TRUE(make_plan(simple(1000, 10, false), pl));
    EXPECT_EQ(pl.chunk, 10);
    EXPECT_TRUE(pl.needs_scratch[0]);
    EXPECT_FALSE(pl.needs_scratch[1]);
    EXPECT_EQ(pl.scratch_bytes, 1000u * 16 * 10);
    EXPECT_EQ(pl.scratch_workspace_bytes, pl.scratch_bytes);
}

TEST(Chunking, BatchOverTheCapRunsInChunks) {
    plan pl;
    // 44040192 / (4096 * 16) = 672 transforms per chunk.
    ASSERT_TRUE(make_plan(simple(4096, 1000, false), pl));
    EXPECT_EQ(pl.chunk, 672);
    EXPECT_EQ(pl.scratch_bytes, kScratchCap);
    // Quen6 has a 16 GiB cap.
    ASSERT_TRUE(make_plan(simple(4096, 1000, false, true, 6), pl));
    EXPECT_EQ(pl.chunk, 1000);
    // One transform larger than the cap still gets one per chunk.
    ASSERT_TRUE(make_plan(simple(1 << 22, 3, false), pl));
    EXPECT_EQ(pl.chunk, 1);
    EXPECT_EQ(pl.scratch_bytes, (1ull << 22) * 16);
}

TEST(Chunking, ScratchAreasByFactorCount) {
    plan pl;
    ASSERT_TRUE(make_plan(simple(7, 4, false), pl));  // one factor, out of place: no scratch
    EXPECT_EQ(pl.scratch_workspace_bytes, 0u);
    ASSERT_TRUE(make_plan(simple(7, 4, true), pl));  // one factor, in place: area 1 for the copy
    EXPECT_TRUE(pl.needs_scratch[0]);
    EXPECT_FALSE(pl.needs_scratch[1]);
    ASSERT_TRUE(make_plan(simple(64 * 64 * 3, 1, false), pl));  // three factors
    EXPECT_TRUE(pl.needs_scratch[0]);
    EXPECT_TRUE(pl.needs_scratch[1]);
    ASSERT_TRUE(make_plan(simple(1 << 20, 1, false), pl));  // four factors
    EXPECT_EQ(pl.passes, 4);
    EXPECT_EQ(pl.scratch_workspace_bytes, 2 * pl.scratch_bytes);
}

TEST(Grouped, LengthsSeventyFiveAndOneThirtyFive) {
    plan pl;
    ASSERT_TRUE(make_plan(simple(75, 50, false), pl));
    EXPECT_TRUE(pl.grouped);
    EXPECT_EQ(pl.chunk, 50);
    EXPECT_EQ(pl.group_T, 25);
    EXPECT_EQ(pl.group_local_bytes, 30000);
    EXPECT_EQ(pl.scratch_workspace_bytes, 0u);
    ASSERT_TRUE(make_plan(simple(75, 40, false), pl));  // 40 is no multiple of 25 and fits
    EXPECT_FALSE(pl.grouped);
    ASSERT_TRUE(make_plan(simple(135, 30, true, false), pl));
    EXPECT_TRUE(pl.grouped);
    EXPECT_EQ(pl.group_local_bytes, 16200);
    // Over the cap the chunk is lowered to a multiple of T; the last chunk
    // keeps a remainder that the launch rounds up and the kernel masks.
    const long long per = static_cast<long long>(kScratchCap / (75 * 16));
    ASSERT_TRUE(make_plan(simple(75, per + 7, false), pl));
    EXPECT_TRUE(pl.grouped);
    EXPECT_EQ(pl.chunk % 25, 0);
    const auto l = chunk_launches(simple(75, per + 7, false), pl, (per + 7) - pl.chunk);
    ASSERT_EQ(l.size(), 1u);
    EXPECT_EQ(l[0].global[2] % 25, 0u);
    EXPECT_GE(l[0].global[2], static_cast<std::size_t>((per + 7) - pl.chunk));
}

TEST(Launches, TableOrder) {
    plan pl;
    problem p = simple(7, 3, true);
    ASSERT_TRUE(make_plan(p, pl));
    auto l = chunk_launches(p, pl, 3);
    ASSERT_EQ(l.size(), 2u);
    EXPECT_EQ(l[0].writes, area::scratch1);
    EXPECT_EQ(l[1].kernel, kernel_slot::copy);
    EXPECT_EQ(l[1].global[0], 7u);
    EXPECT_EQ(l[1].global[1], 3u);
    p = simple(1 << 20, 2, false);
    ASSERT_TRUE(make_plan(p, pl));
    l = chunk_launches(p, pl, 2);
    ASSERT_EQ(l.size(), 4u);
    EXPECT_EQ(l[0].writes, area::scratch1);
    EXPECT_EQ(l[1].reads, area::scratch1);
    EXPECT_EQ(l[1].writes, area::scratch2);
    EXPECT_EQ(l[2].writes, area::scratch1);
    EXPECT_EQ(l[3].reads, area::scratch1);
    EXPECT_EQ(l[3].writes, area::out);
    EXPECT_EQ(l[3].global[0], static_cast<std::size_t>(64 * 64 * 64));
    EXPECT_EQ(l[3].global[1], 1u);
}

TEST(Layout, StridesAndDistancesPerDirection) {
    node_layout l{};
    l.input_stride = 0;
    l.output_stride = 0;
    l.fwd_stride = 2;
    l.bwd_stride = 3;
    l.batch_records = 3;
    const long long counts[3] = {2, 3, 4};
    for (int j = 0; j < 3; ++j) {
        l.count[j] = counts[j];
        l.fwd_distance[j] = 100 * (j + 1);
        l.bwd_distance[j] = 1000 * (j + 1);
    }
    problem p;
    fill_directions(l, false, p);
    EXPECT_EQ(p.dir[0].istride, 2);
    EXPECT_EQ(p.dir[0].ostride, 3);
    EXPECT_EQ(p.dir[1].istride, 3);
    EXPECT_EQ(p.dir[1].ostride, 2);
    EXPECT_EQ(p.dir[0].idist[2], 300);
    EXPECT_EQ(p.dir[0].odist[2], 3000);
    EXPECT_EQ(p.dir[1].idist[1], 2000);
    EXPECT_EQ(p.batch[0] * p.batch[1] * p.batch[2], 24);
    fill_directions(l, true, p);
    EXPECT_EQ(p.dir[0].ostride, 2);
    EXPECT_EQ(p.dir[1].ostride, 3);
    // Input/output distances are used when the domain distances are unset.
    node_layout m{};
    m.input_stride = m.output_stride = 1;
    m.batch_records = 1;
    m.count[0] = 5;
    m.input_distance[0] = 11;
    m.output_distance[0] = 13;
    fill_directions(m, false, p);
    EXPECT_EQ(p.dir[1].idist[0], 11);
    EXPECT_EQ(p.dir[1].odist[0], 13);
}

TEST(Options, TextAndArchitectureOption) {
    problem p = simple(1000, 1, false);
    p.scale[0] = 0.5;
    plan pl;
    ASSERT_TRUE(make_plan(p, pl));
    const std::string o = build_options(p, pl, 0);
    EXPECT_EQ(o.rfind("-DNONSUBGRP -DFWD_DIR=1 -DBWD_DIR=0 -DSCALE=(ftype)0x1p-1 -DFACT0=50 -DFACT1=20 ", 0), 0u) << o;
    EXPECT_NE(o.find("-DBATCH1=1 -DBATCH2=1 -DBATCH3=1 "), std::string::npos);
    EXPECT_EQ(o.find("GRF"), std::string::npos);
    p.arch = 4;
    EXPECT_NE(build_options(p, pl, 1).find("-cl-tarvo-256-GRF-per-thread "), std::string::npos);
    problem q = simple(67, 1, true);
    ASSERT_TRUE(make_plan(q, pl));
    const std::string oq = build_options(q, pl, 1);
    EXPECT_NE(oq.find("-DNEED_ODD_DEFAULT -DNEED_COPY_OUTPUT "), std::string::npos) << oq;
    EXPECT_NE(oq.find("-DFWD_DIR=0 -DBWD_DIR=1"), std::string::npos);
}

TEST(Keys, DescriptiveAndNeverShared) {
    problem p = simple(1000, 1, false);
    plan pl;
    ASSERT_TRUE(make_plan(p, pl));
    const std::string e = entry_texts(p, pl, 0), o = build_options(p, pl, 0);
    const std::string k = program_key(p, pl, 0, e, o);
    EXPECT_EQ(k.rfind("gpu_framework_c2c_1d_def.ovx_dft_gpu_bkd_c2c_1d_nonsubgrp_sycl_d.dcfo1000:1:1#", 0), 0u) << k;
    // Three batch records of huge counts and distances: the key keeps all of them.
    problem b = simple(7, 1, false);
    b.batch[0] = 2;
    b.batch[1] = 3;
    b.batch[2] = 4;
    for (int j = 0; j < 3; ++j) b.dir[0].idist[j] = b.dir[0].odist[j] = 1234567890123456789LL - j;
    ASSERT_TRUE(make_plan(b, pl));
    const std::string kb = program_key(b, pl, 0, entry_texts(b, pl, 0), build_options(b, pl, 0));
    EXPECT_GT(kb.size(), 100u);
    EXPECT_NE(kb.find("*4:1234567890123456787:1234567890123456787"), std::string::npos) << kb;
    // Plans that differ only in what the descriptive part leaves out differ in the key.
    problem g1 = simple(75, 50, false), g2 = simple(75, 40, false);
    plan p1, p2;
    ASSERT_TRUE(make_plan(g1, p1));
    ASSERT_TRUE(make_plan(g2, p2));
    std::set<std::string> keys;
    keys.insert(program_key(g1, p1, 0, entry_texts(g1, p1, 0), build_options(g1, p1, 0)));
    keys.insert(program_key(g2, p2, 0, entry_texts(g2, p2, 0), build_options(g2, p2, 0)));
    EXPECT_EQ(keys.size(), 2u);
}

TEST(Plan, RefusesBatchBeyondOffsetRange) {
    plan pl;
    problem p = simple(1, 1, false);
    p.batch[0] = 1LL << 31;
    p.batch[1] = 2;
    EXPECT_FALSE(make_plan(p, pl));
    p.batch[1] = 1;
    EXPECT_TRUE(make_plan(p, pl));
}

TEST(AlignWorkspace, Rule) {
    // 1024-bit alignment: 128 bytes.
    EXPECT_EQ(align_workspace_bytes(0, 128), 0u);
    EXPECT_EQ(align_workspace_bytes(1, 128), 128u);
    EXPECT_EQ(align_workspace_bytes(128, 128), 128u);
    EXPECT_EQ(align_workspace_bytes(5760, 128), 5760u);
    EXPECT_EQ(align_workspace_bytes(5761, 128), 5888u);
    for (unsigned v : {1u, 17u, 33u, 1000u}) EXPECT_EQ(align_workspace_bytes(v, 8) % 16, 0u);
    EXPECT_EQ(align_workspace_bytes(1, 24), 48u);
    EXPECT_EQ(align_workspace_bytes(1, 12), 48u);
    EXPECT_EQ(align_workspace_bytes(96, 24), 96u);
    // A device reporting no alignment does not divide by zero.
    EXPECT_EQ(align_workspace_bytes(5, 0), 16u);
}

}  // namespace
