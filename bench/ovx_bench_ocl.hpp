// Other OpenCL FFT libraries on the machine's OpenCL device, for the
// benchmarks: clFFT (OVX_BENCH_CLFFT) and VkFFT (OVX_BENCH_VKFFT, OpenCL
// backend). Each runner plans one batched forward transform (complex
// interleaved or real to Hermitian, out of place for clFFT, in place for
// VkFFT) on device buffers; run() enqueues it and waits. Not part of the tests.
#ifndef OVX_BENCH_OVX_BENCH_OCL_HPP
#define OVX_BENCH_OVX_BENCH_OCL_HPP

#if defined(OVX_BENCH_CLFFT) || defined(OVX_BENCH_VKFFT)
#include <CL/cl.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>
#endif
#ifdef OVX_BENCH_CLFFT
#include <clFFT.h>
#endif
#ifdef OVX_BENCH_VKFFT
#include <vkFFT.h>
#endif

namespace ovx_bench {

#if defined(OVX_BENCH_CLFFT) || defined(OVX_BENCH_VKFFT)
// The machine's first OpenCL device, straight through the ICD loader.
struct cl_device_env {
    cl_platform_id platform{};
    cl_device_id device{};
    cl_context ctx{};
    cl_command_queue q{};
    bool ok = false;
    cl_device_env() {
        cl_uint n = 0;
        if (clGetPlatformIDs(1, &platform, &n) != CL_SUCCESS || n == 0) return;
        if (clGetDeviceIDs(platform, CL_DEVICE_TYPE_ALL, 1, &device, &n) != CL_SUCCESS || n == 0) return;
        cl_int e;
        ctx = clCreateContext(nullptr, 1, &device, nullptr, nullptr, &e);
        if (e != CL_SUCCESS) return;
        q = clCreateCommandQueueWithProperties(ctx, device, nullptr, &e);
        ok = e == CL_SUCCESS;
    }
    cl_device_env(const cl_device_env&) = delete;
    cl_device_env& operator=(const cl_device_env&) = delete;
};

inline cl_device_env& cl_env() {
    static cl_device_env e;
    return e;
}

// A batched transform: lengths (innermost last, row-major), contiguous
// transforms; a real transform's complex side keeps the outer lengths and
// n/2 + 1 of the innermost one.
struct ocl_shape {
    bool dbl = false;
    bool real = false;
    std::vector<std::size_t> lengths;
    std::size_t batch = 1;

    std::size_t points() const {
        std::size_t p = 1;
        for (std::size_t l : lengths) p *= l;
        return p;
    }
    // Complex points of one transform's Hermitian half (real transforms).
    std::size_t half_points() const {
        const std::size_t inner = lengths.empty() ? 1 : lengths.back();
        return inner ? points() / inner * (inner / 2 + 1) : 0;
    }
    std::size_t bytes(bool output) const {
        const std::size_t elem = dbl ? 8 : 4;
        if (real) return (output ? 2 * half_points() : points()) * elem * batch;
        return 2 * points() * elem * batch;
    }
};

// A runner is usable when `error` is empty.
struct ocl_runner_base {
    std::string error;
    cl_device_env& env = cl_env();
    ocl_runner_base() {
        if (!env.ok) error = "no OpenCL device";
    }
};
#endif

#ifdef OVX_BENCH_CLFFT
class clfft_runner : public ocl_runner_base {
public:
    explicit clfft_runner(const ocl_shape& s) {
        if (!error.empty()) return;
        if (!library().ok) {
            error = "clfftSetup failed";
            return;
        }
        const std::size_t dim = s.lengths.size();
        if (dim < 1 || dim > 3) {
            error = "shape not run here";
            return;
        }
        std::vector<std::size_t> len(s.lengths.rbegin(), s.lengths.rend());  // clFFT: innermost first
        const clfftDim d = dim == 1 ? CLFFT_1D : dim == 2 ? CLFFT_2D : CLFFT_3D;
        if (clfftCreateDefaultPlan(&plan_, env.ctx, d, len.data()) != CLFFT_SUCCESS) {
            error = "clfftCreateDefaultPlan failed";
            return;
        }
        has_plan_ = true;
        clfftSetPlanPrecision(plan_, s.dbl ? CLFFT_DOUBLE : CLFFT_SINGLE);
        clfftSetLayout(plan_, s.real ? CLFFT_REAL : CLFFT_COMPLEX_INTERLEAVED,
                       s.real ? CLFFT_HERMITIAN_INTERLEAVED : CLFFT_COMPLEX_INTERLEAVED);
        clfftSetResultLocation(plan_, CLFFT_OUTOFPLACE);
        clfftSetPlanBatchSize(plan_, s.batch);
        clfftSetPlanDistance(plan_, s.points(), s.real ? s.half_points() : s.points());
        if (s.real && dim > 1) {
            // Packed real rows in, packed Hermitian rows (n0/2 + 1) out.
            std::size_t in_st[3] = {1, 1, 1}, out_st[3] = {1, 1, 1};
            for (std::size_t k = 1; k < dim; ++k) {
                in_st[k] = in_st[k - 1] * len[k - 1];
                out_st[k] = out_st[k - 1] * (k == 1 ? len[0] / 2 + 1 : len[k - 1]);
            }
            clfftSetPlanInStride(plan_, d, in_st);
            clfftSetPlanOutStride(plan_, d, out_st);
        }
        if (clfftBakePlan(plan_, 1, &env.q, nullptr, nullptr) != CLFFT_SUCCESS) {
            error = "clfftBakePlan failed";
            return;
        }
        cl_int e1 = CL_SUCCESS, e2 = CL_SUCCESS;
        in_ = clCreateBuffer(env.ctx, CL_MEM_READ_WRITE, s.bytes(false), nullptr, &e1);
        out_ = clCreateBuffer(env.ctx, CL_MEM_READ_WRITE, s.bytes(true), nullptr, &e2);
        if (e1 != CL_SUCCESS || e2 != CL_SUCCESS) error = "clCreateBuffer failed";
    }
    ~clfft_runner() {
        if (in_) clReleaseMemObject(in_);
        if (out_) clReleaseMemObject(out_);
        if (has_plan_) clfftDestroyPlan(&plan_);
    }
    clfft_runner(const clfft_runner&) = delete;
    clfft_runner& operator=(const clfft_runner&) = delete;

    // One forward transform, waited for; false when clFFT refuses it.
    bool run() {
        if (clfftEnqueueTransform(plan_, CLFFT_FORWARD, 1, &env.q, 0, nullptr, nullptr, &in_, &out_, nullptr) !=
            CLFFT_SUCCESS)
            return false;
        return clFinish(env.q) == CL_SUCCESS;
    }

private:
    // Set up once for the process, so that the library keeps the programs it
    // compiled from one plan to the next.
    struct setup {
        bool ok = false;
        setup() {
            clfftSetupData d;
            clfftInitSetupData(&d);
            ok = clfftSetup(&d) == CLFFT_SUCCESS;
        }
        ~setup() {
            if (ok) clfftTeardown();
        }
    };
    static setup& library() {
        static setup s;
        return s;
    }

    clfftPlanHandle plan_{};
    bool has_plan_ = false;
    cl_mem in_ = nullptr, out_ = nullptr;
};
#endif

#ifdef OVX_BENCH_VKFFT
class vkfft_runner : public ocl_runner_base {
public:
    explicit vkfft_runner(const ocl_shape& s) {
        if (!error.empty()) return;
        const std::size_t dim = s.lengths.size();
        if (dim < 1 || dim > 3) {
            error = "shape not run here";
            return;
        }
        // In place: a real transform's rows are padded to the Hermitian half.
        std::size_t bytes = std::max(s.bytes(false), s.bytes(true));
        cl_int e = CL_SUCCESS;
        buf_ = clCreateBuffer(env.ctx, CL_MEM_READ_WRITE, bytes, nullptr, &e);
        if (e != CL_SUCCESS) {
            buf_ = nullptr;
            error = "clCreateBuffer failed";
            return;
        }
        size_ = bytes;
        VkFFTConfiguration conf = {};
        conf.FFTdim = dim;
        for (std::size_t k = 0; k < dim; ++k) conf.size[k] = s.lengths[dim - 1 - k];  // innermost first
        conf.numberBatches = s.batch;
        conf.doublePrecision = s.dbl ? 1 : 0;
        conf.performR2C = s.real ? 1 : 0;
        conf.platform = &env.platform;
        conf.device = &env.device;
        conf.context = &env.ctx;
        conf.buffer = &buf_;
        conf.bufferSize = &size_;
        const VkFFTResult r = initializeVkFFT(&app_, conf);
        if (r != VKFFT_SUCCESS) {
            error = "initializeVkFFT failed (" + std::to_string(static_cast<int>(r)) + ")";
            return;
        }
        has_app_ = true;
    }
    ~vkfft_runner() {
        if (has_app_) deleteVkFFT(&app_);
        if (buf_) clReleaseMemObject(buf_);
    }
    vkfft_runner(const vkfft_runner&) = delete;
    vkfft_runner& operator=(const vkfft_runner&) = delete;

    bool run() {
        VkFFTLaunchParams lp = {};
        lp.commandQueue = &env.q;
        lp.buffer = &buf_;
        if (VkFFTAppend(&app_, -1, &lp) != VKFFT_SUCCESS) return false;
        return clFinish(env.q) == CL_SUCCESS;
    }

private:
    VkFFTApplication app_ = {};
    bool has_app_ = false;
    cl_mem buf_ = nullptr;
    std::uint64_t size_ = 0;
};
#endif

}  // namespace ovx_bench

#endif
