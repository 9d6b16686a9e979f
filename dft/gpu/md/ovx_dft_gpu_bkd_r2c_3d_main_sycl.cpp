// Real 3D main GPU backend: the module of r2c_md_main.hpp with R = 3, in
// both precisions.
#include "dft/gpu/frame/records.hpp"
#include "dft/gpu/md/r2c_md_main.hpp"

OVX_GPU_BACKEND_RECORDS(korami::ovx::dft::gpumd::r2c_3d_main_module, r2c_3d_main)
