#include "system/unicode.h"

#include <cstdint>

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
