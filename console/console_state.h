// The one console of the process: the live screen, the input it reads keys
// from, and how it is attached (headless, plain or terminal).
#pragma once

#include <string>
#include <vector>

#include "console/screen.h"
#include "terminal/key_decoder.h"

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

  // A transient line (progress) laid over what is shown in terminal mode;
  // `screen` itself never holds it. Empty: none.
  std::string transientText;
  int transientRow = 0;  // one-based, as Locate takes them
  int transientColumn = 0;
  int transientForeground = 0;
  int transientBackground = 0;

  // Key input of plain and headless mode, and before SetupConsole (terminal
  // mode's keys come decoded from the console binding), so always decoded as
  // plain input; and whether standard input has ended.
  KeyQueue input{.decoder = {.plainInput = true}};
  bool inputEnded = false;

  std::vector<MessageBoxRecord> messageBoxes;
  // Headless mode only (a long job in a terminal shows thousands): every
  // transient line shown and cleared, in order.
  std::vector<TransientRecord> transientLog;
  int beepCount = 0;
};

ConsoleState& Console();
