// A console program that shows what the Windows console binding gets
// through: a row of the sixteen colours, a few wide and non-Latin
// characters, and the keys read, one line each, with their kind and code.
// Ctrl+G sounds the alert; Ctrl+W waits for a key as the final key wait does
// (modifiers alone do not end it) and leaves that key to be listed next.
// Esc ends it; the console must then be as it was before.
#include <cstdio>
#include <string>

#include "system/alert.h"
#include "system/console_binding.h"
#include "text/unicode.h"

namespace {

FrameCell cells[kConsoleRows][kConsoleColumns];

void Put(int row, int column, const std::u32string& text, std::uint8_t attribute) {
  for (char32_t c : text) {
    if (column >= kConsoleColumns) return;
    cells[row][column++] = FrameCell{c, attribute, false};
  }
}

// A character two cells wide.
void PutWide(int row, int column, char32_t c, std::uint8_t attribute) {
  cells[row][column] = FrameCell{c, attribute, false};
  cells[row][column + 1] = FrameCell{U' ', attribute, true};
}

const char* KindName(BoundKeyKind kind) {
  switch (kind) {
    case BoundKeyKind::kCharacter:
      return "character";
    case BoundKeyKind::kEnter:
      return "Enter";
    case BoundKeyKind::kBackspace:
      return "Backspace";
    case BoundKeyKind::kEscape:
      return "Escape";
    case BoundKeyKind::kControl:
      return "control";
    case BoundKeyKind::kIgnored:
      return "ignored";
    case BoundKeyKind::kRawByte:
      return "raw byte";
    case BoundKeyKind::kNone:
      return "none";
  }
  return "?";
}

}  // namespace

int main() {
  if (!OpenConsoleBinding()) {
    std::fputs("not a console\n", stderr);
    return 2;
  }
  for (auto& row : cells)
    for (auto& cell : row) cell = FrameCell{U' ', 0xF0, false};
  Put(0, 0, U"Ostrivale console demo: keys are listed below, Esc ends.", 0xF0);
  for (int colour = 0; colour < 16; ++colour) {
    const std::u32string label =
        colour < 10 ? std::u32string(1, U'0' + colour) : std::u32string(1, U'A' + (colour - 10));
    Put(2, 2 * colour, U" " + label, static_cast<std::uint8_t>(colour * 16 + (15 - colour)));
  }
  Put(3, 0, U"Latin-1: \u00e9\u00df\u00ff  Polish: \u0142\u0105  Russian: \u0436  Greek: \u03a9",
      0xF1);
  Put(4, 0, U"wide:", 0xF0);
  PutWide(4, 6, U'\u65e5', 0xF4);
  PutWide(4, 8, U'\u672c', 0xF4);
  PutWide(4, 11, U'\U0001F3B5', 0xF2);
  Put(4, 14, U"<- end of the wide ones", 0xF8);
  int row = 6;
  int cursorColumn = 0;
  ShowConsoleFrame(&cells[0][0], row, cursorColumn, true);

  int keys = 0;
  for (;;) {
    BoundKey key;
    if (!ReadConsoleKey(key)) break;
    ++keys;
    if (key.kind == BoundKeyKind::kEscape) break;
    char line[80];
    std::snprintf(line, sizeof line, "%d: %s U+%04X ", keys, KindName(key.kind),
                  static_cast<unsigned>(key.code));
    std::u32string text(line, line + std::char_traits<char>::length(line));
    if (key.kind == BoundKeyKind::kCharacter) text.push_back(key.code);
    if (row >= kConsoleRows) {
      row = 6;
      for (int r = 6; r < kConsoleRows; ++r)
        for (auto& cell : cells[r]) cell = FrameCell{U' ', 0xF0, false};
    }
    Put(row++, 0, text, 0xF0);
    if (key.kind == BoundKeyKind::kControl && key.code == 7) SoundAlert();
    if (key.kind == BoundKeyKind::kControl && key.code == 23) {
      ShowConsoleFrame(&cells[0][0], row < kConsoleRows ? row : 0, 0, false);
      if (!WaitForConsoleKey()) break;
      Put(row - 1, 40, U"(a key waited)", 0xF8);
    }
    ShowConsoleFrame(&cells[0][0], row < kConsoleRows ? row : 0, 0, true);
  }
  CloseConsoleBinding();
  std::printf("demo ended after %d keys\n", keys);
  return 0;
}
