// The kernel cache: programs built at run time from OpenCL C text, or made
// from prebuilt device binaries, once per device, context and key, through
// the OpenCL entry points of the loader and the SYCL runtime's OpenCL
// interop.
//
// Concurrency: the first request for a key inserts an entry in the "building"
// state and builds outside the cache lock; concurrent requests for the same
// key wait on the entry until it is built or has failed. A failed entry is
// dropped from the cache (a later request builds again) after its waiters
// have been told.
#include <stdint.h>
#include <string.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include <ovx_serv.h>

#include "gpu/ovx_gpu.hpp"
#include "gpu/ovx_gpu_device.hpp"
#include "gpu/ovx_gpu_native.hpp"
#include "gpu/ovx_gpu_testing.hpp"
#include "gpu/ovx_opencl.hpp"

namespace korami {
namespace ovx {
namespace gpu {

namespace {

// Error number reported when the OpenCL library or one of its entry points
// is missing (the ICD loader's "no platform" code).
constexpr cl_int error_no_opencl = -1001;

struct binary_kernel {
    ovx_gpu_kernel_struct_t record{};
    std::string name;
};

struct program_entry {
    enum state_t { building, built, failed };
    std::mutex mutex;
    std::condition_variable done;
    state_t state = building;
    const ocl::entries* cl = nullptr;
    cl_program program = nullptr;
    // Failure description, composed per caller into the exception message.
    cl_int error = CL_SUCCESS;
    std::string what;       // what failed, without the log
    std::string build_log;  // driver's build log, may be empty
    bool fp64_refused = false;
    // Kernels of a binary program; they belong to the cache.
    std::vector<std::unique_ptr<binary_kernel>> kernels;
};

using cache_map = std::unordered_map<std::string, std::shared_ptr<program_entry>>;

volatile int32_t cache_lock = 0;
cache_map* cache = nullptr;
bool cache_cleanup_registered = false;

std::atomic<int64_t> count_built{0}, count_failed{0}, count_binaries{0}, count_binaries_failed{0},
    count_hits{0}, count_kernels{0};

void release_entry(program_entry& e) {
    for (auto& k : e.kernels) {
        delete k->record.kernel;
        k->record.kernel = nullptr;
        k->record.state = 0;
    }
    e.kernels.clear();
    if (e.program != nullptr && e.cl != nullptr && e.cl->clReleaseProgram != nullptr)
        e.cl->clReleaseProgram(e.program);
    e.program = nullptr;
}

void free_kernel_cache() {
    ovx_serv_lock(&cache_lock);
    cache_map* c = cache;
    cache = nullptr;
    cache_cleanup_registered = false;
    ovx_serv_unlock(&cache_lock);
    if (c == nullptr) return;
    for (auto& kv : *c) release_entry(*kv.second);
    delete c;
}

// The entry of `key`, inserted when new (then *builder is true). Null when
// memory runs out.
std::shared_ptr<program_entry> acquire(const std::string& key, bool* builder) {
    std::shared_ptr<program_entry> e;
    bool register_cleanup = false;
    ovx_serv_lock(&cache_lock);
    try {
        if (cache == nullptr) {
            cache = new cache_map();
            if (!cache_cleanup_registered) cache_cleanup_registered = register_cleanup = true;
        }
        auto it = cache->find(key);
        if (it != cache->end()) {
            e = it->second;
            *builder = false;
        } else {
            e = std::make_shared<program_entry>();
            cache->emplace(key, e);
            *builder = true;
        }
    } catch (const std::exception&) {
        e.reset();
    }
    ovx_serv_unlock(&cache_lock);
    if (register_cleanup) ovx_gpu_register_cleanup(free_kernel_cache);
    return e;
}

void forget(const std::string& key, const std::shared_ptr<program_entry>& e) {
    ovx_serv_lock(&cache_lock);
    if (cache != nullptr) {
        auto it = cache->find(key);
        if (it != cache->end() && it->second == e) cache->erase(it);
    }
    ovx_serv_unlock(&cache_lock);
}

void publish(program_entry& e, program_entry::state_t state) {
    {
        std::lock_guard<std::mutex> guard(e.mutex);
        e.state = state;
    }
    e.done.notify_all();
}

program_entry::state_t wait_for(program_entry& e) {
    std::unique_lock<std::mutex> guard(e.mutex);
    e.done.wait(guard, [&] { return e.state != program_entry::building; });
    return e.state;
}

// A program belongs to one SYCL device (its record: devices that share an
// OpenCL device may still differ, e.g. in double support) and one OpenCL
// context and device. `text` is the address of a stored source text whose
// identity joins the key, or null.
std::string make_key(char kind, const device_record* r, cl_context ctx, cl_device_id dev,
                     const std::string& a, const std::string& b, const void* text = nullptr) {
    char head[128];
    bounded_snprintf(head, sizeof head, "%c%p/%p/%p/%p/%zu:", kind, static_cast<const void*>(r),
                     static_cast<void*>(ctx), static_cast<void*>(dev), text, a.size());
    std::string key(head);
    key += a;
    key += b;
    return key;
}

uint64_t fnv1a(const uint8_t* p, uint64_t n) {
    uint64_t h = 1469598103934665603ull;
    for (uint64_t i = 0; i < n; ++i) {
        h ^= p[i];
        h *= 1099511628211ull;
    }
    return h;
}

std::string build_log_of(const ocl::entries* cl, cl_program p, cl_device_id dev) {
    size_t size = 0;
    if (cl->clGetProgramBuildInfo(p, dev, CL_PROGRAM_BUILD_LOG, 0, nullptr, &size) != CL_SUCCESS ||
        size == 0)
        return std::string();
    std::string log(size, '\0');
    if (cl->clGetProgramBuildInfo(p, dev, CL_PROGRAM_BUILD_LOG, size, &log[0], nullptr) != CL_SUCCESS)
        return std::string();
    while (!log.empty() && (log.back() == '\0' || log.back() == '\n' || log.back() == '\r' ||
                            log.back() == ' '))
        log.pop_back();
    return log;
}

const char* library_name(int domain) { return domain == domain_dft ? "DFT library" : "library"; }

std::string not_opencl_reason(const device_record* r) {
    if (r->backend == 1)
        return std::string("device '") + r->name +
               "' is a Level Zero device: " +
               (level_zero_available() ? "it has no OpenCL interface"
                                       : "the Level Zero driver is not available");
    return std::string("device '") + r->name + "' has no OpenCL interface";
}

[[noreturn]] void throw_opencl(int* status, cl_int code, sycl::errc errc, const std::string& text) {
    if (code == CL_SUCCESS) code = CL_INVALID_VALUE;
    if (status != nullptr) *status = code;
    std::string message = "OpenCL error " + std::to_string(code) + ": " + text;
    throw sycl::exception(sycl::make_error_code(errc), message);
}

void build_from_source(program_entry& e, const ocl::entries* cl, const native_handles& h,
                       const device_record* r, const char* program_name, const char* source,
                       const char* options) {
    e.cl = cl;
    cl_int err = CL_SUCCESS;
    const char* text = source;
    size_t length = strlen(source);
    cl_program p = cl->clCreateProgramWithSource(h.context, 1, &text, &length, &err);
    if (p == nullptr || err != CL_SUCCESS) {
        if (p != nullptr) cl->clReleaseProgram(p);
        e.error = err != CL_SUCCESS ? err : CL_OUT_OF_HOST_MEMORY;
        e.what = std::string("cannot create the program \"") + program_name + "\" for device '" +
                 r->name + "'";
        return;
    }
    err = cl->clBuildProgram(p, 1, &h.device, options, nullptr, nullptr);
    if (err != CL_SUCCESS) {
        e.error = err;
        try {
            e.build_log = build_log_of(cl, p, h.device);
        } catch (const std::exception&) {
            e.build_log.clear();  // out of memory: report without the log
        }
        cl->clReleaseProgram(p);
        e.fp64_refused = !r->fp64 && (e.build_log.find("double") != std::string::npos ||
                                      strstr(source, "cl_khr_fp64") != nullptr);
        e.what = std::string("program \"") + program_name + "\" failed to build for device '" +
                 r->name + "' with options \"" + options + "\"";
        return;
    }
    e.program = p;
}

std::string failure_message(const program_entry& e, int domain, const device_record* r,
                            const char* kernel_name) {
    std::string text;
    if (e.fp64_refused) {
        text = std::string("error: double type is not supported on this device: '") + r->name +
               "' kernel '" + kernel_name + "' (" + library_name(domain) + " " + e.what + ")";
    } else {
        text = std::string("the ") + library_name(domain) + " " + e.what + " (kernel '" +
               kernel_name + "')";
    }
    if (!e.build_log.empty()) text += "\nbuild log:\n" + e.build_log;
    return text;
}

// The kernel of a program built from source, keyed by device, program name,
// options and, when `stored` is set, the address of the source text.
sycl::kernel* kernel_from_source(int* status, sycl::queue* queue, int domain, const char* program_name,
                                 const char* source, bool stored, const char* kernel_name,
                                 const char* options, const char* entry) {
    if (queue == nullptr || program_name == nullptr || source == nullptr || kernel_name == nullptr)
        throw_opencl(status, CL_INVALID_VALUE, sycl::errc::invalid,
                     std::string(entry) + ": null queue, program name, source or kernel name");
    if (options == nullptr) options = "";

    int record_status = 0;
    device_record* r = get_device_record(&record_status, queue);
    if (r == nullptr)
        throw_opencl(status, CL_INVALID_DEVICE, sycl::errc::runtime,
                     "the device of the queue cannot be identified");
    if (r->backend != 0) throw_opencl(status, CL_INVALID_DEVICE, sycl::errc::runtime, not_opencl_reason(r));

    std::string reason;
    const ocl::entries* cl = ocl::load(&reason);
    if (cl == nullptr) throw_opencl(status, error_no_opencl, sycl::errc::runtime, reason);

    native_handles h;
    reason = get_natives(h, cl, queue);
    if (!reason.empty())
        throw_opencl(status, CL_INVALID_DEVICE, sycl::errc::runtime,
                     not_opencl_reason(r) + ": " + reason);

    const std::string key =
        make_key('S', r, h.context, h.device, program_name, options, stored ? source : nullptr);
    bool builder = false;
    std::shared_ptr<program_entry> e = acquire(key, &builder);
    if (!e) throw_opencl(status, CL_OUT_OF_HOST_MEMORY, sycl::errc::memory_allocation, "out of host memory");

    program_entry::state_t state;
    if (builder) {
        try {
            build_from_source(*e, cl, h, r, program_name, source, options);
        } catch (const std::exception&) {
            // Out of memory: the entry must still be published below, or its
            // waiters would wait for good, so the message may stay empty.
            e->error = CL_OUT_OF_HOST_MEMORY;
            try {
                e->what = std::string("program \"") + program_name + "\" could not be built: out of host memory";
            } catch (const std::exception&) {
                e->what.clear();
            }
        }
        state = e->program != nullptr ? program_entry::built : program_entry::failed;
        if (state == program_entry::failed) {
            forget(key, e);
            ++count_failed;
        } else {
            ++count_built;
        }
        publish(*e, state);
    } else {
        state = wait_for(*e);
        if (state == program_entry::built) ++count_hits;
    }
    if (state == program_entry::failed)
        throw_opencl(status, e->error, sycl::errc::build, failure_message(*e, domain, r, kernel_name));

    cl_int err = CL_SUCCESS;
    cl_kernel k = cl->clCreateKernel(e->program, kernel_name, &err);
    if (k == nullptr || err != CL_SUCCESS) {
        if (k != nullptr) cl->clReleaseKernel(k);
        throw_opencl(status, err != CL_SUCCESS ? err : CL_INVALID_KERNEL_NAME, sycl::errc::build,
                     std::string("kernel '") + kernel_name + "' cannot be created from the " +
                         library_name(domain) + " program \"" + program_name + "\"");
    }
    sycl::kernel* result = nullptr;
    std::string failure;
    try {
        result = new sycl::kernel(sycl::make_kernel<sycl::backend::opencl>(k, queue->get_context()));
    } catch (const std::exception& ex) {
        failure = ex.what();
    }
    cl->clReleaseKernel(k);  // the SYCL kernel holds its own reference
    if (result == nullptr)
        throw_opencl(status, CL_INVALID_KERNEL, sycl::errc::runtime,
                     std::string("kernel '") + kernel_name + "' cannot be handed to SYCL: " + failure);
    ++count_kernels;
    return result;
}

}  // namespace

sycl::kernel* get_OCL_kernel_by_progname(int* status, sycl::queue* queue, int domain,
                                         const char* program_name, const char* source,
                                         const char* kernel_name, const char* options) {
    return kernel_from_source(status, queue, domain, program_name, source, false, kernel_name, options,
                              "get_OCL_kernel_by_progname");
}

sycl::kernel* get_OCL_kernel_by_stored_text(int* status, sycl::queue* queue, int domain,
                                            const char* program_name, const char* stored_text,
                                            const char* kernel_name, const char* options) {
    return kernel_from_source(status, queue, domain, program_name, stored_text, true, kernel_name, options,
                              "get_OCL_kernel_by_stored_text");
}

void release_kernel_obj(int* status, sycl::kernel* kernel) {
    (void)status;
    delete kernel;
}

ovx_gpu_kernel_struct_t* get_binary_kernel(int* status, sycl::queue* queue, int domain,
                                           const ovx_gpu_binary_kernel_t* binary,
                                           const char* kernel_name) {
    (void)domain;
    auto fail = [status](int code) -> ovx_gpu_kernel_struct_t* {
        if (status != nullptr) *status = code != 0 ? code : CL_INVALID_VALUE;
        return nullptr;
    };
    try {
        if (queue == nullptr || binary == nullptr || kernel_name == nullptr ||
            binary->bytes == nullptr || binary->size == 0)
            return fail(CL_INVALID_VALUE);
        // Carrier-packed binaries (a carrier text to patch) are not accepted here.
        if (binary->carrier_length != 0) return fail(CL_INVALID_BINARY);

        device_record* r = get_device_record(nullptr, queue);
        if (r == nullptr) return fail(CL_INVALID_DEVICE);
        if (r->backend == 1 && !level_zero_available())
            return fail(static_cast<int>(OVX_ZE_RESULT_ERROR_UNINITIALIZED));
        if (r->backend != 0) return fail(CL_INVALID_DEVICE);

        const ocl::entries* cl = ocl::load(nullptr);
        if (cl == nullptr) return fail(error_no_opencl);
        native_handles h;
        if (!get_natives(h, cl, queue).empty()) return fail(CL_INVALID_DEVICE);

        char id[48];
        bounded_snprintf(id, sizeof id, "%016llx:%llu",
                         static_cast<unsigned long long>(fnv1a(binary->bytes, binary->size)),
                         static_cast<unsigned long long>(binary->size));
        const std::string key = make_key('B', r, h.context, h.device, id, "");
        bool builder = false;
        std::shared_ptr<program_entry> e = acquire(key, &builder);
        if (!e) return fail(CL_OUT_OF_HOST_MEMORY);

        program_entry::state_t state;
        if (builder) {
            e->cl = cl;
            cl_int err = CL_SUCCESS;
            cl_int binary_status = CL_SUCCESS;
            size_t size = static_cast<size_t>(binary->size);
            const unsigned char* bytes = binary->bytes;
            cl_program p = cl->clCreateProgramWithBinary(h.context, 1, &h.device, &size, &bytes,
                                                         &binary_status, &err);
            if (p != nullptr && err == CL_SUCCESS) err = cl->clBuildProgram(p, 1, &h.device, "", nullptr, nullptr);
            if (err != CL_SUCCESS || p == nullptr) {
                if (p != nullptr) cl->clReleaseProgram(p);
                e->error = err != CL_SUCCESS ? err : CL_INVALID_BINARY;
            } else {
                e->program = p;
            }
            state = e->program != nullptr ? program_entry::built : program_entry::failed;
            if (state == program_entry::failed) {
                forget(key, e);
                ++count_binaries_failed;
            } else {
                ++count_binaries;
            }
            publish(*e, state);
        } else {
            state = wait_for(*e);
            if (state == program_entry::built) ++count_hits;
        }
        if (state == program_entry::failed) return fail(e->error);

        std::lock_guard<std::mutex> guard(e->mutex);
        for (auto& k : e->kernels)
            if (k->name == kernel_name) return &k->record;
        e->kernels.reserve(e->kernels.size() + 1);  // push_back below cannot throw
        std::unique_ptr<binary_kernel> bk(new binary_kernel());
        bk->name = kernel_name;
        cl_int err = CL_SUCCESS;
        cl_kernel k = cl->clCreateKernel(e->program, kernel_name, &err);
        if (k == nullptr || err != CL_SUCCESS) {
            if (k != nullptr) cl->clReleaseKernel(k);
            return fail(err != CL_SUCCESS ? err : CL_INVALID_KERNEL_NAME);
        }
        try {
            bk->record.kernel =
                new sycl::kernel(sycl::make_kernel<sycl::backend::opencl>(k, queue->get_context()));
        } catch (const std::exception&) {
            bk->record.kernel = nullptr;
        }
        cl->clReleaseKernel(k);
        if (bk->record.kernel == nullptr) return fail(CL_INVALID_KERNEL);
        bk->record.state = 1;
        bk->record.link = e->kernels.empty() ? nullptr : &e->kernels.back()->record;
        e->kernels.push_back(std::move(bk));
        return &e->kernels.back()->record;
    } catch (const std::exception&) {
        return fail(CL_OUT_OF_HOST_MEMORY);
    }
}

kernel_cache_stats get_kernel_cache_stats() {
    kernel_cache_stats s{};
    s.programs_built = count_built.load();
    s.builds_failed = count_failed.load();
    s.binaries_built = count_binaries.load();
    s.binaries_failed = count_binaries_failed.load();
    s.cache_hits = count_hits.load();
    s.kernels_created = count_kernels.load();
    ovx_serv_lock(&cache_lock);
    s.programs_cached = cache == nullptr ? 0 : static_cast<int64_t>(cache->size());
    ovx_serv_unlock(&cache_lock);
    return s;
}

}  // namespace gpu
}  // namespace ovx
}  // namespace korami
