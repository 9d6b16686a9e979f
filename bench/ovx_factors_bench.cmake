# Benchmark of the two-factor, 8192-point, three-factor and 1D real backends
# against FFTW, clFFT and VkFFT (the last two only when installed). Never part
# of the tests.
if(benchmark_FOUND AND OVX_BENCH_FFTW3_FOUND AND TARGET korami_ovx)
  add_executable(ovx_factors_bench ${CMAKE_CURRENT_LIST_DIR}/ovx_factors_bench.cpp)
  target_link_libraries(ovx_factors_bench PRIVATE korami_ovx ovxplat_sycl benchmark::benchmark
    PkgConfig::OVX_BENCH_FFTW3)
  find_package(OpenCL QUIET)
  if(OpenCL_FOUND)
    find_path(OVX_FACTORS_CLFFT_INCLUDE clFFT.h)
    find_library(OVX_FACTORS_CLFFT_LIBRARY clFFT)
    if(OVX_FACTORS_CLFFT_INCLUDE AND OVX_FACTORS_CLFFT_LIBRARY)
      target_compile_definitions(ovx_factors_bench PRIVATE OVX_BENCH_CLFFT=1)
      target_include_directories(ovx_factors_bench PRIVATE ${OVX_FACTORS_CLFFT_INCLUDE})
      target_link_libraries(ovx_factors_bench PRIVATE ${OVX_FACTORS_CLFFT_LIBRARY} OpenCL::OpenCL)
    endif()
    find_path(OVX_FACTORS_VKFFT_INCLUDE vkFFT.h)
    if(OVX_FACTORS_VKFFT_INCLUDE)
      target_compile_definitions(ovx_factors_bench PRIVATE OVX_BENCH_VKFFT=1 VKFFT_BACKEND=3)
      target_include_directories(ovx_factors_bench PRIVATE ${OVX_FACTORS_VKFFT_INCLUDE})
      target_link_libraries(ovx_factors_bench PRIVATE OpenCL::OpenCL)
    endif()
  endif()
endif()
