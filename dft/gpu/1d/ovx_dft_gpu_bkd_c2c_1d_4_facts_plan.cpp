#include "dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_4_facts_plan.hpp"

#include <cstdio>
#include <limits>

#include "dft/gpu/frame/align.hpp"

namespace korami::ovx::dft::four_facts {

using plan_common::format;

namespace {

bool is_prime(int64_t v) {
    if (v < 2) return false;
    for (int64_t d = 2; d * d <= v; ++d)
        if (v % d == 0) return false;
    return true;
}

}  // namespace

int split_two_factors_max49(int64_t n, int64_t out[2]) { return plan_common::split_two_factors_balanced(n, out, 49); }

int choose_pass_lengths(int64_t n, bool single, int64_t lengths[2], int64_t factors[2][2]) {
    uint64_t best = std::numeric_limits<uint64_t>::max();
    bool found = false;
    for (int64_t n1 = 2; n1 <= 1024; ++n1) {
        if (n % n1 != 0) continue;
        const int64_t n2 = n / n1;
        if (n2 < 2 || n2 > 1024) continue;
        if (single && ((n1 & 1) || (n2 & 1))) continue;
        int64_t s1[2], s2[2];
        if (split_two_factors_max49(n1, s1) != 0) continue;
        if (s1[0] == 49 && is_prime(s1[1])) continue;
        if (split_two_factors_max49(n2, s2) != 0) continue;
        if (s2[0] == 49 && is_prime(s2[1])) continue;
        const uint64_t diff = static_cast<uint64_t>(n1 > n2 ? n1 - n2 : n2 - n1);
        const uint64_t cost = static_cast<uint64_t>(n1 + n2) * diff;
        if (cost < best) {
            best = cost;
            found = true;
            const bool first_larger = n1 >= n2;
            lengths[0] = first_larger ? n1 : n2;
            lengths[1] = first_larger ? n2 : n1;
            const int64_t* sl = first_larger ? s1 : s2;
            const int64_t* ss = first_larger ? s2 : s1;
            factors[0][0] = sl[0];
            factors[0][1] = sl[1];
            factors[1][0] = ss[0];
            factors[1][1] = ss[1];
        }
    }
    return found ? 0 : 100;
}

int make_plan(const plan_input& in, plan& p) {
    p = plan{};
    p.single = in.single;
    p.n = in.n;
    p.directions = in.directions;
    if (in.arch != OVX_GPU_ARCH_QUEN6 && in.arch != plan_common::arch_code9) return plan_not_applicable;
    if (in.n < 2048) return plan_not_applicable;
    if (choose_pass_lengths(in.n, in.single, p.pass_length, p.pass_factors) != 0) return plan_not_applicable;
    p.batch = in.batch;
    const batch_info& bt = in.batch;
    p.use_io_distances = plan_common::use_io_distances(bt);
    if (bt.transforms >= 2) {
        // Every side of both directions steps by N.
        for (int dir = 0; dir < 2; ++dir)
            if (plan_common::input_distance_of(bt, dir) != in.n || plan_common::output_distance_of(bt, dir) != in.n)
                return plan_not_applicable;
    }
    if (bt.transforms < 1) return plan_not_applicable;
    const int64_t e = in.single ? 4 : 8;
    const char* letter = in.single ? "s" : "d";
    for (int ps = 0; ps < 2; ++ps) {
        pass_plan& q = p.pass[ps];
        q.fft_length = p.pass_length[ps];
        q.fact0 = p.pass_factors[ps][0];
        q.fact1 = p.pass_factors[ps][1];
        q.sub_group_size = 16;
        q.sub_groups_per_group = q.fact1;
        q.work_group_size = 16 * q.fact1;
        q.local_bytes = q.fft_length * 16 * e;
        q.num_ffts = ps == 0 ? p.pass_length[1] : p.pass_length[0];
        q.ffts_per_group = 8;
        q.global_size = ((q.num_ffts + 7) / 8) * q.work_group_size;
        q.kernel_name = format(64, "fft_%lld_colbatch_%lld_%s", static_cast<long long>(q.fft_length), 8LL, letter);
        q.fact0_func = format(64, "fft_%lld_%s", static_cast<long long>(q.fact0), "s");
        q.fact1_func = format(64, "fft_%lld_%s", static_cast<long long>(q.fact1), "s");
        if (q.kernel_name.empty() || q.fact0_func.empty() || q.fact1_func.empty()) return plan_failed;
    }
    p.chunk_transforms = bt.transforms;
    if (in.arch == OVX_GPU_ARCH_QUEN6) {
        if (in.tiles < 1) return plan_not_applicable;
        if (in.tiles == 1) {
            const int64_t limit = (201326592LL / (in.n * 2 * e)) / 3;
            if (limit < p.chunk_transforms) p.chunk_transforms = limit;
        }
    }
    if (p.chunk_transforms < 1) return plan_not_applicable;
    p.scratch_bytes = align_workspace_bytes(static_cast<uint64_t>(p.chunk_transforms * in.n * 2 * e), in.align_bytes);
    p.pass[0].table_bytes =
        align_workspace_bytes(static_cast<uint64_t>(p.pass[0].fact0 * p.pass[0].fact1 * 2 * e), in.align_bytes);
    p.pass[1].table_bytes =
        align_workspace_bytes(static_cast<uint64_t>(p.pass[1].fact0 * p.pass[1].fact1 * 2 * e), in.align_bytes);
    const int64_t L = p.pass_length[0], S = p.pass_length[1];
    p.twiddle_table_bytes = align_workspace_bytes(static_cast<uint64_t>(8 * ((L + 7) / 8) * S * 4 * e), in.align_bytes);
    p.twiddle_workspace_bytes =
        p.twiddle_table_bytes * (in.directions == 2 ? 2u : 1u) + p.pass[0].table_bytes + p.pass[1].table_bytes;
    p.scratch_workspace_bytes = p.scratch_bytes;
    return 0;
}

int64_t input_distance_of(const plan& p, int dir) { return plan_common::input_distance_of(p.batch, dir); }

int64_t output_distance_of(const plan& p, int dir) { return plan_common::output_distance_of(p.batch, dir); }

std::string build_options(const plan& p, int ps, int dir) {
    const pass_plan& q = p.pass[ps];
    const char* fmt =
        "-Dcl_tarvo_subgroups_long -DFFT_LEN=%lld -DNUM_FFTS=%lld -DFACT0=%lld -DFACT1=%lld -DKERNEL_FUNC=%s "
        "-DFACT0_FUNC=%s -DFACT1_FUNC=%s -DFWD_DIR=%d -DBWD_DIR=%d -DIDIST=%lld -DODIST=%lld "
        "-DWORK_GROUP_SIZE=%lld -DSUBGROUP_SIZE=%lld -DNUM_WORKGROUPS=%lld -DTWIDDLE -DMULTIFACTOR_TWIDDLE ";
    if (p.single) fmt += 26;  // without the 64-bit block transfer announcement
    std::string s = format(1024, fmt, static_cast<long long>(q.fft_length), static_cast<long long>(q.num_ffts),
                           static_cast<long long>(q.fact0), static_cast<long long>(q.fact1), q.kernel_name.c_str(),
                           q.fact0_func.c_str(), q.fact1_func.c_str(), dir == 0 ? 1 : 0, dir == 0 ? 0 : 1,
                           static_cast<long long>(input_distance_of(p, dir)),
                           static_cast<long long>(output_distance_of(p, dir)),
                           static_cast<long long>(q.work_group_size), static_cast<long long>(q.sub_group_size),
                           static_cast<long long>((q.num_ffts + 7) / 8));
    if (s.empty()) return s;
    if (q.num_ffts % 8 != 0) {
        const std::string tail = format(1024 - s.size(), "-DLOAD_STORE_TAIL=%lld ", static_cast<long long>(q.num_ffts % 8));
        if (tail.empty()) return std::string();
        s += tail;
    }
    return s;
}

}  // namespace korami::ovx::dft::four_facts
