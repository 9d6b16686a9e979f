// Planning of the four-factor 1D complex backend: N = L x S with both pass
// lengths split again into two factors of at most 49, chunking of the batch
// through the bounded scratch, launch sizes, kernel names and build options.
// Pure functions (no device): the module feeds them the device facts.
#ifndef OVX_DFT_GPU_BKD_C2C_1D_4_FACTS_PLAN_HPP
#define OVX_DFT_GPU_BKD_C2C_1D_4_FACTS_PLAN_HPP

#include <cstdint>
#include <string>

#include "dft/gpu/frame/plan_common.hpp"

namespace korami::ovx::dft::four_facts {

// Most balanced pair (larger, smaller) with both factors in [2, 49] and
// product n: 0, or 7 for n < 1, 100 when there is none.
int split_two_factors_max49(int64_t n, int64_t out[2]);

// Pass lengths (L, S), L >= S, and their splits; 0 or 100.
int choose_pass_lengths(int64_t n, bool single, int64_t lengths[2], int64_t factors[2][2]);

using plan_common::batch_info;

struct plan_input : plan_common::plan_input_base {
    plan_input() { arch = OVX_GPU_ARCH_QUEN6; }
    int tiles = 1;                 // tile count of the device
    uint32_t align_bytes = 16;     // device base-address alignment in bytes
};

struct pass_plan {
    int64_t fft_length = 0;
    int64_t fact0 = 0, fact1 = 0;
    int64_t sub_group_size = 16;
    int64_t sub_groups_per_group = 0;
    int64_t work_group_size = 0;
    int64_t local_bytes = 0;
    int64_t num_ffts = 0;
    int64_t ffts_per_group = 8;
    int64_t global_size = 0;
    std::string kernel_name;
    std::string fact0_func, fact1_func;
    uint64_t table_bytes = 0;      // aligned
};

struct plan {
    bool single = false;
    int64_t n = 0;
    int64_t pass_length[2] = {0, 0};
    int64_t pass_factors[2][2] = {{0, 0}, {0, 0}};
    uint64_t twiddle_table_bytes = 0;   // one direction, aligned
    uint64_t scratch_bytes = 0;         // aligned
    batch_info batch;
    bool use_io_distances = false;
    int64_t chunk_transforms = 0;
    pass_plan pass[2];
    int directions = 2;
    // The node's totals.
    uint64_t twiddle_workspace_bytes = 0;
    uint64_t scratch_workspace_bytes = 0;
};

int make_plan(const plan_input& in, plan& out);

// IDIST/ODIST of a direction in complex values.
int64_t input_distance_of(const plan& p, int dir);
int64_t output_distance_of(const plan& p, int dir);

// Build options of a pass and direction; empty when they do not fit.
std::string build_options(const plan& p, int pass, int dir);

}  // namespace korami::ovx::dft::four_facts

#endif
