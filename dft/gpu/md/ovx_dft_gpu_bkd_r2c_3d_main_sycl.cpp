// Real 3D main GPU backend: the module of r2c_md_main.hpp with R = 3, in
// both precisions.
#include "dft/gpu/1d/frame_records.hpp"
#include "dft/gpu/md/r2c_md_main.hpp"

OVX_GPU1D_MODULE_RECORDS(r2c_3d_main_module, bkd_r2c_3d_main, dft_r2c_3d_main_gpu_bkd, estimate_r2c_3d_main)
