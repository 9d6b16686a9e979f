// Shared OpenCL objects of the OpenCL layer's tests: one context and queue
// on the machine's device, reached through the layer.
#pragma once

#include <CL/cl.h>

#include <string>
#include <vector>

namespace ovxtest {

struct cl_env {
    cl_platform_id platform = nullptr;
    cl_device_id device = nullptr;
    cl_context context = nullptr;
    cl_command_queue queue = nullptr;
};

// The shared environment (created on first use; null device when the
// machine has no OpenCL device).
const cl_env& env();

struct build_result {
    cl_program program = nullptr;
    cl_int create_status = CL_SUCCESS;
    cl_int build_status = CL_SUCCESS;
    std::string log;
};

// Releases the shared queue and context (at the end of the test program).
void release_env();

// Registers a program to release at the end of the test program.
void release_at_end(cl_program p);

// Creates a program from `text` and builds it with `options`.
build_result build(const std::string& text, const char* options);

// Device buffer initialised from host data (or zeroed when data is null).
cl_mem buffer(size_t bytes, const void* data);
void read(cl_mem m, size_t bytes, void* out);

// Selects a device profile for the life of the object.
struct profile_guard {
    explicit profile_guard(const char* name);
    ~profile_guard();
    std::string previous;
};

}  // namespace ovxtest
