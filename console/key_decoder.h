// Turns the bytes a terminal or a pipe sends into key presses. Pure: no I/O,
// no clock. The caller feeds bytes one at a time and, when nothing more
// arrives (a short quiet spell on a terminal, or the end of input), calls
// FinishKeyInput so that a lone Escape is taken as Escape.
#pragma once

#include <cstdint>

enum class KeyKind : std::uint8_t {
  kNone,       // the byte did not complete a key
  kCharacter,  // a character of a typed line, code 0x20-0x7E or 0xA0-0xFF
  kEnter,
  kBackspace,
  kEscape,
  kControl,    // another control character (Tab, Ctrl with a letter, ...): code holds it
  kIgnored,    // a key press that types nothing: an escape sequence, Alt with a
               // key, a character outside Latin-1, or malformed UTF-8
};

struct Key {
  KeyKind kind = KeyKind::kNone;
  std::uint8_t code = 0;
};

struct KeyDecoder {
  // Plain input (pipes, files, test scripts): LF and CR LF are Enter too.
  bool plainInput = false;

  // Decoding state; starts in the ground state.
  std::uint8_t state = 0;
  std::uint8_t utf8Remaining = 0;  // continuation bytes still expected
  std::uint8_t utf8Lower = 0x80;   // allowed range of the next continuation byte
  std::uint8_t utf8Upper = 0xBF;
  std::uint32_t codePoint = 0;
  bool utf8Ignore = false;         // the character is the tail of Alt+key
  std::uint16_t sequenceLength = 0;
  bool lastWasCarriageReturn = false;
};

// What one byte completed: none, one key, or two (an Escape that turned out
// to be alone, then the control key that followed it).
struct DecodedKeys {
  Key keys[2];
  int count = 0;
};

// Feeds one byte. A byte that breaks an unfinished sequence ends that
// sequence (dropped) and is then decoded on its own, so no key is lost to a
// malformed prefix.
DecodedKeys DecodeKeyByte(KeyDecoder& decoder, std::uint8_t byte);

// True while the bytes so far could still become a longer key (an Escape that
// may start a sequence, an unfinished UTF-8 character or sequence).
bool KeyInputPending(const KeyDecoder& decoder);

// No more bytes follow for now: a pending lone Escape becomes Escape, an
// unfinished sequence is dropped. Returns the key, or kNone.
Key FinishKeyInput(KeyDecoder& decoder);
