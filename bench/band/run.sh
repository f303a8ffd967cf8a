#!/usr/bin/env bash
# murlin-decode on IQ captures: speed and memory, sensitivity (with the plot
# docs/band-sensitivity.png; needs python3-matplotlib) and selectivity.
# Usage: bench/band/run.sh [speed|sensitivity|selectivity|all] [BUILD_DIR] [band.py options]
#        (default: all, build/bench-release)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
what=${1:-all}
build=${2:-$top/build/bench-release}
shift $(( $# > 2 ? 2 : $# )) || true
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNAK_TESTS=OFF >/dev/null
fi
cmake --build "$build" -j2 --target rdsgen murlin-decode murlin >/dev/null
# The plot needs matplotlib: take the first Python that has it.
python=python3
for p in python3 /usr/bin/python3; do
  if "$p" -c 'import matplotlib' 2>/dev/null; then python=$p; break; fi
done
run() { "$python" "$top/bench/band/band.py" "$build/bin" "$top/data/samples/station.rds" "$@"; }
case $what in
  speed | selectivity) run "$what" "$@" ;;
  sensitivity) run sensitivity --plot "$top/docs/band-sensitivity.png" "$@" ;;
  all)
    run speed "$@"
    run sensitivity --plot "$top/docs/band-sensitivity.png" "$@"
    run selectivity "$@"
    ;;
  *) echo "usage: $0 [speed|sensitivity|selectivity|all] [BUILD_DIR]" >&2; exit 2 ;;
esac
