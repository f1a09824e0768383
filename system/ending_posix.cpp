#include "system/ending.h"

#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <cstring>

namespace {

// Signals that ask the program to end, and signals of a crash.
constexpr int kEndingSignals[] = {SIGTERM, SIGHUP, SIGINT, SIGQUIT};
constexpr int kCrashSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};

void (*volatile restoreFunction)() = nullptr;
volatile sig_atomic_t restored = 0;
sigset_t heldPrevious;

void OnEndingSignal(int signalNumber) {
  const int savedErrno = errno;
  if (!restored && restoreFunction != nullptr) {
    restored = 1;
    restoreFunction();
  }
  // The handler was reset to the default action on entry (SA_RESETHAND):
  // raising the signal again ends the process the way the signal means.
  raise(signalNumber);
  errno = savedErrno;
}

sigset_t EndingSet() {
  sigset_t set;
  sigemptyset(&set);
  for (int signalNumber : kEndingSignals) sigaddset(&set, signalNumber);
  return set;
}

}  // namespace

void RestoreBeforeEnding(void (*restore)()) {
  restoreFunction = restore;
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  sigemptyset(&action.sa_mask);
  action.sa_handler = OnEndingSignal;
  action.sa_flags = SA_RESETHAND;
  for (int signalNumber : kEndingSignals) sigaction(signalNumber, &action, nullptr);
  for (int signalNumber : kCrashSignals) sigaction(signalNumber, &action, nullptr);
}

void HoldEndingEvents() {
  const sigset_t ending = EndingSet();
  pthread_sigmask(SIG_BLOCK, &ending, &heldPrevious);
}

void ReleaseEndingEvents() { pthread_sigmask(SIG_SETMASK, &heldPrevious, nullptr); }
