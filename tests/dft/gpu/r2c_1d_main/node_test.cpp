// The 1D real backend at node level: owned through a candidate list holding
// its record, its real-to-complex and complex-to-real transforms against
// FFTW in USM and buffer forms, in place and out of place, with scales other
// than 1 (some in the stand-in's shuffled mode); caller workspaces holding
// its sub-node's areas, the layouts it refuses, batches beyond the scratch
// run in chunks, back-to-back computes, the estimate, queue mode 2 and a
// backward-only node.
#include "dft/gpu/gpu_harness.hpp"
#include "dft/gpu/module_suites.hpp"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dft/gpu/frame/areas.hpp"

namespace {

using gpu_test::backend;
using gpu_test::cplx;
using gpu_test::node_ptr;
using gpu_test::one_list;
using gpu_test::usm_copy;
using layout = gpu_test::simple_layout;

constexpr backend RL{&bkd_r2c_1d_main_s_ops, &bkd_r2c_1d_main_d_ops};

struct real_case {
    int64_t n;
    bool single;
    int64_t batch;
    bool in_place;
    int dir;
    bool usm;
    double scale;
    const char* profile;
    bool shuffle;
};

std::string describe(const real_case& c) {
    return std::to_string(c.n) + (c.single ? "s" : "d") + "_b" + std::to_string(c.batch) +
           (c.in_place ? "_ip" : "_oop") + (c.dir ? "_c2r" : "_r2c") + (c.usm ? "_usm" : "_buf") + "_" + c.profile +
           (c.shuffle ? "_shuffled" : "");
}
void PrintTo(const real_case& c, std::ostream* os) { *os << describe(c); }

class FactorsModulesReal : public ::testing::TestWithParam<real_case> {};

template <class T>
void run_real(const real_case& c) {
    ovxplat::scoped_gpu_profile prof(c.profile);
    ASSERT_TRUE(prof.ok());
    ovxplat::set_shuffle_mode(c.shuffle);
    sycl::queue q{sycl::gpu_selector_v};
    const bkd_ops* rec = RL.of(c.single);
    one_list list(rec);
    layout l;
    l.n = c.n;
    l.single = c.single;
    l.real = true;
    l.batch = c.batch;
    l.in_place = c.in_place;
    l.fwd_scale = c.dir == 0 ? c.scale : 1.0;
    l.bwd_scale = c.dir == 1 ? c.scale : 1.0;
    node_ptr node = gpu_test::make_node(l, &q, list.get());
    ASSERT_TRUE(node);
    ASSERT_EQ(gpu_test::commit(node.get()), 0);
    ASSERT_STREQ(bkd_name(node->bkd), bkd_name(rec));
    const int64_t h = c.n / 2 + 1;
    const int64_t rd = c.in_place ? 2 * h : c.n;  // real distance (reals)
    const int64_t cd = h;                         // complex distance (complex values)
    const size_t real_elems = static_cast<size_t>(rd * c.batch), cplx_reals = static_cast<size_t>(2 * cd * c.batch);
    // Forward: N reals per transform at distance rd; backward: the N/2+1
    // values of a real signal's transform at distance cd (interleaved).
    std::vector<T> in_host(c.dir == 0 ? std::max(real_elems, c.in_place ? cplx_reals : 0)
                                      : std::max(cplx_reals, c.in_place ? real_elems : 0), T(0));
    for (int64_t b = 0; b < c.batch; ++b) {
        if (c.dir == 0) {
            const auto xb = gpu_test::random_real(static_cast<size_t>(c.n), 300u + static_cast<unsigned>(b));
            for (int64_t j = 0; j < c.n; ++j) in_host[b * rd + j] = static_cast<T>(xb[j]);
        } else {
            const auto xb = gpu_test::dft_r2c(gpu_test::random_real(static_cast<size_t>(c.n), 400u + static_cast<unsigned>(b)), 1.0);
            for (int64_t k = 0; k < h; ++k) {
                in_host[2 * (b * cd + k)] = static_cast<T>(xb[k].real());
                in_host[2 * (b * cd + k) + 1] = static_cast<T>(xb[k].imag());
            }
        }
    }
    const size_t out_count = c.dir == 0 ? cplx_reals : real_elems;
    int st = -1;
    const std::vector<T> result =
        gpu_test::compute_host(node.get(), q, c.dir, c.usm, c.in_place, in_host, std::vector<T>(out_count), st);
    ASSERT_EQ(st, 0);
    ovxplat::set_shuffle_mode(false);
    const std::vector<double> x(in_host.begin(), in_host.end());  // the inputs as the device saw them
    const double err = c.dir == 0 ? gpu_test::r2c_batch_error(result.data(), cd, x, rd, c.n, c.batch, c.scale)
                                   : gpu_test::c2r_batch_error(result.data(), rd, gpu_test::as_cplx(x), cd, c.n, c.batch, c.scale);
    EXPECT_LT(err, gpu_test::tolerance(c.single, c.n));
}

TEST_P(FactorsModulesReal, MatchesFftw) {
    const real_case c = GetParam();
    OVX_REQUIRE(gpu_test::device_ok(c.single), "no OpenCL device (or no double support)");
    if (c.single)
        run_real<float>(c);
    else
        run_real<double>(c);
}

INSTANTIATE_TEST_SUITE_P(
    Real, FactorsModulesReal,
    ::testing::Values(real_case{1000, false, 3, false, 0, true, 0.5, "quen5", false},
                      real_case{1000, false, 3, true, 1, false, 1.0 / 1000, "quen5", true},
                      real_case{999, false, 3, false, 1, true, 2.0, "quen7", true},
                      real_case{999, true, 5, true, 0, false, 1.0, "quen5", false},
                      real_case{1000, true, 1, true, 0, true, 1.0, "quen6", true},
                      real_case{999, true, 4, false, 1, false, 0.25, "quen6", false},
                      // The smallest lengths: sub-transforms of one or two points.
                      real_case{1, false, 3, false, 0, true, 1.0, "quen5", false},
                      real_case{2, false, 3, false, 1, true, 1.0, "quen5", false},
                      real_case{3, false, 3, true, 1, true, 1.0, "quen5", false},
                      real_case{4, false, 2, true, 0, false, 1.0, "quen5", false}),
    gpu_test::param_name<real_case>);

// The real backend with a caller's workspace: the parent lays out its
// sub-node's areas inside it. USM and buffer workspaces, even and odd N.
TEST(FactorsModulesRealWorkspace, CallerWorkspace) {
    GPU_ON_QUEN5(q);
    const bkd_ops* const list[] = {&bkd_r2c_1d_main_d_ops, nullptr};
    for (int64_t n : {int64_t(1000), int64_t(999)}) {
        for (bool usm_ws : {true, false}) {
            layout l;
            l.n = n;
            l.real = true;
            l.batch = 3;
            l.internal_workspace = false;
            node_ptr node = gpu_test::make_node(l, &q, list);
            ASSERT_EQ(gpu_test::commit(node.get()), 0);
            const uint64_t bytes = node->twiddle_workspace_bytes + node->scratch_workspace_bytes;
            ASSERT_GT(bytes, 0u);
            const int64_t h = n / 2 + 1;
            const auto x = gpu_test::random_real(static_cast<size_t>(3 * n), 61u);
            double* in = usm_copy(q, x);
            double* out = sycl::malloc_shared<double>(static_cast<size_t>(6 * h), q);
            EXPECT_EQ(gpu_test::compute_usm(node.get(), 0, in, out), DFTI_STATUS_NO_WORKSPACE);
            void* ws = nullptr;
            std::unique_ptr<sycl::buffer<char, 1>> wsb;
            if (usm_ws) {
                ws = sycl::malloc_device(bytes, q);
                ASSERT_EQ(gpu_dfti_set_workspace(node.get(), ws, DFTI_CONTAINER_USM), 0);
            } else {
                wsb.reset(new sycl::buffer<char, 1>{sycl::range<1>(bytes)});
                ASSERT_EQ(gpu_dfti_set_workspace(node.get(), wsb.get(), DFTI_CONTAINER_BUFFER), 0);
            }
            ASSERT_EQ(gpu_test::compute_usm(node.get(), 0, in, out), 0);
            EXPECT_LT(gpu_test::r2c_batch_error(out, h, x, n, n, 3, 1.0), gpu_test::tolerance(false, n))
                << "N " << n << (usm_ws ? " usm" : " buffer");
            node.reset();
            if (ws) sycl::free(ws, q);
            sycl::free(in, q);
            sycl::free(out, q);
        }
    }
}

// ---------------------------------------------------------------- real refusals

TEST(FactorsModulesRealRefusal, Layouts) {
    GPU_ON_QUEN5(q);
    const bkd_ops* const only[] = {&bkd_r2c_1d_main_d_ops, nullptr};
    struct c {
        bool in_place;
        int directions;
        int64_t fd, bd;          // forward / backward distances (0: io distances below)
        int64_t in_d, out_d;     // input / output distances
        int64_t is, os;          // input / output strides (0: forward / backward strides)
        int expect;
    };
    const c cases[] = {
        {true, 2, 1004, 501, 0, 0, 0, 0, DFTI_STATUS_INVALID_DESCRIPTOR},   // real distance not twice the complex one
        {true, 2, 1002, 501, 0, 0, 0, 0, 0},
        {false, 2, 1000, 500, 0, 0, 0, 0, DFTI_STATUS_INVALID_DESCRIPTOR},  // complex distance below N/2 + 1
        {true, 2, 0, 0, 0, 0, 1, 2, DFTI_STATUS_INVALID_DESCRIPTOR},        // in place with different strides
        // Input/output distances serve both directions: the forward layout fits, the
        // backward one (complex input 1002, real output 501) does not, so the node is refused.
        {true, 2, 0, 0, 1002, 501, 0, 0, DFTI_STATUS_INVALID_DESCRIPTOR},
        {true, 0, 0, 0, 1002, 501, 0, 0, 0},
        {true, 1, 0, 0, 501, 1002, 0, 0, 0},
    };
    for (const c& k : cases) {
        layout l;
        l.n = 1000;
        l.real = true;
        l.batch = 2;
        l.in_place = k.in_place;
        l.directions = k.directions;
        node_ptr node = gpu_test::make_node(l, &q, only);
        ASSERT_TRUE(node);
        dfti_dim& b = node->user_batch.records[0];
        if (k.fd || k.bd) {
            b.fwd_stride = k.fd;
            b.bwd_stride = k.bd;
        } else {
            b.fwd_stride = b.bwd_stride = 0;
            b.input_stride = k.in_d;
            b.output_stride = k.out_d;
        }
        if (k.is || k.os) {
            b.fwd_stride = 1002;
            b.bwd_stride = 501;
            dfti_dim& d = node->user_dims.records[0];
            d.input_stride = k.is;
            d.output_stride = k.os;
        }
        EXPECT_EQ(gpu_test::commit(node.get()), k.expect)
            << "in_place " << k.in_place << " directions " << k.directions << " fd " << k.fd << " in_d " << k.in_d;
        if (k.expect != 0) {
            EXPECT_EQ(node->bkd_data, nullptr);
        }
    }
}

// make rows of 16048 bytes, 2744 rows (5488 transforms) per chunk, so 5489
// transforms run as 5488 + 1, the last pair without its second member.
TEST(FactorsModulesChunks, RealChunks) {
    GPU_ON_QUEN5(q);
    const bkd_ops* const list[] = {&bkd_r2c_1d_main_d_ops, nullptr};
    for (int64_t n : {int64_t(8000), int64_t(1003)}) {
        const int64_t batch = n == 8000 ? 689 : 5489;
        layout l;
        l.n = n;
        l.real = true;
        l.batch = batch;
        node_ptr node = gpu_test::make_node(l, &q, list);
        ASSERT_EQ(gpu_test::commit(node.get()), 0);
        const int64_t h = n / 2 + 1;
        const auto xr = gpu_test::random_real(static_cast<size_t>(n * batch), 55u);
        double* in = usm_copy(q, xr);
        double* out = sycl::malloc_shared<double>(static_cast<size_t>(2 * h * batch), q);
        ASSERT_EQ(gpu_test::compute_usm(node.get(), 0, in, out), 0);
        for (int64_t t : {int64_t(0), batch / 2, batch - 2, batch - 1})
            EXPECT_LT(gpu_test::r2c_batch_error(out + 2 * h * t, h, std::vector<double>(xr.begin() + n * t, xr.end()), n, n,
                                                1, 1.0),
                      gpu_test::tolerance(false, n))
                << "N " << n << " transform " << t;
        sycl::free(in, q);
        sycl::free(out, q);
    }
}

using gpu_test::overlap_case;

INSTANTIATE_TEST_SUITE_P(Modules, FactorsModulesOverlap, ::testing::Values(overlap_case{RL, 1000, true}),
                         gpu_test::param_name<overlap_case>);

TEST(FactorsModulesEstimators, RealCoversTheCommittedNeed) {
    GPU_ON_QUEN5(q);
    static const gpu_test::record_estimate er{&bkd_r2c_1d_main_d_ops};
    node_ptr node;
    ASSERT_NO_FATAL_FAILURE(gpu_test::make_estimate_refused_node(q, node));
    EXPECT_EQ(er.get_workspace_bytes(dft_workspace_problem{node.get(), &q}), -1);  // complex node
    layout lr;
    lr.n = 1000;
    lr.real = true;
    lr.batch = 3;
    const bkd_ops* const rl[] = {&bkd_r2c_1d_main_d_ops, nullptr};
    node_ptr rnode = gpu_test::make_node(lr, &q, rl);
    ASSERT_EQ(gpu_test::commit(rnode.get()), 0);
    EXPECT_GE(er.get_workspace_bytes(dft_workspace_problem{rnode.get(), &q}),
              static_cast<int64_t>(rnode->twiddle_workspace_bytes + rnode->scratch_workspace_bytes));
}

// Before the device is known, the real module's estimate of a long
// transform counts its full chunk's sub-transform as every complex record
// that could take it sizes it, the large one included.
TEST(FactorsModulesEstimators, RealLongTransformBeforeTheDeviceIsKnown) {
    struct figure {
        bool single;
        int directions;
        int64_t bytes;
    };
    for (const figure& f : {figure{true, 2, 84216576}, figure{true, 0, 84052736}, figure{false, 2, 168433152},
                            figure{false, 1, 168105472}}) {
        layout l;
        l.n = 4194304;
        l.real = true;
        l.single = f.single;
        l.directions = f.directions;
        node_ptr node = gpu_test::make_node(l, nullptr, nullptr);
        ASSERT_TRUE(node);
        ASSERT_EQ(dfti_normalize_node(node.get()), 0);
        const bkd_ops* rec = f.single ? &bkd_r2c_1d_main_s_ops : &bkd_r2c_1d_main_d_ops;
        EXPECT_EQ(rec->estimate(rec, node.get(), nullptr), f.bytes) << (f.single ? "single" : "double") << " directions "
                                                                    << f.directions;
    }
}

// The size a caller reads before the first commit (no device known yet)
// covers what the commit on generation 6 then needs: there the whole batch
// of a long real transform fits one chunk and its scratch is the largest.
TEST(FactorsModulesEstimators, RealBatchBeforeCommitCoversGenerationSix) {
    GPU_REQUIRE_DEVICE(false);
    ovxplat::scoped_gpu_profile prof("quen6");
    sycl::queue q{sycl::gpu_selector_v};
    namespace dft = korami::ovx::dft;
    const std::int64_t n = 1 << 20;
    dft::descriptor<dft::precision::DOUBLE, dft::domain::REAL> d(n);
    d.set_value(dft::config_param::NUMBER_OF_TRANSFORMS, std::int64_t{12});
    d.set_value(dft::config_param::FWD_DISTANCE, n);
    d.set_value(dft::config_param::BWD_DISTANCE, n / 2 + 1);
    d.set_value(dft::config_param::PLACEMENT, dft::config_value::NOT_INPLACE);
    d.set_value(dft::config_param::WORKSPACE_PLACEMENT, dft::config_value::WORKSPACE_EXTERNAL);
    std::int64_t before = -1, after = -1;
    d.get_value(dft::config_param::WORKSPACE_EXTERNAL_BYTES, &before);
    d.commit(q);
    d.get_value(dft::config_param::WORKSPACE_EXTERNAL_BYTES, &after);
    EXPECT_EQ(gpu_test::owner_of(dft::detail::descriptor_node(d)), "bkd_r2c_1d_main_d_ops");
    EXPECT_GT(after, 0);
    EXPECT_GE(before, after);
}

TEST(FactorsModulesQueues, RealInOrderAndQueueMode2) { gpu_test::expect_in_order_and_queue_mode(RL, 999, true, 2); }

TEST(FactorsModulesLifecycle, RealBackwardOnly) { gpu_test::expect_backward_only(RL, 1000, true); }

}  // namespace
