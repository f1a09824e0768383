// Operations on a screen model with no terminal attached. The console
// operations of console.h apply these to the one live screen; tests and the
// terminal code use them on screens of their own.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "console/screen.h"

// Every cell becomes a blank in the current colours; cursor to the top left.
void ModelClear(Screen& screen);
// Sets the current colours; a component outside 0..15 keeps its value.
void ModelSetColor(Screen& screen, int foreground, int background);
// Moves the cursor to (row, column), both 1-based. An out-of-range component
// keeps its current value. Always clears the pending-wrap state.
void ModelLocate(Screen& screen, int row, int column);
// Writes one character at the cursor in the current colours and advances.
void ModelPutCharacter(Screen& screen, std::uint8_t character);
void ModelPrint(Screen& screen, std::string_view text);
// Cursor to column 1 of the next row; scrolls on the bottom row.
void ModelEndLine(Screen& screen);
// Every row moves up by one; the bottom row becomes blanks in the current colours.
void ModelScrollUp(Screen& screen);
// One typed character taken back: one cell back (from column 1 to the last
// column of the row above, from the pending-wrap state to the last cell of the
// bottom row), a blank written there, and the cursor left on that cell.
void ModelBackspace(Screen& screen);

std::uint8_t CurrentAttribute(const Screen& screen);

// Shown form of a cell byte: Latin-1 as UTF-8. Control bytes (0x00-0x1F,
// 0x7F-0x9F) would act on a terminal instead of showing, so they show as '?'.
void AppendCellUtf8(std::string& out, std::uint8_t character);

// The screen as plain text: rows without trailing blanks, trailing empty rows
// left out, each row ended by a line feed.
std::string ScreenPlainText(const Screen& screen);
