// The library's side of the descriptor node: the backend records and
// candidate lists of the GPU commit loop, the GPU and CPU node layers and
// their services. The node record itself, which the CPU transform library
// shares, is in dft/contract/ovx_dft_node_record.hpp (orders of dimension data
// are described there).
#ifndef OVX_DFT_NODE_OVX_DFT_NODE_HPP
#define OVX_DFT_NODE_OVX_DFT_NODE_HPP

#include <cstddef>
#include <cstdint>
#include <vector>

#include <sycl/sycl.hpp>

#include "dft/contract/ovx_dft_node_record.hpp"

// A backend record, three entries in slot order. Its address identifies the
// owner of a node.
struct bkd_ops {
    // DFTI_STATUS_OK accepted, DFTI_STATUS_NOT_APPLICABLE not applicable,
    // anything else a failure.
    int (*commit)(const bkd_ops* self, DFTI_DESCRIPTOR* node);
    // Releases the private block; DFTI_STATUS_INTERNAL when the node is owned
    // by another record.
    int (*free)(const bkd_ops* self, DFTI_DESCRIPTOR* node);
    // Binds a workspace: base (USM address, or sycl::buffer<char,1>* for kind
    // 1), kind (1 buffer, 2 USM), byte offset, node, phase (0 tables,
    // 1 scratch, 2 both), events (collects table-writing events) or null.
    int (*add_workspace)(void* base, int kind, std::uint64_t offset, DFTI_DESCRIPTOR* node,
                         std::uint32_t phase, std::vector<sycl::event>* events);
    // The workspace bytes (both regions) that a commit of `node` (a
    // normalised node) on `queue` (null: not known yet) would need from this
    // record, planned without committing, building or allocating anything;
    // -1 when the record does not take the node. Null for records that never
    // need a workspace.
    std::int64_t (*estimate)(const bkd_ops* self, const DFTI_DESCRIPTOR* node, const sycl::queue* queue);
};

// The service allocator (ovx_serv_malloc / ovx_serv_free) of the node layer.
extern const bkd_memory_services_t bkd_memory_services;

// ---- GPU node layer ----------------------------------------------------------
// (defined in ovx_dft_node.cpp)

// The GPU operation table.
extern const dfti_method_table gpu_dfti_method_table;

// Creates a GPU node of the given precision (35/36), domain (32/33), rank
// (1..7) and lengths (node order, each >= 1), with the defaults: dimension
// records {length, product of the lengths before it (input and output), 0, 0},
// seven batch records {1, 0, 0, 0, 0}, commit status DFTI_UNCOMMITTED, complex
// storage 39, real storage 42, conjugate-even storage 39, placement 43, packed
// format 57, workspace 51, scales 1.0, directions 2, internal workspace 1, thread limit 0,
// thread word 1, working lists copied from the user lists. No candidate list.
// Returns DFTI_STATUS_OK, DFTI_STATUS_ALLOCATION_FAILED when allocation fails,
// DFTI_STATUS_UNCOMMITTED_DESCRIPTOR for bad arguments,
// DFTI_STATUS_INVALID_DESCRIPTOR for a null out.
int gpu_dfti_create_node(DFTI_DESCRIPTOR** out, int precision, int domain, std::int64_t rank,
                         const std::int64_t* lengths, void* context);
int gpu_dfti_create_sc1d(DFTI_DESCRIPTOR** out, std::int64_t length, void* context);
int gpu_dfti_create_dc1d(DFTI_DESCRIPTOR** out, std::int64_t length, void* context);
int gpu_dfti_create_sr1d(DFTI_DESCRIPTOR** out, std::int64_t length, void* context);
int gpu_dfti_create_dr1d(DFTI_DESCRIPTOR** out, std::int64_t length, void* context);
int gpu_dfti_create_scmd(DFTI_DESCRIPTOR** out, std::int64_t rank, const std::int64_t* lengths,
                         void* context);
int gpu_dfti_create_dcmd(DFTI_DESCRIPTOR** out, std::int64_t rank, const std::int64_t* lengths,
                         void* context);
int gpu_dfti_create_srmd(DFTI_DESCRIPTOR** out, std::int64_t rank, const std::int64_t* lengths,
                         void* context);
int gpu_dfti_create_drmd(DFTI_DESCRIPTOR** out, std::int64_t rank, const std::int64_t* lengths,
                         void* context);

// Method slot 0: normalises the lists (dfti_normalize_node) and runs
// gpu_dfti_commit_bkdlist.
int gpu_dfti_commit(DFTI_DESCRIPTOR* node);
// Tries every record of the node's list in order; DFTI_STATUS_OK at the first
// that accepts, else the last status with DFTI_STATUS_NOT_APPLICABLE turned
// into DFTI_STATUS_INVALID_DESCRIPTOR. An empty or missing list gives
// DFTI_STATUS_INVALID_DESCRIPTOR.
int gpu_dfti_commit_bkdlist(DFTI_DESCRIPTOR* node);
// Destroys a chained sub-node, calls the owner's free and clears `bkd`, runs
// and clears the detach hook, sets the commit status DFTI_UNCOMMITTED, clears
// the compute entries and bit 0 of `flags`.
void detach_backend(DFTI_DESCRIPTOR* node);
// Method slot 24: binds a caller's workspace (phase 2, offset 0).
int gpu_dfti_set_workspace(DFTI_DESCRIPTOR* node, void* base, int kind);
// Method slot 23: detaches the backend, frees the lists, the queue copy and
// the node.
int gpu_dfti_destroy(DFTI_DESCRIPTOR* node);
int gpu_dfti_set_input_strides(DFTI_DESCRIPTOR* node, const std::int64_t* strides);
int gpu_dfti_set_output_strides(DFTI_DESCRIPTOR* node, const std::int64_t* strides);
int gpu_dfti_set_input_distance(DFTI_DESCRIPTOR* node, std::int64_t v);
int gpu_dfti_set_output_distance(DFTI_DESCRIPTOR* node, std::int64_t v);
int gpu_dfti_set_number_of_transforms(DFTI_DESCRIPTOR* node, std::int64_t v);
int gpu_dfti_set_name(DFTI_DESCRIPTOR* node, const char* name, std::int64_t length, char fill);
// Stores the thread limit (DFTI_STATUS_INVALID_DESCRIPTOR for a negative
// value); the binding stays.
int gpu_dfti_set_thread_limit(DFTI_DESCRIPTOR* node, std::int64_t v);

// Commits a node for the GPU queue in its `queue` field:
// DFTI_STATUS_UNCOMMITTED_DESCRIPTOR for a bad precision or double precision
// without fp64; DFTI_STATUS_UNIMPLEMENTED for data above 2^34 bytes (single)
// or 2^35 bytes (double); throws korami::ovx::unimplemented for a
// rank above 3; otherwise installs the candidate list and the GPU method
// table, blesses the node and runs method slot 0.
int gpu_commit(DFTI_DESCRIPTOR* node);

// Rewrites the working lists from the user lists (the normalisation of the
// commit). Returns DFTI_STATUS_OK, DFTI_STATUS_ALLOCATION_FAILED when
// allocation fails, DFTI_STATUS_INVALID_DESCRIPTOR for a negative stride or
// distance. The exact rules are documented at the definition.
int dfti_normalize_node(DFTI_DESCRIPTOR* node);

// The candidate list the GPU commit installs for a node of this precision,
// domain and rank (1 or 2-3).
bkdlist gpu_dfti_select_bkdlist(int precision, int domain, std::int64_t rank);

// The eight candidate lists and the terminal record (answers
// DFTI_STATUS_UNIMPLEMENTED). Only code inside the library refers to these
// objects; code outside it (tests) reaches them through
// gpu_dfti_select_bkdlist and node->bkdlist, so that no program keeps a copy
// of these pointer tables of its own.
extern const bkd_ops bkd_terminal;
extern const bkd_ops* const bkdlist_sc1d[];
extern const bkd_ops* const bkdlist_dc1d[];
extern const bkd_ops* const bkdlist_sr1d[];
extern const bkd_ops* const bkdlist_dr1d[];
extern const bkd_ops* const bkdlist_scmd[];
extern const bkd_ops* const bkdlist_dcmd[];
extern const bkd_ops* const bkdlist_srmd[];
extern const bkd_ops* const bkdlist_drmd[];

// The name of a backend record (e.g. "bkd_c2c_1d_2_facts_s_ops"), for
// verbose output and messages; "unknown backend" for a record the library
// does not have, "none" for null.
const char* bkd_name(const bkd_ops* record);

// True when the two nodes are distinct, non-null and would compute the same
// transform, so that one of them can serve both directions of a composite:
// they agree in the user dimension and batch records, rank, domain,
// precision, storages, packed format, placement, destroy-input word, commit
// status, creation word, queue mode, workspace ownership, thread limit,
// sub-node mark, directions, offsets and scales (a NaN scale never matches).
// The name is not compared. This is the one comparison every composite
// shares sub-nodes by.
bool dfti_nodes_same_layout(const DFTI_DESCRIPTOR* a, const DFTI_DESCRIPTOR* b);

// Fills `text` (512 bytes, at most 511 characters) with the verbose "FFT("
// description of a compute call in `direction` (0 forward, 1 backward);
// defined in ovx_dft_node_verbose.cpp.
void describe_descriptor_for_verbose(DFTI_DESCRIPTOR* node, sycl::queue* queue, char* text,
                                     std::uint64_t data_kind, const void* in, const void* out,
                                     int direction = 0);

// ---- kernel-argument binders --------------------------------------------------

// Binds argument `Index` from a data container: kind 2 passes the USM
// pointer as a raw 8-byte argument; any other kind makes a device accessor of
// access mode `Mode` over the whole sycl::buffer<char, 1> that `data` points
// to, inside the command group.
template <std::uint32_t Index, sycl::access_mode Mode>
inline void dft_set_arg(sycl::handler& cgh, void* data, std::uint64_t kind) {
    if (kind == DFTI_CONTAINER_USM) {
        cgh.set_arg(Index, data);
    } else {
        auto* buf = static_cast<sycl::buffer<char, 1>*>(data);
        sycl::accessor<char, 1, Mode, sycl::target::device> acc(*buf, cgh);
        cgh.set_arg(Index, acc);
    }
}
// The copy with the index from the caller, read access.
inline void dft_set_arg(sycl::handler& cgh, std::uint32_t index, void* data, std::uint64_t kind) {
    if (kind == DFTI_CONTAINER_USM) {
        cgh.set_arg(index, data);
    } else {
        auto* buf = static_cast<sycl::buffer<char, 1>*>(data);
        sycl::accessor<char, 1, sycl::access_mode::read, sycl::target::device> acc(*buf, cgh);
        cgh.set_arg(index, acc);
    }
}
// The shared copy for argument 1 with write access.
inline void dft_set_arg(sycl::handler& cgh, void* data, std::uint64_t kind) {
    dft_set_arg<1, sycl::access_mode::write>(cgh, data, kind);
}

// ---- workspace estimates -------------------------------------------------------

// What an estimate is asked about: a normalised copy of the node (working
// lists filled) and the queue the caller will commit on, or null when not
// known yet.
struct dft_workspace_problem {
    const DFTI_DESCRIPTOR* node;
    const sycl::queue* queue;
};

// The workspace a commit of the problem would need (both regions together):
// the largest estimate among the records of the node's candidate list (see
// bkd_ops::estimate), 0 when none takes it. T is the node's precision.
template <typename T>
std::int64_t dft_estimate_workspace_bytes(const dft_workspace_problem& problem);

// ---- CPU node layer -------------------------------------------------------------
// (defined in ovx_dft_node_cpu.cpp)

int dfti_create_descriptor_s_1d(DFTI_DESCRIPTOR** handle, int domain, std::int64_t length);
int dfti_create_descriptor_d_1d(DFTI_DESCRIPTOR** handle, int domain, std::int64_t length);
// Lengths outermost first.
int dfti_create_descriptor_s_md(DFTI_DESCRIPTOR** handle, int domain, std::int64_t rank,
                                const std::int64_t* lengths);
int dfti_create_descriptor_d_md(DFTI_DESCRIPTOR** handle, int domain, std::int64_t rank,
                                const std::int64_t* lengths);
// One value after the parameter number: parameters 7, 14, 15 and 27 take an
// std::int64_t; 10, 11 and 17 an int; 12 and 13 a const std::int64_t* (user
// order).
int dfti_set_value(DFTI_DESCRIPTOR* node, int param, ...);
int dfti_commit_descriptor(DFTI_DESCRIPTOR* node);
int dfti_free_descriptor(DFTI_DESCRIPTOR** handle);
int dfti_error_class(std::int64_t status, std::int64_t error_class);

// Calls a CPU node's compute entry (direction 0 forward, 1 backward) with up
// to four arrays.
inline int dfti_cpu_compute(DFTI_DESCRIPTOR* node, int direction, void* a1, void* a2 = nullptr,
                            void* a3 = nullptr, void* a4 = nullptr) {
    dfti_cpu_compute_fn fn = direction == 0 ? node->cpu_compute_fwd : node->cpu_compute_bwd;
    return fn ? fn(node, a1, a2, a3, a4, nullptr) : DFTI_STATUS_UNCOMMITTED_DESCRIPTOR;
}

#endif
