/* Default run-time options of the sanitizers, compiled into each executable
 * of a sanitizer build; cmake/ovx_sanitize.cmake sets them and says why each
 * is there. Settings in the environment (ASAN_OPTIONS, ...) still come after
 * these and win. */
#ifndef OVX_ASAN_DEFAULT_OPTIONS
#define OVX_ASAN_DEFAULT_OPTIONS ""
#endif
#ifndef OVX_UBSAN_DEFAULT_OPTIONS
#define OVX_UBSAN_DEFAULT_OPTIONS ""
#endif
#ifndef OVX_TSAN_DEFAULT_OPTIONS
#define OVX_TSAN_DEFAULT_OPTIONS ""
#endif

/* The runtime calls these while it starts, before it can take its own
 * instrumentation calls. */
#define OVX_UNINSTRUMENTED __attribute__((no_sanitize_address, no_sanitize_thread, used))

const char* __asan_default_options(void);
const char* __ubsan_default_options(void);
const char* __tsan_default_options(void);

OVX_UNINSTRUMENTED const char* __asan_default_options(void) { return OVX_ASAN_DEFAULT_OPTIONS; }
OVX_UNINSTRUMENTED const char* __ubsan_default_options(void) { return OVX_UBSAN_DEFAULT_OPTIONS; }
OVX_UNINSTRUMENTED const char* __tsan_default_options(void) { return OVX_TSAN_DEFAULT_OPTIONS; }
