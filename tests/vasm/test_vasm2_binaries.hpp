// Builders of driver-style program binaries (ELF64 with a binary section)
// for the carrier patching and probe tests.
#ifndef OVX_TESTS_VASM_TEST_VASM2_BINARIES_HPP
#define OVX_TESTS_VASM_TEST_VASM2_BINARIES_HPP

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "vasm/vasm_patch.hpp"

namespace vasm2_test {

using bytes = std::vector<uint8_t>;
namespace np = korami::ovx::vasm::npack;

inline uint32_t rd32(const bytes& b, std::size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
inline uint64_t rd64(const bytes& b, std::size_t at) { return uint64_t(rd32(b, at)) | uint64_t(rd32(b, at + 4)) << 32; }
inline void wr16(bytes& b, std::size_t at, uint16_t v) {
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}
inline void wr32(bytes& b, std::size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}
inline void wr64(bytes& b, std::size_t at, uint64_t v) {
    for (int i = 0; i < 8; ++i) b[at + i] = uint8_t(v >> (8 * i));
}

// Contents of a binary section.
struct section_body {
    uint32_t prefix = 16, code = 768, heap1 = 64, heap2 = 128, heap3 = 0;
    bytes tokens = bytes(200, 0);
    uint32_t unpadded = 700;
};

// Fills a byte range with a pattern that tells every region apart.
inline void pattern(bytes& b, std::size_t from, std::size_t len, uint8_t seed) {
    for (std::size_t i = 0; i < len; ++i) b[from + i] = uint8_t(seed + i * 7);
}

inline bytes make_section(const section_body& s) {
    const std::size_t body = std::size_t(s.prefix) + s.code + s.heap1 + s.heap2 + s.heap3 + s.tokens.size();
    bytes b(68 + body, 0);
    std::memcpy(b.data(), "TRVO", 4);
    wr32(b, 4, 0x11111111);
    wr32(b, 16, 1);
    wr32(b, 20, 0x22222222);
    wr32(b, 40, s.prefix);
    wr32(b, 44, uint32_t(s.tokens.size()));
    wr32(b, 48, s.code);
    wr32(b, 52, s.heap1);
    wr32(b, 56, s.heap2);
    wr32(b, 60, s.heap3);
    wr32(b, 64, s.unpadded);
    std::size_t at = 68;
    pattern(b, at, s.prefix, 0x10);
    at += s.prefix;
    pattern(b, at, s.code, 0x40);
    at += s.code;
    pattern(b, at, s.heap1 + s.heap2 + s.heap3, 0x80);
    at += s.heap1 + s.heap2 + s.heap3;
    std::memcpy(b.data() + at, s.tokens.data(), s.tokens.size());
    wr32(b, 28, np::binary_section_checksum(b.data() + 68, body));
    return b;
}

struct elf_section {
    uint32_t type;
    uint64_t offset;
    bytes data;
};

// ELF64 file with the given sections at their offsets and the section header
// table at `shoff`.
inline bytes make_elf(const std::vector<elf_section>& secs, uint64_t shoff, std::size_t tail = 0) {
    std::size_t size = shoff + 64 * secs.size();
    for (const auto& s : secs) size = std::max<std::size_t>(size, s.offset + s.data.size());
    bytes b(size + tail, 0);
    std::memcpy(b.data(), "\x7f" "ELF", 4);
    b[4] = 2;
    b[5] = 1;
    b[6] = 1;
    wr16(b, 16, 1);
    wr64(b, 40, shoff);
    wr16(b, 58, 64);
    wr16(b, 60, uint16_t(secs.size()));
    for (std::size_t i = 0; i < secs.size(); ++i) {
        const std::size_t h = shoff + 64 * i;
        wr32(b, h + 4, secs[i].type);
        wr64(b, h + 24, secs[i].offset);
        wr64(b, h + 32, secs[i].data.size());
        if (!secs[i].data.empty()) std::memcpy(b.data() + secs[i].offset, secs[i].data.data(), secs[i].data.size());
    }
    return b;
}

// A one-section program binary whose binary section carries a code region of
// `code_size` bytes and the given token list.
inline bytes carrier_binary(uint32_t code_size = 512, const bytes& tokens = bytes(40, 0)) {
    section_body body;
    body.code = code_size;
    body.unpadded = code_size - 64;
    body.tokens = tokens;
    const bytes sec = make_section(body);
    bytes strtab(32, 0);
    return make_elf({{0, 0, {}}, {np::binary_section_type, 512, sec}, {3, 512 + sec.size() + 16, strtab}}, 64);
}

}  // namespace vasm2_test

#endif
