// The library exports every FFTW3 and offload entry under its C name, and
// none of its internal helpers.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "korami/ovx/dfti_omp_offload.h"

namespace {

bool from_library(const void* address) {
    Dl_info info{};
    return address && dladdr(address, &info) && info.dli_fname &&
           std::string(info.dli_fname).find("libkorami_ovx") != std::string::npos;
}

std::vector<std::string> expected_names() {
    std::vector<std::string> v;
    const char* c_kinds[] = {"dft", "dft_1d", "dft_2d", "dft_3d", "many_dft", "guru_dft", "guru64_dft"};
    for (const char* pre : {"fftwf_", "fftw_"}) {
        for (const char* k : c_kinds) {
            v.push_back(std::string(pre) + "plan_" + k + "_omp_offload");
            std::string real = k;
            for (const char* t : {"_r2c", "_c2r"}) {
                std::string name = real.find("dft") == 0 && real.size() > 3
                                       ? "dft" + std::string(t) + real.substr(3)
                                       : real + t;
                v.push_back(std::string(pre) + "plan_" + name + "_omp_offload");
            }
        }
        for (const char* e : {"execute", "execute_dft", "execute_dft_r2c", "execute_dft_c2r"})
            v.push_back(std::string(pre) + e + "_omp_offload");
    }
    const char* f_kinds[] = {"DFT", "DFT_1D", "DFT_2D", "DFT_3D", "DFT_R2C", "DFT_R2C_1D", "DFT_R2C_2D",
                             "DFT_R2C_3D", "DFT_C2R", "DFT_C2R_1D", "DFT_C2R_2D", "DFT_C2R_3D", "MANY_DFT",
                             "MANY_DFT_R2C", "MANY_DFT_C2R", "GURU_DFT", "GURU_DFT_R2C", "GURU_DFT_C2R"};
    for (const char* p : {"S", "D"}) {
        for (const char* k : f_kinds)
            for (const char* s : {"_CPU_LP64", "_CPU_ILP64", "_OMP_OFFLOAD_LP64", "_OMP_OFFLOAD_ILP64"})
                v.push_back(std::string(p) + "FFTW_PLAN_" + k + s);
        for (const char* e : {"EXECUTE_OMP_OFFLOAD", "EXECUTE_DFT_OMP_OFFLOAD", "EXECUTE_DFT_R2C_OMP_OFFLOAD",
                              "EXECUTE_DFT_C2R_OMP_OFFLOAD", "EXECUTE_DFT_CPU", "EXECUTE_DFT_R2C_CPU",
                              "EXECUTE_DFT_C2R_CPU"})
            v.push_back(std::string(p) + "FFTW_" + e);
    }
    for (const char* e : {"ovx_DftiCommitDescriptor_omp_offload", "ovx_dfti_commit_descriptor_external_omp_offload",
                          "ovx_DftiComputeForward_omp_offload", "ovx_DftiComputeBackward_omp_offload"})
        v.push_back(e);
    for (const char* t : {"c", "d", "s", "z", "cc", "dd", "dz", "sc", "ss", "zz", "dddd", "ssss"})
        v.push_back(std::string("ovx_dfti_compute_forward_") + t + "_omp_offload");
    for (const char* t : {"c", "d", "s", "z", "cc", "cs", "dd", "ss", "zd", "zz", "dddd", "ssss"})
        v.push_back(std::string("ovx_dfti_compute_backward_") + t + "_omp_offload");
    return v;
}

TEST(Exports, EveryEntryHasItsCName) {
    const auto names = expected_names();
    EXPECT_EQ(names.size(), 50u + 158u + 4u + 24u);
    for (const auto& name : names) EXPECT_TRUE(from_library(dlsym(RTLD_DEFAULT, name.c_str()))) << name;
    namespace g = korami::ovx::gpu;
    EXPECT_TRUE(from_library(reinterpret_cast<const void*>(&g::lookup_and_cache_qorel_context)));
    EXPECT_TRUE(from_library(reinterpret_cast<const void*>(&g::lookup_and_cache_qorel_queue)));
    EXPECT_TRUE(from_library(reinterpret_cast<const void*>(&g::lookup_and_cache_qorel_queue_and_context)));
}

TEST(Exports, HelpersHaveNoCName) {
    for (const char* name : {"fortran_plan_dft_helper", "fortran_plan_many_helper", "fortran_plan_guru_helper",
                             "fortran_plan_dft_nd_helper", "fftw_guru_plan_c2c", "fftw_guru_plan_r2c",
                             "fftw_guru_plan_c2r", "fftw_guru_plan_c2c_cpu", "fftw_plan_alloc",
                             "fftw_plan_dft_rowmajor", "load_omptarget"})
        EXPECT_EQ(dlsym(RTLD_DEFAULT, name), nullptr) << name;
}

}  // namespace
