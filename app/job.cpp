// The job flow: the banner and prompts, the restart after a rejected input
// file, the computing steps in their fixed order with a status line before and
// a "Done" line after each group, and the time report.
#include "app/job.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "console/console.h"
#include "console/refusal.h"
#include "filter/filter_dialogue.h"
#include "filter/filter_pass.h"
#include "system/clock.h"
#include "system/files.h"
#include "text/dropped_names.h"
#include "wave/wave_dialogue.h"
#include "wave/wave_format.h"

namespace {

// The clock a test put in place of the system's (UseJobClock), or none.
JobClock testClock = nullptr;

// The job clock in seconds at millisecond resolution. It is monotonic, so a
// job that runs past midnight (or across a clock change) still reports its
// true length.
double JobClockSeconds() {
  if (testClock != nullptr) return testClock();
  return static_cast<double>(MonotonicMilliseconds()) / 1000.0;
}

// ---- the screen -----------------------------------------------------------------

// `text` from the text column of the row the cursor stands at the start of,
// the blanks before it in the colours of the text, then a line end.
void PrintLine(int foreground, std::string_view text) {
  SetColor(foreground, kBrightWhite);
  PrintText(std::string(kTextColumn - 1, ' '));
  PrintText(text);
  EndLine();
}

// A status line in dark grey, shown before the step it announces starts.
void PrintStatus(std::string_view text) {
  PrintLine(kDarkGrey, text);
  RefreshScreen();
}

// The first status line is placed at the text column, with no blanks before it.
void PrintFirstStatus(std::string_view text) {
  Locate(CursorRow(), kTextColumn);
  SetColor(kDarkGrey, kBrightWhite);
  PrintText(text);
  EndLine();
  RefreshScreen();
}

void PrintDone() { PrintLine(kBlack, "Done"); }

void ShowInputScreen() {
  ClearScreen();
  SetColor(kBlack, kBrightWhite);
  HideCursor();
  EndLine();
  PrintLine(kBlack, "Ostrivale v1");
  PrintLine(kBlack, "High-resolution FIR filtering of 24-bit wave files, free software");
  PrintLine(kBlack, "https://ostrivale.org");
  EndLine();
  EndLine();
  EndLine();
}

constexpr std::string_view kInputPrompt = "Input file?";
constexpr std::string_view kOutputPrompt = "Output file? ";

// A prompt in dark grey, then the answer typed in black from the answer
// column; `given` (the name on the command line) stands there as if typed.
TypedLine AskFileName(std::string_view prompt, const std::string* given = nullptr) {
  const int promptRow = CursorRow();
  PrintLine(kDarkGrey, prompt);
  SetColor(kBlack, kBrightWhite);
  Locate(promptRow, kAnswerColumn);
  if (given == nullptr) return ReadLine();
  PrintText(*given);
  EndLine();
  return TypedLine{*given, false};
}

// What ends a step of the job other than the refusals of the wave and filter
// rooms, and the box of each.
enum class JobRefusal { kInputNotFound, kMemory, kInputUnreadable, kOutput };

constexpr VerdictBox<JobRefusal> kJobBoxes[] = {
    {JobRefusal::kInputNotFound,
     {"            File not found.\\n Please enter a valid filename", "              ERROR", true}},
    {JobRefusal::kMemory, {"Not enough memory for this recording", "                 ERROR"}},
    {JobRefusal::kInputUnreadable, {"The input file could not be read", "               ERROR"}},
    {JobRefusal::kOutput, {"The output file could not be written", "                 ERROR"}},
};

void ShowRefusal(JobRefusal refusal) { ShowRefusal(refusal, kJobBoxes); }

// ---- the job's values -------------------------------------------------------------

// Everything one job holds from the input prompt to the named output.
struct Job {
  // The file opened by the existence test: the one read, header to last
  // sample and metadata, whatever becomes of its name meanwhile.
  FileHandle input = kNoFile;
  WaveFormat format;
  FilterChoice choice;
  std::string outputFileName;
  PassBuffers buffers;
  OutputFile output;
};

// The input name as typed; when that does not open, the name without what
// a terminal adds to a dropped file's name. A file whose name really ends in
// a blank or is quoted opens as typed.
FileHandle OpenInputFile(const std::string& typed) {
  const FileHandle file = OpenFileForReading(typed);
  if (file != kNoFile) return file;
  const std::string dropped = WithoutDropMarks(typed, kTerminalQuotes);
  return dropped == typed ? kNoFile : OpenFileForReading(dropped);
}

// What became of one round of the input screen.
enum class InputRound {
  kAccepted,    // the named file is open and its header accepted
  kRefused,     // its box was shown: the screen starts over
  kInputEnded,  // no name came
};

InputRound TakeInputFile(Job& job, const std::string* givenName) {
  ShowInputScreen();
  const TypedLine name = AskFileName(kInputPrompt, givenName);
  if (name.inputEnded) return InputRound::kInputEnded;
  job.input = OpenInputFile(name.text);
  if (job.input == kNoFile) {
    ShowRefusal(JobRefusal::kInputNotFound);
    return InputRound::kRefused;
  }
  job.format = WaveFormat{};
  const HeaderVerdict verdict = ReadWaveHeader(job.input, job.format);
  if (verdict == HeaderVerdict::kAccepted) return InputRound::kAccepted;
  ShowHeaderRefusal(verdict);
  CloseFile(job.input);
  return InputRound::kRefused;
}

// The dialogue before the job: the input file (the restart point: every
// rejected input file comes back here), FILE DATA, the filter, the output
// name. False when the run ends there: the input ended at a prompt (which is
// reported), or a plain run's command-line name was refused, since a
// script's answers belong to the prompts after the input and would be taken
// for input names.
bool AskForTheJob(Job& job, const std::string* givenInput) {
  for (const std::string* given = givenInput;; given = nullptr) {
    const InputRound round = TakeInputFile(job, given);
    if (round == InputRound::kAccepted) break;
    if (round == InputRound::kInputEnded) {
      ReportInputEnded(kInputPrompt);
      return false;
    }
    if (given != nullptr && AnswersComeFromScript()) return false;
  }
  ShowFileData(job.format);
  if (!ChooseFilter(job.format, job.choice)) {
    ReportInputEnded(kFilterQuestion);
    return false;
  }
  EndLine();
  const TypedLine output = AskFileName(kOutputPrompt);
  if (output.inputEnded) {
    ReportInputEnded(kOutputPrompt);
    return false;
  }
  job.outputFileName = output.text;
  return true;
}

// ---- the pass ----------------------------------------------------------------------

// The pass's percentage on its status line, after "Convolving...", once
// the pass has run for half a second, a few times a second: a transient line
// of the console, so the final screen is the same whether it was shown or not.
constexpr int kProgressColumn = 17;
constexpr double kProgressDelaySeconds = 0.5;
constexpr double kProgressIntervalSeconds = 0.25;

struct ProgressShown {
  int row = 0;
  double started = 0.0;
  double lastShown = -1.0;
};

void ShowProgress(void* context, std::int64_t framesWritten, std::int64_t framesTotal) {
  ProgressShown& progress = *static_cast<ProgressShown*>(context);
  const double now = JobClockSeconds();
  if (now - progress.started < kProgressDelaySeconds || framesTotal <= 0) return;
  if (progress.lastShown >= 0.0 && now - progress.lastShown < kProgressIntervalSeconds) return;
  progress.lastShown = now;
  char text[8];
  std::snprintf(text, sizeof text, " %lld%%",
                static_cast<long long>(framesWritten * 100 / framesTotal));
  ShowTransientText(progress.row, kProgressColumn, text, kDarkGrey, kBrightWhite);
}

// The whole output file but its name, with the pass's percentage shown as
// it goes. The input is closed after it.
OutputVerdict WriteOutputFile(Job& job) {
  ProgressShown progress{CursorRow() - 1, JobClockSeconds()};
  const OutputVerdict verdict =
      WriteFilteredFile(job.format, job.choice, job.input, job.output, job.buffers,
                        PassProgress{ShowProgress, &progress});
  CloseFile(job.input);
  ClearTransientText();
  return verdict;
}

// The box of what failed, with no new file left behind.
int AbandonOutput(Job& job, JobRefusal refusal) {
  AbandonOutputFile(job.output);
  ShowRefusal(refusal);
  return 1;
}

void ReportTime(double jobStartTime) {
  EndLine();
  EndLine();
  EndLine();
  EndLine();
  PrintText(std::string(kTextColumn - 1, ' ') + "Job completed in");
  PrintNumber(RoundToPlaces(JobClockSeconds() - jobStartTime, 2), 15);
  PrintText("seconds");
  EndLine();
  PrintLine(kDarkGrey, "press any key to quit");
}

}  // namespace

void UseJobClock(JobClock clock) { testClock = clock; }

int RunJob(const std::string* givenInput) {
  SetupConsole();
  Job job;
  if (!AskForTheJob(job, givenInput)) return 1;
  const double jobStartTime = JobClockSeconds();

  // Everything the pass needs, taken before anything is shown: a recording of
  // any length needs only a few blocks.
  if (!AllocatePassBuffers(job.format, job.choice.coefficientCount, PassSettings{}, job.buffers)) {
    ShowRefusal(JobRefusal::kMemory);
    return 1;
  }
  EndLine();
  EndLine();
  PrintFirstStatus("Loading impulse and input arrays...");
  const ImpulseVerdict impulse =
      LoadImpulseResponse(job.choice, job.buffers.impulseResponse.data());
  if (impulse != ImpulseVerdict::kRead) {
    ReportImpulseRefusal(impulse);
    return 1;
  }
  // The new file exists before any block is computed: no pass is run whose
  // output has nowhere to go.
  if (!CreateOutputFile(job.outputFileName, job.output)) {
    ShowRefusal(JobRefusal::kOutput);
    return 1;
  }
  PrintDone();
  EndLine();
  PrintStatus("Convolving...");
  switch (WriteOutputFile(job)) {
    case OutputVerdict::kWritten:
      break;
    case OutputVerdict::kInputUnreadable:
      return AbandonOutput(job, JobRefusal::kInputUnreadable);
    case OutputVerdict::kOutputUnwritable:
      return AbandonOutput(job, JobRefusal::kOutput);
  }
  PrintDone();
  EndLine();
  PrintStatus("Writing output file...");
  if (!MakeOutputDurable(job.output) || !NameOutputFile(job.output))
    return AbandonOutput(job, JobRefusal::kOutput);
  PrintDone();
  Beep();
  ReportTime(jobStartTime);
  WaitKey();
  return 0;
}
