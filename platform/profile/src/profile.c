/* Table of the stand-in GPU's device profiles and the current selection. */
#include "ovxplat/profile.h"

#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define GiB (1024ull * 1024ull * 1024ull)
#define KiB 1024ull

/* Fields: name, device name, vendor, driver version, backend, generation,
 * device id, sub-group sizes, local memory, max work-group size, compute
 * units, tiles, EU count, EUs per subslice, threads per EU, slices,
 * subslices per slice, free memory, base address alignment (bits), max
 * allocation, global memory, fp64. Device ids follow the scheme 0x7g.. for
 * generation g, so that the library can recognise the generation from the id;
 * driver versions carry only what the library reads (the "1.6" prefix of the
 * Level Zero driver decides whether prebuilt binaries are offered);
 * "unknown" has an id outside the scheme. */
static const ovxplat_gpu_profile profiles[] = {
    {"quen6", "Tarvo Quen6 GPU", "Tarvo", "31.4",
     OVXPLAT_BACKEND_OPENCL, 6, 0x76d6, 2, {16, 32, 0, 0}, 128 * KiB, 1024, 448, 1,
     448, 8, 8, 1, 56, 60 * GiB, 1024, 4 * GiB, 64 * GiB, 1},
    {"quen6_2tile", "Tarvo Quen6 GPU 2T", "Tarvo", "31.4",
     OVXPLAT_BACKEND_OPENCL, 6, 0x76d7, 2, {16, 32, 0, 0}, 128 * KiB, 1024, 896, 2,
     896, 8, 8, 2, 56, 120 * GiB, 1024, 4 * GiB, 128 * GiB, 1},
    {"quen6_l0", "Tarvo Quen6 GPU", "Tarvo", "1.6.1002",
     OVXPLAT_BACKEND_LEVEL_ZERO, 6, 0x76d6, 2, {16, 32, 0, 0}, 128 * KiB, 1024, 448, 1,
     448, 8, 8, 1, 56, 60 * GiB, 1024, 4 * GiB, 64 * GiB, 1},
    {"quen6_l0_2tile", "Tarvo Quen6 GPU 2T", "Tarvo", "1.6.1002",
     OVXPLAT_BACKEND_LEVEL_ZERO, 6, 0x76d7, 2, {16, 32, 0, 0}, 128 * KiB, 1024, 896, 2,
     896, 8, 8, 2, 56, 120 * GiB, 1024, 4 * GiB, 128 * GiB, 1},
    {"quen5", "Tarvo Quen5 GPU", "Tarvo", "30.9",
     OVXPLAT_BACKEND_OPENCL, 5, 0x7549, 3, {8, 16, 32, 0}, 64 * KiB, 512, 96, 1,
     96, 16, 8, 1, 6, 6 * GiB, 1024, 4 * GiB, 12 * GiB, 1},
    {"quen5_nofp64", "Tarvo Quen5 GPU LP", "Tarvo", "30.9",
     OVXPLAT_BACKEND_OPENCL, 5, 0x7540, 3, {8, 16, 32, 0}, 64 * KiB, 512, 96, 1,
     96, 16, 8, 1, 6, 6 * GiB, 1024, 4 * GiB, 12 * GiB, 0},
    {"quen7", "Tarvo Quen7 GPU", "Tarvo", "31.4",
     OVXPLAT_BACKEND_OPENCL, 7, 0x77a0, 3, {8, 16, 32, 0}, 64 * KiB, 1024, 512, 1,
     512, 8, 8, 8, 8, 14 * GiB, 1024, 4 * GiB, 16 * GiB, 1},
    {"quen8", "Tarvo Quen8 GPU", "Tarvo", "32.1",
     OVXPLAT_BACKEND_OPENCL, 8, 0x7855, 2, {16, 32, 0, 0}, 64 * KiB, 1024, 128, 1,
     128, 16, 8, 2, 4, 14 * GiB, 1024, 4 * GiB, 16 * GiB, 1},
    {"quen4", "Tarvo Quen4 GPU", "Tarvo", "29.7",
     OVXPLAT_BACKEND_OPENCL, 4, 0x7452, 3, {8, 16, 32, 0}, 64 * KiB, 256, 64, 1,
     64, 8, 7, 1, 8, 3 * GiB, 1024, 2 * GiB, 6 * GiB, 1},
    {"quen3", "Tarvo Quen3 GPU", "Tarvo", "29.7",
     OVXPLAT_BACKEND_OPENCL, 3, 0x7392, 3, {8, 16, 32, 0}, 64 * KiB, 256, 48, 1,
     48, 16, 7, 1, 3, 3 * GiB, 1024, 2 * GiB, 6 * GiB, 1},
    {"quen2", "Tarvo Quen2 GPU", "Tarvo", "29.7",
     OVXPLAT_BACKEND_OPENCL, 2, 0x7212, 3, {8, 16, 32, 0}, 64 * KiB, 256, 24, 1,
     24, 8, 7, 1, 3, 3 * GiB, 1024, 2 * GiB, 6 * GiB, 1},
    {"quen1", "Tarvo Quen1 GPU", "Tarvo", "29.7",
     OVXPLAT_BACKEND_OPENCL, 1, 0x7116, 3, {8, 16, 32, 0}, 64 * KiB, 256, 24, 1,
     24, 8, 7, 1, 3, 3 * GiB, 1024, 2 * GiB, 6 * GiB, 1},
    /* A Quen6 with almost no device memory: 16 KiB free, no allocation above
     * 16 KiB. */
    {"quen6_lowmem", "Tarvo Quen6 GPU", "Tarvo", "31.4",
     OVXPLAT_BACKEND_OPENCL, 6, 0x76d6, 2, {16, 32, 0, 0}, 128 * KiB, 1024, 448, 1,
     448, 8, 8, 1, 56, 16 * KiB, 1024, 16 * KiB, 64 * GiB, 1},
    {"unknown", "Generic GPU", "Generic Vendor", "1.0.0",
     OVXPLAT_BACKEND_OPENCL, 0, 0x1234, 3, {8, 16, 32, 0}, 64 * KiB, 256, 16, 1,
     0, 0, 0, 0, 0, 0, 1024, 2 * GiB, 4 * GiB, 1},
};

#define PROFILE_COUNT ((int)(sizeof(profiles) / sizeof(profiles[0])))
/* The demonstration and every test that selects nothing run on the first. */
#define DEFAULT_PROFILE 0

static pthread_once_t env_once = PTHREAD_ONCE_INIT;
static pthread_mutex_t current_lock = PTHREAD_MUTEX_INITIALIZER;
static const ovxplat_gpu_profile* current_profile = &profiles[DEFAULT_PROFILE];

const ovxplat_gpu_profile* ovxplat_gpu_profile_find(const char* name) {
    if (!name) return NULL;
    for (int i = 0; i < PROFILE_COUNT; ++i)
        if (strcmp(profiles[i].name, name) == 0) return &profiles[i];
    return NULL;
}

static void read_environment(void) {
    const char* name = getenv("OVXPLAT_GPU_PROFILE");
    if (!name || !*name) return;
    const ovxplat_gpu_profile* p = ovxplat_gpu_profile_find(name);
    if (p) {
        current_profile = p;
    } else {
        fprintf(stderr, "ovxplat: OVXPLAT_GPU_PROFILE names no profile: '%s'; using '%s'\n", name,
                profiles[DEFAULT_PROFILE].name);
    }
}

const ovxplat_gpu_profile* ovxplat_gpu_profile_current(void) {
    pthread_once(&env_once, read_environment);
    pthread_mutex_lock(&current_lock);
    const ovxplat_gpu_profile* p = current_profile;
    pthread_mutex_unlock(&current_lock);
    return p;
}

int ovxplat_gpu_profile_select(const char* name) {
    pthread_once(&env_once, read_environment);
    const ovxplat_gpu_profile* p = ovxplat_gpu_profile_find(name);
    if (!p) return -1;
    pthread_mutex_lock(&current_lock);
    current_profile = p;
    pthread_mutex_unlock(&current_lock);
    return 0;
}

int ovxplat_gpu_profile_count(void) { return PROFILE_COUNT; }

const ovxplat_gpu_profile* ovxplat_gpu_profile_at(int i) {
    if (i < 0 || i >= PROFILE_COUNT) return NULL;
    return &profiles[i];
}
