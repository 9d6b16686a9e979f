// Build-time generator of the OpenCL C kernel texts of the GPU DFT backends.
//
// It writes the common front that every 1D complex kernel text begins with:
// the precision types, the lane-pair vocabulary of the sub-group form, the
// twiddle macros, NEED_FFT_FUNC, the straight-line transforms fft_1_s ..
// fft_64_s and the generic direct-DFT routines. Two forms exist per precision:
//   sg  - one complex value spread over a lane pair of a sub-group
//         (cl_tarvo_subgroups), ptype = ftype;
//   nsg - one complex value per work-item (NONSUBGRP), ptype = ftype2.
// The transform bodies are the same text in both forms: they only use
// ptype arithmetic, pmOne * swapReIm(x) (multiplication by -i forward, +i
// backward) and TWIDL_MULT_INPLACE, which each form defines for itself.
//
// Usage:
//   fft_front_gen cl  <form> <prec> <out.cl>   [body.cl ...]
//   fft_front_gen cpp <form> <prec> <out.cpp> <symbol> [body.cl ...]
//   fft_front_gen esimd <out.hpp>
//   fft_front_gen smdreal <d|s> <out.cl>
// "cl" writes the text itself, "cpp" writes a C++ source that defines
//   const char korami::ovx::dft::gpu_kernels::<symbol>[]
// holding the front followed by the given body files, so that the library
// carries the whole text and reads nothing from disk at run time.

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using real = long double;
const real kPi = 3.141592653589793238462643383279502884L;

bool g_double = true;  // precision of the text being written
bool g_esimd = false;  // writing the explicit-SIMD C++ header

// A floating literal at the text's precision, in hexadecimal so that the
// compiler reads back exactly the value written.
std::string lit(real v) {
    char b[64];
    if (g_esimd) {
        std::snprintf(b, sizeof b, "%a", static_cast<double>(v));
        return std::string("T(") + b + ")";
    }
    if (g_double) {
        std::snprintf(b, sizeof b, "%a", static_cast<double>(v));
        std::string s(b);
        return v < 0 ? "(" + s + ")" : s;
    }
    std::snprintf(b, sizeof b, "%a", static_cast<double>(static_cast<float>(v)));
    std::string s = std::string(b) + "f";
    return v < 0 ? "(" + s + ")" : s;
}

// cos and sin of 2*pi*m/n with exact zeros and ones where they are exact.
void cis(long m, long n, real& c, real& s) {
    m %= n;
    if (m < 0) m += n;
    if (m == 0) { c = 1; s = 0; return; }
    if (2 * m == n) { c = -1; s = 0; return; }
    if (4 * m == n) { c = 0; s = 1; return; }
    if (4 * m == 3 * n) { c = 0; s = -1; return; }
    c = std::cos(2 * kPi * m / n);
    s = std::sin(2 * kPi * m / n);
}

// The two forms of a sub-group routine, written at once from one
// description: the per-lane form, where ptype is the part one lane holds and
// swapReIm exchanges the parts between the lanes of a pair, and the
// lane-pair form, where ptype holds both parts and every part-wise statement
// is written once per part. The straight-line transforms (writer) and the
// direct DFTs (direct_dft) are both written through it.
//
// A part-wise statement is a template whose markers stand for what differs
// between the forms (per lane; per part):
//   %.       the part of a ptype value: nothing; .re or .im
//   %_       the part of a temporary split into parts: nothing; _re or _im
//   %T       the type of such a temporary: ptype; ftype
//   %P       pmOne of the part: pmOne; pmOne or (-pmOne) (the odd lane's sign)
//   %< %>    the swap of the enclosed expression: swapReIm(...); the enclosed
//            markers name the other part
struct two_forms {
    std::ostringstream lane;  // per-lane form
    std::ostringstream pair;  // lane-pair form

    // comp: -1 the per-lane form, 0 the real part, 1 the imaginary part.
    static std::string part_text(const std::string& t, int comp) {
        std::string r;
        int part = comp;
        for (size_t i = 0; i < t.size(); ++i) {
            if (t[i] != '%') {
                r += t[i];
                continue;
            }
            const char k = i + 1 < t.size() ? t[++i] : '\0';
            if (k == '.') r += comp < 0 ? "" : (part ? ".im" : ".re");
            else if (k == '_') r += comp < 0 ? "" : (part ? "_im" : "_re");
            else if (k == 'T') r += comp < 0 ? "ptype" : "ftype";
            else if (k == 'P') r += part == 1 ? "(-pmOne)" : "pmOne";
            else if (k == '<' && comp < 0) r += "swapReIm(";
            else if (k == '<') part = 1 - comp;
            else if (k == '>' && comp < 0) r += ")";
            else if (k == '>') part = comp;
            else {
                std::cerr << "fft_front_gen: bad template marker in: " << t << "\n";
                std::exit(1);
            }
        }
        return r;
    }
    // A line that reads the same in both forms.
    void line(const std::string& text) {
        lane << text << "\n";
        pair << text << "\n";
    }
    // A part-wise statement: one line per lane, one line per part.
    void parts(const std::string& indent, const std::string& t) {
        lane << indent << part_text(t, -1) << "\n";
        pair_parts(indent, t);
    }
    // A loop of one part-wise statement: a single line per lane, a block of
    // the two part statements in the pair form.
    void loop(const std::string& indent, const std::string& head, const std::string& t) {
        lane << indent << head << " " << part_text(t, -1) << "\n";
        pair << indent << head << " {\n";
        pair_parts(indent + "  ", t);
        pair << indent << "}\n";
    }
    // ptype name = t: one declaration per lane; the pair form declares the
    // value and then sets it part by part.
    void init(const std::string& indent, const std::string& name, const std::string& t) {
        lane << indent << "ptype " << name << " = " << part_text(t, -1) << ";\n";
        pair << indent << "ptype " << name << ";\n";
        pair_parts(indent, name + "%. = " + t + ";");
    }

private:
    void pair_parts(const std::string& indent, const std::string& t) {
        pair << indent << part_text(t, 0) << "\n" << indent << part_text(t, 1) << "\n";
    }
};

// The two forms of a sub-group routine, chosen by the text's compiler: the
// lane-pair form where the sub-group emulation runs one work-item per lane
// pair, the per-lane form elsewhere.
std::string lane_pair_choice(const std::string& pair, const std::string& lane) {
    return "#ifdef TARVO_SG_LANE_PAIR\n" + pair + "#else\n" + lane + "#endif\n";
}

// Straight-line code writer. Every value is a fresh temporary; each
// statement is written in two forms at once: the per-lane form (one ptype
// per temporary, the swap a lane exchange) and the lane-pair form (two
// scalars tN_r, tN_i per temporary, the swap a choice of the other scalar).
// Its expressions have a shorter template of their own, as every operand is
// a temporary: "@t" stands for t (its own part in the pair form), "#t" for
// swapReIm(t) (the other part), "$" for pmOne (negated for the imaginary
// part, as the odd lane's pmOne is).
struct writer : two_forms {
    int next = 0;

    static std::string render(const std::string& t, int comp) {
        std::string r;
        for (size_t i = 0; i < t.size(); ++i) {
            const char ch = t[i];
            if (ch == '$') {
                r += comp == 1 ? "(-pmOne)" : "pmOne";
            } else if (ch == '@' || ch == '#') {
                size_t j = i + 1;
                while (j < t.size() && (std::isalnum(static_cast<unsigned char>(t[j])) || t[j] == '_')) ++j;
                const std::string name = t.substr(i + 1, j - i - 1);
                if (comp < 0) r += ch == '@' ? name : "swapReIm(" + name + ")";
                else r += name + (((ch == '@') == (comp == 0)) ? "_r" : "_i");
                i = j - 1;
            } else {
                r += ch;
            }
        }
        return r;
    }
    std::string fresh(const std::string& expr) {
        std::string name = "t" + std::to_string(next++);
        lane << "  ptype " << name << " = " << render(expr, -1) << ";\n";
        pair << "  const ftype " << name << "_r = " << render(expr, 0) << ";\n"
             << "  const ftype " << name << "_i = " << render(expr, 1) << ";\n";
        return name;
    }
    std::string load(long j) {
        std::string name = "t" + std::to_string(next++);
        lane << "  ptype " << name << " = in[" << j << "];\n";
        pair << "  const ftype " << name << "_r = in[" << j << "].re;\n"
             << "  const ftype " << name << "_i = in[" << j << "].im;\n";
        return name;
    }
    void store(long k, const std::string& v) {
        lane << "  in[" << k << "] = " << v << ";\n";
        pair << "  in[" << k << "].re = " << v << "_r;\n  in[" << k << "].im = " << v << "_i;\n";
    }
    std::string mul_mi(const std::string& v) { return fresh("$*#" + v); }

    // v * exp(-+ 2 pi i m / n): forward sign from pmOne / FWD_DIR.
    std::string twiddle(const std::string& v, long m, long n) {
        m %= n;
        if (m == 0) return v;
        if (2 * m == n) return fresh("-@" + v);
        if (4 * m == n) return mul_mi(v);
        if (4 * m == 3 * n) return fresh("-$*#" + v);
        real c, s;
        cis(m, n, c, s);
        std::string name = "t" + std::to_string(next++);
        lane << "  ptype " << name << " = " << v << ";\n";
        lane << "  TWIDL_MULT_INPLACE(" << lit(c) << ", pmOne*" << lit(s) << ", " << name << ");\n";
        // TWIDL_MULT_INPLACE's expression, part by part.
        pair << "  const ftype " << name << "_r = (" << lit(c) << ")*(" << v << "_r) + (pmOne*" << lit(s) << ")*("
             << v << "_i);\n";
        pair << "  const ftype " << name << "_i = (" << lit(c) << ")*(" << v << "_i) + ((-pmOne)*" << lit(s)
             << ")*(" << v << "_r);\n";
        return name;
    }

    std::vector<std::string> dft(const std::vector<std::string>& x);
    std::vector<std::string> prime(const std::vector<std::string>& x);
};

long smallest_prime_factor(long n) {
    for (long p = 2; p * p <= n; ++p)
        if (n % p == 0) return p;
    return n;
}

// Symmetric-pair form of an odd prime size (also used for 3 and 5).
std::vector<std::string> writer::prime(const std::vector<std::string>& x) {
    const long n = static_cast<long>(x.size());
    const long h = (n - 1) / 2;
    std::vector<std::string> t(h + 1), u(h + 1), X(n);
    for (long j = 1; j <= h; ++j) {
        t[j] = fresh("@" + x[j] + " + @" + x[n - j]);
        u[j] = fresh("@" + x[j] + " - @" + x[n - j]);
    }
    std::string sum = "@" + x[0];
    for (long j = 1; j <= h; ++j) sum += " + @" + t[j];
    X[0] = fresh(sum);
    for (long k = 1; k <= h; ++k) {
        std::string a = "@" + x[0], b;
        for (long j = 1; j <= h; ++j) {
            real c, s;
            cis(j * k, n, c, s);
            a += " + " + lit(c) + "*@" + t[j];
            b += (b.empty() ? "" : " + ") + lit(s) + "*@" + u[j];
        }
        std::string A = fresh(a);
        std::string B = fresh(b);
        std::string Bm = mul_mi(B);
        X[k] = fresh("@" + A + " + @" + Bm);
        X[n - k] = fresh("@" + A + " - @" + Bm);
    }
    return X;
}

// Transform of the values x (natural order in and out), unnormalised.
std::vector<std::string> writer::dft(const std::vector<std::string>& x) {
    const long n = static_cast<long>(x.size());
    if (n == 1) return x;
    auto add = [this](const std::string& a, const std::string& b) { return fresh("@" + a + " + @" + b); };
    auto sub = [this](const std::string& a, const std::string& b) { return fresh("@" + a + " - @" + b); };
    if (n == 2) return {add(x[0], x[1]), sub(x[0], x[1])};
    if (n == 4) {
        std::string a = add(x[0], x[2]), b = sub(x[0], x[2]);
        std::string c = add(x[1], x[3]), d = mul_mi(sub(x[1], x[3]));
        return {add(a, c), add(b, d), sub(a, c), sub(b, d)};
    }
    const long p = smallest_prime_factor(n);
    if (p == n) return prime(x);
    // Mixed radix: n = n1 * n2; inner transforms of size n1 over the strided
    // subsets x[n2*j1 + j2], twiddles w_n^(j2*k1), outer transforms of size n2.
    const long n1 = (n % 4 == 0) ? 4 : p;
    const long n2 = n / n1;
    std::vector<std::vector<std::string>> y(n2);
    for (long j2 = 0; j2 < n2; ++j2) {
        std::vector<std::string> sub(n1);
        for (long j1 = 0; j1 < n1; ++j1) sub[j1] = x[n2 * j1 + j2];
        y[j2] = dft(sub);
        for (long k1 = 0; k1 < n1; ++k1) y[j2][k1] = twiddle(y[j2][k1], j2 * k1, n);
    }
    std::vector<std::string> X(n);
    for (long k1 = 0; k1 < n1; ++k1) {
        std::vector<std::string> sub(n2);
        for (long j2 = 0; j2 < n2; ++j2) sub[j2] = y[j2][k1];
        std::vector<std::string> z = dft(sub);
        for (long k2 = 0; k2 < n2; ++k2) X[k1 + n1 * k2] = z[k2];
    }
    return X;
}

std::string fft_function(long n, bool sg) {
    writer w;
    std::vector<std::string> x(n);
    for (long j = 0; j < n; ++j) x[j] = w.load(j);
    std::vector<std::string> X = w.dft(x);
    for (long k = 0; k < n; ++k) w.store(k, X[k]);
    std::ostringstream f;
    const std::string sig =
        "OVX_CODELET void fft_" + std::to_string(n) + "_s(ptype *in, const ftype pmOne TARVO_SG_PARAM)\n{\n";
    if (n == 1) {
        f << sig << "  (void)in; (void)pmOne;\n}\n\n";
        return f.str();
    }
    f << "#if NEED_FFT_FUNC(" << n << ")\n";
    const std::string lane = sig + w.lane.str() + "}\n";
    f << (sg ? lane_pair_choice(sig + w.pair.str() + "}\n", lane) : lane);
    f << "#endif\n";
    f << "\n";
    return f.str();
}

// The straight-line transforms the generator writes, one entry per size:
// the front of every OpenCL C kernel text holds fft_<n>_s for each of them
// (compiled only for a kernel whose factor macros name n, NEED_FFT_FUNC);
// the explicit-SIMD header also holds fft_<n> for those marked, the factors
// that the explicit-SIMD two-factor plan combines.
struct codelet_size {
    long n;
    bool esimd;
};
const codelet_size kCodeletSizes[] = {
    {1, false},  {2, false},  {3, false},  {4, false},  {5, false},  {6, false},  {7, false},  {8, true},
    {9, true},   {10, true},  {11, false}, {12, true},  {13, false}, {14, false}, {15, false}, {16, true},
    {17, false}, {18, false}, {19, false}, {20, false}, {21, false}, {22, false}, {23, false}, {24, false},
    {25, true},  {26, false}, {27, false}, {28, false}, {29, false}, {30, false}, {31, false}, {32, true},
    {33, false}, {34, false}, {35, false}, {36, false}, {37, false}, {38, false}, {39, false}, {40, false},
    {41, false}, {42, false}, {43, false}, {44, false}, {45, false}, {46, false}, {47, false}, {48, false},
    {49, false}, {50, false}, {51, false}, {52, false}, {53, false}, {54, false}, {55, false}, {56, false},
    {57, false}, {58, false}, {59, false}, {60, false}, {61, false}, {62, false}, {63, false}, {64, true},
};

// The macros by which a sub-group or NONSUBGRP kernel names the sizes it
// transforms: NEED_FFT_FUNC(n) is true when one of them is n. A kernel may
// also route FACT0 or FACT1 to a direct DFT of that size
// (-D<macro>_DEFAULT_FUNC=<name>) where no straight-line transform serves;
// FACT0's has no odd-size branch, as the two-factor backend that uses it takes
// even lengths only and gives FACT0 the even factor.
enum class direct_dft_kind { none, even_sizes, any_size };
struct factor_macro {
    const char* name;
    direct_dft_kind direct;
};
const factor_macro kFactorMacros[] = {
    {"FACT0", direct_dft_kind::even_sizes}, {"FACT1", direct_dft_kind::any_size},
    {"FACT2", direct_dft_kind::none},       {"FACT3", direct_dft_kind::none},
    {"N0_FACT0", direct_dft_kind::none},    {"N0_FACT1", direct_dft_kind::none},
    {"N1_FACT0", direct_dft_kind::none},    {"N1_FACT1", direct_dft_kind::none},
    {"DIM0FACT0", direct_dft_kind::none},   {"DIM0FACT1", direct_dft_kind::none},
    {"DIM0FACT2", direct_dft_kind::none},   {"DIM0FACT3", direct_dft_kind::none},
    {"DIM1FACT0", direct_dft_kind::none},   {"DIM1FACT1", direct_dft_kind::none},
};

// The text's opening: what it is, its extensions, the defaults of the
// sub-group emulation's hooks and the precision types.
std::string precision_head(bool sg) {
    std::ostringstream o;
    o << "/* Common front of the 1D complex transform kernels ("
      << (sg ? "sub-group" : "NONSUBGRP") << " form, " << (g_double ? "double" : "float")
      << " precision). Generated at build time. */\n";
    if (sg) o << "#pragma OPENCL EXTENSION cl_tarvo_subgroups : enable\n";
    if (g_double) o << "#pragma OPENCL EXTENSION cl_khr_fp64 : enable\n";
    o << "#ifndef TARVO_SG_EMULATION\n"
         "#define TARVO_SG_KERNEL_SCRATCH(S)\n"
         "#define TARVO_SG_PARAM\n"
         "#define TARVO_SG_ARG\n"
         "#endif\n\n";
    // The transforms are always inlined into their callers: a call left in
    // a kernel keeps the device compiler from vectorising the work-item
    // loops around it across work-items, and the register array of the
    // transform then lives in memory. Some of the larger transforms sit
    // just above the compiler's own inlining threshold.
    o << "#define OVX_CODELET __attribute__((always_inline))\n";
    o << "#define OVX_TEXT_IS_DOUBLE " << (g_double ? 1 : 0) << "\n";
    const char* t = g_double ? "double" : "float";
    o << "typedef " << t << " ftype;\n"
      << "typedef " << t << "2 ftype2;\n"
      << "typedef " << t << "3 ftype3;\n"
      << "typedef " << t << "4 ftype4;\n"
      << "typedef " << t << "8 ftype8;\n";
    return o.str();
}

// The sub-group form's vocabulary: ptype, the lane-pair names, swaps and
// twiddle multiplications, per lane or per lane pair.
std::string lane_pair_vocabulary() {
    std::ostringstream o;
    o << "/* Lane-pair vocabulary: a complex value lives in two neighbouring lanes,\n"
         "   the even lane the real part, the odd lane the imaginary part. Texts\n"
         "   that use only these names for every per-lane notion (which value and\n"
         "   part a work-item holds, its loads and stores, swaps, signs) declare\n"
         "   TARVO_SG_PAIR_VOCABULARY; where the sub-group emulation then runs one\n"
         "   work-item per lane pair it defines TARVO_SG_LANE_PAIR and the names\n"
         "   itself, and ptype holds both parts. */\n"
         "#ifdef TARVO_SG_LANE_PAIR\n"
         "typedef struct { ftype re; ftype im; } ptype;\n"
         "#else\n"
         "typedef ftype ptype;\n"
         "/* lane, and the complex value (pair) and part of the lane */\n"
         "#define SG_LANE() ((uint)get_sub_group_local_id())\n"
         "#define SG_IS_IMAG() (SG_LANE() & 1u)\n"
         "#define SG_CPLX_INDEX() (SG_LANE() >> 1)\n"
         "/* the work-item's complex slot in a one-dimensional work-group */\n"
         "#define SG_WG_CPLX_ID() ((int)(get_local_id(0) >> 1))\n"
         "/* the same slot, spelt apart for stage k of a kernel: k times local id\n"
         "   1, which is 0 in the one-dimensional launches that use it, is added.\n"
         "   The device compiler merges equal expressions of the local id across a\n"
         "   barrier, keeps the merged value per work-item and reads it back after\n"
         "   the barrier, which turns the accesses it indexes into gathers and\n"
         "   scatters; an index spelt differently in each stage is computed again\n"
         "   and stays affine in the work-item. */\n"
         "#define SG_WG_CPLX_ID_AT(k) ((int)((get_local_id(0) + (k) * get_local_id(1)) >> 1))\n"
         "/* exchange of the parts, and the sign that makes pmOne * swap(x) = -+i x */\n"
         "#define SG_SWAP_RE_IM(x) tarvo_sub_group_shuffle_xor((x), 1)\n"
         "#define SG_PM_ONE(bwd) ((((SG_LANE() + (uint)(bwd)) & 1u) == 0u) ? (ftype)1 : (ftype)-1)\n"
         "#define SG_ZERO ((ptype)0)\n"
         "/* real part at p[at], imaginary part at p[at + step] */\n"
         "#define SG_LOAD_PARTS(p, at, step) ((p)[(at) + (step) * (int)SG_IS_IMAG()])\n"
         "#define SG_STORE_PARTS(p, at, step, v) ((p)[(at) + (step) * (int)SG_IS_IMAG()] = (v))\n"
         "/* complex value k of an interleaved array */\n"
         "#define SG_LOAD(p, k) SG_LOAD_PARTS((p), 2 * (k), 1)\n"
         "#define SG_STORE(p, k, v) SG_STORE_PARTS((p), 2 * (k), 1, (v))\n"
         "/* per-lane values: lane L's at p[at + L] */\n"
         "#define SG_LANE_LOAD(p, at) ((p)[(at) + (int)SG_LANE()])\n"
         "#define SG_LANE_STORE(p, at, v) ((p)[(at) + (int)SG_LANE()] = (v))\n";
    if (g_double) {
        o << "#define SG_BLOCK_LOAD(p) as_double(tarvo_sub_group_block_read_ul((const __global ulong*)(p)))\n"
             "#define SG_BLOCK_STORE(p, v) tarvo_sub_group_block_write_ul((__global ulong*)(p), as_ulong(v))\n";
    } else {
        o << "#define SG_BLOCK_LOAD(p) as_float(tarvo_sub_group_block_read((const __global uint*)(p)))\n"
             "#define SG_BLOCK_STORE(p, v) tarvo_sub_group_block_write((__global uint*)(p), as_uint(v))\n";
    }
    o << "/* reg <- a reg + sgn b swap(reg), a and b per-lane values, sgn uniform */\n"
         "#define SG_MUL_ADD_SWAP(reg, a, sgn, b) { (reg) = (a) * (reg) + (sgn) * (b) * SG_SWAP_RE_IM(reg); }\n"
         "/* reg <- c reg - s pm swap(reg), c and s uniform, pm = SG_PM_ONE */\n"
         "#define SG_TWIDDLE_PM(reg, c, s, pm) { (reg) = (c) * (reg) - (s) * (pm) * SG_SWAP_RE_IM(reg); }\n"
         "/* one exchange for a whole vector */\n"
         "#define swapReImVector2(v) tarvo_sub_group_shuffle_xor((ftype2)(v), 1)\n"
         "#define swapReImVector3(v) tarvo_sub_group_shuffle_xor((ftype3)(v), 1)\n"
         "#define swapReImVector4(v) tarvo_sub_group_shuffle_xor((ftype4)(v), 1)\n"
         "#define TWIDL_MULT_INPLACE(twr, pmOne_twi, var) "
         "{ (var) = (twr)*(var) + (pmOne_twi)*swapReIm(var); }\n"
         "#define TWIDL_MULT_INPLACE_VEC2(twr, pmOne_twi, var) "
         "{ (var) = (twr)*(var) + (pmOne_twi)*swapReImVector2(var); }\n"
         "#define TWIDL_MULT_INPLACE_VEC3(twr, pmOne_twi, var) "
         "{ (var) = (twr)*(var) + (pmOne_twi)*swapReImVector3(var); }\n"
         "#define TWIDL_MULT_INPLACE_VEC4(twr, pmOne_twi, var) "
         "{ (var) = (twr)*(var) + (pmOne_twi)*swapReImVector4(var); }\n"
         "#endif\n"
         "#define swapReIm(reg) SG_SWAP_RE_IM(reg)\n"
         "/* reg <- complex value k of the interleaved array p where ok, else zero.\n"
         "   k names a value that exists whatever ok is (a lane without a value\n"
         "   reads one that exists, the caller clamps k), so the load is made\n"
         "   unconditionally and only its result is chosen. */\n"
         "#define SG_LOAD_OR_ZERO(reg, p, k, ok) "
         "do { const ptype ld_v_ = SG_LOAD((p), (k)); (reg) = (ok) ? ld_v_ : SG_ZERO; } while (0)\n"
         "/* The distance (1) from the real to the imaginary part of a value of an\n"
         "   interleaved array, as a value the device compiler cannot fold: every\n"
         "   launch has at least one dimension. With a literal 1 the compiler packs\n"
         "   the two stores of a value into a two-element vector store and then\n"
         "   does not vectorise the loop over the work-items. */\n"
         "#define SG_IM_STEP ((int)(get_work_dim() != 0u))\n"
         "/* complex value k of an interleaved array, stored with its parts apart */\n"
         "#define SG_STORE_APART(p, k, v) SG_STORE_PARTS((p), 2 * (k), SG_IM_STEP, (v))\n"
         "/* reg <- reg times its twiddle from a lane table: (c, c) pairs in the 8\n"
         "   values at `at`, (s, -s) pairs in the next 8. Only the pair's c and s\n"
         "   are read (the even lane's values): reg <- c reg + sgn (+-s) swap(reg),\n"
         "   the sign of s taken from SG_PM_ONE, which halves the table loads. */\n"
         "#define SG_TABLE_TWIDDLE(reg, tab, at, sgn) "
         "SG_TWIDDLE_PM(reg, (tab)[(at) + 2 * (int)SG_CPLX_INDEX()], (tab)[(at) + 8 + 2 * (int)SG_CPLX_INDEX()], "
         "-(sgn) * SG_PM_ONE(0))\n\n";
    return o.str();
}

// The NONSUBGRP form's vocabulary: a complex ptype and the swap and twiddle
// multiplication signed by the direction.
std::string nonsubgroup_vocabulary() {
    std::ostringstream o;
    o << "typedef ftype2 ptype;\n\n"
         "/* One complex value per work-item; the direction comes from FWD_DIR. */\n"
         "#if defined(FWD_DIR) && FWD_DIR\n"
         "#define NSG_DIR_SIGN ((ftype)-1)\n"
         "#else\n"
         "#define NSG_DIR_SIGN ((ftype)1)\n"
         "#endif\n"
         "#define swapReIm(var) ((ptype)(-NSG_DIR_SIGN*(var).s1, NSG_DIR_SIGN*(var).s0))\n"
         "#define TWIDL_MULT_INPLACE(twr, twi, var) { ptype tw_v_ = (var); "
         "(var) = (ptype)((twr)*tw_v_.s0 - NSG_DIR_SIGN*(twi)*tw_v_.s1, "
         "(twr)*tw_v_.s1 + NSG_DIR_SIGN*(twi)*tw_v_.s0); }\n"
         "#define pmOne_NSG ((ftype)1)\n\n";
    return o.str();
}

// NEED_FFT_FUNC(S): whether one of the factor macros names the size S; an
// undefined factor macro counts as 0.
std::string need_fft_func() {
    std::ostringstream o;
    o << "#ifndef NEED_FFT_FUNC\n";
    for (const factor_macro& f : kFactorMacros)
        o << "#ifdef " << f.name << "\n#define OVX_NF_" << f.name << " (" << f.name << ")\n#else\n#define OVX_NF_"
          << f.name << " 0\n#endif\n";
    o << "#define NEED_FFT_FUNC(S) (";
    bool first = true;
    for (const factor_macro& f : kFactorMacros) {
        o << (first ? "" : " || ") << "(S) == OVX_NF_" << f.name;
        first = false;
    }
    o << ")\n#endif\n\n";
    return o.str();
}

std::string head(bool sg) {
    return precision_head(sg) + (sg ? lane_pair_vocabulary() : nonsubgroup_vocabulary()) + need_fft_func();
}

// Generic direct DFTs of the NONSUBGRP form: the size is known only at run
// time, the values are read from and written to global memory. Each output
// pairs x_j with x_(n-j); angles are reduced mod n before cospi/sinpi so that
// large sizes keep their accuracy.
std::string generic_nsg() {
    std::ostringstream o;
    o << "#if defined(NEED_ODD_DEFAULT) || defined(NEED_EVEN_DEFAULT)\n"
         "#define OVX_DEF_LOAD(k, s, p) vload2((size_t)(k) * (size_t)(s), (p))\n"
         "#endif\n"
         "#ifdef NEED_ODD_DEFAULT\n"
         "void ODD_DEFAULT_FUNC(uint fact, ulong is, ulong os, const __global ftype *in, __global ftype *out)\n"
         "{\n"
         "  const ptype x0 = OVX_DEF_LOAD(0, is, in);\n"
         "  ptype s0 = x0;\n"
         "  for (uint j = 1; j < fact; ++j) s0 += OVX_DEF_LOAD(j, is, in);\n"
         "  vstore2(s0, 0, out);\n"
         "  for (uint i = 1; i <= fact / 2; ++i) {\n"
         "    ptype a = x0, b = x0;\n"
         "    for (uint j = 1; j <= fact / 2; ++j) {\n"
         "      const ptype xf = OVX_DEF_LOAD(j, is, in), xb = OVX_DEF_LOAD(fact - j, is, in);\n"
         "      const ptype xadd = xf + xb, xsub = xf - xb;\n"
         "      const ulong r = ((ulong)i * (ulong)j) % (ulong)fact;\n"
         "      const ftype ang = (ftype)(2 * r) / (ftype)fact;\n"
         "      const ftype c = cospi(ang), s = sinpi(ang);\n"
         "      const ptype m = swapReIm(xsub);\n"
         "      a += c * xadd + s * m;\n"
         "      b += c * xadd - s * m;\n"
         "    }\n"
         "    vstore2(a, (size_t)i * os, out);\n"
         "    vstore2(b, (size_t)(fact - i) * os, out);\n"
         "  }\n"
         "}\n"
         "#endif\n"
         "#ifdef NEED_EVEN_DEFAULT\n"
         "void EVEN_DEFAULT_FUNC(uint fact, ulong is, ulong os, const __global ftype *in, __global ftype *out)\n"
         "{\n"
         "  const ptype x0 = OVX_DEF_LOAD(0, is, in);\n"
         "  const ptype xh = OVX_DEF_LOAD(fact / 2, is, in);\n"
         "  ptype s0 = x0;\n"
         "  for (uint j = 1; j < fact; ++j) s0 += OVX_DEF_LOAD(j, is, in);\n"
         "  vstore2(s0, 0, out);\n"
         "  for (uint i = 1; i < fact; ++i) {\n"
         "    ptype a = (i & 1u) ? x0 - xh : x0 + xh;\n"
         "    for (uint j = 1; j < fact / 2; ++j) {\n"
         "      const ptype xf = OVX_DEF_LOAD(j, is, in), xb = OVX_DEF_LOAD(fact - j, is, in);\n"
         "      const ulong r = ((ulong)i * (ulong)j) % (ulong)fact;\n"
         "      const ftype ang = (ftype)(2 * r) / (ftype)fact;\n"
         "      a += cospi(ang) * (xf + xb) + sinpi(ang) * swapReIm(xf - xb);\n"
         "    }\n"
         "    vstore2(a, (size_t)i * os, out);\n"
         "  }\n"
         "}\n"
         "#endif\n\n";
    return o.str();
}

// The generic direct DFTs of the sub-group form, of a size F given by a
// macro. Each output pairs x_j with x_(F-j); angles are reduced mod F before
// cospi/sinpi so that large sizes keep their accuracy.
//
// The size is a compile-time macro, so the routine keeps the F roots
// cos/sin(2 pi r/F), r = 0..F-1, in a private table (literals for the sizes
// the kernels use, else filled once per call with cospi/sinpi; the term of
// (i, j) uses root (i*j) mod F), and the folded pairs x_j + x_(F-j) and
// the swapped x_j - x_(F-j), which depend on j only, once per call: every
// lane-pair swap stands outside the (i, j) loops, in loops of compile-time
// bounds that every work-item runs alike. Every loop is unrolled: the
// indices become constants, so the tables stay in registers instead of
// being indexed in memory.

// The sizes whose roots the direct DFTs carry as literals.
const long kDirectTableFirst = 33, kDirectTableLast = 64;

// Entry, the table of roots and output 0 (the sum of all inputs).
void direct_dft_head(two_forms& w, const std::string& name, const std::string& F) {
    w.line("OVX_CODELET void " + name + "(ptype *in, const ftype pmOne TARVO_SG_PARAM)");
    w.line("{");
    w.line("  ptype res[" + F + "];");
    // The roots of the sizes the kernels route here (33 to 64) are written
    // as literals, so that no work-item evaluates cospi and sinpi per call;
    // any other size fills the table at run time.
    for (long n = kDirectTableFirst; n <= kDirectTableLast; ++n) {
        w.line(std::string(n == kDirectTableFirst ? "#if " : "#elif ") + F + " == " + std::to_string(n));
        std::string c = "  const ftype cr[" + std::to_string(n) + "] = {", s = "  const ftype sr[" + std::to_string(n) + "] = {";
        for (long r = 0; r < n; ++r) {
            real cv, sv;
            cis(r, n, cv, sv);
            c += (r ? ", " : "") + lit(cv);
            s += (r ? ", " : "") + lit(sv);
        }
        w.line(c + "};");
        w.line(s + "};");
    }
    w.line("#else");
    w.line("  ftype cr[" + F + "], sr[" + F + "];");
    w.line("  #pragma unroll");
    w.line("  for (uint r = 0; r < (uint)" + F + "; ++r) {");
    w.line("    const ftype ang = (ftype)(2 * r) / (ftype)" + F + ";");
    w.line("    cr[r] = cospi(ang);");
    w.line("    sr[r] = sinpi(ang);");
    w.line("  }");
    w.line("#endif");
    w.line("  const ptype x0 = in[0];");
    w.line("  ptype s0 = x0;");
    w.line("  #pragma unroll");
    w.loop("  ", "for (uint j = 1; j < " + F + "; ++j)", "s0%. += in[j]%.;");
    w.line("  res[0] = s0;");
}

// Odd F: the sums x_j + x_(F-j) and the swapped differences times pmOne,
// then outputs i and F - i together from the same terms.
void direct_dft_odd(two_forms& w, const std::string& F) {
    w.line("  ptype xadd[" + F + " / 2 + 1], m[" + F + " / 2 + 1];");
    w.line("  #pragma unroll");
    w.line("  for (uint j = 1; j <= " + F + " / 2; ++j) {");
    w.parts("    ", "const %T xsub%_ = in[j]%. - in[" + F + " - j]%.;");
    w.parts("    ", "xadd[j]%. = in[j]%. + in[" + F + " - j]%.;");
    w.parts("    ", "m[j]%. = %P * %<xsub%_%>;");
    w.line("  }");
    w.line("  #pragma unroll");
    w.line("  for (uint i = 1; i <= " + F + " / 2; ++i) {");
    w.line("    ptype a = x0, b = x0;");
    w.line("    #pragma unroll");
    w.line("    for (uint j = 1; j <= " + F + " / 2; ++j) {");
    w.line("      const uint r = (i * j) % (uint)" + F + ";");
    w.line("      const ftype c = cr[r], s = sr[r];");
    w.parts("      ", "a%. += c * xadd[j]%. + s * m[j]%.;");
    w.parts("      ", "b%. += c * xadd[j]%. - s * m[j]%.;");
    w.line("    }");
    w.line("    res[i] = a;");
    w.line("    res[" + F + " - i] = b;");
    w.line("  }");
}

// Even F: x_(F/2) enters every output with the sign (-1)^i; the pairs
// j = 1 .. F/2 - 1 as in the odd case. Outputs i and F - i share their
// cosine and sine sums (the sines change sign, the sign of x_(F/2) does
// not, F being even), so both come from one pass over j; output F/2 has
// no sine terms.
//
// With H = F/2, the roots of j and H - j agree up to sign, (-1)^i for the
// cosine and -(-1)^i for the sine, so each sum takes the pairs (j, H - j),
// j = 1 .. (H-1)/2, once: through their sums for even i and their
// differences for odd i (the sines the other way round). For an even H the
// middle term j = H/2 has the root +-1 or 0 and enters without a product.
void direct_dft_even(two_forms& w, const std::string& F) {
    const std::string H = "(" + F + " / 2)", J = "((" + F + " / 2 - 1) / 2)";
    w.line("  const ptype xh = in[" + H + "];");
    w.line("  ptype xadd[" + H + "], sw[" + H + "];");
    w.line("  #pragma unroll");
    w.line("  for (uint j = 1; j < " + H + "; ++j) {");
    w.parts("    ", "xadd[j]%. = in[j]%. + in[" + F + " - j]%.;");
    w.parts("    ", "sw[j]%. = %<in[j]%. - in[" + F + " - j]%.%>;");
    w.line("  }");
    w.line("  ptype ep[" + J + " + 1], em[" + J + " + 1], sp[" + J + " + 1], sm[" + J + " + 1];");
    w.line("  #pragma unroll");
    w.line("  for (uint j = 1; j <= " + J + "; ++j) {");
    w.parts("    ", "ep[j]%. = xadd[j]%. + xadd[" + H + " - j]%.;");
    w.parts("    ", "em[j]%. = xadd[j]%. - xadd[" + H + " - j]%.;");
    w.parts("    ", "sp[j]%. = sw[j]%. + sw[" + H + " - j]%.;");
    w.parts("    ", "sm[j]%. = sw[j]%. - sw[" + H + " - j]%.;");
    w.line("  }");
    w.line("  #pragma unroll");
    w.line("  for (uint i = 1; i <= " + H + "; ++i) {");
    w.init("    ", "a", "(i & 1u) ? x0%. - xh%. : x0%. + xh%.");
    w.init("    ", "c", "(ftype)0");
    w.init("    ", "s", "(ftype)0");
    w.line("    #pragma unroll");
    w.line("    for (uint j = 1; j <= " + J + "; ++j) {");
    w.line("      const uint r = (i * j) % (uint)" + F + ";");
    w.line("      if (i & 1u) {");
    w.parts("        ", "c%. += cr[r] * em[j]%.;");
    w.parts("        ", "s%. += sr[r] * sp[j]%.;");
    w.line("      } else {");
    w.parts("        ", "c%. += cr[r] * ep[j]%.;");
    w.parts("        ", "s%. += sr[r] * sm[j]%.;");
    w.line("      }");
    w.line("    }");
    // The middle term: root (i H/2) mod F is 0 or H for even i (cosine
    // +-1, sine 0) and H/2 or 3H/2 for odd i (cosine 0, sine +-1).
    w.line("#if " + H + " % 2 == 0");
    w.line("    if (i & 1u) {");
    w.parts("      ", "s%. += (((i / 2u) & 1u) ? (ftype)-1 : (ftype)1) * sw[" + H + " / 2]%.;");
    w.line("    } else {");
    w.parts("      ", "c%. += (((i / 2u) & 1u) ? (ftype)-1 : (ftype)1) * xadd[" + H + " / 2]%.;");
    w.line("    }");
    w.line("#endif");
    w.parts("    ", "res[i]%. = a%. + c%. + %P * s%.;");
    w.line("    if (i < " + H + ") {");
    w.parts("      ", "res[" + F + " - i]%. = a%. + c%. - %P * s%.;");
    w.line("    }");
    w.line("  }");
}

// The whole routine `name` of size macro `size`, in both forms. Without
// with_odd the routine serves even sizes only.
std::string direct_dft(const std::string& name, const std::string& size, bool with_odd) {
    const std::string F = "(" + size + ")";
    two_forms w;
    direct_dft_head(w, name, F);
    if (with_odd) {
        w.line("#if " + F + " % 2 == 1");
        direct_dft_odd(w, F);
        w.line("#else");
    }
    direct_dft_even(w, F);
    if (with_odd) w.line("#endif");
    w.line("  #pragma unroll");
    w.line("  for (uint i = 0; i < " + F + "; ++i) in[i] = res[i];");
    w.line("}");
    return "#ifdef " + name + "\n" + lane_pair_choice(w.pair.str(), w.lane.str()) + "#endif\n\n";
}

// The generic routines of a form: the NONSUBGRP ones, or one direct DFT per
// factor macro that may route to one.
std::string generic(bool sg) {
    if (!sg) return generic_nsg();
    std::string s;
    for (const factor_macro& f : kFactorMacros)
        if (f.direct != direct_dft_kind::none)
            s += direct_dft(std::string(f.name) + "_DEFAULT_FUNC", f.name, f.direct == direct_dft_kind::any_size);
    return s;
}

std::string front(bool sg) {
    std::string s = head(sg);
    for (const codelet_size& c : kCodeletSizes) s += fft_function(c.n, sg);
    s += generic(sg);
    return s;
}

std::string read_file(const char* path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        std::cerr << "fft_front_gen: cannot read " << path << "\n";
        std::exit(1);
    }
    std::ostringstream o;
    o << f.rdbuf();
    return o.str();
}

std::string cpp_literal(const std::string& text) {
    std::string out = "\"";
    size_t col = 0;
    for (char ch : text) {
        switch (ch) {
        case '\\': out += "\\\\"; break;
        case '"': out += "\\\""; break;
        case '\n': out += "\\n\"\n\""; col = 0; continue;
        case '\t': out += "\\t"; break;
        default: out += ch;
        }
        if (++col > 400) { out += "\"\n\""; col = 0; }
    }
    return out + "\"";
}

}  // namespace

// The explicit-SIMD header: fft_<n> for the sizes kCodeletSizes marks, on
// arrays of simd<T, 16>, each vector holding 8 complex values (real and
// imaginary parts interleaved), transformed lane by lane in place; dir 0
// forward (e^-), 1 backward (e^+).
std::string esimd_header() {
    std::ostringstream h;
    h << "// Generated by fft_front_gen; do not edit.\n"
         "#pragma once\n"
         "// Included after the library's explicit-SIMD extension header.\n"
         "namespace korami::ovx::dft::esimd_codelets {\n"
         "namespace xe = korami::ovx::gpu::sycl_ext::esimd;\n"
         "// Real and imaginary parts exchanged in every complex value.\n"
         "template <typename T>\n"
         "SYCL_ESIMD_FUNCTION inline xe::simd<T, 16> swapReIm(const xe::simd<T, 16>& v) {\n"
         "  xe::simd<T, 16> r;\n"
         "  r.template select<8, 2>(0) = v.template select<8, 2>(1);\n"
         "  r.template select<8, 2>(1) = v.template select<8, 2>(0);\n"
         "  return r;\n"
         "}\n"
         "// (1, -1) forward, (-1, 1) backward: pmOne * swapReIm(x) is x * -+i.\n"
         "template <typename T, int dir>\n"
         "SYCL_ESIMD_FUNCTION inline xe::simd<T, 16> pm_one() {\n"
         "  xe::simd<T, 16> r;\n"
         "  r.template select<8, 2>(0) = T(dir == 0 ? 1 : -1);\n"
         "  r.template select<8, 2>(1) = T(dir == 0 ? -1 : 1);\n"
         "  return r;\n"
         "}\n"
         "#define TWIDL_MULT_INPLACE(c, s, x) x = (c) * x + (s) * swapReIm<T>(x)\n"
         "#define swapReIm(x) swapReIm<T>(x)\n\n";
    for (const codelet_size& c : kCodeletSizes) {
        if (!c.esimd) continue;
        const long n = c.n;
        writer w;
        std::vector<std::string> x(n);
        for (long j = 0; j < n; ++j) x[j] = w.fresh("in[" + std::to_string(j) + "]");
        std::vector<std::string> X = w.dft(x);
        h << "template <typename T, int dir>\n"
          << "SYCL_ESIMD_FUNCTION inline void fft_" << n << "(xe::simd<T, 16>* in) {\n"
          << "  using ptype = xe::simd<T, 16>;\n"
          << "  const ptype pmOne = pm_one<T, dir>();\n"
          << w.lane.str();
        for (long k = 0; k < n; ++k) h << "  in[" << k << "] = " << X[k] << ";\n";
        h << "}\n\n";
    }
    h << "#undef swapReIm\n#undef TWIDL_MULT_INPLACE\n}  // namespace korami::ovx::dft::esimd_codelets\n";
    return h.str();
}

// The constant tables of the small multi-dimensional kernel's one-factor
// real rows: for a real transform of NUM_REAL_POINTS = 2 M points computed as
// an M-point complex transform, smdCosValues[k-1] = cos(pi k / M) and
// smdSinValues[k-1] = sin(pi k / M) for k = 1 .. M / 2. The kernel takes a
// single row factor M for every M up to 36 and for the primes 37 to 61 (the
// planner splits the other rows); any other size fails the build.
std::string small_md_real_tables() {
    std::ostringstream o;
    o << "/* Real-row factors of the one-factor rows (generated at build time). */\n"
         "#if REAL_FFT && !(DIM0FACT1 > 1)\n"
         "#if 2 * DIM0FACT0 < 6\n"
         "#define SMD_REAL_TABLE 0\n";
    std::vector<long> sizes;
    for (long n = 6; n <= 72; n += 2) sizes.push_back(n);
    for (long n : {74L, 82L, 86L, 94L, 106L, 118L, 122L}) sizes.push_back(n);
    for (long n : sizes) {
        const long m = n / 2;
        o << "#elif 2 * DIM0FACT0 == " << n << "\n#define SMD_REAL_TABLE 1\n";
        for (int which = 0; which < 2; ++which) {
            o << "__constant ftype " << (which ? "smdSinValues" : "smdCosValues") << "[" << m / 2 << "] = {";
            for (long k = 1; k <= m / 2; ++k) {
                real c, s;
                cis(k, 2 * m, c, s);  // angle 2 pi k / (2 M) = pi k / M
                o << (k > 1 ? ", " : "") << lit(which ? s : c);
            }
            o << "};\n";
        }
    }
    o << "#else\n#error \"Tiny real size unsupported\"\n#endif\n#endif\n\n";
    return o.str();
}

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "smdreal") {
        g_double = std::string(argv[2]) == "d";
        std::ofstream out(argv[3], std::ios::binary);
        if (!out) {
            std::cerr << "fft_front_gen: cannot write " << argv[3] << "\n";
            return 1;
        }
        out << small_md_real_tables();
        out.close();
        return out ? 0 : 1;
    }
    if (argc == 3 && std::string(argv[1]) == "esimd") {
        g_esimd = true;
        std::ofstream out(argv[2], std::ios::binary);
        if (!out) {
            std::cerr << "fft_front_gen: cannot write " << argv[2] << "\n";
            return 1;
        }
        out << esimd_header();
        out.close();
        return out ? 0 : 1;
    }
    if (argc < 5) {
        std::cerr << "usage: fft_front_gen cl|cpp sg|nsg d|s <out> [symbol] [body.cl ...]\n";
        return 2;
    }
    const std::string mode = argv[1], form = argv[2], prec = argv[3];
    if ((mode != "cl" && mode != "cpp") || (form != "sg" && form != "nsg") || (prec != "d" && prec != "s")) {
        std::cerr << "fft_front_gen: bad arguments\n";
        return 2;
    }
    g_double = prec == "d";
    int first_body = 5;
    std::string symbol;
    if (mode == "cpp") {
        if (argc < 6) {
            std::cerr << "fft_front_gen: cpp mode needs a symbol\n";
            return 2;
        }
        symbol = argv[5];
        first_body = 6;
    }
    std::string text = front(form == "sg");
    for (int i = first_body; i < argc; ++i) text += read_file(argv[i]);

    std::ofstream out(argv[4], std::ios::binary);
    if (!out) {
        std::cerr << "fft_front_gen: cannot write " << argv[4] << "\n";
        return 1;
    }
    if (mode == "cl") {
        out << text;
    } else {
        out << "// Generated by fft_front_gen; do not edit.\n"
            << "#include <cstddef>\n"
            << "namespace korami { namespace ovx { namespace dft { namespace gpu_kernels {\n"
            << "extern const char " << symbol << "[];\n"
            << "extern const std::size_t " << symbol << "_size;\n"
            << "const char " << symbol << "[] =\n"
            << cpp_literal(text) << ";\n"
            << "const std::size_t " << symbol << "_size = sizeof(" << symbol << ") - 1;\n"
            << "}}}}\n";
    }
    out.close();
    return out ? 0 : 1;
}
