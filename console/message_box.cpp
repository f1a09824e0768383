#include "console/message_box.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "console/character_width.h"

namespace {

constexpr char32_t kHorizontal = U'\u2500';
constexpr char32_t kVertical = U'\u2502';
constexpr char32_t kTopLeft = U'\u250C';
constexpr char32_t kTopRight = U'\u2510';
constexpr char32_t kBottomLeft = U'\u2514';
constexpr char32_t kBottomRight = U'\u2518';
constexpr std::string_view kButton = "[ OK ]";

// Black on light grey; the button bright white on blue.
constexpr std::uint8_t kBoxAttribute = 0 + 16 * 7;
constexpr std::uint8_t kButtonAttribute = 15 + 16 * 1;

// Blank columns between the frame and the text.
constexpr int kPadding = 2;

std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  for (;;) {
    const std::size_t at = text.find("\\n");
    lines.push_back(text.substr(0, at));
    if (at == std::string_view::npos) return lines;
    text.remove_prefix(at + 2);
  }
}

using BoxRow = std::vector<Cell>;

void AppendCells(BoxRow& row, char32_t character, int count, std::uint8_t attribute) {
  for (int i = 0; i < count; ++i) row.push_back(Cell{character, attribute, CellPart::kWhole});
}

// Appends `text` (UTF-8) padded or cut to exactly `width` cells; a wide
// character that would reach past the width is left out, and so is a
// character of no width (it has no cell of its own).
void AppendField(BoxRow& row, std::string_view text, int width, std::uint8_t attribute) {
  if (width <= 0) return;
  int used = 0;
  for (std::size_t at = 0; at < text.size();) {
    const char32_t character = NextCharacter(text, at);
    const int cells = CharacterWidth(character);
    if (used + cells > width) break;
    if (cells == 2) {
      row.push_back(Cell{character, attribute, CellPart::kWideHead});
      row.push_back(Cell{character, attribute, CellPart::kWideTail});
    } else if (cells == 1) {
      row.push_back(Cell{character, attribute, CellPart::kWhole});
    }
    used += cells;
  }
  AppendCells(row, ' ', width - used, attribute);
}

// The top or bottom line of the frame; the top one carries the title.
BoxRow FrameLine(bool top, int inner, std::string_view title) {
  BoxRow row;
  AppendCells(row, top ? kTopLeft : kBottomLeft, 1, kBoxAttribute);
  const std::string_view name = top && inner >= 3 ? TrimBlanks(title) : std::string_view();
  const int nameWidth = name.empty() ? 0 : std::min(TextCells(name) + 2, inner);
  const int before = (inner - nameWidth) / 2;
  AppendCells(row, kHorizontal, before, kBoxAttribute);
  if (nameWidth > 0) {
    AppendCells(row, ' ', 1, kBoxAttribute);
    AppendField(row, name, nameWidth - 2, kBoxAttribute);
    AppendCells(row, ' ', 1, kBoxAttribute);
  }
  AppendCells(row, kHorizontal, inner - before - nameWidth, kBoxAttribute);
  AppendCells(row, top ? kTopRight : kBottomRight, 1, kBoxAttribute);
  return row;
}

// Puts `row` on the screen from (screenRow, left). A wide character whose
// other half lies outside the box loses that half: it becomes a blank in its
// own colours, as when a character is written over one half.
void LayRow(Screen& screen, int screenRow, int left, const BoxRow& row) {
  Cell* line = screen.cells[screenRow];
  const int right = left + static_cast<int>(row.size()) - 1;
  if (line[left].part == CellPart::kWideTail && left > 0)
    line[left - 1] = Cell{' ', line[left - 1].attribute, CellPart::kWhole};
  if (line[right].part == CellPart::kWideHead && right + 1 < kScreenColumns)
    line[right + 1] = Cell{' ', line[right + 1].attribute, CellPart::kWhole};
  std::copy(row.begin(), row.end(), line + left);
}

}  // namespace

std::string_view TrimBlanks(std::string_view text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

BoxPlacement PlaceMessageBox(std::string_view text, std::string_view title) {
  const std::vector<std::string_view> lines = SplitLines(text);
  int textWidth = static_cast<int>(kButton.size());
  for (std::string_view line : lines) textWidth = std::max(textWidth, TextCells(line));
  textWidth = std::max(textWidth, TextCells(TrimBlanks(title)) + 2);
  BoxPlacement box;
  box.width = std::min(textWidth + 2 * kPadding + 2, kScreenColumns);
  box.height = std::min(static_cast<int>(lines.size()) + 5, kScreenRows);
  box.left = (kScreenColumns - box.width) / 2;
  box.top = (kScreenRows - box.height) / 2;
  return box;
}

Screen MessageBoxOverlay(const Screen& screen, std::string_view text, std::string_view title) {
  Screen out = screen;
  const BoxPlacement box = PlaceMessageBox(text, title);
  const std::vector<std::string_view> lines = SplitLines(text);
  const int inner = box.width - 2;
  const int buttonWidth = std::min(static_cast<int>(kButton.size()), inner);
  const int beforeButton = (inner - buttonWidth) / 2;
  const int buttonRow = std::max(box.height - 2, 0);
  for (int r = 0; r < box.height; ++r) {
    if (r == 0 || r == box.height - 1) {
      LayRow(out, box.top + r, box.left, FrameLine(r == 0, inner, title));
      continue;
    }
    BoxRow row;
    AppendCells(row, kVertical, 1, kBoxAttribute);
    const int lineIndex = r - 2;
    if (r == buttonRow) {
      AppendCells(row, ' ', beforeButton, kBoxAttribute);
      AppendField(row, kButton, buttonWidth, kButtonAttribute);
      AppendCells(row, ' ', inner - beforeButton - buttonWidth, kBoxAttribute);
    } else if (lineIndex >= 0 && lineIndex < static_cast<int>(lines.size())) {
      const int pad = std::min(kPadding, inner);
      AppendCells(row, ' ', pad, kBoxAttribute);
      AppendField(row, lines[static_cast<std::size_t>(lineIndex)], inner - pad, kBoxAttribute);
    } else {
      AppendCells(row, ' ', inner, kBoxAttribute);
    }
    AppendCells(row, kVertical, 1, kBoxAttribute);
    LayRow(out, box.top + r, box.left, row);
  }
  out.row = box.top + buttonRow;
  out.column = box.left + 1 + beforeButton;
  out.pendingWrap = false;
  out.cursorVisible = false;
  return out;
}

std::string MessageLine(std::string_view text) {
  // The box's lines are centred with blanks; read as one sentence, they are
  // its words, one blank between lines.
  std::string line;
  for (const std::string_view part : SplitLines(text)) {
    const std::string_view words = TrimBlanks(part);
    if (words.empty()) continue;
    if (!line.empty()) line.push_back(' ');
    line.append(words);
  }
  return line;
}
