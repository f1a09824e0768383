#include <windows.h>

#include <process.h>

#include "processor/precision.h"
#include "system/threads.h"

namespace {

// Threads are started through the C runtime (_beginthreadex), not bare
// CreateThread, so that the runtime's per-thread data is set up and freed.
// Windows starts each thread with the system's default x87 control word
// (53-bit significand on x64), not the creator's: the mode is set here.
unsigned __stdcall RunTask(void* argument) {
  SetExtendedPrecisionMode();
  const ThreadTask* task = static_cast<const ThreadTask*>(argument);
  task->task(task->context, task->index);
  return 0;
}

}  // namespace

TaskThread StartTaskThread(ThreadTask* task) {
  // _beginthreadex gives 0 when the thread cannot be started.
  return static_cast<TaskThread>(_beginthreadex(nullptr, 0, RunTask, task, 0, nullptr));
}

void JoinTaskThread(TaskThread thread) {
  const HANDLE handle = reinterpret_cast<HANDLE>(thread);
  WaitForSingleObject(handle, INFINITE);
  CloseHandle(handle);
}

int ProcessorsOnline() { return static_cast<int>(GetActiveProcessorCount(ALL_PROCESSOR_GROUPS)); }
