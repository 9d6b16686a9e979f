#!/usr/bin/env bash
# Installs, builds and runs the whole test suite (pass -L fast for the quick subset).
# Tests and benchmarks are switched on explicitly: scripts/demo.sh builds the
# same tree without them.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh -DOVX_BUILD_TESTS=ON -DOVX_BUILD_BENCH=ON
ctest --test-dir build --output-on-failure -j "$(nproc)" "$@"
