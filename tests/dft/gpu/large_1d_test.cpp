// The large 1D backend (2^21 to 2^26 points) on the stand-in GPU: transforms
// through the public API against FFTW, the owners of its sub-nodes, the
// caller-held workspace, refusals and statuses. Built twice: the longest
// transforms only in the executable labelled slow.
#include <gtest/gtest.h>

#include <sycl/sycl.hpp>

#include <ovxplat/sycl_standin.hpp>

#include <complex>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "dft/gpu/backends.hpp"
#include "dft/gpu/gpu_test_harness.hpp"
#include "dft/ovx_dft_internal.hpp"
#include "korami/ovx/dft.hpp"

namespace dft = korami::ovx::dft;
using gpu_test::cplx;

namespace {

#define REQUIRE_DEVICE()                                                              \
    do {                                                                              \
        if (!ovxplat::opencl_available()) {                                           \
            const char* ci = std::getenv("CI");                                       \
            if (ci && std::string(ci) == "true") FAIL() << "no OpenCL device";        \
            GTEST_SKIP() << "no OpenCL device";                                       \
        }                                                                             \
    } while (0)

template <dft::precision P>
using desc_t = dft::descriptor<P, dft::domain::COMPLEX>;
template <dft::precision P>
using real_of = std::conditional_t<P == dft::precision::DOUBLE, double, float>;

const bkd_ops* large_ops(bool single) { return single ? &bkd_c2c_1d_large_s_ops : &bkd_c2c_1d_large_d_ops; }

// One compute of a committed descriptor on `x` (batch of n-point transforms
// at distance n), in USM or buffer form.
template <dft::precision P>
std::vector<std::complex<real_of<P>>> run(desc_t<P>& d, sycl::queue& q, int dir, bool usm, bool in_place,
                                          const std::vector<std::complex<real_of<P>>>& x) {
    using C = std::complex<real_of<P>>;
    const std::size_t size = x.size();
    std::vector<C> y(size);
    if (usm) {
        C* a = sycl::malloc_shared<C>(size, q);
        C* b = in_place ? a : sycl::malloc_shared<C>(size, q);
        std::copy(x.begin(), x.end(), a);
        sycl::event e = in_place ? (dir == 0 ? dft::compute_forward(d, a) : dft::compute_backward(d, a))
                                 : (dir == 0 ? dft::compute_forward(d, a, b) : dft::compute_backward(d, a, b));
        e.wait_and_throw();
        std::copy(b, b + size, y.begin());
        sycl::free(a, q);
        if (!in_place) sycl::free(b, q);
        return y;
    }
    std::vector<C> hx = x;
    {
        sycl::buffer<C, 1> a(hx.data(), sycl::range<1>(size));
        sycl::buffer<C, 1> b(y.data(), sycl::range<1>(size));
        if (in_place)
            dir == 0 ? dft::compute_forward(d, a) : dft::compute_backward(d, a);
        else
            dir == 0 ? dft::compute_forward(d, a, b) : dft::compute_backward(d, a, b);
    }
    return in_place ? hx : y;
}

// Worst relative L2 error over the transforms of a batch.
template <class R>
double batch_error(const std::vector<std::complex<R>>& got, const std::vector<std::complex<R>>& x, std::int64_t n,
                   int dir, double scale) {
    double worst = 0;
    for (std::size_t b = 0; b * n < x.size(); ++b) {
        const auto first = x.begin() + static_cast<std::ptrdiff_t>(b * n);
        const std::vector<cplx> ref = gpu_test::dft(gpu_test::widen(std::vector<std::complex<R>>(first, first + n)), dir, scale);
        const auto g = got.begin() + static_cast<std::ptrdiff_t>(b * n);
        worst = std::max(worst, gpu_test::rel_error(std::vector<std::complex<R>>(g, g + n), ref));
    }
    return worst;
}

template <class R>
double tol() {
    return sizeof(R) == 8 ? 1e-10 : 2e-5;
}

struct api_case {
    bool single;
    int log2n;
    std::int64_t batch;
    bool in_place, usm;
};

std::string describe(const api_case& c) {
    return "N2e" + std::to_string(c.log2n) + (c.single ? "s" : "d") + "_b" + std::to_string(c.batch) +
           (c.in_place ? "_ip" : "_oop") + (c.usm ? "_usm" : "_buf");
}

template <dft::precision P>
void forward_then_backward(const api_case& c) {
    using R = real_of<P>;
    ovxplat::scoped_gpu_profile prof("quen6");
    sycl::queue q{sycl::gpu_selector_v};
    const std::int64_t n = std::int64_t(1) << c.log2n;
    const double sf = 0.5, sb = 1.0 / static_cast<double>(n);
    desc_t<P> d(n);
    d.set_value(dft::config_param::NUMBER_OF_TRANSFORMS, c.batch);
    d.set_value(dft::config_param::FWD_DISTANCE, n);
    d.set_value(dft::config_param::BWD_DISTANCE, n);
    d.set_value(dft::config_param::PLACEMENT, c.in_place ? dft::config_value::INPLACE : dft::config_value::NOT_INPLACE);
    d.set_value(dft::config_param::FORWARD_SCALE, static_cast<R>(sf));
    d.set_value(dft::config_param::BACKWARD_SCALE, static_cast<R>(sb));
    d.commit(q);
    ASSERT_EQ(dft::detail::descriptor_node(d)->bkd, large_ops(c.single));
    const auto x = gpu_test::random_data<R>(static_cast<std::size_t>(n * c.batch), 21u);
    const auto y = run<P>(d, q, 0, c.usm, c.in_place, x);
    EXPECT_LT(batch_error(y, x, n, 0, sf), tol<R>()) << "forward";
    const auto z = run<P>(d, q, 1, c.usm, c.in_place, y);
    EXPECT_LT(batch_error(z, y, n, 1, sb), tol<R>()) << "backward";
}

class LargeApi : public ::testing::TestWithParam<api_case> {};

TEST_P(LargeApi, ForwardThenBackwardMatchFftw) {
    REQUIRE_DEVICE();
    const api_case c = GetParam();
    if (c.single)
        forward_then_backward<dft::precision::SINGLE>(c);
    else
        forward_then_backward<dft::precision::DOUBLE>(c);
}

#ifndef OVX_LARGE_SLOW_CASES
INSTANTIATE_TEST_SUITE_P(Shapes, LargeApi,
                         ::testing::Values(api_case{false, 21, 1, false, true}, api_case{true, 21, 3, true, false},
                                           api_case{false, 22, 1, false, false}, api_case{true, 24, 1, false, true}),
                         [](const ::testing::TestParamInfo<api_case>& i) { return describe(i.param); });
#else
INSTANTIATE_TEST_SUITE_P(Longest, LargeApi,
                         ::testing::Values(api_case{false, 24, 1, true, true}, api_case{true, 25, 1, false, false},
                                           api_case{false, 26, 1, false, true}),
                         [](const ::testing::TestParamInfo<api_case>& i) { return describe(i.param); });
#endif

#ifndef OVX_LARGE_SLOW_CASES

// ---- ownership through the lists ----------------------------------------------------

struct owner_case {
    const char* name;
    bool single;
    std::int64_t n, batch, fwd_distance, bwd_distance;
    const char* profile;
    bool large;  // the large record owns it
};

class LargeOwner : public ::testing::TestWithParam<owner_case> {};

TEST_P(LargeOwner, CommitPicksTheExpectedRecord) {
    REQUIRE_DEVICE();
    const owner_case c = GetParam();
    ovxplat::scoped_gpu_profile prof(c.profile);
    sycl::queue q{sycl::gpu_selector_v};
    const DFTI_DESCRIPTOR* node = nullptr;
    auto commit = [&](auto& d) {
        d.set_value(dft::config_param::NUMBER_OF_TRANSFORMS, c.batch);
        d.set_value(dft::config_param::FWD_DISTANCE, c.fwd_distance);
        d.set_value(dft::config_param::BWD_DISTANCE, c.bwd_distance);
        d.commit(q);
        node = dft::detail::descriptor_node(d);
        EXPECT_EQ(node->bkd == large_ops(c.single), c.large) << bkd_name(node->bkd);
    };
    if (c.single) {
        desc_t<dft::precision::SINGLE> d(c.n);
        commit(d);
    } else {
        desc_t<dft::precision::DOUBLE> d(c.n);
        commit(d);
    }
}

constexpr std::int64_t M = std::int64_t(1) << 20;

INSTANTIATE_TEST_SUITE_P(
    Lists, LargeOwner,
    ::testing::Values(owner_case{"Double2e23", false, 8 * M, 1, 8 * M, 8 * M, "quen6", true},
                      owner_case{"Single2e26", true, 64 * M, 1, 0, 0, "quen6", true},
                      owner_case{"Double2e20", false, M, 1, M, M, "quen6", false},
                      owner_case{"Single3x2e20", true, 3 * M, 1, 3 * M, 3 * M, "quen6", false},
                      owner_case{"TwoAtDistanceNPlus1", true, 2 * M, 2, 2 * M + 1, 2 * M + 1, "quen6", false},
                      owner_case{"UnequalDistances", true, 2 * M, 2, 2 * M, 4 * M, "quen6", false},
                      owner_case{"Quen5", true, 2 * M, 1, 0, 0, "quen5", false},
                      owner_case{"Quen8", false, 2 * M, 1, 0, 0, "quen8", false}),
    [](const ::testing::TestParamInfo<owner_case>& i) { return std::string(i.param.name); });

// The sub-node shapes, committed through their lists: the columns go to a
// column-batched record, the rows to the row pass.
struct sub_case {
    bool single;
    std::int64_t n1, n2, p;
    const char* column_owner;
};

class LargeSubNodes : public ::testing::TestWithParam<sub_case> {};

TEST_P(LargeSubNodes, ColumnAndRowOwners) {
    REQUIRE_DEVICE();
    const sub_case c = GetParam();
    ovxplat::scoped_gpu_profile prof("quen6");
    sycl::queue q{sycl::gpu_selector_v};
    gpu_test::layout col;
    col.n = c.n2;
    col.single = c.single;
    col.io = true;
    col.fs = c.p;
    col.bs = c.n1;
    col.batch = {{c.n1, 1, 1}};
    col.internal_workspace = false;
    gpu_test::node_ptr cn = gpu_test::make_node(col, &q, c.single ? bkdlist_sc1d : bkdlist_dc1d);
    cn->is_sub_node = 1;
    ASSERT_EQ(gpu_test::commit(cn.get()), 0);
    EXPECT_STREQ(bkd_name(cn->bkd), c.column_owner);
    gpu_test::layout row;
    row.n = c.n1;
    row.single = c.single;
    row.io = true;
    row.in_place = true;
    row.batch = {{c.n2, c.p, c.p}};
    row.internal_workspace = false;
    const bkd_ops* rec = c.single ? &bkd_c2c_1d_n_facts_slm_row_s_ops : &bkd_c2c_1d_n_facts_slm_row_d_ops;
    const bkd_ops* list[] = {rec, nullptr};
    gpu_test::node_ptr rn = gpu_test::make_node(row, &q, list);
    rn->is_sub_node = 1;
    ASSERT_EQ(gpu_test::commit(rn.get()), 0);
    EXPECT_EQ(rn->bkd, rec);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, LargeSubNodes,
    ::testing::Values(sub_case{false, 2048, 1024, 2048, "bkd_c2c_1d_n_facts_colbatch_d_ops"},
                      sub_case{true, 8192, 2048, 8224, "bkd_c2c_1d_n_facts_colbatch_s_ops"},
                      sub_case{false, 8192, 2048, 8208, "bkd_c2c_1d_4_facts_colbatch_d_ops"}),
    [](const ::testing::TestParamInfo<sub_case>& i) {
        return "N1_" + std::to_string(i.param.n1) + "_N2_" + std::to_string(i.param.n2) + (i.param.single ? "s" : "d");
    });

#endif

}  // namespace
