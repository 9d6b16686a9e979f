// Software scoreboard: basic blocks, the three-phase dependency analysis and
// the final layout of a scheduled program.
//
// From Quen3 on every instruction carries a dependency field that tells the
// hardware what to wait for before it issues: a distance in instructions of
// an in-order pipe, or a token of an out-of-order instruction (sends, systolic
// and other long-latency work). One field holds one token and one distance;
// what does not fit becomes sync instructions inserted before it.
//
// Phase 0 gathers the token users' destination writes of every block for the
// first propagation; phase 1 chooses tokens, settles the instructions whose
// dependencies lie wholly inside their block and records what each block
// reads before writing it; phase 2 settles the rest with what the second
// propagation brought into every block.
#include "vasm/vasm_sb.hpp"

#include <algorithm>
#include <map>
#include <stdexcept>

namespace korami {
namespace ovx {
namespace vasm {

namespace {

// ---------------------------------------------------------------------------
// Instruction words in the program vector
// ---------------------------------------------------------------------------

instruction_word word_at(const std::vector<std::uint64_t>& code, std::size_t i) {
    const std::uint64_t lo = code[2 * i], hi = code[2 * i + 1];
    return {std::uint32_t(lo), std::uint32_t(lo >> 32), std::uint32_t(hi), std::uint32_t(hi >> 32)};
}

void store_dword(std::vector<std::uint64_t>& code, std::size_t i, unsigned dword, std::uint32_t v) {
    std::uint64_t& w = code[2 * i + dword / 2];
    const unsigned shift = (dword & 1u) * 32;
    w = (w & ~(0xFFFFFFFFull << shift)) | (std::uint64_t(v) << shift);
}

unsigned opcode_of(const instruction_word& w) { return w[0] & 0x7Fu; }
bool marked(const instruction_word& w) { return (w[0] >> 7) & 1u; }
bool is_send(unsigned op) { return op >= 49 && op <= 52; }
bool is_branch_class(unsigned op) { return ((op >> 4) & 7u) == 2; }
std::int32_t target_distance(std::uint32_t field) { return std::int32_t(field) >> 4; }

bool end_of_thread_send(const instruction_word& w) {
    const unsigned op = opcode_of(w);
    return (op == 49 || op == 50) && ((w[1] >> 2) & 1u);
}

int highest_bit(std::uint32_t m) {
    int b = -1;
    while (m) {
        ++b;
        m >>= 1;
    }
    return b;
}
int lowest_bit(std::uint32_t m) {
    if (!m) return -1;
    int b = 0;
    while (!(m & 1u)) {
        m >>= 1;
        ++b;
    }
    return b;
}
int popcount(std::uint32_t m) {
    int c = 0;
    for (; m; m &= m - 1) ++c;
    return c;
}

// In-order pipe mask of a pipe class (0 for out-of-order classes and none).
unsigned in_order_mask(pipe_class p) { return in_order(p) ? (p & 0xFFu) : 0u; }

// ---------------------------------------------------------------------------
// The dependency field of an encoded instruction, decoded
// ---------------------------------------------------------------------------

struct field_info {
    int set_token = -1;   // token the instruction sets
    int wait_token = -1;  // token it waits on
    unsigned wait_use = 0;  // 1 read kind, 2 write kind
    unsigned distance = 0;
    unsigned wait_mask = 0;  // in-order pipes of the distance
};

field_info decode_field(int hw, const instruction_word& w) {
    field_info f;
    const unsigned op = opcode_of(w);
    unsigned token = 0, use = 0, distance = 0, pipe_plus1 = 0;
    if (hw < 7) {
        const unsigned b = (w[0] >> 8) & 0xFFu;
        const unsigned mid = (b >> 4) & 7u;
        if (b & 0x80u) {
            token = b & 15u;
            distance = (b >> 4) & 7u;
            use = (is_send(op) || op == 56 || op == 89 || op == 90) ? 3u : 2u;
            pipe_plus1 = (op == 49 || op == 50) ? 1u : 0u;
        } else if (mid == 2) {
            token = b & 15u;
            use = 2;
        } else if (mid == 3) {
            token = b & 15u;
            use = 1;
        } else if (mid == 4) {
            token = b & 15u;
            use = 3;
        } else {
            distance = b & 7u;
            pipe_plus1 = (b >= 0x50 && b <= 0x57) ? 4u : ((b >> 3) & 3u);
        }
    } else {
        const unsigned fb = (w[0] >> 8) & 0x3FFu;
        const unsigned t = fb & 0x1Fu, d = (fb >> 5) & 7u, m = (fb >> 8) & 3u;
        if (fb == 0x0F0) {
            // the all-tokens marker alone: no wait of its own
        } else if (m == 0 && (fb & 0x80u)) {
            token = t;
            const unsigned k = (fb >> 5) & 3u;
            use = k == 0 ? 2u : (k == 1 ? 1u : 3u);
        } else if (m == 0) {
            static const unsigned pipes[8] = {0, 1, 2, 3, 4, 5, 6, 1};
            distance = fb & 7u;
            const unsigned code = (fb >> 3) & 0xFu;
            pipe_plus1 = code < 8 ? pipes[code] : 0u;
        } else if (is_send(op)) {
            token = t;
            use = 3;
            distance = d;
            pipe_plus1 = m;
        } else if (op == 89) {
            token = t;
            distance = d;
            use = m == 3 ? 2u : (m == 1 ? 3u : 1u);
        } else {
            token = t;
            distance = d;
            use = m == 2 ? 1u : 2u;
            pipe_plus1 = m == 3 ? 1u : 0u;
        }
    }
    if (use == 3) {
        f.set_token = int(token);
    } else if (use == 1 || use == 2) {
        f.wait_token = int(token);
        f.wait_use = use;
    }
    if (distance) {
        unsigned mask;
        if (hw == 4)
            mask = 1;
        else if (pipe_plus1 >= 1)
            mask = 1u << (pipe_plus1 - 1);
        else
            mask = in_order_mask(instruction_pipe_class(hw, w, true));
        if (mask) {
            f.distance = distance;
            f.wait_mask = mask;
        }
    }
    return f;
}

// Packs a dependency control word into the 8-bit field of Quen3 and Quen5.
std::uint32_t pack_field_a(std::uint32_t c) {
    const unsigned t = c & 15u, d = (c >> 8) & 7u, mode = (c >> 6) & 3u;
    if (d && mode) return 0x80u + (d << 4) + t;
    if (d) {
        static const unsigned p[8] = {0, 1, 2, 3, 10, 0, 0, 0};
        return d + (p[(c >> 12) & 7u] << 3);
    }
    if (mode == 2) return 0x20u + t;
    if (mode == 1) return 0x30u + t;
    if (mode == 3) return 0x40u + t;
    return 0;
}

// Writes a control word into the instruction's dependency field and clears
// its auto-dependency mark.
void write_field(std::vector<std::uint64_t>& code, std::size_t i, int hw, std::uint32_t control) {
    const instruction_word w = word_at(code, i);
    std::uint32_t d0 = w[0] & ~0x80u;
    if (hw < 7)
        d0 = (d0 & ~0xFF00u) | (pack_field_a(control) << 8);
    else
        d0 = (d0 & ~0x3FF00u) | ((encode_dependency_field(std::uint16_t(control), opcode_of(w)) & 0x3FFu) << 8);
    store_dword(code, i, 0, d0);
}

// Writes a set of token t into the field, keeping the mark (phase 1 choice).
void write_token_set(std::vector<std::uint64_t>& code, std::size_t i, int hw, unsigned t, std::uint32_t pending) {
    const instruction_word w = word_at(code, i);
    std::uint32_t d0 = w[0];
    if (hw < 7)
        d0 = (d0 & ~0xFF00u) | ((0x40u + (t & 15u)) << 8);
    else
        d0 = (d0 & ~0x3FF00u) |
             ((encode_dependency_field(std::uint16_t((pending & 0xFF00u) | (0xC0u + t)), opcode_of(w)) & 0x3FFu) << 8);
    store_dword(code, i, 0, d0);
}

// Expected latency, in instructions, of an instruction that sets a token.
std::uint16_t expected_latency(int hw, const instruction_word& w) {
    const unsigned op = opcode_of(w);
    const bool q3 = hw == 4;
    if (op == 49 || op == 50) {
        const unsigned sfid = (w[2] >> 28) & 15u;
        if (sfid == 2) return q3 ? 175 : 210;
        if (sfid == 10 || sfid == 12) {
            if (((w[2] >> 17) & 0xFFu) == 0xFE && !((w[1] >> 16) & 1u)) return q3 ? 33 : 25;
            return q3 ? 106 : 150;
        }
        return 50;
    }
    if (op == 89 || op == 90) return 20;
    return q3 ? 20 : 17;
}

bool footprint_nonempty(const register_footprint& fp) {
    if (fp.flags & footprint_whole_file) return true;
    if (fp.count == 0) return false;
    for (unsigned r = 0; r < fp.count && r < 32; ++r)
        if (fp.masks[r]) return true;
    return false;
}

void make_empty(register_footprint& fp) {
    const std::int32_t hw = fp.hardware_number;
    fp = register_footprint();
    fp.flags = 0;
    fp.hardware_number = hw;
}

constexpr std::uint32_t no_value = 0x80000000u;

// ---------------------------------------------------------------------------
// One pass of the analysis over one block
// ---------------------------------------------------------------------------

struct pending_access {
    bool write;
    const register_footprint* footprint;
};

// One pass of the analysis over one block. run() walks the block's
// instructions in order. A directive adjusts what the next instruction waits
// for. Every other instruction takes its token (the one its field names, or
// one chosen in phase 1), gathers the waits that its operands need from the
// running table, has them placed in its dependency field and in inserted
// syncs when the phase settles it, and records its own accesses for the
// instructions behind it. At the block's end the pass places the block-end
// sync and, before phase 2, records what the block exposes to its
// predecessors.
//
// The three phases share the walk: phase 0 only records the token users'
// destination writes (record_accesses) and places nothing; phase 1 also
// chooses tokens (choose_own_token), settles the instructions whose waits
// the block alone decides (resolve_waits) and records the reads, distances
// and tokens the block exposes; phase 2 settles every instruction left and
// places the sync for what the block's end still waits for.
class block_pass {
public:
    block_pass(std::uint32_t hw, std::uint32_t tokens, finalisation_context& ctx, basic_block& block,
               std::uint32_t phase)
        : hw_(int(hw)), tokens_(tokens), all_(tokens >= 32 ? 0xFFFFFFFFu : ((1u << tokens) - 1u)),
          code_(*ctx.code), b_(block), phase_(phase) {
        for (auto& row : table_)
            for (auto& v : row) v = std::int32_t(no_value);
        quen6_rule_ = hw_ == 7 && block.option_flag;
        sync_word_ = hw_ == 4 ? 0x0100u : 0x1100u;
    }

    void run();

private:
    // Per-instruction state.
    struct wait_state {
        std::uint32_t read = 0, write = 0;  // token wait sets
        unsigned distance = 0, mask = 0;    // in-order wait
        std::uint32_t candidates = 0;       // incoming write tokens (token choice)
        bool exposed = false;               // some read added to the exposed-read table
    };

    // What the walk knows of the instruction at hand.
    struct entry {
        std::int32_t index = 0;
        instruction_word w{};
        unsigned op = 0;
        const instruction_footprints* fps = nullptr;
        pipe_class pc = 0;
        unsigned own_mask = 0;        // its in-order pipe mask
        field_info field;             // its dependency field as found
        bool grouped = false;         // it continues into the next instruction
        bool in_group = false, last_of_group = false;
        std::int32_t position = 0;    // where its syncs go: the first instruction of its group
        bool after_unset17 = false;   // a code-17 directive before it named an entry without a set
        int own = -1;                 // the token it sets (255: still to be chosen)
        bool own_from_field = false, had_live_holder = false, marked_for_choice = false;
        bool sets_token = false;
    };

    // How a settled instruction's waits are placed.
    struct settlement {
        std::uint32_t wset = 0, rset = 0;  // token waits for writes and for reads still to place
        std::uint32_t pending_word = 0;    // control word of a sync before it (0: none)
        unsigned distance = 0, dmask = 0;  // in-order wait left for its field
        bool move_case = false, type_b = false, names_pipe = false;
        std::uint32_t field_control = 0;   // the token wait its field holds
    };

    dependency_table& running() { return b_.tables[0]; }
    dependency_table& exposed() { return b_.tables[1]; }
    dependency_table& incoming() { return b_.tables[2]; }

    dependency_record query_of(const register_footprint& fp, bool write, pipe_class pc) const {
        dependency_record q;
        q.pipe = pc;
        for (int k = 0; k < 7; ++k) q.counters[k] = std::int32_t(counters_[k]);
        q.token = 255;
        q.flags = std::uint8_t(record_live | (write ? record_write : 0));
        q.footprint = fp;
        return q;
    }
    void add_distance(wait_state& s, unsigned distance, unsigned mask) const {
        if (!distance || !mask) return;
        if (!s.mask)
            s.mask = mask;
        else if (s.mask != mask)
            s.mask = 1;
        s.distance = s.distance ? std::min(s.distance, distance) : distance;
    }
    bool entry_sets_token(std::int64_t j) const {
        if (j < 0 || std::size_t(j) >= code_.size() / 2) return false;
        return decode_field(hw_, word_at(code_, std::size_t(j))).set_token >= 0;
    }
    int entry_set_token(std::int64_t j) const {
        if (j < 0 || std::size_t(j) >= code_.size() / 2) return -1;
        return decode_field(hw_, word_at(code_, std::size_t(j))).set_token;
    }
    int preferred_token(unsigned first) const {
        return tokens_ == 16 ? int((first >> 3) & 15u) : int((first >> 2) & 31u);
    }
    unsigned pipe_code(const wait_state& s, unsigned own_mask, bool names_pipe) const {
        if (hw_ == 4 || !s.mask) return 0;
        if (s.mask == own_mask && !names_pipe) return 0;
        return unsigned(pipe_index_of_mask(s.mask)) + 1;
    }
    unsigned expand_mask(unsigned m) const {
        if (m == 0) return hw_ == 4 ? 129u : (hw_ < 7 ? 143u : 159u);
        if ((m & 1u) && hw_ >= 5) return hw_ < 7 ? 14u : 30u;
        return m;
    }
    void emit_block_end_sync(bool emit);
    void record_sync(std::uint32_t position, std::uint32_t control, std::uint32_t function, std::uint32_t mask) {
        b_.sync_requests.push_back({position, control, function, mask});
    }
    int choose_token(const instruction_footprints& fps, const wait_state& s);
    void retire_in_order(const dependency_record& q);
    bool quen6_rule_pending(const instruction_footprints& fps);

    // The walk over the block.
    void apply_directive(std::int32_t i, const instruction_word& w, const instruction_footprints& fps);
    void walk_instruction(std::int32_t i, const instruction_word& w, const instruction_footprints& fps);
    entry classify(std::int32_t i, const instruction_word& w, const instruction_footprints& fps);
    void take_own_token(entry& e);
    void honour_token_sync(const entry& e);
    void keep_settled_entry(const entry& e);
    void schedule_marked_entry(entry& e, wait_state& s);
    void record_accesses(const entry& e);
    void advance_counters(const instruction_word& w);
    void finish_block();

    // The waits of a marked instruction.
    std::uint32_t leave_block_by_register(const entry& e, wait_state& s);
    void gather_operand_waits(const entry& e, wait_state& s);
    void add_match_waits(wait_state& s) const;
    void add_incoming_candidates(const dependency_record& q, wait_state& s);
    void expose_uncovered(const dependency_record& q, wait_state& s);
    bool architecture_register_waits(const entry& e, wait_state& s);
    void choose_own_token(entry& e, wait_state& s, std::uint32_t pending_word);
    void resolve_waits(const entry& e, const wait_state& s, std::uint32_t pending_word, bool arf_sync);

    // Their placement when the instruction is settled.
    void settle_entry(const entry& e, const wait_state& s, settlement& p, bool arf_sync);
    void move_distance_to_sync(const entry& e, const wait_state& s, settlement& p) const;
    void take_field_wait(const entry& e, settlement& p) const;
    void record_entry_syncs(const entry& e, const settlement& p, bool arf_sync);
    void note_settled_distance(const entry& e, const wait_state& s);
    void write_entry_fields(const entry& e, const settlement& p);

    // What the block exposes to its predecessors.
    void expose_settled_distances();
    void expose_block_tokens();

    int hw_;
    std::uint32_t tokens_, all_;
    std::vector<std::uint64_t>& code_;
    basic_block& b_;
    std::uint32_t phase_;
    std::uint32_t counters_[7] = {};
    std::uint32_t block_read_ = 0, block_write_ = 0;
    std::vector<pending_access> pending_;
    std::vector<dependency_record> matches_;
    std::int32_t table_[7][8];
    bool quen6_rule_ = false;
    std::uint32_t sync_word_;

    // State the walk carries from one instruction to the next.
    std::vector<dependency_record> queries_;  // the access queries of the marked instruction at hand
    std::vector<dependency_record> kept_;     // records of an open instruction group
    bool prev_grouped_ = false;
    std::int32_t group_start_ = -1;
    wait_state group_waits_;
    bool arf_follow_ = false;         // previous destination was an architecture register
    std::uint32_t carry_write_ = 0;   // write waits that a code-17 directive hands on
    bool unset17_ = false;            // a code-17 directive named an entry without a set
};

int block_pass::choose_token(const instruction_footprints& fps, const wait_state& s) {
    // 1. A token it must wait for the write of anyway.
    const std::uint32_t must = (s.write | s.candidates) & all_;
    if (must) return lowest_bit(must);
    // 2. Ages of the tokens held by live records whose producer sets a token.
    std::int64_t age[32];
    for (auto& a : age) a = 0x7FFFFFFF;
    std::uint32_t free_mask = all_;
    for (dependency_table* t : {&running(), &incoming()}) {
        for (unsigned tok = 0; tok < tokens_; ++tok) {
            // Walk the token's own list only.
            for (std::uint32_t li = t->heads[1][tok]; li != link_none && !(li & link_head_bit);
                 li = t->links[li].next[1]) {
                const dependency_record& r = t->records[t->links[li].record];
                if (!r.live() || !r.token_use() || r.token != tok) continue;
                if (!entry_sets_token(std::int64_t(r.serial))) continue;
                free_mask &= ~(1u << tok);
                const std::int64_t a = std::int64_t(counters_[6]) - (std::int64_t(r.counters[6]) + r.selector);
                age[tok] = std::min(age[tok], a);
            }
        }
    }
    // 3. Preferred tokens of the destination, source 1 and source 0 registers.
    for (int op : {0, 2, 1}) {
        const register_footprint& fp = fps.operand[op];
        if (fp.count == 0) continue;
        const int t = preferred_token(fp.first);
        if (age[t] >= 0) return t;
    }
    // 4. The highest free token; 5. else the oldest.
    if (free_mask) return highest_bit(free_mask);
    int best = 0;
    for (unsigned t = 1; t < tokens_; ++t)
        if (age[t] > age[best]) best = int(t);
    return best;
}

// Retires the live in-order records that an access query meets, walking the
// register lists of the query's registers.
void block_pass::retire_in_order(const dependency_record& q) {
    dependency_table& t = running();
    const register_footprint& fp = q.footprint;
    auto walk = [&](unsigned slot) {
        std::uint32_t li = t.heads[0][slot];
        while (li != link_none && !(li & link_head_bit)) {
            const dependency_link& link = t.links[li];
            const std::uint32_t next = link.next[0];
            const std::uint32_t ri = link.record;
            const dependency_record& x = t.records[ri];
            if (x.live() && in_order(x.pipe) && dependency_matches(x, q)) t.retire(ri);
            li = next;
        }
    };
    if (fp.flags & footprint_whole_file) {
        for (unsigned r = 0; r < 256; ++r) walk(r);
    } else {
        for (unsigned r = 0; r < fp.count && fp.first + r < 256; ++r) walk(fp.first + r);
    }
    walk(256);
}

// The Quen6 rule: an instruction that overwrites registers a send of its block
// still reads is left to phase 2, where it waits for that send's token.
bool block_pass::quen6_rule_pending(const instruction_footprints& fps) {
    if (!quen6_rule_ || !footprint_nonempty(fps.operand[0])) return false;
    std::vector<dependency_record> found;
    find_dependencies(running(), query_of(fps.operand[0], true, 0), &found, false);
    for (const dependency_record& x : found)
        if (!x.is_write() && (x.pipe & 0x300u) == 0x100u) return true;
    return false;
}

void block_pass::emit_block_end_sync(bool emit) {
    if (pending_.empty()) return;
    matches_.clear();
    for (const pending_access& p : pending_) {
        dependency_record q = query_of(*p.footprint, p.write, 0);
        q.flags = std::uint8_t(0x10 | (p.write ? record_write : 0));
        find_dependencies(running(), q, &matches_, true);
    }
    pending_.clear();
    if (!emit) return;
    wait_state s;
    std::uint32_t write_mask = 0;
    for (const dependency_record& x : matches_) {
        if (x.pipe != 0 && !(x.pipe & 0x300u)) {
            const int p = pipe_index_of_mask(x.pipe & 0xFFu);
            if (p >= 0) add_distance(s, unsigned(std::max<std::int64_t>(1, std::int64_t(counters_[p]) - x.counters[p])),
                                     x.pipe & 0xFFu);
        }
        if (x.token < 255 && (x.token_use() & 2u) && x.token < 32) write_mask |= 1u << x.token;
    }
    if (s.distance)
        record_sync(std::uint32_t(b_.end),
                    (std::min(s.distance, 7u) << 8) + (s.mask ? (unsigned(pipe_index_of_mask(s.mask)) + 1) << 12 : 0), 0,
                    0);
    if (write_mask) record_sync(std::uint32_t(b_.end), 0, 3, write_mask);
}

// ---------------------------------------------------------------------------
// The walk over the block
// ---------------------------------------------------------------------------

void block_pass::run() {
    for (std::int32_t i = b_.start; i < b_.end; ++i) {
        const instruction_word w = word_at(code_, std::size_t(i));
        const unsigned op = opcode_of(w);
        const instruction_footprints& fps = b_.footprints[std::size_t(i - b_.start)];
        if (op == 0) continue;
        if (op == 127)
            apply_directive(i, w, fps);
        else
            walk_instruction(i, w, fps);
    }
    finish_block();
}

// A directive of code 17 hands the write wait of the token that an entry
// (itself, or the one its offset names) sets on to the next instruction; one
// of code 16 adds a read of its region to the accesses that the next marked
// instruction waits for (or that the block's end waits for).
void block_pass::apply_directive(std::int32_t i, const instruction_word& w, const instruction_footprints& fps) {
    register_footprint fp;
    fp.hardware_number = hw_;
    if (!operand_dependency_region(w, fp, -1)) throw std::runtime_error("VASM internal error: invalid directive");
    const unsigned dcode = fp.first;
    if (dcode == 17) {
        const std::int64_t j = ((w[1] >> 14) & 1u) ? std::int64_t(i) + target_distance(w[3]) : i;
        const int t = entry_set_token(j);
        if (t >= 0 && unsigned(t) < tokens_)
            carry_write_ |= 1u << t;
        else
            unset17_ = true;
    } else if (dcode == 16) {
        if (footprint_nonempty(fps.operand[1])) pending_.push_back({false, &fps.operand[1]});
    }
}

// One instruction: its token, the syncs it honours, its own waits (kept
// as they are when it carries no auto-dependency mark), its accesses.
void block_pass::walk_instruction(std::int32_t i, const instruction_word& w, const instruction_footprints& fps) {
    entry e = classify(i, w, fps);
    // The waits of a group gather over all of its instructions.
    wait_state local;
    wait_state& s = e.in_group ? group_waits_ : local;
    s.write |= carry_write_;
    carry_write_ = 0;
    take_own_token(e);
    honour_token_sync(e);
    if (!marked(w))
        keep_settled_entry(e);
    else
        schedule_marked_entry(e, s);
    record_accesses(e);
    advance_counters(w);
}

// The instruction's pipe, field and place in an instruction group (a run of
// instructions that carry the group bit, dword 1 bit 0, and the one after
// them).
block_pass::entry block_pass::classify(std::int32_t i, const instruction_word& w, const instruction_footprints& fps) {
    entry e;
    e.index = i;
    e.w = w;
    e.op = opcode_of(w);
    e.fps = &fps;
    e.pc = instruction_pipe_class(hw_, w, true);
    e.own_mask = in_order_mask(e.pc);
    e.field = decode_field(hw_, w);
    e.grouped = (w[1] & 1u) != 0;
    if (prev_grouped_) {
        e.in_group = true;
    } else if (e.grouped) {
        e.in_group = true;
        group_start_ = i;
        group_waits_ = wait_state();
    } else {
        e.in_group = false;
        group_start_ = -1;
    }
    e.last_of_group = e.in_group && !e.grouped;
    prev_grouped_ = e.grouped;
    e.position = e.in_group ? group_start_ : i;
    e.after_unset17 = unset17_;
    unset17_ = false;
    return e;
}

// The token the instruction sets: the one its field names (whatever still
// holds that token is released), or, for a token user without one, a token
// that phase 1 chooses for it (255 until then).
void block_pass::take_own_token(entry& e) {
    if (e.field.set_token >= 0) {
        e.own = e.field.set_token;
        e.own_from_field = true;
        if (unsigned(e.own) < 32) {
            const std::uint32_t left = release_tokens(running(), 1u << e.own, true);
            e.had_live_holder = !(left & (1u << e.own));
            block_read_ |= 1u << e.own;
            block_write_ |= 1u << e.own;
        }
    } else {
        const unsigned op = e.op;
        const instruction_word& w = e.w;
        const bool token_user = op == 89 || op == 90 || (op == 56 && hw_ <= 6) || is_send(op) ||
                                (hw_ == 6 && (operand_type_field(w, 0) == 11 || ((w[1] >> 4) & 15u) == 11));
        if (token_user) {
            e.own = 255;
            if (phase_ == 1 && !e.grouped) e.marked_for_choice = true;
        }
    }
    e.sets_token = e.own >= 0;
}

// Existing syncs that wait for reads (function 2) or writes (3) of tokens
// release those tokens.
void block_pass::honour_token_sync(const entry& e) {
    if (e.op != 1) return;
    const unsigned fn = (e.w[2] >> 28) & 15u;
    if (fn != 2 && fn != 3) return;
    const std::uint32_t mask = ((e.w[1] >> 14) & 1u) ? (e.w[3] & all_) : all_;
    const std::uint32_t left = release_tokens(running(), mask, fn == 3);
    block_read_ |= left;
    if (fn == 3) block_write_ |= left;
}

// A settled entry: its own field stands. What it waits for, and its
// destination write, retire the records they cover; the accesses that
// directives left pending retire what they meet, and phase 1 places a sync
// at the block's end for them.
void block_pass::keep_settled_entry(const entry& e) {
    const field_info& field = e.field;
    dependency_record q;
    q.flags = std::uint8_t(record_wait | record_live);
    q.token = 255;
    for (int k = 0; k < 7; ++k) q.counters[k] = std::int32_t(counters_[k]);
    if (field.wait_token >= 0 && unsigned(field.wait_token) < 32) {
        q.token = std::uint8_t(field.wait_token);
        q.flags |= std::uint8_t(field.wait_use);
    }
    if (field.distance) {
        q.distance = std::uint8_t(field.distance);
        q.wait_pipe_mask = std::uint8_t(field.wait_mask);
    }
    if (q.token_use() || q.distance) find_dependencies(running(), q, nullptr, true);
    if (phase_ < 2 && field.set_token >= 0 && unsigned(field.set_token) < 32) {
        block_read_ |= 1u << field.set_token;
        block_write_ |= 1u << field.set_token;
    }
    if (footprint_nonempty(e.fps->operand[0]))
        find_dependencies(running(), query_of(e.fps->operand[0], true, e.pc), nullptr, true);
    if (phase_ < 2)
        emit_block_end_sync(phase_ == 1);
    else
        pending_.clear();
}

// A marked entry: its waits are gathered (the field's own, the operands',
// the architecture registers'), phase 1 chooses its token when it needs one,
// and from phase 1 on the instruction that ends a group (or stands alone)
// has its waits resolved.
void block_pass::schedule_marked_entry(entry& e, wait_state& s) {
    const std::uint32_t pending_word = leave_block_by_register(e, s);
    // The field's own waits are honoured.
    if (e.field.wait_token >= 0 && unsigned(e.field.wait_token) < tokens_) {
        if (e.field.wait_use & 2u)
            s.write |= 1u << e.field.wait_token;
        else
            s.read |= 1u << e.field.wait_token;
    }
    add_distance(s, e.field.distance, e.field.wait_mask);
    gather_operand_waits(e, s);
    const bool arf_sync = architecture_register_waits(e, s);
    const bool resolves = !e.in_group || e.last_of_group;
    if (e.marked_for_choice && resolves) choose_own_token(e, s, pending_word);
    if (phase_ >= 1 && resolves) resolve_waits(e, s, pending_word, arf_sync);
}

// The instruction's accesses join the running table for the instructions
// behind it (in phase 0 only the destination writes of token users). The
// records of an open group wait until its last instruction, whose token
// they then carry.
void block_pass::record_accesses(const entry& e) {
    const bool records = phase_ > 0 || e.sets_token;
    if (!records) return;
    for (int k = 0; k <= 3; ++k) {
        if (phase_ == 0 && k != 0) break;
        const register_footprint& fp = e.fps->operand[k];
        if (!footprint_nonempty(fp)) continue;
        dependency_record r = query_of(fp, k == 0, e.pc);
        r.serial = std::uint32_t(e.index);
        if (e.sets_token) {
            r.token = std::uint8_t(e.own);
            r.flags |= 3u;
            r.selector = expected_latency(hw_, e.w);
        }
        if (e.grouped)
            kept_.push_back(r);
        else
            insert_dependency(running(), r, true, true);
    }
    if (e.in_group && !e.grouped) {
        for (dependency_record& r : kept_) {
            const bool plain = in_order(r.pipe) && !r.token_use();
            if (!plain && e.own >= 0) {
                r.token = std::uint8_t(e.own);
                r.flags |= 3u;
            }
            insert_dependency(running(), r, true, true);
        }
        kept_.clear();
    }
}

// Advance the pipe counters.
void block_pass::advance_counters(const instruction_word& w) {
    const unsigned p = in_order_mask(instruction_pipe_class(hw_, w, false));
    if (p) ++counters_[0];
    for (int k = 1; k <= 5; ++k)
        if (p & (1u << k)) ++counters_[k];
    ++counters_[6];
}

// The block-end sync (placed in phase 2), then what the block exposes to
// its predecessors: the distances phase 1 settled and the tokens it uses.
void block_pass::finish_block() {
    emit_block_end_sync(phase_ == 2);
    if (phase_ == 1) expose_settled_distances();
    if (phase_ < 2) expose_block_tokens();
}

// ---------------------------------------------------------------------------
// The waits of a marked instruction
// ---------------------------------------------------------------------------

// Last entry of the block: a branch through a register leaves the block
// with every token written and the pipes drained. Returns the control word
// of the sync that drains them, or 0.
std::uint32_t block_pass::leave_block_by_register(const entry& e, wait_state& s) {
    const bool control_flow = e.op >= 0x20 && e.op <= 0x2F && e.op != 0x26;
    if (e.index != b_.end - 1 || !control_flow || ((e.w[1] >> 14) & 1u)) return 0;
    running().clear();
    exposed().clear();
    s.write |= all_;
    block_write_ = all_;
    return sync_word_;
}

// Dependencies of every operand, source 2 down to the destination, and of
// the accesses directives left pending: the waits they need, the incoming
// write tokens a token choice prefers, and, before phase 2, the reads the
// block exposes to its predecessors.
void block_pass::gather_operand_waits(const entry& e, wait_state& s) {
    queries_.clear();
    for (int k = 3; k >= 0; --k)
        if (footprint_nonempty(e.fps->operand[k])) pending_.push_back({k == 0, &e.fps->operand[k]});
    for (const pending_access& p : pending_) {
        const dependency_record q = query_of(*p.footprint, p.write, e.pc);
        queries_.push_back(q);
        matches_.clear();
        find_dependencies(running(), q, &matches_, false);
        add_match_waits(s);
        if (e.marked_for_choice) add_incoming_candidates(q, s);
        if (phase_ < 2) expose_uncovered(q, s);
    }
    pending_.clear();
}

// The waits for the running records an access meets (matches_): a distance
// behind an in-order producer, a read or write wait on a token.
void block_pass::add_match_waits(wait_state& s) const {
    for (const dependency_record& x : matches_) {
        if (in_order(x.pipe)) {
            const int p2 = pipe_index_of_mask(x.pipe & 0xFFu);
            add_distance(s, unsigned(std::max<std::int64_t>(1, std::int64_t(counters_[p2]) - x.counters[p2])),
                         x.pipe & 0xFFu);
        }
        if (x.token < 255 && x.token < tokens_) {
            if (x.token_use() & 1u) s.read |= 1u << x.token;
            if (x.token_use() & 2u) s.write |= 1u << x.token;
        }
    }
}

// Tokens whose writes reach the access from the predecessors: the token
// choice takes one of them first, as the instruction waits for it anyway.
void block_pass::add_incoming_candidates(const dependency_record& q, wait_state& s) {
    std::vector<dependency_record> inc;
    find_dependencies(incoming(), q, &inc, false);
    for (const dependency_record& x : inc) {
        if (!(x.token_use() & 2u)) continue;
        int t = x.token;
        if (t == 255) t = entry_set_token(std::int64_t(x.serial));
        if (t >= 0 && unsigned(t) < tokens_) s.candidates |= 1u << t;
    }
}

// What no earlier access of this block covers (matches_ holds those it
// meets) is exposed to the predecessors.
void block_pass::expose_uncovered(const dependency_record& q, wait_state& s) {
    dependency_record u = q;
    if (!(u.footprint.flags & footprint_whole_file)) {
        for (const dependency_record& x : matches_) {
            const register_footprint& xf = x.footprint;
            if ((xf.flags & footprint_architecture) != (u.footprint.flags & footprint_architecture)) continue;
            if (xf.flags & footprint_whole_file) {
                for (auto& m : u.footprint.masks) m = 0;
                break;
            }
            for (unsigned r = 0; r < u.footprint.count && r < 32; ++r) {
                const int xr = int(u.footprint.first) + int(r) - int(xf.first);
                if (xr >= 0 && xr < int(xf.count) && xr < 32) u.footprint.masks[r] &= ~xf.masks[xr];
            }
        }
    }
    if (footprint_nonempty(u.footprint) && insert_wait(exposed(), u, true, true)) s.exposed = true;
}

// Architecture registers of kinds 4, 7 and 8 are waited for in order: an
// instruction that reads one, or follows one that wrote one, waits a
// distance of 1. From phase 1 on, when it waits for tokens as well, that
// wait becomes a sync of its own (returns true) and its in-order records
// retire.
bool block_pass::architecture_register_waits(const entry& e, wait_state& s) {
    bool arf_wait = arf_follow_;
    for (int k = 0; k <= 2; ++k) {
        std::uint8_t kind = 0;
        if (!footprint_nonempty(e.fps->operand[k + 1]) && operand_arf_kind(e.w, kind, k, hw_) &&
            (kind == 4 || kind == 7 || kind == 8))
            arf_wait = true;
    }
    {
        std::uint8_t kind = 0;
        arf_follow_ = operand_arf_kind(e.w, kind, -1, hw_) && (kind == 4 || kind == 7 || kind == 8);
    }
    if (arf_wait) add_distance(s, 1, 1);
    if (!(arf_wait && phase_ >= 1 && (s.read | s.write) != 0)) return false;
    for (const dependency_record& q : queries_) retire_in_order(q);
    s.distance = 0;
    s.mask = 0;
    return true;
}

// Phase 1 chooses the token of a token user that has none, at the
// instruction that ends its group; it needs no wait for its own token.
void block_pass::choose_own_token(entry& e, wait_state& s, std::uint32_t pending_word) {
    const int t = choose_token(*e.fps, s);
    write_token_set(code_, std::size_t(e.index), hw_, unsigned(t), pending_word);
    e.own = t;
    block_read_ |= 1u << t;
    block_write_ |= 1u << t;
    s.read &= ~(1u << t);
    s.write &= ~(1u << t);
}

// 1. The wait sets of the instruction: the token waits it needs release
// their tokens and its in-order records retire. 2. It is settled now when
// nothing outside the block can add to its waits; phase 2 settles the rest.
void block_pass::resolve_waits(const entry& e, const wait_state& s, std::uint32_t pending_word, bool arf_sync) {
    std::uint32_t wset = s.write & all_;
    if (!e.in_group && e.own >= 0 && e.own < 32) wset &= ~(1u << e.own);
    const bool no_mask_plain = ((e.w[0] >> 31) & 1u) && !((e.w[0] >> 24) & 15u);
    if (e.own_from_field && e.had_live_holder && e.own < 32 && !(!e.in_group && no_mask_plain))
        wset |= 1u << e.own;
    std::uint32_t rset = (s.read & all_) & ~wset;
    release_tokens(running(), rset, false);
    release_tokens(running(), wset, true);
    for (const dependency_record& q : queries_) retire_in_order(q);

    const bool settle = phase_ == 2 || (!e.in_group && !e.grouped && !s.exposed && !e.after_unset17 &&
                                        !quen6_rule_pending(*e.fps) && (!e.sets_token || (no_mask_plain)));
    if (!settle) return;
    settlement p;
    p.wset = wset;
    p.rset = rset;
    p.pending_word = pending_word;
    settle_entry(e, s, p, arf_sync);
}

// ---------------------------------------------------------------------------
// Placing the waits of a settled instruction
// ---------------------------------------------------------------------------

// Steps 3 to 6: the field holds one token and one distance; the rest goes
// into syncs inserted before the instruction (or its group).
void block_pass::settle_entry(const entry& e, const wait_state& s, settlement& p, bool arf_sync) {
    p.move_case = e.op == 97 && (((e.w[1] >> 7) & 1u) != ((e.w[1] >> 11) & 1u));
    p.type_b = hw_ >= 7 && ((e.w[1] >> 4) & 15u) == 0xB;
    p.names_pipe = (hw_ != 4) && (p.move_case || p.type_b);
    p.distance = s.distance;
    p.dmask = s.mask;
    move_distance_to_sync(e, s, p);
    take_field_wait(e, p);
    record_entry_syncs(e, p, arf_sync);
    if (phase_ == 1 && s.distance) note_settled_distance(e, s);
    write_entry_fields(e, p);
}

// 3. A distance next to a token moves into a sync; a send keeps it in its
// field, on a pipe the field can name.
void block_pass::move_distance_to_sync(const entry& e, const wait_state& s, settlement& p) const {
    const bool token_in_field = e.own >= 0 || e.field.wait_token >= 0;
    if (!token_in_field || !p.distance) return;
    if (!is_send(e.op)) {
        p.pending_word = (std::min(p.distance, 7u) << 8) + (pipe_code(s, e.own_mask, p.names_pipe) << 12);
        p.distance = 0;
        p.dmask = 0;
    } else if (!(hw_ >= 7 && (p.dmask == 2 || p.dmask == 4))) {
        p.dmask = 1;
    }
}

// 4. One token wait can move into the field: a write wait first, else a
// read wait, when the field's distance allows it.
void block_pass::take_field_wait(const entry& e, settlement& p) const {
    const bool may_hold_wait = !(e.own_mask == 0 && e.own >= 0);
    const bool same_pipe = p.dmask == e.own_mask && !p.move_case && !p.type_b;
    const bool compatible = p.distance == 0 || same_pipe || (hw_ >= 7 && p.dmask == 1);
    if (!may_hold_wait) return;
    if (p.wset && compatible) {
        const int t = highest_bit(p.wset);
        p.field_control = 0x80u + unsigned(t);
        p.wset &= ~(1u << t);
    } else if (p.rset && (p.distance == 0 || (hw_ >= 7 && compatible))) {
        const int t = highest_bit(p.rset);
        p.field_control = 0x40u + unsigned(t);
        p.rset &= ~(1u << t);
    }
}

// 5. Syncs for what is left: the architecture-register wait, then the read
// and write token waits, a single token in the sync's own field, several
// by mask.
void block_pass::record_entry_syncs(const entry& e, const settlement& p, bool arf_sync) {
    const std::uint32_t pos = std::uint32_t(e.position);
    const std::uint32_t rset = p.rset, wset = p.wset;
    if (arf_sync) record_sync(std::uint32_t(e.index), sync_word_, 0, 0);
    if (p.pending_word) {
        if (rset) record_sync(pos, p.pending_word, 2, rset);
        if (wset) record_sync(pos, rset ? 0 : p.pending_word, 3, wset);
        if (!rset && !wset) record_sync(pos, p.pending_word, 0, 0);
    } else if (popcount(rset) == 1) {
        const std::uint32_t word = 0x40u + unsigned(lowest_bit(rset));
        if (wset)
            record_sync(pos, word, 3, wset);
        else
            record_sync(pos, word, 0, 0);
    } else if (popcount(wset) == 1) {
        const std::uint32_t word = 0x80u + unsigned(lowest_bit(wset));
        if (rset)
            record_sync(pos, word, 2, rset);
        else
            record_sync(pos, word, 0, 0);
    } else {
        if (rset) record_sync(pos, 0, 2, rset);
        if (wset) record_sync(pos, 0, 3, wset);
    }
}

// Distances that phase 1 settled are exposed as waits at the block's end:
// table_[p][k] keeps, for each waited pipe p and own pipe k, the latest
// counter of pipe p that an instruction of pipe k waited for.
void block_pass::note_settled_distance(const entry& e, const wait_state& s) {
    const unsigned o = expand_mask(e.own_mask);
    const unsigned m = expand_mask(s.mask);
    for (int p = 0; p < 7; ++p) {
        if (!(m & (1u << p))) continue;
        for (int k = 0; k < 8; ++k) {
            if (!(o & (1u << k))) continue;
            const std::int32_t v = std::int32_t(counters_[p]) - std::int32_t(s.distance);
            if (table_[p][k] == std::int32_t(no_value) || v > table_[p][k]) table_[p][k] = v;
        }
    }
}

// 6. The field: the token set (or the token wait) and the distance. In a
// group the first instruction holds the wait and the distance, the last the
// set, and the ones between lose their marks.
void block_pass::write_entry_fields(const entry& e, const settlement& p) {
    std::uint32_t dist_part = 0;
    if (p.distance)
        dist_part = (std::min(p.distance, 7u) << 8) +
                    (pipe_code(wait_state{0, 0, p.distance, p.dmask, 0, false}, e.own_mask, p.names_pipe) << 12);
    const std::uint32_t set_part = e.own >= 0 && e.own < 32 ? 0xC0u + unsigned(e.own) : 0u;
    if (!e.in_group) {
        write_field(code_, std::size_t(e.index), hw_, (set_part ? set_part : p.field_control) | dist_part);
        return;
    }
    const std::size_t first = std::size_t(group_start_);
    const int first_set = decode_field(hw_, word_at(code_, first)).set_token;
    const std::uint32_t first_part = first_set >= 0 ? 0xC0u + unsigned(first_set) : p.field_control;
    write_field(code_, first, hw_, first_part | dist_part);
    for (std::int32_t g = group_start_ + 1; g < e.index; ++g)
        store_dword(code_, std::size_t(g), 0, word_at(code_, std::size_t(g))[0] & ~0x80u);
    write_field(code_, std::size_t(e.index), hw_, set_part);
}

// ---------------------------------------------------------------------------
// What the block exposes to its predecessors
// ---------------------------------------------------------------------------

// The distances that phase 1 settled, as in-order waits.
void block_pass::expose_settled_distances() {
    for (int p = 0; p < 7; ++p) {
        for (int k = 0; k < 8; ++k) {
            if (table_[p][k] == std::int32_t(no_value)) continue;
            dependency_record r;
            r.pipe = pipe_class(1u << k);
            r.counters[p] = table_[p][k] + 1;
            r.token = 0;
            r.flags = std::uint8_t(record_wait | record_live);
            r.wait_pipe_mask = std::uint8_t(1u << p);
            r.distance = 1;
            insert_wait(exposed(), r, true, true);
        }
    }
}

// The tokens the block reads or writes, one wait each, and one for all of
// them when it reads or writes every token.
void block_pass::expose_block_tokens() {
    const std::uint32_t either = (block_read_ | block_write_) & all_;
    for (unsigned t = 0; t < tokens_; ++t) {
        if (!(either & (1u << t))) continue;
        dependency_record r;
        r.token = std::uint8_t(t);
        r.flags = std::uint8_t(record_wait | record_live | ((block_read_ >> t) & 1u) | (((block_write_ >> t) & 1u) << 1));
        insert_wait(exposed(), r, true, true);
    }
    if ((block_read_ & all_) == all_ || (block_write_ & all_) == all_) {
        dependency_record r;
        r.token = 255;
        r.flags = std::uint8_t(record_wait | record_live | ((block_read_ & all_) == all_ ? 1u : 0u) |
                               ((block_write_ & all_) == all_ ? 2u : 0u));
        insert_wait(exposed(), r, true, true);
    }
}

}  // namespace

unsigned control_flow_flags(const instruction_word& w) {
    const unsigned op = opcode_of(w);
    if (end_of_thread_send(w)) return 0;
    if (!is_branch_class(op) || op == 38) return 1;
    const bool immediate = (w[1] >> 14) & 1u;
    if ((0xB8A300000000ull >> op) & 1u) {
        unsigned f = immediate ? 3u : 8u;
        if ((w[0] & 0x8F00002Fu) == 0x80000020u) f &= 10u;
        return f;
    }
    return immediate ? 7u : 8u;
}

void analyze_dependencies(std::uint32_t hardware_number, std::uint32_t token_count, finalisation_context& context,
                          basic_block& block, std::uint32_t phase) {
    block_pass pass(hardware_number, token_count, context, block, phase);
    pass.run();
}

std::uint32_t scoreboard_token_count(const code_generator& gen) {
    switch (gen.hardware_number()) {
        case 7:
        case 9: return 32;
        case 8: return gen.declared_register_count >= 256 ? 32 : 16;
        default: return 16;
    }
}

// ---------------------------------------------------------------------------
// Finalisation: blocks, the analysis and the final code
// ---------------------------------------------------------------------------

namespace {

// The dependency field value F of an inserted instruction, from its control word.
std::uint32_t inserted_field(int hw, std::uint32_t w) {
    const bool distance = (w & 0xF00u) != 0;
    const unsigned mode = (w >> 6) & 3u;
    if (hw < 7) {
        static const unsigned p[8] = {0, 1, 2, 3, 10, 0, 0, 0};
        if (distance && mode) return 0x80u | ((w >> 4) & 0x70u) | (w & 0x0Fu);
        if (distance) return ((w >> 8) & 7u) | ((p[(w >> 12) & 7u] << 3) & 0x78u);
        if (mode == 2) return 0x20u | (w & 0x0Fu);
        if (mode == 1) return 0x30u | (w & 0x0Fu);
        if (mode == 3) return 0x40u | (w & 0x0Fu);
        return 0;
    }
    if (!distance) {
        if (mode == 2) return 0x80u | (w & 0x1Fu);
        if (mode == 1) return 0xA0u | (w & 0x1Fu);
        if (mode == 3) return 0xC0u | (w & 0x1Fu);
        return (w & 0x20u) ? 0xF0u : 0u;
    }
    if (mode == 1 || mode == 2) return ((w >> 3) & 0xE0u) | (w & 0x1Fu) | ((w & 0x40u) ? 0x200u : 0u);
    if (mode == 3) {
        const unsigned p = (w >> 12) & 0xFu;
        return ((w >> 3) & 0xE0u) | (w & 0x1Fu) | (p == 2 ? 0x200u : (p == 3 ? 0x300u : 0x100u));
    }
    return ((w >> 9) & 0x78u) | ((w >> 8) & 7u);
}

void append_word(std::vector<std::uint8_t>& out, std::uint32_t d0, std::uint32_t d1, std::uint32_t d2,
                 std::uint32_t d3) {
    for (std::uint32_t v : {d0, d1, d2, d3})
        for (int k = 0; k < 4; ++k) out.push_back(std::uint8_t(v >> (8 * k)));
}


// The code being finalised: two words per instruction.
struct program_view {
    std::vector<std::uint64_t>& code;
    int hw;
    std::size_t n;  // instructions
};

// Block starts, each with the index of its block (-1 until the blocks are made).
using leader_map = std::map<std::int64_t, std::int32_t>;

// Whether any instruction carries the auto-dependency mark.
bool any_marked(const program_view& p) {
    bool found = false;
    for (std::size_t i = 0; i < p.n && !found; ++i) found = marked(word_at(p.code, i));
    return found;
}

// The code's bytes as they stand.
std::vector<std::uint8_t> code_bytes(const std::vector<std::uint64_t>& code) {
    std::vector<std::uint8_t> out(code.size() * 8);
    for (std::size_t k = 0; k < code.size(); ++k)
        for (int b = 0; b < 8; ++b) out[8 * k + std::size_t(b)] = std::uint8_t(code[k] >> (8 * b));
    return out;
}

// 4. Leaders: the first instruction, the one after every instruction that
// does not simply fall through, and every branch target.
leader_map find_leaders(const program_view& p) {
    leader_map leaders;
    leaders[0] = -1;
    for (std::size_t i = 0; i < p.n; ++i) {
        const instruction_word w = word_at(p.code, i);
        const unsigned f = control_flow_flags(w);
        if (f == 1) continue;
        leaders[std::int64_t(i) + 1] = -1;
        if (f & 2u) leaders[std::int64_t(i) + target_distance(w[3])] = -1;
        if (f & 4u) leaders[std::int64_t(i) + target_distance(w[2])] = -1;
    }
    return leaders;
}

// 5. Blocks: one per leader inside the program, sized once so that block
// pointers stay valid; each runs to the next one's start.
std::vector<basic_block> make_blocks(leader_map& leaders, std::size_t n) {
    std::size_t count = 0;
    for (const auto& l : leaders)
        if (l.first >= 0 && std::size_t(l.first) < n) ++count;
    std::vector<basic_block> blocks(count);
    std::int32_t b = 0;
    for (auto& l : leaders) {
        if (l.first < 0 || std::size_t(l.first) >= n) continue;
        l.second = b;
        blocks[std::size_t(b)].index = b;
        blocks[std::size_t(b)].start = std::int32_t(l.first);
        ++b;
    }
    for (std::size_t k = 0; k < count; ++k) blocks[k].end = k + 1 < count ? blocks[k + 1].start : std::int32_t(n);
    return blocks;
}

// The block that starts at pos; null for a position inside a block or
// outside the program.
basic_block* block_at(const leader_map& leaders, std::vector<basic_block>& blocks, std::size_t n, std::int64_t pos) {
    if (pos < 0 || std::size_t(pos) >= n) return nullptr;
    auto it = leaders.find(pos);
    if (it == leaders.end() || it->second < 0) return nullptr;
    return &blocks[std::size_t(it->second)];
}

// The block's directives and its instructions per in-order pipe (index 0:
// any in-order pipe, 6: every instruction).
void count_block_pipes(const program_view& p, basic_block& blk) {
    blk.directive_count = 0;
    for (auto& c : blk.pipe_counts) c = 0;
    for (std::int32_t i = blk.start; i < blk.end; ++i) {
        const instruction_word w = word_at(p.code, std::size_t(i));
        const unsigned op = opcode_of(w);
        if (op == 127) ++blk.directive_count;
        unsigned pipes = 0;
        if (!is_branch_class(op) && op != 96 && op != 0 && op != 1 && op != 127)
            pipes = in_order_mask(instruction_pipe_class(p.hw, w, false));
        if (pipes) ++blk.pipe_counts[0];
        for (int k = 1; k <= 5; ++k)
            if (pipes & (1u << k)) ++blk.pipe_counts[k];
        ++blk.pipe_counts[6];
    }
}

// The blocks the last instruction leads to (fall-through, first and second
// target), with this block as their predecessor; none after an
// end-of-thread send.
void link_successors(const program_view& p, const leader_map& leaders, std::vector<basic_block>& blocks,
                     basic_block& blk) {
    const std::int64_t last = blk.end - 1;
    const instruction_word lw = word_at(p.code, std::size_t(last));
    const unsigned f = control_flow_flags(lw);
    if (end_of_thread_send(lw)) return;
    basic_block* succ[3] = {nullptr, nullptr, nullptr};
    if ((f & 1u) && std::size_t(blk.end) < p.n) succ[0] = block_at(leaders, blocks, p.n, blk.end);
    if (f & 2u) succ[1] = block_at(leaders, blocks, p.n, last + target_distance(lw[3]));
    if (f & 4u) succ[2] = block_at(leaders, blocks, p.n, last + target_distance(lw[2]));
    for (basic_block* sb : succ)
        if (sb) blk.successors.push_back(sb);
    for (basic_block* sb : blk.successors) sb->predecessors.push_back(&blk);
}

// The register footprints of a block's operands, with its directives
// applied: codes 0-3 clear operand 0-3 (destination, sources) of the next
// instruction, code 8 gives it the directive's region as destination, code
// 16 keeps its region in the directive's own source slot for the analysis
// (block_pass::apply_directive), code 32 clears the program's option flag.
struct footprint_walk {
    const program_view& p;
    std::uint8_t& program_flag;
    register_footprint pending_dst;
    bool ignore[4] = {false, false, false, false};

    footprint_walk(const program_view& program, std::uint8_t& flag) : p(program), program_flag(flag) {
        make_empty(pending_dst);
    }
    void instruction(const instruction_word& w, instruction_footprints& fps) {
        for (int k = 0; k < 4; ++k) {
            register_footprint& fp = fps.operand[k];
            fp.hardware_number = p.hw;
            const bool ok = operand_dependency_region(w, fp, k - 1);
            if (ignore[k] || !ok) make_empty(fp);
        }
        if (footprint_nonempty(pending_dst)) {
            fps.operand[0] = pending_dst;
            make_empty(pending_dst);
        }
        for (bool& sw : ignore) sw = false;
    }
    void directive(const instruction_word& w, instruction_footprints& fps) {
        register_footprint scratch;
        scratch.hardware_number = p.hw;
        if (!operand_dependency_region(w, scratch, -1)) throw std::runtime_error("VASM internal error: invalid directive");
        switch (scratch.first) {
            case 0:
            case 1:
            case 2:
            case 3: ignore[scratch.first] = true; break;
            case 8: {
                if (footprint_nonempty(pending_dst)) throw invalid_directive_exception();
                pending_dst.hardware_number = p.hw;
                operand_dependency_region(w, pending_dst, 0);
                break;
            }
            case 16: {
                register_footprint& fp = fps.operand[1];
                fp.hardware_number = p.hw;
                operand_dependency_region(w, fp, 0);
                break;
            }
            case 32: program_flag = 0; break;
            default: break;
        }
    }
    void run(basic_block& blk) {
        for (std::int32_t i = blk.start; i < blk.end; ++i) {
            const instruction_word w = word_at(p.code, std::size_t(i));
            instruction_footprints& fps = blk.footprints[std::size_t(i - blk.start)];
            if (opcode_of(w) != 127)
                instruction(w, fps);
            else
                directive(w, fps);
        }
    }
};

// 6-7. Block contents: pipe counts, successors and predecessors, room in
// the tables, footprints; then the program's option flag in every block.
void describe_blocks(const program_view& p, const leader_map& leaders, std::vector<basic_block>& blocks) {
    std::uint8_t program_flag = 1;
    for (basic_block& blk : blocks) {
        count_block_pipes(p, blk);
        link_successors(p, leaders, blocks, blk);
        const std::size_t size = std::size_t(blk.end - blk.start);
        blk.tables[0].reserve(size);
        blk.tables[1].reserve(size);
        blk.footprints.resize(size);
        footprint_walk(p, program_flag).run(blk);
    }
    for (basic_block& blk : blocks) blk.option_flag = program_flag;
}

// 8. The three phases, with a propagation of the running tables between
// them: phase 0's token writes flow into the successors' incoming tables
// for phase 1, whose running tables then flow again and become the
// incoming records that phase 2 starts from.
void analyse_blocks(const program_view& p, std::uint32_t tokens, std::vector<basic_block>& blocks) {
    const std::uint32_t hw = std::uint32_t(p.hw);
    finalisation_context ctx{&p.code, &blocks};
    for (basic_block& blk : blocks) analyze_dependencies(hw, tokens, ctx, blk, 0);
    propagate_block_dependencies(blocks);
    for (basic_block& blk : blocks) {
        blk.tables[0].clear();
        blk.tables[1].clear();
    }
    for (basic_block& blk : blocks) {
        analyze_dependencies(hw, tokens, ctx, blk, 1);
        blk.tables[2].clear();
    }
    propagate_block_dependencies(blocks);
    for (basic_block& blk : blocks) {
        std::swap(blk.tables[2], blk.tables[0]);
        blk.tables[2].clear();
    }
    for (basic_block& blk : blocks) analyze_dependencies(hw, tokens, ctx, blk, 2);
}

// Requests at a block's end go before its last instruction when that
// instruction leaves the block by a branch, so that they hold on every
// path out of the block and the branch's distance stays exact; requests
// at a directive's position go before the next instruction.
void move_block_end_requests(const program_view& p, std::vector<basic_block>& blocks) {
    for (basic_block& blk : blocks) {
        const instruction_word lw = word_at(p.code, std::size_t(blk.end - 1));
        if (!is_branch_class(opcode_of(lw))) continue;
        for (sync_request& r : blk.sync_requests)
            if (r.position == std::uint32_t(blk.end)) r.position = std::uint32_t(blk.end - 1);
        for (move_request& r : blk.move_requests)
            if (r.position == std::uint32_t(blk.end)) r.position = std::uint32_t(blk.end - 1);
    }
}

// What the final code adds before a block: its inserted instructions less
// its directives, which are dropped.
std::int64_t block_growth(const basic_block& blk) {
    return std::int64_t(blk.sync_requests.size() + blk.move_requests.size()) - blk.directive_count;
}

// 9. Position shifts at block starts and at the program's end: how far the
// final code moves an instruction of the block that starts there.
using shift_map = std::map<std::int64_t, std::int64_t>;
shift_map position_shifts(const std::vector<basic_block>& blocks, std::size_t n) {
    shift_map shift;
    std::int64_t s = 0;
    for (const basic_block& blk : blocks) {
        shift[blk.start] = s;
        s += block_growth(blk);
    }
    shift[std::int64_t(n)] = s;
    return shift;
}

std::int64_t shift_at(const shift_map& shift, std::int64_t pos) {
    auto it = shift.upper_bound(pos);
    if (it == shift.begin()) return 0;
    return std::prev(it)->second;
}

// 10. Re-targeting: every request of the block now stands before its
// branch, so a branch moves by its whole block's growth and its target by
// the shift of the target's block.
void retarget_branches(const program_view& p, const std::vector<basic_block>& blocks, const shift_map& shift) {
    std::int64_t t = 0;
    for (const basic_block& blk : blocks) {
        t += block_growth(blk);
        const std::size_t last = std::size_t(blk.end - 1);
        const instruction_word lw = word_at(p.code, last);
        if (!is_branch_class(opcode_of(lw))) continue;
        const unsigned f = control_flow_flags(lw);
        const std::int64_t t1 = std::int64_t(last) + target_distance(lw[3]);
        const std::int64_t t2 = std::int64_t(last) + target_distance(lw[2]);
        if (f & 2u)
            store_dword(p.code, last, 3, std::uint32_t(std::int64_t(std::int32_t(lw[3])) + 16 * (shift_at(shift, t1) - t)));
        if (f & 4u)
            store_dword(p.code, last, 2, std::uint32_t(std::int64_t(std::int32_t(lw[2])) + 16 * (shift_at(shift, t2) - t)));
    }
}

// 11. Emission: every instruction but the directives, each preceded by the
// syncs and then the moves requested at or before its position.
std::vector<std::uint8_t> emit_final_code(const program_view& p, const std::vector<basic_block>& blocks) {
    std::multimap<std::uint32_t, sync_request> syncs;
    std::multimap<std::uint32_t, move_request> moves;
    std::size_t requests = 0;
    for (const basic_block& blk : blocks) {
        for (const sync_request& r : blk.sync_requests) syncs.emplace(r.position, r);
        for (const move_request& r : blk.move_requests) moves.emplace(r.position, r);
        requests += blk.sync_requests.size() + blk.move_requests.size();
    }
    std::vector<std::uint8_t> out;
    out.reserve(16 * requests + p.code.size() * 8);
    const int hw = p.hw;
    const std::uint32_t mask0_sync = hw >= 7 ? 0x8000FF01u : 0xFFFFFFFFu;
    const std::uint32_t mask0_move = hw >= 7 ? 0x8000FF61u : 0xFFFFFFFFu;
    auto si = syncs.begin();
    auto mi = moves.begin();
    auto flush = [&](std::uint64_t up_to) {
        for (; si != syncs.end() && si->first <= up_to; ++si) {
            const sync_request& r = si->second;
            const std::uint32_t f = inserted_field(hw, r.control & 0xFFFFu);
            append_word(out, (0x80000001u | (f << 8)) & mask0_sync, r.mask ? 0x14200u : 0x10000u,
                        (r.function & 0xFu) << 28, r.mask);
        }
        for (; mi != moves.end() && mi->first <= up_to; ++mi) {
            const move_request& r = mi->second;
            const std::uint32_t f = inserted_field(hw, r.control & 0xFFFFu);
            append_word(out, (0x80000061u | (f << 8)) & mask0_move, r.form ? 0x14220u : 0x10220u,
                        r.form ? 0u : ((std::uint32_t(r.reg) << 8) & 0xFFFFu) + 4u, 0);
        }
    };
    for (std::size_t i = 0; i < p.n; ++i) {
        const instruction_word w = word_at(p.code, i);
        if (opcode_of(w) == 127) continue;
        flush(i);
        append_word(out, w[0], w[1], w[2], w[3]);
    }
    // Requests behind the last instruction (the last block's end) still go out.
    flush(~std::uint64_t(0));
    return out;
}

}  // namespace

std::vector<std::uint8_t> finalize_scoreboarded(code_generator& gen) {
    // 1-2. Open streams and label fix-ups.
    resolve_fixups(gen);
    const program_view p{gen.root.code, gen.hardware_number(), gen.root.code.size() / 2};
    // 3. Nothing to schedule.
    if (p.n == 0 || !any_marked(p)) return code_bytes(p.code);
    // 4-7. Blocks and their contents.
    leader_map leaders = find_leaders(p);
    std::vector<basic_block> blocks = make_blocks(leaders, p.n);
    describe_blocks(p, leaders, blocks);
    // 8. The analysis; its requests at a branch's block end move before the branch.
    analyse_blocks(p, scoreboard_token_count(gen), blocks);
    move_block_end_requests(p, blocks);
    // 9-10. Branches re-targeted over the inserted and dropped instructions.
    retarget_branches(p, blocks, position_shifts(blocks, p.n));
    // 11. The final code.
    return emit_final_code(p, blocks);
}

std::vector<std::uint8_t> finalize_program(code_generator& gen) {
    const int hw = gen.hardware_number();
    if (hw == 1 || hw == 3) return q1::finalize_program(gen);
    return finalize_scoreboarded(gen);
}

}  // namespace vasm
}  // namespace ovx
}  // namespace korami
