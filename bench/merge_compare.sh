#!/usr/bin/env bash
# The whole merge, side by side with GDAL's ogr2ogr doing the same union merge over the same tree
# (-append -addfields, one call per source, in zarbel's order): records per second and peak
# resident memory, for two tree sizes (so growth with sources and records shows).
#   bash bench/merge_compare.sh [BUILD_DIR] [WORK_DIR]
# Needs gdal-bin for the peer (skipped with a note when ogr2ogr is missing).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build-bench}"
work="${2:-${TMPDIR:-/tmp}/zarbel-merge-bench}"
mkdir -p "$work"
if [ ! -x "$build/zarbel" ]; then
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DZARBEL_TESTS=OFF >/dev/null
    cmake --build "$build" --target zarbel -j"$(nproc)" >/dev/null
fi
# seconds and peak RSS (KiB) of a command, from GNU time's report
measure() {
    local report="$work/time.txt"
    /usr/bin/time -f '%e %M %U %S' -o "$report" "$@" >/dev/null 2>"$work/stderr.txt" || true
    tail -1 "$report"
}
printf '%-16s %-8s %10s %12s %14s %14s %10s\n' tree tool records "records/s" "records/s CPU" "peak RSS KiB" "ratio CPU (wall)"
rate() { /usr/bin/python3 -c "print('%.0f' % ($1 / max($2, 0.01)))"; }
# TREES: the trees, "TABLES RECORDS[ wide]" separated by commas (default "50 5000,200 5000");
# "wide": records of about 600 bytes with a memo value in most (make_tree.py).
IFS=, read -r -a trees <<< "${TREES:-50 5000,200 5000}"
for spec in "${trees[@]}"; do
    set -- $spec
    tables=$1 records=$2 wide=${3:-}
    tree="$work/tree_${tables}x${records}${wide:+_$wide}"
    [ -d "$tree" ] || /usr/bin/python3 "$root/bench/make_tree.py" "$tree" "$tables" "$records" $wide
    total=$((tables * records))
    rm -f "$work/all.dbf" "$work/all.dbt"
    read -r z_secs z_rss z_user z_sys < <(measure "$build/zarbel" "$tree" "$work/all.dbf")
    z_rate=$(rate $total $z_secs)
    z_cpu=$(rate $total "$z_user + $z_sys")
    printf '%-16s %-8s %10d %12s %14s %14s %10s\n' "${tables}x${records}${wide:+ $wide}" zarbel "$total" "$z_rate" "$z_cpu" "$z_rss" ""
    if command -v ogr2ogr >/dev/null; then
        log=$(ls -t "$build"/load_*.log | head -1)
        # the sources in zarbel's order: the scan lines of its log
        mapfile -t sources < <(tr -d '\r' < "$log" | grep -a -E '\.[dD][bB][fF]$' | grep -a -v ': ' | grep -a '^/')
        out="$work/ogr"
        rm -rf "$out"; mkdir -p "$out"
        cat > "$work/ogr_merge.sh" <<'EOS'
#!/usr/bin/env bash
out=$1; shift
first=1
for s in "$@"; do
    if [ $first = 1 ]; then
        ogr2ogr -q -f "ESRI Shapefile" "$out" "$s" -nln merged; first=0
    else
        ogr2ogr -q -append -addfields "$out" "$s" -nln merged
    fi
done
EOS
        read -r o_secs o_rss o_user o_sys < <(measure bash "$work/ogr_merge.sh" "$out" "${sources[@]}")
        o_rate=$(rate $total $o_secs)
        o_cpu=$(rate $total "$o_user + $o_sys")
        ratio=$(/usr/bin/python3 -c "print('%.1fx (wall %.1fx)' % ($z_cpu / $o_cpu, $z_rate / $o_rate))")
        printf '%-16s %-8s %10d %12s %14s %14s %10s\n' "" ogr2ogr "$total" "$o_rate" "$o_cpu" "$o_rss" "zarbel $ratio"
    else
        echo "(ogr2ogr not installed: apt-get install gdal-bin for the side-by-side run)"
    fi
done
