#!/usr/bin/env bash
# Builds everything twice (optimised, and with AddressSanitizer + UBSan) and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh cmake g++ make libgtest-dev libgmock-dev python3 python3-dbfread python3-dbf libgcrypt20-dev
jobs=$(nproc 2>/dev/null || echo 2)

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DZARBEL_SANITIZE=ON >/dev/null
cmake --build build-asan -j"$jobs"

status=0
echo "== optimised build =="
(cd build && ctest --output-on-failure -j"$jobs") || status=1
echo "== sanitizer build =="
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
   ctest --output-on-failure -j"$jobs") || status=1
exit $status
