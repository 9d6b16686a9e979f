// The layout of one dimension or batch record as each direction of a complex
// transform reads and writes it, by the layout rule of the GPU route
// (frame/layout.hpp): strides side by side, distances by pairs.
#ifndef OVX_DFT_GPU_MD_MD_SIDES_HPP
#define OVX_DFT_GPU_MD_MD_SIDES_HPP

#include <cstdint>

#include "dft/gpu/frame/shapes.hpp"
#include "dft/node/ovx_dft_node.hpp"

namespace korami {
namespace ovx {
namespace dft {
namespace gpumd {
using namespace gpufw;

struct md_sides {
    std::int64_t fwd_in, fwd_out, bwd_in, bwd_out;
    // True when both directions read and write at `v`.
    bool all(std::int64_t v) const { return fwd_in == v && fwd_out == v && bwd_in == v && bwd_out == v; }
};

// The strides of a dimension record.
inline md_sides sides_of(const dfti_dim& d) {
    const side_pair f = governing_strides(d, 0), b = governing_strides(d, 1);
    return {f.in, f.out, b.in, b.out};
}

// The distances of a batch record.
inline md_sides distance_sides_of(const dfti_dim& r) {
    const side_pair f = governing_distances(r, 0), b = governing_distances(r, 1);
    return {f.in, f.out, b.in, b.out};
}

// What every complex multi-dimensional module asks of a node before its own
// tests: complex storage 39 in the complex domain, working rank `rank`, one
// working batch record, no offsets, and no outer-stage count. 0 or 100.
inline int complex_md_applicability(const DFTI_DESCRIPTOR* node, std::int64_t rank) {
    if (node->colbatch_group_count >= 1) return DFTI_STATUS_NOT_APPLICABLE;
    if (node->forward_domain != DFTI_COMPLEX || node->complex_storage != DFTI_COMPLEX_COMPLEX)
        return DFTI_STATUS_NOT_APPLICABLE;
    if (node->working_dims.count != rank || node->working_batch.count != 1) return DFTI_STATUS_NOT_APPLICABLE;
    if (node->input_offset || node->output_offset || node->fwd_offset || node->bwd_offset)
        return DFTI_STATUS_NOT_APPLICABLE;
    return 0;
}

// The layout of a complex node of working rank R (2 or 3): per axis the
// length and the four sides, the number of transforms and the sides of their
// distance. Packed: every side of axis i has the running product of the
// lengths before it as stride and, with two or more transforms, the forward
// distances are the volume.
template <int R>
struct complex_md_layout {
    std::int64_t n[R] = {};
    std::int64_t fin[R] = {}, fout[R] = {}, bin[R] = {}, bout[R] = {};
    std::int64_t T = 1, dfin = 0, dfout = 0, dbin = 0, dbout = 0;
    bool packed = false;
};

template <int R>
void make_complex_md_layout(const DFTI_DESCRIPTOR* node, complex_md_layout<R>& l) {
    l = complex_md_layout<R>{};
    std::int64_t want = 1;
    l.packed = true;
    for (int i = 0; i < R; ++i) {
        const dfti_dim& d = node->working_dims.records[i];
        const md_sides s = sides_of(d);
        l.n[i] = d.length;
        l.fin[i] = s.fwd_in;
        l.fout[i] = s.fwd_out;
        l.bin[i] = s.bwd_in;
        l.bout[i] = s.bwd_out;
        l.packed = l.packed && s.all(want);
        want *= d.length;
    }
    const dfti_dim& b = node->working_batch.records[0];
    const md_sides ds = distance_sides_of(b);
    l.T = b.length;
    l.dfin = ds.fwd_in;
    l.dfout = ds.fwd_out;
    l.dbin = ds.bwd_in;
    l.dbout = ds.bwd_out;
    if (l.T > 1 && (l.dfin != want || l.dfout != want)) l.packed = false;
}

}  // namespace gpumd
}  // namespace dft
}  // namespace ovx
}  // namespace korami

#endif
