// The descriptor node: the plain record that every transform description of
// the library is, its operation table, the backend records and candidate
// lists of the GPU commit loop, and the node layer's services.
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
#ifndef OVX_DFT_NODE_OVX_DFT_NODE_HPP
#define OVX_DFT_NODE_OVX_DFT_NODE_HPP

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

// Status codes of the node layer and the backends.
enum dfti_status : int {
    DFTI_STATUS_OK = 0,
    DFTI_STATUS_ALLOCATION_FAILED = 1,   // memory could not be had
    DFTI_STATUS_INVALID = 2,             // invalid configuration, no private block or owner
    DFTI_STATUS_INCONSISTENT = 3,        // inconsistent configuration or arguments; no backend accepted
    DFTI_STATUS_BAD_DESCRIPTOR = 5,      // bad node, missing internal area, not computable
    DFTI_STATUS_UNIMPLEMENTED = 6,       // size over the limit, a shape no backend handles
    DFTI_STATUS_INTERNAL = 7,            // internal error, node owned by another record
    DFTI_STATUS_NO_WORKSPACE = 11,       // workspace needed but not set
    DFTI_STATUS_DIRECTION_REFUSED = 12,  // compute of a direction whose layout no backend took at commit
    DFTI_STATUS_NOT_APPLICABLE = 100,    // backend record does not take the node
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

// A backend record, three entries in slot order. Its address identifies the
// owner of a node.
struct bkd_ops {
    // 0 accepted, 100 not applicable, anything else a failure.
    int (*commit)(const bkd_ops* self, DFTI_DESCRIPTOR* node);
    // Releases the private block; 7 when the node is owned by another record.
    int (*free)(const bkd_ops* self, DFTI_DESCRIPTOR* node);
    // Binds a workspace: base (USM address, or sycl::buffer<char,1>* for kind
    // 1), kind (1 buffer, 2 USM), byte offset, node, phase (0 tables,
    // 1 scratch, 2 both), events (collects table-writing events) or null.
    int (*add_workspace)(void* base, int kind, std::uint64_t offset, DFTI_DESCRIPTOR* node,
                         std::uint32_t phase, std::vector<sycl::event>* events);
};

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
// The service allocator (ovx_serv_malloc / ovx_serv_free) of the node layer.
extern const bkd_memory_services_t bkd_memory_services;

// The pair of CPU transform handles {forward, backward} of the CPU route.
struct SYCL_DFTI_DESCRIPTOR {
    DFTI_DESCRIPTOR* forward;
    DFTI_DESCRIPTOR* backward;
};

// ---- the node --------------------------------------------------------------

struct DFTI_DESCRIPTOR {
    std::uint32_t marker;              // DFTI_NODE_MARKER
    std::int32_t commit_status;        // 30 committed, 31 not
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

// ---- GPU node layer ----------------------------------------------------------

// The GPU operation table.
extern const dfti_method_table gpu_dfti_method_table;

// Creates a GPU node of the given precision (35/36), domain (32/33), rank
// (1..7) and lengths (node order, each >= 1), with the defaults: dimension
// records {length, product of the lengths before it (input and output), 0, 0},
// seven batch records {1, 0, 0, 0, 0}, status 31, complex storage 39, real
// storage 42, conjugate-even storage 39, placement 43, packed format 57,
// workspace 51, scales 1.0, directions 2, internal workspace 1, thread limit 0,
// thread word 1, working lists copied from the user lists. No candidate list.
// Returns 0, 1 when allocation fails, 2 for bad arguments, 3 for a null out.
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
// Tries every record of the node's list in order; 0 at the first that
// accepts, else the last status with 100 turned into 3. An empty or missing
// list gives 3.
int gpu_dfti_commit_bkdlist(DFTI_DESCRIPTOR* node);
// Destroys a chained sub-node, calls the owner's free and clears `bkd`, runs
// and clears the detach hook, status 31, clears the compute entries and bit 0
// of `flags`.
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
// Stores the thread limit (3 for a negative value); the binding stays.
int gpu_dfti_set_thread_limit(DFTI_DESCRIPTOR* node, std::int64_t v);

// Commits a node for the GPU queue in its `queue` field: 2 for a bad
// precision or double precision without fp64; 6 for data above 2^34 bytes
// (single) or 2^35 bytes (double); throws korami::ovx::unimplemented for a
// rank above 3; otherwise installs the candidate list and the GPU method
// table, blesses the node and runs method slot 0.
int gpu_commit(DFTI_DESCRIPTOR* node);

// Rewrites the working lists from the user lists (the normalisation of the
// commit). Returns 0, 1 when allocation fails, 3 for a negative stride or
// distance. The exact rules are documented at the definition.
int dfti_normalize_node(DFTI_DESCRIPTOR* node);

// The candidate list the GPU commit installs for a node of this precision,
// domain and rank (1 or 2-3).
bkdlist gpu_dfti_select_bkdlist(int precision, int domain, std::int64_t rank);

// The eight candidate lists and the terminal record (answers 6). Only code
// inside the library refers to these objects; code outside it (tests) reaches
// them through gpu_dfti_select_bkdlist and node->bkdlist, so that no program
// keeps a copy of these pointer tables of its own.
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
// description of a compute call in `direction` (0 forward, 1 backward).
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

// ---- workspace estimators -------------------------------------------------------

// What an estimator is asked about: a normalised copy of the node (working
// lists filled) and the queue the caller will commit on, or null when not
// known yet.
struct dft_workspace_problem {
    const DFTI_DESCRIPTOR* node;
    const sycl::queue* queue;
};

// Base of the per-backend workspace estimators dft_*_gpu_bkd<T> (T float or
// double). An estimator answers the bytes its backend needs for the problem
// (both regions together), or -1 when the backend does not apply.
template <typename T>
class dft_base_bkd {
public:
    virtual ~dft_base_bkd() = default;
    virtual std::int64_t get_workspace_bytes(const dft_workspace_problem& problem) const = 0;
};

// Registers an estimator for the life of the process (call from a static
// initialiser of the backend's source: `static dft_bkd_estimator_registration<float> r(&obj);`).
void dft_register_workspace_estimator(const dft_base_bkd<float>* e);
void dft_register_workspace_estimator(const dft_base_bkd<double>* e);
template <typename T>
struct dft_bkd_estimator_registration {
    explicit dft_bkd_estimator_registration(const dft_base_bkd<T>* e) {
        dft_register_workspace_estimator(e);
    }
};
// The largest answer of the registered estimators of precision T (0 when none
// applies).
template <typename T>
std::int64_t dft_estimate_workspace_bytes(const dft_workspace_problem& problem);

// ---- CPU node layer -------------------------------------------------------------

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
    return fn ? fn(node, a1, a2, a3, a4, nullptr) : DFTI_STATUS_INVALID;
}

#endif
