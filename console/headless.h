// The console for tests: the whole dialogue run headless, with scripted
// keys, and read back cell by cell. Nothing here is used by the program.
#pragma once

#include <string>
#include <vector>

#include "console/screen.h"

// Headless console for tests: replaces the console state with a fresh screen
// and takes the key bytes that ReadLine and WaitKey will see, decoded like
// plain-mode input (LF, CR and CR LF are each one Enter). Message boxes close
// at once and are logged, and so are transient lines, shown and cleared;
// nothing is written to the terminal.
void StartHeadlessConsole(std::string keyBytes);

const Screen& CurrentScreen();
const std::vector<MessageBoxRecord>& MessageBoxLog();
const std::vector<TransientRecord>& TransientLog();
int BeepCount();

// Row `row` (1-based) as UTF-8 text, trailing blanks kept (80 cells; a wide
// character stands once for its two cells).
std::string ScreenRowText(int row);
// Foreground and background colour of cell (row, column), both 1-based.
int CellForeground(int row, int column);
int CellBackground(int row, int column);
// The whole screen as plain-mode output: rows without trailing blanks,
// trailing empty rows left out, each row ended by a line feed.
std::string PlainScreenText();
