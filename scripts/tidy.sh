#!/usr/bin/env bash
# Runs clang-tidy (the checks of .clang-tidy) over the tree's own sources as
# a build compiles them, several at once; any finding fails the run.
# Usage: scripts/tidy.sh BUILD_DIR [PATH...]
#   BUILD_DIR: a configured and built tree (its compile_commands.json; the
#   build makes the Qt meta-object files the sources include).
#   PATH: only the sources under these files or folders (relative to the top).
# Generated sources are left out. A source whose compile command, own text,
# the tree's headers and .clang-tidy are unchanged since it last passed is not
# checked again (stamps in BUILD_DIR/tidy).
# TIDY_JOBS sets how many run at once (default: the number of processors).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
[ $# -ge 1 ] || { echo "usage: $0 BUILD_DIR [PATH...]" >&2; exit 2; }
build=$(cd "$1" && pwd)
shift
[ -f "$build/compile_commands.json" ] || { echo "$build/compile_commands.json is missing: configure the build first" >&2; exit 1; }
command -v clang-tidy >/dev/null || { echo "clang-tidy is missing (scripts/deps.sh lists it)" >&2; exit 1; }

stamps="$build/tidy"
mkdir -p "$stamps"
# One line per source: its stamp's name, then its path.
list=$(python3 "$top/scripts/tidy_sources.py" "$top" "$build" "$stamps" "$@")
todo=()
total=0
while read -r stamp file; do
  [ -n "$stamp" ] || continue
  total=$((total + 1))
  [ -e "$stamps/$stamp" ] || todo+=("$stamp" "$file")
done <<< "$list"
echo "clang-tidy: $(( ${#todo[@]} / 2 )) of $total sources to check"
[ ${#todo[@]} -eq 0 ] && exit 0

export stamps
check_one() {
  local out
  if out=$(clang-tidy --quiet -p "$stamps" "$2" 2>&1); then
    : > "$stamps/$1"
  else
    printf '%s\n' "$out" | grep -v -E '^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$' >&2
    return 1
  fi
}
export -f check_one
if ! printf '%s\n' "${todo[@]}" | xargs -d '\n' -n 2 -P "${TIDY_JOBS:-$(nproc)}" bash -c 'check_one "$@"' _; then
  echo "clang-tidy: findings above (fix them, or silence one with NOLINT(check) and the reason)" >&2
  exit 1
fi
echo "clang-tidy: no findings"
