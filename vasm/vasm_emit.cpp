// Emitters of the moves, compares, two- and three-source operations and
// jumps. Each emitter completes and checks its operands, builds the whole
// word and only then appends it, so a refusal leaves the stream unchanged.
#include "vasm/vasm.hpp"

#include <algorithm>
#include <stdexcept>

namespace korami {
namespace ovx {
namespace vasm {

namespace {

void require(bool available, const char* what) {
    if (!available) throw std::logic_error(std::string("vasm: ") + what + " is not available for this generation");
}

unsigned exec_size_of(instruction_modifier mod) { return static_cast<unsigned>(mod & 0xFFu); }

unsigned hint_of(std::initializer_list<type_code> types, unsigned at_least = 0) {
    unsigned h = at_least;
    for (type_code t : types) h = std::max(h, type_bytes(t));
    return h;
}

unsigned immediate_bits(const immediate_operand& imm) { return 1u << type_log2_bits(imm.type); }

// --- Quen1 family ---------------------------------------------------------

std::uint32_t q1_register_type(int hw, type_code t) { return hardware_type_q1_family(hw, t, false); }

// Dword 1 of a Quen1-family word: control bits, destination, src0 kind.
std::uint32_t q1_dword1(int hw, instruction_modifier mod, const register_operand& dst,
                        unsigned src0_file, std::uint32_t src0_type) {
    std::uint32_t d1 = static_cast<std::uint32_t>((mod >> 32) & 7u);
    if (!dst.arf()) d1 |= 1u << 3;
    d1 |= (q1_register_type(hw, dst.type()) & 0xFu) << 5;
    d1 |= (src0_file & 3u) << 9;
    d1 |= (src0_type & 0xFu) << 11;
    const std::uint32_t bit15 = dst.indirect()
                                    ? ((static_cast<std::uint32_t>(dst.address_immediate(hw)) >> 9) & 1u)
                                    : static_cast<std::uint32_t>((mod >> 47) & 1u);
    d1 |= bit15 << 15;
    d1 |= encode_destination_q1(dst) << 16;
    return d1;
}

std::uint32_t q1_src0_dword2(int hw, const register_operand& src0) {
    std::uint32_t d2 = encode_source_region_q1(src0);
    if (src0.indirect()) d2 |= ((static_cast<std::uint32_t>(src0.address_immediate(hw)) >> 9) & 1u) << 31;
    return d2;
}

std::uint32_t q1_dword0(instruction_modifier mod, unsigned opcode) {
    return (static_cast<std::uint32_t>(mod) & 0xFFFFFE00u) | (opcode & 0xFFu);
}

// --- Quen3 and Quen6 families -----------------------------------------------

std::uint32_t source_field(int hw, const register_operand& op) {
    return hw >= 7 ? encode_source_region_q6(op) : encode_register_operand(op);
}

std::uint32_t q3_dword1(int hw, instruction_modifier mod, const register_operand& dst,
                        std::uint32_t src0_type, unsigned src0_mods, bool src0_imm, bool src1_imm) {
    const std::uint32_t dst_field = encode_destination_q3(dst, hw);
    std::uint32_t d1 = static_cast<std::uint32_t>((mod >> 14) & 1u);
    if (hw >= 7) {
        const std::uint32_t low = dst.indirect()
                                      ? (static_cast<std::uint32_t>(dst.address_immediate(hw)) & 1u)
                                      : (direct_byte_offset(dst, hw) & 1u);
        d1 |= low << 1;
    } else {
        d1 |= static_cast<std::uint32_t>((mod >> 28) & 1u) << 1;
    }
    d1 |= static_cast<std::uint32_t>((mod >> 31) & 1u) << 2;
    if (dst.indirect()) d1 |= 1u << 3;
    d1 |= (hardware_type_q3(dst.type()) & 0xFu) << 4;
    d1 |= (src0_type & 0xFu) << 8;
    d1 |= (src0_mods & 3u) << 12;
    if (src0_imm) d1 |= 1u << 14;
    if (src1_imm) d1 |= 1u << 15;
    d1 |= dst_field << 16;
    return d1;
}

std::uint32_t condition_bits(instruction_modifier mod) {
    return static_cast<std::uint32_t>((mod >> 24) & 0xFu) << 28;
}

bool is_q3_member(int hw) { return hw == 4 || hw == 6; }
bool is_q6_member(int hw) { return hw >= 7; }

}  // namespace

void emit_unary(code_generator& gen, instruction_modifier given, register_operand dst,
                register_operand src0) {
    const int hw = gen.hardware_number();
    const instruction_modifier mod = given | gen.default_modifier;
    const unsigned exec = exec_size_of(mod);
    const unsigned hint = hint_of({dst.type(), src0.type(), type_ud}, 4);
    fix_operand_region(dst, hw, exec, hint, type_ud, -1, 2);
    fix_operand_region(src0, hw, exec, hint, type_ud, 0, 2);
    instruction_word w{};
    if (gen.family() == encoding_family::q1) {
        w[0] = q1_dword0(mod, 1);
        w[1] = q1_dword1(hw, mod, dst, src0.arf() ? 0u : 1u, q1_register_type(hw, src0.type()));
        w[2] = q1_src0_dword2(hw, src0);
        w[3] = 0;
    } else {
        w[0] = family_dword0(hw, 97, mod, family_dependency_field(hw, mod, 97));
        w[1] = q3_dword1(hw, mod, dst, hardware_type_q3(src0.type()), src0.source_modifiers(), false, false);
        w[2] = source_field(hw, src0) | condition_bits(mod);
        w[3] = 0;
    }
    gen.append(w);
}

void emit_unary_immediate(code_generator& gen, unsigned opcode, instruction_modifier given,
                          type_code default_type, register_operand dst, immediate_operand imm) {
    const int hw = gen.hardware_number();
    require(gen.family() == encoding_family::q1 || is_q3_member(hw), "emit_unary_immediate");
    const instruction_modifier mod = given | gen.default_modifier;
    const unsigned exec = exec_size_of(mod);
    fix_operand_region(dst, hw, exec, hint_of({dst.type(), imm.type, default_type}), default_type, -1, 2);
    const unsigned bits = immediate_bits(imm);
    if (bits > 64) throw invalid_immediate_exception();
    const bool wide = bits == 64;
    instruction_word w{};
    if (gen.family() == encoding_family::q1) {
        w[0] = q1_dword0(mod, opcode & ~0x100u);
        w[1] = q1_dword1(hw, mod, dst, 3, hardware_type_q1_family(hw, imm.type, true));
        w[2] = wide ? static_cast<std::uint32_t>(imm.value) : 0u;
        w[3] = wide ? static_cast<std::uint32_t>(imm.value >> 32) : static_cast<std::uint32_t>(imm.value);
    } else {
        if (wide && ((mod >> 24) & 0xFu) != 0) throw invalid_modifiers_exception();
        w[0] = family_dword0(hw, opcode, mod, family_dependency_field(hw, mod, opcode));
        w[1] = q3_dword1(hw, mod, dst, hardware_type_q3(imm.type), 0, true, false);
        w[2] = condition_bits(mod) | (wide ? static_cast<std::uint32_t>(imm.value >> 32) : 0u);
        w[3] = static_cast<std::uint32_t>(imm.value);
    }
    gen.append(w);
}

void emit_move_word_immediate(code_generator& gen, unsigned exec_size, register_operand dst,
                              std::uint16_t value) {
    const int hw = gen.hardware_number();
    require(is_q6_member(hw), "emit_move_word_immediate");
    unsigned log2_exec = 0;
    while ((1u << (log2_exec + 1)) <= exec_size && log2_exec < 7) ++log2_exec;
    const instruction_modifier mod =
        gen.default_modifier | (exec_size & 0xFFu) | (instruction_modifier(log2_exec & 7u) << 21);
    fix_operand_region(dst, hw, exec_size & 0xFFu, hint_of({dst.type()}, 2), type_none, -1, 2);
    instruction_word w{};
    w[0] = family_dword0(hw, 97, mod, family_dependency_field(hw, mod, 97, false));
    w[1] = q3_dword1(hw, mod, dst, 1, 0, true, false);
    w[2] = 0;
    w[3] = std::uint32_t(value) | (std::uint32_t(value) << 16);
    gen.append(w);
}

void emit_compare_immediate(code_generator& gen, instruction_modifier given, register_operand dst,
                            register_operand src0, immediate_operand imm) {
    const int hw = gen.hardware_number();
    require(gen.family() == encoding_family::q1 || hw == 4, "emit_compare_immediate");
    const instruction_modifier mod = given | gen.default_modifier;
    const unsigned exec = exec_size_of(mod);
    const unsigned hint = hint_of({dst.type(), src0.type(), imm.type});
    fix_operand_region(dst, hw, exec, hint, type_none, -1, 2);
    fix_operand_region(src0, hw, exec, hint, type_none, 0, 2);
    if (immediate_bits(imm) > 32) throw invalid_immediate_exception();
    instruction_word w{};
    if (gen.family() == encoding_family::q1) {
        w[0] = q1_dword0(mod, 16);
        w[1] = q1_dword1(hw, mod, dst, src0.arf() ? 0u : 1u, q1_register_type(hw, src0.type()));
        w[2] = q1_src0_dword2(hw, src0) | (3u << 25) | ((hardware_type_q1_family(hw, imm.type, true) & 0xFu) << 27);
        w[3] = static_cast<std::uint32_t>(imm.value);
    } else {
        w[0] = family_dword0(hw, 112, mod, family_dependency_field(hw, mod, 112));
        w[1] = q3_dword1(hw, mod, dst, hardware_type_q3(src0.type()), src0.source_modifiers(), false, true);
        w[2] = source_field(hw, src0) | ((hardware_type_q3(imm.type) & 0xFu) << 24) | condition_bits(mod);
        w[3] = static_cast<std::uint32_t>(imm.value);
    }
    gen.append(w);
}

void emit_binary_immediate(code_generator& gen, unsigned opcode, instruction_modifier given,
                           type_code default_type, register_operand dst, register_operand src0,
                           immediate_operand imm) {
    const int hw = gen.hardware_number();
    require(hw == 6 || is_q6_member(hw), "emit_binary_immediate");
    const instruction_modifier mod = given | gen.default_modifier;
    const unsigned exec = exec_size_of(mod);
    const unsigned hint = hint_of({dst.type(), src0.type(), imm.type, default_type});
    fix_operand_region(dst, hw, exec, hint, default_type, -1, 2);
    fix_operand_region(src0, hw, exec, hint, default_type, 0, 2);
    if (immediate_bits(imm) > 32) throw invalid_immediate_exception();
    instruction_word w{};
    w[0] = family_dword0(hw, opcode, mod, family_dependency_field(hw, mod, opcode));
    w[1] = q3_dword1(hw, mod, dst, hardware_type_q3(src0.type()), src0.source_modifiers(), false, true);
    w[2] = source_field(hw, src0) | ((hardware_type_q3(imm.type) & 0xFu) << 24) | condition_bits(mod);
    w[3] = static_cast<std::uint32_t>(imm.value);
    gen.append(w);
}

namespace {

unsigned ternary_vstride_code(const register_operand& op) {
    switch (op.vstride()) {
    case 0: return 0;
    case 1: return 1;
    case 4: return 2;
    case 8: return 3;
    default:
        if (op.hstride() != 0) return 3;
        throw invalid_region_exception();
    }
}

// 16-bit operand layout of the three-source form: stride code, register
// file, byte offset and register. Quen6..Quen8 keep the byte offset in
// 2-byte units, so an odd byte offset cannot be encoded there.
std::uint32_t ternary_operand(int hw, const register_operand& op, bool destination) {
    if (op.invalid()) throw invalid_object_exception();
    if (op.reg9() > 255 && !op.arf()) throw invalid_operand_exception();
    const unsigned byte = direct_byte_offset(op, hw);
    std::uint32_t f;
    if (destination) {
        unsigned l = 0;
        while ((2u << l) <= op.hstride() && l < 3) ++l;
        if (op.hstride() > 8) throw invalid_region_exception();
        f = l;
    } else {
        const unsigned c = stride_code(op.hstride());
        if (c > 3) throw invalid_region_exception();
        f = c;
    }
    if (!op.arf()) f |= 1u << 2;
    if (hw >= 7) {
        if (!destination && (byte & 1u)) throw invalid_operand_exception();
        f |= ((byte >> 1) & 0x1Fu) << 3;
    } else {
        f |= (byte & 0x1Fu) << 3;
    }
    f |= op.reg() << 8;
    return f;
}

}  // namespace

void emit_ternary(code_generator& gen, instruction_modifier given, register_operand dst,
                  register_operand src0, register_operand src1, immediate_operand imm) {
    const int hw = gen.hardware_number();
    require(hw == 6 || is_q6_member(hw), "emit_ternary");
    const instruction_modifier mod = given | gen.default_modifier;
    const unsigned exec = exec_size_of(mod);
    const unsigned hint = hint_of({dst.type(), src0.type(), src1.type(), imm.type, type_ud}, 4);
    fix_operand_region(dst, hw, exec, hint, type_ud, -1, 3);
    fix_operand_region(src0, hw, exec, hint, type_ud, 0, 3);
    fix_operand_region(src1, hw, exec, hint, type_ud, 1, 3);
    if (dst.indirect() || src0.indirect() || src1.indirect()) throw invalid_operand_exception();
    if (immediate_bits(imm) > 16) throw invalid_immediate_exception();
    const std::uint32_t td = hardware_type_q3(dst.type()), t0 = hardware_type_q3(src0.type()),
                        t1 = hardware_type_q3(src1.type()), ti = hardware_type_q3(imm.type);
    const std::uint32_t fp = td & 8u;
    if ((t0 & 8u) != fp || (t1 & 8u) != fp || (ti & 8u) != fp) throw invalid_type_exception();
    const unsigned v0 = ternary_vstride_code(src0), v1 = ternary_vstride_code(src1);
    const std::uint32_t fd = ternary_operand(hw, dst, true), f0 = ternary_operand(hw, src0, false),
                        f1 = ternary_operand(hw, src1, false);
    instruction_word w{};
    w[0] = family_dword0(hw, 91, mod, family_dependency_field(hw, mod, 91, false));
    std::uint32_t d1 = static_cast<std::uint32_t>((mod >> 14) & 1u) | (static_cast<std::uint32_t>((mod >> 31) & 1u) << 2);
    d1 |= hw >= 7 ? ((direct_byte_offset(dst, hw) & 1u) << 1) : (static_cast<std::uint32_t>((mod >> 28) & 1u) << 1);
    d1 |= (v0 & 1u) << 3;
    d1 |= ((v0 >> 1) & 1u) << 11;
    d1 |= (td & 0xFu) << 4;
    d1 |= (t0 & 7u) << 8;
    d1 |= src0.source_modifiers() << 12;
    d1 |= 1u << 15;
    d1 |= fd << 16;
    w[1] = d1;
    std::uint32_t d2 = f0;
    d2 |= (ti & 7u) << 16;
    d2 |= (v1 & 1u) << 19;
    d2 |= ((v1 >> 1) & 1u) << 27;
    d2 |= src1.source_modifiers() << 22;
    d2 |= (t1 & 7u) << 24;
    d2 |= condition_bits(mod);
    w[2] = d2;
    w[3] = f1 | (static_cast<std::uint32_t>(imm.value & 0xFFFFu) << 16);
    gen.append(w);
}

void emit_jump_to_label(code_generator& gen, instruction_modifier given, label& target) {
    const int hw = gen.hardware_number();
    instruction_modifier mod = given | gen.default_modifier;
    instruction_word w{};
    if (gen.family() == encoding_family::q1) {
        const unsigned exec = exec_size_of(mod);
        mod = (mod & ~0xFFull) | modifier_no_mask;
        register_operand ip_dst = make_arf(0xA0, type_ud, 0, 0, 1);
        register_operand ip_src = make_arf(0xA0, type_ud, 0, 0, 1);
        fix_operand_region(ip_src, hw, exec, 4, type_d, 0, 2);
        w[0] = (static_cast<std::uint32_t>(mod) & 0xFFFFFF00u) | 32u;
        w[1] = (static_cast<std::uint32_t>(mod >> 32) & 0xF9FFu) | (encode_destination_q1(ip_dst) << 16);
        w[2] = encode_source_region_q1(ip_src) | (7u << 25);
        w[3] = 0;
        const std::uint32_t id = new_label_id(target, gen.labels);
        code_stream& s = gen.top();
        s.fixups.reserve(s.fixups.size() + 1);
        gen.append(w);
        s.fixups.push_back(fixup_record{id, s.byte_size(), -4});
    } else {
        w[0] = family_dword0(hw, 32, mod, family_dependency_field(hw, mod, 32, false)) | 0x80000000u;
        w[1] = static_cast<std::uint32_t>((mod >> 14) & 1u) | (static_cast<std::uint32_t>((mod >> 28) & 1u) << 1) |
               (static_cast<std::uint32_t>((mod >> 31) & 1u) << 2) | (1u << 14);
        const std::uint32_t id = new_label_id(target, gen.labels);
        code_stream& s = gen.top();
        s.fixups.reserve(s.fixups.size() + 1);
        const std::uint32_t anchor = s.byte_size();
        gen.append(w);
        s.fixups.push_back(fixup_record{id, anchor, 12});
    }
}

void emit_filler(code_generator& gen) {
    instruction_word w{96u, 0, 0, 0};
    gen.append(w);
}

}  // namespace vasm
}  // namespace ovx
}  // namespace korami
