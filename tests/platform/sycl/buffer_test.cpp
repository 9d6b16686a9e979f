// Buffers, sub-buffer views, reinterpretation and accessor-implied ordering.
#include <gtest/gtest.h>
#include <ovxplat/sycl_standin.hpp>
#include <sycl/sycl.hpp>

#include "sycl_test_util.hpp"

#include <atomic>
#include <chrono>
#include <limits>
#include <numeric>
#include <thread>

namespace {

TEST(SyclBuffers, SubBufferViewsAndTheirErrors) {
    sycl::buffer<char, 1> whole{sycl::range<1>(1000)};
    EXPECT_FALSE(whole.is_sub_buffer());
    EXPECT_EQ(whole.byte_size(), 1000u);
    sycl::buffer<char, 1> sub(whole, sycl::id<1>(3), sycl::range<1>(101));  // any offset
    EXPECT_TRUE(sub.is_sub_buffer());
    EXPECT_EQ(sub.get_range()[0], 101u);
    EXPECT_EQ(sub.byte_size(), 101u);
    {
        sycl::host_accessor w(whole, sycl::write_only);
        for (int i = 0; i < 1000; ++i) w[i] = static_cast<char>(i % 127);
    }
    {
        sycl::host_accessor r(sub, sycl::read_only);
        for (int i = 0; i < 101; ++i) EXPECT_EQ(r[i], static_cast<char>((i + 3) % 127));
    }
    auto e1 = error_and_text([&] { sycl::buffer<char, 1> s2(sub, sycl::id<1>(0), sycl::range<1>(1)); });
    EXPECT_EQ(e1.first, sycl::errc::invalid);
    EXPECT_EQ(e1.second, "Cannot create sub buffer from sub buffer.");
    auto e2 = error_and_text([&] { sycl::buffer<char, 1> s3(whole, sycl::id<1>(900), sycl::range<1>(101)); });
    EXPECT_EQ(e2.first, sycl::errc::invalid);
    EXPECT_EQ(e2.second, "Requested sub-buffer size exceeds the size of the parent buffer");
    sycl::buffer<char, 1> edge(whole, sycl::id<1>(900), sycl::range<1>(100));  // exactly to the end
    EXPECT_EQ(edge.byte_size(), 100u);
}

TEST(SyclBuffers, ReinterpretSharesStorageAndChecksSize) {
    sycl::buffer<char, 1> bytes{sycl::range<1>(64)};
    auto d = bytes.reinterpret<double>();
    EXPECT_EQ(d.get_range()[0], 8u);
    {
        sycl::host_accessor a(d);
        for (int i = 0; i < 8; ++i) a[i] = i * 1.5;
    }
    auto f2 = bytes.reinterpret<float, 2>(sycl::range<2>(4, 4));
    EXPECT_EQ(f2.byte_size(), 64u);
    {
        sycl::host_accessor a(bytes, sycl::read_only);
        double v;
        std::memcpy(&v, &a[16], sizeof v);
        EXPECT_EQ(v, 3.0);
    }
    sycl::buffer<char, 1> odd{sycl::range<1>(60)};
    auto e = error_and_text([&] { odd.reinterpret<double>(); });
    EXPECT_EQ(e.first, sycl::errc::invalid);
    EXPECT_EQ(e.second,
              "Total size in bytes represented by the type and range of the reinterpreted SYCL buffer does not equal "
              "the total size in bytes represented by the type and range of this SYCL buffer");
    EXPECT_EQ(error_and_text([&] { bytes.reinterpret<float, 1>(sycl::range<1>(15)); }).first, sycl::errc::invalid);
    // A reinterpreted sub-buffer keeps its offset and stays a sub-buffer.
    sycl::buffer<char, 1> sub(bytes, sycl::id<1>(8), sycl::range<1>(16));
    auto sd = sub.reinterpret<double>();
    EXPECT_TRUE(sd.is_sub_buffer());
    sycl::host_accessor a(sd, sycl::read_only);
    EXPECT_EQ(a[0], 1.5);
    EXPECT_EQ(a[1], 3.0);
}

TEST(SyclBuffers, HostMemoryIsWrittenBackAtDestruction) {
    std::vector<int> host(100, 1);
    const std::vector<int> constant(100, 5);
    std::vector<int> final_target(100, 0);
    {
        sycl::queue q;
        sycl::buffer<int, 1> b(host.data(), sycl::range<1>(100));
        sycl::buffer<int, 1> c(constant.data(), sycl::range<1>(100));
        sycl::buffer<int, 1> f{sycl::range<1>(100)};
        f.set_final_data(final_target.data());
        q.submit([&](sycl::handler& h) {
            sycl::accessor a(b, h, sycl::read_write);
            sycl::accessor ca(c, h, sycl::read_only);
            sycl::accessor fa(f, h, sycl::write_only);
            h.parallel_for(sycl::range<1>(100), [=](sycl::id<1> i) {
                std::this_thread::sleep_for(std::chrono::microseconds(20));
                a[i] = a[i] + ca[i] + static_cast<int>(i[0]);
                fa[i] = 7;
            });
        });
        EXPECT_EQ(host[10], 1);  // not before the buffer goes
    }
    for (int i = 0; i < 100; ++i) EXPECT_EQ(host[i], 6 + i);
    for (int v : final_target) EXPECT_EQ(v, 7);
}

TEST(SyclBuffers, MultiDimensionalAccessorsAndRanges) {
    sycl::queue q;
    sycl::buffer<int, 2> b{sycl::range<2>(5, 7)};
    q.submit([&](sycl::handler& h) {
        sycl::accessor a(b, h, sycl::write_only);
        h.parallel_for(sycl::range<2>(5, 7), [=](sycl::item<2> it) { a[it.get_id()] = static_cast<int>(it[0] * 10 + it[1]); });
    });
    q.submit([&](sycl::handler& h) {
        // A ranged accessor: rows 1..2, columns 2..5.
        sycl::accessor a(b, h, sycl::range<2>(2, 4), sycl::id<2>(1, 2), sycl::read_write);
        h.parallel_for(sycl::range<2>(2, 4), [=](sycl::id<2> i) { a[i[0]][i[1]] += 1000; });
    });
    sycl::host_accessor r(b, sycl::read_only);
    EXPECT_EQ(r[0][0], 0);
    EXPECT_EQ(r[1][1], 11);
    EXPECT_EQ(r[1][2], 1012);
    EXPECT_EQ(r[2][5], 1025);
    EXPECT_EQ(r[2][6], 26);
    EXPECT_EQ(r[4][6], 46);
}

// A reader of an overlapping sub-buffer waits for the writer, even on an
// out-of-order queue in shuffled mode; disjoint sub-buffers do not wait.
// The writer holds until both later commands are submitted: a command that
// has already ended is rightly no dependency of later ones, so without the
// hold a slow submitting thread would see the writer end first.
TEST(SyclBuffers, AccessorsImplyOrderingOnOverlappingRegions) {
    const bool was_shuffled = ovxplat::shuffle_mode();
    ovxplat::set_shuffle_mode(true);
    sycl::queue q;
    for (int trial = 0; trial < 10; ++trial) {
        std::atomic<bool> submitted{false};
        std::atomic<bool>* go = &submitted;
        sycl::buffer<int, 1> whole{sycl::range<1>(256)};
        sycl::buffer<int, 1> lo(whole, sycl::id<1>(0), sycl::range<1>(130));
        sycl::buffer<int, 1> hi(whole, sycl::id<1>(128), sycl::range<1>(128));
        sycl::buffer<int, 1> out{sycl::range<1>(128)};
        auto w = q.submit([&](sycl::handler& h) {
            sycl::accessor a(lo, h, sycl::write_only);
            h.parallel_for(sycl::range<1>(130), [=](sycl::id<1> i) {
                if (i[0] == 0) {
                    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
                    while (!go->load() && std::chrono::steady_clock::now() < until)
                        std::this_thread::sleep_for(std::chrono::microseconds(100));
                }
                a[i] = static_cast<int>(i[0]) + trial;
            });
        });
        auto r = q.submit([&](sycl::handler& h) {
            sycl::accessor a(hi, h, sycl::read_only);  // overlaps lo in elements 128, 129
            sycl::accessor o(out, h, sycl::write_only);
            h.single_task([=] {
                o[0] = a[0];
                o[1] = a[1];
            });
        });
        auto wl = r.get_wait_list();
        EXPECT_NE(std::find(wl.begin(), wl.end(), w), wl.end());
        sycl::buffer<int, 1> far(whole, sycl::id<1>(200), sycl::range<1>(56));
        auto f = q.submit([&](sycl::handler& h) {
            sycl::accessor a(far, h, sycl::write_only);
            h.single_task([=] { a[0] = 1; });
        });
        auto fl = f.get_wait_list();
        EXPECT_EQ(std::find(fl.begin(), fl.end(), w), fl.end());
        submitted = true;
        sycl::host_accessor ho(out, sycl::read_only);
        EXPECT_EQ(ho[0], 128 + trial);
        EXPECT_EQ(ho[1], 129 + trial);
    }
    ovxplat::set_shuffle_mode(was_shuffled);
}

// Several threads submit to one out-of-order queue at once: writers of the
// shared cell are serialised by their accessors, slices of one buffer run
// independently, and every update lands.
TEST(SyclBuffers, ConcurrentSubmittersKeepAccessorOrder) {
    sycl::queue q;
    constexpr int threads = 4, rounds = 150;
    std::vector<int> cells(threads * 8, 0);
    int shared_count = 0;
    {
        sycl::buffer<int, 1> slices(cells.data(), sycl::range<1>(cells.size()));
        sycl::buffer<int, 1> shared(&shared_count, sycl::range<1>(1));
        std::vector<std::thread> ts;
        for (int t = 0; t < threads; ++t)
            ts.emplace_back([&, t] {
                sycl::buffer<int, 1> mine(slices, sycl::id<1>(t * 8), sycl::range<1>(8));
                for (int r = 0; r < rounds; ++r) {
                    q.submit([&](sycl::handler& h) {
                        sycl::accessor a(mine, h, sycl::read_write);
                        h.parallel_for(sycl::range<1>(8), [=](sycl::id<1> i) { a[i] = a[i] * 3 % 1000003 + 1; });
                    });
                    q.submit([&](sycl::handler& h) {
                        sycl::accessor c(shared, h, sycl::read_write);
                        h.single_task([=] { c[0] += 1; });
                    });
                }
            });
        for (auto& t : ts) t.join();
    }
    int want = 0;
    for (int r = 0; r < rounds; ++r) want = want * 3 % 1000003 + 1;
    for (int v : cells) EXPECT_EQ(v, want);
    EXPECT_EQ(shared_count, threads * rounds);
}

TEST(SyclBuffers, HostAccessorHoldsLaterCommandsBack) {
    sycl::queue q;
    sycl::buffer<int, 1> b{sycl::range<1>(4)};
    sycl::event e;
    {
        sycl::host_accessor a(b);
        a[0] = 41;
        e = q.submit([&](sycl::handler& h) {
            sycl::accessor d(b, h, sycl::read_write);
            h.single_task([=] { d[0] += 1; });
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_NE(e.get_info<sycl::info::event::command_execution_status>(),
                  sycl::info::event_command_status::complete);
        EXPECT_EQ(a[0], 41);
    }
    e.wait();
    sycl::host_accessor r(b, sycl::read_only);
    EXPECT_EQ(r[0], 42);
}

TEST(SyclBuffers, AccessorRangeErrorsAndCopies) {
    sycl::queue q;
    sycl::buffer<float, 1> b{sycl::range<1>(10)};
    EXPECT_EQ(error_and_text([&] {
                  q.submit([&](sycl::handler& h) {
                      sycl::accessor a(b, h, sycl::range<1>(8), sycl::id<1>(3));
                      h.single_task([=] { (void)a; });
                  });
              }).first,
              sycl::errc::invalid);
    std::vector<float> src(10), dst(10, 0.0f);
    std::iota(src.begin(), src.end(), 1.0f);
    q.submit([&](sycl::handler& h) {
        sycl::accessor a(b, h, sycl::write_only);
        h.copy(src.data(), a);
    });
    q.submit([&](sycl::handler& h) {
        sycl::accessor a(b, h, sycl::read_only);
        h.copy(a, dst.data());
    });
    q.wait();
    EXPECT_EQ(dst, src);
    q.submit([&](sycl::handler& h) {
        sycl::accessor a(b, h, sycl::write_only);
        h.fill(a, 2.5f);
    });
    sycl::host_accessor r(b);
    EXPECT_EQ(r[9], 2.5f);
}

// Copies and fills through ranged accessors of several dimensions touch the
// elements of the accessor's range only, in row-major order of that range;
// every other element keeps its value.
TEST(SyclBuffers, RangedAccessorCopiesAndFillsTouchOnlyTheirRange) {
    sycl::queue q;
    constexpr int R = 6, C = 7;
    std::vector<int> want(R * C);
    std::iota(want.begin(), want.end(), 0);
    sycl::buffer<int, 2> b(static_cast<const int*>(want.data()), sycl::range<2>(R, C));
    // To host memory: rows 1..3, columns 2..5.
    std::vector<int> out(12, -1);
    q.submit([&](sycl::handler& h) {
         sycl::accessor a(b, h, sycl::range<2>(3, 4), sycl::id<2>(1, 2), sycl::read_only);
         h.copy(a, out.data());
     }).wait();
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 4; ++c) EXPECT_EQ(out[r * 4 + c], want[(1 + r) * C + 2 + c]) << r << "," << c;
    // From host memory: rows 2..4, columns 1..4.
    std::vector<int> in(12);
    std::iota(in.begin(), in.end(), 1000);
    q.submit([&](sycl::handler& h) {
         sycl::accessor a(b, h, sycl::range<2>(3, 4), sycl::id<2>(2, 1), sycl::write_only);
         h.copy(in.data(), a);
     }).wait();
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 4; ++c) want[(2 + r) * C + 1 + c] = in[r * 4 + c];
    // Between ranged accessors of other shapes: the 2x3 elements of b at
    // (0, 4) go to the first six elements of a 3x3 range of d at (1, 1).
    sycl::buffer<int, 2> d{sycl::range<2>(4, 5)};
    q.submit([&](sycl::handler& h) {
        sycl::accessor a(d, h, sycl::write_only);
        h.fill(a, -7);
    });
    q.submit([&](sycl::handler& h) {
        sycl::accessor s(b, h, sycl::range<2>(2, 3), sycl::id<2>(0, 4), sycl::read_only);
        sycl::accessor t(d, h, sycl::range<2>(3, 3), sycl::id<2>(1, 1), sycl::write_only);
        h.copy(s, t);
    });
    std::vector<int> want_d(4 * 5, -7);
    for (int k = 0; k < 6; ++k) want_d[(1 + k / 3) * 5 + 1 + k % 3] = want[(k / 3) * C + 4 + k % 3];
    // A fill of a 2x2x3 range at (1, 1, 1) of a 3x4x5 buffer.
    sycl::buffer<int, 3> v{sycl::range<3>(3, 4, 5)};
    q.submit([&](sycl::handler& h) {
        sycl::accessor a(v, h, sycl::write_only);
        h.fill(a, 0);
    });
    q.submit([&](sycl::handler& h) {
        sycl::accessor a(v, h, sycl::range<3>(2, 2, 3), sycl::id<3>(1, 1, 1), sycl::write_only);
        h.fill(a, 9);
    });
    {
        sycl::host_accessor hb(b, sycl::read_only);
        for (int r = 0; r < R; ++r)
            for (int c = 0; c < C; ++c) EXPECT_EQ(hb[r][c], want[r * C + c]) << "b " << r << "," << c;
        sycl::host_accessor hd(d, sycl::read_only);
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 5; ++c) EXPECT_EQ(hd[r][c], want_d[r * 5 + c]) << "d " << r << "," << c;
        sycl::host_accessor hv(v, sycl::read_only);
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 4; ++j)
                for (int k = 0; k < 5; ++k) {
                    const bool inside = i >= 1 && j >= 1 && j < 3 && k >= 1 && k < 4;
                    EXPECT_EQ(hv[i][j][k], inside ? 9 : 0) << "v " << i << "," << j << "," << k;
                }
    }
}

// A copy between accessors needs a destination that holds at least the
// source's elements; a smaller one is refused at submission, nothing copied.
TEST(SyclBuffers, AccessorCopyIntoFewerElementsIsAnError) {
    sycl::queue q;
    sycl::buffer<int, 2> big{sycl::range<2>(4, 4)};
    sycl::buffer<int, 2> small{sycl::range<2>(2, 4)};
    q.submit([&](sycl::handler& h) {
        sycl::accessor a(big, h, sycl::write_only);
        h.fill(a, 1);
    });
    q.submit([&](sycl::handler& h) {
        sycl::accessor a(small, h, sycl::write_only);
        h.fill(a, 2);
    });
    const std::string text = "The destination accessor holds fewer elements than the source accessor";
    auto e1 = error_and_text([&] {
        q.submit([&](sycl::handler& h) {
            sycl::accessor s(big, h, sycl::read_only);
            sycl::accessor t(small, h, sycl::write_only);
            h.copy(s, t);
        });
    });
    EXPECT_EQ(e1.first, sycl::errc::invalid);
    EXPECT_EQ(e1.second, text);
    auto e2 = error_and_text([&] {
        q.submit([&](sycl::handler& h) {
            sycl::accessor s(small, h, sycl::read_only);
            sycl::accessor t(big, h, sycl::range<2>(2, 3), sycl::id<2>(1, 1), sycl::write_only);
            h.copy(s, t);
        });
    });
    EXPECT_EQ(e2.first, sycl::errc::invalid);
    EXPECT_EQ(e2.second, text);
    sycl::host_accessor hb(big, sycl::read_only);
    sycl::host_accessor hs(small, sycl::read_only);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) EXPECT_EQ(hb[r][c], 1);
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 4; ++c) EXPECT_EQ(hs[r][c], 2);
}

// An offset near the top of size_t plus a range must not wrap past the
// bounds checks of sub-buffers, accessors and host accessors.
TEST(SyclBuffers, HugeOffsetsFailBoundsChecksInsteadOfWrapping) {
    sycl::queue q;
    const std::size_t huge = std::numeric_limits<std::size_t>::max() - 1;
    sycl::buffer<char, 1> b{sycl::range<1>(64)};
    auto e1 = error_and_text([&] { sycl::buffer<char, 1> s(b, sycl::id<1>(huge), sycl::range<1>(4)); });
    EXPECT_EQ(e1.first, sycl::errc::invalid);
    EXPECT_EQ(e1.second, "Requested sub-buffer size exceeds the size of the parent buffer");
    sycl::buffer<int, 2> b2{sycl::range<2>(8, 8)};
    auto e2 = error_and_text([&] {
        q.submit([&](sycl::handler& h) {
            sycl::accessor a(b2, h, sycl::range<2>(2, 4), sycl::id<2>(1, huge));
            (void)a;
        });
    });
    EXPECT_EQ(e2.first, sycl::errc::invalid);
    EXPECT_EQ(e2.second, "accessor range exceeds the buffer's range");
    auto e3 = error_and_text([&] {
        sycl::host_accessor<char, 1, sycl::access_mode::read> a(b, sycl::range<1>(4), sycl::id<1>(huge));
    });
    EXPECT_EQ(e3.first, sycl::errc::invalid);
    EXPECT_EQ(e3.second, "accessor range exceeds the buffer's range");
    // Up to the end is still accepted.
    sycl::buffer<char, 1> tail(b, sycl::id<1>(60), sycl::range<1>(4));
    EXPECT_EQ(tail.byte_size(), 4u);
    sycl::host_accessor<char, 1, sycl::access_mode::read> a(b, sycl::range<1>(4), sycl::id<1>(60));
    EXPECT_EQ(a.size(), 4u);
    q.wait();
}

// A host accessor waits while a conflicting host accessor of another thread
// lives, and then sees its writes. A thread's own host accessors do not wait
// for each other (nor for another thread's that waits for them), and readers
// of different threads do not wait.
TEST(SyclBuffers, HostAccessorsOfDifferentThreadsExcludeEachOther) {
    sycl::buffer<int, 1> b{sycl::range<1>(8)};
    finishes_within(
        std::chrono::seconds(20),
        [&] {
            std::atomic<bool> acquired{false};
            std::thread other;
            {
                sycl::host_accessor w(b, sycl::write_only);
                for (int i = 0; i < 8; ++i) w[i] = i;
                other = std::thread([&] {
                    sycl::host_accessor a(b, sycl::read_write);
                    acquired = true;
                    for (int i = 0; i < 8; ++i) a[i] += 100;
                });
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                EXPECT_FALSE(acquired.load()) << "another thread's host accessor did not wait";
                {
                    sycl::host_accessor again(b, sycl::read_write);
                    again[0] = 50;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                EXPECT_FALSE(acquired.load()) << "another thread's host accessor did not wait";
            }
            other.join();
            EXPECT_TRUE(acquired.load());
            sycl::host_accessor r(b, sycl::read_only);
            std::atomic<bool> read{false};
            std::thread reader([&] {
                sycl::host_accessor r2(b, sycl::read_only);
                read = r2[1] == 101;
            });
            reader.join();
            EXPECT_TRUE(read.load());
            EXPECT_EQ(r[0], 150);
            for (int i = 1; i < 8; ++i) EXPECT_EQ(r[i], i + 100);
        },
        "host accessors of two threads");
}

}  // namespace
