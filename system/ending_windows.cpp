#include "system/ending.h"

#include <windows.h>

namespace {

void (*volatile restoreFunction)() = nullptr;
volatile LONG restored = 0;
LPTOP_LEVEL_EXCEPTION_FILTER previousFilter = nullptr;
bool installed = false;

// Held by the job's thread from HoldEndingEvents to ReleaseEndingEvents; a
// console event waits for it on its own thread, saying so first.
SRWLOCK holdLock = SRWLOCK_INIT;
bool held = false;  // by the job's thread, which alone holds and releases
volatile LONG eventWaiting = 0;

void RestoreOnce() {
  if (InterlockedExchange(&restored, 1) == 0 && restoreFunction != nullptr) restoreFunction();
}

// The system calls this on a new thread of the process for each console
// event. Once a held step is over, the lock is taken and never given back:
// the process ends from here, so no new held step can start meanwhile.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  (void)event;  // Ctrl+C, Ctrl+Break, close, logoff, shutdown: all end the program
  InterlockedExchange(&eventWaiting, 1);
  AcquireSRWLockExclusive(&holdLock);
  RestoreOnce();
  // Not handled: the next handler, the system's own, ends the process.
  return FALSE;
}

// A crash: put the console back, then leave the exception to what was there
// before (the C runtime's handler, then the system's report).
LONG WINAPI OnCrash(EXCEPTION_POINTERS* exception) {
  RestoreOnce();
  return previousFilter != nullptr ? previousFilter(exception) : EXCEPTION_CONTINUE_SEARCH;
}

void InstallHandlers() {
  if (installed) return;
  installed = true;
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  previousFilter = SetUnhandledExceptionFilter(OnCrash);
}

}  // namespace

void RestoreBeforeEnding(void (*restore)()) {
  restoreFunction = restore;
  InstallHandlers();
}

// Without a handler of ours the system would end the process at once: the
// hold installs it (with nothing to restore yet) where no console binding has.
void HoldEndingEvents() {
  if (held) return;
  InstallHandlers();
  AcquireSRWLockExclusive(&holdLock);
  held = true;
}

void ReleaseEndingEvents() {
  if (!held) return;
  held = false;
  ReleaseSRWLockExclusive(&holdLock);
  // An event that waited now ends the process on its own thread; this one
  // goes no further, as a POSIX signal delivered at its release would not.
  if (eventWaiting) Sleep(INFINITE);
}

void RunWithEndingEventsBlocked(void (*step)()) { step(); }

bool EndingEventWaiting() { return held && eventWaiting != 0; }
