// Counters of the kernel cache, for tests of the runtime layer.
#ifndef OVX_GPU_OVX_GPU_TESTING_HPP
#define OVX_GPU_OVX_GPU_TESTING_HPP

#include <stdint.h>

namespace korami {
namespace ovx {
namespace gpu {

struct kernel_cache_stats {
    int64_t programs_built;     // source programs built successfully
    int64_t builds_failed;      // source builds that failed
    int64_t binaries_built;     // binary programs made successfully
    int64_t binaries_failed;    // binary programs refused
    int64_t cache_hits;         // requests served by an existing program
    int64_t kernels_created;    // kernel objects handed out by get_OCL_kernel_by_progname
    int64_t programs_cached;    // programs held by the cache now
};

kernel_cache_stats get_kernel_cache_stats();

// Number of device records held now.
int device_record_count();

}  // namespace gpu
}  // namespace ovx
}  // namespace korami

#endif
