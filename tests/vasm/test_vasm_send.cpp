// Message descriptor builders and send words.
#include <gtest/gtest.h>

#include "vasm/vasm.hpp"
#include "vasm/vasm_test_decoder.hpp"

using namespace korami::ovx::vasm;
using namespace vasm_test;

namespace {

const register_operand r31{0x000010003000001Full};
const register_operand r64{0x0000100030000040ull};

struct store_q1_row {
    unsigned exec, count, model, surface;
    std::uint32_t desc, ex;
};

}  // namespace

TEST(Descriptors, StoreQuen1) {
    const store_q1_row rows[] = {
        // model 1, surface 1: the probe's verdict store.
        {1, 1, 1, 1, 0x0202C201u, 0x4Au},
        // model 4 at execution size 16: message length 4, SFID 12.
        {16, 1, 4, 0xFF, 0x080691FFu, 0x8Cu},
        // four elements: log2 in bits 10-11, r x n = 4 data registers.
        {8, 4, 2, 7, 0x0202CA07u, 0x10Au},
    };
    for (const store_q1_row& r : rows) {
        std::uint32_t d = 0xDEAD, x = 0;
        encode_store_descriptor_q1(d, x, r.exec, r.count, address_model_word(r.model, r.surface));
        EXPECT_EQ(d, r.desc) << r.exec << " " << r.model;
        EXPECT_EQ(x, r.ex) << r.exec << " " << r.model;
        EXPECT_EQ(bits(d, 20, 5), 0u);  // no response
    }
    // The extended descriptor keeps its end-of-thread bit and bits 11-31.
    std::uint32_t d = 0, x = 0xFFFFF83Fu;
    encode_store_descriptor_q1(d, x, 1, 1, address_model_word(1, 0));
    EXPECT_EQ(x, 0xFFFFF800u | 0x20u | 0x40u | 10u);
    // Counts from 2^31 up still give log2 31 (bits 10-11 hold 31 & 3).
    for (unsigned n : {0x80000000u, 0xFFFFFFFFu}) {
        encode_store_descriptor_q1(d, x, 1, n, address_model_word(1, 0));
        EXPECT_EQ(bits(d, 10, 2), 3u) << n;
    }
}

TEST(Descriptors, StoreQuen1Refusals) {
    for (unsigned m : {16u, 32u}) {
        std::uint32_t d = 1, x = 2;
        EXPECT_THROW(encode_store_descriptor_q1(d, x, 1, 1, address_model_word(m, 0)), read_only_exception);
        EXPECT_EQ(d, 1u);
        EXPECT_EQ(x, 2u);
    }
    for (unsigned m : {0u, 8u, 64u, 128u}) {
        std::uint32_t d = 1, x = 2;
        EXPECT_THROW(encode_store_descriptor_q1(d, x, 1, 1, address_model_word(m, 0)), invalid_model_exception) << m;
        EXPECT_EQ(d, 1u);
    }
}

TEST(Descriptors, BlockLoad) {
    struct row {
        int hw;
        unsigned exec;
        register_operand dst;
        message_spec spec;
        unsigned model;
        std::uint32_t surface;
        std::int32_t offset;
        std::uint32_t desc, ex;
    };
    const register_operand null_reg = null_ud;
    const row rows[] = {
        // The probe's load on Quen6-Quen8: response 2, message 2, SFID 15.
        {7, 1, r31, {0x600, 0, 8}, 4, 0xFF, 0, 0x04200780u, 0x0Fu},
        {9, 1, r31, {0x600, 0, 8}, 4, 0xFF, 0, 0x04200780u, 0x0Fu},
        // Quen5 block load of 4 x 4 bytes: one register back.
        {6, 1, r31, {0x8B400, 4, 4}, 2, 0x12, 0, 0x6218B500u, 0xFF00000Fu},
        // Quen6 block load of 32 x 4 bytes: two registers back.
        {7, 1, r31, {0x8E400, 32, 4}, 2, 0, 0, 0x6228E500u, 0xFF00000Fu},
        // Null destination: no response.
        {7, 1, null_reg, {0x600, 0, 8}, 4, 0xFF, 0, 0x04000780u, 0x0Fu},
        // Model 8 uses SFID 14 and offsets like model 4.
        {7, 1, r31, {0x600, 1, 4}, 8, 0, -0x80000, 0x04100700u, 0x8000000Eu},
        // Stateful models 128 / 129: surface from bit 6.
        {6, 8, r31, {0x600, 1, 4}, 129, 5, 0, 0x42100700u, 0x14Fu},
    };
    for (const row& r : rows) {
        std::uint32_t d = 0, x = 0;
        encode_block_load_descriptor(r.hw, d, x, r.exec, r.dst, r.spec, address_model_word(r.model, r.surface),
                                     address_record{r64, r.offset});
        EXPECT_EQ(d, r.desc) << std::hex << r.spec.base_descriptor << " model " << std::dec << r.model;
        EXPECT_EQ(x, r.ex) << std::hex << r.spec.base_descriptor << " model " << std::dec << r.model;
    }
}

TEST(Descriptors, AddressOffsetRanges) {
    struct row { unsigned model; std::int32_t offset; bool ok; };
    const row rows[] = {{1, 2047, true}, {1, 2048, false}, {1, -2048, true}, {1, -2049, false},
                        {2, 2047, true}, {4, -0x80000, true}, {4, 0x80000, false}, {4, 0x7FFFF, true},
                        {8, -0x80001, false}};
    for (const row& r : rows) {
        std::uint32_t d = 7, x = 9;
        auto call = [&] {
            encode_block_load_descriptor(7, d, x, 1, r31, message_spec{0x600, 1, 4}, address_model_word(r.model, 3),
                                         address_record{r64, r.offset});
        };
        if (r.ok) {
            EXPECT_NO_THROW(call()) << r.model << " " << r.offset;
        } else {
            EXPECT_THROW(call(), invalid_address_modifier_exception) << r.model << " " << r.offset;
            EXPECT_EQ(d, 7u);
            EXPECT_EQ(x, 9u);
        }
    }
    // Model 2 becomes model 1 with surface 255, whatever the given surface.
    std::uint32_t d = 0, x = 0;
    encode_block_load_descriptor(7, d, x, 1, r31, message_spec{0x600, 1, 4}, address_model_word(2, 0x1234),
                                 address_record{r64, -1});
    EXPECT_EQ(x >> 24, 255u);
    EXPECT_EQ(bits(x, 12, 12), 0xFFFu);
    EXPECT_EQ(bits(d, 29, 2), 3u);
}

TEST(Descriptors, ModelRefusals) {
    for (unsigned m : {0u, 3u, 16u, 32u, 64u, 130u, 255u}) {
        std::uint32_t d = 0, x = 0;
        EXPECT_THROW(encode_block_load_descriptor(7, d, x, 1, r31, message_spec{0x600, 1, 4}, address_model_word(m, 0),
                                                  address_record{r64, 0}),
                     invalid_model_exception)
            << m;
    }
    for (unsigned m : {16u, 32u}) {
        std::uint32_t d = 0, x = 0;
        EXPECT_THROW(encode_store_descriptor_q6(d, x, 1, message_spec{0x400, 1, 4}, address_model_word(m, 0),
                                                address_record{r64, 0}),
                     read_only_exception);
    }
}

TEST(Descriptors, StoreQuen6) {
    std::uint32_t d = 0, x = 0x0F;
    encode_store_descriptor_q6(d, x, 1, message_spec{0x400, 1, 4}, 0x00000004000000FFull, address_record{r64, 0});
    EXPECT_EQ(d, 0x04000584u);
    EXPECT_EQ(x, 0x4Fu);
    // Block store of 32 x 4 bytes: two data registers, one address register.
    d = 0;
    x = 0;
    encode_store_descriptor_q6(d, x, 1, message_spec{0x8E400, 32, 4}, address_model_word(1, 3), address_record{r64, 16});
    EXPECT_EQ(bits(x, 6, 5), 2u);
    EXPECT_EQ(bits(d, 25, 4), 1u);
    EXPECT_EQ(bits(d, 20, 5), 0u);
    EXPECT_EQ(bits(d, 2, 1), 1u);
    EXPECT_EQ(bits(x, 12, 12), 16u);
    EXPECT_EQ(x >> 24, 3u);
}

TEST(SendWords, Quen3ClearsOpcodeBit1) {
    code_generator g(4, 4);
    emit_send(g, 51, 0, null_ud, r64, r31, 0x4A, 0x0202C201);
    const auto w = words_of(g.root.code)[0];
    EXPECT_EQ(opcode(w), 49u);
    const send_fields f = decode_send_q3(w);
    EXPECT_EQ(f.sfid, 10u);
    EXPECT_EQ(f.desc, 0x0202C201u);
    EXPECT_EQ(f.ex & ~0x1Fu, 0x4Au & ~0x1Fu);
    EXPECT_EQ(f.src1_reg, 31u);
}

TEST(SendWords, Quen8IndirectSourceNamesArchitectureRegister) {
    code_generator g(14, 9);
    register_operand src0(0x0000100030000000ull | 12u | (1u << 31));  // L 0-7 = 12, L 8 clear
    emit_send(g, 49, 0, 15, r31, src0, null_ud, ~0ull, 0x0F, 0x04200780);
    const auto w = words_of(g.root.code)[0];
    EXPECT_EQ(bits(w[2], 8, 8), 0x10u);
    EXPECT_EQ(bits(w[2], 2, 1), 0u);
    EXPECT_EQ(bits(w[3], 3, 5), 6u);
    register_operand src0b(src0.value | 0x100u);
    emit_send(g, 49, 0, 15, r31, src0b, null_ud, ~0ull, 0x0F, 0x04200780);
    EXPECT_EQ(bits(words_of(g.root.code)[1][2], 8, 8), 0x60u);
    // Other generations refuse an indirect send source.
    code_generator h(10, 7);
    EXPECT_THROW(emit_send(h, 49, 0, 15, r31, src0, null_ud, ~0ull, 0x0F, 0), invalid_operand_exception);
    EXPECT_TRUE(h.root.code.empty());
}

TEST(SendWords, Quen1EndOfThread) {
    code_generator g(1, 1);
    emit_send(g, 0x0000800000600008ull, null_ud, register_operand(0x000010003000007Full), 0x27, 0x02000010);
    const send_fields f = decode_send_q1(words_of(g.root.code)[0]);
    EXPECT_EQ(f.sfid, 7u);
    EXPECT_TRUE(f.eot);
    EXPECT_EQ(f.desc, 0x02000010u);
    EXPECT_EQ(f.src0_reg, 127u);
    EXPECT_EQ(bits(words_of(g.root.code)[0][1], 15, 1), 1u);  // modifier bit 47
}
