// Very large single-precision 1D GPU backend. Stage 0 (length n0) reads the
// caller's data and writes the padded scratch rows, applying the twiddles of
// Nc = n0 x (n1 n2); stage 1 (n1) transforms the scratch in place with the
// twiddles of n1 x n2; stage 2 (n2) writes the caller's output in natural
// order. Each stage is a sub-node committed through the float 1D complex
// list. Real transforms run on N/2 complex points, with one kernel that
// converts the spectrum after the stages (forward) or before them (backward).
//
// The descriptor's scales are applied: stage 0 carries them (stages 1 and 2
// run unscaled), so every path, real or complex, is scaled once. A backward
// real transform out of place never writes the caller's input: its
// pre-processed sequence goes to the output area, which stage 0 then reads.
#include "dft/gpu/backends.hpp"

#include "dft/node/ovx_dft_cpu_library.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include <korami/ovx/exceptions.hpp>

#include "dft/gpu/1d/frame.hpp"
#include "dft/gpu/1d/ovx_dft_gpu_bkd_1d_very_large_plan.hpp"
#include "gpu/ovx_gpu.hpp"

namespace korami {
namespace ovx {
namespace dft {
namespace gpu_kernels {
extern const char ovx_bkd_1d_very_large_text_s[];
}  // namespace gpu_kernels

namespace gpu1d {
namespace {

namespace vl = very_large;

struct vl_block {
    DFTI_DESCRIPTOR* sub_plan[6];  // stage 0: 0; stage 1: 2; stage 2: 4 and 5 (output offset 1)
    sycl::queue* queue;
    std::int64_t length;
    vl::factors f;
    bool is_real;
    vl::record batch;
    float scale[2];
    std::uint32_t directions;
    void* ws_base;
    std::uint32_t ws_kind;
    void* scratch_usm;
    sycl::buffer<char, 1>* scratch_buffer;
    std::uint64_t scratch_bytes;
    void* internal_twiddle;
    void* internal_scratch;
    std::uint32_t in_order;
    sycl::kernel* post_kernel;
    sycl::kernel* pre_kernel;
    sycl::event* last_event;  // last submission of the latest compute
};

vl_block* get(DFTI_DESCRIPTOR* node) { return static_cast<vl_block*>(node->bkd_data); }

vl::shape shape_of(const DFTI_DESCRIPTOR* node) {
    vl::shape s;
    s.real = node->forward_domain == DFTI_REAL;
    s.complex_storage = node->complex_storage;
    s.real_storage = node->real_storage;
    s.conjugate_even_storage = node->conjugate_even_storage;
    s.batches = static_cast<int>(node->working_batch.count);
    frame_copy_dim(node, s);
    if (s.batches >= 1) {
        const dfti_dim& r = node->working_batch.records[0];
        s.batch = {r.length, r.input_stride, r.output_stride, r.fwd_stride, r.bwd_stride};
    }
    return s;
}

int sub_add_workspace(DFTI_DESCRIPTOR* s, void* base, int kind, std::uint64_t off, std::uint32_t phase,
                      std::vector<sycl::event>* events) {
    if (!s->bkd || !s->bkd->add_workspace) return DFTI_STATUS_INVALID;
    return s->bkd->add_workspace(base, kind, off, s, phase, events);
}

void wait_quietly(sycl::event* e) { frame_wait_quietly(e); }

void bkd_free_buffers(vl_block* b, int which) {
    wait_quietly(b->last_event);
    if ((which == 0 || which == 2) && b->internal_twiddle) {
        sycl::free(b->internal_twiddle, *b->queue);
        b->internal_twiddle = nullptr;
    }
    if (which == 1 || which == 2) {
        delete b->scratch_buffer;
        b->scratch_buffer = nullptr;
        b->scratch_usm = nullptr;
        if (b->internal_scratch) {
            sycl::free(b->internal_scratch, *b->queue);
            b->internal_scratch = nullptr;
        }
    }
}

void release_backend_data(DFTI_DESCRIPTOR* node) {
    vl_block* b = get(node);
    if (!b) return;
    wait_quietly(b->last_event);
    for (DFTI_DESCRIPTOR*& s : b->sub_plan) {
        if (s) s->methods->destroy(s);
        s = nullptr;
    }
    bkd_free_buffers(b, 2);
    for (sycl::kernel** k : {&b->post_kernel, &b->pre_kernel}) {
        if (!*k) continue;
        try {
            int st = 0;
            korami::ovx::gpu::release_kernel_obj(&st, *k);
        } catch (const sycl::exception&) {
        }
        *k = nullptr;
    }
    delete b->last_event;
    b->~vl_block();
    bkd_memory_services.free(b);
    node->bkd_data = nullptr;
}

int add_workspace(void* base, int kind, std::uint64_t offset, DFTI_DESCRIPTOR* node, std::uint32_t phase,
                  std::vector<sycl::event>* events) {
    vl_block* b = get(node);
    if (!b) return DFTI_STATUS_INVALID;
    b->ws_base = base;
    b->ws_kind = static_cast<std::uint32_t>(kind);
    bkd_free_buffers(b, static_cast<int>(phase));
    std::uint64_t off = offset;
    if (phase == DFTI_WS_TABLES || phase == DFTI_WS_BOTH) {
        for (DFTI_DESCRIPTOR* s : b->sub_plan) {
            if (!s) continue;
            const int st = sub_add_workspace(s, base, kind, off, DFTI_WS_TABLES, events);
            if (st != 0) return st;
            off += s->twiddle_workspace_bytes;
        }
    }
    if (phase == DFTI_WS_SCRATCH || phase == DFTI_WS_BOTH) {
        if (!base) return DFTI_STATUS_NO_WORKSPACE;
        if (kind == DFTI_CONTAINER_USM) {
            b->scratch_usm = static_cast<char*>(base) + off;
            // Buffer data need a buffer scratch: the library holds one too.
            if (node->internal_workspace != 0)
                b->scratch_buffer = new sycl::buffer<char, 1>(sycl::range<1>(static_cast<std::size_t>(b->scratch_bytes)));
        } else {
            auto* whole = static_cast<sycl::buffer<char, 1>*>(base);
            b->scratch_buffer = new sycl::buffer<char, 1>(*whole, sycl::id<1>(off),
                                                          sycl::range<1>(static_cast<std::size_t>(b->scratch_bytes)));
        }
        for (DFTI_DESCRIPTOR* s : b->sub_plan) {
            if (!s) continue;
            const int st = sub_add_workspace(s, base, kind, off, DFTI_WS_SCRATCH, events);
            if (st != 0) return st;
        }
    }
    return 0;
}

int create_and_initialize_internal_workspaces(DFTI_DESCRIPTOR* node) {
    if (node->internal_workspace == 0) return DFTI_STATUS_BAD_DESCRIPTOR;
    vl_block* b = get(node);
    if (!b) return DFTI_STATUS_INVALID;
    const std::uint64_t largest = b->queue->get_device().get_info<sycl::info::device::max_mem_alloc_size>();
    if (node->twiddle_workspace_bytes > largest || node->scratch_workspace_bytes > largest)
        return DFTI_STATUS_ALLOCATION_FAILED;
    std::vector<sycl::event> events;
    int st = 0;
    if (node->twiddle_workspace_bytes != 0) {
        void* area = sycl::malloc_device(node->twiddle_workspace_bytes, *b->queue);
        if (!area) return DFTI_STATUS_ALLOCATION_FAILED;
        b->ws_base = area;
        b->ws_kind = DFTI_CONTAINER_USM;
        if (b->internal_twiddle) sycl::free(b->internal_twiddle, *b->queue);
        b->internal_twiddle = area;
        std::uint64_t off = 0;
        for (DFTI_DESCRIPTOR* s : b->sub_plan) {
            if (!s || st != 0) continue;
            st = sub_add_workspace(s, area, DFTI_CONTAINER_USM, off, DFTI_WS_TABLES, &events);
            off += s->twiddle_workspace_bytes;
        }
    }
    if (st == 0 && node->scratch_workspace_bytes != 0) {
        void* area = sycl::malloc_device(node->scratch_workspace_bytes, *b->queue);
        if (!area) {
            st = DFTI_STATUS_ALLOCATION_FAILED;
        } else {
            st = add_workspace(area, DFTI_CONTAINER_USM, 0, node, DFTI_WS_SCRATCH, nullptr);
            b->internal_scratch = area;
            b->ws_kind = 0;
        }
    }
    for (auto& e : events) e.wait();
    return st;
}

int make_stage(DFTI_DESCRIPTOR* node, vl_block* b, int stage, int slot, bool odd) {
    DFTI_DESCRIPTOR*& s = b->sub_plan[slot];
    const vl::stage_shape sh = vl::stage_of(b->f, stage, odd);
    const int st = gpu_dfti_create_sc1d(&s, sh.length, nullptr);
    if (st != 0) {
        s = nullptr;
        return st;
    }
    ovx_dft_bless_node_thr(s);
    s->user_dims.records[0] = dfti_dim{sh.length, sh.input_stride, sh.output_stride, 0, 0};
    for (int r = 0; r < 2; ++r)
        s->user_batch.records[r] =
            dfti_dim{sh.batch[r].count, sh.batch[r].input_distance, sh.batch[r].output_distance, 0, 0};
    s->placement = sh.in_place ? DFTI_INPLACE : DFTI_NOT_INPLACE;
    s->output_offset = sh.output_offset;
    s->colbatch_group_count = sh.colbatch_group_count;
    // The descriptor's scales ride on the first stage.
    s->forward_scale = stage == 0 ? node->forward_scale : 1.0;
    s->backward_scale = stage == 0 ? node->backward_scale : 1.0;
    char name[10] = {0};
    const int len = stage == 0 ? bounded_snprintf(name, sizeof name, "1DL|1st")
                               : bounded_snprintf(name, sizeof name, "1DL|%dth", stage);
    if (len < 0) return DFTI_STATUS_INTERNAL;
    return frame_commit_sub_node(node, s, name);
}

int build_real_kernel(vl_block* b, int dir, sycl::kernel** slot, std::int64_t bwd_d, std::int64_t out_d) {
    char kname[64];
    if (bounded_snprintf(kname, sizeof kname, "%s_kernel_%s", dir == 0 ? "r2c" : "c2r", "s") < 0)
        return DFTI_STATUS_INTERNAL;
    char options[512];
    const int n = bounded_snprintf(options, sizeof options, "-DFWD_DIR=%d -DBWD_DIR=%d -DBWD_D=%lld -DKERNEL_FUNC=%s ",
                                   dir == 0 ? 1 : 0, dir == 0 ? 0 : 1, static_cast<long long>(bwd_d), kname);
    if (n < 0) return DFTI_STATUS_INTERNAL;
    if (bounded_snprintf(options + n, sizeof options - static_cast<std::size_t>(n), "-DOUT_D=%lld ",
                         static_cast<long long>(out_d)) < 0)
        return DFTI_STATUS_INTERNAL;
    const char* program = dir == 0 ? "real_fft_post_processing.ovx_dft_gpu_bkd_1d_very_large_sycl_s"
                                   : "real_fft_pre_processing.ovx_dft_gpu_bkd_1d_very_large_sycl_s";
    try {
        *slot = frame_get_kernel(b->queue, program, gpu_kernels::ovx_bkd_1d_very_large_text_s, kname, options);
    } catch (const sycl::exception&) {
        return DFTI_STATUS_NOT_APPLICABLE;
    }
    return *slot ? 0 : DFTI_STATUS_NOT_APPLICABLE;
}

bool built(std::uint32_t directions, int dir) { return directions == 2 || directions == static_cast<std::uint32_t>(dir); }

int bkd_init(DFTI_DESCRIPTOR* node) {
    void* mem = bkd_memory_services.calloc(1, sizeof(vl_block), 64, 0);
    if (!mem) return DFTI_STATUS_ALLOCATION_FAILED;
    vl_block* b = new (mem) vl_block();
    node->bkd_data = b;
    node->threads_in_use = 1;
    const vl::shape sh = shape_of(node);
    b->queue = node->queue;
    b->in_order = (node->queue_mode == 0 && node->queue) ? (node->queue->is_in_order() ? 1u : 0u) : 0u;
    b->length = sh.n;
    b->is_real = sh.real;
    b->batch = sh.batch;
    b->scale[0] = static_cast<float>(node->forward_scale);
    b->scale[1] = static_cast<float>(node->backward_scale);
    b->directions = static_cast<std::uint32_t>(node->directions);
    if (!vl::plan_of_complex_length(sh.real ? sh.n / 2 : sh.n, b->f)) return DFTI_STATUS_NOT_APPLICABLE;
    b->scratch_bytes = vl::scratch_bytes(b->f);
    int st = 0;
    const ovx_gpu_arch_t arch = korami::ovx::gpu::get_architecture(&st, b->queue);
    if (st != 0 || arch != 5) return DFTI_STATUS_NOT_APPLICABLE;
    if (node->is_sub_node && b->batch.count > 1) return DFTI_STATUS_NOT_APPLICABLE;
    node->twiddle_workspace_bytes = 0;
    node->scratch_workspace_bytes = 0;
    bool odd = false;
    if (b->batch.count >= 2)
        for (int dir = 0; dir < 2; ++dir)
            if (built(b->directions, dir) && (vl::stage2_output_distance(b->batch, b->is_real, dir) & 1)) odd = true;
    const int slots[4][2] = {{0, 0}, {2, 1}, {4, 2}, {5, 2}};
    for (int i = 0; i < 4; ++i) {
        const int slot = slots[i][0], stage = slots[i][1];
        if (slot == 5 && !odd) break;
        st = make_stage(node, b, stage, slot, slot == 5);
        if (st != 0) return st;
        DFTI_DESCRIPTOR* s = b->sub_plan[slot];
        if (s->scratch_workspace_bytes != 0) return DFTI_STATUS_NOT_APPLICABLE;
        node->twiddle_workspace_bytes += s->twiddle_workspace_bytes;
    }
    if (b->is_real) {
        const std::int64_t cdist_f = vl::compute_output_distance(b->batch, true, 0);
        const std::int64_t cdist_b = vl::compute_input_distance(b->batch, true, 1);
        const std::int64_t rdist_b = vl::compute_output_distance(b->batch, true, 1);
        if (built(b->directions, 0)) {
            st = build_real_kernel(b, 0, &b->post_kernel, cdist_f, cdist_f);
            if (st != 0) return st;
        }
        if (built(b->directions, 1)) {
            st = build_real_kernel(b, 1, &b->pre_kernel, cdist_b,
                                   node->placement == DFTI_INPLACE ? cdist_b : rdist_b);
            if (st != 0) return st;
        }
    }
    node->scratch_workspace_bytes = std::max<std::uint64_t>(node->scratch_workspace_bytes, b->scratch_bytes);
    if (node->internal_workspace == 1) return create_and_initialize_internal_workspaces(node);
    return 0;
}

// Runs the real conversion kernel over all transforms.
sycl::event real_kernel(vl_block* b, sycl::kernel* k, void* in, void* out, bool buffers,
                        const std::vector<sycl::event>& deps) {
    const std::size_t points = static_cast<std::size_t>((b->length / 2) / 2 + 1);
    const std::size_t count = static_cast<std::size_t>(std::max<std::int64_t>(b->batch.count, 1));
    return b->queue->submit([&](sycl::handler& h) {
        if (!buffers) h.depends_on(deps);
        if (buffers) {
            dft_set_arg(h, 0, in, DFTI_CONTAINER_BUFFER);
            dft_set_arg<1, sycl::access_mode::read_write>(h, out, DFTI_CONTAINER_BUFFER);
        } else {
            h.set_arg(0, in);
            h.set_arg(1, out);
        }
        h.parallel_for(sycl::range<2>(count, points), *k);
    });
}

int compute(DFTI_DESCRIPTOR* node, void* in, void* out, std::vector<sycl::event>* deps, const dfti_data_kind* kind,
            sycl::event* ev, int dir) {
    vl_block* b = get(node);
    if (!b) return DFTI_STATUS_INVALID;
    const std::uint64_t dk = kind ? kind->kind : static_cast<std::uint64_t>(DFTI_CONTAINER_USM);
    const bool buffers = (dk & 1u) != 0;
    const std::uint64_t need = node->twiddle_workspace_bytes + node->scratch_workspace_bytes;
    if (node->internal_workspace == 0) {
        if (need != 0 && (b->ws_kind & (buffers ? 1u : 2u)) == 0) return DFTI_STATUS_NO_WORKSPACE;
    } else if ((node->twiddle_workspace_bytes != 0 && !b->internal_twiddle) ||
               (node->scratch_workspace_bytes != 0 && !b->internal_scratch)) {
        return DFTI_STATUS_BAD_DESCRIPTOR;
    }
    if (!built(b->directions, dir)) return DFTI_STATUS_BAD_DESCRIPTOR;
    if (b->is_real && !(dir == 0 ? b->post_kernel : b->pre_kernel)) return DFTI_STATUS_BAD_DESCRIPTOR;
    void* scratch = buffers ? static_cast<void*>(b->scratch_buffer) : b->scratch_usm;
    if (!scratch) return node->internal_workspace ? static_cast<int>(DFTI_STATUS_BAD_DESCRIPTOR) : static_cast<int>(DFTI_STATUS_NO_WORKSPACE);
    DFTI_DESCRIPTOR* stage[4] = {b->sub_plan[0], b->sub_plan[2], b->sub_plan[4], b->sub_plan[5]};
    for (DFTI_DESCRIPTOR* s : stage) {
        if (!s) continue;
        s->queue_mode = node->queue_mode;
        s->queue = node->queue;
    }
    if (node->queue_mode == 2) b->queue = node->queue;
    const std::int64_t B = std::max<std::int64_t>(b->batch.count, 1);
    const std::int64_t nc = b->is_real ? b->length / 2 : b->length;
    const std::int64_t odist = vl::compute_output_distance(b->batch, b->is_real, dir);
    const std::int64_t idist = vl::compute_input_distance(b->batch, b->is_real, dir);
    const bool in_place = node->placement == DFTI_INPLACE;
    const char* fn = dir == 0 ? "compute_fwd" : "compute_bwd";
    if (buffers && B >= 2) {
        auto* bi = static_cast<sycl::buffer<char, 1>*>(in);
        auto* bo = static_cast<sycl::buffer<char, 1>*>(out);
        if (bi->is_sub_buffer() || (bo && bo->is_sub_buffer()))
            throw korami::ovx::invalid_argument(
                "DFT", fn, "Sub-buffer inputs are not supported for this problem. See Numora release notes.");
    }
    std::vector<sycl::event> chain;
    if (!buffers && deps) chain = *deps;
    // An earlier compute may still use the scratch.
    if (!buffers && b->last_event) chain.push_back(*b->last_event);
    // Real backward: the conjugate-even input becomes N/2 complex points,
    // written into the output area when out of place.
    const bool pre_to_out = b->is_real && dir == 1 && !in_place;
    if (b->is_real && dir == 1) {
        sycl::event e = real_kernel(b, b->pre_kernel, in, pre_to_out ? out : in, buffers, chain);
        chain.assign(1, e);
    }
    sycl::event last;
    bool have_last = false;
    const std::size_t celt = 8;  // bytes of one complex float
    for (std::int64_t m = 0; m < B; ++m) {
        const std::int64_t o = m * odist;
        const std::int64_t p = B >= 2 ? (o & 1) : 0;
        DFTI_DESCRIPTOR* s2 = p ? b->sub_plan[5] : b->sub_plan[4];
        if (!s2) return DFTI_STATUS_INTERNAL;
        void* src;
        void* dst;
        std::unique_ptr<sycl::buffer<char, 1>> sub_in, sub_out;
        if (B == 1) {
            src = pre_to_out ? out : in;
            dst = in_place ? in : out;
        } else if (!buffers) {
            char* base_in = static_cast<char*>(pre_to_out ? out : in);
            const std::int64_t in_off = pre_to_out ? m * odist : m * idist;
            src = base_in + static_cast<std::size_t>(in_off) * celt;
            if (p == 0 && in_place)
                dst = src;
            else
                dst = static_cast<char*>(out ? out : in) + static_cast<std::size_t>(o - p) * celt;
        } else {
            auto* bi = static_cast<sycl::buffer<char, 1>*>(pre_to_out ? out : in);
            const std::int64_t in_off = pre_to_out ? m * odist : m * idist;
            sub_in.reset(new sycl::buffer<char, 1>(*bi, sycl::id<1>(static_cast<std::size_t>(in_off) * celt),
                                                   sycl::range<1>(static_cast<std::size_t>(nc) * celt)));
            src = sub_in.get();
            if (!in_place || p == 1) {
                auto* bo = static_cast<sycl::buffer<char, 1>*>(in_place ? in : out);
                sub_out.reset(new sycl::buffer<char, 1>(*bo, sycl::id<1>(static_cast<std::size_t>(o - p) * celt),
                                                        sycl::range<1>(static_cast<std::size_t>(nc + p) * celt)));
                dst = sub_out.get();
            } else {
                dst = src;
            }
        }
        DFTI_DESCRIPTOR* seq[3] = {b->sub_plan[0], b->sub_plan[2], s2};
        void* ins[3] = {src, scratch, scratch};
        void* outs[3] = {scratch, scratch, dst};
        for (int st_i = 0; st_i < 3; ++st_i) {
            DFTI_DESCRIPTOR* s = seq[st_i];
            dfti_compute_fn f = dir == 0 ? s->compute_fwd : s->compute_bwd;
            if (!f) return DFTI_STATUS_BAD_DESCRIPTOR;
            std::vector<sycl::event> d = chain;
            sycl::event e;
            const int st = f(s, ins[st_i], outs[st_i], buffers ? nullptr : &d, kind, &e);
            if (st != 0) return st;
            chain.assign(1, e);
            last = e;
            have_last = true;
        }
    }
    if (b->is_real && dir == 0) {
        last = real_kernel(b, b->post_kernel, out ? out : in, out ? out : in, buffers, chain);
        have_last = true;
    }
    if (have_last) {
        if (!b->last_event)
            b->last_event = new sycl::event(last);
        else
            *b->last_event = last;
    }
    if (ev) *ev = last;
    return 0;
}

int compute_forward(DFTI_DESCRIPTOR* node, void* in, void* out, std::vector<sycl::event>* deps,
                    const dfti_data_kind* kind, sycl::event* ev) {
    return compute(node, in, out, deps, kind, ev, 0);
}
int compute_backward(DFTI_DESCRIPTOR* node, void* in, void* out, std::vector<sycl::event>* deps,
                     const dfti_data_kind* kind, sycl::event* ev) {
    return compute(node, in, out, deps, kind, ev, 1);
}

void set_compute_fns(DFTI_DESCRIPTOR* node) {
    node->compute_fwd = &compute_forward;
    node->compute_bwd = &compute_backward;
    node->commit_status = DFTI_COMMITTED;
    node->data_array_count = frame_data_array_count(node);
}

int commit(const bkd_ops* self, DFTI_DESCRIPTOR* node) {
    if (vl::commit_test(shape_of(node)) != 0) return DFTI_STATUS_NOT_APPLICABLE;
    return frame_commit_steps(self, node, &bkd_init, &release_backend_data, &set_compute_fns);
}

int free_record(const bkd_ops* self, DFTI_DESCRIPTOR* node) { return frame_free_steps(self, node, &release_backend_data); }

}  // namespace

std::int64_t estimate_very_large(const dft_workspace_problem& problem) {
    const DFTI_DESCRIPTOR* node = problem.node;
    if (!node || very_large::commit_test(shape_of(node)) != 0) return -1;
    very_large::factors f;
    const vl::shape sh = shape_of(node);
    if (!very_large::plan_of_complex_length(sh.real ? sh.n / 2 : sh.n, f)) return -1;
    // The stage tables: table 1 of each stage (its length, one per direction);
    // two-factor stages have no table 2.
    const std::uint64_t per_dir = (f.n0 + f.n1 + f.n2) * 8u;
    return static_cast<std::int64_t>(per_dir * (node->directions == 2 ? 2u : 1u) + very_large::scratch_bytes(f));
}

}  // namespace gpu1d
}  // namespace dft
}  // namespace ovx
}  // namespace korami

const bkd_ops bkd_1d_very_large_s_ops = {&korami::ovx::dft::gpu1d::commit, &korami::ovx::dft::gpu1d::free_record,
                                         &korami::ovx::dft::gpu1d::add_workspace};

template <typename T>
std::int64_t dft_1d_very_large_gpu_bkd<T>::get_workspace_bytes(const dft_workspace_problem& problem) const {
    return korami::ovx::dft::gpu1d::estimate_very_large(problem);
}
template class dft_1d_very_large_gpu_bkd<float>;

namespace {
const dft_1d_very_large_gpu_bkd<float> estimator_s;
const dft_bkd_estimator_registration<float> registration_s(&estimator_s);
}  // namespace
