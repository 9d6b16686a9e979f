// Vendor service library stand-in.
#include "ovx_serv.h"

#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include <dlfcn.h>
#include <linux/futex.h>
#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// ---- memory ---------------------------------------------------------------

// Every block carries a header just below the address handed out: the raw
// pointer from malloc and the usable size, so that realloc can copy.
struct block_header {
    void* raw;
    size_t size;
};
static_assert(sizeof(block_header) == 16, "header layout");

bool normalise_alignment(int alignment, size_t* out) {
    if (alignment == 0) alignment = 64;
    if (alignment < 0 || (alignment & (alignment - 1)) != 0) return false;
    size_t a = static_cast<size_t>(alignment);
    if (a < sizeof(block_header)) a = sizeof(block_header);
    *out = a;
    return true;
}

void* aligned_block(size_t size, int alignment) {
    size_t a;
    if (!normalise_alignment(alignment, &a)) {
        errno = EINVAL;
        return nullptr;
    }
    const size_t extra = a + sizeof(block_header);
    if (size > SIZE_MAX - extra) {
        errno = ENOMEM;
        return nullptr;
    }
    void* raw = std::malloc(size + extra);
    if (!raw) return nullptr;
    uintptr_t base = reinterpret_cast<uintptr_t>(raw) + sizeof(block_header);
    uintptr_t user = (base + a - 1) & ~(static_cast<uintptr_t>(a) - 1);
    block_header* h = reinterpret_cast<block_header*>(user) - 1;
    h->raw = raw;
    h->size = size;
    return reinterpret_cast<void*>(user);
}

block_header* header_of(void* p) { return static_cast<block_header*>(p) - 1; }

// ---- locks ----------------------------------------------------------------

long futex(volatile int32_t* addr, int op, int32_t val) {
    return syscall(SYS_futex, const_cast<int32_t*>(addr), op, val, nullptr, nullptr, 0);
}

// ---- verbose state and exit callbacks ----------------------------------------
//
// Plain data with constant initialisation: nothing to allocate, nothing to
// destroy, usable from any exit handler and after the library's own
// destructors.

struct lock_guard {
    explicit lock_guard(pthread_mutex_t* m) : m_(m) { pthread_mutex_lock(m_); }
    ~lock_guard() { pthread_mutex_unlock(m_); }
    pthread_mutex_t* m_;
};

struct verbose_state {
    pthread_mutex_t mu;       // guards `out` and the writes to it
    std::atomic<bool> ready;
    int mode;
    FILE* out;                // the output file, or null for stdout/stderr
};
verbose_state g_verbose = {PTHREAD_MUTEX_INITIALIZER, {false}, 0, nullptr};

int parse_mode(const char* v) {
    if (!v) return 0;
    if (std::strcmp(v, "1") == 0) return 1;
    if (std::strcmp(v, "2") == 0) return 2;
    return 0;
}

// Caller holds g_verbose.mu.
void load_environment_locked(verbose_state& s) {
    if (s.out) {
        std::fclose(s.out);
        s.out = nullptr;
    }
    s.mode = parse_mode(std::getenv("OVXPLAT_VERBOSE"));
    const char* path = std::getenv("OVXPLAT_VERBOSE_OUTPUT");
    if (path && *path) {
        s.out = std::fopen(path, "a");
        if (!s.out)
            std::fprintf(stderr, "OVX Warning: cannot open the verbose output file '%s': %s\n", path,
                         std::strerror(errno));
    }
    s.ready.store(true, std::memory_order_release);
}

verbose_state& vready() {
    verbose_state& s = g_verbose;
    if (!s.ready.load(std::memory_order_acquire)) {
        lock_guard g(&s.mu);
        if (!s.ready.load(std::memory_order_relaxed)) load_environment_locked(s);
    }
    return s;
}

// Closes the output file when the library goes away.
__attribute__((destructor)) void close_verbose_output() {
    lock_guard g(&g_verbose.mu);
    if (g_verbose.out) {
        std::fclose(g_verbose.out);
        g_verbose.out = nullptr;
    }
    g_verbose.ready.store(false);
}

constexpr int max_callbacks = 64;

struct exit_table {
    pthread_mutex_t mu;
    void (*fn[max_callbacks])(void);
    int count;
    bool hooked;
};
exit_table g_exit = {PTHREAD_MUTEX_INITIALIZER, {}, 0, false};

std::atomic<bool> g_exiting{false};

void run_exit_callbacks() {
    g_exiting.store(true);
    exit_table& t = g_exit;
    for (;;) {
        void (*f)(void) = nullptr;
        {
            lock_guard g(&t.mu);
            if (t.count == 0) break;
            f = t.fn[--t.count];
            t.fn[t.count] = nullptr;
        }
        f();
    }
    lock_guard g(&g_verbose.mu);
    if (g_verbose.out) std::fflush(g_verbose.out);
}

const char* message_text(int msg) {
    switch (msg) {
        case 1: return "OVX ERROR: out of memory while allocating %s";
        case 2: return "OVX ERROR: cannot load the library %s";
        case 3: return "OVX ERROR: cannot find the entry point %s";
        case 4: return "OVX ERROR: too many exit callbacks; %s not registered";
        case 5: return "OVX ERROR: internal error: %s";
        case 6: return "OVX Warning: %s";
        default: return nullptr;
    }
}

}  // namespace

extern "C" {

void* ovx_serv_malloc(size_t size, int alignment) { return aligned_block(size, alignment); }

void* ovx_serv_realloc(void* ptr, size_t size, int alignment) {
    if (!ptr) return aligned_block(size, alignment);
    void* n = aligned_block(size, alignment);
    if (!n) return nullptr;
    block_header* h = header_of(ptr);
    std::memcpy(n, ptr, h->size < size ? h->size : size);
    std::free(h->raw);
    return n;
}

void ovx_serv_free(void* ptr) {
    if (ptr) std::free(header_of(ptr)->raw);
}

// Three states: 0 free, 1 held, 2 held with sleepers.
void ovx_serv_lock(volatile int32_t* word) {
    int32_t c = 0;
    if (__atomic_compare_exchange_n(word, &c, 1, false, __ATOMIC_ACQUIRE, __ATOMIC_RELAXED)) return;
    for (int spin = 0; spin < 100; ++spin) {
        c = 0;
        if (__atomic_load_n(word, __ATOMIC_RELAXED) == 0 &&
            __atomic_compare_exchange_n(word, &c, 1, false, __ATOMIC_ACQUIRE, __ATOMIC_RELAXED))
            return;
        sched_yield();
    }
    // Mark the word as contended and sleep until it is free.
    while (__atomic_exchange_n(word, 2, __ATOMIC_ACQUIRE) != 0) futex(word, FUTEX_WAIT, 2);
}

void ovx_serv_unlock(volatile int32_t* word) {
    if (__atomic_exchange_n(word, 0, __ATOMIC_RELEASE) == 2) futex(word, FUTEX_WAKE, 1);
}

int ovx_serv_print(int flag, int msg, int argc, ...) {
    (void)flag;
    enum { max_args = 8 };
    const char* args[max_args] = {};
    if (argc < 0) argc = 0;
    va_list ap;
    va_start(ap, argc);
    for (int i = 0; i < argc; ++i) {
        const char* a = va_arg(ap, const char*);
        if (i < max_args) args[i] = a ? a : "(null)";
    }
    va_end(ap);
    if (argc > max_args) argc = max_args;

    char line[2048];
    int n;
    const char* text = message_text(msg);
    if (text && argc >= 1) {
        n = std::snprintf(line, sizeof line, text, args[0]);
        for (int i = 1; i < argc && n >= 0 && static_cast<size_t>(n) < sizeof line; ++i)
            n += std::snprintf(line + n, sizeof line - n, " %s", args[i]);
    } else if (text) {
        n = std::snprintf(line, sizeof line, text, "");
    } else {
        n = std::snprintf(line, sizeof line, "OVX message %d:", msg);
        for (int i = 0; i < argc && n >= 0 && static_cast<size_t>(n) < sizeof line; ++i)
            n += std::snprintf(line + n, sizeof line - n, " %s", args[i]);
    }
    if (n < 0) return -1;
    verbose_state& s = vready();
    lock_guard g(&s.mu);
    FILE* f = s.out ? s.out : stderr;
    int w = std::fprintf(f, "%s\n", line);
    std::fflush(f);
    return w;
}

void ovx_serv_exit(int code) {
    std::fflush(stdout);
    std::fflush(stderr);
    // Called again from an exit callback: the process is already ending.
    if (g_exiting.load()) _exit(code);
    std::exit(code);
}

int ovx_serv_core_register_sycl_destructor(void (*callback)(void)) {
    if (!callback) return -1;
    exit_table& t = g_exit;
    lock_guard g(&t.mu);
    for (int i = 0; i < t.count; ++i)
        if (t.fn[i] == callback) return 0;
    if (t.count == max_callbacks) return -1;
    // Keep the callback's library mapped until the process ends, so that an
    // unload of that library cannot leave a dangling callback behind.
    Dl_info info;
    if (dladdr(reinterpret_cast<void*>(callback), &info) && info.dli_fname)
        dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
    if (!t.hooked) {
        if (std::atexit(run_exit_callbacks) != 0) return -1;
        t.hooked = true;
    }
    t.fn[t.count++] = callback;
    return 0;
}

int* ovx_serv_verbose_mode(void) { return &vready().mode; }

void ovx_serv_print_verbose_info(int flag, const char* text, double seconds) {
    (void)flag;
    char t[64];
    double a = std::fabs(seconds);
    if (!(a == a)) std::snprintf(t, sizeof t, "nan");
    else if (a < 1e-3) std::snprintf(t, sizeof t, "%.2fus", seconds * 1e6);
    else if (a < 1.0) std::snprintf(t, sizeof t, "%.2fms", seconds * 1e3);
    else std::snprintf(t, sizeof t, "%.2fs", seconds);
    verbose_state& s = vready();
    lock_guard g(&s.mu);
    FILE* f = s.out ? s.out : stdout;
    std::fprintf(f, "OVX_VERBOSE %s %s\n", text ? text : "", t);
    std::fflush(f);
}

int ovx_serv_file_format_print(int flag, const char* format, ...) {
    (void)flag;
    if (!format) return -1;
    verbose_state& s = vready();
    lock_guard g(&s.mu);
    FILE* f = s.out ? s.out : stdout;
    va_list ap;
    va_start(ap, format);
    int n = std::vfprintf(f, format, ap);
    va_end(ap);
    std::fflush(f);
    return n < 0 ? -1 : n;
}

double ovx_serv_dsecnd(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

void ovx_serv_libm_sincospif(float x, float* sin_out, float* cos_out) {
    float s, c;
    if (!std::isfinite(x)) {
        s = c = std::nanf("");
    } else {
        // x = n/2 + f with |f| <= 1/4; all steps exact in double.
        double xd = x;
        double n = std::nearbyint(2.0 * xd);
        double f = xd - 0.5 * n;
        double sf = std::sin(M_PI * f), cf = std::cos(M_PI * f);
        int q = static_cast<int>(std::fmod(std::fabs(n), 4.0));
        if (n < 0) q = (4 - q) & 3;
        double rs, rc;
        switch (q) {
            case 0: rs = sf; rc = cf; break;
            case 1: rs = cf; rc = -sf; break;
            case 2: rs = -sf; rc = -cf; break;
            default: rs = -cf; rc = sf; break;
        }
        s = static_cast<float>(rs);
        c = static_cast<float>(rc);
        if (f == 0.0) {
            // Exact zeros: sin(pi*x) has the sign of x at the integers,
            // cos(pi*x) is +0 at the half-integers.
            if (q == 0 || q == 2) s = std::copysign(0.0f, x);
            else c = 0.0f;
        }
    }
    if (sin_out) *sin_out = s;
    if (cos_out) *cos_out = c;
}

int ovx_serv_getenv(const char* name, char* buf, int len) {
    if (!name || !buf || len <= 0) return -1;
    const char* v = std::getenv(name);
    if (!v) {
        buf[0] = '\0';
        return 0;
    }
    size_t n = std::strlen(v);
    if (n >= static_cast<size_t>(len)) {
        buf[0] = '\0';
        return -1;
    }
    std::memcpy(buf, v, n + 1);
    return static_cast<int>(n);
}

long long ovx_serv_cache_size(int level) {
    int name;
    switch (level) {
        case 1: name = _SC_LEVEL1_DCACHE_SIZE; break;
        case 2: name = _SC_LEVEL2_CACHE_SIZE; break;
        case 3: name = _SC_LEVEL3_CACHE_SIZE; break;
        default: return 0;
    }
    long v = sysconf(name);
    return v > 0 ? v : 0;
}

const char* ovx_serv_get_version_string(void) { return "ovx serv 2025.0.0 (platform stand-in)"; }

void ovxplat_serv_reload_environment(void) {
    lock_guard g(&g_verbose.mu);
    load_environment_locked(g_verbose);
}

}  // extern "C"
