// Runs the batched matrix copy text (the transpose of the large 1D backend
// and its other build forms) on the machine's OpenCL device and compares
// every element of the result with the host's b = alpha * op(a), for whole
// 16 x 16 tiles, tiles cut by the matrix edges, several matrices per
// work-group layer and a batch that ends inside a layer. Elements outside the
// written matrices must keep what the buffer held.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "dft/gpu/gpu_test_reference.hpp"
#include "dft/gpu/kernel_texts.hpp"
#include "dft/gpu/kernels/kernel_probe.hpp"
#include "ovx_test_env.hpp"

namespace gk = korami::ovx::dft::gpu_kernels;
using kernel_probe::cl_env;
using kernel_probe::dev_buf;
using kernel_probe::launcher;

namespace {

enum class op { trans, notrans, conj_trans };

struct copy_case {
    bool single;
    op kind;
    int64_t m, n;          // a is m x n (x fastest)
    int64_t lda, ldb;      // leading dimensions, at least m (a) and the written extent (b)
    int64_t kernel_batch;  // matrices per work-group layer
    int64_t total_batch;
    int64_t offset_batch;
    int64_t offseta, offsetb;
};

void PrintTo(const copy_case& c, std::ostream* os) {
    *os << (c.single ? "single" : "double") << " op " << static_cast<int>(c.kind) << " " << c.m << " x " << c.n
        << " lda " << c.lda << " ldb " << c.ldb << " per layer " << c.kernel_batch << " of " << c.total_batch
        << " from " << c.offset_batch;
}

std::string name_of(const copy_case& c) {
    const char* suffix = c.kind == op::trans ? "t" : c.kind == op::notrans ? "n" : "c";
    return std::string("ovx_dft_") + (c.single ? "c" : "z") + "omatcopy_batch_strided_kernel_" + suffix;
}

std::string options_of(const copy_case& c) {
    std::string o = c.single ? "-DSINGLE_PRECISION -DCOMPLEX" : "-DCOMPLEX16";
    o += c.kind == op::trans ? " -DTRANSPOSE" : c.kind == op::notrans ? " -DNONTRANSPOSE" : " -DCONJ_TRANSPOSE";
    return o + " -DOUT_OF_PLACE -DBATCHED_STRIDED";
}

template <class T>
void set_arg(cl_kernel k, cl_uint i, T v) {
    launcher::check(clSetKernelArg(k, i, sizeof v, &v));
}

template <class T>
void run_copy(const copy_case& c) {
    const bool trans = c.kind != op::notrans;
    const int64_t rows_b = trans ? c.m : c.n;  // b's extent in the slow index
    const int64_t stridea = c.lda * c.n + 5, strideb = c.ldb * rows_b + 3;
    const int64_t mats = c.total_batch;
    const size_t a_elems = static_cast<size_t>(c.offseta + stridea * mats);
    const size_t b_elems = static_cast<size_t>(c.offsetb + strideb * mats);
    const auto x = kernel_probe::rounded<T>(gpu_test::random_cplx(a_elems, 11u + static_cast<unsigned>(c.m)));
    dev_buf da(a_elems * 2 * sizeof(T)), db(b_elems * 2 * sizeof(T));  // b starts as NaN bytes
    da.write(kernel_probe::to_reals<T>(x));
    const T ar = T(0.5), ai = T(-0.25);

    launcher l(cl_env::get().kernel(gk::ovx_dft_blas_transpose_text, options_of(c), name_of(c)));
    cl_mem ma = da.mem(), mb = db.mem();
    set_arg<cl_long>(l.k, 0, c.m);
    set_arg<cl_long>(l.k, 1, c.n);
    set_arg<T>(l.k, 2, ar);
    set_arg<T>(l.k, 3, ai);
    set_arg<cl_mem>(l.k, 4, ma);
    set_arg<cl_long>(l.k, 5, c.offseta);
    set_arg<cl_long>(l.k, 6, c.lda);
    set_arg<cl_long>(l.k, 7, stridea);
    set_arg<cl_mem>(l.k, 8, mb);
    set_arg<cl_long>(l.k, 9, c.offsetb);
    set_arg<cl_long>(l.k, 10, c.ldb);
    set_arg<cl_long>(l.k, 11, strideb);
    set_arg<cl_long>(l.k, 12, c.kernel_batch);
    set_arg<cl_long>(l.k, 13, c.total_batch);
    set_arg<cl_long>(l.k, 14, c.offset_batch);
    const int64_t layers = (c.total_batch - c.offset_batch + c.kernel_batch - 1) / c.kernel_batch;
    const size_t global[3] = {static_cast<size_t>((c.m + 15) / 16 * 16), static_cast<size_t>((c.n + 15) / 16 * 16),
                              static_cast<size_t>(layers)};
    const size_t local[3] = {16, 16, 1};
    l.run(3, global, local);

    const auto got = kernel_probe::from_reals(db.read_all<T>(), 0, b_elems);
    std::vector<char> written(b_elems, 0);
    const double eps = std::numeric_limits<T>::epsilon();
    int64_t bad = 0;
    for (int64_t mat = c.offset_batch; mat < c.total_batch; ++mat)
        for (int64_t y = 0; y < c.n; ++y)
            for (int64_t xx = 0; xx < c.m; ++xx) {
                std::complex<double> v = x[static_cast<size_t>(c.offseta + mat * stridea + xx + y * c.lda)];
                v *= std::complex<double>(ar, ai);
                if (c.kind == op::conj_trans) v = std::conj(v);
                const int64_t at = c.offsetb + mat * strideb + (trans ? y + xx * c.ldb : xx + y * c.ldb);
                written[static_cast<size_t>(at)] = 1;
                const std::complex<double> g = got[static_cast<size_t>(at)];
                if (!(std::abs(g - v) <= 4 * eps * (std::abs(v) + 1e-30)) && bad++ < 5)
                    ADD_FAILURE() << "matrix " << mat << " element (" << xx << ", " << y << "): " << g << " vs " << v;
            }
    for (size_t i = 0; i < b_elems; ++i)
        if (!written[i] && !std::isnan(got[i].real()) && bad++ < 5)
            ADD_FAILURE() << "element " << i << " outside the matrices was written: " << got[i];
    EXPECT_EQ(bad, 0);
}

class BlasTransposeProbe : public ::testing::TestWithParam<copy_case> {};

TEST_P(BlasTransposeProbe, MatchesScaledHostCopy) {
    const copy_case c = GetParam();
    KERNEL_PROBE_REQUIRE_DEVICE(c.single);
    if (c.single)
        run_copy<float>(c);
    else
        run_copy<double>(c);
}

std::vector<copy_case> copy_cases() {
    std::vector<copy_case> v;
    for (bool single : {false, true})
        for (op k : {op::trans, op::notrans, op::conj_trans}) {
            const bool t = k != op::notrans;
            // whole tiles, one matrix per layer, two matrices (the large backend's launch, batched)
            v.push_back({single, k, 48, 32, 48, t ? 32 : 48, 1, 2, 0, 0, 0});
            // padded leading dimensions and offsets
            v.push_back({single, k, 32, 16, 40, t ? 24 : 40, 1, 1, 0, 3, 7});
            // tiles cut by both edges
            v.push_back({single, k, 37, 21, 37, t ? 21 : 37, 1, 1, 0, 0, 0});
            // two matrices per layer, the batch ending inside the last layer, from matrix 1
            v.push_back({single, k, 32, 48, 33, t ? 50 : 33, 2, 4, 1, 2, 1});
            // cut tiles and several matrices per layer
            v.push_back({single, k, 19, 35, 20, t ? 36 : 20, 3, 3, 0, 0, 0});
        }
    return v;
}

std::string case_name(const ::testing::TestParamInfo<copy_case>& i) {
    const copy_case& c = i.param;
    const char* k = c.kind == op::trans ? "T" : c.kind == op::notrans ? "N" : "C";
    return std::string(c.single ? "c" : "z") + k + "_" + std::to_string(c.m) + "x" + std::to_string(c.n) + "_per" +
           std::to_string(c.kernel_batch) + "_of" + std::to_string(c.total_batch) + "_from" +
           std::to_string(c.offset_batch) + "_" + std::to_string(i.index);
}

INSTANTIATE_TEST_SUITE_P(Forms, BlasTransposeProbe, ::testing::ValuesIn(copy_cases()), case_name);

}  // namespace
