// Exceptions of the GPU code generator and the OpenCL entry lookup.
//
// Every failure of the generator has a class of its own with one fixed
// message, derived directly from std::runtime_error. opencl_error and
// level_zero_error also keep the driver's status code.
#ifndef OVX_VASM_VASM_ERRORS_HPP
#define OVX_VASM_VASM_ERRORS_HPP

#include <cstdint>
#include <stdexcept>

namespace korami {
namespace ovx {
namespace vasm {

#define OVX_VASM_FIXED_MESSAGE_ERROR(name, text)                        \
    class name : public std::runtime_error {                           \
    public:                                                            \
        name() : std::runtime_error(text) {}                           \
        name(const name&) = default;                                   \
    };

OVX_VASM_FIXED_MESSAGE_ERROR(unfinished_stream_exception,
                             "An unfinished instruction stream is still active")
OVX_VASM_FIXED_MESSAGE_ERROR(dangling_label_exception,
                             "A label was referenced, but its location was not defined")
OVX_VASM_FIXED_MESSAGE_ERROR(invalid_directive_exception, "Invalid directive")
OVX_VASM_FIXED_MESSAGE_ERROR(invalid_range_exception, "Invalid register range")
OVX_VASM_FIXED_MESSAGE_ERROR(invalid_region_exception, "Unsupported register region")
OVX_VASM_FIXED_MESSAGE_ERROR(invalid_object_exception, "Object is invalid")
OVX_VASM_FIXED_MESSAGE_ERROR(missing_type_exception, "Operand is missing its type")
OVX_VASM_FIXED_MESSAGE_ERROR(interface_not_finalized, "Interface has not been finalized")
OVX_VASM_FIXED_MESSAGE_ERROR(unsupported_argument_location_override,
                             "Argument register location is invalid")
OVX_VASM_FIXED_MESSAGE_ERROR(invalid_immediate_exception, "Invalid immediate value")
OVX_VASM_FIXED_MESSAGE_ERROR(unknown_argument_exception, "Argument not found")
OVX_VASM_FIXED_MESSAGE_ERROR(invalid_model_exception, "Invalid addressing model specified")
OVX_VASM_FIXED_MESSAGE_ERROR(multiple_label_exception, "Label already has a location")
OVX_VASM_FIXED_MESSAGE_ERROR(read_only_exception, "Memory model is read-only")
OVX_VASM_FIXED_MESSAGE_ERROR(invalid_modifiers_exception, "Invalid or conflicting modifiers")
OVX_VASM_FIXED_MESSAGE_ERROR(invalid_operand_exception, "Invalid operand to instruction")
OVX_VASM_FIXED_MESSAGE_ERROR(invalid_type_exception,
                             "Instruction does not support this type or combination of types")
OVX_VASM_FIXED_MESSAGE_ERROR(invalid_address_modifier_exception, "Invalid address offset")

namespace npack {
OVX_VASM_FIXED_MESSAGE_ERROR(bad_binary_section,
                             "Incompatible OpenCL runtime: invalid binary section.")
OVX_VASM_FIXED_MESSAGE_ERROR(invalid_checksum, "Incompatible OpenCL runtime: invalid checksum.")
OVX_VASM_FIXED_MESSAGE_ERROR(bad_elf,
                             "Incompatible OpenCL runtime: program is not in expected ELF format.")
OVX_VASM_FIXED_MESSAGE_ERROR(no_binary_section,
                             "Incompatible OpenCL runtime: no binary section found.")
}  // namespace npack

#undef OVX_VASM_FIXED_MESSAGE_ERROR

// An OpenCL call failed; the message carries the status in decimal.
class opencl_error : public std::runtime_error {
public:
    explicit opencl_error(int status);
    opencl_error(const opencl_error&) = default;
    ~opencl_error() override;
    std::int32_t status;
};

// A Level Zero call failed; the thrower stores the result code in `status`.
class level_zero_error : public std::runtime_error {
public:
    level_zero_error() : std::runtime_error("A Level Zero error occurred."), status(0) {}
    explicit level_zero_error(std::int32_t result)
        : std::runtime_error("A Level Zero error occurred."), status(result) {}
    level_zero_error(const level_zero_error&) = default;
    ~level_zero_error() override;
    std::int32_t status;
};

// Address of an OpenCL API function in the OpenCL library that is already
// loaded in the process ("OpenCL.dll"). Never loads the library; a missing
// library or symbol throws opencl_error(-1001). Never returns null.
void* get_opencl_entry(const char* name);

}  // namespace vasm
}  // namespace ovx
}  // namespace korami

#endif
