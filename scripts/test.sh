#!/usr/bin/env bash
# Builds everything in the debug configuration with AddressSanitizer and
# UndefinedBehaviorSanitizer, runs every test through ctest, then clang-tidy.
# The sources' layout is checked first: a file that .clang-format would change
# fails the run at once.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/scripts/deps.sh"
ensure_packages "${varnak_packages[@]}"

"$top/scripts/format.sh" --check

build="$top/build/ci"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVARNAK_SANITIZE=ON >/dev/null
cmake --build "$build" -j "$(nproc)"

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$top/scripts/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"

# clang-tidy over the tree's own sources as this build compiles them
# (.clang-tidy); any finding fails. Sources unchanged since they last passed
# are skipped.
"$top/scripts/tidy.sh" "$build"

# The decoder's fuzz target (clang's libFuzzer), a short bounded run.
"$top/decoder/fuzz/run.sh" "$top/build/fuzz" 20
