// Exceptions of the code generator and the lookup of OpenCL entry points in
// the OpenCL library that the process has already loaded.
#include "vasm/vasm_errors.hpp"

#include <windows.h>

#include <string>

namespace korami {
namespace ovx {
namespace vasm {

namespace {

std::string opencl_error_message(int status) {
    // Digits of the magnitude, least significant first; computed in 64 bits
    // so that the most negative value keeps all ten digits.
    char digits[16];
    int n = 0;
    long long magnitude = status;
    if (magnitude < 0) magnitude = -magnitude;
    do {
        digits[n++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    std::string text = "An OpenCL error occurred: ";
    if (status < 0) text += '-';
    while (n > 0) text += digits[--n];
    return text;
}

}  // namespace

opencl_error::opencl_error(int s) : std::runtime_error(opencl_error_message(s)), status(s) {}
opencl_error::~opencl_error() = default;
level_zero_error::~level_zero_error() = default;

void* get_opencl_entry(const char* name) {
    // Only a library that is already loaded counts: GetModuleHandleA takes no
    // reference and never loads anything.
    HMODULE module = GetModuleHandleA("OpenCL.dll");
    if (module == nullptr || name == nullptr) throw opencl_error(-1001);
    FARPROC entry = GetProcAddress(module, name);
    if (entry == nullptr) throw opencl_error(-1001);
    return reinterpret_cast<void*>(entry);
}

}  // namespace vasm
}  // namespace ovx
}  // namespace korami
