// The compute dispatch of the exported descriptor (the GPU route through the
// node's compute entries, the CPU route through the CPU transform library in
// host tasks, verbose description and timing) and the exported compute
// entries for every descriptor and data-type pair.
#include <ovx_serv.h>

#include <algorithm>
#include <complex>
#include <cstdint>
#include <string>

#include "dft/ovx_dft_internal.hpp"

namespace korami {
namespace ovx {
namespace dft {
namespace detail {
namespace {

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
