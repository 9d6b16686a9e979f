// ovx_demo: runs one transform through the descriptor API and reports the
// device, the backend that owns the transform, the commit and compute times
// and the error against FFTW. Exit status: 0 when the error is within the
// tolerance of the precision, 1 when it is not, 2 on a bad argument or any
// exception (its message is printed).
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <fftw3.h>
#include <sycl/sycl.hpp>

#include "dft/ovx_dft_internal.hpp"  // descriptor_node and the node's owning backend
#include "korami/ovx/dft.hpp"
#include "ovxplat/sycl_standin.hpp"

namespace dft = korami::ovx::dft;
using clock_type = std::chrono::steady_clock;

namespace {

const char usage_text[] =
    "usage: ovx_demo [--device gpu|cpu] [--profile NAME] [--precision single|double]\n"
    "                [--domain complex|real] [--batch B] [--inplace] N0 [N1 [N2]]\n"
    "\n"
    "Runs a forward transform of lengths N0 x N1 x N2 (outermost first) and its\n"
    "backward transform, and compares them with FFTW in double precision.\n"
    "  --device     queue to commit on (default gpu)\n"
    "  --profile    GPU device profile of this machine's stand-in GPU (default: the\n"
    "               profile in force, see OVXPLAT_GPU_PROFILE)\n"
    "  --precision  default single\n"
    "  --domain     default complex; real runs real-to-complex and back\n"
    "  --batch      number of transforms (default 1)\n"
    "  --inplace    one array for input and output (default two arrays)\n"
    "With no lengths: 64 points.\n"
    "Tolerance, relative to the largest reference value, for N points per transform:\n"
    "  single 3e-6 * log2(N + 1) + 1e-6, double 1e-14 * log2(N + 1) + 1e-14.\n"
    "Exit status: 0 within tolerance, 1 out of tolerance, 2 bad argument or error.\n";

struct usage_error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct options {
    bool gpu = true;
    std::string profile;
    bool dbl = false;
    bool real = false;
    std::int64_t batch = 1;
    bool inplace = false;
    std::vector<std::int64_t> lengths;
};

std::int64_t parse_count(const std::string& what, const char* text) {
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < 1)
        throw usage_error(what + " must be a positive integer, not '" + text + "'");
    return v;
}

options parse(int argc, char** argv, bool& help) {
    options o;
    help = false;
    auto value = [&](int& i) -> const char* {
        if (i + 1 >= argc) throw usage_error(std::string(argv[i]) + " needs a value");
        return argv[++i];
    };
    auto choice = [](const char* opt, const std::string& v, const char* a, const char* b) {
        if (v != a && v != b) throw usage_error(std::string(opt) + " takes " + a + " or " + b + ", not '" + v + "'");
        return v == b;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            help = true;
        } else if (a == "--device") {
            o.gpu = !choice("--device", value(i), "gpu", "cpu");
        } else if (a == "--profile") {
            o.profile = value(i);
        } else if (a == "--precision") {
            o.dbl = choice("--precision", value(i), "single", "double");
        } else if (a == "--domain") {
            o.real = choice("--domain", value(i), "complex", "real");
        } else if (a == "--batch") {
            o.batch = parse_count("--batch", value(i));
        } else if (a == "--inplace") {
            o.inplace = true;
        } else if (!a.empty() && a[0] == '-') {
            throw usage_error("unknown option '" + a + "'");
        } else {
            if (o.lengths.size() == 3) throw usage_error("at most three lengths");
            o.lengths.push_back(parse_count("a length", argv[i]));
        }
    }
    if (o.lengths.empty()) o.lengths = {64};
    if (!o.profile.empty() && !o.gpu) throw usage_error("--profile applies to the GPU device only");
    return o;
}

// Product with an overflow check; the arrays of the demonstration stay
// within the int range that FFTW's interface takes.
std::int64_t checked_product(std::int64_t a, std::int64_t b) {
    std::int64_t r;
    if (__builtin_mul_overflow(a, b, &r) || r > INT_MAX)
        throw usage_error("the transform is too large for this demonstration (more than 2^31 elements)");
    return r;
}

double ms_since(clock_type::time_point t0) {
    return std::chrono::duration<double, std::milli>(clock_type::now() - t0).count();
}

template <typename T>
struct usm_array {
    usm_array(std::int64_t n, sycl::queue& q) : p(sycl::malloc_shared<T>(n, q)), q(q) {
        if (!p) throw std::runtime_error("cannot allocate " + std::to_string(n * sizeof(T)) + " bytes of shared memory");
    }
    ~usm_array() { sycl::free(p, q); }
    usm_array(const usm_array&) = delete;
    usm_array& operator=(const usm_array&) = delete;
    T* p;
    sycl::queue& q;
};

template <dft::precision prec, dft::domain dom>
int run(const options& o, sycl::queue& queue) {
    using T = std::conditional_t<prec == dft::precision::SINGLE, float, double>;
    using C = std::complex<T>;
    using F = std::conditional_t<dom == dft::domain::REAL, T, C>;  // forward-domain element
    constexpr bool real = dom == dft::domain::REAL;
    const auto& n = o.lengths;
    const int rank = static_cast<int>(n.size());
    const std::int64_t last = n.back();
    const std::int64_t outer = checked_product(rank > 1 ? n[0] : 1, rank > 2 ? n[1] : 1);
    const std::int64_t points = checked_product(outer, last);
    const std::int64_t c_last = real ? last / 2 + 1 : last;
    // Rows of the forward domain: real in place pads each row to 2 * (n/2 + 1).
    const std::int64_t f_row = real && o.inplace ? 2 * c_last : last;
    const std::int64_t f_dist = checked_product(outer, f_row), b_dist = checked_product(outer, c_last);
    const std::int64_t f_count = checked_product(f_dist, o.batch), b_count = checked_product(b_dist, o.batch);

    auto make = [&] {
        auto d = rank == 1 ? std::make_unique<dft::descriptor<prec, dom>>(n[0])
                           : std::make_unique<dft::descriptor<prec, dom>>(n);
        d->set_value(dft::config_param::NUMBER_OF_TRANSFORMS, o.batch);
        d->set_value(dft::config_param::FWD_DISTANCE, f_dist);
        d->set_value(dft::config_param::BWD_DISTANCE, b_dist);
        d->set_value(dft::config_param::BACKWARD_SCALE, T(1) / T(points));
        d->set_value(dft::config_param::PLACEMENT,
                     o.inplace ? dft::config_value::INPLACE : dft::config_value::NOT_INPLACE);
        return d;
    };

    std::printf("transform: %s %s, ", o.dbl ? "double" : "single", real ? "real" : "complex");
    for (int i = 0; i < rank; ++i) std::printf("%s%lld", i ? "x" : "", (long long)n[i]);
    std::printf(" points, batch %lld, %s\n", (long long)o.batch, o.inplace ? "in place" : "out of place");
    std::fflush(stdout);

    auto desc = make();
    auto t0 = clock_type::now();
    desc->commit(queue);
    const double first_commit = ms_since(t0);
    {
        auto again = make();
        t0 = clock_type::now();
        again->commit(queue);
    }
    const double second_commit = ms_since(t0);
    const DFTI_DESCRIPTOR* node = dft::detail::descriptor_node(*desc);
    std::printf("backend:   %s\n", o.gpu ? bkd_name(node->bkd) : "CPU transform library");
    std::printf("commit:    first %.2f ms, second %.2f ms\n", first_commit, second_commit);
    std::fflush(stdout);

    // Input: a fixed pseudo-random sequence in [-1, 1), kept in double for the reference.
    std::vector<std::complex<double>> input(points * o.batch);
    std::uint64_t state = 0x2545F4914F6CDD1Dull;
    auto next = [&state] {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return double(state >> 11) * 0x1.0p-52 - 1.0;
    };
    for (auto& v : input) v = {next(), real ? 0.0 : next()};

    // The forward array (and, in place, the backward view of the same bytes).
    const std::int64_t f_bytes = f_count * sizeof(F), b_bytes = b_count * sizeof(C);
    usm_array<char> a(o.inplace ? std::max(f_bytes, b_bytes) : f_bytes, queue);
    std::unique_ptr<usm_array<char>> b_arr;
    if (!o.inplace) b_arr = std::make_unique<usm_array<char>>(b_bytes, queue);
    F* fwd = reinterpret_cast<F*>(a.p);
    C* bwd = reinterpret_cast<C*>(o.inplace ? a.p : b_arr->p);
    auto fill = [&] {
        std::memset(a.p, 0, o.inplace ? std::max(f_bytes, b_bytes) : f_bytes);
        for (std::int64_t t = 0; t < o.batch; ++t)
            for (std::int64_t r = 0; r < outer; ++r)
                for (std::int64_t j = 0; j < last; ++j) {
                    const auto& v = input[(t * outer + r) * last + j];
                    if constexpr (real)
                        fwd[t * f_dist + r * f_row + j] = T(v.real());
                    else
                        fwd[t * f_dist + r * f_row + j] = C(v);
                }
    };
    auto forward = [&] {
        return o.inplace ? dft::compute_forward(*desc, fwd) : dft::compute_forward(*desc, fwd, bwd);
    };
    auto backward = [&] {
        return o.inplace ? dft::compute_backward(*desc, fwd) : dft::compute_backward(*desc, bwd, fwd);
    };

    // Reference: FFTW in double precision on the unpadded data.
    std::vector<std::complex<double>> ref(b_dist * o.batch);
    {
        std::vector<int> nn(n.begin(), n.end());
        std::vector<std::complex<double>> in(input);
        std::vector<double> in_real(real ? input.size() : 0);
        for (std::size_t i = 0; i < in_real.size(); ++i) in_real[i] = input[i].real();
        auto* out = reinterpret_cast<fftw_complex*>(ref.data());
        fftw_plan plan =
            real ? fftw_plan_many_dft_r2c(rank, nn.data(), int(o.batch), in_real.data(), nullptr, 1, int(points),
                                          out, nullptr, 1, int(b_dist), FFTW_ESTIMATE)
                 : fftw_plan_many_dft(rank, nn.data(), int(o.batch), reinterpret_cast<fftw_complex*>(in.data()),
                                      nullptr, 1, int(points), out, nullptr, 1, int(b_dist), FFTW_FORWARD,
                                      FFTW_ESTIMATE);
        if (!plan) throw std::runtime_error("FFTW could not plan the reference transform");
        fftw_execute(plan);
        fftw_destroy_plan(plan);
    }

    fill();
    forward().wait_and_throw();
    double err = 0, ref_max = 0;
    for (std::int64_t i = 0; i < b_dist * o.batch; ++i) {
        err = std::max(err, std::abs(ref[i] - std::complex<double>(bwd[i])));
        ref_max = std::max(ref_max, std::abs(ref[i]));
    }
    const double fwd_err = ref_max > 0 ? err / ref_max : err;

    backward().wait_and_throw();
    err = 0, ref_max = 0;
    for (std::int64_t t = 0; t < o.batch; ++t)
        for (std::int64_t r = 0; r < outer; ++r)
            for (std::int64_t j = 0; j < last; ++j) {
                const auto& v = input[(t * outer + r) * last + j];
                err = std::max(err, std::abs(v - std::complex<double>(fwd[t * f_dist + r * f_row + j])));
                ref_max = std::max(ref_max, std::abs(v));
            }
    const double bwd_err = ref_max > 0 ? err / ref_max : err;

    // Compute time: the median of several forward runs on fresh input.
    std::vector<double> times;
    for (int run = 0; run < 9; ++run) {
        fill();
        t0 = clock_type::now();
        forward().wait_and_throw();
        times.push_back(ms_since(t0));
    }
    std::sort(times.begin(), times.end());
    std::printf("compute:   forward %.3f ms (median of %zu runs)\n", times[times.size() / 2], times.size());

    const double lg = std::log2(double(points) + 1.0);
    const double tol = o.dbl ? 1e-14 * lg + 1e-14 : 3e-6 * lg + 1e-6;
    const bool ok = fwd_err <= tol && bwd_err <= tol;  // also false for NaN
    std::printf("error:     forward %.2e, backward %.2e against FFTW (tolerance %.1e): %s\n", fwd_err, bwd_err, tol,
                ok ? "OK" : "OUT OF TOLERANCE");
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    options o;
    try {
        bool help = false;
        o = parse(argc, argv, help);
        if (help) {
            std::fputs(usage_text, stdout);
            return 0;
        }
    } catch (const usage_error& e) {
        std::fprintf(stderr, "ovx_demo: %s\n\n%s", e.what(), usage_text);
        return 2;
    }
    try {
        if (!o.profile.empty() && !ovxplat::select_gpu_profile(o.profile)) {
            std::string names;
            for (const auto& p : ovxplat::gpu_profile_names()) names += " " + p;
            std::fprintf(stderr, "ovx_demo: no GPU profile '%s'; profiles:%s\n", o.profile.c_str(), names.c_str());
            return 2;
        }
        sycl::queue queue = o.gpu ? sycl::queue(sycl::gpu_selector_v) : sycl::queue(sycl::cpu_selector_v);
        const sycl::device dev = queue.get_device();
        std::printf("device:    %s (%s", dev.get_info<sycl::info::device::name>().c_str(), o.gpu ? "GPU" : "CPU");
        if (o.gpu) std::printf(", profile %s", ovxplat::current_gpu_profile().c_str());
        std::printf(")\n");
        if (o.dbl)
            return o.real ? run<dft::precision::DOUBLE, dft::domain::REAL>(o, queue)
                          : run<dft::precision::DOUBLE, dft::domain::COMPLEX>(o, queue);
        return o.real ? run<dft::precision::SINGLE, dft::domain::REAL>(o, queue)
                      : run<dft::precision::SINGLE, dft::domain::COMPLEX>(o, queue);
    } catch (const usage_error& e) {
        std::fprintf(stderr, "ovx_demo: %s\n\n%s", e.what(), usage_text);
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ovx_demo: error: %s\n", e.what());
        return 2;
    }
}
