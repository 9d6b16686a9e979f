// Four-factor column-batched 1D complex GPU backend (both precisions from
// this one source through the 1D frame). Per workspace binding: the two pass
// tables (shared by both directions), one inter-pass table per built
// direction (scale folded in), and the scratch of one launch. In single
// precision the 64- and 128-point shapes take their tables from the host and
// may take prebuilt kernels; a prebuilt kernel that cannot be had falls back
// to the source build.
#include "dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_4_facts_colbatch_sycl.hpp"

#include <ovx_serv.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <exception>
#include <string>
#include <type_traits>
#include <vector>

#include "dft/gpu/1d/frame.hpp"
#include "dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_4_facts_colbatch_plan.hpp"
#include "gpu/ovx_gpu.hpp"

namespace korami {
namespace ovx {
namespace dft {
namespace gpu_kernels {
extern const char ovx_bkd_c2c_1d_4_facts_twiddle_text_d[];
extern const char ovx_bkd_c2c_1d_4_facts_twiddle_text_s[];
}  // namespace gpu_kernels

namespace gpu1d {

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

inline int kslot(int pass, int dir) { return pass * 2 + dir; }

template <class Real>
struct fc_block : frame_block<Real, 4> {
    fc::plan pl;
    char kernel_names[2][64];
    sycl::kernel* prebuilt_kernel[2][2];  // [pass][direction], owned by the kernel cache
    std::uint8_t prebuilt[2][2];
    void* pass_table_usm[2];
    sycl::buffer<char, 1>* pass_table_buf[2];
    sycl::event* pass_table_event[2];
    void* itab_usm[2];
    sycl::buffer<char, 1>* itab_buf[2];
    sycl::event* itab_event[2];
    void* scratch_usm;
    sycl::buffer<char, 1>* scratch_buf;
};

fc::shape shape_of(const DFTI_DESCRIPTOR* node) {
    fc::shape s;
    s.complex_domain = node->forward_domain == DFTI_COMPLEX;
    s.interleaved = node->complex_storage == DFTI_COMPLEX_COMPLEX;
    s.dims = static_cast<int>(node->working_dims.count);
    if (s.dims >= 1) {
        const dfti_dim& d = node->working_dims.records[0];
        s.n = d.length;
        s.input_stride = d.input_stride;
        s.output_stride = d.output_stride;
        s.fwd_stride = d.fwd_stride;
        s.bwd_stride = d.bwd_stride;
    }
    s.input_offset = node->input_offset;
    s.output_offset = node->output_offset;
    s.fwd_offset = node->fwd_offset;
    s.bwd_offset = node->bwd_offset;
    s.in_place = node->placement == DFTI_INPLACE;
    s.batches = static_cast<int>(node->working_batch.count);
    for (int i = 0; i < s.batches && i < 2; ++i) {
        const dfti_dim& r = node->working_batch.records[i];
        s.batch[i] = {r.length, r.input_stride, r.output_stride, r.fwd_stride, r.bwd_stride};
    }
    s.colbatch_group_count = node->colbatch_group_count;
    s.directions = node->directions;
    return s;
}

bool device_facts_of(sycl::queue* q, std::int32_t arch, fc::device_facts& dev) {
    try {
        const sycl::device d = q->get_device();
        const std::vector<std::size_t> sizes = d.get_info<sycl::info::device::sub_group_sizes>();
        if (sizes.empty()) return false;
        dev.min_sub_group = static_cast<std::int64_t>(*std::min_element(sizes.begin(), sizes.end()));
        dev.arch = arch;
        dev.tiles = korami::ovx::gpu::get_tile_count(q);
        dev.max_work_group = static_cast<std::int64_t>(d.get_info<sycl::info::device::max_work_group_size>());
        dev.local_mem = static_cast<std::int64_t>(d.get_info<sycl::info::device::local_mem_size>());
        dev.align_bytes = static_cast<std::uint32_t>(d.get_info<sycl::info::device::mem_base_addr_align>() / 8);
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

template <class Real>
struct fc_module {
    using real = Real;
    using block = fc_block<Real>;
    static constexpr bool single = std::is_same<Real, float>::value;
    static constexpr bool own_tables = true;

    static const char* text() {
        return single ? gpu_kernels::ovx_bkd_c2c_1d_4_facts_twiddle_text_s
                      : gpu_kernels::ovx_bkd_c2c_1d_4_facts_twiddle_text_d;
    }

    static int test(const DFTI_DESCRIPTOR* node) { return fc::commit_test(shape_of(node)); }

    static int plan(DFTI_DESCRIPTOR* node, block* b) {
        fc::device_facts dev;
        if (!device_facts_of(b->queue, b->arch, dev)) return DFTI_STATUS_NOT_APPLICABLE;
        const int st = fc::make_plan(shape_of(node), dev, single, b->pl);
        if (st != 0) return st;
        node->twiddle_workspace_bytes = b->pl.twiddle_workspace_bytes;
        node->scratch_workspace_bytes = b->pl.scratch_workspace_bytes;
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
        int backend = -1;
        std::string driver;
        if (single) {
            backend = korami::ovx::gpu::get_device_backend(b->queue);
            try {
                driver = b->queue->get_device().template get_info<sycl::info::device::driver_version>();
            } catch (const std::exception&) {
                driver.clear();
            }
        }
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
                        frame_get_kernel(b->queue, fc::program_name, text(), b->kernel_names[p], options.c_str());
                } catch (const sycl::exception&) {
                    return DFTI_STATUS_NOT_APPLICABLE;
                }
            }
            if (!direction_ready(b, dir)) return DFTI_STATUS_NOT_APPLICABLE;
        }
        return 0;
    }

    static bool direction_ready(const block* b, int dir) { return kernel_of(b, 0, dir) && kernel_of(b, 1, dir); }

    static void carve(void* base, int kind, std::uint64_t off, std::uint64_t bytes, void*& usm,
                      sycl::buffer<char, 1>*& buf) {
        if (kind == DFTI_CONTAINER_USM) {
            usm = static_cast<char*>(base) + off;
        } else {
            auto* whole = static_cast<sycl::buffer<char, 1>*>(base);
            buf = new sycl::buffer<char, 1>(*whole, sycl::id<1>(off), sycl::range<1>(static_cast<std::size_t>(bytes)));
        }
    }

    template <class UsmName, class BufName, class Body>
    static sycl::event table_group(block* b, int kind, void* usm, sycl::buffer<char, 1>* buf, sycl::range<2> r,
                                   Body body) {
        if (kind == DFTI_CONTAINER_USM) {
            Real* t = static_cast<Real*>(usm);
            return b->queue->submit([&](sycl::handler& h) {
                h.parallel_for<UsmName>(r, [=](sycl::item<2> it) { body(t, it.get_id(0), it.get_id(1)); });
            });
        }
        return b->queue->submit([&](sycl::handler& h) {
            sycl::accessor<char, 1, sycl::access_mode::read_write> acc(*buf, h);
            h.parallel_for<BufName>(r, [=](sycl::item<2> it) {
                body(reinterpret_cast<Real*>(acc.get_pointer().get()), it.get_id(0), it.get_id(1));
            });
        });
    }

    static void keep(sycl::event*& slot, const sycl::event& e) {
        delete slot;
        slot = new sycl::event(e);
    }

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
    static int host_table(block* b, int kind, void* usm, sycl::buffer<char, 1>* buf, std::size_t bytes, Fill fill) {
        if (kind == DFTI_CONTAINER_USM) {
            if (!usm) return DFTI_STATUS_NO_WORKSPACE;
            float* h = static_cast<float*>(sycl::malloc_host(bytes, *b->queue));
            if (!h) return DFTI_STATUS_ALLOCATION_FAILED;
            fill(h);
            try {
                b->queue->memcpy(usm, h, bytes).wait();
            } catch (...) {
                sycl::free(h, *b->queue);
                throw;
            }
            sycl::free(h, *b->queue);
            return 0;
        }
        if (!buf) return DFTI_STATUS_NO_WORKSPACE;
        sycl::host_accessor<char, 1, sycl::access_mode::read_write> acc(*buf);
        fill(reinterpret_cast<float*>(acc.get_pointer()));
        return 0;
    }

    static int place_tables(block* b, void* base, int kind, std::uint64_t offset, std::vector<sycl::event>* events,
                            std::uint64_t* end) {
        if (!base) return DFTI_STATUS_NO_WORKSPACE;
        const fc::plan& p = b->pl;
        std::uint64_t off = offset;
        for (int ps = 0; ps < 2; ++ps) {
            carve(base, kind, off, p.pass[ps].table_bytes, b->pass_table_usm[ps], b->pass_table_buf[ps]);
            off += p.pass[ps].table_bytes;
        }
        for (int dir = 0; dir < 2; ++dir) {
            if (!direction_built(b->directions, dir)) continue;
            carve(base, kind, off, p.twiddle_table_bytes, b->itab_usm[dir], b->itab_buf[dir]);
            off += p.twiddle_table_bytes;
        }
        if (end) *end = off;
        if constexpr (single) {
            if (fc::host_tables(p)) {
                for (int ps = 0; ps < 2; ++ps) {
                    const std::int64_t f0 = p.pass[ps].fact0, f1 = p.pass[ps].fact1, m = p.pass[ps].fft_length;
                    const int st = host_table(b, kind, b->pass_table_usm[ps], b->pass_table_buf[ps],
                                              static_cast<std::size_t>(f0 * f1 * 8),
                                              [&](float* h) { fill_pass_table_host(h, f0, f1, m); });
                    if (st != 0) return st;
                }
                for (int dir = 0; dir < 2; ++dir) {
                    if (!direction_built(b->directions, dir)) continue;
                    const float scale = b->scale[dir];
                    const int st = host_table(b, kind, b->itab_usm[dir], b->itab_buf[dir],
                                              static_cast<std::size_t>(p.twiddle_table_bytes),
                                              [&](float* h) { fill_twiddles_on_host(h, scale, p); });
                    if (st != 0) return st;
                }
                return 0;
            }
        }
        using U1 = std::conditional_t<single, twidlTableGen4FactsColBatchUsm1Float, twidlTableGen4FactsColBatchUsm1Double>;
        using B1 = std::conditional_t<single, twidlTableGen4FactsColBatchBuf1Float, twidlTableGen4FactsColBatchBuf1Double>;
        using U2 = std::conditional_t<single, twidlTableGen4FactsColBatchUsm2Float, twidlTableGen4FactsColBatchUsm2Double>;
        using B2 = std::conditional_t<single, twidlTableGen4FactsColBatchBuf2Float, twidlTableGen4FactsColBatchBuf2Double>;
        for (int ps = 0; ps < 2; ++ps) {
            const bool have = kind == DFTI_CONTAINER_USM ? b->pass_table_usm[ps] != nullptr : b->pass_table_buf[ps] != nullptr;
            if (!have) return DFTI_STATUS_NO_WORKSPACE;
            const std::int64_t f0 = p.pass[ps].fact0, f1 = p.pass[ps].fact1, m = p.pass[ps].fft_length;
            sycl::event e = table_group<U1, B1>(
                b, kind, b->pass_table_usm[ps], b->pass_table_buf[ps],
                sycl::range<2>(static_cast<std::size_t>(f1), static_cast<std::size_t>(f0)),
                [=](Real* t, std::size_t kk1, std::size_t kk0) {
                    const std::int64_t k1 = static_cast<std::int64_t>(kk1), k0 = static_cast<std::int64_t>(kk0);
                    const Real x = static_cast<Real>((k0 * k1) % m) * Real(-2) / static_cast<Real>(m);
                    t[2 * (k1 * f0 + k0)] = sycl::cospi(x);
                    t[2 * (k1 * f0 + k0) + 1] = sycl::sinpi(x);
                });
            keep(b->pass_table_event[ps], e);
        }
        const std::int64_t m0 = p.pass_length[0], m1 = p.pass_length[1], n = p.n;
        const std::int64_t c = p.pass_factors[1][0], d = p.pass_factors[1][1];
        for (int dir = 0; dir < 2; ++dir) {
            if (!direction_built(b->directions, dir)) continue;
            const bool have = kind == DFTI_CONTAINER_USM ? b->itab_usm[dir] != nullptr : b->itab_buf[dir] != nullptr;
            if (!have) return DFTI_STATUS_NO_WORKSPACE;
            const Real s = b->scale[dir];
            sycl::event e = table_group<U2, B2>(
                b, kind, b->itab_usm[dir], b->itab_buf[dir],
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
                });
            keep(b->itab_event[dir], e);
        }
        if (events) {
            for (int dir = 0; dir < 2; ++dir)
                if (b->itab_event[dir]) events->push_back(*b->itab_event[dir]);
            for (int ps = 0; ps < 2; ++ps)
                if (b->pass_table_event[ps]) events->push_back(*b->pass_table_event[ps]);
        }
        return 0;
    }

    static void drop(sycl::event*& e) {
        if (!e) return;
        frame_wait_quietly(e);
        delete e;
        e = nullptr;
    }

    static void free_tables(block* b) {
        for (int i = 0; i < 2; ++i) {
            drop(b->pass_table_event[i]);
            drop(b->itab_event[i]);
            delete b->pass_table_buf[i];
            b->pass_table_buf[i] = nullptr;
            delete b->itab_buf[i];
            b->itab_buf[i] = nullptr;
            b->pass_table_usm[i] = nullptr;
            b->itab_usm[i] = nullptr;
        }
    }

    static sycl::event write_table(block*, int, int, void*, sycl::buffer<char, 1>*) { return sycl::event(); }

    static int place_scratch(block* b, void* base, int kind, std::uint64_t offset) {
        if (b->pl.scratch_bytes == 0) return 0;
        if (!base) return DFTI_STATUS_NO_WORKSPACE;
        carve(base, kind, offset, b->pl.scratch_bytes, b->scratch_usm, b->scratch_buf);
        return 0;
    }

    static void free_scratch(block* b) {
        delete b->scratch_buf;
        b->scratch_buf = nullptr;
        b->scratch_usm = nullptr;
    }

    static int launch(DFTI_DESCRIPTOR* node, block* b, const launch_args& a) {
        const fc::plan& p = b->pl;
        const int dir = a.direction;
        const bool usm_ws = node->internal_workspace != 0 || b->ws_kind == DFTI_CONTAINER_USM;
        const std::uint64_t ws_kind = usm_ws ? DFTI_CONTAINER_USM : DFTI_CONTAINER_BUFFER;
        void* scratch = usm_ws ? b->scratch_usm : static_cast<void*>(b->scratch_buf);
        void* t0 = usm_ws ? b->pass_table_usm[0] : static_cast<void*>(b->pass_table_buf[0]);
        void* t1 = usm_ws ? b->pass_table_usm[1] : static_cast<void*>(b->pass_table_buf[1]);
        void* it = usm_ws ? b->itab_usm[dir] : static_cast<void*>(b->itab_buf[dir]);
        if (!scratch || !t0 || !t1 || !it) return DFTI_STATUS_NO_WORKSPACE;
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
                    if (first) {
                        if (!a.buffers && a.deps) h.depends_on(*a.deps);
                        // The previous compute may still read the scratch.
                        if (usm_ws && a.after) h.depends_on(*a.after);
                        if (!b->in_order && usm_ws && b->pass_table_event[0]) h.depends_on(*b->pass_table_event[0]);
                    } else if (usm_ws) {
                        h.depends_on(last);
                    }
                    if (a.buffers)
                        dft_set_arg(h, 0, a.in, DFTI_CONTAINER_BUFFER);
                    else
                        h.set_arg(0, a.in);
                    dft_set_arg<1, sycl::access_mode::read_write>(h, scratch, ws_kind);
                    dft_set_arg(h, 2, t0, ws_kind);
                    sycl::local_accessor<char, 1> slm(sycl::range<1>(static_cast<std::size_t>(p.pass[0].local_bytes)), h);
                    h.set_arg(3, slm);
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
                    if (usm_ws) h.depends_on(last);
                    if (ci == 0 && !b->in_order && usm_ws) {
                        if (b->pass_table_event[1]) h.depends_on(*b->pass_table_event[1]);
                        if (b->itab_event[dir]) h.depends_on(*b->itab_event[dir]);
                    }
                    dft_set_arg(h, 0, scratch, ws_kind);
                    if (a.buffers)
                        dft_set_arg<1, sycl::access_mode::read_write>(h, a.out, DFTI_CONTAINER_BUFFER);
                    else
                        h.set_arg(1, a.out);
                    dft_set_arg(h, 2, t1, ws_kind);
                    dft_set_arg(h, 3, it, ws_kind);
                    sycl::local_accessor<char, 1> slm(sycl::range<1>(static_cast<std::size_t>(p.pass[1].local_bytes)), h);
                    h.set_arg(4, slm);
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

template <class Real>
std::int64_t estimate_4_facts_colbatch(const dft_workspace_problem& problem) {
    const DFTI_DESCRIPTOR* node = problem.node;
    constexpr bool single = std::is_same<Real, float>::value;
    if (!node || fc::commit_test(shape_of(node)) != 0) return -1;
    auto* q = const_cast<sycl::queue*>(problem.queue);
    fc::device_facts dev;
    if (q) {
        int st = 0;
        const std::int32_t arch = korami::ovx::gpu::get_architecture(&st, q);
        if (st != 0 || !device_facts_of(q, arch, dev)) return -1;
    }
    fc::plan p;
    if (fc::make_plan(shape_of(node), dev, single, p) != 0) return -1;
    return static_cast<std::int64_t>(p.twiddle_workspace_bytes + p.scratch_workspace_bytes);
}

}  // namespace gpu1d
}  // namespace dft
}  // namespace ovx
}  // namespace korami

namespace {
using frame_d = korami::ovx::dft::gpu1d::frame<korami::ovx::dft::gpu1d::fc_module<double>>;
using frame_s = korami::ovx::dft::gpu1d::frame<korami::ovx::dft::gpu1d::fc_module<float>>;
}  // namespace

const bkd_ops bkd_c2c_1d_4_facts_colbatch_d_ops = {&frame_d::commit, &frame_d::free, &frame_d::add_workspace};
const bkd_ops bkd_c2c_1d_4_facts_colbatch_s_ops = {&frame_s::commit, &frame_s::free, &frame_s::add_workspace};

four_facts_colbatch_binary_counts get_four_facts_colbatch_binary_counts() {
    return {korami::ovx::dft::gpu1d::binary_requests.load(), korami::ovx::dft::gpu1d::binary_fallbacks.load()};
}

template <typename T>
std::int64_t dft_c2c_1d_4_facts_colbatch_gpu_bkd<T>::get_workspace_bytes(const dft_workspace_problem& problem) const {
    return korami::ovx::dft::gpu1d::estimate_4_facts_colbatch<T>(problem);
}
template class dft_c2c_1d_4_facts_colbatch_gpu_bkd<float>;
template class dft_c2c_1d_4_facts_colbatch_gpu_bkd<double>;

namespace {
const dft_c2c_1d_4_facts_colbatch_gpu_bkd<float> estimator_s;
const dft_c2c_1d_4_facts_colbatch_gpu_bkd<double> estimator_d;
const dft_bkd_estimator_registration<float> registration_s(&estimator_s);
const dft_bkd_estimator_registration<double> registration_d(&estimator_d);
}  // namespace
