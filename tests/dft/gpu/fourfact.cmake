# Tests of the four-factor, four-factor column-batched, n-factor
# column-batched and very large 1D GPU backends.
get_filename_component(_ovx_fourfact_root "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
set(_ovx_fourfact_plan_sources
  ${_ovx_fourfact_root}/dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_4_facts_plan.cpp
  ${_ovx_fourfact_root}/dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_4_facts_colbatch_plan.cpp
  ${_ovx_fourfact_root}/dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_n_facts_colbatch_plan.cpp
  ${_ovx_fourfact_root}/dft/gpu/1d/ovx_dft_gpu_bkd_1d_very_large_plan.cpp)

# Planning rules: host only.
ovx_add_gtest(test_fourfact_plan
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_fourfact_plan.cpp ${_ovx_fourfact_plan_sources}
  LIBS ovx_internal
  LABELS fast)

# The modules through the public API and the node layer on the stand-in GPU.
if(TARGET korami_ovx)
  ovx_add_gtest(test_fourfact_modules
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_fourfact_modules.cpp
    LIBS korami_ovx ovxplat_sycl ovxplat_serv ovxplat_profile ovx_internal fftw3 fftw3f
    LABELS pocl
    TIMEOUT 1800)
  # The same tests in shuffled mode: commands of out-of-order queues start in
  # random order once their dependencies are met, so a missing one shows up.
  add_test(NAME test_fourfact_modules_shuffled COMMAND test_fourfact_modules)
  set_tests_properties(test_fourfact_modules_shuffled PROPERTIES
    ENVIRONMENT OVXPLAT_SHUFFLE=1 LABELS pocl TIMEOUT 1800)
endif()
if(TARGET korami_ovx)
  ovx_add_gtest(test_fourfact_very_large
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_fourfact_very_large.cpp
    LIBS korami_ovx ovxplat_sycl ovxplat_serv ovxplat_profile ovx_internal fftw3 fftw3f
    LABELS slow
    TIMEOUT 7200)
  add_test(NAME test_fourfact_very_large_shuffled COMMAND test_fourfact_very_large)
  set_tests_properties(test_fourfact_very_large_shuffled PROPERTIES
    ENVIRONMENT OVXPLAT_SHUFFLE=1 LABELS slow TIMEOUT 7200)
endif()
