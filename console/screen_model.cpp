#include "console/screen_model.h"

#include <algorithm>

#include "console/character_width.h"
#include "terminal/terminal_frame.h"
#include "text/unicode.h"

namespace {

constexpr int kLastRow = kScreenRows - 1;
constexpr int kLastColumn = kScreenColumns - 1;

void SetCell(Cell& cell, char32_t character, std::uint8_t attribute, CellPart part) {
  cell.character = character;
  cell.attribute = attribute;
  cell.part = part;
}

void BlankRow(Screen& screen, int row, std::uint8_t attribute) {
  for (Cell& cell : screen.cells[row]) SetCell(cell, ' ', attribute, CellPart::kWhole);
}

// The cell at (row, column) is about to be written over: when it is one half
// of a wide character, the other half becomes a blank in its own colour, so
// that no half is ever left without the other (a terminal does the same).
void SplitWidePair(Screen& screen, int row, int column) {
  Cell* cells = screen.cells[row];
  if (cells[column].part == CellPart::kWideHead && column < kLastColumn) {
    SetCell(cells[column + 1], ' ', cells[column + 1].attribute, CellPart::kWhole);
  } else if (cells[column].part == CellPart::kWideTail && column > 0) {
    SetCell(cells[column - 1], ' ', cells[column - 1].attribute, CellPart::kWhole);
  }
}

// Scrolls and continues at column 1 of the bottom row when a character is
// due in the pending-wrap state.
void LeavePendingWrap(Screen& screen) {
  if (!screen.pendingWrap) return;
  ModelScrollUp(screen);
  screen.pendingWrap = false;
  screen.row = kLastRow;
  screen.column = 0;
}

// The cursor moves past `cells` cells just written from its column.
void AdvanceCursor(Screen& screen, int cells) {
  if (screen.column + cells <= kLastColumn) {
    screen.column += cells;
  } else if (screen.row < kLastRow) {
    screen.column = 0;
    ++screen.row;
  } else {
    screen.column = kLastColumn;
    screen.pendingWrap = true;  // stays on the last cell of the bottom row
  }
}

}  // namespace

std::uint8_t CurrentAttribute(const Screen& screen) {
  return static_cast<std::uint8_t>(screen.foreground + 16 * screen.background);
}

void ModelClear(Screen& screen) {
  std::uint8_t attribute = CurrentAttribute(screen);
  for (int row = 0; row < kScreenRows; ++row) BlankRow(screen, row, attribute);
  screen.row = 0;
  screen.column = 0;
  screen.pendingWrap = false;
}

void ModelSetColor(Screen& screen, int foreground, int background) {
  if (foreground >= 0 && foreground <= 15) screen.foreground = foreground;
  if (background >= 0 && background <= 15) screen.background = background;
}

void ModelLocate(Screen& screen, int row, int column) {
  if (row >= 1 && row <= kScreenRows) screen.row = row - 1;
  if (column >= 1 && column <= kScreenColumns) screen.column = column - 1;
  screen.pendingWrap = false;
}

void ModelScrollUp(Screen& screen) {
  // Whole rows move, so wide characters and wrap gaps stay as they were.
  std::copy(&screen.cells[1][0], &screen.cells[0][0] + kScreenRows * kScreenColumns,
            &screen.cells[0][0]);
  BlankRow(screen, kLastRow, CurrentAttribute(screen));
}

void ModelPutCharacter(Screen& screen, char32_t character) {
  const int width = CharacterWidth(character);
  if (width == 0) return;
  LeavePendingWrap(screen);
  const std::uint8_t attribute = CurrentAttribute(screen);
  if (width == 2 && screen.column == kLastColumn) {
    SplitWidePair(screen, screen.row, kLastColumn);
    SetCell(screen.cells[screen.row][kLastColumn], ' ', attribute, CellPart::kWrapGap);
    if (screen.row < kLastRow) {
      ++screen.row;
    } else {
      ModelScrollUp(screen);
    }
    screen.column = 0;
  }
  Cell* cells = screen.cells[screen.row];
  const int column = screen.column;
  SplitWidePair(screen, screen.row, column);
  if (width == 1) {
    SetCell(cells[column], character, attribute, CellPart::kWhole);
  } else {
    SplitWidePair(screen, screen.row, column + 1);
    SetCell(cells[column], character, attribute, CellPart::kWideHead);
    SetCell(cells[column + 1], character, attribute, CellPart::kWideTail);
  }
  AdvanceCursor(screen, width);
}

void ModelPrint(Screen& screen, std::string_view text) {
  for (std::size_t at = 0; at < text.size();) ModelPutCharacter(screen, NextCharacter(text, at));
}

void ModelEndLine(Screen& screen) {
  if (screen.row < kLastRow) {
    ++screen.row;
  } else {
    ModelScrollUp(screen);
    if (screen.pendingWrap) ModelScrollUp(screen);
  }
  screen.pendingWrap = false;
  screen.column = 0;
}

namespace {

// One cell back; from the top left corner there is nowhere to go.
void StepBack(Screen& screen) {
  if (screen.pendingWrap) {
    screen.pendingWrap = false;  // the cursor already sits on the last cell
  } else if (screen.column > 0) {
    --screen.column;
  } else if (screen.row > 0) {
    --screen.row;
    screen.column = kLastColumn;
  }
}

}  // namespace

void ModelBackspace(Screen& screen) {
  StepBack(screen);
  Cell* cells = screen.cells[screen.row];
  if (cells[screen.column].part == CellPart::kWideTail && screen.column > 0) --screen.column;
  const std::uint8_t attribute = CurrentAttribute(screen);
  if (cells[screen.column].part == CellPart::kWideHead && screen.column < kLastColumn)
    SetCell(cells[screen.column + 1], ' ', attribute, CellPart::kWhole);
  SetCell(cells[screen.column], ' ', attribute, CellPart::kWhole);
  if (screen.column == 0 && screen.row > 0 &&
      screen.cells[screen.row - 1][kLastColumn].part == CellPart::kWrapGap) {
    --screen.row;
    screen.column = kLastColumn;
    SetCell(screen.cells[screen.row][kLastColumn], ' ', attribute, CellPart::kWhole);
  }
}

void AppendShownCell(std::string& out, const Cell& cell) {
  if (cell.part != CellPart::kWideTail) AppendShownCharacter(out, cell.character);
}

void ModelFrame(const Screen& screen, FrameCell* cells) {
  for (int row = 0; row < kScreenRows; ++row) {
    for (int column = 0; column < kScreenColumns; ++column) {
      const Cell& cell = screen.cells[row][column];
      cells[row * kScreenColumns + column] =
          FrameCell{cell.character, cell.attribute, cell.part == CellPart::kWideTail};
    }
  }
}

std::string ScreenPlainText(const Screen& screen) {
  std::string out;
  int lastRow = -1;
  int lengths[kScreenRows];
  for (int row = 0; row < kScreenRows; ++row) {
    int length = kScreenColumns;
    while (length > 0 && screen.cells[row][length - 1].character == ' ') --length;
    lengths[row] = length;
    if (length > 0) lastRow = row;
  }
  for (int row = 0; row <= lastRow; ++row) {
    for (int column = 0; column < lengths[row]; ++column)
      AppendShownCell(out, screen.cells[row][column]);
    out.push_back('\n');
  }
  return out;
}
