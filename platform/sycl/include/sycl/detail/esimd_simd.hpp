// Value vectors of the explicit-SIMD extension: simd, simd_view, alignment flags.
#pragma once

#include "core.hpp"

#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>
#include <utility>

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
[[noreturn]] __attribute__((noinline, cold)) inline void misuse(const char* what) {
    throw sycl::exception(sycl::make_error_code(errc::kernel), what);
}

OVXPLAT_SIMD_INLINE void check_aligned(const void* p, std::size_t a, const char* what) {
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

// Lanes of a power-of-two count up to 128 bytes live in a vector of the host
// compiler, so that lane-wise operations become vector instructions on
// registers; other lengths are plain arrays.
#if defined(__GNUC__)
template <typename T, int N>
constexpr bool native_v = N >= 2 && (N & (N - 1)) == 0 && sizeof(T) * N <= 128;
#else
template <typename T, int N>
constexpr bool native_v = false;
#endif

template <typename T, int N, bool = native_v<T, N>>
struct simd_storage {
    using type = T[N];
};
#if defined(__GNUC__)
template <typename T, int N>
struct simd_storage<T, N, true> {
    typedef T type __attribute__((vector_size(sizeof(T) * N)));
};
#endif

// Lane j of a vector of N lanes of which the view (Sz lanes, St apart, from
// Off on) covers some: the view's lane index there, or -1.
constexpr int view_lane(int j, int off, int sz, int st) {
    if (j < off || (j - off) % st != 0) return -1;
    const int k = (j - off) / st;
    return k < sz ? k : -1;
}
}  // namespace detail

template <typename Base, int Sz, int St>
class simd_view;

// N lanes of T. Operations work lane by lane.
template <typename T, int N>
class simd {
    static_assert(detail::valid_element_v<T>, "simd element types are the arithmetic types up to double");
    static_assert(N >= 1 && N <= 512, "simd length is 1 to 512");
    static constexpr bool native = detail::native_v<T, N>;
    using storage = typename detail::simd_storage<T, N>::type;

public:
    using element_type = T;
    using value_type = T;
    static constexpr int length = N;

    simd() = default;
    OVXPLAT_SIMD_INLINE simd(T v) {
        if constexpr (native) {
            splat(v, std::make_integer_sequence<int, N>{});
        } else {
            for (int i = 0; i < N; ++i) v_[i] = v;
        }
    }
    simd(T base, T step) {
        for (int i = 0; i < N; ++i) lane(i) = static_cast<T>(base + static_cast<T>(i) * step);
    }
    template <typename U, typename = std::enable_if_t<!std::is_same_v<U, T>>>
    simd(const simd<U, N>& o) {
        for (int i = 0; i < N; ++i) lane(i) = static_cast<T>(o[i]);
    }
    template <typename Flags = element_aligned_tag, typename = std::enable_if_t<is_simd_flag_type<Flags>::value>>
    OVXPLAT_SIMD_INLINE explicit simd(const T* p, Flags f = {}) {
        copy_from(p, f);
    }

    OVXPLAT_SIMD_INLINE T& operator[](int i) { return lane(i); }
    OVXPLAT_SIMD_INLINE const T& operator[](int i) const { return lane(i); }

    template <int Sz, int St = 1>
    OVXPLAT_SIMD_INLINE simd_view<simd, Sz, St> select(std::uint16_t offset = 0) {
        return simd_view<simd, Sz, St>(*this, offset);
    }
    template <int Sz, int St = 1>
    OVXPLAT_SIMD_INLINE simd<T, Sz> select(std::uint16_t offset = 0) const {
        check_select(Sz, St, offset);
        if constexpr (native && detail::native_v<T, Sz>) {
            // The offsets 0 and 1 known at compile time (the usual even and
            // odd lanes) are one shuffle.
            if (__builtin_constant_p(offset) && offset == 0) return gather_lanes<Sz, St, 0>();
            if constexpr (1 + (Sz - 1) * St < N)
                if (__builtin_constant_p(offset) && offset == 1) return gather_lanes<Sz, St, 1>();
        }
        simd<T, Sz> r;
        for (int i = 0; i < Sz; ++i) r[i] = lane(offset + i * St);
        return r;
    }

    // Contiguous loads and stores of USM memory, alignment checked per flag.
    template <typename Flags = element_aligned_tag, typename = std::enable_if_t<is_simd_flag_type<Flags>::value>>
    OVXPLAT_SIMD_INLINE void copy_from(const T* p, Flags = {}) {
        detail::check_aligned(p, Flags::template alignment<T, N>, "simd::copy_from: address not aligned as promised");
        std::memcpy(&v_, p, sizeof v_);
    }
    template <typename Flags = element_aligned_tag, typename = std::enable_if_t<is_simd_flag_type<Flags>::value>>
    OVXPLAT_SIMD_INLINE void copy_to(T* p, Flags = {}) const {
        detail::check_aligned(p, Flags::template alignment<T, N>, "simd::copy_to: address not aligned as promised");
        std::memcpy(p, &v_, sizeof v_);
    }
    // The same through an accessor at a byte offset within its range.
    template <typename Acc, typename Flags = element_aligned_tag,
              typename = std::enable_if_t<is_simd_flag_type<Flags>::value && !std::is_pointer_v<Acc>>>
    OVXPLAT_SIMD_INLINE void copy_from(const Acc& acc, std::uint32_t byte_offset, Flags f = {}) {
        copy_from(reinterpret_cast<const T*>(access(acc, byte_offset)), f);
    }
    template <typename Acc, typename Flags = element_aligned_tag,
              typename = std::enable_if_t<is_simd_flag_type<Flags>::value && !std::is_pointer_v<Acc>>>
    OVXPLAT_SIMD_INLINE void copy_to(const Acc& acc, std::uint32_t byte_offset, Flags f = {}) const {
        copy_to(reinterpret_cast<T*>(const_cast<char*>(access(acc, byte_offset))), f);
    }

    // Integer division keeps the promoted scalar arithmetic lane by lane;
    // the other operations are the vector ones when the lanes are native.
#define OVXPLAT_SIMD_OP(op, vec_ok)                                                 \
    friend OVXPLAT_SIMD_INLINE simd operator op(const simd& a, const simd& b) {     \
        simd r;                                                                     \
        if constexpr (native && (vec_ok)) {                                         \
            r.v_ = a.v_ op b.v_;                                                    \
        } else {                                                                    \
            for (int i = 0; i < N; ++i) r.lane(i) = static_cast<T>(a.lane(i) op b.lane(i)); \
        }                                                                           \
        return r;                                                                   \
    }                                                                               \
    friend OVXPLAT_SIMD_INLINE simd operator op(const simd& a, T b) { return a op simd(b); } \
    friend OVXPLAT_SIMD_INLINE simd operator op(T a, const simd& b) { return simd(a) op b; } \
    OVXPLAT_SIMD_INLINE simd& operator op##=(const simd& b) { return *this = *this op b; }
    OVXPLAT_SIMD_OP(+, true)
    OVXPLAT_SIMD_OP(-, true)
    OVXPLAT_SIMD_OP(*, true)
    OVXPLAT_SIMD_OP(/, std::is_floating_point_v<T>)
#undef OVXPLAT_SIMD_OP
    OVXPLAT_SIMD_INLINE simd operator-() const {
        simd r;
        if constexpr (native) {
            r.v_ = -v_;
        } else {
            for (int i = 0; i < N; ++i) r.lane(i) = static_cast<T>(-lane(i));
        }
        return r;
    }

private:
    static OVXPLAT_SIMD_INLINE void check_select(int sz, int st, int off) {
        if (off < 0 || off + (sz - 1) * st >= N) detail::misuse("simd::select: view runs past the vector");
    }
    template <typename Acc>
    static const char* access(const Acc& acc, std::uint32_t byte_offset) {
        if (static_cast<std::size_t>(byte_offset) + sizeof(T) * N > acc.byte_size())
            detail::misuse("simd::copy_from/copy_to: accessor offset past the accessor's range");
        return reinterpret_cast<const char*>(acc.get_pointer().get()) + byte_offset;
    }
    // Lane access; the host compiler's vectors alias their element type.
    OVXPLAT_SIMD_INLINE T& lane(int i) { return reinterpret_cast<T*>(&v_)[i]; }
    OVXPLAT_SIMD_INLINE const T& lane(int i) const { return reinterpret_cast<const T*>(&v_)[i]; }

#if defined(__GNUC__)
    template <int... J>
    OVXPLAT_SIMD_INLINE void splat(T v, std::integer_sequence<int, J...>) {
        v_ = storage{((void)J, v)...};
    }
    // The view's lanes as one shuffle: lanes Off, Off + St, ... of this vector.
    template <int Sz, int St, int Off, int... K>
    OVXPLAT_SIMD_INLINE simd<T, Sz> gather_lanes_of(std::integer_sequence<int, K...>) const {
        simd<T, Sz> r;
        r.v_ = __builtin_shufflevector(v_, v_, (Off + K * St)...);
        return r;
    }
    template <int Sz, int St, int Off>
    OVXPLAT_SIMD_INLINE simd<T, Sz> gather_lanes() const {
        return gather_lanes_of<Sz, St, Off>(std::make_integer_sequence<int, Sz>{});
    }
    // This vector with the view's lanes (Sz lanes, St apart, from Off on)
    // replaced by the lanes of v, as two shuffles.
    template <int Sz, int St, int Off, int... J>
    OVXPLAT_SIMD_INLINE void place_lanes_of(const simd<T, Sz>& v, std::integer_sequence<int, J...>) {
        storage wide;
        if constexpr (Sz == N) {
            wide = v.v_;
        } else {
            wide = __builtin_shufflevector(v.v_, v.v_,
                                           (detail::view_lane(J, Off, Sz, St) < 0 ? 0
                                                                                   : detail::view_lane(J, Off, Sz, St))...);
        }
        v_ = __builtin_shufflevector(v_, wide, (detail::view_lane(J, Off, Sz, St) < 0 ? J : N + J)...);
    }
    template <int Sz, int St, int Off>
    OVXPLAT_SIMD_INLINE void place_lanes(const simd<T, Sz>& v) {
        place_lanes_of<Sz, St, Off>(v, std::make_integer_sequence<int, N>{});
    }
#endif

    template <typename, int>
    friend class simd;
    template <typename, int, int>
    friend class simd_view;
    storage v_;
};

// Per-lane predicate: 1 active, 0 inactive.
template <int N>
using simd_mask = simd<std::uint16_t, N>;

// Sz lanes of a vector, St apart from offset on: reads give a simd<T, Sz>,
// writes go to the viewed lanes.
template <typename Base, int Sz, int St>
class simd_view {
    using T = typename Base::element_type;
    static constexpr bool shuffles = Base::native && detail::native_v<T, Sz>;

public:
    using value_type = simd<T, Sz>;
    OVXPLAT_SIMD_INLINE simd_view(Base& b, std::uint16_t off) : b_(b), off_(off) {
        if (off + (Sz - 1) * St >= Base::length) detail::misuse("simd::select: view runs past the vector");
    }
    OVXPLAT_SIMD_INLINE operator simd<T, Sz>() const { return read(); }
    OVXPLAT_SIMD_INLINE simd<T, Sz> read() const {
        return static_cast<const Base&>(b_).template select<Sz, St>(static_cast<std::uint16_t>(off_));
    }
    OVXPLAT_SIMD_INLINE simd_view& operator=(const simd<T, Sz>& v) {
        if constexpr (shuffles) {
            if (__builtin_constant_p(off_) && off_ == 0) {
                b_.template place_lanes<Sz, St, 0>(v);
                return *this;
            }
            if constexpr (1 + (Sz - 1) * St < Base::length)
                if (__builtin_constant_p(off_) && off_ == 1) {
                    b_.template place_lanes<Sz, St, 1>(v);
                    return *this;
                }
        }
        for (int i = 0; i < Sz; ++i) b_[off_ + i * St] = v[i];
        return *this;
    }
    OVXPLAT_SIMD_INLINE simd_view& operator=(const simd_view& v) { return *this = v.read(); }
    OVXPLAT_SIMD_INLINE simd_view& operator=(T v) { return *this = simd<T, Sz>(v); }
    OVXPLAT_SIMD_INLINE simd_view& operator+=(const simd<T, Sz>& v) { return *this = read() + v; }
    OVXPLAT_SIMD_INLINE simd_view& operator-=(const simd<T, Sz>& v) { return *this = read() - v; }
    OVXPLAT_SIMD_INLINE simd_view& operator*=(const simd<T, Sz>& v) { return *this = read() * v; }
    OVXPLAT_SIMD_INLINE T operator[](int i) const { return b_[off_ + i * St]; }

private:
    Base& b_;
    int off_;
};

}  // namespace esimd
}  // namespace tarvo
}  // namespace ext
}  // namespace _V1
}  // namespace sycl
