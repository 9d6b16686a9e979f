#!/usr/bin/env bash
# Share of test code: non-blank, non-comment lines under tests/ over those of
# the other code (include/ gpu/ dft/ vasm/ platform/ bench/ examples/).
# Counts C, C++ and CMake sources; // and /* */ comments in C/C++, # in CMake.
set -euo pipefail
cd "$(dirname "$0")/.."
count() {
    find "$@" -type f \( -name '*.c' -o -name '*.cc' -o -name '*.cpp' -o -name '*.h' -o -name '*.hpp' \
        -o -name '*.cl' -o -name '*.cmake' -o -name 'CMakeLists.txt' \) -print0 2>/dev/null |
    xargs -0 -r awk '
        FNR == 1 { block = 0; cmake = (FILENAME ~ /(\.cmake|CMakeLists\.txt)$/) }
        {
            line = $0
            if (cmake) { sub(/^[ \t]*#.*/, "", line) }
            else {
                out = ""
                while (length(line) > 0) {
                    if (block) {
                        p = index(line, "*/")
                        if (p == 0) { line = ""; break }
                        line = substr(line, p + 2); block = 0
                    } else {
                        p = index(line, "/*"); q = index(line, "//")
                        if (q > 0 && (p == 0 || q < p)) { out = out substr(line, 1, q - 1); line = ""; break }
                        if (p == 0) { out = out line; line = ""; break }
                        out = out substr(line, 1, p - 1); line = substr(line, p + 2); block = 1
                    }
                }
                line = out
            }
            if (line ~ /[^ \t\r]/) n++
        }
        END { print n + 0 }' | awk '{ s += $1 } END { print s + 0 }'
}
others=$(for d in include gpu dft vasm platform bench examples; do [ -d "$d" ] && echo "$d"; done)
t=$(count tests)
o=$(count $others)
awk -v t="$t" -v o="$o" 'BEGIN { printf "test lines %d, other lines %d, share %.1f%%\n", t, o, 100 * t / o }'
