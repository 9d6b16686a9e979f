// 3D complex main GPU backend: the module of c2c_3d_main.hpp in both precisions.
#include "dft/gpu/frame/records.hpp"
#include "dft/gpu/md/c2c_3d_main.hpp"

OVX_GPU_BACKEND_RECORDS(korami::ovx::dft::gpumd::c2c_3d_module, c2c_3d_main)
