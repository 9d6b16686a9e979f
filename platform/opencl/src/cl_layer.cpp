// OpenCL library of the platform: every entry point forwards to the
// machine's ICD loader (libOpenCL.so.1, opened with dlopen); a few add what
// the GPU maker's driver has:
//  - the device reports cl_tarvo_subgroups, the sub-group sizes of the
//    device profile in force (CL_DEVICE_SUB_GROUP_SIZES_TARVO) and the
//    profile's name, vendor, driver version and limits;
//  - a program text that enables cl_tarvo_subgroups is built with the
//    emulation prelude (tarvo_subgroups.cl) in front of it;
//  - the option -cl-tarvo-256-GRF-per-thread is accepted (and dropped, the
//    machine's compiler does not know it);
//  - on a profile without double precision, cl_khr_fp64 is not reported and
//    a program that uses double fails to build, with a log that says so;
//  - a program text that also declares TARVO_SG_PAIR_VOCABULARY runs one
//    work-item per lane pair: its launches have dimension 0 of the
//    work-group and of the global range halved, and its kernels report the
//    work-group sizes of the text (see SUBGROUPS.md).
#include <CL/cl.h>
#include <CL/cl_ext.h>
#include <CL/cl_gl.h>
#include <CL/cl_egl.h>

#include <dlfcn.h>
#include <pthread.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "ovxplat/cl_tarvo.h"
#include "ovxplat/profile.h"

extern "C" const char ovx_tsg_prelude[];

namespace {

bool ovx_cl_ready();

}  // namespace

extern "C" {
#include "cl_forward.inc"
}

namespace {

// ---- the machine's OpenCL ---------------------------------------------------

void* g_icd = nullptr;

// The machine's ICD loader; OVXPLAT_OPENCL_ICD names another library (a
// path or a shared-object name) to forward to instead.
void load_icd() {
    const char* env = std::getenv("OVXPLAT_OPENCL_ICD");
    const char* name = (env && *env) ? env : "libOpenCL.so.1";
    g_icd = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (!g_icd) {
        std::fprintf(stderr, "ovxplat OpenCL: cannot load %s: %s\n", name, dlerror());
        return;
    }
#define OVX_RESOLVE(n) next.n = reinterpret_cast<ovx_pfn_##n>(dlsym(g_icd, #n));
    OVX_CL_ENTRIES(OVX_RESOLVE)
#undef OVX_RESOLVE
}

bool ovx_cl_ready() {
    static std::once_flag once;
    std::call_once(once, load_icd);
    return g_icd != nullptr;
}

// ---- programs made by this layer --------------------------------------------

struct program_record {
    // The caller's text, as given; shared, so that the lookups made at every
    // launch copy a pointer rather than the whole text.
    std::shared_ptr<const std::string> source;
    bool emulated = false;
    bool no_fp64 = false;
    size_t max_wg = 0;    // work-group bound the emulation was sized for
    bool lane_pairs = false;  // one work-item per lane pair (dimension 0 halved)
};

// The registry lives until the library is unloaded (or the process ends,
// after every exit handler has run); a call after that finds nothing
// recorded and forwards as for any other program. The lock is a plain
// pthread mutex, which needs no destruction.
pthread_mutex_t g_programs_mu = PTHREAD_MUTEX_INITIALIZER;
std::unordered_map<cl_program, program_record>* g_programs = nullptr;

struct programs_lock {
    programs_lock() { pthread_mutex_lock(&g_programs_mu); }
    ~programs_lock() { pthread_mutex_unlock(&g_programs_mu); }
};

__attribute__((destructor)) void free_programs() {
    programs_lock g;
    delete g_programs;
    g_programs = nullptr;
}

void record_program(cl_program p, program_record rec) {
    programs_lock g;
    if (!g_programs) g_programs = new std::unordered_map<cl_program, program_record>;
    (*g_programs)[p] = std::move(rec);
}

void forget_program(cl_program p) {
    programs_lock g;
    if (g_programs) g_programs->erase(p);
}

// A program this layer did not record. The driver may hand out the address
// of a program it has freed; a record left from that program (the driver
// frees a program when its last kernel goes, which the layer does not see)
// must not apply to the new one.
cl_program unrecorded(cl_program p) {
    if (p) forget_program(p);
    return p;
}

bool find_program(cl_program p, program_record* out) {
    programs_lock g;
    if (!g_programs) return false;
    auto it = g_programs->find(p);
    if (it == g_programs->end()) return false;
    if (out) *out = it->second;
    return true;
}

// The record of the program a kernel belongs to, if this layer made it.
bool find_kernel_program(cl_kernel k, program_record* out) {
    cl_program p = nullptr;
    if (!k || next.clGetKernelInfo(k, CL_KERNEL_PROGRAM, sizeof p, &p, nullptr) != CL_SUCCESS) return false;
    return find_program(p, out);
}

bool is_ident_char(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// The text with its comments turned into spaces (line breaks kept), so that
// searches for the extension's names see code only. String and character
// literals are stepped over, so that a "//" inside one starts no comment.
std::string code_only(const std::string& s) {
    std::string out = s;
    size_t i = 0;
    while (i < out.size()) {
        const char c = out[i];
        if (c == '"' || c == '\'') {
            for (++i; i < out.size() && out[i] != c && out[i] != '\n'; ++i)
                if (out[i] == '\\') ++i;
            ++i;
        } else if (c == '/' && i + 1 < out.size() && out[i + 1] == '/') {
            for (; i < out.size() && out[i] != '\n'; ++i) out[i] = ' ';
        } else if (c == '/' && i + 1 < out.size() && out[i + 1] == '*') {
            size_t end = out.find("*/", i + 2);
            end = end == std::string::npos ? out.size() : end + 2;
            for (; i < end; ++i)
                if (out[i] != '\n') out[i] = ' ';
        } else {
            ++i;
        }
    }
    return out;
}

// Position of `name` as a whole identifier in `s` at or after `from`
// (cl_tarvo_subgroups_long is not cl_tarvo_subgroups), or npos.
size_t find_identifier(const std::string& s, const char* name, size_t from = 0) {
    const size_t n = std::strlen(name);
    for (size_t at = s.find(name, from); at != std::string::npos; at = s.find(name, at + 1)) {
        const bool starts = at == 0 || !is_ident_char(s[at - 1]);
        const bool ends = at + n == s.size() || !is_ident_char(s[at + n]);
        if (starts && ends) return at;
    }
    return std::string::npos;
}

// A text opts in to the lane-pair mode with a line
// "#define TARVO_SG_PAIR_VOCABULARY ..."; OVXPLAT_SG_LANE_PAIRS=0 keeps every
// text per lane (to compare the two modes).
bool wants_lane_pairs(const std::string& text) {
    const char* env = std::getenv("OVXPLAT_SG_LANE_PAIRS");
    if (env && std::strcmp(env, "0") == 0) return false;
    static const char k_mark[] = "TARVO_SG_PAIR_VOCABULARY";
    for (size_t at = find_identifier(text, k_mark); at != std::string::npos;
         at = find_identifier(text, k_mark, at + 1)) {
        size_t b = text.rfind('\n', at);
        b = b == std::string::npos ? 0 : b + 1;
        std::string head = text.substr(b, at - b);
        head.erase(std::remove_if(head.begin(), head.end(), [](char c) { return c == ' ' || c == '\t'; }),
                   head.end());
        if (head == "#define") return true;
    }
    return false;
}

// ---- helpers ---------------------------------------------------------------

cl_int put_info(const void* data, size_t n, size_t size, void* value, size_t* size_ret) {
    if (value) {
        if (size < n) return CL_INVALID_VALUE;
        std::memcpy(value, data, n);
    }
    if (size_ret) *size_ret = n;
    return CL_SUCCESS;
}

cl_int put_string(const std::string& s, size_t size, void* value, size_t* size_ret) {
    return put_info(s.c_str(), s.size() + 1, size, value, size_ret);
}

cl_int device_bytes(cl_device_id d, cl_device_info what, std::vector<char>* out) {
    size_t n = 0;
    cl_int e = next.clGetDeviceInfo(d, what, 0, nullptr, &n);
    if (e != CL_SUCCESS) return e;
    out->assign(n, 0);
    if (n == 0) return CL_SUCCESS;
    return next.clGetDeviceInfo(d, what, n, out->data(), nullptr);
}

template <class T>
cl_int device_value(cl_device_id d, cl_device_info what, T* v) {
    return next.clGetDeviceInfo(d, what, sizeof(T), v, nullptr);
}

std::vector<std::string> words(const std::string& s) {
    std::vector<std::string> w;
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n')) ++i;
        size_t j = i;
        while (j < s.size() && s[j] != ' ' && s[j] != '\t' && s[j] != '\n') ++j;
        if (j > i) w.push_back(s.substr(i, j - i));
        i = j;
    }
    return w;
}

const char k_ext[] = CL_TARVO_SUBGROUPS_EXTENSION_NAME;

bool drop_name(const char* name, bool no_fp64) {
    return no_fp64 && (std::strcmp(name, "cl_khr_fp64") == 0 || std::strcmp(name, "__opencl_c_fp64") == 0);
}

// Build options: the GPU maker's register-file option means nothing to the
// machine's compiler, which refuses unknown options, so it is removed; the
// rest of the text is kept as it is.
std::string filter_options(const char* options) {
    if (!options) return std::string();
    static const char drop[] = "-cl-tarvo-256-GRF-per-thread";
    const size_t n = sizeof drop - 1;
    std::string s(options);
    size_t pos = 0;
    while ((pos = s.find(drop, pos)) != std::string::npos) {
        bool start = pos == 0 || std::isspace(static_cast<unsigned char>(s[pos - 1]));
        bool end = pos + n == s.size() || std::isspace(static_cast<unsigned char>(s[pos + n]));
        if (start && end) s.replace(pos, n, std::string(n, ' '));
        else pos += n;
    }
    return s;
}

// Blanks "#pragma OPENCL EXTENSION cl_tarvo_subgroups : ..." lines (the
// machine's compiler would warn about an unknown extension); line and
// column numbers stay as they were.
void blank_extension_pragmas(std::string* text) {
    size_t pos = 0;
    while ((pos = text->find("cl_tarvo_subgroups", pos)) != std::string::npos) {
        size_t line_start = text->rfind('\n', pos);
        line_start = line_start == std::string::npos ? 0 : line_start + 1;
        size_t line_end = text->find('\n', pos);
        if (line_end == std::string::npos) line_end = text->size();
        std::vector<std::string> w = words(text->substr(line_start, line_end - line_start));
        // "#pragma" or "# pragma", then OPENCL EXTENSION cl_tarvo_subgroups[:] ...
        size_t k = 0;
        bool ok = false;
        if (k < w.size() && w[k] == "#") ++k;
        if (k < w.size() && (w[k] == "#pragma" || w[k] == "pragma")) {
            ++k;
            if (k + 1 < w.size() && w[k] == "OPENCL" && w[k + 1] == "EXTENSION") {
                k += 2;
                ok = k < w.size() && (w[k] == "cl_tarvo_subgroups" || w[k] == "cl_tarvo_subgroups:" ||
                                      w[k].rfind("cl_tarvo_subgroups:", 0) == 0);
            }
        }
        if (ok) {
            for (size_t i = line_start; i < line_end; ++i)
                if ((*text)[i] != '\r') (*text)[i] = ' ';
        }
        pos = line_end;
    }
}

const char k_no_double[] = "_tarvo_double_unsupported";

const char k_no_fp64_block[] =
    "#undef cl_khr_fp64\n"
    "#undef __opencl_c_fp64\n"
    "#define double _tarvo_double_unsupported\n"
    "#define double2 _tarvo_double_unsupported\n"
    "#define double3 _tarvo_double_unsupported\n"
    "#define double4 _tarvo_double_unsupported\n"
    "#define double8 _tarvo_double_unsupported\n"
    "#define double16 _tarvo_double_unsupported\n";

// Rewrites the compiler's log as the driver would give it: a use of double
// on a device without it reads as the driver says it, the compiler's
// "<Spelling=...>" locations inside macros are dropped, and the device is
// called by the profile's name.
std::string rewrite_log(const std::string& log, const std::string& real_name, const char* shown_name) {
    std::string out;
    size_t i = 0;
    while (i < log.size()) {
        size_t e = log.find('\n', i);
        size_t stop = e == std::string::npos ? log.size() : e + 1;
        std::string line = log.substr(i, stop - i);
        i = stop;
        size_t sp;
        while ((sp = line.find(" <Spelling=")) != std::string::npos) {
            size_t close = line.find('>', sp);
            if (close == std::string::npos) break;
            line.erase(sp, close + 1 - sp);
        }
        if (line.find(k_no_double) != std::string::npos) {
            bool nl = !line.empty() && line.back() == '\n';
            // "error: <file>:L:C: message" or "<file>:L:C: error: message"
            size_t cut = std::string::npos;
            size_t err = line.find("error: ");
            if (err != std::string::npos) {
                if (err >= 2 && line.compare(err - 2, 2, ": ") == 0) {
                    cut = err + 7;
                } else {
                    size_t msg = line.find(": ", err + 7);
                    if (msg != std::string::npos) cut = msg + 2;
                }
            }
            line = cut != std::string::npos ? line.substr(0, cut) : std::string("error: ");
            line += "double type is not supported on this device";
            if (nl) line += '\n';
        }
        if (!real_name.empty() && shown_name) {
            size_t pos = 0;
            while ((pos = line.find(real_name, pos)) != std::string::npos) {
                line.replace(pos, real_name.size(), shown_name);
                pos += std::strlen(shown_name);
            }
        }
        out += line;
    }
    return out;
}

}  // namespace

// ---- entry points with additions --------------------------------------------

extern "C" {

CL_API_ENTRY cl_int CL_API_CALL clGetDeviceInfo(cl_device_id device, cl_device_info param_name,
                                                size_t param_value_size, void* param_value,
                                                size_t* param_value_size_ret) {
    if (!ovx_cl_ready() || !next.clGetDeviceInfo) return CL_INVALID_OPERATION;
    const ovxplat_gpu_profile* prof = ovxplat_gpu_profile_current();
    const bool no_fp64 = !prof->fp64;
    // Let the driver validate the device and the query first.
    size_t real_size = 0;
    cl_int e = next.clGetDeviceInfo(device, param_name, 0, nullptr, &real_size);
    if (param_name != CL_DEVICE_SUB_GROUP_SIZES_TARVO && e != CL_SUCCESS) return e;
    if (param_name == CL_DEVICE_SUB_GROUP_SIZES_TARVO) {
        cl_device_type t;
        e = device_value(device, CL_DEVICE_TYPE, &t);
        if (e != CL_SUCCESS) return e;
        std::vector<size_t> sizes;
        for (int i = 0; i < prof->subgroup_size_count && i < OVXPLAT_MAX_SUBGROUP_SIZES; ++i)
            sizes.push_back(static_cast<size_t>(prof->subgroup_sizes[i]));
        return put_info(sizes.data(), sizes.size() * sizeof(size_t), param_value_size, param_value,
                        param_value_size_ret);
    }
    switch (param_name) {
        case CL_DEVICE_EXTENSIONS: {
            std::vector<char> b;
            if ((e = device_bytes(device, param_name, &b)) != CL_SUCCESS) return e;
            std::string s;
            bool have = false;
            for (const std::string& w : words(std::string(b.data())))
                if (!drop_name(w.c_str(), no_fp64)) {
                    if (w == k_ext) have = true;
                    s += (s.empty() ? "" : " ") + w;
                }
            if (!have) s += (s.empty() ? "" : " ") + std::string(k_ext);
            return put_string(s, param_value_size, param_value, param_value_size_ret);
        }
        case CL_DEVICE_EXTENSIONS_WITH_VERSION:
        case CL_DEVICE_OPENCL_C_FEATURES: {
            std::vector<char> b;
            if ((e = device_bytes(device, param_name, &b)) != CL_SUCCESS) return e;
            std::vector<cl_name_version> v;
            const cl_name_version* in = reinterpret_cast<const cl_name_version*>(b.data());
            bool have = false;
            for (size_t i = 0; i < b.size() / sizeof(cl_name_version); ++i) {
                if (drop_name(in[i].name, no_fp64)) continue;
                if (std::strcmp(in[i].name, k_ext) == 0) have = true;
                v.push_back(in[i]);
            }
            if (param_name == CL_DEVICE_EXTENSIONS_WITH_VERSION && !have) {
                cl_name_version x{};
                x.version = CL_MAKE_VERSION(1, 0, 0);
                std::snprintf(x.name, sizeof x.name, "%s", k_ext);
                v.push_back(x);
            }
            return put_info(v.data(), v.size() * sizeof(cl_name_version), param_value_size, param_value,
                            param_value_size_ret);
        }
        case CL_DEVICE_DOUBLE_FP_CONFIG:
            if (no_fp64) {
                cl_device_fp_config none = 0;
                return put_info(&none, sizeof none, param_value_size, param_value, param_value_size_ret);
            }
            break;
        case CL_DEVICE_PREFERRED_VECTOR_WIDTH_DOUBLE:
        case CL_DEVICE_NATIVE_VECTOR_WIDTH_DOUBLE:
            if (no_fp64) {
                cl_uint none = 0;
                return put_info(&none, sizeof none, param_value_size, param_value, param_value_size_ret);
            }
            break;
        case CL_DEVICE_NAME:
            return put_string(prof->device_name, param_value_size, param_value, param_value_size_ret);
        case CL_DEVICE_VENDOR:
            return put_string(prof->vendor, param_value_size, param_value, param_value_size_ret);
        case CL_DRIVER_VERSION:
            return put_string(prof->driver_version, param_value_size, param_value, param_value_size_ret);
        case CL_DEVICE_MAX_WORK_GROUP_SIZE: {
            size_t real = 0;
            if ((e = device_value(device, param_name, &real)) != CL_SUCCESS) return e;
            size_t v = std::min<size_t>(real, prof->max_work_group_size);
            return put_info(&v, sizeof v, param_value_size, param_value, param_value_size_ret);
        }
        case CL_DEVICE_MAX_WORK_ITEM_SIZES: {
            std::vector<char> b;
            if ((e = device_bytes(device, param_name, &b)) != CL_SUCCESS) return e;
            size_t* s = reinterpret_cast<size_t*>(b.data());
            for (size_t i = 0; i < b.size() / sizeof(size_t); ++i)
                s[i] = std::min<size_t>(s[i], prof->max_work_group_size);
            return put_info(b.data(), b.size(), param_value_size, param_value, param_value_size_ret);
        }
        case CL_DEVICE_LOCAL_MEM_SIZE: {
            cl_ulong real = 0;
            if ((e = device_value(device, param_name, &real)) != CL_SUCCESS) return e;
            cl_ulong v = std::min<cl_ulong>(real, prof->local_mem_size);
            return put_info(&v, sizeof v, param_value_size, param_value, param_value_size_ret);
        }
        default:
            break;
    }
    return next.clGetDeviceInfo(device, param_name, param_value_size, param_value, param_value_size_ret);
}

CL_API_ENTRY cl_program CL_API_CALL clCreateProgramWithSource(cl_context context, cl_uint count,
                                                              const char** strings, const size_t* lengths,
                                                              cl_int* errcode_ret) {
    if (!ovx_cl_ready() || !next.clCreateProgramWithSource) {
        if (errcode_ret) *errcode_ret = CL_INVALID_OPERATION;
        return nullptr;
    }
    if (count == 0 || !strings) {
        if (errcode_ret) *errcode_ret = CL_INVALID_VALUE;
        return nullptr;
    }
    std::string text;
    for (cl_uint i = 0; i < count; ++i) {
        if (!strings[i]) {
            if (errcode_ret) *errcode_ret = CL_INVALID_VALUE;
            return nullptr;
        }
        if (lengths && lengths[i]) text.append(strings[i], lengths[i]);
        else text.append(strings[i]);
    }
    const ovxplat_gpu_profile* prof = ovxplat_gpu_profile_current();
    program_record rec;
    const std::string code = code_only(text);
    rec.emulated = find_identifier(code, "cl_tarvo_subgroups") != std::string::npos;
    rec.no_fp64 = !prof->fp64;
    rec.max_wg = static_cast<size_t>(prof->max_work_group_size);
    rec.lane_pairs = rec.emulated && wants_lane_pairs(code);
    if (!rec.emulated && !rec.no_fp64)
        return unrecorded(next.clCreateProgramWithSource(context, count, strings, lengths, errcode_ret));

    std::string full;
    if (rec.emulated) {
        char head[200];
        std::snprintf(head, sizeof head, "#define TARVO_SG_MAX_WG %zu\n%s%s#line 1 \"cl_tarvo_subgroups.h\"\n",
                      rec.max_wg, rec.no_fp64 ? "#define _TSG_NO_FP64 1\n" : "",
                      rec.lane_pairs ? "#define TARVO_SG_LANE_PAIR 1\n" : "");
        full += head;
        full += ovx_tsg_prelude;
        full += "\n";
    }
    if (rec.no_fp64) full += k_no_fp64_block;
    full += "#line 1 \"source\"\n";
    std::string body = text;
    if (rec.emulated) blank_extension_pragmas(&body);
    full += body;
    const char* s = full.c_str();
    size_t len = full.size();
    cl_int e = CL_SUCCESS;
    cl_program p = next.clCreateProgramWithSource(context, 1, &s, &len, &e);
    if (errcode_ret) *errcode_ret = e;
    if (p) {
        rec.source = std::make_shared<const std::string>(std::move(text));
        record_program(p, std::move(rec));
    }
    return p;
}

CL_API_ENTRY cl_program CL_API_CALL clCreateProgramWithBinary(cl_context context, cl_uint num_devices,
                                                              const cl_device_id* device_list, const size_t* lengths,
                                                              const unsigned char** binaries, cl_int* binary_status,
                                                              cl_int* errcode_ret) {
    if (!ovx_cl_ready() || !next.clCreateProgramWithBinary) {
        if (errcode_ret) *errcode_ret = CL_INVALID_OPERATION;
        return nullptr;
    }
    return unrecorded(next.clCreateProgramWithBinary(context, num_devices, device_list, lengths, binaries,
                                                     binary_status, errcode_ret));
}

CL_API_ENTRY cl_program CL_API_CALL clCreateProgramWithIL(cl_context context, const void* il, size_t length,
                                                          cl_int* errcode_ret) {
    if (!ovx_cl_ready() || !next.clCreateProgramWithIL) {
        if (errcode_ret) *errcode_ret = CL_INVALID_OPERATION;
        return nullptr;
    }
    return unrecorded(next.clCreateProgramWithIL(context, il, length, errcode_ret));
}

CL_API_ENTRY cl_program CL_API_CALL clCreateProgramWithBuiltInKernels(cl_context context, cl_uint num_devices,
                                                                      const cl_device_id* device_list,
                                                                      const char* kernel_names, cl_int* errcode_ret) {
    if (!ovx_cl_ready() || !next.clCreateProgramWithBuiltInKernels) {
        if (errcode_ret) *errcode_ret = CL_INVALID_OPERATION;
        return nullptr;
    }
    return unrecorded(next.clCreateProgramWithBuiltInKernels(context, num_devices, device_list, kernel_names,
                                                             errcode_ret));
}

CL_API_ENTRY cl_int CL_API_CALL clBuildProgram(cl_program program, cl_uint num_devices, const cl_device_id* device_list,
                                               const char* options,
                                               void(CL_CALLBACK* pfn_notify)(cl_program program, void* user_data),
                                               void* user_data) {
    if (!ovx_cl_ready() || !next.clBuildProgram) return CL_INVALID_OPERATION;
    std::string o = filter_options(options);
    return next.clBuildProgram(program, num_devices, device_list, options ? o.c_str() : nullptr, pfn_notify,
                               user_data);
}

CL_API_ENTRY cl_int CL_API_CALL clCompileProgram(cl_program program, cl_uint num_devices,
                                                 const cl_device_id* device_list, const char* options,
                                                 cl_uint num_input_headers, const cl_program* input_headers,
                                                 const char** header_include_names,
                                                 void(CL_CALLBACK* pfn_notify)(cl_program program, void* user_data),
                                                 void* user_data) {
    if (!ovx_cl_ready() || !next.clCompileProgram) return CL_INVALID_OPERATION;
    std::string o = filter_options(options);
    return next.clCompileProgram(program, num_devices, device_list, options ? o.c_str() : nullptr,
                                 num_input_headers, input_headers, header_include_names, pfn_notify, user_data);
}

CL_API_ENTRY cl_program CL_API_CALL clLinkProgram(cl_context context, cl_uint num_devices,
                                                  const cl_device_id* device_list, const char* options,
                                                  cl_uint num_input_programs, const cl_program* input_programs,
                                                  void(CL_CALLBACK* pfn_notify)(cl_program program, void* user_data),
                                                  void* user_data, cl_int* errcode_ret) {
    if (!ovx_cl_ready() || !next.clLinkProgram) {
        if (errcode_ret) *errcode_ret = CL_INVALID_OPERATION;
        return nullptr;
    }
    std::string o = filter_options(options);
    return unrecorded(next.clLinkProgram(context, num_devices, device_list, options ? o.c_str() : nullptr,
                                         num_input_programs, input_programs, pfn_notify, user_data, errcode_ret));
}

CL_API_ENTRY cl_int CL_API_CALL clGetProgramInfo(cl_program program, cl_program_info param_name,
                                                 size_t param_value_size, void* param_value,
                                                 size_t* param_value_size_ret) {
    if (!ovx_cl_ready() || !next.clGetProgramInfo) return CL_INVALID_OPERATION;
    if (param_name == CL_PROGRAM_SOURCE) {
        program_record rec;
        if (find_program(program, &rec)) {
            // Validate the handle with the driver, then give the caller's text.
            cl_uint refs = 0;
            cl_int e = next.clGetProgramInfo(program, CL_PROGRAM_REFERENCE_COUNT, sizeof refs, &refs, nullptr);
            if (e != CL_SUCCESS) return e;
            return put_string(rec.source ? *rec.source : std::string(), param_value_size, param_value, param_value_size_ret);
        }
    }
    return next.clGetProgramInfo(program, param_name, param_value_size, param_value, param_value_size_ret);
}

CL_API_ENTRY cl_int CL_API_CALL clGetProgramBuildInfo(cl_program program, cl_device_id device,
                                                      cl_program_build_info param_name, size_t param_value_size,
                                                      void* param_value, size_t* param_value_size_ret) {
    if (!ovx_cl_ready() || !next.clGetProgramBuildInfo) return CL_INVALID_OPERATION;
    if (param_name == CL_PROGRAM_BUILD_LOG) {
        size_t n = 0;
        cl_int e = next.clGetProgramBuildInfo(program, device, param_name, 0, nullptr, &n);
        if (e != CL_SUCCESS) return e;
        std::vector<char> b(n + 1, 0);
        if (n && (e = next.clGetProgramBuildInfo(program, device, param_name, n, b.data(), nullptr)) != CL_SUCCESS)
            return e;
        std::vector<char> name;
        std::string real_name;
        if (device_bytes(device, CL_DEVICE_NAME, &name) == CL_SUCCESS && !name.empty()) real_name = name.data();
        std::string log = rewrite_log(std::string(b.data()), real_name, ovxplat_gpu_profile_current()->device_name);
        return put_string(log, param_value_size, param_value, param_value_size_ret);
    }
    return next.clGetProgramBuildInfo(program, device, param_name, param_value_size, param_value,
                                      param_value_size_ret);
}

CL_API_ENTRY cl_int CL_API_CALL clReleaseProgram(cl_program program) {
    if (!ovx_cl_ready() || !next.clReleaseProgram) return CL_INVALID_OPERATION;
    cl_uint refs = 0;
    bool known = find_program(program, nullptr);
    if (known && next.clGetProgramInfo(program, CL_PROGRAM_REFERENCE_COUNT, sizeof refs, &refs, nullptr) != CL_SUCCESS)
        refs = 0;
    cl_int e = next.clReleaseProgram(program);
    if (e == CL_SUCCESS && known && refs == 1) forget_program(program);
    return e;
}

namespace {

// ---- kernel timing (OVXPLAT_KERNEL_PROFILE=1) -------------------------------
//
// Measures every kernel launch from the moment the device starts it to its
// completion (event callbacks, host clock) and prints one line per kernel
// name at exit: launches, total and mean milliseconds, the share of the total.
// PoCL's CPU device runs one command at a time, so the times add up.

struct kernel_times {
    std::uint64_t launches = 0;
    double total_ms = 0;
};

struct kernel_profile {
    std::mutex lock;
    std::unordered_map<std::string, kernel_times> by_name;
    ~kernel_profile() {
        std::vector<std::pair<std::string, kernel_times>> rows(by_name.begin(), by_name.end());
        if (rows.empty()) return;
        double all = 0;
        for (const auto& r : rows) all += r.second.total_ms;
        std::sort(rows.begin(), rows.end(),
                  [](const auto& a, const auto& b) { return a.second.total_ms > b.second.total_ms; });
        std::fprintf(stderr, "ovxplat kernel profile: %-48s %9s %12s %10s %6s\n", "kernel", "launches", "total ms",
                     "mean ms", "share");
        for (const auto& r : rows)
            std::fprintf(stderr, "ovxplat kernel profile: %-48s %9llu %12.3f %10.4f %5.1f%%\n", r.first.c_str(),
                         static_cast<unsigned long long>(r.second.launches), r.second.total_ms,
                         r.second.total_ms / static_cast<double>(r.second.launches),
                         all > 0 ? 100.0 * r.second.total_ms / all : 0.0);
    }
};

bool profiling_kernels() {
    static const bool on = [] {
        const char* e = std::getenv("OVXPLAT_KERNEL_PROFILE");
        return e && *e && std::strcmp(e, "0") != 0;
    }();
    return on;
}

kernel_profile& the_kernel_profile() {
    static kernel_profile p;
    return p;
}

struct launch_timing {
    std::string name;
    // Written by the running callback and read by the complete one, which
    // may run on another driver thread.
    std::atomic<std::chrono::steady_clock::rep> start{0};
    std::atomic<int> pending{2};  // callbacks still to come
    std::atomic<bool> recorded{false};
};

void CL_CALLBACK on_launch_state(cl_event, cl_int state, void* data) {
    auto* t = static_cast<launch_timing*>(data);
    if (state == CL_RUNNING) {
        t->start = std::chrono::steady_clock::now().time_since_epoch().count();
    } else if (state == CL_COMPLETE && !t->recorded.exchange(true)) {
        const std::chrono::steady_clock::duration took(std::chrono::steady_clock::now().time_since_epoch().count() -
                                                       t->start.load());
        const double ms = std::chrono::duration<double, std::milli>(took).count();
        kernel_profile& p = the_kernel_profile();
        std::lock_guard<std::mutex> g(p.lock);
        kernel_times& k = p.by_name[t->name];
        ++k.launches;
        k.total_ms += ms;
    }
    if (--t->pending == 0) delete t;
}

cl_int enqueue_ndrange(cl_command_queue command_queue, cl_kernel kernel, cl_uint work_dim,
                       const size_t* global_work_offset, const size_t* global_work_size,
                       const size_t* local_work_size, cl_uint num_events_in_wait_list,
                       const cl_event* event_wait_list, cl_event* event);

}  // namespace

CL_API_ENTRY cl_int CL_API_CALL clEnqueueNDRangeKernel(cl_command_queue command_queue, cl_kernel kernel,
                                                       cl_uint work_dim, const size_t* global_work_offset,
                                                       const size_t* global_work_size,
                                                       const size_t* local_work_size,
                                                       cl_uint num_events_in_wait_list,
                                                       const cl_event* event_wait_list, cl_event* event) {
    if (!profiling_kernels() || !kernel || !next.clSetEventCallback || !next.clGetKernelInfo)
        return enqueue_ndrange(command_queue, kernel, work_dim, global_work_offset, global_work_size,
                               local_work_size, num_events_in_wait_list, event_wait_list, event);
    cl_event own = nullptr;
    cl_int rc = enqueue_ndrange(command_queue, kernel, work_dim, global_work_offset, global_work_size,
                                local_work_size, num_events_in_wait_list, event_wait_list, &own);
    if (rc != CL_SUCCESS) return rc;
    char name[256] = {0};
    next.clGetKernelInfo(kernel, CL_KERNEL_FUNCTION_NAME, sizeof(name) - 1, name, nullptr);
    auto* t = new launch_timing;
    t->name = name;
    t->start = std::chrono::steady_clock::now().time_since_epoch().count();
    // The record goes with the last of its two callbacks; a callback that
    // cannot be registered counts as delivered (timing may be lost, never
    // the launch).
    if (next.clSetEventCallback(own, CL_RUNNING, &on_launch_state, t) != CL_SUCCESS) on_launch_state(own, 1, t);
    if (next.clSetEventCallback(own, CL_COMPLETE, &on_launch_state, t) != CL_SUCCESS) on_launch_state(own, 1, t);
    if (event)
        *event = own;
    else
        next.clReleaseEvent(own);
    return CL_SUCCESS;
}

namespace {

cl_int enqueue_ndrange(cl_command_queue command_queue, cl_kernel kernel, cl_uint work_dim,
                       const size_t* global_work_offset, const size_t* global_work_size,
                       const size_t* local_work_size, cl_uint num_events_in_wait_list,
                       const cl_event* event_wait_list, cl_event* event) {
    if (!ovx_cl_ready() || !next.clEnqueueNDRangeKernel) return CL_INVALID_OPERATION;
    program_record rec;
    if (work_dim < 1 || work_dim > 3 || !kernel || !global_work_size || !find_kernel_program(kernel, &rec) ||
        !rec.emulated)
        return next.clEnqueueNDRangeKernel(command_queue, kernel, work_dim, global_work_offset, global_work_size,
                                           local_work_size, num_events_in_wait_list, event_wait_list, event);
    // Without a work-group size the driver would choose one from its own
    // limit, which is larger than the emulation's exchange area holds: use
    // the size the kernel declares, and refuse a launch that declares none.
    size_t declared[3] = {0, 0, 0};
    if (!local_work_size) {
        cl_device_id device = nullptr;
        cl_int e = next.clGetCommandQueueInfo(command_queue, CL_QUEUE_DEVICE, sizeof device, &device, nullptr);
        if (e != CL_SUCCESS) return e;
        e = next.clGetKernelWorkGroupInfo(kernel, device, CL_KERNEL_COMPILE_WORK_GROUP_SIZE, sizeof declared,
                                          declared, nullptr);
        if (e != CL_SUCCESS) return e;
        for (cl_uint i = 0; i < work_dim; ++i)
            if (declared[i] == 0) return CL_INVALID_WORK_GROUP_SIZE;
        if (rec.lane_pairs) declared[0] *= 2;  // the text's lanes, as a caller would give them
        local_work_size = declared;
    }
    // The emulation's exchange area holds the profile's largest work-group:
    // refuse bigger ones as the device would.
    {
        size_t items = 1;
        for (cl_uint i = 0; i < work_dim; ++i) items *= local_work_size[i];
        if (items > rec.max_wg) return CL_INVALID_WORK_GROUP_SIZE;
    }
    if (!rec.lane_pairs)
        return next.clEnqueueNDRangeKernel(command_queue, kernel, work_dim, global_work_offset, global_work_size,
                                           local_work_size, num_events_in_wait_list, event_wait_list, event);
    // One work-item per lane pair: dimension 0 counts pairs.
    if (local_work_size && local_work_size[0] % 2 != 0) return CL_INVALID_WORK_GROUP_SIZE;
    if (global_work_size[0] % 2 != 0) return CL_INVALID_GLOBAL_WORK_SIZE;
    if (global_work_offset && global_work_offset[0] % 2 != 0) return CL_INVALID_GLOBAL_OFFSET;
    size_t g[3], l[3], o[3];
    for (cl_uint i = 0; i < work_dim; ++i) {
        g[i] = global_work_size[i];
        l[i] = local_work_size ? local_work_size[i] : 0;
        o[i] = global_work_offset ? global_work_offset[i] : 0;
    }
    g[0] /= 2;
    l[0] /= 2;
    o[0] /= 2;
    return next.clEnqueueNDRangeKernel(command_queue, kernel, work_dim, global_work_offset ? o : nullptr, g,
                                       local_work_size ? l : nullptr, num_events_in_wait_list, event_wait_list,
                                       event);
}

}  // namespace

// Kernels of a lane-pair program run half as many work-items along dimension
// 0 as the text declares; the sizes reported are the text's.
CL_API_ENTRY cl_int CL_API_CALL clGetKernelWorkGroupInfo(cl_kernel kernel, cl_device_id device,
                                                         cl_kernel_work_group_info param_name, size_t param_value_size,
                                                         void* param_value, size_t* param_value_size_ret) {
    if (!ovx_cl_ready() || !next.clGetKernelWorkGroupInfo) return CL_INVALID_OPERATION;
    program_record rec;
    const bool known = find_kernel_program(kernel, &rec);
    const bool pairs = known && rec.lane_pairs;
    if (pairs && param_name == CL_KERNEL_COMPILE_WORK_GROUP_SIZE) {
        size_t w[3] = {0, 0, 0};
        cl_int e = next.clGetKernelWorkGroupInfo(kernel, device, param_name, sizeof w, w, nullptr);
        if (e != CL_SUCCESS) return e;
        w[0] *= 2;
        return put_info(w, sizeof w, param_value_size, param_value, param_value_size_ret);
    }
    // Sizes of a lane-pair kernel count the text's lanes (twice the driver's
    // work-items); every emulated kernel is limited by the exchange area,
    // whatever the driver allows.
    const bool group_size = param_name == CL_KERNEL_WORK_GROUP_SIZE;
    if ((known && rec.emulated && group_size) ||
        (pairs && param_name == CL_KERNEL_PREFERRED_WORK_GROUP_SIZE_MULTIPLE)) {
        size_t v = 0;
        cl_int e = next.clGetKernelWorkGroupInfo(kernel, device, param_name, sizeof v, &v, nullptr);
        if (e != CL_SUCCESS) return e;
        if (pairs) v *= 2;
        if (group_size) v = std::min(v, rec.max_wg);
        return put_info(&v, sizeof v, param_value_size, param_value, param_value_size_ret);
    }
    return next.clGetKernelWorkGroupInfo(kernel, device, param_name, param_value_size, param_value,
                                         param_value_size_ret);
}

}  // extern "C"
