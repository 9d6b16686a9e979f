// Kernel information text, carrier OpenCL C text and the GPU ELF container:
// worked texts and layouts byte for byte, conditions of every line, and the
// compat-note reader.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "vasm/vasm.hpp"
#include "vasm/vasm_carrier.hpp"
#include "vasm/vasm_elf.hpp"
#include "vasm/vasm_kinfo.hpp"
#include "test_vasm2_binaries.hpp"

namespace {

using namespace korami::ovx::vasm;
using vasm2_test::bytes;

register_operand loc(unsigned reg, int elem, type_code t) {
    return register_operand((uint64_t(0x80) << 32) | (uint64_t(t) << 23) | ((uint64_t(elem) & 0x7FF) << 10) | reg);
}

interface_argument arg(const char* name, type_code t, int kind, unsigned model, register_operand location,
                       int index, unsigned bti = 128) {
    interface_argument a;
    a.name = name;
    a.type = t;
    a.kind = kind;
    a.model = model;
    a.location = location;
    a.index = index;
    a.binding_table_index = bti;
    return a;
}

// The worked interface: Quen6 numbering, kernel k, SIMD 16, local IDs in three
// dimensions, a by-value uint a and a stateless pointer p.
kernel_interface worked() {
    kernel_interface k(7);
    k.kernel_name = "k";
    k.grf_count = 128;
    k.simd_size = 16;
    k.local_id_dimensions = 3;
    k.has_stateless_write = 1;
    k.inline_data_registers = 0;
    k.finalized = 1;
    k.place_by_kind = 1;
    k.arguments.push_back(arg("a", 0xA0, 0, 0, loc(4, 0, 0xA0), 0));
    k.arguments.push_back(arg("p", 0xC8, 1, 1, loc(4, 1, 0xC8), 1));
    return k;
}

std::vector<std::string> lines_of(const std::string& t) {
    std::vector<std::string> v;
    std::size_t at = 0;
    while (at < t.size()) {
        std::size_t nl = t.find('\n', at);
        if (nl == std::string::npos) {
            v.push_back(t.substr(at) + "<no newline>");
            break;
        }
        v.push_back(t.substr(at, nl - at));
        at = nl + 1;
    }
    return v;
}

TEST(Vasm2ZeInfo, WorkedText) {
    const std::string expected =
        "version: 1.8\n"
        "kernels: \n"
        "  - name: \"k\"\n"
        "    execution_env: \n"
        "      grf_count: 128\n"
        "      simd_size: 16\n"
        "      required_sub_group_size: 16\n"
        "\n"
        "    payload_arguments: \n"
        "      - arg_type: arg_byvalue\n"
        "        arg_index: 0\n"
        "        offset: 0\n"
        "        size: 4\n"
        "\n"
        "      - arg_type: arg_bypointer\n"
        "        arg_index: 1\n"
        "        offset: 8\n"
        "        size: 8\n"
        "        addrmode: stateless\n"
        "        addrspace: global\n"
        "        access_type: readwrite\n"
        "\n"
        "\n"
        "    per_thread_payload_arguments: \n"
        "      - arg_type: local_id\n"
        "        offset: 0\n"
        "        size: 192\n"
        "  \n"
        "\n";
    const std::string got = generate_ze_info(worked());
    EXPECT_EQ(got, expected);
    EXPECT_EQ(lines_of(got).size(), 29u);
}

TEST(Vasm2ZeInfo, RefusesUnfinalizedAndNegativeOffsets) {
    kernel_interface k = worked();
    k.finalized = 0;
    EXPECT_THROW(generate_ze_info(k), interface_not_finalized);
    EXPECT_THROW(build_gpu_elf(k, {}, 1), interface_not_finalized);
    k = worked();
    k.arguments[0].location = loc(3, 0, 0xA0);  // below the payload start register 4
    EXPECT_THROW(generate_ze_info(k), unsupported_argument_location_override);
    k = worked();
    k.arguments[1].location = loc(4, -1, 0xC8);
    EXPECT_THROW(generate_ze_info(k), unsupported_argument_location_override);
}

TEST(Vasm2ZeInfo, StatefulEntriesAndBindingTable) {
    kernel_interface k = worked();
    k.hardware_number = 4;
    k.simd_size = 8;
    k.arguments.clear();
    k.arguments.push_back(arg("both", 0xC8, 1, 3, loc(5, 0, 0xC8), 0, 0));
    k.arguments.push_back(arg("stateful", 0xC8, 1, 2, unplaced_location(0xC8), 1, 1));
    k.arguments.push_back(arg("stateless", 0xC8, 1, 1, loc(5, 2, 0xC8), 2));
    k.arguments.push_back(arg("slm", 0xA0, 2, 0, loc(6, 0, 0xA0), 3));
    const std::string t = generate_ze_info(k);
    const std::string both =
        "      - arg_type: arg_bypointer\n"
        "        arg_index: 0\n"
        "        offset: 0\n"
        "        size: 0\n"
        "        addrmode: stateful\n"
        "        addrspace: global\n"
        "        access_type: readwrite\n"
        "\n"
        "      - arg_type: arg_bypointer\n"
        "        arg_index: 0\n"
        "        offset: 32\n"
        "        size: 8\n"
        "        addrmode: stateless\n";
    EXPECT_NE(t.find(both), std::string::npos) << t;
    // The stateful-only pointer has just its stateful entry.
    const std::string stateful_only =
        "        arg_index: 1\n"
        "        offset: 0\n"
        "        size: 0\n"
        "        addrmode: stateful\n"
        "        addrspace: global\n"
        "        access_type: readwrite\n"
        "\n"
        "      - arg_type: arg_bypointer\n"
        "        arg_index: 2\n"
        "        offset: 48\n";
    EXPECT_NE(t.find(stateful_only), std::string::npos) << t;
    const std::string slm =
        "      - arg_type: arg_bypointer\n"
        "        arg_index: 3\n"
        "        offset: 64\n"
        "        size: 4\n"
        "        addrmode: slm\n"
        "        addrspace: local\n"
        "        access_type: readwrite\n"
        "\n"
        "\n"
        "    binding_table_indices: \n"
        "      - bti_value: 0\n"
        "        arg_index: 0\n"
        " \n"
        "      - bti_value: 1\n"
        "        arg_index: 1\n"
        " \n"
        "\n"
        "    per_thread_payload_arguments: \n"
        "      - arg_type: local_id\n"
        "        offset: 0\n"
        "        size: 96\n";
    EXPECT_NE(t.find(slm), std::string::npos) << t;
}

TEST(Vasm2ZeInfo, ExecutionAttributes) {
    kernel_interface k = worked();
    k.arguments.clear();
    k.required_work_group_size[0] = 4;
    k.required_work_group_size[1] = 2;
    k.required_work_group_size[2] = 1;
    k.walk_order[0] = 1;
    k.walk_order[1] = 0;
    k.walk_order[2] = -1;
    k.offset_to_skip_per_thread_data_load = 192;
    k.has_4gb_buffers = k.has_dpas = k.has_global_atomics = 1;
    k.slm_size = 4096;
    k.has_stateless_write = 0;
    k.disable_mid_thread_preemption = 1;
    k.thread_scheduling_mode = 3;
    k.inline_data_registers = 1;
    k.barrier_count = 3;
    const std::string expected =
        "      required_sub_group_size: 16\n"
        "      required_work_group_size:\n"
        "        - 4\n"
        "        - 2\n"
        "        - 1\n"
        "      work_group_walk_order_dimensions:\n"
        "        - 1\n"
        "        - 0\n"
        "        - 0\n"
        "      offset_to_skip_per_thread_data_load: 192\n"
        "      barrier_count: 4\n"
        "      has_4gb_buffers: true\n"
        "      has_dpas: true\n"
        "      has_global_atomics: true\n"
        "      slm_size: 4096\n"
        "      has_no_stateless_write: true\n"
        "      disable_mid_thread_preemption: true\n"
        "      thread_scheduling_mode: round_robin_stall\n"
        "      inline_data_payload_size: 64\n"
        "\n"
        "    per_thread_payload_arguments: \n";
    const std::string t = generate_ze_info(k);
    EXPECT_NE(t.find(expected), std::string::npos) << t;
    EXPECT_EQ(t.find("\n    payload_arguments"), std::string::npos);
}

TEST(Vasm2ZeInfo, BarrierCountsAndSchedulingModes) {
    const int counts[] = {1, 2, 3, 4, 5, 8, 9};
    const int printed[] = {1, 2, 4, 4, 8, 8, 16};
    for (int i = 0; i < 7; ++i) {
        kernel_interface k = worked();
        k.barrier_count = counts[i];
        EXPECT_NE(generate_ze_info(k).find("      barrier_count: " + std::to_string(printed[i]) + "\n"),
                  std::string::npos)
            << counts[i];
    }
    const char* modes[] = {nullptr, "age_based", "round_robin", "round_robin_stall"};
    for (unsigned m = 0; m < 5; ++m) {
        kernel_interface k = worked();
        k.thread_scheduling_mode = m;
        const std::string t = generate_ze_info(k);
        if (m >= 1 && m <= 3)
            EXPECT_NE(t.find(std::string("thread_scheduling_mode: ") + modes[m] + "\n"), std::string::npos);
        else
            EXPECT_EQ(t.find("thread_scheduling_mode"), std::string::npos);
    }
}

TEST(Vasm2ZeInfo, SimdOneNoLocalIdsAndLocalSize) {
    kernel_interface k = worked();
    k.simd_size = 1;
    k.hardware_number = 6;
    k.arguments.clear();
    // simd 1 with local IDs: payload start register 2, register size 32.
    k.arguments.push_back(arg("__local_size0", 0xA0, 3, 0, loc(2, 3, 0xA0), -1));
    k.arguments.push_back(arg("__local_size1", 0xA0, 3, 0, loc(2, 4, 0xA0), -1));
    k.arguments.push_back(arg("__scratch_size", 0xC8, 3, 0, loc(3, 0, 0xC8), 0));
    std::string t = generate_ze_info(k);
    EXPECT_EQ(t.find("required_sub_group_size"), std::string::npos);
    EXPECT_NE(t.find("      - arg_type: local_size\n        offset: 12\n        size: 12\n\n"), std::string::npos)
        << t;
    EXPECT_EQ(t.find("__local_size1"), std::string::npos);
    EXPECT_EQ(t.find("offset: 16"), std::string::npos);
    EXPECT_NE(t.find("      - arg_type: packed_local_ids\n        offset: 0\n        size: 6\n  \n\n"),
              std::string::npos);
    k.enqueued_local_size = 1;
    EXPECT_NE(generate_ze_info(k).find("- arg_type: enqueued_local_size\n"), std::string::npos);
    k.local_id_dimensions = 0;  // start register 1 from Quen5 on
    k.arguments.resize(1);
    k.arguments[0].location = loc(1, 3, 0xA0);
    t = generate_ze_info(k);
    EXPECT_EQ(t.find("per_thread"), std::string::npos);
    EXPECT_NE(t.find("offset: 12\n"), std::string::npos);
    k.arguments.clear();
    t = generate_ze_info(k);
    EXPECT_EQ(t.find("payload_arguments"), std::string::npos);
    EXPECT_EQ(t.substr(t.size() - 20), "      simd_size: 1\n\n");
}

TEST(Vasm2ZeInfo, PerThreadSizeAndStartRegister) {
    // Quen5 numbering, SIMD 16: start register 4; SIMD 32: start 7 and size 192.
    kernel_interface k = worked();
    k.hardware_number = 6;
    k.arguments.resize(1);
    k.arguments[0].location = loc(5, 0, 0xA0);
    std::string t = generate_ze_info(k);
    EXPECT_NE(t.find("offset: 32\n"), std::string::npos);
    EXPECT_NE(t.find("size: 96\n"), std::string::npos);
    k.simd_size = 32;
    k.arguments[0].location = loc(7, 0, 0xA0);
    t = generate_ze_info(k);
    EXPECT_NE(t.find("offset: 0\n        size: 4\n"), std::string::npos);
    EXPECT_NE(t.find("size: 192\n"), std::string::npos);
}

// Carrier text.
TEST(Vasm2Carrier, WorkedText) {
    std::ostringstream s;
    s << "before\n";
    generate_dummy_cl(worked(), s);
    EXPECT_EQ(s.str(),
              "before\n"
              "__attribute__((tarvo_reqd_sub_group_size(16)))\n"
              "kernel void k(uint a, global uint *p) {\n"
              "    global volatile int *____;\n"
              "    (void) ____[get_local_id(0)];\n"
              "    __asm__ volatile(\"\" :: \"rw.u\"(p));\n"
              "}\n");
}

TEST(Vasm2Carrier, EveryOptionalLine) {
    kernel_interface k = worked();
    k.hardware_number = 1;
    k.arguments.clear();
    k.arguments.push_back(arg("h", 0x8A, 0, 0, loc(5, 0, 0x8A), 0));
    k.arguments.push_back(arg("buf", 0xC8, 1, 3, loc(5, 1, 0xC8), 1, 0));
    k.arguments.push_back(arg("lm", 0xA0, 2, 0, loc(5, 4, 0xA0), 2));
    k.arguments.push_back(arg("d", 0xC6, 0, 0, loc(6, 0, 0xC6), 3));
    k.arguments.push_back(arg("__local_size0", 0xA0, 3, 0, loc(4, 3, 0xA0), -1));
    k.uses_fp16 = k.uses_fp64 = 1;
    k.required_work_group_size[0] = 16;
    k.required_work_group_size[1] = 2;
    k.required_work_group_size[2] = 1;
    k.walk_order[0] = 1;
    k.walk_order[1] = 0;
    k.walk_order[2] = 2;
    k.uses_local_size = 1;
    k.barrier_count = 3;
    k.has_dpas = k.has_global_atomics = 1;
    k.scratch_size = 64;
    k.slm_size = 128;
    k.disable_mid_thread_preemption = 1;
    k.simd_size = 8;
    std::ostringstream s;
    generate_dummy_cl(k, s);
    EXPECT_EQ(s.str(),
              "#pragma OPENCL EXTENSION cl_khr_fp16 : enable\n"
              "#pragma OPENCL EXTENSION cl_khr_fp64 : enable\n"
              "__attribute__((reqd_work_group_size(16,2,1)))\n"
              "__attribute__((tarvo_reqd_workgroup_walk_order(1,0,2)))\n"
              "__attribute__((tarvo_reqd_sub_group_size(8)))\n"
              "kernel void k(half h, global uint *buf, local uint *lm, double d) {\n"
              "    global volatile int *____;\n"
              "    (void) ____[get_local_id(0)];\n"
              "    (void) ____[get_enqueued_local_size(0)];\n"
              "    __asm__ volatile(\"barrier\");\n"
              "    local NamedBarrier_t *bar1;\n"
              "    bar1 = named_barrier_init(1);\n"
              "    work_group_named_barrier(bar1, 0);\n"
              "    local NamedBarrier_t *bar2;\n"
              "    bar2 = named_barrier_init(1);\n"
              "    work_group_named_barrier(bar2, 0);\n"
              "    int __builtin_QX_sub_group_idpas_s8_s8_8_1(int, int, int8) __attribute__((const));\n"
              "    int z = __builtin_QX_sub_group_idpas_s8_s8_8_1(0, ____[0], 1);\n"
              "    for (int i = 0; i < z; i++) (void) ____[0];\n"
              "    atomic_inc(____);\n"
              "    volatile char scratch[64] = {0};\n"
              "    volatile local char slm[128]; slm[0]++;\n"
              "    volatile double *__df; *__df = 1.1 / *__df;\n"
              "    { volatile uchar __load = ((global uchar *) buf)[get_local_id(0)];}\n"
              "}\n");
    // Quen5 on: the same pointer gets the stateless line too; walk order
    // without a third entry; no preemption line.
    k.hardware_number = 6;
    k.walk_order[2] = -1;
    std::ostringstream s2;
    generate_dummy_cl(k, s2);
    const std::string t = s2.str();
    EXPECT_NE(t.find("__attribute__((tarvo_reqd_workgroup_walk_order(1,0)))\n"), std::string::npos);
    EXPECT_NE(t.find("    __asm__ volatile(\"\" :: \"rw.u\"(buf));\n"
                     "    { volatile uchar __load = ((global uchar *) buf)[get_local_id(0)];}\n"),
              std::string::npos);
    EXPECT_EQ(t.find("__df"), std::string::npos);
}

TEST(Vasm2Carrier, TypeNamesAndEmptyParameterLists) {
    const char* names[16] = {"uint", "int", "ushort", "short", "uchar", "char", "double", "float",
                             "ulong", "long", "half", "ushort", "INVALID", "INVALID", "INVALID", "INVALID"};
    for (unsigned i = 0; i < 16; ++i) {
        kernel_interface k = worked();
        k.arguments.resize(1);
        k.arguments[0].type = type_code(0xA0 | i);
        std::ostringstream s;
        generate_dummy_cl(k, s);
        EXPECT_NE(s.str().find(std::string("kernel void k(") + names[i] + " a) {\n"), std::string::npos) << i;
    }
    kernel_interface k = worked();
    k.arguments.clear();
    k.arguments.push_back(arg("__local_size0", 0xA0, 3, 0, loc(4, 3, 0xA0), -1));
    std::ostringstream s;
    generate_dummy_cl(k, s);
    EXPECT_NE(s.str().find("kernel void k() {\n"), std::string::npos);
}

TEST(Vasm2Carrier, RefusesBeforeWriting) {
    std::ostringstream s;
    kernel_interface k = worked();
    k.finalized = 0;
    EXPECT_THROW(generate_dummy_cl(k, s), interface_not_finalized);
    k = worked();
    k.has_location_overrides = 1;
    EXPECT_THROW(generate_dummy_cl(k, s), unsupported_argument_location_override);
    k = worked();
    k.place_by_kind = 0;
    EXPECT_THROW(generate_dummy_cl(k, s), unsupported_argument_location_override);
    EXPECT_TRUE(s.str().empty());
}

// GPU ELF container.
uint16_t rd16(const bytes& b, std::size_t at) { return uint16_t(b[at] | b[at + 1] << 8); }
using vasm2_test::rd32;
using vasm2_test::rd64;

void check_map(const kernel_interface& k, const bytes& code, uint32_t compat) {
    const bytes f = build_gpu_elf(k, code, compat);
    const std::string info = generate_ze_info(k);
    const std::size_t n = k.kernel_name.size(), l = info.size(), c = code.size();
    const std::size_t z = (472 + n) / 16 * 16, t = z + (l + 15) / 16 * 16, total = t + (c + 15) / 16 * 16;
    ASSERT_EQ(f.size(), total);
    EXPECT_EQ(f.size() % 16, 0u);
    const uint8_t ident[16] = {0x7f, 'E', 'L', 'F', 2, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(f.data(), ident, 16), 0);
    // Type, machine, version, entry, program headers, section table, flags,
    // sizes, counts and the name table's index.
    const uint64_t header[][3] = {{16, 2, 1},  {18, 2, 205}, {20, 4, 1},  {24, 8, 0},  {32, 8, 0}, {40, 8, 64},
                                  {48, 4, 0},  {52, 2, 64},  {54, 2, 0},  {56, 2, 0},  {58, 2, 64}, {60, 2, 5},
                                  {62, 2, 1}};
    for (const auto& h : header)
        EXPECT_EQ(h[1] == 2 ? rd16(f, h[0]) : h[1] == 4 ? rd32(f, h[0]) : rd64(f, h[0]), h[2]) << "byte " << h[0];
    const uint32_t names[5] = {0, 1, 11, 41, 20};
    const uint32_t types[5] = {0, 3, 0xFF000011u, 1, 7};
    const uint64_t flags[5] = {0, 0, 0, 6, 0};
    const uint64_t offs[5] = {0, 408, z, t, 384};
    const uint64_t sizes[5] = {0, 48 + n, l, c, 24};
    for (int i = 0; i < 5; ++i) {
        const std::size_t h = 64 + 64 * std::size_t(i);
        EXPECT_EQ(rd32(f, h), names[i]) << i;
        EXPECT_EQ(rd32(f, h + 4), types[i]) << i;
        EXPECT_EQ(rd64(f, h + 8), flags[i]) << i;
        EXPECT_EQ(rd64(f, h + 16), 0u) << i;
        EXPECT_EQ(rd64(f, h + 24), offs[i]) << i;
        EXPECT_EQ(rd64(f, h + 32), sizes[i]) << i;
        EXPECT_EQ(rd64(f, h + 40), 0u) << i;
        EXPECT_EQ(rd64(f, h + 48), 16u) << i;
        EXPECT_EQ(rd64(f, h + 56), 0u) << i;
    }
    const uint8_t note[24] = {8, 0, 0, 0, 4, 0, 0, 0, 2, 0, 0, 0, 'T', 'a', 'r', 'v', 'o', 'G', 'T', 0,
                              uint8_t(compat), uint8_t(compat >> 8), uint8_t(compat >> 16), uint8_t(compat >> 24)};
    EXPECT_EQ(std::memcmp(f.data() + 384, note, 24), 0);
    const std::string strtab = std::string("\0.shstrtab\0.ze_info\0.note.tarvogt.compat\0.text.", 47) +
                               k.kernel_name + std::string(1, '\0');
    EXPECT_EQ(std::string(f.begin() + 408, f.begin() + 408 + 48 + n), strtab);
    for (std::size_t i = 456 + n; i < z; ++i) ASSERT_EQ(f[i], 0) << i;
    EXPECT_EQ(std::string(f.begin() + z, f.begin() + z + l), info);
    for (std::size_t i = z + l; i < t; ++i) ASSERT_EQ(f[i], 0) << i;
    EXPECT_TRUE(std::equal(code.begin(), code.end(), f.begin() + t));
    for (std::size_t i = t + c; i < total; ++i) ASSERT_EQ(f[i], 0) << i;
    EXPECT_EQ(read_compat_note(f.data(), f.size()), compat);
}

bytes some_code(std::size_t n) {
    bytes c(n);
    for (std::size_t i = 0; i < n; ++i) c[i] = uint8_t(i * 13 + 1);
    return c;
}

TEST(Vasm2GpuElf, FileMapForNameLengths) {
    kernel_interface k = worked();
    k.kernel_name = "binary_test";
    check_map(k, some_code(560), compat_code_quen6);
    const bytes f = build_gpu_elf(k, some_code(560), compat_code_quen6);
    EXPECT_EQ(rd64(f, 64 + 128 + 24), 480u);  // Z for n = 11
    for (std::size_t i = 467; i < 480; ++i) EXPECT_EQ(f[i], 0);
    k.kernel_name = "kernel_8";  // 456 + 8 = 464: a full 16 zero bytes follow
    check_map(k, some_code(16), compat_code_quen8);
    EXPECT_EQ(rd64(build_gpu_elf(k, {}, 1), 64 + 128 + 24), 480u);
    for (std::size_t len : {0u, 1u, 7u, 15u, 16u, 17u, 40u}) {
        k.kernel_name = std::string(len, 'x');
        check_map(k, some_code(len * 3), compat_code_quen3);
    }
}

TEST(Vasm2GpuElf, CompatCodesOfArchitecturesAndHardware) {
    // {architecture, hardware number, code}; architecture 4 and hardware 5 have none.
    const uint32_t rows[][3] = {{1, 1, compat_code_quen1}, {2, 3, compat_code_quen2}, {3, 4, compat_code_quen3},
                                {5, 6, compat_code_quen5}, {6, 7, compat_code_quen6}, {7, 8, compat_code_quen7},
                                {8, 9, compat_code_quen8}, {4, 5, 0},                {9, 10, 0}};
    for (const auto& r : rows) {
        EXPECT_EQ(compat_code_of_arch(int(r[0])), r[2]) << r[0];
        EXPECT_EQ(compat_code_of_hardware(int(r[1])), r[2]) << r[1];
        EXPECT_EQ(arch_of_compat_code(r[2]), r[2] ? int(r[0]) : 0) << r[0];
    }
    EXPECT_EQ(arch_of_compat_code(17), 0);
}

TEST(Vasm2GpuElf, ProbeGeneratorsResolveTheirPrologueLabels) {
    const int arches[7] = {1, 2, 3, 5, 6, 7, 8};
    for (int arch : arches) {
        std::unique_ptr<code_generator> gen = make_binary_test_generator(arch);
        ASSERT_TRUE(gen);
        const bytes code = some_code(96);
        const bytes f = write_gpu_elf(*gen, code);
        EXPECT_EQ(read_compat_note(f.data(), f.size()), compat_code_of_arch(arch)) << arch;
        const std::string info = generate_ze_info(gen->iface);
        const uint64_t z = rd64(f, 64 + 128 + 24), l = rd64(f, 64 + 128 + 32);
        EXPECT_EQ(std::string(f.begin() + z, f.begin() + z + l), info);
        EXPECT_EQ(std::string(f.begin() + 455, f.begin() + 466), "binary_test");
        if (arch >= 5) {
            // The local-ID load of the prologue is twelve instructions: the per-thread
            // data load ends 192 bytes in, the payload load behind it.
            EXPECT_EQ(gen->iface.offset_to_skip_per_thread_data_load, 192) << arch;
            EXPECT_EQ(uint32_t(gen->iface.second_label_offset), gen->labels.targets[uint32_t(gen->payload_load_end)]);
            EXPECT_GT(gen->iface.second_label_offset, 192);
            EXPECT_NE(info.find("      offset_to_skip_per_thread_data_load: 192\n"), std::string::npos);
        } else {
            EXPECT_EQ(gen->iface.offset_to_skip_per_thread_data_load, 0) << arch;
            EXPECT_EQ(info.find("offset_to_skip"), std::string::npos);
        }
    }
    // Unplaced prologue labels leave the fields as they were.
    code_generator gen(6, 6);
    gen.iface.finalized = 1;
    gen.iface.offset_to_skip_per_thread_data_load = 5;
    gen.iface.second_label_offset = 6;
    write_gpu_elf(gen, {});
    EXPECT_EQ(gen.iface.offset_to_skip_per_thread_data_load, 5);
    EXPECT_EQ(gen.iface.second_label_offset, 6);
    EXPECT_GE(gen.per_thread_data_end, 0);  // ids were given
    // A label id outside the generator's table is refused, not read.
    code_generator stray(6, 6);
    stray.iface.finalized = 1;
    stray.per_thread_data_end = 7;
    EXPECT_THROW(write_gpu_elf(stray, {}), std::runtime_error);
}

std::string run(const std::string& cmd) {
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return out;
    char buf[512];
    while (fgets(buf, sizeof buf, p)) out += buf;
    pclose(p);
    return out;
}

std::string readelf_of(const bytes& f, const char* options) {
    char path[] = "/tmp/vasm2_elf_XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) return "mkstemp failed";
    const bool ok = write(fd, f.data(), f.size()) == ssize_t(f.size());
    close(fd);
    const std::string out = ok ? run(std::string("readelf -W ") + options + " " + path + " 2>&1") : "write failed";
    unlink(path);
    return out;
}

TEST(Vasm2GpuElf, ReadelfListsTheSectionsAndTheNote) {
    kernel_interface k = worked();
    k.kernel_name = "binary_test";
    const bytes f = build_gpu_elf(k, some_code(64), compat_code_quen5);
    std::string out = readelf_of(f, "-S -n");
    EXPECT_NE(out.find("There are 5 section headers, starting at offset 0x40"), std::string::npos) << out;
    for (const char* s : {"[ 0]                   NULL", "[ 1] .shstrtab         STRTAB",
                          "[ 2] .ze_info          LOUSER+0x7f000011", "[ 3] .text.binary_test PROGBITS",
                          "[ 4] .note.tarvogt.compat NOTE", "Displaying notes found in: .note.tarvogt.compat"})
        EXPECT_NE(out.find(s), std::string::npos) << s << "\n" << out;
    // The container keeps an alignment of 16 in every section header, which
    // readelf's note printer does not accept for notes; with the note
    // header's alignment set to 4 the note itself decodes as the type-2 note
    // of owner "TarvoGT" carrying the generation code.
    bytes copy = f;
    copy[320 + 48] = 4;
    out = readelf_of(copy, "-n");
    EXPECT_NE(out.find("TarvoGT              0x00000004\tNT_ARCH (architecture)"), std::string::npos) << out;
    EXPECT_NE(out.find("description data: 07 0c 00 00"), std::string::npos) << out;
    EXPECT_EQ(out.find("Warning"), std::string::npos) << out;
}

TEST(Vasm2CompatNote, MalformedFilesAreRefused) {
    kernel_interface k = worked();
    const bytes good = build_gpu_elf(k, some_code(32), compat_code_quen2);
    EXPECT_EQ(read_compat_note(good.data(), good.size()), compat_code_quen2);
    EXPECT_THROW(read_compat_note(nullptr, 0), npack::bad_elf);
    EXPECT_THROW(read_compat_note(good.data(), 63), npack::bad_elf);
    bytes b = good;
    b[0] = 0;
    EXPECT_THROW(read_compat_note(b.data(), b.size()), npack::bad_elf);
    b = good;
    b[41] = 0xF0;  // table beyond the end
    EXPECT_THROW(read_compat_note(b.data(), b.size()), npack::bad_elf);
    b = good;
    b[62] = 9;  // name table index beyond the table
    EXPECT_THROW(read_compat_note(b.data(), b.size()), npack::bad_elf);
    b = good;
    b[64 + 256] = 1;  // section 4 no longer named as the compat note
    EXPECT_THROW(read_compat_note(b.data(), b.size()), npack::no_binary_section);
    b = good;
    b[392] = 3;  // note of another type
    EXPECT_THROW(read_compat_note(b.data(), b.size()), npack::bad_binary_section);
    b = good;
    b[384] = 0xFF;  // name size running past the section
    EXPECT_THROW(read_compat_note(b.data(), b.size()), npack::bad_binary_section);
    b = good;
    b[64 + 256 + 32] = 200;  // section size past the file end for a tiny file
    b.resize(420);
    EXPECT_THROW(read_compat_note(b.data(), b.size()), npack::bad_elf);
    b = good;
    b[64 + 256 + 24] = 0xF0;
    b[64 + 256 + 25] = 0xFF;  // section offset beyond the end
    EXPECT_THROW(read_compat_note(b.data(), b.size()), npack::bad_binary_section);
}

}  // namespace
