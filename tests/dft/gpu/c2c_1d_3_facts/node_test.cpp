// The three-factor backend at node level: owned through a candidate list
// holding its record, transforms against FFTW in USM and buffer forms, both
// directions, in place and out of place, with scales other than 1 (some in
// the stand-in's shuffled mode); refusals, caller workspaces, a chunked batch
// equal to the unchunked one, back-to-back computes, a failed build, the
// estimate, queue mode 2, the tables as written and a backward-only node.
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

constexpr backend TH{&bkd_c2c_1d_3_facts_s_ops, &bkd_c2c_1d_3_facts_d_ops};

using gpu_test::complex_case;

INSTANTIATE_TEST_SUITE_P(
    ThreeFacts, FactorsModulesComplex,
    ::testing::Values(complex_case{TH, 12000, false, 3, false, 0, true, 0.5, "quen5", true, 0, 0},
                      complex_case{TH, 12000, true, 2, true, 1, false, 1.0, "quen7", false, 0, 0},
                      complex_case{TH, 4096, true, 3, false, 1, true, 2.0, "quen4", true, 4100, 4104},
                      complex_case{TH, 128, false, 2, true, 0, false, 1.0, "quen5", false, 0, 0},
                      // Quen4: the fixed 28 x 30 x 25 plan and the large-register option on passes of 24 and more.
                      complex_case{TH, 21000, false, 2, false, 1, true, 0.5, "quen4", false, 0, 0}),
    gpu_test::param_name<complex_case>);

using gpu_test::refusal_case;

INSTANTIATE_TEST_SUITE_P(
    Table, FactorsModulesRefusal,
    ::testing::Values(refusal_case{TH, false, 164, 1, 0, 0, 2, "quen5"},        // 41 has no factor pair
                      refusal_case{TH, false, 3440, 1, 0, 0, 2, "quen5"},       // 43 above 40 in double
                      refusal_case{TH, false, 64, 1, 0, 0, 2, "quen5"},         // M below 4
                      refusal_case{TH, false, 64004, 1, 0, 0, 2, "quen5"},      // above 64000 in double
                      refusal_case{TH, true, 4096, 2, 4096, 4097, 0, "quen5"},  // odd output distance
                      refusal_case{TH, true, 4096, 1, 0, 0, 2, "quen6"}),
    gpu_test::param_name<refusal_case>);

using gpu_test::ws_case;

INSTANTIATE_TEST_SUITE_P(Modules, FactorsModulesWorkspace,
                         ::testing::Values(ws_case{TH, false, 4096, 2, false}, ws_case{TH, true, 12000, 2, true}),
                         gpu_test::param_name<ws_case>);

// 12000 points in double: a scratch row is 192064 bytes, so the 42 MiB cap
// holds 229 transforms and a batch of 230 runs as 229 + 1. The chunked result
// must equal, bit for bit, what the same kernels give unchunked.
TEST(FactorsModulesChunks, ThreeFactsChunkedEqualsUnchunked) {
    GPU_ON_QUEN5(q);
    const int64_t n = 12000, batch = 230;
    const auto x = md_test::pack<double>(gpu_test::random_cplx(static_cast<size_t>(n * batch), 99u), 2,
                                                static_cast<size_t>(2 * n * batch));
    const auto all = gpu_test::run_batch(&bkd_c2c_1d_3_facts_d_ops, n, batch, x, q);
    ASSERT_EQ(all.size(), x.size());
    for (int64_t t : {int64_t(0), int64_t(228), int64_t(229)}) {
        std::vector<double> one(x.begin() + 2 * n * t, x.begin() + 2 * n * (t + 1));
        const auto single_run = gpu_test::run_batch(&bkd_c2c_1d_3_facts_d_ops, n, 1, one, q);
        ASSERT_EQ(single_run.size(), one.size());
        EXPECT_TRUE(std::equal(single_run.begin(), single_run.end(), all.begin() + 2 * n * t)) << "transform " << t;
        EXPECT_LT(gpu_test::c2c_batch_error(all.data() + 2 * n * t, n, gpu_test::as_cplx(one), n, n, 1, 0, 1.0),
                  gpu_test::tolerance(false, n));
    }
}

using gpu_test::overlap_case;

INSTANTIATE_TEST_SUITE_P(Modules, FactorsModulesOverlap, ::testing::Values(overlap_case{TH, 12000, false}),
                         gpu_test::param_name<overlap_case>);

TEST(FactorsModulesFailures, ThreeFactsFailedBuildLeavesNothing) {
    gpu_test::expect_failed_build_leaves_nothing(&bkd_c2c_1d_3_facts_d_ops, 96);
}

TEST(FactorsModulesEstimators, ThreeFactsMatchTheCommittedNeed) {
    GPU_ON_QUEN5(q);
    static const gpu_test::record_estimate e3{&bkd_c2c_1d_3_facts_d_ops};
    gpu_test::expect_estimate_of_the_need(TH.d, 12000, 300, e3, q);
}

TEST(FactorsModulesQueues, ThreeFactsInOrderAndQueueMode2) {
    gpu_test::expect_in_order_and_queue_mode(TH, 4096, false, 2);
}

// The tables as the table kernels write them into a caller's workspace: the
// layouts the kernels read, the angles, and the scale folded into the
// forward tables only (forward scale 0.5, backward scale 1).
TEST(FactorsModulesTables, ThreeFactsLayoutAndScale) {
    GPU_ON_QUEN5(q);
    const long double pi = 3.141592653589793238462643383279502884L;
    gpu_test::written_tables t(q);
    ASSERT_NO_FATAL_FAILURE(t.write(TH.d, 12000));
    const double* f = t.f;
    const double* b = t.b;
    // 40 x 20 x 15: Class1 entry k0 + 40 m, Class2 entry c2 + 15 k1
    const uint64_t t1 = align_workspace_offset(12000 * 16, &q);
    for (int64_t e : {int64_t(0), int64_t(41), int64_t(5000), int64_t(11999)}) {
        const long double a = -2.0L * (e % 40) * (e / 40) / 12000 * pi;
        EXPECT_NEAR(b[2 * e], static_cast<double>(std::cos(a)), 1e-15);
        EXPECT_NEAR(b[2 * e + 1], static_cast<double>(std::sin(a)), 1e-15);
        EXPECT_NEAR(f[2 * e], 0.5 * b[2 * e], 1e-16);
        EXPECT_NEAR(f[2 * e + 1], 0.5 * b[2 * e + 1], 1e-16);
    }
    const double* f2 = f + t1 / 8;
    const double* b2 = b + t1 / 8;
    for (int64_t e : {int64_t(0), int64_t(16), int64_t(299)}) {
        const long double a = -2.0L * (e % 15) * (e / 15) / 300 * pi;
        EXPECT_NEAR(b2[2 * e], static_cast<double>(std::cos(a)), 1e-15);
        EXPECT_NEAR(b2[2 * e + 1], static_cast<double>(std::sin(a)), 1e-15);
        EXPECT_EQ(f2[2 * e], b2[2 * e]);  // no scale in Class2
    }
}

TEST(FactorsModulesLifecycle, ThreeFactsBackwardOnly) { gpu_test::expect_backward_only(TH, 4096, false); }

}  // namespace
