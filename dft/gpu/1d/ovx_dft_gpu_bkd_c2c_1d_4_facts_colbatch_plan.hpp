// Planning of the four-factor column-batched 1D complex backend: N = M0 x M1,
// each pass length split into two factors of at most 64, column chunking on
// single-tile devices, pass records, build options and the choice of a
// prebuilt single-precision kernel. Pure functions.
#ifndef OVX_DFT_GPU_BKD_C2C_1D_4_FACTS_COLBATCH_PLAN_HPP
#define OVX_DFT_GPU_BKD_C2C_1D_4_FACTS_COLBATCH_PLAN_HPP

#include <cstdint>
#include <string>

#include "korami/ovx/gpu_types.h"

namespace korami::ovx::dft::four_facts_colbatch {

// Most balanced pair (larger, smaller) of n with both in [2, max]: 0;
// 7 for n < 1 or a wrong product; 100 when there is none.
int split_two_factors_balanced(int64_t n, int64_t out[2], int64_t max);

struct record {
    int64_t count = 1;
    int64_t input_distance = 0, output_distance = 0, fwd_distance = 0, bwd_distance = 0;
};

struct shape {
    bool complex_domain = true;
    bool interleaved = true;
    int dims = 1;
    int64_t n = 0;
    int64_t input_stride = 0, output_stride = 0, fwd_stride = 0, bwd_stride = 0;
    int64_t input_offset = 0, output_offset = 0, fwd_offset = 0, bwd_offset = 0;
    bool in_place = false;
    int batches = 1;
    record batch[2];
    int64_t colbatch_group_count = 0;
    int directions = 2;
};

int commit_test(const shape& s);

struct device_facts {
    int arch = OVX_GPU_ARCH_QUEN6;
    int tiles = 1;
    int64_t max_work_group = 1024;
    int64_t min_sub_group = 16;
    int64_t local_mem = 65536;
    uint32_t align_bytes = 16;
};

struct pass_plan {
    int64_t fft_length = 0, fact0 = 0, fact1 = 0;
    int64_t sub_group_size = 16, sub_groups_per_group = 0, num_work_groups = 0, work_group_size = 0;
    int64_t local_bytes = 0, columns = 0, chunk_columns = 0, columns_per_sub_group = 8, global_size = 0;
    int pass_index = 0;
    bool transpose = false;
    std::string kernel_name, fact0_func, fact1_func;
    uint64_t table_bytes = 0;  // aligned
    bool large_grf = false;
};

struct plan {
    bool single = false;
    int64_t n = 0;
    int64_t pass_length[2] = {0, 0};
    int64_t pass_factors[2][2] = {{0, 0}, {0, 0}};
    int64_t chunk_count = 1, outer_launches = 1;
    uint64_t twiddle_table_bytes = 0, scratch_bytes = 0;  // aligned
    int64_t groups_per_chunk = 0, tail_chunk_index = 0, inner_tail = 0;
    bool padded_temp = false;
    int64_t temp_outer_dist = 0;
    bool write_final_non_subgroup[2] = {false, false};
    int64_t outer_per_launch = 1, outer_tail = 0;
    int64_t in_stride[2] = {0, 0}, out_stride[2] = {0, 0};
    int batches = 1;
    record batch[2];
    bool uses_io[2] = {false, false};
    int64_t B = 0, B2 = 0;  // B2 = 0 without a second record
    int directions = 2;
    int arch = OVX_GPU_ARCH_QUEN6;
    pass_plan pass[2];
    uint64_t twiddle_workspace_bytes = 0, scratch_workspace_bytes = 0;
};

// 0 or 100. A node without columns is refused (100) like any other shape
// the kernels have no variant for.
int make_plan(const shape& s, const device_facts& dev, bool single, plan& out);

int64_t idist(const plan& p, int dir);        // first record, input side
int64_t odist(const plan& p, int dir);        // first record, output side
int64_t outer_idist(const plan& p, int dir);  // second record, input side (0 without)
int64_t outer_odist(const plan& p, int dir);  // second record, output side (0 without)

// Build options; empty when they do not fit 2048 bytes.
std::string build_options(const plan& p, int pass, int dir);

// Prebuilt single-precision kernels.
struct prebuilt_row {
    const char* name;  // forward name; the backward one ends in "_bwd"
    int pass;
    int64_t fft_length, columns, chunk_columns, fact0, fact1, num_work_groups;
    uint64_t bytes_fwd, bytes_bwd;
};
constexpr int prebuilt_row_count = 8;
extern const prebuilt_row prebuilt_rows[prebuilt_row_count];

// Index of the prebuilt row for (pass, dir), or -1. `backend` 1 = Level Zero;
// `driver` the device's driver version (may be null). The element strides
// must equal the column count: the binaries were built for that layout.
int select_prebuilt(const plan& p, int pass, int dir, int backend, const char* driver);

// The prebuilt kernel's name for a direction ("..._fwd" or "..._bwd").
std::string prebuilt_name(int row, int dir);

// True when the float tables are filled on the host (a pass length of 64 or 128).
bool host_tables(const plan& p);

}  // namespace korami::ovx::dft::four_facts_colbatch

#endif
