// Rewriting of the driver's program binary: the generated code replaces the
// carrier kernel's code inside the binary section.
//
// Every offset, size and count read from the binary is checked against the
// buffer before it is used, and all arithmetic on them is done in 64 bits, so
// that a truncated or hostile binary ends in one of the npack exceptions and
// never in an out-of-range access. The new image is built completely before it
// replaces the old one.
#include "vasm/vasm_patch.hpp"

#include <cstring>

#include "vasm/vasm.hpp"

namespace korami {
namespace ovx {
namespace vasm {
namespace npack {

namespace {

uint32_t rd32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
uint16_t rd16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint64_t rd64(const uint8_t* p) { return uint64_t(rd32(p)) | (uint64_t(rd32(p + 4)) << 32); }
void wr32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
void wr64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i));
}

void mix(uint32_t& a, uint32_t& b, uint32_t& c) {
    a -= b; a -= c; a ^= c >> 13;
    b -= c; b -= a; b ^= a << 8;
    c -= a; c -= b; c ^= b >> 13;
    a -= b; a -= c; a ^= c >> 12;
    b -= c; b -= a; b ^= a << 16;
    c -= a; c -= b; c ^= b >> 5;
    a -= b; a -= c; a ^= c >> 3;
    b -= c; b -= a; b ^= a << 10;
    c -= a; c -= b; c ^= b >> 15;
}

// ELF64 section header fields.
constexpr std::size_t sh_type_at = 4, sh_offset_at = 24, sh_size_at = 32;
constexpr uint32_t sht_nobits = 8;

}  // namespace

uint32_t binary_section_checksum(const uint8_t* data, std::size_t length) {
    uint32_t a = 0x428A2F98u, b = 0x71374491u, c = 0xB5C0FBCFu;
    std::size_t words = length / 4;
    for (std::size_t i = 0; i < words; ++i) {
        a ^= rd32(data + 4 * i);
        mix(a, b, c);
    }
    std::size_t rest = length % 4;
    if (rest == 0) return c;
    uint32_t t = 0;
    for (std::size_t i = 0; i < rest; ++i) t = (t + data[4 * words + i]) << 8;
    a = t;
    mix(a, b, c);
    return c;
}

void replace_kernel(std::vector<uint8_t>& binary, const std::vector<uint8_t>& code,
                    bool clear_token_word, const std::vector<uint8_t>& extra_tokens) {
    const uint8_t* in = binary.data();
    const uint64_t n = binary.size();

    // ELF header: magic, 64-bit little-endian, and a section header table
    // that lies wholly inside the binary.
    if (n < 64 || std::memcmp(in, "\x7f" "ELF", 4) != 0) throw bad_elf();
    if (in[4] != 2 || in[5] != 1) throw bad_elf();
    const uint64_t shoff = rd64(in + 40);
    const uint64_t shnum = rd16(in + 60);
    if (shoff > n || 64 * shnum > n - shoff) throw bad_elf();
    if (shnum != 0 && rd16(in + 58) != 64) throw bad_elf();

    // The first binary section in table order.
    if (shnum == 0) throw no_binary_section();
    uint64_t k = shnum;
    for (uint64_t i = 0; i < shnum; ++i) {
        if (rd32(in + shoff + 64 * i + sh_type_at) == binary_section_type) {
            k = i;
            break;
        }
    }
    if (k == shnum) throw no_binary_section();
    const uint8_t* shk = in + shoff + 64 * k;
    const uint64_t sec_size = rd64(shk + sh_size_at);
    if (sec_size < 28) throw no_binary_section();

    // Section header: must lie wholly inside the binary and the section.
    const uint64_t off = rd64(shk + sh_offset_at);
    if (off > n || n - off < binary_section_header_size || sec_size < binary_section_header_size ||
        sec_size > n - off)
        throw bad_binary_section();
    const uint8_t* sec = in + off;
    if (std::memcmp(sec, "TRVO", 4) != 0 || rd32(sec + 16) != 1 || rd32(sec + 24) != 0)
        throw bad_binary_section();

    const uint64_t checksum = rd32(sec + 28);
    const uint64_t prefix_size = rd32(sec + 40);
    const uint64_t token_list_size = rd32(sec + 44);
    const uint64_t code_size = rd32(sec + 48);
    const uint64_t heaps = uint64_t(rd32(sec + 52)) + rd32(sec + 56) + rd32(sec + 60);
    const uint64_t p = off + binary_section_header_size;
    const uint64_t s = p + prefix_size;
    const uint64_t e = s + code_size;
    const uint64_t h = heaps + token_list_size;
    // The body must lie inside the binary and inside its own section.
    if (e + h > n || e + h > off + sec_size) throw bad_binary_section();

    if (binary_section_checksum(in + p, std::size_t(e + h - p)) != checksum) throw invalid_checksum();

    const uint64_t m = code.size();
    const uint64_t x = extra_tokens.size();
    const uint64_t q = (m + 64 + 255) / 256 * 256;
    if (q > 0xFFFFFFFFull || token_list_size + x > 0xFFFFFFFFull || m > 0xFFFFFFFFull)
        throw bad_binary_section();
    const int64_t d = int64_t(q) - int64_t(code_size) + int64_t(x);
    const uint64_t end_body = e + h;  // everything from here on moves by d

    // Layout checks for what is moved. The section header table and every
    // section with file data must lie either wholly before the binary section's
    // code or wholly behind its body; only those behind move.
    const uint64_t table_end = shoff + 64 * shnum;
    const bool table_moves = shoff >= end_body;
    if (!table_moves && table_end > s) throw bad_elf();
    std::vector<bool> moves(shnum, false);
    for (uint64_t i = 0; i < shnum; ++i) {
        if (i == k) continue;
        const uint8_t* sh = in + shoff + 64 * i;
        const uint64_t so = rd64(sh + sh_offset_at);
        const uint64_t ss = rd64(sh + sh_size_at);
        const bool has_data = rd32(sh + sh_type_at) != sht_nobits && ss != 0;
        if (so >= end_body) {
            moves[i] = true;
        } else if (has_data && (i > k || so + ss > s || so + ss < so)) {
            // Data behind the header table order, or overlapping the part of
            // the binary that is rewritten: not a layout this rewrite supports.
            throw bad_elf();
        }
    }

    // Tokens whose word at byte 64 is cleared, as offsets into the old token
    // list. The walk checks every token against the list before reading it.
    std::vector<uint64_t> cleared;
    if (clear_token_word) {
        const uint64_t list = e + heaps;
        const uint64_t list_end = list + token_list_size;
        uint64_t t = list;
        while (t < list_end) {
            if (list_end - t < 8) throw bad_binary_section();
            const uint64_t type = rd32(in + t);
            const uint64_t size = rd32(in + t + 4);
            if (size == 0) break;
            if (size < 8 || size > list_end - t) throw bad_binary_section();
            if (type == 22 && size == 88) cleared.push_back(t - list);
            t += size;
        }
    }

    // The new image.
    std::vector<uint8_t> out(std::size_t(int64_t(n) + d), 0);
    uint8_t* o = out.data();
    std::memcpy(o, in, std::size_t(s));
    if (m) std::memcpy(o + s, code.data(), std::size_t(m));
    const uint64_t heaps_at = s + q;
    if (h) std::memcpy(o + heaps_at, in + e, std::size_t(h));
    if (x) std::memcpy(o + heaps_at + h, extra_tokens.data(), std::size_t(x));
    if (n > end_body) std::memcpy(o + heaps_at + h + x, in + end_body, std::size_t(n - end_body));

    const uint64_t new_list = heaps_at + heaps;
    for (uint64_t t : cleared) wr32(o + new_list + t + 64, 0);

    uint8_t* nsec = o + off;
    wr32(nsec + 28, binary_section_checksum(o + p, std::size_t(heaps_at + h + x - p)));
    wr32(nsec + 48, uint32_t(q));
    wr32(nsec + 64, uint32_t(m));
    wr32(nsec + 44, uint32_t(token_list_size + x));

    const uint64_t new_shoff = table_moves ? uint64_t(int64_t(shoff) + d) : shoff;
    if (table_moves) wr64(o + 40, new_shoff);
    uint8_t* nsh = o + new_shoff;
    wr64(nsh + 64 * k + sh_size_at, uint64_t(int64_t(sec_size) + d));
    for (uint64_t i = 0; i < shnum; ++i)
        if (moves[i]) wr64(nsh + 64 * i + sh_offset_at, uint64_t(int64_t(rd64(nsh + 64 * i + sh_offset_at)) + d));

    binary.swap(out);
}

}  // namespace npack
}  // namespace vasm
}  // namespace ovx
}  // namespace korami
