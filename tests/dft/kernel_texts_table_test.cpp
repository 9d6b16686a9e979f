// The kernel-text table (dft/gpu/kernel_texts.def): each stored text is what
// its row says it is made of, and its program rows pair names and texts of
// one precision. (The relations the compiler can see, such as a program row
// naming a backend row and an existing text, are checked in
// dft/gpu/kernel_texts.hpp.)
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "dft/gpu/kernel_texts.hpp"

namespace {

using korami::ovx::dft::kernel_program_row;
using korami::ovx::dft::kernel_program_rows;
using korami::ovx::dft::kernel_text_row;
using korami::ovx::dft::kernel_text_rows;

const kernel_text_row* text_row(const char* symbol) {
    for (const kernel_text_row& t : kernel_text_rows)
        if (std::strcmp(t.symbol, symbol) == 0) return &t;
    return nullptr;
}

// A body file of the table: in the kernels folder, or generated at build time.
std::string read_body(const std::string& name) {
    const std::string generated = "generated/";
    const std::string path = name.compare(0, generated.size(), generated) == 0
                                 ? std::string(OVX_KERNEL_GENERATED_DIR) + "/" + name.substr(generated.size())
                                 : std::string(OVX_KERNEL_SOURCE_DIR) + "/" + name;
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << "cannot read " << path;
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<kernel_text_row> module_texts() {
    std::vector<kernel_text_row> v;
    for (const kernel_text_row& t : kernel_text_rows)
        if (t.body[0] != '\0') v.push_back(t);
    return v;
}

class KernelTextRow : public ::testing::TestWithParam<kernel_text_row> {};

// The stored text is the front of the row's form and precision followed by
// the body files in order; a plain text is its files alone.
TEST_P(KernelTextRow, IsItsFrontFollowedByItsBodyFiles) {
    const kernel_text_row& t = GetParam();
    std::string expected;
    if (std::strcmp(t.form, "plain") != 0) {
        const std::string front = std::string("fft_front_") + t.form + "_" + t.prec;
        const kernel_text_row* f = text_row(front.c_str());
        ASSERT_NE(f, nullptr) << "no front " << front;
        expected = f->text;
    }
    std::istringstream files(t.body);
    std::string name;
    int count = 0;
    while (files >> name) {
        expected += read_body(name);
        ++count;
    }
    EXPECT_GT(count, 0);
    const std::string stored(t.text);
    EXPECT_EQ(stored.size(), expected.size());
    EXPECT_TRUE(stored == expected) << t.symbol << " differs from its row's front and body files";
}

INSTANTIATE_TEST_SUITE_P(KernelTexts, KernelTextRow, ::testing::ValuesIn(module_texts()),
                         [](const ::testing::TestParamInfo<kernel_text_row>& info) {
                             return std::string(info.param.symbol);
                         });

// A program name ending in a precision letter is built from a text of that
// precision (a row pairing a "_s" name with a double text is a typing slip).
TEST(KernelProgramTable, NameAndTextAgreeInPrecision) {
    for (const kernel_program_row& p : kernel_program_rows) {
        SCOPED_TRACE(p.constant);
        const kernel_text_row* t = text_row(p.text_symbol);
        ASSERT_NE(t, nullptr);
        const std::string name = p.name;
        const std::string tail = name.size() >= 2 ? name.substr(name.size() - 2) : name;
        if (tail == "_d" || tail == "_s") {
            EXPECT_EQ(std::string(t->prec), tail.substr(1)) << name;
        }
        EXPECT_EQ(p.text, t->text);
    }
}

// Rows that share a program name with different texts differ in precision:
// within one precision a name stands for one text. (The kernel cache keeps
// such texts apart in any case; see KernelCache.DifferentTextsUnderOneName...)
TEST(KernelProgramTable, ASharedNameStandsForOneTextPerPrecision) {
    int shared = 0;
    for (const kernel_program_row& a : kernel_program_rows) {
        for (const kernel_program_row& b : kernel_program_rows) {
            if (&a == &b || std::strcmp(a.name, b.name) != 0 || a.text == b.text) continue;
            ++shared;
            SCOPED_TRACE(std::string(a.constant) + " and " + b.constant);
            EXPECT_STRNE(text_row(a.text_symbol)->prec, text_row(b.text_symbol)->prec);
        }
    }
    // The n-factor and the four-factor programs name both precisions alike.
    EXPECT_GT(shared, 0);
}

}  // namespace
