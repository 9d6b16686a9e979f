// The argument prologue of the generations whose threads load their local
// IDs and their cross-thread payload themselves.
#include "vasm/vasm.hpp"

#include <stdexcept>

namespace korami {
namespace ovx {
namespace vasm {

namespace {

struct prologue_emitter {
    code_generator& gen;
    int hw;

    void block_load(unsigned dst_reg, std::uint32_t base, unsigned count, unsigned size) {
        const register_operand dst = make_register(dst_reg, type_none, 0, 0, 0, 1);
        const address_record address{make_register(127, type_none, 0, 0, 0, 1), 0};
        std::uint32_t desc = 0, ex = 0;
        encode_block_load_descriptor(hw, desc, ex, 1, dst,
                                     message_spec{base, static_cast<std::uint8_t>(count),
                                                  static_cast<std::uint8_t>(size)},
                                     address_model_word(2, 255), address);
        emit_send(gen, 49, 1, static_cast<std::uint8_t>(ex & 0x1Fu), dst, address.reg, null_ud, ~0ull, ex, desc);
    }

    void and_immediate(register_operand dst, register_operand src, std::uint32_t value, type_code t) {
        emit_binary_immediate(gen, 101, 1, t, dst, src, immediate_operand{value, t});
    }

    void add_word(register_operand dst, unsigned value) {
        const std::uint32_t v = value & 0xFFFFu;
        emit_binary_immediate(gen, 64, 1, type_ud, dst, dst, immediate_operand{v | (v << 16), type_uw});
    }

    void place_once(label& l) {
        if (l >= 0 && static_cast<std::uint32_t>(l) < gen.labels.targets.size() &&
            gen.labels.targets[static_cast<std::uint32_t>(l)] != label_unplaced)
            return;
        gen.place_label(l);
    }
};

}  // namespace

void emit_argument_prologue(code_generator& gen) {
    const int hw = gen.hardware_number();
    if (hw != 6 && hw < 7) throw std::logic_error("vasm: the argument prologue is not available for this generation");
    const kernel_interface& k = gen.iface;
    const instruction_modifier saved = gen.default_modifier;
    gen.default_modifier |= modifier_no_mask | modifier_auto_dependency;
    prologue_emitter p{gen, hw};
    const bool q5 = hw < 7;
    const unsigned R = register_bytes(hw);
    const register_operand r127_d0 = make_register(127, type_ud, 0);
    const register_operand r127_d2 = make_register(127, type_ud, 2);
    const register_operand r127_w0 = make_register(127, type_uw, 0);
    const register_operand r0_d0 = make_register(0, type_ud, 0);
    const register_operand r0_w4 = make_register(0, type_uw, 4);

    // Per-thread local IDs: each hardware thread loads its own block of
    // local-ID registers from the per-thread data that follows the payload.
    const int dims = k.local_id_dimensions;
    if (dims != 0) {
        k.require_finalized();
        const unsigned simd = static_cast<unsigned>(k.simd_size);
        const std::size_t start = gen.top().instruction_count();
        if (dims > 0) {
            unsigned stride, base, count;
            if (simd == 1) {
                stride = q5 ? 32 : 64;
                base = 0x8B400;
                count = 4;
            } else if (q5) {
                stride = simd > 16 ? 192 : 96;
                base = 0x8C400 + 0x1000 * ((dims > 1 ? 1u : 0u) + (simd > 16 ? 1u : 0u));
                count = 8u << ((dims > 1 ? 1 : 0) + (simd > 16 ? 1 : 0));
            } else {
                stride = 192;
                base = dims == 1 ? 0x8D400 : 0x8E400;
                count = dims == 1 ? 16 : 32;
            }
            p.and_immediate(r127_d2, r0_d0, 0xFFFFFFE0u, type_ud);
            p.and_immediate(r127_w0, r0_w4, 0x00FF00FFu, type_uw);
            p.add_word(r127_d2, k.payload_size);
            emit_ternary(gen, 1, r127_d0, r127_d2, r127_w0,
                         immediate_operand{(stride & 0xFFFFu) | ((stride & 0xFFFFu) << 16), type_uw});
            p.block_load(1, base, count, 4);
            if (dims == 3) {
                const bool wide = q5 && simd > 16;
                p.add_word(r127_d0, q5 ? (wide ? 0x80u : 0x40u) : 0x80u);
                if (q5 && !wide)
                    p.block_load(3, 0x8C400, 8, 4);
                else if (q5)
                    p.block_load(5, 0x8D400, 16, 4);
                else
                    p.block_load(3, 0x8D400, 16, 4);
            }
        }
        while (gen.top().instruction_count() - start < 12) emit_filler(gen);
        p.place_once(gen.per_thread_data_end);
    }

    // Cross-thread payload: the kernel arguments shared by every thread of
    // the group, loaded after the per-thread data.
    k.require_finalized();
    int n = static_cast<int>(k.payload_registers) - static_cast<int>(k.inline_data_registers);
    if (n <= 0) {
        gen.default_modifier = saved;
        return;
    }
    unsigned start_reg;
    if (dims != 0)
        start_reg = k.simd_size == 1 ? 2u : ((hw < 7 && k.simd_size > 16) ? 7u : 4u);
    else
        start_reg = hw < 5 ? 2u : 1u;
    unsigned reg = start_reg + k.inline_data_registers;
    p.and_immediate(r127_d0, r0_d0, 0xFFFFFFE0u, type_ud);
    for (;;) {
        unsigned chunk = 1;
        if (n > 1) {
            chunk = 1;
            while (chunk * 2 <= static_cast<unsigned>(n) && chunk < 8) chunk *= 2;
        }
        const unsigned l = log2u(chunk);
        const std::uint32_t base = q5 ? ((0x88600u & ~(7u << 12)) | ((l + 3) << 12))
                                      : ((0x8C600u & ~(3u << 12)) | (l << 12));
        p.block_load(reg, base, (q5 ? 4u : 8u) * chunk, 8);
        reg += chunk;
        if (static_cast<unsigned>(n) <= chunk) break;
        p.add_word(r127_d0, chunk * R);
        n -= static_cast<int>(chunk);
    }
    gen.default_modifier = saved;
    p.place_once(gen.payload_load_end);
}

}  // namespace vasm
}  // namespace ovx
}  // namespace korami
