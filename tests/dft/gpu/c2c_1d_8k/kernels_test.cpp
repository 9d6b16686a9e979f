// Probe runs of the 8192-point backend's stored kernel text on the OpenCL
// device, with its three tables laid out on the host exactly as the module's
// table kernels lay them out, against FFTW: both directions, both precisions,
// batches and scales other than 1.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_8k_plan.hpp"
#include "dft/gpu/gpu_test_reference.hpp"
#include "dft/gpu/kernel_texts.hpp"
#include "dft/gpu/kernels/kernel_probe.hpp"
#include "ovx_test_env.hpp"

namespace gk = korami::ovx::dft::gpu_kernels;
namespace ek = korami::ovx::dft::eight_k;
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
void put_entry(std::vector<T>& t, int64_t pos, long double theta_halfturns, double scale) {
    const long double a = theta_halfturns * pi_l;
    t[pos] = t[pos + 1] = static_cast<T>(std::cos(a) * scale);
    t[pos + 8] = static_cast<T>(std::sin(a) * scale);
    t[pos + 9] = -t[pos + 8];
}

template <class T>
void eight_k_tables(std::vector<T>& c1, std::vector<T>& c2, std::vector<T>& c3, double scale) {
    c1.assign(512, T(0));
    c2.assign(256, T(0));
    c3.assign(32768, T(0));
    for (int i = 0; i < 16; ++i)
        for (int j = 0; j < 8; ++j) put_entry(c1, ek::class1_position(i, j), -2.0L * i * j / 128, 1.0);
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 8; ++j) put_entry(c2, ek::class2_position(i, j), -2.0L * i * j / 64, 1.0);
    for (int n1 = 0; n1 < 64; ++n1)
        for (int t = 0; t < 128; ++t)
            put_entry(c3, ek::class3_position(n1, t), -2.0L * n1 * ek::class3_k0(t) / 8192, scale);
}

struct k8_case {
    bool single;
    int dir;
    int64_t batch;
    double scale;
};

class FactorsKernelsEightK : public ::testing::TestWithParam<k8_case> {};

template <class T>
void run_eight_k(const k8_case& c) {
    ek::plan_input in;
    in.n = 8192;
    in.single = c.single;
    in.arch = 5;
    in.batch = {c.batch, 8192, 8192, 0, 0};
    ek::plan p;
    ASSERT_EQ(ek::make_plan(in, p), 0);
    const std::string opts = ek::build_options(p, c.dir);
    const char* text = c.single ? gk::ovx_bkd_c2c_1d_8k_text_s : gk::ovx_bkd_c2c_1d_8k_text_d;
    auto x = rounded<T>(gpu_test::random_cplx(static_cast<size_t>(8192 * c.batch), 11u));
    std::vector<T> c1, c2, c3;
    eight_k_tables<T>(c1, c2, c3, c.scale);
    dev_buf din(x.size() * 2 * sizeof(T)), dscr(x.size() * 2 * sizeof(T)), dout(x.size() * 2 * sizeof(T));
    dev_buf t1(c1.size() * sizeof(T)), t2(c2.size() * sizeof(T)), t3(c3.size() * sizeof(T));
    din.write(to_reals<T>(x));
    t1.write(c1);
    t2.write(c2);
    t3.write(c3);
    {
        launcher l(cl_env::get().kernel(text, opts, ek::pass1_kernel_name(c.single)));
        l.mem(0, din).mem(1, dscr).mem(2, t1).mem(3, t3).local(4, static_cast<size_t>(p.pass1_local_bytes));
        const size_t g[2] = {1024, static_cast<size_t>(c.batch)}, lo[2] = {64, 1};
        l.run(2, g, lo);
    }
    {
        launcher l(cl_env::get().kernel(text, opts, ek::pass2_kernel_name(c.single)));
        l.mem(0, dscr).mem(1, dout).mem(2, t2).local(3, static_cast<size_t>(p.pass2_local_bytes));
        const size_t g[2] = {2048, static_cast<size_t>(c.batch)}, lo[2] = {64, 1};
        l.run(2, g, lo);
    }
    const auto out = dout.read_all<T>();
    EXPECT_LT(gpu_test::c2c_batch_error(out.data(), 8192, x, 8192, 8192, c.batch, c.dir, c.scale),
              gpu_test::tolerance(c.single, 8192));
}

TEST_P(FactorsKernelsEightK, MatchesFftw) {
    const k8_case c = GetParam();
    KERNEL_PROBE_REQUIRE_DEVICE(c.single);
    if (c.single)
        run_eight_k<float>(c);
    else
        run_eight_k<double>(c);
}

INSTANTIATE_TEST_SUITE_P(Cases, FactorsKernelsEightK,
                         ::testing::Values(k8_case{false, 0, 2, 1.0}, k8_case{true, 1, 1, 0.125}),
                         [](const auto& i) { return ovx_test::name((i.param.single ? "s" : "d"), "dir", i.param.dir); });

}  // namespace
