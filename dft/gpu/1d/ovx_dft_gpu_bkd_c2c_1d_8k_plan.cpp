#include "dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_8k_plan.hpp"

#include <cstdio>

namespace korami::ovx::dft::eight_k {

int make_plan(const plan_input& in, plan& out) {
    out = plan{};
    out.single = in.single;
    if (in.n != length) return plan_not_applicable;
    if (!in.has_subgroup8) return plan_not_applicable;
    out.batch = in.batch;
    for (int dir = 0; dir < 2; ++dir) {
        if (in.directions != 2 && in.directions != dir) continue;
        if (input_distance_of(in.batch, dir) != length || output_distance_of(in.batch, dir) != length) return plan_not_applicable;
    }
    const uint64_t real = in.single ? 4 : 8;
    out.pass1_local_bytes = static_cast<int64_t>(4 * 2 * out.n0 * real);
    out.pass2_local_bytes = static_cast<int64_t>(4 * 2 * out.n1 * real);
    if (in.batch.transforms < 0) return plan_not_applicable;
    const uint64_t need = static_cast<uint64_t>(length) * static_cast<uint64_t>(in.batch.transforms) * 2 * real;
    const uint64_t cap = plan_common::scratch_cap_of(in.arch);
    if (need > cap) return plan_not_applicable;
    out.scratch_bytes = need;
    out.class3_table_bytes = 32768 * real;
    out.class1_table_bytes = 512 * real;
    out.class2_table_bytes = 256 * real;
    return 0;
}

std::string pass1_kernel_name(bool single) { return single ? "fft_8192_fact_128_s" : "fft_8192_fact_128_d"; }
std::string pass2_kernel_name(bool single) { return single ? "fft_8192_fact_64_s" : "fft_8192_fact_64_d"; }

std::string build_options(const plan& p, int dir) {
    char buf[1024] = {0};
    const std::string k1 = pass1_kernel_name(p.single), k2 = pass2_kernel_name(p.single);
    int n = std::snprintf(
        buf, sizeof buf,
        "%s-DN0=%lld -DN0_FACT0=%lld -DN0_FACT1=%lld -DN1=%lld -DN1_FACT0=%lld -DN1_FACT1=%lld "
        "-DTRANSPOSE_OUTPUT_FUNC=%s -DN0_FACT0_FUNC=%s -DN0_FACT1_FUNC=%s -DSAME_ORIENTATION_OUTPUT_FUNC=%s "
        "-DN1_FACT0_FUNC=%s -DN1_FACT1_FUNC=%s -DFWD_DIR=%d -DBWD_DIR=%d -DIDIST=%lld -DODIST=%lld "
        "-DWORK_GROUP_SIZE=%lld -DSUBGROUP_SIZE=%lld -DCOLS_PER_WG=%lld ",
        p.single ? "" : "-Dcl_tarvo_subgroups_long ", static_cast<long long>(p.n0),
        static_cast<long long>(p.n0_fact0), static_cast<long long>(p.n0_fact1), static_cast<long long>(p.n1),
        static_cast<long long>(p.n1_fact0), static_cast<long long>(p.n1_fact1), k1.c_str(), "fft_16_s", "fft_8_s",
        k2.c_str(), "fft_8_s", "fft_8_s", dir == 0 ? 1 : 0, dir,
        static_cast<long long>(input_distance_of(p.batch, dir)),
        static_cast<long long>(output_distance_of(p.batch, dir)), static_cast<long long>(p.work_group_size),
        static_cast<long long>(p.subgroup_size), static_cast<long long>(p.cols_per_wg));
    if (n < 0 || static_cast<size_t>(n) >= sizeof buf) return {};
    return buf;
}

int64_t class1_position(int64_t i, int64_t j) { return 256 * (j / 4) + 16 * i + 2 * (j % 4); }
int64_t class2_position(int64_t i, int64_t j) { return 128 * (j / 4) + 16 * i + 2 * (j % 4); }
int64_t class3_position(int64_t n1, int64_t t) { return 512 * n1 + 16 * (t / 4) + 2 * (t % 4); }
int64_t class3_k0(int64_t t) {
    const int64_t h = t / 64, r = (t % 64) / 4, p = t % 4;
    return 4 * h + p + 8 * (r / 8) + 16 * (r % 8);
}

}  // namespace korami::ovx::dft::eight_k
