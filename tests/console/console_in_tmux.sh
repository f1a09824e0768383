#!/usr/bin/env bash
# The console room in a real console: tools/console_demo in an 80 x 41 tmux
# pane, driven with send-keys and read back with capture-pane -e, cell by cell
# with its colours: the banner and prompt, typing with Backspace, the message
# box, the screen under it given back, the final key wait, and the console
# usable afterwards (cursor shown, line input with echo, the shell's text in
# its own colours). The same cells are expected of every console, so the
# Windows build runs console_demo.exe under wine here, and the Linux build's
# console_demo can be checked the same way.
#
#   tests/console/console_in_tmux.sh PROGRAM [ARGUMENT...]
#   e.g. tests/console/console_in_tmux.sh wine build-windows/console_demo.exe
#
# Exit status 0 when every check holds, 1 otherwise, 77 when tmux is missing.
# Wide characters and Ctrl+C are left out: wine's console in a terminal
# misaligns the one and always turns the other into an ending event.
set -u
export LC_ALL=C.UTF-8

if [ $# -lt 1 ]; then
  echo "usage: $0 PROGRAM [ARGUMENT...]" >&2
  exit 2
fi
if ! command -v tmux >/dev/null 2>&1; then
  echo "SKIPPED: tmux is needed (Debian package tmux)"
  exit 77
fi

# The command, with the files it names made absolute: it runs in a folder of
# its own.
program=""
for word in "$@"; do
  [ -e "$word" ] && word="$(cd "$(dirname "$word")" && pwd)/$(basename "$word")"
  program+=" $(printf '%q' "$word")"
done
folder="$(mktemp -d "${TMPDIR:-/tmp}/ostrivale-console.XXXXXX")"
socket="ostrivale-console-$$"
tmux_() { tmux -f /dev/null -L "$socket" "$@"; }
cleanup() {
  tmux_ kill-server >/dev/null 2>&1
  rm -f "${TMUX_TMPDIR:-/tmp}/tmux-$(id -u)/$socket"
  rm -rf "$folder"
}
trap cleanup EXIT

failures=0
fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}

# ---- reading the pane ---------------------------------------------------------

# Cells of the last capture: TEXT, FG and BG by "row,column" (both from 1);
# colours as SGR codes (30-37/90-97, 40-47/100-107), -1 for the terminal's
# default. Colours carry over from cell to cell and row to row until changed.
declare -A TEXT FG BG
capture() {
  TEXT=() FG=() BG=()
  local captured line row=0 column i length character rest parameters final code fg=-1 bg=-1
  captured="$(tmux_ capture-pane -p -e -N -t job)"
  while IFS= read -r line; do
    row=$((row + 1))
    column=0
    i=0
    length=${#line}
    while [ "$i" -lt "$length" ]; do
      character="${line:i:1}"
      if [ "$character" = $'\e' ] && [ "${line:i+1:1}" = "[" ]; then
        rest="${line:i+2}"
        parameters="${rest%%[A-Za-z]*}"
        final="${rest:${#parameters}:1}"
        i=$((i + 3 + ${#parameters}))
        if [ "$final" = m ]; then
          local IFS=';'
          for code in ${parameters:-0}; do
            code=$((10#${code:-0}))
            if [ "$code" -eq 0 ]; then fg=-1; bg=-1
            elif [ "$code" -eq 39 ]; then fg=-1
            elif [ "$code" -eq 49 ]; then bg=-1
            elif { [ "$code" -ge 30 ] && [ "$code" -le 37 ]; } || { [ "$code" -ge 90 ] && [ "$code" -le 97 ]; }; then fg=$code
            elif { [ "$code" -ge 40 ] && [ "$code" -le 47 ]; } || { [ "$code" -ge 100 ] && [ "$code" -le 107 ]; }; then bg=$code
            fi
          done
          unset IFS
        fi
        continue
      fi
      column=$((column + 1))
      TEXT[$row,$column]="$character"
      FG[$row,$column]=$fg
      BG[$row,$column]=$bg
      i=$((i + 1))
    done
  done <<< "$captured"
}

# Text of `row` from column `first` to `last` (blanks where the row is short).
text_of() {
  local row=$1 first=$2 last=$3 column text=""
  for ((column = first; column <= last; column++)); do text+="${TEXT[$row,$column]:- }"; done
  printf '%s' "$text"
}

# expect_text ROW COLUMN TEXT: the cells from COLUMN on show TEXT.
expect_text() {
  local shown
  shown="$(text_of "$1" "$2" $(($2 + ${#3} - 1)))"
  [ "$shown" = "$3" ] || fail "row $1 from column $2: [$shown], expected [$3]"
}

# expect_colours ROW FIRST LAST FG BG: every cell from FIRST to LAST has them.
expect_colours() {
  local column
  for ((column = $2; column <= $3; column++)); do
    if [ "${FG[$1,$column]:--1}" != "$4" ] || [ "${BG[$1,$column]:--1}" != "$5" ]; then
      fail "row $1 column $column: colours ${FG[$1,$column]:--1}/${BG[$1,$column]:--1}, expected $4/$5"
      return
    fi
  done
}

# expect_row_blank ROW BG: 80 blanks on that background.
expect_row_blank() {
  expect_text "$1" 1 "$(printf '%80s' '')"
  local column
  for ((column = 1; column <= 80; column++)); do
    if [ "${BG[$1,$column]:--1}" != "$2" ]; then
      fail "row $1 column $column: background ${BG[$1,$column]:--1}, expected $2"
      return
    fi
  done
}

pane_text() { tmux_ capture-pane -p -N -t job; }
pane_format() { tmux_ display-message -p -t job "$1"; }

# wait_for TEXT [SECONDS]: until the pane shows TEXT.
wait_for() {
  local limit=$((${2:-60} * 10)) tries=0
  until pane_text | grep -qF -- "$1"; do
    tries=$((tries + 1))
    if [ "$tries" -ge "$limit" ]; then
      fail "\"$1\" never came; the pane shows:"
      pane_text | sed 's/ *$//' | grep -v '^$'
      return 1
    fi
    sleep 0.1
  done
}

# wait_while TEXT: until the pane no longer shows TEXT.
wait_while() {
  local tries=0
  while pane_text | grep -qF -- "$1"; do
    tries=$((tries + 1))
    [ "$tries" -ge 300 ] && { fail "\"$1\" stayed"; return 1; }
    sleep 0.1
  done
}

# wait_cursor "FLAG ROW COLUMN": tmux's cursor (rows and columns from 0).
wait_cursor() {
  local tries=0
  until [ "$(pane_format '#{cursor_flag} #{cursor_y} #{cursor_x}')" = "$1" ]; do
    tries=$((tries + 1))
    if [ "$tries" -ge 100 ]; then
      fail "cursor at $(pane_format '#{cursor_flag} #{cursor_y} #{cursor_x}'), expected $1"
      return 1
    fi
    sleep 0.1
  done
}

finish() {
  if [ "$failures" -eq 0 ]; then
    echo "console in tmux: every check passed"
    exit 0
  fi
  echo "console in tmux: $failures checks FAILED"
  exit 1
}

# ---- the run --------------------------------------------------------------------

# When the program has ended, the pane's shell reports its status and the
# terminal modes, then stays for typing. Wine's console host gives the
# terminal its modes back as it ends, a moment after the program: the shell
# gives it up to ten seconds before it reports them.
settle='for i in 1 2 3 4 5 6 7 8 9 10; do stty -a | grep -q " icanon " && break; sleep 1; done'
tmux_ new-session -d -s job -x 80 -y 41 \
  "cd $(printf '%q' "$folder") && ${program}; echo EXIT=\$?; ${settle}; stty -a; exec sh" || {
  echo "FAILED: tmux refused the session"
  exit 1
}

# Banner and prompt: black, blue and dark grey on bright white, the whole
# screen bright white.
wait_for "Input file?" || finish
capture
expect_row_blank 1 107
expect_text 2 1 "   Ostrivale console check "
expect_colours 2 4 26 30 107
expect_text 3 1 "   blue on bright white "
expect_colours 3 4 23 34 107
expect_text 8 1 "   Input file?   "
expect_colours 8 4 14 90 107
for row in 4 20 41; do expect_row_blank $row 107; done
wait_cursor "1 7 17"

# Typing with Backspace: the line in black from column 18, the cursor after it.
tmux_ send-keys -t job -l "abcx"
tmux_ send-keys -t job BSpace
tmux_ send-keys -t job -l "d"
wait_for "Input file?   abcd " || finish
wait_cursor "1 7 21"
capture
expect_text 8 1 "   Input file?   abcd   "
expect_colours 8 18 21 30 107
expect_colours 8 22 80 30 107

# The message box: the frame with its title, the two text rows, the button,
# black on light grey with the button bright white on blue; the cursor
# hidden; the screen around it as it was.
tmux_ send-keys -t job Enter
wait_for "[ OK ]" || finish
capture
line=""
for ((i = 0; i < 13; i++)); do line+="─"; done
expect_text 18 23 "┌${line} ERROR ${line}─┐"
expect_text 19 23 "│$(printf '%34s' '')│"
expect_text 20 23 "│              File not found.     │"
expect_text 21 23 "│   Please enter a valid filename  │"
expect_text 23 23 "│              [ OK ]              │"
line=""
for ((i = 0; i < 34; i++)); do line+="─"; done
expect_text 24 23 "└${line}┘"
for row in 18 19 20 21 22 24; do expect_colours $row 23 58 30 47; done
expect_colours 23 23 37 30 47
expect_colours 23 38 43 97 44
expect_colours 23 44 58 30 47
for row in 18 24; do
  expect_colours $row 1 22 30 107
  expect_colours $row 59 80 30 107
done
expect_row_blank 17 107
expect_row_blank 25 107
expect_text 2 1 "   Ostrivale console check "
expect_text 8 1 "   Input file?   abcd   "
[ "$(pane_format '#{cursor_flag}')" = 0 ] || fail "the cursor shows while the box is up"

# Closed with Enter: the screen under the box comes back, and the dialogue
# goes on to the final key wait.
tmux_ send-keys -t job Enter
wait_while "[ OK ]"
wait_for "press any key to quit" || finish
capture
expect_text 9 1 "   typed: abcd "
expect_colours 9 4 10 90 107
expect_colours 9 11 14 30 107
expect_text 10 1 "   press any key to quit "
for row in 17 18 20 23 24 25; do expect_row_blank $row 107; done

# Any key ends it; the console is usable afterwards: the cursor shown, line
# input with echo and signals, the shell's text in its own colours.
tmux_ send-keys -t job -l "q"
wait_for "EXIT=0" || finish
wait_for "eol2" || finish  # the end of the stty report
[ "$(pane_format '#{cursor_flag}')" = 1 ] || fail "the cursor stays hidden after the program"
modes=" $(pane_text | tr -s ' \n' '  ') "
for mode in icanon echo isig icrnl ixon opost; do
  case "$modes" in
    *" -$mode "*) fail "terminal mode $mode is still off" ;;
    *" $mode "*) ;;
    *) fail "terminal mode $mode is not reported" ;;
  esac
done
tmux_ send-keys -t job -l 'echo usable-$((6*7))'
tmux_ send-keys -t job Enter
wait_for "usable-42" || finish
capture
for ((row = 1; row <= 41; row++)); do
  if [ "$(text_of $row 1 9)" = "usable-42" ]; then
    expect_colours $row 1 9 -1 -1
    break
  fi
done
[ "$row" -le 41 ] || fail "the shell's output line is not on a row of its own"

finish
