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

#if defined(OVX_BENCH_CLFFT) || defined(OVX_BENCH_VKFFT)
#include <CL/cl.h>
#endif
#ifdef OVX_BENCH_CLFFT
#include <clFFT.h>
#endif
#ifdef OVX_BENCH_VKFFT
#include <vkFFT.h>
#endif

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
// The machine's OpenCL device, straight through the ICD loader.
struct cl_device_env {
    cl_platform_id platform{};
    cl_device_id device{};
    cl_context ctx{};
    cl_command_queue q{};
    bool ok = false;
    cl_device_env() {
        cl_uint n = 0;
        if (clGetPlatformIDs(1, &platform, &n) != CL_SUCCESS || n == 0) return;
        if (clGetDeviceIDs(platform, CL_DEVICE_TYPE_ALL, 1, &device, &n) != CL_SUCCESS || n == 0) return;
        cl_int e;
        ctx = clCreateContext(nullptr, 1, &device, nullptr, nullptr, &e);
        if (e != CL_SUCCESS) return;
        q = clCreateCommandQueueWithProperties(ctx, device, nullptr, &e);
        ok = e == CL_SUCCESS;
    }
};
cl_device_env& cl_env() {
    static cl_device_env e;
    return e;
}
std::size_t bytes_of(const bench_case& c, bool out) {
    const std::size_t elem = c.dbl ? 8 : 4;
    const std::int64_t h = c.n / 2 + 1;
    if (c.real) return static_cast<std::size_t>(out ? 2 * h : c.n) * elem * static_cast<std::size_t>(c.batch);
    return static_cast<std::size_t>(2 * c.n) * elem * static_cast<std::size_t>(c.batch);
}
#endif

#ifdef OVX_BENCH_CLFFT
void clfft_compute(benchmark::State& st, bench_case c) {
    cl_device_env& env = cl_env();
    if (!env.ok) {
        st.SkipWithError("no OpenCL device");
        return;
    }
    clfftSetupData setup;
    clfftInitSetupData(&setup);
    clfftSetup(&setup);
    clfftPlanHandle plan;
    std::size_t len = static_cast<std::size_t>(c.n);
    clfftCreateDefaultPlan(&plan, env.ctx, CLFFT_1D, &len);
    clfftSetPlanPrecision(plan, c.dbl ? CLFFT_DOUBLE : CLFFT_SINGLE);
    clfftSetLayout(plan, c.real ? CLFFT_REAL : CLFFT_COMPLEX_INTERLEAVED,
                   c.real ? CLFFT_HERMITIAN_INTERLEAVED : CLFFT_COMPLEX_INTERLEAVED);
    clfftSetResultLocation(plan, CLFFT_OUTOFPLACE);
    clfftSetPlanBatchSize(plan, static_cast<std::size_t>(c.batch));
    std::size_t in_dist = c.real ? static_cast<std::size_t>(c.n) : static_cast<std::size_t>(c.n);
    std::size_t out_dist = c.real ? static_cast<std::size_t>(c.n / 2 + 1) : static_cast<std::size_t>(c.n);
    clfftSetPlanDistance(plan, in_dist, out_dist);
    if (clfftBakePlan(plan, 1, &env.q, nullptr, nullptr) != CLFFT_SUCCESS) {
        st.SkipWithError("clfftBakePlan failed");
        clfftDestroyPlan(&plan);
        clfftTeardown();
        return;
    }
    cl_int e;
    cl_mem a = clCreateBuffer(env.ctx, CL_MEM_READ_WRITE, bytes_of(c, false), nullptr, &e);
    cl_mem b = clCreateBuffer(env.ctx, CL_MEM_READ_WRITE, bytes_of(c, true), nullptr, &e);
    clfftEnqueueTransform(plan, CLFFT_FORWARD, 1, &env.q, 0, nullptr, nullptr, &a, &b, nullptr);
    clFinish(env.q);  // first launch compiles
    for (auto _ : st) {
        clfftEnqueueTransform(plan, CLFFT_FORWARD, 1, &env.q, 0, nullptr, nullptr, &a, &b, nullptr);
        clFinish(env.q);
    }
    st.SetItemsProcessed(st.iterations() * c.n * c.batch);
    clReleaseMemObject(a);
    clReleaseMemObject(b);
    clfftDestroyPlan(&plan);
    clfftTeardown();
}
#endif

#ifdef OVX_BENCH_VKFFT
void vkfft_compute(benchmark::State& st, bench_case c) {
    cl_device_env& env = cl_env();
    if (!env.ok) {
        st.SkipWithError("no OpenCL device");
        return;
    }
    cl_int e;
    const std::size_t bytes = std::max(bytes_of(c, false), bytes_of(c, true));
    cl_mem buf = clCreateBuffer(env.ctx, CL_MEM_READ_WRITE, bytes, nullptr, &e);
    std::uint64_t size = bytes;
    VkFFTConfiguration conf = {};
    VkFFTApplication app = {};
    conf.FFTdim = 1;
    conf.size[0] = static_cast<std::uint64_t>(c.n);
    conf.numberBatches = static_cast<std::uint64_t>(c.batch);
    conf.doublePrecision = c.dbl ? 1 : 0;
    conf.performR2C = c.real ? 1 : 0;
    conf.platform = &env.platform;
    conf.device = &env.device;
    conf.context = &env.ctx;
    conf.buffer = &buf;
    conf.bufferSize = &size;
    if (initializeVkFFT(&app, conf) != VKFFT_SUCCESS) {
        st.SkipWithError("initializeVkFFT failed");
        clReleaseMemObject(buf);
        return;
    }
    VkFFTLaunchParams lp = {};
    lp.commandQueue = &env.q;
    lp.buffer = &buf;
    VkFFTAppend(&app, -1, &lp);
    clFinish(env.q);  // first launch compiles
    for (auto _ : st) {
        VkFFTAppend(&app, -1, &lp);
        clFinish(env.q);
    }
    st.SetItemsProcessed(st.iterations() * c.n * c.batch);
    deleteVkFFT(&app);
    clReleaseMemObject(buf);
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
        benchmark::RegisterBenchmark(("clfft/" + l).c_str(), clfft_compute, c)->UseRealTime()->Unit(benchmark::kMillisecond);
#endif
#ifdef OVX_BENCH_VKFFT
        benchmark::RegisterBenchmark(("vkfft/" + l).c_str(), vkfft_compute, c)->UseRealTime()->Unit(benchmark::kMillisecond);
#endif
    }
    int n = static_cast<int>(args.size());
    benchmark::Initialize(&n, args.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
