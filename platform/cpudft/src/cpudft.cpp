// CPU transform library stand-in: descriptor nodes committed as FFTW 3 guru64
// plans (threaded, measured on scratch arrays) and computed on the caller's
// thread with the stand-in's own threads: large batches in pieces of the
// batch, single multi-dimensional complex transforms (and small batches of
// them) in two passes of pieces, other threaded plans with FFTW's parallel
// loops cut into jobs.
//
// The FFTW called here is the library's own copy (linked in from FFTW's static
// archives with its symbols kept local, see CMakeLists.txt), not the one an
// application may use beside it: FFTW keeps one planner, its wisdom, thread
// count and time limit per process, and builds its threaded solvers into the
// planner only when fftw_init_threads comes before every other call. An
// application's own first plan would otherwise leave a planner without them,
// on which planning with several threads runs for minutes.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <system_error>
#include <thread>
#include <ovxplat/cpudft.h>

#include <fftw3.h>

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <type_traits>

#include "dft/contract/ovx_dft_node_record.hpp"
#include "dft/contract/ovx_dft_node_ops.hpp"

namespace {

// FFTW's planner and plan destruction are not thread-safe; execution is.
// Every call other than execution goes through this lock, the thread and time
// limit settings included (they belong to the planner).
std::mutex& planner_lock() {
    static std::mutex m;
    return m;
}

// ---- memory services of the CPU nodes ------------------------------------------

void* cpu_calloc(std::size_t count, std::size_t size, std::size_t alignment, int context) {
    if (context != 0) return nullptr;
    if (count != 0 && size > std::numeric_limits<std::size_t>::max() / count) return nullptr;
    std::size_t bytes = count * size;
    if (alignment == 0) alignment = 64;
    if (alignment < sizeof(void*) || (alignment & (alignment - 1))) return nullptr;
    void* p = nullptr;
    if (posix_memalign(&p, alignment, bytes ? bytes : 1) != 0) return nullptr;
    std::memset(p, 0, bytes);
    return p;
}
void cpu_free(void* p) { std::free(p); }
const bkd_memory_services_t cpu_services = {cpu_calloc, cpu_free};

// ---- precision traits -----------------------------------------------------------

template <typename T> struct fftw_api;
template <> struct fftw_api<double> {
    using plan = fftw_plan;
    using cpx = fftw_complex;
    using dim = fftw_iodim64;
    static plan c2c(int r, const dim* d, int hr, const dim* hd, cpx* i, cpx* o, int sign, unsigned f) {
        return fftw_plan_guru64_dft(r, d, hr, hd, i, o, sign, f);
    }
    static plan r2c(int r, const dim* d, int hr, const dim* hd, double* i, cpx* o, unsigned f) {
        return fftw_plan_guru64_dft_r2c(r, d, hr, hd, i, o, f);
    }
    static plan c2r(int r, const dim* d, int hr, const dim* hd, cpx* i, double* o, unsigned f) {
        return fftw_plan_guru64_dft_c2r(r, d, hr, hd, i, o, f);
    }
    static void exec_c2c(plan p, void* i, void* o) { fftw_execute_dft(p, (cpx*)i, (cpx*)o); }
    static void exec_r2c(plan p, void* i, void* o) { fftw_execute_dft_r2c(p, (double*)i, (cpx*)o); }
    static void exec_c2r(plan p, void* i, void* o) { fftw_execute_dft_c2r(p, (cpx*)i, (double*)o); }
    static void destroy(plan p) { fftw_destroy_plan(p); }
};
template <> struct fftw_api<float> {
    using plan = fftwf_plan;
    using cpx = fftwf_complex;
    using dim = fftwf_iodim64;
    static plan c2c(int r, const dim* d, int hr, const dim* hd, cpx* i, cpx* o, int sign, unsigned f) {
        return fftwf_plan_guru64_dft(r, d, hr, hd, i, o, sign, f);
    }
    static plan r2c(int r, const dim* d, int hr, const dim* hd, float* i, cpx* o, unsigned f) {
        return fftwf_plan_guru64_dft_r2c(r, d, hr, hd, i, o, f);
    }
    static plan c2r(int r, const dim* d, int hr, const dim* hd, cpx* i, float* o, unsigned f) {
        return fftwf_plan_guru64_dft_c2r(r, d, hr, hd, i, o, f);
    }
    static void exec_c2c(plan p, void* i, void* o) { fftwf_execute_dft(p, (cpx*)i, (cpx*)o); }
    static void exec_r2c(plan p, void* i, void* o) { fftwf_execute_dft_r2c(p, (float*)i, (cpx*)o); }
    static void exec_c2r(plan p, void* i, void* o) { fftwf_execute_dft_c2r(p, (cpx*)i, (float*)o); }
    static void destroy(plan p) { fftwf_destroy_plan(p); }
};

// One strided axis of a layout walk.
struct axis {
    std::int64_t n;
    std::int64_t stride;
};

// The state a committed CPU node holds for one direction. The aligned plan
// runs when the input and output addresses have FFTW's SIMD alignment, the
// unaligned one otherwise (the only one when the offsets keep the arrays off
// that alignment).
struct direction_plan {
    void* aligned = nullptr;         // fftw(f)_plan
    void* unaligned = nullptr;
    bool copy_input = false;         // the plan runs on a copy of the input (see plan_direction)
    std::int64_t in_elem = 0;        // bytes of one input element
    std::int64_t out_elem = 0;       // bytes of one output element
    std::int64_t in_offset = 0;      // elements
    std::int64_t out_offset = 0;
    std::int64_t in_span = 0;        // elements from the first to past the last input element
    int naxes = 0;                   // output layout, for scaling
    axis out_axes[2 * DFTI_MAX_RANK + 1];
    double scale = 1.0;
    int threads = 1;                 // threads the plans run on
    // A batch split into pieces (see split_batch): the plans compute one
    // piece of `piece_count` on one thread, the pieces run on `threads`
    // threads, each taking the next piece when it is done with one. The
    // steps are the bytes between the first elements of two pieces.
    std::int64_t piece_count = 1;
    std::int64_t in_step = 0;
    std::int64_t out_step = 0;
    // A multi-dimensional transform in two passes (see two_pass_pieces),
    // each cut into pieces along one axis: the inner axes' transforms for
    // pieces of the outermost axis (input to output), then the outermost
    // axis's transforms for pieces of the next axis (in place on the output).
    // The plans above are not made. A small batch of such transforms runs
    // each pass's pieces for every transform of the batch.
    struct pass {
        std::int64_t pieces = 0;     // 0: no such pass
        std::int64_t size = 0;       // indices of the axis in a piece
        std::int64_t larger = 0;     // the first `larger` pieces hold one index more
        std::int64_t in_step = 0;    // bytes between two indices of the axis
        std::int64_t out_step = 0;
        // Plans of `size` [0] and `size + 1` [1] indices. A piece runs the one
        // for aligned arrays when its own addresses have FFTW's alignment.
        void* aligned[2] = {nullptr, nullptr};
        void* unaligned[2] = {nullptr, nullptr};
    };
    pass passes[2];
    std::int64_t pass_batch = 1;     // transforms of the batch
    std::int64_t batch_in_step = 0;  // bytes between the first elements of two transforms
    std::int64_t batch_out_step = 0;
    bool planned() const { return unaligned || passes[0].unaligned[0]; }
};

struct cpu_plan_state {
    int precision = 0;
    int domain = 0;
    bool in_place = true;
    direction_plan dir[2];
};

template <typename T>
void destroy_plans(cpu_plan_state* s) {
    std::lock_guard<std::mutex> g(planner_lock());
    for (auto& d : s->dir) {
        if (d.aligned) fftw_api<T>::destroy(static_cast<typename fftw_api<T>::plan>(d.aligned));
        if (d.unaligned) fftw_api<T>::destroy(static_cast<typename fftw_api<T>::plan>(d.unaligned));
        for (auto& ps : d.passes)
            for (void* p : {ps.aligned[0], ps.aligned[1], ps.unaligned[0], ps.unaligned[1]})
                if (p) fftw_api<T>::destroy(static_cast<typename fftw_api<T>::plan>(p));
    }
}

// Detach entry of a CPU node: releases the plans of a committed node.
void cpu_detach(DFTI_DESCRIPTOR* node) {
    auto* s = static_cast<cpu_plan_state*>(node->cpu_plan);
    if (s) {
        if (s->precision == DFTI_DOUBLE) destroy_plans<double>(s);
        else destroy_plans<float>(s);
        delete s;
    }
    node->cpu_plan = nullptr;
    node->commit_status = DFTI_UNCOMMITTED;
    node->cpu_compute_fwd = nullptr;
    node->cpu_compute_bwd = nullptr;
    node->threads_in_use = 0;
}

// Largest element index + 1 reached by a layout: offset + sum (n-1)*stride.
bool span_of(const axis* a, int na, std::int64_t offset, std::int64_t* span) {
    std::int64_t s = offset;
    for (int i = 0; i < na; ++i) {
        if (a[i].n < 1) return false;
        std::int64_t step;
        if (__builtin_mul_overflow(a[i].n - 1, a[i].stride, &step) || __builtin_add_overflow(s, step, &s))
            return false;
    }
    *span = s + 1;
    return true;
}

// Memory blocks aligned for SIMD loads (64 bytes): scratch arrays of the
// planner and input copies. They are left as allocated: a copy is written
// whole before it is read, and FFTW's measuring zeroes the input of each
// candidate plan itself before timing it and writes the output, so filling
// the scratch beforehand would only add a pass over the arrays to the commit
// (on large transforms nearly as long as the measuring itself).
void* aligned_block(std::size_t bytes) {
    void* p = nullptr;
    if (posix_memalign(&p, 64, bytes ? bytes : 1) != 0) return nullptr;
    return p;
}

// A plan of effort `effort` made by `make(in, out, flags)`: from wisdom of the
// problem on the caller's arrays (`wi`, `wo`) when FFTW has it, else measured
// on fresh blocks of `in_bytes` and `out_bytes` (one block when `same`), so
// that measuring never overwrites the caller's data. `no_memory` tells whether
// the blocks could not be allocated.
template <typename Plan, typename Make>
Plan measured_on_scratch(Make&& make, void* wi, void* wo, unsigned flags, unsigned effort, std::uint64_t in_bytes,
                         std::uint64_t out_bytes, bool same, bool& no_memory) {
    if (effort == FFTW_ESTIMATE) return make(wi, wo, flags | FFTW_ESTIMATE);
    if (Plan p = make(wi, wo, flags | effort | FFTW_WISDOM_ONLY)) return p;
    void* a = aligned_block(in_bytes);
    void* b = same ? a : aligned_block(out_bytes);
    Plan p = a && b ? make(a, b, flags | effort) : nullptr;
    no_memory = !a || !b;
    if (b != a) std::free(b);
    std::free(a);
    return p;
}

template <typename T>
void scale_output(const direction_plan& d, char* out) {
    const T sc = static_cast<T>(d.scale);
    const int comps = d.out_elem == static_cast<std::int64_t>(2 * sizeof(T)) ? 2 : 1;
    std::int64_t idx[2 * DFTI_MAX_RANK + 1] = {};
    T* base = reinterpret_cast<T*>(out + d.out_offset * d.out_elem);
    for (;;) {
        std::int64_t e = 0;
        for (int i = 0; i < d.naxes; ++i) e += idx[i] * d.out_axes[i].stride;
        T* p = base + e * comps;
        for (int c = 0; c < comps; ++c) p[c] *= sc;
        int k = 0;
        while (k < d.naxes && ++idx[k] == d.out_axes[k].n) idx[k++] = 0;
        if (k == d.naxes) break;
    }
}

template <typename T>
bool simd_aligned(const void* p) {
    if constexpr (std::is_same_v<T, double>) return fftw_alignment_of(static_cast<double*>(const_cast<void*>(p))) == 0;
    else return fftwf_alignment_of(static_cast<float*>(const_cast<void*>(p))) == 0;
}

// Threads that run pieces of work: the pieces of split batches and the
// loops of FFTW's threaded plans (FFTW hands its loops to spawn_loop below).
// A thread takes the next unclaimed piece whenever it finishes one, so a
// thread that the system holds back (other processes on the machine) delays
// the work by one piece rather than by a fixed share of it.
//
// Each compute (and each plan measured) runs in a context that bounds the
// threads working for it at once, its own thread included: the node's
// threads. Loops within pieces (FFTW's nested loops) run in the context of
// the piece and take idle pool threads while the bound allows.
class piece_pool {
public:
    struct context {
        int limit = 1;    // threads at most
        int running = 1;  // threads working for it, guarded by the pool's lock
    };

    // Runs fn(0) .. fn(n - 1) on the calling thread and the pool threads
    // that `ctx` admits; returns when every piece has run.
    template <typename F>
    void run(context* ctx, std::int64_t n, const F& fn) {
        group g;
        g.n = n;
        g.body = [](const void* f, std::int64_t i) { (*static_cast<const F*>(f))(i); };
        g.fn = &fn;
        g.ctx = ctx;
        const bool shared = ctx && ctx->limit > 1 && n > 1;
        if (shared) {
            std::lock_guard<std::mutex> lock(mu_);
            if (grow(ctx->limit - 1) > 0) {
                groups_.push_back(&g);
                // Wake as many idle threads as the group and the context can
                // take (a loop of two jobs wakes one, not every idle thread).
                const std::int64_t idle = threads_ - busy_;
                const std::int64_t want = std::min<std::int64_t>(n - 1, ctx->limit - ctx->running);
                if (want >= idle) {
                    work_cv_.notify_all();
                } else {
                    for (std::int64_t k = 0; k < want; ++k) work_cv_.notify_one();
                }
            }
        }
        claim(g);
        if (!shared) return;
        // Every piece is claimed: no thread joins any more; wait for the
        // pieces the pool threads are still running.
        std::unique_lock<std::mutex> lock(mu_);
        for (auto it = groups_.begin(); it != groups_.end(); ++it)
            if (*it == &g) {
                groups_.erase(it);
                break;
            }
        if (g.active.load(std::memory_order_acquire) == 0) return;
        // The last pieces end within about one piece's time: the caller
        // looks for their end for up to kFinishWait before it sleeps, so
        // that the end of the loop does not wait for this thread to be woken
        // (on a machine whose idle processors halt, waking a thread takes
        // tens of microseconds). It keeps its processor meanwhile: a thread
        // that yielded it to another process could get it back only after
        // that process's time slice, milliseconds later.
        lock.unlock();
        const auto until = std::chrono::steady_clock::now() + kFinishWait;
        do {
            relax();
            if (g.active.load(std::memory_order_acquire) == 0) return;
        } while (std::chrono::steady_clock::now() < until);
        lock.lock();
        done_cv_.wait(lock, [&] { return g.active.load(std::memory_order_relaxed) == 0; });
    }

    // The context of the calling thread: the one it computes in, or the one
    // of the piece it runs; null outside.
    static context*& current() {
        thread_local context* c = nullptr;
        return c;
    }

private:
    struct group {
        std::int64_t n = 0;
        std::atomic<std::int64_t> next{0};
        void (*body)(const void*, std::int64_t) = nullptr;
        const void* fn = nullptr;
        context* ctx = nullptr;
        // Pool threads running its pieces: changed under mu_, read without
        // it by the caller waiting for its end (a thread touches the group
        // no more once it has counted itself out).
        std::atomic<int> active{0};
    };

    static constexpr std::chrono::microseconds kFinishWait{50};

    // One step of a busy wait: tells the processor so where it can.
    static void relax() {
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
    }

    static void claim(group& g) {
        for (std::int64_t i; (i = g.next.fetch_add(1)) < g.n;) g.body(g.fn, i);
    }

    // Caller holds mu_: starts threads until `want` are in the pool; answers
    // how many there are.
    int grow(int want) {
        while (threads_ < want) {
            try {
                std::thread([this] { work(); }).detach();
            } catch (const std::system_error&) {
                break;
            }
            ++threads_;
        }
        return threads_;
    }

    void work() {
        std::unique_lock<std::mutex> lock(mu_);
        for (;;) {
            group* g = nullptr;
            // The latest group first: nested loops finish before their piece.
            for (auto it = groups_.rbegin(); it != groups_.rend(); ++it)
                if ((*it)->ctx->running < (*it)->ctx->limit && (*it)->next.load() < (*it)->n) {
                    g = *it;
                    break;
                }
            if (!g) {
                work_cv_.wait(lock);
                continue;
            }
            ++g->ctx->running;
            g->active.fetch_add(1, std::memory_order_relaxed);
            ++busy_;
            lock.unlock();
            current() = g->ctx;
            claim(*g);
            current() = nullptr;
            lock.lock();
            --g->ctx->running;
            --busy_;
            if (g->active.fetch_sub(1, std::memory_order_release) == 1) done_cv_.notify_all();
            // The place this thread frees in its context is taken by this
            // thread itself when a group there has pieces left (it looks
            // again before it waits): waking the waiting threads would only
            // have them contend for the lock at the end of every loop.
        }
    }

    std::mutex mu_;
    std::condition_variable work_cv_, done_cv_;
    std::deque<group*> groups_;
    int threads_ = 0;
    int busy_ = 0;  // pool threads running pieces
};

// The pool lives for the process (its threads are detached and wait for
// work; they are never joined, so that no exit path waits on them).
piece_pool& pieces() {
    static piece_pool* p = new piece_pool();
    return *p;
}

// Sets the calling thread's context for a compute or a measured plan of a
// node on `threads` threads.
class scoped_context {
public:
    explicit scoped_context(int threads) : saved_(piece_pool::current()) {
        ctx_.limit = threads;
        piece_pool::current() = &ctx_;
    }
    ~scoped_context() { piece_pool::current() = saved_; }
    scoped_context(const scoped_context&) = delete;
    scoped_context& operator=(const scoped_context&) = delete;

private:
    piece_pool::context ctx_;
    piece_pool::context* saved_;
};

// FFTW's threaded plans hand each parallel loop here: its jobs run on the
// pool in the calling thread's context (on the calling thread alone outside
// any context).
void spawn_loop(void* (*work)(char*), char* jobdata, std::size_t elsize, int njobs, void*) {
    auto job = [&](std::int64_t i) { work(jobdata + elsize * static_cast<std::size_t>(i)); };
    pieces().run(piece_pool::current(), njobs, job);
}

// A status the next compute answers instead of computing (tests of the
// caller's handling of failures at compute; 0 when none is set).
std::atomic<int> injected_compute_failure{0};

template <typename T>
int compute(DFTI_DESCRIPTOR* node, int which, void* a1, void* a2) {
    using api = fftw_api<T>;
    if (const int injected = injected_compute_failure.exchange(0)) return injected;
    auto* s = static_cast<cpu_plan_state*>(node->cpu_plan);
    if (!s || !s->dir[which].planned()) return DFTI_STATUS_UNCOMMITTED_DESCRIPTOR;
    const direction_plan& d = s->dir[which];
    char* in = static_cast<char*>(a1);
    char* out = static_cast<char*>(s->in_place ? a1 : a2);
    if (!in || !out) return DFTI_STATUS_INVALID_DESCRIPTOR;
    char* pin = in + d.in_offset * d.in_elem;
    char* pout = out + d.out_offset * d.out_elem;
    void* tmp = nullptr;
    if (d.copy_input) {
        std::size_t bytes = static_cast<std::size_t>(d.in_span - d.in_offset) * d.in_elem;
        tmp = aligned_block(bytes);
        if (!tmp) return DFTI_STATUS_ALLOCATION_FAILED;
        std::memcpy(tmp, pin, bytes);
        pin = static_cast<char*>(tmp);
    }
    void* chosen = d.aligned && simd_aligned<T>(pin) && simd_aligned<T>(pout) ? d.aligned : d.unaligned;
    auto p = static_cast<typename api::plan>(chosen);
    auto run = [&](std::int64_t k) {
        char* i = pin + k * d.in_step;
        char* o = pout + k * d.out_step;
        if (s->domain == DFTI_COMPLEX) api::exec_c2c(p, i, o);
        else if (which == 0) api::exec_r2c(p, i, o);
        else api::exec_c2r(p, i, o);
    };
    // A piece of a pass of a two-pass transform: its plan picked by its size
    // and its own addresses (the steps between pieces need not keep FFTW's
    // alignment). The second pass runs in place on the output.
    // Job j of a pass runs piece j % pieces of transform j / pieces.
    auto run_pass = [&](const direction_plan::pass& ps, char* src, std::int64_t src_step, std::int64_t j) {
        const std::int64_t t = j / ps.pieces, k = j % ps.pieces;
        const int big = k < ps.larger ? 1 : 0;
        const std::int64_t start = k * ps.size + std::min(k, ps.larger);
        char* i = src + t * src_step + start * ps.in_step;
        char* o = pout + t * d.batch_out_step + start * ps.out_step;
        void* q = ps.aligned[big] && simd_aligned<T>(i) && simd_aligned<T>(o) ? ps.aligned[big] : ps.unaligned[big];
        api::exec_c2c(static_cast<typename api::plan>(q), i, o);
    };
    {
        scoped_context ctx(d.threads);
        if (d.passes[0].pieces > 0) {
            pieces().run(piece_pool::current(), d.passes[0].pieces * d.pass_batch,
                         [&](std::int64_t j) { run_pass(d.passes[0], pin, d.batch_in_step, j); });
            pieces().run(piece_pool::current(), d.passes[1].pieces * d.pass_batch,
                         [&](std::int64_t j) { run_pass(d.passes[1], pout, d.batch_out_step, j); });
        } else if (d.piece_count > 1) {
            pieces().run(piece_pool::current(), d.piece_count, run);
        } else {
            run(0);
        }
    }
    std::free(tmp);
    if (d.scale != 1.0) scale_output<T>(d, out);
    return 0;
}

template <typename T>
int compute_fwd(DFTI_DESCRIPTOR* n, void* a1, void* a2, void*, void*, void*) { return compute<T>(n, 0, a1, a2); }
template <typename T>
int compute_bwd(DFTI_DESCRIPTOR* n, void* a1, void* a2, void*, void*, void*) { return compute<T>(n, 1, a1, a2); }

// ---- planning --------------------------------------------------------------------

// The planning effort OVXPLAT_CPUDFT_PLANNER asks for ("estimate", "measure"
// or "patient"), 0 when it is not set.
unsigned planner_effort_override() {
    static const unsigned effort = [] {
        const char* e = std::getenv("OVXPLAT_CPUDFT_PLANNER");
        if (e && !std::strcmp(e, "estimate")) return unsigned(FFTW_ESTIMATE);
        if (e && !std::strcmp(e, "measure")) return unsigned(FFTW_MEASURE);
        if (e && !std::strcmp(e, "patient")) return unsigned(FFTW_PATIENT);
        return 0u;
    }();
    return effort;
}

// Nodes of fewer points than this (all their transforms together) compute in
// microseconds: measuring their plans or splitting them over threads costs
// more than it can gain, so they are estimated and run on one thread.
constexpr std::int64_t kMeasuredPoints = std::int64_t(1) << 15;

// Points of all the transforms of a normalised node, saturated.
std::int64_t node_points(const DFTI_DESCRIPTOR* node) {
    std::int64_t p = 1;
    for (int i = 0; i < node->working_rank; ++i)
        if (__builtin_mul_overflow(p, node->working_dims.records[i].length, &p)) return INT64_MAX;
    for (std::int64_t i = 0; i < node->working_batch.count; ++i)
        if (__builtin_mul_overflow(p, node->working_batch.records[i].length, &p)) return INT64_MAX;
    return p;
}

// Nodes of kSerialFrom to kSerialTo points (all their transforms together)
// are measured on one thread as well as on several (see plan_direction): at
// that size a single thread often finishes before the worker threads of a
// threaded plan are awake (double r2c 256 x 256 on 8 threads: 110 us on one,
// 200 us on eight). A serial plan that runs within kSerialEnough is kept
// without measuring the threaded one.
constexpr std::int64_t kSerialFrom = std::int64_t(1) << 16;
constexpr std::int64_t kSerialTo = std::int64_t(1) << 18;
constexpr double kSerialEnough = 150e-6;

bool compares_serial_plan(const DFTI_DESCRIPTOR* node) {
    const std::int64_t p = node_points(node);
    return p >= kSerialFrom && p <= kSerialTo;
}

// Seconds FFTW may spend measuring one plan of a length with a large prime
// factor (a prime length measured in full takes tens of seconds). FFTW obeys a
// limit by first making an estimated plan and then measuring; when measuring
// runs out of time it keeps the estimated plan, several times slower on large
// transforms (a 2048 x 2048 pair: 3.7 times).
constexpr double kPlanTimeLimit = 1.0;

// Whether every prime factor of n is at most 13. FFTW carries straight-line
// transforms and twiddle steps for such factors, and its measuring of such a
// length tries a bounded set of factorisations (as long as measuring the same
// plan with FFTW called directly takes). A larger prime factor goes through
// its generic, Rader or Bluestein solvers, whose measuring can run away.
bool smooth_length(std::int64_t n) {
    if (n < 1) return false;
    for (std::int64_t p : {2, 3, 5, 7, 11, 13})
        while (n % p == 0) n /= p;
    return n == 1;
}

// The time limit of a node's measured plans: none when the effort is
// FFTW_MEASURE and every length is smooth, so that the plan is the one FFTW
// called directly with the same flags and threads makes, in the same time;
// kPlanTimeLimit otherwise.
double plan_time_limit(const DFTI_DESCRIPTOR* node, unsigned effort) {
    if (effort != FFTW_MEASURE) return kPlanTimeLimit;
    for (int i = 0; i < node->working_rank; ++i)
        if (!smooth_length(node->working_dims.records[i].length)) return kPlanTimeLimit;
    return FFTW_NO_TIMELIMIT;
}

template <typename T> void set_time_limit(double seconds);
template <> void set_time_limit<double>(double seconds) { fftw_set_timelimit(seconds); }
template <> void set_time_limit<float>(double seconds) { fftwf_set_timelimit(seconds); }

// FFTW's threads and its planner lock, set up once per process before any
// other call to the library's copy of FFTW (the first commit comes here before
// it plans), so that its planner holds the threaded solvers. Wisdom that the
// planner gathers stays for the life of the process, so a second commit of a
// shape finds its plan without measuring. False when FFTW could not start its
// threads: plans then run on the calling thread.
bool init_fftw_threads() {
    static const bool ok = [] {
        const bool threads = fftw_init_threads() != 0 && fftwf_init_threads() != 0;
        fftw_make_planner_thread_safe();
        fftwf_make_planner_thread_safe();
        // The loops of threaded plans run on the stand-in's threads.
        if (threads) {
            fftw_threads_set_callback(spawn_loop, nullptr);
            fftwf_threads_set_callback(spawn_loop, nullptr);
        }
        return threads;
    }();
    return ok;
}

template <typename T> void plan_with_threads(int n);
template <> void plan_with_threads<double>(int n) { fftw_plan_with_nthreads(n); }
template <> void plan_with_threads<float>(int n) { fftwf_plan_with_nthreads(n); }

// Threads of a large node's plans: every hardware thread, at most the node's
// limit.
int threads_for(const DFTI_DESCRIPTOR* node) {
    long hw = sysconf(_SC_NPROCESSORS_ONLN);
    int t = hw > 0 ? static_cast<int>(std::min<long>(hw, 1024)) : 1;
    if (node->thread_limit > 0 && node->thread_limit < t) t = node->thread_limit;
    return t;
}

// Bytes of physical memory: a transform whose arrays alone exceed it cannot
// be planned (FFTW aborts the process when its own allocations fail).
std::uint64_t physical_bytes() {
    long pages = sysconf(_SC_PHYS_PAGES), size = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || size <= 0) return UINT64_MAX;
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(size);
}

// Whether FFTW can run a real transform in place on this layout: the
// innermost axis has the same stride on both sides in units of each side's
// element, every other axis the same byte stride, and each batch axis steps
// past the extent of one transform on both sides. Other layouts in place
// run out of place on a copy of the input (FFTW's planner does not refuse
// every such layout: some it recurses on until the stack is exhausted).
// An axis of length 1 may carry any stride (no step is ever taken along it),
// so byte strides are formed with a checked multiply; a layout whose byte
// stride leaves the 64-bit range runs on the copy.
bool real_in_place_ok(const axis* in_axes, const axis* out_axes, int r, int naxes, std::int64_t in_elem,
                      std::int64_t out_elem, std::int64_t in_extent, std::int64_t out_extent) {
    if (in_axes[0].stride != out_axes[0].stride) return false;
    std::int64_t in_bytes = 0, out_bytes = 0;
    auto same_bytes = [&](int i) {
        return !__builtin_mul_overflow(in_axes[i].stride, in_elem, &in_bytes) &&
               !__builtin_mul_overflow(out_axes[i].stride, out_elem, &out_bytes) && in_bytes == out_bytes;
    };
    for (int i = 1; i < r; ++i)
        if (!same_bytes(i)) return false;
    const std::int64_t extent = std::max(in_extent * in_elem, out_extent * out_elem);
    for (int i = r; i < naxes; ++i)
        if (!same_bytes(i) || in_bytes < extent) return false;
    return true;
}

// Pieces of a batch run on several threads. FFTW's threaded plans give each
// thread a fixed share of the work and wait for the last share: on a machine
// where other processes hold some cores, one share started late delays the
// whole transform (single c2c 1024 x 4096 on 8 threads beside other work:
// 1.3-1.9 ms with FFTW's threaded plan, 1.0-1.3 ms in 64 pieces taken in
// turn). A node whose largest batch record holds at least kMinPiecesPerThread
// transforms per thread is therefore planned for one piece of that record on
// one thread, and its pieces (about kPiecesPerThread per thread) are taken by
// the node's threads in turn. Fewer, larger pieces would leave the threads
// idle behind the last one (16 pieces of 512 x 512 on 8 threads). Batches of
// transforms of fewer than kMinPiecePoints points run faster as FFTW's
// threaded plan cut into jobs (single c2c 64 x 65536 on 8 threads: 1.2-1.4 ms
// in pieces, 1.0-1.1 ms in jobs, see kLoopsPerThread).
constexpr std::int64_t kMinPiecesPerThread = 4;
constexpr std::int64_t kMinPiecePoints = 256;
constexpr std::int64_t kPiecesPerThread = 8;

// A threaded node that is not split is planned for this many FFTW threads per
// thread of the node: FFTW cuts each parallel loop of its plan into as many
// jobs, which the node's threads take in turn (measured on double c2c
// 135 x 135 x 135 on 8 threads beside other work, before such transforms ran
// in two passes: 6.7-6.8 ms with FFTW's own threads, 4.1-4.8 ms in 16 jobs per
// loop on 8 threads; more jobs per thread measured no faster and made
// planning longer).
constexpr int kLoopsPerThread = 2;

// The batch record to split and the transforms of one piece: the largest
// record, pieces of equal size that keep each piece's first input and output
// element on a 64-byte boundary when the first piece's are (so that every
// piece runs the same plan). False when the node is not split.
template <typename D>
bool split_batch(const D* dims, int r, const D* hdims, int hr, int threads, std::int64_t in_elem,
                 std::int64_t out_elem, int* record, std::int64_t* piece) {
    if (threads < 2 || hr < 1) return false;
    std::int64_t points = 1;
    for (int i = 0; i < r && points < kMinPiecePoints; ++i) points *= dims[i].n;
    if (points < kMinPiecePoints) return false;
    int k = 0;
    for (int i = 1; i < hr; ++i)
        if (hdims[i].n > hdims[k].n) k = i;
    const std::int64_t n = hdims[k].n;
    if (n < kMinPiecesPerThread * threads || hdims[k].is <= 0 || hdims[k].os <= 0) return false;
    const std::int64_t most = n / (kMinPiecesPerThread * threads);
    for (std::int64_t c = std::max<std::int64_t>(1, n / (kPiecesPerThread * threads)); c <= most; ++c)
        if (n % c == 0 && (c * hdims[k].is * in_elem) % 64 == 0 && (c * hdims[k].os * out_elem) % 64 == 0) {
            *record = k;
            *piece = c;
            return true;
        }
    return false;
}

// A single multi-dimensional complex transform on several threads runs in
// two passes of pieces that the node's threads take in turn, each piece
// computed by a serial plan: the transforms of the inner axes for a piece of
// the outermost axis (input to output), then the transforms along the
// outermost axis, in place on the output, for a piece of the next axis.
// FFTW's threaded plan of such a transform makes the same two passes, but in
// fixed shares per thread, and its planner measures plans for every split of
// every loop over the threads (double c2c 135 x 135 x 135 on 8 threads: 1.6-3.6 s
// per direction measured threaded, 0.1-0.2 s for the four serial plans of the
// pieces).
// Each pass holds about kPassPiecesPerThread pieces per thread, of as many
// indices of the axis as can be shared evenly (the first pieces one index
// more than the others: two plans per pass), so that on idle threads each
// thread's share is within one index of the others' and a thread held back by
// other work delays a pass by one small piece. An axis shorter than the
// threads is not cut: such a transform runs as FFTW's threaded plan.
// A batch of fewer such transforms than split_batch cuts (one batch record,
// not of the sizes that compare a serial plan) runs the same way, the pieces
// of a pass shared among its `count` transforms. Its serial plans take a
// fraction of the threaded plan's planning and compute no slower (single c2c
// 2048 x 2048 x 2 on 8 threads beside other work: both directions planned in
// 0.7 s against 5-6 s; the best of 8 runs 13.1-13.9 ms against 14.1-15.8 ms).
// That holds for transforms that do not stay in cache between the passes,
// so a batch runs in two passes only when one transform's input and output
// take at least kTwoPassBatchBytes (2048 x 2048 single: 64 MiB; 1024 x 1024
// double: 32 MiB). A small batch of smaller transforms runs as FFTW's
// threaded plan on the node's threads, which gives each thread whole
// transforms that stay in its cache (on 8 threads, median of six runs against
// FFTW called directly, two passes / threaded: single c2c 512 x 512 x 16
// 1.25 / 1.06, single c2c 64 x 64 x 64 x 16 1.14 / 1.01, double c2c
// 256 x 256 x 8 1.32 / 1.14; with twice as many FFTW threads, as for other
// nodes that are not split, the last one took 1.65).
constexpr std::int64_t kPassPiecesPerThread = 4;
constexpr std::int64_t kTwoPassBatchBytes = std::int64_t(16) << 20;

std::int64_t two_pass_pieces(std::int64_t n, int threads, std::int64_t count) {
    if (n < threads) return 0;
    return std::min<std::int64_t>(n, (kPassPiecesPerThread * threads + count - 1) / count);
}

// Builds the plans of one direction (0 forward, 1 backward). Strides and
// distances: the input side is the input field, else the forward-domain field
// (forward) or backward-domain field (backward); the output side the output
// field, else the backward-domain (forward) or forward-domain (backward) one.
//
// The plan for aligned arrays is measured on scratch arrays of the node's
// layout (never on the caller's data) unless the process's wisdom holds it
// already; the one for unaligned arrays is estimated. When the offsets keep
// the arrays of a usual allocation off FFTW's alignment, only the unaligned
// plan is made, with the full planning effort.
template <typename T>
int plan_direction(DFTI_DESCRIPTOR* node, cpu_plan_state* s, int which, int threads, unsigned effort) {
    using api = fftw_api<T>;
    direction_plan& d = s->dir[which];
    const bool real = node->forward_domain == DFTI_REAL;
    const int r = node->working_rank;
    const int hr = static_cast<int>(node->working_batch.count);
    // A complex transform in place writes each result where it read the
    // input: its output layout is the input layout, whatever output strides,
    // distances and offset the node holds (callers configure only the input
    // side of such a transform).
    const bool same_layout = !real && s->in_place;
    auto in_of = [&](const dfti_dim& x) {
        return x.input_stride ? x.input_stride : (which == 0 ? x.fwd_stride : x.bwd_stride);
    };
    auto out_of = [&](const dfti_dim& x) {
        if (same_layout) return in_of(x);
        return x.output_stride ? x.output_stride : (which == 0 ? x.bwd_stride : x.fwd_stride);
    };
    auto in_off = node->input_offset ? node->input_offset : (which == 0 ? node->fwd_offset : node->bwd_offset);
    auto out_off = same_layout ? in_off
                   : node->output_offset ? node->output_offset
                                         : (which == 0 ? node->bwd_offset : node->fwd_offset);
    typename api::dim dims[DFTI_MAX_RANK], hdims[DFTI_USER_BATCH_RECORDS];
    axis in_axes[2 * DFTI_MAX_RANK + 1];
    int nin = 0;
    d.naxes = 0;
    for (int i = 0; i < r; ++i) {
        const dfti_dim& w = node->working_dims.records[i];
        // FFTW lists dimensions outermost first: reverse the node order.
        dims[r - 1 - i] = {w.length, in_of(w), out_of(w)};
        std::int64_t half = (i == 0 && real) ? w.length / 2 + 1 : w.length;
        // Real data: forward reads n reals and writes n/2+1 complex values on
        // the innermost axis; backward the other way round.
        std::int64_t nin_len = real && which == 1 ? half : w.length;
        std::int64_t nout_len = real && which == 0 ? half : w.length;
        in_axes[nin++] = {nin_len, in_of(w)};
        d.out_axes[d.naxes++] = {nout_len, out_of(w)};
    }
    for (int i = 0; i < hr; ++i) {
        const dfti_dim& b = node->working_batch.records[i];
        hdims[i] = {b.length, in_of(b), out_of(b)};
        in_axes[nin++] = {b.length, in_of(b)};
        d.out_axes[d.naxes++] = {b.length, out_of(b)};
    }
    const std::int64_t c = static_cast<std::int64_t>(2 * sizeof(T));
    const std::int64_t re = static_cast<std::int64_t>(sizeof(T));
    d.in_elem = real ? (which == 0 ? re : c) : c;
    d.out_elem = real ? (which == 0 ? c : re) : c;
    d.in_offset = in_off;
    d.out_offset = out_off;
    d.scale = which == 0 ? node->forward_scale : node->backward_scale;
    std::int64_t out_span = 0, in_one = 0, out_one = 0, in_start = 0, out_start = 0;
    if (!span_of(in_axes, nin, in_off, &d.in_span) || !span_of(d.out_axes, d.naxes, out_off, &out_span) ||
        !span_of(in_axes, r, 0, &in_one) || !span_of(d.out_axes, r, 0, &out_one) ||
        __builtin_mul_overflow(in_off, d.in_elem, &in_start) || __builtin_mul_overflow(out_off, d.out_elem, &out_start))
        return DFTI_STATUS_INVALID_DESCRIPTOR;

    // Bytes of each array from its offset on; a transform whose arrays exceed
    // the machine's memory is refused before FFTW allocates anything.
    std::uint64_t in_bytes, out_bytes, total;
    if (__builtin_mul_overflow(static_cast<std::uint64_t>(d.in_span - in_off), static_cast<std::uint64_t>(d.in_elem),
                               &in_bytes) ||
        __builtin_mul_overflow(static_cast<std::uint64_t>(out_span - out_off), static_cast<std::uint64_t>(d.out_elem),
                               &out_bytes) ||
        __builtin_add_overflow(in_bytes, s->in_place ? 0 : out_bytes, &total) ||
        std::max(total, out_bytes) > physical_bytes())
        return DFTI_STATUS_ALLOCATION_FAILED;

    // In place, FFTW runs the transform in place when both sides start at the
    // same byte and their layouts fit its in-place rules; otherwise the input
    // is copied and the plan runs out of place from the copy into the array.
    bool fftw_in_place = s->in_place;
    if (s->in_place) {
        const bool same_start = in_start == out_start;
        // The input and output offsets of a real node in place place the real
        // and the complex data in one array: they must start at the same byte
        // for one of the two directions (the node's offsets pair the same way
        // in both), else the layout has no in-place reading.
        std::int64_t in_other, out_other;
        const bool other_start = !__builtin_mul_overflow(in_off, d.out_elem, &in_other) &&
                                 !__builtin_mul_overflow(out_off, d.in_elem, &out_other) && in_other == out_other;
        if (real && !same_start && !other_start) return DFTI_STATUS_INVALID_DESCRIPTOR;
        fftw_in_place = same_start && (!real || real_in_place_ok(in_axes, d.out_axes, r, nin, d.in_elem, d.out_elem,
                                                                  in_one, out_one));
        d.copy_input = !fftw_in_place;
    }

    // A large batch on several threads is split into pieces (not the
    // transforms that compare a serial plan, which run whole on one thread
    // or FFTW's threads).
    const bool serial_compared = compares_serial_plan(node);
    int plan_threads = threads;
    d.piece_count = 1;
    d.in_step = d.out_step = 0;
    int split = -1;
    std::int64_t piece = 0;
    if (!serial_compared && split_batch(dims, r, hdims, hr, threads, d.in_elem, d.out_elem, &split, &piece)) {
        d.piece_count = hdims[split].n / piece;
        d.in_step = piece * hdims[split].is * d.in_elem;
        d.out_step = piece * hdims[split].os * d.out_elem;
        hdims[split].n = piece;
        plan_threads = 1;
    } else if (threads > 1 && !serial_compared) {
        plan_threads = kLoopsPerThread * threads;
    }
    // A single multi-dimensional complex transform, or a small batch of large
    // ones, not split above runs in two passes of pieces (see
    // two_pass_pieces); a small batch of smaller ones as FFTW's threaded plan
    // on the node's threads.
    bool two_pass = false;
    if (plan_threads > 1 && !real && r >= 2) {
        std::int64_t count = 1;
        for (int i = 0; i < hr; ++i) count *= hdims[i].n;
        const bool small_batch = hr == 1 && count > 1 && count < kMinPiecesPerThread * threads &&
                                 hdims[0].is > 0 && hdims[0].os > 0 && !serial_compared;
        const bool large = in_one * d.in_elem + out_one * d.out_elem >= kTwoPassBatchBytes;
        const std::int64_t a = two_pass_pieces(dims[0].n, threads, count);
        const std::int64_t b = two_pass_pieces(dims[1].n, threads, count);
        if (small_batch && !large) plan_threads = threads;
        if ((count == 1 || (small_batch && large)) && a > 0 && b > 0) {
            two_pass = true;
            plan_threads = 1;
            d.pass_batch = count;
            d.batch_in_step = count > 1 ? hdims[0].is * d.in_elem : 0;
            d.batch_out_step = count > 1 ? hdims[0].os * d.out_elem : 0;
            const std::int64_t n[2] = {dims[0].n, dims[1].n}, p[2] = {a, b};
            for (int k = 0; k < 2; ++k) {
                direction_plan::pass& ps = d.passes[k];
                ps.pieces = p[k];
                ps.size = n[k] / p[k];
                ps.larger = n[k] % p[k];
                ps.in_step = (k == 0 ? dims[0].is * d.in_elem : dims[1].os * d.out_elem);
                ps.out_step = dims[k].os * d.out_elem;
            }
        }
    }

    // The caller's input of an out-of-place transform is kept; a copy need not be.
    bool keep_input = !s->in_place && node->destroy_input != 16;
    auto make = [&](void* pi, void* po, unsigned f) -> typename api::plan {
        if (keep_input) f |= FFTW_PRESERVE_INPUT;
        if (!real)
            return api::c2c(r, dims, hr, hdims, (typename api::cpx*)pi, (typename api::cpx*)po,
                            which == 0 ? FFTW_FORWARD : FFTW_BACKWARD, f);
        if (which == 0) return api::r2c(r, dims, hr, hdims, (T*)pi, (typename api::cpx*)po, f);
        return api::c2r(r, dims, hr, hdims, (typename api::cpx*)pi, (T*)po, f);
    };
    // Plans are made on stand-in addresses when FFTW does not touch the
    // arrays (estimate, or wisdom only), on scratch arrays when it measures.
    alignas(64) static char stand_in[2][64];
    void* si = stand_in[0];
    void* so = fftw_in_place ? stand_in[0] : stand_in[1];
    std::lock_guard<std::mutex> g(planner_lock());
    // Measuring runs the candidate plans on the node's threads.
    scoped_context measuring(threads);
    // Without FFTW's threads the planner keeps its single thread (setting a
    // count would make FFTW start over, dropping every plan).
    if (init_fftw_threads()) plan_with_threads<T>(plan_threads);
    set_time_limit<T>(plan_time_limit(node, effort));
    struct restore_limit {
        ~restore_limit() { set_time_limit<T>(FFTW_NO_TIMELIMIT); }
    } restore;
    // A multi-dimensional c2r plan cannot keep its input: it runs on a copy.
    if (keep_input && real && which == 1) {
        if (typename api::plan p = make(si, so, FFTW_ESTIMATE | FFTW_UNALIGNED)) {
            api::destroy(p);
        } else {
            keep_input = false;
            d.copy_input = true;
        }
    }
    bool no_memory = false;
    auto measured = [&](unsigned f) -> typename api::plan {
        return measured_on_scratch<typename api::plan>(make, si, so, f, effort,
                                                       fftw_in_place ? std::max(in_bytes, out_bytes) : in_bytes,
                                                       out_bytes, fftw_in_place, no_memory);
    };
    // Seconds of one run of a plan on zeroed scratch arrays of the node's
    // layout: the best of a few runs after a first one, each timed alone as a
    // caller's compute is. Negative when the arrays cannot be allocated.
    auto run_time = [&](typename api::plan p) -> double {
        const std::size_t in_len = fftw_in_place ? std::max(in_bytes, out_bytes) : in_bytes;
        void* a = aligned_block(in_len);
        void* b = fftw_in_place ? a : aligned_block(out_bytes);
        double best = -1;
        if (a && b) {
            for (int k = 0; k < 6; ++k) {
                std::memset(a, 0, in_len);
                const auto t0 = std::chrono::steady_clock::now();
                if (!real) api::exec_c2c(p, a, b);
                else if (which == 0) api::exec_r2c(p, a, b);
                else api::exec_c2r(p, a, b);
                const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
                if (k > 0 && (best < 0 || t < best)) best = t;
            }
        }
        if (b != a) std::free(b);
        std::free(a);
        return best;
    };
    d.threads = threads;
    if (two_pass) {
        // Each pass's plans of its two piece sizes: measured for aligned
        // arrays when the pass's arrays start aligned (with one estimated for
        // the pieces off alignment), else measured for any alignment.
        typename api::dim pd[DFTI_MAX_RANK], ph[DFTI_MAX_RANK];
        for (int k = 0; k < 2; ++k) {
            direction_plan::pass& ps = d.passes[k];
            int pr, phr;
            if (k == 0) {
                // The inner axes, for indices of the outermost one.
                pr = r - 1;
                for (int i = 1; i < r; ++i) pd[i - 1] = dims[i];
                phr = 1;
                ph[0] = {0, dims[0].is, dims[0].os};
            } else {
                // The outermost axis in place on the output, for indices of
                // the next one and every index of the others.
                pr = 1;
                pd[0] = {dims[0].n, dims[0].os, dims[0].os};
                phr = r - 1;
                ph[0] = {0, dims[1].os, dims[1].os};
                for (int i = 2; i < r; ++i) ph[i - 1] = {dims[i].n, dims[i].os, dims[i].os};
            }
            const bool in_place_pass = k == 1 || fftw_in_place;
            void* xi = in_place_pass ? so : si;
            const unsigned keep = k == 0 && keep_input ? FFTW_PRESERVE_INPUT : 0u;
            auto make_pass = [&](void* pi, void* po, unsigned f) -> typename api::plan {
                return api::c2c(pr, pd, phr, ph, (typename api::cpx*)pi, (typename api::cpx*)po,
                                which == 0 ? FFTW_FORWARD : FFTW_BACKWARD, f | keep);
            };
            auto measured_pass = [&](unsigned f) -> typename api::plan {
                const std::uint64_t a_bytes = k == 1 ? out_bytes : fftw_in_place ? std::max(in_bytes, out_bytes) : in_bytes;
                return measured_on_scratch<typename api::plan>(make_pass, xi, so, f, effort, a_bytes, out_bytes,
                                                               in_place_pass, no_memory);
            };
            const bool aligned = out_start % 16 == 0 && (k == 1 || in_start % 16 == 0);
            for (int big = 0; big < (ps.larger > 0 ? 2 : 1); ++big) {
                ph[0].n = ps.size + big;
                if (aligned) {
                    ps.aligned[big] = measured_pass(0);
                    if (ps.aligned[big]) ps.unaligned[big] = make_pass(xi, so, FFTW_ESTIMATE | FFTW_UNALIGNED);
                } else {
                    ps.unaligned[big] = measured_pass(FFTW_UNALIGNED);
                }
                if (no_memory) return DFTI_STATUS_ALLOCATION_FAILED;
                if (!ps.unaligned[big]) return DFTI_STATUS_INVALID_DESCRIPTOR;
            }
        }
        return 0;
    }
    typename api::plan pa = nullptr, pu = nullptr;
    if (in_start % 16 == 0 && out_start % 16 == 0) {
        if (threads > 1 && effort != FFTW_ESTIMATE && serial_compared) {
            // FFTW's planner given several threads does not come back to a
            // serial plan for such a transform, though one thread may finish
            // it before the workers of a threaded plan are awake. It is
            // measured on one thread first: that plan is kept when it runs
            // within kSerialEnough, else it is timed against the threaded
            // plan and the faster of the two is kept.
            plan_with_threads<T>(1);
            typename api::plan ps = measured(0);
            plan_with_threads<T>(threads);
            const double ts = ps ? run_time(ps) : -1;
            if (ps && ts >= 0 && ts <= kSerialEnough) {
                pa = ps;
                d.threads = 1;
            } else {
                pa = no_memory ? nullptr : measured(0);
                const double tt = pa ? run_time(pa) : -1;
                if (ps && ts >= 0 && (!pa || tt < 0 || ts < tt)) {
                    if (pa) api::destroy(pa);
                    pa = ps;
                    d.threads = 1;
                } else if (ps) {
                    api::destroy(ps);
                }
                if (pa) no_memory = false;
            }
        } else {
            pa = measured(0);
        }
        // The unaligned plan runs on as many threads as the aligned one.
        if (pa) {
            const int unaligned_threads = d.threads == 1 ? 1 : plan_threads;
            if (unaligned_threads != plan_threads) plan_with_threads<T>(unaligned_threads);
            pu = make(si, so, FFTW_ESTIMATE | FFTW_UNALIGNED);
            if (unaligned_threads != plan_threads) plan_with_threads<T>(plan_threads);
        }
        if (pa && !pu) {
            api::destroy(pa);
            pa = nullptr;
        }
    } else {
        pu = measured(FFTW_UNALIGNED);
    }
    d.aligned = pa;
    d.unaligned = pu;
    if (no_memory) return DFTI_STATUS_ALLOCATION_FAILED;
    if (!pu) return DFTI_STATUS_INVALID_DESCRIPTOR;
    return 0;
}

template <typename T>
int cpu_commit_t(DFTI_DESCRIPTOR* node) {
    if (node->forward_domain == DFTI_COMPLEX && node->complex_storage != DFTI_COMPLEX_COMPLEX)
        return DFTI_STATUS_UNIMPLEMENTED;
    if (node->forward_domain == DFTI_REAL) {
        if (node->real_storage != DFTI_REAL_REAL) return DFTI_STATUS_UNIMPLEMENTED;
        bool cce = node->conjugate_even_storage == DFTI_COMPLEX_COMPLEX && node->packed_format == DFTI_CCE_FORMAT;
        bool ccs1 = node->conjugate_even_storage == DFTI_COMPLEX_REAL && node->packed_format == DFTI_CCS_FORMAT &&
                    node->rank == 1;
        if (!cce && !ccs1) return DFTI_STATUS_UNIMPLEMENTED;
    }
    if (int st = dfti_node_ops::normalize(node)) return st;
    auto* s = new (std::nothrow) cpu_plan_state;
    if (!s) return DFTI_STATUS_ALLOCATION_FAILED;
    s->precision = node->precision;
    s->domain = node->forward_domain;
    s->in_place = node->placement == DFTI_INPLACE;
    const bool threaded = init_fftw_threads();
    const bool small = node_points(node) < kMeasuredPoints;
    const int threads = small || !threaded ? 1 : threads_for(node);
    unsigned effort = planner_effort_override();
    if (!effort) effort = small ? FFTW_ESTIMATE : FFTW_MEASURE;
    for (int which = 0; which < 2; ++which) {
        if (node->directions != 2 && node->directions != which) continue;
        if (int st = plan_direction<T>(node, s, which, threads, effort)) {
            destroy_plans<T>(s);
            delete s;
            return st;
        }
    }
    node->cpu_plan = s;
    node->cpu_compute_fwd = s->dir[0].planned() ? compute_fwd<T> : nullptr;
    node->cpu_compute_bwd = s->dir[1].planned() ? compute_bwd<T> : nullptr;
    node->data_array_count = dfti_node_ops::data_array_count(node);
    node->threads_in_use = std::max(node->directions != 1 ? s->dir[0].threads : 1,
                                    node->directions != 0 ? s->dir[1].threads : 1);
    node->commit_status = DFTI_COMMITTED;
    return 0;
}

int cpu_commit(DFTI_DESCRIPTOR* node) {
    if (!node || node->marker != DFTI_NODE_MARKER) return DFTI_STATUS_BAD_DESCRIPTOR;
    dfti_node_ops::uncommit(node);
    return node->precision == DFTI_DOUBLE ? cpu_commit_t<double>(node) : cpu_commit_t<float>(node);
}

int cpu_destroy(DFTI_DESCRIPTOR* node) {
    if (!node) return DFTI_STATUS_BAD_DESCRIPTOR;
    if (node->detach_backend) node->detach_backend(node);
    delete node->queue_copy;
    delete node->workspace_buffer;
    dfti_node_ops::free_node_memory(node);
    return 0;
}

int cpu_copy(DFTI_DESCRIPTOR* node, DFTI_DESCRIPTOR** out) { return dfti_node_ops::copy(node, out); }
int cpu_set_workspace(DFTI_DESCRIPTOR*, void*, int) { return DFTI_STATUS_INVALID_DESCRIPTOR; }

using namespace dfti_node_ops;
const dfti_method_table cpu_method_table = {
    cpu_commit,       cpu_commit,          get_input_strides,        get_output_strides, set_input_strides,
    set_output_strides, get_lengths,       get_name,                 set_name,           get_scale,
    set_scale,        cpu_copy,            get_input_distance,       get_output_distance,
    get_number_of_transforms, set_input_distance, set_output_distance, set_number_of_transforms,
    get_thread_limit, set_thread_limit,    get_rank,                 set_fwd_distance,   set_bwd_distance,
    cpu_destroy,      cpu_set_workspace,   get_fwd_distance,         get_bwd_distance,   get_fwd_strides,
    get_bwd_strides,  set_fwd_strides,     set_bwd_strides,
};

int create(DFTI_DESCRIPTOR** h, int precision, int domain, std::int64_t rank, const std::int64_t* lengths) {
    if (!h) return DFTI_STATUS_INVALID_DESCRIPTOR;
    int st = dfti_node_ops::alloc_node(&cpu_services, h, precision, domain, rank, lengths);
    if (st) return st;
    (*h)->methods = &cpu_method_table;
    (*h)->detach_backend = cpu_detach;
    return 0;
}

}  // namespace

extern "C" {

int ovx_dft_dfti_create_sc1d(DFTI_DESCRIPTOR** h, int64_t n) { return create(h, DFTI_SINGLE, DFTI_COMPLEX, 1, &n); }
int ovx_dft_dfti_create_sr1d(DFTI_DESCRIPTOR** h, int64_t n) { return create(h, DFTI_SINGLE, DFTI_REAL, 1, &n); }
int ovx_dft_dfti_create_dc1d(DFTI_DESCRIPTOR** h, int64_t n) { return create(h, DFTI_DOUBLE, DFTI_COMPLEX, 1, &n); }
int ovx_dft_dfti_create_dr1d(DFTI_DESCRIPTOR** h, int64_t n) { return create(h, DFTI_DOUBLE, DFTI_REAL, 1, &n); }
int ovx_dft_dfti_create_scmd(DFTI_DESCRIPTOR** h, int64_t r, const int64_t* l) { return create(h, DFTI_SINGLE, DFTI_COMPLEX, r, l); }
int ovx_dft_dfti_create_srmd(DFTI_DESCRIPTOR** h, int64_t r, const int64_t* l) { return create(h, DFTI_SINGLE, DFTI_REAL, r, l); }
int ovx_dft_dfti_create_dcmd(DFTI_DESCRIPTOR** h, int64_t r, const int64_t* l) { return create(h, DFTI_DOUBLE, DFTI_COMPLEX, r, l); }
int ovx_dft_dfti_create_drmd(DFTI_DESCRIPTOR** h, int64_t r, const int64_t* l) { return create(h, DFTI_DOUBLE, DFTI_REAL, r, l); }

void ovxplat_cpudft_fail_next_compute(int status) { injected_compute_failure.store(status); }

void ovx_dft_bless_node_thr(DFTI_DESCRIPTOR* node) {
    if (node && node->marker == DFTI_NODE_MARKER) node->thread_word = 1;
}

}  // extern "C"
