#!/usr/bin/env bash
# Renders the PNG icons from the scalable one. Run after changing the SVG and commit the result:
# the build and the package use the committed PNGs and need no converter.
set -euo pipefail
cd "$(dirname "$0")/../packaging/icons/hicolor"
command -v rsvg-convert >/dev/null || { echo "rsvg-convert missing (librsvg2-bin)" >&2; exit 2; }
svg=scalable/apps/org.pelloquin.Pelloquin.svg
for size in 16 22 24 32 48 64 128 256; do
  mkdir -p "${size}x${size}/apps"
  rsvg-convert -w "$size" -h "$size" "$svg" -o "${size}x${size}/apps/org.pelloquin.Pelloquin.png"
done
