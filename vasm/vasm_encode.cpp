// Operand vocabulary shared by every encoding family: generations, type
// tables, operand completion, register and destination fields, dependency
// fields and the generic field packer.
#include "vasm/vasm.hpp"

#include <algorithm>
#include <stdexcept>

namespace korami {
namespace ovx {
namespace vasm {

namespace {

const generation_info generations[] = {
    {1, 1, 1, 8}, {2, 3, 3, 8}, {3, 4, 4, 8}, {5, 6, 6, 8}, {6, 10, 7, 16}, {7, 13, 8, 16}, {8, 14, 9, 16},
};

const std::uint8_t q1_immediate_types[16] = {0, 1, 2, 3, 2, 3, 10, 7, 8, 9, 11, 0, 0, 4, 6, 5};
const std::uint8_t q2_types[16] = {0, 1, 2, 3, 4, 5, 10, 9, 6, 7, 8, 0, 0, 4, 5, 11};
const std::uint8_t q3_types[32] = {2, 6, 1, 5, 0, 4, 11, 10, 3, 7, 9, 13, 8, 0, 4, 8,
                                   14, 12, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 0, 4, 0, 4};

bool power_of_two(unsigned v) { return v != 0 && (v & (v - 1)) == 0; }

// Stride code that must fit a field of `bits` bits.
unsigned checked_stride_code(unsigned s, unsigned bits) {
    unsigned c = stride_code(s);
    if (c >= (1u << bits)) throw invalid_region_exception();
    return c;
}

unsigned checked_width_code(unsigned w, unsigned bits) {
    unsigned c = width_code(w);
    if (c >= (1u << bits)) throw invalid_region_exception();
    return c;
}

}  // namespace

const generation_info* generation_of_arch(int arch) {
    for (const generation_info& g : generations)
        if (g.arch == arch) return &g;
    return nullptr;
}

encoding_family family_of(int hardware_number) {
    switch (hardware_number) {
    case 1:
    case 3: return encoding_family::q1;
    case 4:
    case 6: return encoding_family::q3;
    case 7:
    case 8:
    case 9: return encoding_family::q6;
    default: throw std::invalid_argument("vasm: no encoder for this generator hardware number");
    }
}

int register_operand::address_immediate(int hardware_number) const {
    unsigned bits = hardware_number >= 7 ? 11 : 10;
    int v = static_cast<int>((value >> 10) & ((1u << bits) - 1));
    return v >= (1 << (bits - 1)) ? v - (1 << bits) : v;
}

register_operand make_register(unsigned reg, type_code type, int element_offset, unsigned vs,
                               unsigned w, unsigned hs) {
    register_operand op(0);
    op.value = reg & 0x1FFu;
    op.set_type(type);
    op.set_element_offset(element_offset);
    op.set_region(vs, w, hs);
    return op;
}

register_operand make_arf(unsigned reg, type_code type, unsigned vs, unsigned w, unsigned hs) {
    register_operand op = make_register(reg & 0xFFu, type, 0, vs, w, hs);
    op.value |= 1u << 9;
    return op;
}

std::uint32_t hardware_type_q1_immediate(type_code t) { return q1_immediate_types[t & 15]; }
std::uint32_t hardware_type_q2(type_code t) { return q2_types[t & 15]; }
std::uint32_t hardware_type_q3(type_code t) { return q3_types[t & 31]; }

std::uint32_t hardware_type_q1_family(int hardware_number, type_code t, bool immediate) {
    if (hardware_number == 3) return hardware_type_q2(t);
    return immediate ? hardware_type_q1_immediate(t) : (t & 15u);
}

unsigned stride_code(unsigned s) {
    if (s == 0) return 0;
    if (!power_of_two(s)) throw invalid_region_exception();
    return log2u(s) + 1;
}

unsigned width_code(unsigned w) {
    if (w == 0) return 0;
    if (!power_of_two(w)) throw invalid_region_exception();
    return log2u(w);
}

void fix_operand_region(register_operand& op, int hardware_number, unsigned exec_size,
                        unsigned size_hint, type_code default_type, int operand_index,
                        int operand_count) {
    if (op.invalid()) throw invalid_object_exception();
    if (op.type() == type_none) {
        if (default_type == type_none) throw missing_type_exception();
        op.set_type(default_type);
    }
    if (op.indirect() && op.vstride() == 127) return;
    const unsigned log2_bytes = type_log2_bytes(op.type());
    unsigned vs = op.vstride(), w = op.width(), hs = op.hstride();
    if (exec_size == 1) {
        vs = 0;
        w = 1;
        hs = 0;
    } else if (w == 0) {
        if (hs != 0) {
            w = std::min(std::min(exec_size, (32u >> log2_bytes) / hs), 16u);
        } else {
            w = 1;
        }
        vs = (hs * w) & 0x7Fu;
        if (operand_count == 3 && hardware_number >= 4 && operand_index >= -1 && operand_index <= 1 &&
            vs == 2) {
            if (hs != 1) throw invalid_region_exception();
            vs = 1;
            hs = 0;
        }
    } else if (w == exec_size) {
        vs = (exec_size * hs) & 0x7Fu;
    }
    if (operand_index < 0 && hs == 0) {
        const unsigned element = 1u << log2_bytes;
        hs = size_hint > element ? ((size_hint >> log2_bytes) & 0x3Fu) : 1u;
    }
    op.set_region(vs, w, hs);
}

unsigned direct_byte_offset(const register_operand& op, int hardware_number) {
    const int offset = op.element_offset() * static_cast<int>(type_bytes(op.type()));
    if (offset < 0 || offset >= static_cast<int>(register_bytes(hardware_number)))
        throw invalid_operand_exception();
    return static_cast<unsigned>(offset);
}

namespace {

// A direct general register must fit the 8-bit register field of every
// encoding; a ninth register bit would alias a lower register.
void check_register_number(const register_operand& op) {
    if (!op.indirect() && !op.arf() && (op.value & 0x100u)) throw invalid_operand_exception();
}

std::uint32_t indirect_immediate_bits(const register_operand& op, int hardware_number) {
    return static_cast<std::uint32_t>(op.address_immediate(hardware_number)) & 0x7FFu;
}

}  // namespace

std::uint32_t encode_register_operand(const register_operand& op) {
    if (op.invalid()) throw invalid_object_exception();
    std::uint32_t f = 0;
    if (op.indirect()) {
        f |= 1u << 16;
        f |= (op.low() & 0xFu) << 12;
        f |= ((op.low() >> 10) & 0x3FFu) << 2;
        f |= (op.vstride() == 127 ? 15u : checked_stride_code(op.vstride(), 4)) << 20;
    } else {
        check_register_number(op);
        f |= op.reg() << 8;
        if (!op.arf()) f |= 1u << 2;
        f |= direct_byte_offset(op, 4) << 3;
        f |= checked_stride_code(op.vstride(), 4) << 20;
    }
    f |= checked_stride_code(op.hstride(), 2);
    f |= checked_width_code(op.width(), 3) << 17;
    return f;
}

std::uint32_t encode_source_region_q6(const register_operand& op) {
    if (op.invalid()) throw invalid_object_exception();
    std::uint32_t f = 0;
    if (op.indirect()) {
        const std::uint32_t imm = indirect_immediate_bits(op, 7);
        f |= 1u << 16;
        f |= (op.low() & 0xFu) << 12;
        f |= ((imm >> 1) & 0x3FFu) << 2;
        f |= (imm & 1u) << 23;
        f |= (op.vstride() == 127 ? 7u : checked_stride_code(op.vstride(), 3)) << 20;
    } else {
        check_register_number(op);
        const unsigned byte = direct_byte_offset(op, 7);
        f |= op.reg() << 8;
        if (!op.arf()) f |= 1u << 2;
        f |= ((byte >> 1) & 0x1Fu) << 3;
        f |= (byte & 1u) << 23;
        f |= checked_stride_code(op.vstride(), 3) << 20;
    }
    f |= checked_stride_code(op.hstride(), 2);
    f |= checked_width_code(op.width(), 3) << 17;
    return f;
}

namespace {

// Bits 0-12 of a Quen1-family destination or source field.
std::uint32_t q1_address_bits(const register_operand& op) {
    if (op.indirect()) {
        const std::uint32_t imm = indirect_immediate_bits(op, 1);
        return (imm & 0x1FFu) | ((op.low() & 0xFu) << 9);
    }
    check_register_number(op);
    return direct_byte_offset(op, 1) | (op.reg() << 5);
}

}  // namespace

std::uint32_t encode_source_region_q1(const register_operand& op) {
    if (op.invalid()) throw invalid_object_exception();
    std::uint32_t f = q1_address_bits(op);
    f |= op.source_modifiers() << 13;
    if (op.indirect()) f |= 1u << 15;
    f |= checked_stride_code(op.hstride(), 2) << 16;
    f |= checked_width_code(op.width(), 3) << 18;
    const unsigned vs =
        (op.indirect() && op.vstride() == 127) ? 15u : checked_stride_code(op.vstride(), 4);
    f |= vs << 21;
    return f;
}

std::uint32_t encode_destination_q1(const register_operand& op) {
    if (op.invalid()) throw invalid_object_exception();
    std::uint32_t f = q1_address_bits(op);
    f |= checked_stride_code(op.hstride(), 2) << 13;
    if (op.indirect()) f |= 1u << 15;
    return f;
}

std::uint32_t encode_destination_q3(const register_operand& op, int hardware_number) {
    if (op.invalid()) throw invalid_object_exception();
    const bool q6 = hardware_number >= 7;
    std::uint32_t f = checked_stride_code(op.hstride(), 2);
    if (op.indirect()) {
        const std::uint32_t imm = indirect_immediate_bits(op, hardware_number);
        f |= (q6 ? ((imm >> 1) & 0x3FFu) : (imm & 0x3FFu)) << 2;
        f |= (op.low() & 0xFu) << 12;
    } else {
        check_register_number(op);
        const unsigned byte = direct_byte_offset(op, hardware_number);
        if (!op.arf()) f |= 1u << 2;
        f |= (q6 ? ((byte >> 1) & 0x1Fu) : (byte & 0x1Fu)) << 3;
        f |= op.reg() << 8;
    }
    return f;
}

std::uint32_t encode_dependency_field_a(std::uint16_t a) {
    const unsigned t = a & 0xFu, r = (a >> 6) & 1u, w = (a >> 7) & 1u, d = (a >> 8) & 7u,
                   p = (a >> 12) & 7u;
    const bool token = r || w;
    if (token && d != 0) return 0x80u + 16u * d + t;
    if (token) return (r && w) ? 0x40u + t : (r ? 0x30u + t : 0x20u + t);
    if (d != 0) {
        static const unsigned codes[5] = {0, 1, 2, 3, 10};
        if (p > 4) throw invalid_modifiers_exception();
        return d + 8u * codes[p];
    }
    return 0;
}

std::uint32_t encode_dependency_field(std::uint16_t a, unsigned opcode) {
    const unsigned t = a & 0x1Fu, all = (a >> 5) & 1u, r = (a >> 6) & 1u, w = (a >> 7) & 1u,
                   d = (a >> 8) & 7u, p = (a >> 12) & 0xFu;
    const bool token = r || w;
    if (token && d != 0) {
        unsigned k;
        if (r && w)
            k = p == 2 ? 2u : (p == 3 ? 3u : 1u);
        else if (r)
            k = 2;
        else
            k = (p == 1 || opcode == 89) ? 3u : 1u;
        return t + 32u * d + 256u * k;
    }
    if (token) return (r && w) ? 0xC0u + t : (r ? 0xA0u + t : 0x80u + t);
    if (d != 0) return d + 8u * p;
    if (all) return 0xF0u;
    return 0;
}

void pack_fields(instruction_word& word, const field_move* moves, std::size_t count,
                 const std::uint64_t* sources) {
    for (std::size_t i = 0; i < count; ++i) {
        const field_move& m = moves[i];
        const std::uint64_t mask = m.width >= 64 ? ~0ull : ((1ull << m.width) - 1);
        const std::uint64_t bits = (sources[m.source] >> m.src_lo) & mask;
        word[m.dword] |= static_cast<std::uint32_t>(bits << m.dst_lo);
    }
}

namespace {

// Dword 0 of the two newer families: where the modifier's control bits go.
const field_move q3_dword0_moves[] = {
    {0, 45, 1, 0, 7}, {0, 21, 3, 0, 16}, {0, 11, 3, 0, 19}, {0, 32, 2, 0, 22},
    {0, 16, 5, 0, 24}, {0, 29, 2, 0, 29}, {0, 34, 1, 0, 31},
};
const field_move q6_dword0_moves[] = {
    {0, 45, 1, 0, 7},  {0, 21, 3, 0, 18}, {0, 32, 2, 0, 21}, {0, 44, 1, 0, 23}, {0, 12, 2, 0, 24},
    {0, 16, 2, 0, 26}, {0, 20, 1, 0, 28}, {0, 29, 2, 0, 29}, {0, 34, 1, 0, 31},
};

}  // namespace

std::uint32_t family_dword0(int hardware_number, unsigned opcode, instruction_modifier mod,
                            std::uint32_t dependency_field) {
    instruction_word w{};
    const std::uint64_t src[1] = {mod};
    if (family_of(hardware_number) == encoding_family::q6) {
        pack_fields(w, q6_dword0_moves, src);
        w[0] |= (dependency_field & 0x3FFu) << 8;
    } else {
        pack_fields(w, q3_dword0_moves, src);
        w[0] |= (dependency_field & 0xFFu) << 8;
    }
    return w[0] | (opcode & 0x7Fu);
}

std::uint32_t family_dependency_field(int hardware_number, instruction_modifier mod,
                                      unsigned opcode, bool opcode89_rule) {
    const std::uint16_t control = static_cast<std::uint16_t>(mod >> 48);
    switch (family_of(hardware_number)) {
    case encoding_family::q1: return 0;
    case encoding_family::q3: return encode_dependency_field_a(control);
    case encoding_family::q6: return encode_dependency_field(control, opcode89_rule ? opcode : 0);
    }
    return 0;
}

const char* type_name(type_code t) {
    static const char* const names[16] = {"uint",  "int",  "ushort", "short",  "uchar",   "char",
                                          "double", "float", "ulong", "long",  "half",    "ushort",
                                          "INVALID", "INVALID", "INVALID", "INVALID"};
    return names[t & 15];
}

}  // namespace vasm
}  // namespace ovx
}  // namespace korami
