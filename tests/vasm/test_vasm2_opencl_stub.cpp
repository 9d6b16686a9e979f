// Stand-in OpenCL library for the probe driver and carrier tests: the five
// program entry points, each with a status the test chooses, a record of what
// they were given and a count of live programs. Loaded as "OpenCL.dll"
// through the Windows layer's module map; the test reaches its state through
// the exported vasm2_stub().
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "test_vasm2_opencl_stub.hpp"

namespace {
vasm2_stub_state state;

struct program {
    bool from_binary;
};
}  // namespace

extern "C" {

__attribute__((visibility("default"))) vasm2_stub_state* vasm2_stub() { return &state; }

__attribute__((visibility("default"))) void* clCreateProgramWithSource(void* context, unsigned count,
                                                                      const char** strings, const size_t* lengths,
                                                                      int* errcode) {
    (void)context;
    (void)lengths;
    ++state.calls_create_source;
    state.last_source.assign(count && strings && strings[0] ? strings[0] : "");
    if (state.create_source_status != 0 || state.create_source_null) {
        if (errcode) *errcode = state.create_source_status;
        if (!state.create_source_program_on_error) return nullptr;
    } else if (errcode) {
        *errcode = 0;
    }
    ++state.live_programs;
    return new program{false};
}

__attribute__((visibility("default"))) void* clCreateProgramWithBinary(void* context, unsigned count,
                                                                      void* const* devices, const size_t* lengths,
                                                                      const unsigned char** binaries,
                                                                      int* binary_status, int* errcode) {
    (void)context;
    ++state.calls_create_binary;
    state.last_binary_device_count = count;
    state.last_binary_device = count ? devices[0] : nullptr;
    state.last_binary_status_ptr_null = binary_status == nullptr;
    state.last_errcode_was_zero = errcode && *errcode == 0;
    if (count && lengths && binaries && binaries[0]) state.last_binary.assign(binaries[0], binaries[0] + lengths[0]);
    if (errcode) *errcode = state.create_binary_status;
    if (state.create_binary_status != 0) return nullptr;
    ++state.live_programs;
    return new program{true};
}

__attribute__((visibility("default"))) int clBuildProgram(void* prog, unsigned count, void* const* devices,
                                                         const char* options, void (*notify)(void*, void*),
                                                         void* user) {
    (void)count;
    (void)devices;
    const program* p = static_cast<const program*>(prog);
    state.notify_or_user_set |= notify != nullptr || user != nullptr;
    if (p->from_binary) {
        ++state.calls_build_binary;
        state.last_binary_options.assign(options ? options : "(null)");
        return state.build_binary_status;
    }
    ++state.calls_build_source;
    state.last_source_options.assign(options ? options : "(null)");
    return state.build_source_status;
}

__attribute__((visibility("default"))) int clGetProgramInfo(void* prog, unsigned param, size_t size, void* value,
                                                           size_t* ret) {
    (void)prog;
    (void)ret;
    ++state.calls_info;
    const unsigned n = state.device_count;
    switch (param) {
        case 0x1162:
            if (state.info_status[0]) return state.info_status[0];
            if (size < 4) return -30;
            std::memcpy(value, &n, 4);
            return 0;
        case 0x1163:
            if (state.info_status[1]) return state.info_status[1];
            if (size < n * sizeof(void*)) return -30;
            for (unsigned i = 0; i < n; ++i) static_cast<void**>(value)[i] = state.devices[i];
            return 0;
        case 0x1165:
            if (state.info_status[2]) return state.info_status[2];
            if (size < n * sizeof(size_t)) return -30;
            for (unsigned i = 0; i < n; ++i) static_cast<size_t*>(value)[i] = state.binaries[i].size();
            return 0;
        case 0x1166:
            if (state.info_status[3]) return state.info_status[3];
            if (size < n * sizeof(void*)) return -30;
            for (unsigned i = 0; i < n; ++i) {
                unsigned char* dst = static_cast<unsigned char**>(value)[i];
                if (dst && !state.binaries[i].empty())
                    std::memcpy(dst, state.binaries[i].data(), state.binaries[i].size());
            }
            return 0;
        default: return -30;
    }
}

__attribute__((visibility("default"))) int clReleaseProgram(void* prog) {
    program* p = static_cast<program*>(prog);
    const bool from_binary = p->from_binary;
    delete p;
    --state.live_programs;
    if (from_binary) {
        ++state.calls_release_binary;
        return state.release_binary_status;
    }
    ++state.calls_release_source;
    return state.release_source_status;
}

}  // extern "C"
