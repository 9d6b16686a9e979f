// The candidate lists of the GPU commit loop, one per precision, domain and
// rank class, each ending with the terminal record. Records are tried in list
// order; backends not built yet have their place marked by a comment.
#include "dft/node/ovx_dft_node.hpp"
#include "dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_2_facts_sycl.hpp"
#include "dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_3_facts_sycl.hpp"
#include "dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_4_facts_sycl.hpp"
#include "dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_n_facts_colbatch_sycl.hpp"
#include "dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_4_facts_colbatch_sycl.hpp"
#include "dft/gpu/1d/ovx_dft_gpu_bkd_1d_very_large_sycl.hpp"
#include "dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_8k_sycl.hpp"
#include "dft/gpu/1d/ovx_dft_gpu_bkd_r2c_1d_main_sycl.hpp"
#include "dft/gpu/1d/ovx_dft_gpu_bkd_c2c_1d_nonsubgrp_sycl.hpp"

// The terminal record takes no node: it answers 6 so that a shape no backend
// handles ends as "unimplemented".
namespace {
int terminal_commit(const bkd_ops*, DFTI_DESCRIPTOR*) { return DFTI_STATUS_UNIMPLEMENTED; }
int terminal_free(const bkd_ops* self, DFTI_DESCRIPTOR* node) {
    return node && node->bkd == self ? 0 : DFTI_STATUS_INTERNAL;
}
int terminal_add_workspace(void*, int, std::uint64_t, DFTI_DESCRIPTOR*, std::uint32_t, std::vector<sycl::event>*) {
    return DFTI_STATUS_INVALID;
}
}  // namespace

const bkd_ops bkd_terminal = {terminal_commit, terminal_free, terminal_add_workspace};

// Backend records of the lists (one line per record as backends land).

// 1D complex, in trial order: 8192-point, two-factor, n-factor local-memory,
// small multi-dimensional local-memory, four-factor, large, n-factor
// column-batched, four-factor column-batched, three-factor, very large
// (single precision only), general (no sub-groups), terminal.
const bkd_ops* const bkdlist_sc1d[] = {
    &bkd_c2c_1d_8k_s_ops,          // 8192-point
    &bkd_c2c_1d_2_facts_s_ops,     // two-factor
    &bkd_c2c_1d_4_facts_s_ops,     // four-factor
    &bkd_c2c_1d_n_facts_colbatch_s_ops,  // n-factor column-batched
    &bkd_c2c_1d_4_facts_colbatch_s_ops,  // four-factor column-batched
    &bkd_c2c_1d_3_facts_s_ops,     // three-factor
    &bkd_1d_very_large_s_ops,      // very large
    &bkd_c2c_1d_nonsubgrp_s_ops,  // general backend
    &bkd_terminal,
    nullptr,
};
const bkd_ops* const bkdlist_dc1d[] = {
    &bkd_c2c_1d_8k_d_ops,          // 8192-point
    &bkd_c2c_1d_2_facts_d_ops,     // two-factor
    &bkd_c2c_1d_4_facts_d_ops,     // four-factor
    &bkd_c2c_1d_n_facts_colbatch_d_ops,  // n-factor column-batched
    &bkd_c2c_1d_4_facts_colbatch_d_ops,  // four-factor column-batched
    &bkd_c2c_1d_3_facts_d_ops,     // three-factor
    &bkd_c2c_1d_nonsubgrp_d_ops,  // general backend
    &bkd_terminal,
    nullptr,
};

// 1D real: small multi-dimensional local-memory, very large (single
// precision only), 1D real main, terminal.
const bkd_ops* const bkdlist_sr1d[] = {
    &bkd_1d_very_large_s_ops,      // very large
    &bkd_r2c_1d_main_s_ops,        // 1D real main
    &bkd_terminal,
    nullptr,
};
const bkd_ops* const bkdlist_dr1d[] = {
    &bkd_r2c_1d_main_d_ops,        // 1D real main
    &bkd_terminal,
    nullptr,
};

// Rank 2-3 complex: small multi-dimensional local-memory, 2D 8Nx8N small,
// 2D main, 3D cube, 3D main, terminal.
const bkd_ops* const bkdlist_scmd[] = {
    &bkd_terminal,
    nullptr,
};
const bkd_ops* const bkdlist_dcmd[] = {
    &bkd_terminal,
    nullptr,
};

// Rank 2-3 real: small multi-dimensional local-memory, real 2D and 3D main,
// terminal.
const bkd_ops* const bkdlist_srmd[] = {
    &bkd_terminal,
    nullptr,
};
const bkd_ops* const bkdlist_drmd[] = {
    &bkd_terminal,
    nullptr,
};

const char* bkd_name(const bkd_ops* record) {
    if (!record) return "none";
    static const struct {
        const bkd_ops* record;
        const char* name;
    } names[] = {
#define OVX_NAME(r) {&r, #r}
        OVX_NAME(bkd_terminal),
        OVX_NAME(bkd_c2c_1d_8k_s_ops), OVX_NAME(bkd_c2c_1d_8k_d_ops),
        OVX_NAME(bkd_c2c_1d_2_facts_s_ops), OVX_NAME(bkd_c2c_1d_2_facts_d_ops),
        OVX_NAME(bkd_c2c_1d_4_facts_s_ops), OVX_NAME(bkd_c2c_1d_4_facts_d_ops),
        OVX_NAME(bkd_c2c_1d_n_facts_colbatch_s_ops), OVX_NAME(bkd_c2c_1d_n_facts_colbatch_d_ops),
        OVX_NAME(bkd_c2c_1d_4_facts_colbatch_s_ops), OVX_NAME(bkd_c2c_1d_4_facts_colbatch_d_ops),
        OVX_NAME(bkd_c2c_1d_3_facts_s_ops), OVX_NAME(bkd_c2c_1d_3_facts_d_ops),
        OVX_NAME(bkd_1d_very_large_s_ops),
        OVX_NAME(bkd_c2c_1d_nonsubgrp_s_ops), OVX_NAME(bkd_c2c_1d_nonsubgrp_d_ops),
        OVX_NAME(bkd_r2c_1d_main_s_ops), OVX_NAME(bkd_r2c_1d_main_d_ops),
#undef OVX_NAME
    };
    for (const auto& n : names)
        if (n.record == record) return n.name;
    return "unknown backend";
}
