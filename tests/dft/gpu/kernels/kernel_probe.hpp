// Small OpenCL harness for the stored kernel texts (the backends' kernels and
// the generated transform functions): builds a text with build options on
// the first OpenCL device (through the OpenCL layer, so sub-group kernels run
// under its emulation), runs kernels on host-prepared buffers and reads them
// back. Programs are cached per (text, options) for the whole test binary.
// Also the device a probe needs and the interleaved host data of a probe.
#ifndef TESTS_DFT_GPU_KERNELS_KERNEL_PROBE_HPP
#define TESTS_DFT_GPU_KERNELS_KERNEL_PROBE_HPP

#include <CL/cl.h>

#include <complex>
#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "ovx_test_env.hpp"

namespace kernel_probe {

class cl_env {
public:
    static cl_env& get() {
        static cl_env env;
        return env;
    }
    bool ok() const { return ok_; }
    bool has_double() const { return fp64_; }
    cl_context context() const { return ctx_; }
    cl_command_queue queue() const { return q_; }

    // Builds the text with the options once for the whole test binary; throws
    // with the build log when it does not build.
    cl_program program(const std::string& text, const std::string& options) {
        const std::string key = options + '\x01' + text;
        auto it = programs_.find(key);
        if (it != programs_.end()) return it->second;
        cl_int err;
        const char* src = text.c_str();
        cl_program prog = clCreateProgramWithSource(ctx_, 1, &src, nullptr, &err);
        if (err != CL_SUCCESS) throw std::runtime_error("clCreateProgramWithSource");
        err = clBuildProgram(prog, 1, &dev_, options.c_str(), nullptr, nullptr);
        if (err != CL_SUCCESS) {
            size_t n = 0;
            clGetProgramBuildInfo(prog, dev_, CL_PROGRAM_BUILD_LOG, 0, nullptr, &n);
            std::string log(n, '\0');
            clGetProgramBuildInfo(prog, dev_, CL_PROGRAM_BUILD_LOG, n, &log[0], nullptr);
            clReleaseProgram(prog);
            throw std::runtime_error("build failed (" + options + "):\n" + log.substr(0, 4000));
        }
        return programs_[key] = prog;
    }

    cl_kernel kernel(const std::string& text, const std::string& options, const std::string& name) {
        cl_program prog = program(text, options);
        cl_int err;
        cl_kernel k = clCreateKernel(prog, name.c_str(), &err);
        if (err != CL_SUCCESS) throw std::runtime_error("clCreateKernel " + name);
        return k;
    }

private:
    cl_env() {
        cl_platform_id plat;
        cl_uint n = 0;
        if (clGetPlatformIDs(1, &plat, &n) != CL_SUCCESS || n == 0) return;
        if (clGetDeviceIDs(plat, CL_DEVICE_TYPE_ALL, 1, &dev_, &n) != CL_SUCCESS || n == 0) return;
        cl_int err;
        ctx_ = clCreateContext(nullptr, 1, &dev_, nullptr, nullptr, &err);
        if (err != CL_SUCCESS) return;
        q_ = clCreateCommandQueueWithProperties(ctx_, dev_, nullptr, &err);
        if (err != CL_SUCCESS) return;
        cl_device_fp_config fp = 0;
        clGetDeviceInfo(dev_, CL_DEVICE_DOUBLE_FP_CONFIG, sizeof fp, &fp, nullptr);
        fp64_ = fp != 0;
        ok_ = true;
    }
    ~cl_env() {
        for (auto& p : programs_) clReleaseProgram(p.second);
        if (q_) clReleaseCommandQueue(q_);
        if (ctx_) clReleaseContext(ctx_);
    }
    bool ok_ = false, fp64_ = false;
    cl_device_id dev_{};
    cl_context ctx_{};
    cl_command_queue q_{};
    std::map<std::string, cl_program> programs_;
};

// A device buffer with host copy-in / copy-out.
class dev_buf {
public:
    explicit dev_buf(size_t bytes) : bytes_(bytes ? bytes : 1) {
        cl_int err;
        mem_ = clCreateBuffer(cl_env::get().context(), CL_MEM_READ_WRITE, bytes_, nullptr, &err);
        if (err != CL_SUCCESS) throw std::runtime_error("clCreateBuffer");
        std::vector<unsigned char> fill(bytes_, 0xff);  // garbage that shows up in unwritten results
        write(fill.data(), bytes_);
    }
    ~dev_buf() { clReleaseMemObject(mem_); }
    dev_buf(const dev_buf&) = delete;
    dev_buf& operator=(const dev_buf&) = delete;
    void write(const void* p, size_t n) {
        if (clEnqueueWriteBuffer(cl_env::get().queue(), mem_, CL_TRUE, 0, n, p, 0, nullptr, nullptr) != CL_SUCCESS)
            throw std::runtime_error("write");
    }
    void read(void* p, size_t n) const {
        if (clEnqueueReadBuffer(cl_env::get().queue(), mem_, CL_TRUE, 0, n, p, 0, nullptr, nullptr) != CL_SUCCESS)
            throw std::runtime_error("read");
    }
    template <class T>
    void write(const std::vector<T>& v) { write(v.data(), v.size() * sizeof(T)); }
    template <class T>
    std::vector<T> read_all() const {
        std::vector<T> v(bytes_ / sizeof(T));
        read(v.data(), v.size() * sizeof(T));
        return v;
    }
    cl_mem mem() const { return mem_; }

private:
    size_t bytes_;
    cl_mem mem_;
};

// Argument binding and launch.
struct launcher {
    cl_kernel k;
    explicit launcher(cl_kernel kk) : k(kk) {}
    ~launcher() { clReleaseKernel(k); }
    launcher& mem(cl_uint i, const dev_buf& b) {
        cl_mem m = b.mem();
        check(clSetKernelArg(k, i, sizeof m, &m));
        return *this;
    }
    launcher& local(cl_uint i, size_t bytes) {
        check(clSetKernelArg(k, i, bytes, nullptr));
        return *this;
    }
    launcher& i32(cl_uint i, int32_t v) {
        check(clSetKernelArg(k, i, sizeof v, &v));
        return *this;
    }
    void run(cl_uint dims, const size_t* global, const size_t* local) {
        check(clEnqueueNDRangeKernel(cl_env::get().queue(), k, dims, nullptr, global, local, 0, nullptr, nullptr));
        check(clFinish(cl_env::get().queue()));
    }
    static void check(cl_int e) {
        if (e != CL_SUCCESS) throw std::runtime_error("OpenCL error " + std::to_string(e));
    }
};

// ---- the device of a probe and its host data -----------------------------------------

constexpr long double pi_l = 3.141592653589793238462643383279502884L;

// Interleaved reals of complex values, in precision T.
template <class T>
std::vector<T> to_reals(const std::vector<std::complex<double>>& v) {
    std::vector<T> r(2 * v.size());
    for (std::size_t i = 0; i < v.size(); ++i) {
        r[2 * i] = static_cast<T>(v[i].real());
        r[2 * i + 1] = static_cast<T>(v[i].imag());
    }
    return r;
}

// `count` complex values from interleaved reals, from value `first`.
template <class T>
std::vector<std::complex<double>> from_reals(const std::vector<T>& r, std::size_t first, std::size_t count) {
    std::vector<std::complex<double>> v(count);
    for (std::size_t i = 0; i < count; ++i) v[i] = std::complex<double>(r[2 * (first + i)], r[2 * (first + i) + 1]);
    return v;
}

// The values rounded to the working precision, so that the reference sees
// the same input as the device (through an array of T: a conversion the
// compiler cannot fold away).
template <class T>
std::vector<std::complex<double>> rounded(const std::vector<std::complex<double>>& v) {
    return from_reals(to_reals<T>(v), 0, v.size());
}

}  // namespace kernel_probe

// Returns from the test unless the OpenCL device is there (with double
// precision for a double-precision probe).
#define KERNEL_PROBE_REQUIRE_DEVICE(single)                                                             \
    do {                                                                                                \
        OVX_REQUIRE(kernel_probe::cl_env::get().ok(), "no usable OpenCL device");                       \
        OVX_REQUIRE((single) || kernel_probe::cl_env::get().has_double(),                               \
                    "the OpenCL device has no double precision");                                       \
    } while (0)

#endif
