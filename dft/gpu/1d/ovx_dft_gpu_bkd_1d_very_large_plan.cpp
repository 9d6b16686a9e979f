#include "dft/gpu/1d/ovx_dft_gpu_bkd_1d_very_large_plan.hpp"

#include "dft/gpu/frame/layout.hpp"

namespace korami::ovx::dft::very_large {

bool plan_of_complex_length(int64_t nc, factors& f) {
    switch (nc) {
        case 33554432LL: f = {512, 256, 256, 8}; return true;
        case 67108864LL: f = {512, 512, 256, 8}; return true;
        case 134217728LL: f = {1024, 512, 256, 8}; return true;
        case 134400000LL: f = {512, 525, 500, 0}; return true;
        default: return false;
    }
}

bool uses_io_distances(const record& r) {
    return gpufw::io_distances(r.input_distance, r.output_distance, r.fwd_distance, r.bwd_distance);
}

int commit_test(const shape& s) {
    if (s.real) {
        if (s.real_storage != 42 || s.conjugate_even_storage != 39) return plan_not_applicable;
    } else if (s.complex_storage != 39) {
        return plan_not_applicable;
    }
    if (s.dims != 1 || s.batches != 1) return plan_not_applicable;
    const gpufw::side_pair st = gpufw::governing_strides(s.input_stride, s.output_stride, s.fwd_stride, s.bwd_stride, 0);
    if (st.in != 1 || st.out != 1) return plan_not_applicable;
    if (s.input_offset || s.output_offset || s.fwd_offset || s.bwd_offset) return plan_not_applicable;
    const int64_t N = s.n;
    if (s.real && N % 4 != 0) return plan_not_applicable;
    factors f;
    if (!plan_of_complex_length(s.real ? N / 2 : N, f)) return plan_not_applicable;
    const record& r = s.batch;
    if (r.count >= 2) {
        if (!s.real) {
            if (r.fwd_distance != 0 && r.bwd_distance != 0) {
                if (r.fwd_distance < N || r.bwd_distance < N) return plan_not_applicable;
            } else if (r.input_distance < N || r.output_distance < N) {
                return plan_not_applicable;
            }
        } else if (r.fwd_distance != 0 && r.bwd_distance != 0) {
            if (r.fwd_distance < N || (r.fwd_distance & 1) || r.bwd_distance < N / 2 + 1) return plan_not_applicable;
        } else {
            const int64_t I = r.input_distance, O = r.output_distance;
            if (I >= N) {
                if (!(O >= N / 2 + 1 && (I & 1) == 0 && (O < N || (O & 1) == 0))) return plan_not_applicable;
            } else {
                if (!(O >= N && I >= N / 2 + 1 && (O & 1) == 0)) return plan_not_applicable;
            }
        }
    }
    return 0;
}

namespace {
gpufw::side_pair distances_of(const record& r, int dir) {
    return gpufw::governing_distances(r.input_distance, r.output_distance, r.fwd_distance, r.bwd_distance, dir);
}
}  // namespace

int64_t compute_output_distance(const record& r, bool real, int dir) {
    int64_t d = distances_of(r, dir).out;
    if (real && dir == 1) d /= 2;
    return d;
}

int64_t compute_input_distance(const record& r, bool real, int dir) {
    int64_t d = distances_of(r, dir).in;
    if (real && dir == 0) d /= 2;
    return d;
}

int64_t stage2_output_distance(const record& r, bool real, int dir) {
    const int64_t d = distances_of(r, dir).out;
    return real && dir == 1 ? d / 2 : d;
}

stage_shape stage_of(const factors& f, int stage, bool odd_output) {
    stage_shape s;
    const int64_t n0 = f.n0, n1 = f.n1, n2 = f.n2, row = f.n0 + f.pad;
    if (stage == 0) {
        s.length = n0;
        s.in_place = false;
        s.input_stride = n1 * n2;
        s.output_stride = 1;
        s.batch[0] = {n1, 1, row, 0, 0};
        s.batch[1] = {n2, n1, row * n1, 0, 0};
        s.colbatch_group_count = n1 * n2;
    } else if (stage == 1) {
        s.length = n1;
        s.in_place = true;
        s.input_stride = row * n2;
        s.output_stride = row * n2;
        s.batch[0] = {n0, 1, 1, 0, 0};
        s.batch[1] = {n2, row, row, 0, 0};
        s.colbatch_group_count = n2;
    } else {
        s.length = n2;
        s.in_place = false;
        s.input_stride = row;
        s.output_stride = n0 * n1;
        s.batch[0] = {n0, 1, 1, 0, 0};
        s.batch[1] = {n1, row * n2, n0, 0, 0};
        s.colbatch_group_count = 0;
        s.output_offset = odd_output ? 1 : 0;
    }
    return s;
}

uint64_t scratch_bytes(const factors& f) {
    return static_cast<uint64_t>((f.n0 + f.pad) * f.n1 * f.n2) * 8u;
}

}  // namespace korami::ovx::dft::very_large
