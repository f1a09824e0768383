// The one console of the process: the live screen, the input it reads keys
// from, and how it is attached (headless, plain or terminal). Shared by the
// console operations and the terminal code.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "console/key_decoder.h"
#include "console/screen.h"

enum class ConsoleMode {
  kUnopened,  // before SetupConsole: keys from standard input, nothing drawn or written
  kHeadless,  // tests: keys from a script, nothing drawn or written
  kPlain,     // standard input or output is not a terminal
  kTerminal,  // both are terminals: raw keys, alternate screen
};

struct ConsoleState {
  ConsoleMode mode = ConsoleMode::kUnopened;
  bool closed = false;
  Screen screen;

  // Key input: bytes read but not yet decoded, and keys decoded but not yet used.
  KeyDecoder decoder;
  std::string inputBytes;
  std::size_t inputPosition = 0;
  bool inputEnded = false;
  Key pendingKeys[kMaxKeysPerByte];
  int pendingKeyCount = 0;

  std::vector<MessageBoxRecord> messageBoxes;
  int beepCount = 0;
};

ConsoleState& Console();
