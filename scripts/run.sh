#!/usr/bin/env bash
# Builds the program and starts it. It is installed to ~/Pelloquin (or $PELLOQUIN_HOME), where
# its knowledge base pelloquin.dat lives beside it, safe from rebuilds and deleted build folders.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
home="${PELLOQUIN_HOME:-$HOME/Pelloquin}"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELLOQUIN_TESTS=OFF \
      -DPELLOQUIN_BENCH=OFF -DCMAKE_INSTALL_PREFIX="$home" >/dev/null
cmake --build build/release --target pelloquin
cmake --install build/release >/dev/null
exec "$home/pelloquin" "$@"
