/* The imports of the vendor CPU transform library that the library uses: the
 * creators of CPU descriptor nodes (which the GPU route also uses for its own
 * nodes and sub-nodes) and the blessing of a new node for threading.
 *
 * Lengths are in node order (innermost first). The creators answer a node
 * status (DFTI_STATUS_OK, DFTI_STATUS_ALLOCATION_FAILED,
 * DFTI_STATUS_UNCOMMITTED_DESCRIPTOR for a length or rank out of range,
 * ...).
 */
#ifndef OVX_DFT_CPU_LIBRARY_H
#define OVX_DFT_CPU_LIBRARY_H

#include <stdint.h>

struct DFTI_DESCRIPTOR;

#ifdef __cplusplus
extern "C" {
#endif

int ovx_dft_dfti_create_sc1d(struct DFTI_DESCRIPTOR** handle, int64_t length);
int ovx_dft_dfti_create_sr1d(struct DFTI_DESCRIPTOR** handle, int64_t length);
int ovx_dft_dfti_create_dc1d(struct DFTI_DESCRIPTOR** handle, int64_t length);
int ovx_dft_dfti_create_dr1d(struct DFTI_DESCRIPTOR** handle, int64_t length);
int ovx_dft_dfti_create_scmd(struct DFTI_DESCRIPTOR** handle, int64_t rank, const int64_t* lengths);
int ovx_dft_dfti_create_srmd(struct DFTI_DESCRIPTOR** handle, int64_t rank, const int64_t* lengths);
int ovx_dft_dfti_create_dcmd(struct DFTI_DESCRIPTOR** handle, int64_t rank, const int64_t* lengths);
int ovx_dft_dfti_create_drmd(struct DFTI_DESCRIPTOR** handle, int64_t rank, const int64_t* lengths);
void ovx_dft_bless_node_thr(struct DFTI_DESCRIPTOR* node);

#ifdef __cplusplus
}
#endif

#endif
