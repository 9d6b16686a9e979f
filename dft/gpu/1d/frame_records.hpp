// The records and workspace estimators of a GPU 1D module made from the
// frame. The records and the estimator class are declared by the backend
// table (dft/gpu/backends.hpp), so a module whose row is missing does not
// compile.
#ifndef OVX_DFT_GPU_1D_FRAME_RECORDS_HPP
#define OVX_DFT_GPU_1D_FRAME_RECORDS_HPP

#include <cstdint>

#include "dft/gpu/1d/frame.hpp"
#include "dft/gpu/backends.hpp"

// The two records of a module made from the frame, and its workspace
// estimators (registered at load). Used at global scope after the module:
//   OVX_GPU1D_MODULE_RECORDS(two_facts_module, bkd_c2c_1d_2_facts, dft_c2c_1d_2_facts_gpu_bkd, estimate_2_facts)
// defines bkd_c2c_1d_2_facts_d_ops / _s_ops and the estimators of both
// precisions, which answer with gpu1d::estimate_2_facts<T>.
#define OVX_GPU1D_MODULE_RECORDS(MODULE, RECORD, ESTIMATOR, ESTIMATE)                                         \
    namespace {                                                                                               \
    using frame_d = korami::ovx::dft::gpu1d::frame<korami::ovx::dft::gpu1d::MODULE<double>>;                  \
    using frame_s = korami::ovx::dft::gpu1d::frame<korami::ovx::dft::gpu1d::MODULE<float>>;                   \
    }                                                                                                         \
    const bkd_ops RECORD##_d_ops = {&frame_d::commit, &frame_d::free, &frame_d::add_workspace};               \
    const bkd_ops RECORD##_s_ops = {&frame_s::commit, &frame_s::free, &frame_s::add_workspace};               \
    template <typename T>                                                                                     \
    std::int64_t ESTIMATOR<T>::get_workspace_bytes(const dft_workspace_problem& problem) const {              \
        return korami::ovx::dft::gpu1d::ESTIMATE<T>(problem);                                                 \
    }                                                                                                         \
    template class ESTIMATOR<float>;                                                                          \
    template class ESTIMATOR<double>;                                                                         \
    namespace {                                                                                               \
    const ESTIMATOR<float> estimator_s;                                                                       \
    const ESTIMATOR<double> estimator_d;                                                                      \
    const dft_bkd_estimator_registration<float> registration_s(&estimator_s);                                 \
    const dft_bkd_estimator_registration<double> registration_d(&estimator_d);                                \
    }


#endif
