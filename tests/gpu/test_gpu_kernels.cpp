// The kernel cache on the platform's OpenCL device: programs built once per
// key, concurrent requests, build failures with their log, the fp64 refusal,
// kernels from prebuilt binaries, and the verbose lines of GPU calls.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <ovx_serv.h>
#include <ovxplat/profile.h>
#include <ovxplat/sycl_standin.hpp>

#include "gpu/ovx_gpu.hpp"
#include "gpu/ovx_gpu_testing.hpp"
#include "ovx_test_gpu.hpp"

namespace {

namespace gpu = korami::ovx::gpu;


const char* const add_source =
    "__kernel void add_value(__global int* p) { p[get_global_id(0)] += VALUE; }\n"
    "__kernel void set_value(__global int* p) { p[get_global_id(0)] = VALUE; }\n";

using ovx_test::gpu_queue;

// Runs `k` over n ints starting from `init` and returns them.
std::vector<int> run(sycl::kernel& k, int n, int init) {
    sycl::queue& q = gpu_queue();
    int* p = sycl::malloc_shared<int>(n, q);
    for (int i = 0; i < n; ++i) p[i] = init;
    q.submit([&](sycl::handler& h) {
        h.set_arg(0, p);
        h.parallel_for(sycl::range<1>(n), k);
    });
    q.wait_and_throw();
    std::vector<int> out(p, p + n);
    sycl::free(p, q);
    return out;
}

struct kernel_deleter {
    void operator()(sycl::kernel* k) const {
        int status = 0;
        gpu::release_kernel_obj(&status, k);
    }
};
using kernel_ptr = std::unique_ptr<sycl::kernel, kernel_deleter>;

kernel_ptr get(const char* program, const char* kernel, const char* options,
               const char* source = add_source, int* status_out = nullptr) {
    int status = 0;
    kernel_ptr k(gpu::get_OCL_kernel_by_progname(&status, &gpu_queue(), gpu::domain_dft, program,
                                                 source, kernel, options));
    if (status_out) *status_out = status;
    return k;
}

const char* const double_source =
    "#pragma OPENCL EXTENSION cl_khr_fp64 : enable\n"
    "__kernel void twice_d(__global double* p) { p[get_global_id(0)] *= 2.0; }\n";

void fp64_refusal_child() {
    ovxplat::select_gpu_profile("quen5_nofp64");
    sycl::queue q{sycl::gpu_selector_v};
    int status = 0;
    int failures = 0;
    try {
        sycl::kernel* k = gpu::get_OCL_kernel_by_progname(&status, &q, 2, "twice.fp64",
                                                          double_source, "twice_d", "");
        gpu::release_kernel_obj(nullptr, k);
        ++failures;
    } catch (const sycl::exception& e) {
        std::string m = e.what();
        fprintf(stderr, "%s\n", m.c_str());
        const std::string want = std::string("error: double type is not supported on this device: '") +
                                 ovxplat_gpu_profile_find("quen5_nofp64")->device_name +
                                 "' kernel 'twice_d'";
        if (m.find(want) == std::string::npos) ++failures;
        if (m.rfind("OpenCL error ", 0) != 0) ++failures;
    }
    if (status == 0) ++failures;
    fprintf(stderr, "failures=%d\n", failures);
    exit(failures == 0 ? 0 : 1);
}

TEST(KernelCache, BuildsOncePerProgramNameAndOptions) {
    OVX_REQUIRE_OPENCL();
    const auto s0 = gpu::get_kernel_cache_stats();
    int status = 0;
    kernel_ptr a = get("add.cache_once", "add_value", "-DVALUE=3 ", add_source, &status);
    ASSERT_TRUE(a);
    EXPECT_EQ(status, 0);
    const auto s1 = gpu::get_kernel_cache_stats();
    EXPECT_EQ(s1.programs_built, s0.programs_built + 1);

    // Same key again, and another kernel of the same program: no build.
    kernel_ptr b = get("add.cache_once", "add_value", "-DVALUE=3 ");
    kernel_ptr c = get("add.cache_once", "set_value", "-DVALUE=3 ");
    const auto s2 = gpu::get_kernel_cache_stats();
    EXPECT_EQ(s2.programs_built, s1.programs_built);
    EXPECT_EQ(s2.cache_hits, s1.cache_hits + 2);
    EXPECT_EQ(s2.kernels_created, s1.kernels_created + 2);
    EXPECT_NE(a.get(), b.get());  // each caller owns its own kernel object

    // Different options or another program name: a program of its own.
    kernel_ptr d = get("add.cache_once", "add_value", "-DVALUE=5 ");
    kernel_ptr e = get("add.cache_other", "add_value", "-DVALUE=3 ");
    const auto s3 = gpu::get_kernel_cache_stats();
    EXPECT_EQ(s3.programs_built, s2.programs_built + 2);
    EXPECT_EQ(s3.programs_cached, s2.programs_cached + 2);

    // The options reach the program.
    EXPECT_EQ(run(*a, 64, 10), std::vector<int>(64, 13));
    EXPECT_EQ(run(*b, 64, 10), std::vector<int>(64, 13));
    EXPECT_EQ(run(*c, 64, 10), std::vector<int>(64, 3));
    EXPECT_EQ(run(*d, 64, 10), std::vector<int>(64, 15));
    EXPECT_EQ(run(*e, 17, -3), std::vector<int>(17, 0));
}

TEST(KernelCache, ConcurrentRequestsBuildOnce) {
    OVX_REQUIRE_OPENCL();
    const auto s0 = gpu::get_kernel_cache_stats();
    constexpr int threads = 8;
    std::vector<sycl::kernel*> kernels(threads, nullptr);
    std::vector<int> statuses(threads, 0);
    std::atomic<int> ready{0};
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) {
        pool.emplace_back([&, t] {
            sycl::queue mine{gpu_queue().get_context(), gpu_queue().get_device()};
            ++ready;
            while (ready.load() < threads) {
            }
            kernels[t] = gpu::get_OCL_kernel_by_progname(&statuses[t], &mine, 2, "add.concurrent",
                                                         add_source, "add_value", "-DVALUE=7 ");
        });
    }
    for (auto& t : pool) t.join();
    const auto s1 = gpu::get_kernel_cache_stats();
    EXPECT_EQ(s1.programs_built, s0.programs_built + 1);
    EXPECT_EQ(s1.cache_hits, s0.cache_hits + threads - 1);
    EXPECT_EQ(s1.kernels_created, s0.kernels_created + threads);
    for (int t = 0; t < threads; ++t) {
        ASSERT_NE(kernels[t], nullptr);
        EXPECT_EQ(statuses[t], 0);
        EXPECT_EQ(run(*kernels[t], 8, t), std::vector<int>(8, t + 7));
        gpu::release_kernel_obj(nullptr, kernels[t]);
    }
}

TEST(KernelCache, FailedBuildReportsNumberAndLog) {
    OVX_REQUIRE_OPENCL();
    const char* broken = "__kernel void broken(__global int* p) { p[0] = undeclared_thing; }\n";
    for (int attempt = 0; attempt < 2; ++attempt) {  // failures are not cached
        const auto s0 = gpu::get_kernel_cache_stats();
        int status = 0;
        try {
            gpu::get_OCL_kernel_by_progname(&status, &gpu_queue(), 2, "broken.ovx_test", broken,
                                            "broken", "-DX=1 ");
            FAIL() << "no exception";
        } catch (const sycl::exception& e) {
            std::string m = e.what();
            EXPECT_EQ(m.rfind("OpenCL error -11: ", 0), 0u) << m;
            EXPECT_NE(m.find("DFT library program \"broken.ovx_test\" failed to build"), std::string::npos) << m;
            EXPECT_NE(m.find("-DX=1"), std::string::npos) << m;
            EXPECT_NE(m.find("build log:\n"), std::string::npos) << m;
            EXPECT_NE(m.find("undeclared_thing"), std::string::npos) << m;  // the driver's log
            EXPECT_EQ(e.code(), sycl::make_error_code(sycl::errc::build));
        }
        EXPECT_EQ(status, -11);
        const auto s1 = gpu::get_kernel_cache_stats();
        EXPECT_EQ(s1.builds_failed, s0.builds_failed + 1);
        EXPECT_EQ(s1.programs_cached, s0.programs_cached);
    }
}

TEST(KernelCache, MissingKernelAndBadArguments) {
    OVX_REQUIRE_OPENCL();
    int status = 0;
    try {
        get("add.cache_once", "no_such_kernel", "-DVALUE=3 ", add_source, &status);
        FAIL() << "no exception";
    } catch (const sycl::exception& e) {
        std::string m = e.what();
        EXPECT_EQ(m.rfind("OpenCL error -46: ", 0), 0u) << m;
        EXPECT_NE(m.find("no_such_kernel"), std::string::npos) << m;
    }
    status = 0;
    EXPECT_THROW(gpu::get_OCL_kernel_by_progname(&status, nullptr, 2, "p", add_source, "k", ""),
                 sycl::exception);
    EXPECT_EQ(status, -30);
    status = 0;
    EXPECT_THROW(gpu::get_OCL_kernel_by_progname(&status, &gpu_queue(), 2, "p", nullptr, "k", ""),
                 sycl::exception);
    EXPECT_EQ(status, -30);
    // Null options count as none; null status and null kernel are allowed.
    sycl::kernel* k = gpu::get_OCL_kernel_by_progname(nullptr, &gpu_queue(), 2, "add.nullopt",
                                                      "__kernel void z(__global int* p) { p[0] = 0; }",
                                                      "z", nullptr);
    ASSERT_NE(k, nullptr);
    gpu::release_kernel_obj(nullptr, k);
    gpu::release_kernel_obj(&status, nullptr);
}

TEST(KernelCacheDeathTest, DoubleKernelOnADeviceWithoutFp64) {
    OVX_REQUIRE_OPENCL();
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // fresh process
    EXPECT_EXIT(fp64_refusal_child(), ::testing::ExitedWithCode(0), "failures=0");
}

// Devices that share one OpenCL device (profiles of the platform) still get
// programs of their own: the second build is refused for want of fp64.
TEST(KernelCache, SameKeyOnAnotherDeviceIsBuiltForThatDevice) {
    OVX_REQUIRE_OPENCL();
    int status = 0;
    kernel_ptr k(gpu::get_OCL_kernel_by_progname(&status, &gpu_queue(), 2, "twice.per_device",
                                                 double_source, "twice_d", ""));
    ASSERT_TRUE(k);
    ovxplat::scoped_gpu_profile no_fp64("quen5_nofp64");
    ASSERT_TRUE(no_fp64.ok());
    sycl::queue q5{sycl::gpu_selector_v};
    ASSERT_FALSE(q5.get_device() == gpu_queue().get_device());
    const auto s0 = gpu::get_kernel_cache_stats();
    EXPECT_THROW(gpu::get_OCL_kernel_by_progname(&status, &q5, 2, "twice.per_device", double_source,
                                                 "twice_d", ""),
                 sycl::exception);
    EXPECT_EQ(gpu::get_kernel_cache_stats().builds_failed, s0.builds_failed + 1);
    // A float kernel builds there, apart from the first device's program.
    kernel_ptr f(gpu::get_OCL_kernel_by_progname(&status, &q5, 2, "add.cache_once", add_source,
                                                 "add_value", "-DVALUE=3 "));
    ASSERT_TRUE(f);
    EXPECT_EQ(gpu::get_kernel_cache_stats().programs_built, s0.programs_built + 1);
}

// ---- prebuilt binaries -------------------------------------------------------

// The device binary of add_source built with VALUE=4, fetched from the driver.
std::vector<unsigned char> device_binary() {
    sycl::queue& q = gpu_queue();
    cl_context ctx = sycl::get_native<sycl::backend::opencl>(q.get_context());
    cl_device_id dev = sycl::get_native<sycl::backend::opencl>(q.get_device());
    cl_int err = 0;
    const char* text = add_source;
    cl_program p = clCreateProgramWithSource(ctx, 1, &text, nullptr, &err);
    EXPECT_EQ(err, CL_SUCCESS);
    EXPECT_EQ(clBuildProgram(p, 1, &dev, "-DVALUE=4", nullptr, nullptr), CL_SUCCESS);
    size_t size = 0;
    EXPECT_EQ(clGetProgramInfo(p, CL_PROGRAM_BINARY_SIZES, sizeof size, &size, nullptr), CL_SUCCESS);
    std::vector<unsigned char> bin(size);
    unsigned char* ptr = bin.data();
    EXPECT_EQ(clGetProgramInfo(p, CL_PROGRAM_BINARIES, sizeof ptr, &ptr, nullptr), CL_SUCCESS);
    clReleaseProgram(p);
    clReleaseContext(ctx);
    return bin;
}

TEST(BinaryKernels, CachedRecordPerKernel) {
    OVX_REQUIRE_OPENCL();
    std::vector<unsigned char> bin = device_binary();
    ASSERT_FALSE(bin.empty());
    ovx_gpu_binary_kernel_t d{bin.size(), bin.data(), 0, nullptr};
    const auto s0 = gpu::get_kernel_cache_stats();
    int status = 0;
    ovx_gpu_kernel_struct_t* r = gpu::get_binary_kernel(&status, &gpu_queue(), 2, &d, "add_value");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(r->state, 1u);
    ASSERT_NE(r->kernel, nullptr);
    EXPECT_EQ(run(*r->kernel, 32, 1), std::vector<int>(32, 5));
    // Same kernel again: the same record; another kernel: same program.
    EXPECT_EQ(gpu::get_binary_kernel(&status, &gpu_queue(), 2, &d, "add_value"), r);
    // A copy of the bytes at another address is the same binary.
    std::vector<unsigned char> copy = bin;
    ovx_gpu_binary_kernel_t d2{copy.size(), copy.data(), 0, ""};
    ovx_gpu_kernel_struct_t* r2 = gpu::get_binary_kernel(&status, &gpu_queue(), 2, &d2, "set_value");
    ASSERT_NE(r2, nullptr);
    EXPECT_NE(r2, r);
    EXPECT_EQ(run(*r2->kernel, 5, 1), std::vector<int>(5, 4));
    const auto s1 = gpu::get_kernel_cache_stats();
    EXPECT_EQ(s1.binaries_built, s0.binaries_built + 1);
    EXPECT_EQ(status, 0);
}

TEST(BinaryKernels, RefusalsGiveAStatusNotAnException) {
    OVX_REQUIRE_OPENCL();
    std::vector<unsigned char> bin = device_binary();
    int status = 0;
    std::vector<unsigned char> junk(256, 0x5A);
    const ovx_gpu_binary_kernel_t d{bin.size(), bin.data(), 0, nullptr}, refused{junk.size(), junk.data(), 0, nullptr},
        carrier{bin.size(), bin.data(), 5, "dummy"}, empty{0, nullptr, 0, nullptr};
    struct row { const char* what; const ovx_gpu_binary_kernel_t* d; sycl::queue* q; const char* kernel; };
    const row rows[] = {{"kernel not in the binary", &d, &gpu_queue(), "nothing"},
                        {"bytes the driver refuses", &refused, &gpu_queue(), "add_value"},
                        {"carrier-packed binary", &carrier, &gpu_queue(), "add_value"},
                        {"empty binary", &empty, &gpu_queue(), "add_value"},
                        {"no queue", &d, nullptr, "add_value"}};
    for (const row& r : rows) {
        status = 0;
        EXPECT_EQ(gpu::get_binary_kernel(&status, r.q, 2, r.d, r.kernel), nullptr) << r.what;
        EXPECT_NE(status, 0) << r.what;
    }
    EXPECT_EQ(gpu::get_binary_kernel(&status, &gpu_queue(), 2, &d, "nothing"), nullptr);
    EXPECT_EQ(status, CL_INVALID_KERNEL_NAME);
    EXPECT_EQ(gpu::get_binary_kernel(nullptr, &gpu_queue(), 2, nullptr, "add_value"), nullptr);
}

// ---- binary probe --------------------------------------------------------------

// The platform's OpenCL driver takes no hand-made GPU binaries: the probe
// answers no, once per device, without a failure status.
TEST(BinaryProbe, AnsweredOncePerDevice) {
    OVX_REQUIRE_OPENCL();
    int status = 0;
    EXPECT_FALSE(gpu::have_binary_kernels(&status, &gpu_queue()));
    EXPECT_EQ(status, 0);
    const auto s0 = gpu::get_kernel_cache_stats();
    EXPECT_FALSE(gpu::have_binary_kernels(&status, &gpu_queue()));
    EXPECT_EQ(status, 0);
    const auto s1 = gpu::get_kernel_cache_stats();
    EXPECT_EQ(s1.binaries_built + s1.binaries_failed, s0.binaries_built + s0.binaries_failed);
    EXPECT_FALSE(gpu::have_binary_kernels(&status, nullptr));
    EXPECT_NE(status, 0);
}

// ---- verbose lines -------------------------------------------------------------

std::string read_file(const std::string& path) {
    std::ifstream f(path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

int count_of(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

void verbose_child() {
    char path[] = "/tmp/ovx_gpu_verbose_XXXXXX";
    int fd = mkstemp(path);
    close(fd);
    setenv("OVXPLAT_VERBOSE", "1", 1);
    setenv("OVXPLAT_VERBOSE_OUTPUT", path, 1);
    ovxplat_serv_reload_environment();
    sycl::queue q{sycl::gpu_selector_v};
    gpu::print_verbose_gpu_info(&q, "first call", 0.0);
    gpu::print_verbose_gpu_info(&q, "second call", 0.25);
    gpu::verbose_depth_inc();
    gpu::print_verbose_gpu_info(&q, "nested call", 0.0);  // not printed
    std::thread([&] { gpu::print_verbose_gpu_info(&q, "other thread", 0.0); }).join();
    gpu::verbose_depth_dec();
    *ovx_serv_verbose_mode() = 0;
    gpu::print_verbose_gpu_info(&q, "quiet call", 0.0);  // not printed
    *ovx_serv_verbose_mode() = 1;
    setenv("OVXPLAT_VERBOSE_OUTPUT", "", 1);
    ovxplat_serv_reload_environment();  // closes the file
    std::string out = read_file(path);
    unlink(path);
    const ovxplat_gpu_profile* p = ovxplat_gpu_profile_current();
    char detected[512];
    snprintf(detected, sizeof detected,
             "OVX_VERBOSE Detected GPU0 %s Backend:OpenCL VE:%u Stack:%u maxWGsize:%llu\n",
             p->device_name, p->eu_count, p->tile_count == 0 ? 1u : p->tile_count,
             static_cast<unsigned long long>(p->max_work_group_size));
    int failures = 0;
    if (count_of(out, "Detected GPU") != 1) ++failures;
    if (out.rfind(detected, 0) != 0) ++failures;  // first line
    if (count_of(out, "OVX_VERBOSE first call ") != 1) ++failures;
    if (count_of(out, "OVX_VERBOSE second call ") != 1) ++failures;
    if (count_of(out, "other thread") != 1) ++failures;
    if (out.find("nested call") != std::string::npos) ++failures;
    if (out.find("quiet call") != std::string::npos) ++failures;
    if (out.find("first call") > out.find("second call")) ++failures;
    fprintf(stderr, "%sfailures=%d\n", out.c_str(), failures);
    exit(failures == 0 ? 0 : 1);
}

TEST(VerboseDeathTest, DetectedLineOncePerGpuThenTheCallLines) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // fresh process
    EXPECT_EXIT(verbose_child(), ::testing::ExitedWithCode(0), "failures=0");
}

}  // namespace
