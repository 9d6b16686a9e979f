# cmake -DBUILD=<build tree> -DSOURCE=<source tree> -DWORK=<scratch folder>
#       [-DCOMPILE_FLAGS=<list>] [-DLINK_FLAGS=<list>] [-DRUN_ENV=<NAME=VALUE list>] -P install_test.cmake
# Installs the built tree into a scratch prefix, builds the consumer project
# against it with find_package and with pkg-config, and runs both without
# LD_LIBRARY_PATH. A sanitizer build passes its flags, which the consumer is
# built with too, and its run-time options, which the consumer runs with.
include(${CMAKE_CURRENT_LIST_DIR}/skip_without_opencl.cmake)
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  message("${out}")
  ovx_skip_without_opencl("${out}")
  if(OVX_SKIPPED)
    return()
  endif()
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}")
  endif()
endfunction()

file(REMOVE_RECURSE ${WORK})
set(prefix ${WORK}/prefix)
run(${CMAKE_COMMAND} --install ${BUILD} --prefix ${prefix})
list(JOIN COMPILE_FLAGS " " cxx_flags)
list(JOIN LINK_FLAGS " " link_flags)
run(${CMAKE_COMMAND} -S ${SOURCE}/examples/consumer -B ${WORK}/consumer -DCMAKE_PREFIX_PATH=${prefix}
    -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS=${cxx_flags}" "-DCMAKE_EXE_LINKER_FLAGS=${link_flags}")
run(${CMAKE_COMMAND} --build ${WORK}/consumer)
run(${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH ${RUN_ENV} ${WORK}/consumer/consumer)

file(GLOB pc_file ${prefix}/lib*/pkgconfig/korami_ovx.pc ${prefix}/lib/*/pkgconfig/korami_ovx.pc)
if(NOT pc_file)
  message(FATAL_ERROR "no korami_ovx.pc under ${prefix}")
endif()
get_filename_component(pc_dir ${pc_file} DIRECTORY)
execute_process(COMMAND ${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${pc_dir} pkg-config --cflags --libs korami_ovx
  RESULT_VARIABLE rc OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "pkg-config does not resolve korami_ovx")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
run(c++ ${COMPILE_FLAGS} ${SOURCE}/examples/consumer/main.cpp -o ${WORK}/consumer_pc ${flags} ${LINK_FLAGS})
run(${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH ${RUN_ENV} ${WORK}/consumer_pc)
