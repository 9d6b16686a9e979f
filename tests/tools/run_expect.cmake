# cmake -DCMD=<program;args> -DRC=<exit status> -DMATCH=<regex> -P run_expect.cmake
# Runs the program and fails unless it exits with RC and its output (stdout
# and stderr together) matches MATCH.
execute_process(COMMAND ${CMD} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
message("${out}")
include(${CMAKE_CURRENT_LIST_DIR}/skip_without_opencl.cmake)
ovx_skip_without_opencl("${out}")
if(OVX_SKIPPED)
  return()
endif()
if(NOT rc STREQUAL RC)
  message(FATAL_ERROR "exit status ${rc}, expected ${RC}")
endif()
if(NOT out MATCHES "${MATCH}")
  message(FATAL_ERROR "output does not match: ${MATCH}")
endif()
