#!/usr/bin/env bash
# Installs a build into a temporary DESTDIR under a prefix with a space in
# its name, twice over itself, and checks from the installed tree only:
# the file list, every program's --version, murlin-decode and varnak on the
# installed sample (same log as the build tree gives, library loaded from the
# installed tree), and a C program (pkg-config) and a C++ program (CMake
# package) built against the installed libraries and run with them.
#
#   install_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)

cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
version=$(cache CMAKE_PROJECT_VERSION)
libdir=$(cache CMAKE_INSTALL_LIBDIR)
sanitize=$(cache VARNAK_SANITIZE)
config=$(cache CMAKE_BUILD_TYPE | tr '[:upper:]' '[:lower:]')
# A sanitized build's library needs its clients built the same way.
flags=()
case "$sanitize" in ON|1|TRUE|YES) flags=("-fsanitize=address,undefined" -fno-omit-frame-pointer) ;; esac

tmp=$(mktemp -d "${TMPDIR:-/tmp}/varnak install.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
prefix="/opt/varnak test"
dest="$tmp/dest"
root="$dest$prefix"
fail() { echo "FAIL: $*" >&2; exit 1; }

for round in 1 2; do
  DESTDIR="$dest" cmake --install "$build" --prefix "$prefix" >"$tmp/install.log" 2>&1 ||
    { cat "$tmp/install.log"; fail "install round $round"; }
done

# Exactly the files an installation holds: nothing of tests or benchmarks.
(cd "$root" && find . -type f -o -type l | sed 's|^\./||' | sort) >"$tmp/files"
sed "s|@LIBDIR@|$libdir|; s|@VERSION@|$version|; s|@CONFIG@|$config|" "$src/packaging/tests/installed_files.txt" | sort >"$tmp/expected"
diff -u "$tmp/expected" "$tmp/files" || fail "installed files differ from installed_files.txt"

# No RPATH may point into the build tree.
for f in "$root"/bin/* "$root/$libdir"/lib*.so.*.*; do
  if readelf -d "$f" | grep -E 'R(UN)?PATH' | grep -q "$build"; then fail "$f has an RPATH into the build tree"; fi
done

# The installed tree alone: no library path, the build tree out of reach.
export -n LD_LIBRARY_PATH
unset LD_LIBRARY_PATH
export QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$tmp/config"
for p in varnak murlin-decode rdsgen cardsim cardctl; do
  out=$("$root/bin/$p" --version) || fail "$p --version"
  [[ "$out" == *" $version" ]] || fail "$p --version says '$out', not $version"
done
for page in man1/varnak.1.gz man1/murlin-decode.1.gz man3/murlin.3.gz; do
  zcat "$root/share/man/$page" | grep -q "^\.TH" || fail "$page is no manual page"
done

# The loader must take libmurlin from the installed tree (LD_DEBUG names
# every file it loads).
loaded_from_install() {  # program log
  grep -q "file=$root/$libdir/libmurlin.so.0 " "$2" || { cat "$2" >&2; fail "$1 did not load the installed libmurlin.so.0"; }
  ! grep -q "file=$build" "$2" || fail "$1 loaded a file of the build tree"
}

# murlin-decode on the installed sample gives the build tree's log.
LD_DEBUG=files "$root/bin/murlin-decode" -q -o "$tmp/installed.out" "$root/share/varnak/station.txt" 2>"$tmp/ld.log" ||
  fail "installed murlin-decode"
loaded_from_install murlin-decode "$tmp/ld.log"
"$build/bin/murlin-decode" -q -o "$tmp/build.out" "$src/data/samples/station.txt"
cmp "$tmp/build.out" "$tmp/installed.out" || fail "the installed murlin-decode's log differs from the build tree's"

# A short stream from the installed rdsgen, decoded by the installed monitor:
# its log equals murlin-decode's.
"$root/bin/rdsgen" -n 24 -o "$tmp/short.txt" "$root/share/varnak/station.rds"
"$root/bin/murlin-decode" -q -o "$tmp/short.ref" "$tmp/short.txt"
LD_DEBUG=files "$root/bin/varnak" --exit-when-done "$tmp/short.txt" 2>"$tmp/ld.log" || { cat "$tmp/ld.log" >&2; fail "installed varnak"; }
loaded_from_install varnak "$tmp/ld.log"
quesmer=$(ldd "$root/bin/varnak" | sed -n 's/^\s*libquesmer.so.0 => \(.*\) (0x[0-9a-f]*)$/\1/p')
[ "$(realpath "$quesmer")" = "$(realpath "$root/$libdir/libquesmer.so.0")" ] ||
  fail "varnak does not find the installed libquesmer.so.0: $(ldd "$root/bin/varnak" | grep quesmer)"
cmp "$tmp/short.ref" "$tmp/short.out" || fail "the installed varnak's log differs from murlin-decode's"

# A C99 program through pkg-config alone, on a staged tree (sysroot). The
# pkgconf of Debian 12 mangles paths with spaces under a sysroot, so this
# part has a second installation under a prefix without one.
plain=$(mktemp -d)
trap 'rm -rf "$tmp" "$plain"' EXIT
DESTDIR="$plain" cmake --install "$build" --prefix /opt/varnak >/dev/null
export PKG_CONFIG_PATH="$plain/opt/varnak/$libdir/pkgconfig" PKG_CONFIG_SYSROOT_DIR="$plain"
[ "$(pkg-config --modversion murlin)" = "$version" ] || fail "murlin.pc has not version $version"
pkg-config --exists quesmer || fail "quesmer.pc is not usable: $(pkg-config --print-errors --exists quesmer 2>&1)"
# shellcheck disable=SC2046 # pkg-config's flags are words
cc -std=c99 -pedantic-errors -Wall -Wextra -Werror "${flags[@]}" $(pkg-config --cflags murlin) \
  "$src/packaging/tests/client/murlin_client.c" -o "$tmp/client_c" $(pkg-config --libs murlin)
LD_LIBRARY_PATH="$plain/opt/varnak/$libdir" "$tmp/client_c" "$tmp/short.txt" >"$tmp/client_c.out" 2>"$tmp/client_c.err" ||
  fail "C client: $(cat "$tmp/client_c.err")"
grep -qx "library: $plain/opt/varnak/$libdir/libmurlin.so.0.*" "$tmp/client_c.err" || fail "C client: $(cat "$tmp/client_c.err")"
cmp "$tmp/short.ref" "$tmp/client_c.out" || fail "the C client's log differs from murlin-decode's"

# A C++ program through find_package(Murlin) and find_package(Quesmer).
unset PKG_CONFIG_PATH PKG_CONFIG_SYSROOT_DIR
cmake -S "$src/packaging/tests/client" -B "$tmp/client" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_PREFIX_PATH="$root" -DEXPECTED_VERSION="$version" -DCMAKE_CXX_FLAGS="${flags[*]}" \
  >"$tmp/client.log" 2>&1 || { cat "$tmp/client.log"; fail "configuring the C++ client"; }
cmake --build "$tmp/client" >"$tmp/client.log" 2>&1 || { cat "$tmp/client.log"; fail "building the C++ client"; }
LD_LIBRARY_PATH="$root/$libdir" "$tmp/client/murlin_client_cxx" "$tmp/short.txt" >"$tmp/client_cxx.out" 2>"$tmp/client_cxx.err" ||
  fail "C++ client: $(cat "$tmp/client_cxx.err")"
grep -qx "library: $root/$libdir/libmurlin.so.0.*" "$tmp/client_cxx.err" || fail "C++ client: $(cat "$tmp/client_cxx.err")"
cmp "$tmp/short.ref" "$tmp/client_cxx.out" || fail "the C++ client's log differs from murlin-decode's"

echo "install test passed: $(wc -l <"$tmp/files") files under '$prefix'"
