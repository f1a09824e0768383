#include <pthread.h>
#include <unistd.h>

#include "processor/precision.h"
#include "system/threads.h"

namespace {

void* RunTask(void* argument) {
  SetExtendedPrecisionMode();
  const ThreadTask* task = static_cast<const ThreadTask*>(argument);
  task->task(task->context, task->index);
  return nullptr;
}

}  // namespace

TaskThread StartTaskThread(ThreadTask* task) {
  static_assert(sizeof(pthread_t) <= sizeof(TaskThread), "a thread id must fit a TaskThread");
  pthread_t thread;
  if (pthread_create(&thread, nullptr, RunTask, task) != 0) return kNoThread;
  return static_cast<TaskThread>(thread);
}

void JoinTaskThread(TaskThread thread) { pthread_join(static_cast<pthread_t>(thread), nullptr); }

int ProcessorsOnline() { return static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN)); }
