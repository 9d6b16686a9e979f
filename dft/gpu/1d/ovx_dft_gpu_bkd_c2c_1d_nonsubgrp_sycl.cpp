// General 1D complex GPU backend without sub-groups (both precisions from
// this one source through the 1D frame).
//
// Every factor above 1 of the length is one Stockham pass kernel generated at
// commit with all its constants written into the text; the passes go
// input -> scratch 1 -> scratch 2 -> scratch 1 -> output, the batch runs in
// chunks whose scratch stays under a cap, and lengths 75 and 135 may run both
// passes in one work-group through local memory.
#include "dft/gpu/frame/records.hpp"

#include <cstring>
#include <string>

#include "dft/gpu/frame/frame.hpp"
#include "dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_nonsubgrp_plan.hpp"
#include "dft/gpu/kernel_texts.hpp"
#include "gpu/ovx_gpu.hpp"

namespace korami {
namespace ovx {
namespace dft {
namespace gpu1d {
using namespace gpufw;
namespace {

constexpr int kSlots = 10;  // pass 0..3 x {forward, backward}, copy x {forward, backward}

inline int slot_of(nsg::kernel_slot k, int dir) { return static_cast<int>(k) * 2 + dir; }

template <class Real>
struct nonsubgrp_block : frame_block<Real, kSlots> {
    char kernel_names[4][64];
    char function_names[4][64];
    nsg::problem prob;
    nsg::plan pl;
    int scratch[2];  // area slots of the two scratch areas, -1 when not needed
};

// Node -> problem (strides, distances, batch records, scales, placement).
bool describe(const DFTI_DESCRIPTOR* node, bool dbl, std::int32_t arch, std::uint32_t align_bytes,
              nsg::problem& p) {
    const dfti_dim& d = node->working_dims.records[0];
    nsg::node_layout l{};
    l.input_stride = d.input_stride;
    l.output_stride = d.output_stride;
    l.fwd_stride = d.fwd_stride;
    l.bwd_stride = d.bwd_stride;
    l.batch_records = static_cast<int>(node->working_batch.count);
    for (int j = 0; j < l.batch_records; ++j) {
        const dfti_dim& r = node->working_batch.records[j];
        l.count[j] = r.length;
        l.input_distance[j] = r.input_stride;
        l.output_distance[j] = r.output_stride;
        l.fwd_distance[j] = r.fwd_stride;
        l.bwd_distance[j] = r.bwd_stride;
    }
    p = nsg::problem{};
    p.n = d.length;
    p.in_place = node->placement == DFTI_INPLACE;
    p.dbl = dbl;
    p.arch = arch;
    p.align_bytes = align_bytes;
    p.scale[0] = node->forward_scale;
    p.scale[1] = node->backward_scale;
    if (!dbl) {  // the float half works with its f32 scales
        p.scale[0] = static_cast<float>(p.scale[0]);
        p.scale[1] = static_cast<float>(p.scale[1]);
    }
    nsg::fill_directions(l, p.in_place, p);
    return true;
}

int applicability(const DFTI_DESCRIPTOR* node) {
    if (node->colbatch_group_count > 0) return DFTI_STATUS_NOT_APPLICABLE;
    if (node->forward_domain != DFTI_COMPLEX) return DFTI_STATUS_NOT_APPLICABLE;
    if (node->complex_storage != DFTI_COMPLEX_COMPLEX) return DFTI_STATUS_NOT_APPLICABLE;
    if (node->working_dims.count != 1) return DFTI_STATUS_NOT_APPLICABLE;
    if (node->working_batch.count < 1 || node->working_batch.count > 3) return DFTI_STATUS_NOT_APPLICABLE;
    if (node->input_offset || node->output_offset || node->fwd_offset || node->bwd_offset)
        return DFTI_STATUS_NOT_APPLICABLE;
    return 0;
}

template <class Real>
struct nonsubgrp {
    using real = Real;
    using block = nonsubgrp_block<Real>;
    static constexpr bool dbl = sizeof(Real) == 8;

    static int test(const DFTI_DESCRIPTOR* node) { return applicability(node); }

    // Estimates made before the device is known plan for generation 6,
    // whose scratch may grow the largest, so that the estimate covers the
    // commit on any device.
    static constexpr std::int32_t estimate_generation = OVX_GPU_ARCH_QUEN6;

    static int plan(DFTI_DESCRIPTOR* node, block* b) {
        describe(node, dbl, b->arch, align_bytes_of(b->dev), b->prob);
        if (!nsg::make_plan(b->prob, b->pl)) return DFTI_STATUS_NOT_APPLICABLE;
        for (int i = 0; i < 4; ++i) {
            bounded_snprintf(b->kernel_names[i], 64, "%s", nsg::kernel_name(b->pl.n, i, dbl).c_str());
            bounded_snprintf(b->function_names[i], 64, "%s", nsg::function_name(b->pl.fact.f[i]).c_str());
        }
        for (int a = 0; a < 2; ++a)
            b->scratch[a] = b->pl.needs_scratch[a] ? b->areas.scratch("scratch", b->pl.scratch_bytes) : -1;
        return 0;
    }

    static int build_kernels(DFTI_DESCRIPTOR* node, block* b) {
        const char* stored = dbl ? gpu_kernels::c2c_1d_nonsubgrp_text_d : gpu_kernels::c2c_1d_nonsubgrp_text_s;
        for (int dir = 0; dir < 2; ++dir) {
            if (!direction_built(b->directions, dir)) continue;
            const std::string entries = nsg::entry_texts(b->prob, b->pl, dir);
            const std::string options = nsg::build_options(b->prob, b->pl, dir);
            const std::string key = nsg::program_key(b->prob, b->pl, dir, entries, options);
            const std::string source = std::string(stored) + entries;
            for (int i = 0; i < 4; ++i) {
                if (i > 0 && (b->pl.grouped || b->pl.fact.f[i] < 2)) continue;
                b->kernels[slot_of(static_cast<nsg::kernel_slot>(i), dir)] =
                    frame_get_kernel(b->queue, key.c_str(), source.c_str(), b->kernel_names[i], options.c_str());
            }
            if (b->prob.in_place && b->pl.fact.f[1] == 1)
                b->kernels[slot_of(nsg::kernel_slot::copy, dir)] = frame_get_kernel(
                    b->queue, key.c_str(), source.c_str(), nsg::copy_kernel_name(dbl).c_str(), options.c_str());
            if (!direction_ready(b, dir)) return DFTI_STATUS_INTERNAL;
        }
        return 0;
    }

    static bool direction_ready(const block* b, int dir) {
        if (!b->kernels[slot_of(nsg::kernel_slot::pass0, dir)]) return false;
        if (b->pl.grouped) return true;
        for (int i = 1; i < 4; ++i)
            if (b->pl.fact.f[i] >= 2 && !b->kernels[slot_of(static_cast<nsg::kernel_slot>(i), dir)]) return false;
        if (b->prob.in_place && b->pl.fact.f[1] == 1 && !b->kernels[slot_of(nsg::kernel_slot::copy, dir)])
            return false;
        return true;
    }

    static int launch(DFTI_DESCRIPTOR* node, block* b, const launch_args& a) {
        const nsg::problem& p = b->prob;
        const nsg::plan& pl = b->pl;
        const bool usm_scratch = a.usm_ws;
        const std::uint64_t scratch_kind = a.ws_kind;
        const std::uint64_t data_kind = a.buffers ? DFTI_CONTAINER_BUFFER : DFTI_CONTAINER_USM;
        void* in = a.in;
        void* out = p.in_place ? a.in : a.out;
        for (int s = 0; s < 2; ++s)
            if (pl.needs_scratch[s] && !b->areas.arg(b->scratch[s], usm_scratch)) return DFTI_STATUS_NO_WORKSPACE;

        sycl::event cur;
        bool first = true;
        for (std::int64_t start = 0; start < pl.total; start += pl.chunk) {
            const std::int64_t count = std::min(pl.chunk, pl.total - start);
            for (const nsg::launch& l : nsg::chunk_launches(p, pl, count)) {
                sycl::kernel* k = b->kernels[slot_of(l.kernel, a.direction)];
                cur = b->queue->submit([&](sycl::handler& h) {
                    if (first) {
                        frame_order_first(h, a);
                    } else {
                        h.depends_on(cur);
                    }
                    bind(h, 0, l.reads, false, in, out, b, data_kind, scratch_kind, l.kernel);
                    bind(h, 1, l.writes, true, in, out, b, data_kind, scratch_kind, l.kernel);
                    int next = 2;
                    if (l.grouped) {
                        sycl::local_accessor<char, 1> slm(sycl::range<1>(static_cast<std::size_t>(pl.group_local_bytes)), h);
                        h.set_arg(next++, slm);
                    }
                    h.set_arg(next, static_cast<int>(start));
                    if (l.dims == 2) {
                        h.parallel_for(sycl::range<2>(l.global[1], l.global[0]), *k);
                    } else if (l.grouped) {
                        h.parallel_for(sycl::nd_range<3>(sycl::range<3>(l.global[2], l.global[1], l.global[0]),
                                                         sycl::range<3>(l.local[2], l.local[1], l.local[0])),
                                       *k);
                    } else {
                        h.parallel_for(sycl::range<3>(l.global[2], l.global[1], l.global[0]), *k);
                    }
                });
                first = false;
            }
        }
        if (a.result) *a.result = cur;
        return 0;
    }

    // Binds one data area at argument `index` (0 read, 1 written).
    static void bind(sycl::handler& h, std::uint32_t index, nsg::area ar, bool written, void* in, void* out,
                     block* b, std::uint64_t data_kind, std::uint64_t scratch_kind, nsg::kernel_slot k) {
        void* data = nullptr;
        std::uint64_t kind = data_kind;
        switch (ar) {
        case nsg::area::in: data = in; break;
        case nsg::area::out: data = out; break;
        case nsg::area::scratch1:
        case nsg::area::scratch2: {
            const int s = ar == nsg::area::scratch1 ? 0 : 1;
            kind = scratch_kind;
            data = b->areas.arg(b->scratch[s], scratch_kind == DFTI_CONTAINER_USM);
            break;
        }
        }
        if (!written) {
            dft_set_arg(h, index, data, kind);
        } else if (k == nsg::kernel_slot::copy) {
            dft_set_arg(h, data, kind);
        } else {
            dft_set_arg<1, sycl::access_mode::read_write>(h, data, kind);
        }
    }
};

}  // namespace


}  // namespace gpu1d
}  // namespace dft
}  // namespace ovx
}  // namespace korami

OVX_GPU_BACKEND_RECORDS(korami::ovx::dft::gpu1d::nonsubgrp, c2c_1d_nonsubgrp)
