// Kernel bundles and specialization constants of host kernels.
#include <gtest/gtest.h>
#include <sycl/sycl.hpp>

#include "sycl_test_util.hpp"

namespace {

constexpr sycl::specialization_id<std::int64_t> spec_fact0(8);
constexpr sycl::specialization_id<std::uint32_t> spec_loop(1);
constexpr sycl::specialization_id<double> spec_scale(1.0);

template <typename T, int Dir>
struct spec_kernel;  // kernel names, never defined
struct other_kernel;

// A kernel function object of the shape the explicit-SIMD launches use:
// pointers and a group offset, constants read through the kernel handler.
template <typename T, int Dir>
struct functor_kernel {
    const T* in;
    T* out;
    std::int64_t group_offset;
    void operator()(sycl::nd_item<1> it, sycl::kernel_handler kh) const {
        const auto f0 = kh.get_specialization_constant<spec_fact0>();
        const std::size_t g = it.get_group(0) + static_cast<std::size_t>(group_offset);
        const std::size_t i = g * it.get_local_range(0) + it.get_local_id(0);
        it.barrier();
        out[i] = in[i] * static_cast<T>(f0) + static_cast<T>(Dir);
    }
};

TEST(SyclBundleFunctors, FunctionObjectKernelsWithBundles) {
    sycl::queue q;
    auto ids = std::vector<sycl::kernel_id>{sycl::get_kernel_id<functor_kernel<float, 0>>(),
                                            sycl::get_kernel_id<functor_kernel<float, 1>>()};
    auto in_b = sycl::get_kernel_bundle<sycl::bundle_state::input>(q.get_context(), {q.get_device()}, ids);
    in_b.set_specialization_constant<spec_fact0>(3);
    auto exe = sycl::build(in_b);
    auto* in = sycl::malloc_shared<float>(64, q);
    auto* out = sycl::malloc_shared<float>(64, q);
    for (int i = 0; i < 64; ++i) in[i] = static_cast<float>(i);
    std::vector<sycl::event> deps;
    // Two launches of half the groups each, the second with a group offset.
    for (int half = 0; half < 2; ++half) {
        auto e = q.submit([&](sycl::handler& h) {
            h.depends_on(deps);
            h.use_kernel_bundle(exe);
            h.parallel_for(sycl::nd_range<1>(32, 8), functor_kernel<float, 1>{in, out, half * 4});
        });
        deps = {e};
    }
    q.wait();
    for (int i = 0; i < 64; ++i) EXPECT_EQ(out[i], 3.0f * i + 1.0f);
    sycl::free(in, q);
    sycl::free(out, q);
}

class SyclBundles : public ::testing::TestWithParam<bool> {};

TEST_P(SyclBundles, SpecializationConstantsReachTheKernel) {
    sycl::queue q(GetParam() ? sycl::device(sycl::gpu_selector_v) : sycl::device(sycl::cpu_selector_v));
    auto id_f = sycl::get_kernel_id<spec_kernel<float, 0>>();
    auto id_b = sycl::get_kernel_id<spec_kernel<float, 1>>();
    EXPECT_NE(id_f, id_b);
    EXPECT_EQ(id_f, (sycl::get_kernel_id<spec_kernel<float, 0>>()));
    EXPECT_NE(std::string(id_f.get_name()).find("spec_kernel<float, 0>"), std::string::npos);
    auto in = sycl::get_kernel_bundle<sycl::bundle_state::input>(q.get_context(), {q.get_device()}, {id_f, id_b});
    EXPECT_TRUE(in.has_kernel(id_f));
    EXPECT_FALSE(in.has_kernel<other_kernel>());
    in.set_specialization_constant<spec_fact0>(64);
    in.set_specialization_constant<spec_scale>(0.25);
    EXPECT_EQ(in.get_specialization_constant<spec_fact0>(), 64);
    EXPECT_EQ(in.get_specialization_constant<spec_loop>(), 1u);  // default
    auto exe = sycl::build(in);
    // Later changes of the input bundle do not change the built one.
    in.set_specialization_constant<spec_fact0>(5);
    auto* out = sycl::malloc_shared<double>(16, q);
    q.submit([&](sycl::handler& h) {
         h.use_kernel_bundle(exe);
         h.parallel_for<spec_kernel<float, 0>>(sycl::nd_range<1>(16, 4), [=](sycl::nd_item<1> it,
                                                                              sycl::kernel_handler kh) {
             it.barrier();
             out[it.get_global_id(0)] = static_cast<double>(kh.get_specialization_constant<spec_fact0>()) *
                                            kh.get_specialization_constant<spec_scale>() +
                                        kh.get_specialization_constant<spec_loop>();
         });
     }).wait();
    for (int i = 0; i < 16; ++i) EXPECT_EQ(out[i], 64 * 0.25 + 1);
    // Without a bundle the defaults apply; handler-set constants work too.
    q.submit([&](sycl::handler& h) {
         h.set_specialization_constant<spec_loop>(9u);
         EXPECT_EQ(h.get_specialization_constant<spec_loop>(), 9u);
         h.single_task<other_kernel>([=](sycl::kernel_handler kh) {
             out[0] = static_cast<double>(kh.get_specialization_constant<spec_fact0>() +
                                          kh.get_specialization_constant<spec_loop>());
         });
     }).wait();
    EXPECT_EQ(out[0], 17.0);
    sycl::free(out, q);
}

TEST_P(SyclBundles, BundleRulesAreEnforced) {
    sycl::queue q(GetParam() ? sycl::device(sycl::gpu_selector_v) : sycl::device(sycl::cpu_selector_v));
    auto exe = sycl::build(sycl::get_kernel_bundle<sycl::bundle_state::input>(
        q.get_context(), {q.get_device()}, {sycl::get_kernel_id<spec_kernel<double, 0>>()}));
    // The bundle must hold the kernel.
    EXPECT_EQ(error_of([&] {
                  q.submit([&](sycl::handler& h) {
                      h.use_kernel_bundle(exe);
                      h.single_task<other_kernel>([] {});
                  });
              }),
              sycl::errc::kernel_not_supported);
    // Constants cannot be set on the command group once a bundle is used.
    EXPECT_EQ(error_of([&] {
                  q.submit([&](sycl::handler& h) {
                      h.use_kernel_bundle(exe);
                      h.set_specialization_constant<spec_loop>(2u);
                  });
              }),
              sycl::errc::invalid);
    // A bundle of another context is refused.
    sycl::context other(q.get_device());
    auto foreign = sycl::build(sycl::get_kernel_bundle<sycl::bundle_state::input>(
        other, {q.get_device()}, {sycl::get_kernel_id<spec_kernel<double, 0>>()}));
    EXPECT_EQ(error_of([&] { q.submit([&](sycl::handler& h) { h.use_kernel_bundle(foreign); }); }),
              sycl::errc::invalid);
    EXPECT_EQ(error_of([&] {
                  sycl::get_kernel_bundle<sycl::bundle_state::input>(q.get_context(), {},
                                                                    {sycl::get_kernel_id<other_kernel>()});
              }),
              sycl::errc::invalid);
    q.wait();
}

INSTANTIATE_TEST_SUITE_P(BothDevices, SyclBundles, ::testing::Values(true, false),
                         [](const auto& i) { return i.param ? "gpu" : "cpu"; });

}  // namespace
