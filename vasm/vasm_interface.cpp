// The kernel interface: arguments, their placement in the cross-thread
// payload and the lookups of the emitters.
#include "vasm/vasm.hpp"

namespace korami {
namespace ovx {
namespace vasm {

namespace {

unsigned slot_bytes(type_code t) {
    const unsigned l = type_log2_bits(t);
    return 4u << (l < 5 ? 0 : l - 5);
}

const std::string& local_size_name(int dimension) {
    static const std::string names[3] = {"__local_size0", "__local_size1", "__local_size2"};
    return names[dimension];
}

const std::string& scratch_size_name() {
    static const std::string name = "__scratch_size";
    return name;
}

}  // namespace

register_operand unplaced_location(type_code t) {
    return register_operand((std::uint64_t(t) << 23) | (1ull << 63) | (1ull << 39) | (1ull << 9));
}

register_operand scalar_location(unsigned reg, unsigned element_offset, type_code t) {
    return register_operand(std::uint64_t(reg & 0x1FFu) | (std::uint64_t(element_offset & 0x7FFu) << 10) |
                            (std::uint64_t(t) << 23) | (0x80ull << 32));
}

kernel_interface::kernel_interface(int hw)
    : hardware_number(hw),
      simd_size(hw >= 7 ? 16 : 8),
      inline_data_registers((hw == 5 || hw == 6) ? 1u : 0u) {}

void kernel_interface::add_argument(const std::string& name, type_code type, std::int32_t kind,
                                    std::uint32_t model) {
    interface_argument a;
    a.name = name;
    a.type = type;
    a.kind = kind;
    if (kind != 1)
        a.model = 0;
    else if (model == 4)
        a.model = hardware_number < 7 ? 3u : 1u;
    else
        a.model = model;
    a.location = unplaced_location(type);
    a.binding_table_index = 128;
    a.index = static_cast<std::int32_t>(next_argument_index);
    arguments.push_back(std::move(a));
    ++next_argument_index;
}

unsigned kernel_interface::payload_start_register() const {
    if (local_id_dimensions != 0) {
        if (simd_size == 1) return 2;
        if (hardware_number < 7 && simd_size >= 17) return 7;
        return 4;
    }
    return hardware_number < 5 ? 2u : 1u;
}

std::int64_t kernel_interface::payload_offset(const register_operand& loc) const {
    return (std::int64_t(loc.reg9()) - std::int64_t(payload_start_register())) * register_size() +
           std::int64_t(loc.element_offset()) * type_bytes(loc.type());
}

void kernel_interface::place_arguments(int pass_class, unsigned& reg, unsigned& byte,
                                       std::uint32_t& binding_counter) {
    const unsigned R = register_size();
    for (interface_argument& a : arguments) {
        const int cls = place_by_kind ? a.kind : 0;
        if (cls != pass_class) continue;
        const unsigned slot = slot_bytes(a.type);
        const unsigned element = type_bytes(a.type);
        if (!a.location.invalid()) {
            // Set by hand: keep it, and move the running position past it.
            const unsigned its_reg = a.location.reg9();
            const int its_byte_signed = a.location.element_offset() * static_cast<int>(type_bytes(a.location.type()));
            const unsigned its_byte = its_byte_signed < 0 ? 0u : static_cast<unsigned>(its_byte_signed);
            if (its_reg > reg) {
                reg = its_reg;
                byte = its_byte;
            } else if (its_reg == reg && its_byte > byte) {
                byte = its_byte;
            }
        } else {
            if (a.name == local_size_name(0) && byte > R - 12) {
                reg = (reg + 1) & 0x1FFu;
                byte = 0;
            }
            byte = (byte + slot - 1) / slot * slot;
            if (byte >= R) {
                reg = (reg + 1) & 0x1FFu;
                byte = 0;
            }
            // Every encoding holds 8 register bits: a payload that runs past
            // register 255 cannot be addressed.
            if (reg > 255) throw unsupported_argument_location_override();
            a.location = scalar_location(reg, byte / element, a.type);
        }
        byte += slot;
        if (a.kind == 0) {
            if (a.type == type_df) uses_fp64 = 1;
            if (a.type == type_hf) uses_fp16 = 1;
        } else if (a.kind == 1) {
            if (!(a.model & 1u)) a.location = register_operand(1ull << 63);
            if (a.model & 2u) a.binding_table_index = binding_counter;
            ++binding_counter;
        }
    }
}

void kernel_interface::finalize_interface() {
    const unsigned R = register_size();
    const unsigned start = payload_start_register();
    unsigned reg, byte;
    if (!payload_start_override.invalid()) {
        reg = payload_start_override.reg9();
        const int b = payload_start_override.element_offset() *
                      static_cast<int>(type_bytes(payload_start_override.type()));
        byte = b < 0 ? 0u : static_cast<unsigned>(b);
    } else {
        reg = start;
        byte = 32;
    }
    std::uint32_t binding_counter = 0;
    place_arguments(2, reg, byte, binding_counter);
    place_arguments(1, reg, byte, binding_counter);
    place_arguments(0, reg, byte, binding_counter);
    if (scratch_size != 0) add_argument(scratch_size_name(), type_uq, 3, 4);
    if (uses_local_size && enqueued_local_size)
        for (int d = 0; d < 3; ++d) add_argument(local_size_name(d), type_ud, 3, 4);
    place_arguments(3, reg, byte, binding_counter);
    payload_size = (byte + 31) / 32 * 32 +
                   static_cast<std::uint32_t>((static_cast<int>(reg) - static_cast<int>(start)) * static_cast<int>(R));
    payload_registers = (payload_size + R - 1) / R;
    if (uses_local_size && !enqueued_local_size) {
        for (int d = 0; d < 3; ++d) {
            interface_argument a;
            a.name = local_size_name(d);
            a.type = type_ud;
            a.kind = 3;
            a.model = 0;
            a.location = scalar_location(start, 3 + d, type_ud);
            a.binding_table_index = 128;
            a.index = -1;
            arguments.push_back(std::move(a));
        }
    }
    finalized = 1;
}

register_operand kernel_interface::argument_location(const std::string& name) const {
    for (const interface_argument& a : arguments) {
        if (a.name == name) {
            if (a.location.invalid()) throw unknown_argument_exception();
            return a.location;
        }
    }
    throw unknown_argument_exception();
}

register_operand kernel_interface::find_argument(int dimension) const {
    if (dimension < 0 || dimension > 2) throw unknown_argument_exception();
    return argument_location(local_size_name(dimension));
}

std::uint32_t kernel_interface::binding_table_index(const std::string& name) const {
    for (const interface_argument& a : arguments)
        if (a.name == name) return a.binding_table_index;
    return 128;
}

void kernel_interface::require_finalized() const {
    if (!finalized) throw interface_not_finalized();
}

}  // namespace vasm
}  // namespace ovx
}  // namespace korami
