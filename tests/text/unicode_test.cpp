// UTF-8 and UTF-16 both ways, and what is refused rather than repaired.
#include <gtest/gtest.h>

#include <string>

#include "text/unicode.h"

namespace {

struct Pair {
  std::string utf8;
  std::u16string utf16;
};

TEST(Utf16, ConvertsBothWays) {
  const Pair pairs[] = {
      {"", u""},
      {"A.wav", u"A.wav"},
      {"\xC3\xA9\xC3\x9F\xC3\xBF", u"\u00e9\u00df\u00ff"},  // Latin-1
      {"\xC5\x82\xD0\xB6\xCE\xA9", u"\u0142\u0436\u03a9"},  // Polish, Russian, Greek
      {"\xE6\x97\xA5\xEF\xBF\xBD", u"\u65e5\ufffd"},        // CJK, U+FFFD
      {"\xF0\x9F\x8E\xB5", u"\xD83C\xDFB5"},                // U+1F3B5, a surrogate pair
      {"\xF4\x8F\xBF\xBF", u"\xDBFF\xDFFF"},                // U+10FFFF
  };
  for (const Pair& pair : pairs) {
    std::u16string wide;
    std::string narrow;
    EXPECT_TRUE(Utf8ToUtf16(pair.utf8, wide)) << pair.utf8;
    EXPECT_EQ(wide, pair.utf16) << pair.utf8;
    EXPECT_TRUE(Utf16ToUtf8(pair.utf16, narrow)) << pair.utf8;
    EXPECT_EQ(narrow, pair.utf8);
  }
}

TEST(Utf16, MalformedTextIsRefusedNotRepaired) {
  for (const char* bad :
       {"\x80", "a\xFF", "\xC0\x80", "\xC1\xBF", "\xE0\x9F\xBF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
        "\xF5\x80\x80\x80", "\xE6\x97", "\xE6\x97x", "\xF0\x9F\x8E"}) {
    std::u16string wide = u"x";
    EXPECT_FALSE(Utf8ToUtf16(bad, wide)) << bad;
    EXPECT_TRUE(wide.empty());
  }
  for (const std::u16string& bad : {std::u16string(u"a\xD83C"), std::u16string(u"\xDFB5"),
                                    std::u16string(u"\xD83C"
                                                   u"a")}) {
    std::string narrow = "x";
    EXPECT_FALSE(Utf16ToUtf8(bad, narrow));
    EXPECT_TRUE(narrow.empty());
  }
}

// Typed console text keeps what it can: a lone surrogate is left out, the
// rest converted, and the caller told.
TEST(Utf16, AppendingLeavesOutLoneSurrogates) {
  struct Case {
    std::u16string utf16;
    const char* utf8;
    bool allPaired;
  };
  const Case cases[] = {
      {u"a\xD83C\xDFB5", "a\xF0\x9F\x8E\xB5", true},
      {u"\xD800\xDC00\xDBFF\xDFFF", "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF",
       true},  // the ends of the range
      {u"a\xD83C", "a", false},
      {u"\xDFB5\xD83C"
       u"b",
       "b", false},
      {u"\xD83C\xD83C\xDFB5", "\xF0\x9F\x8E\xB5", false},
  };
  for (const Case& c : cases) {
    std::string out = "x";
    EXPECT_EQ(AppendUtf16AsUtf8(out, c.utf16), c.allPaired) << c.utf8;
    EXPECT_EQ(out, std::string("x") + c.utf8);
  }
}

}  // namespace
