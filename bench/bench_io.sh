#!/bin/bash
# How close `morvel optimize` comes to the cost of moving the bytes: for each
# large file, the median wall time over alternating runs of morvel (both
# forms), `qpdf --linearize`, `cp`, and a program that reads the whole file
# into memory and writes it back; peak memory of each; and the ratios.
# Outputs are new files (nothing replaced, so nothing synced).
#
# usage: bench/bench_io.sh BUILD_DIR LARGE_DIR   (BUILD_DIR built with -DMORVEL_BUILD_BENCH=ON)
# Environment: RUNS (alternating rounds, default 5; qpdf runs 3 times at most).
set -euo pipefail
build=$(realpath "${1:?usage: $0 BUILD_DIR LARGE_DIR}")
large=${2:?usage: $0 BUILD_DIR LARGE_DIR}
runs=${RUNS:-5}
command -v qpdf >/dev/null || { echo "qpdf is not installed" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

median() { sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
# time_ms NAME CMD...: one run, appended to $work/NAME.t (ms) and $work/NAME.m (KiB)
time_ms() {
    local name=$1; shift
    rm -f "$work/out.pdf"
    /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null 2>&1 || true
    # The last run's output leaves dirty pages; written back during the
    # timed run, they would be charged to whichever tool comes next.
    rm -f "$work/out.pdf"; sync
    local t0 t1
    t0=$(date +%s%N); "$@" >/dev/null 2>&1 || true; t1=$(date +%s%N)
    rm -f "$work/out.pdf"
    echo $(( (t1 - t0) / 1000000 )) >> "$work/$name.t"
    awk '{print $2}' "$work/time" >> "$work/$name.m"
}

printf "%-24s %8s %8s %8s %8s %8s %8s %8s %7s %7s %7s %7s\n" file MiB morvel_s compact_s qpdf_s cp_s rw_s \
    peak_MiB x_cp x_rw qpdf/m peak/in
for f in "$large"/large-*.pdf; do
    case $f in *.out.pdf) continue;; esac
    rm -f "$work"/*.t "$work"/*.m
    # The order turns each round: a run right after qpdf's (which frees
    # hundreds of megabytes the host may take back) starts with memory
    # that is slower to touch, and no tool should always be that one.
    for r in $(seq "$runs"); do
        for k in 0 1 2 3 4; do
            case $(( (k + r) % 5 )) in
                0) time_ms morvel "$build/morvel" optimize "$f" "$work/out.pdf" ;;
                1) time_ms compact "$build/morvel" optimize --object-streams "$f" "$work/out.pdf" ;;
                2) time_ms cp cp "$f" "$work/out.pdf" ;;
                3) time_ms rw "$build/bench/read_write" "$f" "$work/out.pdf" ;;
                4) if [ "$r" -le 3 ]; then time_ms qpdf qpdf --linearize "$f" "$work/out.pdf"; fi ;;
            esac
        done
    done
    m=$(median < "$work/morvel.t") c=$(median < "$work/compact.t") q=$(median < "$work/qpdf.t")
    cp_t=$(median < "$work/cp.t") rw=$(median < "$work/rw.t") peak=$(sort -n "$work/morvel.m" | tail -n 1)
    bytes=$(stat -c %s "$f")
    awk -v n="$(basename "$f")" -v b="$bytes" -v m="$m" -v c="$c" -v q="$q" -v cp="$cp_t" -v rw="$rw" -v p="$peak" \
        'BEGIN { printf "%-24s %8.1f %8.3f %8.3f %8.3f %8.3f %8.3f %8.1f %7.2f %7.2f %7.1f %7.2f\n",
                 n, b / 1048576, m / 1000, c / 1000, q / 1000, cp / 1000, rw / 1000, p / 1024,
                 m / (cp > 0 ? cp : 1), m / (rw > 0 ? rw : 1), q / (m > 0 ? m : 1), p * 1024 / b }'
done
