// Explicit-SIMD two-factor plan: rules, stage set-up, kernel bundles,
// workspaces and twiddle tables.
#include "ovx_dft_esimd_2_facts_kernels.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <stdexcept>

namespace korami::ovx::dft {

namespace {
bool pow2(std::int64_t v) { return v > 0 && (v & (v - 1)) == 0; }
bool in_set(std::int64_t v, std::initializer_list<std::int64_t> s) { return std::find(s.begin(), s.end(), v) != s.end(); }
std::int64_t product(const std::vector<std::int64_t>& l) {
    std::int64_t p = 1;
    for (auto v : l) p *= v;
    return p;
}
}  // namespace

bool esimd_2_facts_split(std::int64_t len, std::int32_t& fact0, std::int32_t& fact1) {
    static const std::int32_t f0s[] = {64, 32, 25, 16, 12, 10, 9, 8};
    static const std::int32_t f1s[] = {8, 9, 10, 12, 16, 25, 32, 64};
    std::int64_t best = -1;
    for (auto a : f0s)
        for (auto b : f1s) {
            if (std::int64_t(a) * b != len) continue;
            const std::int64_t d = std::llabs(std::int64_t(a) * a - std::int64_t(b) * b);
            if (best < 0 || d < best) {
                best = d;
                fact0 = a;
                fact1 = b;
            }
        }
    return best >= 0;
}

bool esimd_2_facts_excluded_size(int rank, std::vector<std::int64_t> lengths) {
    if (rank < 2 || lengths.size() < std::size_t(rank)) return false;
    const std::int64_t l0 = lengths[0];
    if ((l0 & (l0 - 1)) != 0) return false;
    for (int i = 1; i < rank; ++i)
        if (in_set(lengths[i], {200, 225, 250, 288, 300, 320, 384})) return true;
    return rank == 3 && in_set(lengths[2], {576, 640, 768, 1600});
}

template <typename T>
std::int64_t esimd_2_facts_launch_ranges(std::vector<std::int64_t> lengths, std::int64_t dims[3],
                                         std::int64_t units[3]) {
    const std::int64_t p = product(lengths);
    const std::int64_t b = p * std::int64_t(2 * sizeof(T));
    const std::int64_t t = (b > 0 && b < 0x5F00001) ? std::int64_t((0xBE00000u / std::uint32_t(b)) / 2) : 1;
    const std::size_t rank = lengths.size();
    for (std::size_t i = 0; i < 3; ++i) {
        dims[i] = i < rank ? lengths[i] : 1;
        units[i] = i < rank && lengths[i] ? t * p / lengths[i] : 0;
    }
    return t;
}

template <typename T>
bool esimd_2_facts_applicable(const std::vector<std::int64_t>& l, std::int64_t n, std::int64_t fwd_dist,
                              std::int64_t bwd_dist, const std::int64_t* is, const std::int64_t* os) {
    const int rank = int(l.size());
    if (rank != 2 && rank != 3) return false;
    if (is[0] != 1 || os[0] != 1 || is[1] != l[0] || os[1] != is[1]) return false;
    if (rank == 3 && (is[2] != is[1] * l[1] || os[2] != is[2])) return false;
    const std::int64_t p = product(l);
    if (n >= 2 && (fwd_dist != p || bwd_dist != p)) return false;
    if (esimd_2_facts_excluded_size(rank, l)) return false;
    if (std::is_same_v<T, float>) {
        if (rank == 2) {
            if (l[1] == 4096) return l[0] > 0 && l[0] % 8 != 0;
            return pow2(l[0]) && l[0] <= 4095 && !in_set(l[1], {400, 576, 640, 768, 1600});
        }
        if (!pow2(l[0]) || !pow2(l[1]) || l[2] > 4095) return false;
        const std::int64_t b = p * 8;
        const std::int64_t limit = l[2] == 2048 ? 0x60000000
                                   : in_set(l[2], {64, 72, 80, 81, 100, 108, 120, 128, 144, 256, 400, 512, 800, 1024})
                                       ? 0x14400000
                                       : 0xC000000;
        return b <= limit;
    }
    for (auto v : l)
        if (v > 1024) return false;
    if (!pow2(l[0]) || !(l[1] <= 512 || l[1] == 1024)) return false;
    if (rank == 2) return true;
    if (!pow2(l[1])) return false;
    if (pow2(l[2])) return true;
    const std::int64_t b = p * 16;
    return b <= (in_set(l[2], {72, 80, 81, 100, 108, 120, 144, 160, 192, 400, 800}) ? 0x18000000 : 0xC000000);
}

template <typename T>
esimd_stage esimd_2_facts_stage(int s, const std::vector<std::int64_t>& l, std::int64_t t, std::int64_t units,
                                std::int64_t plan_fwd_dist, std::int64_t plan_bwd_dist, std::uint64_t local_mem,
                                std::uint32_t base_align_bits) {
    esimd_stage st;
    const int rank = int(l.size());
    const std::int64_t len = l[s];
    const std::int64_t eb = 2 * sizeof(T);  // bytes of a complex value
    st.col_batch = s >= 1 && pow2(l[0]) && std::uint64_t(len * eb * 8) <= local_mem;
    st.ncol = st.col_batch ? 8 : 1;
    const std::int64_t x = s == 0 ? 1 : l[0];
    const std::int64_t y = s == 2 ? l[1] : 1;
    if (s == 0) {
        st.fwd_dist = st.bwd_dist = l[0];
    } else if (s == 1 && rank == 3) {
        st.fwd_dist = st.bwd_dist = l[0] * l[1];
    } else {
        st.fwd_dist = plan_fwd_dist;
        st.bwd_dist = plan_bwd_dist;
    }
    st.split_found = esimd_2_facts_split(len, st.fact0, st.fact1);
    if (!st.split_found) return st;
    const std::uint32_t f0 = std::uint32_t(st.fact0), f1 = std::uint32_t(st.fact1);
    st.pad0 = (16 - (2 * f0 % 16)) % 16;
    st.pad1 = (16 - (2 * f1 % 16)) % 16;
    st.fact1p = f1 + st.pad1 / 2;
    st.A = st.col_batch ? f1 : (f1 + 7) / 8;
    st.Bg = st.col_batch ? f0 : (f0 + 7) / 8;
    st.loop_bound = st.Bg % st.A != 0 ? 1 : st.Bg / st.A;
    st.after = st.loop_bound >= 2 ? st.A : st.Bg;
    st.local_size = st.A + st.Bg % st.A;
    st.slm_bytes = st.col_batch ? len * eb * 8 : std::int64_t(f0) * st.fact1p * eb;
    st.units = units;
    if (st.col_batch) {
        st.units = (x + 7) / 8 * t;
        if (rank == 3) st.units *= s == 1 ? l[2] : l[1];
    }
    st.global_size = st.units * st.local_size;
    const std::int64_t n = 2 * std::int64_t(f0) * (st.col_batch ? st.ncol * f1 : st.fact1p);
    const std::int64_t a = base_align_bits / 8;
    const std::int64_t hi = std::max<std::int64_t>(a, 16), lo = std::max<std::int64_t>(std::min<std::int64_t>(a, 16), 1);
    std::int64_t r = (n * std::int64_t(sizeof(T)) + hi - 1) / hi * hi;
    while (r % lo) r += hi;
    st.region_bytes = r;
    st.stride = std::uint32_t(x * y);
    st.group_dist = s == 0 ? 16 : std::uint32_t((st.col_batch ? 2 : 16) * x * y);
    st.batch_x = s == 0 ? 1 : std::uint32_t(st.col_batch ? (x + 7) / 8 : x);
    st.batch_y = std::uint32_t(y);
    return st;
}

// ---------------------------------------------------------------- plan
template <typename T>
esimd_2_facts_plan<T>::esimd_2_facts_plan(std::vector<std::int64_t> lens, T bscale, std::int64_t n,
                                          std::int64_t fdist, std::int64_t bdist, const std::int64_t* istr,
                                          const std::int64_t* ostr, bool use_lsc)
    : rank(std::int64_t(lens.size())), lengths(std::move(lens)), bwd_scale(bscale), n_transforms(n),
      fwd_distance(fdist), bwd_distance(bdist), use_lsc_api(use_lsc), events(std::size_t(2 * rank)) {
    for (std::int64_t i = 0; i < rank && i < 3; ++i) {
        in_strides[i] = istr[i];
        out_strides[i] = ostr[i];
    }
}

template <typename T>
esimd_2_facts_plan<T>::~esimd_2_facts_plan() {
    // A destructor cannot report: an error of the release is dropped.
    try {
        if (queue) delete_internal_allocations(2);
    } catch (...) {
    }
    events.clear();
    unbind_all();
    queue = nullptr;
    for (int s = 2; s >= 0; --s) {
        delete bundles[s];
        bundles[s] = nullptr;
    }
}

namespace {
template <typename T, fft_algo A>
std::vector<sycl::kernel_id> stage_kernel_ids() {
    return {sycl::get_kernel_id<ovx_dft_esimd_2_facts_kernel<T, 0, A, false>>(),
            sycl::get_kernel_id<ovx_dft_esimd_2_facts_kernel<T, 1, A, false>>(),
            sycl::get_kernel_id<ovx_dft_esimd_2_facts_kernel<T, 0, A, true>>(),
            sycl::get_kernel_id<ovx_dft_esimd_2_facts_kernel<T, 1, A, true>>()};
}
}  // namespace

namespace {
// The stages of a plan of this problem on a device of the given local memory
// and base-address alignment: false when the plan does not take the problem.
template <typename T>
bool plan_stages(const std::vector<std::int64_t>& lengths, std::int64_t n, std::int64_t fwd_dist, std::int64_t bwd_dist,
                 const std::int64_t* is, const std::int64_t* os, std::uint64_t local_mem, std::uint32_t align,
                 std::int64_t dims[3], std::int64_t units[3], std::int64_t& per_launch, esimd_stage stages[3]) {
    if (!esimd_2_facts_applicable<T>(lengths, n, fwd_dist, bwd_dist, is, os)) return false;
    per_launch = esimd_2_facts_launch_ranges<T>(lengths, dims, units);
    for (std::size_t s = 0; s < lengths.size(); ++s) {
        stages[s] = esimd_2_facts_stage<T>(int(s), lengths, per_launch, units[s], fwd_dist, bwd_dist, local_mem, align);
        if (!stages[s].split_found) return false;
    }
    return true;
}
}  // namespace

template <typename T>
std::int64_t esimd_2_facts_table_bytes(const std::vector<std::int64_t>& lengths, std::int64_t n_transforms,
                                       std::int64_t fwd_dist, std::int64_t bwd_dist, const std::int64_t* istrides,
                                       const std::int64_t* ostrides, std::uint64_t local_mem_size,
                                       std::uint32_t base_align_bits) {
    std::int64_t dims[3] = {1, 1, 1}, units[3] = {}, per_launch = 0;
    esimd_stage stages[3];
    if (!plan_stages<T>(lengths, n_transforms, fwd_dist, bwd_dist, istrides, ostrides, local_mem_size, base_align_bits,
                        dims, units, per_launch, stages))
        return -1;
    std::int64_t bytes = 0;
    for (std::size_t s = 0; s < lengths.size(); ++s) bytes += 2 * stages[s].region_bytes;
    return bytes;
}

template <typename T>
int esimd_2_facts_plan<T>::commit(sycl::queue* q) {
    const sycl::device dev = q->get_device();
    const std::uint64_t local_mem = dev.get_info<sycl::info::device::local_mem_size>();
    const std::uint32_t align = dev.get_info<sycl::info::device::mem_base_addr_align>();
    if (!plan_stages<T>(lengths, n_transforms, fwd_distance, bwd_distance, in_strides, out_strides, local_mem, align,
                        dims, units, transforms_per_launch, stages))
        return esimd_plan_refused;
    queue = q;
    table_vl = 16;
    area_size[0] = 0;
    for (int s = 0; s < rank; ++s) {
        const esimd_stage& st = stages[s];
        col_batch[s] = st.col_batch;
        fact0[s] = st.fact0;
        fact1[s] = st.fact1;
        local_size[s] = st.local_size;
        units[s] = st.units;
        global_size[s] = st.global_size;
        region_size[s][0] = region_size[s][1] = st.region_bytes;
        area_size[0] += 2 * st.region_bytes;

        auto ids = st.col_batch ? stage_kernel_ids<T, fft_algo::col_batch>() : stage_kernel_ids<T, fft_algo::rows>();
        auto in = sycl::get_kernel_bundle<sycl::bundle_state::input>(q->get_context(), {dev}, ids);
        in.template set_specialization_constant<dft_spec_const_fact0>(st.fact0);
        in.template set_specialization_constant<dft_spec_const_fact1>(st.fact1);
        in.template set_specialization_constant<dft_spec_const_fwd_dist>(st.fwd_dist);
        in.template set_specialization_constant<dft_spec_const_bwd_dist>(st.bwd_dist);
        in.template set_specialization_constant<dft_spec_const_VL>(table_vl);
        in.template set_specialization_constant<dft_spec_const_simd_groups_before_transpose>(std::int32_t(st.A));
        in.template set_specialization_constant<dft_spec_const_simd_groups_after_transpose>(std::int32_t(st.after));
        in.template set_specialization_constant<dft_spec_const_fact1_loop_bound>(std::int32_t(st.loop_bound));
        in.template set_specialization_constant<dft_spec_const_use_lsc_api>(use_lsc_api ? 1 : 0);
        in.template set_specialization_constant<dft_spec_const_slm_size>(st.slm_bytes);
        in.template set_specialization_constant<dft_num_batch_in_x_dir>(std::int32_t(st.batch_x));
        in.template set_specialization_constant<dft_num_batch_in_y_dir>(std::int32_t(st.batch_y));
        in.template set_specialization_constant<dft_dist_to_next_simd_group>(std::int32_t(st.group_dist));
        in.template set_specialization_constant<dft_dist_to_next_row_in_fact0xfact1>(
            std::int32_t(st.stride * std::uint32_t(st.fact1)));
        in.template set_specialization_constant<dft_dist_to_next_row_in_fact1xfact0>(
            std::int32_t(std::uint32_t(st.fact0) * st.stride));
        in.template set_specialization_constant<dft_stride_to_next_elem>(std::int32_t(st.stride));
        in.template set_specialization_constant<dft_spec_const_padfact0>(std::int32_t(st.pad0));
        in.template set_specialization_constant<dft_spec_const_padfact1>(std::int32_t(st.pad1));
        in.template set_specialization_constant<dft_num_col_batch_ffts>(std::int32_t(st.ncol));
        in.template set_specialization_constant<dft_do_twiddle>(1);
        in.template set_specialization_constant<dft_do_fft0>(1);
        in.template set_specialization_constant<dft_do_fft1>(1);
        auto* exe = new sycl::kernel_bundle<sycl::bundle_state::executable>(sycl::build(in));
        delete bundles[s];
        bundles[s] = exe;
    }
    area_size[1] = 0;
    if (use_internal_workspaces) return create_and_initialize_internal_workspaces();
    return esimd_plan_ok;
}

template <typename T>
int esimd_2_facts_plan<T>::workspace_rebind_needed(int kind) const {
    if (kind != 0 && kind != 1) throw std::invalid_argument("The compute-time data container type must be known");
    if (container_kind != 2 && container_kind != kind) return esimd_plan_rebind;
    for (int s = 0; s < rank; ++s)
        for (int d = 0; d < 2; ++d)
            if (kind == 0 ? table_ptr[s][d] == nullptr : table_buf[s][d] == nullptr) return esimd_plan_rebind;
    return esimd_plan_ok;
}

// ---------------------------------------------------------------- workspaces
template <typename T>
std::int64_t esimd_2_facts_plan<T>::workspace_bytes(int kind) const {
    switch (kind) {
        case 0: return area_size[0];
        case 1: return area_size[1];
        case 2: return area_size[0] + area_size[1];
        default: return 0;
    }
}

template <typename T>
void esimd_2_facts_plan<T>::note_launch(const sycl::event& e) const {
    launches_.erase(std::remove_if(launches_.begin(), launches_.end(),
                                   [](const sycl::event& x) {
                                       return x.get_info<sycl::info::event::command_execution_status>() ==
                                              sycl::info::event_command_status::complete;
                                   }),
                    launches_.end());
    launches_.push_back(e);
}

template <typename T>
void esimd_2_facts_plan<T>::wait_launches() {
    for (auto& e : launches_) e.wait();
    launches_.clear();
    // Table writes still running write into the memory about to be released.
    for (auto& e : events) e.wait();
}

template <typename T>
sycl::queue& esimd_2_facts_plan<T>::alloc_queue() {
    return alloc_q_ ? *alloc_q_ : *queue;
}

template <typename T>
void esimd_2_facts_plan<T>::unbind_all() noexcept {
    // Table writes already started end before the binding is dropped: the
    // caller may release its memory as soon as a failed bind returns.
    for (auto& e : events) {
        try {
            e.wait();
        } catch (...) {
        }
    }
    for (int s = 0; s < 3; ++s)
        for (int d = 0; d < 2; ++d) {
            if (!tables_borrowed) delete table_buf[s][d];
            table_buf[s][d] = nullptr;
            table_ptr[s][d] = nullptr;
        }
    container_kind = 2;
}

template <typename T>
void esimd_2_facts_plan<T>::delete_internal_allocations(unsigned mode) {
    if (mode > 2) return;
    // Computes still running read the tables: they end before the memory goes.
    wait_launches();
    if (mode == 0 || mode == 2) {
        if (internal_alloc[0]) {
            sycl::free(internal_alloc[0], alloc_queue());
            internal_alloc[0] = nullptr;
        }
        for (int s = 0; s < 3; ++s)
            for (int d = 0; d < 2; ++d) {
                if (!tables_borrowed) delete table_buf[s][d];
                table_buf[s][d] = nullptr;
                table_ptr[s][d] = nullptr;
            }
    }
    if ((mode == 1 || mode == 2) && internal_alloc[1]) {
        sycl::free(internal_alloc[1], alloc_queue());
        internal_alloc[1] = nullptr;
    }
}

template <typename T>
void esimd_2_facts_plan<T>::set_workspace(void* base, unsigned phase, std::vector<sycl::event>* evs,
                                          std::int64_t offset) {
    if (phase > 2) return;
    if (phase == 2) {
        container_kind = 0;
        delete_internal_allocations(2);
    } else {
        delete_internal_allocations(phase);
        if (phase == 1) return;
    }
    try {
        if (phase == 0 && evs) {
            for (int s = 0; s < rank; ++s)
                for (int d = 0; d < 2; ++d)
                    table_buf[s][d] = new sycl::buffer<T, 1>(sycl::range<1>(std::size_t(region_size[s][d]) / sizeof(T)));
            create_twiddle_table(1);
            evs->insert(evs->end(), events.begin(), events.end());
        }
        // Regions start at the first whole element at or after the offset.
        std::int64_t pos = (offset + std::int64_t(sizeof(T)) - 1) / std::int64_t(sizeof(T));
        for (int s = 0; s < rank; ++s)
            for (int d = 0; d < 2; ++d) {
                table_ptr[s][d] = static_cast<T*>(base) + pos;
                pos += region_size[s][d] / std::int64_t(sizeof(T));
            }
        create_twiddle_table(0);
        if (evs) evs->insert(evs->end(), events.begin(), events.end());
    } catch (...) {
        unbind_all();
        throw;
    }
}

template <typename T>
void esimd_2_facts_plan<T>::set_workspace(sycl::buffer<T, 1>& buf, unsigned phase, std::vector<sycl::event>* evs,
                                          std::int64_t offset) {
    if (phase > 2) return;
    if (phase == 2) {
        container_kind = 1;
        delete_internal_allocations(2);
    } else {
        delete_internal_allocations(phase);
        if (phase != 0) return;
    }
    // A failed bind leaves the plan unbound, so that the next compute asks
    // for a new workspace instead of reading missing or unwritten tables.
    try {
        std::size_t p = std::size_t((offset + std::int64_t(sizeof(T)) - 1) / std::int64_t(sizeof(T)));
        for (int s = 0; s < rank; ++s)
            for (int d = 0; d < 2; ++d) {
                const std::size_t n = std::size_t(region_size[s][d]) / sizeof(T);
                table_buf[s][d] = new sycl::buffer<T, 1>(buf, sycl::id<1>(p), sycl::range<1>(n));
                p += n;
            }
        create_twiddle_table(1);
        if (evs) evs->insert(evs->end(), events.begin(), events.end());
    } catch (...) {
        unbind_all();
        throw;
    }
}

template <typename T>
void esimd_2_facts_plan<T>::set_workspace(sycl::buffer<char, 1>& bytes, unsigned phase,
                                          std::vector<sycl::event>* evs, std::int64_t offset) {
    auto view = bytes.template reinterpret<T, 1>(sycl::range<1>(bytes.size() / sizeof(T)));
    set_workspace(view, phase, evs, offset);
}

template <typename T>
std::int32_t esimd_2_facts_plan<T>::create_and_initialize_internal_workspaces() {
    const sycl::device dev = queue->get_device();
    const std::uint64_t max_alloc = dev.get_info<sycl::info::device::max_mem_alloc_size>();
    auto free_mem = [&]() -> std::uint64_t {
        return korami::ovx::gpu::sycl_ext::free_memory(dev);
    };
    std::vector<sycl::event> evs;
    if (area_size[0] > 0) {
        const auto bytes = std::uint64_t(area_size[0]);
        if (bytes > max_alloc || bytes > free_mem()) return esimd_plan_no_memory;
        void* p = sycl::malloc_device(bytes, *queue);
        if (!p) return esimd_plan_no_memory;
        try {
            set_workspace(p, 0, &evs, 0);
        } catch (const sycl::exception& e) {
            // Nothing stays bound; the allocation goes back before reporting.
            unbind_all();
            for (auto& ev : evs) ev.wait();
            sycl::free(p, *queue);
            if (e.code() == sycl::make_error_code(sycl::errc::memory_allocation)) return esimd_plan_no_memory;
            throw;
        } catch (...) {
            unbind_all();
            sycl::free(p, *queue);
            throw;
        }
        internal_alloc[0] = p;
        alloc_q_ = *queue;
    }
    // Area 1 is empty in both precisions: nothing to allocate.
    for (auto& e : evs) e.wait();
    return esimd_plan_ok;
}

// ---------------------------------------------------------------- tables
template <typename T>
class twidlTableGenC2CeSIMDUsm;
template <typename T>
class twidlTableGenC2CeSIMDBuf;
template <typename T>
class twidlTableGenC2CeSIMDcolBatchUsm;
template <typename T>
class twidlTableGenC2CeSIMDcolBatchBuf;

namespace {
// Entry (r, j) = scale * e^{+2 pi i r j / (f0 f1)}.
template <typename T>
inline void plain_entry(T* t, std::uint32_t r, std::int32_t j, std::int32_t f0f1, std::int64_t fact1p, T scale) {
    T th;
    if constexpr (std::is_same_v<T, float>)
        th = float(double(2 * r) * double(j) / double(f0f1));
    else
        th = double(2 * r) * double(j) / double(f0f1);
    const std::int64_t e = 2 * (std::int64_t(r) * fact1p + j);
    t[e] = sycl::cospi(th) * scale;
    t[e + 1] = sycl::sinpi(th) * scale;
}
template <typename T>
inline void colbatch_entry(T* t, std::int32_t r, std::int32_t j, std::int32_t f1, std::int32_t f0, std::int32_t c,
                           T scale) {
    const double th = 2.0 * r * j / (double(f1) * f0);
    const T re = T(sycl::cospi(th) * double(scale)), im = T(sycl::sinpi(th) * double(scale));
    const std::int64_t e = 2 * (std::int64_t(r) * f1 + j) * c;
    for (int k = 0; k < c; ++k) {
        t[e + 2 * k] = re;
        t[e + 2 * k + 1] = im;
    }
}
}  // namespace

template <typename T>
sycl::event init_twiddles_on_device(int fact0, int fact1, int fact1p, T scale, sycl::queue& q, int mem_type,
                                    void* table) {
    const std::int64_t f1p = fact1p;
    const std::int32_t f0f1 = fact0 * fact1;
    const sycl::range<2> r{std::size_t(fact0), std::size_t(fact1p)};
    if (mem_type == 0) {
        T* t = static_cast<T*>(table);
        return q.submit([&](sycl::handler& h) {
            h.parallel_for<twidlTableGenC2CeSIMDUsm<T>>(r, [=](sycl::item<2> it) {
                plain_entry<T>(t, std::uint32_t(it[0]), std::int32_t(it[1]), f0f1, f1p, scale);
            });
        });
    }
    auto* buf = static_cast<sycl::buffer<T, 1>*>(table);
    return q.submit([&](sycl::handler& h) {
        sycl::accessor acc(*buf, h, sycl::read_write);
        h.parallel_for<twidlTableGenC2CeSIMDBuf<T>>(r, [=](sycl::item<2> it) {
            plain_entry<T>(&acc[0], std::uint32_t(it[0]), std::int32_t(it[1]), f0f1, f1p, scale);
        });
    });
}

template <typename T>
sycl::event init_colbatch_twiddles_on_device(int fact1, int fact0, int c, T scale, sycl::queue& q, int mem_type,
                                             void* table) {
    const sycl::range<2> r{std::size_t(fact0), std::size_t(fact1)};
    if (mem_type == 0) {
        T* t = static_cast<T*>(table);
        return q.submit([&](sycl::handler& h) {
            h.parallel_for<twidlTableGenC2CeSIMDcolBatchUsm<T>>(r, [=](sycl::item<2> it) {
                colbatch_entry<T>(t, std::int32_t(it[0]), std::int32_t(it[1]), fact1, fact0, c, scale);
            });
        });
    }
    auto* buf = static_cast<sycl::buffer<T, 1>*>(table);
    return q.submit([&](sycl::handler& h) {
        sycl::accessor acc(*buf, h, sycl::read_write);
        h.parallel_for<twidlTableGenC2CeSIMDcolBatchBuf<T>>(r, [=](sycl::item<2> it) {
            colbatch_entry<T>(&acc[0], std::int32_t(it[0]), std::int32_t(it[1]), fact1, fact0, c, scale);
        });
    });
}

template <typename T>
sycl::event esimd_2_facts_plan<T>::write_table(int s, int d, int mem_type, void* table) {
    const T scale = s == 0 ? (d == 0 ? fwd_scale : bwd_scale) : T(1);
    const esimd_stage& st = stages[s];
    if (std::is_same_v<T, float> && lengths[s] == 4096) {
        // Filled on the host from double-precision values, in the stage's
        // layout; no event is kept for it.
        const std::int64_t c = st.col_batch ? 8 : 1;
        const std::int64_t cols = st.col_batch ? st.fact1 : st.fact1p;
        const std::size_t count = std::size_t(2 * st.fact0 * cols * c);
        auto fill = [&](T* t) {
            for (std::int64_t r = 0; r < st.fact0; ++r)
                for (std::int64_t j = 0; j < cols; ++j) {
                    const double th = double(j) * double(2 * r) * (1.0 / (double(st.fact0) * st.fact1));
                    const T re = T(std::cos(M_PI * th) * double(scale));
                    const T im = T(std::sin(M_PI * th) * double(scale));
                    for (std::int64_t k = 0; k < c; ++k) {
                        t[2 * ((r * cols + j) * c + k)] = re;
                        t[2 * ((r * cols + j) * c + k) + 1] = im;
                    }
                }
        };
        if (mem_type == 0) {
            T* stage_area = static_cast<T*>(sycl::aligned_alloc_shared(alignof(T), count * sizeof(T), *queue));
            if (!stage_area)
                throw sycl::exception(sycl::make_error_code(sycl::errc::memory_allocation),
                                      "Cannot allocate the staging area of a twiddle table");
            try {
                fill(stage_area);
                queue->memcpy(table, stage_area, count * sizeof(T)).wait();
            } catch (...) {
                sycl::free(stage_area, *queue);
                throw;
            }
            sycl::free(stage_area, *queue);
        } else {
            sycl::host_accessor acc(*static_cast<sycl::buffer<T, 1>*>(table), sycl::read_write);
            fill(&acc[0]);
        }
        return sycl::event();
    }
    return st.col_batch ? init_colbatch_twiddles_on_device<T>(st.fact1, st.fact0, 8, scale, *queue, mem_type, table)
                        : init_twiddles_on_device<T>(st.fact0, st.fact1, int(st.fact1p), scale, *queue, mem_type, table);
}

template <typename T>
void esimd_2_facts_plan<T>::create_twiddle_table(int mem_type) {
    for (int s = 0; s < rank; ++s)
        for (int d = 0; d < 2; ++d) {
            void* table = mem_type == 0 ? static_cast<void*>(table_ptr[s][d]) : static_cast<void*>(table_buf[s][d]);
            const sycl::event e = write_table(s, d, mem_type, table);
            // A table filled from the host keeps no event.
            if (!(std::is_same_v<T, float> && lengths[s] == 4096)) events[std::size_t(d * rank + s)] = e;
        }
}

#define OVX_ESIMD_INSTANTIATE(T)                                                                                   \
    template class esimd_2_facts_plan<T>;                                                                          \
    template std::int64_t esimd_2_facts_launch_ranges<T>(std::vector<std::int64_t>, std::int64_t*, std::int64_t*); \
    template bool esimd_2_facts_applicable<T>(const std::vector<std::int64_t>&, std::int64_t, std::int64_t,       \
                                              std::int64_t, const std::int64_t*, const std::int64_t*);             \
    template esimd_stage esimd_2_facts_stage<T>(int, const std::vector<std::int64_t>&, std::int64_t, std::int64_t, \
                                                std::int64_t, std::int64_t, std::uint64_t, std::uint32_t);         \
    template std::int64_t esimd_2_facts_table_bytes<T>(const std::vector<std::int64_t>&, std::int64_t, std::int64_t, \
                                                       std::int64_t, const std::int64_t*, const std::int64_t*,       \
                                                       std::uint64_t, std::uint32_t);                                \
    template sycl::event init_twiddles_on_device<T>(int, int, int, T, sycl::queue&, int, void*);                   \
    template sycl::event init_colbatch_twiddles_on_device<T>(int, int, int, T, sycl::queue&, int, void*);
OVX_ESIMD_INSTANTIATE(float)
OVX_ESIMD_INSTANTIATE(double)

}  // namespace korami::ovx::dft
