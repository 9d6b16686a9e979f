// The layout rule of the GPU route: which strides and distances a direction
// (0 forward, 1 backward) reads and writes. A dimension or batch record
// carries four fields per quantity: the input and output fields, which hold
// for both directions, and the forward-domain and backward-domain fields,
// which a forward transform reads on the forward side and writes on the
// backward side (a backward transform the other way round). No SYCL: the
// planners and their host tests use it as well as the frame.
//
// Each side takes its input (output) field when that is given (non-zero),
// else the domain field of that side of the direction: input and output
// strides and distances are what a caller sets last, so they come before the
// domain defaults that the descriptor always fills in. Strides and distances
// follow the same rule.
#ifndef OVX_DFT_GPU_FRAME_LAYOUT_HPP
#define OVX_DFT_GPU_FRAME_LAYOUT_HPP

#include <cstdint>

namespace korami {
namespace ovx {
namespace dft {
namespace gpufw {

// The input-side and output-side values of one direction.
struct side_pair {
    std::int64_t in = 0, out = 0;
};

// The strides of one direction of a dimension record.
constexpr side_pair governing_strides(std::int64_t input, std::int64_t output, std::int64_t fwd, std::int64_t bwd,
                                      int dir) {
    return {input != 0 ? input : (dir == 0 ? fwd : bwd), output != 0 ? output : (dir == 0 ? bwd : fwd)};
}

// True when the input/output pair governs both sides of a batch record.
constexpr bool io_distances(std::int64_t input, std::int64_t output, std::int64_t, std::int64_t) {
    return input != 0 && output != 0;
}

// The distances of one direction of a batch record.
constexpr side_pair governing_distances(std::int64_t input, std::int64_t output, std::int64_t fwd, std::int64_t bwd,
                                        int dir) {
    return governing_strides(input, output, fwd, bwd, dir);
}

}  // namespace gpufw
}  // namespace dft
}  // namespace ovx
}  // namespace korami

#endif
