// 3D complex main GPU backend: the module of c2c_3d_main.hpp in both precisions.
#include "dft/gpu/1d/frame_records.hpp"
#include "dft/gpu/md/c2c_3d_main.hpp"

OVX_GPU1D_MODULE_RECORDS(c2c_3d_main_module, bkd_c2c_3d_main, dft_c2c_3d_main_gpu_bkd, estimate_c2c_3d_main)
