// Exceptions of the korami ovx library.
//
// Every exception of the product derives from korami::ovx::exception, itself a
// std::exception. The message is composed as
//     "korami::ovx" ["::" domain] ["::" function] [": " detail]
// where each bracketed part appears only when it is not empty, for example
//     korami::ovx::dft::commit: invalid argument: lengths must be positive
#ifndef KORAMI_OVX_EXCEPTIONS_HPP
#define KORAMI_OVX_EXCEPTIONS_HPP

#include <exception>
#include <string>

#include <sycl/sycl.hpp>

namespace korami {
namespace ovx {

class exception : public std::exception {
public:
    exception(const std::string& domain, const std::string& function,
              const std::string& detail = "");
    const char* what() const noexcept override;

private:
    std::string msg_;
};

// The device cannot run the requested operation; detail "<device name> is not supported".
class unsupported_device : public exception {
public:
    unsupported_device(const std::string& domain, const std::string& function,
                       const sycl::device& device);
};

// Host memory could not be allocated; detail "cannot allocate memory on host".
class host_bad_alloc : public exception {
public:
    host_bad_alloc(const std::string& domain, const std::string& function);
};

// Device memory could not be allocated; detail "cannot allocate memory on <device name>".
class device_bad_alloc : public exception {
public:
    device_bad_alloc(const std::string& domain, const std::string& function,
                     const sycl::device& device);
};

// Detail "unimplemented functionality" [": " message].
class unimplemented : public exception {
public:
    unimplemented(const std::string& domain, const std::string& function,
                  const std::string& message = "");
};

// Detail "invalid argument" [": " message].
class invalid_argument : public exception {
public:
    invalid_argument(const std::string& domain, const std::string& function,
                     const std::string& message = "");
};

// Detail "uninitialized object" [": " message].
class uninitialized : public exception {
public:
    uninitialized(const std::string& domain, const std::string& function,
                  const std::string& message = "");
};

// Detail "computation error" [": " message].
class computation_error : public exception {
public:
    computation_error(const std::string& domain, const std::string& function,
                      const std::string& message = "");
};

// Detail "batch error" [": " message].
class batch_error : public exception {
public:
    batch_error(const std::string& domain, const std::string& function,
                const std::string& message = "");
};

}  // namespace ovx
}  // namespace korami

#endif
