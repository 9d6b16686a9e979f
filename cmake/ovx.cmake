# Shared build helpers of the project.

# Warnings and include paths of the library's own code. Internal headers are
# included relative to the project root ("gpu/...", "dft/node/..."); public
# headers from include/.
add_library(ovx_internal INTERFACE)
target_include_directories(ovx_internal INTERFACE
  ${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR}/generated)
target_compile_options(ovx_internal INTERFACE
  $<$<COMPILE_LANGUAGE:CXX>:-Wall -Wextra -Wno-unused-parameter>
  $<$<COMPILE_LANGUAGE:C>:-Wall -Wextra -Wno-unused-parameter>)

macro(ovx_add_optional_subdirectory dir)
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
    add_subdirectory(${dir})
  endif()
endmacro()

# A subsystem folder defines an OBJECT library named ovx_<folder> (when it has
# sources); its objects become part of the shared library korami_ovx.
macro(ovx_add_subsystem dir)
  ovx_add_optional_subdirectory(${dir})
  if(TARGET ovx_${dir})
    target_link_libraries(korami_ovx PRIVATE ovx_${dir})
  endif()
endmacro()

# ovx_add_gtest(<name> SOURCES ... [LIBS ...] [LABELS ...] [TIMEOUT s])
# One GoogleTest executable; every test in it is registered with CTest and
# carries the labels (fast, pocl, slow, ...), so that `ctest -L fast` runs the
# quick subset.
function(ovx_add_gtest name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 900)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE GTest::gtest GTest::gtest_main ${T_LIBS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  ovx_sanitizer_runtime(${name})
  # The slow tests are the transforms of several GiB: they run one at a time,
  # so that a parallel run stays within the machine's memory.
  set(lock "")
  if("slow" IN_LIST T_LABELS)
    set(lock RESOURCE_LOCK ovx_large_memory)
  endif()
  gtest_discover_tests(${name}
    PROPERTIES LABELS "${T_LABELS}" TIMEOUT ${T_TIMEOUT} ${lock}
    DISCOVERY_TIMEOUT 120
    NO_PRETTY_VALUES)
endfunction()
