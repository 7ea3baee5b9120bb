#!/usr/bin/env bash
# Builds everything from scratch and runs every test headless: the whole suite under
# AddressSanitizer and UndefinedBehaviorSanitizer, the concurrency tests under ThreadSanitizer,
# and a build of the benchmarks.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
export QT_QPA_PLATFORM=offscreen
jobs="$(nproc)"

cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPELLOQUIN_SANITIZE=address \
      -DPELLOQUIN_BENCH=OFF
cmake --build build/asan -j "$jobs"
ctest --test-dir build/asan --output-on-failure -j "$jobs"

cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELLOQUIN_SANITIZE=thread \
      -DPELLOQUIN_GUI=OFF -DPELLOQUIN_BENCH=OFF
cmake --build build/tsan -j "$jobs"
# ThreadSanitizer cannot map its shadow memory under full address randomisation on some kernels.
setarch "$(uname -m)" -R ctest --test-dir build/tsan -L concurrency --output-on-failure -j "$jobs"

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELLOQUIN_TESTS=OFF
cmake --build build/release -j "$jobs"
