// Send instructions and the message descriptor builders.
#include "vasm/vasm.hpp"

#include <stdexcept>

namespace korami {
namespace ovx {
namespace vasm {

namespace {

// Sources of the send field tables.
enum send_source : std::uint8_t {
    s_mod, s_ex, s_desc, s_dst_file, s_dst_reg, s_src0_file, s_src0_reg, s_src1_file, s_src1_reg,
    s_sfid, s_dst_type, s_dst_field, s_src0_field, s_one, s_count
};

const field_move q1_send_moves[] = {
    {s_mod, 8, 16, 0, 8},   {s_mod, 28, 4, 0, 28},  {s_ex, 0, 4, 0, 24},
    {s_mod, 32, 3, 1, 0},   {s_mod, 36, 1, 1, 4},   {s_mod, 43, 5, 1, 11},
    {s_dst_file, 0, 1, 1, 3}, {s_dst_type, 0, 4, 1, 5}, {s_src0_file, 0, 1, 1, 9},
    {s_dst_field, 0, 16, 1, 16},
    {s_ex, 16, 4, 2, 0},    {s_src0_field, 4, 12, 2, 4}, {s_ex, 20, 4, 2, 16},
    {s_ex, 24, 4, 2, 21},   {s_one, 0, 2, 2, 25},   {s_ex, 28, 4, 2, 27},
    {s_desc, 0, 31, 3, 0},  {s_ex, 5, 1, 3, 31},
};

const field_move q3_send_moves[] = {
    {s_mod, 14, 1, 1, 0},      {s_mod, 46, 1, 1, 1},       {s_ex, 5, 1, 1, 2},
    {s_ex, 11, 13, 1, 3},      {s_dst_file, 0, 1, 1, 18},  {s_desc, 20, 5, 1, 19},
    {s_dst_reg, 0, 8, 1, 24},
    {s_ex, 24, 2, 2, 0},       {s_src0_file, 0, 1, 2, 2},  {s_desc, 25, 5, 2, 3},
    {s_src0_reg, 0, 8, 2, 8},  {s_desc, 0, 11, 2, 17},     {s_sfid, 0, 4, 2, 28},
    {s_ex, 26, 2, 3, 0},       {s_src1_file, 0, 1, 3, 2},  {s_ex, 6, 5, 3, 3},
    {s_src1_reg, 0, 8, 3, 8},  {s_desc, 11, 9, 3, 17},     {s_desc, 30, 2, 3, 26},
    {s_ex, 28, 4, 3, 28},
};

void check_send_register(const register_operand& op) {
    if (op.invalid()) throw invalid_object_exception();
    if (op.indirect()) throw invalid_operand_exception();
    if (!op.arf() && (op.value & 0x100u)) throw invalid_operand_exception();
}

void emit_send_q3_family(code_generator& gen, unsigned opcode, instruction_modifier given,
                         unsigned sfid, register_operand dst, register_operand src0,
                         register_operand src1, std::uint32_t ex, std::uint32_t desc) {
    const int hw = gen.hardware_number();
    const instruction_modifier mod = given | gen.default_modifier;
    check_send_register(dst);
    check_send_register(src1);
    std::uint64_t src[s_count] = {};
    src[s_mod] = mod;
    src[s_ex] = ex;
    src[s_desc] = desc;
    src[s_dst_file] = dst.arf() ? 0 : 1;
    src[s_dst_reg] = dst.reg();
    src[s_src1_file] = src1.arf() ? 0 : 1;
    src[s_src1_reg] = src1.reg();
    src[s_sfid] = sfid & 0xFu;
    bool indirect_src0 = false;
    if (src0.invalid()) throw invalid_object_exception();
    if (src0.indirect() && hw == 9) {
        // Quen8 names an architecture register through an indirect src0.
        indirect_src0 = true;
        src[s_src0_file] = 0;
        src[s_src0_reg] = (src0.value & 0x100u) ? 0x60u : 0x10u;
    } else {
        check_send_register(src0);
        src[s_src0_file] = src0.arf() ? 0 : 1;
        src[s_src0_reg] = src0.reg();
    }
    instruction_word w{};
    w[0] = family_dword0(hw, opcode, mod, family_dependency_field(hw, mod, opcode));
    pack_fields(w, q3_send_moves, src);
    if (indirect_src0) w[3] = (w[3] & ~(0x1Fu << 3)) | (((src0.low() & 0xFFu) >> 1) & 0x1Fu) << 3;
    gen.append(w);
}

void require(bool ok, const char* what) {
    if (!ok) throw std::logic_error(std::string("vasm: ") + what + " is not available for this generation");
}

}  // namespace

void emit_send(code_generator& gen, instruction_modifier given, register_operand dst,
               register_operand src0, std::uint32_t ex, std::uint32_t desc) {
    const int hw = gen.hardware_number();
    require(gen.family() == encoding_family::q1, "this form of emit_send");
    const instruction_modifier mod = given | gen.default_modifier;
    const unsigned exec = static_cast<unsigned>(mod & 0xFFu);
    // Send payloads are raw registers: an untyped operand counts as 32-bit.
    fix_operand_region(dst, hw, exec, 4, type_ud, -1, 2);
    fix_operand_region(src0, hw, exec, 4, type_ud, 0, 2);
    std::uint64_t src[s_count] = {};
    src[s_mod] = mod;
    src[s_ex] = ex;
    src[s_desc] = desc;
    src[s_dst_file] = dst.arf() ? 0 : 1;
    src[s_dst_type] = hardware_type_q1_family(hw, dst.type(), false);
    src[s_src0_file] = src0.arf() ? 0 : 1;
    src[s_dst_field] = encode_destination_q1(dst);
    src[s_src0_field] = encode_source_region_q1(src0);
    src[s_one] = 3;
    instruction_word w{};
    w[0] = 49;
    pack_fields(w, q1_send_moves, src);
    gen.append(w);
}

void emit_send(code_generator& gen, unsigned opcode, instruction_modifier mod, register_operand dst,
               register_operand src0, register_operand src1, std::uint32_t ex, std::uint32_t desc) {
    require(gen.hardware_number() == 4, "this form of emit_send");
    emit_send_q3_family(gen, opcode & ~2u, mod, ex & 0xFu, dst, src0, src1, ex, desc);
}

void emit_send(code_generator& gen, unsigned opcode, instruction_modifier mod, std::uint8_t sfid,
               register_operand dst, register_operand src0, register_operand src1, std::uint64_t,
               std::uint32_t ex, std::uint32_t desc) {
    const int hw = gen.hardware_number();
    require(hw == 6 || hw >= 7, "this form of emit_send");
    emit_send_q3_family(gen, opcode, mod, sfid & 0x1Fu, dst, src0, src1, ex, desc);
}

// --- Descriptor builders ------------------------------------------------------

void encode_store_descriptor_q1(std::uint32_t& desc_out, std::uint32_t& ex_out, unsigned e,
                                unsigned n, std::uint64_t model_word) {
    const unsigned m = static_cast<unsigned>((model_word >> 32) & 0xFFu);
    const std::uint32_t s = static_cast<std::uint32_t>(model_word & 0xFFu);
    if (m == 16 || m == 32) throw read_only_exception();
    const unsigned r = e / 16 + 1;
    std::uint32_t desc = s | (((m == 4 ? 2 * r : r) & 0xFu) << 25) | (((r * n) & 0x1Fu) << 20);
    if (m != 4 && (m & 0x13u) == 0) throw invalid_model_exception();
    if (m == 4)
        desc |= 0x68100u | (((e / 16) & 1u) << 12);
    else
        desc |= 0x2C200u | (((e / 16) & 1u) << 8);
    desc |= (log2u(n) & 3u) << 10;
    std::uint32_t ex = (ex_out & 0xFFFFF820u) | (m == 4 ? 12u : 10u) | (((desc >> 20) & 0x1Fu) << 6);
    desc &= 0x000FFFFFu | 0x1E000000u;
    desc_out = desc;
    ex_out = ex;
}

namespace {

// Steps shared by the Quen5..Quen8 load and the Quen6..Quen8 store: SFID,
// operation bits, address model, surface and offset.
void address_model_bits(std::uint32_t& d, std::uint32_t& x, unsigned& m, const message_spec& spec,
                        std::uint64_t model_word, const address_record& address) {
    m = static_cast<unsigned>((model_word >> 32) & 0xFFu);
    std::uint32_t s = static_cast<std::uint32_t>(model_word);
    x = (x & ~0x1Fu) | (m == 8 ? 14u : 15u);
    d = (spec.base_descriptor & ~0x180u) + 256u + (m == 4 ? 128u : 0u);
    if (m == 2) {
        m = 1;
        s = 255;
    }
    const std::int32_t off = address.offset;
    if (m == 1) {
        if (off < -2048 || off > 2047) throw invalid_address_modifier_exception();
        d = (d & ~(3u << 29)) | (3u << 29);
        x = (x & 0xFEFu) | ((static_cast<std::uint32_t>(off) & 0xFFFu) << 12) | ((s & 0xFFu) << 24);
    } else if (m == 4 || m == 8) {
        if (off < -0x80000 || off > 0x7FFFF) throw invalid_address_modifier_exception();
        d &= ~(3u << 29);
        x = (x & 0xFFFu) | ((static_cast<std::uint32_t>(off) & 0xFFFFFu) << 12);
    } else if (m == 128 || m == 129) {
        d = (d & ~(3u << 29)) | ((m == 128 ? 1u : 2u) << 29);
        x = (x & 0x2Fu) | (s << 6);
    } else {
        throw invalid_model_exception();
    }
}

bool block_message(const message_spec& spec, std::uint32_t d) {
    return (spec.base_descriptor & 0x8000u) && (d & 0x3Fu) == 0;
}

unsigned element_count(const message_spec& spec) { return spec.element_count == 0 ? 1u : spec.element_count; }

}  // namespace

void encode_block_load_descriptor(int hw, std::uint32_t& desc_out, std::uint32_t& ex_out, unsigned e,
                                  register_operand dst, const message_spec& spec,
                                  std::uint64_t model_word, const address_record& address) {
    const unsigned R = register_bytes(hw);
    std::uint32_t d = 0, x = ex_out;
    unsigned m = 0;
    address_model_bits(d, x, m, spec, model_word, address);
    const unsigned count = element_count(spec);
    unsigned response, message;
    if (block_message(spec, d)) {
        response = (spec.element_size * count + R - 1) / R;
        message = 1;
    } else {
        const unsigned a = hw < 7 ? e / 16 + 1 : e / 32 + 1;
        const unsigned per = (spec.element_size / 8u + 1u) * a;
        message = (m == 4 || m == 8) ? 2 * a : a;
        response = count * per;
    }
    if (dst.arf() && dst.reg() == 0) response = 0;
    d = (d & ~(0x1FFu << 20)) | ((response & 0x1Fu) << 20) | ((message & 0xFu) << 25);
    desc_out = d;
    ex_out = x;
}

void encode_store_descriptor_q6(std::uint32_t& desc_out, std::uint32_t& ex_out, unsigned e,
                                const message_spec& spec, std::uint64_t model_word,
                                const address_record& address) {
    const unsigned mm = static_cast<unsigned>((model_word >> 32) & 0xFFu);
    if (mm == 16 || mm == 32) throw read_only_exception();
    std::uint32_t d = 0, x = ex_out;
    unsigned m = 0;
    address_model_bits(d, x, m, spec, model_word, address);
    const unsigned count = element_count(spec);
    unsigned message, ext_length;
    if (block_message(spec, d)) {
        ext_length = (spec.element_size * count + 63u) / 64u;
        message = 1;
    } else {
        const unsigned a = (e / 32 + 1) % 8;
        message = (m == 4 || m == 8) ? 2 * a : a;
        ext_length = (count * (spec.element_size / 8u + 1u) * a) % 32;
    }
    x = (x & ~(0x1Fu << 6)) | ((ext_length & 0x1Fu) << 6);
    d = (d & ~(0x1FFu << 20)) | ((message & 0xFu) << 25) | 4u;
    desc_out = d;
    ex_out = x;
}

}  // namespace vasm
}  // namespace ovx
}  // namespace korami
