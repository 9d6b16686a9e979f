// Planning of the three-factor 1D complex backend: factors, chunking of the
// batch through the bounded scratch, launch sizes and build options.
#ifndef OVX_DFT_GPU_BKD_C2C_1D_3_FACTS_PLAN_HPP
#define OVX_DFT_GPU_BKD_C2C_1D_3_FACTS_PLAN_HPP

#include <cstdint>
#include <string>

#include "dft/gpu/frame/plan_common.hpp"

namespace korami::ovx::dft::three_facts {

using plan_common::batch_info;
using plan_common::use_io_distances;
using plan_common::input_distance_of;
using plan_common::output_distance_of;


// Length test of the commit.
bool length_accepted(int64_t n, bool single);

// Factors (f0, f1, f2) of n; false when none fits.
bool choose_factors(int64_t n, bool single, int arch, int64_t f[3]);

struct plan_input : plan_common::plan_input_base {
    bool has_subgroup8 = true;
    uint64_t cap_override = 0;  // tests: a smaller scratch cap than the device's (0: none)
};

struct plan {
    bool single = false;
    int64_t n = 0;
    int64_t factors[3] = {1, 1, 1};
    int64_t row_pitch = 0;
    uint64_t table1_bytes = 0, table2_bytes = 0, scratch_bytes = 0;  // before alignment
    int64_t work_group_size = 64, sub_group_size = 8;
    int64_t global_x[3] = {0, 0, 0};
    int64_t local_bytes[3] = {0, 0, 0};
    int64_t chunk_transforms = 0;
    int arch = 0;
    batch_info batch;
};

int make_plan(const plan_input& in, plan& out);

std::string kernel_name(const plan& p, int pass);
std::string butterfly_name(const plan& p, int pass);
// True when the pass gets "-cl-tarvo-256-GRF-per-thread ".
bool wants_large_grf(const plan& p, int pass);
std::string build_options(const plan& p, int dir, int pass);

// Chunks of a batch: first transform index and count of chunk i.
int64_t chunk_count(const plan& p);

}  // namespace korami::ovx::dft::three_facts

#endif
