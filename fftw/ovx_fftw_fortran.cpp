// The Fortran-convention FFTW3 entries: references are read at the suffix's
// integer width, column-major arguments are reversed into row-major guru
// records, and the plan cores of the target are called.
#include "fftw/ovx_fftw_fortran.h"

#include "fftw/ovx_fftw_plan.hpp"
#include "korami/ovx/fftw3_omp_offload.h"

namespace korami {
namespace ovx {
namespace fftw {
namespace {

// Plans a description into the caller's plan variable (null on failure).
template <typename Real>
void plan_into(void** plan, target w, transform k, const guru_description& d, void* in, void* out, int sign,
               unsigned flags, void* interop) {
    *plan = guru_plan<Real>(w, k, d.rank, d.dims, d.howmany_rank, &d.batch, in, out, sign, flags, interop);
}

// Ranks outside 0..7 (also negative 64-bit ranks, which would narrow to a
// small positive one) give no plan.
bool rank_ok(std::int64_t rank) { return rank >= 0 && rank <= 7; }

template <typename Int>
void widen(const Int* from, std::int64_t count, std::int64_t* to) {
    for (std::int64_t i = 0; i < count; ++i) to[i] = from[i];
}

template <typename Real, typename Int>
void fortran_plan_dft_helper(target w, transform k, void** plan, const Int* rank, const Int* n, void* in, void* out,
                             const Int* sign, const Int* flags, void* interop) {
    if (!plan || !rank || !n || !flags || (k == transform::c2c && !sign)) return;
    *plan = nullptr;
    const std::int64_t r = *rank;
    if (!rank_ok(r)) return;
    std::int64_t lengths[7];
    widen(n, r, lengths);
    guru_description d;
    if (!fortran_dft_description(k, r, lengths, in == out, d)) return;
    plan_into<Real>(plan, w, k, d, in, out, sign ? static_cast<int>(*sign) : 0, static_cast<unsigned>(*flags),
                    interop);
}

// 2D and 3D forms: lengths by separate references.
template <typename Real, typename Int>
void fortran_plan_dft_nd_helper(target w, transform k, void** plan, const Int* n1, const Int* n2, const Int* n3,
                                void** in, void** out, const Int* sign, const Int* flags, void* interop) {
    if (!n1 || !n2 || !in || !out) return;
    const Int rank = n3 ? 3 : 2;
    const Int lengths[3] = {*n1, *n2, n3 ? *n3 : Int(1)};
    fortran_plan_dft_helper<Real, Int>(w, k, plan, &rank, lengths, *in, *out, sign, flags, interop);
}

template <typename Real, typename Int, typename Stride>
void fortran_plan_guru_helper(target w, transform k, void** plan, const Int* rank, const Int* n, const Stride* is,
                              const Stride* os, const Int* hr, const Int* hn, const Int* his, const Int* hos,
                              void* in, void* out, const Int* sign, const Int* flags, void* interop) {
    if (!plan || !rank || !n || !is || !os || !hr || !flags || (k == transform::c2c && !sign)) return;
    if (*hr >= 1 && (!hn || !his || !hos)) return;
    *plan = nullptr;
    const std::int64_t r = *rank, h = *hr;
    if (!rank_ok(r) || h > 1) return;
    std::int64_t lengths[7], in_strides[7], out_strides[7];
    widen(n, r, lengths);
    widen(is, r, in_strides);
    widen(os, r, out_strides);
    const iodim64 batch = h == 1 ? iodim64{*hn, *his, *hos} : iodim64{};
    guru_description d;
    if (!fortran_guru_description(r, lengths, in_strides, out_strides, h, batch, d)) return;
    plan_into<Real>(plan, w, k, d, in, out, sign ? static_cast<int>(*sign) : 0, static_cast<unsigned>(*flags),
                    interop);
}

template <typename Real, typename Int>
void fortran_plan_many_helper(target w, transform k, void** plan, const Int* rank, const Int* n, const Int* howmany,
                              void* in, const Int* inembed, const Int* istride, const Int* idist, void* out,
                              const Int* onembed, const Int* ostride, const Int* odist, const Int* sign,
                              const Int* flags, void* interop) {
    if (!plan || !rank || !istride || !ostride || !inembed || !onembed) return;
    const std::int64_t r = *rank;
    if (!rank_ok(r)) {
        *plan = nullptr;
        return;
    }
    std::int64_t ie[7], oe[7], s_in[7], s_out[7];
    widen(inembed, r > 0 ? r - 1 : 0, ie);
    widen(onembed, r > 0 ? r - 1 : 0, oe);
    if (!fortran_many_strides(r, *istride, ie, s_in) || !fortran_many_strides(r, *ostride, oe, s_out)) {
        *plan = nullptr;
        return;
    }
    const Int one = 1;
    fortran_plan_guru_helper<Real, Int, std::int64_t>(w, k, plan, rank, n, s_in, s_out, &one, howmany, idist, odist,
                                                      in, out, sign, flags, interop);
}

plan_record* record_of(void** plan) { return plan ? static_cast<plan_record*>(*plan) : nullptr; }

}  // namespace
}  // namespace fftw
}  // namespace ovx
}  // namespace korami

namespace f = korami::ovx::fftw;

#define OVX_INT_LP64 int32_t
#define OVX_INT_ILP64 int64_t
#define OVX_TARGET_CPU f::target::cpu
#define OVX_TARGET_OMP_OFFLOAD f::target::offload
#define OVX_IO_PARAM_CPU
#define OVX_IO_PARAM_OMP_OFFLOAD , void* interop
#define OVX_IO_ARG_CPU nullptr
#define OVX_IO_ARG_OMP_OFFLOAD interop
#define OVX_SIGN_PARAM_c2c(I) , const I* sign
#define OVX_SIGN_PARAM_r2c(I)
#define OVX_SIGN_PARAM_c2r(I)
#define OVX_SIGN_ARG_c2c sign
#define OVX_SIGN_ARG_r2c nullptr
#define OVX_SIGN_ARG_c2r nullptr

#define OVX_ENTRY_rank(P, R, NAME, k, TGT, W, I)                                                             \
    void P##FFTW_PLAN_##NAME##_##TGT##_##W(void** plan, const I* rank, const I* n, void** in,               \
                                           void** out OVX_SIGN_PARAM_##k(I), const I* flags OVX_IO_PARAM_##TGT) { \
        if (!in || !out) return;                                                                             \
        f::fortran_plan_dft_helper<R, I>(OVX_TARGET_##TGT, f::transform::k, plan, rank, n, *in, *out,         \
                                         OVX_SIGN_ARG_##k, flags, OVX_IO_ARG_##TGT);                         \
    }
#define OVX_ENTRY_1d(P, R, NAME, k, TGT, W, I)                                                               \
    void P##FFTW_PLAN_##NAME##_##TGT##_##W(void** plan, const I* n, void* in,                               \
                                           void* out OVX_SIGN_PARAM_##k(I), const I* flags OVX_IO_PARAM_##TGT) { \
        const I rank = 1;                                                                                    \
        f::fortran_plan_dft_helper<R, I>(OVX_TARGET_##TGT, f::transform::k, plan, &rank, n, in, out,         \
                                         OVX_SIGN_ARG_##k, flags, OVX_IO_ARG_##TGT);                         \
    }
#define OVX_ENTRY_2d(P, R, NAME, k, TGT, W, I)                                                                   \
    void P##FFTW_PLAN_##NAME##_##TGT##_##W(void** plan, const I* n1, const I* n2, void** in,                    \
                                           void** out OVX_SIGN_PARAM_##k(I), const I* flags OVX_IO_PARAM_##TGT) {     \
        f::fortran_plan_dft_nd_helper<R, I>(OVX_TARGET_##TGT, f::transform::k, plan, n1, n2, nullptr, in, out,   \
                                            OVX_SIGN_ARG_##k, flags, OVX_IO_ARG_##TGT);                          \
    }
#define OVX_ENTRY_3d(P, R, NAME, k, TGT, W, I)                                                                 \
    void P##FFTW_PLAN_##NAME##_##TGT##_##W(void** plan, const I* n1, const I* n2, const I* n3, void** in,     \
                                           void** out OVX_SIGN_PARAM_##k(I), const I* flags OVX_IO_PARAM_##TGT) {   \
        if (!n3) return;                                                                                       \
        f::fortran_plan_dft_nd_helper<R, I>(OVX_TARGET_##TGT, f::transform::k, plan, n1, n2, n3, in, out,      \
                                            OVX_SIGN_ARG_##k, flags, OVX_IO_ARG_##TGT);                        \
    }
#define OVX_ENTRY_many(P, R, NAME, k, TGT, W, I)                                                                 \
    void P##FFTW_PLAN_##NAME##_##TGT##_##W(void** plan, const I* rank, const I* n, const I* howmany, void** in,  \
                                           const I* inembed, const I* istride, const I* idist, void** out,      \
                                           const I* onembed, const I* ostride,                                  \
                                           const I* odist OVX_SIGN_PARAM_##k(I), const I* flags OVX_IO_PARAM_##TGT) { \
        if (!in || !out) return;                                                                                 \
        f::fortran_plan_many_helper<R, I>(OVX_TARGET_##TGT, f::transform::k, plan, rank, n, howmany, *in,        \
                                          inembed, istride, idist, *out, onembed, ostride, odist,                \
                                          OVX_SIGN_ARG_##k, flags, OVX_IO_ARG_##TGT);                            \
    }
#define OVX_ENTRY_guru(P, R, NAME, k, TGT, W, I)                                                                \
    void P##FFTW_PLAN_##NAME##_##TGT##_##W(void** plan, const I* rank, const I* n, const I* is, const I* os,    \
                                           const I* howmany_rank, const I* h_n, const I* h_is, const I* h_os,   \
                                           void** in, void** out OVX_SIGN_PARAM_##k(I),                         \
                                           const I* flags OVX_IO_PARAM_##TGT) {                                 \
        if (!in || !out) return;                                                                                \
        f::fortran_plan_guru_helper<R, I, I>(OVX_TARGET_##TGT, f::transform::k, plan, rank, n, is, os,          \
                                             howmany_rank, h_n, h_is, h_os, *in, *out, OVX_SIGN_ARG_##k, flags, \
                                             OVX_IO_ARG_##TGT);                                                 \
    }

#define OVX_KIND_ENTRIES(P, R, NAME, k, shape)     \
    OVX_ENTRY_##shape(P, R, NAME, k, CPU, LP64, OVX_INT_LP64)               \
    OVX_ENTRY_##shape(P, R, NAME, k, CPU, ILP64, OVX_INT_ILP64)             \
    OVX_ENTRY_##shape(P, R, NAME, k, OMP_OFFLOAD, LP64, OVX_INT_LP64)       \
    OVX_ENTRY_##shape(P, R, NAME, k, OMP_OFFLOAD, ILP64, OVX_INT_ILP64)
#define OVX_SINGLE_KIND(NAME, k, shape) OVX_KIND_ENTRIES(S, float, NAME, k, shape)
#define OVX_DOUBLE_KIND(NAME, k, shape) OVX_KIND_ENTRIES(D, double, NAME, k, shape)

// New-array CPU execute: the single-precision forms and the double complex
// form refuse null arrays; the double real forms pass them to the compute.
#define OVX_EXECUTE_ENTRIES(P, pre, check_real)                                                                  \
    void P##FFTW_EXECUTE_OMP_OFFLOAD(void** plan, void* interop) {                                               \
        if (plan) pre##execute_omp_offload(static_cast<ovx_fftw_plan>(*plan), interop);                          \
    }                                                                                                            \
    void P##FFTW_EXECUTE_DFT_OMP_OFFLOAD(void** plan, void** in, void** out, void* interop) {                    \
        if (plan && in && out) f::execute_new_arrays(f::target::offload, f::record_of(plan), *in, *out, true, interop); \
    }                                                                                                            \
    void P##FFTW_EXECUTE_DFT_R2C_OMP_OFFLOAD(void** plan, void** in, void** out, void* interop) {                \
        if (plan && in && out)                                                                                   \
            f::execute_new_arrays(f::target::offload, f::record_of(plan), *in, *out, check_real, interop);       \
    }                                                                                                            \
    void P##FFTW_EXECUTE_DFT_C2R_OMP_OFFLOAD(void** plan, void** in, void** out, void* interop) {                \
        if (plan && in && out)                                                                                   \
            f::execute_new_arrays(f::target::offload, f::record_of(plan), *in, *out, check_real, interop);       \
    }                                                                                                            \
    void P##FFTW_EXECUTE_DFT_CPU(void** plan, void** in, void** out) {                                           \
        if (plan && in && out) f::execute_new_arrays(f::target::cpu, f::record_of(plan), *in, *out, true, nullptr); \
    }                                                                                                            \
    void P##FFTW_EXECUTE_DFT_R2C_CPU(void** plan, void** in, void** out) {                                       \
        if (plan && in && out)                                                                                   \
            f::execute_new_arrays(f::target::cpu, f::record_of(plan), *in, *out, check_real, nullptr);           \
    }                                                                                                            \
    void P##FFTW_EXECUTE_DFT_C2R_CPU(void** plan, void** in, void** out) {                                       \
        if (plan && in && out)                                                                                   \
            f::execute_new_arrays(f::target::cpu, f::record_of(plan), *in, *out, check_real, nullptr);           \
    }

extern "C" {
OVX_FFTW_FORTRAN_KINDS(OVX_SINGLE_KIND)
OVX_FFTW_FORTRAN_KINDS(OVX_DOUBLE_KIND)
OVX_EXECUTE_ENTRIES(S, fftwf_, true)
OVX_EXECUTE_ENTRIES(D, fftw_, false)
}
