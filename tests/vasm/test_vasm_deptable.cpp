// Dependency tables: insertion and covering, lookups, token release, the
// decoding of dependency fields into records, and block propagation over
// chains, diamonds and loops.
#include <gtest/gtest.h>

#include "vasm/vasm.hpp"

using namespace korami::ovx::vasm;

namespace {

dependency_record access(unsigned reg, std::uint32_t mask, bool write, pipe_class pipe, int counter,
                         unsigned count = 1) {
    dependency_record r;
    r.pipe = pipe;
    for (int& c : r.counters) c = counter;
    r.token = 255;
    r.flags = write ? record_write : 0;
    r.footprint.first = static_cast<std::uint8_t>(reg);
    r.footprint.count = static_cast<std::uint8_t>(count);
    r.footprint.flags = 0;
    r.footprint.hardware_number = 4;
    for (unsigned i = 0; i < count; ++i) r.footprint.masks[i] = mask;
    return r;
}

dependency_record whole_file(pipe_class pipe, bool write) {
    dependency_record r = access(0, 0, write, pipe, 0, 0);
    r.footprint.flags = footprint_whole_file;
    return r;
}

std::size_t live_count(const dependency_table& t) {
    std::size_t n = 0;
    for (const dependency_record& r : t.records) n += r.live();
    return n;
}

std::vector<dependency_record> lookup(dependency_table& t, const dependency_record& q, bool retire = false) {
    std::vector<dependency_record> out;
    find_dependencies(t, q, &out, retire);
    return out;
}

struct block {
    std::int32_t change_pass = -1;
    std::int32_t pipe_counts[7] = {};
    std::vector<block*> predecessors;
    dependency_table tables[3];
    void counts(int n) {
        for (int& c : pipe_counts) c = n;
    }
};

}  // namespace

TEST(DependencyTable, EmptyAndCleared) {
    dependency_table t;
    for (auto& kind : t.heads)
        for (std::uint32_t h : kind) EXPECT_EQ(h, link_none);
    EXPECT_TRUE(insert_dependency(t, access(5, 0xF, true, 1, 0), true, true));
    t.clear();
    EXPECT_TRUE(t.records.empty());
    EXPECT_EQ(t.heads[0][5], link_none);
}

TEST(DependencyTable, SameAccessTwiceIsCovered) {
    dependency_table t;
    const dependency_record r = access(5, 0xFF, true, 1, 3, 2);
    EXPECT_TRUE(insert_dependency(t, r, true, false));
    const auto records = t.records.size();
    const auto links = t.links.size();
    EXPECT_EQ(links, 2u);  // one per register
    EXPECT_FALSE(insert_dependency(t, r, true, false));
    EXPECT_EQ(t.records.size(), records);
    EXPECT_EQ(t.links.size(), links);
    // A partly covered access keeps only its new bytes.
    EXPECT_TRUE(insert_dependency(t, access(5, 0xFFFF, true, 1, 3), true, false));
    EXPECT_EQ(t.records.back().footprint.masks[0], 0xFF00u);
}

TEST(DependencyTable, WholeFileOutOfOrderAccessWithoutTokenIsAlwaysInserted) {
    dependency_table t;
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(insert_dependency(t, whole_file(0x10C, true), true, true));
    EXPECT_EQ(live_count(t), 3u);
    EXPECT_EQ(t.heads[0][256], 4u - 2u);  // newest whole-file link at the front
    // Every access lookup meets it.
    const auto found = lookup(t, access(200, 1, false, 1, 0));
    EXPECT_EQ(found.size(), 3u);
}

TEST(DependencyTable, NewerWriteRetiresOlder) {
    dependency_table t;
    ASSERT_TRUE(insert_dependency(t, access(7, 0xFFFFFFFF, true, 1, 0), true, true));
    ASSERT_TRUE(insert_dependency(t, access(7, 0xFFFFFFFF, true, 1, 4), true, true));
    ASSERT_EQ(t.records.size(), 2u);
    EXPECT_FALSE(t.records[0].live());
    EXPECT_TRUE(t.records[1].live());
    EXPECT_EQ(t.heads[0][7], 1u);
    EXPECT_EQ(t.links[1].next[0], link_none);
    // An older write does not cover a newer one (counter rule).
    dependency_table u;
    ASSERT_TRUE(insert_dependency(u, access(7, 0xF, true, 1, 4), true, true));
    EXPECT_TRUE(insert_dependency(u, access(7, 0xF, true, 1, 9), true, false));
}

TEST(DependencyTable, CountZeroRecordIsUnreachable) {
    dependency_table t;
    ASSERT_TRUE(insert_dependency(t, access(9, 0, true, 0x300, 0, 0), false, false));
    EXPECT_EQ(t.records.size(), 1u);
    EXPECT_EQ(t.links.size(), 1u);
    for (auto& kind : t.heads)
        for (std::uint32_t h : kind) EXPECT_EQ(h, link_none);
}

TEST(DependencyTable, MatchingRules) {
    struct row { dependency_record x, a; bool match; const char* what; };
    const row rows[] = {
        {access(3, 0xF, true, 1, 0), access(3, 0x3, false, 1, 2), true, "read after write"},
        {access(3, 0xF, true, 1, 0), access(3, 0xF0, false, 1, 2), false, "disjoint bytes"},
        {access(3, 0xF, false, 1, 0), access(3, 0xF, false, 1, 2), false, "read after read"},
        {access(3, 0xF, false, 1, 0), access(3, 0xF, true, 1, 2), false, "write after read, same pipe"},
        {access(3, 0xF, false, 0x300, 0), access(3, 0xF, true, 0x300, 2), true, "write after read, long latency"},
        {access(3, 0xF, false, 1, 0), access(3, 0xF, true, 2, 2), true, "write after read, other pipe"},
        {access(3, 0xF, true, 1, 0), access(3, 0xF, true, 1, 2), false, "write after write, same pipe"},
        {access(3, 0xF, true, 1, 0), access(3, 0xF, false, 1, 11), false, "retired by depth 11"},
        {access(3, 0xF, true, 1, 0), access(3, 0xF, false, 1, 10), true, "still in flight at 10"},
        {access(3, 0xF, true, 8, 0), access(3, 0xF, false, 8, 14), true, "mask 8 still in flight at 14"},
        {access(3, 0xF, true, 16, 0), access(3, 0xF, false, 16, 19), false, "mask 16 done at 19"},
        {whole_file(0x10C, true), access(100, 1, false, 1, 0), true, "whole file"},
    };
    for (const row& r : rows) EXPECT_EQ(dependency_matches(r.x, r.a), r.match) << r.what;
    // Different register files never meet.
    dependency_record arf = access(0x20, 0xF, false, 1, 0);
    arf.footprint.flags = footprint_architecture;
    EXPECT_FALSE(dependency_matches(access(0x20, 0xF, true, 1, 0), arf));
    // A read of an architecture register other than kind 6 meets nothing.
    dependency_record arf_write = access(0x20, 0xF, true, 1, 0);
    arf_write.footprint.flags = footprint_architecture;
    EXPECT_FALSE(dependency_matches(arf_write, arf));
}

TEST(DependencyTable, WaitQueries) {
    dependency_record token_writer = access(4, 0xF, true, 0x10C, 0);
    token_writer.token = 3;
    token_writer.flags |= 3;  // sets token 3
    dependency_record wait;
    wait.flags = record_wait | 2;
    wait.token = 3;
    EXPECT_TRUE(dependency_matches(token_writer, wait));
    wait.token = 4;
    EXPECT_FALSE(dependency_matches(token_writer, wait));
    // Distance waits on in-order pipes.
    const dependency_record alu = access(4, 0xF, true, 2, 5);
    dependency_record d;
    d.flags = record_wait;
    d.wait_pipe_mask = 2;
    d.distance = 2;
    for (int& c : d.counters) c = 7;
    EXPECT_TRUE(dependency_matches(alu, d));
    d.distance = 3;
    EXPECT_FALSE(dependency_matches(alu, d));
    d.distance = 2;
    d.wait_pipe_mask = 4;
    EXPECT_FALSE(dependency_matches(alu, d));
    d.wait_pipe_mask = 1;  // every in-order pipe
    EXPECT_TRUE(dependency_matches(alu, d));

    dependency_table t;
    ASSERT_TRUE(insert_dependency(t, token_writer, true, true));
    ASSERT_TRUE(insert_dependency(t, alu, true, true));
    wait.token = 3;
    EXPECT_EQ(lookup(t, wait).size(), 1u);
    EXPECT_EQ(lookup(t, d).size(), 1u);
    EXPECT_EQ(lookup(t, d, true).size(), 1u);
    EXPECT_TRUE(lookup(t, d).empty());  // retired
    EXPECT_EQ(live_count(t), 1u);
}

TEST(DependencyTable, LookupRetiresTooOldRecords) {
    dependency_table t;
    ASSERT_TRUE(insert_dependency(t, access(3, 0xF, true, 1, 0), true, true));
    ASSERT_TRUE(insert_dependency(t, access(4, 0xF, true, 1, 0), true, true));
    dependency_record q = access(3, 0xFFFF, false, 2, 20, 2);
    EXPECT_TRUE(lookup(t, q).empty());
    EXPECT_EQ(live_count(t), 2u);
    EXPECT_TRUE(lookup(t, q, true).empty());
    EXPECT_EQ(live_count(t), 0u);
    // A record met through several registers is reported once.
    dependency_table u;
    ASSERT_TRUE(insert_dependency(u, access(3, 0xF, true, 1, 0, 2), true, true));
    EXPECT_EQ(lookup(u, access(3, 0xF, false, 2, 1, 2)).size(), 1u);
}

TEST(DependencyTable, ReleaseTokens) {
    dependency_table t;
    dependency_record dst_kind = access(3, 0xF, true, 0x10C, 0);
    dst_kind.token = 2;
    dst_kind.flags |= 2;
    dependency_record src_kind = access(5, 0xF, false, 0x10C, 0);
    src_kind.token = 6;
    src_kind.flags |= 1;
    ASSERT_TRUE(insert_dependency(t, dst_kind, false, false));
    ASSERT_TRUE(insert_dependency(t, src_kind, false, false));
    EXPECT_EQ(release_tokens(t, (1u << 2) | (1u << 6) | (1u << 9), false), (1u << 2) | (1u << 9));
    EXPECT_TRUE(t.records[0].live());
    EXPECT_FALSE(t.records[1].live());
    EXPECT_EQ(release_tokens(t, 1u << 2, true), 0u);
    EXPECT_FALSE(t.records[0].live());
}

TEST(DependencyTable, WaitInsertionCovering) {
    dependency_table t;
    dependency_record w;
    w.flags = record_wait | 2;
    w.token = 4;
    w.pipe = 0x10C;
    EXPECT_TRUE(insert_wait(t, w, true, true));
    EXPECT_FALSE(insert_wait(t, w, true, true));
    EXPECT_EQ(t.heads[1][4], 0u);
    dependency_record d;
    d.flags = record_wait;
    d.pipe = 2;
    d.wait_pipe_mask = 2;
    d.distance = 1;
    d.footprint.flags = 0;
    d.footprint.count = 1;
    d.footprint.first = 9;
    d.footprint.masks[0] = 1;
    EXPECT_TRUE(insert_wait(t, d, true, true));
    EXPECT_FALSE(insert_wait(t, d, true, true));
}

TEST(DependencyTable, DecodeQuen3ControlIntoRecords) {
    dependency_record tok, query;
    // Send with token 2 set and distance 1 (0x92), auto-dependency mark.
    std::uint32_t r = decode_dependency_control(4, instruction_word{49u | (1u << 7) | (0x92u << 8), 0, 0, 0}, tok, query);
    EXPECT_EQ(tok.token, 2);
    EXPECT_EQ(tok.token_use(), 3u);
    EXPECT_EQ(query.token, 2);
    EXPECT_TRUE(query.is_wait());
    EXPECT_EQ(query.distance, 1);
    EXPECT_EQ(query.wait_pipe_mask, 1);
    EXPECT_EQ(r & 0xFFu, 0u);  // a distance was stored
    // Wait on token 5 only, marked: low byte 1.
    r = decode_dependency_control(6, instruction_word{97u | (1u << 7) | (0x25u << 8), 0, 0, 0}, tok, query);
    EXPECT_EQ(query.token, 5);
    EXPECT_EQ(query.token_use(), 2u);
    EXPECT_EQ(tok.token_use(), 0u);
    EXPECT_EQ(r & 0xFFu, 1u);
    // Distance in the instruction's own pipe on Quen5: float move -> pipe mask 2.
    code_generator g(6, 6);
    emit_unary(g, 1ull | (0x0300ull << 48), make_register(1, type_code(0xA7)), make_register(2, type_code(0xA7)));
    r = decode_dependency_control(6, g.root.instruction(0), tok, query);
    EXPECT_EQ(query.wait_pipe_mask, 2);
    EXPECT_EQ(query.distance, 3);
}

// --- Propagation ----------------------------------------------------------------

TEST(Propagation, Chain) {
    std::vector<block> b(3);
    b[1].predecessors = {&b[0]};
    b[2].predecessors = {&b[1]};
    b[0].counts(5);
    b[1].counts(3);
    ASSERT_TRUE(insert_dependency(b[0].tables[0], access(10, 0xFFFFFFFF, true, 1, 0), true, true));
    propagate_block_dependencies(b);
    ASSERT_EQ(live_count(b[1].tables[0]), 1u);
    EXPECT_EQ(b[1].tables[0].records[0].counters[0], -5);
    EXPECT_EQ(b[1].tables[0].records[0].origin_pass, 1u);
    ASSERT_EQ(live_count(b[2].tables[0]), 1u);
    EXPECT_EQ(b[2].tables[0].records[0].counters[1], -8);
    EXPECT_EQ(b[2].tables[0].records[0].origin_pass, 2u);
    EXPECT_EQ(b[1].change_pass, 1);
    EXPECT_EQ(b[2].change_pass, 2);
    ASSERT_EQ(live_count(b[2].tables[2]), 1u);
    EXPECT_EQ(b[2].tables[2].records[0].counters[0], -8);
    EXPECT_EQ(live_count(b[0].tables[2]), 0u);
}

TEST(Propagation, OldRecordsAreDropped) {
    // {pipe, instructions behind the record, still carried, table}: pipe mask 8 lives longer.
    const int rows[][4] = {{1, 10, 1, 0}, {1, 11, 0, 0}, {8, 14, 1, 2}, {8, 15, 0, 2}};
    for (const auto& r : rows) {
        std::vector<block> b(2);
        b[1].predecessors = {&b[0]};
        b[0].counts(r[1]);
        ASSERT_TRUE(insert_dependency(b[0].tables[0], access(10, 0xF, true, pipe_class(r[0]), 0), true, true));
        propagate_block_dependencies(b);
        EXPECT_EQ(live_count(b[1].tables[r[3]]), std::size_t(r[2])) << r[0] << " " << r[1];
    }
}

TEST(Propagation, Diamond) {
    std::vector<block> b(4);
    b[1].predecessors = {&b[0]};
    b[2].predecessors = {&b[0]};
    b[3].predecessors = {&b[1], &b[2]};
    b[0].counts(5);
    b[1].counts(2);
    b[2].counts(4);
    ASSERT_TRUE(insert_dependency(b[0].tables[0], access(10, 0xFFFFFFFF, true, 1, 0), true, true));
    propagate_block_dependencies(b);
    ASSERT_EQ(live_count(b[3].tables[0]), 1u);
    EXPECT_EQ(b[3].tables[0].records[0].counters[0], -7);  // via the shorter path
    ASSERT_EQ(live_count(b[3].tables[2]), 1u);
    EXPECT_EQ(b[3].tables[2].records[0].counters[0], -7);
}

TEST(Propagation, ExposedReadsStopWhatTheyCover) {
    std::vector<block> b(2);
    b[1].predecessors = {&b[0]};
    b[0].counts(1);
    ASSERT_TRUE(insert_dependency(b[0].tables[0], access(10, 0xFFFFFFFF, true, 1, 0), true, true));
    ASSERT_TRUE(insert_dependency(b[0].tables[0], access(20, 0xFFFFFFFF, true, 1, 0), true, true));
    ASSERT_TRUE(insert_dependency(b[0].tables[0], whole_file(0x10C, true), true, true));
    ASSERT_TRUE(insert_dependency(b[1].tables[1], access(10, 0x0000FFFF, false, 2, 0), true, true));
    ASSERT_TRUE(insert_dependency(b[1].tables[1], access(20, 0xFFFFFFFF, false, 2, 0), true, true));
    propagate_block_dependencies(b);
    // r10 keeps its upper bytes, r20 is stopped, the whole-file record is never reduced.
    std::vector<const dependency_record*> live;
    for (const dependency_record& r : b[1].tables[0].records)
        if (r.live()) live.push_back(&r);
    ASSERT_EQ(live.size(), 2u);
    bool saw_r10 = false, saw_whole = false;
    for (const dependency_record* r : live) {
        if (r->footprint.whole_file()) saw_whole = true;
        if (!r->footprint.whole_file() && r->footprint.first == 10) {
            saw_r10 = true;
            EXPECT_EQ(r->footprint.masks[0], 0xFFFF0000u);
        }
    }
    EXPECT_TRUE(saw_r10);
    EXPECT_TRUE(saw_whole);
}

TEST(Propagation, LoopsAndSelfLoops) {
    std::vector<block> b(2);
    b[0].predecessors = {&b[1]};
    b[1].predecessors = {&b[0], &b[1]};
    b[0].counts(5);
    b[1].counts(3);
    ASSERT_TRUE(insert_dependency(b[0].tables[0], access(10, 0xFFFFFFFF, true, 1, 0), true, true));
    propagate_block_dependencies(b);
    // Block 1 is not fed from itself during the passes ...
    EXPECT_EQ(live_count(b[1].tables[0]), 1u);
    EXPECT_EQ(live_count(b[0].tables[0]), 1u);
    // ... but its incoming table receives its own records, rebased by its own counts,
    // where the copy from block 0 already covers them.
    ASSERT_EQ(live_count(b[1].tables[2]), 1u);
    EXPECT_EQ(b[1].tables[2].records[0].counters[0], -5);
    ASSERT_EQ(live_count(b[0].tables[2]), 1u);
    EXPECT_EQ(b[0].tables[2].records[0].counters[0], -8);
    // A block alone in a self-loop: its incoming table gets its own records.
    std::vector<block> s(1);
    s[0].predecessors = {&s[0]};
    s[0].counts(2);
    ASSERT_TRUE(insert_dependency(s[0].tables[0], access(3, 0xF, true, 1, 0), true, true));
    propagate_block_dependencies(s);
    ASSERT_EQ(live_count(s[0].tables[2]), 1u);
    EXPECT_EQ(s[0].tables[2].records[0].counters[0], -2);
}

TEST(Propagation, InternalErrorWhenNotSettled) {
    std::vector<block> none;
    try {
        propagate_block_dependencies(none);
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "VASM internal error: propagation failed.");
    }
    // Counts that make carried records newer each time around a loop never settle.
    std::vector<block> b(2);
    b[0].predecessors = {&b[1]};
    b[1].predecessors = {&b[0]};
    b[0].counts(-1);
    b[1].counts(-1);
    ASSERT_TRUE(insert_dependency(b[0].tables[0], access(10, 0xF, true, 1, 0), true, true));
    try {
        propagate_block_dependencies(b);
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "VASM internal error: propagation failed.");
    }
}
