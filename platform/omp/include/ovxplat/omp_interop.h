/* Control of the OpenMP offload runtime stand-in.
 *
 * An interop object is made from a description of the foreign runtime it
 * names and its native handles. The runtime answers:
 *   omp_get_interop_int  -1 foreign runtime id, -5 device number (0),
 *                        10 immediate command list flag
 *   omp_get_interop_ptr  -6 platform, -7 device, -8 device context,
 *                        -9 target sync (the native queue; for id 4 the
 *                        sycl::queue* itself)
 *   omp_get_interop_str  -2 foreign runtime name, -4 vendor name
 *   __tgt_get_interop_property  5 native queue, 6 OpenCL context,
 *                        7 Level Zero device, 8 pointer to the 32-bit
 *                        backend id (2 Level Zero, 1 OpenCL), 9 Level Zero
 *                        context; 0 on success
 * A null or unknown object gives return code -1 (or a non-zero result), an
 * unknown property -2, a property of another type -3 (int), -4 (pointer) or
 * -5 (string).
 */
#ifndef OVXPLAT_OMP_INTEROP_H
#define OVXPLAT_OMP_INTEROP_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct ovxplat_omp_interop_desc {
    int32_t fr_id;          /* 3 OpenCL, 4 SYCL, 6 Level Zero */
    void* targetsync;       /* native queue, or sycl::queue* for id 4 */
    void* device;           /* native device */
    void* context;          /* native context */
    void* platform;         /* native platform */
    int32_t immediate_list; /* value of integer property 10 */
} ovxplat_omp_interop_desc;

/* A new interop object; null for a null description or out of memory. */
void* ovxplat_omp_interop_create(const ovxplat_omp_interop_desc* desc);
/* Forgets the object; later calls treat it as unknown. */
void ovxplat_omp_interop_destroy(void* interop);
/* Makes every later read of `prop` on the object answer `value` with return
 * code `rc` (for the vendor call: the status `rc`, value written when rc is
 * 0). 0 on success, -1 for an unknown object. */
int ovxplat_omp_interop_set_result(void* interop, int prop, intptr_t value, int rc);
/* The completion callback last added to the object (null when none) and
 * its data. */
void* ovxplat_omp_interop_callback(void* interop, void** data);

/* The OpenMP 5.1 and vendor entries the runtime exports. */
intptr_t omp_get_interop_int(void* interop, int prop, int* rc);
void* omp_get_interop_ptr(void* interop, int prop, int* rc);
const char* omp_get_interop_str(void* interop, int prop, int* rc);
int __tgt_get_interop_property(void* interop, int prop, void** value);
#ifndef OVXPLAT_OMP_PARTIAL
int ompx_interop_add_completion_callback(void* interop, void (*cb)(void*, void*), void* data);
#endif

#ifdef __cplusplus
}
#endif

#endif
