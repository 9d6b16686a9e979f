// The product's exceptions.
#include "korami/ovx/exceptions.hpp"

namespace korami {
namespace ovx {

namespace {

std::string with_message(const char* detail, const std::string& message) {
    std::string text(detail);
    if (!message.empty()) text += ": " + message;
    return text;
}

std::string device_name(const sycl::device& device) {
    try {
        return device.get_info<sycl::info::device::name>();
    } catch (const std::exception&) {
        return "the device";
    }
}

}  // namespace

exception::exception(const std::string& domain, const std::string& function,
                     const std::string& detail)
    : msg_("korami::ovx") {
    if (!domain.empty()) msg_ += "::" + domain;
    if (!function.empty()) msg_ += "::" + function;
    if (!detail.empty()) msg_ += ": " + detail;
}

const char* exception::what() const noexcept { return msg_.c_str(); }

unsupported_device::unsupported_device(const std::string& domain, const std::string& function,
                                       const sycl::device& device)
    : exception(domain, function, device_name(device) + " is not supported") {}

host_bad_alloc::host_bad_alloc(const std::string& domain, const std::string& function)
    : exception(domain, function, "cannot allocate memory on host") {}

device_bad_alloc::device_bad_alloc(const std::string& domain, const std::string& function,
                                   const sycl::device& device)
    : exception(domain, function, "cannot allocate memory on " + device_name(device)) {}

unimplemented::unimplemented(const std::string& domain, const std::string& function,
                             const std::string& message)
    : exception(domain, function, with_message("unimplemented functionality", message)) {}

invalid_argument::invalid_argument(const std::string& domain, const std::string& function,
                                   const std::string& message)
    : exception(domain, function, with_message("invalid argument", message)) {}

uninitialized::uninitialized(const std::string& domain, const std::string& function,
                             const std::string& message)
    : exception(domain, function, with_message("uninitialized object", message)) {}

computation_error::computation_error(const std::string& domain, const std::string& function,
                                     const std::string& message)
    : exception(domain, function, with_message("computation error", message)) {}

batch_error::batch_error(const std::string& domain, const std::string& function,
                         const std::string& message)
    : exception(domain, function, with_message("batch error", message)) {}

}  // namespace ovx
}  // namespace korami
