// Planning of the 1D real backend: chunking, even and odd plans, the
// kernels of each direction, layout refusals and the exact build options,
// checked without a device.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "dft/gpu/1d/ovx_dft_gpu_bkd_r2c_1d_main_plan.hpp"
#include "ovx_test_env.hpp"

namespace rc = korami::ovx::dft::r2c_1d;

static rc::plan_input real_in(int64_t n, bool single, int64_t batch, bool in_place) {
    rc::plan_input in;
    in.n = n;
    in.single = single;
    in.arch = 5;
    in.in_place = in_place;
    in.s = {0, 0, 1, 1};
    const int64_t c = n / 2 + 1;
    in.batch = {batch, in_place ? 2 * c : n, c, 0, 0};
    return in;
}

TEST(FactorsReal, ChunkingExample) {
    rc::plan p;
    ASSERT_EQ(rc::make_plan(real_in(1048576, false, 12, false), p), 0);
    EXPECT_EQ(p.sub_length, 524288);
    EXPECT_EQ(p.scratch_bytes, 44040192u);
    EXPECT_EQ(p.chunk_transforms, 5);
    EXPECT_EQ(p.last_chunk_transforms, 2);
    EXPECT_EQ(p.twiddle_bytes, 524288u * 16);
}

TEST(FactorsReal, EvenAndOddPlans) {
    rc::plan p;
    ASSERT_EQ(rc::make_plan(real_in(1000, false, 3, false), p), 0);
    EXPECT_EQ(p.sub_length, 500);
    EXPECT_EQ(p.chunk_transforms, 3);
    EXPECT_EQ(p.last_chunk_transforms, 0);
    EXPECT_EQ(p.scratch_bytes, 3u * 500 * 16);
    EXPECT_TRUE(p.built[rc::r2c_kernel] && p.built[rc::c2r_kernel] && p.built[rc::fwd_input_copy] &&
                p.built[rc::bwd_output_copy]);
    EXPECT_FALSE(p.built[rc::fwd_output_copy] || p.built[rc::bwd_input_copy]);
    ASSERT_EQ(rc::make_plan(real_in(999, true, 5, false), p), 0);
    EXPECT_EQ(p.sub_length, 999);
    EXPECT_EQ(p.chunk_transforms, 5);
    EXPECT_EQ(p.scratch_bytes, 3u * 999 * 8);  // 5 transforms -> 3 rows
    EXPECT_EQ(rc::sub_batch(p, 5), 3);
    EXPECT_EQ(p.twiddle_bytes, 0u);
    EXPECT_FALSE(p.built[rc::r2c_kernel] || p.built[rc::c2r_kernel]);
    EXPECT_TRUE(p.built[rc::fwd_output_copy] && p.built[rc::bwd_input_copy]);
}

TEST(FactorsReal, OddChunkCapped) {
    rc::plan_input in = real_in(999, false, 9, false);
    in.cap_override = 2 * 999 * 16;  // two rows: four transforms per chunk
    rc::plan p;
    ASSERT_EQ(rc::make_plan(in, p), 0);
    EXPECT_EQ(p.chunk_transforms, 4);
    EXPECT_EQ(p.last_chunk_transforms, 1);
    int64_t r[2];
    rc::launch_range(p, rc::fwd_output_copy, 1, r);
    EXPECT_EQ(r[0], 500);
    EXPECT_EQ(r[1], 1);
    rc::launch_range(p, rc::fwd_input_copy, 4, r);
    EXPECT_EQ(r[0], 999);
    EXPECT_EQ(r[1], 2);
}

TEST(FactorsReal, DirectionsSelectKernels) {
    rc::plan p;
    rc::plan_input in = real_in(1000, false, 1, false);
    in.directions = 0;
    ASSERT_EQ(rc::make_plan(in, p), 0);
    EXPECT_TRUE(p.built[rc::r2c_kernel] && p.built[rc::fwd_input_copy]);
    EXPECT_FALSE(p.built[rc::c2r_kernel] || p.built[rc::bwd_output_copy]);
    EXPECT_EQ(p.twiddle_bytes, 500u * 16);
    in.directions = 1;
    ASSERT_EQ(rc::make_plan(in, p), 0);
    EXPECT_FALSE(p.built[rc::r2c_kernel] || p.built[rc::fwd_input_copy]);
    EXPECT_TRUE(p.built[rc::c2r_kernel] && p.built[rc::bwd_output_copy]);
}

TEST(FactorsReal, LayoutRefusals) {
    rc::plan p;
    // In place: real distance must be twice the complex distance.
    rc::plan_input in = real_in(1000, false, 2, true);
    EXPECT_EQ(rc::make_plan(in, p), 0);
    in.batch.fwd_distance = 1004;
    EXPECT_EQ(rc::make_plan(in, p), 100);
    // A batch of one checks no distance.
    in.batch.transforms = 1;
    EXPECT_EQ(rc::make_plan(in, p), 0);
    // In place with different strides.
    in = real_in(1000, false, 1, true);
    in.s = {1, 2, 0, 0};
    EXPECT_EQ(rc::make_plan(in, p), 100);
    // Out of place: real distance at least N, complex at least M + 1.
    in = real_in(1000, false, 2, false);
    in.batch.bwd_distance = 500;
    EXPECT_EQ(rc::make_plan(in, p), 100);
    // Non-unit strides check no distance.
    in.s = {0, 0, 2, 2};
    EXPECT_EQ(rc::make_plan(in, p), 0);
    // Input/output distances: forward reads real input_distance, backward reads complex input.
    in = real_in(1000, false, 2, false);
    in.batch = {2, 0, 0, 1000, 501};
    in.directions = 0;
    EXPECT_EQ(rc::make_plan(in, p), 0);
    in.directions = 1;  // real = output 501 < N
    EXPECT_EQ(rc::make_plan(in, p), 100);
    in.directions = 2;  // the forward check passes, the backward one does not: refused
    EXPECT_EQ(rc::make_plan(in, p), 100);
    in.batch = {2, 0, 0, 1000, 1000};  // both directions fit
    EXPECT_EQ(rc::make_plan(in, p), 0);
}

TEST(FactorsReal, OptionsExact) {
    rc::plan p;
    rc::plan_input in = real_in(999, true, 5, false);
    ASSERT_EQ(rc::make_plan(in, p), 0);
    EXPECT_EQ(rc::kernel_name(p, rc::bwd_input_copy), "bwd_input_copy_s");
    EXPECT_EQ(rc::build_options(p, rc::fwd_input_copy),
              "-DFWD -DIS=1 -DOS=1 -DFWD_D=999 -DBWD_D=500 -DTD=999 -DNUM_PTS=999 -DN_IS_EVEN=0 -DODDBATCH_SZ=5 ");
    EXPECT_EQ(rc::build_options(p, rc::bwd_output_copy),
              "-DBWD -DIS=1 -DOS=1 -DFWD_D=999 -DBWD_D=500 -DTD=999 -DNUM_PTS=999 -DN_IS_EVEN=0 -DODDBATCH_SZ=5 ");
    in = real_in(1000, false, 2, true);
    in.s = {1, 1, 0, 0};
    in.batch = {2, 0, 0, 501, 1002};  // backward only: complex input, real output
    in.directions = 1;
    ASSERT_EQ(rc::make_plan(in, p), 0);
    EXPECT_EQ(rc::build_options(p, rc::c2r_kernel),
              "-DBWD -DIS=1 -DOS=1 -DFWD_D=1002 -DBWD_D=501 -DTD=500 -DNUM_PTS=1000 -DN_IS_EVEN=1 ");
    // No input/output strides and forward stride below 1: both strides 0.
    in.s = {0, 0, 0, 0};
    in.batch.transforms = 1;
    ASSERT_EQ(rc::make_plan(in, p), 0);
    EXPECT_EQ(rc::build_options(p, rc::r2c_kernel).find("-DIS=0 -DOS=0 "), 6u);
}
