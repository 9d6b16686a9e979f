// The C-convention FFTW3 entries for OpenMP offload: each plan entry
// translates its arguments into a guru description and calls the offload
// plan core of its family.
#include "korami/ovx/fftw3_omp_offload.h"

#include "fftw/ovx_fftw_plan.hpp"

namespace korami {
namespace ovx {
namespace fftw {
namespace {

template <typename Real>
ovx_fftw_plan plan_of(const guru_description& d, transform k, void* in, void* out, int sign, unsigned flags,
                      void* interop) {
    return reinterpret_cast<ovx_fftw_plan>(guru_plan<Real>(target::offload, k, d.rank, d.dims, d.howmany_rank,
                                                           &d.batch, in, out, sign, flags, interop));
}

template <typename Real>
ovx_fftw_plan basic(transform k, int rank, const int* n, void* in, void* out, int sign, unsigned flags,
                    void* interop) {
    guru_description d;
    if (!rowmajor_description(k, rank, n, in == out, d)) return nullptr;
    return plan_of<Real>(d, k, in, out, sign, flags, interop);
}

template <typename Real>
ovx_fftw_plan many(transform k, int rank, const int* n, int howmany, void* in, const int* inembed, int istride,
                   int idist, void* out, const int* onembed, int ostride, int odist, int sign, unsigned flags,
                   void* interop) {
    guru_description d;
    if (!many_description(k, rank, n, howmany, inembed, istride, idist, onembed, ostride, odist, in == out, d))
        return nullptr;
    return plan_of<Real>(d, k, in, out, sign, flags, interop);
}

template <typename Real>
ovx_fftw_plan guru32(transform k, int rank, const ovx_fftw_iodim* dims, int howmany_rank,
                     const ovx_fftw_iodim* howmany_dims, void* in, void* out, int sign, unsigned flags,
                     void* interop) {
    if (rank > 7 || howmany_rank > 1 || !dims || (howmany_rank >= 1 && !howmany_dims)) return nullptr;
    guru_description d;
    d.rank = rank;
    d.howmany_rank = howmany_rank;
    for (int i = 0; i < rank; ++i) d.dims[i] = {dims[i].n, dims[i].is, dims[i].os};
    if (howmany_rank == 1) d.batch = {howmany_dims->n, howmany_dims->is, howmany_dims->os};
    return plan_of<Real>(d, k, in, out, sign, flags, interop);
}

static_assert(sizeof(ovx_fftw_iodim64) == sizeof(iodim64), "64-bit records pass through");

template <typename Real>
ovx_fftw_plan guru64(transform k, int rank, const ovx_fftw_iodim64* dims, int howmany_rank,
                     const ovx_fftw_iodim64* howmany_dims, void* in, void* out, int sign, unsigned flags,
                     void* interop) {
    return reinterpret_cast<ovx_fftw_plan>(guru_plan<Real>(
        target::offload, k, rank, reinterpret_cast<const iodim64*>(dims), howmany_rank,
        reinterpret_cast<const iodim64*>(howmany_dims), in, out, sign, flags, interop));
}

plan_record* record(ovx_fftw_plan p) { return reinterpret_cast<plan_record*>(p); }

}  // namespace
}  // namespace fftw
}  // namespace ovx
}  // namespace korami

namespace f = korami::ovx::fftw;
using f::transform;

#define OVX_FFTW_C_ENTRIES(pre, Real, Cplx, check_real_arrays)                                                    \
    ovx_fftw_plan pre##plan_dft_omp_offload(int rank, const int* n, Cplx* in, Cplx* out, int sign, unsigned flags, \
                                            void* io) {                                                           \
        return f::basic<Real>(transform::c2c, rank, n, in, out, sign, flags, io);                                 \
    }                                                                                                             \
    ovx_fftw_plan pre##plan_dft_1d_omp_offload(int n0, Cplx* in, Cplx* out, int sign, unsigned flags, void* io) { \
        const int n[1] = {n0};                                                                                    \
        return f::basic<Real>(transform::c2c, 1, n, in, out, sign, flags, io);                                    \
    }                                                                                                             \
    ovx_fftw_plan pre##plan_dft_2d_omp_offload(int n0, int n1, Cplx* in, Cplx* out, int sign, unsigned flags,     \
                                               void* io) {                                                        \
        const int n[2] = {n0, n1};                                                                                \
        return f::basic<Real>(transform::c2c, 2, n, in, out, sign, flags, io);                                    \
    }                                                                                                             \
    ovx_fftw_plan pre##plan_dft_3d_omp_offload(int n0, int n1, int n2, Cplx* in, Cplx* out, int sign,             \
                                               unsigned flags, void* io) {                                        \
        const int n[3] = {n0, n1, n2};                                                                            \
        return f::basic<Real>(transform::c2c, 3, n, in, out, sign, flags, io);                                    \
    }                                                                                                             \
    ovx_fftw_plan pre##plan_many_dft_omp_offload(int rank, const int* n, int howmany, Cplx* in, const int* ie,     \
                                                 int is, int id, Cplx* out, const int* oe, int os, int od,         \
                                                 int sign, unsigned flags, void* io) {                            \
        return f::many<Real>(transform::c2c, rank, n, howmany, in, ie, is, id, out, oe, os, od, sign, flags, io);  \
    }                                                                                                             \
    ovx_fftw_plan pre##plan_guru_dft_omp_offload(int rank, const ovx_fftw_iodim* d, int hr,                       \
                                                 const ovx_fftw_iodim* hd, Cplx* in, Cplx* out, int sign,          \
                                                 unsigned flags, void* io) {                                      \
        return f::guru32<Real>(transform::c2c, rank, d, hr, hd, in, out, sign, flags, io);                        \
    }                                                                                                             \
    ovx_fftw_plan pre##plan_guru64_dft_omp_offload(int rank, const ovx_fftw_iodim64* d, int hr,                   \
                                                   const ovx_fftw_iodim64* hd, Cplx* in, Cplx* out, int sign,      \
                                                   unsigned flags, void* io) {                                    \
        return f::guru64<Real>(transform::c2c, rank, d, hr, hd, in, out, sign, flags, io);                        \
    }                                                                                                             \
    OVX_FFTW_C_REAL_ENTRIES(pre, Real, Cplx, dft_r2c, r2c, Real, Cplx)                                            \
    OVX_FFTW_C_REAL_ENTRIES(pre, Real, Cplx, dft_c2r, c2r, Cplx, Real)                                            \
    void pre##execute_omp_offload(const ovx_fftw_plan plan, void* io) { f::execute_offload(f::record(plan), io); } \
    void pre##execute_dft_omp_offload(const ovx_fftw_plan plan, Cplx* in, Cplx* out, void* io) {                  \
        f::execute_new_arrays(f::target::offload, f::record(plan), in, out, true, io);                            \
    }                                                                                                             \
    void pre##execute_dft_r2c_omp_offload(const ovx_fftw_plan plan, Real* in, Cplx* out, void* io) {              \
        f::execute_new_arrays(f::target::offload, f::record(plan), in, out, check_real_arrays, io);               \
    }                                                                                                             \
    void pre##execute_dft_c2r_omp_offload(const ovx_fftw_plan plan, Cplx* in, Real* out, void* io) {              \
        f::execute_new_arrays(f::target::offload, f::record(plan), in, out, check_real_arrays, io);               \
    }

#define OVX_FFTW_C_REAL_ENTRIES(pre, Real, Cplx, name, k, In, Out)                                                \
    ovx_fftw_plan pre##plan_##name##_omp_offload(int rank, const int* n, In* in, Out* out, unsigned flags,        \
                                                 void* io) {                                                      \
        return f::basic<Real>(transform::k, rank, n, in, out, 0, flags, io);                                      \
    }                                                                                                             \
    ovx_fftw_plan pre##plan_##name##_1d_omp_offload(int n0, In* in, Out* out, unsigned flags, void* io) {         \
        const int n[1] = {n0};                                                                                    \
        return f::basic<Real>(transform::k, 1, n, in, out, 0, flags, io);                                         \
    }                                                                                                             \
    ovx_fftw_plan pre##plan_##name##_2d_omp_offload(int n0, int n1, In* in, Out* out, unsigned flags, void* io) { \
        const int n[2] = {n0, n1};                                                                                \
        return f::basic<Real>(transform::k, 2, n, in, out, 0, flags, io);                                         \
    }                                                                                                             \
    ovx_fftw_plan pre##plan_##name##_3d_omp_offload(int n0, int n1, int n2, In* in, Out* out, unsigned flags,     \
                                                    void* io) {                                                   \
        const int n[3] = {n0, n1, n2};                                                                            \
        return f::basic<Real>(transform::k, 3, n, in, out, 0, flags, io);                                         \
    }                                                                                                             \
    ovx_fftw_plan pre##plan_many_##name##_omp_offload(int rank, const int* n, int howmany, In* in,                \
                                                      const int* ie, int is, int id, Out* out, const int* oe,     \
                                                      int os, int od, unsigned flags, void* io) {                 \
        return f::many<Real>(transform::k, rank, n, howmany, in, ie, is, id, out, oe, os, od, 0, flags, io);       \
    }                                                                                                             \
    ovx_fftw_plan pre##plan_guru_##name##_omp_offload(int rank, const ovx_fftw_iodim* d, int hr,                  \
                                                      const ovx_fftw_iodim* hd, In* in, Out* out, unsigned flags, \
                                                      void* io) {                                                 \
        return f::guru32<Real>(transform::k, rank, d, hr, hd, in, out, 0, flags, io);                             \
    }                                                                                                             \
    ovx_fftw_plan pre##plan_guru64_##name##_omp_offload(int rank, const ovx_fftw_iodim64* d, int hr,              \
                                                        const ovx_fftw_iodim64* hd, In* in, Out* out,             \
                                                        unsigned flags, void* io) {                               \
        return f::guru64<Real>(transform::k, rank, d, hr, hd, in, out, 0, flags, io);                             \
    }

extern "C" {
// The double-precision real new-array entries pass null arrays on to the
// compute, which refuses them.
OVX_FFTW_C_ENTRIES(fftwf_, float, ovx_fftwf_complex, true)
OVX_FFTW_C_ENTRIES(fftw_, double, ovx_fftw_complex, false)
}
