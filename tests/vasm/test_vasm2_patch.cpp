// Binary-section checksum and the carrier binary rewrite: worked layouts,
// token clearing, header-table moves and a suite of malformed binaries.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "vasm/vasm.hpp"
#include "vasm/vasm_patch.hpp"
#include "test_vasm2_binaries.hpp"
#include "ovx_test_env.hpp"

namespace {

using namespace vasm2_test;
using bytes = std::vector<uint8_t>;
namespace np = korami::ovx::vasm::npack;

// The worked layout: binary section at file offset 1024, one section before
// it and two behind it; section header table at 64.
bytes worked_binary(const section_body& body = section_body()) {
    bytes sec = make_section(body);
    bytes before(100);
    pattern(before, 0, before.size(), 3);
    bytes after1(40), after2(24);
    pattern(after1, 0, after1.size(), 5);
    pattern(after2, 0, after2.size(), 9);
    const uint64_t end = 1024 + sec.size();
    return make_elf({{0, 0, {}}, {1, 512, before}, {np::binary_section_type, 1024, sec}, {1, end + 8, after1},
                     {1, end + 64, after2}},
                    64);
}

bytes code_of(std::size_t n) {
    bytes c(n);
    pattern(c, 0, n, 0xC0);
    return c;
}

// Checks that a binary passes the rewrite's own input checks.
void expect_valid(const bytes& b) {
    bytes copy = b;
    EXPECT_NO_THROW(np::replace_kernel(copy, code_of(16), false, {}));
}

TEST(Vasm2Checksum, WorkedValues) {
    EXPECT_EQ(np::binary_section_checksum(nullptr, 0), 0xB5C0FBCFu);
    const uint8_t abc[] = {'a', 'b', 'c'};
    EXPECT_EQ(np::binary_section_checksum(abc, 3), 0x0891B40Au);
}

TEST(Vasm2Checksum, TailBytesReplaceTheState) {
    // A tail of r bytes is packed as (t1 << 24 | ...) shifted, replacing a:
    // "abcd" + "e" differs from "abcd" + "\0" and from "abcd".
    const uint8_t x[] = {'a', 'b', 'c', 'd', 'e'};
    const uint8_t y[] = {'a', 'b', 'c', 'd', 0};
    EXPECT_NE(np::binary_section_checksum(x, 5), np::binary_section_checksum(y, 5));
    EXPECT_NE(np::binary_section_checksum(x, 5), np::binary_section_checksum(x, 4));
    EXPECT_NE(np::binary_section_checksum(x, 4), 0xB5C0FBCFu);
}

TEST(Vasm2Patch, WorkedLayout) {
    const bytes in = worked_binary();
    bytes b = in;
    const bytes code = code_of(300);
    np::replace_kernel(b, code, false, {});
    ASSERT_EQ(b.size(), in.size() - 256);
    // Everything before the code unchanged but the size of section 2 and the
    // sizes and checksum in the section header.
    EXPECT_TRUE(std::equal(in.begin(), in.begin() + 64 + 128 + 32, b.begin()));
    EXPECT_TRUE(std::equal(in.begin() + 384, in.begin() + 1024 + 28, b.begin() + 384));
    EXPECT_TRUE(std::equal(in.begin() + 1024 + 32, in.begin() + 1024 + 44, b.begin() + 1024 + 32));
    EXPECT_TRUE(std::equal(in.begin() + 1024 + 68, in.begin() + 1108, b.begin() + 1024 + 68));
    EXPECT_TRUE(std::equal(code.begin(), code.end(), b.begin() + 1108));
    for (std::size_t i = 1408; i < 1620; ++i) ASSERT_EQ(b[i], 0) << i;
    // Heaps at 1620..1811 and token list at 1812..2011, from 1876 in the input.
    EXPECT_TRUE(std::equal(in.begin() + 1876, in.begin() + 1876 + 392, b.begin() + 1620));
    // Everything behind the body moved by -256.
    EXPECT_TRUE(std::equal(in.begin() + 2268, in.end(), b.begin() + 2012));
    EXPECT_EQ(rd32(b, 1024 + 48), 512u);
    EXPECT_EQ(rd32(b, 1024 + 64), 300u);
    EXPECT_EQ(rd32(b, 1024 + 44), 200u);
    EXPECT_EQ(rd32(b, 1024 + 28), np::binary_section_checksum(b.data() + 1092, 2012 - 1092));
    // Section headers: k = 2 shrinks, 3 and 4 move, 0 and 1 unchanged.
    EXPECT_EQ(rd64(b, 64 + 128 + 32), rd64(in, 64 + 128 + 32) - 256);
    EXPECT_EQ(rd64(b, 64 + 128 + 24), 1024u);
    EXPECT_EQ(rd64(b, 64 + 192 + 24), rd64(in, 64 + 192 + 24) - 256);
    EXPECT_EQ(rd64(b, 64 + 256 + 24), rd64(in, 64 + 256 + 24) - 256);
    EXPECT_EQ(rd64(b, 64 + 64 + 24), 512u);
    EXPECT_EQ(rd64(b, 40), 64u);
    expect_valid(b);
}

struct size_case {
    std::size_t code;
    uint32_t region;
};
class Vasm2PatchSizes : public ::testing::TestWithParam<size_case> {};

TEST_P(Vasm2PatchSizes, CodeRegionIsCodePlus64RoundedTo256) {
    const bytes in = worked_binary();
    bytes b = in;
    np::replace_kernel(b, code_of(GetParam().code), false, {});
    EXPECT_EQ(rd32(b, 1024 + 48), GetParam().region);
    EXPECT_EQ(rd32(b, 1024 + 64), GetParam().code);
    EXPECT_EQ(b.size(), in.size() + GetParam().region - 768);
    expect_valid(b);
}
INSTANTIATE_TEST_SUITE_P(All, Vasm2PatchSizes,
                         ::testing::Values(size_case{0, 256}, size_case{192, 256}, size_case{193, 512},
                                           size_case{704, 768}, size_case{705, 1024}, size_case{2000, 2304}),
                         [](const auto& i) { return ovx_test::name("code", i.param.code); });

TEST(Vasm2Patch, ExtraTokensAreAppendedToTheList) {
    const bytes in = worked_binary();
    bytes b = in;
    bytes extra(24);
    pattern(extra, 0, extra.size(), 0x55);
    np::replace_kernel(b, code_of(300), false, extra);
    EXPECT_EQ(rd32(b, 1024 + 44), 224u);
    EXPECT_TRUE(std::equal(extra.begin(), extra.end(), b.begin() + 2012));
    EXPECT_EQ(b.size(), in.size() - 256 + 24);
    EXPECT_EQ(rd64(b, 64 + 192 + 24), rd64(in, 64 + 192 + 24) - 232);
    expect_valid(b);
}

TEST(Vasm2Patch, LastSectionMovesNothingElse) {
    section_body body;
    bytes sec = make_section(body);
    bytes before(40, 1);
    bytes in = make_elf({{0, 0, {}}, {1, 512, before}, {np::binary_section_type, 1024, sec}}, 64);
    bytes b = in;
    np::replace_kernel(b, code_of(1000), false, {});
    EXPECT_EQ(rd64(b, 64 + 64 + 24), 512u);
    EXPECT_EQ(rd64(b, 64 + 128 + 24), 1024u);
    EXPECT_EQ(rd64(b, 64 + 128 + 32), sec.size() + 1280 - 768);
    expect_valid(b);
}

TEST(Vasm2Patch, OnlyTheFirstBinarySectionIsUsed) {
    section_body body;
    bytes sec1 = make_section(body);
    body.code = 256;
    bytes sec2 = make_section(body);
    bytes in = make_elf({{0, 0, {}}, {np::binary_section_type, 1024, sec1},
                         {np::binary_section_type, 1024 + sec1.size() + 16, sec2}},
                        64);
    bytes b = in;
    np::replace_kernel(b, code_of(10), false, {});
    EXPECT_EQ(rd32(b, 1024 + 48), 256u);
    const uint64_t second = rd64(b, 64 + 128 + 24);
    EXPECT_EQ(second, 1024 + sec1.size() + 16 - 512);
    EXPECT_EQ(rd32(b, second + 48), 256u);  // second section untouched, only moved
    EXPECT_EQ(rd32(b, second + 64), 700u);
}

bytes token(uint32_t type, uint32_t size, uint8_t fill) {
    bytes t(size, fill);
    wr32(t, 0, type);
    wr32(t, 4, size);
    return t;
}

TEST(Vasm2Patch, ClearTokenWordClearsOnlyType22Size88) {
    section_body body;
    body.tokens.clear();
    for (const bytes& t : {token(5, 16, 0xAA), token(22, 88, 0xBB), token(22, 96, 0xCC), token(21, 88, 0xDD),
                           token(22, 88, 0xEE)})
        body.tokens.insert(body.tokens.end(), t.begin(), t.end());
    const bytes in = worked_binary(body);
    for (bool clear : {false, true}) {
        bytes b = in;
        np::replace_kernel(b, code_of(300), clear, {});
        const std::size_t list = 1108 + 512 + 192;
        EXPECT_EQ(rd32(b, list + 16 + 64), clear ? 0u : 0xBBBBBBBBu);
        EXPECT_EQ(rd32(b, list + 16 + 88 + 64), 0xCCCCCCCCu);
        EXPECT_EQ(rd32(b, list + 16 + 88 + 96 + 64), 0xDDDDDDDDu);
        EXPECT_EQ(rd32(b, list + 16 + 88 + 96 + 88 + 64), clear ? 0u : 0xEEEEEEEEu);
        expect_valid(b);
    }
}

TEST(Vasm2Patch, ZeroSizeTokenEndsTheWalk) {
    section_body body;
    body.tokens.clear();
    for (const bytes& t : {token(5, 16, 0xAA), token(9, 8, 0)}) body.tokens.insert(body.tokens.end(), t.begin(), t.end());
    wr32(body.tokens, 16 + 4, 0);  // the second token has size 0
    bytes t88 = token(22, 88, 0xBB);
    body.tokens.insert(body.tokens.end(), t88.begin(), t88.end());
    const bytes in = worked_binary(body);
    bytes b = in;
    np::replace_kernel(b, code_of(300), true, {});
    EXPECT_EQ(rd32(b, 1108 + 512 + 192 + 24 + 64), 0xBBBBBBBBu);
}

TEST(Vasm2Patch, HeaderTableBehindTheSectionMoves) {
    section_body body;
    bytes sec = make_section(body);
    bytes after(40);
    pattern(after, 0, after.size(), 77);
    const uint64_t after_at = 1024 + sec.size() + 8;
    const uint64_t shoff = after_at + 40 + 24;
    bytes in = make_elf({{0, 0, {}}, {np::binary_section_type, 1024, sec}, {1, after_at, after}}, shoff);
    bytes b = in;
    np::replace_kernel(b, code_of(300), false, {});
    EXPECT_EQ(rd64(b, 40), shoff - 256);
    EXPECT_EQ(rd64(b, shoff - 256 + 64 + 32), sec.size() - 256);
    EXPECT_EQ(rd64(b, shoff - 256 + 128 + 24), after_at - 256);
    EXPECT_TRUE(std::equal(after.begin(), after.end(), b.begin() + after_at - 256));
    expect_valid(b);
}

// Malformed binaries: each gets its exception and leaves the input as it was.
struct bad_case {
    const char* name;
    std::function<bytes()> make;
    int kind;  // 0 bad_elf, 1 no_binary_section, 2 bad_binary_section, 3 invalid_checksum
    bool clear = false;
};

void section_word(bytes& b, std::size_t field, uint32_t v, bool fix_checksum = false) {
    wr32(b, 1024 + field, v);
    (void)fix_checksum;
}

std::vector<bad_case> bad_cases() {
    std::vector<bad_case> v;
    v.push_back({"empty", [] { return bytes(); }, 0});
    v.push_back({"magic only", [] { return bytes{0x7f, 'E', 'L', 'F'}; }, 0});
    v.push_back({"63 bytes", [] { bytes b = worked_binary(); b.resize(63); return b; }, 0});
    v.push_back({"no magic", [] { bytes b = worked_binary(); b[1] = 'X'; return b; }, 0});
    v.push_back({"32-bit class", [] { bytes b = worked_binary(); b[4] = 1; return b; }, 0});
    v.push_back({"table beyond end", [] { bytes b = worked_binary(); wr64(b, 40, b.size() - 64); return b; }, 0});
    v.push_back({"shoff overflow", [] { bytes b = worked_binary(); wr64(b, 40, ~uint64_t(0) - 63); return b; }, 0});
    v.push_back({"shnum overflow", [] { bytes b = worked_binary(); wr16(b, 60, 0xFFFF); return b; }, 0});
    v.push_back({"entry size", [] { bytes b = worked_binary(); wr16(b, 58, 40); return b; }, 0});
    v.push_back({"no sections", [] { bytes b = worked_binary(); wr16(b, 60, 0); return b; }, 1});
    v.push_back({"no binary section", [] { bytes b = worked_binary(); wr32(b, 64 + 128 + 4, 1); return b; }, 1});
    v.push_back({"section of 27 bytes", [] { bytes b = worked_binary(); wr64(b, 64 + 128 + 32, 27); return b; }, 1});
    v.push_back({"section beyond end", [] { bytes b = worked_binary(); wr64(b, 64 + 128 + 24, b.size() + 8); return b; }, 2});
    v.push_back({"section offset overflow",
                 [] { bytes b = worked_binary(); wr64(b, 64 + 128 + 24, ~uint64_t(0) - 10); return b; }, 2});
    v.push_back({"header cut short", [] {
                     bytes b = worked_binary();
                     wr64(b, 64 + 128 + 24, b.size() - 40);
                     wr64(b, 64 + 128 + 32, 40);
                     return b;
                 }, 2});
    v.push_back({"section size beyond end",
                 [] { bytes b = worked_binary(); wr64(b, 64 + 128 + 32, ~uint64_t(0)); return b; }, 2});
    v.push_back({"bad section magic", [] { bytes b = worked_binary(); b[1024 + 3] = 'X'; return b; }, 2});
    v.push_back({"version 2", [] { bytes b = worked_binary(); section_word(b, 16, 2); return b; }, 2});
    v.push_back({"word 6 set", [] { bytes b = worked_binary(); section_word(b, 24, 1); return b; }, 2});
    v.push_back({"prefix overflow", [] { bytes b = worked_binary(); section_word(b, 40, 0xFFFFFFFF); return b; }, 2});
    v.push_back({"all sizes huge", [] {
                     bytes b = worked_binary();
                     for (std::size_t f : {40, 44, 48, 52, 56, 60}) section_word(b, f, 0xFFFFFFFF);
                     return b;
                 }, 2});
    v.push_back({"body one byte beyond section", [] {
                     bytes b = worked_binary();
                     wr64(b, 64 + 128 + 32, rd64(b, 64 + 128 + 32) - 1);
                     return b;
                 }, 2});
    v.push_back({"body beyond binary", [] {
                     bytes b = worked_binary();
                     section_word(b, 44, 200 + 400);
                     return b;
                 }, 2});
    v.push_back({"checksum", [] { bytes b = worked_binary(); b[1024 + 68 + 5] ^= 1; return b; }, 3});
    v.push_back({"table inside the body", [] {
                     bytes b = worked_binary();
                     bytes table(b.begin() + 64, b.begin() + 64 + 320);
                     std::copy(table.begin(), table.end(), b.begin() + 1024 + 68 + 16 + 100);
                     wr64(b, 40, 1024 + 68 + 16 + 100);
                     wr32(b, 1024 + 28, np::binary_section_checksum(b.data() + 1092, rd64(b, 64 + 128 + 32) - 68));
                     return b;
                 }, 0});
    v.push_back({"later section inside the body", [] {
                     bytes b = worked_binary();
                     wr64(b, 64 + 192 + 24, 1200);
                     return b;
                 }, 0});
    auto token_list = [](std::initializer_list<bytes> toks, std::size_t extra_zero) {
        section_body body;
        body.tokens.clear();
        for (const bytes& t : toks) body.tokens.insert(body.tokens.end(), t.begin(), t.end());
        body.tokens.resize(body.tokens.size() + extra_zero, 0);
        return body;
    };
    v.push_back({"token beyond list", [=] {
                     bytes t = token(22, 88, 1);
                     bytes list = t;
                     list.resize(80);  // the token claims 88 bytes, 80 remain
                     section_body body;
                     body.tokens = list;
                     return worked_binary(body);
                 }, 2, true});
    v.push_back({"token size huge", [=] {
                     bytes t = token(3, 16, 1);
                     wr32(t, 4, 0xFFFFFFF0);
                     return worked_binary(token_list({token(5, 16, 2), t}, 0));
                 }, 2, true});
    v.push_back({"token size below header", [=] {
                     bytes t = token(3, 16, 1);
                     wr32(t, 4, 3);
                     return worked_binary(token_list({t}, 0));
                 }, 2, true});
    v.push_back({"token header cut", [=] { return worked_binary(token_list({token(5, 16, 2)}, 4)); }, 2, true});
    return v;
}

TEST(Vasm2Patch, MalformedBinariesAreRefusedUnchanged) {
    for (const bad_case& c : bad_cases()) {
        SCOPED_TRACE(c.name);
        const bytes in = c.make();
        bytes b = in;
        const bytes code = code_of(300);
        switch (c.kind) {
            case 0: EXPECT_THROW(np::replace_kernel(b, code, c.clear, {}), np::bad_elf); break;
            case 1: EXPECT_THROW(np::replace_kernel(b, code, c.clear, {}), np::no_binary_section); break;
            case 2: EXPECT_THROW(np::replace_kernel(b, code, c.clear, {}), np::bad_binary_section); break;
            case 3: EXPECT_THROW(np::replace_kernel(b, code, c.clear, {}), np::invalid_checksum); break;
        }
        EXPECT_EQ(b, in);
    }
}

TEST(Vasm2Patch, ExceptionsCarryTheirMessages) {
    bytes b;
    try {
        np::replace_kernel(b, {}, false, {});
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Incompatible OpenCL runtime: program is not in expected ELF format.");
    }
    b = worked_binary();
    b[1024 + 100] ^= 0xFF;
    try {
        np::replace_kernel(b, {}, false, {});
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Incompatible OpenCL runtime: invalid checksum.");
    }
}

}  // namespace
