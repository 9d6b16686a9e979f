// Carrier kernel: an OpenCL C kernel with the interface and resources of a
// generated kernel, and the build that yields the driver's program binary.
#ifndef OVX_VASM_VASM_CARRIER_HPP
#define OVX_VASM_VASM_CARRIER_HPP

#ifndef CL_TARGET_OPENCL_VERSION
#define CL_TARGET_OPENCL_VERSION 300
#endif
#include <CL/cl.h>

#include <cstdint>
#include <ostream>
#include <vector>

#include "vasm/vasm.hpp"

namespace korami {
namespace ovx {
namespace vasm {

// Appends the carrier kernel's OpenCL C text for a finalized interface to
// `out`. Throws interface_not_finalized or
// unsupported_argument_location_override before writing anything.
void generate_dummy_cl(const kernel_interface& iface, std::ostream& out);

// Builds `source` with `options` for `device` and returns that device's
// program binary. Every OpenCL failure throws opencl_error with its status
// (0 when the device is not among the program's devices or the program is
// null without a status; -1001 when an entry point cannot be found). The
// program is released on every path.
std::vector<uint8_t> get_opencl_c_program_binary(cl_context context, cl_device_id device, const char* source,
                                                 const char* options);

}  // namespace vasm
}  // namespace ovx
}  // namespace korami

#endif
