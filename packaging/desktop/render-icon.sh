#!/usr/bin/env bash
# Renders the 128x128 picture of the icon from varnak.svg (needs rsvg-convert,
# Debian package librsvg2-bin). Run it after changing the drawing.
set -euo pipefail
cd "$(dirname "$0")"
rsvg-convert -w 128 -h 128 varnak.svg -o varnak-128.png
