// The records of a GPU backend module made from the frame. The records are
// declared by the backend table (dft/gpu/backends.hpp), so a module whose row
// is missing does not compile.
#ifndef OVX_DFT_GPU_FRAME_RECORDS_HPP
#define OVX_DFT_GPU_FRAME_RECORDS_HPP

#include <cstdint>

#include "dft/gpu/backends.hpp"
#include "dft/gpu/frame/frame.hpp"

// The two records of a module made from the frame. Used at global scope
// after the module:
//   OVX_GPU_BACKEND_RECORDS(korami::ovx::dft::gpu1d::two_facts_module, c2c_1d_2_facts)
// defines bkd_c2c_1d_2_facts_d_ops / _s_ops from the module template's
// double and float instances; their workspace estimate is the frame's (the
// module's test and plan in estimate mode, sized from its area list).
#define OVX_GPU_BACKEND_RECORDS(MODULE, STEM)                                                                 \
    namespace {                                                                                               \
    using frame_d = korami::ovx::dft::gpufw::frame<MODULE<double>>;                                           \
    using frame_s = korami::ovx::dft::gpufw::frame<MODULE<float>>;                                            \
    }                                                                                                         \
    const bkd_ops bkd_##STEM##_d_ops = {&frame_d::commit, &frame_d::free, &frame_d::add_workspace,            \
                                        &frame_d::estimate};                                                  \
    const bkd_ops bkd_##STEM##_s_ops = {&frame_s::commit, &frame_s::free, &frame_s::add_workspace,            \
                                        &frame_s::estimate};

#endif
