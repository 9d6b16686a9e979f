// Device records and device queries of the runtime layer, per device
// profile of the platform, and the Level Zero wrappers without a driver.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <ovxplat/profile.h>
#include <ovxplat/sycl_standin.hpp>

#include "gpu/ovx_gpu.hpp"
#include "gpu/ovx_gpu_device.hpp"
#include "gpu/ovx_gpu_testing.hpp"

namespace {

namespace gpu = korami::ovx::gpu;


std::vector<std::string> profile_names() {
    std::vector<std::string> names;
    for (int i = 0; i < ovxplat_gpu_profile_count(); ++i) names.push_back(ovxplat_gpu_profile_at(i)->name);
    return names;
}

// Compares the records of the profile's GPU with the profile; prints every
// difference and returns their number. Run in a fresh process per profile,
// because a device's facts are read once per process.
int check_profile(const std::string& name) {
    int failures = 0;
    auto expect = [&](const char* what, long long got, long long want) {
        if (got != want) {
            fprintf(stderr, "%s: %s is %lld, expected %lld\n", name.c_str(), what, got, want);
            ++failures;
        }
    };
    if (!ovxplat::select_gpu_profile(name)) {
        fprintf(stderr, "no profile %s\n", name.c_str());
        return 1;
    }
    const ovxplat_gpu_profile* p = ovxplat_gpu_profile_find(name.c_str());
    sycl::queue q{sycl::gpu_selector_v};
    int status = 0;
    expect("generation", gpu::get_architecture(&status, &q), p->generation);
    expect("status", status, 0);
    expect("generation again", gpu::get_architecture(&status, &q), p->generation);
    expect("tile count", gpu::get_tile_count(&q), p->tile_count == 0 ? 1 : p->tile_count);
    // Without the vendor's GPU information the compute units stand for the EUs.
    const bool hw_info = q.get_device().has(sycl::aspect::ext_tarvo_gpu_hw_info);
    expect("EU count", gpu::get_eu_count(&q), hw_info ? p->eu_count : p->max_compute_units);
    expect("max work-group size", gpu::ovx_gpu_get_max_workgroup_size(&q),
           static_cast<long long>(p->max_work_group_size));
    expect("backend", gpu::get_device_backend(&q), p->backend == OVXPLAT_BACKEND_LEVEL_ZERO ? 1 : 0);
    gpu::device_record* r = gpu::get_device_record(nullptr, &q);
    if (r == nullptr) {
        fprintf(stderr, "%s: no record\n", name.c_str());
        return failures + 1;
    }
    expect("fp64", r->fp64, p->fp64);
    if (r->name != p->device_name) {
        fprintf(stderr, "%s: name '%s'\n", name.c_str(), r->name.c_str());
        ++failures;
    }
    // A second queue on the same device shares the record.
    sycl::queue q2{q.get_device()};
    expect("shared record", gpu::get_device_record(nullptr, &q2) == r, 1);
    expect("records", gpu::device_record_count(), 1);
    return failures;
}

class DeviceRecordsDeathTest : public ::testing::TestWithParam<std::string> {};

void profile_child(const std::string& name) {
    int failures = check_profile(name);
    fprintf(stderr, "failures=%d\n", failures);
    exit(failures == 0 ? 0 : 1);
}

TEST_P(DeviceRecordsDeathTest, MatchTheProfile) {
    const std::string name = GetParam();
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // fresh process
    EXPECT_EXIT(profile_child(name), ::testing::ExitedWithCode(0), "failures=0");
}

INSTANTIATE_TEST_SUITE_P(EveryProfile, DeviceRecordsDeathTest, ::testing::ValuesIn(profile_names()),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

TEST(DeviceIds, MapToGenerations) {
    // Ids 0x7g.. name generation g (1 to 8); anything else is unknown.
    const std::pair<unsigned, int> rows[] = {{0x7100, 1}, {0x71ff, 1}, {0x7549, 5}, {0x7855, 8}, {0x7000, 0},
                                             {0x7900, 0}, {0x0001, 0}, {0x17549, 0}};
    for (const auto& r : rows) EXPECT_EQ(gpu::architecture_from_device_id(r.first), r.second) << std::hex << r.first;
}

TEST(DeviceQueries, NullQueue) {
    int status = 0;
    EXPECT_EQ(gpu::get_architecture(&status, nullptr), 0);
    EXPECT_NE(status, 0);
    EXPECT_EQ(gpu::get_architecture(nullptr, nullptr), 0);  // null status allowed
    EXPECT_EQ(gpu::get_tile_count(nullptr), 1);
    EXPECT_EQ(gpu::get_eu_count(nullptr), 0);
    EXPECT_EQ(gpu::ovx_gpu_get_max_workgroup_size(nullptr), 0);
    EXPECT_EQ(gpu::get_device_backend(nullptr), -1);
}

TEST(DeviceQueries, CpuDeviceIsNotRecognised) {
    sycl::queue q{sycl::cpu_selector_v};
    int status = 0;
    EXPECT_EQ(gpu::get_architecture(&status, &q), 0);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(gpu::get_device_backend(&q), -1);
    EXPECT_GE(gpu::get_tile_count(&q), 1);
}

// Threads that meet the device at the same moment make one record and see
// one generation (fresh process: the record must not exist before).
void concurrent_first_use_child() {
    sycl::queue q{sycl::gpu_selector_v};
    std::atomic<int> ready{0};
    std::atomic<int> mismatches{0};
    std::vector<ovx_gpu_arch_t> seen(8, -1);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            sycl::queue mine{q.get_device()};
            ++ready;
            while (ready.load() < 8) {
            }
            for (int i = 0; i < 100; ++i) {
                int status = 0;
                ovx_gpu_arch_t a = gpu::get_architecture(&status, &mine);
                if (status != 0) ++mismatches;
                if (i == 0) seen[t] = a;
                else if (a != seen[t]) ++mismatches;
            }
        });
    }
    for (auto& t : threads) t.join();
    int failures = mismatches.load();
    for (int t = 1; t < 8; ++t)
        if (seen[t] != seen[0]) ++failures;
    if (gpu::device_record_count() != 1) ++failures;
    fprintf(stderr, "failures=%d\n", failures);
    exit(failures == 0 ? 0 : 1);
}

TEST(DeviceQueriesDeathTest, ConcurrentFirstUseMakesOneRecord) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // fresh process
    EXPECT_EXIT(concurrent_first_use_child(), ::testing::ExitedWithCode(0), "failures=0");
}

// ---- Level Zero without a driver ------------------------------------------

void level_zero_refusal_child() {
    int failures = 0;
    ovxplat::select_gpu_profile("quen6_l0");
    sycl::queue q{sycl::gpu_selector_v};
    if (gpu::get_device_backend(&q) != 1) ++failures;
    static const uint8_t bytes[16] = {1, 2, 3};
    ovx_gpu_binary_kernel_t binary{sizeof bytes, bytes, 0, ""};
    int status = 0;
    if (gpu::get_binary_kernel(&status, &q, 2, &binary, "k") != nullptr) ++failures;
    if (status != static_cast<int>(OVX_ZE_RESULT_ERROR_UNINITIALIZED)) ++failures;
    status = 0;
    try {
        gpu::get_OCL_kernel_by_progname(&status, &q, 2, "p", "__kernel void k() {}", "k", "");
        ++failures;
    } catch (const sycl::exception& e) {
        std::string m = e.what();
        if (m.rfind("OpenCL error -33: ", 0) != 0) ++failures;
        if (m.find("Level Zero driver is not available") == std::string::npos) ++failures;
        fprintf(stderr, "%s\n", e.what());
    }
    if (status != -33) ++failures;
    fprintf(stderr, "failures=%d\n", failures);
    exit(failures == 0 ? 0 : 1);
}

TEST(LevelZero, WrappersReportTheMissingDriver) {
    EXPECT_FALSE(gpu::level_zero_available());
    uint32_t count = 7;
    void* module = nullptr;
    size_t size = 0;
    EXPECT_EQ(ovx_zeDeviceGetProperties(nullptr, nullptr), OVX_ZE_RESULT_ERROR_UNINITIALIZED);
    EXPECT_EQ(ovx_zeDeviceGetSubDevices(nullptr, &count, nullptr), OVX_ZE_RESULT_ERROR_UNINITIALIZED);
    EXPECT_EQ(count, 7u);  // untouched
    EXPECT_EQ(ovx_zeModuleCreate(nullptr, nullptr, nullptr, &module, nullptr),
              OVX_ZE_RESULT_ERROR_UNINITIALIZED);
    EXPECT_EQ(module, nullptr);
    EXPECT_EQ(ovx_zeKernelCreate(nullptr, nullptr, nullptr), OVX_ZE_RESULT_ERROR_UNINITIALIZED);
    EXPECT_EQ(ovx_zeModuleDestroy(nullptr), OVX_ZE_RESULT_ERROR_UNINITIALIZED);
    EXPECT_EQ(ovx_zeModuleGetNativeBinary(nullptr, &size, nullptr), OVX_ZE_RESULT_ERROR_UNINITIALIZED);
}

TEST(LevelZeroDeathTest, KernelsOnALevelZeroDeviceAreRefusedCleanly) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // fresh process
    EXPECT_EXIT(level_zero_refusal_child(), ::testing::ExitedWithCode(0), "failures=0");
}

}  // namespace
