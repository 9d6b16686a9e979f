// Windows module calls over dlopen/dlsym, and the module-name map.
#include <windows.h>
#include <ovxplat/win32_map.h>

#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include <dlfcn.h>
#include <link.h>
#include <limits.h>
#include <pthread.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

namespace {

thread_local DWORD t_last_error = ERROR_SUCCESS;

void set_error(DWORD e) { t_last_error = e; }

// ---- module-name map ------------------------------------------------------

struct map_entry {
    bool present;        // false: the module is absent on this platform
    std::string target;  // absolute path or file name in the library folder
};

// The table is made on first use and freed when the library goes away; the
// lock is a plain pthread mutex that needs no destruction.
pthread_mutex_t g_map_mu = PTHREAD_MUTEX_INITIALIZER;
std::map<std::string, map_entry>* g_map = nullptr;

struct map_lock {
    map_lock() { pthread_mutex_lock(&g_map_mu); }
    ~map_lock() { pthread_mutex_unlock(&g_map_mu); }
};

__attribute__((destructor)) void free_map() {
    map_lock g;
    delete g_map;
    g_map = nullptr;
}

void fill_defaults(std::map<std::string, map_entry>& t) {
    t.clear();
    t["opencl.dll"] = {true, "libovxplat_opencl.so"};
    t["omptarget.dll"] = {true, "libovxplat_omp.so"};
    t["ze_loader.dll"] = {false, ""};
    t["ovx_core.2.dll"] = {true, "libovxplat_serv.so"};
    t["ovx_pwk_thread.2.dll"] = {true, "libovxplat_cpudft.so"};
    t["ovx_tarvo_thread.2.dll"] = {true, "libovxplat_cpudft.so"};
    t["ovx_sequential.2.dll"] = {true, "libovxplat_cpudft.so"};
}

// Caller holds g_map_mu.
std::map<std::string, map_entry>& ready_table() {
    if (!g_map) {
        g_map = new std::map<std::string, map_entry>;
        fill_defaults(*g_map);
    }
    return *g_map;
}

// File part of a Windows or POSIX path, in lower case.
std::string key_of(const char* name) {
    const char* base = name;
    for (const char* p = name; *p; ++p)
        if (*p == '/' || *p == '\\' || *p == ':') base = p + 1;
    std::string k(base);
    for (char& c : k) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return k;
}

bool ends_with(const std::string& s, const char* suffix) {
    size_t n = std::strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

char g_self_dir[PATH_MAX] = ".";
pthread_once_t g_self_dir_once = PTHREAD_ONCE_INIT;

void find_self_dir() {
    Dl_info info;
    if (!dladdr(reinterpret_cast<void*>(&ovxplat_win32_library_dir), &info) || !info.dli_fname) return;
    char buf[PATH_MAX];
    const char* path = realpath(info.dli_fname, buf) ? buf : info.dli_fname;
    const char* slash = std::strrchr(path, '/');
    if (!slash) return;
    size_t n = slash == path ? 1 : size_t(slash - path);
    if (n >= sizeof g_self_dir) return;
    std::memcpy(g_self_dir, path, n);
    g_self_dir[n] = '\0';
}

std::string self_dir() {
    pthread_once(&g_self_dir_once, find_self_dir);
    return g_self_dir;
}

std::string lib_dir() {
    const char* env = std::getenv("OVXPLAT_LIB_DIR");
    std::string d = (env && *env) ? std::string(env) : self_dir();
    while (d.size() > 1 && d.back() == '/') d.pop_back();
    return d;
}

enum class resolved { file, absent, unmapped };

// Maps a module name to the file to load.
resolved resolve(const char* name, std::string* path) {
    std::string key = key_of(name);
    map_entry e;
    bool found = false;
    {
        map_lock g;
        auto& t = ready_table();
        auto it = t.find(key);
        if (it == t.end() && !ends_with(key, ".dll")) it = t.find(key + ".dll");
        if (it != t.end()) {
            e = it->second;
            found = true;
        }
    }
    if (!found) {
        // Paths and shared-object names load as given.
        if (std::strchr(name, '/') || std::strstr(name, ".so")) {
            *path = name;
            return resolved::file;
        }
        return resolved::unmapped;
    }
    if (!e.present) return resolved::absent;
    *path = e.target.find('/') != std::string::npos ? e.target : lib_dir() + "/" + e.target;
    return resolved::file;
}

// ---- text conversions -----------------------------------------------------

std::string narrow(const WCHAR* w) {
    std::string s;
    for (; *w; ++w) {
        uint32_t c = static_cast<uint32_t>(*w);
        if (c < 0x80) {
            s += static_cast<char>(c);
        } else if (c < 0x800) {
            s += static_cast<char>(0xC0 | (c >> 6));
            s += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            s += static_cast<char>(0xE0 | (c >> 12));
            s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            s += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            s += static_cast<char>(0xF0 | (c >> 18));
            s += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            s += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return s;
}

std::wstring widen(const std::string& s) {
    std::wstring w;
    for (size_t i = 0; i < s.size();) {
        unsigned char b = static_cast<unsigned char>(s[i]);
        uint32_t c;
        int n;
        if (b < 0x80) { c = b; n = 1; }
        else if ((b & 0xE0) == 0xC0) { c = b & 0x1F; n = 2; }
        else if ((b & 0xF0) == 0xE0) { c = b & 0x0F; n = 3; }
        else if ((b & 0xF8) == 0xF0) { c = b & 0x07; n = 4; }
        else { c = 0xFFFD; n = 1; }
        if (i + n > s.size()) { c = 0xFFFD; n = 1; }
        else for (int k = 1; k < n; ++k) c = (c << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        w += static_cast<WCHAR>(c);
        i += n;
    }
    return w;
}

// ---- loading --------------------------------------------------------------

std::string program_path() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return std::string();
    buf[n] = '\0';
    return std::string(buf);
}

HMODULE load(const char* name) {
    if (!name || !*name) {
        set_error(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string path;
    if (resolve(name, &path) != resolved::file) {
        set_error(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h) {
        set_error(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<HMODULE>(h);
}

// Handle of a loaded module by name, with a reference taken (caller drops
// it when it wants none).
void* loaded_ref(const char* name) {
    std::string path;
    if (resolve(name, &path) != resolved::file) return nullptr;
    return dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
}

void* loaded_ref_by_address(const void* addr) {
    Dl_info info;
    if (!dladdr(addr, &info) || !info.dli_fname) return nullptr;
    void* h = dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD);
    if (h) return h;
    // The main program is not found by its file name.
    char a[PATH_MAX], b[PATH_MAX];
    std::string prog = program_path();
    if (!prog.empty() && realpath(info.dli_fname, a) && realpath(prog.c_str(), b) && std::strcmp(a, b) == 0)
        return dlopen(nullptr, RTLD_LAZY);
    return nullptr;
}

BOOL module_handle_ex(DWORD flags, const void* name, bool wide, HMODULE* module) {
    if (!module) {
        set_error(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *module = nullptr;
    void* h = nullptr;
    if (flags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS) {
        h = loaded_ref_by_address(name);
    } else if (!name) {
        h = dlopen(nullptr, RTLD_LAZY);
    } else {
        std::string n = wide ? narrow(static_cast<const WCHAR*>(name)) : std::string(static_cast<const char*>(name));
        h = loaded_ref(n.c_str());
    }
    if (!h) {
        set_error(ERROR_MOD_NOT_FOUND);
        return FALSE;
    }
    // Without UNCHANGED_REFCOUNT the reference stays with the caller (a
    // pinned module simply never gets it back).
    if (flags & GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT) dlclose(h);
    *module = reinterpret_cast<HMODULE>(h);
    return TRUE;
}

bool module_path(HMODULE module, std::string* out) {
    if (!module) {
        *out = program_path();
        return !out->empty();
    }
    struct link_map* lm = nullptr;
    if (dlinfo(module, RTLD_DI_LINKMAP, &lm) != 0 || !lm) return false;
    if (!lm->l_name || !*lm->l_name) {
        *out = program_path();
        return !out->empty();
    }
    char buf[PATH_MAX];
    *out = realpath(lm->l_name, buf) ? std::string(buf) : std::string(lm->l_name);
    return true;
}

template <class C>
DWORD copy_out(const std::basic_string<C>& s, C* dst, DWORD size) {
    if (!dst || size == 0) {
        set_error(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (s.size() >= size) {
        std::copy(s.begin(), s.begin() + (size - 1), dst);
        dst[size - 1] = 0;
        set_error(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    std::copy(s.begin(), s.end(), dst);
    dst[s.size()] = 0;
    set_error(ERROR_SUCCESS);
    return static_cast<DWORD>(s.size());
}

const char* system_message(DWORD code) {
    switch (code) {
        case ERROR_SUCCESS: return "The operation completed successfully.\r\n";
        case ERROR_FILE_NOT_FOUND: return "The system cannot find the file specified.\r\n";
        case ERROR_NOT_ENOUGH_MEMORY: return "Not enough memory resources are available to process this command.\r\n";
        case ERROR_INVALID_PARAMETER: return "The parameter is incorrect.\r\n";
        case ERROR_INSUFFICIENT_BUFFER: return "The data area passed to a system call is too small.\r\n";
        case ERROR_MOD_NOT_FOUND: return "The specified module could not be found.\r\n";
        case ERROR_PROC_NOT_FOUND: return "The specified procedure could not be found.\r\n";
        default: return nullptr;
    }
}

}  // namespace

extern "C" {

int ovxplat_win32_map_set(const char* module_name, const char* target) {
    if (!module_name || !*module_name) return -1;
    std::string key = key_of(module_name);
    if (key.empty()) return -1;
    if (!ends_with(key, ".dll")) key += ".dll";
    map_lock g;
    auto& t = ready_table();
    t[key] = target ? map_entry{true, target} : map_entry{false, ""};
    return 0;
}

void ovxplat_win32_map_reset(void) {
    map_lock g;
    fill_defaults(ready_table());
}

int ovxplat_win32_map_resolve(const char* module_name, char* path, size_t size) {
    if (!module_name) return -1;
    std::string p;
    switch (resolve(module_name, &p)) {
        case resolved::absent: return 0;
        case resolved::unmapped: return -1;
        case resolved::file: break;
    }
    if (!path || p.size() >= size) return -2;
    std::memcpy(path, p.c_str(), p.size() + 1);
    return 1;
}

const char* ovxplat_win32_library_dir(void) {
    static thread_local char d[PATH_MAX];
    std::snprintf(d, sizeof d, "%s", lib_dir().c_str());
    return d;
}

HMODULE WINAPI GetModuleHandleA(LPCSTR name) {
    HMODULE m = nullptr;
    module_handle_ex(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, name, false, &m);
    return m;
}

HMODULE WINAPI GetModuleHandleW(LPCWSTR name) {
    HMODULE m = nullptr;
    module_handle_ex(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, name, true, &m);
    return m;
}

BOOL WINAPI GetModuleHandleExA(DWORD flags, LPCSTR name, HMODULE* module) {
    return module_handle_ex(flags, name, false, module);
}

BOOL WINAPI GetModuleHandleExW(DWORD flags, LPCWSTR name, HMODULE* module) {
    return module_handle_ex(flags, name, true, module);
}

DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR filename, DWORD size) {
    std::string p;
    if (!module_path(module, &p)) {
        set_error(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    return copy_out(p, filename, size);
}

DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR filename, DWORD size) {
    std::string p;
    if (!module_path(module, &p)) {
        set_error(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    return copy_out(widen(p), filename, size);
}

HMODULE WINAPI LoadLibraryA(LPCSTR name) { return load(name); }

HMODULE WINAPI LoadLibraryW(LPCWSTR name) {
    if (!name) {
        set_error(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return load(narrow(name).c_str());
}

HMODULE WINAPI LoadLibraryExA(LPCSTR name, HANDLE file, DWORD flags) {
    (void)flags;
    if (file) {
        set_error(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return load(name);
}

HMODULE WINAPI LoadLibraryExW(LPCWSTR name, HANDLE file, DWORD flags) {
    (void)flags;
    if (file || !name) {
        set_error(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return load(narrow(name).c_str());
}

BOOL WINAPI FreeLibrary(HMODULE module) {
    if (!module) {
        set_error(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (dlclose(module) != 0) {
        set_error(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return TRUE;
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
    // Lookups by ordinal (values below 64K) do not exist here.
    if (!name || reinterpret_cast<uintptr_t>(name) < 0x10000) {
        set_error(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    void* h = module ? static_cast<void*>(module) : dlopen(nullptr, RTLD_LAZY);
    dlerror();
    void* sym = dlsym(h, name);
    if (!sym) {
        set_error(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    FARPROC f;
    static_assert(sizeof f == sizeof sym, "function pointer size");
    std::memcpy(&f, &sym, sizeof f);
    return f;
}

DWORD WINAPI GetLastError(void) { return t_last_error; }

void WINAPI SetLastError(DWORD code) { t_last_error = code; }

DWORD WINAPI FormatMessageA(DWORD flags, LPCVOID source, DWORD message_id, DWORD language_id, LPSTR buffer,
                            DWORD size, va_list* arguments) {
    (void)language_id;
    (void)arguments;
    std::string text;
    if (flags & FORMAT_MESSAGE_FROM_STRING) {
        if (!source) {
            set_error(ERROR_INVALID_PARAMETER);
            return 0;
        }
        text = static_cast<const char*>(source);
    } else if (flags & FORMAT_MESSAGE_FROM_SYSTEM) {
        const char* m = system_message(message_id);
        if (m) {
            text = m;
        } else {
            char b[64];
            std::snprintf(b, sizeof b, "Unknown error %u.\r\n", static_cast<unsigned>(message_id));
            text = b;
        }
    } else {
        set_error(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (!buffer) {
        set_error(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
        size_t n = text.size() + 1;
        if (n < size) n = size;
        char* block = static_cast<char*>(std::malloc(n));
        if (!block) {
            set_error(ERROR_NOT_ENOUGH_MEMORY);
            return 0;
        }
        std::memcpy(block, text.c_str(), text.size() + 1);
        *reinterpret_cast<char**>(buffer) = block;
        return static_cast<DWORD>(text.size());
    }
    if (text.size() >= size) {
        set_error(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return static_cast<DWORD>(text.size());
}

HLOCAL WINAPI LocalFree(HLOCAL mem) {
    std::free(mem);
    return nullptr;
}

}  // extern "C"
