// The three-factor backend through the public API on the stand-in GPU (PoCL):
// the owner, then the forward and the backward transform (scales other than
// 1) in USM or buffer form, in place or out of place, against FFTW; one case
// on a shuffled queue.
#include "dft/gpu/gpu_harness.hpp"

namespace {

using gpu_test::api_case;
using gpu_test::backend;

class FactorsApi : public ::testing::TestWithParam<api_case> {};

TEST_P(FactorsApi, ForwardThenBackwardMatchFftw) { gpu_test::expect_api_round_trip(GetParam()); }

constexpr backend TH{&bkd_c2c_1d_3_facts_s_ops, &bkd_c2c_1d_3_facts_d_ops};

INSTANTIATE_TEST_SUITE_P(
    ThreeFacts, FactorsApi,
    ::testing::Values(api_case{false, false, 12000, 2, false, true, "quen5", true, TH},
                      api_case{false, true, 12000, 3, true, false, "quen7", false, TH},
                      api_case{false, false, 4096, 2, true, false, "quen5", false, TH}),  // double 4096: not 2-factor
    gpu_test::api_case_name);

}  // namespace
