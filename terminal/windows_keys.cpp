#include "terminal/windows_keys.h"

#include "text/unicode.h"

namespace {

BoundKey KeyOfCharacter(char32_t c) {
  switch (c) {
    case 13:
      return {BoundKeyKind::kEnter, c};
    case 8:
      return {BoundKeyKind::kBackspace, c};
    case 27:
      return {BoundKeyKind::kEscape, c};
    default:
      break;
  }
  if (c < 32 || c == 127) return {BoundKeyKind::kControl, c};
  if (c >= 128 && c < 160) return {BoundKeyKind::kIgnored, c};
  return {BoundKeyKind::kCharacter, c};
}

}  // namespace

DecodedConsoleKey DecodeConsoleKeyEvent(ConsoleKeyDecoder& decoder, const ConsoleKeyEvent& event) {
  if (!event.keyDown) return {};
  char32_t unit = event.character;
  // Escape comes without its character from some consoles (wine's in a
  // terminal); the key code says what it is.
  if (unit == 0 && event.virtualKeyCode == kVkEscape) unit = 27;
  const int repeat = event.repeatCount > 0 ? event.repeatCount : 1;
  const char16_t high = decoder.highSurrogate;
  decoder.highSurrogate = 0;

  if (unit == 0) return {{BoundKeyKind::kIgnored, 0}, repeat};
  const bool alt = (event.controlKeyState & (kLeftAltPressed | kRightAltPressed)) != 0;
  const bool ctrl = (event.controlKeyState & (kLeftCtrlPressed | kRightCtrlPressed)) != 0;
  if (alt && !ctrl) return {{BoundKeyKind::kIgnored, unit}, repeat};

  if (IsHighSurrogate(unit)) {
    decoder.highSurrogate = static_cast<char16_t>(unit);
    return {};
  }
  if (IsLowSurrogate(unit)) {
    if (high == 0) return {{BoundKeyKind::kIgnored, unit}, 1};
    return {{BoundKeyKind::kCharacter, JoinSurrogates(high, unit)}, 1};
  }
  return {KeyOfCharacter(unit), repeat};
}

bool ConsoleEventEndsKeyWait(const ConsoleKeyEvent& event) {
  if (!event.keyDown) return false;
  switch (event.virtualKeyCode) {
    case kVkShift:
    case kVkControl:
    case kVkMenu:
    case kVkCapital:
    case kVkNumLock:
    case kVkScroll:
      return false;
    default:
      return !(event.virtualKeyCode >= kVkLeftShift && event.virtualKeyCode <= kVkRightMenu);
  }
}
