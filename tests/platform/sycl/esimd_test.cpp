// Explicit-SIMD extension of the stand-in: vectors, memory access, SLM,
// barriers, bundles, and the misuse checks.
#include <gtest/gtest.h>
#include <sycl/ext/tarvo/esimd.hpp>

#include <cmath>

#include "sycl_test_util.hpp"

namespace {
namespace xe = sycl::ext::tarvo::esimd;

// Runs f as an explicit-SIMD kernel of `items` work-items per group.
template <typename F>
void run_esimd(sycl::queue& q, std::size_t groups, std::size_t items, F f) {
    q.parallel_for(sycl::nd_range<1>(groups * items, items), [=](sycl::nd_item<1> it) SYCL_ESIMD_KERNEL { f(it); });
    q.wait_and_throw();
}

TEST(SyclEsimd, VectorArithmeticAndViews) {
    xe::simd<float, 16> a(0.0f, 1.0f), b(2.0f);
    xe::simd<float, 16> c = a * b + 1.0f - a;
    c -= xe::simd<float, 16>(0.5f);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(c[i], i + 0.5f);
    xe::simd<float, 8> re = a.select<8, 2>(0), im = a.select<8, 2>(1);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(re[i] + 1, im[i]);
    a.select<8, 2>(1) = -re;
    a.select<8, 2>(0) *= xe::simd<float, 8>(3.0f);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(a[2 * i], 6.0f * i);
        EXPECT_EQ(a[2 * i + 1], -2.0f * i);
    }
    xe::simd<std::uint32_t, 16> u(5u, 3u);
    EXPECT_EQ((u * 2u + 1u)[15], 101u);
}

// Views at offsets the compiler sees (whole-vector shuffles) and at offsets
// known only at run time (lane loops) read and write the same lanes, for
// vector lengths kept in host vector registers and for others.
template <typename T, int N>
void expect_views_agree() {
    volatile int runtime_one = 1, runtime_zero = 0;
    xe::simd<T, N> a(T(1), T(2));
    const xe::simd<T, N / 2> even = a.template select<N / 2, 2>(0), odd = a.template select<N / 2, 2>(1);
    const xe::simd<T, N / 2> even_rt = a.template select<N / 2, 2>(std::uint16_t(runtime_zero));
    const xe::simd<T, N / 2> odd_rt = a.template select<N / 2, 2>(std::uint16_t(runtime_one));
    for (int i = 0; i < N / 2; ++i) {
        EXPECT_EQ(even[i], T(1 + 4 * i));
        EXPECT_EQ(odd[i], T(3 + 4 * i));
        EXPECT_EQ(even_rt[i], even[i]);
        EXPECT_EQ(odd_rt[i], odd[i]);
    }
    xe::simd<T, N> b = a, c = a;
    b.template select<N / 2, 2>(1) = even;
    c.template select<N / 2, 2>(std::uint16_t(runtime_one)) = even;
    b.template select<N / 2, 2>(0) = odd;
    c.template select<N / 2, 2>(std::uint16_t(runtime_zero)) = odd;
    for (int i = 0; i < N; ++i) {
        EXPECT_EQ(b[i], c[i]);
        EXPECT_EQ(b[i], a[i % 2 ? i - 1 : i + 1]);
    }
}

TEST(SyclEsimd, ViewsAtKnownAndRuntimeOffsetsAgree) {
    expect_views_agree<float, 16>();
    expect_views_agree<double, 16>();
    expect_views_agree<std::uint16_t, 32>();
    expect_views_agree<std::int32_t, 4>();
    expect_views_agree<float, 12>();
    expect_views_agree<double, 64>();
}

TEST(SyclEsimd, LaneArithmeticKeepsScalarSemantics) {
    // A broadcast keeps the sign of zero; narrow integers wrap as the scalar
    // operation converted back to the element type does.
    const xe::simd<float, 16> z(-0.0f);
    for (int i = 0; i < 16; ++i) EXPECT_TRUE(std::signbit(z[i]));
    const xe::simd<std::int16_t, 8> q = xe::simd<std::int16_t, 8>(std::int16_t(-32768)) / std::int16_t(-1);
    const xe::simd<std::uint16_t, 8> w = xe::simd<std::uint16_t, 8>(std::uint16_t(65535)) + std::uint16_t(2);
    const xe::simd<std::int32_t, 8> d = xe::simd<std::int32_t, 8>(-7) / 2;
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(q[i], std::int16_t(-32768));
        EXPECT_EQ(w[i], 1);
        EXPECT_EQ(d[i], -3);
    }
    const xe::simd<double, 8> n = -xe::simd<double, 8>(0.0, 1.0);
    EXPECT_TRUE(std::signbit(n[0]));
    EXPECT_EQ(n[7], -7.0);
}

TEST(SyclEsimd, BlockAccessGathersAndScattersOfUsmAndAccessors) {
    sycl::queue q;
    auto* in = sycl::malloc_shared<double>(64, q);
    auto* out = sycl::malloc_shared<double>(64, q);
    for (int i = 0; i < 64; ++i) {
        in[i] = i;
        out[i] = -1;
    }
    std::vector<double> host(in, in + 64);
    sycl::buffer<double, 1> bin(host.data(), sycl::range<1>(64)), bout(sycl::range<1>(64));
    q.submit([&](sycl::handler& h) {
        sycl::accessor<double, 1, sycl::access_mode::read> ai(bin, h);
        sycl::accessor<double, 1, sycl::access_mode::write> ao(bout, h, sycl::no_init);
        h.parallel_for(sycl::nd_range<1>(1, 1), [=](sycl::nd_item<1>) SYCL_ESIMD_KERNEL {
            xe::simd<double, 16> v;
            v.copy_from(in + 16, xe::vector_aligned);
            v.copy_to(out, xe::element_aligned);
            xe::simd<std::uint32_t, 16> offs(0u, 3u * sizeof(double));
            xe::simd_mask<16> even;
            for (int i = 0; i < 16; ++i) even[i] = i % 2 == 0;
            xe::simd<double, 16> g = xe::gather<double, 16>(in, offs, even);
            xe::scatter<double, 16>(out + 16, offs, g, even);  // odd lanes poison, never stored
            xe::simd<double, 16> w;
            w.copy_from(ai, 8 * sizeof(double));
            w.copy_to(ao, 0);
            xe::scatter<double, 16>(ao, offs, xe::gather<double, 16>(ai, offs, 0), 16 * sizeof(double));
        });
    });
    q.wait_and_throw();
    sycl::host_accessor h(bout);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(out[i], 16 + i);
        EXPECT_EQ(out[16 + 3 * i], i % 2 ? -1 : 3 * i);
        EXPECT_EQ(h[i], 8 + i);
        EXPECT_EQ(h[16 + 3 * i], 3 * i);
    }
    sycl::free(in, q);
    sycl::free(out, q);
}

TEST(SyclEsimd, MaskedGatherLanesArePoisoned) {
    sycl::queue q;
    auto* r = sycl::malloc_shared<float>(16, q);
    float one = 1;
    const float* src = &one;
    run_esimd(q, 1, 1, [=](sycl::nd_item<1>) {
        xe::simd_mask<16> first(0);
        first[0] = 1;
        xe::gather<float, 16>(src, xe::simd<std::uint32_t, 16>(0u), first).copy_to(r);
    });
    EXPECT_EQ(r[0], 1.0f);
    for (int i = 1; i < 16; ++i) EXPECT_TRUE(std::isnan(r[i]));
    sycl::free(r, q);
}

// Prefetches are hints: spans that are unaligned, cross cache lines or run
// past an accessor's range (where a load raises) change nothing and raise
// nothing.
TEST(SyclEsimd, PrefetchIsAHintThatNeverFaults) {
    sycl::queue q;
    auto* data = sycl::malloc_shared<float>(64, q);
    for (int i = 0; i < 64; ++i) data[i] = float(i);
    std::vector<float> host(data, data + 64);
    sycl::buffer<float, 1> buf(host.data(), sycl::range<1>(64));
    q.submit([&](sycl::handler& h) {
        sycl::accessor<float, 1, sycl::access_mode::read> a(buf, h);
        h.parallel_for(sycl::nd_range<1>(1, 1), [=](sycl::nd_item<1>) SYCL_ESIMD_KERNEL {
            xe::prefetch<float, 16>(data);
            xe::prefetch<float, 16>(data, 3 * sizeof(float));  // unaligned, across a line
            xe::prefetch<float>(data + 63);
            xe::prefetch<float, 16>(a, 48 * sizeof(float));   // the last 16 elements
            xe::prefetch<float, 16>(a, 60 * sizeof(float));   // past the range: dropped
            xe::prefetch<float, 16>(a, 1u << 30);
            xe::simd<float, 16> v;
            v.copy_from(data + 16);
            (v + 1.0f).copy_to(data + 32);
        });
    });
    q.wait_and_throw();
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(data[i], float(i));
        EXPECT_EQ(data[32 + i], float(17 + i));
    }
    sycl::free(data, q);
}

// 4 threads each store one row of a 4 x 16 matrix into SLM; after the
// barrier each reads one column group back transposed.
TEST(SyclEsimd, SlmTransposeAcrossBarrier) {
    sycl::queue q;
    auto* out = sycl::malloc_shared<float>(2 * 64, q);
    run_esimd(q, 2, 4, [=](sycl::nd_item<1> it) {
        const std::uint32_t t = std::uint32_t(it.get_local_id(0)), g = std::uint32_t(it.get_group(0));
        xe::slm_init(4 * 16 * sizeof(float));
        xe::slm_block_store<float, 16>(t * 64, xe::simd<float, 16>(float(100 * g + 16 * t), 1.0f));
        xe::barrier();
        // Column block t: rows 0..3 of columns 4t..4t+3.
        xe::simd<std::uint32_t, 16> offs;
        for (int i = 0; i < 16; ++i) offs[i] = std::uint32_t((i % 4) * 64 + (4 * t + i / 4) * 4);
        xe::slm_gather<float, 16>(offs).copy_to(out + 64 * g + 16 * t);
    });
    for (int g = 0; g < 2; ++g)
        for (int t = 0; t < 4; ++t)
            for (int i = 0; i < 16; ++i) EXPECT_EQ(out[64 * g + 16 * t + i], 100 * g + 16 * (i % 4) + 4 * t + i / 4);
    sycl::free(out, q);
}

constexpr sycl::specialization_id<std::int64_t> slm_bytes_id(0);
constexpr sycl::specialization_id<std::int32_t> factor_id(1);

struct esimd_functor {
    const float* in;
    float* out;
    std::int64_t group_offset;
    void operator()(sycl::nd_item<1> it, sycl::kernel_handler kh) const SYCL_ESIMD_KERNEL {
        xe::slm_init(std::uint32_t(kh.get_specialization_constant<slm_bytes_id>()));
        const std::int64_t g = std::int64_t(it.get_group(0)) + group_offset;
        xe::simd<float, 16> v;
        v.copy_from(in + 16 * g);
        xe::slm_block_store<float, 16>(0, v * float(kh.get_specialization_constant<factor_id>()));
        xe::barrier();
        xe::slm_block_load<float, 16>(0).copy_to(out + 16 * g);
    }
};

TEST(SyclEsimd, FunctorWithBundleConstantsAndGroupOffset) {
    sycl::queue q;
    auto in = sycl::get_kernel_bundle<sycl::bundle_state::input>(q.get_context(), {q.get_device()},
                                                                 {sycl::get_kernel_id<esimd_functor>()});
    in.set_specialization_constant<slm_bytes_id>(64);
    in.set_specialization_constant<factor_id>(3);
    auto exe = sycl::build(in);
    auto* a = sycl::malloc_shared<float>(64, q);
    auto* b = sycl::malloc_shared<float>(64, q);
    for (int i = 0; i < 64; ++i) a[i] = float(i);
    for (std::int64_t off : {0, 2})
        q.submit([&](sycl::handler& h) {
            h.use_kernel_bundle(exe);
            h.parallel_for(sycl::nd_range<1>(2, 1), esimd_functor{a, b, off});
        });
    q.wait_and_throw();
    for (int i = 0; i < 64; ++i) EXPECT_EQ(b[i], 3.0f * i);
    sycl::free(a, q);
    sycl::free(b, q);
}

TEST(SyclEsimd, KernelHandlerOutsideALaunchIsRefused) {
    sycl::kernel_handler kh;
    EXPECT_EQ(error_of([&] { (void)kh.get_specialization_constant<factor_id>(); }),
              sycl::errc::feature_not_supported);
}

struct misuse_case {
    const char* name;
    sycl::errc code;
    void (*body)(float* usm, sycl::accessor<float, 1, sycl::access_mode::read_write> acc);
};

class SyclEsimdMisuse : public ::testing::TestWithParam<misuse_case> {};

TEST_P(SyclEsimdMisuse, RaisesOnTheLaunch) {
    sycl::queue q;
    auto* usm = sycl::malloc_shared<float>(64, q);
    sycl::buffer<float, 1> buf(sycl::range<1>(32));
    auto body = GetParam().body;
    q.submit([&](sycl::handler& h) {
        sycl::accessor<float, 1, sycl::access_mode::read_write> acc(buf, h);
        h.parallel_for(sycl::nd_range<1>(2, 1), [=](sycl::nd_item<1>) SYCL_ESIMD_KERNEL { body(usm, acc); });
    });
    EXPECT_EQ(error_of([&] { q.wait_and_throw(); }), GetParam().code);
    sycl::free(usm, q);
}

INSTANTIATE_TEST_SUITE_P(
    Checks, SyclEsimdMisuse,
    ::testing::Values(
        misuse_case{"MisalignedVectorCopy", sycl::errc::kernel,
                    [](float* p, auto) { xe::simd<float, 16>().copy_from(p + 1, xe::vector_aligned); }},
        misuse_case{"SlmPastInit", sycl::errc::kernel,
                    [](float*, auto) {
                        xe::slm_init(64);
                        xe::slm_block_store<float, 16>(64, xe::simd<float, 16>(1.0f));
                    }},
        misuse_case{"SlmWithoutInit", sycl::errc::kernel,
                    [](float*, auto) { (void)xe::slm_block_load<float, 16>(0); }},
        misuse_case{"SlmInitAboveLocalMemory", sycl::errc::memory_allocation,
                    [](float*, auto) { xe::slm_init(1u << 30); }},
        misuse_case{"AccessorOffsetPastRange", sycl::errc::kernel,
                    [](float*, auto acc) { xe::simd<float, 16>().copy_from(acc, 17 * sizeof(float)); }},
        misuse_case{"GatherPastAccessor", sycl::errc::kernel,
                    [](float*, auto acc) {
                        (void)xe::gather<float, 16>(acc, xe::simd<std::uint32_t, 16>(0u, 12u));
                    }}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
