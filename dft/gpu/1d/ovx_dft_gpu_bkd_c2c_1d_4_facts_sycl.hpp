// Four-factor 1D complex GPU backend: contiguous transforms of 2048 to 2^20
// points as L x S, each pass length split into two factors of at most 49,
// in two passes through a scratch area (Quen6 devices).
#ifndef OVX_DFT_GPU_1D_BKD_C2C_1D_4_FACTS_SYCL_HPP
#define OVX_DFT_GPU_1D_BKD_C2C_1D_4_FACTS_SYCL_HPP

#include "dft/node/ovx_dft_node.hpp"

extern const bkd_ops bkd_c2c_1d_4_facts_d_ops;
extern const bkd_ops bkd_c2c_1d_4_facts_s_ops;

template <typename T>
class dft_c2c_1d_4_facts_gpu_bkd : public dft_base_bkd<T> {
public:
    std::int64_t get_workspace_bytes(const dft_workspace_problem& problem) const override;
};

#endif
