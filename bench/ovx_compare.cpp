// Side-by-side compute times of batched forward transforms: the library on
// the GPU queue of the stand-in under the device profiles quen5 and quen6
// (with the backend that owns the committed node), the library on the CPU
// queue, FFTW on the host (all hardware threads, FFTW_MEASURE) and, when they
// are installed, VkFFT and clFFT on the machine's OpenCL device. Prints one
// markdown table. Not part of the tests.
//
//   ovx_compare [--shapes=1,3,...] [--reps=N] [--list]
//
// Every time is the minimum over N runs (default 10), each submitted and
// waited for, after one untimed run. The cells of a row are timed in turns
// (one run of each, N times, forward and backward in alternate rounds), so
// that every column sees the same load of the machine. The ratio is to the best time of the row. Beside each time: the
// first and the second commit (for the other libraries: plan) of the shape in
// the process.
#include <fftw3.h>

#include <algorithm>
#include <chrono>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include <korami/ovx/dft.hpp>
#include <ovxplat/sycl_standin.hpp>
#include <sycl/sycl.hpp>

#include "dft/ovx_dft_internal.hpp"
#include "ovx_bench_ocl.hpp"

namespace dft = korami::ovx::dft;

namespace {

struct shape {
    const char* name;
    bool dbl, real;
    std::vector<std::int64_t> lengths;
    std::int64_t batch;

    std::int64_t points() const {
        std::int64_t p = 1;
        for (std::int64_t l : lengths) p *= l;
        return p;
    }
    // Elements of one transform on the forward (real or complex) and the backward side.
    std::int64_t fwd_elems() const { return points(); }
    // The innermost (last) length keeps its half-spectrum on the real side.
    std::int64_t bwd_elems() const { return real ? points() / lengths.back() * (lengths.back() / 2 + 1) : points(); }
};

const shape k_shapes[] = {
    {"single c2c 1024 × 4096", false, false, {1024}, 4096},
    {"single c2c 4096 × 1024", false, false, {4096}, 1024},
    {"double c2c 1024 × 2048", true, false, {1024}, 2048},
    {"single r2c 4096 × 1024", false, true, {4096}, 1024},
    {"double c2c 1000 × 2048", true, false, {1000}, 2048},
    {"single c2c 64 × 65536", false, false, {64}, 65536},
    {"single c2c 512 × 512 × 16", false, false, {512, 512}, 16},
    {"single c2c 64 × 64 × 64 × 16", false, false, {64, 64, 64}, 16},
    {"double r2c 256 × 256", true, true, {256, 256}, 1},
    {"double c2c 4096 × 2048", true, false, {4096}, 2048},
    {"single c2c 16384 × 512", false, false, {16384}, 512},
    {"double c2c 2^22 × 1", true, false, {4194304}, 1},
    {"single c2c 2048 × 2048 × 2", false, false, {2048, 2048}, 2},
    {"double c2c 135 × 135 × 135 × 1", true, false, {135, 135, 135}, 1},
};

// One cell of the table: a time, the two commit (plan) times, and a note (the
// owning backend, or why nothing was measured).
struct cell {
    bool ran = false;
    double best_s = 0, first_s = 0, second_s = 0;
    std::string note;
};

using clock_type = std::chrono::steady_clock;
double since(clock_type::time_point t0) {
    return std::chrono::duration<double>(clock_type::now() - t0).count();
}

template <class T>
void fill(T* p, std::size_t n) {
    std::mt19937 g(11);
    std::uniform_real_distribution<double> u(-1, 1);
    for (std::size_t i = 0; i < n; ++i) p[i] = static_cast<T>(u(g));
}

// "bkd_c2c_1d_2_facts_s_ops" -> "c2c_1d_2_facts".
std::string owner_of(const DFTI_DESCRIPTOR* node) {
    std::string s = bkd_name(node ? node->bkd : nullptr);
    if (s.rfind("bkd_", 0) == 0 && s.size() > 10 && s.compare(s.size() - 6, 6, "_s_ops") == 0)
        return s.substr(4, s.size() - 10);
    if (s.rfind("bkd_", 0) == 0 && s.size() > 10 && s.compare(s.size() - 6, 6, "_d_ops") == 0)
        return s.substr(4, s.size() - 10);
    return s;
}

// A cell made ready to time: its commit (plan) times and note, and one run of
// its transform (false when the run fails). The run holds what it needs.
struct prepared {
    cell c;
    std::function<bool()> run;
};

template <dft::precision P, dft::domain D>
prepared library_prepare(const shape& s, sycl::queue q, bool gpu) {
    using R = std::conditional_t<P == dft::precision::DOUBLE, double, float>;
    using FT = std::conditional_t<D == dft::domain::REAL, R, std::complex<R>>;
    auto make = [&] {
        auto d = std::make_shared<dft::descriptor<P, D>>(s.lengths);
        d->set_value(dft::config_param::NUMBER_OF_TRANSFORMS, s.batch);
        d->set_value(dft::config_param::FWD_DISTANCE, s.fwd_elems());
        d->set_value(dft::config_param::BWD_DISTANCE, s.bwd_elems());
        d->set_value(dft::config_param::PLACEMENT, dft::config_value::NOT_INPLACE);
        return d;
    };
    prepared p;
    cell& c = p.c;
    try {
        auto d = make();
        auto t0 = clock_type::now();
        d->commit(q);
        c.first_s = since(t0);
        if (gpu) c.note = owner_of(dft::detail::descriptor_node(*d));
        {
            auto d2 = make();
            t0 = clock_type::now();
            d2->commit(q);
            c.second_s = since(t0);
        }
        const std::size_t ni = static_cast<std::size_t>(s.fwd_elems() * s.batch);
        const std::size_t no = static_cast<std::size_t>(s.bwd_elems() * s.batch);
        std::shared_ptr<FT> in(sycl::malloc_shared<FT>(ni, q), [q](FT* x) { sycl::free(x, q); });
        std::shared_ptr<std::complex<R>> out(sycl::malloc_shared<std::complex<R>>(no, q),
                                             [q](std::complex<R>* x) { sycl::free(x, q); });
        if (!in || !out) {
            c.note = "no memory";
            return p;
        }
        fill(reinterpret_cast<R*>(in.get()), D == dft::domain::REAL ? ni : 2 * ni);
        p.run = [d, in, out] {
            dft::compute_forward(*d, in.get(), out.get()).wait();
            return true;
        };
    } catch (const korami::ovx::unimplemented&) {
        c.note = "not built";
    } catch (const std::exception& e) {
        c.note = std::string("error: ") + e.what();
    }
    return p;
}

prepared library_prepare(const shape& s, sycl::queue q, bool gpu) {
    if (s.real)
        return s.dbl ? library_prepare<dft::precision::DOUBLE, dft::domain::REAL>(s, q, gpu)
                     : library_prepare<dft::precision::SINGLE, dft::domain::REAL>(s, q, gpu);
    return s.dbl ? library_prepare<dft::precision::DOUBLE, dft::domain::COMPLEX>(s, q, gpu)
                 : library_prepare<dft::precision::SINGLE, dft::domain::COMPLEX>(s, q, gpu);
}

// Times prepared cells in turns: one untimed run of each, then one timed run
// of each in turn, `reps` times; each cell keeps its minimum. All of them see
// the same states of the machine (its other load, the caches), which timing
// one cell's runs after another's does not give. The turns go forward and
// backward in alternate rounds, so that each cell runs after both of its
// neighbours: a cell's time depends on the one before it (single c2c
// 512 x 512 x 16, library CPU queue over FFTW: 1.13-1.29 with the CPU queue
// always right after the quen6 cell, 0.96-1.01 with FFTW always right after
// VkFFT).
void timed_in_turns(const std::vector<prepared*>& cells, int reps) {
    const std::size_t n = cells.size();
    std::vector<char> ok(n, 0);
    std::vector<double> best(n, 1e30);
    auto run_one = [&](std::size_t k, bool timed) {
        prepared& p = *cells[k];
        try {
            const auto t0 = clock_type::now();
            ok[k] = p.run();
            if (ok[k] && timed) best[k] = std::min(best[k], since(t0));
            if (!ok[k] && p.c.note.empty()) p.c.note = "transform failed";
        } catch (const std::exception& e) {
            ok[k] = 0;
            p.c.note = std::string("error: ") + e.what();
        }
    };
    for (std::size_t k = 0; k < n; ++k)
        if (cells[k]->run) run_one(k, false);
    for (int i = 0; i < reps; ++i)
        for (std::size_t j = 0; j < n; ++j) {
            const std::size_t k = i % 2 ? n - 1 - j : j;
            if (ok[k]) run_one(k, true);
        }
    for (std::size_t k = 0; k < n; ++k) {
        cells[k]->c.ran = ok[k] != 0;
        if (ok[k]) cells[k]->c.best_s = best[k];
    }
}

// The library on the GPU queue under a device profile; each run selects the
// profile again, as the cells of a row run in turns.
prepared gpu_prepare(const shape& s, const char* profile) {
    ovxplat::scoped_gpu_profile prof(profile);
    if (!prof.ok()) {
        prepared p;
        p.c.note = std::string("no profile ") + profile;
        return p;
    }
    sycl::queue q{sycl::gpu_selector_v};
    prepared p = library_prepare(s, q, true);
    if (p.run) {
        std::function<bool()> run = std::move(p.run);
        const std::string name = profile;
        p.run = [run, name] {
            ovxplat::scoped_gpu_profile in_force(name);
            return run();
        };
    }
    return p;
}

prepared cpu_prepare(const shape& s) {
    sycl::queue q{sycl::cpu_selector_v};
    return library_prepare(s, q, false);
}

// FFTW of both precisions behind one interface.
template <class R>
struct fftw_api;
#define OVX_FFTW_API(R, X)                                                                                        \
    template <>                                                                                                   \
    struct fftw_api<R> {                                                                                          \
        using plan = X##_plan;                                                                                    \
        static void* alloc(std::size_t b) { return X##_malloc(b); }                                               \
        static void release(void* p) { X##_free(p); }                                                             \
        static void threads(int n) { X##_plan_with_nthreads(n); }                                                 \
        static void forget() { X##_forget_wisdom(); }                                                             \
        static plan make(const shape& s, void* in, void* out) {                                                   \
            std::vector<int> n(s.lengths.begin(), s.lengths.end());                                               \
            const int rank = static_cast<int>(n.size()), howmany = static_cast<int>(s.batch);                     \
            const int idist = static_cast<int>(s.fwd_elems()), odist = static_cast<int>(s.bwd_elems());           \
            if (s.real)                                                                                           \
                return X##_plan_many_dft_r2c(rank, n.data(), howmany, static_cast<R*>(in), nullptr, 1, idist,     \
                                             static_cast<X##_complex*>(out), nullptr, 1, odist, FFTW_MEASURE);    \
            return X##_plan_many_dft(rank, n.data(), howmany, static_cast<X##_complex*>(in), nullptr, 1, idist,   \
                                     static_cast<X##_complex*>(out), nullptr, 1, odist, FFTW_FORWARD,             \
                                     FFTW_MEASURE);                                                               \
        }                                                                                                         \
        static void run(plan p) { X##_execute(p); }                                                               \
        static void destroy(plan p) { X##_destroy_plan(p); }                                                      \
    };
OVX_FFTW_API(double, fftw)
OVX_FFTW_API(float, fftwf)
#undef OVX_FFTW_API

template <class R>
prepared fftw_prepare_of(const shape& s) {
    using api = fftw_api<R>;
    prepared pr;
    cell& c = pr.c;
    const std::size_t ni = static_cast<std::size_t>(s.fwd_elems() * s.batch) * (s.real ? 1 : 2);
    const std::size_t no = static_cast<std::size_t>(s.bwd_elems() * s.batch) * 2;
    std::shared_ptr<void> in(api::alloc(ni * sizeof(R)), api::release);
    std::shared_ptr<void> out(api::alloc(no * sizeof(R)), api::release);
    if (!in || !out) {
        c.note = "no memory";
        return pr;
    }
    api::threads(static_cast<int>(std::max(1u, std::thread::hardware_concurrency())));
    auto t0 = clock_type::now();
    typename api::plan p = api::make(s, in.get(), out.get());  // measuring overwrites the arrays
    c.first_s = since(t0);
    if (!p) {
        c.note = "no plan";
        return pr;
    }
    api::destroy(p);
    t0 = clock_type::now();
    p = api::make(s, in.get(), out.get());  // from the wisdom of the first
    c.second_s = since(t0);
    if (!p) {
        c.note = "no plan";
        return pr;
    }
    fill(static_cast<R*>(in.get()), ni);
    std::shared_ptr<std::remove_pointer_t<typename api::plan>> plan(p, api::destroy);
    pr.run = [plan, in, out] {
        api::run(plan.get());
        return true;
    };
    return pr;
}

// Each shape's FFTW starts from an empty planner: its thread count and the
// wisdom gathered are reset once its cell is timed. (The CPU queue computes
// with the CPU transform library's own copy of FFTW, which this does not touch.)
template <class R>
void fftw_reset() {
    fftw_api<R>::threads(1);
    fftw_api<R>::forget();
}

prepared fftw_prepare(const shape& s) { return s.dbl ? fftw_prepare_of<double>(s) : fftw_prepare_of<float>(s); }

#if defined(OVX_BENCH_CLFFT) || defined(OVX_BENCH_VKFFT)
template <class Runner>
prepared ocl_prepare(const shape& s) {
    ovx_bench::ocl_shape o{s.dbl, s.real, {}, static_cast<std::size_t>(s.batch)};
    for (std::int64_t l : s.lengths) o.lengths.push_back(static_cast<std::size_t>(l));
    prepared p;
    cell& c = p.c;
    auto t0 = clock_type::now();
    {
        Runner first(o);
        c.first_s = since(t0);
        if (!first.error.empty()) {
            c.note = first.error;
            return p;
        }
    }
    t0 = clock_type::now();
    auto r = std::make_shared<Runner>(o);
    c.second_s = since(t0);
    if (!r->error.empty()) {
        c.note = r->error;
        return p;
    }
    p.run = [r] { return r->run(); };
    return p;
}
#endif

std::string seconds(double s) {
    char b[32];
    if (s >= 1)
        std::snprintf(b, sizeof b, "%.2f s", s);
    else if (s >= 1e-3)
        std::snprintf(b, sizeof b, "%.3g ms", s * 1e3);
    else
        std::snprintf(b, sizeof b, "%.3g µs", s * 1e6);
    return b;
}

std::string render(const cell& c, double row_best) {
    if (!c.ran) return c.note.empty() ? "–" : c.note;
    char r[32];
    std::snprintf(r, sizeof r, " (%.2f×)", c.best_s / row_best);
    return (c.note.empty() ? "" : c.note + ": ") + "**" + seconds(c.best_s) + "**" + r + "; commit " +
           seconds(c.first_s) + " / " + seconds(c.second_s);
}

std::string cpu_model() {
    std::ifstream f("/proc/cpuinfo");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind("model name", 0) == 0) {
            const auto p = line.find(':');
            return p == std::string::npos ? line : line.substr(p + 2);
        }
    return "unknown CPU";
}

int usage() {
    std::fprintf(stderr, "usage: ovx_compare [--shapes=1,3,...] [--reps=N] [--list]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    const int count = static_cast<int>(sizeof k_shapes / sizeof k_shapes[0]);
    std::vector<int> chosen;
    int reps = 10;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--list") {
            for (int k = 0; k < count; ++k) std::printf("%d  %s\n", k + 1, k_shapes[k].name);
            return 0;
        } else if (a.rfind("--reps=", 0) == 0) {
            char* end = nullptr;
            reps = static_cast<int>(std::strtol(a.c_str() + 7, &end, 10));
            if (*end || reps < 1) return usage();
        } else if (a.rfind("--shapes=", 0) == 0) {
            const char* p = a.c_str() + 9;
            while (*p) {
                char* end = nullptr;
                const long k = std::strtol(p, &end, 10);
                if (end == p || k < 1 || k > count || (*end && *end != ',')) return usage();
                chosen.push_back(static_cast<int>(k) - 1);
                p = *end ? end + 1 : end;
            }
        } else {
            return usage();
        }
    }
    if (chosen.empty())
        for (int k = 0; k < count; ++k) chosen.push_back(k);

    std::printf("Machine: %u hardware threads, %s. Times: minimum of %d waited runs after one untimed run, the "
                "cells of a row in turns, forward and backward in alternate rounds; "
                "(×) ratio to the best of the row; commit: first / second in the process (plan for FFTW, "
                "VkFFT, clFFT); PoCL's on-disk kernel cache (off with POCL_KERNEL_CACHE=0) serves programs built by "
                "earlier runs.\n\n",
                std::thread::hardware_concurrency(), cpu_model().c_str(), reps);
    std::printf("| shape | library, GPU queue, quen5 | library, GPU queue, quen6 | library, CPU queue | FFTW "
                "| VkFFT | clFFT |\n|---|---|---|---|---|---|---|\n");
    std::fflush(stdout);
    fftw_init_threads();
    fftwf_init_threads();
    for (int k : chosen) {
        const shape& s = k_shapes[k];
        std::vector<cell> row;
        {
            // Every column computes on the same cores: the row's runs are
            // timed in turns.
            prepared cells[6];
            cells[0] = gpu_prepare(s, "quen5");
            cells[1] = gpu_prepare(s, "quen6");
            cells[2] = cpu_prepare(s);
            cells[3] = fftw_prepare(s);
#ifdef OVX_BENCH_VKFFT
            cells[4] = ocl_prepare<ovx_bench::vkfft_runner>(s);
#else
            cells[4].c.note = "not installed";
#endif
#ifdef OVX_BENCH_CLFFT
            cells[5] = ocl_prepare<ovx_bench::clfft_runner>(s);
#else
            cells[5].c.note = "not installed";
#endif
            std::vector<prepared*> all;
            for (prepared& p : cells) all.push_back(&p);
            timed_in_turns(all, reps);
            for (prepared& p : cells) row.push_back(p.c);
        }
        if (s.dbl) fftw_reset<double>();
        else fftw_reset<float>();
        double best = 1e30;
        for (const cell& c : row)
            if (c.ran) best = std::min(best, c.best_s);
        std::printf("| %s |", s.name);
        for (const cell& c : row) std::printf(" %s |", render(c, best).c_str());
        std::printf("\n");
        std::fflush(stdout);
    }
    fftw_cleanup_threads();
    fftwf_cleanup_threads();
    return 0;
}
