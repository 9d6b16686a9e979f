// Controls of the SYCL stand-in for tests, benchmarks and the demonstration.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sycl {
inline namespace _V1 {
class queue;
}
}  // namespace sycl

namespace ovxplat {

// Selects the GPU device profile by name (see <ovxplat/profile.h>); false when
// there is no such profile. Device queries answer from the new profile at once.
bool select_gpu_profile(const std::string& name);
// Name of the profile in force.
std::string current_gpu_profile();
// Names of every profile.
std::vector<std::string> gpu_profile_names();

// Selects a profile for the lifetime of the object and restores the previous one.
class scoped_gpu_profile {
public:
    explicit scoped_gpu_profile(const std::string& name);
    ~scoped_gpu_profile();
    scoped_gpu_profile(const scoped_gpu_profile&) = delete;
    scoped_gpu_profile& operator=(const scoped_gpu_profile&) = delete;
    bool ok() const { return ok_; }

private:
    std::string previous_;
    bool ok_;
};

// Shuffled mode (also switched on by OVXPLAT_SHUFFLE=1): commands of
// out-of-order queues whose dependencies are met are held back briefly and
// started in random order, so that a missing dependency shows up.
void set_shuffle_mode(bool on);
bool shuffle_mode();

// Whether the machine's OpenCL device could be opened (OpenCL kernels need it).
bool opencl_available();

struct sycl_counters {
    std::uint64_t commands_submitted;
    std::uint64_t commands_completed;
    std::uint64_t opencl_launches;
    std::uint64_t host_kernel_launches;
    std::uint64_t host_tasks;
    std::uint64_t usm_live_allocations;
    std::uint64_t usm_live_bytes;
    std::uint64_t buffers_live;
};
sycl_counters get_sycl_counters();

// Command groups submitted to this queue (and its copies) since it was made,
// so that a test can tell on which queue a library ran its work.
std::uint64_t queue_commands_submitted(const sycl::queue& q);

}  // namespace ovxplat
