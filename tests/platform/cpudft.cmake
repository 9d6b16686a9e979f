# CPU transform library stand-in: nodes of ranks 1 to 7, several batch
# records, offsets, packed formats and refusals, against the long-double
# reference DFT.
ovx_add_gtest(ovxplat_cpudft_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/cpudft/cpudft_test.cpp
  LIBS ovxplat_cpudft ovxplat_sycl ovx_internal
  LABELS fast)

# The stand-in computes with its own copy of FFTW: its dynamic symbol table
# neither offers FFTW's entries to the application nor takes them from the
# application's FFTW.
find_program(OVX_CPUDFT_NM nm REQUIRED)
add_test(NAME CpuLibraryFftwCopy.NoFftwSymbolCrossesTheLibraryBoundary
  COMMAND sh -c "n=$(${OVX_CPUDFT_NM} -D $<TARGET_FILE:ovxplat_cpudft> | grep -c -E ' fftwf?_'); echo \"$n FFTW symbols in the dynamic table\"; test \"$n\" -eq 0")
set_tests_properties(CpuLibraryFftwCopy.NoFftwSymbolCrossesTheLibraryBoundary PROPERTIES LABELS fast)
