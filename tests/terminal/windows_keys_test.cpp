// Windows console key events to key presses: presses only, surrogate pairs
// joined, Alt with a key ignored but AltGr typing, modifiers never ending a
// key wait.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "terminal/windows_keys.h"

namespace {

constexpr std::uint16_t kVkA = 0x41;
constexpr std::uint16_t kVkLeft = 0x25;
constexpr std::uint16_t kVkF1 = 0x70;
constexpr std::uint16_t kVkReturn = 0x0D;
constexpr std::uint16_t kVkPacket = 0xE7;  // characters typed without a key: an IME, a paste

ConsoleKeyEvent Press(char16_t c, std::uint16_t vk = kVkA, std::uint32_t state = 0,
                      std::uint16_t repeat = 1) {
  return ConsoleKeyEvent{true, repeat, vk, c, state};
}

ConsoleKeyEvent Release(char16_t c, std::uint16_t vk = kVkA) {
  return ConsoleKeyEvent{false, 1, vk, c, 0};
}

// The keys of a run of events, as text: characters as U+XXXX, the rest by
// name, each followed by xN when repeated.
std::string Decode(const std::vector<ConsoleKeyEvent>& events) {
  ConsoleKeyDecoder decoder;
  std::string out;
  for (const ConsoleKeyEvent& event : events) {
    const DecodedConsoleKey decoded = DecodeConsoleKeyEvent(decoder, event);
    char text[32];
    switch (decoded.key.kind) {
      case BoundKeyKind::kNone:
        continue;
      case BoundKeyKind::kCharacter:
        std::snprintf(text, sizeof text, "U+%04X", unsigned(decoded.key.code));
        break;
      case BoundKeyKind::kEnter:
        std::snprintf(text, sizeof text, "Enter");
        break;
      case BoundKeyKind::kBackspace:
        std::snprintf(text, sizeof text, "BS");
        break;
      case BoundKeyKind::kEscape:
        std::snprintf(text, sizeof text, "Esc");
        break;
      case BoundKeyKind::kControl:
        std::snprintf(text, sizeof text, "Ctl%02X", unsigned(decoded.key.code));
        break;
      case BoundKeyKind::kIgnored:
        std::snprintf(text, sizeof text, "Ign");
        break;
      case BoundKeyKind::kRawByte:
        std::snprintf(text, sizeof text, "Raw");
        break;  // never from a console
    }
    if (!out.empty()) out += ' ';
    out += text;
    if (decoded.repeat != 1) {
      out += 'x';
      out += std::to_string(decoded.repeat);
    }
  }
  return out;
}

struct KeyCase {
  const char* label;
  std::vector<ConsoleKeyEvent> events;
  const char* keys;
};

TEST(ConsoleKeyEvents, DecodeToKeyPresses) {
  const KeyCase cases[] = {
      {"press and release", {Press(u'a'), Release(u'a')}, "U+0061"},
      {"release alone", {Release(u'b')}, ""},
      {"Latin-1, Polish, CJK",
       {Press(u'\u00e9'), Press(u'\u0142'), Press(u'\u65e5', kVkPacket)},
       "U+00E9 U+0142 U+65E5"},
      {"surrogate pair joined",
       {Press(u'\xD83C', kVkPacket), Release(u'\xD83C', kVkPacket), Press(u'\xDFB5', kVkPacket)},
       "U+1F3B5"},
      {"high surrogate broken by a character", {Press(u'\xD83C'), Press(u'x')}, "U+0078"},
      {"low surrogate alone", {Press(u'\xDFB5')}, "Ign"},
      {"Enter, Backspace, Escape", {Press(13, kVkReturn), Press(8), Press(27)}, "Enter BS Esc"},
      {"Escape without its character", {Press(0, kVkEscape)}, "Esc"},
      {"Alt+Escape", {Press(27, kVkEscape, kLeftAltPressed)}, "Ign"},
      {"Tab, Ctrl+C, Ctrl+Backspace",
       {Press(9), Press(3, 0x43, kLeftCtrlPressed), Press(127)},
       "Ctl09 Ctl03 Ctl7F"},
      {"C1 control", {Press(u'\u0085')}, "Ign"},
      {"arrow, F1, Shift alone",
       {Press(0, kVkLeft), Press(0, kVkF1), Press(0, kVkShift, 0x10)},
       "Ign Ign Ign"},
      {"Alt with a letter", {Press(u'f', 0x46, kLeftAltPressed)}, "Ign"},
      {"AltGr types", {Press(u'@', 0x51, kRightAltPressed | kLeftCtrlPressed)}, "U+0040"},
      {"held key repeats", {Press(u'z', 0x5A, 0, 3), Press(u'y', 0x59, 0, 0)}, "U+007Ax3 U+0079"},
  };
  for (const KeyCase& c : cases) EXPECT_EQ(Decode(c.events), c.keys) << c.label;
}

TEST(ConsoleKeyEvents, ModifiersAloneNeverEndAKeyWait) {
  for (std::uint16_t vk : {kVkShift, kVkControl, kVkMenu, kVkCapital, kVkNumLock, kVkScroll,
                           kVkLeftShift, std::uint16_t(0xA3), kVkRightMenu}) {
    EXPECT_FALSE(ConsoleEventEndsKeyWait(Press(0, vk))) << vk;
  }
  for (std::uint16_t vk :
       {kVkA, kVkLeft, kVkF1, kVkReturn, kVkPacket, std::uint16_t(0x5B) /* Windows key */}) {
    EXPECT_TRUE(ConsoleEventEndsKeyWait(Press(0, vk))) << vk;
  }
  EXPECT_FALSE(ConsoleEventEndsKeyWait(Release(u'a'))) << "a release";
}

}  // namespace
