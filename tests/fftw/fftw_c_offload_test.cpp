// The C-convention FFTW3 offload entries: translation into guru
// descriptions, the plan cores' refusals and settings, and rank-1 numerics
// against FFTW 3 through every entry form.
#include <ovx_serv.h>

#include "dft/node/ovx_dft_node.hpp"
#include "fftw/offload_support.hpp"
#include "fftw/ovx_fftw_plan.hpp"
#include "korami/ovx/fftw3_omp_offload.h"

namespace {

using namespace offload_test;
using korami::ovx::fftw::guru_description;
using korami::ovx::fftw::plan_record;
using korami::ovx::fftw::transform;
namespace kf = korami::ovx::fftw;

plan_record* rec(ovx_fftw_plan p) { return reinterpret_cast<plan_record*>(p); }


// ---- translation ---------------------------------------------------------------------

struct basic_case {
    const char* name;
    transform kind;
    std::vector<int> n;
    bool in_place;
    guru_description expected;
};
void PrintTo(const basic_case& c, std::ostream* os) { *os << c.name; }

class BasicTranslation : public ::testing::TestWithParam<basic_case> {};

TEST_P(BasicTranslation, GivesTheRowMajorRecords) {
    const basic_case& c = GetParam();
    guru_description d;
    ASSERT_TRUE(kf::rowmajor_description(c.kind, static_cast<int>(c.n.size()), c.n.data(), c.in_place, d));
    EXPECT_TRUE(d == c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, BasicTranslation,
    ::testing::Values(basic_case{"c2c_4x6", transform::c2c, {4, 6}, false, described({{4, 6, 6}, {6, 1, 1}})},
                      basic_case{"c2c_2x3x5", transform::c2c, {2, 3, 5}, true, described({{2, 15, 15}, {3, 5, 5}, {5, 1, 1}})},
                      basic_case{"r2c_4x6_outofplace", transform::r2c, {4, 6}, false, described({{4, 6, 4}, {6, 1, 1}})},
                      basic_case{"r2c_4x6_inplace", transform::r2c, {4, 6}, true, described({{4, 8, 4}, {6, 1, 1}})},
                      basic_case{"c2r_4x7_inplace", transform::c2r, {4, 7}, true, described({{4, 4, 8}, {7, 1, 1}})},
                      basic_case{"r2c_3x4x6_inplace", transform::r2c, {3, 4, 6}, true,
                                 described({{3, 32, 16}, {4, 8, 4}, {6, 1, 1}})},
                      basic_case{"r2c_64_inplace", transform::r2c, {64}, true, described({{64, 1, 1}})},
                      basic_case{"c2r_64_outofplace", transform::c2r, {64}, false, described({{64, 1, 1}})}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ManyTranslation, NullEmbedsGiveTheBasicRecordsAndABatch) {
    const int n[2] = {4, 6};
    guru_description d;
    ASSERT_TRUE(kf::many_description(transform::c2c, 2, n, 5, nullptr, 1, 24, nullptr, 1, 30, false, d));
    EXPECT_TRUE(d == described({{4, 6, 6}, {6, 1, 1}}, {5, 24, 30}, 1));
    ASSERT_TRUE(kf::many_description(transform::r2c, 2, n, 2, nullptr, 2, 100, nullptr, 3, 50, true, d));
    EXPECT_TRUE(d == described({{4, 16, 12}, {6, 2, 3}}, {2, 100, 50}, 1));
    ASSERT_TRUE(kf::many_description(transform::c2r, 2, n, 2, nullptr, 1, 100, nullptr, 1, 50, false, d));
    EXPECT_TRUE(d == described({{4, 4, 6}, {6, 1, 1}}, {2, 100, 50}, 1));
}

TEST(ManyTranslation, EmbedsAreReadFromIndexOneAndStridesAreSixtyFourBit) {
    const int n[2] = {4, 60000};
    const int inembed[2] = {-99, 70000};
    const int onembed[2] = {-99, 65000};
    guru_description d;
    ASSERT_TRUE(kf::many_description(transform::c2c, 2, n, 1, inembed, 40000, 0, onembed, 50000, 0, false, d));
    EXPECT_TRUE(d == described({{4, 40000LL * 70000, 50000LL * 65000}, {60000, 40000, 50000}}, {1, 0, 0}, 1));
    ASSERT_TRUE(kf::many_description(transform::r2c, 2, n, 1, nullptr, 40000, 0, nullptr, 50000, 0, true, d));
    EXPECT_TRUE(d == described({{4, 40000LL * 60002, 50000LL * 30001}, {60000, 40000, 50000}}, {1, 0, 0}, 1));
}

TEST(Translation, RefusesRankEightAndNullLengths) {
    const int n[8] = {2, 2, 2, 2, 2, 2, 2, 2};
    guru_description d;
    EXPECT_FALSE(kf::rowmajor_description(transform::c2c, 8, n, false, d));
    EXPECT_FALSE(kf::rowmajor_description(transform::r2c, 1, nullptr, false, d));
    EXPECT_FALSE(kf::many_description(transform::c2r, 8, n, 1, nullptr, 1, 0, nullptr, 1, 0, false, d));
    EXPECT_FALSE(kf::many_description(transform::c2c, 1, nullptr, 1, nullptr, 1, 0, nullptr, 1, 0, false, d));
}

TEST(Translation, RefusesStridesBeyondSixtyFourBits) {
    const int n[4] = {2, 1 << 30, 1 << 30, 1 << 30};
    guru_description d;
    EXPECT_FALSE(kf::rowmajor_description(transform::c2c, 4, n, false, d));
    EXPECT_FALSE(kf::rowmajor_description(transform::r2c, 4, n, true, d));
    EXPECT_FALSE(kf::many_description(transform::c2c, 4, n, 1, nullptr, 1 << 30, 0, nullptr, 1, 0, false, d));
    // The same lengths one dimension shorter still fit.
    EXPECT_TRUE(kf::rowmajor_description(transform::c2c, 3, n + 1, false, d));
}

// ---- plan cores ------------------------------------------------------------------------

int allocations = 0, releases = 0;
void counting_release(plan_record* p) {
    ++releases;
    kf::fftw_plan_destroy(p);
}
plan_record* counting_alloc() {
    ++allocations;
    plan_record* p = kf::fftw_plan_alloc();
    if (p) p->plan_release = counting_release;
    return p;
}

class PlanCore : public ::testing::Test {
protected:
    void SetUp() override {
        allocations = releases = 0;
        kf::plan_alloc_hook = counting_alloc;
    }
    void TearDown() override { kf::plan_alloc_hook = kf::fftw_plan_alloc; }
};

TEST_F(PlanCore, RefusesBeforeAllocatingOrReleasesWhatItMade) {
    usm_array<float> a(256), b(256);
    auto* in = reinterpret_cast<ovx_fftwf_complex*>(a.data);
    auto* out = reinterpret_cast<ovx_fftwf_complex*>(b.data);
    const ovx_fftw_iodim dims[8] = {{2, 1, 1}, {2, 1, 1}, {2, 1, 1}, {2, 1, 1},
                                    {2, 1, 1}, {2, 1, 1}, {2, 1, 1}, {2, 1, 1}};
    EXPECT_EQ(fftwf_plan_guru_dft_omp_offload(8, dims, 0, nullptr, in, out, -1, 0, interop_for(4)), nullptr);
    EXPECT_EQ(fftwf_plan_guru_dft_omp_offload(1, dims, 2, dims, in, out, -1, 0, interop_for(4)), nullptr);
    EXPECT_EQ(fftwf_plan_guru_dft_omp_offload(1, nullptr, 0, nullptr, in, out, -1, 0, interop_for(4)), nullptr);
    EXPECT_EQ(fftwf_plan_guru_dft_omp_offload(1, dims, 1, nullptr, in, out, -1, 0, interop_for(4)), nullptr);
    EXPECT_EQ(allocations, 0);
    EXPECT_EQ(fftwf_plan_guru_dft_omp_offload(0, dims, 0, nullptr, in, out, -1, 0, interop_for(4)), nullptr);
    const ovx_fftw_iodim strided[1] = {{64, 1, 2}};
    EXPECT_EQ(fftwf_plan_guru_dft_omp_offload(1, strided, 0, nullptr, in, in, -1, 0, interop_for(4)), nullptr);
    const ovx_fftw_iodim batch[1] = {{2, 64, 65}};
    EXPECT_EQ(fftwf_plan_guru_dft_omp_offload(1, dims, 1, batch, in, in, -1, 0, interop_for(4)), nullptr);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(fftwf_plan_dft_1d_omp_offload(64, in, out, -1, 0, nullptr), nullptr);
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(allocations, 4);
    EXPECT_EQ(releases, 4);
}

// An output stride or distance of 0 along more than one point: every entry
// form that can express it gets a null plan, with nothing allocated.
struct zero_output_case {
    const char* name;
    ovx_fftw_plan (*plan)(float* in, float* out, void* io);
};
void PrintTo(const zero_output_case& c, std::ostream* os) { *os << c.name; }
class PlanCoreZeroOutput : public PlanCore, public ::testing::WithParamInterface<zero_output_case> {};

TEST_P(PlanCoreZeroOutput, RefusesBeforeAllocating) {
    usm_array<float> a(512), b(512);
    EXPECT_EQ(GetParam().plan(a.data, b.data, interop_for(4)), nullptr);
    EXPECT_EQ(allocations, 0);
}

using cf = ovx_fftwf_complex*;
INSTANTIATE_TEST_SUITE_P(
    Forms, PlanCoreZeroOutput,
    ::testing::Values(
        zero_output_case{"many_stride",
                         [](float* i, float* o, void* io) {
                             int n = 64;
                             return fftwf_plan_many_dft_omp_offload(1, &n, 2, cf(i), nullptr, 1, 64, cf(o), nullptr, 0,
                                                                    64, -1, 0, io);
                         }},
        zero_output_case{"many_distance",
                         [](float* i, float* o, void* io) {
                             int n = 64;
                             return fftwf_plan_many_dft_omp_offload(1, &n, 2, cf(i), nullptr, 1, 64, cf(o), nullptr, 1,
                                                                    0, -1, 0, io);
                         }},
        zero_output_case{"many_r2c_stride",
                         [](float* i, float* o, void* io) {
                             int n = 64;
                             return fftwf_plan_many_dft_r2c_omp_offload(1, &n, 1, i, nullptr, 1, 64, cf(o), nullptr, 0,
                                                                        33, 0, io);
                         }},
        zero_output_case{"guru_inner_stride",
                         [](float* i, float* o, void* io) {
                             const ovx_fftw_iodim d[2] = {{4, 16, 16}, {16, 1, 0}};
                             return fftwf_plan_guru_dft_omp_offload(2, d, 0, nullptr, cf(i), cf(o), -1, 0, io);
                         }},
        zero_output_case{"guru64_batch_distance", [](float* i, float* o, void* io) {
                             const ovx_fftw_iodim64 d[1] = {{64, 1, 1}}, h[1] = {{2, 64, 0}};
                             return fftwf_plan_guru64_dft_omp_offload(1, d, 1, h, cf(i), cf(o), 1, 0, io);
                         }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PlanCore, SettingsReachTheNode) {
    usm_array<float> a(256), b(256);
    auto* in = reinterpret_cast<ovx_fftwf_complex*>(a.data);
    auto* out = reinterpret_cast<ovx_fftwf_complex*>(b.data);
    const ovx_fftw_iodim dims[1] = {{64, 1, 1}};
    const ovx_fftw_iodim batch[1] = {{2, 64, 64}};
    ovx_fftw_plan conserve = fftwf_plan_guru_dft_omp_offload(1, dims, -1, batch, in, out, 0, 4, interop_for(4));
    ASSERT_NE(conserve, nullptr);
    const DFTI_DESCRIPTOR* node = rec(conserve)->node;
    EXPECT_EQ(node->workspace, DFTI_AVOID);
    EXPECT_EQ(node->thread_limit, 1);
    EXPECT_EQ(node->user_batch.records[0].length, 1);
    ovx_fftw_plan real = fftwf_plan_dft_r2c_1d_omp_offload(64, a.data, in, 4, interop_for(4));
    ASSERT_NE(real, nullptr);
    EXPECT_EQ(rec(real)->node->workspace, DFTI_ALLOW);
    release(conserve);
    release(real);
}

// ---- numerics --------------------------------------------------------------------------

enum class form { basic, basic_1d, many, guru, guru64, new_arrays };

struct numeric_case {
    const char* name;
    transform kind;
    int sign;  // complex only
    bool dbl;
    int fr;
    bool in_place;
    form entry;
    int n;
    int howmany = 1, idist = 0, odist = 0;  // elements of each side's type
};
void PrintTo(const numeric_case& c, std::ostream* os) { *os << c.name; }

template <typename R>
struct api;
#define OVX_TEST_API(pre, R)                                                                           \
    template <>                                                                                        \
    struct api<R> {                                                                                    \
        using cplx = R[2];                                                                             \
        static constexpr auto dft = pre##plan_dft_omp_offload;                                         \
        static constexpr auto dft_1d = pre##plan_dft_1d_omp_offload;                                   \
        static constexpr auto many = pre##plan_many_dft_omp_offload;                                   \
        static constexpr auto guru = pre##plan_guru_dft_omp_offload;                                   \
        static constexpr auto guru64 = pre##plan_guru64_dft_omp_offload;                               \
        static constexpr auto r2c = pre##plan_dft_r2c_omp_offload;                                     \
        static constexpr auto r2c_1d = pre##plan_dft_r2c_1d_omp_offload;                               \
        static constexpr auto many_r2c = pre##plan_many_dft_r2c_omp_offload;                           \
        static constexpr auto guru_r2c = pre##plan_guru_dft_r2c_omp_offload;                           \
        static constexpr auto guru64_r2c = pre##plan_guru64_dft_r2c_omp_offload;                       \
        static constexpr auto c2r = pre##plan_dft_c2r_omp_offload;                                     \
        static constexpr auto c2r_1d = pre##plan_dft_c2r_1d_omp_offload;                               \
        static constexpr auto many_c2r = pre##plan_many_dft_c2r_omp_offload;                           \
        static constexpr auto guru_c2r = pre##plan_guru_dft_c2r_omp_offload;                           \
        static constexpr auto guru64_c2r = pre##plan_guru64_dft_c2r_omp_offload;                       \
        static constexpr auto execute = pre##execute_omp_offload;                                      \
        static constexpr auto execute_dft = pre##execute_dft_omp_offload;                              \
        static constexpr auto execute_r2c = pre##execute_dft_r2c_omp_offload;                          \
        static constexpr auto execute_c2r = pre##execute_dft_c2r_omp_offload;                          \
    };
OVX_TEST_API(fftwf_, float)
OVX_TEST_API(fftw_, double)

// Plans `c` on (in, out) through its entry form.
template <typename R>
ovx_fftw_plan plan_case(const numeric_case& c, R* in, R* out, void* io) {
    using A = api<R>;
    using C = typename A::cplx;
    auto* ci = reinterpret_cast<C*>(in);
    auto* co = reinterpret_cast<C*>(out);
    const int n = c.n;
    const ovx_fftw_iodim d32[1] = {{n, 1, 1}}, h32[1] = {{c.howmany, c.idist, c.odist}};
    const ovx_fftw_iodim64 d64[1] = {{n, 1, 1}}, h64[1] = {{c.howmany, c.idist, c.odist}};
    const bool batched = c.howmany > 1;
    switch (c.kind) {
        case transform::c2c:
            switch (c.entry) {
                case form::basic: return A::dft(1, &n, ci, co, c.sign, 0, io);
                case form::many: return A::many(1, &n, c.howmany, ci, nullptr, 1, c.idist, co, nullptr, 1, c.odist, c.sign, 0, io);
                case form::guru: return A::guru(1, d32, batched, h32, ci, co, c.sign, 0, io);
                case form::guru64: return A::guru64(1, d64, batched, h64, ci, co, c.sign, 0, io);
                default: return A::dft_1d(n, ci, co, c.sign, 0, io);
            }
        case transform::r2c:
            switch (c.entry) {
                case form::basic: return A::r2c(1, &n, in, co, 0, io);
                case form::many: return A::many_r2c(1, &n, c.howmany, in, nullptr, 1, c.idist, co, nullptr, 1, c.odist, 0, io);
                case form::guru: return A::guru_r2c(1, d32, batched, h32, in, co, 0, io);
                case form::guru64: return A::guru64_r2c(1, d64, batched, h64, in, co, 0, io);
                default: return A::r2c_1d(n, in, co, 0, io);
            }
        case transform::c2r:
            switch (c.entry) {
                case form::basic: return A::c2r(1, &n, ci, out, 0, io);
                case form::many: return A::many_c2r(1, &n, c.howmany, ci, nullptr, 1, c.idist, out, nullptr, 1, c.odist, 0, io);
                case form::guru: return A::guru_c2r(1, d32, batched, h32, ci, out, 0, io);
                case form::guru64: return A::guru64_c2r(1, d64, batched, h64, ci, out, 0, io);
                default: return A::c2r_1d(n, ci, out, 0, io);
            }
    }
    return nullptr;
}

template <typename R>
void execute_on(const numeric_case& c, ovx_fftw_plan p, R* in, R* out, void* io) {
    using C = typename api<R>::cplx;
    if (c.kind == transform::c2c) api<R>::execute_dft(p, reinterpret_cast<C*>(in), reinterpret_cast<C*>(out), io);
    else if (c.kind == transform::r2c) api<R>::execute_r2c(p, in, reinterpret_cast<C*>(out), io);
    else api<R>::execute_c2r(p, reinterpret_cast<C*>(in), out, io);
}

class CEntryNumerics : public ::testing::TestWithParam<numeric_case> {};

template <typename R>
void run(const numeric_case& c) {
    const std::size_t n = c.n, h = n / 2 + 1, hm = c.howmany;
    const bool cin = c.kind != transform::r2c, cout = c.kind != transform::c2r;
    const std::size_t in_len = c.kind == transform::c2r ? h : n, out_len = c.kind == transform::r2c ? h : n;
    const std::size_t idist = hm > 1 ? c.idist : 0, odist = hm > 1 ? c.odist : 0;
    const std::size_t in_reals = ((hm - 1) * idist + in_len) * (cin ? 2 : 1);
    const std::size_t out_reals = ((hm - 1) * odist + out_len) * (cout ? 2 : 1);
    const std::size_t span = std::max(in_reals, out_reals);
    std::vector<double> input(in_reals, 0.0);
    fill_random(input.data(), in_reals, 11);
    if (c.kind == transform::c2r)  // a Hermitian half spectrum per transform
        for (std::size_t b = 0; b < hm; ++b) {
            input[2 * b * idist + 1] = 0;
            if (n % 2 == 0) input[2 * (b * idist + h - 1) + 1] = 0;
        }
    usm_array<R> a(span), b(span), a2(span), b2(span);
    const bool fresh = c.entry == form::new_arrays;
    R* in = a.data;
    R* out = c.in_place ? a.data : b.data;
    void* io = interop_for(c.fr);
    ovx_fftw_plan p = plan_case<R>(c, in, out, io);
    ASSERT_NE(p, nullptr);
    R* run_in = fresh ? a2.data : in;
    R* run_out = fresh ? (c.in_place ? a2.data : b2.data) : out;
    std::copy(input.begin(), input.end(), run_in);
    if (fresh) execute_on<R>(c, p, run_in, run_out, io);
    else api<R>::execute(p, io);
    wait_for(c.fr);
    std::vector<fftw_iodim64> batch;
    if (hm > 1) batch.push_back({static_cast<ptrdiff_t>(hm), static_cast<ptrdiff_t>(idist), static_cast<ptrdiff_t>(odist)});
    const kind k = c.kind == transform::r2c ? kind::r2c
                   : c.kind == transform::c2r ? kind::c2r
                   : c.sign == -1            ? kind::c2c_forward
                                             : kind::c2c_backward;
    auto ref = fftw_reference(k, {{c.n, 1, 1}}, batch, input, out_reals, c.in_place);
    std::vector<std::size_t> positions;
    for (std::size_t t = 0; t < hm; ++t)
        for (std::size_t j = 0; j < out_len * (cout ? 2 : 1); ++j) positions.push_back(t * odist * (cout ? 2 : 1) + j);
    EXPECT_LE(relative_error(run_out, ref.data(), positions), tolerance<R>());
    release(p);
}

TEST_P(CEntryNumerics, MatchesFftw) {
    if (GetParam().dbl) run<double>(GetParam());
    else run<float>(GetParam());
}

using T = transform;
INSTANTIATE_TEST_SUITE_P(
    Entries, CEntryNumerics,
    ::testing::Values(
        numeric_case{"dft_1d_s_forward_outofplace_sycl_1024", T::c2c, -1, false, 4, false, form::basic_1d, 1024},
        numeric_case{"dft_1d_s_backward_inplace_opencl_4096", T::c2c, 1, false, 3, true, form::basic_1d, 4096},
        numeric_case{"dft_d_forward_inplace_opencl_1000", T::c2c, -1, true, 3, true, form::basic, 1000},
        numeric_case{"dft_1d_d_backward_outofplace_sycl_64", T::c2c, 1, true, 4, false, form::basic_1d, 64},
        numeric_case{"many_s_forward_outofplace_opencl_64x3", T::c2c, -1, false, 3, false, form::many, 64, 3, 70, 72},
        numeric_case{"many_d_backward_inplace_sycl_1000x3", T::c2c, 1, true, 4, true, form::many, 1000, 3, 1003, 1003},
        numeric_case{"guru_s_backward_outofplace_sycl_1024x3", T::c2c, 0, false, 4, false, form::guru, 1024, 3, 1030, 1024},
        numeric_case{"guru64_d_forward_inplace_opencl_64x3", T::c2c, -1, true, 3, true, form::guru64, 64, 3, 64, 64},
        numeric_case{"r2c_1d_s_outofplace_sycl_64", T::r2c, 0, false, 4, false, form::basic_1d, 64},
        numeric_case{"r2c_d_inplace_opencl_1000", T::r2c, 0, true, 3, true, form::basic, 1000},
        numeric_case{"many_r2c_s_outofplace_opencl_1000x3", T::r2c, 0, false, 3, false, form::many, 1000, 3, 1000, 501},
        numeric_case{"guru_r2c_d_outofplace_sycl_64x3", T::r2c, 0, true, 4, false, form::guru, 64, 3, 64, 33},
        numeric_case{"guru64_r2c_s_inplace_sycl_64x3", T::r2c, 0, false, 4, true, form::guru64, 64, 3, 66, 33},
        numeric_case{"c2r_1d_s_outofplace_sycl_1000", T::c2r, 0, false, 4, false, form::basic_1d, 1000},
        numeric_case{"c2r_d_inplace_opencl_64", T::c2r, 0, true, 3, true, form::basic, 64},
        numeric_case{"many_c2r_d_outofplace_sycl_64x3", T::c2r, 0, true, 4, false, form::many, 64, 3, 33, 64},
        numeric_case{"guru_c2r_s_outofplace_opencl_1000x3", T::c2r, 0, false, 3, false, form::guru, 1000, 3, 501, 1000},
        numeric_case{"guru64_c2r_d_outofplace_opencl_64", T::c2r, 0, true, 3, false, form::guru64, 64},
        numeric_case{"execute_dft_s_new_arrays_sycl_1024", T::c2c, -1, false, 4, false, form::new_arrays, 1024},
        numeric_case{"execute_dft_d_new_arrays_inplace_opencl_1000", T::c2c, 1, true, 3, true, form::new_arrays, 1000},
        numeric_case{"execute_r2c_d_new_arrays_sycl_64", T::r2c, 0, true, 4, false, form::new_arrays, 64},
        numeric_case{"execute_c2r_s_new_arrays_inplace_opencl_1000", T::c2r, 0, false, 3, true, form::new_arrays, 1000}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- execute refusals --------------------------------------------------------------------

TEST(CEntryExecute, PlacementMismatchNullArraysAndOtherPlansDoNothing) {
    usm_array<float> a(128), b(128), c(128);
    auto* ca = reinterpret_cast<ovx_fftwf_complex*>(a.data);
    auto* cb = reinterpret_cast<ovx_fftwf_complex*>(b.data);
    auto* cc = reinterpret_cast<ovx_fftwf_complex*>(c.data);
    void* io = interop_for(4);
    ovx_fftw_plan oop = fftwf_plan_dft_1d_omp_offload(64, ca, cb, -1, 0, io);
    ovx_fftw_plan ip = fftwf_plan_dft_1d_omp_offload(64, ca, ca, -1, 0, io);
    ASSERT_NE(oop, nullptr);
    ASSERT_NE(ip, nullptr);
    std::fill(a.data, a.data + 128, 1.0f);
    std::fill(b.data, b.data + 128, 2.0f);
    std::fill(c.data, c.data + 128, 3.0f);
    fftwf_execute_dft_omp_offload(oop, ca, ca, io);
    fftwf_execute_dft_omp_offload(ip, cb, cc, io);
    fftwf_execute_dft_omp_offload(oop, nullptr, cb, io);
    fftwf_execute_dft_omp_offload(oop, ca, nullptr, io);
    fftwf_execute_dft_omp_offload(nullptr, ca, cb, io);
    fftwf_execute_omp_offload(nullptr, io);
    plan_record cpu_plan = *rec(oop);
    cpu_plan.plan_execute_offload = nullptr;
    fftwf_execute_omp_offload(reinterpret_cast<ovx_fftw_plan>(&cpu_plan), io);
    fftwf_execute_dft_omp_offload(reinterpret_cast<ovx_fftw_plan>(&cpu_plan), ca, cb, io);
    gpu_queue().wait();
    EXPECT_TRUE(std::all_of(a.data, a.data + 128, [](float v) { return v == 1.0f; }));
    EXPECT_TRUE(std::all_of(b.data, b.data + 128, [](float v) { return v == 2.0f; }));
    EXPECT_TRUE(std::all_of(c.data, c.data + 128, [](float v) { return v == 3.0f; }));
    release(oop);
    release(ip);
}

// In-place plans describe one layout through their input side only: the
// transform must write exactly that layout, padding and the other
// interleaved elements keeping their values.
struct inplace_many_case {
    const char* name;
    std::vector<int> n;
    int howmany, stride, dist;
    std::vector<int> embed;  // empty: none
    std::size_t reals;       // the array
};
void PrintTo(const inplace_many_case& c, std::ostream* os) { *os << c.name; }
class InPlaceManyPlans : public ::testing::TestWithParam<inplace_many_case> {};

TEST_P(InPlaceManyPlans, WriteOnlyTheirLayout) {
    const inplace_many_case& c = GetParam();
    using cplx = ovx_fftwf_complex;
    usm_array<float> a(c.reals);
    std::vector<double> input(c.reals);
    fill_random(input.data(), c.reals, 3);
    std::copy(input.begin(), input.end(), a.data);
    const int r = static_cast<int>(c.n.size());
    const int* embed = c.embed.empty() ? nullptr : c.embed.data();
    auto* x = reinterpret_cast<cplx*>(a.data);
    ovx_fftw_plan p = fftwf_plan_many_dft_omp_offload(r, c.n.data(), c.howmany, x, embed, c.stride, c.dist, x, embed,
                                                      c.stride, c.dist, -1, 0, interop_for(4));
    ASSERT_NE(p, nullptr);
    fftwf_execute_omp_offload(p, interop_for(4));
    wait_for(4);
    // The guru description of the same layout, innermost stride last.
    std::vector<fftw_iodim64> dims(r);
    std::ptrdiff_t s = c.stride;
    for (int i = r - 1; i >= 0; --i) {
        dims[i] = {c.n[i], s, s};
        s *= c.embed.empty() ? c.n[i] : c.embed[i];
    }
    const auto ref = fftw_reference(kind::c2c_forward, dims, {{c.howmany, c.dist, c.dist}}, input, c.reals, true);
    // FFTW in place on the copy leaves everything outside the layout as it was.
    std::vector<std::size_t> inside, outside;
    std::vector<char> mark(c.reals, 0);
    for (std::size_t i = 0; i < c.reals; ++i) mark[i] = ref[i] != input[i];
    for (std::size_t i = 0; i < c.reals; ++i) (mark[i] ? inside : outside).push_back(i);
    EXPECT_LE(relative_error(a.data, ref.data(), inside), tolerance<float>());
    std::size_t changed = 0;
    for (std::size_t i : outside) changed += a.data[i] != static_cast<float>(input[i]);
    EXPECT_EQ(changed, 0u) << "elements outside the layout changed";
    release(p);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, InPlaceManyPlans,
    ::testing::Values(inplace_many_case{"PaddedRows4x4x4", {4, 4, 4}, 1, 1, 80, {4, 4, 5}, 2 * 80},
                      inplace_many_case{"ElementStride2Of4x4x4", {4, 4, 4}, 1, 2, 128, {}, 2 * 128},
                      inplace_many_case{"TwoInterleaved32", {32}, 2, 2, 1, {}, 2 * 64},
                      inplace_many_case{"EveryOther32", {32}, 1, 2, 1, {}, 2 * 64}),
    [](const auto& info) { return std::string(info.param.name); });

// Rank-2 and rank-3 plans run where a multi-dimensional GPU backend takes
// the shape (3D complex, 2D real); a shape none takes (2D complex) gives no plan.
template <typename P>
void check_md_plan(P plan_on, kind k, std::vector<fftw_iodim64> dims, std::size_t in_reals,
                   std::size_t out_reals) {
    usm_array<float> a(in_reals), b(out_reals);
    std::vector<double> input(in_reals);
    fill_random(input.data(), in_reals, 5);
    std::copy(input.begin(), input.end(), a.data);
    ovx_fftw_plan p = plan_on(a.data, b.data, interop_for(4));
    ASSERT_NE(p, nullptr);
    fftwf_execute_omp_offload(p, interop_for(4));
    wait_for(4);
    const auto ref = fftw_reference(k, dims, {}, input, out_reals, false);
    EXPECT_LE(relative_error(b.data, ref.data(), out_reals), tolerance<float>());
    release(p);
}

TEST(CEntryRank2And3, PlansRunWhereAGpuBackendTakesTheShape) {
    using cplx = ovx_fftwf_complex;
    check_md_plan([](float* in, float* out, void* io) {
        return fftwf_plan_dft_3d_omp_offload(4, 6, 8, reinterpret_cast<cplx*>(in), reinterpret_cast<cplx*>(out), -1, 0, io);
    }, kind::c2c_forward, {{4, 48, 48}, {6, 8, 8}, {8, 1, 1}}, 2 * 192, 2 * 192);
    check_md_plan([](float* in, float* out, void* io) {
        return fftwf_plan_dft_r2c_2d_omp_offload(4, 6, in, reinterpret_cast<cplx*>(out), 0, io);
    }, kind::r2c, {{4, 6, 4}, {6, 1, 1}}, 24, 2 * 16);

    check_md_plan([](float* in, float* out, void* io) {
        return fftwf_plan_dft_2d_omp_offload(4, 6, reinterpret_cast<cplx*>(in), reinterpret_cast<cplx*>(out), -1, 0, io);
    }, kind::c2c_forward, {{4, 6, 6}, {6, 1, 1}}, 2 * 24, 2 * 24);
    const std::int64_t lengths[2] = {4, 6};
    DFTI_DESCRIPTOR* node = nullptr;
    ASSERT_EQ(dfti_create_descriptor_s_md(&node, DFTI_COMPLEX, 2, lengths), 0);
    EXPECT_EQ(ovx_DftiCommitDescriptor_omp_offload(node, interop_for(4)), 0);
    dfti_free_descriptor(&node);
}

}  // namespace
