// 8192-point 1D complex GPU backend: contiguous batches of exactly 8192
// points as a four-step transform 128 x 64 in two launches through a scratch
// area. First record of the 1D complex candidate lists.
#ifndef OVX_DFT_GPU_1D_BKD_C2C_1D_8K_SYCL_HPP
#define OVX_DFT_GPU_1D_BKD_C2C_1D_8K_SYCL_HPP

#include "dft/node/ovx_dft_node.hpp"

extern const bkd_ops bkd_c2c_1d_8k_d_ops;
extern const bkd_ops bkd_c2c_1d_8k_s_ops;

template <typename T>
class dft_c2c_1d_8k_gpu_bkd : public dft_base_bkd<T> {
public:
    std::int64_t get_workspace_bytes(const dft_workspace_problem& problem) const override;
};

#endif
