# GPU backends of the DFT subsystem: included at the end of dft/CMakeLists.txt
# (target ovx_dft exists). The OpenCL C kernel texts are generated at build
# time by fft_front_gen (common front + module kernels) into
# ${PROJECT_BINARY_DIR}/generated/ as C++ string data, compiled into the
# object library ovx_dft_gpu_texts and linked into the library: nothing is
# read from disk at run time.

set(OVX_DFT_GPU_DIR ${CMAKE_CURRENT_LIST_DIR})
set(OVX_DFT_GPU_GEN_DIR ${PROJECT_BINARY_DIR}/generated/dft/gpu/kernels)
file(MAKE_DIRECTORY ${OVX_DFT_GPU_GEN_DIR})

if(NOT TARGET ovx_fft_front_gen)
  add_executable(ovx_fft_front_gen ${OVX_DFT_GPU_DIR}/kernels/gen/fft_front_gen.cpp)
  target_compile_features(ovx_fft_front_gen PRIVATE cxx_std_17)
endif()

if(NOT TARGET ovx_dft_gpu_texts)
  add_library(ovx_dft_gpu_texts OBJECT)
  target_link_libraries(ovx_dft_gpu_texts PRIVATE ovx_internal)
  target_link_libraries(korami_ovx PRIVATE ovx_dft_gpu_texts)
endif()

# ovx_dft_kernel_text(<symbol> FORM sg|nsg PREC d|s [BODY <file.cl> ...])
# Defines `const char korami::ovx::dft::gpu_kernels::<symbol>[]` (and
# <symbol>_size) holding the generated front of the given form and precision
# followed by the body files, and adds it to the library.
function(ovx_dft_kernel_text symbol)
  cmake_parse_arguments(K "" "FORM;PREC" "BODY" ${ARGN})
  set(out ${OVX_DFT_GPU_GEN_DIR}/${symbol}.cpp)
  add_custom_command(
    OUTPUT ${out}
    COMMAND ovx_fft_front_gen cpp ${K_FORM} ${K_PREC} ${out} ${symbol} ${K_BODY}
    DEPENDS ovx_fft_front_gen ${K_BODY}
    COMMENT "Generating kernel text ${symbol}"
    VERBATIM)
  target_sources(ovx_dft_gpu_texts PRIVATE ${out})
endfunction()

foreach(form sg nsg)
  foreach(prec d s)
    ovx_dft_kernel_text(fft_front_${form}_${prec} FORM ${form} PREC ${prec})
  endforeach()
endforeach()
foreach(prec d s)
  ovx_dft_kernel_text(c2c_1d_nonsubgrp_text_${prec} FORM nsg PREC ${prec}
    BODY ${OVX_DFT_GPU_DIR}/kernels/ovx_dft_gpu_bkd_c2c_1d_nonsubgrp.cl)
endforeach()

target_sources(ovx_dft PRIVATE
  ${OVX_DFT_GPU_DIR}/ovx_dft_gpu_common.cpp
  ${OVX_DFT_GPU_DIR}/1d/ovx_dft_gpu_bkd_c2c_1d_nonsubgrp_plan.cpp
  ${OVX_DFT_GPU_DIR}/1d/ovx_dft_gpu_bkd_c2c_1d_nonsubgrp_sycl.cpp)

# Further backend modules of other subsystems add their sources here.
include(${OVX_DFT_GPU_DIR}/factors.cmake OPTIONAL)
include(${CMAKE_CURRENT_LIST_DIR}/fourfact.cmake OPTIONAL)
