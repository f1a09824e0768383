// A few independent tasks at once, one thread each, for the long steps of the
// job. Every task writes only its own part of the arrays, so what the tasks
// compute never depends on how many threads run them.
#pragma once

#include <cstdint>

// The most threads RunTasksInParallel uses.
constexpr int kMaxWorkerThreads = 8;

// How many threads the long steps use: the processors the process may run
// on, at least 1 and at most kMaxWorkerThreads.
int WorkerThreadCount();

// Runs task(context, i) for i from 0 to count - 1 (count is limited to
// kMaxWorkerThreads): task 0 on the calling thread, the others on threads of
// their own, each of which sets the extended precision mode (precision.h)
// before its task. A thread that cannot be started has its task run on the
// calling thread instead, after task 0. Returns when every task is done.
void RunTasksInParallel(int count, void (*task)(void* context, int index), void* context);

// Splits items 0 .. total - 1 into consecutive runs, one a thread for
// `threads` threads (0: WorkerThreadCount()), but none shorter than
// `shortestRun` items where the total allows (a short range is not worth a
// thread), and runs task(context, index, begin, end) for each run as
// RunTasksInParallel does. Returns the number of runs (at most
// kMaxWorkerThreads; 0 when total is not positive).
int RunRangesInParallel(std::int64_t total, int threads, std::int64_t shortestRun,
                        void (*task)(void* context, int index, std::int64_t begin, std::int64_t end),
                        void* context);
