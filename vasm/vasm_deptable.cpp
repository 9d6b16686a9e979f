// Dependency tables of the software scoreboard: records of pending accesses
// and waits, indexed per register, per token and per pipe, their covering
// rules, lookups, token release and the propagation between blocks.
#include "vasm/vasm.hpp"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace korami {
namespace ovx {
namespace vasm {

namespace {

constexpr int list_register = 0, list_token = 1, list_pipe = 2;
constexpr std::uint32_t whole_file_slot = 256;

int in_order_pipe_index(pipe_class p) { return in_order(p) ? pipe_index_of_mask(p & 0xFFu) : -1; }

bool all_masks_zero(const register_footprint& f) {
    for (unsigned i = 0; i < f.count && i < 32; ++i)
        if (f.masks[i]) return false;
    return true;
}

// Not whole-file, and no register or no byte left.
bool footprint_exhausted(const register_footprint& f) {
    return !f.whole_file() && (f.count == 0 || all_masks_zero(f));
}

void make_empty(register_footprint& f) {
    f.first = 0;
    f.count = 0;
    f.flags = 0;
    std::memset(f.masks, 0, sizeof f.masks);
}

bool same_file(const register_footprint& a, const register_footprint& b) {
    return a.architecture() == b.architecture();
}

// a's masks lose every bit set in b's mask of the same register.
void subtract_masks(register_footprint& a, const register_footprint& b) {
    for (unsigned i = 0; i < a.count && i < 32; ++i) {
        const int reg = a.first + static_cast<int>(i);
        const int j = reg - b.first;
        if (j >= 0 && j < b.count && j < 32) a.masks[i] &= ~b.masks[j];
    }
}

bool masks_intersect(const register_footprint& a, const register_footprint& b) {
    for (unsigned i = 0; i < a.count && i < 32; ++i) {
        const int j = a.first + static_cast<int>(i) - b.first;
        if (j >= 0 && j < b.count && j < 32 && (a.masks[i] & b.masks[j])) return true;
    }
    return false;
}

// The token rule shared by both insertions: `cover` may stand for `covered`.
bool token_rule(const dependency_record& cover, const dependency_record& covered, bool serials) {
    if (!covered.token_use()) return true;
    if (!cover.token_use()) return false;
    if ((covered.token_use() & 2u) && !(cover.token_use() & 2u)) return false;
    if (cover.token != covered.token) return false;
    if (serials && covered.token == 255 && cover.serial != covered.serial) return false;
    return true;
}

// Whether x covers r in a wait table.
bool wait_covers(const dependency_record& x, const dependency_record& r) {
    if (!r.is_write() && x.is_write()) return false;
    if (r.pipe != x.pipe || r.wait_pipe_mask != x.wait_pipe_mask) return false;
    if (!token_rule(x, r, false)) return false;
    if (in_order(x.pipe)) {
        const int p = in_order_pipe_index(x.pipe);
        if (r.counters[0] < x.counters[0]) return false;
        if ((r.distance == 0) != (x.distance == 0)) return false;
        if (r.distance != 0 &&
            int(x.distance) - int(r.distance) + (r.counters[p] - x.counters[p]) < 0)
            return false;
        if (!x.is_write() && r.is_write()) return false;
    }
    return true;
}

// Whether x covers r in an access table.
bool access_covers(const dependency_record& x, const dependency_record& r) {
    if (r.is_write() && !x.is_write()) return false;
    if (r.pipe != x.pipe) return false;
    if (!token_rule(x, r, true)) return false;
    if (in_order(x.pipe)) {
        const int p = in_order_pipe_index(x.pipe);
        if (x.counters[0] < r.counters[0] || x.counters[p] < r.counters[p]) return false;
    }
    return true;
}

void push_front(dependency_table& t, std::uint32_t link, int kind, std::uint32_t slot) {
    dependency_link& l = t.links[link];
    const std::uint32_t old = t.heads[kind][slot];
    l.previous[kind] = slot | link_head_bit;
    l.next[kind] = old;
    if (old != link_none) t.links[old].previous[kind] = link;
    t.heads[kind][slot] = link;
}

void unlink(dependency_table& t, std::uint32_t link, int kind) {
    dependency_link& l = t.links[link];
    const std::uint32_t prev = l.previous[kind], next = l.next[kind];
    if (prev == link_none) return;  // not in this list
    if (prev & link_head_bit)
        t.heads[kind][prev & ~link_head_bit] = next;
    else
        t.links[prev].next[kind] = next;
    if (next != link_none) t.links[next].previous[kind] = prev;
}

// Retires the record owning a link: clears its live flag and unlinks every
// link of it from every list. The links keep their own pointers, so a walk
// standing on one of them can go on.
void retire_from_link(dependency_table& t, std::uint32_t link) {
    const dependency_link& l = t.links[link];
    dependency_record& rec = t.records[l.record];
    if (!rec.live()) return;
    rec.flags &= static_cast<std::uint8_t>(~record_live);
    const std::uint32_t first = link - l.position;
    const std::uint32_t n = l.position + l.remaining + 1u;
    for (std::uint32_t k = first; k < first + n; ++k)
        for (int kind = 0; kind < 3; ++kind) unlink(t, k, kind);
}

enum class reconcile_result { go_on, covered };

reconcile_result reconcile_list(dependency_table& t, dependency_record& r, int kind, std::uint32_t slot,
                                bool existing_may_cover, bool new_may_cover, bool wait) {
    auto covers = wait ? wait_covers : access_covers;
    std::uint32_t link = t.heads[kind][slot];
    while (link != link_none) {
        const std::uint32_t xi = t.links[link].record;
        dependency_record& x = t.records[xi];
        if (x.live()) {
            if (existing_may_cover && covers(x, r)) {
                const bool xw = x.footprint.whole_file(), rw = r.footprint.whole_file();
                if (xw && rw) return reconcile_result::covered;
                if (xw && !rw && same_file(x.footprint, r.footprint)) {
                    const int hw = r.footprint.hardware_number;
                    make_empty(r.footprint);
                    r.footprint.hardware_number = hw;
                    return reconcile_result::covered;
                }
                if (!xw && !rw && same_file(x.footprint, r.footprint)) subtract_masks(r.footprint, x.footprint);
                if (footprint_exhausted(r.footprint)) return reconcile_result::covered;
            }
            if (new_may_cover && x.live() && covers(r, x)) {
                const bool xw = x.footprint.whole_file(), rw = r.footprint.whole_file();
                if (same_file(x.footprint, r.footprint) && !xw) {
                    if (rw) {
                        const int hw = x.footprint.hardware_number;
                        make_empty(x.footprint);
                        x.footprint.hardware_number = hw;
                    } else {
                        subtract_masks(x.footprint, r.footprint);
                    }
                }
                if ((!xw && footprint_exhausted(x.footprint)) || (xw && rw)) retire_from_link(t, link);
            }
        }
        // A retired link keeps its own pointers, so the walk goes on from it.
        link = t.links[link].next[kind];
    }
    return reconcile_result::go_on;
}

bool insert_record(dependency_table& t, const dependency_record& record, bool existing_may_cover,
                   bool new_may_cover, bool wait) {
    dependency_record r = record;
    const int pipe_idx = wait ? pipe_index_of_mask(r.wait_pipe_mask) : in_order_pipe_index(r.pipe);
    const bool whole = r.footprint.whole_file();
    const bool token_list = r.token_use() && (wait || r.token < 255 || whole);
    if (token_list) {
        if (reconcile_list(t, r, list_token, r.token, existing_may_cover, new_may_cover, wait) ==
            reconcile_result::covered)
            return false;
    } else if (whole) {
        if (pipe_idx >= 0 &&
            reconcile_list(t, r, list_pipe, static_cast<std::uint32_t>(pipe_idx), existing_may_cover, new_may_cover,
                           wait) == reconcile_result::covered)
            return false;
    } else {
        const unsigned first = r.footprint.first, count = r.footprint.count;
        for (unsigned i = 0; i < count; ++i) {
            if (first + i > 255) break;
            if (reconcile_list(t, r, list_register, first + i, existing_may_cover, new_may_cover, wait) ==
                reconcile_result::covered)
                return false;
        }
    }
    // Reserve first so that a failed allocation leaves the table unchanged.
    const unsigned n = (whole || r.footprint.count == 0) ? 1u : r.footprint.count;
    t.records.reserve(t.records.size() + 1);
    t.links.reserve(t.links.size() + n);
    r.flags |= record_live;
    const std::uint32_t index = static_cast<std::uint32_t>(t.records.size());
    t.records.push_back(r);
    const std::uint32_t base = static_cast<std::uint32_t>(t.links.size());
    for (unsigned k = 0; k < n; ++k) {
        dependency_link l{};
        l.record = index;
        l.position = static_cast<std::uint8_t>(k);
        l.remaining = static_cast<std::uint8_t>(n - 1 - k);
        for (int kind = 0; kind < 3; ++kind) l.previous[kind] = l.next[kind] = link_none;
        t.links.push_back(l);
    }
    if (whole)
        push_front(t, base, list_register, whole_file_slot);
    else if (r.footprint.count != 0)
        for (unsigned k = 0; k < n; ++k)
            if (r.footprint.first + k <= 255) push_front(t, base + k, list_register, r.footprint.first + k);
    if (r.token_use()) push_front(t, base, list_token, r.token);
    if (pipe_idx >= 0) push_front(t, base, list_pipe, static_cast<std::uint32_t>(pipe_idx));
    return true;
}

bool too_old(const dependency_record& x, const dependency_record& a) {
    if (!in_order(x.pipe)) return false;
    const int p = in_order_pipe_index(x.pipe);
    const int depth = retirement_depth(x.pipe & 0xFFu);
    return depth > 0 && a.counters[p] - x.counters[p] >= depth;
}

// Visits the lists a lookup walks, calling f(link, kind) for every link.
template <class F>
void walk_query_lists(dependency_table& t, const dependency_record& a, F&& f) {
    auto walk = [&](int kind, std::uint32_t slot) {
        std::uint32_t link = t.heads[kind][slot];
        while (link != link_none) {
            f(link);
            link = t.links[link].next[kind];
        }
    };
    if (a.is_wait()) {
        if (a.token_use() && a.token < 255) walk(list_token, a.token);
        if (a.wait_pipe_mask & 1u) {
            for (std::uint32_t p = 0; p < 7; ++p) walk(list_pipe, p);
        } else if (a.wait_pipe_mask != 0) {
            const int p = pipe_index_of_mask(a.wait_pipe_mask);
            if (p >= 0 && p <= 6) walk(list_pipe, static_cast<std::uint32_t>(p));
            walk(list_pipe, 0);
        }
        return;
    }
    const register_footprint& f_ = a.footprint;
    if (f_.whole_file()) {
        for (std::uint32_t r = 0; r < 256; ++r) walk(list_register, r);
    } else {
        for (unsigned i = 0; i < f_.count; ++i)
            if (f_.first + i <= 255) walk(list_register, f_.first + i);
    }
    walk(list_register, whole_file_slot);
}

}  // namespace

dependency_table::dependency_table() { std::memset(heads, 0xFF, sizeof heads); }

void dependency_table::clear() {
    records.clear();
    links.clear();
    std::memset(heads, 0xFF, sizeof heads);
}

void dependency_table::reserve(std::size_t instructions) {
    records.reserve(4 * instructions);
    links.reserve(16 * instructions);
}

void dependency_table::retire(std::uint32_t record_index) {
    if (record_index >= records.size() || !records[record_index].live()) return;
    for (std::uint32_t i = 0; i < links.size(); ++i)
        if (links[i].record == record_index && links[i].position == 0) {
            retire_from_link(*this, i);
            return;
        }
}

int pipe_index_of_mask(unsigned mask) {
    mask &= 0xFFu;
    if (mask == 0) return -1;
    int i = 0;
    while (mask >>= 1) ++i;
    return i;
}

int retirement_depth(unsigned mask) {
    switch (mask & 0xFFu) {
    case 1: case 2: case 4: case 32: return 11;
    case 8: return 15;
    case 16: return 19;
    default: return 0;
    }
}

bool dependency_matches(const dependency_record& x, const dependency_record& a) {
    if (a.is_wait()) {
        if (a.token_use() && x.token_use() && a.token == x.token && ((a.token_use() & 2u) || (x.token_use() & 1u)))
            return true;
        if (!in_order(x.pipe)) return false;
        if (!((a.wait_pipe_mask & (x.pipe & 0xFFu)) || (a.wait_pipe_mask & 1u))) return false;
        const int p = in_order_pipe_index(x.pipe);
        return a.counters[p] - x.counters[p] >= int(a.distance);
    }
    if (!x.is_write() && !a.is_write()) return false;
    if (!x.is_write() && a.is_write() && x.pipe == a.pipe && x.pipe != 0x300) return false;
    if (x.is_write() && a.is_write() && in_order(x.pipe) && x.pipe == a.pipe && !x.footprint.partial_word() &&
        !a.footprint.partial_word())
        return false;
    if (too_old(x, a)) return false;
    const register_footprint& af = a.footprint;
    if (af.architecture() && ((af.first >> 4) & 0xFu) != 6 && (!a.is_write() || af.hardware_number == 4))
        return false;
    if (!same_file(x.footprint, af)) return false;
    if (x.footprint.whole_file() || af.whole_file()) return true;
    return masks_intersect(x.footprint, af);
}

bool insert_wait(dependency_table& table, const dependency_record& record, bool existing_may_cover,
                 bool new_may_cover) {
    return insert_record(table, record, existing_may_cover, new_may_cover, true);
}

bool insert_dependency(dependency_table& table, const dependency_record& record, bool existing_may_cover,
                       bool new_may_cover) {
    return insert_record(table, record, existing_may_cover, new_may_cover, false);
}

void find_dependencies(dependency_table& table, const dependency_record& a, std::vector<dependency_record>* out,
                       bool retire) {
    if (!a.is_wait() && a.footprint.empty()) return;
    // A record listed under several registers is reported once.
    std::vector<char> reported(table.records.size(), 0);
    walk_query_lists(table, a, [&](std::uint32_t link) {
        const std::uint32_t xi = table.links[link].record;
        dependency_record& x = table.records[xi];
        if (!x.live()) return;
        if (retire && too_old(x, a)) {
            retire_from_link(table, link);
            return;
        }
        if (dependency_matches(x, a)) {
            if (out && !reported[xi]) out->push_back(x);
            reported[xi] = 1;
            if (retire) retire_from_link(table, link);
        }
    });
}

std::uint32_t release_tokens(dependency_table& table, std::uint32_t mask, bool include_destination_kind) {
    std::uint32_t result = mask;
    for (std::uint32_t t = 0; t < 32; ++t) {
        if (!(mask & (1u << t))) continue;
        std::uint32_t link = table.heads[list_token][t];
        while (link != link_none) {
            dependency_record& x = table.records[table.links[link].record];
            if (x.live() && ((x.token_use() & 1u) || (include_destination_kind && (x.token_use() & 2u)))) {
                retire_from_link(table, link);
                result &= ~(1u << t);
            }
            link = table.links[link].next[list_token];
        }
    }
    return result;
}

std::uint32_t decode_dependency_control(int hw, const instruction_word& inst, dependency_record& token_record,
                                        dependency_record& query) {
    const dependency_control_word w = decode_dependency_control_a(inst);
    token_record.token = 0;
    token_record.flags &= static_cast<std::uint8_t>(~3u);
    query.wait_pipe_mask = 0;
    query.distance = 0;
    query.token = 0;
    query.flags &= static_cast<std::uint8_t>(~(3u | record_wait));
    query.flags |= record_wait;
    bool distance_stored = false;
    const unsigned distance = (w >> 8) & 7u;
    if (distance) {
        unsigned mask;
        const unsigned pipe = (w >> 12) & 0xFu;
        if (hw == 4) {
            mask = 1;
        } else if (pipe >= 1) {
            mask = 1u << (pipe - 1);
        } else {
            const pipe_class pc = instruction_pipe_class(hw, inst, true);
            mask = (pc & 0x300u) ? 0u : (pc & 0xFFu);
        }
        query.wait_pipe_mask = static_cast<std::uint8_t>(mask);
        if (mask != 0) {
            query.distance = static_cast<std::uint8_t>(distance);
            distance_stored = true;
        }
    }
    const unsigned use = (w >> 6) & 3u;
    if (use) {
        query.token = static_cast<std::uint8_t>(w & 0x1Fu);
        query.flags |= static_cast<std::uint8_t>(use);
        if (use == 3) {
            token_record.token = query.token;
            token_record.flags |= 3u;
        }
    }
    const std::uint32_t low = ((inst[0] >> 7) & 1u) && !distance_stored ? 1u : 0u;
    return (std::uint32_t(w) & ~0xFFu) | low;
}

bool rebase_carried_record(dependency_record& q, const std::int32_t* pipe_counts) {
    if (q.selector == 0)
        for (int i = 0; i < 6; ++i) q.counters[i] -= pipe_counts[i];
    q.counters[6] -= pipe_counts[6];
    if (in_order(q.pipe)) {
        const int p = in_order_pipe_index(q.pipe);
        const int depth = retirement_depth(q.pipe & 0xFFu);
        if (depth > 0 && q.counters[p] <= -depth) return false;
    }
    return true;
}

bool reduce_by_exposed_reads(dependency_record& q, dependency_table& exposed) {
    std::vector<std::uint32_t> collected;
    auto visit = [&](int kind, std::uint32_t slot) {
        for (std::uint32_t link = exposed.heads[kind][slot]; link != link_none; link = exposed.links[link].next[kind]) {
            const std::uint32_t xi = exposed.links[link].record;
            if (exposed.records[xi].live() && dependency_matches(q, exposed.records[xi])) collected.push_back(xi);
        }
    };
    if (q.token_use() && q.token != 255) visit(list_token, q.token);
    const unsigned in_order_mask = in_order(q.pipe) ? (q.pipe & 0xFFu) : 0u;
    if (in_order_mask & 1u) {
        for (std::uint32_t p = 0; p < 7; ++p) visit(list_pipe, p);
    } else if (in_order_mask) {
        const int p = pipe_index_of_mask(in_order_mask);
        if (p >= 0 && p <= 6) visit(list_pipe, static_cast<std::uint32_t>(p));
        visit(list_pipe, 0);
    }
    if (!q.footprint.empty()) {
        if (q.footprint.whole_file()) {
            for (std::uint32_t r = 0; r < 256; ++r) visit(list_register, r);
        } else {
            for (unsigned i = 0; i < q.footprint.count; ++i)
                if (q.footprint.first + i <= 255) visit(list_register, q.footprint.first + i);
        }
        visit(list_register, whole_file_slot);
    }
    for (std::uint32_t xi : collected) {
        const dependency_record& x = exposed.records[xi];
        if (same_file(x.footprint, q.footprint) && !q.footprint.whole_file()) {
            if (x.footprint.whole_file()) return false;
            subtract_masks(q.footprint, x.footprint);
        }
        if (footprint_exhausted(q.footprint)) return false;
    }
    return true;
}

void propagate_views(std::vector<propagation_view>& blocks, const std::vector<std::vector<std::size_t>>& preds) {
    const std::size_t N = blocks.size();
    for (propagation_view& b : blocks) {
        *b.change_pass = 0;
        for (dependency_record& r : b.running->records)
            if (r.live()) r.origin_pass = 0;
    }
    bool converged = false;
    for (std::size_t r = 0; r < N && !converged; ++r) {
        bool changed = false;
        for (std::size_t bi = 0; bi < N; ++bi) {
            propagation_view& B = blocks[bi];
            for (std::size_t pi : preds[bi]) {
                if (pi >= N) throw std::runtime_error("VASM internal error: propagation failed.");
                if (pi == bi) continue;
                propagation_view& P = blocks[pi];
                if (*P.change_pass < static_cast<std::int32_t>(r)) continue;
                const std::size_t count = P.running->records.size();
                for (std::size_t k = 0; k < count; ++k) {
                    const dependency_record& src = P.running->records[k];
                    if (!src.live() || src.origin_pass != r) continue;
                    dependency_record q = src;
                    if (!rebase_carried_record(q, P.pipe_counts)) continue;
                    if (!reduce_by_exposed_reads(q, *B.exposed_read)) continue;
                    q.origin_pass = static_cast<std::uint32_t>(r + 1);
                    if (insert_dependency(*B.running, q, true, true)) {
                        *B.change_pass = static_cast<std::int32_t>(r + 1);
                        changed = true;
                    }
                }
            }
        }
        if (!changed) converged = true;
    }
    if (!converged) throw std::runtime_error("VASM internal error: propagation failed.");
    for (std::size_t bi = 0; bi < N; ++bi) {
        propagation_view& B = blocks[bi];
        for (std::size_t pi : preds[bi]) {
            propagation_view& P = blocks[pi];
            const std::size_t count = P.running->records.size();
            for (std::size_t k = 0; k < count; ++k) {
                const dependency_record& src = P.running->records[k];
                if (!src.live()) continue;
                dependency_record q = src;
                if (!rebase_carried_record(q, P.pipe_counts)) continue;
                insert_dependency(*B.incoming, q, true, true);
            }
        }
    }
}

}  // namespace vasm
}  // namespace ovx
}  // namespace korami
