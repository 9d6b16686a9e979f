// Rank 2 and 3 transforms through the public API on the stand-in GPU: each
// case commits a descriptor on a device profile, checks the owning backend
// record, runs forward and then backward (scales 1/3 and 1/N) in USM or
// buffer form, in or out of place, with packed or strided layouts, against
// FFTW, and checks that nothing outside the layout was written. Some cases
// run with shuffled out-of-order queues.
#include "dft/gpu/md_test_harness.hpp"

namespace {

using md_test::md_case;

class MdApi : public ::testing::TestWithParam<md_case> {};

TEST_P(MdApi, ForwardThenBackwardMatchFftw) { md_test::run_case(GetParam()); }

std::string case_name(const ::testing::TestParamInfo<md_case>& i) { return md_test::name_of(i.param); }

md_case R(const char* prof, bool single, md_test::vec n, std::int64_t batch, bool ip, bool usm, const char* owner) {
    md_case c{prof, true, single, n};
    c.batch = batch;
    c.in_place = ip;
    c.usm = usm;
    c.owner = owner;
    return c;
}
md_case C(const char* prof, bool single, md_test::vec n, std::int64_t batch, bool ip, bool usm, const char* owner) {
    md_case c = R(prof, single, n, batch, ip, usm, owner);
    c.real = false;
    return c;
}
md_case strided(md_case c, md_test::vec fs, md_test::vec bs, bool io = false) {
    c.fs = fs;
    c.bs = bs;
    c.io = io;
    return c;
}
md_case shuffled(md_case c) {
    c.shuffle = true;
    return c;
}

INSTANTIATE_TEST_SUITE_P(
    Real2D, MdApi,
    ::testing::Values(R("quen5", false, {12, 10}, 1, true, true, "r2c_2d_main_d"),
                      R("quen5", false, {12, 10}, 1, false, false, "r2c_2d_main_d"),
                      shuffled(R("quen5", false, {12, 10}, 3, false, true, "r2c_2d_main_d")),
                      R("quen5", true, {30, 51}, 1, false, true, "r2c_2d_main_s"),
                      R("quen6", false, {12, 11}, 2, true, false, "r2c_2d_main_d"),
                      // Real rows padded to 2h: the complex rows of the output could hold the intermediate.
                      strided(R("quen5", false, {12, 10}, 1, false, true, "r2c_2d_main_d"), {0, 12, 1}, {0, 6, 1}),
                      // Padded rows given as input/output strides while the domain strides keep their defaults.
                      strided(R("quen5", false, {12, 10}, 1, false, false, "r2c_2d_main_d"), {0, 13, 1}, {0, 7, 1}, true)),
    case_name);

INSTANTIATE_TEST_SUITE_P(
    Real3D, MdApi,
    ::testing::Values(R("quen5", false, {6, 8, 10}, 1, true, true, "r2c_3d_main_d"),
                      R("quen5", false, {6, 8, 10}, 1, false, false, "r2c_3d_main_d"),
                      shuffled(R("quen5", false, {6, 8, 10}, 2, false, true, "r2c_3d_main_d")),
                      R("quen5", false, {5, 6, 7}, 1, false, true, "r2c_3d_main_d"),
                      R("quen6", false, {5, 6, 7}, 2, true, false, "r2c_3d_main_d"),
                      R("quen5", true, {6, 8, 10}, 1, false, true, "r2c_3d_main_s"),
                      strided(R("quen5", false, {6, 8, 10}, 1, false, true, "r2c_3d_main_d"), {0, 88, 11, 1},
                              {0, 56, 7, 1}, true)),
    case_name);

// Three 1D stages; on generation 6 packed shapes first try the explicit-SIMD
// plan, which refuses these lengths, and then fall through to the stages.
// The 64^3 cases on quen6 run on the explicit-SIMD plan.
INSTANTIATE_TEST_SUITE_P(
    Complex3D, MdApi,
    ::testing::Values(C("quen5", false, {8, 12, 10}, 2, true, true, "c2c_3d_main_d"),
                      shuffled(C("quen6", false, {8, 12, 10}, 2, true, false, "c2c_3d_main_d")),
                      C("quen6", false, {8, 12, 10}, 1, false, true, "c2c_3d_main_d"),
                      strided(C("quen5", true, {15, 16, 16}, 1, false, true, "c2c_3d_main_s"), {0, 272, 17, 1},
                              {0, 256, 16, 1}),
                      strided(C("quen5", true, {15, 16, 16}, 1, false, false, "c2c_3d_main_s"), {0, 272, 17, 1},
                              {0, 256, 16, 1}, true),
                      C("quen6", true, {64, 64, 64}, 2, true, true, "c2c_3d_main_s"),
                      shuffled(C("quen6", true, {64, 64, 64}, 1, false, true, "c2c_3d_main_s")),
                      C("quen6", false, {64, 64, 64}, 1, false, false, "c2c_3d_main_d"),
                      C("quen6", false, {64, 64, 64}, 2, true, false, "c2c_3d_main_d")),
    case_name);

}  // namespace
