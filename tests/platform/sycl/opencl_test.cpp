// OpenCL kernels on the GPU device and interop with native handles.
#include <gtest/gtest.h>
#include <ovxplat/sycl_standin.hpp>
#include <sycl/sycl.hpp>

#include "sycl_test_util.hpp"
#include "ovx_test_gpu.hpp"

#include <chrono>
#include <numeric>
#include <thread>

namespace {

const char* kSource = R"CLC(
typedef struct { long a; int b; float c; double d; } big_t;
__kernel void args_kernel(__global const int* usm, __global const int* acc, __local int* lmem, char c, int i,
                          long l, double dv, big_t big, __global long* out) {
    int lid = get_local_id(0);
    lmem[lid] = usm[lid] + acc[lid];
    barrier(CLK_LOCAL_MEM_FENCE);
    if (lid == 0) {
        long s = 0;
        for (int k = 0; k < (int)get_local_size(0); ++k) s += lmem[k];
        out[0] = s; out[1] = c; out[2] = i; out[3] = l; out[4] = (long)(dv * 4.0);
        out[5] = big.a; out[6] = big.b; out[7] = (long)(big.c * 2.0f); out[8] = (long)(big.d * 8.0);
    }
}
__kernel void dims_kernel(__global int* out) {
    size_t x = get_global_id(0), y = get_global_id(1), z = get_global_id(2);
    size_t w = get_global_size(0) + get_global_offset(0), h = get_global_size(1) + get_global_offset(1);
    out[(z * h + y) * w + x] = (int)(x + 100 * y + 10000 * z);
}
__kernel void scale_kernel(__global float* p, float f) { p[get_global_id(0)] *= f; }
__kernel __attribute__((reqd_work_group_size(8, 2, 1))) void fixed_kernel(__global int* p) { p[get_global_id(0)] = 1; }
)CLC";

struct Program {
    cl_context ctx = nullptr;
    cl_program prog = nullptr;
    ~Program() {
        if (prog) clReleaseProgram(prog);
        if (ctx) clReleaseContext(ctx);
    }
};

// One program for the whole suite (PoCL compiles each kernel once).
Program& program() {
    static Program* p = [] {
        auto* pr = new Program();
        sycl::queue q{sycl::gpu_selector_v};
        pr->ctx = sycl::get_native<sycl::backend::opencl>(q.get_context());
        cl_device_id dev = sycl::get_native<sycl::backend::opencl>(q.get_device());
        cl_int err = CL_SUCCESS;
        pr->prog = clCreateProgramWithSource(pr->ctx, 1, &kSource, nullptr, &err);
        if (err == CL_SUCCESS) err = clBuildProgram(pr->prog, 1, &dev, "", nullptr, nullptr);
        if (err != CL_SUCCESS) {
            char log[4096] = {0};
            clGetProgramBuildInfo(pr->prog, dev, CL_PROGRAM_BUILD_LOG, sizeof(log) - 1, log, nullptr);
            ADD_FAILURE() << "build failed " << err << ": " << log;
        }
        return pr;
    }();
    return *p;
}

sycl::kernel make(const char* name, const sycl::context& ctx) { return make_opencl_kernel(program().prog, name, ctx); }

struct big_t {
    std::int64_t a;
    std::int32_t b;
    float c;
    double d;
};
static_assert(sizeof(big_t) == 24, "layout of the OpenCL struct");

class SyclOpenCL : public ::testing::Test {
protected:
    void SetUp() override {
        OVX_REQUIRE_OPENCL();
    }
};

TEST_F(SyclOpenCL, EveryArgumentKind) {
    sycl::queue q{sycl::gpu_selector_v};
    auto k = make("args_kernel", q.get_context());
    EXPECT_EQ(k.get_info<sycl::info::kernel::num_args>(), 9u);
    EXPECT_EQ(k.get_info<sycl::info::kernel::function_name>(), "args_kernel");
    auto* usm = sycl::malloc_device<int>(16, q);
    auto* out = sycl::malloc_shared<std::int64_t>(9, q);
    for (int i = 0; i < 16; ++i) usm[i] = i;  // device USM is host-visible here
    std::vector<int> init(32);
    std::iota(init.begin(), init.end(), 100);
    sycl::buffer<int, 1> buf(init.data(), sycl::range<1>(32));
    sycl::buffer<int, 1> sub(buf, sycl::id<1>(5), sycl::range<1>(8));
    const big_t big{-1234567890123LL, 77, 2.5f, 0.375};
    q.submit([&](sycl::handler& h) {
         sycl::accessor acc(sub, h, sycl::read_only);
         sycl::local_accessor<int, 1> lmem(sycl::range<1>(4), h);
         h.set_args(usm + 3, acc, lmem, static_cast<char>(-5), 123456, std::int64_t(1) << 40, 2.75, big, out);
         h.parallel_for(sycl::nd_range<1>(4, 4), k);
     }).wait();
    // usm[3..6] + buf[5..8]
    EXPECT_EQ(out[0], (3 + 4 + 5 + 6) + (105 + 106 + 107 + 108));
    EXPECT_EQ(out[1], -5);
    EXPECT_EQ(out[2], 123456);
    EXPECT_EQ(out[3], std::int64_t(1) << 40);
    EXPECT_EQ(out[4], 11);
    EXPECT_EQ(out[5], -1234567890123LL);
    EXPECT_EQ(out[6], 77);
    EXPECT_EQ(out[7], 5);
    EXPECT_EQ(out[8], 3);
    sycl::free(usm, q);
    sycl::free(out, q);
}

TEST_F(SyclOpenCL, KernelDeviceSpecificFigures) {
    sycl::queue q{sycl::gpu_selector_v};
    auto k = make("fixed_kernel", q.get_context());
    auto d = q.get_device();
    namespace kds = sycl::info::kernel_device_specific;
    EXPECT_EQ(k.get_info<kds::compile_work_group_size>(d), sycl::range<3>(1, 2, 8));
    auto wg = k.get_info<kds::work_group_size>(d);
    EXPECT_GE(wg, 1u);
    EXPECT_LE(wg, d.get_info<sycl::info::device::max_work_group_size>());
    EXPECT_EQ(k.get_info<kds::max_sub_group_size>(d), d.get_info<sycl::info::device::sub_group_sizes>().back());
}

TEST_F(SyclOpenCL, ArgumentErrorsAreThrownAtSubmission) {
    sycl::queue q{sycl::gpu_selector_v};
    auto k = make("scale_kernel", q.get_context());
    auto* p = sycl::malloc_shared<float>(8, q);
    auto e = error_and_text([&] {
        q.submit([&](sycl::handler& h) {
            h.set_arg(0, p);
            h.set_arg(1, 2.0);  // 8 bytes for a float parameter
            h.parallel_for(sycl::range<1>(8), k);
        });
    });
    EXPECT_EQ(e.first, sycl::errc::kernel_argument);
    EXPECT_NE(e.second.find("OpenCL error -51"), std::string::npos) << e.second;
    e = error_and_text([&] {
        q.submit([&](sycl::handler& h) {
            h.set_arg(0, p);
            h.parallel_for(sycl::range<1>(8), k);
        });
    });
    EXPECT_EQ(e.first, sycl::errc::kernel_argument);
    sycl::queue cpu{sycl::cpu_selector_v};
    EXPECT_EQ(error_and_text([&] {
                  cpu.submit([&](sycl::handler& h) {
                      h.set_args(p, 2.0f);
                      h.parallel_for(sycl::range<1>(8), k);
                  });
              }).first,
              sycl::errc::invalid);
    // A correct launch after the failures.
    for (int i = 0; i < 8; ++i) p[i] = static_cast<float>(i);
    q.submit([&](sycl::handler& h) {
         h.set_args(p + 2, 3.0f);
         h.parallel_for(sycl::range<1>(6), k);
     }).wait();
    EXPECT_EQ(p[1], 1.0f);
    EXPECT_EQ(p[2], 6.0f);
    EXPECT_EQ(p[7], 21.0f);
    sycl::free(p, q);
}

// SYCL's last dimension is OpenCL's dimension 0.
TEST_F(SyclOpenCL, DimensionOrderIsReversed) {
    sycl::queue q{sycl::gpu_selector_v};
    auto k = make("dims_kernel", q.get_context());
    auto* out = sycl::malloc_shared<int>(4 * 6 * 8, q);
    std::fill(out, out + 4 * 6 * 8, -1);
    q.submit([&](sycl::handler& h) {
         h.set_arg(0, out);
         h.parallel_for(sycl::nd_range<2>(sycl::range<2>(3, 5), sycl::range<2>(1, 5)), k);
     }).wait();
    // SYCL item (i, j) of range (3, 5) is OpenCL (x = j, y = i): linear i * 5 + j.
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 5; ++j) EXPECT_EQ(out[i * 5 + j], j + 100 * i);
    std::fill(out, out + 4 * 6 * 8, -1);
    q.submit([&](sycl::handler& h) {
         h.set_arg(0, out);
         h.parallel_for(sycl::range<3>(2, 3, 4), sycl::id<3>(2, 3, 4), k);
     }).wait();
    // SYCL (a, b, c) from offset (2, 3, 4): OpenCL x = c, y = b, z = a over an 8 x 6 x 4 box.
    EXPECT_EQ(out[(2 * 6 + 3) * 8 + 4], 4 + 100 * 3 + 10000 * 2);
    EXPECT_EQ(out[(3 * 6 + 5) * 8 + 7], 7 + 100 * 5 + 10000 * 3);
    EXPECT_EQ(out[0], -1);
    sycl::free(out, q);
}

TEST_F(SyclOpenCL, BufferOrderingAcrossOpenClAndHostKernels) {
    sycl::queue q{sycl::gpu_selector_v};
    auto k = make("scale_kernel", q.get_context());
    std::vector<float> v(64, 1.0f);
    {
        sycl::buffer<float, 1> b(v.data(), sycl::range<1>(64));
        for (int round = 0; round < 3; ++round) {
            q.submit([&](sycl::handler& h) {
                sycl::accessor a(b, h, sycl::read_write);
                h.set_args(a, 2.0f);
                h.parallel_for(sycl::range<1>(64), k);
            });
            q.submit([&](sycl::handler& h) {
                sycl::accessor a(b, h, sycl::read_write);
                h.parallel_for(sycl::range<1>(64), [=](sycl::id<1> i) { a[i] += 1.0f; });
            });
        }
    }
    for (float x : v) EXPECT_EQ(x, 15.0f);  // ((1*2+1)*2+1)*2+1
}

TEST_F(SyclOpenCL, InteropRoundTrips) {
    sycl::queue q{sycl::gpu_selector_v, sycl::property::queue::in_order{}};
    cl_device_id dev = sycl::get_native<sycl::backend::opencl>(q.get_device());
    EXPECT_EQ(sycl::make_device<sycl::backend::opencl>(dev), q.get_device());
    cl_context ctx = sycl::get_native<sycl::backend::opencl>(q.get_context());
    auto c2 = sycl::make_context<sycl::backend::opencl>(ctx);
    ASSERT_EQ(c2.get_devices().size(), 1u);
    EXPECT_EQ(c2.get_devices()[0], q.get_device());
    cl_context back = sycl::get_native<sycl::backend::opencl>(c2);
    EXPECT_EQ(back, ctx);
    clReleaseContext(back);
    auto c3 = sycl::detail::make_context(reinterpret_cast<sycl::detail::pi_native_handle>(ctx), {},
                                         sycl::backend::opencl, false, {});
    EXPECT_EQ(c3.get_backend(), sycl::backend::opencl);

    cl_command_queue nq = sycl::get_native<sycl::backend::opencl>(q);
    cl_command_queue_properties props = 0;
    clGetCommandQueueInfo(nq, CL_QUEUE_PROPERTIES, sizeof(props), &props, nullptr);
    EXPECT_EQ(props & CL_QUEUE_OUT_OF_ORDER_EXEC_MODE_ENABLE, 0u);
    auto q2 = sycl::make_queue<sycl::backend::opencl>(nq, c2);
    EXPECT_TRUE(q2.is_in_order());
    auto q3 = sycl::detail::make_queue(reinterpret_cast<sycl::detail::pi_native_handle>(nq), 0, c3, nullptr, true, {},
                                       {}, sycl::backend::opencl);
    EXPECT_EQ(q3.get_device(), q.get_device());
    auto* p = sycl::malloc_shared<float>(4, q3);
    auto k = make("scale_kernel", c3);
    cl_kernel nk = sycl::get_native<sycl::backend::opencl>(k);
    EXPECT_NE(nk, nullptr);
    clReleaseKernel(nk);
    for (int i = 0; i < 4; ++i) p[i] = 1.0f;
    auto e = q3.submit([&](sycl::handler& h) {
        h.set_args(p, 4.0f);
        h.parallel_for(sycl::range<1>(4), k);
    });
    auto natives = sycl::get_native<sycl::backend::opencl>(e);
    ASSERT_EQ(natives.size(), 1u);
    EXPECT_EQ(clWaitForEvents(1, natives.data()), CL_SUCCESS);
    clReleaseEvent(natives[0]);
    EXPECT_EQ(p[3], 4.0f);
    sycl::free(p, q3);
    clReleaseCommandQueue(nq);

    // An OpenCL event made into a SYCL event orders SYCL commands.
    cl_int err = CL_SUCCESS;
    cl_event user = clCreateUserEvent(ctx, &err);
    ASSERT_EQ(err, CL_SUCCESS);
    auto se = sycl::make_event<sycl::backend::opencl>(user, c2);
    int flag = 0;
    auto after = q.submit([&](sycl::handler& h) {
        h.depends_on(se);
        h.host_task([&] { flag = 1; });
    });
    EXPECT_EQ(after.get_info<sycl::info::event::command_execution_status>(),
              sycl::info::event_command_status::submitted);
    clSetUserEventStatus(user, CL_COMPLETE);
    after.wait();
    EXPECT_EQ(flag, 1);
    clReleaseEvent(user);
    clReleaseContext(ctx);
}

// Work submitted to a queue made from a native queue is over once clFinish
// on that native queue returns: an OpenCL kernel, a host kernel and a host
// task (which lingers, so that an unordered clFinish would return first).
TEST_F(SyclOpenCL, MadeQueueWorkFinishesWithItsNativeQueue) {
    sycl::queue q{sycl::gpu_selector_v};
    cl_context ctx = sycl::get_native<sycl::backend::opencl>(q.get_context());
    cl_device_id dev = sycl::get_native<sycl::backend::opencl>(q.get_device());
    cl_int err = CL_SUCCESS;
    cl_command_queue nq = clCreateCommandQueueWithProperties(ctx, dev, nullptr, &err);
    ASSERT_EQ(err, CL_SUCCESS);
    auto c = sycl::make_context<sycl::backend::opencl>(ctx);
    auto mq = sycl::make_queue<sycl::backend::opencl>(nq, c);
    auto k = make("scale_kernel", c);
    auto* p = sycl::malloc_shared<float>(64, mq);
    std::fill(p, p + 64, 1.0f);
    float seen = 0;
    mq.submit([&](sycl::handler& h) {
        h.set_args(p, 4.0f);
        h.parallel_for(sycl::range<1>(64), k);
    });
    mq.parallel_for(sycl::range<1>(64), [=](sycl::id<1> i) { p[i] += 1.0f; });
    mq.submit([&](sycl::handler& h) {
        h.host_task([&seen, p] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            seen = p[63];
        });
    });
    ASSERT_EQ(clFinish(nq), CL_SUCCESS);
    EXPECT_EQ(seen, 5.0f);
    EXPECT_EQ(p[0], 5.0f);
    mq.wait();
    sycl::free(p, mq);
    clReleaseCommandQueue(nq);
    clReleaseContext(ctx);
}

TEST_F(SyclOpenCL, HostTaskInteropHandleAndPointerWrappers) {
    sycl::queue q{sycl::gpu_selector_v};
    cl_device_id want = sycl::get_native<sycl::backend::opencl>(q.get_device());
    cl_device_id got = nullptr;
    sycl::backend b = sycl::backend::ext_tarvo_host;
    q.submit([&](sycl::handler& h) {
         h.host_task([&](sycl::interop_handle ih) {
             b = ih.get_backend();
             got = ih.get_native_device<sycl::backend::opencl>();
             cl_command_queue nq = ih.get_native_queue<sycl::backend::opencl>();
             EXPECT_EQ(clFinish(nq), CL_SUCCESS);
             clReleaseCommandQueue(nq);
             cl_context c = ih.get_native_context<sycl::backend::opencl>();
             clReleaseContext(c);
         });
     }).wait();
    EXPECT_EQ(b, sycl::backend::opencl);
    EXPECT_EQ(got, want);
    // A multi_ptr argument is bound as the pointer it holds.
    auto k = make("scale_kernel", q.get_context());
    auto* p = sycl::malloc_device<float>(4, q);
    for (int i = 0; i < 4; ++i) p[i] = 1.0f + i;
    q.submit([&](sycl::handler& h) {
         h.set_args(sycl::global_ptr<float>(p + 1), 10.0f);
         h.parallel_for(sycl::range<1>(3), k);
     }).wait();
    EXPECT_EQ(p[0], 1.0f);
    EXPECT_EQ(p[1], 20.0f);
    EXPECT_EQ(p[3], 40.0f);
    sycl::free(p, q);
}

TEST_F(SyclOpenCL, LevelZeroProfileHandlesAndMismatch) {
    ovxplat::scoped_gpu_profile s("quen6_l0_2tile");
    sycl::device d{sycl::gpu_selector_v};
    EXPECT_EQ(d.get_backend(), sycl::backend::ext_tarvo_level_zero);
    auto mism = error_and_text([&] { sycl::get_native<sycl::backend::opencl>(d); });
    EXPECT_EQ(mism.first, sycl::errc::backend_mismatch);
    EXPECT_EQ(mism.second, "Backends mismatch");
    auto subs = d.create_sub_devices<sycl::info::partition_property::partition_by_affinity_domain>(
        sycl::info::partition_affinity_domain::next_partitionable);
    void* root = sycl::get_native<sycl::backend::ext_tarvo_level_zero>(d);
    void* t1 = sycl::get_native<sycl::backend::ext_tarvo_level_zero>(subs[1]);
    EXPECT_NE(root, t1);
    EXPECT_EQ(sycl::make_device<sycl::backend::ext_tarvo_level_zero>(t1), subs[1]);
    EXPECT_EQ(sycl::make_device<sycl::backend::ext_tarvo_level_zero>(root), d);
    int token = 0;
    EXPECT_EQ(error_and_text([&] { sycl::make_device<sycl::backend::ext_tarvo_level_zero>(&token); }).second,
              "Native device isn't exposed to SYCL.");
    auto ctx = sycl::detail::make_context(reinterpret_cast<sycl::detail::pi_native_handle>(&token), {},
                                          sycl::backend::ext_tarvo_level_zero, true, {subs[1]});
    EXPECT_EQ(ctx.get_devices()[0], subs[1]);
    EXPECT_EQ(sycl::get_native<sycl::backend::ext_tarvo_level_zero>(ctx), &token);
    auto q = sycl::detail::make_queue(reinterpret_cast<sycl::detail::pi_native_handle>(&token) + 1, 1, ctx,
                                      &subs[1], true, {}, {}, sycl::backend::ext_tarvo_level_zero);
    EXPECT_EQ(q.get_device(), subs[1]);
    // Host work still runs on such a queue.
    auto* p = sycl::malloc_shared<int>(1, q);
    q.single_task([=] { *p = 5; }).wait();
    EXPECT_EQ(*p, 5);
    sycl::free(p, q);
}

}  // namespace
