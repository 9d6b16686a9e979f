// The records and workspace estimators of a GPU backend module made from the
// frame. The records and the estimator class are declared by the backend
// table (dft/gpu/backends.hpp), so a module whose row is missing does not
// compile.
#ifndef OVX_DFT_GPU_FRAME_RECORDS_HPP
#define OVX_DFT_GPU_FRAME_RECORDS_HPP

#include <cstdint>

#include "dft/gpu/backends.hpp"
#include "dft/gpu/frame/frame.hpp"

// The two records of a module made from the frame, and its workspace
// estimators (registered at load). Used at global scope after the module:
//   OVX_GPU_BACKEND_RECORDS(korami::ovx::dft::gpu1d::two_facts_module, c2c_1d_2_facts,
//                           korami::ovx::dft::gpu1d::estimate_2_facts)
// defines bkd_c2c_1d_2_facts_d_ops / _s_ops from the module template's
// double and float instances and the estimators dft_c2c_1d_2_facts_gpu_bkd<T>
// of both precisions, which answer with the estimate function's <T> instance.
#define OVX_GPU_BACKEND_RECORDS(MODULE, STEM, ESTIMATE)                                                       \
    namespace {                                                                                               \
    using frame_d = korami::ovx::dft::gpufw::frame<MODULE<double>>;                                           \
    using frame_s = korami::ovx::dft::gpufw::frame<MODULE<float>>;                                            \
    }                                                                                                         \
    const bkd_ops bkd_##STEM##_d_ops = {&frame_d::commit, &frame_d::free, &frame_d::add_workspace};           \
    const bkd_ops bkd_##STEM##_s_ops = {&frame_s::commit, &frame_s::free, &frame_s::add_workspace};           \
    template <typename T>                                                                                     \
    std::int64_t dft_##STEM##_gpu_bkd<T>::get_workspace_bytes(const dft_workspace_problem& problem) const {   \
        return ESTIMATE<T>(problem);                                                                          \
    }                                                                                                         \
    template class dft_##STEM##_gpu_bkd<float>;                                                               \
    template class dft_##STEM##_gpu_bkd<double>;                                                              \
    namespace {                                                                                               \
    const dft_##STEM##_gpu_bkd<float> estimator_s;                                                            \
    const dft_##STEM##_gpu_bkd<double> estimator_d;                                                           \
    const dft_bkd_estimator_registration<float> registration_s(&estimator_s);                                 \
    const dft_bkd_estimator_registration<double> registration_d(&estimator_d);                                \
    }

#endif
