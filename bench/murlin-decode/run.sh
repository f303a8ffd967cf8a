#!/usr/bin/env bash
# Measures murlin-decode on a one-hour recording (about 4.3 million bits):
# wall time of the whole run (file read, decode, log written) and peak RSS.
# Usage: bench/murlin-decode/run.sh [BUILD_DIR]   (default build/bench-release)
# Targets: under 0.25 s, and peak RSS under three times the input's size.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$top/build/bench-release}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNAK_TESTS=OFF >/dev/null
fi
cmake --build "$build" -j2 --target murlin-decode murlin murlin-decode-recording >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
input="$work/hour.txt"
"$build/bin/murlin-decode-recording" "$input" 3600
size=$(stat -c %s "$input")

best=""
for run in 1 2 3 4 5; do
  /usr/bin/time -f '%e %M' -o "$work/time" "$build/bin/murlin-decode" -q "$input"
  read -r secs kb <"$work/time"
  if [ -z "$best" ] || awk "BEGIN{exit !($secs < $best)}"; then best=$secs; rss=$kb; fi
done
groups=$(grep -c '^------------------------------------' "$work/hour.out")
echo "input:        $size bits (one hour at 1187.5 bit/s), $(stat -c %s "$work/hour.out") bytes of log, $groups groups"
echo "wall time:    ${best} s (best of 5; target < 0.25 s)"
echo "peak RSS:     ${rss} KiB = $(awk "BEGIN{printf \"%.2f\", $rss*1024/$size}") x input size (target < 3)"
awk "BEGIN{exit !($best < 0.25 && $rss*1024 < 3*$size)}" && echo "PASS" || { echo "FAIL"; exit 1; }
