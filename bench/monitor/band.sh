#!/usr/bin/env bash
# CPU time of the monitor's band run against murlin-decode --band on the
# same IQ capture: ten stations in 2.4 MS/s cu8 made by rdsgen --iq. Both
# decode every station into its own log; every log must be byte-identical.
# The window runs offscreen from start-up to its closed logs, the band
# window open (spectrum, waterfall and table redrawn ten times a second).
#
#   bench/monitor/band.sh [BUILD_DIR] [SECONDS]   (default build/monitor-release, 10)
#
# Then bench_band_window picks a station every 50 ms while the window
# decodes the same capture, and times each answer.
#
# Targets: the window's CPU time (user + system) at most 1.3 times
# murlin-decode's; every pick answered within 100 ms.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$top/build/monitor-release}
seconds=${2:-10}
. "$top/bench/monitor/common.sh"

# Ten stations 200 kHz apart around 98 MHz, each with its own PI and PS,
# levels from 0 to -18 dB.
stations=()
for i in 0 1 2 3 4 5 6 7 8 9; do
  mhz=$(awk -v i="$i" 'BEGIN { printf "%.1f", 97.1 + 0.2 * i }')
  sed -e "s/^pi .*/pi 0x$(printf '%X' $((0xC200 + i)))/" -e "s/^ps .*/ps \"BAND $i\"/" \
    "$top/data/samples/station.rds" >"$work/s$i.rds"
  stations+=(--station "${mhz}M:$work/s$i.rds:-$((2 * i))")
done
"$bin/rdsgen" --iq cu8 --rate 2.4M --center 98M "${stations[@]}" --cn 30 --stereo -d "$seconds" \
  -o "$work/cap.cu8" >/dev/null

# CPU seconds (user + system) of the best of RUNS runs.
cpu() {
  local best= t i
  for ((i = 0; i < ${RUNS:-3}; i++)); do
    /usr/bin/time -f '%U %S' -o "$work/time" "$@" >/dev/null 2>"$work/stderr" || { cat "$work/stderr" >&2; exit 1; }
    t=$(awk '{ printf "%.2f", $1 + $2 }' "$work/time")
    if [ -z "$best" ] || awk -v a="$t" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$t; fi
  done
  echo "$best"
}

headless=$(cpu "$bin/murlin-decode" -q --iq cu8 --rate 2.4M --center 98M -o "$work/ref.out" "$work/cap.cu8")
window=$(cpu "$bin/varnak" --exit-when-done --iq cu8 --rate 2.4M --center 98M "$work/cap.cu8")
logs=0
for ref in "$work"/ref-*.out; do
  cmp "$ref" "$work/cap-${ref##*/ref-}"
  logs=$((logs + 1))
done
# The answer-time program is a benchmark target of the same build.
cmake -S "$top" -B "$build" -DVARNAK_BENCH=ON >/dev/null
cmake --build "$build" --target bench_band_window -j "${JOBS:-2}" >/dev/null
answers=$("$bin/bench_band_window" "$work/cap.cu8" 2.4M 98M 2>/dev/null)
longest=$(sed -n 's/.*longest \([0-9.]*\) ms.*/\1/p' <<<"$answers")

ratio=$(awk -v w="$window" -v h="$headless" 'BEGIN { printf "%.2f", (h > 0 ? w / h : 0) }')
echo "capture:              $seconds s of 2.4 MS/s cu8, 10 stations, $logs station logs (identical)"
echo "murlin-decode --band: $headless s CPU"
echo "varnak band window:   $window s CPU (offscreen, start-up to closed logs)"
echo "ratio:                $ratio (target <= 1.3)"
echo "picks while decoding: $answers (target: longest <= 100 ms)"
awk -v r="$ratio" -v l="$longest" 'BEGIN { exit !(r <= 1.3 && l != "" && l <= 100) }' || { echo "TARGET MISSED" >&2; exit 1; }
