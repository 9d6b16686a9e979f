// Shared pieces of the offload tests: the stand-in GPU queue (quen5
// profile), interop objects for it, shared USM arrays and the FFTW reference.
#ifndef TESTS_FFTW_OFFLOAD_SUPPORT_HPP
#define TESTS_FFTW_OFFLOAD_SUPPORT_HPP

#include <fftw3.h>
#include <gtest/gtest.h>
#include <ovxplat/omp_interop.hpp>
#include <ovxplat/sycl_standin.hpp>
#include <sycl/sycl.hpp>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "fftw/ovx_fftw_plan.hpp"
#include "korami/ovx/dfti_omp_offload.h"
#include "worst_error.hpp"

namespace offload_test {

inline sycl::queue& gpu_queue() {
    static const bool selected = ovxplat::select_gpu_profile("quen5");
    static sycl::queue q{sycl::gpu_selector_v};
    (void)selected;
    return q;
}

// One interop object per foreign runtime id on the test queue, for the
// whole process (the library caches the queues it makes from them).
inline void* interop_for(int fr) {
    static ovxplat::omp_interop objects[8];
    ovxplat::omp_interop& o = objects[fr];
    if (!o.handle) ovxplat::omp_interop_for(o, gpu_queue(), fr);
    return o.handle;
}

// Waits for the work the library enqueued for an interop object.
inline void wait_for(int fr) {
    if (fr == 4) gpu_queue().wait();
    else korami::ovx::gpu::lookup_and_cache_qorel_queue_and_context(interop_for(fr))->wait();
}

// Waits for the test queue's work and releases the plan (null: nothing).
inline void release(void* plan) {
    gpu_queue().wait();
    auto* r = static_cast<korami::ovx::fftw::plan_record*>(plan);
    if (r) r->plan_release(r);
}

// A shared USM array of `count` elements of T.
template <typename T>
struct usm_array {
    T* data;
    std::size_t count;
    explicit usm_array(std::size_t n) : data(sycl::malloc_shared<T>(n, gpu_queue())), count(n) {
        std::fill(data, data + n, T{});
    }
    ~usm_array() { sycl::free(data, gpu_queue()); }
    usm_array(const usm_array&) = delete;
    usm_array& operator=(const usm_array&) = delete;
};

inline void fill_random(double* p, std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (std::size_t i = 0; i < n; ++i) p[i] = u(gen);
}

// Relative error max|got-ref|/max|ref| over `n` reals.
template <typename T>
double relative_error(const T* got, const double* ref, std::size_t n) {
    double err = 0, mag = 0;
    for (std::size_t i = 0; i < n; ++i) {
        err = ovx_test::worse(err, std::abs(static_cast<double>(got[i]) - ref[i]));
        mag = std::max(mag, std::abs(ref[i]));
    }
    return mag > 0 ? err / mag : err;
}

// The same over the reals at `positions`.
template <typename T>
double relative_error(const T* got, const double* ref, const std::vector<std::size_t>& positions) {
    double err = 0, mag = 0;
    for (std::size_t i : positions) {
        err = ovx_test::worse(err, std::abs(static_cast<double>(got[i]) - ref[i]));
        mag = std::max(mag, std::abs(ref[i]));
    }
    return mag > 0 ? err / mag : err;
}

template <typename T>
constexpr double tolerance() {
    return sizeof(T) == 4 ? 1e-5 : 1e-12;
}

// Transform kinds of the reference.
enum class kind { c2c_forward, c2c_backward, r2c, c2r };

// FFTW (double) on a copy of `in` (reals, complex data interleaved), with
// the guru description in elements of each side's own type; returns the
// output array of `out_reals` reals. In-place layouts run in place on the
// copy.
inline std::vector<double> fftw_reference(kind k, const std::vector<fftw_iodim64>& dims,
                                          const std::vector<fftw_iodim64>& batch, const std::vector<double>& in,
                                          std::size_t out_reals, bool in_place) {
    std::size_t bytes = std::max(in.size(), out_reals) * sizeof(double);
    double* a = static_cast<double*>(fftw_malloc(bytes));
    double* b = in_place ? a : static_cast<double*>(fftw_malloc(out_reals * sizeof(double)));
    std::fill(a, a + bytes / sizeof(double), 0.0);
    std::fill(b, b + out_reals, 0.0);
    const int r = static_cast<int>(dims.size()), h = static_cast<int>(batch.size());
    fftw_plan p = nullptr;
    const unsigned flags = FFTW_ESTIMATE;
    switch (k) {
        case kind::c2c_forward:
        case kind::c2c_backward:
            p = fftw_plan_guru64_dft(r, dims.data(), h, batch.data(), reinterpret_cast<fftw_complex*>(a),
                                     reinterpret_cast<fftw_complex*>(b),
                                     k == kind::c2c_forward ? FFTW_FORWARD : FFTW_BACKWARD, flags);
            break;
        case kind::r2c:
            p = fftw_plan_guru64_dft_r2c(r, dims.data(), h, batch.data(), a, reinterpret_cast<fftw_complex*>(b), flags);
            break;
        case kind::c2r:
            p = fftw_plan_guru64_dft_c2r(r, dims.data(), h, batch.data(), reinterpret_cast<fftw_complex*>(a), b, flags);
            break;
    }
    EXPECT_NE(p, nullptr);
    std::vector<double> out(out_reals);
    if (p) {
        std::copy(in.begin(), in.end(), a);
        fftw_execute(p);
        std::copy(b, b + out_reals, out.begin());
        fftw_destroy_plan(p);
    }
    if (!in_place) fftw_free(b);
    fftw_free(a);
    return out;
}

// The guru description a translation is expected to give: dimension records
// outermost first, and one batch record.
inline korami::ovx::fftw::guru_description described(std::initializer_list<korami::ovx::fftw::iodim64> dims,
                                                     korami::ovx::fftw::iodim64 batch = {0, 0, 0},
                                                     int howmany_rank = 0) {
    korami::ovx::fftw::guru_description d;
    d.rank = static_cast<int>(dims.size());
    int i = 0;
    for (auto r : dims) d.dims[i++] = r;
    d.howmany_rank = howmany_rank;
    d.batch = batch;
    return d;
}

}  // namespace offload_test

#endif
