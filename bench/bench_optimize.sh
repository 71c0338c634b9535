#!/bin/bash
# Times `morvel optimize` against `qpdf --linearize` and a plain `cp` of the
# same file, on the corpus and on the large generated files, and prints one
# row per file (seconds and peak resident memory) plus the medians.
#
# usage: bench/bench_optimize.sh MORVEL_BINARY [LARGE_DIR]
#   MORVEL_BINARY  the command-line tool (build/morvel)
#   LARGE_DIR      where make-large-pdfs.sh wrote its files (optional)
# The speedup column is the ratio of wall times; "net" takes the cost of
# starting a process (timed with /bin/true) off both first.
# Environment: CORPUS (default ../shared/corpus next to the checkout),
#              RUNS (best of this many runs per tool, default 3).
set -euo pipefail

morvel=${1:?usage: $0 MORVEL_BINARY [LARGE_DIR]}
large=${2:-}
here=$(cd "$(dirname "$0")/.." && pwd)
corpus=${CORPUS:-$here/../shared/corpus}
runs=${RUNS:-3}
command -v qpdf >/dev/null || { echo "qpdf is not installed" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Best wall time in seconds (nanosecond clock) over the runs, then the peak
# RSS in KiB of one more run: "seconds kib", or "- -" when the command
# leaves no output file.
measure() {
    local best="" t0 t1 t
    for _ in $(seq "$runs"); do
        rm -f "$work/out.pdf"
        t0=$(date +%s%N)
        "$@" >/dev/null 2>&1 || true
        t1=$(date +%s%N)
        [ -s "$work/out.pdf" ] || { echo "- -"; return; }
        t=$((t1 - t0))
        if [ -z "$best" ] || [ "$t" -lt "$best" ]; then best=$t; fi
    done
    /usr/bin/time -f "%M" -o "$work/time" "$@" >/dev/null 2>&1 || true
    echo "$(awk "BEGIN{printf \"%.4f\", $best / 1e9}") $(tail -n 1 "$work/time")"
}

measure_plain() {
    local best="" t0 t1 t
    for _ in $(seq "$runs"); do
        t0=$(date +%s%N); "$@" >/dev/null 2>&1 || true; t1=$(date +%s%N)
        t=$((t1 - t0))
        if [ -z "$best" ] || [ "$t" -lt "$best" ]; then best=$t; fi
    done
    awk "BEGIN{printf \"%.4f\", $best / 1e9}"
}

files=()
for f in "$corpus"/*.pdf; do files+=("$f"); done
if [ -n "$large" ]; then for f in "$large"/large-*.pdf; do case $f in *.out.pdf) ;; *) files+=("$f");; esac; done; fi

# What starting any process costs here, taken off both tools for the net figure.
floor=$(runs=20 measure_plain /bin/true)
echo "process start: $floor s"
printf "%-58s %10s %8s %8s %8s %9s %9s %7s %7s\n" file bytes morvel_s qpdf_s cp_s morv_MiB in_MiB speedup net
: > "$work/rows"; : > "$work/totals"
for f in "${files[@]}"; do
    bytes=$(stat -c %s "$f")
    read -r mt mm < <(measure "$morvel" optimize "$f" "$work/out.pdf")
    [ "$mt" = - ] && continue  # refused (encrypted) or unusable
    read -r qt _ < <(measure qpdf --linearize "$f" "$work/out.pdf")
    read -r ct _ < <(measure cp "$f" "$work/out.pdf")
    [ "$qt" = - ] && continue
    speed=$(awk "BEGIN{printf \"%.1f\", $qt / $mt}")
    net=$(awk "BEGIN{m = $mt - $floor; q = $qt - $floor; if (m < 0.0005) m = 0.0005; printf \"%.1f\", q / m}")
    printf "%-58s %10d %8s %8s %8s %9.1f %9.1f %7s %7s\n" "$(basename "$f")" "$bytes" "$mt" "$qt" "$ct" \
        "$(awk "BEGIN{print $mm/1024}")" "$(awk "BEGIN{print $bytes/1048576}")" "$speed" "$net"
    echo "$speed $net" >> "$work/rows"
    echo "$mt $qt" >> "$work/totals"
done
sort -n -k1,1 "$work/rows" | awk '{s[NR]=$1} END {printf "median speedup over qpdf: %s (of %d files)\n", s[int((NR+1)/2)], NR}'
sort -n -k2,2 "$work/rows" | awk '{s[NR]=$2} END {printf "median speedup net of process start: %s\n", s[int((NR+1)/2)]}'
awk '{m += $1; q += $2} END {printf "total: morvel %.2f s, qpdf %.2f s, qpdf/morvel %.1f\n", m, q, q / m}' "$work/totals"
