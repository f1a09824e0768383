// The part of the thread interface that is the same on every system.
#include "system/threads.h"

#include <algorithm>

#include "system/task_thread.h"

namespace {

struct Ranges {
  void (*task)(void* context, int index, std::int64_t begin, std::int64_t end);
  void* context;
  std::int64_t perRun;
  std::int64_t total;
};

void RunRange(void* context, int index) {
  const Ranges& ranges = *static_cast<const Ranges*>(context);
  const std::int64_t begin = index * ranges.perRun;
  const std::int64_t end = std::min(begin + ranges.perRun, ranges.total);
  ranges.task(ranges.context, index, begin, end);
}

}  // namespace

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

int RunRangesInParallel(std::int64_t total, int threads, std::int64_t shortestRun,
                        void (*task)(void* context, int index, std::int64_t begin, std::int64_t end),
                        void* context) {
  if (total <= 0) return 0;
  if (threads <= 0) threads = WorkerThreadCount();
  threads = std::clamp(threads, 1, kMaxWorkerThreads);
  const std::int64_t perRun = std::max<std::int64_t>({1, shortestRun, (total + threads - 1) / threads});
  const int runs = static_cast<int>((total + perRun - 1) / perRun);
  Ranges ranges{task, context, perRun, total};
  RunTasksInParallel(runs, RunRange, &ranges);
  return runs;
}
