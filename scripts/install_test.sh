#!/usr/bin/env bash
# Installs a built tree into a temporary prefix and uses it the way a user would: the programs
# and man pages are there, the engine example builds against the CMake package
# (find_package(Zarbel)) and against the pkg-config file and runs, and the Debian package
# holds the programs and the man pages with computed dependencies.
#   scripts/install_test.sh BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "$1" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")

cmake --install "$build" --prefix "$tmp/prefix" >/dev/null
for f in bin/zarbel bin/zarbel-dump bin/zarbel-index share/man/man1/zarbel.1.gz share/man/man1/zarbel-dump.1.gz share/man/man1/zarbel-index.1.gz \
         include/zarbel/engine/HXDBFDataSet.h include/zarbel/index/HXDBFNTX.h include/zarbel/platform/env.h; do
  [ -e "$tmp/prefix/$f" ] || fail "$f is not installed"
done
libdir=$(dirname "$(find "$tmp/prefix" -name libzarbel_engine.a | head -1)")
[ -f "$libdir/cmake/Zarbel/ZarbelConfig.cmake" ] || fail "no CMake package beside the libraries"
[ -f "$libdir/pkgconfig/zarbel.pc" ] || fail "no pkg-config file"
[ "$("$tmp/prefix/bin/zarbel" --version)" = "zarbel $version" ] || fail "installed zarbel --version"
[ "$("$tmp/prefix/bin/zarbel-dump" --version)" = "zarbel-dump $version" ] || fail "installed zarbel-dump --version"
[ "$("$tmp/prefix/bin/zarbel-index" --version)" = "zarbel-index $version" ] || fail "installed zarbel-index --version"
echo "installed into a temporary prefix: programs, man pages, libraries, headers, CMake package, pkg-config"

# The example: CLIENTS.DBF has 4 records (one deleted); the example appends a fifth.
check_example() {
  local program=$1 table="$tmp/$2.dbf" out
  cp examples/sources/dbase3/CLIENTS.DBF "$table"
  out=$("$program" "$table") || fail "$program exited with $?"
  grep -q '^1: Иванов' <<<"$out" || fail "$program did not list the records: $out"
  grep -q '^appended: Новый клиент' <<<"$out" || fail "$program did not append: $out"
  grep -q '^records: 5$' <<<"$out" || fail "$program: wrong record count: $out"
  "$tmp/prefix/bin/zarbel-dump" --csv -oem "$table" | grep -q '^Новый клиент,Тверь,12.5,' ||
    fail "the appended record does not read back"
}
cmake -S examples/engine -B "$tmp/example" -DCMAKE_PREFIX_PATH="$tmp/prefix" >/dev/null
cmake --build "$tmp/example" >/dev/null
check_example "$tmp/example/zarbel_example" cmake
echo "examples/engine built with find_package(Zarbel) against the installed package and run"
PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --exists zarbel || fail "pkg-config does not find zarbel"
# shellcheck disable=SC2046
g++ -o "$tmp/example_pc" examples/engine/main.cpp $(PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --cflags --libs zarbel)
check_example "$tmp/example_pc" pkgconfig
echo "examples/engine built with pkg-config and run"

if ! command -v dpkg-deb >/dev/null || ! command -v dpkg-shlibdeps >/dev/null; then
  echo "dpkg-deb or dpkg-shlibdeps missing: Debian package not checked"
  exit 0
fi
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$tmp/deb" >"$tmp/cpack.log" 2>&1 || { cat "$tmp/cpack.log" >&2; fail "cpack -G DEB"; }
deb=$(ls "$tmp"/deb/zarbel_"$version"_*.deb)
contents=$(dpkg-deb -c "$deb")
for f in ./usr/bin/zarbel ./usr/bin/zarbel-dump ./usr/bin/zarbel-index ./usr/share/man/man1/zarbel.1.gz ./usr/share/man/man1/zarbel-dump.1.gz ./usr/share/man/man1/zarbel-index.1.gz; do
  grep -q " $f\$" <<<"$contents" || fail "$f is not in $(basename "$deb")"
done
depends=$(dpkg-deb -f "$deb" Depends)
grep -q 'libc6 (>=' <<<"$depends" && grep -q 'libstdc++6 (>=' <<<"$depends" ||
  fail "dependencies not computed: '$depends'"
echo "$(basename "$deb"): programs and man pages; Depends: $depends"
