// N-factor local-memory 1D complex GPU backend and its pre-twiddle row pass
// (both precisions of both from this one source through the 1D frame). One
// work-group computes one transform of N = FACT0 x FACT1 x FACT2 x FACT3 in
// local memory; per workspace binding: table 1 T(FACT0, FACT1), table 2
// T(FACT0 FACT1, FACT2), the main table of each built direction (scale
// folded in) and, for rows of at most 2048 points of the row pass, the
// pre-twiddle table T(M, N). The row pass is reached only through the large
// backend's one-entry sub-node list.
#include "dft/gpu/frame/records.hpp"

#include <algorithm>
#include <atomic>
#include <exception>
#include <string>
#include <type_traits>
#include <vector>

#include "dft/gpu/frame/frame.hpp"
#include "dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_n_facts_slm_plan.hpp"
#include "dft/gpu/kernel_texts.hpp"
#include "gpu/ovx_gpu.hpp"

namespace korami {
namespace ovx {
namespace dft {
namespace gpu1d {
using namespace gpufw;

template <class Real>
class usmSimpleTwiddleGenerationNFactSLM;
template <class Real>
class bufSimpleTwiddleGenerationNFactSLM;
template <class Real>
class usmMainTwiddleGenerationNFactSLM;
template <class Real>
class bufMainTwiddleGenerationNFactSLM;

namespace nf = n_facts_slm;

// The prebuilt single-precision binaries (4096 and 8192 points, forward and
// backward). This build carries none (empty descriptions), so
// get_binary_kernel refuses them and the kernels come from the source text.
const ovx_gpu_binary_kernel_t n_facts_slm_binary = {};

namespace {

std::atomic<std::int64_t> binary_requests{0}, binary_fallbacks{0};

// Area slots: 0 table 1, 1 table 2, 2 forward main, 3 backward main, 4 pre-twiddle.
constexpr int area_count = 5;

template <class Real>
struct nf_block : frame_block<Real, 2> {
    nf::plan pl;
    int area_slot[area_count];         // area list slots, in the order of the area numbers above
    sycl::kernel* prebuilt_kernel[2];  // owned by the kernel cache, never released here
    char kernel_name[64];
};

// The planner's device figures from the device facts; false for a device
// without sub-groups.
bool planner_device(const device_facts& f, nf::device_facts& dev) {
    if (f.min_sub_group == 0) return false;
    dev.min_sub_group = f.min_sub_group;
    dev.max_work_group = f.max_work_group;
    dev.local_mem = f.local_mem;
    return true;
}

template <bool Row>
int applicability(const DFTI_DESCRIPTOR* node, bool single) {
    const int st = common_1d_c2c_test(node, [](std::int64_t n) { return n >= 512 && n <= 65536; });
    if (st != 0) return st;
    if (single && !nf::single_count_accepted(node->working_dims.records[0].length,
                                             node->working_batch.records[0].length))
        return DFTI_STATUS_NOT_APPLICABLE;
    return 0;
}

template <bool Row>
nf::plan_input input_of(const DFTI_DESCRIPTOR* node, bool single) {
    const dfti_dim& bt = node->working_batch.records[0];
    nf::plan_input in;
    in.n = node->working_dims.records[0].length;
    in.single = single;
    in.row = Row;
    in.in_place = node->placement == DFTI_INPLACE;
    in.directions = static_cast<int>(node->directions);
    in.batch = {bt.length, bt.fwd_stride, bt.bwd_stride, bt.input_stride, bt.output_stride};
    if (Row) in.pre_twiddle_rows = node->user_batch.count > 0 ? node->user_batch.records[0].length : 0;
    return in;
}

template <class Real, bool Row>
struct nf_module {
    using real = Real;
    using block = nf_block<Real>;
    static constexpr bool single = std::is_same<Real, float>::value;

    static const char* text() {
        return single ? gpu_kernels::ovx_bkd_c2c_1d_n_facts_slm_text_s : gpu_kernels::ovx_bkd_c2c_1d_n_facts_slm_text_d;
    }
    static const char* program() {
        return single ? gpu_programs::c2c_1d_n_facts_slm_s : gpu_programs::c2c_1d_n_facts_slm_d;
    }

    static int test(const DFTI_DESCRIPTOR* node) { return applicability<Row>(node, single); }

    static int plan(DFTI_DESCRIPTOR* node, block* b) {
        nf::device_facts dev;
        // An estimate before the device is known plans for the planner's default device.
        if (!frame_device_assumed(b) && !planner_device(b->dev, dev)) return DFTI_STATUS_NOT_APPLICABLE;
        const int st = nf::make_plan(input_of<Row>(node, single), dev, b->pl);
        if (st != 0) return st;
        // Areas 0 to 4 in this order; the main tables per direction, the
        // pre-twiddle table only for rows that have one.
        const nf::plan& p = b->pl;
        const std::int64_t raw[area_count] = {p.area_bytes[1], p.area_bytes[2], p.main_table_bytes, p.main_table_bytes,
                                              p.pre_twiddle_bytes};
        const int dirs[area_count] = {-1, -1, 0, 1, -1};
        for (int i = 0; i < area_count; ++i)
            b->area_slot[i] = b->areas.table("table", static_cast<std::uint64_t>(raw[i]), dirs[i],
                                             [b, i](const area_target& t, std::vector<sycl::event>& done) {
                                                 done.push_back(write_table(b, i, t));
                                                 return 0;
                                             });
        return 0;
    }

    // Forward then backward: a prebuilt kernel when one fits and the driver
    // takes it, else the source build. A direction left without its kernel
    // refuses the commit.
    static int build_kernels(DFTI_DESCRIPTOR*, block* b) {
        const std::string name = nf::kernel_name(b->pl);
        if (name.empty() || bounded_snprintf(b->kernel_name, 64, "%s", name.c_str()) < 0) return DFTI_STATUS_INTERNAL;
        const frame_prebuilt_key key = single && !Row ? frame_prebuilt_key_of(b->dev) : frame_prebuilt_key{};
        const int backend = key.backend;
        const std::string& driver = key.driver;
        // Every built direction asks for its binary first; the directions
        // left without one are then built from the source text.
        for (int dir = 0; dir < 2; ++dir) {
            if (!direction_built(b->directions, dir)) continue;
            const std::string binary = nf::prebuilt_name(b->pl, dir, backend, driver.c_str());
            if (binary.empty()) continue;
            int st = 0;
            ++binary_requests;
            ovx_gpu_kernel_struct_t* rec = korami::ovx::gpu::get_binary_kernel(
                &st, b->queue, korami::ovx::gpu::domain_dft, &n_facts_slm_binary, binary.c_str());
            if (st == 0 && rec && rec->kernel)
                b->prebuilt_kernel[dir] = rec->kernel;
            else
                ++binary_fallbacks;
        }
        for (int dir = 0; dir < 2; ++dir) {
            if (!direction_built(b->directions, dir) || b->prebuilt_kernel[dir]) continue;
            const std::string options = nf::build_options(b->pl, dir);
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

    static sycl::kernel* kernel_of(const block* b, int dir) {
        return b->kernels[dir] ? b->kernels[dir] : b->prebuilt_kernel[dir];
    }

    static bool direction_ready(const block* b, int dir) { return kernel_of(b, dir) != nullptr; }

    // Simple table T(a, b): entry j b + k = e^(-2 pi i j k / (a b)).
    static sycl::event simple_table(block* b, const area_target& where, std::int64_t ta, std::int64_t tb) {
        const Real inv = Real(1) / static_cast<Real>(ta * tb);
        return frame_table_group<Real, usmSimpleTwiddleGenerationNFactSLM<Real>, bufSimpleTwiddleGenerationNFactSLM<Real>>(
            b->queue, where.kind, where.usm, where.buf,
            sycl::range<2>(static_cast<std::size_t>(ta), static_cast<std::size_t>(tb)),
            [=](Real* t, std::size_t jj, std::size_t kk) {
                const std::int64_t j = static_cast<std::int64_t>(jj), k = static_cast<std::int64_t>(kk);
                const Real x = Real(-2) * static_cast<Real>(j * k) * inv;
                t[2 * (j * tb + k)] = sycl::cospi(x);
                t[2 * (j * tb + k) + 1] = sycl::sinpi(x);
            });
    }

    // Main table: block (g, r) holds s cos(theta) in values 0..15 and
    // s sin(theta), -s sin(theta) alternating in values 16..31, theta =
    // -2 pi r c / N for column c = 8 g + L / 2 of lane L.
    static sycl::event main_table(block* b, const area_target& where, Real s) {
        const std::int64_t n = b->pl.n, mf = b->pl.max_fact;
        return frame_table_group<Real, usmMainTwiddleGenerationNFactSLM<Real>, bufMainTwiddleGenerationNFactSLM<Real>>(
            b->queue, where.kind, where.usm, where.buf,
            sycl::range<2>(static_cast<std::size_t>(b->pl.subgroups), static_cast<std::size_t>(mf)),
            [=](Real* t, std::size_t gg, std::size_t rr) {
                const std::int64_t g = static_cast<std::int64_t>(gg), r = static_cast<std::int64_t>(rr);
                Real* blk = t + 32 * (g * mf + r);
                for (int l = 0; l < 16; ++l) {
                    const std::int64_t c = 8 * g + l / 2;
                    const Real x = Real(-2) * static_cast<Real>((r * c) % n) / static_cast<Real>(n);
                    const Real cv = s * sycl::cospi(x), sv = s * sycl::sinpi(x);
                    blk[l] = cv;
                    blk[16 + l] = (l & 1) ? -sv : sv;
                }
            });
    }

    // Area i's table: table 1 T(FACT0, FACT1), table 2 T(FACT0 FACT1, FACT2),
    // the main table of a direction, the pre-twiddle table T(M, N).
    static sycl::event write_table(block* b, int i, const area_target& where) {
        const nf::plan& p = b->pl;
        switch (i) {
            case 0: return simple_table(b, where, p.fact[0], p.fact[1]);
            case 1: return simple_table(b, where, p.fact[0] * p.fact[1], p.fact[2]);
            case 4: return simple_table(b, where, p.pre_twiddle_rows, p.n);
            default: return main_table(b, where, b->scale[i - 2]);
        }
    }

    static int launch(DFTI_DESCRIPTOR*, block* b, const launch_args& a) {
        const nf::plan& p = b->pl;
        const int dir = a.direction;
        const int kind = a.table_kind;
        const bool usm = kind == DFTI_CONTAINER_USM;
        const int slots[4] = {2 + dir, 1, 0, 4};
        void* arg[4];
        for (int i = 0; i < 4; ++i) {
            const int s = b->area_slot[slots[i]];
            arg[i] = b->areas.arg(s, usm);
            if (b->areas.a[s].bytes != 0 && !arg[i]) return DFTI_STATUS_NO_WORKSPACE;
        }
        sycl::kernel* k = kernel_of(b, dir);
        const std::size_t wg = static_cast<std::size_t>(p.work_group_size);
        const std::size_t transforms = static_cast<std::size_t>(p.batch.transforms);
        sycl::event e = b->queue->submit([&](sycl::handler& h) {
            frame_order_first(h, a, {b->areas.written(b->area_slot[0]), b->areas.written(b->area_slot[1]),
                                     b->areas.written(b->area_slot[2 + dir]), b->areas.written(b->area_slot[4])});
            if (a.buffers) {
                dft_set_arg(h, 0, a.in, DFTI_CONTAINER_BUFFER);
                dft_set_arg<1, sycl::access_mode::read_write>(h, a.out, DFTI_CONTAINER_BUFFER);
            } else {
                h.set_arg(0, a.in);
                h.set_arg(1, a.out);
            }
            dft_set_arg(h, 2, arg[0], static_cast<std::uint64_t>(kind));
            dft_set_arg(h, 3, arg[1], static_cast<std::uint64_t>(kind));
            dft_set_arg(h, 4, arg[2], static_cast<std::uint64_t>(kind));
            sycl::local_accessor<char, 1> slm(sycl::range<1>(static_cast<std::size_t>(p.slm_bytes)), h);
            h.set_arg(5, slm);
            if (p.pre_twiddle_bytes != 0) dft_set_arg(h, 6, arg[3], static_cast<std::uint64_t>(kind));
            h.parallel_for(sycl::nd_range<2>(sycl::range<2>(transforms, wg), sycl::range<2>(1, wg)), *k);
        });
        if (a.result) *a.result = e;
        return 0;
    }
};

template <class Real>
using nf_plain = nf_module<Real, false>;
template <class Real>
using nf_row = nf_module<Real, true>;

}  // namespace


}  // namespace gpu1d
}  // namespace dft
}  // namespace ovx
}  // namespace korami

OVX_GPU_BACKEND_RECORDS(korami::ovx::dft::gpu1d::nf_plain, c2c_1d_n_facts_slm)

namespace {
using row_frame_d = korami::ovx::dft::gpufw::frame<korami::ovx::dft::gpu1d::nf_row<double>>;
using row_frame_s = korami::ovx::dft::gpufw::frame<korami::ovx::dft::gpu1d::nf_row<float>>;
}  // namespace
const bkd_ops bkd_c2c_1d_n_facts_slm_row_d_ops = {&row_frame_d::commit, &row_frame_d::free, &row_frame_d::add_workspace,
                                                   &row_frame_d::estimate};
const bkd_ops bkd_c2c_1d_n_facts_slm_row_s_ops = {&row_frame_s::commit, &row_frame_s::free, &row_frame_s::add_workspace,
                                                   &row_frame_s::estimate};

n_facts_slm_binary_counts get_n_facts_slm_binary_counts() {
    return {korami::ovx::dft::gpu1d::binary_requests.load(), korami::ovx::dft::gpu1d::binary_fallbacks.load()};
}
