// The probe kernel "binary_test": compares every argument against a fixed
// pattern, reads one word through a pointer, checks the local size and
// stores a 32-bit verdict (1 = all matched) into the first word of "ok".
#include "vasm/vasm.hpp"

namespace korami {
namespace ovx {
namespace vasm {

namespace {

constexpr register_operand r0{0x0000100030000000ull};
constexpr register_operand r30_scalar{0x000000805000001Eull};
constexpr register_operand r30_payload{0x000010003000001Eull};
constexpr register_operand r31{0x000010003000001Full};
constexpr register_operand r64{0x0000100030000040ull};
constexpr register_operand r127{0x000010003000007Full};

constexpr instruction_modifier compare_mod = 0x0000000001000001ull;
constexpr instruction_modifier jump_mod = 0x0000000000110001ull;

// 32-bit half of a 64-bit argument: element offset doubled (plus one for the
// high half), type 32-bit unsigned.
register_operand half_view(register_operand loc, bool high) {
    register_operand v = loc;
    v.set_type(type_ud);
    v.set_element_offset(loc.element_offset() * 2 + (high ? 1 : 0));
    return v;
}

// A 64-bit pointer argument as a 2-element 32-bit source; the region is
// completed by the emitter.
register_operand pointer_view(register_operand loc, type_code t, bool keep_bit31) {
    register_operand v = half_view(loc, false);
    v.set_type(t);
    const std::uint64_t keep = keep_bit31 ? 0xFFFC0000ull : 0x7FFC0000ull;
    v.value = (v.value & 0xFFFFFFFFull) | (((v.value >> 32) & keep) << 32) | (0x1000ull << 32);
    return v;
}

// r31 as a 32-bit unsigned scalar.
register_operand scalar_view(register_operand op) {
    register_operand v = op;
    v.set_type(type_ud);
    v.set_element_offset(0);
    v.value = (v.value & 0xFFFFFFFFull) | (((v.value >> 32) & 0xFFFC0000ull) << 32) | (0x80ull << 32);
    return v;
}

}  // namespace

void build_binary_test(code_generator& gen) {
    const int hw = gen.hardware_number();
    const encoding_family fam = gen.family();
    const bool q6 = fam == encoding_family::q6;
    const bool has_prologue = hw >= 6;
    kernel_interface& k = gen.iface;

    k.kernel_name = "binary_test";
    gen.declare_argument("src0", type_ud);
    gen.declare_argument("src1", type_uq);
    gen.declare_argument("src2", type_uw);
    gen.declare_argument("src3", type_uw);
    gen.declare_argument("src4", type_uq);
    gen.declare_argument("src5", type_uq);
    k.add_argument("src_ptr", type_uq, 1, 4);
    k.add_argument("ok", type_uq, 1, 4);
    gen.default_modifier |= modifier_auto_dependency;
    k.simd_size = hw >= 7 ? 16 : 8;
    k.local_id_dimensions = 3;
    k.uses_local_size = 1;
    k.finalize_interface();

    register_operand src[6];
    const char* names[6] = {"src0", "src1", "src2", "src3", "src4", "src5"};
    for (int i = 0; i < 6; ++i) src[i] = gen.get_argument_location(names[i]);
    const register_operand src_ptr = gen.get_argument_location("src_ptr");
    const std::uint32_t ok_index = hw < 7 ? k.binding_table_index("ok") : 128u;
    const register_operand ok = gen.get_argument_location("ok");

    if (has_prologue)
        emit_argument_prologue(gen);
    else
        k.require_finalized();
    gen.default_modifier |= modifier_no_mask;

    label exit = no_label;
    auto move_immediate = [&](register_operand dst, std::uint32_t value, type_code t, std::uint16_t word) {
        if (q6)
            emit_move_word_immediate(gen, 1, dst, word);
        else
            emit_unary_immediate(gen, fam == encoding_family::q1 ? 1u : 97u, 1, type_none, dst,
                                 immediate_operand{value, t});
    };
    auto compare = [&](register_operand null_dst, register_operand s, std::uint32_t value, type_code t,
                       instruction_modifier mod) {
        if (hw <= 4)
            emit_compare_immediate(gen, mod, null_dst, s, immediate_operand{value, t});
        else
            emit_binary_immediate(gen, 112, mod, type_none, null_dst, s, immediate_operand{value, t});
        emit_jump_to_label(gen, jump_mod, exit);
    };

    // 1: verdict := 0
    move_immediate(r30_scalar, 0, type_uw, 0);
    // 2-19: the scalar arguments, 64-bit ones low half first.
    compare(null_ud, src[0], 0xBEEFCAFEu, type_ud, compare_mod);
    compare(null_ud, half_view(src[1], false), 0x53589793u, type_ud, compare_mod);
    compare(null_ud, half_view(src[1], true), 0x31415926u, type_ud, compare_mod);
    compare(null_uw, src[2], 0xBEADBEADu, type_uw, compare_mod);
    compare(null_uw, src[3], 0xFACEFACEu, type_uw, compare_mod);
    compare(null_ud, half_view(src[4], false), 0x89ABCDEFu, type_ud, compare_mod);
    compare(null_ud, half_view(src[4], true), 0x01234567u, type_ud, compare_mod);
    compare(null_ud, half_view(src[5], false), 0x76543210u, type_ud, compare_mod);
    compare(null_ud, half_view(src[5], true), 0xFEDCBA98u, type_ud, compare_mod);
    // 20: r64 := the pointer
    emit_unary(gen, 0x0000000000200002ull, r64, pointer_view(src_ptr, type_ud, false));
    // 21: load the word behind the pointer into r31.
    const instruction_modifier load_mod = 0x01C0000000000001ull;
    if (fam == encoding_family::q1) {
        emit_send(gen, load_mod, r31, r64, 0x0C, 0x041401FF);
    } else if (hw == 4) {
        emit_send(gen, 49, load_mod, r31, r64, null_ud, 0x0C, 0x041401FF);
    } else if (hw == 6) {
        emit_send(gen, 49, load_mod, 12, r31, r64, null_ud, ~0ull, 0x0C, 0x041401FF);
    } else {
        std::uint32_t desc = 0, ex = 0;
        encode_block_load_descriptor(hw, desc, ex, static_cast<unsigned>(load_mod & 0xFFu), r31,
                                     message_spec{0x600, 0, 8}, 0x00000004000000FFull,
                                     address_record{r64, 0});
        emit_send(gen, 49, load_mod, static_cast<std::uint8_t>(ex & 0x1Fu), r31, r64, null_ud, ~0ull, ex, desc);
    }
    // 22-23: the loaded word waits for the load's token.
    compare(null_ud, scalar_view(r31), 0xABADFEEDu, type_ud, 0x0080000001000001ull);
    // 24-29: local size 4 x 2 x 1.
    compare(null_ud, k.find_argument(0), 0x00040004u, type_uw, compare_mod);
    compare(null_ud, k.find_argument(1), 0x00020002u, type_uw, compare_mod);
    compare(null_ud, k.find_argument(2), 0x00010001u, type_uw, compare_mod);
    // 30: verdict := 1
    move_immediate(r30_scalar, 0x00010001u, type_uw, 1);
    // 31: every failed check lands here.
    gen.place_label(exit);
    // 32: the store's address.
    if (q6)
        emit_unary(gen, 0x0000000000200002ull, r64, pointer_view(ok, type_d, true));
    else
        emit_unary_immediate(gen, fam == encoding_family::q1 ? 1u : 97u, 1, type_ud, r64,
                             immediate_operand{0, type_uw});
    // 33: verdict store.
    const instruction_modifier store_mod = 0x01C2000000000001ull;
    if (!q6) {
        std::uint32_t desc = 0, ex = 0;
        encode_store_descriptor_q1(desc, ex, 1, 1, address_model_word(1, ok_index));
        if (fam == encoding_family::q1) {
            // No split-send emitter in this family: the word is built here.
            const instruction_modifier d = gen.default_modifier;
            const std::uint32_t s = encode_source_region_q1(r64);
            instruction_word w{};
            w[0] = ((ex & 0xFu) << 24) + (static_cast<std::uint32_t>(d) & 0xF0FFFF00u) + 51u;
            w[1] = (static_cast<std::uint32_t>(d >> 32) & 0x9E7u) | 0x1E010u;
            w[2] = (ex & 0xFFFF0000u) | ((ex >> 6) & 0xFu) | (s & 0xDFF0u);
            w[3] = static_cast<std::uint32_t>((std::uint64_t(ex & 0xFFFFFFE0u) << 26)) | (desc & 0x7FFFFFFFu);
            gen.append(w);
        } else if (hw == 4) {
            emit_send(gen, 51, store_mod, null_ud, r64, r30_payload, ex, desc);
        } else {
            emit_send(gen, 49, store_mod, static_cast<std::uint8_t>(ex & 0x1Fu), null_ud, r64, r30_payload, ~0ull,
                      ex, desc);
        }
    } else {
        std::uint32_t desc = 0, ex = 0x0F;
        encode_store_descriptor_q6(desc, ex, static_cast<unsigned>(store_mod & 0xFFu), message_spec{0x400, 1, 4},
                                   0x00000004000000FFull, address_record{r64, 0});
        ex = (ex & ~0x1Fu) | 15u;
        emit_send(gen, 49, store_mod, 15, null_ud, r64, r30_payload, ~0ull, ex, desc);
    }
    // 34: fence after the store.
    if (has_prologue) {
        gen.fence_destination = r64;
        gen.fence_label = no_label;
        gen.place_label(gen.fence_label);
        emit_send(gen, 49, 0x00C2000400000001ull, 15, r64, r0, null_ud, ~0ull, 0,
                  hw == 6 ? 0x0210671Fu : 0x0210071Fu);
    }
    // 35: copy of the thread header, 36: end of thread.
    emit_unary(gen, 0x0000000000600008ull, r127, r0);
    const instruction_modifier eot_mod = 0x01C2800400600008ull;
    if (fam == encoding_family::q1)
        emit_send(gen, eot_mod, null_ud, r127, 0x27, 0x02000010);
    else if (hw == 4)
        emit_send(gen, 49, eot_mod, null_ud, r127, null_ud, 0x27, 0x02000010);
    else
        emit_send(gen, 49, eot_mod, 3, null_ud, r127, null_ud, ~0ull, 0x23, 0x02000010);
}

std::unique_ptr<code_generator> make_binary_test_generator(int arch) {
    switch (arch) {
    case 1: return std::unique_ptr<code_generator>(new binary_test_generator<1>());
    case 2: return std::unique_ptr<code_generator>(new binary_test_generator<2>());
    case 3: return std::unique_ptr<code_generator>(new binary_test_generator<3>());
    case 5: return std::unique_ptr<code_generator>(new binary_test_generator<5>());
    case 6: return std::unique_ptr<code_generator>(new binary_test_generator<6>());
    case 7: return std::unique_ptr<code_generator>(new binary_test_generator<7>());
    case 8: return std::unique_ptr<code_generator>(new binary_test_generator<8>());
    default: return nullptr;
    }
}

}  // namespace vasm
}  // namespace ovx
}  // namespace korami
