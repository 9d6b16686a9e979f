// The parameterised suites that several backends' node tests instantiate with
// their own cases: transforms against FFTW, refusals, caller workspaces and
// back-to-back computes, each checked by the shared harness.
#ifndef OVX_TESTS_DFT_GPU_MODULE_SUITES_HPP
#define OVX_TESTS_DFT_GPU_MODULE_SUITES_HPP

#include "dft/gpu/gpu_harness.hpp"

class FactorsModulesComplex : public ::testing::TestWithParam<gpu_test::complex_case> {};
TEST_P(FactorsModulesComplex, MatchesFftw) { gpu_test::expect_module_complex(GetParam()); }
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(FactorsModulesComplex);

class FactorsModulesRefusal : public ::testing::TestWithParam<gpu_test::refusal_case> {};
TEST_P(FactorsModulesRefusal, NotApplicable) { gpu_test::expect_module_refusal(GetParam()); }
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(FactorsModulesRefusal);

class FactorsModulesWorkspace : public ::testing::TestWithParam<gpu_test::ws_case> {};
TEST_P(FactorsModulesWorkspace, CallerWorkspace) { gpu_test::expect_module_caller_workspace(GetParam()); }
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(FactorsModulesWorkspace);

class FactorsModulesOverlap : public ::testing::TestWithParam<gpu_test::overlap_case> {};
TEST_P(FactorsModulesOverlap, BackToBackComputes) { gpu_test::expect_back_to_back_computes(GetParam()); }
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(FactorsModulesOverlap);

#endif
