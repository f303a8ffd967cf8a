#!/usr/bin/env bash
# Builds the release configuration and decodes the bundled sample recording.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/scripts/deps.sh"
ensure_packages "${varnak_packages[@]}"

build="$top/build/release"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNAK_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"

sample="$top/data/samples/station.txt"
"$build/bin/murlin-decode" "$sample"
echo "Decode log: ${sample%????}.out"
