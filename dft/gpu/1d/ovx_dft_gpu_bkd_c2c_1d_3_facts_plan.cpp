#include "dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_3_facts_plan.hpp"

#include <cstdio>
#include <cstring>

namespace korami::ovx::dft::three_facts {

bool length_accepted(int64_t n, bool single) {
    return n > 0 && n % 4 == 0 && n <= (single ? 262144 : 64000);
}

bool choose_factors(int64_t n, bool single, int arch, int64_t f[3]) {
    if (!single && arch == OVX_GPU_ARCH_QUEN4) {
        if (n == 21000) {
            f[0] = 28, f[1] = 30, f[2] = 25;
            return true;
        }
        if (n == 29400) {
            f[0] = 28, f[1] = 35, f[2] = 30;
            return true;
        }
    }
    static const int64_t first_double[] = {40, 36, 32, 28, 24, 20, 16, 12, 8, 4};
    static const int64_t first_single[] = {64, 60, 56, 52, 48, 44, 40, 36, 32, 28, 24, 20, 16, 12, 8, 4};
    const int64_t* list = single ? first_single : first_double;
    const int count = single ? 16 : 10;
    int64_t f0 = 0;
    for (int i = 0; i < count; ++i)
        if (n % list[i] == 0) {
            f0 = list[i];
            break;
        }
    if (f0 == 0) return false;
    const int64_t m = n / f0;
    if (m < 4) return false;
    const int64_t limit = single ? 64 : 40;
    int64_t f1 = 0, f2 = 0;
    for (int64_t d = 2; d * d <= m; ++d)
        if (m % d == 0 && m / d <= limit && d <= limit) {
            f1 = m / d;
            f2 = d;
        }
    if (f1 == 0) return false;
    f[0] = f0, f[1] = f1, f[2] = f2;
    return true;
}

int make_plan(const plan_input& in, plan& out) {
    out = plan{};
    out.single = in.single;
    out.n = in.n;
    out.arch = in.arch;
    if (!length_accepted(in.n, in.single)) return plan_not_applicable;
    if (!in.has_subgroup8) return plan_not_applicable;
    if (!choose_factors(in.n, in.single, in.arch, out.factors)) return plan_not_applicable;
    out.batch = in.batch;
    if (in.single) {
        for (int dir = 0; dir < 2; ++dir) {
            if (in.directions != 2 && in.directions != dir) continue;
            if (output_distance_of(in.batch, dir) % 2 != 0) return plan_not_applicable;
        }
    }
    const uint64_t e = in.single ? 8 : 16;
    const int64_t f0 = out.factors[0], f1 = out.factors[1], f2 = out.factors[2];
    out.table1_bytes = static_cast<uint64_t>(in.n) * e;
    out.table2_bytes = static_cast<uint64_t>(f1 * f2) * e;
    out.row_pitch = in.n + 4;
    const uint64_t pitch = static_cast<uint64_t>(out.row_pitch) * e;
    uint64_t cap = plan_common::scratch_cap_of(in.arch);
    if (in.cap_override != 0) cap = in.cap_override;
    const uint64_t b = in.batch.transforms > 0 ? static_cast<uint64_t>(in.batch.transforms) : 0;
    // B x pitch may not overflow: B below 2^63 and pitch below 2^23.
    const uint64_t want = b > cap / pitch + 1 ? cap : b * pitch;
    const uint64_t s = want < cap ? want : cap;
    out.chunk_transforms = static_cast<int64_t>(s / pitch);
    out.scratch_bytes = s;
    if (out.chunk_transforms < 1 && b > 0) return plan_not_applicable;  // one transform does not fit the cap
    const int64_t per_real = in.single ? 256 : 512;
    out.local_bytes[0] = f0 * per_real;
    out.local_bytes[1] = f1 * per_real;
    out.local_bytes[2] = f2 * per_real;
    out.global_x[0] = (f1 * f2 + 31) / 32 * 64;
    out.global_x[1] = (f0 * f2 + 31) / 32 * 64;
    out.global_x[2] = (f0 * f1 + 31) / 32 * 64;
    return 0;
}

std::string kernel_name(const plan& p, int pass) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "fft_%lld_rowbatch%d_%s", static_cast<long long>(p.factors[pass]), pass,
                  p.single ? "s" : "d");
    return buf;
}

std::string butterfly_name(const plan& p, int pass) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "fft_%lld_%s", static_cast<long long>(p.factors[pass]), "s");
    return buf;
}

bool wants_large_grf(const plan& p, int pass) {
    if (p.arch != OVX_GPU_ARCH_QUEN4 && p.arch != OVX_GPU_ARCH_QUEN6) return false;
    const int64_t q = 131072 / p.local_bytes[pass];
    const int64_t w = p.work_group_size * q / p.sub_group_size;
    return p.arch == OVX_GPU_ARCH_QUEN4 ? w <= 85 : w <= 44;
}

std::string build_options(const plan& p, int dir, int pass) {
    char buf[512];
    std::memset(buf, 0, sizeof buf);
    const std::string k0 = kernel_name(p, 0), k1 = kernel_name(p, 1), k2 = kernel_name(p, 2);
    const std::string b0 = butterfly_name(p, 0), b1 = butterfly_name(p, 1), b2 = butterfly_name(p, 2);
    int n = std::snprintf(
        buf, sizeof buf,
        "%s-DFACT0=%lld -DFACT1=%lld -DFACT2=%lld -DKERNEL_FUNC0=%s -DKERNEL_FUNC1=%s -DKERNEL_FUNC2=%s "
        "-DFACT0_FUNC=%s -DFACT1_FUNC=%s -DFACT2_FUNC=%s -DFWD_DIR=%d -DBWD_DIR=%d -DIDIST=%lld -DODIST=%lld "
        "-DTDIST=%lld -DWORK_GROUP_SIZE=%lld -DSUBGROUP_SIZE=%lld -DSUBGRPS_IN_GROUP=%lld ",
        p.single ? "" : "-Dcl_tarvo_subgroups_long ", static_cast<long long>(p.factors[0]),
        static_cast<long long>(p.factors[1]), static_cast<long long>(p.factors[2]), k0.c_str(), k1.c_str(),
        k2.c_str(), b0.c_str(), b1.c_str(), b2.c_str(), dir == 0 ? 1 : 0, dir,
        static_cast<long long>(input_distance_of(p.batch, dir)),
        static_cast<long long>(output_distance_of(p.batch, dir)), static_cast<long long>(p.row_pitch),
        static_cast<long long>(p.work_group_size), static_cast<long long>(p.sub_group_size),
        static_cast<long long>(p.work_group_size / p.sub_group_size));
    if (n < 0 || static_cast<size_t>(n) >= sizeof buf) return {};
    std::string s(buf);
    if (wants_large_grf(p, pass)) {
        const char* grf = "-cl-tarvo-256-GRF-per-thread ";
        if (s.size() + std::strlen(grf) >= sizeof buf) return {};
        s += grf;
    }
    return s;
}

int64_t chunk_count(const plan& p) {
    if (p.batch.transforms <= 0 || p.chunk_transforms <= 0) return 0;
    return (p.batch.transforms + p.chunk_transforms - 1) / p.chunk_transforms;
}

}  // namespace korami::ovx::dft::three_facts
