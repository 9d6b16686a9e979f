// OpenCL entry lookup: only through a library already loaded in the
// process, mapped here to a stub that exports clBuildProgram alone.
#include <gtest/gtest.h>
#include <ovxplat/win32_map.h>
#include <windows.h>

#include "vasm/vasm_errors.hpp"

using namespace korami::ovx::vasm;

namespace {

int status_of(const char* name) {
    try {
        get_opencl_entry(name);
    } catch (const opencl_error& e) {
        return e.status;
    }
    return 0;
}

}  // namespace

// One test: the order matters (before and after the module is loaded).
TEST(OpenCLEntry, LooksUpOnlyInTheLoadedLibrary) {
    ASSERT_EQ(ovxplat_win32_map_set("OpenCL.dll", VASM_TEST_STUB_PATH), 0);
    // Not loaded yet: refused, and the lookup must not load it.
    EXPECT_EQ(status_of("clBuildProgram"), -1001);
    EXPECT_EQ(GetModuleHandleA("OpenCL.dll"), nullptr);
    try {
        get_opencl_entry("clBuildProgram");
        FAIL() << "expected opencl_error";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "An OpenCL error occurred: -1001");
    }

    HMODULE m = LoadLibraryExA("OpenCL.dll", nullptr, 0);
    ASSERT_NE(m, nullptr);
    void* entry = get_opencl_entry("clBuildProgram");
    ASSERT_NE(entry, nullptr);
    using build_fn = int (*)(void*, unsigned, const void*, const char*, void (*)(void*, void*), void*);
    EXPECT_EQ(reinterpret_cast<build_fn>(entry)(nullptr, 0, nullptr, nullptr, nullptr, nullptr), 0);
    // A symbol the library lacks, and a null name.
    EXPECT_EQ(status_of("clCreateProgramWithBinary"), -1001);
    EXPECT_EQ(status_of(nullptr), -1001);
    FreeLibrary(m);
    ovxplat_win32_map_reset();
}
