#!/usr/bin/env bash
# Builds zarbel if needed and runs it on the sample sources in examples/sources.
# The merged table goes to out/all.dbf; the load log is written next to the program (build/).
set -euo pipefail
cd "$(dirname "$0")/.."
if [ ! -x build/zarbel ] || [ -n "$(find tool platform engine index expr -newer build/zarbel -name '*.[ch]*' 2>/dev/null | head -1)" ]; then
  command -v cmake >/dev/null || bash scripts/deps.sh cmake g++ make libgtest-dev libgmock-dev
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build -j"$(nproc 2>/dev/null || echo 2)" --target zarbel >/dev/null
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
fi
exit $status
