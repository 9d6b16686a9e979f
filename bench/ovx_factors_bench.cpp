// Compute times of the sizes that the two-factor, 8192-point, three-factor
// and 1D real backends take, on the stand-in GPU (a device profile with
// sub-groups of 8), against FFTW on the CPU and, on the same OpenCL device,
// clFFT and VkFFT when they are installed. Not part of the tests.
//
//   ovx_factors_bench [--benchmark_filter=...] [--profile=quen5]
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <algorithm>
#include <complex>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <korami/ovx/dft.hpp>
#include <ovxplat/sycl_standin.hpp>
#include <sycl/sycl.hpp>

#include "ovx_bench_ocl.hpp"

namespace dft = korami::ovx::dft;

namespace {

struct bench_case {
    const char* backend;  // the backend meant to take the size
    bool real;
    bool dbl;
    std::int64_t n, batch;
};

const bench_case k_cases[] = {
    {"2facts", false, true, 64, 4096},   {"2facts", false, true, 1000, 256}, {"2facts", false, false, 4096, 64},
    {"8k", false, true, 8192, 32},       {"8k", false, false, 8192, 64},     {"3facts", false, true, 12000, 16},
    {"3facts", false, true, 4096, 64},   {"real", true, true, 1000, 256},    {"real", true, false, 999, 256},
};

std::string label(const bench_case& c) {
    return std::string(c.backend) + "/" + (c.real ? "r" : "c") + (c.dbl ? "d" : "s") + "/" + std::to_string(c.n) +
           "x" + std::to_string(c.batch);
}

sycl::queue& queue() {
    static sycl::queue q{sycl::gpu_selector_v};
    return q;
}

template <dft::precision P, dft::domain D>
void ovx_compute(benchmark::State& st, bench_case c) {
    using R = std::conditional_t<P == dft::precision::DOUBLE, double, float>;
    const std::int64_t h = c.n / 2 + 1;
    const std::int64_t fd = c.real ? c.n : c.n, bd = c.real ? h : c.n;
    dft::descriptor<P, D> d(c.n);
    d.set_value(dft::config_param::NUMBER_OF_TRANSFORMS, c.batch);
    d.set_value(dft::config_param::FWD_DISTANCE, fd);
    d.set_value(dft::config_param::BWD_DISTANCE, bd);
    d.set_value(dft::config_param::PLACEMENT, dft::config_value::NOT_INPLACE);
    d.commit(queue());
    const std::size_t in_reals = static_cast<std::size_t>(c.real ? fd * c.batch : 2 * fd * c.batch);
    R* in = sycl::malloc_shared<R>(in_reals, queue());
    std::complex<R>* out = sycl::malloc_shared<std::complex<R>>(static_cast<std::size_t>(bd * c.batch), queue());
    std::mt19937 g(3);
    std::uniform_real_distribution<R> u(-1, 1);
    for (std::size_t i = 0; i < in_reals; ++i) in[i] = u(g);
    auto once = [&] {
        if constexpr (D == dft::domain::REAL)
            dft::compute_forward(d, in, out).wait();
        else
            dft::compute_forward(d, reinterpret_cast<std::complex<R>*>(in), out).wait();
    };
    once();  // the device compiles each kernel on its first launch
    for (auto _ : st) once();
    st.SetItemsProcessed(st.iterations() * c.n * c.batch);
    sycl::free(in, queue());
    sycl::free(out, queue());
}

template <class R>
void fftw_compute(benchmark::State& st, bench_case c) {
    const int n = static_cast<int>(c.n), howmany = static_cast<int>(c.batch);
    const int h = n / 2 + 1;
    if constexpr (std::is_same_v<R, double>) {
        std::vector<std::complex<double>> out(static_cast<std::size_t>(c.real ? h : n) * howmany);
        std::vector<double> in(static_cast<std::size_t>(c.real ? n : 2 * n) * howmany, 0.5);
        fftw_plan p = c.real ? fftw_plan_many_dft_r2c(1, &n, howmany, in.data(), nullptr, 1, n,
                                                     reinterpret_cast<fftw_complex*>(out.data()), nullptr, 1, h,
                                                     FFTW_ESTIMATE)
                             : fftw_plan_many_dft(1, &n, howmany, reinterpret_cast<fftw_complex*>(in.data()), nullptr,
                                                  1, n, reinterpret_cast<fftw_complex*>(out.data()), nullptr, 1, n,
                                                  FFTW_FORWARD, FFTW_ESTIMATE);
        for (auto _ : st) fftw_execute(p);
        fftw_destroy_plan(p);
    } else {
        std::vector<std::complex<float>> out(static_cast<std::size_t>(c.real ? h : n) * howmany);
        std::vector<float> in(static_cast<std::size_t>(c.real ? n : 2 * n) * howmany, 0.5f);
        fftwf_plan p = c.real ? fftwf_plan_many_dft_r2c(1, &n, howmany, in.data(), nullptr, 1, n,
                                                       reinterpret_cast<fftwf_complex*>(out.data()), nullptr, 1, h,
                                                       FFTW_ESTIMATE)
                              : fftwf_plan_many_dft(1, &n, howmany, reinterpret_cast<fftwf_complex*>(in.data()),
                                                    nullptr, 1, n, reinterpret_cast<fftwf_complex*>(out.data()),
                                                    nullptr, 1, n, FFTW_FORWARD, FFTW_ESTIMATE);
        for (auto _ : st) fftwf_execute(p);
        fftwf_destroy_plan(p);
    }
    st.SetItemsProcessed(st.iterations() * c.n * c.batch);
}

#if defined(OVX_BENCH_CLFFT) || defined(OVX_BENCH_VKFFT)
ovx_bench::ocl_shape ocl_shape_of(const bench_case& c) {
    return {c.dbl, c.real, {static_cast<std::size_t>(c.n)}, static_cast<std::size_t>(c.batch)};
}

// Times the runner's transform; the first run (which compiles) is not counted.
template <class Runner>
void ocl_compute(benchmark::State& st, bench_case c) {
    Runner r(ocl_shape_of(c));
    if (!r.error.empty() || !r.run()) {
        st.SkipWithError(r.error.empty() ? "transform failed" : r.error.c_str());
        return;
    }
    for (auto _ : st) r.run();
    st.SetItemsProcessed(st.iterations() * c.n * c.batch);
}
#endif

}  // namespace

int main(int argc, char** argv) {
    std::string profile = "quen5";
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--profile=", 10) == 0)
            profile = argv[i] + 10;
        else
            args.push_back(argv[i]);
    }
    if (!ovxplat::select_gpu_profile(profile)) {
        std::fprintf(stderr, "unknown profile %s\n", profile.c_str());
        return 2;
    }
    for (const bench_case& c : k_cases) {
        const std::string l = label(c);
        if (c.real) {
            if (c.dbl)
                benchmark::RegisterBenchmark(("ovx/" + l).c_str(), ovx_compute<dft::precision::DOUBLE, dft::domain::REAL>, c)->UseRealTime()->Unit(benchmark::kMillisecond);
            else
                benchmark::RegisterBenchmark(("ovx/" + l).c_str(), ovx_compute<dft::precision::SINGLE, dft::domain::REAL>, c)->UseRealTime()->Unit(benchmark::kMillisecond);
        } else {
            if (c.dbl)
                benchmark::RegisterBenchmark(("ovx/" + l).c_str(), ovx_compute<dft::precision::DOUBLE, dft::domain::COMPLEX>, c)->UseRealTime()->Unit(benchmark::kMillisecond);
            else
                benchmark::RegisterBenchmark(("ovx/" + l).c_str(), ovx_compute<dft::precision::SINGLE, dft::domain::COMPLEX>, c)->UseRealTime()->Unit(benchmark::kMillisecond);
        }
        if (c.dbl)
            benchmark::RegisterBenchmark(("fftw/" + l).c_str(), fftw_compute<double>, c)->UseRealTime()->Unit(benchmark::kMillisecond);
        else
            benchmark::RegisterBenchmark(("fftw/" + l).c_str(), fftw_compute<float>, c)->UseRealTime()->Unit(benchmark::kMillisecond);
#ifdef OVX_BENCH_CLFFT
        benchmark::RegisterBenchmark(("clfft/" + l).c_str(), ocl_compute<ovx_bench::clfft_runner>, c)->UseRealTime()->Unit(benchmark::kMillisecond);
#endif
#ifdef OVX_BENCH_VKFFT
        benchmark::RegisterBenchmark(("vkfft/" + l).c_str(), ocl_compute<ovx_bench::vkfft_runner>, c)->UseRealTime()->Unit(benchmark::kMillisecond);
#endif
    }
    int n = static_cast<int>(args.size());
    benchmark::Initialize(&n, args.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
