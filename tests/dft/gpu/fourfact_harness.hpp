// Node-level harness of the four-factor, column-batched and very large
// backend tests: nodes with a chosen candidate list on the stand-in GPU,
// computes in USM and buffer form, and the FFTW reference over any strided
// layout (in double).
#ifndef TESTS_DFT_GPU_FOURFACT_HARNESS_HPP
#define TESTS_DFT_GPU_FOURFACT_HARNESS_HPP

#include <fftw3.h>
#include <sycl/sycl.hpp>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "dft/node/ovx_dft_node.hpp"

namespace fourfact {

struct node_deleter {
    void operator()(DFTI_DESCRIPTOR* n) const {
        if (n) n->methods->destroy(n);
    }
};
using node_ptr = std::unique_ptr<DFTI_DESCRIPTOR, node_deleter>;

struct rec {
    int64_t count, idist, odist;  // complex elements; used as fwd/bwd distances
};

// A complex 1D layout: forward-domain stride/distances (fs, rec.idist) and
// backward-domain ones (bs, rec.odist).
struct layout {
    int64_t n = 0;
    bool single = false;
    int64_t fs = 1, bs = 1;
    std::vector<rec> batch{{1, 0, 0}};
    bool in_place = false;
    int directions = 2;
    double fwd_scale = 1.0, bwd_scale = 1.0;
    bool internal_workspace = true;
    uint32_t queue_mode = 0;
    int64_t colbatch_group_count = 0;
    // Input/output strides and distances instead of forward/backward ones:
    // both directions read the (fs, idist) side and write the (bs, odist) side.
    bool io = false;
};

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
    node->placement = l.in_place ? DFTI_INPLACE : DFTI_NOT_INPLACE;
    node->forward_scale = l.fwd_scale;
    node->backward_scale = l.bwd_scale;
    node->queue = q;
    node->queue_mode = l.queue_mode;
    node->directions = l.directions;
    node->internal_workspace = l.internal_workspace ? 1u : 0u;
    node->colbatch_group_count = l.colbatch_group_count;
    node->bkdlist = list;
    return node;
}

inline int commit(DFTI_DESCRIPTOR* node) { return node->methods->commit(node); }

inline int compute_usm(DFTI_DESCRIPTOR* node, int dir, void* in, void* out) {
    dfti_data_kind k{DFTI_CONTAINER_USM};
    dfti_compute_fn f = dir == 0 ? node->compute_fwd : node->compute_bwd;
    if (!f) return -1;
    sycl::event e;
    const int st = f(node, in, out, nullptr, &k, &e);
    if (st == 0) e.wait_and_throw();
    return st;
}

inline int compute_buffer(DFTI_DESCRIPTOR* node, int dir, sycl::buffer<char, 1>* in, sycl::buffer<char, 1>* out) {
    dfti_data_kind k{DFTI_CONTAINER_BUFFER};
    dfti_compute_fn f = dir == 0 ? node->compute_fwd : node->compute_bwd;
    if (!f) return -1;
    sycl::event e;
    return f(node, in, out, nullptr, &k, &e);
}

// Elements a layout side spans.
inline int64_t extent(const layout& l, bool fwd_side) {
    int64_t e = (l.n - 1) * (fwd_side ? l.fs : l.bs) + 1;
    for (const rec& r : l.batch) e += (r.count - 1) * (fwd_side ? r.idist : r.odist);
    return e;
}

// FFTW over the layout; dir 0 reads the forward side and writes the backward
// side with sign -1, dir 1 the other way with +1; the written elements are
// scaled. `out` keeps what it holds elsewhere.
inline void reference(const layout& l, int dir, double scale, const std::vector<std::complex<double>>& in,
                      std::vector<std::complex<double>>& out) {
    const int sign = dir == 0 ? -1 : 1;
    if (l.io) dir = 0;  // same sides in both directions
    const int64_t is = dir == 0 ? l.fs : l.bs, os = dir == 0 ? l.bs : l.fs;
    fftw_iodim dim{static_cast<int>(l.n), static_cast<int>(is), static_cast<int>(os)};
    std::vector<fftw_iodim> how;
    for (const rec& r : l.batch)
        how.push_back({static_cast<int>(r.count), static_cast<int>(dir == 0 ? r.idist : r.odist),
                       static_cast<int>(dir == 0 ? r.odist : r.idist)});
    std::vector<std::complex<double>> src = in;
    std::vector<std::complex<double>> dst = out;
    fftw_plan p = fftw_plan_guru_dft(1, &dim, static_cast<int>(how.size()), how.data(),
                                     reinterpret_cast<fftw_complex*>(src.data()),
                                     reinterpret_cast<fftw_complex*>(dst.data()), sign, FFTW_ESTIMATE);
    if (!p) return;
    fftw_execute(p);
    fftw_destroy_plan(p);
    std::vector<int64_t> idx{0};
    for (const rec& r : l.batch) {
        std::vector<int64_t> next;
        for (int64_t b : idx)
            for (int64_t c = 0; c < r.count; ++c) next.push_back(b + c * (dir == 0 ? r.odist : r.idist));
        idx.swap(next);
    }
    for (int64_t b : idx)
        for (int64_t k = 0; k < l.n; ++k) out[b + k * os] = dst[b + k * os] * scale;
}

template <class R>
std::vector<std::complex<R>> random_data(std::size_t n, unsigned seed) {
    std::mt19937 g(seed);
    std::uniform_real_distribution<double> d(-1, 1);
    std::vector<std::complex<R>> v(n);
    for (auto& x : v) x = {static_cast<R>(d(g)), static_cast<R>(d(g))};
    return v;
}

template <class R>
std::vector<std::complex<double>> widen(const std::vector<std::complex<R>>& v) {
    std::vector<std::complex<double>> w(v.size());
    for (std::size_t i = 0; i < v.size(); ++i) w[i] = {v[i].real(), v[i].imag()};
    return w;
}

// Relative L2 error over the whole array (elements outside the layout must
// be untouched, so they count too).
template <class R>
double rel_error(const std::vector<std::complex<R>>& got, const std::vector<std::complex<double>>& ref) {
    double num = 0, den = 0;
    for (std::size_t i = 0; i < ref.size(); ++i) {
        const std::complex<double> g(got[i].real(), got[i].imag());
        num += std::norm(g - ref[i]);
        den += std::norm(ref[i]);
    }
    return den == 0 ? std::sqrt(num) : std::sqrt(num / den);
}

// Tolerances of the relative L2 error: double 1e-12, float 2e-5 (inputs in
// [-1, 1], lengths up to 2^26).
template <class R>
double tolerance() {
    return sizeof(R) == 8 ? 1e-12 : 2e-5;
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
        std::vector<std::complex<double>> ref = l.in_place ? widen(x) : widen(sentinel);
        reference(l, dir, scale, widen(x), ref);
        for (int form = 0; form < (buffers ? 2 : 1); ++form) {
            std::vector<C> got(size);
            int st;
            if (form == 0) {
                C* a = sycl::malloc_shared<C>(size, q);
                C* b = sycl::malloc_shared<C>(size, q);
                std::copy(x.begin(), x.end(), a);
                std::copy(sentinel.begin(), sentinel.end(), b);
                st = compute_usm(node, dir, a, l.in_place ? a : b);
                const C* r = l.in_place ? a : b;
                std::copy(r, r + size, got.begin());
                sycl::free(a, q);
                sycl::free(b, q);
            } else {
                std::vector<C> hx = x, hy = sentinel;
                {
                    sycl::buffer<char, 1> a(reinterpret_cast<char*>(hx.data()), sycl::range<1>(size * sizeof(C)));
                    sycl::buffer<char, 1> b(reinterpret_cast<char*>(hy.data()), sycl::range<1>(size * sizeof(C)));
                    st = compute_buffer(node, dir, &a, l.in_place ? &a : &b);
                }
                got = l.in_place ? hx : hy;
            }
            if (st != 0) return -1;
            worst = std::max(worst, rel_error(got, ref));
        }
    }
    return worst;
}

}  // namespace fourfact

#endif
