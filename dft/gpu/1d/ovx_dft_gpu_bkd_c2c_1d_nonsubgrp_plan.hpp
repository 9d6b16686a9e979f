// Planning of the general 1D complex backend without sub-groups: pure
// functions of the problem (no device, no SYCL), so that every rule can be
// tested on the host.
//
// The transform of length N is split into up to four factors; each factor
// above 1 is one Stockham pass kernel generated at commit as OpenCL C text
// with every constant written into it. Batches run in chunks so that one
// scratch area stays under a cap.
#ifndef OVX_DFT_GPU_1D_OVX_DFT_GPU_BKD_C2C_1D_NONSUBGRP_PLAN_HPP
#define OVX_DFT_GPU_1D_OVX_DFT_GPU_BKD_C2C_1D_NONSUBGRP_PLAN_HPP

#include <cstdint>
#include <string>
#include <vector>

#include "dft/gpu/frame/plan_common.hpp"

namespace korami {
namespace ovx {
namespace dft {
namespace nsg {

// Scratch cap of one chunk: 16 GiB on architecture code 6, else 42 MiB (the
// cap of every chunked planner, plan_common.hpp).
constexpr std::uint64_t kScratchCapQuen6 = plan_common::scratch_cap_quen6;
constexpr std::uint64_t kScratchCap = plan_common::scratch_cap_default;

// Factors of N (product N); see choose_factors.
struct factors {
    std::int64_t f[4];
};

// Factor table of 75, 135 and 128, then the general search: at most four
// factors, the first three each at most 64 (256 above 2^24) unless the
// remainder has no such divisor.
factors choose_factors(std::int64_t n);

// Factors the straight-line functions do not cover: 53, 59, 61 and >= 65.
inline bool is_default_factor(std::int64_t f) { return f >= 65 || f == 53 || f == 59 || f == 61; }

// One direction's layout, in complex elements.
struct direction_layout {
    std::int64_t istride, ostride;
    std::int64_t idist[3], odist[3];  // per batch record (0 for a record that does not exist)
};

// Everything the plan depends on.
struct problem {
    std::int64_t n = 1;
    std::int64_t batch[3] = {1, 1, 1};   // transforms of batch records 1..3
    direction_layout dir[2] = {};        // forward, backward
    bool in_place = false;
    bool dbl = true;
    std::int32_t arch = 0;               // ovx_gpu_arch_t
    std::uint32_t align_bytes = 16;      // device base-address alignment in bytes
    double scale[2] = {1.0, 1.0};
};

struct plan {
    std::int64_t n;
    factors fact;
    std::int64_t P[4], Q[4];   // products of the factors before / after pass i
    int passes;                // passes with a factor above 1 (at least 1)
    std::int64_t total;        // B, the whole batch
    std::int64_t chunk;        // C, transforms per chunk
    bool grouped;              // both passes of 75 / 135 in one launch
    std::int64_t group_T;      // transforms per work-group of the grouped launch
    std::int64_t group_local_bytes;
    bool needs_scratch[2];
    std::uint64_t scratch_bytes;          // one area, aligned
    std::uint64_t scratch_workspace_bytes;
};

// The plan, or false when the problem cannot be run (batch index beyond the
// 32-bit `offset` argument).
bool make_plan(const problem& p, plan& out);

// The layout of a direction built from the node's strides and distances
// (0 input/output stride: the forward/backward-domain stride of the direction).
struct node_layout {
    std::int64_t input_stride, output_stride, fwd_stride, bwd_stride;
    int batch_records;
    std::int64_t count[3], input_distance[3], output_distance[3], fwd_distance[3], bwd_distance[3];
};
void fill_directions(const node_layout& l, bool in_place, problem& p);

// Names.
std::string kernel_name(std::int64_t n, int pass, bool dbl);
std::string function_name(std::int64_t fact);
std::string copy_kernel_name(bool dbl);

// Kernel text of the passes of one direction (appended to the stored text).
std::string entry_texts(const problem& p, const plan& pl, int dir);
// Build options of one direction.
std::string build_options(const problem& p, const plan& pl, int dir);
// Program key of one direction: the descriptive key, the batch parts, and a
// digest of the generated entries and options so that two different programs
// never share a key, whatever their length.
std::string program_key(const problem& p, const plan& pl, int dir, const std::string& entries,
                        const std::string& options);

// One launch of a chunk.
enum class area { in, out, scratch1, scratch2 };
enum class kernel_slot { pass0 = 0, pass1 = 1, pass2 = 2, pass3 = 3, copy = 4 };
struct launch {
    kernel_slot kernel;
    bool grouped;
    area reads, writes;
    std::size_t global[3];     // dims as the kernel sees them (dim 0 = get_global_id(0))
    std::size_t local[3];      // all 0: left to the runtime
    int dims;                  // 2 for the copy kernel, else 3
};
// The launches of one chunk of `count` transforms, in order.
std::vector<launch> chunk_launches(const problem& p, const plan& pl, std::int64_t count);

}  // namespace nsg
}  // namespace dft
}  // namespace ovx
}  // namespace korami

#endif
