#include "dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_n_facts_slm_plan.hpp"

#include <algorithm>
#include <cstring>

namespace korami::ovx::dft::n_facts_slm {

using plan_common::format;

bool choose_factors(int64_t n, int64_t f[4]) {
    static const int64_t radix[3] = {16, 8, 4};
    int64_t best_cost = -1;
    for (int64_t a : radix)
        for (int64_t b : radix)
            for (int64_t c : radix)
                for (int64_t d : radix) {
                    if (a == 4 && b == 4 && c == 4 && d == 4) continue;
                    if (a * b * c * d != n) continue;
                    const int64_t hi = std::max({a, b, c, d}), lo = std::min({a, b, c, d});
                    const int64_t cost = (hi - lo) * (hi + lo);
                    if (best_cost >= 0 && cost >= best_cost) continue;
                    best_cost = cost;
                    f[0] = a;
                    f[1] = b;
                    f[2] = c;
                    f[3] = d;
                }
    if (best_cost < 0) return false;
    std::sort(f, f + 4);
    return true;
}

bool single_count_accepted(int64_t n, int64_t transforms) {
    if (n == 1024) return transforms > 32768;
    if (n == 512) return transforms > 65536;
    return true;
}

int64_t idist(const plan& p, int dir) { return plan_common::input_distance_of(p.batch, dir); }
int64_t odist(const plan& p, int dir) { return plan_common::output_distance_of(p.batch, dir); }

static bool built(int directions, int dir) { return directions == 2 || directions == dir; }

int make_plan(const plan_input& in, const device_facts& dev, plan& p) {
    p = plan{};
    p.n = in.n;
    p.single = in.single;
    p.row = in.row;
    p.directions = in.directions;
    p.batch = in.batch;
    if (dev.min_sub_group < 16) return plan_not_applicable;
    if (!choose_factors(in.n, p.fact)) return plan_not_applicable;
    p.max_fact = p.fact[3];
    const int64_t q = in.n / p.max_fact;
    p.load_store_tail = q % 8;
    p.work_group_size = (2 * q + 15) / 16 * 16;
    if (p.work_group_size > dev.max_work_group) p.work_group_size = dev.max_work_group / 16 * 16;
    if (p.work_group_size < 16) return plan_not_applicable;
    p.subgroups = (2 * q + 15) / 16;
    p.load_loop_bound = 2 * q == p.work_group_size ? 0 : 2 * q / p.work_group_size;
    p.load_loop_tail = (2 * q % p.work_group_size) / 16;
    const int64_t elem = in.single ? 8 : 16;
    p.slm_bytes = elem * in.n;
    if (p.slm_bytes > dev.local_mem) return plan_not_applicable;
    p.main_table_bytes = p.subgroups * p.fact[3] * (in.single ? 128 : 256);
    p.area_bytes[1] = p.fact[0] * p.fact[1] * elem;
    p.area_bytes[2] = p.fact[0] * p.fact[1] * p.fact[2] * elem;
    if (in.row) {
        p.pre_twiddle_rows = in.pre_twiddle_rows;
        // The kernel's row index runs over the working transforms: a table
        // sized for another count would be read past its end.
        if (p.pre_twiddle_rows != in.batch.transforms || p.pre_twiddle_rows < 1) return plan_not_applicable;
        if (in.n <= 2048) p.pre_twiddle_bytes = in.n * p.pre_twiddle_rows * elem;
    }
    if (in.single && in.batch.transforms >= 2)
        for (int dir = 0; dir < 2; ++dir)
            if (built(in.directions, dir) && (odist(p, dir) & 1) != 0) return plan_not_applicable;
    // In place, the kernel writes transform t at ODIST * t while other
    // work-groups still read theirs at IDIST * t: the distances must agree.
    if (in.in_place && in.batch.transforms >= 2)
        for (int dir = 0; dir < 2; ++dir)
            if (built(in.directions, dir) && idist(p, dir) != odist(p, dir)) return plan_not_applicable;
    return plan_made;
}

std::string kernel_name(const plan& p) {
    return format(64, "fft_%lld_n_fact_slm_%lld_%s", static_cast<long long>(p.n),
                  static_cast<long long>(p.subgroup_size / 2), p.single ? "s" : "d");
}

std::string fact_func_name(int64_t fact) { return format(64, "fft_%lld_%s", static_cast<long long>(fact), "s"); }

std::string build_options(const plan& p, int dir) {
    const std::string k = kernel_name(p);
    const std::string f0 = fact_func_name(p.fact[0]), f1 = fact_func_name(p.fact[1]);
    const std::string f2 = fact_func_name(p.fact[2]), f3 = fact_func_name(p.fact[3]);
    std::string s = format(1024,
                           "%s-DFFT_LEN=%lld -DFACT0=%lld -DFACT1=%lld -DFACT2=%lld -DFACT3=%lld -DMAX_FACT=%lld "
                           "-DKERNEL_FUNC=%s -DFACT0_FUNC=%s -DFACT1_FUNC=%s -DFACT2_FUNC=%s -DFACT3_FUNC=%s "
                           "-DFWD_DIR=%d -DBWD_DIR=%d -DIDIST=%lld -DODIST=%lld -DWORK_GROUP_SIZE=%lld "
                           "-DSUBGROUP_SIZE=%lld %s",
                           p.single ? "" : "-Dcl_tarvo_subgroups_long ", static_cast<long long>(p.n),
                           static_cast<long long>(p.fact[0]), static_cast<long long>(p.fact[1]),
                           static_cast<long long>(p.fact[2]), static_cast<long long>(p.fact[3]),
                           static_cast<long long>(p.max_fact), k.c_str(), f0.c_str(), f1.c_str(), f2.c_str(),
                           f3.c_str(), dir == 0 ? 1 : 0, dir == 0 ? 0 : 1, static_cast<long long>(idist(p, dir)),
                           static_cast<long long>(odist(p, dir)), static_cast<long long>(p.work_group_size),
                           static_cast<long long>(p.subgroup_size), p.row ? "-DUSE_PRE_TWIDDLE " : "");
    if (s.empty()) return s;
    const struct {
        const char* fmt;
        int64_t v;
    } tails[3] = {{"-DLOAD_STORE_TAIL=%lld ", p.load_store_tail},
                  {"-DLOAD_LOOP_BOUND=%lld ", p.load_loop_bound},
                  {"-DLOAD_LOOP_TAIL=%lld ", p.load_loop_tail}};
    for (const auto& t : tails)
        if (t.v != 0) s += format(64, t.fmt, static_cast<long long>(t.v));
    if (p.row) {
        if (p.pre_twiddle_bytes != 0)
            s += "-DUSE_PRECOMPUTED_PRE_TWIDDLE ";
        else
            s += format(64, "-DUSE_RUNTIME_PRE_TWIDDLE -DPRE_TW_NUM_PTS=%lld ",
                        static_cast<long long>(p.n * p.pre_twiddle_rows));
    }
    if (s.size() >= 1024) return std::string();
    return s;
}

std::string prebuilt_name(const plan& p, int dir, int backend, const char* driver) {
    if (!p.single || p.row || backend != 1) return std::string();
    if (!driver || std::strlen(driver) < 3 || std::strncmp(driver, "1.6", 3) != 0) return std::string();
    const int64_t i = idist(p, dir), o = odist(p, dir);
    if ((i != 0 && i != p.n) || (o != 0 && o != p.n)) return std::string();
    if (p.n != 4096 && p.n != 8192) return std::string();
    return format(64, "fft%lld_n_fact_slm_s_%s", static_cast<long long>(p.n), dir == 0 ? "fwd" : "bwd");
}

}  // namespace korami::ovx::dft::n_facts_slm
