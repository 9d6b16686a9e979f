// What an encoded instruction reads and writes: operand footprints, opcode
// and pipe classes, and the decoding of the dependency-control field.
#include "vasm/vasm.hpp"

#include <cstring>

namespace korami {
namespace ovx {
namespace vasm {

namespace {

std::uint32_t field_bits(std::uint32_t v, unsigned lo, unsigned width) {
    return (v >> lo) & ((width >= 32) ? 0xFFFFFFFFu : ((1u << width) - 1u));
}

const type_code hardware_field_types[16] = {100, 130, 160, 200, 101, 131, 161, 201,
                                            108, 138, 167, 198, 113, 139, 176, 96};

void set_whole_file(register_footprint& fp, int hw) {
    fp.first = 0;
    fp.count = 0;
    fp.flags = footprint_whole_file;
    fp.hardware_number = hw;
    std::memset(fp.masks, 0, sizeof fp.masks);
}

bool range_result(register_footprint& fp, int hw, unsigned first, unsigned count) {
    if (count == 0) return false;
    footprint_from_range(fp, hw, static_cast<std::uint16_t>((first & 0xFFu) | (count << 8)));
    return true;
}

bool is_three_source(unsigned op) {
    switch (op) {
    case 82: case 88: case 91: case 93: case 107: case 114: case 120: case 122: return true;
    default: return false;
    }
}

// Architecture registers that the scoreboard tracks: kinds 1 and 2
// (numbers 16-47), and kind 6 from hardware number 9.
bool tracked_architecture_register(unsigned reg, int hw) {
    if (reg >= 16 && reg <= 47) return true;
    return hw >= 9 && ((reg >> 4) & 0xFu) == 6;
}

unsigned exec_size_of(const instruction_word& inst, int hw) {
    return 1u << (hw >= 7 ? field_bits(inst[0], 18, 3) : field_bits(inst[0], 16, 3));
}

// Builds the operand of a register field and records its footprint.
bool field_footprint(const instruction_word& inst, register_footprint& fp, int hw, int operand,
                     std::uint32_t field, type_code type, unsigned vs, unsigned w, unsigned hs,
                     unsigned byte_offset) {
    const unsigned reg = field_bits(field, 8, 8);
    register_operand op = make_register(reg, type, 0, vs, w, hs);
    if (!field_bits(field, 2, 1)) {
        if (!tracked_architecture_register(reg, hw)) return false;
        op.value |= 1u << 9;
    }
    op.set_element_offset(static_cast<int>(byte_offset / type_bytes(type)));
    const unsigned exec = exec_size_of(inst, hw);
    fix_operand_region(op, hw, exec, 0, type_none, operand, 2);
    fp.hardware_number = hw;
    footprint_from_region(fp, hw, exec, op);
    return true;
}

bool send_region(const instruction_word& inst, register_footprint& fp, int hw, int operand) {
    const std::uint32_t d1 = inst[1], d2 = inst[2], d3 = inst[3];
    if (operand == 2) return false;
    if (operand == -1) {
        if (!field_bits(d1, 18, 1)) return false;
        if (field_bits(d1, 16, 1)) {
            set_whole_file(fp, hw);
            return true;
        }
        unsigned count = field_bits(d1, 19, 5);
        if (count == 31) count = 32;
        return range_result(fp, hw, field_bits(d1, 24, 8), count);
    }
    if (field_bits(d2, 2, 1) || hw < 9) {
        if (operand == 0) {
            if (!field_bits(d2, 2, 1)) return false;
            if (field_bits(d1, 16, 1)) {
                set_whole_file(fp, hw);
                return true;
            }
            return range_result(fp, hw, field_bits(d2, 8, 8), field_bits(d2, 3, 4));
        }
        if (!field_bits(d3, 2, 1)) return false;
        if (field_bits(d1, 17, 1)) {
            set_whole_file(fp, hw);
            return true;
        }
        return range_result(fp, hw, field_bits(d3, 8, 8), field_bits(d3, 3, 5));
    }
    // Quen8 with src0 naming an architecture register.
    if (operand == 0) {
        set_whole_file(fp, hw);
        return true;
    }
    register_operand op(0);
    op.value = 0x360u;
    op.set_type(100);
    op.set_element_offset(static_cast<int>(2 * field_bits(d3, 3, 5)));
    footprint_from_region(fp, hw, 1, op);
    return true;
}

bool three_source_region(const instruction_word& inst, register_footprint& fp, int hw, int operand) {
    const std::uint32_t d1 = inst[1], d2 = inst[2], d3 = inst[3];
    const unsigned op = inst[0] & 0x7Fu;
    std::uint32_t field;
    unsigned type_low, m = 0;
    switch (operand) {
    case -1: field = field_bits(d1, 16, 16); type_low = field_bits(d1, 4, 3); break;
    case 0:
        if (field_bits(d1, 14, 1)) return false;
        field = field_bits(d2, 0, 24);
        type_low = field_bits(d1, 8, 3);
        m = 3 * field_bits(d1, 11, 1) + field_bits(d1, 3, 1);
        break;
    case 1:
        field = field_bits(d3, 0, 24);
        type_low = field_bits(d2, 24, 3);
        m = 3 * field_bits(d2, 27, 1) + field_bits(d2, 19, 1);
        break;
    default:
        if (field_bits(d1, 15, 1)) return false;
        field = field_bits(d3, 16, 16);
        type_low = field_bits(d2, 16, 3);
        break;
    }
    const type_code type = type_of_hardware_field(type_low | (field_bits(d1, 7, 1) << 3));
    unsigned byte = op == 93 ? 0u : field_bits(field, 3, 5);
    if (hw >= 7) byte *= 2;
    const unsigned h = field_bits(field, 0, 2);
    unsigned vs = 0, w = 0, hs = 0;
    if (operand == -1) {
        vs = 1u << h;
        w = 1;
    } else if (operand == 2) {
        hs = (1u << h) >> 1;
    } else {
        const unsigned V = (1u << m) >> 1;
        w = h > 0 ? (V >> (h - 1)) : (m > 0 ? V : 1u);
        vs = V;
        hs = (1u << h) >> 1;
    }
    return field_footprint(inst, fp, hw, operand, field, type, vs, w, hs, byte);
}

bool systolic_region(const instruction_word& inst, register_footprint& fp, int hw, int operand) {
    const std::uint32_t d1 = inst[1], d2 = inst[2], d3 = inst[3];
    const unsigned r = field_bits(d1, 11, 3), c = r + 1;
    unsigned first, count;
    switch (operand) {
    case -1: first = field_bits(d1, 24, 8); count = ((c << field_bits(d1, 4, 2)) + 3) / 4; break;
    case 0: first = field_bits(d2, 8, 8); count = ((c << field_bits(d1, 8, 2)) + 3) / 4; break;
    case 1: first = field_bits(d3, 8, 8); count = 1u << field_bits(d1, 16, 2); break;
    default: {
        const unsigned k = (inst[0] & 0x7Fu) == 89 ? c : (r + 2) / 2;
        first = field_bits(d3, 24, 8);
        const unsigned rep = (k << field_bits(d1, 16, 2)) * 4;
        count = hw >= 7 ? (2 * field_bits(d3, 19, 5) + rep + 63) / 64 : (field_bits(d3, 19, 5) + rep + 31) / 32;
        break;
    }
    }
    footprint_from_range(fp, hw, static_cast<std::uint16_t>(first | (count << 8)));
    fp.flags = 0;
    return true;
}

bool two_source_region(const instruction_word& inst, register_footprint& fp, int hw, int operand) {
    const std::uint32_t d1 = inst[1], d2 = inst[2], d3 = inst[3];
    std::uint32_t field;
    unsigned type_field;
    switch (operand) {
    case -1: field = field_bits(d1, 16, 16); type_field = field_bits(d1, 4, 4); break;
    case 0:
        if (field_bits(d1, 14, 1)) return false;
        field = field_bits(d2, 0, 24);
        type_field = field_bits(d1, 8, 4);
        break;
    case 1:
        if (field_bits(d1, 14, 1) || field_bits(d1, 15, 1)) return false;
        field = field_bits(d3, 0, 24);
        type_field = field_bits(d2, 24, 4);
        break;
    default: return false;
    }
    const bool math_special = (inst[0] & 0x7Fu) == 56 && field_bits(d2, 29, 3) == 7;
    if (operand >= 0 && !math_special && field_bits(field, 16, 1)) {
        set_whole_file(fp, hw);
        return true;
    }
    unsigned byte = math_special ? 0u : field_bits(field, 3, 5);
    if (hw >= 7) byte = byte * 2 + (operand >= 0 && !math_special ? field_bits(field, 23, 1) : 0u);
    const type_code type = type_of_hardware_field(type_field);
    const unsigned hs = (1u << field_bits(field, 0, 2)) >> 1;
    unsigned vs, w, h;
    if (operand == -1) {
        vs = hs;
        w = 1;
        h = 0;
    } else {
        w = 1u << field_bits(field, 17, 3);
        if (hw >= 7) {
            vs = (1u << field_bits(field, 20, 3)) >> 1;
        } else {
            vs = (1u << field_bits(field, 20, 4)) >> 1;
            if (vs > 64) vs = 0;
        }
        h = hs;
    }
    return field_footprint(inst, fp, hw, operand, field, type, vs, w, h, byte);
}

}  // namespace

type_code type_of_hardware_field(unsigned field) { return hardware_field_types[field & 15u]; }

bool register_footprint::empty() const {
    if (whole_file()) return false;
    for (std::uint32_t m : masks)
        if (m) return false;
    return true;
}

opcode_class classify_opcode(unsigned op) {
    switch (op) {
    case 0: case 34: case 36: case 37: case 39: case 40: case 41: case 46: case 47: case 96:
        return opcode_class::none;
    case 49: case 50: return opcode_class::send;
    case 89: case 90: return opcode_class::systolic;
    case 127: return opcode_class::directive;
    default: return is_three_source(op) ? opcode_class::three_source : opcode_class::two_source;
    }
}

void footprint_from_region(register_footprint& fp, int hw, unsigned exec_size, register_operand op) {
    if (op.invalid()) throw invalid_object_exception();
    const unsigned R = register_bytes(hw);
    const unsigned E = type_bytes(op.type());
    const unsigned W = op.width() == 0 ? 1u : op.width();
    const long HS = static_cast<long>((op.hstride() == 0 ? 1u : op.hstride()) * E);
    const long VS = static_cast<long>(op.vstride() * E);
    const long O = static_cast<long>(op.element_offset()) * static_cast<long>(E);
    const unsigned rows = op.vstride() != 0 ? exec_size / W : 1u;
    const unsigned per_row = op.hstride() != 0 ? W : 1u;

    // Byte masks per register; a row that runs past the end of its register
    // goes on in the next one, and every byte it touches is recorded.
    std::uint64_t bytes[32] = {};
    long last_register = -1;
    for (unsigned r = 0; r < rows; ++r) {
        const long P = O + static_cast<long>(r) * VS;
        for (unsigned e = 0; e < per_row; ++e)
            for (unsigned b = 0; b < E; ++b) {
                const long pos = P + static_cast<long>(e) * HS + b;
                if (pos < 0) throw invalid_region_exception();
                const long reg = pos / static_cast<long>(R);
                if (reg >= 32) throw invalid_region_exception();
                bytes[reg] |= 1ull << (pos % static_cast<long>(R));
                if (reg > last_register) last_register = reg;
            }
    }
    fp.flags &= static_cast<std::uint8_t>(~7u);
    if (op.arf()) fp.flags |= footprint_architecture;
    fp.first = static_cast<std::uint8_t>(op.reg());
    fp.hardware_number = hw;
    std::memset(fp.masks, 0, sizeof fp.masks);
    if (rows == 0) {
        const long c = (O - VS) / static_cast<long>(R) + 1;
        fp.count = static_cast<std::uint8_t>(c < 0 ? 0 : (c > 32 ? 32 : c));
        return;
    }
    fp.count = static_cast<std::uint8_t>(last_register + 1);
    for (long i = 0; i <= last_register; ++i) {
        if (hw < 7) {
            fp.masks[i] = static_cast<std::uint32_t>(bytes[i]);
        } else {
            std::uint32_t words = 0;
            for (unsigned k = 0; k < 32; ++k) {
                const unsigned pair = static_cast<unsigned>((bytes[i] >> (2 * k)) & 3u);
                if (pair) words |= 1u << k;
                if (pair == 1 || pair == 2) fp.flags |= footprint_partial_word;
            }
            fp.masks[i] = words;
        }
    }
}

void footprint_from_range(register_footprint& fp, int hw, std::uint16_t range) {
    if (range >= 0x2100) throw invalid_region_exception();
    fp.first = static_cast<std::uint8_t>(range & 0xFFu);
    fp.count = static_cast<std::uint8_t>(range >> 8);
    fp.hardware_number = hw;
    fp.flags &= static_cast<std::uint8_t>(~7u);
    for (unsigned i = 0; i < 32; ++i) fp.masks[i] = i < fp.count ? 0xFFFFFFFFu : 0u;
}

std::uint16_t register_range(register_operand first, register_operand last) {
    if (first.invalid() || last.invalid()) throw invalid_object_exception();
    const int count = static_cast<int>(last.reg9()) - static_cast<int>(first.reg9()) + 1;
    // The count must fit its byte; a longer range would wrap to a short one.
    if (count < 0 || count > 255) throw invalid_range_exception();
    return static_cast<std::uint16_t>(first.reg() | (static_cast<unsigned>(count) << 8));
}

bool footprint_covers(const register_footprint& a, const register_footprint& b) {
    if (a.whole_file() || b.whole_file()) return false;
    if (a.architecture() != b.architecture()) return false;
    return a.first <= b.first && unsigned(a.first) + a.count >= unsigned(b.first) + b.count;
}

bool operand_dependency_region(const instruction_word& inst, register_footprint& fp, int operand) {
    const int hw = fp.hardware_number;
    const unsigned op = inst[0] & 0x7Fu;
    switch (classify_opcode(op)) {
    case opcode_class::none: return false;
    case opcode_class::send: return send_region(inst, fp, hw, operand);
    case opcode_class::three_source: return three_source_region(inst, fp, hw, operand);
    case opcode_class::systolic: return systolic_region(inst, fp, hw, operand);
    case opcode_class::directive: {
        const unsigned code = field_bits(inst[1], 24, 8);  // byte 7
        if (operand == -1) {
            footprint_from_region(fp, hw, 1, make_register(code, type_none, 0, 0, 0, 1));
            return true;
        }
        if (operand == 0) {
            const register_operand a = make_register(field_bits(inst[2], 8, 8), type_none);   // byte 9
            const register_operand b = make_register(field_bits(inst[3], 8, 8), type_none);   // byte 13
            footprint_from_range(fp, hw, register_range(a, b));
            return true;
        }
        return false;
    }
    case opcode_class::two_source: return two_source_region(inst, fp, hw, operand);
    }
    return false;
}

unsigned operand_type_field(const instruction_word& inst, int source) {
    const unsigned op = inst[0] & 0x7Fu;
    switch (op) {
    case 0: case 49: case 50: case 88: case 89: case 90: case 96: return 0;
    default: break;
    }
    if (is_three_source(op)) {
        if (source == 0) return (field_bits(inst[1], 7, 1) << 3) | field_bits(inst[1], 8, 3);
        if (source == 1) return field_bits(inst[2], 24, 3);
        return field_bits(inst[2], 16, 3);
    }
    if (source == 0) return field_bits(inst[1], 8, 4);
    if (source == 1) return field_bits(inst[2], 24, 4);
    return 0;
}

bool operand_arf_kind(const instruction_word& inst, std::uint8_t& kind, int operand, int hw) {
    if (operand > 1) return false;
    switch (inst[0] & 0x7Fu) {
    case 0: case 18: case 24: case 26: case 49: case 50: case 82: case 88: case 89: case 90:
    case 91: case 93: case 107: case 126: return false;
    default: break;
    }
    std::uint32_t field;
    if (operand == 0) {
        field = inst[2];
    } else if (operand == 1) {
        if (field_bits(inst[1], 8, 8) > 63) return false;  // byte 5
        field = inst[3];
    } else {
        field = field_bits(inst[1], 16, 16);
    }
    if (field_bits(field, 16, 1) || field_bits(field, 2, 1)) return false;
    unsigned k = field_bits(field, 12, 4);
    if (k == 6 && hw >= 9) k = 22;
    kind = static_cast<std::uint8_t>(k);
    return true;
}

pipe_class instruction_pipe_class(int hw, const instruction_word& inst, bool ooo) {
    const unsigned op = inst[0] & 0x7Fu;
    if (((op >> 4) & 7u) == 2 || op == 96 || op == 0 || op == 1 || op == 127) return 0;
    if (op == 89 || op == 90) return ooo ? 0x200 : 0;
    if (op == 56) return hw >= 7 ? pipe_class(16) : (ooo ? pipe_class(0x300) : pipe_class(0));
    if (op == 49 || op == 50) return ooo ? pipe_class(0x100 | field_bits(inst[2], 28, 4)) : pipe_class(0);
    if (op == 51 || op == 52) return ooo ? 0x300 : 0;
    if (hw == 6 && (operand_type_field(inst, 0) == 11 || field_bits(inst[1], 4, 4) == 11))
        return ooo ? 0x300 : 0;
    if (hw < 5) return 1;
    const unsigned D = field_bits(inst[1], 4, 4);
    if (hw < 7) {
        if ((D & 3u) == 3 || (operand_type_field(inst, 0) & 3u) == 3 || (operand_type_field(inst, 1) & 3u) == 3)
            return 8;
        return field_bits(inst[1], 7, 1) ? 2 : 4;
    }
    pipe_class p;
    if (D == 11 || D == 15)
        p = 8;
    else
        p = field_bits(inst[1], 7, 1) ? 2 : 4;
    if (hw == 9) {
        std::uint8_t kind = 0;
        if (operand_arf_kind(inst, kind, -1, hw) && kind == 22) p = 32;
    }
    return p;
}

dependency_control_word decode_dependency_control(const instruction_word& inst) {
    const unsigned v = field_bits(inst[0], 8, 10);
    const unsigned op = inst[0] & 0x7Fu;
    if (v == 0x0F0) return 32;
    const unsigned T = v & 0x1Fu, D = (v >> 5) & 7u, M = (v >> 8) & 3u;
    auto word = [](unsigned token, unsigned use, unsigned distance, unsigned pipe) {
        return static_cast<dependency_control_word>(token | (use << 6) | (distance << 8) | (pipe << 12));
    };
    if (M == 0) {
        if (v & 0x80u) {
            const unsigned u = (v >> 5) & 3u;
            return word(T, u == 0 ? 2u : (u == 1 ? 1u : 3u), 0, 0);
        }
        static const unsigned pipes[8] = {0, 1, 2, 3, 4, 5, 6, 1};
        const unsigned pf = (v >> 3) & 0xFu;
        return word(0, 0, v & 7u, pf < 8 ? pipes[pf] : 0u);
    }
    if (op >= 49 && op <= 52) return word(T, 3, D, M);
    if (op == 89) return word(T, M == 3 ? 2u : (M == 1 ? 3u : 1u), D, 0);
    if (M == 1 || M == 3) return word(T, 2, D, M == 3 ? 1u : 0u);
    return word(T, 1, D, 0);
}

dependency_control_word decode_dependency_control_a(const instruction_word& inst) {
    const unsigned B = field_bits(inst[0], 8, 8);
    const unsigned op = inst[0] & 0x7Fu;
    const unsigned T = B & 0xFu;
    auto word = [](unsigned token, unsigned use, unsigned distance, unsigned pipe) {
        return static_cast<dependency_control_word>(token | (use << 6) | (distance << 8) | (pipe << 12));
    };
    if (B & 0x80u) {
        const bool setter = (op >= 49 && op <= 52) || op == 56 || op == 89 || op == 90;
        return word(T, setter ? 3u : 2u, (B >> 4) & 7u, (op == 49 || op == 50) ? 1u : 0u);
    }
    switch ((B >> 4) & 7u) {
    case 2: return word(T, 2, 0, 0);
    case 3: return word(T, 1, 0, 0);
    case 4: return word(T, 3, 0, 0);
    default: break;
    }
    const unsigned pipe = (B >= 0x50 && B <= 0x57) ? 4u : ((B >> 3) & 3u);
    return word(0, 0, B & 7u, pipe);
}

}  // namespace vasm
}  // namespace ovx
}  // namespace korami
