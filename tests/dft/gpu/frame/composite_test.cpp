// The composite layer of the GPU 1D frame (a module of the test's own made of
// two complex sub-nodes, and the library's real backend), and the frame's
// workspace binding: a failed binding leaves the node unbound, and the
// library-held areas outlive the queues of queue mode 2.
#include <gtest/gtest.h>

#include <complex>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <type_traits>
#include <vector>

#include <korami/ovx/dft.hpp>
#include <ovxplat/profile.h>
#include <ovxplat/sycl_standin.hpp>
#include <sycl/sycl.hpp>

#include "ovx_test_gpu.hpp"
#include "dft/gpu/frame/frame.hpp"
#include "dft/gpu/gpu_harness.hpp"
#include "dft/node/ovx_dft_node.hpp"

namespace dft = korami::ovx::dft;
using namespace korami::ovx::dft::gpufw;
using gpu_test::cplx;

namespace {

const bool g_profile = ovxplat_gpu_profile_select("quen5") == 0;

using ovx_test::gpu_queue;

// ---- a composite of the test's own --------------------------------------------------

// Probe records for the sub-node lists: one accepts (and counts its frees),
// the others refuse with their status.
int g_probe_frees = 0;
int probe_accept(const bkd_ops* self, DFTI_DESCRIPTOR* n) {
    n->bkd = self;
    return 0;
}
int probe_free(const bkd_ops*, DFTI_DESCRIPTOR*) { return ++g_probe_frees, 0; }
int probe_refuse6(const bkd_ops*, DFTI_DESCRIPTOR*) { return DFTI_STATUS_UNIMPLEMENTED; }
int probe_refuse1(const bkd_ops*, DFTI_DESCRIPTOR*) { return DFTI_STATUS_ALLOCATION_FAILED; }
int probe_bind(void*, int, std::uint64_t, DFTI_DESCRIPTOR*, std::uint32_t, std::vector<sycl::event>*) { return 0; }
const bkd_ops probe_ok = {&probe_accept, &probe_free, &probe_bind};
const bkd_ops probe_6 = {&probe_refuse6, &probe_free, &probe_bind};
const bkd_ops probe_1 = {&probe_refuse1, &probe_free, &probe_bind};
const bkd_ops* const list_ok[] = {&probe_ok, nullptr};
const bkd_ops* const list_6[] = {&probe_6, nullptr};
const bkd_ops* const list_1[] = {&probe_1, nullptr};
// A record that only answers estimates: 777 bytes for any node.
std::int64_t probe_estimate(const bkd_ops*, const DFTI_DESCRIPTOR*, const sycl::queue*) { return 777; }
const bkd_ops probe_est = {&probe_refuse6, &probe_free, &probe_bind, &probe_estimate};
const bkd_ops* const list_est[] = {&probe_est, nullptr};

// Lists of the two rows; null takes the ordinary complex list.
bkdlist g_lists[3] = {nullptr, nullptr, nullptr};

// Forward: y = DFT(x) out of place by sub-node 0, then y = DFT(y) / 2 in
// place by sub-node 1, so y[k] = N/2 x[-k mod N]. Backward likewise with the
// inverse transforms. The second sub-node's scale makes its tables differ
// from the first's, so that overlapping table areas would show.
struct chain_module {
    using real = double;
    struct block : frame_block<double, 1> {
        sub_node_table<3> subs;
    };
    static constexpr bool composite = true;

    static int test(const DFTI_DESCRIPTOR* node) {
        return common_1d_c2c_test(node, [](std::int64_t n) { return n >= 2 && n <= 4096; });
    }
    static int plan(DFTI_DESCRIPTOR* node, block* b) {
        const std::int64_t n = node->working_dims.records[0].length;
        auto row = [n](const char* name, bool in_place, double scale, bkdlist list) {
            return sub_node_row{name, complex_1d_creator(false, n),
                                [=](DFTI_DESCRIPTOR* s) {
                                    s->placement = in_place ? DFTI_INPLACE : DFTI_NOT_INPLACE;
                                    s->forward_scale = s->backward_scale = scale;
                                },
                                list, 2};
        };
        const sub_node_row rows[3] = {row("T|first", false, 1.0, g_lists[0]), row("T|second", true, 0.5, g_lists[1]),
                                      row("T|third", true, 1.0, g_lists[2])};
        const int st = b->subs.make(node, rows, g_lists[2] ? 3 : 2);
        if (st != 0) return st;
        b->areas.sub_node_tables();
        return 0;
    }
    static int build_kernels(DFTI_DESCRIPTOR*, block*) { return 0; }
    static bool direction_ready(const block*, int) { return true; }
    static int launch(DFTI_DESCRIPTOR*, block* b, const launch_args& a) {
        std::vector<sycl::event> first;
        if (a.deps) first = *a.deps;
        if (a.after) first.push_back(*a.after);
        const dfti_data_kind kind{a.buffers ? 1u : 2u};
        sycl::event e0;
        int st = b->subs.run(b->subs[0], a.direction, a.in, a.out, first, a.buffers, &kind, e0);
        if (st == 0) st = b->subs.run(b->subs[1], a.direction, a.out, a.out, {e0}, a.buffers, &kind, *a.result);
        return st;
    }
};

using chain_frame = frame<chain_module>;
const bkd_ops chain_ops = {&chain_frame::commit, &chain_frame::free, &chain_frame::add_workspace};

chain_module::block* block_of(DFTI_DESCRIPTOR* node) { return static_cast<chain_module::block*>(node->bkd_data); }

class Composite : public ::testing::Test {
protected:
    void SetUp() override {
        OVX_REQUIRE_GPU(g_profile);
        g_lists[0] = g_lists[1] = g_lists[2] = nullptr;
        g_probe_frees = 0;
        gpu_test::simple_layout l;
        l.n = n;
        l.internal_workspace = false;
        node = gpu_test::make_node(l, &gpu_queue(), nullptr);
        node->detach_backend = detach_backend;
        ASSERT_EQ(dfti_normalize_node(node.get()), 0);
    }
    // Computes direction `dir` of x (USM) and compares with N/2 x[-k].
    ::testing::AssertionResult chain_matches(int dir) {
        const std::vector<std::complex<double>> x = gpu_test::random_data<double>(n, 5u + dir);
        std::vector<std::complex<double>> zero(n);
        int st = 0;
        const auto got = gpu_test::compute_host(node.get(), gpu_queue(), dir, true, false, x, zero, st);
        if (st != 0) return ::testing::AssertionFailure() << "status " << st;
        std::vector<cplx> ref(n);
        for (std::int64_t k = 0; k < n; ++k) ref[k] = 0.5 * n * cplx(x[(n - k) % n].real(), x[(n - k) % n].imag());
        const double err = gpu_test::rel_error(got, ref);
        if (err <= gpu_test::tolerance<double>()) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "error " << err;
    }
    const std::int64_t n = 48;
    gpu_test::node_ptr node;
};

TEST_F(Composite, SubNodesShareOneWorkspaceAndRunInOrder) {
    ASSERT_EQ(chain_ops.commit(&chain_ops, node.get()), 0);
    const auto& subs = block_of(node.get())->subs;
    ASSERT_EQ(subs.count, 2);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(subs[i]->is_sub_node, 1);
        EXPECT_EQ(subs[i]->internal_workspace, 0u);
        EXPECT_EQ(subs[i]->commit_status, DFTI_COMMITTED);
    }
    EXPECT_EQ(std::string(subs[1]->name, 8), "T|second");
    const std::uint64_t bytes = node->twiddle_workspace_bytes + node->scratch_workspace_bytes;
    ASSERT_GT(node->twiddle_workspace_bytes, 0u);
    EXPECT_EQ(gpu_test::compute_usm(node.get(), 0, nullptr, nullptr), DFTI_STATUS_NO_WORKSPACE);
    void* ws = sycl::malloc_device(bytes, gpu_queue());
    ASSERT_EQ(gpu_dfti_set_workspace(node.get(), ws, DFTI_CONTAINER_USM), 0);
    EXPECT_TRUE(chain_matches(0));
    EXPECT_TRUE(chain_matches(1));
    sycl::buffer<char, 1> wb{sycl::range<1>(bytes)};
    ASSERT_EQ(gpu_dfti_set_workspace(node.get(), &wb, DFTI_CONTAINER_BUFFER), 0);
    sycl::free(ws, gpu_queue());
    EXPECT_TRUE(chain_matches(0));
    // Queue mode 2: the sub-nodes take the queue of the compute.
    sycl::queue other(gpu_queue().get_context(), gpu_queue().get_device());
    node->queue_mode = 2;
    node->queue = &other;
    EXPECT_TRUE(chain_matches(1));
    for (int i = 0; i < 2; ++i) EXPECT_EQ(subs[i]->queue, &other);
    node->queue = &gpu_queue();
}

TEST_F(Composite, UncommittedSubNodeRefusesItsDirectionBeforeSubmitting) {
    ASSERT_EQ(chain_ops.commit(&chain_ops, node.get()), 0);
    void* ws = sycl::malloc_device(node->twiddle_workspace_bytes + node->scratch_workspace_bytes, gpu_queue());
    ASSERT_EQ(gpu_dfti_set_workspace(node.get(), ws, DFTI_CONTAINER_USM), 0);
    detach_backend(block_of(node.get())->subs[1]);
    const std::uint64_t before = ovxplat::get_sycl_counters().commands_submitted;
    for (int dir = 0; dir < 2; ++dir)
        EXPECT_EQ(gpu_test::compute_usm(node.get(), dir, ws, ws), DFTI_STATUS_BAD_DESCRIPTOR) << "dir " << dir;
    EXPECT_EQ(ovxplat::get_sycl_counters().commands_submitted, before);
    node.reset();
    sycl::free(ws, gpu_queue());
}

// A buffer workspace that holds the first sub-node's tables but not the
// second's: the binding fails, and the node and its sub-nodes stay unbound,
// so that a compute is refused before any sub-node submits work.
TEST_F(Composite, FailedBindingLeavesEverySubNodeUnbound) {
    ASSERT_EQ(chain_ops.commit(&chain_ops, node.get()), 0);
    const std::uint64_t first = block_of(node.get())->subs[0]->twiddle_workspace_bytes;
    ASSERT_GT(first, 0u);
    sycl::buffer<char, 1> short_ws{sycl::range<1>(first + 8)};
    try {
        EXPECT_NE(gpu_dfti_set_workspace(node.get(), &short_ws, DFTI_CONTAINER_BUFFER), 0);
    } catch (const sycl::exception&) {
    }
    auto* data = sycl::malloc_shared<std::complex<double>>(static_cast<std::size_t>(2 * n), gpu_queue());
    const std::uint64_t before = ovxplat::get_sycl_counters().commands_submitted;
    EXPECT_EQ(gpu_test::compute_usm(node.get(), 0, data, data + n), DFTI_STATUS_NO_WORKSPACE);
    EXPECT_EQ(ovxplat::get_sycl_counters().commands_submitted, before);
    sycl::free(data, gpu_queue());
}

// The estimate of a composite: each row's node is asked through its list
// (the ordinary complex list, or the row's own) and nothing is committed,
// allocated or submitted; the needs add up and cover the committed need.
TEST_F(Composite, EstimateAddsTheRowsNeedsWithoutCommitting) {
    auto row_need = [this](bool in_place, double scale) {
        DFTI_DESCRIPTOR* s = nullptr;
        EXPECT_EQ(gpu_dfti_create_dc1d(&s, n, nullptr), 0);
        gpu_test::node_ptr row(s);
        row->directions = node->directions;
        row->placement = in_place ? DFTI_INPLACE : DFTI_NOT_INPLACE;
        row->forward_scale = row->backward_scale = scale;
        EXPECT_EQ(dfti_normalize_node(row.get()), 0);
        return dft_estimate_workspace_bytes<double>(dft_workspace_problem{row.get(), &gpu_queue()});
    };
    const std::int64_t first = row_need(false, 1.0), second = row_need(true, 0.5);
    ASSERT_GT(first, 0);
    ASSERT_GT(second, 0);
    const std::uint64_t before = ovxplat::get_sycl_counters().commands_submitted;
    const std::int64_t estimate = chain_frame::estimate(&chain_ops, node.get(), &gpu_queue());
    EXPECT_EQ(estimate, first + second);
    g_lists[1] = list_est;
    EXPECT_EQ(chain_frame::estimate(&chain_ops, node.get(), &gpu_queue()), first + 777);
    EXPECT_EQ(g_probe_frees, 0);
    EXPECT_EQ(node->bkd_data, nullptr);
    EXPECT_EQ(ovxplat::get_sycl_counters().commands_submitted, before);
    g_lists[1] = nullptr;
    ASSERT_EQ(chain_ops.commit(&chain_ops, node.get()), 0);
    EXPECT_GE(estimate, static_cast<std::int64_t>(node->twiddle_workspace_bytes + node->scratch_workspace_bytes));
}

// A module of three routes: route r needs g_route_bytes[r] bytes of
// scratch, or refuses the node when that is negative.
std::int64_t g_route_bytes[3] = {};
struct routes_module {
    using real = double;
    using block = frame_block<double, 1>;
    static constexpr int estimate_routes = 3;
    static int test(const DFTI_DESCRIPTOR*) { return 0; }
    static int plan(DFTI_DESCRIPTOR*, block* b) {
        const std::int64_t bytes = g_route_bytes[b->estimate_route];
        if (bytes < 0) return DFTI_STATUS_NOT_APPLICABLE;
        return b->areas.scratch("route", static_cast<std::uint64_t>(bytes)) < 0 ? DFTI_STATUS_INTERNAL : 0;
    }
    static int build_kernels(DFTI_DESCRIPTOR*, block*) { return 0; }
    static bool direction_ready(const block*, int) { return true; }
    static int launch(DFTI_DESCRIPTOR*, block*, const launch_args&) { return 0; }
};

struct routes_case {
    const char* name;
    std::int64_t bytes[3];
    std::int64_t estimate;  // the largest need of the routes the plan takes, -1 when it takes none
};
void PrintTo(const routes_case& c, std::ostream* os) { *os << c.name; }

class EstimateRoutes : public Composite, public ::testing::WithParamInterface<routes_case> {};

TEST_P(EstimateRoutes, LargestNeedOfTheRoutesTaken) {
    const routes_case& c = GetParam();
    for (int r = 0; r < 3; ++r) g_route_bytes[r] = c.bytes[r];
    EXPECT_EQ(frame<routes_module>::estimate(nullptr, node.get(), &gpu_queue()), c.estimate);
    EXPECT_EQ(frame<routes_module>::estimate(nullptr, node.get(), nullptr), c.estimate);
}

INSTANTIATE_TEST_SUITE_P(Routes, EstimateRoutes,
                         ::testing::Values(routes_case{"LastLargest", {100, 200, 300}, 300},
                                           routes_case{"FirstLargest", {300, 200, 100}, 300},
                                           routes_case{"LargestRefused", {100, -1, 50}, 100},
                                           routes_case{"OnlyOneTaken", {-1, -1, 7}, 7},
                                           routes_case{"NoneTaken", {-1, -1, -1}, -1}),
                         [](const ::testing::TestParamInfo<routes_case>& i) { return std::string(i.param.name); });

// A module whose plan lays two parts out in one of several ways each (the
// first part's layouts g_layouts, the second one layout of one row needing
// 40 bytes): an estimate keeps, per part, the layout of the largest need,
// each row that needs a workspace weighed with its alignment margin. A row's
// need is what a record answers for its node: the length less 2; a need of
// -1 stands for a row whose node cannot be made.
std::vector<std::vector<std::int64_t>> g_layouts;
std::int64_t length_less_two(const bkd_ops*, const DFTI_DESCRIPTOR* s, const sycl::queue*) {
    return s->working_dims.records[0].length - 2;
}
const bkd_ops probe_length = {&probe_refuse6, &probe_free, &probe_bind, &length_less_two};
const bkd_ops* const list_length[] = {&probe_length, nullptr};

struct layouts_module {
    using real = double;
    struct block : frame_block<double, 1> {
        sub_node_table<4> subs;
    };
    static constexpr bool composite = true;
    static int test(const DFTI_DESCRIPTOR*) { return 0; }
    static std::vector<sub_node_row> rows_of(const std::vector<std::int64_t>& needs) {
        std::vector<sub_node_row> rows;
        for (std::int64_t need : needs) {
            std::function<int(DFTI_DESCRIPTOR**)> create = complex_1d_creator(false, need + 2);
            if (need < 0) create = [](DFTI_DESCRIPTOR**) { return static_cast<int>(DFTI_STATUS_ALLOCATION_FAILED); };
            rows.push_back(sub_node_row{"L", create, {}, list_length, 2});
        }
        return rows;
    }
    static int plan(DFTI_DESCRIPTOR* node, block* b) {
        const std::uint64_t margin = frame_align(b, 1);
        int st = b->subs.largest_of_layouts(
            node, static_cast<int>(g_layouts.size()), [](int v) { return rows_of(g_layouts[v]); }, margin);
        if (st == 0) st = b->subs.largest_of_layouts(node, 1, [](int) { return rows_of({40}); }, margin);
        if (st != 0) return st;
        b->areas.sub_node_tables();
        return list_alignment_margins(b, 0);
    }
    static int build_kernels(DFTI_DESCRIPTOR*, block*) { return 0; }
    static bool direction_ready(const block*, int) { return true; }
    static int launch(DFTI_DESCRIPTOR*, block*, const launch_args&) { return 0; }
};

struct layouts_case {
    const char* name;
    std::vector<std::vector<std::int64_t>> layouts;
    std::int64_t estimate;  // before the device is known: alignment margins of 128 bytes
};
void PrintTo(const layouts_case& c, std::ostream* os) { *os << c.name; }

class EstimateLayouts : public Composite, public ::testing::WithParamInterface<layouts_case> {};

TEST_P(EstimateLayouts, EachPartKeepsItsLargestLayout) {
    g_layouts = GetParam().layouts;
    EXPECT_EQ(frame<layouts_module>::estimate(nullptr, node.get(), nullptr), GetParam().estimate);
    EXPECT_EQ(g_probe_frees, 0);
}

// The second part adds 40 + 128 bytes to every figure.
INSTANTIATE_TEST_SUITE_P(Layouts, EstimateLayouts,
                         ::testing::Values(layouts_case{"FirstLargest", {{100, 50}, {10, 10}}, 100 + 50 + 2 * 128 + 168},
                                           layouts_case{"MarginsDecide", {{300, 0}, {150, 100}}, 150 + 100 + 2 * 128 + 168},
                                           layouts_case{"LastLargest", {{10}, {20}, {30, 1}}, 30 + 1 + 2 * 128 + 168},
                                           layouts_case{"NoNeed", {{0, 0}, {0}}, 168},
                                           layouts_case{"UnmadeRowRefuses", {{10}, {-1}}, -1}),
                         [](const ::testing::TestParamInfo<layouts_case>& i) { return std::string(i.param.name); });

struct failing_rows {
    const char* name;
    bkdlist lists[3];
    int status;      // the commit's answer: the first failing row's
    int made_frees;  // sub-nodes made before the failure, destroyed with it
};

void PrintTo(const failing_rows& c, std::ostream* os) { *os << c.name; }

class CompositeFailure : public Composite, public ::testing::WithParamInterface<failing_rows> {};

TEST_P(CompositeFailure, FirstFailingStatusAndNothingLeft) {
    const failing_rows& c = GetParam();
    for (int i = 0; i < 3; ++i) g_lists[i] = c.lists[i];
    EXPECT_EQ(chain_ops.commit(&chain_ops, node.get()), c.status);
    EXPECT_EQ(node->bkd_data, nullptr);
    EXPECT_EQ(g_probe_frees, c.made_frees);
}

INSTANTIATE_TEST_SUITE_P(Rows, CompositeFailure,
                         ::testing::Values(failing_rows{"first_row", {list_6, list_1, list_1}, 6, 0},
                                           failing_rows{"second_row", {list_ok, list_6, list_1}, 6, 1},
                                           failing_rows{"third_row", {list_ok, list_ok, list_1}, 1, 2}),
                         [](const auto& i) { return std::string(i.param.name); });

// ---- binding through the public API ---------------------------------------------------

// A workspace buffer too short for the first area leaves the descriptor
// unbound: compute raises no_workspace_exception, and a right-sized
// workspace bound afterwards computes right.
template <dft::precision P, dft::domain D>
void short_buffer_then_bound() {
    using R = std::conditional_t<P == dft::precision::SINGLE, float, double>;
    using In = std::conditional_t<D == dft::domain::REAL, R, std::complex<R>>;
    constexpr std::int64_t n = 64;
    const std::size_t nout = D == dft::domain::REAL ? n / 2 + 1 : n;
    sycl::queue& q = gpu_queue();
    dft::descriptor<P, D> desc(n);
    desc.set_value(dft::config_param::PLACEMENT, dft::config_value::NOT_INPLACE);
    desc.set_value(dft::config_param::WORKSPACE_PLACEMENT, dft::config_value::WORKSPACE_EXTERNAL);
    desc.commit(q);
    std::int64_t bytes = 0;
    desc.get_value(dft::config_param::WORKSPACE_EXTERNAL_BYTES, &bytes);
    ASSERT_GT(bytes, 8);
    In* in = sycl::malloc_shared<In>(n, q);
    auto* out = sycl::malloc_shared<std::complex<R>>(nout, q);
    const auto x = gpu_test::random_data<R>(n, 11u);
    std::vector<cplx> xc(n);
    for (std::int64_t i = 0; i < n; ++i) {
        if constexpr (std::is_same_v<In, R>) {
            in[i] = x[i].real();
            xc[i] = x[i].real();
        } else {
            in[i] = x[i];
            xc[i] = cplx(x[i].real(), x[i].imag());
        }
    }
    sycl::buffer<R, 1> short_ws{sycl::range<1>(8 / sizeof(R))};
    try {
        desc.set_workspace(short_ws);
    } catch (const std::exception&) {
    }
    EXPECT_THROW(dft::compute_forward(desc, in, out).wait(), dft::no_workspace_exception);
    sycl::buffer<R, 1> ws{sycl::range<1>(static_cast<std::size_t>(bytes) / sizeof(R))};
    desc.set_workspace(ws);
    dft::compute_forward(desc, in, out).wait();
    std::vector<cplx> ref = gpu_test::dft(xc, 0, 1.0);
    ref.resize(nout);
    EXPECT_LE(gpu_test::rel_error(std::vector<std::complex<R>>(out, out + nout), ref), gpu_test::tolerance<R>());
    sycl::free(in, q);
    sycl::free(out, q);
}

TEST(ShortWorkspace, ComplexSingleLeavesTheDescriptorUnbound) {
    OVX_REQUIRE_GPU(g_profile);
    short_buffer_then_bound<dft::precision::SINGLE, dft::domain::COMPLEX>();
}

TEST(ShortWorkspace, RealDoubleLeavesTheDescriptorUnbound) {
    OVX_REQUIRE_GPU(g_profile);
    short_buffer_then_bound<dft::precision::DOUBLE, dft::domain::REAL>();
}

// ---- library-held areas and queue mode 2 -----------------------------------------------

class QueueModeTwo : public ::testing::TestWithParam<bool> {};

// The library's areas, allocated on the commit queue, are freed in their own
// context after the compute queue (another context) is gone, and none stays.
TEST_P(QueueModeTwo, HeldAreasOutliveTheComputeQueue) {
    OVX_REQUIRE_GPU(g_profile);
    const std::uint64_t live = ovxplat::get_sycl_counters().usm_live_allocations;
    gpu_test::simple_layout l;
    l.n = 64;
    l.real = GetParam();
    l.queue_mode = 2;
    gpu_test::node_ptr node =
        gpu_test::make_node(l, &gpu_queue(), gpu_dfti_select_bkdlist(DFTI_DOUBLE, l.real ? DFTI_REAL : DFTI_COMPLEX, 1));
    ASSERT_EQ(gpu_test::commit(node.get()), 0);
    ASSERT_GT(node->twiddle_workspace_bytes + node->scratch_workspace_bytes, 0u);
    auto other = std::make_unique<sycl::queue>(sycl::context(gpu_queue().get_device()), gpu_queue().get_device());
    node->queue = other.get();
    const std::vector<std::complex<double>> x = gpu_test::random_data<double>(64, 3u);
    std::vector<std::complex<double>> in = x, out(64);
    std::vector<cplx> ref = gpu_test::dft(gpu_test::widen(x), 0, 1.0);
    if (l.real) {
        // 64 real inputs packed into 32 complex slots; 33 complex outputs.
        std::vector<double> xr(64);
        for (int i = 0; i < 64; ++i) xr[i] = x[i].real();
        ref = gpu_test::dft_r2c(xr, 1.0);
        in.resize(32);
        for (int i = 0; i < 32; ++i) in[i] = {xr[2 * i], xr[2 * i + 1]};
        out.resize(33);
    }
    int st = 0;
    const auto got = gpu_test::compute_host(node.get(), *other, 0, true, false, in, out, st);
    ASSERT_EQ(st, 0);
    EXPECT_LE(gpu_test::rel_error(got, ref), gpu_test::tolerance<double>());
    node->queue = &gpu_queue();
    other.reset();
    node.reset();
    EXPECT_EQ(ovxplat::get_sycl_counters().usm_live_allocations, live);
}

INSTANTIATE_TEST_SUITE_P(Backends, QueueModeTwo, ::testing::Bool(),
                         [](const auto& i) { return std::string(i.param ? "real" : "complex"); });

}  // namespace
