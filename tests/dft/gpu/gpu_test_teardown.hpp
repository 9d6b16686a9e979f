// End-of-run cleanup shared by the GPU backend test executables: once all
// tests have run, the OpenCL objects a test kept for the whole process and
// the library's global tables (kernel cache, device records) are released,
// so that no driver object is still alive when the process exits and the
// leak checker of a sanitizer build sees a clean exit.
#ifndef TESTS_DFT_GPU_GPU_TEST_TEARDOWN_HPP
#define TESTS_DFT_GPU_GPU_TEST_TEARDOWN_HPP

#include <functional>

namespace gpu_test {

// Runs `release` after the last test (newest registration first), before the
// library's tables are freed.
void release_at_end(std::function<void()> release);

}  // namespace gpu_test

#endif
