// Program finalisation with automatic scoreboarding (Quen3 and later): basic
// blocks, the three-phase dependency analysis and the final code with its
// inserted synchronisation and move instructions.
#ifndef OVX_VASM_VASM_SB_HPP
#define OVX_VASM_VASM_SB_HPP

#include <cstdint>
#include <vector>

#include "vasm/vasm.hpp"

namespace korami {
namespace ovx {
namespace vasm {

// A sync instruction that the analysis asks finalisation to insert before the
// instruction at `position` (a block's end for the block-end syncs).
struct sync_request {
    std::uint32_t position;
    std::uint32_t control;   // dependency control word in the low 16 bits
    std::uint32_t function;  // 0 none, 2 wait for reads, 3 wait for writes (low 4 bits used)
    std::uint32_t mask;      // token mask; 0 for none
};

// A move instruction to insert before the instruction at `position`.
struct move_request {
    std::uint32_t position;
    std::uint32_t control;
    std::uint16_t reg;
    std::uint8_t form;
    std::uint8_t type;
};

struct alignas(32) basic_block {
    std::int32_t index = 0;
    std::int32_t change_pass = 0;
    std::int32_t start = 0;
    std::int32_t end = 0;
    std::int32_t directive_count = 0;
    std::int32_t pipe_counts[7] = {};
    std::vector<basic_block*> predecessors;
    std::vector<basic_block*> successors;
    dependency_table tables[3];  // running, exposed-read, incoming
    std::vector<sync_request> sync_requests;
    std::vector<move_request> move_requests;
    std::vector<instruction_footprints> footprints;  // indexed from `start`
    std::uint8_t option_flag = 1;
};

// What the analysis of one block sees of the program being finalised.
struct finalisation_context {
    std::vector<std::uint64_t>* code;  // two words per instruction
    std::vector<basic_block>* blocks;
};

// Control-flow class of an instruction: bit 0 falls through, bit 1 goes to
// its first target (dword 3), bit 2 to its second (dword 2), bit 3 to a
// target held in a register.
unsigned control_flow_flags(const instruction_word& inst);

// Scoreboards one block in one phase (0, 1, 2): writes the dependency fields
// of its instructions and records the syncs (and moves) they need.
void analyze_dependencies(std::uint32_t hardware_number, std::uint32_t token_count,
                          finalisation_context& context, basic_block& block, std::uint32_t phase);

// Token count of a generator's scoreboard: 16 on Quen3 and Quen5, 32 on
// Quen6 and Quen8, 16 or (with 256 registers or more) 32 on Quen7.
std::uint32_t scoreboard_token_count(const code_generator& gen);

// The finished code of a Quen3..Quen8 generator: label fix-ups, then, when
// any instruction carries the auto-dependency mark, blocks, analysis, inserted
// syncs and moves, re-targeted branches. Changes the root stream in place;
// call once per generator. Throws unfinished_stream_exception,
// dangling_label_exception, invalid_directive_exception and the internal
// std::runtime_error failures of the analysis.
std::vector<std::uint8_t> finalize_scoreboarded(code_generator& gen);

// The finished code of any generator: Quen1 and Quen2 without scoreboard,
// the others through finalize_scoreboarded.
std::vector<std::uint8_t> finalize_program(code_generator& gen);

}  // namespace vasm
}  // namespace ovx
}  // namespace korami

#endif
