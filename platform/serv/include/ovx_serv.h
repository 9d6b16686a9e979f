/* Vendor service library (stand-in): aligned memory, process-wide locks,
 * numbered messages, verbose mode and output, timer, a few maths and
 * environment helpers, and callbacks run at process exit.
 *
 * Environment variables read by this library (once, on first use):
 *   OVXPLAT_VERBOSE         verbose mode: 0 off (default), 1 on, 2 on with
 *                           device timing; anything else counts as 0.
 *   OVXPLAT_VERBOSE_OUTPUT  path of a file that receives verbose lines and
 *                           numbered messages (appended); default: stdout for
 *                           verbose lines, stderr for messages.
 */
#ifndef OVX_SERV_H
#define OVX_SERV_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- memory ---------------------------------------------------------- */

/* Allocates `size` bytes aligned to `alignment` bytes (a power of two; values
 * below the pointer size are raised to it, 0 means 64). A zero size gives a
 * valid unique block. Null when out of memory or for a bad alignment. */
void* ovx_serv_malloc(size_t size, int alignment);
/* Resizes a block of ovx_serv_malloc, keeping its contents up to the smaller
 * size; the new block has the given alignment. A null `ptr` acts like
 * ovx_serv_malloc. On failure returns null and leaves the old block intact. */
void* ovx_serv_realloc(void* ptr, size_t size, int alignment);
/* Releases a block of ovx_serv_malloc / ovx_serv_realloc; null is ignored. */
void ovx_serv_free(void* ptr);

/* ---- locks ----------------------------------------------------------- */

/* Process-wide lock on a 32-bit word that starts as 0 (0 while free,
 * non-zero while held). Waiters spin briefly, then sleep in the kernel.
 * Not recursive: a thread must not take a word it already holds. */
void ovx_serv_lock(volatile int32_t* word);
void ovx_serv_unlock(volatile int32_t* word);

/* ---- messages and process end ----------------------------------------- */

/* Prints numbered message `msg` with `argc` text arguments (const char*),
 * one line on stderr (or the verbose output file). `flag` is 0. Returns the
 * number of characters written, or -1. Unknown numbers print a generic text
 * with the arguments.
 *   1  "OVX ERROR: out of memory while allocating %s"
 *   2  "OVX ERROR: cannot load the library %s"
 *   3  "OVX ERROR: cannot find the entry point %s"
 *   4  "OVX ERROR: too many exit callbacks; %s not registered"
 *   5  "OVX ERROR: internal error: %s"
 *   6  "OVX Warning: %s" */
int ovx_serv_print(int flag, int msg, int argc, ...);
/* Ends the process with `code` after flushing the outputs; exit callbacks
 * (ovx_serv_core_register_sycl_destructor) run before the process ends. */
void ovx_serv_exit(int code);
/* Registers a callback run once at process exit (newest first), also when
 * the process ends by returning from main or by exit(). Registering the
 * same callback again does nothing. The library holding the callback stays
 * loaded until then. Returns 0, or -1 for a null callback or when the table
 * of 64 callbacks is full. */
int ovx_serv_core_register_sycl_destructor(void (*callback)(void));

/* ---- verbose --------------------------------------------------------- */

/* The process's verbose mode (0 off, 1 on, 2 on with device timing); the
 * caller may write through the pointer. Never null. */
int* ovx_serv_verbose_mode(void);
/* Writes "OVX_VERBOSE <text> <time>\n" to the verbose output, the time
 * printed with a unit (e.g. "12.50us", "3.20ms", "1.05s"). `flag` is 0.
 * Prints in every mode: callers decide whether to call it. */
void ovx_serv_print_verbose_info(int flag, const char* text, double seconds);
/* printf-style output to the verbose output (the file of
 * OVXPLAT_VERBOSE_OUTPUT, else stdout). `flag` is 0. Returns the number of
 * characters written, or -1. */
int ovx_serv_file_format_print(int flag, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

/* ---- timer and maths ------------------------------------------------- */

/* Seconds from a monotonic clock; take differences of two readings. */
double ovx_serv_dsecnd(void);
/* Sine and cosine of pi*x in single precision, exact at multiples of 1/2. */
void ovx_serv_libm_sincospif(float x, float* sin_out, float* cos_out);

/* ---- environment, cache size, version -------------------------------- */

/* Copies the value of environment variable `name` into `buf` (terminated,
 * capacity `len`). Returns the value's length, 0 when not set, or -1 when
 * it does not fit (buf then holds the empty string). */
int ovx_serv_getenv(const char* name, char* buf, int len);
/* Size in bytes of the data cache of `level` (1, 2 or 3) of this machine;
 * 0 when unknown. */
long long ovx_serv_cache_size(int level);
/* Version text of the service library, e.g. "ovx serv 2025.0.0". */
const char* ovx_serv_get_version_string(void);

/* ---- stand-in only (no vendor counterpart) ---------------------------- */

/* Reads OVXPLAT_VERBOSE and OVXPLAT_VERBOSE_OUTPUT again (tests switch the
 * mode and output file with it); closes a previous output file. */
void ovxplat_serv_reload_environment(void);

#ifdef __cplusplus
}
#endif

#endif
