// Planner shapes of the GPU 1D modules: the common applicability test of the
// complex modules and the planner inputs every module copies from the node.
#ifndef OVX_DFT_GPU_FRAME_SHAPES_HPP
#define OVX_DFT_GPU_FRAME_SHAPES_HPP

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include <sycl/sycl.hpp>

#include "dft/node/ovx_dft_node.hpp"
#include "gpu/ovx_gpu.hpp"

namespace korami {
namespace ovx {
namespace dft {
namespace gpufw {

// What selects a prebuilt kernel binary: the device's backend and its
// driver version (empty when the driver does not answer).
struct frame_prebuilt_key {
    int backend = -1;
    std::string driver;
};
inline frame_prebuilt_key frame_prebuilt_key_of(sycl::queue* q) {
    frame_prebuilt_key k;
    k.backend = korami::ovx::gpu::get_device_backend(q);
    try {
        k.driver = q->get_device().get_info<sycl::info::device::driver_version>();
    } catch (const std::exception&) {
        k.driver.clear();
    }
    return k;
}

// Common applicability test of the 1D complex modules: 0 applicable, 100 not.
// `length_ok` is the module's own test of the transform length.
template <class LengthTest>
int common_1d_c2c_test(const DFTI_DESCRIPTOR* node, LengthTest length_ok) {
    if (node->colbatch_group_count > 0) return DFTI_STATUS_NOT_APPLICABLE;
    if (node->forward_domain != DFTI_COMPLEX) return DFTI_STATUS_NOT_APPLICABLE;
    if (node->complex_storage != DFTI_COMPLEX_COMPLEX) return DFTI_STATUS_NOT_APPLICABLE;
    if (node->working_dims.count != 1) return DFTI_STATUS_NOT_APPLICABLE;
    if (node->working_batch.count != 1) return DFTI_STATUS_NOT_APPLICABLE;
    const dfti_dim& d = node->working_dims.records[0];
    const std::int64_t is = d.input_stride != 0 ? d.input_stride : d.fwd_stride;
    const std::int64_t os = d.output_stride != 0 ? d.output_stride : d.bwd_stride;
    if (is != 1 || os != 1) return DFTI_STATUS_NOT_APPLICABLE;
    if (!length_ok(d.length)) return DFTI_STATUS_NOT_APPLICABLE;
    if (node->input_offset || node->output_offset || node->fwd_offset || node->bwd_offset)
        return DFTI_STATUS_NOT_APPLICABLE;
    return 0;
}

// Copies the first working dimension (length and strides) and the offsets of
// the node into a planner's shape.
template <class Shape>
void frame_copy_dim(const DFTI_DESCRIPTOR* node, Shape& s) {
    s.dims = static_cast<int>(node->working_dims.count);
    if (s.dims >= 1) {
        const dfti_dim& d = node->working_dims.records[0];
        s.n = d.length;
        s.input_stride = d.input_stride;
        s.output_stride = d.output_stride;
        s.fwd_stride = d.fwd_stride;
        s.bwd_stride = d.bwd_stride;
    }
    s.input_offset = node->input_offset;
    s.output_offset = node->output_offset;
    s.fwd_offset = node->fwd_offset;
    s.bwd_offset = node->bwd_offset;
}

// The shape the column-batched planners take.
template <class Shape>
Shape frame_colbatch_shape(const DFTI_DESCRIPTOR* node) {
    Shape s;
    s.complex_domain = node->forward_domain == DFTI_COMPLEX;
    s.interleaved = node->complex_storage == DFTI_COMPLEX_COMPLEX;
    frame_copy_dim(node, s);
    s.in_place = node->placement == DFTI_INPLACE;
    s.batches = static_cast<int>(node->working_batch.count);
    for (int i = 0; i < s.batches && i < 2; ++i) {
        const dfti_dim& r = node->working_batch.records[i];
        s.batch[i] = {r.length, r.input_stride, r.output_stride, r.fwd_stride, r.bwd_stride};
    }
    s.colbatch_group_count = node->colbatch_group_count;
    s.directions = node->directions;
    return s;
}

// The fields every 1D planner input takes from the node: length, precision,
// device generation, directions and the batch record.
template <class In>
In frame_plan_input(const DFTI_DESCRIPTOR* node, std::int32_t arch, bool single) {
    const dfti_dim& d = node->working_dims.records[0];
    const dfti_dim& bt = node->working_batch.records[0];
    In in{};
    in.n = d.length;
    in.single = single;
    in.arch = arch;
    in.directions = node->directions;
    in.batch = {bt.length, bt.fwd_stride, bt.bwd_stride, bt.input_stride, bt.output_stride};
    return in;
}

// The smallest sub-group size of a device, 0 when it has none.
inline std::int64_t frame_min_sub_group(const sycl::device& d) {
    const std::vector<std::size_t> sizes = d.get_info<sycl::info::device::sub_group_sizes>();
    std::int64_t least = 0;
    for (std::size_t v : sizes)
        if (least == 0 || static_cast<std::int64_t>(v) < least) least = static_cast<std::int64_t>(v);
    return least;
}

// True when the queue's device has sub-groups of 8 (`otherwise` without a queue).
inline bool frame_has_subgroup8(sycl::queue* q, bool otherwise) {
    if (!q) return otherwise;
    const std::vector<std::size_t> sizes = q->get_device().get_info<sycl::info::device::sub_group_sizes>();
    for (std::size_t v : sizes)
        if (v == 8) return true;
    return false;
}

}  // namespace gpufw
}  // namespace dft
}  // namespace ovx
}  // namespace korami

#endif
