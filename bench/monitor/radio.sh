#!/usr/bin/env bash
# Times the monitor on an audio recording of the FM multiplex: the window
# (offscreen) from start-up to the closed decode log, against
# murlin-decode --mpx on the same WAV file. Both logs must be byte-identical.
#
#   bench/monitor/radio.sh [BUILD_DIR] [SECONDS]   (default build/monitor-release, 3600)
#
# Target: the window takes at most 1.5 times as long as murlin-decode --mpx.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$top/build/monitor-release}
seconds=${2:-3600}
. "$top/bench/monitor/common.sh"

# The sample station at 171 kHz with noise (RDS CNR 6 dB): about 1.2 GB for an hour.
"$bin/rdsgen" "$top/data/samples/station.rds" --mpx --cnr 6 -d "$seconds" -o "$work/mpx.wav"

RUNS=${RUNS:-3}  # an hour of multiplex takes seconds per run

headless_ms=$(best "$bin/murlin-decode" -q --mpx -o "$work/headless.out" "$work/mpx.wav")
window_ms=$(best "$bin/varnak" --exit-when-done "$work/mpx.wav")
cmp "$work/mpx.out" "$work/headless.out"
groups=$(grep -c -- '^------------------------------------' "$work/mpx.out" || true)

ratio=$(awk -v w="$window_ms" -v h="$headless_ms" 'BEGIN { printf "%.2f", (h > 0 ? w / h : 0) }')
echo "recording:           $seconds s of multiplex at 171 kHz, $groups groups decoded (logs identical)"
echo "murlin-decode --mpx: $headless_ms ms"
echo "varnak window:       $window_ms ms (offscreen, start-up to closed decode log)"
echo "ratio:               $ratio (target <= 1.5)"
awk -v r="$ratio" 'BEGIN { exit !(r <= 1.5) }' || { echo "TARGET MISSED" >&2; exit 1; }
