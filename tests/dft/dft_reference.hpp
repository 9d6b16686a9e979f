// Reference transforms and strided layouts for the DFT tests.
//
// Logical data is row-major (user order, outermost dimension first), one
// transform after another. The reference DFT is computed in long double,
// separably along each dimension (exact up to rounding: a multi-dimensional
// DFT is the composition of 1D DFTs along its axes).
#ifndef OVX_TESTS_DFT_DFT_REFERENCE_HPP
#define OVX_TESTS_DFT_DFT_REFERENCE_HPP

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <random>
#include <type_traits>
#include <vector>
#include "worst_error.hpp"

namespace dft_test {

using cld = std::complex<long double>;

inline std::int64_t product(const std::vector<std::int64_t>& v) {
    std::int64_t p = 1;
    for (auto x : v) p *= x;
    return p;
}

// In-place DFT of logical complex data of dims `n` (row-major), along every
// axis; sign -1 forward, +1 backward.
inline void reference_dft(std::vector<cld>& x, const std::vector<std::int64_t>& n, int sign) {
    const long double pi = 3.141592653589793238462643383279502884L;
    const std::int64_t total = product(n);
    std::int64_t inner = total;
    for (std::size_t d = 0; d < n.size(); ++d) {
        const std::int64_t len = n[d];
        inner /= len;
        const std::int64_t outer = total / (len * inner);
        std::vector<cld> tw(len), line(len), res(len);
        for (std::int64_t k = 0; k < len; ++k) tw[k] = std::polar(1.0L, sign * 2 * pi * k / len);
        for (std::int64_t o = 0; o < outer; ++o)
            for (std::int64_t i = 0; i < inner; ++i) {
                const std::int64_t base = o * len * inner + i;
                for (std::int64_t j = 0; j < len; ++j) line[j] = x[base + j * inner];
                for (std::int64_t k = 0; k < len; ++k) {
                    cld s = 0;
                    for (std::int64_t j = 0; j < len; ++j) s += line[j] * tw[(j * k) % len];
                    res[k] = s;
                }
                for (std::int64_t k = 0; k < len; ++k) x[base + k * inner] = res[k];
            }
    }
}

// A strided layout: offset, one stride per dimension (user order) and the
// distance between transforms, in elements.
struct layout {
    std::vector<std::int64_t> strides;  // rank + 1: offset first
    std::int64_t distance = 0;

    std::int64_t index(const std::vector<std::int64_t>& idx, std::int64_t batch) const {
        std::int64_t e = strides[0] + batch * distance;
        for (std::size_t d = 0; d < idx.size(); ++d) e += idx[d] * strides[d + 1];
        return e;
    }
    // Elements needed to hold `batch` transforms of dims `m`.
    std::int64_t span(const std::vector<std::int64_t>& m, std::int64_t batch) const {
        std::int64_t e = strides[0] + (batch - 1) * distance;
        for (std::size_t d = 0; d < m.size(); ++d) e += (m[d] - 1) * strides[d + 1];
        return e + 1;
    }
};

// Contiguous layout of dims `m` (the last dimension's storage length may be
// larger than m: `last_storage`).
inline layout contiguous(const std::vector<std::int64_t>& m, std::int64_t last_storage) {
    layout l;
    const std::size_t r = m.size();
    l.strides.assign(r + 1, 0);
    std::int64_t s = 1;
    for (std::size_t d = r; d-- > 0;) {
        l.strides[d + 1] = s;
        s *= d == r - 1 ? last_storage : m[d];
    }
    l.distance = s;
    return l;
}

// A padded layout: innermost stride s0, each outer stride the previous
// dimension's extent plus `pad`, offset `off`, distance the span plus `extra`.
inline layout padded(const std::vector<std::int64_t>& m, std::int64_t s0, std::int64_t pad, std::int64_t off,
                     std::int64_t extra) {
    layout l;
    const std::size_t r = m.size();
    l.strides.assign(r + 1, 0);
    l.strides[0] = off;
    l.strides[r] = s0;
    for (std::size_t d = r - 1; d-- > 0;) l.strides[d + 1] = l.strides[d + 2] * m[d + 1] + pad;
    std::int64_t span = 1;
    for (std::size_t d = 0; d < r; ++d) span += (m[d] - 1) * l.strides[d + 1];
    l.distance = span + extra;
    return l;
}

// Calls f(idx) for every multi-index of dims m (row-major order).
template <typename F>
void for_each_index(const std::vector<std::int64_t>& m, F&& f) {
    std::vector<std::int64_t> idx(m.size(), 0);
    const std::int64_t total = product(m);
    for (std::int64_t t = 0; t < total; ++t) {
        f(idx);
        for (std::size_t d = m.size(); d-- > 0;) {
            if (++idx[d] < m[d]) break;
            idx[d] = 0;
        }
    }
}

// Uniform numbers in [-1, 1) from the seed: the one source of test data.
inline std::vector<double> uniform(std::size_t count, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<double> v(count);
    for (auto& x : v) x = u(gen);
    return v;
}

// Logical input and expected output of `batch` transforms of dims `n`
// (seeds seed, seed + 1, ...): complex data for c2c; real input and the
// half spectrum for r2c (direction 0); the half spectrum and real output for
// c2r (direction 1). The expected output carries `scale`.
inline void reference_batch(const std::vector<std::int64_t>& n, bool real, int direction, double scale,
                            std::int64_t batch, unsigned seed, std::vector<cld>& in, std::vector<cld>& out) {
    const std::int64_t pts = product(n);
    std::vector<std::int64_t> m_b = n;
    m_b.back() = n.back() / 2 + 1;
    for (std::int64_t b = 0; b < batch; ++b) {
        auto re = uniform(2 * pts, seed + static_cast<unsigned>(b));
        std::vector<cld> x(pts);
        for (std::int64_t i = 0; i < pts; ++i) x[i] = real ? cld(re[i], 0) : cld(re[i], re[pts + i]);
        if (!real) {
            in.insert(in.end(), x.begin(), x.end());
            reference_dft(x, n, direction == 0 ? -1 : 1);
            for (auto& v : x) out.push_back(v * (long double)scale);
            continue;
        }
        std::vector<cld> full = x, half;
        reference_dft(full, n, -1);
        for_each_index(m_b, [&](const std::vector<std::int64_t>& idx) {
            std::int64_t e = 0;
            for (std::size_t d = 0; d < n.size(); ++d) e = e * n[d] + idx[d];
            half.push_back(full[e]);
        });
        const std::vector<cld>& from = direction == 0 ? x : half;
        in.insert(in.end(), from.begin(), from.end());
        if (direction == 0)
            for (auto& v : half) out.push_back(v * (long double)scale);
        else
            for (auto& v : x) out.push_back(v * (long double)(pts * scale));
    }
}

// Writes logical values into array `a` in layout `l` (dims `m`, `comps`
// numbers per element, `off` extra elements in front).
template <typename T>
void scatter(std::vector<T>& a, const layout& l, const std::vector<std::int64_t>& m, std::int64_t batch, int comps,
             std::int64_t off, const std::vector<cld>& v) {
    std::int64_t t = 0;
    for (std::int64_t b = 0; b < batch; ++b)
        for_each_index(m, [&](const std::vector<std::int64_t>& idx) {
            const std::int64_t e = (off + l.index(idx, b)) * comps;
            a[e] = static_cast<T>(v[t].real());
            if (comps == 2) a[e + 1] = static_cast<T>(v[t].imag());
            ++t;
        });
}

// Largest error over the largest reference value, reading `res` in layout
// `l`; marks the numbers read in `touched` when given.
template <typename T>
double relative_error(const std::vector<T>& res, const layout& l, const std::vector<std::int64_t>& m,
                      std::int64_t batch, int comps, std::int64_t off, const std::vector<cld>& expected,
                      std::vector<bool>* touched = nullptr) {
    double err = 0, ref = 0;
    std::int64_t t = 0;
    for (std::int64_t b = 0; b < batch; ++b)
        for_each_index(m, [&](const std::vector<std::int64_t>& idx) {
            const std::int64_t e = (off + l.index(idx, b)) * comps;
            const cld got(res[e], comps == 2 ? res[e + 1] : 0);
            if (touched) (*touched)[e] = (*touched)[e + comps - 1] = true;
            err = ovx_test::worse(err, (double)std::abs(got - expected[t]));
            ref = std::max(ref, (double)std::abs(expected[t]));
            ++t;
        });
    return err / ref;
}

// Tolerance of a transform of `points` points: single 3e-6 * log2(N) + 1e-6,
// double 1e-14 * log2(N) + 1e-14, relative to the largest reference value.
template <typename T>
double tolerance(std::int64_t points) {
    const double lg = std::log2(static_cast<double>(points) + 1.0);
    return std::is_same_v<T, float> ? 3e-6 * lg + 1e-6 : 1e-14 * lg + 1e-14;
}

}  // namespace dft_test

#endif
