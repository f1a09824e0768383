#include "system/ending.h"

#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <cstring>

namespace {

// Every signal whose default action ends the process, other than a fault of
// the program's own: each is held while a hidden output name exists, and
// puts the terminal back before it ends the program. The real-time signals
// SIGRTMIN to SIGRTMAX end it too; their numbers are known only at run time
// (ForEachEndingSignal adds them).
//
// PIPE: the program's own writes never raise it. A standard stream ignores
// it before its first write (plain mode's final screen into a closed pipe
// fails as a write), a terminal that is gone fails writes with EIO and sends
// HUP, and the output is a regular file. So it comes only from another
// process, and is an ending signal like USR1 until a standard stream has
// been written; from then on it is ignored, and an ignored signal ends
// nothing.
// XFSZ keeps meaning a failed write: files_posix.cpp ignores it while an
// output file is open, so that it never ends a write; before and after, it
// ends the program like the others.
constexpr int kEndingSignals[] = {
    SIGTERM,   SIGHUP,    SIGINT,  SIGQUIT,  // asked to end; a closed terminal sends HUP
    SIGUSR1,   SIGUSR2,                      // for programs that take them: this one does not
    SIGALRM,   SIGVTALRM, SIGPROF,           // timers this program never sets
    SIGXCPU,   SIGXFSZ,                      // the CPU time and file size limits
    SIGPIPE,                                 // see above
    SIGIO,  // (POLL) signal-driven input this program never asks for
#ifdef SIGPWR
    SIGPWR,  // power failing (Linux)
#endif
#ifdef SIGSTKFLT
    SIGSTKFLT,  // unused by Linux itself; sent by kill alone
#endif
};
// Faults of the program itself: not held (a fault cannot wait: blocked, it
// ends the process at once), only the terminal put back.
constexpr int kCrashSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP, SIGSYS};

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

template <typename Each>
void ForEachEndingSignal(Each each) {
  for (const int signalNumber : kEndingSignals) each(signalNumber);
  for (int signalNumber = SIGRTMIN; signalNumber <= SIGRTMAX; ++signalNumber) each(signalNumber);
}

bool IsIgnored(int signalNumber) {
  struct sigaction action {};
  return sigaction(signalNumber, nullptr, &action) == 0 && action.sa_handler == SIG_IGN;
}

sigset_t EndingSet() {
  sigset_t set;
  sigemptyset(&set);
  ForEachEndingSignal([&set](int signalNumber) { sigaddset(&set, signalNumber); });
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
  // An ending signal ignored from the start (nohup, a shell that ignores it
  // for a background job) stays ignored: it ends nothing, so there is
  // nothing to put back. A fault ends the program ignored or not.
  ForEachEndingSignal([&action](int signalNumber) {
    if (!IsIgnored(signalNumber)) sigaction(signalNumber, &action, nullptr);
  });
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
  // An ignored signal (nohup; XFSZ while the output is open) stays pending
  // while held but ends nothing.
  bool waiting = false;
  ForEachEndingSignal([&](int signalNumber) {
    waiting = waiting || (sigismember(&pending, signalNumber) == 1 && !IsIgnored(signalNumber));
  });
  return waiting;
}
