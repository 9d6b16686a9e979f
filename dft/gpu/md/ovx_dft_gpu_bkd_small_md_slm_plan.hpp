// Planning of the small multi-dimensional local-memory backend: pure
// functions of the problem and of the device figures, shared by the module
// and the unit tests.
//
// One work-group computes whole transforms of rank 1 or 2 in local memory:
// rows of the innermost length (n0 complex points, or n0/2 complex points of
// a real transform of even length n0) split into at most four factors of 2 to
// 64, columns of the outer length (rank 2) in one or two factors. A complex
// value lives in a lane pair of a sub-group (h = sub-group size / 2 values
// per sub-group row). The planner tries every factor-count combination,
// sizes each candidate's local memory by the kernel text's rules, picks the
// sub-groups per work-group and keeps the cheapest candidate.
#ifndef OVX_DFT_GPU_MD_SMALL_MD_SLM_PLAN_HPP
#define OVX_DFT_GPU_MD_SMALL_MD_SLM_PLAN_HPP

#include <cstdint>
#include <string>

namespace korami::ovx::dft::small_md_slm {

// The problem as the node's working lists give it (dimension 0 innermost).
// Strides and distances are the node's raw fields: 0 means "not given".
struct problem {
    bool real = false;
    bool single = false;
    bool in_place = false;
    int directions = 2;  // 0 forward, 1 backward, 2 both
    std::int64_t rank = 1;
    std::int64_t n[2] = {1, 1};
    std::int64_t input_stride[2] = {1, 0}, output_stride[2] = {1, 0};
    std::int64_t fwd_stride[2] = {0, 0}, bwd_stride[2] = {0, 0};
    std::int64_t transforms = 1;
    std::int64_t input_distance = 0, output_distance = 0, fwd_distance = 0, bwd_distance = 0;
    double scale[2] = {1.0, 1.0};
};

// The layout each direction uses: input/output strides first, the domain
// strides where those are 0; the distances in use. `supported` is cleared for
// a direction whose layout the kernel cannot serve.
struct layout {
    bool supported[2] = {true, true};
    std::int64_t in_stride[2][2] = {{0, 0}, {0, 0}};   // [dir][dim]
    std::int64_t out_stride[2][2] = {{0, 0}, {0, 0}};
    std::int64_t in_dist[2] = {0, 0}, out_dist[2] = {0, 0};  // [dir]
};

// The layout of a problem and the directions it supports.
layout layout_of(const problem& p);

// 0 when the wanted directions can be served, 100 when none can or when the
// only direction asked for cannot.
int layout_status(const problem& p, const layout& l);

// Device figures the planner uses.
struct device_figures {
    std::int64_t sub_group = 16;             // smallest sub-group size
    std::int64_t max_work_group = 1024;
    std::int64_t local_mem = 131072;         // bytes
    std::int64_t threads_per_eu = 8;
    std::int64_t threads_per_subslice = 64;
    std::int64_t subslices = 56;
    int backend = 0;                         // -1 unknown, 0 OpenCL, 1 Level Zero
};

// EUs per subslice and hardware threads per EU of a GPU generation the
// backend knows (3, 5, 6, 7); false for any other generation.
bool generation_figures(int generation, std::int64_t* eus_per_subslice, std::int64_t* threads_per_eu);

struct plan {
    std::int64_t rank = 1;
    bool real = false;
    bool single = false;
    std::int64_t transforms = 1;
    std::int64_t in_dist[2] = {0, 0}, out_dist[2] = {0, 0};  // [dir], elements of each side
    std::int64_t in_stride[2][2] = {{0, 0}, {0, 0}};        // [dir][dim]
    std::int64_t out_stride[2][2] = {{0, 0}, {0, 0}};
    double scale[2] = {1.0, 1.0};
    bool wanted[2] = {false, false};        // kernel built per direction
    std::int64_t sub_group = 16;
    std::int64_t sub_groups = 1;            // per work-group
    std::int64_t slm_bytes = 0;
    bool large_grf = false;
    std::int64_t per_group = 1;             // transforms per work-group
    std::int64_t last_group = 1;            // transforms in the last work-group
    std::int64_t fact[2][4] = {{1, 1, 1, 1}, {1, 1, 1, 1}};  // descending; 1 past the count
    std::int64_t count[2] = {1, 1};         // factors per dimension

    std::int64_t h() const { return sub_group / 2; }
    std::int64_t c2c_len() const { return fact[0][0] * fact[0][1] * fact[0][2] * fact[0][3]; }
    std::int64_t dim1_len() const { return fact[1][0] * fact[1][1] * fact[1][2] * fact[1][3]; }
    std::int64_t rows() const { return per_group * dim1_len(); }
    std::int64_t elem() const { return single ? 4 : 8; }  // bytes of one real value
    std::int64_t work_group_size() const { return sub_group * sub_groups; }
    std::int64_t groups() const { return (transforms + per_group - 1) / per_group; }
};

// Splits L into exactly k (1 to 4) factors of 2 to 64 (descending, the
// least spread between the largest and the smallest). 0, 7 for a null output
// or L = 0, 100 when L is 1, k is out of range or L has no such split.
int factor_length(std::int64_t k, std::int64_t L, std::int64_t* out);

// The direction stages its input in local memory before the row pass.
bool stages_input(const plan& p, int dir);

// Row geometry of a direction (counts of real values): see the kernel text.
std::int64_t input_fp_per_row_min(const plan& p, int dir);
std::int64_t input_fp_per_row(const plan& p, int dir);
std::int64_t row_odist_slm_fp(const plan& p, int dir);
bool load_row_by_row(const plan& p, int dir);
std::int64_t row_idist_fp(const plan& p, int dir);
std::int64_t fp_out_per_fft(const plan& p, int dir);

// Real values of local memory a direction needs (0 when it is not wanted).
std::int64_t slm_fp(const plan& p, int dir);

// Sequential sub-group work of one work-group; the largest number of complex
// values a lane pair holds at once.
std::int64_t work_group_cost(const plan& p);
std::int64_t lane_values(const plan& p);

// Chooses the sub-groups per work-group of a candidate: 0, or 100 when no
// count fits the device.
int plan_batch(plan& p, std::int64_t transforms, const device_figures& dev);

// True when `cand` is better than `best`.
bool compare_plans(const plan& cand, const plan& best, std::int64_t transforms, const device_figures& dev);

// The device refusals before the search (sub-groups of at least 16, one
// transform's data in local memory, the tiny complex lengths, the real length
// 2508 in double on OpenCL) and the search: 0 with the plan filled, or 100.
int make_plan(const problem& prob, const layout& lay, const device_figures& dev, plan& out);

// Bytes of the six table areas (0 for an area the plan does not use), each
// rounded by the workspace rule for a device of base-address alignment
// `align_bytes`: 0 main rows forward, 1 main rows backward, 2 second row
// factor, 3 third row factor, 4 real factors, 5 column factors.
void table_bytes(const plan& p, std::uint32_t align_bytes, std::uint64_t out[6]);
// The raw sizes the table kernels write (before the rounding).
void table_bytes_needed(const plan& p, std::uint64_t out[6]);

// KERNEL_FUNC of the program (outer length first: "real_fft_8x10_d").
std::string kernel_name(const plan& p);
// Device function of a factor, "fft_%lld_s".
std::string factor_function(std::int64_t f);
// Build options of direction dir (empty when they do not fit 1024 bytes).
std::string build_options(const plan& p, int dir);

}  // namespace korami::ovx::dft::small_md_slm

#endif
