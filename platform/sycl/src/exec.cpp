// Scheduling and execution: events, queues, command groups, buffers, host
// kernels (with work-group barriers), OpenCL launches and kernel bundles.
//
// Every submitted command group becomes a command with a list of events it
// waits for: explicit dependencies, the previous command of an in-order
// queue, and earlier commands whose buffer regions conflict with its
// accessors. A command whose dependencies are complete goes to the ready list;
// worker threads take ready commands and run them. One lock guards the whole
// dependency graph.
#include "internal.hpp"

#include <ovxplat/sycl_standin.hpp>
#include <sycl/detail/esimd_memory.hpp>

#include <cxxabi.h>
#include <dlfcn.h>
#include <sys/mman.h>
#include <ucontext.h>

#if defined(__SANITIZE_ADDRESS__)
#define OVXPLAT_ASAN 1
#endif
#if defined(__SANITIZE_THREAD__)
#define OVXPLAT_TSAN 1
#endif
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define OVXPLAT_ASAN 1
#endif
#if __has_feature(thread_sanitizer)
#define OVXPLAT_TSAN 1
#endif
#endif
#ifdef OVXPLAT_ASAN
#include <sanitizer/common_interface_defs.h>
#endif
#ifdef OVXPLAT_TSAN
#include <sanitizer/tsan_interface.h>
#endif

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <random>
#include <thread>

namespace sycl {
inline namespace _V1 {
namespace detail {

// ---------------------------------------------------------------- commands
struct command {
    std::shared_ptr<event_impl> ev;
    int pending = 0;
    bool shufflable = false;
    std::function<void()> body;
    std::shared_ptr<queue_impl> queue;  // released when the command is done
};

namespace {

thread_local bool tls_worker = false;

struct scheduler {
    std::mutex mu;
    std::condition_variable work_cv;
    std::condition_variable done_cv;
    std::deque<std::shared_ptr<command>> ready;
    std::vector<std::shared_ptr<command>> held;
    std::uint64_t held_since = 0;
    int workers = 0;
    int idle = 0;
    int wakeups = 0;  // idle workers already signalled
    bool shuffle = false;
    std::mt19937_64 rng;

    scheduler() {
        const char* s = std::getenv("OVXPLAT_SHUFFLE");
        shuffle = s && std::strcmp(s, "0") != 0 && *s;
        const char* seed = std::getenv("OVXPLAT_SHUFFLE_SEED");
        rng.seed(seed ? std::strtoull(seed, nullptr, 10) : std::random_device{}());
    }

    // Caller holds mu.
    void make_ready(const std::shared_ptr<command>& c) {
        if (shuffle && c->shufflable) {
            if (held.empty()) held_since = now_ns();
            held.push_back(c);
        } else {
            ready.push_back(c);
        }
        if (idle > wakeups) {
            ++wakeups;
            work_cv.notify_one();
        } else {
            spawn();
        }
    }
    // Caller holds mu. Workers are never retired: a host task may block, and
    // the commands it waits for still need a thread.
    void spawn() {
        ++workers;
        std::thread([this] {
            tls_worker = true;
            worker();
        }).detach();
    }
    // Caller holds mu: moves the held commands to the ready list in random order.
    void release_held() {
        if (held.empty()) return;
        std::shuffle(held.begin(), held.end(), rng);
        for (auto& c : held) {
            ready.push_back(c);
            // Every released command gets a thread, even when all workers are busy.
            if (idle > wakeups) {
                ++wakeups;
                work_cv.notify_one();
            } else {
                spawn();
            }
        }
        held.clear();
    }
    // by_worker: the caller is a worker, which goes on with the first
    // command made ready here itself; any other caller hands every one of
    // them to the workers.
    void complete(const std::shared_ptr<command>& c, std::exception_ptr err, bool by_worker = true) {
        std::unique_lock<std::mutex> lock(mu);
        auto& e = *c->ev;
        e.t_end = now_ns();
        e.error = err;
        if (err && c->queue) c->queue->errors.push_back(err);
        e.state = 2;
        e.releasing = true;
        cl_event user = e.cl_user;
        auto waiters = std::move(e.waiters);
        e.waiters.clear();
        // The calling worker takes the first command made ready here itself.
        bool self = by_worker;
        for (auto& w : waiters) {
            if (--w->pending != 0) continue;
            if (self && !(shuffle && w->shufflable)) {
                ready.push_back(w);
                self = false;
            } else {
                make_ready(w);
            }
        }
        // The work and the queue go after the lock is released: the work may
        // hold the last handle of a buffer, whose end takes this lock to wait
        // for the buffer's commands (later commands on it may run meanwhile:
        // this one is complete) and writes the buffer back, and this may be
        // the last handle of the queue, whose end releases the caller's
        // asynchronous handler. The caller's waits end once both are gone.
        std::function<void()> body = std::move(c->body);
        c->body = nullptr;
        std::shared_ptr<queue_impl> queue = std::move(c->queue);
        done_cv.notify_all();
        lock.unlock();
        if (user) clSetUserEventStatus(user, CL_COMPLETE);
        body = nullptr;
        queue.reset();
        lock.lock();
        e.releasing = false;
        lock.unlock();
        done_cv.notify_all();
        counters().completed++;
    }
    // Caller holds mu (through `lock`, released while the body runs): runs a
    // command taken off the ready list and completes it.
    void run(const std::shared_ptr<command>& c, std::unique_lock<std::mutex>& lock, bool by_worker) {
        c->ev->state = 1;
        c->ev->t_start = now_ns();
        lock.unlock();
        std::exception_ptr err;
        try {
            if (c->body) c->body();
        } catch (...) {
            err = std::current_exception();
        }
        complete(c, err, by_worker);
        lock.lock();
    }
    void worker() {
        std::unique_lock<std::mutex> lock(mu);
        for (;;) {
            if (!held.empty() && now_ns() - held_since > 2000000) release_held();
            if (!ready.empty()) {
                auto c = ready.front();
                ready.pop_front();
                run(c, lock, true);
                continue;
            }
            ++idle;
            if (held.empty())
                work_cv.wait(lock);
            else
                work_cv.wait_for(lock, std::chrono::milliseconds(1));
            --idle;
            if (wakeups > 0) --wakeups;
        }
    }
};

scheduler& sched() {
    static scheduler* s = new scheduler();
    return *s;
}

// ---------------------------------------------------------------- compute pool
// Threads that run the pieces of host kernels (work-groups or index chunks).
// A piece never waits for another piece, so the pool cannot deadlock.
struct compute_pool {
    std::mutex mu;
    std::condition_variable cv;
    std::deque<std::function<void()>> tasks;
    int threads = 0;
    compute_pool() {
        threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency())) - 1;
        if (threads < 1) threads = 1;
        for (int i = 0; i < threads; ++i)
            std::thread([this] {
                std::unique_lock<std::mutex> lock(mu);
                for (;;) {
                    cv.wait(lock, [this] { return !tasks.empty(); });
                    auto t = std::move(tasks.front());
                    tasks.pop_front();
                    lock.unlock();
                    t();
                    lock.lock();
                }
            }).detach();
    }
};
compute_pool& pool() {
    static compute_pool* p = new compute_pool();
    return *p;
}

struct parallel_state {
    std::atomic<std::size_t> next{0};
    std::size_t n = 0;
    std::atomic<std::size_t> done{0};
    const std::function<void(std::size_t)>* fn = nullptr;
    std::mutex mu;
    std::condition_variable cv;
    std::exception_ptr err;
};

void run_pieces(const std::shared_ptr<parallel_state>& st) {
    for (;;) {
        std::size_t i = st->next.fetch_add(1);
        if (i >= st->n) return;
        try {
            (*st->fn)(i);
        } catch (...) {
            std::lock_guard<std::mutex> lock(st->mu);
            if (!st->err) st->err = std::current_exception();
        }
        if (st->done.fetch_add(1) + 1 == st->n) {
            std::lock_guard<std::mutex> lock(st->mu);
            st->cv.notify_all();
        }
    }
}

// Runs fn(0..n-1) on the calling thread and the compute pool; rethrows the
// first exception of any piece.
void parallel_pieces(std::size_t n, const std::function<void(std::size_t)>& fn) {
    if (n == 0) return;
    if (n == 1) {
        fn(0);
        return;
    }
    auto st = std::make_shared<parallel_state>();
    st->n = n;
    st->fn = &fn;
    auto& p = pool();
    std::size_t helpers = std::min<std::size_t>(n - 1, static_cast<std::size_t>(p.threads));
    {
        std::lock_guard<std::mutex> lock(p.mu);
        for (std::size_t i = 0; i < helpers; ++i) p.tasks.push_back([st] { run_pieces(st); });
    }
    p.cv.notify_all();
    run_pieces(st);
    std::unique_lock<std::mutex> lock(st->mu);
    st->cv.wait(lock, [&] { return st->done.load() == st->n; });
    // The error leaves the shared state here: a pool thread may drop the
    // last reference to the state after this call returned, and the
    // exception must not be released there while the caller still reads it.
    std::exception_ptr err = std::move(st->err);
    st->err = nullptr;
    lock.unlock();
    if (err) std::rethrow_exception(err);
}

// ---------------------------------------------------------------- work-groups
// Every work-item of a group with more than one item runs on its own fiber;
// a barrier switches back to the group's loop, which resumes the items in
// turn, so each item passes a barrier only after all have reached it.
constexpr std::size_t fiber_stack_bytes = 512 * 1024;

// The switch between fibers saves only what the calling convention asks a
// callee to keep (and the floating-point control words), so it costs a few
// nanoseconds. Other processors use ucontext.
#if defined(__x86_64__)
#define OVXPLAT_FAST_FIBERS 1
extern "C" void ovxplat_fiber_switch(void** save_sp, void* new_sp);
asm(R"(
.text
.globl ovxplat_fiber_switch
.hidden ovxplat_fiber_switch
.type ovxplat_fiber_switch,@function
ovxplat_fiber_switch:
    pushq %rbp
    pushq %rbx
    pushq %r12
    pushq %r13
    pushq %r14
    pushq %r15
    subq $8, %rsp
    stmxcsr (%rsp)
    fnstcw 4(%rsp)
    movq %rsp, (%rdi)
    movq %rsi, %rsp
    ldmxcsr (%rsp)
    fldcw 4(%rsp)
    addq $8, %rsp
    popq %r15
    popq %r14
    popq %r13
    popq %r12
    popq %rbx
    popq %rbp
    ret
.size ovxplat_fiber_switch, .-ovxplat_fiber_switch
.section .note.GNU-stack,"",@progbits
.text
)");
#endif

// The sanitizers are told of every switch between stacks, as their fiber
// interfaces ask. AddressSanitizer then knows which stack is current (an
// exception thrown on a work-item's stack clears that stack's shadow, not the
// thread's) and keeps each stack's fake frames apart; ThreadSanitizer keeps a
// shadow call stack per fiber (a function entered on one stack and left on
// another would otherwise pile up on the thread's shadow stack without
// bound). Each work-item stack has one ThreadSanitizer fiber for the life of
// its thread. The switches order the items of a group as a barrier does.
// OVXPLAT_SAN_LEAVE goes on the stack being left just before a switch,
// OVXPLAT_SAN_ARRIVE on the stack entered just after it; both are macros, so
// that no instrumented call is entered on one stack and left on another.
#ifdef OVXPLAT_ASAN
#define OVXPLAT_ASAN_LEAVE(fake_save, bottom, size) __sanitizer_start_switch_fiber((fake_save), (bottom), (size))
#define OVXPLAT_SAN_ARRIVE(fake, from_bottom, from_size) \
    __sanitizer_finish_switch_fiber((fake), (from_bottom), (from_size))
#else
#define OVXPLAT_ASAN_LEAVE(fake_save, bottom, size) ((void)0)
#define OVXPLAT_SAN_ARRIVE(fake, from_bottom, from_size) ((void)0)
#endif
#ifdef OVXPLAT_TSAN
#define OVXPLAT_TSAN_LEAVE(fiber) __tsan_switch_to_fiber((fiber), 0)
#else
#define OVXPLAT_TSAN_LEAVE(fiber) ((void)0)
#endif
#define OVXPLAT_SAN_LEAVE(fake_save, bottom, size, tsan_fiber) \
    do {                                                          \
        OVXPLAT_ASAN_LEAVE(fake_save, bottom, size);              \
        OVXPLAT_TSAN_LEAVE(tsan_fiber);                           \
    } while (0)

// The entry functions of work-item stacks never return (the fast switch) or
// return on a stack the sanitizers were already told they left (ucontext):
// they carry no instrumentation, so that they leave no frame behind in the
// sanitizers' records, nor poisoned stack on a stack the next group reuses.
#define OVXPLAT_FIBER_ENTRY __attribute__((no_sanitize_address, no_sanitize_thread))

struct fiber_group {
#ifdef OVXPLAT_FAST_FIBERS
    void* main_sp = nullptr;
    void* ended_sp = nullptr;  // where an ended item's switch saves a stack pointer no one reads
    std::vector<void*> sp;
#else
    ucontext_t main_ctx;
    std::vector<ucontext_t> ctx;
#endif
    std::vector<unsigned char> done;
    std::size_t current = 0;
    host_kernel_base* kernel = nullptr;
    std::size_t group = 0;
    std::exception_ptr err;
    // The stack run_group runs on, learnt when an item first starts
    // (AddressSanitizer), the fake frames it and each waiting item keep
    // while another stack runs (AddressSanitizer) and its fiber (ThreadSanitizer).
    const void* main_bottom = nullptr;
    std::size_t main_size = 0;
    void* main_fake = nullptr;
    std::vector<void*> item_fake;
    void* main_tsan = nullptr;
};

struct thread_exec_state {
    std::vector<void*> stacks;
    std::vector<char> local_mem;
    std::vector<void*> local_table;
    // Explicit-SIMD shared local memory of the running work-group: an arena
    // of the device's local memory size, declared anew by every group.
    std::vector<char> slm;
    int kernel_depth = 0;  // host kernels running on this thread (nested by waits inside kernels)
#ifdef OVXPLAT_TSAN
    std::vector<void*> tsan_fibers;  // one per stack
#endif
    ~thread_exec_state() {
#ifdef OVXPLAT_TSAN
        for (void* f : tsan_fibers) __tsan_destroy_fiber(f);
#endif
        for (void* s : stacks) munmap(s, fiber_stack_bytes);
    }
};
thread_local thread_exec_state tls;
// The declared span of the group's SLM (into tls.slm). A plain record with
// constant initialisation, so that reaching it costs no guard: kernels read it
// on every SLM access.
// Initial-exec: a small record reached without a call.
__attribute__((tls_model("initial-exec"))) thread_local esimd_slm_state tls_slm{};
// The bundle whose specialization constants the running kernel reads; plain,
// as kernels read their constants often.
__attribute__((tls_model("initial-exec"))) thread_local const bundle_impl* tls_spec = nullptr;
// The running group's fibers (null outside a group of several items) and the
// device's local memory size (0 outside nd_range launches): read by every
// barrier and every slm_init.
__attribute__((tls_model("initial-exec"))) thread_local fiber_group* tls_fibers = nullptr;
__attribute__((tls_model("initial-exec"))) thread_local std::uint64_t tls_slm_limit = 0;

void run_current_item() {
    fiber_group* fg = tls_fibers;
    std::size_t i = fg->current;
    try {
        fg->kernel->run_item(fg->group, i);
    } catch (...) {
        if (!fg->err) fg->err = std::current_exception();
    }
    fg->done[i] = 1;
}

#ifdef OVXPLAT_FAST_FIBERS
[[noreturn]] OVXPLAT_FIBER_ENTRY void fiber_start() {
    fiber_group* fg = tls_fibers;
    OVXPLAT_SAN_ARRIVE(nullptr, &fg->main_bottom, &fg->main_size);
    run_current_item();
    // The item has ended: its fake frames go (no place to keep them).
    OVXPLAT_SAN_LEAVE(nullptr, fg->main_bottom, fg->main_size, fg->main_tsan);
    ovxplat_fiber_switch(&fg->ended_sp, fg->main_sp);
    __builtin_unreachable();
}
#else
OVXPLAT_FIBER_ENTRY void fiber_entry() {
    fiber_group* fg = tls_fibers;
    OVXPLAT_SAN_ARRIVE(nullptr, &fg->main_bottom, &fg->main_size);
    run_current_item();
    // Returning resumes the group's loop through uc_link.
    OVXPLAT_SAN_LEAVE(nullptr, fg->main_bottom, fg->main_size, fg->main_tsan);
}
#endif

// The ThreadSanitizer fiber of work-item stack i of this thread.
inline void* tls_tsan_fiber(std::size_t i) {
#ifdef OVXPLAT_TSAN
    return tls.tsan_fibers[i];
#else
    (void)i;
    return nullptr;
#endif
}

void run_group(host_kernel_base* k, std::size_t g, std::size_t items) {
    if (items == 1) {
        k->run_item(g, 0);
        return;
    }
    while (tls.stacks.size() < items) {
        void* s = mmap(nullptr, fiber_stack_bytes, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_STACK, -1, 0);
        if (s == MAP_FAILED) throw_error(errc::memory_allocation, "Cannot allocate work-item stacks");
        mprotect(s, 4096, PROT_NONE);  // guard page
        tls.stacks.push_back(s);
#ifdef OVXPLAT_TSAN
        tls.tsan_fibers.push_back(__tsan_create_fiber(0));
#endif
    }
    fiber_group fg;
    fg.kernel = k;
    fg.group = g;
    fg.done.assign(items, 0);
    fg.item_fake.assign(items, nullptr);
#ifdef OVXPLAT_TSAN
    fg.main_tsan = __tsan_get_current_fiber();
#endif
#ifdef OVXPLAT_FAST_FIBERS
    fg.sp.resize(items);
    for (std::size_t i = 0; i < items; ++i) {
        // Initial frame, as the switch leaves it: control words, six saved
        // registers, then the address the switch returns to.
        auto top = reinterpret_cast<std::uintptr_t>(tls.stacks[i]) + fiber_stack_bytes;
        top &= ~static_cast<std::uintptr_t>(15);
        // The return slot is 16-byte aligned, so fiber_start begins as if called.
        auto* frame = reinterpret_cast<std::uint64_t*>(top - 72);
        frame[0] = 0x037F00001F80ull;  // MXCSR default, x87 control word default
        for (int r = 1; r <= 6; ++r) frame[r] = 0;
        frame[7] = reinterpret_cast<std::uint64_t>(&fiber_start);
        fg.sp[i] = frame;
    }
#else
    fg.ctx.resize(items);
    for (std::size_t i = 0; i < items; ++i) {
        getcontext(&fg.ctx[i]);
        fg.ctx[i].uc_stack.ss_sp = tls.stacks[i];
        fg.ctx[i].uc_stack.ss_size = fiber_stack_bytes;
        fg.ctx[i].uc_link = &fg.main_ctx;
        makecontext(&fg.ctx[i], fiber_entry, 0);
    }
#endif
    fiber_group* saved = tls_fibers;
    tls_fibers = &fg;
    std::size_t remaining = items;
    while (remaining) {
        for (std::size_t i = 0; i < items; ++i) {
            if (fg.done[i]) continue;
            fg.current = i;
            OVXPLAT_SAN_LEAVE(&fg.main_fake, tls.stacks[i], fiber_stack_bytes, tls_tsan_fiber(i));
#ifdef OVXPLAT_FAST_FIBERS
            ovxplat_fiber_switch(&fg.main_sp, fg.sp[i]);
#else
            swapcontext(&fg.main_ctx, &fg.ctx[i]);
#endif
            OVXPLAT_SAN_ARRIVE(fg.main_fake, nullptr, nullptr);
            if (fg.done[i]) --remaining;
        }
    }
    tls_fibers = saved;
    if (fg.err) std::rethrow_exception(fg.err);
}

}  // namespace

void host_group_barrier() {
    fiber_group* fg = tls_fibers;
    if (!fg) return;
    const std::size_t i = fg->current;
    OVXPLAT_SAN_LEAVE(&fg->item_fake[i], fg->main_bottom, fg->main_size, fg->main_tsan);
#ifdef OVXPLAT_FAST_FIBERS
    ovxplat_fiber_switch(&fg->sp[i], fg->main_sp);
#else
    swapcontext(&fg->ctx[i], &fg->main_ctx);
#endif
    OVXPLAT_SAN_ARRIVE(fg->item_fake[i], nullptr, nullptr);
}

void* local_memory_base(std::size_t index) {
    if (index >= tls.local_table.size()) throw_error(errc::invalid, "local_accessor used outside its kernel");
    return tls.local_table[index];
}

bool current_spec(const void* key, void* out, std::size_t size) {
    const bundle_impl* b = tls_spec;
    if (!b) {
        if (tls.kernel_depth == 0)
            throw_error(errc::feature_not_supported,
                        "kernel_handler::get_specialization_constant() is not supported on host.");
        return false;
    }
    return bundle_get_spec(b, key, out, size);
}

const spec_table* current_spec_table() {
    const bundle_impl* b = tls_spec;
    return b && b->frozen ? &b->table : nullptr;
}

// Shared local memory of explicit-SIMD code. These run on work-item fibers
// and report faults by their result; the header raises them, so that no
// exception starts inside this library on a fiber stack.
int esimd_slm_init(std::uint32_t bytes) {
    if (tls_slm_limit == 0) return 1;
    if (bytes > tls_slm_limit) return 2;
    if (tls_slm.declared) return tls_slm.size != bytes ? 3 : 0;  // the group's later items
    if (tls.slm.size() < bytes) tls.slm.resize(bytes);
    tls_slm.base = tls.slm.data();
    tls_slm.size = bytes;
    tls_slm.declared = 1;
    return 0;
}

esimd_slm_state* esimd_slm_current() { return &tls_slm; }

char* esimd_slm_span(std::uint32_t* size) {
    if (!tls_slm.declared) return nullptr;
    *size = tls_slm.size;
    return tls_slm.base;
}

// ---------------------------------------------------------------- events
event_impl::~event_impl() {
    if (cl_user) clReleaseEvent(cl_user);
    if (native) clReleaseEvent(native);
}

std::shared_ptr<event_impl> make_complete_event() {
    auto e = std::make_shared<event_impl>();
    e->state = 2;
    e->t_submit = e->t_start = e->t_end = now_ns();
    return e;
}

void wait_event(const std::shared_ptr<event_impl>& e, bool released) {
    if (!e) return;
    auto& s = sched();
    std::unique_lock<std::mutex> lock(s.mu);
    s.release_held();
    auto done = [&] { return e->state == 2 && !(released && e->releasing); };
    if (done()) return;
    // A worker that blocks here must not hold back ready commands.
    if (tls_worker && !s.ready.empty()) s.spawn();
    // A thread that only waits spares itself the two thread wake-ups of a
    // command handed to a worker (the worker's, then its own).
    if (!tls_worker) {
        // The awaited command, ready and not yet taken by a worker, runs here.
        if (e->state == 0) {
            auto it = std::find_if(s.ready.begin(), s.ready.end(),
                                   [&](const std::shared_ptr<command>& c) { return c->ev == e; });
            if (it != s.ready.end()) {
                auto c = *it;
                s.ready.erase(it);
                s.run(c, lock, false);
                return;
            }
        }
        // A launch that went to an OpenCL queue at submission: the device's
        // completion of its OpenCL event wakes this thread directly, and the
        // worker completes the command at the same moment.
        if (e->native) {
            cl_event native = e->native;
            clRetainEvent(native);
            lock.unlock();
            clWaitForEvents(1, &native);
            clReleaseEvent(native);
            const std::uint64_t until = now_ns() + 1000000;
            lock.lock();
            while (e->state != 2 && now_ns() < until) {
                lock.unlock();
                std::this_thread::yield();
                lock.lock();
            }
        }
    }
    s.done_cv.wait(lock, done);
}

void release_held_commands() {
    auto& s = sched();
    std::lock_guard<std::mutex> lock(s.mu);
    s.release_held();
}

void complete_external(const std::shared_ptr<event_impl>& e) {
    auto& s = sched();
    std::unique_lock<std::mutex> lock(s.mu);
    if (e->state == 2) return;
    e->t_end = now_ns();
    e->state = 2;
    cl_event user = e->cl_user;
    auto waiters = std::move(e->waiters);
    e->waiters.clear();
    for (auto& w : waiters)
        if (--w->pending == 0) s.make_ready(w);
    s.done_cv.notify_all();
    lock.unlock();
    if (user) clSetUserEventStatus(user, CL_COMPLETE);
}

void deliver_errors(const std::shared_ptr<queue_impl>& q, bool throw_without_handler) {
    std::vector<std::exception_ptr> errs;
    {
        std::lock_guard<std::mutex> lock(sched().mu);
        errs.swap(q->errors);
    }
    if (errs.empty()) return;
    async_handler h = q->handler ? q->handler : q->ctx->handler;
    if (h) {
        exception_list l;
        for (auto& e : errs) l.push_back(e);
        h(l);
        return;
    }
    if (throw_without_handler) std::rethrow_exception(errs.front());
}

std::vector<cl_event> native_events_of(const event_impl* ec) {
    const cl_state& cl = opencl();
    if (!cl.context) throw_error(errc::platform, "No OpenCL device is available");
    cl_int err = CL_SUCCESS;
    if (!ec) {
        cl_event u = clCreateUserEvent(cl.context, &err);
        clSetUserEventStatus(u, CL_COMPLETE);
        return {u};
    }
    auto* e = const_cast<event_impl*>(ec);
    auto& s = sched();
    std::unique_lock<std::mutex> lock(s.mu);
    if (!e->cl_user) {
        e->cl_user = clCreateUserEvent(cl.context, &err);
        if (err != CL_SUCCESS) throw_error(errc::runtime, "OpenCL error " + std::to_string(err));
        if (e->state == 2) clSetUserEventStatus(e->cl_user, CL_COMPLETE);
    }
    clRetainEvent(e->cl_user);
    return {e->cl_user};
}

event make_event_from(backend b, pi_native_handle h, const context&) {
    if (b != backend::opencl) throw_error(errc::backend_mismatch, "Backends mismatch");
    auto n = reinterpret_cast<cl_event>(h);
    if (clRetainEvent(n) != CL_SUCCESS) throw_error(errc::invalid, "Invalid native OpenCL event handle");
    auto e = std::make_shared<event_impl>();
    e->t_submit = e->t_start = now_ns();
    auto* holder = new std::shared_ptr<event_impl>(e);
    cl_int err = clSetEventCallback(
        n, CL_COMPLETE,
        [](cl_event ev, cl_int, void* data) {
            auto* p = static_cast<std::shared_ptr<event_impl>*>(data);
            complete_external(*p);
            delete p;
            clReleaseEvent(ev);
        },
        holder);
    if (err != CL_SUCCESS) {
        delete holder;
        clReleaseEvent(n);
        throw_error(errc::invalid, "OpenCL error " + std::to_string(err) + " on the native event");
    }
    return event(e);
}

// ---------------------------------------------------------------- buffers
buffer_impl::~buffer_impl() {
    if (svm) svm_free(data);
    counters().buffers--;
}

std::shared_ptr<buffer_impl> buffer_storage_create(std::size_t bytes, const code_location&) {
    auto b = std::make_shared<buffer_impl>();
    counters().buffers++;
    b->bytes = bytes;
    if (bytes) {
        b->data = svm_alloc(bytes, 128);
        if (!b->data) throw_error(errc::memory_allocation, "Failed to allocate " + std::to_string(bytes) + " bytes for a buffer");
        b->svm = true;
    }
    return b;
}
void* buffer_storage_data(const buffer_impl* b) { return b->data; }
std::size_t buffer_storage_bytes(const buffer_impl* b) { return b->bytes; }

namespace {
bool overlaps(std::size_t lo1, std::size_t hi1, std::size_t lo2, std::size_t hi2) {
    if (lo1 == hi1 || lo2 == hi2) return lo1 == lo2 && hi1 == hi2 && lo1 != hi1;
    return lo1 < hi2 && lo2 < hi1;
}
// Caller holds the scheduler lock.
void prune(buffer_impl* b) {
    auto& h = b->history;
    h.erase(std::remove_if(h.begin(), h.end(), [](const access_record& r) { return r.ev->state == 2; }), h.end());
}
}  // namespace

void buffer_storage_wait(buffer_impl* b, std::size_t lo, std::size_t hi) {
    std::vector<std::shared_ptr<event_impl>> evs;
    {
        std::lock_guard<std::mutex> lock(sched().mu);
        prune(b);
        for (auto& r : b->history)
            if (!r.ev->host_hold && overlaps(lo, hi, r.lo, r.hi)) evs.push_back(r.ev);
    }
    for (auto& e : evs) wait_event(e);
}

std::shared_ptr<void> buffer_host_acquire(const std::shared_ptr<buffer_impl>& b, std::size_t lo, std::size_t hi,
                                          bool write) {
    std::vector<std::shared_ptr<event_impl>> evs;
    auto hold = std::make_shared<event_impl>();
    hold->host_hold = true;
    hold->holder = std::this_thread::get_id();
    hold->t_submit = hold->t_start = now_ns();
    auto conflicts = [&](const access_record& r) { return (write || r.write) && overlaps(lo, hi, r.lo, r.hi); };
    auto& s = sched();
    {
        std::lock_guard<std::mutex> lock(s.mu);
        prune(b.get());
        for (auto& r : b->history)
            if (!r.ev->host_hold && conflicts(r)) evs.push_back(r.ev);
        b->history.push_back(access_record{lo, hi, write, hold});
    }
    for (auto& e : evs) wait_event(e, true);
    // Then the conflicting host accessors of other threads that have their
    // region, one after the other, until none is left; the check and the
    // taking of the region are one step under the lock, so two threads never
    // both take it. This thread's own host accessors are not waited for (no
    // waiting on ourselves), nor are those still waiting themselves: one of
    // them may be waiting for an accessor of this thread.
    for (;;) {
        std::shared_ptr<event_impl> other;
        {
            std::lock_guard<std::mutex> lock(s.mu);
            prune(b.get());
            for (auto& r : b->history)
                if (r.ev->host_hold && r.ev->state == 1 && r.ev->holder != hold->holder && conflicts(r)) {
                    other = r.ev;
                    break;
                }
            if (!other) {
                hold->state = 1;
                break;
            }
        }
        wait_event(other);
    }
    return std::shared_ptr<void>(nullptr, [hold, b](void*) { complete_external(hold); });
}

// ---------------------------------------------------------------- kernels
kernel_impl::~kernel_impl() {
    if (k) clReleaseKernel(k);
    if (layer) dlclose(layer);
}

// ---------------------------------------------------------------- handler
struct kernel_arg {
    enum kind_t { value, pointer, local } kind;
    std::vector<char> bytes;
    const void* ptr = nullptr;
    std::size_t size = 0;
};

}  // namespace detail

class detail::handler_impl {
public:
    enum kind_t { none, host_kernel, native_kernel, host_task, copy, set, fill, ranged, barrier };
    std::shared_ptr<queue_impl> q;
    std::vector<std::shared_ptr<event_impl>> deps;
    struct requirement {
        std::shared_ptr<buffer_impl> storage;
        std::size_t lo, hi;
        bool write;
    };
    std::vector<requirement> reqs;
    kind_t kind = none;
    launch_desc launch;
    std::unique_ptr<host_kernel_base> hk;
    std::vector<std::size_t> local_sizes;
    std::shared_ptr<bundle_impl> bundle;
    std::shared_ptr<bundle_impl> implicit_spec;
    std::shared_ptr<kernel_impl> nk;
    std::map<int, kernel_arg> args;
    std::function<void(interop_handle*)> task;
    std::function<void()> ranged_task;  // a copy or fill over accessor rows
    void* dst = nullptr;
    const void* src = nullptr;
    std::size_t bytes = 0;
    int value = 0;
    std::vector<char> pattern;
    std::size_t count = 0;
    bool barrier_all = false;

    void set_action(kind_t k) {
        if (kind != none)
            throw_error(errc::runtime,
                        "Attempt to set multiple actions for the command group. Command group must consist of a "
                        "single kernel or explicit memory operation.");
        kind = k;
    }
};

namespace detail {

void handler_require(handler& h, const std::shared_ptr<buffer_impl>& s, std::size_t lo, std::size_t hi,
                     bool write) {
    if (!s) throw_error(errc::invalid, "The accessor is not bound to a buffer");
    auto* hi_ = h.impl();
    for (auto& r : hi_->reqs)
        if (r.storage == s && r.lo == lo && r.hi == hi) {
            r.write = r.write || write;
            return;
        }
    hi_->reqs.push_back({s, lo, hi, write});
}

std::size_t handler_add_local(handler& h, std::size_t bytes) {
    h.impl()->local_sizes.push_back(bytes);
    return h.impl()->local_sizes.size() - 1;
}

namespace {

void check_range(const launch_desc& d, const device_impl* dev) {
    // The product of the extents is kept at most one past INT_MAX at every
    // step, so that it cannot wrap (each extent is at most INT_MAX); a zero
    // extent still makes it zero.
    const std::uint64_t over = static_cast<std::uint64_t>(INT_MAX) + 1;
    std::uint64_t total = 1;
    for (int i = 0; i < d.dims; ++i) {
        if (d.global[i] > static_cast<std::size_t>(INT_MAX) || d.offset[i] > static_cast<std::size_t>(INT_MAX) ||
            d.global[i] + d.offset[i] > static_cast<std::size_t>(INT_MAX))
            throw_error(errc::nd_range,
                        "Provided range and/or offset does not fit in int. Pass `-fno-sycl-id-queries-fit-in-int' "
                        "to remove this limit.");
        total = std::min<std::uint64_t>(total * d.global[i], over);
    }
    if (total > static_cast<std::uint64_t>(INT_MAX))
        throw_error(errc::nd_range,
                    "Provided range and/or offset does not fit in int. Pass `-fno-sycl-id-queries-fit-in-int' to "
                    "remove this limit.");
    if (!d.nd) return;
    // The work-group's size is checked at every step, before it could wrap.
    const std::size_t max_wg = device_max_wg(dev);
    std::size_t wg = 1;
    for (int i = 0; i < d.dims; ++i) {
        if (d.local[i] == 0) throw_error(errc::nd_range, "Local range must not be zero");
        if (d.global[i] % d.local[i] != 0)
            throw_error(errc::nd_range, "Non-uniform work-groups are not supported by the target device");
        if (d.local[i] > max_wg / wg)
            throw_error(errc::nd_range,
                        "Total number of work-items in a work-group cannot exceed " + std::to_string(max_wg));
        wg *= d.local[i];
    }
}

std::string kernel_name_of(cl_kernel k) {
    char name[256] = {0};
    clGetKernelInfo(k, CL_KERNEL_FUNCTION_NAME, sizeof(name) - 1, name, nullptr);
    return name;
}

// Argument setting and enqueue of one OpenCL kernel handle are one step;
// the lock is per handle, so kernel objects sharing a handle share it.
std::mutex& kernel_lock(cl_kernel k) {
    static std::mutex* locks = new std::mutex[64];
    return locks[(reinterpret_cast<std::uintptr_t>(k) >> 4) % 64];
}
std::mutex& opencl_exec_mutex() {
    static auto* m = new std::mutex();
    return *m;
}

// Caller holds the kernel's lock.
void apply_args(kernel_impl* k, const std::map<int, kernel_arg>& args) {
    for (auto& [i, a] : args) {
        cl_int err = CL_SUCCESS;
        switch (a.kind) {
            case kernel_arg::value:
                err = clSetKernelArg(k->k, static_cast<cl_uint>(i), a.bytes.size(), a.bytes.data());
                break;
            case kernel_arg::pointer:
                err = clSetKernelArgSVMPointer(k->k, static_cast<cl_uint>(i), a.ptr);
                break;
            case kernel_arg::local:
                err = clSetKernelArg(k->k, static_cast<cl_uint>(i), a.size, nullptr);
                break;
        }
        if (err != CL_SUCCESS)
            throw_error(errc::kernel_argument, "OpenCL error " + std::to_string(err) + " (" + cl_error_name(err) +
                                                   ") setting argument " + std::to_string(i) + " of kernel '" +
                                                   kernel_name_of(k->k) + "'");
    }
}

// Every launch goes to one in-order OpenCL queue per OpenCL context, made at
// the first launch and kept: the device runs one launch at a time, in the
// order they were enqueued, and a launch may be enqueued behind unfinished
// ones of the same queue (see finalize). The queues live as long as the
// process, as do the contexts they hold.
struct cl_launch_queues {
    std::mutex mu;
    std::map<cl_context, cl_command_queue> by_context;
};
cl_launch_queues& launch_queues() {
    static auto* p = new cl_launch_queues();
    return *p;
}
cl_command_queue launch_queue(cl_context ctx) {
    auto& lq = launch_queues();
    std::lock_guard<std::mutex> lock(lq.mu);
    auto it = lq.by_context.find(ctx);
    if (it != lq.by_context.end()) return it->second;
    cl_uint nd = 0;
    clGetContextInfo(ctx, CL_CONTEXT_NUM_DEVICES, sizeof(nd), &nd, nullptr);
    std::vector<cl_device_id> ds(nd ? nd : 1);
    clGetContextInfo(ctx, CL_CONTEXT_DEVICES, ds.size() * sizeof(cl_device_id), ds.data(), nullptr);
    cl_device_id dev = opencl().device;
    if (std::find(ds.begin(), ds.end(), dev) == ds.end()) dev = ds[0];
    cl_int err = CL_SUCCESS;
    cl_command_queue q = clCreateCommandQueueWithProperties(ctx, dev, nullptr, &err);
    if (err != CL_SUCCESS) throw_error(errc::runtime, "OpenCL error " + std::to_string(err) + " creating a command queue");
    lq.by_context.emplace(ctx, q);
    return q;
}
cl_context kernel_context(const kernel_impl* k) {
    if (k->cl_ctx) return k->cl_ctx;
    cl_context ctx = nullptr;
    clGetKernelInfo(k->k, CL_KERNEL_CONTEXT, sizeof(ctx), &ctx, nullptr);
    return ctx;
}

// Largest power of two that divides n and is at most cap (at least 1).
std::size_t pow2_divisor(std::size_t n, std::size_t cap) {
    std::size_t p = 1;
    while (p * 2 <= cap && n % (p * 2) == 0) p *= 2;
    return p;
}

// The platform's OpenCL library, when the process has loaded it: OpenCL
// kernels made through it (the GPU maker's sub-group extension, emulated)
// are launched and queried through it, since it adjusts the geometry of the
// programs it emulates; it forwards every other kernel unchanged.
struct cl_layer_calls {
    void* h = dlopen("libovxplat_opencl.so", RTLD_LAZY | RTLD_NOLOAD);
    cl_layer_calls() = default;
    cl_layer_calls(const cl_layer_calls&) = delete;
    cl_layer_calls& operator=(const cl_layer_calls&) = delete;
    ~cl_layer_calls() {
        if (h) dlclose(h);
    }
    template <class F>
    F get(const char* name, F fallback) const {
        void* f = h ? dlsym(h, name) : nullptr;
        return f ? reinterpret_cast<F>(f) : fallback;
    }
    decltype(&clGetKernelWorkGroupInfo) work_group_info() const {
        return get("clGetKernelWorkGroupInfo", &clGetKernelWorkGroupInfo);
    }
};

}  // namespace

// A kernel object keeps the platform's OpenCL library open when the process
// had loaded it (its programs are made through it) and calls its entries
// directly: looking the library up costs a search of the loader's list, or
// of the library path when it is not loaded, at every launch otherwise.
void bind_opencl_entries(kernel_impl* k) {
    if (clGetKernelInfo(k->k, CL_KERNEL_CONTEXT, sizeof(k->cl_ctx), &k->cl_ctx, nullptr) != CL_SUCCESS)
        k->cl_ctx = nullptr;
    k->num_args_known =
        clGetKernelInfo(k->k, CL_KERNEL_NUM_ARGS, sizeof(k->num_args), &k->num_args, nullptr) == CL_SUCCESS;
    cl_layer_calls layer;
    k->enqueue = layer.get("clEnqueueNDRangeKernel", &clEnqueueNDRangeKernel);
    k->work_group_info = layer.work_group_info();
    std::swap(k->layer, layer.h);  // the object's reference now
}

namespace {

// Work-group size of a launch that leaves it to the runtime (a plain
// range). Left to itself, the machine's OpenCL device makes work-groups of
// thousands of items (with an extent of 1 along OpenCL's dimension 0 when
// the launch's last SYCL dimension is 1), and runs each work-group as one
// long loop; groups of 64 to 256 items run faster there. The extents are
// powers of two that divide the global size (up to 64 along dimension 0,
// 16 along dimension 1, the rest along dimension 2), within the kernel's
// and the device's limits. A kernel with a required work-group size gets
// that size (the machine's driver would pick another one and refuse the
// launch). Returns false (the driver chooses) when a query fails.
// The kernel's figures are asked for at its first such launch and kept; the
// device's once.
struct device_wg_limits {
    bool known = false;
    std::size_t items[3] = {0, 0, 0};
    std::size_t max = 0;
};
const device_wg_limits& device_limits() {
    static const device_wg_limits lim = [] {
        const cl_device_id dev = opencl().device;
        device_wg_limits l;
        l.known = clGetDeviceInfo(dev, CL_DEVICE_MAX_WORK_ITEM_SIZES, sizeof l.items, l.items, nullptr) == CL_SUCCESS &&
                  clGetDeviceInfo(dev, CL_DEVICE_MAX_WORK_GROUP_SIZE, sizeof l.max, &l.max, nullptr) == CL_SUCCESS;
        return l;
    }();
    return lim;
}
bool choose_local_size(kernel_impl* ki, cl_device_id dev, int dims, const std::size_t* g, std::size_t* l) {
    std::call_once(ki->wg_once, [ki, dev] {
        const auto clGetKernelWorkGroupInfo = ki->work_group_info;
        if (clGetKernelWorkGroupInfo(ki->k, dev, CL_KERNEL_COMPILE_WORK_GROUP_SIZE, sizeof ki->wg_reqd, ki->wg_reqd,
                                     nullptr) != CL_SUCCESS)
            return;
        if (ki->wg_reqd[0] || ki->wg_reqd[1] || ki->wg_reqd[2]) {
            ki->wg_known = true;
            return;
        }
        ki->wg_known = clGetKernelWorkGroupInfo(ki->k, dev, CL_KERNEL_WORK_GROUP_SIZE, sizeof ki->wg_max, &ki->wg_max,
                                                nullptr) == CL_SUCCESS;
    });
    if (!ki->wg_known) return false;
    const std::size_t* reqd = ki->wg_reqd;
    if (reqd[0] || reqd[1] || reqd[2]) {
        for (int i = 0; i < dims; ++i) l[i] = reqd[i];
        return true;
    }
    const device_wg_limits& lim = device_limits();
    if (!lim.known) return false;
    const std::size_t kernel_max = ki->wg_max, device_max = lim.max;
    const std::size_t* items = lim.items;
    std::size_t budget = std::min<std::size_t>({256, kernel_max, device_max,
                                                static_cast<std::size_t>(ovxplat_gpu_profile_current()->max_work_group_size)});
    if (budget == 0) return false;
    const std::size_t caps[3] = {64, 16, 256};
    for (int i = 0; i < dims; ++i) {
        l[i] = pow2_divisor(g[i], std::min({caps[i], budget, items[i] ? items[i] : 1}));
        budget /= l[i];
    }
    return true;
}

// One OpenCL launch of a command group: enqueued at submission when its
// dependencies allow it (see finalize), else by the command when it runs;
// the command then waits for it.
struct native_launch {
    std::shared_ptr<kernel_impl> k;
    std::map<int, kernel_arg> args;
    launch_desc d;
    cl_command_queue queue = nullptr;
    // Set before the command can run when the launch was tried at submission.
    bool tried = false;
    cl_event ev = nullptr;  // retained
    cl_int err = CL_SUCCESS;
    std::exception_ptr failure;
    ~native_launch() {
        if (ev) clReleaseEvent(ev);
    }
};

// Applies the arguments and enqueues the launch into its queue. Records an
// OpenCL error in `err` and an argument failure in `failure`.
void enqueue_native(native_launch& n) {
    const launch_desc& d = n.d;
    kernel_impl* k = n.k.get();
    // SYCL's last dimension is OpenCL's dimension 0.
    std::size_t g[3], l[3], o[3];
    for (int i = 0; i < d.dims; ++i) {
        g[i] = d.global[d.dims - 1 - i];
        l[i] = d.local[d.dims - 1 - i];
        o[i] = d.offset[d.dims - 1 - i];
    }
    bool has_offset = false;
    for (int i = 0; i < d.dims; ++i) has_offset = has_offset || o[i] != 0;
    bool with_local = d.nd;
    if (!with_local) with_local = choose_local_size(k, opencl().device, d.dims, g, l);
    // One enqueue at a time: this keeps the driver's lazy per-launch
    // compilation and argument capture free of races. The handle's
    // arguments stay untouched until the launch has captured them.
    std::lock_guard<std::mutex> exec(opencl_exec_mutex());
    std::lock_guard<std::mutex> lock(kernel_lock(k->k));
    try {
        apply_args(k, n.args);
    } catch (...) {
        n.failure = std::current_exception();
        return;
    }
    n.err = k->enqueue(
        n.queue, k->k, static_cast<cl_uint>(d.dims), has_offset ? o : nullptr, g, with_local ? l : nullptr, 0,
        nullptr, &n.ev);
    if (n.err != CL_SUCCESS) n.ev = nullptr;
}

// The command's work: enqueues the launch unless submission did, and waits
// for it. An OpenCL error of the launch is the command's error.
void run_native(native_launch& n) {
    if (!n.tried) enqueue_native(n);
    if (n.failure) std::rethrow_exception(n.failure);
    cl_int err = n.err;
    if (n.ev) {
        err = clWaitForEvents(1, &n.ev);
        cl_int st = CL_COMPLETE;
        clGetEventInfo(n.ev, CL_EVENT_COMMAND_EXECUTION_STATUS, sizeof(st), &st, nullptr);
        if (err == CL_SUCCESS && st < 0) err = st;
    }
    counters().opencl++;
    if (err != CL_SUCCESS)
        throw_error(errc::kernel, "OpenCL error " + std::to_string(err) + " (" + cl_error_name(err) +
                                      ") running kernel '" + kernel_name_of(n.k->k) + "'");
}

void run_host(host_kernel_base* k, const launch_desc& d, const std::vector<std::size_t>& local_sizes,
              const std::shared_ptr<bundle_impl>& spec, std::uint64_t local_mem) {
    counters().host_kernels++;
    std::size_t total = 1;
    for (int i = 0; i < d.dims; ++i) total *= d.global[i];
    if (total == 0) return;
    const bundle_impl* sp = spec.get();
    if (!d.nd) {
        std::size_t threads = static_cast<std::size_t>(pool().threads) + 1;
        std::size_t pieces = std::min(total, threads * 4);
        std::size_t chunk = (total + pieces - 1) / pieces;
        pieces = (total + chunk - 1) / chunk;
        parallel_pieces(pieces, [&](std::size_t p) {
            const bundle_impl* saved = tls_spec;
            tls_spec = sp;
            ++tls.kernel_depth;
            try {
                k->run_range(p * chunk, std::min(total, (p + 1) * chunk));
            } catch (...) {
                tls_spec = saved;
                --tls.kernel_depth;
                throw;
            }
            tls_spec = saved;
            --tls.kernel_depth;
        });
        return;
    }
    std::size_t items = 1, groups = 1;
    for (int i = 0; i < d.dims; ++i) {
        items *= d.local[i];
        groups *= d.global[i] / d.local[i];
    }
    std::vector<std::size_t> offsets;
    std::size_t local_bytes = 0;
    for (auto s : local_sizes) {
        offsets.push_back(local_bytes);
        local_bytes += (s + 63) / 64 * 64;
    }
    // Consecutive groups go to a thread together: one claim of the shared
    // counter per piece instead of per group (small groups are common, and
    // the counter's cache line would bounce between the threads), while
    // several pieces per thread keep the load balanced. Every group runs
    // even when an earlier one failed; the first failure is rethrown.
    const std::size_t threads = static_cast<std::size_t>(pool().threads) + 1;
    std::size_t pieces = std::min(groups, threads * 16);
    const std::size_t chunk = (groups + pieces - 1) / pieces;
    pieces = (groups + chunk - 1) / chunk;
    parallel_pieces(pieces, [&](std::size_t p) {
        thread_exec_state& t = tls;
        const bundle_impl* saved_spec = tls_spec;
        std::vector<void*> saved_table = t.local_table;
        tls_spec = sp;
        if (t.local_mem.size() < local_bytes + 64) t.local_mem.resize(local_bytes + 64);
        char* base = t.local_mem.data();
        base += (64 - reinterpret_cast<std::uintptr_t>(base) % 64) % 64;
        t.local_table.clear();
        for (auto o : offsets) t.local_table.push_back(base + o);
        const std::uint64_t saved_limit = tls_slm_limit;
        tls_slm_limit = local_mem;
        ++t.kernel_depth;
        std::exception_ptr err;
        const std::size_t end = std::min(groups, (p + 1) * chunk);
        for (std::size_t g = p * chunk; g < end; ++g) {
            tls_slm = esimd_slm_state{};
            try {
                run_group(k, g, items);
            } catch (...) {
                if (!err) err = std::current_exception();
            }
        }
        --t.kernel_depth;
        tls_spec = saved_spec;
        t.local_table = std::move(saved_table);
        tls_slm_limit = saved_limit;
        tls_slm = esimd_slm_state{};
        if (err) std::rethrow_exception(err);
    });
}

}  // namespace
}  // namespace detail

using namespace detail;

handler::handler(std::unique_ptr<detail::handler_impl> impl) : impl_(std::move(impl)) {}
handler::~handler() = default;

void handler::depends_on(event e) {
    if (e.impl()) impl_->deps.push_back(e.impl());
}
void handler::depends_on(const std::vector<event>& es) {
    for (auto& e : es) depends_on(e);
}
void handler::set_arg_value(int index, const void* p, std::size_t size) {
    kernel_arg a{kernel_arg::value, std::vector<char>(static_cast<const char*>(p), static_cast<const char*>(p) + size)};
    impl_->args[index] = std::move(a);
}
void handler::set_arg_pointer(int index, const void* p) {
    kernel_arg a{kernel_arg::pointer, {}};
    a.ptr = p;
    impl_->args[index] = std::move(a);
}
void handler::set_arg_local(int index, std::size_t bytes) {
    kernel_arg a{kernel_arg::local, {}};
    a.size = bytes;
    impl_->args[index] = std::move(a);
}

void handler::launch_native(const kernel& k, const detail::launch_desc& d) {
    auto& ki = k.impl();
    if (!ki || !ki->k) throw_error(errc::invalid, "The kernel has no OpenCL program behind it");
    if (!impl_->q->dev->gpu)
        throw_error(errc::invalid, "OpenCL kernels run on the GPU device only");
    check_range(d, impl_->q->dev.get());
    // Arguments are checked now, so that a wrong argument fails the submission.
    cl_uint nargs = ki->num_args;
    if (!ki->num_args_known) clGetKernelInfo(ki->k, CL_KERNEL_NUM_ARGS, sizeof(nargs), &nargs, nullptr);
    {
        std::lock_guard<std::mutex> lock(kernel_lock(ki->k));
        apply_args(ki.get(), impl_->args);
    }
    for (cl_uint i = 0; i < nargs; ++i)
        if (!impl_->args.count(static_cast<int>(i)))
            throw_error(errc::kernel_argument, "Argument " + std::to_string(i) + " of kernel '" +
                                                   kernel_name_of(ki->k) + "' is not set");
    impl_->set_action(handler_impl::native_kernel);
    impl_->nk = ki;
    impl_->launch = d;
}

void handler::launch_host(const detail::launch_desc& d, std::unique_ptr<detail::host_kernel_base> k,
                          const kernel_id& id) {
    check_range(d, impl_->q->dev.get());
    if (impl_->bundle && !bundle_has_kernel(impl_->bundle.get(), id))
        throw_error(errc::kernel_not_supported, "The kernel bundle in use does not contain the kernel");
    std::uint64_t local = 0;
    for (auto s : impl_->local_sizes) local += s;
    if (local > device_local_mem(impl_->q->dev.get()))
        throw_error(errc::memory_allocation, "The kernel's local memory (" + std::to_string(local) +
                                                 " bytes) exceeds the device's local memory size");
    impl_->set_action(handler_impl::host_kernel);
    impl_->hk = std::move(k);
    impl_->launch = d;
}

void handler::set_host_task(std::function<void(interop_handle*)> f) {
    impl_->set_action(handler_impl::host_task);
    impl_->task = std::move(f);
}
void handler::memcpy(void* dst, const void* src, std::size_t bytes) {
    if (bytes && (!dst || !src)) throw_error(errc::invalid, "NULL pointer argument in memory copy operation.");
    impl_->set_action(handler_impl::copy);
    impl_->dst = dst;
    impl_->src = src;
    impl_->bytes = bytes;
}
void handler::memset(void* ptr, int value, std::size_t bytes) {
    if (bytes && !ptr) throw_error(errc::invalid, "NULL pointer argument in memory fill operation.");
    impl_->set_action(handler_impl::set);
    impl_->dst = ptr;
    impl_->value = value;
    impl_->bytes = bytes;
}
void handler::fill_bytes(void* ptr, const void* pattern, std::size_t size, std::size_t count) {
    if (count && !ptr) throw_error(errc::invalid, "NULL pointer argument in memory fill operation.");
    impl_->set_action(handler_impl::fill);
    impl_->dst = ptr;
    impl_->pattern.assign(static_cast<const char*>(pattern), static_cast<const char*>(pattern) + size);
    impl_->count = count;
}
void handler::set_ranged_task(std::function<void()> f) {
    impl_->set_action(handler_impl::ranged);
    impl_->ranged_task = std::move(f);
}
void handler::use_kernel_bundle(const kernel_bundle<bundle_state::executable>& b) {
    if (b.impl()->ctx != impl_->q->ctx)
        throw_error(errc::invalid,
                    "Context associated with the primary queue is different from the context associated with the "
                    "kernel bundle");
    bool found = false;
    for (auto& d : b.impl()->devices)
        found = found || d == impl_->q->dev || (impl_->q->dev->parent && d == impl_->q->dev->parent);
    if (!found) throw_error(errc::invalid, "The kernel bundle does not hold the queue's device");
    if (impl_->implicit_spec)
        throw_error(errc::invalid,
                    "Cannot use a kernel bundle after specialization constants were set on the command group");
    impl_->bundle = b.impl();
}
void handler::set_spec(const void* key, const void* value, std::size_t size) {
    if (impl_->bundle)
        throw_error(errc::invalid, "Specialization constants cannot be set after use_kernel_bundle");
    if (!impl_->implicit_spec) {
        impl_->implicit_spec = std::make_shared<bundle_impl>();
        impl_->implicit_spec->ctx = impl_->q->ctx;
        impl_->implicit_spec->state = bundle_state::executable;
    }
    bundle_set_spec(impl_->implicit_spec.get(), key, value, size);
}
void handler::get_spec(const void* key, void* value, std::size_t size) {
    if (impl_->bundle)
        bundle_get_spec(impl_->bundle.get(), key, value, size);
    else if (impl_->implicit_spec)
        bundle_get_spec(impl_->implicit_spec.get(), key, value, size);
}
void handler::ext_tarvo_barrier() {
    impl_->set_action(handler_impl::barrier);
    impl_->barrier_all = true;
}
void handler::ext_tarvo_barrier(const std::vector<event>& events) {
    impl_->set_action(handler_impl::barrier);
    if (events.empty()) {
        impl_->barrier_all = true;
        return;
    }
    depends_on(events);
}

// ---------------------------------------------------------------- queue
namespace detail {
queue_impl::~queue_impl() {
    if (native) clReleaseCommandQueue(native);
    if (!errors.empty() && !handler && !(ctx && ctx->handler))
        for (auto& e : errors) {
            try {
                std::rethrow_exception(e);
            } catch (const std::exception& x) {
                std::fprintf(stderr, "ovxplat sycl: unhandled asynchronous error: %s\n", x.what());
            } catch (...) {
                std::fprintf(stderr, "ovxplat sycl: unhandled asynchronous error\n");
            }
        }
}

namespace {
std::shared_ptr<queue_impl> new_queue(std::shared_ptr<context_impl> c, std::shared_ptr<device_impl> d,
                                      const property_list& p, async_handler h) {
    if (!c->has_device(d.get()))
        throw_error(errc::invalid, "Queue cannot be constructed with the given context and device since the "
                                   "device is not a member of the context (descendants of devices from the "
                                   "context are not supported on OpenCL yet).");
    auto q = std::make_shared<queue_impl>();
    q->ctx = std::move(c);
    q->dev = std::move(d);
    q->props = p;
    q->in_order = p.has_property<property::queue::in_order>();
    q->profiling = p.has_property<property::queue::enable_profiling>();
    q->handler = std::move(h);
    return q;
}

// A user event and a marker in the native queue `n` that waits on it; throws
// (with nothing left enqueued) when either cannot be made.
cl_event native_fence(cl_command_queue n) {
    cl_context c = nullptr;
    cl_int err = clGetCommandQueueInfo(n, CL_QUEUE_CONTEXT, sizeof(c), &c, nullptr);
    cl_event u = err == CL_SUCCESS ? clCreateUserEvent(c, &err) : nullptr;
    if (err == CL_SUCCESS) {
        err = clEnqueueMarkerWithWaitList(n, 1, &u, nullptr);
        if (err != CL_SUCCESS) clReleaseEvent(u);
    }
    if (err != CL_SUCCESS)
        throw_error(errc::runtime, "OpenCL error " + std::to_string(err) + " (" + cl_error_name(err) +
                                       ") ordering the command in the native queue");
    return u;
}

event finalize(const std::shared_ptr<queue_impl>& q, handler_impl& h) {
    auto ev = std::make_shared<event_impl>();
    ev->queue = q;
    ev->profiling = q->profiling;
    ev->be = q->dev->get_backend();
    ev->t_submit = now_ns();
    auto cmd = std::make_shared<command>();
    cmd->ev = ev;
    cmd->queue = q;
    cmd->shufflable = !q->in_order;
    std::shared_ptr<native_launch> launch;

    // The command's work.
    switch (h.kind) {
        case handler_impl::none:
        case handler_impl::barrier:
            break;
        case handler_impl::copy: {
            void* dst = h.dst;
            const void* src = h.src;
            std::size_t n = h.bytes;
            cmd->body = [dst, src, n] {
                if (n) std::memmove(dst, src, n);
            };
            break;
        }
        case handler_impl::set: {
            void* dst = h.dst;
            int v = h.value;
            std::size_t n = h.bytes;
            cmd->body = [dst, v, n] {
                if (n) std::memset(dst, v, n);
            };
            break;
        }
        case handler_impl::fill: {
            char* dst = static_cast<char*>(h.dst);
            auto pat = std::move(h.pattern);
            std::size_t n = h.count;
            cmd->body = [dst, pat, n] {
                for (std::size_t i = 0; i < n; ++i) std::memcpy(dst + i * pat.size(), pat.data(), pat.size());
            };
            break;
        }
        case handler_impl::ranged:
            cmd->body = std::move(h.ranged_task);
            break;
        case handler_impl::host_task: {
            auto task = std::move(h.task);
            std::weak_ptr<queue_impl> wq = q;
            cmd->body = [task, wq] {
                counters().host_tasks++;
                auto qq = wq.lock();
                if (!qq) return;
                interop_handle ih{queue(qq)};
                task(&ih);
            };
            break;
        }
        case handler_impl::host_kernel: {
            std::shared_ptr<host_kernel_base> k(std::move(h.hk));
            auto d = h.launch;
            auto locals = h.local_sizes;
            auto spec = h.bundle ? h.bundle : h.implicit_spec;
            const std::uint64_t local_mem = device_local_mem(q->dev.get());
            cmd->body = [k, d, locals, spec, local_mem] { run_host(k.get(), d, locals, spec, local_mem); };
            break;
        }
        case handler_impl::native_kernel: {
            launch = std::make_shared<native_launch>();
            launch->k = h.nk;
            launch->args = std::move(h.args);
            launch->d = h.launch;
            try {
                launch->queue = launch_queue(kernel_context(launch->k.get()));
            } catch (...) {
                // Reported by the command, as a failed launch is.
                launch->failure = std::current_exception();
                launch->tried = true;
            }
            cmd->body = [launch] { run_native(*launch); };
            break;
        }
    }
    // Buffers stay alive until the command is done.
    if (!h.reqs.empty()) {
        std::vector<std::shared_ptr<buffer_impl>> keep;
        for (auto& r : h.reqs) keep.push_back(r.storage);
        auto body = std::move(cmd->body);
        cmd->body = [body, keep] {
            if (body) body();
        };
    }

    // A queue made from a caller's native OpenCL queue: the command runs on
    // this runtime's own threads and OpenCL queues, so a marker enqueued into
    // the native queue waits on a user event that completes with the command.
    // Whatever the caller enqueues there afterwards (clFinish included) then
    // comes after the command, as when the command itself ran in that queue.
    // A host task on such a queue therefore must not wait for that native
    // queue (its own marker is ahead of anything it would enqueue there).
    cl_event fence = q->native_given ? native_fence(q->native) : nullptr;

    auto& s = sched();
    std::unique_lock<std::mutex> lock(s.mu);
    if (fence) ev->cl_user = fence;  // completed by the scheduler with the command
    std::vector<std::shared_ptr<event_impl>> deps = h.deps;
    if (q->in_order && q->last) deps.push_back(q->last);
    q->outstanding.erase(
        std::remove_if(q->outstanding.begin(), q->outstanding.end(),
                       [](const std::shared_ptr<event_impl>& e) { return e->state == 2 && !e->releasing; }),
        q->outstanding.end());
    if (h.barrier_all)
        for (auto& e : q->outstanding) deps.push_back(e);
    for (auto& r : h.reqs) {
        prune(r.storage.get());
        for (auto& a : r.storage->history)
            if ((r.write || a.write) && overlaps(r.lo, r.hi, a.lo, a.hi)) deps.push_back(a.ev);
        r.storage->history.push_back(access_record{r.lo, r.hi, r.write, ev});
    }
    std::sort(deps.begin(), deps.end());
    deps.erase(std::unique(deps.begin(), deps.end()), deps.end());
    // An OpenCL launch whose unfinished dependencies are all launches already
    // enqueued into its own in-order OpenCL queue is enqueued now, behind
    // them: the device then runs a chain of launches without waiting for the
    // host between them. (Shuffled commands keep their random order.)
    bool enqueue_now = launch && !launch->tried && !(s.shuffle && cmd->shufflable);
    for (auto& d : deps) {
        if (!d || d == ev) continue;
        ev->deps.push_back(d);
        if (d->state != 2) {
            d->waiters.push_back(cmd);
            ++cmd->pending;
            if (enqueue_now && (!d->native || d->native_queue != launch->queue)) enqueue_now = false;
        }
    }
    if (q->in_order) q->last = ev;
    q->outstanding.push_back(ev);
    counters().submitted++;
    q->submitted++;
    if (!enqueue_now) {
        if (cmd->pending == 0) s.make_ready(cmd);
        return event(ev);
    }
    // The enqueue happens outside the scheduler's lock; the command holds
    // itself back meanwhile, so that it cannot run before the launch is
    // recorded.
    ++cmd->pending;
    lock.unlock();
    enqueue_native(*launch);
    lock.lock();
    launch->tried = true;
    if (launch->ev) {
        clRetainEvent(launch->ev);
        ev->native = launch->ev;
        ev->native_queue = launch->queue;
    }
    if (--cmd->pending == 0) s.make_ready(cmd);
    return event(ev);
}
}  // namespace
}  // namespace detail

queue::queue(const property_list& p) : queue(device(), p) {}
queue::queue(const async_handler& h, const property_list& p) : queue(device(), h, p) {}
queue::queue(const device& d, const property_list& p)
    : impl_(new_queue(default_context(d.impl()), d.impl(), p, {})) {}
queue::queue(const device& d, const async_handler& h, const property_list& p)
    : impl_(new_queue(default_context(d.impl()), d.impl(), p, h)) {}
queue::queue(const context& c, const device& d, const property_list& p) : impl_(new_queue(c.impl(), d.impl(), p, {})) {}
queue::queue(const context& c, const device& d, const async_handler& h, const property_list& p)
    : impl_(new_queue(c.impl(), d.impl(), p, h)) {}

backend queue::get_backend() const noexcept { return impl_->dev->get_backend(); }
context queue::get_context() const { return context(impl_->ctx); }
device queue::get_device() const { return device(impl_->dev); }
bool queue::is_in_order() const { return impl_->in_order; }
const property_list& queue::props() const { return impl_->props; }

event queue::submit_impl(const std::function<void(handler&)>& cgf, const detail::code_location&) {
    handler h(std::make_unique<handler_impl>());
    h.impl()->q = impl_;
    cgf(h);
    return finalize(impl_, *h.impl());
}

void queue::wait(const detail::code_location&) {
    std::vector<std::shared_ptr<event_impl>> evs;
    {
        std::lock_guard<std::mutex> lock(sched().mu);
        evs = impl_->outstanding;
    }
    for (auto& e : evs) wait_event(e, true);
}
void queue::wait_and_throw(const detail::code_location& l) {
    wait(l);
    deliver_errors(impl_, true);
}
void queue::throw_asynchronous() { deliver_errors(impl_, true); }

event queue::memcpy(void* dst, const void* src, std::size_t bytes, const detail::code_location& l) {
    return memcpy(dst, src, bytes, std::vector<event>{}, l);
}
event queue::memcpy(void* dst, const void* src, std::size_t bytes, event dep, const detail::code_location& l) {
    return memcpy(dst, src, bytes, std::vector<event>{dep}, l);
}
event queue::memcpy(void* dst, const void* src, std::size_t bytes, const std::vector<event>& deps,
                    const detail::code_location& l) {
    return submit(
        [&](handler& h) {
            h.depends_on(deps);
            h.memcpy(dst, src, bytes);
        },
        l);
}
event queue::memset(void* ptr, int value, std::size_t bytes, const detail::code_location& l) {
    return memset(ptr, value, bytes, std::vector<event>{}, l);
}
event queue::memset(void* ptr, int value, std::size_t bytes, event dep, const detail::code_location& l) {
    return memset(ptr, value, bytes, std::vector<event>{dep}, l);
}
event queue::memset(void* ptr, int value, std::size_t bytes, const std::vector<event>& deps,
                    const detail::code_location& l) {
    return submit(
        [&](handler& h) {
            h.depends_on(deps);
            h.memset(ptr, value, bytes);
        },
        l);
}
event queue::ext_tarvo_submit_barrier(const detail::code_location& l) {
    return submit([](handler& h) { h.ext_tarvo_barrier(); }, l);
}
event queue::ext_tarvo_submit_barrier(const std::vector<event>& events, const detail::code_location& l) {
    return submit([&](handler& h) { h.ext_tarvo_barrier(events); }, l);
}

// ---------------------------------------------------------------- event
event::event() {}
event::event(std::shared_ptr<detail::event_impl> i) : impl_(std::move(i)) {}
backend event::get_backend() const noexcept { return impl_ ? impl_->be : gpu_device()->get_backend(); }
std::vector<event> event::get_wait_list() {
    std::vector<event> r;
    if (!impl_) return r;
    std::lock_guard<std::mutex> lock(sched().mu);
    for (auto& d : impl_->deps)
        if (auto e = d.lock()) r.emplace_back(e);
    return r;
}
void event::wait() { wait_event(impl_, true); }
void event::wait_and_throw() {
    wait();
    if (!impl_) return;
    auto q = impl_->queue.lock();
    if (q) {
        deliver_errors(q, true);
    } else {
        std::exception_ptr e;
        {
            std::lock_guard<std::mutex> lock(sched().mu);
            e = impl_->error;
        }
        if (e) std::rethrow_exception(e);
    }
}
void event::wait(const std::vector<event>& events) {
    for (auto e : events) e.wait();
}
void event::wait_and_throw(const std::vector<event>& events) {
    for (auto e : events) e.wait_and_throw();
}
info::event_command_status event::status() const {
    if (!impl_) return info::event_command_status::complete;
    std::lock_guard<std::mutex> lock(sched().mu);
    switch (impl_->state) {
        case 0:
            return info::event_command_status::submitted;
        case 1:
            return info::event_command_status::running;
        default:
            return info::event_command_status::complete;
    }
}
std::uint64_t event::profiling(int code) const {
    if (!impl_) return 0;
    if (!impl_->profiling)
        throw_error(errc::invalid,
                    "Profiling information is unavailable as the queue associated with the event does not have the "
                    "'enable_profiling' property.");
    if (code != info::event_profiling::command_submit::code) wait_event(impl_);
    std::lock_guard<std::mutex> lock(sched().mu);
    switch (code) {
        case info::event_profiling::command_submit::code:
            return impl_->t_submit;
        case info::event_profiling::command_start::code:
            return impl_->t_start;
        default:
            return impl_->t_end;
    }
}

// ---------------------------------------------------------------- kernel
backend kernel::get_backend() const noexcept { return backend::opencl; }
context kernel::get_context() const { return context(impl_->ctx); }
std::uint32_t kernel::num_args() const {
    cl_uint n = 0;
    if (impl_->k) clGetKernelInfo(impl_->k, CL_KERNEL_NUM_ARGS, sizeof(n), &n, nullptr);
    return n;
}
std::string kernel::function_name() const { return impl_->k ? kernel_name_of(impl_->k) : std::string(); }

void detail::kernel_device_info(const kernel_impl* k, const device_impl* d, int code, void* out) {
    if (!k || !k->k) throw_error(errc::invalid, "The kernel has no OpenCL program behind it");
    if (!d->gpu) throw_error(errc::invalid, "The kernel is not built for this device");
    const cl_device_id cd = opencl().device;
    const ovxplat_gpu_profile* p = d->profile();
    const auto clGetKernelWorkGroupInfo = k->work_group_info;
    auto set = [out](auto v) { *static_cast<decltype(v)*>(out) = v; };
    std::size_t smallest = p->subgroup_size_count ? static_cast<std::size_t>(p->subgroup_sizes[0]) : 1;
    std::size_t largest = p->subgroup_size_count ? static_cast<std::size_t>(p->subgroup_sizes[p->subgroup_size_count - 1]) : 1;
    switch (code) {
        case info::kernel_device_specific::work_group_size::code: {
            std::size_t wg = 0;
            clGetKernelWorkGroupInfo(k->k, cd, CL_KERNEL_WORK_GROUP_SIZE, sizeof(wg), &wg, nullptr);
            set(std::min<std::size_t>(wg ? wg : p->max_work_group_size, p->max_work_group_size));
            return;
        }
        case info::kernel_device_specific::compile_work_group_size::code: {
            std::size_t w[3] = {0, 0, 0};
            clGetKernelWorkGroupInfo(k->k, cd, CL_KERNEL_COMPILE_WORK_GROUP_SIZE, sizeof(w), w, nullptr);
            set(range<3>(w[2], w[1], w[0]));  // OpenCL dimension 0 is SYCL's last
            return;
        }
        case info::kernel_device_specific::preferred_work_group_size_multiple::code:
            set(smallest);
            return;
        case info::kernel_device_specific::private_mem_size::code: {
            cl_ulong v = 0;
            clGetKernelWorkGroupInfo(k->k, cd, CL_KERNEL_PRIVATE_MEM_SIZE, sizeof(v), &v, nullptr);
            set(static_cast<std::size_t>(v));
            return;
        }
        case info::kernel_device_specific::max_sub_group_size::code:
            set(static_cast<std::uint32_t>(largest));
            return;
        case info::kernel_device_specific::max_num_sub_groups::code:
            set(static_cast<std::uint32_t>(p->max_work_group_size / smallest));
            return;
        default:
            set(std::uint32_t(0));
            return;
    }
}

// ---------------------------------------------------------------- kernel ids and bundles
namespace detail {
namespace {
std::mutex& id_mutex() {
    static auto* m = new std::mutex();
    return *m;
}
std::map<std::string, std::shared_ptr<const std::string>>& id_table() {
    static auto* t = new std::map<std::string, std::shared_ptr<const std::string>>();
    return *t;
}
}  // namespace

kernel_id kernel_id_for(const std::type_info& t) {
    int status = 0;
    char* dm = abi::__cxa_demangle(t.name(), nullptr, nullptr, &status);
    std::string name = status == 0 && dm ? dm : t.name();
    std::free(dm);
    if (!name.empty() && name.back() == '*') name.pop_back();
    std::lock_guard<std::mutex> lock(id_mutex());
    auto& slot = id_table()[name];
    if (!slot) slot = std::make_shared<const std::string>(name);
    return kernel_id(slot);
}

std::shared_ptr<bundle_impl> make_bundle(const context& ctx, const std::vector<device>& devs,
                                         const std::vector<kernel_id>* ids, bundle_state st) {
    if (devs.empty()) throw_error(errc::invalid, "Not all devices are associated with the context or vector of devices is empty");
    auto b = std::make_shared<bundle_impl>();
    b->ctx = ctx.impl();
    for (auto& d : devs) {
        if (!ctx.impl()->has_device(d.impl().get()))
            throw_error(errc::invalid, "Not all devices are associated with the context or vector of devices is empty");
        b->devices.push_back(d.impl());
    }
    b->ids = ids ? *ids : get_kernel_ids();
    b->state = st;
    return b;
}
void bundle_freeze(bundle_impl* b);
std::shared_ptr<bundle_impl> bundle_build(const std::shared_ptr<bundle_impl>& in) {
    if (!in) throw_error(errc::invalid, "Empty kernel bundle");
    auto b = std::make_shared<bundle_impl>();
    b->ctx = in->ctx;
    b->devices = in->devices;
    b->ids = in->ids;
    b->state = bundle_state::executable;
    {
        std::lock_guard<std::mutex> lock(in->mutex);
        b->spec = in->spec;
    }
    bundle_freeze(b.get());
    return b;
}
void bundle_set_spec(bundle_impl* b, const void* key, const void* value, std::size_t size) {
    std::lock_guard<std::mutex> lock(b->mutex);
    b->spec[key].assign(static_cast<const char*>(value), static_cast<const char*>(value) + size);
}
bool bundle_get_spec(const bundle_impl* b, const void* key, void* out, std::size_t size) {
    // Executable bundles never change after they are made (the setters are
    // for input bundles, and a command group's own constants are set before
    // its launch runs): kernels read them from the frozen flat table without
    // taking the lock.
    if (b->frozen) {
        // The flat table keeps the map's order of keys: a binary search.
        const auto it = std::lower_bound(b->flat.begin(), b->flat.end(), key, [](const auto& e, const void* k) {
            return std::less<const void*>()(e.key, k);
        });
        if (it == b->flat.end() || it->key != key || it->size != size) return false;
        std::memcpy(out, b->flat_bytes.data() + it->at, size);
        return true;
    }
    auto* m = const_cast<bundle_impl*>(b);
    std::lock_guard<std::mutex> lock(m->mutex);
    auto it = m->spec.find(key);
    if (it == m->spec.end() || it->second.size() != size) return false;
    std::memcpy(out, it->second.data(), size);
    return true;
}
void bundle_freeze(bundle_impl* b) {
    b->flat.clear();
    b->flat_bytes.clear();
    for (const auto& [key, bytes] : b->spec) {
        b->flat.push_back({key, b->flat_bytes.size(), bytes.size()});
        b->flat_bytes.insert(b->flat_bytes.end(), bytes.begin(), bytes.end());
    }
    // The index has at least four slots per entry and always an empty one.
    std::size_t slots = 8;
    while (slots < 4 * b->flat.size()) slots *= 2;
    b->slots.assign(slots, -1);
    for (std::size_t e = 0; e < b->flat.size(); ++e) {
        std::size_t i = spec_slot(b->flat[e].key, slots - 1);
        while (b->slots[i] >= 0) i = (i + 1) & (slots - 1);
        b->slots[i] = static_cast<int>(e);
    }
    b->table = spec_table{b->flat.data(), b->flat.size(), b->flat_bytes.data(), b->slots.data(), slots - 1};
    b->frozen = true;
}
bool bundle_has_kernel(const bundle_impl* b, const kernel_id& k) {
    for (auto& x : b->ids)
        if (x == k) return true;
    return false;
}
std::vector<kernel_id> bundle_kernel_ids(const bundle_impl* b) { return b->ids; }
context bundle_context(const bundle_impl* b) { return context(b->ctx); }
std::vector<device> bundle_devices(const bundle_impl* b) {
    std::vector<device> r;
    for (auto& d : b->devices) r.emplace_back(d);
    return r;
}
bundle_state bundle_get_state(const bundle_impl* b) { return b->state; }
}  // namespace detail

const char* kernel_id::get_name() const noexcept { return name_->c_str(); }

std::vector<kernel_id> get_kernel_ids() {
    std::lock_guard<std::mutex> lock(id_mutex());
    std::vector<kernel_id> r;
    for (auto& [n, p] : id_table()) r.emplace_back(p);
    return r;
}

}  // namespace _V1
}  // namespace sycl

// ---------------------------------------------------------------- stand-in API
namespace ovxplat {

bool select_gpu_profile(const std::string& name) { return ovxplat_gpu_profile_select(name.c_str()) == 0; }
std::string current_gpu_profile() { return ovxplat_gpu_profile_current()->name; }
std::vector<std::string> gpu_profile_names() {
    std::vector<std::string> r;
    for (int i = 0; i < ovxplat_gpu_profile_count(); ++i) r.push_back(ovxplat_gpu_profile_at(i)->name);
    return r;
}
scoped_gpu_profile::scoped_gpu_profile(const std::string& name)
    : previous_(current_gpu_profile()), ok_(select_gpu_profile(name)) {}
scoped_gpu_profile::~scoped_gpu_profile() { select_gpu_profile(previous_); }

void set_shuffle_mode(bool on) {
    auto& s = sycl::detail::sched();
    std::lock_guard<std::mutex> lock(s.mu);
    s.shuffle = on;
    if (!on) s.release_held();
}
bool shuffle_mode() {
    auto& s = sycl::detail::sched();
    std::lock_guard<std::mutex> lock(s.mu);
    return s.shuffle;
}
bool opencl_available() { return sycl::detail::opencl().context != nullptr; }

std::uint64_t queue_commands_submitted(const sycl::queue& q) { return q.impl()->submitted.load(); }

sycl_counters get_sycl_counters() {
    auto& c = sycl::detail::counters();
    return sycl_counters{c.submitted.load(),    c.completed.load(),  c.opencl.load(), c.host_kernels.load(),
                         c.host_tasks.load(),   c.usm_live.load(),   c.usm_bytes.load(), c.buffers.load()};
}

}  // namespace ovxplat
