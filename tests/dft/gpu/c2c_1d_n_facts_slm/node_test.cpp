// The n-factor local-memory backend, its pre-twiddle row pass and the large
// 1D backend on the stand-in GPU (PoCL): owners through the candidate lists,
// transforms against FFTW (USM and buffers, in and out of place, scales,
// shuffled mode), caller-held workspaces, refusals, statuses and failed
// builds. Built twice: the longest transforms only in the executable
// labelled slow (OVX_LARGE_SLOW_CASES).
#include <gtest/gtest.h>

#include <sycl/sycl.hpp>

#include <ovxplat/sycl_standin.hpp>

#include <cmath>
#include <complex>
#include <stdexcept>
#include <string>
#include <vector>

#include "dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_n_facts_slm_plan.hpp"
#include "dft/gpu/backends.hpp"
#include "dft/gpu/gpu_harness.hpp"
#include "dft/ovx_dft_internal.hpp"
#include "korami/ovx/dft.hpp"
#include "ovx_test_gpu.hpp"
#include "worst_error.hpp"

namespace dft = korami::ovx::dft;
using gpu_test::cplx;
using gpu_test::layout;

namespace {

template <dft::precision P>
using desc_t = dft::descriptor<P, dft::domain::COMPLEX>;
template <dft::precision P>
using real_of = std::conditional_t<P == dft::precision::DOUBLE, double, float>;
constexpr auto DP = dft::precision::DOUBLE;
constexpr auto SP = dft::precision::SINGLE;
using dc = std::complex<double>;
using fc = std::complex<float>;

const bkd_ops* nf_ops(bool single) { return single ? &bkd_c2c_1d_n_facts_slm_s_ops : &bkd_c2c_1d_n_facts_slm_d_ops; }
const bkd_ops* row_ops(bool single) {
    return single ? &bkd_c2c_1d_n_facts_slm_row_s_ops : &bkd_c2c_1d_n_facts_slm_row_d_ops;
}
const bkd_ops* large_ops(bool single) { return single ? &bkd_c2c_1d_large_s_ops : &bkd_c2c_1d_large_d_ops; }

using env = gpu_test::profile_queue;

layout lay(std::int64_t n, bool single, std::vector<gpu_test::rec> batch, bool in_place = false) {
    layout l;
    l.n = n;
    l.single = single;
    l.batch = std::move(batch);
    l.in_place = in_place;
    return l;
}

template <class R>
double tol() {
    return sizeof(R) == 8 ? 1e-10 : 2e-5;
}

// Worst relative L2 error of a batch of n-point transforms at distance n.
template <class R>
double batch_error(const std::vector<std::complex<R>>& got, const std::vector<std::complex<R>>& x, std::int64_t n,
                   int dir, double scale) {
    double worst = 0;
    for (std::size_t b = 0; b * n < x.size(); ++b) {
        const auto at = static_cast<std::ptrdiff_t>(b * n);
        const auto ref = gpu_test::dft(gpu_test::widen(std::vector<std::complex<R>>(x.begin() + at, x.begin() + at + n)),
                                       dir, scale);
        worst = ovx_test::worse(worst, gpu_test::rel_error(std::vector<std::complex<R>>(got.begin() + at, got.begin() + at + n), ref));
    }
    return worst;
}

// One compute of a committed descriptor on `x`, in USM or buffer form.
template <dft::precision P>
std::vector<std::complex<real_of<P>>> run(desc_t<P>& d, sycl::queue& q, int dir, bool usm, bool in_place,
                                          std::vector<std::complex<real_of<P>>> x) {
    using C = std::complex<real_of<P>>;
    std::vector<C> y(x.size());
    if (usm) {
        C* a = sycl::malloc_shared<C>(x.size(), q);
        C* b = in_place ? a : sycl::malloc_shared<C>(x.size(), q);
        std::copy(x.begin(), x.end(), a);
        (in_place ? (dir == 0 ? dft::compute_forward(d, a) : dft::compute_backward(d, a))
                  : (dir == 0 ? dft::compute_forward(d, a, b) : dft::compute_backward(d, a, b)))
            .wait_and_throw();
        std::copy(b, b + x.size(), y.begin());
        sycl::free(a, q);
        if (!in_place) sycl::free(b, q);
        return y;
    }
    {
        sycl::buffer<C, 1> a(x.data(), sycl::range<1>(x.size())), b(y.data(), sycl::range<1>(y.size()));
        if (in_place)
            dir == 0 ? dft::compute_forward(d, a) : dft::compute_backward(d, a);
        else
            dir == 0 ? dft::compute_forward(d, a, b) : dft::compute_backward(d, a, b);
    }
    return in_place ? x : y;
}

// ---- n-factor backend through the public API ------------------------------------------

#ifndef OVX_LARGE_SLOW_CASES

// A committed descriptor's owner; "!rec" means any record but rec. Cases
// that compute run both directions against FFTW.
struct nf_case {
    bool single;
    std::int64_t n, batch;
    bool in_place;
    const char* profile;
    bool shuffle;
    const char* owner;
    bool compute;
    std::int64_t idist = 0, odist = 0;  // 0: n
};

std::string nf_name(const nf_case& c) {
    const std::string o = c.owner;
    return "N" + std::to_string(c.n) + (c.single ? "s" : "d") + "_b" + std::to_string(c.batch) +
           (c.idist ? "_d" + std::to_string(c.idist) + "_" + std::to_string(c.odist) : "") +
           (c.in_place ? "_ip_" : "_oop_") + c.profile + (c.shuffle ? "_shuffled" : "") + "_" +
           (o[0] == '!' ? "not_" + o.substr(5, o.size() - 9) : o.substr(4, o.size() - 8));
}

template <dft::precision P>
void nf_api(const nf_case& c) {
    env e(c.profile);
    layout l = lay(c.n, c.single, {{c.batch, c.idist ? c.idist : c.n, c.odist ? c.odist : c.n}}, c.in_place);
    l.fwd_scale = c.n == 4096 ? 1.0 : 0.5;  // with 1/N backward: the round trip is the input
    l.bwd_scale = 1.0 / static_cast<double>(c.n);
    gpu_test::api_descriptor<P> d(c.n);
    gpu_test::configure(d, l);
    d.commit(e.q);
    const char* owner = bkd_name(dft::detail::descriptor_node(d)->bkd);
    if (c.owner[0] == '!')
        EXPECT_STRNE(owner, c.owner + 1);
    else
        EXPECT_STREQ(owner, c.owner);
    if (!c.compute) return;
    ovxplat::set_shuffle_mode(c.shuffle);
    gpu_test::expect_api_matches(d, l, e.q, 11u, 5u, nf_name(c));
    ovxplat::set_shuffle_mode(false);
}

class NFactsApi : public ::testing::TestWithParam<nf_case> {};

TEST_P(NFactsApi, OwnerAndTransformsMatchFftw) {
    OVX_REQUIRE_OPENCL();
    GetParam().single ? nf_api<SP>(GetParam()) : nf_api<DP>(GetParam());
}

constexpr const char* NFd = "bkd_c2c_1d_n_facts_slm_d_ops";
constexpr const char* NFs = "bkd_c2c_1d_n_facts_slm_s_ops";
constexpr std::int64_t M = std::int64_t(1) << 20;

INSTANTIATE_TEST_SUITE_P(
    Lists, NFactsApi,
    ::testing::Values(nf_case{false, 512, 3, false, "quen6", false, NFd, true},
                      nf_case{false, 1024, 2, true, "quen6", true, NFd, true},
                      nf_case{false, 4096, 2, true, "quen6", false, NFd, true},
                      nf_case{false, 8192, 2, false, "quen6", true, NFd, true},
                      nf_case{true, 2048, 2, false, "quen6", false, NFs, true},
                      nf_case{true, 4096, 3, true, "quen6", true, NFs, true},
                      nf_case{true, 16384, 2, false, "quen6", false, NFs, true},
                      nf_case{false, 4096, 1, false, "quen8", false, NFd, true},
                      nf_case{true, 8192, 1, true, "quen8", false, NFs, true},
                      nf_case{true, 1024, 32769, false, "quen6", false, NFs, false},
                      nf_case{true, 512, 65537, false, "quen6", false, NFs, false},
                      nf_case{false, 256, 1, false, "quen6", false, "bkd_small_md_slm_d_ops", false},
                      nf_case{true, 1024, 2, false, "quen6", false, "bkd_small_md_slm_s_ops", false},
                      nf_case{false, 16384, 1, false, "quen6", false, "bkd_c2c_1d_4_facts_d_ops", false},
                      nf_case{false, 8192, 1, false, "quen8", false, "bkd_c2c_1d_nonsubgrp_d_ops", false},
                      nf_case{false, 4096, 1, false, "quen5", false, "!bkd_c2c_1d_n_facts_slm_d_ops", false},
                      // the large backend
                      nf_case{false, 8 * M, 1, false, "quen6", false, "bkd_c2c_1d_large_d_ops", false},
                      nf_case{true, 64 * M, 1, false, "quen6", false, "bkd_c2c_1d_large_s_ops", false},
                      nf_case{false, M, 1, false, "quen6", false, "bkd_c2c_1d_4_facts_d_ops", false},
                      nf_case{true, 3 * M, 1, false, "quen6", false, "bkd_c2c_1d_nonsubgrp_s_ops", false},
                      nf_case{false, 128 * M, 1, false, "quen6", false, "bkd_c2c_1d_nonsubgrp_d_ops", false},
                      nf_case{true, 2 * M, 2, false, "quen6", false, "!bkd_c2c_1d_large_s_ops", false, 2 * M + 1, 2 * M + 1},
                      nf_case{true, 2 * M, 2, false, "quen6", false, "!bkd_c2c_1d_large_s_ops", false, 2 * M, 4 * M},
                      nf_case{true, 2 * M, 1, false, "quen5", false, "!bkd_c2c_1d_large_s_ops", false},
                      nf_case{false, 2 * M, 1, false, "quen8", false, "!bkd_c2c_1d_large_d_ops", false}),
    [](const ::testing::TestParamInfo<nf_case>& i) { return nf_name(i.param); });

// The 1D real backend's complex sub-node of 2048 points now lands on the
// n-factor record; the real transform still matches FFTW.
TEST(NFactsApi, RealTransformThroughNFactorSubNode) {
    OVX_REQUIRE_OPENCL();
    env e;
    dft::descriptor<DP, dft::domain::REAL> d(4096);
    d.set_value(dft::config_param::PLACEMENT, dft::config_value::NOT_INPLACE);
    d.set_value(dft::config_param::FORWARD_SCALE, 0.5);
    d.commit(e.q);
    const std::vector<double> x = gpu_test::random_real(4096, 8u);
    double* in = sycl::malloc_shared<double>(4096, e.q);
    dc* out = sycl::malloc_shared<dc>(2049, e.q);
    std::copy(x.begin(), x.end(), in);
    dft::compute_forward(d, in, out).wait_and_throw();
    EXPECT_LT(gpu_test::rel_err(std::vector<cplx>(out, out + 2049), gpu_test::dft_r2c(x, 0.5)), 1e-10);
    sycl::free(in, e.q);
    sycl::free(out, e.q);
}

// Refused by the only record of the list: the loop reports 3, nothing is kept.
TEST(NFactsNode, RefusedShapes) {
    OVX_REQUIRE_OPENCL();
    env e;
    layout strided = lay(1024, false, {{1, 0, 0}});
    strided.fs = strided.bs = 2;
    const layout shapes[] = {lay(2048, true, {{2, 2048, 2049}}), strided, lay(1024, false, {{2, 1024, 1100}}, true),
                             lay(3000, false, {{1, 0, 0}}), lay(1024, false, {{1, 0, 0}})};
    for (const layout& l : shapes) {
        const bkd_ops* list[] = {nf_ops(l.single), nullptr};
        gpu_test::node_ptr node = gpu_test::make_node(l, &e.q, list);
        if (&l == &shapes[4]) node->input_offset = 4;
        EXPECT_EQ(gpu_test::commit(node.get()), DFTI_STATUS_INVALID_DESCRIPTOR) << (&l - shapes);
        EXPECT_EQ(node->bkd_data, nullptr);
    }
}

TEST(NFactsApiWorkspace, ExternalBytesMissingAndShortWorkspaces) {
    OVX_REQUIRE_OPENCL();
    env e;
    for (const auto& [n, bytes] : {std::pair<std::int64_t, std::int64_t>{4096, 271360}, {512, 34048}}) {
        desc_t<DP> d(n);
        d.set_value(dft::config_param::WORKSPACE_PLACEMENT, dft::config_value::WORKSPACE_EXTERNAL);
        d.commit(e.q);
        EXPECT_STREQ(bkd_name(dft::detail::descriptor_node(d)->bkd), NFd);
        std::int64_t got = 0;
        d.get_value(dft::config_param::WORKSPACE_EXTERNAL_BYTES, &got);
        EXPECT_EQ(got, bytes) << n;
        dc* x = sycl::malloc_shared<dc>(n, e.q);
        EXPECT_THROW(dft::compute_forward(d, x), dft::no_workspace_exception);
        // Too short a buffer: the binding throws and leaves the node unbound,
        // so the next compute submits nothing.
        sycl::buffer<double, 1> short_ws{sycl::range<1>(64)};
        EXPECT_ANY_THROW(d.set_workspace(short_ws));
        const std::uint64_t before = ovxplat::get_sycl_counters().commands_submitted;
        EXPECT_THROW(dft::compute_forward(d, x), dft::no_workspace_exception);
        EXPECT_EQ(ovxplat::get_sycl_counters().commands_submitted, before);
        sycl::free(x, e.q);
    }
}

// The same tables in a USM workspace and at an offset of a buffer workspace.
TEST(NFactsNode, UsmAndOffsetBufferWorkspacesAgree) {
    OVX_REQUIRE_OPENCL();
    env e;
    layout l = lay(2048, false, {{2, 2048, 2048}});
    l.internal_workspace = false;
    l.fwd_scale = 0.25;
    const bkd_ops* list[] = {nf_ops(false), nullptr};
    gpu_test::node_ptr node = gpu_test::make_node(l, &e.q, list);
    ASSERT_EQ(gpu_test::commit(node.get()), 0);
    const std::uint64_t bytes = node->twiddle_workspace_bytes;
    char* usm = sycl::malloc_device<char>(bytes, e.q);
    ASSERT_EQ(node->bkd->add_workspace(usm, DFTI_CONTAINER_USM, 0, node.get(), DFTI_WS_BOTH, nullptr), 0);
    EXPECT_TRUE(gpu_test::matches_fftw<double>(node.get(), l, e.q, false));
    sycl::buffer<char, 1> ws{sycl::range<1>(bytes + 4096)};
    ASSERT_EQ(node->bkd->add_workspace(&ws, DFTI_CONTAINER_BUFFER, 4096, node.get(), DFTI_WS_BOTH, nullptr), 0);
    EXPECT_TRUE(gpu_test::matches_fftw<double>(node.get(), l, e.q, true));
    node.reset();
    sycl::free(usm, e.q);
}

// Level Zero driver 1.6: a binary is asked for each direction, none is had,
// and the source build (refused by this device) ends in a clean refusal.
TEST(NFactsNode, PrebuiltFallbackThenCleanRefusal) {
    OVX_REQUIRE_OPENCL();
    env e("quen6_l0");
    const bkd_ops* list[] = {nf_ops(true), nullptr};
    gpu_test::node_ptr node = gpu_test::make_node(lay(4096, true, {{1, 4096, 4096}}), &e.q, list);
    const n_facts_slm_binary_counts before = get_n_facts_slm_binary_counts();
    EXPECT_EQ(gpu_test::commit(node.get()), DFTI_STATUS_INVALID_DESCRIPTOR);
    const n_facts_slm_binary_counts after = get_n_facts_slm_binary_counts();
    EXPECT_EQ(after.requests - before.requests, 2);
    EXPECT_EQ(after.fallbacks - before.fallbacks, 2);
    EXPECT_EQ(node->bkd_data, nullptr);
    EXPECT_EQ(node->compute_fwd, nullptr);
}

// ---- the row pass (node level, one-entry list) ---------------------------------------------

struct row_case {
    bool single;
    std::int64_t n, m, pad;
};

class NFactsRow : public ::testing::TestWithParam<row_case> {};

// Row r, output k: the row's DFT times e^(-+2 pi i r k / (N M)) times the scale.
TEST_P(NFactsRow, RowTransformTimesPreTwiddle) {
    OVX_REQUIRE_OPENCL();
    const row_case c = GetParam();
    env e;
    const std::int64_t p = c.n + c.pad;
    layout l = lay(c.n, c.single, {{c.m, p, p}}, true);
    l.fwd_scale = 0.5;
    l.bwd_scale = 2.0;
    const bkd_ops* list[] = {row_ops(c.single), nullptr};
    gpu_test::node_ptr node = gpu_test::make_node(l, &e.q, list);
    ASSERT_EQ(gpu_test::commit(node.get()), 0);
    const std::vector<cplx> x = gpu_test::random_cplx(static_cast<std::size_t>(c.m * p), 3u);
    for (int dir = 0; dir < 2; ++dir) {
        int st = 0;
        std::vector<cplx> got;
        if (c.single) {
            std::vector<fc> xs(x.begin(), x.end());
            got = gpu_test::widen(gpu_test::compute_host(node.get(), e.q, dir, dir == 0, true, xs, xs, st));
        } else {
            got = gpu_test::compute_host(node.get(), e.q, dir, dir == 0, true, x, x, st);
        }
        ASSERT_EQ(st, 0);
        double worst = 0;
        for (std::int64_t r = 0; r < c.m; ++r) {
            auto ref = gpu_test::dft(std::vector<cplx>(x.begin() + r * p, x.begin() + r * p + c.n), dir, dir ? 2.0 : 0.5);
            for (std::int64_t k = 0; k < c.n; ++k)
                ref[k] *= std::polar(1.0, (dir ? 2.0 : -2.0) * M_PI * static_cast<double>(r * k) / static_cast<double>(c.n * c.m));
            worst = ovx_test::worse(worst, gpu_test::rel_err(std::vector<cplx>(got.begin() + r * p, got.begin() + r * p + c.n), ref));
        }
        EXPECT_LT(worst, c.single ? 2e-5 : 1e-10) << (dir == 0 ? "forward" : "backward");
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, NFactsRow,
                         ::testing::Values(row_case{false, 512, 8, 0}, row_case{true, 2048, 4, 0},
                                           row_case{false, 4096, 8, 16}, row_case{true, 4096, 8, 32},
                                           row_case{false, 8192, 4, 0}),
                         [](const ::testing::TestParamInfo<row_case>& i) {
                             return "N" + std::to_string(i.param.n) + (i.param.single ? "s" : "d") + "_M" +
                                    std::to_string(i.param.m) + "_pad" + std::to_string(i.param.pad);
                         });

// A forward-only row node has no backward entry; and a node whose first
// caller record (4) differs from its working count (two records fused into
// 8) is refused, since its table would be read past its end.
TEST(NFactsRowNode, ForwardOnlyAndRowCountRules) {
    OVX_REQUIRE_OPENCL();
    env e;
    const bkd_ops* list[] = {row_ops(false), nullptr};
    layout l = lay(512, false, {{8, 512, 512}}, true);
    l.directions = 0;
    gpu_test::node_ptr node = gpu_test::make_node(l, &e.q, list);
    ASSERT_EQ(gpu_test::commit(node.get()), 0);
    std::vector<cplx> x = gpu_test::random_cplx(8 * 512, 1u);
    EXPECT_EQ(gpu_test::compute_usm(node.get(), 1, x.data(), x.data()), DFTI_STATUS_BAD_DESCRIPTOR);
    node = gpu_test::make_node(lay(512, false, {{4, 512, 512}, {2, 2048, 2048}}, true), &e.q, list);
    EXPECT_EQ(gpu_test::commit(node.get()), DFTI_STATUS_INVALID_DESCRIPTOR);
}

#endif

// ---- the large backend ---------------------------------------------------------------------

struct large_case {
    bool single;
    int log2n;
    std::int64_t batch;
    bool in_place, usm;
};

std::string large_name(const large_case& c) {
    return "N2e" + std::to_string(c.log2n) + (c.single ? "s" : "d") + "_b" + std::to_string(c.batch) +
           (c.in_place ? "_ip" : "_oop") + (c.usm ? "_usm" : "_buf");
}

// Forward (scale 0.5), then backward (1/N) of the forward result, each
// transform of the batch against FFTW.
template <dft::precision P>
void large_api(const large_case& c) {
    using R = real_of<P>;
    env e;
    const std::int64_t n = std::int64_t(1) << c.log2n;
    desc_t<P> d(n);
    d.set_value(dft::config_param::NUMBER_OF_TRANSFORMS, c.batch);
    d.set_value(dft::config_param::FWD_DISTANCE, n);
    d.set_value(dft::config_param::BWD_DISTANCE, n);
    d.set_value(dft::config_param::PLACEMENT, c.in_place ? dft::config_value::INPLACE : dft::config_value::NOT_INPLACE);
    d.set_value(dft::config_param::FORWARD_SCALE, R(0.5));
    d.set_value(dft::config_param::BACKWARD_SCALE, R(1) / static_cast<R>(n));
    d.commit(e.q);
    ASSERT_EQ(dft::detail::descriptor_node(d)->bkd, large_ops(c.single));
    const auto x = gpu_test::random_data<R>(static_cast<std::size_t>(n * c.batch), 21u);
    const auto y = run<P>(d, e.q, 0, c.usm, c.in_place, x);
    EXPECT_LT(batch_error(y, x, n, 0, 0.5), tol<R>()) << "forward";
    const auto z = run<P>(d, e.q, 1, c.usm, c.in_place, y);
    EXPECT_LT(batch_error(z, y, n, 1, 1.0 / static_cast<double>(static_cast<R>(n))), tol<R>()) << "backward";
}

class LargeApi : public ::testing::TestWithParam<large_case> {};

TEST_P(LargeApi, ForwardThenBackwardMatchFftw) {
    OVX_REQUIRE_OPENCL();
    GetParam().single ? large_api<SP>(GetParam()) : large_api<DP>(GetParam());
}

#ifndef OVX_LARGE_SLOW_CASES
INSTANTIATE_TEST_SUITE_P(Shapes, LargeApi,
                         ::testing::Values(large_case{false, 21, 1, false, true}, large_case{true, 21, 3, true, false},
                                           large_case{false, 22, 1, false, false}, large_case{true, 24, 1, false, true}),
                         [](const ::testing::TestParamInfo<large_case>& i) { return large_name(i.param); });
#else
INSTANTIATE_TEST_SUITE_P(Longest, LargeApi,
                         ::testing::Values(large_case{false, 24, 1, true, true}, large_case{true, 25, 1, false, false},
                                           large_case{false, 26, 1, false, true}),
                         [](const ::testing::TestParamInfo<large_case>& i) { return large_name(i.param); });
#endif

#ifndef OVX_LARGE_SLOW_CASES

// The n-factor, column-batched and row texts built for the per-lane
// sub-group emulation (each takes its lane pair's slot afresh in every pass,
// spelt per pass): the same transforms as the lane-pair builds.
TEST(PerLaneBuilds, NFactorTransformsMatchFftw) {
    OVX_REQUIRE_OPENCL();
    const ovx_test::per_lane_builds emulation;
    nf_api<DP>(nf_case{false, 1024, 2, true, "quen6", false, NFd, true});
    nf_api<SP>(nf_case{true, 16384, 2, false, "quen6", false, NFs, true});
}

TEST(PerLaneBuilds, LargeTransformMatchesFftw) {
    OVX_REQUIRE_OPENCL();
    const ovx_test::per_lane_builds emulation;
    large_api<DP>(large_case{false, 21, 1, false, true});
}

// The sub-node shapes committed through their lists: the columns go to a
// column-batched record, the rows to the row pass.
TEST(LargeSubNodes, ColumnAndRowOwners) {
    OVX_REQUIRE_OPENCL();
    env e;
    struct {
        bool single;
        std::int64_t n1, n2, p;
        const char* column_owner;
    } const cases[] = {{false, 2048, 1024, 2048, "bkd_c2c_1d_n_facts_colbatch_d_ops"},
                       {true, 8192, 2048, 8224, "bkd_c2c_1d_n_facts_colbatch_s_ops"},
                       {false, 8192, 2048, 8208, "bkd_c2c_1d_4_facts_colbatch_d_ops"}};
    for (const auto& c : cases) {
        layout col = lay(c.n2, c.single, {{c.n1, 1, 1}});
        col.io = true;
        col.fs = c.p;
        col.bs = c.n1;
        col.internal_workspace = false;
        gpu_test::node_ptr cn = gpu_test::make_node(col, &e.q, c.single ? bkdlist_sc1d : bkdlist_dc1d);
        cn->is_sub_node = 1;
        ASSERT_EQ(gpu_test::commit(cn.get()), 0);
        EXPECT_STREQ(bkd_name(cn->bkd), c.column_owner);
        layout row = lay(c.n1, c.single, {{c.n2, c.p, c.p}}, true);
        row.io = true;
        row.internal_workspace = false;
        const bkd_ops* list[] = {row_ops(c.single), nullptr};
        gpu_test::node_ptr rn = gpu_test::make_node(row, &e.q, list);
        rn->is_sub_node = 1;
        ASSERT_EQ(gpu_test::commit(rn.get()), 0);
    }
}

constexpr std::int64_t N21 = 2 * M;

TEST(LargeWorkspace, CallerHeldBytesBindingsAndKinds) {
    OVX_REQUIRE_OPENCL();
    env e;
    const auto x = gpu_test::random_data<double>(static_cast<std::size_t>(N21), 4u);
    dc* in = sycl::malloc_shared<dc>(N21, e.q);
    dc* out = sycl::malloc_shared<dc>(N21, e.q);
    std::copy(x.begin(), x.end(), in);
    std::vector<double*> ws;
    {
        desc_t<DP> d(N21);
        d.set_value(dft::config_param::PLACEMENT, dft::config_value::NOT_INPLACE);
        d.set_value(dft::config_param::WORKSPACE_PLACEMENT, dft::config_value::WORKSPACE_EXTERNAL);
        std::int64_t estimate = 0, bytes = 0;
        d.get_value(dft::config_param::WORKSPACE_EXTERNAL_BYTES, &estimate);
        d.commit(e.q);
        ASSERT_EQ(dft::detail::descriptor_node(d)->bkd, &bkd_c2c_1d_large_d_ops);
        d.get_value(dft::config_param::WORKSPACE_EXTERNAL_BYTES, &bytes);
        EXPECT_EQ(bytes, 67277312);  // tables 33,722,880 + scratch 33,554,432
        EXPECT_GE(estimate, bytes);  // the estimate before commit covers whichever backend takes it
        EXPECT_THROW(dft::compute_forward(d, in, out), dft::no_workspace_exception);
        for (int i = 0; i < 2; ++i) {  // bound twice: the second binding replaces the first
            ws.push_back(sycl::malloc_device<double>(static_cast<std::size_t>(bytes) / 8, e.q));
            d.set_workspace(ws.back());
            dft::compute_forward(d, in, out).wait_and_throw();
            EXPECT_LT(batch_error(std::vector<dc>(out, out + N21), x, N21, 0, 1.0), 1e-10) << "binding " << i;
        }
        // A buffer workspace serves buffer data, not USM data.
        sycl::buffer<double, 1> bws{sycl::range<1>(static_cast<std::size_t>(bytes) / 8)};
        d.set_workspace(bws);
        EXPECT_THROW(dft::compute_forward(d, in, out), dft::no_workspace_exception);
        EXPECT_LT(batch_error(run<DP>(d, e.q, 0, false, false, x), x, N21, 0, 1.0), 1e-10) << "buffer workspace";
    }
    for (double* p : ws) sycl::free(p, e.q);
    sycl::free(in, e.q);
    sycl::free(out, e.q);
}

TEST(LargeStatuses, SubBufferDataThrowsBeforeAnyCommand) {
    OVX_REQUIRE_OPENCL();
    env e;
    desc_t<DP> d(N21);
    d.set_value(dft::config_param::PLACEMENT, dft::config_value::NOT_INPLACE);
    d.commit(e.q);
    sycl::buffer<dc, 1> whole{sycl::range<1>(static_cast<std::size_t>(2 * N21))};
    sycl::buffer<dc, 1> part(whole, sycl::id<1>(0), sycl::range<1>(static_cast<std::size_t>(N21)));
    sycl::buffer<dc, 1> out{sycl::range<1>(static_cast<std::size_t>(N21))};
    const std::uint64_t before = ovxplat::get_sycl_counters().commands_submitted;
    try {
        dft::compute_forward(d, part, out);
        ADD_FAILURE() << "no exception";
    } catch (const std::invalid_argument& x) {
        EXPECT_STREQ(x.what(), "Sub-buffer inputs are not supported for this size. See Numora release notes.");
    }
    EXPECT_EQ(ovxplat::get_sycl_counters().commands_submitted, before);
}

// Two computes on independent data with no dependency between them, on an
// out-of-order queue that starts ready commands in random order: the second
// may not overwrite the work matrix the first still uses. The backward
// transform of the first result gives the input back (scales 0.5 and 2/N).
TEST(LargeStatuses, BackToBackComputesInShuffledMode) {
    OVX_REQUIRE_OPENCL();
    env e;
    desc_t<SP> d(N21);
    d.set_value(dft::config_param::PLACEMENT, dft::config_value::NOT_INPLACE);
    d.set_value(dft::config_param::FORWARD_SCALE, 0.5f);
    d.set_value(dft::config_param::BACKWARD_SCALE, 2.0f / static_cast<float>(N21));
    d.commit(e.q);
    const auto x1 = gpu_test::random_data<float>(static_cast<std::size_t>(N21), 1u);
    const auto x2 = gpu_test::random_data<float>(static_cast<std::size_t>(N21), 2u);
    fc* a[4];
    for (auto& p : a) p = sycl::malloc_shared<fc>(N21, e.q);
    std::copy(x1.begin(), x1.end(), a[0]);
    std::copy(x2.begin(), x2.end(), a[1]);
    ovxplat::set_shuffle_mode(true);
    sycl::event e1 = dft::compute_forward(d, a[0], a[2]);
    sycl::event e2 = dft::compute_forward(d, a[1], a[3]);
    sycl::event e3 = dft::compute_backward(d, a[2], a[0], {e1});
    e2.wait_and_throw();
    e3.wait_and_throw();
    ovxplat::set_shuffle_mode(false);
    EXPECT_LT(batch_error(std::vector<fc>(a[3], a[3] + N21), x2, N21, 0, 0.5), 2e-5);
    EXPECT_LT(gpu_test::rel_error(std::vector<fc>(a[0], a[0] + N21), gpu_test::widen(x1)), 2e-5);
    for (auto* p : a) sycl::free(p, e.q);
}

TEST(LargeStatuses, RecordSlotsAndRefusedNodes) {
    OVX_REQUIRE_OPENCL();
    env e;
    const bkd_ops* list[] = {&bkd_c2c_1d_large_d_ops, nullptr};
    gpu_test::node_ptr node = gpu_test::make_node(lay(N21, false, {{1, 0, 0}}), &e.q, list);
    EXPECT_EQ(bkd_c2c_1d_large_d_ops.free(&bkd_c2c_1d_large_d_ops, node.get()), DFTI_STATUS_INTERNAL);
    char byte = 0;
    EXPECT_EQ(bkd_c2c_1d_large_d_ops.add_workspace(&byte, DFTI_CONTAINER_USM, 0, node.get(), DFTI_WS_BOTH, nullptr),
              DFTI_STATUS_UNCOMMITTED_DESCRIPTOR);
    node->is_sub_node = 1;  // a sub-node of another composite is never taken
    EXPECT_EQ(gpu_test::commit(node.get()), DFTI_STATUS_INVALID_DESCRIPTOR);
    // On the planning-only Level Zero profile the sub-nodes and the transpose
    // cannot be built: the commit is refused and leaves nothing behind.
    env l0("quen6_l0");
    const bkd_ops* slist[] = {&bkd_c2c_1d_large_s_ops, nullptr};
    const std::uint64_t live = ovxplat::get_sycl_counters().usm_live_allocations;
    node = gpu_test::make_node(lay(N21, true, {{1, 0, 0}}), &l0.q, slist);
    EXPECT_EQ(gpu_test::commit(node.get()), DFTI_STATUS_INVALID_DESCRIPTOR);
    EXPECT_EQ(node->bkd_data, nullptr);
    EXPECT_EQ(ovxplat::get_sycl_counters().usm_live_allocations, live);
}

#endif

}  // namespace
