// The descriptor node layer: creation defaults and refusals, normalisation of
// the dimension and batch lists, the commit loop with test backend records,
// workspace binding, detach and destroy, the CPU node layer's statuses, the
// layout comparison, the workspace estimators and the verbose description.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "dft/node/ovx_dft_node.hpp"
#include "dft/contract/ovx_dft_node_ops.hpp"

namespace {

struct node_ptr {
    DFTI_DESCRIPTOR* n = nullptr;
    ~node_ptr() {
        if (n) n->methods->destroy(n);
    }
};

// ---- creation ------------------------------------------------------------------

// The lists are reached through the library's functions only (the test
// takes no address of the library's list or record objects).
const bkd_ops* last_record(bkdlist l) {
    const bkd_ops* last = nullptr;
    for (bkdlist e = l; *e; ++e) last = *e;
    return last;
}

TEST(NodeCreate, CreatorsInstallTheirLists) {
    struct row {
        int (*create1)(DFTI_DESCRIPTOR**, std::int64_t, void*);
        int (*createmd)(DFTI_DESCRIPTOR**, std::int64_t, const std::int64_t*, void*);
        int precision, domain;
    };
    const row rows[] = {
        {gpu_dfti_create_sc1d, nullptr, DFTI_SINGLE, DFTI_COMPLEX},
        {gpu_dfti_create_dc1d, nullptr, DFTI_DOUBLE, DFTI_COMPLEX},
        {gpu_dfti_create_sr1d, nullptr, DFTI_SINGLE, DFTI_REAL},
        {gpu_dfti_create_dr1d, nullptr, DFTI_DOUBLE, DFTI_REAL},
        {nullptr, gpu_dfti_create_scmd, DFTI_SINGLE, DFTI_COMPLEX},
        {nullptr, gpu_dfti_create_dcmd, DFTI_DOUBLE, DFTI_COMPLEX},
        {nullptr, gpu_dfti_create_srmd, DFTI_SINGLE, DFTI_REAL},
        {nullptr, gpu_dfti_create_drmd, DFTI_DOUBLE, DFTI_REAL},
    };
    const std::int64_t l2[2] = {8, 4};
    std::vector<bkdlist> seen;
    for (const row& r : rows) {
        node_ptr p;
        int st = r.create1 ? r.create1(&p.n, 32, nullptr) : r.createmd(&p.n, 2, l2, nullptr);
        ASSERT_EQ(st, 0);
        EXPECT_EQ(p.n->bkdlist, gpu_dfti_select_bkdlist(r.precision, r.domain, r.create1 ? 1 : 2));
        EXPECT_EQ(p.n->bkdlist, gpu_dfti_select_bkdlist(r.precision, r.domain, r.create1 ? 1 : 3));
        EXPECT_EQ(p.n->precision, r.precision);
        EXPECT_EQ(p.n->forward_domain, r.domain);
        EXPECT_EQ(p.n->rank, r.create1 ? 1 : 2);
        // Eight distinct lists, each ending with the terminal record, which
        // answers 6 and owns no node.
        EXPECT_EQ(std::count(seen.begin(), seen.end(), p.n->bkdlist), 0);
        seen.push_back(p.n->bkdlist);
        const bkd_ops* term = last_record(p.n->bkdlist);
        ASSERT_NE(term, nullptr);
        EXPECT_EQ(term->commit(term, p.n), 6);
        EXPECT_EQ(term, last_record(seen.front()));
    }
}

TEST(NodeCreate, Refusals) {
    const std::int64_t ok[2] = {4, 4}, zero[2] = {4, 0};
    DFTI_DESCRIPTOR* n = reinterpret_cast<DFTI_DESCRIPTOR*>(1);
    struct row { int precision, domain; std::int64_t rank; const std::int64_t* l; int status; };
    const row rows[] = {
        {34, DFTI_COMPLEX, 2, ok, 2}, {DFTI_SINGLE, 31, 2, ok, 2}, {DFTI_SINGLE, DFTI_COMPLEX, 0, ok, 2},
        {DFTI_SINGLE, DFTI_COMPLEX, 8, ok, 2}, {DFTI_SINGLE, DFTI_COMPLEX, 2, zero, 2},
        {DFTI_SINGLE, DFTI_COMPLEX, 2, nullptr, 2},
    };
    for (const row& r : rows) {
        EXPECT_EQ(gpu_dfti_create_node(&n, r.precision, r.domain, r.rank, r.l, nullptr), r.status);
        EXPECT_EQ(n, nullptr);
    }
    EXPECT_EQ(gpu_dfti_create_node(nullptr, DFTI_SINGLE, DFTI_COMPLEX, 2, ok, nullptr), 3);
}

// ---- normalisation ----------------------------------------------------------------

struct norm_case {
    const char* name;
    int domain;
    std::vector<dfti_dim> dims;   // user dimension records (node order)
    std::vector<dfti_dim> batch;  // user batch records (the rest stay {1,0,0,0,0})
    std::vector<dfti_dim> want_dims;
    std::vector<dfti_dim> want_batch;
    int status;
};

bool same(const dfti_dim& a, const dfti_dim& b) {
    return a.length == b.length && a.input_stride == b.input_stride && a.output_stride == b.output_stride &&
           a.fwd_stride == b.fwd_stride && a.bwd_stride == b.bwd_stride;
}

class Normalize : public ::testing::TestWithParam<norm_case> {};

TEST_P(Normalize, WorkingLists) {
    const norm_case& c = GetParam();
    std::vector<std::int64_t> lengths;
    for (auto& d : c.dims) lengths.push_back(d.length);
    node_ptr p;
    ASSERT_EQ(gpu_dfti_create_node(&p.n, DFTI_SINGLE, c.domain, static_cast<std::int64_t>(lengths.size()),
                                   lengths.data(), nullptr),
              0);
    for (std::size_t i = 0; i < c.dims.size(); ++i) p.n->user_dims.records[i] = c.dims[i];
    for (std::size_t i = 0; i < c.batch.size(); ++i) p.n->user_batch.records[i] = c.batch[i];
    ASSERT_EQ(dfti_normalize_node(p.n), c.status);
    if (c.status) return;
    ASSERT_EQ(p.n->working_dims.count, static_cast<std::int64_t>(c.want_dims.size()));
    EXPECT_EQ(p.n->working_rank, static_cast<std::int32_t>(c.want_dims.size()));
    for (std::size_t i = 0; i < c.want_dims.size(); ++i)
        EXPECT_TRUE(same(p.n->working_dims.records[i], c.want_dims[i])) << "dimension record " << i;
    ASSERT_EQ(p.n->working_batch.count, static_cast<std::int64_t>(c.want_batch.size()));
    for (std::size_t i = 0; i < c.want_batch.size(); ++i)
        EXPECT_TRUE(same(p.n->working_batch.records[i], c.want_batch[i])) << "batch record " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Table, Normalize,
    ::testing::Values(
        norm_case{"plain", DFTI_COMPLEX, {{8, 1, 1, 0, 0}}, {}, {{8, 1, 1, 0, 0}}, {{1, 0, 0, 0, 0}}, 0},
        norm_case{"single_keeps_distances", DFTI_COMPLEX, {{8, 1, 1, 0, 0}}, {{1, 8, 8, 0, 0}}, {{8, 1, 1, 0, 0}},
                  {{1, 8, 8, 0, 0}}, 0},
        norm_case{"batch_kept", DFTI_COMPLEX, {{8, 1, 1, 0, 0}}, {{5, 8, 8, 0, 0}}, {{8, 1, 1, 0, 0}},
                  {{5, 8, 8, 0, 0}}, 0},
        norm_case{"count1_dropped", DFTI_COMPLEX, {{8, 1, 1, 0, 0}}, {{1, 8, 8, 0, 0}, {3, 100, 100, 0, 0}},
                  {{8, 1, 1, 0, 0}}, {{3, 100, 100, 0, 0}}, 0},
        norm_case{"continuing_records_fused", DFTI_COMPLEX, {{8, 1, 1, 0, 0}},
                  {{4, 8, 8, 0, 0}, {3, 32, 32, 0, 0}}, {{8, 1, 1, 0, 0}}, {{12, 8, 8, 0, 0}}, 0},
        norm_case{"sorted_then_fused", DFTI_COMPLEX, {{8, 1, 1, 0, 0}},
                  {{3, 0, 0, 32, 32}, {4, 0, 0, 8, 8}}, {{8, 1, 1, 0, 0}}, {{12, 0, 0, 8, 8}}, 0},
        norm_case{"gap_not_fused", DFTI_COMPLEX, {{8, 1, 1, 0, 0}},
                  {{4, 8, 8, 0, 0}, {3, 40, 40, 0, 0}}, {{8, 1, 1, 0, 0}}, {{4, 8, 8, 0, 0}, {3, 40, 40, 0, 0}}, 0},
        norm_case{"output_side_blocks_fusion", DFTI_COMPLEX, {{8, 1, 1, 0, 0}},
                  {{4, 8, 8, 0, 0}, {3, 32, 33, 0, 0}}, {{8, 1, 1, 0, 0}}, {{4, 8, 8, 0, 0}, {3, 32, 33, 0, 0}}, 0},
        norm_case{"complex_length1_dim_dropped", DFTI_COMPLEX, {{8, 1, 1, 0, 0}, {1, 8, 8, 0, 0}},
                  {}, {{8, 1, 1, 0, 0}}, {{1, 0, 0, 0, 0}}, 0},
        norm_case{"all_length1_keeps_innermost", DFTI_COMPLEX, {{1, 1, 1, 0, 0}, {1, 1, 1, 0, 0}},
                  {}, {{1, 1, 1, 0, 0}}, {{1, 0, 0, 0, 0}}, 0},
        norm_case{"complex_dims_sorted", DFTI_COMPLEX, {{8, 16, 16, 0, 0}, {16, 1, 1, 0, 0}},
                  {}, {{16, 1, 1, 0, 0}, {8, 16, 16, 0, 0}}, {{1, 0, 0, 0, 0}}, 0},
        norm_case{"complex_dims_sorted_by_fwd", DFTI_COMPLEX, {{8, 0, 0, 16, 16}, {16, 0, 0, 1, 1}},
                  {}, {{16, 0, 0, 1, 1}, {8, 0, 0, 16, 16}}, {{1, 0, 0, 0, 0}}, 0},
        norm_case{"real_dims_keep_their_order_without_outer_unit_lengths", DFTI_REAL,
                  {{8, 16, 16, 0, 0}, {1, 1, 1, 0, 0}, {4, 1, 1, 0, 0}}, {},
                  {{8, 16, 16, 0, 0}, {4, 1, 1, 0, 0}}, {{1, 0, 0, 0, 0}}, 0},
        norm_case{"real_innermost_unit_length_stays", DFTI_REAL, {{1, 1, 1, 0, 0}, {4, 1, 1, 0, 0}}, {},
                  {{1, 1, 1, 0, 0}, {4, 1, 1, 0, 0}}, {{1, 0, 0, 0, 0}}, 0},
        norm_case{"negative_stride", DFTI_COMPLEX, {{8, -1, 1, 0, 0}}, {}, {}, {}, 3},
        norm_case{"negative_distance", DFTI_COMPLEX, {{8, 1, 1, 0, 0}}, {{2, 8, -8, 0, 0}}, {}, {}, 3}),
    [](const ::testing::TestParamInfo<norm_case>& i) { return std::string(i.param.name); });

TEST(Normalize, NegativeOffsetRefused) {
    node_ptr p;
    ASSERT_EQ(gpu_dfti_create_sc1d(&p.n, 8, nullptr), 0);
    p.n->fwd_offset = -1;
    EXPECT_EQ(dfti_normalize_node(p.n), 3);
}

// A complex transform in place writes where it reads: the input strides and
// a one-sided distance hold for the output side too, even over the
// creator's packed output strides; out of place, and for real transforms,
// the sides stay as given.
TEST(Normalize, InPlaceComplexOutputSideIsTheInputSide) {
    for (int domain : {DFTI_COMPLEX, DFTI_REAL}) {
        for (int placement : {DFTI_INPLACE, DFTI_NOT_INPLACE}) {
            node_ptr p;
            const std::int64_t n = 8;
            ASSERT_EQ(gpu_dfti_create_node(&p.n, DFTI_SINGLE, domain, 1, &n, nullptr), 0);
            p.n->placement = placement;
            p.n->user_dims.records[0] = {8, 2, 1, 0, 0};
            p.n->user_batch.records[0] = {3, 16, 0, 0, 0};
            ASSERT_EQ(dfti_normalize_node(p.n), 0);
            const bool mirrored = domain == DFTI_COMPLEX && placement == DFTI_INPLACE;
            EXPECT_TRUE(same(p.n->working_dims.records[0], {8, 2, mirrored ? 2 : 1, 0, 0}))
                << domain << " " << placement;
            EXPECT_TRUE(same(p.n->working_batch.records[0], {3, 16, mirrored ? 16 : 0, 0, 0}))
                << domain << " " << placement;
            // Only the output side given: it is the input side too.
            p.n->user_dims.records[0] = {8, 0, 3, 0, 0};
            ASSERT_EQ(dfti_normalize_node(p.n), 0);
            EXPECT_TRUE(same(p.n->working_dims.records[0], {8, mirrored ? 3 : 0, 3, 0, 0}));
        }
    }
}

// ---- test backend records ------------------------------------------------------------

struct record_log {
    int commits = 0, frees = 0, workspaces = 0;
    void* last_base = nullptr;
    int last_kind = 0;
    std::uint64_t last_offset = 99;
    std::uint32_t last_phase = 99;
    bool had_events = true;
};

// Test records: `accepting` takes the node (after detaching a previous owner,
// as every backend does), `refusing` answers 100, `failing` answers 5 after
// taking the node, `unowned` frees only its own nodes (7 otherwise).
struct test_record {
    bkd_ops ops;
    int answer;
    record_log log;
};
test_record* self_of(const bkd_ops* r) { return reinterpret_cast<test_record*>(const_cast<bkd_ops*>(r)); }

int dummy_compute(DFTI_DESCRIPTOR*, void*, void*, std::vector<sycl::event>*, const dfti_data_kind*, sycl::event*) { return 0; }

int rec_commit(const bkd_ops* r, DFTI_DESCRIPTOR* n) {
    test_record* t = self_of(r);
    ++t->log.commits;
    if (t->answer == DFTI_STATUS_NOT_APPLICABLE) return t->answer;
    if (n->bkd && n->bkd != r) n->detach_backend(n);
    n->bkd = r;
    if (t->answer != 0) return t->answer;
    n->bkd_data = &t->log;
    n->compute_fwd = n->compute_bwd = dummy_compute;
    n->commit_status = DFTI_COMMITTED;
    return 0;
}
int rec_free(const bkd_ops* r, DFTI_DESCRIPTOR* n) {
    if (n->bkd != r) return DFTI_STATUS_INTERNAL;
    ++self_of(r)->log.frees;
    n->bkd_data = nullptr;
    return 0;
}
int rec_workspace(void* base, int kind, std::uint64_t offset, DFTI_DESCRIPTOR* n, std::uint32_t phase,
                  std::vector<sycl::event>* events) {
    test_record* t = self_of(n->bkd);
    ++t->log.workspaces;
    t->log.last_base = base;
    t->log.last_kind = kind;
    t->log.last_offset = offset;
    t->log.last_phase = phase;
    t->log.had_events = events != nullptr;
    return t->answer == 0 ? 0 : DFTI_STATUS_NO_WORKSPACE;
}

test_record make_record(int answer) { return test_record{{rec_commit, rec_free, rec_workspace}, answer, {}}; }

struct loop_case {
    const char* name;
    std::vector<int> answers;  // one record per answer, in list order
    int status;
    int owner;                 // index of the record owning the node after commit, or -1
};

class CommitLoop : public ::testing::TestWithParam<loop_case> {};

TEST_P(CommitLoop, TriesRecordsInOrder) {
    const loop_case& c = GetParam();
    std::vector<test_record> recs;
    recs.reserve(c.answers.size());
    for (int a : c.answers) recs.push_back(make_record(a));
    std::vector<const bkd_ops*> list;
    for (auto& r : recs) list.push_back(&r.ops);
    list.push_back(nullptr);
    node_ptr p;
    ASSERT_EQ(gpu_dfti_create_sc1d(&p.n, 16, nullptr), 0);
    p.n->bkdlist = list.data();
    EXPECT_EQ(p.n->methods->commit(p.n), c.status);
    // Every record up to the first accepting one is tried exactly once; none after it.
    bool done = false;
    for (std::size_t i = 0; i < recs.size(); ++i) {
        EXPECT_EQ(recs[i].log.commits, done ? 0 : 1) << "record " << i;
        if (c.answers[i] == 0) done = true;
    }
    if (c.owner >= 0) {
        EXPECT_EQ(p.n->bkd, &recs[c.owner].ops);
        EXPECT_EQ(p.n->commit_status, DFTI_COMMITTED);
    } else {
        EXPECT_NE(p.n->commit_status, DFTI_COMMITTED);
    }
    p.n->methods->destroy(p.n);
    p.n = nullptr;
    // A failing record that took the node is released at destruction; the
    // accepting owner too, exactly once.
    int frees = 0;
    for (auto& r : recs) frees += r.log.frees;
    EXPECT_LE(frees, static_cast<int>(recs.size()));
    if (c.owner >= 0) {
        EXPECT_EQ(recs[c.owner].log.frees, 1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, CommitLoop,
    ::testing::Values(loop_case{"first_accepts", {0, 0}, 0, 0},
                      loop_case{"second_accepts", {100, 0}, 0, 1},
                      loop_case{"failure_moves_on", {5, 0}, 0, 1},
                      loop_case{"all_refuse_gives_3", {100, 100}, 3, -1},
                      loop_case{"last_status_reported", {100, 7}, 7, -1},
                      loop_case{"earlier_failure_not_reported", {5, 100}, 3, -1},
                      loop_case{"terminal_like_answer_6", {100, 6}, 6, -1}),
    [](const ::testing::TestParamInfo<loop_case>& i) { return std::string(i.param.name); });

TEST(CommitLoop, EmptyOrMissingListGives3) {
    node_ptr p;
    ASSERT_EQ(gpu_dfti_create_sc1d(&p.n, 16, nullptr), 0);
    const bkd_ops* empty[] = {nullptr};
    p.n->bkdlist = empty;
    EXPECT_EQ(gpu_dfti_commit_bkdlist(p.n), 3);
    p.n->bkdlist = nullptr;
    EXPECT_EQ(gpu_dfti_commit_bkdlist(p.n), 3);
}

TEST(CommitLoop, TerminalRecord) {
    node_ptr p;
    ASSERT_EQ(gpu_dfti_create_dc1d(&p.n, 64, nullptr), 0);
    const bkd_ops* terminal = last_record(gpu_dfti_select_bkdlist(DFTI_DOUBLE, DFTI_REAL, 3));
    const bkd_ops* only_terminal[] = {terminal, nullptr};
    p.n->bkdlist = only_terminal;
    EXPECT_EQ(p.n->methods->commit(p.n), 6);
    EXPECT_EQ(terminal->free(terminal, p.n), 7);  // not its node
    EXPECT_EQ(terminal->add_workspace(nullptr, 2, 0, p.n, 2, nullptr), 2);
}

TEST(CommitLoop, NewOwnerReleasesThePreviousOne) {
    test_record a = make_record(0), b = make_record(0);
    const bkd_ops* la[] = {&a.ops, nullptr};
    const bkd_ops* lb[] = {&b.ops, nullptr};
    node_ptr p;
    ASSERT_EQ(gpu_dfti_create_sc1d(&p.n, 16, nullptr), 0);
    p.n->bkdlist = la;
    ASSERT_EQ(p.n->methods->commit(p.n), 0);
    p.n->bkdlist = lb;
    ASSERT_EQ(p.n->methods->commit(p.n), 0);
    EXPECT_EQ(a.log.frees, 1);
    EXPECT_EQ(p.n->bkd, &b.ops);
    // A record asked to free a node it does not own answers 7 and frees nothing.
    EXPECT_EQ(a.ops.free(&a.ops, p.n), 7);
    EXPECT_EQ(a.log.frees, 1);
}

// ---- workspace, detach, destroy ------------------------------------------------------------

TEST(NodeWorkspace, SetWorkspace) {
    test_record ok = make_record(0);
    const bkd_ops* list[] = {&ok.ops, nullptr};
    node_ptr p;
    ASSERT_EQ(gpu_dfti_create_sc1d(&p.n, 16, nullptr), 0);
    char area[64];
    EXPECT_EQ(gpu_dfti_set_workspace(p.n, area, DFTI_CONTAINER_USM), 2);  // no owner
    EXPECT_EQ(ok.log.workspaces, 0);
    p.n->bkdlist = list;
    ASSERT_EQ(p.n->methods->commit(p.n), 0);
    ASSERT_EQ(p.n->internal_workspace, 1u);
    EXPECT_EQ(p.n->methods->set_workspace(p.n, area, DFTI_CONTAINER_USM), 0);
    EXPECT_EQ(ok.log.last_base, area);
    EXPECT_EQ(ok.log.last_kind, DFTI_CONTAINER_USM);
    EXPECT_EQ(ok.log.last_offset, 0u);
    EXPECT_EQ(ok.log.last_phase, 2u);
    EXPECT_TRUE(ok.log.had_events);  // the binding collects its table writes to wait for them
    EXPECT_EQ(p.n->workspace_kind, DFTI_CONTAINER_USM);
    EXPECT_EQ(p.n->internal_workspace, 0u);
}

TEST(NodeWorkspace, FailedBindingKeepsState) {
    test_record bad = make_record(0);
    const bkd_ops* list[] = {&bad.ops, nullptr};
    node_ptr p;
    ASSERT_EQ(gpu_dfti_create_sc1d(&p.n, 16, nullptr), 0);
    p.n->bkdlist = list;
    ASSERT_EQ(p.n->methods->commit(p.n), 0);
    bad.answer = 11;  // the binding now fails
    char area[64];
    EXPECT_EQ(gpu_dfti_set_workspace(p.n, area, DFTI_CONTAINER_BUFFER), 11);
    EXPECT_EQ(p.n->workspace_kind, 0);
    EXPECT_EQ(p.n->internal_workspace, 1u);
}

int hook_calls = 0;
void test_hook(DFTI_DESCRIPTOR*) { ++hook_calls; }

TEST(NodeDetach, ReleasesEverything) {
    test_record owner = make_record(0), sub_owner = make_record(0);
    const bkd_ops* list[] = {&owner.ops, nullptr};
    const bkd_ops* sub_list[] = {&sub_owner.ops, nullptr};
    node_ptr p;
    ASSERT_EQ(gpu_dfti_create_sc1d(&p.n, 16, nullptr), 0);
    DFTI_DESCRIPTOR* sub = nullptr;
    ASSERT_EQ(gpu_dfti_create_sc1d(&sub, 4, nullptr), 0);
    sub->bkdlist = sub_list;
    ASSERT_EQ(sub->methods->commit(sub), 0);
    p.n->bkdlist = list;
    ASSERT_EQ(p.n->methods->commit(p.n), 0);
    p.n->sub_node = sub;
    p.n->detach_hook = test_hook;
    p.n->flags = 3;
    hook_calls = 0;
    detach_backend(p.n);
    EXPECT_EQ(owner.log.frees, 1);
    EXPECT_EQ(sub_owner.log.frees, 1);  // the chained sub-node was destroyed
    EXPECT_EQ(p.n->sub_node, nullptr);
    EXPECT_EQ(p.n->bkd, nullptr);
    EXPECT_EQ(hook_calls, 1);
    EXPECT_EQ(p.n->detach_hook, nullptr);
    EXPECT_EQ(p.n->commit_status, DFTI_UNCOMMITTED);
    EXPECT_EQ(p.n->compute_fwd, nullptr);
    EXPECT_EQ(p.n->compute_bwd, nullptr);
    EXPECT_EQ(p.n->flags, 2u);
}

TEST(NodeDetach, SettersReleaseTheOwner) {
    test_record owner = make_record(0);
    const bkd_ops* list[] = {&owner.ops, nullptr};
    node_ptr p;
    ASSERT_EQ(gpu_dfti_create_sc1d(&p.n, 16, nullptr), 0);
    p.n->bkdlist = list;
    const std::int64_t strides[2] = {0, 2};
    struct step { const char* name; int (*call)(DFTI_DESCRIPTOR*); int status; };
    static const std::int64_t* s = strides;
    const step steps[] = {
        {"input strides", [](DFTI_DESCRIPTOR* n) { return gpu_dfti_set_input_strides(n, s); }, 0},
        {"output strides", [](DFTI_DESCRIPTOR* n) { return gpu_dfti_set_output_strides(n, s); }, 0},
        {"input distance", [](DFTI_DESCRIPTOR* n) { return gpu_dfti_set_input_distance(n, 32); }, 0},
        {"output distance", [](DFTI_DESCRIPTOR* n) { return gpu_dfti_set_output_distance(n, 32); }, 0},
        {"transforms", [](DFTI_DESCRIPTOR* n) { return gpu_dfti_set_number_of_transforms(n, 2); }, 0},
    };
    int frees = 0;
    for (const step& st : steps) {
        ASSERT_EQ(p.n->methods->commit(p.n), 0);
        EXPECT_EQ(st.call(p.n), st.status) << st.name;
        EXPECT_EQ(owner.log.frees, ++frees) << st.name;
        EXPECT_EQ(p.n->commit_status, DFTI_UNCOMMITTED) << st.name;
    }
    EXPECT_EQ(p.n->user_dims.records[0].input_stride, 2);
    EXPECT_EQ(p.n->user_batch.records[0].length, 2);
    EXPECT_EQ(p.n->user_batch.records[0].input_stride, 32);
}

// The thread limit changes no layout: it is stored and the binding stays.
TEST(NodeSetters, ThreadLimitKeepsTheBinding) {
    test_record owner = make_record(0);
    const bkd_ops* list[] = {&owner.ops, nullptr};
    node_ptr p;
    ASSERT_EQ(gpu_dfti_create_sc1d(&p.n, 16, nullptr), 0);
    p.n->bkdlist = list;
    ASSERT_EQ(p.n->methods->commit(p.n), 0);
    EXPECT_EQ(p.n->methods->set_thread_limit(p.n, 1), 0);
    EXPECT_EQ(owner.log.frees, 0);
    EXPECT_EQ(p.n->commit_status, DFTI_COMMITTED);
    EXPECT_EQ(p.n->bkd, &owner.ops);
    EXPECT_EQ(p.n->thread_limit, 1);
    EXPECT_EQ(gpu_dfti_set_thread_limit(p.n, -1), 3);
    EXPECT_EQ(p.n->thread_limit, 1);
    EXPECT_EQ(p.n->commit_status, DFTI_COMMITTED);
}

TEST(NodeSetters, Refusals) {
    node_ptr p;
    ASSERT_EQ(gpu_dfti_create_sc1d(&p.n, 16, nullptr), 0);
    EXPECT_EQ(gpu_dfti_set_number_of_transforms(p.n, 0), 3);
    EXPECT_EQ(gpu_dfti_set_number_of_transforms(p.n, -4), 3);
    EXPECT_EQ(p.n->user_batch.records[0].length, 1);
    EXPECT_EQ(gpu_dfti_set_input_strides(p.n, nullptr), 3);
}

TEST(NodeSetters, NameIsCutAndFilled) {
    node_ptr p;
    ASSERT_EQ(gpu_dfti_create_sc1d(&p.n, 16, nullptr), 0);
    EXPECT_EQ(p.n->methods->set_name(p.n, "1DL|col_t_extra", 15, ' '), 0);
    EXPECT_EQ(std::string(p.n->name, 10), "1DL|col_t_");
    EXPECT_EQ(gpu_dfti_set_name(p.n, "abc", 3, '*'), 0);
    EXPECT_EQ(std::string(p.n->name, 10), "abc*******");
    char got[10];
    p.n->methods->get_name(p.n, got);
    EXPECT_EQ(std::string(got, 10), "abc*******");
}

TEST(NodeCopy, CopiesConfigurationNotBinding) {
    test_record owner = make_record(0);
    const bkd_ops* list[] = {&owner.ops, nullptr};
    node_ptr p, c;
    const std::int64_t l[2] = {8, 6};
    ASSERT_EQ(gpu_dfti_create_scmd(&p.n, 2, l, nullptr), 0);
    p.n->bkdlist = list;
    p.n->colbatch_group_count = 4;
    ASSERT_EQ(p.n->methods->commit(p.n), 0);
    ASSERT_EQ(p.n->methods->copy(p.n, &c.n), 0);
    EXPECT_NE(c.n->user_dims.records, p.n->user_dims.records);
    EXPECT_EQ(c.n->user_dims.records[1].length, 6);
    EXPECT_EQ(c.n->colbatch_group_count, 4);
    EXPECT_EQ(c.n->thread_word, 1);
    EXPECT_EQ(c.n->bkd, nullptr);
    EXPECT_EQ(c.n->commit_status, DFTI_UNCOMMITTED);
    EXPECT_TRUE(dfti_nodes_same_layout(c.n, c.n) == false);
}

// ---- layout comparison --------------------------------------------------------------------

TEST(SameLayout, FieldByField) {
    node_ptr a, b;
    ASSERT_EQ(gpu_dfti_create_sc1d(&a.n, 16, nullptr), 0);
    ASSERT_EQ(gpu_dfti_create_sc1d(&b.n, 16, nullptr), 0);
    EXPECT_TRUE(dfti_nodes_same_layout(a.n, b.n));
    EXPECT_FALSE(dfti_nodes_same_layout(a.n, a.n));
    EXPECT_FALSE(dfti_nodes_same_layout(a.n, nullptr));
    EXPECT_FALSE(dfti_nodes_same_layout(nullptr, b.n));
    struct change { const char* name; void (*apply)(DFTI_DESCRIPTOR*); };
    const change changes[] = {
        {"length", [](DFTI_DESCRIPTOR* n) { n->user_dims.records[0].length = 8; }},
        {"stride", [](DFTI_DESCRIPTOR* n) { n->user_dims.records[0].input_stride = 2; }},
        {"batch", [](DFTI_DESCRIPTOR* n) { n->user_batch.records[0].length = 2; }},
        {"placement", [](DFTI_DESCRIPTOR* n) { n->placement = DFTI_NOT_INPLACE; }},
        {"scale", [](DFTI_DESCRIPTOR* n) { n->backward_scale = 0.5; }},
        {"directions", [](DFTI_DESCRIPTOR* n) { n->directions = 0; }},
        {"sub-node mark", [](DFTI_DESCRIPTOR* n) { n->is_sub_node = 1; }},
        {"thread limit", [](DFTI_DESCRIPTOR* n) { n->thread_limit = 1; }},
        {"workspace ownership", [](DFTI_DESCRIPTOR* n) { n->internal_workspace = 0; }},
        {"queue mode", [](DFTI_DESCRIPTOR* n) { n->queue_mode = 2; }},
        {"commit status", [](DFTI_DESCRIPTOR* n) { n->commit_status = DFTI_COMMITTED; }},
        {"storage", [](DFTI_DESCRIPTOR* n) { n->complex_storage = DFTI_REAL_REAL; }},
        {"destroy input", [](DFTI_DESCRIPTOR* n) { n->destroy_input = 16; }},
        {"creation word", [](DFTI_DESCRIPTOR* n) { n->thread_word = 0; }},
        {"output offset", [](DFTI_DESCRIPTOR* n) { n->output_offset = 1; }},
        {"NaN scale", [](DFTI_DESCRIPTOR* n) { n->forward_scale = std::nan(""); }},
    };
    // A NaN scale never matches, not even itself.
    node_ptr n1, n2;
    ASSERT_EQ(gpu_dfti_create_sc1d(&n1.n, 16, nullptr), 0);
    ASSERT_EQ(gpu_dfti_create_sc1d(&n2.n, 16, nullptr), 0);
    n1.n->forward_scale = n2.n->forward_scale = std::nan("");
    EXPECT_FALSE(dfti_nodes_same_layout(n1.n, n2.n));
    // The name is not compared.
    std::memcpy(n1.n->name, "other name", 10);
    n1.n->forward_scale = n2.n->forward_scale = 1.0;
    EXPECT_TRUE(dfti_nodes_same_layout(n1.n, n2.n));
    for (const change& c : changes) {
        node_ptr x;
        ASSERT_EQ(gpu_dfti_create_sc1d(&x.n, 16, nullptr), 0);
        c.apply(x.n);
        EXPECT_FALSE(dfti_nodes_same_layout(a.n, x.n)) << c.name;
    }
}

// ---- CPU node layer ---------------------------------------------------------------------------

TEST(CpuNode, CreateStatuses) {
    DFTI_DESCRIPTOR* h = reinterpret_cast<DFTI_DESCRIPTOR*>(1);
    EXPECT_EQ(dfti_create_descriptor_s_1d(nullptr, DFTI_COMPLEX, 8), 3);
    EXPECT_EQ(dfti_create_descriptor_s_1d(&h, DFTI_COMPLEX, 0), 2);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(dfti_create_descriptor_d_1d(&h, 34, 8), 2);
    const std::int64_t l[3] = {2, 3, 4}, bad[2] = {2, 0};
    EXPECT_EQ(dfti_create_descriptor_s_md(nullptr, DFTI_REAL, 3, l), 3);
    EXPECT_EQ(dfti_create_descriptor_s_md(&h, DFTI_REAL, 0, l), 2);
    EXPECT_EQ(dfti_create_descriptor_s_md(&h, DFTI_REAL, 8, l), 2);
    EXPECT_EQ(dfti_create_descriptor_d_md(&h, DFTI_REAL, 3, nullptr), 3);
    EXPECT_EQ(dfti_create_descriptor_d_md(&h, DFTI_REAL, 2, bad), 2);
    EXPECT_EQ(dfti_create_descriptor_d_md(&h, 40, 3, l), 2);
    ASSERT_EQ(dfti_create_descriptor_d_md(&h, DFTI_COMPLEX, 3, l), 0);
    // Lengths outermost first become node order (innermost first).
    std::int64_t got[3];
    h->methods->get_lengths(h, got);
    EXPECT_EQ(got[0], 4);
    EXPECT_EQ(got[2], 2);
    std::int64_t rank = 0;
    h->methods->get_rank(h, &rank);
    EXPECT_EQ(rank, 3);
    EXPECT_EQ(dfti_free_descriptor(&h), 0);
    EXPECT_EQ(h, nullptr);
}

struct setv_case {
    const char* name;
    int param;
    std::int64_t i;  // integer values
    int v;           // enumerated values
    int status;
};

class CpuSetValue : public ::testing::TestWithParam<setv_case> {};

TEST_P(CpuSetValue, Status) {
    const setv_case& c = GetParam();
    DFTI_DESCRIPTOR* h = nullptr;
    const std::int64_t l[2] = {4, 8};
    ASSERT_EQ(dfti_create_descriptor_s_md(&h, DFTI_REAL, std::string(c.name).find("rank1") == 0 ? 1 : 2, l), 0);
    int st;
    switch (c.param) {
    case 10: case 11: case 17: st = dfti_set_value(h, c.param, c.v); break;
    default: st = dfti_set_value(h, c.param, c.i); break;
    }
    EXPECT_EQ(st, c.status);
    dfti_free_descriptor(&h);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CpuSetValue,
    ::testing::Values(setv_case{"transforms", 7, 4, 0, 0}, setv_case{"transforms_zero", 7, 0, 0, 3},
                      setv_case{"ce_cce", 10, 0, 39, 0}, setv_case{"ce_40_rank2", 10, 0, 40, 3},
                      setv_case{"rank1_ce_40", 10, 0, 40, 0}, setv_case{"ce_41", 10, 0, 41, 6},
                      setv_case{"ce_42", 10, 0, 42, 6}, setv_case{"ce_other", 10, 0, 50, 3},
                      setv_case{"placement_in", 11, 0, 43, 0}, setv_case{"placement_out", 11, 0, 44, 0},
                      setv_case{"placement_bad", 11, 0, 45, 3}, setv_case{"input_distance", 14, 64, 0, 0},
                      setv_case{"output_distance", 15, 64, 0, 0}, setv_case{"workspace_allow", 17, 0, 51, 0},
                      setv_case{"workspace_avoid", 17, 0, 52, 0}, setv_case{"workspace_bad", 17, 0, 53, 3},
                      setv_case{"thread_limit", 27, 1, 0, 0}, setv_case{"thread_limit_negative", 27, -1, 0, 3},
                      setv_case{"above_28", 29, 1, 0, 3}, setv_case{"scale_not_handled", 4, 1, 0, 3},
                      setv_case{"lengths_not_handled", 2, 1, 0, 3}),
    [](const ::testing::TestParamInfo<setv_case>& i) { return std::string(i.param.name); });

TEST(CpuNode, SetValueStridesAreReordered) {
    DFTI_DESCRIPTOR* h = nullptr;
    const std::int64_t l[3] = {2, 3, 4};
    ASSERT_EQ(dfti_create_descriptor_s_md(&h, DFTI_COMPLEX, 3, l), 0);
    const std::int64_t in[4] = {5, 24, 8, 2};  // offset, then outermost first
    ASSERT_EQ(dfti_set_value(h, 12, in), 0);
    std::int64_t got[4];
    h->methods->get_input_strides(h, got);
    EXPECT_EQ(got[0], 5);
    EXPECT_EQ(got[1], 2);
    EXPECT_EQ(got[2], 8);
    EXPECT_EQ(got[3], 24);
    EXPECT_EQ(dfti_set_value(h, 13, static_cast<const std::int64_t*>(nullptr)), 3);
    dfti_free_descriptor(&h);
}

TEST(CpuNode, SetValueMarksUncommittedAndChecksMarker) {
    DFTI_DESCRIPTOR* h = nullptr;
    ASSERT_EQ(dfti_create_descriptor_d_1d(&h, DFTI_COMPLEX, 16), 0);
    ASSERT_EQ(dfti_commit_descriptor(h), 0);
    EXPECT_EQ(h->commit_status, DFTI_COMMITTED);
    EXPECT_NE(h->cpu_compute_fwd, nullptr);
    EXPECT_EQ(dfti_set_value(h, 7, std::int64_t{2}), 0);
    EXPECT_EQ(h->commit_status, DFTI_UNCOMMITTED);
    EXPECT_EQ(h->cpu_compute_fwd, nullptr);
    EXPECT_EQ(dfti_set_value(nullptr, 7, std::int64_t{2}), 5);
    std::uint32_t marker = h->marker;
    h->marker = 0;
    EXPECT_EQ(dfti_set_value(h, 7, std::int64_t{2}), 5);
    EXPECT_EQ(dfti_commit_descriptor(h), 5);
    DFTI_DESCRIPTOR* copy = h;
    EXPECT_EQ(dfti_free_descriptor(&copy), 5);
    h->marker = marker;
    dfti_free_descriptor(&h);
}

TEST(CpuNode, CommitAndFreeStatuses) {
    EXPECT_EQ(dfti_commit_descriptor(nullptr), 5);
    EXPECT_EQ(dfti_free_descriptor(nullptr), 3);
    DFTI_DESCRIPTOR* none = nullptr;
    EXPECT_EQ(dfti_free_descriptor(&none), 5);
    DFTI_DESCRIPTOR* h = nullptr;
    ASSERT_EQ(dfti_create_descriptor_s_1d(&h, DFTI_REAL, 16), 0);
    h->packed_format = DFTI_CCS_FORMAT;  // 39 with a packed format other than 57
    EXPECT_EQ(dfti_commit_descriptor(h), 3);
    ASSERT_EQ(dfti_set_value(h, 10, 40), 0);
    h->packed_format = DFTI_CCE_FORMAT;  // 40 with 57
    EXPECT_EQ(dfti_commit_descriptor(h), 3);
    h->packed_format = DFTI_CCS_FORMAT;  // 40 with CCS: committed
    EXPECT_EQ(dfti_commit_descriptor(h), 0);
    ASSERT_EQ(dfti_set_value(h, 10, 39), 0);
    EXPECT_EQ(h->packed_format, DFTI_CCE_FORMAT);
    EXPECT_EQ(dfti_commit_descriptor(h), 0);
    const dfti_method_table* m = h->methods;
    h->methods = nullptr;
    EXPECT_EQ(dfti_commit_descriptor(h), 7);
    h->methods = m;
    dfti_free_descriptor(&h);
}

TEST(CpuNode, ErrorClass) {
    EXPECT_EQ(dfti_error_class(0, 0), 1);
    EXPECT_EQ(dfti_error_class(3, 0), 0);
    EXPECT_EQ(dfti_error_class(3, 3), 1);
}

// ---- workspace estimators --------------------------------------------------------------------

// Records whose estimate answers a fixed need for rank-1 nodes only.
std::int64_t fixed_estimate(std::int64_t answer, const DFTI_DESCRIPTOR* n) {
    return n && n->working_rank == 1 ? answer : -1;
}
std::int64_t estimate_small(const bkd_ops*, const DFTI_DESCRIPTOR* n, const sycl::queue*) { return fixed_estimate(4096, n); }
std::int64_t estimate_none(const bkd_ops*, const DFTI_DESCRIPTOR* n, const sycl::queue*) { return fixed_estimate(-1, n); }
std::int64_t estimate_big(const bkd_ops*, const DFTI_DESCRIPTOR* n, const sycl::queue*) { return fixed_estimate(1 << 20, n); }
const bkd_ops est_small = {nullptr, nullptr, nullptr, &estimate_small};
const bkd_ops est_none = {nullptr, nullptr, nullptr, &estimate_none};
const bkd_ops est_big = {nullptr, nullptr, nullptr, &estimate_big};

// The node's candidate list with the test records after the library's.
std::vector<const bkd_ops*> with_test_records(const DFTI_DESCRIPTOR* n) {
    std::vector<const bkd_ops*> l;
    for (bkdlist r = gpu_dfti_select_bkdlist(n->precision, n->forward_domain, n->rank); *r; ++r) l.push_back(*r);
    l.insert(l.end(), {&est_small, &est_none, &est_big, nullptr});
    return l;
}

TEST(Estimators, LargestApplicableNeed) {
    // The library's records answer first: the test records (rank 1 only)
    // added to a single precision 1D node's list must raise its answer to the
    // largest of them, and change nothing for a multi-dimensional node; a
    // double precision node keeps its own list.
    node_ptr p, q, d;
    ASSERT_EQ(gpu_dfti_create_sc1d(&p.n, 64, nullptr), 0);
    ASSERT_EQ(dfti_normalize_node(p.n), 0);
    ASSERT_EQ(gpu_dfti_create_dc1d(&d.n, 64, nullptr), 0);
    ASSERT_EQ(dfti_normalize_node(d.n), 0);
    const std::int64_t l[2] = {8, 8};
    ASSERT_EQ(gpu_dfti_create_scmd(&q.n, 2, l, nullptr), 0);
    // Split storage: no multi-dimensional backend (whose estimate would add
    // those of its 1D sub-transforms) takes it.
    q.n->complex_storage = DFTI_REAL_REAL;
    ASSERT_EQ(dfti_normalize_node(q.n), 0);
    const std::int64_t base_f = dft_estimate_workspace_bytes<float>(dft_workspace_problem{p.n, nullptr});
    const std::int64_t base_d = dft_estimate_workspace_bytes<double>(dft_workspace_problem{d.n, nullptr});
    const std::int64_t base_md = dft_estimate_workspace_bytes<float>(dft_workspace_problem{q.n, nullptr});
    const std::vector<const bkd_ops*> list_p = with_test_records(p.n), list_q = with_test_records(q.n);
    p.n->bkdlist = list_p.data();
    q.n->bkdlist = list_q.data();
    EXPECT_EQ(dft_estimate_workspace_bytes<float>(dft_workspace_problem{p.n, nullptr}), std::max<std::int64_t>(base_f, 1 << 20));
    EXPECT_EQ(dft_estimate_workspace_bytes<double>(dft_workspace_problem{d.n, nullptr}), base_d);
    EXPECT_EQ(dft_estimate_workspace_bytes<float>(dft_workspace_problem{q.n, nullptr}), base_md);
    p.n->bkdlist = nullptr;
    q.n->bkdlist = nullptr;
}

// ---- verbose description ----------------------------------------------------------------------

TEST(Verbose, Description) {
    node_ptr p;
    ASSERT_EQ(gpu_dfti_create_sc1d(&p.n, 1024, nullptr), 0);
    char text[512];
    describe_descriptor_for_verbose(p.n, nullptr, text, DFTI_CONTAINER_USM, nullptr, nullptr, 0);
    EXPECT_EQ(std::string(text).rfind("FFT(scfi1024,input_strides:{0,1},output_strides:{0,1},", 0), 0u) << text;
    const std::int64_t l[2] = {32, 64};
    node_ptr q;
    ASSERT_EQ(gpu_dfti_create_dcmd(&q.n, 2, l, nullptr), 0);
    q.n->placement = DFTI_NOT_INPLACE;
    q.n->complex_storage = DFTI_REAL_REAL;
    q.n->forward_scale = 0.5;
    q.n->user_batch.records[0] = {8, 2048, 2048, 0, 0};
    describe_descriptor_for_verbose(q.n, nullptr, text, DFTI_CONTAINER_BUFFER, nullptr, nullptr, 1);
    std::string s(text);
    EXPECT_EQ(s.rfind("FFT(dcbo/64x32*8,", 0), 0u) << s;
    EXPECT_NE(s.find("fScale:0.5,"), std::string::npos) << s;
    EXPECT_NE(s.find("input_distance:2048,output_distance:2048,"), std::string::npos) << s;
    EXPECT_EQ(s.find("bScale"), std::string::npos) << s;
    EXPECT_EQ(s.back(), ')');
    EXPECT_LE(std::strlen(text), 511u);
}

}  // namespace
