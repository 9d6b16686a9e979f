// Chains of OpenCL launches: a launch whose unfinished dependencies are all
// OpenCL launches goes to the device behind them before they finish. The
// results must be those of running every command after its dependencies, in
// every way commands are ordered (events, in-order queues, buffer accessors,
// host work between launches), and a failed launch must still be reported
// by its own command while the rest of the chain runs.
#include <gtest/gtest.h>
#include <ovxplat/sycl_standin.hpp>
#include <sycl/sycl.hpp>

#include "ovx_test_gpu.hpp"
#include "sycl_test_util.hpp"

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace {

const char* kSource = R"CLC(
/* One step of an order-sensitive recurrence: p = p * a + b (mod 2^32). */
__kernel void affine(__global uint* p, uint a, uint b) {
    size_t i = get_global_id(0);
    p[i] = p[i] * a + b + (uint)i;
}
__kernel __attribute__((reqd_work_group_size(8, 1, 1))) void fixed8(__global uint* p) {
    p[get_global_id(0)] += 1000u;
}
)CLC";

struct Program {
    cl_program prog = nullptr;
    ~Program() {
        if (prog) clReleaseProgram(prog);
    }
};

Program& program() {
    static Program* p = [] {
        auto* pr = new Program();
        sycl::queue q{sycl::gpu_selector_v};
        cl_context ctx = sycl::get_native<sycl::backend::opencl>(q.get_context());
        cl_device_id dev = sycl::get_native<sycl::backend::opencl>(q.get_device());
        cl_int err = CL_SUCCESS;
        pr->prog = clCreateProgramWithSource(ctx, 1, &kSource, nullptr, &err);
        if (err == CL_SUCCESS) err = clBuildProgram(pr->prog, 1, &dev, "", nullptr, nullptr);
        EXPECT_EQ(err, CL_SUCCESS) << "building the test kernels";
        clReleaseContext(ctx);
        return pr;
    }();
    return *p;
}

sycl::kernel make(const char* name, const sycl::context& ctx) { return make_opencl_kernel(program().prog, name, ctx); }

constexpr std::size_t kItems = 256;

// The recurrence's steps, computed on the host.
std::uint32_t step(std::uint32_t x, int s, std::size_t i) {
    const std::uint32_t a = 3u + 2u * static_cast<std::uint32_t>(s % 5);
    const std::uint32_t b = 7u * static_cast<std::uint32_t>(s) + 1u;
    return x * a + b + static_cast<std::uint32_t>(i);
}
void set_step(sycl::handler& h, int s) {
    h.set_arg(1, 3u + 2u * static_cast<std::uint32_t>(s % 5));
    h.set_arg(2, 7u * static_cast<std::uint32_t>(s) + 1u);
}

class SyclLaunchChain : public ::testing::Test {
protected:
    void SetUp() override { OVX_REQUIRE_OPENCL(); }
};

// How the launches of a chain are ordered.
enum class order { events, in_order_queue, buffer_accessors };

struct chain_case {
    const char* name;
    order how;
    int launches;
    bool plain_range;  // leave the work-group size to the runtime
};

class SyclLaunchChainOrder : public ::testing::TestWithParam<chain_case> {
protected:
    void SetUp() override { OVX_REQUIRE_OPENCL(); }
};

TEST_P(SyclLaunchChainOrder, ResultIsTheSequentialRecurrence) {
    const chain_case& c = GetParam();
    sycl::queue q = c.how == order::in_order_queue ? sycl::queue{sycl::gpu_selector_v, sycl::property::queue::in_order{}}
                                                   : sycl::queue{sycl::gpu_selector_v};
    auto k = make("affine", q.get_context());
    std::vector<std::uint32_t> want(kItems);
    for (std::size_t i = 0; i < kItems; ++i) want[i] = static_cast<std::uint32_t>(i);
    for (int s = 0; s < c.launches; ++s)
        for (std::size_t i = 0; i < kItems; ++i) want[i] = step(want[i], s, i);
    auto launch = [&](sycl::handler& h) {
        if (c.plain_range)
            h.parallel_for(sycl::range<1>(kItems), k);
        else
            h.parallel_for(sycl::nd_range<1>(sycl::range<1>(kItems), sycl::range<1>(32)), k);
    };

    std::vector<std::uint32_t> got(kItems);
    if (c.how == order::buffer_accessors) {
        for (std::size_t i = 0; i < kItems; ++i) got[i] = static_cast<std::uint32_t>(i);
        {
            sycl::buffer<std::uint32_t, 1> b(got.data(), sycl::range<1>(kItems));
            for (int s = 0; s < c.launches; ++s)
                q.submit([&](sycl::handler& h) {
                    sycl::accessor a(b, h, sycl::read_write);
                    h.set_arg(0, a);
                    set_step(h, s);
                    launch(h);
                });
        }  // the buffer's destruction waits and writes back
    } else {
        auto* p = sycl::malloc_shared<std::uint32_t>(kItems, q);
        for (std::size_t i = 0; i < kItems; ++i) p[i] = static_cast<std::uint32_t>(i);
        sycl::event last;
        for (int s = 0; s < c.launches; ++s)
            last = q.submit([&](sycl::handler& h) {
                if (c.how == order::events && s) h.depends_on(last);
                h.set_arg(0, p);
                set_step(h, s);
                launch(h);
            });
        last.wait_and_throw();
        EXPECT_EQ(last.get_info<sycl::info::event::command_execution_status>(),
                  sycl::info::event_command_status::complete);
        got.assign(p, p + kItems);
        sycl::free(p, q);
    }
    std::size_t wrong = 0;
    for (std::size_t i = 0; i < kItems; ++i) wrong += got[i] != want[i];
    EXPECT_EQ(wrong, 0u) << "first item: " << got[0] << ", expected " << want[0];
}

INSTANTIATE_TEST_SUITE_P(
    Orders, SyclLaunchChainOrder,
    ::testing::Values(chain_case{"EventsOutOfOrderQueue", order::events, 40, false},
                      chain_case{"EventsPlainRange", order::events, 40, true},
                      chain_case{"InOrderQueue", order::in_order_queue, 40, false},
                      chain_case{"BufferAccessors", order::buffer_accessors, 40, false},
                      chain_case{"SingleLaunch", order::events, 1, false}),
    [](const ::testing::TestParamInfo<chain_case>& i) { return std::string(i.param.name); });

// Host work between launches (a host task that lingers, a host kernel, a
// memcpy, a host accessor) holds back the launches after it, and the launches
// before it are over when it runs.
TEST_F(SyclLaunchChain, HostWorkBetweenLaunchesKeepsItsPlace) {
    sycl::queue q{sycl::gpu_selector_v, sycl::property::queue::in_order{}};
    auto k = make("affine", q.get_context());
    auto* p = sycl::malloc_shared<std::uint32_t>(kItems, q);
    auto* copy = sycl::malloc_shared<std::uint32_t>(kItems, q);
    std::vector<std::uint32_t> want(kItems);
    for (std::size_t i = 0; i < kItems; ++i) p[i] = want[i] = static_cast<std::uint32_t>(i);
    int s = 0;
    auto launches = [&](int n) {
        for (int j = 0; j < n; ++j, ++s) {
            q.submit([&](sycl::handler& h) {
                h.set_arg(0, p);
                set_step(h, s);
                h.parallel_for(sycl::nd_range<1>(sycl::range<1>(kItems), sycl::range<1>(64)), k);
            });
            for (std::size_t i = 0; i < kItems; ++i) want[i] = step(want[i], s, i);
        }
    };
    launches(3);
    std::uint32_t seen_by_task = 0;
    const std::uint32_t want_by_task = want[5];
    q.submit([&](sycl::handler& h) {
        h.host_task([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            seen_by_task = p[5];
            p[5] += 11u;
        });
    });
    want[5] += 11u;
    launches(3);
    q.parallel_for(sycl::range<1>(kItems), [=](sycl::id<1> i) { p[i] ^= 0x5a5au; });
    for (auto& x : want) x ^= 0x5a5au;
    launches(2);
    q.memcpy(copy, p, kItems * sizeof(std::uint32_t));
    const std::vector<std::uint32_t> want_copy = want;
    launches(2);
    q.wait_and_throw();
    EXPECT_EQ(seen_by_task, want_by_task);
    std::size_t wrong = 0, wrong_copy = 0;
    for (std::size_t i = 0; i < kItems; ++i) {
        wrong += p[i] != want[i];
        wrong_copy += copy[i] != want_copy[i];
    }
    EXPECT_EQ(wrong, 0u);
    EXPECT_EQ(wrong_copy, 0u);

    // A host accessor between launches of a buffer.
    std::vector<std::uint32_t> v(kItems, 1u);
    std::vector<std::uint32_t> want_v(kItems);
    for (std::size_t i = 0; i < kItems; ++i) want_v[i] = step(step(1u, 0, i), 1, i);
    {
        sycl::buffer<std::uint32_t, 1> b(v.data(), sycl::range<1>(kItems));
        sycl::queue oq{sycl::gpu_selector_v};
        for (int t = 0; t < 2; ++t)
            oq.submit([&](sycl::handler& h) {
                sycl::accessor a(b, h, sycl::read_write);
                h.set_arg(0, a);
                set_step(h, t);
                h.parallel_for(sycl::nd_range<1>(sycl::range<1>(kItems), sycl::range<1>(64)), k);
            });
        {
            sycl::host_accessor ha(b);
            EXPECT_EQ(ha[7], want_v[7]);
            ha[7] = 0u;
        }
        want_v[7] = 0u;
        for (int t = 2; t < 4; ++t) {
            oq.submit([&](sycl::handler& h) {
                sycl::accessor a(b, h, sycl::read_write);
                h.set_arg(0, a);
                set_step(h, t);
                h.parallel_for(sycl::nd_range<1>(sycl::range<1>(kItems), sycl::range<1>(64)), k);
            });
            for (std::size_t i = 0; i < kItems; ++i) want_v[i] = step(want_v[i], t, i);
        }
    }
    std::size_t wrong_v = 0;
    for (std::size_t i = 0; i < kItems; ++i) wrong_v += v[i] != want_v[i];
    EXPECT_EQ(wrong_v, 0u);
    sycl::free(p, q);
    sycl::free(copy, q);
}

// A launch the device refuses (a work-group size other than the kernel's
// required one) in the middle of a chain: its own command reports the
// OpenCL error at the wait, and the launches after it still run.
TEST_F(SyclLaunchChain, RefusedLaunchInAChainIsReportedByItsCommand) {
    sycl::queue q{sycl::gpu_selector_v};
    auto k = make("affine", q.get_context());
    auto bad = make("fixed8", q.get_context());
    auto* p = sycl::malloc_shared<std::uint32_t>(kItems, q);
    for (std::size_t i = 0; i < kItems; ++i) p[i] = 0u;
    std::vector<sycl::event> evs;
    auto good = [&](int s) {
        evs.push_back(q.submit([&](sycl::handler& h) {
            if (!evs.empty()) h.depends_on(evs.back());
            h.set_arg(0, p);
            set_step(h, s);
            h.parallel_for(sycl::nd_range<1>(sycl::range<1>(kItems), sycl::range<1>(64)), k);
        }));
    };
    good(0);
    good(1);
    evs.push_back(q.submit([&](sycl::handler& h) {
        h.depends_on(evs.back());
        h.set_arg(0, p);
        h.parallel_for(sycl::nd_range<1>(sycl::range<1>(kItems), sycl::range<1>(16)), bad);
    }));
    good(2);
    auto e = error_and_text([&] { q.wait_and_throw(); });
    EXPECT_EQ(e.first, sycl::errc::kernel);
    EXPECT_NE(e.second.find("OpenCL error -54 (CL_INVALID_WORK_GROUP_SIZE) running kernel 'fixed8'"),
              std::string::npos)
        << e.second;
    for (auto& ev : evs)
        EXPECT_EQ(ev.get_info<sycl::info::event::command_execution_status>(),
                  sycl::info::event_command_status::complete);
    std::uint32_t want = 0u;
    for (int s = 0; s < 3; ++s) want = step(want, s, 9);
    EXPECT_EQ(p[9], want) << "the refused launch changed nothing, the later one ran";
    EXPECT_EQ(error_of([&] { q.wait_and_throw(); }), sycl::errc::success) << "the error is delivered once";
    sycl::free(p, q);
}

// A wait on a launch that went to the device at submission returns only
// once the command itself is complete: its status says so and the host sees
// its result at once. The same event is waited on by a second thread too.
TEST_F(SyclLaunchChain, WaitOnALaunchReturnsWithTheCommandComplete) {
    sycl::queue q{sycl::gpu_selector_v};
    auto k = make("affine", q.get_context());
    auto* p = sycl::malloc_shared<std::uint32_t>(kItems, q);
    for (std::size_t i = 0; i < kItems; ++i) p[i] = static_cast<std::uint32_t>(i);
    std::uint32_t want = 5u;
    sycl::event last;
    for (int s = 0; s < 30; ++s) {
        last = q.submit([&](sycl::handler& h) {
            if (s) h.depends_on(last);
            h.set_arg(0, p);
            set_step(h, s);
            h.parallel_for(sycl::nd_range<1>(sycl::range<1>(kItems), sycl::range<1>(32)), k);
        });
        std::thread other([last]() mutable { last.wait(); });
        last.wait();
        EXPECT_EQ(last.get_info<sycl::info::event::command_execution_status>(),
                  sycl::info::event_command_status::complete)
            << "launch " << s;
        want = step(want, s, 5);
        EXPECT_EQ(p[5], want) << "launch " << s;
        other.join();
    }
    sycl::free(p, q);
}

// Several threads run chains on their own queues at once.
TEST_F(SyclLaunchChain, ConcurrentChainsOnSeveralQueues) {
    constexpr int threads = 4, launches = 25;
    sycl::queue q0{sycl::gpu_selector_v};
    auto k = make("affine", q0.get_context());
    std::vector<std::vector<std::uint32_t>> got(threads, std::vector<std::uint32_t>(kItems));
    std::vector<std::thread> ts;
    for (int t = 0; t < threads; ++t)
        ts.emplace_back([&, t] {
            sycl::queue q = t % 2 ? sycl::queue{sycl::gpu_selector_v, sycl::property::queue::in_order{}}
                                  : sycl::queue{sycl::gpu_selector_v};
            auto* p = sycl::malloc_shared<std::uint32_t>(kItems, q);
            for (std::size_t i = 0; i < kItems; ++i) p[i] = static_cast<std::uint32_t>(i + t);
            sycl::event last;
            for (int s = 0; s < launches; ++s)
                last = q.submit([&](sycl::handler& h) {
                    if (s) h.depends_on(last);
                    h.set_arg(0, p);
                    set_step(h, s);
                    h.parallel_for(sycl::nd_range<1>(sycl::range<1>(kItems), sycl::range<1>(32)), k);
                });
            q.wait_and_throw();
            got[t].assign(p, p + kItems);
            sycl::free(p, q);
        });
    for (auto& th : ts) th.join();
    for (int t = 0; t < threads; ++t) {
        std::size_t wrong = 0;
        for (std::size_t i = 0; i < kItems; ++i) {
            std::uint32_t want = static_cast<std::uint32_t>(i + t);
            for (int s = 0; s < launches; ++s) want = step(want, s, i);
            wrong += got[t][i] != want;
        }
        EXPECT_EQ(wrong, 0u) << "thread " << t;
    }
}

}  // namespace
