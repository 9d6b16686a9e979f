// Offload commit and compute of descriptor nodes through interop objects:
// status table, numerics against FFTW, verbose lines and the interop caches.
#include <future>
#include <thread>

#include <ovx_serv.h>

#include "dft/node/ovx_dft_node.hpp"
#include "fftw/offload_support.hpp"
#include "gpu/ovx_omp_interop.hpp"
#include "korami/ovx/dfti_omp_offload.h"
#include "korami/ovx/fftw3_omp_offload.h"

namespace {

using namespace offload_test;
namespace kg = korami::ovx::gpu;

struct node_handle {
    DFTI_DESCRIPTOR* node = nullptr;
    ~node_handle() {
        if (node) {
            gpu_queue().wait();
            dfti_free_descriptor(&node);
        }
    }
};

// A 1D node of n points, complex or real, out of place when asked.
void make_node(node_handle& h, bool dbl, bool real, std::int64_t n, bool out_of_place) {
    const int domain = real ? DFTI_REAL : DFTI_COMPLEX;
    ASSERT_EQ(dbl ? dfti_create_descriptor_d_1d(&h.node, domain, n) : dfti_create_descriptor_s_1d(&h.node, domain, n), 0);
    if (real) {
        ASSERT_EQ(dfti_set_value(h.node, DFTI_PARAM_CONJUGATE_EVEN_STORAGE, (int)DFTI_COMPLEX_COMPLEX), 0);
    }
    if (out_of_place) {
        ASSERT_EQ(dfti_set_value(h.node, DFTI_PARAM_PLACEMENT, (int)DFTI_NOT_INPLACE), 0);
    }
}

// ---- numerics -----------------------------------------------------------------------

struct numeric_case {
    const char* name;
    int fr;
    bool dbl, real, out_of_place;
    std::int64_t n;
};

void PrintTo(const numeric_case& c, std::ostream* os) { *os << c.name; }

class OffloadNumerics : public ::testing::TestWithParam<numeric_case> {};

template <typename T>
void run_numeric(const numeric_case& c) {
    node_handle h;
    make_node(h, c.dbl, c.real, c.n, c.out_of_place);
    void* io = interop_for(c.fr);
    ASSERT_EQ(ovx_DftiCommitDescriptor_omp_offload(h.node, io), 0);
    const std::size_t n = c.n, h_len = n / 2 + 1;
    const std::size_t reals = c.real ? 2 * h_len : 2 * n;
    usm_array<T> a(reals), b(reals);
    std::vector<double> in(c.real ? n : 2 * n);
    fill_random(in.data(), in.size(), 7);
    std::copy(in.begin(), in.end(), a.data);
    T* out = c.out_of_place ? b.data : a.data;
    const std::vector<fftw_iodim64> dims{{c.n, 1, 1}};
    // Forward.
    ASSERT_EQ(ovx_DftiComputeForward_omp_offload(h.node, a.data, io, b.data), 0);
    wait_for(c.fr);
    auto ref = fftw_reference(c.real ? kind::r2c : kind::c2c_forward, dims, {}, in, reals, false);
    EXPECT_LE(relative_error(out, ref.data(), reals), tolerance<T>());
    // Backward of the forward result, from an exact copy of the reference.
    std::copy(ref.begin(), ref.end(), a.data);
    ASSERT_EQ(ovx_DftiComputeBackward_omp_offload(h.node, a.data, io, b.data), 0);
    wait_for(c.fr);
    auto back = fftw_reference(c.real ? kind::c2r : kind::c2c_backward, dims, {}, ref, c.real ? n : 2 * n, false);
    EXPECT_LE(relative_error(out, back.data(), back.size()), tolerance<T>());
}

TEST_P(OffloadNumerics, MatchesFftw) {
    const numeric_case& c = GetParam();
    if (c.dbl) run_numeric<double>(c);
    else run_numeric<float>(c);
}

INSTANTIATE_TEST_SUITE_P(
    Nodes, OffloadNumerics,
    ::testing::Values(numeric_case{"sycl_s_c2c_1024_outofplace", 4, false, false, true, 1024},
                      numeric_case{"opencl_s_c2c_1024_inplace", 3, false, false, false, 1024},
                      numeric_case{"opencl_d_c2c_1000_outofplace", 3, true, false, true, 1000},
                      numeric_case{"sycl_s_r2c_64_outofplace", 4, false, true, true, 64},
                      numeric_case{"opencl_d_r2c_64_inplace", 3, true, true, false, 64}),
    [](const auto& info) { return std::string(info.param.name); });

// A plan run through an OpenCL interop object is over once the caller's
// clFinish on the interop's command queue returns.
TEST(OffloadNumerics, OpenClInteropFinishesWithItsCommandQueue) {
    ovxplat::omp_interop io;
    ovxplat::omp_interop_for(io, gpu_queue(), 3);
    const int n = 1024;
    usm_array<float> a(2 * n), b(2 * n);
    std::vector<double> in(2 * n);
    fill_random(in.data(), in.size(), 11);
    std::copy(in.begin(), in.end(), a.data);
    ovx_fftw_plan p = fftwf_plan_dft_1d_omp_offload(n, reinterpret_cast<ovx_fftwf_complex*>(a.data),
                                                    reinterpret_cast<ovx_fftwf_complex*>(b.data), -1, 0, io.handle);
    ASSERT_NE(p, nullptr);
    fftwf_execute_omp_offload(p, io.handle);
    ASSERT_EQ(clFinish(static_cast<cl_command_queue>(io.desc.targetsync)), CL_SUCCESS);
    auto ref = fftw_reference(kind::c2c_forward, {{n, 1, 1}}, {}, in, 2 * n, false);
    EXPECT_LE(relative_error(b.data, ref.data(), 2 * n), tolerance<float>());
    release(p);
}

// ---- statuses ------------------------------------------------------------------------

// A committed single-precision complex node of 64 points.
struct committed_node : node_handle {
    explicit committed_node(bool out_of_place, int fr = 4) {
        make_node(*this, false, false, 64, out_of_place);
        EXPECT_EQ(ovx_DftiCommitDescriptor_omp_offload(node, interop_for(fr)), 0);
    }
};

TEST(OffloadCommit, RefusesBadNodesBeforeTheRuntime) {
    EXPECT_EQ(ovx_DftiCommitDescriptor_omp_offload(nullptr, nullptr), 5);
    DFTI_DESCRIPTOR* none = nullptr;
    EXPECT_EQ(ovx_dfti_commit_descriptor_external_omp_offload(&none, nullptr), 5);
    EXPECT_EQ(ovx_dfti_commit_descriptor_external_omp_offload(nullptr, nullptr), 5);
    node_handle h;
    make_node(h, false, true, 64, false);
    h.node->marker = 0;
    EXPECT_EQ(ovx_DftiCommitDescriptor_omp_offload(h.node, nullptr), 5);
    h.node->marker = DFTI_NODE_MARKER;
    h.node->conjugate_even_storage = DFTI_COMPLEX_REAL;
    EXPECT_EQ(ovx_DftiCommitDescriptor_omp_offload(h.node, nullptr), 3);
    h.node->conjugate_even_storage = DFTI_COMPLEX_COMPLEX;
    h.node->packed_format = DFTI_CCS_FORMAT;
    EXPECT_EQ(ovx_DftiCommitDescriptor_omp_offload(h.node, nullptr), 3);
    h.node->packed_format = DFTI_CCE_FORMAT;
    const dfti_method_table* methods = h.node->methods;
    dfti_method_table no_commit = *methods;
    no_commit.commit = nullptr;
    h.node->methods = &no_commit;
    EXPECT_EQ(ovx_DftiCommitDescriptor_omp_offload(h.node, nullptr), 7);
    h.node->methods = methods;
}

struct interop_fault {
    const char* name;
    int fr;
    int prop;  // 0: no fault
    intptr_t value;
    int rc;
    const char* line;
};

void PrintTo(const interop_fault& f, std::ostream* os) { *os << f.name; }

class OffloadInteropFaults : public ::testing::TestWithParam<interop_fault> {};

// Every entry turns a bad interop object into 83 and one line naming itself.
TEST_P(OffloadInteropFaults, GiveStatus83AndOneLine) {
    const interop_fault& f = GetParam();
    ovxplat::omp_interop io;
    ovxplat::omp_interop_for(io, gpu_queue(), f.fr);
    if (f.prop) ovxplat_omp_interop_set_result(io.handle, f.prop, f.value, f.rc);
    node_handle h;
    make_node(h, false, false, 64, false);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(ovx_DftiCommitDescriptor_omp_offload(h.node, io.handle), 83);
    std::string text = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(text, std::string("ovx_DftiCommitDescriptor_omp_offload: ") + f.line + "\n");
    committed_node good(false);
    usm_array<float> a(128);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(ovx_DftiComputeBackward_omp_offload(good.node, a.data, io.handle, nullptr), 83);
    text = ::testing::internal::GetCapturedStderr();
    std::string expected = std::string("ovx_DftiComputeBackward_omp_offload: ") + f.line + "\n";
    if (auto p = expected.find("openMP"); p != std::string::npos) expected.replace(p, 6, "OpenMP");
    EXPECT_EQ(text, expected);
}

#define OFFLOAD_LINE "An error specific to OpenMP offload was detected. Message: "
INSTANTIATE_TEST_SUITE_P(
    Interops, OffloadInteropFaults,
    ::testing::Values(
        interop_fault{"no_runtime_id", 4, -1, 0, -1, OFFLOAD_LINE "Failed to retrieve the required runtime id."},
        interop_fault{"runtime_id_5", 5, 0, 0, 0, OFFLOAD_LINE "Failed to retrieve the required queue for openMP offloading."},
        interop_fault{"null_sycl_queue", 4, -9, 0, 0, OFFLOAD_LINE "Failed to retrieve the required queue for openMP offloading."},
        interop_fault{"opencl_context_unreadable", 3, -8, 0, -2, OFFLOAD_LINE "Failed to retrieve the required queue for openMP offloading."},
        interop_fault{"level_zero_device_not_exposed", 3, -1, 6, 0,
                      "A sycl::exception was caught internally (code 8). Message: Native device isn't exposed to SYCL."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(OffloadCompute, RefusesArgumentsWithoutTouchingTheRuntime) {
    void* io = interop_for(4);
    usm_array<float> a(128), b(128);
    EXPECT_EQ(ovx_DftiComputeForward_omp_offload(nullptr, a.data, io, b.data), 5);
    node_handle uncommitted;
    make_node(uncommitted, false, false, 64, true);
    EXPECT_EQ(ovx_DftiComputeForward_omp_offload(uncommitted.node, a.data, io, b.data), 2);
    node_handle cpu;
    make_node(cpu, false, false, 64, true);
    ASSERT_EQ(dfti_commit_descriptor(cpu.node), 0);
    EXPECT_EQ(ovx_DftiComputeForward_omp_offload(cpu.node, a.data, io, b.data), 2);
    committed_node oop(true);
    EXPECT_EQ(ovx_DftiComputeForward_omp_offload(oop.node, nullptr, io, b.data), 3);
    EXPECT_EQ(ovx_DftiComputeForward_omp_offload(oop.node, a.data, io, nullptr), 3);
    oop.node->data_array_count = 4;
    void* parts[4] = {a.data, a.data + 64, b.data, b.data + 64};
    EXPECT_EQ(ovx_dfti_compute_forward_ssss_omp_offload(&oop.node, &parts[0], &parts[1], &parts[2], &parts[3], io), 6);
    EXPECT_EQ(ovx_dfti_compute_backward_dddd_omp_offload(&oop.node, &parts[0], &parts[1], &parts[2], &parts[3], io), 6);
    oop.node->data_array_count = 2;
}

TEST(OffloadCompute, RefusesHostAndForeignMemoryQuietly) {
    committed_node oop(true);
    void* io = interop_for(4);
    usm_array<float> a(128);
    std::vector<float> plain(128);
    float* host = sycl::malloc_host<float>(128, gpu_queue());
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(ovx_DftiComputeForward_omp_offload(oop.node, plain.data(), io, a.data), 3);
    EXPECT_EQ(ovx_DftiComputeForward_omp_offload(oop.node, host, io, a.data), 3);
    EXPECT_EQ(ovx_DftiComputeForward_omp_offload(oop.node, a.data, io, host), 3);
    EXPECT_EQ(ovx_DftiComputeForward_omp_offload(oop.node, a.data, io, plain.data()), 3);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    sycl::free(host, gpu_queue());
}

TEST(OffloadCompute, RefusesAQueueOfAnotherContext) {
    committed_node oop(true);
    sycl::context own{gpu_queue().get_device()};
    sycl::queue other{own, gpu_queue().get_device()};
    ASSERT_NE(other.get_context(), gpu_queue().get_context());
    ovxplat::omp_interop io;
    ovxplat::omp_interop_for(io, other, 4);
    usm_array<float> a(128), b(128);
    EXPECT_EQ(ovx_DftiComputeForward_omp_offload(oop.node, a.data, io.handle, b.data), 3);
    EXPECT_EQ(oop.node->queue, &gpu_queue());
}

// An impulse at index 1 transforms to e^(-+2 pi i k/n): the sign of the
// imaginary part of bin 1 tells the direction.
TEST(OffloadCompute, TypedFormsRunTheirDirection) {
    void* io = interop_for(4);
    committed_node ip(false), oop(true);
    usm_array<float> a(128), b(128);
    auto imag_of_bin1 = [&](auto call, bool out_of_place) {
        std::fill(a.data, a.data + 128, 0.0f);
        std::fill(b.data, b.data + 128, 0.0f);
        a.data[2] = 1.0f;
        EXPECT_EQ(call(), 0);
        gpu_queue().wait();
        return (out_of_place ? b.data : a.data)[3];
    };
    void* in = a.data;
    void* out = b.data;
    using fwd1 = std::int64_t (*)(DFTI_DESCRIPTOR**, void**, void*);
    using fwd2 = std::int64_t (*)(DFTI_DESCRIPTOR**, void**, void**, void*);
    for (fwd1 f : {ovx_dfti_compute_forward_c_omp_offload, ovx_dfti_compute_forward_s_omp_offload,
                   ovx_dfti_compute_forward_d_omp_offload, ovx_dfti_compute_forward_z_omp_offload})
        EXPECT_LT(imag_of_bin1([&] { return f(&ip.node, &in, io); }, false), 0);
    for (fwd1 f : {ovx_dfti_compute_backward_c_omp_offload, ovx_dfti_compute_backward_s_omp_offload,
                   ovx_dfti_compute_backward_d_omp_offload, ovx_dfti_compute_backward_z_omp_offload})
        EXPECT_GT(imag_of_bin1([&] { return f(&ip.node, &in, io); }, false), 0);
    for (fwd2 f : {ovx_dfti_compute_forward_cc_omp_offload, ovx_dfti_compute_forward_dd_omp_offload,
                   ovx_dfti_compute_forward_dz_omp_offload, ovx_dfti_compute_forward_sc_omp_offload,
                   ovx_dfti_compute_forward_ss_omp_offload, ovx_dfti_compute_forward_zz_omp_offload})
        EXPECT_LT(imag_of_bin1([&] { return f(&oop.node, &in, &out, io); }, true), 0);
    for (fwd2 f : {ovx_dfti_compute_backward_cc_omp_offload, ovx_dfti_compute_backward_cs_omp_offload,
                   ovx_dfti_compute_backward_dd_omp_offload, ovx_dfti_compute_backward_ss_omp_offload,
                   ovx_dfti_compute_backward_zd_omp_offload, ovx_dfti_compute_backward_zz_omp_offload})
        EXPECT_GT(imag_of_bin1([&] { return f(&oop.node, &in, &out, io); }, true), 0);
}

TEST(OffloadCompute, VerboseLinesSayAsynchronousAndModeTwoWaits) {
    committed_node ip(false);
    usm_array<float> a(128);
    int* mode = ovx_serv_verbose_mode();
    for (int m : {1, 2}) {
        gpu_queue().wait();
        std::fill(a.data, a.data + 128, 0.0f);
        a.data[0] = 1.0f;
        *mode = m;
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(ovx_DftiComputeForward_omp_offload(ip.node, a.data, interop_for(4), nullptr), 0);
        std::string text = ::testing::internal::GetCapturedStdout();
        EXPECT_NE(text.find("FFT(scfi64,"), std::string::npos) << text;
        EXPECT_NE(text.find("offload:asynchronous"), std::string::npos) << text;
        // An impulse transforms to all ones; in mode 2 it is there on return.
        if (m == 2) {
            for (int i = 0; i < 128; ++i) ASSERT_NEAR(a.data[i], i % 2 == 0 ? 1.0f : 0.0f, 1e-6f) << i;
        }
    }
    *mode = 0;
    gpu_queue().wait();
}

// A compute that throws in mode 2 is reported as a failure and leaves the
// thread's verbose output on: the next call still prints its line.
int throwing_compute(DFTI_DESCRIPTOR*, void*, void*, std::vector<sycl::event>*, const dfti_data_kind*, sycl::event*) {
    throw sycl::exception(sycl::make_error_code(sycl::errc::runtime), "device lost");
}

TEST(OffloadCompute, AThrowingComputeInModeTwoKeepsLaterVerboseLines) {
    committed_node ip(false);
    usm_array<float> a(128);
    std::fill(a.data, a.data + 128, 0.0f);
    int* mode = ovx_serv_verbose_mode();
    const dfti_compute_fn real = ip.node->compute_fwd;
    ip.node->compute_fwd = throwing_compute;
    *mode = 2;
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(ovx_DftiComputeForward_omp_offload(ip.node, a.data, interop_for(4), nullptr), DFTI_STATUS_OFFLOAD_FAILED);
    ::testing::internal::GetCapturedStdout();
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("device lost"), std::string::npos);
    ip.node->compute_fwd = real;
    *mode = 1;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(ovx_DftiComputeForward_omp_offload(ip.node, a.data, interop_for(4), nullptr), 0);
    const std::string text = ::testing::internal::GetCapturedStdout();
    *mode = 0;
    gpu_queue().wait();
    EXPECT_NE(text.find("FFT(scfi64,"), std::string::npos) << text;
}

// ---- caches ----------------------------------------------------------------------------

TEST(OffloadCaches, CommitsThroughOneNativeQueueStoreOneQueue) {
    committed_node first(false, 3), second(false, 3);
    EXPECT_EQ(first.node->queue, second.node->queue);
    EXPECT_EQ(kg::lookup_and_cache_qorel_queue_and_context(interop_for(3)), first.node->queue);
}

TEST(OffloadCaches, ContextKeyHoldsTheDevice) {
    void* native = sycl::get_native<sycl::backend::opencl>(gpu_queue().get_context());
    int device_a = 0, device_b = 0;
    sycl::context* a = kg::lookup_and_cache_qorel_context(native, &device_a, OVX_GPU_BACKEND_OPENCL, nullptr);
    sycl::context* b = kg::lookup_and_cache_qorel_context(native, &device_b, OVX_GPU_BACKEND_OPENCL, nullptr);
    EXPECT_NE(a, b);
    EXPECT_EQ(kg::lookup_and_cache_qorel_context(native, &device_a, OVX_GPU_BACKEND_OPENCL, nullptr), a);
    clReleaseContext(static_cast<cl_context>(native));
}

TEST(OffloadCaches, ConcurrentLookupsMakeOneEntry) {
    void* native = sycl::get_native<sycl::backend::opencl>(gpu_queue().get_context());
    int key = 0;
    std::vector<std::future<std::vector<sycl::context*>>> runs;
    for (int t = 0; t < 8; ++t)
        runs.push_back(std::async(std::launch::async, [&] {
            std::vector<sycl::context*> seen;
            for (int i = 0; i < 100; ++i)
                seen.push_back(kg::lookup_and_cache_qorel_context(native, &key, OVX_GPU_BACKEND_OPENCL, nullptr));
            return seen;
        }));
    sycl::context* first = nullptr;
    for (auto& r : runs)
        for (sycl::context* c : r.get()) {
            if (!first) first = c;
            EXPECT_EQ(c, first);
        }
    clReleaseContext(static_cast<cl_context>(native));
}

TEST(OffloadCaches, AThrowWhileCreatingReleasesTheCache) {
    sycl::device cpu{sycl::cpu_selector_v};
    int key = 0;
    EXPECT_THROW(kg::lookup_and_cache_qorel_context(&key, &key, OVX_GPU_BACKEND_LEVEL_ZERO, &cpu), sycl::exception);
    auto later = std::async(std::launch::async, [] {
        committed_node n(false, 3);
        return n.node->queue != nullptr;
    });
    ASSERT_EQ(later.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    EXPECT_TRUE(later.get());
}

TEST(OffloadCaches, LevelZeroSubDeviceAndHandleKind) {
    ovxplat::scoped_gpu_profile profile("quen6_l0_2tile");
    ASSERT_TRUE(profile.ok());
    sycl::device root{sycl::gpu_selector_v};
    auto tiles = root.create_sub_devices<sycl::info::partition_property::partition_by_affinity_domain>(
        sycl::info::partition_affinity_domain::next_partitionable);
    ASSERT_EQ(tiles.size(), 2u);
    sycl::queue tile_queue{tiles[1]};
    ovxplat::omp_interop io;
    ovxplat::omp_interop_for(io, tile_queue, 6);
    node_handle h;
    make_node(h, false, false, 64, false);
    ::testing::internal::CaptureStderr();
    ovx_DftiCommitDescriptor_omp_offload(h.node, io.handle);
    ::testing::internal::GetCapturedStderr();
    ASSERT_NE(h.node->queue, nullptr);
    EXPECT_EQ(h.node->queue->get_device(), tiles[1]);
    EXPECT_EQ(ovxplat::native_queue_kind(*h.node->queue), 0);
    // An immediate-list flag whose read fails makes a command-queue handle.
    sycl::queue other{tiles[0]};
    ovxplat::omp_interop io2;
    ovxplat::omp_interop_for(io2, other, 6);
    ovxplat_omp_interop_set_result(io2.handle, 10, 1, -2);
    sycl::queue* q = kg::lookup_and_cache_qorel_queue_and_context(io2.handle);
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(ovxplat::native_queue_kind(*q), 0);
    ovxplat::omp_interop io3;
    sycl::queue third{tiles[0]};
    ovxplat::omp_interop_for(io3, third, 6);
    ovxplat_omp_interop_set_result(io3.handle, 10, 1, 0);
    q = kg::lookup_and_cache_qorel_queue_and_context(io3.handle);
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(ovxplat::native_queue_kind(*q), 1);
    h.node->queue = nullptr;
}

TEST(OffloadInterop, ForcedStringPropertyIsWhatTheEntryAnswers) {
    ovxplat::omp_interop io;
    ovxplat::omp_interop_for(io, gpu_queue(), 3);
    static const char forced[] = "forced-name";
    ovxplat_omp_interop_set_result(io.handle, -2, reinterpret_cast<intptr_t>(forced), -5);
    int rc = 0;
    EXPECT_EQ(kg::omptarget_get_interop_str(io.handle, -2, &rc), forced);
    EXPECT_EQ(rc, -5);
}

TEST(OffloadCaches, UnreadableBackendIdGivesNoQueue) {
    ovxplat::omp_interop io;
    ovxplat::omp_interop_for(io, gpu_queue(), 3);
    ovxplat_omp_interop_set_result(io.handle, 8, 0, -2);
    EXPECT_EQ(kg::lookup_and_cache_qorel_queue_and_context(io.handle), nullptr);
}

}  // namespace
