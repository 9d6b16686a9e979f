// The transpose text of the 2D complex main backend on the OpenCL device
// (through the OpenCL layer, so its sub-groups run under the emulation):
// every pair of block widths moves every word of a matrix to its transposed
// place bit for bit, with work-groups covering one tile row or several, and
// a width outside 1, 2, 4, 8 stops the build.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "dft/gpu/kernel_texts.hpp"
#include "dft/gpu/kernels/kernel_probe.hpp"
#include "ovx_test_env.hpp"

namespace {

using kernel_probe::cl_env;
using kernel_probe::dev_buf;
using kernel_probe::launcher;

struct transpose_case {
    std::int64_t rows, cols, vr, vw, wg;
    bool per_lane = false;  // one work-item per lane instead of per lane pair
};

std::string options(const transpose_case& c, const char* name) {
    return "-DKERNEL_FUNC=" + std::string(name) + " -DWORK_GROUP_SIZE=" + std::to_string(c.wg) +
           " -DSUBGROUP_SIZE=16 -DNUM_ROWS=" + std::to_string(c.rows) + " -DNUM_COLS=" + std::to_string(c.cols) +
           " -DVECTOR_READ_SIZE=" + std::to_string(c.vr) + " -DVECTOR_WRITE_SIZE=" + std::to_string(c.vw) +
           (c.per_lane ? " -DOVX_TEST_PER_LANE=1" : "");
}

std::string describe(const transpose_case& c) {
    return std::to_string(c.rows) + "x" + std::to_string(c.cols) + "_vr" + std::to_string(c.vr) + "_vw" +
           std::to_string(c.vw) + "_wg" + std::to_string(c.wg) + (c.per_lane ? "_per_lane" : "");
}
void PrintTo(const transpose_case& c, std::ostream* os) { *os << describe(c); }

class TransposeText : public ::testing::TestWithParam<transpose_case> {};

TEST_P(TransposeText, MovesEveryWordToItsTransposedPlace) {
    const transpose_case& c = GetParam();
    OVX_REQUIRE(cl_env::get().ok(), "no usable OpenCL device");
    // Sub-groups of 16 lanes; one tile row of a sub-group is VR x 8 complex
    // columns; R tile rows per work-group when the work-group is wider than a
    // matrix row.
    const std::int64_t sg = 16, words = 2 * c.rows * c.cols;
    const std::int64_t tiles_per_row = 2 * c.cols / (sg * c.vr);
    const std::int64_t R = c.wg / sg > tiles_per_row ? (c.wg / sg) / tiles_per_row : 1;
    const std::int64_t col_items = R > 1 ? c.wg : 2 * c.cols / c.vr;
    const std::int64_t row_groups = c.rows / (R * c.vw * sg / 2);
    const std::size_t slm = static_cast<std::size_t>(c.vw * sg / 2 * c.wg * c.vr * 4);
    std::vector<std::uint32_t> in(static_cast<std::size_t>(words)), out;
    for (std::int64_t i = 0; i < words; ++i) in[i] = 0x9e3779b9u * static_cast<std::uint32_t>(i + 1);
    in[3] = 0x7f800001u;  // a signalling NaN pattern must come through unchanged
    if (c.per_lane) setenv("OVXPLAT_SG_LANE_PAIRS", "0", 1);
    cl_kernel k = nullptr;
    try {
        k = cl_env::get().kernel(korami::ovx::dft::gpu_kernels::ovx_bkd_c2c_2d_transpose_text, options(c, "tr"), "tr");
    } catch (...) {
        unsetenv("OVXPLAT_SG_LANE_PAIRS");
        throw;
    }
    unsetenv("OVXPLAT_SG_LANE_PAIRS");
    dev_buf din(words * 4), dout(words * 4);
    din.write(in);
    const size_t global[2] = {static_cast<size_t>(col_items), static_cast<size_t>(row_groups)};
    const size_t local[2] = {static_cast<size_t>(c.wg), 1};
    launcher(k).mem(0, din).mem(1, dout).local(2, slm).run(2, global, local);
    out = dout.read_all<std::uint32_t>();
    std::int64_t wrong = 0;
    for (std::int64_t r = 0; r < c.rows; ++r)
        for (std::int64_t col = 0; col < c.cols; ++col)
            for (int part = 0; part < 2; ++part)
                wrong += out[2 * (col * c.rows + r) + part] != in[2 * (r * c.cols + col) + part];
    EXPECT_EQ(wrong, 0);
}

std::vector<transpose_case> all_widths() {
    std::vector<transpose_case> v;
    for (std::int64_t vr : {1, 2, 4, 8})
        for (std::int64_t vw : {1, 2, 4, 8}) v.push_back({256, 256, vr, vw, 32});
    // Several tile rows per work-group; a rectangle; the per-lane emulation.
    v.push_back({256, 64, 8, 2, 32});
    v.push_back({128, 512, 2, 4, 64});
    v.push_back({256, 256, 4, 2, 32, true});
    return v;
}

INSTANTIATE_TEST_SUITE_P(Widths, TransposeText, ::testing::ValuesIn(all_widths()),
                         [](const ::testing::TestParamInfo<transpose_case>& i) { return describe(i.param); });

TEST(TransposeTextBuild, WidthOutsideTheBlockSizesStopsTheBuild) {
    OVX_REQUIRE(cl_env::get().ok(), "no usable OpenCL device");
    for (const char* which : {"read", "write"}) {
        const transpose_case c{256, 256, which[0] == 'r' ? 3 : 2, which[0] == 'w' ? 3 : 2, 32};
        try {
            cl_env::get().program(korami::ovx::dft::gpu_kernels::ovx_bkd_c2c_2d_transpose_text, options(c, "tr"));
            ADD_FAILURE() << "a width of 3 built";
        } catch (const std::runtime_error& e) {
            const std::string want = std::string("Invalid VECTOR_") + (which[0] == 'r' ? "READ" : "WRITE") + "_SIZE";
            EXPECT_NE(std::string(e.what()).find(want), std::string::npos) << e.what();
        }
    }
}

}  // namespace
