#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need, when they are missing.
set -euo pipefail

# libpq-dev: the office-server store; postgresql: the throwaway server its tests start.
# libicu-dev and libstemmer-dev: Best match's words in every language; fonts-wqy-zenhei: a face
# for Chinese and Japanese text in the window and its screenshots.
packages=(g++ cmake ninja-build pkg-config qt6-base-dev libsqlite3-dev uuid-dev libpq-dev postgresql
          libicu-dev libstemmer-dev fonts-wqy-zenhei
          libgtest-dev libgmock-dev libbenchmark-dev fonts-wine
          xvfb xdotool x11-utils imagemagick sqlite3 clang libclang-rt-14-dev
          dpkg-dev file lintian desktop-file-utils appstream librsvg2-bin)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
