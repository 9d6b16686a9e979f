// Exception classes of the code generator: messages, bases, statuses.
#include <gtest/gtest.h>

#include <climits>
#include <functional>

#include "vasm/vasm_errors.hpp"

using namespace korami::ovx::vasm;

namespace {

template <class E>
std::string message_of() {
    try {
        throw E();
    } catch (const std::runtime_error& e) {  // every class is a runtime_error
        return e.what();
    }
}

}  // namespace

TEST(VasmErrors, FixedMessages) {
    const std::pair<std::string, std::string> table[] = {
        {message_of<unfinished_stream_exception>(), "An unfinished instruction stream is still active"},
        {message_of<dangling_label_exception>(), "A label was referenced, but its location was not defined"},
        {message_of<invalid_directive_exception>(), "Invalid directive"},
        {message_of<invalid_range_exception>(), "Invalid register range"},
        {message_of<invalid_region_exception>(), "Unsupported register region"},
        {message_of<invalid_object_exception>(), "Object is invalid"},
        {message_of<missing_type_exception>(), "Operand is missing its type"},
        {message_of<interface_not_finalized>(), "Interface has not been finalized"},
        {message_of<unsupported_argument_location_override>(), "Argument register location is invalid"},
        {message_of<npack::bad_binary_section>(), "Incompatible OpenCL runtime: invalid binary section."},
        {message_of<npack::invalid_checksum>(), "Incompatible OpenCL runtime: invalid checksum."},
        {message_of<npack::bad_elf>(), "Incompatible OpenCL runtime: program is not in expected ELF format."},
        {message_of<npack::no_binary_section>(), "Incompatible OpenCL runtime: no binary section found."},
        {message_of<invalid_immediate_exception>(), "Invalid immediate value"},
        {message_of<unknown_argument_exception>(), "Argument not found"},
        {message_of<invalid_model_exception>(), "Invalid addressing model specified"},
        {message_of<multiple_label_exception>(), "Label already has a location"},
        {message_of<read_only_exception>(), "Memory model is read-only"},
        {message_of<invalid_modifiers_exception>(), "Invalid or conflicting modifiers"},
        {message_of<invalid_operand_exception>(), "Invalid operand to instruction"},
        {message_of<invalid_type_exception>(), "Instruction does not support this type or combination of types"},
        {message_of<invalid_address_modifier_exception>(), "Invalid address offset"},
        {message_of<level_zero_error>(), "A Level Zero error occurred."},
    };
    for (const auto& row : table) EXPECT_EQ(row.first, row.second);
}

TEST(VasmErrors, OpenCLErrorMessageAndStatus) {
    const std::pair<int, const char*> table[] = {
        {-1001, "An OpenCL error occurred: -1001"},
        {0, "An OpenCL error occurred: 0"},
        {42, "An OpenCL error occurred: 42"},
        {INT_MAX, "An OpenCL error occurred: 2147483647"},
        {INT_MIN, "An OpenCL error occurred: -2147483648"},
    };
    for (const auto& row : table) {
        opencl_error e(row.first);
        EXPECT_STREQ(e.what(), row.second);
        EXPECT_EQ(e.status, row.first);
        const opencl_error copy(e);
        EXPECT_STREQ(copy.what(), row.second);
        EXPECT_EQ(copy.status, row.first);
    }
}

TEST(VasmErrors, LevelZeroErrorKeepsStatusOutOfItsMessage) {
    level_zero_error a(0x78000001);
    level_zero_error b(5);
    EXPECT_STREQ(a.what(), b.what());
    EXPECT_EQ(a.status, 0x78000001);
    const level_zero_error c(a);
    EXPECT_EQ(c.status, 0x78000001);
}

TEST(VasmErrors, CaughtAsRuntimeErrorAndException) {
    try {
        throw npack::invalid_checksum();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Incompatible OpenCL runtime: invalid checksum.");
    }
    EXPECT_THROW(throw opencl_error(-5), std::exception);
}
