/* Transform descriptor nodes run through an OpenMP offload interop object.
 *
 * The commit binds a node to the SYCL queue of the interop object and runs
 * the GPU commit; the compute entries enqueue the node's transform on the
 * interop object's queue (the queue is looked up again at every call) and
 * return without waiting. Every entry returns a status: DFTI_STATUS_OK (0)
 * success, DFTI_STATUS_ALLOCATION_FAILED (1),
 * DFTI_STATUS_UNCOMMITTED_DESCRIPTOR (2: invalid configuration or not
 * committed for offload), DFTI_STATUS_INVALID_DESCRIPTOR (3: inconsistent
 * arguments), DFTI_STATUS_BAD_DESCRIPTOR (5), DFTI_STATUS_UNIMPLEMENTED (6),
 * DFTI_STATUS_INTERNAL (7), DFTI_STATUS_OFFLOAD_FAILED (83: an offload
 * failure or a SYCL exception). Data pointers must be
 * device or shared USM of the interop object's context.
 */
#ifndef KORAMI_OVX_DFTI_OMP_OFFLOAD_H
#define KORAMI_OVX_DFTI_OMP_OFFLOAD_H

#include <stdint.h>

struct DFTI_DESCRIPTOR;

#ifdef __cplusplus
extern "C" {
#endif

/* Backend kind of the native handles given to the interop caches. */
typedef enum ovx_gpu_backend_t { OVX_GPU_BACKEND_OPENCL = 0, OVX_GPU_BACKEND_LEVEL_ZERO = 1 } ovx_gpu_backend_t;

int64_t ovx_DftiCommitDescriptor_omp_offload(struct DFTI_DESCRIPTOR* node, void* interop);
/* The node handle by reference. */
int64_t ovx_dfti_commit_descriptor_external_omp_offload(struct DFTI_DESCRIPTOR** node_ref, void* interop);
/* `output` is read only for an out-of-place node. */
int64_t ovx_DftiComputeForward_omp_offload(struct DFTI_DESCRIPTOR* node, void* input, void* interop, void* output);
int64_t ovx_DftiComputeBackward_omp_offload(struct DFTI_DESCRIPTOR* node, void* input, void* interop, void* output);

/* Fortran-convention forms: node and data pointers by reference (the entry
 * reads the pointer the variable holds), the interop object by value. The
 * letters name the data types; the split forms (dddd, ssss) take real and
 * imaginary arrays. */
#define OVX_DFTI_OMP_FORWARD_1(t) \
    int64_t ovx_dfti_compute_forward_##t##_omp_offload(struct DFTI_DESCRIPTOR** node, void** data, void* interop);
#define OVX_DFTI_OMP_BACKWARD_1(t) \
    int64_t ovx_dfti_compute_backward_##t##_omp_offload(struct DFTI_DESCRIPTOR** node, void** data, void* interop);
#define OVX_DFTI_OMP_FORWARD_2(t)                                                                         \
    int64_t ovx_dfti_compute_forward_##t##_omp_offload(struct DFTI_DESCRIPTOR** node, void** in, void** out, \
                                                      void* interop);
#define OVX_DFTI_OMP_BACKWARD_2(t)                                                                         \
    int64_t ovx_dfti_compute_backward_##t##_omp_offload(struct DFTI_DESCRIPTOR** node, void** in, void** out, \
                                                       void* interop);
#define OVX_DFTI_OMP_FORWARD_4(t)                                                                  \
    int64_t ovx_dfti_compute_forward_##t##_omp_offload(struct DFTI_DESCRIPTOR** node, void** in_re, \
                                                      void** in_im, void** out_re, void** out_im, void* interop);
#define OVX_DFTI_OMP_BACKWARD_4(t)                                                                  \
    int64_t ovx_dfti_compute_backward_##t##_omp_offload(struct DFTI_DESCRIPTOR** node, void** in_re, \
                                                       void** in_im, void** out_re, void** out_im, void* interop);
OVX_DFTI_OMP_FORWARD_1(c) OVX_DFTI_OMP_FORWARD_1(d) OVX_DFTI_OMP_FORWARD_1(s) OVX_DFTI_OMP_FORWARD_1(z)
OVX_DFTI_OMP_FORWARD_2(cc) OVX_DFTI_OMP_FORWARD_2(dd) OVX_DFTI_OMP_FORWARD_2(dz)
OVX_DFTI_OMP_FORWARD_2(sc) OVX_DFTI_OMP_FORWARD_2(ss) OVX_DFTI_OMP_FORWARD_2(zz)
OVX_DFTI_OMP_FORWARD_4(dddd) OVX_DFTI_OMP_FORWARD_4(ssss)
OVX_DFTI_OMP_BACKWARD_1(c) OVX_DFTI_OMP_BACKWARD_1(d) OVX_DFTI_OMP_BACKWARD_1(s) OVX_DFTI_OMP_BACKWARD_1(z)
OVX_DFTI_OMP_BACKWARD_2(cc) OVX_DFTI_OMP_BACKWARD_2(cs) OVX_DFTI_OMP_BACKWARD_2(dd)
OVX_DFTI_OMP_BACKWARD_2(ss) OVX_DFTI_OMP_BACKWARD_2(zd) OVX_DFTI_OMP_BACKWARD_2(zz)
OVX_DFTI_OMP_BACKWARD_4(dddd) OVX_DFTI_OMP_BACKWARD_4(ssss)
#undef OVX_DFTI_OMP_FORWARD_1
#undef OVX_DFTI_OMP_BACKWARD_1
#undef OVX_DFTI_OMP_FORWARD_2
#undef OVX_DFTI_OMP_BACKWARD_2
#undef OVX_DFTI_OMP_FORWARD_4
#undef OVX_DFTI_OMP_BACKWARD_4

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
#include <sycl/sycl.hpp>

namespace korami {
namespace ovx {
namespace gpu {

/* Cached SYCL context for a native context (and, for Level Zero, device):
 * made once per pair, kept until the process ends. Level Zero needs the
 * SYCL device. Errors of the SYCL runtime are thrown. */
sycl::context* lookup_and_cache_qorel_context(void* native_context, void* native_device,
                                              ovx_gpu_backend_t kind, sycl::device* device);
/* Cached SYCL queue for a native queue, made in `context` on its first
 * device; the interop object is read for Level Zero only (immediate command
 * list flag). */
sycl::queue* lookup_and_cache_qorel_queue(void* native_queue, ovx_gpu_backend_t kind, sycl::context context,
                                          void* interop);
/* The cached queue of an interop object, from its vendor properties; null
 * when a property cannot be read. */
sycl::queue* lookup_and_cache_qorel_queue_and_context(void* interop);

}  // namespace gpu
}  // namespace ovx
}  // namespace korami
#endif

#endif
