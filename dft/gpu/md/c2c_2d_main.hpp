// 2D complex main GPU backend (both precisions through the frame): the
// general backend for rank-2 complex transforms. At commit it takes the
// first route that serves the problem; routes C, D and E need a packed
// layout (unit stride along dimension 0, rows n0 apart, transforms n0 x n1
// apart):
//   C. on a device of generation 6, the explicit-SIMD two-factor plan
//      (md_esimd_route.hpp; a plan that refuses the shape falls through);
//   D. single precision, generation 6, one 16384 x 16384 transform: a 1D
//      sub-transform along the rows, a transpose into a scratch area, a 1D
//      sub-transform along the former columns in place on the scratch and a
//      transpose back;
//   E. squares of 128 or 192 on a device offering sub-groups of 8: the
//      one-kernel-per-axis two-factor program (md_two_facts.hpp);
//   F. two 1D sub-transforms per direction: along dimension 0 from the input
//      to the output, then along dimension 1 in place on the output (the
//      second carries the scales). On generation 6 a top-level batch of two
//      or more packed 2048^2 or 4096^2 transforms runs transform by
//      transform ("batched packed"), its sub-transforms carrying no batch.
// A route whose sub-transforms or kernels cannot be had falls through to
// the next one, after releasing what it built.
//
// Workspace (the route's areas): C the plan's tables; D the transposes'
// scratch, then the sub-nodes' tables, in the persistent region when the
// second sub-transform needs a scratch of its own, else the sub-nodes' tables
// and the transposes' scratch in the shared scratch region; E the four
// twiddle tables; F the sub-nodes' tables and their shared scratch.
#ifndef OVX_DFT_GPU_MD_C2C_2D_MAIN_HPP
#define OVX_DFT_GPU_MD_C2C_2D_MAIN_HPP

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "dft/gpu/frame/frame.hpp"
#include "dft/gpu/esimd/ovx_dft_esimd_2_facts.hpp"
#include "dft/gpu/frame/composite.hpp"
#include "dft/gpu/md/md_esimd_route.hpp"
#include "dft/gpu/md/md_sides.hpp"
#include "dft/gpu/md/md_two_facts.hpp"

namespace korami {
namespace ovx {
namespace dft {
namespace gpumd {
using namespace gpufw;

// ---- the layout -----------------------------------------------------------------

// The layout of a rank-2 complex node (md_sides.hpp).
using c2c_2d_layout = complex_md_layout<2>;

inline int c2c_2d_applicability(const DFTI_DESCRIPTOR* node) { return complex_md_applicability(node, 2); }

inline void make_c2c_2d_layout(const DFTI_DESCRIPTOR* node, c2c_2d_layout& l) { make_complex_md_layout(node, l); }

// The two passes of route F: pass 1 along dimension 0 (the node's
// placement; batch records: the n1 rows, then the transforms), pass 2 along
// dimension 1 in place on the output (batch records: the n0 columns, then the
// transforms; the node's scales). A backward sub-node computes backward, so
// its backward-domain side is the node's backward input. Without
// `with_batch` (batched packed) the sub-transforms cover one transform.
inline std::vector<sub_pair> c2c_2d_passes(const DFTI_DESCRIPTOR* node, const c2c_2d_layout& l, bool with_batch) {
    std::vector<sub_pair> pairs(2);
    sub_pair& p1 = pairs[0];
    p1.f.dim(0, l.n[0], l.fin[0], l.fout[0]);
    p1.b.dim(0, l.n[0], l.bout[0], l.bin[0]);
    p1.f.add_batch(l.n[1], l.fin[1], l.fout[1]);
    p1.b.add_batch(l.n[1], l.bout[1], l.bin[1]);
    if (with_batch) {
        p1.f.add_batch(l.T, l.dfin, l.dfout);
        p1.b.add_batch(l.T, l.dbout, l.dbin);
    }
    p1.f.placement = p1.b.placement = node->placement;
    p1.shared_name = "2D_C2C|1d";
    p1.fwd_name = "2DC2C|f1d";
    p1.bwd_name = "2DC2C|b1d";

    sub_pair& p2 = pairs[1];
    p2.f.dim(0, l.n[1], l.fout[1], l.fout[1]);
    p2.b.dim(0, l.n[1], l.bout[1], l.bout[1]);
    p2.f.add_batch(l.n[0], l.fout[0], l.fout[0]);
    p2.b.add_batch(l.n[0], l.bout[0], l.bout[0]);
    if (with_batch) {
        p2.f.add_batch(l.T, l.dfout, l.dfout);
        p2.b.add_batch(l.T, l.dbout, l.dbout);
    }
    p2.f.placement = p2.b.placement = DFTI_INPLACE;
    p2.f.fwd_scale = p2.b.fwd_scale = node->forward_scale;
    p2.f.bwd_scale = p2.b.bwd_scale = node->backward_scale;
    p2.shared_name = "2D_C2C|2d";
    p2.fwd_name = "2DC2C|f2d";
    p2.bwd_name = "2DC2C|b2d";
    return pairs;
}

// True when route F runs transform by transform.
inline bool c2c_2d_batched_packed(const DFTI_DESCRIPTOR* node, const c2c_2d_layout& l, std::int32_t arch) {
    return arch == OVX_GPU_ARCH_QUEN6 && node->is_sub_node == 0 && l.T >= 2 && (l.n[0] == 2048 || l.n[0] == 4096) &&
           l.n[1] == l.n[0] && l.packed;
}

// ---- route D: the transposes ------------------------------------------------------

// One transpose launch: a rows x cols matrix of complex single values into
// its cols x rows transpose.
struct transpose_pass {
    std::int64_t rows = 0, cols = 0;
    std::int64_t vr = 0, vw = 0;            // words per lane of a block read / write
    std::int64_t work_group_size = 0;       // M
    std::int64_t slm_bytes = 0;             // vw * U * vr
    std::int64_t row_groups = 0, col_items = 0;  // the two-dimensional global size
};

// The device figures the transposes are planned on.
struct transpose_device {
    std::int64_t sub_group = 0;   // S: the smallest sub-group size
    std::int64_t max_work_group = 0;  // M
    std::int64_t local_bytes = 0;
};

// The first of 8, 4, 2, 1 that divides `budget` (8 only when `budget` is a
// multiple of 8) and keeps v * h within `extent`; 0 when none does.
inline std::int64_t transpose_vector_width(std::int64_t budget, std::int64_t h, std::int64_t extent) {
    for (std::int64_t v : {8, 4, 2, 1})
        if (budget >= v && budget % v == 0 && v * h <= extent) return v;
    return 0;
}

// Plans the transposes of a rows x cols matrix on the device. With h = S/2,
// U = 4 M h bytes (one word row of a work-group's tiles) and L = local / U,
// the write width vw is taken from L and the read width vr from L / vw.
// False when the device cannot run them: a sub-group below 2, no room for
// one tile (L < 1), local memory past the device's, or a size that the
// tiles do not divide.
inline bool plan_transposes(const transpose_device& d, std::int64_t rows, std::int64_t cols, transpose_pass& t) {
    t = transpose_pass{};
    const std::int64_t S = d.sub_group, M = d.max_work_group;
    if (S < 2 || M < 1 || rows < 1 || cols < 1) return false;
    const std::int64_t h = S / 2, U = 4 * M * h;
    const std::int64_t L = d.local_bytes / U;
    if (L < 1) return false;
    t.rows = rows;
    t.cols = cols;
    t.vw = transpose_vector_width(L, h, rows);
    if (t.vw == 0) return false;
    t.vr = transpose_vector_width(L / t.vw, h, cols);
    if (t.vr == 0) return false;
    t.work_group_size = M;
    t.slm_bytes = t.vw * U * t.vr;
    if (t.slm_bytes > d.local_bytes) return false;
    if (rows % (t.vw * h) != 0 || cols % (t.vr * h) != 0) return false;
    t.row_groups = rows / (t.vw * h);
    t.col_items = 2 * cols / t.vr;
    return t.col_items % M == 0;
}

inline transpose_device transpose_device_of(const gpufw::device_facts& f) {
    transpose_device d;
    d.sub_group = f.min_sub_group;
    d.max_work_group = f.max_work_group;
    d.local_bytes = f.local_mem;
    return d;
}

// Kernel name and build options of one transpose; empty when they do not fit.
inline std::string transpose_kernel_name(const transpose_pass& t) {
    char buf[64];
    if (bounded_snprintf(buf, sizeof buf, "transpose_r%lld_c%lld_vr%lld_vw%lld", static_cast<long long>(t.rows),
                         static_cast<long long>(t.cols), static_cast<long long>(t.vr), static_cast<long long>(t.vw)) < 0)
        return std::string();
    return buf;
}
inline std::string transpose_options(const transpose_pass& t, std::int64_t sub_group) {
    const std::string name = transpose_kernel_name(t);
    char buf[1024];
    if (name.empty() ||
        bounded_snprintf(buf, sizeof buf,
                         "-DKERNEL_FUNC=%s -DWORK_GROUP_SIZE=%lld -DSUBGROUP_SIZE=%lld -DNUM_ROWS=%lld -DNUM_COLS=%lld "
                         "-DVECTOR_READ_SIZE=%lld -DVECTOR_WRITE_SIZE=%lld ",
                         name.c_str(), static_cast<long long>(t.work_group_size), static_cast<long long>(sub_group),
                         static_cast<long long>(t.rows), static_cast<long long>(t.cols), static_cast<long long>(t.vr),
                         static_cast<long long>(t.vw)) < 0)
        return std::string();
    return buf;
}

// The side length route D takes (16384; tests may lower it to run the route
// on the machine's memory). Set before a commit, not during one.
std::int64_t c2c_2d_transposes_side();
void set_c2c_2d_transposes_side(std::int64_t n);

// The transposes' passes: pass 0 along the rows of the data, pass 1 along
// the rows of the scratch (the data's columns); each serves both directions
// (equal layouts), the second carries the scales.
inline std::vector<sub_pair> c2c_2d_transpose_passes(const DFTI_DESCRIPTOR* node, const c2c_2d_layout& l) {
    std::vector<sub_pair> pairs(2);
    for (int p = 0; p < 2; ++p) {
        sub_pair& s = pairs[p];
        const std::int64_t len = l.n[p], rows = l.n[1 - p];
        s.f.dim(0, len, 1, 1);
        s.f.add_batch(rows, len, len);
        s.f.add_batch(l.T, l.n[0] * l.n[1], l.n[0] * l.n[1]);
        s.f.placement = p == 0 ? node->placement : DFTI_INPLACE;
        if (p == 1) {
            s.f.fwd_scale = node->forward_scale;
            s.f.bwd_scale = node->backward_scale;
        }
        s.b = s.f;
        s.shared_name = p == 0 ? "2D_C2C|1d" : "2D_C2C|2d";
        s.fwd_name = p == 0 ? "2DC2C|f1d" : "2DC2C|f2d";
        s.bwd_name = p == 0 ? "2DC2C|b1d" : "2DC2C|b2d";
    }
    return pairs;
}

// ---- the block and the module ------------------------------------------------------

enum c2c_2d_route : int { route_none = 0, route_esimd = 'C', route_transposes = 'D', route_opencl = 'E', route_subs = 'F' };

// Kernel slots: route E's row kernels (direction * 2 + dimension); route D's
// transposes (pass).
template <class Real>
struct c2c_2d_block : gpufw::frame_block<Real, 4> {
    gpufw::sub_node_table<4> subs;
    c2c_2d_layout pl;
    std::vector<DFTI_DESCRIPTOR*> fwd, bwd;  // per pass; null when not built
    int route;
    bool batched_packed;                     // route F, transform by transform
    esimd_route<Real> esimd;                 // route C
    two_facts_axis axes[2];                  // route E
    two_facts_tables<2, Real> tables;        // route E
    transpose_pass tp[2];                    // route D
    int scratch;                             // route D: area slot of the transposes' scratch
};

// The program of route E.
inline const char* c2c_2d_two_facts_program(bool single) {
    return single ? gpu_programs::c2c_2d_main_s : gpu_programs::c2c_2d_main_d;
}

// True when the problem is route E's.
inline bool c2c_2d_two_facts_shape(const c2c_2d_layout& l, bool sg8) {
    return l.packed && l.n[0] == l.n[1] && (l.n[0] == 128 || l.n[0] == 192) && sg8;
}

template <class Real>
struct c2c_2d_module {
    using real = Real;
    using block = c2c_2d_block<Real>;
    static constexpr bool single = std::is_same<Real, float>::value;
    static constexpr bool composite = true;

    // An estimate covers route F with and without the batch in its passes,
    // and routes C, D and E.
    static constexpr int estimate_routes = 5;

    static int test(const DFTI_DESCRIPTOR* node) { return c2c_2d_applicability(node); }

    static int plan(DFTI_DESCRIPTOR* node, block* b) {
        make_c2c_2d_layout(node, b->pl);
        const c2c_2d_layout& l = b->pl;
        if (b->estimating) return plan_estimate(node, b);
        if (l.packed) {
            if (b->arch == OVX_GPU_ARCH_QUEN6 && esimd_route_commit<Real>(node, b->queue, {l.n[0], l.n[1]}, l.T, b->esimd) == 0) {
                b->route = route_esimd;
                esimd_route_list(b, b->esimd);
                return 0;
            }
            if (single && b->arch == OVX_GPU_ARCH_QUEN6 && l.n[0] == c2c_2d_transposes_side() && l.n[1] == l.n[0] && l.T == 1) {
                const int st = transposes_route(node, b);
                if (st == 0) {
                    b->route = route_transposes;
                    return 0;
                }
                if (st == DFTI_STATUS_ALLOCATION_FAILED) return st;
            }
            if (c2c_2d_two_facts_shape(l, gpufw::has_sub_group8(b->dev, false)) && opencl_route(node, b) == 0) {
                b->route = route_opencl;
                return 0;
            }
        }
        b->route = route_subs;
        b->batched_packed = c2c_2d_batched_packed(node, l, b->arch);
        const int st = commit_pairs(node, b->subs, c2c_2d_passes(node, l, !b->batched_packed), single, b->fwd, b->bwd);
        if (st != 0) return st;
        b->areas.sub_node_tables();
        b->areas.round_scratch();
        return 0;
    }

    // The areas of route b->estimate_route for an estimate, where the device
    // (any device of generation 6 before it is known) may take it: route F's
    // passes with the batch in them (0) and, when the module may run the
    // batch transform by transform, without it (1), each configuration
    // estimated on its own and placed at an aligned offset, with two
    // alignments of margin; route C's and E's tables as their planners size
    // them, held whole in one area that is not rounded (2, 4); route D's
    // passes, its scratch and three alignments of margin (3).
    static int plan_estimate(DFTI_DESCRIPTOR* node, block* b) {
        const c2c_2d_layout& l = b->pl;
        const bool assumed = frame_device_assumed(b);
        const bool gen6 = assumed || b->arch == OVX_GPU_ARCH_QUEN6;
        std::int64_t tables = -1;
        switch (b->estimate_route) {
        case 0:
        case 1: {
            const bool with_batch = b->estimate_route == 0;
            if (!with_batch && !c2c_2d_batched_packed(node, l, assumed ? OVX_GPU_ARCH_QUEN6 : b->arch))
                return DFTI_STATUS_NOT_APPLICABLE;
            const int st = commit_pairs(node, b->subs, c2c_2d_passes(node, l, with_batch), single, b->fwd, b->bwd);
            if (st != 0) return st;
            b->areas.sub_node_tables();
            b->areas.round_scratch();
            return list_alignment_margins(b, 2);
        }
        case 2:
            if (l.packed && gen6) tables = esimd_route_estimate<Real>({l.n[0], l.n[1]}, l.T, b->dev);
            break;
        case 3: {
            if (!(l.packed && gen6 && single && l.n[0] == c2c_2d_transposes_side() && l.n[1] == l.n[0] && l.T == 1))
                return DFTI_STATUS_NOT_APPLICABLE;
            const int st = commit_pairs(node, b->subs, c2c_2d_transpose_passes(node, l), single, b->fwd, b->bwd);
            if (st != 0) return st;
            const std::uint64_t bytes = frame_align(b, static_cast<std::uint64_t>(l.n[0] * l.n[1] * 8));
            if (b->areas.scratch("transposes' scratch", bytes, region::tables) < 0) return DFTI_STATUS_INTERNAL;
            b->areas.sub_node_tables();
            b->areas.round_scratch();
            return list_alignment_margins(b, 3);
        }
        default:
            if (c2c_2d_two_facts_shape(l, has_sub_group8(b->dev, true)) &&
                plan_two_facts_axes<2>(l.n, 2 * sizeof(Real), align_bytes_of(b->dev), b->axes))
                tables = static_cast<std::int64_t>(two_facts_workspace_bytes<2>(b->axes));
            break;
        }
        if (tables < 0) return DFTI_STATUS_NOT_APPLICABLE;
        return b->areas.scratch("route tables", static_cast<std::uint64_t>(tables)) < 0 ? DFTI_STATUS_INTERNAL : 0;
    }

    // Route D: both passes' sub-nodes for every built direction and the two
    // transpose kernels, or nothing (what was built is released at once).
    static int transposes_route(DFTI_DESCRIPTOR* node, block* b) {
        const c2c_2d_layout& l = b->pl;
        const transpose_device d = transpose_device_of(b->dev);
        if (!plan_transposes(d, l.n[1], l.n[0], b->tp[0]) || !plan_transposes(d, l.n[0], l.n[1], b->tp[1]))
            return DFTI_STATUS_NOT_APPLICABLE;
        int st = commit_pairs(node, b->subs, c2c_2d_transpose_passes(node, l), single, b->fwd, b->bwd);
        if (st == DFTI_STATUS_ALLOCATION_FAILED) return st;
        bool ok = st == 0;
        for (int dir = 0; dir < 2 && ok; ++dir)
            if (gpufw::direction_built(b->directions, dir)) ok = set_complete(dir == 0 ? b->fwd : b->bwd);
        for (int p = 0; p < 2 && ok; ++p) {
            const std::string name = transpose_kernel_name(b->tp[p]), options = transpose_options(b->tp[p], d.sub_group);
            try {
                b->kernels[p] = name.empty() || options.empty()
                                    ? nullptr
                                    : gpufw::frame_get_kernel(b->queue, p == 0 ? gpu_programs::c2c_2d_transpose0 : gpu_programs::c2c_2d_transpose1,
                                                              gpu_kernels::ovx_bkd_c2c_2d_transpose_text, name.c_str(),
                                                              options.c_str());
            } catch (const sycl::exception&) {
                b->kernels[p] = nullptr;
            }
            ok = b->kernels[p] != nullptr;
        }
        if (!ok) {
            release_transposes(b);
            return DFTI_STATUS_NOT_APPLICABLE;
        }
        // The second pass runs on the scratch: when it needs a scratch region
        // of its own, the transposes' scratch joins the persistent region,
        // ahead of the sub-nodes' tables; otherwise it shares the scratch
        // region with the sub-nodes' scratch (their uses follow one another).
        bool first_region = false;
        for (const std::vector<DFTI_DESCRIPTOR*>* set : {&b->fwd, &b->bwd})
            if (set->size() == 2 && (*set)[1] && (*set)[1]->scratch_workspace_bytes != 0) first_region = true;
        const std::uint64_t bytes = frame_align(b, static_cast<std::uint64_t>(l.T * l.n[0] * l.n[1] * 8));
        b->areas.round_scratch();
        if (first_region) {
            b->scratch = b->areas.scratch("transposes' scratch", bytes, region::tables);
            b->areas.sub_node_tables();
        } else {
            b->areas.sub_node_tables();
            b->scratch = b->areas.scratch("transposes' scratch", bytes);
        }
        return 0;
    }

    static void release_transposes(block* b) {
        for (int p = 0; p < 2; ++p) gpufw::frame_release_kernel(b->kernels[p]);
        b->subs.destroy();
        b->fwd.clear();
        b->bwd.clear();
        b->tp[0] = b->tp[1] = transpose_pass{};
    }

    // Route E: plans both dimensions, builds the row kernels of the built
    // directions and sizes the tables; 100 (nothing kept) when a dimension
    // does not fit the program or a kernel cannot be had.
    static int opencl_route(DFTI_DESCRIPTOR* node, block* b) {
        const c2c_2d_layout& l = b->pl;
        two_facts_program prog;
        if (!plan_two_facts_axes<2>(l.n, 2 * sizeof(Real), align_bytes_of(b->dev), b->axes) ||
            !two_facts_names<2>(b->axes, single ? "s" : "d", prog))
            return DFTI_STATUS_NOT_APPLICABLE;
        const char* text = single ? gpu_kernels::ovx_bkd_c2c_md_2_facts_text_s : gpu_kernels::ovx_bkd_c2c_md_2_facts_text_d;
        for (int dir = 0; dir < 2; ++dir) {
            if (!gpufw::direction_built(b->directions, dir)) continue;
            const std::string options = two_facts_options<2>(b->axes, prog, dir, l.T, !single);
            if (!two_facts_build<2>(b->queue, c2c_2d_two_facts_program(single), text, prog, options, &b->kernels[2 * dir])) {
                for (int i = 0; i < 4; ++i) gpufw::frame_release_kernel(b->kernels[i]);
                return DFTI_STATUS_NOT_APPLICABLE;
            }
        }
        b->tables.list(b, b->axes);
        return 0;
    }

    static int build_kernels(DFTI_DESCRIPTOR*, block*) { return 0; }

    static bool uses_sub_nodes(const block* b) { return b->route == route_transposes || b->route == route_subs; }
    static bool direction_ready(const block* b, int dir) {
        switch (b->route) {
            case route_esimd: return b->esimd.plan != nullptr;
            case route_opencl: return b->kernels[2 * dir] && b->kernels[2 * dir + 1];
            case route_transposes: return b->kernels[0] && b->kernels[1] && set_complete(dir == 0 ? b->fwd : b->bwd);
            case route_subs: return set_complete(dir == 0 ? b->fwd : b->bwd);
            default: return false;
        }
    }

    // The sub-transform route is accepted with one direction when no backend
    // takes the other direction's sub-transforms: a compute of that one is
    // refused by name.
    static bool direction_refused(const block* b, int dir) {
        return b->route == route_subs && !set_complete(dir == 0 ? b->fwd : b->bwd);
    }

    // ---- launches ----

    static int launch(DFTI_DESCRIPTOR* node, block* b, const gpufw::launch_args& a) {
        switch (b->route) {
            case route_esimd: return esimd_route_launch(b->esimd, node, b, a);
            case route_opencl: return opencl_launch(node, b, a);
            case route_transposes: return transposes_launch(node, b, a);
            case route_subs: return b->batched_packed ? batched_launch(node, b, a) : subs_launch(node, b, a);
            default: return DFTI_STATUS_BAD_DESCRIPTOR;
        }
    }

    static dfti_data_kind data_kind(bool buffers) {
        return dfti_data_kind{buffers ? static_cast<std::uint64_t>(DFTI_CONTAINER_BUFFER)
                                      : static_cast<std::uint64_t>(DFTI_CONTAINER_USM)};
    }

    // Route E: dimension 0 from the input to the output, then dimension 1 in
    // place on the output, each after the writer of the table it reads.
    static int opencl_launch(const DFTI_DESCRIPTOR* node, block* b, const gpufw::launch_args& a) {
        const int dir = a.direction;
        const bool usm_ws = a.usm_ws;
        const int table_kind = usm_ws ? DFTI_CONTAINER_USM : DFTI_CONTAINER_BUFFER;
        void* t0 = b->tables.area(b->areas, dir, usm_ws);
        void* t1 = b->tables.area(b->areas, 2 + dir, usm_ws);
        sycl::kernel* k0 = b->kernels[2 * dir];
        sycl::kernel* k1 = b->kernels[2 * dir + 1];
        if (!t0 || !t1) return DFTI_STATUS_NO_WORKSPACE;
        if (!k0 || !k1) return DFTI_STATUS_BAD_DESCRIPTOR;
        const c2c_2d_layout& l = b->pl;
        const two_facts_axis* x = b->axes;
        const std::int64_t B = x[0].batch_per_group;
        const std::int64_t elem = 2 * sizeof(Real);
        std::vector<sycl::event> deps = gpufw::frame_first_dependencies(a, {b->tables.writer(b->areas, dir)});
        sycl::event e = two_facts_pass(b->queue, k0, a.in, a.out, a.buffers, t0, table_kind, x[0].slm_bytes,
                                       (l.T * l.n[1] + B - 1) / B, x[0].work_group_size, deps);
        deps.assign(1, e);
        if (const sycl::event* w = b->tables.writer(b->areas, 2 + dir)) deps.push_back(*w);
        e = two_facts_pass(b->queue, k1, a.out, a.out, a.buffers, t1, table_kind, 4 * l.n[1] * elem,
                           (((l.n[0] + 3) / 4) * l.T + B - 1) / B, x[1].work_group_size, deps);
        if (a.result) *a.result = e;
        return 0;
    }

    // Route F: pass 1 from the input to the output, pass 2 in place on the
    // output.
    static int subs_launch(const DFTI_DESCRIPTOR* node, block* b, const gpufw::launch_args& a) {
        const dfti_data_kind kind = data_kind(a.buffers);
        const std::vector<DFTI_DESCRIPTOR*>& set = a.direction == 0 ? b->fwd : b->bwd;
        std::vector<sycl::event> deps = gpufw::frame_first_dependencies(a);
        order_buffer_compute_after_previous(a, node->scratch_workspace_bytes != 0);
        sycl::event e1, e2;
        int st = b->subs.run(set[0], a.direction, a.in, a.out, deps, a.buffers, &kind, e1);
        if (st != 0) return st;
        st = b->subs.run(set[1], a.direction, a.out, a.out, {e1}, a.buffers, &kind, e2);
        if (st != 0) return st;
        if (a.result) *a.result = e2;
        return 0;
    }

    // Route F transform by transform: both passes on each transform's
    // slices, each transform after the previous one. The first failing status
    // ends the loop.
    static int batched_launch(const DFTI_DESCRIPTOR* node, block* b, const gpufw::launch_args& a) {
        const c2c_2d_layout& l = b->pl;
        const int dir = a.direction;
        const bool in_place = node->placement == DFTI_INPLACE;
        const std::int64_t elem = 2 * sizeof(Real);
        const std::uint64_t din = static_cast<std::uint64_t>((dir == 0 ? l.dfin : l.dbin) * elem);
        const std::uint64_t dout = static_cast<std::uint64_t>((dir == 0 ? l.dfout : l.dbout) * elem);
        if (a.buffers) {
            auto* bi = static_cast<sycl::buffer<char, 1>*>(a.in);
            auto* bo = static_cast<sycl::buffer<char, 1>*>(a.out);
            if (bi->is_sub_buffer() || (bo && bo->is_sub_buffer()))
                throw korami::ovx::invalid_argument(
                    "FFT", dir == 0 ? "compute_forward" : "compute_backward",
                    "Sub-buffer inputs are not supported for this size. See Numora release notes.");
        }
        const dfti_data_kind kind = data_kind(a.buffers);
        const std::vector<DFTI_DESCRIPTOR*>& set = dir == 0 ? b->fwd : b->bwd;
        std::vector<sycl::event> deps = gpufw::frame_first_dependencies(a);
        order_buffer_compute_after_previous(a, node->scratch_workspace_bytes != 0);
        sycl::event last;
        for (std::int64_t t = 0; t < l.T; ++t) {
            void* src;
            void* dst;
            std::unique_ptr<sycl::buffer<char, 1>> sub_in, sub_out;
            if (!a.buffers) {
                src = static_cast<char*>(a.in) + t * din;
                dst = in_place ? src : static_cast<char*>(a.out) + t * dout;
            } else {
                if (t > 0) last.wait();  // the previous transform's slices are done
                auto* bi = static_cast<sycl::buffer<char, 1>*>(a.in);
                sub_in.reset(new sycl::buffer<char, 1>(*bi, sycl::id<1>(static_cast<std::size_t>(t * din)),
                                                       sycl::range<1>(static_cast<std::size_t>(din))));
                src = sub_in.get();
                if (in_place) {
                    dst = src;
                } else {
                    auto* bo = static_cast<sycl::buffer<char, 1>*>(a.out);
                    sub_out.reset(new sycl::buffer<char, 1>(*bo, sycl::id<1>(static_cast<std::size_t>(t * dout)),
                                                            sycl::range<1>(static_cast<std::size_t>(dout))));
                    dst = sub_out.get();
                }
            }
            sycl::event e1;
            int st = b->subs.run(set[0], dir, src, dst, t == 0 ? deps : std::vector<sycl::event>{last}, a.buffers,
                                 &kind, e1);
            if (st != 0) return st;
            st = b->subs.run(set[1], dir, dst, dst, {e1}, a.buffers, &kind, last);
            if (st != 0) return st;
        }
        if (a.result) *a.result = last;
        return 0;
    }

    // Route D: pass 0 from the input to the output, transpose 0 from the
    // output to the scratch, pass 1 in place on the scratch, transpose 1 back
    // to the output. The scratch is the workspace's: a USM area with the
    // library's own or a USM workspace, a sub-buffer with a buffer workspace.
    static int transposes_launch(const DFTI_DESCRIPTOR* node, block* b, const gpufw::launch_args& a) {
        const int dir = a.direction;
        const bool usm_ws = a.usm_ws;
        void* scratch = b->areas.arg(b->scratch, usm_ws);
        if (!scratch) return node->internal_workspace != 0 ? DFTI_STATUS_BAD_DESCRIPTOR : DFTI_STATUS_NO_WORKSPACE;
        const int scratch_kind = usm_ws ? DFTI_CONTAINER_USM : DFTI_CONTAINER_BUFFER;
        const int data_kind_word = a.buffers ? DFTI_CONTAINER_BUFFER : DFTI_CONTAINER_USM;
        const dfti_data_kind kind = data_kind(a.buffers);
        const dfti_data_kind skind = data_kind(!usm_ws);
        const std::vector<DFTI_DESCRIPTOR*>& set = dir == 0 ? b->fwd : b->bwd;
        std::vector<sycl::event> deps = gpufw::frame_first_dependencies(a);
        order_buffer_compute_after_previous(a, true);
        sycl::event e;
        int st = b->subs.run(set[0], dir, a.in, a.out, deps, a.buffers, &kind, e);
        if (st != 0) return st;
        e = submit_transpose(b, a.out, data_kind_word, scratch, scratch_kind, e, 0);
        st = b->subs.run(set[1], dir, scratch, scratch, {e}, !usm_ws, &skind, e);
        if (st != 0) return st;
        e = submit_transpose(b, scratch, scratch_kind, a.out, data_kind_word, e, 1);
        if (a.result) *a.result = e;
        return 0;
    }

    // One transpose: a two-dimensional launch of {row_groups, col_items}
    // work-items in work-groups of {1, M}, after `after`.
    static sycl::event submit_transpose(block* b, void* src, int src_kind, void* dst, int dst_kind,
                                        const sycl::event& after, int pass) {
        const transpose_pass& t = b->tp[pass];
        sycl::kernel* k = b->kernels[pass];
        return b->queue->submit([&](sycl::handler& h) {
            h.depends_on(after);
            dft_set_arg(h, 0, src, static_cast<std::uint64_t>(src_kind));
            dft_set_arg<1, sycl::access_mode::write>(h, dst, static_cast<std::uint64_t>(dst_kind));
            sycl::local_accessor<char, 1> slm(sycl::range<1>(static_cast<std::size_t>(t.slm_bytes)), h);
            h.set_arg(2, slm);
            h.parallel_for(sycl::nd_range<2>(sycl::range<2>(static_cast<std::size_t>(t.row_groups),
                                                            static_cast<std::size_t>(t.col_items)),
                                             sycl::range<2>(1, static_cast<std::size_t>(t.work_group_size))),
                           *k);
        });
    }
};



}  // namespace gpumd

}  // namespace dft
}  // namespace ovx
}  // namespace korami

#endif
