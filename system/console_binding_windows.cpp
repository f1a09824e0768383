#include "system/console_binding.h"

#include <windows.h>

#include "system/ending.h"
#include "system/windows_resources.h"
#include "terminal/windows_frame.h"
#include "terminal/windows_keys.h"

namespace {

// What the console was before, to be put back.
struct SavedConsole {
  HANDLE input = INVALID_HANDLE_VALUE;
  HANDLE output = INVALID_HANDLE_VALUE;  // the original screen buffer
  DWORD inputMode = 0;
  DWORD outputMode = 0;
  CONSOLE_CURSOR_INFO cursor = {25, TRUE};
  wchar_t title[1024] = {};
  HWND window = nullptr;
  HICON bigIcon = nullptr;
  HICON smallIcon = nullptr;
};

SavedConsole saved;
HANDLE screen = INVALID_HANDLE_VALUE;  // our own screen buffer
volatile LONG bindingOpen = 0;

ConsoleKeyDecoder decoder;
BoundKey repeatedKey;
int repeatsLeft = 0;
CHAR_INFO frame[kConsoleRows * kConsoleColumns];

static_assert(sizeof(CHAR_INFO) == sizeof(ConsoleCharInfo),
              "CHAR_INFO is a UTF-16 unit and a WORD");

ConsoleKeyEvent EventOf(const KEY_EVENT_RECORD& record) {
  ConsoleKeyEvent event;
  event.keyDown = record.bKeyDown != FALSE;
  event.repeatCount = record.wRepeatCount;
  event.virtualKeyCode = record.wVirtualKeyCode;
  event.character = static_cast<char16_t>(record.uChar.UnicodeChar);
  event.controlKeyState = record.dwControlKeyState;
  return event;
}

// Sizes our buffer to the layout: the window must always fit inside the
// buffer, so it is made as small as can be first, then the buffer is set,
// then the window grown to the buffer (or as far as the display allows).
void SizeScreen() {
  SMALL_RECT smallest = {0, 0, 0, 0};
  SetConsoleWindowInfo(screen, TRUE, &smallest);
  SetConsoleScreenBufferSize(screen, COORD{kConsoleColumns, kConsoleRows});
  const COORD largest = GetLargestConsoleWindowSize(screen);
  const SHORT columns = largest.X > 0 && largest.X < kConsoleColumns ? largest.X : kConsoleColumns;
  const SHORT rows = largest.Y > 0 && largest.Y < kConsoleRows ? largest.Y : kConsoleRows;
  SMALL_RECT window = {0, 0, static_cast<SHORT>(columns - 1), static_cast<SHORT>(rows - 1)};
  SetConsoleWindowInfo(screen, TRUE, &window);
}

// The program's icon in the size that the two metrics give; the standard
// application icon (IDI_APPLICATION) where the program has none (the test
// programs).
LPARAM ProgramIcon(int widthMetric, int heightMetric) {
  HANDLE icon =
      LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(OSTRIVALE_ICON_RESOURCE), IMAGE_ICON,
                 GetSystemMetrics(widthMetric), GetSystemMetrics(heightMetric), LR_DEFAULTCOLOR);
  if (icon == nullptr) icon = LoadIconW(nullptr, MAKEINTRESOURCEW(32512));
  return reinterpret_cast<LPARAM>(icon);
}

// The window of the console, where there is one (not under every host): the
// program's icon, and no Restore, Size or Maximize in its menu so that the
// layout keeps its size. A console that Windows opened for the program
// (started from Explorer) shows the program's icon already; one that it
// shares with a command prompt shows the prompt's until this.
void DressWindow() {
  saved.window = GetConsoleWindow();
  if (saved.window == nullptr) return;
  const LPARAM switcherIcon = ProgramIcon(SM_CXICON, SM_CYICON);      // Alt+Tab
  const LPARAM titleBarIcon = ProgramIcon(SM_CXSMICON, SM_CYSMICON);  // title bar, taskbar
  saved.bigIcon =
      reinterpret_cast<HICON>(SendMessageW(saved.window, WM_SETICON, ICON_BIG, switcherIcon));
  saved.smallIcon =
      reinterpret_cast<HICON>(SendMessageW(saved.window, WM_SETICON, ICON_SMALL, titleBarIcon));
  HMENU menu = GetSystemMenu(saved.window, FALSE);
  if (menu != nullptr) {
    DeleteMenu(menu, SC_RESTORE, MF_BYCOMMAND);
    DeleteMenu(menu, SC_SIZE, MF_BYCOMMAND);
    DeleteMenu(menu, SC_MAXIMIZE, MF_BYCOMMAND);
  }
}

void RestoreConsole() {
  if (InterlockedExchange(&bindingOpen, 0) == 0) return;
  // Back to the user's own buffer: their screen, cursor and window size.
  SetConsoleActiveScreenBuffer(saved.output);
  // The cursor as it was, set again although that buffer kept it: a console
  // drawn on a terminal (wine's) shows the change of buffer only through
  // what is set afterwards, and would leave the cursor hidden.
  SetConsoleCursorInfo(saved.output, &saved.cursor);
  SetConsoleMode(saved.input, saved.inputMode);
  SetConsoleMode(saved.output, saved.outputMode);
  SetConsoleTitleW(saved.title);
  if (saved.window != nullptr) {
    GetSystemMenu(saved.window, TRUE);  // the menu as the system made it
    // Posted, not sent: this may run on the ending handler's thread while the
    // console's host waits for us, and must not wait for it in turn.
    PostMessageW(saved.window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(saved.bigIcon));
    PostMessageW(saved.window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(saved.smallIcon));
  }
  CloseHandle(screen);
  screen = INVALID_HANDLE_VALUE;
}

}  // namespace

bool OpenConsoleBinding() {
  if (bindingOpen) return true;
  saved.input = GetStdHandle(STD_INPUT_HANDLE);
  saved.output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (!GetConsoleMode(saved.input, &saved.inputMode) ||
      !GetConsoleMode(saved.output, &saved.outputMode))
    return false;
  screen =
      CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, CONSOLE_TEXTMODE_BUFFER, nullptr);
  if (screen == INVALID_HANDLE_VALUE) return false;
  if (GetConsoleTitleW(saved.title, 1024) == 0) saved.title[0] = L'\0';
  if (!GetConsoleCursorInfo(saved.output, &saved.cursor))
    saved.cursor = CONSOLE_CURSOR_INFO{25, TRUE};

  bindingOpen = 1;  // from here on every way out puts the console back
  RestoreBeforeEnding(RestoreConsole);
  SizeScreen();
  SetConsoleActiveScreenBuffer(screen);
  SetConsoleTitleW(L"Ostrivale");
  DressWindow();
  // Input: no processed input (Ctrl+C arrives as a key, not as an event), no
  // line editing, no echo, no mouse or window events, no selection with the
  // mouse (quick edit would freeze the program's output while selecting);
  // ENABLE_EXTENDED_FLAGS is what makes the quick-edit bit count.
  SetConsoleMode(saved.input, ENABLE_EXTENDED_FLAGS);
  return true;
}

void ShowConsoleFrame(const FrameCell* cells, int cursorRow, int cursorColumn, bool cursorVisible) {
  if (!bindingOpen) return;
  BuildConsoleCharInfo(cells, kConsoleRows, kConsoleColumns,
                       reinterpret_cast<ConsoleCharInfo*>(frame));
  SMALL_RECT region = {0, 0, kConsoleColumns - 1, kConsoleRows - 1};
  WriteConsoleOutputW(screen, frame, COORD{kConsoleColumns, kConsoleRows}, COORD{0, 0}, &region);
  CONSOLE_CURSOR_INFO cursor = {25, cursorVisible ? TRUE : FALSE};
  SetConsoleCursorInfo(screen, &cursor);
  SetConsoleCursorPosition(screen,
                           COORD{static_cast<SHORT>(cursorColumn), static_cast<SHORT>(cursorRow)});
}

namespace {

// The key press of one input record, if it is one (the repeats of a held
// key are handed out by the next calls).
bool KeyOfRecord(const INPUT_RECORD& record, BoundKey& key) {
  if (record.EventType != KEY_EVENT) return false;
  const DecodedConsoleKey decoded = DecodeConsoleKeyEvent(decoder, EventOf(record.Event.KeyEvent));
  if (decoded.key.kind == BoundKeyKind::kNone) return false;
  repeatedKey = decoded.key;
  repeatsLeft = decoded.repeat - 1;
  key = decoded.key;
  return true;
}

bool TakeRepeat(BoundKey& key) {
  if (repeatsLeft <= 0) return false;
  --repeatsLeft;
  key = repeatedKey;
  return true;
}

}  // namespace

bool ReadConsoleKey(BoundKey& key) {
  if (TakeRepeat(key)) return true;
  for (;;) {
    INPUT_RECORD record;
    DWORD got = 0;
    if (!ReadConsoleInputW(saved.input, &record, 1, &got) || got == 0) return false;
    if (KeyOfRecord(record, key)) return true;
  }
}

bool TakeWaitingConsoleKey(BoundKey& key) {
  if (TakeRepeat(key)) return true;
  for (;;) {
    DWORD waiting = 0;
    if (!GetNumberOfConsoleInputEvents(saved.input, &waiting) || waiting == 0) return false;
    INPUT_RECORD record;
    DWORD got = 0;
    if (!ReadConsoleInputW(saved.input, &record, 1, &got) || got == 0) return false;
    if (KeyOfRecord(record, key)) return true;
  }
}

bool WaitForConsoleKey() {
  if (repeatsLeft > 0) return true;
  for (;;) {
    INPUT_RECORD record;
    DWORD got = 0;
    if (!PeekConsoleInputW(saved.input, &record, 1, &got)) return false;
    if (got == 0) {
      if (WaitForSingleObject(saved.input, INFINITE) != WAIT_OBJECT_0) return false;
      continue;
    }
    if (record.EventType == KEY_EVENT && ConsoleEventEndsKeyWait(EventOf(record.Event.KeyEvent)))
      return true;
    if (!ReadConsoleInputW(saved.input, &record, 1, &got)) return false;
  }
}

void CloseConsoleBinding() { RestoreConsole(); }
