// Small square 2D complex GPU backend: the module of c2c_2d_8nx8n_small.hpp in both precisions.
#include "dft/gpu/frame/records.hpp"
#include "dft/gpu/md/c2c_2d_8nx8n_small.hpp"

OVX_GPU_BACKEND_RECORDS(korami::ovx::dft::gpumd::small2d_module, c2c_2d_8nx8n_small)
