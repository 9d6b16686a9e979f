// The small multi-dimensional local-memory backend through the public API on
// the stand-in GPU: rank 1 and rank 2, complex and real, both precisions,
// USM and buffers, in and out of place, packed and padded layouts (also as
// input/output strides over default domain strides), forward then backward
// (scales 1/3 and 1/N) against FFTW, the owner record checked by name and
// nothing written outside a layout. Shapes it refuses go to the next
// candidate of their list.
#include "dft/gpu/gpu_harness.hpp"

#include "ovx_test_gpu.hpp"

namespace {

using md_test::md_case;
using md_test::vec;

class SmallMdApi : public ::testing::TestWithParam<md_case> {};

TEST_P(SmallMdApi, ForwardThenBackwardMatchFftw) { md_test::run_case(GetParam()); }

std::string case_name(const ::testing::TestParamInfo<md_case>& i) { return md_test::name_of(i.param); }

md_case C(const char* prof, bool single, vec n, std::int64_t batch, bool ip, bool usm) {
    md_case c{prof, false, single, n, 1, false, true, {}, {}};
    c.batch = batch;
    c.in_place = ip;
    c.usm = usm;
    c.owner = single ? "small_md_slm_s" : "small_md_slm_d";
    return c;
}
md_case R(const char* prof, bool single, vec n, std::int64_t batch, bool ip, bool usm) {
    md_case c = C(prof, single, n, batch, ip, usm);
    c.real = true;
    return c;
}
md_case strided(md_case c, vec fs, vec bs, bool io = false) {
    c.fs = fs;
    c.bs = bs;
    c.io = io;
    return c;
}
md_case shuffled(md_case c) {
    c.shuffle = true;
    return c;
}

// One-factor rows (a lane pair per row, several transforms per work-group,
// a last group of 4), rows split in two to four factors, the tiny rows.
INSTANTIATE_TEST_SUITE_P(
    Complex1D, SmallMdApi,
    ::testing::Values(C("quen6", false, {11}, 20, false, true), C("quen6", false, {11}, 20, true, false),
                      C("quen6", true, {11}, 20, false, false), shuffled(C("quen6", false, {64}, 7, false, true)),
                      C("quen6", true, {64}, 7, true, true), C("quen6", false, {2}, 8, false, true),
                      C("quen6", true, {480}, 3, true, true), C("quen6", true, {480}, 3, false, false)),
    case_name);

// Columns of one and two factors; rows padded to a pitch of 44.
INSTANTIATE_TEST_SUITE_P(
    Complex2D, SmallMdApi,
    ::testing::Values(C("quen6", false, {64, 64}, 2, true, true), C("quen6", false, {64, 64}, 2, false, false),
                      strided(C("quen6", true, {48, 40}, 1, false, true), {0, 44, 1}, {0, 44, 1}),
                      shuffled(C("quen6", true, {12, 10}, 3, false, true))),
    case_name);

// Real rank 1: split rows, one-factor rows, and one-factor rows eight to a
// work-group with a last group of 3 (the post-processing writes the output
// of each row of a group, and nothing for the rows the last group lacks).
INSTANTIATE_TEST_SUITE_P(
    Real1D, SmallMdApi,
    ::testing::Values(R("quen6", false, {120}, 5, false, true), R("quen6", false, {120}, 5, true, false),
                      R("quen6", true, {74}, 1, false, true), R("quen6", true, {74}, 2, true, true),
                      R("quen6", true, {62}, 11, true, true), R("quen6", false, {62}, 11, false, false)),
    case_name);

// Real rank 2: one-factor rows with two column factors, split rows; padded
// real rows given as input/output strides while the domain strides keep
// their defaults.
INSTANTIATE_TEST_SUITE_P(
    Real2D, SmallMdApi,
    ::testing::Values(R("quen6", false, {8, 10}, 1, false, true), R("quen6", false, {8, 10}, 1, true, false),
                      shuffled(R("quen6", true, {32, 60}, 3, false, true)),
                      strided(R("quen6", false, {8, 10}, 1, false, true), {0, 13, 1}, {0, 7, 1}, true),
                      strided(R("quen6", false, {8, 10}, 1, false, false), {0, 12, 1}, {0, 6, 1})),
    case_name);

// Shapes the backend refuses: the next candidate of the list takes them, or
// none does.
struct refusal {
    const char* label;
    const char* profile;
    std::function<void(sycl::queue&, std::string&)> commit;  // commits and names the owner
    const char* owner;  // "" : commit ends in unimplemented
};
void PrintTo(const refusal& r, std::ostream* os) { *os << r.label; }

template <class D>
void commit_and_name(D& d, sycl::queue& q, std::string& owner) {
    d.commit(q);
    owner = bkd_name(korami::ovx::dft::detail::descriptor_node(d)->bkd);
}

namespace dft = korami::ovx::dft;
using cd = dft::descriptor<dft::precision::DOUBLE, dft::domain::COMPLEX>;
using rd = dft::descriptor<dft::precision::DOUBLE, dft::domain::REAL>;

class SmallMdRefusal : public ::testing::TestWithParam<refusal> {};

TEST_P(SmallMdRefusal, NextCandidateTakesIt) {
    const refusal& r = GetParam();
    GPU_REQUIRE_DEVICE(false);
    ovxplat::scoped_gpu_profile prof(r.profile);
    ASSERT_TRUE(prof.ok());
    sycl::queue q{sycl::gpu_selector_v};
    std::string owner;
    if (*r.owner) {
        r.commit(q, owner);
        EXPECT_EQ(owner, std::string("bkd_") + r.owner + "_ops");
    } else {
        EXPECT_THROW(r.commit(q, owner), korami::ovx::unimplemented);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lists, SmallMdRefusal,
    ::testing::Values(
        refusal{"sub_groups_of_8", "quen5",
                [](sycl::queue& q, std::string& o) {
                    cd d(64);
                    commit_and_name(d, q, o);
                },
                "c2c_1d_2_facts_d"},
        refusal{"no_factors_of_67", "quen6",
                [](sycl::queue& q, std::string& o) {
                    cd d(67);
                    commit_and_name(d, q, o);
                },
                "c2c_1d_nonsubgrp_d"},
        refusal{"strided_rows", "quen6",
                [](sycl::queue& q, std::string& o) {
                    cd d(64);
                    d.set_value(dft::config_param::FWD_STRIDES, vec{0, 2});
                    d.set_value(dft::config_param::BWD_STRIDES, vec{0, 2});
                    commit_and_name(d, q, o);
                },
                "c2c_1d_nonsubgrp_d"},
        refusal{"odd_real_rows", "quen6",
                [](sycl::queue& q, std::string& o) {
                    rd d(vec{8, 9});
                    d.set_value(dft::config_param::PLACEMENT, dft::config_value::NOT_INPLACE);
                    commit_and_name(d, q, o);
                },
                "r2c_2d_main_d"},
        refusal{"real_2508_on_opencl", "quen6",
                [](sycl::queue& q, std::string& o) {
                    rd d(2508);
                    commit_and_name(d, q, o);
                },
                "r2c_1d_main_d"},
        // 256 KiB per transform: the 2D main backend takes it.
        refusal{"complex_128x128_double", "quen6",
                [](sycl::queue& q, std::string& o) {
                    cd d(vec{128, 128});
                    commit_and_name(d, q, o);
                },
                "c2c_2d_main_d"}),
    [](const ::testing::TestParamInfo<refusal>& i) { return std::string(i.param.label); });

}  // namespace
