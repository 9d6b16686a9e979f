// Probe kernels of the sub-group emulation, run on the machine's device
// for sub-group sizes 8, 16 and 32 with four sub-groups per work-group and
// two work-groups per launch.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cl_fixture.hpp"
#include "ovx_test_env.hpp"

namespace {

using ovxtest::env;

const char* probe_text = R"CLC(
#pragma OPENCL EXTENSION cl_tarvo_subgroups : enable
#pragma OPENCL EXTENSION cl_khr_fp64 : enable
#ifndef TARVO_SG_EMULATION
#define TARVO_SG_KERNEL_SCRATCH(S)
#define TARVO_SG_PARAM
#define TARVO_SG_ARG
#endif

#define ATTRS __attribute__((reqd_work_group_size(WG, 1, 1))) __attribute__((tarvo_reqd_sub_group_size(SG)))

ATTRS __kernel void k_ids(__global uint* out) {
    TARVO_SG_KERNEL_SCRATCH(SG);
    size_t g = get_global_id(0);
    out[g * 5 + 0] = get_sub_group_local_id();
    out[g * 5 + 1] = get_sub_group_id();
    out[g * 5 + 2] = get_sub_group_size();
    out[g * 5 + 3] = get_max_sub_group_size();
    out[g * 5 + 4] = get_num_sub_groups();
}

/* Work-group of 4 x WG/4: lanes follow the linear local id. */
__attribute__((reqd_work_group_size(4, WG / 4, 1))) __attribute__((tarvo_reqd_sub_group_size(SG)))
__kernel void k_ids2d(__global uint* out) {
    TARVO_SG_KERNEL_SCRATCH(SG);
    size_t lin = get_local_id(0) + 4 * get_local_id(1);
    out[lin * 2 + 0] = get_sub_group_local_id();
    out[lin * 2 + 1] = get_sub_group_id();
}

/* A helper reaches the exchange area through the hidden parameter. */
float xor_helper(float x, uint m TARVO_SG_PARAM) { return tarvo_sub_group_shuffle_xor(x, m); }

#define REC_F 30
#define REC_I 31
ATTRS __kernel void k_shuffle(__global const float* fin, __global const double* din, __global const int* iin,
                              __global float* fout, __global double* dout, __global int* iout) {
    TARVO_SG_KERNEL_SCRATCH(SG);
    uint g = get_global_id(0);
    uint lane = get_sub_group_local_id();
    float f = fin[g];
    double d = din[g];
    int i = iin[g];
    float2 f2 = (float2)(f, f + 1000.0f);
    float4 f4 = (float4)(f, f + 1000.0f, f + 2000.0f, f + 3000.0f);
    float8 f8 = (float8)(f4, f4 + 4000.0f);
    double2 d2 = (double2)(d, d + 1000.0);
    double4 d4 = (double4)(d, d + 1000.0, d + 2000.0, d + 3000.0);
    double8 d8 = (double8)(d4, d4 + 4000.0);
    int2 i2 = (int2)(i, i + 1000);
    int4 i4 = (int4)(i, i + 1000, i + 2000, i + 3000);
    int8 i8 = (int8)(i4, i4 + 4000);
    /* One loop iteration makes 25 exchanges (an odd number). */
    for (uint m = 0; m < SG; ++m) {
        __global float* fo = fout + (g * SG + m) * REC_F;
        __global double* dO = dout + (g * SG + m) * REC_F;
        __global int* io = iout + (g * SG + m) * REC_I;
        fo[0] = xor_helper(f, m TARVO_SG_ARG);
        vstore2(tarvo_sub_group_shuffle_xor(f2, m), 0, fo + 1);
        vstore4(tarvo_sub_group_shuffle_xor(f4, m), 0, fo + 3);
        vstore8(tarvo_sub_group_shuffle_xor(f8, m), 0, fo + 7);
        dO[0] = tarvo_sub_group_shuffle_xor(d, m);
        vstore2(tarvo_sub_group_shuffle_xor(d2, m), 0, dO + 1);
        vstore4(tarvo_sub_group_shuffle_xor(d4, m), 0, dO + 3);
        vstore8(tarvo_sub_group_shuffle_xor(d8, m), 0, dO + 7);
        io[0] = tarvo_sub_group_shuffle_xor(i, m);
        vstore2(tarvo_sub_group_shuffle_xor(i2, m), 0, io + 1);
        vstore4(tarvo_sub_group_shuffle_xor(i4, m), 0, io + 3);
        vstore8(tarvo_sub_group_shuffle_xor(i8, m), 0, io + 7);
        uint src = (lane * 3u + m) % SG;
        fo[15] = tarvo_sub_group_shuffle(f, src);
        vstore2(tarvo_sub_group_shuffle(f2, src), 0, fo + 16);
        vstore4(tarvo_sub_group_shuffle(f4, src), 0, fo + 18);
        vstore8(tarvo_sub_group_shuffle(f8, src), 0, fo + 22);
        dO[15] = tarvo_sub_group_shuffle(d, src);
        vstore2(tarvo_sub_group_shuffle(d2, src), 0, dO + 16);
        vstore4(tarvo_sub_group_shuffle(d4, src), 0, dO + 18);
        vstore8(tarvo_sub_group_shuffle(d8, src), 0, dO + 22);
        io[15] = tarvo_sub_group_shuffle(i, src);
        vstore2(tarvo_sub_group_shuffle(i2, src), 0, io + 16);
        vstore4(tarvo_sub_group_shuffle(i4, src), 0, io + 18);
        vstore8(tarvo_sub_group_shuffle(i8, src), 0, io + 22);
        io[30] = tarvo_sub_group_shuffle(i, m); /* broadcast of lane m */
    }
}

/* 15 words per lane and sub-group: blocks of 1, 2, 4 and 8 words. */
#define BLOCK_WORDS 15
ATTRS __kernel void k_block32(__global const uint* in, __global uint* got, __global uint* out) {
    TARVO_SG_KERNEL_SCRATCH(SG);
    uint sg = get_group_id(0) * (WG / SG) + get_sub_group_id();
    uint g = get_global_id(0);
    uint lane = get_sub_group_local_id();
    const __global uint* p = in + sg * SG * BLOCK_WORDS;
    uint a = tarvo_sub_group_block_read(p);
    uint2 b = tarvo_sub_group_block_read2(p + SG);
    uint4 c = tarvo_sub_group_block_read4(p + 3 * SG);
    uint8 e = tarvo_sub_group_block_read8(p + 7 * SG);
    got[g * BLOCK_WORDS] = a;
    vstore2(b, 0, got + g * BLOCK_WORDS + 1);
    vstore4(c, 0, got + g * BLOCK_WORDS + 3);
    vstore8(e, 0, got + g * BLOCK_WORDS + 7);
    __global uint* q = out + sg * SG * BLOCK_WORDS;
    uint v = 1000u * (sg * SG + lane);
    tarvo_sub_group_block_write(q, v);
    tarvo_sub_group_block_write2(q + SG, (uint2)(v + 1, v + 2));
    tarvo_sub_group_block_write4(q + 3 * SG, (uint4)(v + 3, v + 4, v + 5, v + 6));
    tarvo_sub_group_block_write8(q + 7 * SG, (uint8)(v + 7, v + 8, v + 9, v + 10, v + 11, v + 12, v + 13, v + 14));
}

#ifdef cl_tarvo_subgroups_long
ATTRS __kernel void k_block64(__global const ulong* in, __global ulong* got, __global ulong* out) {
    TARVO_SG_KERNEL_SCRATCH(SG);
    uint sg = get_group_id(0) * (WG / SG) + get_sub_group_id();
    uint g = get_global_id(0);
    uint lane = get_sub_group_local_id();
    const __global ulong* p = in + sg * SG * BLOCK_WORDS;
    ulong a = tarvo_sub_group_block_read_ul(p);
    ulong2 b = tarvo_sub_group_block_read_ul2(p + SG);
    ulong4 c = tarvo_sub_group_block_read_ul4(p + 3 * SG);
    ulong8 e = tarvo_sub_group_block_read_ul8(p + 7 * SG);
    got[g * BLOCK_WORDS] = a;
    vstore2(b, 0, got + g * BLOCK_WORDS + 1);
    vstore4(c, 0, got + g * BLOCK_WORDS + 3);
    vstore8(e, 0, got + g * BLOCK_WORDS + 7);
    __global ulong* q = out + sg * SG * BLOCK_WORDS;
    ulong v = ((ulong)(sg * SG + lane) << 40) | 0x5000000000ul;
    tarvo_sub_group_block_write_ul(q, v);
    tarvo_sub_group_block_write_ul2(q + SG, (ulong2)(v + 1, v + 2));
    tarvo_sub_group_block_write_ul4(q + 3 * SG, (ulong4)(v + 3, v + 4, v + 5, v + 6));
    tarvo_sub_group_block_write_ul8(q + 7 * SG, (ulong8)(v + 7, v + 8, v + 9, v + 10, v + 11, v + 12, v + 13, v + 14));
}
#endif

/* Block reads and writes on local memory: each sub-group swaps the two
 * halves of its block of 2*SG words. */
ATTRS __kernel void k_block_local(__global const uint* in, __global uint* out) {
    TARVO_SG_KERNEL_SCRATCH(SG);
    __local uint tile[WG * 2];
    uint lid = get_local_id(0);
    uint base = get_group_id(0) * WG * 2;
    tile[lid] = in[base + lid];
    tile[lid + WG] = in[base + lid + WG];
    barrier(CLK_LOCAL_MEM_FENCE);
    __local uint* p = tile + get_sub_group_id() * SG * 2;
    uint2 v = tarvo_sub_group_block_read2(p);
    barrier(CLK_LOCAL_MEM_FENCE);
    tarvo_sub_group_block_write2(p, v.s10);
    barrier(CLK_LOCAL_MEM_FENCE);
    out[base + lid] = tile[lid];
    out[base + lid + WG] = tile[lid + WG];
}

/* Each sub-group writes its slice of local memory and reads the slice
 * back reversed after a sub-group barrier. */
ATTRS __kernel void k_barrier(__global uint* out) {
    TARVO_SG_KERNEL_SCRATCH(SG);
    __local uint slice[WG];
    uint lid = get_local_id(0);
    uint lane = get_sub_group_local_id();
    uint base = get_sub_group_id() * SG;
    slice[lid] = (uint)get_global_id(0) * 7u;
    tarvo_sub_group_barrier(CLK_LOCAL_MEM_FENCE);
    out[get_global_id(0)] = slice[base + (SG - 1 - lane)];
}
)CLC";

constexpr int kGroups = 2;

struct probe_case {
    int sg;
    const char* profile;  // sizes the exchange area (largest work-group 512 or 1024)
};

struct probe {
    int sg = 0;
    int wg = 0;
    cl_program program = nullptr;
    std::string log;
    cl_int status = CL_SUCCESS;
};

// One build per case, shared by the tests of that case.
const probe& probe_for(const probe_case& c) {
    static std::map<std::string, probe> built;
    const int sg = c.sg;
    const std::string key = std::to_string(sg) + c.profile;
    auto it = built.find(key);
    if (it != built.end()) return it->second;
    probe p;
    p.sg = sg;
    p.wg = 4 * sg;
    ovxtest::profile_guard prof(c.profile);
    char options[256];
    std::snprintf(options, sizeof options,
                  "-Dcl_tarvo_subgroups_long -DSG=%d -DWG=%d -cl-tarvo-256-GRF-per-thread", sg, p.wg);
    ovxtest::build_result r = ovxtest::build(probe_text, options);
    p.program = r.program;
    if (r.program) ovxtest::release_at_end(r.program);
    p.status = r.create_status != CL_SUCCESS ? r.create_status : r.build_status;
    p.log = r.log;
    return built.emplace(key, p).first->second;
}

struct kernel_ptr {
    cl_kernel k = nullptr;
    ~kernel_ptr() {
        if (k) clReleaseKernel(k);
    }
};

struct mem_ptr {
    cl_mem m = nullptr;
    ~mem_ptr() {
        if (m) clReleaseMemObject(m);
    }
};

class SubGroupProbe : public ::testing::TestWithParam<probe_case> {
protected:
    void SetUp() override {
        OVX_REQUIRE(env().device, "no usable OpenCL device");
        p_ = &probe_for(GetParam());
        ASSERT_EQ(p_->status, CL_SUCCESS) << p_->log;
    }
    void make(kernel_ptr& k, const char* name) {
        cl_int err = CL_SUCCESS;
        k.k = clCreateKernel(p_->program, name, &err);
        ASSERT_EQ(err, CL_SUCCESS) << name;
    }
    void run(const kernel_ptr& k, size_t global, size_t local) {
        ASSERT_EQ(clEnqueueNDRangeKernel(env().queue, k.k, 1, nullptr, &global, &local, 0, nullptr, nullptr),
                  CL_SUCCESS);
        ASSERT_EQ(clFinish(env().queue), CL_SUCCESS);
    }
    // Block reads and writes of widths 1, 2, 4 and 8 (at offsets 0, 1, 3, 7 of
    // a 15-word record): lane L reads element c of a block at p[c*S + L]; the
    // kernel writes written(item) + offset + c there.
    template <class W>
    void block_words(const char* name, W (*input)(int), W (*written)(int)) {
        kernel_ptr k;
        make(k, name);
        const int n = items(), words = n * 15;
        std::vector<W> in(words), g(words), o(words);
        for (int i = 0; i < words; ++i) in[i] = input(i);
        mem_ptr bin, got, out;
        bin.m = ovxtest::buffer(words * sizeof(W), in.data());
        got.m = ovxtest::buffer(words * sizeof(W), nullptr);
        out.m = ovxtest::buffer(words * sizeof(W), nullptr);
        cl_mem args[3] = {bin.m, got.m, out.m};
        for (cl_uint a = 0; a < 3; ++a) ASSERT_EQ(clSetKernelArg(k.k, a, sizeof(cl_mem), &args[a]), CL_SUCCESS);
        run(k, n, wg());
        ovxtest::read(got.m, words * sizeof(W), g.data());
        ovxtest::read(out.m, words * sizeof(W), o.data());
        const int width[4] = {1, 2, 4, 8}, off[4] = {0, 1, 3, 7};
        for (int item = 0; item < n; ++item) {
            const int lane = item % sg(), sgi = item / sg(), base = sgi * sg() * 15;
            for (int w = 0; w < 4; ++w)
                for (int c = 0; c < width[w]; ++c) {
                    EXPECT_EQ(g[item * 15 + off[w] + c], in[base + off[w] * sg() + c * sg() + lane])
                        << "read width " << width[w] << " item " << item << " component " << c;
                    EXPECT_EQ(o[base + off[w] * sg() + c * sg() + lane], written(sgi * sg() + lane) + off[w] + c)
                        << "write width " << width[w] << " item " << item << " component " << c;
                }
        }
    }
    int sg() const { return p_->sg; }
    int wg() const { return p_->wg; }
    int items() const { return kGroups * p_->wg; }
    const probe* p_ = nullptr;
};

TEST_P(SubGroupProbe, IdsFollowTheLinearLocalId) {
    kernel_ptr k;
    make(k, "k_ids");
    mem_ptr out;
    out.m = ovxtest::buffer(items() * 5 * sizeof(uint32_t), nullptr);
    ASSERT_EQ(clSetKernelArg(k.k, 0, sizeof(cl_mem), &out.m), CL_SUCCESS);
    run(k, items(), wg());
    std::vector<uint32_t> v(items() * 5);
    ovxtest::read(out.m, v.size() * sizeof(uint32_t), v.data());
    for (int g = 0; g < items(); ++g) {
        int lid = g % wg();
        EXPECT_EQ(v[g * 5 + 0], uint32_t(lid % sg())) << "item " << g;
        EXPECT_EQ(v[g * 5 + 1], uint32_t(lid / sg())) << "item " << g;
        EXPECT_EQ(v[g * 5 + 2], uint32_t(sg()));
        EXPECT_EQ(v[g * 5 + 3], uint32_t(sg()));
        EXPECT_EQ(v[g * 5 + 4], uint32_t(wg() / sg()));
    }
}

TEST_P(SubGroupProbe, IdsInATwoDimensionalWorkGroup) {
    kernel_ptr k;
    make(k, "k_ids2d");
    mem_ptr out;
    out.m = ovxtest::buffer(wg() * 2 * sizeof(uint32_t), nullptr);
    ASSERT_EQ(clSetKernelArg(k.k, 0, sizeof(cl_mem), &out.m), CL_SUCCESS);
    size_t global[2] = {4, size_t(wg() / 4)};
    ASSERT_EQ(clEnqueueNDRangeKernel(env().queue, k.k, 2, nullptr, global, global, 0, nullptr, nullptr),
              CL_SUCCESS);
    ASSERT_EQ(clFinish(env().queue), CL_SUCCESS);
    std::vector<uint32_t> v(wg() * 2);
    ovxtest::read(out.m, v.size() * sizeof(uint32_t), v.data());
    for (int lin = 0; lin < wg(); ++lin) {
        EXPECT_EQ(v[lin * 2], uint32_t(lin % sg()));
        EXPECT_EQ(v[lin * 2 + 1], uint32_t(lin / sg()));
    }
}

TEST_P(SubGroupProbe, ShuffleAndShuffleXorPermuteLanes) {
    kernel_ptr k;
    make(k, "k_shuffle");
    const int n = items();
    std::vector<float> fin(n);
    std::vector<double> din(n);
    std::vector<int32_t> iin(n);
    for (int g = 0; g < n; ++g) {
        fin[g] = 0.5f * g + 0.25f;
        din[g] = g + 0x1p-30;  // not representable in float; sums stay exact
        iin[g] = 7 * g - 100;
    }
    const size_t recs = size_t(n) * sg();
    mem_ptr bf, bd, bi, of, od, oi;
    bf.m = ovxtest::buffer(n * sizeof(float), fin.data());
    bd.m = ovxtest::buffer(n * sizeof(double), din.data());
    bi.m = ovxtest::buffer(n * sizeof(int32_t), iin.data());
    of.m = ovxtest::buffer(recs * 30 * sizeof(float), nullptr);
    od.m = ovxtest::buffer(recs * 30 * sizeof(double), nullptr);
    oi.m = ovxtest::buffer(recs * 31 * sizeof(int32_t), nullptr);
    cl_mem args[6] = {bf.m, bd.m, bi.m, of.m, od.m, oi.m};
    for (cl_uint a = 0; a < 6; ++a) ASSERT_EQ(clSetKernelArg(k.k, a, sizeof(cl_mem), &args[a]), CL_SUCCESS);
    run(k, n, wg());
    std::vector<float> fo(recs * 30);
    std::vector<double> dout(recs * 30);
    std::vector<int32_t> io(recs * 31);
    ovxtest::read(of.m, fo.size() * sizeof(float), fo.data());
    ovxtest::read(od.m, dout.size() * sizeof(double), dout.data());
    ovxtest::read(oi.m, io.size() * sizeof(int32_t), io.data());

    int bad = 0;
    for (int g = 0; g < n && bad < 20; ++g) {
        const int lane = g % sg();
        const int first = g - lane;
        for (int m = 0; m < sg(); ++m) {
            const size_t r = size_t(g) * sg() + m;
            const int x = first + (lane ^ m);                 // partner of shuffle_xor
            const int s = first + (lane * 3 + m) % sg();      // source of shuffle
            // Widths 1, 2, 4, 8 at offsets 0, 1, 3, 7 of each half record.
            const int width[4] = {1, 2, 4, 8};
            const int off[4] = {0, 1, 3, 7};
            for (int w = 0; w < 4; ++w)
                for (int c = 0; c < width[w]; ++c) {
                    const float ef_x = fin[x] + 1000.0f * c, ef_s = fin[s] + 1000.0f * c;
                    const double ed_x = din[x] + 1000.0 * c, ed_s = din[s] + 1000.0 * c;
                    const int32_t ei_x = iin[x] + 1000 * c, ei_s = iin[s] + 1000 * c;
                    if (fo[r * 30 + off[w] + c] != ef_x || fo[r * 30 + 15 + off[w] + c] != ef_s ||
                        dout[r * 30 + off[w] + c] != ed_x || dout[r * 30 + 15 + off[w] + c] != ed_s ||
                        io[r * 31 + off[w] + c] != ei_x || io[r * 31 + 15 + off[w] + c] != ei_s) {
                        ADD_FAILURE() << "item " << g << " mask/offset " << m << " width " << width[w]
                                      << " component " << c << ": float " << fo[r * 30 + off[w] + c] << " "
                                      << fo[r * 30 + 15 + off[w] + c] << " expected " << ef_x << " " << ef_s
                                      << "; double " << dout[r * 30 + off[w] + c] << " "
                                      << dout[r * 30 + 15 + off[w] + c] << " expected " << ed_x << " " << ed_s
                                      << "; int " << io[r * 31 + off[w] + c] << " " << io[r * 31 + 15 + off[w] + c]
                                      << " expected " << ei_x << " " << ei_s;
                        ++bad;
                    }
                }
            EXPECT_EQ(io[r * 31 + 30], iin[first + m]) << "broadcast of lane " << m << " to item " << g;
        }
    }
}

TEST_P(SubGroupProbe, BlockReadsAndWritesOf32BitWords) {
    block_words<uint32_t>("k_block32", [](int i) -> uint32_t { return 0xA0000000u + i; },
                          [](int item) -> uint32_t { return 1000u * item; });
}

TEST_P(SubGroupProbe, BlockReadsAndWritesOf64BitWords) {
    block_words<uint64_t>(
        "k_block64", [](int i) -> uint64_t { return 0x0123456700000000ull + (uint64_t(i) << 36) + uint64_t(i); },
        [](int item) -> uint64_t { return (uint64_t(item) << 40) | 0x5000000000ull; });
}

TEST_P(SubGroupProbe, BlockReadsAndWritesOnLocalMemory) {
    kernel_ptr k;
    make(k, "k_block_local");
    const int words = items() * 2;
    std::vector<uint32_t> in(words);
    for (int i = 0; i < words; ++i) in[i] = 0x51000000u + i;
    mem_ptr bin, out;
    bin.m = ovxtest::buffer(words * sizeof(uint32_t), in.data());
    out.m = ovxtest::buffer(words * sizeof(uint32_t), nullptr);
    cl_mem args[2] = {bin.m, out.m};
    for (cl_uint a = 0; a < 2; ++a) ASSERT_EQ(clSetKernelArg(k.k, a, sizeof(cl_mem), &args[a]), CL_SUCCESS);
    run(k, items(), wg());
    std::vector<uint32_t> o(words);
    ovxtest::read(out.m, words * sizeof(uint32_t), o.data());
    for (int i = 0; i < words; ++i) {
        const int block = i / (2 * sg()), within = i % (2 * sg());
        const int from = block * 2 * sg() + (within + sg()) % (2 * sg());
        EXPECT_EQ(o[i], in[from]) << "word " << i;
    }
}

TEST_P(SubGroupProbe, SubGroupBarrierOrdersLocalMemory) {
    kernel_ptr k;
    make(k, "k_barrier");
    mem_ptr out;
    out.m = ovxtest::buffer(items() * sizeof(uint32_t), nullptr);
    ASSERT_EQ(clSetKernelArg(k.k, 0, sizeof(cl_mem), &out.m), CL_SUCCESS);
    run(k, items(), wg());
    std::vector<uint32_t> v(items());
    ovxtest::read(out.m, v.size() * sizeof(uint32_t), v.data());
    for (int g = 0; g < items(); ++g) {
        const int lane = g % sg();
        EXPECT_EQ(v[g], uint32_t(g - lane + (sg() - 1 - lane)) * 7u) << "item " << g;
    }
}

TEST_P(SubGroupProbe, WorkGroupAboveTheProfileLimitIsRefused) {
    // The probe program was made under a profile whose largest work-group
    // is 512; the emulation's exchange area holds no more.
    const char* text = R"CLC(
#pragma OPENCL EXTENSION cl_tarvo_subgroups : enable
__kernel void any_size(__global uint* out) {
    TARVO_SG_KERNEL_SCRATCH(SG);
    out[get_global_id(0)] = tarvo_sub_group_shuffle_xor((uint)get_global_id(0), 1u);
}
)CLC";
    ovxtest::profile_guard prof("quen5");  // largest work-group 512, whatever the case's profile
    char options[64];
    std::snprintf(options, sizeof options, "-DSG=%d", sg());
    ovxtest::build_result r = ovxtest::build(text, options);
    ASSERT_EQ(r.build_status, CL_SUCCESS) << r.log;
    kernel_ptr k;
    cl_int err;
    k.k = clCreateKernel(r.program, "any_size", &err);
    ASSERT_EQ(err, CL_SUCCESS);
    mem_ptr out;
    out.m = ovxtest::buffer(1024 * sizeof(uint32_t), nullptr);
    ASSERT_EQ(clSetKernelArg(k.k, 0, sizeof(cl_mem), &out.m), CL_SUCCESS);
    size_t global = 1024, local = 1024;
    EXPECT_EQ(clEnqueueNDRangeKernel(env().queue, k.k, 1, nullptr, &global, &local, 0, nullptr, nullptr),
              CL_INVALID_WORK_GROUP_SIZE);
    local = size_t(sg()) * 2;
    ASSERT_EQ(clEnqueueNDRangeKernel(env().queue, k.k, 1, nullptr, &global, &local, 0, nullptr, nullptr),
              CL_SUCCESS);
    ASSERT_EQ(clFinish(env().queue), CL_SUCCESS);
    std::vector<uint32_t> v(1024);
    ovxtest::read(out.m, v.size() * sizeof(uint32_t), v.data());
    for (uint32_t i = 0; i < 1024; ++i) EXPECT_EQ(v[i], i ^ 1u);
    clReleaseProgram(r.program);
}

INSTANTIATE_TEST_SUITE_P(SubGroupSizes, SubGroupProbe,
                         ::testing::Values(probe_case{8, "quen5"}, probe_case{16, "quen5"}, probe_case{32, "quen5"},
                                           probe_case{16, "quen6"}, probe_case{32, "quen6"}),
                         [](const ::testing::TestParamInfo<probe_case>& i) {
                             return "SG" + std::to_string(i.param.sg) + "_" + i.param.profile;
                         });

}  // namespace
