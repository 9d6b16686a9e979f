# Benchmark of the two-factor, 8192-point, three-factor and 1D real backends
# against FFTW, clFFT and VkFFT (the last two only when installed). Never part
# of the tests.
if(benchmark_FOUND AND OVX_BENCH_FFTW3_FOUND AND TARGET korami_ovx)
  add_executable(ovx_factors_bench ${CMAKE_CURRENT_LIST_DIR}/ovx_factors_bench.cpp)
  target_link_libraries(ovx_factors_bench PRIVATE korami_ovx ovxplat_sycl benchmark::benchmark
    PkgConfig::OVX_BENCH_FFTW3)
  ovx_bench_link_gpu_peers(ovx_factors_bench)
endif()
