#!/usr/bin/env bash
# Two processes append N records each (default 10,000) to one table with one NTX index under
# the Clipper lock protocol; then the index is verified: no key lost, none twice.
#   bench/ntx_stress.sh BUILD_DIR [N]
set -euo pipefail
bin=${1:?usage: $0 BUILD_DIR [N]}/ntx_append_bench
n=${2:-10000}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
"$bin" --create "$dir/S.DBF" "$dir/S.NTX"
start=$(date +%s.%N)
"$bin" --append "$dir/S.DBF" "$dir/S.NTX" A "$n" &
a=$!
"$bin" --append "$dir/S.DBF" "$dir/S.NTX" B "$n" &
b=$!
wait $a
wait $b
end=$(date +%s.%N)
echo "2 x $n appends in $(echo "$end - $start" | bc) s"
"$bin" --check "$dir/S.DBF" "$dir/S.NTX"
