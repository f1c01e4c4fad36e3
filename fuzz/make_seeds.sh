#!/usr/bin/env bash
# Seeds for open_read_fuzz from the compatibility corpus: every table under 128 KiB, with its
# memo file (same name, .dbt/.fpt in any letter case) appended after the "\nMEMO\n" marker.
#   bash fuzz/make_seeds.sh OUTDIR
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
corpus="$here/../shared/corpus"
out="${1:?output directory}"
mkdir -p "$out"
n=0
while IFS= read -r -d '' t; do
    seed="$out/$(echo "${t#$corpus/}" | tr '/' '_')"
    cp "$t" "$seed"
    stem="${t%.*}"
    for m in "$stem".[dDfF][bBpP][tT]; do
        if [ -f "$m" ] && [ "$(stat -c %s "$m")" -lt 131072 ]; then
            printf '\nMEMO\n' >> "$seed"
            cat "$m" >> "$seed"
            break
        fi
    done
    n=$((n + 1))
done < <(find "$corpus" -path "$corpus/expected" -prune -o -iname '*.dbf' -size -128k -print0)
echo "$n seeds in $out"
