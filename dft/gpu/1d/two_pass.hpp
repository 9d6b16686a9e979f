// Areas and launch steps shared by the two-pass modules (the four-factor
// module and its column-batched form). Per workspace binding: the two pass
// tables (shared by both directions), one inter-pass table per built
// direction (scale folded in) and one scratch area between the passes.
// Pass 0 reads the input and writes the scratch; pass 1 reads the scratch
// and writes the output.
#ifndef OVX_DFT_GPU_1D_TWO_PASS_HPP
#define OVX_DFT_GPU_1D_TWO_PASS_HPP

#include <cstdint>
#include <vector>

#include <sycl/sycl.hpp>

#include "dft/gpu/frame/frame.hpp"

namespace korami {
namespace ovx {
namespace dft {
namespace gpu1d {
using namespace gpufw;

inline int two_pass_kslot(int pass, int dir) { return pass * 2 + dir; }

template <class Real, class Plan>
struct two_pass_block : frame_block<Real, 4> {
    using real = Real;
    Plan pl;
    char kernel_names[2][64];
    void* pass_table_usm[2];
    sycl::buffer<char, 1>* pass_table_buf[2];
    sycl::event* pass_table_event[2];
    void* itab_usm[2];  // inter-pass table per direction
    sycl::buffer<char, 1>* itab_buf[2];
    sycl::event* itab_event[2];
    void* scratch_usm;
    sycl::buffer<char, 1>* scratch_buf;
};

// What one compute of a direction works on.
struct two_pass_areas {
    bool usm_ws;
    std::uint64_t ws_kind;
    void* scratch;
    void* t0;  // pass tables
    void* t1;
    void* it;  // the direction's inter-pass table
};

// Module hooks and launch steps; Block derives from two_pass_block.
template <class Block>
struct two_pass {
    using Real = typename Block::real;

    static constexpr bool own_tables = true;

    // Pass tables, then the inter-pass tables of the built directions.
    static int carve_tables(Block* b, void* base, int kind, std::uint64_t offset, std::uint64_t* end) {
        if (!base) return DFTI_STATUS_NO_WORKSPACE;
        std::uint64_t off = offset;
        for (int ps = 0; ps < 2; ++ps) {
            frame_carve(base, kind, off, b->pl.pass[ps].table_bytes, b->pass_table_usm[ps], b->pass_table_buf[ps]);
            off += b->pl.pass[ps].table_bytes;
        }
        for (int dir = 0; dir < 2; ++dir) {
            if (!direction_built(b->directions, dir)) continue;
            frame_carve(base, kind, off, b->pl.twiddle_table_bytes, b->itab_usm[dir], b->itab_buf[dir]);
            off += b->pl.twiddle_table_bytes;
        }
        if (end) *end = off;
        return 0;
    }

    // Pass table entry k1 * f0 + k0 = e^(-2 pi i k0 k1 / M), no scale, made on the device.
    template <class UsmName, class BufName>
    static int write_pass_tables(Block* b, int kind) {
        for (int ps = 0; ps < 2; ++ps) {
            if (!frame_area_placed(kind, b->pass_table_usm[ps], b->pass_table_buf[ps])) return DFTI_STATUS_NO_WORKSPACE;
            const std::int64_t f0 = b->pl.pass[ps].fact0, f1 = b->pl.pass[ps].fact1, m = b->pl.pass[ps].fft_length;
            sycl::event e = frame_table_group<Real, UsmName, BufName>(
                b->queue, kind, b->pass_table_usm[ps], b->pass_table_buf[ps],
                sycl::range<2>(static_cast<std::size_t>(f1), static_cast<std::size_t>(f0)),
                [=](Real* t, std::size_t kk1, std::size_t kk0) {
                    const std::int64_t k1 = static_cast<std::int64_t>(kk1), k0 = static_cast<std::int64_t>(kk0);
                    const Real x = static_cast<Real>((k0 * k1) % m) * Real(-2) / static_cast<Real>(m);
                    t[2 * (k1 * f0 + k0)] = sycl::cospi(x);
                    t[2 * (k1 * f0 + k0) + 1] = sycl::sinpi(x);
                });
            frame_keep(b->pass_table_event[ps], e);
        }
        return 0;
    }

    // Hands the table writers' events to whoever waits for the binding.
    static void table_events(const Block* b, std::vector<sycl::event>* events) {
        if (!events) return;
        for (int dir = 0; dir < 2; ++dir)
            if (b->itab_event[dir]) events->push_back(*b->itab_event[dir]);
        for (int ps = 0; ps < 2; ++ps)
            if (b->pass_table_event[ps]) events->push_back(*b->pass_table_event[ps]);
    }

    static void free_tables(Block* b) {
        for (int i = 0; i < 2; ++i) {
            frame_drop_area(b->pass_table_usm[i], b->pass_table_buf[i], &b->pass_table_event[i]);
            frame_drop_area(b->itab_usm[i], b->itab_buf[i], &b->itab_event[i]);
        }
    }

    static int place_scratch(Block* b, void* base, int kind, std::uint64_t offset) {
        return frame_place_area(base, kind, offset, b->pl.scratch_bytes, b->scratch_usm, b->scratch_buf);
    }

    static void free_scratch(Block* b) { frame_drop_area(b->scratch_usm, b->scratch_buf); }

    // The areas of a compute; false when one is missing.
    static bool areas_of(const DFTI_DESCRIPTOR* node, const Block* b, int dir, two_pass_areas& w) {
        w.usm_ws = node->internal_workspace != 0 || b->ws_kind == DFTI_CONTAINER_USM;
        w.ws_kind = w.usm_ws ? DFTI_CONTAINER_USM : DFTI_CONTAINER_BUFFER;
        w.scratch = frame_area_arg(w.usm_ws, b->scratch_usm, b->scratch_buf);
        w.t0 = frame_area_arg(w.usm_ws, b->pass_table_usm[0], b->pass_table_buf[0]);
        w.t1 = frame_area_arg(w.usm_ws, b->pass_table_usm[1], b->pass_table_buf[1]);
        w.it = frame_area_arg(w.usm_ws, b->itab_usm[dir], b->itab_buf[dir]);
        return w.scratch && w.t0 && w.t1 && w.it;
    }

    // Pass 0: dependencies (the compute's first pass 0 is ordered by the
    // frame's rule and waits for every table of the direction; a later one
    // follows `prev`, the previous submission), then arguments 0 to 3 (input,
    // scratch, pass table, local memory); the offsets follow from argument 4.
    static void pass0_head(sycl::handler& h, const Block* b, const launch_args& a, const two_pass_areas& w,
                           bool first, const sycl::event* prev) {
        if (first) {
            frame_order_first(h, a, {b->pass_table_event[0], b->pass_table_event[1], b->itab_event[a.direction]});
        } else if (w.usm_ws && prev) {
            h.depends_on(*prev);
        }
        if (a.buffers)
            dft_set_arg(h, 0, a.in, DFTI_CONTAINER_BUFFER);
        else
            h.set_arg(0, a.in);
        dft_set_arg<1, sycl::access_mode::read_write>(h, w.scratch, w.ws_kind);
        dft_set_arg(h, 2, w.t0, w.ws_kind);
        sycl::local_accessor<char, 1> slm(sycl::range<1>(static_cast<std::size_t>(b->pl.pass[0].local_bytes)), h);
        h.set_arg(3, slm);
    }

    // Pass 1 after the pass 0 `prev` (which waited for every table): then
    // arguments 0 to 4 (scratch, output, pass table, inter-pass table, local
    // memory); the offsets follow from argument 5.
    static void pass1_head(sycl::handler& h, const Block* b, const launch_args& a, const two_pass_areas& w,
                           const sycl::event& prev) {
        if (w.usm_ws) h.depends_on(prev);
        dft_set_arg(h, 0, w.scratch, w.ws_kind);
        if (a.buffers)
            dft_set_arg<1, sycl::access_mode::read_write>(h, a.out, DFTI_CONTAINER_BUFFER);
        else
            h.set_arg(1, a.out);
        dft_set_arg(h, 2, w.t1, w.ws_kind);
        dft_set_arg(h, 3, w.it, w.ws_kind);
        sycl::local_accessor<char, 1> slm(sycl::range<1>(static_cast<std::size_t>(b->pl.pass[1].local_bytes)), h);
        h.set_arg(4, slm);
    }
};

}  // namespace gpu1d
}  // namespace dft
}  // namespace ovx
}  // namespace korami

#endif
