// Bounded formatting helpers shared by the whole library.
#include "gpu/ovx_gpu.hpp"

#include <stdarg.h>
#include <stdio.h>

int bounded_snprintf(char* buffer, size_t size, const char* format, ...) {
    if (buffer == nullptr || size == 0) return -1;
    if (format == nullptr) {
        buffer[0] = '\0';
        return -1;
    }
    va_list args;
    va_start(args, format);
    int n = vsnprintf(buffer, size, format, args);
    va_end(args);
    if (n < 0) {
        buffer[0] = '\0';
        return -1;
    }
    if (static_cast<size_t>(n) >= size) return -1;  // cut at size - 1, terminated
    return n;
}

char* append_formatted(char* pos, size_t* remaining, const char* format, ...) {
    if (pos == nullptr || remaining == nullptr) return pos;
    size_t room = *remaining;
    int n = -1;
    if (format != nullptr) {
        va_list args;
        va_start(args, format);
        // room + 1 bytes: the remaining characters and the terminator.
        n = vsnprintf(pos, room + 1, format, args);
        va_end(args);
    }
    if (n >= 0 && static_cast<size_t>(n) <= room) {
        *remaining = room - static_cast<size_t>(n);
        return pos + n;
    }
    // A text that does not fit stays cut at the end of the space; a failed
    // format leaves nothing behind.
    if (n < 0) pos[0] = '\0';
    pos[room] = '\0';
    *remaining = 0;
    return pos + room;
}

void print_stderr(const char* format, ...) {
    if (format == nullptr) return;
    va_list args;
    va_start(args, format);
    vfprintf(stderr, format, args);
    va_end(args);
    fflush(stderr);
}
