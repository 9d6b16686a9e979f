// The two-factor, 8192-point, three-factor and 1D real backends at node
// level: each node is committed through a candidate list holding the module's
// record, must be owned by that record, and its transforms must match FFTW in
// USM and buffer forms, both directions, in place and out of place, with
// scales other than 1, on device profiles with sub-groups of 8; with the
// library's and the caller's workspace, on out-of-order queues and in the
// stand-in's shuffled mode. Refusals (not applicable) and the workspace
// statuses are checked too.
#include <gtest/gtest.h>

#include <sycl/sycl.hpp>

#include <ovxplat/sycl_standin.hpp>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ovx_test_gpu.hpp"
#include "dft/gpu/backends.hpp"
#include "dft/gpu/gpu_test_harness.hpp"
#include "dft/gpu/frame/areas.hpp"

using layout = gpu_test::simple_layout;
using gpu_test::node_ptr;
using gpu_test::cplx;

namespace {

// A module by its two records. Owner checks and test names use the records'
// names.
struct module {
    const bkd_ops* s;
    const bkd_ops* d;
    const bkd_ops* of(bool single) const { return single ? s : d; }
};
constexpr module TF{&bkd_c2c_1d_2_facts_s_ops, &bkd_c2c_1d_2_facts_d_ops},
    K8{&bkd_c2c_1d_8k_s_ops, &bkd_c2c_1d_8k_d_ops}, TH{&bkd_c2c_1d_3_facts_s_ops, &bkd_c2c_1d_3_facts_d_ops},
    RL{&bkd_r2c_1d_main_s_ops, &bkd_r2c_1d_main_d_ops};

// "bkd_c2c_1d_2_facts_s_ops" -> "c2c_1d_2_facts_s".
std::string short_name(const bkd_ops* r) {
    const std::string n = bkd_name(r);
    return n.substr(4, n.size() - 8);
}

// A one-record list (plus the terminal record), so that a refusal shows as the
// terminal's status 6 and an acceptance must come from the module.
struct one_list {
    const bkd_ops* items[3];
    explicit one_list(const bkd_ops* r) : items{r, &bkd_terminal, nullptr} {}
    const bkd_ops* const* get() const { return items; }
};

bool device_ok(bool single) {
    if (!ovxplat::opencl_available()) return false;
    if (single) return true;
    sycl::queue q{sycl::gpu_selector_v};
    return q.get_device().has(sycl::aspect::fp64);
}

// Skips without a double-precision device, else selects the Quen5 profile
// for the test and makes the queue `q`.
#define ON_QUEN5(q)                                                  \
    OVX_REQUIRE(device_ok(false), "no OpenCL device");       \
    ovxplat::scoped_gpu_profile prof("quen5");                       \
    sycl::queue q{sycl::gpu_selector_v}

// Copies between host vectors and USM or buffers.
template <class T>
T* usm_copy(sycl::queue& q, const std::vector<T>& v) {
    T* p = sycl::malloc_shared<T>(v.size() ? v.size() : 1, q);
    std::memcpy(p, v.data(), v.size() * sizeof(T));
    return p;
}

struct complex_case {
    module m;
    int64_t n;
    bool single;
    int64_t batch;
    bool in_place;
    int dir;
    bool usm;
    double scale;
    const char* profile;
    bool shuffle;
    int64_t fwd_distance, bwd_distance;  // 0: N
};

// Each parameter type has a description that serves as the test name and as
// the parameter CTest lists (PrintTo).
std::string describe(const complex_case& c) {
    return short_name(c.m.of(c.single)) + "_" + std::to_string(c.n) + "_b" + std::to_string(c.batch) +
           (c.in_place ? "_ip" : "_oop") + (c.dir ? "_bwd" : "_fwd") + (c.usm ? "_usm" : "_buf") + "_" + c.profile +
           (c.shuffle ? "_shuffled" : "");
}
void PrintTo(const complex_case& c, std::ostream* os) { *os << describe(c); }

template <class Case>
std::string name_of(const ::testing::TestParamInfo<Case>& i) {
    return describe(i.param);
}

class FactorsModulesComplex : public ::testing::TestWithParam<complex_case> {};

template <class T>
void run_complex(const complex_case& c) {
    ovxplat::scoped_gpu_profile prof(c.profile);
    ASSERT_TRUE(prof.ok()) << c.profile;
    ovxplat::set_shuffle_mode(c.shuffle);
    sycl::queue q{sycl::gpu_selector_v};
    const bkd_ops* rec = c.m.of(c.single);
    one_list list(rec);
    layout l;
    l.n = c.n;
    l.single = c.single;
    l.batch = c.batch;
    l.in_place = c.in_place;
    l.fwd_distance = c.fwd_distance;
    l.bwd_distance = c.bwd_distance;
    l.fwd_scale = c.dir == 0 ? c.scale : 1.0;
    l.bwd_scale = c.dir == 1 ? c.scale : 1.0;
    node_ptr node = gpu_test::make_node(l, &q, list.get());
    ASSERT_TRUE(node);
    ASSERT_EQ(gpu_test::commit(node.get()), 0);
    ASSERT_STREQ(bkd_name(node->bkd), bkd_name(rec)) << "owner of the node";
    ASSERT_EQ(node->commit_status, DFTI_COMMITTED);
    const int64_t fd = c.fwd_distance ? c.fwd_distance : c.n, bd = c.bwd_distance ? c.bwd_distance : c.n;
    const int64_t idist = c.dir == 0 ? fd : bd, odist = c.dir == 0 ? bd : fd;
    const size_t in_elems = static_cast<size_t>(idist * c.batch), out_elems = static_cast<size_t>(odist * c.batch);
    std::vector<cplx> x = gpu_test::random_cplx(in_elems, 31u + static_cast<unsigned>(c.n));
    std::vector<T> xin(2 * std::max(in_elems, c.in_place ? out_elems : 0));
    for (size_t i = 0; i < in_elems; ++i) {
        xin[2 * i] = static_cast<T>(x[i].real());
        xin[2 * i + 1] = static_cast<T>(x[i].imag());
        x[i] = cplx(xin[2 * i], xin[2 * i + 1]);
    }
    int st = -1;
    const std::vector<T> result =
        gpu_test::compute_host(node.get(), q, c.dir, c.usm, c.in_place, xin, std::vector<T>(2 * out_elems), st);
    ASSERT_EQ(st, 0);
    ovxplat::set_shuffle_mode(false);
    EXPECT_LT(gpu_test::c2c_batch_error(result.data(), odist, x, idist, c.n, c.batch, c.dir, c.scale),
              gpu_test::tolerance(c.single, c.n));
}

TEST_P(FactorsModulesComplex, MatchesFftw) {
    const complex_case c = GetParam();
    OVX_REQUIRE(device_ok(c.single), "no OpenCL device (or no double support)");
    if (c.single)
        run_complex<float>(c);
    else
        run_complex<double>(c);
}

INSTANTIATE_TEST_SUITE_P(
    TwoFacts, FactorsModulesComplex,
    ::testing::Values(
        complex_case{TF, 4, false, 3, false, 0, true, 1.0, "quen5", false, 0, 0},
        complex_case{TF, 48, false, 2, true, 1, false, 0.5, "quen5", false, 0, 0},
        complex_case{TF, 64, true, 2, false, 1, true, 2.0, "quen7", true, 0, 0},
        complex_case{TF, 96, false, 5, false, 0, false, 1.0, "quen3", false, 0, 0},   // 4 per group, last 1
        complex_case{TF, 96, false, 5, true, 1, true, 0.25, "quen3", true, 0, 0},
        complex_case{TF, 128, true, 3, true, 0, false, 1.0, "quen5", false, 130, 132},
        complex_case{TF, 1000, false, 2, false, 0, true, 1.0, "quen5", true, 0, 0},   // 40 x 25
        complex_case{TF, 4096, true, 2, false, 1, true, 1.0 / 4096, "quen5", false, 0, 0},
        complex_case{TF, 2048, true, 3, true, 0, false, 0.5, "quen4", true, 0, 0}),      // 64 x 32, 2 row passes
    name_of<complex_case>);

INSTANTIATE_TEST_SUITE_P(
    EightK, FactorsModulesComplex,
    ::testing::Values(complex_case{K8, 8192, false, 2, false, 0, true, 1.0, "quen5", false, 0, 0},
                      complex_case{K8, 8192, true, 3, true, 1, false, 1.0 / 8192, "quen7", true, 0, 0},
                      complex_case{K8, 8192, false, 1, true, 1, true, 0.5, "quen1", true, 0, 0}),
    name_of<complex_case>);

INSTANTIATE_TEST_SUITE_P(
    ThreeFacts, FactorsModulesComplex,
    ::testing::Values(complex_case{TH, 12000, false, 3, false, 0, true, 0.5, "quen5", true, 0, 0},
                      complex_case{TH, 12000, true, 2, true, 1, false, 1.0, "quen7", false, 0, 0},
                      complex_case{TH, 4096, true, 3, false, 1, true, 2.0, "quen4", true, 4100, 4104},
                      complex_case{TH, 128, false, 2, true, 0, false, 1.0, "quen5", false, 0, 0},
                      // Quen4: the fixed 28 x 30 x 25 plan and the large-register option on passes of 24 and more.
                      complex_case{TH, 21000, false, 2, false, 1, true, 0.5, "quen4", false, 0, 0}),
    name_of<complex_case>);

// ---------------------------------------------------------------- 1D real

struct real_case {
    int64_t n;
    bool single;
    int64_t batch;
    bool in_place;
    int dir;
    bool usm;
    double scale;
    const char* profile;
    bool shuffle;
};

std::string describe(const real_case& c) {
    return std::to_string(c.n) + (c.single ? "s" : "d") + "_b" + std::to_string(c.batch) +
           (c.in_place ? "_ip" : "_oop") + (c.dir ? "_c2r" : "_r2c") + (c.usm ? "_usm" : "_buf") + "_" + c.profile +
           (c.shuffle ? "_shuffled" : "");
}
void PrintTo(const real_case& c, std::ostream* os) { *os << describe(c); }

class FactorsModulesReal : public ::testing::TestWithParam<real_case> {};

template <class T>
void run_real(const real_case& c) {
    ovxplat::scoped_gpu_profile prof(c.profile);
    ASSERT_TRUE(prof.ok());
    ovxplat::set_shuffle_mode(c.shuffle);
    sycl::queue q{sycl::gpu_selector_v};
    const bkd_ops* rec = RL.of(c.single);
    one_list list(rec);
    layout l;
    l.n = c.n;
    l.single = c.single;
    l.real = true;
    l.batch = c.batch;
    l.in_place = c.in_place;
    l.fwd_scale = c.dir == 0 ? c.scale : 1.0;
    l.bwd_scale = c.dir == 1 ? c.scale : 1.0;
    node_ptr node = gpu_test::make_node(l, &q, list.get());
    ASSERT_TRUE(node);
    ASSERT_EQ(gpu_test::commit(node.get()), 0);
    ASSERT_STREQ(bkd_name(node->bkd), bkd_name(rec));
    const int64_t h = c.n / 2 + 1;
    const int64_t rd = c.in_place ? 2 * h : c.n;  // real distance (reals)
    const int64_t cd = h;                         // complex distance (complex values)
    const size_t real_elems = static_cast<size_t>(rd * c.batch), cplx_reals = static_cast<size_t>(2 * cd * c.batch);
    // Forward: N reals per transform at distance rd; backward: the N/2+1
    // values of a real signal's transform at distance cd (interleaved).
    std::vector<T> in_host(c.dir == 0 ? std::max(real_elems, c.in_place ? cplx_reals : 0)
                                      : std::max(cplx_reals, c.in_place ? real_elems : 0), T(0));
    for (int64_t b = 0; b < c.batch; ++b) {
        if (c.dir == 0) {
            const auto xb = gpu_test::random_real(static_cast<size_t>(c.n), 300u + static_cast<unsigned>(b));
            for (int64_t j = 0; j < c.n; ++j) in_host[b * rd + j] = static_cast<T>(xb[j]);
        } else {
            const auto xb = gpu_test::dft_r2c(gpu_test::random_real(static_cast<size_t>(c.n), 400u + static_cast<unsigned>(b)), 1.0);
            for (int64_t k = 0; k < h; ++k) {
                in_host[2 * (b * cd + k)] = static_cast<T>(xb[k].real());
                in_host[2 * (b * cd + k) + 1] = static_cast<T>(xb[k].imag());
            }
        }
    }
    const size_t out_count = c.dir == 0 ? cplx_reals : real_elems;
    int st = -1;
    const std::vector<T> result =
        gpu_test::compute_host(node.get(), q, c.dir, c.usm, c.in_place, in_host, std::vector<T>(out_count), st);
    ASSERT_EQ(st, 0);
    ovxplat::set_shuffle_mode(false);
    const std::vector<double> x(in_host.begin(), in_host.end());  // the inputs as the device saw them
    const double err = c.dir == 0 ? gpu_test::r2c_batch_error(result.data(), cd, x, rd, c.n, c.batch, c.scale)
                                   : gpu_test::c2r_batch_error(result.data(), rd, gpu_test::as_cplx(x), cd, c.n, c.batch, c.scale);
    EXPECT_LT(err, gpu_test::tolerance(c.single, c.n));
}

TEST_P(FactorsModulesReal, MatchesFftw) {
    const real_case c = GetParam();
    OVX_REQUIRE(device_ok(c.single), "no OpenCL device (or no double support)");
    if (c.single)
        run_real<float>(c);
    else
        run_real<double>(c);
}

INSTANTIATE_TEST_SUITE_P(
    Real, FactorsModulesReal,
    ::testing::Values(real_case{1000, false, 3, false, 0, true, 0.5, "quen5", false},
                      real_case{1000, false, 3, true, 1, false, 1.0 / 1000, "quen5", true},
                      real_case{999, false, 3, false, 1, true, 2.0, "quen7", true},
                      real_case{999, true, 5, true, 0, false, 1.0, "quen5", false},
                      real_case{1000, true, 1, true, 0, true, 1.0, "quen6", true},
                      real_case{999, true, 4, false, 1, false, 0.25, "quen6", false},
                      // The smallest lengths: sub-transforms of one or two points.
                      real_case{1, false, 3, false, 0, true, 1.0, "quen5", false},
                      real_case{2, false, 3, false, 1, true, 1.0, "quen5", false},
                      real_case{3, false, 3, true, 1, true, 1.0, "quen5", false},
                      real_case{4, false, 2, true, 0, false, 1.0, "quen5", false}),
    name_of<real_case>);

// ---------------------------------------------------------------- refusals

struct refusal_case {
    module m;
    bool single;
    int64_t n, batch;
    int64_t fwd_distance, bwd_distance;
    int directions;
    const char* profile;
};

std::string describe(const refusal_case& c) {
    std::string s = short_name(c.m.of(c.single)) + "_" + std::to_string(c.n) + "_b" + std::to_string(c.batch);
    if (c.fwd_distance || c.bwd_distance)
        s += "_dist" + std::to_string(c.fwd_distance) + "_" + std::to_string(c.bwd_distance);
    return s + "_" + c.profile;
}
void PrintTo(const refusal_case& c, std::ostream* os) { *os << describe(c); }

class FactorsModulesRefusal : public ::testing::TestWithParam<refusal_case> {};

TEST_P(FactorsModulesRefusal, NotApplicable) {
    const refusal_case c = GetParam();
    const bkd_ops* rec = c.m.of(c.single);
    OVX_REQUIRE(device_ok(c.single), "no OpenCL device");
    ovxplat::scoped_gpu_profile prof(c.profile);
    sycl::queue q{sycl::gpu_selector_v};
    const bkd_ops* const only[] = {rec, nullptr};
    layout l;
    l.n = c.n;
    l.single = c.single;
    l.batch = c.batch;
    l.fwd_distance = c.fwd_distance;
    l.bwd_distance = c.bwd_distance;
    l.directions = c.directions;
    node_ptr node = gpu_test::make_node(l, &q, only);
    ASSERT_TRUE(node);
    EXPECT_EQ(gpu_test::commit(node.get()), DFTI_STATUS_INCONSISTENT);  // 100 from the only record
    EXPECT_EQ(node->bkd_data, nullptr);
    EXPECT_EQ(node->compute_fwd, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FactorsModulesRefusal,
    ::testing::Values(refusal_case{TF, false, 64, 1, 0, 0, 2, "quen6"},       // no sub-group size 8
                      refusal_case{TF, false, 1006, 1, 0, 0, 2, "quen5"},     // 503 prime
                      refusal_case{TF, false, 2048, 1, 0, 0, 2, "quen5"},     // double above 1024
                      refusal_case{TF, true, 1002, 1, 0, 0, 2, "quen5"},      // no factor pair
                      refusal_case{TF, true, 64, 3, 64, 65, 0, "quen5"},      // odd output distance
                      refusal_case{TF, false, 63, 1, 0, 0, 2, "quen5"},      // odd length
                      refusal_case{K8, false, 8192, 337, 0, 0, 2, "quen5"},   // scratch above 42 MiB
                      refusal_case{K8, true, 8192, 673, 0, 0, 2, "quen7"},
                      refusal_case{K8, false, 8192, 2, 8200, 8192, 2, "quen5"},  // padded rows
                      refusal_case{K8, false, 8192, 1, 0, 0, 2, "quen6"},     // no sub-group size 8
                      refusal_case{K8, false, 8191, 1, 0, 0, 2, "quen5"},
                      refusal_case{TH, false, 164, 1, 0, 0, 2, "quen5"},      // 41 has no factor pair
                      refusal_case{TH, false, 3440, 1, 0, 0, 2, "quen5"},     // 43 above 40 in double
                      refusal_case{TH, false, 64, 1, 0, 0, 2, "quen5"},       // M below 4
                      refusal_case{TH, false, 64004, 1, 0, 0, 2, "quen5"},    // above 64000 in double
                      refusal_case{TH, true, 4096, 2, 4096, 4097, 0, "quen5"},  // odd output distance
                      refusal_case{TH, true, 4096, 1, 0, 0, 2, "quen6"}),
    name_of<refusal_case>);

// ---------------------------------------------------------------- workspace

struct ws_case {
    module m;
    bool single;
    int64_t n, batch;
    bool usm_ws;
};

std::string describe(const ws_case& c) {
    return short_name(c.m.of(c.single)) + "_" + std::to_string(c.n) + "_b" + std::to_string(c.batch) +
           (c.usm_ws ? "_usm" : "_buffer");
}
void PrintTo(const ws_case& c, std::ostream* os) { *os << describe(c); }

class FactorsModulesWorkspace : public ::testing::TestWithParam<ws_case> {};

TEST_P(FactorsModulesWorkspace, CallerWorkspace) {
    const ws_case c = GetParam();
    const bkd_ops* rec = c.m.of(c.single);
    OVX_REQUIRE(device_ok(c.single), "no OpenCL device");
    ovxplat::scoped_gpu_profile prof("quen5");
    sycl::queue q{sycl::gpu_selector_v};
    one_list list(rec);
    layout l;
    l.n = c.n;
    l.single = c.single;
    l.batch = c.batch;
    l.internal_workspace = false;
    l.fwd_scale = 0.5;
    node_ptr node = gpu_test::make_node(l, &q, list.get());
    ASSERT_EQ(gpu_test::commit(node.get()), 0);
    ASSERT_STREQ(bkd_name(node->bkd), bkd_name(rec));
    const uint64_t bytes = node->twiddle_workspace_bytes + node->scratch_workspace_bytes;
    ASSERT_GT(bytes, 0u);
    const size_t real = c.single ? 4 : 8;
    const size_t elems = static_cast<size_t>(c.n * c.batch);
    std::vector<cplx> x = gpu_test::random_cplx(elems, 5u);
    char* in = sycl::malloc_shared<char>(2 * elems * real, q);
    char* out = sycl::malloc_shared<char>(2 * elems * real, q);
    for (size_t i = 0; i < elems; ++i) {
        if (c.single) {
            reinterpret_cast<float*>(in)[2 * i] = static_cast<float>(x[i].real());
            reinterpret_cast<float*>(in)[2 * i + 1] = static_cast<float>(x[i].imag());
            x[i] = cplx(static_cast<float>(x[i].real()), static_cast<float>(x[i].imag()));
        } else {
            reinterpret_cast<double*>(in)[2 * i] = x[i].real();
            reinterpret_cast<double*>(in)[2 * i + 1] = x[i].imag();
        }
    }
    // Nothing bound yet: 11 and nothing submitted.
    EXPECT_EQ(gpu_test::compute_usm(node.get(), 0, in, out), DFTI_STATUS_NO_WORKSPACE);
    void* ws_usm = nullptr;
    std::unique_ptr<sycl::buffer<char, 1>> ws_buf;
    if (c.usm_ws) {
        ws_usm = sycl::malloc_device(bytes, q);
        ASSERT_EQ(gpu_dfti_set_workspace(node.get(), ws_usm, DFTI_CONTAINER_USM), 0);
    } else {
        ws_buf.reset(new sycl::buffer<char, 1>{sycl::range<1>(bytes)});
        ASSERT_EQ(gpu_dfti_set_workspace(node.get(), ws_buf.get(), DFTI_CONTAINER_BUFFER), 0);
    }
    ASSERT_EQ(gpu_test::compute_usm(node.get(), 0, in, out), 0);
    // A second workspace replaces the first: the tables are written again there
    // and the first one may go.
    void* ws2_usm = nullptr;
    std::unique_ptr<sycl::buffer<char, 1>> ws2_buf;
    if (c.usm_ws) {
        ws2_usm = sycl::malloc_device(bytes, q);
        ASSERT_EQ(gpu_dfti_set_workspace(node.get(), ws2_usm, DFTI_CONTAINER_USM), 0);
        sycl::free(ws_usm, q);
        ws_usm = ws2_usm;
    } else {
        ws2_buf.reset(new sycl::buffer<char, 1>{sycl::range<1>(bytes)});
        ASSERT_EQ(gpu_dfti_set_workspace(node.get(), ws2_buf.get(), DFTI_CONTAINER_BUFFER), 0);
    }
    std::memset(out, 0, 2 * elems * real);
    ASSERT_EQ(gpu_test::compute_usm(node.get(), 0, in, out), 0);
    const double err = c.single ? gpu_test::c2c_batch_error(reinterpret_cast<float*>(out), c.n, x, c.n, c.n, c.batch, 0, 0.5)
                                : gpu_test::c2c_batch_error(reinterpret_cast<double*>(out), c.n, x, c.n, c.n, c.batch, 0, 0.5);
    EXPECT_LT(err, gpu_test::tolerance(c.single, c.n));
    node.reset();  // frees the module's areas before the workspace goes
    if (ws_usm) sycl::free(ws_usm, q);
    sycl::free(in, q);
    sycl::free(out, q);
}

INSTANTIATE_TEST_SUITE_P(Modules, FactorsModulesWorkspace,
                         ::testing::Values(ws_case{TF, false, 96, 2, true}, ws_case{TF, true, 96, 2, false},
                                           ws_case{K8, false, 8192, 2, true}, ws_case{K8, true, 8192, 1, false},
                                           ws_case{TH, false, 4096, 2, false}, ws_case{TH, true, 12000, 2, true}),
                         name_of<ws_case>);

// The real backend with a caller's workspace: the parent lays out its
// sub-node's areas inside it. USM and buffer workspaces, even and odd N.
TEST(FactorsModulesRealWorkspace, CallerWorkspace) {
    ON_QUEN5(q);
    const bkd_ops* const list[] = {&bkd_r2c_1d_main_d_ops, nullptr};
    for (int64_t n : {int64_t(1000), int64_t(999)}) {
        for (bool usm_ws : {true, false}) {
            layout l;
            l.n = n;
            l.real = true;
            l.batch = 3;
            l.internal_workspace = false;
            node_ptr node = gpu_test::make_node(l, &q, list);
            ASSERT_EQ(gpu_test::commit(node.get()), 0);
            const uint64_t bytes = node->twiddle_workspace_bytes + node->scratch_workspace_bytes;
            ASSERT_GT(bytes, 0u);
            const int64_t h = n / 2 + 1;
            const auto x = gpu_test::random_real(static_cast<size_t>(3 * n), 61u);
            double* in = usm_copy(q, x);
            double* out = sycl::malloc_shared<double>(static_cast<size_t>(6 * h), q);
            EXPECT_EQ(gpu_test::compute_usm(node.get(), 0, in, out), DFTI_STATUS_NO_WORKSPACE);
            void* ws = nullptr;
            std::unique_ptr<sycl::buffer<char, 1>> wsb;
            if (usm_ws) {
                ws = sycl::malloc_device(bytes, q);
                ASSERT_EQ(gpu_dfti_set_workspace(node.get(), ws, DFTI_CONTAINER_USM), 0);
            } else {
                wsb.reset(new sycl::buffer<char, 1>{sycl::range<1>(bytes)});
                ASSERT_EQ(gpu_dfti_set_workspace(node.get(), wsb.get(), DFTI_CONTAINER_BUFFER), 0);
            }
            ASSERT_EQ(gpu_test::compute_usm(node.get(), 0, in, out), 0);
            EXPECT_LT(gpu_test::r2c_batch_error(out, h, x, n, n, 3, 1.0), gpu_test::tolerance(false, n))
                << "N " << n << (usm_ws ? " usm" : " buffer");
            node.reset();
            if (ws) sycl::free(ws, q);
            sycl::free(in, q);
            sycl::free(out, q);
        }
    }
}

// ---------------------------------------------------------------- lifecycle

TEST(FactorsModulesLifecycle, DirectionsAndRecommit) {
    ON_QUEN5(q);
    const bkd_ops* rec = &bkd_c2c_1d_2_facts_d_ops;
    one_list list(rec);
    layout l;
    l.n = 48;
    l.directions = 0;
    node_ptr node = gpu_test::make_node(l, &q, list.get());
    ASSERT_EQ(gpu_test::commit(node.get()), 0);
    const uint64_t one_dir = node->twiddle_workspace_bytes;
    EXPECT_GT(one_dir, 0u);
    EXPECT_EQ(node->scratch_workspace_bytes, 0u);
    // The backward direction was not built: a status, not a launch.
    std::vector<double> data(2 * 48, 1.0);
    double* p = usm_copy(q, data);
    EXPECT_NE(gpu_test::compute_usm(node.get(), 1, p, p), 0);
    EXPECT_EQ(gpu_test::compute_usm(node.get(), 0, p, p), 0);
    // Both directions: the tables double; re-commit detaches the old block first.
    node->directions = 2;
    ASSERT_EQ(gpu_test::commit(node.get()), 0);
    EXPECT_EQ(node->twiddle_workspace_bytes, 2 * one_dir);
    EXPECT_EQ(gpu_test::compute_usm(node.get(), 1, p, p), 0);
    // free by a record that does not own the node: 7.
    EXPECT_EQ(bkd_c2c_1d_2_facts_s_ops.free(&bkd_c2c_1d_2_facts_s_ops, node.get()), DFTI_STATUS_INTERNAL);
    sycl::free(p, q);
}


// ---------------------------------------------------------------- real refusals

TEST(FactorsModulesRealRefusal, Layouts) {
    ON_QUEN5(q);
    const bkd_ops* const only[] = {&bkd_r2c_1d_main_d_ops, nullptr};
    struct c {
        bool in_place;
        int directions;
        int64_t fd, bd;          // forward / backward distances (0: io distances below)
        int64_t in_d, out_d;     // input / output distances
        int64_t is, os;          // input / output strides (0: forward / backward strides)
        int expect;
    };
    const c cases[] = {
        {true, 2, 1004, 501, 0, 0, 0, 0, DFTI_STATUS_INCONSISTENT},   // real distance not twice the complex one
        {true, 2, 1002, 501, 0, 0, 0, 0, 0},
        {false, 2, 1000, 500, 0, 0, 0, 0, DFTI_STATUS_INCONSISTENT},  // complex distance below N/2 + 1
        {true, 2, 0, 0, 0, 0, 1, 2, DFTI_STATUS_INCONSISTENT},        // in place with different strides
        // Input/output distances serve both directions: the forward layout fits, the
        // backward one (complex input 1002, real output 501) does not, so the node is refused.
        {true, 2, 0, 0, 1002, 501, 0, 0, DFTI_STATUS_INCONSISTENT},
        {true, 0, 0, 0, 1002, 501, 0, 0, 0},
        {true, 1, 0, 0, 501, 1002, 0, 0, 0},
    };
    for (const c& k : cases) {
        layout l;
        l.n = 1000;
        l.real = true;
        l.batch = 2;
        l.in_place = k.in_place;
        l.directions = k.directions;
        node_ptr node = gpu_test::make_node(l, &q, only);
        ASSERT_TRUE(node);
        dfti_dim& b = node->user_batch.records[0];
        if (k.fd || k.bd) {
            b.fwd_stride = k.fd;
            b.bwd_stride = k.bd;
        } else {
            b.fwd_stride = b.bwd_stride = 0;
            b.input_stride = k.in_d;
            b.output_stride = k.out_d;
        }
        if (k.is || k.os) {
            b.fwd_stride = 1002;
            b.bwd_stride = 501;
            dfti_dim& d = node->user_dims.records[0];
            d.input_stride = k.is;
            d.output_stride = k.os;
        }
        EXPECT_EQ(gpu_test::commit(node.get()), k.expect)
            << "in_place " << k.in_place << " directions " << k.directions << " fd " << k.fd << " in_d " << k.in_d;
        if (k.expect != 0) {
            EXPECT_EQ(node->bkd_data, nullptr);
        }
    }
}

// ---------------------------------------------------------------- chunks and caps

template <class T>
std::vector<T> reals_of(const std::vector<cplx>& v) {
    std::vector<T> r(2 * v.size());
    for (size_t i = 0; i < v.size(); ++i) {
        r[2 * i] = static_cast<T>(v[i].real());
        r[2 * i + 1] = static_cast<T>(v[i].imag());
    }
    return r;
}

// Runs one forward USM compute of `batch` transforms of length n (contiguous)
// on the given record and returns the output reals.
std::vector<double> run_batch(const bkd_ops* rec, int64_t n, int64_t batch, const std::vector<double>& in,
                              sycl::queue& q) {
    one_list list(rec);
    layout l;
    l.n = n;
    l.batch = batch;
    node_ptr node = gpu_test::make_node(l, &q, list.get());
    EXPECT_EQ(gpu_test::commit(node.get()), 0);
    EXPECT_STREQ(bkd_name(node->bkd), bkd_name(rec));
    if (node->bkd != rec) return {};
    double* a = usm_copy(q, in);
    double* b = sycl::malloc_shared<double>(in.size(), q);
    EXPECT_EQ(gpu_test::compute_usm(node.get(), 0, a, b), 0);
    std::vector<double> out(b, b + in.size());
    sycl::free(a, q);
    sycl::free(b, q);
    return out;
}

// 12000 points in double: a scratch row is 192064 bytes, so the 42 MiB cap
// holds 229 transforms and a batch of 230 runs as 229 + 1. The chunked result
// must equal, bit for bit, what the same kernels give unchunked.
TEST(FactorsModulesChunks, ThreeFactsChunkedEqualsUnchunked) {
    ON_QUEN5(q);
    const int64_t n = 12000, batch = 230;
    const auto x = reals_of<double>(gpu_test::random_cplx(static_cast<size_t>(n * batch), 99u));
    const auto all = run_batch(&bkd_c2c_1d_3_facts_d_ops, n, batch, x, q);
    ASSERT_EQ(all.size(), x.size());
    for (int64_t t : {int64_t(0), int64_t(228), int64_t(229)}) {
        std::vector<double> one(x.begin() + 2 * n * t, x.begin() + 2 * n * (t + 1));
        const auto single_run = run_batch(&bkd_c2c_1d_3_facts_d_ops, n, 1, one, q);
        ASSERT_EQ(single_run.size(), one.size());
        EXPECT_TRUE(std::equal(single_run.begin(), single_run.end(), all.begin() + 2 * n * t)) << "transform " << t;
        EXPECT_LT(gpu_test::c2c_batch_error(all.data() + 2 * n * t, n, gpu_test::as_cplx(one), n, n, 1, 0, 1.0),
                  gpu_test::tolerance(false, n));
    }
}

// At the cap: 336 double transforms of 8192 points take exactly 42 MiB of scratch.
TEST(FactorsModulesChunks, EightKAtTheCap) {
    ON_QUEN5(q);
    const int64_t n = 8192, batch = 336;
    const auto x = reals_of<double>(gpu_test::random_cplx(static_cast<size_t>(n * batch), 17u));
    const auto all = run_batch(&bkd_c2c_1d_8k_d_ops, n, batch, x, q);
    ASSERT_EQ(all.size(), x.size());
    const std::vector<cplx> xc = gpu_test::as_cplx(x);
    for (int64_t t : {int64_t(0), int64_t(167), int64_t(335)})
        EXPECT_LT(gpu_test::c2c_batch_error(all.data() + 2 * n * t, n, std::vector<cplx>(xc.begin() + n * t, xc.end()), n,
                                            n, 1, 0, 1.0),
                  gpu_test::tolerance(false, n))
            << "transform " << t;
}

// Real transforms whose batch exceeds the scratch: 8000 points in double make
// sub-transform rows of 64000 bytes, 688 of which fit the cap; 689 transforms
// run as 688 + 1 through the second sub-node. Odd N packs pairs: 1003 points
// make rows of 16048 bytes, 2744 rows (5488 transforms) per chunk, so 5489
// transforms run as 5488 + 1, the last pair without its second member.
TEST(FactorsModulesChunks, RealChunks) {
    ON_QUEN5(q);
    const bkd_ops* const list[] = {&bkd_r2c_1d_main_d_ops, nullptr};
    for (int64_t n : {int64_t(8000), int64_t(1003)}) {
        const int64_t batch = n == 8000 ? 689 : 5489;
        layout l;
        l.n = n;
        l.real = true;
        l.batch = batch;
        node_ptr node = gpu_test::make_node(l, &q, list);
        ASSERT_EQ(gpu_test::commit(node.get()), 0);
        const int64_t h = n / 2 + 1;
        const auto xr = gpu_test::random_real(static_cast<size_t>(n * batch), 55u);
        double* in = usm_copy(q, xr);
        double* out = sycl::malloc_shared<double>(static_cast<size_t>(2 * h * batch), q);
        ASSERT_EQ(gpu_test::compute_usm(node.get(), 0, in, out), 0);
        for (int64_t t : {int64_t(0), batch / 2, batch - 2, batch - 1})
            EXPECT_LT(gpu_test::r2c_batch_error(out + 2 * h * t, h, std::vector<double>(xr.begin() + n * t, xr.end()), n, n,
                                                1, 1.0),
                      gpu_test::tolerance(false, n))
                << "N " << n << " transform " << t;
        sycl::free(in, q);
        sycl::free(out, q);
    }
}

// ---------------------------------------------------------------- ordering

// Two computes of one node in flight on an out-of-order queue, in shuffled
// mode: the second compute's first pass must not overwrite the scratch area
// the first compute's last pass still reads.
struct overlap_case {
    module m;
    int64_t n;
    bool real;
};

std::string describe(const overlap_case& c) { return short_name(c.m.d) + "_" + std::to_string(c.n); }
void PrintTo(const overlap_case& c, std::ostream* os) { *os << describe(c); }

class FactorsModulesOverlap : public ::testing::TestWithParam<overlap_case> {};

TEST_P(FactorsModulesOverlap, BackToBackComputes) {
    const overlap_case c = GetParam();
    ON_QUEN5(q);
    ASSERT_FALSE(q.is_in_order());
    one_list list(c.m.of(false));
    layout l;
    l.n = c.n;
    l.real = c.real;
    l.batch = 2;
    node_ptr node = gpu_test::make_node(l, &q, list.get());
    ASSERT_EQ(gpu_test::commit(node.get()), 0);
    ovxplat::set_shuffle_mode(true);
    const int64_t h = c.n / 2 + 1;
    const size_t in_elems = static_cast<size_t>(c.real ? c.n * 2 : 2 * c.n * 2);
    const size_t out_elems = static_cast<size_t>(c.real ? 2 * h * 2 : 2 * c.n * 2);
    const int rounds = 4;
    std::vector<std::vector<double>> ins;
    std::vector<double*> din, dout;
    std::vector<sycl::event> evs(rounds);
    for (int r = 0; r < rounds; ++r) {
        ins.push_back(gpu_test::random_real(in_elems, 700u + r));
        din.push_back(usm_copy(q, ins.back()));
        dout.push_back(sycl::malloc_shared<double>(out_elems, q));
    }
    for (int r = 0; r < rounds; ++r) ASSERT_EQ(gpu_test::compute_usm(node.get(), 0, din[r], dout[r], &evs[r]), 0);
    for (auto& e : evs) e.wait_and_throw();
    ovxplat::set_shuffle_mode(false);
    for (int r = 0; r < rounds; ++r) {
        const double err = c.real ? gpu_test::r2c_batch_error(dout[r], h, ins[r], c.n, c.n, 2, 1.0)
                                  : gpu_test::c2c_batch_error(dout[r], c.n, gpu_test::as_cplx(ins[r]), c.n, c.n, 2, 0, 1.0);
        EXPECT_LT(err, gpu_test::tolerance(false, c.n)) << "round " << r;
        sycl::free(din[r], q);
        sycl::free(dout[r], q);
    }
}

INSTANTIATE_TEST_SUITE_P(Modules, FactorsModulesOverlap,
                         ::testing::Values(overlap_case{K8, 8192, false},
                                           overlap_case{TH, 12000, false},
                                           overlap_case{RL, 1000, true}),
                         name_of<overlap_case>);

// ---------------------------------------------------------------- failures

// A kernel that cannot be built (double precision on a device without it)
// ends the commit with the build's exception or a failure status; the node
// keeps no block and no compute entries, so nothing can launch a missing
// kernel.
TEST(FactorsModulesFailures, FailedBuildLeavesNothing) {
    OVX_REQUIRE_OPENCL();
    ovxplat::scoped_gpu_profile prof("quen5_nofp64");
    ASSERT_TRUE(prof.ok());
    sycl::queue q{sycl::gpu_selector_v};
    for (const bkd_ops* rec : {&bkd_c2c_1d_2_facts_d_ops, &bkd_c2c_1d_8k_d_ops, &bkd_c2c_1d_3_facts_d_ops}) {
        const bkd_ops* const only[] = {rec, nullptr};
        layout l;
        l.n = rec == &bkd_c2c_1d_8k_d_ops ? 8192 : 96;
        node_ptr node = gpu_test::make_node(l, &q, only);
        int st = 0;
        bool threw = false;
        try {
            st = gpu_test::commit(node.get());
        } catch (const sycl::exception&) {
            threw = true;
        }
        EXPECT_TRUE(threw || st != 0) << bkd_name(rec) << ": a failed build must not end in a committed node";
        EXPECT_NE(st, DFTI_STATUS_NOT_APPLICABLE);
        EXPECT_EQ(node->bkd_data, nullptr);
        EXPECT_EQ(node->compute_fwd, nullptr);
        EXPECT_EQ(node->compute_bwd, nullptr);
    }
}

// ---------------------------------------------------------------- estimators

TEST(FactorsModulesEstimators, MatchTheCommittedNeed) {
    ON_QUEN5(q);
    struct e {
        module m;
        int64_t n, batch;
        const gpu_test::record_estimate* est;
    };
    static const gpu_test::record_estimate e2{&bkd_c2c_1d_2_facts_d_ops};
    static const gpu_test::record_estimate e8{&bkd_c2c_1d_8k_d_ops};
    static const gpu_test::record_estimate e3{&bkd_c2c_1d_3_facts_d_ops};
    for (const e& k : {e{TF, 96, 3, &e2}, e{K8, 8192, 2, &e8},
                       e{TH, 12000, 300, &e3}}) {
        one_list list(k.m.of(false));
        layout l;
        l.n = k.n;
        l.batch = k.batch;
        node_ptr node = gpu_test::make_node(l, &q, list.get());
        ASSERT_EQ(gpu_test::commit(node.get()), 0);
        const int64_t need = static_cast<int64_t>(node->twiddle_workspace_bytes + node->scratch_workspace_bytes);
        EXPECT_EQ(k.est->get_workspace_bytes(dft_workspace_problem{node.get(), &q}), need) << k.n;
    }
    // A problem the backend does not take: -1.
    one_list list(&bkd_c2c_1d_8k_d_ops);
    layout l;
    l.n = 4096;
    node_ptr node = gpu_test::make_node(l, &q, list.get());
    ASSERT_EQ(dfti_normalize_node(node.get()), 0);
    EXPECT_EQ(e8.get_workspace_bytes(dft_workspace_problem{node.get(), &q}), -1);
    EXPECT_EQ(e2.get_workspace_bytes(dft_workspace_problem{node.get(), &q}),
              -1);  // 4096 in double: above 1024
    static const gpu_test::record_estimate er{&bkd_r2c_1d_main_d_ops};
    EXPECT_EQ(er.get_workspace_bytes(dft_workspace_problem{node.get(), &q}), -1);  // complex node
    layout lr;
    lr.n = 1000;
    lr.real = true;
    lr.batch = 3;
    const bkd_ops* const rl[] = {&bkd_r2c_1d_main_d_ops, nullptr};
    node_ptr rnode = gpu_test::make_node(lr, &q, rl);
    ASSERT_EQ(gpu_test::commit(rnode.get()), 0);
    EXPECT_GE(er.get_workspace_bytes(dft_workspace_problem{rnode.get(), &q}),
              static_cast<int64_t>(rnode->twiddle_workspace_bytes + rnode->scratch_workspace_bytes));
}


// An in-order queue (no table dependencies are added) and queue mode 2 (the
// compute entries take the node's queue again at each call).
TEST(FactorsModulesQueues, InOrderAndQueueMode2) {
    OVX_REQUIRE(device_ok(false), "no OpenCL device");
    ovxplat::scoped_gpu_profile prof("quen5");
    sycl::queue first{sycl::gpu_selector_v};
    sycl::queue ordered{sycl::gpu_selector_v, sycl::property::queue::in_order{}};
    struct c {
        module m;
        int64_t n;
        bool real;
        uint32_t mode;
    };
    for (const c& k : {c{K8, 8192, false, 0}, c{TH, 4096, false, 2},
                       c{TF, 96, false, 2}, c{RL, 999, true, 2}}) {
        one_list list(k.m.of(false));
        layout l;
        l.n = k.n;
        l.real = k.real;
        l.batch = 3;
        l.queue_mode = k.mode;
        node_ptr node = gpu_test::make_node(l, k.mode == 0 ? &ordered : &first, list.get());
        ASSERT_EQ(gpu_test::commit(node.get()), 0) << k.n;
        if (k.mode == 2) node->queue = &ordered;  // computes go to the queue the node holds now
        const int64_t h = k.n / 2 + 1;
        const size_t in_elems = static_cast<size_t>(k.real ? k.n * 3 : 2 * k.n * 3);
        const size_t out_elems = static_cast<size_t>(k.real ? 2 * h * 3 : 2 * k.n * 3);
        const auto x = gpu_test::random_real(in_elems, 900u);
        double* in = usm_copy(ordered, x);
        double* out = sycl::malloc_shared<double>(out_elems, ordered);
        ASSERT_EQ(gpu_test::compute_usm(node.get(), 0, in, out), 0);
        const double err = k.real ? gpu_test::r2c_batch_error(out, h, x, k.n, k.n, 3, 1.0)
                                  : gpu_test::c2c_batch_error(out, k.n, gpu_test::as_cplx(x), k.n, k.n, 3, 0, 1.0);
        EXPECT_LT(err, gpu_test::tolerance(false, k.n)) << k.n;
        node.reset();
        sycl::free(in, ordered);
        sycl::free(out, ordered);
    }
}


// The tables as the table kernels write them into a caller's workspace: the
// layouts the kernels read, the angles, and the scale folded into the
// forward tables only (forward scale 0.5, backward scale 1).
TEST(FactorsModulesTables, LayoutAndScale) {
    ON_QUEN5(q);
    const long double pi = 3.141592653589793238462643383279502884L;
    struct c {
        module m;
        int64_t n;
    };
    for (const c& k : {c{TF, 48}, c{K8, 8192}, c{TH, 12000}}) {
        one_list list(k.m.of(false));
        layout l;
        l.n = k.n;
        l.internal_workspace = false;
        l.fwd_scale = 0.5;
        node_ptr node = gpu_test::make_node(l, &q, list.get());
        ASSERT_EQ(gpu_test::commit(node.get()), 0);
        const uint64_t bytes = node->twiddle_workspace_bytes + node->scratch_workspace_bytes;
        char* ws = sycl::malloc_shared<char>(bytes, q);
        std::memset(ws, 0, bytes);
        ASSERT_EQ(gpu_dfti_set_workspace(node.get(), ws, DFTI_CONTAINER_USM), 0);
        q.wait();
        const uint64_t per_dir = node->twiddle_workspace_bytes / 2;
        const double* f = reinterpret_cast<const double*>(ws);
        const double* b = reinterpret_cast<const double*>(ws + per_dir);
        auto check4 = [&](const double* t, int64_t pos, long double half_turns, double scale) {
            const double cv = static_cast<double>(std::cos(half_turns * pi)) * scale;
            const double sv = static_cast<double>(std::sin(half_turns * pi)) * scale;
            EXPECT_NEAR(t[pos], cv, 1e-15);
            EXPECT_EQ(t[pos + 1], t[pos]);
            EXPECT_NEAR(t[pos + 8], sv, 1e-15);
            EXPECT_EQ(t[pos + 9], -t[pos + 8]);
        };
        if (k.m.d == TF.d) {  // 8 x 6: entry (j, k) at (j/4)*16*8 + 16k + 2(j%4)
            for (int64_t j = 0; j < 6; ++j)
                for (int64_t kk = 0; kk < 8; ++kk) {
                    const int64_t e = (j / 4) * 128 + 16 * kk + 2 * (j % 4);
                    check4(b, e, -2.0L * j * kk / 48, 1.0);
                    check4(f, e, -2.0L * j * kk / 48, 0.5);
                }
        } else if (k.m.d == K8.d) {
            const uint64_t c1 = align_workspace_offset(4096, &q), c2 = align_workspace_offset(2048, &q);
            const double* f3 = f + (c1 + c2) / 8;
            const double* b3 = b + (c1 + c2) / 8;
            const double* b1 = b;
            for (int64_t i = 0; i < 16; ++i)
                for (int64_t j = 0; j < 8; ++j) check4(b1, 256 * (j / 4) + 16 * i + 2 * (j % 4), -2.0L * i * j / 128, 1.0);
            for (int64_t n1 : {int64_t(0), int64_t(1), int64_t(37), int64_t(63)})
                for (int64_t t = 0; t < 128; ++t) {
                    const int64_t h = t / 64, r = (t % 64) / 4, p = t % 4;
                    const int64_t k0 = 4 * h + p + 8 * (r / 8) + 16 * (r % 8);
                    const int64_t pos = 512 * n1 + 16 * (t / 4) + 2 * (t % 4);
                    check4(b3, pos, -2.0L * n1 * k0 / 8192, 1.0);
                    check4(f3, pos, -2.0L * n1 * k0 / 8192, 0.5);
                }
            // Class 1 is the same in both directions.
            EXPECT_EQ(0, std::memcmp(f, b, 4096));
        } else {  // 40 x 20 x 15: Class1 entry k0 + 40 m, Class2 entry c2 + 15 k1
            const uint64_t t1 = align_workspace_offset(12000 * 16, &q);
            for (int64_t e : {int64_t(0), int64_t(41), int64_t(5000), int64_t(11999)}) {
                const long double a = -2.0L * (e % 40) * (e / 40) / 12000 * pi;
                EXPECT_NEAR(b[2 * e], static_cast<double>(std::cos(a)), 1e-15);
                EXPECT_NEAR(b[2 * e + 1], static_cast<double>(std::sin(a)), 1e-15);
                EXPECT_NEAR(f[2 * e], 0.5 * b[2 * e], 1e-16);
                EXPECT_NEAR(f[2 * e + 1], 0.5 * b[2 * e + 1], 1e-16);
            }
            const double* f2 = f + t1 / 8;
            const double* b2 = b + t1 / 8;
            for (int64_t e : {int64_t(0), int64_t(16), int64_t(299)}) {
                const long double a = -2.0L * (e % 15) * (e / 15) / 300 * pi;
                EXPECT_NEAR(b2[2 * e], static_cast<double>(std::cos(a)), 1e-15);
                EXPECT_NEAR(b2[2 * e + 1], static_cast<double>(std::sin(a)), 1e-15);
                EXPECT_EQ(f2[2 * e], b2[2 * e]);  // no scale in Class2
            }
        }
        node.reset();
        sycl::free(ws, q);
    }
}


// Backward-only nodes build only the backward kernels and tables: the
// forward entry reports a status instead of launching a missing kernel, the
// backward one computes.
TEST(FactorsModulesLifecycle, BackwardOnly) {
    ON_QUEN5(q);
    struct c {
        module m;
        int64_t n;
        bool real;
    };
    for (const c& k : {c{K8, 8192, false}, c{TH, 4096, false}, c{RL, 1000, true}}) {
        one_list list(k.m.of(false));
        layout l;
        l.n = k.n;
        l.real = k.real;
        l.directions = 1;
        node_ptr node = gpu_test::make_node(l, &q, list.get());
        ASSERT_EQ(gpu_test::commit(node.get()), 0) << k.n;
        const uint64_t one_dir = node->twiddle_workspace_bytes;
        const int64_t h = k.n / 2 + 1;
        const size_t elems = static_cast<size_t>(k.real ? 2 * h : 2 * k.n);
        std::vector<double> x = gpu_test::random_real(elems, 3u);
        if (k.real) x[1] = x[elems - 1] = 0;  // imaginary parts of X[0] and X[N/2]
        double* in = usm_copy(q, x);
        double* out = sycl::malloc_shared<double>(elems + static_cast<size_t>(k.n), q);
        EXPECT_NE(gpu_test::compute_usm(node.get(), 0, in, out), 0) << "forward was not built";
        ASSERT_EQ(gpu_test::compute_usm(node.get(), 1, in, out), 0);
        const double err = k.real ? gpu_test::c2r_batch_error(out, k.n, gpu_test::as_cplx(x), h, k.n, 1, 1.0)
                                  : gpu_test::c2c_batch_error(out, k.n, gpu_test::as_cplx(x), k.n, k.n, 1, 1, 1.0);
        EXPECT_LT(err, gpu_test::tolerance(false, k.n));
        // Both directions double the complex modules' tables (the real backend's
        // table serves both directions).
        node->directions = 2;
        ASSERT_EQ(gpu_test::commit(node.get()), 0);
        if (k.real)
            EXPECT_GE(node->twiddle_workspace_bytes, one_dir);
        else
            EXPECT_EQ(node->twiddle_workspace_bytes, 2 * one_dir);
        node.reset();
        sycl::free(in, q);
        sycl::free(out, q);
    }
}

}  // namespace
