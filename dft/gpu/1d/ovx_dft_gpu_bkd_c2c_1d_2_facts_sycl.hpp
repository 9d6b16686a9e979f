// Two-factor 1D complex GPU backend: even lengths up to 4096 (1024 in double
// precision) as FACT0 x FACT1, both factors at most 64, one kernel per
// direction. Second record of the 1D complex candidate lists.
#ifndef OVX_DFT_GPU_1D_BKD_C2C_1D_2_FACTS_SYCL_HPP
#define OVX_DFT_GPU_1D_BKD_C2C_1D_2_FACTS_SYCL_HPP

#include "dft/node/ovx_dft_node.hpp"

extern const bkd_ops bkd_c2c_1d_2_facts_d_ops;
extern const bkd_ops bkd_c2c_1d_2_facts_s_ops;

// Workspace estimators of the backend (registered at load).
template <typename T>
class dft_c2c_1d_2_facts_gpu_bkd : public dft_base_bkd<T> {
public:
    std::int64_t get_workspace_bytes(const dft_workspace_problem& problem) const override;
};

#endif
