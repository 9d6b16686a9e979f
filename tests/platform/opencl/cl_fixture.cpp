#include "cl_fixture.hpp"

#include <ovxplat/profile.h>

#include <cstdlib>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

namespace ovxtest {

namespace {

cl_env* g_env = nullptr;
std::vector<cl_program>* g_programs = nullptr;

// Everything shared is released once all tests have run, so that the
// sanitizers see a clean exit.
class release_environment : public ::testing::Environment {
public:
    void TearDown() override {
        if (g_programs)
            for (cl_program p : *g_programs) clReleaseProgram(p);
        delete g_programs;
        g_programs = nullptr;
        release_env();
    }
};

const bool registered = (::testing::AddGlobalTestEnvironment(new release_environment), true);

}  // namespace

void release_at_end(cl_program p) {
    if (!g_programs) g_programs = new std::vector<cl_program>;
    g_programs->push_back(p);
}

void release_env() {
    if (!g_env) return;
    if (g_env->queue) clReleaseCommandQueue(g_env->queue);
    if (g_env->context) clReleaseContext(g_env->context);
    delete g_env;
    g_env = nullptr;
}

const cl_env& env() {
    static cl_env* e = g_env = [] {
        auto* r = new cl_env;
        cl_uint n = 0;
        if (clGetPlatformIDs(1, &r->platform, &n) != CL_SUCCESS || n == 0) return r;
        if (clGetDeviceIDs(r->platform, CL_DEVICE_TYPE_ALL, 1, &r->device, &n) != CL_SUCCESS || n == 0) {
            r->device = nullptr;
            return r;
        }
        cl_int err = CL_SUCCESS;
        r->context = clCreateContext(nullptr, 1, &r->device, nullptr, nullptr, &err);
        if (err != CL_SUCCESS) throw std::runtime_error("clCreateContext failed");
        r->queue = clCreateCommandQueueWithProperties(r->context, r->device, nullptr, &err);
        if (err != CL_SUCCESS) throw std::runtime_error("clCreateCommandQueueWithProperties failed");
        return r;
    }();
    return *e;
}

build_result build(const std::string& text, const char* options) {
    build_result r;
    const char* s = text.c_str();
    r.program = clCreateProgramWithSource(env().context, 1, &s, nullptr, &r.create_status);
    if (!r.program) return r;
    r.build_status = clBuildProgram(r.program, 1, &env().device, options, nullptr, nullptr);
    size_t n = 0;
    clGetProgramBuildInfo(r.program, env().device, CL_PROGRAM_BUILD_LOG, 0, nullptr, &n);
    std::string log(n, '\0');
    if (n) clGetProgramBuildInfo(r.program, env().device, CL_PROGRAM_BUILD_LOG, n, &log[0], nullptr);
    if (!log.empty() && log.back() == '\0') log.pop_back();
    r.log = log;
    return r;
}

cl_mem buffer(size_t bytes, const void* data) {
    cl_int err = CL_SUCCESS;
    cl_mem m = clCreateBuffer(env().context, CL_MEM_READ_WRITE | (data ? CL_MEM_COPY_HOST_PTR : 0), bytes,
                              const_cast<void*>(data), &err);
    if (err != CL_SUCCESS) throw std::runtime_error("clCreateBuffer failed");
    if (!data) {
        const unsigned char zero = 0;
        clEnqueueFillBuffer(env().queue, m, &zero, 1, 0, bytes, 0, nullptr, nullptr);
    }
    return m;
}

void read(cl_mem m, size_t bytes, void* out) {
    if (clEnqueueReadBuffer(env().queue, m, CL_TRUE, 0, bytes, out, 0, nullptr, nullptr) != CL_SUCCESS)
        throw std::runtime_error("clEnqueueReadBuffer failed");
}

profile_guard::profile_guard(const char* name) {
    previous = ovxplat_gpu_profile_current()->name;
    if (ovxplat_gpu_profile_select(name) != 0) throw std::runtime_error("no such profile");
}

profile_guard::~profile_guard() { ovxplat_gpu_profile_select(previous.c_str()); }

}  // namespace ovxtest
