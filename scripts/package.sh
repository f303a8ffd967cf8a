#!/usr/bin/env bash
# Builds the Debian packages varnak, libmurlin0, libmurlin-dev, libquesmer0
# and libquesmer-dev from one release build (build/package, prefix /usr, the
# distribution's hardening flags) into build/packages/, then checks each with
# lintian (an error fails the script; warnings are printed).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/deps.sh
. "$top/scripts/deps.sh"
ensure_packages "${varnak_packages[@]}" "${varnak_packaging_packages[@]}"

build="$top/build/package"
out="$top/build/packages"
# Debian's build flags (hardening: fortify, stack protector, relro, ...).
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
export CFLAGS="$CPPFLAGS $CFLAGS" CXXFLAGS="$CPPFLAGS $CXXFLAGS"
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DVARNAK_TESTS=OFF -DVARNAK_BENCH=OFF -DVARNAK_DEBIAN_PACKAGES=ON -DVARNAK_INSTALL_RPATH=OFF \
  "${launcher[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)"

rm -rf "$build/cpack" "$out"
mkdir -p "$out"
(cd "$build" && cpack -B "$build/cpack" >"$build/cpack.log") || { cat "$build/cpack.log"; exit 1; }
mv "$build"/cpack/*.deb "$out/"

status=0
for deb in "$out"/*.deb; do
  echo "$(basename "$deb"): $(du -k "$deb" | cut -f1) KiB"
  lintian --fail-on error "$deb" || status=1
done
[ "$status" -eq 0 ] || { echo "lintian found errors" >&2; exit 1; }
echo "Packages in $out"
