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
        d.set_value(dft::config_param::PLACEMENT, dft::config_value::NOT_INPLACE);
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

// ---- workspace and statuses ------------------------------------------------------------

using ddesc = desc_t<dft::precision::DOUBLE>;
using dc = std::complex<double>;
constexpr std::int64_t N21 = std::int64_t(1) << 21;

TEST(LargeWorkspace, CallerHeldWorkspaceBytesBindingsAndKinds) {
    REQUIRE_DEVICE();
    ovxplat::scoped_gpu_profile prof("quen6");
    sycl::queue q{sycl::gpu_selector_v};
    const auto x = gpu_test::random_data<double>(static_cast<std::size_t>(N21), 4u);
    dc* in = sycl::malloc_shared<dc>(N21, q);
    dc* out = sycl::malloc_shared<dc>(N21, q);
    std::copy(x.begin(), x.end(), in);
    std::vector<double*> ws;
    {
        ddesc d(N21);
        d.set_value(dft::config_param::PLACEMENT, dft::config_value::NOT_INPLACE);
        d.set_value(dft::config_param::WORKSPACE_PLACEMENT, dft::config_value::WORKSPACE_EXTERNAL);
        std::int64_t estimate = 0, bytes = 0;
        d.get_value(dft::config_param::WORKSPACE_EXTERNAL_BYTES, &estimate);
        d.commit(q);
        ASSERT_EQ(dft::detail::descriptor_node(d)->bkd, &bkd_c2c_1d_large_d_ops);
        d.get_value(dft::config_param::WORKSPACE_EXTERNAL_BYTES, &bytes);
        EXPECT_EQ(bytes, 67277312);  // tables 33,722,880 + scratch 33,554,432
        EXPECT_GE(estimate, bytes);  // the estimate before commit covers whichever backend takes it
        EXPECT_THROW(dft::compute_forward(d, in, out), dft::no_workspace_exception);
        // Bound twice: the second binding replaces the first.
        for (int i = 0; i < 2; ++i) {
            ws.push_back(sycl::malloc_device<double>(static_cast<std::size_t>(bytes) / 8, q));
            d.set_workspace(ws.back());
            dft::compute_forward(d, in, out).wait_and_throw();
            EXPECT_LT(batch_error(std::vector<dc>(out, out + N21), x, N21, 0, 1.0), 1e-10) << "binding " << i;
        }
        // A buffer workspace serves buffer data, not USM data.
        sycl::buffer<double, 1> bws{sycl::range<1>(static_cast<std::size_t>(bytes) / 8)};
        d.set_workspace(bws);
        EXPECT_THROW(dft::compute_forward(d, in, out), dft::no_workspace_exception);
        std::vector<dc> hx = x, hy(x.size());
        {
            sycl::buffer<dc, 1> bi(hx.data(), sycl::range<1>(hx.size())), bo(hy.data(), sycl::range<1>(hy.size()));
            dft::compute_forward(d, bi, bo);
        }
        EXPECT_LT(batch_error(hy, x, N21, 0, 1.0), 1e-10) << "buffer workspace";
    }
    for (double* p : ws) sycl::free(p, q);
    sycl::free(in, q);
    sycl::free(out, q);
}

TEST(LargeStatuses, SubBufferDataThrowsBeforeAnyCommand) {
    REQUIRE_DEVICE();
    ovxplat::scoped_gpu_profile prof("quen6");
    sycl::queue q{sycl::gpu_selector_v};
    ddesc d(N21);
    d.set_value(dft::config_param::PLACEMENT, dft::config_value::NOT_INPLACE);
    d.commit(q);
    sycl::buffer<dc, 1> whole{sycl::range<1>(static_cast<std::size_t>(2 * N21))};
    sycl::buffer<dc, 1> part(whole, sycl::id<1>(0), sycl::range<1>(static_cast<std::size_t>(N21)));
    sycl::buffer<dc, 1> out{sycl::range<1>(static_cast<std::size_t>(N21))};
    const std::uint64_t before = ovxplat::get_sycl_counters().commands_submitted;
    try {
        dft::compute_forward(d, part, out);
        ADD_FAILURE() << "no exception";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "Sub-buffer inputs are not supported for this size. See Numora release notes.");
    }
    EXPECT_EQ(ovxplat::get_sycl_counters().commands_submitted, before);
}

// Two computes of one descriptor on independent data with no dependency
// between them, on an out-of-order queue that starts ready commands in
// random order: the second may not overwrite the work matrix the first uses.
// Then the backward transform of the first result: the round trip gives the
// input back (scales 0.5 and 2/N).
TEST(LargeStatuses, BackToBackComputesInShuffledMode) {
    REQUIRE_DEVICE();
    ovxplat::scoped_gpu_profile prof("quen6");
    sycl::queue q{sycl::gpu_selector_v};
    using fc = std::complex<float>;
    desc_t<dft::precision::SINGLE> d(N21);
    d.set_value(dft::config_param::PLACEMENT, dft::config_value::NOT_INPLACE);
    d.set_value(dft::config_param::FORWARD_SCALE, 0.5f);
    d.set_value(dft::config_param::BACKWARD_SCALE, 2.0f / static_cast<float>(N21));
    d.commit(q);
    const auto x1 = gpu_test::random_data<float>(static_cast<std::size_t>(N21), 1u);
    const auto x2 = gpu_test::random_data<float>(static_cast<std::size_t>(N21), 2u);
    fc* a[4];
    for (auto& p : a) p = sycl::malloc_shared<fc>(N21, q);
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
    for (auto* p : a) sycl::free(p, q);
}

TEST(LargeStatuses, RecordSlotsOnForeignOrBareNodes) {
    REQUIRE_DEVICE();
    ovxplat::scoped_gpu_profile prof("quen6");
    sycl::queue q{sycl::gpu_selector_v};
    gpu_test::layout l;
    l.n = N21;
    const bkd_ops* list[] = {&bkd_c2c_1d_large_d_ops, nullptr};
    gpu_test::node_ptr node = gpu_test::make_node(l, &q, list);
    EXPECT_EQ(bkd_c2c_1d_large_d_ops.free(&bkd_c2c_1d_large_d_ops, node.get()), DFTI_STATUS_INTERNAL);
    char byte = 0;
    EXPECT_EQ(bkd_c2c_1d_large_d_ops.add_workspace(&byte, DFTI_CONTAINER_USM, 0, node.get(), DFTI_WS_BOTH, nullptr),
              DFTI_STATUS_INVALID);
    // A sub-node of another composite is never taken.
    node->is_sub_node = 1;
    EXPECT_EQ(gpu_test::commit(node.get()), DFTI_STATUS_INCONSISTENT);
}

// On the planning-only Level Zero profile the sub-nodes and the transpose
// cannot be built: the commit is refused and leaves nothing behind.
TEST(LargeStatuses, FailedBuildsRefuseCleanly) {
    REQUIRE_DEVICE();
    ovxplat::scoped_gpu_profile prof("quen6_l0");
    sycl::queue q{sycl::gpu_selector_v};
    gpu_test::layout l;
    l.n = N21;
    l.single = true;
    const bkd_ops* list[] = {&bkd_c2c_1d_large_s_ops, nullptr};
    const std::uint64_t live = ovxplat::get_sycl_counters().usm_live_allocations;
    gpu_test::node_ptr node = gpu_test::make_node(l, &q, list);
    EXPECT_EQ(gpu_test::commit(node.get()), DFTI_STATUS_INCONSISTENT);
    EXPECT_EQ(node->bkd_data, nullptr);
    EXPECT_EQ(node->compute_fwd, nullptr);
    EXPECT_EQ(ovxplat::get_sycl_counters().usm_live_allocations, live);
}

#endif

}  // namespace
