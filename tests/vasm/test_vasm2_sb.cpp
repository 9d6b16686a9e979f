// Finalisation with automatic scoreboarding: the probe programs of every
// scoreboarded generation, checked by an independent decoder that follows
// every path of the finished code, and hand-made programs with known token
// choices, waits and syncs.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "vasm/vasm.hpp"
#include "vasm/vasm_sb.hpp"
#include "vasm_test_decoder.hpp"

namespace {

using namespace korami::ovx::vasm;
using word = vasm_test::word4;
using vasm_test::bits;
using vasm_test::opcode;
inline std::vector<word> words_of(const std::vector<uint8_t>& b) { return vasm_test::words_of_bytes(b); }

// ---------------------------------------------------------------------------
// Independent decoder of the finished code: registers read and written,
// tokens set and waited for.
// ---------------------------------------------------------------------------

struct decoded {
    std::set<unsigned> reads, writes;
    int set_token = -1;
    std::set<int> write_waits;  // tokens whose writes complete before issue
    bool is_sync = false;
    int jump = 0;               // instruction distance of a jump's target (0: none)
    bool conditional = false;
    bool end_of_thread = false;
};

void add_range(std::set<unsigned>& s, unsigned first, unsigned count) {
    for (unsigned r = 0; r < count; ++r) s.insert(first + r);
}

// One general register of a two-source operand field (bit 2: general file).
void add_field(std::set<unsigned>& s, uint32_t field) {
    if (bits(field, 2, 1) && !bits(field, 16, 1)) s.insert(bits(field, 8, 8));
}

decoded decode(int hw, const word& w) {
    decoded d;
    const unsigned op = opcode(w);
    // Dependency field.
    if (hw < 7) {
        const unsigned b = bits(w[0], 8, 8), mid = bits(b, 4, 3);
        const bool send = op >= 49 && op <= 52;
        if (b & 0x80) {
            if (send)
                d.set_token = int(b & 15);
            else
                d.write_waits.insert(int(b & 15));
        } else if (mid == 2) {
            d.write_waits.insert(int(b & 15));
        } else if (mid == 4) {
            d.set_token = int(b & 15);
        }
    } else {
        const unsigned f = bits(w[0], 8, 10), t = f & 31, m = bits(f, 8, 2);
        if (f != 0xF0) {
            if (m == 0 && (f & 0x80)) {
                const unsigned k = bits(f, 5, 2);
                if (k == 0) d.write_waits.insert(int(t));
                if (k >= 2) d.set_token = int(t);
            } else if (m != 0) {
                if (op >= 49 && op <= 52)
                    d.set_token = int(t);
                else if (m != 2)
                    d.write_waits.insert(int(t));
            }
        }
    }
    if (op == 1) {
        d.is_sync = true;
        const unsigned fn = bits(w[2], 28, 4);
        const uint32_t mask = bits(w[1], 14, 1) ? w[3] : 0xFFFFFFFFu;
        if (fn == 3)
            for (int t = 0; t < 32; ++t)
                if (mask & (1u << t)) d.write_waits.insert(t);
        return d;
    }
    if (op == 32) {
        d.jump = int32_t(w[3]) >> 4;
        d.conditional = (w[0] & 0x8F00002Fu) != 0x80000020u;
        return d;
    }
    if (op == 49 || op == 50) {
        if (bits(w[1], 18, 1)) add_range(d.writes, bits(w[1], 24, 8), bits(w[1], 19, 5));
        if (bits(w[2], 2, 1)) add_range(d.reads, bits(w[2], 8, 8), bits(w[2], 3, 5));
        if (bits(w[3], 2, 1)) add_range(d.reads, bits(w[3], 8, 8), bits(w[3], 3, 5));
        d.end_of_thread = bits(w[1], 2, 1);
        return d;
    }
    if (op == 91) {  // three-source: destination, src0, src1; src2 immediate
        add_field(d.writes, bits(w[1], 16, 16));
        add_field(d.reads, bits(w[2], 0, 16));
        add_field(d.reads, bits(w[3], 0, 16));
        return d;
    }
    if (op == 96) return d;
    add_field(d.writes, bits(w[1], 16, 16));
    if (!bits(w[1], 14, 1)) add_field(d.reads, bits(w[2], 0, 24));
    if (!bits(w[1], 14, 1) && !bits(w[1], 15, 1)) add_field(d.reads, bits(w[3], 0, 24));
    return d;
}

// Follows every path of the finished code; returns the hazards found: a read
// or write of a register that a token producer writes, with the producer's
// token not waited for on that path.
std::vector<std::string> token_hazards(int hw, const std::vector<word>& code) {
    using state = std::map<int, std::set<unsigned>>;  // token -> registers still being written
    std::vector<state> in(code.size() + 1);
    std::vector<bool> reached(code.size() + 1, false);
    reached[0] = true;
    std::vector<std::string> hazards;
    for (std::size_t i = 0; i < code.size(); ++i) {
        if (!reached[i]) continue;
        state s = in[i];
        const decoded d = decode(hw, code[i]);
        for (int t : d.write_waits) s.erase(t);
        if (d.set_token >= 0) s.erase(d.set_token);  // a token is free again before it is set
        for (const auto& p : s) {
            for (unsigned r : d.reads)
                if (p.second.count(r))
                    hazards.push_back("read of r" + std::to_string(r) + " at " + std::to_string(i) +
                                      " before token " + std::to_string(p.first) + " completes");
            for (unsigned r : d.writes)
                if (p.second.count(r))
                    hazards.push_back("write of r" + std::to_string(r) + " at " + std::to_string(i) +
                                      " before token " + std::to_string(p.first) + " completes");
        }
        if (d.set_token >= 0 && !d.writes.empty()) s[d.set_token] = d.writes;
        auto flow = [&](std::size_t to) {
            if (to > code.size()) return;
            if (!reached[to]) {
                in[to] = s;
                reached[to] = true;
            } else {
                for (const auto& p : s) in[to][p.first].insert(p.second.begin(), p.second.end());
            }
        };
        if (d.end_of_thread) continue;
        if (d.jump) {
            flow(std::size_t(int64_t(i) + d.jump));
            if (d.conditional) flow(i + 1);
        } else {
            flow(i + 1);
        }
    }
    return hazards;
}

// ---------------------------------------------------------------------------
// The probe programs
// ---------------------------------------------------------------------------

class Vasm2ProbeScoreboard : public ::testing::TestWithParam<int> {};

TEST_P(Vasm2ProbeScoreboard, FinishedProgramIsCompleteAndCovered) {
    const int arch = GetParam();
    std::unique_ptr<code_generator> gen = make_binary_test_generator(arch);
    ASSERT_TRUE(gen);
    const int hw = gen->hardware_number();
    // The program before finalisation, with its jumps and their label.
    std::vector<word> before;
    for (std::size_t i = 0; i < gen->root.instruction_count(); ++i) before.push_back(gen->root.instruction(i));
    ASSERT_EQ(gen->root.fixups.size(), 13u);
    const uint32_t exit_target = gen->labels.targets[gen->root.fixups[0].label];
    const std::size_t exit_index = exit_target / 16;
    std::vector<std::size_t> jump_positions;
    for (const fixup_record& f : gen->root.fixups) jump_positions.push_back(f.anchor / 16);

    const std::vector<uint8_t> bytes = finalize_program(*gen);
    ASSERT_EQ(bytes.size() % 16, 0u);
    const std::vector<word> out = words_of(bytes);

    // Every original instruction is there, in order, with only syncs between.
    std::vector<std::size_t> pos;
    std::size_t syncs = 0;
    for (std::size_t j = 0; j < out.size(); ++j) {
        EXPECT_NE(opcode(out[j]), 127u) << j;
        EXPECT_EQ(out[j][0] & 0x80u, 0u) << "instruction " << j << " still carries its mark";
        if (opcode(out[j]) == 1) {
            ++syncs;
            EXPECT_EQ(out[j][0] & 0xFFFF00FFu, 0x80000001u) << j;
            EXPECT_TRUE(out[j][1] == 0x14200u || out[j][1] == 0x10000u) << j;
            if (out[j][1] == 0x10000u) {
                EXPECT_EQ(out[j][3], 0u) << j;
            }
            continue;
        }
        pos.push_back(j);
    }
    ASSERT_EQ(pos.size(), before.size());
    EXPECT_EQ(out.size(), before.size() + syncs);  // 16 x (instructions - directives + requests)
    for (std::size_t k = 0; k < before.size(); ++k) {
        const word& a = before[k];
        const word& b = out[pos[k]];
        const uint32_t field_mask = hw < 7 ? 0xFF80u : 0x3FF80u;
        EXPECT_EQ(a[0] & ~field_mask, b[0] & ~field_mask) << k;
        EXPECT_EQ(a[1], b[1]) << k;
        EXPECT_EQ(a[2], b[2]) << k;
        if (opcode(a) != 32) {
            EXPECT_EQ(a[3], b[3]) << k;
        }
    }
    // Every jump lands on the exit label's instruction, or on the syncs that
    // were inserted for that instruction; never before them.
    ASSERT_GT(exit_index, 0u);
    for (std::size_t jp : jump_positions) {
        const std::size_t j = pos[jp];
        ASSERT_EQ(opcode(out[j]), 32u);
        const int64_t target = int64_t(j) + (int32_t(out[j][3]) >> 4);
        EXPECT_EQ(target, int64_t(pos[exit_index - 1]) + 1) << "jump at " << jp;
        for (int64_t x = target; x < int64_t(pos[exit_index]); ++x) EXPECT_EQ(opcode(out[std::size_t(x)]), 1u);
    }
    // No read or write of a register before its token producer completes.
    const std::vector<std::string> hazards = token_hazards(hw, out);
    EXPECT_TRUE(hazards.empty()) << hazards.size() << " hazards, first: " << (hazards.empty() ? "" : hazards[0]);
    // The loaded word is compared only after the load's token completed.
    bool load_seen = false;
    for (const word& w : out) {
        const decoded d = decode(hw, w);
        if (opcode(w) == 49 && d.writes.count(31)) load_seen = true;
    }
    EXPECT_TRUE(load_seen);
}

INSTANTIATE_TEST_SUITE_P(Generations, Vasm2ProbeScoreboard, ::testing::Values(3, 5, 6, 7, 8),
                         [](const ::testing::TestParamInfo<int>& i) { return "Quen" + std::to_string(i.param); });

TEST(Vasm2ProbeScoreboard, QuenOneAndTwoAreCopiedWithoutScoreboard) {
    for (int arch : {1, 2}) {
        std::unique_ptr<code_generator> gen = make_binary_test_generator(arch);
        const std::size_t n = gen->root.instruction_count();
        const std::vector<uint8_t> bytes = finalize_program(*gen);
        EXPECT_EQ(bytes.size(), 16 * n);
        for (const word& w : words_of(bytes)) EXPECT_NE(opcode(w), 127u);
    }
}

TEST(Vasm2ProbeScoreboard, CheckerFindsAMissingWait) {
    // The checker itself: remove every wait from a finished Quen5 program and
    // it must report the compare of the loaded word.
    std::unique_ptr<code_generator> gen = make_binary_test_generator(5);
    std::vector<word> out = words_of(finalize_program(*gen));
    std::vector<word> stripped;
    for (word w : out) {
        if (opcode(w) == 1) continue;
        const unsigned b = bits(w[0], 8, 8);
        if (!(opcode(w) >= 49 && opcode(w) <= 52) && (b & 0xF0) == 0x20) w[0] &= ~0xFF00u;
        if (!(opcode(w) >= 49 && opcode(w) <= 52) && (b & 0x80)) w[0] &= ~0xFF00u;
        stripped.push_back(w);
    }
    // Jump offsets are no longer exact, but the straight path still shows the
    // hazard.
    EXPECT_FALSE(token_hazards(6, stripped).empty());
}

// ---------------------------------------------------------------------------
// Hand-made programs
// ---------------------------------------------------------------------------

// Raw words for a generator of hardware number hw.
struct program {
    int hw;
    std::vector<word> words;

    // A send (opcode 49) writing `dst` (count registers) from src0 `src`.
    void send(unsigned dst, unsigned count, unsigned src, uint32_t field = 0) {
        word w{};
        w[0] = 49u | 0x80u | (field << 8) | 0x80000000u;
        w[1] = (1u << 18) | (count << 19) | (dst << 24);
        w[2] = (1u << 2) | (1u << 3) | (src << 8) | (12u << 28);
        w[3] = 0;
        words.push_back(w);
    }
    // A 32-bit add dst = src0 + src1 (opcode 64), execution size 1.
    void add(unsigned dst, unsigned src0, unsigned src1) {
        word w{};
        w[0] = 64u | 0x80u | 0x80000000u;
        const unsigned t = 2;  // 32-bit unsigned hardware code
        w[1] = (t << 4) | (t << 8) | ((0x0004u | 1u | (dst << 8)) << 16);
        w[2] = 0x0004u | (src0 << 8) | (t << 24);
        w[3] = 0x0004u | (src1 << 8);
        words.push_back(w);
    }
    // A conditional jump (opcode 32, immediate target) over `distance`
    // instructions, counted from the jump itself.
    void jump(int distance) {
        word w{};
        w[0] = 32u | 0x80u | 0x80000000u | (1u << 24);
        w[1] = 1u << 14;
        w[3] = uint32_t(distance * 16);
        words.push_back(w);
    }
    // A directive with its code and a source-0 register range.
    void directive(unsigned code, unsigned first, unsigned last) {
        word w{};
        w[0] = 127u | 0x80u;
        w[1] = code << 24;
        w[2] = first << 8;
        w[3] = last << 8;
        words.push_back(w);
    }
    void end_of_thread(unsigned src) {
        word w{};
        w[0] = 49u | 0x80u | 0x80000000u;
        w[1] = 1u << 2;
        w[2] = (1u << 2) | (1u << 3) | (src << 8) | (3u << 28);
        words.push_back(w);
    }
    std::vector<word> finish() {
        code_generator gen(1, hw);
        for (const word& w : words) {
            gen.root.code.push_back(uint64_t(w[0]) | uint64_t(w[1]) << 32);
            gen.root.code.push_back(uint64_t(w[2]) | uint64_t(w[3]) << 32);
        }
        return words_of(finalize_scoreboarded(gen));
    }
};

TEST(Vasm2Scoreboard, IndependentSendsTakeTheirRegistersTokens) {
    for (int hw : {4, 6}) {
        program p{hw, {}};
        p.send(8, 1, 100);
        p.send(16, 1, 101);
        p.send(24, 1, 102);
        p.send(32, 1, 103);
        p.send(136, 1, 104);
        p.end_of_thread(120);
        const std::vector<word> out = p.finish();
        std::vector<unsigned> fields;
        for (const word& w : out)
            if (opcode(w) == 49 && bits(w[1], 18, 1)) fields.push_back(bits(w[0], 8, 8));
        ASSERT_EQ(fields.size(), 5u) << hw;
        EXPECT_EQ(fields[0], 0x41u);
        EXPECT_EQ(fields[1], 0x42u);
        EXPECT_EQ(fields[2], 0x43u);
        EXPECT_EQ(fields[3], 0x44u);
        EXPECT_EQ(fields[4] & 0xF0u, 0x40u);  // register 136 prefers token 1 again, still held
        EXPECT_TRUE(token_hazards(hw, out).empty());
    }
}

TEST(Vasm2Scoreboard, ThirtyTwoTokensPreferTheirOwnRegisters) {
    program p{7, {}};
    p.send(136, 1, 100);
    p.end_of_thread(120);
    const std::vector<word> out = p.finish();
    // (136 >> 2) & 31 = 2: a set of token 2 in the 10-bit field.
    EXPECT_EQ(bits(out[0][0], 8, 10), 0xC2u);
}

TEST(Vasm2Scoreboard, ReadOfTwoTokensWaitsOnOneAndSyncsTheOther) {
    program p{4, {}};
    p.send(10, 1, 100, 0x43);  // caller-set token 3
    p.send(11, 1, 101, 0x45);  // caller-set token 5
    p.add(20, 10, 11);
    p.end_of_thread(120);
    const std::vector<word> out = p.finish();
    ASSERT_EQ(out.size(), 5u);
    EXPECT_EQ(bits(out[0][0], 8, 8), 0x43u);
    EXPECT_EQ(bits(out[1][0], 8, 8), 0x45u);
    // A sync of function 0 waiting for the write of token 3, then the add
    // waiting for token 5 in its own field.
    EXPECT_EQ(opcode(out[2]), 1u);
    EXPECT_EQ(bits(out[2][0], 8, 8), 0x23u);
    EXPECT_EQ(bits(out[2][2], 28, 4), 0u);
    EXPECT_EQ(opcode(out[3]), 64u);
    EXPECT_EQ(bits(out[3][0], 8, 8), 0x25u);
    EXPECT_TRUE(token_hazards(4, out).empty());
}

TEST(Vasm2Scoreboard, ReadOfThreeTokensSyncsTheOtherTwoByMask) {
    program p{4, {}};
    p.send(10, 1, 100, 0x43);
    p.send(11, 1, 101, 0x45);
    p.send(12, 1, 102, 0x47);
    p.add(20, 10, 11);
    p.add(21, 12, 12);
    p.end_of_thread(120);
    const std::vector<word> out = p.finish();
    EXPECT_TRUE(token_hazards(4, out).empty());
    // The first add waits on token 5 in its field and on 3 by a sync.
    bool found = false;
    for (std::size_t j = 0; j + 1 < out.size(); ++j)
        if (opcode(out[j + 1]) == 64 && bits(out[j + 1][1], 24, 8) == 20) {
            found = true;
            EXPECT_EQ(bits(out[j + 1][0], 8, 8), 0x25u);
            EXPECT_EQ(opcode(out[j]), 1u);
        }
    EXPECT_TRUE(found);
}

TEST(Vasm2Scoreboard, JumpsLandOnTheSyncsOfTheirTarget) {
    program p{4, {}};
    p.send(10, 1, 100, 0x43);
    p.send(11, 1, 101, 0x45);
    p.jump(3);          // to the add below
    p.add(30, 31, 31);  // skipped on the jump's path
    p.add(32, 31, 31);
    p.add(20, 10, 11);  // needs tokens 3 and 5: a sync and a field wait
    p.end_of_thread(120);
    const std::vector<word> out = p.finish();
    ASSERT_EQ(out.size(), 8u);
    std::size_t jump = 0, target = 0;
    for (std::size_t j = 0; j < out.size(); ++j) {
        if (opcode(out[j]) == 32) jump = j;
        if (opcode(out[j]) == 64 && bits(out[j][1], 24, 8) == 20) target = j;
    }
    ASSERT_EQ(opcode(out[target - 1]), 1u);
    EXPECT_EQ(int64_t(jump) + (int32_t(out[jump][3]) >> 4), int64_t(target) - 1);
    EXPECT_TRUE(token_hazards(4, out).empty());
}

TEST(Vasm2Scoreboard, BlockEndSyncsStandBeforeTheBranch) {
    // A block that ends with a branch and whose unmarked entry makes the
    // block end wait for a region named by a code-16 directive: the sync goes
    // before the branch, and the branch still lands on its target.
    for (int hw : {4, 6, 7}) {
        program p{hw, {}};
        p.send(10, 1, 100);
        p.directive(16, 10, 10);
        p.add(40, 41, 41);
        p.words.back()[0] &= ~0x80u;  // settled by its caller: no mark
        p.jump(2);
        p.add(30, 31, 31);
        p.add(32, 31, 31);  // the jump's target
        p.end_of_thread(120);
        const std::vector<word> out = p.finish();
        std::size_t jump = 0, target = 0, syncs = 0;
        for (std::size_t j = 0; j < out.size(); ++j) {
            if (opcode(out[j]) == 32) jump = j;
            if (opcode(out[j]) == 64 && bits(out[j][1], 24, 8) == 32) target = j;
            if (opcode(out[j]) == 1) {
                ++syncs;
                EXPECT_LT(j, jump == 0 ? out.size() : jump) << "sync behind the branch, hw " << hw;
            }
        }
        EXPECT_EQ(syncs, 1u) << hw;
        ASSERT_EQ(opcode(out[jump - 1]), 1u) << hw;
        EXPECT_EQ(int64_t(jump) + (int32_t(out[jump][3]) >> 4), int64_t(target)) << hw;
        EXPECT_EQ(out.size(), p.words.size() - 1 + syncs);
    }
}

TEST(Vasm2Scoreboard, NoRequestIsDropped) {
    // A block-end sync at the program's end is written behind the last
    // instruction.
    {
        program p{6, {}};
        p.send(10, 1, 100);
        p.directive(16, 10, 10);
        const std::vector<word> out = p.finish();
        ASSERT_EQ(out.size(), 2u);
        EXPECT_EQ(opcode(out[1]), 1u);
        EXPECT_EQ(bits(out[1][2], 28, 4), 3u);
        EXPECT_EQ(out[1][3], 1u << bits(out[0][0], 8, 4));
    }
    // A block-end sync at the position of a directive (a jump target) goes
    // before the next instruction, and later requests still follow.
    {
        program p{6, {}};
        p.jump(3);
        p.send(10, 1, 100);
        p.directive(16, 10, 10);
        p.directive(4, 0, 0);  // position 3: the jump's target
        p.send(11, 1, 101, 0x43);
        p.send(12, 1, 102, 0x45);
        p.add(20, 11, 12);  // needs a sync for one of tokens 3 and 5
        p.end_of_thread(120);
        const std::vector<word> out = p.finish();
        std::size_t syncs = 0;
        for (const word& w : out) syncs += opcode(w) == 1;
        EXPECT_EQ(syncs, 2u);
        EXPECT_EQ(out.size(), p.words.size() - 2 + syncs);
        ASSERT_EQ(opcode(out[0]), 32u);
        const std::size_t target = std::size_t(int32_t(out[0][3]) >> 4);
        ASSERT_LT(target, out.size());
        EXPECT_EQ(opcode(out[target]), 49u);
        EXPECT_EQ(bits(out[target][1], 24, 8), 11u);
        EXPECT_EQ(opcode(out[target - 1]), 1u);  // the block-end sync, on the fall-through path only
        EXPECT_TRUE(token_hazards(6, out).empty());
    }
}

TEST(Vasm2Scoreboard, ProgramsWithoutMarksComeBackUnchanged) {
    code_generator gen(1, 6);
    std::vector<uint64_t> code = {0x1234567800000061ull, 0x1ull, 0x0000000000000060ull, 0};
    gen.root.code = code;
    const std::vector<uint8_t> out = finalize_scoreboarded(gen);
    ASSERT_EQ(out.size(), 32u);
    for (std::size_t k = 0; k < 4; ++k)
        for (int b = 0; b < 8; ++b) EXPECT_EQ(out[8 * k + std::size_t(b)], uint8_t(code[k] >> (8 * b)));
    code_generator empty(1, 6);
    EXPECT_TRUE(finalize_scoreboarded(empty).empty());
}

TEST(Vasm2Scoreboard, DirectiveSeventeenNamesOnlyEntriesOfTheProgram) {
    for (uint32_t offset : {0x7FFFFFF0u, 0x80000000u, 0xFFFFFFE0u, 16u}) {
        program p{6, {}};
        p.send(10, 1, 100, 0x43);
        p.directive(17, 0, 0);
        p.words.back()[1] |= 1u << 14;
        p.words.back()[3] = offset;  // far outside, or the add behind it
        p.add(20, 10, 10);
        p.end_of_thread(120);
        const std::vector<word> out = p.finish();
        ASSERT_EQ(out.size(), 3u) << offset;
        EXPECT_EQ(bits(out[1][0], 8, 8), 0x23u) << offset;  // the add waits for token 3
        EXPECT_TRUE(token_hazards(6, out).empty());
    }
    // A directive naming the send makes the next instruction wait for its
    // token's write.
    program p{6, {}};
    p.send(10, 1, 100, 0x43);
    p.directive(17, 0, 0);
    p.words.back()[1] |= 1u << 14;
    p.words.back()[3] = uint32_t(-16);
    p.add(20, 30, 30);  // no register dependency of its own
    p.end_of_thread(120);
    const std::vector<word> out = p.finish();
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(bits(out[1][0], 8, 8), 0x23u);
}

TEST(Vasm2Scoreboard, UnfinishedStreamAndDanglingLabel) {
    code_generator gen(1, 6);
    code_stream nested;
    gen.stream_stack.push_back(&nested);
    EXPECT_THROW(finalize_scoreboarded(gen), unfinished_stream_exception);
    gen.stream_stack.pop_back();
    label l = no_label;
    emit_jump_to_label(gen, 0, l);
    EXPECT_THROW(finalize_scoreboarded(gen), dangling_label_exception);
}

TEST(Vasm2Scoreboard, TokenCounts) {
    const int arches[] = {3, 5, 6, 7, 8};
    const uint32_t counts[] = {16, 16, 32, 16, 32};
    for (int i = 0; i < 5; ++i) {
        std::unique_ptr<code_generator> gen = make_binary_test_generator(arches[i]);
        EXPECT_EQ(scoreboard_token_count(*gen), counts[i]) << arches[i];
    }
    std::unique_ptr<code_generator> gen = make_binary_test_generator(7);
    gen->declared_register_count = 256;
    EXPECT_EQ(scoreboard_token_count(*gen), 32u);
}

TEST(Vasm2Scoreboard, ControlFlowFlags) {
    auto flags_of = [](unsigned op, bool immediate, bool unconditional) {
        word w{};
        w[0] = op | (unconditional ? 0x80000000u : 0x01000000u);
        w[1] = immediate ? (1u << 14) : 0u;
        return control_flow_flags(w);
    };
    EXPECT_EQ(flags_of(64, true, false), 1u);
    EXPECT_EQ(flags_of(32, true, false), 3u);
    EXPECT_EQ(flags_of(32, false, false), 8u);
    EXPECT_EQ(flags_of(32, true, true), 2u);
    EXPECT_EQ(flags_of(32, false, true), 8u);
    for (unsigned op : {33u, 37u, 39u, 43u, 44u, 45u, 47u}) EXPECT_EQ(flags_of(op, true, true), 3u) << op;
    for (unsigned op : {34u, 35u, 36u, 40u, 41u, 42u, 46u}) {
        EXPECT_EQ(flags_of(op, true, false), 7u) << op;
        EXPECT_EQ(flags_of(op, false, false), 8u) << op;
    }
    EXPECT_EQ(flags_of(38, true, false), 1u);
    word eot{};
    eot[0] = 49;
    eot[1] = 4;
    EXPECT_EQ(control_flow_flags(eot), 0u);
    eot[0] = 50;
    EXPECT_EQ(control_flow_flags(eot), 0u);
}

}  // namespace
