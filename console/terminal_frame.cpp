#include "console/terminal_frame.h"

#include <algorithm>
#include <vector>

#include "console/character_width.h"
#include "console/screen_model.h"

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

}  // namespace

int AnsiForeground(int consoleColor) {
  consoleColor &= 15;
  return (consoleColor < 8 ? 30 : 90) + kAnsiIndex[consoleColor & 7];
}

int AnsiBackground(int consoleColor) { return AnsiForeground(consoleColor) + 10; }

void InvalidateView(TerminalView& view) {
  for (auto& row : view.valid) std::fill(std::begin(row), std::end(row), false);
}

void SetTerminalSize(TerminalView& view, int rows, int columns) {
  view.terminalRows = std::max(rows, 1);
  view.terminalColumns = std::max(columns, 1);
  view.rows = std::min(view.terminalRows, kScreenRows);
  view.columns = std::min(view.terminalColumns, kScreenColumns);
  view.clearFirst = true;
}

bool AppendFrame(std::string& out, TerminalView& view, const Screen& screen, bool cursorAllowed) {
  bool moved = Follow(view.topRow, view.rows, kScreenRows, screen.row);
  moved = Follow(view.leftColumn, view.columns, kScreenColumns, screen.column) || moved;
  bool afresh = moved || view.clearFirst;
  if (afresh) InvalidateView(view);

  std::string body;
  if (view.clearFirst) {
    body += "\x1b[0m\x1b[2J";  // what lies beyond the model keeps the terminal's own colours
    view.attribute = -1;
    view.clearFirst = false;
  }
  for (int r = 0; r < view.rows; ++r) {
    int row = view.topRow + r;
    int atColumn = -1;  // where the terminal's cursor stands on this row, if known
    for (int c = 0; c < view.columns;) {
      int column = view.leftColumn + c;
      const Cell& cell = screen.cells[row][column];
      // A wide character is sent whole, and the terminal's cursor moves two
      // columns past it: its two cells are one piece, redrawn together when
      // either half changed, and nothing is ever written into its right half
      // on its own. A pair cut by the edge of the part shown (a narrow
      // terminal) shows that half as a blank.
      bool wholePair = cell.part == CellPart::kWideHead && c + 1 < view.columns;
      bool halfPair = !wholePair && (cell.part == CellPart::kWideHead ||
                                     cell.part == CellPart::kWideTail);
      int width = wholePair ? 2 : 1;
      bool same = true;
      for (int k = 0; k < width; ++k) {
        same = same && view.valid[row][column + k] &&
               view.shown[row][column + k] == screen.cells[row][column + k];
      }
      if (!same) {
        if (atColumn != c) AppendMoveTo(body, r, c);
        AppendAttribute(body, view, cell.attribute);
        if (halfPair) {
          body += ' ';
        } else {
          AppendShownCell(body, cell);
        }
        atColumn = c + width;
        for (int k = 0; k < width; ++k) {
          view.shown[row][column + k] = screen.cells[row][column + k];
          view.valid[row][column + k] = true;
        }
      }
      c += width;
    }
  }

  bool showCursor = cursorAllowed && screen.cursorVisible;
  int cursorRow = screen.row - view.topRow;
  int cursorColumn = screen.column - view.leftColumn;
  if (body.empty() && showCursor == view.cursorShown &&
      (!showCursor || (cursorRow == view.cursorRow && cursorColumn == view.cursorColumn)))
    return afresh;  // the terminal already shows all of it

  if (view.cursorShown && !body.empty()) {
    out += "\x1b[?25l";  // no cursor flying about while cells are drawn
    view.cursorShown = false;
  }
  out += body;
  if (showCursor) {
    AppendMoveTo(out, cursorRow, cursorColumn);
    if (!view.cursorShown) out += "\x1b[?25h";
    view.cursorShown = true;
    view.cursorRow = cursorRow;
    view.cursorColumn = cursorColumn;
  } else if (view.cursorShown) {
    out += "\x1b[?25l";
    view.cursorShown = false;
  }
  return afresh;
}

namespace {

constexpr std::string_view kHorizontal = "\xe2\x94\x80";   // U+2500
constexpr std::string_view kVertical = "\xe2\x94\x82";     // U+2502
constexpr std::string_view kTopLeft = "\xe2\x94\x8c";      // U+250C
constexpr std::string_view kTopRight = "\xe2\x94\x90";     // U+2510
constexpr std::string_view kBottomLeft = "\xe2\x94\x94";   // U+2514
constexpr std::string_view kBottomRight = "\xe2\x94\x98";  // U+2518
constexpr std::string_view kButton = "[ OK ]";

// Box colours: black on light grey, the button bright white on blue.
constexpr int kBoxForeground = 0;
constexpr int kBoxBackground = 7;
constexpr int kButtonForeground = 15;
constexpr int kButtonBackground = 1;

std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  for (;;) {
    std::size_t at = text.find("\\n");
    lines.push_back(text.substr(0, at));
    if (at == std::string_view::npos) return lines;
    text.remove_prefix(at + 2);
  }
}

std::string_view TrimBlanks(std::string_view text) {
  std::size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// Appends `text` (UTF-8) padded or cut to exactly `width` cells; a wide
// character that would reach past the width is left out.
void AppendField(std::string& out, std::string_view text, int width) {
  if (width <= 0) return;
  int used = 0;
  for (std::size_t at = 0; at < text.size();) {
    Cell cell;
    cell.character = NextCharacter(text, at);
    int cells = CharacterWidth(cell.character);
    if (used + cells > width) break;
    AppendShownCell(out, cell);
    used += cells;
  }
  out.append(static_cast<std::size_t>(width - used), ' ');
}

// Layout inside the frame: a blank row, the text rows, a blank row, the button row.
constexpr int kPadding = 2;  // blank columns between the frame and the text

}  // namespace

BoxPlacement PlaceMessageBox(const TerminalView& view, std::string_view text, std::string_view title) {
  std::vector<std::string_view> lines = SplitLines(text);
  int textWidth = static_cast<int>(kButton.size());
  for (std::string_view line : lines) textWidth = std::max(textWidth, TextCells(line));
  textWidth = std::max(textWidth, TextCells(TrimBlanks(title)) + 2);
  BoxPlacement box;
  box.width = std::min(textWidth + 2 * kPadding + 2, view.columns);
  box.height = std::min(static_cast<int>(lines.size()) + 5, view.rows);
  box.left = (view.columns - box.width) / 2;
  box.top = (view.rows - box.height) / 2;
  return box;
}

void AppendMessageBox(std::string& out, TerminalView& view, std::string_view text, std::string_view title) {
  BoxPlacement box = PlaceMessageBox(view, text, title);
  std::vector<std::string_view> lines = SplitLines(text);
  int inner = box.width - 2;
  if (inner < 0) return;

  if (view.cursorShown) {
    out += "\x1b[?25l";
    view.cursorShown = false;
  }
  AppendColours(out, kBoxForeground, kBoxBackground);
  for (int r = 0; r < box.height; ++r) {
    AppendMoveTo(out, box.top + r, box.left);
    bool top = r == 0;
    bool bottom = r == box.height - 1;
    if (top || bottom) {
      out += top ? kTopLeft : kBottomLeft;
      std::string_view name = top && inner >= 3 ? TrimBlanks(title) : std::string_view();
      int nameWidth = name.empty() ? 0 : std::min(TextCells(name) + 2, inner);
      int before = (inner - nameWidth) / 2;
      for (int i = 0; i < before; ++i) out += kHorizontal;
      if (nameWidth > 0) {
        out += ' ';
        AppendField(out, name, nameWidth - 2);
        out += ' ';
      }
      for (int i = before + nameWidth; i < inner; ++i) out += kHorizontal;
      out += top ? kTopRight : kBottomRight;
      continue;
    }
    out += kVertical;
    int lineIndex = r - 2;
    bool buttonRow = r == box.height - 2;
    if (buttonRow) {
      int buttonWidth = std::min(static_cast<int>(kButton.size()), inner);
      int before = (inner - buttonWidth) / 2;
      out.append(static_cast<std::size_t>(before), ' ');
      AppendColours(out, kButtonForeground, kButtonBackground);
      AppendField(out, kButton, buttonWidth);
      AppendColours(out, kBoxForeground, kBoxBackground);
      out.append(static_cast<std::size_t>(inner - before - buttonWidth), ' ');
    } else if (lineIndex >= 0 && lineIndex < static_cast<int>(lines.size())) {
      int pad = std::min(kPadding, inner);
      out.append(static_cast<std::size_t>(pad), ' ');
      AppendField(out, lines[static_cast<std::size_t>(lineIndex)], inner - pad);
    } else {
      out.append(static_cast<std::size_t>(inner), ' ');
    }
    out += kVertical;
  }
  view.attribute = -1;
}

void ForgetMessageBox(TerminalView& view, std::string_view text, std::string_view title) {
  BoxPlacement box = PlaceMessageBox(view, text, title);
  // One column more on either side: where the box's edge covered half of a
  // wide character, the terminal blanked its other half as well.
  int first = std::max(box.left - 1, 0);
  int last = std::min(box.left + box.width, view.columns - 1);
  for (int r = 0; r < box.height; ++r)
    for (int c = first; c <= last; ++c)
      view.valid[view.topRow + box.top + r][view.leftColumn + c] = false;
}
