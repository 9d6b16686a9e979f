// Exception classes of the code generator: formatted messages and statuses.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "vasm/vasm_errors.hpp"

using namespace korami::ovx::vasm;

TEST(VasmErrors, OpenCLErrorMessageAndStatus) {
    // The status is printed in full, also at the ends of its range, and
    // survives a copy; every class is caught as a runtime error.
    for (int status : {-1001, INT_MIN}) {
        const opencl_error copy = opencl_error(status);
        EXPECT_EQ(std::string(copy.what()), "An OpenCL error occurred: " + std::to_string(status));
        EXPECT_EQ(copy.status, status);
    }
    const level_zero_error a(0x78000001), b(5);
    EXPECT_STREQ(a.what(), b.what());  // the status stays out of the message
    EXPECT_EQ(level_zero_error(a).status, 0x78000001);
    EXPECT_THROW(throw npack::invalid_checksum(), std::runtime_error);
}
