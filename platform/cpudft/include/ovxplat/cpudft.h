/* Vendor CPU transform library (stand-in, computed with FFTW 3).
 *
 * Makes CPU descriptor nodes (the library's DFTI_DESCRIPTOR layout), commits
 * them (builds FFTW guru64 plans) and computes them on the caller's thread
 * with the stand-in's worker threads. Plans of nodes of at least 2^15 points
 * use every hardware thread (at most the node's thread limit when set) and
 * are measured on scratch arrays at commit (wisdom is kept for the process,
 * so a second commit of a shape does not measure again); nodes of 2^16 to 2^18 points are
 * also measured on one thread and keep that plan when it is fast enough or
 * faster than the threaded one (the node's thread limit then reads 1);
 * smaller nodes are estimated and run on one thread. A threaded node whose
 * largest batch record holds at least four transforms per thread of at least
 * 256 points each (outside 2^16 to 2^18 points) is planned for one piece of that record on one thread
 * instead: the node's threads take its pieces in turn. Other threaded nodes
 * are planned for two FFTW threads per thread of the node: FFTW cuts each
 * parallel loop into that many jobs, which the node's threads (the stand-in's
 * own, at most the node's thread count at once) take in turn.
 * OVXPLAT_CPUDFT_PLANNER=estimate|measure|patient sets the
 * planning effort for every node. Each direction holds a plan for arrays with
 * FFTW's SIMD alignment and one for any arrays, chosen at compute.
 * The library computes with its own copy of FFTW: an application that uses
 * FFTW itself (in any order, with its own threads, wisdom or fftw_cleanup)
 * neither affects it nor is affected by it.
 * A committed node computes:
 *   - complex domain: c2c, forward and backward;
 *   - real domain: r2c forward and c2r backward in the conjugate-even layout
 *     (CCE; CCS on rank 1, which has the same memory layout);
 * ranks 1 to 7, any non-negative strides, distances and offsets (in elements
 * of each array's own type), several batch records, in place and out of
 * place, with the node's forward and backward scales. A complex transform in
 * place writes its output in the input layout (the node's output strides,
 * distances and offset are not used). A real transform in place whose two
 * layouts FFTW cannot run in place is computed from a copy of its input; its
 * offsets must place the real and complex data at the same first byte for
 * one of the two directions (else DFTI_STATUS_INVALID_DESCRIPTOR). Split
 * complex storage and the PACK / PERM packed formats are not supported
 * (commit gives DFTI_STATUS_UNIMPLEMENTED).
 * Input arrays of an out-of-place transform are never modified.
 *
 * Status codes are the library's status table (dfti_status of the node
 * record): DFTI_STATUS_OK; DFTI_STATUS_ALLOCATION_FAILED (also arrays larger
 * than the machine's memory, refused before planning);
 * DFTI_STATUS_UNCOMMITTED_DESCRIPTOR (invalid node, direction not committed);
 * DFTI_STATUS_INVALID_DESCRIPTOR (inconsistent layout or arguments);
 * DFTI_STATUS_BAD_DESCRIPTOR (bad node); DFTI_STATUS_UNIMPLEMENTED.
 */
#ifndef OVXPLAT_CPUDFT_H
#define OVXPLAT_CPUDFT_H

#include <stdint.h>

struct DFTI_DESCRIPTOR;

#ifdef __cplusplus
extern "C" {
#endif

/* One-dimensional nodes of the named precision (s, d) and domain (c, r). */
int ovx_dft_dfti_create_sc1d(struct DFTI_DESCRIPTOR** handle, int64_t length);
int ovx_dft_dfti_create_sr1d(struct DFTI_DESCRIPTOR** handle, int64_t length);
int ovx_dft_dfti_create_dc1d(struct DFTI_DESCRIPTOR** handle, int64_t length);
int ovx_dft_dfti_create_dr1d(struct DFTI_DESCRIPTOR** handle, int64_t length);
/* Multi-dimensional nodes; lengths in node order (innermost first). */
int ovx_dft_dfti_create_scmd(struct DFTI_DESCRIPTOR** handle, int64_t rank, const int64_t* lengths);
int ovx_dft_dfti_create_srmd(struct DFTI_DESCRIPTOR** handle, int64_t rank, const int64_t* lengths);
int ovx_dft_dfti_create_dcmd(struct DFTI_DESCRIPTOR** handle, int64_t rank, const int64_t* lengths);
int ovx_dft_dfti_create_drmd(struct DFTI_DESCRIPTOR** handle, int64_t rank, const int64_t* lengths);
/* Prepares a new node for threading (records one thread in use). */
void ovx_dft_bless_node_thr(struct DFTI_DESCRIPTOR* node);

/* Test control: the next compute of any node answers `status` instead of
 * computing (once). */
void ovxplat_cpudft_fail_next_compute(int status);

#ifdef __cplusplus
}
#endif

#endif
