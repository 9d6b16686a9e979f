// Four-factor 1D complex GPU backend (both precisions from this one source
// through the 1D frame). Per workspace binding: the two pass tables (shared
// by both directions), one inter-pass table per built direction (scale
// folded in) and one scratch area holding a chunk of transforms between the
// two passes.
#include "dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_4_facts_sycl.hpp"

#include <algorithm>
#include <climits>
#include <string>
#include <type_traits>

#include "dft/gpu/1d/frame.hpp"
#include "dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_4_facts_plan.hpp"
#include "gpu/ovx_gpu.hpp"

namespace korami {
namespace ovx {
namespace dft {
namespace gpu_kernels {
extern const char ovx_bkd_c2c_1d_4_facts_transpose_text_d[];
extern const char ovx_bkd_c2c_1d_4_facts_transpose_text_s[];
extern const char ovx_bkd_c2c_1d_4_facts_twiddle_text_d[];
extern const char ovx_bkd_c2c_1d_4_facts_twiddle_text_s[];
}  // namespace gpu_kernels

namespace gpu1d {

class twidlTableGen4FactsUsmClass1Double;
class twidlTableGen4FactsBufClass1Double;
class twidlTableGen4FactsUsmClass2Double;
class twidlTableGen4FactsBufClass2Double;
class twidlTableGen4FactsUsmClass1Float;
class twidlTableGen4FactsBufClass1Float;
class twidlTableGen4FactsUsmClass2Float;
class twidlTableGen4FactsBufClass2Float;

namespace {

inline int kslot(int pass, int dir) { return pass * 2 + dir; }

template <class Real>
struct four_facts_block : frame_block<Real, 4> {
    four_facts::plan pl;
    char kernel_names[2][64];
    void* pass_table_usm[2];
    sycl::buffer<char, 1>* pass_table_buf[2];
    sycl::event* pass_table_event[2];
    void* itab_usm[2];  // inter-pass table per direction
    sycl::buffer<char, 1>* itab_buf[2];
    sycl::event* itab_event[2];
    void* scratch_usm;
    sycl::buffer<char, 1>* scratch_buf;
};

std::uint32_t align_bytes_of(sycl::queue* q) {
    if (!q) return 16;
    return static_cast<std::uint32_t>(q->get_device().get_info<sycl::info::device::mem_base_addr_align>() / 8);
}

void describe(const DFTI_DESCRIPTOR* node, sycl::queue* q, std::int32_t arch, bool single,
              four_facts::plan_input& in) {
    const dfti_dim& d = node->working_dims.records[0];
    const dfti_dim& bt = node->working_batch.records[0];
    in = four_facts::plan_input{};
    in.n = d.length;
    in.single = single;
    in.arch = arch;
    in.directions = node->directions;
    in.batch = {bt.length, bt.fwd_stride, bt.bwd_stride, bt.input_stride, bt.output_stride};
    in.tiles = q ? korami::ovx::gpu::get_tile_count(q) : 1;
    in.align_bytes = align_bytes_of(q);
}

// Items 1 to 7 and 9 of the common test: lengths are the planner's.
int applicability(const DFTI_DESCRIPTOR* node) {
    return common_1d_c2c_test(node, [](std::int64_t) { return true; });
}

template <class Real>
struct four_facts_module {
    using real = Real;
    using block = four_facts_block<Real>;
    static constexpr bool single = std::is_same<Real, float>::value;
    static constexpr bool own_tables = true;

    static const char* text(int pass) {
        if (pass == 0)
            return single ? gpu_kernels::ovx_bkd_c2c_1d_4_facts_transpose_text_s
                          : gpu_kernels::ovx_bkd_c2c_1d_4_facts_transpose_text_d;
        return single ? gpu_kernels::ovx_bkd_c2c_1d_4_facts_twiddle_text_s
                      : gpu_kernels::ovx_bkd_c2c_1d_4_facts_twiddle_text_d;
    }

    static int test(const DFTI_DESCRIPTOR* node) { return applicability(node); }

    static int plan(DFTI_DESCRIPTOR* node, block* b) {
        four_facts::plan_input in;
        describe(node, b->queue, b->arch, single, in);
        const int st = four_facts::make_plan(in, b->pl);
        if (st != 0) return st;
        node->twiddle_workspace_bytes = b->pl.twiddle_workspace_bytes;
        node->scratch_workspace_bytes = b->pl.scratch_workspace_bytes;
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
                        frame_get_kernel(b->queue, p == 0 ? four_facts::transpose_program : four_facts::twiddle_program,
                                         text(p), b->kernel_names[p], options.c_str());
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

    static int place_tables(block* b, void* base, int kind, std::uint64_t offset, std::vector<sycl::event>* events,
                            std::uint64_t* end) {
        if (!base) return DFTI_STATUS_NO_WORKSPACE;
        const four_facts::plan& p = b->pl;
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
        using U1 = std::conditional_t<single, twidlTableGen4FactsUsmClass1Float, twidlTableGen4FactsUsmClass1Double>;
        using B1 = std::conditional_t<single, twidlTableGen4FactsBufClass1Float, twidlTableGen4FactsBufClass1Double>;
        using U2 = std::conditional_t<single, twidlTableGen4FactsUsmClass2Float, twidlTableGen4FactsUsmClass2Double>;
        using B2 = std::conditional_t<single, twidlTableGen4FactsBufClass2Float, twidlTableGen4FactsBufClass2Double>;
        // Pass tables: entry s * f0 + k = e^(-2 pi i s k / M), no scale.
        for (int ps = 0; ps < 2; ++ps) {
            const bool have = kind == DFTI_CONTAINER_USM ? b->pass_table_usm[ps] != nullptr : b->pass_table_buf[ps] != nullptr;
            if (!have) return DFTI_STATUS_NO_WORKSPACE;
            const std::int64_t f0 = p.pass[ps].fact0, f1 = p.pass[ps].fact1, m = p.pass[ps].fft_length;
            sycl::event e = table_group<U1, B1>(
                b, kind, b->pass_table_usm[ps], b->pass_table_buf[ps],
                sycl::range<2>(static_cast<std::size_t>(f1), static_cast<std::size_t>(f0)),
                [=](Real* t, std::size_t ss, std::size_t kk) {
                    const std::int64_t s = static_cast<std::int64_t>(ss), k = static_cast<std::int64_t>(kk);
                    const Real x = static_cast<Real>((s * k) % m) * Real(-2) / static_cast<Real>(m);
                    t[2 * (s * f0 + k)] = sycl::cospi(x);
                    t[2 * (s * f0 + k) + 1] = sycl::sinpi(x);
                });
            keep(b->pass_table_event[ps], e);
        }
        // Inter-pass tables: cell ((g * B1 + s) * B0 + i), 16 cosines then 16
        // signed sines, one per lane; lane pair c stands for column 8g + c.
        const std::int64_t L = p.pass_length[0], n = p.n;
        const std::int64_t b0 = p.pass_factors[1][0], b1 = p.pass_factors[1][1];
        for (int dir = 0; dir < 2; ++dir) {
            if (!direction_built(b->directions, dir)) continue;
            const bool have = kind == DFTI_CONTAINER_USM ? b->itab_usm[dir] != nullptr : b->itab_buf[dir] != nullptr;
            if (!have) return DFTI_STATUS_NO_WORKSPACE;
            const Real sigma = b->scale[dir];
            sycl::event e = table_group<U2, B2>(
                b, kind, b->itab_usm[dir], b->itab_buf[dir],
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
        const four_facts::plan& p = b->pl;
        const int dir = a.direction;
        const bool usm_ws = node->internal_workspace != 0 || b->ws_kind == DFTI_CONTAINER_USM;
        const std::uint64_t ws_kind = usm_ws ? DFTI_CONTAINER_USM : DFTI_CONTAINER_BUFFER;
        void* scratch = usm_ws ? b->scratch_usm : static_cast<void*>(b->scratch_buf);
        void* t0 = usm_ws ? b->pass_table_usm[0] : static_cast<void*>(b->pass_table_buf[0]);
        void* t1 = usm_ws ? b->pass_table_usm[1] : static_cast<void*>(b->pass_table_buf[1]);
        void* it = usm_ws ? b->itab_usm[dir] : static_cast<void*>(b->itab_buf[dir]);
        if (!scratch || !t0 || !t1 || !it) return DFTI_STATUS_NO_WORKSPACE;
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
                if (first_chunk) {
                    if (!a.buffers && a.deps) h.depends_on(*a.deps);
                    // The previous compute may still read the scratch.
                    if (usm_ws && a.after) h.depends_on(*a.after);
                    if (!b->in_order && usm_ws && b->pass_table_event[0]) h.depends_on(*b->pass_table_event[0]);
                } else if (usm_ws && have_last) {
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
                h.set_arg(4, offset);
                h.parallel_for(sycl::nd_range<2>(sycl::range<2>(count, static_cast<std::size_t>(p.pass[0].global_size)),
                                                 sycl::range<2>(1, static_cast<std::size_t>(p.pass[0].work_group_size))),
                               *k0);
            });
            have_last = true;
            last = b->queue->submit([&](sycl::handler& h) {
                if (usm_ws) h.depends_on(last);
                if (first_chunk && !b->in_order && usm_ws) {
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

template <class Real>
std::int64_t estimate_4_facts(const dft_workspace_problem& problem) {
    const DFTI_DESCRIPTOR* node = problem.node;
    constexpr bool single = std::is_same<Real, float>::value;
    if (!node || applicability(node) != 0) return -1;
    auto* q = const_cast<sycl::queue*>(problem.queue);
    std::int32_t arch = 6;
    if (q) {
        int st = 0;
        arch = korami::ovx::gpu::get_architecture(&st, q);
        if (st != 0) return -1;
    }
    four_facts::plan_input in;
    describe(node, q, arch, single, in);
    four_facts::plan p;
    if (four_facts::make_plan(in, p) != 0) return -1;
    return static_cast<std::int64_t>(p.twiddle_workspace_bytes + p.scratch_workspace_bytes);
}

}  // namespace gpu1d
}  // namespace dft
}  // namespace ovx
}  // namespace korami

namespace {
using frame_d = korami::ovx::dft::gpu1d::frame<korami::ovx::dft::gpu1d::four_facts_module<double>>;
using frame_s = korami::ovx::dft::gpu1d::frame<korami::ovx::dft::gpu1d::four_facts_module<float>>;
}  // namespace

const bkd_ops bkd_c2c_1d_4_facts_d_ops = {&frame_d::commit, &frame_d::free, &frame_d::add_workspace};
const bkd_ops bkd_c2c_1d_4_facts_s_ops = {&frame_s::commit, &frame_s::free, &frame_s::add_workspace};

template <typename T>
std::int64_t dft_c2c_1d_4_facts_gpu_bkd<T>::get_workspace_bytes(const dft_workspace_problem& problem) const {
    return korami::ovx::dft::gpu1d::estimate_4_facts<T>(problem);
}
template class dft_c2c_1d_4_facts_gpu_bkd<float>;
template class dft_c2c_1d_4_facts_gpu_bkd<double>;

namespace {
const dft_c2c_1d_4_facts_gpu_bkd<float> estimator_s;
const dft_c2c_1d_4_facts_gpu_bkd<double> estimator_d;
const dft_bkd_estimator_registration<float> registration_s(&estimator_s);
const dft_bkd_estimator_registration<double> registration_d(&estimator_d);
}  // namespace
