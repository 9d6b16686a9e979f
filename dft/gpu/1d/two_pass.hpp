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
    int pass_table[2];  // area slots of the two pass tables
    int itab[2];        // area slot of each direction's inter-pass table
    int scratch;        // area slot of the scratch between the passes
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

    // The areas in workspace order: the pass tables (written by `pass`, for
    // pass 0 and 1), the inter-pass tables of the directions (written by
    // `inter`, for direction 0 and 1), then the scratch.
    template <class PassWriter, class InterWriter>
    static void list_areas(Block* b, PassWriter pass, InterWriter inter) {
        for (int ps = 0; ps < 2; ++ps)
            b->pass_table[ps] = b->areas.table("pass table", b->pl.pass[ps].table_bytes, -1,
                                               [b, ps, pass](const area_target& t, std::vector<sycl::event>& done) {
                                                   return pass(b, ps, t, done);
                                               });
        for (int dir = 0; dir < 2; ++dir)
            b->itab[dir] = b->areas.table("inter-pass table", b->pl.twiddle_table_bytes, dir,
                                          [b, dir, inter](const area_target& t, std::vector<sycl::event>& done) {
                                              return inter(b, dir, t, done);
                                          });
        b->scratch = b->areas.scratch("scratch", b->pl.scratch_bytes);
    }

    // Pass table entry k1 * f0 + k0 = e^(-2 pi i k0 k1 / M), no scale, made on the device.
    template <class UsmName, class BufName>
    static sycl::event write_pass_table(Block* b, int ps, const area_target& where) {
        const std::int64_t f0 = b->pl.pass[ps].fact0, f1 = b->pl.pass[ps].fact1, m = b->pl.pass[ps].fft_length;
        return frame_table_group<Real, UsmName, BufName>(
            b->queue, where.kind, where.usm, where.buf,
            sycl::range<2>(static_cast<std::size_t>(f1), static_cast<std::size_t>(f0)),
            [=](Real* t, std::size_t kk1, std::size_t kk0) {
                const std::int64_t k1 = static_cast<std::int64_t>(kk1), k0 = static_cast<std::int64_t>(kk0);
                const Real x = static_cast<Real>((k0 * k1) % m) * Real(-2) / static_cast<Real>(m);
                t[2 * (k1 * f0 + k0)] = sycl::cospi(x);
                t[2 * (k1 * f0 + k0) + 1] = sycl::sinpi(x);
            });
    }

    // The areas of a compute; false when one is missing.
    static bool areas_of(const launch_args& a, const Block* b, int dir, two_pass_areas& w) {
        w.usm_ws = a.usm_ws;
        w.ws_kind = a.ws_kind;
        w.scratch = b->areas.arg(b->scratch, w.usm_ws);
        w.t0 = b->areas.arg(b->pass_table[0], w.usm_ws);
        w.t1 = b->areas.arg(b->pass_table[1], w.usm_ws);
        w.it = b->areas.arg(b->itab[dir], w.usm_ws);
        return w.scratch && w.t0 && w.t1 && w.it;
    }

    // Pass 0: dependencies (the compute's first pass 0 is ordered by the
    // frame's rule and waits for every table of the direction; a later one
    // follows `prev`, the previous submission), then arguments 0 to 3 (input,
    // scratch, pass table, local memory); the offsets follow from argument 4.
    static void pass0_head(sycl::handler& h, const Block* b, const launch_args& a, const two_pass_areas& w,
                           bool first, const sycl::event* prev) {
        if (first) {
            frame_order_first(h, a, {b->areas.written(b->pass_table[0]), b->areas.written(b->pass_table[1]),
                                     b->areas.written(b->itab[a.direction])});
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
