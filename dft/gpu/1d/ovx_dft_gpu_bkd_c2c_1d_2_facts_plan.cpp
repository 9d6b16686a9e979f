#include "dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_2_facts_plan.hpp"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace korami::ovx::dft::two_facts {
namespace {

constexpr int64_t max_length = 4096;
constexpr int64_t max_length_double = 1024;
constexpr int64_t max_factor = 64;
constexpr int64_t max_local_bytes = 131072;
constexpr int64_t max_work_group = 256;

int64_t default_threshold(bool single) { return single ? 65 : 33; }

// Appends a formatted piece; false when the whole text would pass `limit` characters.
bool append(std::string& s, size_t limit, const char* fmt, ...) {
    char buf[512];
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    if (n < 0 || static_cast<size_t>(n) >= sizeof buf || s.size() + static_cast<size_t>(n) > limit)
        return false;
    s.append(buf, static_cast<size_t>(n));
    return true;
}

std::string func_name(int64_t fact, bool single, const char* default_word) {
    char buf[64];
    if (fact < default_threshold(single))
        std::snprintf(buf, sizeof buf, "fft_%lld_%s", static_cast<long long>(fact), "s");
    else
        std::snprintf(buf, sizeof buf, "fft_%lld_%s_%s", static_cast<long long>(fact), default_word, "s");
    return buf;
}

}  // namespace

bool length_accepted(int64_t n) {
    if (n % 2 != 0 || n > max_length) return false;
    if (n >= 1001 && n <= 4095) {
        const int64_t h = n / 2;
        for (int64_t d = 2;; ++d) {
            if (h % d == 0) return true;
            if ((d + 1) * (d + 1) > h) return false;
        }
    }
    return true;
}

bool factor_pair(int64_t n, int64_t& fact0, int64_t& fact1) {
    if (n == 128) {
        fact0 = 8;
        fact1 = 16;
        return true;
    }
    if (n <= 2) return false;
    int64_t best_d = 0, best_q = 0, best_diff = max_factor;
    for (int64_t d = (n < 65 ? n : 65) - 1; d >= 2 && best_diff != 0; --d) {
        if (n % d != 0) continue;
        const int64_t q = n / d;
        if (q == 1 || q > max_factor) continue;
        const int64_t diff = std::llabs(d - q);
        if (diff < best_diff) {
            best_diff = diff;
            best_d = d;
            best_q = q;
        }
    }
    if (best_d == 0) return false;
    const int64_t big = best_d > best_q ? best_d : best_q;
    const int64_t small = best_d > best_q ? best_q : best_d;
    if (big % 2 == 0) {
        fact0 = big;
        fact1 = small;
    } else {
        fact0 = small;
        fact1 = big;
    }
    return true;
}

int make_plan(const plan_input& in, plan& out) {
    out = plan{};
    out.n = in.n;
    out.single = in.single;
    if (!in.has_subgroup8) return plan_not_applicable;
    if (!factor_pair(in.n, out.fact0, out.fact1)) return plan_not_applicable;
    out.batch = in.batch;
    out.io_distances = use_io_distances(in.batch);
    if (!in.single) {
        if (in.n > max_length_double) return plan_not_applicable;
    } else {
        for (int dir = 0; dir < 2; ++dir) {
            if (in.directions != 2 && in.directions != dir) continue;
            if (output_distance_of(in.batch, dir) % 2 != 0) return plan_not_applicable;
        }
    }
    out.subgroup_size = 8;
    out.padfact0 = (4 - out.fact0 % 4) % 4;
    out.padfact1 = (4 - out.fact1 % 4) % 4;
    const int64_t real = in.single ? 4 : 8;
    out.table_bytes = out.fact0 * (out.fact1 + out.padfact1) * 4 * real;
    const int64_t a = (out.padfact0 + 2 * out.fact0 * out.fact1) * real;
    const int64_t b = out.fact0 * (out.fact1 + out.padfact1) * 2 * real;
    out.local_bytes = a > b ? a : b;
    if (out.local_bytes > max_local_bytes) return plan_not_applicable;
    const int64_t m0 = (out.fact1 + out.padfact1) / 4;
    if (out.fact0 <= out.fact1) {
        out.work_group_size = 8 * m0;
        out.fact1_loop_bound = 1;
    } else {
        const int64_t p = (out.fact0 + out.padfact0) / 4;
        int64_t m = m0;
        while (m < p && p % m != 0) ++m;
        out.work_group_size = 8 * m;
        out.fact1_loop_bound = p / m;
    }
    if (out.work_group_size > max_work_group) return plan_not_applicable;
    const bool quad = in.arch == OVX_GPU_ARCH_QUEN1 || in.arch == OVX_GPU_ARCH_QUEN3;
    out.batch_per_group = (quad && (!in.single || in.n <= 1024)) ? 4 : 1;
    const int64_t rem = in.batch.transforms % out.batch_per_group;
    out.batch_for_last_group = rem == 0 ? out.batch_per_group : rem;
    out.groups = (in.batch.transforms + out.batch_per_group - 1) / out.batch_per_group;
    return 0;
}

std::string kernel_name(const plan& p) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "fft_%lld_rowbatch_%s", static_cast<long long>(p.n), p.single ? "s" : "d");
    return buf;
}

std::string fact0_func_name(const plan& p) { return func_name(p.fact0, p.single, "default0"); }
std::string fact1_func_name(const plan& p) { return func_name(p.fact1, p.single, "default1"); }

bool uses_default_func(const plan& p, int64_t fact) { return fact >= default_threshold(p.single); }

std::string build_options(const plan& p, int dir) {
    std::string s;
    const size_t limit = 511;
    const long long idist = input_distance_of(p.batch, dir);
    const long long odist = output_distance_of(p.batch, dir);
    const std::string k = kernel_name(p), f0 = fact0_func_name(p), f1 = fact1_func_name(p);
    if (!append(s, limit,
                "%s-DFACT0=%lld -DPADFACT0=%lld -DFACT1=%lld -DPADFACT1=%lld -DKERNEL_FUNC=%s -DFACT0_FUNC=%s "
                "-DFACT1_FUNC=%s -DFWD_DIR=%d -DBWD_DIR=%d -DIDIST=%lld -DODIST=%lld -DWORK_GROUP_SIZE=%lld "
                "-DSUBGROUP_SIZE=%lld -DFACT1_LOOP_BOUND=%lld ",
                p.single ? "" : "-Dcl_tarvo_subgroups_long ", static_cast<long long>(p.fact0),
                static_cast<long long>(p.padfact0), static_cast<long long>(p.fact1),
                static_cast<long long>(p.padfact1), k.c_str(), f0.c_str(), f1.c_str(), dir == 0 ? 1 : 0, dir,
                idist, odist, static_cast<long long>(p.work_group_size), static_cast<long long>(p.subgroup_size),
                static_cast<long long>(p.fact1_loop_bound)))
        return {};
    if (p.batch_per_group >= 2 &&
        !append(s, limit, "-DBATCH_PER_GROUP=%lld -DBATCH_FOR_LAST_GROUP=%lld ",
                static_cast<long long>(p.batch_per_group), static_cast<long long>(p.batch_for_last_group)))
        return {};
    if (uses_default_func(p, p.fact0) && !append(s, limit, "-DFACT0_DEFAULT_FUNC=%s ", f0.c_str())) return {};
    if (uses_default_func(p, p.fact1) && !append(s, limit, "-DFACT1_DEFAULT_FUNC=%s ", f1.c_str())) return {};
    return s;
}

}  // namespace korami::ovx::dft::two_facts
