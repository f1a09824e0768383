// Ending events: the restore runs before the program ends, and an event that
// arrives while held waits for the release.
#include <gtest/gtest.h>

#include <cstdio>

#include "system/alert.h"
#include "system/ending.h"
#include "system/standard_streams.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#endif

namespace {

void WriteRestored() { WriteStandardError("restored\n"); }

// Sends the program an ending event from outside as the system would.
void SendEndingEvent() {
#ifdef _WIN32
  GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, 0);
#else
  raise(SIGTERM);
#endif
}

[[noreturn]] void HeldThenReleased() {
  RestoreBeforeEnding(WriteRestored);
  HoldEndingEvents();
  SendEndingEvent();
  PauseMilliseconds(200);
  WriteStandardError("still here\n");
  ReleaseEndingEvents();
  PauseMilliseconds(5000);
  WriteStandardError("not ended\n");
  std::_Exit(0);
}

#ifdef _WIN32
// The event goes to every process of the console, this one included: it
// must not end the test program itself.
BOOL WINAPI IgnoreEvent(DWORD) { return TRUE; }

TEST(EndingEventsDeathTest, HeldEventEndsTheProgramOnceReleasedAfterTheRestore) {
  // wine 8 refuses GenerateConsoleCtrlEvent (ERROR_INVALID_HANDLE with a
  // console, ERROR_INVALID_ACCESS without one); it delivers Ctrl+C typed in a
  // terminal, which a test cannot type.
  if (GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr) {
    GTEST_SKIP() << "wine cannot send console events";
  }
  SetConsoleCtrlHandler(IgnoreEvent, TRUE);
  EXPECT_EXIT(HeldThenReleased(),
              ::testing::ExitedWithCode(static_cast<int>(STATUS_CONTROL_C_EXIT)),
              "still here\r\nrestored\r\n");
  SetConsoleCtrlHandler(IgnoreEvent, FALSE);
}
#else
TEST(EndingEventsDeathTest, HeldEventEndsTheProgramOnceReleasedAfterTheRestore) {
  EXPECT_EXIT(HeldThenReleased(), ::testing::KilledBySignal(SIGTERM), "still here\nrestored\n");
}

void StepInterrupted() {
  WriteStandardError("step ");
  raise(SIGTERM);
  WriteStandardError("done\n");
}

[[noreturn]] void BlockedStep(bool insideHold) {
  RestoreBeforeEnding(WriteRestored);
  if (insideHold) HoldEndingEvents();
  RunWithEndingEventsBlocked(StepInterrupted);
  WriteStandardError("after the step\n");
  ReleaseEndingEvents();
  WriteStandardError("not ended\n");
  std::_Exit(0);
}

// The signal waits for the step's end, then ends the program at once; inside
// a hold it goes on waiting for the release.
TEST(EndingEventsDeathTest, EventDuringABlockedStepComesAfterIt) {
  EXPECT_EXIT(BlockedStep(false), ::testing::KilledBySignal(SIGTERM), "step done\nrestored\n");
  EXPECT_EXIT(BlockedStep(true), ::testing::KilledBySignal(SIGTERM),
              "step done\nafter the step\nrestored\n");
}
#endif

}  // namespace
