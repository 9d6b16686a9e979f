// Very large single-precision 1D GPU backend. Stage 0 (length n0) reads the
// caller's data and writes the padded scratch rows, applying the twiddles of
// Nc = n0 x (n1 n2); stage 1 (n1) transforms the scratch in place with the
// twiddles of n1 x n2; stage 2 (n2) writes the caller's output in natural
// order. Each stage is a sub-node committed through the float 1D complex
// list. Real transforms run on N/2 complex points, with one kernel that
// converts the spectrum after the stages (forward) or before them (backward).
//
// The descriptor's scales are applied: stage 0 carries them (stages 1 and 2
// run unscaled), so every path, real or complex, is scaled once. A backward
// real transform out of place never writes the caller's input: its
// pre-processed sequence goes to the output area, which stage 0 then reads.
#include "dft/gpu/backends.hpp"

#include "dft/gpu/kernel_texts.hpp"
#include "dft/node/ovx_dft_cpu_library.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include <korami/ovx/exceptions.hpp>

#include "dft/gpu/frame/frame.hpp"
#include "dft/gpu/1d/ovx_dft_gpu_bkd_1d_very_large_plan.hpp"
#include "gpu/ovx_gpu.hpp"

namespace korami {
namespace ovx {
namespace dft {
namespace gpu1d {
using namespace gpufw;
namespace {

namespace vl = very_large;

struct vl_block : frame_block<float, 2> {  // kernel slots: 0 real forward post-processing, 1 backward pre-processing
    // Stage 0, stage 1, stage 2, and a second stage 2 for the transforms whose
    // output starts at an odd complex element (present only then).
    sub_node_table<4> subs;
    std::int64_t length;
    vl::factors f;
    bool is_real;
    bool internal;  // the library holds the workspace
    vl::record batch;
    int scratch;    // area slot of the scratch the stages run through
};

vl::shape shape_of(const DFTI_DESCRIPTOR* node) {
    vl::shape s;
    s.real = node->forward_domain == DFTI_REAL;
    s.complex_storage = node->complex_storage;
    s.real_storage = node->real_storage;
    s.conjugate_even_storage = node->conjugate_even_storage;
    s.batches = static_cast<int>(node->working_batch.count);
    frame_copy_dim(node, s);
    if (s.batches >= 1) {
        const dfti_dim& r = node->working_batch.records[0];
        s.batch = {r.length, r.input_stride, r.output_stride, r.fwd_stride, r.bwd_stride};
    }
    return s;
}

// The row of a stage sub-node; the descriptor's scales ride on stage 0.
sub_node_row stage_row(const DFTI_DESCRIPTOR* node, const vl_block* b, int stage, bool odd) {
    const vl::stage_shape sh = vl::stage_of(b->f, stage, odd);
    const double fs = stage == 0 ? node->forward_scale : 1.0;
    const double bs = stage == 0 ? node->backward_scale : 1.0;
    static const char* const names[3] = {"1DL|1st", "1DL|1th", "1DL|2th"};
    return {names[stage], complex_1d_creator(true, sh.length),
            [sh, fs, bs](DFTI_DESCRIPTOR* s) {
                s->user_dims.records[0] = dfti_dim{sh.length, sh.input_stride, sh.output_stride, 0, 0};
                for (int r = 0; r < 2; ++r)
                    s->user_batch.records[r] =
                        dfti_dim{sh.batch[r].count, sh.batch[r].input_distance, sh.batch[r].output_distance, 0, 0};
                s->placement = sh.in_place ? DFTI_INPLACE : DFTI_NOT_INPLACE;
                s->output_offset = sh.output_offset;
                s->colbatch_group_count = sh.colbatch_group_count;
                s->forward_scale = fs;
                s->backward_scale = bs;
            },
            nullptr, 2};
}

int build_real_kernel(vl_block* b, int dir, sycl::kernel** slot, std::int64_t bwd_d, std::int64_t out_d) {
    char kname[64];
    if (bounded_snprintf(kname, sizeof kname, "%s_kernel_%s", dir == 0 ? "r2c" : "c2r", "s") < 0)
        return DFTI_STATUS_INTERNAL;
    char options[512];
    const int n = bounded_snprintf(options, sizeof options, "-DFWD_DIR=%d -DBWD_DIR=%d -DBWD_D=%lld -DKERNEL_FUNC=%s ",
                                   dir == 0 ? 1 : 0, dir == 0 ? 0 : 1, static_cast<long long>(bwd_d), kname);
    if (n < 0) return DFTI_STATUS_INTERNAL;
    if (bounded_snprintf(options + n, sizeof options - static_cast<std::size_t>(n), "-DOUT_D=%lld ",
                         static_cast<long long>(out_d)) < 0)
        return DFTI_STATUS_INTERNAL;
    const char* program = dir == 0 ? gpu_programs::very_large_post_s : gpu_programs::very_large_pre_s;
    try {
        *slot = frame_get_kernel(b->queue, program, gpu_kernels::ovx_bkd_1d_very_large_text_s, kname, options);
    } catch (const sycl::exception&) {
        return DFTI_STATUS_NOT_APPLICABLE;
    }
    return *slot ? 0 : DFTI_STATUS_NOT_APPLICABLE;
}

// Runs the real conversion kernel over all transforms.
sycl::event real_kernel(vl_block* b, sycl::kernel* k, void* in, void* out, bool buffers,
                        const std::vector<sycl::event>& deps) {
    const std::size_t points = static_cast<std::size_t>((b->length / 2) / 2 + 1);
    const std::size_t count = static_cast<std::size_t>(std::max<std::int64_t>(b->batch.count, 1));
    return b->queue->submit([&](sycl::handler& h) {
        if (!buffers) h.depends_on(deps);
        if (buffers) {
            dft_set_arg(h, 0, in, DFTI_CONTAINER_BUFFER);
            dft_set_arg<1, sycl::access_mode::read_write>(h, out, DFTI_CONTAINER_BUFFER);
        } else {
            h.set_arg(0, in);
            h.set_arg(1, out);
        }
        h.parallel_for(sycl::range<2>(count, points), *k);
    });
}

struct vl_module {
    using real = float;
    using block = vl_block;
    static constexpr bool composite = true;
    // The plan reads the device's generation itself: a commit is refused on
    // any device but generation 5, an estimate answers for every device.
    static constexpr bool own_device_checks = true;

    static int test(const DFTI_DESCRIPTOR* node) {
        return vl::commit_test(shape_of(node)) != 0 ? static_cast<int>(DFTI_STATUS_NOT_APPLICABLE) : 0;
    }

    static int plan(DFTI_DESCRIPTOR* node, block* b) {
        const vl::shape sh = shape_of(node);
        b->length = sh.n;
        b->is_real = sh.real;
        b->batch = sh.batch;
        b->internal = node->internal_workspace != 0;
        if (!vl::plan_of_complex_length(sh.real ? sh.n / 2 : sh.n, b->f)) return DFTI_STATUS_NOT_APPLICABLE;
        const std::uint64_t scratch_bytes = vl::scratch_bytes(b->f);
        if (b->estimating) return plan_estimate(b, scratch_bytes);
        if (!b->dev.known || !b->dev.generation_known || b->dev.generation != OVX_GPU_ARCH_QUEN5)
            return DFTI_STATUS_NOT_APPLICABLE;
        if (node->is_sub_node && b->batch.count > 1) return DFTI_STATUS_NOT_APPLICABLE;
        bool odd = false;
        if (b->batch.count >= 2)
            for (int dir = 0; dir < 2; ++dir)
                if (direction_built(b->directions, dir) && (vl::stage2_output_distance(b->batch, b->is_real, dir) & 1))
                    odd = true;
        const sub_node_row rows[4] = {stage_row(node, b, 0, false), stage_row(node, b, 1, false),
                                      stage_row(node, b, 2, false), stage_row(node, b, 2, true)};
        const int st = b->subs.make(node, rows, odd ? 4 : 3);
        if (st != 0) return st;
        // The stages run through the module's scratch only.
        if (b->subs.scratch_bytes() != 0) return DFTI_STATUS_NOT_APPLICABLE;
        // The sub-nodes' tables; the scratch, which the stages read and write
        // as data of the compute's container kind.
        b->areas.sub_node_tables();
        b->scratch = b->areas.scratch("scratch", scratch_bytes, region::scratch, true);
        return 0;
    }

    // The areas of an estimate, which does not plan the stages' sub-nodes:
    // per built direction table 1 of each stage (its length in complex
    // floats; two-factor stages have no table 2), then the scratch. Both
    // are listed in the second region, which the frame sums as it is, so
    // that the figure is those bytes exactly.
    static int plan_estimate(block* b, std::uint64_t scratch_bytes) {
        const std::uint64_t per_dir = static_cast<std::uint64_t>(b->f.n0 + b->f.n1 + b->f.n2) * 8u;
        for (int dir = 0; dir < 2; ++dir) {
            area x;
            x.name = dir == 0 ? "stage tables (forward)" : "stage tables (backward)";
            x.bytes = per_dir;
            x.where = region::scratch;
            x.dir = dir;
            if (b->areas.add(std::move(x)) < 0) return DFTI_STATUS_INTERNAL;
        }
        return b->areas.scratch("scratch", scratch_bytes) < 0 ? static_cast<int>(DFTI_STATUS_INTERNAL) : 0;
    }

    static int build_kernels(DFTI_DESCRIPTOR* node, block* b) {
        if (!b->is_real) return 0;
        const std::int64_t cdist_f = vl::compute_output_distance(b->batch, true, 0);
        const std::int64_t cdist_b = vl::compute_input_distance(b->batch, true, 1);
        const std::int64_t rdist_b = vl::compute_output_distance(b->batch, true, 1);
        if (direction_built(b->directions, 0)) {
            const int st = build_real_kernel(b, 0, &b->kernels[0], cdist_f, cdist_f);
            if (st != 0) return st;
        }
        if (direction_built(b->directions, 1))
            return build_real_kernel(b, 1, &b->kernels[1], cdist_b, node->placement == DFTI_INPLACE ? cdist_b : rdist_b);
        return 0;
    }

    static bool direction_ready(const block* b, int dir) { return !b->is_real || b->kernels[dir]; }

    static int launch(DFTI_DESCRIPTOR* node, block* b, const launch_args& a) {
        const int dir = a.direction;
        const bool buffers = a.buffers;
        // The scratch of the data's kind: a USM workspace serves USM data, a
        // buffer workspace buffer data (the library's own workspace both).
        void* scratch = b->areas.data_of(b->scratch, buffers);
        if (!scratch || (!buffers && !b->internal && b->ws_kind != DFTI_CONTAINER_USM))
            return b->internal ? static_cast<int>(DFTI_STATUS_BAD_DESCRIPTOR) : static_cast<int>(DFTI_STATUS_NO_WORKSPACE);
        const dfti_data_kind kind{buffers ? static_cast<std::uint64_t>(DFTI_CONTAINER_BUFFER)
                                          : static_cast<std::uint64_t>(DFTI_CONTAINER_USM)};
        void* in = a.in;
        void* out = a.out;
        const std::int64_t B = std::max<std::int64_t>(b->batch.count, 1);
        const std::int64_t nc = b->is_real ? b->length / 2 : b->length;
        const std::int64_t odist = vl::compute_output_distance(b->batch, b->is_real, dir);
        const std::int64_t idist = vl::compute_input_distance(b->batch, b->is_real, dir);
        const bool in_place = node->placement == DFTI_INPLACE;
        const char* fn = dir == 0 ? "compute_fwd" : "compute_bwd";
        if (buffers && B >= 2) {
            auto* bi = static_cast<sycl::buffer<char, 1>*>(in);
            auto* bo = static_cast<sycl::buffer<char, 1>*>(out);
            if (bi->is_sub_buffer() || (bo && bo->is_sub_buffer()))
                throw korami::ovx::invalid_argument(
                    "DFT", fn, "Sub-buffer inputs are not supported for this problem. See Numora release notes.");
        }
        // The first launch waits for the caller's dependencies and the
        // previous compute (an earlier compute may still use the scratch).
        std::vector<sycl::event> chain = frame_first_dependencies(a);
        // Real backward: the conjugate-even input becomes N/2 complex points,
        // written into the output area when out of place.
        const bool pre_to_out = b->is_real && dir == 1 && !in_place;
        if (b->is_real && dir == 1) {
            sycl::event e = real_kernel(b, b->kernels[1], in, pre_to_out ? out : in, buffers, chain);
            chain.assign(1, e);
        }
        sycl::event last;
        const std::size_t celt = 8;  // bytes of one complex float
        for (std::int64_t m = 0; m < B; ++m) {
            const std::int64_t o = m * odist;
            const std::int64_t p = B >= 2 ? (o & 1) : 0;
            DFTI_DESCRIPTOR* s2 = p ? b->subs[3] : b->subs[2];
            if (!s2) return DFTI_STATUS_INTERNAL;
            void* src;
            void* dst;
            std::unique_ptr<sycl::buffer<char, 1>> sub_in, sub_out;
            if (B == 1) {
                src = pre_to_out ? out : in;
                dst = in_place ? in : out;
            } else if (!buffers) {
                char* base_in = static_cast<char*>(pre_to_out ? out : in);
                const std::int64_t in_off = pre_to_out ? m * odist : m * idist;
                src = base_in + static_cast<std::size_t>(in_off) * celt;
                if (p == 0 && in_place)
                    dst = src;
                else
                    dst = static_cast<char*>(out ? out : in) + static_cast<std::size_t>(o - p) * celt;
            } else {
                auto* bi = static_cast<sycl::buffer<char, 1>*>(pre_to_out ? out : in);
                const std::int64_t in_off = pre_to_out ? m * odist : m * idist;
                sub_in.reset(new sycl::buffer<char, 1>(*bi, sycl::id<1>(static_cast<std::size_t>(in_off) * celt),
                                                       sycl::range<1>(static_cast<std::size_t>(nc) * celt)));
                src = sub_in.get();
                if (!in_place || p == 1) {
                    auto* bo = static_cast<sycl::buffer<char, 1>*>(in_place ? in : out);
                    sub_out.reset(new sycl::buffer<char, 1>(*bo, sycl::id<1>(static_cast<std::size_t>(o - p) * celt),
                                                            sycl::range<1>(static_cast<std::size_t>(nc + p) * celt)));
                    dst = sub_out.get();
                } else {
                    dst = src;
                }
            }
            DFTI_DESCRIPTOR* seq[3] = {b->subs[0], b->subs[1], s2};
            void* ins[3] = {src, scratch, scratch};
            void* outs[3] = {scratch, scratch, dst};
            for (int i = 0; i < 3; ++i) {
                const int st = b->subs.run(seq[i], dir, ins[i], outs[i], chain, buffers, &kind, last);
                if (st != 0) return st;
                chain.assign(1, last);
            }
        }
        if (b->is_real && dir == 0) last = real_kernel(b, b->kernels[0], out ? out : in, out ? out : in, buffers, chain);
        if (a.result) *a.result = last;
        return 0;
    }
};

using vl_frame = frame<vl_module>;

int commit(const bkd_ops* self, DFTI_DESCRIPTOR* node) { return vl_frame::commit(self, node); }
int free_record(const bkd_ops* self, DFTI_DESCRIPTOR* node) { return vl_frame::free(self, node); }
int add_workspace(void* base, int kind, std::uint64_t offset, DFTI_DESCRIPTOR* node, std::uint32_t phase,
                  std::vector<sycl::event>* events) {
    return vl_frame::add_workspace(base, kind, offset, node, phase, events);
}
std::int64_t estimate(const bkd_ops* self, const DFTI_DESCRIPTOR* node, const sycl::queue* queue) {
    return vl_frame::estimate(self, node, queue);
}

}  // namespace

}  // namespace gpu1d
}  // namespace dft
}  // namespace ovx
}  // namespace korami

const bkd_ops bkd_1d_very_large_s_ops = {&korami::ovx::dft::gpu1d::commit, &korami::ovx::dft::gpu1d::free_record,
                                         &korami::ovx::dft::gpu1d::add_workspace,
                                         &korami::ovx::dft::gpu1d::estimate};

