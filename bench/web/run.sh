#!/usr/bin/env bash
# Load on varnakd's web API: ten stations decoding in real time (generated
# bit text paced into FIFOs), 200 WebSocket clients subscribed to everything,
# one client that stops reading, and 100 requests a second on /api/stations,
# for 60 s. Prints the answer times, what the clients got against what the
# server sent, whether the slow client was dropped, whether decoding kept
# pace, and varnakd's RSS as the run goes.
# Usage: bench/web/run.sh [BUILD_DIR] [SECONDS] [CLIENTS]   (default build/rel, 60, 200)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$top/build/rel}
seconds=${2:-60}
clients=${3:-200}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNAK_TESTS=OFF >/dev/null
fi
cmake --build "$build" -j2 --target varnakd murlin rdsgen bench_web_load >/dev/null

work=$(mktemp -d)
daemon=
trap '[ -z "$daemon" ] || kill "$daemon" 2>/dev/null; rm -rf "$work"' EXIT
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
head -c 24 /dev/urandom | base64 | tr -d '/+=' >"$work/token"
chmod 600 "$work/token"
start=$(date -u +%Y-%m-%dT%H:%M:%SZ)
feeds=()
{
  printf '[service]\nsite = bench\nstate = %s/state\nlog-level = warning\n' "$work"
  printf '[web]\nlisten = 127.0.0.1:%s\ntoken-file = %s/token\nclients = %s\n' "$port" "$work" $((clients + 10))
  for n in 0 1 2 3 4 5 6 7 8 9; do
    cat >"$work/s$n.rds" <<STATION
pi 0xD3C$n
pty 10
tp 1
ps "BENCH $n "
rt A "Station $n: radiotext for the web benchmark"
rt A "Station $n: and a second radiotext, so that texts change"
ct 2026-12-08 19:55 +1
STATION
    "$build/bin/rdsgen" --seconds $((seconds + 5)) -o "$work/s$n.txt" "$work/s$n.rds"
    mkfifo "$work/s$n.fifo"
    feeds+=(--feed "$work/s$n.fifo:$work/s$n.txt")
    printf '[source s%s]\nkind = bits\npath = %s/s%s.fifo\nfrequency = 9%s.1\nstart = %s\n' \
      "$n" "$work" "$n" "$n" "$start"
  done
} >"$work/varnakd.conf"

"$build/bin/varnakd" --config "$work/varnakd.conf" 2>"$work/varnakd.log" &
daemon=$!
sleep 1
rss() { awk '/VmRSS/ { print $2 }' "/proc/$daemon/status"; }
cpu() { awk '{ printf "%.1f", ($14 + $15) / 100 }' "/proc/$daemon/stat"; }
echo "varnakd RSS before the clients: $(rss) KiB"
( for t in $(seq 10 10 $((seconds + 30))); do sleep 10; echo "  varnakd RSS at ${t} s: $(rss) KiB, CPU $(cpu) s"; done ) &
sampler=$!
"$build/bin/bench_web_load" --port "$port" --token "$(cat "$work/token")" --clients "$clients" --rate 100 \
  --seconds "$seconds" "${feeds[@]}"
kill "$sampler" 2>/dev/null || true
echo "varnakd RSS at the end: $(rss) KiB, CPU $(cpu) s"
grep -v '^varnakd: web API on\|^varnakd: site\|^varnakd: station database' "$work/varnakd.log" | head -5 || true
