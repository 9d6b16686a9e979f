// Explicit-SIMD two-factor plan for packed 2D and 3D complex transforms.
//
// Stage s transforms along dimension s: every line of length L = fact0 *
// fact1 is computed by one explicit-SIMD launch per stage (fact0-point
// transforms, a twiddle multiplication, a transpose through shared local
// memory, fact1-point transforms). Stages after the first treat 8 adjacent
// lines together ("column-batched") when 8 lines fit the local memory. The
// plan holds per stage a kernel bundle specialised by constants and one
// twiddle table per direction.
#pragma once

#include <sycl/sycl.hpp>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace korami::ovx::dft {

enum class fft_algo : int { rows = 0, col_batch = 1 };

// What the plan's commit, internal workspace and rebind checks answer.
enum esimd_plan_status : int {
    esimd_plan_ok = 0,
    esimd_plan_refused = 1,    // commit: the plan does not take the problem on this device
    esimd_plan_no_memory = 1,  // the library's own workspace cannot be allocated
    esimd_plan_rebind = 1,     // a compute of that data kind needs a new workspace binding first
};

// Everything a stage's launch and table need; a pure function of the
// problem and two device properties, so that the rules can be checked on
// the host.
struct esimd_stage {
    bool split_found = false;
    bool col_batch = false;
    std::int64_t ncol = 1;
    std::int32_t fact0 = 1, fact1 = 1;
    std::uint32_t pad0 = 0, pad1 = 0, fact1p = 0;
    std::uint32_t A = 0, Bg = 0, loop_bound = 0, after = 0;
    std::int64_t local_size = 0, units = 0, global_size = 0;
    std::int64_t slm_bytes = 0, region_bytes = 0;
    std::int64_t fwd_dist = 0, bwd_dist = 0;
    std::uint32_t stride = 0, group_dist = 0, batch_x = 0, batch_y = 0;
};

// fact0 x fact1 = len with both factors in {8, 9, 10, 12, 16, 25, 32, 64},
// the most balanced pair; false when there is none.
bool esimd_2_facts_split(std::int64_t len, std::int32_t& fact0, std::int32_t& fact1);

bool esimd_2_facts_excluded_size(int rank, std::vector<std::int64_t> lengths);

// Fills dims and units (work-groups of each stage for one full launch) and
// returns the transforms per launch.
template <typename T>
std::int64_t esimd_2_facts_launch_ranges(std::vector<std::int64_t> lengths, std::int64_t dims[3],
                                         std::int64_t units[3]);

// The layout, distance and size rules of the plan.
template <typename T>
bool esimd_2_facts_applicable(const std::vector<std::int64_t>& lengths, std::int64_t n_transforms,
                              std::int64_t fwd_dist, std::int64_t bwd_dist, const std::int64_t* istr,
                              const std::int64_t* ostr);

template <typename T>
esimd_stage esimd_2_facts_stage(int s, const std::vector<std::int64_t>& lengths, std::int64_t t,
                                std::int64_t units, std::int64_t plan_fwd_dist, std::int64_t plan_bwd_dist,
                                std::uint64_t local_mem_size, std::uint32_t base_align_bits);

// The table bytes (workspace kind 0) that a plan of this problem needs on a
// device of the given local memory and base-address alignment, or -1 when
// the plan would refuse the problem.
template <typename T>
std::int64_t esimd_2_facts_table_bytes(const std::vector<std::int64_t>& lengths, std::int64_t n_transforms,
                                       std::int64_t fwd_dist, std::int64_t bwd_dist, const std::int64_t* istrides,
                                       const std::int64_t* ostrides, std::uint64_t local_mem_size,
                                       std::uint32_t base_align_bits);

template <typename T>
class esimd_2_facts_plan {
public:
    esimd_2_facts_plan(std::vector<std::int64_t> lengths, T bwd_scale, std::int64_t n_transforms,
                       std::int64_t fwd_dist, std::int64_t bwd_dist, const std::int64_t* istrides,
                       const std::int64_t* ostrides, bool use_lsc);
    ~esimd_2_facts_plan();
    esimd_2_facts_plan(const esimd_2_facts_plan&) = delete;
    esimd_2_facts_plan& operator=(const esimd_2_facts_plan&) = delete;

    void set_fwd_scale(T s) { fwd_scale = s; }
    void set_use_internal_workspaces(bool b) { use_internal_workspaces = b; }
    void set_queue(sycl::queue* q) { queue = q; }
    // esimd_plan_ok, or esimd_plan_refused / esimd_plan_no_memory.
    int commit(sycl::queue* q);
    // esimd_plan_ok, or esimd_plan_rebind when the tables of data kind
    // `kind` (0 USM, 1 buffer) are not where a compute can read them.
    int workspace_rebind_needed(int kind) const;

    std::int64_t workspace_bytes(int kind) const;
    void set_workspace(void* base, unsigned phase, std::vector<sycl::event>* events, std::int64_t offset);
    void set_workspace(sycl::buffer<T, 1>& buf, unsigned phase, std::vector<sycl::event>* events,
                       std::int64_t offset);
    void set_workspace(sycl::buffer<char, 1>& bytes, unsigned phase, std::vector<sycl::event>* events,
                       std::int64_t offset);
    void delete_internal_allocations(unsigned mode);
    std::int32_t create_and_initialize_internal_workspaces();  // esimd_plan_ok or esimd_plan_no_memory
    void create_twiddle_table(int mem_type);
    // Writes the table of stage s and direction d into `table` (mem_type 0: a
    // T* of USM; 1: a sycl::buffer<T, 1>*): the event of the command group,
    // or a default event when the table was filled from the host.
    sycl::event write_table(int s, int d, int mem_type, void* table);

    // Tables placed by the plan's user (a backend's workspace areas): the
    // plan reads table_ptr / table_buf as set by its user and neither
    // allocates nor releases them.
    void borrow_tables() { tables_borrowed = true; }

    // Launches of the compute driver still reading the tables: waited for
    // before the plan frees table memory. Completed ones are dropped.
    void note_launch(const sycl::event& e) const;

    // ---- the record
    std::int64_t rank;
    std::vector<std::int64_t> lengths;
    T bwd_scale;
    T fwd_scale = T(1);
    std::int64_t n_transforms;
    std::int64_t fwd_distance, bwd_distance;
    std::int64_t in_strides[3] = {0, 0, 0}, out_strides[3] = {0, 0, 0};
    T* table_ptr[3][2] = {};
    sycl::buffer<T, 1>* table_buf[3][2] = {};
    std::int64_t region_size[3][2] = {};
    std::int32_t table_vl = 0;
    std::int64_t local_size[3] = {}, global_size[3] = {};
    std::int64_t dims[3] = {1, 1, 1}, units[3] = {};
    std::int64_t transforms_per_launch = 0;
    std::int32_t fact0[3] = {}, fact1[3] = {};
    bool use_lsc_api;
    bool col_batch[3] = {};
    bool use_internal_workspaces = true;
    std::int32_t container_kind = 2;
    std::int64_t area_size[2] = {};
    void* internal_alloc[2] = {};
    bool tables_borrowed = false;
    std::vector<sycl::event> events;
    sycl::queue* queue = nullptr;
    sycl::kernel_bundle<sycl::bundle_state::executable>* bundles[3] = {};
    esimd_stage stages[3];

private:
    sycl::queue& alloc_queue();
    void wait_launches();
    void unbind_all() noexcept;
    // The queue the internal allocation was made on: frees use its context
    // even when set_queue later hands the plan another context's queue.
    std::optional<sycl::queue> alloc_q_;
    mutable std::vector<sycl::event> launches_;
};

// Runs the committed plan: one launch per stage and chunk of transforms.
// dir 0 forward, 1 backward.
template <int dir, typename T>
sycl::event ovx_dft_gpu_dft_esimd_2_facts_compute(esimd_2_facts_plan<T>& plan, T* in, T* out,
                                                  std::vector<sycl::event>& deps);
template <int dir, typename T>
sycl::event ovx_dft_gpu_dft_esimd_2_facts_compute(esimd_2_facts_plan<T>& plan, sycl::buffer<T, 1>& in,
                                                  sycl::buffer<T, 1>& out);
// Buffer data larger than this many bytes run each chunk of transforms on
// sub-buffers from the chunk's first transform (2^32: the reach of the
// kernels' 32-bit accessor offsets; tests lower it).
std::uint64_t& esimd_buffer_window_threshold();

}  // namespace korami::ovx::dft
