#!/usr/bin/env bash
# Times the monitor on a one-hour recording: the window (offscreen) from
# start-up to the closed decode log, against the headless murlin-decode on
# the same file. Both logs must be byte-identical.
#
#   bench/monitor/run.sh [BUILD_DIR]     (default build/monitor-release)
#
# Targets: the whole run under 2 s, and at most three times murlin-decode.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$top/build/monitor-release}
. "$top/bench/monitor/common.sh"

# One hour at 1187.5 bit/s (4 275 000 bits) of the sample station, with
# noise before it and a few bit errors throughout.
"$bin/rdsgen" -d 3600 --garbage 2000 --error-rate 0.0002 -o "$work/hour.txt" "$top/data/samples/station.rds"
bits=$(stat -c %s "$work/hour.txt")


headless_ms=$(best "$bin/murlin-decode" -q -o "$work/headless.out" "$work/hour.txt")
window_ms=$(best "$bin/varnak" --exit-when-done "$work/hour.txt")
cmp "$work/hour.out" "$work/headless.out"
groups=$(grep -c -- '^------------------------------------' "$work/hour.out" || true)

ratio=$(awk -v w="$window_ms" -v h="$headless_ms" 'BEGIN { printf "%.2f", (h > 0 ? w / h : 0) }')
echo "recording:     $bits bits, $groups groups decoded (logs identical)"
echo "murlin-decode: $headless_ms ms"
echo "varnak window: $window_ms ms (offscreen, start-up to closed decode log)"
echo "ratio:         $ratio (target <= 3), window target < 2000 ms"
awk -v w="$window_ms" -v r="$ratio" 'BEGIN { exit !(w < 2000 && r <= 3) }' || { echo "TARGET MISSED" >&2; exit 1; }
