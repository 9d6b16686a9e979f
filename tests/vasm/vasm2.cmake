# Tests of the containers, carrier patching, scoreboarding and probe driver.
ovx_add_gtest(test_vasm2_patch SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_vasm2_patch.cpp
  LIBS ovx_vasm LABELS fast)
ovx_add_gtest(test_vasm2_texts SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_vasm2_texts.cpp
  LIBS ovx_vasm LABELS fast)

get_target_property(_vasm2_sources ovx_vasm SOURCES)
if(_vasm2_sources MATCHES "vasm_sb.cpp")
  ovx_add_gtest(test_vasm2_sb SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_vasm2_sb.cpp
    LIBS ovx_vasm LABELS fast)
endif()

# The probe driver against a stand-in OpenCL library, mapped to "OpenCL.dll"
# through the Windows layer.
if(TARGET ovxplat_win32)
  add_library(test_vasm2_opencl_stub SHARED ${CMAKE_CURRENT_LIST_DIR}/test_vasm2_opencl_stub.cpp)
  ovx_add_gtest(test_vasm2_probe SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_vasm2_probe.cpp
    LIBS ovx_vasm ovxplat_win32 LABELS fast)
  target_compile_definitions(test_vasm2_probe PRIVATE
    VASM2_STUB_PATH="$<TARGET_FILE:test_vasm2_opencl_stub>")
  add_dependencies(test_vasm2_probe test_vasm2_opencl_stub)

  # The same on this machine's OpenCL driver.
  find_package(OpenCL QUIET)
  if(OpenCL_FOUND)
    ovx_add_gtest(test_vasm2_pocl SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_vasm2_pocl.cpp
      LIBS ovx_vasm ovxplat_win32 OpenCL::OpenCL LABELS pocl)
    get_filename_component(_vasm2_opencl_real ${OpenCL_LIBRARY} REALPATH)
    target_compile_definitions(test_vasm2_pocl PRIVATE VASM2_SYSTEM_OPENCL="${_vasm2_opencl_real}")
  endif()
endif()
