// Small square 2D complex GPU backend (both precisions through the frame):
// N x N transforms with N a multiple of 8 and at most 64, packed row-major
// (strides 1 and N, transforms N^2 apart), each transform one work-group of
// 2N work-items that holds the whole N x N problem in local memory, so a
// call is one kernel launch. It needs no workspace and no tables; the scale
// is a kernel argument. Shapes it does not take go on to the general 2D
// backend.
#ifndef OVX_DFT_GPU_MD_C2C_2D_8NX8N_SMALL_HPP
#define OVX_DFT_GPU_MD_C2C_2D_8NX8N_SMALL_HPP

#include <cstdint>
#include <cstdio>
#include <string>
#include <type_traits>
#include <vector>

#include "dft/gpu/frame/frame.hpp"
#include "dft/gpu/md/md_sides.hpp"

namespace korami {
namespace ovx {
namespace dft {
namespace gpumd {
using namespace gpufw;

// What the plan needs of the device.
struct small2d_device {
    bool has_subgroup8 = false;
    std::int32_t arch = 0;
    std::uint64_t local_mem = 0;      // bytes of local memory of a work-group
    std::uint64_t max_work_group = 0;
};

struct small2d_plan {
    std::int64_t n = 0;                // side of the square
    std::int64_t transforms = 0;       // work-groups of a launch
    std::int64_t work_group_size = 0;  // 2N: one lane pair per column
    std::int64_t slm_bytes = 0;        // the whole transform
    std::int64_t sub_group_size = 0;
    bool grf256 = false;               // ask for the large register file
};

// The layout test (the node only, nothing written): 0 when the node is a
// square N x N complex transform, packed row-major for both directions,
// transforms N^2 apart when there are several, zero offsets; else 100.
inline int small2d_layout(const DFTI_DESCRIPTOR* node) {
    if (complex_md_applicability(node, 2) != 0) return DFTI_STATUS_NOT_APPLICABLE;
    const dfti_dim& d0 = node->working_dims.records[0];
    const dfti_dim& d1 = node->working_dims.records[1];
    const std::int64_t n = d0.length;
    if (d1.length != n) return DFTI_STATUS_NOT_APPLICABLE;
    if (!sides_of(d0).all(1) || !sides_of(d1).all(n)) return DFTI_STATUS_NOT_APPLICABLE;
    const dfti_dim& b = node->working_batch.records[0];
    if (b.length >= 2 && !distance_sides_of(b).all(n * n)) return DFTI_STATUS_NOT_APPLICABLE;
    return 0;
}

// The large register file pays when few work-groups share a sub-slice's
// local memory: G, the sub-groups of as many work-groups as 128 KiB of local
// memory hold, at most 85 on generation 4 or 44 on generation 6.
inline bool small2d_grf256(std::int32_t arch, std::int64_t work_group_size, std::int64_t slm_bytes,
                           std::int64_t sub_group_size) {
    if ((arch != OVX_GPU_ARCH_QUEN4 && arch != OVX_GPU_ARCH_QUEN6) || slm_bytes <= 0 || sub_group_size <= 0) return false;
    const std::int64_t g = (work_group_size * (131072 / slm_bytes)) / sub_group_size;
    return arch == OVX_GPU_ARCH_QUEN4 ? g <= 85 : g <= 44;
}

// The plan of an N x N transform, `transforms` of them: 0, 100 when the
// device or the size does not fit the kernel, 6 for N = 1.
inline int make_small2d_plan(std::int64_t n, std::int64_t transforms, bool single, const small2d_device& d,
                             small2d_plan& p) {
    p = small2d_plan{};
    if (!d.has_subgroup8) return DFTI_STATUS_NOT_APPLICABLE;
    if (n > 64) return DFTI_STATUS_NOT_APPLICABLE;
    if (n == 1) return DFTI_STATUS_UNIMPLEMENTED;
    const std::int64_t slm = n * n * (single ? 8 : 16);
    if (slm > 65536 || static_cast<std::uint64_t>(slm) > d.local_mem) return DFTI_STATUS_NOT_APPLICABLE;
    if (n % 8 != 0) return DFTI_STATUS_NOT_APPLICABLE;
    if (static_cast<std::uint64_t>(2 * n) > d.max_work_group) return DFTI_STATUS_NOT_APPLICABLE;
    p.n = n;
    p.transforms = transforms;
    p.work_group_size = 2 * n;
    p.slm_bytes = slm;
    p.sub_group_size = 8;
    p.grf256 = small2d_grf256(d.arch, p.work_group_size, p.slm_bytes, p.sub_group_size);
    return 0;
}

// Kernel and codelet names of a plan.
inline std::string small2d_kernel_name(const small2d_plan& p, bool single) {
    char b[64];
    std::snprintf(b, sizeof b, "fft_%lldx%lld_fused_SLM_%s", static_cast<long long>(p.n), static_cast<long long>(p.n),
                  single ? "s" : "d");
    return b;
}
inline std::string small2d_fact_name(const small2d_plan& p) {
    char b[64];
    std::snprintf(b, sizeof b, "fft_%lld_s", static_cast<long long>(p.n));
    return b;
}

// Build options of one direction (0 forward, 1 backward); empty when they do
// not fit the option text.
inline std::string small2d_options(const small2d_plan& p, bool single, int dir) {
    char b[512];
    const int w = std::snprintf(b, sizeof b,
                                "%s-DFACT0=%lld -DKERNEL_FUNC=%s -DFACT0_FUNC=%s -DFWD_DIR=%d -DBWD_DIR=%d "
                                "-DWORK_GROUP_SIZE=%lld -DSUBGROUP_SIZE=%lld %s",
                                single ? "" : "-Dcl_tarvo_subgroups_long ", static_cast<long long>(p.n),
                                small2d_kernel_name(p, single).c_str(), small2d_fact_name(p).c_str(), dir == 0 ? 1 : 0,
                                dir == 0 ? 0 : 1, static_cast<long long>(p.work_group_size),
                                static_cast<long long>(p.sub_group_size), p.grf256 ? "-cl-tarvo-256-GRF-per-thread " : "");
    if (w < 0 || w >= static_cast<int>(sizeof b)) return std::string();
    return b;
}

inline small2d_device small2d_device_of(const gpufw::device_facts& f, std::int32_t arch) {
    small2d_device d;
    d.arch = arch;
    d.has_subgroup8 = gpufw::has_sub_group8(f, false);
    if (f.known) {
        d.local_mem = static_cast<std::uint64_t>(f.local_mem);
        d.max_work_group = static_cast<std::uint64_t>(f.max_work_group);
    }
    return d;
}

template <class Real>
struct small2d_block : gpufw::frame_block<Real, 2> {
    small2d_plan pl;
};

template <class Real>
struct small2d_module {
    using real = Real;
    using block = small2d_block<Real>;
    static constexpr bool single = std::is_same<Real, float>::value;

    static int test(const DFTI_DESCRIPTOR* node) { return small2d_layout(node); }

    static int plan(DFTI_DESCRIPTOR* node, block* b) {
        const std::int64_t n = node->working_dims.records[0].length;
        const std::int64_t t = node->working_batch.records[0].length;
        // No areas: the module needs no workspace, whatever the device (an
        // estimate asks no more).
        if (b->estimating) return 0;
        return make_small2d_plan(n, t, single, small2d_device_of(b->dev, b->arch), b->pl);
    }

    static const char* program_name() {
        return single ? gpu_programs::c2c_2d_8nx8n_small_s : gpu_programs::c2c_2d_8nx8n_small_d;
    }
    static const char* text() {
        return single ? gpu_kernels::ovx_bkd_c2c_2d_8nx8n_small_text_s : gpu_kernels::ovx_bkd_c2c_2d_8nx8n_small_text_d;
    }

    // The kernels of the directions built. A kernel the cache cannot hand out
    // refuses the node (100), so that the general 2D backend takes it; a
    // build error's exception ends the commit with its message.
    static int build_kernels(DFTI_DESCRIPTOR*, block* b) {
        const std::string name = small2d_kernel_name(b->pl, single);
        for (int dir = 0; dir < 2; ++dir) {
            if (!gpufw::direction_built(b->directions, dir)) continue;
            const std::string options = small2d_options(b->pl, single, dir);
            if (options.empty()) return DFTI_STATUS_NOT_APPLICABLE;
            b->kernels[dir] = gpufw::frame_get_kernel(b->queue, program_name(), text(), name.c_str(), options.c_str());
            if (!b->kernels[dir]) return DFTI_STATUS_NOT_APPLICABLE;
        }
        return 0;
    }

    static bool direction_ready(const block* b, int dir) { return b->kernels[dir] != nullptr; }

    // One launch: T work-groups of 2N work-items. The transforms share
    // nothing between calls, so a call waits only for the caller's
    // dependencies (USM) or its buffers' accessors.
    static int launch(DFTI_DESCRIPTOR*, block* b, const gpufw::launch_args& a) {
        sycl::kernel* k = b->kernels[a.direction];
        if (!k) return DFTI_STATUS_BAD_DESCRIPTOR;
        const small2d_plan p = b->pl;
        const Real scale = b->scale[a.direction];
        sycl::event e = b->queue->submit([&](sycl::handler& h) {
            if (!a.buffers && a.deps) h.depends_on(*a.deps);
            if (a.buffers) {
                dft_set_arg(h, 0, a.in, DFTI_CONTAINER_BUFFER);
                dft_set_arg<1, sycl::access_mode::read_write>(h, a.out, DFTI_CONTAINER_BUFFER);
            } else {
                h.set_arg(0, a.in);
                h.set_arg(1, a.out);
            }
            sycl::local_accessor<char, 1> slm(sycl::range<1>(static_cast<std::size_t>(p.slm_bytes)), h);
            h.set_arg(2, slm);
            h.set_arg(3, scale);
            const std::size_t wg = static_cast<std::size_t>(p.work_group_size);
            h.parallel_for(sycl::nd_range<1>(sycl::range<1>(static_cast<std::size_t>(p.transforms) * wg), sycl::range<1>(wg)),
                           *k);
        });
        if (a.result) *a.result = e;
        return 0;
    }
};



}  // namespace gpumd

}  // namespace dft
}  // namespace ovx
}  // namespace korami

#endif
