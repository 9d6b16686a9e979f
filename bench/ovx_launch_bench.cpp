// Per-launch cost of OpenCL kernels run through the SYCL stand-in's GPU
// queue, against the same kernels enqueued straight into one OpenCL queue
// and waited for once (as other OpenCL libraries on the device do). Not part
// of the tests.
//
//   ovx_launch_bench [--reps=N] [--items=N] [--chain=N]
//
// Cases, each the minimum over N runs (default 200) in microseconds:
//   raw chain     `chain` launches into one in-order OpenCL queue, one clFinish
//   sycl chain    `chain` launches on an out-of-order queue, each depending on
//                 the previous one's event (the library's pattern), one wait
//   sycl in-order the same on an in-order queue, one wait
//   sycl single   one launch and its wait
//   raw single    one launch and clFinish
//   empty task    an empty host task and its wait (no OpenCL)
// The difference between the sycl and the raw chains, divided by the
// launches, is the stand-in's cost per launch.
#include <CL/cl.h>

#include <ovxplat/sycl_standin.hpp>
#include <sycl/sycl.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

const char* kSource = R"CLC(
__kernel void scale_kernel(__global float* p, float f) { p[get_global_id(0)] *= f; }
)CLC";

using clock_type = std::chrono::steady_clock;

double best_us(int reps, const std::function<void()>& run) {
    run();
    double best = 1e30;
    for (int i = 0; i < reps; ++i) {
        const auto t0 = clock_type::now();
        run();
        best = std::min(best, std::chrono::duration<double, std::micro>(clock_type::now() - t0).count());
    }
    return best;
}

long arg_of(int argc, char** argv, const char* name, long fallback) {
    const std::size_t n = std::strlen(name);
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], name, n) == 0 && argv[i][n] == '=') return std::strtol(argv[i] + n + 1, nullptr, 10);
    return fallback;
}

}  // namespace

int main(int argc, char** argv) {
    const int reps = static_cast<int>(arg_of(argc, argv, "--reps", 200));
    const std::size_t items = static_cast<std::size_t>(arg_of(argc, argv, "--items", 4096));
    const int chain = static_cast<int>(arg_of(argc, argv, "--chain", 4));
    if (!ovxplat::opencl_available()) {
        std::fprintf(stderr, "no OpenCL device\n");
        return 1;
    }
    sycl::queue q{sycl::gpu_selector_v};
    sycl::queue qo{q.get_context(), q.get_device(), sycl::property::queue::in_order()};
    cl_context ctx = sycl::get_native<sycl::backend::opencl>(q.get_context());
    cl_device_id dev = sycl::get_native<sycl::backend::opencl>(q.get_device());
    cl_int err = CL_SUCCESS;
    cl_program prog = clCreateProgramWithSource(ctx, 1, &kSource, nullptr, &err);
    if (err == CL_SUCCESS) err = clBuildProgram(prog, 1, &dev, "", nullptr, nullptr);
    if (err != CL_SUCCESS) {
        std::fprintf(stderr, "build failed: %d\n", err);
        return 1;
    }
    cl_kernel ck = clCreateKernel(prog, "scale_kernel", &err);
    auto k = sycl::make_kernel<sycl::backend::opencl>(ck, q.get_context());
    float* p = sycl::malloc_shared<float>(items, q);
    std::fill(p, p + items, 1.0f);

    const sycl::nd_range<1> geometry{sycl::range<1>(items), sycl::range<1>(64)};
    auto sycl_chain = [&](sycl::queue& sq, bool ordered) {
        sycl::event last;
        for (int i = 0; i < chain; ++i)
            last = sq.submit([&](sycl::handler& h) {
                if (ordered && i) h.depends_on(last);
                h.set_args(p, 1.0f);
                h.parallel_for(geometry, k);
            });
        last.wait();
    };
    cl_command_queue cq = clCreateCommandQueueWithProperties(ctx, dev, nullptr, &err);
    const std::size_t g = items, l = 64;
    const float one = 1.0f;
    auto raw_chain = [&](int n) {
        for (int i = 0; i < n; ++i) {
            clSetKernelArgSVMPointer(ck, 0, p);
            clSetKernelArg(ck, 1, sizeof one, &one);
            clEnqueueNDRangeKernel(cq, ck, 1, nullptr, &g, &l, 0, nullptr, nullptr);
        }
        clFinish(cq);
    };

    // Interleaved rounds; each case keeps its minimum.
    double t_raw = 1e30, t_chain = 1e30, t_inorder = 1e30, t_single = 1e30, t_raw1 = 1e30, t_task = 1e30;
    const int rounds = 5;
    for (int r = 0; r < rounds; ++r) {
        t_raw = std::min(t_raw, best_us(reps / rounds, [&] { raw_chain(chain); }));
        t_chain = std::min(t_chain, best_us(reps / rounds, [&] { sycl_chain(q, true); }));
        t_inorder = std::min(t_inorder, best_us(reps / rounds, [&] { sycl_chain(qo, false); }));
        t_single = std::min(t_single, best_us(reps / rounds, [&] {
                                q.submit([&](sycl::handler& h) {
                                     h.set_args(p, 1.0f);
                                     h.parallel_for(geometry, k);
                                 }).wait();
                            }));
        t_raw1 = std::min(t_raw1, best_us(reps / rounds, [&] { raw_chain(1); }));
        t_task = std::min(t_task, best_us(reps / rounds, [&] {
                              q.submit([&](sycl::handler& h) { h.host_task([] {}); }).wait();
                          }));
    }
    std::printf("items %zu, chain %d, minimum of %d runs (us)\n", items, chain, reps);
    std::printf("raw chain      %9.1f\n", t_raw);
    std::printf("sycl chain     %9.1f   (+%.1f per launch)\n", t_chain, (t_chain - t_raw) / chain);
    std::printf("sycl in-order  %9.1f   (+%.1f per launch)\n", t_inorder, (t_inorder - t_raw) / chain);
    std::printf("raw single     %9.1f\n", t_raw1);
    std::printf("sycl single    %9.1f   (+%.1f)\n", t_single, t_single - t_raw1);
    std::printf("empty task     %9.1f   (the queue's round trip without OpenCL)\n", t_task);

    sycl::free(p, q);
    clReleaseCommandQueue(cq);
    clReleaseKernel(ck);
    clReleaseProgram(prog);
    return 0;
}
