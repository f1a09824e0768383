// Terminal mode: raw keys, the alternate screen, and the screen model drawn
// on it. Used by the console operations when standard input and output are
// both terminals.
#pragma once

#include <string_view>

#include "console/console_state.h"

// Raw mode, alternate screen, title, size request, restore handlers.
// False when the terminal cannot be put in raw mode (the console then runs plain).
bool TerminalOpen();
// Sends what changed on the screen since the last refresh, in one write.
void TerminalRefresh();

enum class TerminalInput { kBytes, kQuiet, kEnded };
// Refreshes, waits for key bytes (redrawing after a resize meanwhile) and
// appends them to the console's input buffer. With `quietEndsKey` (a key may
// be unfinished) gives up after a short quiet spell: kQuiet. kEnded: the
// terminal has gone.
TerminalInput TerminalReadInput(ConsoleState& console, bool quietEndsKey);
// Refreshes and returns once key bytes are waiting, leaving them unread.
void TerminalWaitForKey();
// Refreshes, then rings the bell.
void TerminalBeep();
// Refreshes, then sleeps.
void TerminalPause(int milliseconds);
// Draws the message box over the screen (and again after a resize) until
// TerminalCloseMessageBox brings back what was under it.
void TerminalShowMessageBox(std::string_view text, std::string_view title);
void TerminalCloseMessageBox();
// Colours reset, cursor shown, main screen back, modes as before, typed keys
// still waiting discarded.
void TerminalClose();
