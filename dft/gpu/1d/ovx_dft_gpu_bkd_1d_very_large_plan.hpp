// Planning of the very large single-precision 1D backend: the fixed lengths,
// their three factors and row padding, the applicability test and the shapes
// of the three stage sub-nodes. Pure functions.
#ifndef OVX_DFT_GPU_BKD_1D_VERY_LARGE_PLAN_HPP
#define OVX_DFT_GPU_BKD_1D_VERY_LARGE_PLAN_HPP

#include <cstdint>

#include "dft/gpu/frame/plan_common.hpp"

namespace korami::ovx::dft::very_large {

struct factors {
    int64_t n0 = 0, n1 = 0, n2 = 0, pad = 0;
};

// Factors of the complex length nc; false when nc is not a planned length.
bool plan_of_complex_length(int64_t nc, factors& out);

struct record {
    int64_t count = 1;
    int64_t input_distance = 0, output_distance = 0, fwd_distance = 0, bwd_distance = 0;
};

struct shape {
    bool real = false;
    int32_t complex_storage = 39, real_storage = 42, conjugate_even_storage = 39;
    int dims = 1, batches = 1;
    int64_t n = 0;
    int64_t input_stride = 0, output_stride = 0, fwd_stride = 0, bwd_stride = 0;
    int64_t input_offset = 0, output_offset = 0, fwd_offset = 0, bwd_offset = 0;
    record batch;
};

// The commit test: 0 or 100.
int commit_test(const shape& s);

bool uses_io_distances(const record& r);
// Complex-element distances of the compute (halved where the data are real).
int64_t compute_input_distance(const record& r, bool real, int dir);
int64_t compute_output_distance(const record& r, bool real, int dir);

// Output distance (complex elements) that decides a second stage-2 sub-node.
int64_t stage2_output_distance(const record& r, bool real, int dir);

// One stage sub-node's shape.
struct stage_shape {
    int64_t length = 0;
    bool in_place = false;
    int64_t input_stride = 0, output_stride = 0;
    record batch[2];
    int64_t colbatch_group_count = 0;
    int64_t output_offset = 0;
};

stage_shape stage_of(const factors& f, int stage, bool odd_output);

// Scratch bytes: (n0 + pad) x n1 x n2 complex floats.
uint64_t scratch_bytes(const factors& f);

}  // namespace korami::ovx::dft::very_large

#endif
