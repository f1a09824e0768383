#include "terminal/key_decoder.h"

namespace {

enum State : std::uint8_t {
  kGround,
  kUtf8,
  kEscape,    // after ESC
  kCsi,       // after ESC [
  kCsiLinux,  // after ESC [ [ (Linux console F1-F5): one more byte
  kSs3,       // after ESC O
};

// Longest escape sequence we wait for; anything longer is cut off so that a
// stray ESC [ cannot swallow the rest of the input.
constexpr std::uint16_t kMaxSequenceLength = 32;

constexpr std::uint8_t kEsc = 0x1B;

Key Make(KeyKind kind, char32_t code = 0) { return Key{kind, code}; }

void Add(DecodedKeys& out, Key key) {
  if (key.kind != KeyKind::kNone) out.keys[out.count++] = key;
}

DecodedKeys One(Key key) {
  DecodedKeys out;
  Add(out, key);
  return out;
}

// A byte that is not valid UTF-8 where it stands: plain input keeps it,
// a terminal's is a key that types nothing.
Key InvalidByte(const KeyDecoder& d, std::uint8_t byte) {
  return d.plainInput ? Make(KeyKind::kRawByte, byte) : Make(KeyKind::kIgnored);
}

// A byte from 0x80 on where a character may start. `ignore`: the character
// is the tail of Alt+key and types nothing.
Key Utf8Lead(KeyDecoder& d, std::uint8_t byte, bool ignore) {
  d.utf8 = Utf8Decoder{};
  if (DecodeUtf8Byte(d.utf8, byte) != Utf8Step::kMore) {
    d.state = kGround;
    // A stray continuation byte or an invalid lead.
    return ignore ? Make(KeyKind::kIgnored) : InvalidByte(d, byte);
  }
  d.state = kUtf8;
  d.utf8Ignore = ignore;
  d.utf8Bytes[0] = byte;
  d.utf8Length = 1;
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

// An unfinished UTF-8 character ends: plain input keeps its bytes, from a
// terminal (or after Alt) it is dropped.
void EndBrokenCharacter(KeyDecoder& d, DecodedKeys& out) {
  d.state = kGround;
  if (d.utf8Ignore || !d.plainInput) return;
  for (int i = 0; i < d.utf8Length; ++i) Add(out, Make(KeyKind::kRawByte, d.utf8Bytes[i]));
}

}  // namespace

bool KeyInputPending(const KeyDecoder& d) { return d.state != kGround; }

DecodedKeys DecodeKeyByte(KeyDecoder& d, std::uint8_t byte) {
  switch (d.state) {
    case kUtf8: {
      const Utf8Step step = DecodeUtf8Byte(d.utf8, byte);
      if (step == Utf8Step::kInvalid) {  // malformed
        DecodedKeys out;
        EndBrokenCharacter(d, out);
        Add(out, Ground(d, byte));
        return out;
      }
      d.utf8Bytes[d.utf8Length++] = byte;
      if (step == Utf8Step::kMore) return One(Make(KeyKind::kNone));
      d.state = kGround;
      // C1 controls type nothing, like the other control characters.
      if (d.utf8Ignore || d.utf8.codePoint < 0xA0) return One(Make(KeyKind::kIgnored));
      return One(Make(KeyKind::kCharacter, d.utf8.codePoint));
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
        Add(out, Make(KeyKind::kEscape));
        Add(out, Ground(d, byte));
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

DecodedKeys FinishKeyInput(KeyDecoder& d) {
  const std::uint8_t state = d.state;
  d.lastWasCarriageReturn = false;
  DecodedKeys out;
  if (state == kUtf8 && d.plainInput && !d.utf8Ignore) {
    EndBrokenCharacter(d, out);
    return out;
  }
  d.state = kGround;
  if (state == kEscape) {
    Add(out, Make(KeyKind::kEscape));
  } else if (state != kGround) {
    Add(out, Make(KeyKind::kIgnored));  // an unfinished character or sequence
  }
  return out;
}

namespace {

constexpr char32_t kByteOrderMark = 0xFEFF;

void QueueKeys(KeyQueue& queue, const DecodedKeys& decoded) {
  for (int i = 0; i < decoded.count; ++i) {
    const Key& key = decoded.keys[i];
    const bool first = !queue.keyQueuedBefore;
    queue.keyQueuedBefore = true;
    if (first && queue.decoder.plainInput && key.kind == KeyKind::kCharacter &&
        key.code == kByteOrderMark) {
      continue;
    }
    queue.keys[queue.keyCount++] = key;
  }
}

}  // namespace

bool TakeQueuedKey(KeyQueue& queue, Key& key) {
  for (;;) {
    if (queue.keyCount > 0) {
      key = queue.keys[0];
      for (int i = 1; i < queue.keyCount; ++i) queue.keys[i - 1] = queue.keys[i];
      --queue.keyCount;
      return true;
    }
    if (queue.position >= queue.bytes.size()) return false;
    const auto byte = static_cast<std::uint8_t>(queue.bytes[queue.position++]);
    QueueKeys(queue, DecodeKeyByte(queue.decoder, byte));
  }
}

void AppendKeyBytes(KeyQueue& queue, const char* bytes, std::size_t count) {
  if (queue.position >= queue.bytes.size()) {
    queue.bytes.clear();
    queue.position = 0;
  }
  queue.bytes.append(bytes, count);
}

bool FinishQueuedKeys(KeyQueue& queue) {
  const int before = queue.keyCount;
  QueueKeys(queue, FinishKeyInput(queue.decoder));
  return queue.keyCount > before;
}

bool KeyQueueHoldsKey(const KeyQueue& queue) {
  return queue.keyCount > 0 || queue.position < queue.bytes.size() ||
         KeyInputPending(queue.decoder);
}
