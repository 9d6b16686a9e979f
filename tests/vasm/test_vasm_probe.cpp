// The probe kernel generator of every generation: interface, word counts,
// fix-ups, labels and the fields of the generated words read back by the
// test's own decoder.
#include <gtest/gtest.h>

#include "vasm/vasm.hpp"
#include "vasm/vasm_test_decoder.hpp"

using namespace korami::ovx::vasm;
using namespace vasm_test;

namespace {

struct probe_case {
    int arch;
    int hw;
    int product;
    int simd;
    std::size_t prologue_words;
};

const probe_case probe_cases[] = {
    {1, 1, 1, 8, 0}, {2, 3, 3, 8, 0}, {3, 4, 4, 8, 0}, {5, 6, 6, 8, 14}, {6, 7, 10, 16, 14}, {7, 8, 13, 16, 14}, {8, 9, 14, 16, 14},
};

const std::uint32_t compare_values[13] = {0xBEEFCAFE, 0x53589793, 0x31415926, 0xBEADBEAD, 0xFACEFACE,
                                          0x89ABCDEF, 0x01234567, 0x76543210, 0xFEDCBA98, 0xABADFEED,
                                          0x00040004, 0x00020002, 0x00010001};

class ProbeTest : public ::testing::TestWithParam<probe_case> {};
class ProbeDependencyTest : public ProbeTest {};  // generations with dependency fields (hw > 3)
class ProbeJumpTest : public ProbeTest {};        // generations finalised by jump distances (hw <= 3)

std::vector<probe_case> probe_cases_where(bool (*keep)(const probe_case&)) {
    std::vector<probe_case> v;
    for (const probe_case& c : probe_cases)
        if (keep(c)) v.push_back(c);
    return v;
}

std::string probe_name(const ::testing::TestParamInfo<probe_case>& i) { return "arch" + std::to_string(i.param.arch); }

}  // namespace

TEST_P(ProbeTest, ConstructionState) {
    const probe_case& c = GetParam();
    auto gen = make_binary_test_generator(c.arch);
    ASSERT_TRUE(gen);
    EXPECT_EQ(gen->hardware_number(), c.hw);
    EXPECT_EQ(gen->product_code, c.product);
    EXPECT_EQ(gen->iface.simd_size, c.simd);
    const std::size_t expected = c.hw <= 4 ? 34 : c.prologue_words + 35;
    EXPECT_EQ(gen->root.instruction_count(), expected);
    ASSERT_EQ(gen->root.fixups.size(), 13u);
    const std::uint32_t exit_id = gen->root.fixups[0].label;
    for (const fixup_record& f : gen->root.fixups) {
        EXPECT_EQ(f.label, exit_id);
        EXPECT_EQ(f.field_offset, c.hw <= 3 ? -4 : 12);
    }
    // The exit label lies behind the 30 checks and the move that sets the verdict.
    EXPECT_EQ(gen->labels.targets.at(exit_id), 16u * (c.prologue_words + 30));
    if (c.hw >= 6) {
        EXPECT_EQ(gen->labels.targets.size(), 4u);
        EXPECT_EQ(gen->labels.targets[0], 192u);
        EXPECT_EQ(gen->labels.targets[1], 224u);
        EXPECT_EQ(gen->labels.targets[3], 16u * (c.prologue_words + 32));
        EXPECT_EQ(gen->fence_destination.value, 0x0000100030000040ull);
    } else {
        EXPECT_EQ(gen->labels.targets.size(), 1u);
        EXPECT_EQ(gen->fence_label, no_label);
    }
}

TEST_P(ProbeTest, OpcodesAndImmediates) {
    const probe_case& c = GetParam();
    auto gen = make_binary_test_generator(c.arch);
    const auto words = words_of(gen->root.code);
    const bool q1 = c.hw <= 3;
    const unsigned move = q1 ? 1 : 97, cmp = q1 ? 16 : 112, send = 49;
    std::vector<unsigned> expected = {move};
    for (int i = 0; i < 9; ++i) expected.insert(expected.end(), {cmp, 32});
    expected.insert(expected.end(), {move, send, cmp, 32});
    for (int i = 0; i < 3; ++i) expected.insert(expected.end(), {cmp, 32});
    expected.insert(expected.end(), {move, move, q1 ? 51u : send});
    if (c.hw >= 6) expected.push_back(send);
    expected.insert(expected.end(), {move, send});
    ASSERT_EQ(words.size(), c.prologue_words + expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(opcode(words[c.prologue_words + i]), expected[i]) << "instruction " << i;
    // Compare immediates in program order.
    int k = 0;
    for (std::size_t i = c.prologue_words; i < words.size(); ++i)
        if (opcode(words[i]) == cmp) {
            ASSERT_LT(k, 13);
            EXPECT_EQ(words[i][3], compare_values[k]) << "compare " << k;
            // Equal condition on the first flag, execution size 1.
            if (q1)
                EXPECT_EQ(bits(words[i][0], 24, 4), 1u);
            else
                EXPECT_EQ(bits(words[i][2], 28, 4), 1u);
            ++k;
        }
    EXPECT_EQ(k, 13);
    // Every word carries the auto-dependency mark and no-mask from Quen3 on.
    if (!q1)
        for (const word4& w : words) {
            if (opcode(w) == 96) continue;
            EXPECT_EQ(bits(w[0], 7, 1), 1u);
            EXPECT_EQ(bits(w[0], 31, 1), 1u);
        }
}

TEST_P(ProbeTest, ArgumentOperandsLandOnTheirPayloadBytes) {
    const probe_case& c = GetParam();
    auto gen = make_binary_test_generator(c.arch);
    const auto words = words_of(gen->root.code);
    // src0 is the first compare's source; src1 low and high halves follow.
    std::vector<source_location> srcs;
    for (std::size_t i = c.prologue_words; i < words.size(); ++i) {
        const unsigned op = opcode(words[i]);
        if (op == 16 || op == 112) {
            const std::uint32_t field = c.hw <= 3 ? words[i][2] : bits(words[i][2], 0, 24);
            srcs.push_back(c.hw <= 3 ? decode_source_q1(field)
                                     : (c.hw >= 7 ? decode_source_q6(field) : decode_source_q3(field)));
        }
    }
    ASSERT_EQ(srcs.size(), 13u);
    const kernel_interface& k = gen->iface;
    const unsigned R = c.hw >= 7 ? 64 : 32;
    // Payload byte offsets of src0, src1 low/high, src2, src3, src4 low/high, src5 low/high.
    const unsigned payload[9] = {48, 56, 60, 64, 68, 72, 76, 80, 84};
    for (int i = 0; i < 9; ++i) {
        const unsigned absolute = k.payload_start_register() * R + payload[i];
        EXPECT_EQ(srcs[i].reg, absolute / R) << i;
        EXPECT_EQ(srcs[i].byte, absolute % R) << i;
        EXPECT_TRUE(srcs[i].grf);
    }
    // r31 and the local sizes at payload header bytes 12, 16, 20.
    EXPECT_EQ(srcs[9].reg, 31u);
    EXPECT_EQ(srcs[9].byte, 0u);
    for (int d = 0; d < 3; ++d) {
        EXPECT_EQ(srcs[10 + d].reg, 4u);
        EXPECT_EQ(srcs[10 + d].byte, 12u + 4u * d);
    }
}

TEST_P(ProbeTest, MessagesAndDescriptors) {
    const probe_case& c = GetParam();
    auto gen = make_binary_test_generator(c.arch);
    const auto words = words_of(gen->root.code);
    std::vector<send_fields> sends;
    for (std::size_t i = c.prologue_words; i < words.size(); ++i) {
        const unsigned op = opcode(words[i]);
        if (op == 49 || op == 51) sends.push_back(c.hw <= 3 ? decode_send_q1(words[i]) : decode_send_q3(words[i]));
    }
    ASSERT_EQ(sends.size(), c.hw >= 6 ? 4u : 3u);
    const send_fields& load = sends[0];
    const send_fields& store = sends[1];
    const send_fields& eot = sends.back();
    EXPECT_EQ(load.dst_reg, 31u);
    EXPECT_EQ(load.src0_reg, 64u);
    if (c.hw >= 7) {
        EXPECT_EQ(load.sfid, 15u);
        EXPECT_EQ(load.desc, 0x04200780u);  // response length 2, message length 2
        EXPECT_EQ(store.sfid, 15u);
        EXPECT_EQ(store.desc, 0x04000584u);
        EXPECT_EQ(bits(store.ex, 6, 5), 1u);  // one data register
    } else {
        EXPECT_EQ(load.sfid, 12u);
        EXPECT_EQ(load.desc, 0x041401FFu);
        EXPECT_EQ(store.sfid, 10u);
        // Surface = binding-table index 1 of "ok" in the low byte.
        EXPECT_EQ(store.desc, 0x0202C201u);
        // The split send of Quen1/Quen2 carries the data length in dword 2 bits 0-3.
        if (c.hw >= 4) {
            EXPECT_EQ(bits(store.ex, 6, 5), 1u);
        }
    }
    EXPECT_FALSE(store.dst_grf);
    EXPECT_EQ(store.src0_reg, 64u);
    if (c.hw >= 4) {
        EXPECT_EQ(store.src1_reg, 30u);
        EXPECT_TRUE(store.src1_grf);
    }
    if (c.hw >= 6) {
        const send_fields& fence = sends[2];
        EXPECT_EQ(fence.sfid, 15u);
        EXPECT_EQ(fence.desc, c.hw == 6 ? 0x0210671Fu : 0x0210071Fu);
        EXPECT_EQ(fence.dst_reg, 64u);
        EXPECT_EQ(fence.src0_reg, 0u);
    }
    EXPECT_EQ(eot.sfid, c.hw >= 6 ? 3u : 7u);
    EXPECT_EQ(eot.desc, 0x02000010u);
    EXPECT_TRUE(eot.eot);
    EXPECT_EQ(eot.src0_reg, 127u);
}

TEST_P(ProbeDependencyTest, DependencyFieldsFromQuen3On) {
    const probe_case& c = GetParam();
    auto gen = make_binary_test_generator(c.arch);
    const auto words = words_of(gen->root.code);
    const bool b = c.hw >= 7;
    auto field = [&](const word4& w) { return b ? bits(w[0], 8, 10) : bits(w[0], 8, 8); };
    std::size_t load = 0, loaded_compare = 0;
    for (std::size_t i = c.prologue_words; i < words.size(); ++i) {
        if (opcode(words[i]) == 49 && load == 0) load = i;
        if (opcode(words[i]) == 112 && words[i][3] == 0xABADFEED) loaded_compare = i;
    }
    // Load: token 0, read and write bits, distance 1.
    EXPECT_EQ(field(words[load]), b ? 0x120u : 0x90u);
    // Compare of the loaded word: waits on token 0 (write-token bit only).
    EXPECT_EQ(field(words[loaded_compare]), b ? 0x80u : 0x20u);
    // End of thread: token 2, read and write, distance 1.
    EXPECT_EQ(field(words.back()), b ? 0x122u : 0x92u);
}

TEST_P(ProbeJumpTest, FinalisedJumpDistances) {
    const probe_case& c = GetParam();
    auto gen = make_binary_test_generator(c.arch);
    const auto bytes = q1::finalize_program(*gen);
    ASSERT_EQ(bytes.size(), 34u * 16u);
    const auto words = words_of_bytes(bytes);
    int jumps = 0;
    for (std::size_t i = 0; i < words.size(); ++i)
        if (opcode(words[i]) == 32) {
            // Counted from the end of the jump to the exit label at 480.
            EXPECT_EQ(static_cast<std::int32_t>(words[i][3]), 480 - 16 * static_cast<int>(i + 1));
            ++jumps;
        }
    EXPECT_EQ(jumps, 13);
}

INSTANTIATE_TEST_SUITE_P(Generations, ProbeTest, ::testing::ValuesIn(probe_cases), probe_name);
INSTANTIATE_TEST_SUITE_P(Generations, ProbeDependencyTest,
                         ::testing::ValuesIn(probe_cases_where([](const probe_case& c) { return c.hw > 3; })),
                         probe_name);
INSTANTIATE_TEST_SUITE_P(Generations, ProbeJumpTest,
                         ::testing::ValuesIn(probe_cases_where([](const probe_case& c) { return c.hw <= 3; })),
                         probe_name);

TEST(ProbeGenerator, NoGeneratorForQuen4OrUnknownArch) {
    EXPECT_EQ(make_binary_test_generator(4), nullptr);
    EXPECT_EQ(make_binary_test_generator(0), nullptr);
    EXPECT_EQ(make_binary_test_generator(9), nullptr);
    EXPECT_EQ(generation_of_arch(4), nullptr);
}

TEST(ProbeGenerator, Quen2DiffersFromQuen1OnlyInTypeFields) {
    binary_test_generator<1> a;
    binary_test_generator<2> b;
    ASSERT_EQ(a.root.code.size(), b.root.code.size());
    // The probe uses types whose Quen1 and Quen2 codes agree except none:
    // both families must give identical words.
    EXPECT_EQ(a.root.code, b.root.code);
}

TEST(ProbeGenerator, Quen6To8EmitTheSameWords) {
    binary_test_generator<6> a;
    binary_test_generator<7> b;
    binary_test_generator<8> c;
    EXPECT_EQ(a.root.code, b.root.code);
    EXPECT_EQ(a.root.code, c.root.code);
}

TEST(ProbeGenerator, Quen6PointerMoveReadsPayloadByteAbove31) {
    // "src_ptr" sits at byte 32 of r4 in a 64-byte register: the move's
    // source must keep byte offset bit 5.
    binary_test_generator<6> gen;
    const auto words = words_of(gen.root.code);
    const word4& mov = words[14 + 19];
    ASSERT_EQ(opcode(mov), 97u);
    const source_location s = decode_source_q6(bits(mov[2], 0, 24));
    EXPECT_EQ(s.reg, 4u);
    EXPECT_EQ(s.byte, 32u);
    // 2-element region: width 2 (code 1), horizontal stride 1 (code 1).
    EXPECT_EQ(bits(mov[2], 17, 3), 1u);
    EXPECT_EQ(bits(mov[2], 0, 2), 1u);
}
