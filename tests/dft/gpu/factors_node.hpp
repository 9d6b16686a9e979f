// Node-level harness for the two-factor, 8192-point, three-factor and 1D real
// backends: makes GPU nodes with a chosen candidate list, commits them on a
// stand-in GPU queue of a chosen device profile, and computes in USM or
// buffer form.
#ifndef TESTS_DFT_GPU_FACTORS_NODE_HPP
#define TESTS_DFT_GPU_FACTORS_NODE_HPP

#include <sycl/sycl.hpp>

#include <ovxplat/sycl_standin.hpp>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "dft/node/ovx_dft_node.hpp"

namespace factors_node {

struct node_deleter {
    void operator()(DFTI_DESCRIPTOR* n) const {
        if (n) n->methods->destroy(n);
    }
};
using node_ptr = std::unique_ptr<DFTI_DESCRIPTOR, node_deleter>;

struct layout {
    int64_t n = 0;
    bool single = false;
    bool real = false;
    int64_t batch = 1;
    int64_t fwd_distance = 0, bwd_distance = 0;  // 0: contiguous (per domain)
    bool in_place = false;
    int directions = 2;
    double fwd_scale = 1.0, bwd_scale = 1.0;
    bool internal_workspace = true;
    uint32_t queue_mode = 0;
};

// Creates the node with the given list (null-terminated), fills the layout and
// the queue; the commit is left to the caller.
inline node_ptr make_node(const layout& l, sycl::queue* q, const bkd_ops* const* list) {
    DFTI_DESCRIPTOR* raw = nullptr;
    int st;
    if (l.real)
        st = l.single ? gpu_dfti_create_sr1d(&raw, l.n, nullptr) : gpu_dfti_create_dr1d(&raw, l.n, nullptr);
    else
        st = l.single ? gpu_dfti_create_sc1d(&raw, l.n, nullptr) : gpu_dfti_create_dc1d(&raw, l.n, nullptr);
    if (st != 0 || !raw) return node_ptr();
    node_ptr node(raw);
    dfti_dim& d = node->user_dims.records[0];
    d.input_stride = 0;
    d.output_stride = 0;
    d.fwd_stride = 1;
    d.bwd_stride = 1;
    const int64_t cplx = l.n / 2 + 1;
    int64_t fd = l.fwd_distance, bd = l.bwd_distance;
    if (fd == 0) fd = l.real ? (l.in_place ? 2 * cplx : l.n) : l.n;
    if (bd == 0) bd = l.real ? cplx : l.n;
    node->user_batch.records[0] = dfti_dim{l.batch, 0, 0, fd, bd};
    node->placement = l.in_place ? DFTI_INPLACE : DFTI_NOT_INPLACE;
    node->forward_scale = l.fwd_scale;
    node->backward_scale = l.bwd_scale;
    node->queue = q;
    node->queue_mode = l.queue_mode;
    node->directions = l.directions;
    node->internal_workspace = l.internal_workspace ? 1u : 0u;
    node->bkdlist = list;
    return node;
}

inline int commit(DFTI_DESCRIPTOR* node) { return node->methods->commit(node); }

// One compute in USM form; waits for the event.
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

}  // namespace factors_node

#endif
