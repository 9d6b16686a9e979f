// Code streams, labels, the generator state and the finalisation of the
// generations that need no dependency scoreboard.
#include "vasm/vasm.hpp"


namespace korami {
namespace ovx {
namespace vasm {

instruction_word code_stream::instruction(std::size_t index) const {
    const std::uint64_t lo = code.at(2 * index), hi = code.at(2 * index + 1);
    return instruction_word{static_cast<std::uint32_t>(lo), static_cast<std::uint32_t>(lo >> 32),
                            static_cast<std::uint32_t>(hi), static_cast<std::uint32_t>(hi >> 32)};
}

std::uint32_t new_label_id(label& l, label_table& table) {
    if (l >= 0) return static_cast<std::uint32_t>(l);
    table.targets.push_back(label_unplaced);
    const std::uint32_t id = table.next_id & 0x7FFFFFFFu;
    ++table.next_id;
    l = static_cast<label>(id);
    return id;
}

code_generator::code_generator(int product, int hardware_number)
    : product_code(product), iface(hardware_number), hardware_number_(hardware_number) {
    (void)family_of(hardware_number);  // refuses numbers without an encoder
    stream_stack.push_back(&root);
}

code_generator::code_generator(const generation_info& g)
    : code_generator(g.product_code, g.hardware_number) {}

code_generator::~code_generator() = default;

void code_generator::append(const instruction_word& w) {
    code_stream& s = top();
    s.code.reserve(s.code.size() + 2);
    s.code.push_back(std::uint64_t(w[0]) | (std::uint64_t(w[1]) << 32));
    s.code.push_back(std::uint64_t(w[2]) | (std::uint64_t(w[3]) << 32));
}

void code_generator::place_label(label& l) {
    const std::uint32_t id = new_label_id(l, labels);
    if (id >= labels.targets.size()) throw std::runtime_error("VASM internal error: label id out of range");
    if (labels.targets[id] != label_unplaced) throw multiple_label_exception();
    code_stream& s = top();
    s.placed_labels.reserve(s.placed_labels.size() + 1);
    labels.targets[id] = s.byte_size();
    s.placed_labels.push_back(id);
}

void resolve_fixups(code_generator& gen) {
    if (gen.stream_stack.size() > 1) throw unfinished_stream_exception();
    code_stream& root = gen.root;
    const std::size_t bytes = root.code.size() * 8;
    for (const fixup_record& f : root.fixups) {
        if (f.label >= gen.labels.targets.size()) throw dangling_label_exception();
        const std::uint32_t target = gen.labels.targets[f.label];
        if (target == label_unplaced) throw dangling_label_exception();
        const std::int64_t at = std::int64_t(f.anchor) + f.field_offset;
        if (at < 0 || at + 4 > static_cast<std::int64_t>(bytes))
            throw std::runtime_error("VASM internal error: fix-up outside the code");
        const std::uint32_t distance = target - f.anchor;
        for (int i = 0; i < 4; ++i) {
            const std::int64_t byte = at + i;
            std::uint64_t& word = root.code[static_cast<std::size_t>(byte / 8)];
            const unsigned shift = static_cast<unsigned>(byte % 8) * 8;
            word = (word & ~(0xFFull << shift)) | (std::uint64_t((distance >> (8 * i)) & 0xFFu) << shift);
        }
    }
}

namespace q1 {

std::vector<std::uint8_t> finalize_program(code_generator& gen) {
    resolve_fixups(gen);
    const code_stream& root = gen.root;
    std::vector<std::uint8_t> out(root.code.size() * 8);
    for (std::size_t i = 0; i < root.code.size(); ++i)
        for (int b = 0; b < 8; ++b) out[8 * i + b] = static_cast<std::uint8_t>(root.code[i] >> (8 * b));
    return out;
}

}  // namespace q1

}  // namespace vasm
}  // namespace ovx
}  // namespace korami
