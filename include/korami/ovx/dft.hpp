// Discrete Fourier transforms of the korami ovx library.
//
//   korami::ovx::dft::descriptor<precision::SINGLE, domain::COMPLEX> desc(1024);
//   desc.set_value(config_param::BACKWARD_SCALE, 1.0f / 1024);
//   desc.commit(queue);
//   sycl::event e = korami::ovx::dft::compute_forward(desc, usm_data);
//
// A descriptor describes a transform (lengths, batch, layout, scales); commit
// binds it to a queue. On a GPU queue the library plans the transform with its
// own GPU backends; on any other queue the vendor CPU transform library runs it
// in host tasks. Failures are reported by exceptions (korami/ovx/exceptions.hpp
// and the DFT exceptions below).
//
// Layout conventions: lengths are given outermost first. A stride vector has
// rank + 1 elements: the offset, then the stride of each dimension in the
// order of the lengths. Strides, distances and offsets count elements of the
// array's own type (real elements on the real side of a real transform,
// complex elements on the complex side). Real transforms store the complex
// side in the conjugate-even layout: the last (fastest) dimension holds
// n/2 + 1 complex values.
//
// Defaults: forward and backward strides describe contiguous data; for a real
// transform in place the real side of the last dimension is padded to
// 2 * (n/2 + 1) elements, out of place it is n. A batch of more than one
// transform needs FWD_DISTANCE and BWD_DISTANCE. INPUT_STRIDES and
// OUTPUT_STRIDES, when set, take precedence over FWD_STRIDES and BWD_STRIDES
// (the input of the forward transform is the forward domain, of the backward
// transform the backward domain).
//
// Commit refuses (invalid_argument, naming the parameter) a layout whose
// extent in bytes does not fit 64 bits, an output stride of 0 along a
// dimension of more than one point or an output distance of 0 between more
// than one transform, and a complex transform in place whose forward and
// backward layouts (or input and output layouts, when both are given) differ:
// in place, each result is written where its input was read.
#ifndef KORAMI_OVX_DFT_HPP
#define KORAMI_OVX_DFT_HPP

#include <complex>
#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include <sycl/sycl.hpp>

#include "korami/ovx/exceptions.hpp"

struct DFTI_DESCRIPTOR;

namespace korami {
namespace ovx {
namespace dft {

enum class precision { SINGLE = 35, DOUBLE = 36 };
enum class domain { COMPLEX = 32, REAL = 33 };

// Configuration parameters read and written by set_value and get_value.
enum class config_param {
    FORWARD_DOMAIN = 0,           // get: domain*                       (read-only)
    DIMENSION = 1,                // get: std::int64_t*                 (read-only)
    LENGTHS = 2,                  // get: std::vector<std::int64_t>* or std::int64_t[rank] (read-only)
    PRECISION = 3,                // get: precision*                    (read-only)
    FORWARD_SCALE = 4,            // float or double
    BACKWARD_SCALE = 5,           // float or double
    NUMBER_OF_TRANSFORMS = 7,     // integer >= 1
    COMPLEX_STORAGE = 8,          // COMPLEX_COMPLEX or REAL_REAL (split real and imaginary arrays)
    REAL_STORAGE = 9,             // REAL_REAL
    CONJUGATE_EVEN_STORAGE = 10,  // COMPLEX_COMPLEX
    PLACEMENT = 11,               // INPLACE or NOT_INPLACE
    INPUT_STRIDES = 12,           // std::vector<std::int64_t> or const std::int64_t* (rank + 1 values)
    OUTPUT_STRIDES = 13,
    FWD_DISTANCE = 14,            // integer >= 0
    BWD_DISTANCE = 15,            // integer >= 0
    PACKED_FORMAT = 21,           // CCE_FORMAT
    COMMIT_STATUS = 22,           // get: config_value* (COMMITTED / UNCOMMITTED) (read-only)
    FWD_STRIDES = 60,             // as INPUT_STRIDES
    BWD_STRIDES = 61,
    WORKSPACE_PLACEMENT = 62,     // WORKSPACE_AUTOMATIC or WORKSPACE_EXTERNAL
    WORKSPACE_EXTERNAL_BYTES = 63,  // get: std::int64_t* (read-only)
};

enum class config_value {
    COMMITTED = 30,
    UNCOMMITTED = 31,
    COMPLEX_COMPLEX = 39,
    REAL_REAL = 42,
    INPLACE = 43,
    NOT_INPLACE = 44,
    CCE_FORMAT = 57,
    WORKSPACE_AUTOMATIC = 70,
    WORKSPACE_EXTERNAL = 71,
};

// ---- DFT exceptions ------------------------------------------------------------------
// Raised for the internal statuses of commit, compute and set_workspace; each
// carries a fixed text (the message is "korami::ovx::dft::<function>: <text>").

class invalid_descriptor_exception : public korami::ovx::exception {
public:
    explicit invalid_descriptor_exception(const std::string& function);
};
class uncommitted_descriptor_exception : public korami::ovx::exception {
public:
    explicit uncommitted_descriptor_exception(const std::string& function);
};
class no_workspace_exception : public korami::ovx::exception {
public:
    explicit no_workspace_exception(const std::string& function);
};
class bad_descriptor_exception : public korami::ovx::exception {
public:
    explicit bad_descriptor_exception(const std::string& function);
};
class allocation_failed_exception : public korami::ovx::exception {
public:
    explicit allocation_failed_exception(const std::string& function);
};
class unimplemented_exception : public korami::ovx::unimplemented {
public:
    explicit unimplemented_exception(const std::string& function);
};
class internal_error_exception : public korami::ovx::exception {
public:
    explicit internal_error_exception(const std::string& function);
};

// Raises the exception of an internal status: DFTI_STATUS_ALLOCATION_FAILED
// (1) allocation_failed_exception, DFTI_STATUS_UNCOMMITTED_DESCRIPTOR (2)
// uncommitted_descriptor_exception, DFTI_STATUS_INVALID_DESCRIPTOR (3)
// invalid_descriptor_exception, DFTI_STATUS_BAD_DESCRIPTOR (5)
// bad_descriptor_exception, DFTI_STATUS_UNIMPLEMENTED (6)
// unimplemented_exception, DFTI_STATUS_INTERNAL (7) internal_error_exception,
// DFTI_STATUS_NO_WORKSPACE (11) no_workspace_exception; any other status
// raises nothing.
void throw_status(int status, const std::string& function);

template <precision prec, domain dom>
class descriptor;

namespace detail {

// The node of a descriptor (for the library's own code and tests; defined in
// the library's internal header).
template <precision prec, domain dom>
DFTI_DESCRIPTOR* descriptor_node(const descriptor<prec, dom>& desc);

// A value handed to set_value, with its kind.
struct set_arg {
    enum kind_t { integer, floating, value, vector, pointer, other } kind;
    std::int64_t i = 0;
    bool above_int64 = false;  // an unsigned integer above INT64_MAX (i is then -1)
    double d = 0;
    bool is_float = false;
    config_value v = config_value::COMMITTED;
    const std::vector<std::int64_t>* vec = nullptr;
    const std::int64_t* ptr = nullptr;
};
template <typename T>
set_arg make_set_arg(const T& x) {
    set_arg a{set_arg::other};
    using U = std::decay_t<T>;
    if constexpr (std::is_same_v<U, bool>) {
        a.kind = set_arg::other;
    } else if constexpr (std::is_integral_v<U>) {
        a.kind = set_arg::integer;
        if constexpr (std::is_unsigned_v<U> && sizeof(U) >= sizeof(std::int64_t)) {
            a.above_int64 = x > static_cast<U>(INT64_MAX);
            a.i = a.above_int64 ? -1 : static_cast<std::int64_t>(x);
        } else {
            a.i = static_cast<std::int64_t>(x);
        }
    } else if constexpr (std::is_same_v<U, float> || std::is_same_v<U, double>) {
        a.kind = set_arg::floating;
        a.d = x;
        a.is_float = std::is_same_v<U, float>;
    } else if constexpr (std::is_same_v<U, config_value>) {
        a.kind = set_arg::value;
        a.v = x;
    } else if constexpr (std::is_same_v<U, std::vector<std::int64_t>>) {
        a.kind = set_arg::vector;
        a.vec = &x;
    } else if constexpr (std::is_same_v<U, std::int64_t*> || std::is_same_v<U, const std::int64_t*>) {
        a.kind = set_arg::pointer;
        a.ptr = x;
    }
    return a;
}

// A destination handed to get_value, with its kind.
struct get_arg {
    enum kind_t { int64, f32, f64, value, vector, prec, dom, other } kind;
    void* p;
};
template <typename T>
get_arg make_get_arg(T* p) {
    using U = std::remove_cv_t<T>;
    get_arg::kind_t k = get_arg::other;
    if constexpr (std::is_same_v<U, std::int64_t>) k = get_arg::int64;
    else if constexpr (std::is_same_v<U, float>) k = get_arg::f32;
    else if constexpr (std::is_same_v<U, double>) k = get_arg::f64;
    else if constexpr (std::is_same_v<U, config_value>) k = get_arg::value;
    else if constexpr (std::is_same_v<U, std::vector<std::int64_t>>) k = get_arg::vector;
    else if constexpr (std::is_same_v<U, precision>) k = get_arg::prec;
    else if constexpr (std::is_same_v<U, domain>) k = get_arg::dom;
    return get_arg{k, const_cast<void*>(static_cast<const void*>(p))};
}

}  // namespace detail

template <precision prec, domain dom>
class descriptor {
public:
    using real_scalar_t = std::conditional_t<prec == precision::DOUBLE, double, float>;

    // A one-dimensional transform of `length` points.
    explicit descriptor(std::int64_t length);
    // A transform of rank lengths.size() (1 to 7), lengths outermost first.
    explicit descriptor(std::vector<std::int64_t> lengths);
    // The new descriptor takes the other's transform; the other is left
    // without one (every use throws) until a descriptor is moved into it.
    descriptor(descriptor&& other);
    // Exchanges the transforms of the two descriptors.
    descriptor& operator=(descriptor&& other);
    descriptor(const descriptor&) = delete;
    descriptor& operator=(const descriptor&) = delete;
    ~descriptor();

    template <typename... Types>
    void set_value(config_param param, Types... args) {
        static_assert(sizeof...(Types) == 1, "set_value takes exactly one value");
        set_value_impl(param, detail::make_set_arg(args...));
    }
    template <typename T>
    void get_value(config_param param, T* value) const {
        get_value_impl(param, detail::make_get_arg(value));
    }

    // Binds the descriptor to the queue (GPU: plans the transform; other
    // devices: builds the CPU transform in a host task and waits for it).
    void commit(sycl::queue& queue);
    // Binds a caller's workspace (WORKSPACE_EXTERNAL) of at least
    // WORKSPACE_EXTERNAL_BYTES bytes to a descriptor committed on a GPU queue.
    void set_workspace(real_scalar_t* usm_workspace);
    void set_workspace(sycl::buffer<real_scalar_t, 1>& buffer_workspace);

    // Used by compute_forward and compute_backward (direction 0 forward,
    // 1 backward; `out` null for the in-place forms).
    sycl::event compute_usm(int direction, void* in, void* out, const std::vector<sycl::event>& deps,
                            const char* function);
    void compute_buffer(int direction, sycl::buffer<char, 1>& in, sycl::buffer<char, 1>* out,
                        const char* function);

private:
    template <precision p2, domain d2>
    friend DFTI_DESCRIPTOR* detail::descriptor_node(const descriptor<p2, d2>& desc);
    void set_value_impl(config_param param, const detail::set_arg& value);
    void get_value_impl(config_param param, const detail::get_arg& value) const;
    DFTI_DESCRIPTOR* node_ = nullptr;
    // One element: the address of the SYCL_DFTI_DESCRIPTOR pair of CPU
    // handles. Host tasks of commit and compute access it, which orders them.
    sycl::buffer<void*, 1> cpu_handles_;
};

extern template class descriptor<precision::SINGLE, domain::COMPLEX>;
extern template class descriptor<precision::SINGLE, domain::REAL>;
extern template class descriptor<precision::DOUBLE, domain::COMPLEX>;
extern template class descriptor<precision::DOUBLE, domain::REAL>;

namespace detail {
template <typename T>
sycl::buffer<char, 1> as_bytes(sycl::buffer<T, 1>& b) {
    return b.template reinterpret<char, 1>(sycl::range<1>(b.byte_size()));
}
}  // namespace detail

// ---- compute ----------------------------------------------------------------------
// Defined and exported by the library for every valid pair: a single-precision
// descriptor with float or std::complex<float> data, a double-precision one
// with double or std::complex<double> data, in place and out of place. Real
// scalars address interleaved complex data on the complex side.

// USM forms: return the event of the transform.
template <typename descriptor_type, typename data_type>
sycl::event compute_forward(descriptor_type& desc, data_type* inout,
                            const std::vector<sycl::event>& dependencies = {});
template <typename descriptor_type, typename input_type, typename output_type>
sycl::event compute_forward(descriptor_type& desc, input_type* in, output_type* out,
                            const std::vector<sycl::event>& dependencies = {});
template <typename descriptor_type, typename data_type>
sycl::event compute_backward(descriptor_type& desc, data_type* inout,
                             const std::vector<sycl::event>& dependencies = {});
template <typename descriptor_type, typename input_type, typename output_type>
sycl::event compute_backward(descriptor_type& desc, input_type* in, output_type* out,
                             const std::vector<sycl::event>& dependencies = {});

// Buffer forms: ordered by the buffers' accessors.
template <typename descriptor_type, typename data_type>
void compute_forward(descriptor_type& desc, sycl::buffer<data_type, 1>& inout);
template <typename descriptor_type, typename input_type, typename output_type>
void compute_forward(descriptor_type& desc, sycl::buffer<input_type, 1>& in, sycl::buffer<output_type, 1>& out);
template <typename descriptor_type, typename data_type>
void compute_backward(descriptor_type& desc, sycl::buffer<data_type, 1>& inout);
template <typename descriptor_type, typename input_type, typename output_type>
void compute_backward(descriptor_type& desc, sycl::buffer<input_type, 1>& in, sycl::buffer<output_type, 1>& out);

}  // namespace dft
}  // namespace ovx
}  // namespace korami

#endif
