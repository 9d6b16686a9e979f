// Four-factor column-batched 1D complex GPU backend (both precisions from
// this one source through the 1D frame). Per workspace binding: the two pass
// tables (shared by both directions), one inter-pass table per built
// direction (scale folded in), and the scratch of one launch. In single
// precision the 64- and 128-point shapes take their tables from the host and
// may take prebuilt kernels; a prebuilt kernel that cannot be had falls back
// to the source build.
#include "dft/gpu/frame/records.hpp"

#include <ovx_serv.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <exception>
#include <string>
#include <type_traits>
#include <vector>

#include "dft/gpu/frame/frame.hpp"
#include "dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_4_facts_colbatch_plan.hpp"
#include "dft/gpu/1d/two_pass.hpp"
#include "dft/gpu/kernel_texts.hpp"
#include "gpu/ovx_gpu.hpp"

namespace korami {
namespace ovx {
namespace dft {
namespace gpu1d {
using namespace gpufw;

class twidlTableGen4FactsColBatchUsm1Double;
class twidlTableGen4FactsColBatchBuf1Double;
class twidlTableGen4FactsColBatchUsm2Double;
class twidlTableGen4FactsColBatchBuf2Double;
class twidlTableGen4FactsColBatchUsm1Float;
class twidlTableGen4FactsColBatchBuf1Float;
class twidlTableGen4FactsColBatchUsm2Float;
class twidlTableGen4FactsColBatchBuf2Float;

namespace fc = four_facts_colbatch;

// The prebuilt single-precision binaries, by table row and direction. This
// build carries none (an empty description), so get_binary_kernel refuses
// them and the kernels come from the source text.
const ovx_gpu_binary_kernel_t four_facts_colbatch_binaries[fc::prebuilt_row_count][2] = {};

namespace {

std::atomic<std::int64_t> binary_requests{0}, binary_fallbacks{0};

inline int kslot(int pass, int dir) { return two_pass_kslot(pass, dir); }

template <class Real>
struct fc_block : two_pass_block<Real, fc::plan> {
    sycl::kernel* prebuilt_kernel[2][2];  // [pass][direction], owned by the kernel cache
    std::uint8_t prebuilt[2][2];
};

fc::shape shape_of(const DFTI_DESCRIPTOR* node) { return frame_colbatch_shape<fc::shape>(node); }

// The planner's device figures from the device facts; false for a device
// without sub-groups.
bool planner_device(const device_facts& f, std::int32_t arch, fc::device_facts& dev) {
    if (f.min_sub_group == 0) return false;
    dev.min_sub_group = f.min_sub_group;
    dev.arch = arch;
    dev.tiles = f.tiles;
    dev.max_work_group = f.max_work_group;
    dev.local_mem = f.local_mem;
    dev.align_bytes = f.align_bytes;
    return true;
}

template <class Real>
struct fc_module : two_pass<fc_block<Real>> {
    using real = Real;
    using block = fc_block<Real>;
    using areas = two_pass<block>;
    static constexpr bool single = std::is_same<Real, float>::value;

    static const char* text() {
        return single ? gpu_kernels::ovx_bkd_c2c_1d_4_facts_twiddle_text_s
                      : gpu_kernels::ovx_bkd_c2c_1d_4_facts_twiddle_text_d;
    }
    static const char* program() {
        return single ? gpu_programs::c2c_1d_4_facts_colbatch_s : gpu_programs::c2c_1d_4_facts_colbatch_d;
    }

    static int test(const DFTI_DESCRIPTOR* node) { return fc::commit_test(shape_of(node)); }

    static int plan(DFTI_DESCRIPTOR* node, block* b) {
        fc::device_facts dev;
        // An estimate before the device is known plans for the planner's default device.
        if (!frame_device_assumed(b) && !planner_device(b->dev, b->arch, dev)) return DFTI_STATUS_NOT_APPLICABLE;
        const int st = fc::make_plan(shape_of(node), dev, single, b->pl);
        if (st != 0) return st;
        areas::list_areas(b, &write_pass_table, &write_inter_table);
        return 0;
    }

    static sycl::kernel* kernel_of(const block* b, int pass, int dir) {
        return b->kernels[kslot(pass, dir)] ? b->kernels[kslot(pass, dir)] : b->prebuilt_kernel[pass][dir];
    }

    // Direction 0 then 1, pass 0 then 1: a prebuilt kernel when one fits
    // and the driver takes it, else the source build.
    static int build_kernels(DFTI_DESCRIPTOR*, block* b) {
        for (int p = 0; p < 2; ++p)
            if (bounded_snprintf(b->kernel_names[p], 64, "%s", b->pl.pass[p].kernel_name.c_str()) < 0)
                return DFTI_STATUS_INTERNAL;
        const frame_prebuilt_key key = single ? frame_prebuilt_key_of(b->dev) : frame_prebuilt_key{};
        const int backend = key.backend;
        const std::string& driver = key.driver;
        for (int dir = 0; dir < 2; ++dir) {
            if (!direction_built(b->directions, dir)) continue;
            for (int p = 0; p < 2; ++p) {
                const int row = single ? fc::select_prebuilt(b->pl, p, dir, backend, driver.c_str()) : -1;
                if (row >= 0) {
                    int st = 0;
                    const std::string name = fc::prebuilt_name(row, dir);
                    ovx_gpu_kernel_struct_t* rec = korami::ovx::gpu::get_binary_kernel(
                        &st, b->queue, korami::ovx::gpu::domain_dft, &four_facts_colbatch_binaries[row][dir],
                        name.c_str());
                    ++binary_requests;
                    if (st == 0 && rec && rec->kernel) {
                        b->prebuilt_kernel[p][dir] = rec->kernel;
                        b->prebuilt[p][dir] = 1;
                        continue;
                    }
                    ++binary_fallbacks;
                }
                const std::string options = fc::build_options(b->pl, p, dir);
                if (options.empty()) return DFTI_STATUS_INTERNAL;
                try {
                    b->kernels[kslot(p, dir)] =
                        frame_get_kernel(b->queue, program(), text(), b->kernel_names[p], options.c_str());
                } catch (const sycl::exception&) {
                    return DFTI_STATUS_NOT_APPLICABLE;
                }
            }
            if (!direction_ready(b, dir)) return DFTI_STATUS_NOT_APPLICABLE;
        }
        return 0;
    }

    static bool direction_ready(const block* b, int dir) { return kernel_of(b, 0, dir) && kernel_of(b, 1, dir); }

    // Pass table entry k1 * f0 + k0 = e^(-2 pi i k0 k1 / M).
    static void fill_pass_table_host(float* dst, std::int64_t f0, std::int64_t f1, std::int64_t m) {
        for (std::int64_t k1 = 0; k1 < f1; ++k1)
            for (std::int64_t k0 = 0; k0 < f0; ++k0) {
                const float t = static_cast<float>(k0 * k1) * (-2.0f) * (1.0f / static_cast<float>(m));
                float s, c;
                ovx_serv_libm_sincospif(t, &s, &c);
                dst[2 * (k1 * f0 + k0)] = c;
                dst[2 * (k1 * f0 + k0) + 1] = s;
            }
    }

    // Inter-pass groups ((d j + q) c + r): 8 pairs (cos, cos) then 8 pairs (sin, -sin), scaled.
    static void fill_twiddles_on_host(float* dst, float scale, const fc::plan& p) {
        const std::int64_t m0 = p.pass_length[0], m1 = p.pass_length[1];
        const std::int64_t c = p.pass_factors[1][0], d = p.pass_factors[1][1];
        for (std::int64_t j = 0; j < m0; ++j)
            for (std::int64_t q = 0; q < d; ++q)
                for (std::int64_t r = 0; r < c; ++r) {
                    const float t = static_cast<float>((r * d + q) * j) * (-2.0f) * (1.0f / static_cast<float>(m1 * m0));
                    float s, cs;
                    ovx_serv_libm_sincospif(t, &s, &cs);
                    float* g = dst + ((d * j + q) * c + r) * 32;
                    for (int k = 0; k < 8; ++k) {
                        g[2 * k] = cs * scale;
                        g[2 * k + 1] = cs * scale;
                        g[16 + 2 * k] = s * scale;
                        g[16 + 2 * k + 1] = -s * scale;
                    }
                }
    }

    // Writes one host-computed table into its area; synchronous.
    template <class Fill>
    static int host_table(block* b, const area_target& where, std::size_t bytes, Fill fill) {
        if (where.kind == DFTI_CONTAINER_USM) {
            if (!where.usm) return DFTI_STATUS_NO_WORKSPACE;
            float* h = static_cast<float*>(sycl::malloc_host(bytes, *b->queue));
            if (!h) return DFTI_STATUS_ALLOCATION_FAILED;
            fill(h);
            try {
                b->queue->memcpy(where.usm, h, bytes).wait();
            } catch (...) {
                sycl::free(h, *b->queue);
                throw;
            }
            sycl::free(h, *b->queue);
            return 0;
        }
        if (!where.buf) return DFTI_STATUS_NO_WORKSPACE;
        sycl::host_accessor<char, 1, sycl::access_mode::read_write> acc(*where.buf);
        fill(reinterpret_cast<float*>(acc.get_pointer()));
        return 0;
    }

    // The pass table of pass `ps`: from the host for the single-precision
    // 64- and 128-point shapes, else on the device.
    static int write_pass_table(block* b, int ps, const area_target& where, std::vector<sycl::event>& done) {
        const fc::plan& p = b->pl;
        if constexpr (single) {
            if (fc::host_tables(p)) {
                const std::int64_t f0 = p.pass[ps].fact0, f1 = p.pass[ps].fact1, m = p.pass[ps].fft_length;
                return host_table(b, where, static_cast<std::size_t>(f0 * f1 * 8),
                                  [&](float* h) { fill_pass_table_host(h, f0, f1, m); });
            }
        }
        using U1 = std::conditional_t<single, twidlTableGen4FactsColBatchUsm1Float, twidlTableGen4FactsColBatchUsm1Double>;
        using B1 = std::conditional_t<single, twidlTableGen4FactsColBatchBuf1Float, twidlTableGen4FactsColBatchBuf1Double>;
        done.push_back(areas::template write_pass_table<U1, B1>(b, ps, where));
        return 0;
    }

    // The inter-pass table of direction `dir` (scale folded in): groups
    // ((d j + q) c + r) of 8 (cos, cos) pairs then 8 (sin, -sin) pairs.
    static int write_inter_table(block* b, int dir, const area_target& where, std::vector<sycl::event>& done) {
        const fc::plan& p = b->pl;
        if constexpr (single) {
            if (fc::host_tables(p)) {
                const float scale = b->scale[dir];
                return host_table(b, where, static_cast<std::size_t>(p.twiddle_table_bytes),
                                  [&](float* h) { fill_twiddles_on_host(h, scale, p); });
            }
        }
        using U2 = std::conditional_t<single, twidlTableGen4FactsColBatchUsm2Float, twidlTableGen4FactsColBatchUsm2Double>;
        using B2 = std::conditional_t<single, twidlTableGen4FactsColBatchBuf2Float, twidlTableGen4FactsColBatchBuf2Double>;
        const std::int64_t m0 = p.pass_length[0], m1 = p.pass_length[1], n = p.n;
        const std::int64_t c = p.pass_factors[1][0], d = p.pass_factors[1][1];
        const Real s = b->scale[dir];
        done.push_back(frame_table_group<Real, U2, B2>(
            b->queue, where.kind, where.usm, where.buf,
            sycl::range<2>(static_cast<std::size_t>(m0), static_cast<std::size_t>(d)),
            [=](Real* t, std::size_t jj, std::size_t qq) {
                const std::int64_t j = static_cast<std::int64_t>(jj), q = static_cast<std::int64_t>(qq);
                for (std::int64_t r = 0; r < c; ++r) {
                    const Real x = static_cast<Real>((j * (d * r + q)) % n) * Real(-2) / static_cast<Real>(n);
                    const Real cv = s * sycl::cospi(x), sv = s * sycl::sinpi(x);
                    Real* g = t + 32 * (j * m1 + q * c + r);
                    for (int k = 0; k < 8; ++k) {
                        g[2 * k] = cv;
                        g[2 * k + 1] = cv;
                        g[16 + 2 * k] = sv;
                        g[16 + 2 * k + 1] = -sv;
                    }
                }
            }));
        return 0;
    }

    static int launch(DFTI_DESCRIPTOR* node, block* b, const launch_args& a) {
        const fc::plan& p = b->pl;
        const int dir = a.direction;
        two_pass_areas w;
        if (!areas::areas_of(a, b, dir, w)) return DFTI_STATUS_NO_WORKSPACE;
        sycl::kernel* k0 = kernel_of(b, 0, dir);
        sycl::kernel* k1 = kernel_of(b, 1, dir);
        const std::int64_t G = p.tail_chunk_index + (p.inner_tail > 0 ? 1 : 0);
        const std::int64_t last_groups = p.groups_per_chunk >= 2 ? G % p.groups_per_chunk : 1;
        const std::int64_t launches = p.outer_launches + (p.outer_tail > 0 ? 1 : 0);
        // The offsets are 32-bit ints in the kernels.
        if (G > INT_MAX || (launches > 0 && (launches - 1) * p.outer_per_launch > INT_MAX))
            return DFTI_STATUS_UNIMPLEMENTED;
        sycl::event last;
        bool have_last = false;
        for (std::int64_t o = 0; o < launches; ++o) {
            const std::size_t outer = static_cast<std::size_t>(o == p.outer_launches ? p.outer_tail : p.outer_per_launch);
            const std::int32_t outer_offset = static_cast<std::int32_t>(o * p.outer_per_launch);
            for (std::int64_t ci = 0; ci < p.chunk_count; ++ci) {
                const std::int64_t groups =
                    (ci == p.chunk_count - 1 && last_groups != 0 && p.chunk_count >= 2) ? last_groups : p.groups_per_chunk;
                const std::int32_t inner_offset = static_cast<std::int32_t>(ci * p.groups_per_chunk);
                const bool first = !have_last;
                last = b->queue->submit([&](sycl::handler& h) {
                    areas::pass0_head(h, b, a, w, first, &last);
                    h.set_arg(4, inner_offset);
                    h.set_arg(5, outer_offset);
                    h.parallel_for(
                        sycl::nd_range<3>(sycl::range<3>(outer, static_cast<std::size_t>(groups),
                                                         static_cast<std::size_t>(p.pass[0].global_size)),
                                          sycl::range<3>(1, 1, static_cast<std::size_t>(p.pass[0].work_group_size))),
                        *k0);
                });
                have_last = true;
                last = b->queue->submit([&](sycl::handler& h) {
                    areas::pass1_head(h, b, a, w, last);
                    h.set_arg(5, inner_offset);
                    h.set_arg(6, outer_offset);
                    h.parallel_for(
                        sycl::nd_range<3>(sycl::range<3>(outer, static_cast<std::size_t>(groups),
                                                         static_cast<std::size_t>(p.pass[1].global_size)),
                                          sycl::range<3>(1, 1, static_cast<std::size_t>(p.pass[1].work_group_size))),
                        *k1);
                });
            }
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

OVX_GPU_BACKEND_RECORDS(korami::ovx::dft::gpu1d::fc_module, c2c_1d_4_facts_colbatch)

four_facts_colbatch_binary_counts get_four_facts_colbatch_binary_counts() {
    return {korami::ovx::dft::gpu1d::binary_requests.load(), korami::ovx::dft::gpu1d::binary_fallbacks.load()};
}
