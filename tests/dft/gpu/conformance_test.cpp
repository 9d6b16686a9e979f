// The conformance suite of the GPU backends, driven by the backend table
// (dft/gpu/backends.def): every row has cases, each a shape that the row's
// record owns through the ordinary candidate lists (or, for a record that
// stands in no list, through a one-entry list at the node level), and every
// case goes through the same checks:
// - the owner by name, and the workspace size read before the commit at
//   least the committed need;
// - forward then backward (scales other than 1) against FFTW in USM form on a
//   shuffled out-of-order queue and in buffer form, with sentinels on both
//   sides of every output and the input of an out-of-place transform left as
//   it was;
// - the same through caller workspaces of exactly the committed size, a USM
//   one between sentinels and a buffer one;
// and, for the composite backends, a case whose later sub-transform needs
// more scratch than the first (the shared scratch holds the largest need),
// and an offload-mode compute whose commands all go to the queue of the
// compute, sub-transforms included.
// Cases marked heavy (several GiB) only commit here; their transforms run in
// the executable built with OVX_CONFORMANCE_HEAVY (labels heavy and slow,
// registered with -DOVX_HEAVY_TESTS=ON).
#include "dft/gpu/gpu_harness.hpp"

#include <ovxplat/omp_interop.hpp>

#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <set>

#include "dft/gpu/md/c2c_3d_cube.hpp"
#include "korami/ovx/dfti_omp_offload.h"

namespace {

namespace dft = korami::ovx::dft;
namespace gm = korami::ovx::dft::gpumd;
using md_test::md_case;
using md_test::vec;
using gpu_test::cplx;

// ---- the table ---------------------------------------------------------------------------

struct table_row {
    std::string stem;
    bool single, dbl;  // the records the row has
    bool listed;       // stands in at least one candidate list
};

const std::vector<table_row>& table_rows() {
    static const std::vector<table_row> rows = {
#define OVX_BKD(STEM, MODULE, S, D, C1D, R1D, CMD, RMD) {#STEM, S == 1, D == 1, C1D + R1D + CMD + RMD > 0},
#include "dft/gpu/backends.def"
#include "worst_error.hpp"
#undef OVX_BKD
    };
    return rows;
}

const table_row* row_of(const std::string& stem) {
    for (const table_row& r : table_rows())
        if (r.stem == stem) return &r;
    return nullptr;
}

// ---- the cases ---------------------------------------------------------------------------

struct conformance_case {
    const char* row = "";           // the table row whose record owns the case
    md_case c;                      // layout, profile, precision (form and shuffling are the checks')
    bool offload = false;           // an offload-mode compute counted on the compute queue
    std::vector<md_case> children;  // composites: the first sub-transform, then a later one needing more scratch
    std::int64_t cube_side = 0;     // the side the cube backend's test hook admits while the case runs
    bool heavy = false;             // transforms only in the heavy executable
};

md_case shape(const char* profile, bool real, bool single, vec n, std::int64_t batch, bool in_place) {
    md_case c{};
    c.profile = profile, c.real = real, c.single = single, c.n = std::move(n), c.batch = batch, c.in_place = in_place;
    return c;
}
// Complex and real shapes.
md_case C(const char* p, bool single, vec n, std::int64_t batch, bool ip) { return shape(p, false, single, n, batch, ip); }
md_case R(const char* p, bool single, vec n, std::int64_t batch, bool ip) { return shape(p, true, single, n, batch, ip); }
// `count` columns of n points: element stride `count`, distance 1.
md_case columns(const char* p, bool single, std::int64_t n, std::int64_t count, bool ip) {
    md_case c = C(p, single, {n}, count, ip);
    c.fs = c.bs = {0, count};
    c.fd = c.bd = 1;
    return c;
}
// Row-pass rows: `rows` transforms of n points, `pitch` apart, in place.
md_case row_pass(bool single, std::int64_t n, std::int64_t rows, std::int64_t pitch) {
    md_case c = C("quen6", single, {n}, rows, true);
    c.fd = c.bd = pitch;
    return c;
}

conformance_case K(const char* row, md_case c) {
    conformance_case k;
    k.row = row;
    k.c = std::move(c);
    return k;
}
conformance_case offload(conformance_case k) {
    k.offload = true;
    return k;
}
conformance_case heavy(conformance_case k) {
    k.heavy = true;
    return k;
}
conformance_case cube(conformance_case k, std::int64_t side) {
    k.cube_side = side;
    return k;
}
// The first sub-transform and a later one of a composite case, each as a
// transform of its own on the case's device.
conformance_case later_child_scratch(conformance_case k, md_case first, md_case later) {
    for (md_case* s : {&first, &later}) s->profile = k.c.profile, s->single = k.c.single;
    k.children = {first, later};
    return k;
}

const std::vector<conformance_case>& all_cases() {
    constexpr std::int64_t M = std::int64_t(1) << 20;
    static const std::vector<conformance_case> cases = {
        K("c2c_1d_8k", C("quen5", false, {8192}, 3, false)),
        K("c2c_1d_8k", C("quen7", true, {8192}, 2, true)),
        K("c2c_1d_2_facts", C("quen5", false, {48}, 2, true)),
        K("c2c_1d_2_facts", C("quen5", true, {128}, 3, false)),
        K("c2c_1d_n_facts_slm", C("quen6", false, {512}, 3, false)),
        K("c2c_1d_n_facts_slm", C("quen6", true, {2048}, 2, false)),
        // In no list: the large backend's row pass, at the node level.
        K("c2c_1d_n_facts_slm_row", row_pass(false, 512, 8, 512)),
        K("c2c_1d_n_facts_slm_row", row_pass(true, 4096, 8, 4128)),
        K("small_md_slm", C("quen6", false, {11}, 20, false)),
        K("small_md_slm", R("quen6", false, {120}, 5, false)),
        K("small_md_slm", C("quen6", false, {64, 64}, 2, true)),
        K("small_md_slm", R("quen6", true, {32, 60}, 3, false)),
        K("c2c_1d_4_facts", C("quen6", false, {9604}, 2, false)),
        K("c2c_1d_4_facts", C("quen6", true, {65536}, 1, false)),
        offload(K("c2c_1d_large", C("quen6", false, {2 * M}, 1, false))),
        K("c2c_1d_large", C("quen6", true, {2 * M}, 1, true)),
        K("c2c_1d_n_facts_colbatch", columns("quen6", false, 64, 32, false)),
        K("c2c_1d_n_facts_colbatch", columns("quen6", true, 1001, 12, false)),
        K("c2c_1d_4_facts_colbatch", columns("quen6", false, 4096, 16, false)),
        K("c2c_1d_4_facts_colbatch", columns("quen6", true, 4096, 12, false)),
        K("c2c_1d_3_facts", C("quen5", false, {12000}, 2, false)),
        K("c2c_1d_3_facts", C("quen7", true, {12000}, 3, true)),
        heavy(K("1d_very_large", C("quen5", true, {32 * M}, 1, false))),
        heavy(K("1d_very_large", R("quen5", true, {64 * M}, 1, false))),
        K("c2c_1d_nonsubgrp", C("quen5", false, {1002}, 2, false)),
        K("c2c_1d_nonsubgrp", C("quen5", true, {1001}, 3, true)),
        offload(K("r2c_1d_main", R("quen5", false, {1000}, 3, false))),
        offload(K("r2c_1d_main", R("quen5", true, {999}, 3, false))),
        K("c2c_2d_8nx8n_small", C("quen5", true, {8, 8}, 1, false)),
        K("c2c_2d_8nx8n_small", C("quen5", false, {24, 24}, 1, true)),
        offload(K("c2c_2d_main", C("quen5", true, {100, 60}, 2, false))),
        K("c2c_2d_main", C("quen5", false, {128, 128}, 1, false)),
        // Rows of 64 (no scratch), then columns of 97 (scratch for all of them).
        offload(later_child_scratch(K("c2c_2d_main", C("quen5", true, {97, 64}, 1, false)),
                                    C("", true, {64}, 97, false), columns("", true, 97, 64, true))),
        offload(cube(K("c2c_3d_cube", C("quen6", false, {64, 64, 64}, 1, false)), 64)),
        cube(K("c2c_3d_cube", C("quen6", true, {64, 64, 64}, 2, true)), 64),
        offload(K("c2c_3d_main", C("quen5", false, {8, 12, 10}, 2, true))),
        K("c2c_3d_main", C("quen5", true, {32, 24, 20}, 3, false)),
        // Rows of 8, columns of 8, then the 97-point axis with scratch.
        offload(later_child_scratch(K("c2c_3d_main", C("quen5", false, {97, 8, 8}, 1, false)),
                                    C("", false, {8}, 97 * 8, false), columns("", false, 97, 64, true))),
        offload(K("r2c_2d_main", R("quen5", false, {12, 10}, 1, false))),
        K("r2c_2d_main", R("quen5", true, {30, 51}, 1, false)),
        // Real rows of 12 (a little scratch), then complex columns of 97 (more).
        offload(later_child_scratch(K("r2c_2d_main", R("quen5", false, {97, 12}, 1, false)),
                                    R("", false, {12}, 97, false), columns("", false, 97, 7, true))),
        offload(K("r2c_3d_main", R("quen5", false, {6, 8, 10}, 1, false))),
        K("r2c_3d_main", R("quen5", true, {6, 8, 10}, 1, false)),
        // Real 6 x 8 planes, then complex columns of 97 over the half spectrum.
        offload(later_child_scratch(K("r2c_3d_main", R("quen5", false, {97, 6, 8}, 1, false)),
                                    R("", false, {6, 8}, 97, false), columns("", false, 97, 30, true))),
    };
    return cases;
}

std::string case_name(const conformance_case& k) {
    const md_case& c = k.c;
    std::string s = std::string(k.row) + "_" + (c.real ? "r" : "c");
    for (std::size_t i = 0; i < c.n.size(); ++i) s += (i ? "x" : "") + std::to_string(c.n[i]);
    s += std::string(c.single ? "s" : "d") + "_b" + std::to_string(c.batch) + (c.in_place ? "_ip" : "_oop");
    if (!c.fs.empty()) s += "_stride" + std::to_string(c.fs.back());
    if (c.fd || c.bd) s += "_dist" + std::to_string(c.fd);
    return s + "_" + c.profile;
}

void PrintTo(const conformance_case& k, std::ostream* os) { *os << case_name(k); }
std::string param_name(const ::testing::TestParamInfo<conformance_case>& i) { return case_name(i.param); }

// The cases of this executable for the checks that run transforms.
template <class Keep>
std::vector<conformance_case> cases_where(Keep keep) {
    std::vector<conformance_case> v;
    for (const conformance_case& k : all_cases()) {
#ifdef OVX_CONFORMANCE_HEAVY
        if (!k.heavy) continue;
#else
        if (k.heavy) continue;
#endif
        if (keep(k)) v.push_back(k);
    }
    return v;
}

// The record a case's row names in its precision.
std::string owner_of_case(const conformance_case& k) {
    return md_test::record_name((std::string(k.row) + (k.c.single ? "_s" : "_d")).c_str());
}

// The workspace size a row's own record estimates (-1 for a shape it does
// not take, or a precision the row has no record of).
template <class T>
std::int64_t record_estimate(const std::string& stem, const dft_workspace_problem& problem) {
    constexpr bool single = sizeof(T) == 4;
#define OVX_BKD(STEM, MODULE, S, D, C1D, R1D, CMD, RMD)                                                   \
    if (stem == #STEM) {                                                                                 \
        const bkd_ops* rec = nullptr;                                                                    \
        OVX_BKD_IF_##S(if (single) rec = &bkd_##STEM##_s_ops;)                                           \
        OVX_BKD_IF_##D(if (!single) rec = &bkd_##STEM##_d_ops;)                                          \
        return gpu_test::record_estimate{rec}.get_workspace_bytes(problem);                              \
    }
#include "dft/gpu/backends.def"
#undef OVX_BKD
    ADD_FAILURE() << stem << " is no row";
    return -1;
}

// A row the candidate lists do not hold is reached at the node level.
bool node_level(const conformance_case& k) {
    const table_row* r = row_of(k.row);
    return r && !r->listed;
}

// What a case runs under: its device profile, the cube's test hook, the
// GPU queue.
struct case_env : gpu_test::profile_queue {
    std::int64_t previous_side;
    explicit case_env(const conformance_case& k)
        : gpu_test::profile_queue(k.c.profile), previous_side(gm::c2c_3d_cube_admitted_side()) {
        if (k.cube_side) gm::c2c_3d_cube_admit_side(k.cube_side);
    }
    ~case_env() {
        gm::c2c_3d_cube_admit_side(previous_side);
        ovxplat::set_shuffle_mode(false);
    }
};

#define CONFORMANCE_REQUIRE(k)                                   \
    do {                                                         \
        GPU_REQUIRE_DEVICE((k).c.single);                         \
        ASSERT_TRUE(row_of((k).row)) << (k).row << " is no row"; \
    } while (0)

// ---- through the public API ------------------------------------------------------------

using P = dft::precision;
using Dm = dft::domain;

// The scalar type and descriptor type of a case.
template <class Real, P Prec, Dm Dom>
struct descriptor_type {
    using T = Real;
    using descriptor = dft::descriptor<Prec, Dom>;
};

// Calls f(descriptor_type<...>{}) for the case's precision and domain.
template <class F>
void with_descriptor_type(const md_case& c, F&& f) {
    if (c.single && c.real) f(descriptor_type<float, P::SINGLE, Dm::REAL>{});
    else if (c.single) f(descriptor_type<float, P::SINGLE, Dm::COMPLEX>{});
    else if (c.real) f(descriptor_type<double, P::DOUBLE, Dm::REAL>{});
    else f(descriptor_type<double, P::DOUBLE, Dm::COMPLEX>{});
}

// Configures a descriptor for the case (scales included), with a caller's
// workspace when `external`.
template <class T, class D>
void configure_case(const md_case& c, D& d, bool external) {
    md_test::side f, b;
    md_test::sides_of(c, f, b);
    std::int64_t N = 1;
    for (auto x : c.n) N *= x;
    md_test::configure<T>(c, d, f, b, c.sb ? c.sb : 1.0 / static_cast<double>(N));
    if (external) d.set_value(dft::config_param::WORKSPACE_PLACEMENT, dft::config_value::WORKSPACE_EXTERNAL);
}

// The size read before the commit and the committed need, with a caller's
// workspace; the owner of the committed node.
struct commit_facts {
    std::int64_t estimate = -1, need = -1;
    std::uint64_t scratch = 0;  // the node's scratch region
    std::string owner;
};

template <class T, class Desc>
commit_facts commit_external(const md_case& c, sycl::queue& q) {
    Desc d(c.n);
    configure_case<T>(c, d, true);
    commit_facts r;
    d.get_value(dft::config_param::WORKSPACE_EXTERNAL_BYTES, &r.estimate);
    d.commit(q);
    d.get_value(dft::config_param::WORKSPACE_EXTERNAL_BYTES, &r.need);
    const DFTI_DESCRIPTOR* node = dft::detail::descriptor_node(d);
    r.scratch = node->scratch_workspace_bytes;
    r.owner = bkd_name(node->bkd);
    return r;
}

commit_facts commit_external(const md_case& c, sycl::queue& q) {
    commit_facts r;
    with_descriptor_type(c, [&](auto t) {
        using Ty = decltype(t);
        r = commit_external<typename Ty::T, typename Ty::descriptor>(c, q);
    });
    return r;
}

// The case in one form (USM on a shuffled queue, or buffers) with the
// library's workspace.
void api_round_trips(const conformance_case& k, sycl::queue& q) {
    with_descriptor_type(k.c, [&](auto t) {
        using T = typename decltype(t)::T;
        for (bool usm : {true, false}) {
            SCOPED_TRACE(usm ? "USM data, shuffled queue" : "buffer data");
            md_case c = k.c;
            c.usm = usm;
            c.owner = nullptr;
            typename decltype(t)::descriptor d(c.n);
            configure_case<T>(c, d, false);
            d.commit(q);
            EXPECT_EQ(bkd_name(dft::detail::descriptor_node(d)->bkd), owner_of_case(k));
            ovxplat::set_shuffle_mode(usm);
            md_test::round_trip<T>(c, d, q);
            ovxplat::set_shuffle_mode(false);
        }
    });
}

// Guard bytes on each side of a caller's USM workspace (a multiple of any
// alignment the workspace asks for).
constexpr std::size_t kWorkspaceGuard = 1 << 16;

// The case through caller workspaces of exactly the committed size: a USM
// workspace between sentinel bytes (USM data, shuffled queue), and a buffer
// workspace (buffer data). The sentinels must stay.
void api_caller_workspaces(const conformance_case& k, sycl::queue& q) {
    with_descriptor_type(k.c, [&](auto t) {
        using T = typename decltype(t)::T;
        for (bool usm : {true, false}) {
            SCOPED_TRACE(usm ? "USM workspace and data, shuffled queue" : "buffer workspace and data");
            md_case c = k.c;
            c.usm = usm;
            typename decltype(t)::descriptor d(c.n);
            configure_case<T>(c, d, true);
            d.commit(q);
            std::int64_t need = -1;
            d.get_value(dft::config_param::WORKSPACE_EXTERNAL_BYTES, &need);
            ASSERT_GE(need, 0);
            const std::size_t bytes = static_cast<std::size_t>(need);
            ASSERT_EQ(bytes % sizeof(T), 0u);
            if (usm) {
                const std::size_t whole = bytes + 2 * kWorkspaceGuard;
                unsigned char* ws = sycl::malloc_shared<unsigned char>(whole, q);
                std::memset(ws, 0xA5, whole);
                if (bytes) d.set_workspace(reinterpret_cast<T*>(ws + kWorkspaceGuard));
                ovxplat::set_shuffle_mode(true);
                md_test::round_trip<T>(c, d, q);
                ovxplat::set_shuffle_mode(false);
                q.wait();
                std::size_t touched = 0;
                for (std::size_t i = 0; i < whole; ++i)
                    touched += (i < kWorkspaceGuard || i >= kWorkspaceGuard + bytes) && ws[i] != 0xA5;
                EXPECT_EQ(touched, 0u) << "bytes written outside a workspace of " << bytes << " bytes";
                sycl::free(ws, q);
            } else {
                sycl::buffer<T, 1> ws{sycl::range<1>(std::max<std::size_t>(bytes / sizeof(T), 1))};
                if (bytes) d.set_workspace(ws);
                md_test::round_trip<T>(c, d, q);
            }
        }
    });
}

// ---- offload mode ------------------------------------------------------------------------

struct node_handle {
    DFTI_DESCRIPTOR* node = nullptr;
    node_handle() = default;
    node_handle(const node_handle&) = delete;
    node_handle& operator=(const node_handle&) = delete;
    ~node_handle() {
        if (node) dfti_free_descriptor(&node);
    }
};

// The case's forward transform through the offload entries: committed on
// the queue of one interop object, computed on another queue of the same
// context and device through a second one. Every command of the compute,
// those of the sub-transforms included, must go to the compute's queue.
template <class T>
void offload_forward(const conformance_case& k, sycl::queue& commit_queue) {
    const md_case& c = k.c;
    md_test::side f, b;
    md_test::sides_of(c, f, b);
    const int r = static_cast<int>(c.n.size());
    node_handle h;
    const int domain = c.real ? DFTI_REAL : DFTI_COMPLEX;
    const int created = r == 1 ? (c.single ? dfti_create_descriptor_s_1d(&h.node, domain, c.n[0])
                                           : dfti_create_descriptor_d_1d(&h.node, domain, c.n[0]))
                               : (c.single ? dfti_create_descriptor_s_md(&h.node, domain, r, c.n.data())
                                           : dfti_create_descriptor_d_md(&h.node, domain, r, c.n.data()));
    ASSERT_EQ(created, 0);
    if (c.real) {
        ASSERT_EQ(dfti_set_value(h.node, DFTI_PARAM_CONJUGATE_EVEN_STORAGE, static_cast<int>(DFTI_COMPLEX_COMPLEX)), 0);
    }
    ASSERT_EQ(dfti_set_value(h.node, DFTI_PARAM_PLACEMENT, static_cast<int>(c.in_place ? DFTI_INPLACE : DFTI_NOT_INPLACE)), 0);
    // The layout as forward- and backward-domain strides and distances, with
    // no input or output strides (the creator's packed defaults would
    // describe both sides alike).
    for (int i = 0; i < r; ++i) h.node->user_dims.records[i] = dfti_dim{f.len[i], 0, 0, f.stride[i], b.stride[i]};
    h.node->user_batch.records[0] = dfti_dim{c.batch, 0, 0, f.dist, b.dist};
    ASSERT_EQ(h.node->methods->set_scale(h.node, 0, c.sf), 0);

    sycl::queue compute_queue(commit_queue.get_context(), commit_queue.get_device());
    ovxplat::omp_interop at_commit, at_compute;
    ovxplat::omp_interop_for(at_commit, commit_queue, 4);
    ovxplat::omp_interop_for(at_compute, compute_queue, 4);
    ASSERT_EQ(ovx_DftiCommitDescriptor_omp_offload(h.node, at_commit.handle), 0);
    EXPECT_EQ(bkd_name(h.node->bkd), owner_of_case(k));
    commit_queue.wait();

    const int fw = c.real ? 1 : 2;
    const std::size_t fe = f.extent(), be = b.extent();
    std::vector<cplx> x(fe, cplx(0, 0)), ref(be, cplx(7, 7));
    const auto rnd = gpu_test::random_cplx(fe, 23u);
    for (std::int64_t i : f.offsets()) x[i] = cplx(rnd[i].real(), c.real ? 0.0 : rnd[i].imag());
    x = md_test::as_seen<T>(x);
    md_test::reference(c, f, b, true, c.sf, x, ref);
    const std::vector<T> in = md_test::pack<T>(x, fw, c.in_place ? std::max(fe * fw, be * 2) : fe * fw);

    const std::uint64_t on_commit = ovxplat::queue_commands_submitted(commit_queue);
    const std::uint64_t on_compute = ovxplat::queue_commands_submitted(compute_queue);
    const std::uint64_t all = ovxplat::get_sycl_counters().commands_submitted;
    ovxplat::set_shuffle_mode(true);
    // USM data between guards (run_guarded submits no command of its own).
    const std::vector<T> got = md_test::run_guarded<T>(
        commit_queue, c.in_place, true, "offload forward", in, be * 2,
        [&](T* a, T* o) {
            EXPECT_EQ(ovx_DftiComputeForward_omp_offload(h.node, a, at_compute.handle, o), 0);
            compute_queue.wait();
            commit_queue.wait();
            return sycl::event{};
        },
        [](sycl::buffer<T, 1>&, sycl::buffer<T, 1>&) {});
    ovxplat::set_shuffle_mode(false);
    const std::uint64_t ran = ovxplat::queue_commands_submitted(compute_queue) - on_compute;
    EXPECT_GT(ran, 0u) << "nothing ran on the compute's queue";
    EXPECT_EQ(ovxplat::queue_commands_submitted(commit_queue) - on_commit, 0u)
        << "commands of an offload compute went to the commit's queue";
    EXPECT_EQ(ovxplat::get_sycl_counters().commands_submitted - all, ran)
        << "commands of an offload compute went to another queue";
    md_test::expect_match(c, md_test::unpack(got, 2, be), ref, b, "offload forward");
    dfti_free_descriptor(&h.node);
}

// ---- the row pass at the node level --------------------------------------------------------

// The rows of a row-pass case scaled and twiddled: row r, output k gets
// scale * DFT(row r)[k] * e^(-+2 pi i r k / (n rows)). Elements between the
// rows keep their values.
void row_pass_reference(const md_case& c, int dir, double scale, const std::vector<cplx>& x, std::vector<cplx>& out) {
    const std::int64_t n = c.n[0], pitch = c.fd;
    out = x;
    for (std::int64_t r = 0; r < c.batch; ++r) {
        std::vector<cplx> row = gpu_test::dft(std::vector<cplx>(x.begin() + r * pitch, x.begin() + r * pitch + n), dir, scale);
        for (std::int64_t j = 0; j < n; ++j)
            out[r * pitch + j] = row[j] * std::polar(1.0, (dir ? 2.0 : -2.0) * M_PI * static_cast<double>(r * j) /
                                                             static_cast<double>(n * c.batch));
    }
}

// A node of the case committed through the one-entry list of the row's
// record; `external` leaves the workspace to the caller.
gpu_test::node_ptr row_pass_node(const conformance_case& k, const bkd_ops* const* list, sycl::queue& q, bool external) {
    gpu_test::layout l;
    l.n = k.c.n[0];
    l.single = k.c.single;
    l.batch = {{k.c.batch, k.c.fd, k.c.fd}};
    l.in_place = true;
    l.fwd_scale = k.c.sf;
    l.bwd_scale = 1.0 / static_cast<double>(k.c.n[0]);
    l.internal_workspace = !external;
    return gpu_test::make_node(l, &q, list);
}

// Both directions of a committed row-pass node on one set of rows, in USM
// form (shuffled queue) and buffer form, against the reference; the
// elements between the rows and the guards around the array must keep
// their values.
template <class T>
void row_pass_round_trips(const conformance_case& k, DFTI_DESCRIPTOR* node, sycl::queue& q) {
    const md_case& c = k.c;
    const std::size_t elems = static_cast<std::size_t>(c.batch * c.fd);
    const std::vector<cplx> x = md_test::as_seen<T>(gpu_test::random_cplx(elems, 31u));
    for (int dir = 0; dir < 2; ++dir) {
        const double scale = static_cast<T>(dir == 0 ? node->forward_scale : node->backward_scale);
        std::vector<cplx> ref;
        row_pass_reference(c, dir, scale, x, ref);
        for (bool usm : {true, false}) {
            SCOPED_TRACE(std::string(dir ? "backward, " : "forward, ") + (usm ? "USM data, shuffled queue" : "buffer data"));
            ovxplat::set_shuffle_mode(usm);
            const std::vector<T> got = md_test::run_guarded<T>(
                q, true, usm, dir ? "backward" : "forward", md_test::pack<T>(x, 2, 2 * elems), 0,
                [&](T* a, T*) {
                    sycl::event e;
                    EXPECT_EQ(gpu_test::compute_usm(node, dir, a, a, &e), 0);
                    return e;
                },
                [&](sycl::buffer<T, 1>& a, sycl::buffer<T, 1>&) {
                    auto bytes = a.template reinterpret<char, 1>(sycl::range<1>(a.size() * sizeof(T)));
                    EXPECT_EQ(gpu_test::compute_buffer(node, dir, &bytes, &bytes), 0);
                });
            ovxplat::set_shuffle_mode(false);
            const std::vector<cplx> g = md_test::unpack(got, 2, elems);
            double err = 0, mag = 0;
            std::size_t gaps = 0;
            for (std::size_t i = 0; i < elems; ++i) {
                const bool in_row = static_cast<std::int64_t>(i) % c.fd < c.n[0];
                if (!in_row) {
                    gaps += g[i] != ref[i];
                    continue;
                }
                err = ovx_test::worse(err, std::abs(g[i] - ref[i]));
                mag = std::max(mag, std::abs(ref[i]));
            }
            EXPECT_LT(err / mag, gpu_test::tolerance(c.single, c.n[0])) << "against the reference";
            EXPECT_EQ(gaps, 0u) << "elements between the rows written";
        }
    }
}

// What a check asks of a case.
enum class stage { commit, library_workspace, caller_workspace };

template <class T>
void row_pass_case(const conformance_case& k, sycl::queue& q, stage what) {
    const bkd_ops* rec = nullptr;
    // The record by name among the rows' records (no list holds it).
    const bkd_ops* const records[] = {&bkd_c2c_1d_n_facts_slm_row_s_ops, &bkd_c2c_1d_n_facts_slm_row_d_ops};
    for (const bkd_ops* r : records)
        if (owner_of_case(k) == bkd_name(r)) rec = r;
    ASSERT_NE(rec, nullptr) << "no record named " << owner_of_case(k);
    const bkd_ops* const list[] = {rec, nullptr};
    if (what == stage::commit) {
        gpu_test::node_ptr node = row_pass_node(k, list, q, true);
        ASSERT_TRUE(node);
        // No list holds the record, so no descriptor asks the registered
        // estimators for it: its parent asks the record's own estimator.
        ASSERT_EQ(dfti_normalize_node(node.get()), 0);
        const std::int64_t estimate = record_estimate<T>(k.row, dft_workspace_problem{node.get(), &q});
        ASSERT_EQ(gpu_test::commit(node.get()), 0);
        EXPECT_EQ(gpu_test::owner_of(node), owner_of_case(k));
        EXPECT_GE(estimate, static_cast<std::int64_t>(node->twiddle_workspace_bytes + node->scratch_workspace_bytes))
            << "the size read before the commit is short of the committed need";
        return;
    }
    if (what == stage::library_workspace) {
        gpu_test::node_ptr node = row_pass_node(k, list, q, false);
        ASSERT_EQ(gpu_test::commit(node.get()), 0);
        EXPECT_EQ(gpu_test::owner_of(node), owner_of_case(k));
        return row_pass_round_trips<T>(k, node.get(), q);
    }
    gpu_test::node_ptr node = row_pass_node(k, list, q, true);
    ASSERT_EQ(gpu_test::commit(node.get()), 0);
    const std::size_t bytes = node->twiddle_workspace_bytes + node->scratch_workspace_bytes;
    const std::size_t whole = bytes + 2 * kWorkspaceGuard;
    unsigned char* ws = sycl::malloc_shared<unsigned char>(whole, q);
    std::memset(ws, 0xA5, whole);
    ASSERT_EQ(gpu_dfti_set_workspace(node.get(), ws + kWorkspaceGuard, DFTI_CONTAINER_USM), 0);
    row_pass_round_trips<T>(k, node.get(), q);
    q.wait();
    std::size_t touched = 0;
    for (std::size_t i = 0; i < whole; ++i) touched += (i < kWorkspaceGuard || i >= kWorkspaceGuard + bytes) && ws[i] != 0xA5;
    EXPECT_EQ(touched, 0u) << "bytes written outside a workspace of " << bytes << " bytes";
    node.reset();
    sycl::free(ws, q);
}

void row_pass_case(const conformance_case& k, sycl::queue& q, stage what) {
    if (k.c.single) row_pass_case<float>(k, q, what);
    else row_pass_case<double>(k, q, what);
}

// ---- the checks ----------------------------------------------------------------------------

class BackendCommit : public ::testing::TestWithParam<conformance_case> {};

// The owner by name, and the size read before the commit covers the commit.
TEST_P(BackendCommit, OwnerAndWorkspaceEstimate) {
    const conformance_case& k = GetParam();
    CONFORMANCE_REQUIRE(k);
    case_env e(k);
    ASSERT_TRUE(e.prof.ok()) << k.c.profile;
    if (node_level(k)) return row_pass_case(k, e.q, stage::commit);
    const commit_facts r = commit_external(k.c, e.q);
    EXPECT_EQ(r.owner, owner_of_case(k));
    EXPECT_GE(r.estimate, r.need) << "the size read before the commit is short of the committed need";
}

class BackendTransforms : public ::testing::TestWithParam<conformance_case> {};

// Forward then backward against FFTW with the library's workspace, in USM
// form on a shuffled queue and in buffer form.
TEST_P(BackendTransforms, RoundTripsMatchFftw) {
    const conformance_case& k = GetParam();
    CONFORMANCE_REQUIRE(k);
    case_env e(k);
    ASSERT_TRUE(e.prof.ok()) << k.c.profile;
    if (node_level(k)) return row_pass_case(k, e.q, stage::library_workspace);
    api_round_trips(k, e.q);
}

// The same through caller workspaces of exactly the committed size.
TEST_P(BackendTransforms, CallerWorkspacesOfTheCommittedSize) {
    const conformance_case& k = GetParam();
    CONFORMANCE_REQUIRE(k);
    case_env e(k);
    ASSERT_TRUE(e.prof.ok()) << k.c.profile;
    if (node_level(k)) return row_pass_case(k, e.q, stage::caller_workspace);
    api_caller_workspaces(k, e.q);
}

class CompositeScratch : public ::testing::TestWithParam<conformance_case> {};

// A later sub-transform needs more scratch than the first (each committed
// alone shows it), and the composite's scratch region holds that need.
TEST_P(CompositeScratch, SharedScratchHoldsTheLargestSubTransform) {
    const conformance_case& k = GetParam();
    CONFORMANCE_REQUIRE(k);
    ASSERT_EQ(k.children.size(), 2u);
    case_env e(k);
    ASSERT_TRUE(e.prof.ok()) << k.c.profile;
    const commit_facts first = commit_external(k.children[0], e.q), later = commit_external(k.children[1], e.q);
    ASSERT_LT(first.scratch, later.scratch) << "the case's later sub-transform does not need more scratch ("
                                            << first.owner << ", " << later.owner << ")";
    const commit_facts whole = commit_external(k.c, e.q);
    EXPECT_EQ(whole.owner, owner_of_case(k));
    EXPECT_GE(whole.scratch, later.scratch) << "the shared scratch is short of the later sub-transform's need";
}

class OffloadCompute : public ::testing::TestWithParam<conformance_case> {};

// An offload-mode compute runs every command on the queue of the compute.
TEST_P(OffloadCompute, EveryCommandOnTheComputeQueue) {
    const conformance_case& k = GetParam();
    CONFORMANCE_REQUIRE(k);
    case_env e(k);
    ASSERT_TRUE(e.prof.ok()) << k.c.profile;
    if (k.c.single) offload_forward<float>(k, e.q);
    else offload_forward<double>(k, e.q);
}

#ifndef OVX_CONFORMANCE_HEAVY
// Every case commits here, the heavy ones included.
INSTANTIATE_TEST_SUITE_P(Rows, BackendCommit, ::testing::ValuesIn(all_cases()), param_name);
INSTANTIATE_TEST_SUITE_P(Rows, BackendTransforms, ::testing::ValuesIn(cases_where([](const auto&) { return true; })),
                         param_name);
INSTANTIATE_TEST_SUITE_P(Composites, CompositeScratch,
                         ::testing::ValuesIn(cases_where([](const conformance_case& k) { return !k.children.empty(); })),
                         param_name);
INSTANTIATE_TEST_SUITE_P(Composites, OffloadCompute,
                         ::testing::ValuesIn(cases_where([](const conformance_case& k) { return k.offload; })),
                         param_name);

// Every row has cases in each precision it has records for, and every case
// names a row of the table.
TEST(ConformanceCases, EveryRowOfTheTableHasCases) {
    std::map<std::string, std::set<bool>> seen;  // row -> precisions (true: single)
    for (const conformance_case& k : all_cases()) {
        EXPECT_NE(row_of(k.row), nullptr) << k.row << " is no row of the backend table";
        seen[k.row].insert(k.c.single);
    }
    ASSERT_FALSE(table_rows().empty());
    for (const table_row& r : table_rows()) {
        EXPECT_TRUE(seen.count(r.stem)) << "row " << r.stem << " has no conformance case";
        if (r.single) {
            EXPECT_TRUE(seen[r.stem].count(true)) << "row " << r.stem << ": no single-precision case";
        }
        if (r.dbl) {
            EXPECT_TRUE(seen[r.stem].count(false)) << "row " << r.stem << ": no double-precision case";
        }
    }
}
#else
// The heavy cases' transforms.
INSTANTIATE_TEST_SUITE_P(Heavy, BackendTransforms, ::testing::ValuesIn(cases_where([](const auto&) { return true; })),
                         param_name);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(BackendCommit);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(CompositeScratch);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(OffloadCompute);
#endif

}  // namespace
