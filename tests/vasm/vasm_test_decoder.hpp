// Independent field reader for generated instruction words: reads fields
// back by their documented bit positions, without any of the encoder code.
#ifndef OVX_TESTS_VASM_TEST_DECODER_HPP
#define OVX_TESTS_VASM_TEST_DECODER_HPP

#include <array>
#include <cstdint>
#include <vector>

namespace vasm_test {

using word4 = std::array<std::uint32_t, 4>;

inline std::uint32_t bits(std::uint32_t v, unsigned lo, unsigned width) {
    return width >= 32 ? (v >> lo) : ((v >> lo) & ((1u << width) - 1u));
}

inline std::vector<word4> words_of(const std::vector<std::uint64_t>& code) {
    std::vector<word4> out;
    for (std::size_t i = 0; i + 1 < code.size(); i += 2)
        out.push_back({static_cast<std::uint32_t>(code[i]), static_cast<std::uint32_t>(code[i] >> 32),
                       static_cast<std::uint32_t>(code[i + 1]), static_cast<std::uint32_t>(code[i + 1] >> 32)});
    return out;
}

inline std::vector<word4> words_of_bytes(const std::vector<std::uint8_t>& b) {
    std::vector<word4> out;
    for (std::size_t i = 0; i + 16 <= b.size(); i += 16) {
        word4 w{};
        for (int d = 0; d < 4; ++d)
            w[d] = std::uint32_t(b[i + 4 * d]) | (std::uint32_t(b[i + 4 * d + 1]) << 8) |
                   (std::uint32_t(b[i + 4 * d + 2]) << 16) | (std::uint32_t(b[i + 4 * d + 3]) << 24);
        out.push_back(w);
    }
    return out;
}

inline unsigned opcode(const word4& w) { return w[0] & 0x7F; }

struct send_fields {
    unsigned sfid;
    std::uint32_t desc;
    std::uint32_t ex;  // the extended descriptor bits the word carries
    unsigned dst_reg, src0_reg, src1_reg;
    bool dst_grf, src0_grf, src1_grf;
    bool eot;
};

// Quen1 / Quen2 send word.
inline send_fields decode_send_q1(const word4& w) {
    send_fields f{};
    f.sfid = bits(w[0], 24, 4);
    f.desc = w[3] & 0x7FFFFFFFu;
    f.eot = bits(w[3], 31, 1);
    f.ex = f.sfid | (f.eot ? 0x20u : 0u) | (bits(w[2], 0, 4) << 16) | (bits(w[2], 16, 4) << 20) |
           (bits(w[2], 21, 4) << 24) | (bits(w[2], 27, 4) << 28);
    f.dst_grf = bits(w[1], 3, 1);
    f.dst_reg = bits(w[1], 21, 8);
    f.src0_grf = bits(w[1], 9, 1);
    f.src0_reg = bits(w[2], 5, 8);
    return f;
}

// Send word from Quen3 on.
inline send_fields decode_send_q3(const word4& w) {
    send_fields f{};
    f.sfid = bits(w[2], 28, 4);
    f.desc = bits(w[2], 17, 11) | (bits(w[3], 17, 9) << 11) | (bits(w[1], 19, 5) << 20) |
             (bits(w[2], 3, 5) << 25) | (bits(w[3], 26, 2) << 30);
    f.eot = bits(w[1], 2, 1);
    f.ex = (f.eot ? 0x20u : 0u) | (bits(w[3], 3, 5) << 6) | (bits(w[1], 3, 13) << 11) |
           (bits(w[2], 0, 2) << 24) | (bits(w[3], 0, 2) << 26) | (bits(w[3], 28, 4) << 28);
    f.dst_grf = bits(w[1], 18, 1);
    f.dst_reg = bits(w[1], 24, 8);
    f.src0_grf = bits(w[2], 2, 1);
    f.src0_reg = bits(w[2], 8, 8);
    f.src1_grf = bits(w[3], 2, 1);
    f.src1_reg = bits(w[3], 8, 8);
    return f;
}

// Register and byte offset of a source field from Quen3 on.
struct source_location {
    unsigned reg;
    unsigned byte;
    bool grf;
};

inline source_location decode_source_q3(std::uint32_t field) {
    return {bits(field, 8, 8), bits(field, 3, 5), bits(field, 2, 1) != 0};
}

inline source_location decode_source_q6(std::uint32_t field) {
    return {bits(field, 8, 8), (bits(field, 3, 5) << 1) | bits(field, 23, 1), bits(field, 2, 1) != 0};
}

inline source_location decode_source_q1(std::uint32_t field) {
    return {bits(field, 5, 8), bits(field, 0, 5), true};
}

}  // namespace vasm_test

#endif
