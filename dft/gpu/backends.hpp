// The GPU backends' records, declared from the backend table
// (dft/gpu/backends.def): for each row, the records bkd_<stem>_s_ops /
// bkd_<stem>_d_ops of the precisions it has.
#ifndef OVX_DFT_GPU_BACKENDS_HPP
#define OVX_DFT_GPU_BACKENDS_HPP

#include <cstdint>

#include "dft/node/ovx_dft_node.hpp"

// OVX_BKD_IF_<flag>(tokens...): the tokens when the table flag is 1, nothing
// when it is 0. The flag must be the literal 0 or 1 of a table row.
#define OVX_BKD_IF_0(...)
#define OVX_BKD_IF_1(...) __VA_ARGS__

#define OVX_BKD(STEM, MODULE, S, D, C1D, R1D, CMD, RMD)                                        \
    OVX_BKD_IF_##S(extern const bkd_ops bkd_##STEM##_s_ops;)                                   \
    OVX_BKD_IF_##D(extern const bkd_ops bkd_##STEM##_d_ops;)
#include "dft/gpu/backends.def"
#undef OVX_BKD

// Prebuilt-kernel requests of the single-precision four-factor column-batched
// backend since load: how many kernel slots asked for a prebuilt binary, and
// how many of those went on to the source build because none could be had.
struct four_facts_colbatch_binary_counts {
    std::int64_t requests;
    std::int64_t fallbacks;
};
four_facts_colbatch_binary_counts get_four_facts_colbatch_binary_counts();

#endif
