#include "dft/gpu/1d/ovx_dft_gpu_bkd_r2c_1d_main_plan.hpp"

#include <cstdio>

namespace korami::ovx::dft::r2c_1d {

const char* slot_name(int slot) {
    static const char* names[kernel_slots] = {"r2c_kernel",      "c2r_kernel",     "fwd_input_copy",
                                              "fwd_output_copy", "bwd_input_copy", "bwd_output_copy"};
    return slot >= 0 && slot < kernel_slots ? names[slot] : "";
}

bool slot_is_forward(int slot) { return slot == r2c_kernel || slot == fwd_input_copy || slot == fwd_output_copy; }

namespace {

bool distances_fit(int64_t real_d, int64_t cplx_d, int64_t n, int64_t m, bool in_place) {
    if (in_place) return real_d >= 2 * m + 2 && cplx_d >= m + 1 && real_d == 2 * cplx_d;
    return real_d >= n && cplx_d >= m + 1;
}

}  // namespace

int check_layout(const plan_input& in) {
    const strides& s = in.s;
    if (in.in_place && (s.input != s.output || s.fwd != s.bwd)) return plan_not_applicable;
    const int64_t b = in.batch.transforms;
    // Unit strides on both sides of every built direction.
    bool unit = true;
    for (int dir = 0; dir < 2; ++dir) {
        if (in.directions != 2 && in.directions != dir) continue;
        const gpufw::side_pair st = gpufw::governing_strides(s.input, s.output, s.fwd, s.bwd, dir);
        unit = unit && st.in == 1 && st.out == 1;
    }
    if (b >= 2 && unit) {
        const int64_t n = in.n, m = n / 2;
        // Every direction that is built must fit: a direction whose rows
        // overlap would compute garbage, whatever the other direction does.
        // Forward reads the real side, backward writes it.
        if (in.directions == 0 || in.directions == 2) {
            const int64_t r = plan_common::input_distance_of(in.batch, 0);
            const int64_t c = plan_common::output_distance_of(in.batch, 0);
            if (!distances_fit(r, c, n, m, in.in_place)) return plan_not_applicable;
        }
        if (in.directions == 1 || in.directions == 2) {
            const int64_t r = plan_common::output_distance_of(in.batch, 1);
            const int64_t c = plan_common::input_distance_of(in.batch, 1);
            if (!distances_fit(r, c, n, m, in.in_place)) return plan_not_applicable;
        }
    }
    return 0;
}

int make_plan(const plan_input& in, plan& out) {
    out = plan{};
    out.single = in.single;
    out.n = in.n;
    out.s = in.s;
    out.batch = in.batch;
    out.directions = in.directions;
    if (in.n < 1) return plan_not_applicable;
    if (int st = check_layout(in)) return st;
    const bool even = in.n % 2 == 0;
    out.half = in.n / 2;
    out.sub_length = even ? out.half : in.n;
    out.transforms = in.batch.transforms;
    const uint64_t cplx = in.single ? 8 : 16;
    const uint64_t one = static_cast<uint64_t>(out.sub_length) * cplx;
    uint64_t cap = plan_common::scratch_cap_of(in.arch);
    if (in.cap_override != 0) cap = in.cap_override;
    const int64_t b = in.batch.transforms > 0 ? in.batch.transforms : 0;
    const uint64_t rows = static_cast<uint64_t>(even ? b : (b + 1) / 2);
    // The scratch holds whole rows below the cap; at or over it the chunk is
    // the rows that fit, and at least one row.
    uint64_t s;
    if (rows <= cap / one && rows * one < cap)
        s = rows * one;
    else
        s = cap > one ? cap : one;
    out.scratch_bytes = s;
    const int64_t fit = static_cast<int64_t>(s / one);
    if (even)
        out.chunk_transforms = fit;
    else
        out.chunk_transforms = b < 2 * fit ? b : 2 * fit;
    if (b == 0) out.chunk_transforms = 0;
    out.last_chunk_transforms = out.chunk_transforms > 0 ? b % out.chunk_transforms : 0;
    out.twiddle_bytes = even ? static_cast<uint64_t>(out.half) * cplx : 0;
    for (int slot = 0; slot < kernel_slots; ++slot) {
        bool build = true;
        if (in.directions == 0 && !slot_is_forward(slot)) build = false;
        if (in.directions == 1 && slot_is_forward(slot)) build = false;
        if (!even && (slot == r2c_kernel || slot == c2r_kernel)) build = false;
        if (even && (slot == fwd_output_copy || slot == bwd_input_copy)) build = false;
        out.built[slot] = build;
    }
    return 0;
}

int64_t sub_batch(const plan& p, int64_t count) { return p.n % 2 == 0 ? count : (count + 1) / 2; }

std::string kernel_name(const plan& p, int slot) {
    return std::string(slot_name(slot)) + (p.single ? "_s" : "_d");
}

std::string build_options(const plan& p, int slot) {
    const bool fwd = slot_is_forward(slot);
    // Each side's own stride (the layout rule); without input and output
    // strides and with a domain stride below 1, none.
    const gpufw::side_pair st = gpufw::governing_strides(p.s.input, p.s.output, p.s.fwd, p.s.bwd, fwd ? 0 : 1);
    int64_t is = st.in, os = st.out;
    if (p.s.input == 0 && p.s.output == 0 && (p.s.fwd < 1 || p.s.bwd < 1)) is = os = 0;
    // The real side's distance (forward input, backward output) and the
    // complex side's.
    const int dir = fwd ? 0 : 1;
    const int64_t fwd_d = fwd ? plan_common::input_distance_of(p.batch, dir) : plan_common::output_distance_of(p.batch, dir);
    const int64_t bwd_d = fwd ? plan_common::output_distance_of(p.batch, dir) : plan_common::input_distance_of(p.batch, dir);
    char buf[512] = {0};
    int n = std::snprintf(buf, sizeof buf,
                          "%s%s-DIS=%lld -DOS=%lld -DFWD_D=%lld -DBWD_D=%lld -DTD=%lld -DNUM_PTS=%lld -DN_IS_EVEN=%lld ",
                          fwd ? "-DFWD " : "", fwd ? "" : "-DBWD ", static_cast<long long>(is),
                          static_cast<long long>(os), static_cast<long long>(fwd_d), static_cast<long long>(bwd_d),
                          static_cast<long long>(p.sub_length), static_cast<long long>(p.n),
                          static_cast<long long>(p.n % 2 == 0 ? 1 : 0));
    if (n < 0 || static_cast<size_t>(n) >= sizeof buf) return {};
    if (p.n % 2 != 0 && p.transforms > 0 && p.transforms % 2 != 0) {
        int k = std::snprintf(buf + n, sizeof buf - static_cast<size_t>(n), "-DODDBATCH_SZ=%lld ",
                              static_cast<long long>(p.transforms));
        if (k < 0 || static_cast<size_t>(k) >= sizeof buf - static_cast<size_t>(n)) return {};
    }
    return buf;
}

void launch_range(const plan& p, int slot, int64_t count, int64_t range[2]) {
    const bool even = p.n % 2 == 0;
    const int64_t pairs = (count + 1) / 2;
    switch (slot) {
        case r2c_kernel:
        case c2r_kernel:
            range[0] = p.half;
            range[1] = count;
            break;
        case fwd_input_copy:
        case bwd_output_copy:
            range[0] = p.n;
            range[1] = even ? count : pairs;
            break;
        default:
            range[0] = p.half + 1;
            range[1] = pairs;
            break;
    }
}

}  // namespace korami::ovx::dft::r2c_1d
