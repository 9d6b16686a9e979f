// Internal pieces shared by the offload entries.
#ifndef OVX_FFTW_OVX_OMP_OFFLOAD_HPP
#define OVX_FFTW_OVX_OMP_OFFLOAD_HPP

#include <cstdint>
#include <exception>
#include <string>

namespace korami {
namespace ovx {
namespace fftw {

// Failure of the offload runtime or of an interop object; only the offload
// entries throw and catch it.
class dft_omp_offload_exception : public std::exception {
public:
    explicit dft_omp_offload_exception(const std::string& message) : message_(message) {}
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

// The status of the exception in flight (call it inside a catch block), as
// the offload entries return it: the kinds of korami::ovx by the
// exception-to-status rows of the status table (dft/contract/ovx_dft_status.def),
// silently; dft_omp_offload_exception and sycl::exception give
// DFTI_STATUS_OFFLOAD_FAILED, any other exception DFTI_STATUS_INTERNAL, each
// with a line naming `entry` on the standard error stream.
std::int64_t status_of_exception(const char* entry);

}  // namespace fftw
}  // namespace ovx
}  // namespace korami

#endif
