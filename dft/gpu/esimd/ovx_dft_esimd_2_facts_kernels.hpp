// Kernels of the explicit-SIMD two-factor plan: the specialization constants
// of a stage's bundle and the kernel functors. One thread works on groups of
// 8 complex values held in one simd<T, 16> (real and imaginary parts
// interleaved).
#pragma once

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

// x times the table entry w (forward: times conj(w); the table holds
// scale * e^{+i theta} for both directions).
template <typename T, int dir>
SYCL_ESIMD_FUNCTION inline vec<T> twiddle(const vec<T>& x, const vec<T>& w) {
    vec<T> wr, wi;
    xe::simd<T, 8> re = w.template select<8, 2>(0), im = w.template select<8, 2>(1);
    wr.template select<8, 2>(0) = re;
    wr.template select<8, 2>(1) = re;
    if (dir == 0) {
        wi.template select<8, 2>(0) = im;
        wi.template select<8, 2>(1) = -im;
    } else {
        wi.template select<8, 2>(0) = -im;
        wi.template select<8, 2>(1) = im;
    }
    return x * wr + esimd_codelets::swapReIm<T>(x) * wi;
}

template <typename T, int dir>
SYCL_ESIMD_FUNCTION inline void fft_n(int n, vec<T>* x) {
    using namespace esimd_codelets;
    switch (n) {
        case 8: fft_8<T, dir>(x); break;
        case 9: fft_9<T, dir>(x); break;
        case 10: fft_10<T, dir>(x); break;
        case 12: fft_12<T, dir>(x); break;
        case 16: fft_16<T, dir>(x); break;
        case 25: fft_25<T, dir>(x); break;
        case 32: fft_32<T, dir>(x); break;
        case 64: fft_64<T, dir>(x); break;
        default: break;
    }
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
    const int f0 = int(kh.get_specialization_constant<dft_spec_const_fact0>());
    const int f1 = int(kh.get_specialization_constant<dft_spec_const_fact1>());
    const std::int64_t dist = dir == 0 ? kh.get_specialization_constant<dft_spec_const_fwd_dist>()
                                       : kh.get_specialization_constant<dft_spec_const_bwd_dist>();
    const std::int64_t slm = kh.get_specialization_constant<dft_spec_const_slm_size>();
    const std::int64_t bx = kh.get_specialization_constant<dft_num_batch_in_x_dir>();
    const std::int64_t by = kh.get_specialization_constant<dft_num_batch_in_y_dir>();
    const std::int64_t es = kh.get_specialization_constant<dft_stride_to_next_elem>();
    const int fact1p = f1 + kh.get_specialization_constant<dft_spec_const_padfact1>() / 2;
    xe::slm_init(std::uint32_t(slm));

    const std::int64_t g = std::int64_t(it.get_group(0)) + group_offset;
    const std::int64_t base = (g % bx) * (cb ? 8 : 1) + ((g / bx) % by) * (es / by) + (g / (bx * by)) * dist;
    const int lid = int(it.get_local_id(0)), nloc = int(it.get_local_range(0));
    const bool from_out = false;
    vec<T> x[64];
    // Rows of a line whose fact0 is a multiple of 8 go through SLM column
    // by column (element k0 + fact0 * n1, fact0 * fact1 values, within the
    // SLM size): pass 1 scatters each vector's 8 columns n1, pass 2 reads 8
    // consecutive k0 as one block. Other rows keep the row layout (k0 *
    // fact1p + n1) and pass 2 gathers 8 rows k0. Either way one side of the
    // transpose moves single lanes; scattering the lanes of a computed vector
    // is the cheaper side.
    const bool col_rows = !cb && f0 % 8 == 0;
    const auto col_offs = lane_offsets<T>(std::uint32_t(f0));

    // Each item asks ahead for the rows it will load in the group that
    // follows in the launch (the next 8 lines, or the next line): the
    // column-batched stages read rows a plane or line of the array apart,
    // each in a page of its own, which the hardware's stream detection does
    // not follow, and a row stage's next line starts a new page. Rows of
    // gathered elements and partial vectors get no hint.
    const bool ask_ahead = (cb || es == 1) && it.get_group(0) + 1 < it.get_group_range(0);
    const std::int64_t gn = g + 1;
    const std::int64_t next = (gn % bx) * (cb ? 8 : 1) + ((gn / bx) % by) * (es / by) + (gn / (bx * by)) * dist;

    // Pass 1: fact0-point transforms of 8 columns n1 at a time (rows), or of
    // column n1 of 8 lines (col_batch); twiddle; into SLM.
    const int groups1 = cb ? f1 : (f1 + 7) / 8;
    for (int a = lid; a < groups1; a += nloc) {
        const int n1 = cb ? a : 8 * a;
        const int valid = cb ? 8 : (f1 - n1 < 8 ? f1 - n1 : 8);
        if (ask_ahead && valid == 8)
            for (int n0 = 0; n0 < f0; ++n0) mem.prefetch(next + std::int64_t(n1 + f1 * n0) * es);
        for (int n0 = 0; n0 < f0; ++n0)
            x[n0] = cb ? mem.load(from_out, base + std::int64_t(n1 + f1 * n0) * es, 1, 8)
                       : mem.load(from_out, base + std::int64_t(n1 + f1 * n0) * es, es, valid);
        fft_n<T, dir>(f0, x);
        for (int k0 = 0; k0 < f0; ++k0) {
            const std::int64_t slot = cb ? std::int64_t(k0 * f1 + n1) * 8 : std::int64_t(k0 * fact1p + n1);
            x[k0] = twiddle<T, dir>(x[k0], mem.load_table(2 * slot));
            if (col_rows) {
                const auto offs = col_offs + std::uint32_t(2 * std::int64_t(n1 * f0 + k0) * sizeof(T));
                if (valid == 8)
                    xe::slm_scatter<T, 16>(offs, x[k0]);
                else
                    xe::slm_scatter<T, 16>(offs, x[k0], first_lanes(valid));
            } else {
                xe::slm_block_store<T, 16>(std::uint32_t(2 * slot * std::int64_t(sizeof(T))), x[k0]);
            }
        }
    }
    xe::barrier();

    // Pass 2: fact1-point transforms of 8 rows k0 at a time (rows), or of
    // row k0 of 8 lines (col_batch); results k = k0 + fact0 * k1.
    const int groups2 = cb ? f0 : (f0 + 7) / 8;
    for (int b = lid; b < groups2; b += nloc) {
        const int k0 = cb ? b : 8 * b;
        const int valid = cb ? 8 : (f0 - k0 < 8 ? f0 - k0 : 8);
        for (int n1 = 0; n1 < f1; ++n1) {
            if (cb) {
                x[n1] = xe::slm_block_load<T, 16>(std::uint32_t(2 * std::int64_t(k0 * f1 + n1) * 8 * sizeof(T)));
            } else if (col_rows) {
                x[n1] = xe::slm_block_load<T, 16>(std::uint32_t(2 * std::int64_t(n1 * f0 + k0) * sizeof(T)));
            } else {
                const auto offs = lane_offsets<T>(std::uint32_t(fact1p)) +
                                  std::uint32_t(2 * std::int64_t(k0 * fact1p + n1) * sizeof(T));
                x[n1] = valid == 8 ? xe::slm_gather<T, 16>(offs) : xe::slm_gather<T, 16>(offs, first_lanes(valid));
            }
        }
        fft_n<T, dir>(f1, x);
        for (int k1 = 0; k1 < f1; ++k1) {
            if (cb)
                mem.store(base + std::int64_t(k0 + f0 * k1) * es, 1, 8, x[k1]);
            else
                mem.store(base + std::int64_t(k0 + f0 * k1) * es, es, valid, x[k1]);
        }
    }
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
