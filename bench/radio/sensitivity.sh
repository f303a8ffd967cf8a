#!/usr/bin/env bash
# Sensitivity of murlin-decode --mpx: groups correct and wrong for RDS CNRs
# of -8 to +4 dB, 60 s per point and three seeds, on the sample station.
# Prints a Markdown table and draws docs/sensitivity.png (needs
# python3-matplotlib).
# Usage: bench/radio/sensitivity.sh [BUILD_DIR] [more sensitivity.py options]
#        (default build/bench-release)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$top/build/bench-release}
shift || true
# A folder with bin/ but no build (a copy of the programs) is used as it is.
if [ -f "$build/CMakeCache.txt" ] || [ ! -d "$build/bin" ]; then
  if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNAK_TESTS=OFF >/dev/null
  fi
  cmake --build "$build" -j2 --target rdsgen murlin-decode murlin >/dev/null
fi
# The plot needs matplotlib: take the first Python that has it.
python=python3
for p in python3 /usr/bin/python3; do
  if "$p" -c 'import matplotlib' 2>/dev/null; then python=$p; break; fi
done
exec "$python" "$top/bench/radio/sensitivity.py" "$build/bin" "$top/data/samples/station.rds" \
  --plot "$top/docs/sensitivity.png" "$@"
