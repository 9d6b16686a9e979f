// The GPU backends' stored kernel texts and program names, declared from the
// kernel-text table (dft/gpu/kernel_texts.def): for each text row the
// declaration of `gpu_kernels::<symbol>` (defined by the source that
// backends.cmake generates from the same row), for each program row the
// constant `gpu_programs::<constant>` holding its program name, and the rows
// themselves as data (kernel_text_rows, kernel_program_rows) for the checks
// of the table.
#ifndef OVX_DFT_GPU_KERNEL_TEXTS_HPP
#define OVX_DFT_GPU_KERNEL_TEXTS_HPP

#include <cstddef>

namespace korami {
namespace ovx {
namespace dft {

namespace gpu_kernels {
#define OVX_KERNEL_TEXT(SYMBOL, FORM, PREC, BODY) extern const char SYMBOL[];
#define OVX_KERNEL_PROGRAM(CONSTANT, ROW, TEXT, NAME)
#include "dft/gpu/kernel_texts.def"
#undef OVX_KERNEL_PROGRAM
#undef OVX_KERNEL_TEXT
}  // namespace gpu_kernels

namespace gpu_programs {
// A constant per program row; a second row with the same CONSTANT does not
// compile.
#define OVX_KERNEL_TEXT(SYMBOL, FORM, PREC, BODY)
#define OVX_KERNEL_PROGRAM(CONSTANT, ROW, TEXT, NAME) inline constexpr char CONSTANT[] = NAME;
#include "dft/gpu/kernel_texts.def"
#undef OVX_KERNEL_PROGRAM
#undef OVX_KERNEL_TEXT
}  // namespace gpu_programs

// The rows of the table as data.
struct kernel_text_row {
    const char* symbol;
    const char* form;  // "sg", "nsg" or "plain"
    const char* prec;  // "d", "s" or "none"
    const char* body;  // body files, separated by spaces
    const char* text;  // the stored text
};

struct kernel_program_row {
    const char* constant;
    const char* row;          // STEM of the backends.def row
    const char* text_symbol;  // SYMBOL of its text
    const char* name;         // the program name
    const char* text;         // the stored text it is built from
};

inline constexpr kernel_text_row kernel_text_rows[] = {
#define OVX_KERNEL_TEXT(SYMBOL, FORM, PREC, BODY) {#SYMBOL, #FORM, #PREC, BODY, gpu_kernels::SYMBOL},
#define OVX_KERNEL_PROGRAM(CONSTANT, ROW, TEXT, NAME)
#include "dft/gpu/kernel_texts.def"
#undef OVX_KERNEL_PROGRAM
#undef OVX_KERNEL_TEXT
};

// TEXT must name a text row: the reference to gpu_kernels::TEXT does not
// compile otherwise.
inline constexpr kernel_program_row kernel_program_rows[] = {
#define OVX_KERNEL_TEXT(SYMBOL, FORM, PREC, BODY)
#define OVX_KERNEL_PROGRAM(CONSTANT, ROW, TEXT, NAME) {#CONSTANT, #ROW, #TEXT, gpu_programs::CONSTANT, gpu_kernels::TEXT},
#include "dft/gpu/kernel_texts.def"
#undef OVX_KERNEL_PROGRAM
#undef OVX_KERNEL_TEXT
};

// True when `text` is one of the table's stored texts (static storage, the
// same bytes while the library is loaded).
inline bool is_stored_kernel_text(const char* text) {
    for (const kernel_text_row& t : kernel_text_rows)
        if (t.text == text) return true;
    return false;
}

// Compile-time checks of the table against itself and the backend table.
namespace kernel_texts_check {

constexpr bool same(const char* a, const char* b) {
    while (*a != '\0' && *a == *b) ++a, ++b;
    return *a == *b;
}

constexpr bool ends_with(const char* s, const char* tail) {
    std::size_t n = 0, t = 0;
    while (s[n] != '\0') ++n;
    while (tail[t] != '\0') ++t;
    return n >= t && same(s + (n - t), tail);
}

inline constexpr const char* backend_stems[] = {
#define OVX_BKD(STEM, MODULE, S, D, C1D, R1D, CMD, RMD) #STEM,
#include "dft/gpu/backends.def"
#undef OVX_BKD
};

// Every program row's ROW is a row of backends.def.
constexpr bool programs_name_backend_rows() {
    for (const kernel_program_row& p : kernel_program_rows) {
        bool found = false;
        for (const char* stem : backend_stems) found = found || same(p.row, stem);
        if (!found) return false;
    }
    return true;
}

// A text of one precision ends in _d or _s accordingly; one for both
// precisions in neither.
constexpr bool texts_named_by_precision() {
    for (const kernel_text_row& t : kernel_text_rows) {
        const bool d = ends_with(t.symbol, "_d"), s = ends_with(t.symbol, "_s");
        if (same(t.prec, "d") ? !d : same(t.prec, "s") ? !s : (d || s)) return false;
    }
    return true;
}

// Every text with body files is built by some program; the fronts alone are not.
constexpr bool module_texts_have_programs() {
    for (const kernel_text_row& t : kernel_text_rows) {
        bool used = false;
        for (const kernel_program_row& p : kernel_program_rows) used = used || same(p.text_symbol, t.symbol);
        if (used != (t.body[0] != '\0')) return false;
    }
    return true;
}

static_assert(programs_name_backend_rows(), "kernel_texts.def: a program row names a ROW that backends.def lacks");
static_assert(texts_named_by_precision(), "kernel_texts.def: a text symbol does not end in the _d or _s of its PREC");
static_assert(module_texts_have_programs(),
              "kernel_texts.def: a text with body files has no program row, or a front alone has one");

}  // namespace kernel_texts_check

}  // namespace dft
}  // namespace ovx
}  // namespace korami

#endif
