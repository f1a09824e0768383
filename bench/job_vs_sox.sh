#!/usr/bin/env bash
# Times the whole job on one minute of stereo at 192000 samples per second
# with filter E, in one run of alternating rounds, against the same filter in
# sox and in ffmpeg (afir) and against a copy of the file:
#  - durable: each tool followed by `sync` of the file it wrote (the job
#    makes its output durable itself; the sync then finds nothing to do);
#  - the job's own work: ostrivale with its syncs made no-ops (libeatmydata
#    preloaded, as the eatmydata command does, without timing that shell
#    script's start) against a plain cp, and the same job at the AVX2 vector
#    level (bench/job_breakdown --level=avx2 ... job) where the processor has
#    more.
# Then the medians, their ratios and the medians of each round's ratios,
# and what the flushes cost the job (durable less own work); the peak memory
# of each tool; the replacement of an existing file against a new one;
# the step breakdown of the pass; and byte checks: the job against the exact
# reference procedure, sox and ffmpeg against the job (their outputs differ
# from it by a few steps of dither and rounding, or the comparison is void).
#   bench/job_vs_sox.sh [build folder] [--longest]
# OSTRIVALE_BENCH_ROUNDS sets the rounds (7). --longest adds the largest
# recording a header can describe (4 GiB of stereo data at 192000, some 62
# minutes, generated here and removed again; it needs 13 GB of disk in
# $TMPDIR).
# Needs sox, ffmpeg, eatmydata, perl and GNU time (Debian packages of those
# names, time for GNU time).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
longest=no
[ "${2:-}" = "--longest" ] && longest=yes
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for tool in sox ffmpeg eatmydata perl; do
  command -v "$tool" >/dev/null || { echo "$tool is needed: apt-get install $tool" >&2; exit 2; }
done
[ -x /usr/bin/time ] || { echo "GNU time is needed: apt-get install time" >&2; exit 2; }
cd "$work"
# Pink noise at a realistic level, repeatable (-R), written with the plain
# 44-byte header.
sox -R -n -r 192000 -b 24 -c 2 -t wavpcm in.wav synth 60 pinknoise vol 0.5
cp "$here"/data/Filter?.dat .
tr -d '\r' < FilterE.dat > coefficients.txt
# The same coefficients for ffmpeg: a stereo impulse response of 64-bit
# floats, both channels alike, applied channel by channel (irfmt=input; a
# mono one is mixed to stereo on the way, with a gain).
perl -e 'binmode STDOUT; while (<STDIN>) { print pack("d<d<", $_, $_) for split }' \
  < coefficients.txt > ir.f64
ffmpeg -hide_banner -loglevel error -f f64le -ar 192000 -ac 2 -i ir.f64 -c:a pcm_f64le ir.wav
# afir without its automatic gain (gtype=none) still scales the response by
# irgain; ffmpeg 5.1 doubles it on the way, so irgain=0.5 gives gain 1 there.
# Whichever of 1 and 0.5 passes a unit impulse through unchanged is taken.
perl -e 'binmode STDOUT; print pack("d<d<", 1, 1); print pack("d<d<", 0, 0) for 1 .. 19' > unit.f64
ffmpeg -hide_banner -loglevel error -f f64le -ar 192000 -ac 2 -i unit.f64 -c:a pcm_f64le unit.wav
sox in.wav second.wav trim 0 1
afir_gain=""
for gain in 1 0.5; do
  ffmpeg -hide_banner -loglevel error -i second.wav -i unit.wav -filter_complex \
    "[0:a][1:a]afir=gtype=none:irgain=$gain:irfmt=input:precision=double" -c:a pcm_s24le unit-out.wav
  if [ "$(sox -m -v 1 second.wav -v -1 unit-out.wav -n stat 2>&1 | awk '/Maximum amplitude/ { print $3 }')" = 0.000000 ]; then
    afir_gain=$gain
    break
  fi
  rm -f unit-out.wav
done
[ -n "$afir_gain" ] || { echo "ffmpeg afir passes no unit impulse through unchanged" >&2; exit 1; }
afir="afir=gtype=none:irgain=$afir_gain:irfmt=input:precision=double"
rm -f unit-out.wav second.wav

# EPOCHREALTIME in microseconds, and seconds between two of them.
now() { echo "${EPOCHREALTIME/./}"; }
seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.4f", (b - a) / 1e6 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }

# The tools, each writing the file $2 from $1; the durable ones sync it.
run_ostrivale() { printf '%s\nE\n%s\n' "$1" "$2" | "$build/ostrivale" > screen.txt; }
run_sox() { sox "$1" -b 24 "$2" fir coefficients.txt; }
run_ffmpeg() {
  ffmpeg -hide_banner -loglevel error -i "$1" -i ir.wav -filter_complex "[0:a][1:a]$afir" -c:a pcm_s24le "$2"
}
run_copy() { cp "$1" "$2"; }
ostrivale_durable() { run_ostrivale "$@" && sync "$2"; }
sox_durable() { run_sox "$@" && sync "$2"; }
ffmpeg_durable() { run_ffmpeg "$@" && sync "$2"; }
copy_durable() { run_copy "$@" && sync "$2"; }
ostrivale_own() { LD_PRELOAD=libeatmydata.so run_ostrivale "$@"; }
copy_own() { run_copy "$@"; }
avx2_own() { LD_PRELOAD=libeatmydata.so "$build/bench/job_breakdown" --level=avx2 "$1" E "$2" job; }

tools="ostrivale_durable sox_durable ffmpeg_durable copy_durable ostrivale_own copy_own"
avx2=no
if [ -x "$build/bench/job_breakdown" ] && grep -qw avx512f /proc/cpuinfo; then
  tools="$tools avx2_own"
  avx2=yes
fi

echo "load before the rounds: $(cut -d' ' -f1-3 /proc/loadavg)"
printf 'one minute of stereo at 192000 samples per second, filter E; every output a new name\n'
printf 'ffmpeg: %s\n' "$afir"
cat in.wav > /dev/null  # the input in the page cache for everyone
rounds=${OSTRIVALE_BENCH_ROUNDS:-7}
reversed=$(echo "$tools" | tr ' ' '\n' | tac | tr '\n' ' ')
for tool in $tools; do : > "$tool.times"; done
: > ratios.txt
for round in $(seq 1 "$rounds"); do
  # The order alternates, so that no tool always runs right after the same
  # other one.
  if [ $((round % 2)) -eq 1 ]; then order=$tools; else order=$reversed; fi
  line="round $round:"
  for tool in $order; do
    t0=$(now)
    "$tool" in.wav "$tool-$round.wav"
    t1=$(now)
    elapsed=$(seconds "$t0" "$t1")
    echo "$elapsed" >> "$tool.times"
    eval "${tool}_time=$elapsed"
    line="$line $tool $elapsed"
    rm -f "$tool-$round.wav"
  done
  echo "$line"
  echo "$(ratio "$ostrivale_durable_time" "$sox_durable_time") $(ratio "$ostrivale_durable_time" "$ffmpeg_durable_time") $(ratio "$ostrivale_durable_time" "$copy_durable_time") $(ratio "$ostrivale_own_time" "$copy_own_time") $(if [ $avx2 = yes ]; then ratio "$avx2_own_time" "$copy_own_time"; else echo -; fi)" >> ratios.txt
done
echo "load after the rounds: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "medians of $rounds rounds (seconds):"
for tool in $tools; do
  eval "${tool}_median=$(median < "$tool.times")"
  printf '  %-18s %s\n' "$tool" "$(eval echo "\$${tool}_median")"
done
column_median() { cut -d' ' -f"$1" ratios.txt | median; }
printf 'durable:  ostrivale/sox %s (of the medians; median of the rounds %s), ostrivale/ffmpeg %s (%s), ostrivale/cp %s (%s)\n' \
  "$(ratio "$ostrivale_durable_median" "$sox_durable_median")" "$(column_median 1)" \
  "$(ratio "$ostrivale_durable_median" "$ffmpeg_durable_median")" "$(column_median 2)" \
  "$(ratio "$ostrivale_durable_median" "$copy_durable_median")" "$(column_median 3)"
printf 'own work: ostrivale/cp %s (%s)' "$(ratio "$ostrivale_own_median" "$copy_own_median")" "$(column_median 4)"
if [ $avx2 = yes ]; then
  printf ', at AVX2 %s (%s)' "$(ratio "$avx2_own_median" "$copy_own_median")" "$(column_median 5)"
fi
printf '\n'
printf 'what the flushes cost (durable less own work, medians): ostrivale %+.3f s, cp %+.3f s\n' \
  "$(awk -v a="$ostrivale_durable_median" -v b="$ostrivale_own_median" 'BEGIN { print a - b }')" \
  "$(awk -v a="$copy_durable_median" -v b="$copy_own_median" 'BEGIN { print a - b }')"

# Peak memory, each tool once under GNU time, run by it directly.
printf 'in.wav\nE\npeak.wav\n' > keys.txt
peak() {
  local tool="$1"
  shift
  /usr/bin/time -f %M -o peak.txt "$@" > /dev/null
  printf 'peak memory %-9s %s MiB\n' "$tool" "$(mib "$(tail -n 1 peak.txt)")"
  rm -f peak.wav
}
peak ostrivale "$build/ostrivale" < keys.txt
peak sox sox in.wav -b 24 peak.wav fir coefficients.txt
peak ffmpeg ffmpeg -hide_banner -loglevel error -i in.wav -i ir.wav -filter_complex "[0:a][1:a]$afir" -c:a pcm_s24le peak.wav
peak cp cp in.wav peak.wav

# Replacing an existing file against writing a new one: both are flushed to
# the disk (the file before it is named, its folder after); a replacement
# also passes through a hidden name and a rename.
: > replace.txt
for round in 1 2 3; do
  cp in.wav existing.wav
  sync
  t0=$(now); run_ostrivale in.wav new.wav; t1=$(now)
  new=$(seconds "$t0" "$t1")
  t0=$(now); run_ostrivale in.wav existing.wav; t1=$(now)
  echo "$new $(seconds "$t0" "$t1")" >> replace.txt
  rm -f new.wav existing.wav
done
awk '{ printf "new name %s s, over an existing file %s s: replacement %+.3f s\n", $1, $2, $2 - $1 }' replace.txt

# The pass step by step, and the bytes.
if [ -x "$build/bench/job_breakdown" ]; then
  for i in 1 2 3; do
    "$build/bench/job_breakdown" in.wav E breakdown.wav
    rm -f breakdown.wav
  done
  levels="avx2"
  grep -qw avx512f /proc/cpuinfo && levels="avx2 avx512"
  for level in $levels; do
    "$build/bench/job_breakdown" --level="$level" in.wav E steps.wav steps 9
  done
  run_ostrivale in.wav out.wav
  "$build/bench/job_breakdown" in.wav E exact.wav exact
  if cmp -s out.wav exact.wav; then echo "job and exact reference outputs: identical"; else echo "job and exact reference outputs DIFFER"; exit 1; fi
  # The others against the job, over the frames all of them hold (ffmpeg
  # leaves out the filter's last M - 1 frames), in steps of the 24-bit scale.
  # sox takes a filter for a linear-phase one and moves its output (M - 1) / 2
  # frames earlier: it is put back for the comparison.
  run_sox in.wav sox.wav
  run_ffmpeg in.wav ffmpeg.wav
  frames=$(soxi -s in.wav)
  advance=$(( ($(wc -w < coefficients.txt) - 1) / 2 ))
  for tool in sox ffmpeg; do
    lag=0
    [ "$tool" = sox ] && lag=$advance
    sox -m -v 1 out.wav -v -1 "|sox $tool.wav -p pad ${lag}s" -t s32 - trim "${lag}s" "$((frames - lag))s" |
      od -An -t d4 -w4 -v |
      awk -v tool="$tool" '{ v = $1 / 256; if (v < 0) v = -v; if (v > m) m = v }
        END { printf "%s against the job: at most %d steps apart\n", tool, m }'
  done
  rm -f out.wav exact.wav sox.wav ffmpeg.wav
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
  # Three rounds in alternating order, each run after a sync of its own (not
  # timed), so that none starts with the dirty pages of the run before;
  # then sox once.
  long_tools="copy_own ostrivale_own copy_durable ostrivale_durable"
  long_reversed=$(echo "$long_tools" | tr ' ' '\n' | tac | tr '\n' ' ')
  for round in 1 2 3; do
    if [ $((round % 2)) -eq 1 ]; then order=$long_tools; else order=$long_reversed; fi
    for tool in $order sox_durable; do
      [ "$tool" = sox_durable ] && [ "$round" -gt 1 ] && continue
      sync
      t0=$(now)
      "$tool" longest.wav "$tool-longest.wav" || echo "($tool reported a failure)"
      t1=$(now)
      printf 'round %s %-18s %8s s   output %s bytes\n' "$round" "$tool" "$(seconds "$t0" "$t1")" \
        "$(stat -c %s "$tool-longest.wav" 2>/dev/null || echo none)"
      rm -f "$tool-longest.wav"
    done
  done
fi
