#include "console/character_width.h"

#include <algorithm>

int CharacterWidth(char32_t character) {
  if (character < 0x300) return 1;  // no range starts below the combining marks
  const WidthRange* end = kWidthRanges + kWidthRangeCount;
  const WidthRange* range =
      std::upper_bound(kWidthRanges, end, character,
                       [](char32_t value, const WidthRange& r) { return value < r.first; });
  if (range == kWidthRanges) return 1;
  --range;  // the last range that starts at or before `character`
  return character <= range->last ? range->width : 1;
}

int TextCells(std::string_view text) {
  int cells = 0;
  for (std::size_t at = 0; at < text.size();) cells += CharacterWidth(NextCharacter(text, at));
  return cells;
}
