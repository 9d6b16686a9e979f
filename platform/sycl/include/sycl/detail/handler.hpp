// The command-group handler of the SYCL stand-in.
#pragma once

#include "buffer.hpp"
#include "bundle.hpp"

#include <algorithm>

namespace sycl {
inline namespace _V1 {

namespace detail {
struct auto_name {};

// A host kernel, type-erased: the runtime calls run_range for the items of a
// plain range (linear ids [begin, end)) and run_item for one work-item of an
// nd_range (group linear id, local linear id).
struct host_kernel_base {
    virtual ~host_kernel_base() = default;
    virtual void run_range(std::size_t begin, std::size_t end) = 0;
    virtual void run_item(std::size_t group, std::size_t local) = 0;
};

struct launch_desc {
    int dims = 1;
    bool nd = false;
    std::size_t global[3] = {1, 1, 1};
    std::size_t local[3] = {1, 1, 1};
    std::size_t offset[3] = {0, 0, 0};
};

template <int D>
launch_desc make_launch(const range<D>& g, const range<D>* l, const id<D>& o) {
    launch_desc d;
    d.dims = D;
    d.nd = l != nullptr;
    for (int i = 0; i < D; ++i) {
        d.global[i] = g[i];
        d.local[i] = l ? (*l)[i] : 1;
        d.offset[i] = o[i];
    }
    return d;
}

template <typename F, typename... A>
inline void call_kernel(const F& f, A&&... a) {
    f(std::forward<A>(a)...);
}

template <int D, typename F>
struct range_kernel final : host_kernel_base {
    F f;
    range<D> r;
    id<D> off;
    range_kernel(F fn, range<D> rr, id<D> o) : f(std::move(fn)), r(rr), off(o) {}
    void run_range(std::size_t b, std::size_t e) override {
        const detail::spec_table* spec = nullptr;
        if constexpr (std::is_invocable_v<const F&, item<D>, kernel_handler> ||
                      std::is_invocable_v<const F&, id<D>, kernel_handler>)
            spec = detail::current_spec_table();
        for (std::size_t i = b; i < e; ++i) {
            id<D> idx = detail::delinearize(i, r);
            idx += off;
            item<D> it(idx, r, off);
            if constexpr (std::is_invocable_v<const F&, item<D>, kernel_handler>)
                f(it, kernel_handler{spec});
            else if constexpr (std::is_invocable_v<const F&, item<D>>)
                f(it);
            else if constexpr (std::is_invocable_v<const F&, id<D>, kernel_handler>)
                f(idx, kernel_handler{spec});
            else
                f(idx);
        }
    }
    void run_item(std::size_t, std::size_t) override {}
};

template <int D, typename F>
struct nd_kernel final : host_kernel_base {
    F f;
    range<D> global, local, groups;
    id<D> off;
    nd_kernel(F fn, const nd_range<D>& r)
        : f(std::move(fn)), global(r.get_global_range()), local(r.get_local_range()),
          groups(r.get_group_range()), off(r.get_offset()) {}
    void run_range(std::size_t, std::size_t) override {}
    void run_item(std::size_t g, std::size_t l) override {
        id<D> grp = detail::delinearize(g, groups);
        id<D> lid = detail::delinearize(l, local);
        id<D> gid = id<D>(grp * id<D>(local)) + lid;
        nd_item<D> it(gid, lid, grp, global, local, off);
        if constexpr (std::is_invocable_v<const F&, nd_item<D>, kernel_handler>)
            f(it, kernel_handler{detail::current_spec_table()});
        else
            f(it);
    }
};

template <typename F>
struct single_kernel final : host_kernel_base {
    F f;
    explicit single_kernel(F fn) : f(std::move(fn)) {}
    void run_range(std::size_t, std::size_t) override {
        if constexpr (std::is_invocable_v<const F&, kernel_handler>)
            f(kernel_handler{detail::current_spec_table()});
        else
            f();
    }
    void run_item(std::size_t, std::size_t) override {}
};

template <typename T>
struct is_multi_ptr : std::false_type {};
template <typename T, access::address_space AS, access::decorated DE>
struct is_multi_ptr<multi_ptr<T, AS, DE>> : std::true_type {};

// Element offset, from an accessor's first element, of row `row` of its
// range `r` (rows run along the last dimension, in row-major order) in a
// buffer of range `mem`.
template <int D>
std::size_t row_start(std::size_t row, const range<D>& r, const range<D>& mem) {
    std::size_t at = 0, pitch = mem[D - 1];
    for (int d = D - 2; d >= 0; --d) {
        at += row % r[d] * pitch;
        row /= r[d];
        pitch *= mem[d];
    }
    return at;
}
// Whether the elements of range `r` in a buffer of range `mem` are one
// contiguous block: every row spans the buffer's rows.
template <int D>
bool dense(const range<D>& r, const range<D>& mem) {
    for (int d = 1; d < D; ++d)
        if (r[d] != mem[d]) return false;
    return true;
}
// Copies the first n elements, in row-major order, of range `sr` (in a
// buffer of range `sm`, from its first element s) to the first n of range
// `dr` (in `dm`, from d), as long spans as the rows of both allow.
template <typename T, int DS, int DD>
void copy_ranged(const T* s, const range<DS>& sr, const range<DS>& sm, T* d, const range<DD>& dr,
                 const range<DD>& dm, std::size_t n) {
    const std::size_t sw = sr[DS - 1], dw = dr[DD - 1];
    for (std::size_t at = 0; at < n;) {
        const std::size_t sc = at % sw, dc = at % dw;
        const std::size_t k = std::min(n - at, std::min(sw - sc, dw - dc));
        std::memmove(d + row_start(at / dw, dr, dm) + dc, s + row_start(at / sw, sr, sm) + sc, k * sizeof(T));
        at += k;
    }
}

template <typename Name, typename F>
using kernel_name_t = std::conditional_t<std::is_same_v<Name, auto_name>, F, Name>;

OVXPLAT_SYCL_EXPORT void handler_require(handler& h, const std::shared_ptr<buffer_impl>& s, std::size_t lo,
                                         std::size_t hi, bool write);
}  // namespace detail

class OVXPLAT_SYCL_EXPORT handler {
public:
    handler(const handler&) = delete;
    handler& operator=(const handler&) = delete;
    ~handler();

    // ---- dependencies
    void depends_on(event e);
    void depends_on(const std::vector<event>& es);
    template <typename T, int D, access_mode M, target Tg, access::placeholder P>
    void require(accessor<T, D, M, Tg, P> acc) {
        acc.attach(*this);
    }

    // ---- arguments of OpenCL kernels
    template <typename T>
    void set_arg(int index, T&& arg) {
        using U = std::remove_cv_t<std::remove_reference_t<T>>;
        if constexpr (std::is_base_of_v<detail::accessor_common, U>) {
            arg.attach(*this);
            set_arg_pointer(index, static_cast<const void*>(arg.get_pointer().get()));
        } else if constexpr (std::is_base_of_v<detail::local_accessor_common, U>) {
            set_arg_local(index, arg.byte_size());
        } else if constexpr (std::is_pointer_v<U>) {
            set_arg_pointer(index, static_cast<const void*>(arg));
        } else if constexpr (detail::is_multi_ptr<U>::value) {
            set_arg_pointer(index, static_cast<const void*>(arg.get()));
        } else if constexpr (std::is_same_v<U, std::nullptr_t>) {
            set_arg_pointer(index, nullptr);
        } else {
            static_assert(std::is_trivially_copyable_v<U>, "kernel arguments are trivially copyable");
            set_arg_value(index, &arg, sizeof(U));
        }
    }
    template <typename... Ts>
    void set_args(Ts&&... args) {
        int i = 0;
        (set_arg(i++, std::forward<Ts>(args)), ...);
    }

    // ---- OpenCL kernels (objects made with make_kernel)
    void single_task(const kernel& k) { launch_native(k, detail::make_launch<1>(range<1>(1), nullptr, id<1>())); }
    template <int D>
    void parallel_for(range<D> r, const kernel& k) {
        launch_native(k, detail::make_launch<D>(r, nullptr, id<D>()));
    }
    template <int D>
    void parallel_for(range<D> r, id<D> o, const kernel& k) {
        launch_native(k, detail::make_launch<D>(r, nullptr, o));
    }
    template <int D>
    void parallel_for(nd_range<D> r, const kernel& k) {
        range<D> l = r.get_local_range();
        launch_native(k, detail::make_launch<D>(r.get_global_range(), &l, r.get_offset()));
    }

    // ---- host kernels
    template <typename Name = detail::auto_name, typename F>
    void single_task(F&& f) {
        using FD = std::decay_t<F>;
        launch_host(detail::make_launch<1>(range<1>(1), nullptr, id<1>()),
                    std::make_unique<detail::single_kernel<FD>>(std::forward<F>(f)),
                    get_kernel_id<detail::kernel_name_t<Name, FD>>());
    }
    template <typename Name = detail::auto_name, int D, typename F,
              typename = std::enable_if_t<!std::is_same_v<std::decay_t<F>, kernel>>>
    void parallel_for(range<D> r, F&& f) {
        using FD = std::decay_t<F>;
        launch_host(detail::make_launch<D>(r, nullptr, id<D>()),
                    std::make_unique<detail::range_kernel<D, FD>>(std::forward<F>(f), r, id<D>()),
                    get_kernel_id<detail::kernel_name_t<Name, FD>>());
    }
    template <typename Name = detail::auto_name, int D, typename F,
              typename = std::enable_if_t<!std::is_same_v<std::decay_t<F>, kernel>>>
    void parallel_for(range<D> r, id<D> o, F&& f) {
        using FD = std::decay_t<F>;
        launch_host(detail::make_launch<D>(r, nullptr, o),
                    std::make_unique<detail::range_kernel<D, FD>>(std::forward<F>(f), r, o),
                    get_kernel_id<detail::kernel_name_t<Name, FD>>());
    }
    template <typename Name = detail::auto_name, int D, typename F,
              typename = std::enable_if_t<!std::is_same_v<std::decay_t<F>, kernel>>>
    void parallel_for(nd_range<D> r, F&& f) {
        using FD = std::decay_t<F>;
        range<D> l = r.get_local_range();
        // The kernel object divides the global range by the local one: a
        // zero extent is refused before it is made.
        for (int i = 0; i < D; ++i)
            if (l[i] == 0) detail::throw_error(errc::nd_range, "Local range must not be zero");
        launch_host(detail::make_launch<D>(r.get_global_range(), &l, r.get_offset()),
                    std::make_unique<detail::nd_kernel<D, FD>>(std::forward<F>(f), r),
                    get_kernel_id<detail::kernel_name_t<Name, FD>>());
    }
    // 1D shortcuts with a plain count.
    template <typename Name = detail::auto_name, typename F>
    void parallel_for(std::size_t n, F&& f) {
        parallel_for<Name>(range<1>(n), std::forward<F>(f));
    }

    // ---- host tasks
    template <typename F>
    void host_task(F&& f) {
        if constexpr (std::is_invocable_v<F&, interop_handle>) {
            set_host_task(std::function<void(interop_handle*)>(
                [fn = std::forward<F>(f)](interop_handle* ih) mutable { fn(*ih); }));
        } else {
            set_host_task(
                std::function<void(interop_handle*)>([fn = std::forward<F>(f)](interop_handle*) mutable { fn(); }));
        }
    }

    // ---- memory operations
    void memcpy(void* dst, const void* src, std::size_t bytes);
    void memset(void* ptr, int value, std::size_t bytes);
    template <typename T>
    void fill(void* ptr, const T& pattern, std::size_t count) {
        fill_bytes(ptr, &pattern, sizeof(T), count);
    }
    template <typename T>
    void copy(const T* src, T* dst, std::size_t count) {
        this->memcpy(dst, src, count * sizeof(T));
    }
    // An accessor's range that is not one block of its buffer (a ranged
    // accessor of several dimensions) is copied and filled row by row.
    template <typename T, int D, access_mode M, target Tg, access::placeholder P>
    void copy(accessor<T, D, M, Tg, P> src, std::remove_const_t<T>* dst) {
        src.attach(*this);
        const range<D> r = src.get_range(), mem = src.buffer_range();
        if (detail::dense(r, mem)) {
            this->memcpy(dst, src.get_pointer().get(), src.byte_size());
            return;
        }
        if (!dst) detail::throw_error(errc::invalid, "NULL pointer argument in memory copy operation.");
        const std::remove_const_t<T>* s = src.get_pointer().get();
        const std::size_t n = r.size();
        set_ranged_task([s, r, mem, dst, n] { detail::copy_ranged(s, r, mem, dst, range<1>(n), range<1>(n), n); });
    }
    template <typename T, int D, access_mode M, target Tg, access::placeholder P>
    void copy(const std::remove_const_t<T>* src, accessor<T, D, M, Tg, P> dst) {
        dst.attach(*this);
        const range<D> r = dst.get_range(), mem = dst.buffer_range();
        if (detail::dense(r, mem)) {
            this->memcpy(dst.get_pointer().get(), src, dst.byte_size());
            return;
        }
        if (!src) detail::throw_error(errc::invalid, "NULL pointer argument in memory copy operation.");
        std::remove_const_t<T>* d = dst.get_pointer().get();
        const std::size_t n = r.size();
        set_ranged_task([src, r, mem, d, n] { detail::copy_ranged(src, range<1>(n), range<1>(n), d, r, mem, n); });
    }
    // Copies every element of the source, in row-major order, to the first
    // elements of the destination, which must hold at least as many.
    template <typename T, int D, access_mode M1, target T1, access::placeholder P1, typename U, access_mode M2,
              target T2, access::placeholder P2>
    void copy(accessor<T, D, M1, T1, P1> src, accessor<U, D, M2, T2, P2> dst) {
        if (dst.size() < src.size())
            detail::throw_error(errc::invalid,
                                "The destination accessor holds fewer elements than the source accessor");
        src.attach(*this);
        dst.attach(*this);
        const range<D> sr = src.get_range(), sm = src.buffer_range();
        const range<D> dr = dst.get_range(), dm = dst.buffer_range();
        if (detail::dense(sr, sm) && detail::dense(dr, dm)) {
            this->memcpy(dst.get_pointer().get(), src.get_pointer().get(), src.byte_size());
            return;
        }
        const std::remove_const_t<T>* s = src.get_pointer().get();
        std::remove_const_t<U>* d = dst.get_pointer().get();
        const std::size_t n = src.size();
        set_ranged_task([s, sr, sm, d, dr, dm, n] { detail::copy_ranged(s, sr, sm, d, dr, dm, n); });
    }
    template <typename T, int D, access_mode M, target Tg, access::placeholder P>
    void fill(accessor<T, D, M, Tg, P> dst, const T& value) {
        dst.attach(*this);
        const range<D> r = dst.get_range(), mem = dst.buffer_range();
        if (detail::dense(r, mem)) {
            fill_bytes(dst.get_pointer().get(), &value, sizeof(T), dst.size());
            return;
        }
        T* d = dst.get_pointer().get();
        const std::size_t n = r.size(), w = r[D - 1];
        set_ranged_task([d, r, mem, n, w, value] {
            for (std::size_t at = 0; at < n; at += w) {
                T* row = d + detail::row_start(at / w, r, mem);
                for (std::size_t i = 0; i < w; ++i) std::memcpy(row + i, &value, sizeof(T));
            }
        });
    }

    // ---- kernel bundles and specialization constants
    void use_kernel_bundle(const kernel_bundle<bundle_state::executable>& b);
    template <auto& SpecName>
    void set_specialization_constant(typename std::remove_reference_t<decltype(SpecName)>::value_type value) {
        using T = typename std::remove_reference_t<decltype(SpecName)>::value_type;
        set_spec(&SpecName, &value, sizeof(T));
    }
    template <auto& SpecName>
    typename std::remove_reference_t<decltype(SpecName)>::value_type get_specialization_constant() {
        using T = typename std::remove_reference_t<decltype(SpecName)>::value_type;
        T v = SpecName.default_value();
        get_spec(&SpecName, &v, sizeof(T));
        return v;
    }

    // Waits for the events (or, with none, for everything submitted before
    // to the queue) without running anything.
    void ext_tarvo_barrier();
    void ext_tarvo_barrier(const std::vector<event>& events);

    // Stand-in internals.
    explicit handler(std::unique_ptr<detail::handler_impl> impl);
    detail::handler_impl* impl() const { return impl_.get(); }

private:
    void set_arg_value(int index, const void* p, std::size_t size);
    void set_arg_pointer(int index, const void* p);
    void set_arg_local(int index, std::size_t bytes);
    void launch_native(const kernel& k, const detail::launch_desc& d);
    void launch_host(const detail::launch_desc& d, std::unique_ptr<detail::host_kernel_base> k, const kernel_id& id);
    void set_host_task(std::function<void(interop_handle*)> f);
    void fill_bytes(void* ptr, const void* pattern, std::size_t size, std::size_t count);
    // A copy or fill over the rows of ranged accessors: the command runs `f`.
    void set_ranged_task(std::function<void()> f);
    void set_spec(const void* key, const void* value, std::size_t size);
    void get_spec(const void* key, void* value, std::size_t size);
    std::unique_ptr<detail::handler_impl> impl_;
};

}  // namespace _V1
}  // namespace sycl
