// Area carving of the GPU backend frame: the areas a module cuts from a
// bound workspace (USM addresses or owned sub-buffers), the library-held
// device allocations of an internal workspace, the table command groups, and
// the workspace rounding with the device's alignment.
#ifndef OVX_DFT_GPU_FRAME_AREAS_HPP
#define OVX_DFT_GPU_FRAME_AREAS_HPP

#include <cstdint>

#include <sycl/sycl.hpp>

#include "dft/gpu/frame/align.hpp"
#include "dft/node/ovx_dft_node.hpp"

// align_workspace_bytes with the alignment of the queue's device
// (mem_base_addr_align, bits).
std::uint64_t align_workspace_offset(std::uint64_t bytes, sycl::queue* queue);

// Constructs, in the storage given, a one-dimensional byte buffer of `bytes`
// elements owned by the runtime, and returns it. The caller destroys it with
// ~buffer() and frees the storage.
sycl::buffer<char, 1>* construct_char_buffer(void* storage, std::size_t bytes,
                                             const sycl::property_list& props = {});

namespace korami {
namespace ovx {
namespace dft {
namespace gpufw {

// Waits for an event, ignoring the failures of work that already ended
// (those were reported to whoever waited on the work itself).
inline void frame_wait_quietly(sycl::event* e) {
    if (!e) return;
    try {
        e->wait();
    } catch (...) {
    }
}

// The device pointer of an accessor inside a kernel.
template <class T, class Acc>
T* frame_acc_ptr(const Acc& acc) {
    return reinterpret_cast<T*>(acc.template get_multi_ptr<sycl::access::decorated::no>().get());
}

// A library-held device allocation. It keeps the context it was made in, so
// that it is freed there even after the node's queue was replaced by one of
// another context (queue mode 2 takes the queue of each compute).
struct frame_held_area {
    void* ptr = nullptr;
    sycl::context* ctx = nullptr;  // owned

    explicit operator bool() const { return ptr != nullptr; }

    // 0, or DFTI_STATUS_ALLOCATION_FAILED (nothing held then).
    int allocate(sycl::queue& q, std::uint64_t bytes) {
        release();
        if (bytes > q.get_device().get_info<sycl::info::device::max_mem_alloc_size>())
            return DFTI_STATUS_ALLOCATION_FAILED;
        ptr = sycl::malloc_device(static_cast<std::size_t>(bytes), q);
        if (!ptr) return DFTI_STATUS_ALLOCATION_FAILED;
        ctx = new sycl::context(q.get_context());
        return 0;
    }

    // Hands the allocation over to `to` (which frees what it held).
    void move_to(frame_held_area& to) {
        to.release();
        to.ptr = ptr;
        to.ctx = ctx;
        ptr = nullptr;
        ctx = nullptr;
    }

    void release() {
        if (ptr) sycl::free(ptr, *ctx);
        delete ctx;
        ptr = nullptr;
        ctx = nullptr;
    }
};

// The area of `bytes` at `off` of a workspace: a USM address, or a new
// sub-buffer that the module owns. A sub-buffer that does not fit the
// workspace throws (sycl::exception); the caller unbinds the node then.
inline void frame_carve(void* base, int kind, std::uint64_t off, std::uint64_t bytes, void*& usm,
                        sycl::buffer<char, 1>*& buf) {
    if (kind == DFTI_CONTAINER_USM) {
        usm = static_cast<char*>(base) + off;
    } else {
        auto* whole = static_cast<sycl::buffer<char, 1>*>(base);
        buf = new sycl::buffer<char, 1>(*whole, sycl::id<1>(off), sycl::range<1>(static_cast<std::size_t>(bytes)));
    }
}

// Places a scratch area (nothing when `bytes` is 0).
inline int frame_place_area(void* base, int kind, std::uint64_t off, std::uint64_t bytes, void*& usm,
                            sycl::buffer<char, 1>*& buf) {
    if (bytes == 0) return 0;
    if (!base) return DFTI_STATUS_NO_WORKSPACE;
    frame_carve(base, kind, off, bytes, usm, buf);
    return 0;
}

// True when the area of the container kind was placed.
inline bool frame_area_placed(int kind, const void* usm, const sycl::buffer<char, 1>* buf) {
    return kind == DFTI_CONTAINER_USM ? usm != nullptr : buf != nullptr;
}

// The kernel argument of an area: its USM address or its sub-buffer.
inline void* frame_area_arg(bool usm_ws, void* usm, sycl::buffer<char, 1>* buf) {
    return usm_ws ? usm : static_cast<void*>(buf);
}

// Drops an area: the event of its writer (waited for first), its sub-buffer
// and its address.
inline void frame_drop_area(void*& usm, sycl::buffer<char, 1>*& buf, sycl::event** writer = nullptr) {
    if (writer && *writer) {
        frame_wait_quietly(*writer);
        delete *writer;
        *writer = nullptr;
    }
    delete buf;
    buf = nullptr;
    usm = nullptr;
}

// One table command group over a 2D range: body(table, i, j) on the USM
// area or on the sub-buffer.
template <class Real, class UsmName, class BufName, class Body>
sycl::event frame_table_group(sycl::queue* q, int kind, void* usm, sycl::buffer<char, 1>* buf, sycl::range<2> r,
                              Body body) {
    if (kind == DFTI_CONTAINER_USM) {
        Real* t = static_cast<Real*>(usm);
        return q->submit([&](sycl::handler& h) {
            h.parallel_for<UsmName>(r, [=](sycl::item<2> it) { body(t, it.get_id(0), it.get_id(1)); });
        });
    }
    return q->submit([&](sycl::handler& h) {
        sycl::accessor<char, 1, sycl::access_mode::read_write> acc(*buf, h);
        h.parallel_for<BufName>(r, [=](sycl::item<2> it) { body(frame_acc_ptr<Real>(acc), it.get_id(0), it.get_id(1)); });
    });
}

}  // namespace gpufw
}  // namespace dft
}  // namespace ovx
}  // namespace korami

#endif
