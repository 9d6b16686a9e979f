// Kernel information text of the GPU ELF container: the YAML document that
// tells the driver how to launch one hand-made kernel.
#ifndef OVX_VASM_VASM_KINFO_HPP
#define OVX_VASM_VASM_KINFO_HPP

#include <cstdint>
#include <string>

#include "vasm/vasm.hpp"

namespace korami {
namespace ovx {
namespace vasm {

// Describes a finalized interface. Throws interface_not_finalized when the
// interface is not finalized and unsupported_argument_location_override when
// an argument's payload offset would be negative.
std::string generate_ze_info(const kernel_interface& iface);

// Byte offset of an argument location in the cross-thread payload, as the
// text prints it (may be negative for a location below the payload start).
int32_t payload_offset_of(const kernel_interface& iface, uint64_t location);

}  // namespace vasm
}  // namespace ovx
}  // namespace korami

#endif
