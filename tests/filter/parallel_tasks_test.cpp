// Worker threads: every task runs once, and each worker thread computes in
// the extended precision mode whatever mode the system starts it in.
#include <gtest/gtest.h>

#include <atomic>

#include "filter/parallel_tasks.h"
#include "processor/precision.h"

namespace {

// A control word a foreign library might leave: 53-bit significand (the
// common Windows default), round towards zero, division by zero unmasked.
constexpr std::uint16_t kForeignMode = 0x0E7B;

struct Record {
  std::atomic<int> runs[kMaxWorkerThreads + 4] = {};
  bool extended[kMaxWorkerThreads + 4] = {};
  bool sumKeepsTinyPart[kMaxWorkerThreads + 4] = {};
};

void Note(void* context, int index) {
  Record& record = *static_cast<Record*>(context);
  record.runs[index]++;
  record.extended[index] = ExtendedPrecisionModeHolds();
  volatile long double tiny = 0x1p-63L;
  volatile long double sum = 1.0L + tiny;  // 1 + 2^-63 survives only with a 64-bit significand
  record.sumKeepsTinyPart[index] = sum != 1.0L;
}

TEST(ExtendedPrecision, SetFromAForeignMode) {
  const std::uint16_t before = X87ControlWord();
  SetX87ControlWord(kForeignMode);
  ASSERT_FALSE(ExtendedPrecisionModeHolds());
  SetExtendedPrecisionMode();
  EXPECT_TRUE(ExtendedPrecisionModeHolds());
  EXPECT_EQ(X87ControlWord() & 0x0F3F, 0x033F) << "64-bit significand, to nearest, all masked";
  volatile long double tiny = 0x1p-63L;
  volatile long double sum = 1.0L + tiny;
  EXPECT_NE(sum, 1.0L);
  SetX87ControlWord(before);
}

TEST(WorkerThreads, EveryTaskRunsOnceUpToTheLimit) {
  for (int count : {0, 1, 3, kMaxWorkerThreads, kMaxWorkerThreads + 3}) {
    Record record;
    RunTasksInParallel(count, Note, &record);
    const int expected = count < kMaxWorkerThreads ? count : kMaxWorkerThreads;
    for (int i = 0; i < kMaxWorkerThreads + 4; ++i) {
      EXPECT_EQ(record.runs[i].load(), i < expected ? 1 : 0) << "count " << count << ", task " << i;
    }
  }
  EXPECT_GE(WorkerThreadCount(), 1);
  EXPECT_LE(WorkerThreadCount(), kMaxWorkerThreads);
}

// Linux threads inherit their creator's mode and Windows threads get the
// system's default: started from a thread in a foreign mode, each worker must
// still compute at extended precision.
TEST(WorkerThreads, EachWorkerComputesAtExtendedPrecision) {
  const std::uint16_t before = X87ControlWord();
  SetX87ControlWord(kForeignMode);
  Record record;
  RunTasksInParallel(kMaxWorkerThreads, Note, &record);
  SetX87ControlWord(before);
  for (int i = 1; i < kMaxWorkerThreads; ++i) {
    EXPECT_TRUE(record.extended[i]) << "worker " << i;
    EXPECT_TRUE(record.sumKeepsTinyPart[i]) << "worker " << i;
  }
  EXPECT_FALSE(record.extended[0]) << "task 0 runs on the calling thread, in its mode";
}

}  // namespace
