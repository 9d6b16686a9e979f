#include "dft/gpu/gpu_test_teardown.hpp"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

// Frees the library's kernel cache and device records; present only in the
// executables that link the library.
extern "C" void ovx_sycl_destructor(void) __attribute__((weak));

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
