// Rank 2 and 3 composite backends at the node level and their status paths:
// which sub-nodes a commit makes (names, sharing, scratch mode and bytes),
// the scratch of layouts that are neither ordered nor packed, refused
// directions, caller workspaces and back-to-back computes on shuffled
// out-of-order queues.
#include "dft/gpu/gpu_harness.hpp"

#include <functional>
#include <memory>
#include <optional>

#include "dft/gpu/md/c2c_3d_main.hpp"
#include "dft/gpu/md/r2c_md_main.hpp"
#include "worst_error.hpp"

namespace {

namespace gm = korami::ovx::dft::gpumd;
using md_test::vec;
namespace dft = korami::ovx::dft;

using gpu_test::node_ptr;

// A double node of the domain with node-order lengths, domain strides
// (innermost first), one batch record and a one-record candidate list.
node_ptr make(bool real, vec n, vec fs, vec bs, dfti_dim batch, bool in_place, int dirs, const bkd_ops* const* list,
              sycl::queue* q) {
    DFTI_DESCRIPTOR* raw = nullptr;
    const int st = real ? gpu_dfti_create_drmd(&raw, static_cast<std::int64_t>(n.size()), n.data(), nullptr)
                        : gpu_dfti_create_dcmd(&raw, static_cast<std::int64_t>(n.size()), n.data(), nullptr);
    if (st != 0) return node_ptr();
    node_ptr node(raw);
    for (std::size_t i = 0; i < n.size(); ++i) node->user_dims.records[i] = dfti_dim{n[i], 0, 0, fs[i], bs[i]};
    node->user_batch.records[0] = batch;
    node->placement = in_place ? DFTI_INPLACE : DFTI_NOT_INPLACE;
    node->directions = dirs;
    node->queue = q;
    node->bkdlist = list;
    return node;
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

const bkd_ops* const r2d[] = {&bkd_r2c_2d_main_d_ops, nullptr};
const bkd_ops* const r3d[] = {&bkd_r2c_3d_main_d_ops, nullptr};
const bkd_ops* const c3d[] = {&bkd_c2c_3d_main_d_ops, nullptr};

// {10, 12} (node order), three transforms, packed reals; complex rows packed
// and transforms 80 apart (72 would continue them).
node_ptr gapped_2d(sycl::queue* q, int dirs) {
    return make(true, {10, 12}, {1, 10}, {1, 6}, {3, 0, 0, 120, 80}, false, dirs, r2d, q);
}

struct structure_case {
    const char* label;
    std::function<node_ptr(sycl::queue*)> make;
    std::string fwd, bwd;  // sub-node names per direction ("" when not built)
    bool shared;           // the directions' sets are the same nodes
    int mode;              // real mains: scratch mode; -1 for the complex main
    std::uint64_t scratch; // real mains: scratch bytes (rounded)
};
void PrintTo(const structure_case& c, std::ostream* os) { *os << c.label; }

class MdStructure : public ::testing::TestWithParam<structure_case> {};

TEST_P(MdStructure, SubNodesNamesAndScratch) {
    const structure_case& c = GetParam();
    GPU_REQUIRE_DEVICE(false);
    ovxplat::scoped_gpu_profile prof("quen5");
    sycl::queue q{sycl::gpu_selector_v};
    node_ptr node = c.make(&q);
    ASSERT_TRUE(node);
    ASSERT_EQ(node->methods->commit(node.get()), 0);
    // The record's estimate covers the layouts the commit took.
    EXPECT_GE(gpu_test::record_estimate{node->bkdlist[0]}.get_workspace_bytes(dft_workspace_problem{node.get(), &q}),
              static_cast<std::int64_t>(node->twiddle_workspace_bytes + node->scratch_workspace_bytes));
    std::vector<DFTI_DESCRIPTOR*> f, b;
    if (c.mode >= 0) {
        auto* blk = static_cast<gm::r2c_md_block<double>*>(node->bkd_data);
        f = blk->fwd;
        b = blk->bwd;
        EXPECT_EQ(blk->pl.mode, c.mode);
        // The scratch area the plan listed (none: no committed direction needs one).
        EXPECT_EQ(blk->scratch < 0 ? 0u : blk->areas.a[blk->scratch].bytes, c.scratch);
    } else {
        auto* blk = static_cast<gm::c2c_3d_block<double>*>(node->bkd_data);
        f = blk->fwd;
        b = blk->bwd;
    }
    EXPECT_EQ(gm::set_complete(f) ? names(f) : "", c.fwd);
    EXPECT_EQ(gm::set_complete(b) ? names(b) : "", c.bwd);
    if (!c.fwd.empty() && !c.bwd.empty()) {
        EXPECT_EQ(f == b, c.shared);
    }
    // A direction that was not built is refused before anything runs.
    for (int dir = 0; dir < 2; ++dir) {
        if (!(dir == 0 ? c.fwd : c.bwd).empty()) continue;
        dfti_data_kind k{DFTI_CONTAINER_USM};
        void* p = sycl::malloc_shared(8192, q);
        EXPECT_EQ((dir == 0 ? node->compute_fwd : node->compute_bwd)(node.get(), p, p, nullptr, &k, nullptr),
                  DFTI_STATUS_BAD_DESCRIPTOR);
        sycl::free(p, q);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Composites, MdStructure,
    ::testing::Values(
        structure_case{"real3d_in_place_shares_both",
                       [](sycl::queue* q) { return make(true, {10, 8, 6}, {1, 12, 96}, {1, 6, 48}, {1, 0, 0, 0, 0}, true, 2, r3d, q); },
                       "3D_R2CC2R,3D_R2C|3d", "3D_R2CC2R,3D_R2C|3d", true, 0, 0},
        structure_case{"real3d_packed_out_of_place_splits",
                       [](sycl::queue* q) { return make(true, {10, 8, 6}, {1, 10, 80}, {1, 6, 48}, {1, 0, 0, 0, 0}, false, 2, r3d, q); },
                       "3D_R2C,3DR2C|f3d", "3D_C2R,3DR2C|b3d", false, 2, 6 * 8 * 6 * 16},
        structure_case{"real2d_packed_out_of_place_shares_real",
                       [](sycl::queue* q) { return make(true, {10, 12}, {1, 10}, {1, 6}, {1, 0, 0, 0, 0}, false, 2, r2d, q); },
                       "2D_R2CC2R,2DR2C|f2d", "2D_R2CC2R,2DR2C|b2d", false, 2, 6 * 12 * 16},
        structure_case{"real3d_forward_only",
                       [](sycl::queue* q) { return make(true, {10, 8, 6}, {1, 10, 80}, {1, 6, 48}, {1, 0, 0, 0, 0}, false, 0, r3d, q); },
                       "3D_R2C,3DR2C|f3d", "", false, 2, 0},
        // The real step takes one batch record: a complex side with a gap
        // between transforms or planes (or an in-place real step with reals
        // two apart) sends the direction through the packed scratch, where
        // the two directions' sub-nodes may then agree.
        structure_case{"real2d_gap_between_complex_transforms", [](sycl::queue* q) { return gapped_2d(q, 2); },
                       "2D_R2CC2R,2D_R2C|2d", "2D_R2CC2R,2D_R2C|2d", true, 2, 6 * 12 * 3 * 16},
        structure_case{"real2d_gap_forward_only", [](sycl::queue* q) { return gapped_2d(q, 0); },
                       "2D_R2C,2DR2C|f2d", "", false, 2, 6 * 12 * 3 * 16},
        structure_case{"real3d_gap_between_complex_planes",
                       [](sycl::queue* q) { return make(true, {10, 8, 6}, {1, 10, 80}, {1, 6, 50}, {1, 0, 0, 0, 0}, false, 2, r3d, q); },
                       "3D_R2C,3D_R2C|3d", "3D_C2R,3D_R2C|3d", false, 2, 6 * 8 * 6 * 16},
        structure_case{"real2d_in_place_reals_two_apart",
                       [](sycl::queue* q) { return make(true, {10, 12}, {2, 12}, {1, 6}, {2, 0, 0, 144, 72}, true, 2, r2d, q); },
                       "2D_R2CC2R,2D_R2C|2d", "2D_R2CC2R,2D_R2C|2d", true, 2, 6 * 12 * 2 * 16},
        structure_case{"complex3d_in_place_shares_stages",
                       [](sycl::queue* q) { return make(false, {10, 12, 8}, {1, 10, 120}, {1, 10, 120}, {1, 0, 0, 0, 0}, true, 2, c3d, q); },
                       "3D_C2C|1d,3D_C2C|2d,3D_C2C|3d", "3D_C2C|1d,3D_C2C|2d,3D_C2C|3d", true, -1, 0},
        structure_case{"complex3d_backward_only",
                       [](sycl::queue* q) { return make(false, {10, 12, 8}, {1, 10, 120}, {1, 10, 120}, {1, 0, 0, 0, 0}, false, 1, c3d, q); },
                       "", "3DC2C|b1d,3DC2C|b2d,3DC2C|b3d", false, -1, 0}),
    [](const ::testing::TestParamInfo<structure_case>& i) { return std::string(i.param.label); });

// A sub-node (the rank-2 step of the 3D backend) keeps to its preferred
// layouts, which use no scratch of its own, and is taken only with every
// direction its parent asked for, since its parent runs it in either. The
// second layout's forward real side (input strides) runs 10 x 12 reals into
// transforms 132 apart, a gap; its backward one (output strides) 11 x 12.
TEST(MdSubNode, TakenOnlyWithItsPreferredLayoutsAndEveryDirectionAsked) {
    GPU_REQUIRE_DEVICE(false);
    ovxplat::scoped_gpu_profile prof("quen5");
    sycl::queue q{sycl::gpu_selector_v};
    auto one_way = [&q](int dirs) {
        node_ptr n = make(true, {10, 12}, {1, 10}, {1, 6}, {2, 0, 0, 132, 132}, false, dirs, r2d, &q);
        n->user_dims.records[0].input_stride = n->user_dims.records[0].output_stride = 1;
        n->user_dims.records[1].input_stride = 10;
        n->user_dims.records[1].output_stride = 11;
        return n;
    };
    node_ptr gapped = gapped_2d(&q, 2), both = one_way(2), backward = one_way(1);
    for (DFTI_DESCRIPTOR* n : {gapped.get(), both.get(), backward.get()}) n->is_sub_node = 1;
    EXPECT_NE(gapped->methods->commit(gapped.get()), 0);
    EXPECT_NE(gapped->commit_status, DFTI_COMMITTED);
    EXPECT_NE(both->methods->commit(both.get()), 0);
    EXPECT_EQ(backward->methods->commit(backward.get()), 0);
}

// Scratch decision of layouts the descriptor rarely makes: host planning.
struct mode_case {
    const char* label;
    vec n, r, c;  // node order; real and complex strides
    std::int64_t T, dr, dc;
    int mode;
    std::uint64_t bytes;  // unrounded
};
void PrintTo(const mode_case& c, std::ostream* os) { *os << c.label; }
class MdScratchMode : public ::testing::TestWithParam<mode_case> {};

TEST_P(MdScratchMode, ModeAndBytes) {
    const mode_case& c = GetParam();
    node_ptr node = make(true, c.n, c.r, c.c, dfti_dim{c.T, 0, 0, c.dr, c.dc}, false, 2, r2d, nullptr);
    ASSERT_TRUE(node);
    ASSERT_EQ(dfti_normalize_node(node.get()), 0);
    gm::r2c_md_plan p;
    ASSERT_EQ(gm::make_r2c_md_plan(node.get(), 2, 16, p), 0);
    EXPECT_EQ(p.mode, c.mode);
    EXPECT_EQ(p.scratch_bytes, c.bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, MdScratchMode,
    ::testing::Values(
        mode_case{"packed", {10, 12}, {1, 10}, {1, 6}, 3, 120, 72, 2, 6 * 12 * 3 * 16},
        // Batch innermost, dimension 0 outermost.
        mode_case{"batch_innermost", {10, 12}, {36, 3}, {36, 3}, 3, 1, 1, 3, 6 * 12 * 3 * 16},
        // Complex rows column-major and far apart transforms: the scratch
        // reaches the last transform's last element.
        mode_case{"input_layout_to_last_element", {10, 12}, {1, 10}, {12, 1}, 2, 120, 1000, 4,
                  (1000 + 5 * 12 + 11 * 1 + 1) * 16}),
    [](const ::testing::TestParamInfo<mode_case>& i) { return std::string(i.param.label); });

class MdStatus : public ::testing::Test {
protected:
    void SetUp() override {
        GPU_REQUIRE_DEVICE(false);
        prof.emplace("quen5");
        q = sycl::queue{sycl::gpu_selector_v};
    }
    std::optional<ovxplat::scoped_gpu_profile> prof;
    sycl::queue q;
};

using real_desc = dft::descriptor<dft::precision::DOUBLE, dft::domain::REAL>;
constexpr std::size_t rn = 3 * 120, cn = 2 * 3 * 72;  // scalars of the real and complex sides

// Three out-of-place 12x10 real transforms, packed.
void three_packed(real_desc& d) {
    d.set_value(dft::config_param::NUMBER_OF_TRANSFORMS, std::int64_t{3});
    d.set_value(dft::config_param::FWD_DISTANCE, std::int64_t{120});
    d.set_value(dft::config_param::BWD_DISTANCE, std::int64_t{72});
    d.set_value(dft::config_param::PLACEMENT, dft::config_value::NOT_INPLACE);
}

double max_diff(const double* a, const double* b, std::size_t n) {
    double e = 0;
    for (std::size_t i = 0; i < n; ++i) e = ovx_test::worse(e, std::abs(a[i] - b[i]));
    return e;
}

// A record frees only the nodes it owns.
TEST_F(MdStatus, FreeThroughTheOtherPrecisionIsRefused) {
    node_ptr node = make(true, {10, 12}, {1, 10}, {1, 6}, {1, 0, 0, 0, 0}, false, 2, r2d, &q);
    ASSERT_EQ(node->methods->commit(node.get()), 0);
    EXPECT_EQ(bkd_r2c_2d_main_s_ops.free(&bkd_r2c_2d_main_s_ops, node.get()), DFTI_STATUS_INTERNAL);
    EXPECT_EQ(node->commit_status, DFTI_COMMITTED);
}

// Caller workspaces of exactly the reported size (which the size reported
// before commit covers) serve both directions in both container forms and
// give the results of a library-held workspace; a USM workspace cannot hold
// the scratch that buffer data need.
TEST_F(MdStatus, CallerWorkspaceOfTheReportedSize) {
    real_desc ref(vec{12, 10}), ext(vec{12, 10});
    three_packed(ref);
    three_packed(ext);
    ext.set_value(dft::config_param::WORKSPACE_PLACEMENT, dft::config_value::WORKSPACE_EXTERNAL);
    std::int64_t estimate = -1, bytes = -1;
    ext.get_value(dft::config_param::WORKSPACE_EXTERNAL_BYTES, &estimate);
    ref.commit(q);
    ext.commit(q);
    ext.get_value(dft::config_param::WORKSPACE_EXTERNAL_BYTES, &bytes);
    EXPECT_GE(estimate, bytes);
    ASSERT_GT(bytes, 0);  // the backward scratch
    double* m = sycl::malloc_shared<double>(2 * rn + 2 * cn, q);  // x, y, X, Y
    double *x = m, *y = m + rn, *X = m + 2 * rn, *Y = X + cn;
    const auto rnd = gpu_test::random_real(rn, 5u);
    std::copy(rnd.begin(), rnd.end(), x);
    EXPECT_THROW(dft::compute_forward(ext, x, Y), dft::no_workspace_exception);
    dft::compute_forward(ref, x, X).wait();
    dft::compute_backward(ref, X, y).wait();
    double* ws = sycl::malloc_device<double>(bytes / sizeof(double), q);
    ext.set_workspace(ws);
    dft::compute_forward(ext, x, Y).wait();
    EXPECT_LT(max_diff(X, Y, cn), 1e-12);
    dft::compute_backward(ext, X, x).wait();
    EXPECT_LT(max_diff(y, x, rn), 1e-12);
    {
        // The buffers write back into `m` when they go: before it is freed.
        sycl::buffer<double, 1> bX{X, sycl::range<1>(cn)}, bz{sycl::range<1>(rn)},
            bws{sycl::range<1>(bytes / sizeof(double))};
        EXPECT_THROW(dft::compute_backward(ext, bX, bz), dft::no_workspace_exception);
        ext.set_workspace(bws);
        dft::compute_backward(ext, bX, bz);
        EXPECT_LT(max_diff(y, &sycl::host_accessor<double, 1>(bz)[0], rn), 1e-12);
    }
    sycl::free(m, q);
    sycl::free(ws, q);
}

// A forward transform through the scratch (complex transforms 80 apart, 72
// would continue them) with a caller's USM workspace of the size reported
// before commit gives the result of a library-held workspace; buffer data
// cannot use a USM scratch.
TEST_F(MdStatus, CallerWorkspaceServesTheForwardScratch) {
    real_desc ref(vec{12, 10}), ext(vec{12, 10});
    for (real_desc* d : {&ref, &ext}) {
        three_packed(*d);
        d->set_value(dft::config_param::BWD_DISTANCE, std::int64_t{80});
    }
    constexpr std::size_t xn = 2 * (2 * 80 + 72);  // scalars of the complex side
    ext.set_value(dft::config_param::WORKSPACE_PLACEMENT, dft::config_value::WORKSPACE_EXTERNAL);
    std::int64_t estimate = -1, bytes = -1;
    ext.get_value(dft::config_param::WORKSPACE_EXTERNAL_BYTES, &estimate);
    ref.commit(q);
    ext.commit(q);
    ext.get_value(dft::config_param::WORKSPACE_EXTERNAL_BYTES, &bytes);
    ASSERT_GE(estimate, bytes);
    double* m = sycl::malloc_shared<double>(rn + 2 * xn + estimate / sizeof(double), q);  // x, X, Y, workspace
    double *x = m, *X = m + rn, *Y = X + xn;
    const auto rnd = gpu_test::random_real(rn, 7u);
    std::copy(rnd.begin(), rnd.end(), x);
    std::fill(X, X + 2 * xn, 7.0);
    dft::compute_forward(ref, x, X).wait();
    ext.set_workspace(Y + xn);
    dft::compute_forward(ext, x, Y).wait();
    EXPECT_LT(max_diff(X, Y, xn), 1e-12);
    {
        sycl::buffer<double, 1> bx{sycl::range<1>(rn)}, by{sycl::range<1>(xn)};
        EXPECT_THROW(dft::compute_forward(ext, bx, by), dft::no_workspace_exception);
    }
    sycl::free(m, q);
}

// Two backward computes of one node on independent data, given no
// dependencies, on a shuffled out-of-order queue: the second one's first step
// must not overwrite the scratch that the first one's last step still reads.
TEST_F(MdStatus, BackToBackBackwardComputesOnShuffledQueue) {
    real_desc d(vec{12, 10});
    three_packed(d);
    d.set_value(dft::config_param::BACKWARD_SCALE, 1.0 / 120);
    d.commit(q);
    constexpr std::size_t per = 2 * rn + cn;  // per compute: x, X, y
    double* m = sycl::malloc_shared<double>(2 * per, q);
    for (int k = 0; k < 2; ++k) {
        const auto r = gpu_test::random_real(rn, 20u + k);
        std::copy(r.begin(), r.end(), m + k * per);
        dft::compute_forward(d, m + k * per, m + k * per + rn).wait();
    }
    ovxplat::set_shuffle_mode(true);
    sycl::event e0 = dft::compute_backward(d, m + rn, m + rn + cn);
    sycl::event e1 = dft::compute_backward(d, m + per + rn, m + per + rn + cn);
    e0.wait();
    e1.wait();
    ovxplat::set_shuffle_mode(false);
    for (int k = 0; k < 2; ++k) EXPECT_LT(max_diff(m + k * per, m + k * per + rn + cn, rn), 1e-12) << "compute " << k;
    sycl::free(m, q);
}

// Three forward computes of one node on independent buffers, back to back on
// a shuffled out-of-order queue. Both sub-nodes keep scratch in the region
// they share, and buffer data give them no dependency on the previous
// compute: each compute must still start after the previous one ended.
TEST_F(MdStatus, BackToBackForwardComputesOnBuffersSharingScratch) {
    const vec n{2048, 16};
    const std::size_t rv = 2048 * 16, cv = 2 * 2048 * 9;  // scalars of one real and one complex array
    real_desc d(n);
    d.set_value(dft::config_param::PLACEMENT, dft::config_value::NOT_INPLACE);
    d.commit(q);
    auto* blk = static_cast<gm::r2c_md_block<double>*>(dft::detail::descriptor_node(d)->bkd_data);
    ASSERT_EQ(blk->fwd.size(), 2u);
    ASSERT_GT(blk->fwd[0]->scratch_workspace_bytes, 0u);
    ASSERT_GT(blk->fwd[1]->scratch_workspace_bytes, 0u);
    std::vector<std::vector<double>> in, out(3, std::vector<double>(cv, 0.0)), ref(3, std::vector<double>(cv, 0.0));
    for (unsigned k = 0; k < 3; ++k) in.push_back(gpu_test::random_real(rv, 50u + k));
    // The reference: the same transforms one at a time.
    for (int k = 0; k < 3; ++k) {
        sycl::buffer<double, 1> bi(in[k].data(), sycl::range<1>(rv)), bo(ref[k].data(), sycl::range<1>(cv));
        dft::compute_forward(d, bi, bo);
    }
    ovxplat::set_shuffle_mode(true);
    {
        std::vector<sycl::buffer<double, 1>> bi, bo;
        for (int k = 0; k < 3; ++k) {
            bi.emplace_back(in[k].data(), sycl::range<1>(rv));
            bo.emplace_back(out[k].data(), sycl::range<1>(cv));
        }
        for (int k = 0; k < 3; ++k) dft::compute_forward(d, bi[k], bo[k]);
    }  // the buffers write back here
    ovxplat::set_shuffle_mode(false);
    for (int k = 0; k < 3; ++k) {
        double peak = 0;
        for (double v : ref[k]) peak = std::max(peak, std::abs(v));
        EXPECT_LT(max_diff(out[k].data(), ref[k].data(), cv), 1e-12 * peak) << "compute " << k;
    }
}


// ---- 3D complex main: the route a commit takes -----------------------------------

// The explicit-SIMD plan serves packed shapes it takes on generation 6; a
// plan that refuses the shape, a layout that is not packed, or another
// generation falls through to the sub-transforms.
struct route_case {
    const char* label;
    const char* profile;
    vec n, fs;  // node order
    int route;
};
void PrintTo(const route_case& c, std::ostream* os) { *os << c.label; }
class C2c3dRoute : public ::testing::TestWithParam<route_case> {};

TEST_P(C2c3dRoute, TakenByDeviceShapeAndLayout) {
    const route_case& c = GetParam();
    GPU_REQUIRE_DEVICE(false);
    ovxplat::scoped_gpu_profile prof(c.profile);
    sycl::queue q{sycl::gpu_selector_v};
    node_ptr node = make(false, c.n, c.fs, c.fs, {1, 0, 0, 0, 0}, true, 2, c3d, &q);
    ASSERT_TRUE(node);
    ASSERT_EQ(node->methods->commit(node.get()), 0);
    auto* blk = static_cast<gm::c2c_3d_block<double>*>(node->bkd_data);
    EXPECT_EQ(blk->route, c.route);
    EXPECT_EQ(blk->esimd.plan != nullptr, c.route == 1);
    EXPECT_EQ(blk->subs.count > 0, c.route == 3);
    // The estimate made before a commit covers what the commit needs.
    const std::int64_t estimate =
        gpu_test::record_estimate{&bkd_c2c_3d_main_d_ops}.get_workspace_bytes(dft_workspace_problem{node.get(), &q});
    EXPECT_GE(estimate, static_cast<std::int64_t>(node->twiddle_workspace_bytes + node->scratch_workspace_bytes));
}

INSTANTIATE_TEST_SUITE_P(
    Routes, C2c3dRoute,
    ::testing::Values(route_case{"packed_64cubed_on_generation6_plan", "quen6", {64, 64, 64}, {1, 64, 4096}, 1},
                      route_case{"packed_64cubed_on_generation5_stages", "quen5", {64, 64, 64}, {1, 64, 4096}, 3},
                      route_case{"row_pitch_65_stages", "quen6", {64, 64, 64}, {1, 65, 4160}, 3},
                      route_case{"plan_refuses_10x12x8_stages", "quen6", {10, 12, 8}, {1, 10, 120}, 3}),
    [](const ::testing::TestParamInfo<route_case>& i) { return std::string(i.param.label); });

// On the plan's route a caller's USM workspace serves USM data only: buffer
// data are refused before anything runs, USM data match FFTW.
TEST(C2c3dPlanRoute, CallerUsmWorkspaceServesUsmDataOnly) {
    GPU_REQUIRE_DEVICE(false);
    ovxplat::scoped_gpu_profile prof("quen6");
    sycl::queue g{sycl::gpu_selector_v};
    dft::descriptor<dft::precision::DOUBLE, dft::domain::COMPLEX> d(vec{64, 64, 64});
    d.set_value(dft::config_param::PLACEMENT, dft::config_value::NOT_INPLACE);
    d.set_value(dft::config_param::WORKSPACE_PLACEMENT, dft::config_value::WORKSPACE_EXTERNAL);
    d.commit(g);
    std::int64_t need = 0;
    d.get_value(dft::config_param::WORKSPACE_EXTERNAL_BYTES, &need);
    ASSERT_GT(need, 0);
    double* ws = sycl::malloc_device<double>(static_cast<std::size_t>(need) / sizeof(double) + 1, g);
    d.set_workspace(ws);
    constexpr std::size_t n = 2 * 64 * 64 * 64;
    std::vector<double> x = gpu_test::random_real(n, 5u), y(n, 0.0);
    {
        sycl::buffer<double, 1> bx{x.data(), sycl::range<1>(n)}, by{y.data(), sycl::range<1>(n)};
        EXPECT_THROW(dft::compute_forward(d, bx, by), dft::bad_descriptor_exception);
    }
    EXPECT_TRUE(std::all_of(y.begin(), y.end(), [](double v) { return v == 0.0; }));
    double* ux = sycl::malloc_shared<double>(n, g);
    double* uy = sycl::malloc_shared<double>(n, g);
    std::copy(x.begin(), x.end(), ux);
    dft::compute_forward(d, ux, uy).wait();
    std::vector<gpu_test::cplx> in(n / 2);
    for (std::size_t k = 0; k < n / 2; ++k) in[k] = {x[2 * k], x[2 * k + 1]};
    const std::vector<gpu_test::cplx> ref = gpu_test::packed_reference({64, 64, 64}, 1, true, 1.0, in);
    double err = 0, mag = 0;
    for (std::size_t k = 0; k < n / 2; ++k) {
        err = ovx_test::worse(err, std::abs(gpu_test::cplx(uy[2 * k], uy[2 * k + 1]) - ref[k]));
        mag = std::max(mag, std::abs(ref[k]));
    }
    EXPECT_LT(err / mag, gpu_test::tolerance(false, 64 * 64 * 64));
    sycl::free(ux, g);
    sycl::free(uy, g);
    sycl::free(ws, g);
}

// A commit that fails part way (here the table area of the real 2D main is
// above the device's allocation cap, after its sub-nodes were committed; the
// later candidates refuse the shape, so the commit ends in unimplemented)
// leaves nothing behind: no device memory or buffer stays allocated, the
// descriptor reads uncommitted, and it commits and computes on another device.
TEST(MdFailedCommit, TablesAboveTheAllocationCapReleaseEverything) {
    GPU_REQUIRE_DEVICE(false);
    real_desc d(vec{64, 61});
    d.set_value(dft::config_param::PLACEMENT, dft::config_value::NOT_INPLACE);
    d.set_value(dft::config_param::FWD_DISTANCE, std::int64_t{64 * 61});
    d.set_value(dft::config_param::BWD_DISTANCE, std::int64_t{64 * 31});
    {
        ovxplat::scoped_gpu_profile low("quen6_lowmem");
        ASSERT_TRUE(low.ok());
        sycl::queue lq{sycl::gpu_selector_v};
        const auto before = ovxplat::get_sycl_counters();
        EXPECT_THROW(d.commit(lq), korami::ovx::unimplemented);
        lq.wait();
        const auto after = ovxplat::get_sycl_counters();
        EXPECT_EQ(after.usm_live_allocations, before.usm_live_allocations);
        EXPECT_EQ(after.buffers_live, before.buffers_live);
        dft::config_value status;
        d.get_value(dft::config_param::COMMIT_STATUS, &status);
        EXPECT_EQ(status, dft::config_value::UNCOMMITTED);
    }
    ovxplat::scoped_gpu_profile prof("quen5");
    sycl::queue q{sycl::gpu_selector_v};
    d.commit(q);
    constexpr std::size_t rn = 64 * 61, cn = 2 * 64 * 31;
    double* m = sycl::malloc_shared<double>(2 * rn + cn, q);
    const auto x = gpu_test::random_real(rn, 4u);
    std::copy(x.begin(), x.end(), m);
    d.set_value(dft::config_param::BACKWARD_SCALE, 1.0 / rn);
    d.commit(q);
    dft::compute_forward(d, m, m + rn).wait();
    dft::compute_backward(d, m + rn, m + rn + cn).wait();
    EXPECT_LT(max_diff(m, m + rn + cn, rn), 1e-12);
    sycl::free(m, q);
}

}  // namespace
