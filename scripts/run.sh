#!/usr/bin/env bash
# Builds the program and starts it. The programs alone are installed to ~/Pelloquin (or
# $PELLOQUIN_HOME), where the knowledge base pelloquin.dat lives beside them, safe from rebuilds
# and deleted build folders.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
home="${PELLOQUIN_HOME:-$HOME/Pelloquin}"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELLOQUIN_TESTS=OFF \
      -DPELLOQUIN_BENCH=OFF -DCMAKE_INSTALL_PREFIX="$home" -DCMAKE_INSTALL_BINDIR=. >/dev/null
cmake --build build/release
cmake --install build/release --component programs >/dev/null
exec "$home/pelloquin" "$@"
