# SYCL stand-in: devices and profiles, host execution and scheduling,
# OpenCL kernels and interop, profile selection by the environment.
set(_sycl_dir ${CMAKE_CURRENT_LIST_DIR}/sycl)
ovx_add_gtest(test_sycl_device
  SOURCES ${_sycl_dir}/device_test.cpp ${_sycl_dir}/math_test.cpp
  LIBS ovxplat_sycl quadmath
  LABELS fast
  TIMEOUT 120)
ovx_add_gtest(test_sycl_exec
  SOURCES ${_sycl_dir}/exec_test.cpp ${_sycl_dir}/buffer_test.cpp ${_sycl_dir}/bundle_test.cpp
    ${_sycl_dir}/esimd_test.cpp
  LIBS ovxplat_sycl
  LABELS fast
  TIMEOUT 300)
# The same tests again in shuffled mode: correct programs stay right.
gtest_discover_tests(test_sycl_exec TEST_PREFIX "shuffled."
  PROPERTIES LABELS fast ENVIRONMENT "OVXPLAT_SHUFFLE=1" TIMEOUT 300
  DISCOVERY_TIMEOUT 120 NO_PRETTY_VALUES)
ovx_add_gtest(test_sycl_opencl
  SOURCES ${_sycl_dir}/opencl_test.cpp ${_sycl_dir}/launch_test.cpp ${_sycl_dir}/chain_test.cpp
  LIBS ovxplat_sycl
  LABELS pocl
  TIMEOUT 600)
# The profile named by the environment is the one in force from the start.
add_executable(test_sycl_profile_env ${_sycl_dir}/profile_env_test.cpp)
target_link_libraries(test_sycl_profile_env PRIVATE GTest::gtest GTest::gtest_main ovxplat_sycl)
ovx_sanitizer_runtime(test_sycl_profile_env)
gtest_discover_tests(test_sycl_profile_env
  PROPERTIES LABELS fast ENVIRONMENT "OVXPLAT_GPU_PROFILE=quen5_nofp64" TIMEOUT 60
  DISCOVERY_TIMEOUT 120)
