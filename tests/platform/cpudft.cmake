# CPU transform library stand-in: nodes of ranks 1 to 7, several batch
# records, offsets, packed formats and refusals, against the long-double
# reference DFT.
ovx_add_gtest(ovxplat_cpudft_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/cpudft/cpudft_test.cpp
  LIBS ovxplat_cpudft ovxplat_sycl ovx_internal
  LABELS fast)
