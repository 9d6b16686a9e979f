// Rank 2 and 3 transforms through the public API on the stand-in GPU: each
// case commits a descriptor on a device profile, checks the owning backend
// record, runs forward and then backward (scales 1/3 and 1/N) in USM or
// buffer form, in or out of place, with packed or strided layouts, against
// FFTW, and checks that nothing outside the layout was written. Some cases
// run with shuffled out-of-order queues.
#include "dft/gpu/gpu_harness.hpp"

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
md_case distances(md_case c, std::int64_t fd, std::int64_t bd) {
    c.fd = fd;
    c.bd = bd;
    return c;
}
md_case on_cpu(md_case c) {
    c.cpu = true;
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

// Complex sides with gaps between rows, planes or transforms: the real
// sub-transform takes one batch record, which the output's complex layout
// does not continue, so the forward half-spectrum goes through a packed
// scratch and the complex sub-transform reads it from there into the output.
// The in-place layouts keep reals two apart: their real steps cannot run in
// place, so both directions go through the scratch.
INSTANTIATE_TEST_SUITE_P(
    RealGappedComplexSide, MdApi,
    ::testing::Values(strided(R("quen6", true, {64, 64, 64}, 1, false, true, "r2c_3d_main_s"), {0, 4160, 65, 1},
                              {0, 2242, 35, 1}),
                      strided(R("quen5", true, {16, 8, 12}, 1, false, false, "r2c_3d_main_s"), {0, 104, 13, 1},
                              {0, 66, 8, 1}),
                      distances(R("quen6", false, {48, 97}, 4, false, false, "r2c_2d_main_d"), 4656, 2360),
                      distances(R("quen5", false, {48, 97}, 4, false, true, "r2c_2d_main_d"), 4656, 2360),
                      distances(strided(R("quen5", true, {4, 4, 4}, 3, false, true, "r2c_3d_main_s"), {0, 16, 4, 1},
                                        {0, 28, 6, 1}),
                                64, 112),
                      shuffled(distances(strided(R("quen6", true, {4, 4, 4}, 3, false, false, "r2c_3d_main_s"),
                                                 {0, 16, 4, 1}, {0, 28, 6, 1}),
                                         64, 112)),
                      distances(R("quen5", true, {2, 1}, 3, false, true, "r2c_2d_main_s"), 2, 3),
                      distances(R("quen6", false, {2, 1}, 3, false, false, "r2c_2d_main_d"), 2, 3),
                      distances(R("quen6", true, {2, 1}, 3, false, true, "r2c_2d_main_s"), 2, 3),
                      distances(strided(R("quen5", false, {12, 10}, 2, true, true, "r2c_2d_main_d"), {0, 20, 2},
                                        {0, 6, 1}),
                                240, 72),
                      distances(strided(R("quen6", false, {12, 10}, 2, true, false, "r2c_2d_main_d"), {0, 20, 2},
                                        {0, 6, 1}),
                                240, 72)),
    case_name);

// A real side with a gap between transforms or planes: the real
// sub-transforms take one batch record, which such a side cannot give in
// either direction, so a GPU commit refuses it; the CPU queue computes it.
md_case refused(md_case c) {
    c.refused = 2;
    return c;
}
INSTANTIATE_TEST_SUITE_P(
    RealSideGaps, MdApi,
    ::testing::Values(refused(distances(R("quen5", true, {12, 10}, 2, false, true, ""), 121, 0)),
                      refused(distances(R("quen6", true, {12, 10}, 2, false, true, ""), 121, 0)),
                      refused(strided(R("quen5", false, {6, 8, 10}, 1, false, true, ""), {0, 81, 10, 1},
                                      {0, 48, 6, 1})),
                      refused(strided(R("quen6", false, {6, 8, 10}, 1, false, true, ""), {0, 81, 10, 1},
                                      {0, 48, 6, 1})),
                      refused(distances(R("quen5", false, {2, 1}, 3, false, true, ""), 3, 2)),
                      on_cpu(distances(R("quen5", true, {12, 10}, 2, false, true, ""), 121, 0)),
                      on_cpu(strided(R("quen5", false, {6, 8, 10}, 1, false, false, ""), {0, 81, 10, 1},
                                     {0, 48, 6, 1})),
                      on_cpu(distances(R("quen5", false, {2, 1}, 3, false, false, ""), 3, 2))),
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

// INPUT_STRIDES and OUTPUT_STRIDES: every direction reads its input by the
// first and writes its output by the second, so the forward transform's real
// side is the input strides and the backward one's the output strides, both
// at FWD_DISTANCE. When only one of them runs without a gap into the next
// transform, a GPU commit prepares that direction alone; a compute of the
// other raises, names itself and runs nothing. The CPU queue computes both.
class OneDirection : public ::testing::TestWithParam<md_case> {};

template <class T, class D>
void one_way(const md_case& c, D& desc, sycl::queue& q) {
    namespace dft = korami::ovx::dft;
    using md_test::cplx;
    std::int64_t N = 1;
    for (auto v : c.n) N *= v;
    // Forward: reals by the input strides, complex by the output strides;
    // backward (the same commit): complex by the input strides, reals by
    // the output strides.
    md_test::side f, b, bf, bb;
    md_test::sides_of(c, f, b);
    md_case back = c;
    std::swap(back.fs, back.bs);
    md_test::sides_of(back, bf, bb);
    md_test::configure<T>(c, desc, f, b, 1.0 / static_cast<double>(N));
    desc.commit(q);
    for (int dir = 0; dir < 2; ++dir) {
        const bool fwd = dir == 0;
        const md_test::side &real = fwd ? f : bf, &cx = fwd ? b : bb, &in = fwd ? real : cx, &out = fwd ? cx : real;
        // Random reals; backward, their spectrum.
        std::vector<cplx> v(real.extent(), cplx(7, 0)), x(in.extent(), cplx(7, fwd ? 0 : 7)),
            want(out.extent(), cplx(7, fwd ? 7 : 0));
        const auto rnd = gpu_test::random_cplx(v.size(), 3u);
        for (std::int64_t k : real.offsets()) v[k] = cplx(static_cast<T>(rnd[k].real()), 0.0);
        if (fwd) x = v;
        else md_test::reference(back, real, cx, true, 1.0, v, x);
        md_test::reference(fwd ? c : back, in, out, fwd, fwd ? c.sf : 1.0 / static_cast<double>(N), x, want);
        const int iw = fwd ? 1 : 2, ow = fwd ? 2 : 1;
        const std::vector<T> given = md_test::pack<T>(x, iw, x.size() * iw);
        if (dir != c.refused) {
            const std::vector<T> got = md_test::run<T>(desc, q, c, fwd, given, want.size() * ow);
            md_test::expect_match(c, md_test::unpack(got, ow, want.size()), want, out, fwd ? "forward" : "backward");
            continue;
        }
        std::vector<T> a = given, y(want.size() * ow, T(7));
        T* p = sycl::malloc_shared<T>(a.size() + y.size(), q);
        std::copy(a.begin(), a.end(), p);
        std::copy(y.begin(), y.end(), p + a.size());
        const std::string fn = fwd ? "korami::ovx::dft::compute_forward: " : "korami::ovx::dft::compute_backward: ";
        const std::string detail = std::string("this descriptor was committed for ") +
                                   (fwd ? "backward" : "forward") + " transforms only: no GPU backend takes the " +
                                   (fwd ? "forward" : "backward") + " layout";
        try {
            (fwd ? dft::compute_forward(desc, p, p + a.size()) : dft::compute_backward(desc, p, p + a.size())).wait();
            ADD_FAILURE() << "a direction that was not prepared computed";
        } catch (const korami::ovx::unimplemented& e) {
            const std::string m = e.what();
            EXPECT_TRUE(m.rfind(fn, 0) == 0 && m.find(detail) != std::string::npos) << m;
        }
        q.wait();
        EXPECT_TRUE(std::equal(a.begin(), a.end(), p) && std::equal(y.begin(), y.end(), p + a.size()))
            << "the refused compute wrote its input or output";
        sycl::free(p, q);
    }
}

TEST_P(OneDirection, PreparedDirectionRunsTheOtherNamesItself) {
    namespace dft = korami::ovx::dft;
    const md_case& c = GetParam();
    if (!c.cpu) GPU_REQUIRE_DEVICE(c.single);
    std::optional<ovxplat::scoped_gpu_profile> prof;
    sycl::queue q = md_test::queue_of(c, prof);
    dft::descriptor<dft::precision::DOUBLE, dft::domain::REAL> d(c.n);
    one_way<double>(c, d, q);
}

// {12, 10}, two transforms at FWD_DISTANCE 132: real rows 11 apart run into
// the next transform, rows 10 apart leave a gap of 12 reals.
md_case one_way_12x10(const char* prof, bool usm, bool forward_gap, int refused) {
    md_case c = distances(strided(R(prof, false, {12, 10}, 2, false, usm, "r2c_2d_main_d"),
                                  forward_gap ? md_test::vec{0, 10, 1} : md_test::vec{0, 11, 1},
                                  forward_gap ? md_test::vec{0, 11, 1} : md_test::vec{0, 10, 1}, true),
                          132, 132);
    c.refused = refused;
    return c;
}

INSTANTIATE_TEST_SUITE_P(
    IoStrides, OneDirection,
    ::testing::Values(one_way_12x10("quen5", true, true, 0), one_way_12x10("quen6", false, true, 0),
                      one_way_12x10("quen5", false, false, 1), one_way_12x10("quen6", true, false, 1),
                      on_cpu(one_way_12x10("quen5", true, true, -1)), on_cpu(one_way_12x10("quen5", false, false, -1))),
    [](const ::testing::TestParamInfo<md_case>& i) {
        return md_test::name_of(i.param) + (i.param.refused == 0   ? "_forward_not_prepared"
                                            : i.param.refused == 1 ? "_backward_not_prepared"
                                                                   : "");
    });

}  // namespace
