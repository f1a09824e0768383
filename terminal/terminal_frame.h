// What a terminal is sent to show a frame of cells, built without touching
// the terminal: the colour mapping, and the update that brings the terminal
// from what it shows to what the frame holds. Pure, so that it runs and is
// tested on every system; the POSIX console binding writes it out. All output
// goes to one append buffer so that each update is written with one write.
#pragma once

#include <cstdint>
#include <string>

#include "terminal/console_frame.h"

// SGR parameters of a console colour number (0..15): 30..37 / 90..97 for the
// foreground, 40..47 / 100..107 for the background. The console numbers blue
// with bit 0 and red with bit 2, ANSI the other way round.
int AnsiForeground(int consoleColor);
int AnsiBackground(int consoleColor);

// The character a cell shows for `character`: control characters
// (U+0000-U+001F, U+007F-U+009F) would act on a terminal or a console instead
// of showing, so they show as '?'; a surrogate or a value above U+10FFFF is
// not a character at all and shows as U+FFFD; anything else as itself.
char32_t ShownCharacter(char32_t character);

// The shown form of one cell's character (ShownCharacter), in UTF-8.
void AppendShownCharacter(std::string& out, char32_t character);

// The terminal as we last left it. Frames are kConsoleRows x kConsoleColumns.
struct TerminalView {
  FrameCell shown[kConsoleRows][kConsoleColumns];  // by frame position
  bool valid[kConsoleRows][kConsoleColumns];       // false: the terminal cell is unknown
  int rows = kConsoleRows;  // the part of the frame that fits: min(terminal, frame)
  int columns = kConsoleColumns;
  int topRow = 0;  // frame position of the terminal's top left cell
  int leftColumn = 0;
  bool clearFirst = true;   // the terminal must be cleared before drawing
  int attribute = -1;       // colours last selected, -1 unknown
  bool cursorShown = true;  // the terminal's cursor, as we last set it
  int cursorRow = -1;       // and where we put it (terminal cells)
  int cursorColumn = -1;
};

// A new terminal size (rows, columns); everything is drawn afresh next time.
void SetTerminalSize(TerminalView& view, int rows, int columns);

// Appends the bytes that make the terminal show `cells` (kConsoleRows x
// kConsoleColumns, row by row) with the cursor at (cursorRow, cursorColumn),
// zero-based: the part holding the cursor when the terminal is smaller, only
// the cells that differ from `view`, and the cursor, shown when
// `cursorVisible`. A character followed by a continuation cell takes two
// columns. Updates `view`. Returns true when everything was drawn afresh (a
// cleared terminal or a moved window).
bool AppendFrame(std::string& out, TerminalView& view, const FrameCell* cells, int cursorRow,
                 int cursorColumn, bool cursorVisible);
