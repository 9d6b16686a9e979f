// Planning rules of the four-factor, four-factor column-batched, n-factor
// column-batched and very large 1D backends (host only).
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "dft/gpu/1d/ovx_dft_gpu_bkd_1d_very_large_plan.hpp"
#include "dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_4_facts_colbatch_plan.hpp"
#include "dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_4_facts_plan.hpp"
#include "dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_n_facts_colbatch_plan.hpp"
#include "ovx_test_env.hpp"

namespace ff = korami::ovx::dft::four_facts;
namespace fc = korami::ovx::dft::four_facts_colbatch;
namespace nc = korami::ovx::dft::n_facts_colbatch;
namespace vl = korami::ovx::dft::very_large;

namespace {

bool has(const std::string& s, const std::string& piece) { return s.find(piece) != std::string::npos; }

// ---- four-factor -------------------------------------------------------------

// Status of a split and the factors when it succeeds: the four-factor split
// (factors up to 49) and the balanced split with a largest factor.
struct split_row {
    bool balanced;
    int64_t n, max;
    int status;
    int64_t f0, f1;
};

TEST(FourFactsSplit, StatusesAndFactors) {
    const split_row rows[] = {
        {false, 0, 0, 7, 0, 0},        {false, 1, 0, 100, 0, 0},      {false, 2, 0, 100, 0, 0},
        {false, 53, 0, 100, 0, 0},     {false, 2402, 0, 100, 0, 0},   {false, 2401, 0, 0, 49, 49},
        {false, 44, 0, 0, 11, 4},      {false, 343, 0, 0, 49, 7},     {true, 0, 64, 7, 0, 0},
        {true, 1, 64, 100, 0, 0},      {true, 4099, 4096, 100, 0, 0}, {true, 134, 64, 100, 0, 0},
        {true, 12, 0, 100, 0, 0},      {true, 8192, 1024, 0, 128, 64}, {true, 128, 64, 0, 16, 8}};
    for (const split_row& r : rows) {
        int64_t o[2] = {0, 0};
        const int st = r.balanced ? fc::split_two_factors_balanced(r.n, o, r.max) : ff::split_two_factors_max49(r.n, o);
        EXPECT_EQ(st, r.status) << r.n << " max " << r.max;
        if (st == 0) EXPECT_EQ(std::make_pair(o[0], o[1]), std::make_pair(r.f0, r.f1)) << r.n << " max " << r.max;
    }
}

struct ff_case {
    int64_t n;
    bool single;
    int64_t L, A0, A1, S, B0, B1;  // L = 0: refused
};

class FourFactsSplits : public ::testing::TestWithParam<ff_case> {};

TEST_P(FourFactsSplits, PassLengths) {
    const ff_case c = GetParam();
    ff::plan_input in;
    in.n = c.n;
    in.single = c.single;
    ff::plan p;
    const int st = ff::make_plan(in, p);
    if (c.L == 0) {
        EXPECT_EQ(st, 100) << c.n;
        return;
    }
    ASSERT_EQ(st, 0) << c.n;
    EXPECT_EQ(p.pass_length[0], c.L);
    EXPECT_EQ(p.pass_factors[0][0], c.A0);
    EXPECT_EQ(p.pass_factors[0][1], c.A1);
    EXPECT_EQ(p.pass_length[1], c.S);
    EXPECT_EQ(p.pass_factors[1][0], c.B0);
    EXPECT_EQ(p.pass_factors[1][1], c.B1);
}

INSTANTIATE_TEST_SUITE_P(Examples, FourFactsSplits,
                         ::testing::Values(ff_case{2047, false, 0, 0, 0, 0, 0, 0},
                                           ff_case{2048, false, 64, 8, 8, 32, 8, 4},
                                           ff_case{2048, true, 64, 8, 8, 32, 8, 4},
                                           ff_case{2156, false, 49, 7, 7, 44, 11, 4},
                                           ff_case{2156, true, 98, 14, 7, 22, 11, 2},
                                           ff_case{2401, false, 49, 7, 7, 49, 7, 7},
                                           ff_case{2401, true, 0, 0, 0, 0, 0, 0},
                                           ff_case{4410, false, 70, 10, 7, 63, 9, 7},
                                           ff_case{4410, true, 0, 0, 0, 0, 0, 0},
                                           ff_case{16807, false, 0, 0, 0, 0, 0, 0},
                                           ff_case{33614, false, 686, 49, 14, 49, 7, 7},
                                           ff_case{539 * 539, false, 0, 0, 0, 0, 0, 0},
                                           ff_case{4094, false, 0, 0, 0, 0, 0, 0},
                                           ff_case{1048576, false, 1024, 32, 32, 1024, 32, 32},
                                           ff_case{1047552, false, 1024, 32, 32, 1023, 33, 31},
                                           ff_case{1047552, true, 0, 0, 0, 0, 0, 0},
                                           ff_case{2097152, false, 0, 0, 0, 0, 0, 0}),
                         [](const auto& i) { return ovx_test::name(i.param.n, i.param.single ? "s" : "d"); });

TEST(FourFactsPlan, PassRecordsAndTails) {
    ff::plan_input in;
    in.n = 2156;
    ff::plan p;
    ASSERT_EQ(ff::make_plan(in, p), 0);
    EXPECT_EQ(p.pass[0].num_ffts, 44);
    EXPECT_EQ(p.pass[1].num_ffts, 49);
    EXPECT_EQ(p.pass[0].work_group_size, 16 * 7);
    EXPECT_EQ(p.pass[1].work_group_size, 16 * 4);
    EXPECT_EQ(p.pass[0].local_bytes, 49 * 128);
    EXPECT_EQ(p.pass[0].global_size, 6 * 16 * 7);
    EXPECT_EQ(p.pass[0].kernel_name, "fft_49_colbatch_8_d");
    EXPECT_EQ(p.pass[1].fact0_func, "fft_11_s");
    const std::string o0 = ff::build_options(p, 0, 0), o1 = ff::build_options(p, 1, 1);
    EXPECT_TRUE(has(o0, "-DLOAD_STORE_TAIL=4 ")) << o0;
    EXPECT_TRUE(has(o1, "-DLOAD_STORE_TAIL=1 ")) << o1;
    EXPECT_TRUE(has(o0, "-Dcl_tarvo_subgroups_long -DFFT_LEN=49 -DNUM_FFTS=44 -DFACT0=7 -DFACT1=7 "));
    EXPECT_TRUE(has(o1, "-DFWD_DIR=0 -DBWD_DIR=1 "));
    EXPECT_TRUE(has(o0, "-DTWIDDLE -DMULTIFACTOR_TWIDDLE "));
    in.n = 2048;
    ASSERT_EQ(ff::make_plan(in, p), 0);
    EXPECT_FALSE(has(ff::build_options(p, 0, 0), "LOAD_STORE_TAIL"));
    EXPECT_FALSE(has(ff::build_options(p, 1, 0), "LOAD_STORE_TAIL"));
    in.single = true;
    in.n = 2156;
    ASSERT_EQ(ff::make_plan(in, p), 0);
    const std::string fs = ff::build_options(p, 0, 0);
    EXPECT_EQ(fs.rfind("-DFFT_LEN=98 ", 0), 0u) << fs;
    EXPECT_EQ(p.pass[0].kernel_name, "fft_98_colbatch_8_s");
}

// make_plan over devices and batch layouts: the status and, when planned,
// the transforms per chunk (one tile's scratch holds 4 transforms of 2^20
// doubles; two tiles or the newest architecture take the whole batch).
struct input_row {
    int64_t n;
    ff::batch_info batch;
    bool single;
    int arch, tiles, status;
    int64_t chunk;  // -1: not checked
};

TEST(FourFactsPlan, DevicesBatchesAndChunks) {
    const ff::batch_info one{1, 0, 0, 0, 0}, big{10, 1048576, 1048576, 0, 0}, many{5000, 4096, 4096, 0, 0};
    const input_row rows[] = {
        {4096, {}, false, 5, 1, 100, -1},       {4096, {}, false, 9, 1, 0, -1},        {4096, {}, false, 6, 0, 100, -1},
        {1048576, big, false, 6, 1, 0, 4},       {1048576, big, true, 6, 1, 0, 8},     {4096, many, false, 6, 1, 0, 1024},
        {4096, many, false, 6, 2, 0, 5000},      {4096, many, false, 9, 1, 0, 5000},   {2048, one, false, 6, 1, 0, -1},
        {2048, {2, 2048, 2048, 0, 0}, false, 6, 1, 0, -1},   {2048, {2, 2049, 2049, 0, 0}, false, 6, 1, 100, -1},
        {2048, {2, 2048, 4096, 0, 0}, false, 6, 1, 100, -1}, {2048, {2, 0, 0, 2048, 2048}, false, 6, 1, 0, -1},
        {2048, {2, 0, 0, 2048, 4096}, false, 6, 1, 100, -1},
    };
    for (const input_row& r : rows) {
        ff::plan_input in;
        in.n = r.n;
        in.batch = r.batch;
        in.single = r.single;
        in.arch = r.arch;
        in.tiles = r.tiles;
        ff::plan p;
        const std::string what = ovx_test::name(r.n, r.single ? "s" : "d", "arch", r.arch, "tiles", r.tiles, "batch",
                                                r.batch.transforms, r.batch.fwd_distance, r.batch.bwd_distance, r.batch.input_distance);
        ASSERT_EQ(ff::make_plan(in, p), r.status) << what;
        if (r.chunk >= 0) EXPECT_EQ(p.chunk_transforms, r.chunk) << what;
        if (r.status == 0) EXPECT_EQ(p.use_io_distances, r.batch.input_distance != 0) << what;
    }
    ff::plan_input in;
    in.n = 1048576;
    in.batch = big;
    ff::plan p;
    ASSERT_EQ(ff::make_plan(in, p), 0);
    EXPECT_EQ(p.scratch_bytes, 4ull * 1048576 * 16);
}

TEST(FourFactsPlan, WorkspaceOfOneDirection) {
    ff::plan_input in;
    ff::plan p;
    in.n = 2048;
    in.directions = 0;
    in.align_bytes = 64;
    ASSERT_EQ(ff::make_plan(in, p), 0);
    // tables: 8x8 and 8x4 complex doubles, one inter-pass table 8*8*32*32 bytes
    EXPECT_EQ(p.pass[0].table_bytes, 1024u);
    EXPECT_EQ(p.pass[1].table_bytes, 512u);
    EXPECT_EQ(p.twiddle_table_bytes, 8u * 8 * 32 * 32);
    EXPECT_EQ(p.twiddle_workspace_bytes, 1024u + 512u + 8u * 8 * 32 * 32);
    in.directions = 2;
    ASSERT_EQ(ff::make_plan(in, p), 0);
    EXPECT_EQ(p.twiddle_workspace_bytes, 1024u + 512u + 2u * 8 * 8 * 32 * 32);
}

// ---- four-factor column-batched --------------------------------------------------

fc::shape colbatch_shape(int64_t n, int64_t B, int64_t stride) {
    fc::shape s;
    s.n = n;
    s.fwd_stride = s.bwd_stride = stride;
    s.batch[0] = {B, 0, 0, 1, 1};
    return s;
}

TEST(FourFactsColbatchTest, CommitTest) {
    // Each row changes one field of a 4096-point, 16-column shape.
    struct row {
        const char* what;
        int status;
        void (*change)(fc::shape&);
    };
    const row rows[] = {
        {"plain", 0, [](fc::shape&) {}},
        {"io_distances", 0, [](fc::shape& s) { s.batch[0] = {16, 5, 1, 1, 1}; }},
        {"zero_fwd_distance", 100, [](fc::shape& s) { s.batch[0] = {16, 2, 1, 0, 1}; }},
        {"three_batches", 100, [](fc::shape& s) { s.batches = 3; }},
        {"group_count", 100, [](fc::shape& s) { s.colbatch_group_count = 1; }},
        {"output_offset", 100, [](fc::shape& s) { s.output_offset = 2; }},
        {"real", 100, [](fc::shape& s) { s.complex_domain = false; }},
    };
    for (const row& r : rows) {
        fc::shape s = colbatch_shape(4096, 16, 16);
        r.change(s);
        EXPECT_EQ(fc::commit_test(s), r.status) << r.what;
    }
}

TEST(FourFactsColbatchPlan, Example4096) {
    fc::device_facts dev;
    dev.arch = 9;
    fc::plan p;
    ASSERT_EQ(fc::make_plan(colbatch_shape(4096, 16, 16), dev, false, p), 0);
    EXPECT_EQ(p.pass_length[0], 64);
    EXPECT_EQ(p.pass_length[1], 64);
    for (int ps = 0; ps < 2; ++ps) {
        EXPECT_EQ(p.pass[ps].fact0, 8);
        EXPECT_EQ(p.pass[ps].fact1, 8);
        EXPECT_EQ(p.pass[ps].work_group_size, 128);
        EXPECT_EQ(p.pass[ps].global_size, 64 * 128);
        EXPECT_EQ(p.pass[ps].local_bytes, 8192);
        EXPECT_EQ(p.pass[ps].kernel_name, "fft_64_colbatch_8_d");
    }
    const std::string o0 = fc::build_options(p, 0, 0), o1 = fc::build_options(p, 1, 1);
    EXPECT_TRUE(has(o0, "-DTRANSPOSE_KERNEL -DISTRIDE=16 ")) << o0;
    EXPECT_FALSE(has(o0, "MULTIFACTOR"));
    EXPECT_TRUE(has(o1, "-DMULTIFACTOR_TWIDDLE -DOUTER_ODIST=0 -DOSTRIDE=16 ")) << o1;
    EXPECT_FALSE(has(o0, "INNER_TAIL"));
    EXPECT_TRUE(has(o0, "-DPADDED_TEMP "));
    ASSERT_EQ(fc::make_plan(colbatch_shape(8192, 16, 16), dev, false, p), 0);
    EXPECT_EQ(p.pass_length[0], 128);
    EXPECT_EQ(p.pass_factors[0][0], 16);
    EXPECT_EQ(p.pass_factors[0][1], 8);
    EXPECT_EQ(p.pass_length[1], 64);
    EXPECT_EQ(fc::make_plan(colbatch_shape(4099, 16, 16), dev, false, p), 100);
    EXPECT_EQ(fc::make_plan(colbatch_shape(2 * 67, 16, 16), dev, false, p), 100);
}

TEST(FourFactsColbatchPlan, Tails) {
    fc::device_facts dev;
    dev.arch = 9;
    fc::plan p;
    ASSERT_EQ(fc::make_plan(colbatch_shape(4096, 3, 3), dev, false, p), 0);
    std::string o = fc::build_options(p, 0, 0);
    EXPECT_FALSE(has(o, "PADDED_TEMP"));
    EXPECT_TRUE(has(o, "-DINNER_TAIL=3 -DTAIL_CHUNK_IDX=0 "));
    EXPECT_EQ(p.temp_outer_dist, 3 * 4096);
    ASSERT_EQ(fc::make_plan(colbatch_shape(4096, 12, 12), dev, false, p), 0);
    o = fc::build_options(p, 1, 0);
    EXPECT_TRUE(has(o, "-DPADDED_TEMP "));
    EXPECT_TRUE(has(o, "-DINNER_TAIL=4 -DTAIL_CHUNK_IDX=1 "));
    // No columns: refused instead of thrown.
    EXPECT_EQ(fc::make_plan(colbatch_shape(4096, 0, 16), dev, false, p), 100);
}

TEST(FourFactsColbatchPlan, OuterBatchAndHalves) {
    fc::device_facts dev;
    dev.arch = 9;
    fc::plan p;
    fc::shape s = colbatch_shape(4096, 2, 2);
    s.batches = 2;
    s.batch[1] = {3, 0, 0, 8192, 8192};
    EXPECT_EQ(fc::make_plan(s, dev, false, p), 100);
    ASSERT_EQ(fc::make_plan(s, dev, true, p), 0);
    EXPECT_EQ(p.outer_launches, 3);
    EXPECT_EQ(p.outer_per_launch, 1);
    EXPECT_TRUE(has(fc::build_options(p, 0, 0), "-DOUTER_IDIST=8192 "));
}

TEST(FourFactsColbatchPlan, SingleTileChunks) {
    fc::device_facts dev;  // arch 6, one tile
    dev.local_mem = 1 << 20;
    fc::plan p;
    ASSERT_EQ(fc::make_plan(colbatch_shape(1048576, 20, 20), dev, false, p), 0);
    EXPECT_EQ(p.groups_per_chunk, 1);
    EXPECT_EQ(p.chunk_count, 3);
    dev.tiles = 2;
    ASSERT_EQ(fc::make_plan(colbatch_shape(1048576, 20, 20), dev, false, p), 0);
    EXPECT_EQ(p.chunk_count, 1);
    // Outer batches per launch on one tile.
    dev.tiles = 1;
    fc::shape s = colbatch_shape(4096, 16, 16);
    s.batches = 2;
    s.batch[1] = {100, 0, 0, 65536, 65536};
    ASSERT_EQ(fc::make_plan(s, dev, false, p), 0);
    // R = 64 MiB / (2 * 4096 * 128) = 64
    EXPECT_EQ(p.outer_per_launch, 64);
    EXPECT_EQ(p.outer_launches, 1);
    EXPECT_EQ(p.outer_tail, 36);
}

TEST(FourFactsColbatchPlan, PrebuiltSelection) {
    fc::device_facts dev;
    dev.arch = 9;
    fc::plan p;
    ASSERT_EQ(fc::make_plan(colbatch_shape(4096, 4096, 4096), dev, true, p), 0);
    EXPECT_TRUE(fc::host_tables(p));
    const int r0 = fc::select_prebuilt(p, 0, 0, 1, "1.6.1002");
    const int r1 = fc::select_prebuilt(p, 1, 1, 1, "1.6.1002");
    ASSERT_GE(r0, 0);
    ASSERT_GE(r1, 0);
    EXPECT_EQ(fc::prebuilt_name(r0, 0), "fft64_num4096_split4096_s_trans_fwd");
    EXPECT_EQ(fc::prebuilt_name(r1, 1), "fft64_num4096_split4096_s_multitwidl_bwd");
    EXPECT_EQ(fc::select_prebuilt(p, 0, 0, 1, "1.5.1"), -1);
    EXPECT_EQ(fc::select_prebuilt(p, 0, 0, 1, nullptr), -1);
    EXPECT_EQ(fc::select_prebuilt(p, 0, 0, 0, "1.6.1002"), -1);  // OpenCL backend
    // Element strides other than the column count: the binaries do not fit.
    ASSERT_EQ(fc::make_plan(colbatch_shape(4096, 4096, 4100), dev, true, p), 0);
    EXPECT_EQ(fc::select_prebuilt(p, 0, 0, 1, "1.6.1002"), -1);
    // Double precision never.
    ASSERT_EQ(fc::make_plan(colbatch_shape(4096, 4096, 4096), dev, false, p), 0);
    EXPECT_EQ(fc::select_prebuilt(p, 0, 0, 1, "1.6.1002"), -1);
    // One tile on Quen6: split2048, then split1024 for 8192.
    dev.arch = 6;
    ASSERT_EQ(fc::make_plan(colbatch_shape(4096, 4096, 4096), dev, true, p), 0);
    EXPECT_EQ(p.groups_per_chunk, 256);
    EXPECT_EQ(p.chunk_count, 2);
    EXPECT_EQ(p.pass[0].chunk_columns, 2048);
    EXPECT_EQ(fc::prebuilt_name(fc::select_prebuilt(p, 0, 0, 1, "1.6"), 0), "fft64_num4096_split2048_s_trans_fwd");
    ASSERT_EQ(fc::make_plan(colbatch_shape(8192, 8192, 8192), dev, true, p), 0);
    EXPECT_EQ(p.pass[0].chunk_columns, 1024);
    EXPECT_EQ(fc::prebuilt_name(fc::select_prebuilt(p, 0, 1, 1, "1.6"), 1), "fft128_num8192_split1024_s_trans_bwd");
    EXPECT_EQ(fc::prebuilt_name(fc::select_prebuilt(p, 1, 0, 1, "1.6"), 0),
              "fft64_num8192_split1024_s_multitwidl_fwd");
}

TEST(FourFactsColbatchPlan, FloatOddOutputStride) {
    fc::device_facts dev;
    dev.arch = 9;
    fc::plan p;
    fc::shape s = colbatch_shape(4096, 16, 16);
    s.fwd_stride = 16;
    s.bwd_stride = 4097;
    ASSERT_EQ(fc::make_plan(s, dev, true, p), 0);
    EXPECT_TRUE(has(fc::build_options(p, 0, 0), "-DWRITE_FINAL_NON_SUBGROUP "));
    EXPECT_TRUE(has(fc::build_options(p, 1, 0), "-DWRITE_FINAL_NON_SUBGROUP "));
    EXPECT_FALSE(has(fc::build_options(p, 1, 1), "WRITE_FINAL_NON_SUBGROUP"));
    ASSERT_EQ(fc::make_plan(s, dev, false, p), 0);
    EXPECT_FALSE(has(fc::build_options(p, 1, 0), "WRITE_FINAL_NON_SUBGROUP"));
}

TEST(FourFactsColbatchPlan, DirectionsAndLimits) {
    fc::device_facts dev;
    dev.arch = 9;
    fc::plan p;
    fc::shape s = colbatch_shape(4096, 16, 16);
    s.directions = 1;
    ASSERT_EQ(fc::make_plan(s, dev, false, p), 0);
    EXPECT_EQ(p.twiddle_workspace_bytes, p.pass[0].table_bytes + p.pass[1].table_bytes + p.twiddle_table_bytes);
    EXPECT_EQ(p.twiddle_table_bytes, 16u * 4096 * 16);
    dev.max_work_group = 64;  // 16 * 8 does not fit
    EXPECT_EQ(fc::make_plan(s, dev, false, p), 100);
    dev.max_work_group = 1024;
    dev.arch = 5;
    EXPECT_EQ(fc::make_plan(s, dev, false, p), 100);
}

// ---- n-factor column-batched -----------------------------------------------------

TEST(NFactsFactorIntoN, Examples) {
    int64_t o[3] = {0, 0, 0};
    ASSERT_EQ(nc::factor_into_n(2, 64, o), 0);
    EXPECT_EQ(o[0], 8);
    EXPECT_EQ(o[1], 8);
    ASSERT_EQ(nc::factor_into_n(2, 96, o), 0);
    EXPECT_EQ(o[0], 12);
    EXPECT_EQ(o[1], 8);
    ASSERT_EQ(nc::factor_into_n(2, 4096, o), 0);
    EXPECT_EQ(o[0], 64);
    EXPECT_EQ(o[1], 64);
    EXPECT_EQ(nc::factor_into_n(2, 4097, o), 100);
    EXPECT_EQ(nc::factor_into_n(3, 4097, o), 100);
    ASSERT_EQ(nc::factor_into_n(3, 262144, o), 0);
    EXPECT_EQ(o[0], 64);
    EXPECT_EQ(o[1], 64);
    EXPECT_EQ(o[2], 64);
    EXPECT_EQ(nc::factor_into_n(3, 262144 * 2, o), 100);
    ASSERT_EQ(nc::factor_into_n(3, 32768, o), 0);
    EXPECT_EQ(o[0], 32);
    EXPECT_EQ(o[1], 32);
    EXPECT_EQ(o[2], 32);
    EXPECT_EQ(nc::factor_into_n(2, 61, o), 100);
    ASSERT_EQ(nc::factor_into_n(1, 61, o), 0);
    EXPECT_EQ(o[0], 61);
    EXPECT_EQ(nc::factor_into_n(1, 65, o), 100);
    EXPECT_EQ(nc::factor_into_n(2, 0, o), 7);
    EXPECT_EQ(nc::factor_into_n(2, 1, o), 100);
}

nc::shape columns(int64_t n, int64_t B, int64_t stride) {
    nc::shape s;
    s.n = n;
    s.fwd_stride = s.bwd_stride = stride;
    s.batch[0] = {B, 0, 0, 1, 1};
    return s;
}

TEST(NFactsColbatchTest, CommitTest) {
    EXPECT_EQ(nc::commit_test(columns(64, 32, 32)), 0);
    EXPECT_EQ(nc::commit_test(columns(64, 1, 32)), 100);   // a single column
    EXPECT_EQ(nc::commit_test(columns(64, 32, 31)), 100);  // stride below B
    nc::shape s = columns(64, 32, 32);
    s.batch[0] = {32, 0, 0, 2, 2};
    EXPECT_EQ(nc::commit_test(s), 100);
    s = columns(64, 32, 32);
    s.batches = 3;
    EXPECT_EQ(nc::commit_test(s), 100);
    s.batches = 1;
    s.dims = 2;
    EXPECT_EQ(nc::commit_test(s), 100);
    s.dims = 1;
    s.complex_domain = false;
    EXPECT_EQ(nc::commit_test(s), 100);
    s.complex_domain = true;
    s.interleaved = false;
    EXPECT_EQ(nc::commit_test(s), 100);
    // Row output: input and output strides given, output stride 1.
    s = columns(64, 32, 0);
    s.input_stride = 32;
    s.output_stride = 1;
    s.batch[0] = {32, 1, 64, 0, 0};
    EXPECT_EQ(nc::commit_test(s), 0);
    s.batch[0] = {32, 1, 63, 0, 0};
    EXPECT_EQ(nc::commit_test(s), 100);
    s.batch[0] = {32, 1, 64, 0, 0};
    s.fwd_offset = 1;
    EXPECT_EQ(nc::commit_test(s), 100);
    // colbatch_group_count is not part of the test.
    s = columns(64, 32, 32);
    s.colbatch_group_count = 4;
    EXPECT_EQ(nc::commit_test(s), 0);
}

TEST(NFactsColbatchPlan, Example64x32) {
    nc::device_facts dev;
    nc::plan p;
    nc::shape s = columns(64, 32, 32);
    ASSERT_EQ(nc::make_plan(s, dev, false, p), 0);
    EXPECT_EQ(p.factors[0], 8);
    EXPECT_EQ(p.factors[1], 8);
    EXPECT_EQ(p.factors[2], 1);
    const std::vector<int64_t> cand = nc::candidate_columns(p, 0, dev.local_mem, dev.max_work_group);
    EXPECT_EQ(cand, (std::vector<int64_t>{8, 16, 24, 32}));
    EXPECT_TRUE(p.columns_per_group[0] == 8 || p.columns_per_group[0] == 16 || p.columns_per_group[0] == 24 ||
                p.columns_per_group[0] == 32);
    EXPECT_EQ(p.workgroup_size[0] % 16, 0);
    EXPECT_EQ(p.kernel_name[0].rfind("fft_64_colbatched_once_", 0), 0u);
    const std::string o = nc::build_options(p, 0);
    EXPECT_TRUE(has(o, "-DOUTER_BATCH=1 -DOUTER_BATCH_INPUT_DISTANCE=0 -DOUTER_BATCH_OUTPUT_DISTANCE=0 ")) << o;
    EXPECT_TRUE(has(o, "-DFACT0=8 -DFACT1=8 -DFACT2=1 "));
    EXPECT_TRUE(has(o, "-DFACT2_FUNC=fft_1_s "));
    EXPECT_EQ(p.table_bytes[1], 0u);
    EXPECT_EQ(p.twiddle_workspace_bytes, 2u * 64 * 16);
    if (p.columns_per_group[0] == 32) {
        EXPECT_TRUE(has(o, "-DSLM_BYTE_SIZE="));
    }
}

TEST(NFactsColbatchPlan, NamesAndOptions) {
    nc::device_facts dev;
    nc::plan p;
    nc::shape s = columns(256, 16, 16);
    ASSERT_EQ(nc::make_plan(s, dev, false, p), 0);
    EXPECT_EQ(p.columns_per_group[0], 16);
    EXPECT_EQ(p.kernel_name[0], "fft_256_colbatched_once_16_d");
    EXPECT_TRUE(has(nc::build_options(p, 0), "-DSLM_BYTE_SIZE=65536 "));
    // Two records, second count 2: "twice".
    s.batches = 2;
    s.batch[1] = {2, 0, 0, 4096, 4096};
    ASSERT_EQ(nc::make_plan(s, dev, true, p), 0);
    EXPECT_EQ(p.kernel_name[1].find("_twice_"), 18u);
    EXPECT_EQ(p.kernel_name[1].back(), 's');
    const std::string o = nc::build_options(p, 1);
    EXPECT_EQ(o.rfind("-DINPUT_STRIDE=16 ", 0), 0u) << o;
    EXPECT_TRUE(has(o, "-DOUTER_BATCH=2 -DOUTER_BATCH_INPUT_DISTANCE=4096 -DOUTER_BATCH_OUTPUT_DISTANCE=4096 "));
    // Row output.
    s = columns(64, 32, 0);
    s.input_stride = 32;
    s.output_stride = 1;
    s.batch[0] = {32, 1, 64, 0, 0};
    ASSERT_EQ(nc::make_plan(s, dev, false, p), 0);
    const std::string r = nc::build_options(p, 0);
    EXPECT_TRUE(has(r, "-DINNER_BATCH_OUTPUT_DISTANCE=64 ")) << r;
    EXPECT_FALSE(has(r, "SLM_BYTE_SIZE"));
    // Float row output with an odd output distance: refused.
    s.batch[0] = {32, 1, 65, 0, 0};
    EXPECT_EQ(nc::make_plan(s, dev, true, p), 100);
    EXPECT_EQ(nc::make_plan(s, dev, false, p), 0);
}

TEST(NFactsColbatchPlan, RefusalsAndFactors) {
    nc::device_facts dev;
    nc::plan p;
    EXPECT_EQ(nc::make_plan(columns(4096, 8, 8), dev, false, p), 100);  // 8 columns need 512 KiB
    EXPECT_EQ(nc::make_plan(columns(4097, 8, 8), dev, false, p), 100);
    ASSERT_EQ(nc::make_plan(columns(61, 8, 8), dev, false, p), 0);  // one pass
    EXPECT_EQ(p.factors[0], 61);
    EXPECT_EQ(p.factors[1], 1);
    dev.local_mem = 1 << 22;
    ASSERT_EQ(nc::make_plan(columns(32768, 8, 8), dev, true, p), 0);
    EXPECT_EQ(p.factors[2], 32);
    EXPECT_NE(p.table_bytes[1], 0u);
    // Sub-group sizes: 8 only on Quen5, below 2 never.
    dev = nc::device_facts{};
    dev.min_sub_group = 8;
    EXPECT_EQ(nc::make_plan(columns(64, 32, 32), dev, false, p), 100);
    dev.arch = 5;
    ASSERT_EQ(nc::make_plan(columns(64, 32, 32), dev, false, p), 0);
    EXPECT_EQ(p.U, dev.compute_units / 16);
    EXPECT_EQ(p.H, 4);
    dev.min_sub_group = 1;
    EXPECT_EQ(nc::make_plan(columns(64, 32, 32), dev, false, p), 100);
    dev.min_sub_group = 0;
    EXPECT_EQ(nc::make_plan(columns(64, 32, 32), dev, false, p), 100);
}

TEST(NFactsColbatchPlan, GroupCountAndDirections) {
    nc::device_facts dev;
    nc::plan p;
    nc::shape s = columns(64, 3, 3);
    s.batches = 2;
    s.batch[1] = {2, 0, 0, 192, 192};
    s.colbatch_group_count = 4;
    EXPECT_EQ(nc::make_plan(s, dev, false, p), 100);  // 6 transforms
    s.batch[0].count = 4;
    s.fwd_stride = s.bwd_stride = 4;
    s.batch[1] = {2, 0, 0, 256, 256};
    ASSERT_EQ(nc::make_plan(s, dev, false, p), 0);  // 8 transforms
    EXPECT_TRUE(has(nc::build_options(p, 0), "-DPOST_TWIDDLE_BATCH=4 "));
    s = columns(64, 32, 32);
    s.directions = 1;
    ASSERT_EQ(nc::make_plan(s, dev, false, p), 0);
    EXPECT_TRUE(p.kernel_name[0].empty());
    EXPECT_FALSE(p.kernel_name[1].empty());
    EXPECT_EQ(p.twiddle_workspace_bytes, 64u * 16);
}

TEST(NFactsColbatchPlan, FloatWaveRule) {
    // Float, N 2048, B 64, one batch record, one tile: a device whose chosen
    // block gives 1 < G/(k U) < 1.36 waves is refused; the double half and
    // multi-tile devices do not apply the rule.
    nc::device_facts dev;
    int refused = 0;
    for (int64_t lm : {128 << 10, 192 << 10, 256 << 10, 1 << 20}) {
        for (int64_t cu = 8; cu <= 512; cu += 8) {
            dev.local_mem = lm;
            dev.compute_units = cu;
            dev.tiles = 1;
            nc::plan p;
            if (nc::make_plan(columns(2048, 64, 64), dev, true, p) == 100) {
                ++refused;
                dev.tiles = 2;
                EXPECT_EQ(nc::make_plan(columns(2048, 64, 64), dev, true, p), 0) << cu;
                dev.tiles = 1;
            }
        }
    }
    EXPECT_GT(refused, 0);
}

// ---- very large ----------------------------------------------------------------------

TEST(VeryLargePlan, Lengths) {
    vl::factors f;
    ASSERT_TRUE(vl::plan_of_complex_length(33554432, f));
    EXPECT_EQ(f.n0, 512);
    EXPECT_EQ(f.n1, 256);
    EXPECT_EQ(f.n2, 256);
    EXPECT_EQ(f.pad, 8);
    EXPECT_EQ(vl::scratch_bytes(f), 520ull * 256 * 256 * 8);
    ASSERT_TRUE(vl::plan_of_complex_length(134400000, f));
    EXPECT_EQ(f.n0, 512);
    EXPECT_EQ(f.n1, 525);
    EXPECT_EQ(f.n2, 500);
    EXPECT_EQ(f.pad, 0);
    EXPECT_FALSE(vl::plan_of_complex_length(1 << 24, f));
}

TEST(VeryLargePlan, CommitTest) {
    vl::shape s;
    s.n = 33554432;
    s.fwd_stride = s.bwd_stride = 1;
    EXPECT_EQ(vl::commit_test(s), 0);
    s.batch = {2, 0, 0, 33554431, 33554432};
    EXPECT_EQ(vl::commit_test(s), 100);
    s.batch = {2, 0, 0, 33554432, 33554432};
    EXPECT_EQ(vl::commit_test(s), 0);
    s.real = true;
    s.n = 67108864;
    s.batch = {1, 0, 0, 0, 0};
    EXPECT_EQ(vl::commit_test(s), 0);
    s.n = 33554432;  // complex length 2^24: not planned
    EXPECT_EQ(vl::commit_test(s), 100);
    s.n = 67108864;
    s.batch = {2, 0, 0, 67108864, 33554433};
    EXPECT_EQ(vl::commit_test(s), 0);
    s.batch = {2, 0, 0, 67108865, 33554433};  // odd real distance
    EXPECT_EQ(vl::commit_test(s), 100);
    s.batch = {2, 0, 0, 67108864, 33554432};  // conjugate-even side too short
    EXPECT_EQ(vl::commit_test(s), 100);
    s.batch = {1, 0, 0, 0, 0};
    s.output_offset = 1;
    EXPECT_EQ(vl::commit_test(s), 100);
    s.output_offset = 0;
    s.fwd_stride = 2;
    EXPECT_EQ(vl::commit_test(s), 100);
}

TEST(VeryLargePlan, Stages) {
    vl::factors f;
    ASSERT_TRUE(vl::plan_of_complex_length(33554432, f));
    const vl::stage_shape s0 = vl::stage_of(f, 0, false);
    EXPECT_EQ(s0.length, 512);
    EXPECT_EQ(s0.input_stride, 256 * 256);
    EXPECT_EQ(s0.output_stride, 1);
    EXPECT_EQ(s0.batch[0].count, 256);
    EXPECT_EQ(s0.batch[0].output_distance, 520);
    EXPECT_EQ(s0.batch[1].output_distance, 520 * 256);
    EXPECT_EQ(s0.colbatch_group_count, 256 * 256);
    const vl::stage_shape s1 = vl::stage_of(f, 1, false);
    EXPECT_TRUE(s1.in_place);
    EXPECT_EQ(s1.input_stride, 520 * 256);
    EXPECT_EQ(s1.colbatch_group_count, 256);
    const vl::stage_shape s2 = vl::stage_of(f, 2, true);
    EXPECT_EQ(s2.output_stride, 512 * 256);
    EXPECT_EQ(s2.batch[1].input_distance, 520 * 256);
    EXPECT_EQ(s2.batch[1].output_distance, 512);
    EXPECT_EQ(s2.output_offset, 1);
    EXPECT_EQ(s2.colbatch_group_count, 0);
    // The stage sub-nodes pass the column-batched test.
    for (int st = 0; st < 3; ++st) {
        const vl::stage_shape x = vl::stage_of(f, st, false);
        nc::shape s;
        s.n = x.length;
        s.input_stride = x.input_stride;
        s.output_stride = x.output_stride;
        s.in_place = x.in_place;
        s.batches = 2;
        for (int r = 0; r < 2; ++r)
            s.batch[r] = {x.batch[r].count, x.batch[r].input_distance, x.batch[r].output_distance, 0, 0};
        s.colbatch_group_count = x.colbatch_group_count;
        EXPECT_EQ(nc::commit_test(s), 0) << st;
        nc::device_facts dev;
        dev.arch = 5;
        dev.min_sub_group = 8;
        nc::plan p;
        EXPECT_EQ(nc::make_plan(s, dev, true, p), 0) << st;
    }
}

TEST(VeryLargePlan, Distances) {
    const vl::record r{2, 0, 0, 10, 12};
    EXPECT_EQ(vl::compute_input_distance(r, false, 0), 10);
    EXPECT_EQ(vl::compute_output_distance(r, false, 0), 12);
    EXPECT_EQ(vl::compute_input_distance(r, true, 0), 5);
    EXPECT_EQ(vl::compute_output_distance(r, true, 1), 5);
    const vl::record fb{2, 0, 0, 0, 0};
    vl::record g = fb;
    g.fwd_distance = 8;
    g.bwd_distance = 6;
    EXPECT_EQ(vl::compute_input_distance(g, false, 0), 8);
    EXPECT_EQ(vl::compute_output_distance(g, false, 0), 6);
    EXPECT_EQ(vl::compute_input_distance(g, false, 1), 6);
    EXPECT_EQ(vl::compute_output_distance(g, true, 1), 4);
    EXPECT_EQ(vl::stage2_output_distance(g, true, 1), 4);
    EXPECT_EQ(vl::stage2_output_distance(g, true, 0), 6);
}

}  // namespace
