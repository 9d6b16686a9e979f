# GPU backends of the DFT subsystem: included at the end of dft/CMakeLists.txt
# (target ovx_dft exists). The OpenCL C kernel texts, one per text row of
# kernel_texts.def, are generated at build time by fft_front_gen (common
# front + module kernels) or from the plain files into
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

# ovx_dft_plain_text(<symbol> <file.cl> ...): a text without the front, the
# files one after the other, as `const char <symbol>[]`.
function(ovx_dft_plain_text symbol)
  set(OVX_TEXT_BODY "")
  set(_names)
  foreach(file ${ARGN})
    file(READ ${file} _content)
    string(APPEND OVX_TEXT_BODY "${_content}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${file})
    get_filename_component(_name ${file} NAME)
    list(APPEND _names ${_name})
  endforeach()
  list(JOIN _names ", " OVX_TEXT_FILE)
  set(OVX_TEXT_SYMBOL ${symbol})
  file(CONFIGURE OUTPUT ${OVX_DFT_GPU_GEN_DIR}/${symbol}.cpp
    CONTENT "// Generated from @OVX_TEXT_FILE@; do not edit.
namespace korami { namespace ovx { namespace dft { namespace gpu_kernels {
extern const char @OVX_TEXT_SYMBOL@[];
const char @OVX_TEXT_SYMBOL@[] = R\"OVXTEXT(@OVX_TEXT_BODY@)OVXTEXT\";
}}}}
" @ONLY)
  target_sources(ovx_dft_gpu_texts PRIVATE ${OVX_DFT_GPU_GEN_DIR}/${symbol}.cpp)
endfunction()

# The small multi-dimensional backend's one-factor real-row tables, generated
# per precision: the "generated/" body files of its texts.
foreach(prec d s)
  add_custom_command(
    OUTPUT ${OVX_DFT_GPU_GEN_DIR}/small_md_slm_real_tables_${prec}.cl
    COMMAND ovx_fft_front_gen smdreal ${prec} ${OVX_DFT_GPU_GEN_DIR}/small_md_slm_real_tables_${prec}.cl
    DEPENDS ovx_fft_front_gen
    COMMENT "Generating the small multi-dimensional real tables (${prec})"
    VERBATIM)
endforeach()

# The kernel texts come from the kernel-text table (kernel_texts.def): one
# text source per OVX_KERNEL_TEXT row, of the row's form, precision and body
# files (in kernels/, or generated/<file> in the texts' build folder).
# Commented rows are skipped; a body file that does not exist or a symbol
# named twice stops the configuration.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${OVX_DFT_GPU_DIR}/kernel_texts.def)
file(STRINGS ${OVX_DFT_GPU_DIR}/kernel_texts.def _ovx_text_rows REGEX "^OVX_KERNEL_TEXT\\(")
set(_ovx_text_symbols)
foreach(row ${_ovx_text_rows})
  if(NOT row MATCHES "^OVX_KERNEL_TEXT\\([ ]*([A-Za-z0-9_]+)[ ]*,[ ]*(sg|nsg|plain)[ ]*,[ ]*(d|s|none)[ ]*,[ ]*\"([^\"]*)\"[ ]*\\)[ ]*$")
    message(FATAL_ERROR "kernel_texts.def: cannot read the text row: ${row}")
  endif()
  set(_symbol ${CMAKE_MATCH_1})
  set(_form ${CMAKE_MATCH_2})
  set(_prec ${CMAKE_MATCH_3})
  separate_arguments(_files UNIX_COMMAND "${CMAKE_MATCH_4}")
  if(_symbol IN_LIST _ovx_text_symbols)
    message(FATAL_ERROR "kernel_texts.def names the text ${_symbol} twice")
  endif()
  list(APPEND _ovx_text_symbols ${_symbol})
  set(_body)
  foreach(f ${_files})
    if(f MATCHES "^generated/(.+)$")
      if(_form STREQUAL "plain")
        # A plain text is read at configure time, before any build step.
        message(FATAL_ERROR "kernel_texts.def: the plain text ${_symbol} cannot take the generated file ${f}")
      endif()
      list(APPEND _body ${OVX_DFT_GPU_GEN_DIR}/${CMAKE_MATCH_1})
    elseif(EXISTS ${OVX_DFT_GPU_DIR}/kernels/${f})
      list(APPEND _body ${OVX_DFT_GPU_DIR}/kernels/${f})
    else()
      message(FATAL_ERROR "kernel_texts.def: the text ${_symbol} names ${f}, but dft/gpu/kernels/${f} does not exist")
    endif()
  endforeach()
  if(_form STREQUAL "plain")
    if(NOT _body)
      message(FATAL_ERROR "kernel_texts.def: the plain text ${_symbol} has no body file")
    endif()
    ovx_dft_plain_text(${_symbol} ${_body})
  elseif(_prec STREQUAL "none")
    message(FATAL_ERROR "kernel_texts.def: the text ${_symbol} of form ${_form} needs the precision d or s")
  else()
    ovx_dft_kernel_text(${_symbol} FORM ${_form} PREC ${_prec} BODY ${_body})
  endif()
endforeach()

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
