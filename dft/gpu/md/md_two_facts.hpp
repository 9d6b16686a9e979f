// The one-kernel-per-axis two-factor route shared by the 2D and 3D complex
// main backends (squares of 128 or 192 points and the 135-point cube): the
// factors and launch geometry of each axis, the build options of the
// two-factor program, its twiddle tables (placement in the workspace and the
// command groups that write them, templated over the number of axes) and the
// launch of one axis pass.
//
// Tables, in workspace order, back to back: axis 0 forward and backward (the
// two-factor table, carrying the direction's scale), then for each further
// axis a forward and a backward direction table (unscaled, equal contents).
//   two-factor table: for k0 < FACT0, k1 < FACT1, with (c, s) = scale *
//     (cos, sin)(-2 pi k0 k1 / n), at e = (k1 / 4)*16*FACT0 + 16*k0 + 2*(k1 % 4):
//     e, e+1 = c, c; e+8, e+9 = s, -s;
//   direction table: for k1 < FACT1, k0 < FACT0, at e = k1*16*FACT0 + 16*k0:
//     e .. e+7 = c; e+8+l = (-1)^l s.
// Each table is rounded up to the workspace alignment, so every table
// starts as aligned as the workspace.
#ifndef OVX_DFT_GPU_MD_TWO_FACTS_HPP
#define OVX_DFT_GPU_MD_TWO_FACTS_HPP

#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include <sycl/sycl.hpp>

#include "dft/gpu/frame/areas.hpp"
#include "dft/gpu/frame/block.hpp"
#include "dft/node/ovx_dft_node.hpp"
#include "gpu/ovx_gpu.hpp"

namespace korami {
namespace ovx {
namespace dft {
namespace gpumd {
using namespace gpufw;

// Table command groups (USM and buffer forms) of the 2D (both precisions)
// and 3D (double) two-factor routes.
class twidlTableGen2D2FactsFloatUsm;
class twidlTableGen2D2FactsFloatBuf;
class twidlTableGen2D2FactsDoubleUsm;
class twidlTableGen2D2FactsDoubleBuf;
class twidlTableGen2DYdirFloatUsm;
class twidlTableGen2DYdirFloatBuf;
class twidlTableGen2DYdirDoubleUsm;
class twidlTableGen2DYdirDoubleBuf;
class twidlTableGen3D2FactsDoubleUsm;
class twidlTableGen3D2FactsDoubleBuf;
class twidlTableGen3DYZdirDoubleUsm;
class twidlTableGen3DYZdirDoubleBuf;

template <int Axes, class Real>
struct two_facts_table_names;
template <>
struct two_facts_table_names<2, float> {
    using facts_usm = twidlTableGen2D2FactsFloatUsm;
    using facts_buf = twidlTableGen2D2FactsFloatBuf;
    using dir_usm = twidlTableGen2DYdirFloatUsm;
    using dir_buf = twidlTableGen2DYdirFloatBuf;
};
template <>
struct two_facts_table_names<2, double> {
    using facts_usm = twidlTableGen2D2FactsDoubleUsm;
    using facts_buf = twidlTableGen2D2FactsDoubleBuf;
    using dir_usm = twidlTableGen2DYdirDoubleUsm;
    using dir_buf = twidlTableGen2DYdirDoubleBuf;
};
template <>
struct two_facts_table_names<3, double> {
    using facts_usm = twidlTableGen3D2FactsDoubleUsm;
    using facts_buf = twidlTableGen3D2FactsDoubleBuf;
    using dir_usm = twidlTableGen3DYZdirDoubleUsm;
    using dir_buf = twidlTableGen3DYZdirDoubleBuf;
};

// The sub-group size the two-factor kernels are written for.
constexpr std::int64_t two_facts_sub_group = 8;

// The factor pair of a length: the divisor pair (c, n / c), c scanned from
// min(n, 65) - 1 down to 2, whose quotient is neither 1 nor above 64, with
// the smallest difference (the first of equal ones; a square ends the scan).
// False when there is none.
inline bool two_facts_factor_pair(std::int64_t n, std::int64_t& fact0, std::int64_t& fact1) {
    bool found = false;
    std::int64_t best = 0;
    for (std::int64_t c = (n < 65 ? n : 65) - 1; c >= 2; --c) {
        if (n % c != 0) continue;
        const std::int64_t q = n / c;
        if (q == 1 || q > 64) continue;
        const std::int64_t hi = c > q ? c : q, lo = c > q ? q : c;
        if (!found || hi - lo < best) {
            found = true;
            best = hi - lo;
            fact0 = hi;
            fact1 = lo;
            if (best == 0) break;
        }
    }
    return found;
}

// One axis of the route: its factors, pads and launch geometry.
struct two_facts_axis {
    std::int64_t length = 0;
    std::int64_t fact0 = 0, padfact0 = 0, fact1 = 0, padfact1 = 0;
    std::int64_t loop_bound = 0;  // second-step passes of the axis-0 kernel (1 on the other axes)
    std::int64_t batch_per_group = 1, batch_for_last_group = 1;
    std::int64_t work_group_size = 0;
    std::int64_t table_bytes = 0;  // one of the axis's two tables, rounded to the workspace alignment
    std::int64_t slm_bytes = 0;    // local memory of the axis-0 kernel
};

// Plans every axis for complex elements of `elem` bytes on a device whose
// base-address alignment is `align_bytes` bytes. False when an axis has no
// factor pair, needs more than 64 KiB of local memory or more than 32
// sub-groups: the route does not apply then.
template <int Axes>
bool plan_two_facts_axes(const std::int64_t* lengths, std::int64_t elem, std::uint32_t align_bytes,
                         two_facts_axis* axes) {
    for (int a = 0; a < Axes; ++a) {
        two_facts_axis& x = axes[a];
        x = two_facts_axis{};
        x.length = lengths[a];
        if (x.length < 2 || !two_facts_factor_pair(x.length, x.fact0, x.fact1)) return false;
        x.padfact0 = (4 - x.fact0 % 4) % 4;
        x.padfact1 = (4 - x.fact1 % 4) % 4;
        const std::int64_t cells = x.fact0 * (x.fact1 + x.padfact1);
        x.slm_bytes = cells * elem;
        if (x.slm_bytes > 65536) return false;
        x.table_bytes = cells * 2 * elem;
        const std::int64_t q = (x.fact0 + x.padfact0) / 4, p = (x.fact1 + x.padfact1) / 4;
        std::int64_t w = p;
        if (q >= p) {
            w = q;
            for (std::int64_t d = p; d <= q; ++d)
                if (d >= 1 && q % d == 0) {
                    w = d;
                    break;
                }
        }
        if (w > 32 || w < 1) return false;
        x.work_group_size = 8 * w;
        x.loop_bound = q / w;
        if (a >= 1) {  // the strided axes: four columns per work-group, FACT0 sub-groups
            x.work_group_size = 8 * x.fact0;
            x.loop_bound = 1;
            x.table_bytes = x.fact0 * x.fact1 * 8 * elem;
        }
        x.table_bytes = static_cast<std::int64_t>(
            align_workspace_bytes(static_cast<std::uint64_t>(x.table_bytes), align_bytes));
    }
    return true;
}

// The first workspace region of the route: both tables of every axis.
template <int Axes>
std::uint64_t two_facts_workspace_bytes(const two_facts_axis* axes) {
    std::uint64_t v = 0;
    for (int a = 0; a < Axes; ++a) v += 2 * static_cast<std::uint64_t>(axes[a].table_bytes);
    return v;
}

// The program of a route: its kernel names and build options.
struct two_facts_program {
    std::string row_kernel[3];  // per axis: "fft_<n>_rowbatch_<s|d>_dir<axis>"
    std::string fact0_func, fact1_func;
};

// Kernel and codelet names of the axes (`prec` "s" or "d"); false when a
// name does not fit its 64-byte field.
template <int Axes>
bool two_facts_names(const two_facts_axis* axes, const char* prec, two_facts_program& p) {
    char buf[64];
    for (int a = 0; a < Axes; ++a) {
        if (bounded_snprintf(buf, sizeof buf, "fft_%lld_rowbatch_%s_dir%d", static_cast<long long>(axes[a].length),
                             prec, a) < 0)
            return false;
        p.row_kernel[a] = buf;
    }
    if (bounded_snprintf(buf, sizeof buf, "fft_%lld_%s", static_cast<long long>(axes[0].fact0), "s") < 0) return false;
    p.fact0_func = buf;
    if (bounded_snprintf(buf, sizeof buf, "fft_%lld_%s", static_cast<long long>(axes[0].fact1), "s") < 0) return false;
    p.fact1_func = buf;
    return true;
}

// Build options of one direction (0 forward, 1 backward) for a transform of
// `Axes` axes and `transforms` transforms; empty when they do not fit 2048
// characters. Double builds start with the 64-bit sub-group extension word.
template <int Axes>
std::string two_facts_options(const two_facts_axis* axes, const two_facts_program& p, int dir,
                              std::int64_t transforms, bool dbl) {
    const two_facts_axis& x = axes[0];
    const long long n0 = axes[0].length, n1 = axes[1].length, n2 = Axes == 3 ? axes[Axes - 1].length : 1;
    const long long d = (n0 + 3) / 4;
    const long long batch_dist = n0 * n1 * n2;
    const std::string k2 = Axes == 3 ? "-DKERNEL_FUNC2=" + p.row_kernel[Axes - 1] + " " : std::string();
    char buf[2048];
    const int r = bounded_snprintf(
        buf, sizeof buf,
        "%s-DSUBGROUP_SIZE=%lld -DFACT1_TAIL_IN_REALS=%lld -DFACT0=%lld -DPADFACT0=%lld -DFACT1=%lld -DPADFACT1=%lld "
        "-DKERNEL_FUNC0=%s -DFACT0_FUNC=%s -DFACT1_FUNC=%s -DFWD_DIR=%d -DBWD_DIR=%d -DBATCH_PER_GROUP=%lld "
        "-DBATCH_FOR_LAST_GROUP=%lld -DIDIST=%lld -DODIST=%lld -DWORK_GROUP_SIZE=%lld -DFACT1_LOOP_BOUND=%lld "
        "-DDIST_IN_X_DIR=%lld -DDIST_IN_Y_DIR=%lld -DDIST_IN_Z_DIR=%lld -DBATCH_DIST=%lld -DBATCH_SIZE_IN_X_DIR=%lld "
        "-DBATCH_SIZE_IN_XY_PLANE=%lld -DKERNEL_FUNC1=%s %s-DBATCH2=%lld -DWORK_GROUP_SIZE_Y=%lld "
        "-DWORK_GROUPS_IN_X_DIR=%lld -DWORK_GROUPS_IN_A_3D_BATCH=%lld -DDIST_IN_XY_PLANE=%lld -DTAIL_READS_WRITES=%lld ",
        dbl ? "-Dcl_tarvo_subgroups_long " : "", static_cast<long long>(two_facts_sub_group),
        static_cast<long long>((2 * x.fact1) % 8), static_cast<long long>(x.fact0), static_cast<long long>(x.padfact0),
        static_cast<long long>(x.fact1), static_cast<long long>(x.padfact1), p.row_kernel[0].c_str(),
        p.fact0_func.c_str(), p.fact1_func.c_str(), dir == 0 ? 1 : 0, dir == 0 ? 0 : 1,
        static_cast<long long>(x.batch_per_group), static_cast<long long>(x.batch_for_last_group), n0, n0,
        static_cast<long long>(x.work_group_size), static_cast<long long>(x.loop_bound), 1LL, n0, n0 * n1,
        Axes == 3 ? batch_dist : n0 * n1, n0, n0 * n1, p.row_kernel[1].c_str(), k2.c_str(),
        static_cast<long long>(transforms), static_cast<long long>(8 * x.fact0), d, n1 * d, n0 * n1,
        (2 * n0) % 8);
    if (r < 0) return std::string();
    return std::string(buf);
}

// Builds the row kernels of one direction into kernels[axis] through the
// kernel cache. False (every kernel made so far released) when one cannot be
// had: the route does not apply then.
template <int Axes>
bool two_facts_build(sycl::queue* q, const char* program, const char* text, const two_facts_program& p,
                     const std::string& options, sycl::kernel** kernels) {
    bool ok = !options.empty();
    for (int a = 0; a < Axes && ok; ++a) {
        try {
            kernels[a] = gpufw::frame_get_kernel(q, program, text, p.row_kernel[a].c_str(), options.c_str());
        } catch (const sycl::exception&) {
            kernels[a] = nullptr;
        }
        ok = kernels[a] != nullptr;
    }
    if (!ok)
        for (int a = 0; a < Axes; ++a) gpufw::frame_release_kernel(kernels[a]);
    return ok;
}

// The tables of a route: their area slots in the module's area list. Table
// i: axis i / 2, direction i % 2, each carved from the first region in that
// order and written by its writer when the area is bound (both directions'
// tables always, whichever directions are built).
template <int Axes, class Real>
struct two_facts_tables {
    static constexpr int count = 2 * Axes;
    int slot[count] = {};

    // Lists the tables of `axes` (in the block, which outlives its areas);
    // axis 0's tables carry the block's scales.
    template <class Block>
    void list(Block* b, const two_facts_axis* axes) {
        for (int i = 0; i < count; ++i)
            slot[i] = b->areas.table("two-factor table", static_cast<std::uint64_t>(axes[i / 2].table_bytes), -1,
                                     [b, axes, i](const gpufw::area_target& t, std::vector<sycl::event>& done) {
                                         done.push_back(write(b->queue, axes[i / 2], i / 2 == 0,
                                                              i % 2 == 0 ? b->scale[0] : b->scale[1], t));
                                         return 0;
                                     });
    }

    // The table's kernel argument in a workspace of the kind (USM address or
    // sub-buffer), null when it is not placed.
    void* area(const gpufw::area_list& l, int i, bool usm_ws) const { return l.arg(slot[i], usm_ws); }
    const sycl::event* writer(const gpufw::area_list& l, int i) const { return l.written(slot[i]); }

private:
    using names = two_facts_table_names<Axes, Real>;

    static sycl::event write(sycl::queue* q, const two_facts_axis& x, bool facts, Real scale,
                             const gpufw::area_target& where) {
        const std::int64_t f0 = x.fact0, f1 = x.fact1, n = x.length;
        constexpr std::int64_t S = two_facts_sub_group, H = two_facts_sub_group / 2;
        if (facts) {
            // One (k0, k1) entry per item.
            auto body = [=](Real* t, std::size_t i0, std::size_t i1) {
                const std::int64_t k0 = static_cast<std::int64_t>(i0), k1 = static_cast<std::int64_t>(i1);
                const Real th = static_cast<Real>(k0 * k1) * Real(-2) / static_cast<Real>(n);
                const Real c = scale * sycl::cospi(th), s = scale * sycl::sinpi(th);
                const std::int64_t e = (k1 / H) * (f0 * 4 * H) + k0 * 4 * H + 2 * (k1 % H);
                t[e] = c;
                t[e + 1] = c;
                t[e + S] = s;
                t[e + S + 1] = -s;
            };
            return gpufw::frame_table_group<Real, typename names::facts_usm, typename names::facts_buf>(
                q, where.kind, where.usm, where.buf,
                sycl::range<2>(static_cast<std::size_t>(f0), static_cast<std::size_t>(f1)), body);
        }
        // One (k1, k0) block of 2S values per item.
        auto body = [=](Real* t, std::size_t i0, std::size_t i1) {
            const std::int64_t k1 = static_cast<std::int64_t>(i0), k0 = static_cast<std::int64_t>(i1);
            const Real th = static_cast<Real>(k0 * k1) * Real(-2) / static_cast<Real>(n);
            const Real c = sycl::cospi(th), s = sycl::sinpi(th);
            const std::int64_t e = k1 * (2 * S * f0) + k0 * 2 * S;
            for (std::int64_t l = 0; l < S; ++l) {
                t[e + l] = c;
                t[e + S + l] = (l % 2 == 0) ? s : -s;
            }
        };
        return gpufw::frame_table_group<Real, typename names::dir_usm, typename names::dir_buf>(
            q, where.kind, where.usm, where.buf, sycl::range<2>(static_cast<std::size_t>(f1), static_cast<std::size_t>(f0)),
            body);
    }
};

// One axis pass of the program: arguments input, output, table, local
// memory; a one-dimensional launch of `groups` work-groups of `local`
// work-items after `deps`.
inline sycl::event two_facts_pass(sycl::queue* q, sycl::kernel* k, void* in, void* out, bool buffers, void* table,
                                  int table_kind, std::int64_t slm_bytes, std::int64_t groups, std::int64_t local,
                                  const std::vector<sycl::event>& deps) {
    return q->submit([&](sycl::handler& h) {
        h.depends_on(deps);
        if (buffers) {
            dft_set_arg(h, 0, in, DFTI_CONTAINER_BUFFER);
            dft_set_arg<1, sycl::access_mode::read_write>(h, out, DFTI_CONTAINER_BUFFER);
        } else {
            h.set_arg(0, in);
            h.set_arg(1, out);
        }
        dft_set_arg(h, 2, table, static_cast<std::uint64_t>(table_kind));
        sycl::local_accessor<char, 1> slm(sycl::range<1>(static_cast<std::size_t>(slm_bytes)), h);
        h.set_arg(3, slm);
        const std::size_t wg = static_cast<std::size_t>(local);
        h.parallel_for(sycl::nd_range<1>(sycl::range<1>(static_cast<std::size_t>(groups) * wg), sycl::range<1>(wg)), *k);
    });
}

}  // namespace gpumd
}  // namespace dft
}  // namespace ovx
}  // namespace korami

#endif
