// Run-time loader of the OpenCL entry points the library calls.
//
// OpenCL is reached only through the Windows layer: on the first use the
// module "OpenCL.dll" is loaded (LoadLibraryExA, which takes a reference on
// the module when the process has it already) and every entry point below is
// resolved at once, under a lock. A missing module or entry point is
// reported, never called.
#ifndef OVX_GPU_OVX_OPENCL_HPP
#define OVX_GPU_OVX_OPENCL_HPP

#ifndef CL_TARGET_OPENCL_VERSION
#define CL_TARGET_OPENCL_VERSION 300
#endif
#include <CL/cl.h>

#include <string>

namespace korami {
namespace ovx {
namespace gpu {
namespace ocl {

// X-macro list of the entry points; their types are those of <CL/cl.h>.
#define OVX_OPENCL_ENTRIES(X)   \
    X(clGetDeviceInfo)          \
    X(clRetainContext)          \
    X(clReleaseContext)         \
    X(clCreateProgramWithSource) \
    X(clCreateProgramWithBinary) \
    X(clBuildProgram)           \
    X(clGetProgramBuildInfo)    \
    X(clReleaseProgram)         \
    X(clCreateKernel)           \
    X(clReleaseKernel)

struct entries {
#define OVX_OPENCL_FIELD(name) decltype(&::name) name;
    OVX_OPENCL_ENTRIES(OVX_OPENCL_FIELD)
#undef OVX_OPENCL_FIELD
};

// Name of the module that provides OpenCL.
extern const char* const module_name;

// The resolved entry points, loading the module on the first call. Null when
// the module cannot be loaded or an entry point is missing; *error (when not
// null) then receives a message naming the module or the entry point. A
// failed load is not remembered: the next call tries again.
const entries* load(std::string* error);

// Number of successful loads so far (0 or 1 until the library unloads).
int load_count();

}  // namespace ocl
}  // namespace gpu
}  // namespace ovx
}  // namespace korami

#endif
