// Key events of the Windows console turned into key presses. Pure: the
// event is copied into a plain record, so the decoding runs and is tested on
// every system; only the binding reads real events.
#pragma once

#include <cstdint>

#include "terminal/console_frame.h"

// A key event as ReadConsoleInputW reports it (KEY_EVENT_RECORD).
struct ConsoleKeyEvent {
  bool keyDown = true;
  std::uint16_t repeatCount = 1;     // a held key may come as one event for several presses
  std::uint16_t virtualKeyCode = 0;  // VK_...
  char16_t character = 0;            // one UTF-16 unit; 0 for a key that types nothing
  std::uint32_t controlKeyState = 0;
};

// dwControlKeyState bits.
constexpr std::uint32_t kRightAltPressed = 0x0001;
constexpr std::uint32_t kLeftAltPressed = 0x0002;
constexpr std::uint32_t kRightCtrlPressed = 0x0004;
constexpr std::uint32_t kLeftCtrlPressed = 0x0008;

constexpr std::uint16_t kVkEscape = 0x1B;

// Virtual key codes of the keys that never end a key wait on their own.
constexpr std::uint16_t kVkShift = 0x10;
constexpr std::uint16_t kVkControl = 0x11;
constexpr std::uint16_t kVkMenu = 0x12;     // Alt
constexpr std::uint16_t kVkCapital = 0x14;  // Caps Lock
constexpr std::uint16_t kVkNumLock = 0x90;
constexpr std::uint16_t kVkScroll = 0x91;
constexpr std::uint16_t kVkLeftShift = 0xA0;  // VK_LSHIFT .. VK_RMENU: the sided forms
constexpr std::uint16_t kVkRightMenu = 0xA5;

// A character beyond U+FFFF comes as two key events, one surrogate each.
struct ConsoleKeyDecoder {
  char16_t highSurrogate = 0;  // the first half, waiting for the second
};

struct DecodedConsoleKey {
  BoundKey key;    // kNone: nothing to report (a release, a first half)
  int repeat = 0;  // how many presses the event stands for
};

// Decodes one key event. Only presses count. A press with a character gives:
// Enter (13), Backspace (8), Escape (27, or VK_ESCAPE without a character),
// another control character (below 32, and 127) as kControl, C1 controls
// (128-159) as kIgnored, anything else as kCharacter with its code point, the
// two halves of a surrogate pair joined. A press without a character
// (arrows, function keys, modifiers) and Alt with a key (Alt without Ctrl:
// Ctrl+Alt is AltGr, which types characters) give kIgnored. A half that
// breaks a pair is dropped.
DecodedConsoleKey DecodeConsoleKeyEvent(ConsoleKeyDecoder& decoder, const ConsoleKeyEvent& event);

// Whether the event, oldest in the queue, ends a key wait: a press of any key
// but Shift, Ctrl, Alt, Caps Lock, Num Lock or Scroll Lock.
bool ConsoleEventEndsKeyWait(const ConsoleKeyEvent& event);
