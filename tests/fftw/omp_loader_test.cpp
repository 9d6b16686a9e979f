// The offload runtime is bound once per process: built as one executable
// with the runtime mapped absent and one with a runtime that lacks an entry.
#include <gtest/gtest.h>
#include <ovxplat/win32_map.h>

#include <string>

#include "dft/node/ovx_dft_node.hpp"
#include "korami/ovx/dfti_omp_offload.h"

namespace {

std::string commit_line(std::int64_t* status) {
    DFTI_DESCRIPTOR* node = nullptr;
    EXPECT_EQ(dfti_create_descriptor_s_1d(&node, DFTI_COMPLEX, 64), 0);
    int interop = 0;
    ::testing::internal::CaptureStderr();
    *status = ovx_DftiCommitDescriptor_omp_offload(node, &interop);
    std::string text = ::testing::internal::GetCapturedStderr();
    dfti_free_descriptor(&node);
    return text;
}

const char* const load_line =
    "ovx_DftiCommitDescriptor_omp_offload: An error specific to OpenMP offload was detected. "
    "Message: Failed to load the OpenMP offloading library.\n";

TEST(OffloadLoader, MissingRuntimeGives83AndIsNotRetried) {
    ovxplat_win32_map_set("omptarget.dll", OVX_TEST_OMP_MODULE);
    std::int64_t status = 0;
    EXPECT_EQ(commit_line(&status), load_line);
    EXPECT_EQ(status, 83);
    ovxplat_win32_map_reset();
    EXPECT_EQ(commit_line(&status), load_line);
    EXPECT_EQ(status, 83);
}

TEST(OffloadLoader, ServicesReportFailureAndTheProcessGoesOn) {
    int interop = 0;
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(korami::ovx::gpu::lookup_and_cache_qorel_queue_and_context(&interop), nullptr);
    int storage = 0;
    DFTI_DESCRIPTOR* node = nullptr;
    ASSERT_EQ(dfti_create_descriptor_s_1d(&node, DFTI_COMPLEX, 64), 0);
    node->queue = reinterpret_cast<sycl::queue*>(&storage);
    node->compute_fwd = [](DFTI_DESCRIPTOR*, void*, void*, std::vector<sycl::event>*, const dfti_data_kind*,
                           sycl::event*) { return 0; };
    node->queue_mode = 1;
    node->bkd = &bkd_terminal;
    EXPECT_EQ(ovx_DftiComputeForward_omp_offload(node, &storage, &interop, nullptr), 83);
    ::testing::internal::GetCapturedStderr();
    ::testing::internal::GetCapturedStdout();
    node->compute_fwd = nullptr;
    node->bkd = nullptr;
    node->queue = nullptr;
    dfti_free_descriptor(&node);
}

}  // namespace
