// 8192-point 1D complex GPU backend (both precisions from this one source
// through the 1D frame). Per built direction three tables (class 1: pass-1
// inner twiddles, class 2: pass-2 inner twiddles, class 3: inter-pass
// twiddles with the scale folded in) and one scratch area shared by both
// directions; pass 1 writes the scratch, pass 2 reads it.
#include "dft/gpu/frame/records.hpp"

#include <algorithm>
#include <string>
#include <type_traits>

#include "dft/gpu/frame/frame.hpp"
#include "dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_8k_plan.hpp"
#include "dft/gpu/kernel_texts.hpp"
#include "gpu/ovx_gpu.hpp"

namespace korami {
namespace ovx {
namespace dft {
namespace gpu1d {
using namespace gpufw;

class twidlTableGen8kUsmClass1Double;
class twidlTableGen8kBufClass1Double;
class twidlTableGen8kUsmClass2Double;
class twidlTableGen8kBufClass2Double;
class twidlTableGen8kUsmClass3Double;
class twidlTableGen8kBufClass3Double;
class twidlTableGen8kUsmClass1Float;
class twidlTableGen8kBufClass1Float;
class twidlTableGen8kUsmClass2Float;
class twidlTableGen8kBufClass2Float;
class twidlTableGen8kUsmClass3Float;
class twidlTableGen8kBufClass3Float;

namespace {

enum { pass1 = 0, pass2 = 1 };
inline int kslot(int pass, int dir) { return pass * 2 + dir; }

template <class Real>
struct eight_k_block : frame_block<Real, 4> {
    int table[3][2];  // area slots of the class 1..3 tables (at 0..2) of each direction
    int scratch;      // area slot of the scratch
    char transpose_output_name[64];
    char n0_fact0_func_name[64];
    char n0_fact1_func_name[64];
    char same_orientation_output_name[64];
    char n1_fact0_func_name[64];
    char n1_fact1_func_name[64];
    eight_k::plan pl;
};

void describe(const DFTI_DESCRIPTOR* node, const device_facts& dev, std::int32_t arch, bool single, eight_k::plan_input& in) {
    in = frame_plan_input<eight_k::plan_input>(node, arch, single);
    in.has_subgroup8 = has_sub_group8(dev, true);
}

int applicability(const DFTI_DESCRIPTOR* node) {
    return common_1d_c2c_test(node, [](std::int64_t n) { return n == eight_k::length; });
}

// One table entry: (c, c, s, -s) at pos, pos+1, pos+8, pos+9.
template <class Real>
inline void put(Real* t, std::int64_t pos, Real theta, Real scale) {
    const Real c = sycl::cospi(theta) * scale;
    const Real s = sycl::sinpi(theta) * scale;
    t[pos] = c;
    t[pos + 1] = c;
    t[pos + 8] = s;
    t[pos + 9] = -s;
}

template <class Real>
struct eight_k_module {
    using real = Real;
    using block = eight_k_block<Real>;
    static constexpr bool single = std::is_same<Real, float>::value;

    static const char* program_name() {
        return single ? gpu_programs::c2c_1d_8k_s : gpu_programs::c2c_1d_8k_d;
    }
    static const char* text() {
        return single ? gpu_kernels::ovx_bkd_c2c_1d_8k_text_s : gpu_kernels::ovx_bkd_c2c_1d_8k_text_d;
    }

    static int test(const DFTI_DESCRIPTOR* node) { return applicability(node); }

    static int plan(DFTI_DESCRIPTOR* node, block* b) {
        eight_k::plan_input in;
        describe(node, b->dev, b->arch, single, in);
        const int st = eight_k::make_plan(in, b->pl);
        if (st != 0) return st;
        // Per direction the class 1, 2 and 3 tables, then the scratch.
        const std::uint64_t bytes[3] = {b->pl.class1_table_bytes, b->pl.class2_table_bytes, b->pl.class3_table_bytes};
        for (int dir = 0; dir < 2; ++dir)
            for (int cls = 0; cls < 3; ++cls)
                b->table[cls][dir] = b->areas.table("class table", bytes[cls], dir,
                                                    [b, cls, dir](const area_target& t, std::vector<sycl::event>& done) {
                                                        return write_table(b, cls, dir, t, done);
                                                    });
        b->scratch = b->areas.scratch("scratch", frame_align(b, b->pl.scratch_bytes));
        return 0;
    }

    static int build_kernels(DFTI_DESCRIPTOR*, block* b) {
        char letter[2];
        bounded_snprintf(letter, sizeof letter, "%s", single ? "s" : "d");
        const long long n = b->pl.n;
        if (bounded_snprintf(b->transpose_output_name, 64, "fft_%lld_fact_%lld_%s", n,
                             static_cast<long long>(b->pl.n0), letter) < 0 ||
            bounded_snprintf(b->n0_fact0_func_name, 64, "fft_%lld_%s", static_cast<long long>(b->pl.n0_fact0), "s") < 0 ||
            bounded_snprintf(b->n0_fact1_func_name, 64, "fft_%lld_%s", static_cast<long long>(b->pl.n0_fact1), "s") < 0 ||
            bounded_snprintf(b->same_orientation_output_name, 64, "fft_%lld_fact_%lld_%s", n,
                             static_cast<long long>(b->pl.n1), letter) < 0 ||
            bounded_snprintf(b->n1_fact0_func_name, 64, "fft_%lld_%s", static_cast<long long>(b->pl.n1_fact0), "s") < 0 ||
            bounded_snprintf(b->n1_fact1_func_name, 64, "fft_%lld_%s", static_cast<long long>(b->pl.n1_fact1), "s") < 0)
            return DFTI_STATUS_INTERNAL;
        for (int dir = 0; dir < 2; ++dir) {
            if (!direction_built(b->directions, dir)) continue;
            const std::string options = eight_k::build_options(b->pl, dir);
            if (options.empty()) return DFTI_STATUS_INTERNAL;
            b->kernels[kslot(pass1, dir)] =
                frame_get_kernel(b->queue, program_name(), text(), b->transpose_output_name, options.c_str());
            b->kernels[kslot(pass2, dir)] =
                frame_get_kernel(b->queue, program_name(), text(), b->same_orientation_output_name, options.c_str());
            if (!direction_ready(b, dir)) return DFTI_STATUS_INTERNAL;
        }
        return 0;
    }

    static bool direction_ready(const block* b, int dir) {
        return b->kernels[kslot(pass1, dir)] && b->kernels[kslot(pass2, dir)];
    }

    // The class `cls` table of direction `dir` (class 3 carries the scale).
    static int write_table(block* b, int cls, int dir, const area_target& where, std::vector<sycl::event>& done) {
        const eight_k::plan& p = b->pl;
        const std::int64_t half = p.subgroup_size / 2;
        if (p.n0_fact1 % half != 0 || p.n1_fact1 % half != 0) return DFTI_STATUS_NOT_APPLICABLE;
        const std::int64_t sg = p.subgroup_size, sg2 = 2 * p.subgroup_size;
        const std::int64_t block1 = p.n0_fact0 * sg2, block2 = p.n1_fact0 * sg2, block3 = 4 * p.n0;
        const std::int64_t n0 = p.n0, n1 = p.n1, n = p.n;
        const int kind = where.kind;
        const Real scale = b->scale[dir];
        if (cls == 0) {
            using U = std::conditional_t<single, twidlTableGen8kUsmClass1Float, twidlTableGen8kUsmClass1Double>;
            using B = std::conditional_t<single, twidlTableGen8kBufClass1Float, twidlTableGen8kBufClass1Double>;
            done.push_back(frame_table_group<Real, U, B>(b->queue, kind, where.usm, where.buf,
                                  sycl::range<2>(static_cast<std::size_t>(p.n0_fact0), static_cast<std::size_t>(2 * half)),
                                  [=](Real* t, std::size_t i, std::size_t j) {
                                      const std::int64_t ii = static_cast<std::int64_t>(i), jj = static_cast<std::int64_t>(j);
                                      put(t, block1 * (jj / half) + sg2 * ii + 2 * (jj % half),
                                          static_cast<Real>(ii * jj) * Real(-2) / static_cast<Real>(n0), Real(1));
                                  }));
        } else if (cls == 1) {
            using U = std::conditional_t<single, twidlTableGen8kUsmClass2Float, twidlTableGen8kUsmClass2Double>;
            using B = std::conditional_t<single, twidlTableGen8kBufClass2Float, twidlTableGen8kBufClass2Double>;
            done.push_back(frame_table_group<Real, U, B>(b->queue, kind, where.usm, where.buf,
                                  sycl::range<2>(static_cast<std::size_t>(p.n1_fact0), static_cast<std::size_t>(2 * half)),
                                  [=](Real* t, std::size_t i, std::size_t j) {
                                      const std::int64_t ii = static_cast<std::int64_t>(i), jj = static_cast<std::int64_t>(j);
                                      put(t, block2 * (jj / half) + sg2 * ii + 2 * (jj % half),
                                          static_cast<Real>(ii * jj) * Real(-2) / static_cast<Real>(n1), Real(1));
                                  }));
        } else {
            using U = std::conditional_t<single, twidlTableGen8kUsmClass3Float, twidlTableGen8kUsmClass3Double>;
            using B = std::conditional_t<single, twidlTableGen8kBufClass3Float, twidlTableGen8kBufClass3Double>;
            done.push_back(frame_table_group<Real, U, B>(
                b->queue, kind, where.usm, where.buf,
                sycl::range<2>(static_cast<std::size_t>(n1), static_cast<std::size_t>(n0)),
                [=](Real* t, std::size_t c, std::size_t tt) {
                    const std::int64_t col = static_cast<std::int64_t>(c), ti = static_cast<std::int64_t>(tt);
                    const std::int64_t h = ti / (n0 / 2), r = (ti % (n0 / 2)) / half, pp = ti % half;
                    const std::int64_t k0 = half * h + pp + sg * (r / sg) + sg2 * (r % sg);
                    put(t, block3 * col + sg2 * (ti / half) + 2 * (ti % half),
                        static_cast<Real>(col * k0) * Real(-2) / static_cast<Real>(n), scale);
                }));
        }
        return 0;
    }

    static int launch(DFTI_DESCRIPTOR* node, block* b, const launch_args& a) {
        const eight_k::plan& p = b->pl;
        const int dir = a.direction;
        const std::int64_t batch = p.batch.transforms;
        const bool usm_ws = a.usm_ws;
        const std::uint64_t ws_kind = a.ws_kind;
        void* t1 = b->areas.arg(b->table[0][dir], usm_ws);
        void* t2 = b->areas.arg(b->table[1][dir], usm_ws);
        void* t3 = b->areas.arg(b->table[2][dir], usm_ws);
        void* scratch = b->areas.arg(b->scratch, usm_ws);
        if (!t1 || !t2 || !t3 || !scratch) return DFTI_STATUS_NO_WORKSPACE;
        sycl::kernel* k1 = b->kernels[kslot(pass1, dir)];
        sycl::kernel* k2 = b->kernels[kslot(pass2, dir)];
        if (!k1 || !k2) return DFTI_STATUS_INTERNAL;
        if (batch <= 0) {
            if (a.result) *a.result = sycl::event();
            return 0;
        }
        const std::size_t bsz = static_cast<std::size_t>(batch), wg = static_cast<std::size_t>(p.work_group_size);
        sycl::event e1 = b->queue->submit([&](sycl::handler& h) {
            frame_order_first(h, a, {b->areas.written(b->table[0][dir]), b->areas.written(b->table[1][dir]),
                                     b->areas.written(b->table[2][dir])});
            if (a.buffers)
                dft_set_arg(h, 0, a.in, DFTI_CONTAINER_BUFFER);
            else
                h.set_arg(0, a.in);
            dft_set_arg<1, sycl::access_mode::read_write>(h, scratch, ws_kind);
            dft_set_arg(h, 2, t1, ws_kind);
            dft_set_arg(h, 3, t3, ws_kind);
            sycl::local_accessor<char, 1> slm(sycl::range<1>(static_cast<std::size_t>(p.pass1_local_bytes)), h);
            h.set_arg(4, slm);
            h.parallel_for(sycl::nd_range<2>(sycl::range<2>(bsz, static_cast<std::size_t>(p.pass1_global_size)),
                                             sycl::range<2>(1, wg)),
                           *k1);
        });
        sycl::event e2 = b->queue->submit([&](sycl::handler& h) {
            if (usm_ws) h.depends_on(e1);
            dft_set_arg(h, 0, scratch, ws_kind);
            if (a.buffers)
                dft_set_arg<1, sycl::access_mode::read_write>(h, a.out, DFTI_CONTAINER_BUFFER);
            else
                h.set_arg(1, a.out);
            dft_set_arg(h, 2, t2, ws_kind);
            sycl::local_accessor<char, 1> slm(sycl::range<1>(static_cast<std::size_t>(p.pass2_local_bytes)), h);
            h.set_arg(3, slm);
            h.parallel_for(sycl::nd_range<2>(sycl::range<2>(bsz, static_cast<std::size_t>(p.pass2_global_size)),
                                             sycl::range<2>(1, wg)),
                           *k2);
        });
        if (a.result) *a.result = e2;
        return 0;
    }
};

}  // namespace


}  // namespace gpu1d
}  // namespace dft
}  // namespace ovx
}  // namespace korami

OVX_GPU_BACKEND_RECORDS(korami::ovx::dft::gpu1d::eight_k_module, c2c_1d_8k)
