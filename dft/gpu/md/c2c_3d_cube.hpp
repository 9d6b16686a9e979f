// 3D complex cube GPU backend (both precisions through the frame): packed
// cubes of 512 or 1024 points per side on generation-6 devices, as three
// complex 1D sub-transforms through a padded intermediate whose rows are one
// element longer than the data's (row pitch n0 + 1), so that the columns of
// the second and third axes never fall on the same memory banks:
//   axis 0 ("3DC2C|1d"): the input into the padded intermediate;
//   axis 2 ("3DC2C|3d"): in place on the intermediate, with the scales;
//   axis 1 ("3DC2C|2d"): the intermediate into the output.
// Each sub-transform is described by input and output strides only, so one
// sub-node serves both directions, and goes through the 1D complex candidate
// list. Cubes it refuses go on to the general 3D backend.
//
// Workspace: the first region holds the padded intermediate followed by the
// sub-nodes' table areas; the second is the sub-nodes' shared scratch (their
// computes run one after the other). With the library's workspace the
// intermediate is a device area for USM data and a buffer of the module's own
// for buffer data (a sub-transform takes one container kind for its input and
// output); a caller's workspace serves data of its own container kind only.
// The memory rule keeps a commit from taking more than its share of the
// device: the data (twice out of place) and the intermediate (twice with the
// library's workspace) within 15% of the global memory when the library holds
// the workspace, 80% when the caller does.
#ifndef OVX_DFT_GPU_MD_C2C_3D_CUBE_HPP
#define OVX_DFT_GPU_MD_C2C_3D_CUBE_HPP

#include <cstdint>
#include <type_traits>
#include <vector>

#include "dft/gpu/frame/frame.hpp"
#include "dft/gpu/md/md_sides.hpp"
#include "dft/contract/ovx_dft_checked.hpp"

namespace korami {
namespace ovx {
namespace dft {
namespace gpumd {
using namespace gpufw;

// Test hook: one more side (besides 512 and 1024) that the module takes, so
// that small cubes can run the padded route; 0 (the default) takes none.
// Process-wide; for tests only.
void c2c_3d_cube_admit_side(std::int64_t n);
std::int64_t c2c_3d_cube_admitted_side();

inline bool cube_side(std::int64_t n) {
    return n == 512 || n == 1024 || (n > 0 && n == c2c_3d_cube_admitted_side());
}

// The shape test (the node only): 0 for a rank-3 complex cube of a side the
// module takes, one batch record, zero offsets; else 100.
inline int cube_shape(const DFTI_DESCRIPTOR* node) {
    if (complex_md_applicability(node, 3) != 0) return DFTI_STATUS_NOT_APPLICABLE;
    const std::int64_t n = node->working_dims.records[0].length;
    if (!cube_side(n) || node->working_dims.records[1].length != n || node->working_dims.records[2].length != n)
        return DFTI_STATUS_NOT_APPLICABLE;
    return 0;
}

struct cube_plan {
    std::int64_t n[3] = {};
    std::int64_t transforms = 1;
    std::int64_t distance = 0;  // between transforms in the data
    std::int64_t pitch = 0;     // padded row pitch n0 + 1
    std::int64_t plane = 0;     // padded plane n1 (n0 + 1)
    std::int64_t volume = 0;    // padded transform n2 n1 (n0 + 1)
    bool in_place = false;
    std::int64_t data_bytes = 0;     // one side of the data, all transforms
    std::int64_t raw_scratch = 0;    // padded intermediate, all transforms, unaligned
};

// The layout test and the plan: packed for both directions (strides 1, n0,
// n0 n1; transforms n0 n1 n2 apart when there are several), the plane stride
// a multiple of 4096. 0 or 100.
inline int make_cube_plan(const DFTI_DESCRIPTOR* node, bool single, cube_plan& p) {
    p = cube_plan{};
    for (int i = 0; i < 3; ++i) p.n[i] = node->working_dims.records[i].length;
    const std::int64_t want[3] = {1, p.n[0], p.n[0] * p.n[1]};
    for (int i = 0; i < 3; ++i)
        if (!sides_of(node->working_dims.records[i]).all(want[i])) return DFTI_STATUS_NOT_APPLICABLE;
    if (want[2] % 4096 != 0) return DFTI_STATUS_NOT_APPLICABLE;
    const dfti_dim& b = node->working_batch.records[0];
    const std::int64_t vol = want[2] * p.n[2];
    p.transforms = b.length;
    if (p.transforms >= 2 && !distance_sides_of(b).all(vol)) return DFTI_STATUS_NOT_APPLICABLE;
    p.distance = vol;
    p.pitch = p.n[0] + 1;
    p.plane = p.n[1] * p.pitch;
    p.volume = p.n[2] * p.plane;
    p.in_place = node->placement == DFTI_INPLACE;
    const std::int64_t e = single ? 8 : 16;
    if (!ovx_checked::mul(p.transforms, vol * e, p.data_bytes) ||
        !ovx_checked::mul(p.transforms, p.volume * e, p.raw_scratch))
        return DFTI_STATUS_NOT_APPLICABLE;
    return 0;
}

// The memory rule: true when the data (twice out of place) and the padded
// intermediate of `scratch_bytes` (twice when the library holds the
// workspace) fit the device's share of `global_mem`.
inline bool cube_fits_memory(const cube_plan& p, std::uint64_t scratch_bytes, bool library_held, std::uint64_t global_mem) {
    const double need = static_cast<double>(p.data_bytes) * (p.in_place ? 1.0 : 2.0) +
                        static_cast<double>(scratch_bytes) * (library_held ? 2.0 : 1.0);
    return need <= static_cast<double>(global_mem) * (library_held ? 0.15 : 0.8);
}

// The three sub-transforms in commit order (axis 0, 1, 2); each serves the
// directions `dirs` of the parent.
inline std::vector<gpufw::sub_node_row> cube_rows(const cube_plan& p, bool single, double fwd_scale,
                                                  double bwd_scale, std::uint32_t dirs) {
    const std::int64_t n0 = p.n[0], n1 = p.n[1], n2 = p.n[2], t = p.transforms, d = p.distance;
    const std::int64_t pitch = p.pitch, plane = p.plane, vol = p.volume;
    std::vector<gpufw::sub_node_row> rows;
    rows.push_back({"3DC2C|1d", gpufw::complex_1d_creator(single, n0),
                    [=](DFTI_DESCRIPTOR* s) {
                        s->user_dims.records[0] = dfti_dim{n0, 1, 1, 0, 0};
                        s->user_batch.records[0] = dfti_dim{n1, n0, pitch, 0, 0};
                        s->user_batch.records[1] = dfti_dim{n2, n0 * n1, plane, 0, 0};
                        s->user_batch.records[2] = dfti_dim{t, d, vol, 0, 0};
                        s->placement = DFTI_NOT_INPLACE;
                    },
                    nullptr, dirs});
    rows.push_back({"3DC2C|2d", gpufw::complex_1d_creator(single, n1),
                    [=](DFTI_DESCRIPTOR* s) {
                        s->user_dims.records[0] = dfti_dim{n1, pitch, n0, 0, 0};
                        s->user_batch.records[0] = dfti_dim{n0, 1, 1, 0, 0};
                        s->user_batch.records[1] = dfti_dim{n2, plane, n0 * n1, 0, 0};
                        s->user_batch.records[2] = dfti_dim{t, vol, d, 0, 0};
                        s->placement = DFTI_NOT_INPLACE;
                    },
                    nullptr, dirs});
    // The padded rows' extra column is transformed with the others: one
    // batch record of contiguous columns.
    rows.push_back({"3DC2C|3d", gpufw::complex_1d_creator(single, n2),
                    [=](DFTI_DESCRIPTOR* s) {
                        s->user_dims.records[0] = dfti_dim{n2, plane, plane, 0, 0};
                        s->user_batch.records[0] = dfti_dim{plane, 1, 1, 0, 0};
                        s->user_batch.records[1] = dfti_dim{t, vol, vol, 0, 0};
                        s->placement = DFTI_INPLACE;
                        s->forward_scale = fwd_scale;
                        s->backward_scale = bwd_scale;
                    },
                    nullptr, dirs});
    return rows;
}

enum cube_axis_row : int { cube_axis0 = 0, cube_axis1 = 1, cube_axis2 = 2 };

template <class Real>
struct cube_block : gpufw::frame_block<Real, 1> {
    gpufw::sub_node_table<3> subs;
    cube_plan pl;
    int intermediate;                        // area slot of the padded intermediate
};

template <class Real>
struct cube_module {
    using real = Real;
    using block = cube_block<Real>;
    static constexpr bool single = std::is_same<Real, float>::value;
    static constexpr bool composite = true;
    // The generation an estimate plans for before the device is known.
    static constexpr std::int32_t estimate_generation = OVX_GPU_ARCH_QUEN6;

    static int test(const DFTI_DESCRIPTOR* node) { return cube_shape(node); }

    static int plan(DFTI_DESCRIPTOR* node, block* b) {
        if (b->arch != OVX_GPU_ARCH_QUEN6) return DFTI_STATUS_NOT_APPLICABLE;
        int st = make_cube_plan(node, single, b->pl);
        if (st != 0) return st;
        const std::uint64_t scratch_bytes = frame_align(b, static_cast<std::uint64_t>(b->pl.raw_scratch));
        const std::uint64_t global = b->dev.global_mem;
        // Before the device is known an estimate assumes one that holds the cube.
        if (!frame_device_assumed(b) && !cube_fits_memory(b->pl, scratch_bytes, node->internal_workspace == 1, global))
            return DFTI_STATUS_NOT_APPLICABLE;
        const std::vector<gpufw::sub_node_row> rows = cube_rows(b->pl, single, node->forward_scale,
                                                                node->backward_scale,
                                                                static_cast<std::uint32_t>(node->directions));
        st = b->subs.make(node, rows.data(), static_cast<int>(rows.size()));
        if (st != 0) return st;
        // The first region: the intermediate (the sub-nodes read and write it
        // as data of the compute's container kind), then the sub-nodes' tables.
        b->intermediate = b->areas.scratch("padded intermediate", scratch_bytes, region::tables, true);
        b->areas.sub_node_tables();
        b->areas.round_scratch();
        // An estimate also reserves room for placing each sub-node that needs
        // a workspace at an aligned offset, and two alignments of margin.
        return b->estimating ? gpufw::list_alignment_margins(b, 2) : 0;
    }

    static int build_kernels(DFTI_DESCRIPTOR*, block*) { return 0; }

    static bool direction_ready(const block* b, int dir) { return b->subs.count == 3 && b->subs.committed(dir); }

    // Axis 0 from the input into the intermediate, axis 2 in place on it,
    // axis 1 into the output, each after the one before. The first waits for
    // the caller's dependencies and for the previous compute, whose passes
    // may still use the intermediate and the shared scratch; sub-nodes take
    // no dependencies with buffer data, so there an unfinished previous
    // compute is waited for on the host when the sub-nodes share a scratch.
    static int launch(DFTI_DESCRIPTOR* node, block* b, const gpufw::launch_args& a) {
        const bool held = node->internal_workspace != 0;
        const int want = a.buffers ? DFTI_CONTAINER_BUFFER : DFTI_CONTAINER_USM;
        if (!held && b->ws_kind != want) return DFTI_STATUS_NO_WORKSPACE;
        void* mid = b->areas.data_of(b->intermediate, a.buffers);
        if (!mid) return held ? DFTI_STATUS_BAD_DESCRIPTOR : DFTI_STATUS_NO_WORKSPACE;
        const dfti_data_kind kind{static_cast<std::uint64_t>(want)};
        order_buffer_compute_after_previous(a, node->scratch_workspace_bytes != 0);
        std::vector<sycl::event> deps = gpufw::frame_first_dependencies(a);
        sycl::event e;
        int st = b->subs.run(b->subs[cube_axis0], a.direction, a.in, mid, deps, a.buffers, &kind, e);
        if (st != 0) return st;
        deps.assign(1, e);
        st = b->subs.run(b->subs[cube_axis2], a.direction, mid, mid, deps, a.buffers, &kind, e);
        if (st != 0) return st;
        deps.assign(1, e);
        st = b->subs.run(b->subs[cube_axis1], a.direction, mid, a.out, deps, a.buffers, &kind, e);
        if (st != 0) return st;
        if (a.result) *a.result = e;
        return 0;
    }
};



}  // namespace gpumd

}  // namespace dft
}  // namespace ovx
}  // namespace korami

#endif
