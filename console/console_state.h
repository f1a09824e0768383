// The one console of the process: the live screen, the input it reads keys
// from, and how it is attached (headless, plain or terminal).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "console/screen.h"
#include "system/key_decoder.h"

enum class ConsoleMode {
  kUnopened,  // before SetupConsole: keys from standard input, nothing drawn or written
  kHeadless,  // tests: keys from a script, nothing drawn or written
  kPlain,     // standard input or output is not interactive
  kTerminal,  // both are: the console binding shows the screen and gives the keys
};

struct ConsoleState {
  ConsoleMode mode = ConsoleMode::kUnopened;
  bool closed = false;
  Screen screen;

  // While a message box is up in terminal mode: the screen with the box over
  // it, which is shown instead of `screen`.
  bool boxShown = false;
  Screen boxScreen;

  // Key input of plain and headless mode (terminal mode's keys come decoded
  // from the console binding): bytes read but not yet decoded, and keys
  // decoded but not yet used.
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
