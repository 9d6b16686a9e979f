// The small square 2D backend (one fused local-memory launch per N x N
// transform) and the 3D cube backend (three 1D sub-transforms through a
// padded intermediate): which shapes and layouts each record takes, their
// results against FFTW through the public API (forward then backward, scales
// other than 1, in and out of place, USM and buffers, sentinels around the
// output), the cube's memory rule and workspace paths, and computes on
// shuffled out-of-order queues. Small cubes reach the cube backend through
// its test hook.
#include "dft/gpu/gpu_harness.hpp"

#include <memory>

#include "dft/gpu/md/c2c_2d_8nx8n_small.hpp"
#include "dft/gpu/md/c2c_3d_cube.hpp"
#include "worst_error.hpp"

namespace {

namespace dft = korami::ovx::dft;

namespace gm = korami::ovx::dft::gpumd;
using md_test::md_case;
using md_test::vec;
using cdesc_d = dft::descriptor<dft::precision::DOUBLE, dft::domain::COMPLEX>;

md_case C(const char* prof, bool single, vec n, std::int64_t batch, bool ip, bool usm, const char* owner,
          bool shuffle = false, std::int64_t dist = 0) {
    md_case c{};
    c.profile = prof, c.single = single, c.n = n, c.batch = batch, c.in_place = ip, c.usm = usm, c.owner = owner;
    c.shuffle = shuffle;
    c.fd = c.bd = dist;
    return c;
}
std::string case_name(const ::testing::TestParamInfo<md_case>& i) { return md_test::name_of(i.param); }

// ---- small square 2D through the API ----------------------------------------------

class Small2dApi : public ::testing::TestWithParam<md_case> {};
TEST_P(Small2dApi, OwnedAndMatchesFftw) { md_test::run_case(GetParam()); }

INSTANTIATE_TEST_SUITE_P(
    Accepted, Small2dApi,
    ::testing::Values(C("quen5", true, {8, 8}, 1, false, true, "c2c_2d_8nx8n_small_s"),
                      C("quen5", true, {64, 64}, 4, false, false, "c2c_2d_8nx8n_small_s"),
                      C("quen5", false, {64, 64}, 2, true, true, "c2c_2d_8nx8n_small_d"),  // 64 KiB: all of it
                      C("quen4", false, {64, 64}, 2, true, false, "c2c_2d_8nx8n_small_d"),  // large register file
                      C("quen5", false, {24, 24}, 1, true, false, "c2c_2d_8nx8n_small_d"),
                      C("quen5", true, {1, 16, 16}, 1, true, true, "c2c_2d_8nx8n_small_s"),  // rank 3, working rank 2
                      C("quen7", true, {16, 16}, 3, false, true, "c2c_2d_8nx8n_small_s", true),
                      [] {  // the layout given as input/output strides
                          md_case c = C("quen5", true, {32, 32}, 1, false, true, "c2c_2d_8nx8n_small_s");
                          c.fs = c.bs = {0, 32, 1};
                          c.io = true;
                          return c;
                      }()),
    case_name);

// Shapes the record refuses: never owned by it on a GPU queue (the commit
// ends in unimplemented while no other 2D backend takes them), and the CPU
// queue computes them right.
class Small2dRefused : public ::testing::TestWithParam<md_case> {};
TEST_P(Small2dRefused, TakenByTheNextBackendAndRightOnBothQueues) {
    md_case c = GetParam();
    if (!*c.owner) c.owner = "c2c_2d_main_s";
    md_test::run_case(c);
    c.owner = nullptr;
    c.cpu = true;
    md_test::run_case(c);
}

INSTANTIATE_TEST_SUITE_P(
    Refused, Small2dRefused,
    ::testing::Values(C("quen5", true, {72, 72}, 1, false, true, ""), C("quen5", true, {12, 12}, 1, true, false, ""),
                      C("quen5", true, {16, 32}, 2, false, true, ""),
                      C("quen5", true, {16, 16}, 2, false, true, "", false, 300),
                      // No sub-groups of 8; the one-launch local-memory backend takes it there.
                      C("quen6", true, {16, 16}, 1, false, true, "small_md_slm_s")),
    case_name);

// ---- the records at the node level ---------------------------------------------------

using gpu_test::node_ptr;

// A complex node: lengths in node order, each dimension {length, input,
// output, forward, backward stride}, one batch record.
node_ptr cnode(bool single, std::vector<dfti_dim> dims, dfti_dim batch, bool in_place, sycl::queue* q) {
    vec n;
    for (const dfti_dim& d : dims) n.push_back(d.length);
    DFTI_DESCRIPTOR* raw = nullptr;
    const auto r = static_cast<std::int64_t>(n.size());
    if ((single ? gpu_dfti_create_scmd(&raw, r, n.data(), nullptr) : gpu_dfti_create_dcmd(&raw, r, n.data(), nullptr)) != 0)
        return node_ptr();
    node_ptr node(raw);
    for (std::size_t i = 0; i < dims.size(); ++i) node->user_dims.records[i] = dims[i];
    node->user_batch.records[0] = batch;
    node->placement = in_place ? DFTI_INPLACE : DFTI_NOT_INPLACE;
    node->queue = q;
    return node;
}

struct record_case {
    const char* label;
    const char* profile;
    bool single;
    std::vector<dfti_dim> dims;
    dfti_dim batch;
    int status;
    bool in_place = true;
    std::uint32_t internal = 1;  // library-held workspace
};
void PrintTo(const record_case& c, std::ostream* os) { *os << c.label; }
std::string record_name(const ::testing::TestParamInfo<record_case>& i) { return i.param.label; }

// Normalises the node and offers it to the record alone: the status, and the
// node owned on 0 and untouched otherwise.
void offer(const record_case& c, const bkd_ops* rec) {
    GPU_REQUIRE_DEVICE(c.single);
    ovxplat::scoped_gpu_profile prof(c.profile);
    sycl::queue q{sycl::gpu_selector_v};
    node_ptr node = cnode(c.single, c.dims, c.batch, c.in_place, &q);
    ASSERT_TRUE(node);
    node->internal_workspace = c.internal;
    if (c.dims[0].length != 1)
        ASSERT_EQ(dfti_normalize_node(node.get()), 0);
    else  // normalisation would drop a side of 1: the created lists stand, one batch record
        node->working_batch.count = 1;
    EXPECT_EQ(rec->commit(rec, node.get()), c.status);
    EXPECT_EQ(node->bkd == rec && node->compute_fwd && node->compute_bwd, c.status == 0);
    if (c.status == DFTI_STATUS_NOT_APPLICABLE) {
        EXPECT_EQ(node->bkd_data, nullptr);
    }
}

dfti_dim packed(std::int64_t n, std::int64_t s) { return {n, 0, 0, s, s}; }

class Small2dRecord : public ::testing::TestWithParam<record_case> {};
TEST_P(Small2dRecord, TakesExactlyTheFusedShapes) {
    const record_case& c = GetParam();
    offer(c, c.single ? &bkd_c2c_2d_8nx8n_small_s_ops : &bkd_c2c_2d_8nx8n_small_d_ops);
}

constexpr int OK = 0, NA = DFTI_STATUS_NOT_APPLICABLE;
INSTANTIATE_TEST_SUITE_P(
    Layouts, Small2dRecord,
    ::testing::Values(
        record_case{"packed_two_transforms", "quen5", true, {packed(16, 1), packed(16, 16)}, {2, 0, 0, 256, 256}, OK},
        record_case{"double_64_fills_64k", "quen5", false, {packed(64, 1), packed(64, 64)}, {2, 0, 0, 4096, 4096}, OK},
        // Input and output strides and distances come before the domain ones.
        record_case{"io_strides_over_padded_domain", "quen5", true, {{16, 1, 1, 1, 1}, {16, 16, 16, 20, 20}},
                    {1, 0, 0, 0, 0}, OK},
        record_case{"padded_io_over_packed_domain", "quen5", true, {{16, 1, 1, 1, 1}, {16, 20, 20, 16, 16}},
                    {1, 0, 0, 0, 0}, NA},
        record_case{"io_distances_over_other_domain", "quen5", true, {packed(16, 1), packed(16, 16)},
                    {2, 256, 256, 300, 300}, OK},
        record_case{"domain_distances_under_other_io", "quen5", true, {packed(16, 1), packed(16, 16)},
                    {2, 300, 300, 256, 256}, NA},
        // Out of place, output strides only: the backward transform reads the backward domain.
        record_case{"backward_domain_padded", "quen5", true, {{16, 0, 1, 1, 1}, {16, 0, 16, 16, 32}}, {1, 0, 0, 0, 0},
                    NA, false},
        record_case{"one_transform_any_distance", "quen5", true, {packed(16, 1), packed(16, 16)}, {1, 0, 0, 300, 500}, OK},
        record_case{"side_72", "quen5", true, {packed(72, 1), packed(72, 72)}, {1, 0, 0, 0, 0}, NA},
        record_case{"side_12", "quen5", true, {packed(12, 1), packed(12, 12)}, {1, 0, 0, 0, 0}, NA},
        record_case{"side_1", "quen5", true, {packed(1, 1), packed(1, 1)}, {1, 0, 0, 0, 0}, DFTI_STATUS_UNIMPLEMENTED},
        record_case{"no_subgroup8", "quen6", true, {packed(16, 1), packed(16, 16)}, {1, 0, 0, 0, 0}, NA}),
    record_name);

// A direction that was not built is refused before anything runs; with queue
// mode 2 the compute runs on the queue the node holds then.
TEST(Small2dNode, UnbuiltDirectionAndQueueOfTheCompute) {
    GPU_REQUIRE_DEVICE(true);
    ovxplat::scoped_gpu_profile prof("quen5");
    auto first = std::make_unique<sycl::queue>(sycl::gpu_selector_v);
    node_ptr node = cnode(true, {packed(16, 1), packed(16, 16)}, {1, 0, 0, 0, 0}, true, first.get());
    node->directions = 0;
    node->bkdlist = gpu_dfti_select_bkdlist(DFTI_SINGLE, DFTI_COMPLEX, 2);
    ASSERT_EQ(node->methods->commit(node.get()), 0);
    ASSERT_STREQ(bkd_name(node->bkd), "bkd_c2c_2d_8nx8n_small_s_ops");
    sycl::queue second{sycl::gpu_selector_v};
    auto* x = sycl::malloc_shared<std::complex<float>>(256, second);
    std::fill(x, x + 256, std::complex<float>(1, 0));
    dfti_data_kind k{DFTI_CONTAINER_USM};
    EXPECT_EQ(node->compute_bwd(node.get(), x, x, nullptr, &k, nullptr), DFTI_STATUS_BAD_DESCRIPTOR);
    EXPECT_EQ(x[0], std::complex<float>(1, 0));
    node->queue = &second;
    node->queue_mode = 2;
    first.reset();
    sycl::event e;
    ASSERT_EQ(node->compute_fwd(node.get(), x, x, nullptr, &k, &e), 0);
    e.wait_and_throw();
    EXPECT_EQ(x[0], std::complex<float>(256, 0));
    EXPECT_EQ(x[1], std::complex<float>(0, 0));
    sycl::free(x, second);
}

// A kernel that cannot be built (double precision on a device without it)
// ends the commit with the build's error, and the node keeps nothing.
TEST(Small2dNode, FailedBuildLeavesNothing) {
    GPU_REQUIRE_DEVICE(true);
    ovxplat::scoped_gpu_profile prof("quen5_nofp64");
    sycl::queue q{sycl::gpu_selector_v};
    node_ptr node = cnode(false, {packed(16, 1), packed(16, 16)}, {1, 0, 0, 0, 0}, true, &q);
    ASSERT_EQ(dfti_normalize_node(node.get()), 0);
    EXPECT_THROW(bkd_c2c_2d_8nx8n_small_d_ops.commit(&bkd_c2c_2d_8nx8n_small_d_ops, node.get()), sycl::exception);
    EXPECT_EQ(node->bkd_data, nullptr);
    EXPECT_EQ(node->compute_fwd, nullptr);
}

// A small descriptor needs no workspace: it computes without set_workspace;
// an offset sends it elsewhere; a change after commit and a new commit keep
// the owner.
TEST(Small2dApiStatus, WorkspaceOffsetAndRecommit) {
    GPU_REQUIRE_DEVICE(true);
    ovxplat::scoped_gpu_profile prof("quen5");
    sycl::queue q{sycl::gpu_selector_v};
    dft::descriptor<dft::precision::SINGLE, dft::domain::COMPLEX> d(vec{16, 16});
    d.set_value(dft::config_param::WORKSPACE_PLACEMENT, dft::config_value::WORKSPACE_EXTERNAL);
    // Before commit the estimate covers every backend that may take the
    // shape; the committed small module needs nothing.
    std::int64_t bytes = -1;
    d.get_value(dft::config_param::WORKSPACE_EXTERNAL_BYTES, &bytes);
    EXPECT_GE(bytes, 0);
    d.commit(q);
    d.get_value(dft::config_param::WORKSPACE_EXTERNAL_BYTES, &bytes);
    EXPECT_EQ(bytes, 0);
    auto* x = sycl::malloc_shared<std::complex<float>>(256, q);
    std::fill(x, x + 256, std::complex<float>(0, 0));
    x[0] = 2;
    dft::compute_forward(d, x).wait();
    EXPECT_EQ(x[255], std::complex<float>(2, 0));
    d.set_value(dft::config_param::FORWARD_SCALE, 0.5f);
    d.commit(q);
    EXPECT_STREQ(bkd_name(dft::detail::descriptor_node(d)->bkd), "bkd_c2c_2d_8nx8n_small_s_ops");
    dft::compute_forward(d, x).wait();
    EXPECT_EQ(x[0], std::complex<float>(256, 0));
    sycl::free(x, q);
    d.set_value(dft::config_param::INPUT_STRIDES, vec{16, 16, 1});
    EXPECT_THROW(d.commit(q), korami::ovx::unimplemented);
}

// ---- the cube ------------------------------------------------------------------

// The hook admits 64-point cubes (plane stride 4096) while a test runs.
struct admit_side {
    explicit admit_side(std::int64_t n) { gm::c2c_3d_cube_admit_side(n); }
    ~admit_side() { gm::c2c_3d_cube_admit_side(0); }
};

class CubeApi : public ::testing::TestWithParam<md_case> {};
TEST_P(CubeApi, PaddedRouteMatchesFftw) {
    admit_side hook(64);
    md_test::run_case(GetParam());
}
INSTANTIATE_TEST_SUITE_P(
    Admitted64, CubeApi,
    ::testing::Values(C("quen6", true, {64, 64, 64}, 2, true, true, "c2c_3d_cube_s"),
                      C("quen6", false, {64, 64, 64}, 1, false, false, "c2c_3d_cube_d"),
                      C("quen6", false, {64, 64, 64}, 2, false, true, "c2c_3d_cube_d", true),
                      C("quen6_2tile", true, {64, 64, 64}, 1, true, false, "c2c_3d_cube_s")),
    case_name);

std::vector<dfti_dim> cube_dims(std::int64_t n, std::int64_t pitch = 0) {
    const std::int64_t p = pitch ? pitch : n;
    return {packed(n, 1), packed(n, p), packed(n, p * n)};
}

class CubeRecord : public ::testing::TestWithParam<record_case> {};
TEST_P(CubeRecord, ShapeLayoutAndMemoryRule) {
    const record_case& c = GetParam();
    admit_side hook(16);
    offer(c, c.single ? &bkd_c2c_3d_cube_s_ops : &bkd_c2c_3d_cube_d_ops);
}
INSTANTIATE_TEST_SUITE_P(
    Cubes, CubeRecord,
    ::testing::Values(
        // 16 GiB of data and 16 GiB of intermediate within 80% of 64 GiB.
        record_case{"double_1024_caller_workspace", "quen6", false, cube_dims(1024), {1, 0, 0, 0, 0}, OK, true, 0},
        record_case{"double_1024_library_workspace", "quen6", false, cube_dims(1024), {1, 0, 0, 0, 0}, NA, true, 1},
        record_case{"double_1024_two_transforms", "quen6", false, cube_dims(1024), {2, 0, 0, 1 << 30, 1 << 30}, NA,
                    true, 0},
        record_case{"generation5", "quen5", true, cube_dims(512), {1, 0, 0, 0, 0}, NA, true, 0},
        record_case{"512x512x256", "quen6", true, {packed(512, 1), packed(512, 512), packed(256, 512 * 512)},
                    {1, 0, 0, 0, 0}, NA, true, 0},
        record_case{"output_rows_padded", "quen6", true,
                    {{512, 1, 1, 1, 1}, {512, 512, 513, 512, 512}, {512, 512 * 512, 513 * 512, 512 * 512, 512 * 512}},
                    {1, 0, 0, 0, 0}, NA, false, 0},
        record_case{"plane_not_multiple_of_4096", "quen6", true, cube_dims(16), {1, 0, 0, 0, 0}, NA, true, 0}),
    record_name);

// Commit only, with a caller's workspace: the 512-point cube is the cube
// backend's on generation 6 and needs at least its padded intermediate;
// other shapes and generations go to the 3D main backend. The size read
// before commit covers the committed one.
TEST(CubeCommit, OwnerAndWorkspaceOf512) {
    GPU_REQUIRE_DEVICE(true);
    struct shape {
        const char* profile;
        vec n;
        const char* owner;
    };
    for (const shape& s : {shape{"quen6", {512, 512, 512}, "bkd_c2c_3d_cube_s_ops"},
                           shape{"quen6", {256, 512, 512}, "bkd_c2c_3d_main_s_ops"},
                           shape{"quen5", {512, 512, 512}, "bkd_c2c_3d_main_s_ops"}}) {
        ovxplat::scoped_gpu_profile prof(s.profile);
        sycl::queue q{sycl::gpu_selector_v};
        dft::descriptor<dft::precision::SINGLE, dft::domain::COMPLEX> d(s.n);
        d.set_value(dft::config_param::WORKSPACE_PLACEMENT, dft::config_value::WORKSPACE_EXTERNAL);
        std::int64_t before = -1, after = -1;
        d.get_value(dft::config_param::WORKSPACE_EXTERNAL_BYTES, &before);
        d.commit(q);
        d.get_value(dft::config_param::WORKSPACE_EXTERNAL_BYTES, &after);
        EXPECT_STREQ(bkd_name(dft::detail::descriptor_node(d)->bkd), s.owner) << s.profile;
        EXPECT_GE(before, after) << s.owner;
        if (std::string(s.owner) == "bkd_c2c_3d_cube_s_ops") {
            EXPECT_GE(after, std::int64_t{512} * 512 * 513 * 8);
        }
    }
}

// Relative error of y against FFTW's transform of x (64^3, sign, scale).
double cube_error(const std::complex<double>* x, const std::complex<double>* y, int sign, double scale) {
    constexpr int n = 64, v = n * n * n;
    const std::vector<gpu_test::cplx> ref = gpu_test::packed_reference({n, n, n}, 1, sign == FFTW_FORWARD, scale,
                                                                       std::vector<gpu_test::cplx>(x, x + v));
    double err = 0, mag = 0;
    for (int k = 0; k < v; ++k) {
        err = ovx_test::worse(err, std::abs(y[k] - ref[k]));
        mag = std::max(mag, std::abs(ref[k]));
    }
    return err / mag;
}

// The cube's workspace paths on a caller's workspace, and consecutive
// computes on shuffled out-of-order and on in-order queues.
TEST(CubeWorkspace, CallerWorkspaceKindsAndOrdering) {
    GPU_REQUIRE_DEVICE(false);
    admit_side hook(64);
    ovxplat::scoped_gpu_profile prof("quen6");
    constexpr std::size_t v = 64 * 64 * 64;
    const double tol = gpu_test::tolerance(false, v) * 4;
    for (bool in_order : {false, true}) {
        sycl::queue q = in_order ? sycl::queue{sycl::gpu_selector_v, sycl::property::queue::in_order{}}
                                 : sycl::queue{sycl::gpu_selector_v};
        cdesc_d d(vec{64, 64, 64});
        d.set_value(dft::config_param::PLACEMENT, dft::config_value::NOT_INPLACE);
        d.set_value(dft::config_param::WORKSPACE_PLACEMENT, dft::config_value::WORKSPACE_EXTERNAL);
        d.set_value(dft::config_param::BACKWARD_SCALE, 1.0 / v);
        std::int64_t before = -1, need = -1;
        d.get_value(dft::config_param::WORKSPACE_EXTERNAL_BYTES, &before);
        d.commit(q);
        d.get_value(dft::config_param::WORKSPACE_EXTERNAL_BYTES, &need);
        ASSERT_STREQ(bkd_name(dft::detail::descriptor_node(d)->bkd), "bkd_c2c_3d_cube_d_ops");
        EXPECT_GE(before, need);
        auto* blk = static_cast<gm::cube_block<double>*>(dft::detail::descriptor_node(d)->bkd_data);
        ASSERT_GT(blk->areas.a[blk->intermediate].bytes, 0u);  // the intermediate every compute passes through
        auto* m = sycl::malloc_shared<std::complex<double>>(4 * v, q);  // x0, x1, y0, y1
        const auto r = gpu_test::random_cplx(2 * v, 3u);
        std::copy(r.begin(), r.end(), m);
        EXPECT_THROW(dft::compute_forward(d, reinterpret_cast<double*>(m), reinterpret_cast<double*>(m + 2 * v)),
                     dft::no_workspace_exception);
        double* ws = sycl::malloc_device<double>(static_cast<std::size_t>(need) / 8 + 1, q);
        d.set_workspace(ws);
        {  // a USM workspace does not serve buffer data; nothing is written
            std::vector<double> out(2 * v, 7.0);
            sycl::buffer<double, 1> bx{reinterpret_cast<double*>(m), sycl::range<1>(2 * v)}, by{out.data(), sycl::range<1>(2 * v)};
            EXPECT_THROW(dft::compute_forward(d, bx, by), dft::no_workspace_exception);
            EXPECT_EQ((sycl::host_accessor<double, 1>(by)[0]), 7.0);
        }
        ovxplat::set_shuffle_mode(!in_order);
        auto* x = reinterpret_cast<double*>(m);
        auto* y = reinterpret_cast<double*>(m + 2 * v);
        dft::compute_forward(d, x, y);
        dft::compute_forward(d, x + 2 * v, y + 2 * v).wait();
        q.wait();
        EXPECT_LT(cube_error(m, m + 2 * v, FFTW_FORWARD, 1.0), tol) << "first of two, in order " << in_order;
        EXPECT_LT(cube_error(m + v, m + 3 * v, FFTW_FORWARD, 1.0), tol) << "second of two";
        // A new workspace bound while a compute runs.
        dft::compute_backward(d, y, x);
        double* ws2 = sycl::malloc_device<double>(static_cast<std::size_t>(need) / 8 + 1, q);
        d.set_workspace(ws2);
        sycl::free(ws, q);
        dft::compute_backward(d, y + 2 * v, x + 2 * v).wait();
        ovxplat::set_shuffle_mode(false);
        EXPECT_LT(cube_error(m + 3 * v, m + v, FFTW_BACKWARD, 1.0 / v), tol) << "after rebinding";
        {  // a buffer workspace serves buffer data
            sycl::buffer<double, 1> bws{sycl::range<1>(static_cast<std::size_t>(need) / 8 + 1)};
            d.set_workspace(bws);
            std::vector<double> out(2 * v, 7.0);
            {
                sycl::buffer<double, 1> bx{x, sycl::range<1>(2 * v)}, by{out.data(), sycl::range<1>(2 * v)};
                dft::compute_forward(d, bx, by);
            }
            EXPECT_LT(cube_error(m, reinterpret_cast<std::complex<double>*>(out.data()), FFTW_FORWARD, 1.0), tol);
        }
        sycl::free(ws2, q);
        sycl::free(m, q);
    }
}

// A cube committed forward only refuses the backward compute; a binding that
// fails part way (a buffer too short for the areas) leaves it without
// workspace, so the next compute answers 11 instead of using stale areas.
TEST(CubeNode, UnbuiltDirectionAndFailedBinding) {
    GPU_REQUIRE_DEVICE(false);
    admit_side hook(64);
    ovxplat::scoped_gpu_profile prof("quen6");
    sycl::queue q{sycl::gpu_selector_v};
    node_ptr node = cnode(false, cube_dims(64), {1, 0, 0, 0, 0}, true, &q);
    node->directions = 0;
    node->internal_workspace = 0;
    node->bkdlist = gpu_dfti_select_bkdlist(DFTI_DOUBLE, DFTI_COMPLEX, 3);
    ASSERT_EQ(node->methods->commit(node.get()), 0);
    ASSERT_STREQ(bkd_name(node->bkd), "bkd_c2c_3d_cube_d_ops");
    const std::size_t need = node->twiddle_workspace_bytes + node->scratch_workspace_bytes;
    void* ws = sycl::malloc_device(need, q);
    ASSERT_EQ(gpu_dfti_set_workspace(node.get(), ws, DFTI_CONTAINER_USM), 0);
    void* p = sycl::malloc_shared(64 * 64 * 64 * 16, q);
    dfti_data_kind k{DFTI_CONTAINER_USM};
    EXPECT_EQ(node->compute_bwd(node.get(), p, p, nullptr, &k, nullptr), DFTI_STATUS_BAD_DESCRIPTOR);
    sycl::buffer<char, 1> short_ws{sycl::range<1>(need / 2)};
    EXPECT_THROW(gpu_dfti_set_workspace(node.get(), &short_ws, DFTI_CONTAINER_BUFFER), sycl::exception);
    EXPECT_EQ(node->compute_fwd(node.get(), p, p, nullptr, &k, nullptr), DFTI_STATUS_NO_WORKSPACE);
    sycl::free(p, q);
    sycl::free(ws, q);
}

}  // namespace
