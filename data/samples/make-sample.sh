#!/usr/bin/env bash
# Rebuilds the sample recording station.txt from the station description
# station.rds: three minutes of RDS at 1187.5 bit/s with a few noisy
# stretches, always the same bits (fixed seed).
# The generator is taken from $RDSGEN, or built in build/release.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)

rdsgen=${RDSGEN:-}
if [ -z "$rdsgen" ]; then
  build="$top/build/release"
  cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNAK_TESTS=OFF >/dev/null
  cmake --build "$build" --target rdsgen -j 2 >/dev/null
  rdsgen="$build/bin/rdsgen"
fi

# 300 bits of noise before the first group (tuning in), a light error rate
# all through (single bits the decoder repairs) and four noisy stretches:
# a short fade, a longer dropout, a crackle and a fade near the end.
"$rdsgen" "$here/station.rds" \
  --seconds 180 --seed 1974 \
  --garbage 300 \
  --error-rate 0.0004 \
  --burst 31s:0.6s:0.5 \
  --burst 74s:2.5s:0.5 \
  --burst 118s:4s:0.03 \
  --burst 161s:1.2s:0.4 \
  -o "$here/station.txt"
echo "Wrote $here/station.txt ($(wc -c < "$here/station.txt") bits)"
