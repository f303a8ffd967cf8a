#!/usr/bin/env bash
# Measures murlin-decode --groups on a large group log, and on binary and
# malformed input of the same size: wall time and peak RSS. The log is read
# in chunks and cut into bounded lines, so peak RSS must not grow with the
# input: the target is under 32 MiB whatever the size.
# Usage: bench/murlin-decode/groups.sh [BUILD_DIR] [MEGABYTES]
#        (default build/bench-release, 200 MB; 1024 for a 1 GB log)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$top/build/bench-release}
megabytes=${2:-200}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNAK_TESTS=OFF >/dev/null
fi
cmake --build "$build" -j2 --target murlin-decode murlin rdsgen >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat >"$work/station.rds" <<'STATION'
pi 0xD3C2
pty 10
ps "BÜRO FM "
rt A "Radiotext für den Lauf über eine große Gruppenliste"
ct 2026-12-08 19:55 +1
schedule 0A*4 2A*4 4A
STATION
# One hour of groups with a few lost blocks, repeated up to the size asked for.
"$build/bin/rdsgen" --seconds 3600 --error-rate 0.002 -o "$work/hour.txt" "$work/station.rds"
"$build/bin/murlin-decode" -q --format hex -o "$work/hour.groups" "$work/hour.txt"
target=$((megabytes * 1024 * 1024))
: >"$work/big.groups"
while [ "$(stat -c %s "$work/big.groups")" -lt "$target" ]; do cat "$work/hour.groups" >>"$work/big.groups"; done
# Binary data of the same size, and a log whose tail is binary junk.
head -c "$target" /dev/urandom >"$work/random.bin"
{ head -c $((target / 2)) "$work/big.groups"; head -c $((target / 2)) /dev/urandom; } >"$work/tail.groups"

measure() {  # name, expected exit status, arguments...
  local name=$1 want=$2
  shift 2
  local status=0
  /usr/bin/time -f '%e %M' -o "$work/time" "$build/bin/murlin-decode" -q "$@" >"$work/stdout" 2>"$work/err" || status=$?
  read -r secs kb < <(tail -n 1 "$work/time")
  printf '%-28s %8s s  peak RSS %7s KiB  exit %s\n' "$name" "$secs" "$kb" "$status"
  [ "$status" = "$want" ] || { echo "FAIL: exit status $status, expected $want"; cat "$work/err"; exit 1; }
  [ "$kb" -lt 32768 ] || { echo "FAIL: peak RSS above 32 MiB"; exit 1; }
}
lines=$(wc -l <"$work/big.groups")
echo "group log: $(stat -c %s "$work/big.groups") bytes, $lines groups"
measure "group log to decode log" 0 --groups -o "$work/big.out" "$work/big.groups"
echo "  decode log: $(stat -c %s "$work/big.out") bytes"
rm -f "$work/big.out"
measure "group log to statistics" 0 --groups --stats -o /dev/null "$work/big.groups"
tail -n 1 "$work/stdout"
measure "binary input refused" 1 --groups -o /dev/null "$work/random.bin"
measure "log with a binary tail" 0 --groups -o /dev/null "$work/tail.groups"
echo "PASS"
