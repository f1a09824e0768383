#!/usr/bin/env bash
# The Windows program killed in the middle of a job's pass, as End task and
# taskkill /F kill it, while it replaces an existing output: afterwards the
# folder holds exactly what it held before, the old output's bytes unchanged
# and no temporary file. The job takes every sample the exact way (a
# coefficient beyond the fast bound, as in jobs_alike.sh), so that its pass
# lasts seconds; the script watches the temporary file grow and kills the
# process once it holds a fifth of the output, which leaves the kill (wine's
# taskkill starts slowly on a busy machine) most of the pass to land in. Two
# ways of killing:
#   - SIGKILL to the process: what the wine server sees of a crash;
#   - taskkill /F: TerminateProcess, as Task Manager's End task.
#
#   tests/app/killed_job.sh WINE PROGRAM.exe
#
# Exit status 0 when nothing was left after either kill, 1 otherwise.
set -u
if [ $# -ne 2 ]; then
  echo "usage: $0 WINE PROGRAM.exe" >&2
  exit 2
fi
wine="$1"
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d "${TMPDIR:-/tmp}/ostrivale-killed.XXXXXX")"
trap 'rm -rf "$work"' EXIT
# A name of its own, so that taskkill ends this process and no other.
image="ostrivale-killed-$$.exe"
cp "$2" "$work/$image"
mkdir "$work/run"
cd "$work/run" || exit 1

source "$here/wave_files.sh"
# 2^23 frames of mono at 192000 (24 MB), each the constant 2^22 + 1, whose
# products with these coefficients need 54 bits.
frames=$((1 << 23))
{
  printf 'RIFF'; le $((frames * 3 + 36)) 4; printf 'WAVE'; fmt 1 192000
  printf 'data'; le $((frames * 3)) 4
  printf '\x01\x00\x40' > ../frames
  for ((k = 0; k < 23; k++)); do cat ../frames ../frames > ../twice && mv ../twice ../frames; done
  cat ../frames
} > steady.wav
rm ../frames
printf '1073741824.5\r\n-1073741824\r\n' > FilterD.dat; printf '0\r\n%.0s' {1..13} >> FilterD.dat
printf 'the old output, to be kept\n' > out.wav
cp out.wav ../old.wav
printf 'steady.wav\nD\nout.wav\n' > ../answers
before="$(ls -A)"
output=$((44 + frames * 3))
failures=0

# temporary: the name of the temporary file in this folder, if there is one.
temporary() { ls -A | grep '^\.ostrivale-.*\.tmp$' | head -n 1; }

# killed LABEL COMMAND: starts a job, waits for its temporary file to hold a
# fifth of the output, runs COMMAND (a shell command; $pid is the process),
# then checks the folder once the process is gone and the system has closed
# its files.
killed() {
  local label="$1" size=0 name k
  WINEDEBUG=-all "$wine" "../$image" < ../answers > ../screen 2> ../errors &
  pid=$!
  for ((k = 0; k < 3000; k++)); do  # 60 s at most
    name="$(temporary)"
    size=0
    [ -n "$name" ] && size=$(stat -c %s "$name" 2>/dev/null || echo 0)
    [ "$size" -ge $((output / 5)) ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.02
  done
  if [ "$size" -lt $((output / 5)) ]; then
    echo "FAILED: $label: the job ended before its temporary file held a fifth of the output: $(cat ../errors)"
    failures=$((failures + 1))
    wait "$pid"
    return
  fi
  eval "$2" >/dev/null 2>&1
  wait "$pid" 2>/dev/null
  # The process is gone; its files close as the wine server learns of it.
  for ((k = 0; k < 500; k++)); do
    [ -z "$(temporary)" ] && break
    sleep 0.02
  done
  local failed=0
  if grep -q 'Job completed' ../screen; then
    echo "FAILED: $label: the job ended before the kill landed"
    failed=1
  elif [ "$(ls -A)" != "$before" ]; then
    echo "FAILED: $label: the folder holds $(ls -A | tr '\n' ' ')instead of $(echo $before)"
    failed=1
  fi
  if ! cmp -s out.wav ../old.wav; then
    echo "FAILED: $label: the old output was changed"
    failed=1
  fi
  [ $failed = 0 ] &&
    echo "$label at $((size * 100 / output))% of the output: nothing left, the old output unchanged"
  failures=$((failures + failed))
}

killed "killed with SIGKILL" 'kill -KILL $pid'
killed "ended with taskkill /F" '"$wine" taskkill /F /IM "$image"'

exit $((failures > 0))
