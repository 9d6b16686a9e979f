// Operand footprints decoded from encoded instructions, opcode and pipe
// classes and the decoding of dependency-control fields.
#include <gtest/gtest.h>

#include "vasm/vasm.hpp"
#include "vasm/vasm_test_decoder.hpp"

using namespace korami::ovx::vasm;
using namespace vasm_test;

namespace {

instruction_word last(const code_generator& g) { return g.root.instruction(g.root.instruction_count() - 1); }

register_footprint decode(const instruction_word& w, int hw, int operand, bool& tracked) {
    register_footprint fp;
    fp.hardware_number = hw;
    tracked = operand_dependency_region(w, fp, operand);
    return fp;
}

register_footprint decode(const instruction_word& w, int hw, int operand) {
    bool tracked = false;
    register_footprint fp = decode(w, hw, operand, tracked);
    EXPECT_TRUE(tracked) << "operand " << operand;
    return fp;
}

bool tracked(const instruction_word& w, int hw, int operand) {
    bool t = false;
    decode(w, hw, operand, t);
    return t;
}

}  // namespace

TEST(Footprint, FloatRegionOnBothRegisterSizes) {
    const register_operand op = make_register(10, type_code(0xA7), 0, 8, 8, 1);
    register_footprint a, b;
    footprint_from_region(a, 4, 16, op);
    EXPECT_EQ(a.first, 10);
    EXPECT_EQ(a.count, 2);
    EXPECT_EQ(a.masks[0], 0xFFFFFFFFu);
    EXPECT_EQ(a.masks[1], 0xFFFFFFFFu);
    EXPECT_EQ(a.flags, 0);
    footprint_from_region(b, 7, 16, op);
    EXPECT_EQ(b.count, 1);
    EXPECT_EQ(b.masks[0], 0xFFFFFFFFu);
    EXPECT_EQ(b.masks[1], 0u);
}

TEST(Footprint, RegionCrossingARegisterRecordsEveryByte) {
    // Four dwords from byte 24 of a 32-byte register: bytes 24-31 and 0-7 of the next.
    register_footprint f;
    footprint_from_region(f, 4, 4, make_register(3, type_ud, 6, 4, 4, 1));
    EXPECT_EQ(f.first, 3);
    EXPECT_EQ(f.count, 2);
    EXPECT_EQ(f.masks[0], 0xFF000000u);
    EXPECT_EQ(f.masks[1], 0x000000FFu);
    // One row of 16 dwords strided by 2 in 64-byte registers spans two registers.
    register_footprint g;
    footprint_from_region(g, 7, 16, make_register(8, type_ud, 0, 0, 16, 2));
    EXPECT_EQ(g.count, 2);
    EXPECT_EQ(g.masks[0], 0x33333333u);
    EXPECT_EQ(g.masks[1], 0x33333333u);
}

TEST(Footprint, PartialWordsAndArchitectureFlag) {
    register_footprint f;
    footprint_from_region(f, 7, 8, make_register(2, type_code(0x64), 0, 16, 8, 2));
    EXPECT_TRUE(f.partial_word());
    EXPECT_EQ(f.masks[0], 0xFFu);
    register_footprint g;
    footprint_from_region(g, 4, 8, make_register(2, type_code(0x64), 0, 16, 8, 2));
    EXPECT_FALSE(g.partial_word());
    EXPECT_EQ(g.masks[0], 0x5555u);
    register_footprint h;
    footprint_from_region(h, 4, 1, make_arf(0x20, type_ud));
    EXPECT_TRUE(h.architecture());
}

TEST(Footprint, RangesAndRefusals) {
    register_footprint f;
    footprint_from_range(f, 4, 0x2000 | 5);
    EXPECT_EQ(f.first, 5);
    EXPECT_EQ(f.count, 32);
    EXPECT_EQ(f.masks[31], 0xFFFFFFFFu);
    EXPECT_THROW(footprint_from_range(f, 4, 0x2100), invalid_region_exception);
    EXPECT_EQ(register_range(make_register(10, type_ud), make_register(12, type_ud)), 0x030A);
    EXPECT_THROW(register_range(make_register(12, type_ud), make_register(10, type_ud)), invalid_range_exception);
    // A range of 257 registers would wrap to 1 in its count byte.
    EXPECT_THROW(register_range(make_register(0, type_ud), make_register(256, type_ud)), invalid_range_exception);
    EXPECT_THROW(register_range(invalid_operand, make_register(1, type_ud)), invalid_object_exception);
    register_footprint g;
    EXPECT_THROW(footprint_from_region(g, 4, 1, invalid_operand), invalid_object_exception);
    EXPECT_THROW(footprint_from_region(g, 4, 16, make_register(0, type_uq, 0, 64, 1, 0)), invalid_region_exception);
}

TEST(Footprint, Covers) {
    register_footprint a, b, w;
    footprint_from_range(a, 4, 0x0400 | 10);
    footprint_from_range(b, 4, 0x0200 | 11);
    EXPECT_TRUE(footprint_covers(a, b));
    EXPECT_FALSE(footprint_covers(b, a));
    EXPECT_FALSE(footprint_covers(w, w));  // default: whole file
    b.flags = footprint_architecture;
    EXPECT_FALSE(footprint_covers(a, b));
}

TEST(Footprint, RoundTripTwoSourceForms) {
    for (int hw : {4, 6, 7, 9}) {
        code_generator g(1, hw);
        emit_unary(g, 8 | (3u << 21), make_register(20, type_ud), make_register(30, type_ud, 0, 8, 8, 1));
        const instruction_word mov = last(g);
        const unsigned R = register_bytes(hw);
        const std::uint32_t full = R == 32 ? 0xFFFFFFFFu : 0xFFFFu;
        const register_footprint d = decode(mov, hw, -1), s = decode(mov, hw, 0);
        EXPECT_EQ(d.first, 20);
        EXPECT_EQ(d.count, 1);
        EXPECT_EQ(d.masks[0], full) << hw;
        EXPECT_EQ(s.first, 30);
        EXPECT_EQ(s.masks[0], full) << hw;
        EXPECT_FALSE(tracked(mov, hw, 1));
        EXPECT_FALSE(tracked(mov, hw, 2));
        // Compare against the null register: no destination; immediate: no src1.
        if (hw == 4)
            emit_compare_immediate(g, 0x01000001, null_ud, make_register(5, type_ud, 4), {1, type_ud});
        else
            emit_binary_immediate(g, 112, 0x01000001, type_none, null_ud, make_register(5, type_ud, 4), {1, type_ud});
        const instruction_word cmp = last(g);
        EXPECT_FALSE(tracked(cmp, hw, -1));
        const register_footprint c = decode(cmp, hw, 0);
        EXPECT_EQ(c.first, 5);
        EXPECT_EQ(c.masks[0], R == 32 ? 0x000F0000u : 0x00000300u) << hw;
        EXPECT_FALSE(tracked(cmp, hw, 1));
    }
}

TEST(Footprint, RoundTripProbeOnEveryScoreboardedGeneration) {
    for (int arch : {3, 5, 6, 7, 8}) {
        auto gen = make_binary_test_generator(arch);
        const int hw = gen->hardware_number();
        for (std::size_t i = 0; i < gen->root.instruction_count(); ++i) {
            const instruction_word w = gen->root.instruction(i);
            for (int operand = -1; operand <= 2; ++operand) {
                register_footprint fp;
                fp.hardware_number = hw;
                EXPECT_NO_THROW(operand_dependency_region(w, fp, operand)) << arch << " #" << i;
            }
        }
        // The load: r31 written (two registers on 64-byte generations), r64 read.
        std::size_t load = 0;
        for (std::size_t i = 0; i < gen->root.instruction_count(); ++i)
            if ((gen->root.instruction(i)[0] & 0x7F) == 49 && gen->root.instruction(i)[1] >> 24 == 31) load = i;
        ASSERT_NE(load, 0u);
        const instruction_word w = gen->root.instruction(load);
        const register_footprint d = decode(w, hw, -1), s = decode(w, hw, 0);
        EXPECT_EQ(d.first, 31);
        EXPECT_EQ(d.count, hw >= 7 ? 2 : 1);
        EXPECT_EQ(s.first, 64);
        EXPECT_EQ(s.count, 2);  // 64-bit address: two registers
        EXPECT_FALSE(tracked(w, hw, 1));  // null second source
        EXPECT_EQ(instruction_pipe_class(hw, w, true), hw >= 7 ? 0x10F : 0x10C);
        EXPECT_EQ(instruction_pipe_class(hw, w, false), 0);
    }
}

TEST(Footprint, SendForms) {
    instruction_word w{49, 0, 0, 0};
    w[1] = (1u << 18) | (31u << 19) | (40u << 24);  // destination, count field 31
    w[2] = (1u << 2) | (2u << 3) | (7u << 8);
    w[3] = (1u << 2) | (3u << 3) | (9u << 8);
    register_footprint d = decode(w, 4, -1);
    EXPECT_EQ(d.count, 32);
    EXPECT_EQ(d.first, 40);
    EXPECT_EQ(decode(w, 4, 0).count, 2);
    EXPECT_EQ(decode(w, 4, 1).count, 3);
    EXPECT_FALSE(tracked(w, 4, 2));
    w[1] |= 1u << 16;  // whole file for destination and source 0
    EXPECT_TRUE(decode(w, 4, -1).whole_file());
    EXPECT_TRUE(decode(w, 4, 0).whole_file());
    EXPECT_FALSE(decode(w, 4, 1).whole_file());
    instruction_word z{49, (1u << 18), 0, 0};  // destination count 0
    EXPECT_FALSE(tracked(z, 4, -1));
    // Quen8 with src0 naming an architecture register: src1 is one byte of r0x60.
    instruction_word q{49, 0, 0, (5u << 3)};
    EXPECT_TRUE(decode(q, 9, 0).whole_file());
    const register_footprint b = decode(q, 9, 1);
    EXPECT_EQ(b.first, 0x60);
    EXPECT_TRUE(b.architecture());
    EXPECT_EQ(b.masks[0], 1u << 5);  // byte 10 -> word 5
}

TEST(Footprint, ArchitectureRegistersInTwoSourceForms) {
    struct row { unsigned reg; int hw; bool tracked; };
    const row rows[] = {{0x00, 4, false}, {0x0F, 4, false}, {0x20, 4, true}, {0x10, 7, true},
                        {0x30, 4, false}, {0x60, 7, false}, {0x60, 9, true}};
    for (const row& r : rows) {
        code_generator g(1, r.hw);
        emit_unary(g, 1, make_register(3, type_ud), make_arf(r.reg, type_ud));
        bool t = false;
        const register_footprint fp = decode(last(g), r.hw, 0, t);
        EXPECT_EQ(t, r.tracked) << std::hex << r.reg << " hw " << r.hw;
        if (t) {
            EXPECT_TRUE(fp.architecture());
        }
    }
}

TEST(Footprint, ThreeSourceSystolicAndDirective) {
    code_generator g(6, 6);
    emit_ternary(g, 1, make_register(127, type_ud, 0), make_register(126, type_ud, 2), make_register(125, type_uw, 1),
                 {3, type_uw});
    const instruction_word mad = last(g);
    EXPECT_EQ(decode(mad, 6, -1).masks[0], 0xFu);
    EXPECT_EQ(decode(mad, 6, 0).first, 126);
    EXPECT_EQ(decode(mad, 6, 0).masks[0], 0xF00u);
    EXPECT_EQ(decode(mad, 6, 1).masks[0], 0xCu);
    EXPECT_FALSE(tracked(mad, 6, 2));
    // Systolic: counts from the repeat and precision fields.
    instruction_word s{89, (7u << 11) | (1u << 4) | (10u << 24), (20u << 8), (30u << 8) | (40u << 24)};
    const register_footprint sd = decode(s, 4, -1);
    EXPECT_EQ(sd.first, 10);
    EXPECT_EQ(sd.count, 4);  // ((8 << 1) + 3) / 4
    EXPECT_EQ(sd.flags, 0);
    EXPECT_EQ(decode(s, 4, 0).count, 2);
    EXPECT_EQ(decode(s, 4, 1).count, 1);
    EXPECT_EQ(decode(s, 4, 2).count, 1);  // (0 + 8*4 + 31) / 32
    EXPECT_EQ(decode(s, 7, 2).count, 1);
    // Directive: code in byte 7, register range from byte 9 to byte 13.
    instruction_word dir{127, 16u << 24, 10u << 8, 12u << 8};
    const register_footprint dd = decode(dir, 4, -1);
    EXPECT_EQ(dd.first, 16);
    EXPECT_EQ(dd.masks[0], 1u);
    const register_footprint ds = decode(dir, 4, 0);
    EXPECT_EQ(ds.first, 10);
    EXPECT_EQ(ds.count, 3);
    EXPECT_FALSE(tracked(dir, 4, 1));
    instruction_word backwards{127, 16u << 24, 12u << 8, 10u << 8};
    register_footprint fp;
    fp.hardware_number = 4;
    EXPECT_THROW(operand_dependency_region(backwards, fp, 0), invalid_range_exception);
    instruction_word too_long{127, 16u << 24, 0u << 8, 40u << 8};
    EXPECT_THROW(operand_dependency_region(too_long, fp, 0), invalid_region_exception);
    // Opcodes without operands.
    for (unsigned op : {0u, 34u, 36u, 96u}) {
        instruction_word n{op, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu};
        EXPECT_FALSE(tracked(n, 7, -1));
        EXPECT_EQ(classify_opcode(op), opcode_class::none);
    }
}

TEST(PipeClass, Classification) {
    code_generator q3(4, 4), q7(10, 7), q9(14, 9), q5(6, 6);
    emit_unary(q3, 1, make_register(1, type_code(0xA7)), make_register(2, type_code(0xA7)));
    EXPECT_EQ(instruction_pipe_class(4, last(q3), true), 1);
    emit_unary(q7, 1, make_register(1, type_code(0xA7)), make_register(2, type_ud));
    EXPECT_EQ(instruction_pipe_class(7, last(q7), true), 2);  // float destination
    emit_unary(q7, 1, make_register(1, type_ud), make_register(2, type_ud));
    EXPECT_EQ(instruction_pipe_class(7, last(q7), true), 4);
    emit_unary(q7, 1, make_register(1, type_code(0xC6)), make_register(2, type_code(0xC6)));
    EXPECT_EQ(instruction_pipe_class(7, last(q7), true), 8);  // hardware type 11
    emit_unary(q5, 1, make_register(1, type_code(0xC6)), make_register(2, type_code(0xC6)));
    EXPECT_EQ(instruction_pipe_class(6, last(q5), true), 0x300);
    EXPECT_EQ(instruction_pipe_class(6, last(q5), false), 0);
    emit_unary(q5, 1, make_register(1, type_uq), make_register(2, type_uq));
    EXPECT_EQ(instruction_pipe_class(6, last(q5), true), 8);  // two low bits of type 3
    emit_unary(q9, 1, make_arf(0x60, type_ud), make_register(2, type_ud));
    EXPECT_EQ(instruction_pipe_class(9, last(q9), true), 32);
    instruction_word math{56, 0, 0, 0};
    EXPECT_EQ(instruction_pipe_class(7, math, true), 16);
    EXPECT_EQ(instruction_pipe_class(4, math, true), 0x300);
    EXPECT_EQ(instruction_pipe_class(4, math, false), 0);
    for (unsigned op : {32u, 45u, 96u, 0u, 1u, 127u}) EXPECT_EQ(instruction_pipe_class(7, instruction_word{op, 0, 0, 0}, true), 0);
    EXPECT_EQ(instruction_pipe_class(7, instruction_word{89, 0, 0, 0}, true), 0x200);
    EXPECT_EQ(instruction_pipe_class(7, instruction_word{51, 0, 0, 0}, true), 0x300);
}

TEST(FieldReaders, TypeAndArfKind) {
    code_generator g(6, 6);
    emit_ternary(g, 1, make_register(1, type_ud), make_register(2, type_ud), make_register(3, type_uw), {1, type_uw});
    const instruction_word mad = last(g);
    EXPECT_EQ(operand_type_field(mad, 0), 2u);
    EXPECT_EQ(operand_type_field(mad, 1), 1u);
    EXPECT_EQ(operand_type_field(mad, 2), 1u);
    std::uint8_t kind = 0;
    EXPECT_FALSE(operand_arf_kind(mad, kind, 0, 6));
    code_generator h(14, 9);
    emit_unary(h, 1, make_arf(0x62, type_ud), make_arf(0x21, type_ud));
    EXPECT_TRUE(operand_arf_kind(last(h), kind, -1, 9));
    EXPECT_EQ(kind, 22);
    EXPECT_TRUE(operand_arf_kind(last(h), kind, 0, 9));
    EXPECT_EQ(kind, 2);
    EXPECT_FALSE(operand_arf_kind(last(h), kind, 2, 9));
    emit_unary(h, 1, make_register(4, type_ud), make_register(5, type_ud));
    EXPECT_FALSE(operand_arf_kind(last(h), kind, 0, 9));
}

TEST(DependencyControl, DecodesWhatTheEncodersWrite) {
    struct row { std::uint16_t control; unsigned opcode; dependency_control_word b; dependency_control_word a; };
    const row rows[] = {
        {0x0085, 97, 0x0085, 0x0085},  // write-token wait on token 5
        {0x0045, 97, 0x0045, 0x0045},
        {0x00C5, 97, 0x00C5, 0x00C5},
        {0x01C0, 49, 0x11C0, 0x11C0},  // send: token 0 set, distance 1 in pipe 1
        {0x0300, 97, 0x0300, 0x0300},
        {0x3300, 97, 0x3300, 0x3300},
        {0x0020, 97, 0x0020, 0x0000},
    };
    for (const row& r : rows) {
        const std::uint32_t b = encode_dependency_field(r.control, r.opcode);
        const instruction_word wb{r.opcode | (b << 8), 0, 0, 0};
        EXPECT_EQ(decode_dependency_control(wb), r.b) << std::hex << r.control;
        const std::uint32_t a = encode_dependency_field_a(r.control);
        const instruction_word wa{r.opcode | (a << 8), 0, 0, 0};
        EXPECT_EQ(decode_dependency_control_a(wa), r.a) << std::hex << r.control;
    }
    // Form B with the mode bits on other opcodes.
    EXPECT_EQ(decode_dependency_control(instruction_word{97u | (0x365u << 8), 0, 0, 0}), 0x1385);
    EXPECT_EQ(decode_dependency_control(instruction_word{97u | (0x265u << 8), 0, 0, 0}), 0x0345);
    EXPECT_EQ(decode_dependency_control(instruction_word{89u | (0x165u << 8), 0, 0, 0}), 0x03C5);
    // Form A: 0x50-0x57 is a distance in pipe 4.
    EXPECT_EQ(decode_dependency_control_a(instruction_word{97u | (0x53u << 8), 0, 0, 0}), 0x4300);
}
