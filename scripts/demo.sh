#!/usr/bin/env bash
# Builds zarbel and zarbel-dump if needed, merges the sample sources in examples/sources into
# out/all.dbf and shows the merged table. The load log is written next to the program (build/).
set -euo pipefail
cd "$(dirname "$0")/.."
if [ ! -x build/zarbel ] || [ ! -x build/zarbel-dump ] || \
   [ -n "$(find tool platform engine index expr -newer build/zarbel -name '*.[ch]*' 2>/dev/null | head -1)" ]; then
  command -v cmake >/dev/null && command -v g++ >/dev/null || \
    bash scripts/deps.sh cmake g++ make libgtest-dev libgmock-dev
  echo "Building zarbel and zarbel-dump in build/ (a first build takes a minute or two)..."
  buildlog=$(mktemp)
  trap 'rm -f "$buildlog"' EXIT
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$buildlog" 2>&1 || { cat "$buildlog"; exit 1; }
  # The build's percentage: one line kept up to date on a terminal, every ten per cent otherwise.
  last=-10
  set +e
  cmake --build build -j"$(nproc 2>/dev/null || echo 2)" --target zarbel zarbel-dump 2>&1 | tee -a "$buildlog" |
    while IFS= read -r line; do
      [[ $line =~ ^\[\ *([0-9]+)%\] ]] || continue
      pct=${BASH_REMATCH[1]}
      if [ -t 1 ]; then printf '\r  built %3d%%' "$pct"
      elif [ "$pct" -ge $((last + 10)) ]; then echo "  built $pct%"; last=$pct; fi
    done
  built=${PIPESTATUS[0]}
  set -e
  [ -t 1 ] && echo
  if [ "$built" -ne 0 ]; then cat "$buildlog"; echo "The build failed."; exit 1; fi
  echo "Built."
  echo
fi
mkdir -p out
before=$(date +%s)
status=0
./build/zarbel examples/sources out/all.dbf "$@" || status=$?
echo
log=$(ls -t build/load_*.log 2>/dev/null | head -1 || true)
if [ -n "$log" ] && [ "$(stat -c %Y "$log")" -ge "$before" ]; then
  echo "== load log $log (CP1251, shown as UTF-8) =="
  if command -v iconv >/dev/null; then iconv -f CP1251 -t UTF-8 "$log" | tr -d '\r'; else tr -d '\r' < "$log"; fi
  echo
fi
case $status in
  0) ;;
  1) echo "(exit status 1: the merge finished, and the log names what failed: the sample tree holds a file that is not a table)"; echo ;;
  *) echo "(exit status $status)"; exit $status ;;
esac
if [ -f out/all.dbf ]; then
  mode=-oem
  for a in "$@"; do [ "$(echo "$a" | tr -d ' ' | tr a-z A-Z)" = "-WIN" ] && mode=-win; done
  echo "== out/all.dbf =="
  ./build/zarbel-dump "$mode" out/all.dbf
fi
