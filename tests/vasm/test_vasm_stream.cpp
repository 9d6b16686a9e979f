// Labels, fix-ups and the plain finalisation.
#include <gtest/gtest.h>

#include "vasm/vasm.hpp"
#include "vasm/vasm_test_decoder.hpp"

using namespace korami::ovx::vasm;

namespace {

void append_words(code_generator& g, int n) {
    for (int i = 0; i < n; ++i) g.append(instruction_word{0x11u + unsigned(i), 0x22u, 0x33u, 0x44u});
}

}  // namespace

TEST(Labels, NewLabelIdGivesOneIdPerLabel) {
    label_table t;
    label a = no_label, b = no_label;
    EXPECT_EQ(new_label_id(a, t), 0u);
    EXPECT_EQ(new_label_id(a, t), 0u);
    EXPECT_EQ(new_label_id(b, t), 1u);
    EXPECT_EQ(t.next_id, 2u);
    ASSERT_EQ(t.targets.size(), 2u);
    EXPECT_EQ(t.targets[0], label_unplaced);
    // Ids are kept within 31 bits.
    label c = no_label;
    t.next_id = 0x80000005u;
    EXPECT_EQ(new_label_id(c, t), 5u);
    EXPECT_GE(c, 0);
}

TEST(Labels, PlaceTwiceThrowsEvenAtTheSameOffset) {
    code_generator g(1, 1);
    label l = no_label;
    g.place_label(l);
    EXPECT_EQ(g.labels.targets[0], 0u);
    EXPECT_EQ(g.root.placed_labels, std::vector<std::uint32_t>{0});
    EXPECT_THROW(g.place_label(l), multiple_label_exception);
    EXPECT_EQ(g.root.placed_labels.size(), 1u);
}

TEST(Finalise, EmptyAndJumpFreeStreams) {
    code_generator g(1, 1);
    EXPECT_TRUE(q1::finalize_program(g).empty());
    append_words(g, 2);
    const auto bytes = q1::finalize_program(g);
    ASSERT_EQ(bytes.size(), 32u);
    EXPECT_EQ(bytes[0], 0x11);
    EXPECT_EQ(bytes[4], 0x22);
    EXPECT_EQ(bytes[16], 0x12);
    EXPECT_EQ(bytes[31], 0x00);
}

TEST(Finalise, ForwardJumpOnQuen1) {
    code_generator g(1, 1);
    append_words(g, 2);
    label l = no_label;
    emit_jump_to_label(g, 0, l);  // bytes 32-47
    ASSERT_EQ(g.root.fixups.size(), 1u);
    EXPECT_EQ(g.root.fixups[0].anchor, 48u);
    EXPECT_EQ(g.root.fixups[0].field_offset, -4);
    append_words(g, 2);
    g.place_label(l);  // at 80
    const auto bytes = q1::finalize_program(g);
    EXPECT_EQ(bytes[44] | (bytes[45] << 8) | (bytes[46] << 16) | (bytes[47] << 24), 32);
}

TEST(Finalise, BackwardReferenceAndSharedLabel) {
    code_generator g(4, 4);  // Quen3 anchors at the jump itself
    label l = no_label;
    g.place_label(l);
    append_words(g, 4);
    emit_jump_to_label(g, 0, l);  // at 64: anchor 64, field at 76
    emit_jump_to_label(g, 0, l);  // at 80
    EXPECT_EQ(g.labels.targets.size(), 1u);
    ASSERT_EQ(g.root.fixups.size(), 2u);
    EXPECT_EQ(g.root.fixups[0].anchor, 64u);
    EXPECT_EQ(g.root.fixups[0].field_offset, 12);
    resolve_fixups(g);
    const auto w = vasm_test::words_of(g.root.code);
    EXPECT_EQ(w[4][3], 0xFFFFFFC0u);
    EXPECT_EQ(w[5][3], 0xFFFFFFB0u);
}

TEST(Finalise, JumpDistancePerFamily) {
    // A jump at offset 0 to a label placed at 64: 48 on Quen1, 64 from Quen3 on.
    for (int hw : {1, 3, 4, 6, 7, 9}) {
        code_generator g(1, hw);
        label l = no_label;
        emit_jump_to_label(g, 0, l);
        append_words(g, 3);
        g.place_label(l);
        resolve_fixups(g);
        EXPECT_EQ(vasm_test::words_of(g.root.code)[0][3], hw <= 3 ? 48u : 64u) << hw;
    }
}

TEST(Finalise, DanglingLabelAndUnfinishedStream) {
    code_generator g(1, 1);
    label placed = no_label, never = no_label;
    emit_jump_to_label(g, 0, placed);
    emit_jump_to_label(g, 0, never);
    g.place_label(placed);
    EXPECT_THROW(q1::finalize_program(g), dangling_label_exception);
    // The fix-up before the dangling one was written.
    EXPECT_EQ(vasm_test::words_of(g.root.code)[0][3], 16u);

    code_generator h(1, 1);
    h.nested_streams.emplace_back(new code_stream);
    h.stream_stack.push_back(h.nested_streams.back().get());
    EXPECT_THROW(q1::finalize_program(h), unfinished_stream_exception);
}

TEST(Finalise, FixupOutsideTheCodeIsAnInternalError) {
    code_generator g(1, 1);
    label l = no_label;
    g.place_label(l);
    g.root.fixups.push_back(fixup_record{0, 0, 100});
    try {
        q1::finalize_program(g);
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()).rfind("VASM internal error: ", 0), 0u);
    }
}

TEST(Generator, RefusesHardwareNumbersWithoutEncoder) {
    for (int hw : {0, 2, 5, 10}) EXPECT_THROW(code_generator(1, hw), std::invalid_argument) << hw;
}
