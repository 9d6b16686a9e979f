/* The Fortran-convention FFTW3 entries: every argument by reference except
 * the interop object of the offload entries (by value, last). LP64 entries
 * read 32-bit integers, ILP64 entries 64-bit ones. The plan argument is the
 * caller's 64-bit plan variable. The 1D kinds take the arrays themselves,
 * every other kind (and the new-array execute entries) the addresses of
 * variables holding them. Lengths, strides and embeddings are in Fortran
 * order (first dimension fastest).
 *
 * OVX_FFTW_FORTRAN_KINDS(X) calls X(NAME, transform, shape) for the 18 kinds.
 */
#ifndef OVX_FFTW_OVX_FFTW_FORTRAN_H
#define OVX_FFTW_OVX_FFTW_FORTRAN_H

#include <stdint.h>

#define OVX_FFTW_FORTRAN_KINDS(X) \
    X(DFT, c2c, rank) \
    X(DFT_1D, c2c, 1d) \
    X(DFT_2D, c2c, 2d) \
    X(DFT_3D, c2c, 3d) \
    X(DFT_R2C, r2c, rank) \
    X(DFT_R2C_1D, r2c, 1d) \
    X(DFT_R2C_2D, r2c, 2d) \
    X(DFT_R2C_3D, r2c, 3d) \
    X(DFT_C2R, c2r, rank) \
    X(DFT_C2R_1D, c2r, 1d) \
    X(DFT_C2R_2D, c2r, 2d) \
    X(DFT_C2R_3D, c2r, 3d) \
    X(MANY_DFT, c2c, many) \
    X(MANY_DFT_R2C, r2c, many) \
    X(MANY_DFT_C2R, c2r, many) \
    X(GURU_DFT, c2c, guru) \
    X(GURU_DFT_R2C, r2c, guru) \
    X(GURU_DFT_C2R, c2r, guru)

#ifdef __cplusplus
extern "C" {
#endif

void SFFTW_PLAN_DFT_CPU_LP64(void** plan, const int32_t* rank, const int32_t* n, void** in, void** out, const int32_t* sign, const int32_t* flags);
void SFFTW_PLAN_DFT_CPU_ILP64(void** plan, const int64_t* rank, const int64_t* n, void** in, void** out, const int64_t* sign, const int64_t* flags);
void SFFTW_PLAN_DFT_OMP_OFFLOAD_LP64(void** plan, const int32_t* rank, const int32_t* n, void** in, void** out, const int32_t* sign, const int32_t* flags, void* interop);
void SFFTW_PLAN_DFT_OMP_OFFLOAD_ILP64(void** plan, const int64_t* rank, const int64_t* n, void** in, void** out, const int64_t* sign, const int64_t* flags, void* interop);
void SFFTW_PLAN_DFT_1D_CPU_LP64(void** plan, const int32_t* n, void* in, void* out, const int32_t* sign, const int32_t* flags);
void SFFTW_PLAN_DFT_1D_CPU_ILP64(void** plan, const int64_t* n, void* in, void* out, const int64_t* sign, const int64_t* flags);
void SFFTW_PLAN_DFT_1D_OMP_OFFLOAD_LP64(void** plan, const int32_t* n, void* in, void* out, const int32_t* sign, const int32_t* flags, void* interop);
void SFFTW_PLAN_DFT_1D_OMP_OFFLOAD_ILP64(void** plan, const int64_t* n, void* in, void* out, const int64_t* sign, const int64_t* flags, void* interop);
void SFFTW_PLAN_DFT_2D_CPU_LP64(void** plan, const int32_t* n1, const int32_t* n2, void** in, void** out, const int32_t* sign, const int32_t* flags);
void SFFTW_PLAN_DFT_2D_CPU_ILP64(void** plan, const int64_t* n1, const int64_t* n2, void** in, void** out, const int64_t* sign, const int64_t* flags);
void SFFTW_PLAN_DFT_2D_OMP_OFFLOAD_LP64(void** plan, const int32_t* n1, const int32_t* n2, void** in, void** out, const int32_t* sign, const int32_t* flags, void* interop);
void SFFTW_PLAN_DFT_2D_OMP_OFFLOAD_ILP64(void** plan, const int64_t* n1, const int64_t* n2, void** in, void** out, const int64_t* sign, const int64_t* flags, void* interop);
void SFFTW_PLAN_DFT_3D_CPU_LP64(void** plan, const int32_t* n1, const int32_t* n2, const int32_t* n3, void** in, void** out, const int32_t* sign, const int32_t* flags);
void SFFTW_PLAN_DFT_3D_CPU_ILP64(void** plan, const int64_t* n1, const int64_t* n2, const int64_t* n3, void** in, void** out, const int64_t* sign, const int64_t* flags);
void SFFTW_PLAN_DFT_3D_OMP_OFFLOAD_LP64(void** plan, const int32_t* n1, const int32_t* n2, const int32_t* n3, void** in, void** out, const int32_t* sign, const int32_t* flags, void* interop);
void SFFTW_PLAN_DFT_3D_OMP_OFFLOAD_ILP64(void** plan, const int64_t* n1, const int64_t* n2, const int64_t* n3, void** in, void** out, const int64_t* sign, const int64_t* flags, void* interop);
void SFFTW_PLAN_DFT_R2C_CPU_LP64(void** plan, const int32_t* rank, const int32_t* n, void** in, void** out, const int32_t* flags);
void SFFTW_PLAN_DFT_R2C_CPU_ILP64(void** plan, const int64_t* rank, const int64_t* n, void** in, void** out, const int64_t* flags);
void SFFTW_PLAN_DFT_R2C_OMP_OFFLOAD_LP64(void** plan, const int32_t* rank, const int32_t* n, void** in, void** out, const int32_t* flags, void* interop);
void SFFTW_PLAN_DFT_R2C_OMP_OFFLOAD_ILP64(void** plan, const int64_t* rank, const int64_t* n, void** in, void** out, const int64_t* flags, void* interop);
void SFFTW_PLAN_DFT_R2C_1D_CPU_LP64(void** plan, const int32_t* n, void* in, void* out, const int32_t* flags);
void SFFTW_PLAN_DFT_R2C_1D_CPU_ILP64(void** plan, const int64_t* n, void* in, void* out, const int64_t* flags);
void SFFTW_PLAN_DFT_R2C_1D_OMP_OFFLOAD_LP64(void** plan, const int32_t* n, void* in, void* out, const int32_t* flags, void* interop);
void SFFTW_PLAN_DFT_R2C_1D_OMP_OFFLOAD_ILP64(void** plan, const int64_t* n, void* in, void* out, const int64_t* flags, void* interop);
void SFFTW_PLAN_DFT_R2C_2D_CPU_LP64(void** plan, const int32_t* n1, const int32_t* n2, void** in, void** out, const int32_t* flags);
void SFFTW_PLAN_DFT_R2C_2D_CPU_ILP64(void** plan, const int64_t* n1, const int64_t* n2, void** in, void** out, const int64_t* flags);
void SFFTW_PLAN_DFT_R2C_2D_OMP_OFFLOAD_LP64(void** plan, const int32_t* n1, const int32_t* n2, void** in, void** out, const int32_t* flags, void* interop);
void SFFTW_PLAN_DFT_R2C_2D_OMP_OFFLOAD_ILP64(void** plan, const int64_t* n1, const int64_t* n2, void** in, void** out, const int64_t* flags, void* interop);
void SFFTW_PLAN_DFT_R2C_3D_CPU_LP64(void** plan, const int32_t* n1, const int32_t* n2, const int32_t* n3, void** in, void** out, const int32_t* flags);
void SFFTW_PLAN_DFT_R2C_3D_CPU_ILP64(void** plan, const int64_t* n1, const int64_t* n2, const int64_t* n3, void** in, void** out, const int64_t* flags);
void SFFTW_PLAN_DFT_R2C_3D_OMP_OFFLOAD_LP64(void** plan, const int32_t* n1, const int32_t* n2, const int32_t* n3, void** in, void** out, const int32_t* flags, void* interop);
void SFFTW_PLAN_DFT_R2C_3D_OMP_OFFLOAD_ILP64(void** plan, const int64_t* n1, const int64_t* n2, const int64_t* n3, void** in, void** out, const int64_t* flags, void* interop);
void SFFTW_PLAN_DFT_C2R_CPU_LP64(void** plan, const int32_t* rank, const int32_t* n, void** in, void** out, const int32_t* flags);
void SFFTW_PLAN_DFT_C2R_CPU_ILP64(void** plan, const int64_t* rank, const int64_t* n, void** in, void** out, const int64_t* flags);
void SFFTW_PLAN_DFT_C2R_OMP_OFFLOAD_LP64(void** plan, const int32_t* rank, const int32_t* n, void** in, void** out, const int32_t* flags, void* interop);
void SFFTW_PLAN_DFT_C2R_OMP_OFFLOAD_ILP64(void** plan, const int64_t* rank, const int64_t* n, void** in, void** out, const int64_t* flags, void* interop);
void SFFTW_PLAN_DFT_C2R_1D_CPU_LP64(void** plan, const int32_t* n, void* in, void* out, const int32_t* flags);
void SFFTW_PLAN_DFT_C2R_1D_CPU_ILP64(void** plan, const int64_t* n, void* in, void* out, const int64_t* flags);
void SFFTW_PLAN_DFT_C2R_1D_OMP_OFFLOAD_LP64(void** plan, const int32_t* n, void* in, void* out, const int32_t* flags, void* interop);
void SFFTW_PLAN_DFT_C2R_1D_OMP_OFFLOAD_ILP64(void** plan, const int64_t* n, void* in, void* out, const int64_t* flags, void* interop);
void SFFTW_PLAN_DFT_C2R_2D_CPU_LP64(void** plan, const int32_t* n1, const int32_t* n2, void** in, void** out, const int32_t* flags);
void SFFTW_PLAN_DFT_C2R_2D_CPU_ILP64(void** plan, const int64_t* n1, const int64_t* n2, void** in, void** out, const int64_t* flags);
void SFFTW_PLAN_DFT_C2R_2D_OMP_OFFLOAD_LP64(void** plan, const int32_t* n1, const int32_t* n2, void** in, void** out, const int32_t* flags, void* interop);
void SFFTW_PLAN_DFT_C2R_2D_OMP_OFFLOAD_ILP64(void** plan, const int64_t* n1, const int64_t* n2, void** in, void** out, const int64_t* flags, void* interop);
void SFFTW_PLAN_DFT_C2R_3D_CPU_LP64(void** plan, const int32_t* n1, const int32_t* n2, const int32_t* n3, void** in, void** out, const int32_t* flags);
void SFFTW_PLAN_DFT_C2R_3D_CPU_ILP64(void** plan, const int64_t* n1, const int64_t* n2, const int64_t* n3, void** in, void** out, const int64_t* flags);
void SFFTW_PLAN_DFT_C2R_3D_OMP_OFFLOAD_LP64(void** plan, const int32_t* n1, const int32_t* n2, const int32_t* n3, void** in, void** out, const int32_t* flags, void* interop);
void SFFTW_PLAN_DFT_C2R_3D_OMP_OFFLOAD_ILP64(void** plan, const int64_t* n1, const int64_t* n2, const int64_t* n3, void** in, void** out, const int64_t* flags, void* interop);
void SFFTW_PLAN_MANY_DFT_CPU_LP64(void** plan, const int32_t* rank, const int32_t* n, const int32_t* howmany, void** in, const int32_t* inembed, const int32_t* istride, const int32_t* idist, void** out, const int32_t* onembed, const int32_t* ostride, const int32_t* odist, const int32_t* sign, const int32_t* flags);
void SFFTW_PLAN_MANY_DFT_CPU_ILP64(void** plan, const int64_t* rank, const int64_t* n, const int64_t* howmany, void** in, const int64_t* inembed, const int64_t* istride, const int64_t* idist, void** out, const int64_t* onembed, const int64_t* ostride, const int64_t* odist, const int64_t* sign, const int64_t* flags);
void SFFTW_PLAN_MANY_DFT_OMP_OFFLOAD_LP64(void** plan, const int32_t* rank, const int32_t* n, const int32_t* howmany, void** in, const int32_t* inembed, const int32_t* istride, const int32_t* idist, void** out, const int32_t* onembed, const int32_t* ostride, const int32_t* odist, const int32_t* sign, const int32_t* flags, void* interop);
void SFFTW_PLAN_MANY_DFT_OMP_OFFLOAD_ILP64(void** plan, const int64_t* rank, const int64_t* n, const int64_t* howmany, void** in, const int64_t* inembed, const int64_t* istride, const int64_t* idist, void** out, const int64_t* onembed, const int64_t* ostride, const int64_t* odist, const int64_t* sign, const int64_t* flags, void* interop);
void SFFTW_PLAN_MANY_DFT_R2C_CPU_LP64(void** plan, const int32_t* rank, const int32_t* n, const int32_t* howmany, void** in, const int32_t* inembed, const int32_t* istride, const int32_t* idist, void** out, const int32_t* onembed, const int32_t* ostride, const int32_t* odist, const int32_t* flags);
void SFFTW_PLAN_MANY_DFT_R2C_CPU_ILP64(void** plan, const int64_t* rank, const int64_t* n, const int64_t* howmany, void** in, const int64_t* inembed, const int64_t* istride, const int64_t* idist, void** out, const int64_t* onembed, const int64_t* ostride, const int64_t* odist, const int64_t* flags);
void SFFTW_PLAN_MANY_DFT_R2C_OMP_OFFLOAD_LP64(void** plan, const int32_t* rank, const int32_t* n, const int32_t* howmany, void** in, const int32_t* inembed, const int32_t* istride, const int32_t* idist, void** out, const int32_t* onembed, const int32_t* ostride, const int32_t* odist, const int32_t* flags, void* interop);
void SFFTW_PLAN_MANY_DFT_R2C_OMP_OFFLOAD_ILP64(void** plan, const int64_t* rank, const int64_t* n, const int64_t* howmany, void** in, const int64_t* inembed, const int64_t* istride, const int64_t* idist, void** out, const int64_t* onembed, const int64_t* ostride, const int64_t* odist, const int64_t* flags, void* interop);
void SFFTW_PLAN_MANY_DFT_C2R_CPU_LP64(void** plan, const int32_t* rank, const int32_t* n, const int32_t* howmany, void** in, const int32_t* inembed, const int32_t* istride, const int32_t* idist, void** out, const int32_t* onembed, const int32_t* ostride, const int32_t* odist, const int32_t* flags);
void SFFTW_PLAN_MANY_DFT_C2R_CPU_ILP64(void** plan, const int64_t* rank, const int64_t* n, const int64_t* howmany, void** in, const int64_t* inembed, const int64_t* istride, const int64_t* idist, void** out, const int64_t* onembed, const int64_t* ostride, const int64_t* odist, const int64_t* flags);
void SFFTW_PLAN_MANY_DFT_C2R_OMP_OFFLOAD_LP64(void** plan, const int32_t* rank, const int32_t* n, const int32_t* howmany, void** in, const int32_t* inembed, const int32_t* istride, const int32_t* idist, void** out, const int32_t* onembed, const int32_t* ostride, const int32_t* odist, const int32_t* flags, void* interop);
void SFFTW_PLAN_MANY_DFT_C2R_OMP_OFFLOAD_ILP64(void** plan, const int64_t* rank, const int64_t* n, const int64_t* howmany, void** in, const int64_t* inembed, const int64_t* istride, const int64_t* idist, void** out, const int64_t* onembed, const int64_t* ostride, const int64_t* odist, const int64_t* flags, void* interop);
void SFFTW_PLAN_GURU_DFT_CPU_LP64(void** plan, const int32_t* rank, const int32_t* n, const int32_t* is, const int32_t* os, const int32_t* howmany_rank, const int32_t* h_n, const int32_t* h_is, const int32_t* h_os, void** in, void** out, const int32_t* sign, const int32_t* flags);
void SFFTW_PLAN_GURU_DFT_CPU_ILP64(void** plan, const int64_t* rank, const int64_t* n, const int64_t* is, const int64_t* os, const int64_t* howmany_rank, const int64_t* h_n, const int64_t* h_is, const int64_t* h_os, void** in, void** out, const int64_t* sign, const int64_t* flags);
void SFFTW_PLAN_GURU_DFT_OMP_OFFLOAD_LP64(void** plan, const int32_t* rank, const int32_t* n, const int32_t* is, const int32_t* os, const int32_t* howmany_rank, const int32_t* h_n, const int32_t* h_is, const int32_t* h_os, void** in, void** out, const int32_t* sign, const int32_t* flags, void* interop);
void SFFTW_PLAN_GURU_DFT_OMP_OFFLOAD_ILP64(void** plan, const int64_t* rank, const int64_t* n, const int64_t* is, const int64_t* os, const int64_t* howmany_rank, const int64_t* h_n, const int64_t* h_is, const int64_t* h_os, void** in, void** out, const int64_t* sign, const int64_t* flags, void* interop);
void SFFTW_PLAN_GURU_DFT_R2C_CPU_LP64(void** plan, const int32_t* rank, const int32_t* n, const int32_t* is, const int32_t* os, const int32_t* howmany_rank, const int32_t* h_n, const int32_t* h_is, const int32_t* h_os, void** in, void** out, const int32_t* flags);
void SFFTW_PLAN_GURU_DFT_R2C_CPU_ILP64(void** plan, const int64_t* rank, const int64_t* n, const int64_t* is, const int64_t* os, const int64_t* howmany_rank, const int64_t* h_n, const int64_t* h_is, const int64_t* h_os, void** in, void** out, const int64_t* flags);
void SFFTW_PLAN_GURU_DFT_R2C_OMP_OFFLOAD_LP64(void** plan, const int32_t* rank, const int32_t* n, const int32_t* is, const int32_t* os, const int32_t* howmany_rank, const int32_t* h_n, const int32_t* h_is, const int32_t* h_os, void** in, void** out, const int32_t* flags, void* interop);
void SFFTW_PLAN_GURU_DFT_R2C_OMP_OFFLOAD_ILP64(void** plan, const int64_t* rank, const int64_t* n, const int64_t* is, const int64_t* os, const int64_t* howmany_rank, const int64_t* h_n, const int64_t* h_is, const int64_t* h_os, void** in, void** out, const int64_t* flags, void* interop);
void SFFTW_PLAN_GURU_DFT_C2R_CPU_LP64(void** plan, const int32_t* rank, const int32_t* n, const int32_t* is, const int32_t* os, const int32_t* howmany_rank, const int32_t* h_n, const int32_t* h_is, const int32_t* h_os, void** in, void** out, const int32_t* flags);
void SFFTW_PLAN_GURU_DFT_C2R_CPU_ILP64(void** plan, const int64_t* rank, const int64_t* n, const int64_t* is, const int64_t* os, const int64_t* howmany_rank, const int64_t* h_n, const int64_t* h_is, const int64_t* h_os, void** in, void** out, const int64_t* flags);
void SFFTW_PLAN_GURU_DFT_C2R_OMP_OFFLOAD_LP64(void** plan, const int32_t* rank, const int32_t* n, const int32_t* is, const int32_t* os, const int32_t* howmany_rank, const int32_t* h_n, const int32_t* h_is, const int32_t* h_os, void** in, void** out, const int32_t* flags, void* interop);
void SFFTW_PLAN_GURU_DFT_C2R_OMP_OFFLOAD_ILP64(void** plan, const int64_t* rank, const int64_t* n, const int64_t* is, const int64_t* os, const int64_t* howmany_rank, const int64_t* h_n, const int64_t* h_is, const int64_t* h_os, void** in, void** out, const int64_t* flags, void* interop);
void SFFTW_EXECUTE_OMP_OFFLOAD(void** plan, void* interop);
void SFFTW_EXECUTE_DFT_OMP_OFFLOAD(void** plan, void** in, void** out, void* interop);
void SFFTW_EXECUTE_DFT_CPU(void** plan, void** in, void** out);
void SFFTW_EXECUTE_DFT_R2C_OMP_OFFLOAD(void** plan, void** in, void** out, void* interop);
void SFFTW_EXECUTE_DFT_R2C_CPU(void** plan, void** in, void** out);
void SFFTW_EXECUTE_DFT_C2R_OMP_OFFLOAD(void** plan, void** in, void** out, void* interop);
void SFFTW_EXECUTE_DFT_C2R_CPU(void** plan, void** in, void** out);
void DFFTW_PLAN_DFT_CPU_LP64(void** plan, const int32_t* rank, const int32_t* n, void** in, void** out, const int32_t* sign, const int32_t* flags);
void DFFTW_PLAN_DFT_CPU_ILP64(void** plan, const int64_t* rank, const int64_t* n, void** in, void** out, const int64_t* sign, const int64_t* flags);
void DFFTW_PLAN_DFT_OMP_OFFLOAD_LP64(void** plan, const int32_t* rank, const int32_t* n, void** in, void** out, const int32_t* sign, const int32_t* flags, void* interop);
void DFFTW_PLAN_DFT_OMP_OFFLOAD_ILP64(void** plan, const int64_t* rank, const int64_t* n, void** in, void** out, const int64_t* sign, const int64_t* flags, void* interop);
void DFFTW_PLAN_DFT_1D_CPU_LP64(void** plan, const int32_t* n, void* in, void* out, const int32_t* sign, const int32_t* flags);
void DFFTW_PLAN_DFT_1D_CPU_ILP64(void** plan, const int64_t* n, void* in, void* out, const int64_t* sign, const int64_t* flags);
void DFFTW_PLAN_DFT_1D_OMP_OFFLOAD_LP64(void** plan, const int32_t* n, void* in, void* out, const int32_t* sign, const int32_t* flags, void* interop);
void DFFTW_PLAN_DFT_1D_OMP_OFFLOAD_ILP64(void** plan, const int64_t* n, void* in, void* out, const int64_t* sign, const int64_t* flags, void* interop);
void DFFTW_PLAN_DFT_2D_CPU_LP64(void** plan, const int32_t* n1, const int32_t* n2, void** in, void** out, const int32_t* sign, const int32_t* flags);
void DFFTW_PLAN_DFT_2D_CPU_ILP64(void** plan, const int64_t* n1, const int64_t* n2, void** in, void** out, const int64_t* sign, const int64_t* flags);
void DFFTW_PLAN_DFT_2D_OMP_OFFLOAD_LP64(void** plan, const int32_t* n1, const int32_t* n2, void** in, void** out, const int32_t* sign, const int32_t* flags, void* interop);
void DFFTW_PLAN_DFT_2D_OMP_OFFLOAD_ILP64(void** plan, const int64_t* n1, const int64_t* n2, void** in, void** out, const int64_t* sign, const int64_t* flags, void* interop);
void DFFTW_PLAN_DFT_3D_CPU_LP64(void** plan, const int32_t* n1, const int32_t* n2, const int32_t* n3, void** in, void** out, const int32_t* sign, const int32_t* flags);
void DFFTW_PLAN_DFT_3D_CPU_ILP64(void** plan, const int64_t* n1, const int64_t* n2, const int64_t* n3, void** in, void** out, const int64_t* sign, const int64_t* flags);
void DFFTW_PLAN_DFT_3D_OMP_OFFLOAD_LP64(void** plan, const int32_t* n1, const int32_t* n2, const int32_t* n3, void** in, void** out, const int32_t* sign, const int32_t* flags, void* interop);
void DFFTW_PLAN_DFT_3D_OMP_OFFLOAD_ILP64(void** plan, const int64_t* n1, const int64_t* n2, const int64_t* n3, void** in, void** out, const int64_t* sign, const int64_t* flags, void* interop);
void DFFTW_PLAN_DFT_R2C_CPU_LP64(void** plan, const int32_t* rank, const int32_t* n, void** in, void** out, const int32_t* flags);
void DFFTW_PLAN_DFT_R2C_CPU_ILP64(void** plan, const int64_t* rank, const int64_t* n, void** in, void** out, const int64_t* flags);
void DFFTW_PLAN_DFT_R2C_OMP_OFFLOAD_LP64(void** plan, const int32_t* rank, const int32_t* n, void** in, void** out, const int32_t* flags, void* interop);
void DFFTW_PLAN_DFT_R2C_OMP_OFFLOAD_ILP64(void** plan, const int64_t* rank, const int64_t* n, void** in, void** out, const int64_t* flags, void* interop);
void DFFTW_PLAN_DFT_R2C_1D_CPU_LP64(void** plan, const int32_t* n, void* in, void* out, const int32_t* flags);
void DFFTW_PLAN_DFT_R2C_1D_CPU_ILP64(void** plan, const int64_t* n, void* in, void* out, const int64_t* flags);
void DFFTW_PLAN_DFT_R2C_1D_OMP_OFFLOAD_LP64(void** plan, const int32_t* n, void* in, void* out, const int32_t* flags, void* interop);
void DFFTW_PLAN_DFT_R2C_1D_OMP_OFFLOAD_ILP64(void** plan, const int64_t* n, void* in, void* out, const int64_t* flags, void* interop);
void DFFTW_PLAN_DFT_R2C_2D_CPU_LP64(void** plan, const int32_t* n1, const int32_t* n2, void** in, void** out, const int32_t* flags);
void DFFTW_PLAN_DFT_R2C_2D_CPU_ILP64(void** plan, const int64_t* n1, const int64_t* n2, void** in, void** out, const int64_t* flags);
void DFFTW_PLAN_DFT_R2C_2D_OMP_OFFLOAD_LP64(void** plan, const int32_t* n1, const int32_t* n2, void** in, void** out, const int32_t* flags, void* interop);
void DFFTW_PLAN_DFT_R2C_2D_OMP_OFFLOAD_ILP64(void** plan, const int64_t* n1, const int64_t* n2, void** in, void** out, const int64_t* flags, void* interop);
void DFFTW_PLAN_DFT_R2C_3D_CPU_LP64(void** plan, const int32_t* n1, const int32_t* n2, const int32_t* n3, void** in, void** out, const int32_t* flags);
void DFFTW_PLAN_DFT_R2C_3D_CPU_ILP64(void** plan, const int64_t* n1, const int64_t* n2, const int64_t* n3, void** in, void** out, const int64_t* flags);
void DFFTW_PLAN_DFT_R2C_3D_OMP_OFFLOAD_LP64(void** plan, const int32_t* n1, const int32_t* n2, const int32_t* n3, void** in, void** out, const int32_t* flags, void* interop);
void DFFTW_PLAN_DFT_R2C_3D_OMP_OFFLOAD_ILP64(void** plan, const int64_t* n1, const int64_t* n2, const int64_t* n3, void** in, void** out, const int64_t* flags, void* interop);
void DFFTW_PLAN_DFT_C2R_CPU_LP64(void** plan, const int32_t* rank, const int32_t* n, void** in, void** out, const int32_t* flags);
void DFFTW_PLAN_DFT_C2R_CPU_ILP64(void** plan, const int64_t* rank, const int64_t* n, void** in, void** out, const int64_t* flags);
void DFFTW_PLAN_DFT_C2R_OMP_OFFLOAD_LP64(void** plan, const int32_t* rank, const int32_t* n, void** in, void** out, const int32_t* flags, void* interop);
void DFFTW_PLAN_DFT_C2R_OMP_OFFLOAD_ILP64(void** plan, const int64_t* rank, const int64_t* n, void** in, void** out, const int64_t* flags, void* interop);
void DFFTW_PLAN_DFT_C2R_1D_CPU_LP64(void** plan, const int32_t* n, void* in, void* out, const int32_t* flags);
void DFFTW_PLAN_DFT_C2R_1D_CPU_ILP64(void** plan, const int64_t* n, void* in, void* out, const int64_t* flags);
void DFFTW_PLAN_DFT_C2R_1D_OMP_OFFLOAD_LP64(void** plan, const int32_t* n, void* in, void* out, const int32_t* flags, void* interop);
void DFFTW_PLAN_DFT_C2R_1D_OMP_OFFLOAD_ILP64(void** plan, const int64_t* n, void* in, void* out, const int64_t* flags, void* interop);
void DFFTW_PLAN_DFT_C2R_2D_CPU_LP64(void** plan, const int32_t* n1, const int32_t* n2, void** in, void** out, const int32_t* flags);
void DFFTW_PLAN_DFT_C2R_2D_CPU_ILP64(void** plan, const int64_t* n1, const int64_t* n2, void** in, void** out, const int64_t* flags);
void DFFTW_PLAN_DFT_C2R_2D_OMP_OFFLOAD_LP64(void** plan, const int32_t* n1, const int32_t* n2, void** in, void** out, const int32_t* flags, void* interop);
void DFFTW_PLAN_DFT_C2R_2D_OMP_OFFLOAD_ILP64(void** plan, const int64_t* n1, const int64_t* n2, void** in, void** out, const int64_t* flags, void* interop);
void DFFTW_PLAN_DFT_C2R_3D_CPU_LP64(void** plan, const int32_t* n1, const int32_t* n2, const int32_t* n3, void** in, void** out, const int32_t* flags);
void DFFTW_PLAN_DFT_C2R_3D_CPU_ILP64(void** plan, const int64_t* n1, const int64_t* n2, const int64_t* n3, void** in, void** out, const int64_t* flags);
void DFFTW_PLAN_DFT_C2R_3D_OMP_OFFLOAD_LP64(void** plan, const int32_t* n1, const int32_t* n2, const int32_t* n3, void** in, void** out, const int32_t* flags, void* interop);
void DFFTW_PLAN_DFT_C2R_3D_OMP_OFFLOAD_ILP64(void** plan, const int64_t* n1, const int64_t* n2, const int64_t* n3, void** in, void** out, const int64_t* flags, void* interop);
void DFFTW_PLAN_MANY_DFT_CPU_LP64(void** plan, const int32_t* rank, const int32_t* n, const int32_t* howmany, void** in, const int32_t* inembed, const int32_t* istride, const int32_t* idist, void** out, const int32_t* onembed, const int32_t* ostride, const int32_t* odist, const int32_t* sign, const int32_t* flags);
void DFFTW_PLAN_MANY_DFT_CPU_ILP64(void** plan, const int64_t* rank, const int64_t* n, const int64_t* howmany, void** in, const int64_t* inembed, const int64_t* istride, const int64_t* idist, void** out, const int64_t* onembed, const int64_t* ostride, const int64_t* odist, const int64_t* sign, const int64_t* flags);
void DFFTW_PLAN_MANY_DFT_OMP_OFFLOAD_LP64(void** plan, const int32_t* rank, const int32_t* n, const int32_t* howmany, void** in, const int32_t* inembed, const int32_t* istride, const int32_t* idist, void** out, const int32_t* onembed, const int32_t* ostride, const int32_t* odist, const int32_t* sign, const int32_t* flags, void* interop);
void DFFTW_PLAN_MANY_DFT_OMP_OFFLOAD_ILP64(void** plan, const int64_t* rank, const int64_t* n, const int64_t* howmany, void** in, const int64_t* inembed, const int64_t* istride, const int64_t* idist, void** out, const int64_t* onembed, const int64_t* ostride, const int64_t* odist, const int64_t* sign, const int64_t* flags, void* interop);
void DFFTW_PLAN_MANY_DFT_R2C_CPU_LP64(void** plan, const int32_t* rank, const int32_t* n, const int32_t* howmany, void** in, const int32_t* inembed, const int32_t* istride, const int32_t* idist, void** out, const int32_t* onembed, const int32_t* ostride, const int32_t* odist, const int32_t* flags);
void DFFTW_PLAN_MANY_DFT_R2C_CPU_ILP64(void** plan, const int64_t* rank, const int64_t* n, const int64_t* howmany, void** in, const int64_t* inembed, const int64_t* istride, const int64_t* idist, void** out, const int64_t* onembed, const int64_t* ostride, const int64_t* odist, const int64_t* flags);
void DFFTW_PLAN_MANY_DFT_R2C_OMP_OFFLOAD_LP64(void** plan, const int32_t* rank, const int32_t* n, const int32_t* howmany, void** in, const int32_t* inembed, const int32_t* istride, const int32_t* idist, void** out, const int32_t* onembed, const int32_t* ostride, const int32_t* odist, const int32_t* flags, void* interop);
void DFFTW_PLAN_MANY_DFT_R2C_OMP_OFFLOAD_ILP64(void** plan, const int64_t* rank, const int64_t* n, const int64_t* howmany, void** in, const int64_t* inembed, const int64_t* istride, const int64_t* idist, void** out, const int64_t* onembed, const int64_t* ostride, const int64_t* odist, const int64_t* flags, void* interop);
void DFFTW_PLAN_MANY_DFT_C2R_CPU_LP64(void** plan, const int32_t* rank, const int32_t* n, const int32_t* howmany, void** in, const int32_t* inembed, const int32_t* istride, const int32_t* idist, void** out, const int32_t* onembed, const int32_t* ostride, const int32_t* odist, const int32_t* flags);
void DFFTW_PLAN_MANY_DFT_C2R_CPU_ILP64(void** plan, const int64_t* rank, const int64_t* n, const int64_t* howmany, void** in, const int64_t* inembed, const int64_t* istride, const int64_t* idist, void** out, const int64_t* onembed, const int64_t* ostride, const int64_t* odist, const int64_t* flags);
void DFFTW_PLAN_MANY_DFT_C2R_OMP_OFFLOAD_LP64(void** plan, const int32_t* rank, const int32_t* n, const int32_t* howmany, void** in, const int32_t* inembed, const int32_t* istride, const int32_t* idist, void** out, const int32_t* onembed, const int32_t* ostride, const int32_t* odist, const int32_t* flags, void* interop);
void DFFTW_PLAN_MANY_DFT_C2R_OMP_OFFLOAD_ILP64(void** plan, const int64_t* rank, const int64_t* n, const int64_t* howmany, void** in, const int64_t* inembed, const int64_t* istride, const int64_t* idist, void** out, const int64_t* onembed, const int64_t* ostride, const int64_t* odist, const int64_t* flags, void* interop);
void DFFTW_PLAN_GURU_DFT_CPU_LP64(void** plan, const int32_t* rank, const int32_t* n, const int32_t* is, const int32_t* os, const int32_t* howmany_rank, const int32_t* h_n, const int32_t* h_is, const int32_t* h_os, void** in, void** out, const int32_t* sign, const int32_t* flags);
void DFFTW_PLAN_GURU_DFT_CPU_ILP64(void** plan, const int64_t* rank, const int64_t* n, const int64_t* is, const int64_t* os, const int64_t* howmany_rank, const int64_t* h_n, const int64_t* h_is, const int64_t* h_os, void** in, void** out, const int64_t* sign, const int64_t* flags);
void DFFTW_PLAN_GURU_DFT_OMP_OFFLOAD_LP64(void** plan, const int32_t* rank, const int32_t* n, const int32_t* is, const int32_t* os, const int32_t* howmany_rank, const int32_t* h_n, const int32_t* h_is, const int32_t* h_os, void** in, void** out, const int32_t* sign, const int32_t* flags, void* interop);
void DFFTW_PLAN_GURU_DFT_OMP_OFFLOAD_ILP64(void** plan, const int64_t* rank, const int64_t* n, const int64_t* is, const int64_t* os, const int64_t* howmany_rank, const int64_t* h_n, const int64_t* h_is, const int64_t* h_os, void** in, void** out, const int64_t* sign, const int64_t* flags, void* interop);
void DFFTW_PLAN_GURU_DFT_R2C_CPU_LP64(void** plan, const int32_t* rank, const int32_t* n, const int32_t* is, const int32_t* os, const int32_t* howmany_rank, const int32_t* h_n, const int32_t* h_is, const int32_t* h_os, void** in, void** out, const int32_t* flags);
void DFFTW_PLAN_GURU_DFT_R2C_CPU_ILP64(void** plan, const int64_t* rank, const int64_t* n, const int64_t* is, const int64_t* os, const int64_t* howmany_rank, const int64_t* h_n, const int64_t* h_is, const int64_t* h_os, void** in, void** out, const int64_t* flags);
void DFFTW_PLAN_GURU_DFT_R2C_OMP_OFFLOAD_LP64(void** plan, const int32_t* rank, const int32_t* n, const int32_t* is, const int32_t* os, const int32_t* howmany_rank, const int32_t* h_n, const int32_t* h_is, const int32_t* h_os, void** in, void** out, const int32_t* flags, void* interop);
void DFFTW_PLAN_GURU_DFT_R2C_OMP_OFFLOAD_ILP64(void** plan, const int64_t* rank, const int64_t* n, const int64_t* is, const int64_t* os, const int64_t* howmany_rank, const int64_t* h_n, const int64_t* h_is, const int64_t* h_os, void** in, void** out, const int64_t* flags, void* interop);
void DFFTW_PLAN_GURU_DFT_C2R_CPU_LP64(void** plan, const int32_t* rank, const int32_t* n, const int32_t* is, const int32_t* os, const int32_t* howmany_rank, const int32_t* h_n, const int32_t* h_is, const int32_t* h_os, void** in, void** out, const int32_t* flags);
void DFFTW_PLAN_GURU_DFT_C2R_CPU_ILP64(void** plan, const int64_t* rank, const int64_t* n, const int64_t* is, const int64_t* os, const int64_t* howmany_rank, const int64_t* h_n, const int64_t* h_is, const int64_t* h_os, void** in, void** out, const int64_t* flags);
void DFFTW_PLAN_GURU_DFT_C2R_OMP_OFFLOAD_LP64(void** plan, const int32_t* rank, const int32_t* n, const int32_t* is, const int32_t* os, const int32_t* howmany_rank, const int32_t* h_n, const int32_t* h_is, const int32_t* h_os, void** in, void** out, const int32_t* flags, void* interop);
void DFFTW_PLAN_GURU_DFT_C2R_OMP_OFFLOAD_ILP64(void** plan, const int64_t* rank, const int64_t* n, const int64_t* is, const int64_t* os, const int64_t* howmany_rank, const int64_t* h_n, const int64_t* h_is, const int64_t* h_os, void** in, void** out, const int64_t* flags, void* interop);
void DFFTW_EXECUTE_OMP_OFFLOAD(void** plan, void* interop);
void DFFTW_EXECUTE_DFT_OMP_OFFLOAD(void** plan, void** in, void** out, void* interop);
void DFFTW_EXECUTE_DFT_CPU(void** plan, void** in, void** out);
void DFFTW_EXECUTE_DFT_R2C_OMP_OFFLOAD(void** plan, void** in, void** out, void* interop);
void DFFTW_EXECUTE_DFT_R2C_CPU(void** plan, void** in, void** out);
void DFFTW_EXECUTE_DFT_C2R_OMP_OFFLOAD(void** plan, void** in, void** out, void* interop);
void DFFTW_EXECUTE_DFT_C2R_CPU(void** plan, void** in, void** out);

#ifdef __cplusplus
}
#endif

#endif
