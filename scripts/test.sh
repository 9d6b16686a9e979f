#!/usr/bin/env bash
# Installs, builds and runs the whole test suite (pass -L fast for the quick subset).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
ctest --test-dir build --output-on-failure -j "$(nproc)" "$@"
