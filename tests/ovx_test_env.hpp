// Requirements of a test on the machine. Without the piece a test needs, the
// test skips and says why; under CI=true it fails instead, so that a machine
// missing the piece cannot pass with the tests not run.
#ifndef OVX_TESTS_OVX_TEST_ENV_HPP
#define OVX_TESTS_OVX_TEST_ENV_HPP

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

namespace ovx_test {

// A test name from its parts: joined by '_', anything else than a letter or
// a digit turned into '_'.
template <class... P>
std::string name(const P&... parts) {
    std::ostringstream o;
    const char* sep = "";
    ((o << sep << parts, sep = "_"), ...);
    std::string s = o.str();
    for (char& c : s)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return s;
}

inline bool under_ci() {
    const char* v = std::getenv("CI");
    return v && std::strcmp(v, "true") == 0;
}

// Builds the programs made while it lives under the per-lane sub-group
// emulation of the stand-in OpenCL layer (one work-item per lane, as on a
// device with native sub-groups) instead of its lane-pair form.
class per_lane_builds {
public:
    explicit per_lane_builds(bool on = true) : on_(on) {
        if (on_) setenv("OVXPLAT_SG_LANE_PAIRS", "0", 1);
    }
    ~per_lane_builds() {
        if (on_) unsetenv("OVXPLAT_SG_LANE_PAIRS");
    }
    per_lane_builds(const per_lane_builds&) = delete;
    per_lane_builds& operator=(const per_lane_builds&) = delete;

private:
    bool on_;
};

}  // namespace ovx_test

// Returns from the test (or SetUp) unless `cond` holds.
#define OVX_REQUIRE(cond, why)                                                      \
    do {                                                                            \
        if (!(cond)) {                                                              \
            if (::ovx_test::under_ci()) GTEST_FAIL() << (why) << " (required under CI=true)"; \
            GTEST_SKIP() << (why);                                                  \
        }                                                                           \
    } while (0)

#endif
