// What the console shows and what it is told, as both systems' bindings and
// the screen model speak of them: its size, a frame of cells, a key press.
#pragma once

#include <cstdint>

// One screen cell as the binding shows it. A character that takes two cells
// (East Asian wide, most emoji) stands in the left one; the right one is its
// continuation and holds nothing of its own.
struct FrameCell {
  char32_t character = U' ';
  std::uint8_t attribute = 7;  // foreground + 16 x background, console colour numbers
  bool continuation = false;
  bool operator==(const FrameCell&) const = default;
};

// A key press as the binding reports it.
enum class BoundKeyKind : std::uint8_t {
  kNone,       // nothing (a release, or half of a character still to come)
  kCharacter,  // a typed character, `code` its code point: U+0020-U+007E, or U+00A0 and above
  kEnter,
  kBackspace,
  kEscape,
  kControl,  // another control character (Tab, Ctrl with a letter, Ctrl+C): `code` holds it
  kIgnored,  // a key that types nothing: arrows, function keys, Alt with a
             // key, a C1 control, or (from a terminal) malformed UTF-8
  kRawByte,  // plain input only (pipes, files, scripts), never from a console:
             // a byte that is not part of valid UTF-8, `code` holds it (0x80-0xFF)
};

struct BoundKey {
  BoundKeyKind kind = BoundKeyKind::kNone;
  char32_t code = 0;
};

// The console's size: the dialogue's layout, which the screen model holds and
// the console binding gives the console.
constexpr int kConsoleColumns = 80;
constexpr int kConsoleRows = 41;
