// The job flow: one filtering job from the banner to the time report.
#pragma once

#include <string>

// Runs the whole dialogue and job on the console that SetupConsole opens.
// `givenInput`, when there is one, is the first answer to "Input file?",
// shown as if typed. Returns the exit status: 0 after the report and key
// wait, 1 when the job could not finish.
int RunJob(const std::string* givenInput = nullptr);

// For tests: the clock the job reads, for the pass's progress and the time it
// reports, in seconds from any origin, in place of the system's monotonic
// clock. One for the process; nullptr (the default) for the system's.
using JobClock = double (*)();
void UseJobClock(JobClock clock);
