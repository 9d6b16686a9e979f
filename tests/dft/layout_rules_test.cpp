// Layout rules that both routes share, checked through the public API against
// FFTW's guru interface on whole arrays: a complex transform in place given
// only one side of the input/output stride pair (as an FFTW-style in-place
// plan is), lengths of 1 that lower a transform's rank, and interleaved
// outputs that do not meet. Every element outside the layout a transform
// writes must keep its value, and an out-of-place input must stay as it was.
#include <gtest/gtest.h>
#include <sycl/sycl.hpp>

#include <ovxplat/sycl_standin.hpp>

#include <fftw3.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "dft/gpu/backends.hpp"
#include "dft/gpu/gpu_test_reference.hpp"
#include "dft/ovx_dft_internal.hpp"
#include "korami/ovx/dft.hpp"
#include "ovx_test_gpu.hpp"
#include "worst_error.hpp"

namespace {

namespace dft = korami::ovx::dft;
using dft::config_param;
using vec = std::vector<std::int64_t>;

// One side of a direction: strides in API form (offset first, outermost
// first) and the distance, in elements of that side.
struct side_spec {
    vec strides;
    std::int64_t dist = 0;
};

struct rule_case {
    const char* name;
    bool real = false, single = true;
    vec n;  // API order
    std::int64_t batch = 1;
    bool in_place = true;
    // What the caller sets (empty: left alone).
    vec input_strides, output_strides, fwd_strides, bwd_strides;
    std::int64_t fwd_dist = 0, bwd_dist = 0;
    // The layout each direction must use.
    side_spec fwd_in, fwd_out, bwd_in, bwd_out;
    // A part of the owning record's name on a GPU queue, or "" to skip the check.
    const char* gpu_owner = "";
    const char* gpu_owner_quen6 = nullptr;  // the part on quen6 when it differs
    // On a GPU queue, the rank that lengths of 1 leave: the node is offered to
    // the candidate list of that rank, whose record owns it (0: no check).
    int working_rank = 0;
    // On a GPU queue the backward direction may be one that no backend
    // prepares: its compute must then say so and change nothing.
    bool gpu_bwd_may_be_refused = false;
};
void PrintTo(const rule_case& c, std::ostream* os) { *os << c.name; }

// Element offsets of a side, in elements of that side.
std::vector<std::int64_t> offsets(const vec& len_api, const side_spec& s, std::int64_t batch) {
    std::vector<std::int64_t> o{s.strides[0]};
    for (std::size_t i = 0; i < len_api.size(); ++i) {
        std::vector<std::int64_t> next;
        for (std::int64_t v : o)
            for (std::int64_t k = 0; k < len_api[i]; ++k) next.push_back(v + k * s.strides[i + 1]);
        o.swap(next);
    }
    std::vector<std::int64_t> all;
    for (std::int64_t t = 0; t < batch; ++t)
        for (std::int64_t v : o) all.push_back(v + t * s.dist);
    return all;
}

// Lengths of a side in API order: the complex side of a real transform
// stores n/2 + 1 values along the innermost dimension.
vec side_lengths(const rule_case& c, bool complex_side) {
    vec l = c.n;
    if (c.real && complex_side) l.back() = l.back() / 2 + 1;
    return l;
}

// Scalars a side reaches, counted in real scalars.
std::size_t scalars_of(const rule_case& c, const side_spec& s, bool complex_side) {
    const auto o = offsets(side_lengths(c, complex_side), s, c.batch);
    const int w = complex_side || !c.real ? 2 : 1;
    return static_cast<std::size_t>((*std::max_element(o.begin(), o.end()) + 1) * w);
}

// FFTW over the layouts: reads `in` (real scalars) and writes the output
// layout of `out`, everything else of `out` untouched.
void reference(const rule_case& c, bool fwd, const side_spec& si, const side_spec& so, const std::vector<double>& in,
               std::vector<double>& out) {
    const int r = static_cast<int>(c.n.size());
    std::vector<fftw_iodim> d(r);
    for (int i = 0; i < r; ++i)
        d[i] = {static_cast<int>(c.n[i]), static_cast<int>(si.strides[i + 1]), static_cast<int>(so.strides[i + 1])};
    fftw_iodim how{static_cast<int>(c.batch), static_cast<int>(si.dist), static_cast<int>(so.dist)};
    std::vector<double> a = in;
    const int wi = c.real && fwd ? 1 : 2, wo = c.real && !fwd ? 1 : 2;
    double* pi = a.data() + si.strides[0] * wi;
    double* po = out.data() + so.strides[0] * wo;
    fftw_plan p;
    if (!c.real)
        p = fftw_plan_guru_dft(r, d.data(), 1, &how, reinterpret_cast<fftw_complex*>(pi),
                               reinterpret_cast<fftw_complex*>(po), fwd ? FFTW_FORWARD : FFTW_BACKWARD, FFTW_ESTIMATE);
    else if (fwd)
        p = fftw_plan_guru_dft_r2c(r, d.data(), 1, &how, pi, reinterpret_cast<fftw_complex*>(po), FFTW_ESTIMATE);
    else
        p = fftw_plan_guru_dft_c2r(r, d.data(), 1, &how, reinterpret_cast<fftw_complex*>(pi), po, FFTW_ESTIMATE);
    ASSERT_NE(p, nullptr);
    fftw_execute(p);
    fftw_destroy_plan(p);
}

template <class T, class D>
void run_direction(const rule_case& c, D& desc, sycl::queue& q, bool fwd) {
    const side_spec& si = fwd ? c.fwd_in : c.bwd_in;
    const side_spec& so = fwd ? c.fwd_out : c.bwd_out;
    const bool in_cplx = !c.real || !fwd, out_cplx = !c.real || fwd;
    const std::size_t ni = scalars_of(c, si, in_cplx), no = scalars_of(c, so, out_cplx);
    const std::size_t na = c.in_place ? std::max(ni, no) : ni;
    std::vector<double> in = gpu_test::random_real(na, 7u), out = gpu_test::random_real(c.in_place ? na : no, 9u);
    if (c.in_place) out = in;
    // The complex input of a real backward transform must be conjugate-even
    // along its first and (even n) last innermost value for FFTW and the
    // library to agree: their imaginary parts are cleared.
    if (c.real && !fwd) {
        const std::int64_t n0 = c.n.back(), h = n0 / 2 + 1, s0 = si.strides.back();
        vec rows = side_lengths(c, true);
        rows.back() = 1;
        for (std::int64_t o : offsets(rows, si, c.batch)) {
            in[2 * o + 1] = 0;
            if (n0 % 2 == 0) in[2 * (o + (h - 1) * s0) + 1] = 0;
        }
        if (c.in_place) out = in;
    }
    std::vector<double> ref = out;
    reference(c, fwd, si, so, in, ref);

    std::vector<T> a(in.begin(), in.end()), b(out.begin(), out.end());
    T* ua = sycl::malloc_shared<T>(a.size(), q);
    T* ub = c.in_place ? ua : sycl::malloc_shared<T>(b.size(), q);
    std::copy(a.begin(), a.end(), ua);
    if (!c.in_place) std::copy(b.begin(), b.end(), ub);
    sycl::event e = c.in_place ? (fwd ? dft::compute_forward(desc, ua) : dft::compute_backward(desc, ua))
                               : (fwd ? dft::compute_forward(desc, ua, ub) : dft::compute_backward(desc, ua, ub));
    e.wait_and_throw();
    std::vector<double> got(ub, ub + ref.size()), kept(ua, ua + a.size());
    sycl::free(ua, q);
    if (!c.in_place) sycl::free(ub, q);

    // Where the output layout lies, in scalars.
    std::vector<char> written(ref.size(), 0), read(ref.size(), 0);
    const int wo = out_cplx ? 2 : 1, wi = in_cplx ? 2 : 1;
    for (std::int64_t o : offsets(side_lengths(c, out_cplx), so, c.batch))
        for (int j = 0; j < wo; ++j) written[wo * o + j] = 1;
    if (c.in_place)
        for (std::int64_t o : offsets(side_lengths(c, in_cplx), si, c.batch))
            for (int j = 0; j < wi; ++j) read[wi * o + j] = 1;
    double err = 0, mag = 1e-300;
    std::size_t outside = 0;
    for (std::size_t k = 0; k < ref.size(); ++k) {
        if (written[k]) {
            err = ovx_test::worse(err, std::abs(got[k] - ref[k]));
            mag = std::max(mag, std::abs(ref[k]));
        } else if (!read[k] || !c.real) {
            // A complex transform in place reads and writes one layout, so
            // nothing else of its array may change; a real one may leave
            // its input side as it likes.
            outside += got[k] != static_cast<double>(static_cast<T>(out[k]));
        }
    }
    std::int64_t points = 1;
    for (auto x : c.n) points *= x;
    EXPECT_LT(err / mag, gpu_test::tolerance(c.single, points)) << (fwd ? "forward" : "backward");
    EXPECT_EQ(outside, 0u) << (fwd ? "forward" : "backward") << ": elements outside the layout changed";
    if (!c.in_place) {
        std::size_t changed = 0;
        for (std::size_t k = 0; k < a.size(); ++k) changed += kept[k] != a[k];
        EXPECT_EQ(changed, 0u) << "the input of an out-of-place transform changed";
    }
}

template <class T, class D>
void run_case(const rule_case& c, const std::string& route) {
    std::optional<ovxplat::scoped_gpu_profile> prof;
    if (route != "cpu") {
        OVX_REQUIRE_OPENCL();
        prof.emplace(route.c_str());
        ASSERT_TRUE(prof->ok()) << route;
    }
    sycl::queue q = route == "cpu" ? sycl::queue{sycl::cpu_selector_v} : sycl::queue{sycl::gpu_selector_v};
    D desc(c.n);
    desc.set_value(config_param::NUMBER_OF_TRANSFORMS, c.batch);
    desc.set_value(config_param::PLACEMENT, c.in_place ? dft::config_value::INPLACE : dft::config_value::NOT_INPLACE);
    if (!c.fwd_strides.empty()) desc.set_value(config_param::FWD_STRIDES, c.fwd_strides);
    if (!c.bwd_strides.empty()) desc.set_value(config_param::BWD_STRIDES, c.bwd_strides);
    if (!c.input_strides.empty()) desc.set_value(config_param::INPUT_STRIDES, c.input_strides);
    if (!c.output_strides.empty()) desc.set_value(config_param::OUTPUT_STRIDES, c.output_strides);
    if (c.fwd_dist) desc.set_value(config_param::FWD_DISTANCE, c.fwd_dist);
    if (c.bwd_dist) desc.set_value(config_param::BWD_DISTANCE, c.bwd_dist);
    desc.commit(q);
    const char* gpu_owner = route == "quen6" && c.gpu_owner_quen6 ? c.gpu_owner_quen6 : c.gpu_owner;
    if (route != "cpu" && *gpu_owner) {
        const std::string owner = bkd_name(dft::detail::descriptor_node(desc)->bkd);
        EXPECT_NE(owner.find(std::string(gpu_owner) + (c.single ? "_s_ops" : "_d_ops")), std::string::npos) << owner;
    }
    if (route != "cpu" && c.working_rank) {
        const DFTI_DESCRIPTOR* node = dft::detail::descriptor_node(desc);
        EXPECT_EQ(node->working_rank, c.working_rank);
        const bkdlist list = gpu_dfti_select_bkdlist(node->precision, node->forward_domain, c.working_rank);
        EXPECT_EQ(node->bkdlist, list);
        bool listed = false;
        for (bkdlist l = list; *l; ++l) listed = listed || *l == node->bkd;
        EXPECT_TRUE(listed) << bkd_name(node->bkd);
    }
    run_direction<T>(c, desc, q, true);
    if (c.bwd_in.strides.empty()) return;
    if (route != "cpu" && c.gpu_bwd_may_be_refused) {
        std::vector<T> data(4096, T(3));
        T* u = sycl::malloc_shared<T>(data.size(), q);
        std::copy(data.begin(), data.end(), u);
        std::string msg;
        try {
            dft::compute_backward(desc, u).wait();
        } catch (const korami::ovx::unimplemented& e) {
            msg = e.what();
        }
        const bool unchanged = std::equal(data.begin(), data.end(), u);
        sycl::free(u, q);
        if (!msg.empty()) {
            EXPECT_NE(msg.find("committed for forward transforms only"), std::string::npos) << msg;
            EXPECT_TRUE(unchanged) << "a refused compute changed the data";
            return;
        }
    }
    run_direction<T>(c, desc, q, false);
}

class LayoutRules : public ::testing::TestWithParam<std::tuple<std::string, rule_case>> {};

TEST_P(LayoutRules, ResultsMatchFftwAndNothingOutsideTheLayoutChanges) {
    const std::string route = std::get<0>(GetParam());
    const rule_case& c = std::get<1>(GetParam());
    using P = dft::precision;
    using Dm = dft::domain;
    if (c.real && c.single) run_case<float, dft::descriptor<P::SINGLE, Dm::REAL>>(c, route);
    else if (c.real) run_case<double, dft::descriptor<P::DOUBLE, Dm::REAL>>(c, route);
    else if (c.single) run_case<float, dft::descriptor<P::SINGLE, Dm::COMPLEX>>(c, route);
    else run_case<double, dft::descriptor<P::DOUBLE, Dm::COMPLEX>>(c, route);
}

rule_case complex_case(const char* name, vec n, bool single = true) {
    rule_case c;
    c.name = name;
    c.n = std::move(n);
    c.single = single;
    return c;
}

// Complex in place with INPUT_STRIDES only: rows of 4 padded to 5, planes of 20.
rule_case padded_rows_input_only(bool single) {
    rule_case c = complex_case(single ? "InPlaceInputStridesOnlyPaddedRowsSingle" : "InPlaceInputStridesOnlyPaddedRowsDouble",
                               {4, 4, 4}, single);
    c.input_strides = {0, 20, 5, 1};
    c.fwd_in = c.fwd_out = c.bwd_in = c.bwd_out = {{0, 20, 5, 1}, 0};
    c.gpu_owner = "c2c_3d_main";
    return c;
}

// The same layout given as OUTPUT_STRIDES only.
rule_case padded_rows_output_only() {
    rule_case c = complex_case("InPlaceOutputStridesOnlyPaddedRows", {4, 4, 4});
    c.output_strides = {0, 20, 5, 1};
    c.fwd_in = c.fwd_out = c.bwd_in = c.bwd_out = {{0, 20, 5, 1}, 0};
    c.gpu_owner = "c2c_3d_main";
    return c;
}

// An FFTW-style in-place plan of two interleaved transforms: element stride
// 2, distance 1, INPUT_STRIDES only and both distances.
rule_case interleaved_input_only() {
    rule_case c = complex_case("InPlaceInputStridesOnlyTwoInterleavedTransforms", {32});
    c.batch = 2;
    c.input_strides = {0, 2};
    c.fwd_dist = c.bwd_dist = 1;
    c.fwd_in = c.fwd_out = c.bwd_in = c.bwd_out = {{0, 2}, 1};
    return c;
}

// One transform of stride 2, INPUT_STRIDES only: the odd elements stay.
rule_case every_other_input_only() {
    rule_case c = complex_case("InPlaceInputStridesOnlyEveryOtherElement", {32});
    c.input_strides = {0, 2};
    c.fwd_in = c.fwd_out = c.bwd_in = c.bwd_out = {{0, 2}, 0};
    return c;
}

// Real in place given INPUT_STRIDES only: the forward transform reads the
// real rows at the given pitch and writes the default complex layout; the
// backward transform reads the complex side through the same INPUT_STRIDES
// and writes the default real layout.
rule_case real_in_place_input_only() {
    rule_case c;
    c.name = "RealInPlaceInputStridesOnly";
    c.real = true;
    c.n = {4, 6};
    c.input_strides = {0, 8, 1};
    c.fwd_in = {{0, 8, 1}, 0};
    c.fwd_out = {{0, 4, 1}, 0};
    c.bwd_in = {{0, 8, 1}, 0};
    c.bwd_out = {{0, 8, 1}, 0};
    // In one array the complex rows (16 reals apart) and the real rows (8
    // apart) of the backward transform cross: the GPU backends refuse it.
    c.gpu_bwd_may_be_refused = true;
    return c;
}

// Lengths of 1 lower the rank: {1, 1, 64} is a 1D transform, {4, 1, 8} real a 2D one.
rule_case unit_outer_lengths() {
    rule_case c = complex_case("UnitOuterLengthsRunAsOneDimensional", {1, 1, 64});
    c.fwd_in = c.fwd_out = c.bwd_in = c.bwd_out = {{0, 64, 64, 1}, 0};
    c.working_rank = 1;  // whichever 1D backend the profile offers for 64 points
    return c;
}
rule_case unit_middle_length_real() {
    rule_case c;
    c.name = "RealUnitMiddleLengthRunsAsTwoDimensional";
    c.real = true;
    c.single = false;
    c.n = {4, 1, 8};
    c.in_place = false;
    c.fwd_in = {{0, 8, 8, 1}, 0};
    c.fwd_out = {{0, 5, 5, 1}, 0};
    c.bwd_in = c.fwd_out;
    c.bwd_out = c.fwd_in;
    c.gpu_owner = "r2c_2d_main";
    c.gpu_owner_quen6 = "small_md_slm";  // one launch for the 4 x 8 real transform
    c.working_rank = 2;
    return c;
}
rule_case unit_outer_length_real() {
    rule_case c;
    c.name = "RealUnitOuterLengthRunsAsOneDimensional";
    c.real = true;
    c.n = {1, 64};
    c.in_place = false;
    c.fwd_in = {{0, 64, 1}, 0};
    c.fwd_out = {{0, 33, 1}, 0};
    c.bwd_in = c.fwd_out;
    c.bwd_out = c.fwd_in;
    c.gpu_owner = "r2c_1d_main";
    c.gpu_owner_quen6 = "small_md_slm";
    c.working_rank = 1;
    return c;
}

// Interleaved outputs that never meet: 3 points at stride 2, two transforms 3 apart.
rule_case interleaved_disjoint_outputs() {
    rule_case c = complex_case("InterleavedOutputsThatDoNotMeet", {3});
    c.batch = 2;
    c.in_place = false;
    c.fwd_strides = c.bwd_strides = {0, 2};
    c.fwd_dist = c.bwd_dist = 3;
    c.fwd_in = c.fwd_out = c.bwd_in = c.bwd_out = {{0, 2}, 3};
    return c;
}

const rule_case kCases[] = {padded_rows_input_only(true), padded_rows_input_only(false), padded_rows_output_only(),
                            interleaved_input_only(),     every_other_input_only(),      real_in_place_input_only(),
                            unit_outer_lengths(),         unit_middle_length_real(),     unit_outer_length_real(),
                            interleaved_disjoint_outputs()};

INSTANTIATE_TEST_SUITE_P(BothRoutes, LayoutRules,
                         ::testing::Combine(::testing::Values("cpu", "quen5", "quen6"), ::testing::ValuesIn(kCases)),
                         [](const auto& info) {
                             return std::get<0>(info.param) + "_" + std::get<1>(info.param).name;
                         });

}  // namespace
