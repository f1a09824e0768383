#include "text/unicode.h"

#include <cstdint>

Utf8Step DecodeUtf8Byte(Utf8Decoder& d, std::uint8_t byte) {
  if (d.remaining > 0) {
    if (byte < d.lower || byte > d.upper) {
      d = Utf8Decoder{};
      return Utf8Step::kInvalid;
    }
    d.codePoint = (d.codePoint << 6) | (byte & 0x3Fu);
    d.lower = 0x80;
    d.upper = 0xBF;
    return --d.remaining > 0 ? Utf8Step::kMore : Utf8Step::kCharacter;
  }
  d = Utf8Decoder{};
  if (byte < 0x80) {
    d.codePoint = byte;
    return Utf8Step::kCharacter;
  }
  // The lead byte: how many continuation bytes follow, and the range the
  // first of them must lie in to keep out overlong forms (E0, F0),
  // surrogates (ED) and values above U+10FFFF (F4).
  if (byte >= 0xC2 && byte <= 0xDF) {
    d.remaining = 1;
  } else if (byte >= 0xE0 && byte <= 0xEF) {
    d.remaining = 2;
    if (byte == 0xE0) d.lower = 0xA0;
    if (byte == 0xED) d.upper = 0x9F;
  } else if (byte >= 0xF0 && byte <= 0xF4) {
    d.remaining = 3;
    if (byte == 0xF0) d.lower = 0x90;
    if (byte == 0xF4) d.upper = 0x8F;
  } else {
    return Utf8Step::kInvalid;  // a continuation byte, C0, C1 or F5 and above
  }
  d.codePoint = byte & (0x7Fu >> (d.remaining + 1));  // the lead's payload bits
  return Utf8Step::kMore;
}

char32_t NextCharacter(std::string_view text, std::size_t& at) {
  Utf8Decoder decoder;
  for (std::size_t next = at; next < text.size();) {
    switch (DecodeUtf8Byte(decoder, static_cast<std::uint8_t>(text[next++]))) {
      case Utf8Step::kCharacter:
        at = next;
        return decoder.codePoint;
      case Utf8Step::kInvalid:
        ++at;
        return kReplacementCharacter;
      case Utf8Step::kMore:
        break;
    }
  }
  ++at;  // the text ends inside a character
  return kReplacementCharacter;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

bool Utf8ToUtf16(std::string_view text, std::u16string& out) {
  out.clear();
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t start = at;
    const char32_t c = NextCharacter(text, at);
    // A byte that is not valid UTF-8 comes back as U+FFFD alone; a U+FFFD
    // the text holds took its three bytes.
    if (c == kReplacementCharacter && at == start + 1) {
      out.clear();
      return false;
    }
    if (c < 0x10000) {
      out.push_back(static_cast<char16_t>(c));
    } else {
      char16_t high = 0;
      char16_t low = 0;
      SplitSurrogates(c, high, low);
      out.push_back(high);
      out.push_back(low);
    }
  }
  return true;
}

bool AppendUtf16AsUtf8(std::string& out, std::u16string_view text) {
  bool allPaired = true;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char32_t unit = text[i];
    if (IsHighSurrogate(unit) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      AppendUtf8(out, JoinSurrogates(unit, text[i + 1]));
      ++i;
    } else if (IsSurrogate(unit)) {
      allPaired = false;
    } else {
      AppendUtf8(out, unit);
    }
  }
  return allPaired;
}

bool Utf16ToUtf8(std::u16string_view text, std::string& out) {
  out.clear();
  out.reserve(text.size());
  if (AppendUtf16AsUtf8(out, text)) return true;
  out.clear();
  return false;
}
