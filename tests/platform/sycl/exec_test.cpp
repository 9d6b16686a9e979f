// Host kernels, host tasks, events and scheduling of the SYCL stand-in.
#include <gtest/gtest.h>
#include <ovxplat/sycl_standin.hpp>
#include <sycl/sycl.hpp>

#include "sycl_test_util.hpp"

#include <atomic>
#include <cstdlib>
#include <chrono>
#include <memory>
#include <numeric>
#include <stdexcept>
#include <thread>

#if defined(__SANITIZE_THREAD__)
extern "C" void AnnotateIgnoreReadsBegin(const char* file, int line);
extern "C" void AnnotateIgnoreReadsEnd(const char* file, int line);
#endif

namespace {

// Reads in its scope that race on purpose: ThreadSanitizer does not record
// them (no effect in other builds).
struct racy_reads {
    explicit racy_reads(bool on) : on_(on) {
#if defined(__SANITIZE_THREAD__)
        if (on_) AnnotateIgnoreReadsBegin(__FILE__, __LINE__);
#endif
    }
    ~racy_reads() {
#if defined(__SANITIZE_THREAD__)
        if (on_) AnnotateIgnoreReadsEnd(__FILE__, __LINE__);
#endif
    }
    racy_reads(const racy_reads&) = delete;
    racy_reads& operator=(const racy_reads&) = delete;
    bool on_;
};

sycl::device dev(bool gpu) { return gpu ? sycl::device(sycl::gpu_selector_v) : sycl::device(sycl::cpu_selector_v); }

class SyclHost : public ::testing::TestWithParam<bool> {};

// Work-group tree reduction through local memory: wrong without barriers.
TEST_P(SyclHost, NdRangeBarriersOrderLocalMemory) {
    sycl::queue q(dev(GetParam()));
    constexpr int groups = 37, local = 64;
    auto* in = sycl::malloc_shared<int>(groups * local, q);
    auto* out = sycl::malloc_shared<int>(groups, q);
    std::iota(in, in + groups * local, 1);
    q.submit([&](sycl::handler& h) {
         sycl::local_accessor<int, 1> tmp(sycl::range<1>(local), h);
         h.parallel_for(sycl::nd_range<1>(groups * local, local), [=](sycl::nd_item<1> it) {
             const std::size_t l = it.get_local_id(0);
             tmp[l] = in[it.get_global_id(0)];
             for (std::size_t s = local / 2; s > 0; s /= 2) {
                 it.barrier(sycl::access::fence_space::local_space);
                 if (l < s) tmp[l] += tmp[l + s];
             }
             sycl::group_barrier(it.get_group());
             if (l == 0) out[it.get_group(0)] = tmp[0];
         });
     }).wait();
    for (int g = 0; g < groups; ++g) {
        const int first = g * local + 1, last = g * local + local;
        EXPECT_EQ(out[g], (first + last) * local / 2) << "group " << g;
    }
    sycl::free(in, q);
    sycl::free(out, q);
}

// Each item reads what its neighbour wrote before the barrier, in 2D and 3D.
TEST_P(SyclHost, NdRangeNeighbourExchangeIn2DAnd3D) {
    sycl::queue q(dev(GetParam()));
    auto* out2 = sycl::malloc_shared<int>(8 * 12, q);
    auto* out3 = sycl::malloc_shared<int>(4 * 6 * 8, q);
    q.submit([&](sycl::handler& h) {
        sycl::local_accessor<int, 2> t(sycl::range<2>(4, 3), h);
        h.parallel_for(sycl::nd_range<2>({8, 12}, {4, 3}), [=](sycl::nd_item<2> it) {
            auto l0 = it.get_local_id(0), l1 = it.get_local_id(1);
            t[l0][l1] = static_cast<int>(it.get_global_linear_id());
            it.barrier();
            auto n1 = (l1 + 1) % 3;
            out2[it.get_global_linear_id()] = t[l0][n1];
        });
    });
    q.submit([&](sycl::handler& h) {
        sycl::local_accessor<int, 1> t(sycl::range<1>(2 * 3 * 4), h);
        h.parallel_for(sycl::nd_range<3>({4, 6, 8}, {2, 3, 4}), [=](sycl::nd_item<3> it) {
            auto ll = it.get_local_linear_id();
            t[ll] = static_cast<int>(it.get_global_linear_id());
            sycl::group_barrier(it.get_group());
            out3[it.get_global_linear_id()] = t[(ll + 1) % 24];
        });
    });
    q.wait();
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 12; ++j) {
            int jn = j / 3 * 3 + (j % 3 + 1) % 3;
            EXPECT_EQ(out2[i * 12 + j], i * 12 + jn);
        }
    // Item (0,0,0) of group (0,0,0) reads local item 1 = global (0,0,1).
    EXPECT_EQ(out3[0], 1);
    // The last local item of a group reads local item 0 of the same group.
    EXPECT_EQ(out3[(1 * 6 + 2) * 8 + 3], 0);
    sycl::free(out2, q);
    sycl::free(out3, q);
}

// Sums seed .. seed + 31 through depth + 1 nested frames, each with an array
// of its own; a negative seed throws from the deepest one.
__attribute__((noinline)) int deep_sum(int seed, int depth) {
    volatile int frame[32];
    for (int k = 0; k < 32; ++k) frame[k] = seed + k;
    if (depth > 0) return deep_sum(seed, depth - 1) + frame[depth % 32] - frame[depth % 32];
    if (seed < 0) throw std::runtime_error("item failed");
    int s = 0;
    for (int k = 0; k < 32; ++k) s += frame[k];
    return s;
}

// Work-items that throw from deep frames after a barrier: the error reaches
// the queue, and later launches run deeper frames on the same work-item
// stacks and compute right (a sanitizer that lost track of which stack runs
// reports them, or an item's stack left in a wrong state breaks them).
TEST_P(SyclHost, ItemsThatThrowLeaveTheirStacksReusable) {
    sycl::queue q(dev(GetParam()));
    constexpr int groups = 16, local = 32;
    auto* out = sycl::malloc_shared<int>(groups * local, q);
    for (int round = 0; round < 4; ++round) {
        const bool throwing = round % 2 == 0;
        std::fill(out, out + groups * local, -1);
        q.parallel_for(sycl::nd_range<1>(groups * local, local), [=](sycl::nd_item<1> it) {
            const int id = static_cast<int>(it.get_global_id(0));
            it.barrier();
            if (throwing && id % 3 == 1) deep_sum(-1, 6);
            it.barrier();
            out[id] = deep_sum(id, throwing ? 4 : 12);
        });
        if (throwing)
            EXPECT_THROW(q.wait_and_throw(), std::runtime_error) << "round " << round;
        else
            q.wait_and_throw();
        if (!throwing)
            for (int id = 0; id < groups * local; ++id) ASSERT_EQ(out[id], 32 * id + 496) << "round " << round;
    }
    sycl::free(out, q);
}

TEST_P(SyclHost, RangesItemsOffsetsAndSingleTask) {
    sycl::queue q(dev(GetParam()));
    auto* a = sycl::malloc_shared<int>(6 * 7, q);
    auto* b = sycl::malloc_shared<std::size_t>(10, q);
    auto* c = sycl::malloc_shared<int>(1, q);
    q.parallel_for(sycl::range<2>(6, 7), [=](sycl::item<2> it) {
        a[it.get_linear_id()] = static_cast<int>(it[0] * 100 + it[1]);
    });
    q.submit([&](sycl::handler& h) {
        h.parallel_for(sycl::range<1>(5), sycl::id<1>(5), [=](sycl::item<1> it) {
            b[it.get_id(0)] = it.get_linear_id() + 1000 * it.get_offset()[0];
        });
    });
    q.submit([&](sycl::handler& h) {
        h.parallel_for(sycl::nd_range<1>(sycl::range<1>(4), sycl::range<1>(2), sycl::id<1>(1)),
                       [=](sycl::nd_item<1> it) { b[it.get_global_id(0) - 1] = it.get_global_id(0); });
    });
    q.single_task([=] { *c = 77; });
    q.wait();
    EXPECT_EQ(a[3 * 7 + 5], 305);
    for (int i = 5; i < 10; ++i) EXPECT_EQ(b[i], static_cast<std::size_t>(i - 5 + 5000));
    for (int i = 0; i < 4; ++i) EXPECT_EQ(b[i], static_cast<std::size_t>(i + 1));
    EXPECT_EQ(*c, 77);
    sycl::free(a, q);
    sycl::free(b, q);
    sycl::free(c, q);
}

TEST_P(SyclHost, RangeChecksAndSingleActionRule) {
    sycl::queue q(dev(GetParam()));
    std::string what;
    EXPECT_EQ(error_of([&] {
                  q.parallel_for(sycl::nd_range<1>(10, 4), [=](sycl::nd_item<1>) {});
              }),
              sycl::errc::nd_range);
    EXPECT_EQ(error_of(
                  [&] {
                      q.parallel_for(sycl::nd_range<1>(std::size_t(1) << 31, 64), [=](sycl::nd_item<1>) {});
                  },
                  &what),
              sycl::errc::nd_range);
    EXPECT_EQ(what,
              "Provided range and/or offset does not fit in int. Pass `-fno-sycl-id-queries-fit-in-int' to remove "
              "this limit.");
    const auto max_wg = q.get_device().get_info<sycl::info::device::max_work_group_size>();
    EXPECT_EQ(error_of([&] {
                  q.parallel_for(sycl::nd_range<1>(max_wg * 2, max_wg * 2), [=](sycl::nd_item<1>) {});
              }),
              sycl::errc::nd_range);
    const auto lmem = q.get_device().get_info<sycl::info::device::local_mem_size>();
    EXPECT_EQ(error_of([&] {
                  q.submit([&](sycl::handler& h) {
                      sycl::local_accessor<char, 1> t(sycl::range<1>(lmem + 1), h);
                      h.parallel_for(sycl::nd_range<1>(1, 1), [=](sycl::nd_item<1>) { (void)t; });
                  });
              }),
              sycl::errc::memory_allocation);
    int x = 0;
    EXPECT_EQ(error_of([&] {
                  q.submit([&](sycl::handler& h) {
                      h.single_task([] {});
                      h.memset(&x, 0, 4);
                  });
              }),
              sycl::errc::runtime);
    q.wait();
}

// The local range divides the global one: a zero extent is an nd_range
// error of the submission, not a division by zero.
TEST_P(SyclHost, NdRangeWithAZeroLocalExtentIsRejected) {
    sycl::queue q(dev(GetParam()));
    std::atomic<int> ran{0};
    auto* count = &ran;
    std::string what;
    EXPECT_EQ(error_of(
                  [&] {
                      q.parallel_for(sycl::nd_range<1>(sycl::range<1>(0), sycl::range<1>(0)),
                                     [=](sycl::nd_item<1>) { ++*count; });
                  },
                  &what),
              sycl::errc::nd_range);
    EXPECT_EQ(what, "Local range must not be zero");
    what.clear();
    EXPECT_EQ(error_of([&] { q.parallel_for(sycl::nd_range<2>({8, 8}, {4, 0}), [=](sycl::nd_item<2>) { ++*count; }); },
                       &what),
              sycl::errc::nd_range);
    EXPECT_EQ(what, "Local range must not be zero");
    q.wait_and_throw();
    EXPECT_EQ(ran.load(), 0);
}

// Extents that each fit in int but whose product is 2^64 (zero once
// wrapped) are refused, for the global range and for the work-group; an
// empty range is no error whatever its other extents.
TEST_P(SyclHost, RangesWhoseSizeWrapsAreRejected) {
    sycl::queue q(dev(GetParam()));
    const std::string too_big =
        "Provided range and/or offset does not fit in int. Pass `-fno-sycl-id-queries-fit-in-int' to remove this "
        "limit.";
    const sycl::range<3> wraps(std::size_t(1) << 21, std::size_t(1) << 21, std::size_t(1) << 22);
    std::atomic<int> ran{0};
    auto* count = &ran;
    std::string what;
    EXPECT_EQ(error_of([&] { q.parallel_for(wraps, [=](sycl::item<3>) { ++*count; }); }, &what), sycl::errc::nd_range);
    EXPECT_EQ(what, too_big);
    what.clear();
    EXPECT_EQ(error_of(
                  [&] {
                      q.parallel_for(sycl::nd_range<3>(wraps, sycl::range<3>(1, 1, 1)),
                                     [=](sycl::nd_item<3>) { ++*count; });
                  },
                  &what),
              sycl::errc::nd_range);
    EXPECT_EQ(what, too_big);
    what.clear();
    EXPECT_EQ(error_of(
                  [&] {
                      q.parallel_for(sycl::nd_range<3>(sycl::range<3>(0, 0, 0), wraps),
                                     [=](sycl::nd_item<3>) { ++*count; });
                  },
                  &what),
              sycl::errc::nd_range);
    EXPECT_EQ(what.rfind("Total number of work-items in a work-group cannot exceed ", 0), 0u) << what;
    EXPECT_EQ(error_of([&] {
                  q.parallel_for(sycl::range<3>(std::size_t(1) << 30, std::size_t(1) << 30, 0),
                                 [=](sycl::item<3>) { ++*count; });
              }),
              sycl::errc::success);
    q.wait_and_throw();
    EXPECT_EQ(ran.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(BothDevices, SyclHost, ::testing::Values(true, false),
                         [](const auto& i) { return i.param ? "gpu" : "cpu"; });

TEST(SyclEvents, DefaultEventIsCompleteAndStatusesProgress) {
    sycl::event e;
    e.wait();
    EXPECT_EQ(e.get_info<sycl::info::event::command_execution_status>(), sycl::info::event_command_status::complete);
    sycl::queue q{sycl::property::queue::enable_profiling{}};
    std::atomic<bool> go{false};
    auto t = q.submit([&](sycl::handler& h) {
        h.host_task([&] {
            while (!go) std::this_thread::yield();
        });
    });
    auto k = q.submit([&](sycl::handler& h) {
        h.depends_on(t);
        h.single_task([] {});
    });
    EXPECT_EQ(k.get_info<sycl::info::event::command_execution_status>(),
              sycl::info::event_command_status::submitted);
    ASSERT_EQ(k.get_wait_list().size(), 1u);
    EXPECT_EQ(k.get_wait_list()[0], t);
    go = true;
    k.wait();
    EXPECT_EQ(k.get_info<sycl::info::event::command_execution_status>(), sycl::info::event_command_status::complete);
    auto s0 = k.get_profiling_info<sycl::info::event_profiling::command_submit>();
    auto s1 = k.get_profiling_info<sycl::info::event_profiling::command_start>();
    auto s2 = k.get_profiling_info<sycl::info::event_profiling::command_end>();
    EXPECT_LE(s0, s1);
    EXPECT_LE(s1, s2);
    EXPECT_GE(s1, t.get_profiling_info<sycl::info::event_profiling::command_end>());
    sycl::queue plain;
    auto e2 = plain.single_task([] {});
    EXPECT_EQ(error_of([&] { e2.get_profiling_info<sycl::info::event_profiling::command_end>(); }),
              sycl::errc::invalid);
}

TEST(SyclScheduling, ShuffleModeFollowsTheEnvironment) {
    const char* env = std::getenv("OVXPLAT_SHUFFLE");
    EXPECT_EQ(ovxplat::shuffle_mode(), env != nullptr && std::string(env) == "1");
}

TEST(SyclScheduling, InOrderQueueKeepsSubmissionOrder) {
    sycl::queue q{sycl::property::queue::in_order{}};
    EXPECT_TRUE(q.is_in_order());
    EXPECT_FALSE(sycl::queue().is_in_order());
    std::vector<int> order;
    std::mutex m;
    for (int i = 0; i < 20; ++i) {
        if (i % 2)
            q.submit([&, i](sycl::handler& h) {
                h.host_task([&, i] {
                    std::lock_guard<std::mutex> l(m);
                    order.push_back(i);
                });
            });
        else
            q.single_task([&, i] {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
                std::lock_guard<std::mutex> l(m);
                order.push_back(i);
            });
    }
    q.wait();
    std::vector<int> want(20);
    std::iota(want.begin(), want.end(), 0);
    EXPECT_EQ(order, want);
}

// Each queue counts the command groups submitted to it (copies share the
// count); the process-wide counter sees them all.
TEST(SyclScheduling, QueuesCountTheirOwnCommands) {
    sycl::queue a, b(a.get_context(), a.get_device());
    const sycl::queue a_copy = a;
    const std::uint64_t all = ovxplat::get_sycl_counters().commands_submitted;
    EXPECT_EQ(ovxplat::queue_commands_submitted(a), 0u);
    EXPECT_EQ(ovxplat::queue_commands_submitted(b), 0u);
    int* p = sycl::malloc_shared<int>(4, a);
    a.single_task([=] { p[0] = 1; });
    a.memset(p + 1, 0, sizeof(int));
    b.submit([&](sycl::handler& h) { h.host_task([=] { p[2] = 3; }); });
    a.wait();
    b.wait();
    EXPECT_EQ(ovxplat::queue_commands_submitted(a), 2u);
    EXPECT_EQ(ovxplat::queue_commands_submitted(a_copy), 2u);
    EXPECT_EQ(ovxplat::queue_commands_submitted(b), 1u);
    EXPECT_EQ(ovxplat::get_sycl_counters().commands_submitted - all, 3u);
    sycl::free(p, a);
}

TEST(SyclScheduling, HostTaskThatWaitsDoesNotStallTheQueue) {
    sycl::queue q;
    std::atomic<int> v{0};
    // Several host tasks each wait for a later command: all must progress.
    std::vector<sycl::event> later;
    for (int i = 0; i < 12; ++i) {
        auto gate = std::make_shared<std::atomic<bool>>(false);
        q.submit([&, gate](sycl::handler& h) {
            h.host_task([gate] {
                while (!*gate) std::this_thread::yield();
            });
        });
        later.push_back(q.submit([&, gate](sycl::handler& h) { h.host_task([gate, &v] { ++v; *gate = true; }); }));
    }
    q.wait();
    EXPECT_EQ(v.load(), 12);
}

// A wait may run the awaited command on the waiting thread. The commands
// that its end makes ready still run without anyone waiting for them, and
// its error still reaches the queue's handler once.
TEST(SyclScheduling, CommandsAfterAWaitedCommandRunUnwaited) {
    std::atomic<int> errors{0};
    sycl::queue q{[&](sycl::exception_list l) { errors += static_cast<int>(l.size()); }};
    for (int round = 0; round < 20; ++round) {
        std::atomic<bool> first_ran{false}, second_ran{false};
        auto a = q.submit([&](sycl::handler& h) {
            h.host_task([&] {
                first_ran = true;
                if (round % 2) throw std::runtime_error("host task failed");
            });
        });
        auto b = q.submit([&](sycl::handler& h) {
            h.depends_on(a);
            h.host_task([&] { second_ran = true; });
        });
        a.wait();
        EXPECT_TRUE(first_ran.load());
        EXPECT_EQ(a.get_info<sycl::info::event::command_execution_status>(),
                  sycl::info::event_command_status::complete);
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (b.get_info<sycl::info::event::command_execution_status>() != sycl::info::event_command_status::complete &&
               std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        EXPECT_TRUE(second_ran.load()) << "round " << round;
        b.wait();
    }
    q.wait_and_throw();
    EXPECT_EQ(errors.load(), 10);
}

// A host task holds the last handle of a buffer (the caller's went before
// the wait): the buffer goes when the task's command ends and writes its
// contents back, whether a worker ran the task or the waiting thread did,
// and neither deadlocks on the scheduler.
TEST(SyclScheduling, HostTaskWithTheLastBufferHandleWritesBackWithoutDeadlock) {
    for (int round = 0; round < 20; ++round) {
        const bool slow = round % 2 == 0;  // else the waiting thread may run the task itself
        std::vector<int> host(16, -1);
        finishes_within(
            std::chrono::seconds(20),
            [&] {
                const std::uint64_t live = ovxplat::get_sycl_counters().buffers_live;
                sycl::queue q;
                {
                    auto b = std::make_unique<sycl::buffer<int, 1>>(host.data(), sycl::range<1>(16));
                    sycl::buffer<int, 1> copy = *b;
                    q.submit([&](sycl::handler& h) {
                        h.host_task([copy, slow, round]() mutable {
                            if (slow) std::this_thread::sleep_for(std::chrono::milliseconds(20));
                            sycl::host_accessor a(copy, sycl::write_only);
                            for (int i = 0; i < 16; ++i) a[i] = 3 * i + round;
                        });
                    });
                }
                q.wait();
                // The wait ends after the task's handle has gone.
                EXPECT_EQ(ovxplat::get_sycl_counters().buffers_live, live) << "round " << round;
            },
            "a host task holding the last handle of a buffer");
        for (int i = 0; i < 16; ++i) EXPECT_EQ(host[i], 3 * i + round) << "round " << round << ", element " << i;
    }
}

TEST(SyclScheduling, BarrierWaitsForEverythingBefore) {
    sycl::queue q;
    auto* p = sycl::malloc_shared<int>(64, q);
    for (int i = 0; i < 64; ++i)
        q.single_task([=] {
            std::this_thread::sleep_for(std::chrono::microseconds(100));
            p[i] = i;
        });
    auto b = q.ext_tarvo_submit_barrier();
    auto* sum = sycl::malloc_shared<int>(1, q);
    q.submit([&](sycl::handler& h) {
         h.depends_on(b);
         h.single_task([=] {
             int s = 0;
             for (int i = 0; i < 64; ++i) s += p[i];
             *sum = s;
         });
     }).wait();
    EXPECT_EQ(*sum, 64 * 63 / 2);
    sycl::free(p, q);
    sycl::free(sum, q);
}

// Shuffled mode: a missing depends_on gives a wrong result in some run;
// the same program with the dependency is always right. Without the
// dependency the copy races with the writes on purpose.
TEST(SyclScheduling, ShuffleExposesMissingDependency) {
    const bool was_shuffled = ovxplat::shuffle_mode();
    ovxplat::set_shuffle_mode(true);
    sycl::queue q;
    auto* data = sycl::malloc_shared<int>(1024, q);
    auto* copy = sycl::malloc_shared<int>(1024, q);
    int wrong_without = 0, wrong_with = 0;
    for (int trial = 0; trial < 24; ++trial) {
        for (bool with_dep : {false, true}) {
            std::fill(data, data + 1024, 0);
            std::fill(copy, copy + 1024, -1);
            auto w = q.parallel_for(sycl::range<1>(1024), [=](sycl::id<1> i) { data[i] = static_cast<int>(i[0]) + trial; });
            q.submit([&](sycl::handler& h) {
                if (with_dep) h.depends_on(w);
                h.parallel_for(sycl::range<1>(1024), [=](sycl::id<1> i) {
                    racy_reads r(!with_dep);
                    copy[i] = data[i];
                });
            });
            q.wait();
            bool ok = true;
            for (int i = 0; i < 1024; ++i) ok = ok && copy[i] == i + trial;
            (with_dep ? wrong_with : wrong_without) += ok ? 0 : 1;
        }
    }
    ovxplat::set_shuffle_mode(was_shuffled);
    EXPECT_EQ(wrong_with, 0);
    EXPECT_GT(wrong_without, 0);
    sycl::free(data, q);
    sycl::free(copy, q);
}

TEST(SyclAsyncErrors, KernelExceptionsReachTheHandlerOnce) {
    std::vector<std::string> seen;
    sycl::queue q(sycl::device(sycl::gpu_selector_v), [&](sycl::exception_list l) {
        for (auto& e : l) {
            try {
                std::rethrow_exception(e);
            } catch (const std::exception& x) {
                seen.push_back(x.what());
            }
        }
    });
    q.parallel_for(sycl::nd_range<1>(8, 4), [=](sycl::nd_item<1> it) {
        it.barrier();
        if (it.get_global_id(0) == 5) throw std::runtime_error("item five failed");
    });
    q.submit([&](sycl::handler& h) { h.host_task([] { throw sycl::exception(sycl::errc::runtime, "task failed"); }); });
    q.wait_and_throw();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_TRUE((seen[0] == "item five failed" && seen[1] == "task failed") ||
                (seen[1] == "item five failed" && seen[0] == "task failed"));
    q.wait_and_throw();
    EXPECT_EQ(seen.size(), 2u);
    // Without a handler, wait_and_throw rethrows.
    sycl::queue plain;
    plain.single_task([] { throw std::runtime_error("boom"); });
    EXPECT_THROW(plain.wait_and_throw(), std::runtime_error);
}

TEST(SyclAsyncErrors, ExceptionCarriesCodeAndMessage) {
    sycl::exception e(sycl::errc::invalid, "Cannot create sub buffer from sub buffer.");
    EXPECT_EQ(e.code(), sycl::make_error_code(sycl::errc::invalid));
    EXPECT_STREQ(e.what(), "Cannot create sub buffer from sub buffer.");
    EXPECT_STREQ(e.category().name(), "sycl");
    auto loc = sycl::detail::code_location::current();
    EXPECT_NE(loc.lineNumber(), 0u);
    sycl::detail::code_location named(nullptr, "bkd_init", 0, 0);
    EXPECT_STREQ(named.functionName(), "bkd_init");
}

}  // namespace
