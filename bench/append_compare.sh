#!/usr/bin/env bash
# Append benchmark, side by side with python3-dbf:
#   1. append_bench: 1,000,000 records (Append, every field as text, Post) with BufferSize
#      32384 and 4096, access mode 2, THXDBFNTX defaults: time per record, records per second
#      (and, for comparison, access mode 0x12, also without sharing, and 0x42, shared: locks
#      and a write per post);
#   2. system calls per appended record: strace -c -f over the 32384 run;
#   3. peak memory of that run: /usr/bin/time -v;
#   4. python3-dbf (Debian's package, /usr/bin/python3) appending the same rows to a table of
#      the same structure: PY_RECORDS records (default 100,000, about five seconds: long enough for a steady rate), rate scaled per
#      record, and the engine's rate as a multiple of it.
# Usage: bench/append_compare.sh [build-dir]     (PY_RECORDS=N to change the python count)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-bench}
py_records=${PY_RECORDS:-100000}
bash scripts/deps.sh cmake g++ make libbenchmark-dev strace time python3 python3-dbf
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DZARBEL_BENCH=ON -DZARBEL_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target append_bench >/dev/null
bin="$build/append_bench"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export ZARBEL_BENCH_DIR="$work"

echo "== engine: 1,000,000 appended records per run"
"$bin" --benchmark_out="$work/bench.json" --benchmark_out_format=json
/usr/bin/python3 - "$work/bench.json" <<'PY'
import json, sys
runs = json.load(open(sys.argv[1]))["benchmarks"]
for r in runs:
    print("%-32s %7.3f us/record wall, %7.3f us/record CPU, %10.0f records/s (CPU), peak RSS %s kB"
          % (r["name"], r["real_time"], r["cpu_time"], r["items_per_second"], int(r["peak_rss_kb"])))
main = [r for r in runs if "/32384/2/" in r["name"]][0]
shared = [r for r in runs if "/32384/66/" in r["name"]][0]
open(sys.argv[1] + ".rate", "w").write("%f %f %f %f" % (1e6 / main["real_time"], 1e6 / main["cpu_time"],
                                                       1e6 / shared["real_time"], 1e6 / shared["cpu_time"]))
PY

echo "== system calls per appended record (strace -c -f, BufferSize 32384)"
strace -c -f -o "$work/strace.txt" "$bin" --benchmark_filter='BM_Append/32384/2/' >/dev/null
calls=$(awk '$NF == "total" { print $4 }' "$work/strace.txt")
grep -E "pread64|pwrite64|fcntl|fstat|lseek|read|write" "$work/strace.txt" | awk '{ print "   " $0 }' || true
echo "total $calls calls for 1,000,000 records (set-up included): $(awk -v c="$calls" 'BEGIN { printf "%.2f", c / 1000000 }') per record"

echo "== peak memory (/usr/bin/time -v, BufferSize 32384)"
/usr/bin/time -v "$bin" --benchmark_filter='BM_Append/32384/2/' 2>"$work/time.txt" >/dev/null
grep "Maximum resident set size" "$work/time.txt" | sed 's/^[[:space:]]*/   /'

echo "== python3-dbf: $py_records appended records, same structure and rows"
/usr/bin/python3 - "$work" "$py_records" $(cat "$work/bench.json.rate") <<'PY'
import datetime, sys, time
import dbf
work, n = sys.argv[1], int(sys.argv[2])
engine_wall, engine_cpu = float(sys.argv[3]), float(sys.argv[4])
shared_wall, shared_cpu = float(sys.argv[5]), float(sys.argv[6])
rows = []
for i in range(64):
    rows.append(("\u0418\u0432\u0430\u043d\u043e\u0432" + str(i), "\u041f\u0435\u0442\u0440",
                 "\u0443\u043b. \u041b\u0435\u043d\u0438\u043d\u0430, " + str(i),
                 1000 + i * 37 + (i % 100) / 100.0, i * 3,
                 datetime.date(1950 + i, 1 + i % 12, 1 + i % 28), bool(i % 2), "K%05d" % i))
t = dbf.Table(work + "/py.dbf",
              "FAMILY C(25); NAME C(20); ADDRESS C(40); SUMMA N(12,2); QTY N(6,0); BORN D; ACTIVE L; CODE C(8)",
              dbf_type="db3", codepage="cp1251")
t.open(dbf.READ_WRITE)
start, cpu_start = time.perf_counter(), time.process_time()
for i in range(n):
    t.append(rows[i % 64])
t.close()
wall, cpu = time.perf_counter() - start, time.process_time() - cpu_start
print("   python3-dbf: %.1f us/record wall, %.1f us/record CPU: %.0f records/s wall, %.0f CPU"
      % (wall / n * 1e6, cpu / n * 1e6, n / wall, n / cpu))
print("   engine (BufferSize 32384): %.0f records/s wall = %.1f x python3-dbf; %.0f records/s CPU = %.1f x"
      % (engine_wall, engine_wall / (n / wall), engine_cpu, engine_cpu / (n / cpu)))
print("   engine shared (0x42):      %.0f records/s wall = %.1f x python3-dbf; %.0f records/s CPU = %.1f x"
      % (shared_wall, shared_wall / (n / wall), shared_cpu, shared_cpu / (n / cpu)))
PY
