#include "wave/parallel.h"

#include <pthread.h>
#include <unistd.h>

#include "console/extended_precision.h"

namespace {

constexpr int kMaxWorkers = 8;

struct Slot {
  void (*task)(void*, int);
  void* context;
  int index;
};

void* RunSlot(void* argument) {
  Slot* slot = static_cast<Slot*>(argument);
  // A new thread's floating-point mode is not the arithmetic's on every
  // system (Windows starts threads at 53 bits).
  SetExtendedPrecisionMode();
  slot->task(slot->context, slot->index);
  return nullptr;
}

}  // namespace

int WorkerCount() {
  const long online = sysconf(_SC_NPROCESSORS_ONLN);
  if (online < 1) return 1;
  return online > kMaxWorkers ? kMaxWorkers : static_cast<int>(online);
}

void RunParallel(int count, void (*task)(void* context, int index), void* context) {
  if (count <= 0) return;
  if (count > kMaxWorkers) count = kMaxWorkers;
  Slot slots[kMaxWorkers];
  pthread_t threads[kMaxWorkers];
  bool started[kMaxWorkers] = {};
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
