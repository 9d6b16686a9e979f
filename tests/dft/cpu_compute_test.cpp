// Transforms through the public API on a CPU queue, against a reference:
// c2c, r2c and c2r, ranks 1 to 3, single and double precision, batched,
// default and padded layouts (forward/backward or input/output strides),
// in place and out of place, USM and buffer forms, both scales.
//
// Tolerances (max abs error over max abs reference value): single 3e-6 * log2(N) + 1e-6,
// double 1e-14 * log2(N) + 1e-14 (N the points of one transform). Out of
// place, the input must be unchanged and the output array untouched outside
// the output layout.
#include <gtest/gtest.h>

#include <fftw3.h>

#include <cstring>
#include <sstream>

#include "dft/dft_reference.hpp"
#include "korami/ovx/dft.hpp"
#include "ovx_test_env.hpp"
#include "worst_error.hpp"

namespace dft = korami::ovx::dft;
using namespace dft_test;

namespace {

struct compute_case {
    bool real;
    bool dbl;
    std::vector<std::int64_t> n;
    std::int64_t batch;
    bool in_place;
    bool custom;      // padded layout with offsets instead of the defaults
    bool io_strides;  // layout given as INPUT/OUTPUT strides (custom only)
    int direction;    // 0 forward, 1 backward
    bool usm;
    double fscale, bscale;
};

std::string case_name(const compute_case& c) {
    std::ostringstream s;
    s << (c.dbl ? "d" : "s") << (c.real ? (c.direction == 0 ? "r2c" : "c2r") : (c.direction == 0 ? "c2cF" : "c2cB"));
    for (auto x : c.n) s << "_" << x;
    s << "_b" << c.batch << (c.in_place ? "_ip" : "_oop") << (c.custom ? (c.io_strides ? "_io" : "_fb") : "_def")
      << (c.usm ? "_usm" : "_buf") << (c.fscale != 1.0 || c.bscale != 1.0 ? "_scaled" : "");
    return s.str();
}

std::vector<compute_case> make_cases() {
    std::vector<compute_case> cases;
    const std::vector<std::vector<std::int64_t>> shapes = {{16}, {15}, {12, 10}, {7, 9}, {6, 5, 4}};
    int k = 0;
    for (bool real : {false, true})
        for (const auto& n : shapes)
            for (bool in_place : {true, false})
                for (bool custom : {false, true})
                    for (int dir : {0, 1}) {
                        compute_case c;
                        c.real = real;
                        c.n = n;
                        c.in_place = in_place;
                        c.custom = custom;
                        c.direction = dir;
                        c.dbl = (k % 2) == 1;
                        c.batch = (k % 3) == 0 ? 1 : 3;
                        c.usm = ((k / 2) % 2) == 0;
                        c.io_strides = custom && ((k / 4) % 2 == 1);
                        c.fscale = (k % 5) == 1 ? 0.5 : 1.0;
                        c.bscale = (k % 5) == 2 ? 1.0 / 3.0 : 1.0;
                        cases.push_back(c);
                        ++k;
                    }
    return cases;
}

constexpr double kSentinel = 1234.5;

template <dft::precision P, dft::domain D>
void run_case(const compute_case& c, sycl::queue& q) {
    using T = std::conditional_t<P == dft::precision::DOUBLE, double, float>;
    const bool real = D == dft::domain::REAL;
    const std::size_t r = c.n.size();
    const std::int64_t last = c.n[r - 1];
    std::vector<std::int64_t> m_f = c.n, m_b = c.n;
    if (real) m_b[r - 1] = last / 2 + 1;

    layout lf, lb;
    if (!c.custom) {
        lf = contiguous(m_f, real && c.in_place ? 2 * (last / 2 + 1) : last);
        lb = contiguous(m_b, m_b[r - 1]);
    } else if (c.in_place && !real) {
        lf = lb = padded(c.n, 2, 1, 3, 5);
    } else if (c.in_place) {
        lb = padded(m_b, 1, 1, 2, 3);
        lf = lb;
        for (std::size_t d = 0; d < r; ++d) lf.strides[d] = 2 * lb.strides[d];
        lf.strides[r] = 1;
        lf.distance = 2 * lb.distance;
    } else {
        lf = padded(m_f, 2, 2, 1, 4);
        lb = padded(m_b, 3, 1, 2, 7);
    }
    // Elements (in T) per logical element of each domain.
    const int cf = real ? 1 : 2, cb = 2;
    const std::int64_t words_f = lf.span(m_f, c.batch) * cf, words_b = lb.span(m_b, c.batch) * cb;

    // Logical input and expected output.
    const std::int64_t pts = product(c.n);
    std::vector<cld> in_logical, expected;
    const std::vector<std::int64_t>& m_in = c.direction == 0 ? m_f : m_b;
    const std::vector<std::int64_t>& m_out = c.direction == 0 ? m_b : m_f;
    const layout& l_in = c.direction == 0 ? lf : lb;
    const layout& l_out = c.direction == 0 ? lb : lf;
    const int c_in = c.direction == 0 ? cf : cb, c_out = c.direction == 0 ? cb : cf;
    reference_batch(c.n, real, c.direction, c.direction == 0 ? c.fscale : c.bscale, c.batch, 1000u, in_logical,
                    expected);

    // Host arrays with a sentinel, the input scattered into its layout.
    std::vector<T> a_in, a_out;
    if (c.in_place) {
        a_in.assign(std::max(words_f, words_b), T(kSentinel));
    } else {
        a_in.assign(c.direction == 0 ? words_f : words_b, T(kSentinel));
        a_out.assign(c.direction == 0 ? words_b : words_f, T(kSentinel));
    }
    scatter(a_in, l_in, m_in, c.batch, c_in, 0, in_logical);
    const std::vector<T> in_copy = a_in;

    dft::descriptor<P, D> desc = r == 1 ? dft::descriptor<P, D>(c.n[0]) : dft::descriptor<P, D>(c.n);
    if (c.batch > 1) desc.set_value(dft::config_param::NUMBER_OF_TRANSFORMS, c.batch);
    if (c.batch > 1 || c.custom) {
        desc.set_value(dft::config_param::FWD_DISTANCE, lf.distance);
        desc.set_value(dft::config_param::BWD_DISTANCE, lb.distance);
    }
    if (!c.in_place) desc.set_value(dft::config_param::PLACEMENT, dft::config_value::NOT_INPLACE);
    if (c.custom) {
        if (c.io_strides) {
            desc.set_value(dft::config_param::INPUT_STRIDES, l_in.strides);
            desc.set_value(dft::config_param::OUTPUT_STRIDES, l_out.strides);
        } else {
            desc.set_value(dft::config_param::FWD_STRIDES, lf.strides);
            desc.set_value(dft::config_param::BWD_STRIDES, lb.strides);
        }
    }
    if (c.fscale != 1.0) desc.set_value(dft::config_param::FORWARD_SCALE, static_cast<T>(c.fscale));
    if (c.bscale != 1.0) desc.set_value(dft::config_param::BACKWARD_SCALE, static_cast<T>(c.bscale));
    desc.commit(q);

    if (c.usm) {
        T* din = sycl::malloc_shared<T>(a_in.size(), q);
        T* dout = c.in_place ? nullptr : sycl::malloc_shared<T>(a_out.size(), q);
        ASSERT_NE(din, nullptr);
        std::memcpy(din, a_in.data(), a_in.size() * sizeof(T));
        if (dout) std::memcpy(dout, a_out.data(), a_out.size() * sizeof(T));
        sycl::event e;
        if (c.in_place) e = c.direction == 0 ? dft::compute_forward(desc, din) : dft::compute_backward(desc, din);
        else e = c.direction == 0 ? dft::compute_forward(desc, din, dout) : dft::compute_backward(desc, din, dout);
        e.wait_and_throw();
        std::memcpy(a_in.data(), din, a_in.size() * sizeof(T));
        if (dout) std::memcpy(a_out.data(), dout, a_out.size() * sizeof(T));
        sycl::free(din, q);
        if (dout) sycl::free(dout, q);
    } else {
        sycl::buffer<T, 1> bin(a_in.data(), sycl::range<1>(a_in.size()));
        if (c.in_place) {
            if (c.direction == 0) dft::compute_forward(desc, bin);
            else dft::compute_backward(desc, bin);
        } else {
            sycl::buffer<T, 1> bout(a_out.data(), sycl::range<1>(a_out.size()));
            if (c.direction == 0) dft::compute_forward(desc, bin, bout);
            else dft::compute_backward(desc, bin, bout);
        }
        q.wait_and_throw();
    }

    const std::vector<T>& res = c.in_place ? a_in : a_out;
    std::vector<bool> touched(res.size(), false);
    const double rel = relative_error(res, l_out, m_out, c.batch, c_out, 0, expected, &touched);
    EXPECT_LE(rel, tolerance<T>(pts)) << "relative error " << rel;
    if (!c.in_place) {
        EXPECT_EQ(a_in, in_copy) << "the input of an out-of-place transform changed";
        for (std::size_t i = 0; i < res.size(); ++i)
            if (!touched[i]) {
                ASSERT_EQ(res[i], T(kSentinel)) << "output element " << i << " outside the layout was written";
            }
    }
}

class CpuCompute : public ::testing::TestWithParam<compute_case> {
protected:
    static sycl::queue& queue() {
        static sycl::queue q{sycl::cpu_selector_v};
        return q;
    }
};

TEST_P(CpuCompute, MatchesReference) {
    const compute_case& c = GetParam();
    if (c.dbl) {
        if (c.real) run_case<dft::precision::DOUBLE, dft::domain::REAL>(c, queue());
        else run_case<dft::precision::DOUBLE, dft::domain::COMPLEX>(c, queue());
    } else {
        if (c.real) run_case<dft::precision::SINGLE, dft::domain::REAL>(c, queue());
        else run_case<dft::precision::SINGLE, dft::domain::COMPLEX>(c, queue());
    }
}

INSTANTIATE_TEST_SUITE_P(Table, CpuCompute, ::testing::ValuesIn(make_cases()),
                         [](const ::testing::TestParamInfo<compute_case>& i) { return case_name(i.param); });

// ---- large sizes against FFTW in double precision --------------------------------------

struct large_case {
    bool dbl;
    bool real;
    std::vector<std::int64_t> n;
};

class CpuComputeLarge : public ::testing::TestWithParam<large_case> {};

template <dft::precision P, dft::domain D>
void run_large(const large_case& c) {
    using T = std::conditional_t<P == dft::precision::DOUBLE, double, float>;
    sycl::queue q{sycl::cpu_selector_v};
    const std::int64_t pts = product(c.n);
    const int r = static_cast<int>(c.n.size());
    std::vector<int> ni(c.n.begin(), c.n.end());
    const std::int64_t last = c.n.back();
    const std::int64_t half = pts / last * (last / 2 + 1);
    auto re = uniform(2 * pts, 7);
    dft::descriptor<P, D> desc(c.n);
    desc.set_value(dft::config_param::PLACEMENT, dft::config_value::NOT_INPLACE);
    desc.commit(q);
    double err = 0, ref = 0;
    if (!c.real) {
        std::vector<std::complex<T>> x(pts), y(pts);
        std::vector<fftw_complex> fx(pts), fy(pts);
        for (std::int64_t i = 0; i < pts; ++i) {
            x[i] = {T(re[i]), T(re[pts + i])};
            fx[i][0] = double(x[i].real());
            fx[i][1] = double(x[i].imag());
        }
        fftw_plan p = fftw_plan_dft(r, ni.data(), fx.data(), fy.data(), FFTW_FORWARD, FFTW_ESTIMATE);
        fftw_execute(p);
        fftw_destroy_plan(p);
        {
            sycl::buffer<std::complex<T>, 1> bx(x.data(), sycl::range<1>(pts)), by(y.data(), sycl::range<1>(pts));
            dft::compute_forward(desc, bx, by);
        }
        for (std::int64_t i = 0; i < pts; ++i) {
            err = ovx_test::worse(err, std::abs(std::complex<double>(y[i]) - std::complex<double>(fy[i][0], fy[i][1])));
            ref = std::max(ref, std::abs(std::complex<double>(fy[i][0], fy[i][1])));
        }
    } else {
        std::vector<T> x(pts);
        std::vector<double> fx(pts);
        std::vector<std::complex<T>> y(half);
        std::vector<fftw_complex> fy(half);
        for (std::int64_t i = 0; i < pts; ++i) fx[i] = double(x[i] = T(re[i]));
        fftw_plan p = fftw_plan_dft_r2c(r, ni.data(), fx.data(), fy.data(), FFTW_ESTIMATE);
        fftw_execute(p);
        fftw_destroy_plan(p);
        T* ux = sycl::malloc_shared<T>(pts, q);
        auto* uy = sycl::malloc_shared<std::complex<T>>(half, q);
        std::memcpy(ux, x.data(), pts * sizeof(T));
        dft::compute_forward(desc, ux, uy).wait_and_throw();
        for (std::int64_t i = 0; i < half; ++i) {
            err = ovx_test::worse(err, std::abs(std::complex<double>(uy[i]) - std::complex<double>(fy[i][0], fy[i][1])));
            ref = std::max(ref, std::abs(std::complex<double>(fy[i][0], fy[i][1])));
        }
        sycl::free(ux, q);
        sycl::free(uy, q);
    }
    EXPECT_LE(err / ref, tolerance<T>(pts)) << "error " << err;
}

TEST_P(CpuComputeLarge, MatchesFftw) {
    const large_case& c = GetParam();
    if (c.dbl) {
        if (c.real) run_large<dft::precision::DOUBLE, dft::domain::REAL>(c);
        else run_large<dft::precision::DOUBLE, dft::domain::COMPLEX>(c);
    } else {
        if (c.real) run_large<dft::precision::SINGLE, dft::domain::REAL>(c);
        else run_large<dft::precision::SINGLE, dft::domain::COMPLEX>(c);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, CpuComputeLarge,
                         ::testing::Values(large_case{false, false, {1 << 16}}, large_case{true, false, {3 * 5 * 7 * 64}},
                                           large_case{false, true, {256, 384}}, large_case{true, true, {32, 48, 64}},
                                           large_case{true, false, {512, 512}}, large_case{false, true, {100003}}),
                         [](const auto& i) {
                             std::string dims;
                             for (auto d : i.param.n) dims += "x" + std::to_string(d);
                             return ovx_test::name(i.param.real ? "real" : "complex", i.param.dbl ? "d" : "s", dims);
                         });

}  // namespace
