// Runs a few independent tasks at once, one thread each, for the long steps
// of the job. Every task writes only its own part of the arrays, so what the
// tasks compute never depends on how many threads there are.
#pragma once

#include <pthread.h>

// How many threads the long steps use: the processors online, at most 8.
int WorkerCount();

constexpr int kMaxWorkers = 8;

// Threads started together and joined together. Each runs task(context, i)
// with its own index, after setting the floating-point mode the arithmetic
// needs.
struct ThreadGroup {
  struct Slot {
    void (*task)(void* context, int index) = nullptr;
    void* context = nullptr;
    int index = 0;
    pthread_t thread{};
    bool started = false;
  };
  Slot slots[kMaxWorkers];
  int count = 0;
};

// Starts task(context, i) for i from `first` to `first + count - 1` (at most
// kMaxWorkers) on threads of their own. Returns how many could be started;
// the others are marked as not started and do not run.
int StartThreads(ThreadGroup& group, int first, int count, void (*task)(void* context, int index),
                 void* context);

// Waits for every thread of the group that was started.
void JoinThreads(ThreadGroup& group);

// Runs task(context, i) for i from 0 to count - 1, task 0 on the calling
// thread and the others on threads of their own. A thread that cannot be
// started has its task run on the calling thread instead. Returns when all
// are done.
void RunParallel(int count, void (*task)(void* context, int index), void* context);
