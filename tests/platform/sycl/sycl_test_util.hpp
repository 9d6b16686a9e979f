// Helpers shared by the SYCL stand-in's tests.
#pragma once

#include <gtest/gtest.h>
#include <sycl/sycl.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <string>
#include <utility>

namespace {

// The error code of the sycl::exception that `f` throws (success when none),
// and optionally its text.
template <typename F>
sycl::errc error_of(F&& f, std::string* what = nullptr) {
    try {
        f();
    } catch (const sycl::exception& e) {
        if (what) *what = e.what();
        EXPECT_EQ(&e.category(), &sycl::sycl_category());
        return static_cast<sycl::errc>(e.code().value());
    }
    return sycl::errc::success;
}

// A SYCL kernel of the GPU context `ctx` made from kernel `name` of the built
// OpenCL program `prog` (the SYCL kernel holds its own reference).
inline sycl::kernel make_opencl_kernel(cl_program prog, const char* name, const sycl::context& ctx) {
    cl_int err = CL_SUCCESS;
    cl_kernel k = clCreateKernel(prog, name, &err);
    EXPECT_EQ(err, CL_SUCCESS) << "kernel " << name;
    auto sk = sycl::make_kernel<sycl::backend::opencl>(k, ctx);
    clReleaseKernel(k);
    return sk;
}

// Runs `f` on another thread and fails when it has not returned within
// `limit`. A thread that never returns may hold the runtime's locks, which
// the remaining tests would then wait for forever: the process ends at once.
template <typename F>
void finishes_within(std::chrono::seconds limit, F&& f, const char* what) {
    auto done = std::async(std::launch::async, std::forward<F>(f));
    if (done.wait_for(limit) == std::future_status::ready) {
        done.get();
        return;
    }
    ADD_FAILURE() << what << " did not finish within " << limit.count() << " s";
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(1);
}

template <typename F>
std::pair<sycl::errc, std::string> error_and_text(F&& f) {
    std::string what;
    const sycl::errc c = error_of(std::forward<F>(f), &what);
    return {c, what};
}

}  // namespace
