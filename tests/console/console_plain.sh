#!/usr/bin/env bash
# Plain mode of the console room, as scripts use it on every system:
# tools/console_demo with its answer on standard input (UTF-8) gives the
# final screen as UTF-8 text on standard output and the message box as an
# ERROR: line on standard error, byte for byte (lines ended by CR LF from a
# Windows program, a .exe); input that ends before the answer names the
# prompt and ends with status 1.
#
#   tests/console/console_plain.sh PROGRAM [ARGUMENT...]
#   e.g. tests/console/console_plain.sh wine build-windows/console_demo.exe
set -u
folder="$(mktemp -d "${TMPDIR:-/tmp}/ostrivale-plain.XXXXXX")"
trap 'rm -rf "$folder"' EXIT
failures=0
line_end=""
[[ "$*" == *.exe* ]] && line_end=$'\r'

# run INPUT STATUS OUT ERR: the program given INPUT ends with STATUS and writes OUT and ERR.
run() {
  printf '%s' "$1" | "${@:5}" > "$folder/out" 2> "$folder/err"
  local status=$?
  printf '%s' "$3" | sed "s/\$/$line_end/" > "$folder/want-out"
  printf '%s' "$4" | sed "s/\$/$line_end/" > "$folder/want-err"
  [ "$status" = "$2" ] || { echo "FAILED: exit status $status, expected $2"; failures=$((failures + 1)); }
  for stream in out err; do
    if ! cmp -s "$folder/$stream" "$folder/want-$stream"; then
      echo "FAILED: standard $stream differs from what is expected:"
      diff <(od -c "$folder/want-$stream") <(od -c "$folder/$stream")
      failures=$((failures + 1))
    fi
  done
}

screen=$'\n   Ostrivale console check\n   blue on bright white\n\n\n\n\n   Input file?   caf\xc3\xa9\n   typed: caf\xc3\xa9\n   press any key to quit\n'
run $'caf\xc3\xa9\r\n' 0 "$screen" $'ERROR: File not found. Please enter a valid filename\n' "$@"
screen=$'\n   Ostrivale console check\n   blue on bright white\n\n\n\n\n   Input file?\n'
run '' 1 "$screen" $'ERROR: input ended at the prompt "Input file?"\n' "$@"

[ "$failures" -eq 0 ] && echo "console plain mode: every check passed" && exit 0
echo "console plain mode: $failures checks FAILED"
exit 1
