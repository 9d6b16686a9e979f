// Demonstration: a batch of 1D complex transforms through the descriptor API,
// checked against a direct DFT. The GPU queue is used when the transform
// commits there, otherwise a CPU queue.
#include <cmath>
#include <complex>
#include <cstdio>
#include <exception>
#include <vector>

#include <sycl/sycl.hpp>

#include "korami/ovx/dft.hpp"

namespace dft = korami::ovx::dft;

int main() {
    const std::int64_t n = 64, batch = 4;
    using desc_t = dft::descriptor<dft::precision::SINGLE, dft::domain::COMPLEX>;

    auto configure = [&](desc_t& d) {
        d.set_value(dft::config_param::NUMBER_OF_TRANSFORMS, batch);
        d.set_value(dft::config_param::FWD_DISTANCE, n);
        d.set_value(dft::config_param::BWD_DISTANCE, n);
        d.set_value(dft::config_param::BACKWARD_SCALE, 1.0f / n);
    };

    desc_t desc(n);
    configure(desc);
    sycl::queue queue;
    bool on_gpu = false;
    try {
        queue = sycl::queue(sycl::gpu_selector_v);
        desc.commit(queue);
        on_gpu = true;
    } catch (const std::exception& e) {
        std::printf("GPU commit not available (%s); using a CPU queue\n", e.what());
        queue = sycl::queue(sycl::cpu_selector_v);
        desc.commit(queue);
    }
    std::printf("device: %s (%s)\n", queue.get_device().get_info<sycl::info::device::name>().c_str(),
                on_gpu ? "GPU" : "CPU");

    auto* data = sycl::malloc_shared<std::complex<float>>(n * batch, queue);
    std::vector<std::complex<double>> input(n * batch);
    for (std::int64_t i = 0; i < n * batch; ++i) {
        input[i] = {std::sin(0.37 * i) + 0.25, std::cos(1.3 * i)};
        data[i] = std::complex<float>(input[i]);
    }
    dft::compute_forward(desc, data).wait_and_throw();

    double err = 0, ref_max = 0;
    const double pi = std::acos(-1.0);
    for (std::int64_t b = 0; b < batch; ++b)
        for (std::int64_t k = 0; k < n; ++k) {
            std::complex<double> s = 0;
            for (std::int64_t j = 0; j < n; ++j)
                s += input[b * n + j] * std::polar(1.0, -2 * pi * double(j * k % n) / n);
            err = std::fmax(err, std::abs(s - std::complex<double>(data[b * n + k])));
            ref_max = std::fmax(ref_max, std::abs(s));
        }
    dft::compute_backward(desc, data).wait_and_throw();
    double round_trip = 0;
    for (std::int64_t i = 0; i < n * batch; ++i)
        round_trip = std::fmax(round_trip, std::abs(std::complex<double>(data[i]) - input[i]));
    sycl::free(data, queue);

    const bool ok = err / ref_max < 1e-5 && round_trip < 1e-5;
    std::printf("%lld transforms of %lld points: forward relative error %.2e, round trip error %.2e: %s\n",
                (long long)batch, (long long)n, err / ref_max, round_trip, ok ? "OK" : "FAILED");
    return ok ? 0 : 1;
}
