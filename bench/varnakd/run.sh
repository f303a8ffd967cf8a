#!/usr/bin/env bash
# Benchmarks of varnakd (Release build):
#   bits [HOURS]  the service against murlin-decode on ten bit recordings: CPU
#                 time, peak RSS and the database's size (the default)
#   band [SECONDS]  ten stations of a 2.4 MS/s capture: the service (band
#                 source, database, MQTT on a real mosquitto) against
#                 murlin-decode --band on the same capture, in CPU seconds;
#                 the goal is at most 30 % of one core more
#   soak [MINUTES]  memory over a soak (default 10 min): ten bit recordings
#                 read at 20 x real time, and a 2.4 MS/s capture of ten
#                 stations looped through a FIFO into a band source as fast as
#                 it decodes; RSS sampled every 10 s
# Usage: bench/varnakd/run.sh [bits|band|soak] [ARG] [BUILD_DIR]   (build default build/bench-release)
#        bench/varnakd/run.sh BUILD_DIR [HOURS]                      (bits, as before)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
case ${1:-bits} in
bits | band | soak)
  mode=${1:-bits}
  arg=${2:-}
  build=${3:-$top/build/bench-release}
  ;;
*)
  mode=bits
  build=$1
  arg=${2:-}
  ;;
esac
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNAK_TESTS=OFF >/dev/null
fi
cmake --build "$build" -j2 --target varnakd murlin-decode murlin rdsgen >/dev/null

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
export ASAN_OPTIONS=detect_leaks=0:quarantine_size_mb=1  # sanitized builds: RSS without the quarantine

station() {  # station N: its description file
  cat >"$work/s$1.rds" <<STATION
pi 0xD3C$1
pty 10
tp 1
ps "BENCH $1 "
rt A "Station $1: radiotext for the benchmark of the service"
ct 2026-12-08 19:55 +1
STATION
}
for n in 0 1 2 3 4 5 6 7 8 9; do station $n; done

port=
start_broker() {
  if command -v mosquitto >/dev/null || [ -x /usr/sbin/mosquitto ]; then
    port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
    printf 'listener %s 127.0.0.1\nallow_anonymous true\n' "$port" >"$work/mosquitto.conf"
    /usr/sbin/mosquitto -c "$work/mosquitto.conf" >/dev/null 2>&1 &
    pids+=($!)
    sleep 0.5
  fi
}

measure() {  # prints "CPU seconds, peak RSS KiB" of the command
  /usr/bin/time -f '%U %S %M' -o "$work/time" "$@" >/dev/null 2>"$work/stderr" || {
    cat "$work/stderr" >&2
    return 1
  }
  awk '{ printf "%.2f s CPU, %d KiB peak RSS", $1 + $2, $3 }' "$work/time"
}
cpu() { awk '{ printf "%.2f", $1 + $2 }' "$work/time"; }

bits_recordings() {  # HOURS: ten bit recordings s0.txt .. s9.txt
  for n in 0 1 2 3 4 5 6 7 8 9; do
    "$build/bin/rdsgen" --seconds "$(awk -v h="$1" 'BEGIN { print int(h * 3600) }')" --error-rate 0.0007 \
      -o "$work/s$n.txt" "$work/s$n.rds"
  done
}

capture() {  # SECONDS: ten stations 97.1 .. 98.9 MHz, 2.4 MS/s cu8 around 98 MHz
  local args=()
  for n in 0 1 2 3 4 5 6 7 8 9; do args+=(--station "$(awk -v n=$n 'BEGIN { printf "%.1f", 97.1 + 0.2 * n }')M:$work/s$n.rds"); done
  "$build/bin/rdsgen" --iq cu8 --rate 2.4M --center 98M --cn 30 --stereo -d "$1" -o "$work/cap.cu8" "${args[@]}"
}

service_head() {  # the [service] and [mqtt] sections
  printf '[service]\nsite = bench\nstate = %s/state\nlog-level = warning\n' "$work"
  [ -z "$port" ] || printf '[mqtt]\nport = %s\n' "$port"
}

case $mode in
bits)
  hours=${arg:-1}
  bits_recordings "$hours"
  start_broker
  {
    service_head
    for n in 0 1 2 3 4 5 6 7 8 9; do
      printf '[source s%s]\nkind = bits\npath = %s/s%s.txt\nfrequency = 9%s.1\nstart = 2026-12-08T19:55:00Z\n' \
        "$n" "$work" "$n" "$n"
    done
  } >"$work/varnakd.conf"
  echo "varnakd, 10 stations x $hours h (database${port:+, MQTT}): $(measure "$build/bin/varnakd" --config "$work/varnakd.conf")"
  echo "database: $(du -k "$work/state/varnakd.db" | cut -f1) KiB"
  total=0
  for n in 0 1 2 3 4 5 6 7 8 9; do
    /usr/bin/time -f '%U %S' -o "$work/time" "$build/bin/murlin-decode" -o /dev/null "$work/s$n.txt" >/dev/null 2>&1
    total=$(awk -v t="$total" '{ print t + $1 + $2 }' "$work/time")
  done
  echo "murlin-decode, the same 10 recordings one after the other: $total s CPU"
  ;;
band)
  seconds=${arg:-30}
  capture "$seconds"
  start_broker
  {
    service_head
    printf '[source air]\nband = yes\npath = %s/cap.cu8\niq = cu8\nrate = 2.4M\ncenter = 98M\nstart = 2026-12-08T19:55:00Z\n' "$work"
  } >"$work/varnakd.conf"
  echo "capture: 10 stations, 2.4 MS/s cu8, $seconds s"
  echo "murlin-decode --band: $(measure "$build/bin/murlin-decode" -q --iq cu8 --rate 2.4M --center 98M --band -o /dev/null "$work/cap.cu8")"
  decode=$(cpu)
  echo "varnakd (band source, database${port:+, MQTT}): $(measure "$build/bin/varnakd" --config "$work/varnakd.conf")"
  service=$(cpu)
  stations=$(sqlite3 "$work/state/varnakd.db" 'SELECT COUNT(DISTINCT name) FROM stations' 2>/dev/null || echo '?')
  echo "stations in the database: $stations"
  awk -v d="$decode" -v s="$service" -v t="$seconds" 'BEGIN {
    printf "service / decoder: %.3f x CPU; extra: %.1f %% of the decoder'\''s CPU, %.1f %% of one core at real time\n",
      s / d, 100 * (s - d) / d, 100 * (s - d) / t }'
  ;;
soak)
  minutes=${arg:-10}
  # Bit recordings long enough for the soak at 20 x real time, and a 20-s capture looped.
  bits_recordings "$(awk -v m="$minutes" 'BEGIN { print m * 20 / 60 + 0.1 }')"
  capture 20
  mkfifo "$work/band.fifo"
  start_broker
  {
    service_head
    for n in 0 1 2 3 4 5 6 7 8 9; do
      printf '[source s%s]\nkind = bits\npath = %s/s%s.txt\nfrequency = 8%s.1\nstart = 2026-12-08T19:55:00Z\nrealtime = 20\n' \
        "$n" "$work" "$n" "$n"
    done
    printf '[source air]\nband = yes\npath = %s/band.fifo\niq = cu8\nrate = 2.4M\ncenter = 98M\nstart = 2026-12-08T19:55:00Z\n' "$work"
  } >"$work/varnakd.conf"
  (while :; do cat "$work/cap.cu8"; done >"$work/band.fifo") 2>/dev/null &
  pids+=($!)
  "$build/bin/varnakd" --config "$work/varnakd.conf" 2>"$work/varnakd.log" &
  service=$!
  pids+=($service)
  echo "| minute | RSS (MiB) | CPU (s) |"
  echo "|---:|---:|---:|"
  for ((i = 0; i <= minutes * 6; i++)); do
    if ! kill -0 "$service" 2>/dev/null; then
      echo "varnakd ended early:" >&2
      cat "$work/varnakd.log" >&2
      exit 1
    fi
    read -r rss < <(awk '/^VmRSS/ { print $2 }' "/proc/$service/status")
    ticks=$(awk '{ print $14 + $15 }' "/proc/$service/stat")
    awk -v i="$i" -v r="$rss" -v t="$ticks" -v hz="$(getconf CLK_TCK)" \
      'BEGIN { printf "| %.2f | %.1f | %.0f |\n", i / 6, r / 1024, t / hz }'
    [ "$i" -eq $((minutes * 6)) ] || sleep 10
  done
  kill "$service"
  wait "$service" 2>/dev/null || true
  # How much signal went through: the newest group of each kind of source,
  # on the recordings' clocks (they all start at 19:55:00).
  for kind in "bit recordings:name LIKE '8_.1'" "band capture:name NOT LIKE '8_.1'"; do
    sqlite3 "$work/state/varnakd.db" "SELECT MAX(last_seen) FROM stations WHERE ${kind#*:}" |
      awk -v k="${kind%%:*}" -v m="$minutes" '{ s = ($1 - 179675970000) / 100;
        printf "%s: %.0f s of signal in %d min, %.1f x real time\n", k, s, m, s / (60 * m) }'
  done
  echo "alarm lines in the log: $(grep -c "alarm" "$work/varnakd.log" || true)"
  ;;
*)
  echo "usage: $0 [bits|band|soak] [ARG] [BUILD_DIR]" >&2
  exit 2
  ;;
esac
