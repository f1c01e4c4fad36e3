#!/usr/bin/env bash
# Reads the same tables with the engine (bench/read_bench.cpp) and with python3-dbfread
# (bench/dbfread_read.py), every field of every record taken as text, and prints records per
# second (wall clock and CPU) and peak resident memory side by side, at two table sizes.
#   bash bench/read_compare.sh [BUILD_DIR] [WORK_DIR]
# BUILD_DIR (default build-bench) is configured with -DZARBEL_BENCH=ON if needed.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build-bench}"
work="${2:-${TMPDIR:-/tmp}/zarbel-read-bench}"
mkdir -p "$work"
if [ ! -x "$build/read_bench" ]; then
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DZARBEL_BENCH=ON -DZARBEL_TESTS=OFF >/dev/null
    cmake --build "$build" --target read_bench -j"$(nproc)" >/dev/null
fi
printf '%-10s %-8s %14s %14s %14s %12s\n' records reader "records/s" "records/s CPU" "peak RSS KiB" "ratio CPU"
for n in 100000 1000000; do
    table="$work/read_$n.dbf"
    [ -f "$table" ] || python3 "$root/bench/make_read_table.py" "$table" "$n"
    engine_json=$("$build/read_bench" "$table" --benchmark_min_time=2 --benchmark_format=json 2>/dev/null)
    read -r e_wall e_cpu e_rss < <(/usr/bin/python3 -c '
import json, sys
b = json.loads(sys.stdin.read())["benchmarks"][0]
n = int(sys.argv[1])
scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[b["time_unit"]]
print("%.0f %.0f %d" % (n / (b["real_time"] * scale), n / (b["cpu_time"] * scale), b["peak_rss_kib"]))
' "$n" <<<"$engine_json")
    read -r _ d_secs d_cpu d_rss < <(/usr/bin/python3 "$root/bench/dbfread_read.py" "$table" |
        sed -E 's/.*records=([0-9]+) seconds=([0-9.]+) cpu_seconds=([0-9.]+) .*peak_rss_kib=([0-9]+).*/\1 \2 \3 \4/')
    d_wall=$(/usr/bin/python3 -c "print('%.0f' % ($n / $d_secs))")
    d_cpuw=$(/usr/bin/python3 -c "print('%.0f' % ($n / $d_cpu))")
    ratio=$(/usr/bin/python3 -c "print('%.1fx' % ($e_cpu / $d_cpuw))")
    printf '%-10s %-8s %14s %14s %14s %12s\n' "$n" engine "$e_wall" "$e_cpu" "$e_rss" "$ratio"
    printf '%-10s %-8s %14s %14s %14s %12s\n' "$n" dbfread "$d_wall" "$d_cpuw" "$d_rss" "1.0x"
done
