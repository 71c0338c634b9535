#!/bin/bash
# The compact output form (--object-streams) against the inputs and against
# `qpdf --linearize` in both its modes: one row of sizes per corpus file and
# the totals over the files that every tool writes; then, on the large
# generated files, the time of the compact form against the default form
# (alternating runs, medians) and their sizes.
#
# usage: bench/bench_compact.sh MORVEL_BINARY [LARGE_DIR]
# A file is "over" when its compact output exceeds 1.05 x the larger of its
# input and qpdf's output, plus 2048 bytes.
# Environment: CORPUS (default ../shared/corpus next to the checkout),
#              RUNS (timed runs per form on each large file, default 5).
set -euo pipefail

morvel=${1:?usage: $0 MORVEL_BINARY [LARGE_DIR]}
large=${2:-}
here=$(cd "$(dirname "$0")/.." && pwd)
corpus=${CORPUS:-$here/../shared/corpus}
runs=${RUNS:-5}
command -v qpdf >/dev/null || { echo "qpdf is not installed" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

size_of() { if [ -s "$1" ]; then stat -c %s "$1"; else echo 0; fi; }

printf "%-58s %10s %10s %10s %10s %10s %5s\n" file input default compact qpdf qpdf_gen over
: > "$work/rows"
for f in "$corpus"/*.pdf; do
    rm -f "$work"/*.pdf
    "$morvel" optimize "$f" "$work/d.pdf" 2>/dev/null || continue
    "$morvel" optimize --object-streams "$f" "$work/c.pdf" 2>/dev/null || continue
    qpdf --linearize "$f" "$work/q.pdf" 2>/dev/null || [ -s "$work/q.pdf" ] || continue
    qpdf --linearize --object-streams=generate "$f" "$work/g.pdf" 2>/dev/null || true
    i=$(size_of "$f") d=$(size_of "$work/d.pdf") c=$(size_of "$work/c.pdf")
    q=$(size_of "$work/q.pdf") g=$(size_of "$work/g.pdf")
    [ "$g" = 0 ] && g=$q
    over=$(awk "BEGIN{m = $i > $q ? $i : $q; print ($c > 1.05 * m + 2048) ? \"yes\" : \"\"}")
    printf "%-58s %10d %10d %10d %10d %10d %5s\n" "$(basename "$f")" "$i" "$d" "$c" "$q" "$g" "$over"
    echo "$i $d $c $q $g $over" >> "$work/rows"
done
awk '{i += $1; d += $2; c += $3; q += $4; g += $5; if ($6 == "yes") o++; if ($3 > $1) gi++; if ($3 > $4) gq++}
     END {printf "%d files, MB: input %.2f, default %.2f, compact %.2f, qpdf %.2f, qpdf generate %.2f\n", NR, i/1e6, d/1e6, c/1e6, q/1e6, g/1e6;
          printf "compact larger than its input: %d, than qpdf: %d, over the bound: %d\n", gi, gq, o}' "$work/rows"

[ -n "$large" ] || exit 0
median() { sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
echo
printf "%-28s %10s %10s %9s %9s %7s\n" file default_B compact_B default_s compact_s ratio
for f in "$large"/large-*.pdf; do
    case $f in *.out.pdf) continue;; esac
    : > "$work/td"; : > "$work/tc"
    for _ in $(seq "$runs"); do
        for form in default compact; do
            opt=(); [ "$form" = compact ] && opt=(--object-streams)
            rm -f "$work/$form.pdf"
            t0=$(date +%s%N); "$morvel" optimize "${opt[@]}" "$f" "$work/$form.pdf"; t1=$(date +%s%N)
            echo $(( (t1 - t0) / 1000000 )) >> "$work/t${form:0:1}"
        done
    done
    td=$(median < "$work/td") tc=$(median < "$work/tc")
    printf "%-28s %10d %10d %9.3f %9.3f %7.2f\n" "$(basename "$f")" "$(size_of "$work/default.pdf")" \
        "$(size_of "$work/compact.pdf")" "$(awk "BEGIN{print $td/1000}")" "$(awk "BEGIN{print $tc/1000}")" \
        "$(awk "BEGIN{print $tc/$td}")"
done
