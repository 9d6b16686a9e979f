// Commit steps of a backend record: the commit sequence once the
// applicability test passed, and the free slot.
#ifndef OVX_DFT_GPU_FRAME_STEPS_HPP
#define OVX_DFT_GPU_FRAME_STEPS_HPP

#include "dft/node/ovx_dft_node.hpp"

namespace korami {
namespace ovx {
namespace dft {
namespace gpufw {

// The commit sequence of a record once its applicability test passed: the
// previous owner is detached, `init` runs (`release` undoes it on a failure
// or an exception) and `finish` sets the compute entries.
template <class Init, class Release, class Finish>
int frame_commit_steps(const bkd_ops* self, DFTI_DESCRIPTOR* node, Init init, Release release, Finish finish) {
    if (!(node->bkd == self && node->bkd_data == nullptr)) {
        if (node->detach_backend)
            node->detach_backend(node);
        else
            ::detach_backend(node);
    }
    node->bkd = self;
    int st;
    try {
        st = init(node);
    } catch (...) {
        release(node);
        throw;
    }
    if (st != 0) {
        release(node);
        return st;
    }
    finish(node);
    return 0;
}

// The free slot of a record: 7 for a node it does not own.
template <class Release>
int frame_free_steps(const bkd_ops* self, DFTI_DESCRIPTOR* node, Release release) {
    if (node->bkd != self) return DFTI_STATUS_INTERNAL;
    node->compute_fwd = nullptr;
    node->compute_bwd = nullptr;
    node->commit_status = DFTI_UNCOMMITTED;
    release(node);
    return 0;
}

}  // namespace gpufw
}  // namespace dft
}  // namespace ovx
}  // namespace korami

#endif
