#!/usr/bin/env bash
# Renders the program icon's PNGs from resources/icons/baroterm.svg. Run it
# after changing the SVG and commit the PNGs: the build does not render them.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/deps.sh librsvg2-bin
for size in 48 64 128 256; do
  rsvg-convert -w "$size" -h "$size" resources/icons/baroterm.svg \
    -o "resources/icons/baroterm-$size.png"
done
