// The CPU node layer: nodes made by the CPU transform library, configured
// through dfti_set_value (user order), committed and freed through their own
// operation table.
#include "dft/node/ovx_dft_node.hpp"

#include <cstdarg>
#include <cstdint>

#include "dft/contract/ovx_dft_node_ops.hpp"
#include "dft/node/ovx_dft_cpu_library.h"

namespace {
int create_cpu_1d(DFTI_DESCRIPTOR** h, int precision, int domain, std::int64_t length) {
    if (!h) return DFTI_STATUS_INVALID_DESCRIPTOR;
    *h = nullptr;
    if (length < 1) return DFTI_STATUS_UNCOMMITTED_DESCRIPTOR;
    int st;
    if (domain == DFTI_COMPLEX)
        st = precision == DFTI_DOUBLE ? ovx_dft_dfti_create_dc1d(h, length) : ovx_dft_dfti_create_sc1d(h, length);
    else if (domain == DFTI_REAL)
        st = precision == DFTI_DOUBLE ? ovx_dft_dfti_create_dr1d(h, length) : ovx_dft_dfti_create_sr1d(h, length);
    else
        return DFTI_STATUS_UNCOMMITTED_DESCRIPTOR;
    if (st == 0) ovx_dft_bless_node_thr(*h);
    return st;
}

int create_cpu_md(DFTI_DESCRIPTOR** h, int precision, int domain, std::int64_t rank, const std::int64_t* lengths) {
    if (!h) return DFTI_STATUS_INVALID_DESCRIPTOR;
    *h = nullptr;
    if (rank < 1 || rank > DFTI_MAX_RANK) return DFTI_STATUS_UNCOMMITTED_DESCRIPTOR;
    if (!lengths) return DFTI_STATUS_INVALID_DESCRIPTOR;
    std::int64_t node_order[DFTI_MAX_RANK];
    for (std::int64_t i = 0; i < rank; ++i) {
        node_order[i] = lengths[rank - 1 - i];
        if (node_order[i] < 1) return DFTI_STATUS_UNCOMMITTED_DESCRIPTOR;
    }
    int st;
    if (domain == DFTI_COMPLEX)
        st = precision == DFTI_DOUBLE ? ovx_dft_dfti_create_dcmd(h, rank, node_order)
                                      : ovx_dft_dfti_create_scmd(h, rank, node_order);
    else if (domain == DFTI_REAL)
        st = precision == DFTI_DOUBLE ? ovx_dft_dfti_create_drmd(h, rank, node_order)
                                      : ovx_dft_dfti_create_srmd(h, rank, node_order);
    else
        return DFTI_STATUS_UNCOMMITTED_DESCRIPTOR;
    if (st == 0) ovx_dft_bless_node_thr(*h);
    return st;
}
}  // namespace

int dfti_create_descriptor_s_1d(DFTI_DESCRIPTOR** h, int domain, std::int64_t n) { return create_cpu_1d(h, DFTI_SINGLE, domain, n); }
int dfti_create_descriptor_d_1d(DFTI_DESCRIPTOR** h, int domain, std::int64_t n) { return create_cpu_1d(h, DFTI_DOUBLE, domain, n); }
int dfti_create_descriptor_s_md(DFTI_DESCRIPTOR** h, int domain, std::int64_t r, const std::int64_t* l) {
    return create_cpu_md(h, DFTI_SINGLE, domain, r, l);
}
int dfti_create_descriptor_d_md(DFTI_DESCRIPTOR** h, int domain, std::int64_t r, const std::int64_t* l) {
    return create_cpu_md(h, DFTI_DOUBLE, domain, r, l);
}

int dfti_set_value(DFTI_DESCRIPTOR* node, int param, ...) {
    if (!node || node->marker != DFTI_NODE_MARKER) return DFTI_STATUS_BAD_DESCRIPTOR;
    switch (param) {
    case DFTI_PARAM_NUMBER_OF_TRANSFORMS: case DFTI_PARAM_CONJUGATE_EVEN_STORAGE: case DFTI_PARAM_PLACEMENT:
    case DFTI_PARAM_INPUT_STRIDES: case DFTI_PARAM_OUTPUT_STRIDES: case DFTI_PARAM_INPUT_DISTANCE:
    case DFTI_PARAM_OUTPUT_DISTANCE: case DFTI_PARAM_WORKSPACE: case DFTI_PARAM_THREAD_LIMIT:
        break;
    default:
        return DFTI_STATUS_INVALID_DESCRIPTOR;
    }
    if (!node->methods) return DFTI_STATUS_INTERNAL;
    dfti_node_ops::uncommit(node);
    va_list ap;
    va_start(ap, param);
    int st = 0;
    switch (param) {
    case DFTI_PARAM_NUMBER_OF_TRANSFORMS: st = node->methods->set_number_of_transforms(node, va_arg(ap, std::int64_t)); break;
    case DFTI_PARAM_INPUT_DISTANCE: st = node->methods->set_input_distance(node, va_arg(ap, std::int64_t)); break;
    case DFTI_PARAM_OUTPUT_DISTANCE: st = node->methods->set_output_distance(node, va_arg(ap, std::int64_t)); break;
    case DFTI_PARAM_THREAD_LIMIT: st = node->methods->set_thread_limit(node, va_arg(ap, std::int64_t)); break;
    case DFTI_PARAM_CONJUGATE_EVEN_STORAGE: {
        int v = va_arg(ap, int);
        if (v == DFTI_REAL_COMPLEX || v == DFTI_REAL_REAL) { st = DFTI_STATUS_UNIMPLEMENTED; break; }
        if (v != DFTI_COMPLEX_COMPLEX && v != DFTI_COMPLEX_REAL) { st = DFTI_STATUS_INVALID_DESCRIPTOR; break; }
        if (v == DFTI_COMPLEX_REAL && node->rank >= 2) { st = DFTI_STATUS_INVALID_DESCRIPTOR; break; }
        for (DFTI_DESCRIPTOR* n = node; n; n = n->sub_node) {
            n->conjugate_even_storage = v;
            if (v == DFTI_COMPLEX_COMPLEX) n->packed_format = DFTI_CCE_FORMAT;
        }
        break;
    }
    case DFTI_PARAM_PLACEMENT: {
        int v = va_arg(ap, int);
        if (v != DFTI_INPLACE && v != DFTI_NOT_INPLACE) st = DFTI_STATUS_INVALID_DESCRIPTOR;
        else node->placement = v;
        break;
    }
    case DFTI_PARAM_WORKSPACE: {
        int v = va_arg(ap, int);
        if (v != DFTI_ALLOW && v != DFTI_AVOID) st = DFTI_STATUS_INVALID_DESCRIPTOR;
        else node->workspace = v;
        break;
    }
    case DFTI_PARAM_INPUT_STRIDES:
    case DFTI_PARAM_OUTPUT_STRIDES: {
        const std::int64_t* v = va_arg(ap, const std::int64_t*);
        if (!v) { st = DFTI_STATUS_INVALID_DESCRIPTOR; break; }
        std::int64_t s[DFTI_MAX_RANK + 1];
        s[0] = v[0];
        for (int i = 0; i < node->rank; ++i) s[i + 1] = v[node->rank - i];
        st = param == DFTI_PARAM_INPUT_STRIDES ? node->methods->set_input_strides(node, s)
                                               : node->methods->set_output_strides(node, s);
        break;
    }
    }
    va_end(ap);
    return st;
}

int dfti_commit_descriptor(DFTI_DESCRIPTOR* node) {
    if (!node || node->marker != DFTI_NODE_MARKER) return DFTI_STATUS_BAD_DESCRIPTOR;
    if (!node->methods || !node->methods->commit) return DFTI_STATUS_INTERNAL;
    if (node->conjugate_even_storage == DFTI_COMPLEX_COMPLEX && node->packed_format != DFTI_CCE_FORMAT)
        return DFTI_STATUS_INVALID_DESCRIPTOR;
    if (node->conjugate_even_storage == DFTI_COMPLEX_REAL && node->packed_format == DFTI_CCE_FORMAT)
        return DFTI_STATUS_INVALID_DESCRIPTOR;
    return node->methods->commit(node);
}

int dfti_free_descriptor(DFTI_DESCRIPTOR** handle) {
    if (!handle) return DFTI_STATUS_INVALID_DESCRIPTOR;
    DFTI_DESCRIPTOR* node = *handle;
    if (!node || node->marker != DFTI_NODE_MARKER) return DFTI_STATUS_BAD_DESCRIPTOR;
    if (node->methods && node->methods->destroy) node->methods->destroy(node);
    *handle = nullptr;
    return 0;
}

int dfti_error_class(std::int64_t status, std::int64_t error_class) { return status == error_class ? 1 : 0; }
