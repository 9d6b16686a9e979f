// Planning of the n-factor column-batched 1D complex backend: the commit
// test on the node's shape, the factors, the column block of each direction
// (store-count x waves cost model), kernel names and build options. Pure
// functions: the module feeds them the node's records and the device facts.
#ifndef OVX_DFT_GPU_BKD_C2C_1D_N_FACTS_COLBATCH_PLAN_HPP
#define OVX_DFT_GPU_BKD_C2C_1D_N_FACTS_COLBATCH_PLAN_HPP

#include <cstdint>
#include <string>

#include "korami/ovx/gpu_types.h"
#include <vector>

namespace korami::ovx::dft::n_facts_colbatch {

// k factors of n, largest first, each in [2, 64] (k = 1: n itself up to 64).
// 0; 7 for n < 1 or a wrong product; 100 when there is no split.
int factor_into_n(int k, int64_t n, int64_t* out);

struct record {  // a working batch record: count and the four distances
    int64_t count = 1;
    int64_t input_distance = 0, output_distance = 0, fwd_distance = 0, bwd_distance = 0;
};

struct shape {
    bool complex_domain = true;
    bool interleaved = true;       // complex storage 39
    int dims = 1;
    int64_t n = 0;
    int64_t input_stride = 0, output_stride = 0, fwd_stride = 0, bwd_stride = 0;
    int64_t input_offset = 0, output_offset = 0, fwd_offset = 0, bwd_offset = 0;
    bool in_place = false;
    int batches = 1;               // working batch records
    record batch[2];
    int64_t colbatch_group_count = 0;
    int directions = 2;
};

// The module's commit test: 0 or 100.
int commit_test(const shape& s);

struct device_facts {
    int64_t min_sub_group = 16;    // smallest sub-group size
    int arch = OVX_GPU_ARCH_QUEN6;
    int64_t local_mem = 65536;
    int64_t compute_units = 512;
    int64_t max_work_group = 1024;
    int tiles = 1;
    uint32_t align_bytes = 16;
};

// The planner's device figures from a device record (the frame's device
// facts); false for a device without sub-groups.
template <class Facts>
bool planner_device(const Facts& f, int arch, device_facts& dev) {
    if (f.min_sub_group == 0) return false;
    dev.min_sub_group = f.min_sub_group;
    dev.arch = arch;
    dev.local_mem = f.local_mem;
    dev.compute_units = f.compute_units;
    dev.max_work_group = f.max_work_group;
    dev.tiles = f.tiles;
    dev.align_bytes = f.align_bytes;
    return true;
}

struct plan {
    bool single = false;
    int64_t n = 0;
    int64_t factors[3] = {1, 1, 1};
    int64_t S = 16, H = 8, U = 1;
    int64_t B = 0, B2 = 1;
    bool two_records = false;
    bool uses_io[2] = {false, false};
    record batch[2];
    int64_t colbatch_group_count = 0;
    int directions = 2;
    int64_t in_stride[2] = {0, 0}, out_stride[2] = {0, 0};
    int64_t in_offset[2] = {0, 0}, out_offset[2] = {0, 0};
    int64_t columns_per_group[2] = {0, 0};
    int64_t columns_in_last_group[2] = {0, 0};
    int64_t slm_bytes[2] = {0, 0};
    int64_t subgroups_per_fft[2] = {0, 0};
    int64_t workgroup_size[2] = {0, 0};
    uint64_t table_bytes[2] = {0, 0};   // aligned table 1, table 2 (0 without F2)
    uint64_t twiddle_workspace_bytes = 0;
    std::string kernel_name[2];
    std::string fact_func_name[3];
};

// Outer distances (input, output) and the inner output distance of a direction.
int64_t outer_input_distance(const plan& p, int dir);
int64_t outer_output_distance(const plan& p, int dir);
int64_t inner_output_distance(const plan& p, int dir);

// Candidate column counts of a direction's search (for tests and the planner).
std::vector<int64_t> candidate_columns(const plan& p, int dir, int64_t local_mem, int64_t max_wg);

// Whole planning after the commit test: 0 or 100 (7 for internal faults).
int make_plan(const shape& s, const device_facts& dev, bool single, plan& out);

// Build options of a direction; empty when they do not fit 512 bytes.
std::string build_options(const plan& p, int dir);

}  // namespace korami::ovx::dft::n_facts_colbatch

#endif
