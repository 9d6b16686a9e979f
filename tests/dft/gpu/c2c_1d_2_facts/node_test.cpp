// The two-factor backend at node level: each node is committed through a
// candidate list holding the module's record, must be owned by it, and its
// transforms must match FFTW in USM and buffer forms, both directions, in
// place and out of place, with scales other than 1, on device profiles with
// sub-groups of 8 (some in the stand-in's shuffled mode); refusals, caller
// workspaces, the directions built, a failed build, the estimate, queue
// mode 2 and the tables as written.
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

constexpr backend TF{&bkd_c2c_1d_2_facts_s_ops, &bkd_c2c_1d_2_facts_d_ops};

using gpu_test::complex_case;

INSTANTIATE_TEST_SUITE_P(
    TwoFacts, FactorsModulesComplex,
    ::testing::Values(
        complex_case{TF, 4, false, 3, false, 0, true, 1.0, "quen5", false, 0, 0},
        complex_case{TF, 48, false, 2, true, 1, false, 0.5, "quen5", false, 0, 0},
        complex_case{TF, 64, true, 2, false, 1, true, 2.0, "quen7", true, 0, 0},
        complex_case{TF, 96, false, 5, false, 0, false, 1.0, "quen3", false, 0, 0},   // 4 per group, last 1
        complex_case{TF, 96, false, 5, true, 1, true, 0.25, "quen3", true, 0, 0},
        complex_case{TF, 128, true, 3, true, 0, false, 1.0, "quen5", false, 130, 132},
        complex_case{TF, 1000, false, 2, false, 0, true, 1.0, "quen5", true, 0, 0},   // 40 x 25
        complex_case{TF, 4096, true, 2, false, 1, true, 1.0 / 4096, "quen5", false, 0, 0},
        complex_case{TF, 2048, true, 3, true, 0, false, 0.5, "quen4", true, 0, 0}),      // 64 x 32, 2 row passes
    gpu_test::param_name<complex_case>);

using gpu_test::refusal_case;

INSTANTIATE_TEST_SUITE_P(
    Table, FactorsModulesRefusal,
    ::testing::Values(refusal_case{TF, false, 64, 1, 0, 0, 2, "quen6"},       // no sub-group size 8
                      refusal_case{TF, false, 1006, 1, 0, 0, 2, "quen5"},     // 503 prime
                      refusal_case{TF, false, 2048, 1, 0, 0, 2, "quen5"},     // double above 1024
                      refusal_case{TF, true, 1002, 1, 0, 0, 2, "quen5"},      // no factor pair
                      refusal_case{TF, true, 64, 3, 64, 65, 0, "quen5"},      // odd output distance
                      refusal_case{TF, false, 63, 1, 0, 0, 2, "quen5"}),      // odd length
    gpu_test::param_name<refusal_case>);

using gpu_test::ws_case;

INSTANTIATE_TEST_SUITE_P(Modules, FactorsModulesWorkspace,
                         ::testing::Values(ws_case{TF, false, 96, 2, true}, ws_case{TF, true, 96, 2, false}),
                         gpu_test::param_name<ws_case>);

TEST(FactorsModulesLifecycle, DirectionsAndRecommit) {
    GPU_ON_QUEN5(q);
    const bkd_ops* rec = &bkd_c2c_1d_2_facts_d_ops;
    one_list list(rec);
    layout l;
    l.n = 48;
    l.directions = 0;
    node_ptr node = gpu_test::make_node(l, &q, list.get());
    ASSERT_EQ(gpu_test::commit(node.get()), 0);
    const uint64_t one_dir = node->twiddle_workspace_bytes;
    EXPECT_GT(one_dir, 0u);
    EXPECT_EQ(node->scratch_workspace_bytes, 0u);
    // The backward direction was not built: a status, not a launch.
    std::vector<double> data(2 * 48, 1.0);
    double* p = usm_copy(q, data);
    EXPECT_NE(gpu_test::compute_usm(node.get(), 1, p, p), 0);
    EXPECT_EQ(gpu_test::compute_usm(node.get(), 0, p, p), 0);
    // Both directions: the tables double; re-commit detaches the old block first.
    node->directions = 2;
    ASSERT_EQ(gpu_test::commit(node.get()), 0);
    EXPECT_EQ(node->twiddle_workspace_bytes, 2 * one_dir);
    EXPECT_EQ(gpu_test::compute_usm(node.get(), 1, p, p), 0);
    // free by a record that does not own the node: 7.
    EXPECT_EQ(bkd_c2c_1d_2_facts_s_ops.free(&bkd_c2c_1d_2_facts_s_ops, node.get()), DFTI_STATUS_INTERNAL);
    sycl::free(p, q);
}


TEST(FactorsModulesFailures, TwoFactsFailedBuildLeavesNothing) {
    gpu_test::expect_failed_build_leaves_nothing(&bkd_c2c_1d_2_facts_d_ops, 96);
}

TEST(FactorsModulesEstimators, TwoFactsMatchTheCommittedNeed) {
    GPU_ON_QUEN5(q);
    static const gpu_test::record_estimate e2{&bkd_c2c_1d_2_facts_d_ops};
    gpu_test::expect_estimate_of_the_need(TF.d, 96, 3, e2, q);
    // A problem the backend does not take: -1.
    node_ptr node;
    ASSERT_NO_FATAL_FAILURE(gpu_test::make_estimate_refused_node(q, node));
    EXPECT_EQ(e2.get_workspace_bytes(dft_workspace_problem{node.get(), &q}), -1);  // 4096 in double: above 1024
}

TEST(FactorsModulesQueues, TwoFactsInOrderAndQueueMode2) { gpu_test::expect_in_order_and_queue_mode(TF, 96, false, 2); }

// The tables as the table kernels write them into a caller's workspace: the
// layouts the kernels read, the angles, and the scale folded into the
// forward tables only (forward scale 0.5, backward scale 1).
TEST(FactorsModulesTables, TwoFactsLayoutAndScale) {
    GPU_ON_QUEN5(q);
    gpu_test::written_tables t(q);
    ASSERT_NO_FATAL_FAILURE(t.write(TF.d, 48));
    // 8 x 6: entry (j, k) at (j/4)*16*8 + 16k + 2(j%4)
    for (int64_t j = 0; j < 6; ++j)
        for (int64_t kk = 0; kk < 8; ++kk) {
            const int64_t e = (j / 4) * 128 + 16 * kk + 2 * (j % 4);
            gpu_test::expect_table_entry(t.b, e, -2.0L * j * kk / 48, 1.0);
            gpu_test::expect_table_entry(t.f, e, -2.0L * j * kk / 48, 0.5);
        }
}

}  // namespace
