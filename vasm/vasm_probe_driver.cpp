// Probe driver: finalises the probe kernel once and tries its two packagings,
// the GPU ELF container (test-built through OpenCL until one has passed on the
// device) and the carrier program binary with the generated code patched in.
#include "vasm/vasm_probe_driver.hpp"

#include <atomic>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <utility>

#include "vasm/vasm.hpp"
#include "vasm/vasm_carrier.hpp"
#include "vasm/vasm_elf.hpp"
#include "vasm/vasm_patch.hpp"
#include "vasm/vasm_sb.hpp"

namespace korami {
namespace ovx {
namespace vasm {

namespace {

std::atomic<bool> first_hint{false};

// Devices and generations whose GPU ELF container passed a test build. A
// container that one device's driver accepted says nothing about another
// device, so the experience is kept per device and generation.
std::mutex verified_lock;
std::vector<std::pair<cl_device_id, std::int32_t>>& verified_list() {
    static std::vector<std::pair<cl_device_id, std::int32_t>> list;
    return list;
}
bool is_verified(cl_device_id device, std::int32_t arch) {
    std::lock_guard<std::mutex> g(verified_lock);
    for (const auto& e : verified_list())
        if (e.first == device && e.second == arch) return true;
    return false;
}
void mark_verified(cl_device_id device, std::int32_t arch) {
    std::lock_guard<std::mutex> g(verified_lock);
    for (const auto& e : verified_list())
        if (e.first == device && e.second == arch) return;
    verified_list().emplace_back(device, arch);
}

using create_with_binary_fn = cl_program(CL_API_CALL*)(cl_context, cl_uint, const cl_device_id*, const size_t*,
                                                        const unsigned char**, cl_int*, cl_int*);
using build_fn = cl_int(CL_API_CALL*)(cl_program, cl_uint, const cl_device_id*, const char*,
                                      void(CL_CALLBACK*)(cl_program, void*), void*);
using release_fn = cl_int(CL_API_CALL*)(cl_program);

create_with_binary_fn entry_create_with_binary() {
    static const create_with_binary_fn f =
        reinterpret_cast<create_with_binary_fn>(get_opencl_entry("clCreateProgramWithBinary"));
    return f;
}
build_fn entry_build() {
    static const build_fn f = reinterpret_cast<build_fn>(get_opencl_entry("clBuildProgram"));
    return f;
}
release_fn entry_release() {
    static const release_fn f = reinterpret_cast<release_fn>(get_opencl_entry("clReleaseProgram"));
    return f;
}

const char build_options[] = "-cl-std=CL2.0";
const char empty_text[] = "";

void release_bytes(std::vector<std::uint8_t>& v) { std::vector<std::uint8_t>().swap(v); }

// GPU ELF attempt; true on success. Throws opencl_error when releasing the
// test program fails, and whatever the writer throws.
bool gpu_elf_attempt(code_generator& gen, const std::vector<std::uint8_t>& code, std::int32_t arch,
                     cl_context context, cl_device_id device, std::vector<std::uint8_t>& result) {
    const bool verified = is_verified(device, arch);
    result = write_gpu_elf(gen, code);
    if (verified) return true;
    const create_with_binary_fn create = entry_create_with_binary();
    const build_fn build = entry_build();
    const release_fn release = entry_release();
    cl_int status = 0;
    const size_t length = result.size();
    const unsigned char* bytes = result.data();
    cl_program program = create(context, 1, &device, &length, &bytes, nullptr, &status);
    bool accepted = false;
    if (status == 0 && program) {
        const cl_int built = build(program, 1, &device, build_options, nullptr, nullptr);
        const cl_int released = release(program);
        if (released != 0) throw opencl_error(released);
        accepted = built == 0;
    } else if (program) {
        // A driver that reports a failure and still hands out a program.
        release(program);
    }
    if (accepted) {
        mark_verified(device, arch);
        return true;
    }
    first_hint.store(false);
    release_bytes(result);
    return false;
}

// Carrier attempt; true on success. Catches everything.
bool carrier_attempt(code_generator& gen, const std::vector<std::uint8_t>& code, std::int32_t arch,
                     cl_context context, cl_device_id device, std::vector<std::uint8_t>& result) noexcept {
    try {
        const std::string options = carrier_build_options(arch, gen.iface.grf_count);
        std::ostringstream text;
        generate_dummy_cl(gen.iface, text);
        const std::string source = text.str();
        result = get_opencl_c_program_binary(context, device, source.c_str(), options.c_str());
        npack::replace_kernel(result, std::vector<std::uint8_t>(code), arch == 7, std::vector<std::uint8_t>());
        return true;
    } catch (...) {
        release_bytes(result);
        first_hint.store(true);
        return false;
    }
}

}  // namespace

std::string carrier_build_options(ovx_gpu_arch_t arch, std::int32_t grf_count) {
    std::string options = build_options;
    if (arch >= 5 && grf_count >= 129) options += " -cl-tarvo-256-GRF-per-thread";
    return options;
}

void build_binary_test_binary(int* status, ovx_gpu_arch_t arch, cl_context context, cl_device_id device,
                              ovx_gpu_binary_kernel_t* record, std::vector<std::uint8_t>** owner) noexcept {
    (void)status;
    record->size = 0;
    record->bytes = nullptr;
    record->carrier_length = 0;
    record->carrier_source = empty_text;
    if (arch < 1 || arch > 8 || arch == 4) return;
    try {
        std::unique_ptr<code_generator> gen = make_binary_test_generator(arch);
        if (!gen) return;
        std::unique_ptr<std::vector<std::uint8_t>> result(new std::vector<std::uint8_t>());
        const bool hint = first_hint.load();
        const std::vector<std::uint8_t> code = finalize_program(*gen);
        bool done = false;
        for (bool d : {true, false}) {
            if (d == hint)
                done = gpu_elf_attempt(*gen, code, arch, context, device, *result);
            else
                done = carrier_attempt(*gen, code, arch, context, device, *result);
            if (done) break;
        }
        if (!done) release_bytes(*result);
        gen.reset();
        record->size = result->size();
        record->bytes = result->empty() ? nullptr : result->data();
        *owner = result.release();
    } catch (...) {
        record->size = 0;
        record->bytes = nullptr;
    }
}

ovx_gpu_arch_t detect_arch_from_compat_note(cl_context context, cl_device_id device) noexcept {
    try {
        static const char source[] = "kernel void ovx_compat_probe(global int *p) { p[0] = 0; }\n";
        const std::vector<std::uint8_t> binary = get_opencl_c_program_binary(context, device, source, "");
        return arch_of_compat_code(read_compat_note(binary.data(), binary.size()));
    } catch (...) {
        return 0;
    }
}

namespace probe_state {
bool gpu_elf_first_hint() { return first_hint.load(); }
void set_gpu_elf_first_hint(bool value) { first_hint.store(value); }
bool gpu_elf_verified(cl_device_id device, std::int32_t arch) { return is_verified(device, arch); }
void forget_verified() {
    std::lock_guard<std::mutex> g(verified_lock);
    verified_list().clear();
}
}  // namespace probe_state

}  // namespace vasm
}  // namespace ovx
}  // namespace korami
