// Checked arithmetic on the sizes of a transform (lengths, strides, distances,
// offsets and their products), in plain standard C++: each operation answers
// false instead of wrapping when the result does not fit.
#ifndef OVX_DFT_CONTRACT_OVX_DFT_CHECKED_HPP
#define OVX_DFT_CONTRACT_OVX_DFT_CHECKED_HPP

#include <cstdint>
#include <limits>

namespace ovx_checked {

// r = a * b for non-negative a and b; false when negative or out of range.
inline bool mul(std::int64_t a, std::int64_t b, std::int64_t& r) {
    if (a < 0 || b < 0) return false;
    if (a != 0 && b > std::numeric_limits<std::int64_t>::max() / a) return false;
    r = a * b;
    return true;
}

// r = a * b for operands of either sign (strides may be negative); false
// when out of range.
inline bool mul_signed(std::int64_t a, std::int64_t b, std::int64_t& r) {
    constexpr std::int64_t hi = std::numeric_limits<std::int64_t>::max(), lo = std::numeric_limits<std::int64_t>::min();
    const bool out = a > 0 ? (b > 0 ? a > hi / b : b < lo / a) : (b > 0 ? a < lo / b : a != 0 && b < hi / a);
    if (out) return false;
    r = a * b;
    return true;
}

// r = a + b for non-negative a and b; false when negative or out of range.
inline bool add(std::int64_t a, std::int64_t b, std::int64_t& r) {
    if (a < 0 || b < 0) return false;
    if (b > std::numeric_limits<std::int64_t>::max() - a) return false;
    r = a + b;
    return true;
}

// r = a * b + c for non-negative operands.
inline bool mul_add(std::int64_t a, std::int64_t b, std::int64_t c, std::int64_t& r) {
    std::int64_t p;
    return mul(a, b, p) && add(p, c, r);
}

}  // namespace ovx_checked

#endif
