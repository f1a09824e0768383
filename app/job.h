// The job flow: one filtering job from the banner to the time report.
#pragma once

// Runs the whole dialogue and job on the console that SetupConsole opens.
// Returns the exit status: 0 after the report and key wait, 1 when the job
// could not finish.
int RunJob();
