# Two-factor, 8192-point, three-factor and 1D real GPU backends: their
# planning, modules and stored kernel texts. Included from backends.cmake
# (ovx_dft and ovx_dft_kernel_text exist).
set(OVX_FACTORS_DIR ${CMAKE_CURRENT_LIST_DIR})

foreach(prec d s)
  ovx_dft_kernel_text(ovx_bkd_c2c_1d_2_facts_text_${prec} FORM sg PREC ${prec}
    BODY ${OVX_FACTORS_DIR}/kernels/ovx_dft_gpu_bkd_c2c_1d_2_facts.cl)
  ovx_dft_kernel_text(ovx_bkd_c2c_1d_8k_text_${prec} FORM sg PREC ${prec}
    BODY ${OVX_FACTORS_DIR}/kernels/ovx_dft_gpu_bkd_c2c_1d_8k.cl)
  ovx_dft_kernel_text(ovx_bkd_c2c_1d_3_facts_text_${prec} FORM sg PREC ${prec}
    BODY ${OVX_FACTORS_DIR}/kernels/ovx_dft_gpu_bkd_c2c_1d_3_facts.cl)
endforeach()

# The 1D real backend's two small texts carry no front: a precision head and
# the kernels.
file(READ ${OVX_FACTORS_DIR}/kernels/ovx_dft_gpu_bkd_r2c_1d_main.cl OVX_R2C_BODY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${OVX_FACTORS_DIR}/kernels/ovx_dft_gpu_bkd_r2c_1d_main.cl)
set(OVX_R2C_HEAD_d "#pragma OPENCL EXTENSION cl_khr_fp64 : enable\ntypedef double rtype;\n#define R2C_NAME(x) x##_d\n")
set(OVX_R2C_HEAD_s "typedef float rtype;\n#define R2C_NAME(x) x##_s\n")
foreach(prec d s)
  set(OVX_R2C_HEAD "${OVX_R2C_HEAD_${prec}}")
  set(OVX_R2C_PREC ${prec})
  file(CONFIGURE OUTPUT ${OVX_DFT_GPU_GEN_DIR}/ovx_bkd_r2c_1d_main_text_${prec}.cpp
    CONTENT "// Generated from ovx_dft_gpu_bkd_r2c_1d_main.cl; do not edit.
#include <cstddef>
namespace korami { namespace ovx { namespace dft { namespace gpu_kernels {
extern const char ovx_bkd_r2c_1d_main_text_@OVX_R2C_PREC@[];
const char ovx_bkd_r2c_1d_main_text_@OVX_R2C_PREC@[] = R\"OVXR2C(@OVX_R2C_HEAD@@OVX_R2C_BODY@)OVXR2C\";
}}}}
" @ONLY)
  target_sources(ovx_dft_gpu_texts PRIVATE ${OVX_DFT_GPU_GEN_DIR}/ovx_bkd_r2c_1d_main_text_${prec}.cpp)
endforeach()

target_sources(ovx_dft PRIVATE
  ${OVX_FACTORS_DIR}/1d/ovx_dft_gpu_bkd_c2c_1d_2_facts_plan.cpp
  ${OVX_FACTORS_DIR}/1d/ovx_dft_gpu_bkd_c2c_1d_8k_plan.cpp
  ${OVX_FACTORS_DIR}/1d/ovx_dft_gpu_bkd_c2c_1d_3_facts_plan.cpp
  ${OVX_FACTORS_DIR}/1d/ovx_dft_gpu_bkd_r2c_1d_main_plan.cpp
  ${OVX_FACTORS_DIR}/1d/ovx_dft_gpu_bkd_c2c_1d_2_facts_sycl.cpp
  ${OVX_FACTORS_DIR}/1d/ovx_dft_gpu_bkd_c2c_1d_8k_sycl.cpp
  ${OVX_FACTORS_DIR}/1d/ovx_dft_gpu_bkd_c2c_1d_3_facts_sycl.cpp
  ${OVX_FACTORS_DIR}/1d/ovx_dft_gpu_bkd_r2c_1d_main_sycl.cpp)
