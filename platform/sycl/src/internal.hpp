// Internal objects of the SYCL stand-in runtime.
#pragma once

#include <sycl/sycl.hpp>

#include <ovxplat/profile.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

namespace sycl {
inline namespace _V1 {
namespace detail {

std::uint64_t now_ns();

// ---- OpenCL device behind the GPU (null handles when there is none)
struct cl_state {
    cl_platform_id platform = nullptr;
    cl_device_id device = nullptr;
    cl_context context = nullptr;
};
const cl_state& opencl();
std::string cl_error_name(cl_int e);

// ---- platforms and devices
struct platform_impl {
    bool gpu;
};

// One GPU device object per profile: a device keeps the description it was
// made with, and selecting another profile makes another device current.
struct device_impl {
    bool gpu = false;
    const ovxplat_gpu_profile* prof = nullptr;  // GPU devices (sub-devices share their root's)
    std::shared_ptr<device_impl> parent;  // null for root devices
    int tile = -1;                        // index among the parent's sub-devices
    std::mutex sub_mutex;
    std::vector<std::shared_ptr<device_impl>> subs;
    std::uint32_t subs_tiles = 0;
    const ovxplat_gpu_profile* profile() const { return prof ? prof : ovxplat_gpu_profile_current(); }
    backend get_backend() const;
};

std::shared_ptr<platform_impl> gpu_platform();
std::shared_ptr<platform_impl> cpu_platform();
// The GPU device of the profile in force.
std::shared_ptr<device_impl> gpu_device();
std::shared_ptr<device_impl> cpu_device();
bool device_has(const device_impl* d, aspect a);
std::size_t device_max_wg(const device_impl* d);
std::uint64_t device_local_mem(const device_impl* d);

struct context_impl {
    std::vector<std::shared_ptr<device_impl>> devices;
    std::shared_ptr<platform_impl> platform;
    async_handler handler;
    cl_context native = nullptr;  // retained when set
    backend native_backend = backend::opencl;
    std::uintptr_t l0_handle = 0;
    ~context_impl();
    bool has_device(const device_impl* d) const;
};
std::shared_ptr<context_impl> default_context(const std::shared_ptr<device_impl>& d);

// ---- events and commands
struct command;
struct event_impl {
    // All fields below are guarded by the scheduler lock.
    int state = 0;  // 0 submitted, 1 running, 2 complete
    // Complete, with the command's work and queue still to be destroyed
    // (outside the scheduler lock); the caller's waits wait for that too.
    bool releasing = false;
    // A host accessor's hold: running once the accessor has its region, and
    // complete when the accessor goes; `holder` is the accessor's thread.
    bool host_hold = false;
    std::thread::id holder;
    bool profiling = false;
    std::uint64_t t_submit = 0, t_start = 0, t_end = 0;
    std::vector<std::shared_ptr<command>> waiters;
    // Weak, so that a long chain of commands does not keep every predecessor alive.
    std::vector<std::weak_ptr<event_impl>> deps;
    std::exception_ptr error;
    std::weak_ptr<queue_impl> queue;
    backend be = backend::opencl;
    cl_event cl_user = nullptr;
    std::uintptr_t l0_token = 0;
    // An OpenCL launch enqueued at submission: its OpenCL event (retained)
    // and the in-order OpenCL queue it went to. A launch submitted later
    // whose unfinished dependencies all went to that queue is enqueued
    // behind them at once.
    cl_event native = nullptr;
    cl_command_queue native_queue = nullptr;
    ~event_impl();
};

struct queue_impl {
    std::shared_ptr<context_impl> ctx;
    std::shared_ptr<device_impl> dev;
    property_list props;
    bool in_order = false;
    bool profiling = false;
    async_handler handler;
    // Guarded by the scheduler lock.
    std::shared_ptr<event_impl> last;
    std::vector<std::shared_ptr<event_impl>> outstanding;
    std::vector<std::exception_ptr> errors;
    // Native queue for interop (created on request or given by make_queue).
    std::mutex native_mutex;
    cl_command_queue native = nullptr;
    // Set when the queue was made from a caller's native OpenCL queue: every
    // command then also fences that native queue (see finalize).
    bool native_given = false;
    std::uintptr_t l0_handle = 0;
    // Command groups submitted to this queue (ovxplat::queue_commands_submitted).
    std::atomic<std::uint64_t> submitted{0};
    ~queue_impl();
};

struct access_record {
    std::size_t lo, hi;
    bool write;
    std::shared_ptr<event_impl> ev;
};

struct buffer_impl {
    void* data = nullptr;
    std::size_t bytes = 0;
    bool svm = false;
    std::vector<access_record> history;  // guarded by the scheduler lock
    ~buffer_impl();
};

struct kernel_impl {
    cl_kernel k = nullptr;
    std::shared_ptr<context_impl> ctx;
    // Queried when the object is made (null / unknown when the query failed).
    cl_context cl_ctx = nullptr;
    cl_uint num_args = 0;
    bool num_args_known = false;
    // The kernel's work-group figures for launches that leave the work-group
    // size to the runtime, queried at the first such launch.
    std::once_flag wg_once;
    bool wg_known = false;
    std::size_t wg_reqd[3] = {0, 0, 0};
    std::size_t wg_max = 0;
    // The platform's OpenCL library, when the process had loaded it as the
    // object was made (held open while the object lives), and the entries
    // of it that launches call (see bind_opencl_entries).
    void* layer = nullptr;
    decltype(&clEnqueueNDRangeKernel) enqueue = &clEnqueueNDRangeKernel;
    decltype(&clGetKernelWorkGroupInfo) work_group_info = &clGetKernelWorkGroupInfo;
    ~kernel_impl();
};
// Sets the object's entries and figures once, so that launches ask for none.
void bind_opencl_entries(kernel_impl* k);

struct bundle_impl {
    std::shared_ptr<context_impl> ctx;
    std::vector<std::shared_ptr<device_impl>> devices;
    std::vector<kernel_id> ids;
    bundle_state state = bundle_state::input;
    std::mutex mutex;
    std::map<const void*, std::vector<char>> spec;
    // Executable bundles made by build: the constants as a flat table, read
    // by running kernels without the lock.
    using flat_entry = spec_entry;
    bool frozen = false;
    std::vector<flat_entry> flat;
    std::vector<char> flat_bytes;
    std::vector<int> slots;  // the table's index of flat
    spec_table table{};      // views flat, flat_bytes and slots once frozen
};

// ---- scheduling
// Waits until the event's command is complete; `released`: and until its
// work and queue are destroyed (the caller's waits, which then see every
// buffer that the work held written back).
void wait_event(const std::shared_ptr<event_impl>& e, bool released = false);
void release_held_commands();
void deliver_errors(const std::shared_ptr<queue_impl>& q, bool throw_without_handler);
std::shared_ptr<event_impl> make_complete_event();
void complete_external(const std::shared_ptr<event_impl>& e);

// ---- memory
void* svm_alloc(std::size_t bytes, std::size_t align);
void svm_free(void* p);

struct counters_t {
    std::atomic<std::uint64_t> submitted{0}, completed{0}, opencl{0}, host_kernels{0}, host_tasks{0};
    std::atomic<std::uint64_t> usm_live{0}, usm_bytes{0}, buffers{0};
};
counters_t& counters();

}  // namespace detail
}  // namespace _V1
}  // namespace sycl
