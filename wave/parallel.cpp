#include "wave/parallel.h"

#include <unistd.h>

#include "system/precision.h"

namespace {

void* RunSlot(void* argument) {
  ThreadGroup::Slot* slot = static_cast<ThreadGroup::Slot*>(argument);
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

int StartThreads(ThreadGroup& group, int first, int count, void (*task)(void* context, int index),
                 void* context) {
  group.count = count < 0 ? 0 : count > kMaxWorkers ? kMaxWorkers : count;
  int started = 0;
  for (int i = 0; i < group.count; ++i) {
    ThreadGroup::Slot& slot = group.slots[i];
    slot.task = task;
    slot.context = context;
    slot.index = first + i;
    slot.started = pthread_create(&slot.thread, nullptr, RunSlot, &slot) == 0;
    started += slot.started ? 1 : 0;
  }
  return started;
}

void JoinThreads(ThreadGroup& group) {
  for (int i = 0; i < group.count; ++i) {
    if (group.slots[i].started) pthread_join(group.slots[i].thread, nullptr);
    group.slots[i].started = false;
  }
  group.count = 0;
}

void RunParallel(int count, void (*task)(void* context, int index), void* context) {
  if (count <= 0) return;
  if (count > kMaxWorkers) count = kMaxWorkers;
  ThreadGroup group;
  StartThreads(group, 1, count - 1, task, context);
  task(context, 0);
  for (int i = 0; i < group.count; ++i) {
    if (!group.slots[i].started) task(context, group.slots[i].index);
  }
  JoinThreads(group);
}
