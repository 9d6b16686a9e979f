// Planning of the 8192-point 1D complex backend: the fixed plan, the batch
// cap and the build options, as pure functions for both halves and tests.
#ifndef OVX_DFT_GPU_BKD_C2C_1D_8K_PLAN_HPP
#define OVX_DFT_GPU_BKD_C2C_1D_8K_PLAN_HPP

#include <cstdint>
#include <string>

#include "dft/gpu/frame/plan_common.hpp"

namespace korami::ovx::dft::eight_k {

using plan_common::batch_info;
using plan_common::use_io_distances;
using plan_common::input_distance_of;
using plan_common::output_distance_of;

constexpr int64_t length = 8192;

struct plan_input : plan_common::plan_input_base {
    bool has_subgroup8 = true;
};

struct plan {
    bool single = false;
    int64_t n = length, n0 = 128, n0_fact0 = 16, n0_fact1 = 8, n1 = 64, n1_fact0 = 8, n1_fact1 = 8;
    int64_t work_group_size = 64, subgroup_size = 8, cols_per_wg = 4;
    int64_t pass1_global_size = 1024, pass2_global_size = 2048;
    int64_t pass1_local_bytes = 0, pass2_local_bytes = 0;
    // Sizes before alignment.
    uint64_t class1_table_bytes = 0, class2_table_bytes = 0, class3_table_bytes = 0, scratch_bytes = 0;
    batch_info batch;
};

// 0 with the plan, or 100 when the module does not apply.
int make_plan(const plan_input& in, plan& out);

std::string pass1_kernel_name(bool single);   // fft_8192_fact_128_<d|s>
std::string pass2_kernel_name(bool single);   // fft_8192_fact_64_<d|s>
std::string build_options(const plan& p, int dir);

// Angles (in half-turns) and positions of the table entries, as the table
// kernels compute them; used by the host-side checks.
// Class 1 (i = 0..15, j = 0..7), class 2 (i = 0..7, j = 0..7), class 3 (n1 = 0..63, t = 0..127).
int64_t class1_position(int64_t i, int64_t j);
int64_t class2_position(int64_t i, int64_t j);
int64_t class3_position(int64_t n1, int64_t t);
int64_t class3_k0(int64_t t);

}  // namespace korami::ovx::dft::eight_k

#endif
