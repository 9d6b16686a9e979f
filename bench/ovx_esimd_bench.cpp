// Compute time of the explicit-SIMD two-factor plan (through its own driver,
// on the stand-in GPU) for single 1024 x 1024, double 1024 x 1024 and single
// 256^3, against FFTW on the same data and, when installed, VkFFT on the
// machine's OpenCL device. Never part of the tests.
//
//   ovx_esimd_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <complex>
#include <cstdint>
#include <random>
#include <vector>

#include <sycl/sycl.hpp>

#include "../dft/gpu/esimd/ovx_dft_esimd_2_facts.hpp"

#ifdef OVX_BENCH_VKFFT
#include <CL/cl.h>
#include <vkFFT.h>
#endif

namespace dft = korami::ovx::dft;

namespace {

struct bench_case {
    bool dbl;
    std::vector<std::int64_t> l;  // dimension 0 fastest
};

std::string label(const bench_case& c) {
    std::string s = c.dbl ? "d" : "s";
    for (auto v : c.l) s += "/" + std::to_string(v);
    return s;
}

std::int64_t points(const bench_case& c) {
    std::int64_t p = 1;
    for (auto v : c.l) p *= v;
    return p;
}

template <typename T>
void esimd_compute(benchmark::State& st, bench_case c) {
    sycl::queue q{sycl::gpu_selector_v};
    const std::int64_t p = points(c);
    const std::int64_t s[3] = {1, c.l[0], c.l[0] * c.l[1]};
    dft::esimd_2_facts_plan<T> plan(c.l, T(1), 1, p, p, s, s, false);
    if (plan.commit(&q) != 0) {
        st.SkipWithError("plan not applicable");
        return;
    }
    std::mt19937 g(7);
    std::uniform_real_distribution<double> d(-1, 1);
    std::vector<T> host(std::size_t(2 * p));
    for (auto& v : host) v = T(d(g));
    T* in = sycl::malloc_device<T>(host.size(), q);
    T* out = sycl::malloc_device<T>(host.size(), q);
    q.memcpy(in, host.data(), host.size() * sizeof(T)).wait();
    std::vector<sycl::event> deps;
    for (auto _ : st) dft::ovx_dft_gpu_dft_esimd_2_facts_compute<0, T>(plan, in, out, deps).wait();
    st.SetItemsProcessed(st.iterations() * p);
    sycl::free(in, q);
    sycl::free(out, q);
}

template <typename T>
void fftw_compute(benchmark::State& st, bench_case c) {
    const std::int64_t p = points(c);
    std::vector<int> dims(c.l.rbegin(), c.l.rend());
    std::vector<std::complex<T>> in(std::size_t(p), {T(0.5), T(-0.25)}), out(in.size());
    if constexpr (std::is_same_v<T, double>) {
        fftw_plan f = fftw_plan_dft(int(dims.size()), dims.data(), reinterpret_cast<fftw_complex*>(in.data()),
                                    reinterpret_cast<fftw_complex*>(out.data()), FFTW_FORWARD, FFTW_ESTIMATE);
        for (auto _ : st) fftw_execute(f);
        fftw_destroy_plan(f);
    } else {
        fftwf_plan f = fftwf_plan_dft(int(dims.size()), dims.data(), reinterpret_cast<fftwf_complex*>(in.data()),
                                      reinterpret_cast<fftwf_complex*>(out.data()), FFTW_FORWARD, FFTW_ESTIMATE);
        for (auto _ : st) fftwf_execute(f);
        fftwf_destroy_plan(f);
    }
    st.SetItemsProcessed(st.iterations() * p);
}

#ifdef OVX_BENCH_VKFFT
void vkfft_compute(benchmark::State& st, bench_case c) {
    cl_platform_id platform{};
    cl_device_id device{};
    cl_uint n = 0;
    if (clGetPlatformIDs(1, &platform, &n) != CL_SUCCESS || n == 0 ||
        clGetDeviceIDs(platform, CL_DEVICE_TYPE_ALL, 1, &device, &n) != CL_SUCCESS || n == 0) {
        st.SkipWithError("no OpenCL device");
        return;
    }
    cl_int e;
    cl_context ctx = clCreateContext(nullptr, 1, &device, nullptr, nullptr, &e);
    cl_command_queue q = clCreateCommandQueueWithProperties(ctx, device, nullptr, &e);
    std::uint64_t bytes = std::uint64_t(points(c)) * (c.dbl ? 16 : 8);
    cl_mem buf = clCreateBuffer(ctx, CL_MEM_READ_WRITE, bytes, nullptr, &e);
    VkFFTConfiguration conf = {};
    VkFFTApplication app = {};
    conf.FFTdim = c.l.size();
    for (std::size_t i = 0; i < c.l.size(); ++i) conf.size[i] = std::uint64_t(c.l[i]);
    conf.doublePrecision = c.dbl ? 1 : 0;
    conf.platform = &platform;
    conf.device = &device;
    conf.context = &ctx;
    conf.buffer = &buf;
    conf.bufferSize = &bytes;
    if (initializeVkFFT(&app, conf) == VKFFT_SUCCESS) {
        VkFFTLaunchParams lp = {};
        lp.commandQueue = &q;
        lp.buffer = &buf;
        VkFFTAppend(&app, -1, &lp);
        clFinish(q);  // the first launch compiles
        for (auto _ : st) {
            VkFFTAppend(&app, -1, &lp);
            clFinish(q);
        }
        st.SetItemsProcessed(st.iterations() * points(c));
        deleteVkFFT(&app);
    } else {
        st.SkipWithError("initializeVkFFT failed");
    }
    clReleaseMemObject(buf);
    clReleaseCommandQueue(q);
    clReleaseContext(ctx);
}
#endif

}  // namespace

int main(int argc, char** argv) {
    const bench_case cases[] = {{false, {1024, 1024}}, {true, {1024, 1024}}, {false, {256, 256, 256}}};
    for (const auto& c : cases) {
        const std::string l = label(c);
        auto* e = c.dbl ? benchmark::RegisterBenchmark(("esimd/" + l).c_str(), esimd_compute<double>, c)
                        : benchmark::RegisterBenchmark(("esimd/" + l).c_str(), esimd_compute<float>, c);
        e->UseRealTime()->Unit(benchmark::kMillisecond);
        auto* f = c.dbl ? benchmark::RegisterBenchmark(("fftw/" + l).c_str(), fftw_compute<double>, c)
                        : benchmark::RegisterBenchmark(("fftw/" + l).c_str(), fftw_compute<float>, c);
        f->UseRealTime()->Unit(benchmark::kMillisecond);
#ifdef OVX_BENCH_VKFFT
        benchmark::RegisterBenchmark(("vkfft/" + l).c_str(), vkfft_compute, c)
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
#endif
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
