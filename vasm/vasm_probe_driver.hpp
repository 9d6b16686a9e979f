// The binary-kernel probe: builds the "binary_test" kernel for a device's GPU
// generation and packages it as a program binary that the device's OpenCL
// driver can take, and the generation lookup through a binary's compat note.
#ifndef OVX_VASM_VASM_PROBE_DRIVER_HPP
#define OVX_VASM_VASM_PROBE_DRIVER_HPP

#ifndef CL_TARGET_OPENCL_VERSION
#define CL_TARGET_OPENCL_VERSION 300
#endif
#include <CL/cl.h>

#include <cstdint>
#include <string>
#include <vector>

#include "korami/ovx/gpu_types.h"

namespace korami {
namespace ovx {
namespace vasm {

// Builds the probe binary for a device of generation `arch` (1..8 as in
// ovx_gpu_arch_t). Never throws. Writes the whole record on entry (size 0,
// bytes null, carrier length 0, carrier text ""); on a normal return the
// record's size and bytes describe the result vector, whose owning pointer
// goes to *owner (an empty vector when both packagings failed). For arch 4
// or outside 1..8, and when the generator, finalisation, container writer or
// an OpenCL entry fails, *owner is not written and the record stays empty.
// `status` is neither read nor written.
void build_binary_test_binary(int* status, ovx_gpu_arch_t arch, cl_context context, cl_device_id device,
                              ovx_gpu_binary_kernel_t* record, std::vector<std::uint8_t>** owner) noexcept;

// Build options of the carrier kernel of a generation: "-cl-std=CL2.0", with
// " -cl-tarvo-256-GRF-per-thread" behind it from Quen5 on when the interface
// asks for 129 registers or more.
std::string carrier_build_options(ovx_gpu_arch_t arch, std::int32_t grf_count);

// Generation (1..8) of a device read from the compat note of the program
// binary that the driver builds for a tiny OpenCL C kernel; 0 when the binary
// has no such note, names no known generation, or anything fails. Never
// throws.
ovx_gpu_arch_t detect_arch_from_compat_note(cl_context context, cl_device_id device) noexcept;

// Process-wide state of the probe, for tests.
namespace probe_state {
// Which packaging a call tries first (true: GPU ELF container).
bool gpu_elf_first_hint();
void set_gpu_elf_first_hint(bool value);
// Whether a GPU ELF container of this generation passed a test build on this
// device.
bool gpu_elf_verified(cl_device_id device, std::int32_t arch);
void forget_verified();
}  // namespace probe_state

}  // namespace vasm
}  // namespace ovx
}  // namespace korami

#endif
