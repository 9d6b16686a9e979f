// Instruction encoding: type tables, operand completion, field layouts of
// the three families, dependency fields, refusals and the prologue.
#include <gtest/gtest.h>

#include <functional>

#include "vasm/vasm.hpp"
#include "vasm/vasm_test_decoder.hpp"

using namespace korami::ovx::vasm;
using namespace vasm_test;

namespace {

word4 last_word(const code_generator& g) { return words_of(g.root.code).back(); }

}  // namespace

TEST(TypeTables, TypeBytes) {
    EXPECT_EQ(type_bytes(type_uq), 8u);
    EXPECT_EQ(type_bytes(type_none), 1u);
    EXPECT_EQ(type_bytes(type_code(0x40)), 1u);  // narrower than a byte counts as one
}

TEST(OperandCompletion, Regions) {
    struct row {
        type_code type;
        unsigned vs, w, hs;
        unsigned exec, hint;
        int index, count;
        unsigned evs, ew, ehs;
    };
    const row rows[] = {
        {type_ud, 0, 0, 1, 1, 4, 0, 2, 0, 1, 0},       // execution size 1: scalar
        {type_ud, 0, 0, 0, 1, 4, -1, 2, 0, 1, 1},      // scalar destination gets stride 1
        {type_ud, 0, 0, 1, 8, 4, 0, 2, 8, 8, 1},       // width from the stride
        {type_uw, 0, 0, 1, 16, 2, 0, 2, 16, 16, 1},
        {type_uq, 0, 0, 1, 8, 8, 0, 2, 4, 4, 1},       // 32-byte rows of 8-byte elements
        {type_ud, 0, 0, 0, 8, 4, 0, 2, 0, 1, 0},       // no stride: width 1
        {type_ud, 3, 8, 2, 8, 4, 0, 2, 16, 8, 2},      // width = execution size
        {type_uw, 0, 0, 0, 8, 4, -1, 2, 0, 1, 2},      // destination stride from the hint
        {type_ud, 0, 0, 1, 2, 4, 0, 3, 1, 2, 0},       // three-source <2;2,1> becomes <1;2,0>
        {type_ud, 0, 4, 1, 8, 4, 0, 2, 0, 4, 1},       // given width kept
    };
    for (const row& r : rows) {
        register_operand op = make_register(10, r.type, 0, r.vs, r.w, r.hs);
        fix_operand_region(op, 4, r.exec, r.hint, type_none, r.index, r.count);
        EXPECT_EQ(op.vstride(), r.evs) << int(r.type) << " exec " << r.exec;
        EXPECT_EQ(op.width(), r.ew) << int(r.type) << " exec " << r.exec;
        EXPECT_EQ(op.hstride(), r.ehs) << int(r.type) << " exec " << r.exec;
    }
}

TEST(OperandCompletion, TypesAndRefusals) {
    register_operand untyped = make_register(3, type_none);
    EXPECT_THROW(fix_operand_region(untyped, 4, 1, 4, type_none, 0, 2), missing_type_exception);
    fix_operand_region(untyped, 4, 1, 4, type_uw, 0, 2);
    EXPECT_EQ(untyped.type(), type_uw);
    register_operand bad = invalid_operand;
    EXPECT_THROW(fix_operand_region(bad, 4, 1, 4, type_ud, 0, 2), invalid_object_exception);
    // An indirect operand with the special vertical stride is left alone.
    register_operand ind(make_register(2, type_ud, 0, 127, 0, 0).value | (1ull << 31));
    const register_operand before = ind;
    fix_operand_region(ind, 4, 8, 4, type_ud, 0, 2);
    EXPECT_EQ(ind, before);
}

TEST(DependencyField, BothForms) {
    struct row { std::uint16_t control; unsigned opcode; std::uint32_t a, b; };
    const row rows[] = {
        {0x0000, 0, 0x00, 0x000},
        {0x0020, 0, 0x00, 0x0F0},   // all-tokens marker alone
        {0x0045, 0, 0x35, 0x0A5},   // read only
        {0x0085, 0, 0x25, 0x085},   // write only
        {0x00C5, 0, 0x45, 0x0C5},   // both
        {0x0385, 0, 0xB5, 0x165},   // write with distance 3
        {0x0385, 89, 0xB5, 0x365},  // ... opcode 89
        {0x1385, 0, 0xB5, 0x365},   // ... pipe 1
        {0x01C0, 0, 0x90, 0x120},   // the probe's load
        {0x0300, 0, 0x03, 0x003},   // distance only, pipe 0
        {0x4300, 0, 0x53, 0x023},   // pipe 4: code 10 in form A
        {0x2500, 0, 0x15, 0x015},
        {0x0345, 0, 0xB5, 0x265},   // read with distance: k 2
        {0x23C5, 0, 0xB5, 0x265},   // both, pipe 2: k 2
        {0x33C5, 0, 0xB5, 0x365},   // both, pipe 3: k 3
    };
    for (const row& r : rows) {
        EXPECT_EQ(encode_dependency_field_a(r.control), r.a) << std::hex << r.control;
        EXPECT_EQ(encode_dependency_field(r.control, r.opcode), r.b) << std::hex << r.control;
    }
    EXPECT_THROW(encode_dependency_field_a(0x5100), invalid_modifiers_exception);
}

TEST(FieldPacking, GenericRoutine) {
    const field_move moves[] = {{0, 4, 4, 0, 28}, {1, 0, 8, 3, 0}, {0, 0, 32, 2, 0}};
    const std::uint64_t src[2] = {0xABCD1234u, 0x1FFu};
    instruction_word w{};
    pack_fields(w, moves, src);
    EXPECT_EQ(w[0], 0x30000000u);
    EXPECT_EQ(w[2], 0xABCD1234u);
    EXPECT_EQ(w[3], 0xFFu);
}

TEST(Emitters, ImmediateMoveHalves) {
    for (int hw : {1, 3, 4, 6}) {
        code_generator g(1, hw);
        emit_unary_immediate(g, hw <= 3 ? 1 : 97, 1, type_none, make_register(5, type_ud), {0x12345678u, type_ud});
        EXPECT_EQ(last_word(g)[2], 0u);
        EXPECT_EQ(last_word(g)[3], 0x12345678u);
        emit_unary_immediate(g, hw <= 3 ? 1 : 97, 1, type_none, make_register(5, type_uq),
                             {0x1122334455667788ull, type_uq});
        const word4 w = last_word(g);
        EXPECT_EQ(w[2], hw <= 3 ? 0x55667788u : 0x11223344u) << hw;
        EXPECT_EQ(w[3], hw <= 3 ? 0x11223344u : 0x55667788u) << hw;
        if (hw <= 3) {
            EXPECT_EQ(bits(w[1], 9, 2), 3u);  // immediate source
            EXPECT_EQ(bits(w[1], 11, 4), hw == 1 ? 8u : 6u);
        } else {
            EXPECT_EQ(bits(w[1], 14, 1), 1u);
            EXPECT_EQ(bits(w[1], 8, 4), 3u);
        }
    }
}

TEST(Emitters, HalfWordDestinationOffset) {
    // 16-bit destination at element 3: byte offset 6.
    for (int hw : {1, 4, 6, 7}) {
        code_generator g(1, hw);
        emit_unary(g, 1, make_register(9, type_uw, 3), make_register(2, type_uw));
        const word4 w = last_word(g);
        const std::uint32_t dst = bits(w[1], 16, 16);
        if (hw <= 3) {
            EXPECT_EQ(bits(dst, 0, 5), 6u);
            EXPECT_EQ(bits(dst, 5, 8), 9u);
        } else if (hw < 7) {
            EXPECT_EQ(bits(dst, 3, 5), 6u);
            EXPECT_EQ(bits(dst, 8, 8), 9u);
        } else {
            EXPECT_EQ(bits(dst, 3, 5), 3u);
            EXPECT_EQ(bits(w[1], 1, 1), 0u);
        }
    }
}

TEST(Emitters, SixtyFourByteRegisterOffsetsKeepBit5) {
    code_generator g(10, 7);
    // ud at element 12 = byte 48 of a 64-byte register, both as source and destination.
    emit_unary(g, 1, make_register(4, type_ud, 12), make_register(5, type_ud, 13));
    const word4 w = last_word(g);
    EXPECT_EQ(bits(w[1], 16 + 3, 5) << 1, 48u);
    const source_location s = decode_source_q6(bits(w[2], 0, 24));
    EXPECT_EQ(s.reg, 5u);
    EXPECT_EQ(s.byte, 52u);
    // Byte 33 of a byte-typed operand: low bit in field bit 23, rest in bits 3-7.
    emit_unary(g, 1, make_register(4, type_ud), make_register(6, type_code(0x64), 33));
    EXPECT_EQ(decode_source_q6(bits(last_word(g)[2], 0, 24)).byte, 33u);
}

TEST(Emitters, IndirectSpecialVerticalStride) {
    const register_operand ind(make_register(2, type_ud, 0, 127, 0, 0).value | (1ull << 31) | 3u);
    for (int hw : {1, 4, 7}) {
        code_generator g(1, hw);
        emit_unary(g, 8, make_register(9, type_ud), ind);
        const word4 w = last_word(g);
        if (hw <= 3)
            EXPECT_EQ(bits(w[2], 21, 4), 15u);
        else if (hw < 7)
            EXPECT_EQ(bits(w[2], 20, 4), 15u);
        else
            EXPECT_EQ(bits(w[2], 20, 3), 7u);
        EXPECT_EQ(hw <= 3 ? bits(w[2], 15, 1) : bits(w[2], 16, 1), 1u);
    }
}

// Fields of the last emitted word, read back by position: {dword, low bit, width, value}.
struct field {
    unsigned dword, lo, width;
    std::uint32_t value;
};
struct layout_case {
    const char* name;
    int product, hw;
    void (*emit)(code_generator&);
    std::vector<field> fields;
};

TEST(Emitters, FieldLayouts) {
    const layout_case cases[] = {
        {"Quen6 control bits", 10, 7,
         [](code_generator& g) {
             emit_unary(g, 1 | (3ull << 21) | (3ull << 12) | (3ull << 16) | (1ull << 20) | (3ull << 29) | (3ull << 32) |
                               (1ull << 44) | modifier_auto_dependency,
                        make_register(1, type_ud), make_register(2, type_ud));
         },
         {{0, 0, 7, 97}, {0, 7, 1, 1}, {0, 18, 3, 3}, {0, 21, 2, 3}, {0, 23, 1, 1}, {0, 24, 2, 3}, {0, 26, 2, 3},
          {0, 28, 1, 1}, {0, 29, 2, 3}}},
        {"Quen3 control bits", 4, 4,
         [](code_generator& g) {
             emit_unary(g, 1 | (5ull << 21) | (7ull << 11) | (3ull << 32) | (0x1Full << 16) | (3ull << 29),
                        make_register(1, type_ud), make_register(2, type_ud));
         },
         {{0, 16, 3, 5}, {0, 19, 3, 7}, {0, 22, 2, 3}, {0, 24, 5, 0x1F}, {0, 29, 2, 3}}},
        // Immediate source 1 and its type (ud).
        {"Quen3 compare with immediate", 4, 4,
         [](code_generator& g) {
             emit_compare_immediate(g, 0x01000001, null_ud, make_register(5, type_ud, 4), {0xBEEFCAFEu, type_ud});
         },
         {{0, 0, 7, 112}, {1, 15, 1, 1}, {2, 24, 4, 2}}},
        // Source 0 at byte 4 of r6.
        {"Quen1 compare with word immediate", 1, 1,
         [](code_generator& g) {
             emit_compare_immediate(g, 0x01000001, null_uw, make_register(6, type_uw, 2), {0xBEADBEADu, type_uw});
         },
         {{0, 0, 7, 16}, {2, 25, 2, 3}, {2, 27, 4, 2}, {1, 11, 4, 2}, {2, 0, 5, 4}, {2, 5, 8, 6}}},
        // Destination r127 at byte 8 (in 2-byte units), then the immediate.
        {"Quen6 binary immediate", 10, 7,
         [](code_generator& g) {
             emit_binary_immediate(g, 101, 1, type_ud, make_register(127, type_ud, 2), make_register(0, type_ud),
                                   {0xFFFFFFE0u, type_ud});
         },
         {{0, 0, 7, 101}, {1, 24, 8, 127}, {1, 19, 5, 4}, {3, 0, 32, 0xFFFFFFE0u}}},
        // Source 0 at byte 8, source 1 type uw, the word immediate in the top half.
        {"Quen5 ternary with word immediate", 6, 6,
         [](code_generator& g) {
             emit_ternary(g, 1, make_register(127, type_ud, 0), make_register(127, type_ud, 2),
                          make_register(127, type_uw, 0), {0x00600060u, type_uw});
         },
         {{0, 0, 7, 91}, {1, 15, 1, 1}, {1, 24, 8, 127}, {2, 8, 8, 127}, {2, 3, 5, 8}, {2, 24, 3, 1}, {3, 8, 8, 127},
          {3, 16, 16, 0x60}, {2, 16, 3, 1}}},
        {"Quen6 word immediate move", 10, 7,
         [](code_generator& g) { emit_move_word_immediate(g, 1, register_operand(0x000000805000001Eull), 1); },
         {{0, 0, 7, 97}, {2, 0, 32, 0}, {3, 0, 32, 0x00010001u}, {1, 8, 4, 1}, {1, 14, 1, 1}, {1, 24, 8, 30}}},
    };
    for (const layout_case& c : cases) {
        code_generator g(c.product, c.hw);
        c.emit(g);
        const word4 w = last_word(g);
        for (const field& f : c.fields)
            EXPECT_EQ(bits(w[f.dword], f.lo, f.width), f.value) << c.name << ": dword " << f.dword << " bit " << f.lo;
    }
}

TEST(Emitters, EveryRefusalThrowsBeforeAppending) {
    using F = std::function<void(code_generator&)>;
    const register_operand r1 = make_register(1, type_ud), r2 = make_register(2, type_ud);
    const register_operand ind(make_register(2, type_ud).value | (1ull << 31));
    struct row { const char* name; int hw; F call; int kind; };
    // kind: 0 invalid_object, 1 missing_type, 2 invalid_immediate, 3 invalid_modifiers,
    // 4 invalid_operand, 5 invalid_region, 6 invalid_type, 7 logic_error
    const row rows[] = {
        {"invalid destination", 7, [&](code_generator& g) { emit_unary(g, 1, invalid_operand, r2); }, 0},
        {"invalid source", 1, [&](code_generator& g) { emit_unary(g, 1, r1, invalid_operand); }, 0},
        {"invalid send operand", 9, [&](code_generator& g) { emit_send(g, 49, 1, 15, invalid_operand, r1, null_ud, ~0ull, 0, 0); }, 0},
        {"untyped compare", 4, [&](code_generator& g) { emit_compare_immediate(g, 1, make_register(0, type_none), r1, {1, type_ud}); }, 1},
        {"untyped word move", 8, [&](code_generator& g) { emit_move_word_immediate(g, 1, make_register(3, type_none), 1); }, 1},
        {"128-bit immediate", 1, [&](code_generator& g) { emit_unary_immediate(g, 1, 1, type_ud, r1, {1, type_code(0xE0)}); }, 2},
        {"64-bit compare immediate", 1, [&](code_generator& g) { emit_compare_immediate(g, 1, null_ud, r1, {1, type_uq}); }, 2},
        {"64-bit binary immediate", 6, [&](code_generator& g) { emit_binary_immediate(g, 64, 1, type_ud, r1, r2, {1, type_uq}); }, 2},
        {"32-bit ternary immediate", 7, [&](code_generator& g) { emit_ternary(g, 1, r1, r2, r2, {1, type_ud}); }, 2},
        {"64-bit move with condition", 4, [&](code_generator& g) { emit_unary_immediate(g, 97, 0x01000001, type_uq, make_register(4, type_uq), {1, type_uq}); }, 3},
        {"indirect ternary destination", 6, [&](code_generator& g) { emit_ternary(g, 1, ind, r2, r2, {1, type_uw}); }, 4},
        {"indirect ternary source", 9, [&](code_generator& g) { emit_ternary(g, 1, r1, r2, ind, {1, type_uw}); }, 4},
        {"register 256", 4, [&](code_generator& g) { emit_unary(g, 1, make_register(256, type_ud), r2); }, 4},
        {"register 300 source", 7, [&](code_generator& g) { emit_binary_immediate(g, 64, 1, type_ud, r1, make_register(300, type_ud), {1, type_ud}); }, 4},
        {"offset past 32-byte register", 1, [&](code_generator& g) { emit_unary(g, 1, r1, make_register(2, type_ud, 8)); }, 4},
        {"negative offset", 4, [&](code_generator& g) { emit_unary(g, 1, make_register(2, type_ud, -1), r1); }, 4},
        {"offset past 64-byte register", 8, [&](code_generator& g) { emit_unary(g, 1, r1, make_register(2, type_ud, 16)); }, 4},
        {"stride beyond field", 4, [&](code_generator& g) { emit_unary(g, 8, r1, make_register(2, type_uw, 0, 8, 1, 8)); }, 5},
        {"ternary vertical stride 2", 6, [&](code_generator& g) { emit_ternary(g, 8, make_register(1, type_ud, 0, 0, 0, 1), make_register(2, type_ud, 0, 2, 1, 0), r2, {1, type_uw}); }, 5},
        {"ternary float and integer", 7, [&](code_generator& g) { emit_ternary(g, 1, make_register(1, type_code(0xA7)), r2, r2, {1, type_uw}); }, 6},
        {"ternary on Quen3", 4, [&](code_generator& g) { emit_ternary(g, 1, r1, r2, r2, {1, type_uw}); }, 7},
        {"word move on Quen5", 6, [&](code_generator& g) { emit_move_word_immediate(g, 1, r1, 1); }, 7},
        {"compare on Quen6", 7, [&](code_generator& g) { emit_compare_immediate(g, 1, null_ud, r1, {1, type_ud}); }, 7},
        {"Quen1 send form on Quen3", 4, [&](code_generator& g) { emit_send(g, 1, null_ud, r1, 0, 0); }, 7},
    };
    for (const row& r : rows) {
        code_generator g(1, r.hw);
        emit_unary(g, 1, make_register(7, type_ud), make_register(8, type_ud));  // something already there
        label l = no_label;
        g.place_label(l);
        const auto code = g.root.code;
        const auto fixups = g.root.fixups.size();
        try {
            r.call(g);
            ADD_FAILURE() << r.name << ": no exception";
        } catch (const invalid_object_exception&) {
            EXPECT_EQ(r.kind, 0) << r.name;
        } catch (const missing_type_exception&) {
            EXPECT_EQ(r.kind, 1) << r.name;
        } catch (const invalid_immediate_exception&) {
            EXPECT_EQ(r.kind, 2) << r.name;
        } catch (const invalid_modifiers_exception&) {
            EXPECT_EQ(r.kind, 3) << r.name;
        } catch (const invalid_operand_exception&) {
            EXPECT_EQ(r.kind, 4) << r.name;
        } catch (const invalid_region_exception&) {
            EXPECT_EQ(r.kind, 5) << r.name;
        } catch (const invalid_type_exception&) {
            EXPECT_EQ(r.kind, 6) << r.name;
        } catch (const std::logic_error&) {
            EXPECT_EQ(r.kind, 7) << r.name;
        }
        EXPECT_EQ(g.root.code, code) << r.name;
        EXPECT_EQ(g.root.fixups.size(), fixups) << r.name;
    }
}

// --- Argument prologue ------------------------------------------------------

namespace {

std::vector<unsigned> opcodes_of(const code_generator& g) {
    std::vector<unsigned> ops;
    for (const word4& w : words_of(g.root.code)) ops.push_back(opcode(w));
    return ops;
}

}  // namespace

TEST(Prologue, ElevenRegistersGiveChunksEightTwoOne) {
    code_generator g(10, 7);
    g.iface.local_id_dimensions = 0;
    g.iface.finalize_interface();
    g.iface.payload_registers = 11;  // as if the payload had 11 registers
    emit_argument_prologue(g);
    std::vector<unsigned> counts;
    for (const word4& w : words_of(g.root.code))
        if (opcode(w) == 49) counts.push_back(bits(decode_send_q3(w).desc, 20, 5));
    EXPECT_EQ(counts, (std::vector<unsigned>{8, 2, 1}));
}

TEST(Prologue, NothingToLoadAndNotFinalised) {
    code_generator g(6, 6);
    g.iface.local_id_dimensions = 0;
    g.iface.finalize_interface();  // empty payload: 1 register, all inline
    emit_argument_prologue(g);
    EXPECT_TRUE(g.root.code.empty());
    EXPECT_EQ(g.payload_load_end, no_label);

    code_generator h(10, 7);
    h.iface.local_id_dimensions = 3;
    EXPECT_THROW(emit_argument_prologue(h), interface_not_finalized);
    EXPECT_TRUE(h.root.code.empty());
    code_generator q3(4, 4);
    q3.iface.finalize_interface();
    EXPECT_THROW(emit_argument_prologue(q3), std::logic_error);
}

TEST(Prologue, NegativeDimensionsGiveFillers) {
    code_generator g(10, 7);
    g.iface.local_id_dimensions = -1;
    g.iface.finalize_interface();
    emit_argument_prologue(g);
    const auto ops = opcodes_of(g);
    ASSERT_GE(ops.size(), 12u);
    for (int i = 0; i < 12; ++i) EXPECT_EQ(ops[i], 96u);
}

TEST(Prologue, LocalIdLoadParameters) {
    struct expect {
        unsigned stride, base, count, offset, third_base, third_count, third_reg;
    };
    auto expected = [](int hw, int simd, int dims) {
        expect e{};
        const bool q5 = hw < 7, wide = simd > 16;
        if (simd == 1) {
            e = {q5 ? 32u : 64u, 0x8B400, 4, 0, 0, 0, 0};
        } else if (q5) {
            const unsigned steps = (dims > 1 ? 1u : 0u) + (wide ? 1u : 0u);
            e = {wide ? 192u : 96u, 0x8C400 + 0x1000 * steps, 8u << steps, 0, 0, 0, 0};
        } else {
            e = {192, dims == 1 ? 0x8D400u : 0x8E400u, dims == 1 ? 16u : 32u, 0, 0, 0, 0};
        }
        if (dims == 3) {
            // Offset, base, count and destination register of the third dimension's load.
            const bool narrow = q5 && !wide;
            e.offset = narrow ? 0x40 : 0x80;
            e.third_base = narrow ? 0x8C400 : 0x8D400;
            e.third_count = narrow ? 8 : 16;
            e.third_reg = q5 && wide ? 5 : 3;
        }
        return e;
    };
    for (int hw : {6, 7, 9})
        for (int simd : {1, 8, 16, 32})
            for (int dims : {1, 2, 3}) {
                code_generator g(1, hw);
                g.iface.simd_size = simd;
                g.iface.local_id_dimensions = dims;
                g.iface.add_argument("x", type_uq, 1, 4);
                g.iface.finalize_interface();
                g.default_modifier = 0x1;  // restored afterwards
                emit_argument_prologue(g);
                EXPECT_EQ(g.default_modifier, 0x1u);
                const auto words = words_of(g.root.code);
                const expect e = expected(hw, simd, dims);
                const unsigned R = register_bytes(hw);
                const std::string where = "hw " + std::to_string(hw) + " simd " + std::to_string(simd) +
                                          " dims " + std::to_string(dims);
                ASSERT_GE(words.size(), 12u) << where;
                EXPECT_EQ(g.labels.targets.at(static_cast<std::size_t>(g.per_thread_data_end)), 192u) << where;
                // Thread base plus the payload size, then a multiply-add by the per-thread stride.
                EXPECT_EQ(words[2][3], (g.iface.payload_size << 16) | g.iface.payload_size) << where;
                EXPECT_EQ(opcode(words[3]), 91u) << where;
                EXPECT_EQ(words[3][3] >> 16, e.stride) << where;
                const send_fields first = decode_send_q3(words[4]);
                EXPECT_EQ(first.dst_reg, 1u) << where;
                EXPECT_EQ(bits(first.desc, 0, 20), e.base + 0x100) << where;
                EXPECT_EQ(bits(first.desc, 20, 5), (e.count * 4 + R - 1) / R) << where;
                EXPECT_EQ(bits(first.desc, 25, 4), 1u) << where;
                EXPECT_EQ(first.ex >> 24, 255u) << where;  // surface 255
                std::size_t fillers_from = 5;
                if (dims == 3) {
                    EXPECT_EQ(opcode(words[5]), 64u) << where;
                    EXPECT_EQ(words[5][3], e.offset | (e.offset << 16)) << where;
                    const send_fields third = decode_send_q3(words[6]);
                    EXPECT_EQ(third.dst_reg, e.third_reg) << where;
                    EXPECT_EQ(bits(third.desc, 0, 20), e.third_base + 0x100) << where;
                    EXPECT_EQ(bits(third.desc, 20, 5), (e.third_count * 4 + R - 1) / R) << where;
                    fillers_from = 7;
                }
                for (std::size_t i = fillers_from; i < 12; ++i) EXPECT_EQ(words[i], (word4{96, 0, 0, 0})) << where;
                for (const word4& w : words)
                    if (opcode(w) != 96) {
                        EXPECT_EQ(bits(w[0], 31, 1), 1u) << where;  // no-mask
                        EXPECT_EQ(bits(w[0], 7, 1), 1u) << where;   // auto-dependency mark
                    }
                // Payload start register: 2 for SIMD 1, 7 on 32-byte registers above SIMD 16, else 4.
                const unsigned start = simd == 1 ? 2u : (hw < 7 && simd > 16 ? 7u : 4u);
                const int n = static_cast<int>(g.iface.payload_registers) - static_cast<int>(g.iface.inline_data_registers);
                if (n > 0) {
                    const send_fields payload = decode_send_q3(words[13]);
                    EXPECT_EQ(payload.dst_reg, start + g.iface.inline_data_registers) << where;
                }
            }
}

TEST(Probe, InstructionModifiersInTheWords) {
    // Jumps: predicate control 1, inverted; the thread-header copy: execution size 8.
    for (int arch : {1, 2, 3, 5, 6, 7, 8}) {
        auto gen = make_binary_test_generator(arch);
        const int hw = gen->hardware_number();
        const auto words = words_of(gen->root.code);
        const std::size_t base = hw >= 6 ? 14 : 0;
        const word4& jump = words[base + 2];
        ASSERT_EQ(opcode(jump), 32u);
        const word4& copy = words[words.size() - 2];
        const word4& ptr = words[base + 19];
        if (hw <= 3) {
            EXPECT_EQ(bits(jump[0], 16, 5), 0x11u) << arch;
            EXPECT_EQ(bits(jump[1], 2, 1), 1u) << arch;  // no-mask forced
            EXPECT_EQ(bits(copy[0], 21, 3), 3u) << arch;
            EXPECT_EQ(bits(ptr[0], 21, 3), 1u) << arch;
        } else if (hw < 7) {
            EXPECT_EQ(bits(jump[0], 24, 5), 0x11u) << arch;
            EXPECT_EQ(bits(copy[0], 16, 3), 3u) << arch;
            EXPECT_EQ(bits(ptr[0], 16, 3), 1u) << arch;
        } else {
            EXPECT_EQ(bits(jump[0], 26, 2), 1u) << arch;
            EXPECT_EQ(bits(jump[0], 28, 1), 1u) << arch;
            EXPECT_EQ(bits(copy[0], 18, 3), 3u) << arch;
            EXPECT_EQ(bits(ptr[0], 18, 3), 1u) << arch;
        }
        if (hw >= 4) {
            EXPECT_EQ(jump[1], 1u << 14) << arch;
        }
    }
}
