// Explicit-SIMD two-factor plan: rules, stage set-up, bundles and their
// constants, workspaces, twiddle tables, and the generated codelets.
#include <gtest/gtest.h>
#include <ovxplat/profile.h>
#include <ovxplat/sycl_standin.hpp>

#include <cmath>
#include <complex>
#include <memory>
#include <random>

#include "../../../dft/gpu/esimd/ovx_dft_esimd_2_facts_kernels.hpp"
#include "worst_error.hpp"

namespace {
using namespace korami::ovx::dft;
using lens = std::vector<std::int64_t>;

struct profile_scope {
    explicit profile_scope(const char* p) { ovxplat_gpu_profile_select(p); }
    ~profile_scope() { ovxplat_gpu_profile_select("quen6"); }
};

template <typename T>
std::unique_ptr<esimd_2_facts_plan<T>> make_plan(const lens& l, std::int64_t n = 1, T bwd_scale = T(1)) {
    std::int64_t p = 1;
    for (auto v : l) p *= v;
    const std::int64_t s[3] = {1, l[0], l[0] * (l.size() > 1 ? l[1] : 1)};
    auto plan = std::make_unique<esimd_2_facts_plan<T>>(l, bwd_scale, n, p, p, s, s, false);
    plan->set_use_internal_workspaces(false);
    return plan;
}

// ---- applicability
struct rule_case {
    const char* name;
    lens l;
    bool single;
    int status;
};
class EsimdRules : public ::testing::TestWithParam<rule_case> {};
TEST_P(EsimdRules, CommitAnswers) {
    sycl::queue q{sycl::gpu_selector_v};
    const auto& c = GetParam();
    const int got = c.single ? make_plan<float>(c.l)->commit(&q) : make_plan<double>(c.l)->commit(&q);
    EXPECT_EQ(got, c.status);
}
INSTANTIATE_TEST_SUITE_P(
    Shapes, EsimdRules,
    ::testing::Values(rule_case{"s_2048x64", {2048, 64}, true, 0}, rule_case{"s_4096x64", {4096, 64}, true, 1},
                      rule_case{"s_64x4096", {64, 4096}, true, 1}, rule_case{"s_81x4096", {81, 4096}, true, 0},
                      rule_case{"s_512x300_excluded", {512, 300}, true, 1},
                      rule_case{"s_100x300_notPow2", {100, 300}, true, 1}, rule_case{"s_64x400", {64, 400}, true, 1},
                      rule_case{"s_64x48_noSplit", {64, 48}, true, 1},
                      rule_case{"s_64x64x4095_noSplit", {64, 64, 4095}, true, 1},
                      rule_case{"s_64x64x576_excluded", {64, 64, 576}, true, 1},
                      rule_case{"s_rank1", {64}, true, 1}, rule_case{"d_1024x1024x81_tooBig", {1024, 1024, 81}, false, 1},
                      rule_case{"d_64x2048", {64, 2048}, false, 1}, rule_case{"d_64x400", {64, 400}, false, 0},
                      rule_case{"d_64x64x1024", {64, 64, 1024}, false, 0}),
    [](const auto& i) { return std::string(i.param.name); });

TEST(EsimdRules, LayoutAndDistances) {
    sycl::queue q{sycl::gpu_selector_v};
    const std::int64_t good[2] = {1, 64}, bad[2] = {2, 128};
    EXPECT_EQ(esimd_2_facts_plan<float>({64, 64}, 1.f, 1, 7, 7, good, good, false).commit(&q), 0) << "N = 1";
    EXPECT_EQ(esimd_2_facts_plan<float>({64, 64}, 1.f, 2, 7, 7, good, good, false).commit(&q), 1);
    EXPECT_EQ(esimd_2_facts_plan<float>({64, 64}, 1.f, 1, 7, 7, bad, good, false).commit(&q), 1);
    EXPECT_EQ(esimd_2_facts_plan<float>({64, 64}, 1.f, 1, 7, 7, good, bad, false).commit(&q), 1);
}

TEST(EsimdRules, FactorSplits) {
    const std::pair<int, std::pair<int, int>> table[] = {
        {64, {8, 8}},   {72, {9, 8}},    {80, {10, 8}},   {81, {9, 9}},    {90, {10, 9}},   {96, {12, 8}},
        {100, {10, 10}}, {108, {12, 9}},  {120, {12, 10}}, {128, {16, 8}},  {144, {12, 12}}, {160, {16, 10}},
        {192, {16, 12}}, {200, {25, 8}},  {225, {25, 9}},  {250, {25, 10}}, {256, {16, 16}}, {288, {32, 9}},
        {300, {25, 12}}, {320, {32, 10}}, {384, {32, 12}}, {400, {25, 16}}, {512, {32, 16}}, {576, {64, 9}},
        {625, {25, 25}}, {640, {64, 10}}, {768, {64, 12}}, {800, {32, 25}}, {1024, {32, 32}}, {1600, {64, 25}},
        {2048, {64, 32}}, {4096, {64, 64}}};
    for (const auto& [len, f] : table) {
        std::int32_t a = 0, b = 0;
        ASSERT_TRUE(esimd_2_facts_split(len, a, b)) << len;
        EXPECT_EQ(std::make_pair(int(a), int(b)), f) << len;
    }
    std::int32_t a, b;
    EXPECT_FALSE(esimd_2_facts_split(48, a, b));
    EXPECT_FALSE(esimd_2_facts_split(4095, a, b));
}

TEST(EsimdRules, TransformsPerLaunch) {
    std::int64_t dims[3], units[3];
    EXPECT_EQ(esimd_2_facts_launch_ranges<float>({1024, 1024}, dims, units), 11);
    EXPECT_EQ(esimd_2_facts_launch_ranges<float>({2048, 2048}, dims, units), 2);
    EXPECT_EQ(esimd_2_facts_launch_ranges<float>({64, 64, 24320}, dims, units), 1) << "99,614,720 bytes";
    EXPECT_EQ(esimd_2_facts_launch_ranges<float>({4096, 3041}, dims, units), 1);
    EXPECT_EQ(esimd_2_facts_launch_ranges<double>({64, 32, 16}, dims, units), 190);
    EXPECT_EQ((std::vector<std::int64_t>(units, units + 3)), (lens{190 * 512, 190 * 1024, 190 * 2048}));
    EXPECT_EQ((std::vector<std::int64_t>(dims, dims + 3)), (lens{64, 32, 16}));
}

// ---- the worked plan: single 256 x 512 on a 64 KiB, 1024-bit device
template <auto& Id>
auto constant(const esimd_2_facts_plan<float>& p, int s) {
    return p.bundles[s]->template get_specialization_constant<Id>();
}

TEST(EsimdPlan, WorkedPlanFieldsConstantsAndBundles) {
    profile_scope quen5("quen5");
    sycl::queue q{sycl::gpu_selector_v};
    auto p = make_plan<float>({256, 512});
    ASSERT_EQ(p->commit(&q), 0);
    EXPECT_EQ(p->transforms_per_launch, 95);
    EXPECT_EQ((lens(p->dims, p->dims + 3)), (lens{256, 512, 1}));
    EXPECT_EQ((lens(p->units, p->units + 2)), (lens{48640, 3040}));
    EXPECT_EQ((lens(p->global_size, p->global_size + 2)), (lens{97280, 48640}));
    EXPECT_EQ((lens(p->local_size, p->local_size + 2)), (lens{2, 16}));
    EXPECT_FALSE(p->col_batch[0]);
    EXPECT_TRUE(p->col_batch[1]);
    EXPECT_EQ(p->region_size[0][0], 2048);
    EXPECT_EQ(p->region_size[1][1], 32768);
    EXPECT_EQ(p->workspace_bytes(0), 69632);
    // {fact0, fact1, fwd, bwd, VL, A, After, loop, lsc, SLM, bx, by, group, row01, row10, stride, pad0, pad1, ncol}
    const std::vector<std::int64_t> want[2] = {
        {16, 16, 256, 256, 16, 2, 2, 1, 0, 2048, 1, 1, 16, 16, 16, 1, 0, 0, 1},
        {32, 16, 131072, 131072, 16, 16, 16, 2, 0, 32768, 32, 1, 512, 4096, 8192, 256, 0, 0, 8}};
    for (int s = 0; s < 2; ++s) {
        const std::vector<std::int64_t> got = {
            constant<dft_spec_const_fact0>(*p, s), constant<dft_spec_const_fact1>(*p, s),
            constant<dft_spec_const_fwd_dist>(*p, s), constant<dft_spec_const_bwd_dist>(*p, s),
            constant<dft_spec_const_VL>(*p, s), constant<dft_spec_const_simd_groups_before_transpose>(*p, s),
            constant<dft_spec_const_simd_groups_after_transpose>(*p, s), constant<dft_spec_const_fact1_loop_bound>(*p, s),
            constant<dft_spec_const_use_lsc_api>(*p, s), constant<dft_spec_const_slm_size>(*p, s),
            constant<dft_num_batch_in_x_dir>(*p, s), constant<dft_num_batch_in_y_dir>(*p, s),
            constant<dft_dist_to_next_simd_group>(*p, s), constant<dft_dist_to_next_row_in_fact0xfact1>(*p, s),
            constant<dft_dist_to_next_row_in_fact1xfact0>(*p, s), constant<dft_stride_to_next_elem>(*p, s),
            constant<dft_spec_const_padfact0>(*p, s), constant<dft_spec_const_padfact1>(*p, s),
            constant<dft_num_col_batch_ffts>(*p, s)};
        EXPECT_EQ(got, want[s]) << "stage " << s;
        EXPECT_EQ(constant<dft_do_twiddle>(*p, s) + constant<dft_do_fft0>(*p, s) + constant<dft_do_fft1>(*p, s), 3);
        const bool cb = s == 1;
        auto& b = *p->bundles[s];
        EXPECT_EQ((b.has_kernel<ovx_dft_esimd_2_facts_kernel<float, 0, fft_algo::col_batch, false>>()), cb);
        EXPECT_EQ((b.has_kernel<ovx_dft_esimd_2_facts_kernel<float, 1, fft_algo::col_batch, true>>()), cb);
        EXPECT_EQ((b.has_kernel<ovx_dft_esimd_2_facts_kernel<float, 1, fft_algo::rows, false>>()), !cb);
        EXPECT_EQ((b.has_kernel<ovx_dft_esimd_2_facts_kernel<float, 0, fft_algo::rows, true>>()), !cb);
        EXPECT_EQ(b.get_kernel_ids().size(), 4u);
    }
}

TEST(EsimdPlan, StageOfNonPowerOfTwoFactors) {
    const esimd_stage st = esimd_2_facts_stage<float>(1, {64, 200}, 1, 64, 12800, 12800, 0, 1024);
    EXPECT_FALSE(st.col_batch) << "no local memory";
    EXPECT_EQ(std::vector<std::uint32_t>({st.pad0, st.A, st.Bg, st.loop_bound, st.after}),
              std::vector<std::uint32_t>({14, 1, 4, 4, 1}));
    EXPECT_EQ(st.local_size, 1);
}

// ---- workspaces
TEST(EsimdWorkspaces, SizesAndRebindMatrix) {
    sycl::queue q{sycl::gpu_selector_v};
    auto p = make_plan<float>({256, 512});
    ASSERT_EQ(p->commit(&q), 0);
    const std::int64_t a0 = p->workspace_bytes(0);
    EXPECT_EQ(p->workspace_bytes(1), 0);
    EXPECT_EQ(p->workspace_bytes(2), a0);
    EXPECT_EQ(p->workspace_bytes(3), 0);
    EXPECT_EQ(p->workspace_bytes(-1), 0);
    EXPECT_EQ(p->workspace_rebind_needed(0) + p->workspace_rebind_needed(1), 2) << "nothing bound";
    void* usm = sycl::malloc_device(std::size_t(a0), q);
    p->set_workspace(usm, 2, nullptr, 0);
    EXPECT_EQ(std::make_pair(p->workspace_rebind_needed(0), p->workspace_rebind_needed(1)), std::make_pair(0, 1));
    sycl::buffer<char, 1> bytes{sycl::range<1>(std::size_t(a0))};
    p->set_workspace(bytes, 2, nullptr, 0);
    EXPECT_EQ(std::make_pair(p->workspace_rebind_needed(0), p->workspace_rebind_needed(1)), std::make_pair(1, 0));
    try {
        p->workspace_rebind_needed(2);
        ADD_FAILURE() << "kind 2 accepted";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "The compute-time data container type must be known");
    }
    p.reset();
    sycl::free(usm, q);
    auto internal = make_plan<double>({64, 72});
    internal->set_use_internal_workspaces(true);
    ASSERT_EQ(internal->commit(&q), 0);
    EXPECT_EQ(internal->workspace_rebind_needed(0) + internal->workspace_rebind_needed(1), 0);
}

TEST(EsimdWorkspaces, DestroyReleasesEverythingAndTouchesNothingUncommitted) {
    const auto base = ovxplat::get_sycl_counters();
    make_plan<float>({64, 64}).reset();
    {
        sycl::queue q{sycl::gpu_selector_v};
        EXPECT_EQ(make_plan<float>({4096, 64})->commit(&q), 1);
        auto p = make_plan<float>({81, 4096});
        p->set_use_internal_workspaces(true);
        ASSERT_EQ(p->commit(&q), 0);
        EXPECT_GT(ovxplat::get_sycl_counters().usm_live_allocations, base.usm_live_allocations);
        // The queue of another context: frees still go to the allocation's.
        sycl::queue other{sycl::context(q.get_device()), q.get_device()};
        p->set_queue(&other);
    }
    const auto after = ovxplat::get_sycl_counters();
    EXPECT_EQ(after.usm_live_allocations, base.usm_live_allocations);
    EXPECT_EQ(after.buffers_live, base.buffers_live);
}

TEST(EsimdWorkspaces, InternalAreaAboveFreeMemoryIsNotApplicable) {
    profile_scope low("quen6_lowmem");
    sycl::queue q{sycl::gpu_selector_v};
    const auto base = ovxplat::get_sycl_counters();
    auto p = make_plan<float>({1024, 1024});
    p->set_use_internal_workspaces(true);
    EXPECT_EQ(p->commit(&q), 1);
    EXPECT_EQ(p->workspace_rebind_needed(0), 1);
    EXPECT_EQ(ovxplat::get_sycl_counters().usm_live_allocations, base.usm_live_allocations);
}

// The 4096-point single-precision table is staged through shared memory;
// a staging area the device refuses is reported, and nothing stays bound.
TEST(EsimdWorkspaces, RefusedStagingAreaIsReported) {
    profile_scope low("quen6_lowmem");
    sycl::queue q{sycl::gpu_selector_v};
    auto p = make_plan<float>({81, 4096});
    ASSERT_EQ(p->commit(&q), 0);
    std::vector<char> caller(std::size_t(p->workspace_bytes(0)));
    try {
        p->set_workspace(caller.data(), 2, nullptr, 0);
        ADD_FAILURE() << "bind reported success";
    } catch (const sycl::exception& e) {
        EXPECT_EQ(e.code(), sycl::make_error_code(sycl::errc::memory_allocation));
    }
    EXPECT_EQ(p->workspace_rebind_needed(0), 1);
}

struct bad_buffer_case {
    const char* name;
    const char* message;
};
class EsimdBadBuffers : public ::testing::TestWithParam<bad_buffer_case> {};
TEST_P(EsimdBadBuffers, KeepMessageAndLeaveThePlanUnbound) {
    sycl::queue q{sycl::gpu_selector_v};
    auto p = make_plan<float>({64, 72});
    ASSERT_EQ(p->commit(&q), 0);
    const auto bytes = std::size_t(p->workspace_bytes(0));
    sycl::buffer<char, 1> whole{sycl::range<1>(2 * bytes)};
    sycl::buffer<char, 1> sub(whole, sycl::id<1>(0), sycl::range<1>(bytes));
    sycl::buffer<char, 1> small{sycl::range<1>(bytes / 2)}, odd{sycl::range<1>(bytes + 2)};
    const std::string which = GetParam().name;
    auto& b = which == "SubBuffer" ? sub : which == "TooSmall" ? small : odd;
    try {
        p->set_workspace(b, 2, nullptr, 0);
        ADD_FAILURE() << "bind accepted";
    } catch (const sycl::exception& e) {
        EXPECT_EQ(e.code(), sycl::make_error_code(sycl::errc::invalid));
        EXPECT_STREQ(e.what(), GetParam().message);
    }
    EXPECT_EQ(p->workspace_rebind_needed(1), 1);
    EXPECT_EQ(p->workspace_rebind_needed(0), 1);
}
INSTANTIATE_TEST_SUITE_P(
    Binds, EsimdBadBuffers,
    ::testing::Values(bad_buffer_case{"SubBuffer", "Cannot create sub buffer from sub buffer."},
                      bad_buffer_case{"TooSmall", "Requested sub-buffer size exceeds the size of the parent buffer"},
                      bad_buffer_case{"NotWholeElements",
                                      "Total size in bytes represented by the type and range of the reinterpreted "
                                      "SYCL buffer does not equal the total size in bytes represented by the type "
                                      "and range of this SYCL buffer"}),
    [](const auto& i) { return std::string(i.param.name); });

// ---- twiddle tables
enum class bind_kind { usm, buffer, internal };
struct table_case {
    lens l;
    bool single;
    bind_kind bind;
};
std::string table_name(const ::testing::TestParamInfo<table_case>& i) {
    std::string s = i.param.single ? "s" : "d";
    for (auto v : i.param.l) s += "_" + std::to_string(v);
    return s + (i.param.bind == bind_kind::usm ? "_usm" : i.param.bind == bind_kind::buffer ? "_buffer" : "_internal");
}
void PrintTo(const table_case& c, std::ostream* os) { *os << table_name({c, 0}); }

template <typename T>
std::vector<T> read_table(esimd_2_facts_plan<T>& p, sycl::queue& q, int s, int d, bool usm) {
    std::vector<T> h(std::size_t(p.region_size[s][d]) / sizeof(T));
    sycl::event::wait(p.events);  // the table writes
    if (usm) {
        q.memcpy(h.data(), p.table_ptr[s][d], h.size() * sizeof(T)).wait();
    } else {
        sycl::host_accessor a(*p.table_buf[s][d], sycl::read_only);
        std::copy(&a[0], &a[0] + h.size(), h.begin());
    }
    return h;
}

template <typename T>
void check_tables(const table_case& c) {
    sycl::queue q{sycl::gpu_selector_v};
    const T fwd = T(0.5), bwd = T(0.25);
    auto p = make_plan<T>(c.l, 1, bwd);
    p->set_fwd_scale(fwd);
    p->set_use_internal_workspaces(c.bind == bind_kind::internal);
    ASSERT_EQ(p->commit(&q), 0);
    const auto before = p->events;
    void* usm = nullptr;
    std::optional<sycl::buffer<char, 1>> buf;
    if (c.bind == bind_kind::usm) {
        usm = sycl::malloc_device(std::size_t(p->workspace_bytes(0)), q);
        p->set_workspace(usm, 2, nullptr, 0);
    } else if (c.bind == bind_kind::buffer) {
        buf.emplace(sycl::range<1>(std::size_t(p->workspace_bytes(0))));
        p->set_workspace(*buf, 2, nullptr, 0);
    }
    const double tol = std::is_same_v<T, float> ? 2e-6 : 1e-13;
    const int rank = int(c.l.size());
    for (bool from_usm : {true, false}) {
        if ((from_usm && c.bind == bind_kind::buffer) || (!from_usm && c.bind == bind_kind::usm)) continue;
        for (int s = 0; s < rank; ++s)
            for (int d = 0; d < 2; ++d) {
                const auto t = read_table(*p, q, s, d, from_usm);
                const long double scale = s ? 1.0L : (d ? bwd : fwd);
                const auto& st = p->stages[s];
                const bool host_filled = std::is_same_v<T, float> && c.l[s] == 4096;
                const int copies = st.col_batch ? 8 : 1, cols = st.col_batch ? st.fact1 : int(st.fact1p);
                for (int r = 0; r < st.fact0; ++r)
                    for (int j = 0; j < cols; ++j) {
                        const long double th = 2.0L * 3.14159265358979323846264338327950288L * r * j / c.l[s];
                        for (int k = 0; k < copies; ++k) {
                            const std::size_t e = 2 * (std::size_t(r * cols + j) * copies + k);
                            if (host_filled) {
                                const double thd = double(j) * double(2 * r) * (1.0 / double(c.l[s]));
                                ASSERT_EQ(t[e], float(std::cos(M_PI * thd) * double(scale)));
                                ASSERT_EQ(t[e + 1], float(std::sin(M_PI * thd) * double(scale)));
                            } else if (r == 0 || j == 0) {
                                ASSERT_EQ(t[e], T(scale)) << s << d << r << j;
                                ASSERT_EQ(t[e + 1], T(0));
                            } else {
                                ASSERT_NEAR(t[e], double(scale * std::cos(th)), tol) << s << d << r << j << k;
                                ASSERT_NEAR(t[e + 1], double(scale * std::sin(th)), tol) << s << d << r << j << k;
                            }
                        }
                    }
                // Device-written tables replace their event slot; host fills keep it.
                const std::size_t slot = std::size_t(d * rank + s);
                if (c.bind != bind_kind::internal) {
                    EXPECT_EQ(p->events[slot] == before[slot], host_filled) << "slot " << slot;
                }
            }
    }
    p.reset();
    if (usm) sycl::free(usm, q);
}

class EsimdTables : public ::testing::TestWithParam<table_case> {};
TEST_P(EsimdTables, MatchTheFormulaInEveryLayout) {
    if (GetParam().single)
        check_tables<float>(GetParam());
    else
        check_tables<double>(GetParam());
}
std::vector<table_case> table_cases() {
    std::vector<table_case> v;
    for (auto b : {bind_kind::usm, bind_kind::buffer, bind_kind::internal}) {
        v.push_back({{64, 72}, true, b});
        v.push_back({{81, 4096}, true, b});
        v.push_back({{128, 64, 625}, false, b});
    }
    return v;
}
INSTANTIATE_TEST_SUITE_P(Binds, EsimdTables, ::testing::ValuesIn(table_cases()), table_name);

// ---- the generated codelets in a probe kernel, against a long-double DFT
template <typename T, int Dir>
void probe_codelet(int n) {
    sycl::queue q{sycl::gpu_selector_v};
    const int len = 64 * 16;
    T* x = sycl::malloc_shared<T>(len, q);
    std::mt19937 g(n);
    std::uniform_real_distribution<double> u(-1, 1);
    for (int i = 0; i < len; ++i) x[i] = T(u(g));
    std::vector<T> in(x, x + len);
    q.parallel_for(sycl::nd_range<1>(1, 1), [=](sycl::nd_item<1>) SYCL_ESIMD_KERNEL {
         esimd_detail::vec<T> v[64];
         for (int i = 0; i < n; ++i) v[i].copy_from(x + 16 * i);
         esimd_detail::fft_n<T, Dir>(n, v);
         for (int i = 0; i < n; ++i) v[i].copy_to(x + 16 * i);
     }).wait_and_throw();
    const long double pi = 3.14159265358979323846264338327950288L, sign = Dir == 0 ? -1 : 1;
    double err = 0, mag = 0;
    for (int lane = 0; lane < 8; ++lane)
        for (int k = 0; k < n; ++k) {
            std::complex<long double> acc = 0;
            for (int j = 0; j < n; ++j)
                acc += std::complex<long double>(in[16 * j + 2 * lane], in[16 * j + 2 * lane + 1]) *
                       std::polar(1.0L, sign * 2 * pi * j * k / n);
            err = ovx_test::worse(err, double(std::abs(acc - std::complex<long double>(x[16 * k + 2 * lane],
                                                                                 x[16 * k + 2 * lane + 1]))));
            mag = std::max(mag, double(std::abs(acc)));
        }
    EXPECT_LT(err / mag, (std::is_same_v<T, float> ? 2e-6 : 1e-14) * std::log2(n)) << n;
    sycl::free(x, q);
}

class EsimdCodelets : public ::testing::TestWithParam<int> {};
TEST_P(EsimdCodelets, BothPrecisionsAndDirections) {
    probe_codelet<float, 0>(GetParam());
    probe_codelet<float, 1>(GetParam());
    probe_codelet<double, 0>(GetParam());
    probe_codelet<double, 1>(GetParam());
}
INSTANTIATE_TEST_SUITE_P(Sizes, EsimdCodelets, ::testing::Values(8, 9, 10, 12, 16, 25, 32, 64),
                         [](const auto& i) { return "fft_" + std::to_string(i.param); });

}  // namespace
