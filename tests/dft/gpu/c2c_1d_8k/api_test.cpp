// The 8192-point backend through the public API on the stand-in GPU (PoCL):
// the owner, then the forward and the backward transform (scales other than
// 1) in USM or buffer form, in place or out of place, against FFTW; one case
// on a shuffled queue.
#include "dft/gpu/gpu_harness.hpp"

namespace {

using gpu_test::api_case;
using gpu_test::backend;

class FactorsApi : public ::testing::TestWithParam<api_case> {};

TEST_P(FactorsApi, ForwardThenBackwardMatchFftw) { gpu_test::expect_api_round_trip(GetParam()); }

constexpr backend K8{&bkd_c2c_1d_8k_s_ops, &bkd_c2c_1d_8k_d_ops};

INSTANTIATE_TEST_SUITE_P(
    EightK, FactorsApi,
    ::testing::Values(api_case{false, false, 8192, 3, false, true, "quen5", true, K8},
                      api_case{false, true, 8192, 2, true, false, "quen7", false, K8},
                      api_case{false, false, 8192, 1, true, true, "quen5", false, K8}),
    gpu_test::api_case_name);

}  // namespace
