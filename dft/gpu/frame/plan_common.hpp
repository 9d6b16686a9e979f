// Pieces shared by the planners of the backend modules: the batch record
// they copy from the node and the distances the kernels take from it (the
// layout rule of layout.hpp), the fields every planner input starts with, the
// scratch cap of the chunked planners, bounded formatting and the balanced
// split of a length into two factors. No SYCL: the planners' host tests use
// it.
#ifndef OVX_DFT_GPU_FRAME_PLAN_COMMON_HPP
#define OVX_DFT_GPU_FRAME_PLAN_COMMON_HPP

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

#include "dft/gpu/frame/layout.hpp"
#include "korami/ovx/gpu_types.h"

namespace korami::ovx::dft {

// Answers of the planners (the node's status values): the plan was made, a
// step of the planner failed (a name or option text did not fit, a length
// below 1), or the module does not compute the problem so that the next
// candidate of the list is tried.
enum plan_status : int { plan_made = 0, plan_failed = 7, plan_not_applicable = 100 };

}  // namespace korami::ovx::dft

namespace korami::ovx::dft::plan_common {

struct batch_info {
    std::int64_t transforms = 1;
    std::int64_t fwd_distance = 0, bwd_distance = 0;
    std::int64_t input_distance = 0, output_distance = 0;
};

// True when the kernels take input/output distances for both directions.
inline bool use_io_distances(const batch_info& b) {
    return gpufw::io_distances(b.input_distance, b.output_distance, b.fwd_distance, b.bwd_distance);
}

// Input and output distance of the kernel of direction dir (0 forward, 1 backward).
inline std::int64_t input_distance_of(const batch_info& b, int dir) {
    return gpufw::governing_distances(b.input_distance, b.output_distance, b.fwd_distance, b.bwd_distance, dir).in;
}

inline std::int64_t output_distance_of(const batch_info& b, int dir) {
    return gpufw::governing_distances(b.input_distance, b.output_distance, b.fwd_distance, b.bwd_distance, dir).out;
}

// The fields every planner input starts with: the length, the precision, the
// device generation (ovx_gpu_arch_t), the directions built and the working
// batch record. A module fills them with frame_plan_input (shapes.hpp).
struct plan_input_base {
    std::int64_t n = 0;
    bool single = false;
    int arch = 0;        // GPU generation code (1..8), 0 when not known
    int directions = 2;  // 0 forward, 1 backward, 2 both
    batch_info batch;
};

// Generation code 9 (past Quen8): no device yields it; the planners written
// for generation 6 accept it as well.
constexpr int arch_code9 = 9;

// The largest scratch one chunk of a chunked planner (three-factor,
// 8192-point, real, no-sub-group) may take: 16 GiB on Quen6, else 42 MiB.
constexpr std::uint64_t scratch_cap_default = 44040192ull;
constexpr std::uint64_t scratch_cap_quen6 = 17179869184ull;
constexpr std::uint64_t scratch_cap_of(int arch) {
    return arch == OVX_GPU_ARCH_QUEN6 ? scratch_cap_quen6 : scratch_cap_default;
}

// Formats into a std::string; empty when the text would not fit `cap` bytes.
template <class... A>
std::string format(std::size_t cap, const char* fmt, A... args) {
    std::string s(cap, '\0');
    const int n = std::snprintf(&s[0], cap, fmt, args...);
    if (n < 0 || static_cast<std::size_t>(n) >= cap) return std::string();
    s.resize(static_cast<std::size_t>(n));
    return s;
}

// Most balanced pair (larger, smaller) of n with both factors in [2, max]:
// plan_made, plan_not_applicable when there is none, plan_failed for n < 1.
inline int split_two_factors_balanced(int64_t n, int64_t out[2], int64_t max) {
    if (n < 1) return plan_failed;
    if (n == 1) return plan_not_applicable;
    const int64_t start = std::min(max, n - 1);
    if (start < 2 || max < 1) return plan_not_applicable;
    int64_t best = max, a = 0, b = 0;
    for (int64_t t = start; t >= 2; --t) {
        if (n % t != 0) continue;
        const int64_t q = n / t;
        if (q == 1 || q > max) continue;
        const int64_t hi = std::max(t, q), lo = std::min(t, q);
        if (hi - lo < best) {
            best = hi - lo;
            a = hi;
            b = lo;
            if (best == 0) break;
        }
    }
    if (a == 0) return plan_not_applicable;
    out[0] = a;
    out[1] = b;
    return a * b == n ? plan_made : plan_failed;
}

}  // namespace korami::ovx::dft::plan_common

#endif
