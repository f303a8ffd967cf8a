#!/usr/bin/env bash
# Times the monitor on a one-hour recording with the history window open
# (varnak --history) against the same run without it: the history must not
# slow decoding down by more than 10 %. The decoding time is the run's time
# less that of a run on a two-second recording (start-up, showing the
# windows, closing), so the window's fixed cost of appearing is shown apart.
# Also times murlin-decode --history against plain murlin-decode.
#
#   bench/monitor/history.sh [BUILD_DIR]     (default build/monitor-release)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$top/build/monitor-release}
. "$top/bench/monitor/common.sh"

# One hour at 1187.5 bit/s of the sample station, with noise before it and
# a few bit errors throughout.
"$bin/rdsgen" -d 3600 --garbage 2000 --error-rate 0.0002 -o "$work/hour.txt" "$top/data/samples/station.rds"
"$bin/rdsgen" -d 2 -o "$work/short.txt" "$top/data/samples/station.rds"

# Wall-clock milliseconds of one run.
run_ms() {
  local t0 t1
  t0=$(date +%s%N)
  "$@" >/dev/null 2>"$work/stderr" || { cat "$work/stderr" >&2; exit 1; }
  t1=$(date +%s%N)
  echo $(( (t1 - t0) / 1000000 ))
}
# Best of nine runs of each of two commands (the first N words are the
# first command), taken in turns so that the load of the shared machine
# falls on both alike. Prints "A B".
pair() {
  local a=999999 b=999999 ms i n=$1
  shift
  local -a first=("${@:1:n}")
  shift "$n"
  for i in 1 2 3 4 5 6 7 8 9; do
    ms=$(run_ms "${first[@]}"); [ "$ms" -lt "$a" ] && a=$ms
    ms=$(run_ms "$@"); [ "$ms" -lt "$b" ] && b=$ms
  done
  echo "$a $b"
}

read -r plain_ms history_ms < <(pair 3 "$bin/varnak" --exit-when-done "$work/hour.txt" \
  "$bin/varnak" --exit-when-done --history "$work/hour.txt")
read -r start_ms start_history_ms < <(pair 3 "$bin/varnak" --exit-when-done "$work/short.txt" \
  "$bin/varnak" --exit-when-done --history "$work/short.txt")
read -r decode_ms decode_history_ms < <(pair 5 "$bin/murlin-decode" -q -o /dev/null "$work/hour.txt" \
  "$bin/murlin-decode" -q --history -o /dev/null "$work/hour.txt")

ratio=$(awk -v a="$history_ms" -v b="$plain_ms" 'BEGIN { printf "%.3f", (b > 0 ? a / b : 0) }')
decode_plain=$(( plain_ms - start_ms ))
decode_history=$(( history_ms - start_history_ms ))
decode_ratio=$(awk -v a="$decode_history" -v b="$decode_plain" 'BEGIN { printf "%.3f", (b > 0 ? a / b : 0) }')
echo "varnak:                  $plain_ms ms (start-up and close $start_ms ms)"
echo "varnak --history:        $history_ms ms (start-up and close $start_history_ms ms), whole run ratio $ratio"
echo "decoding the hour:       $decode_plain ms alone, $decode_history ms with the history window"
echo "                         (ratio $decode_ratio, target <= 1.10)"
echo "murlin-decode:           $decode_ms ms"
echo "murlin-decode --history: $decode_history_ms ms"
awk -v r="$decode_ratio" 'BEGIN { exit !(r <= 1.10) }' || { echo "TARGET MISSED" >&2; exit 1; }
