// UTF-8 and UTF-16, the two encodings the program meets: names, titles and
// typed text are UTF-8 inside the program; Windows takes and gives UTF-16.
// Pure: the same on every system, so the conversions are tested on Linux too.
#pragma once

#include <string>
#include <string_view>

// `text` as UTF-16. False (and `out` empty) when `text` is not valid UTF-8:
// a malformed sequence, an overlong form, a surrogate or a code point above
// U+10FFFF. A name is never turned into another name by a repair.
bool Utf8ToUtf16(std::string_view text, std::u16string& out);

// `text` as UTF-8. False (and `out` empty) when `text` holds a surrogate that
// is not part of a pair.
bool Utf16ToUtf8(std::u16string_view text, std::string& out);

// Appends the UTF-8 form of one code point (at most U+10FFFF, not a surrogate).
void AppendUtf8(std::string& out, char32_t codePoint);
