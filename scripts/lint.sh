#!/usr/bin/env bash
# The checks CI adds to the tests: the sources' layout (.clang-format),
# clang-tidy over the tree's own sources (.clang-tidy; any finding fails) and
# a short run of the decoder's fuzz target. Every check runs; the script
# exits 1 when any failed and names them.
#   scripts/lint.sh [BUILD_DIR]   (default build/ci, configured by scripts/test.sh
#                                  or here when it is not)
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/scripts/deps.sh"
ensure_packages "${varnak_packages[@]}" || exit 1
build=${1:-$top/build/ci}
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$top}
export CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-true}

failed=()
"$top/scripts/format.sh" --check || failed+=("layout (scripts/format.sh --check)")

# clang-tidy reads the build's compile commands and the Qt meta-object files
# it generates.
if { [ -f "$build/compile_commands.json" ] ||
     cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVARNAK_SANITIZE=ON >/dev/null; } &&
   cmake --build "$build" -j "$(nproc)" >/dev/null; then
  "$top/scripts/tidy.sh" "$build" || failed+=("clang-tidy (scripts/tidy.sh)")
else
  failed+=("the build clang-tidy needs")
fi

"$top/decoder/fuzz/run.sh" "$top/build/fuzz" 20 || failed+=("fuzzing (decoder/fuzz/run.sh)")

if [ ${#failed[@]} -gt 0 ]; then
  printf 'lint: failed: %s\n' "${failed[@]}" >&2
  exit 1
fi
echo "lint: layout, clang-tidy and fuzzing passed"
