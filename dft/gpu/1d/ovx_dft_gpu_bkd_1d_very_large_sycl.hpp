// Very large single-precision 1D GPU backend (Quen5): complex transforms of
// 2^25, 2^26, 2^27 and 134400000 points and real ones of twice these, as three
// stages of column-batched sub-transforms through a padded scratch area.
#ifndef OVX_DFT_GPU_1D_BKD_1D_VERY_LARGE_SYCL_HPP
#define OVX_DFT_GPU_1D_BKD_1D_VERY_LARGE_SYCL_HPP

#include "dft/node/ovx_dft_node.hpp"

extern const bkd_ops bkd_1d_very_large_s_ops;

template <typename T>
class dft_1d_very_large_gpu_bkd : public dft_base_bkd<T> {
public:
    std::int64_t get_workspace_bytes(const dft_workspace_problem& problem) const override;
};

#endif
