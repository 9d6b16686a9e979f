// Planning of the two-factor 1D complex backend: pure functions of the
// problem and of the device facts, shared by the double and single halves
// and by the unit tests.
#ifndef OVX_DFT_GPU_BKD_C2C_1D_2_FACTS_PLAN_HPP
#define OVX_DFT_GPU_BKD_C2C_1D_2_FACTS_PLAN_HPP

#include <cstdint>
#include <string>

#include "dft/gpu/frame/plan_common.hpp"

namespace korami::ovx::dft::two_facts {

using plan_common::batch_info;
using plan_common::use_io_distances;
using plan_common::input_distance_of;
using plan_common::output_distance_of;

// Length test of the commit: the lengths this module computes (the other
// conditions are the common 1D complex test).
bool length_accepted(int64_t n);

// Best factor pair (fact0, fact1) of n; false when none fits.
bool factor_pair(int64_t n, int64_t& fact0, int64_t& fact1);

struct plan_input : plan_common::plan_input_base {
    bool has_subgroup8 = true;
};

struct plan {
    int64_t n = 0;
    int64_t fact0 = 0, padfact0 = 0, fact1 = 0, padfact1 = 0;
    int64_t fact1_loop_bound = 0, work_group_size = 0;
    int64_t subgroup_size = 8;
    int64_t table_bytes = 0;    // one direction, before alignment
    int64_t local_bytes = 0;
    int64_t batch_per_group = 1, batch_for_last_group = 1;
    int64_t groups = 0;         // work-groups of one launch
    bool single = false;
    bool io_distances = false;
    batch_info batch;
};

// 0 with the plan filled, or 100 when the module does not apply.
int make_plan(const plan_input& in, plan& out);

// Names of the kernel and of the two transform functions.
std::string kernel_name(const plan& p);
std::string fact0_func_name(const plan& p);
std::string fact1_func_name(const plan& p);
// True when the factor uses the generic direct DFT routine of the front.
bool uses_default_func(const plan& p, int64_t fact);

// Build options of direction dir; empty when they do not fit in 511 characters.
std::string build_options(const plan& p, int dir);
}  // namespace korami::ovx::dft::two_facts

#endif
