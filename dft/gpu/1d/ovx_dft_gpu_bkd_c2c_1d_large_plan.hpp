// Planning of the large 1D complex backend (2^21 to 2^26 points as
// N = N1 x N2 in four steps: transpose into a padded N2 x P work matrix,
// N2 row transforms of N1 points with the inter-step twiddles, N1 column
// transforms of N2 points): pure functions shared by both precisions and the
// unit tests.
#ifndef OVX_DFT_GPU_BKD_C2C_1D_LARGE_PLAN_HPP
#define OVX_DFT_GPU_BKD_C2C_1D_LARGE_PLAN_HPP

#include <cstdint>

#include "dft/gpu/frame/plan_common.hpp"

namespace korami::ovx::dft::large_1d {

using plan_common::batch_info;

// The lengths the backend takes: powers of two in 2^21 .. 2^26.
bool length_accepted(int64_t n);

// The split N = n1 x n2, n1 >= n2 (false when none is found).
bool split(int64_t n, int64_t& n1, int64_t& n2);

struct plan {
    int64_t n = 0, n1 = 0, n2 = 0;
    int64_t row_pad_bytes = 0;   // 256 for 2^24, 2048 for 2^25
    int64_t row_elems = 0;       // P: elements of one work-matrix row
    int64_t matrix_bytes = 0;    // S = (N1 * element bytes + padding) * N2
    int64_t distance = 0;        // of the batch, N
    int64_t transforms = 0;
};

// plan_made, or plan_not_applicable (distances, alignment of the batch).
// `align_bytes` is the device's base-address alignment in bytes.
int make_plan(int64_t n, bool single, const batch_info& batch, int64_t align_bytes, plan& p);

}  // namespace korami::ovx::dft::large_1d

#endif
