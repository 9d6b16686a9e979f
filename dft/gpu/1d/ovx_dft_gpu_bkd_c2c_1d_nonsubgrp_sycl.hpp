// General 1D complex GPU backend without sub-groups: any length, any
// strides and distances, up to three batch records. Last real entry of the
// 1D complex candidate lists.
#ifndef OVX_DFT_GPU_1D_OVX_DFT_GPU_BKD_C2C_1D_NONSUBGRP_SYCL_HPP
#define OVX_DFT_GPU_1D_OVX_DFT_GPU_BKD_C2C_1D_NONSUBGRP_SYCL_HPP

#include "dft/node/ovx_dft_node.hpp"

extern const bkd_ops bkd_c2c_1d_nonsubgrp_d_ops;
extern const bkd_ops bkd_c2c_1d_nonsubgrp_s_ops;

// Workspace estimators of the backend (registered at load).
template <typename T>
class dft_c2c_1d_nonsubgrp_gpu_bkd : public dft_base_bkd<T> {
public:
    std::int64_t get_workspace_bytes(const dft_workspace_problem& problem) const override;
};

#endif
