// Planning of the small multi-dimensional local-memory backend: factor
// splits, the plans of worked examples (factors, transforms per work-group,
// last group, tables, kernel names), the directions built, build options,
// the layout rules per direction and the device refusals. Host only.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "dft/gpu/md/ovx_dft_gpu_bkd_small_md_slm_plan.hpp"

namespace smd = korami::ovx::dft::small_md_slm;
using v64 = std::vector<std::int64_t>;

namespace {

// A packed problem of node-order lengths (innermost first) with the default
// domain strides of the descriptor; scales 1/3 and 1/N.
smd::problem packed(bool real, bool single, v64 n, std::int64_t T = 1, bool in_place = false) {
    smd::problem p;
    p.real = real;
    p.single = single;
    p.in_place = in_place;
    p.rank = static_cast<std::int64_t>(n.size());
    std::int64_t N = 1, f = 1, b = 1;
    for (std::size_t d = 0; d < n.size(); ++d) {
        p.n[d] = n[d];
        p.input_stride[d] = p.output_stride[d] = 0;
        p.fwd_stride[d] = f;
        p.bwd_stride[d] = b;
        const std::int64_t h = n[d] / 2 + 1;
        f *= real && d == 0 ? (in_place ? 2 * h : n[d]) : n[d];
        b *= real && d == 0 ? h : n[d];
        N *= n[d];
    }
    p.transforms = T;
    if (T > 1) {
        p.fwd_distance = f;
        p.bwd_distance = b;
    }
    p.scale[0] = 1.0 / 3;
    p.scale[1] = 1.0 / static_cast<double>(N);
    return p;
}

int plan_of(const smd::problem& p, smd::plan& out, const smd::device_figures& dev = {}) {
    const smd::layout l = smd::layout_of(p);
    const int st = smd::layout_status(p, l);
    return st != 0 ? st : smd::make_plan(p, l, dev, out);
}

v64 factors(const smd::plan& p, int d) { return v64(p.fact[d], p.fact[d] + p.count[d]); }

// Which of the six table areas a plan uses, as a string of slot numbers.
std::string slots(const smd::plan& p) {
    std::uint64_t b[6];
    smd::table_bytes(p, 128, b);
    std::string s;
    for (int i = 0; i < 6; ++i)
        if (b[i]) s += std::to_string(i);
    return s;
}

TEST(SmallMdPlan, FactorSplitsHaveTheLeastSpread) {
    struct row {
        std::int64_t k, L;
        v64 want;  // empty: no split (100)
    };
    const row rows[] = {{2, 4096, {64, 64}},   {3, 4096, {16, 16, 16}}, {4, 4096, {8, 8, 8, 8}}, {2, 128, {16, 8}},
                        {2, 60, {10, 6}},      {3, 60, {5, 4, 3}},      {1, 64, {64}},           {2, 67, {}},
                        {2, 8192, {}},         {1, 65, {}},             {2, 1, {}},              {3, 8, {2, 2, 2}},
                        {5, 64, {}}};
    for (const row& r : rows) {
        std::int64_t f[4] = {0, 0, 0, 0};
        const int st = smd::factor_length(r.k, r.L, f);
        if (r.want.empty()) {
            EXPECT_EQ(st, 100) << r.k << " factors of " << r.L;
        } else {
            ASSERT_EQ(st, 0) << r.k << " factors of " << r.L;
            EXPECT_EQ(v64(f, f + r.k), r.want) << r.k << " factors of " << r.L;
        }
    }
    std::int64_t f[4];
    EXPECT_EQ(smd::factor_length(2, 64, nullptr), 7);
    EXPECT_EQ(smd::factor_length(2, 0, f), 7);
}

struct example {
    const char* label;
    smd::problem prob;
    v64 dim0, dim1;
    std::int64_t per_group, last_group, groups;
    const char* tables;  // slots of the table areas in use
    const char* name;
};
void PrintTo(const example& e, std::ostream* os) { *os << e.label; }

class SmallMdExamples : public ::testing::TestWithParam<example> {};

TEST_P(SmallMdExamples, Plan) {
    const example& e = GetParam();
    smd::plan p;
    ASSERT_EQ(plan_of(e.prob, p), 0);
    EXPECT_EQ(factors(p, 0), e.dim0);
    EXPECT_EQ(factors(p, 1), e.dim1);
    EXPECT_EQ(p.per_group, e.per_group);
    EXPECT_EQ(p.last_group, e.last_group);
    EXPECT_EQ(p.groups(), e.groups);
    EXPECT_EQ(slots(p), e.tables);
    EXPECT_EQ(smd::kernel_name(p), e.name);
    // The kernel keeps every row of a group in local memory.
    const std::int64_t row_fp = 2 * (p.c2c_len() + (p.real ? 1 : 0));
    EXPECT_GE(p.slm_bytes, p.rows() * row_fp * p.elem());
    EXPECT_LE(p.slm_bytes, smd::device_figures{}.local_mem);
    EXPECT_LE(p.work_group_size(), smd::device_figures{}.max_work_group);
}

INSTANTIATE_TEST_SUITE_P(
    Quen6, SmallMdExamples,
    ::testing::Values(
        // One factor: a lane pair per row, min(h, transforms) per work-group.
        example{"prime_rows_share_groups", packed(false, false, {11}, 20), {11}, {1}, 8, 4, 3, "", "cmplx_fft_11_d"},
        example{"prime_row_of_61", packed(false, false, {61}, 7), {61}, {1}, 7, 7, 1, "", "cmplx_fft_61_d"},
        example{"two_points_in_groups_of_h", packed(false, false, {2}, 8), {2}, {1}, 8, 8, 1, "", "cmplx_fft_2_d"},
        // 64 points: the 8 x 8 split costs a work-group 32 steps against 128
        // for a row held by one lane pair, so the split wins.
        example{"split_64", packed(false, false, {64}, 7), {8, 8}, {1}, 1, 1, 7, "01", "cmplx_fft_64_d"},
        example{"four_factors_480", packed(false, true, {480}, 3), {6, 5, 4, 4}, {1}, 1, 1, 3, "0123",
                "cmplx_fft_480_s"},
        // A real row of 120 points is a 60-point complex row; 60 splits.
        example{"real_120_splits_60", packed(true, false, {120}, 5), {5, 4, 3}, {1}, 1, 1, 5, "0124", "real_fft_120_d"},
        example{"real_74_prime_half", packed(true, true, {74}), {37}, {1}, 1, 1, 1, "", "real_fft_74_s"},
        example{"real_2d_outer_length_first", packed(true, false, {10, 8}), {5}, {4, 2}, 1, 1, 1, "5", "real_fft_8x10_d"},
        example{"complex_2d_64x64", packed(false, false, {64, 64}, 2), {8, 8}, {8, 8}, 1, 1, 2, "015",
                "cmplx_fft_64x64_d"},
        example{"real_2d_60x32_packed", packed(true, true, {60, 32}, 3), {6, 5}, {8, 4}, 1, 1, 3, "0145",
                "real_fft_32x60_s"}),
    [](const ::testing::TestParamInfo<example>& i) { return std::string(i.param.label); });

TEST(SmallMdPlan, OnlyTheWantedDirectionIsBuilt) {
    for (int dirs : {0, 1}) {
        smd::problem p = packed(false, true, {480}, 3);
        p.directions = dirs;
        smd::plan pl;
        ASSERT_EQ(plan_of(p, pl), 0);
        EXPECT_EQ(pl.wanted[0], dirs == 0);
        EXPECT_EQ(pl.wanted[1], dirs == 1);
        EXPECT_EQ(slots(pl), dirs == 0 ? "023" : "123");
        EXPECT_EQ(smd::slm_fp(pl, 1 - dirs), 0);
    }
}

bool has(const std::string& s, const std::string& t) { return s.find(t) != std::string::npos; }

TEST(SmallMdPlan, BuildOptions) {
    smd::plan p;
    ASSERT_EQ(plan_of(packed(false, false, {11}, 20), p), 0);
    const std::string fwd = smd::build_options(p, 0), bwd = smd::build_options(p, 1);
    EXPECT_EQ(fwd.rfind("-Dcl_tarvo_subgroups_long -DSLM_BYTE_SIZE=", 0), 0u) << fwd;
    EXPECT_TRUE(has(fwd, "-DKERNEL_FUNC=cmplx_fft_11_d -DFWD_DIR=1 -DBWD_DIR=0 -DIDIST=11 -DODIST=11 ")) << fwd;
    EXPECT_TRUE(has(fwd, "-DBATCH_PER_GROUP=8 -DBATCH_FOR_LAST_GROUP=4 -DREAL_FFT=0 ")) << fwd;
    EXPECT_TRUE(has(fwd, "-DDIM0FACT0=11 -DDIM0FACT0_FUNC=fft_11_s ")) << fwd;
    // One row factor: the scale as a hexadecimal constant, and the input
    // staged in local memory.
    EXPECT_TRUE(has(fwd, "-DSCALE=(ftype)0x1.5555555555555p-2 -DCOPY_INPUT_IN_SLM -DLOAD_ROW_BY_ROW=0 ")) << fwd;
    EXPECT_TRUE(has(bwd, "-DSCALE=(ftype)0x1.745d1745d1746p-4 ")) << bwd;
    p.scale[0] = 1.0;
    EXPECT_FALSE(has(smd::build_options(p, 0), "SCALE")) << "a scale of 1";

    ASSERT_EQ(plan_of(packed(false, true, {480}, 3), p), 0);
    const std::string s = smd::build_options(p, 1);
    EXPECT_EQ(s.rfind("-DSLM_BYTE_SIZE=", 0), 0u) << s;
    EXPECT_FALSE(has(s, "SCALE")) << "the main table carries the scale of split rows";
    EXPECT_TRUE(has(s, "-DDIM0FACT3=4 -DDIM0FACT3_FUNC=fft_4_s ")) << s;

    // Rank 2: the dimension-1 strides of the direction after its factors.
    smd::problem r = packed(true, false, {10, 8});
    r.input_stride[1] = 13;  // padded real rows as input strides; complex rows keep theirs
    r.input_stride[0] = 1;
    ASSERT_EQ(plan_of(r, p), 0);
    const std::string o = smd::build_options(p, 0);
    EXPECT_TRUE(has(o, "-DDIM1FACT1=2 -DDIM1FACT1_FUNC=fft_2_s -DDIM1ISTRIDE=13 -DDIM1OSTRIDE=6 ")) << o;
    EXPECT_LT(o.size(), 1024u);
}

struct layout_row {
    const char* label;
    smd::problem prob;
    bool fwd, bwd;
};
void PrintTo(const layout_row& r, std::ostream* os) { *os << r.label; }

smd::problem with(smd::problem p, void (*edit)(smd::problem&)) {
    edit(p);
    return p;
}

class SmallMdLayout : public ::testing::TestWithParam<layout_row> {};

TEST_P(SmallMdLayout, DirectionsServed) {
    const layout_row& r = GetParam();
    const smd::layout l = smd::layout_of(r.prob);
    EXPECT_EQ(l.supported[0], r.fwd);
    EXPECT_EQ(l.supported[1], r.bwd);
    EXPECT_EQ(smd::layout_status(r.prob, l), r.fwd || r.bwd ? 0 : 100);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, SmallMdLayout,
    ::testing::Values(
        layout_row{"packed", packed(false, false, {40, 48}, 2), true, true},
        // Input strides first: a backward-domain stride of 2 leaves the
        // forward output strided, the backward pair is contiguous.
        layout_row{"forward_output_strided", with(packed(false, false, {64}),
                                                  [](smd::problem& p) {
                                                      p.input_stride[0] = 1;
                                                      p.bwd_stride[0] = 2;
                                                  }),
                   false, true},
        layout_row{"backward_output_strided", with(packed(false, false, {64}),
                                                   [](smd::problem& p) {
                                                       p.input_stride[0] = 1;
                                                       p.fwd_stride[0] = 2;
                                                   }),
                   true, false},
        // The forward-domain rows are the forward input and the backward output.
        layout_row{"rows_overlap", with(packed(false, false, {40, 48}), [](smd::problem& p) { p.fwd_stride[1] = 39; }),
                   false, false},
        // Several transforms in place: a transform's rows must stay where
        // it read them, or another work-group could read what it wrote.
        layout_row{"real_in_place_pitches_differ",
                   with(packed(true, false, {10, 8}, 2, true), [](smd::problem& p) { p.bwd_stride[1] = 7; }), false,
                   false},
        // One transform is read whole before it is written.
        layout_row{"one_real_transform_in_place_pitches_differ",
                   with(packed(true, false, {10, 8}, 1, true), [](smd::problem& p) { p.bwd_stride[1] = 7; }), true, true},
        layout_row{"batch_not_packed", with(packed(false, false, {40, 48}, 2), [](smd::problem& p) { p.fwd_distance += 8; }),
                   false, false},
        layout_row{"transforms_overlap", with(packed(true, false, {120}, 3), [](smd::problem& p) { p.bwd_distance = 60; }),
                   false, false}),
    [](const ::testing::TestParamInfo<layout_row>& i) { return std::string(i.param.label); });

TEST(SmallMdPlan, OneDirectionAskedForAndNotServed) {
    smd::problem p = with(packed(false, false, {64}), [](smd::problem& q) {
        q.input_stride[0] = 1;
        q.fwd_stride[0] = 2;
    });
    p.directions = 1;
    EXPECT_EQ(smd::layout_status(p, smd::layout_of(p)), 100);
    p.directions = 0;
    EXPECT_EQ(smd::layout_status(p, smd::layout_of(p)), 0);
}

TEST(SmallMdPlan, DeviceRefusals) {
    smd::plan p;
    smd::device_figures sg8;
    sg8.sub_group = 8;
    EXPECT_EQ(plan_of(packed(false, false, {64}), p, sg8), 100) << "sub-groups of 8";
    EXPECT_EQ(plan_of(packed(false, false, {128, 128}), p), 100) << "256 KiB of one transform";
    EXPECT_EQ(plan_of(packed(false, false, {128, 64}), p), 0) << "128 KiB of one transform";
    EXPECT_EQ(plan_of(packed(false, false, {4097}), p), 100) << "no factors of at most 64";
    // The real length 2508 in double precision only on Level Zero.
    smd::device_figures l0;
    l0.backend = 1;
    EXPECT_EQ(plan_of(packed(true, false, {2508}), p), 100);
    EXPECT_EQ(plan_of(packed(true, false, {2508}), p, l0), 0);
    EXPECT_EQ(plan_of(packed(true, true, {2508}), p), 0);
    // Tiny complex rows: exactly 2 (double) or 4 (single) points, in whole
    // sub-group rows of transforms.
    EXPECT_EQ(plan_of(packed(false, false, {2}, 16), p), 0);
    EXPECT_EQ(plan_of(packed(false, false, {2}, 3), p), 100);
    EXPECT_EQ(plan_of(packed(false, false, {1}, 8), p), 100);
    EXPECT_EQ(plan_of(packed(false, true, {4}, 8), p), 0);
    EXPECT_EQ(plan_of(packed(false, true, {3}, 8), p), 100);
    std::int64_t e = 0, t = 0;
    ASSERT_TRUE(smd::generation_figures(6, &e, &t));
    EXPECT_EQ(e * 100 + t, 808);
    ASSERT_TRUE(smd::generation_figures(3, &e, &t));
    EXPECT_EQ(e * 100 + t, 1607);
    for (int g : {0, 1, 2, 4, 8}) EXPECT_FALSE(smd::generation_figures(g, &e, &t)) << g;
}

TEST(SmallMdPlan, TableAreasFollowTheWorkspaceRounding) {
    smd::plan p;
    ASSERT_EQ(plan_of(packed(true, false, {120}, 5), p), 0);
    std::uint64_t need[6], got[6];
    smd::table_bytes_needed(p, need);
    smd::table_bytes(p, 128, got);
    // Main rows: 4 h values per (block of h columns, output j); 12 columns
    // of 5 outputs in blocks of 8: 2 x 5 blocks of 32 doubles.
    EXPECT_EQ(need[0], 2u * 5 * 32 * 8);
    EXPECT_EQ(need[2], 4u * 3 * 16);  // the 4 x 3 pairs of the second factor
    for (int i = 0; i < 6; ++i) {
        EXPECT_GE(got[i], need[i]) << i;
        EXPECT_EQ(got[i] % 128, 0u) << i;
    }
}

}  // namespace
