// The frame's non-template services: the workspace rounding with the
// device's alignment and the byte buffers of composite modules.
#include "dft/gpu/frame/areas.hpp"
#include "gpu/ovx_gpu.hpp"

#include <new>

std::uint64_t align_workspace_offset(std::uint64_t bytes, sycl::queue* queue) {
    korami::ovx::gpu::device_facts f;
    int st = 0;
    if (korami::ovx::gpu::get_device_facts(&st, queue, &f)) return align_workspace_bytes(bytes, f.align_bytes);
    const std::uint32_t bits = queue->get_device().get_info<sycl::info::device::mem_base_addr_align>();
    return align_workspace_bytes(bytes, bits / 8);
}

sycl::buffer<char, 1>* construct_char_buffer(void* storage, std::size_t bytes,
                                             const sycl::property_list& props) {
    return new (storage) sycl::buffer<char, 1>(sycl::range<1>(bytes), props);
}
