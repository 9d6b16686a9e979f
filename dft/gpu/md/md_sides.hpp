// The layout of one dimension or batch record as each direction of a complex
// transform reads and writes it. Input and output strides (distances) are
// what a caller sets last and hold for both directions; where one is 0 (not
// given) the domain field of that side stands in: a forward transform reads
// the forward domain and writes the backward one, a backward transform the
// other way round.
#ifndef OVX_DFT_GPU_MD_MD_SIDES_HPP
#define OVX_DFT_GPU_MD_MD_SIDES_HPP

#include <cstdint>

#include "dft/node/ovx_dft_node.hpp"

namespace korami {
namespace ovx {
namespace dft {
namespace gpumd {

struct md_sides {
    std::int64_t fwd_in, fwd_out, bwd_in, bwd_out;
    // True when both directions read and write at `v`.
    bool all(std::int64_t v) const { return fwd_in == v && fwd_out == v && bwd_in == v && bwd_out == v; }
};

inline md_sides sides_of(const dfti_dim& d) {
    auto pick = [](std::int64_t io, std::int64_t domain) { return io != 0 ? io : domain; };
    return {pick(d.input_stride, d.fwd_stride), pick(d.output_stride, d.bwd_stride), pick(d.input_stride, d.bwd_stride),
            pick(d.output_stride, d.fwd_stride)};
}

}  // namespace gpumd
}  // namespace dft
}  // namespace ovx
}  // namespace korami

#endif
