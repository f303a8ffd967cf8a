#!/usr/bin/env bash
# Checks the Debian packages scripts/package.sh made: each file is in the
# package it belongs to (packaging/tests/package_files.txt), control fields,
# the desktop entry and the AppStream file pass their validators. With
# --install (as root, on a machine without these packages) also installs
# them with the README's commands, uses them (programs on the PATH, manual pages, a C program
# built with pkg-config alone), removes them and checks that no file is left.
#
#   deb_test.sh [--install] [PACKAGE_DIR]
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
install=0
if [ "${1:-}" = --install ]; then install=1; shift; fi
dir=${1:-$top/build/packages}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

version=$(sed -n 's/^project(Varnak VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
arch=$(dpkg --print-architecture)
packages=(varnak libmurlin0 libmurlin-dev libquesmer0 libquesmer-dev)

# Every package by its Debian file name, with each file where it belongs.
: >"$tmp/contents"
for p in "${packages[@]}"; do
  deb="$dir/${p}_${version}-1_${arch}.deb"
  [ -f "$deb" ] || fail "$deb is missing"
  [ "$(dpkg-deb -f "$deb" Package)" = "$p" ] || fail "$deb is not package $p"
  [ "$(dpkg-deb -f "$deb" Version)" = "$version-1" ] || fail "$deb has not version $version-1"
  dpkg-deb --contents "$deb" | awk -v p="$p" '$1 !~ /^d/ {sub("^\\./usr/", "", $6); print p, $6}' >>"$tmp/contents"
done
sort -o "$tmp/contents" "$tmp/contents"
sed "s|@MULTIARCH@|$multiarch|; s|@VERSION@|$version|" "$top/packaging/tests/package_files.txt" | sort >"$tmp/expected"
diff -u "$tmp/expected" "$tmp/contents" || fail "package contents differ from package_files.txt"

# varnak loads libmurlin at run time: its dependency must be stated.
depends=$(dpkg-deb -f "$dir/varnak_${version}-1_${arch}.deb" Depends)
for need in "libmurlin0 (= $version-1)" "libquesmer0 (= $version-1)" libqt6widgets6; do
  [[ "$depends" == *"$need"* ]] || fail "varnak does not depend on $need: $depends"
done

dpkg-deb -x "$dir/varnak_${version}-1_${arch}.deb" "$tmp/varnak"
desktop-file-validate "$tmp"/varnak/usr/share/applications/*.desktop || fail "desktop entry"
appstreamcli validate --no-net "$tmp"/varnak/usr/share/metainfo/*.metainfo.xml >"$tmp/as.log" ||
  { cat "$tmp/as.log"; fail "AppStream file"; }

if [ "$install" -eq 1 ]; then
  for p in "${packages[@]}"; do
    ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q installed || fail "$p is installed already: not touching it"
  done
  remove() { dpkg --purge "${packages[@]}" >/dev/null 2>&1 || true; }
  trap 'remove; rm -rf "$tmp"' EXIT
  # The README's install commands, word for word (but for the package folder
  # and sudo), answered yes by apt's configuration rather than by an option.
  mapfile -t commands < <(sed -n 's/^    sudo \(apt install .*\)$/\1/p' "$top/README.md")
  [ ${#commands[@]} -eq 2 ] || fail "README.md should give two 'sudo apt install' commands, has ${#commands[@]}"
  printf 'APT::Get::Assume-Yes "true";\n' >"$tmp/apt.conf"
  for command in "${commands[@]}"; do
    echo "README: $command"
    (cd "$top" && APT_CONFIG=$tmp/apt.conf DEBIAN_FRONTEND=noninteractive \
      eval "${command//.\/build\/packages\//$dir/}") >"$tmp/apt.log" 2>&1 ||
      { cat "$tmp/apt.log"; fail "the README's command failed: $command"; }
  done
  for p in varnak libmurlin0 libquesmer0 libmurlin-dev; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || fail "the README's commands did not install $p"
  done
  # The C++ development package too, for the contents check below.
  dpkg -i "$dir/libquesmer-dev_${version}-1_${arch}.deb" >/dev/null || fail "dpkg -i libquesmer-dev"
  dpkg -L "${packages[@]}" | sort -u >"$tmp/listed"
  [ "$(command -v murlin-decode)" = /usr/bin/murlin-decode ] || fail "murlin-decode is not on the PATH"
  [ "$(murlin-decode --version)" = "murlin-decode $version" ] || fail "murlin-decode --version"
  murlin-decode -q -o "$tmp/sample.out" /usr/share/varnak/station.txt || fail "murlin-decode on the installed sample"
  man -w murlin-decode varnak murlin >/dev/null || fail "manual pages are not found by man"
  [ -f "/usr/share/applications/$(basename "$tmp"/varnak/usr/share/applications/*.desktop)" ] || fail "no menu entry"
  # A third-party C program with pkg-config alone, run on the system library,
  # decodes what murlin-decode decodes.
  rdsgen -n 24 -o "$tmp/short.txt" /usr/share/varnak/station.rds
  murlin-decode -q -o "$tmp/short.out" "$tmp/short.txt"
  # shellcheck disable=SC2046
  cc -std=c99 -Wall -Werror $(pkg-config --cflags murlin) "$top/packaging/tests/client/murlin_client.c" \
    -o "$tmp/client" $(pkg-config --libs murlin) || fail "building a C program with pkg-config murlin"
  "$tmp/client" "$tmp/short.txt" >"$tmp/client.out" 2>"$tmp/client.err" || fail "C client: $(cat "$tmp/client.err")"
  grep -q "library: /usr/lib/$multiarch/libmurlin.so.0" "$tmp/client.err" || fail "C client: $(cat "$tmp/client.err")"
  cmp "$tmp/short.out" "$tmp/client.out" || fail "the C client's log differs from murlin-decode's"
  remove
  trap 'rm -rf "$tmp"' EXIT
  # No file is left, nor a folder of our own (shared ones like /usr/bin stay).
  while read -r path; do
    if [ -d "$path" ] && [ ! -L "$path" ]; then
      ! grep -qiE 'varnak|murlin|quesmer' <<<"$path" || fail "folder $path is left after removing the packages"
    elif [ -e "$path" ] || [ -L "$path" ]; then
      fail "$path is left after removing the packages"
    fi
  done <"$tmp/listed"
fi
echo "package test passed: ${#packages[@]} packages"
