// The n-factor local-memory backend and its pre-twiddle row pass on the
// stand-in GPU (PoCL): ownership through the public candidate lists,
// transforms against FFTW (USM and buffers, in and out of place, some in
// shuffled mode), the caller-held workspace, refusals and failed builds.
#include <gtest/gtest.h>

#include <sycl/sycl.hpp>

#include <ovxplat/sycl_standin.hpp>

#include <cmath>
#include <complex>
#include <cstdlib>
#include <string>
#include <vector>

#include "dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_n_facts_slm_plan.hpp"
#include "dft/gpu/backends.hpp"
#include "dft/gpu/gpu_test_harness.hpp"
#include "dft/ovx_dft_internal.hpp"
#include "korami/ovx/dft.hpp"

namespace dft = korami::ovx::dft;
using gpu_test::cplx;
using gpu_test::layout;

namespace {

// A missing device fails under CI and skips elsewhere.
#define REQUIRE_DEVICE()                                                              \
    do {                                                                              \
        if (!ovxplat::opencl_available()) {                                           \
            const char* ci = std::getenv("CI");                                       \
            if (ci && std::string(ci) == "true") FAIL() << "no OpenCL device";        \
            GTEST_SKIP() << "no OpenCL device";                                       \
        }                                                                             \
    } while (0)

const bkd_ops* nf_ops(bool single) { return single ? &bkd_c2c_1d_n_facts_slm_s_ops : &bkd_c2c_1d_n_facts_slm_d_ops; }
const bkd_ops* row_ops(bool single) {
    return single ? &bkd_c2c_1d_n_facts_slm_row_s_ops : &bkd_c2c_1d_n_facts_slm_row_d_ops;
}

struct api_case {
    bool single;
    std::int64_t n, batch;
    bool in_place;
    const char* profile;
    bool shuffle;
    const char* owner;  // record expected to own the node; null: any record but the n-factor one
    bool compute;
};

std::string describe(const api_case& c) {
    return "N" + std::to_string(c.n) + (c.single ? "s" : "d") + "_b" + std::to_string(c.batch) +
           (c.in_place ? "_ip_" : "_oop_") + c.profile + (c.shuffle ? "_shuffled" : "") + "_" +
           (c.owner ? std::string(c.owner).substr(4) : std::string("not_nf"));
}

template <dft::precision P>
void run_api(const api_case& c) {
    using R = std::conditional_t<P == dft::precision::DOUBLE, double, float>;
    ovxplat::scoped_gpu_profile prof(c.profile);
    ASSERT_TRUE(prof.ok()) << c.profile;
    sycl::queue q{sycl::gpu_selector_v};
    layout l;
    l.n = c.n;
    l.single = c.single;
    l.in_place = c.in_place;
    l.batch = {{c.batch, c.n, c.n}};
    l.fwd_scale = c.compute && c.n == 4096 ? 1.0 : 0.5;
    l.bwd_scale = 1.0 / static_cast<double>(c.n);
    gpu_test::api_descriptor<P> desc(c.n);
    gpu_test::configure(desc, l);
    desc.commit(q);
    const DFTI_DESCRIPTOR* node = dft::detail::descriptor_node(desc);
    if (c.owner)
        EXPECT_STREQ(bkd_name(node->bkd), c.owner);
    else
        EXPECT_NE(node->bkd, nf_ops(c.single));
    if (!c.compute) return;
    ovxplat::set_shuffle_mode(c.shuffle);
    gpu_test::expect_api_matches(desc, l, q, 11u, 5u, describe(c));
    ovxplat::set_shuffle_mode(false);
    (void)sizeof(R);
}

class NFactsApi : public ::testing::TestWithParam<api_case> {};

TEST_P(NFactsApi, OwnerAndTransformsMatchFftw) {
    REQUIRE_DEVICE();
    const api_case c = GetParam();
    if (c.single)
        run_api<dft::precision::SINGLE>(c);
    else
        run_api<dft::precision::DOUBLE>(c);
}

constexpr const char* NFd = "bkd_c2c_1d_n_facts_slm_d_ops";
constexpr const char* NFs = "bkd_c2c_1d_n_facts_slm_s_ops";

INSTANTIATE_TEST_SUITE_P(
    Lists, NFactsApi,
    ::testing::Values(api_case{false, 512, 3, false, "quen6", false, NFd, true},
                      api_case{false, 1024, 2, true, "quen6", true, NFd, true},
                      api_case{false, 4096, 2, true, "quen6", false, NFd, true},
                      api_case{false, 8192, 2, false, "quen6", true, NFd, true},
                      api_case{true, 2048, 2, false, "quen6", false, NFs, true},
                      api_case{true, 4096, 3, true, "quen6", true, NFs, true},
                      api_case{true, 16384, 2, false, "quen6", false, NFs, true},
                      api_case{false, 4096, 1, false, "quen8", false, NFd, true},
                      api_case{true, 8192, 1, true, "quen8", false, NFs, true},
                      api_case{true, 1024, 32769, false, "quen6", false, NFs, false},
                      api_case{true, 512, 65537, false, "quen6", false, NFs, false},
                      api_case{false, 256, 1, false, "quen6", false, "bkd_c2c_1d_nonsubgrp_d_ops", false},
                      api_case{true, 1024, 2, false, "quen6", false, "bkd_c2c_1d_nonsubgrp_s_ops", false},
                      api_case{false, 16384, 1, false, "quen6", false, "bkd_c2c_1d_4_facts_d_ops", false},
                      api_case{false, 8192, 1, false, "quen8", false, "bkd_c2c_1d_nonsubgrp_d_ops", false},
                      api_case{false, 4096, 1, false, "quen5", false, nullptr, false}),
    [](const ::testing::TestParamInfo<api_case>& i) { return describe(i.param); });

// The 1D real backend's complex sub-node of 2048 points now lands on the
// n-factor record; the real transform still matches FFTW.
TEST(NFactsApi, RealTransformThroughNFactorSubNode) {
    REQUIRE_DEVICE();
    ovxplat::scoped_gpu_profile prof("quen6");
    sycl::queue q{sycl::gpu_selector_v};
    const std::int64_t n = 4096;
    dft::descriptor<dft::precision::DOUBLE, dft::domain::REAL> desc(n);
    desc.set_value(dft::config_param::PLACEMENT, dft::config_value::NOT_INPLACE);
    desc.set_value(dft::config_param::FORWARD_SCALE, 0.5);
    desc.commit(q);
    const std::vector<double> x = gpu_test::random_real(static_cast<std::size_t>(n), 8u);
    double* in = sycl::malloc_shared<double>(n, q);
    std::complex<double>* out = sycl::malloc_shared<std::complex<double>>(n / 2 + 1, q);
    std::copy(x.begin(), x.end(), in);
    dft::compute_forward(desc, in, out).wait_and_throw();
    EXPECT_LT(gpu_test::rel_err(std::vector<cplx>(out, out + n / 2 + 1), gpu_test::dft_r2c(x, 0.5)), 1e-10);
    sycl::free(in, q);
    sycl::free(out, q);
}

// ---- node level: refusals, workspace, failed builds ------------------------------

struct node_env {
    ovxplat::scoped_gpu_profile prof;
    sycl::queue q;
    explicit node_env(const char* profile = "quen6") : prof(profile), q(sycl::gpu_selector_v) {}
};

struct refusal_case {
    const char* name;
    layout l;
};

class NFactsRefusal : public ::testing::TestWithParam<refusal_case> {};

// Refused by the only record of the list: the loop reports 3.
TEST_P(NFactsRefusal, OnlyRecordRefuses) {
    REQUIRE_DEVICE();
    node_env env;
    const layout& l = GetParam().l;
    const bkd_ops* list[] = {nf_ops(l.single), nullptr};
    gpu_test::node_ptr node = gpu_test::make_node(l, &env.q, list);
    ASSERT_TRUE(node);
    EXPECT_EQ(gpu_test::commit(node.get()), DFTI_STATUS_INCONSISTENT);
    EXPECT_EQ(node->bkd_data, nullptr);
}

layout lay(std::int64_t n, bool single, std::vector<gpu_test::rec> batch, std::int64_t fs = 1, bool in_place = false) {
    layout l;
    l.n = n;
    l.single = single;
    l.batch = std::move(batch);
    l.fs = l.bs = fs;
    l.in_place = in_place;
    return l;
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, NFactsRefusal,
    ::testing::Values(refusal_case{"OddOutputDistanceSingle", lay(2048, true, {{2, 2048, 2049}})},
                      refusal_case{"Strided", lay(1024, false, {{1, 0, 0}}, 2)},
                      refusal_case{"InPlaceUnequalDistances", lay(1024, false, {{2, 1024, 1100}}, 1, true)},
                      refusal_case{"NoFactors", lay(3000, false, {{1, 0, 0}})}),
    [](const ::testing::TestParamInfo<refusal_case>& i) { return std::string(i.param.name); });

TEST(NFactsNode, OffsetsAreRefused) {
    REQUIRE_DEVICE();
    node_env env;
    layout l = lay(1024, false, {{1, 0, 0}});
    const bkd_ops* list[] = {nf_ops(false), nullptr};
    gpu_test::node_ptr node = gpu_test::make_node(l, &env.q, list);
    node->user_dims.records[0] = dfti_dim{1024, 0, 0, 1, 1};
    node->input_offset = 4;
    EXPECT_EQ(gpu_test::commit(node.get()), DFTI_STATUS_INCONSISTENT);
}

TEST(NFactsApiWorkspace, ExternalBytesAndComputeWithoutWorkspace) {
    REQUIRE_DEVICE();
    ovxplat::scoped_gpu_profile prof("quen6");
    sycl::queue q{sycl::gpu_selector_v};
    for (const auto& [n, bytes] : {std::pair<std::int64_t, std::int64_t>{4096, 271360}, {512, 34048}}) {
        dft::descriptor<dft::precision::DOUBLE, dft::domain::COMPLEX> desc(n);
        desc.set_value(dft::config_param::WORKSPACE_PLACEMENT, dft::config_value::WORKSPACE_EXTERNAL);
        desc.commit(q);
        EXPECT_STREQ(bkd_name(dft::detail::descriptor_node(desc)->bkd), NFd);
        std::int64_t got = 0;
        desc.get_value(dft::config_param::WORKSPACE_EXTERNAL_BYTES, &got);
        EXPECT_EQ(got, bytes) << n;
        std::complex<double>* x = sycl::malloc_shared<std::complex<double>>(n, q);
        EXPECT_THROW(dft::compute_forward(desc, x), dft::no_workspace_exception);
        sycl::free(x, q);
    }
}

// The same tables in a USM workspace and at an offset of a buffer workspace.
TEST(NFactsNode, UsmAndOffsetBufferWorkspacesAgree) {
    REQUIRE_DEVICE();
    node_env env;
    layout l = lay(2048, false, {{2, 2048, 2048}});
    l.internal_workspace = false;
    l.fwd_scale = 0.25;
    const bkd_ops* list[] = {nf_ops(false), nullptr};
    gpu_test::node_ptr node = gpu_test::make_node(l, &env.q, list);
    ASSERT_EQ(gpu_test::commit(node.get()), 0);
    const std::uint64_t bytes = node->twiddle_workspace_bytes;
    char* usm = sycl::malloc_device<char>(bytes, env.q);
    ASSERT_EQ(node->bkd->add_workspace(usm, DFTI_CONTAINER_USM, 0, node.get(), DFTI_WS_BOTH, nullptr), 0);
    EXPECT_TRUE(gpu_test::matches_fftw<double>(node.get(), l, env.q, false));
    sycl::buffer<char, 1> ws{sycl::range<1>(bytes + 4096)};
    ASSERT_EQ(node->bkd->add_workspace(&ws, DFTI_CONTAINER_BUFFER, 4096, node.get(), DFTI_WS_BOTH, nullptr), 0);
    EXPECT_TRUE(gpu_test::matches_fftw<double>(node.get(), l, env.q, true));
    node.reset();
    sycl::free(usm, env.q);
}

// A buffer workspace too short for the tables: set_workspace throws, and
// the node is left without workspace, so the next compute submits nothing.
TEST(NFactsApiWorkspace, ShortBufferWorkspaceLeavesNodeUnbound) {
    REQUIRE_DEVICE();
    ovxplat::scoped_gpu_profile prof("quen6");
    sycl::queue q{sycl::gpu_selector_v};
    dft::descriptor<dft::precision::DOUBLE, dft::domain::COMPLEX> desc(1024);
    desc.set_value(dft::config_param::WORKSPACE_PLACEMENT, dft::config_value::WORKSPACE_EXTERNAL);
    desc.commit(q);
    sycl::buffer<double, 1> shortws{sycl::range<1>(64)};
    EXPECT_ANY_THROW(desc.set_workspace(shortws));
    std::complex<double>* x = sycl::malloc_shared<std::complex<double>>(1024, q);
    const std::uint64_t before = ovxplat::get_sycl_counters().commands_submitted;
    EXPECT_THROW(dft::compute_forward(desc, x), dft::no_workspace_exception);
    EXPECT_EQ(ovxplat::get_sycl_counters().commands_submitted, before);
    sycl::free(x, q);
}

// Level Zero driver 1.6: a prebuilt binary is asked for each direction,
// none is had, and the source build (refused by this device) ends the
// commit with a refusal instead of null kernels.
TEST(NFactsNode, PrebuiltFallbackThenCleanRefusal) {
    REQUIRE_DEVICE();
    node_env env("quen6_l0");
    layout l = lay(4096, true, {{1, 4096, 4096}});
    const bkd_ops* list[] = {nf_ops(true), nullptr};
    gpu_test::node_ptr node = gpu_test::make_node(l, &env.q, list);
    const n_facts_slm_binary_counts before = get_n_facts_slm_binary_counts();
    EXPECT_EQ(gpu_test::commit(node.get()), DFTI_STATUS_INCONSISTENT);
    const n_facts_slm_binary_counts after = get_n_facts_slm_binary_counts();
    EXPECT_EQ(after.requests - before.requests, 2);
    EXPECT_EQ(after.fallbacks - before.fallbacks, 2);
    EXPECT_EQ(node->bkd_data, nullptr);
    EXPECT_EQ(node->compute_fwd, nullptr);
}

// ---- the row pass ------------------------------------------------------------------

struct row_case {
    bool single;
    std::int64_t n, m, pad;
};

class NFactsRow : public ::testing::TestWithParam<row_case> {};

// Row r, output k: the row's DFT times e^(-+2 pi i r k / (N M)) times the scale.
TEST_P(NFactsRow, RowTransformTimesPreTwiddle) {
    REQUIRE_DEVICE();
    const row_case c = GetParam();
    node_env env;
    const std::int64_t p = c.n + c.pad;
    layout l = lay(c.n, c.single, {{c.m, p, p}}, 1, true);
    l.fwd_scale = 0.5;
    l.bwd_scale = 2.0;
    const bkd_ops* list[] = {row_ops(c.single), nullptr};
    gpu_test::node_ptr node = gpu_test::make_node(l, &env.q, list);
    ASSERT_EQ(gpu_test::commit(node.get()), 0);
    EXPECT_EQ(node->bkd, row_ops(c.single));
    const std::size_t size = static_cast<std::size_t>(c.m * p);
    const std::vector<cplx> x = gpu_test::random_cplx(size, 3u);
    for (int dir = 0; dir < 2; ++dir) {
        const double scale = dir == 0 ? 0.5 : 2.0, sign = dir == 0 ? -1.0 : 1.0;
        int st = 0;
        std::vector<cplx> got;
        if (c.single) {
            std::vector<std::complex<float>> xs(x.begin(), x.end());
            got = gpu_test::widen(gpu_test::compute_host(node.get(), env.q, dir, dir == 0, true, xs, xs, st));
        } else {
            got = gpu_test::compute_host(node.get(), env.q, dir, dir == 0, true, x, x, st);
        }
        ASSERT_EQ(st, 0);
        double worst = 0;
        for (std::int64_t r = 0; r < c.m; ++r) {
            std::vector<cplx> ref = gpu_test::dft(std::vector<cplx>(x.begin() + r * p, x.begin() + r * p + c.n), dir, scale);
            for (std::int64_t k = 0; k < c.n; ++k)
                ref[k] *= std::polar(1.0, sign * 2.0 * M_PI * static_cast<double>(r * k) / static_cast<double>(c.n * c.m));
            worst = std::max(worst, gpu_test::rel_err(std::vector<cplx>(got.begin() + r * p, got.begin() + r * p + c.n), ref));
        }
        EXPECT_LT(worst, c.single ? 2e-5 : 1e-10) << (dir == 0 ? "forward" : "backward");
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, NFactsRow,
                         ::testing::Values(row_case{false, 512, 8, 0}, row_case{true, 2048, 4, 0},
                                           row_case{false, 4096, 8, 16}, row_case{true, 4096, 8, 32}),
                         [](const ::testing::TestParamInfo<row_case>& i) {
                             return "N" + std::to_string(i.param.n) + (i.param.single ? "s" : "d") + "_M" +
                                    std::to_string(i.param.m) + "_pad" + std::to_string(i.param.pad);
                         });

TEST(NFactsRowNode, ForwardOnlyNodeRefusesBackward) {
    REQUIRE_DEVICE();
    node_env env;
    layout l = lay(512, false, {{8, 512, 512}}, 1, true);
    l.directions = 0;
    const bkd_ops* list[] = {row_ops(false), nullptr};
    gpu_test::node_ptr node = gpu_test::make_node(l, &env.q, list);
    ASSERT_EQ(gpu_test::commit(node.get()), 0);
    std::vector<cplx> x = gpu_test::random_cplx(8 * 512, 1u);
    EXPECT_EQ(gpu_test::compute_usm(node.get(), 1, x.data(), x.data()), DFTI_STATUS_BAD_DESCRIPTOR);
}

// Two caller records that fuse into one working record of another count:
// the table sized for the first record would be read past its end.
TEST(NFactsRowNode, RowCountOtherThanTransformsIsRefused) {
    REQUIRE_DEVICE();
    node_env env;
    layout l = lay(512, false, {{4, 512, 512}, {2, 2048, 2048}}, 1, true);
    const bkd_ops* list[] = {row_ops(false), nullptr};
    gpu_test::node_ptr node = gpu_test::make_node(l, &env.q, list);
    EXPECT_EQ(gpu_test::commit(node.get()), DFTI_STATUS_INCONSISTENT);
}

}  // namespace
