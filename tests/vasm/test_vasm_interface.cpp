// Kernel interface: placement of the probe's arguments on 32- and 64-byte
// registers, payload sizes, binding-table indices and lookups.
#include <gtest/gtest.h>

#include "vasm/vasm.hpp"

using namespace korami::ovx::vasm;

namespace {

kernel_interface probe_interface(int hw) {
    kernel_interface k(hw);
    k.add_argument("src0", type_ud, 0, 4);
    k.add_argument("src1", type_uq, 0, 4);
    k.add_argument("src2", type_uw, 0, 4);
    k.add_argument("src3", type_uw, 0, 4);
    k.add_argument("src4", type_uq, 0, 4);
    k.add_argument("src5", type_uq, 0, 4);
    k.add_argument("src_ptr", type_uq, 1, 4);
    k.add_argument("ok", type_uq, 1, 4);
    k.local_id_dimensions = 3;
    k.uses_local_size = 1;
    k.finalize_interface();
    return k;
}

struct placement {
    const char* name;
    unsigned reg_q1, byte_q1;
    unsigned reg_q6, byte_q6;
    unsigned payload;
};

const placement placements[] = {
    {"src_ptr", 5, 0, 4, 32, 32}, {"ok", 5, 8, 4, 40, 40},  {"src0", 5, 16, 4, 48, 48},
    {"src1", 5, 24, 4, 56, 56},   {"src2", 6, 0, 5, 0, 64}, {"src3", 6, 4, 5, 4, 68},
    {"src4", 6, 8, 5, 8, 72},     {"src5", 6, 16, 5, 16, 80},
    {"__local_size0", 4, 12, 4, 12, 12}, {"__local_size1", 4, 16, 4, 16, 16}, {"__local_size2", 4, 20, 4, 20, 20},
};

}  // namespace

TEST(KernelInterface, ProbeLayoutOnBothRegisterSizes) {
    for (int hw : {1, 7}) {
        const kernel_interface k = probe_interface(hw);
        EXPECT_EQ(k.payload_start_register(), 4u);
        EXPECT_EQ(k.payload_size, 96u);
        EXPECT_EQ(k.payload_registers, hw == 1 ? 3u : 2u);
        for (const placement& p : placements) {
            const register_operand loc = k.argument_location(p.name);
            const unsigned reg = hw == 1 ? p.reg_q1 : p.reg_q6, byte = hw == 1 ? p.byte_q1 : p.byte_q6;
            EXPECT_EQ(loc.reg9(), reg) << p.name;
            EXPECT_EQ(loc.element_offset() * int(type_bytes(loc.type())), int(byte)) << p.name;
            EXPECT_EQ(loc.high(), 0x80u) << p.name;  // scalar region
            EXPECT_EQ(k.payload_offset(loc), p.payload) << p.name;
        }
        EXPECT_EQ(k.binding_table_index("src_ptr"), hw == 1 ? 0u : 128u);
        EXPECT_EQ(k.binding_table_index("ok"), hw == 1 ? 1u : 128u);
        EXPECT_EQ(k.binding_table_index("missing"), 128u);
        EXPECT_EQ(k.find_argument(1).value, k.argument_location("__local_size1").value);
        EXPECT_EQ(k.arguments.back().index, -1);
        EXPECT_EQ(k.arguments[6].model, hw == 1 ? 3u : 1u);
    }
}

TEST(KernelInterface, PayloadStartRegister) {
    struct row { int hw, dims, simd; unsigned start; };
    const row rows[] = {{1, 3, 1, 2}, {6, 1, 32, 7}, {7, 1, 32, 4}, {4, 1, 8, 4},
                        {4, 0, 8, 2}, {6, 0, 8, 1}, {9, 0, 16, 1}};
    for (const row& r : rows) {
        kernel_interface k(r.hw);
        k.local_id_dimensions = r.dims;
        k.simd_size = r.simd;
        EXPECT_EQ(k.payload_start_register(), r.start) << r.hw << " " << r.dims << " " << r.simd;
    }
}

TEST(KernelInterface, UnplacedAndStatelessOnlyLocations) {
    kernel_interface k(1);
    k.add_argument("x", type_ud, 0, 4);
    EXPECT_EQ(k.arguments[0].location.value, (std::uint64_t(0xA0) << 23) | (1ull << 63) | (1ull << 39) | (1ull << 9));
    EXPECT_EQ(k.arguments[0].model, 0u);
    EXPECT_THROW(k.argument_location("x"), unknown_argument_exception);
    k.add_argument("stateful", type_uq, 1, 2);
    k.add_argument("stateless", type_uq, 1, 1);
    k.finalize_interface();
    // A stateful-only pointer has no location but a binding-table index; a
    // stateless-only one uses up a number.
    EXPECT_THROW(k.argument_location("stateful"), unknown_argument_exception);
    EXPECT_EQ(k.binding_table_index("stateful"), 0u);
    EXPECT_EQ(k.binding_table_index("stateless"), 128u);
    EXPECT_NO_THROW(k.argument_location("stateless"));
    EXPECT_THROW(k.argument_location("never"), unknown_argument_exception);
    EXPECT_THROW(k.find_argument(0), unknown_argument_exception);
}

TEST(KernelInterface, FeatureFlagsAndImplicitArguments) {
    kernel_interface k(4);
    k.add_argument("d", type_df, 0, 4);
    k.add_argument("h", type_hf, 0, 4);
    k.scratch_size = 64;
    k.uses_local_size = 1;
    k.enqueued_local_size = 1;
    k.finalize_interface();
    EXPECT_TRUE(k.uses_fp64);
    EXPECT_TRUE(k.uses_fp16);
    // Enqueued local sizes are ordinary payload arguments after the scratch size.
    ASSERT_EQ(k.arguments.size(), 6u);
    EXPECT_EQ(k.arguments[2].name, "__scratch_size");
    EXPECT_EQ(k.arguments[2].kind, 3);
    EXPECT_EQ(k.arguments[2].index, 2);
    EXPECT_EQ(k.arguments[3].name, "__local_size0");
    // d at payload byte 32, h at 40, the scratch size at 48.
    EXPECT_EQ(k.payload_offset(k.argument_location("__scratch_size")), 48);
    // "__local_size0" at byte 24 of a register moves to the next one.
    EXPECT_EQ(k.payload_offset(k.argument_location("__local_size0")), 64);
    EXPECT_EQ(k.payload_offset(k.argument_location("__local_size2")), 72);
}

TEST(KernelInterface, PayloadBeyondRegister255IsRefused) {
    kernel_interface k(1);
    for (int i = 0; i < 260 * 4; ++i) k.add_argument("a" + std::to_string(i), type_uq, 0, 4);
    EXPECT_THROW(k.finalize_interface(), unsupported_argument_location_override);
}
