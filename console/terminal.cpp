#include "console/terminal.h"

// Placeholder until the terminal drawing lands: the console runs plain.
bool TerminalOpen() { return false; }
void TerminalRefresh() {}
bool TerminalReadInput(ConsoleState&) { return false; }
void TerminalBeep() {}
void TerminalPause(int) {}
void TerminalMessageBox(std::string_view, std::string_view) {}
void TerminalClose() {}
