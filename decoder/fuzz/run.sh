#!/usr/bin/env bash
# Builds the decoder's libFuzzer target with AddressSanitizer and
# UndefinedBehaviorSanitizer and runs it for a bounded time.
#   decoder/fuzz/run.sh BUILD_DIR SECONDS
# Exits non-zero on any finding (crash, sanitizer report, failed invariant);
# skips (exit 0) only when clang++ is not installed.
set -euo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 BUILD_DIR SECONDS" >&2
  exit 2
fi
build=$1
seconds=$2
case $seconds in
  ''|*[!0-9]*) echo "run.sh: SECONDS must be a whole number, got '$seconds'" >&2; exit 2 ;;
esac

here=$(cd "$(dirname "$0")" && pwd)
decoder=$(cd "$here/.." && pwd)

cxx=
for c in clang++ clang++-14; do
  if command -v "$c" >/dev/null 2>&1; then cxx=$c; break; fi
done
if [ -z "$cxx" ]; then
  echo "run.sh: clang++ not found; skipping the decoder fuzz run"
  exit 0
fi

mkdir -p "$build"
build=$(cd "$build" && pwd)
flags=(-std=c++20 -O1 -g -fno-omit-frame-pointer -fno-sanitize-recover=undefined
       -DMURLIN_BUILD -I"$decoder/include" -I"$decoder/src" -I"$decoder/encoder")

echo "run.sh: building the fuzz target with $cxx"
"$cxx" "${flags[@]}" -fsanitize=fuzzer,address,undefined \
  "$here/fuzz_murlin.cpp" "$decoder"/src/*.cpp -o "$build/fuzz_murlin"
"$cxx" "${flags[@]}" "$here/make_seeds.cpp" "$decoder/encoder/rds_encoder.cpp" -o "$build/make_seeds"

corpus="$build/corpus"
rm -rf "$corpus"
mkdir -p "$corpus"
"$build/make_seeds" "$corpus"

echo "run.sh: fuzzing for $seconds s"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
unset MURLIN_TRACE
cd "$build"
"$build/fuzz_murlin" -max_total_time="$seconds" -max_len=2048 -timeout=10 \
  -print_final_stats=1 -artifact_prefix="$build/" "$corpus" 2>"$build/fuzz.log" || {
  status=$?
  tail -n 60 "$build/fuzz.log" >&2
  echo "run.sh: the fuzz target found a fault (exit $status); see $build/fuzz.log" >&2
  exit 1
}
grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|#[0-9]+ +DONE)' "$build/fuzz.log" || true
echo "run.sh: no findings in $seconds s"
