#!/usr/bin/env bash
# Installs, builds and runs the demonstration transform.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh -DOVX_BUILD_TESTS=OFF -DOVX_BUILD_BENCH=OFF
./build/bin/ovx_demo "$@"
