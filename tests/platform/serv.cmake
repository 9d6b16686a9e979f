# Vendor service stand-in: memory, locks, verbose switches and output file,
# messages, exit callbacks (in child processes), maths and environment.
add_library(ovxplat_serv_cbstub SHARED ${CMAKE_CURRENT_LIST_DIR}/serv/cb_stub.c)
set_target_properties(ovxplat_serv_cbstub PROPERTIES
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib/test-stubs)
ovx_add_gtest(ovxplat_serv_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/serv/serv_test.cpp
  LIBS ovxplat_serv
  LABELS fast
  TIMEOUT 120)
find_package(Threads REQUIRED)
target_link_libraries(ovxplat_serv_test PRIVATE Threads::Threads ${CMAKE_DL_LIBS})
add_dependencies(ovxplat_serv_test ovxplat_serv_cbstub)
target_compile_definitions(ovxplat_serv_test PRIVATE
  OVX_TEST_CB_STUB="$<TARGET_FILE:ovxplat_serv_cbstub>")
