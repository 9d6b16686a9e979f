// 2D complex main GPU backend: the module of c2c_2d_main.hpp in both precisions.
#include "dft/gpu/frame/records.hpp"
#include "dft/gpu/md/c2c_2d_main.hpp"

#include <atomic>

namespace korami {
namespace ovx {
namespace dft {
namespace gpumd {
namespace {
std::atomic<std::int64_t> transposes_side{16384};
}  // namespace
std::int64_t c2c_2d_transposes_side() { return transposes_side.load(); }
void set_c2c_2d_transposes_side(std::int64_t n) { transposes_side.store(n); }
}  // namespace gpumd
}  // namespace dft
}  // namespace ovx
}  // namespace korami

OVX_GPU_BACKEND_RECORDS(korami::ovx::dft::gpumd::c2c_2d_module, c2c_2d_main)
