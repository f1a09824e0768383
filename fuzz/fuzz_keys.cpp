// Fuzzes the key decoder in both flavours: plain input (pipes, files) and
// terminal input. The first input byte chooses the flavour and where quiet
// spells fall (FinishKeyInput, as after a lone Escape on a terminal); the
// rest are the key bytes.
//
// What must hold: a byte completes at most four keys; more than one only as a
// lone Escape followed by a control key, or (plain input) as the raw bytes of
// a broken UTF-8 character followed by the key of the byte that broke it; a
// character key is U+0020-U+007E or U+00A0-U+10FFFF without the surrogates,
// a raw byte 0x80-0xFF and only from plain input, and a control key below
// 0x20 (never Enter, Backspace or Escape themselves); no sequence stays
// unfinished for more than a bounded number of bytes, so input can never be
// swallowed for good; after a quiet spell the decoder is back in its ground
// state and a printable byte is that character.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "terminal/key_decoder.h"

namespace {

// The longest run of bytes that may leave a key unfinished: an escape
// sequence is cut off after 32 bytes, a UTF-8 character after 4.
constexpr int kLongestPendingRun = 34;

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

void CheckKey(const Key& key, bool plain) {
  switch (key.kind) {
    case KeyKind::kCharacter:
      Check((key.code >= 0x20 && key.code <= 0x7E) || (key.code >= 0xA0 && key.code <= 0x10FFFF &&
                                                       (key.code < 0xD800 || key.code > 0xDFFF)),
            "a character is U+0020-U+007E or U+00A0-U+10FFFF, no surrogate");
      break;
    case KeyKind::kRawByte:
      Check(plain && key.code >= 0x80 && key.code <= 0xFF,
            "raw bytes only from plain input, 0x80-0xFF");
      break;
    case KeyKind::kControl:
      Check(key.code < 0x20, "a control key is below 0x20");
      Check(key.code != 0x0D && key.code != 0x08 && key.code != 0x1B,
            "Enter, Backspace and Escape have kinds of their own");
      Check(!(plain && key.code == 0x0A), "a line feed is Enter in plain input");
      break;
    case KeyKind::kEnter:
    case KeyKind::kBackspace:
    case KeyKind::kEscape:
    case KeyKind::kIgnored:
      break;
    case KeyKind::kNone:
    default:
      Check(false, "only real keys are handed out");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t control = data[0];
  KeyDecoder decoder;
  decoder.plainInput = (control & 1) != 0;
  const bool plain = decoder.plainInput;
  // A quiet spell after every `spacing` bytes (0: only at the end).
  const unsigned spacing = (control >> 1) & 0x1F;

  int pendingRun = 0;
  for (std::size_t i = 1; i < size; ++i) {
    const std::uint8_t byte = data[i];
    const bool ground = !KeyInputPending(decoder);
    const bool afterCarriageReturn = decoder.lastWasCarriageReturn;
    const DecodedKeys keys = DecodeKeyByte(decoder, byte);
    Check(keys.count >= 0 && keys.count <= kMaxKeysPerByte, "at most four keys a byte");
    if (keys.count >= 2) {
      Check((keys.count == 2 && keys.keys[0].kind == KeyKind::kEscape) ||
                (plain && keys.keys[0].kind == KeyKind::kRawByte),
            "more keys: a lone Escape or the raw bytes of a broken character first");
    }
    for (int k = 0; k < keys.count; ++k) CheckKey(keys.keys[k], plain);

    // In the ground state a printable ASCII byte is that character at once.
    if (ground && byte >= 0x20 && byte <= 0x7E) {
      Check(
          keys.count == 1 && keys.keys[0].kind == KeyKind::kCharacter && keys.keys[0].code == byte,
          "printable byte in the ground state");
    }
    if (ground && byte == 0x0D) {
      Check(keys.count == 1 && keys.keys[0].kind == KeyKind::kEnter, "carriage return is Enter");
    }
    if (ground && plain && byte == 0x0A) {
      Check(keys.count == (afterCarriageReturn ? 0 : 1), "CR LF is one Enter, LF alone one");
    }

    // An Escape or a UTF-8 lead byte starts a new key of its own.
    const bool starts = byte == 0x1B || (byte >= 0xC2 && byte <= 0xF4);
    pendingRun = !KeyInputPending(decoder) ? 0 : (starts ? 1 : pendingRun + 1);
    Check(pendingRun <= kLongestPendingRun, "no sequence swallows input for good");

    if (spacing != 0 && i % spacing == 0) {
      const bool wasPending = KeyInputPending(decoder);
      const DecodedKeys last = FinishKeyInput(decoder);
      Check(!KeyInputPending(decoder), "a quiet spell ends every sequence");
      Check(wasPending || last.count == 0, "nothing pending gives no key");
      for (int k = 0; k < last.count; ++k) CheckKey(last.keys[k], plain);
      pendingRun = 0;
    }
  }
  const DecodedKeys last = FinishKeyInput(decoder);
  for (int k = 0; k < last.count; ++k) CheckKey(last.keys[k], plain);
  Check(!KeyInputPending(decoder), "the end of input ends every sequence");

  // After all that, the decoder still types: Latin-1 characters arrive whole.
  const std::uint8_t letter = static_cast<std::uint8_t>(0xA0 | (control & 0x1F));
  DecodedKeys keys = DecodeKeyByte(decoder, static_cast<std::uint8_t>(0xC0 | (letter >> 6)));
  Check(keys.count == 0, "a lead byte waits");
  keys = DecodeKeyByte(decoder, static_cast<std::uint8_t>(0x80 | (letter & 0x3F)));
  Check(keys.count == 1 && keys.keys[0].kind == KeyKind::kCharacter && keys.keys[0].code == letter,
        "a Latin-1 character in UTF-8 is that character");
  return 0;
}
