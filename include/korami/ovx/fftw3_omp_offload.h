/* FFTW3 planning and execution interface for OpenMP offload.
 *
 * The FFTW3 plan and execute functions of the complex, real-to-complex and
 * complex-to-real families with the suffix _omp_offload and a trailing
 * OpenMP interop object, through which the GPU queue is found. Plans
 * compute on that queue; data must be device or shared USM of its context.
 * A plan entry returns null when it cannot plan; execute entries report
 * nothing. Executing with new arrays keeps the plan's placement (in == out
 * for an in-place plan, distinct arrays otherwise; anything else does
 * nothing). There is no destroy entry: a plan lives until the process ends.
 *
 * The types are layout-compatible with FFTW3's (ovx_fftwf_complex with
 * fftwf_complex, ovx_fftw_iodim with fftw_iodim, ...) and named apart from
 * them, so that this header and <fftw3.h> can be included together.
 */
#ifndef KORAMI_OVX_FFTW3_OMP_OFFLOAD_H
#define KORAMI_OVX_FFTW3_OMP_OFFLOAD_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef float ovx_fftwf_complex[2];
typedef double ovx_fftw_complex[2];
typedef struct ovx_fftw_plan_s* ovx_fftw_plan;
typedef struct ovx_fftw_iodim { int n, is, os; } ovx_fftw_iodim;
typedef struct ovx_fftw_iodim64 { ptrdiff_t n, is, os; } ovx_fftw_iodim64;

/* Single precision. */
ovx_fftw_plan fftwf_plan_dft_omp_offload(int rank, const int* n, ovx_fftwf_complex* in, ovx_fftwf_complex* out, int sign, unsigned flags, void* interop);
ovx_fftw_plan fftwf_plan_dft_1d_omp_offload(int n0, ovx_fftwf_complex* in, ovx_fftwf_complex* out, int sign, unsigned flags, void* interop);
ovx_fftw_plan fftwf_plan_dft_2d_omp_offload(int n0, int n1, ovx_fftwf_complex* in, ovx_fftwf_complex* out, int sign, unsigned flags, void* interop);
ovx_fftw_plan fftwf_plan_dft_3d_omp_offload(int n0, int n1, int n2, ovx_fftwf_complex* in, ovx_fftwf_complex* out, int sign, unsigned flags,
    void* interop);
ovx_fftw_plan fftwf_plan_many_dft_omp_offload(int rank, const int* n, int howmany, ovx_fftwf_complex* in, const int* inembed,
    int istride, int idist, ovx_fftwf_complex* out, const int* onembed, int ostride, int odist, int sign, unsigned flags,
    void* interop);
ovx_fftw_plan fftwf_plan_guru_dft_omp_offload(int rank, const ovx_fftw_iodim* dims, int howmany_rank,
    const ovx_fftw_iodim* howmany_dims, ovx_fftwf_complex* in, ovx_fftwf_complex* out, int sign, unsigned flags, void* interop);
ovx_fftw_plan fftwf_plan_guru64_dft_omp_offload(int rank, const ovx_fftw_iodim64* dims, int howmany_rank,
    const ovx_fftw_iodim64* howmany_dims, ovx_fftwf_complex* in, ovx_fftwf_complex* out, int sign, unsigned flags, void* interop);
ovx_fftw_plan fftwf_plan_dft_r2c_omp_offload(int rank, const int* n, float* in, ovx_fftwf_complex* out, unsigned flags, void* interop);
ovx_fftw_plan fftwf_plan_dft_r2c_1d_omp_offload(int n0, float* in, ovx_fftwf_complex* out, unsigned flags, void* interop);
ovx_fftw_plan fftwf_plan_dft_r2c_2d_omp_offload(int n0, int n1, float* in, ovx_fftwf_complex* out, unsigned flags, void* interop);
ovx_fftw_plan fftwf_plan_dft_r2c_3d_omp_offload(int n0, int n1, int n2, float* in, ovx_fftwf_complex* out, unsigned flags,
    void* interop);
ovx_fftw_plan fftwf_plan_many_dft_r2c_omp_offload(int rank, const int* n, int howmany, float* in, const int* inembed,
    int istride, int idist, ovx_fftwf_complex* out, const int* onembed, int ostride, int odist, unsigned flags,
    void* interop);
ovx_fftw_plan fftwf_plan_guru_dft_r2c_omp_offload(int rank, const ovx_fftw_iodim* dims, int howmany_rank,
    const ovx_fftw_iodim* howmany_dims, float* in, ovx_fftwf_complex* out, unsigned flags, void* interop);
ovx_fftw_plan fftwf_plan_guru64_dft_r2c_omp_offload(int rank, const ovx_fftw_iodim64* dims, int howmany_rank,
    const ovx_fftw_iodim64* howmany_dims, float* in, ovx_fftwf_complex* out, unsigned flags, void* interop);
ovx_fftw_plan fftwf_plan_dft_c2r_omp_offload(int rank, const int* n, ovx_fftwf_complex* in, float* out, unsigned flags, void* interop);
ovx_fftw_plan fftwf_plan_dft_c2r_1d_omp_offload(int n0, ovx_fftwf_complex* in, float* out, unsigned flags, void* interop);
ovx_fftw_plan fftwf_plan_dft_c2r_2d_omp_offload(int n0, int n1, ovx_fftwf_complex* in, float* out, unsigned flags, void* interop);
ovx_fftw_plan fftwf_plan_dft_c2r_3d_omp_offload(int n0, int n1, int n2, ovx_fftwf_complex* in, float* out, unsigned flags,
    void* interop);
ovx_fftw_plan fftwf_plan_many_dft_c2r_omp_offload(int rank, const int* n, int howmany, ovx_fftwf_complex* in, const int* inembed,
    int istride, int idist, float* out, const int* onembed, int ostride, int odist, unsigned flags,
    void* interop);
ovx_fftw_plan fftwf_plan_guru_dft_c2r_omp_offload(int rank, const ovx_fftw_iodim* dims, int howmany_rank,
    const ovx_fftw_iodim* howmany_dims, ovx_fftwf_complex* in, float* out, unsigned flags, void* interop);
ovx_fftw_plan fftwf_plan_guru64_dft_c2r_omp_offload(int rank, const ovx_fftw_iodim64* dims, int howmany_rank,
    const ovx_fftw_iodim64* howmany_dims, ovx_fftwf_complex* in, float* out, unsigned flags, void* interop);
void fftwf_execute_omp_offload(const ovx_fftw_plan plan, void* interop);
void fftwf_execute_dft_omp_offload(const ovx_fftw_plan plan, ovx_fftwf_complex* in, ovx_fftwf_complex* out, void* interop);
void fftwf_execute_dft_r2c_omp_offload(const ovx_fftw_plan plan, float* in, ovx_fftwf_complex* out, void* interop);
void fftwf_execute_dft_c2r_omp_offload(const ovx_fftw_plan plan, ovx_fftwf_complex* in, float* out, void* interop);

/* Double precision. */
ovx_fftw_plan fftw_plan_dft_omp_offload(int rank, const int* n, ovx_fftw_complex* in, ovx_fftw_complex* out, int sign, unsigned flags, void* interop);
ovx_fftw_plan fftw_plan_dft_1d_omp_offload(int n0, ovx_fftw_complex* in, ovx_fftw_complex* out, int sign, unsigned flags, void* interop);
ovx_fftw_plan fftw_plan_dft_2d_omp_offload(int n0, int n1, ovx_fftw_complex* in, ovx_fftw_complex* out, int sign, unsigned flags, void* interop);
ovx_fftw_plan fftw_plan_dft_3d_omp_offload(int n0, int n1, int n2, ovx_fftw_complex* in, ovx_fftw_complex* out, int sign, unsigned flags,
    void* interop);
ovx_fftw_plan fftw_plan_many_dft_omp_offload(int rank, const int* n, int howmany, ovx_fftw_complex* in, const int* inembed,
    int istride, int idist, ovx_fftw_complex* out, const int* onembed, int ostride, int odist, int sign, unsigned flags,
    void* interop);
ovx_fftw_plan fftw_plan_guru_dft_omp_offload(int rank, const ovx_fftw_iodim* dims, int howmany_rank,
    const ovx_fftw_iodim* howmany_dims, ovx_fftw_complex* in, ovx_fftw_complex* out, int sign, unsigned flags, void* interop);
ovx_fftw_plan fftw_plan_guru64_dft_omp_offload(int rank, const ovx_fftw_iodim64* dims, int howmany_rank,
    const ovx_fftw_iodim64* howmany_dims, ovx_fftw_complex* in, ovx_fftw_complex* out, int sign, unsigned flags, void* interop);
ovx_fftw_plan fftw_plan_dft_r2c_omp_offload(int rank, const int* n, double* in, ovx_fftw_complex* out, unsigned flags, void* interop);
ovx_fftw_plan fftw_plan_dft_r2c_1d_omp_offload(int n0, double* in, ovx_fftw_complex* out, unsigned flags, void* interop);
ovx_fftw_plan fftw_plan_dft_r2c_2d_omp_offload(int n0, int n1, double* in, ovx_fftw_complex* out, unsigned flags, void* interop);
ovx_fftw_plan fftw_plan_dft_r2c_3d_omp_offload(int n0, int n1, int n2, double* in, ovx_fftw_complex* out, unsigned flags,
    void* interop);
ovx_fftw_plan fftw_plan_many_dft_r2c_omp_offload(int rank, const int* n, int howmany, double* in, const int* inembed,
    int istride, int idist, ovx_fftw_complex* out, const int* onembed, int ostride, int odist, unsigned flags,
    void* interop);
ovx_fftw_plan fftw_plan_guru_dft_r2c_omp_offload(int rank, const ovx_fftw_iodim* dims, int howmany_rank,
    const ovx_fftw_iodim* howmany_dims, double* in, ovx_fftw_complex* out, unsigned flags, void* interop);
ovx_fftw_plan fftw_plan_guru64_dft_r2c_omp_offload(int rank, const ovx_fftw_iodim64* dims, int howmany_rank,
    const ovx_fftw_iodim64* howmany_dims, double* in, ovx_fftw_complex* out, unsigned flags, void* interop);
ovx_fftw_plan fftw_plan_dft_c2r_omp_offload(int rank, const int* n, ovx_fftw_complex* in, double* out, unsigned flags, void* interop);
ovx_fftw_plan fftw_plan_dft_c2r_1d_omp_offload(int n0, ovx_fftw_complex* in, double* out, unsigned flags, void* interop);
ovx_fftw_plan fftw_plan_dft_c2r_2d_omp_offload(int n0, int n1, ovx_fftw_complex* in, double* out, unsigned flags, void* interop);
ovx_fftw_plan fftw_plan_dft_c2r_3d_omp_offload(int n0, int n1, int n2, ovx_fftw_complex* in, double* out, unsigned flags,
    void* interop);
ovx_fftw_plan fftw_plan_many_dft_c2r_omp_offload(int rank, const int* n, int howmany, ovx_fftw_complex* in, const int* inembed,
    int istride, int idist, double* out, const int* onembed, int ostride, int odist, unsigned flags,
    void* interop);
ovx_fftw_plan fftw_plan_guru_dft_c2r_omp_offload(int rank, const ovx_fftw_iodim* dims, int howmany_rank,
    const ovx_fftw_iodim* howmany_dims, ovx_fftw_complex* in, double* out, unsigned flags, void* interop);
ovx_fftw_plan fftw_plan_guru64_dft_c2r_omp_offload(int rank, const ovx_fftw_iodim64* dims, int howmany_rank,
    const ovx_fftw_iodim64* howmany_dims, ovx_fftw_complex* in, double* out, unsigned flags, void* interop);
void fftw_execute_omp_offload(const ovx_fftw_plan plan, void* interop);
void fftw_execute_dft_omp_offload(const ovx_fftw_plan plan, ovx_fftw_complex* in, ovx_fftw_complex* out, void* interop);
void fftw_execute_dft_r2c_omp_offload(const ovx_fftw_plan plan, double* in, ovx_fftw_complex* out, void* interop);
void fftw_execute_dft_c2r_omp_offload(const ovx_fftw_plan plan, ovx_fftw_complex* in, double* out, void* interop);

#ifdef __cplusplus
}
#endif

#endif
