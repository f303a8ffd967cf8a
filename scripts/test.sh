#!/usr/bin/env bash
# Builds everything in the debug configuration with AddressSanitizer and
# UndefinedBehaviorSanitizer and runs every test through ctest. Every test
# runs even when some fail; the failures are listed together at the end and
# the script then exits 1. The style checks (layout, clang-tidy) and the
# fuzzing run are scripts/lint.sh's, which CI runs as well.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/scripts/deps.sh"
ensure_packages "${varnak_packages[@]}"

# Through ccache (when installed) a fresh clone of sources built before, in
# any folder, compiles from the cache.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$top}
export CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-true}

build="$top/build/ci"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVARNAK_SANITIZE=ON >/dev/null
cmake --build "$build" -j "$(nproc)"

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$top/scripts/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# ctest runs every test and closes with the list of those that failed.
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
