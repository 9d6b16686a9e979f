// Value vectors of the explicit-SIMD extension: simd, simd_view, alignment flags.
#pragma once

#include "core.hpp"

#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

#define SYCL_ESIMD_KERNEL
#define SYCL_ESIMD_FUNCTION

// Vector operations are always inlined: the transform bodies written with
// them are long straight-line code, past the compiler's usual inlining limits.
#if defined(__GNUC__)
#define OVXPLAT_SIMD_INLINE __attribute__((always_inline)) inline
#else
#define OVXPLAT_SIMD_INLINE inline
#endif

namespace sycl {
inline namespace _V1 {
namespace ext {
namespace tarvo {
namespace esimd {

// Alignment promises of block loads and stores.
struct element_aligned_tag {
    template <typename T, int N>
    static constexpr std::size_t alignment = alignof(T);
};
struct vector_aligned_tag {
    template <typename T, int N>
    static constexpr std::size_t alignment = sizeof(T) * N;
};
template <unsigned A>
struct overaligned_tag {
    static_assert(A != 0 && (A & (A - 1)) == 0, "overaligned<A> needs a power of two");
    template <typename T, int N>
    static constexpr std::size_t alignment = A;
};
inline constexpr element_aligned_tag element_aligned{};
inline constexpr vector_aligned_tag vector_aligned{};
template <unsigned A>
inline constexpr overaligned_tag<A> overaligned{};

template <typename T>
struct is_simd_flag_type : std::false_type {};
template <>
struct is_simd_flag_type<element_aligned_tag> : std::true_type {};
template <>
struct is_simd_flag_type<vector_aligned_tag> : std::true_type {};
template <unsigned A>
struct is_simd_flag_type<overaligned_tag<A>> : std::true_type {};

namespace detail {
inline void misuse(const char* what) { throw sycl::exception(sycl::make_error_code(errc::kernel), what); }

inline void check_aligned(const void* p, std::size_t a, const char* what) {
    if (reinterpret_cast<std::uintptr_t>(p) % a != 0) misuse(what);
}

template <typename T>
constexpr bool valid_element_v = std::is_arithmetic_v<T> && !std::is_same_v<T, bool> && !std::is_same_v<T, long double>;

template <typename T>
T poison() {
    if constexpr (std::is_floating_point_v<T>) {
        return std::numeric_limits<T>::quiet_NaN();
    } else {
        T v;
        std::memset(&v, 0xCD, sizeof v);
        return v;
    }
}
}  // namespace detail

template <typename Base, int Sz, int St>
class simd_view;

// N lanes of T. Operations work lane by lane; the loops have fixed trip
// counts, which the host compiler vectorises.
template <typename T, int N>
class simd {
    static_assert(detail::valid_element_v<T>, "simd element types are the arithmetic types up to double");
    static_assert(N >= 1 && N <= 512, "simd length is 1 to 512");

public:
    using element_type = T;
    using value_type = T;
    static constexpr int length = N;

    simd() = default;
    OVXPLAT_SIMD_INLINE simd(T v) {
        for (int i = 0; i < N; ++i) v_[i] = v;
    }
    simd(T base, T step) {
        for (int i = 0; i < N; ++i) v_[i] = static_cast<T>(base + static_cast<T>(i) * step);
    }
    template <typename U, typename = std::enable_if_t<!std::is_same_v<U, T>>>
    simd(const simd<U, N>& o) {
        for (int i = 0; i < N; ++i) v_[i] = static_cast<T>(o[i]);
    }
    template <typename Flags = element_aligned_tag, typename = std::enable_if_t<is_simd_flag_type<Flags>::value>>
    explicit simd(const T* p, Flags f = {}) {
        copy_from(p, f);
    }

    OVXPLAT_SIMD_INLINE T& operator[](int i) { return v_[i]; }
    OVXPLAT_SIMD_INLINE const T& operator[](int i) const { return v_[i]; }

    template <int Sz, int St = 1>
    simd_view<simd, Sz, St> select(std::uint16_t offset = 0) {
        return simd_view<simd, Sz, St>(*this, offset);
    }
    template <int Sz, int St = 1>
    simd<T, Sz> select(std::uint16_t offset = 0) const {
        check_select(Sz, St, offset);
        simd<T, Sz> r;
        for (int i = 0; i < Sz; ++i) r[i] = v_[offset + i * St];
        return r;
    }

    // Contiguous loads and stores of USM memory, alignment checked per flag.
    template <typename Flags = element_aligned_tag, typename = std::enable_if_t<is_simd_flag_type<Flags>::value>>
    void copy_from(const T* p, Flags = {}) {
        detail::check_aligned(p, Flags::template alignment<T, N>, "simd::copy_from: address not aligned as promised");
        std::memcpy(v_, p, sizeof v_);
    }
    template <typename Flags = element_aligned_tag, typename = std::enable_if_t<is_simd_flag_type<Flags>::value>>
    void copy_to(T* p, Flags = {}) const {
        detail::check_aligned(p, Flags::template alignment<T, N>, "simd::copy_to: address not aligned as promised");
        std::memcpy(p, v_, sizeof v_);
    }
    // The same through an accessor at a byte offset within its range.
    template <typename Acc, typename Flags = element_aligned_tag,
              typename = std::enable_if_t<is_simd_flag_type<Flags>::value && !std::is_pointer_v<Acc>>>
    void copy_from(const Acc& acc, std::uint32_t byte_offset, Flags f = {}) {
        copy_from(reinterpret_cast<const T*>(access(acc, byte_offset)), f);
    }
    template <typename Acc, typename Flags = element_aligned_tag,
              typename = std::enable_if_t<is_simd_flag_type<Flags>::value && !std::is_pointer_v<Acc>>>
    void copy_to(const Acc& acc, std::uint32_t byte_offset, Flags f = {}) const {
        copy_to(reinterpret_cast<T*>(const_cast<char*>(access(acc, byte_offset))), f);
    }

#define OVXPLAT_SIMD_OP(op)                                                \
    friend OVXPLAT_SIMD_INLINE simd operator op(const simd& a, const simd& b) { \
        simd r;                                                            \
        for (int i = 0; i < N; ++i) r.v_[i] = static_cast<T>(a.v_[i] op b.v_[i]); \
        return r;                                                          \
    }                                                                      \
    friend OVXPLAT_SIMD_INLINE simd operator op(const simd& a, T b) { return a op simd(b); } \
    friend OVXPLAT_SIMD_INLINE simd operator op(T a, const simd& b) { return simd(a) op b; } \
    OVXPLAT_SIMD_INLINE simd& operator op##=(const simd& b) {              \
        for (int i = 0; i < N; ++i) v_[i] = static_cast<T>(v_[i] op b.v_[i]); \
        return *this;                                                      \
    }
    OVXPLAT_SIMD_OP(+)
    OVXPLAT_SIMD_OP(-)
    OVXPLAT_SIMD_OP(*)
    OVXPLAT_SIMD_OP(/)
#undef OVXPLAT_SIMD_OP
    OVXPLAT_SIMD_INLINE simd operator-() const {
        simd r;
        for (int i = 0; i < N; ++i) r.v_[i] = static_cast<T>(-v_[i]);
        return r;
    }

private:
    static void check_select(int sz, int st, int off) {
        if (off < 0 || off + (sz - 1) * st >= N) detail::misuse("simd::select: view runs past the vector");
    }
    template <typename Acc>
    static const char* access(const Acc& acc, std::uint32_t byte_offset) {
        if (static_cast<std::size_t>(byte_offset) + sizeof(T) * N > acc.byte_size())
            detail::misuse("simd::copy_from/copy_to: accessor offset past the accessor's range");
        return reinterpret_cast<const char*>(acc.get_pointer().get()) + byte_offset;
    }
    template <typename, int, int>
    friend class simd_view;
    T v_[N];
};

// Per-lane predicate: 1 active, 0 inactive.
template <int N>
using simd_mask = simd<std::uint16_t, N>;

// Sz lanes of a vector, St apart from offset on: reads give a simd<T, Sz>,
// writes go to the viewed lanes.
template <typename Base, int Sz, int St>
class simd_view {
    using T = typename Base::element_type;

public:
    using value_type = simd<T, Sz>;
    simd_view(Base& b, std::uint16_t off) : b_(b), off_(off) {
        if (off + (Sz - 1) * St >= Base::length) detail::misuse("simd::select: view runs past the vector");
    }
    operator simd<T, Sz>() const { return read(); }
    simd<T, Sz> read() const {
        simd<T, Sz> r;
        for (int i = 0; i < Sz; ++i) r[i] = b_[off_ + i * St];
        return r;
    }
    simd_view& operator=(const simd<T, Sz>& v) {
        for (int i = 0; i < Sz; ++i) b_[off_ + i * St] = v[i];
        return *this;
    }
    simd_view& operator=(const simd_view& v) { return *this = v.read(); }
    simd_view& operator=(T v) { return *this = simd<T, Sz>(v); }
    simd_view& operator+=(const simd<T, Sz>& v) { return *this = read() + v; }
    simd_view& operator-=(const simd<T, Sz>& v) { return *this = read() - v; }
    simd_view& operator*=(const simd<T, Sz>& v) { return *this = read() * v; }
    T operator[](int i) const { return b_[off_ + i * St]; }

private:
    Base& b_;
    int off_;
};

}  // namespace esimd
}  // namespace tarvo
}  // namespace ext
}  // namespace _V1
}  // namespace sycl
