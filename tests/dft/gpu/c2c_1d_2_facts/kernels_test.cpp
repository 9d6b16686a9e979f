// Probe runs of the two-factor backend's stored kernel text on the OpenCL
// device, with its table laid out on the host exactly as the module's table
// kernel lays it out, against FFTW. Each case builds one program; together
// they cover padded columns and rows, idle sub-groups, several transforms per
// work-group, the generic direct-DFT routines, both directions, both
// precisions and scales other than 1.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_2_facts_plan.hpp"
#include "dft/gpu/gpu_test_reference.hpp"
#include "dft/gpu/kernel_texts.hpp"
#include "dft/gpu/kernels/kernel_probe.hpp"
#include "ovx_test_env.hpp"

namespace gk = korami::ovx::dft::gpu_kernels;
namespace tf = korami::ovx::dft::two_facts;
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
std::vector<T> two_facts_table(const tf::plan& p, double scale) {
    std::vector<T> t(static_cast<size_t>(p.fact0 * (p.fact1 + p.padfact1) * 4), T(0));
    for (int64_t j = 0; j < p.fact1; ++j)
        for (int64_t k = 0; k < p.fact0; ++k) {
            const int64_t e = (j / 4) * 16 * p.fact0 + k * 16 + 2 * (j % 4);
            const long double a = -2 * pi_l * j * k / p.n;
            t[e] = t[e + 1] = static_cast<T>(std::cos(a) * scale);
            t[e + 8] = static_cast<T>(std::sin(a) * scale);
            t[e + 9] = -t[e + 8];
        }
    return t;
}

struct two_case {
    int64_t n;
    bool single;
    int dir;
    int64_t batch;
    int arch;
    double scale;
};

class FactorsKernelsTwoFacts : public ::testing::TestWithParam<two_case> {};

template <class T>
void run_two_facts(const two_case& c) {
    tf::plan_input in;
    in.n = c.n;
    in.single = c.single;
    in.arch = c.arch;
    in.batch = {c.batch, c.n + 2, c.n + 6, 0, 0};  // padded rows: distances above N
    tf::plan p;
    ASSERT_EQ(tf::make_plan(in, p), 0);
    const std::string opts = tf::build_options(p, c.dir);
    ASSERT_FALSE(opts.empty());
    const char* text = c.single ? gk::ovx_bkd_c2c_1d_2_facts_text_s : gk::ovx_bkd_c2c_1d_2_facts_text_d;
    const int64_t idist = tf::input_distance_of(p.batch, c.dir), odist = tf::output_distance_of(p.batch, c.dir);
    auto x = rounded<T>(gpu_test::random_cplx(static_cast<size_t>(idist * c.batch), 7u + c.n));
    dev_buf din(x.size() * 2 * sizeof(T)), dout(static_cast<size_t>(odist * c.batch) * 2 * sizeof(T));
    din.write(to_reals<T>(x));
    const auto tab = two_facts_table<T>(p, c.scale);
    dev_buf dtab(tab.size() * sizeof(T));
    dtab.write(tab);
    launcher l(cl_env::get().kernel(text, opts, tf::kernel_name(p)));
    l.mem(0, din).mem(1, dout).mem(2, dtab).local(3, static_cast<size_t>(p.local_bytes));
    const size_t global = static_cast<size_t>(p.groups * p.work_group_size);
    const size_t local = static_cast<size_t>(p.work_group_size);
    l.run(1, &global, &local);
    const auto out = dout.read_all<T>();
    EXPECT_LT(gpu_test::c2c_batch_error(out.data(), odist, x, idist, c.n, c.batch, c.dir, c.scale),
              gpu_test::tolerance(c.single, c.n))
        << "N=" << c.n;
}

TEST_P(FactorsKernelsTwoFacts, MatchesFftw) {
    const two_case c = GetParam();
    KERNEL_PROBE_REQUIRE_DEVICE(c.single);
    if (c.single)
        run_two_facts<float>(c);
    else
        run_two_facts<double>(c);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FactorsKernelsTwoFacts,
    ::testing::Values(two_case{48, false, 0, 5, 3, 1.0},     // 8 x 6: padded columns, 4 per group, last 1
                      two_case{96, true, 1, 3, 5, 0.25},     // 12 x 8: idle sub-group in step 2
                      two_case{4, false, 1, 2, 5, 1.0},      // 2 x 2: mostly padding
                      two_case{128, true, 0, 2, 5, 1.0},     // 8 x 16
                      two_case{74, false, 0, 2, 5, 1.0},     // 2 x 37: generic odd routine
                      two_case{680, false, 1, 2, 5, 0.5},    // 34 x 20: generic even routine, 2 loops
                      two_case{4096, true, 0, 1, 5, 1.0},    // 64 x 64
                      two_case{2048, true, 1, 2, 5, 1.0},    // 64 x 32: two row passes per sub-group
                      two_case{1000, false, 0, 3, 5, 1.0},   // 40 x 25: lanes past the padded columns
                      two_case{1024, false, 1, 2, 5, 0.5}),  // 32 x 32: every lane has a column and a row
    [](const auto& i) { return ovx_test::name(i.param.n, (i.param.single ? "s" : "d")); });

}  // namespace
