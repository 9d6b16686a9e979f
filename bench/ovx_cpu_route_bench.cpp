// The library on a CPU queue against FFTW called directly, on the same
// batched shapes, out of place: FFTW with every hardware thread and
// FFTW_MEASURE (the CPU route's defaults). Prints a markdown table: the
// minimum over waited runs of each, their ratio, and the first and second
// commit times of the library.
//
//   ovx_cpu_route_bench [runs]
#include <fftw3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include <korami/ovx/dft.hpp>
#include <sycl/sycl.hpp>

namespace dft = korami::ovx::dft;

namespace {

using clk = std::chrono::steady_clock;

double seconds_since(clk::time_point t0) { return std::chrono::duration<double>(clk::now() - t0).count(); }

struct shape {
    const char* name;
    bool dbl, real;
    std::vector<std::int64_t> n;  // one transform, outermost first
    std::int64_t batch;
};

// Seconds of one waited call.
template <typename F>
double time_of(F&& f) {
    auto t0 = clk::now();
    f();
    return seconds_since(t0);
}

// FFTW in the precision of T, called directly.
template <typename T> struct fftw;
template <> struct fftw<double> {
    using plan = fftw_plan;
    static void threads(int n) { fftw_init_threads(); fftw_plan_with_nthreads(n); }
    static void* alloc(std::size_t b) { return fftw_malloc(b); }
    static void release(void* p) { fftw_free(p); }
    static plan many(bool real, int r, const int* n, int batch, void* in, void* out, int dist_in, int dist_out) {
        if (real)
            return fftw_plan_many_dft_r2c(r, n, batch, (double*)in, nullptr, 1, dist_in, (fftw_complex*)out, nullptr,
                                          1, dist_out, FFTW_MEASURE);
        return fftw_plan_many_dft(r, n, batch, (fftw_complex*)in, nullptr, 1, dist_in, (fftw_complex*)out, nullptr, 1,
                                  dist_out, FFTW_FORWARD, FFTW_MEASURE);
    }
    static void run(plan p) { fftw_execute(p); }
    static void destroy(plan p) { fftw_destroy_plan(p); }
};
template <> struct fftw<float> {
    using plan = fftwf_plan;
    static void threads(int n) { fftwf_init_threads(); fftwf_plan_with_nthreads(n); }
    static void* alloc(std::size_t b) { return fftwf_malloc(b); }
    static void release(void* p) { fftwf_free(p); }
    static plan many(bool real, int r, const int* n, int batch, void* in, void* out, int dist_in, int dist_out) {
        if (real)
            return fftwf_plan_many_dft_r2c(r, n, batch, (float*)in, nullptr, 1, dist_in, (fftwf_complex*)out, nullptr,
                                           1, dist_out, FFTW_MEASURE);
        return fftwf_plan_many_dft(r, n, batch, (fftwf_complex*)in, nullptr, 1, dist_in, (fftwf_complex*)out, nullptr,
                                   1, dist_out, FFTW_FORWARD, FFTW_MEASURE);
    }
    static void run(plan p) { fftwf_execute(p); }
    static void destroy(plan p) { fftwf_destroy_plan(p); }
};

template <dft::precision P, dft::domain D>
void bench(const shape& s, int runs, sycl::queue& q) {
    using T = std::conditional_t<P == dft::precision::DOUBLE, double, float>;
    const bool real = D == dft::domain::REAL;
    std::int64_t pts = 1;
    for (auto x : s.n) pts *= x;
    const std::int64_t half = pts / s.n.back() * (s.n.back() / 2 + 1);
    const std::int64_t in_elems = real ? pts : 2 * pts, out_elems = 2 * (real ? half : pts);
    const std::int64_t in_words = in_elems * s.batch, out_words = out_elems * s.batch;

    auto make = [&] {
        dft::descriptor<P, D> d(s.n);
        d.set_value(dft::config_param::NUMBER_OF_TRANSFORMS, s.batch);
        d.set_value(dft::config_param::FWD_DISTANCE, pts);
        d.set_value(dft::config_param::BWD_DISTANCE, real ? half : pts);
        d.set_value(dft::config_param::PLACEMENT, dft::config_value::NOT_INPLACE);
        return d;
    };
    auto t0 = clk::now();
    auto desc = make();
    desc.commit(q);
    const double first = seconds_since(t0);
    t0 = clk::now();
    auto again = make();
    again.commit(q);
    const double second = seconds_since(t0);

    T* in = sycl::malloc_shared<T>(in_words, q);
    T* out = sycl::malloc_shared<T>(out_words, q);
    for (std::int64_t i = 0; i < in_words; ++i) in[i] = T((i * 7919) % 1000) / T(1000) - T(0.5);
    auto run_lib = [&] {
        auto* cout = reinterpret_cast<std::complex<T>*>(out);
        if constexpr (real) dft::compute_forward(desc, in, cout).wait();
        else dft::compute_forward(desc, reinterpret_cast<std::complex<T>*>(in), cout).wait();
    };

    std::vector<int> ni(s.n.begin(), s.n.end());
    void* fin = fftw<T>::alloc(in_words * sizeof(T));
    void* fout = fftw<T>::alloc(out_words * sizeof(T));
    fftw<T>::threads(static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN)));
    auto p = fftw<T>::many(real, static_cast<int>(ni.size()), ni.data(), static_cast<int>(s.batch), fin, fout,
                           static_cast<int>(pts), static_cast<int>(real ? half : pts));
    std::memcpy(fin, in, in_words * sizeof(T));
    // Runs alternate between the two so that both see the same machine load.
    double lib = 1e30, ref = 1e30;
    for (int i = 0; i <= runs; ++i) {
        const double a = time_of(run_lib), b = time_of([&] { fftw<T>::run(p); });
        if (i == 0) continue;  // warm-up
        lib = std::min(lib, a);
        ref = std::min(ref, b);
    }
    fftw<T>::destroy(p);
    fftw<T>::release(fin);
    fftw<T>::release(fout);
    sycl::free(in, q);
    sycl::free(out, q);
    std::printf("| %s | %.3f ms | %.3f ms | %.2f | %.3f s | %.3f s |\n", s.name, lib * 1e3, ref * 1e3, lib / ref,
                first, second);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;
    sycl::queue q{sycl::cpu_selector_v};
    const shape shapes[] = {
        {"single c2c 1024 x 4096", false, false, {4096}, 1024},
        {"single c2c 4096 x 1024", false, false, {1024}, 4096},
        {"double c2c 1024 x 2048", true, false, {2048}, 1024},
        {"single r2c 4096 x 1024", false, true, {1024}, 4096},
        {"single c2c 512 x 512 x 16", false, false, {512, 512}, 16},
        {"single c2c 64 x 64 x 64 x 16", false, false, {64, 64, 64}, 16},
    };
    std::printf("%ld hardware threads, minimum of %d waited runs\n\n", sysconf(_SC_NPROCESSORS_ONLN), runs);
    std::printf("| shape | library, CPU queue | FFTW | ratio | first commit | second commit |\n");
    std::printf("|---|---|---|---|---|---|\n");
    for (const shape& s : shapes) {
        if (s.dbl) {
            if (s.real) bench<dft::precision::DOUBLE, dft::domain::REAL>(s, runs, q);
            else bench<dft::precision::DOUBLE, dft::domain::COMPLEX>(s, runs, q);
        } else {
            if (s.real) bench<dft::precision::SINGLE, dft::domain::REAL>(s, runs, q);
            else bench<dft::precision::SINGLE, dft::domain::COMPLEX>(s, runs, q);
        }
    }
    return 0;
}
