// The general 1D complex backend on the stand-in GPU: transforms through the
// public API and through the node layer, compared with FFTW, and the status
// paths of the 1D backend frame.
//
// The whole executable runs on the "quen5" profile, whose scratch cap is
// 42 MiB, so that large batches run in several chunks.
#include <fftw3.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <korami/ovx/dft.hpp>
#include <ovxplat/profile.h>
#include <ovxplat/sycl_standin.hpp>
#include <ovx_serv.h>
#include <sycl/sycl.hpp>

#include "dft/gpu/backends.hpp"
#include "dft/gpu/gpu_harness.hpp"
#include "dft/node/ovx_dft_node.hpp"
#include "dft/ovx_dft_internal.hpp"
#include "gpu/ovx_gpu_testing.hpp"
#include "ovx_test_gpu.hpp"

namespace dft = korami::ovx::dft;

namespace {

const bool g_profile = ovxplat_gpu_profile_select("quen5") == 0;

using ovx_test::gpu_queue;

using batch_rec = gpu_test::rec;
using gpu_test::extent;
using gpu_test::random_data;
using gpu_test::rel_error;
using gpu_test::tolerance;
using gpu_test::widen;

// ---- public API cases ------------------------------------------------------------

struct api_case {
    std::int64_t n, batch;
    std::int64_t fs, fd, bs, bd;  // forward-domain and backward-domain stride and distance
    bool in_place;
};

std::string name_of(const api_case& c) {
    return "N" + std::to_string(c.n) + "_b" + std::to_string(c.batch) + "_fs" + std::to_string(c.fs) + "_bs" +
           std::to_string(c.bs) + (c.in_place ? "_in" : "_out");
}

// The case's layout, forward scale 1/3 and backward scale 1/N.
gpu_test::layout layout_of(const api_case& c) {
    gpu_test::layout l;
    l.n = c.n;
    l.fs = c.fs;
    l.bs = c.bs;
    l.batch = {{c.batch, c.fd, c.bd}};
    l.in_place = c.in_place;
    l.fwd_scale = 1.0 / 3.0;
    l.bwd_scale = 1.0 / static_cast<double>(c.n);
    return l;
}

// Runs forward and backward, USM and buffer forms, on one committed
// descriptor, and compares each with FFTW.
template <dft::precision P>
void run_api_case(const api_case& c) {
    const gpu_test::layout l = layout_of(c);
    gpu_test::api_descriptor<P> desc(c.n);
    gpu_test::configure(desc, l);
    desc.commit(gpu_queue());
    EXPECT_EQ(gpu_test::owner_of(dft::detail::descriptor_node(desc)),
              P == dft::precision::DOUBLE ? "bkd_c2c_1d_nonsubgrp_d_ops" : "bkd_c2c_1d_nonsubgrp_s_ops")
        << name_of(c);
    const auto launches0 = ovxplat::get_sycl_counters().opencl_launches;
    gpu_test::expect_api_matches(desc, l, gpu_queue(), 17u, 99u, name_of(c));
    // The transforms ran as OpenCL kernels on the GPU queue.
    EXPECT_GE(ovxplat::get_sycl_counters().opencl_launches - launches0, 4u);
}

class ApiDouble : public ::testing::TestWithParam<api_case> {
protected:
    void SetUp() override {
        OVX_REQUIRE_GPU(g_profile);
    }
};
class ApiSingle : public ApiDouble {};

TEST_P(ApiDouble, MatchesFftw) { run_api_case<dft::precision::DOUBLE>(GetParam()); }
TEST_P(ApiSingle, MatchesFftw) { run_api_case<dft::precision::SINGLE>(GetParam()); }

// Lengths of every kind of plan: 1 (no factor), 7 (one straight-line factor),
// 53 and 67 (generic routines), 75 with 50 transforms and 135 (grouped
// launch), 128 (table factors), 1000 (two passes), 4757 (two generic
// passes), 2^20 (four passes). Every case has a non-unit stride on one side
// at least, which only the general backend accepts, so that the public API
// reaches it whatever specialised backends precede it in the lists; padded
// distances throughout.
const api_case kCases[] = {
    {1, 3, 2, 3, 2, 3, true},
    {7, 4, 2, 17, 3, 23, false},
    {53, 2, 2, 107, 2, 107, true},
    {67, 3, 1, 67, 2, 140, false},
    {75, 50, 1, 80, 2, 160, false},   // grouped, output layout differs from the input's
    {128, 2, 2, 260, 1, 128, false},
    {135, 30, 2, 271, 2, 271, true},  // grouped, in place
    {1000, 2, 3, 3001, 1, 1000, false},
    {4757, 1, 2, 9514, 1, 4757, false},
    {1 << 20, 1, 1, 1 << 20, 2, 1 << 21, false},
};
INSTANTIATE_TEST_SUITE_P(Lengths, ApiDouble, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<api_case>& i) { return name_of(i.param); });
INSTANTIATE_TEST_SUITE_P(Lengths, ApiSingle, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<api_case>& i) { return name_of(i.param); });

// Twiddled first passes of factors whose twiddle sets take other shapes than
// those of 8, 50 and 64 above: N = F * 67 gives FACT0 = F (twiddled,
// straight-line) and FACT1 = 67, for F = 2 and 3 (one-member sets), 5, 17
// and 31 (partial sets, members built from products within each set). A
// unit-stride input with a stride-2 output, which only the general backend
// accepts.
const api_case kFirstPassFactors[] = {
    {2 * 67, 2, 1, 2 * 67, 2, 4 * 67, false},
    {3 * 67, 1, 1, 3 * 67, 2, 6 * 67, false},
    {5 * 67, 2, 1, 5 * 67, 2, 10 * 67, false},
    {17 * 67, 1, 1, 17 * 67, 2, 34 * 67, false},
    {31 * 67, 1, 1, 31 * 67, 2, 62 * 67, false},
};
INSTANTIATE_TEST_SUITE_P(FirstPassFactors, ApiDouble, ::testing::ValuesIn(kFirstPassFactors),
                         [](const ::testing::TestParamInfo<api_case>& i) { return name_of(i.param); });
INSTANTIATE_TEST_SUITE_P(FirstPassFactors, ApiSingle, ::testing::ValuesIn(kFirstPassFactors),
                         [](const ::testing::TestParamInfo<api_case>& i) { return name_of(i.param); });

// The same plans again with the stand-in's shuffled scheduling of
// out-of-order work (kernels come from the cache).
TEST(ApiShuffled, SelectedLengths) {
    OVX_REQUIRE_GPU(g_profile);
    ovxplat::set_shuffle_mode(true);
    for (const api_case& c : {kCases[1], kCases[4], kCases[6], kCases[7]}) {
        run_api_case<dft::precision::DOUBLE>(c);
        run_api_case<dft::precision::SINGLE>(c);
    }
    ovxplat::set_shuffle_mode(false);
}

// ---- node-level cases: three batch records, chunked batches ----------------------

// A double node of length n with unit strides on the test queue, not
// committed.
gpu_test::node_ptr double_node(std::int64_t n, std::int64_t batch = 1) {
    gpu_test::layout l;
    l.n = n;
    l.io = true;
    l.batch = {{batch, n, n}};
    return gpu_test::make_node(l, &gpu_queue(), nullptr);
}

// Commits a node through a candidate list holding only the general backend
// (the GPU commit would offer it to the specialised backends first).
int commit_general(DFTI_DESCRIPTOR* node) {
    static const bkd_ops* const only_d[] = {&bkd_c2c_1d_nonsubgrp_d_ops, nullptr};
    static const bkd_ops* const only_s[] = {&bkd_c2c_1d_nonsubgrp_s_ops, nullptr};
    node->bkdlist = node->precision == DFTI_DOUBLE ? only_d : only_s;
    node->methods = &gpu_dfti_method_table;
    node->detach_backend = detach_backend;
    return node->methods->commit(node);
}

// Commits the layout (input/output strides 1) through a list holding only the
// general backend, checks the owner, and both directions against FFTW.
template <class R>
void run_node_case(std::int64_t n, const std::vector<batch_rec>& batch, bool in_place) {
    static const bkd_ops* const only[] = {sizeof(R) == 8 ? &bkd_c2c_1d_nonsubgrp_d_ops : &bkd_c2c_1d_nonsubgrp_s_ops,
                                          nullptr};
    gpu_test::layout l;
    l.n = n;
    l.single = sizeof(R) == 4;
    l.io = true;
    l.batch = batch;
    l.in_place = in_place;
    gpu_test::node_ptr node = gpu_test::make_node(l, &gpu_queue(), only);
    ASSERT_TRUE(node);
    ASSERT_EQ(gpu_test::commit(node.get()), 0);
    ASSERT_EQ(gpu_test::owner_of(node), bkd_name(only[0]));
    EXPECT_TRUE(gpu_test::matches_fftw<R>(node.get(), l, gpu_queue(), false));
}

class NodeLevel : public ::testing::Test {
protected:
    void SetUp() override {
        OVX_REQUIRE_GPU(g_profile);
    }
};

TEST_F(NodeLevel, ThreeBatchRecords) {
    // 2 x 3 x 4 transforms with padded distances that do not fuse.
    const std::vector<batch_rec> b{{2, 9, 11}, {3, 20, 25}, {4, 70, 80}};
    run_node_case<double>(7, b, false);
    run_node_case<float>(7, b, false);
    run_node_case<double>(1000, {{2, 1000, 1003}, {3, 2000, 2100}, {2, 6000, 6400}}, false);
}

TEST_F(NodeLevel, BatchOverTheScratchCap) {
    // 3000 transforms of 1000 points (48 MB) under a 42 MiB cap: two chunks,
    // the second shorter.
    run_node_case<double>(1000, {{3000, 1000, 1000}}, false);
    // 75-point grouped launch whose last chunk is not a multiple of 25.
    run_node_case<double>(75, {{36707, 75, 75}}, true);
}

TEST_F(NodeLevel, BatchOverTheScratchCapShuffled) {
    ovxplat::set_shuffle_mode(true);
    run_node_case<double>(1000, {{3000, 1000, 1000}}, false);
    ovxplat::set_shuffle_mode(false);
}

// Two computes submitted back to back on an out-of-order queue share the
// scratch areas: the second must not start before the first has read them.
// Destroying the descriptor right after a compute must not free the scratch
// under the running work.
TEST_F(NodeLevel, ComputesInFlightKeepTheirScratch) {
    using C = std::complex<double>;
    sycl::queue& q = gpu_queue();
    ovxplat::set_shuffle_mode(true);
    const std::int64_t n = 1000, batch = 8, total = n * batch;
    const auto x1 = random_data<double>(static_cast<std::size_t>(2 * total), 41);
    const auto x2 = random_data<double>(static_cast<std::size_t>(2 * total), 42);
    C* in1 = sycl::malloc_shared<C>(2 * total, q);
    C* in2 = sycl::malloc_shared<C>(2 * total, q);
    C* out1 = sycl::malloc_shared<C>(total, q);
    C* out2 = sycl::malloc_shared<C>(total, q);
    std::copy(x1.begin(), x1.end(), in1);
    std::copy(x2.begin(), x2.end(), in2);
    sycl::event e1, e2;
    {
        dft::descriptor<dft::precision::DOUBLE, dft::domain::COMPLEX> d(n);
        d.set_value(dft::config_param::NUMBER_OF_TRANSFORMS, batch);
        d.set_value(dft::config_param::FWD_STRIDES, std::vector<std::int64_t>{0, 2});  // general backend only
        d.set_value(dft::config_param::FWD_DISTANCE, 2 * n);
        d.set_value(dft::config_param::BWD_DISTANCE, n);
        d.set_value(dft::config_param::PLACEMENT, dft::config_value::NOT_INPLACE);
        d.commit(q);
        for (int round = 0; round < 3; ++round) {
            e1 = dft::compute_forward(d, in1, out1);
            e2 = dft::compute_forward(d, in2, out2);
        }
    }  // the descriptor and its library-held scratch go away here
    e1.wait();
    e2.wait();
    ovxplat::set_shuffle_mode(false);
    const std::vector<batch_rec> b{{batch, 2 * n, n}};
    std::vector<std::complex<double>> r1(static_cast<std::size_t>(total)), r2(r1.size());
    gpu_test::strided_reference(n, 2, 1, b, -1, 1.0, widen(x1), r1);
    gpu_test::strided_reference(n, 2, 1, b, -1, 1.0, widen(x2), r2);
    EXPECT_LE(rel_error(std::vector<C>(out1, out1 + total), r1), tolerance<double>());
    EXPECT_LE(rel_error(std::vector<C>(out2, out2 + total), r2), tolerance<double>());
    for (C* p : {in1, in2, out1, out2}) sycl::free(p, q);
}

// ---- frame status paths ------------------------------------------------------------

TEST_F(NodeLevel, CallerWorkspaceNeededThenBound) {
    using C = std::complex<double>;
    sycl::queue& q = gpu_queue();
    dft::descriptor<dft::precision::DOUBLE, dft::domain::COMPLEX> desc(1000);
    desc.set_value(dft::config_param::PLACEMENT, dft::config_value::NOT_INPLACE);
    desc.set_value(dft::config_param::FWD_STRIDES, std::vector<std::int64_t>{0, 2});  // general backend only
    desc.set_value(dft::config_param::WORKSPACE_PLACEMENT, dft::config_value::WORKSPACE_EXTERNAL);
    desc.commit(q);
    std::int64_t bytes = 0;
    desc.get_value(dft::config_param::WORKSPACE_EXTERNAL_BYTES, &bytes);
    EXPECT_EQ(bytes, 1000 * 16);
    C* a = sycl::malloc_shared<C>(2000, q);
    C* b = sycl::malloc_shared<C>(1000, q);
    const auto x = random_data<double>(2000, 3);
    std::copy(x.begin(), x.end(), a);
    EXPECT_THROW(dft::compute_forward(desc, a, b).wait(), dft::no_workspace_exception);
    double* ws = sycl::malloc_device<double>(static_cast<std::size_t>(bytes) / sizeof(double), q);
    desc.set_workspace(ws);
    dft::compute_forward(desc, a, b).wait();
    std::vector<std::complex<double>> ref(1000);
    gpu_test::strided_reference(1000, 2, 1, {}, -1, 1.0, widen(x), ref);
    EXPECT_LE(rel_error(std::vector<C>(b, b + 1000), ref), tolerance<double>());
    // A buffer workspace replaces the USM one.
    sycl::buffer<double, 1> wb(sycl::range<1>(static_cast<std::size_t>(bytes) / sizeof(double)));
    desc.set_workspace(wb);
    std::fill(b, b + 1000, C{});
    dft::compute_forward(desc, a, b).wait();
    EXPECT_LE(rel_error(std::vector<C>(b, b + 1000), ref), tolerance<double>());
    // Buffer data with the buffer workspace (scratch as sub-buffers).
    std::vector<C> hx(a, a + 2000), hy(1000);
    {
        sycl::buffer<C, 1> bx(hx.data(), sycl::range<1>(hx.size()));
        sycl::buffer<C, 1> by(hy.data(), sycl::range<1>(hy.size()));
        dft::compute_forward(desc, bx, by);
    }
    EXPECT_LE(rel_error(hy, ref), tolerance<double>());
    sycl::free(ws, q);
    sycl::free(a, q);
    sycl::free(b, q);
}

TEST_F(NodeLevel, StatusPaths) {
    sycl::queue& q = gpu_queue();
    double* a = sycl::malloc_shared<double>(2 * 1000, q);
    double* b = sycl::malloc_shared<double>(2 * 1000, q);
    dfti_data_kind usm{DFTI_CONTAINER_USM};

    // Caller workspace required and never bound: 11, nothing submitted.
    gpu_test::node_ptr g = double_node(1000);
    g->internal_workspace = 0;
    ASSERT_EQ(commit_general(g.get()), 0);
    EXPECT_GT(g->scratch_workspace_bytes, 0u);
    const auto before = ovxplat::get_sycl_counters().commands_submitted;
    EXPECT_EQ(g->compute_fwd(g.get(), a, b, nullptr, &usm, nullptr), DFTI_STATUS_NO_WORKSPACE);
    EXPECT_EQ(ovxplat::get_sycl_counters().commands_submitted, before);

    // Library-held workspace whose area is missing: 5.
    g->internal_workspace = 1;
    EXPECT_EQ(g->compute_fwd(g.get(), a, b, nullptr, &usm, nullptr), DFTI_STATUS_BAD_DESCRIPTOR);
    g->internal_workspace = 0;

    // Another owner's free: 7; add_workspace without a block: 2.
    EXPECT_EQ(bkd_c2c_1d_nonsubgrp_s_ops.free(&bkd_c2c_1d_nonsubgrp_s_ops, g.get()), DFTI_STATUS_INTERNAL);
    DFTI_DESCRIPTOR* other = nullptr;
    ASSERT_EQ(gpu_dfti_create_dc1d(&other, 8, nullptr), 0);
    EXPECT_EQ(bkd_c2c_1d_nonsubgrp_d_ops.add_workspace(nullptr, 2, 0, other, 2, nullptr), DFTI_STATUS_UNCOMMITTED_DESCRIPTOR);
    gpu_dfti_destroy(other);

    // Re-commit detaches the current owner first (its detach hook runs once).
    static int detached = 0;
    detached = 0;
    g->detach_hook = [](DFTI_DESCRIPTOR*) { ++detached; };
    ASSERT_EQ(commit_general(g.get()), 0);
    EXPECT_EQ(detached, 1);
    EXPECT_EQ(g->commit_status, DFTI_COMMITTED);

    // Directions 0: one direction built; backward is refused without a launch.
    gpu_test::node_ptr f = double_node(7);
    f->directions = 0;
    const auto k0 = korami::ovx::gpu::get_kernel_cache_stats().kernels_created;
    ASSERT_EQ(commit_general(f.get()), 0);
    EXPECT_EQ(korami::ovx::gpu::get_kernel_cache_stats().kernels_created - k0, 1);
    EXPECT_EQ(f->twiddle_workspace_bytes, 0u);
    const auto s0 = ovxplat::get_sycl_counters().commands_submitted;
    EXPECT_EQ(f->compute_bwd(f.get(), a, b, nullptr, &usm, nullptr), DFTI_STATUS_BAD_DESCRIPTOR);
    EXPECT_EQ(ovxplat::get_sycl_counters().commands_submitted, s0);
    sycl::event e;
    EXPECT_EQ(f->compute_fwd(f.get(), a, b, nullptr, &usm, &e), 0);
    e.wait();

    // Free by the owner, then the node is uncommitted.
    EXPECT_EQ(bkd_c2c_1d_nonsubgrp_d_ops.free(&bkd_c2c_1d_nonsubgrp_d_ops, f.get()), 0);
    EXPECT_EQ(f->commit_status, DFTI_UNCOMMITTED);
    EXPECT_EQ(f->bkd_data, nullptr);
    sycl::free(a, q);
    sycl::free(b, q);
}

// A batch of no transforms submits nothing and succeeds.
TEST_F(NodeLevel, EmptyBatch) {
    gpu_test::node_ptr g = double_node(7);
    ASSERT_EQ(commit_general(g.get()), 0);
    // The node layer refuses 0 transforms; the backend is offered such a
    // working list directly.
    g->working_batch.records[0].length = 0;
    ASSERT_EQ(bkd_c2c_1d_nonsubgrp_d_ops.commit(&bkd_c2c_1d_nonsubgrp_d_ops, g.get()), 0);
    EXPECT_EQ(g->scratch_workspace_bytes, 0u);
    dfti_data_kind usm{DFTI_CONTAINER_USM};
    const auto s0 = ovxplat::get_sycl_counters().commands_submitted;
    sycl::event e;
    EXPECT_EQ(g->compute_fwd(g.get(), nullptr, nullptr, nullptr, &usm, &e), 0);
    EXPECT_EQ(ovxplat::get_sycl_counters().commands_submitted, s0);
    e.wait();
}

TEST_F(NodeLevel, RefusalsGoToTheNextRecord) {
    gpu_test::node_ptr g = double_node(7);
    g->colbatch_group_count = 1;
    ASSERT_EQ(dfti_normalize_node(g.get()), 0);
    EXPECT_EQ(bkd_c2c_1d_nonsubgrp_d_ops.commit(&bkd_c2c_1d_nonsubgrp_d_ops, g.get()), DFTI_STATUS_NOT_APPLICABLE);
    g->colbatch_group_count = 0;
    g->input_offset = 1;
    EXPECT_EQ(bkd_c2c_1d_nonsubgrp_d_ops.commit(&bkd_c2c_1d_nonsubgrp_d_ops, g.get()), DFTI_STATUS_NOT_APPLICABLE);
    g->input_offset = 0;
    g->complex_storage = DFTI_REAL_REAL;
    EXPECT_EQ(bkd_c2c_1d_nonsubgrp_d_ops.commit(&bkd_c2c_1d_nonsubgrp_d_ops, g.get()), DFTI_STATUS_NOT_APPLICABLE);
}

TEST_F(NodeLevel, KernelCacheBuildsEachProgramOnce) {
    const api_case c{67, 3, 1, 67, 2, 140, false};
    auto commit_once = [&] {
        dft::descriptor<dft::precision::DOUBLE, dft::domain::COMPLEX> d(c.n);
        gpu_test::configure(d, layout_of(c));
        d.commit(gpu_queue());
    };
    commit_once();
    const auto s0 = korami::ovx::gpu::get_kernel_cache_stats();
    commit_once();
    commit_once();
    const auto s1 = korami::ovx::gpu::get_kernel_cache_stats();
    EXPECT_EQ(s1.programs_built, s0.programs_built);
    EXPECT_GE(s1.cache_hits - s0.cache_hits, 4);
}

TEST_F(NodeLevel, VerboseLine) {
    using C = std::complex<float>;
    sycl::queue& q = gpu_queue();
    dft::descriptor<dft::precision::SINGLE, dft::domain::COMPLEX> d(7);
    d.set_value(dft::config_param::PLACEMENT, dft::config_value::NOT_INPLACE);
    d.set_value(dft::config_param::BWD_STRIDES, std::vector<std::int64_t>{0, 2});  // general backend only
    d.commit(q);
    C* a = sycl::malloc_shared<C>(7, q);
    C* b = sycl::malloc_shared<C>(14, q);
    std::fill(a, a + 7, C{1, 0});
    const int old = *ovx_serv_verbose_mode();
    *ovx_serv_verbose_mode() = 1;
    ::testing::internal::CaptureStdout();
    dft::compute_forward(d, a, b).wait();
    const std::string out = ::testing::internal::GetCapturedStdout();
    *ovx_serv_verbose_mode() = old;
    EXPECT_NE(out.find("OVX_VERBOSE"), std::string::npos) << out;
    EXPECT_NEAR(b[0].real(), 7.0f, 1e-5f);
    sycl::free(a, q);
    sycl::free(b, q);
}

TEST(Estimator, WorkspaceBytes) {
    gpu_test::node_ptr g = double_node(1000, 5);
    ASSERT_EQ(dfti_normalize_node(g.get()), 0);
    const gpu_test::record_estimate est{&bkd_c2c_1d_nonsubgrp_d_ops};
    EXPECT_EQ(est.get_workspace_bytes({g.get(), nullptr}), 5 * 1000 * 16);
    // Before a queue is known the estimate covers the device whose scratch
    // grows the largest (generation 6: the whole batch, past quen5's cap).
    gpu_test::node_ptr big = double_node(1000, 5000);
    ASSERT_EQ(dfti_normalize_node(big.get()), 0);
    EXPECT_EQ(est.get_workspace_bytes({big.get(), nullptr}), std::int64_t{5000} * 1000 * 16);
    g->forward_domain = DFTI_REAL;
    EXPECT_EQ(est.get_workspace_bytes({g.get(), nullptr}), -1);
}

}  // namespace
