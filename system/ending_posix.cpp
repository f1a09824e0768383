#include "system/ending.h"

#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <cstring>

namespace {

// Signals that ask the program to end (a closed terminal sends HUP), and
// signals of a crash.
constexpr int kEndingSignals[] = {SIGTERM, SIGHUP, SIGINT, SIGQUIT};
constexpr int kCrashSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};

void (*volatile restoreFunction)() = nullptr;
volatile sig_atomic_t restored = 0;
sigset_t maskBeforeHolding;
bool held = false;

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

// Blocked on the calling thread, and so on every thread it starts meanwhile;
// a blocked signal stays pending and is delivered when the mask is restored.
void HoldEndingEvents() {
  if (held) return;
  const sigset_t ending = EndingSet();
  pthread_sigmask(SIG_BLOCK, &ending, &maskBeforeHolding);
  held = true;
}

void ReleaseEndingEvents() {
  if (!held) return;
  held = false;
  pthread_sigmask(SIG_SETMASK, &maskBeforeHolding, nullptr);
}

void RunWithEndingEventsBlocked(void (*step)()) {
  const sigset_t ending = EndingSet();
  sigset_t before;
  pthread_sigmask(SIG_BLOCK, &ending, &before);
  step();
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

bool EndingEventWaiting() {
  sigset_t pending;
  if (!held || sigpending(&pending) != 0) return false;
  for (int signalNumber : kEndingSignals) {
    if (!sigismember(&pending, signalNumber)) continue;
    // An ignored signal (nohup) stays pending while held but ends nothing.
    struct sigaction action {};
    if (sigaction(signalNumber, nullptr, &action) == 0 && action.sa_handler != SIG_IGN) return true;
  }
  return false;
}
