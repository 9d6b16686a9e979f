# Four-factor, four-factor column-batched, n-factor column-batched and very
# large 1D GPU backends: planning, modules and stored kernel texts. Included
# from backends.cmake (ovx_dft and ovx_dft_kernel_text exist).
set(OVX_FOURFACT_DIR ${CMAKE_CURRENT_LIST_DIR})

foreach(prec d s)
  ovx_dft_kernel_text(ovx_bkd_c2c_1d_4_facts_transpose_text_${prec} FORM sg PREC ${prec}
    BODY ${OVX_FOURFACT_DIR}/kernels/ovx_dft_gpu_bkd_c2c_1d_4_facts_common.cl
         ${OVX_FOURFACT_DIR}/kernels/ovx_dft_gpu_bkd_c2c_1d_4_facts_transpose.cl)
  ovx_dft_kernel_text(ovx_bkd_c2c_1d_4_facts_twiddle_text_${prec} FORM sg PREC ${prec}
    BODY ${OVX_FOURFACT_DIR}/kernels/ovx_dft_gpu_bkd_c2c_1d_4_facts_common.cl
         ${OVX_FOURFACT_DIR}/kernels/ovx_dft_gpu_bkd_c2c_1d_4_facts_twiddle.cl)
  ovx_dft_kernel_text(ovx_bkd_c2c_1d_n_facts_colbatch_text_${prec} FORM sg PREC ${prec}
    BODY ${OVX_FOURFACT_DIR}/kernels/ovx_dft_gpu_bkd_c2c_1d_n_facts_colbatch.cl)
endforeach()

# The very large backend's small real pre/post-processing text (no front).
file(READ ${OVX_FOURFACT_DIR}/kernels/ovx_dft_gpu_bkd_1d_very_large_real.cl OVX_VERY_LARGE_BODY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${OVX_FOURFACT_DIR}/kernels/ovx_dft_gpu_bkd_1d_very_large_real.cl)
file(CONFIGURE OUTPUT ${OVX_DFT_GPU_GEN_DIR}/ovx_bkd_1d_very_large_text_s.cpp
  CONTENT "// Generated from ovx_dft_gpu_bkd_1d_very_large_real.cl; do not edit.
namespace korami { namespace ovx { namespace dft { namespace gpu_kernels {
extern const char ovx_bkd_1d_very_large_text_s[];
const char ovx_bkd_1d_very_large_text_s[] = R\"OVXVL(@OVX_VERY_LARGE_BODY@)OVXVL\";
}}}}
" @ONLY)
target_sources(ovx_dft_gpu_texts PRIVATE ${OVX_DFT_GPU_GEN_DIR}/ovx_bkd_1d_very_large_text_s.cpp)

set(OVX_FOURFACT_PLAN_SOURCES
  ${OVX_FOURFACT_DIR}/1d/ovx_dft_gpu_bkd_c2c_1d_4_facts_plan.cpp
  ${OVX_FOURFACT_DIR}/1d/ovx_dft_gpu_bkd_c2c_1d_4_facts_colbatch_plan.cpp
  ${OVX_FOURFACT_DIR}/1d/ovx_dft_gpu_bkd_c2c_1d_n_facts_colbatch_plan.cpp
  ${OVX_FOURFACT_DIR}/1d/ovx_dft_gpu_bkd_1d_very_large_plan.cpp)

target_sources(ovx_dft PRIVATE ${OVX_FOURFACT_PLAN_SOURCES}
  ${OVX_FOURFACT_DIR}/1d/ovx_dft_gpu_bkd_c2c_1d_4_facts_sycl.cpp
  ${OVX_FOURFACT_DIR}/1d/ovx_dft_gpu_bkd_c2c_1d_n_facts_colbatch_sycl.cpp
  ${OVX_FOURFACT_DIR}/1d/ovx_dft_gpu_bkd_c2c_1d_4_facts_colbatch_sycl.cpp
  ${OVX_FOURFACT_DIR}/1d/ovx_dft_gpu_bkd_1d_very_large_sycl.cpp)
