// The console binding: the live console under the screen model, in terminal
// mode. The console room decides every cell and key; the binding shows a
// frame of cells and reports key presses. Windows (console_binding_windows):
// the console API, a screen buffer of its own and key events. POSIX
// (console_binding_posix): the terminal in raw mode, the frame drawn on the
// alternate screen with escape sequences (terminal/terminal_frame.h), key
// bytes decoded by terminal/key_decoder.h.
#pragma once

#include "terminal/console_frame.h"

// Sets the console up for the dialogue when standard input and output are
// both consoles. False, with nothing changed, when either is not a console
// (or cannot be set up): the program then runs plain. The restore of
// CloseConsoleBinding is registered for ending events and crashes
// (ending.h). Once open, a second call does nothing.
//   Windows: its own screen buffer of 80 x 41 cells shown in a window of that
//     size (as much of it as the display allows), title "Ostrivale", the
//     program's icon, no Restore, Size or Maximize in the window's
//     system menu, raw key input (no echo, no line editing, Ctrl+C a key, no
//     mouse selection).
//   POSIX: the terminal in raw mode (no echo, no line editing, Ctrl+C a key),
//     the alternate screen, title "Ostrivale" (the old one saved), no line
//     wrapping, the window asked for 80 x 41 (many terminals ignore that).
bool OpenConsoleBinding();

// Shows `cells` (kConsoleRows x kConsoleColumns, row by row from the top
// left) in one write, and the cursor at (row, column), zero-based, when
// `cursorVisible`. A terminal smaller than the frame shows the part that
// holds the cursor (visible or not), and after a resize draws the last frame
// again by itself.
void ShowConsoleFrame(const FrameCell* cells, int cursorRow, int cursorColumn, bool cursorVisible);

// Waits for the next key press and returns it (never kNone). Releases, mouse,
// focus and size events are consumed. False when the console input has gone.
bool ReadConsoleKey(BoundKey& key);

// A key press that can be had without waiting: one that input already read
// holds, or (Windows) one among the events waiting. False when a key would
// have to be waited for; the caller then shows its frame and calls
// ReadConsoleKey, so that several keys typed at once are echoed in one frame.
bool TakeWaitingConsoleKey(BoundKey& key);

// Returns once the oldest waiting input is a key press that ends a key wait:
// any key but Shift, Ctrl, Alt, Caps Lock, Num Lock or Scroll Lock alone (a
// terminal sends no key for those). That press is left unread; everything
// before it is consumed. False when the console input has gone.
bool WaitForConsoleKey();

// Puts the console back as it was. Windows: the original screen buffer (and so
// the user's screen and window size), input and output modes, cursor, title,
// icon and system menu. POSIX: colours, line wrapping, cursor, the main screen,
// the saved title and the terminal modes, and typed keys still waiting
// discarded so that they do not reach the shell. Safe to call more than once,
// and from the ending handler.
void CloseConsoleBinding();
