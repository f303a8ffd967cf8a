#!/usr/bin/env bash
# Builds the release configuration and opens the monitor on the bundled
# sample recording. Without a display (no DISPLAY or WAYLAND_DISPLAY) the
# monitor runs offscreen, decodes the sample, saves a picture of its window
# and exits.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/scripts/deps.sh"
ensure_packages "${varnak_packages[@]}"

build="$top/build/release"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNAK_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"

sample="$top/data/samples/station.txt"
if [ ! -s "$sample" ]; then
  # The recording is made from its description when it is not there yet.
  sample="$build/station.txt"
  "$build/bin/rdsgen" -d 120 --garbage 1500 --error-rate 0.001 -o "$sample" "$top/data/samples/station.rds"
fi
log="${sample%????}.out"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  picture="$top/docs/monitor.png"
  mkdir -p "$top/docs"
  "$build/bin/varnak" -platform offscreen --exit-when-done --screenshot "$picture" "$sample"
  echo "No display: the monitor ran offscreen on $sample."
  echo "Decode log: $log"
  echo "Picture of the window: $picture"
else
  "$build/bin/varnak" "$sample"
  echo "Decode log: $log"
fi
