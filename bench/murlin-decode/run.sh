#!/usr/bin/env bash
# Measures murlin-decode on a one-hour recording (about 4.3 million bits):
# wall time of the whole run (file read, decode, log written) and peak RSS,
# and the peak RSS again on ten hours, which must stay the same: inputs are
# read piece by piece.
# Usage: bench/murlin-decode/run.sh [BUILD_DIR]   (default build/bench-release)
# Targets: under 0.25 s, and peak RSS under 16 MiB for one hour and for ten.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$top/build/bench-release}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNAK_TESTS=OFF >/dev/null
fi
cmake --build "$build" -j2 --target murlin-decode murlin murlin-decode-recording >/dev/null
# The station generator, when the build has it, makes the recording.
cmake --build "$build" -j2 --target rdsgen >/dev/null 2>&1 || true

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
input="$work/hour.txt"
if [ -x "$build/bin/rdsgen" ]; then
  cat >"$work/station.txt" <<'STATION'
pi 0xD3C2
pty 10
tp 1
ms music
di stereo
ps "BENCH FM"
af 97.4 89.1 101.7
rt A "An hour of radiotext for the benchmark, sixty-four chars long!!"
ct 2026-12-08 19:55 +1
tmc event=101 location=0x3A2F extent=2 duration=3 direction=1 diversion=0 t=0 f=1
eon 0xD3C3 ps="BENCH 2 " tp=1 ta=0 pty=3
schedule 0A*4 2A*4 8A 14A 0A*4 2A*4 8A 4A
STATION
  "$build/bin/rdsgen" --seconds 3600 --error-rate 0.0007 -o "$input" "$work/station.txt"
  maker=rdsgen
else
  "$build/bin/murlin-decode-recording" "$input" 3600
  maker=murlin-decode-recording
fi
size=$(stat -c %s "$input")

# Best of five runs: the machine may be shared, and the best run is the one
# least disturbed by other work. CPU time (user + system) is shown as well.
# Wall time in milliseconds from the clock around each run.
best=""
for run in 1 2 3 4 5; do
  start=$(date +%s%N)
  /usr/bin/time -f '%M %U %S' -o "$work/time" "$build/bin/murlin-decode" -q "$input"
  end=$(date +%s%N)
  read -r kb user sys <"$work/time"
  secs=$(awk "BEGIN{printf \"%.3f\", ($end - $start) / 1e9}")
  if [ -z "$best" ] || awk "BEGIN{exit !($secs < $best)}"; then best=$secs; rss=$kb; cpu=$(awk "BEGIN{print $user + $sys}"); fi
done
# The same hour as JSON (every group serialised with its texts' confidence).
jbest=""
for run in 1 2 3 4 5; do
  /usr/bin/time -f '%U %S' -o "$work/jtime" "$build/bin/murlin-decode" -q --json -o "$work/hour.json" "$input"
  read -r user sys <"$work/jtime"
  jcpu=$(awk "BEGIN{print $user + $sys}")
  if [ -z "$jbest" ] || awk "BEGIN{exit !($jcpu < $jbest)}"; then jbest=$jcpu; fi
done
groups=$(grep -c '^------------------------------------' "$work/hour.out")
for i in 1 2 3 4 5 6 7 8 9 10; do cat "$input"; done >"$work/ten.txt"
/usr/bin/time -f '%M' -o "$work/time10" "$build/bin/murlin-decode" -q "$work/ten.txt"
rss10=$(cat "$work/time10")
limit=$((16 * 1024))
echo "input:        $size bits (one hour at 1187.5 bit/s, made by $maker), $(stat -c %s "$work/hour.out") bytes of log, $groups groups"
echo "wall time:    ${best} s (best of 5; target < 0.25 s), CPU ${cpu} s; load average $(cut -d' ' -f1 /proc/loadavg) on $(nproc) cores"
echo "JSON:         CPU ${jbest} s (best of 5), $(stat -c %s "$work/hour.json") bytes"
echo "peak RSS:     ${rss} KiB for one hour, ${rss10} KiB for ten hours (target < $limit KiB for both)"
awk "BEGIN{exit !($best < 0.25 && $rss < $limit && $rss10 < $limit)}" && echo "PASS" || { echo "FAIL"; exit 1; }
