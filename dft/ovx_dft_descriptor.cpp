// The exported descriptor: construction, move, destruction, set_value and
// get_value, the DFT exceptions and the status mapping.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "dft/contract/ovx_dft_checked.hpp"
#include "dft/ovx_dft_internal.hpp"

namespace korami {
namespace ovx {
namespace dft {

// ---- exceptions -----------------------------------------------------------------

invalid_descriptor_exception::invalid_descriptor_exception(const std::string& f)
    : exception("dft", f, "FFT_INVALID_DESCRIPTOR") {}
uncommitted_descriptor_exception::uncommitted_descriptor_exception(const std::string& f)
    : exception("dft", f, "FFT_UNCOMMITTED_DESCRIPTOR") {}
no_workspace_exception::no_workspace_exception(const std::string& f) : exception("dft", f, "FFT_NO_WORKSPACE") {}
bad_descriptor_exception::bad_descriptor_exception(const std::string& f) : exception("dft", f, "FFT_BAD_DESCRIPTOR") {}
allocation_failed_exception::allocation_failed_exception(const std::string& f)
    : exception("dft", f, "FFT_ALLOCATION_FAILED") {}
unimplemented_exception::unimplemented_exception(const std::string& f) : unimplemented("dft", f, "FFT_UNIMPLEMENTED") {}
internal_error_exception::internal_error_exception(const std::string& f)
    : exception("dft", f, "FFT_INTERNAL_ERROR") {}

void throw_status(int status, const std::string& function) {
    switch (status) {
    case DFTI_STATUS_ALLOCATION_FAILED: throw allocation_failed_exception(function);
    case DFTI_STATUS_INVALID: throw uncommitted_descriptor_exception(function);
    case DFTI_STATUS_INCONSISTENT: throw invalid_descriptor_exception(function);
    case DFTI_STATUS_BAD_DESCRIPTOR: throw bad_descriptor_exception(function);
    case DFTI_STATUS_UNIMPLEMENTED: throw unimplemented_exception(function);
    case DFTI_STATUS_INTERNAL: throw internal_error_exception(function);
    case DFTI_STATUS_NO_WORKSPACE: throw no_workspace_exception(function);
    default: return;
    }
}

namespace detail {

void check_node(DFTI_DESCRIPTOR* node, const char* function) {
    if (!node) throw korami::ovx::uninitialized("dft", function, "the descriptor has been moved from");
}

// Default layout of a node (node order): contiguous data; for a real
// transform the complex side's innermost dimension holds n/2 + 1 values and
// the real side is padded to 2 * (n/2 + 1) in place.
void apply_default_strides(DFTI_DESCRIPTOR* n) {
    const bool real = n->forward_domain == DFTI_REAL;
    std::int64_t f = 1, b = 1;
    for (int i = 0; i < n->rank; ++i) {
        dfti_dim& d = n->user_dims.records[i];
        d.input_stride = d.output_stride = 0;
        d.fwd_stride = f;
        d.bwd_stride = b;
        if (real && i == 0) {
            std::int64_t h = d.length / 2 + 1;
            f *= n->placement == DFTI_INPLACE ? 2 * h : d.length;
            b *= h;
        } else {
            f *= d.length;
            b *= d.length;
        }
    }
    n->input_offset = n->output_offset = n->fwd_offset = n->bwd_offset = 0;
    n->flags |= kDefaultStrides;
}

}  // namespace detail

using detail::check_node;

// ---- life cycle ------------------------------------------------------------------

namespace {
void write_slot(sycl::buffer<void*, 1>& b, void* v) {
    auto acc = b.get_host_access();
    acc[0] = v;
}
}  // namespace

template <precision prec, domain dom>
descriptor<prec, dom>::descriptor(std::int64_t length) : descriptor(std::vector<std::int64_t>{length}) {}

template <precision prec, domain dom>
descriptor<prec, dom>::descriptor(std::vector<std::int64_t> lengths) : cpu_handles_(sycl::range<1>(1)) {
    write_slot(cpu_handles_, nullptr);
    const std::int64_t rank = static_cast<std::int64_t>(lengths.size());
    if (rank < 1 || rank > DFTI_MAX_RANK)
        throw invalid_argument("dft", "descriptor", "the number of lengths must be 1 to 7, not " + std::to_string(rank));
    for (std::int64_t l : lengths)
        if (l < 1) throw invalid_argument("dft", "descriptor", "every length must be at least 1, not " + std::to_string(l));
    // The default layout counts every element with 64-bit strides: the
    // product of the lengths (a real transform's innermost length padded to
    // 2 * (n/2 + 1)) must fit.
    std::int64_t elements = lengths.back();
    bool fits = dom == domain::COMPLEX || ovx_checked::mul(2, lengths.back() / 2 + 1, elements);
    for (std::int64_t i = rank - 2; i >= 0 && fits; --i)
        fits = ovx_checked::mul(elements, lengths[static_cast<std::size_t>(i)], elements);
    if (!fits)
        throw invalid_argument("dft", "descriptor", "the lengths hold more elements than a 64-bit count can address");
    const int d = dom == domain::COMPLEX ? DFTI_COMPLEX : DFTI_REAL;
    int st;
    if (prec == precision::DOUBLE)
        st = rank == 1 ? dfti_create_descriptor_d_1d(&node_, d, lengths[0])
                       : dfti_create_descriptor_d_md(&node_, d, rank, lengths.data());
    else
        st = rank == 1 ? dfti_create_descriptor_s_1d(&node_, d, lengths[0])
                       : dfti_create_descriptor_s_md(&node_, d, rank, lengths.data());
    if (st == DFTI_STATUS_ALLOCATION_FAILED) throw host_bad_alloc("dft", "descriptor");
    if (st || !node_) throw invalid_argument("dft", "descriptor", "the transform cannot be described");
    detail::apply_default_strides(node_);
    auto* pair = new (std::nothrow) SYCL_DFTI_DESCRIPTOR{nullptr, nullptr};
    if (!pair) {
        dfti_free_descriptor(&node_);
        throw host_bad_alloc("dft", "descriptor");
    }
    write_slot(cpu_handles_, pair);
}

template <precision prec, domain dom>
descriptor<prec, dom>::descriptor(descriptor&& other) : node_(other.node_), cpu_handles_(other.cpu_handles_) {
    other.node_ = nullptr;
    other.cpu_handles_ = sycl::buffer<void*, 1>(sycl::range<1>(1));
    write_slot(other.cpu_handles_, nullptr);
}

template <precision prec, domain dom>
descriptor<prec, dom>& descriptor<prec, dom>::operator=(descriptor&& other) {
    if (this != &other) {
        std::swap(node_, other.node_);
        std::swap(cpu_handles_, other.cpu_handles_);
    }
    return *this;
}

template <precision prec, domain dom>
descriptor<prec, dom>::~descriptor() {
    try {
        detail::release_cpu_handles(cpu_handles_, true);
    } catch (...) {
    }
    if (node_) {
        detail::quiesce(node_);
        dfti_free_descriptor(&node_);
    }
}

// ---- set_value ---------------------------------------------------------------------

namespace {

const char* param_name(config_param p) {
    switch (p) {
    case config_param::FORWARD_DOMAIN: return "FORWARD_DOMAIN";
    case config_param::DIMENSION: return "DIMENSION";
    case config_param::LENGTHS: return "LENGTHS";
    case config_param::PRECISION: return "PRECISION";
    case config_param::FORWARD_SCALE: return "FORWARD_SCALE";
    case config_param::BACKWARD_SCALE: return "BACKWARD_SCALE";
    case config_param::NUMBER_OF_TRANSFORMS: return "NUMBER_OF_TRANSFORMS";
    case config_param::COMPLEX_STORAGE: return "COMPLEX_STORAGE";
    case config_param::REAL_STORAGE: return "REAL_STORAGE";
    case config_param::CONJUGATE_EVEN_STORAGE: return "CONJUGATE_EVEN_STORAGE";
    case config_param::PLACEMENT: return "PLACEMENT";
    case config_param::INPUT_STRIDES: return "INPUT_STRIDES";
    case config_param::OUTPUT_STRIDES: return "OUTPUT_STRIDES";
    case config_param::FWD_DISTANCE: return "FWD_DISTANCE";
    case config_param::BWD_DISTANCE: return "BWD_DISTANCE";
    case config_param::PACKED_FORMAT: return "PACKED_FORMAT";
    case config_param::COMMIT_STATUS: return "COMMIT_STATUS";
    case config_param::FWD_STRIDES: return "FWD_STRIDES";
    case config_param::BWD_STRIDES: return "BWD_STRIDES";
    case config_param::WORKSPACE_PLACEMENT: return "WORKSPACE_PLACEMENT";
    case config_param::WORKSPACE_EXTERNAL_BYTES: return "WORKSPACE_EXTERNAL_BYTES";
    }
    return nullptr;
}

[[noreturn]] void refuse(const char* function, const std::string& msg) { throw invalid_argument("dft", function, msg); }

std::string pname(config_param p) {
    const char* n = param_name(p);
    return n ? std::string(n) : "parameter " + std::to_string(static_cast<int>(p));
}

// Marks the node uncommitted (releasing a GPU binding) before a change.
void change(DFTI_DESCRIPTOR* n) {
    detail::quiesce(n);
    dfti_node_ops::uncommit(n);
}

}  // namespace

template <precision prec, domain dom>
void descriptor<prec, dom>::set_value_impl(config_param param, const detail::set_arg& v) {
    const char* fn = "set_value";
    check_node(node_, fn);
    DFTI_DESCRIPTOR* n = node_;
    const std::string name = pname(param);
    auto need = [&](detail::set_arg::kind_t k, const char* what) {
        if (v.kind != k) refuse(fn, name + " requires " + what);
        if (v.above_int64)
            refuse(fn, name + (param == config_param::NUMBER_OF_TRANSFORMS ? " must be at least 1 and" : " must be") +
                           " at most " + std::to_string(INT64_MAX) + ": the value given is out of range");
    };
    auto need_value = [&](std::initializer_list<config_value> allowed) -> std::int32_t {
        need(detail::set_arg::value, "a config_value");
        for (config_value a : allowed)
            if (a == v.v) return static_cast<std::int32_t>(v.v);
        refuse(fn, "value " + std::to_string(static_cast<int>(v.v)) + " is not accepted for " + name);
    };
    auto set_field = [&](std::int32_t& field, std::int32_t value) {
        if (field != value) {
            change(n);
            field = value;
        }
    };
    switch (param) {
    case config_param::FORWARD_DOMAIN:
    case config_param::DIMENSION:
    case config_param::LENGTHS:
    case config_param::PRECISION:
    case config_param::COMMIT_STATUS:
    case config_param::WORKSPACE_EXTERNAL_BYTES:
        refuse(fn, name + " is read-only");
    case config_param::FORWARD_SCALE:
    case config_param::BACKWARD_SCALE: {
        need(detail::set_arg::floating, "a float or double value");
        if (!std::isfinite(v.d)) refuse(fn, name + " must be a finite value");
        double& f = param == config_param::FORWARD_SCALE ? n->forward_scale : n->backward_scale;
        if (f != v.d) {
            change(n);
            f = v.d;
        }
        return;
    }
    case config_param::NUMBER_OF_TRANSFORMS: {
        need(detail::set_arg::integer, "an integer value");
        if (v.i < 1) refuse(fn, name + " must be at least 1, not " + std::to_string(v.i));
        if (n->user_batch.records[0].length != v.i) {
            change(n);
            n->user_batch.records[0].length = v.i;
        }
        return;
    }
    case config_param::FWD_DISTANCE:
    case config_param::BWD_DISTANCE: {
        need(detail::set_arg::integer, "an integer value");
        if (v.i < 0) refuse(fn, name + " must not be negative, not " + std::to_string(v.i));
        std::int64_t& f = param == config_param::FWD_DISTANCE ? n->user_batch.records[0].fwd_stride
                                                               : n->user_batch.records[0].bwd_stride;
        if (f != v.i) {
            change(n);
            f = v.i;
        }
        return;
    }
    case config_param::COMPLEX_STORAGE:
        set_field(n->complex_storage, need_value({config_value::COMPLEX_COMPLEX, config_value::REAL_REAL}));
        return;
    case config_param::REAL_STORAGE:
        set_field(n->real_storage, need_value({config_value::REAL_REAL}));
        return;
    case config_param::CONJUGATE_EVEN_STORAGE:
        set_field(n->conjugate_even_storage, need_value({config_value::COMPLEX_COMPLEX}));
        return;
    case config_param::PACKED_FORMAT:
        set_field(n->packed_format, need_value({config_value::CCE_FORMAT}));
        return;
    case config_param::PLACEMENT: {
        std::int32_t p = need_value({config_value::INPLACE, config_value::NOT_INPLACE});
        set_field(n->placement, p);
        // The default padding of a real transform follows the placement.
        if (n->flags & detail::kDefaultStrides) detail::apply_default_strides(n);
        return;
    }
    case config_param::WORKSPACE_PLACEMENT: {
        std::int32_t p = need_value({config_value::WORKSPACE_AUTOMATIC, config_value::WORKSPACE_EXTERNAL});
        std::uint32_t internal = p == static_cast<std::int32_t>(config_value::WORKSPACE_AUTOMATIC) ? 1 : 0;
        if (n->internal_workspace != internal) {
            change(n);
            n->internal_workspace = internal;
        }
        return;
    }
    case config_param::INPUT_STRIDES:
    case config_param::OUTPUT_STRIDES:
    case config_param::FWD_STRIDES:
    case config_param::BWD_STRIDES: {
        const std::int64_t* s = nullptr;
        if (v.kind == detail::set_arg::vector) {
            if (static_cast<std::int64_t>(v.vec->size()) != n->rank + 1)
                refuse(fn, name + " requires " + std::to_string(n->rank + 1) + " values (offset and one stride per dimension), not " +
                               std::to_string(v.vec->size()));
            s = v.vec->data();
        } else if (v.kind == detail::set_arg::pointer) {
            if (!v.ptr) refuse(fn, name + " was given a null pointer");
            s = v.ptr;
        } else {
            refuse(fn, name + " requires a std::vector<std::int64_t> or a std::int64_t pointer");
        }
        for (int i = 0; i <= n->rank; ++i)
            if (s[i] < 0) refuse(fn, name + " values must not be negative");
        // Node order: the offset, then the innermost dimension first.
        std::int64_t node_order[DFTI_MAX_RANK + 1];
        node_order[0] = s[0];
        for (int i = 0; i < n->rank; ++i) node_order[i + 1] = s[n->rank - i];
        // The first explicit layout replaces the defaults: strides that were
        // only defaults of the other pair stay as they are, and a later
        // placement change no longer rewrites them.
        n->flags &= ~detail::kDefaultStrides;
        std::int64_t dfti_dim::*field = param == config_param::INPUT_STRIDES    ? &dfti_dim::input_stride
                                        : param == config_param::OUTPUT_STRIDES ? &dfti_dim::output_stride
                                        : param == config_param::FWD_STRIDES    ? &dfti_dim::fwd_stride
                                                                                : &dfti_dim::bwd_stride;
        std::int64_t& offset = param == config_param::INPUT_STRIDES    ? n->input_offset
                               : param == config_param::OUTPUT_STRIDES ? n->output_offset
                               : param == config_param::FWD_STRIDES    ? n->fwd_offset
                                                                       : n->bwd_offset;
        // Only a changed layout marks the node uncommitted.
        bool same = offset == node_order[0];
        for (int i = 0; i < n->rank && same; ++i) same = n->user_dims.records[i].*field == node_order[i + 1];
        if (same) return;
        change(n);
        dfti_node_ops::set_strides(n, node_order, field, offset);
        return;
    }
    }
    refuse(fn, "unknown configuration parameter " + std::to_string(static_cast<int>(param)));
}

// ---- get_value ---------------------------------------------------------------------

template <precision prec, domain dom>
void descriptor<prec, dom>::get_value_impl(config_param param, const detail::get_arg& out) const {
    const char* fn = "get_value";
    check_node(node_, fn);
    DFTI_DESCRIPTOR* n = node_;
    const std::string name = pname(param);
    if (!out.p) refuse(fn, name + " was given a null destination");
    auto need = [&](detail::get_arg::kind_t k, const char* what) {
        if (out.kind != k) refuse(fn, name + " is read into " + what);
    };
    auto put_i = [&](std::int64_t x) {
        need(detail::get_arg::int64, "a std::int64_t");
        *static_cast<std::int64_t*>(out.p) = x;
    };
    auto put_v = [&](std::int32_t x) {
        need(detail::get_arg::value, "a config_value");
        *static_cast<config_value*>(out.p) = static_cast<config_value>(x);
    };
    auto put_vec = [&](std::int64_t first, std::int64_t dfti_dim::*f, bool lengths) {
        std::vector<std::int64_t> r;
        if (!lengths) r.push_back(first);
        for (int i = n->rank - 1; i >= 0; --i) r.push_back(n->user_dims.records[i].*f);
        if (out.kind == detail::get_arg::vector) *static_cast<std::vector<std::int64_t>*>(out.p) = r;
        else if (out.kind == detail::get_arg::int64) std::copy(r.begin(), r.end(), static_cast<std::int64_t*>(out.p));
        else refuse(fn, name + " is read into a std::vector<std::int64_t> or a std::int64_t array");
    };
    switch (param) {
    case config_param::FORWARD_DOMAIN:
        need(detail::get_arg::dom, "a domain");
        *static_cast<domain*>(out.p) = dom;
        return;
    case config_param::PRECISION:
        need(detail::get_arg::prec, "a precision");
        *static_cast<precision*>(out.p) = prec;
        return;
    case config_param::DIMENSION: put_i(n->rank); return;
    case config_param::LENGTHS: put_vec(0, &dfti_dim::length, true); return;
    case config_param::FORWARD_SCALE:
    case config_param::BACKWARD_SCALE: {
        double s = param == config_param::FORWARD_SCALE ? n->forward_scale : n->backward_scale;
        if (out.kind == detail::get_arg::f32) *static_cast<float*>(out.p) = static_cast<float>(s);
        else if (out.kind == detail::get_arg::f64) *static_cast<double*>(out.p) = s;
        else refuse(fn, name + " is read into a float or a double");
        return;
    }
    case config_param::NUMBER_OF_TRANSFORMS: put_i(n->user_batch.records[0].length); return;
    case config_param::FWD_DISTANCE: put_i(n->user_batch.records[0].fwd_stride); return;
    case config_param::BWD_DISTANCE: put_i(n->user_batch.records[0].bwd_stride); return;
    case config_param::COMPLEX_STORAGE: put_v(n->complex_storage); return;
    case config_param::REAL_STORAGE: put_v(n->real_storage); return;
    case config_param::CONJUGATE_EVEN_STORAGE: put_v(n->conjugate_even_storage); return;
    case config_param::PACKED_FORMAT: put_v(n->packed_format); return;
    case config_param::PLACEMENT: put_v(n->placement); return;
    case config_param::COMMIT_STATUS:
        put_v(n->commit_status == DFTI_COMMITTED ? DFTI_COMMITTED : DFTI_UNCOMMITTED);
        return;
    case config_param::WORKSPACE_PLACEMENT:
        put_v(static_cast<std::int32_t>(n->internal_workspace ? config_value::WORKSPACE_AUTOMATIC
                                                              : config_value::WORKSPACE_EXTERNAL));
        return;
    case config_param::INPUT_STRIDES: put_vec(n->input_offset, &dfti_dim::input_stride, false); return;
    case config_param::OUTPUT_STRIDES: put_vec(n->output_offset, &dfti_dim::output_stride, false); return;
    case config_param::FWD_STRIDES: put_vec(n->fwd_offset, &dfti_dim::fwd_stride, false); return;
    case config_param::BWD_STRIDES: put_vec(n->bwd_offset, &dfti_dim::bwd_stride, false); return;
    case config_param::WORKSPACE_EXTERNAL_BYTES: {
        need(detail::get_arg::int64, "a std::int64_t");
        *static_cast<std::int64_t*>(out.p) = detail::workspace_bytes<real_scalar_t>(n);
        return;
    }
    }
    refuse(fn, "unknown configuration parameter " + std::to_string(static_cast<int>(param)));
}

template class descriptor<precision::SINGLE, domain::COMPLEX>;
template class descriptor<precision::SINGLE, domain::REAL>;
template class descriptor<precision::DOUBLE, domain::COMPLEX>;
template class descriptor<precision::DOUBLE, domain::REAL>;

}  // namespace dft
}  // namespace ovx
}  // namespace korami
