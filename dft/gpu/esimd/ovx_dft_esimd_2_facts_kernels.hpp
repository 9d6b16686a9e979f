// Kernels of the explicit-SIMD two-factor plan: the specialization constants
// of a stage's bundle and the kernel functors. One thread works on groups of
// 8 complex values held in one simd<T, 16> (real and imaginary parts
// interleaved).
#pragma once

#include <type_traits>

#include "gpu/ovx_sycl_ext.hpp"
#include "ovx_dft_esimd_2_facts.hpp"
#include "ovx_dft_esimd_codelets.hpp"

namespace korami::ovx::dft {

inline constexpr sycl::specialization_id<std::int64_t> dft_spec_const_fact0(8);
inline constexpr sycl::specialization_id<std::int64_t> dft_spec_const_fact1(8);
inline constexpr sycl::specialization_id<std::int64_t> dft_spec_const_fwd_dist(0);
inline constexpr sycl::specialization_id<std::int64_t> dft_spec_const_bwd_dist(0);
inline constexpr sycl::specialization_id<std::int64_t> dft_spec_const_VL(16);
inline constexpr sycl::specialization_id<std::int32_t> dft_spec_const_simd_groups_before_transpose(1);
inline constexpr sycl::specialization_id<std::int32_t> dft_spec_const_simd_groups_after_transpose(1);
inline constexpr sycl::specialization_id<std::int32_t> dft_spec_const_fact1_loop_bound(1);
inline constexpr sycl::specialization_id<std::int32_t> dft_spec_const_use_lsc_api(0);
inline constexpr sycl::specialization_id<std::int64_t> dft_spec_const_slm_size(0);
inline constexpr sycl::specialization_id<std::int32_t> dft_num_batch_in_x_dir(1);
inline constexpr sycl::specialization_id<std::int32_t> dft_num_batch_in_y_dir(1);
inline constexpr sycl::specialization_id<std::int32_t> dft_dist_to_next_simd_group(16);
inline constexpr sycl::specialization_id<std::int32_t> dft_dist_to_next_row_in_fact0xfact1(0);
inline constexpr sycl::specialization_id<std::int32_t> dft_dist_to_next_row_in_fact1xfact0(0);
inline constexpr sycl::specialization_id<std::int32_t> dft_stride_to_next_elem(1);
inline constexpr sycl::specialization_id<std::int32_t> dft_spec_const_padfact0(0);
inline constexpr sycl::specialization_id<std::int32_t> dft_spec_const_padfact1(0);
inline constexpr sycl::specialization_id<std::int32_t> dft_num_col_batch_ffts(1);
inline constexpr sycl::specialization_id<std::int32_t> dft_do_twiddle(1);
inline constexpr sycl::specialization_id<std::int32_t> dft_do_fft0(1);
inline constexpr sycl::specialization_id<std::int32_t> dft_do_fft1(1);

namespace esimd_detail {
namespace xe = korami::ovx::gpu::sycl_ext::esimd;
template <typename T>
using vec = xe::simd<T, 16>;

// Byte offsets of the 16 reals of 8 complex values `step` complex apart.
template <typename T>
SYCL_ESIMD_FUNCTION inline xe::simd<std::uint32_t, 16> lane_offsets(std::uint32_t step) {
    xe::simd<std::uint32_t, 16> o;
    xe::simd<std::uint32_t, 8> c(0u, step * 2u * std::uint32_t(sizeof(T)));
    o.template select<8, 2>(0) = c;
    o.template select<8, 2>(1) = c + std::uint32_t(sizeof(T));
    return o;
}
// Lanes of the first `valid` complex values.
SYCL_ESIMD_FUNCTION inline xe::simd_mask<16> first_lanes(int valid) {
    xe::simd_mask<16> m(0);
    for (int i = 0; i < 2 * valid && i < 16; ++i) m[i] = 1;
    return m;
}

// Global memory of a launch: USM pointers or accessors, addressed in
// elements of T.
template <typename T>
struct usm_mem {
    const T* in;
    const T* table;
    T* out;
    SYCL_ESIMD_FUNCTION vec<T> load_table(std::int64_t e) const {
        vec<T> v;
        v.copy_from(table + e, xe::element_aligned);
        return v;
    }
    // 8 complex values starting at complex element c, `step` complex apart.
    SYCL_ESIMD_FUNCTION vec<T> load(bool from_out, std::int64_t c, std::int64_t step, int valid) const {
        const T* p = (from_out ? out : in) + 2 * c;
        if (step == 1 && valid == 8) {
            vec<T> v;
            v.copy_from(p, xe::element_aligned);
            return v;
        }
        return xe::gather<T, 16>(p, lane_offsets<T>(std::uint32_t(step)), first_lanes(valid));
    }
    // A hint that the 8 complex values from complex element c of the stage
    // input will be read soon.
    SYCL_ESIMD_FUNCTION void prefetch(std::int64_t c) const { xe::prefetch<T, 16>(in + 2 * c); }
    SYCL_ESIMD_FUNCTION void store(std::int64_t c, std::int64_t step, int valid, const vec<T>& v) const {
        T* p = out + 2 * c;
        if (step == 1 && valid == 8)
            v.copy_to(p, xe::element_aligned);
        else
            xe::scatter<T, 16>(p, lane_offsets<T>(std::uint32_t(step)), v, first_lanes(valid));
    }
};

template <typename T, typename InAcc, typename TabAcc, typename OutAcc>
struct acc_mem {
    const InAcc& in;
    const TabAcc& table;
    const OutAcc& out;
    SYCL_ESIMD_FUNCTION vec<T> load_table(std::int64_t e) const {
        vec<T> v;
        v.copy_from(table, std::uint32_t(e * sizeof(T)), xe::element_aligned);
        return v;
    }
    template <typename Acc>
    SYCL_ESIMD_FUNCTION static vec<T> load_from(const Acc& a, std::int64_t c, std::int64_t step, int valid) {
        const auto off = std::uint32_t(2 * c * std::int64_t(sizeof(T)));
        if (step == 1 && valid == 8) {
            vec<T> v;
            v.copy_from(a, off, xe::element_aligned);
            return v;
        }
        return xe::gather<T, 16>(a, lane_offsets<T>(std::uint32_t(step)), off, first_lanes(valid));
    }
    SYCL_ESIMD_FUNCTION vec<T> load(bool from_out, std::int64_t c, std::int64_t step, int valid) const {
        return from_out ? load_from(out, c, step, valid) : load_from(in, c, step, valid);
    }
    SYCL_ESIMD_FUNCTION void prefetch(std::int64_t c) const {
        xe::prefetch<T, 16>(in, std::uint64_t(2 * c) * sizeof(T));
    }
    SYCL_ESIMD_FUNCTION void store(std::int64_t c, std::int64_t step, int valid, const vec<T>& v) const {
        const auto off = std::uint32_t(2 * c * std::int64_t(sizeof(T)));
        if (step == 1 && valid == 8)
            v.copy_to(out, off, xe::element_aligned);
        else
            xe::scatter<T, 16>(out, lane_offsets<T>(std::uint32_t(step)), v, off, first_lanes(valid));
    }
};

// 1 in the real lanes and 0 in the imaginary lanes.
template <typename T>
SYCL_ESIMD_FUNCTION inline vec<T> real_lanes() {
    vec<T> r;
    r.template select<8, 2>(0) = T(1);
    r.template select<8, 2>(1) = T(0);
    return r;
}

// x times the table entry w (forward: times conj(w); the table holds
// scale * e^{+i theta} for both directions). The real and imaginary parts of
// w are spread over both lanes of each value with the pair swap and lane
// masks, which stay whole-vector operations: (re, re) and (im, -im), the
// latter negated backward; then x * (re, re) + swapReIm(x) * (im, -im).
template <typename T, int dir>
SYCL_ESIMD_FUNCTION inline vec<T> twiddle(const vec<T>& x, const vec<T>& w) {
    using esimd_codelets::swapReIm;
    const vec<T> re_mask = real_lanes<T>();
    const vec<T> im_mask = T(1) - re_mask;
    const vec<T> ws = swapReIm<T>(w);
    const vec<T> wr = w * re_mask + ws * im_mask;
    const vec<T> wi = dir == 0 ? ws * re_mask - w * im_mask : w * im_mask - ws * re_mask;
    return x * wr + swapReIm<T>(x) * wi;
}

// x times one table entry w held in every value of the vector (the
// column-batched tables repeat each entry for the 8 lines): its parts are
// broadcast from the first value, then x * re + swapReIm(x) * (im, -im),
// negated backward.
template <typename T, int dir>
SYCL_ESIMD_FUNCTION inline vec<T> twiddle_same(const vec<T>& x, const vec<T>& w) {
    using esimd_codelets::swapReIm;
    const vec<T> sign = dir == 0 ? T(2) * real_lanes<T>() - T(1) : T(1) - T(2) * real_lanes<T>();
    return x * vec<T>(w[0]) + swapReIm<T>(x) * (vec<T>(w[1]) * sign);
}

// 8 x 8 complex values transposed: value j of y[i] is value i of x[j].
template <typename T>
SYCL_ESIMD_FUNCTION inline void transpose_8x8(const vec<T>* x, vec<T>* y) {
#pragma GCC unroll 8
    for (int i = 0; i < 8; ++i)
#pragma GCC unroll 8
        for (int j = 0; j < 8; ++j) y[i].template select<2, 1>(2 * j) = x[j].template select<2, 1>(2 * i);
}

// The sub-transform of N points on x[0 .. N-1].
template <typename T, int dir, int N>
SYCL_ESIMD_FUNCTION inline void fft_fixed(vec<T>* x) {
    using namespace esimd_codelets;
    if constexpr (N == 8) fft_8<T, dir>(x);
    else if constexpr (N == 9) fft_9<T, dir>(x);
    else if constexpr (N == 10) fft_10<T, dir>(x);
    else if constexpr (N == 12) fft_12<T, dir>(x);
    else if constexpr (N == 16) fft_16<T, dir>(x);
    else if constexpr (N == 25) fft_25<T, dir>(x);
    else if constexpr (N == 32) fft_32<T, dir>(x);
    else fft_64<T, dir>(x);
}

// Calls fn with the factor f as a compile-time constant (std::integral_constant),
// so that the loops over a sub-transform's points have fixed bounds; factors
// outside the split table call nothing.
template <typename Fn>
SYCL_ESIMD_FUNCTION inline void with_factor(int f, Fn&& fn) {
    switch (f) {
        case 8: fn(std::integral_constant<int, 8>{}); break;
        case 9: fn(std::integral_constant<int, 9>{}); break;
        case 10: fn(std::integral_constant<int, 10>{}); break;
        case 12: fn(std::integral_constant<int, 12>{}); break;
        case 16: fn(std::integral_constant<int, 16>{}); break;
        case 25: fn(std::integral_constant<int, 25>{}); break;
        case 32: fn(std::integral_constant<int, 32>{}); break;
        case 64: fn(std::integral_constant<int, 64>{}); break;
        default: break;
    }
}

// The sub-transform of n points on x[0 .. n-1], n chosen at run time.
template <typename T, int dir>
SYCL_ESIMD_FUNCTION inline void fft_n(int n, vec<T>* x) {
    with_factor(n, [&](auto nc) { fft_fixed<T, dir, decltype(nc)::value>(x); });
}

// Where a launch's work lies: the stage's constants and the group's first
// element.
struct stage_place {
    int f0, f1, fact1p, lid, nloc;
    std::int64_t es, base, next;
    bool ask_ahead, col_rows;
};

// Pass 1 of a group: fact0-point transforms of 8 columns n1 at a time
// (rows), or of column n1 of 8 lines (col_batch); twiddle; into SLM.
// Rows of a line whose fact0 is a multiple of 8 go through SLM column by
// column (element k0 + fact0 * n1, fact0 * fact1 values, within the SLM
// size): each 8 x 8 block of results (8 rows k0 of 8 columns n1) is
// transposed in registers and 8 consecutive k0 of a column are stored as one
// block, which pass 2 reads as one block. Other rows keep the row layout
// (k0 * fact1p + n1) and pass 2 gathers 8 rows k0.
template <typename T, int dir, bool cb, int F0, typename Mem>
SYCL_ESIMD_FUNCTION inline void two_factor_pass1(const Mem& mem, const stage_place& sp) {
    const int f1 = sp.f1;
    const std::int64_t es = sp.es;
    vec<T> x[F0];
    const int groups1 = cb ? f1 : (f1 + 7) / 8;
    for (int a = sp.lid; a < groups1; a += sp.nloc) {
        const int n1 = cb ? a : 8 * a;
        const int valid = cb ? 8 : (f1 - n1 < 8 ? f1 - n1 : 8);
        // The rows this item will load in the group that follows in the
        // launch (the next 8 lines, or the next line): the column-batched
        // stages read rows a plane or line of the array apart, each in a
        // page of its own, which the hardware's stream detection does not
        // follow, and a row stage's next line starts a new page. Rows of
        // gathered elements and partial vectors get no hint.
        if (sp.ask_ahead && valid == 8)
#pragma GCC unroll 16
            for (int n0 = 0; n0 < F0; ++n0) mem.prefetch(sp.next + std::int64_t(n1 + f1 * n0) * es);
        const std::int64_t row = sp.base + std::int64_t(n1) * es, row_step = std::int64_t(f1) * es;
#pragma GCC unroll 16
        for (int n0 = 0; n0 < F0; ++n0)
            x[n0] = cb ? mem.load(false, row + n0 * row_step, 1, 8) : mem.load(false, row + n0 * row_step, es, valid);
        fft_fixed<T, dir, F0>(x);
#pragma GCC unroll 16
        for (int k0 = 0; k0 < F0; ++k0) {
            const std::int64_t slot = cb ? std::int64_t(k0 * f1 + n1) * 8 : std::int64_t(k0 * sp.fact1p + n1);
            if (cb) {
                x[k0] = twiddle_same<T, dir>(x[k0], mem.load_table(2 * slot));
            } else {
                x[k0] = twiddle<T, dir>(x[k0], mem.load_table(2 * slot));
                if (!sp.col_rows)
                    xe::slm_block_store<T, 16>(std::uint32_t(2 * slot * std::int64_t(sizeof(T))), x[k0]);
            }
        }
        if (cb) {
#pragma GCC unroll 16
            for (int k0 = 0; k0 < F0; ++k0)
                xe::slm_block_store<T, 16>(std::uint32_t(2 * std::int64_t(k0 * f1 + n1) * 8 * sizeof(T)), x[k0]);
        } else if constexpr (F0 % 8 == 0) {
            if (sp.col_rows)
                for (int k0 = 0; k0 < F0; k0 += 8) {
                    vec<T> y[8];
                    transpose_8x8<T>(x + k0, y);
                    for (int j = 0; j < valid; ++j)
                        xe::slm_block_store<T, 16>(std::uint32_t(2 * std::int64_t((n1 + j) * F0 + k0) * sizeof(T)),
                                                   y[j]);
                }
        }
    }
}

// Pass 2 of a group: fact1-point transforms of 8 rows k0 at a time (rows),
// or of row k0 of 8 lines (col_batch); results k = k0 + fact0 * k1.
template <typename T, int dir, bool cb, int F1, typename Mem>
SYCL_ESIMD_FUNCTION inline void two_factor_pass2(const Mem& mem, const stage_place& sp) {
    const int f0 = sp.f0;
    const std::int64_t es = sp.es;
    vec<T> x[F1];
    const int groups2 = cb ? f0 : (f0 + 7) / 8;
    for (int b = sp.lid; b < groups2; b += sp.nloc) {
        const int k0 = cb ? b : 8 * b;
        const int valid = cb ? 8 : (f0 - k0 < 8 ? f0 - k0 : 8);
        if (cb) {
#pragma GCC unroll 16
            for (int n1 = 0; n1 < F1; ++n1)
                x[n1] = xe::slm_block_load<T, 16>(std::uint32_t(2 * std::int64_t(k0 * F1 + n1) * 8 * sizeof(T)));
        } else if (sp.col_rows) {
#pragma GCC unroll 16
            for (int n1 = 0; n1 < F1; ++n1)
                x[n1] = xe::slm_block_load<T, 16>(std::uint32_t(2 * std::int64_t(n1 * f0 + k0) * sizeof(T)));
        } else {
            const auto lanes = lane_offsets<T>(std::uint32_t(sp.fact1p));
            for (int n1 = 0; n1 < F1; ++n1) {
                const auto offs = lanes + std::uint32_t(2 * std::int64_t(k0 * sp.fact1p + n1) * sizeof(T));
                x[n1] = valid == 8 ? xe::slm_gather<T, 16>(offs) : xe::slm_gather<T, 16>(offs, first_lanes(valid));
            }
        }
        fft_fixed<T, dir, F1>(x);
        const std::int64_t first = sp.base + std::int64_t(k0) * es, step = std::int64_t(f0) * es;
#pragma GCC unroll 16
        for (int k1 = 0; k1 < F1; ++k1) {
            if (cb)
                mem.store(first + k1 * step, 1, 8, x[k1]);
            else
                mem.store(first + k1 * step, es, valid, x[k1]);
        }
    }
}

// The first element of group g of a launch and of the group after it: 8
// lines (col_batch) or one line along dimension x, then y, then whole
// transforms. Batch extents of 1 take no division.
template <bool cb>
SYCL_ESIMD_FUNCTION inline void group_bases(std::int64_t g, std::int64_t bx, std::int64_t by, std::int64_t es,
                                            std::int64_t dist, std::int64_t& base, std::int64_t& next) {
    const std::int64_t gx = bx == 1 ? 0 : g % bx, gy = bx == 1 ? g : g / bx;
    const std::int64_t yy = by == 1 ? 0 : gy % by, t = by == 1 ? gy : gy / by;
    const std::int64_t ystep = by == 1 ? es : es / by, xstep = cb ? 8 : 1;
    base = gx * xstep + yy * ystep + t * dist;
    if (gx + 1 < bx)
        next = base + xstep;
    else if (yy + 1 < by)
        next = (yy + 1) * ystep + t * dist;
    else
        next = (t + 1) * dist;
}

// One work-group: one line (rows) or 8 adjacent lines (col_batch) of the
// stage. Element n = n1 + fact1 * n0 of a line; fact0-point transforms over
// n0 for each n1, twiddle w^(n1 k0), transpose through SLM, fact1-point
// transforms over n1 for each k0; output k = k0 + fact0 * k1. Threads step
// through their work by the local size, so any local size is correct.
template <typename T, int dir, fft_algo algo, typename Mem>
SYCL_ESIMD_FUNCTION void two_factor_body(const Mem& mem, sycl::nd_item<1> it, const sycl::kernel_handler& kh,
                                         std::int64_t group_offset) {
    constexpr bool cb = algo == fft_algo::col_batch;
    stage_place sp;
    sp.f0 = int(kh.get_specialization_constant<dft_spec_const_fact0>());
    sp.f1 = int(kh.get_specialization_constant<dft_spec_const_fact1>());
    const std::int64_t dist = dir == 0 ? kh.get_specialization_constant<dft_spec_const_fwd_dist>()
                                       : kh.get_specialization_constant<dft_spec_const_bwd_dist>();
    const std::int64_t slm = kh.get_specialization_constant<dft_spec_const_slm_size>();
    const std::int64_t bx = kh.get_specialization_constant<dft_num_batch_in_x_dir>();
    const std::int64_t by = kh.get_specialization_constant<dft_num_batch_in_y_dir>();
    sp.es = kh.get_specialization_constant<dft_stride_to_next_elem>();
    sp.fact1p = cb ? sp.f1 : sp.f1 + kh.get_specialization_constant<dft_spec_const_padfact1>() / 2;
    xe::slm_init(std::uint32_t(slm));

    const std::int64_t g = std::int64_t(it.get_group(0)) + group_offset;
    group_bases<cb>(g, bx, by, sp.es, dist, sp.base, sp.next);
    sp.lid = int(it.get_local_id(0));
    sp.nloc = int(it.get_local_range(0));
    sp.col_rows = !cb && sp.f0 % 8 == 0;
    sp.ask_ahead = (cb || sp.es == 1) && it.get_group(0) + 1 < it.get_group_range(0);

    with_factor(sp.f0, [&](auto f0c) { two_factor_pass1<T, dir, cb, decltype(f0c)::value>(mem, sp); });
    xe::barrier();
    with_factor(sp.f1, [&](auto f1c) { two_factor_pass2<T, dir, cb, decltype(f1c)::value>(mem, sp); });
}
}  // namespace esimd_detail

// The kernel family: T, direction (0 forward, 1 backward), algorithm, and
// false for USM pointers / true for accessors. Members: stage input, stage
// table, stage output, group offset.
template <typename T, int dir, fft_algo algo, bool acc>
struct ovx_dft_esimd_2_facts_kernel;

template <typename T, int dir, fft_algo algo>
struct ovx_dft_esimd_2_facts_kernel<T, dir, algo, false> {
    const T* in;
    const T* table;
    T* out;
    std::int64_t group_offset;
    void operator()(sycl::nd_item<1> it, sycl::kernel_handler kh) const SYCL_ESIMD_KERNEL {
        esimd_detail::two_factor_body<T, dir, algo>(esimd_detail::usm_mem<T>{in, table, out}, it, kh,
                                                    group_offset);
    }
};

template <typename T, int dir, fft_algo algo>
struct ovx_dft_esimd_2_facts_kernel<T, dir, algo, true> {
    using in_acc = sycl::accessor<T, 1, sycl::access_mode::read>;
    using out_acc = sycl::accessor<T, 1, sycl::access_mode::read_write>;
    in_acc in;
    in_acc table;
    out_acc out;
    std::int64_t group_offset;
    void operator()(sycl::nd_item<1> it, sycl::kernel_handler kh) const SYCL_ESIMD_KERNEL {
        esimd_detail::two_factor_body<T, dir, algo>(
            esimd_detail::acc_mem<T, in_acc, in_acc, out_acc>{in, table, out}, it, kh, group_offset);
    }
};

}  // namespace korami::ovx::dft
