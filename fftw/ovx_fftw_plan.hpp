// FFTW3 plan records, the plan cores over descriptor nodes and the
// translation of the FFTW3 argument forms into guru descriptions.
//
// Dimension records are row major: the first record is the outermost
// dimension, the last the fastest. Strides and distances count elements of
// each array's own type (reals for a real array, complex elements for a
// complex one).
#ifndef OVX_FFTW_OVX_FFTW_PLAN_HPP
#define OVX_FFTW_OVX_FFTW_PLAN_HPP

#include <cstdint>

struct DFTI_DESCRIPTOR;

namespace korami {
namespace ovx {
namespace fftw {

// The plan handle of every FFTW3 entry: twelve 64-bit words.
struct plan_record {
    DFTI_DESCRIPTOR* node;
    void* input;
    void* output;  // null for an in-place plan
    std::uint64_t reserved0[2];
    void* owned_blocks[3];  // freed at release when set
    std::int64_t (*plan_execute_cpu)(plan_record*);
    void (*plan_release)(plan_record*);
    std::uint64_t reserved1;
    std::int64_t (*plan_execute_offload)(plan_record*, void* interop);
};
static_assert(sizeof(plan_record) == 12 * 8, "twelve words");

// A zero-filled record whose release is fftw_plan_destroy; null when
// memory cannot be had.
plan_record* fftw_plan_alloc();
// Frees the owned blocks, the node and the record; null is ignored.
void fftw_plan_destroy(plan_record* plan);

// Settings read by every plan core.
extern plan_record* (*plan_alloc_hook)();
extern std::int32_t fftw_thread_limit;

struct iodim64 {
    std::int64_t n, is, os;
};

enum class transform { c2c, r2c, c2r };
enum class target { offload, cpu };

// A guru description: up to seven dimension records and at most one batch
// record.
struct guru_description {
    int rank = 0;
    iodim64 dims[7] = {};
    int howmany_rank = 0;
    iodim64 batch = {};
    bool operator==(const guru_description& o) const;
};

// The plan cores: `Real` is float or double. Complex plans run forward for
// sign -1 and backward otherwise; r2c plans run forward, c2r backward. The
// interop object is used by offload plans only. Null on any failure, with
// everything made released; an output stride or distance of 0 along more
// than one point is refused before anything is allocated.
template <typename Real>
plan_record* guru_plan(target where, transform kind, int rank, const iodim64* dims, int howmany_rank,
                       const iodim64* howmany_dims, void* in, void* out, int sign, unsigned flags, void* interop);

// ---- translation of the FFTW3 argument forms (false: refused) --------------------

// Basic forms: contiguous row-major arrays of lengths n[0..rank); real
// forms pad the rows of the real side to 2(n/2+1) in place. Every
// description is false when a stride leaves the 64-bit range.
bool rowmajor_description(transform kind, int rank, const int* n, bool in_place, guru_description& d);
// Advanced forms: strides and distances of the innermost dimension, embeds
// (null: the lengths) and one batch record.
bool many_description(transform kind, int rank, const int* n, int howmany, const int* inembed, int istride,
                      int idist, const int* onembed, int ostride, int odist, bool in_place, guru_description& d);

// Fortran forms: lengths, strides and embeddings in Fortran order (first
// dimension fastest), widened to 64 bits; the records come out row major.
// Basic forms: contiguous arrays, the first dimension of the real side
// padded to 2(n/2+1) in place.
bool fortran_dft_description(transform kind, std::int64_t rank, const std::int64_t* n, bool in_place,
                             guru_description& d);
// Guru forms: per-dimension strides, reversed with the lengths; howmany_rank
// 0 or 1 (a negative one counts as 0).
bool fortran_guru_description(std::int64_t rank, const std::int64_t* n, const std::int64_t* is,
                              const std::int64_t* os, std::int64_t howmany_rank, const iodim64& batch,
                              guru_description& d);
// Many forms: Fortran-order strides from the first stride and the
// embeddings (the last embedding is not read); false when a stride leaves
// the 64-bit range.
bool fortran_many_strides(std::int64_t rank, std::int64_t stride, const std::int64_t* embed, std::int64_t* strides);

// Runs a plan with the arrays given at planning (offload plans).
void execute_offload(plan_record* plan, void* interop);
// Runs a plan on new arrays: nothing happens for a plan without the target's
// thunk, when `check_null` and an array is null, or when in == out differs
// from the plan's placement.
void execute_new_arrays(target where, plan_record* plan, void* in, void* out, bool check_null, void* interop);

}  // namespace fftw
}  // namespace ovx
}  // namespace korami

#endif
