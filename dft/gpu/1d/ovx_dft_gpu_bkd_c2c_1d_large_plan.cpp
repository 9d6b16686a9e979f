#include "dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_large_plan.hpp"

#include <algorithm>

namespace korami::ovx::dft::large_1d {

bool length_accepted(int64_t n) { return n > (int64_t(1) << 20) && n <= (int64_t(1) << 26) && (n & (n - 1)) == 0; }

bool split(int64_t n, int64_t& n1, int64_t& n2) {
    int64_t best = -1, ba = 0, bb = 0;
    for (int64_t a = std::max<int64_t>(2, n / 8192); a <= 8192; ++a) {
        // Past 1024, a found split is kept (2^22 as 4096 x 1024).
        if (a >= 1025 && best >= 0) break;
        const int64_t b = n / a;
        if (b > 8192 || a * b != n) continue;
        const int64_t cost = (a > b ? a - b : b - a) * (a + b);
        if (best < 0 || cost < best) {
            best = cost;
            ba = a;
            bb = b;
        }
    }
    if (best < 0) return false;
    n1 = std::max(ba, bb);
    n2 = std::min(ba, bb);
    return true;
}

int make_plan(int64_t n, bool single, const batch_info& batch, int64_t align_bytes, plan& p) {
    p = plan{};
    p.n = n;
    if (!length_accepted(n) || !split(n, p.n1, p.n2)) return plan_not_applicable;
    const int64_t d0 = plan_common::input_distance_of(batch, 0);
    const int64_t d1 = plan_common::output_distance_of(batch, 0);
    if (d0 != d1) return plan_not_applicable;
    p.transforms = batch.transforms;
    p.distance = (batch.transforms == 1 && d0 == 0) ? n : d0;
    if (p.distance != n) return plan_not_applicable;
    const int64_t elem = single ? 8 : 16;
    p.row_pad_bytes = n == (int64_t(1) << 24) ? 256 : n == (int64_t(1) << 25) ? 2048 : 0;
    p.row_elems = p.n1 + p.row_pad_bytes / elem;
    p.matrix_bytes = (p.n1 * elem + p.row_pad_bytes) * p.n2;
    if (batch.transforms >= 2 && align_bytes > 0 && p.matrix_bytes % align_bytes != 0) return plan_not_applicable;
    return plan_made;
}

}  // namespace korami::ovx::dft::large_1d
