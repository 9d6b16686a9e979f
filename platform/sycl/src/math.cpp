// cos(pi x) and sin(pi x) of the host built-ins.
//
// The argument is reduced exactly (fmod by 2 and reflections that are exact
// in binary floating point) to [0, 1/4] of sine or cosine, which are then
// evaluated in extended precision and rounded once. Multiples of 1/2 give
// exact results: sinpi(n) = +-0 with the sign of n, cospi(n + 1/2) = +0.
#include <sycl/sycl.hpp>

#include <cmath>

namespace sycl {
inline namespace _V1 {
namespace {

constexpr long double pi_l = 3.141592653589793238462643383279502884L;

// a in [0, 1/2]
long double sin_half(double a) {
    if (a <= 0.25) return sinl(pi_l * static_cast<long double>(a));
    return cosl(pi_l * static_cast<long double>(0.5 - a));
}
long double cos_half(double a) {
    if (a <= 0.25) return cosl(pi_l * static_cast<long double>(a));
    return sinl(pi_l * static_cast<long double>(0.5 - a));
}

}  // namespace

double sinpi(double x) {
    if (std::isnan(x) || std::isinf(x)) return std::numeric_limits<double>::quiet_NaN();
    double a = std::fabs(std::fmod(x, 2.0));
    double sign = x < 0 ? -1.0 : 1.0;
    if (a >= 1.0) {
        a -= 1.0;
        sign = -sign;
    }
    if (a == 0.0) return std::copysign(0.0, x);
    if (a > 0.5) a = 1.0 - a;
    if (a == 0.5) return sign;
    return sign * static_cast<double>(sin_half(a));
}

double cospi(double x) {
    if (std::isnan(x) || std::isinf(x)) return std::numeric_limits<double>::quiet_NaN();
    double a = std::fabs(std::fmod(x, 2.0));
    if (a > 1.0) a = 2.0 - a;
    double sign = 1.0;
    if (a > 0.5) {
        a = 1.0 - a;
        sign = -1.0;
    }
    if (a == 0.5) return 0.0;
    if (a == 0.0) return sign;
    return sign * static_cast<double>(cos_half(a));
}

float sinpi(float x) { return static_cast<float>(sinpi(static_cast<double>(x))); }
float cospi(float x) { return static_cast<float>(cospi(static_cast<double>(x))); }

}  // namespace _V1
}  // namespace sycl
