#!/usr/bin/env bash
# Installs what the machine lacks, builds the library and runs the demonstration
# tool with the arguments given (see `bash scripts/demo.sh --help`), e.g.
#   bash scripts/demo.sh --precision double 1000
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
echo "building the library into build/ ..." >&2
bash scripts/build.sh -DOVX_BUILD_TESTS=OFF -DOVX_BUILD_BENCH=OFF >/dev/null
exec ./build/bin/ovx_demo "$@"
