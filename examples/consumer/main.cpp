// One 16-point complex transform on the GPU queue, checked against a direct
// DFT: exits 0 when the result is right.
#include <cmath>
#include <complex>
#include <cstdio>
#include <exception>
#include <stdexcept>

#include <korami/ovx/dft.hpp>
#include <sycl/sycl.hpp>

namespace dft = korami::ovx::dft;

int main() {
    constexpr int n = 16;
    try {
        sycl::queue q{sycl::gpu_selector_v};
        dft::descriptor<dft::precision::SINGLE, dft::domain::COMPLEX> desc(n);
        desc.commit(q);
        auto* x = sycl::malloc_shared<std::complex<float>>(n, q);
        if (!x) throw std::runtime_error("no shared memory");
        for (int i = 0; i < n; ++i) x[i] = {float(i % 5) - 2.0f, float(i % 3)};
        std::complex<double> in[n];
        for (int i = 0; i < n; ++i) in[i] = x[i];
        dft::compute_forward(desc, x).wait_and_throw();
        double err = 0;
        for (int k = 0; k < n; ++k) {
            std::complex<double> s = 0;
            for (int j = 0; j < n; ++j) s += in[j] * std::polar(1.0, -2 * M_PI * (j * k % n) / n);
            err = std::fmax(err, std::abs(s - std::complex<double>(x[k])));
        }
        sycl::free(x, q);
        std::printf("consumer: %d-point transform on %s, largest error %.1e\n", n,
                    q.get_device().get_info<sycl::info::device::name>().c_str(), err);
        return err < 1e-4 ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "consumer: %s\n", e.what());
        return 1;
    }
}
