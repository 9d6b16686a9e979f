// The CPU route in an application that uses FFTW itself, and under many
// commits and computes from several threads on queues whose host tasks start
// in shuffled order. Every case runs in a fresh process of this executable
// (so that the application's first FFTW call and the scheduler's mode are the
// case's own) and fails when that process has not ended after a deadline
// far above its usual few seconds, instead of hanging the run.
//
// References come from the application's FFTW in double precision.
// Tolerances: single 3e-6 * log2(N) + 1e-6, double 1e-14 * log2(N) + 1e-14,
// relative to the largest reference value.
#include <gtest/gtest.h>

#include <fftw3.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <complex>
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "dft/dft_reference.hpp"
#include "korami/ovx/dft.hpp"
#include "worst_error.hpp"

extern char** environ;

namespace dft = korami::ovx::dft;
using dft_test::tolerance;

namespace {

constexpr const char* kChildVariable = "OVX_TEST_CHILD_PROCESS";
constexpr int kDeadlineSeconds = 120;

bool in_child() {
    const char* v = std::getenv(kChildVariable);
    return v && std::strcmp(v, "1") == 0;
}

// Runs the current test in a new process of this executable with the extra
// environment `extra` ("NAME=value"), and fails when it fails or has not
// ended after kDeadlineSeconds (it is then killed).
void run_in_child(const std::vector<std::string>& extra) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string filter = std::string("--gtest_filter=") + info->test_suite_name() + "." + info->name();
    std::vector<std::string> env_text = extra;
    env_text.push_back(std::string(kChildVariable) + "=1");
    auto overridden = [&](const char* entry) {
        for (const auto& e : env_text)
            if (std::strncmp(entry, e.c_str(), e.find('=') + 1) == 0) return true;
        return false;
    };
    for (char** e = environ; *e; ++e)
        if (!overridden(*e)) env_text.push_back(*e);
    std::vector<char*> envp;
    for (auto& e : env_text) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string exe = "/proc/self/exe";
    std::vector<char*> argv = {exe.data(), const_cast<char*>(filter.c_str()), nullptr};

    std::fflush(stdout);
    std::fflush(stderr);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, exe.c_str(), nullptr, nullptr, argv.data(), envp.data()), 0);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kDeadlineSeconds);
    int status = 0;
    for (;;) {
        const pid_t r = waitpid(pid, &status, WNOHANG);
        ASSERT_NE(r, -1) << std::strerror(errno);
        if (r == pid) break;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            FAIL() << info->name() << " did not end within " << kDeadlineSeconds << " s (process killed)";
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(WIFEXITED(status)) << "the test process ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the test process reported failures (its output is above)";
}

// The application's FFTW: its plans are made one at a time (its planner is
// not thread-safe), executed in parallel.
std::mutex& application_planner() {
    static std::mutex m;
    return m;
}

// Forward DFT of `count` transforms of n points by the application's FFTW:
// complex input (real: n reals, giving n/2+1 values).
std::vector<std::complex<double>> application_forward(const std::vector<std::complex<double>>& in, std::int64_t n,
                                                      std::int64_t count, bool real) {
    const std::int64_t m = real ? n / 2 + 1 : n;
    std::vector<std::complex<double>> out(m * count);
    std::vector<double> re;
    fftw_plan p;
    {
        std::lock_guard<std::mutex> g(application_planner());
        const int len = static_cast<int>(n), howmany = static_cast<int>(count);
        if (real) {
            re.resize(n * count);
            p = fftw_plan_many_dft_r2c(1, &len, howmany, re.data(), nullptr, 1, len,
                                       reinterpret_cast<fftw_complex*>(out.data()), nullptr, 1, static_cast<int>(m),
                                       FFTW_ESTIMATE);
        } else {
            p = fftw_plan_many_dft(1, &len, howmany, reinterpret_cast<fftw_complex*>(const_cast<std::complex<double>*>(in.data())),
                                   nullptr, 1, len, reinterpret_cast<fftw_complex*>(out.data()), nullptr, 1, len,
                                   FFTW_FORWARD, FFTW_ESTIMATE | FFTW_PRESERVE_INPUT);
        }
    }
    if (!p) {
        ADD_FAILURE() << "the application's FFTW made no plan";
        return out;
    }
    if (real) {
        for (std::size_t i = 0; i < re.size(); ++i) re[i] = in[i].real();
        fftw_execute_dft_r2c(p, re.data(), reinterpret_cast<fftw_complex*>(out.data()));
    } else {
        fftw_execute(p);
    }
    std::lock_guard<std::mutex> g(application_planner());
    fftw_destroy_plan(p);
    return out;
}

std::vector<std::complex<double>> test_signal(std::int64_t count, bool real, unsigned seed) {
    const auto u = dft_test::uniform(2 * count, seed);
    std::vector<std::complex<double>> v(count);
    for (std::int64_t i = 0; i < count; ++i) v[i] = {u[i], real ? 0.0 : u[count + i]};
    return v;
}

// Largest error over the largest reference value.
template <typename T>
double relative_error(const std::vector<std::complex<double>>& want, const std::complex<T>* got, std::int64_t offset,
                      std::int64_t stride) {
    double err = 0, ref = 0;
    for (std::size_t i = 0; i < want.size(); ++i) {
        err = ovx_test::worse(err, std::abs(std::complex<double>(got[offset + i * stride]) - want[i]));
        ref = std::max(ref, std::abs(want[i]));
    }
    return err / ref;
}

// The transform of the issue: 46656 double complex points out of place, input
// offset 1, output offset 5 and stride 2 (its planning measures and uses
// FFTW's threads). Commits it on a CPU queue, computes it and checks it.
void commit_and_check_46656(sycl::queue& q) {
    const std::int64_t n = 46656;
    dft::descriptor<dft::precision::DOUBLE, dft::domain::COMPLEX> d(n);
    d.set_value(dft::config_param::PLACEMENT, dft::config_value::NOT_INPLACE);
    d.set_value(dft::config_param::INPUT_STRIDES, std::vector<std::int64_t>{1, 1});
    d.set_value(dft::config_param::OUTPUT_STRIDES, std::vector<std::int64_t>{5, 2});
    d.commit(q);
    const auto in = test_signal(n, false, 7u);
    auto* x = sycl::malloc_shared<std::complex<double>>(n + 1, q);
    auto* y = sycl::malloc_shared<std::complex<double>>(5 + 2 * n, q);
    ASSERT_TRUE(x && y);
    std::copy(in.begin(), in.end(), x + 1);
    dft::compute_forward<decltype(d), std::complex<double>, std::complex<double>>(d, x, y).wait_and_throw();
    const double rel = relative_error(application_forward(in, n, 1, false), y, 5, 2);
    EXPECT_LE(rel, tolerance<double>(n)) << "relative error " << rel;
    sycl::free(x, q);
    sycl::free(y, q);
}

void make_application_plan() {
    fftw_complex* a = fftw_alloc_complex(3);
    fftw_plan p = fftw_plan_dft_1d(3, a, a, FFTW_FORWARD, FFTW_ESTIMATE);
    ASSERT_NE(p, nullptr);
    fftw_destroy_plan(p);
    fftw_free(a);
}

}  // namespace

// The application made and destroyed a plan of its own before its first CPU
// commit (FFTW's planner then exists before anything could set up FFTW's
// threads): the commit returns in seconds and computes right.
TEST(CpuRouteBesideApplicationFftw, CommitAfterApplicationPlanReturnsAndComputes) {
    if (!in_child()) return run_in_child({});
    make_application_plan();
    sycl::queue q{sycl::cpu_selector_v};
    commit_and_check_46656(q);
}

// The application cleans up its FFTW (which drops every plan and all wisdom
// of its FFTW) between two CPU commits: the descriptor committed before still
// computes right, and the next commit returns and computes right.
TEST(CpuRouteBesideApplicationFftw, CommitAfterApplicationCleanupReturnsAndComputes) {
    if (!in_child()) return run_in_child({});
    sycl::queue q{sycl::cpu_selector_v};
    const std::int64_t n = 4096;
    dft::descriptor<dft::precision::SINGLE, dft::domain::COMPLEX> d(n);
    d.commit(q);
    fftw_cleanup();
    fftwf_cleanup();
    const auto in = test_signal(n, false, 11u);
    auto* x = sycl::malloc_shared<std::complex<float>>(n, q);
    ASSERT_NE(x, nullptr);
    for (std::int64_t i = 0; i < n; ++i) x[i] = std::complex<float>(in[i]);
    dft::compute_forward(d, x).wait_and_throw();
    const double rel = relative_error(application_forward(in, n, 1, false), x, 0, 1);
    EXPECT_LE(rel, tolerance<float>(n)) << "relative error " << rel;
    sycl::free(x, q);
    commit_and_check_46656(q);
}

// A CPU commit that measures and uses threads leaves the application's FFTW
// as it was: its wisdom is unchanged and its plans stay single-threaded, as
// the application never asked for threads.
TEST(CpuRouteBesideApplicationFftw, CommitLeavesApplicationFftwAsItWas) {
    if (!in_child()) return run_in_child({});
    make_application_plan();
    char* w = fftwf_export_wisdom_to_string();
    ASSERT_NE(w, nullptr);
    const std::string wisdom_before = w;
    std::free(w);
    sycl::queue q{sycl::cpu_selector_v};
    const std::int64_t n = 1 << 15;
    dft::descriptor<dft::precision::SINGLE, dft::domain::COMPLEX> d(n);
    d.commit(q);
    w = fftwf_export_wisdom_to_string();
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(wisdom_before == w) << "the application's wisdom gained entries of the commit";
    std::free(w);
    fftwf_complex* a = fftwf_alloc_complex(n);
    fftwf_plan p = fftwf_plan_dft_1d(static_cast<int>(n), a, a, FFTW_FORWARD, FFTW_ESTIMATE);
    ASSERT_NE(p, nullptr);
    char* text = fftwf_sprint_plan(p);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::strstr(text, "thr"), nullptr) << "the application's plan runs on threads it did not ask for:\n" << text;
    std::free(text);
    fftwf_destroy_plan(p);
    fftwf_free(a);
}

namespace {

// One transform of the concurrency case: forward then backward, each checked.
// A fixed layout is out of place with the given offsets and backward stride
// (measured once, then found in the wisdom); otherwise placement and offsets
// are drawn for each transform.
struct shape {
    bool dbl, real;
    std::int64_t n, batch;
    bool fixed;
    std::int64_t foff, boff, bstride;
};

template <typename T, dft::domain D>
void round_trip(const shape& s, sycl::queue& q, std::mt19937& rng, unsigned seed) {
    constexpr bool real = D == dft::domain::REAL;
    constexpr dft::precision P = sizeof(T) == 8 ? dft::precision::DOUBLE : dft::precision::SINGLE;
    using fwd_t = std::conditional_t<real, T, std::complex<T>>;
    const std::int64_t n = s.n, m = real ? n / 2 + 1 : n, bs = s.fixed ? s.bstride : 1;
    const bool in_place = !real && !s.fixed && rng() % 2;
    // Offsets of the forward and backward domains (the same in place).
    const std::int64_t foff = s.fixed ? s.foff : rng() % 4;
    const std::int64_t boff = s.fixed ? s.boff : in_place ? foff : rng() % 4;
    dft::descriptor<P, D> d(n);
    d.set_value(dft::config_param::NUMBER_OF_TRANSFORMS, s.batch);
    d.set_value(dft::config_param::FWD_DISTANCE, n);
    d.set_value(dft::config_param::BWD_DISTANCE, m * bs);
    d.set_value(dft::config_param::FWD_STRIDES, std::vector<std::int64_t>{foff, 1});
    d.set_value(dft::config_param::BWD_STRIDES, std::vector<std::int64_t>{boff, bs});
    if (!in_place) d.set_value(dft::config_param::PLACEMENT, dft::config_value::NOT_INPLACE);
    d.commit(q);

    const auto in = test_signal(n * s.batch, real, seed);
    const auto want = application_forward(in, n, s.batch, real);
    auto* x = sycl::malloc_shared<fwd_t>(foff + n * s.batch, q);
    auto* y = in_place ? reinterpret_cast<std::complex<T>*>(x)
                       : sycl::malloc_shared<std::complex<T>>(boff + m * s.batch * bs, q);
    auto* z = in_place ? x : sycl::malloc_shared<fwd_t>(foff + n * s.batch, q);
    ASSERT_TRUE(x && y && z);
    for (std::int64_t i = 0; i < n * s.batch; ++i) {
        if constexpr (real) x[foff + i] = static_cast<T>(in[i].real());
        else x[foff + i] = std::complex<T>(in[i]);
    }
    sycl::event f, b;
    if (in_place) {
        f = dft::compute_forward(d, x);
        b = dft::compute_backward(d, x, {f});
    } else {
        f = dft::compute_forward<decltype(d), fwd_t, std::complex<T>>(d, x, y);
        b = dft::compute_backward<decltype(d), std::complex<T>, fwd_t>(d, y, z, {f});
    }
    f.wait_and_throw();
    // Out of place the forward result stays; in place only the round trip does.
    if (!in_place) {
        const double rel = relative_error(want, y, boff, bs);
        EXPECT_LE(rel, tolerance<T>(n)) << "forward, " << n << " points: relative error " << rel;
    }
    b.wait_and_throw();
    double err = 0, ref = 0;
    for (std::int64_t i = 0; i < n * s.batch; ++i) {
        const std::complex<double> got = std::complex<double>(z[foff + i]) / static_cast<double>(n);
        err = ovx_test::worse(err, std::abs(got - (real ? std::complex<double>(in[i].real(), 0) : in[i])));
        ref = std::max(ref, std::abs(in[i]));
    }
    EXPECT_LE(err / ref, 2 * tolerance<T>(n)) << "round trip, " << n << " points: relative error " << err / ref;
    if (!in_place) {
        sycl::free(y, q);
        sycl::free(z, q);
    }
    sycl::free(x, q);
}

}  // namespace

// Four threads commit and compute transforms (small ones planned without
// measuring, and large ones that measure and run on FFTW's threads, among
// them the 46656-point layout above) on a shared out-of-order queue and
// queues of their own, with host tasks started in shuffled order, while the
// application keeps planning and running FFTW transforms of its own (its
// first before any commit): every commit and compute ends, with right
// results.
TEST(CpuRouteConcurrency, InterleavedCommitsAndComputesOnShuffledQueuesEnd) {
    if (!in_child()) return run_in_child({"OVXPLAT_SHUFFLE=1", "OVXPLAT_SHUFFLE_SEED=20240521"});
    make_application_plan();
    // The large shapes are listed twice so that threads often compute them
    // while others commit.
    const shape shapes[] = {
        {false, false, 16, 3, false, 0, 0, 1},      {true, false, 15, 2, false, 0, 0, 1},
        {true, true, 64, 4, false, 0, 0, 1},        {false, true, 100, 1, false, 0, 0, 1},
        {true, false, 1000, 2, false, 0, 0, 1},     {false, true, 243, 5, false, 0, 0, 1},
        {false, false, 1 << 15, 1, true, 0, 0, 1},  {false, false, 1 << 15, 1, true, 0, 0, 1},
        {true, false, 46656, 1, true, 1, 5, 2},     {true, false, 46656, 1, true, 1, 5, 2},
    };
    sycl::queue shared{sycl::cpu_selector_v};
    std::atomic<bool> stop{false};
    std::thread application([&] {
        const int n = 1 << 14;
        std::vector<std::complex<double>> a(n), b(n);
        while (!stop.load()) {
            fftw_plan p;
            {
                std::lock_guard<std::mutex> g(application_planner());
                p = fftw_plan_dft_1d(n, reinterpret_cast<fftw_complex*>(a.data()),
                                     reinterpret_cast<fftw_complex*>(b.data()), FFTW_FORWARD, FFTW_ESTIMATE);
            }
            fftw_execute(p);
            std::lock_guard<std::mutex> g(application_planner());
            fftw_destroy_plan(p);
        }
    });
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t)
        workers.emplace_back([&, t] {
            std::mt19937 rng(100u + t);
            sycl::queue own{sycl::cpu_selector_v, sycl::property::queue::in_order{}};
            for (int i = 0; i < 10; ++i) {
                const shape& s = shapes[rng() % (sizeof shapes / sizeof *shapes)];
                sycl::queue& q = rng() % 2 ? shared : own;
                const unsigned seed = 1000u * t + i;
                try {
                    if (s.dbl && s.real) round_trip<double, dft::domain::REAL>(s, q, rng, seed);
                    else if (s.dbl) round_trip<double, dft::domain::COMPLEX>(s, q, rng, seed);
                    else if (s.real) round_trip<float, dft::domain::REAL>(s, q, rng, seed);
                    else round_trip<float, dft::domain::COMPLEX>(s, q, rng, seed);
                } catch (const std::exception& e) {
                    ADD_FAILURE() << "thread " << t << ", transform " << i << " of " << s.n << " points: " << e.what();
                }
            }
        });
    for (auto& w : workers) w.join();
    stop.store(true);
    application.join();
}
