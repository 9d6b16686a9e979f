// Binary-section tools: the checksum of a driver program binary's code
// section and the rewrite that puts generated code in place of a carrier
// kernel's code.
#ifndef OVX_VASM_VASM_PATCH_HPP
#define OVX_VASM_VASM_PATCH_HPP

#include <cstddef>
#include <cstdint>
#include <vector>

namespace korami {
namespace ovx {
namespace vasm {
namespace npack {

// ELF section type of the driver's binary section.
constexpr uint32_t binary_section_type = 0xFF000005u;
// Bytes of the binary section's header.
constexpr std::size_t binary_section_header_size = 68;

// 32-bit checksum of `length` bytes at `data` (little-endian words, then a
// tail of up to three bytes). Pure function; `data` may be null when
// `length` is 0.
uint32_t binary_section_checksum(const uint8_t* data, std::size_t length);

// Cuts the carrier kernel's code out of the program binary `binary` and puts
// `code` in its place; moves what lies behind, fixes sizes, section offsets,
// the section header table position and the checksum. With
// `clear_token_word`, every token of type 22 and size 88 has its word at byte
// 64 cleared. `extra_tokens` is appended to the token list. Throws one of the
// npack exceptions and leaves `binary` unchanged on any failure.
void replace_kernel(std::vector<uint8_t>& binary, const std::vector<uint8_t>& code,
                    bool clear_token_word, const std::vector<uint8_t>& extra_tokens);

}  // namespace npack
}  // namespace vasm
}  // namespace ovx
}  // namespace korami

#endif
