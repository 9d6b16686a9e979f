// Carrier kernel text and its program binary.
#include "vasm/vasm_carrier.hpp"

#include <sstream>
#include <string>

namespace korami {
namespace ovx {
namespace vasm {

namespace {

const char* const value_type_names[16] = {"uint",  "int",   "ushort", "short",  "uchar",   "char",
                                          "double", "float", "ulong",  "long",   "half",    "ushort",
                                          "INVALID", "INVALID", "INVALID", "INVALID"};

using create_with_source_fn = cl_program(CL_API_CALL*)(cl_context, cl_uint, const char**, const size_t*, cl_int*);
using build_fn = cl_int(CL_API_CALL*)(cl_program, cl_uint, const cl_device_id*, const char*,
                                      void(CL_CALLBACK*)(cl_program, void*), void*);
using get_program_info_fn = cl_int(CL_API_CALL*)(cl_program, cl_program_info, size_t, void*, size_t*);
using release_fn = cl_int(CL_API_CALL*)(cl_program);

// Each entry is looked up once per process; a lookup that throws leaves its
// static uninitialised, so that the next use tries again.
create_with_source_fn entry_create() {
    static const create_with_source_fn f =
        reinterpret_cast<create_with_source_fn>(get_opencl_entry("clCreateProgramWithSource"));
    return f;
}
build_fn entry_build() {
    static const build_fn f = reinterpret_cast<build_fn>(get_opencl_entry("clBuildProgram"));
    return f;
}
get_program_info_fn entry_info() {
    static const get_program_info_fn f =
        reinterpret_cast<get_program_info_fn>(get_opencl_entry("clGetProgramInfo"));
    return f;
}
release_fn entry_release() {
    static const release_fn f = reinterpret_cast<release_fn>(get_opencl_entry("clReleaseProgram"));
    return f;
}

}  // namespace

void generate_dummy_cl(const kernel_interface& k, std::ostream& out) {
    if (!k.finalized) throw interface_not_finalized();
    if (k.has_location_overrides || !k.place_by_kind) throw unsupported_argument_location_override();
    std::ostringstream s;
    if (k.uses_fp16) s << "#pragma OPENCL EXTENSION cl_khr_fp16 : enable\n";
    if (k.uses_fp64) s << "#pragma OPENCL EXTENSION cl_khr_fp64 : enable\n";
    if (k.required_work_group_size[0] && k.required_work_group_size[1] && k.required_work_group_size[2])
        s << "__attribute__((reqd_work_group_size(" << k.required_work_group_size[0] << ','
          << k.required_work_group_size[1] << ',' << k.required_work_group_size[2] << ")))\n";
    if (k.walk_order[0] >= 0) {
        s << "__attribute__((tarvo_reqd_workgroup_walk_order(" << k.walk_order[0] << ',' << k.walk_order[1];
        if (k.walk_order[2] >= 0) s << ',' << k.walk_order[2];
        s << ")))\n";
    }
    s << "__attribute__((tarvo_reqd_sub_group_size(" << k.simd_size << ")))\n";
    s << "kernel void " << k.kernel_name << '(';
    bool first = true;
    for (const interface_argument& a : k.arguments) {
        if (a.kind == 3) continue;
        if (!first) s << ", ";
        first = false;
        if (a.kind == 0)
            s << value_type_names[a.type & 15] << ' ' << a.name;
        else if (a.kind == 1)
            s << "global uint *" << a.name;
        else if (a.kind == 2)
            s << "local uint *" << a.name;
    }
    s << ") {\n";
    s << "    global volatile int *____;\n";
    if (k.local_id_dimensions != 0) s << "    (void) ____[get_local_id(0)];\n";
    if (k.uses_local_size) s << "    (void) ____[get_enqueued_local_size(0)];\n";
    if (k.barrier_count > 0) {
        s << "    __asm__ volatile(\"barrier\");\n";
        for (int32_t i = 1; i < k.barrier_count; ++i) {
            s << "    local NamedBarrier_t *bar" << i << ";\n";
            s << "    bar" << i << " = named_barrier_init(1);\n";
            s << "    work_group_named_barrier(bar" << i << ", 0);\n";
        }
    }
    if (k.has_dpas) {
        s << "    int __builtin_QX_sub_group_idpas_s8_s8_8_1(int, int, int8) __attribute__((const));\n";
        s << "    int z = __builtin_QX_sub_group_idpas_s8_s8_8_1(0, ____[0], 1);\n";
        s << "    for (int i = 0; i < z; i++) (void) ____[0];\n";
    }
    if (k.has_global_atomics) s << "    atomic_inc(____);\n";
    if (k.scratch_size) s << "    volatile char scratch[" << k.scratch_size << "] = {0};\n";
    if (k.slm_size) s << "    volatile local char slm[" << k.slm_size << "]; slm[0]++;\n";
    if (k.disable_mid_thread_preemption && k.hardware_number == 1)
        s << "    volatile double *__df; *__df = 1.1 / *__df;\n";
    if (k.hardware_number >= 5)
        for (const interface_argument& a : k.arguments)
            if (a.kind == 1 && (a.model & 1)) s << "    __asm__ volatile(\"\" :: \"rw.u\"(" << a.name << "));\n";
    for (const interface_argument& a : k.arguments)
        if (a.kind == 1 && (a.model & 2))
            s << "    { volatile uchar __load = ((global uchar *) " << a.name << ")[get_local_id(0)];}\n";
    s << "}\n";
    out << s.str();
}

namespace {

// Releases the program on every way out of the build.
struct program_holder {
    cl_program program = nullptr;
    ~program_holder() {
        if (program) entry_release()(program);
    }
};

}  // namespace

std::vector<uint8_t> get_opencl_c_program_binary(cl_context context, cl_device_id device, const char* source,
                                                 const char* options) {
    // Look every entry up first, so that a missing entry point cannot strand
    // a program that has already been made.
    const create_with_source_fn create = entry_create();
    const build_fn build = entry_build();
    const get_program_info_fn info = entry_info();
    const release_fn release = entry_release();

    cl_int status = 0;
    const char* src = source;
    program_holder holder;
    holder.program = create(context, 1, &src, nullptr, &status);
    if (status != 0) {
        // A driver that reports a failure but still hands out a program:
        // the holder releases it.
        throw opencl_error(status);
    }
    if (!holder.program) throw opencl_error(0);
    cl_int r = build(holder.program, 1, &device, options, nullptr, nullptr);
    if (r != 0) throw opencl_error(r);

    cl_uint count = 0;
    r = info(holder.program, CL_PROGRAM_NUM_DEVICES, sizeof(count), &count, nullptr);
    if (r != 0) throw opencl_error(r);
    std::vector<cl_device_id> devices(count);
    r = info(holder.program, CL_PROGRAM_DEVICES, count * sizeof(cl_device_id), devices.data(), nullptr);
    if (r != 0) throw opencl_error(r);
    std::size_t pos = 0;
    while (pos < devices.size() && devices[pos] != device) ++pos;
    if (pos == devices.size()) throw opencl_error(0);
    std::vector<size_t> sizes(count);
    r = info(holder.program, CL_PROGRAM_BINARY_SIZES, count * sizeof(size_t), sizes.data(), nullptr);
    if (r != 0) throw opencl_error(r);
    std::vector<std::vector<unsigned char>> buffers(count);
    std::vector<unsigned char*> addresses(count);
    for (cl_uint i = 0; i < count; ++i) {
        buffers[i].resize(sizes[i]);
        addresses[i] = buffers[i].data();
    }
    r = info(holder.program, CL_PROGRAM_BINARIES, count * sizeof(unsigned char*), addresses.data(), nullptr);
    if (r != 0) throw opencl_error(r);
    cl_program program = holder.program;
    holder.program = nullptr;
    r = release(program);
    if (r != 0) throw opencl_error(r);
    return std::vector<uint8_t>(buffers[pos].begin(), buffers[pos].end());
}

}  // namespace vasm
}  // namespace ovx
}  // namespace korami
