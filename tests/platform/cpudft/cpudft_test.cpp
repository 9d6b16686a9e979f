// The CPU transform library on its own: nodes made and committed by it and
// computed through their compute entries, against the long-double reference.
// Tolerances: single 3e-6 * log2(N) + 1e-6, double 1e-14 * log2(N) + 1e-14,
// relative to the largest reference value.
#include <gtest/gtest.h>

#include <ovxplat/cpudft.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "dft/dft_reference.hpp"
#include "dft/node/ovx_dft_node.hpp"

using namespace dft_test;

namespace {

struct node_ptr {
    DFTI_DESCRIPTOR* n = nullptr;
    ~node_ptr() {
        if (n) n->methods->destroy(n);
    }
};

int create(DFTI_DESCRIPTOR** h, bool dbl, bool real, const std::vector<std::int64_t>& node_order) {
    const std::int64_t r = static_cast<std::int64_t>(node_order.size());
    if (r == 1) {
        if (dbl) return real ? ovx_dft_dfti_create_dr1d(h, node_order[0]) : ovx_dft_dfti_create_dc1d(h, node_order[0]);
        return real ? ovx_dft_dfti_create_sr1d(h, node_order[0]) : ovx_dft_dfti_create_sc1d(h, node_order[0]);
    }
    if (dbl) return real ? ovx_dft_dfti_create_drmd(h, r, node_order.data()) : ovx_dft_dfti_create_dcmd(h, r, node_order.data());
    return real ? ovx_dft_dfti_create_srmd(h, r, node_order.data()) : ovx_dft_dfti_create_scmd(h, r, node_order.data());
}

// Node-level case: lengths in user order (outermost first), contiguous
// layouts, a list of batch records {count, distance-in-transforms-of-data}
// expressed as multiples of the transform's extent, optional offsets.
struct node_case {
    const char* name;
    bool dbl, real;
    std::vector<std::int64_t> n;
    std::vector<std::int64_t> batch_counts;  // batch records, innermost first; distances contiguous
    bool in_place;
    int direction;
    std::int64_t in_offset, out_offset;
    double scale;
};

template <typename T>
void run(const node_case& c) {
    const std::size_t r = c.n.size();
    const std::int64_t last = c.n[r - 1];
    std::vector<std::int64_t> m_f = c.n, m_b = c.n;
    if (c.real) m_b[r - 1] = last / 2 + 1;
    layout lf = contiguous(m_f, c.real && c.in_place ? 2 * (last / 2 + 1) : last);
    layout lb = contiguous(m_b, m_b[r - 1]);
    const layout& l_in = c.direction == 0 ? lf : lb;
    const layout& l_out = c.direction == 0 ? lb : lf;
    const std::vector<std::int64_t>& m_in = c.direction == 0 ? m_f : m_b;
    const std::vector<std::int64_t>& m_out = c.direction == 0 ? m_b : m_f;
    const int c_in = (c.real && c.direction == 0) ? 1 : 2, c_out = (c.real && c.direction == 1) ? 1 : 2;
    std::int64_t total_batch = 1;
    for (auto b : c.batch_counts) total_batch *= b;

    std::vector<std::int64_t> node_order(c.n.rbegin(), c.n.rend());
    node_ptr p;
    ASSERT_EQ(create(&p.n, c.dbl, c.real, node_order), 0);
    DFTI_DESCRIPTOR* h = p.n;
    for (std::size_t d = 0; d < r; ++d) {
        h->user_dims.records[d].input_stride = l_in.strides[r - d];
        h->user_dims.records[d].output_stride = l_out.strides[r - d];
    }
    std::int64_t din = l_in.distance, dout = l_out.distance;
    for (std::size_t b = 0; b < c.batch_counts.size(); ++b) {
        h->user_batch.records[b] = dfti_dim{c.batch_counts[b], din, dout, 0, 0};
        din *= c.batch_counts[b];
        dout *= c.batch_counts[b];
    }
    h->input_offset = c.in_offset;
    h->output_offset = c.out_offset;
    h->placement = c.in_place ? DFTI_INPLACE : DFTI_NOT_INPLACE;
    (c.direction == 0 ? h->forward_scale : h->backward_scale) = c.scale;
    h->directions = c.direction;
    ASSERT_EQ(h->methods->commit(h), 0);
    EXPECT_EQ(h->commit_status, DFTI_COMMITTED);
    EXPECT_EQ(c.direction == 0 ? h->cpu_compute_bwd == nullptr : h->cpu_compute_fwd == nullptr, true);

    const std::int64_t pts = product(c.n);
    std::vector<cld> in_logical, expected;
    reference_batch(c.n, c.real, c.direction, c.scale, total_batch, 50u, in_logical, expected);
    const std::int64_t words_in = (c.in_offset + l_in.span(m_in, total_batch)) * c_in;
    const std::int64_t words_out = (c.out_offset + l_out.span(m_out, total_batch)) * c_out;
    std::vector<T> a(std::max(words_in, c.in_place ? words_out : 0), T(0)), o(c.in_place ? 0 : words_out, T(0));
    scatter(a, l_in, m_in, total_batch, c_in, c.in_offset, in_logical);
    ASSERT_EQ(dfti_cpu_compute(h, c.direction, a.data(), c.in_place ? a.data() : o.data()), 0);
    const std::vector<T>& res = c.in_place ? a : o;
    const double rel = relative_error(res, l_out, m_out, total_batch, c_out, c.out_offset, expected);
    EXPECT_LE(rel, tolerance<T>(pts)) << rel;
}

class CpuLibrary : public ::testing::TestWithParam<node_case> {};

TEST_P(CpuLibrary, MatchesReference) {
    if (GetParam().dbl) run<double>(GetParam());
    else run<float>(GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Table, CpuLibrary,
    ::testing::Values(
        node_case{"rank4_c2c_d", true, false, {3, 2, 4, 5}, {1}, false, 0, 0, 0, 1.0},
        node_case{"rank5_c2c_s_back_inplace", false, false, {2, 3, 2, 2, 3}, {2}, true, 1, 0, 0, 0.5},
        node_case{"rank7_c2c_s", false, false, {2, 2, 2, 2, 2, 2, 3}, {1}, false, 0, 3, 1, 1.0},
        node_case{"rank6_r2c_d", true, true, {2, 2, 3, 2, 2, 6}, {1}, false, 0, 0, 0, 2.0},
        node_case{"rank4_c2r_s", false, true, {2, 3, 2, 5}, {1}, false, 1, 0, 0, 1.0},
        node_case{"rank4_r2c_inplace_d", true, true, {3, 2, 2, 7}, {2}, true, 0, 0, 0, 1.0},
        node_case{"two_batch_records_c2c", true, false, {8}, {3, 2}, false, 0, 0, 0, 1.0},
        node_case{"three_batch_records_c2r", false, true, {9}, {2, 3, 2}, false, 1, 2, 5, 1.0 / 9},
        node_case{"offsets_inplace_c2c", true, false, {5, 6}, {2}, true, 0, 4, 4, 1.0},
        node_case{"offsets_inplace_r2c", false, true, {4, 6}, {1}, true, 0, 6, 3, 1.0},
        node_case{"c2r_md_keeps_input", true, true, {6, 8}, {3}, false, 1, 0, 0, 1.0},
        // 2^16 to 2^18 points: planned on one thread and on several, the
        // faster plan kept.
        node_case{"mid_size_r2c_d", true, true, {256, 256}, {1}, false, 0, 0, 0, 1.0},
        node_case{"mid_size_c2r_d", true, true, {256, 256}, {1}, false, 1, 0, 0, 1.0 / 65536},
        node_case{"mid_size_c2c_s_batched", false, false, {512}, {256}, false, 0, 0, 0, 1.0},
        node_case{"mid_size_c2c_s_back_inplace", false, false, {256, 256}, {2}, true, 1, 0, 0, 1.0},
        // Batches of at least four transforms per thread on several threads:
        // planned for one piece of the batch, the pieces run on the threads.
        node_case{"pieces_c2c_s", false, false, {256}, {128}, false, 0, 0, 0, 1.0},
        node_case{"pieces_r2c_d", true, true, {256}, {160}, false, 0, 0, 0, 1.0},
        node_case{"pieces_c2c_2d_back_inplace", false, false, {32, 32}, {40}, true, 1, 0, 0, 0.25},
        node_case{"pieces_c2c_d_offsets", true, false, {256}, {150}, false, 0, 1, 3, 1.0},
        node_case{"pieces_c2c_s_offsets_off_alignment", false, false, {256}, {150}, false, 0, 1, 1, 1.0},
        // Other threaded nodes (also batches of short transforms): FFTW's
        // loops cut into jobs that the node's threads take in turn. (A single
        // complex transform whose two outer axes are at least as long as the
        // threads runs in two passes of pieces instead: see below.)
        node_case{"loop_jobs_c2c_2d_d", true, false, {128, 256}, {1}, false, 0, 0, 0, 1.0},
        node_case{"loop_jobs_c2r_s_short_transforms", false, true, {126}, {256, 2}, false, 1, 0, 0, 1.0 / 126},
        node_case{"loop_jobs_c2c_3d_s_back", false, false, {16, 32, 64}, {1}, false, 1, 0, 0, 1.0 / 32768},
        node_case{"loop_jobs_r2c_3d_s_inplace", false, true, {32, 32, 40}, {1}, true, 0, 0, 0, 1.0},
        node_case{"loop_jobs_c2c_3d_s_short_outer_axis", false, false, {4, 96, 96}, {1}, false, 0, 0, 0, 1.0},
        // Single complex transforms on several threads: the inner axes for
        // pieces of the outermost one, then the outermost axis in place on
        // the output for pieces of the next one, each piece on a serial plan
        // (pieces of two sizes where the axis is not shared evenly).
        node_case{"two_pass_c2c_3d_d", true, false, {36, 40, 45}, {1}, false, 0, 0, 0, 1.0},
        node_case{"two_pass_c2c_3d_d_inplace_back", true, false, {96, 100, 30}, {1}, true, 1, 0, 0, 1.0 / 288000},
        // Indices of the cut axes 729 and 27 complex floats apart: pieces
        // start on and off FFTW's alignment.
        node_case{"two_pass_c2c_3d_s_pieces_off_alignment", false, false, {45, 27, 27}, {1}, true, 0, 0, 0, 1.0},
        node_case{"two_pass_c2c_2d_s_offsets_off_alignment", false, false, {181, 200}, {1}, false, 1, 1, 3, 0.5},
        // Batches too small to split, of transforms that stay in cache:
        // FFTW's threaded plan on the node's threads.
        node_case{"small_batch_threaded_c2c_2d_s", false, false, {100, 120}, {3}, false, 0, 0, 0, 1.0},
        node_case{"small_batch_threaded_c2c_3d_d_inplace_back", true, false, {20, 24, 30}, {3}, true, 1, 0, 0, 1.0 / 14400},
        node_case{"small_batch_threaded_c2c_2d_s_offsets_off_alignment", false, false, {90, 74}, {5}, false, 0, 1, 3, 1.0},
        // Batches too small to split, of transforms of 16 MiB and more (input
        // and output): each pass's pieces for every transform.
        node_case{"two_pass_batch_c2c_3d_d", true, false, {64, 64, 128}, {2}, false, 0, 0, 0, 1.0},
        node_case{"two_pass_batch_c2c_3d_d_inplace_back_offsets_off_alignment", true, false, {128, 64, 64}, {2}, true, 1, 1, 1, 0.5}),
    [](const ::testing::TestParamInfo<node_case>& i) { return std::string(i.param.name); });

TEST(CpuLibraryRefusals, Statuses) {
    struct row { const char* name; bool real; void (*setup)(DFTI_DESCRIPTOR*); int status; };
    const row rows[] = {
        {"split_storage", false, [](DFTI_DESCRIPTOR* h) { h->complex_storage = DFTI_REAL_REAL; }, 6},
        {"pack_format", true, [](DFTI_DESCRIPTOR* h) { h->conjugate_even_storage = DFTI_COMPLEX_REAL; h->packed_format = DFTI_PACK_FORMAT; }, 6},
        {"perm_format", true, [](DFTI_DESCRIPTOR* h) { h->conjugate_even_storage = DFTI_COMPLEX_REAL; h->packed_format = DFTI_PERM_FORMAT; }, 6},
        {"negative_stride", false, [](DFTI_DESCRIPTOR* h) { h->user_dims.records[0].input_stride = -1; }, 3},
        {"in_place_offsets_differ", true, [](DFTI_DESCRIPTOR* h) { h->output_offset = 1; }, 3},
        {"in_place_offsets_pair_other_direction", true, [](DFTI_DESCRIPTOR* h) { h->input_offset = 1; h->output_offset = 2; }, 0},
        {"complex_in_place_output_layout_unused", false, [](DFTI_DESCRIPTOR* h) { h->output_offset = 1; h->user_dims.records[0].output_stride = 3; }, 0},
        {"ccs_rank1", true, [](DFTI_DESCRIPTOR* h) { h->conjugate_even_storage = DFTI_COMPLEX_REAL; h->packed_format = DFTI_CCS_FORMAT; }, 0},
    };
    for (const row& r : rows) {
        node_ptr p;
        ASSERT_EQ(create(&p.n, false, r.real, {16}), 0);
        r.setup(p.n);
        EXPECT_EQ(p.n->methods->commit(p.n), r.status) << r.name;
        EXPECT_EQ(p.n->commit_status == DFTI_COMMITTED, r.status == 0) << r.name;
    }
    node_ptr p;
    ASSERT_EQ(create(&p.n, true, false, {16}), 0);
    EXPECT_EQ(dfti_cpu_compute(p.n, 0, nullptr), 2);  // not committed
    ASSERT_EQ(p.n->methods->commit(p.n), 0);
    EXPECT_EQ(dfti_cpu_compute(p.n, 0, nullptr), 3);  // null array
    EXPECT_EQ(p.n->methods->set_workspace(p.n, nullptr, 2), 3);
    // Small nodes run on one thread; large ones on every hardware thread
    // unless the node's limit caps them.
    std::int64_t tl = -1;
    p.n->methods->get_thread_limit(p.n, &tl);
    EXPECT_EQ(tl, 1);
    const std::int64_t hw = sysconf(_SC_NPROCESSORS_ONLN);
    node_ptr big;
    ASSERT_EQ(create(&big.n, false, false, {128, 256}), 0);
    big.n->directions = 0;
    ASSERT_EQ(big.n->methods->commit(big.n), 0);
    big.n->methods->get_thread_limit(big.n, &tl);
    EXPECT_EQ(tl, hw);
    ASSERT_EQ(big.n->methods->set_thread_limit(big.n, 2), 0);
    ASSERT_EQ(big.n->methods->commit(big.n), 0);
    big.n->methods->get_thread_limit(big.n, &tl);
    EXPECT_EQ(tl, std::min<std::int64_t>(hw, 2));
    // Arrays larger than the machine's memory: refused before FFTW allocates.
    node_ptr huge;
    ASSERT_EQ(ovx_dft_dfti_create_dr1d(&huge.n, std::int64_t(1) << 40), 0);
    EXPECT_EQ(huge.n->methods->commit(huge.n), 1);
    EXPECT_EQ(huge.n->commit_status, DFTI_UNCOMMITTED);
    DFTI_DESCRIPTOR* bad = nullptr;
    EXPECT_EQ(ovx_dft_dfti_create_sc1d(&bad, 0), 2);
    EXPECT_EQ(bad, nullptr);
    EXPECT_EQ(ovx_dft_dfti_create_scmd(nullptr, 2, nullptr), 3);
    ovx_dft_bless_node_thr(nullptr);
}

// A complex node in place configured on its input side only (as FFTW-style
// plans configure it): the result lands in the input layout, the output
// strides left at their creation defaults are not used.
TEST(CpuLibraryInPlace, ComplexOutputInInputLayout) {
    node_ptr p;
    ASSERT_EQ(create(&p.n, true, false, {8}), 0);
    const std::int64_t strides[2] = {1, 2};  // offset 1, stride 2
    ASSERT_EQ(p.n->methods->set_input_strides(p.n, strides), 0);
    ASSERT_EQ(p.n->methods->commit(p.n), 0);
    std::vector<std::complex<double>> a(18, {-9.0, -9.0});
    std::vector<std::complex<double>> x(8);
    for (int j = 0; j < 8; ++j) x[j] = {double(j % 3) - 1.0, double(j % 5) * 0.5};
    for (int j = 0; j < 8; ++j) a[1 + 2 * j] = x[j];
    ASSERT_EQ(dfti_cpu_compute(p.n, 0, a.data()), 0);
    const double pi = std::acos(-1.0);
    for (int k = 0; k < 8; ++k) {
        std::complex<double> ref = 0;
        for (int j = 0; j < 8; ++j) ref += x[j] * std::polar(1.0, -2 * pi * (j * k % 8) / 8);
        EXPECT_LT(std::abs(a[1 + 2 * k] - ref), 1e-12) << k;
    }
    for (int i = 0; i < 18; i += 2) EXPECT_EQ(a[i], std::complex<double>(-9.0, -9.0)) << i;
    EXPECT_EQ(a[17], std::complex<double>(-9.0, -9.0));
}

// A real node in place whose one batch record holds a single transform may
// give that record any distance: no step is taken along it, and a distance
// whose byte size leaves the 64-bit range must neither wrap nor change the
// result.
TEST(CpuLibraryInPlace, RealSingleTransformWithADistanceBeyondSixtyFourBitBytes) {
    node_ptr p;
    ASSERT_EQ(create(&p.n, true, true, {8}), 0);
    p.n->user_dims.records[0].input_stride = 1;
    p.n->user_dims.records[0].output_stride = 1;
    p.n->user_batch.records[0] = {1, std::int64_t(1) << 61, std::int64_t(1) << 60, 0, 0};
    p.n->placement = DFTI_INPLACE;
    ASSERT_EQ(p.n->methods->commit(p.n), 0);
    std::vector<double> a(10, 0.0);
    const double x[8] = {1, 2, -1, 0.5, 3, -2, 0, 1};
    for (int j = 0; j < 8; ++j) a[j] = x[j];
    ASSERT_EQ(dfti_cpu_compute(p.n, 0, a.data()), 0);
    const double pi = std::acos(-1.0);
    for (int k = 0; k <= 4; ++k) {
        std::complex<double> ref = 0;
        for (int j = 0; j < 8; ++j) ref += x[j] * std::polar(1.0, -2 * pi * (j * k % 8) / 8);
        EXPECT_LT(std::abs(std::complex<double>(a[2 * k], a[2 * k + 1]) - ref), 1e-12) << k;
    }
}

// A node committed for aligned arrays computes right on arrays off FFTW's
// SIMD alignment too (its unaligned plan runs there).
TEST(CpuLibraryAlignment, AlignedAndShiftedArrays) {
    const std::vector<std::int64_t> n = {1024};
    node_ptr p;
    ASSERT_EQ(create(&p.n, false, false, n), 0);
    p.n->placement = DFTI_NOT_INPLACE;
    ASSERT_EQ(p.n->methods->commit(p.n), 0);
    std::vector<cld> x, expected;
    reference_batch(n, false, 0, 1.0, 1, 9u, x, expected);
    const layout l = contiguous(n, n[0]);
    for (std::int64_t shift : {0, 1}) {
        std::vector<float> in(2 * (n[0] + 1), 0.f), out(in.size(), 0.f);
        scatter(in, l, n, 1, 2, shift, x);
        ASSERT_EQ(dfti_cpu_compute(p.n, 0, in.data() + 2 * shift, out.data() + 2 * shift), 0);
        EXPECT_LE(relative_error(out, l, n, 1, 2, shift, expected), tolerance<float>(n[0])) << "shift " << shift;
    }
}

// Nodes whose batches or loops run in pieces on the shared threads, computed
// from several threads at once: each gets its own results.
TEST(CpuLibraryPieces, NodesComputingAtOnce) {
    const node_case cases[] = {
        {"pieces_c2c_s", false, false, {256}, {128}, false, 0, 0, 0, 1.0},
        {"pieces_r2c_d", true, true, {256}, {160}, false, 0, 0, 0, 1.0},
        {"pieces_c2c_2d_back_inplace", false, false, {32, 32}, {40}, true, 1, 0, 0, 0.25},
        {"loop_jobs_c2c_2d_d", true, false, {128, 256}, {1}, false, 0, 0, 0, 1.0},
        {"loop_jobs_c2c_3d_s_short_outer_axis", false, false, {4, 96, 96}, {1}, false, 0, 0, 0, 1.0},
        {"two_pass_c2c_3d_s_pieces_off_alignment", false, false, {45, 27, 27}, {1}, true, 0, 0, 0, 1.0},
        {"small_batch_threaded_c2c_2d_s", false, false, {100, 120}, {3}, false, 0, 0, 0, 1.0},
    };
    std::vector<std::thread> callers;
    for (const node_case& c : cases)
        callers.emplace_back([&c] {
            for (int k = 0; k < 4; ++k) {
                if (c.dbl) run<double>(c);
                else run<float>(c);
            }
        });
    for (auto& t : callers) t.join();
}

// One committed node computed many times in a row, its output poisoned with
// NaN before each compute: every compute returns only once each of its
// pieces (batch pieces, loop jobs, both passes) has written its results.
template <typename T>
void repeated_computes(const std::vector<std::int64_t>& n, std::int64_t batch, int computes) {
    std::vector<std::int64_t> node_order(n.rbegin(), n.rend());
    node_ptr p;
    ASSERT_EQ(create(&p.n, std::is_same_v<T, double>, false, node_order), 0);
    const std::int64_t pts = product(n);
    const layout l = contiguous(n, n.back());
    if (batch > 1) p.n->user_batch.records[0] = dfti_dim{batch, pts, pts, 0, 0};
    p.n->placement = DFTI_NOT_INPLACE;
    p.n->directions = 0;
    ASSERT_EQ(p.n->methods->commit(p.n), 0);
    std::vector<cld> x, expected;
    reference_batch(n, false, 0, 1.0, batch, 21u, x, expected);
    std::vector<T> in(2 * pts * batch), out(in.size());
    scatter(in, l, n, batch, 2, 0, x);
    for (int k = 0; k < computes; ++k) {
        std::fill(out.begin(), out.end(), std::numeric_limits<T>::quiet_NaN());
        ASSERT_EQ(dfti_cpu_compute(p.n, 0, in.data(), out.data()), 0);
        const double rel = relative_error(out, l, n, batch, 2, 0, expected);
        ASSERT_LE(rel, tolerance<T>(pts)) << "compute " << k;
    }
}

TEST(CpuLibraryPieces, EveryComputeEndsAfterItsPieces) {
    repeated_computes<float>({256}, 128, 40);         // batch pieces
    repeated_computes<double>({128, 256}, 1, 40);     // FFTW's loops in jobs
    repeated_computes<double>({36, 40, 45}, 1, 40);   // two passes of pieces
    repeated_computes<double>({64, 64, 128}, 2, 40);  // the same for a small batch
    repeated_computes<float>({100, 120}, 3, 40);      // FFTW's threaded plan for a small batch
}

TEST(CpuLibraryRefusals, RecommitReleasesPlans) {
    // Committing again and changing values after commit must not leak plans
    // (checked under the address sanitizer) and keeps results right.
    node_ptr p;
    ASSERT_EQ(create(&p.n, true, false, {8}), 0);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(p.n->methods->commit(p.n), 0);
    ASSERT_EQ(p.n->methods->set_number_of_transforms(p.n, 2), 0);
    EXPECT_EQ(p.n->commit_status, DFTI_UNCOMMITTED);
    EXPECT_EQ(p.n->cpu_plan, nullptr);
    ASSERT_EQ(p.n->methods->set_input_distance(p.n, 8), 0);
    ASSERT_EQ(p.n->methods->set_output_distance(p.n, 8), 0);
    ASSERT_EQ(p.n->methods->commit(p.n), 0);
    std::vector<double> a(32, 0.0);
    a[0] = 1;
    a[16] = 2;
    ASSERT_EQ(dfti_cpu_compute(p.n, 0, a.data()), 0);
    EXPECT_DOUBLE_EQ(a[2 * 5], 1.0);
    EXPECT_DOUBLE_EQ(a[16 + 2 * 7], 2.0);
    DFTI_DESCRIPTOR* copy = nullptr;
    ASSERT_EQ(p.n->methods->copy(p.n, &copy), 0);
    EXPECT_EQ(copy->commit_status, DFTI_UNCOMMITTED);
    EXPECT_EQ(copy->cpu_plan, nullptr);
    copy->methods->destroy(copy);
}

}  // namespace
