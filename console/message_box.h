// The message box as the console shows it: in terminal mode a framed box of
// cells laid over a copy of the screen, the same cells on every system (the
// console binding only shows them); in plain mode one line of text. Pure.
#pragma once

#include <string>
#include <string_view>

#include "console/screen.h"

// Where the box stands on the screen, 0-based cells.
struct BoxPlacement {
  int top = 0;
  int left = 0;
  int height = 0;
  int width = 0;
};

// The box for `text` (the two characters \n break a line) and `title`: its
// widest row (a text line, the title trimmed of blanks with a blank either
// side, or the button) with two blank columns either side inside the frame;
// the frame's top line, a blank row, the text rows, a blank row, the button
// row and the frame's bottom line. Centred on the screen, cut to its size.
BoxPlacement PlaceMessageBox(std::string_view text, std::string_view title);

// A copy of `screen` with the box over it: the frame drawn with box-drawing
// lines and the trimmed title in its top line, the text rows, and one
// "[ OK ]" button, black on light grey with the button bright white on blue.
// The cursor is hidden and stands on the button, so that a terminal smaller
// than the screen shows that part. A wide character cut by the box's edge
// leaves a blank in its cell outside the box.
Screen MessageBoxOverlay(const Screen& screen, std::string_view text, std::string_view title);

// The text as one line, as plain mode reports it: its lines (between the
// two characters \n) without the blanks at their ends, one blank between
// them.
std::string MessageLine(std::string_view text);

// `text` without its leading and trailing blanks.
std::string_view TrimBlanks(std::string_view text);
