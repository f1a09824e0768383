#!/usr/bin/env bash
# tools/measure.py on a broadcast wave file (an odd-sized bext chunk and its
# pad byte before the format chunk) and on RF64 (the data's size in ds64):
# the numbers of their canonical twin, and every band kept against it; one
# line and status 1 for what it cannot read. Status 77 without numpy.
set -u -o pipefail
measure="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
python="$(sed -n '1s/^#! *//p' "$measure")"  # as the tool runs when started
"$python" -c 'import numpy' 2> /dev/null || { echo "SKIPPED: no $python with numpy (python3-numpy)"; exit 77; }
source "$(dirname "$0")/../app/wave_files.sh"
work="$(mktemp -d "${TMPDIR:-/tmp}/ostrivale-measure.XXXXXX")" && trap 'rm -rf "$work"' EXIT && cd "$work" || exit 1
frames=4000 bytes=24000 failed=0
canonical 2 192000 $frames 7 > plain.wav
{ printf 'RIFF'; le $((bytes + 648)) 4; printf 'WAVEbext'; le 603 4; head -c 604 /dev/zero; tail -c +13 plain.wav; } > bext.wav
{ printf 'RF64'; le 4294967295 4; printf 'WAVEds64'; le 28 4; le $((bytes + 72)) 8; le $bytes 8; le $frames 8; le 0 4
  tail -c +13 plain.wav | head -c 24; printf 'data'; le 4294967295 4; tail -c +45 plain.wav; printf 'JUNK'; le 6000 4
  head -c 6000 /dev/zero; } > rf64.wav
"$python" "$measure" plain.wav | tail -n +2 > plain.txt
for twin in bext rf64; do
  "$python" "$measure" $twin.wav | tail -n +2 | cmp -s plain.txt - || { echo "FAILED: $twin.wav: not plain.wav's numbers"; failed=1; }
  [ "$("$python" "$measure" plain.wav $twin.wav | tail -n +3 | tr -s ' ')" = $' 1 0.0 0.0 0.0 0.0\n 2 0.0 0.0 0.0 0.0' ] ||
    { echo "FAILED: $twin.wav against plain.wav: not every band kept whole"; failed=1; }
done
{ head -c 34 plain.wav; le 16 2; tail -c +37 plain.wav; } > 16bit.wav && head -c 36 plain.wav > nodata.wav && printf RIFX > rifx.wav
for bad in '16bit.wav: not 24-bit PCM (format code 0x0001, 16 bits)' 'nodata.wav: no data chunk' 'rifx.wav: not a RIFF/WAVE file'; do
  "$python" "$measure" "${bad%%:*}" > out.txt 2> err.txt
  [ $? = 1 ] && [ ! -s out.txt ] && [ "$(cat err.txt)" = "measure.py: $bad" ] || { echo "FAILED: ${bad%%:*}: $(cat out.txt err.txt)"; failed=1; }
done
[ $failed = 0 ] && echo "measure.py: bext and RF64 give the canonical file's numbers"
