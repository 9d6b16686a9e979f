// The OpenMP offload runtime binding and the caches of SYCL contexts and
// queues made from native handles.
#include "gpu/ovx_sycl_ext.hpp"
#include "gpu/ovx_omp_interop.hpp"

#include <ovx_serv.h>
#include <windows.h>

#include <atomic>
#include <functional>
#include <unordered_map>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define OVX_PAUSE() _mm_pause()
#else
#define OVX_PAUSE() ((void)0)
#endif

namespace korami {
namespace ovx {
namespace gpu {

namespace {

// ---- runtime binding ------------------------------------------------------------

using property_fn = int (*)(void*, int, void**);
using int_fn = std::intptr_t (*)(void*, int, int*);
using ptr_fn = void* (*)(void*, int, int*);
using str_fn = const char* (*)(void*, int, int*);
using callback_fn = int (*)(void*, void (*)(void*, void*), void*);

struct runtime_binding {
    std::atomic<property_fn> property{nullptr};
    std::atomic<int_fn> get_int{nullptr};
    std::atomic<ptr_fn> get_ptr{nullptr};
    std::atomic<str_fn> get_str{nullptr};
    std::atomic<callback_fn> add_callback{nullptr};
    std::int32_t state = 0;   // 0 not tried, 1 loaded, -1 failed
    std::int32_t result = -1;
    volatile std::int32_t lock = 0;
};
runtime_binding binding;

template <typename Fn>
bool resolve(HMODULE m, const char* name, std::atomic<Fn>& slot) {
    FARPROC p = GetProcAddress(m, name);
    if (!p) return false;
    slot.store(reinterpret_cast<Fn>(reinterpret_cast<void (*)(void)>(p)));
    return true;
}

// The slot's entry, loading the runtime on first need; null (after the
// service message) when it is missing.
template <typename Fn>
Fn entry(std::atomic<Fn>& slot, const char* quoted_name) {
    Fn f = slot.load();
    if (!f) {
        load_omptarget();
        f = slot.load();
    }
    if (!f) ovx_serv_print(0, 3, 1, quoted_name);
    return f;
}

// ---- reader/writer spin word -------------------------------------------------------

// Bit 0: a writer holds the cache; each reader adds 2.
class spin_word {
public:
    void read_lock() {
        word_.fetch_add(2, std::memory_order_acquire);
        while (word_.load(std::memory_order_acquire) & 1) OVX_PAUSE();
    }
    void read_unlock() { word_.fetch_sub(2, std::memory_order_release); }
    void write_lock() {
        std::int32_t expected = 0;
        while (!word_.compare_exchange_weak(expected, 1, std::memory_order_acquire)) {
            expected = 0;
            OVX_PAUSE();
        }
    }
    void write_unlock() { word_.fetch_sub(1, std::memory_order_release); }

private:
    std::atomic<std::int32_t> word_{0};
};

// Holds stay held until the scope ends, also when making a SYCL object throws.
struct read_hold {
    spin_word& w;
    explicit read_hold(spin_word& s) : w(s) { w.read_lock(); }
    ~read_hold() { w.read_unlock(); }
};
struct write_hold {
    spin_word& w;
    explicit write_hold(spin_word& s) : w(s) { w.write_lock(); }
    ~write_hold() { w.write_unlock(); }
};

// ---- caches ------------------------------------------------------------------------

struct context_key {
    void* context;
    void* device;
    bool operator==(const context_key& o) const { return context == o.context && device == o.device; }
};
struct context_key_hash {
    std::size_t operator()(const context_key& k) const {
        return std::hash<void*>()(k.context) ^ std::hash<void*>()(k.device);
    }
};

// Made at load and destroyed at exit, the queue cache first. Entries are
// never removed, so the address of a mapped object stays valid: every
// lookup returns that address.
struct caches {
    spin_word context_word;
    std::unordered_map<context_key, sycl::context, context_key_hash> contexts;
    spin_word queue_word;
    std::unordered_map<void*, sycl::queue> queues;
    ~caches() {
        queues.clear();
        contexts.clear();
    }
};
caches cache;

sycl::context* find_context(const context_key& key) {
    auto it = cache.contexts.find(key);
    return it == cache.contexts.end() ? nullptr : &it->second;
}
sycl::queue* find_queue(void* native) {
    auto it = cache.queues.find(native);
    return it == cache.queues.end() ? nullptr : &it->second;
}

sycl::context make_context(void* native_context, ovx_gpu_backend_t kind, const sycl::device* device) {
    auto handle = reinterpret_cast<sycl::detail::pi_native_handle>(native_context);
    if (kind == OVX_GPU_BACKEND_LEVEL_ZERO)
        return sycl::detail::make_context(handle, {}, korami::ovx::gpu::sycl_ext::level_zero, true, {*device});
    return sycl::detail::make_context(handle, {}, sycl::backend::opencl, false, {});
}

sycl::queue make_queue(void* native_queue, ovx_gpu_backend_t kind, const sycl::context& context, void* interop) {
    auto handle = reinterpret_cast<sycl::detail::pi_native_handle>(native_queue);
    if (kind == OVX_GPU_BACKEND_LEVEL_ZERO) {
        int rc = -1;
        std::int32_t immediate = omptarget_get_interop_int(interop, omp_ipr_immediate_list, &rc);
        const std::int32_t handle_kind = immediate != 0 && rc == 0 ? 1 : 0;
        sycl::device dev = context.get_devices().front();
        return sycl::detail::make_queue(handle, handle_kind, context, &dev, true, {}, {},
                                        korami::ovx::gpu::sycl_ext::level_zero);
    }
    return sycl::detail::make_queue(handle, 0, context, nullptr, true, {}, {}, sycl::backend::opencl);
}

}  // namespace

// ---- binding -------------------------------------------------------------------------

int load_omptarget() {
    ovx_serv_lock(&binding.lock);
    if (binding.state != 0) {
        binding.result = binding.state == 1 ? 0 : -1;
        const int r = binding.result;
        ovx_serv_unlock(&binding.lock);
        return r;
    }
    HMODULE m = LoadLibraryExA("omptarget.dll", nullptr, 0x2000);
    if (m && resolve(m, "__tgt_get_interop_property", binding.property) &&
        resolve(m, "omp_get_interop_int", binding.get_int) && resolve(m, "omp_get_interop_ptr", binding.get_ptr) &&
        resolve(m, "omp_get_interop_str", binding.get_str) &&
        resolve(m, "ompx_interop_add_completion_callback", binding.add_callback))
        binding.result = 0;
    binding.state = binding.result == 0 ? 1 : -1;
    const int r = binding.result;
    ovx_serv_unlock(&binding.lock);
    return r;
}

int omptarget_get_interop_property(void* interop, int prop, void** value) {
    property_fn f = entry(binding.property, "'__tgt_get_interop_property'");
    return f ? f(interop, prop, value) : 1;
}

std::int32_t omptarget_get_interop_int(void* interop, int prop, int* rc) {
    int_fn f = entry(binding.get_int, "'omp_get_interop_int'");
    if (!f) {
        if (rc) *rc = -1;
        return 0;
    }
    return static_cast<std::int32_t>(f(interop, prop, rc));
}

void* omptarget_get_interop_ptr(void* interop, int prop, int* rc) {
    ptr_fn f = entry(binding.get_ptr, "'omp_get_interop_ptr'");
    if (!f) {
        if (rc) *rc = -1;
        return nullptr;
    }
    return f(interop, prop, rc);
}

const char* omptarget_get_interop_str(void* interop, int prop, int* rc) {
    str_fn f = entry(binding.get_str, "'omp_get_interop_str'");
    if (!f) {
        if (rc) *rc = -1;
        return nullptr;
    }
    return f(interop, prop, rc);
}

int omptarget_add_completion_callback(void* interop, void (*callback)(void*, void*), void* data) {
    callback_fn f = entry(binding.add_callback, "'ompx_interop_add_completion_callback'");
    return f ? f(interop, callback, data) : -1;
}

// ---- native device search ------------------------------------------------------------

std::optional<sycl::device> find_sycl_subdevice_for_native(const sycl::device& root, void* native) {
    if (sycl::get_native<korami::ovx::gpu::sycl_ext::level_zero>(root) == native) return root;
    for (auto p : root.get_info<sycl::info::device::partition_properties>()) {
        if (p != sycl::info::partition_property::partition_by_affinity_domain) continue;
        auto subs = root.create_sub_devices<sycl::info::partition_property::partition_by_affinity_domain>(
            sycl::info::partition_affinity_domain::next_partitionable);
        for (auto& s : subs)
            if (auto found = find_sycl_subdevice_for_native(s, native)) return found;
    }
    return std::nullopt;
}

sycl::device find_sycl_device_for_native(void* native) {
    for (auto& p : sycl::platform::get_platforms()) {
        if (p.get_backend() != korami::ovx::gpu::sycl_ext::level_zero) continue;
        for (auto& d : p.get_devices(sycl::info::device_type::all))
            if (auto found = find_sycl_subdevice_for_native(d, native)) return *found;
    }
    throw sycl::exception(sycl::make_error_code(sycl::errc::invalid), "Native device isn't exposed to SYCL.");
}

// ---- exported services -------------------------------------------------------------------

sycl::context* lookup_and_cache_qorel_context(void* native_context, void* native_device, ovx_gpu_backend_t kind,
                                              sycl::device* device) {
    const context_key key{native_context, native_device};
    {
        read_hold hold(cache.context_word);
        if (sycl::context* c = find_context(key)) return c;
    }
    write_hold hold(cache.context_word);
    if (sycl::context* c = find_context(key)) return c;
    if (kind == OVX_GPU_BACKEND_LEVEL_ZERO && !device)
        throw sycl::exception(sycl::make_error_code(sycl::errc::invalid),
                              "A Level Zero context needs its SYCL device");
    return &cache.contexts.emplace(key, make_context(native_context, kind, device)).first->second;
}

sycl::queue* lookup_and_cache_qorel_queue(void* native_queue, ovx_gpu_backend_t kind, sycl::context context,
                                          void* interop) {
    {
        read_hold hold(cache.queue_word);
        if (sycl::queue* q = find_queue(native_queue)) return q;
    }
    write_hold hold(cache.queue_word);
    if (sycl::queue* q = find_queue(native_queue)) return q;
    return &cache.queues.emplace(native_queue, make_queue(native_queue, kind, context, interop)).first->second;
}

sycl::queue* lookup_and_cache_qorel_queue_and_context(void* interop) {
    void* value = nullptr;
    if (omptarget_get_interop_property(interop, 8, &value) != 0 || !value) return nullptr;
    const bool level_zero = *static_cast<const std::int32_t*>(value) == 2;
    void* native_context = nullptr;
    void* native_queue = nullptr;
    void* native_device = nullptr;
    if (omptarget_get_interop_property(interop, level_zero ? 9 : 6, &native_context) != 0) return nullptr;
    if (omptarget_get_interop_property(interop, 5, &native_queue) != 0) return nullptr;
    if (level_zero && omptarget_get_interop_property(interop, 7, &native_device) != 0) return nullptr;
    {
        read_hold hold(cache.queue_word);
        if (sycl::queue* q = find_queue(native_queue)) return q;
    }
    const ovx_gpu_backend_t kind = level_zero ? OVX_GPU_BACKEND_LEVEL_ZERO : OVX_GPU_BACKEND_OPENCL;
    std::optional<sycl::context> context;
    const context_key key{native_context, native_device};
    {
        read_hold hold(cache.context_word);
        if (sycl::context* c = find_context(key)) context = *c;
    }
    if (!context) {
        write_hold hold(cache.context_word);
        if (sycl::context* c = find_context(key)) {
            context = *c;
        } else {
            std::optional<sycl::device> dev;
            if (level_zero) dev = find_sycl_device_for_native(native_device);
            context = cache.contexts.emplace(key, make_context(native_context, kind, dev ? &*dev : nullptr))
                          .first->second;
        }
    }
    write_hold hold(cache.queue_word);
    if (sycl::queue* q = find_queue(native_queue)) return q;
    return &cache.queues.emplace(native_queue, make_queue(native_queue, kind, *context, interop)).first->second;
}

}  // namespace gpu
}  // namespace ovx
}  // namespace korami
