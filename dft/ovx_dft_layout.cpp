// The layout model of both routes: the layout each direction reads and
// writes (the CPU route's handles are built from it), the bytes a layout
// reaches, and the layout checks of commit.
#include <algorithm>
#include <numeric>
#include <string>

#include "dft/contract/ovx_dft_checked.hpp"
#include "dft/ovx_dft_internal.hpp"

namespace korami {
namespace ovx {
namespace dft {
namespace detail {

using dfti_node_ops::strides_given;

void effective_layout(const DFTI_DESCRIPTOR* n, int which, cpu_layout& l) {
    const dfti_node_ops::io_layout io = dfti_node_ops::io_layout_of(n);
    auto dom_in = which == 0 ? &dfti_dim::fwd_stride : &dfti_dim::bwd_stride;
    auto dom_out = which == 0 ? &dfti_dim::bwd_stride : &dfti_dim::fwd_stride;
    auto in_f = io.in_given ? &dfti_dim::input_stride : dom_in;
    auto out_f = io.out_given ? &dfti_dim::output_stride : dom_out;
    l.in_offset = io.in_given ? io.in_offset : (which == 0 ? n->fwd_offset : n->bwd_offset);
    l.out_offset = io.out_given ? io.out_offset : (which == 0 ? n->bwd_offset : n->fwd_offset);
    for (int i = 0; i < n->rank && i < DFTI_MAX_RANK; ++i) {
        dfti_dim s = n->user_dims.records[i];
        dfti_node_ops::apply_io_layout(io, s);
        l.dims[i] = dfti_dim{s.length, s.*in_f, s.*out_f, 0, 0};
    }
    l.nbatch = std::min<std::int64_t>(n->user_batch.count, DFTI_USER_BATCH_RECORDS);
    for (std::int64_t b = 0; b < l.nbatch; ++b) {
        dfti_dim s = n->user_batch.records[b];
        dfti_node_ops::apply_io_distances(n, s);
        const bool din = s.input_stride != 0, dout = s.output_stride != 0;
        l.batch[b] = dfti_dim{s.length, din ? s.input_stride : s.*dom_in, dout ? s.output_stride : s.*dom_out, 0, 0};
    }
}

namespace {

// The parameters a side of direction `which` takes its layout from, for
// messages: the stride vector and the distance.
struct side_names {
    const char* strides;
    const char* distance;
};
side_names names_of(const DFTI_DESCRIPTOR* n, int which, bool output) {
    const dfti_node_ops::io_layout io = dfti_node_ops::io_layout_of(n);
    const bool fwd_domain = (which == 0) != output;
    // A mirrored side carries the parameter of the other side.
    const bool from_output = output ? !io.mirror_out : io.mirror_in;
    const bool given = output ? io.out_given : io.in_given;
    return {given ? (from_output ? "OUTPUT_STRIDES" : "INPUT_STRIDES") : (fwd_domain ? "FWD_STRIDES" : "BWD_STRIDES"),
            fwd_domain ? "FWD_DISTANCE" : "BWD_DISTANCE"};
}

// One side of a direction's layout: offset, then {count, stride} per axis
// (the dimensions innermost first, then the batch records), in elements of
// `elem_bytes` bytes.
struct side_layout {
    std::int64_t offset = 0;
    int axes = 0;
    std::int64_t count[DFTI_MAX_RANK + DFTI_USER_BATCH_RECORDS] = {};
    std::int64_t stride[DFTI_MAX_RANK + DFTI_USER_BATCH_RECORDS] = {};
    std::int64_t elem_bytes = 0;
    int rank = 0;  // the first `rank` axes are dimensions, the rest batch records
};

// The side that direction `which` reads (output false) or writes (output
// true). A complex transform in place writes in its input layout.
side_layout side_of(const DFTI_DESCRIPTOR* n, int which, bool output, std::int64_t real_bytes) {
    cpu_layout l;
    effective_layout(n, which, l);
    const bool real = n->forward_domain == DFTI_REAL;
    if (!real && n->placement == DFTI_INPLACE) output = false;
    // The complex side of a real transform: the forward output, the backward input.
    const bool complex_side = !real || (which == 0) == output;
    side_layout s;
    s.elem_bytes = complex_side ? 2 * real_bytes : real_bytes;
    s.offset = output ? l.out_offset : l.in_offset;
    for (int i = 0; i < n->rank && i < DFTI_MAX_RANK; ++i, ++s.axes) {
        std::int64_t len = l.dims[i].length;
        if (real && complex_side && i == 0) len = len / 2 + 1;
        s.count[s.axes] = len;
        s.stride[s.axes] = output ? l.dims[i].output_stride : l.dims[i].input_stride;
    }
    s.rank = s.axes;
    for (std::int64_t b = 0; b < l.nbatch; ++b, ++s.axes) {
        s.count[s.axes] = l.batch[b].length;
        s.stride[s.axes] = output ? l.batch[b].output_stride : l.batch[b].input_stride;
    }
    return s;
}

// Bytes from the start of a container to past the last element of the side,
// with checked arithmetic in bytes; -1 when the extent does not fit 64 bits,
// with `bad_axis` the axis whose term overflowed (-1: the offset).
std::int64_t side_extent_bytes(const side_layout& s, int* bad_axis = nullptr) {
    std::int64_t end = 0;
    if (bad_axis) *bad_axis = -1;
    if (!ovx_checked::mul_add(s.offset, s.elem_bytes, s.elem_bytes, end)) return -1;
    for (int a = 0; a < s.axes; ++a) {
        std::int64_t step = 0;
        if (!ovx_checked::mul_add(s.stride[a], s.elem_bytes, 0, step) ||
            !ovx_checked::mul_add(s.count[a] - 1, step, end, end)) {
            if (bad_axis) *bad_axis = a;
            return -1;
        }
    }
    return end;
}

std::string stride_text(const DFTI_DESCRIPTOR* n, std::int64_t offset, std::int64_t dfti_dim::*f) {
    std::string t = "{" + std::to_string(offset);
    for (int i = n->rank - 1; i >= 0; --i) t += ", " + std::to_string(n->user_dims.records[i].*f);
    return t + "}";
}

// Finds two axes of a side (dimensions or batch records) along which two
// different elements land on one place: axes a and b with a's index below
// b's. The axes of more than one element, sorted by stride, are disjoint
// when each stride exceeds the span of the ones below it; that settles the
// usual layouts at once. Otherwise each pair is tried exactly: steps i along
// a and j along b meet when i * stride(a) == j * stride(b), whose smallest
// solution is i = stride(b) / g, j = stride(a) / g with g their greatest
// common divisor. Layouts that overlap only through three or more axes at
// once are not looked for (they are rare and the test would not be cheap):
// those are accepted.
bool coinciding_axes(const side_layout& s, int& a, int& b) {
    int order[DFTI_MAX_RANK + DFTI_USER_BATCH_RECORDS];
    int k = 0;
    for (int i = 0; i < s.axes; ++i)
        if (s.count[i] > 1) order[k++] = i;
    std::stable_sort(order, order + k, [&](int x, int y) { return s.stride[x] < s.stride[y]; });
    std::int64_t span = 0;  // the farthest element the axes so far reach
    bool disjoint = true;
    for (int i = 0; i < k && disjoint; ++i) {
        const int x = order[i];
        disjoint = s.stride[x] > span && ovx_checked::mul_add(s.stride[x], s.count[x] - 1, span, span);
    }
    if (disjoint) return false;
    for (int i = 0; i < k; ++i)
        for (int j = i + 1; j < k; ++j) {
            const int x = std::min(order[i], order[j]), y = std::max(order[i], order[j]);
            const std::int64_t g = std::gcd(s.stride[x], s.stride[y]);
            if (g > 0 && s.stride[y] / g < s.count[x] && s.stride[x] / g < s.count[y]) {
                a = x;
                b = y;
                return true;
            }
        }
    return false;
}

}  // namespace

// Bytes from the start of a data container to past the last element that the
// transform of direction `which` reads (output false) or writes (output
// true). Commit has refused layouts whose extent does not fit.
std::uint64_t layout_bytes(const DFTI_DESCRIPTOR* n, int which, bool output, std::int64_t real_bytes) {
    const std::int64_t b = side_extent_bytes(side_of(n, which, output, real_bytes));
    return b < 0 ? UINT64_MAX : static_cast<std::uint64_t>(b);
}

// What is wrong with the output that direction `which` writes, or an empty
// text: a stride of 0 along a dimension of more than one point, a distance
// of 0 between more than one transform, or two axes whose steps meet.
std::string output_fault(const DFTI_DESCRIPTOR* n, int which, std::int64_t real_bytes) {
    const bool real = n->forward_domain == DFTI_REAL;
    const side_layout s = side_of(n, which, true, real_bytes);
    const side_names names = names_of(n, which, real || n->placement != DFTI_INPLACE);
    for (int a = 0; a < s.axes; ++a) {
        if (s.count[a] < 2 || s.stride[a] != 0) continue;
        if (a < s.rank)
            return std::string(names.strides) + " gives a stride of 0 to a dimension of " +
                   std::to_string(s.count[a]) + " output points";
        return std::string(names.distance) + " is 0 between " + std::to_string(s.count[a]) + " output transforms";
    }
    int a = -1, b = -1;
    if (!coinciding_axes(s, a, b)) return {};
    // Name a distance when a batch axis takes part, else the strides.
    if (b >= s.rank)
        return std::string(names.distance) + " " + std::to_string(s.stride[b]) + " puts the outputs of " +
               std::to_string(s.count[b]) + " transforms on each other: " +
               (a >= s.rank ? "the other distance " : "a stride of ") + std::to_string(s.stride[a]) + " along " +
               std::to_string(s.count[a]) + (a >= s.rank ? " transforms" : " output points") +
               " reaches the same elements";
    return std::string(names.strides) + " put two output points in one place: strides " +
           std::to_string(s.stride[a]) + " and " + std::to_string(s.stride[b]) + " along dimensions of " +
           std::to_string(s.count[a]) + " and " + std::to_string(s.count[b]) + " points reach the same elements";
}

// Layout checks of commit, on every route:
// - every side's extent in bytes fits 64 bits;
// - no output puts two results in one place (output_fault); with
//   INPUT/OUTPUT_STRIDES given, a fault of one direction only is left to
//   that direction's compute: the returned bits (kForwardRefused,
//   kBackwardRefused) name the directions to refuse there;
// - a complex transform in place reads and writes one layout: forward and
//   backward strides (or input and output strides, when both are given) and
//   distances must be the same.
std::uint32_t check_layout(const DFTI_DESCRIPTOR* n, std::int64_t real_bytes, const char* fn) {
    const bool real = n->forward_domain == DFTI_REAL;
    if (!real && n->placement == DFTI_INPLACE) {
        const bool in_io = strides_given(n, &dfti_dim::input_stride, n->input_offset);
        const bool out_io = strides_given(n, &dfti_dim::output_stride, n->output_offset);
        std::int64_t dfti_dim::*a = &dfti_dim::fwd_stride;
        std::int64_t dfti_dim::*b = &dfti_dim::bwd_stride;
        std::int64_t oa = n->fwd_offset, ob = n->bwd_offset;
        const char *na = "FWD_STRIDES", *nb = "BWD_STRIDES";
        if (in_io || out_io) {
            a = &dfti_dim::input_stride;
            b = &dfti_dim::output_stride;
            oa = n->input_offset;
            ob = n->output_offset;
            na = "INPUT_STRIDES";
            nb = "OUTPUT_STRIDES";
        }
        if (in_io != out_io) b = a, ob = oa;  // one of the pair given: nothing to compare
        bool same = oa == ob;
        for (int i = 0; i < n->rank && same; ++i) {
            const dfti_dim& d = n->user_dims.records[i];
            same = d.length == 1 || d.*a == d.*b;
        }
        if (!same)
            throw invalid_argument("dft", fn,
                                   std::string("a complex transform in place reads and writes one layout: ") + na +
                                       " " + stride_text(n, oa, a) + " and " + nb + " " + stride_text(n, ob, b) +
                                       " differ");
        const dfti_dim& b0 = n->user_batch.records[0];
        if (b0.length > 1 && b0.fwd_stride != b0.bwd_stride && b0.input_stride == 0 && b0.output_stride == 0)
            throw invalid_argument("dft", fn,
                                   "a complex transform in place reads and writes one layout: FWD_DISTANCE " +
                                       std::to_string(b0.fwd_stride) + " and BWD_DISTANCE " +
                                       std::to_string(b0.bwd_stride) + " differ");
    }
    if (real && n->placement == DFTI_INPLACE) {
        // Real and complex data share one array: in one of the two directions
        // the side read and the side written must start at the same byte.
        bool one_start = false;
        for (int which = 0; which < 2 && !one_start; ++which) {
            const side_layout in = side_of(n, which, false, real_bytes);
            const side_layout out = side_of(n, which, true, real_bytes);
            std::int64_t a = 0, b = 0;
            one_start = ovx_checked::mul_add(in.offset, in.elem_bytes, 0, a) &&
                        ovx_checked::mul_add(out.offset, out.elem_bytes, 0, b) && a == b;
        }
        if (!one_start) {
            const side_names in = names_of(n, 0, false), out = names_of(n, 0, true);
            throw invalid_argument("dft", fn,
                                   std::string("a real transform in place keeps both domains in one array, but the "
                                               "offsets of ") +
                                       in.strides + " and " + out.strides +
                                       " start its real and complex data at different bytes");
        }
    }
    std::string fault[2];
    for (int which = 0; which < 2; ++which) {
        for (bool output : {false, true}) {
            const side_layout s = side_of(n, which, output, real_bytes);
            const side_names names = names_of(n, which, output && (real || n->placement != DFTI_INPLACE));
            int bad = -1;
            if (side_extent_bytes(s, &bad) < 0) {
                std::string what = bad >= s.rank ? std::string(names.distance) + " with NUMBER_OF_TRANSFORMS"
                                                 : std::string(names.strides);
                throw invalid_argument("dft", fn, what + " reach beyond what a 64-bit byte offset addresses");
            }
        }
        fault[which] = output_fault(n, which, real_bytes);
    }
    // INPUT_STRIDES and OUTPUT_STRIDES hold for both directions, so a caller
    // who gives them sets them for one direction and commits again before
    // the other: an output fault of only the other direction waits for a
    // compute of that direction. Otherwise the layout describes both
    // directions at once and a fault of either refuses the commit.
    const bool io = strides_given(n, &dfti_dim::input_stride, n->input_offset) ||
                    strides_given(n, &dfti_dim::output_stride, n->output_offset);
    std::uint32_t refused = 0;
    for (int which = 0; which < 2; ++which) {
        if (fault[which].empty()) continue;
        if (!io || !fault[1 - which].empty()) throw invalid_argument("dft", fn, fault[which]);
        refused |= which == 0 ? kForwardRefused : kBackwardRefused;
    }
    return refused;
}

}  // namespace detail
}  // namespace dft
}  // namespace ovx
}  // namespace korami
