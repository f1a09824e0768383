#include "system/console_window.h"

#include <windows.h>

#include "terminal/windows_keys.h"

namespace {

bool IsConsole(DWORD which) {
  HANDLE handle = GetStdHandle(which);
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

}  // namespace

bool ConsoleWindowIsOwn() {
  if (!IsConsole(STD_OUTPUT_HANDLE) || !IsConsole(STD_ERROR_HANDLE)) return false;
  // The count of every process attached, whatever the buffer holds: a shell
  // that started the program is one more.
  DWORD processes[2];
  return GetConsoleProcessList(processes, 2) == 1;
}

void WaitForKeyInConsoleWindow() {
  // The console's own input, which standard input need not be.
  HANDLE input =
      CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  if (input == INVALID_HANDLE_VALUE) return;
  DWORD mode = 0;
  const bool modeKnown = GetConsoleMode(input, &mode) != 0;
  // Raw input: no line editing, no echo, Ctrl+C a key like the others (not
  // processed input); without ENABLE_EXTENDED_FLAGS the mouse selection stays
  // as it was, so that the text can still be copied.
  SetConsoleMode(input, 0);
  FlushConsoleInputBuffer(input);
  for (;;) {
    INPUT_RECORD record;
    DWORD got = 0;
    if (!ReadConsoleInputW(input, &record, 1, &got) || got == 0) break;
    if (record.EventType != KEY_EVENT) continue;
    ConsoleKeyEvent event;
    event.keyDown = record.Event.KeyEvent.bKeyDown != FALSE;
    event.virtualKeyCode = record.Event.KeyEvent.wVirtualKeyCode;
    if (ConsoleEventEndsKeyWait(event)) break;
  }
  if (modeKnown) SetConsoleMode(input, mode);
  CloseHandle(input);
}
