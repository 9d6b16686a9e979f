// Explicit-SIMD two-factor plan through its own compute driver on the
// stand-in GPU: every stage role and factor pair against FFTW, both
// precisions and directions, USM and buffer data, in and out of place,
// library-held and caller-held workspaces.
#include <gtest/gtest.h>
#include <ovxplat/profile.h>
#include <ovxplat/sycl_standin.hpp>

#include <chrono>
#include <thread>

#include <sycl/sycl.hpp>

#include "../../../dft/gpu/esimd/ovx_dft_esimd_2_facts.hpp"
#include "dft/gpu/gpu_test_reference.hpp"

namespace {
using korami::ovx::dft::esimd_2_facts_plan;
using korami::ovx::dft::ovx_dft_gpu_dft_esimd_2_facts_compute;

enum class data_kind { usm, buffer };
enum class ws_kind { internal, caller };

struct shape_case {
    std::vector<std::int64_t> lengths;
    bool single;
    std::int64_t n = 1;
    data_kind data = data_kind::usm;
    bool in_place = false;
    ws_kind ws = ws_kind::internal;
    const char* profile = "quen6";
};

std::string case_text(const shape_case& c) {
    std::string s = c.single ? "s" : "d";
    for (auto l : c.lengths) s += "_" + std::to_string(l);
    s += "_n" + std::to_string(c.n) + (c.data == data_kind::usm ? "_usm" : "_buf") + (c.in_place ? "_inpl" : "_outpl") +
         (c.ws == ws_kind::internal ? "_int" : "_caller");
    if (std::string(c.profile) != "quen6") s += std::string("_") + c.profile;
    return s;
}
std::string case_name(const ::testing::TestParamInfo<shape_case>& i) { return case_text(i.param); }
void PrintTo(const shape_case& c, std::ostream* os) { *os << case_text(c); }

// FFTW of every transform of a packed batch (dimension 0 fastest).
std::vector<gpu_test::cplx> reference(const std::vector<gpu_test::cplx>& x, const std::vector<std::int64_t>& l,
                                      std::int64_t n, int sign, double scale) {
    std::vector<int> dims(l.rbegin(), l.rend());
    std::int64_t p = 1;
    for (auto v : l) p *= v;
    std::vector<gpu_test::cplx> in(x), out(x.size());
    fftw_plan f = fftw_plan_many_dft(int(dims.size()), dims.data(), int(n), reinterpret_cast<fftw_complex*>(in.data()),
                                     nullptr, 1, int(p), reinterpret_cast<fftw_complex*>(out.data()), nullptr, 1,
                                     int(p), sign, FFTW_ESTIMATE);
    fftw_execute(f);
    fftw_destroy_plan(f);
    for (auto& v : out) v *= scale;
    return out;
}

// Runs one direction of the plan on host data (interleaved reals).
template <int dir, typename T>
void run(esimd_2_facts_plan<T>& plan, sycl::queue& q, const shape_case& c, std::vector<T>& in, std::vector<T>& out) {
    if (c.data == data_kind::usm) {
        T* a = sycl::malloc_device<T>(in.size(), q);
        T* b = c.in_place ? a : sycl::malloc_device<T>(in.size(), q);
        q.memcpy(a, in.data(), in.size() * sizeof(T)).wait();
        std::vector<sycl::event> deps;
        ovx_dft_gpu_dft_esimd_2_facts_compute<dir, T>(plan, a, b, deps).wait_and_throw();
        q.memcpy(out.data(), b, out.size() * sizeof(T)).wait();
        sycl::free(a, q);
        if (!c.in_place) sycl::free(b, q);
    } else {
        {
            sycl::buffer<T, 1> a(in.data(), sycl::range<1>(in.size()));
            if (c.in_place) {
                ovx_dft_gpu_dft_esimd_2_facts_compute<dir, T>(plan, a, a);
            } else {
                sycl::buffer<T, 1> b(out.data(), sycl::range<1>(out.size()));
                ovx_dft_gpu_dft_esimd_2_facts_compute<dir, T>(plan, a, b);
            }
            q.wait_and_throw();
        }
        if (c.in_place) out = in;
    }
}

template <typename T>
void check_shape(const shape_case& c) {
    ovxplat_gpu_profile_select(c.profile);
    sycl::queue q{sycl::gpu_selector_v};
    const auto& l = c.lengths;
    std::int64_t p = 1;
    for (auto v : l) p *= v;
    const std::int64_t strides[3] = {1, l[0], l[0] * (l.size() > 1 ? l[1] : 1)};
    esimd_2_facts_plan<T> plan(l, T(1.0 / double(p)), c.n, p, p, strides, strides, false);
    plan.set_fwd_scale(T(0.5));
    plan.set_use_internal_workspaces(c.ws == ws_kind::internal);
    ASSERT_EQ(plan.commit(&q), 0);
    void* ws = nullptr;
    std::optional<sycl::buffer<char, 1>> wbuf;
    if (c.ws == ws_kind::caller) {
        const auto bytes = std::size_t(plan.workspace_bytes(0));
        if (c.data == data_kind::usm) {
            ws = sycl::malloc_device(bytes, q);
            plan.set_workspace(ws, 2, nullptr, 0);
        } else {
            wbuf.emplace(sycl::range<1>(bytes));
            plan.set_workspace(*wbuf, 2, nullptr, 0);
        }
    }
    ASSERT_EQ(plan.workspace_rebind_needed(c.data == data_kind::usm ? 0 : 1), 0);

    const auto x = gpu_test::random_data<T>(std::size_t(p * c.n), 7);
    std::vector<T> in(reinterpret_cast<const T*>(x.data()), reinterpret_cast<const T*>(x.data() + x.size()));
    std::vector<T> out(in.size()), back(in.size());
    const auto xin = gpu_test::widen(x);
    const double tol = gpu_test::tolerance(c.single, p);
    run<0>(plan, q, c, in, out);
    EXPECT_LT(gpu_test::rel_err(gpu_test::as_cplx(out), reference(xin, l, c.n, FFTW_FORWARD, 0.5)), tol) << "forward";
    // Backward of the forward result: P * 0.5 * (1 / P) times the input.
    std::vector<T> fwd_out = out;
    run<1>(plan, q, c, fwd_out, back);
    std::vector<gpu_test::cplx> half(xin);
    for (auto& v : half) v *= 0.5;
    EXPECT_LT(gpu_test::rel_err(gpu_test::as_cplx(back), half), 2 * tol) << "backward";
    if (ws) {
        plan.delete_internal_allocations(2);
        sycl::free(ws, q);
    }
    ovxplat_gpu_profile_select("quen6");
}

class EsimdShapes : public ::testing::TestWithParam<shape_case> {};

TEST_P(EsimdShapes, ForwardMatchesFftwAndBackwardRestores) {
    if (GetParam().single)
        check_shape<float>(GetParam());
    else
        check_shape<double>(GetParam());
}

// Every stage length in each role: stage 0 (contiguous lines), later
// stages column-batched, and later stages on strided single lines (4096 in
// single precision; 2048 / 1024 where the local memory is 64 KiB). Data
// kind, placement, workspace owner and batch count rotate over the cases.
std::vector<shape_case> shapes() {
    std::vector<shape_case> v;
    const std::vector<std::int64_t> c = {64, 72, 80, 81, 90, 96, 100, 108, 120, 128, 144, 160, 192, 256, 400, 512, 625,
                                         800, 1024, 2048};
    for (auto l1 : c)
        if (l1 != 400) v.push_back({{64, l1}, true});
    for (std::int64_t l0 : {128, 256, 512, 1024, 2048}) v.push_back({{l0, 64}, true});
    v.push_back({{1024, 1024}, true});
    for (std::int64_t l0 : {81, 90, 100, 108, 225, 250, 300, 625}) v.push_back({{l0, 4096}, true});
    for (std::int64_t l2 : {72, 400, 800}) v.push_back({{64, 64, l2}, true});
    v.push_back({{64, 4096, 64}, true});
    const std::int64_t l0s[] = {64, 128, 256, 512, 1024};
    int k = 0;
    for (auto l1 : c)
        if (l1 <= 512 || l1 == 1024) v.push_back({{l0s[k++ % 5], l1}, false});
    for (std::int64_t l2 : {81, 625, 1024}) v.push_back({{64, 64, l2}, false});
    v.push_back({{64, 2048}, true, 1, data_kind::usm, false, ws_kind::internal, "quen5"});
    v.push_back({{64, 1024}, false, 1, data_kind::buffer, false, ws_kind::caller, "quen5"});
    for (std::size_t i = 0; i < v.size(); ++i) {
        auto& s = v[i];
        std::int64_t p = 1;
        for (auto l : s.lengths) p *= l;
        if (std::string(s.profile) != "quen6") continue;
        s.data = i % 2 ? data_kind::buffer : data_kind::usm;
        s.in_place = (i / 2) % 2;
        s.ws = (i / 4) % 2 ? ws_kind::caller : ws_kind::internal;
        s.n = (i % 3 == 0 && p <= (1 << 20)) ? 3 : 1;
    }
    return v;
}
INSTANTIATE_TEST_SUITE_P(Plan, EsimdShapes, ::testing::ValuesIn(shapes()), case_name);

// ---- launches, chunks and ordering, on USM data the test fills itself
struct usm_run {
    sycl::queue q{sycl::gpu_selector_v};
    std::vector<std::int64_t> l;
    std::int64_t n, p = 1;
    std::vector<float> host;
    float* in = nullptr;
    float* out = nullptr;
    usm_run(std::vector<std::int64_t> lens, std::int64_t count) : l(std::move(lens)), n(count) {
        for (auto v : l) p *= v;
        const auto x = gpu_test::random_data<float>(std::size_t(p * n), 11);
        host.assign(reinterpret_cast<const float*>(x.data()), reinterpret_cast<const float*>(x.data() + x.size()));
        in = sycl::malloc_device<float>(host.size(), q);
        out = sycl::malloc_device<float>(host.size(), q);
        q.memset(in, 0, host.size() * sizeof(float)).wait();
    }
    ~usm_run() {
        sycl::free(in, q);
        sycl::free(out, q);
    }
    std::unique_ptr<esimd_2_facts_plan<float>> plan() {
        const std::int64_t s[3] = {1, l[0], l[0] * l[1]};
        auto pl = std::make_unique<esimd_2_facts_plan<float>>(l, 1.f, n, p, p, s, s, false);
        EXPECT_EQ(pl->commit(&q), 0);
        return pl;
    }
    // A host task that fills the input only after a while: work that runs
    // before it (a missing dependency) sees zeros.
    sycl::event late_input() {
        float* dst = in;
        const float* src = host.data();
        const std::size_t bytes = host.size() * sizeof(float);
        return q.submit([&](sycl::handler& h) {
            h.host_task([=] {
                std::this_thread::sleep_for(std::chrono::milliseconds(30));
                std::memcpy(dst, src, bytes);
            });
        });
    }
    double error() {
        std::vector<float> got(host.size());
        q.memcpy(got.data(), out, got.size() * sizeof(float)).wait();
        return gpu_test::rel_err(gpu_test::as_cplx(got), reference(gpu_test::as_cplx(host), l, n, FFTW_FORWARD, 1.0));
    }
};

struct launch_case {
    const char* name;
    std::vector<std::int64_t> l;
    std::int64_t n;
    const char* profile;
    std::uint64_t launches;
};
class EsimdLaunches : public ::testing::TestWithParam<launch_case> {};
TEST_P(EsimdLaunches, OnePerStageAndChunk) {
    const auto& c = GetParam();
    ovxplat_gpu_profile_select(c.profile);
    {
        usm_run r(c.l, c.n);
        auto plan = r.plan();
        r.q.memcpy(r.in, r.host.data(), r.host.size() * sizeof(float)).wait();
        std::vector<sycl::event> deps;
        const auto before = ovxplat::get_sycl_counters().host_kernel_launches;
        ovx_dft_gpu_dft_esimd_2_facts_compute<0, float>(*plan, r.in, r.out, deps).wait();
        EXPECT_EQ(ovxplat::get_sycl_counters().host_kernel_launches - before, c.launches);
        EXPECT_LT(r.error(), gpu_test::tolerance(true, r.p));
    }
    ovxplat_gpu_profile_select("quen6");
}
INSTANTIATE_TEST_SUITE_P(Chunks, EsimdLaunches,
                         ::testing::Values(launch_case{"TwoChunks_2048x2048_n3", {2048, 2048}, 3, "quen6", 4},
                                           launch_case{"OneChunk_256x512_n1", {256, 512}, 1, "quen5", 2}),
                         [](const auto& i) { return std::string(i.param.name); });

// Buffer data beyond the reach of 32-bit accessor offsets run each chunk on
// sub-buffers from its first transform. The reach is lowered here so that
// two chunks of a small batch take that path, out of place and in place.
class EsimdBufferWindows : public ::testing::TestWithParam<bool> {
protected:
    void TearDown() override { korami::ovx::dft::esimd_buffer_window_threshold() = std::uint64_t(1) << 32; }
};
TEST_P(EsimdBufferWindows, ChunksOnSubBuffersMatchFftw) {
    const bool in_place = GetParam();
    usm_run r({2048, 2048}, 3);
    auto plan = r.plan();
    ASSERT_LT(plan->transforms_per_launch, r.n);  // more than one chunk
    korami::ovx::dft::esimd_buffer_window_threshold() = 0;
    std::vector<float> in = r.host, out(r.host.size());
    {
        sycl::buffer<float, 1> a(in.data(), sycl::range<1>(in.size()));
        sycl::buffer<float, 1> b(out.data(), sycl::range<1>(out.size()));
        ovx_dft_gpu_dft_esimd_2_facts_compute<0, float>(*plan, a, in_place ? a : b);
        r.q.wait_and_throw();
    }
    const std::vector<float>& got = in_place ? in : out;
    EXPECT_LT(gpu_test::rel_err(gpu_test::as_cplx(got), reference(gpu_test::as_cplx(r.host), r.l, r.n, FFTW_FORWARD, 1.0)),
              gpu_test::tolerance(true, r.p));
}
INSTANTIATE_TEST_SUITE_P(Placement, EsimdBufferWindows, ::testing::Bool(),
                         [](const auto& i) { return std::string(i.param ? "InPlace" : "OutOfPlace"); });

TEST(EsimdOrdering, FirstLaunchWaitsForTheCallersEvents) {
    usm_run r({64, 128}, 2);
    auto plan = r.plan();
    std::vector<sycl::event> deps{r.late_input()};
    ovx_dft_gpu_dft_esimd_2_facts_compute<0, float>(*plan, r.in, r.out, deps).wait();
    EXPECT_LT(r.error(), gpu_test::tolerance(true, r.p));
}

TEST(EsimdOrdering, NoLaunchForAnEmptyBatch) {
    usm_run r({64, 64}, 1);
    auto plan = r.plan();
    plan->n_transforms = 0;
    std::vector<sycl::event> deps{r.late_input()};
    const auto before = ovxplat::get_sycl_counters().host_kernel_launches;
    sycl::event e = ovx_dft_gpu_dft_esimd_2_facts_compute<0, float>(*plan, r.in, r.out, deps);
    EXPECT_EQ(e.get_info<sycl::info::event::command_execution_status>(), sycl::info::event_command_status::complete);
    EXPECT_EQ(ovxplat::get_sycl_counters().host_kernel_launches, before);
    r.q.wait();
}

// Rebinding or destroying the plan while a compute still reads its
// internal tables waits for the compute before the memory goes.
TEST(EsimdOrdering, RebindAndDestroyWhileAComputeRuns) {
    usm_run r({128, 64}, 1);
    void* ws = nullptr;
    {
        auto plan = r.plan();
        std::vector<sycl::event> deps{r.late_input()};
        auto e = ovx_dft_gpu_dft_esimd_2_facts_compute<0, float>(*plan, r.in, r.out, deps);
        ws = sycl::malloc_device(std::size_t(plan->workspace_bytes(0)), r.q);
        plan->set_workspace(ws, 2, nullptr, 0);
        e.wait();
        EXPECT_LT(r.error(), gpu_test::tolerance(true, r.p)) << "rebind";
        r.q.memset(r.out, 0, r.host.size() * sizeof(float)).wait();
        deps = {r.late_input()};
        ovx_dft_gpu_dft_esimd_2_facts_compute<0, float>(*plan, r.in, r.out, deps);
    }
    r.q.wait();
    EXPECT_LT(r.error(), gpu_test::tolerance(true, r.p)) << "destroy";
    sycl::free(ws, r.q);
}

}  // namespace
