// Commit and compute of descriptor nodes on the SYCL queue of an OpenMP
// offload interop object, and the Fortran-convention compute forms.
#include "gpu/ovx_sycl_ext.hpp"
#include "fftw/ovx_omp_offload.hpp"

#include <ovx_serv.h>

#include <cstdint>

#include "dft/node/ovx_dft_node.hpp"
#include "gpu/ovx_gpu.hpp"
#include "gpu/ovx_omp_interop.hpp"
#include "korami/ovx/dfti_omp_offload.h"

namespace korami {
namespace ovx {
namespace fftw {

using namespace korami::ovx::gpu;

// The exception-to-status rows of the status table for the library's own
// kinds, then the kinds that are not the library's own, each with its line.
std::int64_t status_of_exception(const char* entry) {
    try {
        throw;
    }
#define OVX_DFT_STATUS_OF(KIND, NAME) \
    catch (const korami::ovx::KIND&) { return DFTI_STATUS_##NAME; }
#include "dft/contract/ovx_dft_status.def"
    catch (const dft_omp_offload_exception& e) {
        print_stderr("%s: An error specific to OpenMP offload was detected. Message: %s\n", entry, e.what());
        return DFTI_STATUS_OFFLOAD_FAILED;
    } catch (const sycl::exception& e) {
        print_stderr("%s: A sycl::exception was caught internally (code %d). Message: %s\n", entry,
                     e.code().value(), e.what());
        return DFTI_STATUS_OFFLOAD_FAILED;
    } catch (const std::exception& e) {
        print_stderr("%s: An std::exception was caught: %s\n", entry, e.what());
        return DFTI_STATUS_INTERNAL;
    } catch (...) {
        print_stderr("%s: An unknown and unexpected error occurred\n", entry);
        return DFTI_STATUS_INTERNAL;
    }
}

namespace {

const char* const msg_load = "Failed to load the OpenMP offloading library.";
const char* const msg_runtime_id = "Failed to retrieve the required runtime id.";

std::int32_t runtime_id(void* interop) {
    int rc = -1;
    std::int32_t fr = omptarget_get_interop_int(interop, omp_ipr_fr_id, &rc);
    if (rc != 0) throw dft_omp_offload_exception(msg_runtime_id);
    return fr;
}

// A pointer property; a failed read or a null handle is a missing queue.
void* handle_property(void* interop, int prop, const char* queue_message) {
    int rc = -1;
    void* p = omptarget_get_interop_ptr(interop, prop, &rc);
    if (rc != 0 || !p) throw dft_omp_offload_exception(queue_message);
    return p;
}

// The queue an interop object names, by foreign runtime id. Ids other than
// OpenCL, SYCL and Level Zero name no queue the library can use.
sycl::queue* queue_of(void* interop, std::int32_t fr, const char* queue_message) {
    void* sync = handle_property(interop, omp_ipr_targetsync, queue_message);
    if (fr == omp_fr_sycl) return static_cast<sycl::queue*>(sync);
    if (fr != omp_fr_level_zero && fr != omp_fr_opencl) throw dft_omp_offload_exception(queue_message);
    void* native_device = handle_property(interop, omp_ipr_device, queue_message);
    void* native_context = handle_property(interop, omp_ipr_device_context, queue_message);
    if (fr == omp_fr_level_zero) {
        sycl::device dev = find_sycl_device_for_native(native_device);
        sycl::context* ctx =
            lookup_and_cache_qorel_context(native_context, native_device, OVX_GPU_BACKEND_LEVEL_ZERO, &dev);
        return lookup_and_cache_qorel_queue(sync, OVX_GPU_BACKEND_LEVEL_ZERO, *ctx, interop);
    }
    sycl::context* ctx = lookup_and_cache_qorel_context(native_context, native_device, OVX_GPU_BACKEND_OPENCL, nullptr);
    return lookup_and_cache_qorel_queue(sync, OVX_GPU_BACKEND_OPENCL, *ctx, interop);
}

std::int64_t commit(DFTI_DESCRIPTOR* node, void* interop) {
    const char* entry = "ovx_DftiCommitDescriptor_omp_offload";
    if (!node || node->marker != DFTI_NODE_MARKER) return DFTI_STATUS_BAD_DESCRIPTOR;
    if (!node->methods || !node->methods->commit) return DFTI_STATUS_INTERNAL;
    if ((node->conjugate_even_storage == DFTI_COMPLEX_COMPLEX && node->packed_format != DFTI_CCE_FORMAT) ||
        (node->conjugate_even_storage == DFTI_COMPLEX_REAL && node->packed_format == DFTI_CCE_FORMAT))
        return DFTI_STATUS_INVALID_DESCRIPTOR;
    try {
        if (load_omptarget() != 0) throw dft_omp_offload_exception(msg_load);
        const std::int32_t fr = runtime_id(interop);
        node->queue_mode = 1;
        node->internal_workspace = 1;
        sycl::queue* q = queue_of(interop, fr, "Failed to retrieve the required queue for openMP offloading.");
        node->queue = q;
        return gpu_commit(node);
    } catch (...) {
        return status_of_exception(entry);
    }
}

int verbose_mode() {
    int* m = ovx_serv_verbose_mode();
    return m ? *m : 0;
}

std::int64_t compute(DFTI_DESCRIPTOR* node, void* input, void* interop, void* output, int direction) {
    const char* entry = direction == 0 ? "ovx_DftiComputeForward_omp_offload" : "ovx_DftiComputeBackward_omp_offload";
    if (!node) return DFTI_STATUS_BAD_DESCRIPTOR;
    dfti_compute_fn fn = direction == 0 ? node->compute_fwd : node->compute_bwd;
    // Only a node committed for a GPU through the offload commit has GPU
    // compute entries; a CPU-committed node's entries take other arguments.
    if (!fn || node->marker != DFTI_NODE_MARKER || node->queue_mode == 0 || !node->bkd || !node->queue)
        return DFTI_STATUS_UNCOMMITTED_DESCRIPTOR;
    if (node->data_array_count > 2) return DFTI_STATUS_UNIMPLEMENTED;
    if (!input) return DFTI_STATUS_INVALID_DESCRIPTOR;
    if (node->data_array_count == 2) {
        if (!output) return DFTI_STATUS_INVALID_DESCRIPTOR;
    } else {
        output = nullptr;
    }
    try {
        const std::int32_t fr = runtime_id(interop);
        node->queue_mode = 2;
        sycl::queue* q = queue_of(interop, fr, "Failed to retrieve the required queue for OpenMP offloading.");
        // The node's kernels, tables and workspace belong to the committed
        // context and device: another queue must share both.
        if (q != node->queue && (q->get_context() != node->queue->get_context() ||
                                 q->get_device() != node->queue->get_device()))
            return DFTI_STATUS_INVALID_DESCRIPTOR;
        node->queue = q;
        const sycl::context ctx = q->get_context();
        const void* checked[2] = {input, output};
        for (const void* p : checked) {
            if (!p) continue;
            const sycl::usm::alloc kind = sycl::get_pointer_type(p, ctx);
            if (kind == sycl::usm::alloc::host)
                throw korami::ovx::invalid_argument("dft", entry,
                                                    p == input ? "input pointer of type sycl::usm::alloc::host not supported"
                                                               : "output pointer of type sycl::usm::alloc::host not supported");
            if (kind != sycl::usm::alloc::device && kind != sycl::usm::alloc::shared)
                throw korami::ovx::invalid_argument("dft", entry, "unknown allocation type (using OpenCL plugin)");
        }
        if (node->placement == DFTI_INPLACE) output = input;
        const dfti_data_kind usm{DFTI_CONTAINER_USM};
        sycl::event ev;
        const int mode = verbose_mode();
        double seconds = 0.0;
        int st;
        {
            // The backend's own verbose lines stay quiet while this call
            // reports; the depth comes back down even when the compute throws,
            // or every later line of this thread would be lost.
            struct nested {
                bool on;
                explicit nested(bool o) : on(o) {
                    if (on) verbose_depth_inc();
                }
                ~nested() {
                    if (on) verbose_depth_dec();
                }
            } quiet(mode > 1);
            if (mode == 2) seconds = -ovx_serv_dsecnd();
            st = fn(node, input, output, nullptr, &usm, &ev);
        }
        if (mode == 2) {
            ev.wait();
            seconds += ovx_serv_dsecnd();
        }
        if (mode != 0) {
            char text[512];
            describe_descriptor_for_verbose(node, node->queue, text, DFTI_CONTAINER_USM, input, output, direction);
            print_verbose_gpu_info(node->queue, text, seconds);
        }
        if (fr == omp_fr_level_zero && st == 0) (void)sycl::get_native<korami::ovx::gpu::sycl_ext::level_zero>(ev);
        return st;
    } catch (...) {
        return status_of_exception(entry);
    }
}

DFTI_DESCRIPTOR* deref(DFTI_DESCRIPTOR** ref) { return ref ? *ref : nullptr; }
void* deref(void** ref) { return ref ? *ref : nullptr; }

}  // namespace

}  // namespace fftw
}  // namespace ovx
}  // namespace korami

using korami::ovx::fftw::deref;

extern "C" {

std::int64_t ovx_DftiCommitDescriptor_omp_offload(DFTI_DESCRIPTOR* node, void* interop) {
    return korami::ovx::fftw::commit(node, interop);
}

std::int64_t ovx_dfti_commit_descriptor_external_omp_offload(DFTI_DESCRIPTOR** node_ref, void* interop) {
    return korami::ovx::fftw::commit(deref(node_ref), interop);
}

std::int64_t ovx_DftiComputeForward_omp_offload(DFTI_DESCRIPTOR* node, void* input, void* interop, void* output) {
    return korami::ovx::fftw::compute(node, input, interop, output, 0);
}

std::int64_t ovx_DftiComputeBackward_omp_offload(DFTI_DESCRIPTOR* node, void* input, void* interop, void* output) {
    return korami::ovx::fftw::compute(node, input, interop, output, 1);
}

#define OVX_FORWARD_1(dir, Dir, t)                                                                          \
    std::int64_t ovx_dfti_compute_##dir##_##t##_omp_offload(DFTI_DESCRIPTOR** node, void** data, void* interop) { \
        return ovx_DftiCompute##Dir##_omp_offload(deref(node), deref(data), interop, nullptr);              \
    }
#define OVX_FORWARD_2(dir, Dir, t)                                                                              \
    std::int64_t ovx_dfti_compute_##dir##_##t##_omp_offload(DFTI_DESCRIPTOR** node, void** in, void** out,    \
                                                           void* interop) {                                    \
        return ovx_DftiCompute##Dir##_omp_offload(deref(node), deref(in), interop, deref(out));                 \
    }
// The split forms hand the imaginary input in the output position; a split
// node has four data arrays, which the C entries refuse.
#define OVX_FORWARD_4(dir, Dir, t)                                                                               \
    std::int64_t ovx_dfti_compute_##dir##_##t##_omp_offload(DFTI_DESCRIPTOR** node, void** in_re, void** in_im, \
                                                           void** out_re, void** out_im, void* interop) {      \
        return ovx_DftiCompute##Dir##_omp_offload(deref(node), deref(in_re), interop, deref(in_im));             \
    }
OVX_FORWARD_1(forward, Forward, c) OVX_FORWARD_1(forward, Forward, d)
OVX_FORWARD_1(forward, Forward, s) OVX_FORWARD_1(forward, Forward, z)
OVX_FORWARD_2(forward, Forward, cc) OVX_FORWARD_2(forward, Forward, dd) OVX_FORWARD_2(forward, Forward, dz)
OVX_FORWARD_2(forward, Forward, sc) OVX_FORWARD_2(forward, Forward, ss) OVX_FORWARD_2(forward, Forward, zz)
OVX_FORWARD_4(forward, Forward, dddd) OVX_FORWARD_4(forward, Forward, ssss)
OVX_FORWARD_1(backward, Backward, c) OVX_FORWARD_1(backward, Backward, d)
OVX_FORWARD_1(backward, Backward, s) OVX_FORWARD_1(backward, Backward, z)
OVX_FORWARD_2(backward, Backward, cc) OVX_FORWARD_2(backward, Backward, cs) OVX_FORWARD_2(backward, Backward, dd)
OVX_FORWARD_2(backward, Backward, ss) OVX_FORWARD_2(backward, Backward, zd) OVX_FORWARD_2(backward, Backward, zz)
OVX_FORWARD_4(backward, Backward, dddd) OVX_FORWARD_4(backward, Backward, ssss)

}  // extern "C"
