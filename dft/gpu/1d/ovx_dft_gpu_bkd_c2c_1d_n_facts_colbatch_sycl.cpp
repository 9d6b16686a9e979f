// N-factor column-batched 1D complex GPU backend (both precisions from this
// one source through the 1D frame). Per built direction two tables: table 1
// (N entries, the direction's scale folded in) and, with three factors,
// table 2 (F1 x F2 entries). No scratch: one kernel per compute.
#include "dft/gpu/frame/records.hpp"

#include <algorithm>
#include <exception>
#include <string>
#include <type_traits>

#include "dft/gpu/frame/frame.hpp"
#include "dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_n_facts_colbatch_plan.hpp"
#include "dft/gpu/kernel_texts.hpp"
#include "gpu/ovx_gpu.hpp"

namespace korami {
namespace ovx {
namespace dft {
namespace gpu1d {
using namespace gpufw;

class twidlTableColBatchInSlmUsmDouble;
class twidlTableColBatchInSlmBufDouble;
class twidlTableColBatchInSlmUsmFloat;
class twidlTableColBatchInSlmBufFloat;

namespace {

template <class Real>
struct n_facts_colbatch_block : frame_block<Real, 2> {
    n_facts_colbatch::plan pl;
    char kernel_name[2][64];
    int table[2][2];  // area slots, [direction][table]; -1 for a table the plan has not
};

n_facts_colbatch::shape shape_of(const DFTI_DESCRIPTOR* node) { return frame_colbatch_shape<n_facts_colbatch::shape>(node); }

template <class Real>
struct n_facts_colbatch_module {
    using real = Real;
    using block = n_facts_colbatch_block<Real>;
    static constexpr bool single = std::is_same<Real, float>::value;

    static const char* program_name() {
        return single ? gpu_programs::c2c_1d_n_facts_colbatch_s : gpu_programs::c2c_1d_n_facts_colbatch_d;
    }
    static const char* text() {
        return single ? gpu_kernels::ovx_bkd_c2c_1d_n_facts_colbatch_text_s
                      : gpu_kernels::ovx_bkd_c2c_1d_n_facts_colbatch_text_d;
    }

    static int test(const DFTI_DESCRIPTOR* node) { return n_facts_colbatch::commit_test(shape_of(node)); }

    static int plan(DFTI_DESCRIPTOR* node, block* b) {
        n_facts_colbatch::device_facts dev;
        // An estimate before the device is known plans for the planner's default device.
        if (!frame_device_assumed(b) && !n_facts_colbatch::planner_device(b->dev, b->arch, dev)) return DFTI_STATUS_NOT_APPLICABLE;
        const int st = n_facts_colbatch::make_plan(shape_of(node), dev, single, b->pl);
        if (st != 0) return st;
        // Table 1 forward, table 1 backward, table 2 forward, table 2
        // backward, each only when it exists.
        for (int t = 0; t < 2; ++t)
            for (int dir = 0; dir < 2; ++dir)
                b->table[dir][t] = b->pl.table_bytes[t] == 0
                                       ? -1
                                       : b->areas.table("table", b->pl.table_bytes[t], dir,
                                                        [b, dir, t](const area_target& w, std::vector<sycl::event>& done) {
                                                            done.push_back(write_table(b, dir, t, w));
                                                            return 0;
                                                        });
        return 0;
    }

    static int build_kernels(DFTI_DESCRIPTOR*, block* b) {
        for (int dir = 0; dir < 2; ++dir) {
            if (!direction_built(b->directions, dir)) continue;
            if (bounded_snprintf(b->kernel_name[dir], 64, "%s", b->pl.kernel_name[dir].c_str()) < 0)
                return DFTI_STATUS_INTERNAL;
            const std::string options = n_facts_colbatch::build_options(b->pl, dir);
            if (options.empty()) return DFTI_STATUS_INTERNAL;
            try {
                b->kernels[dir] = frame_get_kernel(b->queue, program_name(), text(), b->kernel_name[dir], options.c_str());
            } catch (const sycl::exception&) {
                return DFTI_STATUS_NOT_APPLICABLE;
            }
            if (!b->kernels[dir]) return DFTI_STATUS_NOT_APPLICABLE;
        }
        return 0;
    }

    static bool direction_ready(const block* b, int dir) { return b->kernels[dir] != nullptr; }

    // Table t of direction dir: entry m * per_row + j = e^(-2 pi i m j / total),
    // table 1 times the direction's scale.
    static sycl::event write_table(block* b, int dir, int t, const area_target& where) {
        const n_facts_colbatch::plan& p = b->pl;
        using U = std::conditional_t<single, twidlTableColBatchInSlmUsmFloat, twidlTableColBatchInSlmUsmDouble>;
        using B = std::conditional_t<single, twidlTableColBatchInSlmBufFloat, twidlTableColBatchInSlmBufDouble>;
        const std::int64_t rows = t == 0 ? p.factors[1] * p.factors[2] : p.factors[2];
        const std::int64_t per_row = t == 0 ? p.factors[0] : p.factors[1];
        const std::int64_t total = rows * per_row;
        const Real scale = t == 0 ? b->scale[dir] : Real(1);
        const sycl::range<2> r(static_cast<std::size_t>(rows), static_cast<std::size_t>(per_row));
        auto body = [=](Real* tab, std::size_t mm, std::size_t jj) {
            const std::int64_t m = static_cast<std::int64_t>(mm), j = static_cast<std::int64_t>(jj);
            const Real recip = Real(1) / static_cast<Real>(total);
            const Real x = static_cast<Real>((m * j) % total) * Real(-2) * recip;
            tab[2 * (m * per_row + j)] = sycl::cospi(x) * scale;
            tab[2 * (m * per_row + j) + 1] = sycl::sinpi(x) * scale;
        };
        if (where.kind == DFTI_CONTAINER_USM) {
            Real* tab = static_cast<Real*>(where.usm);
            return b->queue->submit([&](sycl::handler& h) {
                h.parallel_for<U>(r, [=](sycl::item<2> it) { body(tab, it.get_id(0), it.get_id(1)); });
            });
        }
        sycl::buffer<char, 1>* buf = where.buf;
        return b->queue->submit([&](sycl::handler& h) {
            sycl::accessor<char, 1, sycl::access_mode::read_write> acc(*buf, h);
            h.parallel_for<B>(r, [=](sycl::item<2> it) { body(frame_acc_ptr<Real>(acc), it.get_id(0), it.get_id(1)); });
        });
    }

    static int launch(DFTI_DESCRIPTOR* node, block* b, const launch_args& a) {
        const n_facts_colbatch::plan& p = b->pl;
        const int dir = a.direction;
        const bool usm_ws = a.usm_ws;
        const std::uint64_t ws_kind = a.ws_kind;
        void* t1 = b->table[dir][0] < 0 ? nullptr : b->areas.arg(b->table[dir][0], usm_ws);
        void* t2 = b->table[dir][1] < 0 ? nullptr : b->areas.arg(b->table[dir][1], usm_ws);
        const bool has_t2 = p.factors[2] > 1;
        if (!t1 || (has_t2 && !t2)) return DFTI_STATUS_NO_WORKSPACE;
        sycl::kernel* k = b->kernels[dir];
        const std::int64_t cc = p.columns_per_group[dir];
        const std::size_t blocks = static_cast<std::size_t>((p.B + cc - 1) / cc);
        const std::size_t wg = static_cast<std::size_t>(p.workgroup_size[dir]);
        sycl::event e = b->queue->submit([&](sycl::handler& h) {
            frame_order_first(h, a, {b->areas.written(b->table[dir][0]), b->areas.written(b->table[dir][1])});
            if (a.buffers) {
                dft_set_arg(h, 0, a.in, DFTI_CONTAINER_BUFFER);
                dft_set_arg<1, sycl::access_mode::read_write>(h, a.out, DFTI_CONTAINER_BUFFER);
            } else {
                h.set_arg(0, a.in);
                h.set_arg(1, a.out);
            }
            dft_set_arg(h, 2, t1, ws_kind);
            std::uint32_t idx = 3;
            if (has_t2) dft_set_arg(h, idx++, t2, ws_kind);
            sycl::local_accessor<char, 1> slm(sycl::range<1>(static_cast<std::size_t>(p.slm_bytes[dir])), h);
            h.set_arg(idx, slm);
            h.parallel_for(sycl::nd_range<2>(sycl::range<2>(static_cast<std::size_t>(p.B2), blocks * wg),
                                             sycl::range<2>(1, wg)),
                           *k);
        });
        if (a.result) *a.result = e;
        return 0;
    }
};

}  // namespace


}  // namespace gpu1d
}  // namespace dft
}  // namespace ovx
}  // namespace korami

OVX_GPU_BACKEND_RECORDS(korami::ovx::dft::gpu1d::n_facts_colbatch_module, c2c_1d_n_facts_colbatch)
