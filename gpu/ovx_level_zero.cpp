// Run-time loader of the Level Zero entry points and the exported wrappers.
// The driver is optional: when its loader module or an entry point is
// missing, or zeInit fails, every wrapper reports
// OVX_ZE_RESULT_ERROR_UNINITIALIZED and calls nothing.
#include "gpu/ovx_gpu.hpp"
#include "gpu/ovx_gpu_device.hpp"

#include <ovx_serv.h>
#include <windows.h>

namespace {

const char* const ze_module_name = "ze_loader.dll";

struct ze_entries {
    ovx_ze_result_t (*zeInit)(uint32_t);
    ovx_ze_result_t (*zeDeviceGetProperties)(void*, void*);
    ovx_ze_result_t (*zeDeviceGetSubDevices)(void*, uint32_t*, void**);
    ovx_ze_result_t (*zeModuleCreate)(void*, void*, const void*, void**, void**);
    ovx_ze_result_t (*zeKernelCreate)(void*, const void*, void**);
    ovx_ze_result_t (*zeModuleDestroy)(void*);
    ovx_ze_result_t (*zeModuleGetNativeBinary)(void*, size_t*, uint8_t*);
};

volatile int32_t ze_lock = 0;
ze_entries ze_table;
bool ze_loaded = false;
bool ze_cleanup_registered = false;
HMODULE ze_module = nullptr;

void unload_level_zero() {
    ovx_serv_lock(&ze_lock);
    HMODULE m = ze_module;
    ze_module = nullptr;
    ze_loaded = false;
    ze_cleanup_registered = false;
    ze_table = ze_entries();
    ovx_serv_unlock(&ze_lock);
    if (m != nullptr) FreeLibrary(m);
}

template <typename F>
bool resolve(HMODULE m, const char* name, F* slot) {
    FARPROC proc = GetProcAddress(m, name);
    if (proc == nullptr) return false;
    *slot = reinterpret_cast<F>(reinterpret_cast<void (*)(void)>(proc));
    return true;
}

// Copies the entry table into `out` under the lock; false when Level Zero is
// not available. The wrappers call through their copy, so that an unload
// clearing the table meanwhile cannot hand them a half-cleared one.
bool load_level_zero(ze_entries* out) {
    ovx_serv_lock(&ze_lock);
    if (ze_loaded) {
        *out = ze_table;
        ovx_serv_unlock(&ze_lock);
        return true;
    }
    HMODULE m = LoadLibraryExA(ze_module_name, nullptr, 0);
    if (m == nullptr) {
        ovx_serv_unlock(&ze_lock);
        return false;
    }
    ze_entries e{};
    bool ok = resolve(m, "zeInit", &e.zeInit) &&
              resolve(m, "zeDeviceGetProperties", &e.zeDeviceGetProperties) &&
              resolve(m, "zeDeviceGetSubDevices", &e.zeDeviceGetSubDevices) &&
              resolve(m, "zeModuleCreate", &e.zeModuleCreate) &&
              resolve(m, "zeKernelCreate", &e.zeKernelCreate) &&
              resolve(m, "zeModuleDestroy", &e.zeModuleDestroy) &&
              resolve(m, "zeModuleGetNativeBinary", &e.zeModuleGetNativeBinary);
    if (ok) ok = e.zeInit(0) == OVX_ZE_RESULT_SUCCESS;
    if (!ok) {
        ovx_serv_unlock(&ze_lock);
        FreeLibrary(m);
        return false;
    }
    ze_table = e;
    ze_module = m;
    ze_loaded = true;
    *out = e;
    bool first = !ze_cleanup_registered;
    ze_cleanup_registered = true;
    ovx_serv_unlock(&ze_lock);
    if (first) ovx_gpu_register_cleanup(unload_level_zero);
    return true;
}

}  // namespace

bool korami::ovx::gpu::level_zero_available() {
    ze_entries e;
    return load_level_zero(&e);
}

extern "C" {

ovx_ze_result_t ovx_zeDeviceGetProperties(void* device, void* properties) {
    ze_entries ze;
    if (!load_level_zero(&ze)) return OVX_ZE_RESULT_ERROR_UNINITIALIZED;
    return ze.zeDeviceGetProperties(device, properties);
}

ovx_ze_result_t ovx_zeDeviceGetSubDevices(void* device, uint32_t* count, void** sub_devices) {
    ze_entries ze;
    if (!load_level_zero(&ze)) return OVX_ZE_RESULT_ERROR_UNINITIALIZED;
    return ze.zeDeviceGetSubDevices(device, count, sub_devices);
}

ovx_ze_result_t ovx_zeModuleCreate(void* context, void* device, const void* desc, void** module,
                                   void** build_log) {
    ze_entries ze;
    if (!load_level_zero(&ze)) return OVX_ZE_RESULT_ERROR_UNINITIALIZED;
    return ze.zeModuleCreate(context, device, desc, module, build_log);
}

ovx_ze_result_t ovx_zeKernelCreate(void* module, const void* desc, void** kernel) {
    ze_entries ze;
    if (!load_level_zero(&ze)) return OVX_ZE_RESULT_ERROR_UNINITIALIZED;
    return ze.zeKernelCreate(module, desc, kernel);
}

ovx_ze_result_t ovx_zeModuleDestroy(void* module) {
    ze_entries ze;
    if (!load_level_zero(&ze)) return OVX_ZE_RESULT_ERROR_UNINITIALIZED;
    return ze.zeModuleDestroy(module);
}

ovx_ze_result_t ovx_zeModuleGetNativeBinary(void* module, size_t* size, uint8_t* binary) {
    ze_entries ze;
    if (!load_level_zero(&ze)) return OVX_ZE_RESULT_ERROR_UNINITIALIZED;
    return ze.zeModuleGetNativeBinary(module, size, binary);
}

}  // extern "C"
