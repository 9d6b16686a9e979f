/* Plain types of the GPU services, usable without SYCL: the GPU generation
 * code and the description of a prebuilt device binary. */
#ifndef KORAMI_OVX_GPU_TYPES_H
#define KORAMI_OVX_GPU_TYPES_H

#include <stdint.h>

/* GPU generation code of a device: 1 to 8 for Quen1 to Quen8, 0 when the
 * generation is not recognised. */
typedef int32_t ovx_gpu_arch_t;
enum {
    OVX_GPU_ARCH_UNKNOWN = 0,
    OVX_GPU_ARCH_QUEN1 = 1,
    OVX_GPU_ARCH_QUEN2 = 2,
    OVX_GPU_ARCH_QUEN3 = 3,
    OVX_GPU_ARCH_QUEN4 = 4,
    OVX_GPU_ARCH_QUEN5 = 5,
    OVX_GPU_ARCH_QUEN6 = 6,
    OVX_GPU_ARCH_QUEN7 = 7,
    OVX_GPU_ARCH_QUEN8 = 8
};

/* A prebuilt device binary. With carrier_length 0 the program is made from
 * the bytes directly; carrier_source is not read then. */
typedef struct ovx_gpu_binary_kernel_t {
    uint64_t size;              /* bytes of the binary */
    const uint8_t* bytes;       /* the binary */
    uint64_t carrier_length;    /* length of the carrier OpenCL C text */
    const char* carrier_source; /* carrier OpenCL C text */
} ovx_gpu_binary_kernel_t;

#endif
