// have_binary_kernels: whether a device's driver runs GPU binaries that the
// library generates itself. The code generator makes the probe kernel
// "binary_test" for the device's generation; the kernel compares each of its
// arguments with a fixed pattern, reads a word through a pointer, checks its
// work-group shape and writes 1 into "ok" when everything matched.
#include <stdint.h>

#include <vector>

#include "gpu/ovx_gpu.hpp"
#include "gpu/ovx_gpu_device.hpp"
#include "gpu/ovx_gpu_native.hpp"
#include "vasm/vasm_probe_driver.hpp"

#include <ovx_serv.h>

namespace korami {
namespace ovx {
namespace gpu {

namespace {

// Runs the probe kernel made from `binary` on the queue; true when it
// reports success.
bool run_probe(sycl::queue* queue, const ovx_gpu_binary_kernel_t& binary) {
    int status = 0;
    ovx_gpu_kernel_struct_t* k = get_binary_kernel(&status, queue, domain_dft, &binary, "binary_test");
    if (k == nullptr || status != 0 || k->kernel == nullptr) return false;
    uint32_t ok_value = 0;  // the kernel may not start at all: "ok" must not hold a stale 1
    uint32_t src_value = 0xABADFEEDu;
    try {
        sycl::buffer<uint32_t, 1> src_ptr(&src_value, sycl::range<1>(1));
        sycl::buffer<uint32_t, 1> ok(&ok_value, sycl::range<1>(1));
        sycl::event run = queue->submit([&](sycl::handler& h) {
            sycl::accessor src_acc(src_ptr, h, sycl::read_only);
            sycl::accessor ok_acc(ok, h, sycl::read_write);
            h.set_arg(0, static_cast<uint32_t>(0xBEEFCAFEu));
            h.set_arg(1, static_cast<uint64_t>(0x3141592653589793ull));
            h.set_arg(2, static_cast<uint16_t>(0xBEAD));
            h.set_arg(3, static_cast<uint16_t>(0xFACE));
            h.set_arg(4, static_cast<uint64_t>(0x0123456789ABCDEFull));
            h.set_arg(5, static_cast<uint64_t>(0xFEDCBA9876543210ull));
            h.set_arg(6, src_acc);
            h.set_arg(7, ok_acc);
            // One work-group of 4 x 2 x 1 items (SYCL's last dimension is the
            // kernel's first).
            h.parallel_for(sycl::nd_range<3>(sycl::range<3>(1, 2, 4), sycl::range<3>(1, 2, 4)), *k->kernel);
        });
        // Waits for the probe alone: the caller's other work on the queue,
        // and the asynchronous errors it may raise, are none of the probe's
        // business.
        run.wait();
    } catch (const std::exception&) {
        return false;
    }
    return ok_value != 0;  // the buffers wrote back when they went out of scope
}

}  // namespace

bool have_binary_kernels(int* status, sycl::queue* queue) {
    device_record* r = get_device_record(status, queue);
    if (r == nullptr) return false;
    int verdict = r->binary_kernels.load(std::memory_order_acquire);
    if (verdict >= 0) return verdict == 1;

    // The generation first: its detection takes the record's lock itself.
    ovx_gpu_arch_t arch = record_architecture(r, queue);
    if (r->backend != 0) {
        r->binary_kernels.store(0, std::memory_order_release);  // no OpenCL interface to run it
        return false;
    }
    const ocl::entries* cl = ocl::load(nullptr);
    if (cl == nullptr) {
        if (status != nullptr) *status = -1001;
        return false;
    }

    lock_hold hold(&r->lock);  // one check per device at a time
    verdict = r->binary_kernels.load(std::memory_order_acquire);
    if (verdict < 0) {
        native_handles h;
        if (!get_natives(h, cl, queue).empty()) {
            if (status != nullptr) *status = CL_INVALID_DEVICE;
            return false;
        }
        int probe_status = 0;
        ovx_gpu_binary_kernel_t binary{};
        std::vector<uint8_t>* owner = nullptr;
        vasm::build_binary_test_binary(&probe_status, arch, h.context, h.device, &binary, &owner);
        bool works = binary.bytes != nullptr && binary.size != 0 && run_probe(queue, binary);
        delete owner;  // frees the bytes the record pointed to
        verdict = works ? 1 : 0;
        r->binary_kernels.store(verdict, std::memory_order_release);
    }
    return verdict == 1;
}

}  // namespace gpu
}  // namespace ovx
}  // namespace korami
