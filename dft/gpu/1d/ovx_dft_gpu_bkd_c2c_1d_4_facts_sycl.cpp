// Four-factor 1D complex GPU backend (both precisions from this one source
// through the 1D frame). Per workspace binding: the two pass tables (shared
// by both directions), one inter-pass table per built direction (scale
// folded in) and one scratch area holding a chunk of transforms between the
// two passes.
#include "dft/gpu/frame/records.hpp"

#include <algorithm>
#include <climits>
#include <string>
#include <type_traits>

#include "dft/gpu/frame/frame.hpp"
#include "dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_4_facts_plan.hpp"
#include "dft/gpu/1d/two_pass.hpp"
#include "dft/gpu/kernel_texts.hpp"
#include "gpu/ovx_gpu.hpp"

namespace korami {
namespace ovx {
namespace dft {
namespace gpu1d {
using namespace gpufw;

class twidlTableGen4FactsUsmClass1Double;
class twidlTableGen4FactsBufClass1Double;
class twidlTableGen4FactsUsmClass2Double;
class twidlTableGen4FactsBufClass2Double;
class twidlTableGen4FactsUsmClass1Float;
class twidlTableGen4FactsBufClass1Float;
class twidlTableGen4FactsUsmClass2Float;
class twidlTableGen4FactsBufClass2Float;

namespace {

inline int kslot(int pass, int dir) { return two_pass_kslot(pass, dir); }

template <class Real>
using four_facts_block = two_pass_block<Real, four_facts::plan>;

void describe(const DFTI_DESCRIPTOR* node, const device_facts& dev, std::int32_t arch, bool single,
              four_facts::plan_input& in) {
    in = frame_plan_input<four_facts::plan_input>(node, arch, single);
    in.tiles = dev.known ? dev.tiles : 1;
    in.align_bytes = align_bytes_of(dev);
}

// Items 1 to 7 and 9 of the common test: lengths are the planner's.
int applicability(const DFTI_DESCRIPTOR* node) {
    return common_1d_c2c_test(node, [](std::int64_t) { return true; });
}

template <class Real>
struct four_facts_module : two_pass<four_facts_block<Real>> {
    using real = Real;
    using block = four_facts_block<Real>;
    using areas = two_pass<block>;
    static constexpr bool single = std::is_same<Real, float>::value;

    static const char* text(int pass) {
        if (pass == 0)
            return single ? gpu_kernels::ovx_bkd_c2c_1d_4_facts_transpose_text_s
                          : gpu_kernels::ovx_bkd_c2c_1d_4_facts_transpose_text_d;
        return single ? gpu_kernels::ovx_bkd_c2c_1d_4_facts_twiddle_text_s
                      : gpu_kernels::ovx_bkd_c2c_1d_4_facts_twiddle_text_d;
    }
    static const char* program(int pass) {
        if (pass == 0)
            return single ? gpu_programs::c2c_1d_4_facts_transpose_s : gpu_programs::c2c_1d_4_facts_transpose_d;
        return single ? gpu_programs::c2c_1d_4_facts_twiddle_s : gpu_programs::c2c_1d_4_facts_twiddle_d;
    }

    static int test(const DFTI_DESCRIPTOR* node) { return applicability(node); }

    // Estimates made before the device is known plan for the generation
    // the backend runs on.
    static constexpr std::int32_t estimate_generation = OVX_GPU_ARCH_QUEN6;

    static int plan(DFTI_DESCRIPTOR* node, block* b) {
        four_facts::plan_input in;
        describe(node, b->dev, b->arch, single, in);
        const int st = four_facts::make_plan(in, b->pl);
        if (st != 0) return st;
        areas::list_areas(
            b,
            [](block* b, int ps, const area_target& t, std::vector<sycl::event>& done) {
                using U1 = std::conditional_t<single, twidlTableGen4FactsUsmClass1Float, twidlTableGen4FactsUsmClass1Double>;
                using B1 = std::conditional_t<single, twidlTableGen4FactsBufClass1Float, twidlTableGen4FactsBufClass1Double>;
                done.push_back(areas::template write_pass_table<U1, B1>(b, ps, t));
                return 0;
            },
            [](block* b, int dir, const area_target& t, std::vector<sycl::event>& done) {
                done.push_back(write_inter_table(b, dir, t));
                return 0;
            });
        return 0;
    }

    // Forward pass 0, forward pass 1, backward pass 0, backward pass 1. A
    // program the device compiler refuses makes the module not applicable.
    static int build_kernels(DFTI_DESCRIPTOR*, block* b) {
        for (int p = 0; p < 2; ++p)
            if (bounded_snprintf(b->kernel_names[p], 64, "%s", b->pl.pass[p].kernel_name.c_str()) < 0)
                return DFTI_STATUS_INTERNAL;
        for (int dir = 0; dir < 2; ++dir) {
            if (!direction_built(b->directions, dir)) continue;
            for (int p = 0; p < 2; ++p) {
                const std::string options = four_facts::build_options(b->pl, p, dir);
                if (options.empty()) return DFTI_STATUS_INTERNAL;
                try {
                    b->kernels[kslot(p, dir)] =
                        frame_get_kernel(b->queue, program(p), text(p), b->kernel_names[p], options.c_str());
                } catch (const sycl::exception&) {
                    return DFTI_STATUS_NOT_APPLICABLE;
                }
            }
            if (!direction_ready(b, dir)) return DFTI_STATUS_NOT_APPLICABLE;
        }
        return 0;
    }

    static bool direction_ready(const block* b, int dir) {
        return b->kernels[kslot(0, dir)] && b->kernels[kslot(1, dir)];
    }

    // Inter-pass table of a direction: cell ((g * B1 + s) * B0 + i), 16
    // cosines then 16 signed sines, one per lane; lane pair c stands for
    // column 8g + c.
    static sycl::event write_inter_table(block* b, int dir, const area_target& where) {
        const four_facts::plan& p = b->pl;
        using U2 = std::conditional_t<single, twidlTableGen4FactsUsmClass2Float, twidlTableGen4FactsUsmClass2Double>;
        using B2 = std::conditional_t<single, twidlTableGen4FactsBufClass2Float, twidlTableGen4FactsBufClass2Double>;
        const std::int64_t L = p.pass_length[0], n = p.n;
        const std::int64_t b0 = p.pass_factors[1][0], b1 = p.pass_factors[1][1];
        const Real sigma = b->scale[dir];
        return frame_table_group<Real, U2, B2>(
            b->queue, where.kind, where.usm, where.buf,
            sycl::range<2>(static_cast<std::size_t>((L + 7) / 8), static_cast<std::size_t>(b1)),
            [=](Real* t, std::size_t gg, std::size_t ss) {
                const std::int64_t g = static_cast<std::int64_t>(gg), s = static_cast<std::int64_t>(ss);
                for (std::int64_t i = 0; i < b0; ++i) {
                    Real* cell = t + 32 * ((g * b1 + s) * b0 + i);
                    const std::int64_t row = s + b1 * i;
                    for (int c = 0; c < 8; ++c) {
                        const std::int64_t col = 8 * g + c;
                        Real cv = 0, sv = 0;
                        if (col < L) {
                            const Real x = static_cast<Real>((col * row) % n) * Real(-2) / static_cast<Real>(n);
                            cv = sigma * sycl::cospi(x);
                            sv = sigma * sycl::sinpi(x);
                        }
                        cell[2 * c] = cv;
                        cell[2 * c + 1] = cv;
                        cell[16 + 2 * c] = sv;
                        cell[16 + 2 * c + 1] = -sv;
                    }
                }
            });
    }

    static int launch(DFTI_DESCRIPTOR* node, block* b, const launch_args& a) {
        const four_facts::plan& p = b->pl;
        const int dir = a.direction;
        two_pass_areas w;
        if (!areas::areas_of(a, b, dir, w)) return DFTI_STATUS_NO_WORKSPACE;
        const std::int64_t total = p.batch.transforms;
        // `offset` is a 32-bit int in the kernels.
        if (total - 1 > INT_MAX) return DFTI_STATUS_UNIMPLEMENTED;
        sycl::kernel* k0 = b->kernels[kslot(0, dir)];
        sycl::kernel* k1 = b->kernels[kslot(1, dir)];
        sycl::event last;
        bool have_last = false;
        for (std::int64_t first = 0; first < total; first += p.chunk_transforms) {
            const std::size_t count = static_cast<std::size_t>(std::min(p.chunk_transforms, total - first));
            const std::int32_t offset = static_cast<std::int32_t>(first);
            const bool first_chunk = first == 0;
            last = b->queue->submit([&](sycl::handler& h) {
                areas::pass0_head(h, b, a, w, first_chunk, have_last ? &last : nullptr);
                h.set_arg(4, offset);
                h.parallel_for(sycl::nd_range<2>(sycl::range<2>(count, static_cast<std::size_t>(p.pass[0].global_size)),
                                                 sycl::range<2>(1, static_cast<std::size_t>(p.pass[0].work_group_size))),
                               *k0);
            });
            have_last = true;
            last = b->queue->submit([&](sycl::handler& h) {
                areas::pass1_head(h, b, a, w, last);
                h.set_arg(5, offset);
                h.parallel_for(sycl::nd_range<2>(sycl::range<2>(count, static_cast<std::size_t>(p.pass[1].global_size)),
                                                 sycl::range<2>(1, static_cast<std::size_t>(p.pass[1].work_group_size))),
                               *k1);
            });
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

OVX_GPU_BACKEND_RECORDS(korami::ovx::dft::gpu1d::four_facts_module, c2c_1d_4_facts)
