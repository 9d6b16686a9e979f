// Small multi-dimensional local-memory GPU backend (both precisions from this
// one source through the backend frame): whole transforms of rank 1 or 2,
// complex or real, whose data fit the work-group's local memory, in one
// kernel launch per compute. The planner (ovx_dft_gpu_bkd_small_md_slm_plan)
// chooses the factors, the work-group and the local memory; the kernel text
// is built once per wanted direction. Up to six tables live in the
// workspace, in slot order: 0 and 1 the main row twiddles of the forward and
// backward kernels (scale folded in), 2 and 3 the twiddles of the second and
// third row factors, 4 the real-row factors, 5 the twiddles between the two
// column factors. A plan whose rows and columns have one factor each needs
// no workspace.
#include "dft/gpu/frame/records.hpp"

#include <cstdint>
#include <exception>
#include <string>
#include <type_traits>
#include <vector>

#include "dft/gpu/frame/frame.hpp"
#include "dft/gpu/md/ovx_dft_gpu_bkd_small_md_slm_plan.hpp"
#include "gpu/ovx_gpu.hpp"

namespace korami {
namespace ovx {
namespace dft {
namespace gpumd {
using namespace gpufw;

// The table kernels, by table, container form and precision.
class complexMainTwidlTableRowUsmDouble;
class complexMainTwidlTableRowBufDouble;
class complexTwidlTableRowUsmDouble;
class complexTwidlTableRowBufDouble;
class realFactorsKernelUsmDouble;
class realFactorsKernelBufDouble;
class twidlTableColbatchUsmDouble;
class twidlTableColbatchBufDouble;
class complexMainTwidlTableRowUsmFloat;
class complexMainTwidlTableRowBufFloat;
class complexTwidlTableRowUsmFloat;
class complexTwidlTableRowBufFloat;
class realFactorsKernelUsmFloat;
class realFactorsKernelBufFloat;
class twidlTableColbatchUsmFloat;
class twidlTableColbatchBufFloat;

namespace smd = small_md_slm;

namespace {

template <class Real>
struct smd_table_kernels;
template <>
struct smd_table_kernels<double> {
    using main_usm = complexMainTwidlTableRowUsmDouble;
    using main_buf = complexMainTwidlTableRowBufDouble;
    using pair_usm = complexTwidlTableRowUsmDouble;
    using pair_buf = complexTwidlTableRowBufDouble;
    using real_usm = realFactorsKernelUsmDouble;
    using real_buf = realFactorsKernelBufDouble;
    using col_usm = twidlTableColbatchUsmDouble;
    using col_buf = twidlTableColbatchBufDouble;
};
template <>
struct smd_table_kernels<float> {
    using main_usm = complexMainTwidlTableRowUsmFloat;
    using main_buf = complexMainTwidlTableRowBufFloat;
    using pair_usm = complexTwidlTableRowUsmFloat;
    using pair_buf = complexTwidlTableRowBufFloat;
    using real_usm = realFactorsKernelUsmFloat;
    using real_buf = realFactorsKernelBufFloat;
    using col_usm = twidlTableColbatchUsmFloat;
    using col_buf = twidlTableColbatchBufFloat;
};

constexpr int smd_slots = 6;

template <class Real>
struct smd_block : frame_block<Real, 2> {
    smd::plan pl;
    smd::device_figures figures;
    char kernel_name[64];
    int table[smd_slots];         // area slots of the six tables (an area of 0 bytes: the plan has no such table)
};

// The applicability test that reads the node only: 0, 5 for a domain that is
// neither complex nor real, else 100.
int applicability(const DFTI_DESCRIPTOR* node) {
    if (node->colbatch_group_count > 0) return DFTI_STATUS_NOT_APPLICABLE;
    if (node->forward_domain != DFTI_COMPLEX && node->forward_domain != DFTI_REAL) return DFTI_STATUS_BAD_DESCRIPTOR;
    const bool real = node->forward_domain == DFTI_REAL;
    if (!real && node->complex_storage != DFTI_COMPLEX_COMPLEX) return DFTI_STATUS_NOT_APPLICABLE;
    if (real && (node->real_storage != DFTI_REAL_REAL || node->conjugate_even_storage != DFTI_COMPLEX_COMPLEX ||
                 node->packed_format != DFTI_CCE_FORMAT))
        return DFTI_STATUS_NOT_APPLICABLE;
    const std::int32_t rank = static_cast<std::int32_t>(node->working_dims.count);
    if (rank != 1 && rank != 2) return DFTI_STATUS_NOT_APPLICABLE;
    if (node->working_batch.count != 1) return DFTI_STATUS_NOT_APPLICABLE;
    const dfti_dim& d0 = node->working_dims.records[0];
    if (real && d0.length % 2 != 0) return DFTI_STATUS_NOT_APPLICABLE;
    // Dimension 0 must be contiguous on both sides of at least one
    // direction; the planner drops a direction whose pair is not.
    const side_pair f = governing_strides(d0, 0), b = governing_strides(d0, 1);
    if (!(f.in == 1 && f.out == 1) && !(b.in == 1 && b.out == 1)) return DFTI_STATUS_NOT_APPLICABLE;
    if (node->input_offset || node->output_offset || node->fwd_offset || node->bwd_offset)
        return DFTI_STATUS_NOT_APPLICABLE;
    const std::uint64_t n0 = static_cast<std::uint64_t>(d0.length);
    if (n0 > (real ? (std::uint64_t{1} << 25) : (std::uint64_t{1} << 24))) return DFTI_STATUS_NOT_APPLICABLE;
    if (rank == 2 && static_cast<std::uint64_t>(node->working_dims.records[1].length) > 4096)
        return DFTI_STATUS_NOT_APPLICABLE;
    return 0;
}

smd::problem problem_of(const DFTI_DESCRIPTOR* node) {
    smd::problem p;
    p.real = node->forward_domain == DFTI_REAL;
    p.single = node->precision == DFTI_SINGLE;
    p.in_place = node->placement == DFTI_INPLACE;
    p.directions = node->directions;
    p.rank = node->working_dims.count;
    for (std::int64_t d = 0; d < p.rank && d < 2; ++d) {
        const dfti_dim& r = node->working_dims.records[d];
        p.n[d] = r.length;
        p.input_stride[d] = r.input_stride;
        p.output_stride[d] = r.output_stride;
        p.fwd_stride[d] = r.fwd_stride;
        p.bwd_stride[d] = r.bwd_stride;
    }
    const dfti_dim& b = node->working_batch.records[0];
    p.transforms = b.length;
    p.input_distance = b.input_stride;
    p.output_distance = b.output_stride;
    p.fwd_distance = b.fwd_stride;
    p.bwd_distance = b.bwd_stride;
    p.scale[0] = node->forward_scale;
    p.scale[1] = node->backward_scale;
    return p;
}

// The planner's device figures from the device facts: 0, or 7 for an
// unknown device, a generation the backend does not know or an EU count that
// is not whole subslices.
int device_figures_of(const device_facts& f, smd::device_figures& dev) {
    if (!f.known) return DFTI_STATUS_INTERNAL;
    dev.sub_group = f.min_sub_group;
    dev.max_work_group = f.max_work_group;
    dev.local_mem = f.local_mem;
    dev.backend = f.backend;
    if (f.hw_info && dev.backend == 1) {
        dev.threads_per_eu = f.threads_per_eu;
        dev.threads_per_subslice = f.eus_per_subslice * f.threads_per_eu;
        dev.subslices = f.slices * f.subslices_per_slice;
    } else {
        std::int64_t eus = 0, threads = 0;
        if (!f.generation_known || !smd::generation_figures(static_cast<int>(f.generation), &eus, &threads))
            return DFTI_STATUS_INTERNAL;
        const std::int64_t count = f.eu_count;
        if (count < eus || count % eus != 0) return DFTI_STATUS_INTERNAL;
        dev.threads_per_eu = threads;
        dev.threads_per_subslice = eus * threads;
        dev.subslices = count / eus;
    }
    return 0;
}

// The plan of a node on a device: 0, 7 (device) or 100.
int plan_of(const DFTI_DESCRIPTOR* node, const smd::device_figures& dev, smd::plan& pl) {
    const smd::problem prob = problem_of(node);
    const smd::layout lay = smd::layout_of(prob);
    if (smd::layout_status(prob, lay) != 0) return DFTI_STATUS_NOT_APPLICABLE;
    return smd::make_plan(prob, lay, dev, pl);
}

template <class Real>
struct smd_module {
    using real = Real;
    using block = smd_block<Real>;
    using names = smd_table_kernels<Real>;
    static constexpr bool single = std::is_same<Real, float>::value;
    static constexpr bool own_device_checks = true;
    // A binding without a base or with an unknown container kind.
    static constexpr int missing_area_status = DFTI_STATUS_INTERNAL;

    static const char* text() {
        return single ? gpu_kernels::ovx_bkd_small_md_slm_text_s : gpu_kernels::ovx_bkd_small_md_slm_text_d;
    }
    static const char* program() { return single ? gpu_programs::small_md_slm_s : gpu_programs::small_md_slm_d; }

    static int test(const DFTI_DESCRIPTOR* node) { return applicability(node); }

    // The layout checks, the device (7 without a queue or for a device the
    // backend does not know), the plan and the table areas.
    static int plan(DFTI_DESCRIPTOR* node, block* b) {
        const smd::problem prob = problem_of(node);
        const smd::layout lay = smd::layout_of(prob);
        if (smd::layout_status(prob, lay) != 0) return DFTI_STATUS_NOT_APPLICABLE;
        // An estimate before the device is known plans for the figures of the
        // default device.
        int st = frame_device_assumed(b) ? 0 : device_figures_of(b->dev, b->figures);
        if (st != 0) return st;
        st = smd::make_plan(prob, lay, b->figures, b->pl);
        if (st != 0) return st;
        std::uint64_t need[smd_slots];
        smd::table_bytes_needed(b->pl, need);
        for (int s = 0; s < smd_slots; ++s)
            b->table[s] = b->areas.table("factor table", need[s], -1,
                                         [b, s](const area_target& t, std::vector<sycl::event>& done) {
                                             return write_table(b, s, t, done);
                                         });
        return 0;
    }

    // One kernel per wanted direction; a kernel the cache cannot give
    // refuses the commit (100), so that no direction is left without one.
    static int build_kernels(DFTI_DESCRIPTOR*, block* b) {
        const smd::plan& p = b->pl;
        const std::string name = smd::kernel_name(p);
        if (name.empty() || bounded_snprintf(b->kernel_name, sizeof b->kernel_name, "%s", name.c_str()) < 0)
            return DFTI_STATUS_INTERNAL;
        for (int dir = 0; dir < 2; ++dir) {
            if (!p.wanted[dir]) continue;
            const std::string options = smd::build_options(p, dir);
            if (options.empty()) return DFTI_STATUS_INTERNAL;
            try {
                b->kernels[dir] = frame_get_kernel(b->queue, program(), text(), b->kernel_name, options.c_str());
            } catch (const sycl::exception&) {
                b->kernels[dir] = nullptr;
            }
            if (!b->kernels[dir]) return DFTI_STATUS_NOT_APPLICABLE;
        }
        return 0;
    }

    static bool direction_ready(const block* b, int dir) { return b->pl.wanted[dir] && b->kernels[dir] != nullptr; }

    // ---- tables ---------------------------------------------------------------------

    // Main row twiddles of a direction: f = f0, P = f1 ... f(k-1), B = h;
    // entry (i, j) at block (i / B, j) of 4B values: s cos, s cos at 2r and
    // 2r + 1, s sin, -s sin at 2B + 2r and 2B + 2r + 1 (r = i mod B), the
    // angle -2 i j / (f P) in units of pi.
    static sycl::event main_table(block* b, const area_target& t, Real s) {
        const std::int64_t f = b->pl.fact[0][0], P = b->pl.c2c_len() / f, B = b->pl.h();
        return frame_table_group<Real, typename names::main_usm, typename names::main_buf>(
            b->queue, t.kind, t.usm, t.buf, sycl::range<2>(static_cast<std::size_t>(f), static_cast<std::size_t>(P)),
            [=](Real* tbl, std::size_t jj, std::size_t ii) {
                const std::int64_t j = static_cast<std::int64_t>(jj), i = static_cast<std::int64_t>(ii);
                const Real a = static_cast<Real>(j * -2) * static_cast<Real>(i) * (Real(1) / static_cast<Real>(f * P));
                const std::int64_t q = i / B, r = i % B, base = (q * f + j) * 4 * B;
                const Real c = s * sycl::cospi(a), sn = s * sycl::sinpi(a);
                tbl[base + 2 * r] = c;
                tbl[base + 2 * r + 1] = c;
                tbl[base + 2 * B + 2 * r] = sn;
                tbl[base + 2 * B + 2 * r + 1] = -sn;
            });
    }

    // Factor-pair twiddles (R0, R1): entry i R0 + j = (cos, sin) of the angle
    // 2 i j / (R0 R1), no scale; the kernel applies the direction's sign.
    template <class UsmName, class BufName>
    static sycl::event pair_table(block* b, const area_target& t, std::int64_t R0, std::int64_t R1) {
        return frame_table_group<Real, UsmName, BufName>(
            b->queue, t.kind, t.usm, t.buf, sycl::range<2>(static_cast<std::size_t>(R0), static_cast<std::size_t>(R1)),
            [=](Real* tbl, std::size_t jj, std::size_t ii) {
                const std::int64_t j = static_cast<std::int64_t>(jj), i = static_cast<std::int64_t>(ii);
                const Real a = static_cast<Real>(j) * static_cast<Real>(i + i) * (Real(1) / static_cast<Real>(R0 * R1));
                tbl[2 * (i * R0 + j)] = sycl::cospi(a);
                tbl[2 * (i * R0 + j) + 1] = sycl::sinpi(a);
            });
    }

    // Real-row factors: N = 2 C, R0 sub-groups per row, R1 = column blocks
    // of B points; point k = (q R0 + j) B + r at j 4 R1 + q 4 B: cos, cos at
    // 2r, 2r + 1, sin, -sin at 2B + 2r, 2B + 2r + 1 of the angle -2 k / N.
    static sycl::event real_table(block* b, const area_target& t) {
        const smd::plan& p = b->pl;
        const std::int64_t N = 2 * p.c2c_len(), B = p.h();
        const std::int64_t R0 = p.sub_groups / p.rows();
        const std::int64_t R1 = ((N / 2 + 1) / 2 + R0 * B - 1) / (R0 * B) * B;
        return frame_table_group<Real, typename names::real_usm, typename names::real_buf>(
            b->queue, t.kind, t.usm, t.buf, sycl::range<2>(static_cast<std::size_t>(R0), static_cast<std::size_t>(R1)),
            [=](Real* tbl, std::size_t jj, std::size_t ii) {
                const std::int64_t j = static_cast<std::int64_t>(jj), i = static_cast<std::int64_t>(ii);
                const std::int64_t q = i / B, r = i % B, k = (q * R0 + j) * B + r;
                const Real a = static_cast<Real>(k * -2) * (Real(1) / static_cast<Real>(N));
                const std::int64_t base = j * 4 * R1 + q * 4 * B;
                const Real c = sycl::cospi(a), sn = sycl::sinpi(a);
                tbl[base + 2 * r] = c;
                tbl[base + 2 * r + 1] = c;
                tbl[base + 2 * B + 2 * r] = sn;
                tbl[base + 2 * B + 2 * r + 1] = -sn;
            });
    }

    // Writes the table of `slot` and waits for it (the binding is complete
    // when add_workspace returns): the main table of each wanted direction,
    // the factor-pair tables of the second and third row factors, the real
    // factors and the column factors, as the plan needs them. 11 when the
    // area cannot hold the table.
    static int write_table(block* b, int slot, const area_target& where, std::vector<sycl::event>& done) {
        const smd::plan& p = b->pl;
        std::uint64_t need[smd_slots];
        smd::table_bytes_needed(p, need);
        if (b->areas.a[b->table[slot]].bytes < need[slot]) return DFTI_STATUS_NO_WORKSPACE;
        sycl::event ev;
        if (slot <= 1) {
            if (p.count[0] < 2 || !p.wanted[slot]) return 0;
            ev = main_table(b, where, b->scale[slot]);
        } else if (slot <= 3) {
            const std::int64_t k = slot - 1;
            if (k > p.count[0] - 2) return 0;
            std::int64_t rest = 1;
            for (std::int64_t i = k + 1; i < p.count[0]; ++i) rest *= p.fact[0][i];
            ev = pair_table<typename names::pair_usm, typename names::pair_buf>(b, where, p.fact[0][k], rest);
        } else if (slot == 4) {
            if (p.count[0] < 2 || !p.real) return 0;
            ev = real_table(b, where);
        } else {
            if (p.rank != 2 || p.count[1] < 2) return 0;
            ev = pair_table<typename names::col_usm, typename names::col_buf>(b, where, p.fact[1][0], p.fact[1][1]);
        }
        ev.wait();
        done.push_back(ev);
        return 0;
    }

    // One launch: (in, out, local memory, the tables of the direction in slot
    // order), global (groups, work-group), local (1, work-group).
    static int launch(DFTI_DESCRIPTOR*, block* b, const launch_args& a) {
        const smd::plan& p = b->pl;
        const int dir = a.direction;
        const bool usm = a.table_kind == DFTI_CONTAINER_USM;
        void* args[smd_slots];
        int n = 0;
        std::vector<sycl::event> deps = frame_first_dependencies(a);
        for (int s = 0; s < smd_slots; ++s) {
            const int slot = b->table[s];
            if (b->areas.a[slot].bytes == 0 || s == (dir ^ 1)) continue;
            void* arg = b->areas.arg(slot, usm);
            if (!arg) return DFTI_STATUS_NO_WORKSPACE;
            args[n++] = arg;
            if (const sycl::event* e = b->areas.written(slot)) deps.push_back(*e);
        }
        sycl::kernel* k = b->kernels[dir];
        const std::size_t wg = static_cast<std::size_t>(p.work_group_size());
        const std::size_t groups = static_cast<std::size_t>(p.groups());
        const std::size_t slm = static_cast<std::size_t>(p.slm_bytes);
        const std::uint64_t kind = static_cast<std::uint64_t>(a.table_kind);
        sycl::event e = b->queue->submit([&](sycl::handler& h) {
            h.depends_on(deps);
            if (a.buffers) {
                dft_set_arg(h, 0, a.in, DFTI_CONTAINER_BUFFER);
                dft_set_arg<1, sycl::access_mode::read_write>(h, a.out, DFTI_CONTAINER_BUFFER);
            } else {
                h.set_arg(0, a.in);
                h.set_arg(1, a.out);
            }
            sycl::local_accessor<char, 1> local(sycl::range<1>(slm), h);
            h.set_arg(2, local);
            for (int i = 0; i < n; ++i) dft_set_arg(h, static_cast<std::uint32_t>(3 + i), args[i], kind);
            h.parallel_for(sycl::nd_range<2>(sycl::range<2>(groups, wg), sycl::range<2>(1, wg)), *k);
        });
        if (a.result) *a.result = e;
        return 0;
    }
};

}  // namespace


}  // namespace gpumd
}  // namespace dft
}  // namespace ovx
}  // namespace korami

OVX_GPU_BACKEND_RECORDS(korami::ovx::dft::gpumd::smd_module, small_md_slm)
