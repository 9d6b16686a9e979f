// The 2D and 3D complex main backends through the public API on the
// stand-in GPU: each case commits a descriptor on a device profile, checks
// the owning record, the route the commit took, the first workspace region
// where it is fixed and that the workspace estimates (without a queue, as
// before a first commit, and with the queue) cover the committed need; then
// runs forward and backward (scales 1/3 and 1/N) in USM or buffer form, in
// or out of place, against FFTW, with sentinels around every layout.
#include "dft/gpu/gpu_harness.hpp"

#include "dft/gpu/md/c2c_2d_main.hpp"
#include "dft/gpu/md/c2c_3d_main.hpp"

namespace {

namespace gm = korami::ovx::dft::gpumd;
using md_test::md_case;

template <class Real>
int route_of(const DFTI_DESCRIPTOR* n, int rank) {
    if (rank == 2) return static_cast<const gm::c2c_2d_block<Real>*>(n->bkd_data)->route;
    return static_cast<const gm::c2c_3d_block<Real>*>(n->bkd_data)->route;
}

template <class Real>
std::int64_t estimate(const DFTI_DESCRIPTOR* n, int rank, const sycl::queue* q) {
    const dft_workspace_problem p{n, q};
    constexpr bool single = std::is_same<Real, float>::value;
    const gpu_test::record_estimate c2d{single ? &bkd_c2c_2d_main_s_ops : &bkd_c2c_2d_main_d_ops};
    const gpu_test::record_estimate c3d{single ? &bkd_c2c_3d_main_s_ops : &bkd_c2c_3d_main_d_ops};
    return (rank == 2 ? c2d : c3d).get_workspace_bytes(p);
}

// A complex case of the main backend of its working rank, taking `route`
// ('C', 'D', 'E', 'F' in 2D; 1, 2, 3 in 3D); `tables`: the first region the
// commit must report (0: not checked).
md_case M(const char* prof, bool single, md_test::vec n, std::int64_t batch, bool ip, bool usm, int route,
          std::uint64_t tables = 0) {
    md_case c{prof, false, single, n};
    c.batch = batch;
    c.in_place = ip;
    c.usm = usm;
    int rank = 0;
    for (auto v : n) rank += v > 1;
    c.owner = rank == 2 ? (single ? "c2c_2d_main_s" : "c2c_2d_main_d") : (single ? "c2c_3d_main_s" : "c2c_3d_main_d");
    c.after_commit = [single, rank, route, tables](const DFTI_DESCRIPTOR* node) {
        ASSERT_NE(node->bkd_data, nullptr);
        EXPECT_EQ(single ? route_of<float>(node, rank) : route_of<double>(node, rank), route);
        if (tables) EXPECT_EQ(node->twiddle_workspace_bytes, tables);
        const auto need = static_cast<std::int64_t>(node->twiddle_workspace_bytes + node->scratch_workspace_bytes);
        for (const sycl::queue* q : {static_cast<const sycl::queue*>(nullptr), static_cast<const sycl::queue*>(node->queue)})
            EXPECT_GE(single ? estimate<float>(node, rank, q) : estimate<double>(node, rank, q), need)
                << (q ? "with the queue" : "without a queue");
    };
    return c;
}
md_case strided(md_case c, md_test::vec fs, md_test::vec bs, bool io = false) {
    c.fs = fs;
    c.bs = bs;
    c.io = io;
    return c;
}
md_case distances(md_case c, std::int64_t fd, std::int64_t bd) {
    c.fd = fd;
    c.bd = bd;
    return c;
}
md_case shuffled(md_case c) {
    c.shuffle = true;
    return c;
}
md_case with_tail(md_case c, std::int64_t tail) {
    c.tail = tail;
    return c;
}

class MdMain : public ::testing::TestWithParam<md_case> {};
TEST_P(MdMain, ForwardThenBackwardMatchFftw) { md_test::run_case(GetParam()); }
std::string case_name(const ::testing::TestParamInfo<md_case>& i) { return md_test::name_of(i.param); }

// One kernel per dimension on a device with sub-groups of 8: squares of 128
// and 192, the tables 2 x (one two-factor table + one direction table).
INSTANTIATE_TEST_SUITE_P(
    TwoFactorProgram2D, MdMain,
    ::testing::Values(with_tail(M("quen5", true, {128, 128}, 3, false, true, 'E', 20480), 64),
                      M("quen5", false, {192, 192}, 2, true, false, 'E', 61440),
                      M("quen5", false, {128, 128}, 1, false, false, 'E', 40960),
                      shuffled(M("quen5", true, {192, 192}, 2, true, true, 'E', 30720))),
    case_name);

// Two 1D sub-transforms: shapes the other routes do not take, layouts that
// are not packed, a rank-3 descriptor with a length of 1, and generation-6
// shapes the explicit-SIMD plan refuses (over 128 KiB a transform, so that
// the one-launch local-memory backend does not take them first).
INSTANTIATE_TEST_SUITE_P(
    SubTransforms2D, MdMain,
    ::testing::Values(M("quen5", true, {100, 60}, 2, false, true, 'F'),
                      M("quen5", false, {128, 192}, 1, false, false, 'F'),
                      distances(M("quen5", true, {128, 128}, 2, false, true, 'F'), 16400, 16400),
                      // Input rows 72 apart given as input strides; the domain strides keep their defaults.
                      strided(M("quen5", true, {40, 64}, 1, false, true, 'F'), {0, 72, 1}, {0, 64, 1}, true),
                      strided(M("quen5", false, {12, 10}, 2, false, false, 'F'), {0, 1, 13}, {0, 1, 12}),
                      M("quen5", true, {64, 1, 48}, 1, true, false, 'F'),
                      M("quen6", true, {200, 120}, 2, true, true, 'F'),
                      shuffled(M("quen6", false, {90, 200}, 3, false, true, 'F'))),
    case_name);

// The explicit-SIMD plan on generation 6, and the batched-packed variant of
// the sub-transforms for a batch of 2048^2 that the plan refuses in double.
INSTANTIATE_TEST_SUITE_P(
    Generation6_2D, MdMain,
    ::testing::Values(M("quen6", true, {128, 128}, 2, true, true, 'C'),
                      M("quen6", false, {128, 128}, 1, false, false, 'C'),
                      shuffled(M("quen6", true, {128, 256}, 3, false, true, 'C')),
                      with_tail(M("quen6", false, {2048, 2048}, 2, false, true, 'F'), 16),
                      M("quen6", false, {2048, 2048}, 2, true, false, 'F')),
    case_name);

// The 135-point cube: one kernel per axis in double where sub-groups of 8
// exist, sub-transforms in single and on generation 6 (no sub-groups of 8).
INSTANTIATE_TEST_SUITE_P(
    Cube135, MdMain,
    ::testing::Values(with_tail(M("quen5", false, {135, 135, 135}, 1, false, true, 2, 80640), 1000),
                      M("quen5", false, {135, 135, 135}, 2, true, false, 2, 80640),
                      M("quen5", true, {135, 135, 135}, 1, false, true, 3),
                      M("quen6", false, {135, 135, 135}, 1, true, true, 3),
                      M("quen5", true, {32, 24, 20}, 3, false, true, 3)),
    case_name);

}  // namespace

namespace {

// The transposes route at a side the machine's memory allows: these cases
// lower the side the route takes (16384) to 1536, a size the explicit-SIMD
// plan refuses and the transposes' tiles divide on generation 6.
class MdMainTransposes : public MdMain {
protected:
    void SetUp() override { gm::set_c2c_2d_transposes_side(1536); }
    void TearDown() override { gm::set_c2c_2d_transposes_side(16384); }
};
TEST_P(MdMainTransposes, ForwardThenBackwardMatchFftw) { md_test::run_case(GetParam()); }

INSTANTIATE_TEST_SUITE_P(
    Transposes2D, MdMainTransposes,
    ::testing::Values(with_tail(M("quen6", true, {1536, 1536}, 1, false, true, 'D'), 32),
                      M("quen6", true, {1536, 1536}, 1, true, false, 'D'),
                      shuffled(M("quen6", true, {1536, 1536}, 1, false, false, 'D')),
                      // Two transforms take the sub-transforms.
                      M("quen6", true, {1536, 1536}, 2, true, true, 'F')),
    case_name);

}  // namespace
