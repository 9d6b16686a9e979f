// Internal pieces shared by the offload entries.
#ifndef OVX_FFTW_OVX_OMP_OFFLOAD_HPP
#define OVX_FFTW_OVX_OMP_OFFLOAD_HPP

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

}  // namespace fftw
}  // namespace ovx
}  // namespace korami

#endif
