#include "console/key_decoder.h"

namespace {

enum State : std::uint8_t {
  kGround,
  kUtf8,
  kEscape,     // after ESC
  kCsi,        // after ESC [
  kCsiLinux,   // after ESC [ [ (Linux console F1-F5): one more byte
  kSs3,        // after ESC O
};

// Longest escape sequence we wait for; anything longer is cut off so that a
// stray ESC [ cannot swallow the rest of the input.
constexpr std::uint16_t kMaxSequenceLength = 32;

constexpr std::uint8_t kEsc = 0x1B;

Key Make(KeyKind kind, std::uint8_t code = 0) { return Key{kind, code}; }

void StartUtf8(KeyDecoder& d, bool ignore, int remaining, std::uint32_t bits,
               std::uint8_t lower, std::uint8_t upper) {
  d.state = kUtf8;
  d.utf8Ignore = ignore;
  d.utf8Remaining = static_cast<std::uint8_t>(remaining);
  d.codePoint = bits;
  d.utf8Lower = lower;
  d.utf8Upper = upper;
}

// A UTF-8 lead byte, with the ranges of the next byte that keep out overlong
// forms, surrogates and code points above U+10FFFF. `ignore`: the character
// is the tail of Alt+key and types nothing.
Key Utf8Lead(KeyDecoder& d, std::uint8_t byte, bool ignore) {
  if (byte >= 0xC2 && byte <= 0xDF) {
    StartUtf8(d, ignore, 1, byte & 0x1Fu, 0x80, 0xBF);
  } else if (byte == 0xE0) {
    StartUtf8(d, ignore, 2, byte & 0x0Fu, 0xA0, 0xBF);
  } else if (byte == 0xED) {
    StartUtf8(d, ignore, 2, byte & 0x0Fu, 0x80, 0x9F);
  } else if (byte >= 0xE1 && byte <= 0xEF) {
    StartUtf8(d, ignore, 2, byte & 0x0Fu, 0x80, 0xBF);
  } else if (byte == 0xF0) {
    StartUtf8(d, ignore, 3, byte & 0x07u, 0x90, 0xBF);
  } else if (byte >= 0xF1 && byte <= 0xF3) {
    StartUtf8(d, ignore, 3, byte & 0x07u, 0x80, 0xBF);
  } else if (byte == 0xF4) {
    StartUtf8(d, ignore, 3, byte & 0x07u, 0x80, 0x8F);
  } else {
    d.state = kGround;
    return Make(KeyKind::kIgnored);  // a stray continuation byte or an invalid lead
  }
  return Make(KeyKind::kNone);
}

// A byte in the ground state.
Key Ground(KeyDecoder& d, std::uint8_t byte) {
  bool wasCarriageReturn = d.lastWasCarriageReturn;
  d.lastWasCarriageReturn = false;
  d.state = kGround;
  if (byte >= 0x80) return Utf8Lead(d, byte, false);
  if (byte == '\r') {
    d.lastWasCarriageReturn = true;
    return Make(KeyKind::kEnter);
  }
  if (byte == '\n' && d.plainInput) {
    // CR LF is one Enter; a LF alone is an Enter of its own.
    return wasCarriageReturn ? Make(KeyKind::kNone) : Make(KeyKind::kEnter);
  }
  if (byte == 0x08 || byte == 0x7F) return Make(KeyKind::kBackspace);
  if (byte == kEsc) {
    d.state = kEscape;
    d.sequenceLength = 1;
    return Make(KeyKind::kNone);
  }
  if (byte < 0x20) return Make(KeyKind::kControl, byte);
  return Make(KeyKind::kCharacter, byte);
}

DecodedKeys One(Key key) {
  DecodedKeys out;
  if (key.kind != KeyKind::kNone) out.keys[out.count++] = key;
  return out;
}

}  // namespace

bool KeyInputPending(const KeyDecoder& d) { return d.state != kGround; }

DecodedKeys DecodeKeyByte(KeyDecoder& d, std::uint8_t byte) {
  switch (d.state) {
    case kUtf8: {
      if (byte < d.utf8Lower || byte > d.utf8Upper) return One(Ground(d, byte));  // malformed
      d.codePoint = (d.codePoint << 6) | (byte & 0x3Fu);
      d.utf8Lower = 0x80;
      d.utf8Upper = 0xBF;
      if (--d.utf8Remaining > 0) return One(Make(KeyKind::kNone));
      d.state = kGround;
      if (!d.utf8Ignore && d.codePoint >= 0xA0 && d.codePoint <= 0xFF)
        return One(Make(KeyKind::kCharacter, static_cast<std::uint8_t>(d.codePoint)));
      // C1 controls and everything beyond Latin-1 type nothing.
      return One(Make(KeyKind::kIgnored));
    }

    case kEscape:
      d.lastWasCarriageReturn = false;
      if (byte == '[' || byte == 'O') {
        d.state = byte == '[' ? kCsi : kSs3;
        ++d.sequenceLength;
        return One(Make(KeyKind::kNone));
      }
      if (byte < 0x20) {
        // The Escape was alone; the control key after it (Enter, Tab, another
        // Escape that may start a sequence) is a key of its own.
        DecodedKeys out;
        out.keys[out.count++] = Make(KeyKind::kEscape);
        Key next = Ground(d, byte);
        if (next.kind != KeyKind::kNone) out.keys[out.count++] = next;
        return out;
      }
      d.state = kGround;
      if (byte >= 0x80) return One(Utf8Lead(d, byte, true));  // Alt with a non-ASCII key
      return One(Make(KeyKind::kIgnored));  // Alt with a key, Alt+Backspace included

    case kCsi:
    case kSs3:
      if (byte >= 0x40 && byte <= 0x7E) {
        if (d.state == kCsi && byte == '[' && d.sequenceLength == 2) {
          d.state = kCsiLinux;
          return One(Make(KeyKind::kNone));
        }
        d.state = kGround;
        return One(Make(KeyKind::kIgnored));
      }
      if (byte >= 0x20 && byte <= 0x3F && ++d.sequenceLength < kMaxSequenceLength)
        return One(Make(KeyKind::kNone));
      // Not part of a sequence, or too long: the sequence ends here and the
      // byte stands on its own.
      return One(Ground(d, byte));

    case kCsiLinux:
      if (byte >= 0x40 && byte <= 0x7E) {
        d.state = kGround;
        return One(Make(KeyKind::kIgnored));
      }
      return One(Ground(d, byte));

    default:
      return One(Ground(d, byte));
  }
}

Key FinishKeyInput(KeyDecoder& d) {
  std::uint8_t state = d.state;
  d.state = kGround;
  d.lastWasCarriageReturn = false;
  if (state == kEscape) return Make(KeyKind::kEscape);
  if (state == kGround) return Make(KeyKind::kNone);
  return Make(KeyKind::kIgnored);  // an unfinished character or sequence
}
