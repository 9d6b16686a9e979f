// The Fortran-convention FFTW3 entries: the translation of Fortran-order
// arguments, the references they test, every CPU kind against FFTW 3 in both
// integer widths, and rank-1 offload plans.
#include <cmath>
#include <cstring>
#include <limits>

#include "dft/node/ovx_dft_node.hpp"
#include "fftw/offload_support.hpp"
#include "fftw/ovx_fftw_fortran.h"
#include "fftw/ovx_fftw_plan.hpp"

namespace {

using namespace offload_test;
namespace kf = korami::ovx::fftw;
using kf::guru_description;
using kf::transform;

// ---- translation -------------------------------------------------------------------

TEST(FortranTranslation, BasicFormsReverseAndPad) {
    guru_description d;
    const std::int64_t n3[3] = {4, 8, 16};
    ASSERT_TRUE(kf::fortran_dft_description(transform::c2c, 3, n3, false, d));
    EXPECT_TRUE(d == described({{16, 32, 32}, {8, 4, 4}, {4, 1, 1}}));
    const std::int64_t n2[2] = {8, 5};
    ASSERT_TRUE(kf::fortran_dft_description(transform::r2c, 2, n2, false, d));
    EXPECT_TRUE(d == described({{5, 8, 5}, {8, 1, 1}}));
    ASSERT_TRUE(kf::fortran_dft_description(transform::r2c, 2, n2, true, d));
    EXPECT_TRUE(d == described({{5, 10, 5}, {8, 1, 1}}));
    ASSERT_TRUE(kf::fortran_dft_description(transform::c2r, 2, n2, false, d));
    EXPECT_TRUE(d == described({{5, 5, 8}, {8, 1, 1}}));
    ASSERT_TRUE(kf::fortran_dft_description(transform::c2r, 2, n2, true, d));
    EXPECT_TRUE(d == described({{5, 5, 10}, {8, 1, 1}}));
    const std::int64_t n83[2] = {8, 3};
    ASSERT_TRUE(kf::fortran_dft_description(transform::r2c, 2, n83, true, d));
    EXPECT_TRUE(d == described({{3, 10, 5}, {8, 1, 1}}));
    ASSERT_TRUE(kf::fortran_dft_description(transform::r2c, 1, n83, true, d));
    EXPECT_TRUE(d == described({{8, 1, 1}}));
    EXPECT_FALSE(kf::fortran_dft_description(transform::c2c, 8, n3, false, d));
    EXPECT_FALSE(kf::fortran_dft_description(transform::c2c, -(1LL << 32) + 2, n3, false, d));
}

TEST(FortranTranslation, ManyStridesComeFromEmbedsInSixtyFourBits) {
    const std::int64_t embed[2] = {10, 7};
    std::int64_t s[2];
    ASSERT_TRUE(kf::fortran_many_strides(2, 2, embed, s));
    EXPECT_EQ(s[0], 2);
    EXPECT_EQ(s[1], 20);
    const std::int64_t n[2] = {4, 6}, os[2] = {1, 4};
    guru_description d;
    ASSERT_TRUE(kf::fortran_guru_description(2, n, s, os, 1, {3, 120, 24}, d));
    EXPECT_TRUE(d == described({{6, 20, 4}, {4, 2, 1}}, {3, 120, 24}, 1));
    const std::int64_t wide[1] = {70000};
    ASSERT_TRUE(kf::fortran_many_strides(2, 40000, wide, s));
    EXPECT_EQ(s[1], 40000LL * 70000);
    // Strides beyond the 64-bit range refuse the description.
    const std::int64_t huge[2] = {1LL << 40, 1LL << 40};
    std::int64_t s3[3];
    EXPECT_FALSE(kf::fortran_many_strides(3, 1 << 10, huge, s3));
    const std::int64_t long_dims[4] = {1LL << 31, 1LL << 31, 1LL << 31, 1LL << 31};
    EXPECT_FALSE(kf::fortran_dft_description(transform::c2c, 4, long_dims, false, d));
    EXPECT_FALSE(kf::fortran_guru_description(1, n, s, os, 2, {}, d));
    ASSERT_TRUE(kf::fortran_guru_description(1, n, s, os, -(1LL << 32) + 1, {}, d));
    EXPECT_EQ(d.howmany_rank, 0);
}

// ---- references ------------------------------------------------------------------------

void* const untouched = reinterpret_cast<void*>(0x5151);

TEST(FortranReferences, NullReferencesLeaveThePlanAndBadRanksWriteZero) {
    std::vector<float> buf(64);
    void* in = buf.data();
    const std::int64_t two = 2, four = 4, one = 1, minus = -1, zero = 0, eight = 8;
    const std::int64_t n[2] = {4, 4};
    void* plan = untouched;
    SFFTW_PLAN_DFT_CPU_ILP64(&plan, &two, n, &in, &in, nullptr, &zero);
    SFFTW_PLAN_DFT_CPU_ILP64(&plan, &two, n, &in, &in, &minus, nullptr);
    SFFTW_PLAN_DFT_R2C_CPU_ILP64(&plan, &two, n, &in, &in, nullptr);
    SFFTW_PLAN_DFT_2D_CPU_ILP64(&plan, &four, nullptr, &in, &in, &minus, &zero);
    SFFTW_PLAN_DFT_C2R_3D_CPU_ILP64(&plan, &four, &four, nullptr, &in, &in, &zero);
    SFFTW_PLAN_DFT_2D_CPU_ILP64(&plan, &four, &four, nullptr, &in, &minus, &zero);
    SFFTW_PLAN_MANY_DFT_CPU_ILP64(&plan, &two, n, &one, &in, nullptr, &one, &zero, &in, n, &one, &zero, &minus, &zero);
    SFFTW_PLAN_GURU_DFT_CPU_ILP64(&plan, &one, n, &one, &one, &one, &four, nullptr, &four, &in, &in, &minus, &zero);
    EXPECT_EQ(plan, untouched);
    SFFTW_PLAN_DFT_CPU_ILP64(&plan, &eight, n, &in, &in, &minus, &zero);
    EXPECT_EQ(plan, nullptr);
    plan = untouched;
    SFFTW_PLAN_GURU_DFT_CPU_ILP64(&plan, &one, n, &one, &one, &two, &four, &four, &four, &in, &in, &minus, &zero);
    EXPECT_EQ(plan, nullptr);
    plan = untouched;
    const std::int64_t narrowing_rank = -(1LL << 32) + 2;
    SFFTW_PLAN_DFT_CPU_ILP64(&plan, &narrowing_rank, n, &in, &in, &minus, &zero);
    EXPECT_EQ(plan, nullptr);
    plan = untouched;
    SFFTW_PLAN_MANY_DFT_CPU_ILP64(&plan, &narrowing_rank, n, &one, &in, n, &one, &zero, &in, n, &one, &zero, &minus, &zero);
    EXPECT_EQ(plan, nullptr);
    // A negative batch rank is no batch: the batch references are not read.
    const std::int64_t narrowing_howmany = -(1LL << 32) + 1;
    SFFTW_PLAN_GURU_DFT_CPU_ILP64(&plan, &one, n, &one, &one, &narrowing_howmany, nullptr, nullptr, nullptr, &in, &in,
                                  &minus, &zero);
    ASSERT_NE(plan, nullptr);
    EXPECT_EQ(static_cast<kf::plan_record*>(plan)->node->user_batch.records[0].length, 1);
    release(plan);
}

TEST(FortranReferences, ExecuteEntriesIgnoreNullReferencesAndOtherTargets) {
    usm_array<float> a(64), b(64);
    void* in = a.data;
    void* out = b.data;
    const std::int32_t n = 16, minus = -1, zero = 0;
    void* cpu = nullptr;
    void* offload = nullptr;
    SFFTW_PLAN_DFT_1D_CPU_LP64(&cpu, &n, in, out, &minus, &zero);
    SFFTW_PLAN_DFT_1D_OMP_OFFLOAD_LP64(&offload, &n, in, out, &minus, &zero, interop_for(4));
    ASSERT_NE(cpu, nullptr);
    ASSERT_NE(offload, nullptr);
    std::fill(a.data, a.data + 64, 1.0f);
    std::fill(b.data, b.data + 64, 2.0f);
    void* none = nullptr;
    SFFTW_EXECUTE_OMP_OFFLOAD(nullptr, interop_for(4));
    SFFTW_EXECUTE_OMP_OFFLOAD(&none, interop_for(4));
    SFFTW_EXECUTE_OMP_OFFLOAD(&cpu, interop_for(4));
    SFFTW_EXECUTE_DFT_OMP_OFFLOAD(&cpu, &in, &out, interop_for(4));
    SFFTW_EXECUTE_DFT_OMP_OFFLOAD(&offload, nullptr, &out, interop_for(4));
    SFFTW_EXECUTE_DFT_CPU(&offload, &in, &out);
    SFFTW_EXECUTE_DFT_CPU(&cpu, &in, nullptr);
    SFFTW_EXECUTE_DFT_CPU(nullptr, &in, &out);
    SFFTW_EXECUTE_DFT_CPU(&none, &in, &out);
    SFFTW_EXECUTE_DFT_CPU(&cpu, &in, &none);
    gpu_queue().wait();
    EXPECT_TRUE(std::all_of(a.data, a.data + 64, [](float v) { return v == 1.0f; }));
    EXPECT_TRUE(std::all_of(b.data, b.data + 64, [](float v) { return v == 2.0f; }));
    release(cpu);
    release(offload);
}

// ---- numerics ----------------------------------------------------------------------------

enum class fk {
    dft, dft_1d, dft_2d, dft_3d, r2c, r2c_1d, r2c_2d, r2c_3d, c2r, c2r_1d, c2r_2d, c2r_3d,
    many, many_r2c, many_c2r, guru, guru_r2c, guru_c2r
};

struct fcase {
    const char* name;
    fk kind;
    std::vector<std::int64_t> n;  // Fortran order
    bool in_place = false;
    int sign = -1;
    // many: embeds, strides, distances; guru: per-dimension strides and the batch
    std::vector<std::int64_t> inembed{}, onembed{}, is{}, os{};
    std::int64_t howmany = 1, istride = 1, idist = 0, ostride = 1, odist = 0;
};

transform transform_of(fk k) {
    switch (k) {
        case fk::r2c: case fk::r2c_1d: case fk::r2c_2d: case fk::r2c_3d: case fk::many_r2c: case fk::guru_r2c:
            return transform::r2c;
        case fk::c2r: case fk::c2r_1d: case fk::c2r_2d: case fk::c2r_3d: case fk::many_c2r: case fk::guru_c2r:
            return transform::c2r;
        default:
            return transform::c2c;
    }
}
bool is_many(fk k) { return k == fk::many || k == fk::many_r2c || k == fk::many_c2r; }
bool is_guru(fk k) { return k == fk::guru || k == fk::guru_r2c || k == fk::guru_c2r; }

template <typename T>
std::vector<T> reversed(const std::vector<std::int64_t>& v) {
    return std::vector<T>(v.rbegin(), v.rend());
}

constexpr std::size_t buffer_reals = 8192;

// FFTW (double) with the same arguments as the Fortran call, in row-major
// terms; `c2r_input` plans the r2c that writes a Hermitian input into the
// c2r input layout instead.
fftw_plan reference_plan(const fcase& c, double* in, double* out, bool c2r_input) {
    const transform t = transform_of(c.kind);
    const int r = static_cast<int>(c.n.size());
    auto n = reversed<int>(c.n);
    auto* ci = reinterpret_cast<fftw_complex*>(in);
    auto* co = reinterpret_cast<fftw_complex*>(out);
    const unsigned fl = FFTW_ESTIMATE;
    std::int64_t total = 1;
    for (auto x : c.n) total *= x;
    if (c2r_input) {
        // `in` holds contiguous reals; `out` receives the c2r input layout.
        if (is_many(c.kind)) {
            auto ie = reversed<int>(c.inembed);
            return fftw_plan_many_dft_r2c(r, n.data(), c.howmany, in, nullptr, 1, total, co, ie.data(), c.istride,
                                          c.idist, fl);
        }
        if (is_guru(c.kind)) {
            std::vector<fftw_iodim64> d(r);
            std::int64_t s = 1;
            for (int i = r - 1; i >= 0; --i) {
                d[i] = {n[i], s, c.is[r - 1 - i]};
                s *= n[i];
            }
            const fftw_iodim64 b{c.howmany, total, c.idist};
            return fftw_plan_guru64_dft_r2c(r, d.data(), 1, &b, in, co, fl);
        }
        return fftw_plan_dft_r2c(r, n.data(), in, co, fl);
    }
    if (is_many(c.kind)) {
        auto ie = reversed<int>(c.inembed), oe = reversed<int>(c.onembed);
        if (t == transform::c2c)
            return fftw_plan_many_dft(r, n.data(), c.howmany, ci, ie.data(), c.istride, c.idist, co, oe.data(),
                                      c.ostride, c.odist, c.sign, fl);
        if (t == transform::r2c)
            return fftw_plan_many_dft_r2c(r, n.data(), c.howmany, in, ie.data(), c.istride, c.idist, co, oe.data(),
                                          c.ostride, c.odist, fl);
        return fftw_plan_many_dft_c2r(r, n.data(), c.howmany, ci, ie.data(), c.istride, c.idist, out, oe.data(),
                                      c.ostride, c.odist, fl);
    }
    if (is_guru(c.kind)) {
        std::vector<fftw_iodim64> d(r);
        for (int i = 0; i < r; ++i) d[i] = {n[i], c.is[r - 1 - i], c.os[r - 1 - i]};
        const fftw_iodim64 b{c.howmany, c.idist, c.odist};
        if (t == transform::c2c) return fftw_plan_guru64_dft(r, d.data(), 1, &b, ci, co, c.sign, fl);
        if (t == transform::r2c) return fftw_plan_guru64_dft_r2c(r, d.data(), 1, &b, in, co, fl);
        return fftw_plan_guru64_dft_c2r(r, d.data(), 1, &b, ci, out, fl);
    }
    if (t == transform::c2c) return fftw_plan_dft(r, n.data(), ci, co, c.sign, fl);
    if (t == transform::r2c) return fftw_plan_dft_r2c(r, n.data(), in, co, fl);
    return fftw_plan_dft_c2r(r, n.data(), ci, out, fl);
}

// Integer arguments at the entry's width, each followed by a poison word in
// LP64 so that reading 8 bytes would go wrong.
template <typename I>
struct int_args {
    std::vector<std::vector<I>> store;
    const I* scalar(std::int64_t v) { return array({v}); }
    const I* array(const std::vector<std::int64_t>& v) {
        std::vector<I> a(v.begin(), v.end());
        a.push_back(static_cast<I>(0x5A5A5A5A));
        store.push_back(std::move(a));
        return store.back().data();
    }
};

#define OVX_FORTRAN_API(P, R, TGT, E, W, I, IOA)                                                         \
    template <>                                                                                         \
    struct fapi<R, I, kf::target::E> {                                                                \
        static void plan(const fcase& c, void** p, void* in, void* out, int_args<I>& a, void* interop) {  \
            (void)interop;                                                                              \
            const I* n = a.array(c.n);                                                                  \
            const I* rank = a.scalar(static_cast<std::int64_t>(c.n.size()));                            \
            const I* sign = a.scalar(c.sign);                                                           \
            const I* flags = a.scalar(0);                                                               \
            const I* n1 = a.scalar(c.n[0]);                                                             \
            const I* n2 = a.scalar(c.n.size() > 1 ? c.n[1] : 1);                                        \
            const I* n3 = a.scalar(c.n.size() > 2 ? c.n[2] : 1);                                        \
            const I* hm = a.scalar(c.howmany);                                                          \
            const I* ie = a.array(c.inembed);                                                           \
            const I* oe = a.array(c.onembed);                                                           \
            const I* ist = a.scalar(c.istride);                                                         \
            const I* id = a.scalar(c.idist);                                                            \
            const I* ost = a.scalar(c.ostride);                                                         \
            const I* od = a.scalar(c.odist);                                                            \
            const I* is = a.array(c.is);                                                                \
            const I* os = a.array(c.os);                                                                \
            const I* one = a.scalar(1);                                                                 \
            switch (c.kind) {                                                                           \
                case fk::dft: P##FFTW_PLAN_DFT_##TGT##_##W(p, rank, n, &in, &out, sign, flags IOA); break;  \
                case fk::dft_1d: P##FFTW_PLAN_DFT_1D_##TGT##_##W(p, n1, in, out, sign, flags IOA); break;   \
                case fk::dft_2d: P##FFTW_PLAN_DFT_2D_##TGT##_##W(p, n1, n2, &in, &out, sign, flags IOA); break; \
                case fk::dft_3d: P##FFTW_PLAN_DFT_3D_##TGT##_##W(p, n1, n2, n3, &in, &out, sign, flags IOA); break; \
                case fk::r2c: P##FFTW_PLAN_DFT_R2C_##TGT##_##W(p, rank, n, &in, &out, flags IOA); break;  \
                case fk::r2c_1d: P##FFTW_PLAN_DFT_R2C_1D_##TGT##_##W(p, n1, in, out, flags IOA); break;   \
                case fk::r2c_2d: P##FFTW_PLAN_DFT_R2C_2D_##TGT##_##W(p, n1, n2, &in, &out, flags IOA); break; \
                case fk::r2c_3d: P##FFTW_PLAN_DFT_R2C_3D_##TGT##_##W(p, n1, n2, n3, &in, &out, flags IOA); break; \
                case fk::c2r: P##FFTW_PLAN_DFT_C2R_##TGT##_##W(p, rank, n, &in, &out, flags IOA); break;  \
                case fk::c2r_1d: P##FFTW_PLAN_DFT_C2R_1D_##TGT##_##W(p, n1, in, out, flags IOA); break;   \
                case fk::c2r_2d: P##FFTW_PLAN_DFT_C2R_2D_##TGT##_##W(p, n1, n2, &in, &out, flags IOA); break; \
                case fk::c2r_3d: P##FFTW_PLAN_DFT_C2R_3D_##TGT##_##W(p, n1, n2, n3, &in, &out, flags IOA); break; \
                case fk::many: P##FFTW_PLAN_MANY_DFT_##TGT##_##W(p, rank, n, hm, &in, ie, ist, id, &out, oe, ost, od, sign, flags IOA); break; \
                case fk::many_r2c: P##FFTW_PLAN_MANY_DFT_R2C_##TGT##_##W(p, rank, n, hm, &in, ie, ist, id, &out, oe, ost, od, flags IOA); break; \
                case fk::many_c2r: P##FFTW_PLAN_MANY_DFT_C2R_##TGT##_##W(p, rank, n, hm, &in, ie, ist, id, &out, oe, ost, od, flags IOA); break; \
                case fk::guru: P##FFTW_PLAN_GURU_DFT_##TGT##_##W(p, rank, n, is, os, one, hm, id, od, &in, &out, sign, flags IOA); break; \
                case fk::guru_r2c: P##FFTW_PLAN_GURU_DFT_R2C_##TGT##_##W(p, rank, n, is, os, one, hm, id, od, &in, &out, flags IOA); break; \
                case fk::guru_c2r: P##FFTW_PLAN_GURU_DFT_C2R_##TGT##_##W(p, rank, n, is, os, one, hm, id, od, &in, &out, flags IOA); break; \
            }                                                                                           \
        }                                                                                               \
        static void execute(const fcase& c, void** p, void* in, void* out, void* interop) {             \
            (void)interop;                                                                              \
            const transform t = transform_of(c.kind);                                                   \
            if (kf::target::E == kf::target::cpu) {                                                   \
                if (t == transform::c2c) P##FFTW_EXECUTE_DFT_CPU(p, &in, &out);                         \
                else if (t == transform::r2c) P##FFTW_EXECUTE_DFT_R2C_CPU(p, &in, &out);                \
                else P##FFTW_EXECUTE_DFT_C2R_CPU(p, &in, &out);                                         \
            } else {                                                                                    \
                P##FFTW_EXECUTE_OMP_OFFLOAD(p, interop);                                                \
            }                                                                                           \
        }                                                                                               \
    };

template <typename R, typename I, kf::target W>
struct fapi;
#define OVX_IOA_CPU
#define OVX_IOA_OFF , interop
OVX_FORTRAN_API(S, float, CPU, cpu, LP64, std::int32_t, OVX_IOA_CPU)
OVX_FORTRAN_API(S, float, CPU, cpu, ILP64, std::int64_t, OVX_IOA_CPU)
OVX_FORTRAN_API(D, double, CPU, cpu, LP64, std::int32_t, OVX_IOA_CPU)
OVX_FORTRAN_API(D, double, CPU, cpu, ILP64, std::int64_t, OVX_IOA_CPU)
OVX_FORTRAN_API(S, float, OMP_OFFLOAD, offload, LP64, std::int32_t, OVX_IOA_OFF)
OVX_FORTRAN_API(S, float, OMP_OFFLOAD, offload, ILP64, std::int64_t, OVX_IOA_OFF)
OVX_FORTRAN_API(D, double, OMP_OFFLOAD, offload, LP64, std::int32_t, OVX_IOA_OFF)
OVX_FORTRAN_API(D, double, OMP_OFFLOAD, offload, ILP64, std::int64_t, OVX_IOA_OFF)

// Plans and runs the case through the entries of (R, I, W) and compares the
// output with FFTW on the same arguments.
template <typename R, typename I, kf::target W>
void run(const fcase& c, int fr) {
    const transform t = transform_of(c.kind);
    std::vector<double> input(buffer_reals);
    fill_random(input.data(), buffer_reals, 5);
    double* ra = static_cast<double*>(fftw_malloc(buffer_reals * sizeof(double)));
    double* rb = static_cast<double*>(fftw_malloc(buffer_reals * sizeof(double)));
    if (t == transform::c2r) {
        fftw_plan g = reference_plan(c, ra, rb, true);
        ASSERT_NE(g, nullptr);
        std::copy(input.begin(), input.end(), ra);
        std::copy(input.begin(), input.end(), rb);
        fftw_execute(g);
        fftw_destroy_plan(g);
        std::copy(rb, rb + buffer_reals, input.begin());
    }
    double* rout = c.in_place ? ra : rb;
    fftw_plan ref = reference_plan(c, ra, rout, false);
    ASSERT_NE(ref, nullptr);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::copy(input.begin(), input.end(), ra);
    if (!c.in_place) std::fill(rb, rb + buffer_reals, nan);
    fftw_execute(ref);
    fftw_destroy_plan(ref);

    usm_array<R> a(buffer_reals), b(buffer_reals);
    void* in = a.data;
    void* out = c.in_place ? in : b.data;
    void* interop = W == kf::target::offload ? interop_for(fr) : nullptr;
    int_args<I> args;
    void* plan = nullptr;
    fapi<R, I, W>::plan(c, &plan, in, out, args, interop);
    ASSERT_NE(plan, nullptr);
    std::copy(input.begin(), input.end(), a.data);
    fapi<R, I, W>::execute(c, &plan, in, out, interop);
    if (W == kf::target::offload) wait_for(fr);
    const R* got = static_cast<const R*>(out);
    std::vector<std::size_t> positions;
    const std::int64_t h2 = 2 * (c.n[0] / 2 + 1);
    std::size_t span = 2;
    for (auto x : c.n) span *= static_cast<std::size_t>(x);
    if (t != transform::c2c) span = static_cast<std::size_t>(span / 2 / c.n[0] * h2);
    for (std::size_t i = 0; i < buffer_reals; ++i) {
        if (c.in_place ? (i < span && (t != transform::c2r || static_cast<std::int64_t>(i) % h2 < c.n[0]))
                       : !std::isnan(rout[i]))
            positions.push_back(i);
    }
    EXPECT_FALSE(positions.empty());
    EXPECT_LE(relative_error(got, rout, positions), tolerance<R>());
    release(plan);
    fftw_free(ra);
    fftw_free(rb);
}

// One numeric case: the kind, the precision and integer width, the target
// and (offload) the foreign runtime id of the interop object.
struct num_case {
    fcase c;
    bool dbl, ilp64;
    kf::target tgt = kf::target::cpu;
    int fr = 0;
};
void PrintTo(const num_case& c, std::ostream* os) { *os << c.c.name; }

template <kf::target W>
void run_case(const num_case& p) {
    if (p.dbl) p.ilp64 ? run<double, std::int64_t, W>(p.c, p.fr) : run<double, std::int32_t, W>(p.c, p.fr);
    else p.ilp64 ? run<float, std::int64_t, W>(p.c, p.fr) : run<float, std::int32_t, W>(p.c, p.fr);
}

class FortranNumerics : public ::testing::TestWithParam<num_case> {};

TEST_P(FortranNumerics, MatchesFftw) {
    GetParam().tgt == kf::target::cpu ? run_case<kf::target::cpu>(GetParam()) : run_case<kf::target::offload>(GetParam());
}

std::string num_name(const ::testing::TestParamInfo<num_case>& info) {
    return std::string(info.param.dbl ? "d_" : "s_") + (info.param.ilp64 ? "ilp64_" : "lp64_") + info.param.c.name;
}

// Every kind of the CPU target in both precisions and integer widths
// (fields: name, kind, n, in place, sign, inembed, onembed, is, os, howmany,
// istride, idist, ostride, odist).
std::vector<num_case> cpu_cases() {
    const fcase kinds[] = {
        {"dft_4x3x5", fk::dft, {4, 3, 5}},
        {"dft_1d_16_inplace_backward", fk::dft_1d, {16}, true, 1},
        {"dft_2d_6x4", fk::dft_2d, {6, 4}},
        {"dft_3d_4x3x2_inplace_backward", fk::dft_3d, {4, 3, 2}, true, 1},
        {"r2c_8x3_inplace", fk::r2c, {8, 3}, true},
        {"r2c_1d_15", fk::r2c_1d, {15}},
        {"r2c_2d_8x5", fk::r2c_2d, {8, 5}},
        {"r2c_3d_6x3x2_inplace", fk::r2c_3d, {6, 3, 2}, true},
        {"c2r_8x3", fk::c2r, {8, 3}},
        {"c2r_1d_16_inplace", fk::c2r_1d, {16}, true},
        {"c2r_2d_7x4_inplace", fk::c2r_2d, {7, 4}, true},
        {"c2r_3d_4x3x2", fk::c2r_3d, {4, 3, 2}},
        {"many_4x6_embed16_batch3", fk::many, {4, 6}, false, -1, {16, 99}, {4, 99}, {}, {}, 3, 1, 96, 1, 24},
        {"many_r2c_8_embed10_batch3", fk::many_r2c, {8}, false, -1, {10}, {5}, {}, {}, 3, 1, 10, 1, 5},
        {"many_c2r_6x2_batch2", fk::many_c2r, {6, 2}, false, -1, {4, 99}, {6, 99}, {}, {}, 2, 1, 8, 1, 12},
        {"guru_5x3_transposed_batch2", fk::guru, {5, 3}, false, -1, {}, {}, {1, 5}, {3, 1}, 2, 1, 15, 1, 15},
        {"guru_r2c_12_stride2_batch3", fk::guru_r2c, {12}, false, -1, {}, {}, {2}, {1}, 3, 1, 25, 1, 7},
        {"guru_c2r_6x3_batch2", fk::guru_c2r, {6, 3}, false, -1, {}, {}, {1, 4}, {1, 6}, 2, 1, 12, 1, 18}};
    std::vector<num_case> v;
    for (const fcase& c : kinds)
        for (int dbl = 0; dbl < 2; ++dbl)
            for (int ilp = 0; ilp < 2; ++ilp) v.push_back({c, dbl == 1, ilp == 1});
    return v;
}

INSTANTIATE_TEST_SUITE_P(CpuKinds, FortranNumerics, ::testing::ValuesIn(cpu_cases()), num_name);

// Rank-1 offload plans through the Fortran entries.
constexpr auto OFF = kf::target::offload;
INSTANTIATE_TEST_SUITE_P(
    OffloadRank1, FortranNumerics,
    ::testing::Values(
        num_case{{"dft_1d_1024", fk::dft_1d, {1024}}, false, false, OFF, 4},
        num_case{{"dft_1d_64_inplace_backward", fk::dft_1d, {64}, true, 1}, true, true, OFF, 3},
        num_case{{"r2c_1d_64", fk::r2c_1d, {64}}, false, true, OFF, 3},
        num_case{{"c2r_1d_1000", fk::c2r_1d, {1000}}, true, false, OFF, 4},
        num_case{{"many_64_batch3", fk::many, {64}, false, -1, {64}, {64}, {}, {}, 3, 1, 70, 1, 64}, false, false, OFF, 3},
        num_case{{"guru_1000_batch2", fk::guru, {1000}, false, 1, {}, {}, {1}, {1}, 2, 1, 1000, 1, 1003}, true, true, OFF, 4}),
    num_name);

}  // namespace
