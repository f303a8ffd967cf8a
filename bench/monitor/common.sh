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
