// The two-factor backend through the public API on the stand-in GPU (PoCL):
// each case commits a descriptor on a device profile, checks which backend
// record owns its node (lengths the backend refuses go to the general and
// the small multi-dimensional backends), and runs the forward and then the
// backward transform (scales other than 1) in USM or buffer form, in place or
// out of place, against FFTW. Some cases run in the stand-in's shuffled
// mode, which starts ready commands of out-of-order queues in random order,
// so that a missing dependency shows.
#include "dft/gpu/gpu_harness.hpp"

namespace {

using gpu_test::api_case;
using gpu_test::backend;

class FactorsApi : public ::testing::TestWithParam<api_case> {};

TEST_P(FactorsApi, ForwardThenBackwardMatchFftw) { gpu_test::expect_api_round_trip(GetParam()); }

constexpr backend TF{&bkd_c2c_1d_2_facts_s_ops, &bkd_c2c_1d_2_facts_d_ops},
    GN{&bkd_c2c_1d_nonsubgrp_s_ops, &bkd_c2c_1d_nonsubgrp_d_ops}, SM{&bkd_small_md_slm_s_ops, &bkd_small_md_slm_d_ops};

INSTANTIATE_TEST_SUITE_P(
    TwoFacts, FactorsApi,
    ::testing::Values(api_case{false, false, 4, 3, false, true, "quen5", false, TF},
                      api_case{false, false, 48, 2, true, false, "quen5", true, TF},
                      api_case{false, false, 64, 2, false, false, "quen7", false, TF},
                      api_case{false, false, 96, 2, true, true, "quen5", true, TF},
                      api_case{false, true, 128, 3, false, true, "quen5", false, TF},
                      api_case{false, true, 4096, 2, true, false, "quen5", false, TF},
                      api_case{false, false, 64, 5, false, true, "quen3", true, TF},    // 4 per group, last 1
                      api_case{false, true, 96, 5, true, false, "quen3", false, TF},
                      // 1002 passes the length test but has no factor pair: the general backend takes it.
                      api_case{false, false, 1002, 2, false, true, "quen5", false, GN},
                      // No sub-group size 8 on Quen6: the small multi-dimensional backend.
                      api_case{false, false, 64, 2, false, true, "quen6", false, SM}),
    gpu_test::api_case_name);

}  // namespace
