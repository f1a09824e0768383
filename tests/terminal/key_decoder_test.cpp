// Key decoding: UTF-8, escape sequences, lone Escape, Backspace and Enter.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "terminal/key_decoder.h"

namespace {

// Keys as text: characters as themselves (above 0x7F as <code point>), the
// rest as [Enter], [BS], [Esc], [Ctl09], [Ign], raw bytes as [Raw80].
std::string Describe(const Key& key) {
  char buffer[16];
  switch (key.kind) {
    case KeyKind::kCharacter:
      if (key.code < 0x80) return std::string(1, static_cast<char>(key.code));
      std::snprintf(buffer, sizeof buffer, "<%x>", static_cast<unsigned>(key.code));
      return buffer;
    case KeyKind::kRawByte:
      std::snprintf(buffer, sizeof buffer, "[Raw%02x]", static_cast<unsigned>(key.code));
      return buffer;
    case KeyKind::kEnter:
      return "[Enter]";
    case KeyKind::kBackspace:
      return "[BS]";
    case KeyKind::kEscape:
      return "[Esc]";
    case KeyKind::kControl:
      std::snprintf(buffer, sizeof buffer, "[Ctl%02x]", static_cast<unsigned>(key.code));
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
  DecodedKeys last = FinishKeyInput(decoder);
  for (int i = 0; i < last.count; ++i) out += Describe(last.keys[i]);
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
    ::testing::Values(DecodeCase{"letters", "abc ~", "abc ~", "abc ~"},
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
    ::testing::Values(DecodeCase{"lone escape", "\x1b", "[Esc]", "[Esc]"},
                      DecodeCase{"two escapes", "\x1b\x1b", "[Esc][Esc]", "[Esc][Esc]"},
                      DecodeCase{"up arrow", "\x1b[Aa", "[Ign]a", "[Ign]a"},
                      DecodeCase{"ctrl+right", "\x1b[1;5Ca", "[Ign]a", "[Ign]a"},
                      DecodeCase{"F5", "\x1b[15~a", "[Ign]a", "[Ign]a"},
                      DecodeCase{"F1 as SS3", "\x1bOPa", "[Ign]a", "[Ign]a"},
                      DecodeCase{"shift+F1 as SS3", "\x1bO2Pa", "[Ign]a", "[Ign]a"},
                      DecodeCase{"F1 on the Linux console", "\x1b[[Aa", "[Ign]a", "[Ign]a"},
                      DecodeCase{"alt+x", "\x1bxa", "[Ign]a", "[Ign]a"},
                      DecodeCase{"alt+backspace",
                                 "\x1b\x7f"
                                 "a",
                                 "[Ign]a", "[Ign]a"},
                      DecodeCase{"alt+e acute",
                                 "\x1b\xc3\xa9"
                                 "a",
                                 "[Ign]a", "[Ign]a"},
                      DecodeCase{"escape then sequence", "\x1b\x1b[Ba", "[Esc][Ign]a",
                                 "[Esc][Ign]a"},
                      DecodeCase{"escape then enter", "\x1b\r", "[Esc][Enter]", "[Esc][Enter]"},
                      DecodeCase{"escape then tab", "\x1b\t", "[Esc][Ctl09]", "[Esc][Ctl09]"},
                      DecodeCase{"cut sequence then enter", "\x1b[12\ra", "[Enter]a", "[Enter]a"},
                      DecodeCase{"sequence cut by escape", "\x1b[1\x1b[Ca", "[Ign]a", "[Ign]a"},
                      DecodeCase{"unfinished sequence at the end", "\x1b[1;", "[Ign]", "[Ign]"},
                      DecodeCase{"CR then escape then LF", "\r\x1b\n", "[Enter][Esc][Ctl0a]",
                                 "[Enter][Esc][Enter]"},
                      DecodeCase{"overlong sequence", "\x1b[" + std::string(40, '1') + "x",
                                 "11111111111x", "11111111111x"}),
    CaseName);

INSTANTIATE_TEST_SUITE_P(
    Utf8, KeyDecoding,
    ::testing::Values(
        DecodeCase{"e acute", "\xc3\xa9", "<e9>", "<e9>"},
        DecodeCase{"no-break space", "\xc2\xa0", "<a0>", "<a0>"},
        DecodeCase{"y diaeresis", "\xc3\xbf", "<ff>", "<ff>"},
        DecodeCase{"C1 control", "\xc2\x80\xc2\x9f", "[Ign][Ign]", "[Ign][Ign]"},
        DecodeCase{"A macron", "\xc4\x80", "<100>", "<100>"},
        DecodeCase{"o double acute, l stroke", "\xc5\x91\xc5\x82", "<151><142>", "<151><142>"},
        DecodeCase{"Cyrillic zhe, Greek omega", "\xd0\xb6\xcf\x89", "<436><3c9>", "<436><3c9>"},
        DecodeCase{"euro sign", "\xe2\x82\xac", "<20ac>", "<20ac>"},
        DecodeCase{"CJK", "\xe6\x97\xa5\xe6\x9c\xac", "<65e5><672c>", "<65e5><672c>"},
        DecodeCase{"emoji",
                   "\xf0\x9f\x98\x80"
                   "a",
                   "<1f600>a", "<1f600>a"},
        DecodeCase{"combining acute", "e\xcc\x81", "e<301>", "e<301>"},
        DecodeCase{"noncharacter and the last code point", "\xef\xbf\xbf\xf4\x8f\xbf\xbf",
                   "<ffff><10ffff>", "<ffff><10ffff>"},
        // Malformed UTF-8: dropped from a terminal, kept byte for byte from plain input.
        DecodeCase{"lead byte then ASCII",
                   "\xc3"
                   "a",
                   "a", "[Rawc3]a"},
        DecodeCase{"Latin-1 bytes", "caf\xe9.wav", "caf.wav", "caf[Rawe9].wav"},
        DecodeCase{"stray continuation", "\x80\xbf", "[Ign][Ign]", "[Raw80][Rawbf]"},
        DecodeCase{"invalid bytes", "\xff\xfe\xc0\xc1\xf5", "[Ign][Ign][Ign][Ign][Ign]",
                   "[Rawff][Rawfe][Rawc0][Rawc1][Rawf5]"},
        DecodeCase{"overlong slash", "\xc0\xaf", "[Ign][Ign]", "[Rawc0][Rawaf]"},
        DecodeCase{"overlong three bytes", "\xe0\x80\x80", "[Ign][Ign]", "[Rawe0][Raw80][Raw80]"},
        DecodeCase{"surrogate", "\xed\xa0\x80", "[Ign][Ign]", "[Rawed][Rawa0][Raw80]"},
        DecodeCase{"above U+10FFFF", "\xf4\x90\x80\x80", "[Ign][Ign][Ign]",
                   "[Rawf4][Raw90][Raw80][Raw80]"},
        DecodeCase{"truncated at the end", "\xe2\x82", "[Ign]", "[Rawe2][Raw82]"},
        DecodeCase{"truncated by enter", "\xe2\x82\r", "[Enter]", "[Rawe2][Raw82][Enter]"},
        DecodeCase{"three bytes of four, then a letter",
                   "\xf0\x9f\x8e"
                   "a",
                   "a", "[Rawf0][Raw9f][Raw8e]a"},
        DecodeCase{"truncated by escape sequence", "\xc3\x1b[Aa", "[Ign]a", "[Rawc3][Ign]a"},
        DecodeCase{"two-byte after a broken one", "\xe2\xc3\xa9", "<e9>", "[Rawe2]<e9>"}),
    CaseName);

TEST(KeyDecodingPending, EscapeWaitsForWhatFollows) {
  KeyDecoder decoder;
  EXPECT_EQ(DecodeKeyByte(decoder, 0x1b).count, 0);
  EXPECT_TRUE(KeyInputPending(decoder));
  DecodedKeys keys = FinishKeyInput(decoder);
  ASSERT_EQ(keys.count, 1);
  EXPECT_EQ(keys.keys[0].kind, KeyKind::kEscape);
  EXPECT_FALSE(KeyInputPending(decoder));
  EXPECT_EQ(FinishKeyInput(decoder).count, 0);
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

// Every key the queue gives without another byte, as text.
std::string TakeAll(KeyQueue& queue) {
  std::string out;
  for (Key key; TakeQueuedKey(queue, key);) out += Describe(key);
  return out;
}

// Bytes read in blocks: a character cut between two blocks arrives whole,
// the two keys one byte completes come out one at a time, an Escape waits
// until the queue is finished, and decoded bytes are let go.
TEST(KeyQueueing, BlocksGiveWholeKeysAndFinishingTakesALoneEscape) {
  KeyQueue queue;
  EXPECT_FALSE(KeyQueueHoldsKey(queue));
  AppendKeyBytes(queue, "a\xc3", 2);
  EXPECT_EQ(TakeAll(queue), "a");
  EXPECT_TRUE(KeyQueueHoldsKey(queue));  // the cut character
  AppendKeyBytes(queue, "\xa9\x1b\t\x1b", 4);
  EXPECT_EQ(queue.bytes, "\xa9\x1b\t\x1b");
  Key key;
  ASSERT_TRUE(TakeQueuedKey(queue, key));
  EXPECT_EQ(Describe(key), "<e9>");
  ASSERT_TRUE(TakeQueuedKey(queue, key));
  EXPECT_EQ(Describe(key), "[Esc]");
  EXPECT_TRUE(KeyQueueHoldsKey(queue));  // the Tab the same byte completed
  EXPECT_EQ(TakeAll(queue), "[Ctl09]");
  EXPECT_TRUE(KeyQueueHoldsKey(queue));  // the last Escape, waiting
  EXPECT_TRUE(FinishQueuedKeys(queue));
  EXPECT_EQ(TakeAll(queue), "[Esc]");
  EXPECT_FALSE(FinishQueuedKeys(queue));
  EXPECT_FALSE(KeyQueueHoldsKey(queue));
}

// Arbitrary bytes never produce a character outside the typed range (nor a
// surrogate), raw bytes only from plain input, never more than four keys per
// byte, and leave the decoder able to decode again.
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
      ASSERT_LE(keys.count, kMaxKeysPerByte);
      for (int k = 0; k < keys.count; ++k) {
        ASSERT_NE(keys.keys[k].kind, KeyKind::kNone);
        char32_t code = keys.keys[k].code;
        if (keys.keys[k].kind == KeyKind::kCharacter) {
          ASSERT_TRUE((code >= 0x20 && code <= 0x7e) ||
                      (code >= 0xa0 && code <= 0x10ffff && (code < 0xd800 || code > 0xdfff)))
              << static_cast<unsigned>(code);
          ++characters;
        }
        if (keys.keys[k].kind == KeyKind::kRawByte) {
          ASSERT_TRUE(plain && code >= 0x80 && code <= 0xff);
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
