#include "dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_4_facts_colbatch_plan.hpp"

#include "dft/gpu/frame/layout.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "dft/gpu/frame/plan_common.hpp"
#include "dft/gpu/frame/align.hpp"

namespace korami::ovx::dft::four_facts_colbatch {

using plan_common::format;

namespace {

bool built(int directions, int dir) { return directions == 2 || directions == dir; }

}  // namespace

const prebuilt_row prebuilt_rows[prebuilt_row_count] = {
    {"fft64_num4096_split4096_s_trans_fwd", 0, 64, 4096, 4096, 8, 8, 64, 30984, 31024},
    {"fft64_num4096_split4096_s_multitwidl_fwd", 1, 64, 4096, 4096, 8, 8, 64, 32192, 32232},
    {"fft64_num4096_split2048_s_trans_fwd", 0, 64, 4096, 2048, 8, 8, 64, 30984, 31024},
    {"fft64_num4096_split2048_s_multitwidl_fwd", 1, 64, 4096, 2048, 8, 8, 64, 32192, 32232},
    {"fft64_num8192_split8192_s_multitwidl_fwd", 1, 64, 8192, 8192, 8, 8, 128, 32192, 32232},
    {"fft64_num8192_split1024_s_multitwidl_fwd", 1, 64, 8192, 1024, 8, 8, 128, 32192, 32232},
    {"fft128_num8192_split8192_s_trans_fwd", 0, 128, 8192, 8192, 16, 8, 64, 51056, 51160},
    {"fft128_num8192_split1024_s_trans_fwd", 0, 128, 8192, 1024, 16, 8, 64, 51056, 51160},
};

int split_two_factors_balanced(int64_t n, int64_t out[2], int64_t max) {
    return plan_common::split_two_factors_balanced(n, out, max);
}

int commit_test(const shape& s) {
    if (s.colbatch_group_count > 0) return plan_not_applicable;
    if (!s.complex_domain || !s.interleaved || s.dims != 1) return plan_not_applicable;
    if (s.batches > 2 || s.batches < 1) return plan_not_applicable;
    const record& r = s.batch[0];
    if (r.input_distance != 1 && r.fwd_distance != 1) return plan_not_applicable;
    if (r.output_distance != 1 && r.bwd_distance != 1) return plan_not_applicable;
    if (s.input_offset || s.output_offset || s.fwd_offset || s.bwd_offset) return plan_not_applicable;
    return 0;
}

static int64_t side(const plan& p, int rec, int dir, bool input) {
    if (rec >= p.batches) return 0;
    const record& r = p.batch[rec];
    const gpufw::side_pair d =
        gpufw::governing_distances(r.input_distance, r.output_distance, r.fwd_distance, r.bwd_distance, dir);
    return input ? d.in : d.out;
}
int64_t idist(const plan& p, int dir) { return side(p, 0, dir, true); }
int64_t odist(const plan& p, int dir) { return side(p, 0, dir, false); }
int64_t outer_idist(const plan& p, int dir) { return side(p, 1, dir, true); }
int64_t outer_odist(const plan& p, int dir) { return side(p, 1, dir, false); }

int make_plan(const shape& s, const device_facts& dev, bool single, plan& p) {
    p = plan{};
    p.single = single;
    p.n = s.n;
    p.directions = s.directions;
    p.arch = dev.arch;
    if (dev.arch != OVX_GPU_ARCH_QUEN6 && dev.arch != plan_common::arch_code9) return plan_not_applicable;
    const int64_t e = single ? 4 : 8;
    const int64_t N = s.n;
    p.batches = s.batches;
    for (int i = 0; i < s.batches && i < 2; ++i) {
        p.batch[i] = s.batch[i];
        const record& r = s.batch[i];
        p.uses_io[i] = gpufw::io_distances(r.input_distance, r.output_distance, r.fwd_distance, r.bwd_distance);
    }
    p.B = s.batch[0].count;
    p.B2 = s.batches == 2 ? s.batch[1].count : 0;
    const int64_t B = p.B, B2 = p.B2;
    // No columns: the kernels have no variant for it.
    if (B < 1) return plan_not_applicable;
    if (!single && B == 2 && B2 > 1) return plan_not_applicable;
    for (int dir = 0; dir < 2; ++dir) {
        if (!built(s.directions, dir)) continue;
        const gpufw::side_pair st = gpufw::governing_strides(s.input_stride, s.output_stride, s.fwd_stride, s.bwd_stride, dir);
        p.in_stride[dir] = st.in;
        p.out_stride[dir] = st.out;
        if (single) {
            bool w = (p.out_stride[dir] & 1) != 0;
            if (s.batches == 2) {
                const int64_t oi = outer_idist(p, dir), oo = outer_odist(p, dir);
                if (((oi & 1) && oi >= 0) || ((oo & 1) && oo >= 0)) w = true;
            }
            p.write_final_non_subgroup[dir] = w;
        }
    }
    if (dev.min_sub_group < 1) return plan_not_applicable;
    const int64_t max = std::min<int64_t>(dev.local_mem / (e * dev.min_sub_group), 4096);
    int64_t m[2];
    if (split_two_factors_balanced(N, m, max) != 0) return plan_not_applicable;
    p.pass_length[0] = m[0];
    p.pass_length[1] = m[1];
    if (split_two_factors_balanced(m[0], p.pass_factors[0], 64) != 0) return plan_not_applicable;
    if (split_two_factors_balanced(m[1], p.pass_factors[1], 64) != 0) return plan_not_applicable;
    p.tail_chunk_index = B / 8;
    p.inner_tail = B - 8 * (B / 8);
    const int64_t G = p.tail_chunk_index + (p.inner_tail > 0 ? 1 : 0);
    p.chunk_count = 1;
    p.groups_per_chunk = G;
    p.outer_launches = s.batches == 2 ? B2 : 1;
    p.outer_per_launch = 1;
    p.outer_tail = 0;
    if (dev.arch == OVX_GPU_ARCH_QUEN6 && dev.tiles == 1) {
        const int64_t K = 67108864 / (N * 2 * e);
        if (K <= 7) {
            p.groups_per_chunk = 1;
            p.chunk_count = G;
        } else if (K < B) {
            const int64_t g = K / 8;
            p.groups_per_chunk = g;
            p.chunk_count = (G + g - 1) / g;
        }
        if (s.batches == 2 && p.chunk_count == 1) {
            const int64_t R = 67108864 / (p.groups_per_chunk * N * 16 * e);
            if (R >= 2) {
                if (B2 < R) {
                    p.outer_per_launch = B2;
                    p.outer_tail = 0;
                    p.outer_launches = 1;
                } else {
                    p.outer_per_launch = R;
                    p.outer_launches = B2 / R;
                    p.outer_tail = B2 % R;
                }
            }
        }
    }
    const char* letter = single ? "s" : "d";
    for (int ps = 0; ps < 2; ++ps) {
        pass_plan& q = p.pass[ps];
        q.fft_length = p.pass_length[ps];
        q.fact0 = p.pass_factors[ps][0];
        q.fact1 = p.pass_factors[ps][1];
        q.sub_group_size = 16;
        q.sub_groups_per_group = q.fact1;
        q.num_work_groups = p.pass_length[1 - ps];
        q.work_group_size = 16 * q.fact1;
        q.local_bytes = q.fft_length * 16 * e;
        q.columns = B;
        q.chunk_columns = B / p.chunk_count;
        q.columns_per_sub_group = 8;
        q.global_size = q.num_work_groups * q.work_group_size;
        q.pass_index = ps;
        q.transpose = ps == 0;
        if (q.local_bytes > dev.local_mem) return plan_not_applicable;
        if (q.work_group_size > dev.max_work_group) return plan_not_applicable;
        q.large_grf = single && N >= 1048577 && q.work_group_size <= dev.max_work_group / 2;
        q.kernel_name = format(64, "fft_%lld_colbatch_%lld_%s", static_cast<long long>(q.fft_length), 8LL, letter);
        q.fact0_func = format(64, "fft_%lld_%s", static_cast<long long>(q.fact0), "s");
        q.fact1_func = format(64, "fft_%lld_%s", static_cast<long long>(q.fact1), "s");
        if (q.kernel_name.empty() || q.fact0_func.empty() || q.fact1_func.empty()) return plan_failed;
        q.table_bytes = align_workspace_bytes(static_cast<uint64_t>(q.fact0 * q.fact1 * 2 * e), dev.align_bytes);
    }
    const int64_t C = B < 4 ? B : 8 * p.groups_per_chunk;
    p.scratch_bytes = align_workspace_bytes(static_cast<uint64_t>(N * 2 * e * C * p.outer_per_launch), dev.align_bytes);
    p.temp_outer_dist = C * N;
    p.padded_temp = B >= 4;
    p.twiddle_table_bytes = align_workspace_bytes(static_cast<uint64_t>(16 * N * 2 * e), dev.align_bytes);
    p.twiddle_workspace_bytes = p.twiddle_table_bytes * (s.directions == 2 ? 2u : 1u) + p.pass[0].table_bytes +
                                p.pass[1].table_bytes;
    p.scratch_workspace_bytes = p.scratch_bytes;
    return 0;
}

std::string build_options(const plan& p, int ps, int dir) {
    const pass_plan& q = p.pass[ps];
    const char* fmt =
        "-Dcl_tarvo_subgroups_long -DFFT_LEN=%lld -DFACT0=%lld -DFACT1=%lld -DKERNEL_FUNC=%s -DFACT0_FUNC=%s "
        "-DFACT1_FUNC=%s -DFWD_DIR=%d -DBWD_DIR=%d -DIDIST=%lld -DODIST=%lld -DOUTER_IDIST=%lld "
        "-DTEMP_OUTER_DIST=%lld -DWORK_GROUP_SIZE=%lld -DSUBGROUP_SIZE=%lld -DNUM_WORKGROUPS=%lld -DTWIDDLE "
        "-DFOUR_FACT_COLBATCH ";
    if (p.single) fmt += 26;
    using ll = long long;
    std::string s = format(2048, fmt, ll(q.fft_length), ll(q.fact0), ll(q.fact1), q.kernel_name.c_str(),
                           q.fact0_func.c_str(), q.fact1_func.c_str(), dir == 0 ? 1 : 0, dir == 0 ? 0 : 1,
                           ll(idist(p, dir)), ll(odist(p, dir)), ll(outer_idist(p, dir)), ll(p.temp_outer_dist),
                           ll(q.work_group_size), ll(q.sub_group_size), ll(q.num_work_groups));
    auto add = [&](const std::string& t) {
        if (s.empty() || t.empty() || s.size() + t.size() >= 2048)
            s.clear();
        else
            s += t;
    };
    if (ps == 1) add("-DMULTIFACTOR_TWIDDLE ");
    if (ps == 0)
        add(format(2048, "-DTRANSPOSE_KERNEL -DISTRIDE=%lld ", ll(p.in_stride[dir])));
    else
        add(format(2048, "-DOUTER_ODIST=%lld -DOSTRIDE=%lld ", ll(outer_odist(p, dir)), ll(p.out_stride[dir])));
    if (p.inner_tail != 0)
        add(format(2048, "-DINNER_TAIL=%lld -DTAIL_CHUNK_IDX=%lld ", ll(p.inner_tail), ll(p.tail_chunk_index)));
    if (p.padded_temp) add("-DPADDED_TEMP ");
    if (p.write_final_non_subgroup[dir]) add("-DWRITE_FINAL_NON_SUBGROUP ");
    if (p.arch == OVX_GPU_ARCH_QUEN6 && q.large_grf) add("-cl-tarvo-256-GRF-per-thread ");
    return s;
}

int select_prebuilt(const plan& p, int ps, int dir, int backend, const char* driver) {
    if (!p.single) return -1;
    if (backend != 1) return -1;
    if (!driver || std::strncmp(driver, "1.6", 3) != 0) return -1;
    if (p.B2 > 1) return -1;
    if (idist(p, dir) != 1 || odist(p, dir) != 1) return -1;
    const pass_plan& q = p.pass[ps];
    // The binaries carry element strides equal to the column count.
    if (p.in_stride[dir] != q.columns || p.out_stride[dir] != q.columns) return -1;
    if (q.work_group_size != 128 || q.sub_group_size != 16) return -1;
    for (int i = 0; i < prebuilt_row_count; ++i) {
        const prebuilt_row& r = prebuilt_rows[i];
        if (r.pass == ps && r.fft_length == q.fft_length && r.columns == q.columns &&
            r.chunk_columns == q.chunk_columns && r.fact0 == q.fact0 && r.fact1 == q.fact1 &&
            r.num_work_groups == q.num_work_groups)
            return i;
    }
    return -1;
}

std::string prebuilt_name(int row, int dir) {
    std::string s = prebuilt_rows[row].name;
    if (dir == 1) s.replace(s.size() - 4, 4, "_bwd");
    return s;
}

bool host_tables(const plan& p) {
    if (!p.single) return false;
    for (int i = 0; i < 2; ++i)
        if (p.pass_length[i] == 64 || p.pass_length[i] == 128) return true;
    return false;
}

}  // namespace korami::ovx::dft::four_facts_colbatch
