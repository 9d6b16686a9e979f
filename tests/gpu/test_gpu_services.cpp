// Host-only services of the runtime layer: exception texts, bounded
// formatting, backend memory, the unload cleanup registry and the verbose
// nesting depth.
#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <string>
#include <thread>
#include <typeinfo>
#include <vector>

#include "gpu/ovx_gpu.hpp"
#include "ovx_test_env.hpp"

namespace {

using korami::ovx::exception;


// ---- exceptions ------------------------------------------------------------

struct exception_case {
    const char* domain;
    const char* function;
    const char* detail;
    const char* expected;
};

class ExceptionText : public ::testing::TestWithParam<exception_case> {};

TEST_P(ExceptionText, ComposesOnlyNonEmptyParts) {
    const exception_case& c = GetParam();
    korami::ovx::exception e(c.domain, c.function, c.detail);
    EXPECT_STREQ(e.what(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    AllPartCombinations, ExceptionText,
    ::testing::Values(
        exception_case{"dft", "commit", "bad", "korami::ovx::dft::commit: bad"},
        exception_case{"", "commit", "bad", "korami::ovx::commit: bad"},
        exception_case{"dft", "", "bad", "korami::ovx::dft: bad"},
        exception_case{"dft", "commit", "", "korami::ovx::dft::commit"},
        exception_case{"", "", "bad", "korami::ovx: bad"},
        exception_case{"", "", "", "korami::ovx"}),
    [](const auto& i) {
        const exception_case& c = i.param;
        const std::string s = std::string(*c.domain ? "Domain" : "") + (*c.function ? "Function" : "") +
                              (*c.detail ? "Detail" : "");
        return s.empty() ? std::string("Nothing") : s;
    });

template <typename E>
std::string message_of(const std::string& domain, const std::string& function,
                       const std::string& message) {
    try {
        throw E(domain, function, message);
    } catch (const exception& e) {  // every product exception is caught here
        return e.what();
    }
    return std::string();
}

TEST(Exceptions, DetailOfMessageClasses) {
    using namespace korami::ovx;
    const std::pair<std::string, const char*> rows[] = {
        {message_of<invalid_argument>("DFT", "commit", "no sub-buffers"),
         "korami::ovx::DFT::commit: invalid argument: no sub-buffers"},
        {message_of<invalid_argument>("dft", "f", ""), "korami::ovx::dft::f: invalid argument"},
        {message_of<unimplemented>("dft", "commit", "rank 4"), "korami::ovx::dft::commit: unimplemented functionality: rank 4"},
        {message_of<uninitialized>("dft", "compute_forward", "not committed"),
         "korami::ovx::dft::compute_forward: uninitialized object: not committed"},
        {message_of<computation_error>("lapack", "potrf", "info 3"), "korami::ovx::lapack::potrf: computation error: info 3"},
        {message_of<batch_error>("lapack", "getrf_batch", ""), "korami::ovx::lapack::getrf_batch: batch error"},
    };
    for (const auto& r : rows) EXPECT_EQ(r.first, r.second);
}

TEST(Exceptions, HostAllocationAndDeviceClasses) {
    using namespace korami::ovx;
    EXPECT_STREQ(host_bad_alloc("dft", "commit").what(),
                 "korami::ovx::dft::commit: cannot allocate memory on host");
    sycl::device host_device{sycl::cpu_selector_v};
    std::string name = host_device.get_info<sycl::info::device::name>();
    EXPECT_EQ(std::string(unsupported_device("dft", "commit", host_device).what()),
              "korami::ovx::dft::commit: " + name + " is not supported");
    EXPECT_EQ(std::string(device_bad_alloc("", "malloc", host_device).what()),
              "korami::ovx::malloc: cannot allocate memory on " + name);
}

TEST(Exceptions, CaughtAsStandardExceptions) {
    try {
        throw korami::ovx::invalid_argument("d", "f", "m");
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "korami::ovx::d::f: invalid argument: m");
    }
}

// ---- bounded_snprintf -------------------------------------------------------

TEST(BoundedSnprintf, ExactFitAndOnePast) {
    char buf[6];
    memset(buf, 'x', sizeof buf);
    EXPECT_EQ(bounded_snprintf(buf, sizeof buf, "%s", "abcde"), 5);  // 5 chars + terminator
    EXPECT_STREQ(buf, "abcde");
    memset(buf, 'x', sizeof buf);
    EXPECT_EQ(bounded_snprintf(buf, sizeof buf, "%s", "abcdef"), -1);  // one past
    EXPECT_EQ(buf[5], '\0');                                           // still terminated
    EXPECT_STREQ(buf, "abcde");
    EXPECT_EQ(bounded_snprintf(buf, sizeof buf, "%s", ""), 0);
    EXPECT_STREQ(buf, "");
}

TEST(BoundedSnprintf, RefusesUnusableArguments) {
    char buf[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(bounded_snprintf(buf, 0, "%s", "a"), -1);
    EXPECT_EQ(buf[0], 'x');  // size 0: nothing written
    EXPECT_EQ(bounded_snprintf(nullptr, 4, "%s", "a"), -1);
    const char* null_format = nullptr;
    EXPECT_EQ(bounded_snprintf(buf, sizeof buf, null_format), -1);
    EXPECT_EQ(buf[0], '\0');
    // size 1 holds only the terminator.
    EXPECT_EQ(bounded_snprintf(buf, 1, "%s", ""), 0);
    EXPECT_EQ(bounded_snprintf(buf, 1, "%s", "a"), -1);
    EXPECT_EQ(buf[0], '\0');
}

TEST(BoundedSnprintf, AppendingOptionsAtTheReturnedLength) {
    // The backends' pattern: options appended at the returned length.
    char options[32];
    int n = bounded_snprintf(options, sizeof options, "-DN=%lld ", 1024LL);
    ASSERT_EQ(n, 9);
    int m = bounded_snprintf(options + n, sizeof options - n, "-DFWD_DIR=%d ", 1);
    ASSERT_EQ(m, 12);
    EXPECT_STREQ(options, "-DN=1024 -DFWD_DIR=1 ");
    int k = bounded_snprintf(options + n + m, sizeof options - n - m, "%s", "-DTOO_LONG_FOR_IT ");
    EXPECT_EQ(k, -1);
    EXPECT_EQ(strlen(options), sizeof options - 1);
}

// ---- append_formatted -------------------------------------------------------

TEST(AppendFormatted, AdvancesAndStopsAtTheEnd) {
    char text[12];
    size_t remaining = sizeof text - 1;
    char* p = text;
    p = append_formatted(p, &remaining, "%s", "abc");
    EXPECT_EQ(p, text + 3);
    EXPECT_EQ(remaining, 8u);
    p = append_formatted(p, &remaining, "%d", 12345678);  // exactly fills the space
    EXPECT_EQ(p, text + 11);
    EXPECT_EQ(remaining, 0u);
    EXPECT_STREQ(text, "abc12345678");
    p = append_formatted(p, &remaining, "%s", "");  // empty text still fits
    EXPECT_EQ(p, text + 11);
    p = append_formatted(p, &remaining, "%s", "x");
    EXPECT_EQ(p, text + 11);
    EXPECT_EQ(remaining, 0u);
    EXPECT_STREQ(text, "abc12345678");
}

TEST(AppendFormatted, TextThatDoesNotFitMovesToTheEnd) {
    char text[8];
    size_t remaining = sizeof text - 1;
    char* p = append_formatted(text, &remaining, "%s", "ab");
    p = append_formatted(p, &remaining, "%s", "123456");  // 5 left, 6 needed
    EXPECT_EQ(p, text + 7);
    EXPECT_EQ(remaining, 0u);
    EXPECT_EQ(text[7], '\0');
    EXPECT_EQ(strlen(text), 7u);  // cut, terminated
    const char* null_format = nullptr;
    remaining = 3;
    char other[4];
    p = append_formatted(other, &remaining, null_format);
    EXPECT_EQ(p, other + 3);
    EXPECT_EQ(remaining, 0u);
    EXPECT_STREQ(other, "");
    EXPECT_EQ(append_formatted(nullptr, &remaining, "%s", "x"), nullptr);
}

TEST(PrintStderr, WritesFormattedText) {
    ::testing::internal::CaptureStderr();
    print_stderr("caught %s in %s\n", "an exception", "ovx_DftiCommitDescriptor_omp_offload");
    std::string out = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(out, "caught an exception in ovx_DftiCommitDescriptor_omp_offload\n");
}

// ---- backend memory ---------------------------------------------------------

TEST(BackendMemory, ServiceAllocatorGivesZeroedAlignedBlocks) {
    ASSERT_EQ(ovx_gpu_memory_select(nullptr), 0);
    for (size_t align : {size_t(0), size_t(64), size_t(256), size_t(4096)}) {
        unsigned char* p = static_cast<unsigned char*>(ovx_gpu_bkd_calloc(1, 1000, align, 0));
        ASSERT_NE(p, nullptr);
        size_t a = align == 0 ? 64 : align;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % a, 0u);
        for (int i = 0; i < 1000; ++i) ASSERT_EQ(p[i], 0);
        memset(p, 0xAB, 1000);
        ovx_gpu_bkd_free(p);
    }
    EXPECT_EQ(ovx_gpu_bkd_calloc(1, 16, 48, 0), nullptr);              // not a power of two
    EXPECT_EQ(ovx_gpu_bkd_calloc(SIZE_MAX / 2, 4, 64, 0), nullptr);    // overflow of count*size
    ovx_gpu_bkd_free(nullptr);
    // A later block does not change the choice made first.
    alignas(64) static unsigned char block[1024];
    ovx_gpu_memory_block_t b{block, sizeof block};
    EXPECT_EQ(ovx_gpu_memory_select(&b), 0);
}

// The arena choice is once per process: checked in a child process.
void arena_child() {
    static unsigned char storage[4096 + 64];
    // Start the block off the 64-byte grid to see that blocks are aligned anyway.
    uintptr_t base = (reinterpret_cast<uintptr_t>(storage) + 63) / 64 * 64 + 8;
    ovx_gpu_memory_block_t b{reinterpret_cast<void*>(base), 4096};
    memset(b.base, 0x5A, b.size);
    int failures = 0;
    if (ovx_gpu_memory_select(&b) != 1) ++failures;
    if (ovx_gpu_memory_select(nullptr) != 1) ++failures;  // choice kept
    uintptr_t end = base + 4096;
    unsigned char* p1 = static_cast<unsigned char*>(ovx_gpu_bkd_calloc(1, 100, 64, 0));
    unsigned char* p2 = static_cast<unsigned char*>(ovx_gpu_bkd_calloc(3, 10, 64, 0));
    if (!p1 || !p2) ++failures;
    if (p1 && (reinterpret_cast<uintptr_t>(p1) % 64 != 0 ||
               reinterpret_cast<uintptr_t>(p1) < base))
        ++failures;
    if (p1 && p2 && reinterpret_cast<uintptr_t>(p2) < reinterpret_cast<uintptr_t>(p1) + 100)
        ++failures;
    if (p2 && reinterpret_cast<uintptr_t>(p2) % 64 != 0) ++failures;
    for (int i = 0; p1 && i < 100; ++i)
        if (p1[i] != 0) ++failures;
    ovx_gpu_bkd_free(p1);  // arena blocks are not handed back
    // Exhaustion gives null, never a block past the end.
    void* big = ovx_gpu_bkd_calloc(1, 8192, 64, 0);
    if (big != nullptr) ++failures;
    for (;;) {
        unsigned char* q = static_cast<unsigned char*>(ovx_gpu_bkd_calloc(1, 512, 64, 0));
        if (q == nullptr) break;
        if (reinterpret_cast<uintptr_t>(q) + 512 > end) ++failures;
    }
    fprintf(stderr, "failures=%d\n", failures);
    exit(failures == 0 ? 0 : 1);
}

TEST(BackendMemoryDeathTest, ArenaFromTheFirstNodeCreation) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // fresh process
    EXPECT_EXIT(arena_child(), ::testing::ExitedWithCode(0), "failures=0");
}

// ---- cleanup registry -------------------------------------------------------

std::vector<int>* cleanup_order = nullptr;
void cleanup_a() { cleanup_order->push_back(1); }
void cleanup_b() { cleanup_order->push_back(2); }
void cleanup_c() { cleanup_order->push_back(3); }

void registry_order_child() {
    std::vector<int> order;
    cleanup_order = &order;
    int failures = 0;
    if (ovx_gpu_register_cleanup(cleanup_a) != 0) ++failures;
    if (ovx_gpu_register_cleanup(cleanup_b) != 0) ++failures;
    if (ovx_gpu_register_cleanup(cleanup_c) != 0) ++failures;
    if (ovx_gpu_register_cleanup(nullptr) != -1) ++failures;
    ovx_sycl_destructor_local();
    ovx_sycl_destructor();  // nothing left to run
    if (order != std::vector<int>({3, 2, 1})) ++failures;
    fprintf(stderr, "order=%d%d%d failures=%d\n", order.size() > 0 ? order[0] : 0,
            order.size() > 1 ? order[1] : 0, order.size() > 2 ? order[2] : 0, failures);
    exit(failures == 0 ? 0 : 1);
}

TEST(CleanupRegistryDeathTest, RunsNewestFirstAndOnce) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // fresh process
    EXPECT_EXIT(registry_order_child(), ::testing::ExitedWithCode(0), "order=321 failures=0");
}

int exit_runs = 0;
void count_exit_run() { ++exit_runs; }
void report_exit_runs() { fprintf(stderr, "cleanups run at exit: %d\n", exit_runs); }

// The core library runs ovx_sycl_destructor at process exit.
void exit_run_child() {
    ovx_gpu_register_cleanup(report_exit_runs);  // runs last (oldest)
    ovx_gpu_register_cleanup(count_exit_run);
    ovx_gpu_register_cleanup(count_exit_run);
    exit(0);
}

TEST(CleanupRegistryDeathTest, RunAtProcessExit) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // fresh process
    EXPECT_EXIT(exit_run_child(), ::testing::ExitedWithCode(0), "cleanups run at exit: 2");
}

void noop_cleanup() {}

// The 33rd registration prints a service message and ends the process with 1.
void overflow_child() {
    for (int i = 1; i <= 40; ++i) {
        if (ovx_gpu_register_cleanup(noop_cleanup) != 0) break;
        fprintf(stderr, "registered %d\n", i);
    }
    exit(7);  // not reached: the overflow ends the process
}

TEST(CleanupRegistryDeathTest, ThirtyThirdRegistrationEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // fresh process
    // Exactly 32 are stored: the message follows the 32nd success directly.
    EXPECT_EXIT(overflow_child(), ::testing::ExitedWithCode(1),
                "registered 32\nOVX ERROR: too many exit callbacks; cleanup callback .* not registered");
}

// The first registration hooks ovx_sycl_destructor into the core library's
// exit callbacks, which run before the function-local statics made earlier
// are destroyed (the library's own unload hook would run only after them).
struct exit_sentinel {
    ~exit_sentinel() { fprintf(stderr, "sentinel destroyed\n"); }
};
void announce_cleanup() { fprintf(stderr, "cleanup ran\n"); }

void core_hook_child() {
    static exit_sentinel sentinel;
    (void)sentinel;
    ovx_gpu_register_cleanup(announce_cleanup);
    exit(0);
}

TEST(CleanupRegistryDeathTest, FirstRegistrationHooksTheCoreLibrary) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // fresh process
    EXPECT_EXIT(core_hook_child(), ::testing::ExitedWithCode(0), "cleanup ran\nsentinel destroyed");
}

// ---- verbose depth ----------------------------------------------------------

TEST(VerboseDepth, IsPerThread) {
    using namespace korami::ovx::gpu;
    ASSERT_EQ(verbose_depth(), 0);
    verbose_depth_inc();
    verbose_depth_inc();
    EXPECT_EQ(verbose_depth(), 2);
    int other = -1;
    std::thread t([&] {
        verbose_depth_inc();
        other = verbose_depth();
    });
    t.join();
    EXPECT_EQ(other, 1);
    EXPECT_EQ(verbose_depth(), 2);
    verbose_depth_dec();
    verbose_depth_dec();
    EXPECT_EQ(verbose_depth(), 0);
}

}  // namespace
