#include "dft/gpu/md/ovx_dft_gpu_bkd_small_md_slm_plan.hpp"

#include "dft/gpu/frame/layout.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "dft/gpu/frame/plan_common.hpp"
#include "dft/gpu/frame/align.hpp"

namespace korami::ovx::dft::small_md_slm {

namespace {

using i64 = std::int64_t;
using plan_common::format;

constexpr i64 kBig = std::numeric_limits<i64>::max() / 4;

// Products and sums that saturate: a layout whose pitches do not fit 64 bits
// needs more local memory than any device has, and is refused as such.
i64 mul(i64 a, i64 b) {
    if (a <= 0 || b <= 0) return 0;
    if (a > kBig / b) return kBig;
    return a * b;
}
i64 add(i64 a, i64 b) { return a > kBig - b ? kBig : a + b; }
i64 cdiv(i64 a, i64 b) { return b <= 0 ? 0 : (a + b - 1) / b; }

bool is_prime(i64 v) {
    if (v < 2) return false;
    for (i64 d = 2; d * d <= v; ++d)
        if (v % d == 0) return false;
    return true;
}

bool built(int directions, int dir) { return directions == 2 || directions == dir; }

// The rank-1 staging rule of the row pass: short rows are copied to local
// memory first (not 80 or 250 complex points in double precision).
bool rank1_stages(const plan& p) {
    const i64 c = p.c2c_len();
    if (p.rank != 1) return false;
    if (p.single) return c <= 512;
    return c <= 256 && (p.real || (c != 80 && c != 250));
}

i64 pad(i64 x, i64 h) { return (h - x % h) % h; }

// Pitches of one direction in real values: input and output row pitches
// (dimension-1 strides for rank 2, distances for rank 1), a complex side
// counting 2 per element.
i64 in_pitch_fp(const plan& p, int dir) {
    const bool cplx = !(p.real && dir == 0);
    return mul(p.rank == 2 ? p.in_stride[dir][1] : p.in_dist[dir], cplx ? 2 : 1);
}
i64 out_pitch_fp(const plan& p, int dir) {
    const bool cplx = !(p.real && dir == 1);
    return mul(p.rank == 2 ? p.out_stride[dir][1] : p.out_dist[dir], cplx ? 2 : 1);
}

i64 largest_factor(const plan& p) { return std::max(p.fact[0][0], p.fact[1][0]); }

// Bytes of the data moved by one work-group (complex values of its rows).
i64 group_data_bytes(const plan& p) {
    return mul(mul(p.c2c_len() + (p.real && p.rank >= 2 ? 1 : 0), p.rows()), 2 * p.elem());
}

// The plan's largest number of complex values a lane pair holds, for a
// given count of sub-groups.
i64 lane_values_with(const plan& p, i64 sub_groups) {
    i64 v = largest_factor(p);
    const bool stage_fwd = p.wanted[0] && rank1_stages(p);
    const bool stage_bwd = p.wanted[1] && (p.real || rank1_stages(p));
    if (p.count[0] >= 2 && (stage_fwd || stage_bwd)) {
        const i64 h = p.h(), q0 = p.c2c_len() / p.fact[0][0];
        const i64 g = sub_groups / p.rows();
        const i64 k = std::max<i64>(1, std::min(cdiv(q0, h), g));
        v = std::max(v, p.fact[0][0] * cdiv(q0, k * h));
    }
    return v;
}

i64 resident_groups(const plan& p, const device_figures& dev, bool large_grf) {
    const i64 by_slm = p.slm_bytes > 0 ? dev.local_mem / p.slm_bytes : dev.local_mem;
    const i64 threads = dev.threads_per_subslice / (large_grf ? 2 : 1);
    return std::max<i64>(1, std::min(by_slm, threads / std::max<i64>(1, p.sub_groups)));
}

}  // namespace

// ---- layout ------------------------------------------------------------------------

layout layout_of(const problem& p) {
    layout l;
    const int c = p.real ? 0 : 1;
    for (int d = 0; d < 2 && d < p.rank; ++d) {
        for (int dir = 0; dir < 2; ++dir) {
            const gpufw::side_pair st =
                gpufw::governing_strides(p.input_stride[d], p.output_stride[d], p.fwd_stride[d], p.bwd_stride[d], dir);
            l.in_stride[dir][d] = st.in;
            l.out_stride[dir][d] = st.out;
        }
    }
    for (int dir = 0; dir < 2; ++dir) {
        const gpufw::side_pair ds =
            gpufw::governing_distances(p.input_distance, p.output_distance, p.fwd_distance, p.bwd_distance, dir);
        l.in_dist[dir] = ds.in;
        l.out_dist[dir] = ds.out;
    }

    // Both sides of a direction must be contiguous along dimension 0.
    for (int dir = 0; dir < 2; ++dir)
        if (l.in_stride[dir][0] != 1 || l.out_stride[dir][0] != 1) l.supported[dir] = false;

    const i64 n0 = p.n[0], n1 = p.rank == 2 ? p.n[1] : 1;
    const bool many = p.transforms >= 2;
    // In place, a work-group writes its transforms only after reading them
    // whole; a transform must not write where another work-group reads, so
    // with several transforms the input pitches (in real values) must be the
    // output pitches. A single transform may change its row pitch.
    auto same_area = [&](i64 fwd_in, i64 fwd_out, i64 bwd_in, i64 bwd_out) {
        if (mul(fwd_in, c ? 2 : 1) != mul(fwd_out, 2)) l.supported[0] = false;
        if (mul(bwd_in, 2) != mul(bwd_out, c ? 2 : 1)) l.supported[1] = false;
    };
    if (p.in_place && many) {
        if (p.rank == 2) same_area(l.in_stride[0][1], l.out_stride[0][1], l.in_stride[1][1], l.out_stride[1][1]);
        same_area(l.in_dist[0], l.out_dist[0], l.in_dist[1], l.out_dist[1]);
    }
    // Rows (rank 2) or transforms (rank 1) must not overlap within a side.
    auto rows_apart = [&](i64 fi, i64 fo, i64 bi, i64 bo) {
        if (!p.real) {
            if (fi < n0 || fo < n0) l.supported[0] = false;
            if (bi < n0 || bo < n0) l.supported[1] = false;
        } else {
            const i64 pr = p.in_place ? (n0 / 2) * 2 + 2 : n0;
            if (fi < pr || fo <= n0 / 2) l.supported[0] = false;
            if (bi <= n0 / 2 || bo < pr) l.supported[1] = false;
        }
    };
    if (p.rank == 2) rows_apart(l.in_stride[0][1], l.out_stride[0][1], l.in_stride[1][1], l.out_stride[1][1]);
    if (p.rank == 1 && many) rows_apart(l.in_dist[0], l.out_dist[0], l.in_dist[1], l.out_dist[1]);
    // Rank 2 batches must be packed: transform t + 1 starts where row n1 of
    // transform t would.
    if (p.rank == 2 && many) {
        if (l.in_dist[0] != mul(l.in_stride[0][1], n1) || l.out_dist[0] != mul(l.out_stride[0][1], n1))
            l.supported[0] = false;
        if (l.in_dist[1] != mul(l.in_stride[1][1], n1) || l.out_dist[1] != mul(l.out_stride[1][1], n1))
            l.supported[1] = false;
    }
    return l;
}

int layout_status(const problem& p, const layout& l) {
    if (!l.supported[0] && !l.supported[1]) return plan_not_applicable;
    if ((p.directions == 0 || p.directions == 1) && !l.supported[p.directions]) return plan_not_applicable;
    return plan_made;
}

bool generation_figures(int generation, std::int64_t* eus_per_subslice, std::int64_t* threads_per_eu) {
    i64 e = 0, t = 0;
    switch (generation) {
    case 3: e = 16; t = 7; break;
    case 5: e = 16; t = 8; break;
    case 6: e = 8; t = 8; break;
    case 7: e = 8; t = 8; break;
    default: return false;
    }
    if (eus_per_subslice) *eus_per_subslice = e;
    if (threads_per_eu) *threads_per_eu = t;
    return true;
}

// ---- factors -----------------------------------------------------------------------

int factor_length(std::int64_t k, std::int64_t L, std::int64_t* out) {
    if (!out || L == 0) return plan_failed;
    if (L == 1 || k < 1 || k > 4) return plan_not_applicable;
    if (k == 1) {
        if (L > 64) return plan_not_applicable;
        out[0] = L;
        return plan_made;
    }
    if (L < 3) return plan_not_applicable;
    i64 best[4] = {0, 0, 0, 0}, best_spread = -1;
    for (i64 f = std::min<i64>(L - 1, 64); f >= 2; --f) {
        if (L % f != 0) continue;
        i64 rest[4] = {0, 0, 0, 0};
        if (factor_length(k - 1, L / f, rest) != plan_made) continue;
        i64 all[4];
        for (i64 i = 0; i < k - 1; ++i) all[i] = rest[i];
        all[k - 1] = f;
        for (i64 i = 1; i < k; ++i)  // descending
            for (i64 j = i; j > 0 && all[j - 1] < all[j]; --j) std::swap(all[j - 1], all[j]);
        const i64 spread = all[0] - all[k - 1];
        if (best_spread < 0 || spread < best_spread) {
            best_spread = spread;
            std::copy(all, all + k, best);
            if (spread == 0) break;
        }
    }
    if (best_spread < 0) return plan_not_applicable;
    std::copy(best, best + k, out);
    return plan_made;
}

// ---- row geometry ------------------------------------------------------------------

bool stages_input(const plan& p, int dir) {
    return p.count[0] == 1 || (p.real && dir == 1) || rank1_stages(p);
}

std::int64_t input_fp_per_row_min(const plan& p, int dir) { return 2 * (p.c2c_len() + (p.real && dir == 1 ? 1 : 0)); }

std::int64_t input_fp_per_row(const plan& p, int dir) {
    const i64 v = in_pitch_fp(p, dir);
    return p.rank == 1 ? std::max(v, input_fp_per_row_min(p, dir)) : v;
}

std::int64_t row_odist_slm_fp(const plan& p, int dir) {
    const i64 v = out_pitch_fp(p, dir);
    return p.rank == 1 ? std::max(v, 2 * (p.c2c_len() + (p.real && dir == 0 ? 1 : 0))) : v;
}

bool load_row_by_row(const plan& p, int dir) {
    if (!p.wanted[dir]) return false;
    return input_fp_per_row(p, dir) > std::max(2 * (p.c2c_len() + (p.real ? 1 : 0)), row_odist_slm_fp(p, dir));
}

std::int64_t row_idist_fp(const plan& p, int dir) {
    if (!p.wanted[dir]) return 0;
    if (stages_input(p, dir) && load_row_by_row(p, dir))
        return std::max(2 * (p.c2c_len() + (p.real ? 1 : 0)), row_odist_slm_fp(p, dir));
    return input_fp_per_row(p, dir);
}

std::int64_t fp_out_per_fft(const plan& p, int dir) {
    if (!p.wanted[dir]) return 0;
    const bool cplx = !(p.real && dir == 1);
    if (p.per_group >= 2) return mul(p.out_dist[dir], cplx ? 2 : 1);
    if (p.rank == 2) return mul(mul(p.dim1_len(), p.out_stride[dir][1]), cplx ? 2 : 1);
    return 2 * (p.c2c_len() + (p.real && dir == 0 ? 1 : 0));
}

std::int64_t slm_fp(const plan& p, int dir) {
    if (!p.wanted[dir]) return 0;
    const i64 R = p.rows(), C = p.c2c_len(), h = p.h(), f0 = p.fact[0][0], k0 = p.count[0];
    const bool real_fwd = p.real && dir == 0, real_bwd = p.real && dir == 1;
    const i64 ridist = row_idist_fp(p, dir), rodist = row_odist_slm_fp(p, dir);
    const i64 ifprmin = input_fp_per_row_min(p, dir);
    i64 t = 0;
    if (stages_input(p, dir)) {
        const i64 a = load_row_by_row(p, dir) ? add(mul(R - 1, ridist), ifprmin)
                                              : (R == 1 ? ifprmin : mul(R, input_fp_per_row(p, dir)));
        const i64 b = k0 == 1 ? add(mul(R - 1, ridist), 2 * C + (real_bwd ? 2 : 0))
                              : add(mul(R - 1, ridist), 2 * (C + pad(C / f0, h)));
        t = std::max(a, b);
    }
    i64 extra = 0;
    if (k0 == 1) {
        extra = real_fwd ? 2 : 0;
    } else {
        extra = pad(f0, h);
        if (k0 >= 3) extra = std::max(extra, 2 * pad(f0 * p.fact[0][1], h));
        if (k0 == 4) extra = std::max(extra, 2 * pad(f0 * p.fact[0][1] * p.fact[0][2], h));
    }
    t = std::max(t, add(mul(R - 1, rodist), 2 * C + extra));
    if (p.real && k0 >= 2) {
        i64 P;
        if (dir == 0)
            P = p.rank == 2 ? mul(2, p.out_stride[0][1])
                            : (mul(2, p.out_dist[0]) > 2 * C ? mul(2, p.out_dist[0]) : 2 * C + 2);
        else
            P = ridist;
        t = std::max(t, add(mul(R - 1, P), 2 * C + 2));
    }
    if (p.rank == 2) {
        const i64 Q = real_bwd ? ridist : mul(2, p.out_stride[dir][1]);
        t = std::max(t, add(mul(R - 1, Q), 2 * cdiv(C + (p.real ? 1 : 0), h) * h));
    }
    t = std::max(t, mul(fp_out_per_fft(p, dir), p.per_group));
    // The kernel text keeps every row of the group at a pitch of
    // 2 (C + real) values; the terms above always cover it.
    t = std::max(t, mul(R, 2 * (C + (p.real ? 1 : 0))));
    return t;
}

// ---- costs -------------------------------------------------------------------------

std::int64_t work_group_cost(const plan& p) {
    const i64 C = p.c2c_len(), h = p.h(), k0 = p.count[0], f0 = p.fact[0][0];
    const i64 g = std::max<i64>(1, p.sub_groups / p.rows());
    const bool s0 = (p.wanted[1] && p.real) || rank1_stages(p);
    i64 cost = 0;
    if (k0 == 1) {
        cost = 2 * C;
    } else {
        const i64 q0 = C / f0;
        i64 pass0 = f0 * cdiv(q0, std::min(g, cdiv(q0, h)) * h);
        cost = s0 ? 2 * pass0 : pass0;
        i64 prod = f0;
        for (i64 j = 1; j < k0; ++j) {
            const i64 before = prod;
            prod *= p.fact[0][j];
            cost += 2 * p.fact[0][j] * cdiv(cdiv(before, h) * (C / prod), g);
        }
        if (p.real) cost += 4 * cdiv((C + 1) / 2, h * g);
    }
    const i64 P1 = p.dim1_len();
    if (p.rank == 2 && P1 >= 2) {
        for (i64 j = 0; j < p.count[1]; ++j) {
            const i64 fj = p.fact[1][j];
            const i64 sj = std::max<i64>(1, (p.sub_groups / p.per_group) / (P1 / fj));
            cost += 2 * fj * cdiv(C + (p.real ? 1 : 0), sj * h);
        }
    }
    return cost;
}

std::int64_t lane_values(const plan& p) { return lane_values_with(p, p.sub_groups); }

bool compare_plans(const plan& cand, const plan& best, std::int64_t transforms, const device_figures& dev) {
    auto total = [&](const plan& p, i64& cost) {
        cost = work_group_cost(p);
        const i64 wave = std::max<i64>(1, mul(mul(p.per_group, dev.subslices), resident_groups(p, dev, p.large_grf)));
        return mul(cdiv(transforms, wave), cost);
    };
    i64 cc = 0, bc = 0;
    const i64 tc = total(cand, cc), tb = total(best, bc);
    if (tc != tb) return tc < tb;
    if (cc != bc) return cc < bc;
    if (cand.count[0] != best.count[0] || cand.count[1] != best.count[1]) {
        const i64 lc = lane_values(cand), lb = lane_values(best);
        if (lc != lb) return lc < lb;
        for (int d = 0; d < 2; ++d)
            if (cand.count[d] != best.count[d]) return cand.count[d] < best.count[d];
    }
    const i64 threads = std::max<i64>(1, dev.threads_per_eu / (cand.large_grf ? 2 : 1));
    const i64 ec = cdiv(cand.sub_groups, threads), eb = cdiv(best.sub_groups, threads);
    if (ec != eb) return ec < eb;
    return cand.sub_groups > best.sub_groups;
}

int plan_batch(plan& p, std::int64_t transforms, const device_figures& dev) {
    const i64 h = p.h(), C = p.c2c_len(), rows = p.rows(), k0 = p.count[0], f0 = p.fact[0][0];
    const i64 P1 = p.dim1_len();
    i64 least = k0 == 1 ? cdiv(rows, h) : rows;
    if (p.rank == 2) least = std::max(least, (p.count[1] == 2 ? p.fact[1][0] : 1) * p.per_group);
    i64 useful;
    if (k0 == 1) {
        useful = cdiv(rows, h);
    } else {
        useful = mul(rows, cdiv(C / f0, h));
        i64 prod = f0;
        for (i64 k = 1; k < k0; ++k) {
            const i64 before = prod;
            prod *= p.fact[0][k];
            useful = std::max(useful, mul(mul(rows, C / prod), cdiv(before, h)));
        }
        if (p.real) useful = std::max(useful, mul(rows, cdiv((C + 1) / 2, h)));
    }
    if (p.rank == 2 && P1 >= 2) {
        const i64 smallest = p.count[1] == 2 ? p.fact[1][1] : p.fact[1][0];
        useful = std::max(useful, mul(mul(cdiv(C + (p.real ? 1 : 0), h), p.per_group), P1) / smallest);
    }
    useful = std::max<i64>(useful, 1);
    const i64 most = std::min({useful, dev.max_work_group / p.sub_group,
                               dev.threads_per_subslice / (p.large_grf ? 2 : 1)});
    if (least > most || least < 1) return plan_not_applicable;
    plan best = p;
    best.sub_groups = least;
    const i64 D = group_data_bytes(p);
    const i64 steps = cdiv(D, mul(mul(largest_factor(p), p.sub_group), p.elem()));
    for (i64 s = least + 1; s <= most; ++s) {
        plan trial = p;
        trial.sub_groups = s;
        const i64 resident = resident_groups(trial, dev, p.large_grf);
        const i64 held = mul(mul(mul(mul(lane_values_with(trial, s), p.sub_group), s), p.elem()), resident);
        if (s - 1 >= steps && held > 2 * dev.local_mem) continue;
        if (compare_plans(trial, best, transforms, dev)) best = trial;
    }
    p.sub_groups = best.sub_groups;
    return plan_made;
}

// ---- the search --------------------------------------------------------------------

int make_plan(const problem& prob, const layout& lay, const device_figures& dev, plan& out) {
    if (dev.sub_group < 16) return plan_not_applicable;
    const i64 h = dev.sub_group / 2;
    const i64 n0 = prob.n[0], n1 = prob.rank == 2 ? prob.n[1] : 1;
    const i64 L0 = prob.real ? n0 / 2 : n0;
    const i64 cbytes = prob.single ? 8 : 16;
    // One transform's data must fit the local memory.
    if (mul(mul(prob.real ? n0 / 2 + 1 : n0, n1), cbytes) > dev.local_mem) return plan_not_applicable;
    if (!prob.single && prob.real && n0 == 2508 && dev.backend == 0) return plan_not_applicable;
    if (!prob.real && prob.rank == 1) {
        const i64 tiny = prob.single ? 4 : 2;
        if (n0 <= tiny && (n0 != tiny || prob.transforms % h != 0)) return plan_not_applicable;
    }

    plan base;
    base.rank = prob.rank;
    base.real = prob.real;
    base.single = prob.single;
    base.transforms = prob.transforms;
    for (int dir = 0; dir < 2; ++dir) {
        base.in_dist[dir] = lay.in_dist[dir];
        base.out_dist[dir] = lay.out_dist[dir];
        for (int d = 0; d < 2; ++d) {
            base.in_stride[dir][d] = lay.in_stride[dir][d];
            base.out_stride[dir][d] = lay.out_stride[dir][d];
        }
        base.scale[dir] = prob.scale[dir];
        base.wanted[dir] = lay.supported[dir] && built(prob.directions, dir);
    }
    if (!base.wanted[0] && !base.wanted[1]) return plan_not_applicable;
    base.sub_group = dev.sub_group;

    i64 cap[2] = {4, 4};
    bool have = false;
    plan best;
    const i64 candidates = prob.rank == 1 ? 4 : 8;
    const i64 lens[2] = {L0, n1};
    for (i64 i = 0; i < candidates; ++i) {
        plan c = base;
        c.count[0] = i % 4 + 1;
        c.count[1] = i / 4 + 1;
        bool ok = true;
        for (int d = 0; d < 2 && ok; ++d) {
            for (int j = 0; j < 4; ++j) c.fact[d][j] = 1;
            if (c.count[d] == 1) {
                ok = lens[d] >= 1 && lens[d] <= 64;
                c.fact[d][0] = lens[d];
            } else {
                ok = lens[d] != 1 && factor_length(c.count[d], lens[d], c.fact[d]) == plan_made;
            }
        }
        if (!ok) continue;
        // Real rows of 37 to 64 complex points that split are split.
        if (prob.real && c.count[0] == 1 && L0 >= 37 && L0 <= 64 && !is_prime(L0)) continue;
        bool pruned = false;
        for (int d = 0; d < 2 && !pruned; ++d) {
            const i64 mf = c.fact[d][0];
            if (cap[d] == 4 && ((d == 0 && mf <= h) || mf == 2 || mf == 3 || is_prime(mf))) cap[d] = c.count[d];
            if (c.count[d] > cap[d]) pruned = true;
        }
        if (pruned) continue;
        c.per_group = prob.rank == 1 && c.count[0] == 1 ? std::min(h, prob.transforms) : 1;
        c.last_group = prob.transforms % c.per_group ? prob.transforms % c.per_group : c.per_group;
        i64 fp = 0;
        for (int dir = 0; dir < 2; ++dir) fp = std::max(fp, slm_fp(c, dir));
        c.slm_bytes = mul(fp, c.elem());
        if (c.slm_bytes > dev.local_mem) continue;
        if (plan_batch(c, prob.transforms, dev) != plan_made) continue;
        if (!have || compare_plans(c, best, prob.transforms, dev)) {
            best = c;
            have = true;
        }
    }
    if (!have) return plan_not_applicable;

    // Rank 1: when threads rather than local memory limit the resident
    // work-groups, the large register file may finish in as few rounds.
    if (best.rank == 1 && !best.large_grf) {
        const i64 a = dev.local_mem / best.slm_bytes;
        const i64 b = dev.threads_per_subslice / best.sub_groups;
        if (b > 0 && a >= b) {
            const i64 v = lane_values(best);
            const i64 m = std::min(dev.max_work_group / best.sub_group, dev.threads_per_subslice / 2);
            const i64 q = m / b;
            if (q > 0) {
                const i64 D = group_data_bytes(best), U = mul(mul(v, best.sub_group), best.elem());
                if (cdiv(D, mul(q, U)) <= cdiv(D, mul(best.sub_groups, U))) {
                    plan grf = best;
                    grf.large_grf = true;
                    if (plan_batch(grf, prob.transforms, dev) == plan_made) best = grf;
                }
            }
        }
    }
    out = best;
    return plan_made;
}

// ---- tables ------------------------------------------------------------------------

void table_bytes_needed(const plan& p, std::uint64_t out[6]) {
    for (int i = 0; i < 6; ++i) out[i] = 0;
    const i64 c = 2 * p.elem(), h = p.h(), k0 = p.count[0];
    if (k0 >= 2) {
        i64 P = 1;
        for (i64 j = 1; j < k0; ++j) P *= p.fact[0][j];
        const i64 main = h * 2 * c * p.fact[0][0] * cdiv(P, h);
        for (int dir = 0; dir < 2; ++dir)
            if (p.wanted[dir]) out[dir] = static_cast<std::uint64_t>(main);
        for (i64 j = 1; j <= k0 - 2; ++j) {
            i64 rest = 1;
            for (i64 i = j + 1; i < k0; ++i) rest *= p.fact[0][i];
            out[j + 1] = static_cast<std::uint64_t>(p.fact[0][j] * rest * c);
        }
        if (p.real) {
            const i64 g = std::max<i64>(1, p.sub_groups / p.rows());
            out[4] = static_cast<std::uint64_t>(g * h * 2 * c * cdiv((p.c2c_len() + 1) / 2, g * h));
        }
    }
    if (p.rank == 2 && p.count[1] == 2) out[5] = static_cast<std::uint64_t>(p.fact[1][0] * p.fact[1][1] * c);
}

void table_bytes(const plan& p, std::uint32_t align_bytes, std::uint64_t out[6]) {
    table_bytes_needed(p, out);
    for (int i = 0; i < 6; ++i)
        if (out[i]) out[i] = align_workspace_bytes(out[i], align_bytes);
}

// ---- program -----------------------------------------------------------------------

std::string kernel_name(const plan& p) {
    const long long d0 = static_cast<long long>(p.c2c_len() * (p.real ? 2 : 1));
    const char* kind = p.real ? "real" : "cmplx";
    const char* prec = p.single ? "s" : "d";
    if (p.rank == 2) return format(64, "%s_fft_%lldx%lld_%s", kind, static_cast<long long>(p.dim1_len()), d0, prec);
    return format(64, "%s_fft_%lld_%s", kind, d0, prec);
}

std::string factor_function(std::int64_t f) { return format(64, "fft_%lld_s", static_cast<long long>(f)); }

std::string build_options(const plan& p, int dir) {
    const std::string name = kernel_name(p);
    if (name.empty()) return std::string();
    std::string s = p.single ? "" : "-Dcl_tarvo_subgroups_long ";
    auto put = [&s](const std::string& piece) {
        if (piece.empty()) return false;
        s += piece;
        return s.size() < 1024;
    };
    using ll = long long;
    bool ok = put(format(1024,
                         "-DSLM_BYTE_SIZE=%lld -DRANK=%lld -DKERNEL_FUNC=%s -DFWD_DIR=%lld -DBWD_DIR=%lld -DIDIST=%lld "
                         "-DODIST=%lld -DWORKGROUP_SIZE=%lld -DSUBGROUP_SIZE=%lld -DBATCH_PER_GROUP=%lld "
                         "-DBATCH_FOR_LAST_GROUP=%lld -DREAL_FFT=%lld ",
                         static_cast<ll>(p.slm_bytes), static_cast<ll>(p.rank), name.c_str(), static_cast<ll>(1 - dir),
                         static_cast<ll>(dir), static_cast<ll>(p.in_dist[dir]), static_cast<ll>(p.out_dist[dir]),
                         static_cast<ll>(p.work_group_size()), static_cast<ll>(p.sub_group),
                         static_cast<ll>(p.per_group), static_cast<ll>(p.last_group), static_cast<ll>(p.real ? 1 : 0)));
    for (int d = 0; d < p.rank && d < 2 && ok; ++d) {
        for (int k = 0; k < p.count[d] && ok; ++k)
            ok = put(format(256, "-DDIM%dFACT%d=%lld -DDIM%dFACT%d_FUNC=%s ", d, k, static_cast<ll>(p.fact[d][k]), d, k,
                            factor_function(p.fact[d][k]).c_str()));
        if (d == 1 && ok)
            ok = put(format(256, "-DDIM%dISTRIDE=%lld -DDIM%dOSTRIDE=%lld ", d, static_cast<ll>(p.in_stride[dir][1]), d,
                            static_cast<ll>(p.out_stride[dir][1])));
    }
    if (ok && p.count[0] == 1) {
        const double sc = p.scale[dir];
        const bool differs = p.single ? std::fabs(static_cast<double>(static_cast<float>(sc)) - 1.0) >= 1.1920928955078125e-7
                                      : std::fabs(sc - 1.0) >= 2.220446049250313e-16;
        if (differs)
            ok = put(format(128, "-DSCALE=(ftype)%a ", p.single ? static_cast<double>(static_cast<float>(sc)) : sc));
    }
    if (ok && stages_input(p, dir))
        ok = put(format(128, "-DCOPY_INPUT_IN_SLM -DLOAD_ROW_BY_ROW=%lld ", static_cast<ll>(load_row_by_row(p, dir))));
    if (ok)
        ok = put(format(512,
                        "-DINPUT_FP_PER_ROW_MIN=%lld -DINPUT_FP_PER_ROW=%lld -DROW_IDIST_FP=%lld -DROW_ODIST_SLM_FP=%lld "
                        "-DFP_OUT_PER_FFT=%lld ",
                        static_cast<ll>(input_fp_per_row_min(p, dir)), static_cast<ll>(input_fp_per_row(p, dir)),
                        static_cast<ll>(row_idist_fp(p, dir)), static_cast<ll>(row_odist_slm_fp(p, dir)),
                        static_cast<ll>(fp_out_per_fft(p, dir))));
    if (ok && p.large_grf) ok = put("-cl-tarvo-256-GRF-per-thread ");
    if (!ok) return std::string();
    return s;
}

}  // namespace korami::ovx::dft::small_md_slm
