#!/usr/bin/env bash
# Speed and memory of murlin-decode --mpx: a 300-s multiplex (sample
# station, CNR 0 dB) at 171 kHz and at 228 kHz, decoded from a WAV file and
# from raw samples on standard input. Prints times real time (signal length
# over wall time, and over CPU time) and peak RSS; then the peak RSS for 60 s
# and 600 s streamed through a pipe, which must be the same (bounded memory).
# Usage: bench/radio/throughput.sh [BUILD_DIR]   (default build/bench-release)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$top/build/bench-release}
# A folder with bin/ but no build (a copy of the programs) is used as it is.
if [ -f "$build/CMakeCache.txt" ] || [ ! -d "$build/bin" ]; then
  if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNAK_TESTS=OFF >/dev/null
  fi
  cmake --build "$build" -j2 --target rdsgen murlin-decode murlin >/dev/null
fi
bin=$build/bin
station=$top/data/samples/station.rds
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
seconds=300

# Runs the decoder under /usr/bin/time; prints wall, CPU (user + sys) and peak RSS.
measure() {
  /usr/bin/time -v -o "$work/time" "$@" > /dev/null 2> "$work/err" || { cat "$work/err" "$work/time"; exit 1; }
  awk -F': ' '
    /Elapsed \(wall clock\)/ { n = split($2, p, ":"); wall = (n == 3 ? p[1] * 3600 + p[2] * 60 + p[3] : p[1] * 60 + p[2]) }
    /User time/ { cpu += $2 } /System time/ { cpu += $2 }
    /Maximum resident/ { rss = $2 }
    END { printf "%.3f %.3f %d\n", wall, cpu, rss }' "$work/time"
}

echo "| rate | input | signal | wall | CPU | x real time (wall) | x real time (CPU) | peak RSS |"
echo "|---:|---|---:|---:|---:|---:|---:|---:|"
for rate in 171000 228000; do
  "$bin/rdsgen" "$station" --mpx --cnr 0 --rate $rate -d $seconds -o "$work/mpx.wav"
  tail -c +45 "$work/mpx.wav" > "$work/mpx.raw"  # the 16-bit samples behind the 44-byte header
  for input in wav raw; do
    if [ $input = wav ]; then
      read -r wall cpu rss < <(measure "$bin/murlin-decode" -q --mpx -o /dev/null "$work/mpx.wav")
    else
      read -r wall cpu rss < <(measure sh -c "exec '$bin/murlin-decode' -q --mpx --rate $rate -o /dev/null - < '$work/mpx.raw'")
    fi
    awk -v r=$rate -v i=$input -v s=$seconds -v w="$wall" -v c="$cpu" -v m="$rss" 'BEGIN {
      printf "| %d Hz | %s | %d s | %.2f s | %.2f s | %.0f | %.0f | %.1f MB |\n", r, (i == "wav" ? "WAV file" : "raw, standard input"),
             s, w, c, s / (w > 0.01 ? w : 0.01), s / (c > 0.01 ? c : 0.01), m / 1024 }'
  done
  rm -f "$work/mpx.wav" "$work/mpx.raw"
done

echo
echo "Peak RSS of a stream through a pipe (171 kHz, rdsgen --mpx --raw | murlin-decode --mpx):"
for length in 60 600; do
  "$bin/rdsgen" "$station" --mpx --raw --cnr 0 -d $length -o - |
    /usr/bin/time -v -o "$work/time" "$bin/murlin-decode" -q --mpx --rate 171000 --json -o /dev/null -
  echo "  $length s: $(awk -F': ' '/Maximum resident/ { printf "%.1f MB", $2 / 1024 }' "$work/time")"
done
