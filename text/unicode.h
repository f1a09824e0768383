// UTF-8 and UTF-16, the two encodings the program meets: names, titles and
// typed text are UTF-8 inside the program; Windows takes and gives UTF-16.
// Pure: the same on every system, so the conversions are tested on Linux too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Shown where text holds a byte that is not valid UTF-8, and where a cell
// holds something that is not a character.
constexpr char32_t kReplacementCharacter = 0xFFFD;

// The one reading of UTF-8, fed a byte at a time: what is a valid character
// (shortest form, no surrogate, at most U+10FFFF) is decided here for text
// and typed keys alike.
struct Utf8Decoder {
  std::uint8_t remaining = 0;  // continuation bytes still expected; 0 between characters
  std::uint8_t lower = 0x80;   // the range the next continuation byte must lie in
  std::uint8_t upper = 0xBF;
  char32_t codePoint = 0;  // the character so far; whole after kCharacter
};

enum class Utf8Step {
  kCharacter,  // the byte ends a character (an ASCII byte is one): codePoint holds it
  kMore,       // the byte starts or continues a character that needs more bytes
  kInvalid,    // the byte starts no character, or breaks the one begun; the
               // decoder is back between characters, and a byte that broke a
               // character may start one of its own
};

Utf8Step DecodeUtf8Byte(Utf8Decoder& decoder, std::uint8_t byte);

// The character of `text` at byte `at` (which must lie inside `text`), moving
// `at` past it. A byte that does not start a valid UTF-8 character (shortest
// form, no surrogate, at most U+10FFFF) gives kReplacementCharacter and moves
// `at` by that one byte; a U+FFFD written in the text moves it by three.
char32_t NextCharacter(std::string_view text, std::size_t& at);

// Appends the UTF-8 form of one code point (at most U+10FFFF, not a surrogate).
void AppendUtf8(std::string& out, char32_t codePoint);

// UTF-16 surrogates: a character beyond U+FFFF is a high unit (D800-DBFF)
// followed by a low one (DC00-DFFF).
constexpr bool IsHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
constexpr bool IsLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }
constexpr bool IsSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDFFF; }

// The character a high and a low surrogate stand for.
constexpr char32_t JoinSurrogates(char32_t high, char32_t low) {
  return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
}

// The two surrogates of `character` (U+10000-U+10FFFF).
constexpr void SplitSurrogates(char32_t character, char16_t& high, char16_t& low) {
  high = static_cast<char16_t>(0xD800 + ((character - 0x10000) >> 10));
  low = static_cast<char16_t>(0xDC00 + ((character - 0x10000) & 0x3FF));
}

// `text` as UTF-16. False (and `out` empty) when `text` is not valid UTF-8:
// a malformed sequence, an overlong form, a surrogate or a code point above
// U+10FFFF. A name is never turned into another name by a repair.
bool Utf8ToUtf16(std::string_view text, std::u16string& out);

// Appends `text` to `out` as UTF-8, leaving out every surrogate that is not
// part of a pair (it cannot stand for a character). True when none was left out.
bool AppendUtf16AsUtf8(std::string& out, std::u16string_view text);

// `text` as UTF-8. False (and `out` empty) when `text` holds a surrogate that
// is not part of a pair.
bool Utf16ToUtf8(std::u16string_view text, std::string& out);
