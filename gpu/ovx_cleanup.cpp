// Unload cleanup registry: the global tables of the library (kernel cache,
// device records, loaded driver libraries) are created lazily and register a
// callback here that frees them. The callbacks run newest first, once, when
// the vendor core library calls ovx_sycl_destructor at process exit or when
// the library itself unloads (ovx_sycl_destructor_local), whichever is first.
#include "gpu/ovx_gpu.hpp"

#include <stdio.h>

#include <ovx_serv.h>

namespace {

constexpr int max_cleanups = 32;

volatile int32_t registry_lock = 0;
void (*registry[max_cleanups])(void);
int registry_count = 0;
bool core_hook_registered = false;

// Pops and runs the newest callback until none is left. Each callback runs
// outside the lock, so a callback may itself register (it then runs next).
void run_cleanups() {
    for (;;) {
        void (*callback)(void) = nullptr;
        ovx_serv_lock(&registry_lock);
        if (registry_count > 0) callback = registry[--registry_count];
        ovx_serv_unlock(&registry_lock);
        if (callback == nullptr) return;
        callback();
    }
}

// Frees the tables when the library's shared object is unloaded (process exit
// or dlclose), in case the core library has not done so first.
struct unload_hook {
    ~unload_hook() { ovx_sycl_destructor_local(); }
} unload_hook_instance;

}  // namespace

int ovx_gpu_register_cleanup(void (*callback)(void)) {
    if (callback == nullptr) return -1;
    ovx_serv_lock(&registry_lock);
    if (registry_count >= max_cleanups) {
        ovx_serv_unlock(&registry_lock);
        char what[64];
        bounded_snprintf(what, sizeof what, "cleanup callback %p", reinterpret_cast<void*>(callback));
        ovx_serv_print(0, 4, 1, what);
        ovx_serv_exit(1);
        return -1;
    }
    if (!core_hook_registered) {
        if (ovx_serv_core_register_sycl_destructor(ovx_sycl_destructor) == 0) {
            core_hook_registered = true;
        } else {
            ovx_serv_print(0, 6, 1,
                           "ovx_sycl_destructor could not be registered with the core library; "
                           "tables are freed when the library unloads");
            core_hook_registered = true;  // warn once
        }
    }
    registry[registry_count++] = callback;
    ovx_serv_unlock(&registry_lock);
    return 0;
}

extern "C" void ovx_sycl_destructor(void) { run_cleanups(); }

extern "C" void ovx_sycl_destructor_local(void) { run_cleanups(); }

namespace korami {
namespace ovx {
namespace gpu {

lock_hold::lock_hold(volatile int32_t* word) : word_(word) { ovx_serv_lock(word_); }

void lock_hold::release() {
    if (word_ != nullptr) ovx_serv_unlock(word_);
    word_ = nullptr;
}

}  // namespace gpu
}  // namespace ovx
}  // namespace korami
