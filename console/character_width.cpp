#include "console/character_width.h"

#include <algorithm>

int CharacterWidth(char32_t character) {
  if (character < 0x300) return 1;  // no range starts below the combining marks
  const WidthRange* end = kWidthRanges + kWidthRangeCount;
  const WidthRange* range = std::upper_bound(
      kWidthRanges, end, character,
      [](char32_t value, const WidthRange& r) { return value < r.first; });
  if (range == kWidthRanges) return 1;
  --range;  // the last range that starts at or before `character`
  return character <= range->last ? range->width : 1;
}

char32_t NextCharacter(std::string_view text, std::size_t& at) {
  const auto lead = static_cast<std::uint8_t>(text[at]);
  ++at;
  if (lead < 0x80) return lead;
  // Continuation bytes that follow the lead, and the range the first of them
  // must lie in to keep out overlong forms, surrogates and values above U+10FFFF.
  int more = 0;
  std::uint8_t lower = 0x80;
  std::uint8_t upper = 0xBF;
  char32_t value = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    more = 1;
    value = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    more = 2;
    value = lead & 0x0Fu;
    if (lead == 0xE0) lower = 0xA0;
    if (lead == 0xED) upper = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    more = 3;
    value = lead & 0x07u;
    if (lead == 0xF0) lower = 0x90;
    if (lead == 0xF4) upper = 0x8F;
  } else {
    return kReplacementCharacter;
  }
  std::size_t next = at;
  for (int i = 0; i < more; ++i, ++next) {
    if (next >= text.size()) return kReplacementCharacter;
    const auto byte = static_cast<std::uint8_t>(text[next]);
    if (byte < lower || byte > upper) return kReplacementCharacter;
    value = (value << 6) | (byte & 0x3Fu);
    lower = 0x80;
    upper = 0xBF;
  }
  at = next;
  return value;
}

int TextCells(std::string_view text) {
  int cells = 0;
  for (std::size_t at = 0; at < text.size();) cells += CharacterWidth(NextCharacter(text, at));
  return cells;
}
