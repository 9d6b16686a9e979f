// Three-factor 1D complex GPU backend: lengths divisible by 4 (up to 64000 in
// double, 262144 in single precision) as F0 x F1 x F2 in three passes through
// a bounded scratch area; larger batches run in chunks.
#ifndef OVX_DFT_GPU_1D_BKD_C2C_1D_3_FACTS_SYCL_HPP
#define OVX_DFT_GPU_1D_BKD_C2C_1D_3_FACTS_SYCL_HPP

#include "dft/node/ovx_dft_node.hpp"

extern const bkd_ops bkd_c2c_1d_3_facts_d_ops;
extern const bkd_ops bkd_c2c_1d_3_facts_s_ops;

template <typename T>
class dft_c2c_1d_3_facts_gpu_bkd : public dft_base_bkd<T> {
public:
    std::int64_t get_workspace_bytes(const dft_workspace_problem& problem) const override;
};

#endif
