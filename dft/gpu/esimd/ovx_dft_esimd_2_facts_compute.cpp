// Compute driver of the explicit-SIMD two-factor plan: per chunk of
// transforms one launch per stage, each after the one before; stage 0 reads
// the input and writes the output, later stages work in place on the output.
#include "ovx_dft_esimd_2_facts_kernels.hpp"

#include <algorithm>
#include <optional>

namespace korami::ovx::dft {

template <int dir, typename T>
sycl::event ovx_dft_gpu_dft_esimd_2_facts_compute(esimd_2_facts_plan<T>& plan, T* in, T* out,
                                                  std::vector<sycl::event>& deps) {
    sycl::event result;
    const std::int64_t n = plan.n_transforms, t = plan.transforms_per_launch, rank = plan.rank;
    if (n < 1) return result;
    bool first_launch = true;
    for (std::int64_t first = 0; first < n; first += t) {
        for (int s = 0; s < rank; ++s) {
            const T* stage_in = s == 0 ? in : out;
            const T* table = plan.table_ptr[s][dir];
            const std::int64_t u = plan.units[s] / t;
            const std::int64_t offset = u * first;
            const std::int64_t local = plan.local_size[s];
            const std::int64_t global = first + t > n ? (n - first) * local * u : plan.global_size[s];
            const sycl::event table_event = plan.events[std::size_t(dir * rank + s)];
            const std::vector<sycl::event> wait_for = first_launch ? deps : std::vector<sycl::event>{result};
            const bool cb = plan.col_batch[s];
            auto& bundle = *plan.bundles[s];
            result = plan.queue->submit([&](sycl::handler& h) {
                h.depends_on(wait_for);
                h.depends_on(table_event);
                h.use_kernel_bundle(bundle);
                const sycl::nd_range<1> r{sycl::range<1>(std::size_t(global)), sycl::range<1>(std::size_t(local))};
                if (cb)
                    h.parallel_for(r, ovx_dft_esimd_2_facts_kernel<T, dir, fft_algo::col_batch, false>{
                                          stage_in, table, out, offset});
                else
                    h.parallel_for(r, ovx_dft_esimd_2_facts_kernel<T, dir, fft_algo::rows, false>{stage_in, table,
                                                                                                  out, offset});
            });
            plan.note_launch(result);
            first_launch = false;
        }
    }
    return result;
}

std::uint64_t& esimd_buffer_window_threshold() {
    static std::uint64_t bytes = std::uint64_t(1) << 32;
    return bytes;
}

template <int dir, typename T>
sycl::event ovx_dft_gpu_dft_esimd_2_facts_compute(esimd_2_facts_plan<T>& plan, sycl::buffer<T, 1>& in,
                                                  sycl::buffer<T, 1>& out) {
    sycl::event result;
    const std::int64_t n = plan.n_transforms, t = plan.transforms_per_launch, rank = plan.rank;
    if (n < 1) return result;
    // The accessor forms of the kernels' loads and stores take 32-bit byte
    // offsets. In a larger buffer each chunk runs on sub-buffers that start
    // at its first transform, so that its offsets count from there.
    const bool windows = std::max(in.byte_size(), out.byte_size()) > esimd_buffer_window_threshold();
    const std::int64_t dist = dir == 0 ? plan.fwd_distance : plan.bwd_distance;
    for (std::int64_t first = 0; first < n; first += t) {
        std::optional<sycl::buffer<T, 1>> win_in, win_out;
        if (windows && first > 0) {
            const std::size_t at = std::size_t(2 * first * dist);
            win_out.emplace(out, sycl::id<1>(at), sycl::range<1>(out.size() - at));
            if (!(in == out)) win_in.emplace(in, sycl::id<1>(at), sycl::range<1>(in.size() - at));
        }
        sycl::buffer<T, 1>& chunk_out = win_out ? *win_out : out;
        sycl::buffer<T, 1>& chunk_in = win_in ? *win_in : win_out && in == out ? chunk_out : in;
        for (int s = 0; s < rank; ++s) {
            sycl::buffer<T, 1>& stage_in = s == 0 ? chunk_in : chunk_out;
            sycl::buffer<T, 1>& table = *plan.table_buf[s][dir];
            const std::int64_t u = plan.units[s] / t;
            const std::int64_t offset = win_out ? 0 : u * first;
            const std::int64_t local = plan.local_size[s];
            const std::int64_t global = first + t > n ? (n - first) * local * u : plan.global_size[s];
            const sycl::event table_event = plan.events[std::size_t(dir * rank + s)];
            const bool cb = plan.col_batch[s];
            auto& bundle = *plan.bundles[s];
            result = plan.queue->submit([&](sycl::handler& h) {
                h.depends_on(table_event);
                sycl::accessor<T, 1, sycl::access_mode::read> a_in(stage_in, h);
                sycl::accessor<T, 1, sycl::access_mode::read_write> a_out(chunk_out, h);
                sycl::accessor<T, 1, sycl::access_mode::read> a_tab(table, h);
                h.use_kernel_bundle(bundle);
                const sycl::nd_range<1> r{sycl::range<1>(std::size_t(global)), sycl::range<1>(std::size_t(local))};
                if (cb)
                    h.parallel_for(r, ovx_dft_esimd_2_facts_kernel<T, dir, fft_algo::col_batch, true>{
                                          a_in, a_tab, a_out, offset});
                else
                    h.parallel_for(r, ovx_dft_esimd_2_facts_kernel<T, dir, fft_algo::rows, true>{a_in, a_tab,
                                                                                                 a_out, offset});
            });
            plan.note_launch(result);
        }
    }
    return result;
}

#define OVX_ESIMD_COMPUTE(D, T)                                                                                     \
    template sycl::event ovx_dft_gpu_dft_esimd_2_facts_compute<D, T>(esimd_2_facts_plan<T>&, T*, T*,               \
                                                                     std::vector<sycl::event>&);                  \
    template sycl::event ovx_dft_gpu_dft_esimd_2_facts_compute<D, T>(esimd_2_facts_plan<T>&, sycl::buffer<T, 1>&, \
                                                                     sycl::buffer<T, 1>&);
OVX_ESIMD_COMPUTE(0, float)
OVX_ESIMD_COMPUTE(1, float)
OVX_ESIMD_COMPUTE(0, double)
OVX_ESIMD_COMPUTE(1, double)

}  // namespace korami::ovx::dft
