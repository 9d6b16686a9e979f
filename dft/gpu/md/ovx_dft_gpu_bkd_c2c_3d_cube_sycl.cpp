// 3D complex cube GPU backend: the module of c2c_3d_cube.hpp in both precisions.
#include <atomic>

#include "dft/gpu/frame/records.hpp"
#include "dft/gpu/md/c2c_3d_cube.hpp"

namespace korami {
namespace ovx {
namespace dft {
namespace gpumd {
namespace {
std::atomic<std::int64_t> admitted_side{0};
}  // namespace

void c2c_3d_cube_admit_side(std::int64_t n) { admitted_side.store(n); }
std::int64_t c2c_3d_cube_admitted_side() { return admitted_side.load(); }
}  // namespace gpumd
}  // namespace dft
}  // namespace ovx
}  // namespace korami

OVX_GPU_BACKEND_RECORDS(korami::ovx::dft::gpumd::cube_module, c2c_3d_cube)
