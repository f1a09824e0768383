#!/usr/bin/env bash
# Times the whole job of the Windows program under wine against the Linux
# program on the same file: one minute of stereo at 192000 samples per second
# (pink noise), filter E, every output a new name, the two programs taken in
# turn for several rounds. Three figures each: the job's own report ("Job
# completed in", from the output name to the end: reading, filtering,
# writing; to the hundredth of a second), the process from start to end
# (under wine its start too, with a wine server kept running as the tests
# keep one), and the process less the same program started and ended at its
# first prompt (the job without the start). The outputs must be the same
# bytes. Then the pass alone, step by step (bench/job_breakdown of each
# build), where the builds have it.
#   bench/job_under_wine.sh [Linux build folder] [Windows build folder]
# Needs sox (Debian package sox) and wine.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
linux_build=$(cd "${1:-$here/build}" && pwd)
windows_build=$(cd "${2:-$here/build-windows}" && pwd)
linux=$linux_build/ostrivale
windows=$windows_build/ostrivale.exe
work=$(mktemp -d)
export WINEDEBUG=-all
export WINEPREFIX="$windows_build/wine-prefix"
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$work"' EXIT

command -v sox >/dev/null || { echo "sox is needed: apt-get install sox" >&2; exit 2; }
command -v wine >/dev/null || { echo "wine is needed: apt-get install wine wine64" >&2; exit 2; }
cd "$work"
sox -R -n -r 192000 -b 24 -c 2 -t wavpcm in.wav synth 60 pinknoise vol 0.5
cp "$here"/data/Filter?.dat .
cat in.wav > /dev/null  # the input in the page cache for both
mkdir -p "$WINEPREFIX"
wineserver -p60
wine cmd /c exit >/dev/null 2>&1 || true  # the prefix up to date before the first round

now() { date +%s.%N; }
# run NAME PROGRAM...: sets `reported` (the job's report, seconds) and
# `elapsed` (the process, seconds), and `started` (the process that ends at
# the first prompt for want of input).
run() {
  local out="$1" t0 t1
  shift
  t0=$(now)
  "$@" < /dev/null > /dev/null 2>&1 || true
  t1=$(now)
  started=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')
  t0=$(now)
  printf 'in.wav\nE\n%s\n' "$out" | "$@" > screen.txt
  t1=$(now)
  elapsed=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')
  reported=$(sed -n 's/.*Job completed in *\([-.0-9E+]*\) *seconds.*/\1/p' screen.txt)
  reported=$(awk -v r="$reported" 'BEGIN { printf "%.2f", r }')
}
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

rounds=${OSTRIVALE_BENCH_ROUNDS:-7}
echo "one minute of stereo at 192000, filter E, $rounds rounds; load before: $(cut -d' ' -f1-3 /proc/loadavg)"
: > times.txt
for round in $(seq 1 "$rounds"); do
  if [ $((round % 2)) -eq 1 ]; then order="linux wine"; else order="wine linux"; fi
  for side in $order; do
    if [ "$side" = linux ]; then run "linux-$round.wav" "$linux"; else run "wine-$round.wav" wine "$windows"; fi
    eval "${side}_reported=$reported ${side}_elapsed=$elapsed ${side}_job=$(awk -v a="$elapsed" -v b="$started" 'BEGIN { printf "%.3f", a - b }')"
  done
  cmp -s "linux-$round.wav" "wine-$round.wav" || { echo "round $round: the outputs DIFFER"; exit 1; }
  rm -f "linux-$round.wav" "wine-$round.wav"
  printf 'round %s: Linux report %s s, process %s s, less its start %s s; wine report %s s, process %s s, less its start %s s\n' \
    "$round" "$linux_reported" "$linux_elapsed" "$linux_job" "$wine_reported" "$wine_elapsed" "$wine_job"
  echo "$linux_reported $linux_elapsed $linux_job $wine_reported $wine_elapsed $wine_job" >> times.txt
done
column() { cut -d' ' -f"$1" times.txt | median; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
printf 'medians, Linux and wine: reports %s s and %s s (%s times), processes %s s and %s s (%s times), less their starts %s s and %s s (%s times); outputs identical\n' \
  "$(column 1)" "$(column 4)" "$(ratio "$(column 4)" "$(column 1)")" \
  "$(column 2)" "$(column 5)" "$(ratio "$(column 5)" "$(column 2)")" \
  "$(column 3)" "$(column 6)" "$(ratio "$(column 6)" "$(column 3)")"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"

# The pass step by step, the builds in turn.
if [ -x "$linux_build/bench/job_breakdown" ] && [ -f "$windows_build/bench/job_breakdown.exe" ]; then
  : > passes.txt
  for round in 1 2 3 4 5; do
    l=$("$linux_build/bench/job_breakdown" in.wav E breakdown.wav | awk '/^  pass /{print $2}')
    w=$(wine "$windows_build/bench/job_breakdown.exe" in.wav E breakdown.wav | awk '/^  pass /{print $2}')
    echo "$l $w" >> passes.txt
  done
  printf 'the pass alone (job_breakdown, 5 rounds), medians: Linux %s s, wine %s s: %s times\n' \
    "$(cut -d' ' -f1 passes.txt | median)" "$(cut -d' ' -f2 passes.txt | median)" \
    "$(ratio "$(cut -d' ' -f2 passes.txt | median)" "$(cut -d' ' -f1 passes.txt | median)")"
fi
