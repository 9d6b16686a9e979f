// The very large single-precision 1D backend on the stand-in Quen5 GPU:
// one complex transform of 2^25 points and one real transform of 2^26 points,
// both directions, against FFTW; the scales are applied and an out-of-place
// backward transform leaves its input untouched. Long-running (label slow).
#include <fftw3.h>
#include <gtest/gtest.h>

#include <complex>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include <ovxplat/profile.h>
#include <ovxplat/sycl_standin.hpp>
#include <sycl/sycl.hpp>

#include "dft/gpu/backends.hpp"
#include "dft/gpu/gpu_harness.hpp"
#include "ovx_test_gpu.hpp"

#include <korami/ovx/exceptions.hpp>

using namespace gpu_test;

namespace {

const bool g_profile = ovxplat_gpu_profile_select("quen5") == 0;

using ovx_test::gpu_queue;

const bkd_ops* const list_vl[] = {&bkd_1d_very_large_s_ops, nullptr};

// The workspace estimate answers one figure on any device and before the
// device is known: per built direction the stages' tables (the three
// factors' lengths in complex floats), then the padded scratch. A length
// the module does not plan is refused.
struct estimate_case {
    const char* name;
    bool real;
    int64_t n;
    uint32_t directions;
    int64_t bytes;
};
void PrintTo(const estimate_case& c, std::ostream* os) { *os << c.name; }

class VeryLargeEstimate : public ::testing::TestWithParam<estimate_case> {};

TEST_P(VeryLargeEstimate, SameFigureOnEveryDevice) {
    OVX_REQUIRE_GPU(g_profile);
    const estimate_case& c = GetParam();
    // The binary's own queue first: made inside the quen6 scope, the shared
    // queue would be a quen6 queue for every later test of the process.
    sycl::queue& quen5 = gpu_queue();
    profile_queue quen6("quen6");
    sycl::queue* queues[3] = {nullptr, &quen5, &quen6.q};
    simple_layout l;
    l.n = c.n;
    l.single = true;
    l.real = c.real;
    l.directions = c.directions;
    l.internal_workspace = false;
    for (sycl::queue* q : queues) {
        node_ptr node = make_node(l, q, list_vl);
        ASSERT_TRUE(node);
        ASSERT_EQ(dfti_normalize_node(node.get()), 0);
        EXPECT_EQ(record_estimate{&bkd_1d_very_large_s_ops}.get_workspace_bytes(dft_workspace_problem{node.get(), q}),
                  c.bytes)
            << (q ? "with a queue" : "without a queue");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, VeryLargeEstimate,
    ::testing::Values(estimate_case{"Complex2p25Both", false, 33554432, 2, 2 * 1024 * 8 + 520LL * 256 * 256 * 8},
                      estimate_case{"Real2p26Forward", true, 67108864, 0, 1024 * 8 + 520LL * 256 * 256 * 8},
                      estimate_case{"Complex134400000Backward", false, 134400000, 1, 1537 * 8 + 512LL * 525 * 500 * 8},
                      estimate_case{"Real2p28Both", true, 268435456, 2, 2 * 1792 * 8 + 1032LL * 512 * 256 * 8},
                      estimate_case{"Complex2p24Refused", false, 16777216, 2, -1}),
    [](const ::testing::TestParamInfo<estimate_case>& i) { return std::string(i.param.name); });

TEST(VeryLarge, Complex2p25) {
    OVX_REQUIRE_GPU(g_profile);
    const int64_t n = 33554432;
    sycl::queue& q = gpu_queue();
    layout l;
    l.n = n;
    l.single = true;
    l.fwd_scale = 0.5;
    l.bwd_scale = 1.0 / static_cast<double>(n);
    node_ptr node = make_node(l, &q, list_vl);
    ASSERT_TRUE(node);
    ASSERT_EQ(commit(node.get()), 0);
    ASSERT_EQ(gpu_test::owner_of(node), bkd_name(&bkd_1d_very_large_s_ops));
    // The estimate covers what the commit needs.
    EXPECT_GE(record_estimate{&bkd_1d_very_large_s_ops}.get_workspace_bytes(dft_workspace_problem{node.get(), &q}),
              static_cast<int64_t>(node->twiddle_workspace_bytes + node->scratch_workspace_bytes));
    // Stages 0 and 1 are pass sub-nodes of the column-batched backend.
    using C = std::complex<float>;
    const std::size_t size = static_cast<std::size_t>(n);
    std::vector<C> x = gpu_test::random_data<float>(size, 3);
    C* a = sycl::malloc_shared<C>(size, q);
    C* b = sycl::malloc_shared<C>(size, q);
    ASSERT_TRUE(a && b);
    for (int dir = 0; dir < 2; ++dir) {
        std::copy(x.begin(), x.end(), a);
        ASSERT_EQ(compute_usm(node.get(), dir, a, b), 0);
        // The input is left as it was.
        EXPECT_EQ(std::memcmp(a, x.data(), size * sizeof(C)), 0);
        std::vector<std::complex<double>> ref(size);
        reference(l, dir, dir == 0 ? 0.5 : static_cast<double>(static_cast<float>(1.0 / n)), widen(x), ref);
        std::vector<C> got(b, b + size);
        EXPECT_LE(rel_error(got, ref), tolerance<float>()) << dir;
    }
    sycl::free(a, q);
    sycl::free(b, q);
}

TEST(VeryLarge, Real2p26) {
    OVX_REQUIRE_GPU(g_profile);
    const int64_t n = 67108864, h = n / 2;
    sycl::queue& q = gpu_queue();
    DFTI_DESCRIPTOR* raw = nullptr;
    ASSERT_EQ(gpu_dfti_create_sr1d(&raw, n, nullptr), 0);
    node_ptr node(raw);
    node->user_dims.records[0] = dfti_dim{n, 0, 0, 1, 1};
    node->placement = DFTI_NOT_INPLACE;
    node->forward_scale = 2.0;
    node->backward_scale = 1.0 / static_cast<double>(n);
    node->queue = &q;
    node->bkdlist = list_vl;
    ASSERT_EQ(commit(node.get()), 0);
    ASSERT_EQ(gpu_test::owner_of(node), bkd_name(&bkd_1d_very_large_s_ops));
    using C = std::complex<float>;
    // Forward: real 2^26 -> 2^25 + 1 complex.
    std::vector<double> xr(static_cast<std::size_t>(n));
    {
        const std::vector<C> r = gpu_test::random_data<float>(static_cast<std::size_t>(h), 11);
        for (int64_t i = 0; i < h; ++i) {
            xr[2 * i] = r[i].real();
            xr[2 * i + 1] = r[i].imag();
        }
    }
    std::vector<std::complex<double>> spectrum(static_cast<std::size_t>(h + 1));
    {
        std::vector<double> tmp = xr;
        fftw_plan p = fftw_plan_dft_r2c_1d(static_cast<int>(n), tmp.data(), reinterpret_cast<fftw_complex*>(spectrum.data()),
                                           FFTW_ESTIMATE);
        ASSERT_NE(p, nullptr);
        fftw_execute(p);
        fftw_destroy_plan(p);
    }
    float* in = sycl::malloc_shared<float>(static_cast<std::size_t>(n), q);
    C* out = sycl::malloc_shared<C>(static_cast<std::size_t>(h + 1), q);
    ASSERT_TRUE(in && out);
    for (int64_t i = 0; i < n; ++i) in[i] = static_cast<float>(xr[i]);
    ASSERT_EQ(compute_usm(node.get(), 0, in, out), 0);
    {
        std::vector<C> got(out, out + h + 1);
        std::vector<std::complex<double>> ref(spectrum.size());
        for (std::size_t i = 0; i < ref.size(); ++i) ref[i] = 2.0 * spectrum[i];
        EXPECT_LE(rel_error(got, ref), tolerance<float>());
    }
    // Backward, out of place: the conjugate-even input stays as it was.
    std::vector<C> ce(static_cast<std::size_t>(h + 1));
    for (std::size_t i = 0; i < ce.size(); ++i) ce[i] = C(static_cast<float>(spectrum[i].real()), static_cast<float>(spectrum[i].imag()));
    std::copy(ce.begin(), ce.end(), out);
    ASSERT_EQ(compute_usm(node.get(), 1, out, in), 0);
    EXPECT_EQ(std::memcmp(out, ce.data(), ce.size() * sizeof(C)), 0) << "input overwritten";
    // c2r of the spectrum gives n x; with the backward scale 1/n, x itself.
    double num = 0, den = 0;
    for (int64_t i = 0; i < n; ++i) {
        const double d = static_cast<double>(in[i]) - xr[i];
        num += d * d;
        den += xr[i] * xr[i];
    }
    EXPECT_LE(std::sqrt(num / den), tolerance<float>());
    sycl::free(in, q);
    sycl::free(out, q);
}

// Two complex transforms whose outputs are N + 1 elements apart: the second
// output starts at an odd element, which takes the stage-2 sub-node with
// output offset 1. USM and buffer forms; a sub-buffer argument is refused.
TEST(VeryLarge, ComplexBatchOddOutputDistance) {
    OVX_REQUIRE_GPU(g_profile);
    const int64_t n = 33554432;
    sycl::queue& q = gpu_queue();
    layout l;
    l.n = n;
    l.single = true;
    l.batch = {{2, n, n + 1}};
    l.bwd_scale = 1.0 / static_cast<double>(n);
    node_ptr node = make_node(l, &q, list_vl);
    ASSERT_EQ(commit(node.get()), 0);
    ASSERT_EQ(gpu_test::owner_of(node), bkd_name(&bkd_1d_very_large_s_ops));
    const double err = check_node<float>(node.get(), l, q, true, 5);
    EXPECT_GE(err, 0);
    EXPECT_LE(err, tolerance<float>());
    // Sub-buffers of a batched buffer compute are refused.
    sycl::buffer<char, 1> whole{sycl::range<1>(static_cast<std::size_t>(2 * (n + 1)) * 8 + 64)};
    sycl::buffer<char, 1> part(whole, sycl::id<1>(0), sycl::range<1>(static_cast<std::size_t>(2 * (n + 1)) * 8));
    sycl::buffer<char, 1> other{sycl::range<1>(static_cast<std::size_t>(2 * (n + 1)) * 8)};
    EXPECT_THROW(compute_buffer(node.get(), 0, &part, &other), korami::ovx::invalid_argument);
    EXPECT_THROW(compute_buffer(node.get(), 1, &other, &part), korami::ovx::invalid_argument);
}

}  // namespace
