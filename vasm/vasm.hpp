// The in-house GPU code generator: operands, instruction words, code streams
// and labels, the kernel interface, the emitters of the three encoding
// families, message descriptors, operand footprints and dependency tables.
//
// Generations are told apart by the generator hardware number: 1 Quen1,
// 3 Quen2, 4 Quen3, 6 Quen5, 7 Quen6, 8 Quen7, 9 Quen8. Registers are 32 bytes
// below 7 and 64 bytes from 7. The per-generation differences live in data
// (field tables, type tables, family parameters), chosen from the hardware
// number held by the generator; the emitters are shared.
#ifndef OVX_VASM_VASM_HPP
#define OVX_VASM_VASM_HPP

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "vasm/vasm_errors.hpp"

namespace korami {
namespace ovx {
namespace vasm {

// ---------------------------------------------------------------------------
// Generations
// ---------------------------------------------------------------------------

enum class encoding_family { q1, q3, q6 };

struct generation_info {
    int arch;             // ovx_gpu_arch_t: 1..8
    int product_code;
    int hardware_number;  // generator hardware number
    int simd_size;        // SIMD width of the probe kernel
};

// Generation of an ovx_gpu_arch_t value; null for 4 and values outside 1..8.
const generation_info* generation_of_arch(int arch);

// Encoding family of a generator hardware number (1, 3, 4, 6, 7, 8, 9);
// throws std::invalid_argument for any other number.
encoding_family family_of(int hardware_number);
inline unsigned register_bytes(int hardware_number) { return hardware_number < 7 ? 32u : 64u; }

// ---------------------------------------------------------------------------
// Operands
// ---------------------------------------------------------------------------

using type_code = std::uint8_t;
constexpr type_code type_none = 0x60;
constexpr type_code type_ud = 0xA0;  // 32-bit unsigned
constexpr type_code type_d = 0xA1;   // 32-bit signed
constexpr type_code type_uw = 0x82;  // 16-bit unsigned
constexpr type_code type_uq = 0xC8;  // 64-bit unsigned
constexpr type_code type_hf = 0x8A;  // 16-bit float
constexpr type_code type_df = 0xC6;  // 64-bit float

// log2 of the width in bits (type bits 5-7).
inline unsigned type_log2_bits(type_code t) { return (t >> 5) & 7u; }
// Element bytes: 1, 2, 4 or 8 (types narrower than 8 bits count as 1 byte).
inline unsigned type_bytes(type_code t) {
    unsigned l = type_log2_bits(t);
    return 1u << (l < 3 ? 0 : l - 3);
}
inline unsigned type_log2_bytes(type_code t) {
    unsigned l = type_log2_bits(t);
    return l < 3 ? 0 : l - 3;
}

// 64-bit operand value. Low word L: bits 0-7 register number, bit 8 (ninth
// register bit of placement), bit 9 architecture register, bits 10-20 signed
// element offset, bits 21-22 source modifiers, bits 23-30 type, bit 31
// indirect (then L 0-3 address sub-register, L 10-19 / 10-20 address
// immediate). High word H: bits 0-6 vertical stride, 7-11 width, 12-17
// horizontal stride, bit 31 invalid.
struct register_operand {
    std::uint64_t value = 0x8000000000000000ull;

    register_operand() = default;
    constexpr explicit register_operand(std::uint64_t v) : value(v) {}

    std::uint32_t low() const { return static_cast<std::uint32_t>(value); }
    std::uint32_t high() const { return static_cast<std::uint32_t>(value >> 32); }
    unsigned reg() const { return value & 0xFFu; }
    unsigned reg9() const { return value & 0x1FFu; }
    bool arf() const { return (value >> 9) & 1u; }
    int element_offset() const {
        int v = static_cast<int>((value >> 10) & 0x7FFu);
        return v >= 0x400 ? v - 0x800 : v;
    }
    unsigned source_modifiers() const { return (value >> 21) & 3u; }
    type_code type() const { return static_cast<type_code>((value >> 23) & 0xFFu); }
    bool indirect() const { return (value >> 31) & 1u; }
    unsigned vstride() const { return high() & 0x7Fu; }
    unsigned width() const { return (high() >> 7) & 0x1Fu; }
    unsigned hstride() const { return (high() >> 12) & 0x3Fu; }
    bool invalid() const { return (value >> 63) & 1u; }
    // Address immediate of an indirect operand (signed; 10 bits below
    // hardware number 7, 11 bits from 7).
    int address_immediate(int hardware_number) const;

    void set_type(type_code t) { value = (value & ~(0xFFull << 23)) | (std::uint64_t(t) << 23); }
    void set_element_offset(int e) {
        value = (value & ~(0x7FFull << 10)) | ((std::uint64_t(e) & 0x7FFu) << 10);
    }
    void set_region(unsigned vs, unsigned w, unsigned hs) {
        value = (value & ~(0x3FFFFull << 32)) | (std::uint64_t(vs & 0x7Fu) << 32) |
                (std::uint64_t(w & 0x1Fu) << 39) | (std::uint64_t(hs & 0x3Fu) << 44);
    }
    bool operator==(const register_operand& o) const { return value == o.value; }
    bool operator!=(const register_operand& o) const { return value != o.value; }
};

// A general register with a type and region (vs, w, hs); element offset e.
register_operand make_register(unsigned reg, type_code type, int element_offset = 0,
                               unsigned vs = 0, unsigned w = 0, unsigned hs = 1);
// Architecture register (null = 0, ip = 0xA0).
register_operand make_arf(unsigned reg, type_code type, unsigned vs = 0, unsigned w = 0,
                          unsigned hs = 1);
constexpr register_operand invalid_operand{0x8000000000000000ull};
constexpr register_operand null_ud{0x0000100050000200ull};  // null register, type 0xA0
constexpr register_operand null_uw{0x0000100041000200ull};  // null register, type 0x82

struct immediate_operand {
    std::uint64_t value = 0;
    type_code type = type_ud;
};

// Bits 0-7 execution size, 9-31 control (Quen1/Quen2 dword 0; bits 21-23
// log2 of the execution size, 24-27 condition modifier, 16-19 predicate
// control, 20 predicate inversion), 34 no-mask, 45 auto-dependency mark,
// 47 end of thread, 48-63 dependency control word.
using instruction_modifier = std::uint64_t;
constexpr instruction_modifier modifier_no_mask = 1ull << 34;
constexpr instruction_modifier modifier_auto_dependency = 1ull << 45;
constexpr instruction_modifier modifier_end_of_thread = 1ull << 47;

// Hardware type codes. Quen1 registers use the type index itself.
std::uint32_t hardware_type_q1_immediate(type_code t);
std::uint32_t hardware_type_q2(type_code t);      // registers and immediates
std::uint32_t hardware_type_q3(type_code t);      // Quen3..Quen8, 4-bit code
// Register / immediate type field of the Quen1 family member.
std::uint32_t hardware_type_q1_family(int hardware_number, type_code t, bool immediate);

// Operand completion: fills a missing type and region in place.
// operand_index: -1 destination, 0, 1, 2 sources; operand_count 2 or 3.
void fix_operand_region(register_operand& op, int hardware_number, unsigned exec_size,
                        unsigned size_hint, type_code default_type, int operand_index,
                        int operand_count);

// Stride / width codes: s > 0 -> log2(s) + 1, 0 -> 0; width -> log2(w).
unsigned stride_code(unsigned s);
unsigned width_code(unsigned w);

// Byte offset of a direct operand inside its register (0..register size-1).
// Throws invalid_operand_exception when it lies outside the register.
unsigned direct_byte_offset(const register_operand& op, int hardware_number);

// Quen3/Quen5 source field (24 bits).
std::uint32_t encode_register_operand(const register_operand& op);
// Quen6..Quen8 source field (24 bits).
std::uint32_t encode_source_region_q6(const register_operand& op);
// Quen1/Quen2 source field (25 bits).
std::uint32_t encode_source_region_q1(const register_operand& op);
// Destination fields (16 bits).
std::uint32_t encode_destination_q1(const register_operand& op);
std::uint32_t encode_destination_q3(const register_operand& op, int hardware_number);

// Dependency field of an instruction word from a dependency control word:
// form A (8 bits, Quen3/Quen5) and form B (10 bits, Quen6..Quen8).
std::uint32_t encode_dependency_field_a(std::uint16_t control);
std::uint32_t encode_dependency_field(std::uint16_t control, unsigned opcode);  // form B

// ---------------------------------------------------------------------------
// Encodings as data: a field move copies `width` bits starting at bit
// `src_lo` of source `source` to bit `dst_lo` of dword `dword`.
// ---------------------------------------------------------------------------

struct field_move {
    std::uint8_t source;
    std::uint8_t src_lo;
    std::uint8_t width;
    std::uint8_t dword;
    std::uint8_t dst_lo;
};

using instruction_word = std::array<std::uint32_t, 4>;

// floor(log2(v)); 0 for v <= 1. Defined for every unsigned value.
inline unsigned log2u(unsigned v) {
    unsigned l = 0;
    while (v > 1) {
        v >>= 1;
        ++l;
    }
    return l;
}

// ORs every move of the table into the word.
void pack_fields(instruction_word& word, const field_move* moves, std::size_t count,
                 const std::uint64_t* sources);
template <std::size_t N>
inline void pack_fields(instruction_word& word, const field_move (&moves)[N],
                        const std::uint64_t* sources) {
    pack_fields(word, moves, N, sources);
}

// Dword 0 of the Quen3 and Quen6 families: opcode, auto-dependency mark,
// dependency field and the control bits of the modifier.
std::uint32_t family_dword0(int hardware_number, unsigned opcode, instruction_modifier mod,
                            std::uint32_t dependency_field);
// Dependency field of the family for a modifier (0 for the Quen1 family).
std::uint32_t family_dependency_field(int hardware_number, instruction_modifier mod,
                                      unsigned opcode, bool opcode89_rule = true);

// ---------------------------------------------------------------------------
// Code streams and labels
// ---------------------------------------------------------------------------

struct fixup_record {
    std::uint32_t label;
    std::uint32_t anchor;        // byte offset the distance is measured from
    std::int32_t field_offset;   // from the anchor to the 32-bit field
};

struct code_stream {
    std::vector<fixup_record> fixups;
    std::vector<std::uint32_t> placed_labels;
    std::vector<std::uint64_t> code;  // two words per instruction
    std::uint32_t byte_size() const { return static_cast<std::uint32_t>(code.size() * 8); }
    std::size_t instruction_count() const { return code.size() / 2; }
    instruction_word instruction(std::size_t index) const;
};

using label = std::int32_t;
constexpr label no_label = static_cast<label>(0x80000000u);
constexpr std::uint32_t label_unplaced = 0xFFFFFFFFu;

struct label_table {
    std::uint32_t next_id = 0;
    std::vector<std::uint32_t> targets;
};

std::uint32_t new_label_id(label& l, label_table& table);

// ---------------------------------------------------------------------------
// Kernel interface
// ---------------------------------------------------------------------------

struct interface_argument {
    std::string name;
    type_code type = type_ud;
    std::int32_t kind = 0;     // 0 by value, 1 global pointer, 2 local pointer, 3 implicit
    std::uint32_t model = 0;   // global pointers: bit 0 stateless, bit 1 stateful
    register_operand location;
    std::uint32_t binding_table_index = 128;
    std::int32_t index = -1;
};

// Location of an unplaced argument of a type.
register_operand unplaced_location(type_code t);
// Scalar location at a register and element offset.
register_operand scalar_location(unsigned reg, unsigned element_offset, type_code t);

struct kernel_interface {
    explicit kernel_interface(int hardware_number = 1);

    std::int32_t hardware_number;
    std::vector<interface_argument> arguments;
    std::string kernel_name = "default_kernel";
    std::uint32_t next_argument_index = 0;
    std::uint8_t finalized = 0;
    std::uint8_t has_location_overrides = 0;
    std::uint8_t place_by_kind = 1;
    std::uint8_t has_4gb_buffers = 0;
    std::uint32_t thread_scheduling_mode = 0;
    std::int32_t barrier_count = 0;
    register_operand payload_start_override;
    std::uint8_t has_dpas = 0;
    std::uint8_t has_global_atomics = 0;
    std::int32_t grf_count = 128;
    std::int32_t local_id_dimensions = 0;
    std::uint8_t uses_local_size = 0;
    std::uint8_t enqueued_local_size = 0;
    std::uint8_t disable_mid_thread_preemption = 0;
    std::uint8_t uses_fp16 = 0;
    std::uint8_t uses_fp64 = 0;
    std::uint8_t has_stateless_write = 1;
    std::int32_t offset_to_skip_per_thread_data_load = 0;
    std::int32_t second_label_offset = 0;
    std::uint64_t scratch_size = 0;
    std::int32_t simd_size = 8;
    std::uint64_t slm_size = 0;
    std::int32_t walk_order[3] = {-1, -1, -1};
    std::uint64_t required_work_group_size[3] = {0, 0, 0};
    std::uint32_t payload_size = 0;
    std::uint32_t payload_registers = 0;
    std::uint32_t inline_data_registers;

    void add_argument(const std::string& name, type_code type, std::int32_t kind,
                      std::uint32_t model);
    void finalize_interface();
    // Location of "__local_size<dimension>" (dimension 0..2).
    register_operand find_argument(int dimension) const;
    // Location of the first argument of that name; unknown_argument_exception
    // when absent or without a location.
    register_operand argument_location(const std::string& name) const;
    // Binding-table index of the first argument of that name; 128 when absent.
    std::uint32_t binding_table_index(const std::string& name) const;

    unsigned register_size() const { return register_bytes(hardware_number); }
    unsigned payload_start_register() const;
    // Byte offset of an argument's location in the cross-thread payload.
    std::int64_t payload_offset(const register_operand& location) const;
    // Throws interface_not_finalized when finalize_interface has not run.
    void require_finalized() const;

private:
    void place_arguments(int pass_class, unsigned& reg, unsigned& byte,
                         std::uint32_t& binding_counter);
};

// Type name of type bits 0-3 as OpenCL C text ("uint", ..., "INVALID").
const char* type_name(type_code t);

// ---------------------------------------------------------------------------
// The generator state shared by every emitter
// ---------------------------------------------------------------------------

class code_generator {
public:
    code_generator(int product_code, int hardware_number);
    explicit code_generator(const generation_info& generation);
    virtual ~code_generator();
    code_generator(const code_generator&) = delete;
    code_generator& operator=(const code_generator&) = delete;

    int hardware_number() const { return hardware_number_; }
    encoding_family family() const { return family_of(hardware_number_); }

    std::int32_t product_code;
    std::int32_t product_code_high = 0;
    std::int32_t declared_register_count = 128;
    label per_thread_data_end = no_label;
    label payload_load_end = no_label;
    label fence_label = no_label;
    register_operand fence_destination;
    instruction_modifier default_modifier = 0;
    label_table labels;
    code_stream root;
    // Streams above the root are owned by the generator (nested_streams);
    // stream_stack holds the root first and every open stream after it.
    std::vector<code_stream*> stream_stack;
    std::vector<std::unique_ptr<code_stream>> nested_streams;
    kernel_interface iface;

    code_stream& top() { return *stream_stack.back(); }
    void append(const instruction_word& word);
    // Places the label at the top stream's current byte size.
    void place_label(label& l);
    void declare_argument(const char* name, type_code type) { iface.add_argument(name, type, 0, 4); }
    register_operand get_argument_location(const char* name) const {
        return iface.argument_location(name);
    }

private:
    int hardware_number_;
};

// Check of the stream stack and the label fix-up pass shared by every
// finalisation: throws unfinished_stream_exception or dangling_label_exception.
void resolve_fixups(code_generator& gen);

namespace q1 {
// Finalisation of Quen1 and Quen2 programs: fix-ups, then a copy of the code.
std::vector<std::uint8_t> finalize_program(code_generator& gen);
}  // namespace q1

// ---------------------------------------------------------------------------
// Emitters. Each checks its operands first and throws before it appends.
// Calling an emitter that the generator's generation does not have throws
// std::logic_error.
// ---------------------------------------------------------------------------

// Register move: opcode 1 (Quen1/Quen2) or 97.
void emit_unary(code_generator& gen, instruction_modifier mod, register_operand dst,
                register_operand src0);
// Move of an immediate (Quen1, Quen2, Quen3, Quen5).
void emit_unary_immediate(code_generator& gen, unsigned opcode, instruction_modifier mod,
                          type_code default_type, register_operand dst, immediate_operand imm);
// Move of a 16-bit value, replicated (Quen6..Quen8, opcode 97).
void emit_move_word_immediate(code_generator& gen, unsigned exec_size, register_operand dst,
                              std::uint16_t value);
// Compare with an immediate (Quen1, Quen2: opcode 16; Quen3: 112).
void emit_compare_immediate(code_generator& gen, instruction_modifier mod, register_operand dst,
                            register_operand src0, immediate_operand imm);
// Two-source operation with an immediate src1 (Quen5..Quen8).
void emit_binary_immediate(code_generator& gen, unsigned opcode, instruction_modifier mod,
                           type_code default_type, register_operand dst, register_operand src0,
                           immediate_operand imm);
// Multiply-add dst = src0 + src1 * imm (opcode 91, Quen5..Quen8).
void emit_ternary(code_generator& gen, instruction_modifier mod, register_operand dst,
                  register_operand src0, register_operand src1, immediate_operand imm);
// Jump (opcode 32) to a label, with its fix-up record.
void emit_jump_to_label(code_generator& gen, instruction_modifier mod, label& target);
// Filler word (opcode 96, everything else 0).
void emit_filler(code_generator& gen);

// Sends. Quen1/Quen2 form (opcode 49, SFID = extended descriptor bits 0-3).
void emit_send(code_generator& gen, instruction_modifier mod, register_operand dst,
               register_operand src0, std::uint32_t ex_desc, std::uint32_t desc);
// Quen3 form: opcode 49 or 51 (encoded 49), SFID = extended descriptor bits 0-3.
void emit_send(code_generator& gen, unsigned opcode, instruction_modifier mod,
               register_operand dst, register_operand src0, register_operand src1,
               std::uint32_t ex_desc, std::uint32_t desc);
// Quen5..Quen8 form: SFID given separately; `unused` is not read.
void emit_send(code_generator& gen, unsigned opcode, instruction_modifier mod,
               std::uint8_t sfid, register_operand dst, register_operand src0,
               register_operand src1, std::uint64_t unused, std::uint32_t ex_desc,
               std::uint32_t desc);

// ---------------------------------------------------------------------------
// Message descriptors
// ---------------------------------------------------------------------------

struct message_spec {
    std::uint32_t base_descriptor;  // bit 15 marks a block message
    std::uint8_t element_count;     // 0 counts as 1
    std::uint8_t element_size;      // bytes
};

// Address model word: bits 0-31 surface, bits 32-39 address model.
inline std::uint64_t address_model_word(unsigned model, std::uint32_t surface) {
    return (std::uint64_t(model & 0xFFu) << 32) | surface;
}

struct address_record {
    register_operand reg;
    std::int32_t offset = 0;
};

void encode_store_descriptor_q1(std::uint32_t& desc, std::uint32_t& ex_desc, unsigned exec_size,
                                unsigned element_count, std::uint64_t model_word);
void encode_block_load_descriptor(int hardware_number, std::uint32_t& desc,
                                  std::uint32_t& ex_desc, unsigned exec_size,
                                  register_operand dst, const message_spec& spec,
                                  std::uint64_t model_word, const address_record& address);
void encode_store_descriptor_q6(std::uint32_t& desc, std::uint32_t& ex_desc, unsigned exec_size,
                                const message_spec& spec, std::uint64_t model_word,
                                const address_record& address);

// ---------------------------------------------------------------------------
// Argument prologue (Quen5..Quen8)
// ---------------------------------------------------------------------------

void emit_argument_prologue(code_generator& gen);

// ---------------------------------------------------------------------------
// The probe kernel "binary_test"
// ---------------------------------------------------------------------------

// Builds the whole probe program into the generator (interface, prologue,
// program). The generator must be freshly constructed.
void build_binary_test(code_generator& gen);

template <int Arch>
class binary_test_generator : public code_generator {
public:
    static_assert(Arch == 1 || Arch == 2 || Arch == 3 || Arch == 5 || Arch == 6 || Arch == 7 ||
                      Arch == 8,
                  "no probe generator for this generation");
    binary_test_generator() : code_generator(*generation_of_arch(Arch)) { build_binary_test(*this); }
};

// The probe generator of an ovx_gpu_arch_t value; null for 4 and values
// outside 1..8.
std::unique_ptr<code_generator> make_binary_test_generator(int arch);

// ---------------------------------------------------------------------------
// Operand footprints and opcode classes
// ---------------------------------------------------------------------------

struct register_footprint {
    std::uint8_t first = 0;
    std::uint8_t count = 0;
    std::uint8_t flags = 1;  // bit 0 whole file, bit 1 partial word, bit 2 architecture
    std::int32_t hardware_number = 0;
    std::uint32_t masks[32] = {};

    bool whole_file() const { return flags & 1u; }
    bool partial_word() const { return flags & 2u; }
    bool architecture() const { return flags & 4u; }
    bool empty() const;
};

constexpr std::uint8_t footprint_whole_file = 1;
constexpr std::uint8_t footprint_partial_word = 2;
constexpr std::uint8_t footprint_architecture = 4;

// Destination, source 0, source 1, source 2.
struct instruction_footprints {
    register_footprint operand[4];
};

using pipe_class = std::uint16_t;
using dependency_control_word = std::uint16_t;

// Fills the footprint of an operand (-1 destination, 0..2 sources) of an
// encoded instruction; the caller sets fp.hardware_number first. Returns
// false when the operand touches no tracked register.
bool operand_dependency_region(const instruction_word& inst, register_footprint& fp,
                               int operand);
void footprint_from_region(register_footprint& fp, int hardware_number, unsigned exec_size,
                           register_operand op);
void footprint_from_range(register_footprint& fp, int hardware_number, std::uint16_t range);
// First register and count of the range first..last.
std::uint16_t register_range(register_operand first, register_operand last);
bool footprint_covers(const register_footprint& a, const register_footprint& b);
pipe_class instruction_pipe_class(int hardware_number, const instruction_word& inst,
                                  bool include_out_of_order);
bool operand_arf_kind(const instruction_word& inst, std::uint8_t& kind, int operand,
                      int hardware_number);
unsigned operand_type_field(const instruction_word& inst, int source);
// Quen6..Quen8 decoding of d0 bits 8-17.
dependency_control_word decode_dependency_control(const instruction_word& inst);
// Quen3/Quen5 decoding of d0 bits 8-15 (no records).
dependency_control_word decode_dependency_control_a(const instruction_word& inst);
// type_code of a 4-bit hardware type field.
type_code type_of_hardware_field(unsigned field);

// Opcode classes of the footprint decoders.
enum class opcode_class { none, send, three_source, systolic, directive, two_source };
opcode_class classify_opcode(unsigned opcode);

// ---------------------------------------------------------------------------
// Dependency tables
// ---------------------------------------------------------------------------

struct dependency_record {
    std::uint32_t origin_pass = 0;
    pipe_class pipe = 0;
    std::uint16_t selector = 0;
    std::int32_t counters[7] = {};
    std::uint32_t serial = 0;
    std::uint8_t token = 255;
    std::uint8_t flags = 0;  // 0-1 token use, 2 write, 3 wait query, 4 live
    std::uint8_t wait_pipe_mask = 0;
    std::uint8_t distance = 0;
    register_footprint footprint;

    unsigned token_use() const { return flags & 3u; }
    bool is_write() const { return flags & 4u; }
    bool is_wait() const { return flags & 8u; }
    bool live() const { return flags & 16u; }
};

constexpr std::uint8_t record_write = 4;
constexpr std::uint8_t record_wait = 8;
constexpr std::uint8_t record_live = 16;

struct dependency_link {
    std::uint32_t record;
    std::uint8_t position;
    std::uint8_t remaining;
    std::uint32_t previous[3];
    std::uint32_t next[3];
};

constexpr std::uint32_t link_none = 0xFFFFFFFFu;
constexpr std::uint32_t link_head_bit = 0x80000000u;

struct dependency_table {
    dependency_table();
    std::vector<dependency_record> records;
    std::vector<dependency_link> links;
    std::uint32_t heads[3][257];

    void clear();
    void reserve(std::size_t instructions);
    void retire(std::uint32_t record_index);
};

// Pipe index of a pipe mask (highest set bit), -1 for 0.
int pipe_index_of_mask(unsigned mask);
// In-order retirement depth of a pipe mask; 0 means no limit.
int retirement_depth(unsigned mask);
// In-order: no out-of-order bits and not 0.
inline bool in_order(pipe_class p) { return (p & 0x300u) == 0 && p != 0; }

bool dependency_matches(const dependency_record& x, const dependency_record& a);
bool insert_wait(dependency_table& table, const dependency_record& record,
                 bool existing_may_cover, bool new_may_cover);
bool insert_dependency(dependency_table& table, const dependency_record& record,
                       bool existing_may_cover, bool new_may_cover);
void find_dependencies(dependency_table& table, const dependency_record& query,
                       std::vector<dependency_record>* out, bool retire);
std::uint32_t release_tokens(dependency_table& table, std::uint32_t token_mask,
                             bool include_destination_kind);
std::uint32_t decode_dependency_control(int hardware_number, const instruction_word& inst,
                                        dependency_record& token_record,
                                        dependency_record& query_record);

// One pass of propagation for one block and one predecessor; see
// propagate_block_dependencies. Exposed so that the template below stays thin.
struct propagation_view {
    std::int32_t* change_pass;
    const std::int32_t* pipe_counts;
    dependency_table* running;
    dependency_table* exposed_read;
    dependency_table* incoming;
};
// Copy, rebase and drop; false when the record is dropped.
bool rebase_carried_record(dependency_record& q, const std::int32_t* pipe_counts);
// Reduces q by the exposed reads of a block; false when q is dropped.
bool reduce_by_exposed_reads(dependency_record& q, dependency_table& exposed_read);
// Runs the propagation over blocks given as views with predecessor lists.
void propagate_views(std::vector<propagation_view>& views,
                     const std::vector<std::vector<std::size_t>>& predecessors);

// Carries the pending records of each block into its successors until
// nothing changes. Block must provide: std::int32_t change_pass,
// std::int32_t pipe_counts[7], std::vector<Block*> predecessors,
// dependency_table tables[3] (running, exposed-read, incoming).
// Throws std::runtime_error("VASM internal error: propagation failed.").
template <class Block>
void propagate_block_dependencies(std::vector<Block>& blocks) {
    std::vector<propagation_view> views;
    std::vector<std::vector<std::size_t>> preds(blocks.size());
    views.reserve(blocks.size());
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        Block& b = blocks[i];
        views.push_back(propagation_view{&b.change_pass, b.pipe_counts, &b.tables[0],
                                         &b.tables[1], &b.tables[2]});
        for (Block* p : b.predecessors) preds[i].push_back(static_cast<std::size_t>(p - blocks.data()));
    }
    propagate_views(views, preds);
}

}  // namespace vasm
}  // namespace ovx
}  // namespace korami

#endif
