#!/usr/bin/env bash
# Builds the Debian package from the install rules: a release build with Debian's hardening
# flags, packed by CPack. Prints the package's path: build/package/pelloquin_<version>_<arch>.deb.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh >&2
build=build/package
export DEB_BUILD_MAINT_OPTIONS="hardening=+all"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELLOQUIN_TESTS=OFF \
      -DPELLOQUIN_BENCH=OFF -DCMAKE_INSTALL_PREFIX=/usr \
      -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
      -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >&2
cmake --build "$build" -j "$(nproc)" >&2
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB >&2)
ls "$build"/*.deb
