// The candidate lists of the GPU commit loop, one per precision, domain and
// rank class, each ending with the terminal record, and the records' names.
// Both come from the backend table (dft/gpu/backends.def): a list holds, in
// table order, the records of the rows marked for it and its precision.
#include "dft/gpu/backends.hpp"
#include "dft/node/ovx_dft_node.hpp"

#include <algorithm>

// The terminal record takes no node: it answers DFTI_STATUS_UNIMPLEMENTED so
// that a shape no backend handles ends as "unimplemented".
namespace {
int terminal_commit(const bkd_ops*, DFTI_DESCRIPTOR*) { return DFTI_STATUS_UNIMPLEMENTED; }
int terminal_free(const bkd_ops* self, DFTI_DESCRIPTOR* node) {
    return node && node->bkd == self ? 0 : DFTI_STATUS_INTERNAL;
}
int terminal_add_workspace(void*, int, std::uint64_t, DFTI_DESCRIPTOR*, std::uint32_t, std::vector<sycl::event>*) {
    return DFTI_STATUS_UNCOMMITTED_DESCRIPTOR;
}
}  // namespace

const bkd_ops bkd_terminal = {terminal_commit, terminal_free, terminal_add_workspace};

// The record of precision P (s or d) of a row, followed by a comma, when the
// row has that precision (flag HAS) and stands in the list (flag IN).
#define OVX_BKD_ENTRY(STEM, P, HAS, IN) OVX_BKD_IF_##HAS(OVX_BKD_IF_##IN(&bkd_##STEM##_##P##_ops, ))

#define OVX_BKD(STEM, MODULE, S, D, C1D, R1D, CMD, RMD) OVX_BKD_ENTRY(STEM, s, S, C1D)
const bkd_ops* const bkdlist_sc1d[] = {
#include "dft/gpu/backends.def"
    &bkd_terminal, nullptr};
#undef OVX_BKD
#define OVX_BKD(STEM, MODULE, S, D, C1D, R1D, CMD, RMD) OVX_BKD_ENTRY(STEM, d, D, C1D)
const bkd_ops* const bkdlist_dc1d[] = {
#include "dft/gpu/backends.def"
    &bkd_terminal, nullptr};
#undef OVX_BKD
#define OVX_BKD(STEM, MODULE, S, D, C1D, R1D, CMD, RMD) OVX_BKD_ENTRY(STEM, s, S, R1D)
const bkd_ops* const bkdlist_sr1d[] = {
#include "dft/gpu/backends.def"
    &bkd_terminal, nullptr};
#undef OVX_BKD
#define OVX_BKD(STEM, MODULE, S, D, C1D, R1D, CMD, RMD) OVX_BKD_ENTRY(STEM, d, D, R1D)
const bkd_ops* const bkdlist_dr1d[] = {
#include "dft/gpu/backends.def"
    &bkd_terminal, nullptr};
#undef OVX_BKD
#define OVX_BKD(STEM, MODULE, S, D, C1D, R1D, CMD, RMD) OVX_BKD_ENTRY(STEM, s, S, CMD)
const bkd_ops* const bkdlist_scmd[] = {
#include "dft/gpu/backends.def"
    &bkd_terminal, nullptr};
#undef OVX_BKD
#define OVX_BKD(STEM, MODULE, S, D, C1D, R1D, CMD, RMD) OVX_BKD_ENTRY(STEM, d, D, CMD)
const bkd_ops* const bkdlist_dcmd[] = {
#include "dft/gpu/backends.def"
    &bkd_terminal, nullptr};
#undef OVX_BKD
#define OVX_BKD(STEM, MODULE, S, D, C1D, R1D, CMD, RMD) OVX_BKD_ENTRY(STEM, s, S, RMD)
const bkd_ops* const bkdlist_srmd[] = {
#include "dft/gpu/backends.def"
    &bkd_terminal, nullptr};
#undef OVX_BKD
#define OVX_BKD(STEM, MODULE, S, D, C1D, R1D, CMD, RMD) OVX_BKD_ENTRY(STEM, d, D, RMD)
const bkd_ops* const bkdlist_drmd[] = {
#include "dft/gpu/backends.def"
    &bkd_terminal, nullptr};
#undef OVX_BKD
#undef OVX_BKD_ENTRY

namespace {
struct named_record {
    const bkd_ops* record;
    const char* name;
};
#define OVX_BKD_NAMED(STEM, P, HAS) OVX_BKD_IF_##HAS({&bkd_##STEM##_##P##_ops, "bkd_" #STEM "_" #P "_ops"}, )
#define OVX_BKD(STEM, MODULE, S, D, C1D, R1D, CMD, RMD) OVX_BKD_NAMED(STEM, s, S) OVX_BKD_NAMED(STEM, d, D)
const named_record record_names[] = {
#include "dft/gpu/backends.def"
    {&bkd_terminal, "bkd_terminal"}};
#undef OVX_BKD
#undef OVX_BKD_NAMED
}  // namespace

const char* bkd_name(const bkd_ops* record) {
    if (!record) return "none";
    for (const named_record& n : record_names)
        if (n.record == record) return n.name;
    return "unknown backend";
}

// ---- workspace estimate ------------------------------------------------------------

namespace {
// The largest estimate of the records of a candidate list.
std::int64_t largest_estimate(bkdlist l, const DFTI_DESCRIPTOR* node, const sycl::queue* queue) {
    std::int64_t best = 0;
    for (; l && *l; ++l) {
        const bkd_ops* rec = *l;
        if (!rec->estimate) continue;
        const std::int64_t b = rec->estimate(rec, node, queue);
        if (b > best) best = b;
    }
    return best;
}
}  // namespace

// The estimate walks the candidate list that a commit of the node would
// walk (the node's own list, else that of its precision, domain and rank;
// when lengths of 1 leave a lower working rank, the list of that rank too)
// and answers the largest need among the records that would take the node:
// commit takes the first record that accepts, which only the device decides,
// so the largest need is the size that fits whichever record takes the
// problem.
template <typename T>
std::int64_t dft_estimate_workspace_bytes(const dft_workspace_problem& problem) {
    const DFTI_DESCRIPTOR* node = problem.node;
    if (!node) return 0;
    const bkdlist own = gpu_dfti_select_bkdlist(node->precision, node->forward_domain, node->rank);
    const bkdlist list = node->bkdlist ? node->bkdlist : own;
    std::int64_t best = largest_estimate(list, node, problem.queue);
    if (list == own && node->working_rank != node->rank) {
        const bkdlist working = gpu_dfti_select_bkdlist(node->precision, node->forward_domain, node->working_rank);
        if (working != own) best = std::max(best, largest_estimate(working, node, problem.queue));
    }
    return best;
}
template std::int64_t dft_estimate_workspace_bytes<float>(const dft_workspace_problem&);
template std::int64_t dft_estimate_workspace_bytes<double>(const dft_workspace_problem&);
