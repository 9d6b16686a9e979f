// cospi and sinpi of the host built-ins: exact at multiples of 1/2, within
// one ulp elsewhere (reference: quadruple precision).
#include <gtest/gtest.h>
#include <sycl/sycl.hpp>

#include <cmath>
#include <random>

#include <quadmath.h>

namespace {

const __float128 pi_q = strtoflt128("3.14159265358979323846264338327950288419716939937510", nullptr);

// Distance in ulps of the type; exact zeros of the reference (where its own
// rounding of pi leaves a tiny residue) are checked by the exact-value test.
template <typename T>
double ulps(T got, __float128 ref) {
    if (fabsq(ref) < static_cast<__float128>(1e-20)) return 0.0;
    T r = static_cast<T>(ref);
    T ulp = std::nextafter(std::fabs(r), std::numeric_limits<T>::infinity()) - std::fabs(r);
    return static_cast<double>(fabsq(static_cast<__float128>(got) - ref) / ulp);
}

TEST(SyclMath, ExactValuesAtMultiplesOfOneHalf) {
    for (double x : {0.0, 1.0, 2.0, 3.0, 4.0, 1e6, 1e15, 9007199254740992.0}) {
        EXPECT_EQ(sycl::sinpi(x), 0.0);
        EXPECT_FALSE(std::signbit(sycl::sinpi(x))) << x;
        EXPECT_TRUE(std::signbit(sycl::sinpi(-x))) << x;
        EXPECT_FALSE(std::signbit(sycl::sinpi(static_cast<float>(x))));
        EXPECT_TRUE(std::signbit(sycl::sinpi(static_cast<float>(-x))));
    }
    EXPECT_EQ(sycl::cospi(0.0), 1.0);
    EXPECT_EQ(sycl::cospi(1.0), -1.0);
    EXPECT_EQ(sycl::cospi(-1.0), -1.0);
    EXPECT_EQ(sycl::cospi(2.0), 1.0);
    EXPECT_EQ(sycl::cospi(-3.0), -1.0);
    for (double x : {0.5, 1.5, -0.5, -2.5, 1000.5}) {
        EXPECT_EQ(sycl::cospi(x), 0.0) << x;
        EXPECT_FALSE(std::signbit(sycl::cospi(x))) << x;
        EXPECT_FALSE(std::signbit(sycl::cospi(static_cast<float>(x))));
    }
    EXPECT_EQ(sycl::sinpi(0.5), 1.0);
    EXPECT_EQ(sycl::sinpi(1.5), -1.0);
    EXPECT_EQ(sycl::sinpi(-0.5), -1.0);
    EXPECT_EQ(sycl::sinpi(2.5f), 1.0f);
    EXPECT_EQ(sycl::sinpi(0.25), std::sqrt(0.5));
    EXPECT_EQ(sycl::cospi(0.25), std::sqrt(0.5));
    EXPECT_EQ(sycl::cospi(1.0 / 3.0), 0.5);  // 1/3 rounded to double moves cos(pi x) by less than half an ulp
    EXPECT_TRUE(std::isnan(sycl::sinpi(INFINITY)));
    EXPECT_TRUE(std::isnan(sycl::cospi(NAN)));
}

TEST(SyclMath, WithinOneUlpOfExtendedReference) {
    std::mt19937_64 rng(42);
    std::uniform_real_distribution<double> dist(-8.0, 8.0);
    double worst_d = 0, worst_f = 0;
    for (int i = 0; i < 200000; ++i) {
        double x = dist(rng);
        // Points next to multiples of 1/2, where the result is tiny or close to 1.
        if (i % 4 == 0) x = std::round(x * 2) / 2 + (i % 8 == 0 ? 1e-9 : -3e-13);
        __float128 r = fmodq(static_cast<__float128>(x), 2);
        __float128 s = sinq(pi_q * r), c = cosq(pi_q * r);
        worst_d = std::max({worst_d, ulps(sycl::sinpi(x), s), ulps(sycl::cospi(x), c)});
        float xf = static_cast<float>(x);
        __float128 rf = fmodq(static_cast<__float128>(xf), 2);
        __float128 sf = sinq(pi_q * rf), cf = cosq(pi_q * rf);
        worst_f = std::max({worst_f, ulps(sycl::sinpi(xf), sf), ulps(sycl::cospi(xf), cf)});
    }
    EXPECT_LE(worst_d, 1.0);
    EXPECT_LE(worst_f, 1.0);
}

TEST(SyclMath, VectorTypes) {
    sycl::float2 a(1.0f, 2.0f), b(0.5f);
    auto c = a * b + 1.0f;
    EXPECT_EQ(c.x(), 1.5f);
    EXPECT_EQ(c.y(), 2.0f);
    sycl::double4 d(1.0, 2.0, 3.0, 4.0);
    d -= sycl::double4(1.0);
    EXPECT_EQ(d[3], 3.0);
    EXPECT_EQ(d.w(), 3.0);
    EXPECT_EQ(sizeof(sycl::double2), 2 * sizeof(double));
}

}  // namespace
