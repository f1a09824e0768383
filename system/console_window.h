// The console window that Windows opens for a console program started from
// Explorer (a double-click, or files dropped on its icon): the program's own,
// closed the moment the program ends, and with it whatever the program wrote
// there. POSIX has no such window: a terminal outlives the programs run in it.
#pragma once

// True when standard output and standard error are both shown in a console
// window that closes with the program: no other process is attached to the
// console, as to the window Explorer opens. False in a console shared with a
// shell, when either stream goes to a file or a pipe, and always on POSIX.
bool ConsoleWindowIsOwn();

// Waits for a key press in the console, whatever standard input is: any key
// but Shift, Ctrl, Alt, Caps Lock, Num Lock or Scroll Lock alone; keys typed
// before the call do not count. Returns at once where there is no console
// (POSIX).
void WaitForKeyInConsoleWindow();
