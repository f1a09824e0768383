// Threads of the system's own kind: one started for one task, and waited for;
// and the processors the process may run on. The long steps run their tasks
// on them through filter/parallel_tasks.h.
#pragma once

#include <cstdint>

struct ThreadTask {
  void (*task)(void* context, int index);
  void* context;
  int index;
};

// A started thread; kNoThread when it could not be started.
using TaskThread = std::intptr_t;
constexpr TaskThread kNoThread = 0;

// Starts a thread that sets the extended precision mode (processor/precision.h) and
// runs `task`, which must stay in place until JoinTaskThread returns.
TaskThread StartTaskThread(ThreadTask* task);

// Waits for a started thread to finish and frees what it held.
void JoinTaskThread(TaskThread thread);

// The processors the process may run on, as the system reports them (may be
// below 1 when it cannot say).
int ProcessorsOnline();
