// State of the stand-in OpenCL library of the probe tests.
#ifndef OVX_TESTS_VASM_TEST_VASM2_OPENCL_STUB_HPP
#define OVX_TESTS_VASM_TEST_VASM2_OPENCL_STUB_HPP

#include <cstdint>
#include <string>
#include <vector>

struct vasm2_stub_state {
    // Behaviour.
    int create_source_status = 0;
    bool create_source_null = false;              // null program with status 0
    bool create_source_program_on_error = false;  // a program despite a failure status
    int create_binary_status = 0;
    int build_source_status = 0;
    int build_binary_status = 0;
    int release_source_status = 0;
    int release_binary_status = 0;
    int info_status[4] = {0, 0, 0, 0};  // num devices, devices, sizes, binaries
    unsigned device_count = 1;
    void* devices[4] = {reinterpret_cast<void*>(0x1000), nullptr, nullptr, nullptr};
    std::vector<unsigned char> binaries[4];
    // What the entry points saw.
    int calls_create_source = 0, calls_create_binary = 0, calls_build_source = 0, calls_build_binary = 0;
    int calls_release_source = 0, calls_release_binary = 0, calls_info = 0;
    int live_programs = 0;
    std::string last_source, last_source_options, last_binary_options;
    std::vector<unsigned char> last_binary;
    unsigned last_binary_device_count = 0;
    void* last_binary_device = nullptr;
    bool last_binary_status_ptr_null = false;
    bool last_errcode_was_zero = false;
    bool notify_or_user_set = false;

    int opencl_calls() const {
        return calls_create_source + calls_create_binary + calls_build_source + calls_build_binary +
               calls_release_source + calls_release_binary + calls_info;
    }
};

extern "C" vasm2_stub_state* vasm2_stub();

#endif
