# Benchmark of the explicit-SIMD two-factor plan's compute against FFTW and,
# when installed, VkFFT on the OpenCL device. Never part of the tests.
if(benchmark_FOUND AND OVX_BENCH_FFTW3_FOUND AND TARGET ovx_dft_esimd_gen)
  set(_esimd ${PROJECT_SOURCE_DIR}/dft/gpu/esimd)
  add_executable(ovx_esimd_bench ${CMAKE_CURRENT_LIST_DIR}/ovx_esimd_bench.cpp
    ${_esimd}/ovx_dft_esimd_2_facts_plan.cpp ${_esimd}/ovx_dft_esimd_2_facts_compute.cpp)
  target_link_libraries(ovx_esimd_bench PRIVATE ovx_internal ovx_dft_esimd_gen ovxplat_sycl benchmark::benchmark
    PkgConfig::OVX_BENCH_FFTW3)
  find_package(OpenCL QUIET)
  find_path(OVX_ESIMD_VKFFT_INCLUDE vkFFT.h)
  if(OpenCL_FOUND AND OVX_ESIMD_VKFFT_INCLUDE)
    target_compile_definitions(ovx_esimd_bench PRIVATE OVX_BENCH_VKFFT=1 VKFFT_BACKEND=3)
    target_include_directories(ovx_esimd_bench PRIVATE ${OVX_ESIMD_VKFFT_INCLUDE})
    target_link_libraries(ovx_esimd_bench PRIVATE OpenCL::OpenCL)
  endif()
endif()
