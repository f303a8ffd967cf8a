#!/usr/bin/env bash
# Measures varnakd against murlin-decode on the same recordings of ten
# stations: the CPU time of each (the service with its station database on,
# and MQTT when a broker is installed), and the service's peak RSS on one
# hour and on ten hours of signal, which must stay the same: every queue,
# list and window of the service is bounded.
# Usage: bench/varnakd/run.sh [BUILD_DIR] [HOURS]   (default build/bench-release, 1)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$top/build/bench-release}
hours=${2:-1}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNAK_TESTS=OFF >/dev/null
fi
cmake --build "$build" -j2 --target varnakd murlin-decode murlin rdsgen >/dev/null

work=$(mktemp -d)
broker=
trap 'rm -rf "$work"; [ -z "$broker" ] || kill "$broker"' EXIT
export ASAN_OPTIONS=detect_leaks=0:quarantine_size_mb=1  # sanitized builds: RSS without the quarantine

# Ten stations, each its own recording.
for n in 0 1 2 3 4 5 6 7 8 9; do
  cat >"$work/s$n.rds" <<STATION
pi 0xD3C$n
pty 10
tp 1
ps "BENCH $n "
rt A "Station $n: an hour of radiotext for the benchmark"
ct 2026-12-08 19:55 +1
STATION
  "$build/bin/rdsgen" --seconds $((hours * 3600)) --error-rate 0.0007 -o "$work/s$n.txt" "$work/s$n.rds"
done

port=
if command -v mosquitto >/dev/null || [ -x /usr/sbin/mosquitto ]; then
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
  printf 'listener %s 127.0.0.1\nallow_anonymous true\n' "$port" >"$work/mosquitto.conf"
  /usr/sbin/mosquitto -c "$work/mosquitto.conf" >/dev/null 2>&1 &
  broker=$!
  sleep 0.5
fi
{
  printf '[service]\nsite = bench\nstate = %s/state\nlog-level = warning\n' "$work"
  for n in 0 1 2 3 4 5 6 7 8 9; do
    printf '[source s%s]\nkind = bits\npath = %s/s%s.txt\nfrequency = 9%s.1\nstart = 2026-12-08T19:55:00Z\n' \
      "$n" "$work" "$n" "$n"
  done
  [ -z "$port" ] || printf '[mqtt]\nport = %s\n' "$port"
} >"$work/varnakd.conf"

measure() {  # prints "CPU seconds, peak RSS KiB" of the command
  /usr/bin/time -f '%U %S %M' -o "$work/time" "$@" >/dev/null 2>&1
  awk '{ printf "%.2f s CPU, %d KiB peak RSS", $1 + $2, $3 }' "$work/time"
}
echo "varnakd, 10 stations x $hours h (database${port:+, MQTT}): $(measure "$build/bin/varnakd" --config "$work/varnakd.conf")"
echo "database: $(du -k "$work/state/varnakd.db" | cut -f1) KiB"
total=0
for n in 0 1 2 3 4 5 6 7 8 9; do
  /usr/bin/time -f '%U %S' -o "$work/time" "$build/bin/murlin-decode" -o /dev/null "$work/s$n.txt" >/dev/null 2>&1
  total=$(awk -v t="$total" '{ print t + $1 + $2 }' "$work/time")
done
echo "murlin-decode, the same 10 recordings one after the other: $total s CPU"
