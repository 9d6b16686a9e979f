// Planner shapes of the GPU 1D modules: the common applicability test of the
// complex modules and the planner inputs every module copies from the node.
#ifndef OVX_DFT_GPU_FRAME_SHAPES_HPP
#define OVX_DFT_GPU_FRAME_SHAPES_HPP

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include <sycl/sycl.hpp>

#include "dft/gpu/frame/device.hpp"
#include "dft/gpu/frame/layout.hpp"
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
inline frame_prebuilt_key frame_prebuilt_key_of(const device_facts& dev) {
    frame_prebuilt_key k;
    k.backend = dev.known ? dev.backend : -1;
    k.driver = dev.driver;
    return k;
}

// The layout rule (layout.hpp) on the node's records: the strides of a
// dimension record and the distances of a batch record for direction `dir`.
inline side_pair governing_strides(const dfti_dim& d, int dir) {
    return governing_strides(d.input_stride, d.output_stride, d.fwd_stride, d.bwd_stride, dir);
}
inline side_pair governing_distances(const dfti_dim& b, int dir) {
    return governing_distances(b.input_stride, b.output_stride, b.fwd_stride, b.bwd_stride, dir);
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
    const side_pair s = governing_strides(d, 0);
    if (s.in != 1 || s.out != 1) return DFTI_STATUS_NOT_APPLICABLE;
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


}  // namespace gpufw
}  // namespace dft
}  // namespace ovx
}  // namespace korami

#endif
