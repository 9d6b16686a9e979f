// Operations on the fields of a descriptor node that every node layer shares
// (the GPU node layer of the library and the CPU transform library): node
// allocation with its defaults, the getters and setters of the operation
// table, node copy and the normalisation of the dimension and batch lists.
// Header-only so that each layer carries its own copy.
#ifndef OVX_DFT_CONTRACT_OVX_DFT_NODE_OPS_HPP
#define OVX_DFT_CONTRACT_OVX_DFT_NODE_OPS_HPP

#include <algorithm>
#include <cstring>

#include "dft/contract/ovx_dft_node_record.hpp"
#include "dft/contract/ovx_dft_checked.hpp"

namespace dfti_node_ops {

inline void free_list(DFTI_DESCRIPTOR* node, dfti_dim_list& l) {
    if (l.records) node->services->free(l.records);
    l.records = nullptr;
    l.count = 0;
}

inline int alloc_list(const bkd_memory_services_t* s, dfti_dim_list& l, std::int64_t count) {
    l.records = nullptr;
    l.count = 0;
    if (count <= 0) return 0;
    l.records = static_cast<dfti_dim*>(s->calloc(static_cast<std::size_t>(count), sizeof(dfti_dim), 64, 0));
    if (!l.records) return DFTI_STATUS_ALLOCATION_FAILED;
    l.count = count;
    return 0;
}

// Marks a node uncommitted after a configuration change: its detach entry
// releases whatever the committed binding holds.
inline void uncommit(DFTI_DESCRIPTOR* node) {
    if (node->detach_backend) node->detach_backend(node);
    node->commit_status = DFTI_UNCOMMITTED;
    node->compute_fwd = nullptr;
    node->compute_bwd = nullptr;
}

// A new node with the defaults of a created node (see gpu_dfti_create_node).
// Lengths in node order. The caller installs the method table and entries.
inline int alloc_node(const bkd_memory_services_t* s, DFTI_DESCRIPTOR** out, int precision,
                      int domain, std::int64_t rank, const std::int64_t* lengths) {
    if (!out) return DFTI_STATUS_INCONSISTENT;
    *out = nullptr;
    if (precision != DFTI_SINGLE && precision != DFTI_DOUBLE) return DFTI_STATUS_INVALID;
    if (domain != DFTI_COMPLEX && domain != DFTI_REAL) return DFTI_STATUS_INVALID;
    if (rank < 1 || rank > DFTI_MAX_RANK || !lengths) return DFTI_STATUS_INVALID;
    for (std::int64_t i = 0; i < rank; ++i)
        if (lengths[i] < 1) return DFTI_STATUS_INVALID;
    // The default strides are the running products of the lengths: a shape
    // whose element count does not fit 64 bits has no layout.
    std::int64_t count = 1;
    for (std::int64_t i = 0; i < rank; ++i)
        if (!ovx_checked::mul(count, lengths[i], count)) return DFTI_STATUS_INVALID;
    auto* n = static_cast<DFTI_DESCRIPTOR*>(s->calloc(1, sizeof(DFTI_DESCRIPTOR), 64, 0));
    if (!n) return DFTI_STATUS_ALLOCATION_FAILED;
    n->services = s;
    if (alloc_list(s, n->user_dims, rank) || alloc_list(s, n->user_batch, DFTI_USER_BATCH_RECORDS) ||
        alloc_list(s, n->working_dims, rank) || alloc_list(s, n->working_batch, DFTI_USER_BATCH_RECORDS)) {
        free_list(n, n->user_dims);
        free_list(n, n->user_batch);
        free_list(n, n->working_dims);
        free_list(n, n->working_batch);
        s->free(n);
        return DFTI_STATUS_ALLOCATION_FAILED;
    }
    n->marker = DFTI_NODE_MARKER;
    n->commit_status = DFTI_UNCOMMITTED;
    n->forward_domain = domain;
    n->precision = precision;
    n->complex_storage = DFTI_COMPLEX_COMPLEX;
    n->real_storage = DFTI_REAL_REAL;
    n->conjugate_even_storage = DFTI_COMPLEX_COMPLEX;
    n->packed_format = DFTI_CCE_FORMAT;
    n->placement = DFTI_INPLACE;
    n->workspace = DFTI_ALLOW;
    n->rank = static_cast<std::int32_t>(rank);
    std::int64_t p = 1;
    for (std::int64_t i = 0; i < rank; ++i) {
        n->user_dims.records[i] = dfti_dim{lengths[i], p, p, 0, 0};
        p *= lengths[i];
    }
    for (int i = 0; i < DFTI_USER_BATCH_RECORDS; ++i) n->user_batch.records[i] = dfti_dim{1, 0, 0, 0, 0};
    std::memcpy(n->working_dims.records, n->user_dims.records, sizeof(dfti_dim) * rank);
    std::memcpy(n->working_batch.records, n->user_batch.records, sizeof(dfti_dim) * DFTI_USER_BATCH_RECORDS);
    n->working_rank = n->rank;
    n->forward_scale = 1.0;
    n->backward_scale = 1.0;
    n->thread_word = 1;
    n->directions = 2;
    n->internal_workspace = 1;
    n->data_array_count = 1;
    std::memset(n->name, ' ', sizeof(n->name));
    *out = n;
    return 0;
}

// Frees the lists and the node memory (nothing of a binding).
inline void free_node_memory(DFTI_DESCRIPTOR* node) {
    free_list(node, node->user_dims);
    free_list(node, node->user_batch);
    free_list(node, node->working_dims);
    free_list(node, node->working_batch);
    node->marker = 0;
    node->services->free(node);
}

// ---- getters ------------------------------------------------------------------

inline int get_rank(DFTI_DESCRIPTOR* n, std::int64_t* v) { *v = n->rank; return 0; }
inline int get_lengths(DFTI_DESCRIPTOR* n, std::int64_t* v) {
    for (int i = 0; i < n->rank; ++i) v[i] = n->user_dims.records[i].length;
    return 0;
}
inline int get_strides(DFTI_DESCRIPTOR* n, std::int64_t* v, std::int64_t dfti_dim::*f, std::int64_t off) {
    v[0] = off;
    for (int i = 0; i < n->rank; ++i) v[i + 1] = n->user_dims.records[i].*f;
    return 0;
}
inline int get_input_strides(DFTI_DESCRIPTOR* n, std::int64_t* v) { return get_strides(n, v, &dfti_dim::input_stride, n->input_offset); }
inline int get_output_strides(DFTI_DESCRIPTOR* n, std::int64_t* v) { return get_strides(n, v, &dfti_dim::output_stride, n->output_offset); }
inline int get_fwd_strides(DFTI_DESCRIPTOR* n, std::int64_t* v) { return get_strides(n, v, &dfti_dim::fwd_stride, n->fwd_offset); }
inline int get_bwd_strides(DFTI_DESCRIPTOR* n, std::int64_t* v) { return get_strides(n, v, &dfti_dim::bwd_stride, n->bwd_offset); }
inline int get_input_distance(DFTI_DESCRIPTOR* n, std::int64_t* v) { *v = n->user_batch.records[0].input_stride; return 0; }
inline int get_output_distance(DFTI_DESCRIPTOR* n, std::int64_t* v) { *v = n->user_batch.records[0].output_stride; return 0; }
inline int get_fwd_distance(DFTI_DESCRIPTOR* n, std::int64_t* v) { *v = n->user_batch.records[0].fwd_stride; return 0; }
inline int get_bwd_distance(DFTI_DESCRIPTOR* n, std::int64_t* v) { *v = n->user_batch.records[0].bwd_stride; return 0; }
inline int get_number_of_transforms(DFTI_DESCRIPTOR* n, std::int64_t* v) { *v = n->user_batch.records[0].length; return 0; }
// The thread limit query answers the threads in use of a committed node when
// it has any, else the limit.
inline int get_thread_limit(DFTI_DESCRIPTOR* n, std::int64_t* v) {
    *v = n->threads_in_use > 0 ? n->threads_in_use : n->thread_limit;
    return 0;
}
inline int get_name(DFTI_DESCRIPTOR* n, char* v) { std::memcpy(v, n->name, sizeof(n->name)); return 0; }
inline int get_scale(DFTI_DESCRIPTOR* n, int dir, double* v) {
    *v = dir == 0 ? n->forward_scale : n->backward_scale;
    return 0;
}

// ---- setters (each but the thread limit marks the node uncommitted) ----------------------

inline int set_strides(DFTI_DESCRIPTOR* n, const std::int64_t* v, std::int64_t dfti_dim::*f, std::int64_t& off) {
    if (!v) return DFTI_STATUS_INCONSISTENT;
    uncommit(n);
    off = v[0];
    for (int i = 0; i < n->rank; ++i) n->user_dims.records[i].*f = v[i + 1];
    return 0;
}
inline int set_input_strides(DFTI_DESCRIPTOR* n, const std::int64_t* v) { return set_strides(n, v, &dfti_dim::input_stride, n->input_offset); }
inline int set_output_strides(DFTI_DESCRIPTOR* n, const std::int64_t* v) { return set_strides(n, v, &dfti_dim::output_stride, n->output_offset); }
inline int set_fwd_strides(DFTI_DESCRIPTOR* n, const std::int64_t* v) { return set_strides(n, v, &dfti_dim::fwd_stride, n->fwd_offset); }
inline int set_bwd_strides(DFTI_DESCRIPTOR* n, const std::int64_t* v) { return set_strides(n, v, &dfti_dim::bwd_stride, n->bwd_offset); }
inline int set_distance(DFTI_DESCRIPTOR* n, std::int64_t v, std::int64_t dfti_dim::*f) {
    uncommit(n);
    n->user_batch.records[0].*f = v;
    return 0;
}
inline int set_input_distance(DFTI_DESCRIPTOR* n, std::int64_t v) { return set_distance(n, v, &dfti_dim::input_stride); }
inline int set_output_distance(DFTI_DESCRIPTOR* n, std::int64_t v) { return set_distance(n, v, &dfti_dim::output_stride); }
inline int set_fwd_distance(DFTI_DESCRIPTOR* n, std::int64_t v) { return set_distance(n, v, &dfti_dim::fwd_stride); }
inline int set_bwd_distance(DFTI_DESCRIPTOR* n, std::int64_t v) { return set_distance(n, v, &dfti_dim::bwd_stride); }
inline int set_number_of_transforms(DFTI_DESCRIPTOR* n, std::int64_t v) {
    if (v < 1) return DFTI_STATUS_INCONSISTENT;
    return set_distance(n, v, &dfti_dim::length);
}
// The thread limit changes no layout: a committed binding stays valid, so
// the limit is stored without detaching the owner.
inline int set_thread_limit(DFTI_DESCRIPTOR* n, std::int64_t v) {
    if (v < 0 || v > INT32_MAX) return DFTI_STATUS_INCONSISTENT;
    n->thread_limit = static_cast<std::int32_t>(v);
    return 0;
}
inline int set_name(DFTI_DESCRIPTOR* n, const char* name, std::int64_t len, char fill) {
    std::int64_t k = std::min<std::int64_t>(std::max<std::int64_t>(len, 0), sizeof(n->name));
    if (!name) k = 0;
    if (k) std::memcpy(n->name, name, static_cast<std::size_t>(k));
    for (std::size_t i = static_cast<std::size_t>(k); i < sizeof(n->name); ++i) n->name[i] = fill;
    return 0;
}
inline int set_scale(DFTI_DESCRIPTOR* n, int dir, double v) {
    uncommit(n);
    (dir == 0 ? n->forward_scale : n->backward_scale) = v;
    return 0;
}

// Copies a node's configuration into a new node made with the same memory
// services: lists duplicated; no binding, no queue copy, no sub-node;
// uncommitted. The method table and detach entry are copied, so the copy is
// a node of the same layer.
inline int copy(DFTI_DESCRIPTOR* n, DFTI_DESCRIPTOR** out) {
    if (!out) return DFTI_STATUS_INCONSISTENT;
    *out = nullptr;
    const bkd_memory_services_t* s = n->services;
    auto* c = static_cast<DFTI_DESCRIPTOR*>(s->calloc(1, sizeof(DFTI_DESCRIPTOR), 64, 0));
    if (!c) return DFTI_STATUS_ALLOCATION_FAILED;
    std::memcpy(static_cast<void*>(c), n, sizeof(DFTI_DESCRIPTOR));
    c->user_dims = c->user_batch = c->working_dims = c->working_batch = dfti_dim_list{0, nullptr};
    const dfti_dim_list* src[4] = {&n->user_dims, &n->user_batch, &n->working_dims, &n->working_batch};
    dfti_dim_list* dst[4] = {&c->user_dims, &c->user_batch, &c->working_dims, &c->working_batch};
    for (int i = 0; i < 4; ++i) {
        if (alloc_list(s, *dst[i], src[i]->count)) {
            for (int j = 0; j < i; ++j) free_list(c, *dst[j]);
            s->free(c);
            return DFTI_STATUS_ALLOCATION_FAILED;
        }
        if (src[i]->count) std::memcpy(dst[i]->records, src[i]->records, sizeof(dfti_dim) * src[i]->count);
    }
    c->commit_status = DFTI_UNCOMMITTED;
    c->compute_fwd = nullptr;
    c->compute_bwd = nullptr;
    c->bkd = nullptr;
    c->bkd_data = nullptr;
    c->detach_hook = nullptr;
    c->sub_node = nullptr;
    c->cpu_plan = nullptr;
    c->queue = nullptr;
    c->queue_copy = nullptr;
    c->threads_in_use = 0;
    c->twiddle_workspace_bytes = c->scratch_workspace_bytes = 0;
    c->workspace_kind = 0;
    c->workspace_buffer = nullptr;
    *out = c;
    return 0;
}

// ---- normalisation ------------------------------------------------------------

// The stride (or distance) a record offers on the input side: the input
// field, or the forward-domain field when the input field is 0 (not given).
inline std::int64_t input_side(const dfti_dim& d) { return d.input_stride ? d.input_stride : d.fwd_stride; }
inline std::int64_t output_side(const dfti_dim& d) { return d.output_stride ? d.output_stride : d.bwd_stride; }

// True when the caller gave the stride vector held in field `f` of the
// dimension records: a vector of zeros with offset 0 reads as not given.
inline bool strides_given(const DFTI_DESCRIPTOR* n, std::int64_t dfti_dim::*f, std::int64_t offset) {
    if (offset) return true;
    for (std::int64_t i = 0; i < n->user_dims.count; ++i)
        if (n->user_dims.records[i].*f) return true;
    return false;
}

// The input/output layout pair a node's transforms use. A complex transform
// in place reads and writes one layout: its input side, when given, is that
// layout and the output strides do not count (an FFTW-style in-place plan
// sets only the input side, over a node whose output strides hold the
// creator's packed defaults; the descriptor refuses at commit two different
// layouts that a caller gave); otherwise the output side, when given, is. A
// distance given on one side only holds for both. Both routes and every GPU
// backend take the layout from here, through normalize() for the working
// lists.
struct io_layout {
    bool in_given = false, out_given = false;  // the pair's fields carry the layout of that side
    bool mirror_in = false, mirror_out = false;  // the side is a copy of the other one
    std::int64_t in_offset = 0, out_offset = 0;
};
inline io_layout io_layout_of(const DFTI_DESCRIPTOR* n) {
    io_layout l;
    l.in_given = strides_given(n, &dfti_dim::input_stride, n->input_offset);
    l.out_given = strides_given(n, &dfti_dim::output_stride, n->output_offset);
    l.in_offset = n->input_offset;
    l.out_offset = n->output_offset;
    if (n->forward_domain == DFTI_COMPLEX && n->placement == DFTI_INPLACE && (l.in_given || l.out_given)) {
        if (l.in_given) {
            l.mirror_out = l.out_given = true;
            l.out_offset = l.in_offset;
        } else {
            l.mirror_in = l.in_given = true;
            l.in_offset = l.out_offset;
        }
    }
    return l;
}
// Applies the pair of `l` to one dimension record.
inline void apply_io_layout(const io_layout& l, dfti_dim& d) {
    if (l.mirror_out) d.output_stride = d.input_stride;
    if (l.mirror_in) d.input_stride = d.output_stride;
}
// Applies the distance rule to one batch record: a complex transform in place
// whose distance is given on one side only has it on both.
inline void apply_io_distances(const DFTI_DESCRIPTOR* n, dfti_dim& b) {
    if (n->forward_domain != DFTI_COMPLEX || n->placement != DFTI_INPLACE) return;
    if (b.output_stride == 0) b.output_stride = b.input_stride;
    if (b.input_stride == 0) b.input_stride = b.output_stride;
}

// Rewrites the working lists from the user lists. Rules:
// 1. A negative stride, distance or offset anywhere gives 3.
// 2. Dimension records, complex domain: records of length 1 are dropped (a
//    length-1 transform is the identity, whatever its strides); when every
//    record has length 1, the innermost one stays. The remaining records are
//    sorted by their input-side stride, then output-side stride (stable), so
//    that the first record is the innermost in memory; a multi-dimensional
//    transform is separable, so the order of its dimensions does not change
//    the result. Records are never fused: a transform over two dimensions is
//    not a transform over their product.
//    Real domain: the first record stays first (it is the one whose
//    conjugate-even half is stored), whatever its length; outer records of
//    length 1 are dropped and the others keep their order.
//    A complex transform in place given one side of the input/output stride
//    pair has it on both (io_layout_of).
// 3. Batch records: records of count 1 are dropped; a complex transform in
//    place given a distance on one side only has it on both; the rest are sorted by
//    input-side distance, then output-side distance (stable); a record B fuses
//    into the record A before it when, for each of the four distance fields,
//    B's distance equals A's count times A's distance (B continues A's
//    sequence), giving {A.count * B.count, A's distances}. When no record is
//    left, the list holds exactly one record {1, the first user record's
//    distances}, so that a backend always finds the number of transforms in
//    record 0.
// Returns 0, 1 when allocation fails, 3 for a negative value.
inline int normalize(DFTI_DESCRIPTOR* n) {
    if (n->input_offset < 0 || n->output_offset < 0 || n->fwd_offset < 0 || n->bwd_offset < 0)
        return DFTI_STATUS_INCONSISTENT;
    auto negative = [](const dfti_dim& d) {
        return d.input_stride < 0 || d.output_stride < 0 || d.fwd_stride < 0 || d.bwd_stride < 0;
    };
    for (std::int64_t i = 0; i < n->user_dims.count; ++i)
        if (negative(n->user_dims.records[i])) return DFTI_STATUS_INCONSISTENT;
    for (std::int64_t i = 0; i < n->user_batch.count; ++i)
        if (negative(n->user_batch.records[i]) || n->user_batch.records[i].length < 1)
            return DFTI_STATUS_INCONSISTENT;

    const io_layout io = io_layout_of(n);
    dfti_dim dims[DFTI_MAX_RANK];
    std::int64_t nd = 0;
    const std::int64_t rank = std::min<std::int64_t>(n->user_dims.count, DFTI_MAX_RANK);
    if (n->forward_domain == DFTI_COMPLEX) {
        for (std::int64_t i = 0; i < rank; ++i)
            if (n->user_dims.records[i].length != 1) dims[nd++] = n->user_dims.records[i];
        if (nd == 0 && rank > 0) dims[nd++] = n->user_dims.records[0];
        for (std::int64_t i = 0; i < nd; ++i) apply_io_layout(io, dims[i]);
        std::stable_sort(dims, dims + nd, [](const dfti_dim& a, const dfti_dim& b) {
            if (input_side(a) != input_side(b)) return input_side(a) < input_side(b);
            return output_side(a) < output_side(b);
        });
    } else {
        // The innermost record stays (its half-spectrum is what the complex
        // side stores); outer records of length 1 are dropped.
        for (std::int64_t i = 0; i < rank; ++i)
            if (i == 0 || n->user_dims.records[i].length != 1) dims[nd++] = n->user_dims.records[i];
    }

    dfti_dim batch[DFTI_USER_BATCH_RECORDS + 1];
    std::int64_t nb = 0;
    const std::int64_t ub = std::min<std::int64_t>(n->user_batch.count, DFTI_USER_BATCH_RECORDS);
    for (std::int64_t i = 0; i < ub; ++i)
        if (n->user_batch.records[i].length != 1) {
            batch[nb] = n->user_batch.records[i];
            apply_io_distances(n, batch[nb++]);
        }
    std::stable_sort(batch, batch + nb, [](const dfti_dim& a, const dfti_dim& b) {
        if (input_side(a) != input_side(b)) return input_side(a) < input_side(b);
        return output_side(a) < output_side(b);
    });
    std::int64_t nf = 0;
    for (std::int64_t i = 0; i < nb; ++i) {
        if (nf > 0) {
            dfti_dim& a = batch[nf - 1];
            const dfti_dim& b = batch[i];
            // Products that do not fit 64 bits continue no sequence.
            auto continues = [&](std::int64_t dfti_dim::*f) {
                std::int64_t next;
                return ovx_checked::mul(a.length, a.*f, next) && b.*f == next;
            };
            std::int64_t fused;
            if (continues(&dfti_dim::input_stride) && continues(&dfti_dim::output_stride) &&
                continues(&dfti_dim::fwd_stride) && continues(&dfti_dim::bwd_stride) &&
                ovx_checked::mul(a.length, b.length, fused)) {
                a.length = fused;
                continue;
            }
        }
        batch[nf++] = batch[i];
    }
    if (nf == 0) {
        batch[0] = ub > 0 ? n->user_batch.records[0] : dfti_dim{1, 0, 0, 0, 0};
        batch[0].length = 1;
        nf = 1;
    }

    dfti_dim_list wd, wb;
    if (alloc_list(n->services, wd, nd)) return DFTI_STATUS_ALLOCATION_FAILED;
    if (alloc_list(n->services, wb, nf)) {
        n->services->free(wd.records);
        return DFTI_STATUS_ALLOCATION_FAILED;
    }
    if (nd) std::memcpy(wd.records, dims, sizeof(dfti_dim) * nd);
    std::memcpy(wb.records, batch, sizeof(dfti_dim) * nf);
    free_list(n, n->working_dims);
    free_list(n, n->working_batch);
    n->working_dims = wd;
    n->working_batch = wb;
    n->working_rank = static_cast<std::int32_t>(nd);
    return 0;
}

// Data-array count of a committed node: 1 in place, 2 out of place, doubled
// for split complex storage of a complex node.
inline std::int32_t data_array_count(const DFTI_DESCRIPTOR* n) {
    std::int32_t c = n->placement == DFTI_INPLACE ? 1 : 2;
    if (n->forward_domain == DFTI_COMPLEX && n->complex_storage == DFTI_REAL_REAL) c *= 2;
    return c;
}

}  // namespace dfti_node_ops

#endif
