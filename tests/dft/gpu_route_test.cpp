// The GPU route of commit and compute: the GPU gate (fp64, size limits, rank),
// a shape no backend takes ending as "unimplemented", and the compute
// dispatch to a node's compute entries (data kinds, dependencies, workspace
// check, status mapping) with a test entry installed in the node.
#include <gtest/gtest.h>

#include "ovx_test_gpu.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "dft/ovx_dft_internal.hpp"
#include "worst_error.hpp"

namespace dft = korami::ovx::dft;
using dft::config_param;
using dft::config_value;

namespace {

using ovx_test::gpu_queue;

class GpuRoute : public ::testing::Test {
protected:
    void SetUp() override {
        OVX_REQUIRE_OPENCL();
    }
};

TEST_F(GpuRoute, ShapeWithoutBackendIsUnimplemented) {
    sycl::queue& q = gpu_queue();
    // Split complex storage: no GPU backend takes it.
    dft::descriptor<dft::precision::DOUBLE, dft::domain::COMPLEX> d(std::vector<std::int64_t>{7, 11, 13});
    d.set_value(config_param::COMPLEX_STORAGE, config_value::REAL_REAL);
    try {
        d.commit(q);
        FAIL() << "commit succeeded";
    } catch (const korami::ovx::unimplemented& e) {
        EXPECT_STREQ(e.what(),
                     "korami::ovx::dft::commit: unimplemented functionality: Unimplemented support for the attempted "
                     "configuration.");
    }
    config_value v;
    d.get_value(config_param::COMMIT_STATUS, &v);
    EXPECT_EQ(v, config_value::UNCOMMITTED);
    auto* data = sycl::malloc_shared<double>(2 * 7 * 11 * 14, q);
    EXPECT_THROW(dft::compute_forward(d, data), dft::uncommitted_descriptor_exception);
    EXPECT_THROW(d.set_workspace(data), dft::uncommitted_descriptor_exception);
    sycl::free(data, q);
}

// A new commit drops the caller's workspace of the previous binding: compute
// does not take it for bound to the new one.
TEST_F(GpuRoute, RecommitDropsTheBoundWorkspace) {
    sycl::queue& q = gpu_queue();
    dft::descriptor<dft::precision::DOUBLE, dft::domain::COMPLEX> d(std::vector<std::int64_t>{7, 11, 13});
    d.set_value(config_param::COMPLEX_STORAGE, config_value::REAL_REAL);
    DFTI_DESCRIPTOR* n = dft::detail::descriptor_node(d);
    n->workspace_kind = DFTI_CONTAINER_BUFFER;
    n->workspace_buffer = new sycl::buffer<char, 1>(sycl::range<1>(64));
    EXPECT_THROW(d.commit(q), korami::ovx::unimplemented);
    EXPECT_EQ(n->workspace_kind, DFTI_CONTAINER_NONE);
    EXPECT_EQ(n->workspace_buffer, nullptr);
}

TEST_F(GpuRoute, Gate) {
    sycl::queue& q = gpu_queue();
    {
        dft::descriptor<dft::precision::SINGLE, dft::domain::COMPLEX> d(std::vector<std::int64_t>{2, 2, 2, 2});
        try {
            d.commit(q);
            FAIL() << "rank 4 committed";
        } catch (const korami::ovx::unimplemented& e) {
            EXPECT_NE(std::string(e.what()).find("rank above 3"), std::string::npos) << e.what();
        }
    }
    // 65536 x 32769 single complex values are more than 2^34 bytes.
    struct size_row { bool dbl; std::vector<std::int64_t> n; std::int64_t batch; };
    const size_row rows[] = {{false, {65536, 32769}, 1}, {false, {1 << 30}, 3}, {true, {1 << 20, 2049}, 1}};
    for (const size_row& r : rows) {
        std::string msg;
        try {
            if (r.dbl) {
                dft::descriptor<dft::precision::DOUBLE, dft::domain::COMPLEX> d(r.n);
                d.commit(q);
            } else {
                dft::descriptor<dft::precision::SINGLE, dft::domain::COMPLEX> d(r.n);
                if (r.batch > 1) {
                    d.set_value(config_param::NUMBER_OF_TRANSFORMS, r.batch);
                    d.set_value(config_param::FWD_DISTANCE, r.n[0]);
                    d.set_value(config_param::BWD_DISTANCE, r.n[0]);
                }
                d.commit(q);
            }
        } catch (const korami::ovx::unimplemented& e) {
            msg = e.what();
        }
        EXPECT_NE(msg.find("Unimplemented support for the attempted configuration."), std::string::npos) << msg;
    }
}

TEST_F(GpuRoute, DoubleNeedsFp64) {
    ovxplat::scoped_gpu_profile profile("quen5_nofp64");
    sycl::queue q{sycl::gpu_selector_v};  // a device of that profile
    dft::descriptor<dft::precision::DOUBLE, dft::domain::COMPLEX> d(64);
    EXPECT_THROW(d.commit(q), korami::ovx::unsupported_device);
    // The node-level gate answers 2.
    DFTI_DESCRIPTOR* n = nullptr;
    ASSERT_EQ(gpu_dfti_create_dc1d(&n, 64, nullptr), 0);
    n->queue = &q;
    EXPECT_EQ(gpu_commit(n), 2);
    n->queue = nullptr;
    EXPECT_EQ(gpu_commit(n), 5);
    n->methods->destroy(n);
}

// ---- compute dispatch with a test entry -----------------------------------------------------

struct entry_log {
    int calls = 0;
    void* in = nullptr;
    void* out = nullptr;
    std::uint64_t kind = 0;
    std::size_t deps = 99;
    bool had_deps = false;
    int answer = 0;
    std::size_t in_bytes = 0;
} elog;

int test_entry(DFTI_DESCRIPTOR*, void* in, void* out, std::vector<sycl::event>* deps, const dfti_data_kind* kind,
               sycl::event* result) {
    ++elog.calls;
    elog.in = in;
    elog.out = out;
    elog.kind = kind->kind;
    elog.had_deps = deps != nullptr;
    elog.deps = deps ? deps->size() : 0;
    if (kind->kind & 1) elog.in_bytes = static_cast<sycl::buffer<char, 1>*>(in)->byte_size();
    if (result) *result = sycl::event{};
    return elog.answer;
}

using real_desc_t = dft::descriptor<dft::precision::SINGLE, dft::domain::REAL>;

// Binds a 6 x 10 real out-of-place descriptor to `q` (no backend takes the
// shape) and installs the test entry as its compute entries, as a backend
// would; returns the node.
DFTI_DESCRIPTOR* bind_test_entries(real_desc_t& d, sycl::queue& q) {
    d.set_value(config_param::PLACEMENT, config_value::NOT_INPLACE);
    try {
        d.commit(q);
    } catch (const korami::ovx::exception&) {
    }
    DFTI_DESCRIPTOR* n = dft::detail::descriptor_node(d);
    if (n) {
        n->compute_fwd = test_entry;
        n->compute_bwd = test_entry;
        n->commit_status = DFTI_COMMITTED;
    }
    return n;
}

TEST_F(GpuRoute, ComputeDispatch) {
    sycl::queue& q = gpu_queue();
    real_desc_t d(std::vector<std::int64_t>{6, 10});
    DFTI_DESCRIPTOR* n = bind_test_entries(d, q);
    ASSERT_NE(n, nullptr);
    ASSERT_NE(n->queue, nullptr);
    auto* in = sycl::malloc_shared<float>(120, q);
    auto* out = sycl::malloc_shared<float>(120, q);

    elog = entry_log{};
    sycl::event dep = q.submit([&](sycl::handler& h) { h.host_task([] {}); });
    dft::compute_forward(d, in, reinterpret_cast<std::complex<float>*>(out), {dep, dep});
    EXPECT_EQ(elog.calls, 1);
    EXPECT_EQ(elog.in, in);
    EXPECT_EQ(elog.out, out);
    EXPECT_EQ(elog.kind, 2u);
    EXPECT_TRUE(elog.had_deps);
    EXPECT_EQ(elog.deps, 2u);

    elog = entry_log{};
    {
        sycl::buffer<float, 1> bi(sycl::range<1>(60)), bo(sycl::range<1>(72));
        dft::compute_backward(d, bo, bi);
    }
    EXPECT_EQ(elog.calls, 1);
    EXPECT_EQ(elog.kind, 1u);
    EXPECT_FALSE(elog.had_deps);
    EXPECT_EQ(elog.in_bytes, 72 * sizeof(float));

    // Entry statuses are mapped to exceptions.
    struct row { int status; std::function<bool(const std::exception&)> is; };
    const row rows[] = {
        {2, [](const std::exception& e) { return dynamic_cast<const dft::uncommitted_descriptor_exception*>(&e) != nullptr; }},
        {5, [](const std::exception& e) { return dynamic_cast<const dft::bad_descriptor_exception*>(&e) != nullptr; }},
        {7, [](const std::exception& e) { return dynamic_cast<const dft::internal_error_exception*>(&e) != nullptr; }},
        {11, [](const std::exception& e) { return dynamic_cast<const dft::no_workspace_exception*>(&e) != nullptr; }},
        // A failure the mapping has no exception for still fails.
        {4, [](const std::exception& e) { return dynamic_cast<const dft::internal_error_exception*>(&e) != nullptr; }},
        {100, [](const std::exception& e) { return dynamic_cast<const dft::internal_error_exception*>(&e) != nullptr; }},
    };
    for (const row& r : rows) {
        elog.answer = r.status;
        try {
            dft::compute_forward(d, in, out);
            ADD_FAILURE() << r.status;
        } catch (const std::exception& e) {
            EXPECT_TRUE(r.is(e)) << r.status << " " << e.what();
        }
    }
    elog.answer = 0;

    // A caller-held workspace that is needed but not bound.
    n->internal_workspace = 0;
    n->workspace_kind = 0;
    n->twiddle_workspace_bytes = 0;
    n->scratch_workspace_bytes = 256;
    const int before = elog.calls;
    EXPECT_THROW(dft::compute_forward(d, in, out), dft::no_workspace_exception);
    EXPECT_EQ(elog.calls, before);
    n->workspace_kind = DFTI_CONTAINER_USM;
    EXPECT_NO_THROW(dft::compute_forward(d, in, out));
    std::int64_t bytes = 0;
    d.get_value(config_param::WORKSPACE_EXTERNAL_BYTES, &bytes);
    EXPECT_EQ(bytes, 256);

    // A missing direction counts as not committed.
    n->compute_bwd = nullptr;
    EXPECT_THROW(dft::compute_backward(d, out, in), dft::uncommitted_descriptor_exception);
    n->compute_fwd = nullptr;
    n->commit_status = DFTI_UNCOMMITTED;
    sycl::free(in, q);
    sycl::free(out, q);
}

// The GPU kernels reach the containers through whole-buffer accessors, so a
// buffer shorter than the layout must be refused before the entry runs.
TEST_F(GpuRoute, ShortBuffersRefusedBeforeTheEntryRuns) {
    sycl::queue& q = gpu_queue();
    real_desc_t d(std::vector<std::int64_t>{6, 10});
    ASSERT_NE(bind_test_entries(d, q), nullptr);
    struct sizes { std::size_t real, cplx; bool ok; };
    // 6 x 10 real values; 6 x 6 complex values (72 floats) on the other side.
    for (const sizes& c : {sizes{60, 72, true}, sizes{59, 72, false}, sizes{60, 71, false}}) {
        for (int dir = 0; dir < 2; ++dir) {
            elog = entry_log{};
            sycl::buffer<float, 1> br(sycl::range<1>(c.real)), bc(sycl::range<1>(c.cplx));
            auto run = [&] {
                if (dir == 0) dft::compute_forward(d, br, bc);
                else dft::compute_backward(d, bc, br);
            };
            if (c.ok) {
                EXPECT_NO_THROW(run());
                EXPECT_EQ(elog.calls, 1);
            } else {
                EXPECT_THROW(run(), korami::ovx::invalid_argument) << c.real << " " << c.cplx << " dir " << dir;
                EXPECT_EQ(elog.calls, 0);
            }
        }
    }
}

// End to end on the GPU route with a caller-held workspace: the exact need
// after commit, the refusal before binding, USM and buffer workspaces.
TEST_F(GpuRoute, CallerWorkspace) {
    sycl::queue& q = gpu_queue();
    const std::int64_t n = 64;
    dft::descriptor<dft::precision::SINGLE, dft::domain::COMPLEX> d(n);
    d.set_value(config_param::WORKSPACE_PLACEMENT, config_value::WORKSPACE_EXTERNAL);
    d.set_value(config_param::PLACEMENT, config_value::NOT_INPLACE);
    d.commit(q);
    DFTI_DESCRIPTOR* node = dft::detail::descriptor_node(d);
    ASSERT_NE(node->bkd, nullptr);
    EXPECT_STREQ(bkd_name(node->bkd), "bkd_small_md_slm_s_ops");
    std::int64_t bytes = -1;
    d.get_value(config_param::WORKSPACE_EXTERNAL_BYTES, &bytes);
    EXPECT_EQ(static_cast<std::uint64_t>(bytes), node->twiddle_workspace_bytes + node->scratch_workspace_bytes);
    auto* in = sycl::malloc_shared<std::complex<float>>(n, q);
    auto* out = sycl::malloc_shared<std::complex<float>>(n, q);
    for (std::int64_t i = 0; i < n; ++i) in[i] = {float(i % 7) - 3.0f, float(i % 5)};
    if (bytes > 0) {
        EXPECT_THROW(dft::compute_forward(d, in, out), dft::no_workspace_exception);
    }
    auto check = [&] {
        const double pi = std::acos(-1.0);
        double err = 0, ref = 0;
        for (std::int64_t k = 0; k < n; ++k) {
            std::complex<double> s = 0;
            for (std::int64_t j = 0; j < n; ++j)
                s += std::complex<double>(in[j]) * std::polar(1.0, -2 * pi * double(j * k % n) / n);
            err = ovx_test::worse(err, std::abs(s - std::complex<double>(out[k])));
            ref = std::max(ref, std::abs(s));
        }
        EXPECT_LE(err / ref, 3e-6 * 6 + 1e-6);
    };
    float* ws = sycl::malloc_device<float>(static_cast<std::size_t>(bytes / sizeof(float) + 1), q);
    d.set_workspace(ws);
    EXPECT_EQ(node->workspace_kind, DFTI_CONTAINER_USM);
    dft::compute_forward(d, in, out).wait_and_throw();
    check();
    {
        sycl::buffer<float, 1> wb(sycl::range<1>(static_cast<std::size_t>(bytes / sizeof(float) + 1)));
        d.set_workspace(wb);
        EXPECT_EQ(node->workspace_kind, DFTI_CONTAINER_BUFFER);
        std::fill(out, out + n, std::complex<float>(0));
        sycl::buffer<std::complex<float>, 1> bi(in, sycl::range<1>(n)), bo(out, sycl::range<1>(n));
        dft::compute_forward(d, bi, bo);
    }
    check();
    q.wait();
    sycl::free(ws, q);
    sycl::free(in, q);
    sycl::free(out, q);
}

}  // namespace

namespace {

// set_workspace returns once the tables it writes into the caller's
// workspace are written: the caller may read, reuse or free it at once.
TEST_F(GpuRoute, SetWorkspaceReturnsWithItsTablesWritten) {
    ovxplat::scoped_gpu_profile profile("quen5");  // the two-factor backend keeps a table
    sycl::queue q{sycl::gpu_selector_v};
    dft::descriptor<dft::precision::DOUBLE, dft::domain::COMPLEX> d(1024);
    d.set_value(config_param::WORKSPACE_PLACEMENT, config_value::WORKSPACE_EXTERNAL);
    d.commit(q);
    std::int64_t bytes = 0;
    d.get_value(config_param::WORKSPACE_EXTERNAL_BYTES, &bytes);
    ASSERT_GT(bytes, 0);
    const std::size_t n = static_cast<std::size_t>(bytes) / sizeof(double);
    double* w = sycl::malloc_shared<double>(n, q);
    std::fill(w, w + n, std::nan(""));
    d.set_workspace(w);
    const std::vector<double> at_return(w, w + n);
    q.wait();
    EXPECT_EQ(std::memcmp(at_return.data(), w, n * sizeof(double)), 0) << "tables were still being written";
    EXPECT_FALSE(std::isnan(w[0]));
    sycl::free(w, q);
}

}  // namespace
