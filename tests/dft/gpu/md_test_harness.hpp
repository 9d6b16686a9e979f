// Shared harness of the multi-dimensional GPU backend tests: one case is a
// rank 2 or 3 descriptor on a device profile with optional strides and
// distances; it runs forward and then backward (on the device's forward
// result) through the public API in USM or buffer form and compares each
// result with FFTW's guru interface in double. The output arrays start filled
// with a sentinel: every element outside the layout must keep it.
#ifndef TESTS_DFT_GPU_MD_TEST_HARNESS_HPP
#define TESTS_DFT_GPU_MD_TEST_HARNESS_HPP

#include <gtest/gtest.h>
#include <sycl/sycl.hpp>

#include <ovxplat/sycl_standin.hpp>

#include <fftw3.h>

#include <algorithm>
#include <complex>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "dft/gpu/backends.hpp"
#include "dft/gpu/gpu_test_reference.hpp"
#include "dft/ovx_dft_internal.hpp"
#include "korami/ovx/dft.hpp"

namespace md_test {

namespace dft = korami::ovx::dft;
using gpu_test::cplx;
using vec = std::vector<std::int64_t>;

struct md_case {
    const char* profile;
    bool real, single;
    vec n;                  // API order, outermost first
    std::int64_t batch = 1;
    bool in_place = false;
    bool usm = true;
    vec fs, bs;             // forward/backward-side strides (API form: offset first); empty: defaults
    std::int64_t fd = 0, bd = 0;  // distances; 0: packed after the last element
    bool io = false;        // set the strides as INPUT/OUTPUT_STRIDES (FWD/BWD keep their defaults)
    const char* owner = ""; // owning record without "bkd_" and "_ops"
    bool shuffle = false;
    double sf = 1.0 / 3, sb = 0;  // sb 0: 1/N
};

inline std::string name_of(const md_case& c) {
    std::string s = std::string(c.real ? "r" : "c");
    for (std::size_t i = 0; i < c.n.size(); ++i) s += (i ? "x" : "") + std::to_string(c.n[i]);
    s += std::string(c.single ? "s" : "d") + "_b" + std::to_string(c.batch) + (c.in_place ? "_ip" : "_oop") +
         (c.usm ? "_usm" : "_buf") + (c.fs.empty() ? "" : (c.io ? "_iostrides" : "_strides")) + "_" + c.profile +
         (c.shuffle ? "_shuffled" : "");
    return s;
}

inline void PrintTo(const md_case& c, std::ostream* os) { *os << name_of(c); }

inline bool device_ok(bool single) {
    if (!ovxplat::opencl_available()) return false;
    if (single) return true;
    sycl::queue q{sycl::gpu_selector_v};
    return q.get_device().has(sycl::aspect::fp64);
}

// The geometry of one side in elements of that side, innermost first.
struct side {
    vec len, stride;
    std::int64_t dist = 0, count = 1;
    std::int64_t extent() const {
        std::int64_t e = (count - 1) * dist + 1;
        for (std::size_t i = 0; i < len.size(); ++i) e += (len[i] - 1) * stride[i];
        return e;
    }
    // Offsets of every element of the layout.
    std::vector<std::int64_t> offsets() const {
        std::vector<std::int64_t> o{0};
        for (std::size_t i = 0; i < len.size(); ++i) {
            std::vector<std::int64_t> next;
            for (std::int64_t k = 0; k < len[i]; ++k)
                for (std::int64_t v : o) next.push_back(v + k * stride[i]);
            o.swap(next);
        }
        std::vector<std::int64_t> all;
        for (std::int64_t t = 0; t < count; ++t)
            for (std::int64_t v : o) all.push_back(v + t * dist);
        return all;
    }
};

// Forward side (real or complex) and backward side of a case.
inline void sides_of(const md_case& c, side& f, side& b) {
    const int r = static_cast<int>(c.n.size());
    f = side{};
    b = side{};
    for (int i = 0; i < r; ++i) {
        f.len.push_back(c.n[r - 1 - i]);
        b.len.push_back(c.n[r - 1 - i]);
    }
    if (c.real) b.len[0] = c.n[r - 1] / 2 + 1;
    const std::int64_t f0 = c.real && c.in_place ? 2 * b.len[0] : f.len[0];
    std::int64_t fp = 1, bp = 1;
    for (int i = 0; i < r; ++i) {
        f.stride.push_back(c.fs.empty() ? fp : c.fs[r - i]);
        b.stride.push_back(c.bs.empty() ? bp : c.bs[r - i]);
        fp *= i == 0 ? f0 : f.len[i];
        bp *= b.len[i];
    }
    f.count = b.count = c.batch;
    f.dist = c.fd ? c.fd : (c.fs.empty() ? fp : f.extent());
    b.dist = c.bd ? c.bd : (c.bs.empty() ? bp : b.extent());
}

// FFTW over the layouts; `fwd` forward r2c/c2c, else backward c2r/c2c.
inline void reference(const md_case& c, const side& from, const side& to, bool fwd, double scale,
                      const std::vector<cplx>& in, std::vector<cplx>& out) {
    const int r = static_cast<int>(c.n.size());
    std::vector<fftw_iodim> d(r);
    for (int i = 0; i < r; ++i)  // FFTW wants the outermost first; lengths of the real side
        d[i] = {static_cast<int>(c.n[i]), static_cast<int>(from.stride[r - 1 - i]), static_cast<int>(to.stride[r - 1 - i])};
    fftw_iodim how{static_cast<int>(c.batch), static_cast<int>(from.dist), static_cast<int>(to.dist)};
    const std::size_t ni = in.size(), no = out.size();
    if (!c.real) {
        std::vector<cplx> a = in, o(no);
        fftw_plan p = fftw_plan_guru_dft(r, d.data(), 1, &how, reinterpret_cast<fftw_complex*>(a.data()),
                                         reinterpret_cast<fftw_complex*>(o.data()), fwd ? FFTW_FORWARD : FFTW_BACKWARD,
                                         FFTW_ESTIMATE);
        fftw_execute(p);
        fftw_destroy_plan(p);
        for (std::int64_t k : to.offsets()) out[k] = o[k] * scale;
    } else if (fwd) {
        std::vector<double> a(ni);
        for (std::size_t i = 0; i < ni; ++i) a[i] = in[i].real();
        std::vector<cplx> o(no);
        fftw_plan p = fftw_plan_guru_dft_r2c(r, d.data(), 1, &how, a.data(), reinterpret_cast<fftw_complex*>(o.data()),
                                             FFTW_ESTIMATE);
        fftw_execute(p);
        fftw_destroy_plan(p);
        for (std::int64_t k : to.offsets()) out[k] = o[k] * scale;
    } else {
        std::vector<cplx> a = in;
        std::vector<double> o(no);
        fftw_plan p = fftw_plan_guru_dft_c2r(r, d.data(), 1, &how, reinterpret_cast<fftw_complex*>(a.data()), o.data(),
                                             FFTW_ESTIMATE);
        fftw_execute(p);
        fftw_destroy_plan(p);
        for (std::int64_t k : to.offsets()) out[k] = o[k] * scale;
    }
}

template <class T>
struct md_runner {
    using C = std::complex<T>;
    static constexpr dft::precision P = sizeof(T) == 8 ? dft::precision::DOUBLE : dft::precision::SINGLE;

    // Sets the case's layout on a descriptor.
    template <class D>
    static void configure(const md_case& c, D& desc, const side& f, const side& b) {
        const std::int64_t N = [&] { std::int64_t v = 1; for (auto x : c.n) v *= x; return v; }();
        desc.set_value(dft::config_param::FORWARD_SCALE, static_cast<T>(c.sf));
        desc.set_value(dft::config_param::BACKWARD_SCALE, static_cast<T>(c.sb ? c.sb : 1.0 / static_cast<double>(N)));
        desc.set_value(dft::config_param::NUMBER_OF_TRANSFORMS, c.batch);
        desc.set_value(dft::config_param::FWD_DISTANCE, f.dist);
        desc.set_value(dft::config_param::BWD_DISTANCE, b.dist);
        desc.set_value(dft::config_param::PLACEMENT, c.in_place ? dft::config_value::INPLACE : dft::config_value::NOT_INPLACE);
        if (!c.fs.empty() && c.io) {
            desc.set_value(dft::config_param::INPUT_STRIDES, c.fs);
            desc.set_value(dft::config_param::OUTPUT_STRIDES, c.bs);
        } else if (!c.fs.empty()) {
            desc.set_value(dft::config_param::FWD_STRIDES, c.fs);
            desc.set_value(dft::config_param::BWD_STRIDES, c.bs);
        }
    }

    // One compute of `desc` from `in` (elements of type A) to a sentinel-filled
    // output of `out_elems` elements of type B (in place: in the same array).
    template <class D, class A, class B>
    static std::vector<B> run(D& desc, sycl::queue& q, const md_case& c, bool fwd, std::vector<A> in,
                              std::size_t out_elems, B sentinel) {
        std::vector<B> out(out_elems, sentinel);
        if (c.in_place) {
            const std::size_t bytes = std::max(in.size() * sizeof(A), out_elems * sizeof(B));
            std::vector<char> area(bytes);
            std::memcpy(area.data(), in.data(), in.size() * sizeof(A));
            if (c.usm) {
                char* p = sycl::malloc_shared<char>(bytes, q);
                std::memcpy(p, area.data(), bytes);
                sycl::event e = fwd ? dft::compute_forward(desc, reinterpret_cast<A*>(p))
                                    : dft::compute_backward(desc, reinterpret_cast<A*>(p));
                e.wait_and_throw();
                std::memcpy(area.data(), p, bytes);
                sycl::free(p, q);
            } else {
                sycl::buffer<T, 1> buf{reinterpret_cast<T*>(area.data()), sycl::range<1>(bytes / sizeof(T))};
                if (fwd)
                    dft::compute_forward(desc, buf);
                else
                    dft::compute_backward(desc, buf);
            }
            std::memcpy(out.data(), area.data(), out_elems * sizeof(B));
            return out;
        }
        if (c.usm) {
            A* a = sycl::malloc_shared<A>(in.size(), q);
            B* o = sycl::malloc_shared<B>(out_elems, q);
            std::copy(in.begin(), in.end(), a);
            std::copy(out.begin(), out.end(), o);
            sycl::event e = fwd ? dft::compute_forward(desc, a, o) : dft::compute_backward(desc, a, o);
            e.wait_and_throw();
            std::copy(o, o + out_elems, out.begin());
            sycl::free(a, q);
            sycl::free(o, q);
            return out;
        }
        {
            sycl::buffer<A, 1> a{in.data(), sycl::range<1>(in.size())};
            sycl::buffer<B, 1> o{out.data(), sycl::range<1>(out_elems)};
            if (fwd)
                dft::compute_forward(desc, a, o);
            else
                dft::compute_backward(desc, a, o);
        }
        return out;
    }

    // Runs the case and checks its owner, results and untouched elements.
    static void check(const md_case& c) {
        ovxplat::scoped_gpu_profile prof(c.profile);
        ASSERT_TRUE(prof.ok()) << c.profile;
        sycl::queue q{sycl::gpu_selector_v};
        side f, b;
        sides_of(c, f, b);
        std::int64_t N = 1;
        for (auto x : c.n) N *= x;
        const double sb = c.sb ? c.sb : 1.0 / static_cast<double>(N);
        const double tol = gpu_test::tolerance(c.single, N) * 4;
        const std::size_t fe = static_cast<std::size_t>(f.extent()), be = static_cast<std::size_t>(b.extent());
        ovxplat::set_shuffle_mode(c.shuffle);
        auto body = [&](auto& desc) {
            configure(c, desc, f, b);
            desc.commit(q);
            EXPECT_STREQ(bkd_name(dft::detail::descriptor_node(desc)->bkd), ("bkd_" + std::string(c.owner) + "_ops").c_str());
            // Forward: random input on the layout, sentinel elsewhere.
            std::vector<cplx> x(fe, cplx(7, 7));
            const auto rnd = gpu_test::random_cplx(fe, 11u);
            for (std::int64_t k : f.offsets()) x[k] = c.real ? cplx(rnd[k].real()) : rnd[k];
            for (auto& v : x)
                if (c.single) v = cplx(static_cast<float>(v.real()), static_cast<float>(v.imag()));
            std::vector<cplx> mid(be, cplx(7, 7)), back(fe, cplx(7, 7));
            reference(c, f, b, true, c.sf, x, mid);
            std::vector<cplx> got_mid(be), got_back(fe);
            // Input and output strides follow the data: the backward transform
            // reads the complex side through the input strides.
            auto flip = [&] {
                if (!c.io) return;
                desc.set_value(dft::config_param::INPUT_STRIDES, c.bs);
                desc.set_value(dft::config_param::OUTPUT_STRIDES, c.fs);
                desc.commit(q);
            };
            const std::size_t area = c.in_place ? std::max(fe, be * (c.real ? 2 : 1)) : 0;
            if (c.real) {
                std::vector<T> xin(c.in_place ? area : fe, T(7));
                for (std::size_t i = 0; i < fe; ++i) xin[i] = static_cast<T>(x[i].real());
                const auto m = run(desc, q, c, true, xin, be, C(7, 7));
                for (std::size_t i = 0; i < be; ++i) got_mid[i] = cplx(m[i].real(), m[i].imag());
                std::vector<C> min(c.in_place ? (area + 1) / 2 : be, C(7, 7));
                std::copy(m.begin(), m.end(), min.begin());
                reference(c, b, f, false, sb, got_mid, back);
                flip();
                const auto r = run(desc, q, c, false, min, fe, T(7));
                for (std::size_t i = 0; i < fe; ++i) got_back[i] = cplx(r[i]);
            } else {
                std::vector<C> xin(c.in_place ? area : fe, C(7, 7));
                for (std::size_t i = 0; i < fe; ++i) xin[i] = C(static_cast<T>(x[i].real()), static_cast<T>(x[i].imag()));
                const auto m = run(desc, q, c, true, xin, be, C(7, 7));
                for (std::size_t i = 0; i < be; ++i) got_mid[i] = cplx(m[i].real(), m[i].imag());
                std::vector<C> min(c.in_place ? area : be, C(7, 7));
                std::copy(m.begin(), m.end(), min.begin());
                reference(c, b, f, false, sb, got_mid, back);
                flip();
                const auto r = run(desc, q, c, false, min, fe, C(7, 7));
                for (std::size_t i = 0; i < fe; ++i) got_back[i] = cplx(r[i].real(), r[i].imag());
            }
            // In place the gaps hold what the transforms left there; only the
            // layout's elements are compared then.
            auto compare = [&](const std::vector<cplx>& got, const std::vector<cplx>& ref, const side& s, const char* what) {
                double err = 0, mag = 0;
                std::vector<char> in_layout(got.size(), 0);
                for (std::int64_t k : s.offsets()) {
                    in_layout[k] = 1;
                    err = std::max(err, std::abs(got[k] - ref[k]));
                    mag = std::max(mag, std::abs(ref[k]));
                }
                EXPECT_LT(err / std::max(mag, 1e-300), tol) << what;
                if (c.in_place) return;
                std::size_t touched = 0;
                for (std::size_t k = 0; k < got.size(); ++k)
                    if (!in_layout[k] && got[k] != cplx(7, c.real && &s == &f ? 0 : 7)) ++touched;
                EXPECT_EQ(touched, 0u) << what << ": elements outside the layout written";
            };
            compare(got_mid, mid, b, "forward");
            compare(got_back, back, f, "backward");
        };
        if (c.real) {
            dft::descriptor<P, dft::domain::REAL> desc(c.n);
            body(desc);
        } else {
            dft::descriptor<P, dft::domain::COMPLEX> desc(c.n);
            body(desc);
        }
        ovxplat::set_shuffle_mode(false);
    }
};

inline void run_case(const md_case& c) {
    if (!device_ok(c.single)) {
        if (std::getenv("CI") && std::string(std::getenv("CI")) == "true") FAIL() << "no OpenCL device (or no fp64)";
        GTEST_SKIP() << "no OpenCL device (or no fp64)";
    }
    if (c.single)
        md_runner<float>::check(c);
    else
        md_runner<double>::check(c);
}

}  // namespace md_test

#endif
