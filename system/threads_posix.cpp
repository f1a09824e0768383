#include "system/threads.h"

#include <pthread.h>
#include <unistd.h>

#include "system/precision.h"

namespace {

struct Slot {
  void (*task)(void*, int);
  void* context;
  int index;
};

void* RunSlot(void* argument) {
  SetExtendedPrecisionMode();
  Slot* slot = static_cast<Slot*>(argument);
  slot->task(slot->context, slot->index);
  return nullptr;
}

}  // namespace

int WorkerThreadCount() {
  const long online = sysconf(_SC_NPROCESSORS_ONLN);
  if (online < 1) return 1;
  return online > kMaxWorkerThreads ? kMaxWorkerThreads : static_cast<int>(online);
}

void RunTasksInParallel(int count, void (*task)(void* context, int index), void* context) {
  if (count <= 0) return;
  if (count > kMaxWorkerThreads) count = kMaxWorkerThreads;
  Slot slots[kMaxWorkerThreads];
  pthread_t threads[kMaxWorkerThreads];
  bool started[kMaxWorkerThreads] = {};
  for (int i = 1; i < count; ++i) {
    slots[i] = Slot{task, context, i};
    started[i] = pthread_create(&threads[i], nullptr, RunSlot, &slots[i]) == 0;
  }
  task(context, 0);
  for (int i = 1; i < count; ++i) {
    if (started[i]) {
      pthread_join(threads[i], nullptr);
    } else {
      task(context, i);
    }
  }
}
