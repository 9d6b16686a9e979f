// The rounding rule of sizes and offsets inside a GPU workspace (no device
// needed; align_workspace_offset in areas.hpp applies it with the device's
// alignment).
#ifndef OVX_DFT_GPU_FRAME_ALIGN_HPP
#define OVX_DFT_GPU_FRAME_ALIGN_HPP

#include <cstdint>

// For a device whose base-address alignment is `align_bytes` bytes:
// a = max(align_bytes, 16), r = min(align_bytes, 16); the least multiple of a
// at or above `bytes` that r divides. 0 stays 0. An alignment of 0 bytes (a
// device reporting fewer than 8 bits) counts as 1 byte, so that the rule still
// yields a multiple of 16 instead of dividing by zero.
inline std::uint64_t align_workspace_bytes(std::uint64_t bytes, std::uint32_t align_bytes) {
    const std::uint64_t b = align_bytes == 0 ? 1 : align_bytes;
    const std::uint64_t a = b > 16 ? b : 16;
    const std::uint64_t r = b < 16 ? b : 16;
    std::uint64_t v = (bytes + a - 1) - ((bytes + a - 1) % a);
    while (v % r != 0) v += a;
    return v;
}

// The base-address alignment that a workspace estimate made before the
// device is known assumes: the largest one the supported devices report
// (1024 bits), so that the estimate covers the areas as any of them places
// them.
constexpr std::uint32_t kEstimateAlignBytes = 128;

#endif
