#include "filter/parallel_tasks.h"

#include <algorithm>

#include "system/threads.h"

int WorkerThreadCount() { return std::clamp(ProcessorsOnline(), 1, kMaxWorkerThreads); }

void RunTasksInParallel(int count, void (*task)(void* context, int index), void* context) {
  if (count <= 0) return;
  if (count > kMaxWorkerThreads) count = kMaxWorkerThreads;
  ThreadTask tasks[kMaxWorkerThreads];
  TaskThread threads[kMaxWorkerThreads] = {};
  for (int i = 1; i < count; ++i) {
    tasks[i] = ThreadTask{task, context, i};
    threads[i] = StartTaskThread(&tasks[i]);
  }
  task(context, 0);
  for (int i = 1; i < count; ++i) {
    if (threads[i] != kNoThread) {
      JoinTaskThread(threads[i]);
    } else {
      task(context, i);
    }
  }
}
