// Commit and compute times of 1D complex transforms on the GPU queue of the
// stand-in, against FFTW on the same data (and clFFT on the same OpenCL
// device when available). Sizes cover the plan kinds of the general 1D
// backend: one straight-line factor, two and four passes, generic factors
// and the grouped launch.
//
//   ovx_dft_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <complex>
#include <cstdint>
#include <random>
#include <vector>

#include <korami/ovx/dft.hpp>
#include <sycl/sycl.hpp>

#ifdef OVX_BENCH_CLFFT
#include <clFFT.h>
#endif

namespace dft = korami::ovx::dft;

namespace {

sycl::queue& queue() {
    static sycl::queue q{sycl::gpu_selector_v};
    return q;
}

template <class R>
std::vector<std::complex<R>> data(std::size_t n) {
    std::mt19937 g(7);
    std::uniform_real_distribution<double> d(-1, 1);
    std::vector<std::complex<R>> v(n);
    for (auto& x : v) x = {static_cast<R>(d(g)), static_cast<R>(d(g))};
    return v;
}

template <dft::precision P>
using real_t = std::conditional_t<P == dft::precision::DOUBLE, double, float>;

// Commit of a fresh descriptor (kernels come from the cache after the first).
template <dft::precision P>
void BM_ovx_commit(benchmark::State& st) {
    const std::int64_t n = st.range(0), batch = st.range(1);
    auto commit_once = [&] {
        dft::descriptor<P, dft::domain::COMPLEX> d(n);
        d.set_value(dft::config_param::NUMBER_OF_TRANSFORMS, batch);
        d.set_value(dft::config_param::FWD_DISTANCE, n);
        d.set_value(dft::config_param::BWD_DISTANCE, n);
        d.set_value(dft::config_param::PLACEMENT, dft::config_value::NOT_INPLACE);
        d.commit(queue());
    };
    commit_once();  // the first commit builds the programs; later ones take them from the cache
    for (auto _ : st) {
        dft::descriptor<P, dft::domain::COMPLEX> d(n);
        d.set_value(dft::config_param::NUMBER_OF_TRANSFORMS, batch);
        d.set_value(dft::config_param::FWD_DISTANCE, n);
        d.set_value(dft::config_param::BWD_DISTANCE, n);
        d.set_value(dft::config_param::PLACEMENT, dft::config_value::NOT_INPLACE);
        d.commit(queue());
    }
}

template <dft::precision P>
void BM_ovx_compute(benchmark::State& st) {
    using C = std::complex<real_t<P>>;
    const std::int64_t n = st.range(0), batch = st.range(1);
    const std::size_t total = static_cast<std::size_t>(n * batch);
    dft::descriptor<P, dft::domain::COMPLEX> d(n);
    d.set_value(dft::config_param::NUMBER_OF_TRANSFORMS, batch);
    d.set_value(dft::config_param::FWD_DISTANCE, n);
    d.set_value(dft::config_param::BWD_DISTANCE, n);
    d.set_value(dft::config_param::PLACEMENT, dft::config_value::NOT_INPLACE);
    d.commit(queue());
    C* in = sycl::malloc_shared<C>(total, queue());
    C* out = sycl::malloc_shared<C>(total, queue());
    const auto x = data<real_t<P>>(total);
    std::copy(x.begin(), x.end(), in);
    dft::compute_forward(d, in, out).wait();  // first launch compiles for the device
    for (auto _ : st) dft::compute_forward(d, in, out).wait();
    st.SetItemsProcessed(st.iterations() * static_cast<std::int64_t>(total));
    sycl::free(in, queue());
    sycl::free(out, queue());
}

void BM_fftw_plan_double(benchmark::State& st) {
    const int n = static_cast<int>(st.range(0)), batch = static_cast<int>(st.range(1));
    auto x = data<double>(static_cast<std::size_t>(n) * batch);
    std::vector<std::complex<double>> y(x.size());
    for (auto _ : st) {
        fftw_plan p = fftw_plan_many_dft(1, &n, batch, reinterpret_cast<fftw_complex*>(x.data()), nullptr, 1, n,
                                         reinterpret_cast<fftw_complex*>(y.data()), nullptr, 1, n, FFTW_FORWARD,
                                         FFTW_ESTIMATE);
        fftw_destroy_plan(p);
    }
}

void BM_fftw_execute_double(benchmark::State& st) {
    const int n = static_cast<int>(st.range(0)), batch = static_cast<int>(st.range(1));
    auto x = data<double>(static_cast<std::size_t>(n) * batch);
    std::vector<std::complex<double>> y(x.size());
    fftw_plan p = fftw_plan_many_dft(1, &n, batch, reinterpret_cast<fftw_complex*>(x.data()), nullptr, 1, n,
                                     reinterpret_cast<fftw_complex*>(y.data()), nullptr, 1, n, FFTW_FORWARD,
                                     FFTW_ESTIMATE);
    for (auto _ : st) fftw_execute(p);
    fftw_destroy_plan(p);
    st.SetItemsProcessed(st.iterations() * n * batch);
}

void BM_fftw_execute_float(benchmark::State& st) {
    const int n = static_cast<int>(st.range(0)), batch = static_cast<int>(st.range(1));
    auto x = data<float>(static_cast<std::size_t>(n) * batch);
    std::vector<std::complex<float>> y(x.size());
    fftwf_plan p = fftwf_plan_many_dft(1, &n, batch, reinterpret_cast<fftwf_complex*>(x.data()), nullptr, 1, n,
                                       reinterpret_cast<fftwf_complex*>(y.data()), nullptr, 1, n, FFTW_FORWARD,
                                       FFTW_ESTIMATE);
    for (auto _ : st) fftwf_execute(p);
    fftwf_destroy_plan(p);
    st.SetItemsProcessed(st.iterations() * n * batch);
}

#ifdef OVX_BENCH_CLFFT
// clFFT on the machine's OpenCL device, single precision, out of place.
void BM_clfft_execute_float(benchmark::State& st) {
    const std::size_t n = static_cast<std::size_t>(st.range(0)), batch = static_cast<std::size_t>(st.range(1));
    cl_platform_id plat;
    cl_device_id dev;
    cl_int err = clGetPlatformIDs(1, &plat, nullptr);
    if (err == CL_SUCCESS) err = clGetDeviceIDs(plat, CL_DEVICE_TYPE_ALL, 1, &dev, nullptr);
    if (err != CL_SUCCESS) {
        st.SkipWithError("no OpenCL device");
        return;
    }
    cl_context ctx = clCreateContext(nullptr, 1, &dev, nullptr, nullptr, &err);
    cl_command_queue q = clCreateCommandQueueWithProperties(ctx, dev, nullptr, &err);
    clfftSetupData setup;
    clfftInitSetupData(&setup);
    clfftSetup(&setup);
    clfftPlanHandle plan;
    size_t len = n;
    clfftCreateDefaultPlan(&plan, ctx, CLFFT_1D, &len);
    clfftSetPlanPrecision(plan, CLFFT_SINGLE);
    clfftSetLayout(plan, CLFFT_COMPLEX_INTERLEAVED, CLFFT_COMPLEX_INTERLEAVED);
    clfftSetResultLocation(plan, CLFFT_OUTOFPLACE);
    clfftSetPlanBatchSize(plan, batch);
    clfftSetPlanDistance(plan, n, n);
    if (clfftBakePlan(plan, 1, &q, nullptr, nullptr) != CLFFT_SUCCESS) {
        st.SkipWithError("clFFT does not take this size");
    } else {
        auto x = data<float>(n * batch);
        cl_mem a = clCreateBuffer(ctx, CL_MEM_READ_WRITE | CL_MEM_COPY_HOST_PTR, x.size() * 8, x.data(), &err);
        cl_mem b = clCreateBuffer(ctx, CL_MEM_READ_WRITE, x.size() * 8, nullptr, &err);
        clfftEnqueueTransform(plan, CLFFT_FORWARD, 1, &q, 0, nullptr, nullptr, &a, &b, nullptr);
        clFinish(q);
        for (auto _ : st) {
            clfftEnqueueTransform(plan, CLFFT_FORWARD, 1, &q, 0, nullptr, nullptr, &a, &b, nullptr);
            clFinish(q);
        }
        st.SetItemsProcessed(st.iterations() * static_cast<std::int64_t>(n * batch));
        clReleaseMemObject(a);
        clReleaseMemObject(b);
    }
    clfftDestroyPlan(&plan);
    clfftTeardown();
    clReleaseCommandQueue(q);
    clReleaseContext(ctx);
}
#endif

void sizes(benchmark::internal::Benchmark* b) {
    // {length, batch}
    for (auto s : std::vector<std::pair<int, int>>{{7, 4096}, {75, 1000}, {1000, 64}, {4757, 8}, {1 << 16, 4}, {1 << 20, 1}})
        b->Args({s.first, s.second});
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(BM_ovx_commit<dft::precision::DOUBLE>)->Apply(sizes);
BENCHMARK(BM_ovx_compute<dft::precision::DOUBLE>)->Apply(sizes);
BENCHMARK(BM_ovx_compute<dft::precision::SINGLE>)->Apply(sizes);
BENCHMARK(BM_fftw_plan_double)->Apply(sizes);
BENCHMARK(BM_fftw_execute_double)->Apply(sizes);
BENCHMARK(BM_fftw_execute_float)->Apply(sizes);
#ifdef OVX_BENCH_CLFFT
BENCHMARK(BM_clfft_execute_float)->Apply(sizes);
#endif

}  // namespace

BENCHMARK_MAIN();
