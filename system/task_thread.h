// What a thread of RunTasksInParallel needs of each system: starting one
// thread for one task and waiting for it. Used by threads.cpp only.
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

// Starts a thread that sets the extended precision mode (precision.h) and
// runs `task`, which must stay in place until JoinTaskThread returns.
TaskThread StartTaskThread(ThreadTask* task);

// Waits for a started thread to finish and frees what it held.
void JoinTaskThread(TaskThread thread);

// The processors the process may run on, as the system reports them (may be
// below 1 when it cannot say).
int ProcessorsOnline();
