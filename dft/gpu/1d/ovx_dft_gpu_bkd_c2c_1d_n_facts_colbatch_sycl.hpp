// N-factor column-batched 1D complex GPU backend: batches whose transforms
// are adjacent columns (batch distance 1), lengths with two or three factors
// of at most 64, each block of columns transformed in local memory; also the
// pass sub-nodes of the very large backend (outer twiddles applied).
#ifndef OVX_DFT_GPU_1D_BKD_C2C_1D_N_FACTS_COLBATCH_SYCL_HPP
#define OVX_DFT_GPU_1D_BKD_C2C_1D_N_FACTS_COLBATCH_SYCL_HPP

#include "dft/node/ovx_dft_node.hpp"

extern const bkd_ops bkd_c2c_1d_n_facts_colbatch_d_ops;
extern const bkd_ops bkd_c2c_1d_n_facts_colbatch_s_ops;

template <typename T>
class dft_c2c_1d_n_facts_colbatch_gpu_bkd : public dft_base_bkd<T> {
public:
    std::int64_t get_workspace_bytes(const dft_workspace_problem& problem) const override;
};

#endif
