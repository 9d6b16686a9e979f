// Math built-ins, vector types and atomic references for host kernels.
#pragma once

#include "core.hpp"

#include <algorithm>
#include <cmath>

namespace sycl {
inline namespace _V1 {

// cos(pi x) and sin(pi x): exact at multiples of 1/2 (zeros included, with
// the signs of the IEEE sinPi/cosPi rules), otherwise within an ulp.
OVXPLAT_SYCL_EXPORT float cospi(float x);
OVXPLAT_SYCL_EXPORT double cospi(double x);
OVXPLAT_SYCL_EXPORT float sinpi(float x);
OVXPLAT_SYCL_EXPORT double sinpi(double x);

#define OVXPLAT_UNARY(NAME, STD)                         \
    inline float NAME(float x) { return std::STD(x); }   \
    inline double NAME(double x) { return std::STD(x); }
OVXPLAT_UNARY(sqrt, sqrt)
OVXPLAT_UNARY(sin, sin)
OVXPLAT_UNARY(cos, cos)
OVXPLAT_UNARY(tan, tan)
OVXPLAT_UNARY(exp, exp)
OVXPLAT_UNARY(log, log)
OVXPLAT_UNARY(fabs, fabs)
OVXPLAT_UNARY(floor, floor)
OVXPLAT_UNARY(ceil, ceil)
OVXPLAT_UNARY(trunc, trunc)
OVXPLAT_UNARY(round, round)
#undef OVXPLAT_UNARY
inline float rsqrt(float x) { return 1.0f / std::sqrt(x); }
inline double rsqrt(double x) { return 1.0 / std::sqrt(x); }
inline float fma(float a, float b, float c) { return std::fma(a, b, c); }
inline double fma(double a, double b, double c) { return std::fma(a, b, c); }
inline float mad(float a, float b, float c) { return a * b + c; }
inline double mad(double a, double b, double c) { return a * b + c; }
inline float pow(float a, float b) { return std::pow(a, b); }
inline double pow(double a, double b) { return std::pow(a, b); }
inline float fmin(float a, float b) { return std::fmin(a, b); }
inline double fmin(double a, double b) { return std::fmin(a, b); }
inline float fmax(float a, float b) { return std::fmax(a, b); }
inline double fmax(double a, double b) { return std::fmax(a, b); }
inline float sincos(float x, float* c) { *c = std::cos(x); return std::sin(x); }
inline double sincos(double x, double* c) { *c = std::cos(x); return std::sin(x); }
template <typename T>
T min(T a, T b) { return b < a ? b : a; }
template <typename T>
T max(T a, T b) { return a < b ? b : a; }
template <typename T>
T clamp(T x, T lo, T hi) { return min(max(x, lo), hi); }

// ---------------------------------------------------------------- vec
template <typename T, int N>
class vec {
    static_assert(N == 1 || N == 2 || N == 3 || N == 4 || N == 8 || N == 16, "vec sizes 1, 2, 3, 4, 8, 16");

public:
    using element_type = T;
    using value_type = T;
    vec() : v_{} {}
    explicit vec(const T& s) {
        for (int i = 0; i < N; ++i) v_[i] = s;
    }
    template <typename... A, typename = std::enable_if_t<(sizeof...(A) == N && N > 1)>>
    vec(const A&... a) : v_{static_cast<T>(a)...} {}
    static constexpr std::size_t size() noexcept { return N; }
    std::size_t get_count() const { return N; }
    std::size_t byte_size() const noexcept { return sizeof(v_); }
    T& operator[](int i) { return v_[i]; }
    const T& operator[](int i) const { return v_[i]; }
#define OVXPLAT_ELEM(NAME, I)                                                \
    template <int NN = N, typename = std::enable_if_t<(NN > I)>>             \
    T& NAME() { return v_[I]; }                                              \
    template <int NN = N, typename = std::enable_if_t<(NN > I)>>             \
    const T& NAME() const { return v_[I]; }
    OVXPLAT_ELEM(x, 0)
    OVXPLAT_ELEM(y, 1)
    OVXPLAT_ELEM(z, 2)
    OVXPLAT_ELEM(w, 3)
    OVXPLAT_ELEM(s0, 0)
    OVXPLAT_ELEM(s1, 1)
    OVXPLAT_ELEM(s2, 2)
    OVXPLAT_ELEM(s3, 3)
    OVXPLAT_ELEM(s4, 4)
    OVXPLAT_ELEM(s5, 5)
    OVXPLAT_ELEM(s6, 6)
    OVXPLAT_ELEM(s7, 7)
#undef OVXPLAT_ELEM
    template <typename P>
    void load(std::size_t offset, P ptr) {
        for (int i = 0; i < N; ++i) v_[i] = ptr[offset * N + i];
    }
    template <typename P>
    void store(std::size_t offset, P ptr) const {
        for (int i = 0; i < N; ++i) ptr[offset * N + i] = v_[i];
    }
#define OVXPLAT_VOP(OP)                                                             \
    friend vec operator OP(const vec& a, const vec& b) {                            \
        vec r;                                                                      \
        for (int i = 0; i < N; ++i) r.v_[i] = a.v_[i] OP b.v_[i];                   \
        return r;                                                                   \
    }                                                                               \
    friend vec operator OP(const vec& a, const T& b) { return a OP vec(b); }        \
    friend vec operator OP(const T& a, const vec& b) { return vec(a) OP b; }        \
    vec& operator OP##=(const vec& b) { return *this = *this OP b; }                \
    vec& operator OP##=(const T& b) { return *this = *this OP vec(b); }
    OVXPLAT_VOP(+)
    OVXPLAT_VOP(-)
    OVXPLAT_VOP(*)
    OVXPLAT_VOP(/)
#undef OVXPLAT_VOP
    friend vec operator-(const vec& a) {
        vec r;
        for (int i = 0; i < N; ++i) r.v_[i] = -a.v_[i];
        return r;
    }
    friend bool operator==(const vec& a, const vec& b) {
        for (int i = 0; i < N; ++i)
            if (!(a.v_[i] == b.v_[i])) return false;
        return true;
    }
    friend bool operator!=(const vec& a, const vec& b) { return !(a == b); }

private:
    T v_[N];
};

#define OVXPLAT_VEC_ALIASES(T, NAME)   \
    using NAME##2 = vec<T, 2>;         \
    using NAME##3 = vec<T, 3>;         \
    using NAME##4 = vec<T, 4>;         \
    using NAME##8 = vec<T, 8>;         \
    using NAME##16 = vec<T, 16>;
OVXPLAT_VEC_ALIASES(float, float)
OVXPLAT_VEC_ALIASES(double, double)
OVXPLAT_VEC_ALIASES(int, int)
OVXPLAT_VEC_ALIASES(unsigned int, uint)
OVXPLAT_VEC_ALIASES(long, long)
OVXPLAT_VEC_ALIASES(unsigned long, ulong)
OVXPLAT_VEC_ALIASES(short, short)
OVXPLAT_VEC_ALIASES(char, char)
OVXPLAT_VEC_ALIASES(unsigned char, uchar)
#undef OVXPLAT_VEC_ALIASES

// ---------------------------------------------------------------- atomics
template <typename T, memory_order DefaultOrder = memory_order::relaxed,
          memory_scope DefaultScope = memory_scope::device,
          access::address_space AS = access::address_space::generic_space>
class atomic_ref {
    static_assert(std::is_arithmetic_v<T> || std::is_pointer_v<T>, "atomic_ref of arithmetic types");

public:
    using value_type = T;
    explicit atomic_ref(T& r) : p_(&r) {}
    T load(memory_order = DefaultOrder, memory_scope = DefaultScope) const {
        return __atomic_load_n(p_, __ATOMIC_SEQ_CST);
    }
    void store(T v, memory_order = DefaultOrder, memory_scope = DefaultScope) const {
        __atomic_store_n(p_, v, __ATOMIC_SEQ_CST);
    }
    operator T() const { return load(); }
    T exchange(T v, memory_order = DefaultOrder, memory_scope = DefaultScope) const {
        return __atomic_exchange_n(p_, v, __ATOMIC_SEQ_CST);
    }
    bool compare_exchange_strong(T& expected, T desired, memory_order = DefaultOrder,
                                 memory_scope = DefaultScope) const {
        return __atomic_compare_exchange_n(p_, &expected, desired, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    }
    bool compare_exchange_weak(T& expected, T desired, memory_order o = DefaultOrder,
                               memory_scope s = DefaultScope) const {
        return compare_exchange_strong(expected, desired, o, s);
    }
    T fetch_add(T v, memory_order = DefaultOrder, memory_scope = DefaultScope) const {
        if constexpr (std::is_integral_v<T>) {
            return __atomic_fetch_add(p_, v, __ATOMIC_SEQ_CST);
        } else {
            T old = load();
            while (!compare_exchange_strong(old, old + v)) {
            }
            return old;
        }
    }
    T fetch_sub(T v, memory_order o = DefaultOrder, memory_scope s = DefaultScope) const { return fetch_add(-v, o, s); }
    T fetch_min(T v, memory_order = DefaultOrder, memory_scope = DefaultScope) const {
        T old = load();
        while (v < old && !compare_exchange_strong(old, v)) {
        }
        return old;
    }
    T fetch_max(T v, memory_order = DefaultOrder, memory_scope = DefaultScope) const {
        T old = load();
        while (old < v && !compare_exchange_strong(old, v)) {
        }
        return old;
    }
    T operator+=(T v) const { return fetch_add(v) + v; }
    T operator-=(T v) const { return fetch_sub(v) - v; }
    T operator++() const { return fetch_add(T(1)) + T(1); }
    T operator++(int) const { return fetch_add(T(1)); }

private:
    T* p_;
};

}  // namespace _V1
}  // namespace sycl
