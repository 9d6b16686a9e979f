// Reference transforms for the factored-backend tests: FFTW in double
// precision, with the sign convention of the library (forward e^-2pi i jk/N,
// backward e^+2pi i jk/N) and a scale, plus error measures.
#ifndef TESTS_DFT_GPU_FACTORS_REFERENCE_HPP
#define TESTS_DFT_GPU_FACTORS_REFERENCE_HPP

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <random>
#include <vector>

namespace factors_ref {

using cplx = std::complex<double>;

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

inline std::vector<cplx> random_cplx(size_t n, unsigned seed) {
    std::mt19937 g(seed);
    std::uniform_real_distribution<double> d(-1.0, 1.0);
    std::vector<cplx> v(n);
    for (auto& x : v) x = cplx(d(g), d(g));
    return v;
}

inline std::vector<double> random_real(size_t n, unsigned seed) {
    std::mt19937 g(seed);
    std::uniform_real_distribution<double> d(-1.0, 1.0);
    std::vector<double> v(n);
    for (auto& x : v) x = d(g);
    return v;
}

// max |a - b| / max |b| over the whole vector.
template <class A, class B>
double rel_err(const A& a, const B& b) {
    double num = 0, den = 0;
    for (size_t i = 0; i < b.size(); ++i) {
        num = std::max(num, std::abs(cplx(a[i]) - cplx(b[i])));
        den = std::max(den, std::abs(cplx(b[i])));
    }
    return den > 0 ? num / den : num;
}

// Tolerance of a transform of length n: a few units of roundoff times log2 n.
inline double tolerance(bool single, int64_t n) {
    const double lg = std::max(1.0, std::log2(static_cast<double>(n)));
    return single ? 2e-6 * lg : 1e-14 * lg;
}

}  // namespace factors_ref

#endif
