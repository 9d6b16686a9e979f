// Probe driver and carrier build against a stand-in OpenCL library mapped to
// "OpenCL.dll": attempt order, flag transitions, the container that is
// test-built, the carrier fall-back, OpenCL failures and releases. Every case
// runs in a child process, because the OpenCL entry addresses and the probe's
// flags are process-wide.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <ovxplat/win32_map.h>
#include <windows.h>

#include "korami/ovx/gpu_types.h"
#include "test_vasm2_binaries.hpp"
#include "test_vasm2_opencl_stub.hpp"
#include "vasm/vasm.hpp"
#include "vasm/vasm_carrier.hpp"
#include "vasm/vasm_elf.hpp"
#include "vasm/vasm_probe_driver.hpp"
#include "vasm/vasm_sb.hpp"

namespace {

using namespace korami::ovx::vasm;
using vasm2_test::bytes;

cl_context const ctx = reinterpret_cast<cl_context>(0x5000);
cl_device_id const dev = reinterpret_cast<cl_device_id>(0x1000);
cl_device_id const dev2 = reinterpret_cast<cl_device_id>(0x2000);
std::vector<uint8_t>* const untouched = reinterpret_cast<std::vector<uint8_t>*>(0x1);

// Runs `body` in a child process; the child's test failures become its exit
// status. The child ends through exit(), so leak checkers see its end.
template <class F>
void in_child(F body) {
    fflush(stdout);
    fflush(stderr);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        try {
            body();
        } catch (const std::exception& e) {
            ADD_FAILURE() << "exception in child: " << e.what();
        }
        std::exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status)) << "child died";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "child reported failures";
}

vasm2_stub_state* load_stub() {
    ovxplat_win32_map_set("OpenCL.dll", VASM2_STUB_PATH);
    HMODULE h = LoadLibraryExA("OpenCL.dll", nullptr, 0);
    if (!h) return nullptr;
    auto f = reinterpret_cast<vasm2_stub_state* (*)()>(reinterpret_cast<void*>(GetProcAddress(h, "vasm2_stub")));
    return f ? f() : nullptr;
}

// Runs `body` in a child process with the stand-in mapped to "OpenCL.dll".
template <class F>
void with_stub(F body) {
    in_child([&] {
        vasm2_stub_state* s = load_stub();
        ASSERT_TRUE(s);
        body(s);
    });
}

// The finished code and the carrier text of a generation, from a fresh
// generator (both are deterministic).
std::vector<uint8_t> finished_code(int arch) {
    std::unique_ptr<code_generator> g = make_binary_test_generator(arch);
    return finalize_program(*g);
}
std::string carrier_text(int arch) {
    std::unique_ptr<code_generator> g = make_binary_test_generator(arch);
    std::ostringstream s;
    generate_dummy_cl(g->iface, s);
    return s.str();
}

struct call_result {
    ovx_gpu_binary_kernel_t record;
    std::vector<uint8_t>* owner;
    int status;
};

call_result probe(int arch, cl_device_id device = dev) {
    call_result r;
    r.record = {77, reinterpret_cast<const uint8_t*>(0x9), 55, nullptr};
    r.owner = untouched;
    r.status = 12345;
    build_binary_test_binary(&r.status, arch, ctx, device, &r.record, &r.owner);
    EXPECT_EQ(r.status, 12345);
    EXPECT_EQ(r.record.carrier_length, 0u);
    EXPECT_NE(r.record.carrier_source, nullptr);
    if (r.record.carrier_source) {
        EXPECT_STREQ(r.record.carrier_source, "");
    }
    if (r.owner != untouched && r.owner) {
        EXPECT_EQ(r.record.size, r.owner->size());
        EXPECT_EQ(r.record.bytes, r.owner->empty() ? nullptr : r.owner->data());
    }
    return r;
}
void release(call_result& r) {
    if (r.owner != untouched) delete r.owner;
    r.owner = untouched;
}

// Code region of a patched carrier binary (the stand-in's binary section sits
// at file offset 512 with a prefix of 16 bytes).
bytes code_region(const std::vector<uint8_t>& b) {
    const uint32_t unpadded = vasm2_test::rd32(b, 512 + 64);
    return bytes(b.begin() + 512 + 68 + 16, b.begin() + 512 + 68 + 16 + unpadded);
}

// The code section of a GPU ELF container.
bytes container_code(const std::vector<uint8_t>& b) {
    const uint64_t off = vasm2_test::rd64(b, 256 + 24), size = vasm2_test::rd64(b, 256 + 32);
    return bytes(b.begin() + off, b.begin() + off + size);
}

const int generations[] = {1, 2, 3, 5, 6, 7, 8};

TEST(Vasm2Probe, GenerationsWithoutGeneratorReturnAtOnce) {
    with_stub([](vasm2_stub_state* s) {
        for (int arch : {0, 4, 9, -1, 100}) {
            call_result r = probe(arch);
            EXPECT_EQ(r.record.size, 0u);
            EXPECT_EQ(r.record.bytes, nullptr);
            EXPECT_EQ(r.owner, untouched) << arch;
        }
        EXPECT_EQ(s->opencl_calls(), 0);
        EXPECT_FALSE(probe_state::gpu_elf_first_hint());
    });
}

TEST(Vasm2Probe, FreshProcessCarrierAccepted) {
    for (int arch : generations) {
        with_stub([arch](vasm2_stub_state* s) {
            // A token of type 22 and size 88 between two others: its word at
            // byte 64 is cleared on Quen7 only.
            bytes tokens = bytes(16, 0xAA);
            vasm2_test::wr32(tokens, 0, 5);
            vasm2_test::wr32(tokens, 4, 16);
            bytes t22(88, 0xBB);
            vasm2_test::wr32(t22, 0, 22);
            vasm2_test::wr32(t22, 4, 88);
            tokens.insert(tokens.end(), t22.begin(), t22.end());
            s->binaries[0] = vasm2_test::carrier_binary(512, tokens);
            call_result r = probe(arch);
            ASSERT_NE(r.owner, untouched);
            ASSERT_NE(r.record.bytes, nullptr) << arch;
            const bytes code = finished_code(arch);
            EXPECT_EQ(code_region(*r.owner), code);
            EXPECT_EQ(vasm2_test::rd32(*r.owner, 512 + 48), (code.size() + 64 + 255) / 256 * 256);
            const std::size_t list = 512 + 68 + 16 + vasm2_test::rd32(*r.owner, 512 + 48) + 64 + 128;
            EXPECT_EQ(vasm2_test::rd32(*r.owner, list + 16 + 64), arch == 7 ? 0u : 0xBBBBBBBBu);
            EXPECT_EQ(s->calls_create_source, 1);
            EXPECT_EQ(s->calls_build_source, 1);
            EXPECT_EQ(s->calls_release_source, 1);
            EXPECT_EQ(s->calls_create_binary, 0);
            EXPECT_EQ(s->last_source_options, "-cl-std=CL2.0");
            EXPECT_EQ(s->last_source, carrier_text(arch));
            EXPECT_EQ(s->live_programs, 0);
            EXPECT_FALSE(probe_state::gpu_elf_first_hint());
            EXPECT_FALSE(probe_state::gpu_elf_verified(dev, arch));
            release(r);
        });
    }
}

TEST(Vasm2Probe, CarrierFailsThenContainerPassesItsTestBuild) {
    for (int arch : generations) {
        with_stub([arch](vasm2_stub_state* s) {
            s->build_source_status = -11;  // the carrier does not build
            call_result r = probe(arch);
            ASSERT_NE(r.owner, untouched);
            ASSERT_NE(r.record.bytes, nullptr);
            const bytes container = *r.owner;
            EXPECT_EQ(read_compat_note(container.data(), container.size()), compat_code_of_arch(arch));
            EXPECT_EQ(container_code(container), finished_code(arch));
            // The test build saw exactly this container.
            EXPECT_EQ(s->calls_create_binary, 1);
            EXPECT_EQ(s->last_binary, container);
            EXPECT_EQ(s->last_binary_device_count, 1u);
            EXPECT_EQ(s->last_binary_device, static_cast<void*>(dev));
            EXPECT_TRUE(s->last_binary_status_ptr_null);
            EXPECT_TRUE(s->last_errcode_was_zero);
            EXPECT_EQ(s->calls_build_binary, 1);
            EXPECT_EQ(s->last_binary_options, "-cl-std=CL2.0");
            EXPECT_FALSE(s->notify_or_user_set);
            EXPECT_EQ(s->calls_release_binary, 1);
            EXPECT_EQ(s->live_programs, 0);
            EXPECT_TRUE(probe_state::gpu_elf_first_hint());
            EXPECT_TRUE(probe_state::gpu_elf_verified(dev, arch));
            release(r);
            // The next call hands out the container without any OpenCL call.
            const int calls = s->opencl_calls();
            call_result r2 = probe(arch);
            ASSERT_NE(r2.owner, untouched);
            EXPECT_EQ(*r2.owner, container);
            EXPECT_EQ(s->opencl_calls(), calls);
            release(r2);
            // Another device, or another generation on this device, is test-built again.
            call_result r3 = probe(arch, dev2);
            EXPECT_EQ(s->calls_create_binary, 2);
            EXPECT_TRUE(probe_state::gpu_elf_verified(dev2, arch));
            release(r3);
            const int other = arch == 8 ? 7 : 8;
            EXPECT_FALSE(probe_state::gpu_elf_verified(dev, other));
            call_result r4 = probe(other);
            EXPECT_EQ(s->calls_create_binary, 3);
            release(r4);
        });
    }
}

TEST(Vasm2Probe, CarrierFailsAndTestBuildIsRefused) {
    with_stub([](vasm2_stub_state* s) {
        s->build_source_status = -11;
        s->build_binary_status = -42;
        call_result r = probe(6);
        ASSERT_NE(r.owner, untouched);
        ASSERT_NE(r.owner, nullptr);
        EXPECT_TRUE(r.owner->empty());
        EXPECT_EQ(r.record.bytes, nullptr);
        EXPECT_EQ(r.record.size, 0u);
        EXPECT_FALSE(probe_state::gpu_elf_first_hint());
        EXPECT_FALSE(probe_state::gpu_elf_verified(dev, 6));
        EXPECT_EQ(s->calls_release_binary, 1);
        release(r);
        // The next call starts with the carrier again.
        s->build_source_status = 0;
        s->binaries[0] = vasm2_test::carrier_binary();
        call_result r2 = probe(6);
        ASSERT_NE(r2.record.bytes, nullptr);
        EXPECT_EQ(s->calls_create_source, 2);
        EXPECT_EQ(s->calls_create_binary, 1);
        EXPECT_EQ(code_region(*r2.owner), finished_code(6));
        EXPECT_EQ(s->live_programs, 0);
        release(r2);
    });
}

TEST(Vasm2Probe, RefusedContainerCreationFallsBackToTheCarrier) {
    with_stub([](vasm2_stub_state* s) {
        probe_state::set_gpu_elf_first_hint(true);
        s->create_binary_status = -42;
        s->binaries[0] = vasm2_test::carrier_binary();
        call_result r = probe(8);
        EXPECT_EQ(s->calls_create_binary, 1);
        EXPECT_EQ(s->calls_build_binary, 0);
        EXPECT_EQ(s->calls_release_binary, 0);
        EXPECT_EQ(s->calls_create_source, 1);
        ASSERT_NE(r.record.bytes, nullptr);
        EXPECT_EQ(code_region(*r.owner), finished_code(8));
        EXPECT_FALSE(probe_state::gpu_elf_first_hint());
        EXPECT_EQ(s->live_programs, 0);
        release(r);
    });
}

TEST(Vasm2Probe, RefusedContainerAndFailingCarrier) {
    with_stub([](vasm2_stub_state* s) {
        probe_state::set_gpu_elf_first_hint(true);
        s->build_binary_status = -42;
        s->binaries[0] = bytes(100, 7);  // not an ELF file: the patching refuses it
        call_result r = probe(5);
        ASSERT_NE(r.owner, untouched);
        EXPECT_TRUE(r.owner->empty());
        EXPECT_EQ(r.record.bytes, nullptr);
        EXPECT_EQ(s->calls_create_binary, 1);
        EXPECT_EQ(s->calls_create_source, 1);
        EXPECT_TRUE(probe_state::gpu_elf_first_hint());
        EXPECT_EQ(s->live_programs, 0);
        release(r);
    });
}

TEST(Vasm2Probe, VerifiedContainerAfterAFailingCarrier) {
    with_stub([](vasm2_stub_state* s) {
        s->build_source_status = -11;
        call_result r = probe(7);  // carrier fails, the container passes: verified
        release(r);
        probe_state::set_gpu_elf_first_hint(false);
        const int binaries = s->calls_create_binary;
        call_result r2 = probe(7);
        ASSERT_NE(r2.record.bytes, nullptr);
        EXPECT_EQ(s->calls_create_source, 2);
        EXPECT_EQ(s->calls_create_binary, binaries);  // no test build
        EXPECT_EQ(read_compat_note(r2.owner->data(), r2.owner->size()), compat_code_quen7);
        EXPECT_TRUE(probe_state::gpu_elf_first_hint());
        release(r2);
    });
}

TEST(Vasm2Probe, FailingReleaseEndsTheCall) {
    with_stub([](vasm2_stub_state* s) {
        probe_state::set_gpu_elf_first_hint(true);
        s->release_binary_status = -5;
        call_result r = probe(6);
        EXPECT_EQ(r.owner, untouched);
        EXPECT_EQ(r.record.bytes, nullptr);
        EXPECT_EQ(r.record.size, 0u);
        EXPECT_FALSE(probe_state::gpu_elf_verified(dev, 6));
        EXPECT_TRUE(probe_state::gpu_elf_first_hint());
        EXPECT_EQ(s->calls_create_source, 0);  // no further packaging
        EXPECT_EQ(s->live_programs, 0);
    });
}

TEST(Vasm2Probe, WithoutOpenCLEveryProbeIsEmpty) {
    in_child([] {
        ovxplat_win32_map_set("OpenCL.dll", nullptr);
        EXPECT_EQ(LoadLibraryExA("OpenCL.dll", nullptr, 0), nullptr);
        for (int arch : generations) {
            call_result r = probe(arch);
            // The carrier's missing entry counts as its failure; the missing
            // entry of the container's test build ends the call.
            EXPECT_EQ(r.owner, untouched) << arch;
            EXPECT_EQ(r.record.bytes, nullptr);
            EXPECT_TRUE(probe_state::gpu_elf_first_hint());
            probe_state::set_gpu_elf_first_hint(false);
        }
        EXPECT_EQ(detect_arch_from_compat_note(ctx, dev), 0);
    });
}

TEST(Vasm2Probe, CarrierOptions) {
    EXPECT_EQ(carrier_build_options(5, 128), "-cl-std=CL2.0");
    EXPECT_EQ(carrier_build_options(5, 129), "-cl-std=CL2.0 -cl-tarvo-256-GRF-per-thread");
    for (int arch : {6, 7, 8}) EXPECT_EQ(carrier_build_options(arch, 256), "-cl-std=CL2.0 -cl-tarvo-256-GRF-per-thread");
    for (int arch : {1, 2, 3}) EXPECT_EQ(carrier_build_options(arch, 256), "-cl-std=CL2.0");
    EXPECT_EQ(carrier_build_options(8, -1), "-cl-std=CL2.0");
}

// get_opencl_c_program_binary against the stand-in.
TEST(Vasm2CarrierBuild, PicksTheRequestedDevice) {
    with_stub([](vasm2_stub_state* s) {
        s->device_count = 3;
        s->devices[0] = reinterpret_cast<void*>(0x10);
        s->devices[1] = dev;
        s->devices[2] = reinterpret_cast<void*>(0x30);
        s->binaries[0] = bytes(10, 1);
        s->binaries[1] = bytes(20, 2);
        s->binaries[2] = bytes(30, 3);
        EXPECT_EQ(get_opencl_c_program_binary(ctx, dev, "kernel void k() {}", "-x"), bytes(20, 2));
        EXPECT_EQ(s->last_source, "kernel void k() {}");
        EXPECT_EQ(s->last_source_options, "-x");
        s->binaries[1].clear();
        EXPECT_TRUE(get_opencl_c_program_binary(ctx, dev, "k", "").empty());
        EXPECT_EQ(s->live_programs, 0);
    });
}

int status_of(const std::function<void()>& f) {
    try {
        f();
    } catch (const opencl_error& e) {
        return e.status;
    }
    return 999;
}

TEST(Vasm2CarrierBuild, EveryFailureThrowsAndReleases) {
    with_stub([](vasm2_stub_state* s) {
        s->binaries[0] = bytes(8, 1);
        auto build = [] { get_opencl_c_program_binary(ctx, dev, "src", "opt"); };
        s->device_count = 1;
        s->devices[0] = dev2;
        EXPECT_EQ(status_of(build), 0);  // device not among the program's devices
        s->device_count = 0;
        EXPECT_EQ(status_of(build), 0);
        s->device_count = 1;
        s->devices[0] = dev;
        s->create_source_status = -6;
        EXPECT_EQ(status_of(build), -6);
        s->create_source_program_on_error = true;
        EXPECT_EQ(status_of(build), -6);
        s->create_source_program_on_error = false;
        s->create_source_status = 0;
        s->create_source_null = true;
        EXPECT_EQ(status_of(build), 0);
        s->create_source_null = false;
        s->build_source_status = -11;
        EXPECT_EQ(status_of(build), -11);
        s->build_source_status = 0;
        for (int k = 0; k < 4; ++k) {
            s->info_status[k] = -30 - k;
            EXPECT_EQ(status_of(build), -30 - k) << k;
            s->info_status[k] = 0;
        }
        s->release_source_status = -5;
        EXPECT_EQ(status_of(build), -5);
        s->release_source_status = 0;
        EXPECT_EQ(status_of(build), 999);
        EXPECT_EQ(s->live_programs, 0);
        EXPECT_EQ(s->calls_create_source, s->calls_release_source + 2);  // two creations gave no program
    });
}

TEST(Vasm2CompatFallback, GenerationFromTheNoteOfABuiltKernel) {
    for (int arch : generations) {
        with_stub([arch](vasm2_stub_state* s) {
            kernel_interface k(7);
            k.finalized = 1;
            k.kernel_name = "ovx_compat_probe";
            s->binaries[0] = build_gpu_elf(k, bytes(32, 0), compat_code_of_arch(arch));
            EXPECT_EQ(detect_arch_from_compat_note(ctx, dev), arch);
            EXPECT_EQ(s->live_programs, 0);
        });
    }
    with_stub([](vasm2_stub_state* s) {
        s->binaries[0] = vasm2_test::carrier_binary();  // an ELF file without the note
        EXPECT_EQ(detect_arch_from_compat_note(ctx, dev), 0);
        s->binaries[0] = bytes(64, 0);
        EXPECT_EQ(detect_arch_from_compat_note(ctx, dev), 0);
        kernel_interface k(7);
        k.finalized = 1;
        s->binaries[0] = build_gpu_elf(k, {}, 4242);
        EXPECT_EQ(detect_arch_from_compat_note(ctx, dev), 0);
        s->build_source_status = -11;
        EXPECT_EQ(detect_arch_from_compat_note(ctx, dev), 0);
        EXPECT_EQ(s->live_programs, 0);
    });
}

}  // namespace
