#include "dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_nonsubgrp_plan.hpp"

#include "dft/gpu/frame/layout.hpp"

#include <algorithm>
#include <climits>
#include <cstdio>

#include "dft/gpu/frame/align.hpp"

#include "dft/gpu/kernel_texts.hpp"

namespace korami {
namespace ovx {
namespace dft {
namespace nsg {

namespace {

std::string fmt_ll(long long v) { return std::to_string(v); }

std::string hex_double(double v) {
    char b[64];
    std::snprintf(b, sizeof b, "%a", v);
    return b;
}

// 64-bit FNV-1a digest.
std::uint64_t digest(const std::string& s) {
    std::uint64_t h = 1469598103934665603ull;
    for (unsigned char c : s) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

}  // namespace

factors choose_factors(std::int64_t n) {
    factors r{{1, 1, 1, 1}};
    if (n == 75) return factors{{15, 5, 1, 1}};
    if (n == 135) return factors{{15, 9, 1, 1}};
    if (n == 128) return factors{{8, 16, 1, 1}};
    const std::int64_t m = n < 16777217 ? 64 : 256;
    std::int64_t rem = n;
    for (int i = 0; i < 3 && rem > 1; ++i) {
        std::int64_t f = 0;
        for (std::int64_t d = m; d >= 2; --d)
            if (rem % d == 0) {
                f = d;
                break;
            }
        if (f == 0) {
            if ((m + 1) * (m + 1) > rem) {
                f = rem;
            } else {
                for (std::int64_t d = m + 1; d * d <= rem; ++d)
                    if (rem % d == 0) {
                        f = rem / d;
                        break;
                    }
                if (f == 0) f = rem;
            }
        }
        r.f[i] = f;
        rem /= f;
    }
    r.f[3] = rem;
    return r;
}

void fill_directions(const node_layout& l, bool in_place, problem& p) {
    for (int d = 0; d < 2; ++d) {
        const gpufw::side_pair st = gpufw::governing_strides(l.input_stride, l.output_stride, l.fwd_stride, l.bwd_stride, d);
        p.dir[d].istride = st.in;
        // In place the output is written in the input's layout.
        p.dir[d].ostride = in_place ? st.in : st.out;
    }
    for (int j = 0; j < 3; ++j) {
        p.batch[j] = 1;
        for (int d = 0; d < 2; ++d) p.dir[d].idist[j] = p.dir[d].odist[j] = 0;
        if (j >= l.batch_records) continue;
        p.batch[j] = l.count[j];
        for (int d = 0; d < 2; ++d) {
            const gpufw::side_pair ds = gpufw::governing_distances(l.input_distance[j], l.output_distance[j],
                                                                   l.fwd_distance[j], l.bwd_distance[j], d);
            p.dir[d].idist[j] = ds.in;
            p.dir[d].odist[j] = ds.out;
        }
    }
}

bool make_plan(const problem& p, plan& out) {
    plan pl{};
    pl.n = p.n;
    pl.fact = choose_factors(p.n);
    const std::int64_t* f = pl.fact.f;
    pl.P[0] = 1;
    for (int i = 1; i < 4; ++i) pl.P[i] = pl.P[i - 1] * f[i - 1];
    pl.Q[3] = 1;
    for (int i = 2; i >= 0; --i) pl.Q[i] = pl.Q[i + 1] * f[i + 1];
    pl.passes = 1;
    for (int i = 1; i < 4; ++i)
        if (f[i] >= 2) pl.passes = i + 1;
    pl.total = p.batch[0] * p.batch[1] * p.batch[2];
    // The chunk's first transform reaches the kernels as a 32-bit int.
    if (pl.total < 0 || (pl.total > 0 && pl.total - 1 > INT_MAX)) return false;

    const std::uint64_t one = static_cast<std::uint64_t>(p.n) * (p.dbl ? 16u : 8u);
    const std::uint64_t cap = plan_common::scratch_cap_of(p.arch);
    const std::uint64_t all = static_cast<std::uint64_t>(pl.total) * one;
    const std::uint64_t s = all < cap ? all : (cap > one ? cap : one);
    std::int64_t c = static_cast<std::int64_t>(s / one);
    pl.grouped = false;
    pl.group_T = 0;
    pl.group_local_bytes = 0;
    if (p.n == 135 || p.n == 75) {
        const std::int64_t t = p.n == 135 ? 15 : 25;
        if (c >= t && (c % t == 0 || c < pl.total)) {
            pl.grouped = true;
            pl.group_T = t;
            pl.group_local_bytes = t * p.n * (p.dbl ? 16 : 8);
            if (c < pl.total) c -= c % t;
        }
    }
    pl.chunk = c;
    pl.needs_scratch[0] = !pl.grouped && (p.in_place || f[1] >= 2);
    pl.needs_scratch[1] = !pl.grouped && f[2] >= 2;
    pl.scratch_bytes = align_workspace_bytes(s, p.align_bytes);
    pl.scratch_workspace_bytes = 0;
    for (int a = 0; a < 2; ++a)
        if (pl.needs_scratch[a]) pl.scratch_workspace_bytes += pl.scratch_bytes;
    out = pl;
    return true;
}

std::string kernel_name(std::int64_t n, int pass, bool dbl) {
    return "fft_" + fmt_ll(n) + "_fact" + std::to_string(pass) + "_" + (dbl ? "d" : "s");
}

std::string function_name(std::int64_t fact) {
    if (is_default_factor(fact)) return fact % 2 == 0 ? "EVEN_DEFAULT_FUNC" : "ODD_DEFAULT_FUNC";
    return "fft_" + fmt_ll(fact) + "_s";
}

std::string copy_kernel_name(bool dbl) { return dbl ? "copy_output_d" : "copy_output_s"; }

namespace {

struct pass_constants {
    bool do_in_offset, do_out_offset, do_scale, do_twiddle;
    std::int64_t tw_size, fact;
    std::int64_t idist_z, odist_z, idist_y, odist_y, idist_x, odist_x, istride, ostride;
};

pass_constants constants_of(const problem& p, const plan& pl, int dir, int i) {
    const std::int64_t n = pl.n;
    const bool last = pl.P[i] * pl.fact.f[i] == n;
    const bool out = last && !(p.in_place && i == 0);
    const std::int64_t si = i == 0 ? p.dir[dir].istride : 1;
    const std::int64_t so = out ? p.dir[dir].ostride : 1;
    pass_constants c{};
    c.do_in_offset = i == 0;
    c.do_out_offset = out;
    c.do_scale = i == 0;
    c.do_twiddle = !last;
    c.tw_size = n / pl.P[i];
    c.fact = pl.fact.f[i];
    c.idist_z = i == 0 ? p.dir[dir].idist[0] : n;
    c.odist_z = out ? p.dir[dir].odist[0] : n;
    c.idist_y = pl.P[i] * si;
    c.odist_y = pl.P[i] * pl.fact.f[i] * so;
    c.idist_x = si;
    c.odist_x = so;
    c.istride = (n / pl.fact.f[i]) * si;
    c.ostride = pl.P[i] * so;
    return c;
}

void constants_text(std::string& t, const pass_constants& c) {
    t += "  const uint doInOffset = " + std::to_string(c.do_in_offset) + ";\n";
    t += "  const uint doOutOffset = " + std::to_string(c.do_out_offset) + ";\n";
    t += "  const uint do_scale = " + std::to_string(c.do_scale) + ";\n";
    t += "  const uint do_twiddle = " + std::to_string(c.do_twiddle) + ";\n";
    t += "  const ulong twSize = " + fmt_ll(c.tw_size) + ";\n";
    t += "  const ulong fact = " + fmt_ll(c.fact) + ";\n";
    t += "  const ulong idist_z = " + fmt_ll(c.idist_z) + ", odist_z = " + fmt_ll(c.odist_z) + ";\n";
    t += "  const ulong idist_y = " + fmt_ll(c.idist_y) + ", odist_y = " + fmt_ll(c.odist_y) + ";\n";
    t += "  const ulong idist_x = " + fmt_ll(c.idist_x) + ", odist_x = " + fmt_ll(c.odist_x) + ";\n";
    t += "  const ulong istride = " + fmt_ll(c.istride) + ", ostride = " + fmt_ll(c.ostride) + ";\n";
    t += "  (void)doInOffset; (void)doOutOffset; (void)do_scale; (void)do_twiddle; (void)twSize; (void)fact;\n"
         "  (void)idist_z; (void)odist_z;\n";
}

const char* kBases =
    "  const ulong x = get_global_id(0), y = get_global_id(1), zl = get_global_id(2);\n"
    "  const ulong z = zl + (ulong)offset;\n"
    "  const ulong ib = doInOffset ? NSG_BATCH_BASE(z, IDIST_Z1, IDIST_Z2, IDIST_Z3) : zl * idist_z;\n"
    "  const ulong ob = doOutOffset ? NSG_BATCH_BASE(z, ODIST_Z1, ODIST_Z2, ODIST_Z3) : zl * odist_z;\n"
    "  const ulong il = ib + y * idist_y + x * idist_x;\n"
    "  const ulong ol = ob + y * odist_y + x * odist_x;\n";

const char* kTwiddleLoop =
    "      const ulong r = (k * y) % twSize;\n"
    "      const ftype a = (ftype)(2 * r) / (ftype)twSize;\n";

// Component i (below 16) of an OpenCL C vector: ".s0" .. ".sf".
std::string lane(std::int64_t i) { return std::string(".s") + "0123456789abcdef"[i]; }

// The declarations of the evaluated members and their products, for step s.
std::string twiddle_members(std::int64_t fact, std::int64_t s) {
    // The evaluated members: angle j * step of set tag for the powers of two j.
    struct member {
        std::string name;
        std::int64_t mult;
    };
    std::vector<member> eval;
    auto powers = [&eval](const std::string& tag, std::int64_t step, std::int64_t count) {
        for (std::int64_t j = 1; j <= count; j *= 2) eval.push_back({tag + fmt_ll(j), j * step});
    };
    const std::int64_t lcount = std::min(s - 1, fact - 1), hcount = (fact - 1) / s;
    powers("l", 1, lcount);
    powers("h", s, hcount);
    std::string t;
    // Each angle is reduced exactly modulo twSize; with two or more members
    // they go through one vector cospi and one vector sinpi (lanes past the
    // members hold 0).
    std::size_t width = 1;
    while (width < eval.size()) width *= 2;
    if (width == 1) {
        const member& m = eval[0];
        t += "    const ulong r" + m.name + " = (" + fmt_ll(m.mult) + " * y) % twSize;\n";
        t += "    const ftype a" + m.name + " = (ftype)(2 * r" + m.name + ") / (ftype)twSize;\n";
        t += "    const ftype c" + m.name + " = cospi(a" + m.name + "), s" + m.name + " = sinpi(a" + m.name + ");\n";
    } else {
        const std::string W = std::to_string(width);
        std::string lanes;
        for (std::size_t i = 0; i < width; ++i) {
            if (i) lanes += ", ";
            if (i < eval.size())
                lanes += "(ftype)(2 * ((" + fmt_ll(eval[i].mult) + " * y) % twSize)) / (ftype)twSize";
            else
                lanes += "(ftype)0";
        }
        t += "    const ftype" + W + " a_ = (ftype" + W + ")(" + lanes + ");\n";
        t += "    const ftype" + W + " c_v = cospi(a_), s_v = sinpi(a_);\n";
        for (std::size_t i = 0; i < eval.size(); ++i) {
            const std::string L = lane(static_cast<std::int64_t>(i));
            t += "    const ftype c" + eval[i].name + " = c_v" + L + ", s" + eval[i].name + " = s_v" + L + ";\n";
        }
    }
    // Members j = 1 .. count of one set that are not powers of two: the
    // product of the twiddles of top (the highest power of two in j) and j - top.
    auto set = [&t](const std::string& tag, std::int64_t count) {
        for (std::int64_t j = 3; j <= count; ++j) {
            std::int64_t top = 1;
            while (top * 2 <= j) top *= 2;
            if (top == j) continue;
            const std::string J = tag + fmt_ll(j), T = tag + fmt_ll(top), R = tag + fmt_ll(j - top);
            t += "    const ftype c" + J + " = c" + T + " * c" + R + " - s" + T + " * s" + R + ", s" + J + " = c" + T +
                 " * s" + R + " + s" + T + " * c" + R + ";\n";
        }
    };
    set("l", lcount);
    set("h", hcount);
    return t;
}

// The multiplications of v[1] .. v[fact-1] by their twiddles, for step s.
std::string twiddle_apply(std::int64_t fact, std::int64_t s) {
    std::string t;
    for (std::int64_t k = 1; k < std::min(s, fact); ++k) {
        const std::string L = "l" + fmt_ll(k);
        t += "    TWIDL_MULT_INPLACE(c" + L + ", s" + L + ", v[" + fmt_ll(k) + "]);\n";
    }
    if (s >= fact) return t;
    // Rows h >= 1: the twiddles of k = s*h .. s*h + s-1 are the products of the
    // twiddle of s*h with those of l = 0 .. s-1 (lane 0: l = 0, twiddle 1),
    // formed as one vector per row.
    std::int64_t width = 2;
    while (width < s) width *= 2;
    const std::string W = fmt_ll(width);
    std::string lc = "(ftype)1", ls = "(ftype)0";
    for (std::int64_t l = 1; l < width; ++l) {
        lc += l < s ? ", cl" + fmt_ll(l) : ", (ftype)0";
        ls += l < s ? ", sl" + fmt_ll(l) : ", (ftype)0";
    }
    t += "    const ftype" + W + " lc_ = (ftype" + W + ")(" + lc + "), ls_ = (ftype" + W + ")(" + ls + ");\n";
    for (std::int64_t h = 1; h * s < fact; ++h) {
        const std::string H = "h" + fmt_ll(h);
        t += "    { const ftype" + W + " rc_ = c" + H + " * lc_ - s" + H + " * ls_, rs_ = c" + H + " * ls_ + s" + H +
             " * lc_;\n";
        for (std::int64_t l = 0; l < s && h * s + l < fact; ++l)
            t += "      TWIDL_MULT_INPLACE(rc_" + lane(l) + ", rs_" + lane(l) + ", v[" + fmt_ll(h * s + l) + "]);\n";
        t += "    }\n";
    }
    return t;
}

// The twiddles of results 1 .. fact-1 of a plain pass (and of the first
// transform of the grouped entry): result k is multiplied by
// cis(2 pi k y / twSize). With k = s*h + l (s the smallest step
// with s*s >= fact), the pass needs the angles of l = 1 .. s-1 and of s*h.
// Within each of these two sets cospi and sinpi are evaluated only for the
// power-of-two members (j = 1, 2, 4, ...), each angle reduced exactly modulo
// twSize first; member j = top + rest (top its highest power of two) is the
// product of the twiddles of top and rest, and the twiddle of a mixed k is the
// product of its two members. Every twiddle is then a product of at most
// log2(fact) evaluated values (a few rounding errors of the working
// precision), for about log2(fact) evaluations per work-item instead of
// fact - 1: the evaluations dominated the passes' time.
//
// The evaluated angles of both sets go through one vector cospi and one
// vector sinpi, and the products of a row h (k = s*h .. s*h + s-1) are formed
// as one vector of s lanes, with the same formulas lane by lane. Where the
// twiddles are computed per work-item (the first pass, whose y differs in
// every work-item) this takes about an eighth fewer instructions per
// work-item than one scalar evaluation or product at a time.
std::string split_twiddles(std::int64_t fact) {
    std::int64_t s = 1;
    while (s * s < fact) ++s;
    return "  {\n" + twiddle_members(fact, s) + twiddle_apply(fact, s) + "  }\n";
}

std::string plain_entry(const std::string& name, const std::string& func, const pass_constants& c,
                        bool loads_first) {
    const std::string F = fmt_ll(c.fact);
    std::string t = "__kernel void " + name + "(const __global ftype *in, __global ftype *out, const int offset)\n{\n";
    constants_text(t, c);
    t += kBases;
    t += "  ptype v[" + F + "];\n";
    t += "  __attribute__((opencl_unroll_hint))\n"
         "  for (ulong k = 0; k < " + F + "; ++k) v[k] = vload2(il + k * istride, in);\n";
    // With one transform per chunk the last pass reads and writes with the
    // same long stride (N / fact), so a work-item's loads and stores compete
    // for the same cache sets. The barrier lets the work-group load all of
    // its points before any of its stores: on devices that run the items of
    // a work-group one after the other, the lines that neighbouring items
    // share are then not evicted by stores in between (a fifth to a quarter
    // less time for this pass there; the larger work-groups of batched chunks
    // hold too many points between the two halves for it to pay).
    if (loads_first) t += "  barrier(CLK_LOCAL_MEM_FENCE);\n";
    t += "  " + func + "(v, (ftype)1);\n";
    if (c.do_scale)
        t += "  __attribute__((opencl_unroll_hint))\n"
             "  for (ulong k = 0; k < " + F + "; ++k) v[k] *= SCALE;\n";
    if (c.do_twiddle) t += split_twiddles(c.fact);
    t += "  __attribute__((opencl_unroll_hint))\n"
         "  for (ulong k = 0; k < " + F + "; ++k) vstore2(v[k], ol + k * ostride, out);\n}\n\n";
    return t;
}

std::string default_entry(const std::string& name, const std::string& func, const pass_constants& c) {
    std::string t = "__kernel void " + name + "(const __global ftype *in, __global ftype *out, const int offset)\n{\n";
    constants_text(t, c);
    t += kBases;
    t += "  " + func + "(fact, istride, ostride, in + 2 * il, out + 2 * ol);\n";
    t += "  barrier(CLK_GLOBAL_MEM_FENCE);\n";
    if (c.do_scale)
        t += "  for (ulong k = 0; k < fact; ++k) vstore2(vload2(ol + k * ostride, out) * SCALE, ol + k * ostride, out);\n";
    t += "  barrier(CLK_GLOBAL_MEM_FENCE);\n";
    if (c.do_twiddle) {
        t += "  for (ulong k = 1; k < fact; ++k) {\n";
        t += kTwiddleLoop;
        t += "      ptype v = vload2(ol + k * ostride, out);\n"
             "      TWIDL_MULT_INPLACE(cospi(a), sinpi(a), v);\n"
             "      vstore2(v, ol + k * ostride, out);\n  }\n";
    }
    t += "}\n\n";
    return t;
}

// Both passes of 75 / 135 in one work-group of T transforms, exchanging
// through local memory. The result goes to the caller's output layout (the
// direction's output distances and stride), so that out-of-place transforms
// whose output layout differs from the input's come out right. Transforms
// past the end of the batch (the rounded-up last chunk) compute on zeros and
// store nothing.
std::string grouped_entry(const problem& p, const plan& pl, int dir, const std::string& name,
                          const pass_constants& c) {
    const std::int64_t f0 = pl.fact.f[0], f1 = pl.fact.f[1];
    const std::int64_t part = (f0 + f1 - 1) / f1, rem = f0 % f1;
    const std::string F0 = fmt_ll(f0), F1 = fmt_ll(f1), N = fmt_ll(pl.n);
    std::string t = "__kernel void " + name +
                    "(const __global ftype *in, __global ftype *out, __local ftype *slmPtr, const int offset)\n{\n";
    constants_text(t, c);
    t += "  const ulong fact1 = " + F1 + ", partition = " + fmt_ll(part) + ", rem = " + fmt_ll(rem) + ";\n";
    t += "  const ulong ostride_out = " + fmt_ll(p.dir[dir].ostride) + ";\n";
    t += "  const ulong y = get_local_id(1), zloc = get_local_id(2), zl = get_global_id(2);\n"
         "  const ulong z = zl + (ulong)offset;\n"
         "  const int valid = z < (ulong)BATCH1 * (ulong)BATCH2 * (ulong)BATCH3;\n"
         "  const ulong ib = valid ? NSG_BATCH_BASE(z, IDIST_Z1, IDIST_Z2, IDIST_Z3) : 0;\n"
         "  const ulong ob = valid ? NSG_BATCH_BASE(z, ODIST_Z1, ODIST_Z2, ODIST_Z3) : 0;\n"
         "  const ulong il = ib + y * idist_y;\n";
    t += "  ptype v[" + fmt_ll(part * f1) + "];\n";
    t += "  for (ulong k = 0; k < " + F0 + "; ++k) v[k] = valid ? vload2(il + k * istride, in) : (ptype)(0, 0);\n";
    t += "  " + function_name(f0) + "(v, (ftype)1);\n";
    t += "  for (ulong k = 0; k < " + F0 + "; ++k) v[k] *= SCALE;\n";
    t += split_twiddles(f0);
    t += "  for (ulong k = 0; k < " + F0 + "; ++k) vstore2(v[k], zloc * " + N + " + " + F0 + " * y + k, slmPtr);\n";
    t += "  barrier(CLK_LOCAL_MEM_FENCE);\n";
    t += "  const ulong cols = (rem == 0 || y < rem) ? partition : 1;\n"
         "  const ulong c0 = (rem == 0 || y < rem) ? y * partition : rem * partition + (y - rem);\n";
    t += "  for (ulong q = 0; q < cols; ++q) {\n"
         "    const ulong col = c0 + q;\n"
         "    ptype* w = v + q * fact1;\n"
         "    for (ulong k = 0; k < " + F1 + "; ++k) w[k] = vload2(zloc * " + N + " + col + " + F0 + " * k, slmPtr);\n"
         "    " + function_name(f1) + "(w, (ftype)1);\n"
         "    if (valid)\n"
         "      for (ulong k = 0; k < " + F1 + "; ++k) vstore2(w[k], ob + (col + " + F0 +
         " * k) * ostride_out, out);\n"
         "  }\n}\n\n";
    return t;
}

}  // namespace

std::string entry_texts(const problem& p, const plan& pl, int dir) {
    std::string t;
    for (int i = 0; i < 4; ++i) {
        if (i > 0 && (pl.grouped || pl.fact.f[i] < 2)) continue;
        const pass_constants c = constants_of(p, pl, dir, i);
        const std::string name = kernel_name(pl.n, i, p.dbl);
        if (is_default_factor(pl.fact.f[i]))
            t += default_entry(name, function_name(pl.fact.f[i]), c);
        else if (pl.grouped)
            t += grouped_entry(p, pl, dir, name, c);
        else
            t += plain_entry(name, function_name(pl.fact.f[i]), c, i > 0 && !c.do_twiddle && pl.chunk == 1);
    }
    return t;
}

std::string build_options(const problem& p, const plan& pl, int dir) {
    bool even_def = false, odd_def = false, any_def = false;
    for (int i = 0; i < 4; ++i) {
        const std::int64_t f = pl.fact.f[i];
        if (f >= 2 && is_default_factor(f)) {
            any_def = true;
            (f % 2 == 0 ? even_def : odd_def) = true;
        }
    }
    const direction_layout& d = p.dir[dir];
    std::string o = "-DNONSUBGRP -DFWD_DIR=" + std::to_string(dir == 0 ? 1 : 0) +
                    " -DBWD_DIR=" + std::to_string(dir == 0 ? 0 : 1) + " -DSCALE=(ftype)" +
                    hex_double(p.scale[dir]) + " ";
    if (even_def) o += "-DNEED_EVEN_DEFAULT ";
    if (odd_def) o += "-DNEED_ODD_DEFAULT ";
    if (p.in_place && pl.fact.f[1] == 1) o += "-DNEED_COPY_OUTPUT ";
    for (int i = 0; i < 4; ++i) o += "-DFACT" + std::to_string(i) + "=" + fmt_ll(pl.fact.f[i]) + " ";
    o += "-DIDIST=" + fmt_ll(pl.n) + " -DODIST=" + fmt_ll(d.odist[0]) + " -DISTRIDE=1 -DOSTRIDE=" +
         fmt_ll(d.ostride) + " ";
    for (int j = 0; j < 3; ++j) o += "-DBATCH" + std::to_string(j + 1) + "=" + fmt_ll(p.batch[j]) + " ";
    for (int j = 0; j < 3; ++j) o += "-DIDIST_Z" + std::to_string(j + 1) + "=" + fmt_ll(d.idist[j]) + " ";
    for (int j = 0; j < 3; ++j) o += "-DODIST_Z" + std::to_string(j + 1) + "=" + fmt_ll(d.odist[j]) + " ";
    const std::int64_t grf_n = p.dbl ? 3750706 : 1048577;
    if (p.arch == OVX_GPU_ARCH_QUEN4 || (p.arch == OVX_GPU_ARCH_QUEN6 && pl.n >= grf_n && !any_def)) o += "-cl-tarvo-256-GRF-per-thread ";
    return o;
}

std::string program_key(const problem& p, const plan& pl, int dir, const std::string& entries,
                        const std::string& options) {
    const direction_layout& d = p.dir[dir];
    std::string k = std::string(p.dbl ? gpu_programs::c2c_1d_nonsubgrp_d : gpu_programs::c2c_1d_nonsubgrp_s) + "." +
                    (p.dbl ? "d" : "s") + "c" + (dir == 0 ? "f" : "b") +
                    (p.in_place ? "i" : "o") + fmt_ll(pl.n) + ":" + fmt_ll(d.istride) + ":" + fmt_ll(d.ostride);
    for (int j = 0; j < 3; ++j)
        if (p.batch[j] > 1) k += "*" + fmt_ll(p.batch[j]) + ":" + fmt_ll(d.idist[j]) + ":" + fmt_ll(d.odist[j]);
    char h[40];
    std::snprintf(h, sizeof h, "#%016llx", static_cast<unsigned long long>(digest(entries + '\n' + options)));
    return k + h;
}

std::vector<launch> chunk_launches(const problem& p, const plan& pl, std::int64_t count) {
    std::vector<launch> v;
    const std::size_t cnt = static_cast<std::size_t>(count);
    const std::int64_t* f = pl.fact.f;
    if (pl.grouped) {
        const std::size_t t = static_cast<std::size_t>(pl.group_T);
        launch l{kernel_slot::pass0, true, area::in, p.in_place ? area::in : area::out,
                 {1, static_cast<std::size_t>(pl.Q[0]), (cnt + t - 1) / t * t},
                 {1, static_cast<std::size_t>(f[1]), t}, 3};
        v.push_back(l);
        return v;
    }
    auto g = [&](int i) {
        return launch{static_cast<kernel_slot>(i), false, area::in, area::out,
                      {static_cast<std::size_t>(pl.P[i]), static_cast<std::size_t>(pl.Q[i]), cnt}, {0, 0, 0}, 3};
    };
    launch l0 = g(0);
    l0.reads = area::in;
    l0.writes = (f[1] == 1 && !p.in_place) ? area::out : area::scratch1;
    v.push_back(l0);
    if (p.in_place && f[1] == 1) {
        v.push_back(launch{kernel_slot::copy, false, area::scratch1, area::out,
                           {static_cast<std::size_t>(pl.n), cnt, 1}, {0, 0, 0}, 2});
    }
    if (f[1] >= 2) {
        launch l = g(1);
        l.reads = area::scratch1;
        l.writes = f[2] == 1 ? area::out : area::scratch2;
        v.push_back(l);
    }
    if (f[2] >= 2) {
        launch l = g(2);
        l.reads = area::scratch2;
        l.writes = f[3] == 1 ? area::out : area::scratch1;
        v.push_back(l);
    }
    if (f[3] >= 2) {
        launch l = g(3);
        l.reads = area::scratch1;
        l.writes = area::out;
        v.push_back(l);
    }
    return v;
}

}  // namespace nsg
}  // namespace dft
}  // namespace ovx
}  // namespace korami
