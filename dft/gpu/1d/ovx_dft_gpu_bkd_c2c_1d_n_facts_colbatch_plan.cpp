#include "dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_n_facts_colbatch_plan.hpp"

#include "dft/gpu/frame/layout.hpp"

#include <algorithm>
#include <cstdio>

#include "dft/gpu/frame/plan_common.hpp"
#include "dft/gpu/frame/align.hpp"

namespace korami::ovx::dft::n_facts_colbatch {

using plan_common::format;

namespace {

int64_t cdiv(int64_t a, int64_t b) { return (a + b - 1) / b; }

// Block stores of 8, 4, 2 and 1 units for q units, plus one partial store.
int64_t blocks(int64_t q, int64_t r) {
    return q / 8 + (q % 8) / 4 + (q % 4) / 2 + (q % 2) + (r > 0 ? 1 : 0);
}

// Most balanced pair of q with both in [2, 64]; false when none.
bool balanced_pair(int64_t q, int64_t& x, int64_t& y) {
    int64_t best = -1;
    for (int64_t e = std::min<int64_t>(q - 1, 64); e >= 2; --e) {
        if (q % e != 0) continue;
        const int64_t f = q / e;
        if (f < 2 || f > 64) continue;
        const int64_t hi = std::max(e, f), lo = std::min(e, f);
        if (best < 0 || hi - lo < best) {
            best = hi - lo;
            x = hi;
            y = lo;
            if (best == 0) break;
        }
    }
    return best >= 0;
}

}  // namespace

int factor_into_n(int k, int64_t n, int64_t* out) {
    if (n < 1) return plan_failed;
    if (n == 1 && k != 1) return plan_not_applicable;
    if (k == 1) {
        if (n > 64) return plan_not_applicable;
        out[0] = n;
        return 0;
    }
    if (k != 2 && k != 3) return plan_not_applicable;
    int64_t best_spread = 64;
    bool taken = false;
    int64_t best[3] = {0, 0, 0};
    if (n >= 3) {
        for (int64_t d = std::min<int64_t>(n - 1, 64); d >= 2; --d) {
            if (n % d != 0) continue;
            const int64_t q = n / d;
            int64_t cand[3];
            if (k == 2) {
                if (q > 64) continue;
                cand[0] = q;
                cand[1] = d;
            } else {
                if (q < 3) continue;
                int64_t x, y;
                if (!balanced_pair(q, x, y)) continue;
                cand[0] = x;
                cand[1] = y;
                cand[2] = d;
            }
            std::sort(cand, cand + k, [](int64_t a, int64_t b) { return a > b; });
            const int64_t spread = cand[0] - cand[k - 1];
            if (spread < best_spread) {
                best_spread = spread;
                taken = true;
                std::copy(cand, cand + k, best);
            }
            if (taken && best_spread == 0) break;
        }
    }
    if (!taken) return plan_not_applicable;
    int64_t prod = 1;
    for (int i = 0; i < k; ++i) {
        out[i] = best[i];
        prod *= best[i];
    }
    return prod == n ? 0 : 7;
}

int commit_test(const shape& s) {
    if (!s.complex_domain || !s.interleaved || s.dims != 1 || s.batches < 1 || s.batches > 2) return plan_not_applicable;
    const uint64_t B = static_cast<uint64_t>(s.batch[0].count);
    bool R = false;
    if (s.input_stride != 0 && s.output_stride != 0) {
        R = s.output_stride == 1;
        if (s.in_place) {
            if (s.input_stride != s.output_stride || s.input_offset != s.output_offset) return plan_not_applicable;
            if (static_cast<uint64_t>(s.input_stride) < B) return plan_not_applicable;
        } else if (static_cast<uint64_t>(s.input_stride) < B) {
            return plan_not_applicable;
        }
    } else {
        if (s.in_place) {
            if (s.fwd_stride != s.bwd_stride || s.fwd_offset != s.bwd_offset) return plan_not_applicable;
            if (static_cast<uint64_t>(s.fwd_stride) < B) return plan_not_applicable;
        } else if (static_cast<uint64_t>(s.fwd_stride) < B || static_cast<uint64_t>(s.bwd_stride) < B) {
            return plan_not_applicable;
        }
    }
    if (s.batch[0].count < 2) return plan_not_applicable;
    const record& r0 = s.batch[0];
    if (r0.fwd_distance != 0) {
        if (r0.fwd_distance != 1 || r0.bwd_distance != 1 || R) return plan_not_applicable;
    } else {
        if (r0.bwd_distance != 0) return plan_not_applicable;
        if (R) {
            if (r0.input_distance != 1 || r0.output_distance < s.n) return plan_not_applicable;
            if (s.output_offset != 0 || s.fwd_offset != 0 || s.bwd_offset != 0) return plan_not_applicable;
        } else if (r0.input_distance != 1 || r0.output_distance != 1) {
            return plan_not_applicable;
        }
    }
    if (s.batches == 2) {
        const record& r1 = s.batch[1];
        if (r1.fwd_distance != 0 || r1.bwd_distance != 0) {
            if (R) return plan_not_applicable;
            if (s.in_place && r1.fwd_distance != r1.bwd_distance) return plan_not_applicable;
            if (static_cast<uint64_t>(r1.fwd_distance) < B || static_cast<uint64_t>(r1.bwd_distance) < B) return plan_not_applicable;
        } else {
            if (s.in_place && r1.input_distance != r1.output_distance) return plan_not_applicable;
            if (static_cast<uint64_t>(r1.input_distance) < B) return plan_not_applicable;
            if (R ? r1.output_distance < s.n : r1.output_distance < static_cast<int64_t>(B)) return plan_not_applicable;
        }
    }
    return 0;
}

namespace {
gpufw::side_pair distances_of(const record& r, int dir) {
    return gpufw::governing_distances(r.input_distance, r.output_distance, r.fwd_distance, r.bwd_distance, dir);
}
}  // namespace

int64_t outer_input_distance(const plan& p, int dir) { return p.two_records ? distances_of(p.batch[1], dir).in : 0; }
int64_t outer_output_distance(const plan& p, int dir) { return p.two_records ? distances_of(p.batch[1], dir).out : 0; }
int64_t inner_output_distance(const plan& p, int dir) { return distances_of(p.batch[0], dir).out; }

namespace {

struct search_ctx {
    const plan* p;
    int dir;
    int64_t L, W, e;
    bool single;
    int64_t c0, cmax;
    bool whole_block;  // float: the block is forced to the whole batch
};

int64_t slm_of(const plan& p, int64_t c, int64_t e) {
    const int64_t pad = (p.H - c % p.H) % p.H;
    return (c * p.n + pad) * e;
}

bool misaligned(const plan& p, int dir) {
    if (p.out_offset[dir] & 1) return true;
    return p.B2 >= 2 && (outer_output_distance(p, dir) & 1);
}

void setup(const plan& p, int dir, int64_t L, int64_t W, search_ctx& c) {
    c.p = &p;
    c.dir = dir;
    c.L = L;
    c.W = W;
    c.single = p.single;
    c.e = p.single ? 8 : 16;
    const int64_t B = p.B, H = p.H;
    c.whole_block = false;
    c.c0 = std::min(B, H);
    if (!p.single) {
        c.cmax = std::min(B, 8 * H);
    } else {
        const int64_t os = p.out_stride[dir];
        if (os == B && ((B & 1) || (outer_output_distance(p, dir) & 1)) && slm_of(p, B, c.e) < L &&
            cdiv(B, H) * p.S <= W) {
            c.whole_block = true;
            c.c0 = B;
        }
        if (B <= 8 * H)
            c.cmax = B;
        else
            c.cmax = (B & 1) ? std::min(9 * H, B) : 8 * H;
        c.cmax = std::max(c.cmax, c.c0);
    }
}

std::vector<int64_t> candidates_of(const search_ctx& c) {
    std::vector<int64_t> out;
    for (int64_t v = c.c0;; v += c.p->H) {
        const int64_t cc = std::min(v, c.cmax);
        out.push_back(cc);
        if (cc >= c.cmax) break;
    }
    return out;
}

// P for (cc, k): steps a, b and d of the search.
int64_t workers(const plan& p, int64_t cc, int64_t k, int64_t W, bool E) {
    int64_t T = 1;
    for (int i = 0; i < 3; ++i)
        if (p.factors[i] >= 2) T = std::max(T, p.n / p.factors[i]);
    int64_t P = std::min(T, ((W / k) / p.S) / cdiv(cc, p.H));
    if (E) {
        const int64_t P0 = P;
        while (P >= 2) {
            bool same = true;
            for (int i = 0; i < 3; ++i) {
                const int64_t f = p.factors[i];
                if (f < 2) continue;
                if (cdiv(p.n / f, P - 1) != cdiv(p.n / f, P0)) same = false;
            }
            if (!same) break;
            --P;
        }
    }
    return P;
}

}  // namespace

std::vector<int64_t> candidate_columns(const plan& p, int dir, int64_t local_mem, int64_t max_wg) {
    search_ctx c;
    setup(p, dir, local_mem, max_wg, c);
    return candidates_of(c);
}

namespace {

int plan_direction(plan& p, int dir, const device_facts& dev) {
    search_ctx c;
    setup(p, dir, dev.local_mem, dev.max_work_group, c);
    const int64_t N = p.n, B = p.B, B2 = p.B2, H = p.H, S = p.S, U = p.U, L = c.L, W = c.W, e = c.e;
    const int64_t os = p.out_stride[dir];
    if (slm_of(p, c.c0, e) > L) return plan_not_applicable;
    if (p.single && os == 1) {
        if ((inner_output_distance(p, dir) & 1) || (outer_output_distance(p, dir) & 1)) return plan_not_applicable;
    }
    const bool mis = p.single && misaligned(p, dir);
    long double best_prod = 0;
    int64_t best_cost = 2 * B * N + 1;
    int64_t best_waves = cdiv(cdiv(B, H) * B2, U) + 1;
    int64_t best_cc = 0, best_k = 0;
    for (int64_t cc : candidates_of(c)) {
        if (slm_of(p, cc, e) > L) continue;
        int64_t g = std::min(L / slm_of(p, cc, e), W / (cdiv(cc, H) * S));
        if (c.whole_block) g = std::min<int64_t>(g, 1);
        if (g <= 0) continue;
        const int64_t G = cdiv(B, cc) * B2;
        const bool E = os == B && cc == B;
        for (int64_t k = 1; k <= g; ++k) {
            const int64_t P = workers(p, cc, k, W, E);
            if (P < 1) continue;
            const int64_t waves = cdiv(G, k * U);
            const int64_t SG = P * cdiv(cc, H);
            int64_t cost;
            if (os == 1) {
                const int64_t m = std::min(SG, cc), u = SG / m;
                cost = cdiv(cc, m) * blocks(N / (H * u), N % (H * u));
            } else if (E) {
                const int64_t h = (SG * S) / 2;
                cost = blocks((B * N) / h, (B * N) % h);
                if (mis) cost = std::max(cost, 1 + blocks((B * N - 1) / h, (B * N - 1) % h));
            } else {
                const int64_t cl = B % cc == 0 ? cc : B % cc;
                if (p.single && (mis || (os & 1))) {
                    auto value = [&](int64_t x) {
                        const int64_t e1 = blocks(x / H, x % H);
                        const int64_t e2 = x <= H ? 1 : 1 + blocks((x - 1) / H, (x - 1) % H);
                        const int64_t q = N / SG;
                        return std::max(e1, e2) * (cdiv(q, 2) + (N % SG > 0 ? 1 : 0)) + std::min(e1, e2) * (q / 2);
                    };
                    cost = std::max(value(cc), value(cl));
                } else {
                    cost = cdiv(N, SG) * std::max(blocks(cc / H, cc % H), blocks(cl / H, cl % H));
                }
            }
            if (cost < 0) cost = 0;
            const long double prod = static_cast<long double>(cost) * waves;
            best_prod = static_cast<long double>(best_cost) * best_waves;
            if (prod < best_prod || (prod == best_prod && waves <= best_waves)) {
                best_cost = cost;
                best_waves = waves;
                best_cc = cc;
                best_k = k;
            }
        }
    }
    if (best_cc == 0) return plan_not_applicable;
    p.columns_per_group[dir] = best_cc;
    p.slm_bytes[dir] = slm_of(p, best_cc, e);
    p.columns_in_last_group[dir] = B % best_cc == 0 ? best_cc : B % best_cc;
    const int64_t P = workers(p, best_cc, best_k, W, os == B && best_cc == B);
    p.subgroups_per_fft[dir] = P;
    p.workgroup_size[dir] = cdiv(best_cc, H) * P * S;
    if (p.single && N == 2048 && B2 == 1 && B % 8 == 0 && dev.tiles == 1) {
        const double ratio = static_cast<double>(cdiv(B, best_cc) * B2) / static_cast<double>(best_k * U);
        if (ratio > 1.0 && ratio < 1.36) return plan_not_applicable;
    }
    return 0;
}

}  // namespace

int make_plan(const shape& s, const device_facts& dev, bool single, plan& p) {
    p = plan{};
    p.single = single;
    p.n = s.n;
    p.directions = s.directions;
    p.two_records = s.batches == 2;
    for (int i = 0; i < s.batches && i < 2; ++i) {
        p.batch[i] = s.batch[i];
        const record& r = s.batch[i];
        p.uses_io[i] = gpufw::io_distances(r.input_distance, r.output_distance, r.fwd_distance, r.bwd_distance);
    }
    p.B = s.batch[0].count;
    p.B2 = p.two_records ? s.batch[1].count : 1;
    if (p.B < 1 || p.B2 < 1) return plan_not_applicable;
    p.colbatch_group_count = s.colbatch_group_count;
    if (p.colbatch_group_count > 0 && (p.B * p.B2) % p.colbatch_group_count != 0) return plan_not_applicable;
    // Per-direction strides and offsets.
    for (int dir = 0; dir < 2; ++dir) {
        const gpufw::side_pair st = gpufw::governing_strides(s.input_stride, s.output_stride, s.fwd_stride, s.bwd_stride, dir);
        p.in_stride[dir] = st.in;
        p.out_stride[dir] = st.out;
        // Each offset comes from the stride vector that governs its side.
        p.in_offset[dir] = s.input_stride != 0 ? s.input_offset : (dir == 0 ? s.fwd_offset : s.bwd_offset);
        p.out_offset[dir] = s.output_stride != 0 ? s.output_offset : (dir == 0 ? s.bwd_offset : s.fwd_offset);
    }
    // Device: a sub-group below 2 lanes cannot hold a complex value.
    p.S = dev.min_sub_group;
    if (p.S < 2) return plan_not_applicable;
    if (p.S < 16 && dev.arch != OVX_GPU_ARCH_QUEN5) return plan_not_applicable;
    p.H = p.S / 2;
    p.U = dev.compute_units / (p.S >= 16 ? 8 : 16);
    if (p.U < 1) p.U = 1;
    if (dev.local_mem <= 0 || dev.max_work_group <= 0) return plan_not_applicable;
    // Factors.
    int64_t f[3] = {1, 1, 1};
    if (factor_into_n(2, s.n, f) != 0) {
        if (s.n >= 1 && s.n <= 64) {
            f[0] = s.n;
            f[1] = f[2] = 1;
        } else if (factor_into_n(3, s.n, f) != 0) {
            return plan_not_applicable;
        }
    } else {
        f[2] = 1;
    }
    for (int i = 0; i < 3; ++i) p.factors[i] = f[i];
    for (int dir = 0; dir < 2; ++dir) {
        if (!(s.directions == 2 || s.directions == dir)) continue;
        const int st = plan_direction(p, dir, dev);
        if (st != 0) return st;
    }
    const int64_t e = single ? 8 : 16;
    p.table_bytes[0] = align_workspace_bytes(static_cast<uint64_t>(s.n * e), dev.align_bytes);
    p.table_bytes[1] = p.factors[2] > 1
                           ? align_workspace_bytes(static_cast<uint64_t>(p.factors[1] * p.factors[2] * e), dev.align_bytes)
                           : 0;
    p.twiddle_workspace_bytes = (p.table_bytes[0] + p.table_bytes[1]) * (s.directions == 2 ? 2u : 1u);
    const char* letter = single ? "s" : "d";
    for (int dir = 0; dir < 2; ++dir) {
        if (!(s.directions == 2 || s.directions == dir)) continue;
        p.kernel_name[dir] = format(64, "fft_%lld_colbatched_%s_%lld_%s", static_cast<long long>(s.n),
                                    p.B2 < 2 ? "once" : "twice", static_cast<long long>(p.columns_per_group[dir]),
                                    letter);
        if (p.kernel_name[dir].empty()) return plan_failed;
    }
    for (int i = 0; i < 3; ++i) {
        p.fact_func_name[i] = format(64, "fft_%lld_%s", static_cast<long long>(p.factors[i]), "s");
        if (p.fact_func_name[i].empty()) return plan_failed;
    }
    return 0;
}

std::string build_options(const plan& p, int dir) {
    const char* fmt =
        "-Dcl_tarvo_subgroups_long -DINPUT_STRIDE=%lld -DOUTPUT_STRIDE=%lld -DINNER_BATCH=%lld "
        "-DINNER_BATCH_PER_GROUP=%lld -DINNER_BATCH_FOR_LAST_GROUP=%lld -DOUTER_BATCH=%lld "
        "-DOUTER_BATCH_INPUT_DISTANCE=%lld -DOUTER_BATCH_OUTPUT_DISTANCE=%lld -DFACT0=%lld -DFACT1=%lld "
        "-DFACT2=%lld -DKERNEL_FUNC=%s -DFACT0_FUNC=%s -DFACT1_FUNC=%s -DFACT2_FUNC=%s -DFWD_DIR=%d -DBWD_DIR=%d "
        "-DWORKGROUP_SIZE=%lld -DSUBGROUP_SIZE=%lld -DSUBGRPS_PER_FFT=%lld ";
    if (p.single) fmt += 26;
    using ll = long long;
    std::string s = format(
        512, fmt, ll(p.in_stride[dir]), ll(p.out_stride[dir]), ll(p.B), ll(p.columns_per_group[dir]),
        ll(p.columns_in_last_group[dir]), ll(p.B2), ll(outer_input_distance(p, dir)), ll(outer_output_distance(p, dir)),
        ll(p.factors[0]), ll(p.factors[1]), ll(p.factors[2]), p.kernel_name[dir].c_str(), p.fact_func_name[0].c_str(),
        p.fact_func_name[1].c_str(), p.fact_func_name[2].c_str(), dir == 0 ? 1 : 0, dir == 0 ? 0 : 1,
        ll(p.workgroup_size[dir]), ll(p.S), ll(p.subgroups_per_fft[dir]));
    if (s.empty()) return s;
    auto append = [&](const char* f, long long v) {
        if (s.empty()) return;
        const std::string t = format(512 - s.size(), f, v);
        if (t.empty())
            s.clear();
        else
            s += t;
    };
    if (p.in_offset[dir] != 0) append("-DINPUT_OFFSET=%lld ", p.in_offset[dir]);
    if (p.out_offset[dir] != 0) append("-DOUTPUT_OFFSET=%lld ", p.out_offset[dir]);
    if (p.colbatch_group_count > 0) append("-DPOST_TWIDDLE_BATCH=%lld ", p.colbatch_group_count);
    if (p.out_stride[dir] == 1) append("-DINNER_BATCH_OUTPUT_DISTANCE=%lld ", inner_output_distance(p, dir));
    if (p.columns_per_group[dir] == p.B && p.out_stride[dir] == p.B) append("-DSLM_BYTE_SIZE=%lld ", p.slm_bytes[dir]);
    return s;
}

}  // namespace korami::ovx::dft::n_facts_colbatch
