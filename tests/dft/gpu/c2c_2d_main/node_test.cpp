// The 2D and 3D complex main backends at the node level and their status
// paths: the planning of the transposes (a pure function of the device's
// figures), the full-size transposes commit with a caller's workspace, which
// sub-nodes a commit makes per direction and what a compute in a direction
// that was not built answers, caller workspaces of both container kinds on
// each route (and a binding that fails part way), a queue handed over at
// compute, and the ordering of back-to-back computes and of a rebinding on
// shuffled out-of-order queues.
#include "dft/gpu/gpu_harness.hpp"

#include <memory>
#include <optional>

#include "dft/gpu/md/c2c_2d_main.hpp"
#include "dft/gpu/md/c2c_3d_main.hpp"
#include "worst_error.hpp"

namespace {

namespace gm = korami::ovx::dft::gpumd;
namespace dft = korami::ovx::dft;
using md_test::vec;
using gpu_test::cplx;

// ---- the transposes' planning ----------------------------------------------------------

struct transpose_plan_case {
    const char* label;
    gm::transpose_device d;
    std::int64_t rows, cols;
    bool ok;
    std::int64_t vw, vr, slm, row_groups, col_items;
};
void PrintTo(const transpose_plan_case& c, std::ostream* os) { *os << c.label; }
class TransposePlan : public ::testing::TestWithParam<transpose_plan_case> {};

TEST_P(TransposePlan, WidthsSizesAndRefusals) {
    const transpose_plan_case& c = GetParam();
    gm::transpose_pass t;
    ASSERT_EQ(gm::plan_transposes(c.d, c.rows, c.cols, t), c.ok);
    if (!c.ok) return;
    EXPECT_EQ(t.vw, c.vw);
    EXPECT_EQ(t.vr, c.vr);
    EXPECT_EQ(t.slm_bytes, c.slm);
    EXPECT_EQ(t.row_groups, c.row_groups);
    EXPECT_EQ(t.col_items, c.col_items);
    EXPECT_EQ(t.work_group_size, c.d.max_work_group);
}

INSTANTIATE_TEST_SUITE_P(
    Devices, TransposePlan,
    ::testing::Values(
        // Generation 6: sub-groups of 16, 1024 work-items, 128 KiB: L = 4.
        transpose_plan_case{"generation6_16384", {16, 1024, 131072}, 16384, 16384, true, 4, 1, 131072, 512, 32768},
        // L = 32: both widths from the budget, write width 8 first.
        transpose_plan_case{"one_mebibyte_16384", {16, 1024, 1 << 20}, 16384, 16384, true, 8, 4, 1 << 20, 256, 8192},
        // L = 12: 12 is no multiple of 8, so 4; then 3 leaves 1.
        transpose_plan_case{"budget_of_12", {16, 256, 12 * 8192}, 4096, 4096, true, 4, 1, 4 * 8192, 128, 8192},
        // Fewer bytes than one word row of tiles: L = 0 refuses.
        transpose_plan_case{"local_below_one_tile_row", {16, 1024, 16384}, 16384, 16384, false, 0, 0, 0, 0, 0},
        transpose_plan_case{"sub_group_of_one", {1, 1024, 131072}, 16384, 16384, false, 0, 0, 0, 0, 0},
        transpose_plan_case{"no_sub_groups", {0, 1024, 131072}, 16384, 16384, false, 0, 0, 0, 0, 0},
        // Rows the tiles do not divide; a row too short for one work-group.
        transpose_plan_case{"rows_not_divided", {16, 1024, 131072}, 16400, 16384, false, 0, 0, 0, 0, 0},
        transpose_plan_case{"row_shorter_than_a_work_group", {16, 1024, 131072}, 256, 256, false, 0, 0, 0, 0, 0}),
    [](const ::testing::TestParamInfo<transpose_plan_case>& i) { return std::string(i.param.label); });

// ---- helpers ------------------------------------------------------------------------------

using gpu_test::node_ptr;

const bkd_ops* const c2d_s[] = {&bkd_c2c_2d_main_s_ops, nullptr};
const bkd_ops* const c2d_d[] = {&bkd_c2c_2d_main_d_ops, nullptr};
const bkd_ops* const c3d_d[] = {&bkd_c2c_3d_main_d_ops, nullptr};

// A complex node of node-order lengths with domain strides (innermost
// first), one batch record, the directions, and a one-record list.
node_ptr make(bool single, vec n, vec fs, vec bs, dfti_dim batch, bool in_place, int dirs, sycl::queue* q) {
    DFTI_DESCRIPTOR* raw = nullptr;
    const auto rank = static_cast<std::int64_t>(n.size());
    const int st = single ? gpu_dfti_create_scmd(&raw, rank, n.data(), nullptr)
                          : gpu_dfti_create_dcmd(&raw, rank, n.data(), nullptr);
    if (st != 0) return node_ptr();
    node_ptr node(raw);
    for (std::size_t i = 0; i < n.size(); ++i) node->user_dims.records[i] = dfti_dim{n[i], 0, 0, fs[i], bs[i]};
    node->user_batch.records[0] = batch;
    node->placement = in_place ? DFTI_INPLACE : DFTI_NOT_INPLACE;
    node->directions = dirs;
    node->queue = q;
    node->bkdlist = rank == 2 ? (single ? c2d_s : c2d_d) : c3d_d;
    return node;
}
node_ptr make_packed(bool single, vec n, std::int64_t T, bool in_place, int dirs, sycl::queue* q) {
    vec s(n.size(), 1);
    std::int64_t vol = 1;
    for (std::size_t i = 0; i < n.size(); ++i) {
        s[i] = vol;
        vol *= n[i];
    }
    return make(single, n, s, s, dfti_dim{T, 0, 0, vol, vol}, in_place, dirs, q);
}

std::string name(const DFTI_DESCRIPTOR* s) {
    if (!s) return "-";
    std::string v(s->name, sizeof s->name);
    return v.substr(0, v.find_last_not_of(" \0", std::string::npos, 2) + 1);
}
std::string names(const std::vector<DFTI_DESCRIPTOR*>& set) {
    std::string v;
    for (const DFTI_DESCRIPTOR* s : set) v += (v.empty() ? "" : ",") + name(s);
    return v;
}

using gpu_test::packed_reference;

template <class T>
double rel_error(const T* got, const std::vector<cplx>& ref) {
    double err = 0, mag = 1e-300;
    for (std::size_t k = 0; k < ref.size(); ++k) {
        err = ovx_test::worse(err, std::abs(cplx(got[2 * k], got[2 * k + 1]) - ref[k]));
        mag = std::max(mag, std::abs(ref[k]));
    }
    return err / mag;
}

template <class T>
std::vector<cplx> random_input(std::size_t n, unsigned seed) {
    std::vector<cplx> x = gpu_test::random_cplx(n, seed);
    for (auto& v : x) v = cplx(static_cast<T>(v.real()), static_cast<T>(v.imag()));
    return x;
}
// Interleaved scalars of `x` at `dst`.
template <class T>
void put(T* dst, const std::vector<cplx>& x) {
    for (std::size_t k = 0; k < x.size(); ++k) {
        dst[2 * k] = static_cast<T>(x[k].real());
        dst[2 * k + 1] = static_cast<T>(x[k].imag());
    }
}

// One out-of-place forward compute at node level into a fresh array, USM or
// buffer; the relative error against FFTW (scale 1), or -1 when the entry
// refused (its status in `st`).
template <class T>
double node_forward(DFTI_DESCRIPTOR* node, sycl::queue& q, const vec& n, std::int64_t T_, bool usm, int& st) {
    std::int64_t vol = T_;
    for (auto v : n) vol *= v;
    const std::vector<cplx> x = random_input<T>(static_cast<std::size_t>(vol), 3u);
    std::vector<T> in(2 * x.size()), out(2 * x.size(), T(0));
    put(in.data(), x);
    const dfti_data_kind kind{usm ? static_cast<std::uint64_t>(DFTI_CONTAINER_USM)
                                  : static_cast<std::uint64_t>(DFTI_CONTAINER_BUFFER)};
    sycl::event e;
    if (usm) {
        T* a = sycl::malloc_shared<T>(in.size(), q);
        T* o = sycl::malloc_shared<T>(out.size(), q);
        std::copy(in.begin(), in.end(), a);
        st = node->compute_fwd(node, a, o, nullptr, &kind, &e);
        if (st == 0) e.wait();
        std::copy(o, o + out.size(), out.begin());
        sycl::free(a, q);
        sycl::free(o, q);
    } else {
        sycl::buffer<char, 1> a{sycl::range<1>(in.size() * sizeof(T))}, o{sycl::range<1>(out.size() * sizeof(T))};
        {
            sycl::host_accessor<char, 1> h(a);
            std::memcpy(&h[0], in.data(), in.size() * sizeof(T));
        }
        st = node->compute_fwd(node, &a, &o, nullptr, &kind, &e);
        sycl::host_accessor<char, 1> h(o);
        std::memcpy(out.data(), &h[0], out.size() * sizeof(T));
    }
    if (st != 0) return -1;
    return rel_error(out.data(), packed_reference(n, T_, true, node->forward_scale, x));
}

// ---- sub-nodes and directions ---------------------------------------------------------------

struct direction_case {
    const char* label;
    const char* profile;
    bool single;
    vec n, fs, bs;       // node order
    bool in_place;
    int dirs;
    int route;           // 2D: 'E', 'F'; 3D: 2, 3
    std::string fwd, bwd;  // sub-node names per direction ("" when none; "-" for a kernel route)
};
void PrintTo(const direction_case& c, std::ostream* os) { *os << c.label; }

template <class Block>
void sets_of(const DFTI_DESCRIPTOR* node, std::vector<DFTI_DESCRIPTOR*>& f, std::vector<DFTI_DESCRIPTOR*>& b, int& route) {
    const auto* blk = static_cast<const Block*>(node->bkd_data);
    f = blk->fwd;
    b = blk->bwd;
    route = blk->route;
}
class MainDirections : public ::testing::TestWithParam<direction_case> {};

// A commit builds what its directions need; a compute in a direction that
// was not built answers 5 before anything is submitted, and the built one
// matches FFTW.
TEST_P(MainDirections, BuiltDirectionsOnlyAndRefusedOthers) {
    const direction_case& c = GetParam();
    GPU_REQUIRE_DEVICE(c.single);
    ovxplat::scoped_gpu_profile prof(c.profile);
    sycl::queue q{sycl::gpu_selector_v};
    std::int64_t vol = 1;
    for (auto v : c.n) vol *= v;
    node_ptr node = make(c.single, c.n, c.fs, c.bs, dfti_dim{1, 0, 0, vol, vol}, c.in_place, c.dirs, &q);
    ASSERT_TRUE(node);
    ASSERT_EQ(node->methods->commit(node.get()), 0);
    std::vector<DFTI_DESCRIPTOR*> f, b;
    int route = 0;
    if (c.n.size() == 3)
        sets_of<gm::c2c_3d_block<double>>(node.get(), f, b, route);
    else if (c.single)
        sets_of<gm::c2c_2d_block<float>>(node.get(), f, b, route);
    else
        sets_of<gm::c2c_2d_block<double>>(node.get(), f, b, route);
    EXPECT_EQ(route, c.route);
    if (c.fwd != "-") EXPECT_EQ(gm::set_complete(f) ? names(f) : "", c.fwd);
    if (c.bwd != "-") EXPECT_EQ(gm::set_complete(b) ? names(b) : "", c.bwd);
    if (!c.fwd.empty() && !c.bwd.empty() && c.fwd != "-") {
        EXPECT_EQ(f == b, c.fwd == c.bwd);
    }
    for (int dir = 0; dir < 2; ++dir) {
        const bool built = c.dirs == 2 || c.dirs == dir;
        dfti_data_kind k{DFTI_CONTAINER_USM};
        void* p = sycl::malloc_shared(static_cast<std::size_t>(vol) * 16, q);
        if (!built)
            EXPECT_EQ((dir == 0 ? node->compute_fwd : node->compute_bwd)(node.get(), p, p, nullptr, &k, nullptr),
                      DFTI_STATUS_BAD_DESCRIPTOR)
                << "direction " << dir;
        sycl::free(p, q);
    }
    if (c.dirs != 1 && !c.in_place && c.fs == c.bs) {
        int st = -1;
        const double err = c.single ? node_forward<float>(node.get(), q, c.n, 1, true, st)
                                    : node_forward<double>(node.get(), q, c.n, 1, true, st);
        ASSERT_EQ(st, 0);
        EXPECT_LT(err, gpu_test::tolerance(c.single, vol) * 4);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Routes, MainDirections,
    ::testing::Values(
        direction_case{"sub_transforms_forward_only", "quen5", true, {60, 100}, {1, 60}, {1, 60}, false, 0, 'F',
                       "2DC2C|f1d,2DC2C|f2d", ""},
        direction_case{"sub_transforms_backward_only", "quen5", false, {60, 100}, {1, 60}, {1, 60}, true, 1, 'F', "",
                       "2DC2C|b1d,2DC2C|b2d"},
        direction_case{"sub_transforms_in_place_share", "quen5", true, {60, 100}, {1, 60}, {1, 60}, true, 2, 'F',
                       "2D_C2C|1d,2D_C2C|2d", "2D_C2C|1d,2D_C2C|2d"},
        // Padded forward-domain rows: the first passes of both directions go
        // between the two layouts (one node); the second passes work in place
        // on different layouts.
        direction_case{"sub_transforms_padded_rows_split_second_pass", "quen5", true, {60, 100}, {1, 64}, {1, 60}, false,
                       2, 'F', "2D_C2C|1d,2DC2C|f2d", "2D_C2C|1d,2DC2C|b2d"},
        direction_case{"two_factor_program_forward_only", "quen5", true, {128, 128}, {1, 128}, {1, 128}, false, 0, 'E',
                       "-", "-"},
        direction_case{"cube_stages_forward_only", "quen5", false, {10, 12, 8}, {1, 10, 120}, {1, 10, 120}, false, 0, 3,
                       "3DC2C|f1d,3DC2C|f2d,3DC2C|f3d", ""},
        direction_case{"cube_135_program_forward_only", "quen5", false, {135, 135, 135}, {1, 135, 18225},
                       {1, 135, 18225}, false, 0, 2, "-", "-"}),
    [](const ::testing::TestParamInfo<direction_case>& i) { return std::string(i.param.label); });

// ---- the transposes at full size ------------------------------------------------------------

// One 16384^2 single transform on generation 6 takes the transposes; with a
// caller's workspace the commit allocates nothing, and the size reported
// before the commit covers the sub-transforms' tables and the 2 GiB scratch.
// Two transforms, or double precision, take the sub-transforms.
TEST(C2c2dTransposes, FullSizeCommitsWithACallerWorkspace) {
    GPU_REQUIRE_DEVICE(false);
    ovxplat::scoped_gpu_profile prof("quen6");
    sycl::queue q{sycl::gpu_selector_v};
    auto commit = [&q](auto& d, std::int64_t T) {
        d.set_value(dft::config_param::NUMBER_OF_TRANSFORMS, T);
        d.set_value(dft::config_param::FWD_DISTANCE, std::int64_t{16384} * 16384);
        d.set_value(dft::config_param::BWD_DISTANCE, std::int64_t{16384} * 16384);
        d.set_value(dft::config_param::WORKSPACE_PLACEMENT, dft::config_value::WORKSPACE_EXTERNAL);
        std::int64_t before = -1, after = -1;
        d.get_value(dft::config_param::WORKSPACE_EXTERNAL_BYTES, &before);
        d.commit(q);
        d.get_value(dft::config_param::WORKSPACE_EXTERNAL_BYTES, &after);
        EXPECT_GE(before, after);
        return after;
    };
    dft::descriptor<dft::precision::SINGLE, dft::domain::COMPLEX> s(vec{16384, 16384});
    const std::int64_t bytes = commit(s, 1);
    const DFTI_DESCRIPTOR* n = dft::detail::descriptor_node(s);
    ASSERT_STREQ(bkd_name(n->bkd), "bkd_c2c_2d_main_s_ops");
    const auto* blk = static_cast<const gm::c2c_2d_block<float>*>(n->bkd_data);
    EXPECT_EQ(blk->route, 'D');
    EXPECT_EQ(blk->areas.a[blk->scratch].bytes, std::uint64_t{16384} * 16384 * 8);
    EXPECT_GE(bytes, std::int64_t{16384} * 16384 * 8);
    EXPECT_EQ(names(blk->fwd), "2D_C2C|1d,2D_C2C|2d");
    EXPECT_EQ(blk->fwd, blk->bwd);
    EXPECT_EQ(blk->tp[0].vw, 4);
    EXPECT_EQ(blk->tp[0].vr, 1);
    ASSERT_NE(blk->kernels[0], nullptr);
    ASSERT_NE(blk->kernels[1], nullptr);

    dft::descriptor<dft::precision::SINGLE, dft::domain::COMPLEX> two(vec{16384, 16384});
    commit(two, 2);
    EXPECT_EQ(static_cast<const gm::c2c_2d_block<float>*>(dft::detail::descriptor_node(two)->bkd_data)->route, 'F');
}

// ---- caller workspaces ---------------------------------------------------------------------

// Packed single 2D transforms through the public API with a caller's
// workspace: the reported size before and after the commit, no compute
// before a binding, then right results with a USM workspace and after
// rebinding a buffer workspace, for USM and buffer data.
struct workspace_case {
    const char* label;
    const char* profile;
    vec n;  // API order
    std::int64_t T;
    int route;
    std::int64_t bytes;  // expected need (0: not fixed)
    std::int64_t side;   // the transposes' side for the case (0: unchanged)
    bool usm_ws_serves_buffers;
};
void PrintTo(const workspace_case& c, std::ostream* os) { *os << c.label; }
class MainWorkspace : public ::testing::TestWithParam<workspace_case> {
protected:
    void TearDown() override { gm::set_c2c_2d_transposes_side(16384); }
};

TEST_P(MainWorkspace, CallerWorkspacesOfBothKinds) {
    const workspace_case& c = GetParam();
    GPU_REQUIRE_DEVICE(true);
    ovxplat::scoped_gpu_profile prof(c.profile);
    if (c.side) gm::set_c2c_2d_transposes_side(c.side);
    sycl::queue q{sycl::gpu_selector_v};
    const std::int64_t vol = c.n[0] * c.n[1], total = c.T * vol;
    dft::descriptor<dft::precision::SINGLE, dft::domain::COMPLEX> d(c.n);
    d.set_value(dft::config_param::NUMBER_OF_TRANSFORMS, c.T);
    d.set_value(dft::config_param::FWD_DISTANCE, vol);
    d.set_value(dft::config_param::BWD_DISTANCE, vol);
    d.set_value(dft::config_param::PLACEMENT, dft::config_value::NOT_INPLACE);
    d.set_value(dft::config_param::WORKSPACE_PLACEMENT, dft::config_value::WORKSPACE_EXTERNAL);
    std::int64_t before = -1, bytes = -1;
    d.get_value(dft::config_param::WORKSPACE_EXTERNAL_BYTES, &before);
    d.commit(q);
    d.get_value(dft::config_param::WORKSPACE_EXTERNAL_BYTES, &bytes);
    EXPECT_EQ(static_cast<const gm::c2c_2d_block<float>*>(dft::detail::descriptor_node(d)->bkd_data)->route, c.route);
    EXPECT_GE(before, bytes);
    if (c.bytes) EXPECT_EQ(bytes, c.bytes);
    ASSERT_GT(bytes, 0);

    const std::vector<cplx> x = random_input<float>(static_cast<std::size_t>(total), 9u);
    const std::vector<cplx> ref = packed_reference({c.n[1], c.n[0]}, c.T, true, 1.0, x);
    const std::size_t scalars = static_cast<std::size_t>(2 * total);
    float* in = sycl::malloc_shared<float>(scalars, q);
    float* out = sycl::malloc_shared<float>(scalars, q);
    put(in, x);
    const double tol = gpu_test::tolerance(true, vol) * 4;
    EXPECT_THROW(dft::compute_forward(d, in, out), dft::no_workspace_exception);
    auto buffer_forward = [&]() {
        std::vector<float> o(scalars, 0.f);
        {
            sycl::buffer<float, 1> bi{in, sycl::range<1>(scalars)}, bo{o.data(), sycl::range<1>(scalars)};
            dft::compute_forward(d, bi, bo);
        }
        return rel_error(o.data(), ref);
    };
    float* ws = sycl::malloc_device<float>(static_cast<std::size_t>(bytes) / sizeof(float), q);
    d.set_workspace(ws);
    dft::compute_forward(d, in, out).wait();
    EXPECT_LT(rel_error(out, ref), tol) << "USM data, USM workspace";
    if (c.usm_ws_serves_buffers)
        EXPECT_LT(buffer_forward(), tol) << "buffer data, USM workspace";
    else
        EXPECT_THROW(buffer_forward(), dft::bad_descriptor_exception);
    sycl::buffer<float, 1> bws{sycl::range<1>(static_cast<std::size_t>(bytes) / sizeof(float))};
    d.set_workspace(bws);
    EXPECT_LT(buffer_forward(), tol) << "buffer data, buffer workspace";
    if (c.usm_ws_serves_buffers) {
        std::fill(out, out + scalars, 0.f);
        dft::compute_forward(d, in, out).wait();
        EXPECT_LT(rel_error(out, ref), tol) << "USM data, buffer workspace";
    }
    sycl::free(in, q);
    sycl::free(out, q);
    sycl::free(ws, q);
}

INSTANTIATE_TEST_SUITE_P(
    Routes, MainWorkspace,
    ::testing::Values(workspace_case{"two_factor_program", "quen5", {128, 128}, 3, 'E', 20480, 0, true},
                      workspace_case{"transposes", "quen6", {1536, 1536}, 1, 'D', 0, 1536, true},
                      workspace_case{"sub_transforms_with_scratch", "quen6", {4, 20000}, 2, 'F', 0, 0, true},
                      // The plan runs data of its workspace's container kind only.
                      workspace_case{"explicit_simd_plan", "quen6", {128, 128}, 2, 'C', 0, 0, false}),
    [](const ::testing::TestParamInfo<workspace_case>& i) { return std::string(i.param.label); });

// A buffer workspace too short for the tables fails while the areas are
// carved: the binding throws the runtime's sub-buffer error and leaves the
// node without workspace, so the next compute answers 11 (no workspace),
// and a good binding afterwards computes right.
TEST(MainWorkspaceNode, ShortBufferLeavesTheNodeUnbound) {
    GPU_REQUIRE_DEVICE(false);
    ovxplat::scoped_gpu_profile prof("quen5");
    sycl::queue q{sycl::gpu_selector_v};
    node_ptr node = make_packed(false, {128, 128}, 1, false, 2, &q);
    node->internal_workspace = 0;
    ASSERT_EQ(node->methods->commit(node.get()), 0);
    ASSERT_EQ(node->twiddle_workspace_bytes, 40960u);
    int st = -1;
    EXPECT_EQ(node_forward<double>(node.get(), q, {128, 128}, 1, true, st), -1);
    EXPECT_EQ(st, DFTI_STATUS_NO_WORKSPACE);
    sycl::buffer<char, 1> whole{sycl::range<1>(40960)}, shorter{sycl::range<1>(40000)};
    ASSERT_EQ(node->methods->set_workspace(node.get(), &whole, DFTI_CONTAINER_BUFFER), 0);
    EXPECT_LT(node_forward<double>(node.get(), q, {128, 128}, 1, false, st), 1e-12);
    try {
        node->methods->set_workspace(node.get(), &shorter, DFTI_CONTAINER_BUFFER);
        ADD_FAILURE() << "a short workspace was bound";
    } catch (const sycl::exception& e) {
        EXPECT_NE(std::string(e.what()).find("Requested sub-buffer size exceeds the size of the parent buffer"),
                  std::string::npos)
            << e.what();
    }
    EXPECT_EQ(node_forward<double>(node.get(), q, {128, 128}, 1, false, st), -1);
    EXPECT_EQ(st, DFTI_STATUS_NO_WORKSPACE);
    ASSERT_EQ(node->methods->set_workspace(node.get(), &whole, DFTI_CONTAINER_BUFFER), 0);
    EXPECT_LT(node_forward<double>(node.get(), q, {128, 128}, 1, false, st), 1e-12);
}

// ---- queues and ordering -------------------------------------------------------------------

// Queue mode 2: each compute runs on the queue the node holds at that
// moment, on the kernel route and on the sub-nodes.
TEST(MainQueues, ModeTwoComputesOnTheQueueOfTheCall) {
    GPU_REQUIRE_DEVICE(true);
    ovxplat::scoped_gpu_profile prof("quen5");
    sycl::queue q1{sycl::gpu_selector_v}, q2{sycl::gpu_selector_v};
    for (const vec& n : {vec{128, 128}, vec{60, 100}}) {
        node_ptr node = make_packed(true, n, 1, false, 2, &q1);
        ASSERT_EQ(node->methods->commit(node.get()), 0);
        node->queue_mode = 2;
        node->queue = &q2;
        int st = -1;
        EXPECT_LT(node_forward<float>(node.get(), q2, n, 1, true, st), gpu_test::tolerance(true, n[0] * n[1]) * 4);
        ASSERT_EQ(st, 0);
        const auto* blk = static_cast<const gm::c2c_2d_block<float>*>(node->bkd_data);
        EXPECT_EQ(blk->queue, &q2);
        for (int i = 0; i < blk->subs.count; ++i) EXPECT_EQ(blk->subs[i]->queue, &q2);
    }
}

// Back-to-back computes of one descriptor on independent arrays, given no
// dependencies, on a shuffled out-of-order queue (and once on an in-order
// queue): a compute's first step must not overwrite the scratch that the
// previous compute's last step still reads.
struct ordering_case {
    const char* label;
    vec n;  // API order
    std::int64_t side;
    bool usm, in_order;
};
void PrintTo(const ordering_case& c, std::ostream* os) { *os << c.label; }
class MainOrdering : public ::testing::TestWithParam<ordering_case> {
protected:
    void TearDown() override {
        ovxplat::set_shuffle_mode(false);
        gm::set_c2c_2d_transposes_side(16384);
    }
};

TEST_P(MainOrdering, BackToBackComputesOnIndependentData) {
    const ordering_case& c = GetParam();
    GPU_REQUIRE_DEVICE(true);
    ovxplat::scoped_gpu_profile prof("quen6");
    if (c.side) gm::set_c2c_2d_transposes_side(c.side);
    sycl::queue q = c.in_order ? sycl::queue{sycl::gpu_selector_v, sycl::property::queue::in_order()}
                               : sycl::queue{sycl::gpu_selector_v};
    const std::int64_t vol = c.n[0] * c.n[1];
    dft::descriptor<dft::precision::SINGLE, dft::domain::COMPLEX> d(c.n);
    d.set_value(dft::config_param::PLACEMENT, dft::config_value::NOT_INPLACE);
    d.commit(q);
    ASSERT_GT(dft::detail::descriptor_node(d)->scratch_workspace_bytes, 0u);
    const std::size_t scalars = static_cast<std::size_t>(2 * vol);
    std::vector<std::vector<cplx>> x, ref;
    for (unsigned k = 0; k < 3; ++k) {
        x.push_back(random_input<float>(static_cast<std::size_t>(vol), 30u + k));
        ref.push_back(packed_reference({c.n[1], c.n[0]}, 1, true, 1.0, x.back()));
    }
    std::vector<std::vector<float>> in(3, std::vector<float>(scalars)), out(3, std::vector<float>(scalars, 0.f));
    for (int k = 0; k < 3; ++k) put(in[k].data(), x[k]);
    ovxplat::set_shuffle_mode(!c.in_order);
    if (c.usm) {
        float* m = sycl::malloc_shared<float>(6 * scalars, q);  // three inputs, three outputs
        for (int k = 0; k < 3; ++k) std::copy(in[k].begin(), in[k].end(), m + k * scalars);
        std::vector<sycl::event> ev;
        for (int k = 0; k < 3; ++k) ev.push_back(dft::compute_forward(d, m + k * scalars, m + (3 + k) * scalars));
        for (auto& e : ev) e.wait();
        for (int k = 0; k < 3; ++k) std::copy(m + (3 + k) * scalars, m + (4 + k) * scalars, out[k].begin());
        sycl::free(m, q);
    } else {
        std::vector<sycl::buffer<float, 1>> bi, bo;
        for (int k = 0; k < 3; ++k) {
            bi.emplace_back(in[k].data(), sycl::range<1>(scalars));
            bo.emplace_back(out[k].data(), sycl::range<1>(scalars));
        }
        for (int k = 0; k < 3; ++k) dft::compute_forward(d, bi[k], bo[k]);
    }  // the buffers write back here
    ovxplat::set_shuffle_mode(false);
    for (int k = 0; k < 3; ++k) EXPECT_LT(rel_error(out[k].data(), ref[k]), gpu_test::tolerance(true, vol) * 4) << k;
}

INSTANTIATE_TEST_SUITE_P(
    Routes, MainOrdering,
    ::testing::Values(ordering_case{"sub_transforms_usm", {4, 20000}, 0, true, false},
                      ordering_case{"sub_transforms_buffers", {4, 20000}, 0, false, false},
                      ordering_case{"transposes_usm", {1536, 1536}, 1536, true, false},
                      ordering_case{"transposes_buffers", {1536, 1536}, 1536, false, false},
                      ordering_case{"sub_transforms_in_order_queue", {4, 20000}, 0, true, true}),
    [](const ::testing::TestParamInfo<ordering_case>& i) { return std::string(i.param.label); });

// A caller's workspace rebound while a compute that uses it is still
// running (node level, no host wait in between, shuffled queue): the
// binding waits for that compute before dropping its areas, and the next
// compute runs on the new workspace.
TEST(MainOrderingNode, RebindWhileAComputeRuns) {
    GPU_REQUIRE_DEVICE(true);
    ovxplat::scoped_gpu_profile prof("quen6");
    sycl::queue q{sycl::gpu_selector_v};
    const vec n{20000, 4};
    node_ptr node = make_packed(true, n, 1, false, 2, &q);
    node->internal_workspace = 0;
    ASSERT_EQ(node->methods->commit(node.get()), 0);
    const std::uint64_t need = node->twiddle_workspace_bytes + node->scratch_workspace_bytes;
    ASSERT_GT(node->scratch_workspace_bytes, 0u);
    void* ws[2] = {sycl::malloc_device(need, q), sycl::malloc_device(need, q)};
    ASSERT_EQ(node->methods->set_workspace(node.get(), ws[0], DFTI_CONTAINER_USM), 0);
    const std::size_t scalars = 2 * 80000;
    const std::vector<cplx> x = random_input<float>(80000, 41u);
    const std::vector<cplx> ref = packed_reference(n, 1, true, 1.0, x);
    float* in = sycl::malloc_shared<float>(scalars, q);
    float* out[2] = {sycl::malloc_shared<float>(scalars, q), sycl::malloc_shared<float>(scalars, q)};
    put(in, x);
    const dfti_data_kind kind{DFTI_CONTAINER_USM};
    ovxplat::set_shuffle_mode(true);
    sycl::event e[2];
    ASSERT_EQ(node->compute_fwd(node.get(), in, out[0], nullptr, &kind, &e[0]), 0);
    ASSERT_EQ(node->methods->set_workspace(node.get(), ws[1], DFTI_CONTAINER_USM), 0);
    sycl::free(ws[0], q);  // nothing may use the first workspace any more
    ASSERT_EQ(node->compute_fwd(node.get(), in, out[1], nullptr, &kind, &e[1]), 0);
    e[0].wait();
    e[1].wait();
    ovxplat::set_shuffle_mode(false);
    for (int k = 0; k < 2; ++k) EXPECT_LT(rel_error(out[k], ref), gpu_test::tolerance(true, 80000) * 4) << k;
    node.reset();
    sycl::free(ws[1], q);
    sycl::free(in, q);
    sycl::free(out[0], q);
    sycl::free(out[1], q);
}

// ---- status paths of the public API ----------------------------------------------------------

class MainStatus : public ::testing::Test {
protected:
    void SetUp() override {
        GPU_REQUIRE_DEVICE(true);
        prof.emplace("quen5");
        q = sycl::queue{sycl::gpu_selector_v};
    }
    std::optional<ovxplat::scoped_gpu_profile> prof;
    sycl::queue q;
};

// A non-zero offset is refused by every GPU backend.
TEST_F(MainStatus, OffsetEndsInUnimplemented) {
    dft::descriptor<dft::precision::SINGLE, dft::domain::COMPLEX> d(vec{60, 100});
    d.set_value(dft::config_param::INPUT_STRIDES, vec{4, 100, 1});
    d.set_value(dft::config_param::OUTPUT_STRIDES, vec{4, 100, 1});
    EXPECT_THROW(d.commit(q), korami::ovx::unimplemented);
}

// Lengths of 1 lower the working rank: {1, 64} is a 1D problem, which the
// 2D and 3D main backends do not take.
TEST_F(MainStatus, LengthOneLowersTheRankBelowTheMainBackends) {
    dft::descriptor<dft::precision::SINGLE, dft::domain::COMPLEX> d(vec{1, 64});
    try {
        d.commit(q);
        const bkd_ops* owner = dft::detail::descriptor_node(d)->bkd;
        EXPECT_NE(owner, &bkd_c2c_2d_main_s_ops);
        EXPECT_NE(owner, &bkd_c2c_3d_main_s_ops);
    } catch (const korami::ovx::unimplemented&) {
    }
}

TEST_F(MainStatus, DoubleNeedsDoublePrecisionDevice) {
    ovxplat::scoped_gpu_profile nofp64("quen5_nofp64");
    sycl::queue q2{sycl::gpu_selector_v};
    dft::descriptor<dft::precision::DOUBLE, dft::domain::COMPLEX> d(vec{128, 128});
    EXPECT_THROW(d.commit(q2), korami::ovx::unsupported_device);
}

// A value changed after a commit makes the descriptor uncommitted; the
// recommit takes the same backend and route and applies the new value.
TEST_F(MainStatus, RecommitAfterAChangeKeepsTheRoute) {
    dft::descriptor<dft::precision::SINGLE, dft::domain::COMPLEX> d(vec{128, 128});
    d.set_value(dft::config_param::PLACEMENT, dft::config_value::NOT_INPLACE);
    d.commit(q);
    d.set_value(dft::config_param::FORWARD_SCALE, 0.5f);
    float* in = sycl::malloc_shared<float>(2 * 16384, q);
    float* out = sycl::malloc_shared<float>(2 * 16384, q);
    EXPECT_THROW(dft::compute_forward(d, in, out), dft::uncommitted_descriptor_exception);
    d.commit(q);
    const DFTI_DESCRIPTOR* n = dft::detail::descriptor_node(d);
    EXPECT_STREQ(bkd_name(n->bkd), "bkd_c2c_2d_main_s_ops");
    EXPECT_EQ(static_cast<const gm::c2c_2d_block<float>*>(n->bkd_data)->route, 'E');
    const std::vector<cplx> x = random_input<float>(16384, 5u);
    put(in, x);
    dft::compute_forward(d, in, out).wait();
    EXPECT_LT(rel_error(out, packed_reference({128, 128}, 1, true, 0.5, x)), gpu_test::tolerance(true, 16384) * 4);
    sycl::free(in, q);
    sycl::free(out, q);
}

}  // namespace

namespace {

// The batched-packed variant cuts the data into per-transform sub-buffers;
// data that are themselves sub-buffers are refused before anything is
// submitted.
TEST(MainBatchedPacked, SubBufferDataRefusedBeforeAnyCommand) {
    GPU_REQUIRE_DEVICE(false);
    ovxplat::scoped_gpu_profile prof("quen6");
    sycl::queue q{sycl::gpu_selector_v};
    node_ptr node = make_packed(false, {2048, 2048}, 2, false, 2, &q);
    ASSERT_EQ(node->methods->commit(node.get()), 0);
    const auto* blk = static_cast<const gm::c2c_2d_block<double>*>(node->bkd_data);
    ASSERT_EQ(blk->route, 'F');
    ASSERT_TRUE(blk->batched_packed);
    sycl::buffer<char, 1> whole{sycl::range<1>(256)}, other{sycl::range<1>(128)};
    sycl::buffer<char, 1> part(whole, sycl::id<1>(128), sycl::range<1>(128));
    const dfti_data_kind kind{DFTI_CONTAINER_BUFFER};
    for (int dir = 0; dir < 2; ++dir) {
        const std::uint64_t before = ovxplat::get_sycl_counters().commands_submitted;
        auto entry = dir == 0 ? node->compute_fwd : node->compute_bwd;
        for (auto io : {std::pair<void*, void*>{&part, &other}, std::pair<void*, void*>{&other, &part}}) {
            try {
                entry(node.get(), io.first, io.second, nullptr, &kind, nullptr);
                ADD_FAILURE() << "no exception";
            } catch (const korami::ovx::invalid_argument& x) {
                EXPECT_NE(std::string(x.what()).find(
                              "Sub-buffer inputs are not supported for this size. See Numora release notes."),
                          std::string::npos)
                    << x.what();
            }
        }
        EXPECT_EQ(ovxplat::get_sycl_counters().commands_submitted, before);
    }
}

}  // namespace

namespace {

// On a device where no kernel can be built (the planning-only Level Zero
// profile) the 1D sub-transforms of the transposes route fail with the
// kernel cache's exception: the commit passes it on and leaves no block, no
// compute entry, no sub-node and no device memory behind.
TEST(MainStatusNode, FailedCommitOnADeviceThatBuildsNoKernelLeavesNothing) {
    GPU_REQUIRE_DEVICE(true);
    ovxplat::scoped_gpu_profile prof("quen6_l0");
    gm::set_c2c_2d_transposes_side(1536);
    sycl::queue q{sycl::gpu_selector_v};
    const std::uint64_t live = ovxplat::get_sycl_counters().usm_live_allocations;
    node_ptr node = make_packed(true, {1536, 1536}, 1, false, 2, &q);
    EXPECT_THROW(node->methods->commit(node.get()), sycl::exception);
    gm::set_c2c_2d_transposes_side(16384);
    EXPECT_EQ(node->bkd_data, nullptr);
    EXPECT_EQ(node->compute_fwd, nullptr);
    EXPECT_EQ(node->compute_bwd, nullptr);
    EXPECT_EQ(ovxplat::get_sycl_counters().usm_live_allocations, live);
}

}  // namespace
