// The 1D backend frame with a small module of its own: table placement and
// the table command groups (library-held, caller USM and caller buffer
// workspaces), direction handling, status paths, failures during planning and
// kernel building, the common applicability test and data_array_count.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

#include <ovxplat/profile.h>
#include <ovxplat/sycl_standin.hpp>
#include <sycl/sycl.hpp>

#include "dft/gpu/frame/frame.hpp"
#include "dft/node/ovx_dft_node.hpp"
#include "ovx_test_gpu.hpp"

using namespace korami::ovx::dft::gpufw;

namespace {

bool g_fail_build = false;
bool g_throw_in_plan = false;
bool g_throw_in_writer = false;  // the backward table's writer throws
// The scratch area table_module lists, and how: its bytes, whether the plan
// asks for a rounded second region, and whether it is a data area.
std::uint64_t g_scratch_bytes = 64;
bool g_round_scratch = false;
bool g_scratch_is_data = false;

// A module whose "transform" copies its direction's table to the output:
// table element k of direction d holds (d + 1) * scale_d * k.
template <class Real>
struct table_module {
    using real = Real;
    struct block : frame_block<Real, 2> {
        std::int64_t n;
        bool ready[2];
        int table[2];  // area slots of the two tables
        int scratch;   // area slot of the scratch
    };

    static int test(const DFTI_DESCRIPTOR* node) {
        return common_1d_c2c_test(node, [](std::int64_t n) { return n >= 2 && n <= 4096; });
    }
    static int plan(DFTI_DESCRIPTOR* node, block* b) {
        if (g_throw_in_plan) throw std::runtime_error("planning failed");
        b->n = node->working_dims.records[0].length;
        for (int dir = 0; dir < 2; ++dir)
            b->table[dir] = b->areas.table("table", static_cast<std::uint64_t>(b->n) * sizeof(Real), dir,
                                           [b, dir](const area_target& t, std::vector<sycl::event>& done) {
                                               if (dir == 1 && g_throw_in_writer)
                                                   throw sycl::exception(sycl::make_error_code(sycl::errc::runtime),
                                                                         "table submit failed");
                                               done.push_back(write_table(b, dir, t.kind, t.usm, t.buf));
                                               return 0;
                                           });
        b->scratch = b->areas.scratch("scratch", g_scratch_bytes, region::scratch, g_scratch_is_data);
        if (g_round_scratch) b->areas.round_scratch();
        return 0;
    }
    static int build_kernels(DFTI_DESCRIPTOR*, block* b) {
        if (g_fail_build) return DFTI_STATUS_INTERNAL;
        for (int dir = 0; dir < 2; ++dir) b->ready[dir] = direction_built(b->directions, dir);
        return 0;
    }
    static bool direction_ready(const block* b, int dir) { return b->ready[dir]; }
    static sycl::event write_table(block* b, int dir, int kind, void* usm, sycl::buffer<char, 1>* buf) {
        const Real v = static_cast<Real>(dir + 1) * b->scale[dir];
        const std::size_t n = static_cast<std::size_t>(b->n);
        if (kind == DFTI_CONTAINER_USM) {
            Real* t = static_cast<Real*>(usm);
            return b->queue->parallel_for(sycl::range<1>(n), [=](sycl::id<1> k) { t[k] = v * static_cast<Real>(k[0]); });
        }
        return b->queue->submit([&](sycl::handler& h) {
            sycl::accessor<char, 1, sycl::access_mode::read_write> acc(*buf, h);
            h.parallel_for(sycl::range<1>(n), [=](sycl::id<1> k) {
                Real x = v * static_cast<Real>(k[0]);
                std::memcpy(&acc[k[0] * sizeof(Real)], &x, sizeof(Real));
            });
        });
    }
    static int launch(DFTI_DESCRIPTOR*, block* b, const launch_args& a) {
        Real* out = static_cast<Real*>(a.out);
        const std::size_t n = static_cast<std::size_t>(b->n);
        sycl::event e;
        void* table = b->areas.arg(b->table[a.direction], a.usm_ws);
        if (a.table_kind == DFTI_CONTAINER_USM) {
            const Real* t = static_cast<const Real*>(table);
            e = b->queue->submit([&](sycl::handler& h) {
                frame_order_first(h, a, {b->areas.written(b->table[a.direction])});
                h.parallel_for(sycl::range<1>(n), [=](sycl::id<1> k) { out[k] = t[k]; });
            });
        } else {
            auto* buf = static_cast<sycl::buffer<char, 1>*>(table);
            e = b->queue->submit([&](sycl::handler& h) {
                if (a.after) h.depends_on(*a.after);
                sycl::accessor<char, 1, sycl::access_mode::read> acc(*buf, h);
                h.parallel_for(sycl::range<1>(n), [=](sycl::id<1> k) {
                    Real x;
                    std::memcpy(&x, &acc[k[0] * sizeof(Real)], sizeof(Real));
                    out[k] = x;
                });
            });
        }
        if (a.result) *a.result = e;
        return 0;
    }
};

using frame_dbl = frame<table_module<double>>;
const bkd_ops table_ops = {&frame_dbl::commit, &frame_dbl::free, &frame_dbl::add_workspace};

const bool g_profile = ovxplat_gpu_profile_select("quen5") == 0;  // before the queue's first use
using ovx_test::gpu_queue;

struct frame_node {
    DFTI_DESCRIPTOR* node = nullptr;
    explicit frame_node(std::int64_t n) {
        EXPECT_EQ(gpu_dfti_create_dc1d(&node, n, nullptr), 0);
        node->queue = &gpu_queue();
        node->placement = DFTI_NOT_INPLACE;
        node->forward_scale = 0.5;
        node->backward_scale = 0.25;
        node->detach_backend = detach_backend;
        EXPECT_EQ(dfti_normalize_node(node), 0);
    }
    ~frame_node() {
        if (node) gpu_dfti_destroy(node);
    }
};

// Runs a compute and checks the output against the direction's table.
void expect_table(DFTI_DESCRIPTOR* node, int dir, double scale) {
    const std::int64_t n = node->working_dims.records[0].length;
    double* out = sycl::malloc_shared<double>(static_cast<std::size_t>(n), gpu_queue());
    dfti_data_kind usm{DFTI_CONTAINER_USM};
    sycl::event e;
    dfti_compute_fn fn = dir == 0 ? node->compute_fwd : node->compute_bwd;
    ASSERT_EQ(fn(node, out, out, nullptr, &usm, &e), 0);
    e.wait();
    for (std::int64_t k = 0; k < n; ++k) EXPECT_DOUBLE_EQ(out[k], (dir + 1) * scale * k) << "k=" << k;
    sycl::free(out, gpu_queue());
}

std::uint64_t aligned(std::uint64_t bytes) { return align_workspace_offset(bytes, &gpu_queue()); }

class Frame : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(g_profile);
        g_fail_build = false;
        g_throw_in_plan = false;
        g_throw_in_writer = false;
        g_scratch_bytes = 64;
        g_round_scratch = false;
        g_scratch_is_data = false;
    }
    void TearDown() override { SetUp(); }
};

TEST_F(Frame, LibraryHeldWorkspaceWritesTablesAtCommit) {
    frame_node f(7);
    ASSERT_EQ(table_ops.commit(&table_ops, f.node), 0);
    EXPECT_EQ(f.node->bkd, &table_ops);
    EXPECT_EQ(f.node->commit_status, DFTI_COMMITTED);
    EXPECT_EQ(f.node->data_array_count, 2);
    EXPECT_EQ(f.node->threads_in_use, 1);
    EXPECT_EQ(f.node->twiddle_workspace_bytes, 2 * aligned(7 * 8));
    EXPECT_EQ(f.node->scratch_workspace_bytes, 64u);
    expect_table(f.node, 0, 0.5);
    expect_table(f.node, 1, 0.25);
}

// The second region is the scratch area as listed unless the plan asks for
// it to be rounded to the workspace alignment.
TEST_F(Frame, ScratchRegionRoundedOnlyWhenThePlanAsks) {
    g_scratch_bytes = 100;
    for (bool round : {false, true}) {
        frame_node f(7);
        g_round_scratch = round;
        ASSERT_EQ(table_ops.commit(&table_ops, f.node), 0);
        EXPECT_EQ(f.node->scratch_workspace_bytes, round ? aligned(100) : 100u) << "rounded " << round;
        EXPECT_EQ(f.node->twiddle_workspace_bytes, 2 * aligned(7 * 8));
        expect_table(f.node, 0, 0.5);
    }
}

// A data area has a buffer of the library's own beside its USM address when
// the library holds the workspace, so that buffer data can pass through it;
// with a caller's workspace it is that workspace's area only.
TEST_F(Frame, DataAreaTakesALibraryBufferWithTheLibraryWorkspace) {
    g_scratch_is_data = true;
    frame_node held(7);
    ASSERT_EQ(table_ops.commit(&table_ops, held.node), 0);
    auto* b = static_cast<table_module<double>::block*>(held.node->bkd_data);
    ASSERT_NE(b->areas.data_of(b->scratch, false), nullptr);
    auto* own = static_cast<sycl::buffer<char, 1>*>(b->areas.data_of(b->scratch, true));
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(own->size(), 64u);
    frame_node caller(7);
    caller.node->internal_workspace = 0;
    ASSERT_EQ(table_ops.commit(&table_ops, caller.node), 0);
    const std::uint64_t bytes = caller.node->twiddle_workspace_bytes + caller.node->scratch_workspace_bytes;
    void* ws = sycl::malloc_device(bytes, gpu_queue());
    ASSERT_EQ(gpu_dfti_set_workspace(caller.node, ws, DFTI_CONTAINER_USM), 0);
    b = static_cast<table_module<double>::block*>(caller.node->bkd_data);
    EXPECT_EQ(b->areas.data_of(b->scratch, false), static_cast<char*>(ws) + caller.node->twiddle_workspace_bytes);
    EXPECT_EQ(b->areas.data_of(b->scratch, true), nullptr);
    table_ops.free(&table_ops, caller.node);
    sycl::free(ws, gpu_queue());
}

TEST_F(Frame, OneDirectionBuildsOneTable) {
    frame_node f(9);
    f.node->directions = 1;
    ASSERT_EQ(table_ops.commit(&table_ops, f.node), 0);
    EXPECT_EQ(f.node->twiddle_workspace_bytes, aligned(9 * 8));
    expect_table(f.node, 1, 0.25);
    dfti_data_kind usm{DFTI_CONTAINER_USM};
    EXPECT_EQ(f.node->compute_fwd(f.node, nullptr, nullptr, nullptr, &usm, nullptr), DFTI_STATUS_BAD_DESCRIPTOR);
}

TEST_F(Frame, CallerWorkspaceUsmAndBuffer) {
    frame_node f(5);
    f.node->internal_workspace = 0;
    ASSERT_EQ(table_ops.commit(&table_ops, f.node), 0);
    dfti_data_kind usm{DFTI_CONTAINER_USM};
    double out[5];
    EXPECT_EQ(f.node->compute_fwd(f.node, out, out, nullptr, &usm, nullptr), DFTI_STATUS_NO_WORKSPACE);
    const std::uint64_t bytes = f.node->twiddle_workspace_bytes + f.node->scratch_workspace_bytes;
    void* ws = sycl::malloc_device(bytes, gpu_queue());
    ASSERT_EQ(gpu_dfti_set_workspace(f.node, ws, DFTI_CONTAINER_USM), 0);
    EXPECT_EQ(f.node->internal_workspace, 0u);
    expect_table(f.node, 0, 0.5);
    expect_table(f.node, 1, 0.25);
    // A buffer workspace replaces it: tables as sub-buffers at aligned offsets.
    sycl::buffer<char, 1> wb(sycl::range<1>(static_cast<std::size_t>(bytes)));
    ASSERT_EQ(gpu_dfti_set_workspace(f.node, &wb, DFTI_CONTAINER_BUFFER), 0);
    expect_table(f.node, 0, 0.5);
    expect_table(f.node, 1, 0.25);
    // add_workspace collects the table events when asked.
    std::vector<sycl::event> events;
    ASSERT_EQ(table_ops.add_workspace(ws, DFTI_CONTAINER_USM, 0, f.node, DFTI_WS_BOTH, &events), 0);
    EXPECT_EQ(events.size(), 2u);
    expect_table(f.node, 1, 0.25);
    // Binding only a new scratch region keeps the tables.
    ASSERT_EQ(table_ops.add_workspace(ws, DFTI_CONTAINER_USM, f.node->twiddle_workspace_bytes, f.node, DFTI_WS_SCRATCH,
                                      nullptr),
              0);
    expect_table(f.node, 0, 0.5);
    table_ops.free(&table_ops, f.node);
    sycl::free(ws, gpu_queue());
}

TEST_F(Frame, FailedKernelBuildLeavesNothingBehind) {
    frame_node f(7);
    g_fail_build = true;
    EXPECT_EQ(table_ops.commit(&table_ops, f.node), DFTI_STATUS_INTERNAL);
    EXPECT_EQ(f.node->bkd_data, nullptr);
    EXPECT_EQ(f.node->compute_fwd, nullptr);
    EXPECT_EQ(f.node->bkd, &table_ops);
    // The same record plans again without detaching; then it works.
    g_fail_build = false;
    ASSERT_EQ(table_ops.commit(&table_ops, f.node), 0);
    expect_table(f.node, 0, 0.5);
}

TEST_F(Frame, ExceptionDuringPlanningReleasesTheBlock) {
    frame_node f(7);
    g_throw_in_plan = true;
    EXPECT_THROW(table_ops.commit(&table_ops, f.node), std::runtime_error);
    EXPECT_EQ(f.node->bkd_data, nullptr);
}

TEST_F(Frame, TableWriterThrowingAtCommitFreesTheLibraryWorkspace) {
    frame_node f(7);
    gpu_queue().wait();
    const std::uint64_t live = ovxplat::get_sycl_counters().usm_live_allocations;
    g_throw_in_writer = true;
    EXPECT_THROW(table_ops.commit(&table_ops, f.node), sycl::exception);
    EXPECT_EQ(f.node->bkd_data, nullptr);
    EXPECT_EQ(ovxplat::get_sycl_counters().usm_live_allocations, live);
    // The node commits afterwards and computes from its tables.
    g_throw_in_writer = false;
    ASSERT_EQ(table_ops.commit(&table_ops, f.node), 0);
    expect_table(f.node, 1, 0.25);
}

TEST_F(Frame, FreeAndOwnership) {
    frame_node f(7);
    ASSERT_EQ(table_ops.commit(&table_ops, f.node), 0);
    const bkd_ops other = table_ops;
    EXPECT_EQ(other.free(&other, f.node), DFTI_STATUS_INTERNAL);
    EXPECT_NE(f.node->bkd_data, nullptr);
    EXPECT_EQ(table_ops.free(&table_ops, f.node), 0);
    EXPECT_EQ(f.node->bkd_data, nullptr);
    EXPECT_EQ(f.node->commit_status, DFTI_UNCOMMITTED);
    EXPECT_EQ(f.node->compute_fwd, nullptr);
    EXPECT_EQ(table_ops.add_workspace(nullptr, 2, 0, f.node, 2, nullptr), DFTI_STATUS_UNCOMMITTED_DESCRIPTOR);
}

TEST_F(Frame, CommonApplicabilityTest) {
    frame_node f(7);
    auto any = [](std::int64_t) { return true; };
    EXPECT_EQ(common_1d_c2c_test(f.node, any), 0);
    dfti_dim& d = f.node->working_dims.records[0];
    d.input_stride = 0;
    d.fwd_stride = 1;
    d.output_stride = 0;
    d.bwd_stride = 1;
    EXPECT_EQ(common_1d_c2c_test(f.node, any), 0);
    d.fwd_stride = 2;
    EXPECT_EQ(common_1d_c2c_test(f.node, any), DFTI_STATUS_NOT_APPLICABLE);
    d.fwd_stride = 1;
    f.node->colbatch_group_count = 1;
    EXPECT_EQ(common_1d_c2c_test(f.node, any), DFTI_STATUS_NOT_APPLICABLE);
    f.node->colbatch_group_count = 0;
    for (std::int64_t* off : {&f.node->input_offset, &f.node->output_offset, &f.node->fwd_offset, &f.node->bwd_offset}) {
        *off = 1;
        EXPECT_EQ(common_1d_c2c_test(f.node, any), DFTI_STATUS_NOT_APPLICABLE);
        *off = 0;
    }
    EXPECT_EQ(common_1d_c2c_test(f.node, [](std::int64_t) { return false; }), DFTI_STATUS_NOT_APPLICABLE);
}

TEST_F(Frame, DataArrayCount) {
    frame_node f(7);
    struct row {
        int domain, storage, placement, count;
    };
    for (const row& r : {row{DFTI_COMPLEX, DFTI_COMPLEX_COMPLEX, DFTI_INPLACE, 1},
                         row{DFTI_COMPLEX, DFTI_COMPLEX_COMPLEX, DFTI_NOT_INPLACE, 2},
                         row{DFTI_COMPLEX, DFTI_REAL_REAL, DFTI_INPLACE, 2},
                         row{DFTI_COMPLEX, DFTI_REAL_REAL, DFTI_NOT_INPLACE, 4}, row{DFTI_REAL, 0, DFTI_INPLACE, 1},
                         row{DFTI_REAL, 0, DFTI_NOT_INPLACE, 2}}) {
        f.node->forward_domain = r.domain;
        f.node->complex_storage = r.storage;
        f.node->placement = r.placement;
        EXPECT_EQ(frame_data_array_count(f.node), r.count);
    }
}

}  // namespace

namespace {

TEST(WorkspaceHelpers, AlignWithTheQueuesDevice) {
    sycl::queue& q = gpu_queue();
    const std::uint32_t bits = q.get_device().get_info<sycl::info::device::mem_base_addr_align>();
    for (std::uint64_t v : {0ull, 1ull, 17ull, 5761ull})
        EXPECT_EQ(align_workspace_offset(v, &q), align_workspace_bytes(v, bits / 8)) << v;
    EXPECT_EQ(align_workspace_offset(1, &q) % 16, 0u);
}

TEST(WorkspaceHelpers, ConstructCharBuffer) {
    alignas(sycl::buffer<char, 1>) unsigned char storage[sizeof(sycl::buffer<char, 1>)];
    sycl::buffer<char, 1>* b = construct_char_buffer(storage, 100);
    ASSERT_EQ(static_cast<void*>(b), static_cast<void*>(storage));
    EXPECT_EQ(b->size(), 100u);
    gpu_queue().submit([&](sycl::handler& h) {
        sycl::accessor<char, 1, sycl::access_mode::write> acc(*b, h);
        h.parallel_for(sycl::range<1>(100), [=](sycl::id<1> i) { acc[i] = static_cast<char>(i[0]); });
    });
    {
        sycl::host_accessor<char, 1, sycl::access_mode::read> h(*b);
        EXPECT_EQ(h[99], 99);
    }
    b->~buffer();
}

}  // namespace
