// Runs a few independent tasks at once, one thread each, for the long steps
// of the job. Every task writes only its own part of the arrays, so what the
// tasks compute never depends on how many threads there are.
#pragma once

// How many threads the long steps use: the processors online, at most 8.
int WorkerCount();

// Runs task(context, i) for i from 0 to count - 1, task 0 on the calling
// thread and the others on threads of their own. A thread that cannot be
// started has its task run on the calling thread instead. Returns when all
// are done.
void RunParallel(int count, void (*task)(void* context, int index), void* context);
