// Refusals and error paths of the descriptor API on both routes: layouts whose
// extent does not fit 64 bits, outputs that would put two results in one
// place (zero strides, overlapping rows or transforms), in-place complex
// transforms given two layouts, a short caller
// workspace, compute calls that cannot run, and failures inside the CPU
// route's host tasks reaching the queue's asynchronous handler.
#include <gtest/gtest.h>
#include <ovxplat/cpudft.h>

#include <ovxplat/sycl_standin.hpp>

#include <complex>
#include <cstdlib>
#include <functional>
#include <string>

#include "dft/dft_reference.hpp"
#include "ovx_test_gpu.hpp"
#include "korami/ovx/dft.hpp"
#include "worst_error.hpp"

namespace dft = korami::ovx::dft;
using dft::config_param;
using dft::config_value;
using cdesc = dft::descriptor<dft::precision::SINGLE, dft::domain::COMPLEX>;
using rdesc = dft::descriptor<dft::precision::SINGLE, dft::domain::REAL>;
using vec = std::vector<std::int64_t>;

namespace {


sycl::queue make_queue(bool gpu) {
    return gpu ? sycl::queue{sycl::gpu_selector_v} : sycl::queue{sycl::cpu_selector_v};
}

template <typename F>
std::string invalid_argument_text(F&& f) {
    try {
        f();
    } catch (const korami::ovx::invalid_argument& e) {
        return e.what();
    } catch (const std::exception& e) {
        return std::string("other exception: ") + e.what();
    }
    return "nothing thrown";
}

// Largest error of a forward single-precision complex transform of `n`
// points against the reference, relative to the largest reference value.
double forward_error(const std::vector<std::complex<float>>& in, const std::vector<std::complex<float>>& out) {
    std::vector<dft_test::cld> ref(in.begin(), in.end());
    dft_test::reference_dft(ref, {static_cast<std::int64_t>(in.size())}, -1);
    long double err = 0, big = 0;
    for (std::size_t i = 0; i < in.size(); ++i) {
        err = ovx_test::worse(err, std::abs(dft_test::cld(out[i]) - ref[i]));
        big = std::max(big, std::abs(ref[i]));
    }
    return static_cast<double>(err / big);
}

std::vector<std::complex<float>> ramp(std::size_t n) {
    std::vector<std::complex<float>> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = {std::sin(0.3f * i) + 0.1f * i, std::cos(1.7f * i)};
    return v;
}

// ---- construction ---------------------------------------------------------------------

TEST(LayoutSize, LengthsWhoseProductOverflowsAreRefused) {
    for (const vec& lengths : {vec{2, 1ll << 32, 1ll << 32}, vec{1ll << 62, 4}}) {
        std::string msg = invalid_argument_text([&] { cdesc d(lengths); });
        EXPECT_NE(msg.find("korami::ovx::dft::descriptor: invalid argument: the lengths"), std::string::npos) << msg;
    }
    // The padded real side (2 * (n/2 + 1)) is counted too.
    std::string msg = invalid_argument_text([] { rdesc d(vec{1ll << 61, 3}); });
    EXPECT_NE(msg.find("the lengths"), std::string::npos) << msg;
}

TEST(SetValue, UnsignedValuesAboveInt64AreOutOfRange) {
    cdesc d(vec{16});
    for (auto p : {config_param::NUMBER_OF_TRANSFORMS, config_param::FWD_DISTANCE}) {
        std::string msg = invalid_argument_text([&] { d.set_value(p, UINT64_MAX); });
        EXPECT_NE(msg.find("at most 9223372036854775807: the value given is out of range"), std::string::npos) << msg;
    }
    std::int64_t count = 0;
    d.get_value(config_param::NUMBER_OF_TRANSFORMS, &count);
    EXPECT_EQ(count, 1);
}

// ---- commit refusals, both routes -------------------------------------------------------

struct layout_case {
    const char* name;
    vec lengths;
    std::function<void(cdesc&)> configure;
    const char* message;
};
void PrintTo(const layout_case& c, std::ostream* os) { *os << c.name; }

class LayoutRefusal : public ::testing::TestWithParam<std::tuple<bool, layout_case>> {};

TEST_P(LayoutRefusal, CommitRaisesInvalidArgumentNamingTheParameter) {
    const bool gpu = std::get<0>(GetParam());
    const layout_case& c = std::get<1>(GetParam());
    sycl::queue q = make_queue(gpu);
    cdesc d(c.lengths);
    c.configure(d);
    std::string msg = invalid_argument_text([&] { d.commit(q); });
    EXPECT_NE(msg.find("korami::ovx::dft::commit: invalid argument: "), std::string::npos) << msg;
    EXPECT_NE(msg.find(c.message), std::string::npos) << msg;
    config_value status;
    d.get_value(config_param::COMMIT_STATUS, &status);
    EXPECT_EQ(status, config_value::UNCOMMITTED);
}

void out_of_place(cdesc& d) { d.set_value(config_param::PLACEMENT, config_value::NOT_INPLACE); }

INSTANTIATE_TEST_SUITE_P(
    BothRoutes, LayoutRefusal,
    ::testing::Combine(
        ::testing::Bool(),
        ::testing::Values(
            layout_case{"StrideBeyond64Bits", {16},
                        [](cdesc& d) {
                            d.set_value(config_param::FWD_STRIDES, vec{0, 1ll << 62});
                            d.set_value(config_param::BWD_STRIDES, vec{0, 1ll << 62});
                        },
                        "FWD_STRIDES reach beyond"},
            layout_case{"OffsetBeyond64Bits", {16},
                        [](cdesc& d) {
                            out_of_place(d);
                            d.set_value(config_param::BWD_STRIDES, vec{INT64_MAX - 4, 1});
                        },
                        "BWD_STRIDES reach beyond"},
            layout_case{"DistanceBeyond64Bits", {16},
                        [](cdesc& d) {
                            d.set_value(config_param::NUMBER_OF_TRANSFORMS, 1ll << 40);
                            d.set_value(config_param::FWD_DISTANCE, 1ll << 30);
                            d.set_value(config_param::BWD_DISTANCE, 1ll << 30);
                        },
                        "FWD_DISTANCE with NUMBER_OF_TRANSFORMS reach beyond"},
            layout_case{"DistanceBytesBeyond64Bits", {16},
                        [](cdesc& d) {
                            d.set_value(config_param::NUMBER_OF_TRANSFORMS, 4);
                            d.set_value(config_param::FWD_DISTANCE, 1ll << 61);
                            d.set_value(config_param::BWD_DISTANCE, 1ll << 61);
                        },
                        "FWD_DISTANCE with NUMBER_OF_TRANSFORMS reach beyond"},
            layout_case{"ZeroBackwardDistanceSet", {16},
                        [](cdesc& d) {
                            out_of_place(d);
                            d.set_value(config_param::NUMBER_OF_TRANSFORMS, 2);
                            d.set_value(config_param::FWD_DISTANCE, 16);
                            d.set_value(config_param::BWD_DISTANCE, 0);
                        },
                        "BWD_DISTANCE is 0, which is refused between 2 transforms"},
            layout_case{"ZeroForwardOutputStride", {16},
                        [](cdesc& d) {
                            out_of_place(d);
                            d.set_value(config_param::BWD_STRIDES, vec{0, 0});
                        },
                        "BWD_STRIDES gives a stride of 0 to a dimension of 16 output points"},
            layout_case{"ZeroBackwardOutputStride", {16},
                        [](cdesc& d) {
                            out_of_place(d);
                            d.set_value(config_param::FWD_STRIDES, vec{0, 0});
                        },
                        "FWD_STRIDES gives a stride of 0"},
            layout_case{"ZeroOutputStrideOfOneDimension", {4, 4},
                        [](cdesc& d) {
                            out_of_place(d);
                            d.set_value(config_param::INPUT_STRIDES, vec{0, 4, 1});
                            d.set_value(config_param::OUTPUT_STRIDES, vec{0, 0, 1});
                        },
                        "OUTPUT_STRIDES gives a stride of 0 to a dimension of 4"},
            layout_case{"InPlaceTransformsOnEachOther", {64},
                        [](cdesc& d) {
                            d.set_value(config_param::NUMBER_OF_TRANSFORMS, 3);
                            d.set_value(config_param::FWD_DISTANCE, 32);
                            d.set_value(config_param::BWD_DISTANCE, 32);
                        },
                        "FWD_DISTANCE 32 puts the outputs of 3 transforms on each other: a stride of 1 along 64 "
                        "output points reaches the same elements"},
            layout_case{"OutputPlanesOfTwoTransformsOverlap", {8, 8},
                        [](cdesc& d) {
                            out_of_place(d);
                            d.set_value(config_param::NUMBER_OF_TRANSFORMS, 2);
                            d.set_value(config_param::FWD_DISTANCE, 40);
                            d.set_value(config_param::BWD_DISTANCE, 40);
                        },
                        "BWD_DISTANCE 40 puts the outputs of 2 transforms on each other: a stride of 8 along 8 "
                        "output points"},
            layout_case{"OutputRowsOverlap", {4, 4},
                        [](cdesc& d) {
                            out_of_place(d);
                            d.set_value(config_param::BWD_STRIDES, vec{0, 2, 1});
                        },
                        "BWD_STRIDES put two output points in one place: strides 1 and 2 along dimensions of 4 "
                        "and 4 points"},
            layout_case{"InPlaceWithTwoInputOutputLayouts", {16},
                        [](cdesc& d) {
                            d.set_value(config_param::INPUT_STRIDES, vec{0, 1});
                            d.set_value(config_param::OUTPUT_STRIDES, vec{0, 2});
                        },
                        "INPUT_STRIDES {0, 1} and OUTPUT_STRIDES {0, 2} differ"},
            layout_case{"InPlaceWithTwoStrideLayouts", {16},
                        [](cdesc& d) {
                            d.set_value(config_param::FWD_STRIDES, vec{0, 1});
                            d.set_value(config_param::BWD_STRIDES, vec{0, 2});
                        },
                        "FWD_STRIDES {0, 1} and BWD_STRIDES {0, 2} differ"},
            layout_case{"InPlaceWithTwoDistances", {16},
                        [](cdesc& d) {
                            d.set_value(config_param::NUMBER_OF_TRANSFORMS, 2);
                            d.set_value(config_param::FWD_DISTANCE, 16);
                            d.set_value(config_param::BWD_DISTANCE, 32);
                        },
                        "FWD_DISTANCE 16 and BWD_DISTANCE 32 differ"})),
    [](const auto& info) {
        return std::string(std::get<0>(info.param) ? "Gpu_" : "Cpu_") + std::get<1>(info.param).name;
    });

// ---- compute calls refused at the call, both routes ------------------------------------

class ComputeRefusal : public ::testing::TestWithParam<bool> {};

TEST_P(ComputeRefusal, OutOfPlaceOnOneArrayOrWithoutOutput) {
    const bool gpu = GetParam();
    if (gpu) OVX_REQUIRE_OPENCL();
    sycl::queue q = make_queue(gpu);
    cdesc d(16);
    d.set_value(config_param::PLACEMENT, config_value::NOT_INPLACE);
    d.commit(q);
    auto* a = sycl::malloc_shared<std::complex<float>>(16, q);
    sycl::buffer<std::complex<float>, 1> b{sycl::range<1>(16)};
    const std::string same = "the input and output";
    EXPECT_NE(invalid_argument_text([&] { dft::compute_forward(d, a, a); }).find(same), std::string::npos);
    EXPECT_NE(invalid_argument_text([&] { dft::compute_backward(d, b, b); }).find(same), std::string::npos);
    EXPECT_NE(invalid_argument_text([&] { dft::compute_forward(d, a, static_cast<std::complex<float>*>(nullptr)); })
                  .find("the output pointer is null"),
              std::string::npos);
    sycl::free(a, q);
}

INSTANTIATE_TEST_SUITE_P(BothRoutes, ComputeRefusal, ::testing::Bool(),
                         [](const auto& info) { return std::string(info.param ? "Gpu" : "Cpu"); });

// ---- an output fault of one direction only ---------------------------------------------------

// INPUT/OUTPUT_STRIDES hold for both directions while the distances follow
// the domains: here the forward output fits and the backward one would put
// two transforms on each other. The commit holds (a caller sets io strides
// per direction and commits again), the forward transform runs, and the
// backward one is refused at its compute, before anything runs.
class OneDirectionFault : public ::testing::TestWithParam<bool> {};

TEST_P(OneDirectionFault, ForwardRunsAndBackwardIsRefusedAtCompute) {
    const bool gpu = GetParam();
    if (gpu) OVX_REQUIRE_OPENCL();
    sycl::queue q = make_queue(gpu);
    cdesc d(16);
    out_of_place(d);
    d.set_value(config_param::NUMBER_OF_TRANSFORMS, 2);
    d.set_value(config_param::INPUT_STRIDES, vec{0, 1});
    d.set_value(config_param::OUTPUT_STRIDES, vec{0, 2});
    d.set_value(config_param::FWD_DISTANCE, 16);
    d.set_value(config_param::BWD_DISTANCE, 32);
    d.commit(q);
    const auto input = ramp(32);
    auto* in = sycl::malloc_shared<std::complex<float>>(32, q);
    auto* out = sycl::malloc_shared<std::complex<float>>(64, q);
    std::copy(input.begin(), input.end(), in);
    std::fill(out, out + 64, std::complex<float>(5, 5));
    dft::compute_forward(d, reinterpret_cast<float*>(in), reinterpret_cast<float*>(out)).wait();
    for (int t = 0; t < 2; ++t) {
        std::vector<std::complex<float>> x(input.begin() + 16 * t, input.begin() + 16 * t + 16), y(16);
        for (int k = 0; k < 16; ++k) y[k] = out[32 * t + 2 * k];
        EXPECT_LT(forward_error(x, y), 1e-5) << "transform " << t;
        for (int k = 0; k < 16; ++k) EXPECT_EQ(out[32 * t + 2 * k + 1], std::complex<float>(5, 5));
    }
    std::fill(out, out + 64, std::complex<float>(5, 5));
    std::string msg = invalid_argument_text(
        [&] { dft::compute_backward(d, reinterpret_cast<float*>(in), reinterpret_cast<float*>(out)).wait(); });
    EXPECT_NE(msg.find("korami::ovx::dft::compute_backward: invalid argument: the backward transform of this layout "
                       "would lose results: FWD_DISTANCE 16 puts the outputs of 2 transforms on each other"),
              std::string::npos)
        << msg;
    q.wait();
    EXPECT_TRUE(std::all_of(out, out + 64, [](std::complex<float> v) { return v == std::complex<float>(5, 5); }));
    sycl::free(in, q);
    sycl::free(out, q);
}
INSTANTIATE_TEST_SUITE_P(BothRoutes, OneDirectionFault, ::testing::Bool(),
                         [](const auto& info) { return std::string(info.param ? "Gpu" : "Cpu"); });

// ---- an input read along a stride of 0 ------------------------------------------------------

// The GPU backends take a stride of 0 for "not given": a GPU commit refuses
// such an input, while the CPU route reads the one element repeatedly.
TEST(BroadcastInput, GpuRefusesNamingTheParameterAndCpuComputes) {
    OVX_REQUIRE_OPENCL();
    for (bool gpu : {true, false}) {
        sycl::queue q = make_queue(gpu);
        cdesc d(vec{4, 8});
        out_of_place(d);
        d.set_value(config_param::INPUT_STRIDES, vec{0, 0, 1});
        d.set_value(config_param::OUTPUT_STRIDES, vec{0, 8, 1});
        if (gpu) {
            std::string msg;
            try {
                d.commit(q);
            } catch (const korami::ovx::unimplemented& e) {
                msg = e.what();
            }
            EXPECT_NE(msg.find("INPUT_STRIDES gives a stride of 0 to a dimension of 4 points"), std::string::npos)
                << msg;
            continue;
        }
        d.commit(q);
        // Every row reads the same 8 inputs: the 2D transform is 4 times a 1D
        // transform of the row in its first output row, and zero elsewhere.
        const auto row = ramp(8);
        auto* in = sycl::malloc_shared<std::complex<float>>(8, q);
        auto* out = sycl::malloc_shared<std::complex<float>>(32, q);
        std::copy(row.begin(), row.end(), in);
        dft::compute_forward(d, reinterpret_cast<float*>(in), reinterpret_cast<float*>(out)).wait();
        std::vector<std::complex<float>> first(out, out + 8);
        std::vector<std::complex<float>> quarter(8);
        for (int k = 0; k < 8; ++k) quarter[k] = first[k] / 4.0f;
        EXPECT_LT(forward_error(row, quarter), 1e-5);
        for (int k = 8; k < 32; ++k) EXPECT_LT(std::abs(out[k]), 1e-4f) << k;
        sycl::free(in, q);
        sycl::free(out, q);
    }
}

// ---- a caller's workspace too short ------------------------------------------------------

TEST(WorkspaceBinding, ShortBufferIsRefusedWithoutLeakAndKeepsTheBinding) {
    OVX_REQUIRE_OPENCL();
    sycl::queue q = make_queue(true);
    cdesc d(64);
    d.set_value(config_param::WORKSPACE_PLACEMENT, config_value::WORKSPACE_EXTERNAL);
    d.commit(q);
    std::int64_t need = 0;
    d.get_value(config_param::WORKSPACE_EXTERNAL_BYTES, &need);
    ASSERT_GT(need, 8);
    const auto live = ovxplat::get_sycl_counters().buffers_live;
    for (int attempt = 0; attempt < 3; ++attempt) {
        sycl::buffer<float, 1> tiny{sycl::range<1>(2)};
        std::string msg = invalid_argument_text([&] { d.set_workspace(tiny); });
        EXPECT_NE(msg.find("the workspace buffer holds 8 bytes; the transform needs " + std::to_string(need)),
                  std::string::npos)
            << msg;
    }
    EXPECT_EQ(ovxplat::get_sycl_counters().buffers_live, live);

    const auto input = ramp(64);
    sycl::buffer<std::complex<float>, 1> data{input.data(), sycl::range<1>(64)};
    EXPECT_THROW(dft::compute_forward(d, data), dft::no_workspace_exception);

    sycl::buffer<float, 1> ws{sycl::range<1>(static_cast<std::size_t>((need + 3) / 4))};
    d.set_workspace(ws);
    sycl::buffer<float, 1> tiny{sycl::range<1>(2)};
    EXPECT_THROW(d.set_workspace(tiny), korami::ovx::invalid_argument);
    dft::compute_forward(d, data);  // on the binding that held
    std::vector<std::complex<float>> out(64);
    {
        sycl::host_accessor acc(data);
        std::copy(acc.begin(), acc.end(), out.begin());
    }
    EXPECT_LT(forward_error(input, out), 1e-5);  // single precision
}

// ---- failures inside the CPU route's host tasks ------------------------------------------

// A backward real transform whose complex input rows lie 2^46 elements apart:
// the CPU library copies that input before it transforms it. A buffer is
// measured at the call; USM cannot be, and the copy's failed allocation
// inside the host task reaches the queue's asynchronous handler.
TEST(CpuHostTask, FailureAtTheCallOrInTheAsynchronousHandler) {
    std::vector<std::string> reported;
    sycl::queue q{sycl::cpu_selector_v, [&](sycl::exception_list l) {
                      for (auto& e : l) {
                          try {
                              std::rethrow_exception(e);
                          } catch (const std::exception& x) {
                              reported.push_back(x.what());
                          }
                      }
                  }};
    rdesc d(vec{2, 4});
    d.set_value(config_param::PLACEMENT, config_value::NOT_INPLACE);
    d.set_value(config_param::FWD_STRIDES, vec{0, 4, 1});
    d.set_value(config_param::BWD_STRIDES, vec{0, 3, 1});
    d.commit(q);

    // What can be checked is checked at the call: a buffer shorter than the layout.
    sycl::buffer<std::complex<float>, 1> bc{sycl::range<1>(2)};
    sycl::buffer<float, 1> br{sycl::range<1>(8)};
    std::string msg = invalid_argument_text([&] { dft::compute_backward(d, bc, br); });
    EXPECT_NE(msg.find("the input buffer holds 16 bytes"), std::string::npos) << msg;

    // A failure inside the host task reaches the queue's asynchronous handler.
    auto* c = sycl::malloc_shared<std::complex<float>>(8, q);
    auto* r = sycl::malloc_shared<float>(8, q);
    ovxplat_cpudft_fail_next_compute(1);
    sycl::event e = dft::compute_backward(d, c, r);
    e.wait();
    EXPECT_TRUE(reported.empty());
    q.wait_and_throw();
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_EQ(reported[0], "korami::ovx::dft::compute_backward: FFT_ALLOCATION_FAILED");
    sycl::free(c, q);
    sycl::free(r, q);
}

}  // namespace
