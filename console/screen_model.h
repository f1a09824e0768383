// Operations on a screen model with no terminal attached. The console
// operations of console.h apply these to the one live screen; tests use them
// on screens of their own.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "console/screen.h"
#include "terminal/console_frame.h"

static_assert(kScreenRows == kConsoleRows && kScreenColumns == kConsoleColumns,
              "the console binding shows the whole screen");

// Every cell becomes a blank in the current colours; cursor to the top left.
void ModelClear(Screen& screen);
// Sets the current colours; a component outside 0..15 keeps its value.
void ModelSetColor(Screen& screen, int foreground, int background);
// Moves the cursor to (row, column), both 1-based. An out-of-range component
// keeps its current value. Always clears the pending-wrap state.
void ModelLocate(Screen& screen, int row, int column);
// Writes one character at the cursor in the current colours and advances by
// the cells it takes (CharacterWidth). A wide character takes two cells; with
// only the last column left it leaves that cell as a blank (a wrap gap) and
// goes to the next row whole, scrolling on the bottom row. A character of
// width 0 takes no cell and is not stored. Writing over one half of a wide
// character blanks its other half, keeping that cell's colour.
void ModelPutCharacter(Screen& screen, char32_t character);
// Writes UTF-8 text character by character; a byte that is not valid UTF-8
// is written as U+FFFD.
void ModelPrint(Screen& screen, std::string_view text);
// Cursor to column 1 of the next row; scrolls on the bottom row.
void ModelEndLine(Screen& screen);
// Every row moves up by one; the bottom row becomes blanks in the current colours.
void ModelScrollUp(Screen& screen);
// One typed character taken back: one cell back (from column 1 to the last
// column of the row above, from the pending-wrap state to the last cell of the
// bottom row), and the character there becomes blanks in the current colours
// with the cursor on its first cell. A wide character goes whole, and so does
// the wrap gap it left before it on the row above: the cursor then stands on
// that gap, where the character had been due.
void ModelBackspace(Screen& screen);

std::uint8_t CurrentAttribute(const Screen& screen);

// Shown form of a cell: its character as UTF-8, nothing for the right half of
// a wide character. Control characters (U+0000-U+001F, U+007F-U+009F) would
// act on a terminal instead of showing, so they show as '?'.
void AppendShownCell(std::string& out, const Cell& cell);

// The screen as the console binding shows it (kScreenRows x kScreenColumns
// cells, row by row): each cell's character and attribute, the right half of
// a wide character a continuation.
void ModelFrame(const Screen& screen, FrameCell* cells);

// The screen as plain text: rows without trailing blanks, trailing empty rows
// left out, each row ended by a line feed.
std::string ScreenPlainText(const Screen& screen);
