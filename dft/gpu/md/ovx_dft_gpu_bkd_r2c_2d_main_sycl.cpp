// Real 2D main GPU backend: the module of r2c_md_main.hpp with R = 2, in
// both precisions.
#include "dft/gpu/1d/frame_records.hpp"
#include "dft/gpu/md/r2c_md_main.hpp"

OVX_GPU1D_MODULE_RECORDS(r2c_2d_main_module, bkd_r2c_2d_main, dft_r2c_2d_main_gpu_bkd, estimate_r2c_2d_main)
