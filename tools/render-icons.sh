#!/usr/bin/env bash
# Renders the application icon's PNG sizes from its SVG (the PNGs are kept in
# the repository: the window icon is built from them, so running the client
# needs no SVG support). Run after editing the SVG; needs rsvg-convert
# (Debian package librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")/../packaging/icons"
command -v rsvg-convert >/dev/null || { echo "render-icons: rsvg-convert missing (apt-get install librsvg2-bin)" >&2; exit 1; }
for size in 32 64 128 256; do
    rsvg-convert -w "$size" -h "$size" com.velmora.TaviskAlerts.svg -o "$size.png"
done
