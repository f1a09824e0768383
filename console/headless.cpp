#include "console/headless.h"

#include "console/console_state.h"
#include "console/screen_model.h"
#include "text/unicode.h"

void StartHeadlessConsole(std::string keyBytes) {
  ConsoleState& c = Console();
  c = ConsoleState{};
  c.mode = ConsoleMode::kHeadless;
  c.input.bytes = std::move(keyBytes);
}

const Screen& CurrentScreen() { return Console().screen; }

const std::vector<MessageBoxRecord>& MessageBoxLog() { return Console().messageBoxes; }

const std::vector<TransientRecord>& TransientLog() { return Console().transientLog; }

int BeepCount() { return Console().beepCount; }

namespace {

bool InsideScreen(int row, int column) {
  return row >= 1 && row <= kScreenRows && column >= 1 && column <= kScreenColumns;
}

}  // namespace

std::string ScreenRowText(int row) {
  if (row < 1 || row > kScreenRows) return std::string();
  std::string text;
  for (const Cell& cell : Console().screen.cells[row - 1]) {
    if (cell.part != CellPart::kWideTail) AppendUtf8(text, cell.character);
  }
  return text;
}

int CellForeground(int row, int column) {
  if (!InsideScreen(row, column)) return -1;
  return Console().screen.cells[row - 1][column - 1].attribute % 16;
}

int CellBackground(int row, int column) {
  if (!InsideScreen(row, column)) return -1;
  return Console().screen.cells[row - 1][column - 1].attribute / 16;
}

std::string PlainScreenText() { return ScreenPlainText(Console().screen); }
