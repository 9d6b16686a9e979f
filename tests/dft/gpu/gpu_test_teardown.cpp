#include "dft/gpu/gpu_test_teardown.hpp"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

// Frees the library's kernel cache and device records; present only in the
// executables that link the library.
extern "C" void ovx_sycl_destructor(void) __attribute__((weak));

// Sanitizer options (ignored without the sanitizer):
// - use_sigaltstack=0: the OpenCL compiler installs its own alternate signal
//   stack on the threads that build programs; AddressSanitizer must leave the
//   alternate stacks alone, or it fails when such a thread ends.
// - intercept_tls_get_addr=0: the runtime's record of the dynamic TLS blocks
//   guesses a block's bounds from a header that this C library no longer
//   writes; when a block of the OpenCL compiler happens to sit 16 bytes past
//   a page boundary it records garbage bounds, and the leak checker's thread
//   scan then crashes at exit ("Tracer caught signal 11"). Without the
//   interception the blocks are ordinary heap blocks reached from each
//   thread's vector of TLS blocks, so nothing is lost to the leak check.
extern "C" const char* __asan_default_options() { return "use_sigaltstack=0:intercept_tls_get_addr=0"; }

namespace gpu_test {

namespace {

std::vector<std::function<void()>>& releases() {
    static auto* r = new std::vector<std::function<void()>>;
    return *r;
}

class teardown_environment : public ::testing::Environment {
public:
    void TearDown() override {
        std::vector<std::function<void()>>& r = releases();
        while (!r.empty()) {
            std::function<void()> f = std::move(r.back());
            r.pop_back();
            f();
        }
        if (ovx_sycl_destructor) ovx_sycl_destructor();
    }
};

const bool registered = (::testing::AddGlobalTestEnvironment(new teardown_environment), true);

}  // namespace

void release_at_end(std::function<void()> release) { releases().push_back(std::move(release)); }

}  // namespace gpu_test
