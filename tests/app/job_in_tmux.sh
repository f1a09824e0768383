#!/usr/bin/env bash
# The program in a real console: the whole dialogue and a job in an 80 x 41
# tmux pane, read back cell by cell with its colours. The banner and prompt,
# a name typed with a slip taken back by Backspace, the file-not-found box and
# the screen drawn afresh after it, the FILE DATA block, the filter question
# and answer, the output name, the status lines of the job and its report,
# the key that ends it, the console as it was before, and the output file;
# then a refused command line, held open in a console window of its own.
# The same cells are expected of every console: the Windows build runs
# ostrivale.exe under wine here, the Linux build its own program.
#
#   tests/app/job_in_tmux.sh PROGRAM [ARGUMENT...]
#   e.g. tests/app/job_in_tmux.sh wine build-windows/ostrivale.exe
#
# Exit status 0 when every check holds, 1 otherwise, 77 when tmux is missing.
# Names are ASCII: wine's console in a terminal misaligns wide characters.
set -u
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/../console/tmux_cells.sh"
source "$here/wave_files.sh"

# Mono at 96000, 20000 frames, and the filters beside it: B has 19 taps.
frames=20000
canonical 1 96000 $frames 7 > "$folder/in.wav"
cp "$here"/../../data/Filter?.dat "$folder"
start_in_pane

# The banner and the prompt: black and dark grey on bright white, the whole
# screen bright white, the cursor after the prompt.
wait_for "Input file?" 60 || finish "job in tmux"
capture
expect_row_blank 1 107
expect_text 2 1 "   Ostrivale v1 "
expect_colours 2 1 80 30 107
expect_text 3 1 "   High-resolution FIR filtering"
expect_text 4 1 "   https://ostrivale.org "
expect_text 8 1 "   Input file?   "
expect_colours 8 4 14 90 107
for row in 5 7 9 20 41; do expect_row_blank $row 107; done
wait_cursor "1 7 17"

# A name that is not there, with a slip taken back, and the box it gets.
tmux_ send-keys -t job -l "absentx"
tmux_ send-keys -t job BSpace
tmux_ send-keys -t job -l ".wav"
wait_for "Input file?   absent.wav " || finish "job in tmux"
wait_cursor "1 7 27"
capture
expect_colours 8 18 27 30 107
tmux_ send-keys -t job Enter
wait_for "[ OK ]" || finish "job in tmux"
capture
expect_text 20 23 "│              File not found.     │"
expect_text 21 23 "│   Please enter a valid filename  │"
expect_text 23 23 "│              [ OK ]              │"
for row in 18 19 20 21 22 24; do expect_colours $row 23 58 30 47; done
expect_colours 23 38 43 97 44
[ "$(pane_format '#{cursor_flag}')" = 0 ] || fail "the cursor shows while the box is up"

# Closed: the screen drawn afresh, the typed name gone.
tmux_ send-keys -t job Enter
wait_while "[ OK ]"
wait_cursor "1 7 17"
capture
expect_text 8 1 "   Input file?   "
expect_row_blank 20 107
expect_text 8 18 "$(printf '%63s' '')"

# The recording: its FILE DATA, then the filter question of 96000.
tmux_ send-keys -t job -l "in.wav"
tmux_ send-keys -t job Enter
wait_for "Select whether" || finish "job in tmux"
capture
expect_text 11 1 "                 FILE DATA "
expect_text 13 1 "                 Channels     1 "
expect_text 14 1 "                 Sample rate  96000 Hz "
expect_text 15 1 "                 Resolution   24 bits "
expect_text 16 1 "                 Length       20000 samples "
expect_text 17 1 "                 Duration     .21 seconds "
expect_colours 13 18 31 90 107
expect_text 21 1 "   Select whether to apply filter B (linear phase) or F (minimum phase)  "
expect_colours 21 35 35 30 107
expect_colours 21 37 50 90 107
expect_colours 21 55 55 34 107
wait_cursor "1 20 72"
tmux_ send-keys -t job -l "b"
tmux_ send-keys -t job Enter
wait_for "Output file?" || finish "job in tmux"
capture
expect_text 21 73 "b"
expect_colours 21 73 73 34 107
expect_text 23 1 "   Output file?  "
expect_colours 23 4 16 90 107

# The job: its status lines in dark grey, each "Done" in black, the report,
# the key wait.
tmux_ send-keys -t job -l "out.wav"
tmux_ send-keys -t job Enter
wait_for "press any key to quit" 60 || finish "job in tmux"
capture
expect_text 23 1 "   Output file?  out.wav "
expect_text 26 1 "   Loading impulse and input arrays... "
expect_text 27 1 "   Done "
expect_text 29 1 "   Convolving... "
expect_text 30 1 "   Done "
expect_text 32 1 "   Writing output file... "
expect_text 33 1 "   Done "
expect_colours 26 4 38 90 107
expect_colours 29 4 16 90 107
expect_colours 32 4 25 90 107
expect_colours 39 4 24 90 107
for row in 27 30 33 38; do expect_colours $row 4 7 30 107; done
expect_text 38 1 "   Job completed in "
[[ "$(text_of 38 1 80)" =~ ^"   Job completed in "[-.0-9E+]+" seconds "+$ ]] ||
  fail "row 38 is no report of the time: [$(text_of 38 1 80)]"
expect_text 39 1 "   press any key to quit "
for row in 24 25 28 31 34 35 36 37 40 41; do expect_row_blank $row 107; done
[ "$(pane_format '#{cursor_flag}')" = 0 ] || fail "the cursor shows during the key wait"

# The output: the header and 3 bytes for each of the N + M - 1 frames.
size="$(stat -c %s "$folder/out.wav" 2>/dev/null || echo 0)"
[ "$size" = $((44 + 3 * (frames + 18))) ] || fail "out.wav has $size bytes, not $((44 + 3 * (frames + 18)))"

tmux_ send-keys -t job -l "q"
expect_console_restored

# Two names, as files dropped together on the program's icon: the refusal,
# and in a console window of the program's own a key wait before it closes.
# Wine's console in a terminal is the program's alone, as the window
# Explorer opens; a POSIX terminal outlives the program and is not waited for.
tmux_ kill-session -t job
program+=" in.wav other.wav"
start_in_pane
wait_for "one input file at most, not also 'other.wav'" || finish "job in tmux"
if [[ "$program" == *.exe* ]]; then
  wait_for "Press any key to close this window." || finish "job in tmux"
  pane_text | grep -q "EXIT=" && fail "the program ended before a key was pressed"
  tmux_ send-keys -t job Enter
fi
wait_for "EXIT=2" || finish "job in tmux"
pane_text | grep -q "Press any key" && [[ "$program" != *.exe* ]] && fail "a terminal is held open"
finish "job in tmux"
