// The verbose description of a node: the "FFT(" text that the compute
// entries print in verbose mode, for both routes and the offload entries.
#include "dft/node/ovx_dft_node.hpp"

#include <cstddef>
#include <cstdint>

#include "gpu/ovx_gpu.hpp"

void describe_descriptor_for_verbose(DFTI_DESCRIPTOR* node, sycl::queue* queue, char* text,
                                     std::uint64_t data_kind, const void* in, const void* out,
                                     int direction) {
    if (!text) return;
    text[0] = 0;
    if (!node) return;
    std::size_t rem = 511;
    char* p = text;
    const bool real = node->forward_domain == DFTI_REAL;
    p = append_formatted(p, &rem, "FFT(%s%s%s%s%s", node->precision == DFTI_DOUBLE ? "d" : "s",
                         real ? "r" : "c", direction == 0 ? "f" : "b",
                         node->placement == DFTI_INPLACE ? "i" : "o",
                         !real && node->complex_storage == DFTI_REAL_REAL ? "/" : "");
    for (int k = node->rank - 1; k >= 0; --k)
        p = append_formatted(p, &rem, k == node->rank - 1 ? "%lld" : "x%lld",
                             static_cast<long long>(node->user_dims.records[k].length));
    std::int64_t howmany = node->user_batch.count ? node->user_batch.records[0].length : 1;
    if (howmany > 1) p = append_formatted(p, &rem, "*%lld", static_cast<long long>(howmany));
    p = append_formatted(p, &rem, ",");
    struct { const char* label; std::int64_t dfti_dim::*f; std::int64_t off; } blocks[4] = {
        {"input_strides", &dfti_dim::input_stride, node->input_offset},
        {"output_strides", &dfti_dim::output_stride, node->output_offset},
        {"fwd_strides", &dfti_dim::fwd_stride, node->fwd_offset},
        {"bwd_strides", &dfti_dim::bwd_stride, node->bwd_offset}};
    for (auto& b : blocks) {
        bool given = b.off != 0;
        for (int k = 0; k < node->rank; ++k) given = given || node->user_dims.records[k].*b.f != 0;
        if (!given) continue;
        p = append_formatted(p, &rem, "%s:{%lld", b.label, static_cast<long long>(b.off));
        for (int k = node->rank - 1; k >= 0; --k)
            p = append_formatted(p, &rem, ",%lld", static_cast<long long>(node->user_dims.records[k].*b.f));
        p = append_formatted(p, &rem, "},");
    }
    if (howmany > 1) {
        const dfti_dim& b0 = node->user_batch.records[0];
        if (b0.input_stride || b0.output_stride)
            p = append_formatted(p, &rem, "input_distance:%lld,output_distance:%lld,",
                                 static_cast<long long>(b0.input_stride), static_cast<long long>(b0.output_stride));
        if (b0.fwd_stride || b0.bwd_stride)
            p = append_formatted(p, &rem, "fwd_distance:%lld,bwd_distance:%lld,",
                                 static_cast<long long>(b0.fwd_stride), static_cast<long long>(b0.bwd_stride));
    }
    if (!(node->forward_scale == 1.0)) p = append_formatted(p, &rem, "fScale:%lg,", node->forward_scale);
    if (!(node->backward_scale == 1.0)) p = append_formatted(p, &rem, "bScale:%lg,", node->backward_scale);
    if (real && node->conjugate_even_storage == DFTI_COMPLEX_REAL)
        p = append_formatted(p, &rem, "pack:%s,",
                             node->packed_format == DFTI_CCS_FORMAT ? "ccs"
                             : node->packed_format == DFTI_PACK_FORMAT ? "pack" : "perm");
    if (node->destroy_input == 16) p = append_formatted(p, &rem, "destroy_input:allow,");
    if (node->queue_mode != 0)
        p = append_formatted(p, &rem, "offload:%s,", node->queue_mode == 1 ? "synchronous" : "asynchronous");
    else if (node->internal_workspace == 0)
        p = append_formatted(p, &rem, "workspace:external,");
    if (data_kind == DFTI_CONTAINER_USM) {
        const char* kinds[2] = {"unknown", "unknown"};
        const void* ptrs[2] = {in, out};
        if (queue) {
            for (int i = 0; i < 2; ++i) {
                if (!ptrs[i]) continue;
                switch (sycl::get_pointer_type(ptrs[i], queue->get_context())) {
                case sycl::usm::alloc::host: kinds[i] = "host"; break;
                case sycl::usm::alloc::device: kinds[i] = "device"; break;
                case sycl::usm::alloc::shared: kinds[i] = "shared"; break;
                default: kinds[i] = "unknown"; break;
                }
            }
        }
        p = append_formatted(p, &rem, "in:usm_%s,", kinds[0]);
        if (out && out != in) p = append_formatted(p, &rem, "out:usm_%s,", kinds[1]);
    } else {
        p = append_formatted(p, &rem, "in:buffer,");
    }
    if (queue) p = append_formatted(p, &rem, "queue:%s", queue->is_in_order() ? "in_order" : "out_of_order");
    p = append_formatted(p, &rem, ")");
}
