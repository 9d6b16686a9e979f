// The one harness of the GPU backend tests (the FFTW references, data and
// error measures are gpu_test_reference.hpp, host only, shared with the
// kernel-probe and explicit-SIMD driver tests).
//
// gpu_test: nodes with a chosen candidate list on the stand-in GPU, computes
// in USM and buffer form, the check of a committed node against FFTW, the
// device a test needs and a profile with its queue.
//
// md_test: one case is a descriptor of rank 1 to 3 on a device profile (or
// on the CPU queue) with optional strides and distances; it runs forward and
// then backward (on the device's forward result) through the public API in
// USM or buffer form and compares each result with FFTW's guru interface in
// double. The output arrays start filled with a sentinel and carry guard
// elements beyond their ends (and, for USM, before their starts): every
// element outside the layout must keep it. Out of place, the input must come
// back unchanged.
#ifndef TESTS_DFT_GPU_GPU_HARNESS_HPP
#define TESTS_DFT_GPU_GPU_HARNESS_HPP

#include <gtest/gtest.h>
#include <sycl/sycl.hpp>

#include <ovxplat/sycl_standin.hpp>

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dft/gpu/backends.hpp"
#include "dft/gpu/gpu_test_reference.hpp"
#include "dft/node/ovx_dft_node.hpp"
#include "dft/ovx_dft_internal.hpp"
#include "korami/ovx/dft.hpp"
#include "ovx_test_env.hpp"
#include "ovx_test_gpu.hpp"

namespace gpu_test {

// ---- the device a test needs ----------------------------------------------------

// An OpenCL device under the stand-in GPU, with double precision unless the
// test is single precision only.
inline bool device_ok(bool single) {
    if (!ovxplat::opencl_available()) return false;
    if (single) return true;
    sycl::queue q{sycl::gpu_selector_v};
    return q.get_device().has(sycl::aspect::fp64);
}

// A device profile for the life of the object and a GPU queue under it (the
// stand-in's default profile unless named).
struct profile_queue {
    ovxplat::scoped_gpu_profile prof;
    sycl::queue q;
    explicit profile_queue(const char* profile = "quen6") : prof(profile), q(sycl::gpu_selector_v) {}
};

// ---- packed transforms -----------------------------------------------------------

// FFTW over a packed batch of T complex transforms of node-order lengths n
// (innermost first), scaled.
inline std::vector<cplx> packed_reference(const std::vector<std::int64_t>& n, std::int64_t T, bool fwd, double scale,
                                          const std::vector<cplx>& x) {
    std::vector<int> dims(n.rbegin(), n.rend());
    int vol = 1;
    for (int v : dims) vol *= v;
    std::vector<cplx> a = x, o(x.size());
    fftw_plan p = fftw_plan_many_dft(static_cast<int>(dims.size()), dims.data(), static_cast<int>(T),
                                     reinterpret_cast<fftw_complex*>(a.data()), nullptr, 1, vol,
                                     reinterpret_cast<fftw_complex*>(o.data()), nullptr, 1, vol,
                                     fwd ? FFTW_FORWARD : FFTW_BACKWARD, FFTW_ESTIMATE);
    fftw_execute(p);
    fftw_destroy_plan(p);
    for (auto& v : o) v *= scale;
    return o;
}

// ---- nodes ---------------------------------------------------------------------

struct node_deleter {
    void operator()(DFTI_DESCRIPTOR* n) const {
        if (n) n->methods->destroy(n);
    }
};
using node_ptr = std::unique_ptr<DFTI_DESCRIPTOR, node_deleter>;

// Fields of the node every layout sets.
struct node_fields {
    bool in_place = false;
    int directions = 2;
    double fwd_scale = 1.0, bwd_scale = 1.0;
    bool internal_workspace = true;
    uint32_t queue_mode = 0;
};

// A contiguous 1D layout, complex or real: `batch` transforms at the given
// distances (0: contiguous for the domain).
struct simple_layout : node_fields {
    int64_t n = 0;
    bool single = false;
    bool real = false;
    int64_t batch = 1;
    int64_t fwd_distance = 0, bwd_distance = 0;
};

// A strided complex 1D layout: forward-domain stride/distances (fs, idist)
// and backward-domain ones (bs, odist).
struct layout : node_fields {
    int64_t n = 0;
    bool single = false;
    int64_t fs = 1, bs = 1;
    std::vector<rec> batch{{1, 0, 0}};
    int64_t colbatch_group_count = 0;
    // Input/output strides and distances instead of forward/backward ones:
    // both directions read the (fs, idist) side and write the (bs, odist) side.
    bool io = false;
};

inline void set_fields(DFTI_DESCRIPTOR* node, const node_fields& l, sycl::queue* q, const bkd_ops* const* list) {
    node->placement = l.in_place ? DFTI_INPLACE : DFTI_NOT_INPLACE;
    node->forward_scale = l.fwd_scale;
    node->backward_scale = l.bwd_scale;
    node->queue = q;
    node->queue_mode = l.queue_mode;
    node->directions = l.directions;
    node->internal_workspace = l.internal_workspace ? 1u : 0u;
    node->bkdlist = list;
}

// Creates the node with the given list (null-terminated), fills the layout and
// the queue; the commit is left to the caller.
inline node_ptr make_node(const simple_layout& l, sycl::queue* q, const bkd_ops* const* list) {
    DFTI_DESCRIPTOR* raw = nullptr;
    int st;
    if (l.real)
        st = l.single ? gpu_dfti_create_sr1d(&raw, l.n, nullptr) : gpu_dfti_create_dr1d(&raw, l.n, nullptr);
    else
        st = l.single ? gpu_dfti_create_sc1d(&raw, l.n, nullptr) : gpu_dfti_create_dc1d(&raw, l.n, nullptr);
    if (st != 0 || !raw) return node_ptr();
    node_ptr node(raw);
    node->user_dims.records[0] = dfti_dim{l.n, 0, 0, 1, 1};
    const int64_t cplx_len = l.n / 2 + 1;
    int64_t fd = l.fwd_distance, bd = l.bwd_distance;
    if (fd == 0) fd = l.real ? (l.in_place ? 2 * cplx_len : l.n) : l.n;
    if (bd == 0) bd = l.real ? cplx_len : l.n;
    node->user_batch.records[0] = dfti_dim{l.batch, 0, 0, fd, bd};
    set_fields(node.get(), l, q, list);
    return node;
}

inline node_ptr make_node(const layout& l, sycl::queue* q, const bkd_ops* const* list) {
    DFTI_DESCRIPTOR* raw = nullptr;
    const int st = l.single ? gpu_dfti_create_sc1d(&raw, l.n, nullptr) : gpu_dfti_create_dc1d(&raw, l.n, nullptr);
    if (st != 0 || !raw) return node_ptr();
    node_ptr node(raw);
    dfti_dim& d = node->user_dims.records[0];
    d.input_stride = l.io ? l.fs : 0;
    d.output_stride = l.io ? l.bs : 0;
    d.fwd_stride = l.io ? 0 : l.fs;
    d.bwd_stride = l.io ? 0 : l.bs;
    for (std::size_t i = 0; i < l.batch.size(); ++i)
        node->user_batch.records[i] = l.io ? dfti_dim{l.batch[i].count, l.batch[i].idist, l.batch[i].odist, 0, 0}
                                           : dfti_dim{l.batch[i].count, 0, 0, l.batch[i].idist, l.batch[i].odist};
    set_fields(node.get(), l, q, list);
    node->colbatch_group_count = l.colbatch_group_count;
    return node;
}

inline int commit(DFTI_DESCRIPTOR* node) { return node->methods->commit(node); }

// The workspace estimate of one record (bkd_ops::estimate): its bytes for
// the problem, -1 when the record does not take it (or there is no record,
// or it estimates nothing).
struct record_estimate {
    const bkd_ops* record;
    int64_t get_workspace_bytes(const dft_workspace_problem& p) const {
        if (!record || !record->estimate) return -1;
        return record->estimate(record, p.node, p.queue);
    }
};

// Name of the record that owns the node, "none" without one.
inline std::string owner_of(const DFTI_DESCRIPTOR* node) { return node && node->bkd ? bkd_name(node->bkd) : "none"; }
inline std::string owner_of(const node_ptr& node) { return owner_of(node.get()); }

// One compute in USM form; waits for the event unless the caller takes it.
inline int compute_usm(DFTI_DESCRIPTOR* node, int dir, void* in, void* out, sycl::event* ev = nullptr,
                       std::vector<sycl::event>* deps = nullptr) {
    dfti_data_kind k{DFTI_CONTAINER_USM};
    dfti_compute_fn f = dir == 0 ? node->compute_fwd : node->compute_bwd;
    if (!f) return -1;
    sycl::event e;
    const int st = f(node, in, out, deps, &k, &e);
    if (ev)
        *ev = e;
    else if (st == 0)
        e.wait_and_throw();
    return st;
}

// One compute in buffer form.
inline int compute_buffer(DFTI_DESCRIPTOR* node, int dir, sycl::buffer<char, 1>* in, sycl::buffer<char, 1>* out) {
    dfti_data_kind k{DFTI_CONTAINER_BUFFER};
    dfti_compute_fn f = dir == 0 ? node->compute_fwd : node->compute_bwd;
    if (!f) return -1;
    sycl::event e;
    return f(node, in, out, nullptr, &k, &e);
}

// Runs one compute of a committed node on host data, in USM (shared
// allocations) or buffer form. In place the input array (sized for the
// larger side) is the output; out of place the output array starts as `out`.
// Returns the output's first out.size() elements and the compute status.
template <class T>
std::vector<T> compute_host(DFTI_DESCRIPTOR* node, sycl::queue& q, int dir, bool usm, bool in_place,
                            const std::vector<T>& in, const std::vector<T>& out, int& status) {
    std::vector<T> hin = in, hout = out;
    if (usm) {
        T* a = sycl::malloc_shared<T>(std::max<std::size_t>(hin.size(), 1), q);
        T* b = in_place ? a : sycl::malloc_shared<T>(std::max<std::size_t>(hout.size(), 1), q);
        std::copy(hin.begin(), hin.end(), a);
        if (!in_place) std::copy(hout.begin(), hout.end(), b);
        status = compute_usm(node, dir, a, b);
        std::copy(b, b + hout.size(), hout.begin());
        sycl::free(a, q);
        if (!in_place) sycl::free(b, q);
        return hout;
    }
    {
        sycl::buffer<char, 1> a(reinterpret_cast<char*>(hin.data()), sycl::range<1>(hin.size() * sizeof(T)));
        sycl::buffer<char, 1> b(reinterpret_cast<char*>(hout.data()),
                                sycl::range<1>(std::max<std::size_t>(hout.size(), 1) * sizeof(T)));
        status = compute_buffer(node, dir, &a, in_place ? &a : &b);
    }
    if (in_place) std::copy(hin.begin(), hin.begin() + static_cast<std::ptrdiff_t>(hout.size()), hout.begin());
    return hout;
}

inline int64_t extent(const layout& l, bool fwd_side) {
    return extent(l.n, fwd_side ? l.fs : l.bs, l.batch, !fwd_side);
}

// FFTW over the layout; dir 0 reads the forward side and writes the backward
// side with sign -1, dir 1 the other way with +1.
inline void reference(const layout& l, int dir, double scale, const std::vector<cplx>& in, std::vector<cplx>& out) {
    const int sign = dir == 0 ? -1 : 1;
    if (l.io) dir = 0;  // same sides in both directions
    std::vector<rec> batch = l.batch;
    if (dir == 1)
        for (rec& r : batch) std::swap(r.idist, r.odist);
    strided_reference(l.n, dir == 0 ? l.fs : l.bs, dir == 0 ? l.bs : l.fs, batch, sign, scale, in, out);
}

// Runs both directions of a committed node in USM form (and buffer form when
// `buffers`), compares with FFTW; returns the worst error, -1 on a failed
// compute status.
template <class R>
double check_node(DFTI_DESCRIPTOR* node, const layout& l, sycl::queue& q, bool buffers, unsigned seed = 7) {
    using C = std::complex<R>;
    const std::size_t size = static_cast<std::size_t>(std::max(extent(l, true), extent(l, false)));
    double worst = 0;
    for (int dir = 0; dir < 2; ++dir) {
        if (!(l.directions == 2 || l.directions == dir)) continue;
        const double scale = static_cast<double>(static_cast<R>(dir == 0 ? l.fwd_scale : l.bwd_scale));
        const std::vector<C> x = random_data<R>(size, seed + dir);
        const std::vector<C> sentinel = random_data<R>(size, 99u);
        std::vector<cplx> ref = l.in_place ? widen(x) : widen(sentinel);
        reference(l, dir, scale, widen(x), ref);
        for (int form = 0; form < (buffers ? 2 : 1); ++form) {
            int st = 0;
            const std::vector<C> got = compute_host(node, q, dir, form == 0, l.in_place, x, sentinel, st);
            if (st != 0) return -1;
            worst = gpu_test::worse(worst, rel_error(got, ref));
        }
    }
    return worst;
}

// check_node as an assertion: both directions computed and within the
// precision's tolerance.
template <class R>
::testing::AssertionResult matches_fftw(DFTI_DESCRIPTOR* node, const layout& l, sycl::queue& q, bool buffers,
                                        unsigned seed = 7) {
    const double err = check_node<R>(node, l, q, buffers, seed);
    if (err >= 0 && err <= tolerance<R>()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "N=" << l.n << (err < 0 ? ": a compute failed" : ": error ") << err
                                         << " above " << tolerance<R>();
}

// ---- through the public API ------------------------------------------------------

template <korami::ovx::dft::precision P>
using api_descriptor = korami::ovx::dft::descriptor<P, korami::ovx::dft::domain::COMPLEX>;

// Sets the layout (first batch record) and the scales on a descriptor.
template <korami::ovx::dft::precision P>
void configure(api_descriptor<P>& d, const layout& l) {
    namespace dft = korami::ovx::dft;
    d.set_value(dft::config_param::PLACEMENT, l.in_place ? dft::config_value::INPLACE : dft::config_value::NOT_INPLACE);
    d.set_value(dft::config_param::NUMBER_OF_TRANSFORMS, l.batch[0].count);
    d.set_value(dft::config_param::FWD_STRIDES, std::vector<std::int64_t>{0, l.fs});
    d.set_value(dft::config_param::BWD_STRIDES, std::vector<std::int64_t>{0, l.bs});
    d.set_value(dft::config_param::FWD_DISTANCE, l.batch[0].idist);
    d.set_value(dft::config_param::BWD_DISTANCE, l.batch[0].odist);
    d.set_value(dft::config_param::FORWARD_SCALE, l.fwd_scale);
    d.set_value(dft::config_param::BACKWARD_SCALE, l.bwd_scale);
}

// Runs both directions of a committed descriptor of the layout in USM and
// buffer form and compares each with FFTW; inputs from seed_x + direction,
// the output arrays start from seed_s; `what` names the case.
template <korami::ovx::dft::precision P>
void expect_api_matches(api_descriptor<P>& desc, const layout& l, sycl::queue& q, unsigned seed_x, unsigned seed_s,
                        const std::string& what) {
    namespace dft = korami::ovx::dft;
    using R = std::conditional_t<P == dft::precision::DOUBLE, double, float>;
    using C = std::complex<R>;
    const std::size_t size = static_cast<std::size_t>(std::max(extent(l, true), extent(l, false)));
    for (int dir = 0; dir < 2; ++dir) {
        const double scale = static_cast<double>(static_cast<R>(dir == 0 ? l.fwd_scale : l.bwd_scale));
        const std::vector<C> x = random_data<R>(size, seed_x + dir);
        const std::vector<C> sentinel = random_data<R>(size, seed_s);
        std::vector<cplx> ref = l.in_place ? widen(x) : widen(sentinel);
        reference(l, dir, scale, widen(x), ref);
        for (int form = 0; form < 2; ++form) {
            std::vector<C> got(size);
            if (form == 0) {
                C* a = sycl::malloc_shared<C>(size, q);
                C* b = sycl::malloc_shared<C>(size, q);
                std::copy(x.begin(), x.end(), a);
                std::copy(sentinel.begin(), sentinel.end(), b);
                sycl::event e = l.in_place ? (dir == 0 ? dft::compute_forward(desc, a) : dft::compute_backward(desc, a))
                                           : (dir == 0 ? dft::compute_forward(desc, a, b)
                                                       : dft::compute_backward(desc, a, b));
                e.wait();
                const C* r = l.in_place ? a : b;
                std::copy(r, r + size, got.begin());
                sycl::free(a, q);
                sycl::free(b, q);
            } else {
                std::vector<C> hx = x, hy = sentinel;
                {
                    sycl::buffer<C, 1> a(hx.data(), sycl::range<1>(size));
                    sycl::buffer<C, 1> b(hy.data(), sycl::range<1>(size));
                    if (l.in_place)
                        dir == 0 ? dft::compute_forward(desc, a) : dft::compute_backward(desc, a);
                    else
                        dir == 0 ? dft::compute_forward(desc, a, b) : dft::compute_backward(desc, a, b);
                }
                got = l.in_place ? hx : hy;
            }
            EXPECT_LE(rel_error(got, ref), tolerance<R>())
                << what << (dir == 0 ? " forward" : " backward") << (form == 0 ? " usm" : " buffer");
        }
    }
}

}  // namespace gpu_test

// Returns from the test unless the OpenCL device is there (with double
// precision for a double-precision test).
#define GPU_REQUIRE_DEVICE(single) OVX_REQUIRE(gpu_test::device_ok(single), "no OpenCL device (or no fp64)")

namespace md_test {

namespace dft = korami::ovx::dft;
using gpu_test::cplx;
using vec = std::vector<std::int64_t>;

struct md_case {
    const char* profile;
    bool real, single;
    vec n;                  // API order, outermost first
    std::int64_t batch = 1;
    bool in_place = false;
    bool usm = true;
    vec fs, bs;             // forward/backward-side strides (API form: offset first); empty: defaults
    std::int64_t fd = 0, bd = 0;  // distances; 0: packed after the last element
    bool io = false;        // set the strides as INPUT/OUTPUT_STRIDES (FWD/BWD keep their defaults)
    const char* owner = ""; // owning record without "bkd_" and "_ops"; null: not checked (CPU queues)
    bool shuffle = false;
    double sf = 1.0 / 3, sb = 0;  // sb 0: 1/N
    bool cpu = false;       // on the CPU queue (the profile is not used)
    int refused = -1;       // what the GPU does not prepare: 0 forward, 1 backward, 2 the layout (commit refuses)
    std::int64_t tail = 0;  // sentinel elements after every array (checked out of place)
    std::function<void(const DFTI_DESCRIPTOR*)> after_commit;  // checks of the committed node, may be empty
};

inline std::string name_of(const md_case& c) {
    std::string s = std::string(c.real ? "r" : "c");
    for (std::size_t i = 0; i < c.n.size(); ++i) s += (i ? "x" : "") + std::to_string(c.n[i]);
    s += std::string(c.single ? "s" : "d") + "_b" + std::to_string(c.batch) + (c.in_place ? "_ip" : "_oop") +
         (c.usm ? "_usm" : "_buf") + (c.fs.empty() ? "" : (c.io ? "_iostrides" : "_strides")) +
         (c.fd || c.bd ? "_dist" + std::to_string(c.fd) + "_" + std::to_string(c.bd) : "") + "_" +
         (c.cpu ? "cpu" : c.profile) + (c.shuffle ? "_shuffled" : "") + (c.tail ? "_tail" : "");
    return s;
}

inline void PrintTo(const md_case& c, std::ostream* os) { *os << name_of(c); }

using gpu_test::device_ok;


// One side of a case in elements of that side, innermost first.
struct side {
    vec len, stride;
    std::int64_t dist = 0, count = 1;
    std::vector<std::int64_t> offsets() const {
        std::vector<std::int64_t> o{0};
        for (std::size_t i = 0; i < len.size(); ++i) {
            std::vector<std::int64_t> next;
            for (std::int64_t k = 0; k < len[i]; ++k)
                for (std::int64_t v : o) next.push_back(v + k * stride[i]);
            o.swap(next);
        }
        std::vector<std::int64_t> all;
        for (std::int64_t t = 0; t < count; ++t)
            for (std::int64_t v : o) all.push_back(v + t * dist);
        return all;
    }
    std::size_t extent() const {
        const auto o = offsets();
        return static_cast<std::size_t>(*std::max_element(o.begin(), o.end()) + 1);
    }
};

// Forward side (real or complex) and backward side of a case.
inline void sides_of(const md_case& c, side& f, side& b) {
    const int r = static_cast<int>(c.n.size());
    f = b = side{};
    for (int i = 0; i < r; ++i) f.len.push_back(c.n[r - 1 - i]);
    b.len = f.len;
    if (c.real) b.len[0] = f.len[0] / 2 + 1;
    std::int64_t fp = 1, bp = 1;
    for (int i = 0; i < r; ++i) {
        f.stride.push_back(c.fs.empty() ? fp : c.fs[r - i]);
        b.stride.push_back(c.bs.empty() ? bp : c.bs[r - i]);
        fp *= i == 0 && c.real && c.in_place ? 2 * b.len[0] : f.len[i];
        bp *= b.len[i];
    }
    f.dist = c.fd ? c.fd : (c.fs.empty() ? fp : static_cast<std::int64_t>(f.extent()));
    b.dist = c.bd ? c.bd : (c.bs.empty() ? bp : static_cast<std::int64_t>(b.extent()));
    f.count = b.count = c.batch;
}

// FFTW (guru interface) over the layouts, scaled; elements of `out` outside
// the `to` layout keep their values.
inline void reference(const md_case& c, const side& from, const side& to, bool fwd, double scale,
                      const std::vector<cplx>& in, std::vector<cplx>& out) {
    const int r = static_cast<int>(c.n.size());
    std::vector<fftw_iodim> d(r);
    for (int i = 0; i < r; ++i)  // outermost first, real-side lengths
        d[i] = {static_cast<int>(c.n[i]), static_cast<int>(from.stride[r - 1 - i]), static_cast<int>(to.stride[r - 1 - i])};
    fftw_iodim how{static_cast<int>(c.batch), static_cast<int>(from.dist), static_cast<int>(to.dist)};
    std::vector<cplx> a = in, o(out.size());
    std::vector<double> ra(in.size()), ro(out.size());
    for (std::size_t i = 0; i < in.size(); ++i) ra[i] = in[i].real();
    auto* ca = reinterpret_cast<fftw_complex*>(a.data());
    auto* co = reinterpret_cast<fftw_complex*>(o.data());
    fftw_plan p = !c.real ? fftw_plan_guru_dft(r, d.data(), 1, &how, ca, co, fwd ? FFTW_FORWARD : FFTW_BACKWARD, FFTW_ESTIMATE)
                  : fwd   ? fftw_plan_guru_dft_r2c(r, d.data(), 1, &how, ra.data(), co, FFTW_ESTIMATE)
                          : fftw_plan_guru_dft_c2r(r, d.data(), 1, &how, ca, ro.data(), FFTW_ESTIMATE);
    fftw_execute(p);
    fftw_destroy_plan(p);
    for (std::int64_t k : to.offsets()) out[k] = (c.real && !fwd ? cplx(ro[k]) : o[k]) * scale;
}

// Host arrays hold real scalars; a complex side is interleaved (the API takes
// real scalars for complex data).
template <class T>
std::vector<T> pack(const std::vector<cplx>& x, int width, std::size_t scalars) {
    std::vector<T> v(scalars, T(7));
    for (std::size_t i = 0; i < x.size(); ++i)
        for (int j = 0; j < width; ++j) v[width * i + j] = static_cast<T>(j ? x[i].imag() : x[i].real());
    return v;
}
template <class T>
std::vector<cplx> unpack(const std::vector<T>& v, int width, std::size_t n) {
    std::vector<cplx> x(n);
    for (std::size_t i = 0; i < n; ++i) x[i] = width == 1 ? cplx(v[i]) : cplx(v[2 * i], v[2 * i + 1]);
    return x;
}

// The values as a device of precision T sees them: rounded through an array
// of T (a conversion the compiler cannot fold away).
template <class T>
std::vector<cplx> as_seen(const std::vector<cplx>& x) {
    return unpack(pack<T>(x, 2, 2 * x.size()), 2, x.size());
}

// Guard scalars around the arrays a compute writes (a multiple of 64 bytes
// in either precision, so that the data keep their alignment).
constexpr std::size_t kGuard = 32;

// One compute with guards, whatever runs it: from `in` into a sentinel-filled
// output of `out_n` scalars (in place the whole input array is returned).
// `usm_compute(in, out)` submits the compute on USM arrays and returns its
// event; `buffer_compute(in, out)` runs it on buffers. The guards around the
// written array must keep the sentinel, and out of place the input must not
// change.
template <class T, class UsmCompute, class BufferCompute>
std::vector<T> run_guarded(sycl::queue& q, bool in_place, bool usm, const char* what, std::vector<T> in,
                           std::size_t out_n, UsmCompute usm_compute, BufferCompute buffer_compute) {
    const std::vector<T> given = in;
    std::vector<T> out(in_place ? 1 : out_n, T(7));
    // The arrays as allocated, guards included: [lead][data][tail].
    const std::size_t lead = usm ? kGuard : 0;
    std::vector<T> whole_in(lead + in.size() + kGuard, T(7)), whole_out(lead + out.size() + kGuard, T(7));
    std::copy(in.begin(), in.end(), whole_in.begin() + lead);
    if (usm) {
        T* a = sycl::malloc_shared<T>(whole_in.size(), q);
        T* o = in_place ? a : sycl::malloc_shared<T>(whole_out.size(), q);
        std::copy(whole_in.begin(), whole_in.end(), a);
        if (!in_place) std::copy(whole_out.begin(), whole_out.end(), o);
        sycl::event e = usm_compute(a + lead, o + lead);
        e.wait_and_throw();
        std::copy(a, a + whole_in.size(), whole_in.begin());
        if (!in_place) std::copy(o, o + whole_out.size(), whole_out.begin());
        sycl::free(a, q);
        if (!in_place) sycl::free(o, q);
    } else {
        sycl::buffer<T, 1> a{whole_in.data(), sycl::range<1>(whole_in.size())},
            o{whole_out.data(), sycl::range<1>(whole_out.size())};
        buffer_compute(a, in_place ? a : o);
    }
    std::copy(whole_in.begin() + lead, whole_in.begin() + lead + in.size(), in.begin());
    std::copy(whole_out.begin() + lead, whole_out.begin() + lead + out.size(), out.begin());
    const std::vector<T>& written = in_place ? whole_in : whole_out;
    const std::size_t data = in_place ? in.size() : out.size();
    std::size_t guards = 0;
    for (std::size_t k = 0; k < written.size(); ++k) guards += (k < lead || k >= lead + data) && written[k] != T(7);
    EXPECT_EQ(guards, 0u) << what << ": guard elements around the output written";
    if (!in_place) {
        EXPECT_TRUE(in == given) << what << ": the input of an out-of-place transform changed";
    }
    return in_place ? in : out;
}

// One compute of a descriptor through the public API (run_guarded).
template <class T, class D>
std::vector<T> run(D& desc, sycl::queue& q, const md_case& c, bool fwd, std::vector<T> in, std::size_t out_n) {
    return run_guarded<T>(
        q, c.in_place, c.usm, fwd ? "forward" : "backward", std::move(in), out_n,
        [&](T* a, T* o) {
            return c.in_place ? (fwd ? dft::compute_forward(desc, a) : dft::compute_backward(desc, a))
                              : (fwd ? dft::compute_forward(desc, a, o) : dft::compute_backward(desc, a, o));
        },
        [&](sycl::buffer<T, 1>& a, sycl::buffer<T, 1>& o) {
            if (c.in_place)
                fwd ? dft::compute_forward(desc, a) : dft::compute_backward(desc, a);
            else
                fwd ? dft::compute_forward(desc, a, o) : dft::compute_backward(desc, a, o);
        });
}

// Commits the case's layout (scales, batch, distances, placement, strides).
template <class T, class D>
void configure(const md_case& c, D& desc, const side& f, const side& b, double sb) {
    desc.set_value(dft::config_param::FORWARD_SCALE, static_cast<T>(c.sf));
    desc.set_value(dft::config_param::BACKWARD_SCALE, static_cast<T>(sb));
    desc.set_value(dft::config_param::NUMBER_OF_TRANSFORMS, c.batch);
    desc.set_value(dft::config_param::FWD_DISTANCE, f.dist);
    desc.set_value(dft::config_param::BWD_DISTANCE, b.dist);
    desc.set_value(dft::config_param::PLACEMENT, c.in_place ? dft::config_value::INPLACE : dft::config_value::NOT_INPLACE);
    if (!c.fs.empty()) {
        desc.set_value(c.io ? dft::config_param::INPUT_STRIDES : dft::config_param::FWD_STRIDES, c.fs);
        desc.set_value(c.io ? dft::config_param::OUTPUT_STRIDES : dft::config_param::BWD_STRIDES, c.bs);
    }
}

// The result of a case against the reference: within the tolerance of the
// precision on the layout `s` and, out of place, nothing outside it written.
// In place the gaps hold what the transforms left there: only the layout counts.
inline void expect_match(const md_case& c, const std::vector<cplx>& got, const std::vector<cplx>& ref, const side& s,
                         const char* what) {
    std::int64_t N = 1;
    for (auto x : c.n) N *= x;
    double err = 0, mag = 1e-300;
    std::vector<char> in_layout(got.size(), 0);
    for (std::int64_t k : s.offsets()) {
        in_layout[k] = 1;
        err = gpu_test::worse(err, std::abs(got[k] - ref[k]));
        mag = std::max(mag, std::abs(ref[k]));
    }
    EXPECT_LT(err / mag, gpu_test::tolerance(c.single, N) * 4) << what;
    std::size_t touched = 0;
    for (std::size_t k = 0; k < got.size() && !c.in_place; ++k) touched += !in_layout[k] && got[k] != ref[k];
    EXPECT_EQ(touched, 0u) << what << ": elements outside the layout written";
}

// Forward against FFTW, then backward of the device's forward result against
// FFTW, of a descriptor committed for the case (in the case's form: USM or
// buffers), and (out of place) no element outside a layout written.
template <class T, class D>
void round_trip(const md_case& c, D& desc, sycl::queue& q) {
    side f, b;
    sides_of(c, f, b);
    std::int64_t N = 1;
    for (auto x : c.n) N *= x;
    const double sb = c.sb ? c.sb : 1.0 / static_cast<double>(N);
    const int fw = c.real ? 1 : 2;
    const std::size_t tail = static_cast<std::size_t>(c.tail);
    const std::size_t fe = f.extent() + tail, be = b.extent() + tail, area = std::max(fe * fw, be * 2);
    std::vector<cplx> x(fe, cplx(7, fw == 1 ? 0 : 7)), mid(be, cplx(7, 7)), back = x;
    const auto rnd = gpu_test::random_cplx(fe, 11u);
    for (std::int64_t k : f.offsets()) x[k] = cplx(rnd[k].real(), c.real ? 0.0 : rnd[k].imag());
    x = as_seen<T>(x);
    reference(c, f, b, true, c.sf, x, mid);
    std::vector<T> m = run<T>(desc, q, c, true, pack<T>(x, fw, c.in_place ? area : fe * fw), be * 2);
    const std::vector<cplx> got_mid = unpack(m, 2, be);
    reference(c, b, f, false, sb, got_mid, back);
    if (c.io) {  // input strides follow the data: the backward input is the complex side
        desc.set_value(dft::config_param::INPUT_STRIDES, c.bs);
        desc.set_value(dft::config_param::OUTPUT_STRIDES, c.fs);
        desc.commit(q);
    }
    const std::vector<cplx> got_back = unpack(run<T>(desc, q, c, false, m, fe * fw), fw, fe);
    expect_match(c, got_mid, mid, b, "forward");
    expect_match(c, got_back, back, f, "backward");
}

// The record that owns a node, as the case names it ("bkd_" + owner + "_ops").
inline std::string record_name(const char* owner) { return "bkd_" + std::string(owner) + "_ops"; }

// Runs a case: owner, forward against FFTW, backward of the device's forward
// result against FFTW, and (out of place) no element outside a layout written.
// A layout the GPU refuses must end in `unimplemented` at commit.
template <class T, class D>
void check(const md_case& c, D& desc, sycl::queue& q) {
    side f, b;
    sides_of(c, f, b);
    std::int64_t N = 1;
    for (auto x : c.n) N *= x;
    const double sb = c.sb ? c.sb : 1.0 / static_cast<double>(N);
    configure<T>(c, desc, f, b, sb);
    if (c.refused == 2) {
        EXPECT_THROW(desc.commit(q), korami::ovx::unimplemented);
        return;
    }
    desc.commit(q);
    // The CPU queue has no backend record; a null owner is not checked.
    if (c.owner) {
        EXPECT_STREQ(bkd_name(dft::detail::descriptor_node(desc)->bkd), c.cpu ? "none" : record_name(c.owner).c_str());
    }
    if (c.after_commit) c.after_commit(dft::detail::descriptor_node(desc));
    round_trip<T>(c, desc, q);
}

// The queue of a case: the CPU queue, or the GPU under the case's profile
// (held by `prof`).
inline sycl::queue queue_of(const md_case& c, std::optional<ovxplat::scoped_gpu_profile>& prof) {
    if (c.cpu) return sycl::queue{sycl::cpu_selector_v};
    prof.emplace(c.profile);
    return sycl::queue{sycl::gpu_selector_v};
}

inline void run_case(const md_case& c) {
    if (!c.cpu) GPU_REQUIRE_DEVICE(c.single);
    std::optional<ovxplat::scoped_gpu_profile> prof;
    sycl::queue q = queue_of(c, prof);
    if (prof) {
        ASSERT_TRUE(prof->ok()) << c.profile;
    }
    ovxplat::set_shuffle_mode(c.shuffle);
    using P = dft::precision;
    using Dm = dft::domain;
    if (c.single && c.real) {
        dft::descriptor<P::SINGLE, Dm::REAL> d(c.n);
        check<float>(c, d, q);
    } else if (c.single) {
        dft::descriptor<P::SINGLE, Dm::COMPLEX> d(c.n);
        check<float>(c, d, q);
    } else if (c.real) {
        dft::descriptor<P::DOUBLE, Dm::REAL> d(c.n);
        check<double>(c, d, q);
    } else {
        dft::descriptor<P::DOUBLE, Dm::COMPLEX> d(c.n);
        check<double>(c, d, q);
    }
    ovxplat::set_shuffle_mode(false);
}

}  // namespace md_test


namespace gpu_test {

// ---- packed 1D batches through the public API ---------------------------------------

// A case is a packed batch of 1D transforms (complex, or real with the
// conjugate-even half) committed on a device profile: the record that must
// own it, then the forward transform of random data and the backward
// transform of the device's forward result (scales 0.5 and 1/N) in USM form
// (the backward depending on the forward's event) or buffer form, in place
// or out of place, each transform against FFTW.

// A backend by its two records. Owner checks and test names use the records'
// names.
struct backend {
    const bkd_ops* s;
    const bkd_ops* d;
    const bkd_ops* of(bool single) const { return single ? s : d; }
};

// "bkd_c2c_1d_2_facts_s_ops" -> "c2c_1d_2_facts_s".
inline std::string short_name(const bkd_ops* r) {
    const std::string n = bkd_name(r);
    return n.substr(4, n.size() - 8);
}

struct api_case {
    bool real;
    bool single;
    std::int64_t n, batch;
    bool in_place;
    bool usm;
    const char* profile;
    bool shuffle;
    backend expected;
};

inline std::string describe(const api_case& c) {
    return std::string(c.real ? "r" : "c") + std::to_string(c.n) + (c.single ? "s" : "d") + "_b" +
           std::to_string(c.batch) + (c.in_place ? "_ip" : "_oop") + (c.usm ? "_usm" : "_buf") + "_" + c.profile +
           (c.shuffle ? "_shuffled" : "") + "_" + short_name(c.expected.of(c.single));
}
// Test names, and the parameter as CTest lists it.
inline std::string api_case_name(const ::testing::TestParamInfo<api_case>& i) { return describe(i.param); }
inline void PrintTo(const api_case& c, std::ostream* os) { *os << describe(c); }

// Element counts of the two sides of a case (in elements of each side's type).
struct api_sides {
    std::int64_t fwd_dist, bwd_dist;  // distance on the forward (input) and backward side
    std::size_t fwd_elems, bwd_elems;
};

inline api_sides sides_of(const api_case& c) {
    api_sides s{};
    const std::int64_t h = c.n / 2 + 1;
    if (c.real) {
        s.fwd_dist = c.in_place ? 2 * h : c.n;
        s.bwd_dist = h;
    } else {
        s.fwd_dist = c.n;
        s.bwd_dist = c.n;
    }
    s.fwd_elems = static_cast<std::size_t>(s.fwd_dist * c.batch);
    s.bwd_elems = static_cast<std::size_t>(s.bwd_dist * c.batch);
    return s;
}

// Runs the forward transform of `x` and then the backward transform of the
// result; returns both results as complex values (real sides widened).
template <korami::ovx::dft::precision P, korami::ovx::dft::domain D>
void run_api_case(const api_case& c, const std::vector<cplx>& x, std::vector<cplx>& fwd_out,
                  std::vector<cplx>& bwd_out, double sf, double sb) {
    using T = std::conditional_t<P == korami::ovx::dft::precision::DOUBLE, double, float>;
    using C = std::complex<T>;
    constexpr bool real = D == korami::ovx::dft::domain::REAL;
    using FT = std::conditional_t<real, T, C>;  // forward-side element type
    ovxplat::scoped_gpu_profile prof(c.profile);
    ASSERT_TRUE(prof.ok()) << c.profile;
    sycl::queue q{sycl::gpu_selector_v};
    korami::ovx::dft::descriptor<P, D> desc(c.n);
    const api_sides s = sides_of(c);
    desc.set_value(korami::ovx::dft::config_param::FORWARD_SCALE, static_cast<T>(sf));
    desc.set_value(korami::ovx::dft::config_param::BACKWARD_SCALE, static_cast<T>(sb));
    desc.set_value(korami::ovx::dft::config_param::NUMBER_OF_TRANSFORMS, c.batch);
    desc.set_value(korami::ovx::dft::config_param::FWD_DISTANCE, s.fwd_dist);
    desc.set_value(korami::ovx::dft::config_param::BWD_DISTANCE, s.bwd_dist);
    desc.set_value(korami::ovx::dft::config_param::PLACEMENT,
                   c.in_place ? korami::ovx::dft::config_value::INPLACE : korami::ovx::dft::config_value::NOT_INPLACE);
    desc.commit(q);
    DFTI_DESCRIPTOR* node = korami::ovx::dft::detail::descriptor_node(desc);
    ASSERT_NE(node, nullptr);
    EXPECT_STREQ(bkd_name(node->bkd), bkd_name(c.expected.of(c.single))) << "owner of the node";
    ovxplat::set_shuffle_mode(c.shuffle);
    const std::size_t fwd_bytes = s.fwd_elems * sizeof(FT), bwd_bytes = s.bwd_elems * sizeof(C);
    const std::size_t area = std::max(fwd_bytes, bwd_bytes);
    std::vector<char> host_in(c.in_place ? area : fwd_bytes, 0);
    FT* hx = reinterpret_cast<FT*>(host_in.data());
    for (std::size_t i = 0; i < s.fwd_elems; ++i) {
        if constexpr (real)
            hx[i] = static_cast<T>(x[i].real());
        else
            hx[i] = C(static_cast<T>(x[i].real()), static_cast<T>(x[i].imag()));
    }
    std::vector<char> mid(bwd_bytes), back(fwd_bytes);
    if (c.usm) {
        char* a = sycl::malloc_shared<char>(host_in.size(), q);
        std::memcpy(a, host_in.data(), host_in.size());
        if (c.in_place) {
            korami::ovx::dft::compute_forward(desc, reinterpret_cast<FT*>(a)).wait_and_throw();
            std::memcpy(mid.data(), a, bwd_bytes);
            korami::ovx::dft::compute_backward(desc, reinterpret_cast<FT*>(a)).wait_and_throw();
            std::memcpy(back.data(), a, fwd_bytes);
        } else {
            char* b = sycl::malloc_shared<char>(bwd_bytes, q);
            char* r = sycl::malloc_shared<char>(fwd_bytes, q);
            sycl::event e = korami::ovx::dft::compute_forward(desc, reinterpret_cast<FT*>(a), reinterpret_cast<C*>(b));
            korami::ovx::dft::compute_backward(desc, reinterpret_cast<C*>(b), reinterpret_cast<FT*>(r), {e}).wait_and_throw();
            std::memcpy(mid.data(), b, bwd_bytes);
            std::memcpy(back.data(), r, fwd_bytes);
            sycl::free(b, q);
            sycl::free(r, q);
        }
        sycl::free(a, q);
    } else {
        if (c.in_place) {
            sycl::buffer<T, 1> a{sycl::range<1>(host_in.size() / sizeof(T))};
            {
                sycl::host_accessor<T, 1> h(a);
                std::memcpy(&h[0], host_in.data(), host_in.size());
            }
            korami::ovx::dft::compute_forward(desc, a);
            {
                sycl::host_accessor<T, 1> h(a);
                std::memcpy(mid.data(), &h[0], bwd_bytes);
            }
            korami::ovx::dft::compute_backward(desc, a);
            sycl::host_accessor<T, 1> h(a);
            std::memcpy(back.data(), &h[0], fwd_bytes);
        } else {
            sycl::buffer<FT, 1> a{sycl::range<1>(s.fwd_elems)};
            sycl::buffer<C, 1> b{sycl::range<1>(s.bwd_elems)};
            sycl::buffer<FT, 1> r{sycl::range<1>(s.fwd_elems)};
            {
                sycl::host_accessor<FT, 1> h(a);
                std::memcpy(&h[0], host_in.data(), fwd_bytes);
            }
            korami::ovx::dft::compute_forward(desc, a, b);
            korami::ovx::dft::compute_backward(desc, b, r);
            sycl::host_accessor<C, 1> hb(b);
            std::memcpy(mid.data(), &hb[0], bwd_bytes);
            sycl::host_accessor<FT, 1> hr(r);
            std::memcpy(back.data(), &hr[0], fwd_bytes);
        }
    }
    ovxplat::set_shuffle_mode(false);
    const C* m = reinterpret_cast<const C*>(mid.data());
    fwd_out.assign(s.bwd_elems, cplx());
    for (std::size_t i = 0; i < s.bwd_elems; ++i) fwd_out[i] = cplx(m[i].real(), m[i].imag());
    const FT* bk = reinterpret_cast<const FT*>(back.data());
    bwd_out.assign(s.fwd_elems, cplx());
    for (std::size_t i = 0; i < s.fwd_elems; ++i) bwd_out[i] = cplx(bk[i]);
}

// Runs a case (see above).
inline void expect_api_round_trip(const api_case& c) {
    OVX_REQUIRE(device_ok(c.single), "no OpenCL device (or no double support)");
    const api_sides s = sides_of(c);
    const double sf = 0.5, sb = 1.0 / static_cast<double>(c.n);
    std::vector<cplx> x(s.fwd_elems);
    if (c.real) {
        const auto r = random_real(s.fwd_elems, 77u);
        for (std::size_t i = 0; i < r.size(); ++i) x[i] = r[i];
    } else {
        x = random_cplx(s.fwd_elems, 77u);
    }
    // The device sees the values in its precision; so does the reference.
    if (c.single) x = md_test::as_seen<float>(x);
    std::vector<cplx> fo, bo;
    if (c.real) {
        if (c.single)
            run_api_case<korami::ovx::dft::precision::SINGLE, korami::ovx::dft::domain::REAL>(c, x, fo, bo, sf, sb);
        else
            run_api_case<korami::ovx::dft::precision::DOUBLE, korami::ovx::dft::domain::REAL>(c, x, fo, bo, sf, sb);
    } else {
        if (c.single)
            run_api_case<korami::ovx::dft::precision::SINGLE, korami::ovx::dft::domain::COMPLEX>(c, x, fo, bo, sf, sb);
        else
            run_api_case<korami::ovx::dft::precision::DOUBLE, korami::ovx::dft::domain::COMPLEX>(c, x, fo, bo, sf, sb);
    }
    if (::testing::Test::HasFatalFailure()) return;
    const double tol = tolerance(c.single, c.n);
    const std::int64_t h = c.n / 2 + 1;
    for (std::int64_t b = 0; b < c.batch; ++b) {
        if (c.real) {
            std::vector<double> xb(static_cast<std::size_t>(c.n));
            for (std::int64_t j = 0; j < c.n; ++j) xb[j] = x[b * s.fwd_dist + j].real();
            const auto ref = dft_r2c(xb, sf);
            std::vector<cplx> got(fo.begin() + b * s.bwd_dist, fo.begin() + b * s.bwd_dist + h);
            EXPECT_LT(rel_err(got, ref), tol) << "forward, transform " << b;
            // The backward transform of the device's forward result.
            const auto ref2 = dft_c2r(got, c.n, sb);
            std::vector<double> back(static_cast<std::size_t>(c.n));
            for (std::int64_t j = 0; j < c.n; ++j) back[j] = bo[b * s.fwd_dist + j].real();
            EXPECT_LT(rel_err(back, ref2), tol) << "backward, transform " << b;
        } else {
            std::vector<cplx> xb(x.begin() + b * c.n, x.begin() + (b + 1) * c.n);
            const auto ref = dft(xb, 0, sf);
            std::vector<cplx> got(fo.begin() + b * c.n, fo.begin() + (b + 1) * c.n);
            EXPECT_LT(rel_err(got, ref), tol) << "forward, transform " << b;
            const auto ref2 = dft(got, 1, sb);
            std::vector<cplx> back(bo.begin() + b * c.n, bo.begin() + (b + 1) * c.n);
            EXPECT_LT(rel_err(back, ref2), tol) << "backward, transform " << b;
        }
    }
}

// ---- 1D modules at the node level -----------------------------------------------------

// The node-level checks of the two-factor, 8192-point, three-factor and 1D
// real modules: each node is committed through a candidate list holding the
// module's record, must be owned by that record, and its transforms must
// match FFTW in USM and buffer forms, both directions, in place and out of
// place, with scales other than 1, on device profiles with sub-groups of 8;
// with the library's and the caller's workspace, on out-of-order queues and
// in the stand-in's shuffled mode.

using layout_1d = simple_layout;

// A one-record list (plus the terminal record), so that a refusal shows as the
// terminal's status 6 and an acceptance must come from the module.
struct one_list {
    const bkd_ops* items[3];
    explicit one_list(const bkd_ops* r) : items{r, &bkd_terminal, nullptr} {}
    const bkd_ops* const* get() const { return items; }
};

// Skips without a double-precision device, else selects the Quen5 profile
// for the test and makes the queue `q`.
#define GPU_ON_QUEN5(q)                                            \
    OVX_REQUIRE(gpu_test::device_ok(false), "no OpenCL device");    \
    ovxplat::scoped_gpu_profile prof("quen5");                     \
    sycl::queue q{sycl::gpu_selector_v}

// A shared USM copy of a host vector.
template <class T>
T* usm_copy(sycl::queue& q, const std::vector<T>& v) {
    T* p = sycl::malloc_shared<T>(v.size() ? v.size() : 1, q);
    std::memcpy(p, v.data(), v.size() * sizeof(T));
    return p;
}

// Each parameter type has a description that serves as the test name and as
// the parameter CTest lists (PrintTo).
template <class Case>
std::string param_name(const ::testing::TestParamInfo<Case>& i) {
    return describe(i.param);
}

// One direction of a complex module against FFTW.
struct complex_case {
    backend m;
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

inline std::string describe(const complex_case& c) {
    return short_name(c.m.of(c.single)) + "_" + std::to_string(c.n) + "_b" + std::to_string(c.batch) +
           (c.in_place ? "_ip" : "_oop") + (c.dir ? "_bwd" : "_fwd") + (c.usm ? "_usm" : "_buf") + "_" + c.profile +
           (c.shuffle ? "_shuffled" : "");
}
inline void PrintTo(const complex_case& c, std::ostream* os) { *os << describe(c); }

template <class T>
void run_complex(const complex_case& c) {
    ovxplat::scoped_gpu_profile prof(c.profile);
    ASSERT_TRUE(prof.ok()) << c.profile;
    ovxplat::set_shuffle_mode(c.shuffle);
    sycl::queue q{sycl::gpu_selector_v};
    const bkd_ops* rec = c.m.of(c.single);
    one_list list(rec);
    layout_1d l;
    l.n = c.n;
    l.single = c.single;
    l.batch = c.batch;
    l.in_place = c.in_place;
    l.fwd_distance = c.fwd_distance;
    l.bwd_distance = c.bwd_distance;
    l.fwd_scale = c.dir == 0 ? c.scale : 1.0;
    l.bwd_scale = c.dir == 1 ? c.scale : 1.0;
    node_ptr node = make_node(l, &q, list.get());
    ASSERT_TRUE(node);
    ASSERT_EQ(commit(node.get()), 0);
    ASSERT_STREQ(bkd_name(node->bkd), bkd_name(rec)) << "owner of the node";
    ASSERT_EQ(node->commit_status, DFTI_COMMITTED);
    const int64_t fd = c.fwd_distance ? c.fwd_distance : c.n, bd = c.bwd_distance ? c.bwd_distance : c.n;
    const int64_t idist = c.dir == 0 ? fd : bd, odist = c.dir == 0 ? bd : fd;
    const size_t in_elems = static_cast<size_t>(idist * c.batch), out_elems = static_cast<size_t>(odist * c.batch);
    std::vector<cplx> x = random_cplx(in_elems, 31u + static_cast<unsigned>(c.n));
    std::vector<T> xin(2 * std::max(in_elems, c.in_place ? out_elems : 0));
    for (size_t i = 0; i < in_elems; ++i) {
        xin[2 * i] = static_cast<T>(x[i].real());
        xin[2 * i + 1] = static_cast<T>(x[i].imag());
        x[i] = cplx(xin[2 * i], xin[2 * i + 1]);
    }
    int st = -1;
    const std::vector<T> result =
        compute_host(node.get(), q, c.dir, c.usm, c.in_place, xin, std::vector<T>(2 * out_elems), st);
    ASSERT_EQ(st, 0);
    ovxplat::set_shuffle_mode(false);
    EXPECT_LT(c2c_batch_error(result.data(), odist, x, idist, c.n, c.batch, c.dir, c.scale),
              tolerance(c.single, c.n));
}

inline void expect_module_complex(const complex_case& c) {
    OVX_REQUIRE(device_ok(c.single), "no OpenCL device (or no double support)");
    if (c.single)
        run_complex<float>(c);
    else
        run_complex<double>(c);
}

// A shape the module's record does not take, offered to it alone.
struct refusal_case {
    backend m;
    bool single;
    int64_t n, batch;
    int64_t fwd_distance, bwd_distance;
    int directions;
    const char* profile;
};

inline std::string describe(const refusal_case& c) {
    std::string s = short_name(c.m.of(c.single)) + "_" + std::to_string(c.n) + "_b" + std::to_string(c.batch);
    if (c.fwd_distance || c.bwd_distance)
        s += "_dist" + std::to_string(c.fwd_distance) + "_" + std::to_string(c.bwd_distance);
    return s + "_" + c.profile;
}
inline void PrintTo(const refusal_case& c, std::ostream* os) { *os << describe(c); }

inline void expect_module_refusal(const refusal_case& c) {
    const bkd_ops* rec = c.m.of(c.single);
    OVX_REQUIRE(device_ok(c.single), "no OpenCL device");
    ovxplat::scoped_gpu_profile prof(c.profile);
    sycl::queue q{sycl::gpu_selector_v};
    const bkd_ops* const only[] = {rec, nullptr};
    layout_1d l;
    l.n = c.n;
    l.single = c.single;
    l.batch = c.batch;
    l.fwd_distance = c.fwd_distance;
    l.bwd_distance = c.bwd_distance;
    l.directions = c.directions;
    node_ptr node = make_node(l, &q, only);
    ASSERT_TRUE(node);
    EXPECT_EQ(commit(node.get()), DFTI_STATUS_INVALID_DESCRIPTOR);  // 100 from the only record
    EXPECT_EQ(node->bkd_data, nullptr);
    EXPECT_EQ(node->compute_fwd, nullptr);
}

// A caller's workspace, bound, then replaced by a second one.
struct ws_case {
    backend m;
    bool single;
    int64_t n, batch;
    bool usm_ws;
};

inline std::string describe(const ws_case& c) {
    return short_name(c.m.of(c.single)) + "_" + std::to_string(c.n) + "_b" + std::to_string(c.batch) +
           (c.usm_ws ? "_usm" : "_buffer");
}
inline void PrintTo(const ws_case& c, std::ostream* os) { *os << describe(c); }

inline void expect_module_caller_workspace(const ws_case& c) {
    const bkd_ops* rec = c.m.of(c.single);
    OVX_REQUIRE(device_ok(c.single), "no OpenCL device");
    ovxplat::scoped_gpu_profile prof("quen5");
    sycl::queue q{sycl::gpu_selector_v};
    one_list list(rec);
    layout_1d l;
    l.n = c.n;
    l.single = c.single;
    l.batch = c.batch;
    l.internal_workspace = false;
    l.fwd_scale = 0.5;
    node_ptr node = make_node(l, &q, list.get());
    ASSERT_EQ(commit(node.get()), 0);
    ASSERT_STREQ(bkd_name(node->bkd), bkd_name(rec));
    const uint64_t bytes = node->twiddle_workspace_bytes + node->scratch_workspace_bytes;
    ASSERT_GT(bytes, 0u);
    const size_t real = c.single ? 4 : 8;
    const size_t elems = static_cast<size_t>(c.n * c.batch);
    std::vector<cplx> x = random_cplx(elems, 5u);
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
    EXPECT_EQ(compute_usm(node.get(), 0, in, out), DFTI_STATUS_NO_WORKSPACE);
    void* ws_usm = nullptr;
    std::unique_ptr<sycl::buffer<char, 1>> ws_buf;
    if (c.usm_ws) {
        ws_usm = sycl::malloc_device(bytes, q);
        ASSERT_EQ(gpu_dfti_set_workspace(node.get(), ws_usm, DFTI_CONTAINER_USM), 0);
    } else {
        ws_buf.reset(new sycl::buffer<char, 1>{sycl::range<1>(bytes)});
        ASSERT_EQ(gpu_dfti_set_workspace(node.get(), ws_buf.get(), DFTI_CONTAINER_BUFFER), 0);
    }
    ASSERT_EQ(compute_usm(node.get(), 0, in, out), 0);
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
    ASSERT_EQ(compute_usm(node.get(), 0, in, out), 0);
    const double err = c.single ? c2c_batch_error(reinterpret_cast<float*>(out), c.n, x, c.n, c.n, c.batch, 0, 0.5)
                                : c2c_batch_error(reinterpret_cast<double*>(out), c.n, x, c.n, c.n, c.batch, 0, 0.5);
    EXPECT_LT(err, tolerance(c.single, c.n));
    node.reset();  // frees the module's areas before the workspace goes
    if (ws_usm) sycl::free(ws_usm, q);
    sycl::free(in, q);
    sycl::free(out, q);
}

// Runs one forward USM compute of `batch` transforms of length n (contiguous)
// on the given record and returns the output reals.
inline std::vector<double> run_batch(const bkd_ops* rec, int64_t n, int64_t batch, const std::vector<double>& in,
                                     sycl::queue& q) {
    one_list list(rec);
    layout_1d l;
    l.n = n;
    l.batch = batch;
    node_ptr node = make_node(l, &q, list.get());
    EXPECT_EQ(commit(node.get()), 0);
    EXPECT_STREQ(bkd_name(node->bkd), bkd_name(rec));
    if (node->bkd != rec) return {};
    double* a = usm_copy(q, in);
    double* b = sycl::malloc_shared<double>(in.size(), q);
    EXPECT_EQ(compute_usm(node.get(), 0, a, b), 0);
    std::vector<double> out(b, b + in.size());
    sycl::free(a, q);
    sycl::free(b, q);
    return out;
}

// Two computes of one node in flight on an out-of-order queue, in shuffled
// mode: the second compute's first pass must not overwrite the scratch area
// the first compute's last pass still reads.
struct overlap_case {
    backend m;
    int64_t n;
    bool real;
};

inline std::string describe(const overlap_case& c) { return short_name(c.m.d) + "_" + std::to_string(c.n); }
inline void PrintTo(const overlap_case& c, std::ostream* os) { *os << describe(c); }

inline void expect_back_to_back_computes(const overlap_case& c) {
    GPU_ON_QUEN5(q);
    ASSERT_FALSE(q.is_in_order());
    one_list list(c.m.of(false));
    layout_1d l;
    l.n = c.n;
    l.real = c.real;
    l.batch = 2;
    node_ptr node = make_node(l, &q, list.get());
    ASSERT_EQ(commit(node.get()), 0);
    ovxplat::set_shuffle_mode(true);
    const int64_t h = c.n / 2 + 1;
    const size_t in_elems = static_cast<size_t>(c.real ? c.n * 2 : 2 * c.n * 2);
    const size_t out_elems = static_cast<size_t>(c.real ? 2 * h * 2 : 2 * c.n * 2);
    const int rounds = 4;
    std::vector<std::vector<double>> ins;
    std::vector<double*> din, dout;
    std::vector<sycl::event> evs(rounds);
    for (int r = 0; r < rounds; ++r) {
        ins.push_back(random_real(in_elems, 700u + r));
        din.push_back(usm_copy(q, ins.back()));
        dout.push_back(sycl::malloc_shared<double>(out_elems, q));
    }
    for (int r = 0; r < rounds; ++r) ASSERT_EQ(compute_usm(node.get(), 0, din[r], dout[r], &evs[r]), 0);
    for (auto& e : evs) e.wait_and_throw();
    ovxplat::set_shuffle_mode(false);
    for (int r = 0; r < rounds; ++r) {
        const double err = c.real ? r2c_batch_error(dout[r], h, ins[r], c.n, c.n, 2, 1.0)
                                  : c2c_batch_error(dout[r], c.n, as_cplx(ins[r]), c.n, c.n, 2, 0, 1.0);
        EXPECT_LT(err, tolerance(false, c.n)) << "round " << r;
        sycl::free(din[r], q);
        sycl::free(dout[r], q);
    }
}

// A kernel that cannot be built (double precision on a device without it)
// ends the commit with the build's exception or a failure status; the node
// keeps no block and no compute entries, so nothing can launch a missing
// kernel.
inline void expect_failed_build_leaves_nothing(const bkd_ops* rec, int64_t n) {
    OVX_REQUIRE_OPENCL();
    ovxplat::scoped_gpu_profile prof("quen5_nofp64");
    ASSERT_TRUE(prof.ok());
    sycl::queue q{sycl::gpu_selector_v};
    const bkd_ops* const only[] = {rec, nullptr};
    layout_1d l;
    l.n = n;
    node_ptr node = make_node(l, &q, only);
    int st = 0;
    bool threw = false;
    try {
        st = commit(node.get());
    } catch (const sycl::exception&) {
        threw = true;
    }
    EXPECT_TRUE(threw || st != 0) << bkd_name(rec) << ": a failed build must not end in a committed node";
    EXPECT_NE(st, DFTI_STATUS_NOT_APPLICABLE);
    EXPECT_EQ(node->bkd_data, nullptr);
    EXPECT_EQ(node->compute_fwd, nullptr);
    EXPECT_EQ(node->compute_bwd, nullptr);
}

// The committed need of a module's node (batch transforms of n points, the
// library's workspace) against the record's estimator on the same queue.
inline void expect_estimate_of_the_need(const bkd_ops* rec, int64_t n, int64_t batch,
                                        const record_estimate& est, sycl::queue& q) {
    one_list list(rec);
    layout_1d l;
    l.n = n;
    l.batch = batch;
    node_ptr node = make_node(l, &q, list.get());
    ASSERT_EQ(commit(node.get()), 0);
    const int64_t need = static_cast<int64_t>(node->twiddle_workspace_bytes + node->scratch_workspace_bytes);
    EXPECT_EQ(est.get_workspace_bytes(dft_workspace_problem{node.get(), &q}), need) << n;
}

// A complex node of 4096 double points that the 8192-point, two-factor and
// real records' estimators do not take (normalised, not committed). Call
// through ASSERT_NO_FATAL_FAILURE.
inline void make_estimate_refused_node(sycl::queue& q, node_ptr& node) {
    one_list list(&bkd_c2c_1d_8k_d_ops);
    layout_1d l;
    l.n = 4096;
    node = make_node(l, &q, list.get());
    ASSERT_TRUE(node);
    ASSERT_EQ(dfti_normalize_node(node.get()), 0);
}

// An in-order queue (no table dependencies are added) and queue mode 2 (the
// compute entries take the node's queue again at each call).
inline void expect_in_order_and_queue_mode(const backend& m, int64_t n, bool real, uint32_t mode) {
    OVX_REQUIRE(device_ok(false), "no OpenCL device");
    ovxplat::scoped_gpu_profile prof("quen5");
    sycl::queue first{sycl::gpu_selector_v};
    sycl::queue ordered{sycl::gpu_selector_v, sycl::property::queue::in_order{}};
    one_list list(m.of(false));
    layout_1d l;
    l.n = n;
    l.real = real;
    l.batch = 3;
    l.queue_mode = mode;
    node_ptr node = make_node(l, mode == 0 ? &ordered : &first, list.get());
    ASSERT_EQ(commit(node.get()), 0) << n;
    if (mode == 2) node->queue = &ordered;  // computes go to the queue the node holds now
    const int64_t h = n / 2 + 1;
    const size_t in_elems = static_cast<size_t>(real ? n * 3 : 2 * n * 3);
    const size_t out_elems = static_cast<size_t>(real ? 2 * h * 3 : 2 * n * 3);
    const auto x = random_real(in_elems, 900u);
    double* in = usm_copy(ordered, x);
    double* out = sycl::malloc_shared<double>(out_elems, ordered);
    ASSERT_EQ(compute_usm(node.get(), 0, in, out), 0);
    const double err = real ? r2c_batch_error(out, h, x, n, n, 3, 1.0)
                            : c2c_batch_error(out, n, as_cplx(x), n, n, 3, 0, 1.0);
    EXPECT_LT(err, tolerance(false, n)) << n;
    node.reset();
    sycl::free(in, ordered);
    sycl::free(out, ordered);
}

// The tables of a module's double node of n points (forward scale 0.5,
// backward scale 1) as its table kernels write them into a caller's USM
// workspace: `f` the forward direction's, `b` the backward direction's.
// Call write() through ASSERT_NO_FATAL_FAILURE.
struct written_tables {
    sycl::queue& q;
    node_ptr node;
    char* ws = nullptr;
    const double* f = nullptr;
    const double* b = nullptr;
    explicit written_tables(sycl::queue& queue) : q(queue) {}
    void write(const bkd_ops* rec, int64_t n) {
        one_list list(rec);
        layout_1d l;
        l.n = n;
        l.internal_workspace = false;
        l.fwd_scale = 0.5;
        node = make_node(l, &q, list.get());
        ASSERT_TRUE(node);
        ASSERT_EQ(commit(node.get()), 0);
        const uint64_t bytes = node->twiddle_workspace_bytes + node->scratch_workspace_bytes;
        ws = sycl::malloc_shared<char>(bytes, q);
        std::memset(ws, 0, bytes);
        ASSERT_EQ(gpu_dfti_set_workspace(node.get(), ws, DFTI_CONTAINER_USM), 0);
        q.wait();
        const uint64_t per_dir = node->twiddle_workspace_bytes / 2;
        f = reinterpret_cast<const double*>(ws);
        b = reinterpret_cast<const double*>(ws + per_dir);
    }
    written_tables(const written_tables&) = delete;
    written_tables& operator=(const written_tables&) = delete;
    ~written_tables() {
        node.reset();  // frees the module's areas before the workspace goes
        if (ws) sycl::free(ws, q);
    }
};

// A table entry of the two-factor and 8192-point layouts: cosine twice, then
// the sine and its negation 8 entries on, at the angle times the scale.
inline void expect_table_entry(const double* t, int64_t pos, long double half_turns, double scale) {
    const long double pi = 3.141592653589793238462643383279502884L;
    const double cv = static_cast<double>(std::cos(half_turns * pi)) * scale;
    const double sv = static_cast<double>(std::sin(half_turns * pi)) * scale;
    EXPECT_NEAR(t[pos], cv, 1e-15);
    EXPECT_EQ(t[pos + 1], t[pos]);
    EXPECT_NEAR(t[pos + 8], sv, 1e-15);
    EXPECT_EQ(t[pos + 9], -t[pos + 8]);
}

// Backward-only nodes build only the backward kernels and tables: the
// forward entry reports a status instead of launching a missing kernel, the
// backward one computes.
inline void expect_backward_only(const backend& m, int64_t n, bool real) {
    GPU_ON_QUEN5(q);
    one_list list(m.of(false));
    layout_1d l;
    l.n = n;
    l.real = real;
    l.directions = 1;
    node_ptr node = make_node(l, &q, list.get());
    ASSERT_EQ(commit(node.get()), 0) << n;
    const uint64_t one_dir = node->twiddle_workspace_bytes;
    const int64_t h = n / 2 + 1;
    const size_t elems = static_cast<size_t>(real ? 2 * h : 2 * n);
    std::vector<double> x = random_real(elems, 3u);
    if (real) x[1] = x[elems - 1] = 0;  // imaginary parts of X[0] and X[N/2]
    double* in = usm_copy(q, x);
    double* out = sycl::malloc_shared<double>(elems + static_cast<size_t>(n), q);
    EXPECT_NE(compute_usm(node.get(), 0, in, out), 0) << "forward was not built";
    ASSERT_EQ(compute_usm(node.get(), 1, in, out), 0);
    const double err = real ? c2r_batch_error(out, n, as_cplx(x), h, n, 1, 1.0)
                            : c2c_batch_error(out, n, as_cplx(x), n, n, 1, 1, 1.0);
    EXPECT_LT(err, tolerance(false, n));
    // Both directions double the complex modules' tables (the real backend's
    // table serves both directions).
    node->directions = 2;
    ASSERT_EQ(commit(node.get()), 0);
    if (real)
        EXPECT_GE(node->twiddle_workspace_bytes, one_dir);
    else
        EXPECT_EQ(node->twiddle_workspace_bytes, 2 * one_dir);
    node.reset();
    sycl::free(in, q);
    sycl::free(out, q);
}

}  // namespace gpu_test

#endif
