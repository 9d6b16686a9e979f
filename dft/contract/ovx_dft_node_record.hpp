// The descriptor node record that the library and the CPU transform library
// share: its numbers, dimension records, operation table and fields. This
// folder includes nothing else of the library, so that the CPU transform
// library builds against it alone.
//
// Orders used throughout:
// - "node order": dimension records innermost (contiguous) first. Every
//   method-table operation and every gpu_dfti_create_* function takes and
//   returns dimension data in node order.
// - "user order": lengths and strides as a caller gives them, outermost
//   first (row major). Only the CPU node creators dfti_create_descriptor_*_md
//   and dfti_set_value (parameters 12 and 13) take user order; they reverse.
// - Stride vectors are rank + 1 values: the offset first, then one stride per
//   dimension.
#ifndef OVX_DFT_CONTRACT_OVX_DFT_NODE_RECORD_HPP
#define OVX_DFT_CONTRACT_OVX_DFT_NODE_RECORD_HPP

#include <cstddef>
#include <cstdint>
#include <vector>

#include <sycl/sycl.hpp>

struct DFTI_DESCRIPTOR;
struct bkd_ops;

// ---- numbers ---------------------------------------------------------------

// Marker word of every node: the characters "DFT", little-endian.
constexpr std::uint32_t DFTI_NODE_MARKER = 0x544644u;

// Configuration values held in node fields.
enum dfti_config_value : std::int32_t {
    DFTI_COMMITTED = 30,
    DFTI_UNCOMMITTED = 31,
    DFTI_COMPLEX = 32,
    DFTI_REAL = 33,
    DFTI_SINGLE = 35,
    DFTI_DOUBLE = 36,
    DFTI_COMPLEX_COMPLEX = 39,
    DFTI_COMPLEX_REAL = 40,
    DFTI_REAL_COMPLEX = 41,
    DFTI_REAL_REAL = 42,
    DFTI_INPLACE = 43,
    DFTI_NOT_INPLACE = 44,
    DFTI_ALLOW = 51,
    DFTI_AVOID = 52,
    DFTI_NONE = 53,
    DFTI_CCS_FORMAT = 54,
    DFTI_PACK_FORMAT = 55,
    DFTI_PERM_FORMAT = 56,
    DFTI_CCE_FORMAT = 57,
};

// Parameter numbers of dfti_set_value (the same numbers as the public
// config_param names).
enum dfti_config_param : std::int32_t {
    DFTI_PARAM_FORWARD_DOMAIN = 0,
    DFTI_PARAM_DIMENSION = 1,
    DFTI_PARAM_LENGTHS = 2,
    DFTI_PARAM_PRECISION = 3,
    DFTI_PARAM_FORWARD_SCALE = 4,
    DFTI_PARAM_BACKWARD_SCALE = 5,
    DFTI_PARAM_NUMBER_OF_TRANSFORMS = 7,
    DFTI_PARAM_COMPLEX_STORAGE = 8,
    DFTI_PARAM_REAL_STORAGE = 9,
    DFTI_PARAM_CONJUGATE_EVEN_STORAGE = 10,
    DFTI_PARAM_PLACEMENT = 11,
    DFTI_PARAM_INPUT_STRIDES = 12,
    DFTI_PARAM_OUTPUT_STRIDES = 13,
    DFTI_PARAM_INPUT_DISTANCE = 14,
    DFTI_PARAM_OUTPUT_DISTANCE = 15,
    DFTI_PARAM_WORKSPACE = 17,
    DFTI_PARAM_PACKED_FORMAT = 21,
    DFTI_PARAM_COMMIT_STATUS = 22,
    DFTI_PARAM_THREAD_LIMIT = 27,
    DFTI_PARAM_DESTROY_INPUT = 28,
};

// Status codes of the node layer, the backends and the CPU transform library,
// one enumerator per row of the status table (ovx_dft_status.def, where each
// row says what its status means and which exception it raises).
enum dfti_status : int {
#define OVX_DFT_STATUS(VALUE, NAME, EXCEPTION, TEXT) DFTI_STATUS_##NAME = VALUE,
#define OVX_DFT_STATUS_NO_EXCEPTION(VALUE, NAME) DFTI_STATUS_##NAME = VALUE,
#include "dft/contract/ovx_dft_status.def"
};

// Kinds of data and workspace containers (data-kind word, add_workspace kind,
// node field workspace_kind). Bit 0 set: SYCL buffers.
enum dfti_container_kind : std::int32_t {
    DFTI_CONTAINER_NONE = 0,
    DFTI_CONTAINER_BUFFER = 1,   // pointer to a one-dimensional sycl::buffer<char, 1> over the bytes
    DFTI_CONTAINER_USM = 2,      // a USM device pointer
};

// add_workspace phases.
enum dfti_workspace_phase : std::uint32_t {
    DFTI_WS_TABLES = 0,    // the first region (tables)
    DFTI_WS_SCRATCH = 1,   // the second region (scratch)
    DFTI_WS_BOTH = 2,      // a caller's workspace: tables first, scratch after
};

// The data-kind record: the fifth argument of a GPU compute entry. Bit 0 of
// `kind` set means that input and output are sycl::buffer<char, 1>* over the
// data's bytes; 2 means USM pointers.
struct dfti_data_kind {
    std::uint64_t kind;
};

// ---- records ---------------------------------------------------------------

// One dimension record {length, input, output, forward-domain,
// backward-domain stride}. A batch record has the same shape:
// {number of transforms, input, output, forward, backward distance}.
struct dfti_dim {
    std::int64_t length;         // batch record: number of transforms
    std::int64_t input_stride;   // batch record: input distance
    std::int64_t output_stride;  // batch record: output distance
    std::int64_t fwd_stride;     // batch record: forward-domain distance
    std::int64_t bwd_stride;     // batch record: backward-domain distance
};

// A count and its records (the records are owned by the node and allocated
// through the node's memory services).
struct dfti_dim_list {
    std::int64_t count;
    dfti_dim* records;
};

// Number of user batch records of a created node.
constexpr int DFTI_USER_BATCH_RECORDS = 7;
// Largest rank of a node.
constexpr int DFTI_MAX_RANK = 7;

// GPU compute entry: (node, input, output, dependencies or null, data-kind
// record, place for the result event or null) -> status.
using dfti_compute_fn = int (*)(DFTI_DESCRIPTOR* node, void* in, void* out,
                                std::vector<sycl::event>* deps, const dfti_data_kind* kind,
                                sycl::event* result);
// Compute entry of a node committed on the CPU transform library:
// (node, first, second, third, fourth data array, null) -> status.
using dfti_cpu_compute_fn = int (*)(DFTI_DESCRIPTOR* node, void* a1, void* a2, void* a3, void* a4,
                                    void* reserved);

// The 31 operations of a node, in slot order. Getters write through the
// pointer; vectors are in node order (see the top of this file).
struct dfti_method_table {
    int (*commit)(DFTI_DESCRIPTOR*);                                          // 0
    int (*recommit)(DFTI_DESCRIPTOR*);                                        // 1
    int (*get_input_strides)(DFTI_DESCRIPTOR*, std::int64_t*);                // 2
    int (*get_output_strides)(DFTI_DESCRIPTOR*, std::int64_t*);               // 3
    int (*set_input_strides)(DFTI_DESCRIPTOR*, const std::int64_t*);          // 4
    int (*set_output_strides)(DFTI_DESCRIPTOR*, const std::int64_t*);         // 5
    int (*get_lengths)(DFTI_DESCRIPTOR*, std::int64_t*);                      // 6
    int (*get_name)(DFTI_DESCRIPTOR*, char*);                                 // 7 (10 bytes)
    int (*set_name)(DFTI_DESCRIPTOR*, const char*, std::int64_t len, char fill);  // 8
    int (*get_scale)(DFTI_DESCRIPTOR*, int direction, double*);               // 9 (0 fwd, 1 bwd)
    int (*set_scale)(DFTI_DESCRIPTOR*, int direction, double);                // 10
    int (*copy)(DFTI_DESCRIPTOR*, DFTI_DESCRIPTOR** out);                     // 11
    int (*get_input_distance)(DFTI_DESCRIPTOR*, std::int64_t*);               // 12
    int (*get_output_distance)(DFTI_DESCRIPTOR*, std::int64_t*);              // 13
    int (*get_number_of_transforms)(DFTI_DESCRIPTOR*, std::int64_t*);         // 14
    int (*set_input_distance)(DFTI_DESCRIPTOR*, std::int64_t);                // 15
    int (*set_output_distance)(DFTI_DESCRIPTOR*, std::int64_t);               // 16
    int (*set_number_of_transforms)(DFTI_DESCRIPTOR*, std::int64_t);          // 17
    int (*get_thread_limit)(DFTI_DESCRIPTOR*, std::int64_t*);                 // 18
    int (*set_thread_limit)(DFTI_DESCRIPTOR*, std::int64_t);                  // 19
    int (*get_rank)(DFTI_DESCRIPTOR*, std::int64_t*);                         // 20
    int (*set_fwd_distance)(DFTI_DESCRIPTOR*, std::int64_t);                  // 21
    int (*set_bwd_distance)(DFTI_DESCRIPTOR*, std::int64_t);                  // 22
    int (*destroy)(DFTI_DESCRIPTOR*);                                         // 23
    int (*set_workspace)(DFTI_DESCRIPTOR*, void* base, int kind);             // 24
    int (*get_fwd_distance)(DFTI_DESCRIPTOR*, std::int64_t*);                 // 25
    int (*get_bwd_distance)(DFTI_DESCRIPTOR*, std::int64_t*);                 // 26
    int (*get_fwd_strides)(DFTI_DESCRIPTOR*, std::int64_t*);                  // 27
    int (*get_bwd_strides)(DFTI_DESCRIPTOR*, std::int64_t*);                  // 28
    int (*set_fwd_strides)(DFTI_DESCRIPTOR*, const std::int64_t*);            // 29
    int (*set_bwd_strides)(DFTI_DESCRIPTOR*, const std::int64_t*);            // 30
};
static_assert(sizeof(dfti_method_table) == 31 * sizeof(void*), "31 slots");

// A candidate list: a null-terminated array of record pointers, tried in order.
using bkdlist = const bkd_ops* const*;

// Memory slots of the node layer.
struct bkd_memory_services_t {
    // Zero-filled block of count * size bytes aligned to `alignment` (a power
    // of two; 0 means 64); null on failure or overflow. `context` is the
    // allocation context of the node layer and must be 0.
    void* (*calloc)(std::size_t count, std::size_t size, std::size_t alignment, int context);
    void (*free)(void* block);
};

// The pair of CPU transform handles {forward, backward} of the CPU route.
struct SYCL_DFTI_DESCRIPTOR {
    DFTI_DESCRIPTOR* forward;
    DFTI_DESCRIPTOR* backward;
};

// ---- the node --------------------------------------------------------------

struct DFTI_DESCRIPTOR {
    std::uint32_t marker;              // DFTI_NODE_MARKER
    std::int32_t commit_status;        // DFTI_COMMITTED or DFTI_UNCOMMITTED
    const dfti_method_table* methods;  // the dfti_method_table
    const bkd_memory_services_t* services;  // memory slots that made the node and its lists

    union {                            // compute entries, null while not committed
        dfti_compute_fn compute_fwd;
        dfti_cpu_compute_fn cpu_compute_fwd;
    };
    union {
        dfti_compute_fn compute_bwd;
        dfti_cpu_compute_fn cpu_compute_bwd;
    };
    std::int32_t data_array_count;     // 1 in place, 2 out of place, doubled for split storage

    const bkd_ops* bkd;                // owning backend record
    void* bkd_data;                    // owner's private block
    ::bkdlist bkdlist;                 // the node's candidate list
    void (*detach_backend)(DFTI_DESCRIPTOR*);  // detach entry
    void (*detach_hook)(DFTI_DESCRIPTOR*);     // run and cleared by detach_backend
    DFTI_DESCRIPTOR* sub_node;         // chained node, destroyed by detach_backend
    std::uint32_t flags;               // bit 0 cleared by detach_backend
    void* cpu_plan;                    // private state of the CPU transform library

    std::int32_t forward_domain;       // 32 complex, 33 real
    std::int32_t precision;            // 35 single, 36 double
    std::int32_t complex_storage;      // 39, or 42 split
    std::int32_t real_storage;         // 42
    std::int32_t conjugate_even_storage;  // 39 or 40
    std::int32_t packed_format;        // 54, 55, 56 or 57 (57 goes with 39)
    std::int32_t placement;            // 43 in place, 44 out of place
    std::int32_t workspace;            // 51 allow (default), 52 avoid
    std::int32_t destroy_input;        // 16: the input may be overwritten; 0 otherwise

    std::int32_t rank;
    dfti_dim_list user_dims;           // rank records, node order
    dfti_dim_list user_batch;          // DFTI_USER_BATCH_RECORDS records, the first one the caller's
    std::int32_t working_rank;         // filled by normalisation at commit
    dfti_dim_list working_dims;        // count == working_rank
    dfti_dim_list working_batch;       // at least one record after normalisation

    std::int64_t input_offset, output_offset, fwd_offset, bwd_offset;  // elements
    double forward_scale, backward_scale;

    std::int32_t threads_in_use;
    std::int32_t thread_limit;         // 0: no limit
    std::int32_t thread_word;          // 1 at creation, carried over by copy
    char name[10];

    std::int64_t colbatch_group_count;  // 0 on nodes a caller makes
    std::int32_t is_sub_node;          // 1 on sub-nodes of composite backends

    sycl::queue* queue;                // committed queue (may point to queue_copy)
    sycl::queue* queue_copy;           // the node's own copy of the caller's queue, or null
    std::int32_t directions;           // 0 forward only, 1 backward only, 2 both
    std::uint32_t queue_mode;          // offload mode / queue-copy flag: 0, 1 or 2
    std::uint32_t internal_workspace;  // 1 the library holds the workspace, 0 the caller
    std::uint64_t twiddle_workspace_bytes;  // first region (tables)
    std::uint64_t scratch_workspace_bytes;  // second region (scratch)
    std::int32_t workspace_kind;       // bound caller workspace: 0 none, 1 buffer, 2 USM
    // The byte view of a caller's buffer workspace, owned by the node so that
    // the base handed to add_workspace stays valid while it is bound.
    sycl::buffer<char, 1>* workspace_buffer;
};

#endif
