# Driving a program in an 80 x 41 tmux pane and reading the pane back cell by
# cell with its colours, for the tests that check a console program as a
# person sees it (tests/console/console_in_tmux.sh, tests/app/job_in_tmux.sh).
# Sourced, after `set -u`, with the script's arguments:
#
#   source tmux_cells.sh "$@"     # PROGRAM [ARGUMENT...]: usage, or skip without tmux
#   start_in_pane                 # the program in the pane "job", in $folder
#   ... send-keys through tmux_, capture, expect_..., fail ...
#   expect_console_restored       # after the program's last key
#   finish "what was checked"
#
# The program runs in a fresh folder of its own ($folder), removed at the end
# with the tmux server.
export LC_ALL=C.UTF-8

if [ $# -lt 1 ]; then
  echo "usage: $0 PROGRAM [ARGUMENT...]" >&2
  exit 2
fi
if ! command -v tmux >/dev/null 2>&1; then
  echo "SKIPPED: tmux is needed (Debian package tmux)"
  exit 77
fi

# The command, with the files it names made absolute: it runs in $folder.
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

# finish LABEL: the verdict, and the end of the script.
finish() {
  if [ "$failures" -eq 0 ]; then
    echo "${1:-in tmux}: every check passed"
    exit 0
  fi
  echo "${1:-in tmux}: $failures checks FAILED"
  exit 1
}

# ---- the pane -------------------------------------------------------------------

# Starts the program in the pane "job". When it has ended, the pane's shell
# reports its status and the terminal modes, then stays for typing. Wine's
# console host gives the terminal its modes back as it ends, a moment after
# the program: the shell gives it up to ten seconds before it reports them.
start_in_pane() {
  local settle='for i in 1 2 3 4 5 6 7 8 9 10; do stty -a | grep -q " icanon " && break; sleep 1; done'
  tmux_ new-session -d -s job -x 80 -y 41 \
    "cd $(printf '%q' "$folder") && ${program}; echo EXIT=\$?; ${settle}; stty -a; exec sh" || {
    echo "FAILED: tmux refused the session"
    exit 1
  }
}

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

# The program has ended with status 0 and the console is usable afterwards:
# the cursor shown, line input with echo and signals, the shell's text in its
# own colours.
expect_console_restored() {
  wait_for "EXIT=0" || finish
  wait_for "eol2" || finish  # the end of the stty report
  [ "$(pane_format '#{cursor_flag}')" = 1 ] || fail "the cursor stays hidden after the program"
  local modes mode row
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
}
