#!/usr/bin/env bash
# Whole jobs of one program against another in plain mode, answer for answer:
# the Windows program under wine against the Linux one. Each job runs in a
# folder of its own holding the same files for both; both must leave the same
# output bytes, the same final screen (the job's time aside), the same error
# lines and the same exit status; a Windows program (a .exe) writes its text
# lines with CR LF where the reference ends them by LF. The jobs: recordings
# in the canonical layout and in walked ones (chunks before, between and
# after, a longer format chunk, RF64, the extensible form with metadata
# kept), names in several scripts (typed, and given on the command line), a
# name in quotes as a dropped file's, the restart after a missing name and a
# file that is no wave, an output over an existing file and over the input
# itself, an output that cannot be written, filters of both rates,
# an impulse file missing and one damaged, and a filter whose coefficients no
# fast bound vouches for, so that every sample takes the exact path at
# extended precision.
#
#   tests/app/jobs_alike.sh PROGRAM [ARGUMENT...] -- REFERENCE_PROGRAM
#   e.g. tests/app/jobs_alike.sh wine build-windows/ostrivale.exe -- build/ostrivale
#
# Exit status 0 when every job is alike, 1 otherwise, 77 when the reference
# program is missing.
set -u
# Wine gives Windows programs the names of Unix files in the locale's
# character set: UTF-8, so that names in every script get through.
export LC_ALL=C.UTF-8

program=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do
  word="$1"
  [ -e "$word" ] && word="$(cd "$(dirname "$word")" && pwd)/$(basename "$word")"
  program+=("$word")
  shift
done
reference="${2:-}"
if [ "${#program[@]}" -eq 0 ] || [ "${1:-}" != -- ] || [ -z "$reference" ]; then
  echo "usage: $0 PROGRAM [ARGUMENT...] -- REFERENCE_PROGRAM" >&2
  exit 2
fi
if [ ! -x "$reference" ]; then
  echo "SKIPPED: no reference program $reference (build the Linux program first)"
  exit 77
fi
reference="$(cd "$(dirname "$reference")" && pwd)/$(basename "$reference")"
here="$(cd "$(dirname "$0")" && pwd)"
data="$(cd "$here/../../data" && pwd)"
work="$(mktemp -d "${TMPDIR:-/tmp}/ostrivale-alike.XXXXXX")"
trap 'rm -rf "$work"' EXIT
# Copies of both programs (the last word before -- is one), away from the
# impulse files their builds put beside them.
mkdir "$work/bin" "$work/reference-bin" && cp "${program[-1]}" "$work/bin/" && cp "$reference" "$work/reference-bin/" &&
  program[-1]="$work/bin/$(basename "${program[-1]}")" reference="$work/reference-bin/$(basename "$reference")"
failures=0
jobs=0

# ---- recordings -------------------------------------------------------------------

source "$here/wave_files.sh"

mkdir "$work/files"
cd "$work/files" || exit 1
canonical 2 192000 40000 1 > stereo192k.wav
canonical 1 96000 30011 2 > mono96k.wav
# Walked: JUNK before the format, an 18-byte format chunk, LIST between it
# and the data, an odd-sized chunk after the data (with its pad byte).
{
  frames=25000
  bytes=$((frames * 6))
  printf 'RIFF'; le $((4 + 20 + 26 + 26 + 8 + bytes + 14)) 4; printf 'WAVE'
  printf 'JUNK'; le 12 4; printf 'abcdefghijkl'
  fmt 2 96000 extra
  printf 'LIST'; le 18 4; printf 'INFOISFT'; le 6 4; printf 'tool\0\0'
  printf 'data'; le $bytes 4; samples $((frames * 2)) 3
  printf 'note'; le 5 4; printf 'after\0'
} > walked.wav
# RF64: sizes in the ds64 chunk, 0xFFFFFFFF in the 32-bit fields.
{
  frames=20000
  bytes=$((frames * 3))
  printf 'RF64'; le 4294967295 4; printf 'WAVE'
  printf 'ds64'; le 28 4; le $((4 + 36 + 24 + 8 + bytes)) 8; le $bytes 8; le $frames 8; le 0 4
  fmt 1 192000
  printf 'data'; le 4294967295 4; samples $frames 4
} > rf64.wav
# Extensible, with a broadcast wave chunk and tags that travel and a level
# summary that does not.
{
  frames=15000
  bytes=$((frames * 6))
  printf 'RIFF'; le $((4 + 610 + 48 + 32 + 8 + bytes + 26)) 4; printf 'WAVE'
  printf 'bext'; le 602 4; for ((k = 0; k < 301; k++)); do printf 'b\0'; done
  extensible_fmt 2 192000
  printf 'PEAK'; le 24 4; printf '%024d' 0
  printf 'data'; le $bytes 4; samples $((frames * 2)) 6
  printf 'LIST'; le 18 4; printf 'INFOINAM'; le 6 4; printf 'take\0\0'
} > extensible.wav
cp mono96k.wav "my take.wav"
cp mono96k.wav "$(printf 'Gr\xc3\xbc\xc3\x9fe \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x8e\xb5.wav')"
# A constant of 2^22 + 1 (bytes 01 00 40) after some noise: with the
# coefficients of that job each value is (2^30 + 1/2) x - 2^30 x, whose
# product needs 54 bits.
{
  bytes=$((7500 * 3))
  printf 'RIFF'; le $((bytes + 36)) 4; printf 'WAVE'; fmt 1 192000; printf 'data'; le $bytes 4
  samples 1500 5
  for ((k = 0; k < 6000; k++)); do printf '\x01\x00\x40'; done
} > steady.wav
printf 'RIFF is not here' > notwave.wav
cp "$data"/Filter?.dat .

# ---- the jobs -----------------------------------------------------------------------

# What the final screen says of the job's time depends on the machine.
screen_without_time() { sed 's/Job completed in .* seconds/Job completed in N seconds/' "$1"; }
# The reference's text with the program's line ends.
line_end=""
[[ "${program[*]}" == *.exe* ]] && line_end=$'\r'
as_program_text() { sed "s/\$/$line_end/" "$@"; }

# job LABEL ANSWERS [SETUP [ARGUMENT...]]: runs both programs, each in a
# fresh copy of the files (after SETUP, a shell command run there), with the
# ARGUMENTs and ANSWERS on standard input, and compares everything they leave.
job() {
  local label="$1" answers="$2" setup="${3:-:}" side
  local arguments=("${@:4}")
  jobs=$((jobs + 1))
  for side in reference program; do
    rm -rf "$work/$side"
    cp -R "$work/files" "$work/$side"
    (cd "$work/$side" && eval "$setup")
  done
  (cd "$work/reference" && printf '%s' "$answers" | "$reference" "${arguments[@]}" > ../reference.out 2> ../reference.err)
  echo $? > "$work/reference.status"
  (cd "$work/program" && printf '%s' "$answers" | "${program[@]}" "${arguments[@]}" > ../program.out 2> ../program.err)
  echo $? > "$work/program.status"
  local failed=0
  if ! cmp -s "$work/reference.status" "$work/program.status"; then
    echo "FAILED: $label: exit status $(cat "$work/program.status"), the reference's $(cat "$work/reference.status")"
    failed=1
  fi
  if ! cmp -s <(as_program_text "$work/reference.err") "$work/program.err"; then
    echo "FAILED: $label: standard error differs:"
    diff <(as_program_text "$work/reference.err") "$work/program.err" | head -n 10
    failed=1
  fi
  if ! diff <(screen_without_time "$work/reference.out" | as_program_text) <(screen_without_time "$work/program.out") \
       > "$work/diff"; then
    echo "FAILED: $label: the final screen differs:"
    head -n 20 "$work/diff"
    failed=1
  fi
  # Every file either side has: the same names, the same bytes.
  if ! diff <(cd "$work/reference" && find . -type f | sort) <(cd "$work/program" && find . -type f | sort) > "$work/diff"; then
    echo "FAILED: $label: other files are left:"
    cat "$work/diff"
    failed=1
  fi
  while IFS= read -r file; do
    [ -f "$work/program/$file" ] && ! cmp -s "$work/reference/$file" "$work/program/$file" &&
      { echo "FAILED: $label: $file differs"; failed=1; }
  done < <(cd "$work/reference" && find . -type f)
  grep -q 'Job completed in' "$work/reference.out" || [ "$(cat "$work/reference.status")" != 0 ] ||
    { echo "FAILED: $label: the reference did not finish"; failed=1; }
  failures=$((failures + failed))
}

unicode="$(printf 'Gr\xc3\xbc\xc3\x9fe \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x8e\xb5.wav')"
job "stereo at 192000 after a missing name and a file that is no wave, filter E" \
    $'missing.wav\nnotwave.wav\nstereo192k.wav\ne\nout.wav\n'
job "mono at 96000 over an existing file, filter B" $'mono96k.wav\nB\nmono96k-copy.wav\n' \
    'printf old > mono96k-copy.wav'
job "walked layout, a wrong letter first, filter F" $'walked.wav\nA\nF\nwalked-out.wav\n'
job "RF64, filter A" $'rf64.wav\nA\nrf64-out.wav\n'
job "names in several scripts, filter C on a 96000 recording refused, then B" \
    "$unicode"$'\nC\nB\n\xd0\xb2\xd1\x8b\xd1\x85\xd0\xbe\xd0\xb4 \xe2\x9c\x93.wav\n'
job "output over the input itself, filter D" $'stereo192k.wav\nD\nstereo192k.wav\n'
job "every sample the exact way (coefficients beyond the fast bound), filter D" \
    $'steady.wav\nD\nsteady-out.wav\n' \
    "printf '1073741824.5\r\n-1073741824\r\n' > FilterD.dat; printf '0\r\n%.0s' {1..13} >> FilterD.dat"
job "output into a folder that does not exist" $'mono96k.wav\nF\nnowhere/out.wav\n'
job "impulse file missing" $'mono96k.wav\nF\nout.wav\n' 'rm FilterF.dat'
job "extensible with metadata, filter C" $'extensible.wav\nC\nextensible-out.wav\n'
job "a name in several scripts on the command line, filter B" $'B\nout.wav\n' : "$unicode"
job "a dropped name in quotes, a blank after them, filter F" $'"my take.wav" \nF\nout.wav\n'
job "impulse file damaged: LF lines, one empty" $'mono96k.wav\nF\nout.wav\n' \
    "tr -d '\r' < FilterF.dat | sed '3s/.*//' > damaged && mv damaged FilterF.dat"

if [ "$failures" -eq 0 ]; then
  echo "jobs alike: $jobs jobs, every output, screen and status the same"
  exit 0
fi
echo "jobs alike: $failures of $jobs jobs FAILED"
exit 1
