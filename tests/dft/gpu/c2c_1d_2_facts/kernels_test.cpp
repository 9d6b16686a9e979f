// Probe runs of the stored kernel texts of the two-factor, 8192-point,
// three-factor and 1D real backends on the OpenCL device, with tables laid
// out on the host exactly as the modules' table kernels lay them out, against
// FFTW. Each case builds one program; the cases are chosen so that together
// they cover padded columns and rows, idle sub-groups, several transforms per
// work-group, the generic direct-DFT routines, ragged column ranges, chunk
// offsets, both directions, both precisions and scales other than 1.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_2_facts_plan.hpp"
#include "dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_3_facts_plan.hpp"
#include "dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_8k_plan.hpp"
#include "ovx_test_env.hpp"
#include "dft/gpu/1d/ovx_dft_gpu_bkd_r2c_1d_main_plan.hpp"
#include "dft/gpu/kernels/kernel_probe.hpp"
#include "dft/gpu/gpu_test_reference.hpp"

namespace korami::ovx::dft::gpu_kernels {
extern const char ovx_bkd_c2c_1d_2_facts_text_d[];
extern const char ovx_bkd_c2c_1d_2_facts_text_s[];
extern const char ovx_bkd_c2c_1d_8k_text_d[];
extern const char ovx_bkd_c2c_1d_8k_text_s[];
extern const char ovx_bkd_c2c_1d_3_facts_text_d[];
extern const char ovx_bkd_c2c_1d_3_facts_text_s[];
extern const char ovx_bkd_r2c_1d_main_text_d[];
extern const char ovx_bkd_r2c_1d_main_text_s[];
}  // namespace korami::ovx::dft::gpu_kernels

namespace gk = korami::ovx::dft::gpu_kernels;
namespace tf = korami::ovx::dft::two_facts;
namespace ek = korami::ovx::dft::eight_k;
namespace hf = korami::ovx::dft::three_facts;
namespace rc = korami::ovx::dft::r2c_1d;
using factors_probe::cl_env;
using factors_probe::dev_buf;
using factors_probe::launcher;
using gpu_test::cplx;

namespace {

constexpr long double pi_l = 3.141592653589793238462643383279502884L;

#define require_device(single)                                                                      \
    do {                                                                                            \
        OVX_REQUIRE(cl_env::get().ok(), "no usable OpenCL device");                                 \
        OVX_REQUIRE((single) || cl_env::get().has_double(), "the OpenCL device has no double precision"); \
    } while (0)

template <class T>
std::vector<T> to_reals(const std::vector<cplx>& v) {
    std::vector<T> r(2 * v.size());
    for (size_t i = 0; i < v.size(); ++i) {
        r[2 * i] = static_cast<T>(v[i].real());
        r[2 * i + 1] = static_cast<T>(v[i].imag());
    }
    return r;
}

template <class T>
std::vector<cplx> from_reals(const std::vector<T>& r, size_t first, size_t count) {
    std::vector<cplx> v(count);
    for (size_t i = 0; i < count; ++i) v[i] = cplx(r[2 * (first + i)], r[2 * (first + i) + 1]);
    return v;
}

// Rounds the values to the working precision so that the reference sees the
// same input as the device.
template <class T>
std::vector<cplx> rounded(std::vector<cplx> v) {
    for (auto& x : v) x = cplx(static_cast<T>(x.real()), static_cast<T>(x.imag()));
    return v;
}

// ---------------------------------------------------------------- tables

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

// ---------------------------------------------------------------- two factors

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
    require_device(c.single);
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
                      two_case{2048, true, 1, 2, 5, 1.0}),   // 64 x 32: two row passes per sub-group
    [](const auto& i) { return ovx_test::name(i.param.n, (i.param.single ? "s" : "d")); });

// ---------------------------------------------------------------- 8192 points

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
    require_device(c.single);
    if (c.single)
        run_eight_k<float>(c);
    else
        run_eight_k<double>(c);
}

INSTANTIATE_TEST_SUITE_P(Cases, FactorsKernelsEightK,
                         ::testing::Values(k8_case{false, 0, 2, 1.0}, k8_case{true, 1, 1, 0.125}),
                         [](const auto& i) { return ovx_test::name((i.param.single ? "s" : "d"), "dir", i.param.dir); });

// ---------------------------------------------------------------- three factors

struct three_case {
    int64_t n;
    bool single;
    int dir;
    int64_t batch;
    int64_t chunk;  // transforms per chunk (offset argument)
    double scale;
};

class FactorsKernelsThreeFacts : public ::testing::TestWithParam<three_case> {};

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
    require_device(c.single);
    if (c.single)
        run_three_facts<float>(c);
    else
        run_three_facts<double>(c);
}

INSTANTIATE_TEST_SUITE_P(Cases, FactorsKernelsThreeFacts,
                         ::testing::Values(three_case{12000, false, 0, 3, 2, 0.5},   // 40 x 20 x 15, ragged
                                           three_case{4096, true, 1, 3, 3, 1.0},     // 64 x 8 x 8
                                           three_case{128, false, 1, 2, 1, 2.0}),    // 32 x 2 x 2
                         [](const auto& i) { return ovx_test::name(i.param.n, (i.param.single ? "s" : "d")); });

// ---------------------------------------------------------------- 1D real

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
    require_device(c.single);
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
