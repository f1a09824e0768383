// Terminal mode: raw keys, the alternate screen, and the screen model drawn
// on it. Used by the console operations when standard input and output are
// both terminals.
#pragma once

#include <string_view>

#include "console/console_state.h"

// Raw mode, alternate screen, title, size request, restore handlers.
// False when the terminal cannot be put in raw mode (the console then runs plain).
bool TerminalOpen();
// Sends the cells that changed since the last refresh, in one write.
void TerminalRefresh();
// Waits for key bytes (redrawing on a resize meanwhile) and appends them to
// the console's input buffer. False when the terminal has gone away.
bool TerminalReadInput(ConsoleState& console);
void TerminalBeep();
void TerminalPause(int milliseconds);
void TerminalMessageBox(std::string_view text, std::string_view title);
// Colours reset, cursor shown, main screen back, modes as before, typed keys
// still waiting discarded.
void TerminalClose();
