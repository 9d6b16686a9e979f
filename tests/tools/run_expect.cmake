# cmake -DCMD=<program;args> -DRC=<exit status> -DMATCH=<regex> -P run_expect.cmake
# Runs the program and fails unless it exits with RC and its output (stdout
# and stderr together) matches MATCH.
execute_process(COMMAND ${CMD} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
message("${out}")
if(NOT rc STREQUAL RC)
  message(FATAL_ERROR "exit status ${rc}, expected ${RC}")
endif()
if(NOT out MATCHES "${MATCH}")
  message(FATAL_ERROR "output does not match: ${MATCH}")
endif()
