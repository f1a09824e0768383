#!/usr/bin/env bash
# Times the whole job on one minute of stereo at 192000 samples per second
# with filter E, against the same job in sox and against a plain copy of the
# file, and prints the ratios from one run.
#   bench/job_vs_sox.sh [build folder]        (default: build)
# Needs sox (Debian package sox).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

command -v sox >/dev/null || { echo "sox is needed: apt-get install sox" >&2; exit 2; }
cd "$work"
# Pink noise at a realistic level, repeatable (-R), written with the plain
# 44-byte header.
sox -R -n -r 192000 -b 24 -c 2 -t wavpcm in.wav synth 60 pinknoise vol 0.5
cp "$here"/data/Filter?.dat .
tr -d '\r' < FilterE.dat > coefficients.txt
cat in.wav > /dev/null  # the input in the page cache for everyone

now() { date +%s.%N; }
seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

t0=$(now); cp in.wav copy.wav; t1=$(now)
copy=$(seconds "$t0" "$t1")

t0=$(now); sox in.wav -b 24 sox.wav fir coefficients.txt; t1=$(now)
soxTime=$(seconds "$t0" "$t1")

t0=$(now); printf 'in.wav\nE\nout.wav\n' | "$build/ostrivale" > screen.txt; t1=$(now)
ours=$(seconds "$t0" "$t1")
report=$(grep 'Job completed in' screen.txt | sed 's/^ *//')

printf 'one minute of stereo at 192000 samples per second, filter E\n'
printf '  plain copy      %6.3f s\n' "$copy"
printf '  sox             %6.3f s\n' "$soxTime"
printf '  ostrivale       %6.3f s   (%s)\n' "$ours" "$report"
printf '  ostrivale / sox   %s\n' "$(ratio "$ours" "$soxTime")"
printf '  ostrivale / copy  %s\n' "$(ratio "$ours" "$copy")"
