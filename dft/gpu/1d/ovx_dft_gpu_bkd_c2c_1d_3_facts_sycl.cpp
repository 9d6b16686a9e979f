// Three-factor 1D complex GPU backend (both precisions from this one source
// through the 1D frame). Per built direction a Class1 table (N entries, the
// scale folded in) and a Class2 table (F1 x F2 entries); one scratch area of
// at most 42 MiB (16 GiB on Quen6) holds a chunk of transforms, each row
// N + 4 complex values long.
#include "dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_3_facts_sycl.hpp"

#include <algorithm>
#include <string>
#include <type_traits>

#include "dft/gpu/1d/frame.hpp"
#include "dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_3_facts_plan.hpp"
#include "gpu/ovx_gpu.hpp"

namespace korami {
namespace ovx {
namespace dft {
namespace gpu_kernels {
extern const char ovx_bkd_c2c_1d_3_facts_text_d[];
extern const char ovx_bkd_c2c_1d_3_facts_text_s[];
}  // namespace gpu_kernels

namespace gpu1d {

class twidlTableGen3FactsClass1UsmDouble;
class twidlTableGen3FactsClass1BufDouble;
class twidlTableGen3FactsClass2UsmDouble;
class twidlTableGen3FactsClass2BufDouble;
class twidlTableGen3FactsClass1UsmFloat;
class twidlTableGen3FactsClass1BufFloat;
class twidlTableGen3FactsClass2UsmFloat;
class twidlTableGen3FactsClass2BufFloat;

namespace {

inline int kslot(int pass, int dir) { return pass * 2 + dir; }

template <class Real>
struct three_facts_block : frame_block<Real, 6> {
    char kernel_names[3][64];
    char butterfly_names[3][64];
    three_facts::plan pl;
    std::uint64_t table_bytes[2];  // aligned Class1, Class2
    std::uint64_t scratch_bytes;   // aligned
    void* table_usm[2][2];         // [class][direction]
    sycl::buffer<char, 1>* table_buf[2][2];
    sycl::event* table_event[2][2];
    void* scratch_usm;
    sycl::buffer<char, 1>* scratch_buf;
};

void describe(const DFTI_DESCRIPTOR* node, sycl::queue* q, std::int32_t arch, bool single,
              three_facts::plan_input& in) {
    const dfti_dim& d = node->working_dims.records[0];
    const dfti_dim& bt = node->working_batch.records[0];
    in = three_facts::plan_input{};
    in.n = d.length;
    in.single = single;
    in.arch = arch;
    in.directions = node->directions;
    in.batch = {bt.length, bt.fwd_stride, bt.bwd_stride, bt.input_stride, bt.output_stride};
    in.has_subgroup8 = true;
    if (q) {
        const std::vector<std::size_t> sizes = q->get_device().get_info<sycl::info::device::sub_group_sizes>();
        in.has_subgroup8 = std::find(sizes.begin(), sizes.end(), std::size_t(8)) != sizes.end();
    }
}

template <bool Single>
int applicability(const DFTI_DESCRIPTOR* node) {
    return common_1d_c2c_test(node, [](std::int64_t n) { return three_facts::length_accepted(n, Single); });
}

template <class Real>
struct three_facts_module {
    using real = Real;
    using block = three_facts_block<Real>;
    static constexpr bool single = std::is_same<Real, float>::value;
    static constexpr bool own_tables = true;

    static const char* program_name() {
        return single ? "gpu_framework_c2c_1d_3_facts.ovx_dft_gpu_bkd_c2c_1d_sycl_3_facts_s"
                      : "gpu_framework_c2c_1d_3_facts.ovx_dft_gpu_bkd_c2c_1d_sycl_3_facts_d";
    }
    static const char* text() {
        return single ? gpu_kernels::ovx_bkd_c2c_1d_3_facts_text_s : gpu_kernels::ovx_bkd_c2c_1d_3_facts_text_d;
    }

    static int test(const DFTI_DESCRIPTOR* node) { return applicability<single>(node); }

    static int plan(DFTI_DESCRIPTOR* node, block* b) {
        three_facts::plan_input in;
        describe(node, b->queue, b->arch, single, in);
        const int st = three_facts::make_plan(in, b->pl);
        if (st != 0) return st;
        b->scratch_bytes = align_workspace_offset(b->pl.scratch_bytes, b->queue);
        b->table_bytes[0] = align_workspace_offset(b->pl.table1_bytes, b->queue);
        b->table_bytes[1] = align_workspace_offset(b->pl.table2_bytes, b->queue);
        node->twiddle_workspace_bytes = (b->table_bytes[0] + b->table_bytes[1]) * (b->directions == 2 ? 2u : 1u);
        node->scratch_workspace_bytes = b->scratch_bytes;
        return 0;
    }

    static int build_kernels(DFTI_DESCRIPTOR*, block* b) {
        for (int p = 0; p < 3; ++p) {
            if (bounded_snprintf(b->kernel_names[p], 64, "%s", three_facts::kernel_name(b->pl, p).c_str()) < 0 ||
                bounded_snprintf(b->butterfly_names[p], 64, "%s", three_facts::butterfly_name(b->pl, p).c_str()) < 0)
                return DFTI_STATUS_INTERNAL;
        }
        for (int dir = 0; dir < 2; ++dir) {
            if (!direction_built(b->directions, dir)) continue;
            for (int p = 0; p < 3; ++p) {
                const std::string options = three_facts::build_options(b->pl, dir, p);
                if (options.empty()) return DFTI_STATUS_INTERNAL;
                b->kernels[kslot(p, dir)] =
                    frame_get_kernel(b->queue, program_name(), text(), b->kernel_names[p], options.c_str());
            }
            if (!direction_ready(b, dir)) return DFTI_STATUS_INTERNAL;
        }
        return 0;
    }

    static bool direction_ready(const block* b, int dir) {
        return b->kernels[kslot(0, dir)] && b->kernels[kslot(1, dir)] && b->kernels[kslot(2, dir)];
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
    static sycl::event table_group(block* b, int cls, int dir, int kind, sycl::range<2> r, Body body) {
        if (kind == DFTI_CONTAINER_USM) {
            Real* t = static_cast<Real*>(b->table_usm[cls][dir]);
            return b->queue->submit([&](sycl::handler& h) {
                h.parallel_for<UsmName>(r, [=](sycl::item<2> it) { body(t, it.get_id(0), it.get_id(1)); });
            });
        }
        sycl::buffer<char, 1>* buf = b->table_buf[cls][dir];
        return b->queue->submit([&](sycl::handler& h) {
            sycl::accessor<char, 1, sycl::access_mode::read_write> acc(*buf, h);
            h.parallel_for<BufName>(r, [=](sycl::item<2> it) {
                body(reinterpret_cast<Real*>(acc.get_pointer().get()), it.get_id(0), it.get_id(1));
            });
        });
    }

    static int place_tables(block* b, void* base, int kind, std::uint64_t offset, std::vector<sycl::event>* events,
                            std::uint64_t* end) {
        std::uint64_t off = offset;
        for (int dir = 0; dir < 2; ++dir) {
            if (!direction_built(b->directions, dir)) continue;
            if (!base) return DFTI_STATUS_NO_WORKSPACE;
            for (int cls = 0; cls < 2; ++cls) {
                carve(base, kind, off, b->table_bytes[cls], b->table_usm[cls][dir], b->table_buf[cls][dir]);
                off += b->table_bytes[cls];
            }
        }
        if (end) *end = off;
        const std::int64_t f0 = b->pl.factors[0], f1 = b->pl.factors[1], f2 = b->pl.factors[2];
        const std::int64_t n = b->pl.n, m = f1 * f2;
        for (int dir = 0; dir < 2; ++dir) {
            if (!direction_built(b->directions, dir)) continue;
            for (int cls = 0; cls < 2; ++cls) {
                const bool have = kind == DFTI_CONTAINER_USM ? b->table_usm[cls][dir] != nullptr
                                                              : b->table_buf[cls][dir] != nullptr;
                if (!have) return DFTI_STATUS_NO_WORKSPACE;
            }
            const Real scale = b->scale[dir];
            using U1 = std::conditional_t<single, twidlTableGen3FactsClass1UsmFloat, twidlTableGen3FactsClass1UsmDouble>;
            using B1 = std::conditional_t<single, twidlTableGen3FactsClass1BufFloat, twidlTableGen3FactsClass1BufDouble>;
            using U2 = std::conditional_t<single, twidlTableGen3FactsClass2UsmFloat, twidlTableGen3FactsClass2UsmDouble>;
            using B2 = std::conditional_t<single, twidlTableGen3FactsClass2BufFloat, twidlTableGen3FactsClass2BufDouble>;
            // Class1: work-item (m, k0) writes entry k0 + F0*m = scale * e^(-2 pi i k0 m / N).
            sycl::event e1 = table_group<U1, B1>(
                b, 0, dir, kind, sycl::range<2>(static_cast<std::size_t>(m), static_cast<std::size_t>(f0)),
                [=](Real* t, std::size_t mm, std::size_t kk) {
                    const std::int64_t mi = static_cast<std::int64_t>(mm), k0 = static_cast<std::int64_t>(kk);
                    const Real x = static_cast<Real>(k0 * mi) * Real(-2) / static_cast<Real>(n);
                    t[2 * (k0 + f0 * mi)] = sycl::cospi(x) * scale;
                    t[2 * (k0 + f0 * mi) + 1] = sycl::sinpi(x) * scale;
                });
            // Class2: work-item (k1, c2) writes entry c2 + F2*k1 = e^(-2 pi i c2 k1 / M).
            sycl::event e2 = table_group<U2, B2>(
                b, 1, dir, kind, sycl::range<2>(static_cast<std::size_t>(f1), static_cast<std::size_t>(f2)),
                [=](Real* t, std::size_t kk, std::size_t cc) {
                    const std::int64_t k1 = static_cast<std::int64_t>(kk), c2 = static_cast<std::int64_t>(cc);
                    const Real x = static_cast<Real>(c2 * k1) * Real(-2) / static_cast<Real>(m);
                    t[2 * (c2 + f2 * k1)] = sycl::cospi(x);
                    t[2 * (c2 + f2 * k1) + 1] = sycl::sinpi(x);
                });
            delete b->table_event[0][dir];
            b->table_event[0][dir] = new sycl::event(e1);
            delete b->table_event[1][dir];
            b->table_event[1][dir] = new sycl::event(e2);
            if (events) {
                events->push_back(e1);
                events->push_back(e2);
            }
        }
        return 0;
    }

    static void free_tables(block* b) {
        for (int cls = 0; cls < 2; ++cls)
            for (int dir = 0; dir < 2; ++dir) {
                if (b->table_event[cls][dir]) {
                    frame_wait_quietly(b->table_event[cls][dir]);
                    delete b->table_event[cls][dir];
                    b->table_event[cls][dir] = nullptr;
                }
                delete b->table_buf[cls][dir];
                b->table_buf[cls][dir] = nullptr;
                b->table_usm[cls][dir] = nullptr;
            }
    }

    static sycl::event write_table(block*, int, int, void*, sycl::buffer<char, 1>*) { return sycl::event(); }

    static int place_scratch(block* b, void* base, int kind, std::uint64_t offset) {
        if (b->scratch_bytes == 0) return 0;
        if (!base) return DFTI_STATUS_NO_WORKSPACE;
        carve(base, kind, offset, b->scratch_bytes, b->scratch_usm, b->scratch_buf);
        return 0;
    }

    static void free_scratch(block* b) {
        delete b->scratch_buf;
        b->scratch_buf = nullptr;
        b->scratch_usm = nullptr;
    }

    static int launch(DFTI_DESCRIPTOR* node, block* b, const launch_args& a) {
        const three_facts::plan& p = b->pl;
        const int dir = a.direction;
        const bool usm_ws = node->internal_workspace != 0 || b->ws_kind == DFTI_CONTAINER_USM;
        const std::uint64_t ws_kind = usm_ws ? DFTI_CONTAINER_USM : DFTI_CONTAINER_BUFFER;
        void* t1 = usm_ws ? b->table_usm[0][dir] : static_cast<void*>(b->table_buf[0][dir]);
        void* t2 = usm_ws ? b->table_usm[1][dir] : static_cast<void*>(b->table_buf[1][dir]);
        void* scratch = usm_ws ? b->scratch_usm : static_cast<void*>(b->scratch_buf);
        const std::int64_t total = p.batch.transforms;
        if (total <= 0) {
            if (a.result) *a.result = sycl::event();
            return 0;
        }
        if (!t1 || !t2 || !scratch) return DFTI_STATUS_NO_WORKSPACE;
        for (int pass = 0; pass < 3; ++pass)
            if (!b->kernels[kslot(pass, dir)]) return DFTI_STATUS_INTERNAL;
        // `offset` is a 32-bit int in the kernels: the whole batch must be indexable.
        if (total - 1 > 0x7fffffffLL) return DFTI_STATUS_UNIMPLEMENTED;
        const std::size_t wg = static_cast<std::size_t>(p.work_group_size);
        sycl::event last;
        bool have_last = false;
        for (std::int64_t start = 0; start < total; start += p.chunk_transforms) {
            const std::size_t count = static_cast<std::size_t>(std::min(p.chunk_transforms, total - start));
            const bool first = start == 0;
            const int offset = static_cast<int>(start);
            for (int pass = 0; pass < 3; ++pass) {
                sycl::kernel* k = b->kernels[kslot(pass, dir)];
                last = b->queue->submit([&](sycl::handler& h) {
                    if (first && pass == 0) {
                        if (!a.buffers && a.deps) h.depends_on(*a.deps);
                        // An earlier compute's last pass may still read the scratch.
                        if (usm_ws && a.after) h.depends_on(*a.after);
                    }
                    if (first && !b->in_order && usm_ws && pass > 0 && b->table_event[pass - 1][dir])
                        h.depends_on(*b->table_event[pass - 1][dir]);
                    if (usm_ws && have_last) h.depends_on(last);
                    const std::size_t lbytes = static_cast<std::size_t>(p.local_bytes[pass]);
                    if (pass == 0) {
                        if (a.buffers)
                            dft_set_arg(h, 0, a.in, DFTI_CONTAINER_BUFFER);
                        else
                            h.set_arg(0, a.in);
                        dft_set_arg(h, scratch, ws_kind);
                        sycl::local_accessor<char, 1> slm(sycl::range<1>(lbytes), h);
                        h.set_arg(2, slm);
                        h.set_arg(3, offset);
                    } else if (pass == 1) {
                        dft_set_arg(h, 0, scratch, ws_kind);
                        dft_set_arg<1, sycl::access_mode::read_write>(h, scratch, ws_kind);
                        dft_set_arg(h, 2, t1, ws_kind);
                        sycl::local_accessor<char, 1> slm(sycl::range<1>(lbytes), h);
                        h.set_arg(3, slm);
                    } else {
                        dft_set_arg(h, 0, scratch, ws_kind);
                        if (a.buffers)
                            dft_set_arg<1, sycl::access_mode::read_write>(h, a.out, DFTI_CONTAINER_BUFFER);
                        else
                            h.set_arg(1, a.out);
                        dft_set_arg(h, 2, t2, ws_kind);
                        sycl::local_accessor<char, 1> slm(sycl::range<1>(lbytes), h);
                        h.set_arg(3, slm);
                        h.set_arg(4, offset);
                    }
                    h.parallel_for(sycl::nd_range<2>(sycl::range<2>(count, static_cast<std::size_t>(p.global_x[pass])),
                                                     sycl::range<2>(1, wg)),
                                   *k);
                });
                have_last = true;
            }
        }
        if (a.result) *a.result = last;
        return 0;
    }
};

}  // namespace

template <class Real>
std::int64_t estimate_3_facts(const dft_workspace_problem& problem) {
    const DFTI_DESCRIPTOR* node = problem.node;
    constexpr bool single = std::is_same<Real, float>::value;
    if (!node || applicability<single>(node) != 0) return -1;
    auto* q = const_cast<sycl::queue*>(problem.queue);
    std::int32_t arch = 0;
    if (q) {
        int st = 0;
        arch = korami::ovx::gpu::get_architecture(&st, q);
        if (st != 0) return -1;
    }
    three_facts::plan_input in;
    describe(node, q, arch, single, in);
    three_facts::plan p;
    if (three_facts::make_plan(in, p) != 0) return -1;
    auto al = [q](std::uint64_t v) { return q ? align_workspace_offset(v, q) : align_workspace_bytes(v, 16); };
    const std::uint64_t per_dir = al(p.table1_bytes) + al(p.table2_bytes);
    return static_cast<std::int64_t>(per_dir * (node->directions == 2 ? 2u : 1u) + al(p.scratch_bytes));
}

}  // namespace gpu1d
}  // namespace dft
}  // namespace ovx
}  // namespace korami

namespace {
using frame_d = korami::ovx::dft::gpu1d::frame<korami::ovx::dft::gpu1d::three_facts_module<double>>;
using frame_s = korami::ovx::dft::gpu1d::frame<korami::ovx::dft::gpu1d::three_facts_module<float>>;
}  // namespace

const bkd_ops bkd_c2c_1d_3_facts_d_ops = {&frame_d::commit, &frame_d::free, &frame_d::add_workspace};
const bkd_ops bkd_c2c_1d_3_facts_s_ops = {&frame_s::commit, &frame_s::free, &frame_s::add_workspace};

template <typename T>
std::int64_t dft_c2c_1d_3_facts_gpu_bkd<T>::get_workspace_bytes(const dft_workspace_problem& problem) const {
    return korami::ovx::dft::gpu1d::estimate_3_facts<T>(problem);
}
template class dft_c2c_1d_3_facts_gpu_bkd<float>;
template class dft_c2c_1d_3_facts_gpu_bkd<double>;

namespace {
const dft_c2c_1d_3_facts_gpu_bkd<float> estimator_s;
const dft_c2c_1d_3_facts_gpu_bkd<double> estimator_d;
const dft_bkd_estimator_registration<float> registration_s(&estimator_s);
const dft_bkd_estimator_registration<double> registration_d(&estimator_d);
}  // namespace
