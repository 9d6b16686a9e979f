# OpenCL layer: probe kernels of the sub-group emulation on PoCL, device
# queries, build options, the device profile without double precision, and
# the layer without a usable ICD loader.
add_library(ovxplat_opencl_icd_stub SHARED ${CMAKE_CURRENT_LIST_DIR}/opencl/icd_stub.c)
set_target_properties(ovxplat_opencl_icd_stub PROPERTIES
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib/test-stubs)
ovx_add_gtest(ovxplat_opencl_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/opencl/cl_fixture.cpp
          ${CMAKE_CURRENT_LIST_DIR}/opencl/subgroups_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/opencl/layer_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/opencl/lane_pairs_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/opencl/no_icd_test.cpp
  LIBS ovxplat_opencl ovxplat_profile
  LABELS pocl
  TIMEOUT 600)
add_dependencies(ovxplat_opencl_test ovxplat_opencl_icd_stub)
target_compile_definitions(ovxplat_opencl_test PRIVATE
  OVX_TEST_ICD_STUB="$<TARGET_FILE:ovxplat_opencl_icd_stub>")
