#include "system/console_window.h"

bool ConsoleWindowIsOwn() { return false; }

void WaitForKeyInConsoleWindow() {}
