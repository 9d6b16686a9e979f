# Windows layer: module map, loads through it, a stub library, failures.
add_library(ovxplat_win32_stub SHARED ${CMAKE_CURRENT_LIST_DIR}/win32/stub.c)
set_target_properties(ovxplat_win32_stub PROPERTIES
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib/test-stubs)
ovx_add_gtest(ovxplat_win32_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/win32/win32_test.cpp
  LIBS ovxplat_win32
  LABELS fast
  TIMEOUT 120)
add_dependencies(ovxplat_win32_test ovxplat_win32_stub ovxplat_opencl ovxplat_serv)
target_compile_definitions(ovxplat_win32_test PRIVATE
  OVX_TEST_STUB_PATH="$<TARGET_FILE:ovxplat_win32_stub>"
  OVX_TEST_LIB_DIR="${CMAKE_BINARY_DIR}/lib")

# The OpenCL layer loaded by name, used and unloaded again (nothing of it may
# be left behind: run under the sanitizers, LeakSanitizer checks at exit).
ovx_add_gtest(ovxplat_win32_opencl_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/win32/opencl_unload_test.cpp
  LIBS ovxplat_win32
  LABELS pocl
  TIMEOUT 300)
add_dependencies(ovxplat_win32_opencl_test ovxplat_opencl)
target_compile_definitions(ovxplat_win32_opencl_test PRIVATE CL_TARGET_OPENCL_VERSION=300)
