// Pieces shared by the planners of the 1D modules: the batch record they copy
// from the node and the distances the kernels take from it, bounded
// formatting and the balanced split of a length into two factors.
#ifndef OVX_DFT_GPU_FRAME_PLAN_COMMON_HPP
#define OVX_DFT_GPU_FRAME_PLAN_COMMON_HPP

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

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
    return b.fwd_distance == 0 && b.bwd_distance == 0 && b.input_distance != 0 && b.output_distance != 0;
}

// Input and output distance of the kernel of direction dir (0 forward, 1 backward).
inline std::int64_t input_distance_of(const batch_info& b, int dir) {
    if (use_io_distances(b)) return b.input_distance;
    return dir == 0 ? b.fwd_distance : b.bwd_distance;
}

inline std::int64_t output_distance_of(const batch_info& b, int dir) {
    if (use_io_distances(b)) return b.output_distance;
    return dir == 0 ? b.bwd_distance : b.fwd_distance;
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
