#!/usr/bin/env bash
# The console room in a real console: tools/console_demo in an 80 x 41 tmux
# pane, driven with send-keys and read back with capture-pane -e, cell by cell
# with its colours: the banner and prompt, typing with Backspace, the message
# box, the screen under it given back, the final key wait, and the console
# usable afterwards (cursor shown, line input with echo, the shell's text in
# its own colours). The same cells are expected of every console, so the
# Windows build runs console_demo.exe under wine here, and the Linux build's
# console_demo is checked the same way.
#
#   tests/console/console_in_tmux.sh PROGRAM [ARGUMENT...]
#   e.g. tests/console/console_in_tmux.sh wine build-windows/console_demo.exe
#
# Exit status 0 when every check holds, 1 otherwise, 77 when tmux is missing.
# Wide characters and Ctrl+C are left out: wine's console in a terminal
# misaligns the one and always turns the other into an ending event.
set -u
source "$(dirname "$0")/tmux_cells.sh"

start_in_pane
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

# Any key ends it, and the console is as it was.
tmux_ send-keys -t job -l "q"
expect_console_restored
finish "console in tmux"
