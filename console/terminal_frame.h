// What the terminal is sent, built without touching the terminal: the colour
// mapping, the update that brings the terminal from what it shows to what the
// screen model holds, and the message box drawn over it. All output goes to
// one append buffer so that each update is written with one write.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "console/screen.h"

// SGR parameters of a console colour number (0..15): 30..37 / 90..97 for the
// foreground, 40..47 / 100..107 for the background. The console numbers blue
// with bit 0 and red with bit 2, ANSI the other way round.
int AnsiForeground(int consoleColor);
int AnsiBackground(int consoleColor);

// The terminal as we last left it.
struct TerminalView {
  Cell shown[kScreenRows][kScreenColumns];   // by model position
  bool valid[kScreenRows][kScreenColumns];   // false: the terminal cell is unknown
  int terminalRows = kScreenRows;
  int terminalColumns = kScreenColumns;
  int rows = kScreenRows;        // the part of the model that fits: min(terminal, model)
  int columns = kScreenColumns;
  int topRow = 0;                // model position of the terminal's top left cell
  int leftColumn = 0;
  bool clearFirst = true;        // the terminal must be cleared before drawing
  int attribute = -1;            // colours last selected, -1 unknown
  bool cursorShown = true;       // the terminal's cursor, as we last set it
  int cursorRow = -1;            // and where we put it (terminal cells)
  int cursorColumn = -1;
};

// A new terminal size (rows, columns); everything is drawn afresh next time.
void SetTerminalSize(TerminalView& view, int rows, int columns);
// Forgets what the terminal shows, so the next frame draws every cell.
void InvalidateView(TerminalView& view);

// Appends the bytes that make the terminal show `screen`: the part holding
// the cursor when the terminal is smaller, only the cells that differ from
// `view`, and the cursor (shown only when the model's cursor is visible and
// `cursorAllowed`). Updates `view`. Returns true when everything was drawn
// afresh (a cleared terminal or a moved window).
bool AppendFrame(std::string& out, TerminalView& view, const Screen& screen, bool cursorAllowed);

// Where a message box goes on the terminal, 0-based terminal cells.
struct BoxPlacement {
  int top = 0;
  int left = 0;
  int height = 0;
  int width = 0;
};

// The box for `text` (the two characters \n break a line) centred over the
// part of the screen the terminal shows, clipped to it.
BoxPlacement PlaceMessageBox(const TerminalView& view, std::string_view text, std::string_view title);
// Appends the framed box: title on the top frame, the text inside, one OK
// button. While it is up, frames leave the cells under it alone (the model
// does not change meanwhile).
void AppendMessageBox(std::string& out, TerminalView& view, std::string_view text, std::string_view title);
// The box has gone: the terminal cells it covered are marked unknown, so the
// next frame brings back the screen under it.
void ForgetMessageBox(TerminalView& view, std::string_view text, std::string_view title);
