// Area carving of the GPU backend frame: the areas a module cuts from a
// bound workspace (USM addresses or owned sub-buffers), the library-held
// device allocations of an internal workspace, the table command groups, and
// the workspace rounding with the device's alignment.
#ifndef OVX_DFT_GPU_FRAME_AREAS_HPP
#define OVX_DFT_GPU_FRAME_AREAS_HPP

#include <cstdint>
#include <functional>
#include <vector>

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

// ---- the area list --------------------------------------------------------------

// The two regions of a workspace: the first holds what must outlive a
// compute (tables; scratch that a sub-node's own scratch must not overlap),
// the second the scratch of one compute.
enum class region : std::uint8_t { tables = 0, scratch = 1 };

// Where a writer writes: the area in a workspace of `kind` (its USM address,
// or its sub-buffer or a buffer of the library's own for kind 1).
struct area_target {
    int kind;
    void* usm;
    sycl::buffer<char, 1>* buf;
};

// Writes an area's contents when the area is bound: 0, or a status. A
// writer appends the events of the work it submits to `submitted` (none when
// it writes from the host and waits).
using area_writer = std::function<int(const area_target&, std::vector<sycl::event>& submitted)>;

// One area of a module's workspace, as its plan lists it, and where the
// frame placed it.
struct area {
    const char* name = nullptr;       // for messages and tests
    std::uint64_t bytes = 0;          // reserved bytes, rounded by the frame to the workspace alignment
    region where = region::tables;
    int dir = -1;                     // 0 or 1: only when that direction is built; -1: both directions share it
    bool data = false;                // transform data pass through it in one container kind (sub-nodes,
                                      // the explicit-SIMD driver): with the library's own workspace, which
                                      // is USM, buffer data take a buffer of the library's own
    bool sub_nodes = false;           // stands for the sub-nodes' tables (composites)
    area_writer writer;               // fills the area when it is bound; empty for scratch
    // Placement (the frame's):
    void* usm = nullptr;                    // address in a USM workspace
    sycl::buffer<char, 1>* buf = nullptr;   // sub-buffer of a buffer workspace, owned
    sycl::buffer<char, 1>* own = nullptr;   // the library's own buffer for buffer data (see `data`), owned
    sycl::event* event = nullptr;           // last event of the writer, owned
};

// The areas of a module, in workspace order within each region. Filled by
// the module's plan; bound, written and dropped by the frame.
struct area_list {
    static constexpr int capacity = 24;
    area a[capacity];
    int count = 0;
    bool scratch_rounded = false;  // the second region's size is rounded to the workspace alignment

    area_list() = default;
    area_list(const area_list&) = delete;
    area_list& operator=(const area_list&) = delete;

    // Adds an area; its slot, or -1 when the list is full (the plan then fails).
    int add(area x) {
        if (count >= capacity) return -1;
        a[count] = std::move(x);
        return count++;
    }
    // A table of the first region (dir -1: shared by both directions).
    int table(const char* name, std::uint64_t bytes, int dir, area_writer w) {
        area x;
        x.name = name;
        x.bytes = bytes;
        x.dir = dir;
        x.writer = std::move(w);
        return add(std::move(x));
    }
    // A scratch area of region `r`; `data` as above.
    int scratch(const char* name, std::uint64_t bytes, region r = region::scratch, bool data = false) {
        area x;
        x.name = name;
        x.bytes = bytes;
        x.where = r;
        x.data = data;
        return add(std::move(x));
    }
    // Rounds the second region's size (the larger of the module's scratch
    // and the sub-nodes' scratch) to the workspace alignment, as the
    // multi-dimensional and real 1D composites size it.
    void round_scratch() { scratch_rounded = true; }
    // Where the sub-nodes' tables lie in the first region.
    int sub_node_tables() {
        area x;
        x.name = "sub-nodes";
        x.sub_nodes = true;
        return add(std::move(x));
    }

    // True when the area exists for a node building `directions`.
    bool present(int slot, std::uint32_t directions) const {
        const int d = a[slot].dir;
        return d < 0 || directions == 2 || directions == static_cast<std::uint32_t>(d);
    }
    // The kernel argument of an area in the bound workspace: its USM address
    // or its sub-buffer; null when it is not placed.
    void* arg(int slot, bool usm_ws) const {
        return usm_ws ? a[slot].usm : static_cast<void*>(a[slot].buf);
    }
    // The area as transform data of the container kind of `buffers`: the USM
    // address, or the sub-buffer of a buffer workspace, else the library's own
    // buffer; null when there is none.
    void* data_of(int slot, bool buffers) const {
        if (!buffers) return a[slot].usm;
        return a[slot].buf ? static_cast<void*>(a[slot].buf) : static_cast<void*>(a[slot].own);
    }
    // The last writer event of an area, or null.
    const sycl::event* written(int slot) const { return slot >= 0 && slot < count ? a[slot].event : nullptr; }

    // Drops the placements of region `r` (writers waited for first).
    void drop(region r) {
        for (int i = 0; i < count; ++i) {
            area& x = a[i];
            if (x.where != r) continue;
            if (x.event) {
                frame_wait_quietly(x.event);
                delete x.event;
                x.event = nullptr;
            }
            delete x.buf;
            x.buf = nullptr;
            delete x.own;
            x.own = nullptr;
            x.usm = nullptr;
        }
    }
    // Forgets every area (placements dropped first).
    void clear() {
        drop(region::tables);
        drop(region::scratch);
        for (int i = 0; i < count; ++i) a[i] = area{};
        count = 0;
        scratch_rounded = false;
    }
    ~area_list() { clear(); }
};

}  // namespace gpufw
}  // namespace dft
}  // namespace ovx
}  // namespace korami

#endif
