// Turns the bytes a terminal or a pipe sends into key presses: the POSIX
// console binding's keys, and plain input's on every system. Pure: no I/O,
// no clock. The caller feeds bytes one at a time and, when nothing more
// arrives (a short quiet spell on a terminal, or the end of input), calls
// FinishKeyInput so that a lone Escape is taken as Escape. KeyQueue below
// does that feeding for a reader that gets its bytes in blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "terminal/console_frame.h"
#include "text/unicode.h"

// The key presses of the console binding: what a terminal's bytes give, and
// what plain input gives (which alone has kRawByte).
using KeyKind = BoundKeyKind;
using Key = BoundKey;

struct KeyDecoder {
  // Plain input (pipes, files, test scripts): LF and CR LF are Enter too, and
  // bytes that are not valid UTF-8 are handed out as they stand (kRawByte)
  // instead of being dropped.
  bool plainInput = false;

  // Decoding state; starts in the ground state.
  std::uint8_t state = 0;
  Utf8Decoder utf8 = {};           // the character under way
  std::uint8_t utf8Bytes[4] = {};  // its bytes so far
  std::uint8_t utf8Length = 0;
  bool utf8Ignore = false;  // the character is the tail of Alt+key
  std::uint16_t sequenceLength = 0;
  bool lastWasCarriageReturn = false;
};

// The most keys one byte can complete: the three bytes of a broken UTF-8
// character handed out as raw bytes, then the key of the byte that broke it.
constexpr int kMaxKeysPerByte = 4;

// What one byte completed: none, one key, or more (an Escape that turned out
// to be alone, then the control key that followed it; or the bytes of a broken
// UTF-8 character in plain input, then the key of the byte that broke it).
struct DecodedKeys {
  Key keys[kMaxKeysPerByte];
  int count = 0;
};

// Feeds one byte. A byte that breaks an unfinished sequence ends that
// sequence (dropped from a terminal, raw bytes from plain input) and is then
// decoded on its own, so no key is lost to a malformed prefix.
DecodedKeys DecodeKeyByte(KeyDecoder& decoder, std::uint8_t byte);

// True while the bytes so far could still become a longer key (an Escape that
// may start a sequence, an unfinished UTF-8 character or sequence).
bool KeyInputPending(const KeyDecoder& decoder);

// No more bytes follow for now: a pending lone Escape becomes Escape, an
// unfinished sequence is dropped (kIgnored), and an unfinished character of
// plain input gives its bytes as raw bytes.
DecodedKeys FinishKeyInput(KeyDecoder& decoder);

// Key input read in blocks and handed out one key at a time: the bytes read
// but not yet decoded, and the keys one byte completed but not yet taken.
// The reader owns the waiting: it appends what it reads, takes keys until
// none is left, and finishes the queue when nothing more comes. Every member
// has an initialiser, so that a queue written as {.decoder = ...} leaves none unset.
struct KeyQueue {
  KeyDecoder decoder;
  std::string bytes = {};
  std::size_t position = 0;  // the first byte of `bytes` not yet decoded
  Key keys[kMaxKeysPerByte] = {};
  int keyCount = 0;
  bool keyQueuedBefore = false;  // a byte-order mark counts only as the first key of plain input
};

// The oldest key the queued bytes give, decoding only as far as needed. A
// byte-order mark at the very start of plain input (Windows editors begin
// their UTF-8 files with one) gives no key.
// False, with every byte decoded, when they give no more keys for now.
bool TakeQueuedKey(KeyQueue& queue, Key& key);

// Appends bytes read. The bytes already decoded are let go first when all of
// them are, so that the buffer does not grow over a long session.
void AppendKeyBytes(KeyQueue& queue, const char* bytes, std::size_t count);

// Nothing more arrives for now (a quiet spell) or ever (the end of input),
// and TakeQueuedKey has given every key: FinishKeyInput on the decoder, its
// keys queued. True when it queued a key.
bool FinishQueuedKeys(KeyQueue& queue);

// True when the queue may give a key press without another byte: a key
// decoded already, bytes not yet decoded, or an unfinished key (a quiet
// spell finishes it into one).
bool KeyQueueHoldsKey(const KeyQueue& queue);
