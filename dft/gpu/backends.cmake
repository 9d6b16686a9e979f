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

# ovx_dft_plain_text(<symbol> <file.cl> [HEAD <variable>]): a text without
# the front, the variable's text followed by the file, as `const char <symbol>[]`.
function(ovx_dft_plain_text symbol file)
  cmake_parse_arguments(K "" "HEAD" "" ${ARGN})
  file(READ ${file} OVX_TEXT_BODY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${file})
  get_filename_component(OVX_TEXT_FILE ${file} NAME)
  set(OVX_TEXT_SYMBOL ${symbol})
  if(K_HEAD)
    set(OVX_TEXT_HEAD "${${K_HEAD}}")
  endif()
  file(CONFIGURE OUTPUT ${OVX_DFT_GPU_GEN_DIR}/${symbol}.cpp
    CONTENT "// Generated from @OVX_TEXT_FILE@; do not edit.
namespace korami { namespace ovx { namespace dft { namespace gpu_kernels {
extern const char @OVX_TEXT_SYMBOL@[];
const char @OVX_TEXT_SYMBOL@[] = R\"OVXTEXT(@OVX_TEXT_HEAD@@OVX_TEXT_BODY@)OVXTEXT\";
}}}}
" @ONLY)
  target_sources(ovx_dft_gpu_texts PRIVATE ${OVX_DFT_GPU_GEN_DIR}/${symbol}.cpp)
endfunction()

foreach(form sg nsg)
  foreach(prec d s)
    ovx_dft_kernel_text(fft_front_${form}_${prec} FORM ${form} PREC ${prec})
  endforeach()
endforeach()

set(K ${OVX_DFT_GPU_DIR}/kernels)
foreach(prec d s)
  ovx_dft_kernel_text(c2c_1d_nonsubgrp_text_${prec} FORM nsg PREC ${prec} BODY ${K}/ovx_dft_gpu_bkd_c2c_1d_nonsubgrp.cl)
  ovx_dft_kernel_text(ovx_bkd_c2c_1d_2_facts_text_${prec} FORM sg PREC ${prec} BODY ${K}/ovx_dft_gpu_bkd_c2c_1d_2_facts.cl)
  ovx_dft_kernel_text(ovx_bkd_c2c_1d_8k_text_${prec} FORM sg PREC ${prec} BODY ${K}/ovx_dft_gpu_bkd_c2c_1d_8k.cl)
  ovx_dft_kernel_text(ovx_bkd_c2c_1d_3_facts_text_${prec} FORM sg PREC ${prec} BODY ${K}/ovx_dft_gpu_bkd_c2c_1d_3_facts.cl)
  ovx_dft_kernel_text(ovx_bkd_c2c_1d_4_facts_transpose_text_${prec} FORM sg PREC ${prec}
    BODY ${K}/ovx_dft_gpu_bkd_c2c_1d_4_facts_common.cl ${K}/ovx_dft_gpu_bkd_c2c_1d_4_facts_transpose.cl)
  ovx_dft_kernel_text(ovx_bkd_c2c_1d_4_facts_twiddle_text_${prec} FORM sg PREC ${prec}
    BODY ${K}/ovx_dft_gpu_bkd_c2c_1d_4_facts_common.cl ${K}/ovx_dft_gpu_bkd_c2c_1d_4_facts_twiddle.cl)
  ovx_dft_kernel_text(ovx_bkd_c2c_1d_n_facts_colbatch_text_${prec} FORM sg PREC ${prec}
    BODY ${K}/ovx_dft_gpu_bkd_c2c_1d_n_facts_colbatch.cl)
  # One text per precision, shared by the n-factor module and its row pass.
  ovx_dft_kernel_text(ovx_bkd_c2c_1d_n_facts_slm_text_${prec} FORM sg PREC ${prec}
    BODY ${K}/ovx_dft_gpu_bkd_c2c_1d_n_facts_slm.cl)
  # The two-factor text of the 2D and 3D complex main backends (one per precision).
  ovx_dft_kernel_text(ovx_bkd_c2c_md_2_facts_text_${prec} FORM sg PREC ${prec}
    BODY ${K}/ovx_dft_gpu_bkd_c2c_md_2_facts.cl)
endforeach()

# The small square 2D backend's fused local-memory kernel.
foreach(prec d s)
  ovx_dft_kernel_text(ovx_bkd_c2c_2d_8nx8n_small_text_${prec} FORM sg PREC ${prec}
    BODY ${K}/ovx_dft_gpu_bkd_c2c_2d_8nx8n_small.cl)
endforeach()

# The small multi-dimensional backend: the one-factor real-row tables
# (generated per precision) in front of the module's kernel.
foreach(prec d s)
  set(_smd_tables ${OVX_DFT_GPU_GEN_DIR}/small_md_slm_real_tables_${prec}.cl)
  add_custom_command(
    OUTPUT ${_smd_tables}
    COMMAND ovx_fft_front_gen smdreal ${prec} ${_smd_tables}
    DEPENDS ovx_fft_front_gen
    COMMENT "Generating the small multi-dimensional real tables (${prec})"
    VERBATIM)
  ovx_dft_kernel_text(ovx_bkd_small_md_slm_text_${prec} FORM sg PREC ${prec}
    BODY ${_smd_tables} ${K}/ovx_dft_gpu_bkd_small_md_slm.cl)
endforeach()

# The 1D real backend's two small texts: a precision head and the kernels.
set(OVX_R2C_HEAD_d "#pragma OPENCL EXTENSION cl_khr_fp64 : enable\ntypedef double rtype;\n#define R2C_NAME(x) x##_d\n")
set(OVX_R2C_HEAD_s "typedef float rtype;\n#define R2C_NAME(x) x##_s\n")
foreach(prec d s)
  ovx_dft_plain_text(ovx_bkd_r2c_1d_main_text_${prec} ${K}/ovx_dft_gpu_bkd_r2c_1d_main.cl HEAD OVX_R2C_HEAD_${prec})
endforeach()
# The batched matrix copy and transpose of the large 1D backend.
ovx_dft_plain_text(ovx_dft_blas_transpose_text ${K}/ovx_dft_blas_transpose.cl)
# The very large backend's real pre/post-processing text.
ovx_dft_plain_text(ovx_bkd_1d_very_large_text_s ${K}/ovx_dft_gpu_bkd_1d_very_large_real.cl)
# The transposes of the 2D complex main backend (single precision).
ovx_dft_plain_text(ovx_bkd_c2c_2d_transpose_text ${K}/ovx_dft_gpu_bkd_c2c_2d_transpose.cl)

# The modules built into the library come from the backend table
# (backends.def): the MODULE column of each row, <dir>/<stem>, names the
# sources <dir>/ovx_dft_gpu_bkd_<stem>_sycl.cpp and, when present,
# <dir>/ovx_dft_gpu_bkd_<stem>_plan.cpp. Commented rows are skipped.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${OVX_DFT_GPU_DIR}/backends.def)
file(STRINGS ${OVX_DFT_GPU_DIR}/backends.def _ovx_bkd_rows REGEX "^OVX_BKD\\(")
set(OVX_DFT_GPU_MODULES)
foreach(row ${_ovx_bkd_rows})
  if(NOT row MATCHES "^OVX_BKD\\([ ]*[A-Za-z0-9_]+[ ]*,[ ]*([A-Za-z0-9_]+/[A-Za-z0-9_]+)[ ]*,")
    message(FATAL_ERROR "backends.def: cannot read the module of the row: ${row}")
  endif()
  list(APPEND OVX_DFT_GPU_MODULES ${CMAKE_MATCH_1})
endforeach()
list(REMOVE_DUPLICATES OVX_DFT_GPU_MODULES)
target_sources(ovx_dft PRIVATE ${OVX_DFT_GPU_DIR}/frame/frame.cpp)
foreach(m ${OVX_DFT_GPU_MODULES})
  get_filename_component(_dir ${m} DIRECTORY)
  get_filename_component(_stem ${m} NAME)
  set(_base ${OVX_DFT_GPU_DIR}/${_dir}/ovx_dft_gpu_bkd_${_stem})
  if(NOT EXISTS ${_base}_sycl.cpp)
    message(FATAL_ERROR "backends.def names the module ${m}, but ${_base}_sycl.cpp does not exist")
  endif()
  target_sources(ovx_dft PRIVATE ${_base}_sycl.cpp)
  if(EXISTS ${_base}_plan.cpp)
    target_sources(ovx_dft PRIVATE ${_base}_plan.cpp)
  endif()
endforeach()

# Explicit-SIMD two-factor plan; its codelets fft_8 .. fft_64 are generated.
set(OVX_DFT_ESIMD_GEN_DIR ${PROJECT_BINARY_DIR}/generated/dft/gpu/esimd)
file(MAKE_DIRECTORY ${OVX_DFT_ESIMD_GEN_DIR})
add_custom_command(
  OUTPUT ${OVX_DFT_ESIMD_GEN_DIR}/ovx_dft_esimd_codelets.hpp
  COMMAND ovx_fft_front_gen esimd ${OVX_DFT_ESIMD_GEN_DIR}/ovx_dft_esimd_codelets.hpp
  DEPENDS ovx_fft_front_gen
  COMMENT "Generating explicit-SIMD codelets"
  VERBATIM)
add_custom_target(ovx_dft_esimd_codelets DEPENDS ${OVX_DFT_ESIMD_GEN_DIR}/ovx_dft_esimd_codelets.hpp)
add_library(ovx_dft_esimd_gen INTERFACE)
target_include_directories(ovx_dft_esimd_gen INTERFACE ${OVX_DFT_ESIMD_GEN_DIR})
add_dependencies(ovx_dft_esimd_gen ovx_dft_esimd_codelets)
target_link_libraries(ovx_dft PRIVATE ovx_dft_esimd_gen)
target_sources(ovx_dft PRIVATE ${OVX_DFT_GPU_DIR}/esimd/ovx_dft_esimd_2_facts_plan.cpp
                               ${OVX_DFT_GPU_DIR}/esimd/ovx_dft_esimd_2_facts_compute.cpp)
