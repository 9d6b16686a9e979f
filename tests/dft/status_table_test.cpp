// The status table: every status keeps the value the node record contract
// gives it, each status raises the exception its name says with that
// exception's fixed text, and the exception kinds come back as the statuses
// the offload entries return (with the line of the kinds that are not the
// library's own).
#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "dft/contract/ovx_dft_node_record.hpp"
#include "fftw/ovx_omp_offload.hpp"
#include "korami/ovx/dft.hpp"
#include "korami/ovx/exceptions.hpp"

namespace dft = korami::ovx::dft;

namespace {

template <typename E>
bool is_a(const std::exception& e) {
    return dynamic_cast<const E*>(&e) != nullptr;
}

// ---- the rows as the table holds them --------------------------------------------------------

struct table_status {
    std::string name;
    int value;
    std::string exception;  // empty: raises nothing
    std::string text;
};

std::vector<table_status> table_statuses() {
    std::vector<table_status> rows;
#define OVX_DFT_STATUS(VALUE, NAME, EXCEPTION, TEXT) rows.push_back({#NAME, VALUE, #EXCEPTION, TEXT});
#define OVX_DFT_STATUS_NO_EXCEPTION(VALUE, NAME) rows.push_back({#NAME, VALUE, "", ""});
#include "dft/contract/ovx_dft_status.def"
    return rows;
}

struct table_kind {
    std::string kind;
    std::string status;
};

std::vector<table_kind> table_kinds() {
    std::vector<table_kind> rows;
#define OVX_DFT_STATUS_OF(KIND, NAME) rows.push_back({#KIND, #NAME});
#include "dft/contract/ovx_dft_status.def"
    return rows;
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// ---- status -> exception -------------------------------------------------------------------

// One status as the node record contract fixes it: its enumerator, its value,
// the exception throw_status raises (null: none) and the full message for
// the function "compute_forward".
struct status_case {
    const char* name;
    int enumerator;
    int value;
    std::function<bool(const std::exception&)> raises;
    const char* message;
};

void PrintTo(const status_case& c, std::ostream* os) { *os << c.name; }

const std::vector<status_case>& contract_statuses() {
    static const std::vector<status_case> rows = {
        {"OK", DFTI_STATUS_OK, 0, nullptr, nullptr},
        {"ALLOCATION_FAILED", DFTI_STATUS_ALLOCATION_FAILED, 1, is_a<dft::allocation_failed_exception>,
         "korami::ovx::dft::compute_forward: FFT_ALLOCATION_FAILED"},
        {"UNCOMMITTED_DESCRIPTOR", DFTI_STATUS_UNCOMMITTED_DESCRIPTOR, 2, is_a<dft::uncommitted_descriptor_exception>,
         "korami::ovx::dft::compute_forward: FFT_UNCOMMITTED_DESCRIPTOR"},
        {"INVALID_DESCRIPTOR", DFTI_STATUS_INVALID_DESCRIPTOR, 3, is_a<dft::invalid_descriptor_exception>,
         "korami::ovx::dft::compute_forward: FFT_INVALID_DESCRIPTOR"},
        {"BAD_DESCRIPTOR", DFTI_STATUS_BAD_DESCRIPTOR, 5, is_a<dft::bad_descriptor_exception>,
         "korami::ovx::dft::compute_forward: FFT_BAD_DESCRIPTOR"},
        {"UNIMPLEMENTED", DFTI_STATUS_UNIMPLEMENTED, 6,
         [](const std::exception& e) { return is_a<dft::unimplemented_exception>(e) && is_a<korami::ovx::unimplemented>(e); },
         "korami::ovx::dft::compute_forward: unimplemented functionality: FFT_UNIMPLEMENTED"},
        {"INTERNAL", DFTI_STATUS_INTERNAL, 7, is_a<dft::internal_error_exception>,
         "korami::ovx::dft::compute_forward: FFT_INTERNAL_ERROR"},
        {"NO_WORKSPACE", DFTI_STATUS_NO_WORKSPACE, 11, is_a<dft::no_workspace_exception>,
         "korami::ovx::dft::compute_forward: FFT_NO_WORKSPACE"},
        {"DIRECTION_REFUSED", DFTI_STATUS_DIRECTION_REFUSED, 12, nullptr, nullptr},
        {"OFFLOAD_FAILED", DFTI_STATUS_OFFLOAD_FAILED, 83, nullptr, nullptr},
        {"NOT_APPLICABLE", DFTI_STATUS_NOT_APPLICABLE, 100, nullptr, nullptr},
    };
    return rows;
}

// The table holds exactly the contract's statuses, in value order.
TEST(StatusTable, HoldsTheContractStatusesInValueOrder) {
    const auto rows = table_statuses();
    const auto& want = contract_statuses();
    ASSERT_EQ(rows.size(), want.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].name, want[i].name) << i;
        EXPECT_EQ(rows[i].value, want[i].value) << rows[i].name;
        EXPECT_EQ(rows[i].exception.empty(), want[i].raises == nullptr) << rows[i].name;
    }
}

// A status's name is the name of the exception it raises and the start of
// that exception's fixed text (DFTI_STATUS_INTERNAL raises
// internal_error_exception, "FFT_INTERNAL_ERROR").
TEST(StatusTable, NamesSayWhatTheyRaise) {
    for (const table_status& r : table_statuses()) {
        if (r.exception.empty()) continue;
        EXPECT_EQ(r.exception.rfind(lower(r.name), 0), 0u) << r.name << " raises " << r.exception;
        EXPECT_EQ(r.exception.substr(r.exception.size() - 10), "_exception") << r.exception;
        EXPECT_EQ(r.text.rfind("FFT_" + r.name, 0), 0u) << r.name << " carries " << r.text;
    }
}

class StatusRow : public ::testing::TestWithParam<status_case> {};

TEST_P(StatusRow, KeepsItsValueAndRaisesItsException) {
    const status_case& c = GetParam();
    EXPECT_EQ(c.enumerator, c.value);
    if (!c.raises) {
        EXPECT_NO_THROW(dft::throw_status(c.value, "compute_forward"));
        return;
    }
    try {
        dft::throw_status(c.value, "compute_forward");
        ADD_FAILURE() << c.name << " raised nothing";
    } catch (const korami::ovx::exception& e) {
        EXPECT_TRUE(c.raises(e)) << c.name << ": " << e.what();
        EXPECT_STREQ(e.what(), c.message);
    }
}

INSTANTIATE_TEST_SUITE_P(Statuses, StatusRow, ::testing::ValuesIn(contract_statuses()),
                         [](const auto& info) { return std::string(info.param.name); });

// Values no row holds raise nothing.
TEST(StatusTable, ValuesWithoutARowRaiseNothing) {
    for (int v : {-1, 4, 8, 9, 10, 13, 82, 84, 99, 101})
        EXPECT_NO_THROW(dft::throw_status(v, "commit")) << v;
}

// ---- exception -> status -------------------------------------------------------------------

int status_of(const std::function<void()>& raise, std::string* line) {
    ::testing::internal::CaptureStderr();
    std::int64_t st = -1;
    try {
        raise();
        ADD_FAILURE() << "nothing raised";
    } catch (...) {
        st = korami::ovx::fftw::status_of_exception("entry");
    }
    *line = ::testing::internal::GetCapturedStderr();
    return static_cast<int>(st);
}

const sycl::device& cpu_device() {
    static const sycl::device d{sycl::cpu_selector_v};
    return d;
}

struct kind_case {
    const char* kind;  // the row's kind (empty for kinds that are not the library's own)
    const char* name;
    std::function<void()> raise;
    int status;
    std::string line;  // printed after "entry: "; empty: nothing printed
};

void PrintTo(const kind_case& c, std::ostream* os) { *os << c.name; }

const std::vector<kind_case>& kind_cases() {
    static const std::vector<kind_case> rows = {
        {"unsupported_device", "unsupported_device",
         [] { throw korami::ovx::unsupported_device("dft", "commit", cpu_device()); }, 5, ""},
        {"host_bad_alloc", "host_bad_alloc", [] { throw korami::ovx::host_bad_alloc("dft", "commit"); }, 1, ""},
        {"device_bad_alloc", "device_bad_alloc",
         [] { throw korami::ovx::device_bad_alloc("dft", "commit", cpu_device()); }, 1, ""},
        {"unimplemented", "unimplemented", [] { throw korami::ovx::unimplemented("dft", "commit", "m"); }, 6, ""},
        {"invalid_argument", "invalid_argument", [] { throw korami::ovx::invalid_argument("dft", "commit", "m"); }, 3, ""},
        {"uninitialized", "uninitialized", [] { throw korami::ovx::uninitialized("dft", "commit", "m"); }, 5, ""},
        {"computation_error", "computation_error", [] { throw korami::ovx::computation_error("dft", "commit", "m"); }, 5, ""},
        {"batch_error", "batch_error", [] { throw korami::ovx::batch_error("dft", "commit", "m"); }, 5, ""},
        {"exception", "exception", [] { throw korami::ovx::exception("dft", "commit", "m"); }, 5, ""},
        {"", "offload_failure", [] { throw korami::ovx::fftw::dft_omp_offload_exception("no runtime"); }, 83,
         "An error specific to OpenMP offload was detected. Message: no runtime"},
        {"", "sycl_exception", [] { throw sycl::exception(sycl::errc::runtime, "lost"); }, 83,
         "A sycl::exception was caught internally (code " +
             std::to_string(sycl::make_error_code(sycl::errc::runtime).value()) + "). Message: lost"},
        {"", "std_exception", [] { throw std::runtime_error("broken"); }, 7, "An std::exception was caught: broken"},
        {"", "anything_else", [] { throw 42; }, 7, "An unknown and unexpected error occurred"},
    };
    return rows;
}

// The table's rows are the library's own kinds, in the catch order the
// offload entries use (each kind before its base).
TEST(StatusTable, ExceptionKindsInCatchOrder) {
    const auto rows = table_kinds();
    std::vector<const kind_case*> own;
    for (const kind_case& c : kind_cases())
        if (*c.kind) own.push_back(&c);
    ASSERT_EQ(rows.size(), own.size());
    const auto statuses = table_statuses();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].kind, own[i]->kind) << i;
        int value = -1;
        for (const table_status& s : statuses)
            if (s.name == rows[i].status) value = s.value;
        EXPECT_EQ(value, own[i]->status) << rows[i].kind << " -> " << rows[i].status;
    }
}

class ExceptionKind : public ::testing::TestWithParam<kind_case> {};

TEST_P(ExceptionKind, BecomesItsStatus) {
    const kind_case& c = GetParam();
    std::string line;
    EXPECT_EQ(status_of(c.raise, &line), c.status);
    EXPECT_EQ(line, c.line.empty() ? std::string() : "entry: " + c.line + "\n");
}

INSTANTIATE_TEST_SUITE_P(Kinds, ExceptionKind, ::testing::ValuesIn(kind_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

// A DFT status exception comes back as the status of the kind it derives
// from: unimplemented_exception as DFTI_STATUS_UNIMPLEMENTED, the others
// (korami::ovx::exception) as DFTI_STATUS_BAD_DESCRIPTOR; nothing is printed.
TEST(StatusTable, DftExceptionsComeBackAsTheirBaseKind) {
    for (const status_case& c : contract_statuses()) {
        if (!c.raises) continue;
        std::string line;
        const int back = status_of([&] { dft::throw_status(c.value, "compute_forward"); }, &line);
        EXPECT_EQ(back, c.value == DFTI_STATUS_UNIMPLEMENTED ? DFTI_STATUS_UNIMPLEMENTED : DFTI_STATUS_BAD_DESCRIPTOR)
            << c.name;
        EXPECT_EQ(line, "") << c.name;
    }
}

}  // namespace
