// The console binding: the live console under the screen model, in terminal
// mode. The console room decides every cell and key; the binding shows a
// frame of cells and reports key presses. Windows: the console API (this
// header's implementation today). POSIX: the terminal code of the console
// room (raw mode, escape sequences), which moves here.
#pragma once

#include <cstdint>

// One screen cell as the binding shows it. A character that takes two cells
// (East Asian wide, most emoji) stands in the left one; the right one is its
// continuation and holds nothing of its own.
struct FrameCell {
  char32_t character = U' ';
  std::uint8_t attribute = 7;    // foreground + 16 x background, console colour numbers
  bool continuation = false;
};

// A key press as the binding reports it.
enum class BoundKeyKind : std::uint8_t {
  kNone,       // nothing (a release, or half of a character still to come)
  kCharacter,  // a typed character: `code` is its code point
  kEnter,
  kBackspace,
  kEscape,
  kControl,    // another control character (Tab, Ctrl with a letter, Ctrl+C): `code` holds it
  kIgnored,    // a key that types nothing: arrows, function keys, Alt with a key
};

struct BoundKey {
  BoundKeyKind kind = BoundKeyKind::kNone;
  char32_t code = 0;
};

// The size the binding gives the console: the dialogue's layout.
constexpr int kConsoleColumns = 80;
constexpr int kConsoleRows = 41;

// Sets the console up for the dialogue when standard input and output are
// both consoles: its own screen buffer of 80 x 41 cells shown in a window
// of that size (as much of it as the display allows), title "Ostrivale", the
// standard application icon, no Restore, Size or Maximize in the window's
// system menu, raw key input (no echo, no line editing, Ctrl+C a key, no
// mouse selection). The restore of CloseConsoleBinding is registered for
// ending events and crashes (ending.h). False, with nothing changed, when
// either stream is not a console: the program then runs plain.
bool OpenConsoleBinding();

// Shows `cells` (rows x columns, row by row from the top left) in one write,
// and the cursor at (row, column), zero-based, when `cursorVisible`.
void ShowConsoleFrame(const FrameCell* cells, int rows, int columns, int cursorRow, int cursorColumn,
                      bool cursorVisible);

// Waits for the next key press and returns it (never kNone). Releases, mouse,
// focus and size events are consumed. False when the console input has gone.
bool ReadConsoleKey(BoundKey& key);

// Returns once the oldest waiting input is a key press that ends a key wait:
// any key but Shift, Ctrl, Alt, Caps Lock, Num Lock or Scroll Lock alone. That
// press is left unread; everything before it is consumed. False when the
// console input has gone.
bool WaitForConsoleKey();

// Puts the console back as it was: the original screen buffer (and so the
// user's screen and window size), input and output modes, cursor, title, icon
// and system menu. Safe to call more than once, and from the ending handler.
void CloseConsoleBinding();
