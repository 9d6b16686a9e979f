// Run-time loader of the OpenCL entry points.
#include "gpu/ovx_opencl.hpp"

#include "gpu/ovx_gpu.hpp"

#include <ovx_serv.h>
#include <windows.h>

namespace korami {
namespace ovx {
namespace gpu {
namespace ocl {

const char* const module_name = "OpenCL.dll";

namespace {

volatile int32_t loader_lock = 0;
entries table;
bool loaded = false;
HMODULE module = nullptr;  // the reference taken by LoadLibraryExA, if any
int loads = 0;
bool cleanup_registered = false;

std::string windows_error_text(DWORD code) {
    char text[256];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text,
                             nullptr);
    while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == ' ')) --n;
    return std::string(text, n);
}

// Runs at unload, after the tables that hold OpenCL objects (they register
// later, so they are freed first).
void unload_opencl() {
    ovx_serv_lock(&loader_lock);
    HMODULE m = module;
    module = nullptr;
    loaded = false;
    cleanup_registered = false;
    table = entries();
    ovx_serv_unlock(&loader_lock);
    if (m != nullptr) FreeLibrary(m);
}

}  // namespace

const entries* load(std::string* error) {
    // The failure is noted under the lock and put into words after it, so
    // that nothing that can throw runs while the lock is held.
    bool no_module = false;
    DWORD code = 0;
    const char* missing = nullptr;  // the first entry point not found
    {
        lock_hold hold(&loader_lock);
        if (loaded) return &table;
        HMODULE m = LoadLibraryExA(module_name, nullptr, 0);
        if (m == nullptr) {
            no_module = true;
            code = GetLastError();
        } else {
            entries resolved;
#define OVX_OPENCL_RESOLVE(name)                                                      \
    if (missing == nullptr) {                                                         \
        FARPROC proc = GetProcAddress(m, #name);                                      \
        if (proc == nullptr)                                                          \
            missing = #name;                                                          \
        else                                                                          \
            resolved.name = reinterpret_cast<decltype(&::name)>(                      \
                reinterpret_cast<void (*)(void)>(proc));                             \
    }
            OVX_OPENCL_ENTRIES(OVX_OPENCL_RESOLVE)
#undef OVX_OPENCL_RESOLVE
            if (missing == nullptr) {
                bool first = !cleanup_registered;
                cleanup_registered = true;
                table = resolved;
                module = m;
                loaded = true;
                ++loads;
                hold.release();
                // Registered outside the loader lock: registration may end the
                // process (too many callbacks), which runs the cleanups.
                if (first) ovx_gpu_register_cleanup(unload_opencl);
                return &table;
            }
            FreeLibrary(m);
        }
    }
    if (error != nullptr) {
        if (no_module)
            *error = std::string("the OpenCL library \"") + module_name + "\" cannot be loaded: " +
                     windows_error_text(code);
        else
            *error = std::string("the OpenCL entry point \"") + missing + "\" is missing in \"" + module_name + "\"";
    }
    return nullptr;
}

int load_count() {
    ovx_serv_lock(&loader_lock);
    int n = loads;
    ovx_serv_unlock(&loader_lock);
    return n;
}

}  // namespace ocl
}  // namespace gpu
}  // namespace ovx
}  // namespace korami
