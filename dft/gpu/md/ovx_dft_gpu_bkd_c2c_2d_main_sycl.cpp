// 2D complex main GPU backend: the module of c2c_2d_main.hpp in both precisions.
#include "dft/gpu/1d/frame_records.hpp"
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

OVX_GPU1D_MODULE_RECORDS(c2c_2d_main_module, bkd_c2c_2d_main, dft_c2c_2d_main_gpu_bkd, estimate_c2c_2d_main)
