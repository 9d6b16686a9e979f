// Vendor service stand-in.
#include <gtest/gtest.h>

#include <ovx_serv.h>

#include <dlfcn.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>
#include "ovx_test_env.hpp"

namespace {

std::string read_file(const std::string& path) {
    std::ifstream f(path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

std::string temp_path(const char* tag) {
    char buf[256];
    std::snprintf(buf, sizeof buf, "/tmp/ovxplat_serv_test_%s_%d.txt", tag, int(getpid()));
    std::remove(buf);
    return buf;
}

// ---- memory -----------------------------------------------------------------

class Alignment : public ::testing::TestWithParam<std::pair<int, size_t>> {};

TEST_P(Alignment, BlocksAreAlignedWritableAndFreed) {
    const int requested = GetParam().first;
    const size_t expected = GetParam().second;
    for (size_t size : {size_t(0), size_t(1), size_t(63), size_t(4096), size_t(100000)}) {
        void* p = ovx_serv_malloc(size, requested);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % expected, 0u) << "size " << size;
        std::memset(p, 0xAB, size);
        ovx_serv_free(p);
    }
}

INSTANTIATE_TEST_SUITE_P(Serv, Alignment,
                         ::testing::Values(std::make_pair(0, size_t(64)), std::make_pair(1, size_t(16)),
                                           std::make_pair(8, size_t(16)), std::make_pair(64, size_t(64)),
                                           std::make_pair(128, size_t(128)), std::make_pair(4096, size_t(4096))),
                         [](const auto& i) { return ovx_test::name("request", i.param.first); });

TEST(Serv, BadAlignmentAndHugeSizesGiveNull) {
    EXPECT_EQ(ovx_serv_malloc(16, 3), nullptr);
    EXPECT_EQ(ovx_serv_malloc(16, -64), nullptr);
    EXPECT_EQ(ovx_serv_malloc(SIZE_MAX, 64), nullptr);
    EXPECT_EQ(ovx_serv_malloc(SIZE_MAX - 10, 64), nullptr);
    ovx_serv_free(nullptr);  // allowed
}

TEST(Serv, ReallocKeepsContentsAndAlignment) {
    EXPECT_EQ(ovx_serv_realloc(nullptr, 16, 3), nullptr);
    auto* p = static_cast<unsigned char*>(ovx_serv_realloc(nullptr, 100, 64));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 100; ++i) p[i] = static_cast<unsigned char>(i);
    auto* q = static_cast<unsigned char*>(ovx_serv_realloc(p, 5000, 256));
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(q) % 256, 0u);
    for (int i = 0; i < 100; ++i) ASSERT_EQ(q[i], i);
    auto* r = static_cast<unsigned char*>(ovx_serv_realloc(q, 10, 64));
    ASSERT_NE(r, nullptr);
    for (int i = 0; i < 10; ++i) ASSERT_EQ(r[i], i);
    // A failed reallocation leaves the block as it was.
    EXPECT_EQ(ovx_serv_realloc(r, SIZE_MAX, 64), nullptr);
    for (int i = 0; i < 10; ++i) ASSERT_EQ(r[i], i);
    ovx_serv_free(r);
}

// ---- locks ------------------------------------------------------------------

TEST(Serv, LockUnderContention) {
    static volatile int32_t word = 0;
    long counter = 0;  // deliberately not atomic: only the lock protects it
    const int threads = 8, rounds = 50000;
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
        pool.emplace_back([&] {
            for (int i = 0; i < rounds; ++i) {
                ovx_serv_lock(&word);
                long v = counter;
                // Now and then hold the lock long enough that waiters stop spinning and sleep.
                if ((i & 1023) == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
                counter = v + 1;
                ovx_serv_unlock(&word);
            }
        });
    for (auto& th : pool) th.join();
    EXPECT_EQ(counter, long(threads) * rounds);
    EXPECT_EQ(word, 0);
}

TEST(Serv, LockWordsAreIndependent) {
    volatile int32_t a = 0, b = 0;
    ovx_serv_lock(&a);
    EXPECT_NE(a, 0);
    ovx_serv_lock(&b);  // another word is free
    ovx_serv_unlock(&b);
    ovx_serv_unlock(&a);
    EXPECT_EQ(a, 0);
    EXPECT_EQ(b, 0);
}

// ---- timer and maths -------------------------------------------------------

TEST(Serv, TimerMeasuresElapsedSeconds) {
    double t0 = ovx_serv_dsecnd();
    usleep(20000);
    double t1 = ovx_serv_dsecnd();
    EXPECT_GE(t1 - t0, 0.019);
    EXPECT_LT(t1 - t0, 5.0);
}

TEST(Serv, SinCosPiAgainstLongDouble) {
    const long double pi = 3.141592653589793238462643383279502884L;
    // Relative-to-one error bound for single precision: 2 ulp of 1.0f.
    const double tol = 2.0 * 1.1920929e-7;
    std::vector<float> xs = {0.0f, 0.125f, 0.25f, 1.0f / 3.0f, 0.3f, 0.7f, 0.999f, 1.25f, 2.75f, -0.1f,
                             -0.6f, 3.0e-8f, 123.456f, -77.7f, 1048575.5f, 1e7f + 1.0f};
    for (int k = -64; k <= 64; ++k) xs.push_back(float(k) / 64.0f * 3.0f);
    for (float x : xs) {
        float s = 0, c = 0;
        ovx_serv_libm_sincospif(x, &s, &c);
        // Reduce exactly in long double before multiplying by pi.
        long double xr = std::fmod(static_cast<long double>(x), 2.0L);
        EXPECT_NEAR(s, double(std::sin(pi * xr)), tol) << "x = " << x;
        EXPECT_NEAR(c, double(std::cos(pi * xr)), tol) << "x = " << x;
    }
}

TEST(Serv, SinCosPiExactAtHalfIntegers) {
    struct exact { float x, s, c; };
    const exact table[] = {{0.0f, 0.0f, 1.0f},  {0.5f, 1.0f, 0.0f},   {1.0f, 0.0f, -1.0f}, {1.5f, -1.0f, 0.0f},
                           {2.0f, 0.0f, 1.0f},  {-0.5f, -1.0f, 0.0f}, {-1.0f, -0.0f, -1.0f},
                           {2.5f, 1.0f, 0.0f},  {1e9f, 0.0f, 1.0f},   {-3.5f, 1.0f, 0.0f}};
    for (const exact& e : table) {
        float s = 9, c = 9;
        ovx_serv_libm_sincospif(e.x, &s, &c);
        EXPECT_EQ(s, e.s) << e.x;
        EXPECT_EQ(c, e.c) << e.x;
        if (e.s == 0.0f) EXPECT_EQ(std::signbit(s), std::signbit(e.x)) << e.x;
        if (e.c == 0.0f) EXPECT_FALSE(std::signbit(c)) << e.x;
    }
    float s, c;
    ovx_serv_libm_sincospif(INFINITY, &s, &c);
    EXPECT_TRUE(std::isnan(s) && std::isnan(c));
    ovx_serv_libm_sincospif(NAN, &s, &c);
    EXPECT_TRUE(std::isnan(s) && std::isnan(c));
    ovx_serv_libm_sincospif(0.25f, nullptr, &c);  // one output is enough
    EXPECT_NEAR(c, std::sqrt(0.5), 1e-7);
}

// ---- verbose mode and output -------------------------------------------------

class Verbose : public ::testing::Test {
protected:
    void TearDown() override {
        unsetenv("OVXPLAT_VERBOSE");
        unsetenv("OVXPLAT_VERBOSE_OUTPUT");
        ovxplat_serv_reload_environment();
    }
};

TEST_F(Verbose, ModeFollowsTheEnvironment) {
    const std::pair<const char*, int> cases[] = {{"0", 0}, {"1", 1}, {"2", 2}, {"3", 0}, {"yes", 0}, {"", 0}};
    for (const auto& c : cases) {
        setenv("OVXPLAT_VERBOSE", c.first, 1);
        ovxplat_serv_reload_environment();
        ASSERT_NE(ovx_serv_verbose_mode(), nullptr);
        EXPECT_EQ(*ovx_serv_verbose_mode(), c.second) << "'" << c.first << "'";
    }
    unsetenv("OVXPLAT_VERBOSE");
    ovxplat_serv_reload_environment();
    EXPECT_EQ(*ovx_serv_verbose_mode(), 0);
    // Callers may switch the mode through the pointer.
    *ovx_serv_verbose_mode() = 2;
    EXPECT_EQ(*ovx_serv_verbose_mode(), 2);
}

TEST_F(Verbose, LinesGoToTheOutputFile) {
    const std::string path = temp_path("verbose");
    setenv("OVXPLAT_VERBOSE", "1", 1);
    setenv("OVXPLAT_VERBOSE_OUTPUT", path.c_str(), 1);
    ovxplat_serv_reload_environment();
    ovx_serv_print_verbose_info(0, "dft fwd c2c n=64", 12.5e-6);
    ovx_serv_print_verbose_info(0, "dft bwd", 0.0032);
    ovx_serv_print_verbose_info(0, "long", 2.25);
    EXPECT_EQ(ovx_serv_file_format_print(0, "OVX_VERBOSE Detected GPU%d %s\n", 0, "name"), 31);
    EXPECT_EQ(ovx_serv_print(0, 3, 1, "'omp_get_interop_int'"), 61);
    unsetenv("OVXPLAT_VERBOSE_OUTPUT");
    ovxplat_serv_reload_environment();  // closes the file
    EXPECT_EQ(read_file(path),
              "OVX_VERBOSE dft fwd c2c n=64 12.50us\n"
              "OVX_VERBOSE dft bwd 3.20ms\n"
              "OVX_VERBOSE long 2.25s\n"
              "OVX_VERBOSE Detected GPU0 name\n"
              "OVX ERROR: cannot find the entry point 'omp_get_interop_int'\n");
    std::remove(path.c_str());
}

TEST_F(Verbose, WithoutAFileLinesGoToTheStandardStreams) {
    ::testing::internal::CaptureStdout();
    ovx_serv_print_verbose_info(0, "text", 1e-7);
    std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "OVX_VERBOSE text 0.10us\n");
    ::testing::internal::CaptureStderr();
    ovx_serv_print(0, 6, 1, "something odd");
    ovx_serv_print(0, 99, 2, "a", "b");
    ovx_serv_print(0, 3, 0);
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "OVX Warning: something odd\nOVX message 99: a b\nOVX ERROR: cannot find the entry point \n");
}

TEST_F(Verbose, UnwritableOutputFileFallsBackWithAWarning) {
    setenv("OVXPLAT_VERBOSE_OUTPUT", "/nonexistent/dir/out.txt", 1);
    ::testing::internal::CaptureStderr();
    ovxplat_serv_reload_environment();
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("OVX Warning: cannot open the verbose output file"), std::string::npos) << err;
    ::testing::internal::CaptureStdout();
    ovx_serv_print_verbose_info(0, "still here", 1.0);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "OVX_VERBOSE still here 1.00s\n");
}

TEST(Serv, ModeIsReadOnceFromTheEnvironmentOfANewProcess) {
    // The first use in a fresh process reads the variables.
    EXPECT_EXIT(
        {
            setenv("OVXPLAT_VERBOSE", "2", 1);
            std::_Exit(*ovx_serv_verbose_mode() == 2 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

// ---- exit callbacks -----------------------------------------------------------

void cb_a() { std::fputs("callback a\n", stderr); }
void cb_b() { std::fputs("callback b\n", stderr); }
void cb_exit_again() {
    std::fputs("callback exits\n", stderr);
    ovx_serv_exit(5);
}

TEST(ServExit, CallbacksRunNewestFirstAtServiceExit) {
    EXPECT_EXIT(
        {
            ovx_serv_core_register_sycl_destructor(cb_a);
            ovx_serv_core_register_sycl_destructor(cb_b);
            ovx_serv_core_register_sycl_destructor(cb_a);  // once is enough
            ovx_serv_exit(3);
        },
        ::testing::ExitedWithCode(3), "^callback b\ncallback a\n$");
}

TEST(ServExit, CallbacksRunAtANormalExit) {
    EXPECT_EXIT(
        {
            ovx_serv_core_register_sycl_destructor(cb_a);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "^callback a\n$");
}

TEST(ServExit, ExitFromACallbackEndsAtOnce) {
    EXPECT_EXIT(
        {
            ovx_serv_core_register_sycl_destructor(cb_a);
            ovx_serv_core_register_sycl_destructor(cb_exit_again);
            ovx_serv_exit(2);
        },
        ::testing::ExitedWithCode(5), "^callback exits\n$");
}

TEST(ServExit, CallbackOfAnUnloadedLibraryStillRuns) {
    EXPECT_EXIT(
        {
            void* h = dlopen(OVX_TEST_CB_STUB, RTLD_NOW | RTLD_LOCAL);
            if (!h) std::_Exit(10);
            auto cb = reinterpret_cast<void (*)(void)>(dlsym(h, "ovx_stub_exit_callback"));
            if (!cb) std::_Exit(11);
            ovx_serv_core_register_sycl_destructor(cb);
            dlclose(h);
            ovx_serv_exit(0);
        },
        ::testing::ExitedWithCode(0), "^stub callback\n$");
}

template <int N>
void numbered() {}

template <int... N>
int register_all(std::integer_sequence<int, N...>) {
    int failures = 0;
    ((failures += ovx_serv_core_register_sycl_destructor(&numbered<N>) != 0), ...);
    return failures;
}

TEST(ServExit, TableOfCallbacksIsBounded) {
    EXPECT_EXIT(
        {
            int failed = register_all(std::make_integer_sequence<int, 65>());
            int null_refused = ovx_serv_core_register_sycl_destructor(nullptr) == -1;
            std::exit(failed == 1 && null_refused ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

// ---- environment, cache size, version -----------------------------------------

TEST(Serv, EnvironmentCacheAndVersion) {
    setenv("OVXPLAT_SERV_TEST_VAR", "value", 1);
    char buf[16];
    EXPECT_EQ(ovx_serv_getenv("OVXPLAT_SERV_TEST_VAR", buf, sizeof buf), 5);
    EXPECT_STREQ(buf, "value");
    EXPECT_EQ(ovx_serv_getenv("OVXPLAT_SERV_TEST_VAR", buf, 5), -1);
    EXPECT_STREQ(buf, "");
    unsetenv("OVXPLAT_SERV_TEST_VAR");
    EXPECT_EQ(ovx_serv_getenv("OVXPLAT_SERV_TEST_VAR", buf, sizeof buf), 0);
    EXPECT_EQ(ovx_serv_getenv(nullptr, buf, sizeof buf), -1);
    EXPECT_EQ(ovx_serv_cache_size(0), 0);
    EXPECT_EQ(ovx_serv_cache_size(4), 0);
    EXPECT_GE(ovx_serv_cache_size(1), 0);
    ASSERT_NE(ovx_serv_get_version_string(), nullptr);
    EXPECT_GT(std::strlen(ovx_serv_get_version_string()), 0u);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    return RUN_ALL_TESTS();
}
