// FFTW3 plan records and the plan cores over descriptor nodes, offload and
// CPU, with their execute thunks; the translation of the basic and advanced
// argument forms into guru descriptions.
#include "fftw/ovx_fftw_plan.hpp"

#include <ovx_serv.h>

#include <cstring>
#include <type_traits>

#include "dft/contract/ovx_dft_checked.hpp"
#include "dft/node/ovx_dft_node.hpp"
#include "fftw/ovx_fftw_cpu.hpp"
#include "korami/ovx/dfti_omp_offload.h"

namespace korami {
namespace ovx {
namespace fftw {

plan_record* fftw_plan_alloc() {
    void* p = ovx_serv_malloc(sizeof(plan_record), 64);
    if (!p) return nullptr;
    std::memset(p, 0, sizeof(plan_record));
    auto* plan = static_cast<plan_record*>(p);
    plan->plan_release = fftw_plan_destroy;
    return plan;
}

void fftw_plan_destroy(plan_record* plan) {
    if (!plan) return;
    for (int i = 2; i >= 0; --i)
        if (plan->owned_blocks[i]) ovx_serv_free(plan->owned_blocks[i]);
    if (plan->node) dfti_free_descriptor(&plan->node);
    ovx_serv_free(plan);
}

plan_record* (*plan_alloc_hook)() = fftw_plan_alloc;
std::int32_t fftw_thread_limit = 1;

bool guru_description::operator==(const guru_description& o) const {
    if (rank != o.rank || howmany_rank != o.howmany_rank) return false;
    for (int i = 0; i < rank && i < 7; ++i)
        if (dims[i].n != o.dims[i].n || dims[i].is != o.dims[i].is || dims[i].os != o.dims[i].os) return false;
    return howmany_rank < 1 || (batch.n == o.batch.n && batch.is == o.batch.is && batch.os == o.batch.os);
}

namespace {

// ---- execute thunks --------------------------------------------------------------

std::int64_t offload_forward_inplace(plan_record* p, void* interop) {
    return ovx_DftiComputeForward_omp_offload(p->node, p->input, interop, nullptr);
}
std::int64_t offload_backward_inplace(plan_record* p, void* interop) {
    return ovx_DftiComputeBackward_omp_offload(p->node, p->input, interop, nullptr);
}
std::int64_t offload_forward_outofplace(plan_record* p, void* interop) {
    return ovx_DftiComputeForward_omp_offload(p->node, p->input, interop, p->output);
}
std::int64_t offload_backward_outofplace(plan_record* p, void* interop) {
    return ovx_DftiComputeBackward_omp_offload(p->node, p->input, interop, p->output);
}
std::int64_t cpu_forward_inplace(plan_record* p) { return dfti_compute_forward(p->node, p->input); }
std::int64_t cpu_backward_inplace(plan_record* p) { return dfti_compute_backward(p->node, p->input); }
std::int64_t cpu_forward_outofplace(plan_record* p) { return dfti_compute_forward(p->node, p->input, p->output); }
std::int64_t cpu_backward_outofplace(plan_record* p) { return dfti_compute_backward(p->node, p->input, p->output); }

void set_thunk(plan_record* p, target where, bool forward, bool in_place) {
    if (where == target::offload)
        p->plan_execute_offload = forward ? (in_place ? offload_forward_inplace : offload_forward_outofplace)
                                          : (in_place ? offload_backward_inplace : offload_backward_outofplace);
    else
        p->plan_execute_cpu = forward ? (in_place ? cpu_forward_inplace : cpu_forward_outofplace)
                                      : (in_place ? cpu_backward_inplace : cpu_backward_outofplace);
}

// Every step after the allocation; a non-zero status fails the plan.
template <typename Real>
int build(plan_record* p, target where, transform kind, int rank, const iodim64* dims, int howmany_rank,
          const iodim64* hd, void* in, void* out, int sign, unsigned flags, void* interop) {
    constexpr bool dbl = std::is_same<Real, double>::value;
    const int domain = kind == transform::c2c ? DFTI_COMPLEX : DFTI_REAL;
    std::int64_t lengths[7], istrides[8] = {0}, ostrides[8] = {0};
    for (int i = 0; i < rank; ++i) {
        lengths[i] = dims[i].n;
        istrides[i + 1] = dims[i].is;
        ostrides[i + 1] = dims[i].os;
    }
    int st = rank == 1 ? (dbl ? dfti_create_descriptor_d_1d(&p->node, domain, lengths[0])
                              : dfti_create_descriptor_s_1d(&p->node, domain, lengths[0]))
                       : (dbl ? dfti_create_descriptor_d_md(&p->node, domain, rank, lengths)
                              : dfti_create_descriptor_s_md(&p->node, domain, rank, lengths));
    if (st) return st;
    DFTI_DESCRIPTOR* node = p->node;
    if (kind == transform::c2c) {
        if ((flags & 4u) && (st = dfti_set_value(node, DFTI_PARAM_WORKSPACE, (int)DFTI_AVOID))) return st;
        if ((st = dfti_set_value(node, DFTI_PARAM_INPUT_STRIDES, (const std::int64_t*)istrides))) return st;
    } else {
        if ((st = dfti_set_value(node, DFTI_PARAM_CONJUGATE_EVEN_STORAGE, (int)DFTI_COMPLEX_COMPLEX))) return st;
        if ((st = dfti_set_value(node, DFTI_PARAM_INPUT_STRIDES, (const std::int64_t*)istrides))) return st;
        if ((st = dfti_set_value(node, DFTI_PARAM_OUTPUT_STRIDES, (const std::int64_t*)ostrides))) return st;
    }
    const bool forward = kind == transform::c2c ? sign == -1 : kind == transform::r2c;
    const bool batched = howmany_rank == 1;
    p->input = in;
    if (in != out) {
        p->output = out;
        set_thunk(p, where, forward, false);
        if ((st = dfti_set_value(node, DFTI_PARAM_PLACEMENT, (int)DFTI_NOT_INPLACE))) return st;
        if (kind == transform::c2c &&
            (st = dfti_set_value(node, DFTI_PARAM_OUTPUT_STRIDES, (const std::int64_t*)ostrides)))
            return st;
    } else {
        set_thunk(p, where, forward, true);
        if (kind == transform::c2c) {
            for (int i = 0; i < rank; ++i)
                if (dims[i].is != dims[i].os) return DFTI_STATUS_INVALID_DESCRIPTOR;
            if (batched && hd[0].is != hd[0].os) return DFTI_STATUS_INVALID_DESCRIPTOR;
        }
    }
    if (batched) {
        if ((st = dfti_set_value(node, DFTI_PARAM_NUMBER_OF_TRANSFORMS, hd[0].n))) return st;
        if ((st = dfti_set_value(node, DFTI_PARAM_INPUT_DISTANCE, hd[0].is))) return st;
        if ((st = dfti_set_value(node, DFTI_PARAM_OUTPUT_DISTANCE, hd[0].os))) return st;
    }
    if (fftw_thread_limit >= 0 &&
        (st = dfti_set_value(node, DFTI_PARAM_THREAD_LIMIT, static_cast<std::int64_t>(fftw_thread_limit))))
        return st;
    if (where == target::offload) {
        // A real plan runs one direction only. With input and output
        // distances the two directions of a batched real node read the
        // sides the other way round, so building both would refuse every
        // batched layout.
        if (kind != transform::c2c) node->directions = forward ? 0 : 1;
        const std::int64_t s = ovx_DftiCommitDescriptor_omp_offload(node, interop);
        return s == 0 ? 0 : (s > 0 && s < 0x7fffffff ? static_cast<int>(s) : DFTI_STATUS_INTERNAL);
    }
    return dfti_commit_descriptor(node);
}

}  // namespace

template <typename Real>
plan_record* guru_plan(target where, transform kind, int rank, const iodim64* dims, int howmany_rank,
                       const iodim64* howmany_dims, void* in, void* out, int sign, unsigned flags, void* interop) {
    if (rank > 7 || howmany_rank > 1 || !dims || (howmany_rank >= 1 && !howmany_dims)) return nullptr;
    // An output stride or distance of 0 along more than one point puts
    // several results in one place: refused, as the descriptor commit does.
    for (int i = 0; i < rank; ++i)
        if (dims[i].n > 1 && dims[i].os == 0) return nullptr;
    if (howmany_rank == 1 && howmany_dims[0].n > 1 && howmany_dims[0].os == 0) return nullptr;
    plan_record* p = plan_alloc_hook();
    if (!p) return nullptr;
    if (build<Real>(p, where, kind, rank, dims, howmany_rank, howmany_dims, in, out, sign, flags, interop) != 0) {
        p->plan_release(p);
        return nullptr;
    }
    return p;
}
template plan_record* guru_plan<float>(target, transform, int, const iodim64*, int, const iodim64*, void*, void*,
                                       int, unsigned, void*);
template plan_record* guru_plan<double>(target, transform, int, const iodim64*, int, const iodim64*, void*, void*,
                                        int, unsigned, void*);

// ---- translation -------------------------------------------------------------------

// A stride product that leaves the 64-bit range refuses the plan instead of
// handing the core a wrapped stride.
using ovx_checked::mul_signed;

bool rowmajor_description(transform kind, int rank, const int* n, bool in_place, guru_description& d) {
    if (rank >= 8 || !n) return false;
    d = guru_description{};
    d.rank = rank;
    for (int i = 0; i < rank; ++i) d.dims[i] = {n[i], 1, 1};
    int from = rank - 1;
    if (kind != transform::c2c && rank >= 2) {
        const std::int64_t last = n[rank - 1], h = last / 2 + 1;
        const std::int64_t real_row = in_place ? 2 * h : last;
        d.dims[rank - 2].is = kind == transform::r2c ? real_row : h;
        d.dims[rank - 2].os = kind == transform::r2c ? h : real_row;
        from = rank - 2;
    }
    for (int i = from; i >= 1; --i)
        if (!mul_signed(d.dims[i].is, d.dims[i].n, d.dims[i - 1].is) ||
            !mul_signed(d.dims[i].os, d.dims[i].n, d.dims[i - 1].os))
            return false;
    return true;
}

bool many_description(transform kind, int rank, const int* n, int howmany, const int* inembed, int istride,
                      int idist, const int* onembed, int ostride, int odist, bool in_place, guru_description& d) {
    if (rank >= 8 || !n) return false;
    d = guru_description{};
    d.rank = rank;
    for (int i = 0; i < rank; ++i) d.dims[i] = {n[i], 1, 1};
    if (rank >= 1) d.dims[rank - 1] = {n[rank - 1], istride, ostride};
    // Factor of dimension i on the real side and on the complex side.
    auto real_factor = [&](int i) -> std::int64_t {
        return i == rank - 1 && in_place ? 2 * (static_cast<std::int64_t>(n[i]) / 2 + 1) : n[i];
    };
    auto complex_factor = [&](int i) -> std::int64_t {
        return i == rank - 1 ? static_cast<std::int64_t>(n[i]) / 2 + 1 : n[i];
    };
    for (int i = rank - 1; i >= 1; --i) {
        std::int64_t fi = n[i], fo = n[i];
        if (kind == transform::r2c) {
            fi = real_factor(i);
            fo = complex_factor(i);
        } else if (kind == transform::c2r) {
            fi = complex_factor(i);
            fo = real_factor(i);
        }
        if (inembed) fi = inembed[i];
        if (onembed) fo = onembed[i];
        if (!mul_signed(d.dims[i].is, fi, d.dims[i - 1].is) || !mul_signed(d.dims[i].os, fo, d.dims[i - 1].os)) return false;
    }
    d.howmany_rank = 1;
    d.batch = {howmany, idist, odist};
    return true;
}

bool fortran_dft_description(transform kind, std::int64_t rank, const std::int64_t* n, bool in_place,
                             guru_description& d) {
    if (rank < 0 || rank > 7 || !n) return false;
    d = guru_description{};
    d.rank = static_cast<int>(rank);
    for (std::int64_t i = 0; i < rank; ++i) d.dims[rank - 1 - i] = {n[i], 1, 1};
    std::int64_t from = rank - 1;
    if (kind != transform::c2c && rank >= 2) {
        const std::int64_t first = n[0], h = first / 2 + 1, real_row = in_place ? 2 * h : first;
        d.dims[rank - 2].is = kind == transform::r2c ? real_row : h;
        d.dims[rank - 2].os = kind == transform::r2c ? h : real_row;
        from = rank - 2;
    }
    for (std::int64_t i = from; i >= 1; --i)
        if (!mul_signed(d.dims[i].is, d.dims[i].n, d.dims[i - 1].is) ||
            !mul_signed(d.dims[i].os, d.dims[i].n, d.dims[i - 1].os))
            return false;
    return true;
}

bool fortran_guru_description(std::int64_t rank, const std::int64_t* n, const std::int64_t* is,
                              const std::int64_t* os, std::int64_t howmany_rank, const iodim64& batch,
                              guru_description& d) {
    if (rank < 0 || rank > 7 || howmany_rank > 1) return false;
    d = guru_description{};
    d.rank = static_cast<int>(rank);
    for (std::int64_t i = 0; i < rank; ++i) d.dims[i] = {n[rank - 1 - i], is[rank - 1 - i], os[rank - 1 - i]};
    d.howmany_rank = howmany_rank == 1 ? 1 : 0;
    if (d.howmany_rank) d.batch = batch;
    return true;
}

bool fortran_many_strides(std::int64_t rank, std::int64_t stride, const std::int64_t* embed, std::int64_t* strides) {
    for (std::int64_t i = 0; i < rank; ++i) {
        if (i == 0) strides[i] = stride;
        else if (!mul_signed(embed[i - 1], strides[i - 1], strides[i])) return false;
    }
    return true;
}

// ---- execute -----------------------------------------------------------------------------

void execute_offload(plan_record* plan, void* interop) {
    if (plan && plan->plan_execute_offload) (void)plan->plan_execute_offload(plan, interop);
}

void execute_new_arrays(target where, plan_record* plan, void* in, void* out, bool check_null, void* interop) {
    if (!plan) return;
    if (where == target::offload ? !plan->plan_execute_offload : !plan->plan_execute_cpu) return;
    if (check_null && (!in || !out)) return;
    // The plan's placement holds: an in-place plan needs in == out, an
    // out-of-place plan distinct arrays.
    if ((in == out) != (plan->output == nullptr)) return;
    plan_record copy = *plan;
    copy.input = in;
    copy.output = plan->output ? out : nullptr;
    if (where == target::offload) (void)copy.plan_execute_offload(&copy, interop);
    else (void)copy.plan_execute_cpu(&copy);
}

}  // namespace fftw
}  // namespace ovx
}  // namespace korami
