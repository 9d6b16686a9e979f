// Probe runs of the 1D real backend's stored kernel text on the OpenCL
// device: its input stage, the complex sub-transform on the host (FFTW) and
// its output stage, chunk by chunk, against FFTW in both directions and
// both precisions.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "dft/gpu/1d/ovx_dft_gpu_bkd_r2c_1d_main_plan.hpp"
#include "dft/gpu/gpu_test_reference.hpp"
#include "dft/gpu/kernel_texts.hpp"
#include "dft/gpu/kernels/kernel_probe.hpp"
#include "ovx_test_env.hpp"

namespace gk = korami::ovx::dft::gpu_kernels;
namespace rc = korami::ovx::dft::r2c_1d;
using kernel_probe::cl_env;
using kernel_probe::dev_buf;
using kernel_probe::launcher;
using kernel_probe::from_reals;
using kernel_probe::pi_l;
using kernel_probe::rounded;
using kernel_probe::to_reals;
using gpu_test::cplx;

namespace {

struct real_case {
    int64_t n;
    bool single;
    int dir;
    int64_t batch;
    int64_t chunk;
};

class FactorsKernelsReal : public ::testing::TestWithParam<real_case> {};

// Runs the module's input stage, the complex sub-transform on the host (FFTW,
// unscaled) and the output stage, chunk by chunk.
template <class T>
void run_real(const real_case& c) {
    rc::plan_input in;
    in.n = c.n;
    in.single = c.single;
    in.arch = 5;
    in.s = {0, 0, 1, 1};
    const int64_t h = c.n / 2 + 1;
    in.batch = {c.batch, c.n + 3, h + 1, 0, 0};
    const uint64_t one = static_cast<uint64_t>(c.n % 2 == 0 ? c.n / 2 : c.n) * 2 * sizeof(T);
    in.cap_override = (c.n % 2 == 0 ? c.chunk : (c.chunk + 1) / 2) * one;
    rc::plan p;
    ASSERT_EQ(rc::make_plan(in, p), 0);
    ASSERT_EQ(p.chunk_transforms, c.chunk);
    const char* text = c.single ? gk::ovx_bkd_r2c_1d_main_text_s : gk::ovx_bkd_r2c_1d_main_text_d;
    const bool even = c.n % 2 == 0;
    const int64_t L = p.sub_length, M = p.half;
    const int in_slot = c.dir == 0 ? rc::fwd_input_copy : (even ? rc::c2r_kernel : rc::bwd_input_copy);
    const int out_slot = c.dir == 0 ? (even ? rc::r2c_kernel : rc::fwd_output_copy) : rc::bwd_output_copy;
    const int64_t fwd_d = p.batch.fwd_distance, bwd_d = p.batch.bwd_distance;
    std::vector<T> tab(static_cast<size_t>(2 * std::max<int64_t>(M, 1)));
    for (int64_t k = 0; k < M; ++k) {
        tab[2 * k] = static_cast<T>(std::cos(pi_l * k / M));
        tab[2 * k + 1] = static_cast<T>(std::sin(pi_l * k / M));
    }
    // Inputs: reals forward; conjugate-even values backward (taken from a forward
    // transform of real data, so they are a consistent spectrum).
    std::vector<T> host_in(static_cast<size_t>(c.dir == 0 ? fwd_d * c.batch : 2 * bwd_d * c.batch), T(0));
    for (int64_t b = 0; b < c.batch; ++b) {
        if (c.dir == 0) {
            const auto xb = gpu_test::random_real(static_cast<size_t>(c.n), 100u + b);
            for (int64_t j = 0; j < c.n; ++j) host_in[b * fwd_d + j] = static_cast<T>(xb[j]);
        } else {
            const auto xb = gpu_test::dft_r2c(gpu_test::random_real(static_cast<size_t>(c.n), 200u + b), 1.0);
            for (int64_t k = 0; k < h; ++k) {
                host_in[2 * (b * bwd_d + k)] = static_cast<T>(xb[k].real());
                host_in[2 * (b * bwd_d + k) + 1] = static_cast<T>(xb[k].imag());
            }
        }
    }
    const size_t out_reals = static_cast<size_t>(c.dir == 0 ? 2 * bwd_d * c.batch : fwd_d * c.batch);
    dev_buf din(host_in.size() * sizeof(T)), dout(out_reals * sizeof(T)), dtab(tab.size() * sizeof(T));
    const size_t rows = static_cast<size_t>(rc::sub_batch(p, c.chunk));
    dev_buf dscr(rows * static_cast<size_t>(L) * 2 * sizeof(T));
    din.write(host_in);
    dtab.write(tab);
    const std::string in_opts = rc::build_options(p, in_slot), out_opts = rc::build_options(p, out_slot);
    for (int64_t start = 0; start < c.batch; start += c.chunk) {
        const int64_t count = std::min(c.chunk, c.batch - start);
        int64_t r[2];
        {
            launcher l(cl_env::get().kernel(text, in_opts, rc::kernel_name(p, in_slot)));
            l.mem(0, din).mem(1, dscr);
            cl_uint a = 2;
            if (in_slot == rc::c2r_kernel) l.mem(a++, dtab);
            l.i32(a, static_cast<int>(start));
            rc::launch_range(p, in_slot, count, r);
            const size_t g[2] = {static_cast<size_t>(r[0]), static_cast<size_t>(r[1])};
            l.run(2, g, nullptr);
        }
        // The complex sub-transform of each row, unscaled, in place.
        auto s = dscr.read_all<T>();
        const int64_t nrows = rc::sub_batch(p, count);
        for (int64_t row = 0; row < nrows; ++row) {
            auto z = from_reals<T>(s, static_cast<size_t>(row * L), static_cast<size_t>(L));
            z = gpu_test::dft(z, c.dir, 1.0);
            for (int64_t j = 0; j < L; ++j) {
                s[2 * (row * L + j)] = static_cast<T>(z[j].real());
                s[2 * (row * L + j) + 1] = static_cast<T>(z[j].imag());
            }
        }
        dscr.write(s);
        {
            launcher l(cl_env::get().kernel(text, out_opts, rc::kernel_name(p, out_slot)));
            l.mem(0, dscr).mem(1, dout);
            cl_uint a = 2;
            if (out_slot == rc::r2c_kernel) l.mem(a++, dtab);
            l.i32(a, static_cast<int>(start));
            rc::launch_range(p, out_slot, count, r);
            const size_t g[2] = {static_cast<size_t>(r[0]), static_cast<size_t>(r[1])};
            l.run(2, g, nullptr);
        }
    }
    const auto out = dout.read_all<T>();
    const std::vector<double> x(host_in.begin(), host_in.end());  // the inputs as the device saw them
    const double err = c.dir == 0 ? gpu_test::r2c_batch_error(out.data(), bwd_d, x, fwd_d, c.n, c.batch, 1.0)
                                   : gpu_test::c2r_batch_error(out.data(), fwd_d, gpu_test::as_cplx(x), bwd_d, c.n, c.batch, 1.0);
    EXPECT_LT(err, gpu_test::tolerance(c.single, c.n));
}

TEST_P(FactorsKernelsReal, MatchesFftw) {
    const real_case c = GetParam();
    KERNEL_PROBE_REQUIRE_DEVICE(c.single);
    if (c.single)
        run_real<float>(c);
    else
        run_real<double>(c);
}

INSTANTIATE_TEST_SUITE_P(Cases, FactorsKernelsReal,
                         ::testing::Values(real_case{1000, false, 0, 3, 2}, real_case{1000, false, 1, 3, 2},
                                           real_case{999, true, 0, 5, 2}, real_case{999, true, 1, 5, 2},
                                           real_case{999, false, 0, 3, 3}, real_case{999, false, 1, 3, 3}),
                         [](const auto& i) { return ovx_test::name(i.param.n, (i.param.single ? "s" : "d"), "dir", i.param.dir, "chunk", i.param.chunk); });

}  // namespace
