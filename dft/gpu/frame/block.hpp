// Block layout of the GPU backend modules: the fields every module block
// starts with, what the frame hands to a module's launch, the ordering of a
// compute's first launch, and the small event and kernel helpers the
// modules share.
#ifndef OVX_DFT_GPU_FRAME_BLOCK_HPP
#define OVX_DFT_GPU_FRAME_BLOCK_HPP

#include <cstdint>
#include <initializer_list>
#include <vector>

#include <sycl/sycl.hpp>

#include "dft/gpu/frame/areas.hpp"
#include "dft/gpu/frame/device.hpp"
#include "dft/node/ovx_dft_node.hpp"
#include "dft/gpu/kernel_texts.hpp"
#include "gpu/ovx_gpu.hpp"
#include "korami/ovx/gpu.hpp"

namespace korami {
namespace ovx {
namespace dft {
namespace gpufw {

// Fields every module block starts with. K = number of kernel slots.
template <class Real, int K>
struct frame_block {
    static constexpr int kernel_slots = K;
    sycl::queue* queue;                      // where the module submits
    std::uint32_t directions;                // 0 forward, 1 backward, 2 both
    ovx_gpu_arch_t arch;                     // device generation
    device_facts dev;                        // the device facts of the commit
    std::int32_t ws_kind;                    // kind of the bound workspace, 0 while none is fully placed
    sycl::kernel* kernels[K];                // null for a kernel that is not built
    area_list areas;                         // the module's workspace areas (its plan lists them)
    frame_held_area internal_twiddle;        // library-held table area
    frame_held_area internal_scratch;        // library-held scratch area
    Real scale[2];                           // forward, backward scale
    sycl::event* last_event;                 // last submission of the latest compute, owned
    bool binding_held_areas;                 // the areas being bound are the library-held ones
    bool estimating;                         // planned for a workspace estimate only: the plan lists
                                             // its areas and commits, builds and allocates nothing
    int estimate_route;                      // the route an estimate plans (frame_estimate_routes)
};

// True when the block plans an estimate made before the device is known (no
// queue): the module then keeps to the device it assumes for estimates.
template <class Block>
bool frame_device_assumed(const Block* b) {
    return b->estimating && b->queue == nullptr;
}

// `v` rounded to the workspace alignment of the block's device.
template <class Block>
std::uint64_t frame_align(const Block* b, std::uint64_t v) {
    return align_workspace_bytes(v, b->dev.align_bytes);
}

// True when the direction (0 forward, 1 backward) is built for `directions`.
inline bool direction_built(std::uint32_t directions, int dir) {
    return directions == 2 || directions == static_cast<std::uint32_t>(dir);
}

// What the frame hands to a module's launch.
struct launch_args {
    void* in;
    void* out;
    bool buffers;                          // data are sycl::buffer<char,1>*, else USM
    int direction;                         // 0 forward, 1 backward
    std::vector<sycl::event>* deps;        // caller's dependencies (USM form), may be null
    const sycl::event* after;              // previous compute's last event, may be null
    bool usm_ws;                           // the areas are USM (library's or caller's USM workspace),
                                           // else sub-buffers of a caller's buffer workspace
    std::uint64_t ws_kind;                 // the areas' container kind as dft_set_arg takes it
    std::int32_t table_kind;               // 2 USM, else the bound workspace's kind
    sycl::event* result;                   // receives the last event, may be null
};

// The ordering of a compute's first launch: it waits for the caller's
// dependencies (given with USM data; buffer data are ordered by their
// accessors), for the previous compute's last event (so that it never
// overwrites an area that the earlier compute still reads, whatever the
// queue's order) and for the writers of the tables it reads.
inline std::vector<sycl::event> frame_first_dependencies(const launch_args& a,
                                                         std::initializer_list<const sycl::event*> tables = {}) {
    std::vector<sycl::event> deps;
    if (!a.buffers && a.deps) deps = *a.deps;
    if (a.after) deps.push_back(*a.after);
    for (const sycl::event* t : tables)
        if (t) deps.push_back(*t);
    return deps;
}
// The same, in the command group of the first launch.
inline void frame_order_first(sycl::handler& h, const launch_args& a,
                              std::initializer_list<const sycl::event*> tables = {}) {
    h.depends_on(frame_first_dependencies(a, tables));
}

// data_array_count of a committed node.
inline std::int32_t frame_data_array_count(const DFTI_DESCRIPTOR* node) {
    if (node->forward_domain == DFTI_REAL) return node->placement == DFTI_INPLACE ? 1 : 2;
    std::int32_t n = node->placement == DFTI_INPLACE ? 1 : 2;
    return node->complex_storage == DFTI_REAL_REAL ? 2 * n : n;
}

// Keeps a copy of `e` in the owned slot.
inline void frame_keep(sycl::event*& slot, const sycl::event& e) {
    delete slot;
    slot = new sycl::event(e);
}

// Waits for the owned event (quietly) and drops it.
inline void frame_drop(sycl::event*& e) {
    if (!e) return;
    frame_wait_quietly(e);
    delete e;
    e = nullptr;
}

// Builds one kernel through the kernel cache. Returns null when the cache
// reports a failure without throwing. A stored text of the kernel-text table
// is keyed by its identity too, so that two texts never share a program; a
// text composed at run time is keyed by program name and options alone.
inline sycl::kernel* frame_get_kernel(sycl::queue* q, const char* program, const char* source,
                                      const char* kernel, const char* options) {
    int status = 0;
    sycl::kernel* k =
        is_stored_kernel_text(source)
            ? korami::ovx::gpu::get_OCL_kernel_by_stored_text(&status, q, korami::ovx::gpu::domain_dft, program,
                                                               source, kernel, options)
            : korami::ovx::gpu::get_OCL_kernel_by_progname(&status, q, korami::ovx::gpu::domain_dft, program,
                                                            source, kernel, options);
    if (status != 0 && k) {
        int s2 = 0;
        korami::ovx::gpu::release_kernel_obj(&s2, k);
        return nullptr;
    }
    return k;
}

// Releases a kernel of the cache and clears its slot.
inline void frame_release_kernel(sycl::kernel*& k) {
    if (!k) return;
    try {
        int st = 0;
        korami::ovx::gpu::release_kernel_obj(&st, k);
    } catch (const sycl::exception&) {
    }
    k = nullptr;
}

}  // namespace gpufw
}  // namespace dft
}  // namespace ovx
}  // namespace korami

#endif
