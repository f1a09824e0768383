// A few independent tasks at once, one thread each, for the streaming pass.
// The tasks share the pass's ring of buffers under its lock (filter_pass.cpp);
// what they compute never depends on how many threads run them.
#pragma once

// The most threads RunTasksInParallel uses.
constexpr int kMaxWorkerThreads = 8;

// How many threads the long steps use: the processors the process may run
// on, at least 1 and at most kMaxWorkerThreads.
int WorkerThreadCount();

// Runs task(context, i) for i from 0 to count - 1 (count is limited to
// kMaxWorkerThreads): task 0 on the calling thread, the others on threads of
// their own (system/threads.h), each of which sets the extended precision
// mode (processor/precision.h) before its task. A thread that cannot be
// started has its task run on the calling thread instead, after task 0.
// Returns when every task is done.
void RunTasksInParallel(int count, void (*task)(void* context, int index), void* context);
