// The CPU route's handles: one CPU transform library node per direction,
// made and committed from the descriptor's node with that direction's layout,
// and their release.
#include "dft/ovx_dft_internal.hpp"

namespace korami {
namespace ovx {
namespace dft {
namespace detail {

void release_cpu_handles(sycl::buffer<void*, 1>& slot, bool final) {
    auto acc = slot.get_host_access();  // waits for the host tasks using the handles
    auto* pair = static_cast<SYCL_DFTI_DESCRIPTOR*>(acc[0]);
    if (!pair) return;
    if (pair->forward) dfti_free_descriptor(&pair->forward);
    if (pair->backward) dfti_free_descriptor(&pair->backward);
    if (final) {
        delete pair;
        acc[0] = nullptr;
    }
}

namespace {
// Makes and commits the CPU handle of one direction (0 forward, 1 backward)
// from the descriptor's node, with the effective layout of that direction.
int build_cpu_handle(const DFTI_DESCRIPTOR* n, int which, DFTI_DESCRIPTOR** out) {
    std::int64_t lengths[DFTI_MAX_RANK];
    for (int i = 0; i < n->rank; ++i) lengths[i] = n->user_dims.records[n->rank - 1 - i].length;
    DFTI_DESCRIPTOR* h = nullptr;
    int st;
    if (n->precision == DFTI_DOUBLE)
        st = n->rank == 1 ? dfti_create_descriptor_d_1d(&h, n->forward_domain, lengths[0])
                          : dfti_create_descriptor_d_md(&h, n->forward_domain, n->rank, lengths);
    else
        st = n->rank == 1 ? dfti_create_descriptor_s_1d(&h, n->forward_domain, lengths[0])
                          : dfti_create_descriptor_s_md(&h, n->forward_domain, n->rank, lengths);
    if (st) return st;
    cpu_layout l;
    effective_layout(n, which, l);
    h->input_offset = l.in_offset;
    h->output_offset = l.out_offset;
    for (int i = 0; i < n->rank; ++i) h->user_dims.records[i] = l.dims[i];
    for (std::int64_t b = 0; b < l.nbatch && b < h->user_batch.count; ++b) h->user_batch.records[b] = l.batch[b];
    h->placement = n->placement;
    h->complex_storage = n->complex_storage;
    h->real_storage = n->real_storage;
    h->conjugate_even_storage = n->conjugate_even_storage;
    h->packed_format = n->packed_format;
    h->destroy_input = n->destroy_input;
    h->forward_scale = n->forward_scale;
    h->backward_scale = n->backward_scale;
    h->thread_limit = n->thread_limit;
    h->directions = which;
    st = dfti_commit_descriptor(h);
    if (st) {
        dfti_free_descriptor(&h);
        return st;
    }
    *out = h;
    return 0;
}

}  // namespace

int build_cpu_handles(const DFTI_DESCRIPTOR* n, SYCL_DFTI_DESCRIPTOR* pair) {
    if (!pair) return DFTI_STATUS_BAD_DESCRIPTOR;
    for (int which = 0; which < 2; ++which) {
        DFTI_DESCRIPTOR*& slot = which == 0 ? pair->forward : pair->backward;
        if (slot) dfti_free_descriptor(&slot);
        if (int st = build_cpu_handle(n, which, &slot)) {
            if (pair->forward) dfti_free_descriptor(&pair->forward);
            return st;
        }
    }
    return 0;
}

}  // namespace detail
}  // namespace dft
}  // namespace ovx
}  // namespace korami
