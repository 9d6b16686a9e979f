// Former name of ovx_dft_gpu_bkd_c2c_1d_nonsubgrp_sycl.hpp, kept until every
// includer has moved to the new name.
#include "dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_nonsubgrp_sycl.hpp"
