// Key decoding: UTF-8, escape sequences, lone Escape, Backspace and Enter.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "console/key_decoder.h"

namespace {

// Keys as text: characters as themselves (Latin-1 above 0x7F as <xx>),
// the rest as [Enter], [BS], [Esc], [Ctl09], [Ign].
std::string Describe(const Key& key) {
  char buffer[16];
  switch (key.kind) {
    case KeyKind::kCharacter:
      if (key.code < 0x80) return std::string(1, static_cast<char>(key.code));
      std::snprintf(buffer, sizeof buffer, "<%02x>", key.code);
      return buffer;
    case KeyKind::kEnter:
      return "[Enter]";
    case KeyKind::kBackspace:
      return "[BS]";
    case KeyKind::kEscape:
      return "[Esc]";
    case KeyKind::kControl:
      std::snprintf(buffer, sizeof buffer, "[Ctl%02x]", key.code);
      return buffer;
    case KeyKind::kIgnored:
      return "[Ign]";
    case KeyKind::kNone:
      return "[None]";
  }
  return "?";
}

// Decodes all of `bytes`, then finishes the input as at its end.
std::string DecodeAll(const std::string& bytes, bool plain) {
  KeyDecoder decoder;
  decoder.plainInput = plain;
  std::string out;
  for (char c : bytes) {
    DecodedKeys keys = DecodeKeyByte(decoder, static_cast<std::uint8_t>(c));
    for (int i = 0; i < keys.count; ++i) out += Describe(keys.keys[i]);
  }
  Key last = FinishKeyInput(decoder);
  if (last.kind != KeyKind::kNone) out += Describe(last);
  return out;
}

struct DecodeCase {
  const char* name;
  std::string bytes;
  const char* terminal;  // decoded from a terminal
  const char* plain;     // decoded from plain input
};

class KeyDecoding : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(KeyDecoding, FromTerminal) {
  EXPECT_EQ(DecodeAll(GetParam().bytes, false), GetParam().terminal) << GetParam().name;
}

TEST_P(KeyDecoding, FromPlainInput) {
  EXPECT_EQ(DecodeAll(GetParam().bytes, true), GetParam().plain) << GetParam().name;
}

std::string CaseName(const ::testing::TestParamInfo<DecodeCase>& param) {
  return "case" + std::to_string(param.index);
}

std::string Bytes(const char* text, std::size_t size) { return std::string(text, size); }

INSTANTIATE_TEST_SUITE_P(
    Ascii, KeyDecoding,
    ::testing::Values(
        DecodeCase{"letters", "abc ~", "abc ~", "abc ~"},
        DecodeCase{"carriage return", "\r", "[Enter]", "[Enter]"},
        DecodeCase{"line feed", "\n", "[Ctl0a]", "[Enter]"},
        DecodeCase{"CR LF", "a\r\nb", "a[Enter][Ctl0a]b", "a[Enter]b"},
        DecodeCase{"LF CR", "\n\r", "[Ctl0a][Enter]", "[Enter][Enter]"},
        DecodeCase{"CR CR LF", "\r\r\n", "[Enter][Enter][Ctl0a]", "[Enter][Enter]"},
        DecodeCase{"CR LF LF", "\r\n\n", "[Enter][Ctl0a][Ctl0a]", "[Enter][Enter]"},
        DecodeCase{"CR, key, LF", "\rx\n", "[Enter]x[Ctl0a]", "[Enter]x[Enter]"},
        DecodeCase{"delete", "\x7f", "[BS]", "[BS]"},
        DecodeCase{"backspace", "\x08", "[BS]", "[BS]"},
        DecodeCase{"tab and ctrl+c", "\t\x03", "[Ctl09][Ctl03]", "[Ctl09][Ctl03]"},
        DecodeCase{"nul", Bytes("\0", 1), "[Ctl00]", "[Ctl00]"}),
    CaseName);

INSTANTIATE_TEST_SUITE_P(
    Escapes, KeyDecoding,
    ::testing::Values(
        DecodeCase{"lone escape", "\x1b", "[Esc]", "[Esc]"},
        DecodeCase{"two escapes", "\x1b\x1b", "[Esc][Esc]", "[Esc][Esc]"},
        DecodeCase{"up arrow", "\x1b[Aa", "[Ign]a", "[Ign]a"},
        DecodeCase{"ctrl+right", "\x1b[1;5Ca", "[Ign]a", "[Ign]a"},
        DecodeCase{"F5", "\x1b[15~a", "[Ign]a", "[Ign]a"},
        DecodeCase{"F1 as SS3", "\x1bOPa", "[Ign]a", "[Ign]a"},
        DecodeCase{"shift+F1 as SS3", "\x1bO2Pa", "[Ign]a", "[Ign]a"},
        DecodeCase{"F1 on the Linux console", "\x1b[[Aa", "[Ign]a", "[Ign]a"},
        DecodeCase{"alt+x", "\x1bxa", "[Ign]a", "[Ign]a"},
        DecodeCase{"alt+backspace", "\x1b\x7f" "a", "[Ign]a", "[Ign]a"},
        DecodeCase{"alt+e acute", "\x1b\xc3\xa9" "a", "[Ign]a", "[Ign]a"},
        DecodeCase{"escape then sequence", "\x1b\x1b[Ba", "[Esc][Ign]a", "[Esc][Ign]a"},
        DecodeCase{"escape then enter", "\x1b\r", "[Esc][Enter]", "[Esc][Enter]"},
        DecodeCase{"escape then tab", "\x1b\t", "[Esc][Ctl09]", "[Esc][Ctl09]"},
        DecodeCase{"cut sequence then enter", "\x1b[12\ra", "[Enter]a", "[Enter]a"},
        DecodeCase{"sequence cut by escape", "\x1b[1\x1b[Ca", "[Ign]a", "[Ign]a"},
        DecodeCase{"unfinished sequence at the end", "\x1b[1;", "[Ign]", "[Ign]"},
        DecodeCase{"CR then escape then LF", "\r\x1b\n", "[Enter][Esc][Ctl0a]",
                   "[Enter][Esc][Enter]"},
        DecodeCase{"overlong sequence",
                   "\x1b[" + std::string(40, '1') + "x", "11111111111x", "11111111111x"}),
    CaseName);

INSTANTIATE_TEST_SUITE_P(
    Utf8, KeyDecoding,
    ::testing::Values(
        DecodeCase{"e acute", "\xc3\xa9", "<e9>", "<e9>"},
        DecodeCase{"no-break space", "\xc2\xa0", "<a0>", "<a0>"},
        DecodeCase{"y diaeresis", "\xc3\xbf", "<ff>", "<ff>"},
        DecodeCase{"C1 control", "\xc2\x80\xc2\x9f", "[Ign][Ign]", "[Ign][Ign]"},
        DecodeCase{"beyond Latin-1", "\xc4\x80", "[Ign]", "[Ign]"},
        DecodeCase{"euro sign", "\xe2\x82\xac", "[Ign]", "[Ign]"},
        DecodeCase{"emoji", "\xf0\x9f\x98\x80" "a", "[Ign]a", "[Ign]a"},
        DecodeCase{"lead byte then ASCII", "\xc3" "a", "a", "a"},
        DecodeCase{"stray continuation", "\x80\xbf", "[Ign][Ign]", "[Ign][Ign]"},
        DecodeCase{"invalid bytes", "\xff\xfe\xc0\xc1\xf5", "[Ign][Ign][Ign][Ign][Ign]",
                   "[Ign][Ign][Ign][Ign][Ign]"},
        DecodeCase{"overlong slash", "\xc0\xaf", "[Ign][Ign]", "[Ign][Ign]"},
        DecodeCase{"overlong three bytes", "\xe0\x80\x80", "[Ign][Ign]", "[Ign][Ign]"},
        DecodeCase{"surrogate", "\xed\xa0\x80", "[Ign][Ign]", "[Ign][Ign]"},
        DecodeCase{"above U+10FFFF", "\xf4\x90\x80\x80", "[Ign][Ign][Ign]", "[Ign][Ign][Ign]"},
        DecodeCase{"truncated at the end", "\xe2\x82", "[Ign]", "[Ign]"},
        DecodeCase{"truncated by enter", "\xe2\x82\r", "[Enter]", "[Enter]"},
        DecodeCase{"truncated by escape sequence", "\xc3\x1b[Aa", "[Ign]a", "[Ign]a"},
        DecodeCase{"two-byte after a broken one", "\xe2\xc3\xa9", "<e9>", "<e9>"}),
    CaseName);

TEST(KeyDecodingPending, EscapeWaitsForWhatFollows) {
  KeyDecoder decoder;
  EXPECT_EQ(DecodeKeyByte(decoder, 0x1b).count, 0);
  EXPECT_TRUE(KeyInputPending(decoder));
  Key key = FinishKeyInput(decoder);
  EXPECT_EQ(key.kind, KeyKind::kEscape);
  EXPECT_FALSE(KeyInputPending(decoder));
  EXPECT_EQ(FinishKeyInput(decoder).kind, KeyKind::kNone);
}

TEST(KeyDecodingPending, NothingPendingAfterACompleteKey) {
  KeyDecoder decoder;
  DecodeKeyByte(decoder, 'a');
  EXPECT_FALSE(KeyInputPending(decoder));
  DecodeKeyByte(decoder, 0xc3);
  EXPECT_TRUE(KeyInputPending(decoder));
  DecodeKeyByte(decoder, 0xa9);
  EXPECT_FALSE(KeyInputPending(decoder));
}

// Arbitrary bytes never produce a character outside the typed range, never
// more than two keys per byte, and leave the decoder able to decode again.
TEST(KeyDecodingRobustness, ArbitraryBytes) {
  for (bool plain : {false, true}) {
    KeyDecoder decoder;
    decoder.plainInput = plain;
    std::uint32_t seed = 12345;
    int characters = 0;
    for (int i = 0; i < 200000; ++i) {
      seed = seed * 1664525u + 1013904223u;
      auto byte = static_cast<std::uint8_t>(seed >> 24);
      DecodedKeys keys = DecodeKeyByte(decoder, byte);
      ASSERT_LE(keys.count, 2);
      for (int k = 0; k < keys.count; ++k) {
        ASSERT_NE(keys.keys[k].kind, KeyKind::kNone);
        if (keys.keys[k].kind == KeyKind::kCharacter) {
          std::uint8_t code = keys.keys[k].code;
          ASSERT_TRUE((code >= 0x20 && code <= 0x7e) || code >= 0xa0) << int(code);
          ++characters;
        }
      }
    }
    EXPECT_GT(characters, 1000);
    FinishKeyInput(decoder);
    DecodedKeys keys = DecodeKeyByte(decoder, 'q');
    ASSERT_EQ(keys.count, 1);
    EXPECT_EQ(keys.keys[0].kind, KeyKind::kCharacter);
    EXPECT_EQ(keys.keys[0].code, 'q');
  }
}

}  // namespace
