// The small multi-dimensional local-memory backend at the node level and its
// status paths: one-record lists on devices it refuses, a build the device
// refuses, the refusal without a queue (the private block is freed), free
// through the other precision, directions not built, caller workspaces (not
// bound, half bound after a failed binding, bound with exactly the reported
// size), outputs guarded past an exactly sized layout, and the release of a
// node whose compute is still running.
#include <gtest/gtest.h>

#include <sycl/sycl.hpp>

#include <ovxplat/sycl_standin.hpp>

#include <complex>
#include <functional>
#include <string>
#include <vector>

#include "dft/gpu/backends.hpp"
#include "dft/gpu/gpu_harness.hpp"
#include "dft/ovx_dft_internal.hpp"
#include "korami/ovx/dft.hpp"
#include "ovx_test_gpu.hpp"
#include "worst_error.hpp"

namespace dft = korami::ovx::dft;
using gpu_test::cplx;
using gpu_test::node_ptr;
using v64 = std::vector<std::int64_t>;

namespace {

const bkd_ops* const list_d[] = {&bkd_small_md_slm_d_ops, nullptr};
const bkd_ops* const list_s[] = {&bkd_small_md_slm_s_ops, nullptr};

using env = gpu_test::profile_queue;

// A complex double node of node-order lengths (packed, out of place), with
// the one-record list of the small backend.
node_ptr complex_node(v64 n, std::int64_t batch, sycl::queue* q, const bkd_ops* const* list = list_d) {
    DFTI_DESCRIPTOR* raw = nullptr;
    const bool single = list == list_s;
    const int st = n.size() == 1
                       ? (single ? gpu_dfti_create_sc1d(&raw, n[0], nullptr) : gpu_dfti_create_dc1d(&raw, n[0], nullptr))
                       : (single ? gpu_dfti_create_scmd(&raw, static_cast<std::int64_t>(n.size()), n.data(), nullptr)
                                 : gpu_dfti_create_dcmd(&raw, static_cast<std::int64_t>(n.size()), n.data(), nullptr));
    if (st != 0 || !raw) return node_ptr();
    node_ptr node(raw);
    std::int64_t total = 1;
    for (std::int64_t v : n) total *= v;
    node->user_batch.records[0] = dfti_dim{batch, total, total, 0, 0};
    node->placement = DFTI_NOT_INPLACE;
    node->queue = q;
    node->bkdlist = list;
    return node;
}

// ---- statuses of one-record lists ----------------------------------------------------

struct status_case {
    const char* label;
    const char* profile;
    v64 n;
    std::function<void(DFTI_DESCRIPTOR*)> edit;
    int status;
    bool single = false;
};
void PrintTo(const status_case& c, std::ostream* os) { *os << c.label; }

class SmallMdStatus : public ::testing::TestWithParam<status_case> {};

// Every refusal leaves the node without a private block and without entries.
TEST_P(SmallMdStatus, CommitOfAOneRecordList) {
    const status_case& c = GetParam();
    OVX_REQUIRE_OPENCL();
    env e(c.profile);
    ASSERT_TRUE(e.prof.ok());
    node_ptr node = complex_node(c.n, 1, &e.q, c.single ? list_s : list_d);
    ASSERT_TRUE(node);
    if (c.edit) c.edit(node.get());
    const std::uint64_t live = ovxplat::get_sycl_counters().usm_live_allocations;
    EXPECT_EQ(gpu_test::commit(node.get()), c.status);
    EXPECT_EQ(node->bkd_data, nullptr);
    EXPECT_EQ(node->compute_fwd, nullptr);
    EXPECT_EQ(node->compute_bwd, nullptr);
    EXPECT_EQ(ovxplat::get_sycl_counters().usm_live_allocations, live);
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, SmallMdStatus,
    ::testing::Values(
        // Smallest sub-group 8: not applicable, which the list reports as 3.
        status_case{"quen5_sub_groups_of_8", "quen5", {64}, nullptr, DFTI_STATUS_INVALID_DESCRIPTOR},
        // A generation the backend does not know: 7, checked before the
        // sub-group size.
        status_case{"quen8_generation", "quen8", {64}, nullptr, DFTI_STATUS_INTERNAL},
        status_case{"unknown_generation", "unknown", {64}, nullptr, DFTI_STATUS_INTERNAL},
        // Planned from the Level Zero figures, but this device builds no
        // kernel: the commit is refused and nothing is left behind.
        status_case{"level_zero_build_refused", "quen6_l0", {64}, nullptr, DFTI_STATUS_INVALID_DESCRIPTOR},
        status_case{"rank_3", "quen6", {4, 4, 4}, nullptr, DFTI_STATUS_INVALID_DESCRIPTOR},
        // 64 KiB of data, but an outer length above 4096.
        status_case{"outer_length_4097", "quen6", {2, 4097}, nullptr, DFTI_STATUS_INVALID_DESCRIPTOR, true},
        status_case{"two_batch_records", "quen6", {64},
                    [](DFTI_DESCRIPTOR* n) {
                        n->user_batch.records[0] = dfti_dim{2, 64, 64, 0, 0};
                        n->user_batch.records[1] = dfti_dim{3, 1000, 1000, 0, 0};
                    },
                    DFTI_STATUS_INVALID_DESCRIPTOR},
        status_case{"input_offset", "quen6", {64}, [](DFTI_DESCRIPTOR* n) { n->input_offset = 1; },
                    DFTI_STATUS_INVALID_DESCRIPTOR},
        status_case{"innermost_stride_2", "quen6", {64},
                    [](DFTI_DESCRIPTOR* n) { n->user_dims.records[0].input_stride = n->user_dims.records[0].output_stride = 2; },
                    DFTI_STATUS_INVALID_DESCRIPTOR},
        status_case{"split_storage", "quen6", {64}, [](DFTI_DESCRIPTOR* n) { n->complex_storage = DFTI_REAL_REAL; },
                    DFTI_STATUS_INVALID_DESCRIPTOR},
        status_case{"outer_stage_sub_node", "quen6", {64}, [](DFTI_DESCRIPTOR* n) { n->colbatch_group_count = 4; },
                    DFTI_STATUS_INVALID_DESCRIPTOR},
        status_case{"domain_neither_complex_nor_real", "quen6", {64}, [](DFTI_DESCRIPTOR* n) { n->forward_domain = 34; },
                    DFTI_STATUS_BAD_DESCRIPTOR},
        // No queue: 7 after the block was made; the block is freed all the same.
        status_case{"no_queue", "quen6", {64}, [](DFTI_DESCRIPTOR* n) { n->queue = nullptr; }, DFTI_STATUS_INTERNAL}),
    [](const ::testing::TestParamInfo<status_case>& i) { return std::string(i.param.label); });

// The estimate for a Level Zero queue (figures from the SYCL device
// queries) is the estimate for the OpenCL queue of the same GPU.
TEST(SmallMdNode, LevelZeroFiguresPlanAsOpenCl) {
    OVX_REQUIRE_OPENCL();
    std::int64_t bytes[2] = {0, 0};
    int i = 0;
    for (const char* profile : {"quen6", "quen6_l0"}) {
        env e(profile);
        node_ptr node = complex_node({480}, 3, &e.q);
        ASSERT_EQ(dfti_normalize_node(node.get()), 0);
        const gpu_test::record_estimate est{&bkd_small_md_slm_d_ops};
        bytes[i++] = est.get_workspace_bytes(dft_workspace_problem{node.get(), &e.q});
    }
    EXPECT_GT(bytes[0], 0);
    EXPECT_EQ(bytes[0], bytes[1]);
}

TEST(SmallMdNode, FreeThroughTheOtherPrecisionIsRefused) {
    OVX_REQUIRE_OPENCL();
    env e;
    node_ptr node = complex_node({11}, 4, &e.q);
    ASSERT_EQ(gpu_test::commit(node.get()), 0);
    EXPECT_EQ(bkd_small_md_slm_s_ops.free(&bkd_small_md_slm_s_ops, node.get()), DFTI_STATUS_INTERNAL);
    EXPECT_EQ(node->commit_status, DFTI_COMMITTED);
    EXPECT_NE(node->bkd_data, nullptr);
}

// Relative error of a computed batch of n-point transforms at distance n.
double batch_error(const std::vector<cplx>& in, const std::vector<cplx>& got, std::int64_t n, int dir, double scale) {
    double worst = 0;
    for (std::size_t b = 0; b * n < in.size(); ++b) {
        const auto at = static_cast<std::ptrdiff_t>(b * n);
        const auto ref = gpu_test::dft(std::vector<cplx>(in.begin() + at, in.begin() + at + n), dir, scale);
        worst = ovx_test::worse(worst, gpu_test::rel_err(std::vector<cplx>(got.begin() + at, got.begin() + at + n), ref));
    }
    return worst;
}

// Only the direction asked for is built: the other one is refused with 5
// before anything runs. The same for a direction whose layout the kernel
// cannot serve, with both directions asked for.
TEST(SmallMdNode, DirectionWithoutKernelIsRefused) {
    OVX_REQUIRE_OPENCL();
    env e;
    const auto x = gpu_test::random_cplx(64 * 3, 9u);
    struct variant {
        const char* label;
        int directions;
        bool strided_backward;  // the backward output (forward-domain side) strided
    };
    for (const variant v : {variant{"forward_only", 0, false}, variant{"backward_layout_strided", 2, true}}) {
        node_ptr node = complex_node({64}, 3, &e.q);
        node->directions = v.directions;
        if (v.strided_backward) {
            dfti_dim& d = node->user_dims.records[0];
            d = dfti_dim{64, 1, 0, 2, 1};  // input strides 1; output side: backward 1, forward 2
            node->user_batch.records[0] = dfti_dim{3, 0, 0, 64, 64};
        }
        ASSERT_EQ(gpu_test::commit(node.get()), 0) << v.label;
        int st = -1;
        const std::vector<cplx> y = gpu_test::compute_host(node.get(), e.q, 0, true, false, x, x, st);
        ASSERT_EQ(st, 0) << v.label;
        EXPECT_LT(batch_error(x, y, 64, 0, 1.0), 1e-12) << v.label;
        std::vector<cplx> out(x.size(), cplx(5, 5));
        const std::vector<cplx> z = gpu_test::compute_host(node.get(), e.q, 1, true, false, x, out, st);
        EXPECT_EQ(st, DFTI_STATUS_BAD_DESCRIPTOR) << v.label;
        EXPECT_EQ(z, out) << v.label << ": nothing may run";
    }
}

// ---- workspaces -----------------------------------------------------------------

// A caller-held workspace: not bound -> 11 with nothing run; a binding that
// fails half way (a buffer workspace too short for the later tables) leaves
// the node unbound -> 11; a wrong container kind -> 7 and unbound; a
// workspace of exactly the reported size, USM or buffer, gives FFTW's results.
TEST(SmallMdNode, CallerWorkspaceBindings) {
    OVX_REQUIRE_OPENCL();
    env e;
    node_ptr node = complex_node({480}, 3, &e.q, list_s);
    node->internal_workspace = 0;
    ASSERT_EQ(dfti_normalize_node(node.get()), 0);
    const std::int64_t estimate =
        gpu_test::record_estimate{&bkd_small_md_slm_s_ops}.get_workspace_bytes(dft_workspace_problem{node.get(), nullptr});
    ASSERT_EQ(gpu_test::commit(node.get()), 0);
    const std::uint64_t bytes = node->twiddle_workspace_bytes;
    ASSERT_GT(bytes, 0u);
    EXPECT_EQ(node->scratch_workspace_bytes, 0u);
    EXPECT_GE(static_cast<std::uint64_t>(estimate), bytes) << "the estimate before commit covers the commit";

    using fc = std::complex<float>;
    std::vector<fc> x(480 * 3);
    const auto r = gpu_test::random_cplx(x.size(), 3u);
    for (std::size_t i = 0; i < x.size(); ++i) x[i] = fc(static_cast<float>(r[i].real()), static_cast<float>(r[i].imag()));
    std::vector<cplx> xd(x.begin(), x.end());
    const std::vector<fc> sentinel(x.size(), fc(5, 5));
    auto run = [&](bool usm, int& st) { return gpu_test::compute_host(node.get(), e.q, 0, usm, false, x, sentinel, st); };
    auto unbound = [&](const char* what) {
        int st = -1;
        const std::vector<fc> y = run(true, st);
        EXPECT_EQ(st, DFTI_STATUS_NO_WORKSPACE) << what;
        EXPECT_EQ(y, sentinel) << what << ": nothing may run";
    };
    unbound("never bound");

    {
        sycl::buffer<char, 1> tiny(sycl::range<1>(static_cast<std::size_t>(bytes) - 128));
        EXPECT_ANY_THROW(node->bkd->add_workspace(&tiny, DFTI_CONTAINER_BUFFER, 0, node.get(), DFTI_WS_BOTH, nullptr));
    }
    unbound("after a binding that failed half way");
    char* ws = sycl::malloc_device<char>(bytes, e.q);
    EXPECT_EQ(node->bkd->add_workspace(ws, 3, 0, node.get(), DFTI_WS_BOTH, nullptr), DFTI_STATUS_INTERNAL);
    unbound("after a binding of an unknown kind");

    ASSERT_EQ(gpu_dfti_set_workspace(node.get(), ws, DFTI_CONTAINER_USM), 0);
    for (bool usm : {true, false}) {
        int st = -1;
        const std::vector<fc> y = run(usm, st);
        ASSERT_EQ(st, 0);
        EXPECT_LT(batch_error(xd, std::vector<cplx>(y.begin(), y.end()), 480, 0, 1.0), 1e-5) << (usm ? "usm" : "buffers");
    }
    {
        sycl::buffer<char, 1> wb(sycl::range<1>(static_cast<std::size_t>(bytes)));
        ASSERT_EQ(gpu_dfti_set_workspace(node.get(), &wb, DFTI_CONTAINER_BUFFER), 0);
        int st = -1;
        const std::vector<fc> y = run(false, st);
        ASSERT_EQ(st, 0);
        EXPECT_LT(batch_error(xd, std::vector<cplx>(y.begin(), y.end()), 480, 0, 1.0), 1e-5) << "buffer workspace";
        node.reset();  // the node lets go of the workspace before it goes
    }
    sycl::free(ws, e.q);
}

// Through the API: a plan without tables runs with no workspace bound; one
// with tables refuses until bound. The size asked before commit covers it.
TEST(SmallMdNode, ApiWorkspaceOnlyWhenTablesAreNeeded) {
    OVX_REQUIRE_OPENCL();
    env e;
    for (std::int64_t n : {11, 64}) {
        dft::descriptor<dft::precision::DOUBLE, dft::domain::COMPLEX> d(n);
        d.set_value(dft::config_param::WORKSPACE_PLACEMENT, dft::config_value::WORKSPACE_EXTERNAL);
        std::int64_t estimate = -1, bytes = -1;
        d.get_value(dft::config_param::WORKSPACE_EXTERNAL_BYTES, &estimate);
        d.commit(e.q);
        EXPECT_STREQ(bkd_name(dft::detail::descriptor_node(d)->bkd), "bkd_small_md_slm_d_ops");
        d.get_value(dft::config_param::WORKSPACE_EXTERNAL_BYTES, &bytes);
        EXPECT_GE(estimate, bytes);
        std::complex<double>* a = sycl::malloc_shared<std::complex<double>>(static_cast<std::size_t>(n), e.q);
        std::fill(a, a + n, std::complex<double>(1, 0));
        if (n == 11) {
            EXPECT_EQ(bytes, 0);
            dft::compute_forward(d, a).wait_and_throw();
            EXPECT_NEAR(a[0].real(), 11.0, 1e-12);
        } else {
            EXPECT_GT(bytes, 0);
            EXPECT_THROW(dft::compute_forward(d, a), dft::no_workspace_exception);
        }
        sycl::free(a, e.q);
    }
}

// ---- outputs ---------------------------------------------------------------------

// Out of place, each transform's rows are written and nothing else: the
// gaps between rows and transforms and a guard after an exactly sized
// layout keep their sentinels.
template <class D>
void forward_into_guarded(const md_test::md_case& c) {
    env e;
    md_test::side f, b;
    md_test::sides_of(c, f, b);
    D d(c.n);
    d.set_value(dft::config_param::PLACEMENT, dft::config_value::NOT_INPLACE);
    d.set_value(dft::config_param::NUMBER_OF_TRANSFORMS, c.batch);
    d.set_value(dft::config_param::FWD_DISTANCE, f.dist);
    d.set_value(dft::config_param::BWD_DISTANCE, b.dist);
    if (!c.fs.empty()) {
        d.set_value(dft::config_param::FWD_STRIDES, c.fs);
        d.set_value(dft::config_param::BWD_STRIDES, c.bs);
    }
    d.commit(e.q);
    EXPECT_STREQ(bkd_name(dft::detail::descriptor_node(d)->bkd), "bkd_small_md_slm_d_ops");
    const std::size_t in_n = f.extent() * (c.real ? 1 : 2), out_n = b.extent() + 16;  // 16 guard values
    const std::vector<double> x = gpu_test::random_real(in_n, 4u);
    std::vector<double> y = md_test::run<double>(d, e.q, c, true, x, 2 * out_n);
    std::vector<char> mine(out_n, 0);
    for (std::int64_t k : b.offsets()) mine[static_cast<std::size_t>(k)] = 1;
    std::size_t outside = 0, missed = 0;
    for (std::size_t i = 0; i < out_n; ++i) {
        const bool kept = y[2 * i] == 7.0 && y[2 * i + 1] == 7.0;
        outside += !mine[i] && !kept;
        missed += mine[i] && kept;
    }
    EXPECT_EQ(outside, 0u) << md_test::name_of(c) << ": elements outside the layout written";
    EXPECT_EQ(missed, 0u) << md_test::name_of(c);
}

TEST(SmallMdNode, WritesOnlyTheLayout) {
    OVX_REQUIRE_OPENCL();
    // Real rows of 74 into complex rows of 38 at a distance of 40.
    md_test::md_case real{"quen6", true, false, {74}, 3, false, true, {}, {}};
    real.bd = 40;
    forward_into_guarded<dft::descriptor<dft::precision::DOUBLE, dft::domain::REAL>>(real);
    // Complex 12 x 10 rows written at a pitch of 11 (transforms packed).
    md_test::md_case cx{"quen6", false, false, {12, 10}, 2, false, true, {0, 10, 1}, {0, 11, 1}};
    cx.fd = 120;
    cx.bd = 132;
    forward_into_guarded<dft::descriptor<dft::precision::DOUBLE, dft::domain::COMPLEX>>(cx);
}

// Destroying a node right after a compute was submitted waits for it before
// its tables go: the result is complete and right.
TEST(SmallMdNode, ReleaseWaitsForTheRunningCompute) {
    OVX_REQUIRE_OPENCL();
    env e;
    const auto x = gpu_test::random_cplx(480 * 3, 21u);
    auto* in = sycl::malloc_shared<cplx>(x.size(), e.q);
    auto* out = sycl::malloc_shared<cplx>(x.size(), e.q);
    std::copy(x.begin(), x.end(), in);
    sycl::event ev;
    {
        node_ptr node = complex_node({480}, 3, &e.q);
        ASSERT_EQ(gpu_test::commit(node.get()), 0);
        ASSERT_EQ(gpu_test::compute_usm(node.get(), 0, in, out, &ev), 0);
    }
    ev.wait_and_throw();
    EXPECT_LT(batch_error(x, std::vector<cplx>(out, out + x.size()), 480, 0, 1.0), 1e-12);
    sycl::free(in, e.q);
    sycl::free(out, e.q);
}

}  // namespace
