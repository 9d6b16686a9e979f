// Commit and set_workspace of the exported descriptor: the layout checks,
// the GPU route through the candidate lists, the CPU route through the CPU
// transform library in a host task, and the binding of a caller's workspace.
#include <memory>
#include <string>

#include "dft/ovx_dft_internal.hpp"

namespace korami {
namespace ovx {
namespace dft {
namespace detail {

template <typename T>
std::int64_t workspace_bytes(DFTI_DESCRIPTOR* n) {
    if (n->commit_status == DFTI_COMMITTED) {
        if (n->flags & kCpuRoute) return 0;
        return static_cast<std::int64_t>(n->twiddle_workspace_bytes + n->scratch_workspace_bytes);
    }
    DFTI_DESCRIPTOR* c = nullptr;
    if (dfti_node_ops::copy(n, &c)) throw host_bad_alloc("dft", "get_value");
    // The copy is freed however the estimate ends.
    struct copy_owner {
        DFTI_DESCRIPTOR* node;
        ~copy_owner() { dfti_node_ops::free_node_memory(node); }
    } owner{c};
    std::int64_t bytes = 0;
    if (dfti_node_ops::normalize(c) == 0) bytes = dft_estimate_workspace_bytes<T>(dft_workspace_problem{c, n->queue});
    return bytes;
}
template std::int64_t workspace_bytes<float>(DFTI_DESCRIPTOR*);
template std::int64_t workspace_bytes<double>(DFTI_DESCRIPTOR*);

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

}  // namespace detail

using detail::check_node;
using detail::kCpuRoute;

// ---- commit --------------------------------------------------------------------

template <precision prec, domain dom>
void descriptor<prec, dom>::commit(sycl::queue& queue) {
    const char* fn = "commit";
    check_node(node_, fn);
    DFTI_DESCRIPTOR* n = node_;
    if (dfti_node_ops::normalize(n) == DFTI_STATUS_INVALID_DESCRIPTOR)
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

#define OVX_DFT_INSTANTIATE(P, D)                                                                        \
    template void descriptor<P, D>::commit(sycl::queue&);                                                \
    template void descriptor<P, D>::set_workspace(descriptor<P, D>::real_scalar_t*);                     \
    template void descriptor<P, D>::set_workspace(sycl::buffer<descriptor<P, D>::real_scalar_t, 1>&);

OVX_DFT_INSTANTIATE(precision::SINGLE, domain::COMPLEX)
OVX_DFT_INSTANTIATE(precision::SINGLE, domain::REAL)
OVX_DFT_INSTANTIATE(precision::DOUBLE, domain::COMPLEX)
OVX_DFT_INSTANTIATE(precision::DOUBLE, domain::REAL)

}  // namespace dft
}  // namespace ovx
}  // namespace korami
