// Small square 2D complex GPU backend: the module of c2c_2d_8nx8n_small.hpp in both precisions.
#include "dft/gpu/1d/frame_records.hpp"
#include "dft/gpu/md/c2c_2d_8nx8n_small.hpp"

OVX_GPU1D_MODULE_RECORDS(c2c_2d_8nx8n_small_module, bkd_c2c_2d_8nx8n_small, dft_c2c_2d_8nx8n_small_gpu_bkd,
                         estimate_c2c_2d_8nx8n_small)
