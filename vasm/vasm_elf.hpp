// GPU ELF container: the one-kernel ELF64 file in which generated code is
// handed to the driver, and the reader of its compat note.
#ifndef OVX_VASM_VASM_ELF_HPP
#define OVX_VASM_VASM_ELF_HPP

#include <cstddef>
#include <cstdint>
#include <vector>

#include "vasm/vasm.hpp"

namespace korami {
namespace ovx {
namespace vasm {

// Generation codes carried in the compat note.
constexpr uint32_t compat_code_quen1 = 12;
constexpr uint32_t compat_code_quen2 = 16;
constexpr uint32_t compat_code_quen3 = 18;
constexpr uint32_t compat_code_quen5 = 0xC07;
constexpr uint32_t compat_code_quen6 = 0xC08;
constexpr uint32_t compat_code_quen7 = 0xC09;
constexpr uint32_t compat_code_quen8 = 0x1E00;

// Compat-note code of a GPU generation (1..8 as in ovx_gpu_arch_t); 0 for
// Quen4 and anything outside 1..8.
uint32_t compat_code_of_arch(int32_t arch);
// GPU generation (1..8) named by a compat-note code; 0 when the code names no
// generation this library knows.
int32_t arch_of_compat_code(uint32_t code);

// Builds the container from the kernel's interface (its information text and
// name) and the finished code. Throws what generate_ze_info throws.
std::vector<uint8_t> build_gpu_elf(const kernel_interface& iface, const std::vector<uint8_t>& code,
                                   uint32_t compat_code);

// Compat-note code of a generator hardware number (1, 3, 4, 6, 7, 8, 9); 0
// for any other number.
uint32_t compat_code_of_hardware(int hardware_number);

// The GPU ELF container of a finalized generator and its finished code. From
// Quen5 on, the two prologue labels are resolved first: a placed first label
// becomes the interface's offset to skip the per-thread data load, a placed
// second one its second label offset. Throws interface_not_finalized,
// unsupported_argument_location_override, and std::invalid_argument for a
// generator of a generation without a container.
std::vector<uint8_t> write_gpu_elf(code_generator& gen, const std::vector<uint8_t>& code);

// Reads the generation code from the ".note.tarvogt.compat" section (note of
// type 2, owner "TarvoGT") of a GPU binary. Throws npack::bad_elf when the
// bytes are not a well-formed ELF64 little-endian file, npack::no_binary_section
// when the file has no compat note section, npack::bad_binary_section when that
// section holds no well-formed type-2 note.
uint32_t read_compat_note(const uint8_t* data, std::size_t size);

}  // namespace vasm
}  // namespace ovx
}  // namespace korami

#endif
