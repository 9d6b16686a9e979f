// The descriptor API: set_value and get_value with every refusal, defaults,
// uncommit on change, move semantics and reuse of a moved-from descriptor,
// the status-to-exception mapping, commit, compute and set_workspace
// refusals on a CPU queue, and the verbose line of a compute call.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include <ovx_serv.h>

#include "korami/ovx/dft.hpp"

namespace dft = korami::ovx::dft;
using dft::config_param;
using dft::config_value;

namespace {

using cdesc = dft::descriptor<dft::precision::SINGLE, dft::domain::COMPLEX>;
using rdesc = dft::descriptor<dft::precision::DOUBLE, dft::domain::REAL>;

sycl::queue& cpu_queue() {
    static sycl::queue q{sycl::cpu_selector_v};
    return q;
}

template <typename E>
bool is_a(const std::exception& e) {
    return dynamic_cast<const E*>(&e) != nullptr;
}

template <typename E, typename F>
std::string thrown_message(F&& f) {
    try {
        f();
    } catch (const E& e) {
        return e.what();
    } catch (const std::exception& e) {
        return std::string("unexpected exception: ") + e.what();
    }
    return "nothing thrown";
}

// ---- set_value refusals ----------------------------------------------------------------

struct refusal {
    const char* name;
    std::function<void(cdesc&)> call;
    const char* message;  // part of the exception text
};

class SetValueRefusal : public ::testing::TestWithParam<refusal> {};

TEST_P(SetValueRefusal, InvalidArgumentWithMessage) {
    const refusal& r = GetParam();
    cdesc d(std::vector<std::int64_t>{8, 4});
    std::string msg = thrown_message<korami::ovx::invalid_argument>([&] { r.call(d); });
    EXPECT_NE(msg.find("korami::ovx::dft::set_value: invalid argument: "), std::string::npos) << msg;
    EXPECT_NE(msg.find(r.message), std::string::npos) << msg;
    config_value status;
    d.get_value(config_param::COMMIT_STATUS, &status);
    EXPECT_EQ(status, config_value::UNCOMMITTED);
}

const std::vector<std::int64_t> three{0, 4, 1}, two{0, 1}, negative{0, -4, 1};
const std::int64_t raw_strides[3] = {0, 4, 1};

INSTANTIATE_TEST_SUITE_P(
    Table, SetValueRefusal,
    ::testing::Values(
        refusal{"domain_read_only", [](cdesc& d) { d.set_value(config_param::FORWARD_DOMAIN, config_value::COMMITTED); }, "FORWARD_DOMAIN is read-only"},
        refusal{"dimension_read_only", [](cdesc& d) { d.set_value(config_param::DIMENSION, std::int64_t{2}); }, "DIMENSION is read-only"},
        refusal{"lengths_read_only", [](cdesc& d) { d.set_value(config_param::LENGTHS, three); }, "LENGTHS is read-only"},
        refusal{"precision_read_only", [](cdesc& d) { d.set_value(config_param::PRECISION, 1); }, "PRECISION is read-only"},
        refusal{"status_read_only", [](cdesc& d) { d.set_value(config_param::COMMIT_STATUS, config_value::COMMITTED); }, "COMMIT_STATUS is read-only"},
        refusal{"bytes_read_only", [](cdesc& d) { d.set_value(config_param::WORKSPACE_EXTERNAL_BYTES, 1); }, "WORKSPACE_EXTERNAL_BYTES is read-only"},
        refusal{"scale_integer", [](cdesc& d) { d.set_value(config_param::FORWARD_SCALE, 2); }, "FORWARD_SCALE requires a float or double"},
        refusal{"scale_nan", [](cdesc& d) { d.set_value(config_param::BACKWARD_SCALE, std::nan("")); }, "BACKWARD_SCALE must be a finite value"},
        refusal{"scale_inf", [](cdesc& d) { d.set_value(config_param::FORWARD_SCALE, HUGE_VALF); }, "must be a finite value"},
        refusal{"transforms_float", [](cdesc& d) { d.set_value(config_param::NUMBER_OF_TRANSFORMS, 2.0); }, "NUMBER_OF_TRANSFORMS requires an integer"},
        refusal{"transforms_zero", [](cdesc& d) { d.set_value(config_param::NUMBER_OF_TRANSFORMS, 0); }, "must be at least 1, not 0"},
        refusal{"transforms_bool", [](cdesc& d) { d.set_value(config_param::NUMBER_OF_TRANSFORMS, true); }, "requires an integer"},
        refusal{"transforms_huge_unsigned", [](cdesc& d) { d.set_value(config_param::NUMBER_OF_TRANSFORMS, ~std::uint64_t{0}); }, "must be at least 1"},
        refusal{"distance_negative", [](cdesc& d) { d.set_value(config_param::FWD_DISTANCE, -1); }, "FWD_DISTANCE must not be negative"},
        refusal{"distance_value", [](cdesc& d) { d.set_value(config_param::BWD_DISTANCE, config_value::INPLACE); }, "BWD_DISTANCE requires an integer"},
        refusal{"placement_integer", [](cdesc& d) { d.set_value(config_param::PLACEMENT, 43); }, "PLACEMENT requires a config_value"},
        refusal{"placement_value", [](cdesc& d) { d.set_value(config_param::PLACEMENT, config_value::CCE_FORMAT); }, "is not accepted for PLACEMENT"},
        refusal{"complex_storage", [](cdesc& d) { d.set_value(config_param::COMPLEX_STORAGE, config_value::INPLACE); }, "is not accepted for COMPLEX_STORAGE"},
        refusal{"real_storage", [](cdesc& d) { d.set_value(config_param::REAL_STORAGE, config_value::COMPLEX_COMPLEX); }, "is not accepted for REAL_STORAGE"},
        refusal{"ce_storage", [](cdesc& d) { d.set_value(config_param::CONJUGATE_EVEN_STORAGE, config_value::REAL_REAL); }, "is not accepted for CONJUGATE_EVEN_STORAGE"},
        refusal{"packed_format", [](cdesc& d) { d.set_value(config_param::PACKED_FORMAT, config_value::INPLACE); }, "is not accepted for PACKED_FORMAT"},
        refusal{"workspace_placement", [](cdesc& d) { d.set_value(config_param::WORKSPACE_PLACEMENT, config_value::INPLACE); }, "is not accepted for WORKSPACE_PLACEMENT"},
        refusal{"strides_size", [](cdesc& d) { d.set_value(config_param::INPUT_STRIDES, two); }, "INPUT_STRIDES requires 3 values"},
        refusal{"strides_negative", [](cdesc& d) { d.set_value(config_param::FWD_STRIDES, negative); }, "FWD_STRIDES values must not be negative"},
        refusal{"strides_null", [](cdesc& d) { d.set_value(config_param::OUTPUT_STRIDES, static_cast<const std::int64_t*>(nullptr)); }, "OUTPUT_STRIDES was given a null pointer"},
        refusal{"strides_type", [](cdesc& d) { d.set_value(config_param::BWD_STRIDES, 4); }, "BWD_STRIDES requires a std::vector"},
        refusal{"unknown_param", [](cdesc& d) { d.set_value(static_cast<config_param>(99), 1); }, "unknown configuration parameter 99"}),
    [](const ::testing::TestParamInfo<refusal>& i) { return std::string(i.param.name); });

// ---- get_value --------------------------------------------------------------------------

// Reads one configuration value into a T.
template <typename T, typename D>
T get(D& d, config_param p) {
    T v{};
    d.get_value(p, &v);
    return v;
}
using ivec = std::vector<std::int64_t>;

TEST(GetValue, Defaults) {
    rdesc d(ivec{6, 8});
    EXPECT_EQ(get<dft::domain>(d, config_param::FORWARD_DOMAIN), dft::domain::REAL);
    EXPECT_EQ(get<dft::precision>(d, config_param::PRECISION), dft::precision::DOUBLE);
    EXPECT_EQ(get<std::int64_t>(d, config_param::DIMENSION), 2);
    EXPECT_EQ(get<ivec>(d, config_param::LENGTHS), (ivec{6, 8}));
    std::int64_t raw[2];
    d.get_value(config_param::LENGTHS, raw);
    EXPECT_EQ(raw[1], 8);
    EXPECT_EQ(get<double>(d, config_param::FORWARD_SCALE), 1.0);
    EXPECT_EQ(get<float>(d, config_param::BACKWARD_SCALE), 1.0f);
    EXPECT_EQ(get<std::int64_t>(d, config_param::NUMBER_OF_TRANSFORMS), 1);
    EXPECT_EQ(get<std::int64_t>(d, config_param::FWD_DISTANCE), 0);
    const std::pair<config_param, config_value> values[] = {
        {config_param::PLACEMENT, config_value::INPLACE},
        {config_param::COMPLEX_STORAGE, config_value::COMPLEX_COMPLEX},
        {config_param::REAL_STORAGE, config_value::REAL_REAL},
        {config_param::CONJUGATE_EVEN_STORAGE, config_value::COMPLEX_COMPLEX},
        {config_param::PACKED_FORMAT, config_value::CCE_FORMAT},
        {config_param::WORKSPACE_PLACEMENT, config_value::WORKSPACE_AUTOMATIC},
        {config_param::COMMIT_STATUS, config_value::UNCOMMITTED}};
    for (const auto& pv : values) EXPECT_EQ(get<config_value>(d, pv.first), pv.second) << int(pv.first);
    // Real in place: the real side is padded to 2 * (8/2 + 1) = 10.
    EXPECT_EQ(get<ivec>(d, config_param::FWD_STRIDES), (ivec{0, 10, 1}));
    EXPECT_EQ(get<ivec>(d, config_param::BWD_STRIDES), (ivec{0, 5, 1}));
    EXPECT_EQ(get<ivec>(d, config_param::INPUT_STRIDES), (ivec{0, 0, 0}));
    // Out of place the default real side is not padded.
    d.set_value(config_param::PLACEMENT, config_value::NOT_INPLACE);
    EXPECT_EQ(get<ivec>(d, config_param::FWD_STRIDES), (ivec{0, 8, 1}));
    // Explicit strides are kept across placement changes.
    d.set_value(config_param::FWD_STRIDES, ivec{2, 12, 1});
    d.set_value(config_param::PLACEMENT, config_value::INPLACE);
    EXPECT_EQ(get<ivec>(d, config_param::FWD_STRIDES), (ivec{2, 12, 1}));
}

TEST(GetValue, Refusals) {
    cdesc d(16);
    std::int64_t i;
    int wrong;
    config_value v;
    std::vector<std::int64_t> vec;
    struct row { const char* name; std::function<void()> call; const char* message; };
    const row rows[] = {
        {"int", [&] { d.get_value(config_param::DIMENSION, &wrong); }, "DIMENSION is read into a std::int64_t"},
        {"null", [&] { d.get_value(config_param::DIMENSION, static_cast<std::int64_t*>(nullptr)); }, "null destination"},
        {"scale_int", [&] { d.get_value(config_param::FORWARD_SCALE, &i); }, "read into a float or a double"},
        {"value_as_int", [&] { d.get_value(config_param::PLACEMENT, &i); }, "PLACEMENT is read into a config_value"},
        {"domain_as_value", [&] { d.get_value(config_param::FORWARD_DOMAIN, &v); }, "read into a domain"},
        {"precision_as_int", [&] { d.get_value(config_param::PRECISION, &i); }, "read into a precision"},
        {"strides_as_value", [&] { d.get_value(config_param::INPUT_STRIDES, &v); }, "std::vector<std::int64_t> or a std::int64_t array"},
        {"bytes_as_vector", [&] { d.get_value(config_param::WORKSPACE_EXTERNAL_BYTES, &vec); }, "read into a std::int64_t"},
        {"unknown", [&] { d.get_value(static_cast<config_param>(98), &i); }, "unknown configuration parameter 98"},
    };
    for (const row& r : rows) {
        std::string msg = thrown_message<korami::ovx::invalid_argument>(r.call);
        EXPECT_NE(msg.find("korami::ovx::dft::get_value: invalid argument: "), std::string::npos) << r.name << ": " << msg;
        EXPECT_NE(msg.find(r.message), std::string::npos) << r.name << ": " << msg;
    }
}

// Values of other arithmetic types and raw stride arrays are converted on the way in.
TEST(GetValue, ConvertedOnSet) {
    cdesc d(ivec{4, 8});
    d.set_value(config_param::FORWARD_SCALE, 0.25f);
    d.set_value(config_param::NUMBER_OF_TRANSFORMS, std::int64_t{3});
    d.set_value(config_param::FWD_DISTANCE, 40u);
    d.set_value(config_param::BWD_DISTANCE, short{41});
    d.set_value(config_param::INPUT_STRIDES, raw_strides);
    EXPECT_EQ(get<double>(d, config_param::FORWARD_SCALE), 0.25);
    EXPECT_EQ(get<std::int64_t>(d, config_param::NUMBER_OF_TRANSFORMS), 3);
    EXPECT_EQ(get<std::int64_t>(d, config_param::FWD_DISTANCE), 40);
    EXPECT_EQ(get<std::int64_t>(d, config_param::BWD_DISTANCE), 41);
    EXPECT_EQ(get<ivec>(d, config_param::INPUT_STRIDES), (ivec{0, 4, 1}));
}

// ---- uncommit on change ---------------------------------------------------------------------

TEST(Configuration, ChangedValueUncommits) {
    cdesc d(16);
    auto status = [&] {
        config_value v;
        d.get_value(config_param::COMMIT_STATUS, &v);
        return v;
    };
    d.commit(cpu_queue());
    EXPECT_EQ(status(), config_value::COMMITTED);
    d.set_value(config_param::FORWARD_SCALE, 1.0f);  // unchanged value
    d.set_value(config_param::PLACEMENT, config_value::INPLACE);
    EXPECT_EQ(status(), config_value::COMMITTED);
    std::int64_t bytes = -1;
    d.get_value(config_param::WORKSPACE_EXTERNAL_BYTES, &bytes);
    EXPECT_EQ(bytes, 0);  // the CPU route takes no workspace
    // Strides equal to the current ones change nothing.
    d.set_value(config_param::FWD_STRIDES, std::vector<std::int64_t>{0, 1});
    d.set_value(config_param::INPUT_STRIDES, std::vector<std::int64_t>{0, 0});
    EXPECT_EQ(status(), config_value::COMMITTED);
    d.set_value(config_param::INPUT_STRIDES, std::vector<std::int64_t>{0, 1});
    EXPECT_EQ(status(), config_value::UNCOMMITTED);
    d.set_value(config_param::INPUT_STRIDES, std::vector<std::int64_t>{0, 0});
    d.commit(cpu_queue());
    d.set_value(config_param::FORWARD_SCALE, 2.0f);
    EXPECT_EQ(status(), config_value::UNCOMMITTED);
    auto* data = sycl::malloc_shared<std::complex<float>>(16, cpu_queue());
    EXPECT_THROW(dft::compute_forward(d, data), dft::uncommitted_descriptor_exception);
    d.commit(cpu_queue());
    EXPECT_NO_THROW(dft::compute_forward(d, data).wait_and_throw());
    sycl::free(data, cpu_queue());
}

// ---- status mapping ----------------------------------------------------------------------------

TEST(StatusMapping, EveryStatus) {
    struct row { int status; const char* text; std::function<bool(const std::exception&)> is; };
    const row rows[] = {
        {1, "FFT_ALLOCATION_FAILED", is_a<dft::allocation_failed_exception>},
        {2, "FFT_UNCOMMITTED_DESCRIPTOR", is_a<dft::uncommitted_descriptor_exception>},
        {3, "FFT_INVALID_DESCRIPTOR", is_a<dft::invalid_descriptor_exception>},
        {5, "FFT_BAD_DESCRIPTOR", is_a<dft::bad_descriptor_exception>},
        {6, "FFT_UNIMPLEMENTED", [](const std::exception& e) { return is_a<dft::unimplemented_exception>(e) && is_a<korami::ovx::unimplemented>(e); }},
        {7, "FFT_INTERNAL_ERROR", is_a<dft::internal_error_exception>},
        {11, "FFT_NO_WORKSPACE", is_a<dft::no_workspace_exception>},
    };
    for (const row& r : rows) {
        try {
            dft::throw_status(r.status, "compute_forward");
            ADD_FAILURE() << "status " << r.status << " raised nothing";
        } catch (const korami::ovx::exception& e) {
            EXPECT_TRUE(r.is(e)) << r.status;
            const std::string want = std::string("korami::ovx::dft::compute_forward: ");
            EXPECT_EQ(std::string(e.what()).rfind(want, 0), 0u) << e.what();
            EXPECT_NE(std::string(e.what()).find(r.text), std::string::npos) << e.what();
        }
    }
    for (int quiet : {0, 4, 8, 100, -1}) EXPECT_NO_THROW(dft::throw_status(quiet, "commit")) << quiet;
}

// ---- move semantics -------------------------------------------------------------------------------

TEST(Move, ConstructionLeavesSourceEmpty) {
    cdesc a(32);
    a.set_value(config_param::FORWARD_SCALE, 3.0f);
    cdesc b(std::move(a));
    float s = 0;
    b.get_value(config_param::FORWARD_SCALE, &s);
    EXPECT_EQ(s, 3.0f);
    std::int64_t i;
    auto* data = sycl::malloc_shared<std::complex<float>>(32, cpu_queue());
    const char* moved = "the descriptor has been moved from";
    EXPECT_NE(thrown_message<korami::ovx::uninitialized>([&] { a.get_value(config_param::DIMENSION, &i); }).find(moved), std::string::npos);
    EXPECT_NE(thrown_message<korami::ovx::uninitialized>([&] { a.set_value(config_param::NUMBER_OF_TRANSFORMS, 2); }).find(moved), std::string::npos);
    EXPECT_NE(thrown_message<korami::ovx::uninitialized>([&] { a.commit(cpu_queue()); }).find(moved), std::string::npos);
    EXPECT_NE(thrown_message<korami::ovx::uninitialized>([&] { dft::compute_forward(a, data); }).find(moved), std::string::npos);
    EXPECT_NE(thrown_message<korami::ovx::uninitialized>([&] { a.set_workspace(reinterpret_cast<float*>(data)); }).find(moved), std::string::npos);
    // Reuse: a descriptor moved into the moved-from one makes it whole again.
    a = cdesc(16);
    a.get_value(config_param::LENGTHS, &i);
    EXPECT_EQ(i, 16);
    a.commit(cpu_queue());
    EXPECT_NO_THROW(dft::compute_forward(a, data).wait_and_throw());
    sycl::free(data, cpu_queue());
}

TEST(Move, AssignmentExchanges) {
    cdesc a(8), b(std::vector<std::int64_t>{4, 4});
    a.commit(cpu_queue());
    a = std::move(b);
    std::int64_t rank = 0;
    a.get_value(config_param::DIMENSION, &rank);
    EXPECT_EQ(rank, 2);
    b.get_value(config_param::DIMENSION, &rank);
    EXPECT_EQ(rank, 1);
    config_value v;
    b.get_value(config_param::COMMIT_STATUS, &v);
    EXPECT_EQ(v, config_value::COMMITTED);  // b now holds a's committed transform and its CPU handles
    auto* data = sycl::malloc_shared<std::complex<float>>(8, cpu_queue());
    for (int k = 0; k < 8; ++k) data[k] = {1.0f, 0.0f};
    dft::compute_forward(b, data).wait_and_throw();
    EXPECT_FLOAT_EQ(data[0].real(), 8.0f);
    EXPECT_NEAR(std::abs(data[3]), 0.0f, 1e-6f);
    sycl::free(data, cpu_queue());
    a = std::move(a);  // self-move keeps the descriptor
    a.get_value(config_param::DIMENSION, &rank);
    EXPECT_EQ(rank, 2);
}

// ---- commit, compute and workspace refusals on a CPU queue ---------------------------------------

TEST(Construction, Refusals) {
    EXPECT_THROW(cdesc(0), korami::ovx::invalid_argument);
    EXPECT_THROW(cdesc(std::vector<std::int64_t>{}), korami::ovx::invalid_argument);
    EXPECT_THROW(cdesc(std::vector<std::int64_t>(8, 2)), korami::ovx::invalid_argument);
    EXPECT_THROW(cdesc(std::vector<std::int64_t>{4, -1}), korami::ovx::invalid_argument);
    EXPECT_NO_THROW(cdesc(std::vector<std::int64_t>(7, 2)));
}

TEST(CpuCommit, Refusals) {
    struct row { const char* name; std::function<void()> call; const char* message; bool unimplemented; };
    const row rows[] = {
        {"rank4", [] { cdesc d(std::vector<std::int64_t>{2, 2, 2, 2}); d.commit(cpu_queue()); }, "rank above 3", true},
        {"split", [] { cdesc d(8); d.set_value(config_param::COMPLEX_STORAGE, config_value::REAL_REAL); d.commit(cpu_queue()); }, "split complex storage", true},
        {"external", [] { cdesc d(8); d.set_value(config_param::WORKSPACE_PLACEMENT, config_value::WORKSPACE_EXTERNAL); d.commit(cpu_queue()); }, "WORKSPACE_EXTERNAL", true},
        {"batch_no_distance", [] { cdesc d(8); d.set_value(config_param::NUMBER_OF_TRANSFORMS, 2); d.commit(cpu_queue()); }, "FWD_DISTANCE and BWD_DISTANCE must be set", false},
        {"batch_one_distance", [] { cdesc d(8); d.set_value(config_param::NUMBER_OF_TRANSFORMS, 2); d.set_value(config_param::FWD_DISTANCE, 8); d.commit(cpu_queue()); }, "must be set", false},
        {"overlapping_in_place", [] { rdesc d(8); d.set_value(config_param::INPUT_STRIDES, std::vector<std::int64_t>{0, 1}); d.set_value(config_param::OUTPUT_STRIDES, std::vector<std::int64_t>{3, 1}); d.commit(cpu_queue()); }, "start its real and complex data at different bytes", false},
    };
    for (const row& r : rows) {
        std::string msg = r.unimplemented ? thrown_message<korami::ovx::unimplemented>(r.call)
                                          : thrown_message<korami::ovx::exception>(r.call);
        EXPECT_NE(msg.find("korami::ovx::dft::commit"), std::string::npos) << r.name << ": " << msg;
        EXPECT_NE(msg.find(r.message), std::string::npos) << r.name << ": " << msg;
    }
}

TEST(CpuCompute, Refusals) {
    cdesc d(8);
    auto* a = sycl::malloc_shared<std::complex<float>>(8, cpu_queue());
    auto* b = sycl::malloc_shared<std::complex<float>>(8, cpu_queue());
    EXPECT_THROW(dft::compute_forward(d, a), dft::uncommitted_descriptor_exception);
    d.commit(cpu_queue());
    std::string msg = thrown_message<korami::ovx::invalid_argument>([&] { dft::compute_forward(d, a, b); });
    EXPECT_NE(msg.find("configured INPLACE"), std::string::npos) << msg;
    msg = thrown_message<korami::ovx::invalid_argument>([&] { dft::compute_backward(d, static_cast<std::complex<float>*>(nullptr)); });
    EXPECT_NE(msg.find("input pointer is null"), std::string::npos) << msg;
    d.set_value(config_param::PLACEMENT, config_value::NOT_INPLACE);
    d.commit(cpu_queue());
    msg = thrown_message<korami::ovx::invalid_argument>([&] { dft::compute_backward(d, a); });
    EXPECT_NE(msg.find("configured NOT_INPLACE"), std::string::npos) << msg;
    sycl::buffer<std::complex<float>, 1> buf(sycl::range<1>(8));
    EXPECT_THROW(dft::compute_forward(d, buf), korami::ovx::invalid_argument);
    sycl::free(a, cpu_queue());
    sycl::free(b, cpu_queue());
}

// Buffers shorter than the layout reaches are refused before anything runs,
// and the data is left as it was.
TEST(CpuCompute, ShortBuffersRefused) {
    const float sentinel = 7.5f;
    {
        cdesc d(8);
        d.set_value(config_param::PLACEMENT, config_value::NOT_INPLACE);
        d.commit(cpu_queue());
        sycl::buffer<std::complex<float>, 1> in7(sycl::range<1>(7)), in8(sycl::range<1>(8)), out7(sycl::range<1>(7)),
            out8(sycl::range<1>(8));
        {
            auto w = out7.get_host_access();
            for (auto& x : w) x = sentinel;
        }
        std::string msg = thrown_message<korami::ovx::invalid_argument>([&] { dft::compute_forward(d, in7, out8); });
        EXPECT_NE(msg.find("input buffer holds 56 bytes; the transform reaches 64"), std::string::npos) << msg;
        msg = thrown_message<korami::ovx::invalid_argument>([&] { dft::compute_backward(d, in8, out7); });
        EXPECT_NE(msg.find("output buffer holds 56 bytes"), std::string::npos) << msg;
        auto r = out7.get_host_access();
        for (auto& x : r) EXPECT_EQ(x, std::complex<float>(sentinel));
        EXPECT_NO_THROW(dft::compute_forward(d, in8, out8));
    }
    {
        // In place, the real side of a real transform is padded to 2 * (8/2 + 1).
        dft::descriptor<dft::precision::SINGLE, dft::domain::REAL> d(8);
        d.commit(cpu_queue());
        sycl::buffer<float, 1> b9(sycl::range<1>(9)), b10(sycl::range<1>(10));
        std::string msg = thrown_message<korami::ovx::invalid_argument>([&] { dft::compute_forward(d, b9); });
        EXPECT_NE(msg.find("data buffer holds 36 bytes; the transform reaches 40"), std::string::npos) << msg;
        EXPECT_NO_THROW(dft::compute_forward(d, b10));
        EXPECT_NO_THROW(dft::compute_backward(d, b10));
        // A batch of 3 at distances 12 (real) and 6 (complex): the complex side
        // of the last transform ends at 2 * (2 * 6 + 5) = 34 reals.
        d.set_value(config_param::NUMBER_OF_TRANSFORMS, 3);
        d.set_value(config_param::FWD_DISTANCE, 12);
        d.set_value(config_param::BWD_DISTANCE, 6);
        d.commit(cpu_queue());
        sycl::buffer<float, 1> b33(sycl::range<1>(33)), b34(sycl::range<1>(34));
        EXPECT_THROW(dft::compute_backward(d, b33), korami::ovx::invalid_argument);
        EXPECT_NO_THROW(dft::compute_backward(d, b34));
    }
    cpu_queue().wait_and_throw();
}

TEST(CpuWorkspace, Refusals) {
    cdesc d(8);
    float area[64];
    EXPECT_THROW(d.set_workspace(area), dft::uncommitted_descriptor_exception);
    d.commit(cpu_queue());
    std::string msg = thrown_message<korami::ovx::invalid_argument>([&] { d.set_workspace(area); });
    EXPECT_NE(msg.find("committed on a CPU queue takes no workspace"), std::string::npos) << msg;
    sycl::buffer<float, 1> wb(sycl::range<1>(64));
    EXPECT_THROW(d.set_workspace(wb), korami::ovx::invalid_argument);
}

// ---- verbose --------------------------------------------------------------------------------------

TEST(Verbose, ComputePrintsOneLine) {
    cdesc d(1024);
    d.commit(cpu_queue());
    auto* data = sycl::malloc_shared<std::complex<float>>(1024, cpu_queue());
    int* mode = ovx_serv_verbose_mode();
    const int saved = *mode;
    for (int m : {1, 2}) {
        *mode = m;
        ::testing::internal::CaptureStdout();
        dft::compute_forward(d, data).wait_and_throw();
        std::string out = ::testing::internal::GetCapturedStdout();
        EXPECT_NE(out.find("OVX_VERBOSE FFT(scfi1024,"), std::string::npos) << out;
    }
    *mode = 0;
    ::testing::internal::CaptureStdout();
    dft::compute_forward(d, data).wait_and_throw();
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    *mode = saved;
    sycl::free(data, cpu_queue());
}

}  // namespace
