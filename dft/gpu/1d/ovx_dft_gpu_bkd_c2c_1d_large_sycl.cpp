// Large 1D complex GPU backend (2^21 to 2^26 points, both precisions from
// this one source through the 1D frame and its composite layer). Each
// transform of the batch runs in turn: a transpose writes scale * x into a
// padded N2 x P work matrix T[n2 P + n1] = scale x[n1 N2 + n2]; the row
// sub-node ("1DL|row", committed through the one-entry list of the
// pre-twiddle row pass) transforms the N2 rows of N1 points in place and
// applies the twiddles w_N^(n2 k1); the column sub-node ("1DL|col", the
// ordinary 1D list) runs the N1 columns of N2 points and writes the result
// in natural order. The work matrix lies in the tables region when a
// sub-node needs scratch, otherwise in the scratch region; the sub-nodes'
// tables follow in slot order and their scratch areas share one offset.
#include "dft/gpu/frame/records.hpp"

#include <algorithm>
#include <exception>
#include <memory>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "dft/gpu/frame/frame.hpp"
#include "dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_large_plan.hpp"
#include "dft/gpu/kernel_texts.hpp"
#include "gpu/ovx_gpu.hpp"

namespace korami {
namespace ovx {
namespace dft {
namespace gpu1d {
using namespace gpufw;

namespace {

namespace lg = large_1d;

const bkd_ops* const row_list_d[] = {&bkd_c2c_1d_n_facts_slm_row_d_ops, nullptr};
const bkd_ops* const row_list_s[] = {&bkd_c2c_1d_n_facts_slm_row_s_ops, nullptr};

template <class Real>
struct lg_block : frame_block<Real, 1> {  // kernel slot 0: the transpose
    sub_node_table<2> subs;               // 0 column pass, 1 row pass
    lg::plan pl;
    int matrix;                           // area slot of the work matrix
    bool internal;                        // the library holds the workspace
};

lg::batch_info batch_of(const DFTI_DESCRIPTOR* node) {
    const dfti_dim& bt = node->working_batch.records[0];
    return {bt.length, bt.fwd_stride, bt.bwd_stride, bt.input_stride, bt.output_stride};
}

int applicability(const DFTI_DESCRIPTOR* node) {
    if (node->is_sub_node != 0) return DFTI_STATUS_NOT_APPLICABLE;
    return common_1d_c2c_test(node, [](std::int64_t n) { return lg::length_accepted(n); });
}


// The sub-node rows: the columns (N1 transforms of N2 points, stride P in,
// N1 out, distance 1, out of place) and the rows (N2 transforms of N1
// points at distance P, in place). Both are marked as sub-nodes in their
// fields, so that an estimate plans them as a commit does.
void rows_of(const lg::plan& p, bool single, sub_node_row rows[2]) {
    const std::int64_t n1 = p.n1, n2 = p.n2, pr = p.row_elems;
    rows[0] = {"1DL|col", complex_1d_creator(single, n2),
               [=](DFTI_DESCRIPTOR* s) {
                   s->user_dims.records[0] = dfti_dim{n2, pr, n1, 0, 0};
                   s->user_batch.records[0] = dfti_dim{n1, 1, 1, 0, 0};
                   s->placement = DFTI_NOT_INPLACE;
                   s->is_sub_node = 1;
               },
               nullptr, 2};
    rows[1] = {"1DL|row", complex_1d_creator(single, n1),
               [=](DFTI_DESCRIPTOR* s) {
                   s->user_dims.records[0] = dfti_dim{n1, 1, 1, 0, 0};
                   s->user_batch.records[0] = dfti_dim{n2, pr, pr, 0, 0};
                   s->placement = DFTI_INPLACE;
                   s->is_sub_node = 1;
               },
               single ? row_list_s : row_list_d, 2};
}

template <class Real>
struct lg_module {
    using real = Real;
    using block = lg_block<Real>;
    static constexpr bool single = std::is_same<Real, float>::value;
    static constexpr bool composite = true;
    static constexpr std::size_t elem = 2 * sizeof(Real);
    // The generation an estimate plans for before the device is known.
    static constexpr std::int32_t estimate_generation = OVX_GPU_ARCH_QUEN6;

    static int test(const DFTI_DESCRIPTOR* node) { return applicability(node); }

    static int plan(DFTI_DESCRIPTOR* node, block* b) {
        if (b->arch != OVX_GPU_ARCH_QUEN6 && b->arch != plan_common::arch_code9) return DFTI_STATUS_NOT_APPLICABLE;
        b->internal = node->internal_workspace != 0;
        // Before the device is known the rows are planned unpadded.
        const int st = lg::make_plan(node->working_dims.records[0].length, single, batch_of(node),
                                     frame_device_assumed(b) ? 0 : b->dev.align_bytes, b->pl);
        if (st != 0) return st;
        sub_node_row rows[2];
        rows_of(b->pl, single, rows);
        // A sub-node that cannot be made or committed (a build the device
        // refuses included) refuses the node; the table keeps none of them.
        int ss;
        try {
            ss = b->subs.make(node, rows, 2);
        } catch (const sycl::exception&) {
            ss = DFTI_STATUS_NOT_APPLICABLE;
        }
        if (ss != 0) return ss == DFTI_STATUS_ALLOCATION_FAILED ? ss : static_cast<int>(DFTI_STATUS_NOT_APPLICABLE);
        if (b->estimating && b->subs.any_row_refused()) return DFTI_STATUS_NOT_APPLICABLE;
        // The transpose before any workspace, so that a refused node
        // allocates nothing (an estimate builds nothing).
        if (!b->estimating) {
            try {
                b->kernels[0] = frame_get_kernel(
                    b->queue, gpu_programs::c2c_1d_large_transpose, gpu_kernels::ovx_dft_blas_transpose_text,
                    single ? "ovx_dft_comatcopy_batch_strided_kernel_t" : "ovx_dft_zomatcopy_batch_strided_kernel_t",
                    single ? "-DSINGLE_PRECISION -DCOMPLEX -DTRANSPOSE -DOUT_OF_PLACE -DBATCHED_STRIDED"
                           : "-DCOMPLEX16 -DTRANSPOSE -DOUT_OF_PLACE -DBATCHED_STRIDED");
            } catch (const sycl::exception&) {
                b->kernels[0] = nullptr;
            }
            if (!b->kernels[0]) return DFTI_STATUS_NOT_APPLICABLE;
        }
        // The work matrix (the sub-nodes read and write it as data of the
        // compute's container kind) lies in the tables region, ahead of the
        // sub-nodes' tables, when a sub-node needs scratch of its own; else it
        // shares the scratch region with the sub-nodes' scratch.
        const std::uint64_t matrix_bytes = frame_align(b, static_cast<std::uint64_t>(b->pl.matrix_bytes));
        const bool in_tables = b->subs.scratch_bytes() != 0;
        b->matrix = b->areas.scratch("work matrix", matrix_bytes, in_tables ? region::tables : region::scratch, true);
        b->areas.sub_node_tables();
        return 0;
    }

    static int build_kernels(DFTI_DESCRIPTOR*, block*) { return 0; }

    static bool direction_ready(const block* b, int) { return b->kernels[0] != nullptr; }

    // One transpose of transform data `src` into the work matrix.
    static sycl::event transpose(block* b, void* src, void* area, bool buffers, Real scale,
                                 const std::vector<sycl::event>& deps) {
        const lg::plan& p = b->pl;
        const std::size_t gm = static_cast<std::size_t>((p.n2 + 15) / 16 * 16);
        const std::size_t gn = static_cast<std::size_t>((p.n1 + 15) / 16 * 16);
        return b->queue->submit([&](sycl::handler& h) {
            h.depends_on(deps);
            h.set_arg(0, p.n2);
            h.set_arg(1, p.n1);
            h.set_arg(2, scale);
            h.set_arg(3, Real(0));
            if (buffers) {
                dft_set_arg(h, 4, src, DFTI_CONTAINER_BUFFER);
                dft_set_arg<8, sycl::access_mode::read_write>(h, area, DFTI_CONTAINER_BUFFER);
            } else {
                h.set_arg(4, src);
                h.set_arg(8, area);
            }
            h.set_arg(5, std::int64_t(0));
            h.set_arg(6, p.n2);
            h.set_arg(7, p.n);
            h.set_arg(9, std::int64_t(0));
            h.set_arg(10, p.row_elems);
            h.set_arg(11, p.n);
            h.set_arg(12, std::int64_t(1));
            h.set_arg(13, std::int64_t(1));
            h.set_arg(14, std::int64_t(0));
            h.parallel_for(sycl::nd_range<3>(sycl::range<3>(1, gn, gm), sycl::range<3>(1, 16, 16)), *b->kernels[0]);
        });
    }

    static int launch(DFTI_DESCRIPTOR* node, block* b, const launch_args& a) {
        const int dir = a.direction;
        const bool buffers = a.buffers;
        const int data_kind = buffers ? DFTI_CONTAINER_BUFFER : DFTI_CONTAINER_USM;
        // A caller's workspace serves data of its own container kind only.
        if (!b->internal && (b->ws_kind & data_kind) == 0) return DFTI_STATUS_NO_WORKSPACE;
        void* area = b->areas.data_of(b->matrix, buffers);
        if (!area) return b->internal ? static_cast<int>(DFTI_STATUS_BAD_DESCRIPTOR) : static_cast<int>(DFTI_STATUS_NO_WORKSPACE);
        void* in = a.in;
        void* out = node->placement == DFTI_INPLACE || !a.out ? a.in : a.out;
        if (buffers) {
            auto* bi = static_cast<sycl::buffer<char, 1>*>(in);
            auto* bo = static_cast<sycl::buffer<char, 1>*>(out);
            if (bi->is_sub_buffer() || bo->is_sub_buffer())
                throw std::invalid_argument("Sub-buffer inputs are not supported for this size. See Numora release notes.");
        }
        const lg::plan& p = b->pl;
        if (p.transforms == 0) {
            if (a.result) *a.result = sycl::event();
            return 0;
        }
        const dfti_data_kind kind{static_cast<std::uint64_t>(data_kind)};
        DFTI_DESCRIPTOR* col = b->subs[0];
        DFTI_DESCRIPTOR* row = b->subs[1];
        const Real scale = b->scale[dir];
        const std::size_t chunk = static_cast<std::size_t>(p.distance) * elem;
        // The first transpose waits for the caller and for the previous
        // compute, which may still use the work matrix and the sub-nodes' scratch.
        std::vector<sycl::event> chain = frame_first_dependencies(a);
        sycl::event last;
        for (std::int64_t c = 0; c < p.transforms; ++c) {
            void* in_c;
            void* out_c;
            std::unique_ptr<sycl::buffer<char, 1>> sub_in, sub_out;
            if (!buffers) {
                in_c = static_cast<char*>(in) + static_cast<std::size_t>(c) * chunk;
                out_c = static_cast<char*>(out) + static_cast<std::size_t>(c) * chunk;
            } else if (p.transforms == 1) {
                in_c = in;
                out_c = out;
            } else {
                auto* bi = static_cast<sycl::buffer<char, 1>*>(in);
                auto* bo = static_cast<sycl::buffer<char, 1>*>(out);
                const sycl::id<1> at(static_cast<std::size_t>(c) * chunk);
                sub_in.reset(new sycl::buffer<char, 1>(*bi, at, sycl::range<1>(chunk)));
                in_c = sub_in.get();
                if (out == in) {
                    out_c = in_c;
                } else {
                    sub_out.reset(new sycl::buffer<char, 1>(*bo, at, sycl::range<1>(chunk)));
                    out_c = sub_out.get();
                }
            }
            chain.assign(1, transpose(b, in_c, area, buffers, scale, chain));
            last = chain[0];
            int st = b->subs.run(row, dir, area, area, chain, buffers, &kind, last);
            if (st == 0) {
                chain.assign(1, last);
                st = b->subs.run(col, dir, area, out_c, chain, buffers, &kind, last);
            }
            if (st != 0) {
                // Nothing of this compute may still run when the error is reported.
                frame_wait_quietly(&last);
                return st;
            }
            chain.assign(1, last);
        }
        if (a.result) *a.result = last;
        return 0;
    }
};

}  // namespace

}  // namespace gpu1d
}  // namespace dft
}  // namespace ovx
}  // namespace korami

OVX_GPU_BACKEND_RECORDS(korami::ovx::dft::gpu1d::lg_module, c2c_1d_large)
