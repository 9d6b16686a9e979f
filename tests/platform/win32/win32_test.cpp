// Windows layer: the module map, loads and lookups through it, a stub
// library in place of a vendor library, and the failure paths.
#include <gtest/gtest.h>

#include <windows.h>
#include <ovxplat/win32_map.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>
#include "ovx_test_env.hpp"

namespace {

const std::string kLibDir = OVX_TEST_LIB_DIR;
const char* const kStub = OVX_TEST_STUB_PATH;

std::string resolve(const char* name, int* kind) {
    char path[4096] = {0};
    *kind = ovxplat_win32_map_resolve(name, path, sizeof path);
    return path;
}

bool ends_with(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::string format_message(DWORD code) {
    char buf[256] = {0};
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                             MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buf, sizeof buf, nullptr);
    return std::string(buf, n);
}

class Win32 : public ::testing::Test {
protected:
    void SetUp() override {
        unsetenv("OVXPLAT_LIB_DIR");
        ovxplat_win32_map_reset();
    }
    void TearDown() override { ovxplat_win32_map_reset(); }
};

struct map_case {
    const char* name;
    int kind;            // 1 file, 0 absent, -1 not in the table
    const char* target;  // file name of the mapped shared object
};

class Win32Map : public Win32, public ::testing::WithParamInterface<map_case> {};

TEST_P(Win32Map, DefaultTable) {
    const map_case& c = GetParam();
    int kind = 99;
    std::string path = resolve(c.name, &kind);
    EXPECT_EQ(kind, c.kind) << c.name;
    if (c.kind == 1) EXPECT_EQ(path, kLibDir + "/" + c.target) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Names, Win32Map,
    ::testing::Values(map_case{"OpenCL.dll", 1, "libovxplat_opencl.so"},
                      map_case{"opencl.DLL", 1, "libovxplat_opencl.so"},
                      map_case{"OpenCL", 1, "libovxplat_opencl.so"},
                      map_case{"C:\\Windows\\System32\\OpenCL.dll", 1, "libovxplat_opencl.so"},
                      map_case{"ze_loader.dll", 0, nullptr},
                      map_case{"ovx_core.2.dll", 1, "libovxplat_serv.so"},
                      map_case{"ovx_pwk_thread.2.dll", 1, "libovxplat_cpudft.so"},
                      map_case{"nothing_of_ours.dll", -1, nullptr}),
    [](const auto& i) { return ovx_test::name(i.param.name); });

TEST_F(Win32, LibraryFolderIsTheLayersOwnOrTheOverride) {
    EXPECT_EQ(std::string(ovxplat_win32_library_dir()), kLibDir);
    setenv("OVXPLAT_LIB_DIR", "/some/where/", 1);
    EXPECT_EQ(std::string(ovxplat_win32_library_dir()), "/some/where");
    int kind = 0;
    EXPECT_EQ(resolve("OpenCL.dll", &kind), "/some/where/libovxplat_opencl.so");
    unsetenv("OVXPLAT_LIB_DIR");
}

TEST_F(Win32, LoadsTheOpenCLLayerAndFindsItsEntries) {
    HMODULE h = LoadLibraryExA("OpenCL.dll", nullptr, LOAD_LIBRARY_SAFE_CURRENT_DIRS);
    ASSERT_NE(h, nullptr) << GetLastError();
    EXPECT_NE(GetProcAddress(h, "clGetPlatformIDs"), nullptr);
    EXPECT_NE(GetProcAddress(h, "clBuildProgram"), nullptr);
    // Already loaded: found by name without a new reference.
    EXPECT_EQ(GetModuleHandleA("OpenCL.dll"), h);
    EXPECT_EQ(GetModuleHandleW(L"opencl.dll"), h);
    wchar_t wpath[1024];
    DWORD n = GetModuleFileNameW(h, wpath, 1024);
    ASSERT_GT(n, 0u);
    EXPECT_TRUE(ends_with(std::string(wpath, wpath + n), "/libovxplat_opencl.so"));
    HMODULE w = LoadLibraryExW(L"OpenCL.dll", nullptr, 0);
    EXPECT_EQ(w, h);
    EXPECT_TRUE(FreeLibrary(w));
    EXPECT_TRUE(FreeLibrary(h));
}

TEST_F(Win32, AbsentModuleReportsModuleNotFound) {
    SetLastError(0);
    EXPECT_EQ(LoadLibraryExA("ze_loader.dll", nullptr, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(GetModuleHandleA("ze_loader.dll"), nullptr);
    EXPECT_EQ(format_message(GetLastError()), "The specified module could not be found.\r\n");
    SetLastError(0);
    EXPECT_EQ(LoadLibraryExA("nothing_of_ours.dll", nullptr, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
}

TEST_F(Win32, StubLibraryInPlaceOfAVendorLibrary) {
    ASSERT_EQ(ovxplat_win32_map_set("OpenCL.dll", kStub), 0);
    int kind = 0;
    EXPECT_EQ(resolve("OpenCL.dll", &kind), kStub);
    EXPECT_EQ(kind, 1);
    // Not loaded yet under that name.
    EXPECT_EQ(GetModuleHandleA("OpenCL.dll"), nullptr);
    HMODULE h = LoadLibraryExW(L"OpenCL.dll", nullptr, LOAD_LIBRARY_SAFE_CURRENT_DIRS);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GetModuleHandleA("OpenCL.dll"), h);
    auto answer = reinterpret_cast<int (*)(void)>(GetProcAddress(h, "ovx_stub_answer"));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);
    // Data exports are found as well.
    EXPECT_EQ(*reinterpret_cast<int*>(GetProcAddress(h, "ovx_stub_data")), 7);
    // The stub lacks most entry points.
    SetLastError(0);
    EXPECT_EQ(GetProcAddress(h, "clCreateProgramWithBinary"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    EXPECT_EQ(format_message(GetLastError()), "The specified procedure could not be found.\r\n");
    // Lookups by ordinal do not exist.
    EXPECT_EQ(GetProcAddress(h, reinterpret_cast<LPCSTR>(uintptr_t(5))), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    EXPECT_TRUE(FreeLibrary(h));

    ovxplat_win32_map_reset();
    EXPECT_EQ(resolve("OpenCL.dll", &kind), kLibDir + "/libovxplat_opencl.so");
}

TEST_F(Win32, MissingLibraryFileAndModulesMadeAbsent) {
    ASSERT_EQ(ovxplat_win32_map_set("ovx_core.2.dll", "/nonexistent/libnothing.so"), 0);
    SetLastError(0);
    EXPECT_EQ(LoadLibraryExA("ovx_core.2.dll", nullptr, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    // A relative target is looked for in the library folder.
    ASSERT_EQ(ovxplat_win32_map_set("ovx_core.2", "libnothing_here.so"), 0);
    int kind = 0;
    EXPECT_EQ(resolve("ovx_core.2.dll", &kind), kLibDir + "/libnothing_here.so");
    EXPECT_EQ(LoadLibraryA("ovx_core.2.dll"), nullptr);
    ASSERT_EQ(ovxplat_win32_map_set("OpenCL.dll", nullptr), 0);
    EXPECT_EQ(resolve("OpenCL.dll", &kind), "");
    EXPECT_EQ(kind, 0);
    EXPECT_EQ(LoadLibraryExA("OpenCL.dll", nullptr, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    // Bad arguments.
    EXPECT_EQ(ovxplat_win32_map_set(nullptr, kStub), -1);
    EXPECT_EQ(ovxplat_win32_map_set("", kStub), -1);
    EXPECT_EQ(LoadLibraryExA(nullptr, nullptr, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    int dummy = 0;
    EXPECT_EQ(LoadLibraryExA("OpenCL.dll", &dummy, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    char small[4];
    EXPECT_EQ(ovxplat_win32_map_resolve("ovx_pwk_thread.2.dll", small, sizeof small), -2);
}

TEST_F(Win32, PathsAndSharedObjectNamesLoadAsGiven) {
    HMODULE h = LoadLibraryA(kStub);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GetModuleHandleA(kStub), h);
    EXPECT_NE(GetProcAddress(h, "ovx_stub_answer"), nullptr);
    EXPECT_TRUE(FreeLibrary(h));
    EXPECT_EQ(LoadLibraryA("/nonexistent/libx.so"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
}

int local_function() { return 1; }

TEST_F(Win32, ModuleOfAnAddressAndItsFileName) {
    HMODULE self = nullptr;
    ASSERT_TRUE(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                   reinterpret_cast<LPCWSTR>(&GetProcAddress), &self));
    ASSERT_NE(self, nullptr);
    wchar_t wpath[1024];
    DWORD n = GetModuleFileNameW(self, wpath, 1024);
    ASSERT_GT(n, 0u);
    std::string path(wpath, wpath + n);
    EXPECT_EQ(path, kLibDir + "/libovxplat_win32.so");

    // An address in the program itself gives the program.
    HMODULE prog = nullptr;
    ASSERT_TRUE(GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                   reinterpret_cast<LPCSTR>(&local_function), &prog));
    char a[1024], b[1024];
    DWORD na = GetModuleFileNameA(prog, a, sizeof a);
    DWORD nb = GetModuleFileNameA(nullptr, b, sizeof b);
    ASSERT_GT(na, 0u);
    EXPECT_EQ(std::string(a, na), std::string(b, nb));
    EXPECT_TRUE(ends_with(std::string(b, nb), "ovxplat_win32_test"));

    // With a reference taken, FreeLibrary gives it back.
    HMODULE counted = nullptr;
    ASSERT_TRUE(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&GetProcAddress),
                                   &counted));
    EXPECT_EQ(counted, self);
    EXPECT_TRUE(FreeLibrary(counted));

    // An address outside any module, and a missing output.
    HMODULE none = reinterpret_cast<HMODULE>(1);
    EXPECT_FALSE(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(uintptr_t(16)),
                                    &none));
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    EXPECT_FALSE(GetModuleHandleExW(0, L"OpenCL.dll", nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(Win32, FileNameTruncation) {
    char full[1024];
    DWORD n = GetModuleFileNameA(nullptr, full, sizeof full);
    ASSERT_GT(n, 5u);
    char small[6];
    SetLastError(0);
    EXPECT_EQ(GetModuleFileNameA(nullptr, small, sizeof small), DWORD(sizeof small));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(std::string(small), std::string(full, 5));
    wchar_t wsmall[3];
    EXPECT_EQ(GetModuleFileNameW(nullptr, wsmall, 3), 3u);
    EXPECT_EQ(wsmall[2], L'\0');
    EXPECT_EQ(GetModuleFileNameA(nullptr, small, 0), 0u);
}

TEST_F(Win32, NullModuleSearchesTheProcess) {
    EXPECT_NE(GetProcAddress(nullptr, "GetProcAddress"), nullptr);
    EXPECT_NE(GetModuleHandleA(nullptr), nullptr);
    EXPECT_EQ(GetProcAddress(nullptr, "no_such_symbol_anywhere_xyz"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
}

TEST_F(Win32, FormatMessageForms) {
    EXPECT_EQ(format_message(ERROR_MOD_NOT_FOUND), "The specified module could not be found.\r\n");
    EXPECT_EQ(format_message(12345), "Unknown error 12345.\r\n");
    char* block = nullptr;
    DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_PROC_NOT_FOUND,
                             0, reinterpret_cast<LPSTR>(&block), 0, nullptr);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(std::string(block, n), "The specified procedure could not be found.\r\n");
    EXPECT_EQ(LocalFree(block), nullptr);
    char tiny[8];
    EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_MOD_NOT_FOUND, 0, tiny, sizeof tiny, nullptr),
              0u);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    char buf[32];
    EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_STRING, "plain text", 0, 0, buf, sizeof buf, nullptr), 10u);
    EXPECT_STREQ(buf, "plain text");
    EXPECT_EQ(FormatMessageA(0, nullptr, 0, 0, buf, sizeof buf, nullptr), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(Win32, LastErrorIsPerThread) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    DWORD other = 1;
    std::thread t([&] { other = GetLastError(); });
    t.join();
    EXPECT_EQ(other, ERROR_SUCCESS);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
}

TEST_F(Win32, MapChangesWhileOtherThreadsResolve) {
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                if (t == 0) {
                    ovxplat_win32_map_set("ovx_probe_name.dll", (i & 1) ? kStub : nullptr);
                } else {
                    char path[4096];
                    int k = ovxplat_win32_map_resolve("ovx_probe_name.dll", path, sizeof path);
                    if (k == 1 && std::strcmp(path, kStub) != 0) ++wrong;
                    if (k < -1 || k > 1) ++wrong;
                }
            }
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
