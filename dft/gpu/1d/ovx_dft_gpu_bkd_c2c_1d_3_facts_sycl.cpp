// Three-factor 1D complex GPU backend (both precisions from this one source
// through the 1D frame). Per built direction a Class1 table (N entries, the
// scale folded in) and a Class2 table (F1 x F2 entries); one scratch area of
// at most 42 MiB (16 GiB on Quen6) holds a chunk of transforms, each row
// N + 4 complex values long.
#include "dft/gpu/frame/records.hpp"

#include <algorithm>
#include <string>
#include <type_traits>

#include "dft/gpu/frame/frame.hpp"
#include "dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_3_facts_plan.hpp"
#include "dft/gpu/kernel_texts.hpp"
#include "gpu/ovx_gpu.hpp"

namespace korami {
namespace ovx {
namespace dft {
namespace gpu1d {
using namespace gpufw;

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
    int table[2][2];  // area slots of the Class1 and Class2 tables of each direction
    int scratch;      // area slot of the scratch
    char kernel_names[3][64];
    char butterfly_names[3][64];
    three_facts::plan pl;
};

void describe(const DFTI_DESCRIPTOR* node, const device_facts& dev, std::int32_t arch, bool single,
              three_facts::plan_input& in) {
    in = frame_plan_input<three_facts::plan_input>(node, arch, single);
    in.has_subgroup8 = has_sub_group8(dev, true);
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

    static const char* program_name() {
        return single ? gpu_programs::c2c_1d_3_facts_s : gpu_programs::c2c_1d_3_facts_d;
    }
    static const char* text() {
        return single ? gpu_kernels::ovx_bkd_c2c_1d_3_facts_text_s : gpu_kernels::ovx_bkd_c2c_1d_3_facts_text_d;
    }

    static int test(const DFTI_DESCRIPTOR* node) { return applicability<single>(node); }

    static int plan(DFTI_DESCRIPTOR* node, block* b) {
        three_facts::plan_input in;
        describe(node, b->dev, b->arch, single, in);
        const int st = three_facts::make_plan(in, b->pl);
        if (st != 0) return st;
        // Per direction the Class1 and Class2 tables, then the scratch.
        const std::uint64_t bytes[2] = {b->pl.table1_bytes, b->pl.table2_bytes};
        for (int dir = 0; dir < 2; ++dir)
            for (int cls = 0; cls < 2; ++cls)
                b->table[cls][dir] = b->areas.table("class table", bytes[cls], dir,
                                                    [b, cls, dir](const area_target& t, std::vector<sycl::event>& done) {
                                                        done.push_back(write_table(b, cls, dir, t));
                                                        return 0;
                                                    });
        b->scratch = b->areas.scratch("scratch", frame_align(b, b->pl.scratch_bytes));
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

    // Class1 (cls 0): work-item (m, k0) writes entry k0 + F0*m = scale *
    // e^(-2 pi i k0 m / N). Class2 (cls 1): work-item (k1, c2) writes entry
    // c2 + F2*k1 = e^(-2 pi i c2 k1 / M).
    static sycl::event write_table(block* b, int cls, int dir, const area_target& where) {
        const std::int64_t f0 = b->pl.factors[0], f1 = b->pl.factors[1], f2 = b->pl.factors[2];
        const std::int64_t n = b->pl.n, m = f1 * f2;
        const Real scale = b->scale[dir];
        if (cls == 0) {
            using U1 = std::conditional_t<single, twidlTableGen3FactsClass1UsmFloat, twidlTableGen3FactsClass1UsmDouble>;
            using B1 = std::conditional_t<single, twidlTableGen3FactsClass1BufFloat, twidlTableGen3FactsClass1BufDouble>;
            return frame_table_group<Real, U1, B1>(
                b->queue, where.kind, where.usm, where.buf,
                sycl::range<2>(static_cast<std::size_t>(m), static_cast<std::size_t>(f0)),
                [=](Real* t, std::size_t mm, std::size_t kk) {
                    const std::int64_t mi = static_cast<std::int64_t>(mm), k0 = static_cast<std::int64_t>(kk);
                    const Real x = static_cast<Real>(k0 * mi) * Real(-2) / static_cast<Real>(n);
                    t[2 * (k0 + f0 * mi)] = sycl::cospi(x) * scale;
                    t[2 * (k0 + f0 * mi) + 1] = sycl::sinpi(x) * scale;
                });
        }
        using U2 = std::conditional_t<single, twidlTableGen3FactsClass2UsmFloat, twidlTableGen3FactsClass2UsmDouble>;
        using B2 = std::conditional_t<single, twidlTableGen3FactsClass2BufFloat, twidlTableGen3FactsClass2BufDouble>;
        return frame_table_group<Real, U2, B2>(
            b->queue, where.kind, where.usm, where.buf,
            sycl::range<2>(static_cast<std::size_t>(f1), static_cast<std::size_t>(f2)),
            [=](Real* t, std::size_t kk, std::size_t cc) {
                const std::int64_t k1 = static_cast<std::int64_t>(kk), c2 = static_cast<std::int64_t>(cc);
                const Real x = static_cast<Real>(c2 * k1) * Real(-2) / static_cast<Real>(m);
                t[2 * (c2 + f2 * k1)] = sycl::cospi(x);
                t[2 * (c2 + f2 * k1) + 1] = sycl::sinpi(x);
            });
    }

    static int launch(DFTI_DESCRIPTOR* node, block* b, const launch_args& a) {
        const three_facts::plan& p = b->pl;
        const int dir = a.direction;
        const bool usm_ws = a.usm_ws;
        const std::uint64_t ws_kind = a.ws_kind;
        void* t1 = b->areas.arg(b->table[0][dir], usm_ws);
        void* t2 = b->areas.arg(b->table[1][dir], usm_ws);
        void* scratch = b->areas.arg(b->scratch, usm_ws);
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
                    if (first && pass == 0) frame_order_first(h, a, {b->areas.written(b->table[0][dir]), b->areas.written(b->table[1][dir])});
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


}  // namespace gpu1d
}  // namespace dft
}  // namespace ovx
}  // namespace korami

OVX_GPU_BACKEND_RECORDS(korami::ovx::dft::gpu1d::three_facts_module, c2c_1d_3_facts)
