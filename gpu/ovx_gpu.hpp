// Internal services of the runtime layer used by the rest of the library:
// bounded formatting, the device backend query, the unload cleanup registry,
// the verbose nesting depth and the backend layer's memory.
//
// The exported GPU services (device queries, kernel cache, verbose lines) are
// declared in <korami/ovx/gpu.hpp>, the exceptions in
// <korami/ovx/exceptions.hpp>; this header includes both.
#ifndef OVX_GPU_OVX_GPU_HPP
#define OVX_GPU_OVX_GPU_HPP

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "korami/ovx/exceptions.hpp"
#include "korami/ovx/gpu.hpp"

#if defined(__GNUC__)
#define OVX_PRINTF_LIKE(f, a) __attribute__((format(printf, f, a)))
#else
#define OVX_PRINTF_LIKE(f, a)
#endif

// ---- formatting --------------------------------------------------------

// printf-style formatting into `buffer` of `size` bytes. Returns the length
// written (without the terminator), or -1 when the text does not fit, the
// format fails, or buffer/format is null or size is 0. Whenever size > 0 the
// buffer is terminated (a text that does not fit is cut at size - 1).
int bounded_snprintf(char* buffer, size_t size, const char* format, ...) OVX_PRINTF_LIKE(3, 4);

// Appends formatted text at `pos`, which has room for *remaining characters
// plus a terminator. On success returns pos advanced by the formatted length
// and lowers *remaining by it. When the text does not fit or formatting fails,
// returns pos + *remaining (the end of the space, terminated) and sets
// *remaining to 0. A null pos or remaining returns pos unchanged.
char* append_formatted(char* pos, size_t* remaining, const char* format, ...) OVX_PRINTF_LIKE(3, 4);

// printf-style output to the standard error stream.
void print_stderr(const char* format, ...) OVX_PRINTF_LIKE(1, 2);

namespace korami {
namespace ovx {
namespace gpu {

// Holds one of the service library's lock words for a scope: an exception
// thrown while it is held (an allocation that fails, a runtime error) gives
// it back instead of leaving every later caller waiting.
class lock_hold {
public:
    explicit lock_hold(volatile int32_t* word);
    ~lock_hold() { release(); }
    lock_hold(const lock_hold&) = delete;
    lock_hold& operator=(const lock_hold&) = delete;
    // Gives the word back before the end of the scope.
    void release();

private:
    volatile int32_t* word_;
};

// Backend of the queue's device: 0 OpenCL, 1 Level Zero, -1 any other (also
// for a null queue or a device whose record cannot be made).
int get_device_backend(sycl::queue* queue);

// What the library's planners know of a device, read once per device when
// its record is made (the generation detected on first demand). A query the
// device does not answer leaves the neutral value of its field.
struct device_facts {
    ovx_gpu_arch_t generation = OVX_GPU_ARCH_UNKNOWN;
    bool generation_known = false;       // the generation query succeeded (it may still be unknown, 0)
    int backend = -1;                    // 0 OpenCL, 1 Level Zero, -1 other
    int64_t min_sub_group = 0;           // smallest sub-group size, 0 without sub-groups
    bool sub_group8 = false;             // sub-groups of 8 are offered
    int64_t local_mem = 0;               // bytes of local memory of a work-group
    uint32_t align_bytes = 0;            // base-address alignment in bytes (mem_base_addr_align / 8)
    int tiles = 1;                       // sub-devices by partition, at least 1
    int64_t max_work_group = 0;
    int64_t compute_units = 0;
    int eu_count = 0;
    uint64_t global_mem = 0;
    uint64_t max_alloc = 0;
    std::string driver;                  // driver version, empty when the device does not tell
    bool hw_info = false;                // the GPU hardware queries below are answered
    int64_t eus_per_subslice = 0, threads_per_eu = 0, slices = 0, subslices_per_slice = 0;
};

// The facts of the queue's device. False (facts untouched, *status non-zero)
// for a null queue or when the device's record cannot be made.
bool get_device_facts(int* status, sycl::queue* queue, device_facts* facts);

// Verbose nesting depth of the calling thread (0 = outermost call).
int verbose_depth();

// As get_OCL_kernel_by_progname, for a source text of static storage that
// stays unchanged while the library is loaded (the library's stored kernel
// texts): the cache keys the program by the text's address as well as by the
// device, program name and options, so two stored texts never share a
// program, even under one program name and one option string.
sycl::kernel* get_OCL_kernel_by_stored_text(int* status, sycl::queue* queue, int domain,
                                            const char* program_name, const char* stored_text,
                                            const char* kernel_name, const char* options);

}  // namespace gpu
}  // namespace ovx
}  // namespace korami

// ---- unload cleanup registry ---------------------------------------------

// Registers a callback that frees a global table at unload. At most 32
// callbacks; they run newest first, once, from ovx_sycl_destructor or
// ovx_sycl_destructor_local. The first registration registers
// ovx_sycl_destructor with the vendor core library. A 33rd registration prints
// a service message and ends the process (ovx_serv_exit(1)); should the exit
// return, the callback is not stored and -1 is returned. Returns 0 otherwise.
// Thread-safe. A null callback is refused with -1.
int ovx_gpu_register_cleanup(void (*callback)(void));

// ---- memory of the backend layer -------------------------------------------

// A caller-provided memory block for the backend layer's allocations.
typedef struct ovx_gpu_memory_block_t {
    void* base;
    size_t size;
} ovx_gpu_memory_block_t;

// Chooses, once per process, where the backend layer's memory comes from: the
// first call decides. A null block (or one of size 0) selects the vendor
// service allocator; a block selects a 64-byte-aligned bump arena over it.
// Later calls change nothing. Returns the choice in force: 0 service
// allocator, 1 arena. Node creation calls it with its allocation context.
int ovx_gpu_memory_select(const ovx_gpu_memory_block_t* block);

// Zero-filled allocation of count * size bytes aligned to `alignment` (a power
// of two; 0 means 64) from the chosen memory. Null when out of memory, on
// overflow of count * size or for a bad alignment. `flags` is reserved (0).
// Without a prior ovx_gpu_memory_select the service allocator is chosen.
void* ovx_gpu_bkd_calloc(size_t count, size_t size, size_t alignment, int flags);

// Releases a block of ovx_gpu_bkd_calloc; null is ignored. Blocks of the bump
// arena are not reused (the arena belongs to its owner).
void ovx_gpu_bkd_free(void* ptr);

#endif
