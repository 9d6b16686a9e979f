// 1D real GPU backend (both precisions from this one source through the 1D
// frame). The complex sub-transforms are sub-nodes committed through the
// ordinary 1D complex candidate list; this module owns the table of M
// twiddles (even N), a scratch area that holds a chunk of sub-transform rows,
// and the input and output stages around the sub-transform.
//
// Workspace (the module's areas): the persistent region holds the sub-nodes'
// table areas, then the module's scratch when a sub-node needs scratch of its
// own, then the table; the scratch region holds the module's scratch
// (otherwise) and the sub-nodes' shared scratch.
#include "dft/gpu/frame/records.hpp"

#include <algorithm>
#include <cstring>
#include <string>
#include <type_traits>

#include "dft/gpu/kernel_texts.hpp"
#include "dft/node/ovx_dft_cpu_library.h"

#include "dft/gpu/frame/frame.hpp"
#include "dft/gpu/1d/ovx_dft_gpu_bkd_r2c_1d_main_plan.hpp"
#include "gpu/ovx_gpu.hpp"

namespace korami {
namespace ovx {
namespace dft {
namespace gpu1d {
using namespace gpufw;

class twidlTableGenR2C1DMainUsmDouble;
class twidlTableGenR2C1DMainBufDouble;
class twidlTableGenR2C1DMainUsmFloat;
class twidlTableGenR2C1DMainBufFloat;

namespace {

template <class Real>
struct r2c_block : frame_block<Real, r2c_1d::kernel_slots> {
    r2c_1d::plan pl;
    sub_node_table<2> subs;        // full chunks, then the shorter last chunk when there is one
    int scratch;                   // area slot of the scratch
    int table;                     // area slot of the twiddle table; -1 for odd N
};

int applicability(const DFTI_DESCRIPTOR* node) {
    if (node->colbatch_group_count >= 1) return DFTI_STATUS_NOT_APPLICABLE;
    if (node->forward_domain != DFTI_REAL) return DFTI_STATUS_NOT_APPLICABLE;
    if (node->real_storage != DFTI_REAL_REAL) return DFTI_STATUS_NOT_APPLICABLE;
    if (node->conjugate_even_storage != DFTI_COMPLEX_COMPLEX) return DFTI_STATUS_NOT_APPLICABLE;
    if (node->packed_format != DFTI_CCE_FORMAT) return DFTI_STATUS_NOT_APPLICABLE;
    if (node->working_dims.count != 1 || node->working_batch.count != 1) return DFTI_STATUS_NOT_APPLICABLE;
    if (node->input_offset || node->output_offset || node->fwd_offset || node->bwd_offset)
        return DFTI_STATUS_NOT_APPLICABLE;
    return 0;
}

void describe(const DFTI_DESCRIPTOR* node, std::int32_t arch, bool single, r2c_1d::plan_input& in) {
    const dfti_dim& d = node->working_dims.records[0];
    in = frame_plan_input<r2c_1d::plan_input>(node, arch, single);
    in.in_place = node->placement == DFTI_INPLACE;
    in.s = {d.input_stride, d.output_stride, d.fwd_stride, d.bwd_stride};
}

template <class Real>
struct r2c_module {
    using real = Real;
    using block = r2c_block<Real>;
    static constexpr bool single = std::is_same<Real, float>::value;
    static constexpr bool composite = true;
    // Estimates made before the device is known plan for generation 6,
    // whose scratch cap is the largest, so that the estimate covers the
    // commit on any device.
    static constexpr std::int32_t estimate_generation = OVX_GPU_ARCH_QUEN6;

    static const char* program_name() {
        return single ? gpu_programs::r2c_1d_main_s : gpu_programs::r2c_1d_main_d;
    }
    static const char* text() {
        return single ? gpu_kernels::ovx_bkd_r2c_1d_main_text_s : gpu_kernels::ovx_bkd_r2c_1d_main_text_d;
    }

    static int test(const DFTI_DESCRIPTOR* node) { return applicability(node); }

    // The row of the complex sub-node that runs `count` real transforms in
    // place in the scratch; it carries the descriptor's scales.
    static sub_node_row complex_row(const DFTI_DESCRIPTOR* node, const block* b, std::int64_t count) {
        const std::int64_t L = b->pl.sub_length;
        const std::int64_t batch = r2c_1d::sub_batch(b->pl, count);
        const double fs = node->forward_scale, bs = node->backward_scale;
        return {"1D_R2C|c", complex_1d_creator(single, L),
                [=](DFTI_DESCRIPTOR* s) {
                    s->user_dims.records[0] = dfti_dim{L, 0, 0, 1, 1};
                    s->user_batch.records[0] = dfti_dim{batch, 0, 0, L, L};
                    s->placement = DFTI_INPLACE;
                    s->forward_scale = fs;
                    s->backward_scale = bs;
                },
                nullptr, 2};
    }

    static int plan(DFTI_DESCRIPTOR* node, block* b) {
        r2c_1d::plan_input in;
        describe(node, b->arch, single, in);
        int st = r2c_1d::make_plan(in, b->pl);
        if (st != 0) return st;
        if (b->pl.transforms > 0 && b->pl.chunk_transforms < 1) return DFTI_STATUS_NOT_APPLICABLE;
        const sub_node_row rows[2] = {complex_row(node, b, b->pl.chunk_transforms),
                                      complex_row(node, b, b->pl.last_chunk_transforms)};
        // An estimate plans the full chunk only: the shorter last chunk
        // never needs more.
        st = b->subs.make(node, rows, b->pl.last_chunk_transforms > 0 && !b->estimating ? 2 : 1);
        if (st != 0) return st;
        // The persistent region: the sub-nodes' tables, then the scratch when
        // a sub-node needs scratch of its own (the sub-transform runs on the
        // scratch), then the table. Otherwise the scratch shares the second
        // region with the sub-nodes' scratch.
        const std::uint64_t scratch_bytes = frame_align(b, b->pl.scratch_bytes);
        const bool scratch_in_persistent = b->subs.scratch_bytes() != 0;
        b->areas.sub_node_tables();
        if (scratch_in_persistent) b->scratch = b->areas.scratch("scratch", scratch_bytes, region::tables);
        b->table = -1;
        if (b->pl.twiddle_bytes != 0)
            b->table = b->areas.table("twiddle table", b->pl.twiddle_bytes, -1,
                                      [b](const area_target& t, std::vector<sycl::event>& done) {
                                          done.push_back(write_twiddles(b, t));
                                          return 0;
                                      });
        if (!scratch_in_persistent) b->scratch = b->areas.scratch("scratch", scratch_bytes);
        b->areas.round_scratch();
        return 0;
    }

    static int build_kernels(DFTI_DESCRIPTOR*, block* b) {
        for (int slot = 0; slot < r2c_1d::kernel_slots; ++slot) {
            if (!b->pl.built[slot]) continue;
            const std::string options = r2c_1d::build_options(b->pl, slot);
            if (options.empty()) return DFTI_STATUS_INTERNAL;
            char name[64];
            if (bounded_snprintf(name, sizeof name, "%s", r2c_1d::kernel_name(b->pl, slot).c_str()) < 0)
                return DFTI_STATUS_INTERNAL;
            b->kernels[slot] = frame_get_kernel(b->queue, program_name(), text(), name, options.c_str());
            if (!b->kernels[slot]) return DFTI_STATUS_INTERNAL;
        }
        return 0;
    }

    static int input_slot(const block* b, int dir) {
        const bool even = b->pl.n % 2 == 0;
        return dir == 0 ? r2c_1d::fwd_input_copy : (even ? r2c_1d::c2r_kernel : r2c_1d::bwd_input_copy);
    }
    static int output_slot(const block* b, int dir) {
        const bool even = b->pl.n % 2 == 0;
        return dir == 0 ? (even ? r2c_1d::r2c_kernel : r2c_1d::fwd_output_copy) : r2c_1d::bwd_output_copy;
    }

    static bool direction_ready(const block* b, int dir) {
        if (!b->subs[0]) return false;
        return b->kernels[input_slot(b, dir)] && b->kernels[output_slot(b, dir)];
    }

    // Table entry k = e^(+2 pi i k / N) = (cospi(k/M), sinpi(k/M)); no scale.
    static sycl::event write_twiddles(block* b, const area_target& where) {
        const std::int64_t m = b->pl.half;
        if (where.kind == DFTI_CONTAINER_USM) {
            Real* t = static_cast<Real*>(where.usm);
            using N = std::conditional_t<single, twidlTableGenR2C1DMainUsmFloat, twidlTableGenR2C1DMainUsmDouble>;
            return b->queue->submit([&](sycl::handler& h) {
                h.parallel_for<N>(sycl::range<1>(static_cast<std::size_t>(m)), [=](sycl::item<1> it) {
                    const std::size_t k = it.get_id(0);
                    const Real x = static_cast<Real>(k) * (Real(1) / static_cast<Real>(m));
                    t[2 * k] = sycl::cospi(x);
                    t[2 * k + 1] = sycl::sinpi(x);
                });
            });
        }
        sycl::buffer<char, 1>* buf = where.buf;
        using N = std::conditional_t<single, twidlTableGenR2C1DMainBufFloat, twidlTableGenR2C1DMainBufDouble>;
        return b->queue->submit([&](sycl::handler& h) {
            sycl::accessor<char, 1, sycl::access_mode::read_write> acc(*buf, h);
            h.parallel_for<N>(sycl::range<1>(static_cast<std::size_t>(m)), [=](sycl::item<1> it) {
                Real* t = frame_acc_ptr<Real>(acc);
                const std::size_t k = it.get_id(0);
                const Real x = static_cast<Real>(k) / static_cast<Real>(m);
                t[2 * k] = sycl::cospi(x);
                t[2 * k + 1] = sycl::sinpi(x);
            });
        });
    }

    static int launch(DFTI_DESCRIPTOR* node, block* b, const launch_args& a) {
        const r2c_1d::plan& p = b->pl;
        const int dir = a.direction;
        const bool usm_ws = a.usm_ws;
        const std::uint64_t ws_kind = a.ws_kind;
        void* scratch = b->areas.arg(b->scratch, usm_ws);
        void* table = b->table < 0 ? nullptr : b->areas.arg(b->table, usm_ws);
        const int in_slot = input_slot(b, dir), out_slot = output_slot(b, dir);
        sycl::kernel* kin = b->kernels[in_slot];
        sycl::kernel* kout = b->kernels[out_slot];
        if (!kin || !kout) return DFTI_STATUS_INTERNAL;
        const std::int64_t total = p.transforms;
        if (total <= 0) {
            if (a.result) *a.result = sycl::event();
            return 0;
        }
        if (!scratch || (p.twiddle_bytes != 0 && !table)) return DFTI_STATUS_NO_WORKSPACE;
        // `offset` is a 32-bit int in the kernels.
        if (total + 1 > 0x7fffffffLL) return DFTI_STATUS_UNIMPLEMENTED;
        const bool uses_table_in = in_slot == r2c_1d::c2r_kernel;
        const bool uses_table_out = out_slot == r2c_1d::r2c_kernel;
        const dfti_data_kind sub_kind{ws_kind};
        sycl::event prev;
        bool have_prev = false;
        int status = 0;
        for (std::int64_t t = 0; t < total; t += p.chunk_transforms) {
            const bool first = t == 0;
            const std::int64_t count = std::min(p.chunk_transforms, total - t);
            DFTI_DESCRIPTOR* sub = (t + p.chunk_transforms > total) ? b->subs[1] : b->subs[0];
            const int offset = static_cast<int>(t);
            std::int64_t r[2];
            r2c_1d::launch_range(p, in_slot, count, r);
            sycl::event ea = b->queue->submit([&](sycl::handler& h) {
                if (first)
                    frame_order_first(h, a, {b->areas.written(b->table)});
                else if (usm_ws && have_prev) {
                    h.depends_on(prev);
                }
                if (a.buffers)
                    dft_set_arg(h, 0, a.in, DFTI_CONTAINER_BUFFER);
                else
                    h.set_arg(0, a.in);
                dft_set_arg(h, scratch, ws_kind);
                int next = 2;
                if (uses_table_in) dft_set_arg(h, static_cast<std::uint32_t>(next++), table, ws_kind);
                h.set_arg(next, offset);
                h.parallel_for(sycl::range<2>(static_cast<std::size_t>(r[1]), static_cast<std::size_t>(r[0])), *kin);
            });
            sycl::event eb;
            status = b->subs.run(sub, dir, scratch, scratch, {ea}, !usm_ws, &sub_kind, eb);
            if (status != 0) {
                // Nothing of this compute may still run when the error is reported.
                frame_wait_quietly(&ea);
                if (have_prev) frame_wait_quietly(&prev);
                break;
            }
            r2c_1d::launch_range(p, out_slot, count, r);
            prev = b->queue->submit([&](sycl::handler& h) {
                if (usm_ws) h.depends_on(eb);
                dft_set_arg(h, 0, scratch, ws_kind);
                if (a.buffers)
                    dft_set_arg(h, a.out, DFTI_CONTAINER_BUFFER);
                else
                    h.set_arg(1, a.out);
                int next = 2;
                if (uses_table_out) dft_set_arg(h, static_cast<std::uint32_t>(next++), table, ws_kind);
                h.set_arg(next, offset);
                h.parallel_for(sycl::range<2>(static_cast<std::size_t>(r[1]), static_cast<std::size_t>(r[0])), *kout);
            });
            have_prev = true;
        }
        if (a.result && have_prev) *a.result = prev;
        return status;
    }
};

}  // namespace

}  // namespace gpu1d
}  // namespace dft
}  // namespace ovx
}  // namespace korami

OVX_GPU_BACKEND_RECORDS(korami::ovx::dft::gpu1d::r2c_module, r2c_1d_main)
