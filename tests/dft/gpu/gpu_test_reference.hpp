// FFTW references of the GPU 1D backend tests, in double, with the library's
// sign convention (forward e^-2pi i jk/N, backward e^+2pi i jk/N) and a
// scale, plus random data and error measures. Host only.
#ifndef TESTS_DFT_GPU_GPU_TEST_REFERENCE_HPP
#define TESTS_DFT_GPU_GPU_TEST_REFERENCE_HPP

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <random>
#include <vector>

#include "dft/dft_reference.hpp"
#include "worst_error.hpp"

namespace gpu_test {

using cplx = std::complex<double>;

// One batch record in complex elements; idist/odist are the forward- and
// backward-domain distances (or input/output ones with `io`).
struct rec {
    int64_t count, idist, odist;
};

// X = scale * DFT(x) of one transform of length n.
inline std::vector<cplx> dft(const std::vector<cplx>& x, int dir, double scale) {
    const int n = static_cast<int>(x.size());
    std::vector<cplx> in(x), out(x.size());
    fftw_plan p = fftw_plan_dft_1d(n, reinterpret_cast<fftw_complex*>(in.data()),
                                   reinterpret_cast<fftw_complex*>(out.data()),
                                   dir == 0 ? FFTW_FORWARD : FFTW_BACKWARD, FFTW_ESTIMATE);
    fftw_execute(p);
    fftw_destroy_plan(p);
    for (auto& v : out) v *= scale;
    return out;
}

// Real forward transform: N/2+1 conjugate-even outputs.
inline std::vector<cplx> dft_r2c(const std::vector<double>& x, double scale) {
    std::vector<cplx> c(x.begin(), x.end());
    std::vector<cplx> full = dft(c, 0, scale);
    full.resize(x.size() / 2 + 1);
    return full;
}

// Real backward transform of N/2+1 conjugate-even inputs: N reals.
inline std::vector<double> dft_c2r(const std::vector<cplx>& h, int64_t n, double scale) {
    std::vector<cplx> full(static_cast<size_t>(n));
    for (int64_t k = 0; k <= n / 2; ++k) full[k] = h[k];
    for (int64_t k = n / 2 + 1; k < n; ++k) full[k] = std::conj(h[n - k]);
    // The imaginary parts of X[0] (and X[N/2] for even N) do not enter a real
    // result; the library's reduction ignores them too.
    full[0] = full[0].real();
    if (n % 2 == 0) full[n / 2] = full[n / 2].real();
    std::vector<cplx> t = dft(full, 1, scale);
    std::vector<double> r(static_cast<size_t>(n));
    for (int64_t j = 0; j < n; ++j) r[j] = t[j].real();
    return r;
}

// Elements one side of a strided layout spans; `out` picks the odist side.
inline int64_t extent(int64_t n, int64_t stride, const std::vector<rec>& batch, bool out) {
    int64_t e = (n - 1) * stride + 1;
    for (const rec& r : batch) e += (r.count - 1) * (out ? r.odist : r.idist);
    return e;
}

// FFTW over a strided layout reading (is, idist) and writing (os, odist);
// sign -1 forward, +1 backward. The written elements are scaled; `out` keeps
// what it holds elsewhere.
inline void strided_reference(int64_t n, int64_t is, int64_t os, const std::vector<rec>& batch, int sign,
                              double scale, const std::vector<cplx>& in, std::vector<cplx>& out) {
    fftw_iodim dim{static_cast<int>(n), static_cast<int>(is), static_cast<int>(os)};
    std::vector<fftw_iodim> how;
    for (const rec& r : batch) how.push_back({static_cast<int>(r.count), static_cast<int>(r.idist), static_cast<int>(r.odist)});
    std::vector<cplx> src = in;
    std::vector<cplx> dst = out;
    fftw_plan p = fftw_plan_guru_dft(1, &dim, static_cast<int>(how.size()), how.data(),
                                     reinterpret_cast<fftw_complex*>(src.data()),
                                     reinterpret_cast<fftw_complex*>(dst.data()), sign, FFTW_ESTIMATE);
    if (!p) return;
    fftw_execute(p);
    fftw_destroy_plan(p);
    std::vector<int64_t> idx{0};
    for (const rec& r : batch) {
        std::vector<int64_t> next;
        for (int64_t b : idx)
            for (int64_t c = 0; c < r.count; ++c) next.push_back(b + c * r.odist);
        idx.swap(next);
    }
    for (int64_t b : idx)
        for (int64_t k = 0; k < n; ++k) out[b + k * os] = dst[b + k * os] * scale;
}

// ---- data and errors -----------------------------------------------------------

template <class R>
std::vector<std::complex<R>> random_data(std::size_t n, unsigned seed) {
    const std::vector<double> u = dft_test::uniform(2 * n, seed);
    std::vector<std::complex<R>> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = {static_cast<R>(u[2 * i]), static_cast<R>(u[2 * i + 1])};
    return v;
}

inline std::vector<cplx> random_cplx(size_t n, unsigned seed) { return random_data<double>(n, seed); }
inline std::vector<double> random_real(size_t n, unsigned seed) { return dft_test::uniform(n, seed); }

template <class R>
std::vector<cplx> widen(const std::vector<std::complex<R>>& v) {
    std::vector<cplx> w(v.size());
    for (std::size_t i = 0; i < v.size(); ++i) w[i] = {v[i].real(), v[i].imag()};
    return w;
}

using ovx_test::worse;

// max |a - b| / max |b| over the whole vector; NaN when an element of a is
// NaN.
template <class A, class B>
double rel_err(const A& a, const B& b) {
    double num = 0, den = 0;
    for (size_t i = 0; i < b.size(); ++i) {
        num = worse(num, std::abs(cplx(a[i]) - cplx(b[i])));
        den = std::max(den, std::abs(cplx(b[i])));
    }
    return den > 0 ? num / den : num;
}

// Complex value i of an interleaved array of reals.
template <class T>
cplx cplx_at(const T* p, std::size_t i) {
    return cplx(static_cast<double>(p[2 * i]), static_cast<double>(p[2 * i + 1]));
}

// The complex values of an interleaved vector of reals.
template <class T>
std::vector<cplx> as_cplx(const std::vector<T>& v) {
    std::vector<cplx> c(v.size() / 2);
    for (size_t i = 0; i < c.size(); ++i) c[i] = cplx_at(v.data(), i);
    return c;
}

// Worst rel_err over `batch` transforms of length n against FFTW, with the
// inputs x at distance idist and the outputs (interleaved reals for complex
// values) at distance odist. Complex to complex:
template <class T>
double c2c_batch_error(const T* out, int64_t odist, const std::vector<cplx>& x, int64_t idist, int64_t n,
                       int64_t batch, int dir, double scale) {
    double worst = 0;
    for (int64_t b = 0; b < batch; ++b) {
        const auto ref = dft(std::vector<cplx>(x.begin() + b * idist, x.begin() + b * idist + n), dir, scale);
        std::vector<cplx> got(static_cast<size_t>(n));
        for (int64_t k = 0; k < n; ++k) got[k] = cplx_at(out, static_cast<size_t>(b * odist + k));
        worst = worse(worst, rel_err(got, ref));
    }
    return worst;
}

// Real to complex (N/2+1 outputs per transform):
template <class T>
double r2c_batch_error(const T* out, int64_t odist, const std::vector<double>& x, int64_t idist, int64_t n,
                       int64_t batch, double scale) {
    double worst = 0;
    for (int64_t b = 0; b < batch; ++b) {
        const auto ref = dft_r2c(std::vector<double>(x.begin() + b * idist, x.begin() + b * idist + n), scale);
        std::vector<cplx> got(ref.size());
        for (size_t k = 0; k < ref.size(); ++k) got[k] = cplx_at(out, static_cast<size_t>(b * odist) + k);
        worst = worse(worst, rel_err(got, ref));
    }
    return worst;
}

// Complex (N/2+1 inputs per transform) to real:
template <class T>
double c2r_batch_error(const T* out, int64_t odist, const std::vector<cplx>& x, int64_t idist, int64_t n,
                       int64_t batch, double scale) {
    double worst = 0;
    for (int64_t b = 0; b < batch; ++b) {
        const auto ref = dft_c2r(std::vector<cplx>(x.begin() + b * idist, x.begin() + b * idist + n / 2 + 1), n, scale);
        worst = worse(worst, rel_err(std::vector<double>(out + b * odist, out + b * odist + n), ref));
    }
    return worst;
}

// Tolerance of rel_err for a transform of length n (that of the other DFT
// tests: a few units of roundoff times log2 n).
inline double tolerance(bool single, int64_t n) {
    return single ? dft_test::tolerance<float>(n) : dft_test::tolerance<double>(n);
}

// Relative L2 error over the whole array (elements outside the layout must
// be untouched, so they count too).
template <class R>
double rel_error(const std::vector<std::complex<R>>& got, const std::vector<cplx>& ref) {
    double num = 0, den = 0;
    for (std::size_t i = 0; i < ref.size(); ++i) {
        const cplx g(got[i].real(), got[i].imag());
        num += std::norm(g - ref[i]);
        den += std::norm(ref[i]);
    }
    return den == 0 ? std::sqrt(num) : std::sqrt(num / den);
}

// Tolerances of the relative L2 error: double 1e-12, float 2e-5 (inputs in
// [-1, 1], lengths up to 2^26).
template <class R>
double tolerance() {
    return sizeof(R) == 8 ? 1e-12 : 2e-5;
}

}  // namespace gpu_test

#endif
