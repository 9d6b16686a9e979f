// Compute of CPU nodes: refusals, and the verbose description of the calls.
#include <gtest/gtest.h>
#include <ovx_serv.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "dft/node/ovx_dft_node.hpp"
#include "fftw/ovx_fftw_cpu.hpp"

namespace {

struct cpu_node {
    DFTI_DESCRIPTOR* node = nullptr;
    cpu_node(bool dbl, int domain, std::vector<std::int64_t> n) {
        const std::int64_t r = static_cast<std::int64_t>(n.size());
        EXPECT_EQ(dbl ? dfti_create_descriptor_d_md(&node, domain, r, n.data())
                      : dfti_create_descriptor_s_md(&node, domain, r, n.data()),
                  0);
        if (domain == DFTI_REAL) dfti_set_value(node, DFTI_PARAM_CONJUGATE_EVEN_STORAGE, (int)DFTI_COMPLEX_COMPLEX);
        dfti_set_value(node, DFTI_PARAM_THREAD_LIMIT, std::int64_t{1});
    }
    ~cpu_node() { dfti_free_descriptor(&node); }
    std::string text(const void* a1 = nullptr, const void* a2 = nullptr, int direction = 0) const {
        char buf[512];
        dfti_verbose_text(node, a1, a2, direction, buf);
        std::string s = buf;
        return s.substr(0, s.find("desc:"));
    }
};

class VerboseMode : public ::testing::Test {
protected:
    void TearDown() override { *ovx_serv_verbose_mode() = 0; }
};

TEST_F(VerboseMode, RefusalsComeBeforeAnyLine) {
    *ovx_serv_verbose_mode() = 1;
    alignas(64) float data[64] = {};
    cpu_node uncommitted(false, DFTI_COMPLEX, {16});
    cpu_node oop(false, DFTI_COMPLEX, {16});
    dfti_set_value(oop.node, DFTI_PARAM_PLACEMENT, (int)DFTI_NOT_INPLACE);
    ASSERT_EQ(dfti_commit_descriptor(oop.node), 0);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(dfti_compute_forward(nullptr, data), 5);
    EXPECT_EQ(dfti_compute_backward(uncommitted.node, data), 2);
    EXPECT_EQ(dfti_compute_forward(oop.node, nullptr, data), 3);
    EXPECT_EQ(dfti_compute_backward(oop.node, data, nullptr), 3);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

TEST_F(VerboseMode, ComputePrintsTheDescribedLine) {
    cpu_node n(false, DFTI_COMPLEX, {1024});
    ASSERT_EQ(dfti_commit_descriptor(n.node), 0);
    std::vector<float> data(2 * 1024 + 16);
    float* aligned = reinterpret_cast<float*>((reinterpret_cast<std::uintptr_t>(data.data()) + 63) & ~std::uintptr_t{63});
    *ovx_serv_verbose_mode() = 1;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(dfti_compute_forward(n.node, aligned), 0);
    const std::string line = ::testing::internal::GetCapturedStdout();
    char address[32];
    std::snprintf(address, sizeof address, "%p", static_cast<void*>(n.node));
    EXPECT_EQ(line.rfind("OVX_VERBOSE FFT(scfi1024,input_strides:{0,1},output_strides:{0,1},tLim:1,desc:" +
                             std::string(address) + ")",
                         0),
              0u)
        << line;
}

struct text_case {
    const char* name;
    bool dbl;
    int domain;
    std::vector<std::int64_t> n;
    void (*configure)(DFTI_DESCRIPTOR*);
    int direction;
    const char* expected;
};
void PrintTo(const text_case& c, std::ostream* os) { *os << c.name; }

class VerboseText : public ::testing::TestWithParam<text_case> {};

TEST_P(VerboseText, DescribesTheLayout) {
    const text_case& c = GetParam();
    cpu_node n(c.dbl, c.domain, c.n);
    if (c.configure) c.configure(n.node);
    EXPECT_EQ(n.text(nullptr, nullptr, c.direction), c.expected);
}

void out_of_place(DFTI_DESCRIPTOR* n) { dfti_set_value(n, DFTI_PARAM_PLACEMENT, (int)DFTI_NOT_INPLACE); }
void vector_batch(DFTI_DESCRIPTOR* n) {
    const std::int64_t s[2] = {0, 8};
    dfti_set_value(n, DFTI_PARAM_INPUT_STRIDES, s);
    dfti_set_value(n, DFTI_PARAM_OUTPUT_STRIDES, s);
    dfti_set_value(n, DFTI_PARAM_NUMBER_OF_TRANSFORMS, std::int64_t{8});
    dfti_set_value(n, DFTI_PARAM_INPUT_DISTANCE, std::int64_t{1});
    dfti_set_value(n, DFTI_PARAM_OUTPUT_DISTANCE, std::int64_t{1});
}
void contiguous_batch(DFTI_DESCRIPTOR* n) {
    dfti_set_value(n, DFTI_PARAM_NUMBER_OF_TRANSFORMS, std::int64_t{8});
    dfti_set_value(n, DFTI_PARAM_INPUT_DISTANCE, std::int64_t{16});
    dfti_set_value(n, DFTI_PARAM_OUTPUT_DISTANCE, std::int64_t{16});
}
void wide_strides(DFTI_DESCRIPTOR* n) {
    const std::int64_t s[2] = {0, 5000000000LL};
    dfti_set_value(n, DFTI_PARAM_INPUT_STRIDES, s);
    dfti_set_value(n, DFTI_PARAM_OUTPUT_STRIDES, s);
}
void scales_split_and_workspace(DFTI_DESCRIPTOR* n) {
    n->forward_scale = std::numeric_limits<double>::quiet_NaN();
    n->backward_scale = 0.5;
    n->complex_storage = DFTI_REAL_REAL;
    n->destroy_input = 16;
    dfti_set_value(n, DFTI_PARAM_WORKSPACE, (int)DFTI_AVOID);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, VerboseText,
    ::testing::Values(
        text_case{"complex_2d_64x32", false, DFTI_COMPLEX, {64, 32}, nullptr, 0,
                  "FFT(scfi64x32,input_strides:{0,32,1},output_strides:{0,32,1},tLim:1,"},
        text_case{"double_out_of_place_backward", true, DFTI_COMPLEX, {16}, out_of_place, 1,
                  "FFT(dcbo16,input_strides:{0,1},output_strides:{0,1},tLim:1,"},
        text_case{"vector_batch", false, DFTI_COMPLEX, {16}, vector_batch, 0,
                  "FFT(scfi16v8,input_strides:{0,8},output_strides:{0,8},input_distance:1,output_distance:1,tLim:1,"},
        text_case{"contiguous_batch", false, DFTI_COMPLEX, {16}, contiguous_batch, 0,
                  "FFT(scfi16*8,input_strides:{0,1},output_strides:{0,1},input_distance:16,output_distance:16,tLim:1,"},
        text_case{"strides_beyond_32_bits", false, DFTI_COMPLEX, {4}, wide_strides, 0,
                  "FFT(scfi4:5000000000:5000000000,input_strides:{0,5000000000},output_strides:{0,5000000000},tLim:1,"},
        text_case{"nan_scale_split_storage", false, DFTI_COMPLEX, {8}, scales_split_and_workspace, 0,
                  "FFT(scfi/8,input_strides:{0,1},output_strides:{0,1},fScale:nan,bScale:0.5,wSpace:avoid,"
                  "destroy_input:allow,tLim:1,"},
        text_case{"real_forward", false, DFTI_REAL, {16}, out_of_place, 0,
                  "FFT(srfo16,input_strides:{0,1},output_strides:{0,1},tLim:1,"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(VerboseTextLimits, UnalignedArraysAndLongTextsAreReported) {
    cpu_node n(false, DFTI_COMPLEX, {16});
    alignas(64) float data[64] = {};
    EXPECT_EQ(n.text(data + 1, data + 2), "FFT(scfi16,input_strides:{0,1},output_strides:{0,1},tLim:1,unaligned_input,unaligned_output,");
    EXPECT_EQ(n.text(data, nullptr), "FFT(scfi16,input_strides:{0,1},output_strides:{0,1},tLim:1,");
    cpu_node big(false, DFTI_COMPLEX, {2, 2, 2, 2, 2, 2, 2});
    const std::int64_t s[8] = {0, 4000000000000000000LL, 4000000000000000000LL, 4000000000000000000LL,
                               4000000000000000000LL, 4000000000000000000LL, 4000000000000000000LL, 1};
    dfti_set_value(big.node, DFTI_PARAM_INPUT_STRIDES, s);
    dfti_set_value(big.node, DFTI_PARAM_OUTPUT_STRIDES, s);
    char buf[512];
    dfti_verbose_text(big.node, nullptr, nullptr, 0, buf);
    EXPECT_EQ(std::strlen(buf), 511u);
    *ovx_serv_verbose_mode() = 1;
    ::testing::internal::CaptureStdout();
    dfti_print_verbose(big.node, nullptr, nullptr, 0.0, 0);
    EXPECT_EQ(::testing::internal::GetCapturedStdout().rfind(std::string("OVX_VERBOSE ") + buf, 0), 0u);
    *ovx_serv_verbose_mode() = 0;
}

}  // namespace
