#!/usr/bin/env bash
# Times the whole job on one minute of stereo at 192000 samples per second
# with filter E against the same job in sox and against a plain copy of the
# file, in alternating rounds, with the peak memory of each tool; then the
# replacement of an existing file on its own, the cost of flushing the
# output to the disk (against the job under eatmydata), the step breakdown of
# the pass, and a byte comparison with the exact reference procedure.
#   bench/job_vs_sox.sh [build folder] [--longest]
# --longest adds the largest recording a header can describe (4 GiB of
# stereo data at 192000, some 62 minutes, generated here and removed again;
# it needs 13 GB of disk in $TMPDIR).
# Needs sox (Debian package sox) and GNU time (package time).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
longest=no
[ "${2:-}" = "--longest" ] && longest=yes
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

command -v sox >/dev/null || { echo "sox is needed: apt-get install sox" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "GNU time is needed: apt-get install time" >&2; exit 2; }
cd "$work"
# Pink noise at a realistic level, repeatable (-R), written with the plain
# 44-byte header.
sox -R -n -r 192000 -b 24 -c 2 -t wavpcm in.wav synth 60 pinknoise vol 0.5
cp "$here"/data/Filter?.dat .
tr -d '\r' < FilterE.dat > coefficients.txt

now() { date +%s.%N; }
seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }

# Runs a command under GNU time: sets `elapsed` (seconds, from the clock
# around it) and `peak` (maximum resident set size, KiB).
timed() {
  local t0 t1
  t0=$(now)
  /usr/bin/time -f %M -o peak.txt "$@"
  t1=$(now)
  elapsed=$(seconds "$t0" "$t1")
  peak=$(tail -n 1 peak.txt)
}
# Each tool runs directly under GNU time, so that the memory is its own.
copy_job() { timed cp "$1" "$2"; }
sox_job() { timed sox "$1" -b 24 "$2" fir coefficients.txt; }
ostrivale_job() {
  printf '%s\nE\n%s\n' "$1" "$2" > keys.txt
  timed "$build/ostrivale" < keys.txt > screen.txt
}
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
largest() { sort -g | tail -n 1; }

echo "load before the rounds: $(cut -d' ' -f1-3 /proc/loadavg)"
printf 'one minute of stereo at 192000 samples per second, filter E; every output a new name\n'
cat in.wav > /dev/null  # the input in the page cache for everyone
rounds=${OSTRIVALE_BENCH_ROUNDS:-7}
: > ratios.txt
for round in $(seq 1 "$rounds"); do
  # The order alternates, so that neither tool always runs right after the
  # other has filled the page cache.
  if [ $((round % 2)) -eq 1 ]; then order="copy sox ostrivale"; else order="ostrivale sox copy"; fi
  for tool in $order; do
    "${tool}_job" in.wav "$tool-$round.wav"
    eval "${tool}_time=$elapsed ${tool}_peak=$peak"
    rm -f "$tool-$round.wav"
  done
  printf 'round %s: copy %s s, sox %s s, ostrivale %s s; ostrivale/sox %s, ostrivale/copy %s; peak memory copy %s MiB, sox %s MiB, ostrivale %s MiB\n' \
    "$round" "$copy_time" "$sox_time" "$ostrivale_time" "$(ratio "$ostrivale_time" "$sox_time")" \
    "$(ratio "$ostrivale_time" "$copy_time")" "$(mib "$copy_peak")" "$(mib "$sox_peak")" "$(mib "$ostrivale_peak")"
  echo "$(ratio "$ostrivale_time" "$sox_time") $(ratio "$ostrivale_time" "$copy_time")" >> ratios.txt
done
printf 'ostrivale/sox: median %s, largest %s; ostrivale/copy: median %s, largest %s\n' \
  "$(cut -d' ' -f1 ratios.txt | median)" "$(cut -d' ' -f1 ratios.txt | largest)" \
  "$(cut -d' ' -f2 ratios.txt | median)" "$(cut -d' ' -f2 ratios.txt | largest)"

# Replacing an existing file against writing a new one: both are flushed to
# the disk (the file before it is named, its folder after); a replacement
# also passes through a hidden name and a rename.
: > replace.txt
for round in 1 2 3; do
  cp in.wav existing.wav
  sync
  ostrivale_job in.wav new.wav
  new=$elapsed
  ostrivale_job in.wav existing.wav
  echo "$new $elapsed" >> replace.txt
  rm -f new.wav existing.wav
done
awk '{ printf "new name %s s, over an existing file %s s: replacement %+.3f s\n", $1, $2, $2 - $1 }' replace.txt

# What putting the output on the disk costs: the same job with fsync made a
# no-op by eatmydata (Debian package eatmydata), where it is installed.
unsynced_job() {
  printf '%s\nE\n%s\n' "$1" "$2" > keys.txt
  timed eatmydata "$build/ostrivale" < keys.txt > screen.txt
}
tools_longest="copy sox ostrivale"
if command -v eatmydata >/dev/null; then
  tools_longest="$tools_longest unsynced"
  : > durable.txt
  for round in 1 2 3 4 5; do
    ostrivale_job in.wav durable.wav
    durable=$elapsed
    rm -f durable.wav
    unsynced_job in.wav unsynced.wav
    echo "$durable $elapsed" >> durable.txt
    rm -f unsynced.wav
  done
  awk '{ printf "new name, flushed %s s, under eatmydata %s s: durability %+.3f s\n", $1, $2, $1 - $2 }' durable.txt
fi
echo "load after the rounds: $(cut -d' ' -f1-3 /proc/loadavg)"

# The pass step by step, and the exact reference procedure's bytes.
if [ -x "$build/bench/job_breakdown" ]; then
  for i in 1 2 3; do
    "$build/bench/job_breakdown" in.wav E breakdown.wav
    rm -f breakdown.wav
  done
  ostrivale_job in.wav out.wav
  "$build/bench/job_breakdown" in.wav E exact.wav exact
  if cmp -s out.wav exact.wav; then echo "job and exact reference outputs: identical"; else echo "job and exact reference outputs DIFFER"; exit 1; fi
  rm -f out.wav exact.wav
fi

if [ "$longest" = yes ]; then
  # The largest data size whose RIFF size (data + 36) still fits 32 bits,
  # in whole stereo frames: 715827876 frames, some 62 minutes.
  data=4294967256
  le32() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $((($1 >> 8) & 255)))\\x$(printf %02x $((($1 >> 16) & 255)))\\x$(printf %02x $((($1 >> 24) & 255)))"; }
  {
    printf 'RIFF'; le32 $((data + 36)); printf 'WAVEfmt '; le32 16
    printf '\x01\x00\x02\x00'; le32 192000; le32 1152000; printf '\x06\x00\x18\x00data'; le32 "$data"
    # 63 copies of the minute's data hold more than enough.
    { for copy in $(seq 1 63); do tail -c +45 in.wav; done | head -c "$data"; } || true
  } > longest.wav
  printf 'the longest recording: %s bytes of data\n' "$data"
  cat longest.wav > /dev/null
  for tool in $tools_longest; do
    "${tool}_job" longest.wav "$tool-longest.wav" || echo "($tool reported a failure)"
    printf '%-9s %8s s   peak memory %s MiB, output %s bytes\n' "$tool" "$elapsed" "$(mib "$peak")" \
      "$(stat -c %s "$tool-longest.wav" 2>/dev/null || echo none)"
    rm -f "$tool-longest.wav"
  done
fi
