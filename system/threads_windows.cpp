#include "system/threads.h"

#include <windows.h>

#include <process.h>

#include "system/precision.h"

namespace {

struct Slot {
  void (*task)(void*, int);
  void* context;
  int index;
};

// Threads are started through the C runtime (_beginthreadex), not bare
// CreateThread, so that the runtime's per-thread data is set up and freed.
// Windows starts each thread with the system's default x87 control word
// (53-bit significand on x64), not the creator's: the mode is set here.
unsigned __stdcall RunSlot(void* argument) {
  SetExtendedPrecisionMode();
  Slot* slot = static_cast<Slot*>(argument);
  slot->task(slot->context, slot->index);
  return 0;
}

}  // namespace

int WorkerThreadCount() {
  const DWORD online = GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
  if (online < 1) return 1;
  return online > kMaxWorkerThreads ? kMaxWorkerThreads : static_cast<int>(online);
}

void RunTasksInParallel(int count, void (*task)(void* context, int index), void* context) {
  if (count <= 0) return;
  if (count > kMaxWorkerThreads) count = kMaxWorkerThreads;
  Slot slots[kMaxWorkerThreads];
  HANDLE threads[kMaxWorkerThreads] = {};
  for (int i = 1; i < count; ++i) {
    slots[i] = Slot{task, context, i};
    threads[i] = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, RunSlot, &slots[i], 0, nullptr));
  }
  task(context, 0);
  for (int i = 1; i < count; ++i) {
    if (threads[i] != nullptr) {
      WaitForSingleObject(threads[i], INFINITE);
      CloseHandle(threads[i]);
    } else {
      task(context, i);
    }
  }
}
