// Devices, profiles, contexts and USM of the SYCL stand-in.
#include <gtest/gtest.h>
#include <ovxplat/profile.h>
#include <ovxplat/sycl_standin.hpp>
#include <sycl/sycl.hpp>

#include "sycl_test_util.hpp"

#include <algorithm>
#include <set>

namespace {

using sycl::aspect;
namespace dinfo = sycl::info::device;
namespace tinfo = sycl::ext::tarvo::info::device;

std::size_t smallest_sg(const sycl::device& d) {
    auto v = d.get_info<dinfo::sub_group_sizes>();
    return *std::min_element(v.begin(), v.end());
}
bool has_sg(const sycl::device& d, std::size_t s) {
    auto v = d.get_info<dinfo::sub_group_sizes>();
    return std::find(v.begin(), v.end(), s) != v.end();
}

TEST(SyclProfiles, TableIsConsistent) {
    std::set<std::string> names;
    for (int i = 0; i < ovxplat_gpu_profile_count(); ++i) {
        const ovxplat_gpu_profile* p = ovxplat_gpu_profile_at(i);
        ASSERT_NE(p, nullptr);
        EXPECT_TRUE(names.insert(p->name).second) << "duplicate profile " << p->name;
        EXPECT_EQ(ovxplat_gpu_profile_find(p->name), p);
        EXPECT_GE(p->subgroup_size_count, 1);
        EXPECT_LE(p->subgroup_size_count, OVXPLAT_MAX_SUBGROUP_SIZES);
        for (int k = 1; k < p->subgroup_size_count; ++k) EXPECT_LT(p->subgroup_sizes[k - 1], p->subgroup_sizes[k]);
        EXPECT_GE(p->generation, 0);
        EXPECT_LE(p->generation, 8);
        EXPECT_GE(p->mem_base_addr_align, 8u);
        // Device ids 0x7g.. name generation g; other ids mean an unknown generation.
        if (p->generation) EXPECT_EQ(p->device_id >> 8, 0x70u + p->generation) << p->name;
        else EXPECT_NE(p->device_id >> 12, 0x7u) << p->name;
        if (p->eu_count_per_subslice) {
            // EU count = slices x subslices per slice x EUs per subslice.
            EXPECT_EQ(p->eu_count, p->slices * p->subslices_per_slice * p->eu_count_per_subslice) << p->name;
            EXPECT_EQ(p->eu_count % p->eu_count_per_subslice, 0u) << p->name;
        }
    }
    EXPECT_EQ(ovxplat_gpu_profile_at(-1), nullptr);
    EXPECT_EQ(ovxplat_gpu_profile_at(ovxplat_gpu_profile_count()), nullptr);
    EXPECT_EQ(ovxplat_gpu_profile_find("no-such-profile"), nullptr);
    EXPECT_EQ(ovxplat_gpu_profile_find(nullptr), nullptr);
    EXPECT_EQ(ovxplat_gpu_profile_select("no-such-profile"), -1);
    EXPECT_FALSE(ovxplat::select_gpu_profile("no-such-profile"));
}

// Every backend gate of the library can be passed by some profile.
TEST(SyclProfiles, EveryGpuRequirementIsReachable) {
    auto find = [](auto pred) {
        for (auto& n : ovxplat::gpu_profile_names()) {
            ovxplat::scoped_gpu_profile s(n);
            sycl::device d{sycl::gpu_selector_v};
            if (pred(d, ovxplat_gpu_profile_current())) return n;
        }
        return std::string();
    };
    for (int gen = 1; gen <= 8; ++gen)
        EXPECT_NE(find([&](const sycl::device&, const ovxplat_gpu_profile* p) { return p->generation == gen; }), "")
            << "generation " << gen;
    // Sub-group size 8 with fp64 (two-factor, 8192-point, three-factor double).
    EXPECT_NE(find([](const sycl::device& d, auto) { return has_sg(d, 8) && d.has(aspect::fp64); }), "");
    // Smallest sub-group size at least 16 (local-memory backends), on generation 6 with fp64.
    EXPECT_NE(find([](const sycl::device& d, auto p) {
                  return smallest_sg(d) >= 16 && p->generation == 6 && d.has(aspect::fp64);
              }),
              "");
    // Smallest sub-group size 8 on generation 5 (column-batched backend).
    EXPECT_NE(find([](const sycl::device& d, auto p) { return smallest_sg(d) == 8 && p->generation == 5; }), "");
    EXPECT_NE(find([](const sycl::device& d, auto) { return !d.has(aspect::fp64); }), "");
    EXPECT_NE(find([](const sycl::device& d, auto) {
                  return d.get_backend() == sycl::backend::ext_tarvo_level_zero && d.has(aspect::ext_tarvo_gpu_hw_info);
              }),
              "");
    EXPECT_NE(find([](const sycl::device& d, auto) {
                  return d.get_info<dinfo::partition_max_sub_devices>() >= 2;
              }),
              "");
    EXPECT_NE(find([](const sycl::device&, auto p) { return p->generation == 0; }), "");
}

TEST(SyclProfiles, DefaultIsQuen6AndScopedSelectionRestores) {
    const std::string before = ovxplat::current_gpu_profile();
    {
        ovxplat::scoped_gpu_profile s("quen3");
        EXPECT_TRUE(s.ok());
        EXPECT_EQ(ovxplat::current_gpu_profile(), "quen3");
    }
    EXPECT_EQ(ovxplat::current_gpu_profile(), before);
    if (!std::getenv("OVXPLAT_GPU_PROFILE")) EXPECT_EQ(before, "quen6");
}

struct ProfileCase {
    const char* name;
};
class SyclDeviceInfo : public ::testing::TestWithParam<const char*> {};

// Device answers follow the profile in force.
TEST_P(SyclDeviceInfo, AnswersComeFromTheProfile) {
    ovxplat::scoped_gpu_profile s(GetParam());
    ASSERT_TRUE(s.ok());
    const ovxplat_gpu_profile* p = ovxplat_gpu_profile_current();
    sycl::device d{sycl::gpu_selector_v};
    EXPECT_TRUE(d.is_gpu());
    EXPECT_FALSE(d.is_cpu());
    EXPECT_EQ(d.get_info<dinfo::name>(), p->device_name);
    EXPECT_EQ(d.get_info<dinfo::vendor>(), p->vendor);
    EXPECT_EQ(d.get_info<dinfo::driver_version>(), p->driver_version);
    auto sg = d.get_info<dinfo::sub_group_sizes>();
    ASSERT_EQ(sg.size(), static_cast<std::size_t>(p->subgroup_size_count));
    for (int i = 0; i < p->subgroup_size_count; ++i) EXPECT_EQ(sg[i], static_cast<std::size_t>(p->subgroup_sizes[i]));
    EXPECT_EQ(d.get_info<dinfo::local_mem_size>(), p->local_mem_size);
    EXPECT_EQ(d.get_info<dinfo::max_work_group_size>(), p->max_work_group_size);
    EXPECT_EQ(d.get_info<dinfo::max_compute_units>(), p->max_compute_units);
    EXPECT_EQ(d.get_info<dinfo::mem_base_addr_align>(), p->mem_base_addr_align);
    EXPECT_EQ(d.get_info<dinfo::max_mem_alloc_size>(), p->max_mem_alloc_size);
    EXPECT_EQ(d.get_info<dinfo::global_mem_size>(), p->global_mem_size);
    EXPECT_EQ(d.has(aspect::fp64), p->fp64 != 0);
    EXPECT_EQ(d.get_info<tinfo::device_id>(), p->device_id);
    auto aspects = d.get_info<dinfo::aspects>();
    EXPECT_EQ(std::count(aspects.begin(), aspects.end(), aspect::fp64), p->fp64 ? 1 : 0);
    EXPECT_EQ(d.get_backend(), p->backend == OVXPLAT_BACKEND_LEVEL_ZERO ? sycl::backend::ext_tarvo_level_zero
                                                                        : sycl::backend::opencl);
    EXPECT_EQ(d.get_platform().get_backend(), d.get_backend());
    if (d.has(aspect::ext_tarvo_gpu_hw_info)) {
        EXPECT_EQ(static_cast<int>(aspect::ext_tarvo_gpu_hw_info), 37);
        EXPECT_EQ(d.get_info<tinfo::gpu_eu_count>(), p->eu_count);
        EXPECT_EQ(d.get_info<tinfo::gpu_eu_count_per_subslice>(), p->eu_count_per_subslice);
        EXPECT_EQ(d.get_info<tinfo::gpu_hw_threads_per_eu>(), p->hw_threads_per_eu);
        EXPECT_EQ(d.get_info<tinfo::gpu_slices>(), p->slices);
        EXPECT_EQ(d.get_info<tinfo::gpu_subslices_per_slice>(), p->subslices_per_slice);
    } else {
        EXPECT_EQ(error_of([&] { d.get_info<tinfo::gpu_eu_count_per_subslice>(); }), sycl::errc::feature_not_supported);
    }
    if (d.has(static_cast<aspect>(36))) {
        EXPECT_EQ(d.get_info<tinfo::free_memory>(), p->free_memory);
    } else {
        EXPECT_EQ(error_of([&] { d.get_info<tinfo::free_memory>(); }), sycl::errc::feature_not_supported);
    }
}
INSTANTIATE_TEST_SUITE_P(AllProfiles, SyclDeviceInfo,
                         ::testing::Values("quen6", "quen6_2tile", "quen6_l0", "quen6_l0_2tile", "quen5",
                                           "quen5_nofp64", "quen7", "quen8", "quen4", "quen3", "quen2", "quen1",
                                           "unknown"),
                         [](const auto& i) { return std::string(i.param); });

// Each profile is its own device: a device keeps the description it was made
// with; selecting a profile again gives the same device again.
TEST(SyclDevices, EachProfileHasItsOwnDeviceIdentity) {
    sycl::device q6, q5;
    {
        ovxplat::scoped_gpu_profile s("quen6");
        q6 = sycl::device(sycl::gpu_selector_v);
    }
    {
        ovxplat::scoped_gpu_profile s("quen5_nofp64");
        q5 = sycl::device(sycl::gpu_selector_v);
        EXPECT_EQ(sycl::device(sycl::gpu_selector_v), q5);
        EXPECT_EQ(sycl::queue().get_device(), q5);
    }
    EXPECT_NE(q6, q5);
    EXPECT_TRUE(q6.has(aspect::fp64));
    EXPECT_FALSE(q5.has(aspect::fp64));
    EXPECT_EQ(q5.get_info<dinfo::name>(), ovxplat_gpu_profile_find("quen5_nofp64")->device_name);
    EXPECT_EQ(q5.get_info<tinfo::device_id>() >> 8, 0x75u);
    ovxplat::scoped_gpu_profile s("quen6");
    EXPECT_EQ(sycl::device(sycl::gpu_selector_v), q6);
}

TEST(SyclDevices, GpuAndCpuDevicesAndPlatforms) {
    auto all = sycl::device::get_devices();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(sycl::device::get_devices(sycl::info::device_type::gpu).size(), 1u);
    EXPECT_EQ(sycl::device::get_devices(sycl::info::device_type::cpu).size(), 1u);
    EXPECT_TRUE(sycl::device(sycl::default_selector_v).is_gpu());
    sycl::device cpu{sycl::cpu_selector_v};
    EXPECT_TRUE(cpu.is_cpu());
    EXPECT_EQ(cpu.get_backend(), sycl::backend::ext_tarvo_host);
    EXPECT_FALSE(cpu.has(aspect::ext_tarvo_free_memory));
    EXPECT_EQ(cpu.get_info<dinfo::device_type>(), sycl::info::device_type::cpu);
    EXPECT_EQ(sycl::platform::get_platforms().size(), 2u);
    EXPECT_NE(cpu.get_platform(), sycl::device(sycl::gpu_selector_v).get_platform());
    EXPECT_EQ(error_of([] { sycl::device d{sycl::accelerator_selector_v}; }), sycl::errc::runtime);
    std::string what;
    EXPECT_EQ(error_of([&] { cpu.get_info<dinfo::parent_device>(); }, &what), sycl::errc::invalid);
    // A context cannot mix platforms.
    EXPECT_EQ(error_of([&] { sycl::context c({cpu, sycl::device(sycl::gpu_selector_v)}); }), sycl::errc::invalid);
    // A queue's device must belong to its context.
    sycl::context gctx{sycl::device(sycl::gpu_selector_v)};
    EXPECT_EQ(error_of([&] { sycl::queue q(gctx, cpu); }), sycl::errc::invalid);
}

TEST(SyclDevices, SubDevicesByAffinityDomain) {
    {
        ovxplat::scoped_gpu_profile s("quen6");
        sycl::device d{sycl::gpu_selector_v};
        EXPECT_EQ(d.get_info<dinfo::partition_max_sub_devices>(), 0u);
        EXPECT_EQ(error_of([&] {
                      d.create_sub_devices<sycl::info::partition_property::partition_by_affinity_domain>(
                          sycl::info::partition_affinity_domain::next_partitionable);
                  }),
                  sycl::errc::feature_not_supported);
    }
    ovxplat::scoped_gpu_profile s("quen6_2tile");
    sycl::device d{sycl::gpu_selector_v};
    auto subs = d.create_sub_devices<sycl::info::partition_property::partition_by_affinity_domain>(
        sycl::info::partition_affinity_domain::next_partitionable);
    ASSERT_EQ(subs.size(), 2u);
    EXPECT_NE(subs[0], subs[1]);
    EXPECT_EQ(subs[0].get_info<dinfo::parent_device>(), d);
    EXPECT_EQ(subs[0].get_info<dinfo::max_compute_units>(), d.get_info<dinfo::max_compute_units>() / 2);
    EXPECT_EQ(subs[0].get_info<dinfo::partition_max_sub_devices>(), 0u);
    // The same sub-devices come back on a second call.
    auto again = d.create_sub_devices<sycl::info::partition_property::partition_by_affinity_domain>(
        sycl::info::partition_affinity_domain::numa);
    EXPECT_EQ(again[1], subs[1]);
    // A sub-device runs host kernels.
    sycl::queue q(subs[1]);
    int* p = sycl::malloc_shared<int>(4, q);
    ASSERT_NE(p, nullptr);
    q.parallel_for(sycl::range<1>(4), [=](sycl::id<1> i) { p[i] = static_cast<int>(i[0]) * 3; }).wait();
    EXPECT_EQ(p[3], 9);
    sycl::free(p, q);
}

// ---------------------------------------------------------------- USM
class SyclUsm : public ::testing::TestWithParam<bool> {};

TEST_P(SyclUsm, KindsPointerTypesAndCopies) {
    sycl::queue q(GetParam() ? sycl::device(sycl::gpu_selector_v) : sycl::device(sycl::cpu_selector_v));
    auto* d = sycl::malloc_device<double>(100, q);
    auto* s = sycl::malloc_shared<double>(100, q);
    auto* h = sycl::malloc_host<double>(100, q);
    auto* a = static_cast<char*>(sycl::aligned_alloc_shared(4096, 1000, q));
    ASSERT_TRUE(d && s && h && a);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(a) % 4096, 0u);
    auto ctx = q.get_context();
    EXPECT_EQ(sycl::get_pointer_type(d, ctx), sycl::usm::alloc::device);
    EXPECT_EQ(sycl::get_pointer_type(d + 57, ctx), sycl::usm::alloc::device);  // interior pointer
    EXPECT_EQ(sycl::get_pointer_type(s + 99, ctx), sycl::usm::alloc::shared);
    EXPECT_EQ(sycl::get_pointer_type(h, ctx), sycl::usm::alloc::host);
    EXPECT_EQ(sycl::get_pointer_type(a + 999, ctx), sycl::usm::alloc::shared);
    int local = 0;
    EXPECT_EQ(sycl::get_pointer_type(&local, ctx), sycl::usm::alloc::unknown);
    EXPECT_EQ(sycl::get_pointer_type(nullptr, ctx), sycl::usm::alloc::unknown);
    EXPECT_EQ(sycl::get_pointer_type(d + 100, ctx), sycl::usm::alloc::unknown);  // one past the end
    sycl::context other(q.get_device());
    EXPECT_EQ(sycl::get_pointer_type(d, other), sycl::usm::alloc::unknown);
    EXPECT_EQ(sycl::get_pointer_device(s, ctx), q.get_device());

    for (int i = 0; i < 100; ++i) h[i] = i + 0.5;
    auto e1 = q.memcpy(d, h, 100 * sizeof(double));
    auto e2 = q.memcpy(s, d, 100 * sizeof(double), e1);
    auto e3 = q.fill(d, 2.25, 50, {e2});
    auto e4 = q.memset(a, 0x5a, 1000, e3);
    e4.wait();
    for (int i = 0; i < 100; ++i) EXPECT_EQ(s[i], i + 0.5);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(d[i], 2.25);
    EXPECT_EQ(d[50], 50.5);
    EXPECT_EQ(a[0], 0x5a);
    EXPECT_EQ(a[999], 0x5a);
    auto live = ovxplat::get_sycl_counters().usm_live_allocations;
    for (void* p : {static_cast<void*>(d), static_cast<void*>(s), static_cast<void*>(h), static_cast<void*>(a)})
        sycl::free(p, q);
    EXPECT_EQ(ovxplat::get_sycl_counters().usm_live_allocations, live - 4);
}
INSTANTIATE_TEST_SUITE_P(BothDevices, SyclUsm, ::testing::Values(true, false),
                         [](const auto& i) { return std::string(i.param ? "gpu" : "cpu"); });

TEST(SyclUsmErrors, RefusalsAndLimits) {
    sycl::queue q{sycl::gpu_selector_v};
    EXPECT_EQ(sycl::malloc_device(0, q), nullptr);
    auto limit = q.get_device().get_info<dinfo::max_mem_alloc_size>();
    EXPECT_EQ(sycl::malloc_device(limit + 1, q), nullptr);
    EXPECT_EQ(sycl::aligned_alloc_device(3, 64, q), nullptr);  // not a power of two
    int x = 0;
    EXPECT_EQ(error_of([&] { sycl::free(&x, q); }), sycl::errc::invalid);
    sycl::free(nullptr, q);  // allowed
    EXPECT_EQ(error_of([&] { q.memcpy(nullptr, &x, 4); }), sycl::errc::invalid);
    // A device of another context is refused.
    sycl::device cpu{sycl::cpu_selector_v};
    EXPECT_EQ(error_of([&] { sycl::malloc_device(16, cpu, q.get_context()); }), sycl::errc::invalid);
}

}  // namespace
