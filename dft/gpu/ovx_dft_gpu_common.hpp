// Workspace helpers shared by the GPU backends.
#ifndef OVX_DFT_GPU_OVX_DFT_GPU_COMMON_HPP
#define OVX_DFT_GPU_OVX_DFT_GPU_COMMON_HPP

#include <cstdint>

#include <sycl/sycl.hpp>

#include "dft/gpu/ovx_dft_workspace_align.hpp"

// align_workspace_bytes with the alignment of the queue's device
// (mem_base_addr_align, bits), asked of the device at each call.
std::uint64_t align_workspace_offset(std::uint64_t bytes, sycl::queue* queue);

// Constructs, in the storage given, a one-dimensional byte buffer of `bytes`
// elements owned by the runtime, and returns it. The caller destroys it with
// ~buffer() and frees the storage.
sycl::buffer<char, 1>* construct_char_buffer(void* storage, std::size_t bytes,
                                             const sycl::property_list& props = {});

#endif
