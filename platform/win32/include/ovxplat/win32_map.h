/* Module-name map of the Windows layer.
 *
 * Maps the module names the system loads to this platform's shared objects.
 * Default table (names without case, ".dll" implied):
 *   "OpenCL.dll"             -> libovxplat_opencl.so (OpenCL with the GPU
 *                               maker's extensions, over the ICD loader)
 *   "omptarget.dll"          -> libovxplat_omp.so (absent unless built)
 *   "ze_loader.dll"          -> absent (no Level Zero here)
 *   "ovx_core.2.dll"         -> libovxplat_serv.so
 *   "ovx_pwk_thread.2.dll", "ovx_tarvo_thread.2.dll",
 *   "ovx_sequential.2.dll"   -> libovxplat_cpudft.so
 * A relative target is looked for in the library folder: the value of the
 * environment variable OVXPLAT_LIB_DIR when set, else the folder that holds
 * the Windows layer's own shared object (the build puts every shared object
 * there).
 */
#ifndef OVXPLAT_WIN32_MAP_H
#define OVXPLAT_WIN32_MAP_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Points `module_name` at `target`: an absolute path, or a file name in the
 * library folder. The name is matched like a load ("ovx_core.2" and
 * "OVX_CORE.2.DLL" are the same entry). A null target makes the module absent. Affects later
 * loads and lookups; modules already loaded stay loaded. 0 on success, -1
 * for a null or empty name. Thread-safe. */
int ovxplat_win32_map_set(const char* module_name, const char* target);
/* Restores the default table. */
void ovxplat_win32_map_reset(void);
/* Resolves a module name to the path that would be loaded, into `path`
 * (capacity `size`). Returns 1 when mapped to a file, 0 when mapped to
 * absent, -1 when the name is not in the table, -2 when `path` is too
 * small. */
int ovxplat_win32_map_resolve(const char* module_name, char* path, size_t size);
/* The library folder (see above), without a trailing '/'. The text stays
 * valid until the next call on the same thread. */
const char* ovxplat_win32_library_dir(void);

#ifdef __cplusplus
}
#endif

#endif
