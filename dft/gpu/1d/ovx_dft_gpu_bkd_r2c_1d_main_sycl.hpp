// 1D real GPU backend: real-to-complex and complex-to-real transforms of any
// length through a complex sub-transform (length N/2 for even N, two real
// transforms packed in one of length N for odd N) and small pre- and
// post-processing kernels. Entry of the 1D real candidate lists.
#ifndef OVX_DFT_GPU_1D_BKD_R2C_1D_MAIN_SYCL_HPP
#define OVX_DFT_GPU_1D_BKD_R2C_1D_MAIN_SYCL_HPP

#include "dft/node/ovx_dft_node.hpp"

extern const bkd_ops bkd_r2c_1d_main_d_ops;
extern const bkd_ops bkd_r2c_1d_main_s_ops;

template <typename T>
class dft_r2c_1d_main_gpu_bkd : public dft_base_bkd<T> {
public:
    std::int64_t get_workspace_bytes(const dft_workspace_problem& problem) const override;
};

#endif
