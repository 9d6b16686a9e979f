// Four-factor column-batched 1D complex GPU backend: transforms whose
// points are a stride apart and whose batch runs fastest (columns), N = M0 x M1
// with both pass lengths split into two factors of at most 64 (Quen6 devices).
#ifndef OVX_DFT_GPU_1D_BKD_C2C_1D_4_FACTS_COLBATCH_SYCL_HPP
#define OVX_DFT_GPU_1D_BKD_C2C_1D_4_FACTS_COLBATCH_SYCL_HPP

#include "dft/node/ovx_dft_node.hpp"

extern const bkd_ops bkd_c2c_1d_4_facts_colbatch_d_ops;
extern const bkd_ops bkd_c2c_1d_4_facts_colbatch_s_ops;

// Prebuilt-kernel requests of the single-precision half since load: how many
// slots asked get_binary_kernel, and how many of those went on to the source
// build because the binary could not be had.
struct four_facts_colbatch_binary_counts {
    std::int64_t requests;
    std::int64_t fallbacks;
};
four_facts_colbatch_binary_counts get_four_facts_colbatch_binary_counts();

template <typename T>
class dft_c2c_1d_4_facts_colbatch_gpu_bkd : public dft_base_bkd<T> {
public:
    std::int64_t get_workspace_bytes(const dft_workspace_problem& problem) const override;
};

#endif
