#include "terminal/terminal_frame.h"

#include <algorithm>
#include <iterator>

#include "text/unicode.h"

namespace {

// ANSI colour index of console colours 0..7 (black, blue, green, cyan, red,
// magenta, brown, light grey).
constexpr int kAnsiIndex[8] = {0, 4, 2, 6, 1, 5, 3, 7};

void AppendNumber(std::string& out, int n) { out += std::to_string(n); }

void AppendMoveTo(std::string& out, int terminalRow, int terminalColumn) {
  out += "\x1b[";
  AppendNumber(out, terminalRow + 1);
  out += ';';
  AppendNumber(out, terminalColumn + 1);
  out += 'H';
}

void AppendColours(std::string& out, int foreground, int background) {
  out += "\x1b[";
  AppendNumber(out, AnsiForeground(foreground));
  out += ';';
  AppendNumber(out, AnsiBackground(background));
  out += 'm';
}

void AppendAttribute(std::string& out, TerminalView& view, std::uint8_t attribute) {
  if (view.attribute == attribute) return;
  AppendColours(out, attribute % 16, attribute / 16);
  view.attribute = attribute;
}

// Moves the window so that it holds `position`; true when it moved.
bool Follow(int& first, int size, int limit, int position) {
  int old = first;
  if (position < first) first = position;
  if (position >= first + size) first = position - size + 1;
  first = std::clamp(first, 0, limit - size);
  return first != old;
}

// Forgets what the terminal shows, so that every cell is drawn.
void InvalidateView(TerminalView& view) {
  for (auto& row : view.valid) std::fill(std::begin(row), std::end(row), false);
}

}  // namespace

int AnsiForeground(int consoleColor) {
  consoleColor &= 15;
  return (consoleColor < 8 ? 30 : 90) + kAnsiIndex[consoleColor & 7];
}

int AnsiBackground(int consoleColor) { return AnsiForeground(consoleColor) + 10; }

char32_t ShownCharacter(char32_t character) {
  if (character < 0x20 || (character >= 0x7F && character < 0xA0)) return U'?';
  if (character > 0x10FFFF || IsSurrogate(character)) return kReplacementCharacter;
  return character;
}

void AppendShownCharacter(std::string& out, char32_t character) {
  AppendUtf8(out, ShownCharacter(character));
}

void SetTerminalSize(TerminalView& view, int rows, int columns) {
  view.rows = std::clamp(rows, 1, kConsoleRows);
  view.columns = std::clamp(columns, 1, kConsoleColumns);
  view.clearFirst = true;
}

bool AppendFrame(std::string& out, TerminalView& view, const FrameCell* cells, int cursorRow,
                 int cursorColumn, bool cursorVisible) {
  bool moved = Follow(view.topRow, view.rows, kConsoleRows, cursorRow);
  moved = Follow(view.leftColumn, view.columns, kConsoleColumns, cursorColumn) || moved;
  bool afresh = moved || view.clearFirst;
  if (afresh) InvalidateView(view);

  std::string body;
  if (view.clearFirst) {
    body += "\x1b[0m\x1b[2J";  // what lies beyond the frame keeps the terminal's own colours
    view.attribute = -1;
    view.clearFirst = false;
  }
  for (int r = 0; r < view.rows; ++r) {
    const int row = view.topRow + r;
    const FrameCell* line = cells + row * kConsoleColumns;
    int atColumn = -1;  // where the terminal's cursor stands on this row, if known
    for (int c = 0; c < view.columns;) {
      const int column = view.leftColumn + c;
      const FrameCell& cell = line[column];
      // A wide character is sent whole, and the terminal's cursor moves two
      // columns past it: its two cells are one piece, redrawn together when
      // either half changed, and nothing is ever written into its right half
      // on its own. A pair cut by the edge of the part shown (a narrow
      // terminal), and a continuation without its character, show as a blank.
      const bool wideHead =
          !cell.continuation && column + 1 < kConsoleColumns && line[column + 1].continuation;
      const bool wholePair = wideHead && c + 1 < view.columns;
      const bool blank = !wholePair && (wideHead || cell.continuation);
      const int width = wholePair ? 2 : 1;
      bool same = true;
      for (int k = 0; k < width; ++k) {
        same =
            same && view.valid[row][column + k] && view.shown[row][column + k] == line[column + k];
      }
      if (!same) {
        // Written over the left half of a wide character the terminal shows,
        // the right half that stays becomes whatever the terminal makes of
        // it: it is drawn again, next in this row.
        const int next = column + width;
        if (c + width < view.columns && view.valid[row][next] &&
            view.shown[row][next].continuation && !view.shown[row][next - 1].continuation)
          view.valid[row][next] = false;
        if (atColumn != c) AppendMoveTo(body, r, c);
        AppendAttribute(body, view, cell.attribute);
        if (blank) {
          body += ' ';
        } else {
          AppendShownCharacter(body, cell.character);
        }
        atColumn = c + width;
        for (int k = 0; k < width; ++k) {
          view.shown[row][column + k] = line[column + k];
          view.valid[row][column + k] = true;
        }
      }
      c += width;
    }
  }

  const int shownRow = cursorRow - view.topRow;
  const int shownColumn = cursorColumn - view.leftColumn;
  if (body.empty() && cursorVisible == view.cursorShown &&
      (!cursorVisible || (shownRow == view.cursorRow && shownColumn == view.cursorColumn)))
    return afresh;  // the terminal already shows all of it

  if (view.cursorShown && !body.empty()) {
    out += "\x1b[?25l";  // no cursor flying about while cells are drawn
    view.cursorShown = false;
  }
  out += body;
  if (cursorVisible) {
    AppendMoveTo(out, shownRow, shownColumn);
    if (!view.cursorShown) out += "\x1b[?25h";
    view.cursorShown = true;
    view.cursorRow = shownRow;
    view.cursorColumn = shownColumn;
  } else if (view.cursorShown) {
    out += "\x1b[?25l";
    view.cursorShown = false;
  }
  return afresh;
}
