// Probe runs of the three-factor backend's stored kernel text on the OpenCL
// device, with its tables laid out on the host exactly as the module's table
// kernels lay them out, against FFTW: ragged column ranges, chunk offsets,
// both directions, both precisions and scales other than 1.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_3_facts_plan.hpp"
#include "dft/gpu/gpu_test_reference.hpp"
#include "dft/gpu/kernel_texts.hpp"
#include "dft/gpu/kernels/kernel_probe.hpp"
#include "ovx_test_env.hpp"

namespace gk = korami::ovx::dft::gpu_kernels;
namespace hf = korami::ovx::dft::three_facts;
using kernel_probe::cl_env;
using kernel_probe::dev_buf;
using kernel_probe::launcher;
using kernel_probe::from_reals;
using kernel_probe::pi_l;
using kernel_probe::rounded;
using kernel_probe::to_reals;
using gpu_test::cplx;

namespace {

template <class T>
std::vector<T> cis_table(int64_t count, int64_t (*angle_num)(int64_t, const int64_t*), const int64_t* ctx,
                         long double denom, double scale) {
    std::vector<T> t(static_cast<size_t>(2 * count));
    for (int64_t e = 0; e < count; ++e) {
        const long double a = pi_l * angle_num(e, ctx) / denom;
        t[2 * e] = static_cast<T>(std::cos(a) * scale);
        t[2 * e + 1] = static_cast<T>(std::sin(a) * scale);
    }
    return t;
}

struct three_case {
    int64_t n;
    bool single;
    int dir;
    int64_t batch;
    int64_t chunk;  // transforms per chunk (offset argument)
    double scale;
    bool per_lane = false;  // built under the per-lane emulation, as on a device with native sub-groups
};

class FactorsKernelsThreeFacts : public ::testing::TestWithParam<three_case> {};

// A kernel that leaves NaN in its output must fail the comparison: the error
// of a vector or batch with a NaN element is NaN, never below a tolerance.
TEST(FactorsKernelsReferenceError, NanOutputIsNeverWithinTolerance) {
    const std::vector<cplx> ref = {{1, 0}, {0, 1}, {-1, 0}};
    for (size_t bad = 0; bad < ref.size(); ++bad) {
        std::vector<cplx> got = ref;
        got[bad] = cplx(std::nan(""), 0);
        EXPECT_FALSE(gpu_test::rel_err(got, ref) < 1.0) << bad;
    }
    std::vector<double> out(12, 0.0);  // two transforms of 3 points, the second one NaN
    out[7] = std::nan("");
    const std::vector<cplx> x(6, cplx(0, 0));
    EXPECT_FALSE(gpu_test::c2c_batch_error(out.data(), 3, x, 3, 3, 2, 0, 1.0) < 1.0);
    EXPECT_EQ(gpu_test::c2c_batch_error(std::vector<double>(12, 0.0).data(), 3, x, 3, 3, 2, 0, 1.0), 0.0);
}

int64_t class1_num(int64_t e, const int64_t* f) {  // entry k0 + F0*m: -2*k0*m
    return -2 * (e % f[0]) * (e / f[0]);
}

int64_t class2_num(int64_t e, const int64_t* f) {  // entry c2 + F2*k1: -2*c2*k1
    return -2 * (e % f[2]) * (e / f[2]);
}

template <class T>
void run_three_facts(const three_case& c) {
    hf::plan_input in;
    in.n = c.n;
    in.single = c.single;
    in.arch = 5;
    in.batch = {c.batch, c.n + 4, c.n + 8, 0, 0};
    hf::plan p;
    ASSERT_EQ(hf::make_plan(in, p), 0);
    const char* text = c.single ? gk::ovx_bkd_c2c_1d_3_facts_text_s : gk::ovx_bkd_c2c_1d_3_facts_text_d;
    const int64_t idist = hf::input_distance_of(p.batch, c.dir), odist = hf::output_distance_of(p.batch, c.dir);
    const int64_t m = p.factors[1] * p.factors[2];
    auto x = rounded<T>(gpu_test::random_cplx(static_cast<size_t>(idist * c.batch), 13u));
    const auto tab1 = cis_table<T>(c.n, class1_num, p.factors, static_cast<long double>(c.n), c.scale);
    const auto tab2 = cis_table<T>(m, class2_num, p.factors, static_cast<long double>(m), 1.0);
    // The scratch holds exactly one chunk, so that a load past the end of a row would
    // meet the next row or the end of the area.
    dev_buf din(x.size() * 2 * sizeof(T)), dout(static_cast<size_t>(odist * c.batch) * 2 * sizeof(T));
    dev_buf dscr(static_cast<size_t>(c.chunk * p.row_pitch) * 2 * sizeof(T));
    dev_buf t1(tab1.size() * sizeof(T)), t2(tab2.size() * sizeof(T));
    din.write(to_reals<T>(x));
    t1.write(tab1);
    t2.write(tab2);
    std::string opts[3];
    for (int pass = 0; pass < 3; ++pass) opts[pass] = hf::build_options(p, c.dir, pass);
    const ovx_test::per_lane_builds emulation(c.per_lane);
    for (int64_t start = 0; start < c.batch; start += c.chunk) {
        const int64_t count = std::min(c.chunk, c.batch - start);
        const size_t lo[2] = {64, 1};
        {
            launcher l(cl_env::get().kernel(text, opts[0], hf::kernel_name(p, 0)));
            l.mem(0, din).mem(1, dscr).local(2, static_cast<size_t>(p.local_bytes[0])).i32(3, static_cast<int>(start));
            const size_t g[2] = {static_cast<size_t>(p.global_x[0]), static_cast<size_t>(count)};
            l.run(2, g, lo);
        }
        {
            launcher l(cl_env::get().kernel(text, opts[1], hf::kernel_name(p, 1)));
            l.mem(0, dscr).mem(1, dscr).mem(2, t1).local(3, static_cast<size_t>(p.local_bytes[1]));
            const size_t g[2] = {static_cast<size_t>(p.global_x[1]), static_cast<size_t>(count)};
            l.run(2, g, lo);
        }
        {
            launcher l(cl_env::get().kernel(text, opts[2], hf::kernel_name(p, 2)));
            l.mem(0, dscr).mem(1, dout).mem(2, t2).local(3, static_cast<size_t>(p.local_bytes[2]));
            l.i32(4, static_cast<int>(start));
            const size_t g[2] = {static_cast<size_t>(p.global_x[2]), static_cast<size_t>(count)};
            l.run(2, g, lo);
        }
    }
    const auto out = dout.read_all<T>();
    EXPECT_LT(gpu_test::c2c_batch_error(out.data(), odist, x, idist, c.n, c.batch, c.dir, c.scale),
              gpu_test::tolerance(c.single, c.n))
        << "N=" << c.n;
}

TEST_P(FactorsKernelsThreeFacts, MatchesFftw) {
    const three_case c = GetParam();
    KERNEL_PROBE_REQUIRE_DEVICE(c.single);
    if (c.single)
        run_three_facts<float>(c);
    else
        run_three_facts<double>(c);
}

INSTANTIATE_TEST_SUITE_P(Cases, FactorsKernelsThreeFacts,
                         ::testing::Values(three_case{12000, false, 0, 3, 2, 0.5},   // 40 x 20 x 15, ragged
                                           three_case{4096, true, 1, 3, 3, 1.0},     // 64 x 8 x 8
                                           three_case{128, false, 1, 2, 1, 2.0},     // 32 x 2 x 2
                                           // 32 x 16 x 8: every pass has whole groups of columns,
                                           // in lane pairs and per lane
                                           three_case{4096, false, 0, 5, 2, 1.0},
                                           three_case{4096, false, 1, 3, 3, 0.25, true}),
                         [](const auto& i) {
                             const char* prec = i.param.single ? "s" : "d";
                             return i.param.per_lane ? ovx_test::name(i.param.n, prec, "per_lane")
                                                     : ovx_test::name(i.param.n, prec);
                         });

}  // namespace
