# Sourced by the monitor's benchmark scripts after they set `top` and
# `build`: builds the release programs they time, and gives `bin` (the
# programs) and `work` (a scratch folder removed on exit, also holding the
# settings so that the user's own are never touched). The window runs
# offscreen.
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNAK_TESTS=OFF -DVARNAK_BENCH=OFF >/dev/null
cmake --build "$build" --target varnak murlin murlin-decode rdsgen -j "${JOBS:-2}" >/dev/null
bin=$build/bin

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work/config QT_QPA_PLATFORM=offscreen

# The best of RUNS (default 5) wall-clock runs of a command, in
# milliseconds: the machine is shared. The command's output is dropped; a
# failing run ends the benchmark with its error.
best() {
  local best_ms= t0 t1 ms i
  for ((i = 0; i < ${RUNS:-5}; i++)); do
    t0=$(date +%s%N)
    "$@" >/dev/null 2>"$work/stderr" || { cat "$work/stderr" >&2; exit 1; }
    t1=$(date +%s%N)
    ms=$(( (t1 - t0) / 1000000 ))
    if [ -z "$best_ms" ] || [ "$ms" -lt "$best_ms" ]; then best_ms=$ms; fi
  done
  echo "$best_ms"
}
