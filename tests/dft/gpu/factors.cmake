# Tests of the two-factor, 8192-point, three-factor and 1D real backends.
get_filename_component(_ovx_factors_root "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
set(_ovx_factors_plan_sources
  ${_ovx_factors_root}/dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_2_facts_plan.cpp
  ${_ovx_factors_root}/dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_8k_plan.cpp
  ${_ovx_factors_root}/dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_3_facts_plan.cpp
  ${_ovx_factors_root}/dft/gpu/1d/ovx_dft_gpu_bkd_r2c_1d_main_plan.cpp)

ovx_add_gtest(test_factors_plan
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_factors_plan.cpp ${_ovx_factors_plan_sources}
  LIBS ovx_internal
  LABELS fast)

# Probe runs of the stored kernel texts on the OpenCL device (through the
# OpenCL layer, so that the sub-group kernels run under its emulation).
if(TARGET ovx_dft_gpu_texts AND TARGET ovxplat_opencl)
  ovx_add_gtest(test_factors_kernels
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_factors_kernels.cpp ${_ovx_factors_plan_sources}
            $<TARGET_OBJECTS:ovx_dft_gpu_texts>
    LIBS ovxplat_opencl ovx_internal fftw3
    LABELS pocl)
endif()

# The modules at node level on the stand-in GPU.
if(TARGET korami_ovx)
  ovx_add_gtest(test_factors_modules
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_factors_modules.cpp
    LIBS korami_ovx ovxplat_sycl ovx_internal fftw3
    LABELS pocl
    TIMEOUT 1800)
endif()

# Transforms through the public API, with the owner of each node.
if(TARGET korami_ovx)
  ovx_add_gtest(test_factors_api
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_factors_api.cpp
    LIBS korami_ovx ovxplat_sycl ovx_internal fftw3
    LABELS pocl
    TIMEOUT 1800)
endif()
