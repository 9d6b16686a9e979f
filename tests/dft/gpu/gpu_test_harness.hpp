// Shared harness of the GPU 1D backend tests: GPU nodes with a chosen
// candidate list on the stand-in GPU, computes in USM and buffer form, and
// the check of a committed node against FFTW (gpu_test_reference.hpp).
#ifndef TESTS_DFT_GPU_GPU_TEST_HARNESS_HPP
#define TESTS_DFT_GPU_GPU_TEST_HARNESS_HPP

#include <gtest/gtest.h>
#include <sycl/sycl.hpp>

#include <algorithm>
#include <complex>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dft/gpu/gpu_test_reference.hpp"
#include "korami/ovx/dft.hpp"
#include "dft/node/ovx_dft_node.hpp"

namespace gpu_test {

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
// the problem, -1 when the record does not take it.
struct record_estimate {
    const bkd_ops* record;
    int64_t get_workspace_bytes(const dft_workspace_problem& p) const {
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
            worst = std::max(worst, rel_error(got, ref));
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

#endif
