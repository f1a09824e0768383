#include "console/screen_model.h"

#include <cstring>

namespace {

void BlankRow(Screen& screen, int row, std::uint8_t attribute) {
  for (int column = 0; column < kScreenColumns; ++column) {
    screen.cells[row][column].character = ' ';
    screen.cells[row][column].attribute = attribute;
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
  std::memmove(&screen.cells[0][0], &screen.cells[1][0],
               sizeof(Cell) * kScreenColumns * (kScreenRows - 1));
  BlankRow(screen, kScreenRows - 1, CurrentAttribute(screen));
}

void ModelPutCharacter(Screen& screen, std::uint8_t character) {
  if (screen.pendingWrap) {
    ModelScrollUp(screen);
    screen.pendingWrap = false;
    screen.row = kScreenRows - 1;
    screen.column = 0;
  }
  Cell& cell = screen.cells[screen.row][screen.column];
  cell.character = character;
  cell.attribute = CurrentAttribute(screen);
  if (screen.column < kScreenColumns - 1) {
    ++screen.column;
  } else if (screen.row < kScreenRows - 1) {
    screen.column = 0;
    ++screen.row;
  } else {
    screen.pendingWrap = true;  // stays on the last cell of the bottom row
  }
}

void ModelPrint(Screen& screen, std::string_view text) {
  for (char c : text) ModelPutCharacter(screen, static_cast<std::uint8_t>(c));
}

void ModelEndLine(Screen& screen) {
  if (screen.row < kScreenRows - 1) {
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
    screen.column = kScreenColumns - 1;
  }
}

}  // namespace

void ModelBackspace(Screen& screen) {
  StepBack(screen);
  ModelPutCharacter(screen, ' ');
  StepBack(screen);
}

void AppendCellUtf8(std::string& out, std::uint8_t character) {
  if (character < 0x20 || (character >= 0x7F && character < 0xA0)) {
    out.push_back('?');
  } else if (character < 0x80) {
    out.push_back(static_cast<char>(character));
  } else {
    out.push_back(static_cast<char>(0xC0 | (character >> 6)));
    out.push_back(static_cast<char>(0x80 | (character & 0x3F)));
  }
}

std::string Latin1ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (char c : text) {
    auto byte = static_cast<std::uint8_t>(c);
    if (byte < 0x80) {
      out.push_back(c);  // kept as it is: names pass through unchanged
    } else {
      out.push_back(static_cast<char>(0xC0 | (byte >> 6)));
      out.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
    }
  }
  return out;
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
      AppendCellUtf8(out, screen.cells[row][column].character);
    out.push_back('\n');
  }
  return out;
}
