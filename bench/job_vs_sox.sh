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

printf 'one minute of stereo at 192000 samples per second, filter E\n'
# Each round times the three jobs one after the other; the ratios are those of
# one round. The rounds differ mostly in how much of the memory the jobs touch
# is fresh to the machine (first touches are slow on virtual machines).
rounds=${OSTRIVALE_BENCH_ROUNDS:-3}
for round in $(seq 1 "$rounds"); do
  rm -f copy.wav sox.wav out.wav
  t0=$(now); cp in.wav copy.wav; t1=$(now)
  copy=$(seconds "$t0" "$t1")
  t0=$(now); sox in.wav -b 24 sox.wav fir coefficients.txt; t1=$(now)
  soxTime=$(seconds "$t0" "$t1")
  t0=$(now); printf 'in.wav\nE\nout.wav\n' | "$build/ostrivale" > screen.txt; t1=$(now)
  ours=$(seconds "$t0" "$t1")
  report=$(grep 'Job completed in' screen.txt | sed 's/^ *//')
  printf 'round %s: copy %s s, sox %s s, ostrivale %s s (%s); ostrivale/sox %s, ostrivale/copy %s\n' \
    "$round" "$copy" "$soxTime" "$ours" "$report" "$(ratio "$ours" "$soxTime")" "$(ratio "$ours" "$copy")"
done

# The job step by step, and the exact reference procedure for comparison.
if [ -x "$build/bench/job_breakdown" ]; then
  rm -f out.wav exact.wav
  "$build/bench/job_breakdown" in.wav E out.wav
  "$build/bench/job_breakdown" in.wav E exact.wav exact
  if cmp -s out.wav exact.wav; then echo "fast and exact outputs: identical"; else echo "fast and exact outputs DIFFER"; exit 1; fi
fi
