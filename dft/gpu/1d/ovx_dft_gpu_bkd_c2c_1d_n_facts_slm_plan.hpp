// Planning of the n-factor local-memory 1D complex backend and of its
// pre-twiddle row pass: pure functions of the problem and of the device
// facts, shared by both modules and by the unit tests.
//
// N = FACT0 x FACT1 x FACT2 x FACT3 (factors from {4, 8, 16}, ascending); one
// work-group computes one transform in local memory, a complex value spread
// over a lane pair of a 16-lane sub-group.
#ifndef OVX_DFT_GPU_BKD_C2C_1D_N_FACTS_SLM_PLAN_HPP
#define OVX_DFT_GPU_BKD_C2C_1D_N_FACTS_SLM_PLAN_HPP

#include <cstdint>
#include <string>

#include "dft/gpu/frame/plan_common.hpp"

namespace korami::ovx::dft::n_facts_slm {

using plan_common::batch_info;

// The four factors of n, ascending: true, or false when n has none (any n
// other than 512, 1024, ..., 65536).
bool choose_factors(int64_t n, int64_t f[4]);

struct device_facts {
    int64_t min_sub_group = 16;
    int64_t max_work_group = 1024;
    int64_t local_mem = 131072;
};

struct plan_input : plan_common::plan_input_base {
    bool row = false;             // the pre-twiddle row pass
    bool in_place = false;
    int64_t pre_twiddle_rows = 0; // row pass: transforms of the first caller batch record
};

struct plan {
    int64_t n = 0;
    bool single = false;
    bool row = false;
    int directions = 2;
    int64_t fact[4] = {0, 0, 0, 0};
    int64_t max_fact = 0;
    int64_t subgroup_size = 16;
    int64_t work_group_size = 0;
    int64_t load_store_tail = 0, load_loop_bound = 0, load_loop_tail = 0;
    int64_t slm_bytes = 0;
    int64_t subgroups = 0;
    int64_t main_table_bytes = 0;       // one direction, before alignment
    int64_t area_bytes[4] = {0, 0, 0, 0};
    int64_t pre_twiddle_rows = 0;
    int64_t pre_twiddle_bytes = 0;      // 0: the row pass computes its twiddle at run time
    batch_info batch;
};

// The applicability test's transform-count rule of single precision (1024
// points need more than 32768 transforms, 512 more than 65536).
bool single_count_accepted(int64_t n, int64_t transforms);

// plan_made with the plan filled, or plan_not_applicable.
int make_plan(const plan_input& in, const device_facts& dev, plan& p);

int64_t idist(const plan& p, int dir);
int64_t odist(const plan& p, int dir);

std::string kernel_name(const plan& p);
std::string fact_func_name(int64_t fact);

// Build options of direction dir (empty when they do not fit in 1024 bytes).
std::string build_options(const plan& p, int dir);

// Prebuilt single-precision kernels (4096 and 8192 points on a Level Zero
// driver 1.6 with distances 0 or N): the binary's name, or "" when none fits.
// `backend` 1 = Level Zero.
std::string prebuilt_name(const plan& p, int dir, int backend, const char* driver);

}  // namespace korami::ovx::dft::n_facts_slm

// Prebuilt-kernel requests of the single-precision n-factor backend since
// load, and how many of those went on to the source build.
struct n_facts_slm_binary_counts {
    std::int64_t requests;
    std::int64_t fallbacks;
};
n_facts_slm_binary_counts get_n_facts_slm_binary_counts();

#endif
