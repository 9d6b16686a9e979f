// Memory access of the explicit-SIMD extension: gathers and scatters of USM
// and accessor memory, shared local memory (SLM) and the work-group barrier.
#pragma once

#include "esimd_simd.hpp"

namespace sycl {
inline namespace _V1 {
namespace detail {
// SLM of the running work-group, declared once per group by slm_init (every
// item with the same size, at most the device's local memory): 0 when
// declared, 1 outside an nd_range launch, 2 above the local memory, 3 when
// the group's items declare different sizes.
OVXPLAT_SYCL_EXPORT int esimd_slm_init(std::uint32_t bytes);
// The group's SLM and its declared size; null before slm_init.
OVXPLAT_SYCL_EXPORT char* esimd_slm_span(std::uint32_t* size);
// The same as a record of the calling thread, read by the SLM accesses: the
// record's address is fixed for the thread's life (the items of a group all
// run on one thread), so a kernel fetches it once; its fields change with
// slm_init and between groups.
struct esimd_slm_state {
    char* base;
    std::uint32_t size;
    std::uint32_t declared;
};
OVXPLAT_SYCL_EXPORT esimd_slm_state* esimd_slm_current() __attribute__((const));
}  // namespace detail

namespace ext {
namespace tarvo {
namespace esimd {

namespace detail {
// [offset, offset + bytes) of the group's SLM.
OVXPLAT_SIMD_INLINE const sycl::detail::esimd_slm_state& slm_state() {
    const sycl::detail::esimd_slm_state* s = sycl::detail::esimd_slm_current();
    if (!s->declared) misuse("esimd: shared local memory used without slm_init");
    return *s;
}
OVXPLAT_SIMD_INLINE char* slm_at(std::uint32_t offset, std::uint32_t bytes) {
    const sycl::detail::esimd_slm_state& s = slm_state();
    if (std::uint64_t(offset) + bytes > s.size) misuse("esimd: shared local memory access past the slm_init size");
    return s.base + offset;
}

template <int N>
constexpr bool valid_gather_length_v = N == 1 || N == 2 || N == 4 || N == 8 || N == 16 || N == 32;

template <typename Acc>
char* acc_lane(const Acc& acc, std::uint64_t byte_offset, std::size_t bytes) {
    if (byte_offset + bytes > acc.byte_size()) misuse("esimd gather/scatter: accessor offset past the accessor's range");
    return reinterpret_cast<char*>(const_cast<std::remove_const_t<typename Acc::value_type>*>(acc.get_pointer().get())) +
           byte_offset;
}
}  // namespace detail

// ---- USM gathers and scatters: lane i reads or writes p + byte_offsets[i].
template <typename T, int N>
simd<T, N> gather(const T* p, const simd<std::uint32_t, N>& byte_offsets, const simd_mask<N>& mask = 1) {
    static_assert(detail::valid_gather_length_v<N>, "gather length is 1, 2, 4, 8, 16 or 32");
    simd<T, N> r;
    for (int i = 0; i < N; ++i) {
        if (!mask[i]) {
            r[i] = detail::poison<T>();
            continue;
        }
        const T* a = reinterpret_cast<const T*>(reinterpret_cast<const char*>(p) + byte_offsets[i]);
        detail::check_aligned(a, alignof(T), "esimd::gather: lane address not aligned to its element");
        r[i] = *a;
    }
    return r;
}
template <typename T, int N>
void scatter(T* p, const simd<std::uint32_t, N>& byte_offsets, const simd<T, N>& vals, const simd_mask<N>& mask = 1) {
    static_assert(detail::valid_gather_length_v<N>, "scatter length is 1, 2, 4, 8, 16 or 32");
    for (int i = 0; i < N; ++i) {
        if (!mask[i]) continue;
        T* a = reinterpret_cast<T*>(reinterpret_cast<char*>(p) + byte_offsets[i]);
        detail::check_aligned(a, alignof(T), "esimd::scatter: lane address not aligned to its element");
        *a = vals[i];
    }
}

// ---- Accessor gathers and scatters, offsets checked against the range.
template <typename T, int N, typename Acc, typename = std::enable_if_t<!std::is_pointer_v<Acc>>>
simd<T, N> gather(const Acc& acc, const simd<std::uint32_t, N>& byte_offsets, std::uint32_t glob_offset = 0,
                  const simd_mask<N>& mask = 1) {
    static_assert(detail::valid_gather_length_v<N>, "gather length is 1, 2, 4, 8, 16 or 32");
    simd<T, N> r;
    for (int i = 0; i < N; ++i) {
        if (!mask[i]) {
            r[i] = detail::poison<T>();
            continue;
        }
        const char* a = detail::acc_lane(acc, std::uint64_t(glob_offset) + byte_offsets[i], sizeof(T));
        detail::check_aligned(a, alignof(T), "esimd::gather: lane address not aligned to its element");
        std::memcpy(&r[i], a, sizeof(T));
    }
    return r;
}
template <typename T, int N, typename Acc, typename = std::enable_if_t<!std::is_pointer_v<Acc>>>
void scatter(const Acc& acc, const simd<std::uint32_t, N>& byte_offsets, const simd<T, N>& vals, std::uint32_t glob_offset = 0,
             const simd_mask<N>& mask = 1) {
    static_assert(detail::valid_gather_length_v<N>, "scatter length is 1, 2, 4, 8, 16 or 32");
    for (int i = 0; i < N; ++i) {
        if (!mask[i]) continue;
        char* a = detail::acc_lane(acc, std::uint64_t(glob_offset) + byte_offsets[i], sizeof(T));
        detail::check_aligned(a, alignof(T), "esimd::scatter: lane address not aligned to its element");
        std::memcpy(a, &vals[i], sizeof(T));
    }
}

// ---- Block prefetch: a hint that the N elements from byte_offset on will
// be read soon. It reads nothing into the kernel, never faults and changes
// no memory; on the host it becomes cache-line prefetches into the
// second-level cache.
template <typename T, int N = 1>
OVXPLAT_SIMD_INLINE void prefetch(const T* p, std::uint64_t byte_offset = 0) {
    static_assert(N >= 1, "prefetch length is at least one element");
    constexpr std::uintptr_t line = 64;
    const std::uintptr_t a = reinterpret_cast<std::uintptr_t>(p) + byte_offset;
    const std::uintptr_t last = (a + sizeof(T) * N - 1) & ~(line - 1);
    for (std::uintptr_t c = a & ~(line - 1); c <= last; c += line) {
#if defined(__x86_64__)
        // A volatile statement, so that the compiler keeps a hint whose
        // loop computes nothing else.
        asm volatile("prefetcht1 (%0)" : : "r"(c));
#else
        __builtin_prefetch(reinterpret_cast<const void*>(c), 0, 2);
#endif
    }
}
// The same through an accessor; a span past the accessor's range is dropped.
template <typename T, int N = 1, typename Acc, typename = std::enable_if_t<!std::is_pointer_v<Acc>>>
OVXPLAT_SIMD_INLINE void prefetch(const Acc& acc, std::uint64_t byte_offset) {
    if (byte_offset + sizeof(T) * N > acc.byte_size()) return;
    prefetch<T, N>(reinterpret_cast<const T*>(acc.get_pointer().get()), byte_offset);
}

// ---- Shared local memory.
inline void slm_init(std::uint32_t bytes) {
    switch (sycl::detail::esimd_slm_init(bytes)) {
        case 0: return;
        case 1: detail::misuse("esimd::slm_init used outside an nd_range launch"); return;
        case 2:
            throw sycl::exception(sycl::make_error_code(errc::memory_allocation),
                                  "esimd::slm_init: the size exceeds the device's local memory size");
        default: detail::misuse("esimd::slm_init: the work-items of a group declare different sizes");
    }
}
template <std::uint32_t Bytes>
void slm_init() {
    slm_init(Bytes);
}

// Contiguous SLM access: the offset is 16-byte aligned.
template <typename T, int N>
OVXPLAT_SIMD_INLINE simd<T, N> slm_block_load(std::uint32_t byte_offset) {
    static_assert(sizeof(T) * N % 16 == 0, "SLM block access moves whole 16-byte units");
    if (byte_offset % 16) detail::misuse("esimd::slm_block_load: offset not 16-byte aligned");
    simd<T, N> r;
    std::memcpy(&r[0], detail::slm_at(byte_offset, sizeof(T) * N), sizeof(T) * N);
    return r;
}
template <typename T, int N>
OVXPLAT_SIMD_INLINE void slm_block_store(std::uint32_t byte_offset, const simd<T, N>& vals) {
    static_assert(sizeof(T) * N % 16 == 0, "SLM block access moves whole 16-byte units");
    if (byte_offset % 16) detail::misuse("esimd::slm_block_store: offset not 16-byte aligned");
    std::memcpy(detail::slm_at(byte_offset, sizeof(T) * N), &vals[0], sizeof(T) * N);
}
template <typename T, int N>
OVXPLAT_SIMD_INLINE simd<T, N> slm_gather(const simd<std::uint32_t, N>& byte_offsets, const simd_mask<N>& mask = 1) {
    static_assert(detail::valid_gather_length_v<N>, "slm_gather length is 1, 2, 4, 8, 16 or 32");
    const sycl::detail::esimd_slm_state& s = detail::slm_state();
    const std::uint32_t size = s.size;
    const char* base = s.base;
    simd<T, N> r;
    for (int i = 0; i < N; ++i) {
        if (!mask[i]) {
            r[i] = detail::poison<T>();
            continue;
        }
        if (byte_offsets[i] % alignof(T)) detail::misuse("esimd::slm_gather: lane offset not aligned to its element");
        if (std::uint64_t(byte_offsets[i]) + sizeof(T) > size) detail::slm_at(byte_offsets[i], sizeof(T));
        std::memcpy(&r[i], base + byte_offsets[i], sizeof(T));
    }
    return r;
}
template <typename T, int N>
OVXPLAT_SIMD_INLINE void slm_scatter(const simd<std::uint32_t, N>& byte_offsets, const simd<T, N>& vals, const simd_mask<N>& mask = 1) {
    static_assert(detail::valid_gather_length_v<N>, "slm_scatter length is 1, 2, 4, 8, 16 or 32");
    const sycl::detail::esimd_slm_state& s = detail::slm_state();
    const std::uint32_t size = s.size;
    char* base = s.base;
    for (int i = 0; i < N; ++i) {
        if (!mask[i]) continue;
        if (byte_offsets[i] % alignof(T)) detail::misuse("esimd::slm_scatter: lane offset not aligned to its element");
        if (std::uint64_t(byte_offsets[i]) + sizeof(T) > size) detail::slm_at(byte_offsets[i], sizeof(T));
        std::memcpy(base + byte_offsets[i], &vals[i], sizeof(T));
    }
}

// Work-group barrier; it also orders the group's SLM accesses.
inline void barrier() { sycl::detail::host_group_barrier(); }

}  // namespace esimd
}  // namespace tarvo
}  // namespace ext
}  // namespace _V1
}  // namespace sycl
