// Two-factor 1D complex GPU backend (both precisions from this one source
// through the 1D frame): N = FACT0 x FACT1 in one kernel per direction, the
// direction's scale folded into its twiddle table.
#include "dft/gpu/frame/records.hpp"

#include <algorithm>
#include <string>
#include <type_traits>

#include "dft/gpu/frame/frame.hpp"
#include "dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_2_facts_plan.hpp"
#include "dft/gpu/kernel_texts.hpp"
#include "gpu/ovx_gpu.hpp"

namespace korami {
namespace ovx {
namespace dft {
namespace gpu1d {
using namespace gpufw;

class twidlTableGen2FactsUsmDouble;
class twidlTableGen2FactsBufDouble;
class twidlTableGen2FactsUsmFloat;
class twidlTableGen2FactsBufFloat;

namespace {

template <class Real>
struct two_facts_block : frame_block<Real, 2> {
    int table[2];  // area slot of each direction's table
    char kernel_name[64];
    char fact0_name[64];
    char fact1_name[64];
    two_facts::plan pl;
};

// Node and device facts -> planning input. False when the device facts cannot be had.
bool describe(const DFTI_DESCRIPTOR* node, const device_facts& dev, std::int32_t arch, bool single,
              two_facts::plan_input& in) {
    in = frame_plan_input<two_facts::plan_input>(node, arch, single);
    in.has_subgroup8 = has_sub_group8(dev, false);
    return true;
}

int applicability(const DFTI_DESCRIPTOR* node) {
    return common_1d_c2c_test(node, [](std::int64_t n) { return two_facts::length_accepted(n); });
}

template <class Real>
struct two_facts_module {
    using real = Real;
    using block = two_facts_block<Real>;
    static constexpr bool single = std::is_same<Real, float>::value;

    static const char* program_name() {
        return single ? gpu_programs::c2c_1d_2_facts_s : gpu_programs::c2c_1d_2_facts_d;
    }
    static const char* text() {
        return single ? gpu_kernels::ovx_bkd_c2c_1d_2_facts_text_s : gpu_kernels::ovx_bkd_c2c_1d_2_facts_text_d;
    }

    static int test(const DFTI_DESCRIPTOR* node) { return applicability(node); }

    static int plan(DFTI_DESCRIPTOR* node, block* b) {
        two_facts::plan_input in;
        describe(node, b->dev, b->arch, single, in);
        if (frame_device_assumed(b)) in.has_subgroup8 = true;  // not known yet: assume the module's device
        const int st = two_facts::make_plan(in, b->pl);
        if (st != 0) return st;
        for (int dir = 0; dir < 2; ++dir)
            b->table[dir] = b->areas.table("twiddle", static_cast<std::uint64_t>(b->pl.table_bytes), dir,
                                           [b, dir](const area_target& t, std::vector<sycl::event>& done) {
                                               done.push_back(write_table(b, dir, t.kind, t.usm, t.buf));
                                               return 0;
                                           });
        return 0;
    }

    static int build_kernels(DFTI_DESCRIPTOR*, block* b) {
        if (bounded_snprintf(b->kernel_name, 64, "%s", two_facts::kernel_name(b->pl).c_str()) < 0 ||
            bounded_snprintf(b->fact0_name, 64, "%s", two_facts::fact0_func_name(b->pl).c_str()) < 0 ||
            bounded_snprintf(b->fact1_name, 64, "%s", two_facts::fact1_func_name(b->pl).c_str()) < 0)
            return DFTI_STATUS_INTERNAL;
        for (int dir = 0; dir < 2; ++dir) {
            if (!direction_built(b->directions, dir)) continue;
            const std::string options = two_facts::build_options(b->pl, dir);
            if (options.empty()) return DFTI_STATUS_INTERNAL;
            b->kernels[dir] = frame_get_kernel(b->queue, program_name(), text(), b->kernel_name, options.c_str());
            if (!b->kernels[dir]) return DFTI_STATUS_INTERNAL;
        }
        return 0;
    }

    static bool direction_ready(const block* b, int dir) { return b->kernels[dir] != nullptr; }

    // The direction's table: for column j < FACT1 and row k < FACT0 four values
    // (c, c, s, -s) times the scale at g*16*FACT0 + 16k + 2l (g = j/4, l = j%4).
    template <class Name, class Ptr>
    static void table_kernel(sycl::handler& h, const two_facts::plan& p, Real scale, Ptr get) {
        const std::int64_t f0 = p.fact0, f1 = p.fact1, n = p.n;
        h.parallel_for<Name>(sycl::range<2>(static_cast<std::size_t>(f0), static_cast<std::size_t>(f1)),
                             [=](sycl::item<2> it) {
                                 Real* t = get();
                                 const std::int64_t k = static_cast<std::int64_t>(it.get_id(0));
                                 const std::int64_t j = static_cast<std::int64_t>(it.get_id(1));
                                 const std::int64_t e = (j / 4) * 16 * f0 + k * 16 + 2 * (j % 4);
                                 const Real x = static_cast<Real>(j * k) * Real(-2) / static_cast<Real>(n);
                                 const Real c = sycl::cospi(x) * scale;
                                 const Real s = sycl::sinpi(x) * scale;
                                 t[e] = c;
                                 t[e + 1] = c;
                                 t[e + 8] = s;
                                 t[e + 9] = -s;
                             });
    }

    static sycl::event write_table(block* b, int dir, int kind, void* usm, sycl::buffer<char, 1>* buf) {
        const two_facts::plan p = b->pl;
        const Real scale = b->scale[dir];
        using usm_name = std::conditional_t<single, twidlTableGen2FactsUsmFloat, twidlTableGen2FactsUsmDouble>;
        using buf_name = std::conditional_t<single, twidlTableGen2FactsBufFloat, twidlTableGen2FactsBufDouble>;
        if (kind == DFTI_CONTAINER_USM) {
            Real* t = static_cast<Real*>(usm);
            return b->queue->submit(
                [&](sycl::handler& h) { table_kernel<usm_name>(h, p, scale, [t]() { return t; }); });
        }
        return b->queue->submit([&](sycl::handler& h) {
            sycl::accessor<char, 1, sycl::access_mode::read_write> acc(*buf, h);
            table_kernel<buf_name>(h, p, scale, [acc]() { return frame_acc_ptr<Real>(acc); });
        });
    }

    static int launch(DFTI_DESCRIPTOR*, block* b, const launch_args& a) {
        const two_facts::plan& p = b->pl;
        sycl::kernel* k = b->kernels[a.direction];
        if (!k) return DFTI_STATUS_INTERNAL;
        void* table = b->areas.arg(b->table[a.direction], a.usm_ws);
        if (!table) return DFTI_STATUS_NO_WORKSPACE;
        if (p.groups <= 0) {  // an empty batch: nothing to run
            if (a.result) *a.result = sycl::event();
            return 0;
        }
        const sycl::event* table_event = b->areas.written(b->table[a.direction]);
        sycl::event e = b->queue->submit([&](sycl::handler& h) {
            frame_order_first(h, a, {table_event});
            if (a.buffers) {
                dft_set_arg(h, 0, a.in, DFTI_CONTAINER_BUFFER);
                dft_set_arg<1, sycl::access_mode::read_write>(h, a.out, DFTI_CONTAINER_BUFFER);
            } else {
                h.set_arg(0, a.in);
                h.set_arg(1, a.out);
            }
            dft_set_arg(h, 2, table, static_cast<std::uint64_t>(a.table_kind));
            sycl::local_accessor<char, 1> slm(sycl::range<1>(static_cast<std::size_t>(p.local_bytes)), h);
            h.set_arg(3, slm);
            const std::size_t wg = static_cast<std::size_t>(p.work_group_size);
            h.parallel_for(sycl::nd_range<1>(sycl::range<1>(static_cast<std::size_t>(p.groups) * wg), sycl::range<1>(wg)),
                           *k);
        });
        if (a.result) *a.result = e;
        return 0;
    }
};

}  // namespace


}  // namespace gpu1d
}  // namespace dft
}  // namespace ovx
}  // namespace korami

OVX_GPU_BACKEND_RECORDS(korami::ovx::dft::gpu1d::two_facts_module, c2c_1d_2_facts)
