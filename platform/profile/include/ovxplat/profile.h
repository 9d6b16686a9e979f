/* Device profiles of the platform stand-ins.
 *
 * The stand-in "GPU" runs its OpenCL programs on the machine's OpenCL device
 * (PoCL) but describes itself through a profile: name, generation, sub-group
 * sizes, limits and the vendor GPU queries. The SYCL stand-in and the OpenCL
 * layer both read the current profile from here, so they always agree.
 *
 * The profile is chosen by ovxplat_gpu_profile_select() or, before the first
 * query, by the environment variable OVXPLAT_GPU_PROFILE (a profile name).
 */
#ifndef OVXPLAT_PROFILE_H
#define OVXPLAT_PROFILE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum ovxplat_backend { OVXPLAT_BACKEND_OPENCL = 0, OVXPLAT_BACKEND_LEVEL_ZERO = 1 };

#define OVXPLAT_MAX_SUBGROUP_SIZES 4

typedef struct ovxplat_gpu_profile {
    const char* name;            /* profile name, e.g. "quen5" */
    const char* device_name;     /* reported device name */
    const char* vendor;          /* reported vendor */
    const char* driver_version;  /* reported driver version */
    int backend;                 /* enum ovxplat_backend */
    int generation;              /* 1..8 for Quen1..Quen8, 0 unknown */
    uint32_t device_id;          /* PCI device id reported for the device */
    int subgroup_size_count;
    int subgroup_sizes[OVXPLAT_MAX_SUBGROUP_SIZES];
    uint64_t local_mem_size;     /* bytes */
    uint64_t max_work_group_size;
    uint32_t max_compute_units;
    uint32_t tile_count;         /* sub-devices by partition; 0 or 1 = none */
    uint32_t eu_count;
    uint32_t eu_count_per_subslice;
    uint32_t hw_threads_per_eu;
    uint32_t slices;
    uint32_t subslices_per_slice;
    uint64_t free_memory;
    uint32_t mem_base_addr_align; /* bits */
    uint64_t max_mem_alloc_size;
    uint64_t global_mem_size;
    int fp64;                    /* double precision support */
} ovxplat_gpu_profile;

/* The profile in force (never null). */
const ovxplat_gpu_profile* ovxplat_gpu_profile_current(void);
/* Selects a profile by name; 0 on success, -1 when there is no such profile. */
int ovxplat_gpu_profile_select(const char* name);
/* Looks a profile up by name; null when there is none. */
const ovxplat_gpu_profile* ovxplat_gpu_profile_find(const char* name);
/* Number of profiles and the i-th one (null past the end). */
int ovxplat_gpu_profile_count(void);
const ovxplat_gpu_profile* ovxplat_gpu_profile_at(int i);

#ifdef __cplusplus
}
#endif

#endif
