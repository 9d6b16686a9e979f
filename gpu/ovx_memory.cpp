// Memory of the backend layer: the vendor service allocator, or a bump arena
// over a block that the first node creation of the process hands in. The
// choice is made once per process.
#include "gpu/ovx_gpu.hpp"

#include <stdint.h>
#include <string.h>

#include <ovx_serv.h>

namespace {

enum { choice_none = -1, choice_service = 0, choice_arena = 1 };

constexpr size_t arena_alignment = 64;

volatile int32_t memory_lock = 0;
int memory_choice = choice_none;
uintptr_t arena_begin = 0;  // first byte of the caller's block
uintptr_t arena_next = 0;   // next free byte
uintptr_t arena_end = 0;    // one past the last byte

bool is_power_of_two(size_t v) { return v != 0 && (v & (v - 1)) == 0; }

// Caller holds memory_lock.
void choose_locked(const ovx_gpu_memory_block_t* block) {
    if (memory_choice != choice_none) return;
    if (block != nullptr && block->base != nullptr && block->size != 0) {
        arena_begin = reinterpret_cast<uintptr_t>(block->base);
        arena_end = arena_begin + block->size;
        if (arena_end < arena_begin) arena_end = UINTPTR_MAX;  // wrapped: clamp
        arena_next = arena_begin;
        memory_choice = choice_arena;
    } else {
        memory_choice = choice_service;
    }
}

}  // namespace

int ovx_gpu_memory_select(const ovx_gpu_memory_block_t* block) {
    ovx_serv_lock(&memory_lock);
    choose_locked(block);
    int choice = memory_choice;
    ovx_serv_unlock(&memory_lock);
    return choice;
}

void* ovx_gpu_bkd_calloc(size_t count, size_t size, size_t alignment, int flags) {
    (void)flags;
    if (alignment == 0) alignment = arena_alignment;
    if (!is_power_of_two(alignment) || alignment > (1u << 30)) return nullptr;
    if (size != 0 && count > SIZE_MAX / size) return nullptr;
    size_t bytes = count * size;

    ovx_serv_lock(&memory_lock);
    choose_locked(nullptr);
    if (memory_choice == choice_service) {
        ovx_serv_unlock(&memory_lock);
        void* p = ovx_serv_malloc(bytes, static_cast<int>(alignment));
        if (p != nullptr) memset(p, 0, bytes);
        return p;
    }
    // Bump arena: every block starts on a multiple of 64 (or of a larger
    // requested alignment); a block of 0 bytes still takes one unit so that
    // each allocation has its own address.
    size_t align = alignment > arena_alignment ? alignment : arena_alignment;
    void* result = nullptr;
    uintptr_t start = (arena_next + (align - 1)) & ~static_cast<uintptr_t>(align - 1);
    size_t take = bytes == 0 ? 1 : bytes;
    if (start >= arena_next && start <= arena_end && take <= arena_end - start) {
        arena_next = start + take;
        result = reinterpret_cast<void*>(start);
    }
    ovx_serv_unlock(&memory_lock);
    if (result != nullptr) memset(result, 0, bytes);
    return result;
}

void ovx_gpu_bkd_free(void* ptr) {
    if (ptr == nullptr) return;
    uintptr_t p = reinterpret_cast<uintptr_t>(ptr);
    ovx_serv_lock(&memory_lock);
    bool in_arena = memory_choice == choice_arena && p >= arena_begin && p < arena_end;
    ovx_serv_unlock(&memory_lock);
    if (!in_arena) ovx_serv_free(ptr);
}
