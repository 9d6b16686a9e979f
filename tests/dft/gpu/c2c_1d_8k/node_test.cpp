// The 8192-point backend at node level: owned through a candidate list
// holding its record, transforms against FFTW in USM and buffer forms, both
// directions, in place and out of place, with scales other than 1 (some in
// the stand-in's shuffled mode); refusals, caller workspaces, a batch at the
// scratch cap, back-to-back computes, a failed build, the estimate, an
// in-order queue, the tables as written and a backward-only node.
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

constexpr backend K8{&bkd_c2c_1d_8k_s_ops, &bkd_c2c_1d_8k_d_ops};

using gpu_test::complex_case;

INSTANTIATE_TEST_SUITE_P(
    EightK, FactorsModulesComplex,
    ::testing::Values(complex_case{K8, 8192, false, 2, false, 0, true, 1.0, "quen5", false, 0, 0},
                      complex_case{K8, 8192, true, 3, true, 1, false, 1.0 / 8192, "quen7", true, 0, 0},
                      complex_case{K8, 8192, false, 1, true, 1, true, 0.5, "quen1", true, 0, 0}),
    gpu_test::param_name<complex_case>);

using gpu_test::refusal_case;

INSTANTIATE_TEST_SUITE_P(
    Table, FactorsModulesRefusal,
    ::testing::Values(refusal_case{K8, false, 8192, 337, 0, 0, 2, "quen5"},     // scratch above 42 MiB
                      refusal_case{K8, true, 8192, 673, 0, 0, 2, "quen7"},
                      refusal_case{K8, false, 8192, 2, 8200, 8192, 2, "quen5"},  // padded rows
                      refusal_case{K8, false, 8192, 1, 0, 0, 2, "quen6"},       // no sub-group size 8
                      refusal_case{K8, false, 8191, 1, 0, 0, 2, "quen5"}),
    gpu_test::param_name<refusal_case>);

using gpu_test::ws_case;

INSTANTIATE_TEST_SUITE_P(Modules, FactorsModulesWorkspace,
                         ::testing::Values(ws_case{K8, false, 8192, 2, true}, ws_case{K8, true, 8192, 1, false}),
                         gpu_test::param_name<ws_case>);


// At the cap: 336 double transforms of 8192 points take exactly 42 MiB of scratch.
TEST(FactorsModulesChunks, EightKAtTheCap) {
    GPU_ON_QUEN5(q);
    const int64_t n = 8192, batch = 336;
    const auto x = md_test::pack<double>(gpu_test::random_cplx(static_cast<size_t>(n * batch), 17u), 2,
                                                static_cast<size_t>(2 * n * batch));
    const auto all = gpu_test::run_batch(&bkd_c2c_1d_8k_d_ops, n, batch, x, q);
    ASSERT_EQ(all.size(), x.size());
    const std::vector<cplx> xc = gpu_test::as_cplx(x);
    for (int64_t t : {int64_t(0), int64_t(167), int64_t(335)})
        EXPECT_LT(gpu_test::c2c_batch_error(all.data() + 2 * n * t, n, std::vector<cplx>(xc.begin() + n * t, xc.end()), n,
                                            n, 1, 0, 1.0),
                  gpu_test::tolerance(false, n))
            << "transform " << t;
}

using gpu_test::overlap_case;

INSTANTIATE_TEST_SUITE_P(Modules, FactorsModulesOverlap, ::testing::Values(overlap_case{K8, 8192, false}),
                         gpu_test::param_name<overlap_case>);

TEST(FactorsModulesFailures, EightKFailedBuildLeavesNothing) {
    gpu_test::expect_failed_build_leaves_nothing(&bkd_c2c_1d_8k_d_ops, 8192);
}

TEST(FactorsModulesEstimators, EightKMatchTheCommittedNeed) {
    GPU_ON_QUEN5(q);
    static const gpu_test::record_estimate e8{&bkd_c2c_1d_8k_d_ops};
    gpu_test::expect_estimate_of_the_need(K8.d, 8192, 2, e8, q);
    // A problem the backend does not take: -1.
    node_ptr node;
    ASSERT_NO_FATAL_FAILURE(gpu_test::make_estimate_refused_node(q, node));
    EXPECT_EQ(e8.get_workspace_bytes(dft_workspace_problem{node.get(), &q}), -1);
}

TEST(FactorsModulesQueues, EightKInOrderAndQueueMode2) { gpu_test::expect_in_order_and_queue_mode(K8, 8192, false, 0); }

// The tables as the table kernels write them into a caller's workspace: the
// layouts the kernels read, the angles, and the scale folded into the
// forward tables only (forward scale 0.5, backward scale 1).
TEST(FactorsModulesTables, EightKLayoutAndScale) {
    GPU_ON_QUEN5(q);
    gpu_test::written_tables t(q);
    ASSERT_NO_FATAL_FAILURE(t.write(K8.d, 8192));
    const uint64_t c1 = align_workspace_offset(4096, &q), c2 = align_workspace_offset(2048, &q);
    const double* f3 = t.f + (c1 + c2) / 8;
    const double* b3 = t.b + (c1 + c2) / 8;
    const double* b1 = t.b;
    for (int64_t i = 0; i < 16; ++i)
        for (int64_t j = 0; j < 8; ++j)
            gpu_test::expect_table_entry(b1, 256 * (j / 4) + 16 * i + 2 * (j % 4), -2.0L * i * j / 128, 1.0);
    for (int64_t n1 : {int64_t(0), int64_t(1), int64_t(37), int64_t(63)})
        for (int64_t s = 0; s < 128; ++s) {
            const int64_t h = s / 64, r = (s % 64) / 4, p = s % 4;
            const int64_t k0 = 4 * h + p + 8 * (r / 8) + 16 * (r % 8);
            const int64_t pos = 512 * n1 + 16 * (s / 4) + 2 * (s % 4);
            gpu_test::expect_table_entry(b3, pos, -2.0L * n1 * k0 / 8192, 1.0);
            gpu_test::expect_table_entry(f3, pos, -2.0L * n1 * k0 / 8192, 0.5);
        }
    // Class 1 is the same in both directions.
    EXPECT_EQ(0, std::memcmp(t.f, t.b, 4096));
}

TEST(FactorsModulesLifecycle, EightKBackwardOnly) { gpu_test::expect_backward_only(K8, 8192, false); }

}  // namespace
