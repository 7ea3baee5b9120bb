#!/usr/bin/env bash
# Builds everything from scratch and runs every test headless: the whole suite under
# AddressSanitizer and UndefinedBehaviorSanitizer, the concurrency tests under ThreadSanitizer,
# a build of the benchmarks, a bounded run of every fuzz target, and the Debian package started
# as an installed program (scripts/test-package.sh).
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

# Fuzzing: libFuzzer targets built with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer, each run for a bounded time from its seed corpus in
# tests/fuzz/corpus/<target>/ (left untouched: what the run finds goes to build/fuzz/corpus/).
# A crash, a leak, a time-out or a broken check fails the script and leaves the input in
# build/fuzz/artifacts/.
cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
      -DPELLOQUIN_FUZZ=ON -DPELLOQUIN_GUI=OFF -DPELLOQUIN_TESTS=OFF -DPELLOQUIN_BENCH=OFF
fuzz_targets=(storedvector_fuzz textanalysis_fuzz knowledgebase_fuzz)
cmake --build build/fuzz -j "$jobs" --target "${fuzz_targets[@]}"
mkdir -p build/fuzz/artifacts
for target in "${fuzz_targets[@]}"; do
  rm -rf "build/fuzz/corpus/$target"
  mkdir -p "build/fuzz/corpus/$target"
  "build/fuzz/tests/fuzz/$target" -max_total_time=15 -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="build/fuzz/artifacts/$target-" \
      "build/fuzz/corpus/$target" "tests/fuzz/corpus/$target"
done

scripts/test-package.sh
