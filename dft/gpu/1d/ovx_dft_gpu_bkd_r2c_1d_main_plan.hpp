// Planning of the 1D real backend: applicability, chunking of the batch over
// the complex sub-transform, kernel selection and build options.
#ifndef OVX_DFT_GPU_BKD_R2C_1D_MAIN_PLAN_HPP
#define OVX_DFT_GPU_BKD_R2C_1D_MAIN_PLAN_HPP

#include <cstdint>
#include <string>

#include "dft/gpu/frame/plan_common.hpp"

namespace korami::ovx::dft::r2c_1d {

using plan_common::batch_info;

struct strides {
    int64_t input = 0, output = 0, fwd = 1, bwd = 1;
};

using plan_common::use_io_distances;


enum kernel_slot { r2c_kernel = 0, c2r_kernel, fwd_input_copy, fwd_output_copy, bwd_input_copy, bwd_output_copy };
constexpr int kernel_slots = 6;
// Kernel base names without the precision suffix.
const char* slot_name(int slot);
bool slot_is_forward(int slot);

struct plan_input : plan_common::plan_input_base {
    bool in_place = false;
    strides s;
    uint64_t cap_override = 0;  // tests: a smaller scratch cap (0: the device's)
};

struct plan {
    bool single = false;
    int64_t n = 0, half = 0, sub_length = 0;
    int64_t transforms = 0, chunk_transforms = 0, last_chunk_transforms = 0;
    uint64_t scratch_bytes = 0, twiddle_bytes = 0;  // before alignment
    int directions = 2;
    strides s;
    batch_info batch;
    bool built[kernel_slots] = {};
};

// Refusals of planning that come before chunking (in-place strides, distances).
int check_layout(const plan_input& in);
int make_plan(const plan_input& in, plan& out);

// Sub-transform batch of a chunk of `count` real transforms.
int64_t sub_batch(const plan& p, int64_t count);
// Name "<slot>_d" / "<slot>_s".
std::string kernel_name(const plan& p, int slot);
std::string build_options(const plan& p, int slot);
// Global range (points, rows) of a slot's launch for a chunk of `count` transforms.
void launch_range(const plan& p, int slot, int64_t count, int64_t range[2]);

}  // namespace korami::ovx::dft::r2c_1d

#endif
