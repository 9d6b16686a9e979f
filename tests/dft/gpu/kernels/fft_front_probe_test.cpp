// Runs every straight-line transform fft_N_s (N = 1..64) of the generated
// kernel-text fronts in probe kernels on the machine's OpenCL device and
// compares with a long-double direct DFT, forward and backward, in both
// precisions. The NONSUBGRP form runs on the plain OpenCL runtime; the
// sub-group form needs the sub-group emulation of the OpenCL layer and runs
// when the test is linked with it (OVX_PROBE_SUBGROUPS).
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <string>
#include <vector>

#include "dft/gpu/kernels/kernel_probe.hpp"
#include "dft/gpu/kernels/fft_front.hpp"
#include "ovx_test_env.hpp"

namespace gk = korami::ovx::dft::gpu_kernels;

namespace {

using kernel_probe::cl_env;
using kernel_probe::dev_buf;
using kernel_probe::launcher;
using cld = std::complex<long double>;

// Direct DFT, sign -1 forward, +1 backward, in long double.
std::vector<cld> direct_dft(const std::vector<cld>& x, int sign) {
    const size_t n = x.size();
    std::vector<cld> y(n);
    const long double pi = 3.141592653589793238462643383279502884L;
    for (size_t k = 0; k < n; ++k) {
        cld s = 0;
        for (size_t j = 0; j < n; ++j) {
            const long double a = 2 * pi * static_cast<long double>((j * k) % n) / n;
            s += x[j] * cld(std::cos(a), sign * std::sin(a));
        }
        y[k] = s;
    }
    return y;
}

#define REQUIRE_OPENCL(dbl)                                                                            \
    do {                                                                                               \
        OVX_REQUIRE(cl_env::get().ok(), "no usable OpenCL device");                                    \
        OVX_REQUIRE(!(dbl) || cl_env::get().has_double(), "the OpenCL device has no double precision"); \
    } while (0)

// Runs `global` work-items (work-groups of `local`) of the kernel `name` of
// the text on the input; the first two arguments are the input and the
// output buffer, then the int arguments. Returns the output.
template <class T>
std::vector<T> launch(const std::string& text, const std::string& opts, const std::string& name,
                      const std::vector<T>& in, std::size_t out_size, std::vector<int> args, std::size_t global,
                      std::size_t local) {
    launcher l(cl_env::get().kernel(text, opts, name));
    dev_buf a(in.size() * sizeof(T)), b(out_size * sizeof(T));
    a.write(in);
    l.mem(0, a).mem(1, b);
    for (std::size_t i = 0; i < args.size(); ++i) l.i32(static_cast<cl_uint>(i + 2), args[i]);
    l.run(1, &global, &local);
    return b.read_all<T>();
}

constexpr int kInstances = 4;   // transforms per probe launch
constexpr int kLanes = 16;      // sub-group size of the sub-group probes

// A sub-group text that declares the lane-pair vocabulary runs one work-item
// per lane pair under the emulation.
const char* const k_pair_mark = "#define TARVO_SG_PAIR_VOCABULARY 1\n";

std::string probe_kernels(bool sg, bool dbl, bool pairs) {
    std::string s = pairs ? k_pair_mark : "";
    s += "#define NEED_FFT_FUNC(S) 1\n";  // compile every size
    s += sg ? gk::fft_front_sg_text(dbl) : gk::fft_front_nsg_text(dbl);
    for (int n = 1; n <= 64; ++n) {
        const std::string N = std::to_string(n);
        if (!sg) {
            s += "__kernel void probe_" + N + "(__global const ftype* src, __global ftype* dst) {\n"
                 "  const size_t g = get_global_id(0);\n"
                 "  ptype v[" + N + "];\n"
                 "  for (int k = 0; k < " + N + "; ++k) v[k] = vload2(g * " + N + " + k, src);\n"
                 "  fft_" + N + "_s(v, (ftype)1);\n"
                 "  for (int k = 0; k < " + N + "; ++k) vstore2(v[k], g * " + N + " + k, dst);\n"
                 "}\n";
        } else {
            s += "__kernel __attribute__((reqd_work_group_size(16,1,1))) "
                 "__attribute__((tarvo_reqd_sub_group_size(16)))\n"
                 "void probe_" + N + "(__global const ftype* src, __global ftype* dst, int bwd) {\n"
                 "  TARVO_SG_KERNEL_SCRATCH(16);\n"
                 "  const size_t inst = get_group_id(0) * 8 + SG_CPLX_INDEX();\n"
                 "  ptype v[" + N + "];\n"
                 "  for (int k = 0; k < " + N + "; ++k) v[k] = SG_LOAD(src, inst * " + N + " + k);\n"
                 "  const ftype pmOne = SG_PM_ONE(bwd);\n"
                 "  fft_" + N + "_s(v, pmOne TARVO_SG_ARG);\n"
                 "  for (int k = 0; k < " + N + "; ++k) SG_STORE(dst, inst * " + N + " + k, v[k]);\n"
                 "}\n";
        }
    }
    return s;
}

struct probe_case {
    bool sg;
    bool dbl;
    bool pairs;
};

class FrontProbe : public ::testing::TestWithParam<probe_case> {
protected:
    void SetUp() override {
        REQUIRE_OPENCL(GetParam().dbl);
    }
};

// Runs fft_N_s on kInstances random transforms; returns the device results.
template <class T>
std::vector<T> run(bool sg, bool pairs, int n, int bwd, const std::vector<T>& in) {
    const std::string text = probe_kernels(sg, std::is_same<T, double>::value, pairs),
                      name = "probe_" + std::to_string(n);
    // The nsg form takes its direction at build time, the sg form at run time.
    if (!sg) return launch(text, bwd ? "-DFWD_DIR=0 -DBWD_DIR=1" : "-DFWD_DIR=1 -DBWD_DIR=0", name, in, in.size(), {}, kInstances, 1);
    const std::size_t global = (static_cast<std::size_t>(kInstances) * 2 + kLanes - 1) / kLanes * kLanes;
    return launch(text, "", name, in, in.size(), {bwd}, global, kLanes);
}

template <class T>
void check_all_sizes(bool sg, bool pairs) {
    // Tolerance per precision, relative to N * max|x| (the size of an output).
    const long double tol = std::is_same<T, double>::value ? 2e-15L : 1e-6L;
    std::mt19937 gen(1234);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    for (int n = 1; n <= 64; ++n) {
        // sg probes run whole sub-groups: pad the data to what the launch touches
        const size_t slots = sg ? (static_cast<size_t>(kInstances) * 2 + kLanes - 1) / kLanes * kLanes / 2
                                : kInstances;
        std::vector<T> x(slots * n * 2);
        for (auto& v : x) v = static_cast<T>(dist(gen));
        std::vector<T> fwd = run<T>(sg, pairs, n, 0, x);
        std::vector<T> bwd = run<T>(sg, pairs, n, 1, x);
        ASSERT_EQ(fwd.size(), x.size());
        ASSERT_EQ(bwd.size(), x.size());
        std::vector<T> round = run<T>(sg, pairs, n, 1, fwd);
        for (int t = 0; t < kInstances; ++t) {
            std::vector<cld> xi(n);
            for (int k = 0; k < n; ++k) xi[k] = cld(x[(t * n + k) * 2], x[(t * n + k) * 2 + 1]);
            auto ref_f = direct_dft(xi, -1), ref_b = direct_dft(xi, +1);
            long double err_f = 0, err_b = 0, err_r = 0;
            for (int k = 0; k < n; ++k) {
                const size_t i = (t * n + k) * 2;
                err_f = std::max(err_f, std::abs(cld(fwd[i], fwd[i + 1]) - ref_f[k]));
                err_b = std::max(err_b, std::abs(cld(bwd[i], bwd[i + 1]) - ref_b[k]));
                err_r = std::max(err_r, std::abs(cld(round[i], round[i + 1]) - xi[k] * (long double)n));
            }
            const long double bound = tol * n;
            EXPECT_LE(err_f, bound) << "forward N=" << n << (sg ? " sg" : " nsg");
            EXPECT_LE(err_b, bound) << "backward N=" << n << (sg ? " sg" : " nsg");
            EXPECT_LE(err_r, 2 * bound) << "round trip N=" << n << (sg ? " sg" : " nsg");
        }
    }
}

TEST_P(FrontProbe, EveryFunctionMatchesDirectDft) {
    if (GetParam().dbl)
        check_all_sizes<double>(GetParam().sg, GetParam().pairs);
    else
        check_all_sizes<float>(GetParam().sg, GetParam().pairs);
}

std::vector<probe_case> cases() {
    std::vector<probe_case> c = {{false, true, false}, {false, false, false}};
#ifdef OVX_PROBE_SUBGROUPS
    for (bool pairs : {false, true}) {
        c.push_back({true, true, pairs});
        c.push_back({true, false, pairs});
    }
#endif
    return c;
}

INSTANTIATE_TEST_SUITE_P(Forms, FrontProbe, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<probe_case>& i) {
                             return std::string(i.param.sg ? "subgroup" : "nonsubgroup") +
                                    (i.param.dbl ? "_double" : "_float") + (i.param.pairs ? "_lanepairs" : "");
                         });

// The generic direct DFTs of run-time size (NONSUBGRP: ODD/EVEN_DEFAULT_FUNC
// over strided global memory) and of macro size (sub-group form:
// FACT0_DEFAULT_FUNC even, FACT1_DEFAULT_FUNC even or odd), forward and
// backward, against the long-double DFT.
template <class T>
void check_generic_nsg(int bwd) {
    const bool dbl = std::is_same<T, double>::value;
    const std::string src = std::string(gk::fft_front_nsg_text(dbl)) +
        "__kernel void generic_dft(__global const ftype* src, __global ftype* dst, uint fact, uint is, uint os) {\n"
        "  if (fact % 2) ODD_DEFAULT_FUNC(fact, is, os, src, dst); else EVEN_DEFAULT_FUNC(fact, is, os, src, dst);\n"
        "}\n";
    const std::string opts = std::string(bwd ? "-DFWD_DIR=0" : "-DFWD_DIR=1") + " -DNEED_ODD_DEFAULT -DNEED_EVEN_DEFAULT";
    const long double tol = dbl ? 1e-13L : 4e-6L;
    for (cl_uint fact : {2u, 6u, 7u, 66u, 67u, 71u}) {
        const cl_uint is = 3, os = 2;
        std::vector<T> x(2 * fact * is), y(2 * fact * os, 0);
        std::mt19937 gen(fact);
        std::uniform_real_distribution<double> dist(-1.0, 1.0);
        for (auto& v : x) v = static_cast<T>(dist(gen));
        y = launch(src, opts, "generic_dft", x, y.size(), {int(fact), int(is), int(os)}, 1, 1);
        std::vector<cld> xi(fact);
        for (cl_uint j = 0; j < fact; ++j) xi[j] = cld(x[2 * j * is], x[2 * j * is + 1]);
        const auto ref = direct_dft(xi, bwd ? +1 : -1);
        long double err_max = 0;
        for (cl_uint j = 0; j < fact; ++j)
            err_max = std::max(err_max, std::abs(cld(y[2 * j * os], y[2 * j * os + 1]) - ref[j]));
        EXPECT_LE(err_max, tol * fact) << "fact " << fact << (bwd ? " backward" : " forward");
    }
}

TEST(GenericRoutines, NonSubgroupForm) {
    REQUIRE_OPENCL(false);
    for (int bwd = 0; bwd < 2; ++bwd) {
        check_generic_nsg<float>(bwd);
        if (cl_env::get().has_double()) check_generic_nsg<double>(bwd);
    }
}

#ifdef OVX_PROBE_SUBGROUPS
template <class T>
void check_generic_sg(int fact0, int fact1, bool pairs) {
    const bool dbl = std::is_same<T, double>::value;
    const std::string src = (pairs ? k_pair_mark : "") + std::string(gk::fft_front_sg_text(dbl)) +
        "__kernel __attribute__((reqd_work_group_size(16,1,1))) __attribute__((tarvo_reqd_sub_group_size(16)))\n"
        "void generic_dft(__global const ftype* src, __global ftype* dst, int bwd, int which) {\n"
        "  TARVO_SG_KERNEL_SCRATCH(16);\n"
        "  const size_t inst = SG_CPLX_INDEX();\n"
        "  ptype v[64];\n"
        "  const int n = which ? FACT1 : FACT0;\n"
        "  for (int k = 0; k < n; ++k) v[k] = SG_LOAD(src, inst * n + k);\n"
        "  const ftype pmOne = SG_PM_ONE(bwd);\n"
        "  if (which) def1(v, pmOne TARVO_SG_ARG); else def0(v, pmOne TARVO_SG_ARG);\n"
        "  for (int k = 0; k < n; ++k) SG_STORE(dst, inst * n + k, v[k]);\n"
        "}\n";
    const std::string opts = "-DFACT0=" + std::to_string(fact0) + " -DFACT1=" + std::to_string(fact1) +
                             " -DFACT0_DEFAULT_FUNC=def0 -DFACT1_DEFAULT_FUNC=def1";
    const long double tol = dbl ? 1e-13L : 4e-6L;
    for (int which = 0; which < 2; ++which)
        for (int bwd = 0; bwd < 2; ++bwd) {
            const int n = which ? fact1 : fact0;
            std::vector<T> x(static_cast<size_t>(8 * n * 2)), y(x.size());
            std::mt19937 gen(n + 10 * which);
            std::uniform_real_distribution<double> dist(-1.0, 1.0);
            for (auto& v : x) v = static_cast<T>(dist(gen));
            y = launch(src, opts, "generic_dft", x, y.size(), {bwd, which}, 16, 16);
            for (int t = 0; t < 8; ++t) {
                std::vector<cld> xi(n);
                for (int j = 0; j < n; ++j) xi[j] = cld(x[(t * n + j) * 2], x[(t * n + j) * 2 + 1]);
                const auto ref = direct_dft(xi, bwd ? +1 : -1);
                long double err_max = 0;
                for (int j = 0; j < n; ++j)
                    err_max = std::max(err_max, std::abs(cld(y[(t * n + j) * 2], y[(t * n + j) * 2 + 1]) - ref[j]));
                EXPECT_LE(err_max, tol * n) << "size " << n << (bwd ? " backward" : " forward");
            }
        }
}

// The vector forms of the lane-pair twiddle multiply agree with the scalar form
// component by component (one shuffle of the whole vector).
TEST(LanePairVocabulary, VectorTwiddleMultiply) {
    REQUIRE_OPENCL(false);
    const std::string src = std::string(gk::fft_front_sg_text(false)) +
        "__kernel __attribute__((reqd_work_group_size(16,1,1))) __attribute__((tarvo_reqd_sub_group_size(16)))\n"
        "void vec_probe(__global const float* src, __global float* diff, int bwd) {\n"
        "  TARVO_SG_KERNEL_SCRATCH(16);\n"
        "  const size_t g = get_global_id(0);\n"
        "  const ftype pmOne = SG_PM_ONE(bwd);\n"
        "  ftype4 v = vload4(g, src);\n"
        "  ftype2 v2 = v.s01; ftype3 v3 = v.s012; ftype4 v4 = v;\n"
        "  const ftype c = 0.6f, s = 0.8f;\n"
        "  TWIDL_MULT_INPLACE_VEC2(c, pmOne * s, v2);\n"
        "  TWIDL_MULT_INPLACE_VEC3(c, pmOne * s, v3);\n"
        "  TWIDL_MULT_INPLACE_VEC4(c, pmOne * s, v4);\n"
        "  ftype a = v.s0, b = v.s1, d = v.s2, f = v.s3;\n"
        "  TWIDL_MULT_INPLACE(c, pmOne * s, a); TWIDL_MULT_INPLACE(c, pmOne * s, b);\n"
        "  TWIDL_MULT_INPLACE(c, pmOne * s, d); TWIDL_MULT_INPLACE(c, pmOne * s, f);\n"
        "  diff[g] = fabs(v2.s0 - a) + fabs(v2.s1 - b) + fabs(v3.s0 - a) + fabs(v3.s1 - b) + fabs(v3.s2 - d)\n"
        "          + fabs(v4.s0 - a) + fabs(v4.s1 - b) + fabs(v4.s2 - d) + fabs(v4.s3 - f)\n"
        "          + (SG_CPLX_INDEX() == (uint)(g % 16) / 2 ? 0.0f : 1.0f);\n"
        "}\n";
    std::vector<float> x(64);
    std::mt19937 gen(3);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    for (auto& v : x) v = dist(gen);
    const std::vector<float> d = launch(src, "", "vec_probe", x, 16, {1}, 16, 16);
    for (float v : d) EXPECT_LE(v, 1e-6f);
}

TEST(GenericRoutines, SubgroupForm) {
    REQUIRE_OPENCL(false);
    for (bool pairs : {false, true}) {
        check_generic_sg<float>(6, 7, pairs);   // FACT1 odd
        check_generic_sg<float>(10, 8, pairs);  // FACT1 even
        if (cl_env::get().has_double()) {
            check_generic_sg<double>(6, 7, pairs);
            check_generic_sg<double>(40, 37, pairs);  // sizes the two-factor plans send here
            check_generic_sg<double>(34, 64, pairs);  // half of the size odd; the largest size
        }
    }
}
#endif

// Without factor macros only fft_1_s is compiled: a call of fft_2_s does not build,
// while FACT0=2 makes it available.
TEST(FrontSelection, OnlyNamedSizesAreCompiled) {
    REQUIRE_OPENCL(false);
    auto builds = [](const std::string& src, const std::string& opts) {
        try {
            cl_env::get().program(src, opts);
            return true;
        } catch (const std::runtime_error&) {
            return false;
        }
    };
    const std::string body =
        "__kernel void k(__global float* p) { ptype v[2] = {vload2(0, p), vload2(1, p)};"
        " fft_1_s(v, (ftype)1); fft_2_s(v, (ftype)1); vstore2(v[0], 0, p); vstore2(v[1], 1, p); }\n";
    const std::string src = std::string(gk::fft_front_nsg_text(false)) + body;
    EXPECT_FALSE(builds(src, "-DFWD_DIR=1"));
    EXPECT_TRUE(builds(src, "-DFWD_DIR=1 -DFACT2=2"));
    // The generic routines are only there when asked for.
    const std::string generic =
        "__kernel void g(__global float* p) { ODD_DEFAULT_FUNC(67u, 1u, 1u, p, p + 200); }\n";
    EXPECT_FALSE(builds(std::string(gk::fft_front_nsg_text(false)) + generic, "-DFWD_DIR=1"));
    EXPECT_TRUE(builds(std::string(gk::fft_front_nsg_text(false)) + generic, "-DFWD_DIR=1 -DNEED_ODD_DEFAULT"));
}

}  // namespace
