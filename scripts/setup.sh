#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks for building and testing the
# library and its benchmarks (run as root; clFFT and VkFFT are the benchmarks'
# peers on the same OpenCL device). Safe to run again.
set -euo pipefail
pkgs=(build-essential cmake pkg-config binutils
      pocl-opencl-icd ocl-icd-opencl-dev opencl-c-headers
      libfftw3-dev libgtest-dev googletest libbenchmark-dev
      libclfft-dev libvkfft-dev)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y "${missing[@]}"
fi
