// The GPU node layer: node creation, the operation table, the commit loop,
// workspace binding, detach and destroy, the GPU gate and the layout
// comparison of composites. The CPU node layer is in ovx_dft_node_cpu.cpp,
// the verbose description of a node in ovx_dft_node_verbose.cpp.
#include "dft/node/ovx_dft_node.hpp"

#include <cstring>
#include <string>

#include "dft/node/ovx_dft_cpu_library.h"

#include "dft/contract/ovx_dft_node_ops.hpp"
#include "gpu/ovx_gpu.hpp"

// ---- memory --------------------------------------------------------------------

namespace {
void* node_calloc(std::size_t count, std::size_t size, std::size_t alignment, int context) {
    return ovx_gpu_bkd_calloc(count, size, alignment, context);
}
void node_free(void* p) { ovx_gpu_bkd_free(p); }
}  // namespace

const bkd_memory_services_t bkd_memory_services = {node_calloc, node_free};

// ---- GPU operation table -----------------------------------------------------------

int gpu_dfti_set_input_strides(DFTI_DESCRIPTOR* n, const std::int64_t* v) { return dfti_node_ops::set_input_strides(n, v); }
int gpu_dfti_set_output_strides(DFTI_DESCRIPTOR* n, const std::int64_t* v) { return dfti_node_ops::set_output_strides(n, v); }
int gpu_dfti_set_input_distance(DFTI_DESCRIPTOR* n, std::int64_t v) { return dfti_node_ops::set_input_distance(n, v); }
int gpu_dfti_set_output_distance(DFTI_DESCRIPTOR* n, std::int64_t v) { return dfti_node_ops::set_output_distance(n, v); }
int gpu_dfti_set_number_of_transforms(DFTI_DESCRIPTOR* n, std::int64_t v) {
    return dfti_node_ops::set_number_of_transforms(n, v);
}
int gpu_dfti_set_name(DFTI_DESCRIPTOR* n, const char* name, std::int64_t len, char fill) {
    return dfti_node_ops::set_name(n, name, len, fill);
}
int gpu_dfti_set_thread_limit(DFTI_DESCRIPTOR* n, std::int64_t v) { return dfti_node_ops::set_thread_limit(n, v); }

namespace {
int gpu_dfti_copy(DFTI_DESCRIPTOR* n, DFTI_DESCRIPTOR** out) { return dfti_node_ops::copy(n, out); }
}  // namespace

using namespace dfti_node_ops;
const dfti_method_table gpu_dfti_method_table = {
    gpu_dfti_commit,         gpu_dfti_commit,          get_input_strides,           get_output_strides,
    gpu_dfti_set_input_strides, gpu_dfti_set_output_strides, get_lengths,           get_name,
    gpu_dfti_set_name,       get_scale,                set_scale,                   gpu_dfti_copy,
    get_input_distance,      get_output_distance,      get_number_of_transforms,    gpu_dfti_set_input_distance,
    gpu_dfti_set_output_distance, gpu_dfti_set_number_of_transforms, get_thread_limit, gpu_dfti_set_thread_limit,
    get_rank,                set_fwd_distance,         set_bwd_distance,            gpu_dfti_destroy,
    gpu_dfti_set_workspace,  get_fwd_distance,         get_bwd_distance,            get_fwd_strides,
    get_bwd_strides,         set_fwd_strides,          set_bwd_strides,
};

// ---- creation ---------------------------------------------------------------------

int gpu_dfti_create_node(DFTI_DESCRIPTOR** out, int precision, int domain, std::int64_t rank,
                         const std::int64_t* lengths, void* context) {
    if (!out) return DFTI_STATUS_INVALID_DESCRIPTOR;
    *out = nullptr;
    ovx_gpu_memory_select(static_cast<const ovx_gpu_memory_block_t*>(context));
    int st = alloc_node(&bkd_memory_services, out, precision, domain, rank, lengths);
    if (st) return st;
    (*out)->methods = &gpu_dfti_method_table;
    (*out)->detach_backend = detach_backend;
    return 0;
}

namespace {
int create_with_list(DFTI_DESCRIPTOR** out, int precision, int domain, std::int64_t rank,
                     const std::int64_t* lengths, void* context) {
    int st = gpu_dfti_create_node(out, precision, domain, rank, lengths, context);
    if (st == 0) (*out)->bkdlist = gpu_dfti_select_bkdlist(precision, domain, rank);
    return st;
}
}  // namespace

int gpu_dfti_create_sc1d(DFTI_DESCRIPTOR** o, std::int64_t n, void* c) { return create_with_list(o, DFTI_SINGLE, DFTI_COMPLEX, 1, &n, c); }
int gpu_dfti_create_dc1d(DFTI_DESCRIPTOR** o, std::int64_t n, void* c) { return create_with_list(o, DFTI_DOUBLE, DFTI_COMPLEX, 1, &n, c); }
int gpu_dfti_create_sr1d(DFTI_DESCRIPTOR** o, std::int64_t n, void* c) { return create_with_list(o, DFTI_SINGLE, DFTI_REAL, 1, &n, c); }
int gpu_dfti_create_dr1d(DFTI_DESCRIPTOR** o, std::int64_t n, void* c) { return create_with_list(o, DFTI_DOUBLE, DFTI_REAL, 1, &n, c); }
int gpu_dfti_create_scmd(DFTI_DESCRIPTOR** o, std::int64_t r, const std::int64_t* l, void* c) { return create_with_list(o, DFTI_SINGLE, DFTI_COMPLEX, r, l, c); }
int gpu_dfti_create_dcmd(DFTI_DESCRIPTOR** o, std::int64_t r, const std::int64_t* l, void* c) { return create_with_list(o, DFTI_DOUBLE, DFTI_COMPLEX, r, l, c); }
int gpu_dfti_create_srmd(DFTI_DESCRIPTOR** o, std::int64_t r, const std::int64_t* l, void* c) { return create_with_list(o, DFTI_SINGLE, DFTI_REAL, r, l, c); }
int gpu_dfti_create_drmd(DFTI_DESCRIPTOR** o, std::int64_t r, const std::int64_t* l, void* c) { return create_with_list(o, DFTI_DOUBLE, DFTI_REAL, r, l, c); }

bkdlist gpu_dfti_select_bkdlist(int precision, int domain, std::int64_t rank) {
    const bool dbl = precision == DFTI_DOUBLE;
    const bool one = rank == 1;
    if (domain == DFTI_COMPLEX) {
        if (one) return dbl ? bkdlist_dc1d : bkdlist_sc1d;
        return dbl ? bkdlist_dcmd : bkdlist_scmd;
    }
    if (one) return dbl ? bkdlist_dr1d : bkdlist_sr1d;
    return dbl ? bkdlist_drmd : bkdlist_srmd;
}

// ---- binding ---------------------------------------------------------------------

void detach_backend(DFTI_DESCRIPTOR* node) {
    if (!node) return;
    if (DFTI_DESCRIPTOR* sub = node->sub_node) {
        node->sub_node = nullptr;
        if (sub->methods && sub->methods->destroy) sub->methods->destroy(sub);
    }
    if (const bkd_ops* owner = node->bkd) {
        if (owner->free) owner->free(owner, node);
        node->bkd = nullptr;
    }
    if (auto hook = node->detach_hook) {
        node->detach_hook = nullptr;
        hook(node);
    }
    node->commit_status = DFTI_UNCOMMITTED;
    node->compute_fwd = nullptr;
    node->compute_bwd = nullptr;
    node->flags &= ~1u;
}

int gpu_dfti_commit_bkdlist(DFTI_DESCRIPTOR* node) {
    int status = DFTI_STATUS_INVALID_DESCRIPTOR;
    if (!node || !node->bkdlist) return status;
    for (bkdlist l = node->bkdlist; *l; ++l) {
        const bkd_ops* rec = *l;
        status = rec->commit ? rec->commit(rec, node) : DFTI_STATUS_NOT_APPLICABLE;
        if (status == 0) return 0;
    }
    return status == DFTI_STATUS_NOT_APPLICABLE ? DFTI_STATUS_INVALID_DESCRIPTOR : status;
}

int gpu_dfti_commit(DFTI_DESCRIPTOR* node) {
    if (!node || node->marker != DFTI_NODE_MARKER) return DFTI_STATUS_BAD_DESCRIPTOR;
    if (int st = normalize(node)) return st;
    // Lengths of 1 can leave a transform of lower rank ({1, 1, 64} is a 1D
    // transform): it is offered to the list of its working rank, unless a
    // composite gave the node a list of its own.
    if (node->working_rank != node->rank &&
        node->bkdlist == gpu_dfti_select_bkdlist(node->precision, node->forward_domain, node->rank))
        node->bkdlist = gpu_dfti_select_bkdlist(node->precision, node->forward_domain, node->working_rank);
    return gpu_dfti_commit_bkdlist(node);
}

int gpu_dfti_set_workspace(DFTI_DESCRIPTOR* node, void* base, int kind) {
    if (!node || !node->bkd) return DFTI_STATUS_UNCOMMITTED_DESCRIPTOR;
    const bkd_ops* owner = node->bkd;
    if (!owner->add_workspace) return DFTI_STATUS_UNCOMMITTED_DESCRIPTOR;
    // The binding returns once the tables it writes into the caller's
    // workspace are written: the caller has no event of those writes, and
    // may free or reuse the workspace as soon as the call returns.
    std::vector<sycl::event> writes;
    int st = owner->add_workspace(base, kind, 0, node, DFTI_WS_BOTH, &writes);
    for (auto& e : writes) e.wait();
    if (st) return st;
    node->workspace_kind = kind;
    if (node->internal_workspace == 1) node->internal_workspace = 0;
    return 0;
}

int gpu_dfti_destroy(DFTI_DESCRIPTOR* node) {
    if (!node) return DFTI_STATUS_BAD_DESCRIPTOR;
    if (node->detach_backend) node->detach_backend(node);
    else detach_backend(node);
    delete node->queue_copy;
    node->queue_copy = nullptr;
    node->queue = nullptr;
    delete node->workspace_buffer;
    node->workspace_buffer = nullptr;
    free_node_memory(node);
    return 0;
}

// ---- the GPU gate ------------------------------------------------------------------

int gpu_commit(DFTI_DESCRIPTOR* node) {
    if (!node || node->marker != DFTI_NODE_MARKER || !node->queue) return DFTI_STATUS_BAD_DESCRIPTOR;
    sycl::device dev = node->queue->get_device();
    if (node->precision != DFTI_SINGLE && node->precision != DFTI_DOUBLE) return DFTI_STATUS_UNCOMMITTED_DESCRIPTOR;
    const bool dbl = node->precision == DFTI_DOUBLE;
    if (dbl && !dev.has(sycl::aspect::fp64)) return DFTI_STATUS_UNCOMMITTED_DESCRIPTOR;
    // Bytes of the complex data of all transforms (the larger side of a real
    // transform counts as complex too).
    // A product that does not fit 64 bits is over the limit too.
    std::int64_t bytes = dbl ? 16 : 8;
    const std::int64_t limit = std::int64_t{1} << (dbl ? 35 : 34);
    bool fits = true;
    for (std::int64_t i = 0; i < node->user_dims.count && fits; ++i)
        fits = ovx_checked::mul(bytes, node->user_dims.records[i].length, bytes);
    for (std::int64_t i = 0; i < node->user_batch.count && fits; ++i)
        fits = ovx_checked::mul(bytes, node->user_batch.records[i].length, bytes);
    if (!fits || bytes > limit) return DFTI_STATUS_UNIMPLEMENTED;
    if (node->rank > 3)
        throw korami::ovx::unimplemented("dft", "commit", "transforms of rank above 3 are not supported on GPU devices");
    // The GPU backends read a stride of 0 in a record as "not given" and take
    // the domain's stride instead: an input that reads one element along a
    // dimension of several points cannot be described to them.
    const dfti_node_ops::io_layout io = dfti_node_ops::io_layout_of(node);
    for (std::int64_t i = 0; i < node->user_dims.count && io.in_given; ++i) {
        dfti_dim d = node->user_dims.records[i];
        dfti_node_ops::apply_io_layout(io, d);
        if (d.length > 1 && d.input_stride == 0)
            throw korami::ovx::unimplemented(
                "dft", "commit",
                std::string(io.mirror_in ? "OUTPUT_STRIDES" : "INPUT_STRIDES") + " gives a stride of 0 to a dimension of " +
                    std::to_string(d.length) + " points: GPU devices read no input along a stride of 0");
    }
    // Release what the node's current layer holds before it becomes a GPU node.
    if (node->detach_backend) node->detach_backend(node);
    node->bkdlist = gpu_dfti_select_bkdlist(node->precision, node->forward_domain, node->rank);
    node->methods = &gpu_dfti_method_table;
    node->detach_backend = detach_backend;
    ovx_dft_bless_node_thr(node);
    return node->methods->commit(node);
}

// ---- layout comparison --------------------------------------------------------------

namespace {
bool same_list(const dfti_dim_list& a, const dfti_dim_list& b) {
    if (a.count != b.count) return false;
    return a.count == 0 || std::memcmp(a.records, b.records, sizeof(dfti_dim) * a.count) == 0;
}
}  // namespace

bool dfti_nodes_same_layout(const DFTI_DESCRIPTOR* a, const DFTI_DESCRIPTOR* b) {
    if (!a || !b || a == b) return false;
    return same_list(a->user_dims, b->user_dims) && same_list(a->user_batch, b->user_batch) && a->rank == b->rank &&
           a->forward_domain == b->forward_domain && a->precision == b->precision &&
           a->complex_storage == b->complex_storage && a->real_storage == b->real_storage &&
           a->conjugate_even_storage == b->conjugate_even_storage && a->packed_format == b->packed_format &&
           a->placement == b->placement && a->destroy_input == b->destroy_input &&
           a->commit_status == b->commit_status && a->thread_word == b->thread_word &&
           a->queue_mode == b->queue_mode && a->internal_workspace == b->internal_workspace &&
           a->thread_limit == b->thread_limit && a->is_sub_node == b->is_sub_node &&
           a->directions == b->directions && a->input_offset == b->input_offset &&
           a->output_offset == b->output_offset && a->fwd_offset == b->fwd_offset &&
           a->bwd_offset == b->bwd_offset && a->forward_scale == b->forward_scale &&
           a->backward_scale == b->backward_scale;
}

// ---- normalisation ---------------------------------------------------------------

// The commit's normalisation on its own, for callers that need a node's
// working lists without committing it.
int dfti_normalize_node(DFTI_DESCRIPTOR* node) {
    if (!node || node->marker != DFTI_NODE_MARKER) return DFTI_STATUS_BAD_DESCRIPTOR;
    return normalize(node);
}

// ---- CPU node layer ------------------------------------------------------------------
// Nodes made by the CPU transform library: ovx_dft_node_cpu.cpp. The verbose
// description of a node: ovx_dft_node_verbose.cpp.
