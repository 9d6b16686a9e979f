// Real transforms in place on a CPU queue whose layout is given as INPUT and
// OUTPUT strides (the backward direction then reads complex data in the
// input layout and writes reals in the output layout), and sizes that no
// machine can hold. Results against the long-double reference DFT;
// tolerances: single 3e-6 * log2(N) + 1e-6, double 1e-14 * log2(N) + 1e-14,
// relative to the largest reference value.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>

#include "dft/dft_reference.hpp"
#include "korami/ovx/dft.hpp"

namespace dft = korami::ovx::dft;
using namespace dft_test;

namespace {

sycl::queue& cpu_queue() {
    static sycl::queue q{sycl::cpu_selector_v};
    return q;
}

struct io_case {
    const char* name;
    std::vector<std::int64_t> n;          // user order
    std::int64_t batch, fwd_dist, bwd_dist;  // real-side and complex-side distances
    std::vector<std::int64_t> in, out;    // INPUT_STRIDES, OUTPUT_STRIDES (offset first)
};

void PrintTo(const io_case& c, std::ostream* os) { *os << c.name; }

template <dft::precision P>
void run_io(const io_case& c, int direction) {
    using T = std::conditional_t<P == dft::precision::DOUBLE, double, float>;
    std::vector<std::int64_t> m_r = c.n, m_c = c.n;
    m_c.back() = c.n.back() / 2 + 1;
    const layout l_in{c.in, direction == 0 ? c.fwd_dist : c.bwd_dist};
    const layout l_out{c.out, direction == 0 ? c.bwd_dist : c.fwd_dist};
    const auto& m_in = direction == 0 ? m_r : m_c;
    const auto& m_out = direction == 0 ? m_c : m_r;
    const int c_in = direction == 0 ? 1 : 2, c_out = 3 - c_in;
    std::vector<cld> x, expected;
    reference_batch(c.n, true, direction, 1.0, c.batch, 77u, x, expected);
    std::vector<T> a(std::max(l_in.span(m_in, c.batch) * c_in, l_out.span(m_out, c.batch) * c_out), T(0));
    scatter(a, l_in, m_in, c.batch, c_in, 0, x);

    dft::descriptor<P, dft::domain::REAL> desc(c.n.size() == 1 ? dft::descriptor<P, dft::domain::REAL>(c.n[0])
                                                               : dft::descriptor<P, dft::domain::REAL>(c.n));
    if (c.batch > 1) {
        desc.set_value(dft::config_param::NUMBER_OF_TRANSFORMS, c.batch);
        desc.set_value(dft::config_param::FWD_DISTANCE, c.fwd_dist);
        desc.set_value(dft::config_param::BWD_DISTANCE, c.bwd_dist);
    }
    desc.set_value(dft::config_param::INPUT_STRIDES, c.in);
    desc.set_value(dft::config_param::OUTPUT_STRIDES, c.out);
    desc.commit(cpu_queue());
    {
        sycl::buffer<T, 1> b(a.data(), sycl::range<1>(a.size()));
        if (direction == 0) dft::compute_forward(desc, b);
        else dft::compute_backward(desc, b);
    }
    const double rel = relative_error(a, l_out, m_out, c.batch, c_out, 0, expected);
    EXPECT_LE(rel, tolerance<T>(product(c.n))) << "relative error " << rel;
}

class CpuInPlaceIoStrides : public ::testing::TestWithParam<std::tuple<io_case, bool, int>> {};

TEST_P(CpuInPlaceIoStrides, MatchesReference) {
    const auto& [c, dbl, direction] = GetParam();
    if (dbl) run_io<dft::precision::DOUBLE>(c, direction);
    else run_io<dft::precision::SINGLE>(c, direction);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, CpuInPlaceIoStrides,
    ::testing::Combine(
        ::testing::Values(io_case{"rows8x2_stride14", {8, 2}, 1, 0, 0, {0, 14, 1}, {0, 7, 1}},
                          io_case{"rows2x2_stride14", {2, 2}, 1, 0, 0, {0, 14, 1}, {0, 7, 1}},
                          io_case{"n12_batch6_offsets", {12}, 6, 30, 15, {8, 1}, {4, 1}},
                          io_case{"rank3_padded_offsets", {3, 4, 6}, 1, 0, 0, {4, 48, 12, 1}, {2, 24, 6, 1}}),
        ::testing::Bool(), ::testing::Values(0, 1)),
    [](const auto& i) {
        return std::string(std::get<0>(i.param).name) + (std::get<1>(i.param) ? "_double" : "_single") +
               (std::get<2>(i.param) ? "_backward" : "_forward");
    });

// A transform larger than any memory is refused at commit with an exception
// that says so, and the descriptor stays usable.
template <dft::precision P, dft::domain D>
void expect_too_large() {
    dft::descriptor<P, D> desc(std::int64_t(1) << 40);
    try {
        desc.commit(cpu_queue());
        FAIL() << "commit of 2^40 points succeeded";
    } catch (const korami::ovx::exception& e) {
        std::string what = e.what();
        for (char& ch : what) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        EXPECT_TRUE(what.find("alloc") != std::string::npos || what.find("too large") != std::string::npos) << what;
    }
    dft::descriptor<P, D> small(16);
    EXPECT_NO_THROW(small.commit(cpu_queue()));
}

TEST(CpuTooLarge, CommitRaises) {
    expect_too_large<dft::precision::DOUBLE, dft::domain::REAL>();
    expect_too_large<dft::precision::SINGLE, dft::domain::REAL>();
    expect_too_large<dft::precision::DOUBLE, dft::domain::COMPLEX>();
}

}  // namespace
