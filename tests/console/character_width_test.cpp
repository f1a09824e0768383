// Character widths from the generated table, and the UTF-8 helpers.
#include "console/character_width.h"

#include <gtest/gtest.h>

#include <string>

#include "text/unicode.h"

namespace {

struct WidthCase {
  char32_t character;
  int width;
};

TEST(CharacterWidth, TerminalCellsOfEachKind) {
  const WidthCase cases[] = {
      {U'a', 1},    {0xA0, 1},    {0xAD, 1},  // the soft hyphen keeps its cell, as all of Latin-1
      {0xFF, 1},    {0x0151, 1},  {0x0436, 1},   {0x03C9, 1},   // ő, ж, ω
      {0x0300, 0},  {0x0301, 0},  {0x20DD, 0},   {0x200B, 0},   // marks, zero-width space
      {0xFE0F, 0},  {0x1160, 0},  {0x11FF, 0},   {0xD7B0, 0},   // variation selector, jamo
      {0x0600, 1},  {0x1100, 2},  {0x3000, 2},   {0x65E5, 2},   // a prepended mark, CJK
      {0x3248, 2},  {0x4DC0, 2},  {0xFF01, 2},   {0xFF61, 1},   // fullwidth, halfwidth
      {0x1F3B5, 2}, {0x1F600, 2}, {0x2764, 1},   {0x1F1E6, 1},  // emoji and text symbols
      {0x20000, 2}, {0xE000, 1},  {0x10FFFF, 1}, {0xE01EF, 0},
  };
  for (const WidthCase& c : cases)
    EXPECT_EQ(CharacterWidth(c.character), c.width)
        << std::hex << static_cast<unsigned>(c.character);
}

TEST(CharacterWidth, TableIsSortedWithoutOverlaps) {
  ASSERT_GT(kWidthRangeCount, 0);
  for (int i = 0; i < kWidthRangeCount; ++i) {
    const WidthRange& r = kWidthRanges[i];
    EXPECT_LE(r.first, r.last) << i;
    EXPECT_TRUE(r.width == 0 || r.width == 2) << i;
    if (i > 0) {
      EXPECT_LT(kWidthRanges[i - 1].last, r.first) << i;
    }
  }
  EXPECT_GE(kWidthRanges[0].first, 0x300u);  // Latin-1 is never in the table
}

TEST(Utf8, EveryLengthRoundTripsAndInvalidBytesComeOneByOne) {
  std::string text;
  for (char32_t c : {U'A', char32_t{0xE9}, char32_t{0x65E5}, char32_t{0x1F3B5}, char32_t{0x10FFFF}})
    AppendUtf8(text, c);
  EXPECT_EQ(text, "A\xc3\xa9\xe6\x97\xa5\xf0\x9f\x8e\xb5\xf4\x8f\xbf\xbf");
  EXPECT_EQ(TextCells(text), 1 + 1 + 2 + 2 + 1);
  // Latin-1 byte, overlong slash, surrogate, above U+10FFFF, cut at the end.
  const std::string bad = "\xe9\xc0\xaf\xed\xa0\x80\xf4\x90\x80\x80\xe6\x97";
  std::size_t at = 0;
  int replacements = 0;
  while (at < bad.size()) replacements += NextCharacter(bad, at) == kReplacementCharacter;
  EXPECT_EQ(replacements, static_cast<int>(bad.size()));
}

}  // namespace
