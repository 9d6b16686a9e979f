// The 512-point single-precision cube on the cube backend's padded route, in
// place with a caller's USM workspace: forward (scale 1/3) against FFTW in
// double, then backward (scale 1/N) of the device's forward result against
// FFTW. About 4 GiB of host memory and several minutes of PoCL time: an
// opt-in test (label heavy, registered with -DOVX_HEAVY_TESTS=ON).
#include "dft/gpu/gpu_harness.hpp"
#include "worst_error.hpp"

namespace {

namespace dft = korami::ovx::dft;

// Input value k in [-1, 1), from a hash of k (no 2 GiB random vector).
std::complex<float> input(std::uint64_t k) {
    auto mix = [](std::uint64_t z) {
        z += 0x9e3779b97f4a7c15ull;
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    };
    auto u = [](std::uint64_t z) { return static_cast<float>(static_cast<double>(z >> 11) * 0x1.0p-52 - 1.0); };
    return {u(mix(2 * k)), u(mix(2 * k + 1))};
}

// Relative max error of `got` against FFTW of `ref` (in place, double) times `scale`.
double against_fftw(const std::complex<float>* got, std::vector<std::complex<double>>& ref, int sign, double scale) {
    fftw_plan p = fftw_plan_dft_3d(512, 512, 512, reinterpret_cast<fftw_complex*>(ref.data()),
                                   reinterpret_cast<fftw_complex*>(ref.data()), sign, FFTW_ESTIMATE);
    fftw_execute(p);
    fftw_destroy_plan(p);
    double err = 0, mag = 0;
    for (std::size_t k = 0; k < ref.size(); ++k) {
        const std::complex<double> r = ref[k] * scale, g(got[k].real(), got[k].imag());
        err = ovx_test::worse(err, std::abs(g - r));
        mag = std::max(mag, std::abs(r));
    }
    return err / mag;
}

TEST(CubeHeavy, Single512InPlaceCallerUsmWorkspaceMatchesFftw) {
    GPU_REQUIRE_DEVICE(true);
    ovxplat::scoped_gpu_profile prof("quen6");
    sycl::queue q{sycl::gpu_selector_v};
    constexpr std::size_t v = std::size_t{512} * 512 * 512;
    dft::descriptor<dft::precision::SINGLE, dft::domain::COMPLEX> d(md_test::vec{512, 512, 512});
    d.set_value(dft::config_param::WORKSPACE_PLACEMENT, dft::config_value::WORKSPACE_EXTERNAL);
    d.set_value(dft::config_param::FORWARD_SCALE, 1.0f / 3);
    d.set_value(dft::config_param::BACKWARD_SCALE, 1.0f / v);
    d.commit(q);
    ASSERT_STREQ(bkd_name(dft::detail::descriptor_node(d)->bkd), "bkd_c2c_3d_cube_s_ops");
    std::int64_t need = 0;
    d.get_value(dft::config_param::WORKSPACE_EXTERNAL_BYTES, &need);
    ASSERT_GE(need, std::int64_t{512} * 512 * 513 * 8);
    float* ws = sycl::malloc_device<float>(static_cast<std::size_t>(need) / 4 + 1, q);
    ASSERT_NE(ws, nullptr);
    d.set_workspace(ws);
    auto* x = sycl::malloc_shared<std::complex<float>>(v, q);
    ASSERT_NE(x, nullptr);
    std::vector<std::complex<double>> ref(v);
    for (std::size_t k = 0; k < v; ++k) x[k] = input(k), ref[k] = x[k];
    dft::compute_forward(d, reinterpret_cast<float*>(x)).wait_and_throw();
    const double tol = gpu_test::tolerance(true, static_cast<std::int64_t>(v)) * 4;
    EXPECT_LT(against_fftw(x, ref, FFTW_FORWARD, 1.0 / 3), tol) << "forward";
    for (std::size_t k = 0; k < v; ++k) ref[k] = x[k];
    dft::compute_backward(d, reinterpret_cast<float*>(x)).wait_and_throw();
    EXPECT_LT(against_fftw(x, ref, FFTW_BACKWARD, 1.0 / v), tol) << "backward";
    sycl::free(x, q);
    sycl::free(ws, q);
}

}  // namespace
