// Commit, set_workspace and the compute dispatch of the exported descriptor:
// the GPU route through the candidate lists and the nodes' compute entries,
// the CPU route through the CPU transform library in host tasks.
#include <ovx_serv.h>

#include <algorithm>
#include <complex>
#include <memory>
#include <numeric>
#include <cstdint>
#include <string>

#include "dft/contract/ovx_dft_checked.hpp"
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

template <typename T>
std::int64_t workspace_bytes(DFTI_DESCRIPTOR* n) {
    if (n->commit_status == DFTI_COMMITTED) {
        if (n->flags & kCpuRoute) return 0;
        return static_cast<std::int64_t>(n->twiddle_workspace_bytes + n->scratch_workspace_bytes);
    }
    DFTI_DESCRIPTOR* c = nullptr;
    if (dfti_node_ops::copy(n, &c)) throw host_bad_alloc("dft", "get_value");
    std::int64_t bytes = 0;
    if (dfti_node_ops::normalize(c) == 0) bytes = dft_estimate_workspace_bytes<T>(dft_workspace_problem{c, n->queue});
    dfti_node_ops::free_node_memory(c);
    return bytes;
}
template std::int64_t workspace_bytes<float>(DFTI_DESCRIPTOR*);
template std::int64_t workspace_bytes<double>(DFTI_DESCRIPTOR*);

namespace {

using dfti_node_ops::strides_given;

// The layout of one direction (0 forward, 1 backward) of the CPU route, in
// node order: the input strides when given, else the forward-domain strides
// (forward) or backward-domain strides (backward); the output strides when
// given, else the other domain's. Distances are chosen the same way per
// batch record. The input/output pair is the node layer's (io_layout_of), so
// both routes read one layout.
struct cpu_layout {
    std::int64_t in_offset = 0, out_offset = 0;
    dfti_dim dims[DFTI_MAX_RANK] = {};  // {length, input stride, output stride, 0, 0}
    dfti_dim batch[DFTI_USER_BATCH_RECORDS] = {};
    std::int64_t nbatch = 0;
};

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

// Bytes from the start of a data container to past the last element that the
// transform of direction `which` reads (output false) or writes (output
// true). Commit has refused layouts whose extent does not fit.
std::uint64_t layout_bytes(const DFTI_DESCRIPTOR* n, int which, bool output, std::int64_t real_bytes) {
    const std::int64_t b = side_extent_bytes(side_of(n, which, output, real_bytes));
    return b < 0 ? UINT64_MAX : static_cast<std::uint64_t>(b);
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

// Raises the exception of a failed status: the mapped exception, or
// internal_error for a non-zero status the mapping leaves without one, so
// that no failure returns as success.
void raise_failure(int status, const std::string& function) {
    throw_status(status, function);
    if (status != 0) throw internal_error_exception(function);
}

// Raises the failure of a GPU compute entry of direction `direction` (0
// forward). A direction whose layout no backend took at commit (the node
// serves the other one only) says so; nothing was submitted.
void raise_compute_failure(int status, int direction, const char* function) {
    if (status == DFTI_STATUS_DIRECTION_REFUSED) {
        const std::string asked = direction == 0 ? "forward" : "backward";
        const std::string served = direction == 0 ? "backward" : "forward";
        throw unimplemented("dft", function,
                            "this descriptor was committed for " + served + " transforms only: no GPU backend takes the " +
                                asked + " layout of its configuration, so nothing was computed");
    }
    raise_failure(status, function);
}

[[noreturn]] void throw_unimplemented_configuration() {
    throw unimplemented("dft", "commit", "Unimplemented support for the attempted configuration.");
}

// Prints the verbose line of a compute call.
void print_verbose(DFTI_DESCRIPTOR* n, sycl::queue* q, std::uint64_t kind, const void* in, const void* out,
                   int direction, double seconds) {
    char text[512];
    describe_descriptor_for_verbose(n, q, text, kind, in, out, direction);
    if (q && q->get_device().is_gpu()) korami::ovx::gpu::print_verbose_gpu_info(q, text, seconds);
    else ovx_serv_print_verbose_info(0, text, seconds);
}

int verbose_mode() {
    int* m = ovx_serv_verbose_mode();
    return m ? *m : 0;
}

}  // namespace
}  // namespace detail

using detail::check_node;
using detail::kCpuRoute;

// ---- commit --------------------------------------------------------------------

template <precision prec, domain dom>
void descriptor<prec, dom>::commit(sycl::queue& queue) {
    const char* fn = "commit";
    check_node(node_, fn);
    DFTI_DESCRIPTOR* n = node_;
    if (dfti_node_ops::normalize(n) == DFTI_STATUS_INCONSISTENT)
        throw invalid_argument("dft", fn, "strides, distances and offsets must not be negative");
    const dfti_dim& b0 = n->user_batch.records[0];
    if (b0.length > 1 && (b0.fwd_stride == 0 || b0.bwd_stride == 0) && (b0.input_stride == 0 || b0.output_stride == 0)) {
        const std::string zero = b0.fwd_stride == 0 && b0.bwd_stride == 0 ? "FWD_DISTANCE and BWD_DISTANCE are"
                                 : b0.fwd_stride == 0                     ? "FWD_DISTANCE is"
                                                                          : "BWD_DISTANCE is";
        throw invalid_argument("dft", fn,
                               zero + " 0, which is refused between " + std::to_string(b0.length) +
                                   " transforms: FWD_DISTANCE and BWD_DISTANCE must be set when NUMBER_OF_TRANSFORMS "
                                   "is above 1");
    }
    const std::uint32_t refused = detail::check_layout(n, sizeof(real_scalar_t), fn);
    sycl::device dev = queue.get_device();
    if (prec == precision::DOUBLE && !dev.has(sycl::aspect::fp64))
        throw unsupported_device("dft", fn, dev);

    // Release the previous binding and keep a copy of the queue.
    detail::quiesce(n);
    if (n->detach_backend) n->detach_backend(n);
    dfti_node_ops::uncommit(n);
    n->flags = (n->flags & ~(kCpuRoute | detail::kForwardRefused | detail::kBackwardRefused)) | refused;
    detail::release_cpu_handles(cpu_handles_, false);
    // A caller's workspace belongs to the binding just released: compute
    // must not take it for bound to the new one.
    n->workspace_kind = DFTI_CONTAINER_NONE;
    delete n->workspace_buffer;
    n->workspace_buffer = nullptr;
    auto* copy = new sycl::queue(queue);
    delete n->queue_copy;
    n->queue_copy = copy;
    n->queue = copy;

    if (dev.is_gpu()) {
        int st = gpu_commit(n);
        if (st == DFTI_STATUS_UNIMPLEMENTED) detail::throw_unimplemented_configuration();
        detail::raise_failure(st, fn);
        return;
    }

    // CPU route.
    if (n->rank > 3) throw unimplemented("dft", fn, "transforms of rank above 3 are not supported on this device");
    if (dom == domain::COMPLEX && n->complex_storage == DFTI_REAL_REAL)
        throw unimplemented("dft", fn, "split complex storage is not supported on this device");
    if (n->internal_workspace == 0)
        throw unimplemented("dft", fn, "WORKSPACE_EXTERNAL is not supported on this device");
    auto status = std::make_shared<int>(0);
    queue.submit([&](sycl::handler& cgh) {
             sycl::accessor<void*, 1, sycl::access_mode::read_write, sycl::target::host_task> slot(cpu_handles_, cgh);
             cgh.host_task([=]() {
                 *status = detail::build_cpu_handles(n, static_cast<SYCL_DFTI_DESCRIPTOR*>(slot[0]));
             });
         })
        .wait_and_throw();
    if (*status == DFTI_STATUS_UNIMPLEMENTED) detail::throw_unimplemented_configuration();
    detail::raise_failure(*status, fn);
    n->flags |= kCpuRoute;
    n->commit_status = DFTI_COMMITTED;
    n->data_array_count = dfti_node_ops::data_array_count(n);
}

// ---- set_workspace -----------------------------------------------------------------

namespace {
void check_workspace_target(DFTI_DESCRIPTOR* n, const char* fn) {
    check_node(n, fn);
    if (n->commit_status != DFTI_COMMITTED) throw uncommitted_descriptor_exception(fn);
    if (n->flags & kCpuRoute)
        throw invalid_argument("dft", fn, "a descriptor committed on a CPU queue takes no workspace");
}
}  // namespace

namespace {
// Leaves a node whose workspace binding failed part way without any binding:
// the backend dropped the areas of the previous one, so compute must find no
// workspace rather than a half-placed one.
void unbind_workspace(DFTI_DESCRIPTOR* n) {
    n->workspace_kind = DFTI_CONTAINER_NONE;
    n->internal_workspace = 0;
    delete n->workspace_buffer;
    n->workspace_buffer = nullptr;
}

// Binds `base` through the owner; any failure leaves the node unbound.
void bind_workspace(DFTI_DESCRIPTOR* n, void* base, int kind, const char* fn) {
    detail::quiesce(n);
    int st;
    try {
        st = gpu_dfti_set_workspace(n, base, kind);
    } catch (...) {
        unbind_workspace(n);
        throw;
    }
    if (st) {
        unbind_workspace(n);
        detail::raise_failure(st, fn);
    }
}
}  // namespace

template <precision prec, domain dom>
void descriptor<prec, dom>::set_workspace(real_scalar_t* usm_workspace) {
    const char* fn = "set_workspace";
    check_workspace_target(node_, fn);
    if (!usm_workspace) throw invalid_argument("dft", fn, "the workspace pointer is null");
    bind_workspace(node_, usm_workspace, DFTI_CONTAINER_USM, fn);
    delete node_->workspace_buffer;
    node_->workspace_buffer = nullptr;
}

template <precision prec, domain dom>
void descriptor<prec, dom>::set_workspace(sycl::buffer<real_scalar_t, 1>& buffer_workspace) {
    const char* fn = "set_workspace";
    check_workspace_target(node_, fn);
    // A buffer too short for the backend's areas is refused before anything
    // of the current binding is touched.
    const std::uint64_t need = node_->twiddle_workspace_bytes + node_->scratch_workspace_bytes;
    if (static_cast<std::uint64_t>(buffer_workspace.byte_size()) < need)
        throw invalid_argument("dft", fn, "the workspace buffer holds " + std::to_string(buffer_workspace.byte_size()) +
                                              " bytes; the transform needs " + std::to_string(need) +
                                              " (WORKSPACE_EXTERNAL_BYTES)");
    auto bytes = std::make_unique<sycl::buffer<char, 1>>(detail::as_bytes(buffer_workspace));
    // The node's buffer handle is replaced only once the new binding holds:
    // the previous one may still back areas until the owner drops them.
    sycl::buffer<char, 1>* previous = node_->workspace_buffer;
    node_->workspace_buffer = nullptr;
    try {
        bind_workspace(node_, bytes.get(), DFTI_CONTAINER_BUFFER, fn);
    } catch (...) {
        delete previous;
        throw;
    }
    delete previous;
    node_->workspace_buffer = bytes.release();
}

// ---- compute ----------------------------------------------------------------------

namespace {

// Checks common to both forms: node present, placement matches the form,
// committed, the direction's output layout not refused at commit.
void check_compute(DFTI_DESCRIPTOR* n, int direction, bool in_place_form, std::int64_t real_bytes, const char* fn) {
    check_node(n, fn);
    if (in_place_form && n->placement != DFTI_INPLACE)
        throw invalid_argument("dft", fn, "the descriptor is configured NOT_INPLACE: give an input and an output");
    if (!in_place_form && n->placement != DFTI_NOT_INPLACE)
        throw invalid_argument("dft", fn, "the descriptor is configured INPLACE: give one data argument");
    if (n->commit_status != DFTI_COMMITTED || !n->queue) throw uncommitted_descriptor_exception(fn);
    if (n->flags & (direction == 0 ? detail::kForwardRefused : detail::kBackwardRefused))
        throw invalid_argument("dft", fn,
                               std::string("the ") + (direction == 0 ? "forward" : "backward") +
                                   " transform of this layout would lose results: " +
                                   detail::output_fault(n, direction, real_bytes) +
                                   " (INPUT_STRIDES and OUTPUT_STRIDES hold for both directions: set them for this "
                                   "direction and commit again)");
}

// Checks of the GPU route: the compute entry and a bound workspace.
dfti_compute_fn gpu_entry(DFTI_DESCRIPTOR* n, int direction, const char* fn) {
    dfti_compute_fn entry = direction == 0 ? n->compute_fwd : n->compute_bwd;
    if (!entry) throw uncommitted_descriptor_exception(fn);
    if (n->internal_workspace == 0 && n->workspace_kind == 0 &&
        n->twiddle_workspace_bytes + n->scratch_workspace_bytes > 0)
        throw no_workspace_exception(fn);
    return entry;
}

}  // namespace

template <precision prec, domain dom>
sycl::event descriptor<prec, dom>::compute_usm(int direction, void* in, void* out,
                                               const std::vector<sycl::event>& deps, const char* fn) {
    const bool in_place_form = out == nullptr;
    check_compute(node_, direction, in_place_form, sizeof(real_scalar_t), fn);
    if (!in) throw invalid_argument("dft", fn, "the input pointer is null");
    // An out-of-place transform reads its input while it writes its output.
    if (in == out) throw invalid_argument("dft", fn, "the input and output of a NOT_INPLACE transform are the same array");
    DFTI_DESCRIPTOR* n = node_;
    void* dst = in_place_form ? in : out;
    sycl::queue& q = *n->queue;
    sycl::device dev = q.get_device();
    const int mode = detail::verbose_mode();
    if (mode == 2)
        for (const auto& e : deps) const_cast<sycl::event&>(e).wait();
    const double t0 = mode == 2 ? ovx_serv_dsecnd() : 0.0;
    sycl::event result;
    if (n->flags & kCpuRoute) {
        if (!dev.is_cpu()) return sycl::event{};
        const std::string function(fn);
        result = q.submit([&](sycl::handler& cgh) {
            cgh.depends_on(deps);
            sycl::accessor<void*, 1, sycl::access_mode::read, sycl::target::host_task> slot(cpu_handles_, cgh);
            cgh.host_task([=]() {
                auto* pair = static_cast<SYCL_DFTI_DESCRIPTOR*>(slot[0]);
                DFTI_DESCRIPTOR* h = pair ? (direction == 0 ? pair->forward : pair->backward) : nullptr;
                int st = h ? dfti_cpu_compute(h, direction, in, dst) : DFTI_STATUS_INVALID;
                detail::raise_failure(st, function);
            });
        });
    } else {
        dfti_compute_fn entry = gpu_entry(n, direction, fn);
        std::vector<sycl::event> d(deps);
        dfti_data_kind kind{DFTI_CONTAINER_USM};
        int st = entry(n, in, dst, &d, &kind, &result);
        detail::raise_compute_failure(st, direction, fn);
    }
    if (mode == 1) detail::print_verbose(n, &q, DFTI_CONTAINER_USM, in, dst, direction, 0.0);
    if (mode == 2) {
        result.wait();
        detail::print_verbose(n, &q, DFTI_CONTAINER_USM, in, dst, direction, ovx_serv_dsecnd() - t0);
    }
    return result;
}

template <precision prec, domain dom>
void descriptor<prec, dom>::compute_buffer(int direction, sycl::buffer<char, 1>& in, sycl::buffer<char, 1>* out,
                                           const char* fn) {
    const bool in_place_form = out == nullptr;
    check_compute(node_, direction, in_place_form, sizeof(real_scalar_t), fn);
    DFTI_DESCRIPTOR* n = node_;
    sycl::buffer<char, 1>& dst = in_place_form ? in : *out;
    sycl::queue& q = *n->queue;
    sycl::device dev = q.get_device();
    const int mode = detail::verbose_mode();
    const double t0 = mode == 2 ? ovx_serv_dsecnd() : 0.0;
    sycl::event result;
    // Both routes read and write the containers' bytes by the descriptor's
    // layout (the CPU library on the host, the GPU kernels through whole-buffer
    // accessors): a container shorter than the layout reaches is refused before
    // anything runs.
    const std::int64_t rb = sizeof(real_scalar_t);
    const std::uint64_t need_in = detail::layout_bytes(n, direction, false, rb);
    const std::uint64_t need_out = detail::layout_bytes(n, direction, true, rb);
    auto check_size = [&](sycl::buffer<char, 1>& b, std::uint64_t need, const char* what) {
        if (static_cast<std::uint64_t>(b.byte_size()) < need)
            throw invalid_argument("dft", fn, std::string("the ") + what + " buffer holds " +
                                                  std::to_string(b.byte_size()) + " bytes; the transform reaches " +
                                                  std::to_string(need));
    };
    if (in_place_form) {
        check_size(in, std::max(need_in, need_out), "data");
    } else {
        check_size(in, need_in, "input");
        check_size(dst, need_out, "output");
    }
    if (n->flags & kCpuRoute) {
        if (!dev.is_cpu()) return;
        const std::string function(fn);
        result = q.submit([&](sycl::handler& cgh) {
            sycl::accessor<void*, 1, sycl::access_mode::read, sycl::target::host_task> slot(cpu_handles_, cgh);
            using rw_acc = sycl::accessor<char, 1, sycl::access_mode::read_write, sycl::target::host_task>;
            using r_acc = sycl::accessor<char, 1, sycl::access_mode::read, sycl::target::host_task>;
            if (in_place_form) {
                rw_acc data(in, cgh);
                cgh.host_task([=]() {
                    auto* pair = static_cast<SYCL_DFTI_DESCRIPTOR*>(slot[0]);
                    DFTI_DESCRIPTOR* h = pair ? (direction == 0 ? pair->forward : pair->backward) : nullptr;
                    void* p = data.get_range()[0] ? static_cast<void*>(&data[0]) : nullptr;
                    int st = h ? dfti_cpu_compute(h, direction, p, p) : DFTI_STATUS_INVALID;
                    detail::raise_failure(st, function);
                });
            } else {
                r_acc src(in, cgh);
                rw_acc res(dst, cgh);
                cgh.host_task([=]() {
                    auto* pair = static_cast<SYCL_DFTI_DESCRIPTOR*>(slot[0]);
                    DFTI_DESCRIPTOR* h = pair ? (direction == 0 ? pair->forward : pair->backward) : nullptr;
                    void* pi = src.get_range()[0] ? const_cast<char*>(&src[0]) : nullptr;
                    void* po = res.get_range()[0] ? static_cast<void*>(&res[0]) : nullptr;
                    int st = h ? dfti_cpu_compute(h, direction, pi, po) : DFTI_STATUS_INVALID;
                    detail::raise_failure(st, function);
                });
            }
        });
    } else {
        dfti_compute_fn entry = gpu_entry(n, direction, fn);
        dfti_data_kind kind{DFTI_CONTAINER_BUFFER};
        int st = entry(n, &in, &dst, nullptr, &kind, &result);
        detail::raise_compute_failure(st, direction, fn);
    }
    if (mode == 1) detail::print_verbose(n, &q, DFTI_CONTAINER_BUFFER, &in, &dst, direction, 0.0);
    if (mode == 2) {
        result.wait();
        detail::print_verbose(n, &q, DFTI_CONTAINER_BUFFER, &in, &dst, direction, ovx_serv_dsecnd() - t0);
    }
}

#define OVX_DFT_INSTANTIATE(P, D)                                                                        \
    template void descriptor<P, D>::commit(sycl::queue&);                                                \
    template void descriptor<P, D>::set_workspace(descriptor<P, D>::real_scalar_t*);                     \
    template void descriptor<P, D>::set_workspace(sycl::buffer<descriptor<P, D>::real_scalar_t, 1>&);    \
    template sycl::event descriptor<P, D>::compute_usm(int, void*, void*, const std::vector<sycl::event>&, \
                                                       const char*);                                     \
    template void descriptor<P, D>::compute_buffer(int, sycl::buffer<char, 1>&, sycl::buffer<char, 1>*, const char*);

OVX_DFT_INSTANTIATE(precision::SINGLE, domain::COMPLEX)
OVX_DFT_INSTANTIATE(precision::SINGLE, domain::REAL)
OVX_DFT_INSTANTIATE(precision::DOUBLE, domain::COMPLEX)
OVX_DFT_INSTANTIATE(precision::DOUBLE, domain::REAL)

// ---- the exported compute entries -----------------------------------------------------

namespace {
const char* const kForward = "compute_forward";
const char* const kBackward = "compute_backward";

template <typename D>
sycl::event usm_in_place(int dir, D& desc, void* inout, const std::vector<sycl::event>& deps) {
    return desc.compute_usm(dir, inout, nullptr, deps, dir == 0 ? kForward : kBackward);
}
template <typename D>
sycl::event usm_out_of_place(int dir, D& desc, void* in, void* out, const std::vector<sycl::event>& deps) {
    const char* fn = dir == 0 ? kForward : kBackward;
    if (!out) throw invalid_argument("dft", fn, "the output pointer is null");
    return desc.compute_usm(dir, in, out, deps, fn);
}
template <typename D, typename T>
void buffer_in_place(int dir, D& desc, sycl::buffer<T, 1>& inout) {
    auto b = detail::as_bytes(inout);
    desc.compute_buffer(dir, b, nullptr, dir == 0 ? kForward : kBackward);
}
template <typename D, typename I, typename O>
void buffer_out_of_place(int dir, D& desc, sycl::buffer<I, 1>& in, sycl::buffer<O, 1>& out) {
    const char* fn = dir == 0 ? kForward : kBackward;
    if constexpr (std::is_same_v<I, O>) {
        // An out-of-place transform reads its input while it writes its output.
        if (in == out) throw invalid_argument("dft", fn, "the input and output buffers of a NOT_INPLACE transform are the same");
    }
    auto bi = detail::as_bytes(in);
    auto bo = detail::as_bytes(out);
    desc.compute_buffer(dir, bi, &bo, fn);
}
}  // namespace

template <typename descriptor_type, typename data_type>
sycl::event compute_forward(descriptor_type& desc, data_type* inout, const std::vector<sycl::event>& deps) {
    return usm_in_place(0, desc, inout, deps);
}
template <typename descriptor_type, typename input_type, typename output_type>
sycl::event compute_forward(descriptor_type& desc, input_type* in, output_type* out,
                            const std::vector<sycl::event>& deps) {
    return usm_out_of_place(0, desc, in, out, deps);
}
template <typename descriptor_type, typename data_type>
sycl::event compute_backward(descriptor_type& desc, data_type* inout, const std::vector<sycl::event>& deps) {
    return usm_in_place(1, desc, inout, deps);
}
template <typename descriptor_type, typename input_type, typename output_type>
sycl::event compute_backward(descriptor_type& desc, input_type* in, output_type* out,
                             const std::vector<sycl::event>& deps) {
    return usm_out_of_place(1, desc, in, out, deps);
}
template <typename descriptor_type, typename data_type>
void compute_forward(descriptor_type& desc, sycl::buffer<data_type, 1>& inout) {
    buffer_in_place(0, desc, inout);
}
template <typename descriptor_type, typename input_type, typename output_type>
void compute_forward(descriptor_type& desc, sycl::buffer<input_type, 1>& in, sycl::buffer<output_type, 1>& out) {
    buffer_out_of_place(0, desc, in, out);
}
template <typename descriptor_type, typename data_type>
void compute_backward(descriptor_type& desc, sycl::buffer<data_type, 1>& inout) {
    buffer_in_place(1, desc, inout);
}
template <typename descriptor_type, typename input_type, typename output_type>
void compute_backward(descriptor_type& desc, sycl::buffer<input_type, 1>& in, sycl::buffer<output_type, 1>& out) {
    buffer_out_of_place(1, desc, in, out);
}

// Every valid pair: the descriptor's real scalar or its complex type, on
// each side.
#define OVX_DFT_COMPUTE_IN_PLACE(DESC, T)                                                                  \
    template sycl::event compute_forward<DESC, T>(DESC&, T*, const std::vector<sycl::event>&);             \
    template sycl::event compute_backward<DESC, T>(DESC&, T*, const std::vector<sycl::event>&);            \
    template void compute_forward<DESC, T>(DESC&, sycl::buffer<T, 1>&);                                    \
    template void compute_backward<DESC, T>(DESC&, sycl::buffer<T, 1>&);
#define OVX_DFT_COMPUTE_OUT_OF_PLACE(DESC, I, O)                                                           \
    template sycl::event compute_forward<DESC, I, O>(DESC&, I*, O*, const std::vector<sycl::event>&);      \
    template sycl::event compute_backward<DESC, I, O>(DESC&, I*, O*, const std::vector<sycl::event>&);     \
    template void compute_forward<DESC, I, O>(DESC&, sycl::buffer<I, 1>&, sycl::buffer<O, 1>&);            \
    template void compute_backward<DESC, I, O>(DESC&, sycl::buffer<I, 1>&, sycl::buffer<O, 1>&);
#define OVX_DFT_COMPUTE_ALL(DESC, R)                                      \
    OVX_DFT_COMPUTE_IN_PLACE(DESC, R)                                     \
    OVX_DFT_COMPUTE_IN_PLACE(DESC, std::complex<R>)                       \
    OVX_DFT_COMPUTE_OUT_OF_PLACE(DESC, R, R)                              \
    OVX_DFT_COMPUTE_OUT_OF_PLACE(DESC, R, std::complex<R>)                \
    OVX_DFT_COMPUTE_OUT_OF_PLACE(DESC, std::complex<R>, R)                \
    OVX_DFT_COMPUTE_OUT_OF_PLACE(DESC, std::complex<R>, std::complex<R>)

using desc_sc = descriptor<precision::SINGLE, domain::COMPLEX>;
using desc_sr = descriptor<precision::SINGLE, domain::REAL>;
using desc_dc = descriptor<precision::DOUBLE, domain::COMPLEX>;
using desc_dr = descriptor<precision::DOUBLE, domain::REAL>;
OVX_DFT_COMPUTE_ALL(desc_sc, float)
OVX_DFT_COMPUTE_ALL(desc_sr, float)
OVX_DFT_COMPUTE_ALL(desc_dc, double)
OVX_DFT_COMPUTE_ALL(desc_dr, double)

}  // namespace dft
}  // namespace ovx
}  // namespace korami
